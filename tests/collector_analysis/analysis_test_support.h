// Builders for the crash analysis tests: little-endian buffers, x64 unwind info, small PE files and
// minidumps laid out as Windows lays them out, so each test states its input in a few lines.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bytes.h"
#include "cpu_context.h"
#include "crash_analysis.h"
#include "dump_snapshot.h"
#include "image_bytes.h"
#include "minidump_format.h"

namespace analysis_test {

using Buffer = std::vector<uint8_t>;

inline collector::Bytes View(const Buffer& b) { return collector::Bytes{b.data(), b.size()}; }

template <typename T>
void Put(Buffer* b, T value, size_t bytes = sizeof(T)) {
  for (size_t i = 0; i < bytes; ++i) b->push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
}
template <typename T>
void PutAt(Buffer* b, size_t at, T value) {
  if (b->size() < at + sizeof(T)) b->resize(at + sizeof(T));
  std::memcpy(b->data() + at, &value, sizeof(T));
}
inline void Append(Buffer* b, const Buffer& more) { b->insert(b->end(), more.begin(), more.end()); }
inline void PadTo(Buffer* b, size_t size) {
  if (b->size() < size) b->resize(size);
}

// Whether any note of an analysis contains `part`.
inline bool HasNote(const collector::CrashAnalysis& a, const std::string& part) {
  for (const std::string& note : a.notes) {
    if (note.find(part) != std::string::npos) return true;
  }
  return false;
}

inline Buffer ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Buffer(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A module's bytes with RVA = offset: code and unwind info put where a test wants them.
class TestImage : public collector::ImageBytes {
 public:
  Buffer bytes = Buffer(0x4000, 0xCC);  // int3 everywhere nothing is put
  bool Read(uint32_t rva, uint32_t size, collector::Bytes* out) const override {
    return collector::Slice(View(bytes), rva, size, out);
  }
  void Place(uint32_t rva, const Buffer& data) {
    PadTo(&bytes, rva + data.size());
    std::memcpy(bytes.data() + rva, data.data(), data.size());
  }
};

// One unwind code as it sits in UNWIND_INFO, with the slots that follow it.
struct Code {
  uint8_t prolog_offset;
  uint8_t op;
  uint8_t info;
  std::vector<uint16_t> extra = {};
};

struct Chain {
  uint32_t begin, end, unwind_info;
};

inline Buffer UnwindInfo(uint8_t prolog_size, const std::vector<Code>& codes, uint8_t frame_register = 0,
                         uint8_t frame_offset = 0, const Chain* chain = nullptr, uint8_t version = 1) {
  Buffer b;
  std::vector<uint16_t> slots;
  for (const Code& c : codes) {
    slots.push_back(static_cast<uint16_t>(c.prolog_offset | (c.op | c.info << 4) << 8));
    slots.insert(slots.end(), c.extra.begin(), c.extra.end());
  }
  uint8_t flags = chain ? 4 : 0;
  b.push_back(static_cast<uint8_t>(version | flags << 3));
  b.push_back(prolog_size);
  b.push_back(static_cast<uint8_t>(slots.size()));
  b.push_back(static_cast<uint8_t>(frame_register | frame_offset << 4));
  for (uint16_t s : slots) Put(&b, s);
  if (slots.size() % 2) Put<uint16_t>(&b, 0);
  if (chain) {
    Put(&b, chain->begin);
    Put(&b, chain->end);
    Put(&b, chain->unwind_info);
  }
  return b;
}

// A stack of the crashed process: `size` bytes from `base`, written a word at a time.
struct FakeStack {
  uint64_t base;
  Buffer bytes;
  FakeStack(uint64_t base_address, size_t size) : base(base_address), bytes(size, 0) {}
  void Set64(uint64_t address, uint64_t value) { PutAt(&bytes, address - base, value); }
  void Set32(uint64_t address, uint32_t value) { PutAt(&bytes, address - base, value); }
  collector::MemoryRange Range() const { return collector::MemoryRange{base, bytes.size(), View(bytes)}; }
};

struct PeSection {
  std::string name;
  uint32_t rva;
  Buffer data;
  uint32_t characteristics;  // 0x60000020 code, 0x40000040 read-only data
};

constexpr uint32_t kCodeSection = 0x60000020;
constexpr uint32_t kDataSection = 0x40000040;

// A PE file with the given sections; `exception` and `debug` are (rva, size) of those directories.
inline Buffer BuildPe(bool plus, uint32_t time_stamp, uint32_t size_of_image, const std::vector<PeSection>& sections,
                      std::pair<uint32_t, uint32_t> exception = {0, 0}, std::pair<uint32_t, uint32_t> debug = {0, 0}) {
  constexpr uint32_t kLfanew = 0x80, kFileAlign = 0x200;
  uint16_t optional_size = plus ? 240 : 224;
  Buffer b(kLfanew, 0);
  b[0] = 'M';
  b[1] = 'Z';
  PutAt<uint32_t>(&b, 0x3C, kLfanew);
  Put<uint32_t>(&b, 0x4550);
  Put<uint16_t>(&b, plus ? 0x8664 : 0x14C);
  Put<uint16_t>(&b, static_cast<uint16_t>(sections.size()));
  Put<uint32_t>(&b, time_stamp);
  Put<uint32_t>(&b, 0);
  Put<uint32_t>(&b, 0);
  Put<uint16_t>(&b, optional_size);
  Put<uint16_t>(&b, 0x22);
  size_t optional = b.size();
  b.resize(optional + optional_size, 0);
  PutAt<uint16_t>(&b, optional, plus ? 0x20B : 0x10B);
  if (plus) {
    PutAt<uint64_t>(&b, optional + 24, 0x140000000);
  } else {
    PutAt<uint32_t>(&b, optional + 28, 0x400000);
  }
  PutAt<uint32_t>(&b, optional + 56, size_of_image);
  PutAt<uint32_t>(&b, optional + 60, kFileAlign);  // SizeOfHeaders
  uint32_t directories = optional + (plus ? 112 : 96);
  PutAt<uint32_t>(&b, optional + (plus ? 108 : 92), 16);
  PutAt<uint32_t>(&b, directories + 3 * 8, exception.first);
  PutAt<uint32_t>(&b, directories + 3 * 8 + 4, exception.second);
  PutAt<uint32_t>(&b, directories + 6 * 8, debug.first);
  PutAt<uint32_t>(&b, directories + 6 * 8 + 4, debug.second);
  size_t table = b.size();
  b.resize(table + 40 * sections.size(), 0);
  uint32_t file_offset = kFileAlign;
  for (size_t i = 0; i < sections.size(); ++i) {
    const PeSection& s = sections[i];
    size_t h = table + 40 * i;
    std::memcpy(b.data() + h, s.name.data(), s.name.size() < 8 ? s.name.size() : 8);
    PutAt<uint32_t>(&b, h + 8, static_cast<uint32_t>(s.data.size()));
    PutAt<uint32_t>(&b, h + 12, s.rva);
    uint32_t raw = static_cast<uint32_t>((s.data.size() + kFileAlign - 1) / kFileAlign * kFileAlign);
    PutAt<uint32_t>(&b, h + 16, raw);
    PutAt<uint32_t>(&b, h + 20, file_offset);
    PutAt<uint32_t>(&b, h + 36, s.characteristics);
    file_offset += raw;
  }
  PadTo(&b, kFileAlign);
  for (const PeSection& s : sections) {
    Append(&b, s.data);
    PadTo(&b, (b.size() + kFileAlign - 1) / kFileAlign * kFileAlign);
  }
  return b;
}

inline Buffer RsdsRecord(uint8_t guid_fill, uint32_t age, const std::string& pdb) {
  Buffer b = {'R', 'S', 'D', 'S'};
  for (int i = 0; i < 16; ++i) b.push_back(static_cast<uint8_t>(guid_fill + i));
  Put(&b, age);
  b.insert(b.end(), pdb.begin(), pdb.end());
  b.push_back(0);
  return b;
}

// A minidump laid out as Windows writes one: header, directory, then each stream's bytes in the
// order added. Locations inside streams are fixed up by the helpers that build them.
class MinidumpBuilder {
 public:
  // Appends raw bytes to the file's body and gives their RVA.
  uint32_t Blob(const Buffer& data) {
    uint32_t rva = static_cast<uint32_t>(kBodyStart + body_.size());
    Append(&body_, data);
    return rva;
  }
  void Stream(uint32_t type, const Buffer& data) {
    streams_.push_back({type, Blob(data), static_cast<uint32_t>(data.size())});
  }

  void SystemInfo(uint16_t architecture) {
    Buffer b;
    Put<uint16_t>(&b, architecture);
    b.resize(8, 0);
    Put<uint32_t>(&b, 10);
    Put<uint32_t>(&b, 0);
    Put<uint32_t>(&b, 19045);
    b.resize(56, 0);
    Stream(7, b);
  }

  struct Thread {
    uint32_t id;
    Buffer context;
    uint64_t stack_start;
    Buffer stack;
  };
  // The list first, then each thread's context, then each stack, as Windows orders them; the RVA of
  // each stack's bytes goes to stack_rvas.
  void ThreadList(const std::vector<Thread>& threads) {
    Buffer list;
    Put<uint32_t>(&list, static_cast<uint32_t>(threads.size()));
    uint32_t next = static_cast<uint32_t>(kBodyStart + body_.size() + 4 + 48 * threads.size());
    std::vector<uint32_t> contexts, stacks;
    for (const Thread& t : threads) {
      contexts.push_back(next);
      next += static_cast<uint32_t>(t.context.size());
    }
    for (const Thread& t : threads) {
      stacks.push_back(next);
      next += static_cast<uint32_t>(t.stack.size());
    }
    for (size_t i = 0; i < threads.size(); ++i) {
      const Thread& t = threads[i];
      Put<uint32_t>(&list, t.id);
      list.resize(list.size() + 12, 0);  // suspend count, priority class, priority
      Put<uint64_t>(&list, 0);           // TEB
      Put<uint64_t>(&list, t.stack_start);
      Put<uint32_t>(&list, static_cast<uint32_t>(t.stack.size()));
      Put<uint32_t>(&list, stacks[i]);
      Put<uint32_t>(&list, static_cast<uint32_t>(t.context.size()));
      Put<uint32_t>(&list, contexts[i]);
    }
    Stream(collector::kThreadListStream, list);
    for (const Thread& t : threads) Blob(t.context);
    for (const Thread& t : threads) stack_rvas.push_back(Blob(t.stack));
  }
  std::vector<uint32_t> stack_rvas;

  struct Module {
    std::string path;  // ASCII, written as UTF-16
    uint64_t base;
    uint32_t size;
    uint32_t time_stamp = 0;
    Buffer codeview = {};
  };
  void ModuleList(const std::vector<Module>& modules) {
    Buffer list;
    Put<uint32_t>(&list, static_cast<uint32_t>(modules.size()));
    for (const Module& m : modules) {
      Buffer name;
      Put<uint32_t>(&name, static_cast<uint32_t>(m.path.size() * 2));
      for (char c : m.path) Put<uint16_t>(&name, static_cast<uint16_t>(c));
      Put<uint16_t>(&name, 0);
      uint32_t name_rva = Blob(name);
      uint32_t cv_rva = m.codeview.empty() ? 0 : Blob(m.codeview);
      size_t at = list.size();
      list.resize(at + sizeof(collector::MinidumpModule), 0);
      collector::MinidumpModule raw{};
      raw.base_of_image = m.base;
      raw.size_of_image = m.size;
      raw.time_date_stamp = m.time_stamp;
      raw.module_name_rva = name_rva;
      raw.cv_record = collector::MinidumpLocation{static_cast<uint32_t>(m.codeview.size()), cv_rva};
      std::memcpy(list.data() + at, &raw, sizeof raw);
    }
    Stream(collector::kModuleListStream, list);
  }

  void Exception(uint32_t thread_id, uint32_t code, uint64_t address, const Buffer& context,
                 std::vector<uint64_t> parameters = {}) {
    uint32_t context_rva = Blob(context);
    collector::MinidumpExceptionStream raw{};
    raw.thread_id = thread_id;
    raw.exception_record.exception_code = code;
    raw.exception_record.exception_address = address;
    raw.exception_record.number_parameters = static_cast<uint32_t>(parameters.size());
    for (size_t i = 0; i < parameters.size() && i < 15; ++i)
      raw.exception_record.exception_information[i] = parameters[i];
    raw.thread_context = collector::MinidumpLocation{static_cast<uint32_t>(context.size()), context_rva};
    Buffer b(sizeof raw);
    std::memcpy(b.data(), &raw, sizeof raw);
    Stream(collector::kExceptionStream, b);
  }

  // The RVA just past everything added so far.
  uint32_t End() const { return static_cast<uint32_t>(kBodyStart + body_.size()); }

  Buffer Build() const {
    Buffer out;
    Put<uint32_t>(&out, collector::kMinidumpSignature);
    Put<uint32_t>(&out, 0xA793);
    Put<uint32_t>(&out, static_cast<uint32_t>(streams_.size()));
    Put<uint32_t>(&out, 32);
    out.resize(32, 0);
    for (const Entry& e : streams_) {
      Put(&out, e.type);
      Put(&out, e.size);
      Put(&out, e.rva);
    }
    PadTo(&out, kBodyStart);
    Append(&out, body_);
    return out;
  }

 private:
  struct Entry {
    uint32_t type, rva, size;
  };
  // The directory's room: enough for every test's streams.
  static constexpr uint32_t kBodyStart = 32 + 12 * 16;
  Buffer body_;
  std::vector<Entry> streams_;
};

// Contexts as a dump stores them, with the registers a walk starts from.
inline Buffer X86ContextBytes(uint32_t eip, uint32_t esp, uint32_t ebp) {
  collector::X86Context c{};
  c.context_flags = collector::kContextX86 | 0x7;
  c.eip = eip;
  c.esp = esp;
  c.ebp = ebp;
  Buffer b(sizeof c);
  std::memcpy(b.data(), &c, sizeof c);
  return b;
}

inline Buffer Amd64ContextBytes(uint64_t rip, uint64_t rsp, uint64_t rbp = 0) {
  collector::Amd64Context c{};
  c.context_flags = collector::kContextAmd64 | 0x7;
  c.rip = rip;
  c.gpr[collector::kSp] = rsp;
  c.gpr[collector::kBp] = rbp;
  Buffer b(sizeof c);
  std::memcpy(b.data(), &c, sizeof c);
  return b;
}

}  // namespace analysis_test
