// Whether a return address found by scanning the stack follows a call instruction: the check that
// tells a real return address from a stale pointer into code.
#pragma once

#include "bytes.h"

namespace collector {

// True when `before`, the bytes that end just before the candidate address, ends with an x86 or
// x64 call: "call rel32" (E8), or "call r/m" (FF /2) in any of its ModRM, SIB and displacement
// forms. Pass at least 7 bytes where the code has them.
bool EndsWithCall(Bytes before);

}  // namespace collector
