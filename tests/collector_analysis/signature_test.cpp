// The signature rules, one row per rule and boundary; the exception names and the module kinds
// the rules rest on.
#include <gtest/gtest.h>

#include "crash_analysis.h"
#include "exception_names.h"
#include "module_kinds.h"

using namespace collector;

namespace {

// Modules by index: 0 game.exe, 1 ntdll.dll, 2 VXIdent.dll, 3 KERNELBASE.dll, 4 nvwgf2umx.dll.
CrashAnalysis WithModules() {
  CrashAnalysis a;
  for (const char* name : {"game.exe", "ntdll.dll", "VXIdent.dll", "KERNELBASE.dll", "nvwgf2umx.dll"}) {
    AnalyzedModule m;
    m.name = name;
    a.modules.push_back(m);
  }
  SymbolizeAnalysis(&a, AnalysisOptions());  // classifies the modules; no symbols folder, no symbolizer run
  return a;
}

// A frame in `module` (-1: none) at `offset`, with its functions innermost first ("" for none).
AnalyzedFrame F(int module, uint64_t offset, std::vector<std::string> functions = {}) {
  AnalyzedFrame f;
  f.module = module;
  f.module_offset = offset;
  f.instruction = 0x10000 + offset;
  for (const std::string& name : functions) f.symbols.push_back(SourceLocation{name, "a.cpp", 1});
  return f;
}

}  // namespace

TEST(CrashSignature, Rules) {
  struct Row {
    const char* what;
    std::vector<AnalyzedFrame> frames;
    const char* signature;
  };
  const Row rows[] = {
      {"the top three named frames",
       {F(0, 1, {"Render"}), F(0, 2, {"Frame"}), F(0, 3, {"Loop"}), F(0, 4, {"main"})},
       "Render | Frame | Loop"},
      {"fewer frames than three", {F(0, 1, {"Render"})}, "Render"},
      {"system modules skipped, in any case", {F(1, 0x10, {"RtlFreeHeap"}), F(3, 0x20), F(0, 1, {"Unload"})}, "Unload"},
      {"our library skipped", {F(2, 0x10, {"VXExceptionUnhandledExceptionFilter"}), F(0, 1, {"Tick"})}, "Tick"},
      {"unsymbolized frames as module+offset", {F(0, 0x1a2b), F(0, 0x30, {"Caller"})}, "game.exe+0x1a2b | Caller"},
      {"outside every module", {F(-1, 0), F(0, 1, {"CallThroughNull"})}, "@0x10000 | CallThroughNull"},
      {"prefix functions named but not counted",
       {F(0, 1, {"memcpy"}), F(0, 2, {"operator new(unsigned long long)"}), F(0, 3, {"A"}), F(0, 4, {"B"}),
        F(0, 5, {"C"})},
       "memcpy | operator new(unsigned long long) | A | B | C"},
      {"inlined functions innermost first",
       {F(0, 1, {"Inner", "Outer"}), F(0, 2, {"Caller"})},
       "Inner | Outer | Caller"},
      {"GCC's clone suffixes dropped",
       {F(0, 1, {"(anonymous namespace)::Gamma(int) (.constprop.0)"}), F(0, 2, {"Beta(int) (.isra.0) (.cold)"})},
       "(anonymous namespace)::Gamma(int) | Beta(int)"},
      {"a driver is not a system module", {F(4, 0x99), F(0, 1, {"Present"})}, "nvwgf2umx.dll+0x99 | Present"},
      {"all in system modules: where it died", {F(1, 0x10), F(3, 0x20)}, "ntdll.dll+0x10"},
      {"no frames", {}, ""},
  };
  for (const Row& row : rows) {
    CrashAnalysis a = WithModules();
    AnalyzedThread other;
    other.frames = {F(0, 9, {"NotTheCrashedThread"})};
    AnalyzedThread crashed;
    crashed.crashed = true;
    crashed.frames = row.frames;
    a.threads = {other, crashed};
    EXPECT_EQ(CrashSignature(a), row.signature) << row.what;
  }
  CrashAnalysis none = WithModules();  // no thread known as the crashed one
  none.threads.resize(1);
  none.threads[0].frames = {F(0, 1, {"Render"})};
  EXPECT_EQ(CrashSignature(none), "");
}

TEST(CrashSignature, ModuleKinds) {
  struct Row {
    const char* name;
    bool system, ours;
  };
  const Row rows[] = {{"ntdll.dll", true, false},
                      {"KERNEL32.DLL", true, false},
                      {"VCRUNTIME140.dll", true, false},
                      {"msvcp140_1.dll", true, false},
                      {"api-ms-win-crt-runtime-l1-1-0.dll", true, false},
                      {"ucrtbase.dll", true, false},
                      {"VXIdent.dll", false, true},
                      {"vxident.DLL", false, true},
                      {"game.exe", false, false},
                      {"d3d11.dll", false, false},
                      {"ntdll.dll.bak", false, false},
                      {"", false, false}};
  for (const Row& row : rows) {
    EXPECT_EQ(IsSystemModule(row.name), row.system) << row.name;
    EXPECT_EQ(IsOurLibrary(row.name), row.ours) << row.name;
  }
}

TEST(CrashSignature, ExceptionNamesAndDetail) {
  EXPECT_STREQ(ExceptionName(0xC0000005), "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_STREQ(ExceptionName(0xC00000FD), "EXCEPTION_STACK_OVERFLOW");
  EXPECT_STREQ(ExceptionName(0xE06D7363), "MSVC_CPP_EXCEPTION");
  EXPECT_STREQ(ExceptionName(0xFFFF0002), "VXEXCEPTION_LOG_LEVEL");
  EXPECT_STREQ(ExceptionName(0x12345678), "");
  EXPECT_EQ(ExceptionDetail(0xC0000005, {1, 0}, 8), "write to 0x0000000000000000");
  EXPECT_EQ(ExceptionDetail(0xC0000005, {0, 0x1234}, 4), "read from 0x00001234");
  EXPECT_EQ(ExceptionDetail(0xC0000005, {8, 0x401000}, 4), "execute at 0x00401000");
  EXPECT_EQ(ExceptionDetail(0xC0000005, {1}, 8), "");  // a record without its address
  EXPECT_EQ(ExceptionDetail(0xC0000094, {1, 0}, 8), "");
}
