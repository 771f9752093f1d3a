#include "crash_path_doubles_win.h"

#include <windows.h>

#include "crashcapture/crash_capture.h"
#include "crashmodule/crash_filter_win.h"
#include "crashmodule/vx_exception.h"

std::vector<DumpCall> g_dump_calls;
std::vector<std::string> g_events;

bool VXException::DumpProgram(uint32_t kind, struct _EXCEPTION_POINTERS* exception, uint32_t) {
  g_dump_calls.push_back({kind, exception != nullptr, GetLastMessage()});
  g_events.push_back(kind == kExceptionDump ? "O" : kind == kUserDump ? "U" : "crash dump");
  return true;
}

bool VXException::ShowUserInfoDialog(DumpFormat*, UserInfo*) { return false; }

LONG WINAPI VXExceptionUnhandledExceptionFilter(EXCEPTION_POINTERS* pointers) {
  ExitProcess(pointers->ExceptionRecord->ExceptionCode == kModuleExceptionCode
                  ? kFilterReachedByModuleException
                  : kFilterReachedByOther);
}

bool PrepareCrashCapture() { return true; }
