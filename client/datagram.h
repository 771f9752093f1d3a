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
  // The crash report's own kinds, each sent only when its HVInfo.conf setting turns it on. They
  // carry no report key: keys belong to the host.
  KIND_CRASH_SUMMARY = 8,
  KIND_PACKAGE_PART = 16,
};

// The longest datagram of the crash kinds, header included. With the 28 bytes of IPv4 and UDP
// headers it fits IPv6's 1280-byte minimum MTU and a tunnel inside a 1500-byte Ethernet path, so
// no router fragments it: many networks drop fragments, and one lost fragment loses the datagram.
constexpr int kMaxCrashDatagramSize = 1200;

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

// A header as read from the wire, and where its payload lies in the decoded buffer.
struct DatagramHeaderView {
  uint32_t kind;
  char machine_id[kMachineIdLength + 1];
  uint16_t identity4;
  uint16_t identity3;
  uint16_t identity1;
  const uint8_t* payload;
  uint32_t payload_length;
};

struct NumberRecord {
  int32_t key;  // the caller's key; scoped by WireKey when encoded
  uint32_t value;
};

// The server files every key under the reporting product (Identity3): its low 16 bits go into the
// high half of the key whenever both numbers are positive.
uint32_t WireKey(int32_t identity3, int32_t key);

// True when the host has set all three identities: only then may any datagram go out.
bool DatagramIdentityComplete(const DatagramIdentity& who);

// Writes the 35-byte header at out; returns where the payload starts.
uint8_t* PutDatagramHeader(uint8_t* out, DatagramKind kind, const DatagramIdentity& who, uint32_t payload_length);

// Reads and checks the header of untrusted bytes: protocol 1, sixteen upper-case hexadecimal
// characters and their zero byte, a payload length equal to what follows. The kind is not checked.
// Null when sound, else the reason ("short header", "protocol", "machine id", "length mismatch").
const char* ReadDatagramHeader(const uint8_t* in, size_t size, DatagramHeaderView* out);

// Each builder zeroes out[0, capacity), writes the datagram and returns its length, or 0 when it
// does not fit in capacity.
size_t BuildNumbersDatagram(uint8_t* out, size_t capacity, const DatagramIdentity& who,
                            const NumberRecord* records, int count);
size_t BuildDataDatagram(uint8_t* out, size_t capacity, DatagramKind kind, const DatagramIdentity& who,
                         int32_t key, const void* data, uint32_t length);
