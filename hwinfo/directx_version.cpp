#include "hwinfo/directx_version.h"

#include <cstdio>

namespace {

constexpr uint32_t kAnyMajor = 0;
constexpr int kPathSize = 260 + 16;  // a MAX_PATH system directory and the longest file name

struct DxThreshold {
  uint32_t major;  // the file's first component must be this; kAnyMajor: no test
  uint64_t at_least;
};

struct DxCheck {
  int result;
  int count;
  DxThreshold any_of[2];
};

struct DxStep {
  const char* file;  // carries its own backslash: it is appended to the directory as it is
  int count;
  DxCheck checks[3];  // tried in order on the one version read for the step
};

constexpr uint64_t V(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return MakeFileVersion(a, b, c, d); }

constexpr DxCheck AtLeast(int result, uint64_t version) { return {result, 1, {{kAnyMajor, version}, {}}}; }

// The 4.x files of the redistributables and the 5.x files of Windows 2000 and XP are numbered
// differently, so each series has its own threshold.
constexpr DxCheck Major4Or5(int result, uint64_t v4, uint64_t v5) { return {result, 2, {{4, v4}, {5, v5}}}; }

// Newest level first; the first check that holds decides. A file is read again at every step that
// names it, and a file without a readable version fails its step.
constexpr DxStep kSteps[] = {
    {"\\d3d9.dll", 1, {AtLeast(90000, V(0, 0, 0, 0))}},
    {"\\dpnet.dll", 1, {Major4Or5(80200, V(4, 9, 0, 134), V(5, 2, 3677, 134))}},
    {"\\mpg2splt.ax", 1, {AtLeast(80102, V(6, 3, 1, 885))}},
    {"\\d3d8.dll", 2,
     {Major4Or5(80101, V(4, 8, 1, 901), V(5, 1, 2600, 901)), Major4Or5(80100, V(4, 8, 1, 881), V(5, 1, 2600, 881))}},
    {"\\ddraw.dll", 1, {Major4Or5(80000, V(4, 8, 0, 400), V(5, 1, 2258, 400))}},
    {"\\dinput.dll", 1, {AtLeast(70001, V(4, 7, 0, 716))}},
    {"\\ddraw.dll", 1, {AtLeast(70000, V(4, 7, 0, 700))}},
    {"\\dplayx.dll", 1, {AtLeast(60101, V(4, 6, 3, 518))}},
    {"\\ddraw.dll", 3,
     {AtLeast(60100, V(4, 6, 0, 436)), AtLeast(60000, V(4, 6, 0, 318)), AtLeast(50000, V(4, 5, 0, 155))}},
    {"\\d3drg8x.dll", 1, {AtLeast(30000, V(4, 4, 0, 70))}},
    {"\\ddraw.dll", 3,
     {AtLeast(30000, V(4, 4, 0, 68)), AtLeast(20000, V(4, 3, 0, 1096)), AtLeast(10000, V(4, 2, 0, 95))}},
};

bool Meets(FileVersion version, const DxThreshold& threshold) {
  if (threshold.major != kAnyMajor && MajorOf(version) != threshold.major) return false;
  return CompareFileVersion(version, SplitFileVersion(threshold.at_least)) >= 0;
}

bool Holds(FileVersion version, const DxCheck& check) {
  for (int i = 0; i < check.count; ++i) {
    if (Meets(version, check.any_of[i])) return true;
  }
  return false;
}

}  // namespace

int DirectXVersionFrom(const char* system_dir, FileVersionReader read) {
  if (system_dir == nullptr) return kDirectXNone;
  for (const DxStep& step : kSteps) {
    char path[kPathSize];
    const int length = std::snprintf(path, sizeof(path), "%s%s", system_dir, step.file);
    // A path that does not fit names some other file; the step fails like an unreadable one.
    if (length < 0 || length >= int(sizeof(path))) continue;
    FileVersion version = {};
    if (read(path, &version) < 0) continue;
    for (int i = 0; i < step.count; ++i) {
      if (Holds(version, step.checks[i])) return step.checks[i].result;
    }
  }
  return kDirectXNone;
}
