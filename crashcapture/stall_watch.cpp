#include "crashcapture/stall_watch.h"

bool StallWatch::Stalled(uint64_t progress, uint64_t worker_cpu, bool user_waiting, uint32_t now_ms) {
  if (!started_ || progress != last_progress_ || user_waiting) {
    started_ = true;
    last_progress_ = progress;
    last_cpu_ = worker_cpu;
    last_mark_ms_ = now_ms;
    quiet_since_ms_ = now_ms;
    return false;
  }
  // Unsigned differences: right across the 49.7-day wrap of GetTickCount.
  if (uint32_t(now_ms - last_mark_ms_) >= cpu_only_limit_ms_) return true;
  if (worker_cpu != last_cpu_) {
    last_cpu_ = worker_cpu;
    quiet_since_ms_ = now_ms;
    return false;
  }
  return uint32_t(now_ms - quiet_since_ms_) >= limit_ms_;
}
