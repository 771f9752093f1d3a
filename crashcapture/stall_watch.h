// The crash path's watchdog rule: a crash that makes no progress for kStallLimitMs is ended from
// outside. Portable: the Windows watchdog feeds it the progress mark and the clock.
#pragma once

#include <cstdint>

// Long enough for the slowest honest step seen (MiniDumpWriteDump takes 2 to 3 s under Wine and
// writes as it goes, so a big dump keeps making progress); short enough that a frozen game does
// not keep the player waiting.
constexpr uint32_t kStallLimitMs = 10000;

class StallWatch {
 public:
  explicit StallWatch(uint32_t limit_ms = kStallLimitMs) : limit_ms_(limit_ms) {}

  // One look at the crash path: progress is any mark that changes whenever the path gets on (a
  // step counter plus the bytes written), user_waiting says that a dialog or message box is on
  // the screen, now_ms is a millisecond clock that may wrap. True once the path has made no
  // progress for the limit, not counting the time the user spends in front of a window.
  bool Stalled(uint64_t progress, bool user_waiting, uint32_t now_ms);

 private:
  uint32_t limit_ms_;
  bool started_ = false;
  uint64_t last_progress_ = 0;
  uint32_t quiet_since_ms_ = 0;
};
