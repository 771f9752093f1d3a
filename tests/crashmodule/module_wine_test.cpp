// The module object with the real private-profile reader, guarded regions and filter, under wine64.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "crashmodule/module_platform_win.h"
#include "crashmodule/module_settings.h"
#include "crashmodule/vx_exception.h"
#include "expect_defaults.h"
#include "guard/guard.h"
#include "recording_wiring.h"
#include "scratch_directory_win.h"

namespace {

// The module with the library's Windows platform; its crash capture only records.
class WindowsModule : public VXException {
 public:
  WindowsModule() : VXException(ModuleWiring{&kRecordingCapture, &kWindowsModulePlatform}) {}
};

const char* const kUnreadable = reinterpret_cast<const char*>(16);

void HostCallback(char*, DumpFormat*) {}

TEST(ModuleWine, FreshObjectWithoutFilesHoldsTheDefaults) {
  ScratchDirectory directory;
  WindowsModule module;
  ExpectFreshDefaults(&module);
}

TEST(ModuleWine, SettingsFilesSetWhatTheySay) {
  ScratchDirectory directory;
  directory.Write("HVModule.dat",
                  "[vxexception]\r\n"
                  "debug=md\r\n"
                  "Warn =  xyz  \r\n"
                  "Dump=NUL\r\n"
                  "Format_MessageBox_Title=My Game\r\n"
                  "Format_Log=s\r\n"
                  "Format_Log_Filename=crash.log\r\n"
                  "Format_RemoteLog_Server=10.0.0.1:7\r\n"
                  "Format_CrashDump=SE\r\n"
                  "Format_CrashDump_Title=Report for %PRODUCT%\r\n"
                  "Format_UserDump_Title=alone\r\n"
                  "[Common]\r\n"
                  "Product=Alpha\r\n"
                  "Series=Beta\r\n");
  directory.Write("Version.dat", "[Common]\r\nVersion=1.2\r\n");
  WindowsModule module;
  EXPECT_EQ(module.GetLevelFlags(kLogDebug), 0x300u);
  EXPECT_EQ(module.GetLevelFlags(kLogWarn), 0u);
  EXPECT_EQ(module.GetLevelFlags(kLogDump), 0x10801u);
  EXPECT_EQ(module.GetLevelFlags(kLogException), 0x202u);
  EXPECT_STREQ(module.GetMessageBoxTitle(), "My Game");
  const char* log_name = nullptr;
  EXPECT_EQ(module.GetLogFormat(&log_name), 1u);
  EXPECT_STREQ(log_name, "crash.log");
  EXPECT_STREQ(module.GetRemoteLogServer(), "10.0.0.1:7");
  const DumpFormat* crash = module.GetDumpFormat(kCrashDump);
  EXPECT_EQ(crash->flags, 0x10001u);
  char title[64];
  ASSERT_TRUE(module.ExpandTemplate(crash->title, title, sizeof title));
  EXPECT_STREQ(title, "Report for Alpha");
  EXPECT_EQ(module.GetDumpFormat(kUserDump)->flags, 0x10301u);
  EXPECT_STREQ(module.GetDumpFormat(kUserDump)->title, "");
  char versions[64];
  ASSERT_TRUE(module.ExpandTemplate("%PRODUCT% %SERIES% %VERSION%", versions, sizeof versions));
  EXPECT_STREQ(versions, "Alpha Beta 1.2");
}

TEST(ModuleWine, LoadSettingsFromAGivenPathDropsTheHostsCallback) {
  ScratchDirectory directory;
  WindowsModule module;
  module.SetExceptionDumpFormat(0x1, nullptr, HostCallback, nullptr, nullptr, nullptr, nullptr);
  directory.Write("other.dat", "[VXException]\r\nFormat_ExceptionDump=h2\r\n");
  ASSERT_TRUE(module.LoadSettings(".\\other.dat"));
  EXPECT_EQ(module.GetDumpFormat(kExceptionDump)->flags, 0x41000u);
  EXPECT_EQ(module.GetDumpFormat(kExceptionDump)->callback, nullptr);
}

TEST(ModuleWine, UnreadableArgumentsEndTheOperationWithFalse) {
  ScratchDirectory directory;
  WindowsModule module;
  module.SetLevelFlags(kLogDebug, 0x4);
  module.SetVersionInfo("P", "S", "V");
  EXPECT_FALSE(module.LoadSettings(kUnreadable));
  EXPECT_FALSE(module.LoadVersionInfo(nullptr, kUnreadable));
  EXPECT_EQ(module.GetLevelFlags(kLogDebug), 0x4u);
  char text[32] = "kept";
  EXPECT_FALSE(module.ExpandTemplate(kUnreadable, text, sizeof text));
  EXPECT_STREQ(text, "kept");
  EXPECT_FALSE(module.ExpandTemplate("%PRODUCT%", const_cast<char*>(kUnreadable), 32));
  ASSERT_TRUE(module.ExpandTemplate("%PRODUCT%%SERIES%%VERSION%", text, sizeof text));
  EXPECT_STREQ(text, "PSV");
}

// Answers from a map, and faults when asked for one key.
class FaultingReader final : public ProfileReader {
 public:
  FaultingReader(std::map<std::string, std::string> values, std::string fault_key)
      : values_(std::move(values)), fault_key_(std::move(fault_key)) {}
  uint32_t Read(const char*, const char* key, const char* default_value, char* out,
                uint32_t capacity, const char*) override {
    if (fault_key_ == key) *static_cast<volatile char*>(nullptr) = 0;
    auto found = values_.find(key);
    return static_cast<uint32_t>(
        CopyValue(found != values_.end() ? found->second.c_str() : default_value, out, capacity));
  }

 private:
  static size_t CopyValue(const char* value, char* out, uint32_t capacity) {
    return static_cast<size_t>(lstrlenA(lstrcpynA(out, value, static_cast<int>(capacity))));
  }
  std::map<std::string, std::string> values_;
  std::string fault_key_;
};

TEST(ModuleWine, SettingsAppliedBeforeAFaultStayApplied) {
  ScratchDirectory directory;
  WindowsModule module;
  FaultingReader reader({{"Debug", "L"}, {"Format_MessageBox_Title", "Before"},
                         {"Format_Log", "t"}, {"Format_Log_Filename", "after.log"}},
                        "Format_Log_Filename");
  EXPECT_FALSE(RunGuardedCall([&] { ApplySettings(&module, &reader, nullptr); }));
  EXPECT_EQ(module.GetLevelFlags(kLogDebug), 0x10000u);
  EXPECT_STREQ(module.GetMessageBoxTitle(), "Before");
  const char* log_name = nullptr;
  EXPECT_EQ(module.GetLogFormat(&log_name), 1u);
  EXPECT_STREQ(log_name, "HVModule.log");
}

}  // namespace
