// The minidump in a dump package as far as the package arrived. The client sends a package cut at
// 64512 bytes, so most packages end inside a chunk; zlib inflates a stream's beginning without its
// end, so the cut chunk still gives the part of its piece that its bytes hold, and the analysis
// gets all of the dump that arrived rather than only the whole chunks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "input_limits.h"
#include "package_reader.h"

namespace collector {

struct PackagePrefix {
  bool header_ok = false;
  bool cut = false;         // the package ended inside a chunk
  size_t whole_chunks = 0;  // chunks inflated completely, from the first
  std::vector<uint8_t> minidump;
  std::string error;  // empty when the package was sound as far as it went
};

// A file a player sent is read whole, as --ingest reads it.
PackagePrefix InflatePackagePrefix(Bytes package, size_t max_minidump_bytes = kDefaultIngestDumpBytes);

}  // namespace collector
