// The crash analysis of a minidump, with no symbols folder (nothing is run, nothing read).
#include "analysis/crash_analysis.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace collector;
  AnalysisOptions options;  // symbols_dir empty: no unwind tables, no symbolizer
  CrashAnalysis analysis = AnalyzeMinidump(data, size, options);
  for (const AnalyzedThread& thread : analysis.threads) {
    collector_fuzz::Require(thread.frames.size() <= options.max_frames, "more frames than asked for");
    for (const AnalyzedFrame& frame : thread.frames) {
      collector_fuzz::Require(frame.module < static_cast<int>(analysis.modules.size()), "frame names no module");
    }
  }
  collector_fuzz::Require(CrashSignature(analysis) == CrashSignature(analysis), "signature not pure");
  return 0;
}
