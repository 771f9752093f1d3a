// The package writer's source and sink over Win32 file handles. The CRT's buffered streams would
// take the stdio lock, which a frozen thread may hold.
#pragma once

#include <windows.h>

#include "crashcapture/dump_package.h"

class FileSource : public ByteSource {
 public:
  explicit FileSource(HANDLE file) : file_(file) {}
  int Read(void* buffer, int size) override;

 private:
  HANDLE file_;
};

// Every write is a mark of progress for the crash watchdog.
class FileSink : public ByteSink {
 public:
  explicit FileSink(HANDLE file) : file_(file) {}
  bool Write(const void* data, int size) override;

 private:
  HANDLE file_;
};
