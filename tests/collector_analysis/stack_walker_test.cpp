// The stack walk on hand-made stacks: the i686 frame-pointer chain, x64 unwind tables from a small
// PE file, the scan with its checks, and the bounds that hold for any input.
#include "stack_walker.h"

#include <gtest/gtest.h>

#include "analysis_test_support.h"
#include "call_site.h"
#include "pe_image.h"

using namespace collector;
using namespace analysis_test;

namespace {

constexpr uint64_t kGame = 0x400000;  // an i686 module without a binary at hand
constexpr uint64_t kStackBase = 0x100000;

struct X86Walk {
  FakeStack stack;
  ModuleMap modules{{MappedModule{kGame, 0x10000, nullptr}}};
  ProcessMemory memory;

  explicit X86Walk(size_t stack_size = 0x2000) : stack(kStackBase, stack_size) {}

  std::vector<WalkedFrame> Run(uint32_t eip, uint32_t esp, uint32_t ebp, size_t max_frames = 64) {
    memory = ProcessMemory();
    memory.Add(stack.Range());
    memory.Seal();
    Registers regs;
    regs.ip = eip;
    regs.gpr[kSp] = esp;
    regs.gpr[kBp] = ebp;
    return WalkStack(WalkInput{Cpu::kX86, &memory, &modules, max_frames}, regs);
  }
  // A frame record at `fp`: the caller's ebp, then the return address.
  void Frame(uint32_t fp, uint32_t saved_fp, uint32_t ret) {
    stack.Set32(fp, saved_fp);
    stack.Set32(fp + 4, ret);
  }
};

std::vector<uint64_t> Instructions(const std::vector<WalkedFrame>& frames) {
  std::vector<uint64_t> out;
  for (const WalkedFrame& f : frames) out.push_back(f.instruction);
  return out;
}

}  // namespace

TEST(StackWalk, X86FramePointerChain) {
  X86Walk w;
  w.Frame(0x100010, 0x100030, 0x402000);
  w.Frame(0x100030, 0x100050, 0x403000);
  w.Frame(0x100050, 0, 0);  // the thread's first frame returns to nothing
  auto frames = w.Run(0x401000, 0x100000, 0x100010);
  EXPECT_EQ(Instructions(frames), (std::vector<uint64_t>{0x401000, 0x402000, 0x403000}));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].trust, FrameTrust::kContext);
  EXPECT_FALSE(frames[0].after_call);
  EXPECT_EQ(frames[1].trust, FrameTrust::kFramePointer);
  EXPECT_TRUE(frames[1].after_call);
  EXPECT_EQ(frames[2].trust, FrameTrust::kFramePointer);
}

// Without a usable frame pointer the scan takes the first word that points into a module's code:
// not a value outside every module, not the headers' page.
TEST(StackWalk, X86ScanWhereTheChainBreaks) {
  X86Walk w;
  w.stack.Set32(0x100000, 0x12345);   // outside every module
  w.stack.Set32(0x100004, 0x400010);  // the module's headers
  w.stack.Set32(0x100008, 0x402000);  // code
  w.stack.Set32(0x100024, 0x403000);  // the next return address up, found by scanning on
  auto frames = w.Run(0x401000, 0x100000, /*ebp below the stack: no frame record*/ 0x1000);
  EXPECT_EQ(Instructions(frames), (std::vector<uint64_t>{0x401000, 0x402000, 0x403000}));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1].trust, FrameTrust::kScan);
  EXPECT_EQ(frames[2].trust, FrameTrust::kScan);
}

// Whatever the stack holds, the walk ends: the stack pointer must grow, and frames are capped.
TEST(StackWalk, BoundedOnHostileStacks) {
  {
    X86Walk w;  // a frame record that points at itself
    w.Frame(0x100010, 0x100010, 0x402000);
    auto frames = w.Run(0x401000, 0x100000, 0x100010);
    EXPECT_EQ(Instructions(frames), (std::vector<uint64_t>{0x401000, 0x402000}));
  }
  {
    X86Walk w;  // two records that point at each other
    w.Frame(0x100010, 0x100030, 0x402000);
    w.Frame(0x100030, 0x100010, 0x403000);
    EXPECT_LE(w.Run(0x401000, 0x100000, 0x100010).size(), 3u);
  }
  {
    X86Walk w;  // a long sound chain, cut at max_frames
    for (uint32_t i = 0; i < 100; ++i) w.Frame(0x100010 + 16 * i, 0x100010 + 16 * (i + 1), 0x402000 + i);
    EXPECT_EQ(w.Run(0x401000, 0x100000, 0x100010, 10).size(), 10u);
  }
  {
    X86Walk w(0x14000);  // every word points into code: the scan's budget ends it
    for (uint32_t a = 0x100000; a < 0x114000; a += 4) w.stack.Set32(a, 0x402000);
    EXPECT_EQ(w.Run(0x401000, 0x100000, 0, 100000).size(), kMaxScanWords + 1);
  }
  X86Walk w;
  EXPECT_TRUE(WalkStack(WalkInput{Cpu::kUnknown, &w.memory, &w.modules, 64}, Registers()).empty());
  EXPECT_TRUE(w.Run(0x401000, 0x100000, 0, 0).empty());
}

namespace {

// game.exe for x64: A (0x1000) calls B (0x1100), which calls the leaf C (0x1200); each call is an
// E8 with the return address just after it. The .pdata and .xdata are A's and B's.
struct X64Game {
  static constexpr uint64_t kBase = 0x140000000;
  PeImage image;
  X64Game() {
    Buffer text(0x300, 0xCC);
    const uint8_t call[] = {0xE8, 0xEB, 0x00, 0x00, 0x00};
    std::memcpy(text.data() + 0x10, call, 5);   // in A: returns to 0x1015
    std::memcpy(text.data() + 0x120, call, 5);  // in B: returns to 0x1125
    Buffer pdata;
    for (uint32_t v : {0x1000u, 0x1040u, 0x3000u, 0x1100u, 0x1140u, 0x3010u}) Put(&pdata, v);
    Buffer xdata = UnwindInfo(5, {{5, 2, 3}, {1, 0, 3}});  // A: push rbx; sub rsp, 0x20
    PadTo(&xdata, 0x10);
    Append(&xdata, UnwindInfo(4, {{4, 2, 4}}));  // B: sub rsp, 0x28
    Buffer file = BuildPe(true, 0x5F000000, 0x4000,
                          {{".text", 0x1000, text, kCodeSection},
                           {".pdata", 0x2000, pdata, kDataSection},
                           {".xdata", 0x3000, xdata, kDataSection}},
                          {0x2000, static_cast<uint32_t>(pdata.size())});
    std::string problem;
    if (!image.Load(file, &problem)) ADD_FAILURE() << problem;
  }
};

}  // namespace

TEST(StackWalk, X64UnwindTablesThenTheEnd) {
  X64Game game;
  ModuleMap modules({MappedModule{X64Game::kBase, 0x4000, &game.image}});
  FakeStack stack(0x20000, 0x1000);
  const uint64_t sp = 0x20100;
  stack.Set64(sp, X64Game::kBase + 0x1125);             // C is a leaf: its return address is at rsp
  stack.Set64(sp + 8 + 0x28, X64Game::kBase + 0x1015);  // above B's 0x28 bytes
  uint64_t a_sp = sp + 8 + 0x30;
  stack.Set64(a_sp + 0x20, 0xB0B0);  // A's pushed rbx
  stack.Set64(a_sp + 0x28, 0);       // A returns to nothing: the thread's end
  ProcessMemory memory;
  memory.Add(stack.Range());
  memory.Seal();
  Registers regs;
  regs.ip = X64Game::kBase + 0x1210;
  regs.gpr[kSp] = sp;
  auto frames = WalkStack(WalkInput{Cpu::kAmd64, &memory, &modules, 64}, regs);
  EXPECT_EQ(Instructions(frames),
            (std::vector<uint64_t>{X64Game::kBase + 0x1210, X64Game::kBase + 0x1125, X64Game::kBase + 0x1015}));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1].trust, FrameTrust::kUnwindInfo);
  EXPECT_EQ(frames[2].trust, FrameTrust::kUnwindInfo);
}

// A crash in a module without a binary: the scan skips a pointer into the game's code that no call
// precedes, takes the one that follows a call, and the game's tables take over from there.
TEST(StackWalk, X64ScanChecksTheCallThenTablesTakeOver) {
  X64Game game;
  const uint64_t system = 0x170000000;
  ModuleMap modules({MappedModule{X64Game::kBase, 0x4000, &game.image}, MappedModule{system, 0x100000, nullptr}});
  FakeStack stack(0x20000, 0x1000);
  const uint64_t sp = 0x20100;
  stack.Set64(sp, X64Game::kBase + 0x1016);      // in A's code, but no call before it
  stack.Set64(sp + 8, X64Game::kBase + 0x1015);  // after A's call
  uint64_t a_sp = sp + 16;
  stack.Set64(a_sp + 0x28, 0);
  ProcessMemory memory;
  memory.Add(stack.Range());
  memory.Seal();
  Registers regs;
  regs.ip = system + 0x5000;
  regs.gpr[kSp] = sp;
  auto frames = WalkStack(WalkInput{Cpu::kAmd64, &memory, &modules, 64}, regs);
  EXPECT_EQ(Instructions(frames), (std::vector<uint64_t>{system + 0x5000, X64Game::kBase + 0x1015}));
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[1].trust, FrameTrust::kScan);
}

// The call check on the encodings compilers emit before a return address.
TEST(CallSite, EncodingsOfCall) {
  struct Row {
    const char* what;
    Buffer before;
    bool call;
  };
  const Row rows[] = {
      {"call rel32", {0x90, 0x90, 0xE8, 0x10, 0x20, 0x30, 0x40}, true},
      {"call [rip+disp32]", {0x90, 0xFF, 0x15, 0x10, 0x20, 0x30, 0x40}, true},
      {"call rax", {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0xD0}, true},
      {"call r11", {0x90, 0x90, 0x90, 0x90, 0x41, 0xFF, 0xD3}, true},
      {"call [rax]", {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0x10}, true},
      {"call [ebp+8]", {0x90, 0x90, 0x90, 0x90, 0xFF, 0x55, 0x08}, true},
      {"call [esp]", {0x90, 0x90, 0x90, 0x90, 0xFF, 0x14, 0x24}, true},
      {"call [esp+disp8]", {0x90, 0x90, 0x90, 0xFF, 0x54, 0x24, 0x10}, true},
      {"call [rax+disp32]", {0x90, 0xFF, 0x90, 0x00, 0x01, 0x00, 0x00}, true},
      {"call [eax*4+disp32]", {0xFF, 0x14, 0x85, 0x00, 0x10, 0x40, 0x00}, true},
      {"jmp rax", {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0xE0}, false},
      {"push [rax]", {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0x30}, false},
      {"ModRM longer than what follows", {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0x15}, false},
      {"no call", {0x48, 0x83, 0xC4, 0x28, 0x5B, 0x5E, 0xC3}, false},
      {"nothing before", {}, false},
  };
  for (const Row& row : rows) EXPECT_EQ(EndsWithCall(View(row.before)), row.call) << row.what;
}
