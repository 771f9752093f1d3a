// Wiring for a module object under test: a crash capture that records what the module asks of it,
// and a platform that records the level actions instead of performing them, its settings read from
// a map the test fills.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crashmodule/vx_exception.h"
#include "map_profile_reader.h"

struct DumpCall {
  uint32_t kind;
  bool had_exception_pointers;
  std::string last_message;  // LastMessage when the dump was asked for
};

// What the recording tables were asked, since the last Clear.
struct ModuleRecord {
  // Every action in the order it happened: "L" (with the file's name and line in log_lines),
  // "D", "M", "T", "E", and the capture's "O", "U", "crash dump", "install", "ask".
  std::vector<std::string> events;
  std::vector<DumpCall> dump_calls;
  std::vector<std::string> log_lines;       // "file name|line"
  std::vector<std::string> debugger_lines;
  std::vector<std::string> message_boxes;   // "title|line"
  std::vector<uint32_t> ask_timeouts;       // the dialog's time limit of every "ask"
  int exit_code = -1;

  void Clear() { *this = ModuleRecord(); }
};

extern ModuleRecord g_module_record;
// What the recording platform's settings reader answers.
extern MapProfileReader g_recorded_settings;

extern const CrashCaptureOps kRecordingCapture;
extern const ModulePlatform kRecordingPlatform;

// A module object with both recording tables.
class RecordingModule : public VXException {
 public:
  RecordingModule() : VXException(ModuleWiring{&kRecordingCapture, &kRecordingPlatform}) {}
};
