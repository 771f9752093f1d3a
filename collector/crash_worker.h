// Crash packages are unpacked, analysed, saved and stored away from the receiving thread: the
// analysis and the symbolizer can take seconds, while datagrams keep arriving. Jobs wait in a
// bounded queue; a package that finds it full is reported as not unpacked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "analysis/crash_analysis.h"
#include "disk_budget.h"
#include "store/store.h"

namespace reassembly {
struct SummaryEvent;  // kept out of this header, as in session.h
}  // namespace reassembly

namespace collector {

struct CrashJob {
  std::vector<uint8_t> bytes;  // a dump package, or a bare minidump when is_minidump
  bool is_minidump = false;
  bool from_network = false;  // its line says whether the package arrived whole
  bool rebuilt = false;       // rebuilt whole from its parts, rather than key 17's one datagram
  // A crash summary to symbolize and store, instead of a package.
  std::shared_ptr<const reassembly::SummaryEvent> summary;
  // Received, source, sender, machine and identities, and the wire id that ties the crash's
  // reports together when it is known; the rest is filled in.
  StoredCrash meta;
};

struct CrashSettings {
  std::string out_dir;
  size_t max_dump_bytes = 0;
  size_t max_rebuilt_dump_bytes = 0;  // for a package rebuilt from its parts; 0: max_dump_bytes
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
  std::string ProcessSummary(const CrashJob& job);

  CrashSettings settings_;
  Store* store_;
  DiskBudget* budget_;
  unsigned next_report_ = 1;
};

// The crash_report line of a package that was not unpacked, and why; `whole` and `wire_id` as the
// line of an unpacked one gives them.
std::string RefusedCrashReportJson(size_t package_bytes, const std::string& reason,
                                   std::optional<bool> whole = std::nullopt,
                                   std::optional<uint32_t> wire_id = std::nullopt);
// The crash_summary line of a summary that was not stored, and why.
std::string UnstoredSummaryJson(const reassembly::SummaryEvent& event, const std::string& reason);

class CrashWorker {
 public:
  // 8 packages waiting at most: 8 x 64512 bytes from key 17, up to 8 x 64 MiB rebuilt from parts
  // (each of those is first bounded by the reassembly's memory limits).
  static constexpr size_t kMaxPendingJobs = 8;

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
