// A minidump as it lies in a package or was mailed: read within the limits, every stream inside
// the dump, and the report's line within its budget.
#include "crash_report.h"
#include "fuzz_input.h"
#include "input_limits.h"
#include "minidump_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace collector;
  MinidumpInfo info = ReadMinidump(Bytes{data, size});
  collector_fuzz::Require(info.valid == info.error.empty(), "valid and an error at once");
  collector_fuzz::Require(info.stream_types.size() <= kMaxStreams, "more streams than the cap");
  for (const MinidumpUserStream& s : info.user_streams) {
    collector_fuzz::Require(s.data.data >= data && s.data.data + s.data.size <= data + size, "stream outside the dump");
  }
  if (info.thread_ids) collector_fuzz::Require(info.thread_ids->size() <= kMaxListEntries, "threads over the cap");
  if (info.modules) collector_fuzz::Require(info.modules->size() == info.module_images.size(), "module lists differ");
  CrashReport report;
  ReadCrashDump(Bytes{data, size}, &report);
  std::string line = CrashReportJson(report, CrashReportFiles());
  collector_fuzz::Require(line.size() <= CrashLineBudget(report), "crash line over its budget");
  return 0;
}
