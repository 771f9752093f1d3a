#include "crashcapture/dump_files_win.h"

#include "crashcapture/crash_watchdog_win.h"

int FileSource::Read(void* buffer, int size) {
  DWORD got = 0;
  if (!ReadFile(file_, buffer, DWORD(size), &got, nullptr)) return -1;
  return int(got);
}

bool FileSink::Write(const void* data, int size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    DWORD put = 0;
    if (!WriteFile(file_, bytes, DWORD(size), &put, nullptr) || put == 0) return false;
    bytes += put;
    size -= int(put);
  }
  NoteCrashProgress();
  return true;
}
