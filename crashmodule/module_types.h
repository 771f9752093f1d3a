// Types shared by the crash-reporting module and the crash-capture code. Portable: no <windows.h>.
#pragma once

#include <cstdint>

// What each log level does; one bit per action, named by a letter in HVModule.dat.
enum LevelFlagBits : uint32_t {
  kLevelNone = 0x00000001,           // N: selects nothing
  kLevelThrow = 0x00000002,          // T: LastMessage, then raise kModuleExceptionCode
  kLevelExit = 0x00000004,           // E: exit hook, then end the process with exit code 1
  kLevelMessageBox = 0x00000100,     // M
  kLevelDebugger = 0x00000200,       // D: OutputDebugStringA
  kLevelExceptionDump = 0x00000400,  // O: LastMessage, then an ExceptionDump package
  kLevelUserDump = 0x00000800,       // U: LastMessage, then a UserDump package
  kLevelC = 0x00001000,              // C: selects nothing
  kLevelFileLog = 0x00010000,        // L
  kLevelRemoteLog = 0x00020000,      // R
};

// The software exception raised by a level with letter T.
constexpr uint32_t kModuleExceptionCode = 0xFFFF0002u;

enum LogLevel : uint32_t {
  kLogDebug = 0,
  kLogWarn = 1,
  kLogFatalException = 2,
  kLogException = 3,
  kLogLog = 4,
  kLogRemoteLog = 5,
  kLogDump = 6,
  kLogLevelCount = 7,
};

enum LogFormatBits : uint32_t {
  kLogFormatS = 0x1,
  kLogFormatM = 0x2,
  kLogFormatT = 0x4,
};

enum DumpKind : uint32_t {
  kCrashDump = 0,
  kExceptionDump = 1,
  kUserDump = 2,
  kDumpKindCount = 3,
};

// What a dump package holds, one bit per letter of Format_CrashDump and its siblings.
enum DumpFlagBits : uint32_t {
  kDumpFilterMemory = 0x00000001,  // S: MiniDumpFilterMemory, wins over N
  kDumpNormal = 0x00000002,        // N: MiniDumpNormal; neither S nor N: MiniDumpWithFullMemory
  kDumpF = 0x00000004,             // not consulted
  kDumpA = 0x00000100,             // not consulted
  kDumpB = 0x00000200,             // not consulted
  kDumpShotHigh = 0x00001000,      // H: screenshot at quality 75
  kDumpShotMedium = 0x00002000,    // M: quality 40
  kDumpShotLow = 0x00004000,       // L: quality 15
  kDumpExtraInfo = 0x00010000,     // E: the callback, then LastMessage as a user stream
  kDumpUserText1 = 0x00020000,     // 1
  kDumpUserText2 = 0x00040000,     // 2
  kDumpUserText3 = 0x00080000,     // 3
};

// Minidump user-stream types of a dump package.
enum UserStreamType : uint32_t {
  kStreamExtraInfo = 0x10001,
  kStreamScreenshot = 0x10002,
  kStreamUserInfo1 = 0x10003,
  kStreamUserInfo2 = 0x10004,
  kStreamUserInfo3 = 0x10005,
};

constexpr int kLastMessageSize = 1024;

struct DumpFormat;
// Called when a dump's flags hold E: may rewrite the LastMessage text (kLastMessageSize bytes).
// Hosts compile it with their default calling convention.
typedef void (*ExtraInfoCallback)(char* last_message, DumpFormat* format);
typedef void (*ExitHook)();

struct DumpFormat {
  uint32_t flags;
  char server[256];
  ExtraInfoCallback callback;
  char title[512];
  char info1[64];
  char info2[64];
  char info3[128];
};

// The three texts typed into the user-description dialog, in the ANSI code page.
struct UserInfo {
  char text1[128];
  char text2[128];
  char text3[2048];
};
