// The library's own threads (the crash watchdog and the crash worker, made at Init and asleep
// until a crash) must not keep a process alive. A program without a C runtime whose entry point
// returns ends only its thread; the process ends when its last thread does, with that thread's exit
// code. With the library's two threads still there, it would never end.
#pragma once

#include <windows.h>

// NoteThreadEnding (crash_capture.h) runs on every thread that ends normally, under the loader
// lock: when no other thread of the process but the library's own is alive, it hands the ending
// thread to the watchdog, which ends the process with that thread's exit code once the thread is
// gone, as Windows would have without the library.

// The watchdog's side: waits until the thread handed over has ended and, if still only the
// library's threads are left, ends the process with its exit code. Returns when another thread has
// appeared meanwhile.
void EndProcessAfterLastHostThread();

// Whether any thread of this process is alive besides the library's own and except_thread. True
// when that cannot be told: then nothing is ended.
bool HostThreadsRemain(DWORD except_thread);
