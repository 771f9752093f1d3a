// Writes received datagrams into the store on a thread of its own, in one transaction per batch,
// so that the receiving thread never waits for the disk. The queue is bounded: when the store
// falls that far behind, further datagrams are printed but not stored, and counted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "disk_budget.h"
#include "store/store.h"

namespace collector {

class StoreWriter {
 public:
  // About 64 MiB of the largest rows (a text of 512 bytes), a second of a burst at wire speed.
  static constexpr size_t kMaxPendingRows = 131072;

  // `budget` may be null. Starts the thread.
  StoreWriter(std::unique_ptr<Store> store, DiskBudget* budget, size_t max_pending = kMaxPendingRows);
  ~StoreWriter();  // writes what is queued, then stops

  // From the receiving thread; never blocks on the disk. False when the row was not kept.
  bool Add(StoredDatagram&& row);
  // Waits until everything added so far is committed.
  void Drain();

  // Rows not stored: the queue was full, the budget spent, or SQLite failed.
  uint64_t dropped() const;
  uint64_t stored() const;

 private:
  void Run();

  std::unique_ptr<Store> store_;
  DiskBudget* budget_;
  const size_t max_pending_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<StoredDatagram> pending_;
  bool writing_ = false;
  bool stopping_ = false;
  uint64_t dropped_ = 0;
  uint64_t stored_ = 0;
  std::thread thread_;
};

}  // namespace collector
