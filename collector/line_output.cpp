#include "line_output.h"

#include <pthread.h>
#include <errno.h>
#include <unistd.h>

namespace collector {

LineOutput::LineOutput(int fd, size_t max_pending) : fd_(fd), max_pending_(max_pending), thread_([this] { Run(); }) {}

LineOutput::~LineOutput() {
  Flush();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void LineOutput::Append(std::string_view lines) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return pending_.size() < max_pending_ || failed_; });
  if (failed_) return;
  bool wake = pending_.empty();
  pending_.append(lines);
  lock.unlock();
  if (wake) changed_.notify_all();
}

void LineOutput::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return (pending_.empty() && !writing_) || failed_; });
}

void LineOutput::Run() {
  pthread_setname_np(pthread_self(), "stdout writer");
  std::string writing;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;
    writing.swap(pending_);
    writing_ = true;
    lock.unlock();
    changed_.notify_all();  // room again for a waiting Append
    size_t done = 0;
    bool ok = true;
    while (done < writing.size()) {
      ssize_t n = write(fd_, writing.data() + done, writing.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      done += static_cast<size_t>(n);
    }
    writing.clear();
    lock.lock();
    writing_ = false;
    if (!ok) failed_ = true;
    changed_.notify_all();
  }
}

}  // namespace collector
