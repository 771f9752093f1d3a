#include "store/store_writer.h"

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

bool StoreWriter::Add(StoredDatagram&& row) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.size() >= max_pending_) {
      ++dropped_;
      return false;
    }
    wake = pending_.empty();
    pending_.push_back(std::move(row));
  }
  if (wake) changed_.notify_all();
  return true;
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
  std::vector<StoredDatagram> batch;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;
    batch.swap(pending_);
    writing_ = true;
    lock.unlock();
    // Whatever piled up while the last batch was written goes in as one transaction.
    bool spent = budget_ && budget_->Spent();
    bool ok = !spent && store_->AddDatagrams(batch);
    if (budget_) budget_->SetStoreBytes(store_->DiskBytes());
    lock.lock();
    (ok ? stored_ : dropped_) += batch.size();
    batch.clear();
    writing_ = false;
    changed_.notify_all();
  }
}

}  // namespace collector
