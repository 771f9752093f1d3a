// The crash-reporting module object: every setting of the crash reporter and the logging levels.
// Portable: no <windows.h>. What it does outside its own state (the crash capture, the settings
// files, the platform calls of the levels) goes through the tables of its ModuleWiring.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crashmodule/module_types.h"
#include "crashmodule/module_wiring.h"

struct _EXCEPTION_POINTERS;

// Field capacities, terminator included.
constexpr size_t kMessageBoxTitleSize = 64;
constexpr size_t kLogFileNameSize = 64;
constexpr size_t kRemoteLogServerSize = 256;
constexpr size_t kProductSize = 64;
constexpr size_t kSeriesSize = 64;
constexpr size_t kVersionSize = 32;
// The display line of a level, and the working buffers of ExpandTemplate and the letter codes.
constexpr size_t kLineSize = 1024;

// How long the user-description dialog waits for its button before the crash report goes on with
// what was typed: behind a frozen full-screen game nobody may ever see it. 0 waits without end.
constexpr uint32_t kDefaultUserInfoTimeoutSeconds = 120;
constexpr uint32_t kMaxUserInfoTimeoutSeconds = 24 * 60 * 60;  // longer limits are cut to a day

struct ModuleVersion {
  uint32_t major;  // 0x00030000
  uint32_t minor;  // 0x00020000
};

// The abstract base of a module object; the order of declaration is the order of the table.
class IModule {
 public:
  virtual ~IModule() {}
  virtual void AddRef() = 0;
  virtual uint32_t GetRefCount() = 0;
  virtual uint32_t Release() = 0;
  virtual void GetVersion(ModuleVersion* version) = 0;
  virtual const char* GetName() = 0;
};

class VXException : public IModule {
 public:
  // Sets every default, then reads .\Version.dat and .\HVModule.dat from the current directory
  // through the wiring's settings reader. Both tables of the wiring outlive the object.
  explicit VXException(const ModuleWiring& wiring);
  ~VXException() override;

  void AddRef() override;
  uint32_t GetRefCount() override;
  // Returns the count and leaves it: the only instance is static and must never be freed.
  uint32_t Release() override;
  void GetVersion(ModuleVersion* version) override;
  const char* GetName() override;

  // Makes VXExceptionUnhandledExceptionFilter the process's top-level filter. Always true.
  virtual bool Init();

  virtual bool SetLevelFlags(uint32_t level, uint32_t flags);
  virtual uint32_t GetLevelFlags(uint32_t level);  // 0xFFFFFFFF for a level of 7 or more

  virtual void SetMessageBoxTitle(const char* title);
  virtual const char* GetMessageBoxTitle();
  virtual void SetExitHook(ExitHook hook);
  virtual ExitHook GetExitHook();
  virtual void SetLogFormat(uint32_t flags, const char* file_name);
  virtual uint32_t GetLogFormat(const char** file_name);
  virtual void SetRemoteLogServer(const char* server);
  virtual const char* GetRemoteLogServer();

  // A Set clears the whole record first, so a null text leaves its field empty. Always true.
  // A Get needs the flags and callback pointers; each text pointer given is pointed at the field.
  virtual bool SetCrashDumpFormat(uint32_t flags, const char* server, ExtraInfoCallback callback,
                                  const char* title, const char* info1, const char* info2,
                                  const char* info3);
  virtual bool GetCrashDumpFormat(uint32_t* flags, const char** server,
                                  ExtraInfoCallback* callback, const char** title,
                                  const char** info1, const char** info2, const char** info3);
  virtual bool SetExceptionDumpFormat(uint32_t flags, const char* server,
                                      ExtraInfoCallback callback, const char* title,
                                      const char* info1, const char* info2, const char* info3);
  virtual bool GetExceptionDumpFormat(uint32_t* flags, const char** server,
                                      ExtraInfoCallback* callback, const char** title,
                                      const char** info1, const char** info2, const char** info3);
  virtual bool SetUserDumpFormat(uint32_t flags, const char* server, ExtraInfoCallback callback,
                                 const char* title, const char* info1, const char* info2,
                                 const char* info3);
  virtual bool GetUserDumpFormat(uint32_t* flags, const char** server,
                                 ExtraInfoCallback* callback, const char** title,
                                 const char** info1, const char** info2, const char** info3);

  // Null paths mean .\HVModule.dat and .\Version.dat. False when a fault ends the load; what was
  // applied before the fault stays.
  virtual bool LoadVersionInfo(const char* settings_path, const char* version_path);
  virtual bool SetVersionInfo(const char* product, const char* series, const char* version);
  virtual bool LoadSettings(const char* settings_path);

  // The seven levels: each hands its line to Output with the caller's code address.
  virtual void Warn(const char* message, const char* source);
  virtual void Exception(const char* message, const char* source);
  virtual void FatalException(const char* message, const char* source);
  virtual void Debug(const char* message, const char* source);
  virtual void Log(const char* message, const char* source);
  virtual void RemoteLog(const char* message, const char* source);
  virtual void Dump(const char* message, const char* source);

  // Builds and sends the dump package of a kind; for kCrashDump it ends the process. The work is
  // the crash capture's.
  virtual bool DumpProgram(uint32_t kind, struct _EXCEPTION_POINTERS* exception, uint32_t reserved);
  virtual void Output(const char* message, const char* source, const char* level_name,
                      uint32_t level, uint32_t code_address);
  virtual bool SendRemoteLog(const char* line);
  // The user-description dialog, shown by the crash capture.
  virtual bool ShowUserInfoDialog(DumpFormat* format, UserInfo* info);
  // Fills %PRODUCT%, %SERIES% and %VERSION% (first occurrence each) into a destination of
  // destination_size bytes, cut to fit. False when a fault ends it.
  virtual bool ExpandTemplate(const char* source, char* destination, size_t destination_size);
  virtual void Trace(const char* text);

  // Direct reads for the crash path, outside the table. Null for a kind of 3 or more.
  DumpFormat* GetDumpFormat(uint32_t kind);
  // The writable LastMessage buffer, kLastMessageSize bytes.
  char* GetLastMessage();
  // The dialog's time limit in seconds (Format_UserInfo_Timeout), cut to kMaxUserInfoTimeoutSeconds.
  void SetUserInfoTimeout(uint32_t seconds);
  uint32_t GetUserInfoTimeout();

 private:
  ModuleWiring wiring_;
  uint32_t level_flags_[kLogLevelCount];
  char message_box_title_[kMessageBoxTitleSize];
  ExitHook exit_hook_;
  uint32_t log_format_;
  char log_file_name_[kLogFileNameSize];
  char remote_log_server_[kRemoteLogServerSize];
  DumpFormat dump_formats_[kDumpKindCount];
  char last_message_[kLastMessageSize];
  uint32_t user_info_timeout_seconds_;
  char product_[kProductSize];
  char series_[kSeriesSize];
  char version_[kVersionSize];
  uint32_t ref_count_;
};
