// The lines of the crash report's own datagrams: a crash summary seen for the first time, and a
// whole package given up. (A package rebuilt whole prints a crash_report line, as key 17's does.)
#pragma once

#include <cstdint>
#include <string>

#include "reassembly/reassembler.h"

namespace collector {

// What the store made of a summary: its crash row, the group's signature, the crash's page.
struct SummaryStored {
  int64_t crash_id = 0;  // 0: not stored
  std::string signature;
  std::string page;
  std::string error;  // why it was not stored, when that is worth saying
};

std::string CrashSummaryJson(const reassembly::SummaryEvent& event, const SummaryStored& stored);

std::string CrashPackageLostJson(const reassembly::PackageEvent& event);

}  // namespace collector
