// What LoadSettings and LoadVersionInfo apply, read from a map instead of the files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashmodule/vx_exception.h"
#include "expect_defaults.h"
#include "recording_wiring.h"

namespace {

const char kSettings[] = ".\\HVModule.dat";
const char kVersion[] = ".\\Version.dat";

void HostCallback(char*, DumpFormat*) {}

class ModuleSettings : public ::testing::Test {
 protected:
  void SetUp() override { g_recorded_settings.Clear(); }
  void TearDown() override { g_recorded_settings.Clear(); }

  void Set(const char* key, const char* value) {
    g_recorded_settings.Set(kSettings, "VXException", key, value);
  }

  MapProfileReader& profile_ = g_recorded_settings;
};

TEST_F(ModuleSettings, WithoutFilesEveryDefaultHolds) {
  RecordingModule module;
  ExpectFreshDefaults(&module);
}

TEST_F(ModuleSettings, LevelKeysTakeLetters) {
  Set("Debug", "md");
  Set("Warn", "xyz");
  Set("Dump", "nlo");
  RecordingModule module;
  EXPECT_EQ(module.GetLevelFlags(kLogDebug), 0x300u);
  EXPECT_EQ(module.GetLevelFlags(kLogWarn), 0u) << "a value without known letters sets 0";
  EXPECT_EQ(module.GetLevelFlags(kLogDump), 0x10401u);
  EXPECT_EQ(module.GetLevelFlags(kLogException), 0x202u) << "an absent key keeps the default";
}

TEST_F(ModuleSettings, LogFormatNeedsItsLettersForTheFileName) {
  Set("Format_Log", "s");
  Set("Format_Log_Filename", "crash.log");
  RecordingModule module;
  const char* name = nullptr;
  EXPECT_EQ(module.GetLogFormat(&name), 1u);
  EXPECT_STREQ(name, "crash.log");
}

TEST_F(ModuleSettings, FileNameWithoutLogFormatChangesNothing) {
  Set("Format_Log_Filename", "crash.log");
  RecordingModule module;
  module.SetLogFormat(4, "mine.log");
  Set("Format_Log", "xyz");
  ASSERT_TRUE(module.LoadSettings(nullptr));
  const char* name = nullptr;
  EXPECT_EQ(module.GetLogFormat(&name), 4u);
  EXPECT_STREQ(name, "mine.log");
}

TEST_F(ModuleSettings, LogFormatAloneKeepsTheCurrentFileName) {
  RecordingModule module;
  module.SetLogFormat(1, "mine.log");
  Set("Format_Log", "mt");
  ASSERT_TRUE(module.LoadSettings(nullptr));
  const char* name = nullptr;
  EXPECT_EQ(module.GetLogFormat(&name), 6u);
  EXPECT_STREQ(name, "mine.log");
}

TEST_F(ModuleSettings, DumpFormatKeyReplacesTheRecordAndDropsTheCallback) {
  RecordingModule module;
  module.SetCrashDumpFormat(0x1, "old", HostCallback, "old", "old", "old", "old");
  Set("Format_CrashDump", "SE");
  Set("Format_CrashDump_Title", "Report");
  ASSERT_TRUE(module.LoadSettings(nullptr));
  const DumpFormat* crash = module.GetDumpFormat(kCrashDump);
  EXPECT_EQ(crash->flags, 0x10001u);
  EXPECT_STREQ(crash->title, "Report");
  EXPECT_STREQ(crash->server, "");
  EXPECT_STREQ(crash->info1, "");
  EXPECT_STREQ(crash->info2, "");
  EXPECT_STREQ(crash->info3, "");
  EXPECT_EQ(crash->callback, nullptr);
}

TEST_F(ModuleSettings, DumpFormatCompanionsAloneChangeNothing) {
  RecordingModule module;
  module.SetUserDumpFormat(0x10301, nullptr, HostCallback, "mine", nullptr, nullptr, nullptr);
  Set("Format_UserDump_Title", "Report");
  Set("Format_UserDump_Server", "10.1.1.1");
  ASSERT_TRUE(module.LoadSettings(nullptr));
  const DumpFormat* user = module.GetDumpFormat(kUserDump);
  EXPECT_EQ(user->flags, 0x10301u);
  EXPECT_STREQ(user->title, "mine");
  EXPECT_STREQ(user->server, "");
  EXPECT_EQ(user->callback, HostCallback);
}

TEST_F(ModuleSettings, DumpFormatWithoutKnownLettersInstallsFlagsZero) {
  Set("Format_ExceptionDump", "xyz");
  Set("Format_ExceptionDump_Server", "1.2.3.4:5");
  Set("Format_ExceptionDump_Info1", "a");
  Set("Format_ExceptionDump_Info2", "b");
  Set("Format_ExceptionDump_Info3", "c");
  RecordingModule module;
  const DumpFormat* exception = module.GetDumpFormat(kExceptionDump);
  EXPECT_EQ(exception->flags, 0u);
  EXPECT_STREQ(exception->server, "1.2.3.4:5");
  EXPECT_STREQ(exception->info1, "a");
  EXPECT_STREQ(exception->info2, "b");
  EXPECT_STREQ(exception->info3, "c");
  EXPECT_EQ(module.GetDumpFormat(kCrashDump)->flags, 0x10101u);
}

TEST_F(ModuleSettings, TitleAndRemoteServerApplyWhenNotEmpty) {
  Set("Format_MessageBox_Title", std::string(100, 't').c_str());
  Set("Format_RemoteLog_Server", "logs.example:9");
  RecordingModule module;
  EXPECT_EQ(std::string(module.GetMessageBoxTitle()), std::string(63, 't'));
  EXPECT_STREQ(module.GetRemoteLogServer(), "logs.example:9");
  Set("Format_MessageBox_Title", "");
  Set("Format_RemoteLog_Server", "");
  ASSERT_TRUE(module.LoadSettings(nullptr));
  EXPECT_EQ(std::string(module.GetMessageBoxTitle()), std::string(63, 't'));
  EXPECT_STREQ(module.GetRemoteLogServer(), "logs.example:9");
}

TEST_F(ModuleSettings, KeysAreReadInTheirOrderFromTheGivenPath) {
  RecordingModule module;
  const size_t before = profile_.reads().size();
  ASSERT_TRUE(module.LoadSettings("C:\\game\\other.dat"));
  std::vector<std::string> keys;
  for (size_t i = before; i < profile_.reads().size(); ++i) keys.push_back(profile_.reads()[i]);
  std::vector<std::string> expected;
  for (const char* key :
       {"Debug", "Warn", "FatalException", "Exception", "Log", "RemoteLog", "Dump",
        "Format_MessageBox_Title", "Format_Log", "Format_Log_Filename", "Format_RemoteLog_Server"}) {
    expected.push_back(std::string("C:\\game\\other.dat|VXException|") + key);
  }
  for (const char* kind : {"CrashDump", "ExceptionDump", "UserDump"}) {
    for (const char* part : {"_Server", "_Title", "_Info1", "_Info2", "_Info3", ""}) {
      expected.push_back(std::string("C:\\game\\other.dat|VXException|Format_") + kind + part);
    }
  }
  expected.push_back("C:\\game\\other.dat|VXException|Format_UserInfo_Timeout");
  EXPECT_EQ(keys, expected);
}

// The dialog's time limit: whole seconds, 0 for none; a value without a number of seconds keeps
// what was there, and a limit beyond a day is cut to one.
TEST_F(ModuleSettings, UserInfoTimeoutTakesWholeSeconds) {
  struct Row {
    const char* value;
    uint32_t seconds;
  };
  const uint32_t kKept = 7;
  const Row rows[] = {
      {"30", 30},         {" 45", 45},       {"45s", 45},      {"+12", 12},
      {"0", 0},           {"", kKept},       {"soon", kKept},  {"-5", kKept},
      {"86400", 86400},   {"86401", 86400},  {"99999999999999", 86400},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    RecordingModule module;
    module.SetUserInfoTimeout(kKept);
    Set("Format_UserInfo_Timeout", row.value);
    ASSERT_TRUE(module.LoadSettings(nullptr));
    EXPECT_EQ(module.GetUserInfoTimeout(), row.seconds);
  }
}

TEST_F(ModuleSettings, UserInfoTimeoutIsReadAtConstructionAndHandedToTheDialog) {
  Set("Format_UserInfo_Timeout", "15");
  g_module_record.Clear();
  RecordingModule module;
  UserInfo info = {};
  module.ShowUserInfoDialog(module.GetDumpFormat(kCrashDump), &info);
  EXPECT_EQ(g_module_record.ask_timeouts, std::vector<uint32_t>{15});
}

TEST_F(ModuleSettings, VersionInfoComesFromBothFilesAndEmptiesWhatIsMissing) {
  profile_.Set(kSettings, "Common", "Product", "Alpha");
  profile_.Set(kSettings, "Common", "Series", "Beta");
  profile_.Set(kVersion, "Common", "Version", "1.2");
  RecordingModule module;
  char text[64];
  ASSERT_TRUE(module.ExpandTemplate("%PRODUCT% %SERIES% %VERSION%", text, sizeof text));
  EXPECT_STREQ(text, "Alpha Beta 1.2");
  profile_.Set("v2.dat", "Common", "Version", "2.0");
  ASSERT_TRUE(module.LoadVersionInfo("missing.dat", "v2.dat"));
  ASSERT_TRUE(module.ExpandTemplate("%PRODUCT%|%SERIES%|%VERSION%", text, sizeof text));
  EXPECT_STREQ(text, "||2.0");
}

TEST_F(ModuleSettings, OverlongPathIsCutToItsBuffer) {
  const std::string path(300, 'p');
  profile_.Set(path.substr(0, 127), "VXException", "Debug", "L");
  RecordingModule module;
  ASSERT_TRUE(module.LoadSettings(path.c_str()));
  EXPECT_EQ(module.GetLevelFlags(kLogDebug), 0x10000u);
}

}  // namespace
