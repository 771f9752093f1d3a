// A crash report: a dump package received under KEY_DUMP_PACKAGE (or a package or minidump a
// player mailed), unpacked and read within the limits, and the folder of files a developer opens
// afterwards.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

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
  std::vector<std::string> cut;  // the limits that applied, one sentence each
};

// Unpacks (no more than `max_dump_bytes`) and reads a package. Pure.
void ReadCrashReport(Bytes package, size_t max_dump_bytes, CrashReport* report);
// Reads a bare minidump ("TempDump.dmp"), as if it had come whole in a package. Pure.
void ReadCrashDump(Bytes minidump, CrashReport* report);

// A user text stream as the report shows it: cut to the client's own field size.
Bytes UserText(const CrashReport& report, uint32_t stream_type);

// Where the report's files went, and what the store and the pages call it.
struct CrashReportFiles {
  std::string dir;
  std::string screenshot;
  std::string error;  // the first file that could not be written
  int64_t crash_id = 0;  // the store's row; 0 when not stored
  std::string page;      // the crash's page, when pages are served
  std::string signature;
  std::optional<bool> whole;         // packages from the network: whether it arrived whole
  std::optional<uint32_t> wire_id;   // packages rebuilt from their parts: the crash's id on the wire
};

// Whether a key-17 package arrived whole: the client cuts longer ones at the datagram's size, so a
// shorter one is all there was, and one of exactly that size is whole only if it reads whole.
bool KeyPackageWhole(const CrashReport& report);

// The first thing wrong with the report, as its line's "error" says it; empty when nothing is.
std::string CrashReportError(const CrashReport& report, const CrashReportFiles& files);

// The longest crash_report line a report may print: kCrashLineBaseBytes and kCrashLinePerByte
// times what arrived, at most kMaxCrashLineBytes.
size_t CrashLineBudget(const CrashReport& report);

// The crash_report line (also the content of report.json), within CrashLineBudget. Pure.
std::string CrashReportJson(const CrashReport& report, const CrashReportFiles& files);

// Writes package.vgz (when the report came as a package), minidump.dmp and screenshot.jpg into
// `files->dir`; the first failure goes to files->error. report.json is written by SaveReportJson
// once the line is complete.
void SaveCrashFiles(Bytes package, const CrashReport& report, CrashReportFiles* files);
void SaveReportJson(const std::string& line, CrashReportFiles* files);

// The bytes SaveCrashFiles writes, for the disk budget.
uint64_t CrashFilesBytes(const CrashReport& report);

}  // namespace collector
