// Crash packages are unpacked, analysed, saved and stored away from the receiving thread: the
// analysis and the symbolizer can take seconds, while datagrams keep arriving. Jobs wait in a
// bounded queue; a package that finds it full is reported as not unpacked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "analysis/crash_analysis.h"
#include "disk_budget.h"
#include "store/store.h"

namespace collector {

struct CrashJob {
  std::vector<uint8_t> bytes;  // a dump package, or a bare minidump when is_minidump
  bool is_minidump = false;
  StoredCrash meta;  // received, source, sender, machine and identities; the rest is filled in
};

struct CrashSettings {
  std::string out_dir;
  size_t max_dump_bytes = 0;
  AnalysisOptions analysis;
  std::string page_base;  // "http://127.0.0.1:8080" when pages are served, else empty
};

// Turns one job into a report folder, a stored crash and the crash_report line.
class CrashProcessor {
 public:
  // `store` and `budget` may be null: no store, no budget.
  CrashProcessor(CrashSettings settings, Store* store, DiskBudget* budget)
      : settings_(std::move(settings)), store_(store), budget_(budget) {}

  std::string Process(const CrashJob& job);

 private:
  CrashSettings settings_;
  Store* store_;
  DiskBudget* budget_;
  unsigned next_report_ = 1;
};

// The crash_report line of a package that was not unpacked, and why.
std::string RefusedCrashReportJson(size_t package_bytes, const std::string& reason);

class CrashWorker {
 public:
  static constexpr size_t kMaxPendingJobs = 8;  // 8 x 64512 bytes waiting at most

  CrashWorker(CrashProcessor* processor, std::function<void(std::string_view)> emit);
  ~CrashWorker();  // finishes the jobs already taken

  // False when the queue is full: the job was not taken.
  bool Submit(CrashJob&& job);
  // Waits until every job taken so far is done.
  void Drain();

 private:
  void Run();

  CrashProcessor* processor_;
  std::function<void(std::string_view)> emit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<CrashJob> jobs_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace collector
