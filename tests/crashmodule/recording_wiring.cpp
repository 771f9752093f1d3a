#include "recording_wiring.h"

ModuleRecord g_module_record;
MapProfileReader g_recorded_settings;

namespace {

void InstallFilter(VXException*) { g_module_record.events.push_back("install"); }

bool WriteDump(VXException* module, uint32_t kind, _EXCEPTION_POINTERS* exception) {
  g_module_record.dump_calls.push_back({kind, exception != nullptr, module->GetLastMessage()});
  g_module_record.events.push_back(kind == kExceptionDump ? "O" : kind == kUserDump ? "U" : "crash dump");
  return true;
}

bool AskUser(const DumpFormat&, UserInfo*, uint32_t timeout_seconds) {
  g_module_record.events.push_back("ask");
  g_module_record.ask_timeouts.push_back(timeout_seconds);
  return false;
}

void AppendToLogFile(const char* file_name, const char* line) {
  g_module_record.events.push_back("L");
  g_module_record.log_lines.push_back(std::string(file_name) + "|" + line);
}

void SendToDebugger(const char* line) {
  g_module_record.events.push_back("D");
  g_module_record.debugger_lines.push_back(line);
}

void ShowMessageBox(const char* line, const char* title) {
  g_module_record.events.push_back("M");
  g_module_record.message_boxes.push_back(std::string(title) + "|" + line);
}

void RaiseModuleException() { g_module_record.events.push_back("T"); }

void ExitProcessRecorded(int exit_code) {
  g_module_record.events.push_back("E");
  g_module_record.exit_code = exit_code;
}

}  // namespace

const CrashCaptureOps kRecordingCapture = {InstallFilter, WriteDump, AskUser};

const ModulePlatform kRecordingPlatform = {
    &g_recorded_settings, AppendToLogFile,      SendToDebugger,
    ShowMessageBox,       RaiseModuleException, ExitProcessRecorded,
};
