// The analysis of dumps that arrived cut or damaged: what each cut still allows (threads, modules,
// context, partial stack), with notes instead of an error, and no fault on any input (these tests
// run under ASan and UBSan).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>

#include "analysis_test_support.h"
#include "crash_analysis.h"
#include "package_prefix.h"

using namespace collector;
using namespace analysis_test;

namespace {

constexpr uint32_t kCrashed = 7, kIdle = 8;
constexpr uint32_t kStack = 0x100000;

// An i686 crash: thread 7 faulted in game.exe with a three-frame EBP chain; thread 8 idles. The
// streams lie as Wine writes them: system information, modules, threads (list, contexts, stacks),
// and the exception last.
struct SampleDump {
  Buffer bytes;
  uint32_t crashed_stack_rva = 0;  // where thread 7's stack bytes begin
  uint32_t exception_rva = 0;      // where the exception stream begins

  SampleDump() {
    MinidumpBuilder b;
    b.SystemInfo(0);
    b.ModuleList({{"C:\\Games\\game.exe", 0x400000, 0x10000, 0x5F000000},
                  {"C:\\Games\\VXIdent.dll", 0x10000000, 0x10000},
                  {"C:\\windows\\system32\\ntdll.dll", 0x7C900000, 0x100000}});
    FakeStack crashed(kStack, 0x100);
    crashed.Set32(kStack + 0x10, kStack + 0x30);
    crashed.Set32(kStack + 0x14, 0x402000);
    crashed.Set32(kStack + 0x30, kStack + 0x50);
    crashed.Set32(kStack + 0x34, 0x403000);
    FakeStack idle(0x200000, 0x40);
    idle.Set32(0x200000, 0x404000);
    Buffer context = X86ContextBytes(0x401000, kStack, kStack + 0x10);
    b.ThreadList({{kCrashed, context, kStack, crashed.bytes},
                  {kIdle, X86ContextBytes(0x7C901000, 0x200000, 0), 0x200000, idle.bytes}});
    crashed_stack_rva = b.stack_rvas[0];
    exception_rva = b.End();
    b.Exception(kCrashed, 0xC0000005, 0x401000, context, {1, 0});
    bytes = b.Build();
  }
  Buffer Cut(size_t size) const { return Buffer(bytes.begin(), bytes.begin() + std::min(size, bytes.size())); }
};

CrashAnalysis Analyze(const Buffer& dump) { return AnalyzeMinidump(dump.data(), dump.size(), AnalysisOptions()); }

const AnalyzedThread* Thread(const CrashAnalysis& a, uint32_t id) {
  for (const AnalyzedThread& t : a.threads) {
    if (t.thread_id == id) return &t;
  }
  return nullptr;
}

std::vector<uint64_t> Instructions(const AnalyzedThread* t) {
  std::vector<uint64_t> out;
  if (t) {
    for (const AnalyzedFrame& f : t->frames) out.push_back(f.instruction);
  }
  return out;
}

// Where the sample's stream of `type` begins.
uint32_t StreamRva(const Buffer& d, uint32_t type) {
  uint32_t count, directory;
  std::memcpy(&count, d.data() + 8, 4);
  std::memcpy(&directory, d.data() + 12, 4);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t t, rva;
    std::memcpy(&t, d.data() + directory + 12 * i, 4);
    std::memcpy(&rva, d.data() + directory + 12 * i + 8, 4);
    if (t == type) return rva;
  }
  return 0;
}

}  // namespace

TEST(CutDump, WholeDump) {
  SampleDump d;
  CrashAnalysis a = Analyze(d.bytes);
  EXPECT_EQ(a.cpu, "x86");
  EXPECT_EQ(a.os_version, "10.0.19045");
  EXPECT_TRUE(a.has_exception);
  EXPECT_EQ(a.exception_name, "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_EQ(a.exception_detail, "write to 0x00000000");
  ASSERT_EQ(a.threads.size(), 2u);
  EXPECT_TRUE(a.threads[0].crashed);
  EXPECT_EQ(a.threads[0].thread_id, kCrashed);
  EXPECT_EQ(Instructions(&a.threads[0]), (std::vector<uint64_t>{0x401000, 0x402000, 0x403000}));
  EXPECT_EQ(a.threads[0].frames[1].module, 0);
  EXPECT_EQ(a.threads[0].frames[1].module_offset, 0x2000u);
  EXPECT_EQ(a.signature, "game.exe+0x1000 | game.exe+0x2000 | game.exe+0x3000");
  ASSERT_EQ(a.modules.size(), 3u);
  EXPECT_EQ(a.modules[0].name, "game.exe");
  EXPECT_EQ(a.modules[0].debug_id, "5F00000010000");
  EXPECT_TRUE(a.modules[1].ours);
  EXPECT_TRUE(a.modules[2].system);
  EXPECT_EQ(a.notes, std::vector<std::string>{});
}

// Each cut point of the sample, and what the part before it still gives.
TEST(CutDump, WhatEachCutAllows) {
  SampleDump d;
  {
    CrashAnalysis a = Analyze(d.Cut(d.crashed_stack_rva));  // contexts, but no stack memory
    EXPECT_FALSE(a.has_exception);
    EXPECT_EQ(a.modules.size(), 3u);
    EXPECT_EQ(Instructions(Thread(a, kCrashed)), (std::vector<uint64_t>{0x401000}));
    EXPECT_TRUE(HasNote(a, "thread stacks arrived cut or not at all"));
    EXPECT_TRUE(HasNote(a, "exception"));
    EXPECT_EQ(a.signature, "");  // no thread is known as the crashed one
  }
  {
    CrashAnalysis a = Analyze(d.Cut(d.crashed_stack_rva + 0x20));  // the first frame record arrived
    EXPECT_EQ(Instructions(Thread(a, kCrashed)), (std::vector<uint64_t>{0x401000, 0x402000}));
  }
  {
    CrashAnalysis a = Analyze(d.Cut(d.exception_rva));  // everything but the exception
    EXPECT_FALSE(a.has_exception);
    EXPECT_EQ(Instructions(Thread(a, kCrashed)), (std::vector<uint64_t>{0x401000, 0x402000, 0x403000}));
    EXPECT_TRUE(HasNote(a, "the exception stream lies past the end of what arrived"));
  }
  // Every cut, byte by byte: never a fault, always a note once something is missing.
  for (size_t size = 0; size < d.bytes.size(); ++size) {
    CrashAnalysis a = Analyze(d.Cut(size));
    ASSERT_FALSE(a.notes.empty()) << size;
    for (const AnalyzedThread& t : a.threads) ASSERT_LE(t.frames.size(), AnalysisOptions().max_frames);
  }
}

// The exception names a thread the list lacks: it is walked from the exception's context all the
// same, through whatever memory the dump holds (here the stack that the list files under 99).
TEST(CutDump, CrashedThreadMissingFromTheList) {
  SampleDump d;
  PutAt<uint32_t>(&d.bytes, StreamRva(d.bytes, 3) + 4, 99);
  CrashAnalysis a = Analyze(d.bytes);
  ASSERT_FALSE(a.threads.empty());
  EXPECT_TRUE(a.threads[0].crashed);
  EXPECT_EQ(a.threads[0].thread_id, kCrashed);
  EXPECT_EQ(Instructions(&a.threads[0]), (std::vector<uint64_t>{0x401000, 0x402000, 0x403000}));
  EXPECT_TRUE(HasNote(a, "which the thread list that arrived lacks"));
  EXPECT_EQ(a.threads.size(), 3u);  // and the two listed ones
}

// Counts, lengths and offsets that a hostile sender controls.
TEST(DamagedDump, HostileFields) {
  struct Row {
    const char* what;
    void (*damage)(Buffer*);
    const char* note;  // a part of the note it must leave, or "" when any outcome without a fault is right
  };
  const Row rows[] = {
      {"stream count 2^32-1", [](Buffer* d) { PutAt<uint32_t>(d, 8, 0xFFFFFFFF); }, "entries arrived"},
      {"directory past the end", [](Buffer* d) { PutAt<uint32_t>(d, 12, 0xFFFFFFF0); },
       "stream directory lies past the end"},
      {"thread count 2^32-1", [](Buffer* d) { PutAt<uint32_t>(d, StreamRva(*d, 3), 0xFFFFFFFF); },
       "the thread list has 4294967295 entries; 2 arrived"},
      {"module count 2^32-1", [](Buffer* d) { PutAt<uint32_t>(d, StreamRva(*d, 4), 0xFFFFFFFF); },
       "the module list has 4294967295 entries"},
      {"module name length odd",
       [](Buffer* d) {
         uint32_t name;
         std::memcpy(&name, d->data() + StreamRva(*d, 4) + 4 + 20, 4);
         PutAt<uint32_t>(d, name, 7);
       },
       "module names did not arrive or are damaged"},
      {"module name length huge",
       [](Buffer* d) {
         uint32_t name;
         std::memcpy(&name, d->data() + StreamRva(*d, 4) + 4 + 20, 4);
         PutAt<uint32_t>(d, name, 0xFFFFFFFE);
       },
       "module names did not arrive or are damaged"},
      {"idle thread's context size 10", [](Buffer* d) { PutAt<uint32_t>(d, StreamRva(*d, 3) + 4 + 48 + 40, 10); },
       "have no context"},
      {"crashed thread's context size 10: the exception's serves",
       [](Buffer* d) { PutAt<uint32_t>(d, StreamRva(*d, 3) + 4 + 40, 10); }, ""},
      {"stack past the end", [](Buffer* d) { PutAt<uint32_t>(d, StreamRva(*d, 3) + 4 + 36, 0xFFFFFF00); },
       "thread stacks arrived cut"},
      {"stack size 2^32-1", [](Buffer* d) { PutAt<uint32_t>(d, StreamRva(*d, 3) + 4 + 32, 0xFFFFFFFF); },
       "thread stacks arrived cut"},
      {"stack at the top of the address space",
       [](Buffer* d) { PutAt<uint64_t>(d, StreamRva(*d, 3) + 4 + 24, ~uint64_t{0} - 8); }, ""},
      {"module at the top of the address space",
       [](Buffer* d) { PutAt<uint64_t>(d, StreamRva(*d, 4) + 4, ~uint64_t{0} - 0x100); }, ""},
      {"exception context past the end", [](Buffer* d) { PutAt<uint32_t>(d, StreamRva(*d, 6) + 164, 0xFFFFFFF0); },
       "exception context arrived cut"},
      {"exception parameters 2^32-1", [](Buffer* d) { PutAt<uint32_t>(d, StreamRva(*d, 6) + 8 + 24, 0xFFFFFFFF); }, ""},
      {"unknown processor", [](Buffer* d) { PutAt<uint16_t>(d, StreamRva(*d, 7), 0x1234); },
       "processor architecture 4660 is not walked"},
      {"no system information: the context tells", [](Buffer* d) { PutAt<uint32_t>(d, 32, 0x77); },
       "the processor is taken from a context"},
  };
  for (const Row& row : rows) {
    Buffer dump = SampleDump().bytes;
    row.damage(&dump);
    CrashAnalysis a = Analyze(dump);
    if (*row.note) {
      EXPECT_TRUE(HasNote(a, row.note)) << row.what << "\n" << ::testing::PrintToString(a.notes);
    }
    for (const AnalyzedThread& t : a.threads) EXPECT_LE(t.frames.size(), AnalysisOptions().max_frames) << row.what;
  }
}

// A memory list whose sizes would wrap the file offset, and a memory64 list that does so too.
TEST(DamagedDump, MemoryListsThatOverflow) {
  MinidumpBuilder b;
  b.SystemInfo(9);
  Buffer list;
  Put<uint32_t>(&list, 3);
  for (uint64_t start : {0x1000ull, 0x2000ull, ~0ull - 4}) {
    Put<uint64_t>(&list, start);
    Put<uint32_t>(&list, 0xFFFFFFF0);
    Put<uint32_t>(&list, 0xFFFFFFF0);
  }
  b.Stream(5, list);
  Buffer list64;
  Put<uint64_t>(&list64, 0xFFFFFFFFFFFFFFFFull);
  Put<uint64_t>(&list64, 0x40);
  for (int i = 0; i < 4; ++i) {
    Put<uint64_t>(&list64, 0x10000 * i);
    Put<uint64_t>(&list64, 0xFFFFFFFFFFFFFF00ull);
  }
  b.Stream(9, list64);
  b.Exception(1, 0xC0000005, 0, Amd64ContextBytes(0x1000, 0x1000));
  Buffer dump = b.Build();
  CrashAnalysis a = Analyze(dump);
  EXPECT_TRUE(HasNote(a, "memory ranges arrived cut or not at all"));
  EXPECT_TRUE(HasNote(a, "the memory64 list has 18446744073709551615 entries"));
}

// A thousand threads that all name one 1 MiB stack full of return addresses: the walk's work stays
// within the analysis's frame budget whatever max_frames asks.
TEST(DamagedDump, ThreadsSharingOneStack) {
  MinidumpBuilder b;
  b.SystemInfo(0);
  b.ModuleList({{"C:\\Games\\game.exe", 0x400000, 0x100000}});
  FakeStack stack(kStack, 1 << 20);
  for (uint32_t a = kStack; a < kStack + (1 << 20); a += 4) stack.Set32(a, 0x402000);
  uint32_t stack_rva = b.Blob(stack.bytes);
  Buffer context = X86ContextBytes(0x401000, kStack, 0);
  uint32_t context_rva = b.Blob(context);
  Buffer list;
  Put<uint32_t>(&list, 1024);
  for (uint32_t id = 0; id < 1024; ++id) {
    Put<uint32_t>(&list, id);
    list.resize(list.size() + 20, 0);  // suspend count, priority class, priority, TEB
    Put<uint64_t>(&list, kStack);
    Put<uint32_t>(&list, 1 << 20);
    Put<uint32_t>(&list, stack_rva);
    Put<uint32_t>(&list, static_cast<uint32_t>(context.size()));
    Put<uint32_t>(&list, context_rva);
  }
  b.Stream(collector::kThreadListStream, list);
  Buffer dump = b.Build();
  AnalysisOptions options;
  options.max_frames = 4096;
  CrashAnalysis a = AnalyzeMinidump(dump.data(), dump.size(), options);
  size_t frames = 0;
  for (const AnalyzedThread& t : a.threads) frames += t.frames.size();
  EXPECT_EQ(a.threads.size(), 1024u);
  EXPECT_LE(frames, 65536u + 1024u);  // the budget, then frame 0 of each thread left
  EXPECT_TRUE(HasNote(a, "frames were spent"));
}

// Random damage to the sample dump, seeded so a failure repeats.
TEST(DamagedDump, MutatedDumps) {
  const Buffer sample = SampleDump().bytes;
  std::mt19937 random(20240517);
  for (int round = 0; round < 3000; ++round) {
    Buffer dump = sample;
    int changes = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < changes; ++i) {
      size_t at = random() % dump.size();
      switch (random() % 3) {
        case 0:
          dump[at] = static_cast<uint8_t>(random());
          break;
        case 1:
          if (at + 4 <= dump.size()) PutAt<uint32_t>(&dump, at, 0xFFFFFFFF - (random() % 64));
          break;
        default:
          dump.resize(at);
          break;
      }
      if (dump.empty()) break;
    }
    CrashAnalysis a = Analyze(dump);
    for (const AnalyzedThread& t : a.threads) ASSERT_LE(t.frames.size(), AnalysisOptions().max_frames) << round;
  }
}

namespace {

// A dump package as the crash reporter makes it: "VGZ\0", version 1, then compress2 at level 9 of
// each 131072-byte piece behind its length.
Buffer Package(const Buffer& dump) {
  Buffer package = {'V', 'G', 'Z', 0, 1};
  for (size_t at = 0; at < dump.size(); at += 131072) {
    uLong in = static_cast<uLong>(std::min<size_t>(131072, dump.size() - at));
    uLongf out = compressBound(in);
    Buffer chunk(out);
    compress2(chunk.data(), &out, dump.data() + at, in, 9);
    Put<uint32_t>(&package, static_cast<uint32_t>(out));
    package.insert(package.end(), chunk.begin(), chunk.begin() + out);
  }
  return package;
}

}  // namespace

// A package cut anywhere gives a prefix of the minidump, reaching into the cut chunk.
TEST(CutPackage, InflatesIntoTheCutChunk) {
  std::mt19937 random(7);
  Buffer dump(3 * 131072 + 5000);
  for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<uint8_t>(i % 251 == 0 ? random() : i / 1000);
  const Buffer package = Package(dump);
  PackagePrefix whole = InflatePackagePrefix(View(package));
  EXPECT_EQ(whole.minidump, dump);
  EXPECT_FALSE(whole.cut);
  EXPECT_EQ(whole.whole_chunks, 4u);
  EXPECT_EQ(whole.error, "");
  size_t first_chunk = 5 + 4 + (package[5] | package[6] << 8 | package[7] << 16);
  size_t previous = 0;
  for (size_t cut = 6; cut < package.size(); cut += 97) {
    PackagePrefix prefix = InflatePackagePrefix(View(Buffer(package.begin(), package.begin() + cut)));
    ASSERT_TRUE(prefix.cut) << cut;
    ASSERT_EQ(prefix.error, "") << cut;
    ASSERT_LE(prefix.minidump.size(), dump.size());
    ASSERT_TRUE(std::equal(prefix.minidump.begin(), prefix.minidump.end(), dump.begin())) << cut;
    ASSERT_GE(prefix.minidump.size(), previous) << cut;
    previous = prefix.minidump.size();
    if (cut > 5 + 4 + 1000 && cut < first_chunk) {
      ASSERT_GT(prefix.minidump.size(), 0u) << "nothing from a cut first chunk at " << cut;
    }
  }
  Buffer damaged = package;
  damaged[20] ^= 0xFF;
  EXPECT_NE(InflatePackagePrefix(View(damaged)).error, "");
  EXPECT_NE(InflatePackagePrefix(View(Buffer{'V', 'G', 'Z', 0, 2})).error, "");
  Buffer zero_length = {'V', 'G', 'Z', 0, 1, 0, 0, 0, 0};
  EXPECT_NE(InflatePackagePrefix(View(zero_length)).error, "");
}
