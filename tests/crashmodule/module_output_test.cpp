// Output's actions natively, through the recording platform and capture: which actions a level's
// flags select, their order, and what each one is handed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashmodule/log_line.h"
#include "recording_wiring.h"

namespace {

// Sees the R action, which stays inside the module.
class RemoteLogWatcher : public RecordingModule {
 public:
  bool SendRemoteLog(const char* line) override {
    g_module_record.events.push_back("R");
    return RecordingModule::SendRemoteLog(line);
  }
};

class ModuleOutput : public ::testing::Test {
 protected:
  void SetUp() override { g_module_record.Clear(); }
  RemoteLogWatcher module_;
};

int g_hook_calls_before_exit = -1;
void CountingExitHook() { g_hook_calls_before_exit = static_cast<int>(g_module_record.events.size()); }

TEST_F(ModuleOutput, EveryActionInItsFixedOrderThenTheExit) {
  module_.SetLevelFlags(kLogDebug, kLevelFileLog | kLevelRemoteLog | kLevelDebugger |
                                       kLevelMessageBox | kLevelThrow | kLevelExceptionDump |
                                       kLevelUserDump | kLevelExit);
  module_.SetExitHook(CountingExitHook);
  module_.Debug("all", "src");
  EXPECT_EQ(g_module_record.events,
            (std::vector<std::string>{"L", "R", "D", "M", "T", "O", "U", "E"}));
  EXPECT_EQ(g_hook_calls_before_exit, 7) << "the exit hook runs after U and before the end";
  EXPECT_EQ(g_module_record.exit_code, 1);
}

TEST_F(ModuleOutput, EachActionGetsItsFormOfTheLine) {
  module_.SetLevelFlags(kLogWarn, kLevelFileLog | kLevelDebugger | kLevelMessageBox);
  module_.SetMessageBoxTitle("Game");
  module_.SetLogFormat(kLogFormatS, "game.log");
  module_.Output("text", "src", "LVL", kLogWarn, 0x1234);
  char display[kLineSize];
  FormatDisplayLine(display, sizeof display, "text", "src", "LVL", 0x1234);
  char file_form[kLineSize];
  FormatFileLine(file_form, sizeof file_form, "text", "LVL", 0x1234);
  EXPECT_EQ(g_module_record.debugger_lines, std::vector<std::string>{display});
  EXPECT_EQ(g_module_record.message_boxes, std::vector<std::string>{std::string("Game|") + display});
  EXPECT_EQ(g_module_record.log_lines, std::vector<std::string>{std::string("game.log|") + file_form});
  EXPECT_STREQ(module_.GetLastMessage(), "") << "only T, O and U store the line";
}

TEST_F(ModuleOutput, DumpLevelsStoreTheLineBeforeTheyAskForTheirPackage) {
  module_.SetLevelFlags(kLogDump, kLevelExceptionDump | kLevelUserDump);
  module_.Output("dump me", "src", "DUMP", kLogDump, 0x10);
  ASSERT_EQ(g_module_record.dump_calls.size(), 2u);
  char display[kLineSize];
  FormatDisplayLine(display, sizeof display, "dump me", "src", "DUMP", 0x10);
  for (const DumpCall& call : g_module_record.dump_calls) {
    EXPECT_EQ(call.last_message, display);
    EXPECT_FALSE(call.had_exception_pointers);
  }
  EXPECT_EQ(g_module_record.dump_calls[0].kind, static_cast<uint32_t>(kExceptionDump));
  EXPECT_EQ(g_module_record.dump_calls[1].kind, static_cast<uint32_t>(kUserDump));
}

TEST_F(ModuleOutput, ALevelBeyondTheTableDoesNothing) {
  for (uint32_t level = 0; level < kLogLevelCount; ++level) module_.SetLevelFlags(level, 0xFFFFFFFF);
  module_.Output("x", "y", "Z", kLogLevelCount, 0);
  module_.Output("x", "y", "Z", 0xFFFFFFFF, 0);
  EXPECT_TRUE(g_module_record.events.empty());
}

}  // namespace
