// The x64 unwinder on hand-made unwind info: each unwind code, the prolog and epilog rules, chained
// entries, machine frames, and damaged tables.
#include "x64_unwind.h"

#include <gtest/gtest.h>

#include "analysis_test_support.h"

using namespace collector;
using namespace analysis_test;

namespace {

enum : uint8_t {
  kPush = 0,
  kAllocLarge = 1,
  kAllocSmall = 2,
  kSetFpreg = 3,
  kSave = 4,
  kSaveFar = 5,
  kSaveXmm = 8,
  kMachframe = 10
};

constexpr uint64_t kBase = 0x140000000;  // where the module lay
constexpr uint32_t kFunction = 0x1000;   // the function's RVA
constexpr uint32_t kFunctionEnd = 0x1100;
constexpr uint32_t kInfo = 0x2000;      // its UNWIND_INFO's RVA
constexpr uint64_t kStack = 0x10000;    // lowest stack address in the dump
constexpr uint64_t kFrameSp = 0x18000;  // the frame's stack pointer
constexpr uint64_t kReturn = 0x140001234;

struct Fixture {
  TestImage image;
  FakeStack stack{kStack, 0x10000};
  ProcessMemory memory;
  Registers regs;

  Fixture() {
    regs.ip = kBase + kFunction + 0x40;  // in the body, past every prolog here
    regs.gpr[kSp] = kFrameSp;
  }
  // Unwinds with `info` as the function's UNWIND_INFO.
  bool Unwind(const Buffer& info, bool exact_ip = false, bool* machine = nullptr, std::string* problem = nullptr) {
    image.Place(kInfo, info);
    memory = ProcessMemory();
    memory.Add(stack.Range());
    memory.Seal();
    bool machine_frame = false;
    std::string why;
    UnwindInput input{&image, kBase, &memory, exact_ip};
    bool ok = UnwindX64(input, RuntimeFunction{kFunction, kFunctionEnd, kInfo}, &regs, &machine_frame, &why);
    if (machine) *machine = machine_frame;
    if (problem) *problem = why;
    return ok;
  }
};

}  // namespace

// push rbp; push rbx; sub rsp, 0x28 — in the body all three are undone, then the return address.
TEST(X64Unwind, PushesAndSmallAllocation) {
  Fixture f;
  f.stack.Set64(kFrameSp + 0x28, 0xB0B0);  // rbx
  f.stack.Set64(kFrameSp + 0x30, 0xBBBB);  // rbp
  f.stack.Set64(kFrameSp + 0x38, kReturn);
  ASSERT_TRUE(f.Unwind(UnwindInfo(6, {{6, kAllocSmall, 4}, {2, kPush, kBx}, {1, kPush, kBp}})));
  EXPECT_EQ(f.regs.ip, kReturn);
  EXPECT_EQ(f.regs.sp(), kFrameSp + 0x40);
  EXPECT_EQ(f.regs.gpr[kBx], 0xB0B0u);
  EXPECT_EQ(f.regs.fp(), 0xBBBBu);
}

// Inside the prolog only the instructions that ran are undone: their codes' offsets say where each ends.
TEST(X64Unwind, PrologUndoesOnlyWhatRan) {
  const Buffer info = UnwindInfo(6, {{6, kAllocSmall, 4}, {2, kPush, kBx}, {1, kPush, kBp}});
  struct Row {
    uint32_t offset;       // of the instruction pointer in the function
    uint64_t return_slot;  // where the return address lies
    bool rbx_restored;
  };
  for (const Row& row : {Row{0, kFrameSp, false}, Row{1, kFrameSp + 8, false}, Row{2, kFrameSp + 16, true},
                         Row{6, kFrameSp + 0x38, true}}) {
    Fixture f;
    f.regs.ip = kBase + kFunction + row.offset;
    f.regs.gpr[kBx] = 0x1111;
    f.stack.Set64(row.return_slot, kReturn);
    if (row.rbx_restored) f.stack.Set64(row.return_slot - 16, 0xB0B0);
    ASSERT_TRUE(f.Unwind(info)) << row.offset;
    EXPECT_EQ(f.regs.ip, kReturn) << row.offset;
    EXPECT_EQ(f.regs.sp(), row.return_slot + 8) << row.offset;
    EXPECT_EQ(f.regs.gpr[kBx], row.rbx_restored ? 0xB0B0u : 0x1111u) << row.offset;
  }
}

TEST(X64Unwind, LargeAllocationsInBothForms) {
  {
    Fixture f;  // info 0: size / 8 in one slot
    f.stack.Set64(kFrameSp + 0x1000, kReturn);
    ASSERT_TRUE(f.Unwind(UnwindInfo(7, {{7, kAllocLarge, 0, {0x1000 / 8}}})));
    EXPECT_EQ(f.regs.sp(), kFrameSp + 0x1008);
    EXPECT_EQ(f.regs.ip, kReturn);
  }
  {
    Fixture f;  // info 1: the size itself in two slots, low half first
    f.stack = FakeStack(kStack, 0x30000);
    f.stack.Set64(kFrameSp + 0x12340, kReturn);
    ASSERT_TRUE(f.Unwind(UnwindInfo(7, {{7, kAllocLarge, 1, {0x2340, 0x1}}})));
    EXPECT_EQ(f.regs.sp(), kFrameSp + 0x12348);
  }
}

// push rbp; sub rsp, 0x40; lea rbp, [rsp + 0x20]; and the body moved rsp further (alloca): the
// frame register, not rsp, tells where the frame is.
TEST(X64Unwind, FrameRegister) {
  Fixture f;
  const uint64_t frame = kFrameSp;  // rsp just after the sub
  f.regs.gpr[kBp] = frame + 0x20;
  f.regs.gpr[kSp] = frame - 0x300;
  f.stack.Set64(frame + 0x40, 0xBBBB);
  f.stack.Set64(frame + 0x48, kReturn);
  ASSERT_TRUE(f.Unwind(UnwindInfo(9, {{9, kSetFpreg, 0}, {5, kAllocSmall, 7}, {1, kPush, kBp}}, kBp, 2)));
  EXPECT_EQ(f.regs.ip, kReturn);
  EXPECT_EQ(f.regs.sp(), frame + 0x50);
  EXPECT_EQ(f.regs.fp(), 0xBBBBu);
}

// Registers saved with mov into the frame: offsets from rsp, or from the frame register's frame.
TEST(X64Unwind, SavedWithMov) {
  {
    Fixture f;  // sub rsp, 0x48; mov [rsp+0x50], rsi; mov [rsp+0x10008], rdi (far form)
    f.stack = FakeStack(kStack, 0x20000);
    f.stack.Set64(kFrameSp + 0x50, 0x5151);
    f.stack.Set64(kFrameSp + 0x10008, 0xD1D1);
    f.stack.Set64(kFrameSp + 0x48, kReturn);
    ASSERT_TRUE(f.Unwind(
        UnwindInfo(20, {{20, kSaveFar, kDi, {0x0008, 0x1}}, {12, kSave, kSi, {0x50 / 8}}, {4, kAllocSmall, 8}})));
    EXPECT_EQ(f.regs.gpr[kSi], 0x5151u);
    EXPECT_EQ(f.regs.gpr[kDi], 0xD1D1u);
    EXPECT_EQ(f.regs.ip, kReturn);
  }
  {
    Fixture f;  // with rbp = frame + 0x10 as frame register: [frame + 0x18] holds r12
    const uint64_t frame = kFrameSp;
    f.regs.gpr[kBp] = frame + 0x10;
    f.regs.gpr[kSp] = frame - 0x80;
    f.stack.Set64(frame + 0x18, 0x1212);
    f.stack.Set64(frame + 0x20, 0xBBBB);
    f.stack.Set64(frame + 0x28, kReturn);
    ASSERT_TRUE(f.Unwind(UnwindInfo(
        16, {{16, kSave, kR12, {0x18 / 8}}, {10, kSetFpreg, 0}, {5, kAllocSmall, 3}, {1, kPush, kBp}}, kBp, 1)));
    EXPECT_EQ(f.regs.gpr[kR12], 0x1212u);
    EXPECT_EQ(f.regs.fp(), 0xBBBBu);
    EXPECT_EQ(f.regs.sp(), frame + 0x30);
  }
}

// XMM saves take two slots and change no integer register: the codes after them still count.
TEST(X64Unwind, XmmSavesAreSkippedWithTheirSlots) {
  Fixture f;
  f.stack.Set64(kFrameSp + 0x38, 0xB0B0);
  f.stack.Set64(kFrameSp + 0x40, kReturn);
  ASSERT_TRUE(f.Unwind(UnwindInfo(14, {{14, kSaveXmm, 6, {0x2}}, {5, kAllocSmall, 6}, {1, kPush, kBx}})));
  EXPECT_EQ(f.regs.gpr[kBx], 0xB0B0u);
  EXPECT_EQ(f.regs.ip, kReturn);
  EXPECT_EQ(f.regs.sp(), kFrameSp + 0x48);
}

// A function split in two: the fragment's own codes, then the primary entry's it is chained to.
TEST(X64Unwind, ChainedInfo) {
  Fixture f;
  constexpr uint32_t kPrimaryInfo = 0x2100;
  f.image.Place(kPrimaryInfo, UnwindInfo(5, {{5, kAllocSmall, 6}, {1, kPush, kBx}}));
  const Chain chain{0x0F00, 0x0F80, kPrimaryInfo};
  f.stack.Set64(kFrameSp + 0x20, 0xD1D1);  // saved by the fragment
  f.stack.Set64(kFrameSp + 0x38, 0xB0B0);  // pushed by the primary's prolog
  f.stack.Set64(kFrameSp + 0x40, kReturn);
  ASSERT_TRUE(f.Unwind(UnwindInfo(0, {{0, kSave, kDi, {0x20 / 8}}}, 0, 0, &chain)));
  EXPECT_EQ(f.regs.gpr[kDi], 0xD1D1u);
  EXPECT_EQ(f.regs.gpr[kBx], 0xB0B0u);
  EXPECT_EQ(f.regs.ip, kReturn);
  EXPECT_EQ(f.regs.sp(), kFrameSp + 0x48);
}

// An interrupt or exception handler's frame: the processor pushed RIP, CS, EFLAGS, RSP and SS
// (behind an error code for info 1), and those are the interrupted code's registers.
TEST(X64Unwind, MachineFrames) {
  for (uint8_t info : {0, 1}) {
    Fixture f;
    uint64_t trap = kFrameSp + 0x20 + (info ? 8 : 0);
    f.stack.Set64(trap, 0x140005555);
    f.stack.Set64(trap + 24, 0x1F000);
    bool machine = false;
    ASSERT_TRUE(f.Unwind(UnwindInfo(4, {{4, kAllocSmall, 3}, {0, kMachframe, info}}), false, &machine)) << int(info);
    EXPECT_TRUE(machine);
    EXPECT_EQ(f.regs.ip, 0x140005555u);
    EXPECT_EQ(f.regs.sp(), 0x1F000u);
  }
}

// Where the instruction pointer stopped inside an epilog, the rest of the epilog is what unwinds:
// the prolog codes would undo the allocation twice.
TEST(X64Unwind, EpilogOfTheInnermostFrame) {
  const Buffer info = UnwindInfo(6, {{6, kAllocSmall, 3}, {2, kPush, kBx}});
  const Buffer epilog = {0x48, 0x83, 0xC4, 0x20, 0x5B, 0xC3};                             // add rsp, 0x20; pop rbx; ret
  const Buffer tail_call = {0x48, 0x83, 0xC4, 0x20, 0x5B, 0xE9, 0x00, 0x10, 0x00, 0x00};  // ...; jmp out
  struct Row {
    const char* what;
    Buffer code;
    uint32_t at;        // offset of the instruction pointer in `code`
    uint64_t rsp_then;  // the stack pointer there
  };
  const Row rows[] = {{"at add", epilog, 0, kFrameSp},
                      {"at pop", epilog, 4, kFrameSp + 0x20},
                      {"at ret", epilog, 5, kFrameSp + 0x28},
                      {"tail call", tail_call, 0, kFrameSp}};
  for (const Row& row : rows) {
    Fixture f;
    f.image.Place(kFunction + 0x40, row.code);
    f.regs.ip = kBase + kFunction + 0x40 + row.at;
    f.regs.gpr[kSp] = row.rsp_then;
    f.stack.Set64(kFrameSp + 0x20, 0xB0B0);
    f.stack.Set64(kFrameSp + 0x28, kReturn);
    ASSERT_TRUE(f.Unwind(info, true)) << row.what;
    EXPECT_EQ(f.regs.ip, kReturn) << row.what;
    EXPECT_EQ(f.regs.sp(), kFrameSp + 0x30) << row.what;
    if (row.at <= 4) {
      EXPECT_EQ(f.regs.gpr[kBx], 0xB0B0u) << row.what;
    }
  }
  // Stopped at the pop (the allocation already undone by the add): bytes that jump back into the
  // function are no epilog, and a return address is never in one; either way the prolog's codes
  // apply and undo the allocation again, reading the return address above the real one.
  struct Case {
    const char* what;
    Buffer code;
    bool exact_ip;
  };
  const Case others[] = {{"jump back into the function", {0x48, 0x83, 0xC4, 0x20, 0x5B, 0xEB, 0xF0}, true},
                         {"not the innermost frame", epilog, false}};
  for (const Case& c : others) {
    Fixture f;
    f.image.Place(kFunction + 0x40, c.code);
    f.regs.ip = kBase + kFunction + 0x44;
    f.regs.gpr[kSp] = kFrameSp + 0x20;
    f.stack.Set64(kFrameSp + 0x48, kReturn);
    ASSERT_TRUE(f.Unwind(info, c.exact_ip)) << c.what;
    EXPECT_EQ(f.regs.ip, kReturn) << c.what;
    EXPECT_EQ(f.regs.sp(), kFrameSp + 0x50) << c.what;
  }
}

TEST(X64Unwind, LeafFunction) {
  FakeStack stack(kStack, 0x1000);
  stack.Set64(kStack + 0x100, kReturn);
  ProcessMemory memory;
  memory.Add(stack.Range());
  memory.Seal();
  Registers regs;
  regs.gpr[kSp] = kStack + 0x100;
  ASSERT_TRUE(UnwindX64Leaf(memory, &regs));
  EXPECT_EQ(regs.ip, kReturn);
  EXPECT_EQ(regs.sp(), kStack + 0x108);
}

// Damaged tables and missing memory fail the step and leave the registers as they were, so the
// walk can fall back to scanning from the same place.
TEST(X64Unwind, DamageFailsWithoutChangingTheRegisters) {
  const Chain self{kFunction, kFunctionEnd, kInfo};
  struct Row {
    const char* what;
    Buffer info;
    const char* problem;
  };
  const Row rows[] = {
      {"version 3", UnwindInfo(0, {}, 0, 0, nullptr, 3), "unwind info version 3"},
      {"code past the count", UnwindInfo(4, {{4, kAllocLarge, 1, {0x10}}}), "runs past the code count"},
      {"unknown code", UnwindInfo(4, {{4, 11, 0}}), "unknown unwind code 11"},
      {"chained to itself", UnwindInfo(0, {}, 0, 0, &self), "chained more than"},
      {"stack not in the dump", UnwindInfo(1, {{1, kAllocLarge, 1, {0x0000, 0x10}}}), "is not in the dump"},
  };
  for (const Row& row : rows) {
    Fixture f;
    f.stack.Set64(kFrameSp, kReturn);
    Registers before = f.regs;
    std::string problem;
    EXPECT_FALSE(f.Unwind(row.info, false, nullptr, &problem)) << row.what;
    EXPECT_NE(problem.find(row.problem), std::string::npos) << row.what << ": " << problem;
    EXPECT_EQ(f.regs.ip, before.ip) << row.what;
    EXPECT_EQ(f.regs.sp(), before.sp()) << row.what;
  }
  Fixture f;  // unwind info outside the image
  TestImage tiny;
  tiny.bytes.resize(0x100);
  bool machine;
  std::string problem;
  UnwindInput input{&tiny, kBase, &f.memory, false};
  EXPECT_FALSE(UnwindX64(input, RuntimeFunction{kFunction, kFunctionEnd, 0xFFFFFFF0}, &f.regs, &machine, &problem));
}
