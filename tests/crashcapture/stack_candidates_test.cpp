// The crash summary's stack: which byte sequences count as a call before a return address, the
// frame-pointer chain, the scan, and what they leave out.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crashcapture/crash_id.h"
#include "crashcapture/stack_candidates.h"
#include "crashcapture/summary_frames.h"
#include "fake_memory.h"

namespace {

struct CallCase {
  const char* what;
  std::vector<uint8_t> bytes;  // ending right before the return address
  bool call;
};

TEST(EndsWithCall, EveryCallFormAndLookalikes) {
  const CallCase cases[] = {
      {"call rel32", {0xE8, 0x10, 0x20, 0x30, 0x40}, true},
      {"call eax", {0xFF, 0xD0}, true},
      {"call r8 (REX before FF D0)", {0x41, 0xFF, 0xD0}, true},
      {"call [eax]", {0xFF, 0x10}, true},
      {"call [eax+disp8]", {0xFF, 0x50, 0x08}, true},
      {"call [esp+disp8] with SIB", {0xFF, 0x54, 0x24, 0x08}, true},
      {"call [eax+disp32]", {0xFF, 0x90, 1, 2, 3, 4}, true},
      {"call [rip+disp32]", {0xFF, 0x15, 1, 2, 3, 4}, true},
      {"call [disp32+eax*4] (SIB, base 5)", {0xFF, 0x14, 0x85, 1, 2, 3, 4}, true},
      {"call [esp+disp32] with SIB", {0xFF, 0x94, 0x24, 1, 2, 3, 4}, true},
      {"jmp eax (FF /4)", {0xFF, 0xE0}, false},
      {"push [eax] (FF /6)", {0xFF, 0x30}, false},
      {"FF /2 whose length does not end here", {0xFF, 0x15, 1, 2}, false},
      {"int3 padding", {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}, false},
      {"E8 too close", {0xE8, 1, 2, 3}, false},
  };
  for (const CallCase& c : cases) {
    EXPECT_EQ(EndsWithCall(c.bytes.data(), int(c.bytes.size())), c.call) << c.what;
  }
}

// One 32-bit and one 64-bit process: a module with code at [base + 0x1000, base + 0x3000), a
// stack, and helpers to plant return addresses that follow a call.
class StackScan : public ::testing::TestWithParam<int> {
 protected:
  static constexpr uint64_t kBase = 0x400000;
  static constexpr uint64_t kStackLow = 0x100000;
  static constexpr uint64_t kStackSize = 0x4000;

  void SetUp() override {
    ps_ = GetParam();
    MapFakeImage(memory_, {kBase, 0x4000, 1, 0x1000, 0x2000, ps_ == 8});
    memory_.Map(kStackLow, kStackSize);
    table_.count = 1;
    ReadPeImage(memory_, kBase, &table_.modules[0].facts);
    table_.modules[0].base = kBase;
  }

  // A return address at code offset `offset`, after a 5-byte call.
  uint64_t Return(uint32_t offset) {
    const uint8_t call[] = {0xE8, 0, 0, 0, 0};
    memory_.Put(kBase + offset - 5, call, 5);
    return kBase + offset;
  }

  void Slot(uint64_t address, uint64_t value) { memory_.PutPointer(address, value, ps_); }

  StackWalkStart Start(uint64_t sp, uint64_t fp) {
    return {ps_, kBase + 0x1100, sp, fp, kStackLow + kStackSize};
  }

  int ps_ = 4;
  FakeMemory memory_;
  ModuleTable table_{};
  StackCandidates found_{};
};

TEST_P(StackScan, FaultThenChainThenScanWithoutRepeatingTheChainsSlots) {
  const uint64_t sp = kStackLow + 0x100;
  // Two chained frames at sp + 0x40 and sp + 0x80, the second ending the chain with a zero link.
  const uint64_t f1 = sp + 0x40, f2 = sp + 0x80;
  const uint64_t r1 = Return(0x1200), r2 = Return(0x1300), loose = Return(0x1400);
  Slot(f1, f2);
  Slot(f1 + ps_, r1);
  Slot(f2, 0);
  Slot(f2 + ps_, r2);
  Slot(sp + 0x10, loose);            // below the chain: a frame that kept no frame pointer
  Slot(sp + 0x20, kBase + 0x1500);   // in code, but no call before it
  Slot(sp + 0x28, kBase + 0x0180);   // in the module's data
  Slot(sp + 0x30, 0x12345678);       // in no module
  Slot(sp - ps_, Return(0x1600));    // below the stack pointer: not part of the stack
  FindStackCandidates(memory_, table_, Start(sp, f1), &found_);
  ASSERT_EQ(found_.count, 4);
  EXPECT_EQ(found_.addresses[0], kBase + 0x1100);  // the faulting instruction
  EXPECT_EQ(found_.addresses[1], r1);
  EXPECT_EQ(found_.addresses[2], r2);
  EXPECT_EQ(found_.addresses[3], loose);
  EXPECT_FALSE(found_.cut);
}

TEST_P(StackScan, AFramePointerOutsideTheStackIsNoChainAndTheScanStillFindsFrames) {
  const uint64_t sp = kStackLow + 0x200;
  const uint64_t r = Return(0x1800);
  Slot(sp + 0x8, r);
  for (uint64_t fp : {uint64_t(0), uint64_t(0xDEADBEE0), sp - 0x10, sp + 1}) {
    FindStackCandidates(memory_, table_, Start(sp, fp), &found_);
    ASSERT_EQ(found_.count, 2) << fp;
    EXPECT_EQ(found_.addresses[1], r);
  }
}

TEST_P(StackScan, AFullListIsCutAndAFaultOutsideEveryModuleIsNoFrame) {
  const uint64_t sp = kStackLow;
  const uint64_t r = Return(0x1900);
  for (uint64_t at = sp; at < kStackLow + kStackSize; at += ps_) Slot(at, r);
  StackWalkStart start = Start(sp, 0);
  start.instruction_pointer = 0x1234;  // a jump to nowhere
  FindStackCandidates(memory_, table_, start, &found_);
  EXPECT_EQ(found_.count, kMaxSummaryFrames);
  EXPECT_EQ(found_.addresses[0], r);
  EXPECT_TRUE(found_.cut);
}

TEST_P(StackScan, FramesBecomeModuleAndOffsetWithTheFaultModuleFirst) {
  // A second module below the first, so that the fault module is not the table's first.
  MapFakeImage(memory_, {0x200000, 0x4000, 2, 0x1000, 0x2000, ps_ == 8});
  table_.modules[1] = table_.modules[0];
  table_.modules[0].base = 0x200000;
  ReadPeImage(memory_, 0x200000, &table_.modules[0].facts);
  std::snprintf(table_.modules[0].name, sizeof table_.modules[0].name, "low.dll");
  std::snprintf(table_.modules[1].name, sizeof table_.modules[1].name, "game.exe");
  table_.count = 2;
  StackCandidates candidates = {3, {kBase + 0x1100, 0x201234, 0x99999999}, false};
  static CrashSummary summary;
  summary.exception_address = kBase + 0x1100;
  AddModulesAndFrames(table_, candidates, &summary);
  ASSERT_EQ(summary.fault_module, 0);
  EXPECT_EQ(summary.fault_offset, 0x1100u);
  ASSERT_EQ(summary.module_count, 2);
  EXPECT_STREQ(summary.modules[0].name, "game.exe");
  EXPECT_EQ(summary.modules[0].size, 0x4000u);
  EXPECT_STREQ(summary.modules[1].name, "low.dll");
  ASSERT_EQ(summary.frame_count, 2);  // the address in no module is left out
  EXPECT_EQ(summary.frames[0].module, 0);
  EXPECT_EQ(summary.frames[0].offset, 0x1100u);
  EXPECT_EQ(summary.frames[1].module, 1);
  EXPECT_EQ(summary.frames[1].offset, 0x1234u);

  summary.exception_address = 0x10;
  AddModulesAndFrames(table_, candidates, &summary);
  EXPECT_EQ(summary.fault_module, -1);
  EXPECT_EQ(summary.modules[0].base, kBase);  // numbered in the order the frames name them
}

INSTANTIATE_TEST_SUITE_P(PointerSizes, StackScan, ::testing::Values(4, 8));

TEST(SummaryMessage, KeptWholeOrCutAtWhatASummaryCarries) {
  static CrashSummary summary;
  SetSummaryMessage("the last line", 1024, &summary);
  EXPECT_STREQ(summary.message, "the last line");
  EXPECT_FALSE(summary.message_cut);
  std::string text(300, 'x');
  SetSummaryMessage(text.c_str(), 1024, &summary);
  EXPECT_EQ(std::string(summary.message), std::string(kMaxSummaryMessageLength, 'x'));
  EXPECT_TRUE(summary.message_cut);
  char unterminated[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  SetSummaryMessage(unterminated, sizeof unterminated, &summary);
  EXPECT_STREQ(summary.message, "abcdefgh");
}

TEST(CrashId, NeverZeroAndDifferentForNeighbouringCounts) {
  EXPECT_NE(MakeCrashId(0, 0, 0), 0u);
  EXPECT_NE(MakeCrashId(1000, 4, 8), MakeCrashId(1001, 4, 8));
  EXPECT_NE(MakeCrashId(1000, 4, 8), MakeCrashId(1000, 5, 8));
  EXPECT_EQ(MakeCrashId(1000, 4, 8), MakeCrashId(1000, 4, 8));
}

}  // namespace
