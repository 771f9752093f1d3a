// A crash report: a dump package received under KEY_DUMP_PACKAGE, unpacked and read, and the
// folder of files a developer opens afterwards.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "bytes.h"
#include "jpeg_size.h"
#include "minidump_reader.h"
#include "package_reader.h"

namespace collector {

struct CrashReport {
  CrashReport() = default;
  // `minidump` points into `package.minidump`: a copy would point into the original.
  CrashReport(const CrashReport&) = delete;
  CrashReport& operator=(const CrashReport&) = delete;

  size_t package_bytes = 0;
  PackageResult package;
  MinidumpInfo minidump;
  std::optional<JpegSize> screenshot_size;
};

// Unpacks and reads a package. Pure.
void ReadCrashReport(Bytes package, CrashReport* report);

// Where the report's files went; empty paths for files not written.
struct CrashReportFiles {
  std::string dir;
  std::string screenshot;
  std::string error;  // the first file that could not be written
};

// The crash_report line (also the content of report.json). Pure.
std::string CrashReportJson(const CrashReport& report, const CrashReportFiles& files);

// Writes report-<n>/ under `out_dir` with package.vgz, minidump.dmp, screenshot.jpg when there is
// one, and report.json; returns the crash_report line. Numbers start from *next_number.
std::string SaveCrashReport(Bytes package, const std::string& out_dir, unsigned* next_number);

}  // namespace collector
