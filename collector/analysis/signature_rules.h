// The rules that decide which frames of the crashed thread make its signature, as a table.
#pragma once

#include <cstddef>
#include <string>

namespace collector {

enum class SignatureAction {
  kKeep,    // the frame is named in the signature and counts towards its length
  kSkip,    // left out: it is where every crash passes, not where this one happened
  kPrefix,  // named, but the signature goes on to the caller: memcpy says little by itself
};

// The frames that count towards a signature; prefix frames come on top.
constexpr size_t kSignatureFrames = 3;
constexpr char kSignatureSeparator[] = " | ";

// What the rules look at in one frame (one function of it, when the symbolizer saw inlining).
struct SignatureFrame {
  bool system_module = false;
  bool our_library = false;
  std::string function;  // empty when unsymbolized
};

SignatureAction SignatureActionFor(const SignatureFrame& frame);

}  // namespace collector
