// Output: one line per level call, and the actions its level's flags select, in their fixed
// order L R D M T O U E.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "crashmodule/bounded_text.h"
#include "crashmodule/log_line.h"
#include "crashmodule/vx_exception.h"
#include "guard/guard.h"

namespace {

constexpr int kExitCode = 1;

// Appends one line to the log file, opened and closed around it so that a crash right after
// loses nothing and other processes may read the file meanwhile. A failure changes nothing else.
void AppendToLogFile(const char* file_name, const char* line) {
  HANDLE file = CreateFileA(file_name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

void VXException::Output(const char* message, const char* source, const char* level_name,
                         uint32_t level, uint32_t code_address) {
  // Callers inside the library pass a LogLevel; anything else would read past the level table.
  if (level >= kLogLevelCount) return;
  const uint32_t flags = level_flags_[level];

  char line[kLineSize] = {};
  if (!RunGuardedCall(
          [&] { FormatDisplayLine(line, sizeof line, message, source, level_name, code_address); })) {
    std::memset(line, 0, sizeof line);  // a text that faulted half-way is not shown
  }

  if (flags & kLevelFileLog) {
    RunGuardedCall([&] {
      char file_line[kLineSize];
      FormatFileLine(file_line, sizeof file_line, message, level_name, code_address);
      AppendToLogFile(log_file_name_, file_line);
    });
  }
  if (flags & kLevelRemoteLog) RunGuardedCall([&] { SendRemoteLog(line); });
  if (flags & kLevelDebugger) RunGuardedCall([&] { OutputDebugStringA(line); });
  if (flags & kLevelMessageBox) {
    RunGuardedCall([&] { MessageBoxA(nullptr, line, message_box_title_, MB_OK); });
  }
  // T, O and U are not guarded: the exception is meant for the host's handlers or the crash
  // filter, and DumpProgram guards itself.
  if (flags & kLevelThrow) {
    CopyText(last_message_, sizeof last_message_, line);
    RaiseException(kModuleExceptionCode, 0, 0, nullptr);
  }
  if (flags & kLevelExceptionDump) {
    CopyText(last_message_, sizeof last_message_, line);
    DumpProgram(kExceptionDump, nullptr, 0);
  }
  if (flags & kLevelUserDump) {
    CopyText(last_message_, sizeof last_message_, line);
    DumpProgram(kUserDump, nullptr, 0);
  }
  if (flags & kLevelExit) {
    const ExitHook hook = exit_hook_;
    if (hook != nullptr) RunGuardedCall([&] { hook(); });
    // The orderly exit: the runtime's exit-time actions run, the module's destruction among them.
    std::exit(kExitCode);
  }
}
