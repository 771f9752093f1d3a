#include "crashcapture/dump_contents.h"

#include <cstddef>

namespace {

uint32_t BoundedLength(const char* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  return uint32_t(n);
}

void Add(UserStreamList* list, uint32_t type, const void* data, uint32_t size) {
  list->streams[list->count++] = UserStream{type, size, data};
}

struct ShotLevel {
  uint32_t bit;
  int quality;
};

constexpr ShotLevel kShotLevels[] = {
    {kDumpShotHigh, 75},
    {kDumpShotMedium, 40},
    {kDumpShotLow, 15},
};

}  // namespace

uint32_t MinidumpTypeFor(uint32_t flags) {
  if (flags & kDumpFilterMemory) return kMiniDumpFilterMemory;
  if (flags & kDumpNormal) return kMiniDumpNormal;
  return kMiniDumpWithFullMemory;
}

int ScreenshotQualityFor(uint32_t flags) {
  for (const ShotLevel& level : kShotLevels) {
    if (flags & level.bit) return level.quality;
  }
  return 0;
}

bool WantsUserTexts(uint32_t flags) {
  return (flags & (kDumpUserText1 | kDumpUserText2 | kDumpUserText3)) != 0;
}

void BuildUserStreams(uint32_t flags, const char* last_message, const void* screenshot,
                      int screenshot_size, const UserInfo* user_info, UserStreamList* list) {
  list->count = 0;
  if ((flags & kDumpExtraInfo) && last_message) {
    uint32_t length = BoundedLength(last_message, kLastMessageSize);
    if (length > 0) Add(list, kStreamExtraInfo, last_message, length);
  }
  if (ScreenshotQualityFor(flags) > 0 && screenshot && screenshot_size > 0) {
    Add(list, kStreamScreenshot, screenshot, uint32_t(screenshot_size));
  }
  if (!user_info) return;
  if (flags & kDumpUserText1) {
    Add(list, kStreamUserInfo1, user_info->text1, BoundedLength(user_info->text1, sizeof user_info->text1));
  }
  if (flags & kDumpUserText2) {
    Add(list, kStreamUserInfo2, user_info->text2, BoundedLength(user_info->text2, sizeof user_info->text2));
  }
  if (flags & kDumpUserText3) {
    Add(list, kStreamUserInfo3, user_info->text3, BoundedLength(user_info->text3, sizeof user_info->text3));
  }
}
