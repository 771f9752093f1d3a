// The module object's settings, its Set and Get operations, the seven levels, and the operations
// that hand their work to the wiring (Init, the two loads, ExpandTemplate and the crash path).
// Output, the levels' actions, is in module_output.cpp.
#include "crashmodule/vx_exception.h"

#include <cstring>

#include "crashmodule/bounded_text.h"
#include "crashmodule/expand_template.h"
#include "crashmodule/log_line.h"
#include "crashmodule/module_settings.h"
#include "guard/guard.h"

namespace {

// Indexed by LogLevel.
constexpr uint32_t kDefaultLevelFlags[kLogLevelCount] = {
    kLevelNone | kLevelDebugger,         // Debug: N D
    kLevelNone | kLevelDebugger,         // Warn: N D
    kLevelExit | kLevelMessageBox,       // FatalException: E M
    kLevelThrow | kLevelDebugger,        // Exception: T D
    kLevelNone | kLevelFileLog,          // Log: N L
    kLevelNone | kLevelRemoteLog,        // RemoteLog: N R
    kLevelNone | kLevelUserDump,         // Dump: N U
};

constexpr uint32_t kDefaultCrashDumpFlags = kDumpFilterMemory | kDumpA | kDumpExtraInfo;
constexpr uint32_t kDefaultExceptionDumpFlags = kDumpFilterMemory | kDumpA | kDumpExtraInfo;
constexpr uint32_t kDefaultUserDumpFlags = kDumpFilterMemory | kDumpA | kDumpB | kDumpExtraInfo;

constexpr char kModuleName[] = "VXException";
constexpr char kDefaultMessageBoxTitle[] = "Velmor";
constexpr char kDefaultLogFileName[] = "HVModule.log";
constexpr uint32_t kModuleVersionMajor = 0x00030000;
constexpr uint32_t kModuleVersionMinor = 0x00020000;
constexpr uint32_t kNoSuchLevel = 0xFFFFFFFFu;

template <size_t N>
void SetText(char (&field)[N], const char* text) {
  if (text != nullptr) CopyText(field, N, text);
}

bool SetFormat(DumpFormat* format, uint32_t flags, const char* server, ExtraInfoCallback callback,
               const char* title, const char* info1, const char* info2, const char* info3) {
  std::memset(format, 0, sizeof *format);
  format->flags = flags;
  format->callback = callback;
  SetText(format->server, server);
  SetText(format->title, title);
  SetText(format->info1, info1);
  SetText(format->info2, info2);
  SetText(format->info3, info3);
  return true;
}

bool GetFormat(DumpFormat* format, uint32_t* flags, const char** server,
               ExtraInfoCallback* callback, const char** title, const char** info1,
               const char** info2, const char** info3) {
  if (flags != nullptr) *flags = format->flags;
  if (callback != nullptr) *callback = format->callback;
  if (server != nullptr) *server = format->server;
  if (title != nullptr) *title = format->title;
  if (info1 != nullptr) *info1 = format->info1;
  if (info2 != nullptr) *info2 = format->info2;
  if (info3 != nullptr) *info3 = format->info3;
  return true;
}

// An address inside the caller's call instruction, which is what a symbol lookup wants.
inline uint32_t CallerAddress(void* return_address) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(return_address) - 1);
}

}  // namespace

VXException::VXException(const ModuleWiring& wiring)
    : wiring_(wiring),
      level_flags_(),
      message_box_title_(),
      exit_hook_(nullptr),
      log_format_(0),
      log_file_name_(),
      remote_log_server_(),
      dump_formats_(),
      last_message_(),
      user_info_timeout_seconds_(kDefaultUserInfoTimeoutSeconds),
      product_(),
      series_(),
      version_(),
      ref_count_(0) {
  std::memcpy(level_flags_, kDefaultLevelFlags, sizeof level_flags_);
  CopyText(message_box_title_, sizeof message_box_title_, kDefaultMessageBoxTitle);
  exit_hook_ = nullptr;
  log_format_ = kLogFormatS;
  CopyText(log_file_name_, sizeof log_file_name_, kDefaultLogFileName);
  remote_log_server_[0] = '\0';
  last_message_[0] = '\0';
  SetCrashDumpFormat(kDefaultCrashDumpFlags, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  SetExceptionDumpFormat(kDefaultExceptionDumpFlags, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr);
  SetUserDumpFormat(kDefaultUserDumpFlags, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  LoadVersionInfo(nullptr, nullptr);
  LoadSettings(nullptr);
}

VXException::~VXException() {}

void VXException::AddRef() { ++ref_count_; }

uint32_t VXException::GetRefCount() { return ref_count_; }

uint32_t VXException::Release() { return ref_count_; }

void VXException::GetVersion(ModuleVersion* version) {
  if (version == nullptr) return;
  version->major = kModuleVersionMajor;
  version->minor = kModuleVersionMinor;
}

const char* VXException::GetName() { return kModuleName; }

bool VXException::SetLevelFlags(uint32_t level, uint32_t flags) {
  if (level >= kLogLevelCount) return false;
  level_flags_[level] = flags;
  return true;
}

uint32_t VXException::GetLevelFlags(uint32_t level) {
  if (level >= kLogLevelCount) return kNoSuchLevel;
  return level_flags_[level];
}

void VXException::SetMessageBoxTitle(const char* title) { SetText(message_box_title_, title); }

const char* VXException::GetMessageBoxTitle() { return message_box_title_; }

void VXException::SetExitHook(ExitHook hook) { exit_hook_ = hook; }

ExitHook VXException::GetExitHook() { return exit_hook_; }

void VXException::SetLogFormat(uint32_t flags, const char* file_name) {
  log_format_ = flags;
  SetText(log_file_name_, file_name);
}

uint32_t VXException::GetLogFormat(const char** file_name) {
  if (file_name != nullptr) *file_name = log_file_name_;
  return log_format_;
}

void VXException::SetRemoteLogServer(const char* server) { SetText(remote_log_server_, server); }

const char* VXException::GetRemoteLogServer() { return remote_log_server_; }

bool VXException::SetCrashDumpFormat(uint32_t flags, const char* server,
                                     ExtraInfoCallback callback, const char* title,
                                     const char* info1, const char* info2, const char* info3) {
  return SetFormat(&dump_formats_[kCrashDump], flags, server, callback, title, info1, info2, info3);
}

bool VXException::GetCrashDumpFormat(uint32_t* flags, const char** server,
                                     ExtraInfoCallback* callback, const char** title,
                                     const char** info1, const char** info2, const char** info3) {
  return GetFormat(&dump_formats_[kCrashDump], flags, server, callback, title, info1, info2, info3);
}

bool VXException::SetExceptionDumpFormat(uint32_t flags, const char* server,
                                         ExtraInfoCallback callback, const char* title,
                                         const char* info1, const char* info2, const char* info3) {
  return SetFormat(&dump_formats_[kExceptionDump], flags, server, callback, title, info1, info2,
                   info3);
}

bool VXException::GetExceptionDumpFormat(uint32_t* flags, const char** server,
                                         ExtraInfoCallback* callback, const char** title,
                                         const char** info1, const char** info2,
                                         const char** info3) {
  return GetFormat(&dump_formats_[kExceptionDump], flags, server, callback, title, info1, info2,
                   info3);
}

bool VXException::SetUserDumpFormat(uint32_t flags, const char* server,
                                    ExtraInfoCallback callback, const char* title,
                                    const char* info1, const char* info2, const char* info3) {
  return SetFormat(&dump_formats_[kUserDump], flags, server, callback, title, info1, info2, info3);
}

bool VXException::GetUserDumpFormat(uint32_t* flags, const char** server,
                                    ExtraInfoCallback* callback, const char** title,
                                    const char** info1, const char** info2, const char** info3) {
  return GetFormat(&dump_formats_[kUserDump], flags, server, callback, title, info1, info2, info3);
}

bool VXException::SetVersionInfo(const char* product, const char* series, const char* version) {
  SetText(product_, product);
  SetText(series_, series);
  SetText(version_, version);
  return true;
}

// The levels must not be inlined into their callers: the return address is the caller's.
__attribute__((noinline)) void VXException::Warn(const char* message, const char* source) {
  Output(message, source, kLevelNames[kLogWarn], kLogWarn,
         CallerAddress(__builtin_return_address(0)));
}

__attribute__((noinline)) void VXException::Exception(const char* message, const char* source) {
  Output(message, source, kLevelNames[kLogException], kLogException,
         CallerAddress(__builtin_return_address(0)));
}

__attribute__((noinline)) void VXException::FatalException(const char* message,
                                                           const char* source) {
  Output(message, source, kLevelNames[kLogFatalException], kLogFatalException,
         CallerAddress(__builtin_return_address(0)));
}

__attribute__((noinline)) void VXException::Debug(const char* message, const char* source) {
  Output(message, source, kLevelNames[kLogDebug], kLogDebug,
         CallerAddress(__builtin_return_address(0)));
}

__attribute__((noinline)) void VXException::Log(const char* message, const char* source) {
  Output(message, source, kLevelNames[kLogLog], kLogLog,
         CallerAddress(__builtin_return_address(0)));
}

__attribute__((noinline)) void VXException::RemoteLog(const char* message, const char* source) {
  Output(message, source, kLevelNames[kLogRemoteLog], kLogRemoteLog,
         CallerAddress(__builtin_return_address(0)));
}

__attribute__((noinline)) void VXException::Dump(const char* message, const char* source) {
  Output(message, source, kLevelNames[kLogDump], kLogDump,
         CallerAddress(__builtin_return_address(0)));
}

// The remote-log server is a setting only: no transport stands behind it.
bool VXException::SendRemoteLog(const char* /*line*/) { return true; }

void VXException::Trace(const char* /*text*/) {}

DumpFormat* VXException::GetDumpFormat(uint32_t kind) {
  if (kind >= kDumpKindCount) return nullptr;
  return &dump_formats_[kind];
}

char* VXException::GetLastMessage() { return last_message_; }

void VXException::SetUserInfoTimeout(uint32_t seconds) {
  user_info_timeout_seconds_ = seconds < kMaxUserInfoTimeoutSeconds ? seconds : kMaxUserInfoTimeoutSeconds;
}

uint32_t VXException::GetUserInfoTimeout() { return user_info_timeout_seconds_; }

bool VXException::Init() {
  // The filter installed before is dropped, not chained: from now on every unhandled exception
  // of the process is the crash reporter's.
  RunGuardedCall([this] { wiring_.capture->install_filter(this); });
  return true;
}

bool VXException::LoadVersionInfo(const char* settings_path, const char* version_path) {
  bool applied = false;
  const bool completed = RunGuardedCall([&] {
    applied = ApplyVersionInfo(this, wiring_.platform->settings, settings_path, version_path);
  });
  return completed && applied;
}

bool VXException::LoadSettings(const char* settings_path) {
  bool applied = false;
  const bool completed = RunGuardedCall(
      [&] { applied = ApplySettings(this, wiring_.platform->settings, settings_path); });
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

bool VXException::DumpProgram(uint32_t kind, struct _EXCEPTION_POINTERS* exception, uint32_t) {
  if (kind >= kDumpKindCount) return false;
  return wiring_.capture->write_dump(this, kind, exception);
}

bool VXException::ShowUserInfoDialog(DumpFormat* format, UserInfo* info) {
  if (format == nullptr) return false;
  return wiring_.capture->ask_user(*format, info, user_info_timeout_seconds_);
}
