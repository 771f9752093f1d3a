#include "pe_image.h"

#include <cstring>

namespace collector {
namespace {

constexpr uint32_t kDosLfanewOffset = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kRuntimeFunctionSize = 12;
constexpr uint32_t kDebugEntrySize = 28;
constexpr uint32_t kDebugTypeCodeView = 2;
constexpr uint32_t kExceptionDirectory = 3;
constexpr uint32_t kDebugDirectory = 6;
constexpr uint32_t kScnCntCode = 0x00000020;
constexpr uint32_t kScnMemExecute = 0x20000000;
// Where PE32 and PE32+ optional headers keep what we read, from the optional header's start.
constexpr uint32_t kPe32ImageBase = 28, kPe32DirectoryCount = 92, kPe32Directories = 96;
constexpr uint32_t kPe32PlusImageBase = 24, kPe32PlusDirectoryCount = 108, kPe32PlusDirectories = 112;
constexpr uint32_t kSizeOfImageOffset = 56, kSizeOfHeadersOffset = 60;

bool ReadLe16(Bytes in, uint64_t offset, uint16_t* out) {
  if (!InBounds(in.size, offset, 2)) return false;
  *out = static_cast<uint16_t>(in.data[offset] | in.data[offset + 1] << 8);
  return true;
}

bool ReadLe64(Bytes in, uint64_t offset, uint64_t* out) {
  uint32_t low = 0, high = 0;
  if (!ReadLe32(in, offset, &low) || !ReadLe32(in, offset + 4, &high)) return false;
  *out = uint64_t{high} << 32 | low;
  return true;
}

}  // namespace

bool PeImage::Load(std::vector<uint8_t> file, std::string* problem) {
  file_ = std::move(file);
  sections_.clear();
  functions_rva_ = functions_size_ = 0;
  codeview_ = CodeViewInfo();
  return ParseHeaders(problem);
}

bool PeImage::ParseHeaders(std::string* problem) {
  Bytes in{file_.data(), file_.size()};
  uint32_t lfanew = 0, signature = 0;
  if (file_.size() < 2 || file_[0] != 'M' || file_[1] != 'Z' || !ReadLe32(in, kDosLfanewOffset, &lfanew) ||
      !ReadLe32(in, lfanew, &signature) || signature != kPeSignature) {
    *problem = "not a PE file";
    return false;
  }
  uint64_t file_header = uint64_t{lfanew} + 4;
  uint16_t section_count = 0, optional_size = 0, magic = 0;
  if (!ReadLe16(in, file_header, &machine_) || !ReadLe16(in, file_header + 2, &section_count) ||
      !ReadLe32(in, file_header + 4, &time_stamp_) || !ReadLe16(in, file_header + 16, &optional_size)) {
    *problem = "PE file header cut short";
    return false;
  }
  uint64_t optional = file_header + kFileHeaderSize;
  Bytes header;
  if (!Slice(in, optional, optional_size, &header) || !ReadLe16(header, 0, &magic) ||
      (magic != kPe32Magic && magic != kPe32PlusMagic)) {
    *problem = "no PE32 or PE32+ optional header";
    return false;
  }
  bool plus = magic == kPe32PlusMagic;
  uint32_t directory_count = 0, base32 = 0;
  bool ok = ReadLe32(header, kSizeOfImageOffset, &size_of_image_) &&
            ReadLe32(header, kSizeOfHeadersOffset, &size_of_headers_) &&
            ReadLe32(header, plus ? kPe32PlusDirectoryCount : kPe32DirectoryCount, &directory_count) &&
            (plus ? ReadLe64(header, kPe32PlusImageBase, &image_base_) : ReadLe32(header, kPe32ImageBase, &base32));
  if (!ok) {
    *problem = "PE optional header cut short";
    return false;
  }
  if (!plus) image_base_ = base32;

  uint64_t table = optional + optional_size;
  for (uint16_t i = 0; i < section_count; ++i) {
    Bytes raw;
    if (!Slice(in, table + uint64_t{i} * kSectionHeaderSize, kSectionHeaderSize, &raw)) {
      *problem = "PE section table cut short";
      return false;
    }
    Section s;
    ReadLe32(raw, 8, &s.virtual_size);
    ReadLe32(raw, 12, &s.rva);
    ReadLe32(raw, 16, &s.file_size);
    ReadLe32(raw, 20, &s.file_offset);
    ReadLe32(raw, 36, &s.characteristics);
    if (s.virtual_size != 0 && s.virtual_size < s.file_size) s.file_size = s.virtual_size;  // the rest is padding
    sections_.push_back(s);
  }

  uint32_t directories = plus ? kPe32PlusDirectories : kPe32Directories;
  auto directory = [&](uint32_t index, uint32_t* rva, uint32_t* size) {
    return index < directory_count && ReadLe32(header, directories + index * 8, rva) &&
           ReadLe32(header, directories + index * 8 + 4, size);
  };
  uint32_t rva = 0, size = 0;
  if (directory(kExceptionDirectory, &rva, &size) && size >= kRuntimeFunctionSize && machine_ == kMachineAmd64) {
    functions_rva_ = rva;
    functions_size_ = size - size % kRuntimeFunctionSize;
  }
  if (directory(kDebugDirectory, &rva, &size)) ReadDebugDirectory(rva, size);
  return true;
}

const PeImage::Section* PeImage::SectionOf(uint32_t rva) const {
  for (const Section& s : sections_) {
    uint32_t extent = s.virtual_size ? s.virtual_size : s.file_size;
    if (rva >= s.rva && rva - s.rva < extent) return &s;
  }
  return nullptr;
}

bool PeImage::Read(uint32_t rva, uint32_t size, Bytes* out) const {
  Bytes in{file_.data(), file_.size()};
  if (uint64_t{rva} + size <= size_of_headers_) return Slice(in, rva, size, out);
  const Section* s = SectionOf(rva);
  if (!s || uint64_t{rva - s->rva} + size > s->file_size) return false;
  return Slice(in, uint64_t{s->file_offset} + (rva - s->rva), size, out);
}

Bytes PeImage::Before(uint32_t rva, uint32_t size) const {
  if (rva == 0) return Bytes();
  const Section* s = SectionOf(rva - 1);
  if (!s) return Bytes();
  uint32_t room = rva - s->rva;
  uint32_t take = size < room ? size : room;
  Bytes out;
  return Read(rva - take, take, &out) ? out : Bytes();
}

bool PeImage::IsCode(uint32_t rva) const {
  const Section* s = SectionOf(rva);
  return s && (s->characteristics & (kScnMemExecute | kScnCntCode)) != 0;
}

void PeImage::ReadDebugDirectory(uint32_t rva, uint32_t size) {
  Bytes entries;
  if (size == 0 || !Read(rva, size, &entries)) return;
  for (uint64_t at = 0; at + kDebugEntrySize <= entries.size; at += kDebugEntrySize) {
    uint32_t type = 0, data_size = 0, data_rva = 0;
    ReadLe32(entries, at + 12, &type);
    ReadLe32(entries, at + 16, &data_size);
    ReadLe32(entries, at + 20, &data_rva);
    Bytes record;
    if (type == kDebugTypeCodeView && Read(data_rva, data_size, &record) && ReadCodeViewRecord(record, &codeview_)) {
      return;
    }
  }
}

bool PeImage::FindFunction(uint32_t rva, RuntimeFunction* out) const {
  Bytes functions;
  if (functions_size_ == 0 || !Read(functions_rva_, functions_size_, &functions)) return false;
  size_t low = 0, high = functions.size / kRuntimeFunctionSize;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    RuntimeFunction f;
    ReadLe32(functions, middle * kRuntimeFunctionSize, &f.begin);
    ReadLe32(functions, middle * kRuntimeFunctionSize + 4, &f.end);
    ReadLe32(functions, middle * kRuntimeFunctionSize + 8, &f.unwind_info);
    if (rva < f.begin) {
      high = middle;
    } else if (rva >= f.end) {
      low = middle + 1;
    } else {
      *out = f;
      return true;
    }
  }
  return false;
}

}  // namespace collector
