// What the collector does with each datagram it receives: decode, save, print, store, and hand a
// dump package to the crash worker. The crash report's own kinds (summaries and package parts) go
// to the one reassembler, which lives here because the receiving thread is where datagrams come
// one at a time. Independent of the socket and of the threads, so tests hand it datagrams
// directly, turn its clock by hand and install their own outputs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "bytes.h"
#include "crash_worker.h"
#include "datagram_json.h"
#include "disk_budget.h"
#include "input_limits.h"
#include "sender_rate.h"
#include "store/store_records.h"

// The reassembly stays out of this header: its wire library names the datagram kinds as the
// client does, in the global namespace, beside the collector's own names for them.
namespace reassembly {
class Reassembler;
struct ReassemblyLimits;
struct SummaryEvent;
struct PackageEvent;
}  // namespace reassembly

namespace collector {

// Where a session's results go; filled in by the program's wiring, by tests with their own.
struct SessionOutputs {
  std::function<void(std::string_view line)> emit;  // one line, without its newline
  std::function<void(StoredReport&&)> store;         // empty: no store
  std::function<bool(CrashJob&&)> crash;             // false: the job was not taken
};

class Session {
 public:
  // `out_dir` must exist. `budget` may be null: no disk budget.
  Session(std::string out_dir, bool raw, const Limits& limits, DiskBudget* budget, SessionOutputs outputs);
  Session(std::string out_dir, bool raw, const Limits& limits, DiskBudget* budget, SessionOutputs outputs,
          const reassembly::ReassemblyLimits& reassembly_limits);
  ~Session();

  // Never fails: a bad datagram becomes an "invalid" line. `sender` is the IPv4 source address in
  // host order, `now` the Unix time of arrival.
  void Handle(Bytes datagram, uint32_t sender, double now);
  // Gives up the packages whose parts stopped coming: call about once a second, datagrams or not.
  void Expire(double now);
  // Gives up every package still open, as the collector stops.
  void Flush();

  uint64_t invalid_count() const { return invalid_count_; }
  const reassembly::Reassembler& reassembler() const { return *reassembler_; }

 private:
  struct LatestSummary {
    uint32_t wire_id;
    double received;
  };

  void SaveBlob(const Datagram& d, uint32_t sender, double now, BlobFile* blob);
  void HandCrashOver(const Datagram& d, uint32_t sender, double now);
  void Invalid(const char* reason, Bytes datagram, uint32_t sender, double now);
  void HandleCrashWire(Bytes datagram, uint32_t sender, double now);
  void HandSummaryOver(const reassembly::SummaryEvent& event, uint32_t sender, double now);
  void HandPackageOver(reassembly::PackageEvent&& event, uint32_t sender, double now);
  void Finished(std::vector<reassembly::PackageEvent>&& events, uint32_t sender, double now);
  // The reassembler's clock in milliseconds: arrival times that never go back, so that a clock
  // set back does not make every open package look silent for ages.
  uint64_t ClockMs(double now);

  std::string out_dir_;
  bool raw_;
  std::string line_;  // reused for every line: the receiving thread allocates nothing per datagram
  DiskBudget* budget_;
  SessionOutputs outputs_;
  SenderRate rate_;
  uint64_t invalid_count_ = 0;
  unsigned next_blob_ = 1;
  std::unique_ptr<reassembly::Reassembler> reassembler_;
  uint64_t clock_ms_ = 0;
  // Each machine's latest summary, so that its key-17 package, which carries no wire id, joins the
  // crash the summary began rather than counting as another.
  std::unordered_map<std::string, LatestSummary> latest_summary_;
};

}  // namespace collector
