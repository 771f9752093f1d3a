// What the crash summary needs of one loaded PE image, read from its headers in memory: its size
// and time stamp (a binary's id in a symbol store), where its code lies (a return address outside
// it is no return address), and its PDB's id from the CodeView record of the debug directory.
#pragma once

#include <cstdint>

#include "client/crash_summary_datagram.h"
#include "crashcapture/memory_reader.h"

// Images seldom have more than two executable sections (.text, and .init or a packer's stub).
constexpr int kMaxCodeRanges = 4;

struct CodeRange {
  uint32_t begin;  // relative to the image's base
  uint32_t end;
};

struct PeImageFacts {
  uint32_t size_of_image;
  uint32_t time_stamp;
  int code_range_count;
  CodeRange code[kMaxCodeRanges];
  uint8_t debug_id_kind;                   // DebugIdKind
  uint8_t signature[kPdb70SignatureSize];  // as the summary puts it on the wire
  uint32_t age;
  char debug_file[kMaxSummaryNameLength + 1];  // without its folder
};

// Reads the headers of the image loaded at base. False when they are not a PE image's; an image
// without a debug directory or CodeView record is still read, with kDebugIdNone.
bool ReadPeImage(MemoryReader& memory, uint64_t base, PeImageFacts* out);

// Copies the last path component of name (after '\\' or '/') into out, cut to
// kMaxSummaryNameLength bytes.
void CopyFileName(const char* name, size_t length, char* out);
