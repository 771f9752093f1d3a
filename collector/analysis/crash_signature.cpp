// The grouping key of a crash, from the crashed thread's top frames under the signature rules.
#include <cstdio>

#include "crash_analysis.h"
#include "signature_rules.h"

namespace collector {
namespace {

struct NamedFrame {
  SignatureFrame rules;
  std::string name;
};

// GCC's copies of a function ("Gamma(int) (.constprop.0)", ".isra.0", ".part.0", ".cold") come and
// go between builds of the same source: one function, one name in the signature.
std::string WithoutCloneSuffixes(std::string name) {
  while (name.size() > 4 && name.back() == ')') {
    size_t open = name.rfind(" (.");
    if (open == std::string::npos) break;
    name.erase(open);
  }
  return name;
}

std::string ModuleOffset(const CrashAnalysis& analysis, const AnalyzedFrame& frame) {
  char text[48];
  if (frame.module < 0 || static_cast<size_t>(frame.module) >= analysis.modules.size()) {
    snprintf(text, sizeof text, "@0x%llx", static_cast<unsigned long long>(frame.instruction));
    return text;
  }
  snprintf(text, sizeof text, "+0x%llx", static_cast<unsigned long long>(frame.module_offset));
  return analysis.modules[frame.module].name + text;
}

// A frame with inlined functions is one frame per function, innermost first, as it is in the
// source the developer reads.
std::vector<NamedFrame> Expand(const CrashAnalysis& analysis, const AnalyzedFrame& frame) {
  SignatureFrame base;
  if (frame.module >= 0 && static_cast<size_t>(frame.module) < analysis.modules.size()) {
    base.system_module = analysis.modules[frame.module].system;
    base.our_library = analysis.modules[frame.module].ours;
  }
  std::vector<NamedFrame> out;
  for (const SourceLocation& symbol : frame.symbols) {
    if (symbol.function.empty()) continue;
    NamedFrame named{base, WithoutCloneSuffixes(symbol.function)};
    named.rules.function = named.name;
    out.push_back(named);
  }
  if (out.empty()) out.push_back(NamedFrame{base, ModuleOffset(analysis, frame)});
  return out;
}

}  // namespace

std::string CrashSignature(const CrashAnalysis& analysis) {
  const AnalyzedThread* crashed = nullptr;
  for (const AnalyzedThread& thread : analysis.threads) {
    if (thread.crashed) crashed = &thread;
  }
  if (!crashed || crashed->frames.empty()) return "";
  std::string signature;
  size_t counted = 0;
  for (const AnalyzedFrame& frame : crashed->frames) {
    for (const NamedFrame& named : Expand(analysis, frame)) {
      SignatureAction action = SignatureActionFor(named.rules);
      if (action == SignatureAction::kSkip) continue;
      if (!signature.empty()) signature += kSignatureSeparator;
      signature += named.name;
      if (action == SignatureAction::kKeep && ++counted == kSignatureFrames) return signature;
    }
  }
  // A crash wholly inside skipped modules is still grouped by where it happened.
  if (signature.empty()) signature = Expand(analysis, crashed->frames.front()).front().name;
  return signature;
}

}  // namespace collector
