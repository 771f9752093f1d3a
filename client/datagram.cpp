#include "client/datagram.h"

#include <cstring>

#include "client/wire_bytes.h"

namespace {

bool IsUpperHex(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool DatagramIdentityComplete(const DatagramIdentity& who) {
  return who.identity1 != 0 && who.identity3 != 0 && who.identity4 != 0;
}

uint8_t* PutDatagramHeader(uint8_t* p, DatagramKind kind, const DatagramIdentity& who, uint32_t payload_length) {
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

const char* ReadDatagramHeader(const uint8_t* in, size_t size, DatagramHeaderView* out) {
  std::memset(out, 0, sizeof *out);
  WireReader reader(in, size);
  const uint32_t protocol = reader.U32();
  out->kind = reader.U32();
  const uint8_t* machine_id = reader.Bytes(kMachineIdLength);
  const uint8_t terminator = reader.U8();
  out->identity4 = reader.U16();
  out->identity3 = reader.U16();
  out->identity1 = reader.U16();
  out->payload_length = reader.U32();
  if (!reader.ok()) return "short header";
  if (protocol != kProtocolVersion) return "protocol";
  for (int i = 0; i < kMachineIdLength; ++i) {
    if (!IsUpperHex(machine_id[i])) return "machine id";
    out->machine_id[i] = char(machine_id[i]);
  }
  if (terminator != 0) return "machine id";
  if (out->payload_length != reader.left()) return "length mismatch";
  out->payload = in + kHeaderSize;
  return nullptr;
}

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
  uint8_t* p = PutDatagramHeader(out, KIND_NUMBERS, who, uint32_t(payload));
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
  uint8_t* p = PutDatagramHeader(out, kind, who, uint32_t(payload));
  p = PutU32(p, WireKey(who.identity3, key));
  p = PutU32(p, length);
  if (length > 0) std::memcpy(p, data, length);
  return total;
}
