#include "session.h"

#include <algorithm>
#include <cstring>

#include "datagram_decoder.h"
#include "datagram_json.h"
#include "output_files.h"
#include "reassembly/reassembler.h"
#include "wire_crash_json.h"

namespace collector {
namespace {

// The client sends the key-17 package right after the summary: a minute covers any queueing.
constexpr double kSummaryLinkSeconds = 60;
// Machines whose latest summary is remembered at once; machine ids cost nothing to forge.
constexpr size_t kMaxLatestSummaries = 65536;

// The row of each record; numbers give one row per record.
template <typename Each>
void ForEachRow(const Datagram& d, uint32_t size, uint32_t sender, double now, const BlobFile& blob, Each each) {
  StoredReport r;
  r.received = now;
  r.sender = sender;
  r.size = size;
  r.kind = d.kind;
  std::memcpy(r.machine_id, d.machine_id, sizeof r.machine_id);
  r.identity4 = d.identity4;
  r.identity3 = d.identity3;
  r.identity1 = d.identity1;
  if (d.kind == KIND_NUMBERS) {
    for (const NumberRecord& record : d.numbers) {
      StoredReport row = r;
      row.wire_key = record.wire_key;
      row.value = record.value;
      each(std::move(row));
    }
    return;
  }
  r.wire_key = d.data_key;
  if (d.kind == KIND_TEXT) {
    r.text.assign(reinterpret_cast<const char*>(d.data.data), d.data.size);
  } else {
    r.blob_length = static_cast<uint32_t>(d.data.size);
    r.blob_fnv1a64 = Fnv1a64(d.data);
    r.blob_file = blob.path;
  }
  each(std::move(r));
}

}  // namespace

Session::Session(std::string out_dir, bool raw, const Limits& limits, DiskBudget* budget, SessionOutputs outputs)
    : Session(std::move(out_dir), raw, limits, budget, std::move(outputs), reassembly::ReassemblyLimits()) {}

Session::Session(std::string out_dir, bool raw, const Limits& limits, DiskBudget* budget, SessionOutputs outputs,
                 const reassembly::ReassemblyLimits& reassembly_limits)
    : out_dir_(std::move(out_dir)),
      raw_(raw),
      budget_(budget),
      outputs_(std::move(outputs)),
      rate_(limits.sender),
      reassembler_(std::make_unique<reassembly::Reassembler>(reassembly_limits)) {}

Session::~Session() = default;

void Session::SaveBlob(const Datagram& d, uint32_t sender, double now, BlobFile* blob) {
  if (!rate_.Take(sender, SenderRate::kSavedBytes, static_cast<double>(d.data.size), now)) {
    blob->error = "not saved: the sender is over its rate of saved bytes";
  } else if (budget_ && !budget_->Charge(d.data.size)) {
    blob->error = "not saved: the disk budget is spent";
  } else {
    blob->path = CreateNumberedFile(out_dir_, "blob-", ".bin", d.data, &next_blob_, &blob->error);
  }
}

void Session::HandCrashOver(const Datagram& d, uint32_t sender, double now) {
  if (!rate_.Take(sender, SenderRate::kCrashPackages, 1, now)) {
    outputs_.emit(RefusedCrashReportJson(d.data.size, "the sender is over its rate of crash packages",
                                         d.data.size < kMaxBlobLength));
    return;
  }
  CrashJob job;
  job.bytes.assign(d.data.data, d.data.data + d.data.size);
  job.meta.received = now;
  job.meta.source = "network";
  job.meta.sender = sender;
  job.meta.machine_id = d.machine_id;
  job.meta.identities = Identities{d.identity4, d.identity3, d.identity1};
  job.from_network = true;
  auto latest = latest_summary_.find(d.machine_id);
  if (latest != latest_summary_.end() && now - latest->second.received <= kSummaryLinkSeconds) {
    job.meta.wire_id = latest->second.wire_id;
  }
  if (!outputs_.crash || !outputs_.crash(std::move(job))) {
    outputs_.emit(RefusedCrashReportJson(d.data.size, "the crash worker's queue is full", d.data.size < kMaxBlobLength));
  }
}

uint64_t Session::ClockMs(double now) {
  const uint64_t ms = now > 0 ? static_cast<uint64_t>(now * 1000) : 0;
  clock_ms_ = std::max(clock_ms_, ms);
  return clock_ms_;
}

void Session::Invalid(const char* reason, Bytes datagram, uint32_t sender, double now) {
  line_.clear();
  AppendInvalidJson(reason, ++invalid_count_, datagram, raw_, &line_);
  outputs_.emit(line_);
  if (outputs_.store) {
    StoredReport r;
    r.received = now;
    r.sender = sender;
    r.size = static_cast<uint32_t>(datagram.size);
    r.invalid_reason = reason;
    outputs_.store(std::move(r));
  }
}

void Session::HandSummaryOver(const reassembly::SummaryEvent& event, uint32_t sender, double now) {
  if (latest_summary_.size() < kMaxLatestSummaries || latest_summary_.count(event.machine_id)) {
    latest_summary_[event.machine_id] = LatestSummary{event.summary.crash_id, now};
  }
  // The line goes out whatever happens to the rest: the summary may be all a developer gets.
  if (!rate_.Take(sender, SenderRate::kCrashPackages, 1, now)) {
    outputs_.emit(UnstoredSummaryJson(event, "the sender is over its rate of crash reports"));
    return;
  }
  CrashJob job;
  job.meta.received = now;
  job.meta.source = "summary";
  job.meta.sender = sender;
  job.meta.machine_id = event.machine_id;
  job.meta.identities = Identities{event.identity4, event.identity3, event.identity1};
  // A copy: a refused job may have been moved from, and the summary must still be printed.
  job.summary = std::make_shared<const reassembly::SummaryEvent>(event);
  if (!outputs_.crash || !outputs_.crash(std::move(job))) {
    outputs_.emit(UnstoredSummaryJson(event, "the crash worker's queue is full"));
  }
}

void Session::HandPackageOver(reassembly::PackageEvent&& event, uint32_t sender, double now) {
  if (!event.whole) {
    outputs_.emit(CrashPackageLostJson(event));
    return;
  }
  const size_t bytes = event.package.size();
  if (!rate_.Take(sender, SenderRate::kCrashPackages, 1, now)) {
    outputs_.emit(RefusedCrashReportJson(bytes, "the sender is over its rate of crash packages", true, event.crash_id));
    return;
  }
  CrashJob job;
  job.bytes = std::move(event.package);
  job.from_network = true;
  job.rebuilt = true;
  job.meta.received = now;
  job.meta.source = "network";
  job.meta.sender = sender;
  job.meta.machine_id = event.machine_id;
  job.meta.identities = Identities{event.identity4, event.identity3, event.identity1};
  job.meta.wire_id = event.crash_id;
  if (!outputs_.crash || !outputs_.crash(std::move(job))) {
    outputs_.emit(RefusedCrashReportJson(bytes, "the crash worker's queue is full", true, event.crash_id));
  }
}

void Session::Finished(std::vector<reassembly::PackageEvent>&& events, uint32_t sender, double now) {
  for (reassembly::PackageEvent& event : events) HandPackageOver(std::move(event), sender, now);
}

void Session::HandleCrashWire(Bytes datagram, uint32_t sender, double now) {
  reassembly::AcceptResult result = reassembler_->Accept(datagram.data, datagram.size, ClockMs(now));
  if (result.invalid_reason) {
    Invalid(result.invalid_reason, datagram, sender, now);
  } else if (result.summary) {
    HandSummaryOver(*result.summary, sender, now);
  }
  // Packages the datagram completed, or closed to make room for it.
  Finished(std::move(result.packages), sender, now);
}

void Session::Expire(double now) {
  Finished(reassembler_->Expire(ClockMs(now)), 0, now);
  for (auto it = latest_summary_.begin(); it != latest_summary_.end();) {
    it = now - it->second.received > kSummaryLinkSeconds ? latest_summary_.erase(it) : std::next(it);
  }
}

void Session::Flush() { Finished(reassembler_->Flush(), 0, clock_ms_ / 1000.0); }

void Session::Handle(Bytes datagram, uint32_t sender, double now) {
  if (reassembly::IsReassemblyKind(datagram.data, datagram.size)) {
    HandleCrashWire(datagram, sender, now);
    return;
  }
  DecodeResult decoded = DecodeDatagram(datagram);
  line_.clear();
  if (decoded.reason) {
    Invalid(decoded.reason, datagram, sender, now);
    return;
  }
  const Datagram& d = decoded.datagram;
  BlobFile blob;
  if (d.kind == KIND_BLOB) SaveBlob(d, sender, now, &blob);
  AppendDatagramJson(d, datagram, raw_, blob, &line_);
  outputs_.emit(line_);
  if (outputs_.store) {
    ForEachRow(d, static_cast<uint32_t>(datagram.size), sender, now, blob,
               [this](StoredReport&& row) { outputs_.store(std::move(row)); });
  }
  if (d.kind == KIND_BLOB && WireKeyLow(d.data_key) == KEY_DUMP_PACKAGE) HandCrashOver(d, sender, now);
}

}  // namespace collector
