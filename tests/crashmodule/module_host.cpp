// A host process for what ends a process: the E action and an unhandled 0xFFFF0002, and for the
// settings read while the library loads. The mode is the one argument.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crashmodule/module_platform_win.h"
#include "crashmodule/vx_exception.h"
#include "module_host_codes.h"

namespace {

// The stand-in for the crash capture's filter: tells the test which exception reached it.
LONG WINAPI ReportFilter(EXCEPTION_POINTERS* pointers) {
  ExitProcess(pointers->ExceptionRecord->ExceptionCode == kModuleExceptionCode
                  ? kFilterReachedByModuleException
                  : kFilterReachedByOther);
}

void InstallReportFilter(VXException*) { SetUnhandledExceptionFilter(ReportFilter); }
bool NoDump(VXException*, uint32_t, _EXCEPTION_POINTERS*) { return false; }
bool NoDialog(const DumpFormat&, UserInfo*, uint32_t) { return false; }

constexpr CrashCaptureOps kHostCapture = {InstallReportFilter, NoDump, NoDialog};

// Constructed while the host loads, as the library's module is while the library loads: it reads
// the settings files of the directory the process starts in.
VXException g_module(ModuleWiring{&kHostCapture, &kWindowsModulePlatform});

constexpr int kReturned = 9;  // the level came back, which none of the ending modes may do
constexpr int kUsage = 2;

volatile int* volatile g_null = nullptr;

void Mark(const char* text) {
  if (FILE* marker = std::fopen("exit_marker.txt", "ab")) {
    std::fputs(text, marker);
    std::fclose(marker);
  }
}

void MarkingExitHook() { Mark("hook\n"); }
void FaultingExitHook() {
  Mark("hook\n");
  *g_null = 1;
}
void AtExit() { Mark("atexit\n"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return kUsage;
  VXException* module = &g_module;
  const char* mode = argv[1];
  if (std::strcmp(mode, "settings") == 0) {
    // Read at load, from the directory the process started in.
    return static_cast<int>(module->GetLevelFlags(kLogDebug));
  }
  std::atexit(AtExit);
  if (std::strcmp(mode, "exit") == 0) {
    module->SetExitHook(MarkingExitHook);
    module->FatalException("fatal", "host");  // defaults: E M
  } else if (std::strcmp(mode, "exit-hook-faults") == 0) {
    module->SetExitHook(FaultingExitHook);
    module->FatalException("fatal", "host");
  } else if (std::strcmp(mode, "exit-without-hook") == 0) {
    module->FatalException("fatal", "host");
  } else if (std::strcmp(mode, "unhandled-exception-level") == 0) {
    module->Init();
    module->Exception("nobody handles this", "host");  // defaults: T D
  } else {
    return kUsage;
  }
  return kReturned;
}
