// The crash path's watchdog rule: a crash that makes no progress for kStallLimitMs is ended from
// outside. Portable: the Windows watchdog feeds it the progress mark, the worker's CPU time and
// the clock.
#pragma once

#include <cstdint>

// Long enough for the slowest honest step between two marks on an idle machine; short enough that
// a frozen game does not keep the player waiting.
constexpr uint32_t kStallLimitMs = 10000;
// How long the crash worker's CPU time alone may stand for progress. On a loaded machine Wine's
// MiniDumpWriteDump spends more than the stall limit reading debug information before its first
// callback: it computes, so its CPU time grows, but it leaves no mark. A worker that computes
// for this long without a single mark is spinning, and is ended all the same.
constexpr uint32_t kCpuOnlyLimitMs = 60000;

class StallWatch {
 public:
  explicit StallWatch(uint32_t limit_ms = kStallLimitMs, uint32_t cpu_only_limit_ms = kCpuOnlyLimitMs)
      : limit_ms_(limit_ms), cpu_only_limit_ms_(cpu_only_limit_ms) {}

  // One look at the crash path: progress is any mark that changes whenever the path gets on (a
  // step counter plus the bytes written), worker_cpu the crash worker's CPU time so far in any
  // unit (0 when unknown), user_waiting says that a dialog or message box is on the screen, now_ms
  // is a millisecond clock that may wrap. True once the path has made no progress for the limit,
  // not counting the time the user spends in front of a window; CPU time counts as progress only
  // until the CPU-only limit has passed since the last mark.
  bool Stalled(uint64_t progress, uint64_t worker_cpu, bool user_waiting, uint32_t now_ms);

 private:
  uint32_t limit_ms_;
  uint32_t cpu_only_limit_ms_;
  bool started_ = false;
  uint64_t last_progress_ = 0;
  uint64_t last_cpu_ = 0;
  uint32_t last_mark_ms_ = 0;    // the last change of the mark, or the last look at a user window
  uint32_t quiet_since_ms_ = 0;  // the last change of the mark or of the CPU time
};
