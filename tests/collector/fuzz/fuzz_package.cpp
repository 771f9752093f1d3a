// A dump package: inflated within the cap, and the report's line within its budget.
#include "crash_report.h"
#include "fuzz_input.h"
#include "input_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace collector;
  CrashReport report;
  ReadCrashReport(Bytes{data, size}, kDefaultNetworkDumpBytes, &report);
  collector_fuzz::Require(report.package.minidump.size() <= kDefaultNetworkDumpBytes, "inflated past the cap");
  collector_fuzz::Require(report.package.minidump.size() <= report.package.chunks * 131072,
                          "more inflated than the chunks hold");
  std::string line = CrashReportJson(report, CrashReportFiles());
  collector_fuzz::Require(line.size() <= CrashLineBudget(report), "crash line over its budget");
  return 0;
}
