// Standard output, written by a thread of its own so that a slow reader of the pipe does not stop
// the receiving thread. Lines gather in a buffer and leave in large writes as soon as the writer
// is free, so a reader still sees each line at once when the traffic is light. The buffer is
// bounded: when the reader falls that far behind, Append waits for it (the pipeline's pace is
// the collector's; the kernel's socket buffer then takes the burst, and counts what it drops).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace collector {

class LineOutput {
 public:
  static constexpr size_t kMaxPendingBytes = size_t{64} << 20;

  explicit LineOutput(int fd, size_t max_pending = kMaxPendingBytes);
  ~LineOutput();  // writes everything appended, then stops

  // Appends whole lines (each with its newline). Safe from any thread.
  void Append(std::string_view lines);
  // Waits until everything appended so far is written.
  void Flush();

 private:
  void Run();

  const int fd_;
  const size_t max_pending_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;
  bool writing_ = false;
  bool stopping_ = false;
  bool failed_ = false;  // the reader went away: lines are dropped from then on
  std::thread thread_;
};

}  // namespace collector
