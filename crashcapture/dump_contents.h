// What a dump holds, decided from its DumpFlags: the minidump type, the screenshot quality and the
// list of user streams. Portable; the Windows side turns the list into MINIDUMP_USER_STREAMs.
#pragma once

#include <cstdint>

#include "crashmodule/module_types.h"

// MINIDUMP_TYPE values that the flags choose between.
constexpr uint32_t kMiniDumpNormal = 0x0;
constexpr uint32_t kMiniDumpWithFullMemory = 0x2;
constexpr uint32_t kMiniDumpFilterMemory = 0x8;

constexpr int kMaxUserStreams = 5;

// S wins over N; neither gives the full memory of the process.
uint32_t MinidumpTypeFor(uint32_t flags);

// The JPEG quality of the screenshot (H 75, else M 40, else L 15), or 0 when none is asked for.
int ScreenshotQualityFor(uint32_t flags);

bool WantsUserTexts(uint32_t flags);

struct UserStream {
  uint32_t type;  // a UserStreamType
  uint32_t size;
  const void* data;
};

struct UserStreamList {
  UserStream streams[kMaxUserStreams];
  uint32_t count;
};

// The streams in their fixed order 0x10001..0x10005: the extra information when E is set and
// last_message is not empty; the screenshot when one was taken (screenshot_size > 0); each user
// text whose bit is set, empty ones included. Texts are measured to their first zero byte, and
// never beyond their buffer, so an unterminated text cannot run off its end.
void BuildUserStreams(uint32_t flags, const char* last_message, const void* screenshot,
                      int screenshot_size, const UserInfo* user_info, UserStreamList* list);
