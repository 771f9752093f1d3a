// Output: one line per level call, and the actions its level's flags select, in their fixed
// order L R D M T O U E. The actions that leave the module go through the wiring's platform.
#include <cstring>

#include "crashmodule/bounded_text.h"
#include "crashmodule/log_line.h"
#include "crashmodule/vx_exception.h"
#include "guard/guard.h"

namespace {

constexpr int kExitCode = 1;

}  // namespace

void VXException::Output(const char* message, const char* source, const char* level_name,
                         uint32_t level, uint32_t code_address) {
  // Callers inside the library pass a LogLevel; anything else would read past the level table.
  if (level >= kLogLevelCount) return;
  const uint32_t flags = level_flags_[level];
  const ModulePlatform& platform = *wiring_.platform;

  char line[kLineSize] = {};
  if (!RunGuardedCall(
          [&] { FormatDisplayLine(line, sizeof line, message, source, level_name, code_address); })) {
    std::memset(line, 0, sizeof line);  // a text that faulted half-way is not shown
  }

  if (flags & kLevelFileLog) {
    RunGuardedCall([&] {
      char file_line[kLineSize];
      FormatFileLine(file_line, sizeof file_line, message, level_name, code_address);
      platform.append_to_log_file(log_file_name_, file_line);
    });
  }
  if (flags & kLevelRemoteLog) RunGuardedCall([&] { SendRemoteLog(line); });
  if (flags & kLevelDebugger) RunGuardedCall([&] { platform.send_to_debugger(line); });
  if (flags & kLevelMessageBox) {
    RunGuardedCall([&] { platform.show_message_box(line, message_box_title_); });
  }
  // T, O and U are not guarded: the exception is meant for the host's handlers or the crash
  // filter, and DumpProgram guards itself.
  if (flags & kLevelThrow) {
    CopyText(last_message_, sizeof last_message_, line);
    platform.raise_module_exception();
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
    platform.exit_process(kExitCode);
  }
}
