#include "crashmodule/module_platform_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "crashmodule/module_settings.h"

namespace {

class PrivateProfileReader final : public ProfileReader {
 public:
  uint32_t Read(const char* section, const char* key, const char* default_value, char* out,
                uint32_t capacity, const char* path) override {
    return GetPrivateProfileStringA(section, key, default_value, out, capacity, path);
  }
};

// No constructor to run: the reader is in place before any static constructor of the library.
PrivateProfileReader g_private_profile_reader;

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

void SendToDebugger(const char* line) { OutputDebugStringA(line); }

void ShowMessageBox(const char* line, const char* title) { MessageBoxA(nullptr, line, title, MB_OK); }

void RaiseModuleException() { RaiseException(kModuleExceptionCode, 0, 0, nullptr); }

// The orderly exit: the runtime's exit-time actions run, the module's destruction among them.
void ExitProcessOrderly(int exit_code) { std::exit(exit_code); }

}  // namespace

const ModulePlatform kWindowsModulePlatform = {
    &g_private_profile_reader, AppendToLogFile,      SendToDebugger,
    ShowMessageBox,            RaiseModuleException, ExitProcessOrderly,
};
