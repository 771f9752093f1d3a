// The module object's own operations, on a native build of the object with no settings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crashmodule/vx_exception.h"
#include "recording_wiring.h"

namespace {

void HostCallback(char*, DumpFormat*) {}
void HostExitHook() {}

TEST(ModuleObject, ReferenceCountIsCountedButNeverReleased) {
  RecordingModule module;
  EXPECT_EQ(module.GetRefCount(), 0u);
  EXPECT_EQ(module.Release(), 0u);
  module.AddRef();
  module.AddRef();
  EXPECT_EQ(module.GetRefCount(), 2u);
  EXPECT_EQ(module.Release(), 2u);
  EXPECT_EQ(module.Release(), 2u);
  EXPECT_EQ(module.GetRefCount(), 2u);
}

TEST(ModuleObject, NameAndVersion) {
  RecordingModule module;
  EXPECT_STREQ(module.GetName(), "VXException");
  ModuleVersion version = {1, 1};
  module.GetVersion(&version);
  EXPECT_EQ(version.major, 0x00030000u);
  EXPECT_EQ(version.minor, 0x00020000u);
  IModule* base = &module;
  EXPECT_STREQ(base->GetName(), "VXException");
}

TEST(ModuleObject, LevelIndexesBeyondDumpAreRefused) {
  RecordingModule module;
  EXPECT_FALSE(module.SetLevelFlags(7, 0x1234));
  for (uint32_t level = 0; level < kLogLevelCount; ++level) {
    EXPECT_NE(module.GetLevelFlags(level), 0x1234u);
  }
  EXPECT_EQ(module.GetLevelFlags(7), 0xFFFFFFFFu);
  EXPECT_EQ(module.GetLevelFlags(0xFFFFFFFF), 0xFFFFFFFFu);
  EXPECT_TRUE(module.SetLevelFlags(kLogDump, 0x1234));
  EXPECT_EQ(module.GetLevelFlags(kLogDump), 0x1234u);
}

TEST(ModuleObject, DumpFormatSetClearsTheWholeRecord) {
  RecordingModule module;
  ASSERT_TRUE(module.SetUserDumpFormat(0x1, "srv", HostCallback, "t", "i1", "i2", "i3"));
  ASSERT_TRUE(module.SetUserDumpFormat(0x10301, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr));
  uint32_t flags = 0;
  ExtraInfoCallback callback = HostCallback;
  const char* server = nullptr;
  const char* title = nullptr;
  const char* info1 = nullptr;
  const char* info2 = nullptr;
  const char* info3 = nullptr;
  ASSERT_TRUE(module.GetUserDumpFormat(&flags, &server, &callback, &title, &info1, &info2, &info3));
  EXPECT_EQ(flags, 0x10301u);
  EXPECT_EQ(callback, nullptr);
  EXPECT_STREQ(server, "");
  EXPECT_STREQ(title, "");
  EXPECT_STREQ(info1, "");
  EXPECT_STREQ(info2, "");
  EXPECT_STREQ(info3, "");
  // The texts are the record's own fields, which the crash path reads directly.
  EXPECT_EQ(title, module.GetDumpFormat(kUserDump)->title);
}

TEST(ModuleObject, DumpFormatsAreKeptPerKind) {
  RecordingModule module;
  module.SetCrashDumpFormat(0x11, "crash", HostCallback, "ct", "c1", "c2", "c3");
  module.SetExceptionDumpFormat(0x22, "exc", nullptr, "et", nullptr, nullptr, nullptr);
  uint32_t flags = 0;
  ExtraInfoCallback callback = nullptr;
  // No text pointers: only the flags and the callback are written.
  ASSERT_TRUE(module.GetCrashDumpFormat(&flags, nullptr, &callback, nullptr, nullptr, nullptr,
                                        nullptr));
  EXPECT_EQ(flags, 0x11u);
  EXPECT_EQ(callback, HostCallback);
  const DumpFormat* exception = module.GetDumpFormat(kExceptionDump);
  EXPECT_EQ(exception->flags, 0x22u);
  EXPECT_STREQ(exception->server, "exc");
  EXPECT_STREQ(exception->title, "et");
  EXPECT_STREQ(exception->info1, "");
  EXPECT_STREQ(module.GetDumpFormat(kCrashDump)->info3, "c3");
  EXPECT_EQ(module.GetDumpFormat(kDumpKindCount), nullptr);
}

TEST(ModuleObject, NullTextsKeepTheirValue) {
  RecordingModule module;
  module.SetMessageBoxTitle("Game");
  module.SetMessageBoxTitle(nullptr);
  EXPECT_STREQ(module.GetMessageBoxTitle(), "Game");
  module.SetRemoteLogServer("10.0.0.1");
  module.SetRemoteLogServer(nullptr);
  EXPECT_STREQ(module.GetRemoteLogServer(), "10.0.0.1");
  module.SetLogFormat(6, nullptr);
  const char* name = nullptr;
  EXPECT_EQ(module.GetLogFormat(&name), 6u);
  EXPECT_STREQ(name, "HVModule.log");
  EXPECT_EQ(module.GetLogFormat(nullptr), 6u);
  module.SetVersionInfo("P", "S", "V");
  module.SetVersionInfo(nullptr, "S2", nullptr);
  char expanded[64];
  ASSERT_TRUE(module.ExpandTemplate("%PRODUCT%/%SERIES%/%VERSION%", expanded, sizeof expanded));
  EXPECT_STREQ(expanded, "P/S2/V");
  module.SetExitHook(HostExitHook);
  EXPECT_EQ(module.GetExitHook(), HostExitHook);
  module.SetExitHook(nullptr);
  EXPECT_EQ(module.GetExitHook(), nullptr);
}

TEST(ModuleObject, OverlongTextsAreCutToTheirField) {
  RecordingModule module;
  const std::string long_text(2000, 'x');
  module.SetMessageBoxTitle(long_text.c_str());
  EXPECT_EQ(std::strlen(module.GetMessageBoxTitle()), kMessageBoxTitleSize - 1);
  module.SetRemoteLogServer(long_text.c_str());
  EXPECT_EQ(std::strlen(module.GetRemoteLogServer()), kRemoteLogServerSize - 1);
  module.SetLogFormat(1, long_text.c_str());
  const char* name = nullptr;
  module.GetLogFormat(&name);
  EXPECT_EQ(std::strlen(name), kLogFileNameSize - 1);
  module.SetCrashDumpFormat(1, long_text.c_str(), nullptr, long_text.c_str(), long_text.c_str(),
                            long_text.c_str(), long_text.c_str());
  const DumpFormat* crash = module.GetDumpFormat(kCrashDump);
  EXPECT_EQ(std::strlen(crash->server), sizeof crash->server - 1);
  EXPECT_EQ(std::strlen(crash->title), sizeof crash->title - 1);
  EXPECT_EQ(std::strlen(crash->info1), sizeof crash->info1 - 1);
  EXPECT_EQ(std::strlen(crash->info2), sizeof crash->info2 - 1);
  EXPECT_EQ(std::strlen(crash->info3), sizeof crash->info3 - 1);
  module.SetVersionInfo(long_text.c_str(), long_text.c_str(), long_text.c_str());
  char expanded[1024];
  ASSERT_TRUE(module.ExpandTemplate("%VERSION%", expanded, sizeof expanded));
  EXPECT_EQ(std::strlen(expanded), kVersionSize - 1);
}

TEST(ModuleObject, RemoteLogAndTraceDoNothingButSucceed) {
  RecordingModule module;
  EXPECT_TRUE(module.SendRemoteLog("line"));
  EXPECT_TRUE(module.SendRemoteLog(nullptr));
  module.Trace("DumpProgram CreateFile ok");
  EXPECT_EQ(module.GetLastMessage()[0], '\0');
}

typedef void (VXException::*LevelOp)(const char*, const char*);

struct LevelRow {
  LevelOp op;
  uint32_t level;
  const char* name;
};

const LevelRow kLevels[] = {
    {&VXException::Debug, kLogDebug, "\xB5\xF7\xCA\xD4"},
    {&VXException::Warn, kLogWarn, "\xBE\xAF\xB8\xE6"},
    {&VXException::FatalException, kLogFatalException, "\xD1\xCF\xD6\xD8\xB4\xED\xCE\xF3"},
    {&VXException::Exception, kLogException, "\xB4\xED\xCE\xF3"},
    {&VXException::Log, kLogLog, "LOG"},
    {&VXException::RemoteLog, kLogRemoteLog, "\xD4\xB6\xB3\xCC" "LOG"},
    {&VXException::Dump, kLogDump, "DUMP"},
};

// Records what each level hands to Output instead of performing it.
class OutputRecorder : public RecordingModule {
 public:
  struct Call {
    std::string message, source, level_name;
    uint32_t level, code_address;
  };
  void Output(const char* message, const char* source, const char* level_name, uint32_t level,
              uint32_t code_address) override {
    calls.push_back({message, source, level_name, level, code_address});
  }
  std::vector<Call> calls;
};

// Calls one level from a function of known place, so the address can be checked against it.
__attribute__((noinline)) void CallLevel(VXException* module, LevelOp op) {
  (module->*op)("message", "source");
  asm volatile("");  // keeps the call from becoming a tail jump
}

TEST(ModuleObject, LevelsPassTheirNameAndTheCallersAddress) {
  for (const LevelRow& row : kLevels) {
    SCOPED_TRACE(row.level);
    OutputRecorder module;
    CallLevel(&module, row.op);
    ASSERT_EQ(module.calls.size(), 1u);
    const OutputRecorder::Call& call = module.calls[0];
    EXPECT_EQ(call.level, row.level);
    EXPECT_EQ(call.level_name, row.name);
    EXPECT_EQ(call.message, "message");
    EXPECT_EQ(call.source, "source");
    // Inside CallLevel's call instruction: after its start, within its (instrumented) body.
    const uint32_t start = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&CallLevel));
    EXPECT_GT(call.code_address, start);
    EXPECT_LT(call.code_address, start + 4096);
  }
}

TEST(ModuleObject, CrashPathOperationsGoToTheCaptureOfTheWiring) {
  g_module_record.Clear();
  RecordingModule module;
  EXPECT_TRUE(module.Init());
  EXPECT_TRUE(module.DumpProgram(kUserDump, nullptr, 0));
  EXPECT_FALSE(module.DumpProgram(kDumpKindCount, nullptr, 0)) << "no such kind reaches the capture";
  UserInfo info = {};
  EXPECT_FALSE(module.ShowUserInfoDialog(nullptr, &info)) << "no format reaches the capture";
  module.ShowUserInfoDialog(module.GetDumpFormat(kCrashDump), &info);
  EXPECT_EQ(g_module_record.events, (std::vector<std::string>{"install", "U", "ask"}));
}

}  // namespace
