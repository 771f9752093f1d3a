// Guarded regions: MinGW's g++ has no __try/__except, so every part of the library that touches
// caller memory or the platform under a "fault ends the step, the work goes on" rule runs its
// step through RunGuarded.
//
// A hardware fault (access violation, division by zero, illegal instruction, stack overflow and
// their kin) raised on this thread while fn runs, and handled by nothing inside the region, ends
// the region: RunGuarded returns false and the caller goes on. A region is a frame with a
// structured exception handler of its own, so it behaves as __try/__except would around fn: a
// handler that code inside installed itself (IsBadReadPtr, a hook, a driver, a layered network
// provider) sees the fault first, and the region only takes what that handler declines.
//
// The frames between the fault and the region are unwound as __except unwinds them: their
// termination handlers run (__finally blocks, the system's own, C++ destructors of code built
// with SEH-based exceptions), but GCC's C++ unwinder leaves exceptions that are not its own alone,
// so our own destructors do not run: code inside a region must not rely on them or hold locks
// across a possible fault. On x86_64 the dispatcher finds the region by walking the stack's unwind
// data, which every compiled function has; a fault below code without any (hand-made machine code
// that moved the stack pointer) is not found and goes on to the unhandled-exception filter.
//
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
