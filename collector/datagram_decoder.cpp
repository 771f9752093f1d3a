#include "datagram_decoder.h"

namespace collector {
namespace {

// Header offsets; all integers are big-endian.
constexpr size_t kKindOffset = 4;
constexpr size_t kMachineIdOffset = 8;
constexpr size_t kTerminatorOffset = 24;
constexpr size_t kIdentity4Offset = 25;  // the identities travel in the order 4, 3, 1
constexpr size_t kIdentity3Offset = 27;
constexpr size_t kIdentity1Offset = 29;
constexpr size_t kPayloadLengthOffset = 31;

bool IsUpperHex(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

const char* DecodeNumbers(Bytes payload, Datagram* out) {
  if (payload.size == 0 || payload.size % kNumberRecordSize != 0 ||
      payload.size / kNumberRecordSize > kMaxNumberRecords) {
    return "record count";
  }
  for (size_t at = 0; at < payload.size; at += kNumberRecordSize) {
    NumberRecord record;
    ReadBe32(payload, at, &record.wire_key);
    ReadBe32(payload, at + 4, &record.value);
    out->numbers.push_back(record);
  }
  return nullptr;
}

const char* DecodeData(Bytes payload, size_t max_length, Datagram* out) {
  uint32_t length = 0;
  if (!ReadBe32(payload, 0, &out->data_key) || !ReadBe32(payload, 4, &length)) return "short record";
  if (length != payload.size - kDataRecordHeader) return "length mismatch";
  // The client refuses empty texts and blobs and cuts long ones, so neither can come from it.
  if (length == 0) return "empty data";
  if (length > max_length) return "data too long";
  Slice(payload, kDataRecordHeader, length, &out->data);
  return nullptr;
}

}  // namespace

DecodeResult DecodeDatagram(Bytes in) {
  DecodeResult result;
  Datagram& d = result.datagram;
  uint32_t protocol = 0;
  if (in.size < kHeaderSize) {
    result.reason = "short header";
    return result;
  }
  ReadBe32(in, 0, &protocol);
  ReadBe32(in, kKindOffset, &d.kind);
  ReadBe16(in, kIdentity4Offset, &d.identity4);
  ReadBe16(in, kIdentity3Offset, &d.identity3);
  ReadBe16(in, kIdentity1Offset, &d.identity1);
  ReadBe32(in, kPayloadLengthOffset, &d.payload_length);
  if (protocol != kProtocol) {
    result.reason = "protocol";
    return result;
  }
  if (d.kind != KIND_NUMBERS && d.kind != KIND_TEXT && d.kind != KIND_BLOB) {
    result.reason = "kind";
    return result;
  }
  for (size_t i = 0; i < kMachineIdLength; ++i) {
    uint8_t c = in.data[kMachineIdOffset + i];
    if (!IsUpperHex(c)) {
      result.reason = "machine id";
      return result;
    }
    d.machine_id[i] = static_cast<char>(c);
  }
  if (in.data[kTerminatorOffset] != 0) {
    result.reason = "machine id";
    return result;
  }
  if (d.payload_length != in.size - kHeaderSize) {
    result.reason = "length mismatch";
    return result;
  }
  Bytes payload;
  Slice(in, kHeaderSize, d.payload_length, &payload);
  if (d.kind == KIND_NUMBERS) {
    result.reason = DecodeNumbers(payload, &d);
  } else {
    result.reason = DecodeData(payload, d.kind == KIND_TEXT ? kMaxTextLength : kMaxBlobLength, &d);
  }
  return result;
}

}  // namespace collector
