// Per-sender token buckets: how many crash packages a source address may have unpacked, and how
// many bytes of blobs and report files it may have saved, at once and per minute. Used by the
// receiving thread only.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "input_limits.h"

namespace collector {

class SenderRate {
 public:
  enum Kind { kCrashPackages, kSavedBytes };

  explicit SenderRate(const SenderRates& rates, size_t max_senders = kMaxTrackedSenders)
      : rates_(rates), max_senders_(max_senders) {}

  // Takes `amount` from the sender's bucket; false (and nothing taken) when it holds less.
  bool Take(uint32_t sender, Kind kind, double amount, double now);

  size_t tracked() const { return senders_.size(); }

 private:
  struct Bucket {
    double level;
    double updated;
  };
  struct Buckets {
    Bucket crash_packages;
    Bucket saved_bytes;
  };

  Buckets* Find(uint32_t sender, double now);
  void ForgetIdle(double now);
  double Refill(Bucket* bucket, Kind kind, double now) const;

  SenderRates rates_;
  size_t max_senders_;
  std::unordered_map<uint32_t, Buckets> senders_;
  // Shared by every new sender while the table is full of busy ones, so that forged addresses
  // cannot buy themselves fresh buckets.
  Buckets overflow_{};
  bool overflow_started_ = false;
};

}  // namespace collector
