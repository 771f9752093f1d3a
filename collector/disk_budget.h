// The disk the collector may fill under --out: saved files and the store together. Shared by the
// receiving thread, the crash worker and the store's writer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace collector {

class DiskBudget {
 public:
  explicit DiskBudget(uint64_t budget_bytes) : budget_(budget_bytes) {}

  // Counts what an earlier run left in `dir` (files only; the store is counted by SetStoreBytes).
  void CountExisting(const std::string& dir, const std::string& store_path);

  // Reserves room for a file about to be written; false when it would pass the budget.
  bool Charge(uint64_t bytes);
  void SetStoreBytes(uint64_t bytes) { store_bytes_.store(bytes); }
  bool Spent() const { return files_bytes_.load() + store_bytes_.load() >= budget_; }
  uint64_t used() const { return files_bytes_.load() + store_bytes_.load(); }
  uint64_t budget() const { return budget_; }

 private:
  const uint64_t budget_;
  std::atomic<uint64_t> files_bytes_{0};
  std::atomic<uint64_t> store_bytes_{0};
};

}  // namespace collector
