// Guarded regions: MinGW's g++ has no __try/__except, so every part of the library that touches
// caller memory or the platform under a "fault ends the step, the work goes on" rule runs its
// step through RunGuarded.
//
// A hardware fault (access violation, division by zero, illegal instruction, stack overflow and
// their kin) raised on this thread while fn runs ends the region at once: RunGuarded returns
// false and the caller goes on. Nothing between the fault and the region is unwound, so code
// inside a region must not rely on destructors or hold locks across a possible fault.
// Everything else passes through untouched: breakpoints, debugger output, C++ exceptions, other
// software exceptions (the module's 0xFFFF0002 among them), and every fault outside a region,
// which still reaches the process's unhandled-exception filter.
//
// Regions nest and work on any number of threads at once. At fault time the guard takes no lock
// and allocates nothing, so the crash path may use it.
#pragma once

#include <cstdint>
#include <type_traits>

typedef void (*GuardedFn)(void* arg);

// Runs fn(arg); true when it returned, false when a fault ended it. When exception_code is given
// it receives the code of the fault, or 0.
bool RunGuarded(GuardedFn fn, void* arg, uint32_t* exception_code = nullptr);

// The same for any callable: RunGuardedCall([&] { ... }).
template <typename F>
bool RunGuardedCall(F&& f, uint32_t* exception_code = nullptr) {
  using Callable = typename std::remove_reference<F>::type;
  return RunGuarded([](void* p) { (*static_cast<Callable*>(p))(); },
                    const_cast<void*>(static_cast<const void*>(&f)), exception_code);
}
