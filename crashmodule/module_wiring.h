// What the module object reaches outside its own folder, as two small tables of functions: the
// crash capture (install the filter, write a dump, ask the user) and the platform calls behind
// the settings loads and the log levels. The library fills both in its wiring file as constants,
// so they are in place before the module's own static construction reads the settings and before
// any log level asks for a dump; tests hand in tables that record what they are asked.
#pragma once

#include <cstdint>

#include "crashmodule/module_types.h"

class ProfileReader;
class VXException;
struct _EXCEPTION_POINTERS;

struct CrashCaptureOps {
  // Makes VXExceptionUnhandledExceptionFilter the process's top-level filter and prepares what the
  // crash path would otherwise have to load or allocate while the other threads are frozen.
  void (*install_filter)(VXException* module);
  // DumpProgram's work. For kCrashDump it ends the process once it gets to the end.
  bool (*write_dump)(VXException* module, uint32_t kind, _EXCEPTION_POINTERS* exception);
  // ShowUserInfoDialog's work: true when the dialog ran and ended, by its button or, after
  // timeout_seconds without the user (0 for no limit), by itself, with what was typed.
  bool (*ask_user)(const DumpFormat& format, UserInfo* info, uint32_t timeout_seconds);
};

// The actions of the level flags that leave the module, one per letter, and the settings reader.
struct ModulePlatform {
  ProfileReader* settings;  // HVModule.dat and Version.dat
  void (*append_to_log_file)(const char* file_name, const char* line);  // L
  void (*send_to_debugger)(const char* line);                           // D
  void (*show_message_box)(const char* line, const char* title);        // M
  void (*raise_module_exception)();                                     // T: kModuleExceptionCode
  void (*exit_process)(int exit_code);  // E: the orderly exit, with the runtime's exit actions
};

struct ModuleWiring {
  const CrashCaptureOps* capture;
  const ModulePlatform* platform;
};
