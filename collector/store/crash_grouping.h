// Which crashes are "the same crash": the analysis's signature when it could name frames, else
// what the exception itself says, so that no crash is left without a group.
#pragma once

#include <string>

#include "analysis/crash_analysis.h"

namespace collector {

std::string GroupingKey(const CrashAnalysis& analysis);

}  // namespace collector
