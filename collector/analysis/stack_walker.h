// The stack walk of one thread: frame 0 from its context, then each caller in turn, found the most
// trustworthy way the dump and the symbols folder allow. x64: the module's unwind tables when its
// binary is at hand; i686: the saved frame-pointer chain; else, and wherever those fail, a scan of
// the stack memory for a return address into a module's code. Every frame says how it was found.
//
// Bounded whatever the input: at most max_frames frames, the stack pointer must grow with every
// frame (so no frame repeats), and a scan reads at most kMaxScanWords words per thread.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu_context.h"
#include "crash_analysis.h"
#include "module_map.h"
#include "process_memory.h"

namespace collector {

// Words a scan looks at for one return address, and for the whole thread: a game's frames are
// rarely above a few hundred bytes, and the whole thread's budget is a 128 KiB x64 stack.
constexpr size_t kScanWordsPerFrame = 512;
constexpr size_t kMaxScanWords = 16384;

struct WalkedFrame {
  uint64_t instruction = 0;
  FrameTrust trust = FrameTrust::kScan;
  // A return address: the call lies just before it, which is where to look up its function and
  // line. False for frame 0 and for a frame a machine frame gave.
  bool after_call = false;
};

struct WalkInput {
  Cpu cpu = Cpu::kUnknown;
  const ProcessMemory* memory = nullptr;
  const ModuleMap* modules = nullptr;
  size_t max_frames = 64;
};

std::vector<WalkedFrame> WalkStack(const WalkInput& input, const Registers& context);

}  // namespace collector
