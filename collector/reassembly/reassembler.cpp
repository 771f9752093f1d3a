#include "reassembler.h"

#include <algorithm>
#include <iterator>

#include "client/package_part_datagram.h"

namespace reassembly {

struct Reassembler::OpenPackage {
  std::unique_ptr<PackageAssembly> assembly;
  uint16_t identity4 = 0;
  uint16_t identity3 = 0;
  uint16_t identity1 = 0;
  uint64_t last_ms = 0;
  uint64_t datagrams = 0;
  uint64_t duplicates = 0;
  uint64_t mismatched = 0;
  uint64_t over_budget = 0;
};

struct Reassembler::Sender {
  std::map<uint32_t, OpenPackage> open;           // by crash id
  std::map<uint32_t, uint64_t> finished;          // crash id -> when last heard of
  std::map<uint32_t, uint64_t> summaries;         // crash id -> when last heard of
  size_t held_bytes = 0;
};

namespace {

// The kind field follows the 4-byte protocol field of the header.
constexpr size_t kKindOffset = 4;

void Forget(std::map<uint32_t, uint64_t>& memory, uint64_t now_ms, uint64_t remember_ms) {
  for (auto it = memory.begin(); it != memory.end();) {
    it = now_ms - it->second >= remember_ms ? memory.erase(it) : std::next(it);
  }
}

}  // namespace

bool IsReassemblyKind(const uint8_t* data, size_t size) {
  if (size < kKindOffset + 4) return false;
  const uint8_t* p = data + kKindOffset;
  const uint32_t kind = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  return kind == KIND_CRASH_SUMMARY || kind == KIND_PACKAGE_PART;
}

Reassembler::Reassembler(ReassemblyLimits limits) : limits_(limits) {}
Reassembler::~Reassembler() = default;

AcceptResult Reassembler::Accept(const uint8_t* data, size_t size, uint64_t now_ms) {
  AcceptResult result;
  DatagramHeaderView header;
  if (const char* reason = ReadDatagramHeader(data, size, &header)) {
    result.invalid_reason = reason;
  } else if (header.kind == KIND_CRASH_SUMMARY) {
    // The summary is large (fixed arrays), so it is decoded straight into the result.
    result.summary.emplace();
    result.invalid_reason = DecodeCrashSummaryDatagram(data, size, &header, &result.summary->summary);
    if (!result.invalid_reason) {
      AcceptSummary(header, result.summary->summary, now_ms, &result);
    } else {
      result.summary.reset();
    }
  } else if (header.kind == KIND_PACKAGE_PART) {
    PackagePart part;
    result.invalid_reason = DecodePackagePartDatagram(data, size, &header, &part);
    if (!result.invalid_reason && part.package_length > limits_.max_package_bytes) {
      result.invalid_reason = "package too large";
    }
    if (!result.invalid_reason) AcceptPart(header, part, now_ms, &result);
  } else {
    result.invalid_reason = "kind";
  }
  return result;
}

void Reassembler::Remember(std::map<uint32_t, uint64_t>& memory, uint32_t crash_id, uint64_t now_ms) const {
  memory[crash_id] = now_ms;
  while (memory.size() > limits_.max_remembered_per_sender) {
    auto oldest = memory.begin();
    for (auto it = memory.begin(); it != memory.end(); ++it) {
      if (it->second < oldest->second) oldest = it;
    }
    memory.erase(oldest);
  }
}

Reassembler::Sender* Reassembler::FindSender(const std::string& machine_id) {
  auto it = senders_.find(machine_id);
  if (it != senders_.end()) return &it->second;
  if (senders_.size() >= limits_.max_senders) return nullptr;
  return &senders_[machine_id];
}

void Reassembler::AcceptSummary(const DatagramHeaderView& header, const CrashSummary& summary, uint64_t now_ms,
                                AcceptResult* result) {
  Sender* found = FindSender(header.machine_id);
  if (!found) {
    result->invalid_reason = "too many senders";
    result->summary.reset();
    return;
  }
  Sender& sender = *found;
  const bool seen = sender.summaries.count(summary.crash_id) != 0;
  Remember(sender.summaries, summary.crash_id, now_ms);
  if (seen) {
    result->repeated = true;
    result->summary.reset();
    return;
  }
  SummaryEvent& event = *result->summary;
  event.machine_id = header.machine_id;
  event.identity4 = header.identity4;
  event.identity3 = header.identity3;
  event.identity1 = header.identity1;
}

void Reassembler::AcceptPart(const DatagramHeaderView& header, const PackagePart& part, uint64_t now_ms,
                             AcceptResult* result) {
  const std::string machine_id = header.machine_id;
  Sender* found = FindSender(machine_id);
  if (!found) {
    result->invalid_reason = "too many senders";
    return;
  }
  Sender& sender = *found;
  auto finished = sender.finished.find(part.crash_id);
  if (finished != sender.finished.end()) {
    finished->second = now_ms;
    result->repeated = true;
    return;
  }
  auto it = sender.open.find(part.crash_id);
  if (it == sender.open.end()) {
    if (sender.open.size() >= limits_.max_open_packages_per_sender) {
      auto quietest = sender.open.begin();
      for (auto o = sender.open.begin(); o != sender.open.end(); ++o) {
        if (o->second.last_ms < quietest->second.last_ms) quietest = o;
      }
      result->packages.push_back(Close(sender, machine_id, quietest->first, "evicted", now_ms));
    }
    OpenPackage fresh;
    fresh.assembly = std::make_unique<PackageAssembly>(part);
    fresh.identity4 = header.identity4;
    fresh.identity3 = header.identity3;
    fresh.identity1 = header.identity1;
    it = sender.open.emplace(part.crash_id, std::move(fresh)).first;
  }
  OpenPackage& open = it->second;
  open.last_ms = now_ms;
  ++open.datagrams;
  size_t room = limits_.max_bytes_per_sender - std::min(limits_.max_bytes_per_sender, sender.held_bytes);
  room = std::min(room, limits_.max_total_bytes - std::min(limits_.max_total_bytes, held_bytes_));
  const size_t held_before = open.assembly->held_bytes();
  const PartOutcome outcome = open.assembly->Add(part, room);
  const size_t held_after = open.assembly->held_bytes();
  sender.held_bytes = sender.held_bytes + held_after - held_before;
  held_bytes_ = held_bytes_ + held_after - held_before;
  switch (outcome) {
    case PartOutcome::kStored:
      break;
    case PartOutcome::kDuplicate:
      ++open.duplicates;
      result->repeated = true;
      break;
    case PartOutcome::kMismatch:
      ++open.mismatched;
      break;
    case PartOutcome::kOverBudget:
      ++open.over_budget;
      break;
  }
  if (open.assembly->AllBlocksWhole()) result->packages.push_back(Close(sender, machine_id, part.crash_id, "", now_ms));
}

PackageEvent Reassembler::Close(Sender& sender, const std::string& machine_id, uint32_t crash_id, const char* reason,
                                uint64_t now_ms) {
  OpenPackage& open = sender.open.at(crash_id);
  const PackageAssembly& assembly = *open.assembly;
  PackageEvent event;
  event.machine_id = machine_id;
  event.identity4 = open.identity4;
  event.identity3 = open.identity3;
  event.identity1 = open.identity1;
  event.crash_id = crash_id;
  event.package_length = assembly.layout().package_length;
  event.package_crc = assembly.crc();
  event.datagrams = open.datagrams;
  event.duplicates = open.duplicates;
  event.refused = open.mismatched + open.over_budget;
  if (assembly.AllBlocksWhole()) {
    event.package = assembly.Assemble();
    event.whole = !event.package.empty();
    if (!event.whole) event.reason = "checksum mismatch";
  } else {
    event.reason = reason;
    event.missing = assembly.Missing();
  }
  sender.held_bytes -= assembly.held_bytes();
  held_bytes_ -= assembly.held_bytes();
  sender.open.erase(crash_id);
  Remember(sender.finished, crash_id, now_ms);
  return event;
}

std::vector<PackageEvent> Reassembler::Expire(uint64_t now_ms) {
  std::vector<PackageEvent> events;
  for (auto s = senders_.begin(); s != senders_.end();) {
    Sender& sender = s->second;
    std::vector<uint32_t> silent;
    for (const auto& [crash_id, open] : sender.open) {
      if (now_ms - open.last_ms >= limits_.give_up_after_ms) silent.push_back(crash_id);
    }
    for (uint32_t crash_id : silent) {
      const char* reason = sender.open.at(crash_id).over_budget > 0 ? "memory bound" : "timed out";
      events.push_back(Close(sender, s->first, crash_id, reason, now_ms));
    }
    Forget(sender.finished, now_ms, limits_.remember_ms);
    Forget(sender.summaries, now_ms, limits_.remember_ms);
    const bool idle = sender.open.empty() && sender.finished.empty() && sender.summaries.empty();
    s = idle ? senders_.erase(s) : std::next(s);
  }
  return events;
}

std::vector<PackageEvent> Reassembler::Flush() {
  std::vector<PackageEvent> events;
  for (auto& [machine_id, sender] : senders_) {
    while (!sender.open.empty()) {
      events.push_back(Close(sender, machine_id, sender.open.begin()->first, "collector stopped", 0));
    }
  }
  senders_.clear();
  return events;
}

ReassemblyStats Reassembler::stats() const {
  ReassemblyStats stats;
  stats.senders = senders_.size();
  for (const auto& entry : senders_) stats.open_packages += entry.second.open.size();
  stats.held_bytes = held_bytes_;
  return stats;
}

}  // namespace reassembly
