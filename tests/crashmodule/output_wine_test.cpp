// Output's actions with the real platform calls, under wine64. Debugger output, the software
// exception and the message box are watched from the outside: a vectored handler sees the
// debugger-output exception and 0xFFFF0002, a CBT hook sees the message box's dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crashmodule/log_line.h"
#include "crashmodule/module_platform_win.h"
#include "crashmodule/vx_exception.h"
#include "recording_wiring.h"
#include "scratch_directory_win.h"

namespace {

constexpr DWORD kDebugPrint = 0x40010006;  // DBG_PRINTEXCEPTION_C
constexpr ATOM kDialogClass = 0x8002;      // #32770, the class of a message box

std::vector<std::string> g_debug_lines;
// Only the level calls are watched: a failing check may write debugger output of its own.
volatile bool g_watching = false;
// Whether the vectored handler continues 0xFFFF0002, as a host handler might.
bool g_continue_module_exception = true;

LONG CALLBACK WatchExceptions(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (!g_watching) return EXCEPTION_CONTINUE_SEARCH;
  if (record->ExceptionCode == kDebugPrint && record->NumberParameters >= 2) {
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    g_debug_lines.push_back(text);
    g_module_record.events.push_back("D");
  } else if (record->ExceptionCode == kModuleExceptionCode) {
    g_module_record.events.push_back("T");
    if (g_continue_module_exception) return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

HHOOK g_cbt_hook = nullptr;

LRESULT CALLBACK WatchWindows(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND && g_watching) {
    const CBT_CREATEWNDA* create = reinterpret_cast<CBT_CREATEWNDA*>(lparam);
    if (reinterpret_cast<uintptr_t>(create->lpcs->lpszClass) == kDialogClass) {
      g_module_record.events.push_back("M");
    }
  } else if (code == HCBT_ACTIVATE) {
    // On a desktop the box would wait for the user; close it at once.
    PostMessageA(reinterpret_cast<HWND>(wparam), WM_CLOSE, 0, 0);
  }
  return CallNextHookEx(g_cbt_hook, code, wparam, lparam);
}

// Overrides the remote log to see when Output reaches it.
class WatchedModule : public VXException {
 public:
  WatchedModule() : VXException(ModuleWiring{&kRecordingCapture, &kWindowsModulePlatform}) {}
  bool SendRemoteLog(const char* line) override {
    remote_lines.push_back(line);
    // The L action comes first: by now its line is in the log file.
    g_module_record.events.push_back(GetFileAttributesA("HVModule.log") != INVALID_FILE_ATTRIBUTES ? "L R"
                                                                                    : "R");
    return VXException::SendRemoteLog(line);
  }
  std::vector<std::string> remote_lines;
};

class OutputWine : public ::testing::Test {
 protected:
  void SetUp() override {
    g_debug_lines.clear();
    g_module_record.Clear();
    g_continue_module_exception = true;
    handler_ = AddVectoredExceptionHandler(0, WatchExceptions);
    g_cbt_hook = SetWindowsHookExA(WH_CBT, WatchWindows, nullptr, GetCurrentThreadId());
    ASSERT_NE(g_cbt_hook, nullptr);
  }
  void TearDown() override {
    UnhookWindowsHookEx(g_cbt_hook);
    RemoveVectoredExceptionHandler(handler_);
  }

  ScratchDirectory directory_;
  WatchedModule module_;
  void* handler_ = nullptr;
};

typedef void (VXException::*LevelOp)(const char*, const char*);

// Calls a level from a place the test knows, so the address in the line can be checked.
__attribute__((noinline)) void CallLevel(VXException* module, LevelOp op, const char* message,
                                         const char* source) {
  g_watching = true;
  (module->*op)(message, source);
  g_watching = false;
}

// The address in a line ends it: "0x" and eight digits before the line feed.
uint32_t AddressOf(const std::string& line) {
  unsigned int address = 0;
  if (line.size() < 11) return 0;
  std::sscanf(line.c_str() + line.size() - 11, "0x%8X", &address);
  return address;
}

void ExpectAddressInCallLevel(const std::string& line) {
  const uint32_t start = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&CallLevel));
  const uint32_t address = AddressOf(line);
  EXPECT_GT(address, start) << line;
  EXPECT_LT(address, start + 512) << line;
}

TEST_F(OutputWine, DebuggerOutputGetsTheDisplayLine) {
  module_.SetLevelFlags(kLogWarn, kLevelDebugger);
  CallLevel(&module_, &VXException::Warn, nullptr, nullptr);
  ASSERT_EQ(g_debug_lines.size(), 1u);
  const std::string& line = g_debug_lines[0];
  EXPECT_EQ(line.substr(0, line.size() - 9), "[Velmor]\xBE\xAF\xB8\xE6-  - [@P#]0x");
  EXPECT_EQ(line.back(), '\n');
  ExpectAddressInCallLevel(line);
  char expected[1024];
  FormatDisplayLine(expected, sizeof expected, nullptr, nullptr, kLevelNames[kLogWarn],
                    AddressOf(line));
  EXPECT_EQ(line, expected);
  EXPECT_STREQ(module_.GetLastMessage(), "") << "D alone does not touch LastMessage";
}

TEST_F(OutputWine, ExceptionRaisesAfterDebuggerOutputAndReturnsWhenContinued) {
  bool returned = false;
  CallLevel(&module_, &VXException::Exception, "bad state", "physics");
  returned = true;
  EXPECT_TRUE(returned);
  EXPECT_EQ(g_module_record.events, (std::vector<std::string>{"D", "T"}));
  ASSERT_EQ(g_debug_lines.size(), 1u);
  const std::string prefix = "[physics]\xB4\xED\xCE\xF3- bad state - [@P#]0x";
  EXPECT_EQ(g_debug_lines[0].substr(0, prefix.size()), prefix);
  EXPECT_EQ(module_.GetLastMessage(), g_debug_lines[0]);
}

TEST_F(OutputWine, ActionsRunInTheirFixedOrder) {
  module_.SetLevelFlags(kLogDebug, kLevelFileLog | kLevelRemoteLog | kLevelDebugger |
                                       kLevelMessageBox | kLevelThrow | kLevelExceptionDump |
                                       kLevelUserDump);
  CallLevel(&module_, &VXException::Debug, "all", "src");
  EXPECT_EQ(g_module_record.events, (std::vector<std::string>{"L R", "D", "M", "T", "O", "U"}));
  ASSERT_EQ(module_.remote_lines.size(), 1u);
  ASSERT_EQ(g_debug_lines.size(), 1u);
  EXPECT_EQ(module_.remote_lines[0], g_debug_lines[0]);
}

TEST_F(OutputWine, DumpLevelsStoreTheLineThenAskForTheirPackage) {
  module_.SetLevelFlags(kLogLog, kLevelExceptionDump | kLevelDebugger);
  CallLevel(&module_, &VXException::Log, "first", "a");
  CallLevel(&module_, &VXException::Dump, "second", "b");  // defaults: N U
  ASSERT_EQ(g_module_record.dump_calls.size(), 2u);
  ASSERT_EQ(g_debug_lines.size(), 1u);
  EXPECT_EQ(g_module_record.dump_calls[0].kind, static_cast<uint32_t>(kExceptionDump));
  EXPECT_FALSE(g_module_record.dump_calls[0].had_exception_pointers);
  EXPECT_EQ(g_module_record.dump_calls[0].last_message, g_debug_lines[0]);
  EXPECT_EQ(g_module_record.dump_calls[1].kind, static_cast<uint32_t>(kUserDump));
  EXPECT_FALSE(g_module_record.dump_calls[1].had_exception_pointers);
  EXPECT_EQ(g_module_record.dump_calls[1].last_message.substr(0, 13), "[b]DUMP- seco");
  ExpectAddressInCallLevel(g_module_record.dump_calls[1].last_message);
}

TEST_F(OutputWine, MessageBoxShowsOnTheCallingThread) {
  // FatalException's M without its E.
  module_.SetLevelFlags(kLogFatalException, kLevelMessageBox);
  CallLevel(&module_, &VXException::FatalException, "stop", nullptr);
  EXPECT_EQ(g_module_record.events, std::vector<std::string>{"M"});
}

TEST_F(OutputWine, LevelWithoutFlagsDoesNothing) {
  for (uint32_t level = 0; level < kLogLevelCount; ++level) module_.SetLevelFlags(level, 0);
  CallLevel(&module_, &VXException::Exception, "x", "y");
  CallLevel(&module_, &VXException::Log, "x", "y");
  CallLevel(&module_, &VXException::FatalException, "x", "y");
  CallLevel(&module_, &VXException::Dump, "x", "y");
  EXPECT_TRUE(g_module_record.events.empty());
  EXPECT_TRUE(g_module_record.dump_calls.empty());
  EXPECT_STREQ(module_.GetLastMessage(), "");
  EXPECT_EQ(directory_.Read("HVModule.log"), "<missing>");
}

TEST_F(OutputWine, FileLogAppendsTheFileFormOfEachLine) {
  module_.SetLevelFlags(kLogLog, kLevelFileLog | kLevelDebugger);
  CallLevel(&module_, &VXException::Log, "first", "a");
  CallLevel(&module_, &VXException::Log, nullptr, "b");
  ASSERT_EQ(g_debug_lines.size(), 2u);
  // The file form is the display line without its "[source]".
  const std::string expected = g_debug_lines[0].substr(3) + g_debug_lines[1].substr(3);
  EXPECT_EQ(directory_.Read("HVModule.log"), expected);
  EXPECT_EQ(expected.substr(0, 14), "LOG- first - [");

  module_.SetLogFormat(1, "other.log");
  CallLevel(&module_, &VXException::Log, "third", "c");
  EXPECT_EQ(directory_.Read("other.log").substr(0, 14), "LOG- third - [");
  EXPECT_EQ(directory_.Read("HVModule.log"), expected);
}

TEST_F(OutputWine, UnwritableLogFileChangesNothingElse) {
  module_.SetLogFormat(1, "no\\such\\folder\\x.log");
  module_.SetLevelFlags(kLogLog, kLevelFileLog | kLevelDebugger);
  CallLevel(&module_, &VXException::Log, "still here", "a");
  ASSERT_EQ(g_debug_lines.size(), 1u);
  EXPECT_EQ(g_debug_lines[0].substr(0, 18), "[a]LOG- still here");
}

TEST_F(OutputWine, UnreadableMessageGivesAnEmptyLineAndTheActionsGoOn) {
  const char* unreadable = reinterpret_cast<const char*>(16);
  module_.SetLevelFlags(kLogDebug, kLevelFileLog | kLevelDebugger | kLevelUserDump);
  CallLevel(&module_, &VXException::Debug, unreadable, "src");
  EXPECT_EQ(g_debug_lines, std::vector<std::string>{""});
  ASSERT_EQ(g_module_record.dump_calls.size(), 1u);
  EXPECT_EQ(g_module_record.dump_calls[0].last_message, "");
  // The file form faulted too: nothing half-formed reaches the file.
  EXPECT_EQ(directory_.Read("HVModule.log"), "<missing>");
}

TEST_F(OutputWine, LongMessageIsCutToTheLineBuffer) {
  const std::string message(5000, 'm');
  module_.SetLevelFlags(kLogDebug, kLevelDebugger | kLevelThrow);
  CallLevel(&module_, &VXException::Debug, message.c_str(), "s");
  ASSERT_EQ(g_debug_lines.size(), 1u);
  EXPECT_EQ(g_debug_lines[0].size(), 1023u);
  EXPECT_EQ(module_.GetLastMessage(), g_debug_lines[0]);
}

}  // namespace
