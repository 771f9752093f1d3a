// The bytes of every datagram the client sends. All multi-byte fields are big-endian and packed:
// the header is 35 bytes, so payload fields are unaligned.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kHeaderSize = 35;
constexpr int kMachineIdLength = 16;
constexpr uint32_t kProtocolVersion = 1;

enum DatagramKind : uint32_t {
  KIND_NUMBERS = 1,
  KIND_TEXT = 2,
  KIND_BLOB = 4,
};

constexpr int kNumberRecordSize = 8;
constexpr int kDataRecordHeaderSize = 8;
constexpr int kMaxTextLength = 512;
constexpr int kMaxBlobLength = 64512;
constexpr int kMaxNumberRecords = 50;

// Who is reporting: heads every datagram.
struct DatagramIdentity {
  const char* machine_id;  // 16 characters; only these are copied
  int32_t identity1;
  int32_t identity3;
  int32_t identity4;
};

struct NumberRecord {
  int32_t key;  // the caller's key; scoped by WireKey when encoded
  uint32_t value;
};

// The server files every key under the reporting product (Identity3): its low 16 bits go into the
// high half of the key whenever both numbers are positive.
uint32_t WireKey(int32_t identity3, int32_t key);

// Each builder zeroes out[0, capacity), writes the datagram and returns its length, or 0 when it
// does not fit in capacity.
size_t BuildNumbersDatagram(uint8_t* out, size_t capacity, const DatagramIdentity& who,
                            const NumberRecord* records, int count);
size_t BuildDataDatagram(uint8_t* out, size_t capacity, DatagramKind kind, const DatagramIdentity& who,
                         int32_t key, const void* data, uint32_t length);
