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
  // About 100 MiB of the largest rows (a text of 512 bytes and the row's own 150 bytes), and a
  // second of a burst at wire speed.
  static constexpr size_t kMaxPendingRows = 1 << 19;
  // The writer's niceness, relative to the process.
  static constexpr int kBackgroundNice = 10;

  // `budget` may be null. Starts the thread.
  StoreWriter(std::unique_ptr<Store> store, DiskBudget* budget, size_t max_pending = kMaxPendingRows);
  ~StoreWriter();  // writes what is queued, then stops

  // From the receiving thread, a batch at a time; never waits for the disk. Takes the rows out
  // of `rows` (which comes back empty, with room) and returns how many were kept: all of them, or
  // none when the queue has no room for the batch.
  size_t Add(std::vector<StoredReport>* rows);
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
  // Whole batches as the receiver handed them over: moving a batch moves no row.
  std::vector<std::vector<StoredReport>> pending_;
  size_t pending_rows_ = 0;
  // Written batches, emptied, kept with their room for the receiver's next batch.
  std::vector<std::vector<StoredReport>> spare_;
  bool writing_ = false;
  bool stopping_ = false;
  uint64_t dropped_ = 0;
  uint64_t stored_ = 0;
  std::thread thread_;
};

}  // namespace collector
