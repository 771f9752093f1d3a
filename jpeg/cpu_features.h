// What the processor can run, from its identification instruction.
#pragma once

namespace vxjpeg {

// True when the processor reports SSE2 (cpuid leaf 1, EDX bit 26). Every 64-bit x86 processor has
// it; a 32-bit host may run on one that does not.
bool ProcessorHasSse2();

}  // namespace vxjpeg
