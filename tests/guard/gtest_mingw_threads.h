// GoogleTest for MinGW's win32 thread model, whose libstdc++ has no std::mutex and no
// std::condition_variable: GoogleTest's Notification needs both. Forced into the GoogleTest
// build and the Wine test programs of the module and the guard, ahead of every other header.
// The lock types are thin wrappers of Windows' own slim reader/writer lock and condition
// variable.
#pragma once

#if defined(__cplusplus) && defined(_WIN32) && !defined(_GLIBCXX_HAS_GTHREADS)

#include <windows.h>

#include <condition_variable>
#include <mutex>

namespace std {

class mutex {
 public:
  mutex() = default;
  mutex(const mutex&) = delete;
  mutex& operator=(const mutex&) = delete;
  void lock() { AcquireSRWLockExclusive(&lock_); }
  bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  PSRWLOCK native_handle() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class condition_variable {
 public:
  condition_variable() = default;
  condition_variable(const condition_variable&) = delete;
  condition_variable& operator=(const condition_variable&) = delete;
  void notify_one() { WakeConditionVariable(&condition_); }
  void notify_all() { WakeAllConditionVariable(&condition_); }
  void wait(unique_lock<mutex>& held) {
    SleepConditionVariableSRW(&condition_, held.mutex()->native_handle(), INFINITE, 0);
  }
  template <typename Predicate>
  void wait(unique_lock<mutex>& held, Predicate ready) {
    while (!ready()) wait(held);
  }

 private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

}  // namespace std

#endif
