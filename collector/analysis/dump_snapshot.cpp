#include "dump_snapshot.h"

#include <algorithm>
#include <cstring>

#include "minidump_format.h"

namespace collector {
namespace {

constexpr uint32_t kMemoryListStream = 5;
constexpr uint32_t kSystemInfoStream = 7;
constexpr uint32_t kMemory64ListStream = 9;

// PROCESSOR_ARCHITECTURE_* of the system information stream.
constexpr uint16_t kArchitectureIntel = 0;
constexpr uint16_t kArchitectureAmd64 = 9;

#pragma pack(push, 1)
struct MinidumpSystemInfo {  // MINIDUMP_SYSTEM_INFO
  uint16_t processor_architecture;
  uint16_t processor_level;
  uint16_t processor_revision;
  uint8_t number_of_processors;
  uint8_t product_type;
  uint32_t major_version;
  uint32_t minor_version;
  uint32_t build_number;
  uint32_t platform_id;
  uint32_t csd_version_rva;
  uint16_t suite_mask;
  uint16_t reserved2;
  uint8_t cpu[24];
};
static_assert(sizeof(MinidumpSystemInfo) == 56, "MINIDUMP_SYSTEM_INFO");

struct MinidumpMemory64Descriptor {  // MINIDUMP_MEMORY_DESCRIPTOR64
  uint64_t start_of_memory_range;
  uint64_t data_size;
};
static_assert(sizeof(MinidumpMemory64Descriptor) == 16, "MINIDUMP_MEMORY_DESCRIPTOR64");
#pragma pack(pop)

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the minidump structures are copied as they lie in the file");

// Appends the UTF-8 form of little-endian UTF-16 units; a lone surrogate becomes U+FFFD.
std::string Utf8FromUtf16(Bytes units) {
  std::string out;
  size_t count = units.size / 2;
  auto unit = [&](size_t i) { return static_cast<uint32_t>(units.data[2 * i] | units.data[2 * i + 1] << 8); };
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class SnapshotReader {
 public:
  SnapshotReader(Bytes dump, DumpSnapshot* out) : dump_(dump), out_(out) {}

  void Run() {
    MinidumpHeader header;
    if (!Whole(0, sizeof header, &header)) return Note("shorter than a minidump header");
    if (header.signature != kMinidumpSignature) return Note("no MDMP signature");
    uint64_t listed = header.number_of_streams;
    uint64_t arrived = 0;
    if (header.stream_directory_rva < dump_.size) {
      arrived = (dump_.size - header.stream_directory_rva) / sizeof(MinidumpDirectory);
    }
    if (arrived == 0 && listed > 0) return Note("the stream directory lies past the end of what arrived");
    out_->header_ok = true;
    if (arrived < listed)
      Note("the stream directory lists " + std::to_string(listed) + " streams; " + std::to_string(arrived) +
           " entries arrived");
    uint64_t count = std::min<uint64_t>({listed, arrived, kMaxDumpStreams});
    if (listed > kMaxDumpStreams && arrived > kMaxDumpStreams)
      Note("streams after the first " + std::to_string(kMaxDumpStreams) + " left out");
    for (uint64_t i = 0; i < count; ++i) {
      MinidumpDirectory entry{};
      Whole(header.stream_directory_rva + i * sizeof entry, sizeof entry, &entry);
      ReadStream(entry);
    }
    if (!seen_system_info_) GuessCpu();
    if (!seen_exception_) Note("no exception stream: no thread is known as the crashed one");
  }

 private:
  void Note(const std::string& text) { out_->notes.push_back(text); }

  // Copies a structure that lies wholly inside the dump.
  template <typename T>
  bool Whole(uint64_t offset, uint64_t size, T* out) {
    Bytes slice;
    if (size < sizeof(T) || !Slice(dump_, offset, sizeof(T), &slice)) return false;
    std::memcpy(out, slice.data, sizeof(T));
    return true;
  }

  // The part of [offset, offset + size) that arrived; true when all of it did.
  bool Arrived(uint64_t offset, uint64_t size, Bytes* out) {
    *out = Bytes();
    if (offset >= dump_.size) return size == 0 && offset == dump_.size;
    uint64_t room = dump_.size - offset;
    Slice(dump_, offset, size < room ? size : room, out);
    return size <= room;
  }

  void ReadStream(const MinidumpDirectory& entry) {
    switch (entry.stream_type) {
      case kSystemInfoStream:
        if (!seen_system_info_) ReadSystemInfo(entry.location);
        seen_system_info_ = true;
        break;
      case kExceptionStream:
        if (!seen_exception_) ReadException(entry.location);
        seen_exception_ = true;
        break;
      case kThreadListStream:
        if (!seen_threads_) ReadThreads(entry.location);
        seen_threads_ = true;
        break;
      case kModuleListStream:
        if (!seen_modules_) ReadModules(entry.location);
        seen_modules_ = true;
        break;
      case kMemoryListStream:
        ReadMemoryList(entry.location);
        break;
      case kMemory64ListStream:
        ReadMemory64List(entry.location);
        break;
      default:
        break;
    }
  }

  void ReadSystemInfo(const MinidumpLocation& at) {
    MinidumpSystemInfo info;
    if (!Whole(at.rva, at.data_size, &info)) return Note("the system information lies past the end of what arrived");
    if (info.processor_architecture == kArchitectureAmd64) {
      out_->cpu = Cpu::kAmd64;
    } else if (info.processor_architecture == kArchitectureIntel) {
      out_->cpu = Cpu::kX86;
    } else {
      Note("processor architecture " + std::to_string(info.processor_architecture) + " is not walked");
    }
    out_->os_version = std::to_string(info.major_version) + "." + std::to_string(info.minor_version) + "." +
                       std::to_string(info.build_number);
  }

  // Without a system information stream the size and flags of a context still tell the processor.
  void GuessCpu() {
    const DumpThread* any = out_->threads.empty() ? nullptr : &out_->threads.front();
    if (out_->has_exception) out_->cpu = CpuOfContext(out_->exception_context_size, out_->exception_context);
    if (out_->cpu == Cpu::kUnknown && any) out_->cpu = CpuOfContext(any->context_size, any->context);
    Note(out_->cpu == Cpu::kUnknown ? "no system information, and no context that tells the processor"
                                    : "no system information: the processor is taken from a context");
  }

  void ReadException(const MinidumpLocation& at) {
    MinidumpExceptionStream raw;
    if (!Whole(at.rva, at.data_size, &raw)) {
      return Note("the exception stream lies past the end of what arrived: the crashed thread is not known");
    }
    out_->has_exception = true;
    out_->exception_thread_id = raw.thread_id;
    out_->exception_code = raw.exception_record.exception_code;
    out_->exception_address = raw.exception_record.exception_address;
    uint32_t parameters = raw.exception_record.number_parameters;
    for (uint32_t i = 0; i < parameters && i < 15; ++i) {
      out_->exception_parameters.push_back(raw.exception_record.exception_information[i]);
    }
    out_->exception_context_size = raw.thread_context.data_size;
    if (!Arrived(raw.thread_context.rva, raw.thread_context.data_size, &out_->exception_context)) {
      Note("the exception context arrived cut: " + std::to_string(out_->exception_context.size) + " of " +
           std::to_string(raw.thread_context.data_size) + " bytes");
    }
  }

  // A list stream: a 32-bit count and then fixed-size entries. Gives how many entries to read,
  // noting those that did not arrive and those past `cap`.
  uint64_t ListEntries(const MinidumpLocation& at, size_t entry_size, size_t cap, const std::string& what) {
    uint32_t count = 0;
    if (!ReadLe32(dump_, at.rva, &count) || at.data_size < 4) {
      Note("the " + what + " list lies past the end of what arrived");
      return 0;
    }
    Bytes entries;
    Arrived(uint64_t{at.rva} + 4, uint64_t{at.data_size} - 4, &entries);
    uint64_t arrived = entries.size / entry_size;
    uint64_t read = std::min<uint64_t>({count, arrived, cap});
    if (arrived < count)
      Note("the " + what + " list has " + std::to_string(count) + " entries; " + std::to_string(arrived) + " arrived");
    if (read == cap && count > cap) Note(what + " entries after the first " + std::to_string(cap) + " left out");
    return read;
  }

  void ReadThreads(const MinidumpLocation& at) {
    uint64_t count = ListEntries(at, sizeof(MinidumpThread), kMaxDumpThreads, "thread");
    size_t cut_stacks = 0;
    for (uint64_t i = 0; i < count; ++i) {
      MinidumpThread raw{};
      Whole(uint64_t{at.rva} + 4 + i * sizeof raw, sizeof raw, &raw);
      DumpThread thread;
      thread.thread_id = raw.thread_id;
      thread.context_size = raw.thread_context.data_size;
      Arrived(raw.thread_context.rva, raw.thread_context.data_size, &thread.context);
      thread.stack.start = raw.stack.start_of_memory_range;
      thread.stack.declared_size = raw.stack.memory.data_size;
      if (!Arrived(raw.stack.memory.rva, raw.stack.memory.data_size, &thread.stack.bytes)) ++cut_stacks;
      out_->threads.push_back(thread);
    }
    if (cut_stacks) Note(std::to_string(cut_stacks) + " thread stacks arrived cut or not at all");
  }

  void ReadModules(const MinidumpLocation& at) {
    uint64_t count = ListEntries(at, sizeof(MinidumpModule), kMaxDumpModules, "module");
    size_t lost_names = 0;
    for (uint64_t i = 0; i < count; ++i) {
      MinidumpModule raw{};
      Whole(uint64_t{at.rva} + 4 + i * sizeof raw, sizeof raw, &raw);
      DumpModule module;
      module.base = raw.base_of_image;
      module.size = raw.size_of_image;
      module.time_stamp = raw.time_date_stamp;
      if (!ReadName(raw.module_name_rva, &module.path)) ++lost_names;
      Bytes cv;
      if (Arrived(raw.cv_record.rva, raw.cv_record.data_size, &cv)) ReadCodeViewRecord(cv, &module.codeview);
      out_->modules.push_back(module);
    }
    if (lost_names) Note(std::to_string(lost_names) + " module names did not arrive or are damaged");
  }

  // A MINIDUMP_STRING: a 32-bit byte length, then UTF-16LE units.
  bool ReadName(uint32_t rva, std::string* out) {
    uint32_t length = 0;
    Bytes units;
    if (!ReadLe32(dump_, rva, &length) || length % 2 != 0 || length > kMaxModulePathBytes ||
        !Slice(dump_, uint64_t{rva} + 4, length, &units)) {
      return false;
    }
    *out = Utf8FromUtf16(units);
    return true;
  }

  void AddMemory(uint64_t start, uint64_t size, uint64_t rva) {
    if (out_->memory.size() >= kMaxDumpMemoryRanges) {
      if (!memory_capped_) Note("memory ranges after the first " + std::to_string(kMaxDumpMemoryRanges) + " left out");
      memory_capped_ = true;
      return;
    }
    MemoryRange range;
    range.start = start;
    range.declared_size = size;
    if (!Arrived(rva, size, &range.bytes)) ++cut_memory_;
    if (range.bytes.size > 0) out_->memory.push_back(range);
  }

  void ReadMemoryList(const MinidumpLocation& at) {
    uint64_t count = ListEntries(at, sizeof(MinidumpMemoryDescriptor), kMaxDumpMemoryRanges, "memory");
    for (uint64_t i = 0; i < count; ++i) {
      MinidumpMemoryDescriptor raw{};
      Whole(uint64_t{at.rva} + 4 + i * sizeof raw, sizeof raw, &raw);
      AddMemory(raw.start_of_memory_range, raw.memory.data_size, raw.memory.rva);
    }
    NoteCutMemory();
  }

  // MINIDUMP_MEMORY64_LIST: a 64-bit count, the offset of the first range's bytes, then (start,
  // size) pairs whose bytes follow one another from there.
  void ReadMemory64List(const MinidumpLocation& at) {
    uint64_t count = 0, rva = 0;
    Bytes head;
    if (!Slice(dump_, at.rva, 16, &head) || at.data_size < 16)
      return Note("the memory64 list lies past the end of what arrived");
    std::memcpy(&count, head.data, 8);
    std::memcpy(&rva, head.data + 8, 8);
    Bytes entries;
    Arrived(uint64_t{at.rva} + 16, uint64_t{at.data_size} - 16, &entries);
    uint64_t arrived = entries.size / sizeof(MinidumpMemory64Descriptor);
    if (arrived < count)
      Note("the memory64 list has " + std::to_string(count) + " entries; " + std::to_string(arrived) + " arrived");
    uint64_t read = std::min<uint64_t>({count, arrived, kMaxDumpMemoryRanges});
    for (uint64_t i = 0; i < read; ++i) {
      MinidumpMemory64Descriptor raw;
      std::memcpy(&raw, entries.data + i * sizeof raw, sizeof raw);
      if (rva >= dump_.size) {  // this range and every later one lie past the end
        cut_memory_ += read - i;
        break;
      }
      AddMemory(raw.start_of_memory_range, raw.data_size, rva);
      rva = raw.data_size > dump_.size ? dump_.size : rva + raw.data_size;
    }
    NoteCutMemory();
  }

  void NoteCutMemory() {
    if (cut_memory_) Note(std::to_string(cut_memory_) + " memory ranges arrived cut or not at all");
    cut_memory_ = 0;
  }

  Bytes dump_;
  DumpSnapshot* out_;
  bool seen_system_info_ = false, seen_exception_ = false, seen_threads_ = false, seen_modules_ = false;
  bool memory_capped_ = false;
  size_t cut_memory_ = 0;
};

}  // namespace

DumpSnapshot ReadDumpSnapshot(Bytes dump) {
  DumpSnapshot snapshot;
  SnapshotReader(dump, &snapshot).Run();
  return snapshot;
}

}  // namespace collector
