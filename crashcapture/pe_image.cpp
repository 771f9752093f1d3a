#include "crashcapture/pe_image.h"

#include <cstring>

namespace {

// Offsets of the PE format (Microsoft's "PE Format" document).
constexpr uint16_t kDosMagic = 0x5A4D;           // "MZ"
constexpr uint32_t kDosNewHeaderOffset = 0x3C;   // e_lfanew
constexpr uint32_t kPeSignature = 0x00004550;    // "PE\0\0"
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionCountOffset = 2;      // in the file header
constexpr uint32_t kTimeStampOffset = 4;
constexpr uint32_t kOptionalSizeOffset = 16;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kSizeOfImageOffset = 56;      // in the optional header, both kinds
constexpr uint32_t kDirectoryCountOffset32 = 92;
constexpr uint32_t kDirectoryCountOffset64 = 108;
constexpr uint32_t kDebugDirectoryIndex = 6;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionVirtualSizeOffset = 8;
constexpr uint32_t kSectionCharacteristicsOffset = 36;
constexpr uint32_t kSectionExecutable = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
constexpr uint32_t kSectionCode = 0x00000020;        // IMAGE_SCN_CNT_CODE
// Real images have a few dozen sections at most; a torn header must not make us read thousands.
constexpr uint16_t kMaxSections = 96;
constexpr uint32_t kDebugEntrySize = 28;
constexpr uint32_t kDebugEntryTypeOffset = 12;
constexpr uint32_t kDebugEntryAddressOffset = 20;  // AddressOfRawData: where the loader mapped it
constexpr uint32_t kDebugTypeCodeView = 2;
constexpr uint32_t kMaxDebugEntries = 16;
constexpr uint32_t kCodeViewRsds = 0x53445352;  // "RSDS"
constexpr uint32_t kCodeViewNb10 = 0x3031424E;  // "NB10"

struct Headers {
  uint64_t nt;
  uint64_t optional;
  uint16_t sections;
  uint16_t optional_size;
};

bool ReadHeaders(MemoryReader& memory, uint64_t base, Headers* h, PeImageFacts* out) {
  uint16_t dos_magic;
  uint32_t new_header, signature;
  if (!memory.ReadU16(base, &dos_magic) || dos_magic != kDosMagic) return false;
  if (!memory.ReadU32(base + kDosNewHeaderOffset, &new_header)) return false;
  h->nt = base + new_header;
  if (!memory.ReadU32(h->nt, &signature) || signature != kPeSignature) return false;
  const uint64_t file_header = h->nt + 4;
  h->optional = file_header + kFileHeaderSize;
  return memory.ReadU16(file_header + kSectionCountOffset, &h->sections) &&
         memory.ReadU32(file_header + kTimeStampOffset, &out->time_stamp) &&
         memory.ReadU16(file_header + kOptionalSizeOffset, &h->optional_size) &&
         memory.ReadU32(h->optional + kSizeOfImageOffset, &out->size_of_image);
}

void ReadCodeRanges(MemoryReader& memory, const Headers& h, PeImageFacts* out) {
  const uint64_t first = h.optional + h.optional_size;
  const uint16_t count = h.sections < kMaxSections ? h.sections : kMaxSections;
  for (uint16_t i = 0; i < count && out->code_range_count < kMaxCodeRanges; ++i) {
    const uint64_t section = first + uint64_t(i) * kSectionHeaderSize;
    uint32_t virtual_size, rva, characteristics;
    if (!memory.ReadU32(section + kSectionVirtualSizeOffset, &virtual_size) ||
        !memory.ReadU32(section + kSectionVirtualSizeOffset + 4, &rva) ||
        !memory.ReadU32(section + kSectionCharacteristicsOffset, &characteristics)) {
      return;
    }
    if (!(characteristics & (kSectionExecutable | kSectionCode)) || virtual_size == 0) continue;
    out->code[out->code_range_count++] = {rva, rva + virtual_size};
  }
}

// The GUID as it is written in a symbol store's path: Data1, Data2 and Data3 (stored little-endian
// in the record) most significant byte first, then Data4's eight bytes as they are.
void GuidBytesAsWritten(const uint8_t* record_guid, uint8_t* out) {
  const int order[] = {3, 2, 1, 0, 5, 4, 7, 6};
  for (int i = 0; i < 8; ++i) out[i] = record_guid[order[i]];
  std::memcpy(out + 8, record_guid + 8, 8);
}

// The record's file name, cut at what a summary carries: its folder is of no use to a symbol store.
void ReadDebugFile(MemoryReader& memory, uint64_t address, PeImageFacts* out) {
  char path[260];
  size_t length = 0;
  // Byte by byte up to the zero: the record may end right at the end of its page.
  while (length < sizeof path - 1 && memory.Read(address + length, &path[length], 1) && path[length] != 0) ++length;
  CopyFileName(path, length, out->debug_file);
}

bool ReadCodeView(MemoryReader& memory, uint64_t record, PeImageFacts* out) {
  uint32_t magic;
  if (!memory.ReadU32(record, &magic)) return false;
  if (magic == kCodeViewRsds) {
    uint8_t guid[16];
    if (!memory.Read(record + 4, guid, sizeof guid) || !memory.ReadU32(record + 20, &out->age)) return false;
    GuidBytesAsWritten(guid, out->signature);
    out->debug_id_kind = kDebugIdPdb70;
    ReadDebugFile(memory, record + 24, out);
    return true;
  }
  if (magic == kCodeViewNb10) {
    uint32_t signature;
    if (!memory.ReadU32(record + 8, &signature) || !memory.ReadU32(record + 12, &out->age)) return false;
    for (int i = 0; i < 4; ++i) out->signature[i] = uint8_t(signature >> (24 - 8 * i));
    out->debug_id_kind = kDebugIdPdb20;
    ReadDebugFile(memory, record + 16, out);
    return true;
  }
  return false;
}

void ReadDebugId(MemoryReader& memory, uint64_t base, const Headers& h, PeImageFacts* out) {
  uint16_t magic;
  if (!memory.ReadU16(h.optional, &magic)) return;
  uint32_t count_offset;
  if (magic == kPe32Magic) {
    count_offset = kDirectoryCountOffset32;
  } else if (magic == kPe32PlusMagic) {
    count_offset = kDirectoryCountOffset64;
  } else {
    return;
  }
  uint32_t directories, rva, size;
  if (!memory.ReadU32(h.optional + count_offset, &directories) || directories <= kDebugDirectoryIndex) return;
  const uint64_t entry = h.optional + count_offset + 4 + kDebugDirectoryIndex * 8;
  if (!memory.ReadU32(entry, &rva) || !memory.ReadU32(entry + 4, &size) || rva == 0) return;
  const uint32_t entries = size / kDebugEntrySize < kMaxDebugEntries ? size / kDebugEntrySize : kMaxDebugEntries;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t debug = base + rva + uint64_t(i) * kDebugEntrySize;
    uint32_t type, data_rva;
    if (!memory.ReadU32(debug + kDebugEntryTypeOffset, &type) ||
        !memory.ReadU32(debug + kDebugEntryAddressOffset, &data_rva)) {
      return;
    }
    // A record the loader did not map (AddressOfRawData 0) is only in the file: nothing to read.
    if (type == kDebugTypeCodeView && data_rva != 0 && ReadCodeView(memory, base + data_rva, out)) return;
  }
}

}  // namespace

void CopyFileName(const char* name, size_t length, char* out) {
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (name[i] == '\\' || name[i] == '/') start = i + 1;
  }
  size_t n = length - start;
  if (n > size_t(kMaxSummaryNameLength)) n = kMaxSummaryNameLength;
  std::memcpy(out, name + start, n);
  out[n] = 0;
}

bool ReadPeImage(MemoryReader& memory, uint64_t base, PeImageFacts* out) {
  std::memset(out, 0, sizeof *out);
  Headers headers;
  if (!ReadHeaders(memory, base, &headers, out)) return false;
  ReadCodeRanges(memory, headers, out);
  ReadDebugId(memory, base, headers, out);
  return true;
}
