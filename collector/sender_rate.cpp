#include "sender_rate.h"

#include <algorithm>

namespace collector {
namespace {

constexpr double kSecondsPerMinute = 60;

}  // namespace

double SenderRate::Refill(Bucket* bucket, Kind kind, double now) const {
  double burst = kind == kCrashPackages ? rates_.crash_packages_burst : rates_.saved_bytes_burst;
  double per_minute = kind == kCrashPackages ? rates_.crash_packages_per_minute : rates_.saved_bytes_per_minute;
  double elapsed = std::max(0.0, now - bucket->updated);
  bucket->level = std::min(burst, bucket->level + elapsed * per_minute / kSecondsPerMinute);
  bucket->updated = now;
  return burst;
}

void SenderRate::ForgetIdle(double now) {
  // A sender whose buckets have filled up again is indistinguishable from a new one.
  for (auto it = senders_.begin(); it != senders_.end();) {
    bool full = Refill(&it->second.crash_packages, kCrashPackages, now) <= it->second.crash_packages.level &&
                Refill(&it->second.saved_bytes, kSavedBytes, now) <= it->second.saved_bytes.level;
    it = full ? senders_.erase(it) : std::next(it);
  }
}

SenderRate::Buckets* SenderRate::Find(uint32_t sender, double now) {
  auto it = senders_.find(sender);
  if (it != senders_.end()) return &it->second;
  if (senders_.size() >= max_senders_) ForgetIdle(now);
  Buckets fresh{{rates_.crash_packages_burst, now}, {rates_.saved_bytes_burst, now}};
  if (senders_.size() >= max_senders_) {
    if (!overflow_started_) overflow_ = fresh;
    overflow_started_ = true;
    return &overflow_;
  }
  return &senders_.emplace(sender, fresh).first->second;
}

bool SenderRate::Take(uint32_t sender, Kind kind, double amount, double now) {
  Buckets* buckets = Find(sender, now);
  Bucket* bucket = kind == kCrashPackages ? &buckets->crash_packages : &buckets->saved_bytes;
  Refill(bucket, kind, now);
  if (bucket->level < amount) return false;
  bucket->level -= amount;
  return true;
}

}  // namespace collector
