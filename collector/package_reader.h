// Reading of dump packages ("VGZ\0", version 1, then length-prefixed zlib chunks of 131072-byte
// pieces of the minidump). A package reaches the collector cut at the client's blob limit, so the
// reader keeps every complete chunk and says where the bytes ran out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "input_limits.h"

namespace collector {

constexpr size_t kPackageHeaderSize = 5;  // magic and version
constexpr uint8_t kPackageVersion = 1;
constexpr size_t kPieceSize = 131072;  // the sender compresses the minidump in pieces of this size

struct PackageResult {
  bool header_ok = false;
  bool truncated = false;  // the bytes ended inside a chunk's length or data
  size_t chunks = 0;  // complete chunks inflated, in order from the first
  std::vector<uint8_t> minidump;  // what those chunks inflated to, appended
  std::string error;  // empty when the package was sound as far as it went
};

// Inflates no more than `max_minidump_bytes`: the chunks past that are left, and said so in `error`.
PackageResult ReadPackage(Bytes package, size_t max_minidump_bytes = kDefaultNetworkDumpBytes);

}  // namespace collector
