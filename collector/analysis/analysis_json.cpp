#include "analysis_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace collector {
namespace {

using nlohmann::json;

std::string Hex(uint64_t value) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

json FrameJson(const CrashAnalysis& analysis, const AnalyzedFrame& frame) {
  json out = {{"instruction", Hex(frame.instruction)}, {"trust", FrameTrustName(frame.trust)}};
  bool in_module = frame.module >= 0 && static_cast<size_t>(frame.module) < analysis.modules.size();
  out["module"] = in_module ? json(analysis.modules[frame.module].name) : json(nullptr);
  out["module_index"] = frame.module;
  out["module_offset"] = Hex(frame.module_offset);
  json symbols = json::array();
  for (const SourceLocation& s : frame.symbols)
    symbols.push_back({{"function", s.function}, {"file", s.file}, {"line", s.line}});
  out["symbols"] = symbols;
  return out;
}

json ModuleJson(const AnalyzedModule& m) {
  return {{"path", m.path},
          {"name", m.name},
          {"base", Hex(m.base)},
          {"size", Hex(m.size)},
          {"time_stamp", m.time_stamp},
          {"debug_file", m.debug_file},
          {"debug_id", m.debug_id},
          {"system", m.system},
          {"ours", m.ours},
          {"symbols_found", m.symbols_found},
          {"symbols_mismatch", m.symbols_mismatch},
          {"symbols_file", m.symbols_file}};
}

}  // namespace

std::string AnalysisJson(const CrashAnalysis& analysis, int indent) {
  json out;
  out["cpu"] = analysis.cpu;
  out["os_version"] = analysis.os_version;
  if (analysis.has_exception) {
    char code[16];
    snprintf(code, sizeof code, "0x%08X", analysis.exception_code);
    out["exception"] = {{"code", code},
                        {"name", analysis.exception_name},
                        {"detail", analysis.exception_detail},
                        {"address", Hex(analysis.exception_address)},
                        {"thread_id", analysis.crashed_thread_id}};
  } else {
    out["exception"] = nullptr;
  }
  out["signature"] = analysis.signature;
  json threads = json::array();
  for (const AnalyzedThread& thread : analysis.threads) {
    json frames = json::array();
    for (const AnalyzedFrame& frame : thread.frames) frames.push_back(FrameJson(analysis, frame));
    threads.push_back({{"thread_id", thread.thread_id}, {"crashed", thread.crashed}, {"frames", frames}});
  }
  out["threads"] = threads;
  json modules = json::array();
  for (const AnalyzedModule& module : analysis.modules) modules.push_back(ModuleJson(module));
  out["modules"] = modules;
  out["notes"] = analysis.notes;
  // Texts from the dump need not be UTF-8 (a damaged module name): replace, never throw.
  return out.dump(indent, ' ', false, json::error_handler_t::replace);
}

}  // namespace collector
