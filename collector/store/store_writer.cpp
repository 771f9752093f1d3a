#include "store/store_writer.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

namespace collector {

StoreWriter::StoreWriter(std::unique_ptr<Store> store, DiskBudget* budget, size_t max_pending)
    : store_(std::move(store)), budget_(budget), max_pending_(max_pending), thread_([this] { Run(); }) {}

StoreWriter::~StoreWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

size_t StoreWriter::Add(std::vector<StoredReport>* rows) {
  size_t count = rows->size();
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_rows_ + count > max_pending_) {
      dropped_ += count;
      count = 0;
      rows->clear();
    } else {
      wake = pending_.empty();
      pending_.push_back(std::move(*rows));
      pending_rows_ += count;
      if (spare_.empty()) {
        *rows = std::vector<StoredReport>();
      } else {
        *rows = std::move(spare_.back());
        spare_.pop_back();
      }
    }
  }
  if (wake) changed_.notify_all();
  return count;
}

void StoreWriter::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return pending_.empty() && !writing_; });
}

uint64_t StoreWriter::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

uint64_t StoreWriter::stored() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stored_;
}

void StoreWriter::Run() {
  // Below the receiving thread: during a burst the receiver takes the datagrams off the socket
  // first and the rows wait in the queue, rather than the kernel dropping datagrams.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBackgroundNice);
  pthread_setname_np(pthread_self(), "store writer");
  std::vector<std::vector<StoredReport>> batches;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;
    batches.swap(pending_);
    size_t rows = pending_rows_;
    pending_rows_ = 0;
    writing_ = true;
    lock.unlock();
    // Whatever piled up while the last batches were written goes in as one transaction.
    bool spent = budget_ && budget_->Spent();
    bool ok = !spent && store_->AddReports(batches);
    if (budget_) budget_->SetStoreBytes(store_->DiskBytes());
    for (std::vector<StoredReport>& batch : batches) batch.clear();
    lock.lock();
    (ok ? stored_ : dropped_) += rows;
    constexpr size_t kMaxSpares = 64;
    for (std::vector<StoredReport>& batch : batches) {
      if (spare_.size() < kMaxSpares) spare_.push_back(std::move(batch));
    }
    batches.clear();
    writing_ = false;
    changed_.notify_all();
  }
}

}  // namespace collector
