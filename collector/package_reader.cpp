#include "package_reader.h"

#include <zlib.h>

#include <cstring>

namespace collector {
namespace {

const uint8_t kMagic[4] = {'V', 'G', 'Z', 0};

// Inflates one chunk, which must be a single zlib stream that fills at most one piece, and appends
// the result to `out`. Returns an empty text on success, else what was wrong.
std::string InflateChunk(Bytes chunk, std::vector<uint8_t>* out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return "zlib could not start";
  size_t start = out->size();
  out->resize(start + kPieceSize);
  z.next_in = const_cast<Bytef*>(chunk.data);
  z.avail_in = static_cast<uInt>(chunk.size);
  z.next_out = out->data() + start;
  z.avail_out = static_cast<uInt>(kPieceSize);
  int status = inflate(&z, Z_FINISH);
  size_t produced = kPieceSize - z.avail_out;
  bool piece_full = z.avail_out == 0;
  bool left_over = z.avail_in != 0;
  inflateEnd(&z);
  // Only a whole, sound chunk counts: a failing one contributes nothing, not a partial piece.
  out->resize(status == Z_STREAM_END && !left_over ? start + produced : start);
  if (status == Z_STREAM_END) return left_over ? "bytes after the zlib stream" : "";
  if (status == Z_DATA_ERROR || status == Z_NEED_DICT) return "corrupt zlib data";
  if (piece_full) return "inflates past 131072 bytes";
  return "zlib stream ends early";
}

}  // namespace

PackageResult ReadPackage(Bytes package, size_t max_minidump_bytes) {
  PackageResult result;
  if (package.size < kPackageHeaderSize) {
    result.truncated = true;
    result.error = "package shorter than its header";
    return result;
  }
  if (std::memcmp(package.data, kMagic, sizeof kMagic) != 0) {
    result.error = "bad magic";
    return result;
  }
  if (package.data[4] != kPackageVersion) {
    result.error = "unknown version " + std::to_string(package.data[4]);
    return result;
  }
  result.header_ok = true;
  uint64_t at = kPackageHeaderSize;
  while (at < package.size) {
    uint32_t length = 0;
    Bytes chunk;
    if (!ReadLe32(package, at, &length) || !Slice(package, at + 4, length, &chunk)) {
      result.truncated = true;
      return result;
    }
    std::string chunk_prefix = "chunk " + std::to_string(result.chunks + 1) + ": ";
    if (length == 0) {
      result.error = chunk_prefix + "length 0";
      return result;
    }
    if (result.minidump.size() + kPieceSize > max_minidump_bytes) {
      result.error = chunk_prefix + "minidump too large: inflated no more than " + std::to_string(max_minidump_bytes) +
                     " bytes";
      return result;
    }
    std::string problem = InflateChunk(chunk, &result.minidump);
    if (!problem.empty()) {
      result.error = chunk_prefix + problem;
      return result;
    }
    ++result.chunks;
    at += 4 + uint64_t{length};
  }
  return result;
}

}  // namespace collector
