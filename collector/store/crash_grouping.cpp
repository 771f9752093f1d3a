#include "store/crash_grouping.h"

#include <cstdio>

namespace collector {

std::string GroupingKey(const CrashAnalysis& analysis) {
  if (!analysis.signature.empty()) return analysis.signature;
  if (!analysis.has_exception) return "(no exception in the dump)";
  if (!analysis.exception_name.empty()) return analysis.exception_name + " (no frame named)";
  char code[48];
  std::snprintf(code, sizeof code, "exception 0x%08X (no frame named)", analysis.exception_code);
  return code;
}

}  // namespace collector
