// What the collector does with each datagram it receives: decode, save, print, store, and hand a
// dump package to the crash worker. Independent of the socket and of the threads, so tests hand
// it datagrams directly and install their own outputs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "bytes.h"
#include "crash_worker.h"
#include "datagram_json.h"
#include "disk_budget.h"
#include "input_limits.h"
#include "sender_rate.h"
#include "store/store_records.h"

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

  // Never fails: a bad datagram becomes an "invalid" line. `sender` is the IPv4 source address in
  // host order, `now` the Unix time of arrival.
  void Handle(Bytes datagram, uint32_t sender, double now);

  uint64_t invalid_count() const { return invalid_count_; }

 private:
  void SaveBlob(const Datagram& d, uint32_t sender, double now, BlobFile* blob);
  void HandCrashOver(const Datagram& d, uint32_t sender, double now);

  std::string out_dir_;
  bool raw_;
  std::string line_;  // reused for every line: the receiving thread allocates nothing per datagram
  DiskBudget* budget_;
  SessionOutputs outputs_;
  SenderRate rate_;
  uint64_t invalid_count_ = 0;
  unsigned next_blob_ = 1;
};

}  // namespace collector
