// Crashes made by hand, with the frames, symbols and modules a stack walk and a symbolizer would
// give, for the store's, the grouping's and the pages' tests, which must not depend on the
// analysis itself.
#pragma once

#include <string>

#include "store/store_records.h"

namespace collector_test {

// A GBK text as the client sends it: "游戏崩溃" ("the game crashed") and ASCII around it.
inline const std::string kGbkText = "\xD3\xCE\xCF\xB7\xB1\xC0\xC0\xA3 at level 3";
// What a hostile player may type, and what a page must show as text.
inline const std::string kScriptText = "<script>document.title='pwned'</script><b>bold?</b> & \"quoted\"";

inline collector::AnalyzedFrame Frame(uint64_t address, int module, uint64_t base, collector::FrameTrust trust,
                                      const std::string& function, const std::string& file, uint32_t line) {
  collector::AnalyzedFrame f;
  f.instruction = address;
  f.module = module;
  f.module_offset = address - base;
  f.trust = trust;
  if (!function.empty()) f.symbols.push_back({function, file, line});
  return f;
}

// A crash in the game's own code: DrawScene called from RunFrame called from WinMain, the first
// frame with an inlined function, one frame inside the system and one outside every module.
inline collector::StoredCrash HandMadeCrash(const std::string& machine, double received, const std::string& signature) {
  using collector::FrameTrust;
  collector::StoredCrash c;
  c.received = received;
  c.source = "network";
  c.sender = 0x7F000001;
  c.machine_id = machine;
  c.identities = collector::Identities{300, 20, 4242};
  c.dir = "/nowhere/report-1";
  c.package_bytes = 52185;
  c.minidump_bytes = 224625;
  c.minidump_valid = true;
  c.extra_info = "[" + kGbkText + "] Exception at frame 1024";
  c.user_info1 = "I pressed fire";
  c.user_info2 = std::string();
  c.user_info3 = kScriptText;
  collector::CrashAnalysis& a = c.analysis;
  a.cpu = "amd64";
  a.has_exception = true;
  a.exception_code = 0xC0000005;
  a.exception_name = "EXCEPTION_ACCESS_VIOLATION";
  a.exception_address = 0x140001234;
  a.crashed_thread_id = 36;
  a.signature = signature;
  a.modules.push_back({"Z:\\games\\demo_host.exe", "demo_host.exe", 0x140000000, 0x20000, 0x65000000, "", "6500000020000",
                       false, false, true, false, ""});
  a.modules.push_back({"C:\\windows\\system32\\ntdll.dll", "ntdll.dll", 0x7FFF0000, 0x100000, 1, "ntdll.pdb",
                       "0123456789ABCDEF0123456789ABCDEF1", true, false, false, false, ""});
  collector::AnalyzedThread crashed;
  crashed.thread_id = 36;
  crashed.crashed = true;
  collector::AnalyzedFrame top = Frame(0x140001234, 0, 0x140000000, FrameTrust::kContext, "Vec3::Length", "src/vec3.h", 12);
  top.symbols.push_back({"DrawScene(Scene const&)", "src/render.cpp", 88});
  crashed.frames.push_back(top);
  crashed.frames.push_back(Frame(0x140002000, 0, 0x140000000, FrameTrust::kUnwindInfo, "RunFrame<Game>(int)",
                                 "src/game.cpp", 140));
  crashed.frames.push_back(Frame(0x140003000, 0, 0x140000000, FrameTrust::kFramePointer, "WinMain", "src/main.cpp", 20));
  crashed.frames.push_back(Frame(0x7FFF1000, 1, 0x7FFF0000, FrameTrust::kScan, "", "", 0));
  crashed.frames.push_back(Frame(0x1000, -1, 0, FrameTrust::kScan, "", "", 0));
  a.threads.push_back(crashed);
  collector::AnalyzedThread idle;
  idle.thread_id = 240;
  idle.frames.push_back(Frame(0x7FFF2000, 1, 0x7FFF0000, FrameTrust::kContext, "NtWaitForSingleObject", "", 0));
  a.threads.push_back(idle);
  a.notes.push_back("the stack of thread 240 ends in a frame outside every module");
  return c;
}

}  // namespace collector_test
