// What goes into the store and what the pages read back out of it: plain values, so that the
// receiver, the crash worker and the pages share no SQLite detail.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/crash_analysis.h"
#include "datagram_decoder.h"

namespace collector {

// One record of a received datagram (a number, a text or a blob), or one refused datagram: one
// row of the store. Flat, with its own copy of a text, since the receive buffer is reused.
struct StoredReport {
  double received = 0;  // Unix time in seconds
  uint32_t sender = 0;  // IPv4 source address in host order; forgeable
  uint32_t size = 0;    // the whole datagram's
  const char* invalid_reason = nullptr;  // set for a refused datagram, which keeps nothing else
  uint32_t kind = 0;
  char machine_id[kMachineIdLength + 1] = {};
  uint16_t identity4 = 0, identity3 = 0, identity1 = 0;
  uint32_t wire_key = 0;
  uint32_t value = 0;  // KIND_NUMBERS
  std::string text;    // KIND_TEXT: the bytes as they arrived
  uint32_t blob_length = 0;
  uint64_t blob_fnv1a64 = 0;
  std::string blob_file;  // empty when the blob was not saved
};

struct Identities {
  uint16_t identity4 = 0, identity3 = 0, identity1 = 0;
};

// What a crash summary told beyond its stack: kept beside the crash it belongs to, whether the
// whole package followed or not.
struct SummaryRecord {
  double received = 0;
  uint32_t wire_id = 0;
  std::string architecture;  // "x86", "x64"
  uint32_t thread_id = 0;
  std::string message;  // the game's last log line, its bytes as they arrived
  bool message_cut = false;
  bool frames_cut = false;
};

// One crash, from the network or mailed in, with its analysis.
struct StoredCrash {
  double received = 0;
  std::string source;                   // "network", "ingest", or "summary" while only the summary arrived
  uint32_t sender = 0;                  // 0 for an ingested file
  std::string machine_id;               // empty when unknown
  std::optional<Identities> identities;  // unknown for an ingested file
  std::string dir;
  uint64_t package_bytes = 0;
  bool truncated = false;
  uint64_t minidump_bytes = 0;
  bool minidump_valid = false;
  std::string error;
  std::vector<std::string> cut;
  // The crash reporter's streams; nullopt when the dump has no such stream.
  std::optional<std::string> extra_info, user_info1, user_info2, user_info3;
  std::string screenshot_file;
  uint32_t screenshot_width = 0, screenshot_height = 0;
  CrashAnalysis analysis;
  // The crash's id on the wire (summary and package parts carry it), which ties them together.
  std::optional<uint32_t> wire_id;
  bool whole = false;                    // the package arrived whole (not cut in transit)
  std::optional<SummaryRecord> summary;  // set when this is a crash summary
};

// A row of the crash-group index.
struct CrashGroupRow {
  int64_t id = 0;
  std::string signature;
  int64_t crashes = 0;
  int64_t machines = 0;
  double first_seen = 0, last_seen = 0;
  int64_t latest_crash = 0;
  std::vector<Identities> builds;  // distinct product (identity 3) and build (identity 4)
};

// A crash as listed on its group's page.
struct CrashListRow {
  int64_t id = 0;
  double received = 0;
  std::string machine_id;
  std::optional<Identities> identities;
  std::string exception_name;
  uint32_t exception_code = 0;
  std::string source;
};

// A crash read back whole.
struct CrashRecord {
  int64_t id = 0;
  int64_t group_id = 0;
  StoredCrash crash;  // its summary and wire id too, when one arrived
};

// Reports of one key per hour.
struct KeyActivity {
  uint32_t key = 0;
  std::vector<std::pair<double, int64_t>> buckets;  // the hour's start (Unix seconds), reports
  int64_t total = 0;
};

// The latest report of a key.
struct LatestValue {
  uint32_t key = 0;
  std::string kind;
  double received = 0;
  std::string machine_id;
  std::optional<int64_t> value;
  std::string text;
  uint32_t blob_length = 0;
  int64_t reports = 0;
};

}  // namespace collector
