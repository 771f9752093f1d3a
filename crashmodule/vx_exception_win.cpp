// The module's members that need a guarded region or Windows: installing the filter, reading the
// two settings files with the private-profile reader, and ExpandTemplate.
#include <windows.h>

#include "crashcapture/crash_capture.h"
#include "crashmodule/crash_filter_win.h"
#include "crashmodule/expand_template.h"
#include "crashmodule/module_settings.h"
#include "crashmodule/vx_exception.h"
#include "guard/guard.h"

namespace {

class PrivateProfileReader final : public ProfileReader {
 public:
  uint32_t Read(const char* section, const char* key, const char* default_value, char* out,
                uint32_t capacity, const char* path) override {
    return GetPrivateProfileStringA(section, key, default_value, out, capacity, path);
  }
};

}  // namespace

bool VXException::Init() {
  // The filter installed before is dropped, not chained: from now on every unhandled exception
  // of the process is the crash reporter's.
  RunGuardedCall([] { SetUnhandledExceptionFilter(VXExceptionUnhandledExceptionFilter); });
  // dbghelp, the message text and the crash watchdog, while no thread is frozen yet.
  RunGuardedCall([] { PrepareCrashCapture(); });
  return true;
}

bool VXException::LoadVersionInfo(const char* settings_path, const char* version_path) {
  PrivateProfileReader reader;
  bool applied = false;
  const bool completed = RunGuardedCall(
      [&] { applied = ApplyVersionInfo(this, &reader, settings_path, version_path); });
  return completed && applied;
}

bool VXException::LoadSettings(const char* settings_path) {
  PrivateProfileReader reader;
  bool applied = false;
  const bool completed =
      RunGuardedCall([&] { applied = ApplySettings(this, &reader, settings_path); });
  return completed && applied;
}

bool VXException::ExpandTemplate(const char* source, char* destination, size_t destination_size) {
  bool expanded = false;
  const bool completed = RunGuardedCall([&] {
    expanded =
        ExpandTemplateText(source, product_, series_, version_, destination, destination_size);
  });
  return completed && expanded;
}
