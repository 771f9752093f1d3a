#include "signature_rules.h"

#include "module_kinds.h"

namespace collector {
namespace {

enum class Match { kSystemModule, kOurLibrary, kFunction };

struct SignatureRule {
  Match match;
  const char* pattern;  // for kFunction: a name, or a prefix ending in '*'
  SignatureAction action;
};

// First match wins; a frame no row matches is kept. Function names are those of a game's own,
// statically linked runtime code: in a system module the frame is skipped already.
const SignatureRule kSignatureRules[] = {
    {Match::kSystemModule, nullptr, SignatureAction::kSkip},
    {Match::kOurLibrary, nullptr, SignatureAction::kSkip},
    // Where the fault shows, not where its cause is: the caller is named as well.
    {Match::kFunction, "memcpy*", SignatureAction::kPrefix},
    {Match::kFunction, "memmove*", SignatureAction::kPrefix},
    {Match::kFunction, "memset*", SignatureAction::kPrefix},
    {Match::kFunction, "memcmp*", SignatureAction::kPrefix},
    {Match::kFunction, "strlen*", SignatureAction::kPrefix},
    {Match::kFunction, "strcmp*", SignatureAction::kPrefix},
    {Match::kFunction, "strcpy*", SignatureAction::kPrefix},
    {Match::kFunction, "wcslen*", SignatureAction::kPrefix},
    {Match::kFunction, "malloc*", SignatureAction::kPrefix},
    {Match::kFunction, "calloc*", SignatureAction::kPrefix},
    {Match::kFunction, "realloc*", SignatureAction::kPrefix},
    {Match::kFunction, "free*", SignatureAction::kPrefix},
    {Match::kFunction, "operator new*", SignatureAction::kPrefix},
    {Match::kFunction, "operator delete*", SignatureAction::kPrefix},
    {Match::kFunction, "abort*", SignatureAction::kPrefix},
    {Match::kFunction, "raise*", SignatureAction::kPrefix},
    {Match::kFunction, "std::terminate*", SignatureAction::kPrefix},
    {Match::kFunction, "std::__throw_*", SignatureAction::kPrefix},
    {Match::kFunction, "__cxa_throw*", SignatureAction::kPrefix},
    {Match::kFunction, "_CxxThrowException*", SignatureAction::kPrefix},
    {Match::kFunction, "_invalid_parameter*", SignatureAction::kPrefix},
    {Match::kFunction, "__report_gsfailure*", SignatureAction::kPrefix},
    // Stack probes: the fault of a stack overflow lands in them, the caller is the deep one.
    {Match::kFunction, "__chkstk*", SignatureAction::kPrefix},
    {Match::kFunction, "___chkstk_ms*", SignatureAction::kPrefix},
    {Match::kFunction, "_alloca_probe*", SignatureAction::kPrefix},
};

bool Matches(const SignatureRule& rule, const SignatureFrame& frame) {
  switch (rule.match) {
    case Match::kSystemModule:
      return frame.system_module;
    case Match::kOurLibrary:
      return frame.our_library;
    case Match::kFunction:
      return !frame.function.empty() && MatchesPattern(frame.function, rule.pattern);
  }
  return false;
}

}  // namespace

SignatureAction SignatureActionFor(const SignatureFrame& frame) {
  for (const SignatureRule& rule : kSignatureRules) {
    if (Matches(rule, frame)) return rule.action;
  }
  return SignatureAction::kKeep;
}

}  // namespace collector
