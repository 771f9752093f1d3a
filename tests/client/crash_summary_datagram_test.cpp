#include "client/crash_summary_datagram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const char kId[] = "0123456789ABCDEF";
const DatagramIdentity kWho{kId, 7, 20, 300};

SummaryModule Module(const char* name, uint64_t base, uint32_t size, uint8_t debug_kind = kDebugIdNone,
                     const char* pdb = "") {
  SummaryModule m{};
  m.base = base;
  m.size = size;
  m.time_stamp = 0x5F000000u + size;
  m.debug_id_kind = debug_kind;
  for (int i = 0; i < kPdb70SignatureSize; ++i) m.signature[i] = uint8_t(0xA0 + i);
  m.age = 3;
  std::snprintf(m.name, sizeof m.name, "%s", name);
  std::snprintf(m.debug_file, sizeof m.debug_file, "%s", pdb);
  return m;
}

// An x86 access violation in game.exe, called from game.exe and kernel32.dll.
std::unique_ptr<CrashSummary> X86Summary() {
  auto s = std::make_unique<CrashSummary>();
  std::memset(s.get(), 0, sizeof *s);
  s->architecture = kArchitectureX86;
  s->crash_id = 0x11223344;
  s->thread_id = 0x1A4;
  s->exception_code = 0xC0000005;
  s->exception_address = 0x00401234;
  s->parameter_count = 2;
  s->parameters[0] = 1;  // a write
  s->parameters[1] = 0;  // to address 0
  for (int i = 0; i < 10; ++i) s->registers[i] = 0x1000u * (i + 1);
  std::snprintf(s->message, sizeof s->message, "%s", "level 2: boom");
  s->module_count = 3;
  s->modules[0] = Module("kernel32.dll", 0x76000000, 0xF0000, kDebugIdPdb70, "wkernel32.pdb");
  s->modules[1] = Module("game.exe", 0x00400000, 0x20000, kDebugIdPdb20, "game.pdb");
  s->modules[2] = Module("unused.dll", 0x10000000, 0x1000);
  s->fault_module = 1;
  s->fault_offset = 0x1234;
  s->frame_count = 3;
  s->frames[0] = {1, 0x1234};
  s->frames[1] = {1, 0x0ABC};
  s->frames[2] = {0, 0x1F00};
  return s;
}

std::unique_ptr<CrashSummary> Decode(const uint8_t* bytes, size_t length, const char** reason = nullptr) {
  auto out = std::make_unique<CrashSummary>();
  DatagramHeaderView header;
  const char* why = DecodeCrashSummaryDatagram(bytes, length, &header, out.get());
  if (reason) *reason = why;
  EXPECT_EQ(why, nullptr) << why;
  return out;
}

TEST(CrashSummaryDatagram, ByteForByte) {
  auto s = X86Summary();
  s->module_count = 1;
  s->modules[0] = Module("a.exe", 0x400000, 0x3000);
  s->fault_module = 0;
  s->fault_offset = 0x1234;
  s->frame_count = 1;
  s->frames[0] = {0, 0x1234};
  std::snprintf(s->message, sizeof s->message, "%s", "hi");
  s->parameter_count = 0;
  uint8_t out[kMaxCrashDatagramSize];
  const size_t length = BuildCrashSummaryDatagram(out, sizeof out, kWho, *s);
  std::vector<uint8_t> expected = {0, 0, 0, 1, 0, 0, 0, 8};
  expected.insert(expected.end(), kId, kId + 16);
  const uint8_t rest[] = {
      0x00, 0x01, 0x2C, 0x00, 0x14, 0x00, 0x07,  // terminator, identities 4, 3, 1
      0x00, 0x00, 0x00, 0x6B,                    // payload length 107
      0x01, 0x01, 0x00, 0x01,                    // format, x86, fault module known
      0x11, 0x22, 0x33, 0x44,                    // crash id
      0x00, 0x00, 0x01, 0xA4,                    // thread
      0xC0, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,  // code, flags
      0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x12, 0x34,  // address
      0x00, 0x00, 0x12, 0x34,                    // fault offset
      0x00,                                      // no parameters
      0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00, 0x40, 0x00,
      0x00, 0x00, 0x50, 0x00, 0x00, 0x00, 0x60, 0x00, 0x00, 0x00, 0x70, 0x00, 0x00, 0x00, 0x80, 0x00,
      0x00, 0x00, 0x90, 0x00, 0x00, 0x00, 0xA0, 0x00,  // eax ... eflags
      0x00, 0x02, 'h', 'i',                      // message
      0x01,                                      // one module
      0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00,
      0x5F, 0x00, 0x30, 0x00, 0x00, 0x05, 'a', '.', 'e', 'x', 'e',
      0x01, 0x00, 0x00, 0x00, 0x12, 0x34,        // one frame
  };
  expected.insert(expected.end(), rest, rest + sizeof rest);
  ASSERT_EQ(length, expected.size());
  EXPECT_EQ(std::vector<uint8_t>(out, out + length), expected);
}

TEST(CrashSummaryDatagram, RoundTripKeepsWhatTheFramesNeedAndRenumbersIt) {
  auto s = X86Summary();
  uint8_t out[kMaxCrashDatagramSize];
  const size_t length = BuildCrashSummaryDatagram(out, sizeof out, kWho, *s);
  ASSERT_GT(length, 0u);
  auto d = Decode(out, length);
  EXPECT_EQ(d->architecture, kArchitectureX86);
  EXPECT_EQ(d->crash_id, 0x11223344u);
  EXPECT_EQ(d->exception_code, 0xC0000005u);
  EXPECT_EQ(d->exception_address, 0x401234u);
  ASSERT_EQ(d->parameter_count, 2);
  EXPECT_EQ(d->parameters[0], 1u);
  EXPECT_EQ(d->registers[9], 0xA000u);
  EXPECT_STREQ(d->message, "level 2: boom");
  EXPECT_FALSE(d->frames_cut);
  // The fault module comes first; the module no frame lies in is left out.
  ASSERT_EQ(d->module_count, 2);
  EXPECT_EQ(d->fault_module, 0);
  EXPECT_EQ(d->fault_offset, 0x1234u);
  EXPECT_STREQ(d->modules[0].name, "game.exe");
  EXPECT_EQ(d->modules[0].debug_id_kind, kDebugIdPdb20);
  EXPECT_STREQ(d->modules[0].debug_file, "game.pdb");
  EXPECT_EQ(d->modules[0].signature[3], 0xA3);
  EXPECT_STREQ(d->modules[1].name, "kernel32.dll");
  EXPECT_EQ(std::memcmp(d->modules[1].signature, s->modules[0].signature, kPdb70SignatureSize), 0);
  EXPECT_EQ(d->modules[1].age, 3u);
  EXPECT_EQ(d->modules[1].time_stamp, s->modules[0].time_stamp);
  ASSERT_EQ(d->frame_count, 3);
  EXPECT_EQ(d->frames[0].module, 0);
  EXPECT_EQ(d->frames[2].module, 1);
  EXPECT_EQ(d->frames[2].offset, 0x1F00u);
}

TEST(CrashSummaryDatagram, X64RegistersAreEightBytesEach) {
  auto s = X86Summary();
  s->architecture = kArchitectureX64;
  for (int i = 0; i < 18; ++i) s->registers[i] = 0x0102030405060700ull + uint64_t(i);
  s->exception_address = 0x00007FF612345678ull;
  uint8_t out[kMaxCrashDatagramSize];
  const size_t x64 = BuildCrashSummaryDatagram(out, sizeof out, kWho, *s);
  auto d = Decode(out, x64);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(d->registers[i], s->registers[i]) << SummaryRegisterLayout(2)->names[i];
  EXPECT_EQ(d->exception_address, 0x00007FF612345678ull);
  s->architecture = kArchitectureX86;
  EXPECT_EQ(x64 - BuildCrashSummaryDatagram(out, sizeof out, kWho, *s), 18u * 8 - 10u * 4);
  EXPECT_STREQ(SummaryRegisterLayout(kArchitectureX64)->names[16], "rip");
  EXPECT_STREQ(SummaryRegisterLayout(kArchitectureX86)->names[8], "eip");
}

TEST(CrashSummaryDatagram, AsManyFramesAsFitInTwelveHundredBytes) {
  auto s = X86Summary();
  std::string long_message(kMaxSummaryMessageLength, 'm');
  std::snprintf(s->message, sizeof s->message, "%s", long_message.c_str());
  s->module_count = kMaxSummaryModules;
  for (int i = 0; i < kMaxSummaryModules; ++i) {
    std::string name = "module_with_a_long_name_number_" + std::to_string(i) + ".dll";
    s->modules[i] = Module(name.c_str(), 0x10000000ull * (i + 1), 0x10000, kDebugIdPdb70, name.c_str());
  }
  s->fault_module = 5;
  s->frame_count = kMaxSummaryFrames;
  for (int i = 0; i < kMaxSummaryFrames; ++i) s->frames[i] = {uint16_t(i % 3 == 0 ? i % kMaxSummaryModules : 5), uint32_t(i)};
  uint8_t out[4096];
  const size_t length = BuildCrashSummaryDatagram(out, sizeof out, kWho, *s);
  ASSERT_GT(length, 0u);
  EXPECT_LE(length, size_t(kMaxCrashDatagramSize));
  EXPECT_GT(length, size_t(kMaxCrashDatagramSize) - 120) << "the room is used, not left over";
  auto d = Decode(out, length);
  EXPECT_TRUE(d->frames_cut);
  ASSERT_GT(d->frame_count, 5);
  // Frames keep their order: the first ones are the most likely.
  for (int i = 0; i < d->frame_count; ++i) {
    EXPECT_EQ(d->frames[i].offset, uint32_t(i));
    EXPECT_STREQ(d->modules[d->frames[i].module].name, s->modules[s->frames[i].module].name);
  }
  // One byte less of room and the datagram shrinks instead of spilling.
  const size_t smaller = BuildCrashSummaryDatagram(out, length - 1, kWho, *s);
  EXPECT_GT(smaller, 0u);
  EXPECT_LT(smaller, length);
}

TEST(CrashSummaryDatagram, LongTextsAreCutToTheirFields) {
  auto s = X86Summary();
  std::string name(200, 'n');
  std::snprintf(s->modules[1].name, sizeof s->modules[1].name, "%s", name.c_str());
  s->message_cut = true;
  uint8_t out[kMaxCrashDatagramSize];
  auto d = Decode(out, BuildCrashSummaryDatagram(out, sizeof out, kWho, *s));
  EXPECT_EQ(std::strlen(d->modules[0].name), size_t(kMaxSummaryNameLength));
  EXPECT_TRUE(d->message_cut);
}

TEST(CrashSummaryDatagram, RefusesWhatItCannotSend) {
  uint8_t out[kMaxCrashDatagramSize];
  struct Case {
    const char* what;
    void (*spoil)(CrashSummary&);
  } cases[] = {
      {"unknown architecture", [](CrashSummary& s) { s.architecture = 3; }},
      {"too many parameters", [](CrashSummary& s) { s.parameter_count = kMaxSummaryParameters + 1; }},
      {"fault module past the table", [](CrashSummary& s) { s.fault_module = s.module_count; }},
      {"frame module past the table", [](CrashSummary& s) { s.frames[1].module = uint16_t(s.module_count); }},
      {"module count beyond its array", [](CrashSummary& s) { s.module_count = kMaxSummaryModules + 1; }},
      {"frame count beyond its array", [](CrashSummary& s) { s.frame_count = kMaxSummaryFrames + 1; }},
      {"unknown debug id", [](CrashSummary& s) { s.modules[0].debug_id_kind = 3; }},
  };
  for (const Case& c : cases) {
    auto s = X86Summary();
    c.spoil(*s);
    EXPECT_EQ(BuildCrashSummaryDatagram(out, sizeof out, kWho, *s), 0u) << c.what;
  }
  auto s = X86Summary();
  EXPECT_EQ(BuildCrashSummaryDatagram(out, sizeof out, DatagramIdentity{kId, 7, 0, 300}, *s), 0u)
      << "identities incomplete";
  EXPECT_EQ(BuildCrashSummaryDatagram(out, 100, kWho, *s), 0u) << "no room for the fixed part";
  s->fault_module = -1;
  s->fault_offset = 0;
  auto d = Decode(out, BuildCrashSummaryDatagram(out, sizeof out, kWho, *s));
  EXPECT_EQ(d->fault_module, -1) << "a fault outside every module is sent too";
}

TEST(CrashSummaryDatagram, DecoderRefusesMalformedBytes) {
  auto s = X86Summary();
  uint8_t good[kMaxCrashDatagramSize];
  const size_t length = BuildCrashSummaryDatagram(good, sizeof good, kWho, *s);
  CrashSummary* out = new CrashSummary;
  DatagramHeaderView header;
  // Every cut, with the header's length made to match, is refused, never read past.
  for (size_t cut = 0; cut < length; ++cut) {
    std::vector<uint8_t> bytes(good, good + cut);
    if (cut >= size_t(kHeaderSize)) {
      const uint32_t payload = uint32_t(cut - kHeaderSize);
      bytes[31] = uint8_t(payload >> 24), bytes[32] = uint8_t(payload >> 16);
      bytes[33] = uint8_t(payload >> 8), bytes[34] = uint8_t(payload);
    }
    EXPECT_NE(DecodeCrashSummaryDatagram(bytes.data(), bytes.size(), &header, out), nullptr) << cut;
  }
  struct Case {
    size_t offset;
    uint8_t value;
    const char* reason;
  } cases[] = {
      {7, 16, "kind"},
      {35, 2, "summary format"},
      {36, 9, "architecture"},
      {67, 5, "summary counts"},  // parameter count
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes(good, good + length);
    bytes[c.offset] = c.value;
    const char* reason = DecodeCrashSummaryDatagram(bytes.data(), bytes.size(), &header, out);
    EXPECT_STREQ(reason ? reason : "none", c.reason) << c.offset;
  }
  std::vector<uint8_t> trailing(good, good + length);
  trailing.push_back(0);
  trailing[34] += 1;
  EXPECT_STREQ(DecodeCrashSummaryDatagram(trailing.data(), trailing.size(), &header, out), "trailing bytes");
  std::vector<uint8_t> bad_frame(good, good + length);
  bad_frame[length - 5] = 2;  // the last frame names a third module of two
  EXPECT_STREQ(DecodeCrashSummaryDatagram(bad_frame.data(), bad_frame.size(), &header, out), "module index");
  // Random changes never make the decoder read outside the bytes (the sanitizers watch).
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes(good, good + length);
    for (int k = 0; k < 3; ++k) bytes[35 + random() % (length - 35)] = uint8_t(random());
    DecodeCrashSummaryDatagram(bytes.data(), bytes.size(), &header, out);
  }
  delete out;
}

}  // namespace
