#include "summary_analysis.h"

#include <cstdio>

namespace collector {

const char* SummaryArchitectureName(uint8_t architecture) {
  switch (architecture) {
    case kArchitectureX86:
      return "x86";
    case kArchitectureX64:
      return "x64";
    default:
      return "";
  }
}

std::string SummaryDebugId(const SummaryModule& module) {
  char text[64];
  int n = 0;
  if (module.debug_id_kind == kDebugIdPdb70) {
    // The summary carries the GUID in the order it is written, so its bytes print as they are.
    for (int i = 0; i < kPdb70SignatureSize; ++i) n += std::snprintf(text + n, sizeof text - n, "%02X", module.signature[i]);
  } else if (module.debug_id_kind == kDebugIdPdb20) {
    for (int i = 0; i < kPdb20SignatureSize; ++i) n += std::snprintf(text + n, sizeof text - n, "%02X", module.signature[i]);
  } else {
    return "";
  }
  std::snprintf(text + n, sizeof text - n, "%X", module.age);
  return text;
}

CrashAnalysis AnalysisFromSummary(const CrashSummary& summary) {
  CrashAnalysis analysis;
  analysis.cpu = summary.architecture == kArchitectureX64 ? "amd64" : summary.architecture == kArchitectureX86 ? "x86" : "";
  analysis.has_exception = true;
  analysis.exception_code = summary.exception_code;
  analysis.exception_address = summary.exception_address;
  analysis.crashed_thread_id = summary.thread_id;
  for (int i = 0; i < summary.module_count; ++i) {
    const SummaryModule& in = summary.modules[i];
    AnalyzedModule out;
    out.path = in.name;
    out.name = in.name;
    out.base = in.base;
    out.size = in.size;
    out.time_stamp = in.time_stamp;
    out.debug_file = in.debug_file;
    out.debug_id = SummaryDebugId(in);
    if (out.debug_id.empty()) {
      // As a symbol server files a binary without a CodeView record.
      char id[32];
      std::snprintf(id, sizeof id, "%08X%X", in.time_stamp, in.size);
      out.debug_id = id;
    }
    analysis.modules.push_back(out);
  }
  AnalyzedThread thread;
  thread.thread_id = summary.thread_id;
  thread.crashed = true;
  AnalyzedFrame fault;
  fault.instruction = summary.exception_address;
  fault.trust = FrameTrust::kContext;
  if (summary.fault_module >= 0 && summary.fault_module < summary.module_count) {
    fault.module = summary.fault_module;
    fault.module_offset = summary.fault_offset;
  }
  thread.frames.push_back(fault);
  for (int i = 0; i < summary.frame_count; ++i) {
    const SummaryFrame& in = summary.frames[i];
    AnalyzedFrame frame;
    frame.trust = FrameTrust::kSummary;
    frame.module_offset = in.offset;
    if (in.module < summary.module_count) {
      frame.module = in.module;
      frame.instruction = summary.modules[in.module].base + in.offset;
    }
    thread.frames.push_back(frame);
  }
  analysis.threads.push_back(std::move(thread));
  if (summary.frames_cut) analysis.notes.push_back("the crash summary had more frames than its datagram holds");
  return analysis;
}

}  // namespace collector
