// A crash summary read as a crash analysis, so that a crash of which only the summary arrived is
// symbolized, grouped and shown exactly as a dump's analysis is: the fault as the crashed thread's
// first frame, then the summary's return-address candidates, each as module + offset.
#pragma once

#include <string>

#include "analysis/crash_analysis.h"
#include "client/crash_summary_datagram.h"

namespace collector {

// "x86" or "x64", as the crash_summary line names the architecture; empty for another value.
const char* SummaryArchitectureName(uint8_t architecture);

// The id a symbol store files the module's symbols under, in the form the dump analysis uses
// (GUID and age, or a PDB 2.0 signature and age); empty when the module sent none.
std::string SummaryDebugId(const SummaryModule& module);

// The analysis without symbols or signature: SymbolizeAnalysis adds them.
CrashAnalysis AnalysisFromSummary(const CrashSummary& summary);

}  // namespace collector
