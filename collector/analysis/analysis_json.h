// A crash analysis as one JSON object, for pipelines and for the crash_analyze tool. Addresses are
// hexadecimal strings ("0x7ff6a0011234"): JSON numbers lose 64-bit values in most readers.
#pragma once

#include <string>

#include "crash_analysis.h"

namespace collector {

// `indent` < 0 gives one line.
std::string AnalysisJson(const CrashAnalysis& analysis, int indent = -1);

}  // namespace collector
