// Fixed file versions a.b.c.d of version resources, and their comparison.
#pragma once

#include <cstdint>

// The two halves of a fixed file version, least significant first as the version readers store
// them: ms holds a (high 16 bits) and b, ls holds c and d.
struct FileVersion {
  uint32_t ls;
  uint32_t ms;
};

// Reads the fixed file version of the file at path; returns a status that is negative when the
// file has no readable version. On Windows this is GetFileVersion.
using FileVersionReader = int32_t (*)(const char* path, FileVersion* out);

// a in bits 48-63, b in 32-47, c in 16-31, d in 0-15; each component taken modulo 65536.
constexpr uint64_t MakeFileVersion(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return uint64_t(a & 0xFFFF) << 48 | uint64_t(b & 0xFFFF) << 32 | uint64_t(c & 0xFFFF) << 16 | uint64_t(d & 0xFFFF);
}

constexpr FileVersion SplitFileVersion(uint64_t version) { return {uint32_t(version), uint32_t(version >> 32)}; }

// 1, 0 or -1 as a is above, equal to or below b; the halves compare as unsigned numbers, so a
// component with its top bit set is above every smaller one.
int CompareFileVersion(FileVersion a, FileVersion b);

// The first component, a.
inline uint32_t MajorOf(FileVersion v) { return v.ms >> 16; }
