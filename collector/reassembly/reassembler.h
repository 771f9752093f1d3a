// The collector's side of the crash report's two datagram kinds: crash summaries, and the parts
// of whole dump packages, which it puts together per machine and package with bounded memory.
//
// Use: route every datagram whose kind IsReassemblyKind says is ours to Accept, and call Expire
// now and then (once a second is plenty). Accept hands back what the datagram completed: a
// summary seen for the first time, or a package that is whole (byte for byte what the game wrote,
// checked against its CRC-32) or was given up. Expire gives up packages that have been silent for
// give_up_after_ms, each with a report of what is missing. Nothing here does I/O or reads a clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/crash_summary_datagram.h"
#include "package_assembly.h"

namespace reassembly {

struct ReassemblyLimits {
  // The client sends packages of at most 64 MiB (CrashPackageLimit's ceiling).
  uint32_t max_package_bytes = 64u << 20;
  // One sender's open packages together; a 64 MiB package with its repair symbols fits.
  size_t max_bytes_per_sender = size_t{80} << 20;
  // A crashing game restarted and crashing again may have a few packages on the way at once.
  size_t max_open_packages_per_sender = 4;
  size_t max_total_bytes = size_t{1} << 30;
  // Machines remembered at once; each costs little, but machine identifiers cost nothing to forge.
  size_t max_senders = 65536;
  // The sender paces steadily, a datagram every 75 ms even at the slowest rate it allows (16 KB/s),
  // so half a minute of silence means it has stopped: its process ended or its network went away.
  uint64_t give_up_after_ms = 30000;
  // Finished packages and seen summaries are remembered this long, so that their late or repeated
  // datagrams are not reported again.
  uint64_t remember_ms = 600000;
  size_t max_remembered_per_sender = 64;
};

struct SummaryEvent {
  std::string machine_id;
  uint16_t identity4 = 0;
  uint16_t identity3 = 0;
  uint16_t identity1 = 0;
  CrashSummary summary;
};

struct PackageEvent {
  std::string machine_id;
  uint16_t identity4 = 0;
  uint16_t identity3 = 0;
  uint16_t identity1 = 0;
  uint32_t crash_id = 0;
  uint32_t package_length = 0;
  uint32_t package_crc = 0;
  bool whole = false;
  // Why not whole: "timed out", "evicted" (newer packages of the sender took its place), "memory
  // bound" (timed out after parts were refused for room), "checksum mismatch", "collector stopped".
  std::string reason;
  std::vector<uint8_t> package;  // when whole
  uint64_t datagrams = 0;        // parts that arrived, repeats included
  uint64_t duplicates = 0;
  uint64_t refused = 0;          // parts of another package under the same id, or over the bound
  MissingReport missing;         // when not whole
};

struct AcceptResult {
  // Why the datagram was refused: the decoders' reasons, "kind" for the other kinds, "package too
  // large", "too many senders". Null when it was taken.
  const char* invalid_reason = nullptr;
  bool repeated = false;                 // a summary or part already reported
  std::optional<SummaryEvent> summary;
  std::vector<PackageEvent> packages;    // completed, or given up to make room
};

struct ReassemblyStats {
  size_t senders = 0;
  size_t open_packages = 0;
  size_t held_bytes = 0;
};

// Whether the datagram's kind is one of the two this library decodes (looks at the kind only).
bool IsReassemblyKind(const uint8_t* data, size_t size);

class Reassembler {
 public:
  explicit Reassembler(ReassemblyLimits limits = ReassemblyLimits());
  ~Reassembler();

  // now_ms: any monotonic clock in milliseconds, the same one for every call.
  AcceptResult Accept(const uint8_t* data, size_t size, uint64_t now_ms);
  std::vector<PackageEvent> Expire(uint64_t now_ms);
  // Gives up every open package, as at shutdown.
  std::vector<PackageEvent> Flush();

  ReassemblyStats stats() const;

 private:
  struct OpenPackage;
  struct Sender;

  // The sender's state, or null when a new one would pass max_senders.
  Sender* FindSender(const std::string& machine_id);
  void AcceptSummary(const DatagramHeaderView& header, const CrashSummary& summary, uint64_t now_ms,
                     AcceptResult* result);
  void AcceptPart(const DatagramHeaderView& header, const PackagePart& part, uint64_t now_ms, AcceptResult* result);
  PackageEvent Close(Sender& sender, const std::string& machine_id, uint32_t crash_id, const char* reason,
                     uint64_t now_ms);
  void Remember(std::map<uint32_t, uint64_t>& memory, uint32_t crash_id, uint64_t now_ms) const;

  ReassemblyLimits limits_;
  std::map<std::string, Sender> senders_;
  size_t held_bytes_ = 0;
};

}  // namespace reassembly
