#include "client/package_part_datagram.h"

#include <cstring>

#include "client/wire_bytes.h"

namespace {

uint32_t ExpectedDataLength(const FecLayout& layout, uint32_t symbol_id) {
  if (symbol_id & kRepairSymbolFlag) return layout.params.symbol_size;
  return SourceLength(layout, symbol_id);
}

// The checks shared by the builder and the decoder, so that nothing is sent that the receiver
// would refuse.
const char* CheckPart(const PackagePart& part) {
  FecLayout layout;
  if (part.params.symbol_size > kMaxPartSymbolSize || !MakeFecLayout(part.params, part.package_length, &layout)) {
    return "part parameters";
  }
  if (!SymbolIdValid(layout, part.symbol_id)) return "symbol id";
  if (part.data_length != ExpectedDataLength(layout, part.symbol_id)) return "symbol length";
  return nullptr;
}

}  // namespace

size_t BuildPackagePartDatagram(uint8_t* out, size_t capacity, const DatagramIdentity& who, const PackagePart& part) {
  std::memset(out, 0, capacity);
  const size_t total = size_t(kHeaderSize) + kPartHeaderSize + part.data_length;
  if (!DatagramIdentityComplete(who) || total > capacity || CheckPart(part)) return 0;
  uint8_t* p = PutDatagramHeader(out, KIND_PACKAGE_PART, who, uint32_t(kPartHeaderSize + part.data_length));
  p = PutU8(p, kPartFormat);
  p = PutU8(p, part.params.block_symbols);
  p = PutU8(p, part.params.repair_percent);
  p = PutU8(p, part.params.stripe_blocks);
  p = PutU16(p, part.params.symbol_size);
  p = PutU32(p, part.crash_id);
  p = PutU32(p, part.package_length);
  p = PutU32(p, part.package_crc);
  p = PutU32(p, part.symbol_id);
  PutBytes(p, part.data, part.data_length);
  return total;
}

const char* DecodePackagePartDatagram(const uint8_t* in, size_t size, DatagramHeaderView* header, PackagePart* part) {
  std::memset(part, 0, sizeof *part);
  if (const char* reason = ReadDatagramHeader(in, size, header)) return reason;
  if (header->kind != KIND_PACKAGE_PART) return "kind";
  WireReader reader(header->payload, header->payload_length);
  const uint8_t format = reader.U8();
  part->params.block_symbols = reader.U8();
  part->params.repair_percent = reader.U8();
  part->params.stripe_blocks = reader.U8();
  part->params.symbol_size = reader.U16();
  part->crash_id = reader.U32();
  part->package_length = reader.U32();
  part->package_crc = reader.U32();
  part->symbol_id = reader.U32();
  if (!reader.ok()) return "short part";
  if (format != kPartFormat) return "part format";
  part->data_length = uint32_t(reader.left());
  part->data = reader.Bytes(reader.left());
  return CheckPart(*part);
}
