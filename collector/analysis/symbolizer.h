// Function, file and line for addresses in PE files, from llvm-symbolizer (Debian's llvm, version
// 14 on Debian 12): one child process for all the addresses of an analysis, fed in one batch, under
// a time limit. It reads DWARF from MinGW builds and, with its native PDB reader, the PDB named by a
// file's CodeView record when that PDB lies beside the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crash_analysis.h"

namespace collector {

struct SymbolRequest {
  std::string file;      // a PE file
  uint64_t address = 0;  // a virtual address in the file's own layout: its image base + RVA
};

struct SymbolizerRun {
  std::vector<std::string> argv;  // the symbolizer and its options, without addresses
  int timeout_ms = 60000;
};

// The command line: JSON output (one object per request line, in order), inlined functions,
// demangled names.
SymbolizerRun SymbolizerCommand(const std::string& symbolizer, int timeout_ms);

// Fills `out` with one entry per request, innermost function first; an address the file has no
// symbols for gets an empty entry. False, with the reason, when the symbolizer could not be run,
// ran out of time or answered what we cannot read; `out` then holds what was read.
bool Symbolize(const SymbolizerRun& run, const std::vector<SymbolRequest>& requests,
               std::vector<std::vector<SourceLocation>>* out, std::string* problem);

// The symbolizer's answer to the requests, one JSON object per line. Pure, for the tests.
bool ParseSymbolizerOutput(const std::string& output, size_t expected, std::vector<std::vector<SourceLocation>>* out,
                           std::string* problem);

}  // namespace collector
