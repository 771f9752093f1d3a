#include "client/datagram.h"

#include <cstring>

namespace {

uint8_t* PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
  return p + 4;
}

uint8_t* PutU16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
  return p + 2;
}

uint8_t* PutHeader(uint8_t* p, DatagramKind kind, const DatagramIdentity& who, uint32_t payload_length) {
  p = PutU32(p, kProtocolVersion);
  p = PutU32(p, kind);
  std::memcpy(p, who.machine_id, kMachineIdLength);
  p += kMachineIdLength;
  *p++ = 0;  // the machine identifier's terminator travels too
  // The identities go out in the order 4, 3, 1, low 16 bits each.
  p = PutU16(p, uint32_t(who.identity4));
  p = PutU16(p, uint32_t(who.identity3));
  p = PutU16(p, uint32_t(who.identity1));
  return PutU32(p, payload_length);
}

}  // namespace

uint32_t WireKey(int32_t identity3, int32_t key) {
  if (identity3 <= 0 || key <= 0) return uint32_t(key);
  return (uint32_t(identity3) << 16) | (uint32_t(key) & 0xFFFFu);
}

size_t BuildNumbersDatagram(uint8_t* out, size_t capacity, const DatagramIdentity& who,
                            const NumberRecord* records, int count) {
  if (count < 0) return 0;
  const size_t payload = size_t(count) * kNumberRecordSize;
  const size_t total = kHeaderSize + payload;
  std::memset(out, 0, capacity);
  if (total > capacity) return 0;
  uint8_t* p = PutHeader(out, KIND_NUMBERS, who, uint32_t(payload));
  for (int i = 0; i < count; ++i) {
    p = PutU32(p, WireKey(who.identity3, records[i].key));
    p = PutU32(p, records[i].value);
  }
  return total;
}

size_t BuildDataDatagram(uint8_t* out, size_t capacity, DatagramKind kind, const DatagramIdentity& who,
                         int32_t key, const void* data, uint32_t length) {
  const size_t payload = size_t(kDataRecordHeaderSize) + length;
  const size_t total = kHeaderSize + payload;
  std::memset(out, 0, capacity);
  if (total > capacity) return 0;
  uint8_t* p = PutHeader(out, kind, who, uint32_t(payload));
  p = PutU32(p, WireKey(who.identity3, key));
  p = PutU32(p, length);
  if (length > 0) std::memcpy(p, data, length);
  return total;
}
