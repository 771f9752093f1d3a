#include "crashcapture/stall_watch.h"

bool StallWatch::Stalled(uint64_t progress, bool user_waiting, uint32_t now_ms) {
  if (!started_ || progress != last_progress_ || user_waiting) {
    started_ = true;
    last_progress_ = progress;
    quiet_since_ms_ = now_ms;
    return false;
  }
  // Unsigned difference: right across the 49.7-day wrap of GetTickCount.
  return uint32_t(now_ms - quiet_since_ms_) >= limit_ms_;
}
