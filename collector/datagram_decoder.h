// Decoding of the client's UDP datagrams: bytes in, a decoded datagram or the reason it was refused
// out. Pure: no I/O, no state, and it trusts nothing in the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.h"

namespace collector {

constexpr size_t kHeaderSize = 35;  // Protocol, Kind, MachineId + zero, three identities, PayloadLength
constexpr uint32_t kProtocol = 1;
constexpr uint32_t KIND_NUMBERS = 1;
constexpr uint32_t KIND_TEXT = 2;
constexpr uint32_t KIND_BLOB = 4;
constexpr size_t kMachineIdLength = 16;
constexpr size_t kNumberRecordSize = 8;  // WireKey, Value
constexpr size_t kMaxNumberRecords = 50;  // the size of the client's gathering table
constexpr size_t kDataRecordHeader = 8;  // WireKey, Length
constexpr size_t kMaxTextLength = 512;  // the client cuts longer texts
constexpr size_t kMaxBlobLength = 64512;  // the client cuts longer blobs
constexpr uint16_t KEY_DUMP_PACKAGE = 17;
constexpr uint16_t KEY_HARDWARE_PROFILE = 18;

struct NumberRecord {
  uint32_t wire_key;
  uint32_t value;
};

// The records of a KIND_NUMBERS datagram, held in place: decoding allocates nothing.
class NumberRecords {
 public:
  void push_back(const NumberRecord& record) { items_[count_++] = record; }
  size_t size() const { return count_; }
  const NumberRecord& operator[](size_t i) const { return items_[i]; }
  const NumberRecord* begin() const { return items_; }
  const NumberRecord* end() const { return items_ + count_; }

 private:
  NumberRecord items_[kMaxNumberRecords];
  size_t count_ = 0;
};

struct Datagram {
  uint32_t kind = 0;
  char machine_id[kMachineIdLength + 1] = {};
  uint16_t identity4 = 0;
  uint16_t identity3 = 0;
  uint16_t identity1 = 0;
  uint32_t payload_length = 0;
  NumberRecords numbers;  // KIND_NUMBERS
  uint32_t data_key = 0;  // KIND_TEXT and KIND_BLOB: the one record's wire key
  Bytes data;  // and its bytes, pointing into the decoded buffer
};

struct DecodeResult {
  const char* reason = nullptr;  // null when the datagram is valid
  Datagram datagram;
};

// The wire key carries the scope (low 16 bits of Identity3) in its high half and the key in its
// low half, whenever both were positive at send time.
inline uint16_t WireScope(uint32_t wire_key) { return static_cast<uint16_t>(wire_key >> 16); }
inline uint16_t WireKeyLow(uint32_t wire_key) { return static_cast<uint16_t>(wire_key & 0xFFFF); }

DecodeResult DecodeDatagram(Bytes datagram);

}  // namespace collector
