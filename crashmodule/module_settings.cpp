#include "crashmodule/module_settings.h"

#include "crashmodule/bounded_text.h"
#include "crashmodule/letter_codes.h"
#include "crashmodule/vx_exception.h"

namespace {

constexpr char kModuleSection[] = "VXException";
constexpr char kCommonSection[] = "Common";

// The capacities with which the values are read; longer values are cut by the reader.
constexpr uint32_t kFlagsValueSize = 128;
constexpr uint32_t kTextValueSize = 128;
constexpr uint32_t kServerValueSize = 256;
constexpr uint32_t kTitleValueSize = 512;
constexpr uint32_t kInfo12ValueSize = 64;
constexpr uint32_t kInfo3ValueSize = 128;

// Indexed by LogLevel: each level's settings key is its name.
constexpr const char* kLevelKeys[kLogLevelCount] = {
    "Debug", "Warn", "FatalException", "Exception", "Log", "RemoteLog", "Dump",
};

typedef bool (VXException::*SetDumpFormatOp)(uint32_t, const char*, ExtraInfoCallback,
                                             const char*, const char*, const char*, const char*);

struct DumpFormatKeys {
  const char* server;
  const char* title;
  const char* info1;
  const char* info2;
  const char* info3;
  const char* flags;
  SetDumpFormatOp set;
};

// In the order they are read: CrashDump, ExceptionDump, UserDump.
const DumpFormatKeys kDumpFormatKeys[kDumpKindCount] = {
    {"Format_CrashDump_Server", "Format_CrashDump_Title", "Format_CrashDump_Info1",
     "Format_CrashDump_Info2", "Format_CrashDump_Info3", "Format_CrashDump",
     &VXException::SetCrashDumpFormat},
    {"Format_ExceptionDump_Server", "Format_ExceptionDump_Title", "Format_ExceptionDump_Info1",
     "Format_ExceptionDump_Info2", "Format_ExceptionDump_Info3", "Format_ExceptionDump",
     &VXException::SetExceptionDumpFormat},
    {"Format_UserDump_Server", "Format_UserDump_Title", "Format_UserDump_Info1",
     "Format_UserDump_Info2", "Format_UserDump_Info3", "Format_UserDump",
     &VXException::SetUserDumpFormat},
};

// Whole seconds as the private-profile numbers read: blanks, then decimal digits, whatever follows
// ignored. False for a value without them (empty, a word, a negative number), which leaves the
// setting alone. Beyond the largest limit the digits no longer matter.
bool ParseSeconds(const char* text, uint32_t* seconds) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '+') ++text;
  if (*text < '0' || *text > '9') return false;
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value <= kMaxUserInfoTimeoutSeconds) value = value * 10 + uint32_t(*text - '0');
  }
  *seconds = value;
  return true;
}

// The caller's path, or the default; either way in a buffer of its own.
void ChoosePath(char (&path)[kSettingsPathSize], const char* given, const char* default_path) {
  CopyText(path, sizeof path, given != nullptr ? given : default_path);
}

void ApplyDumpFormat(VXException* module, ProfileReader* reader, const char* path,
                     const DumpFormatKeys& keys) {
  char server[kServerValueSize];
  char title[kTitleValueSize];
  char info1[kInfo12ValueSize];
  char info2[kInfo12ValueSize];
  char info3[kInfo3ValueSize];
  char flags[kFlagsValueSize];
  reader->Read(kModuleSection, keys.server, "", server, sizeof server, path);
  reader->Read(kModuleSection, keys.title, "", title, sizeof title, path);
  reader->Read(kModuleSection, keys.info1, "", info1, sizeof info1, path);
  reader->Read(kModuleSection, keys.info2, "", info2, sizeof info2, path);
  reader->Read(kModuleSection, keys.info3, "", info3, sizeof info3, path);
  reader->Read(kModuleSection, keys.flags, "", flags, sizeof flags, path);
  // Without the flag key the companions change nothing. With it the record is replaced whole,
  // so a callback the host had set is dropped: settings files cannot name one.
  if (flags[0] == '\0') return;
  (module->*keys.set)(ParseDumpFlags(flags), server, nullptr, title, info1, info2, info3);
}

}  // namespace

bool ApplyVersionInfo(VXException* module, ProfileReader* reader, const char* settings_path,
                      const char* version_path) {
  char settings[kSettingsPathSize];
  char version_file[kSettingsPathSize];
  ChoosePath(settings, settings_path, kDefaultSettingsPath);
  ChoosePath(version_file, version_path, kDefaultVersionPath);
  char product[kProductSize];
  char series[kSeriesSize];
  char version[kVersionSize];
  reader->Read(kCommonSection, "Product", "", product, sizeof product, settings);
  reader->Read(kCommonSection, "Series", "", series, sizeof series, settings);
  reader->Read(kCommonSection, "Version", "", version, sizeof version, version_file);
  return module->SetVersionInfo(product, series, version);
}

bool ApplySettings(VXException* module, ProfileReader* reader, const char* settings_path) {
  char path[kSettingsPathSize];
  ChoosePath(path, settings_path, kDefaultSettingsPath);
  char value[kFlagsValueSize];

  for (uint32_t level = 0; level < kLogLevelCount; ++level) {
    reader->Read(kModuleSection, kLevelKeys[level], "", value, sizeof value, path);
    if (value[0] != '\0') module->SetLevelFlags(level, ParseLevelFlags(value));
  }

  reader->Read(kModuleSection, "Format_MessageBox_Title", "", value, sizeof value, path);
  if (value[0] != '\0') module->SetMessageBoxTitle(value);

  reader->Read(kModuleSection, "Format_Log", "", value, sizeof value, path);
  const uint32_t log_format = ParseLogFormatFlags(value);
  // The current name is the reader's default, so an absent key keeps it.
  const char* current_name = nullptr;
  module->GetLogFormat(&current_name);
  char log_name[kTextValueSize];
  reader->Read(kModuleSection, "Format_Log_Filename", current_name, log_name, sizeof log_name,
               path);
  if (log_format != 0) module->SetLogFormat(log_format, log_name);

  reader->Read(kModuleSection, "Format_RemoteLog_Server", "", value, sizeof value, path);
  if (value[0] != '\0') module->SetRemoteLogServer(value);

  for (const DumpFormatKeys& keys : kDumpFormatKeys) ApplyDumpFormat(module, reader, path, keys);

  reader->Read(kModuleSection, "Format_UserInfo_Timeout", "", value, sizeof value, path);
  uint32_t seconds = 0;
  if (ParseSeconds(value, &seconds)) module->SetUserInfoTimeout(seconds);
  return true;
}
