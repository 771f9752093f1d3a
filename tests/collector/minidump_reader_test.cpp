#include "minidump_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "collector_test_support.h"
#include "minidump_format.h"

using namespace collector;
using namespace collector_test;

namespace {

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

Buffer Stream(const MinidumpInfo& info, uint32_t type) {
  const MinidumpUserStream* s = FindUserStream(info, type);
  return s ? Buffer(s->data.data, s->data.data + s->data.size) : Buffer{0xEE};
}

// The directory entry of `type` inside a dump buffer, to damage it on purpose.
MinidumpDirectory* Entry(Buffer* dump, uint32_t type) {
  MinidumpHeader header;
  std::memcpy(&header, dump->data(), sizeof header);
  for (uint32_t i = 0; i < header.number_of_streams; ++i) {
    auto* entry = reinterpret_cast<MinidumpDirectory*>(dump->data() + header.stream_directory_rva) + i;
    if (entry->stream_type == type) return entry;
  }
  return nullptr;
}

uint32_t Le32At(const Buffer& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// Everything the reader hands out must point inside the dump it was given.
void ExpectInside(const MinidumpInfo& info, const Buffer& dump) {
  for (const MinidumpUserStream& s : info.user_streams) {
    ASSERT_GE(s.data.data, dump.data());
    ASSERT_LE(s.data.data + s.data.size, dump.data() + dump.size());
  }
  if (info.thread_ids) {
    ASSERT_LE(info.thread_ids->size() * sizeof(MinidumpThread), dump.size());
  }
}

}  // namespace

// A dump the platform wrote from inside an unhandled-exception filter, read against what the
// crashing process itself recorded.
TEST(CollectorMinidump, RealCrashDump) {
  Buffer dump = ReadFile(DataPath("crash.dmp"));
  Expect expect = ReadExpect(DataPath("crash.expect"));
  ASSERT_FALSE(dump.empty());
  ASSERT_TRUE(expect.has_exception);
  MinidumpInfo info = ReadMinidump(View(dump));
  EXPECT_TRUE(info.valid) << info.error;
  EXPECT_EQ(info.error, "");
  EXPECT_EQ(info.dump_type, 0u);  // MiniDumpNormal
  ASSERT_TRUE(info.exception);
  EXPECT_EQ(info.exception->thread_id, expect.exception_thread);
  EXPECT_EQ(info.exception->code, expect.exception_code);
  EXPECT_EQ(info.exception->code, 0xC0000005u);  // the access violation make_dump.exe caused
  EXPECT_EQ(info.exception->address, expect.exception_address);
  ASSERT_TRUE(info.thread_ids);
  for (uint32_t id : expect.thread_ids) {
    EXPECT_NE(std::find(info.thread_ids->begin(), info.thread_ids->end(), id), info.thread_ids->end()) << id;
  }
  ASSERT_TRUE(info.modules);
  ASSERT_FALSE(info.modules->empty());
  EXPECT_EQ(Narrow(info.modules->front()), expect.module);
  bool has_ntdll = false;
  for (const std::u16string& name : *info.modules) has_ntdll |= Narrow(name).find("ntdll.dll") != std::string::npos;
  EXPECT_TRUE(has_ntdll);
  ASSERT_EQ(expect.streams.size(), 5u);
  for (const auto& [type, bytes] : expect.streams) EXPECT_EQ(Stream(info, type), bytes) << type;
  EXPECT_TRUE(Stream(info, USERSTREAM_USERINFO2).empty());  // a blank field is a stream of length 0
  for (uint32_t type : {kThreadListStream, kModuleListStream, kExceptionStream}) {
    EXPECT_NE(std::find(info.stream_types.begin(), info.stream_types.end(), type), info.stream_types.end());
  }
}

TEST(CollectorMinidump, RealDumpWithoutException) {
  Buffer dump = ReadFile(DataPath("user.dmp"));
  Expect expect = ReadExpect(DataPath("user.expect"));
  MinidumpInfo info = ReadMinidump(View(dump));
  EXPECT_TRUE(info.valid) << info.error;
  EXPECT_EQ(info.dump_type, 8u);  // MiniDumpFilterMemory
  EXPECT_FALSE(info.exception);
  ASSERT_TRUE(info.thread_ids);
  ASSERT_EQ(expect.thread_ids.size(), 1u);
  EXPECT_NE(std::find(info.thread_ids->begin(), info.thread_ids->end(), expect.thread_ids[0]),
            info.thread_ids->end());
  ASSERT_EQ(info.user_streams.size(), 1u);
  EXPECT_EQ(Stream(info, USERSTREAM_EXTRAINFO), expect.streams[USERSTREAM_EXTRAINFO]);
}

TEST(CollectorMinidump, DamagedDumps) {
  const Buffer real = ReadFile(DataPath("crash.dmp"));
  ASSERT_FALSE(real.empty());
  struct Case {
    const char* name;
    void (*damage)(Buffer*);
    const char* error_start;
  };
  const Case cases[] = {
      {"31 bytes", [](Buffer* d) { d->resize(31); }, "shorter than a minidump header"},
      {"no signature", [](Buffer* d) { (*d)[0] = 'X'; }, "no MDMP signature"},
      {"directory outside", [](Buffer* d) { PutLe32At(d, 12, 0xFFFFFFF0); }, "stream directory lies outside"},
      {"huge stream count", [](Buffer* d) { PutLe32At(d, 8, 0x40000000); }, "stream directory of 1073741824 entries"},
      {"thread list outside",
       [](Buffer* d) { Entry(d, kThreadListStream)->location.rva = static_cast<uint32_t>(d->size()); },
       "stream 3 lies outside"},
      {"thread count too big",
       [](Buffer* d) { PutLe32At(d, Entry(d, kThreadListStream)->location.rva, 0xFFFFFFFF); },
       "thread list claims 4294967295"},
      {"exception stream too short", [](Buffer* d) { Entry(d, kExceptionStream)->location.data_size = 100; },
       "exception stream too short"},
      {"module name outside",
       [](Buffer* d) {
         uint32_t list = Entry(d, kModuleListStream)->location.rva;
         PutLe32At(d, list + 4 + offsetof(MinidumpModule, module_name_rva), 0xFFFFFFFE);
       },
       "module name at 4294967294"},
      {"odd module name length",
       [](Buffer* d) {
         uint32_t list = Entry(d, kModuleListStream)->location.rva;
         uint32_t name = Le32At(*d, list + 4 + offsetof(MinidumpModule, module_name_rva));
         PutLe32At(d, name, 7);
       },
       "module name at"},
      {"user stream outside", [](Buffer* d) { Entry(d, USERSTREAM_SCREENSHOT)->location.data_size = 0x7FFFFFFF; },
       "stream 65538 lies outside"},
  };
  for (const Case& c : cases) {
    Buffer dump = real;
    c.damage(&dump);
    MinidumpInfo info = ReadMinidump(View(dump));
    EXPECT_FALSE(info.valid) << c.name;
    EXPECT_EQ(info.error.rfind(c.error_start, 0), 0u) << c.name << ": " << info.error;
    ExpectInside(info, dump);
  }
}

// A dump cut short, as an incomplete package leaves it, still gives what lies before the cut.
TEST(CollectorMinidump, CutDumpKeepsWhatArrived) {
  Buffer dump = ReadFile(DataPath("crash.dmp"));
  MinidumpInfo whole = ReadMinidump(View(dump));
  for (size_t cut : {size_t{32}, size_t{1000}, size_t{131072}, dump.size() - 1}) {
    Buffer part(dump.begin(), dump.begin() + cut);
    MinidumpInfo info = ReadMinidump(View(part));
    EXPECT_FALSE(info.valid) << cut;
    EXPECT_FALSE(info.error.empty()) << cut;
    ExpectInside(info, part);
    if (info.thread_ids && whole.thread_ids && cut > 131072) {
      EXPECT_EQ(*info.thread_ids, *whole.thread_ids);
    }
  }
}

TEST(CollectorMinidump, FuzzMutated) {
  std::mt19937 rng(4242);
  const Buffer seeds[] = {ReadFile(DataPath("crash.dmp")), ReadFile(DataPath("user.dmp"))};
  MinidumpHeader header;
  std::memcpy(&header, seeds[0].data(), sizeof header);
  // Most mutations go where the structure is: the header, the directory and the stream starts.
  const size_t hot = header.stream_directory_rva + header.number_of_streams * sizeof(MinidumpDirectory);
  for (int round = 0; round < 4000; ++round) {
    Buffer dump = seeds[round % 2];
    int edits = 1 + rng() % 6;
    for (int e = 0; e < edits && dump.size() > 4; ++e) {
      size_t at = rng() % (rng() % 2 ? std::min(hot, dump.size() - 4) : dump.size() - 4);
      switch (rng() % 4) {
        case 0: dump[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
        case 1: PutLe32At(&dump, at, static_cast<uint32_t>(rng())); break;
        case 2: PutLe32At(&dump, at, static_cast<uint32_t>(dump.size() - rng() % 64)); break;
        default: dump.resize(rng() % dump.size() + 1); break;
      }
    }
    MinidumpInfo info = ReadMinidump(View(dump));
    ExpectInside(info, dump);
    ASSERT_EQ(info.valid, info.error.empty());
  }
}
