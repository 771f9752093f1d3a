#include "package_prefix.h"

#include <zlib.h>

#include <cstring>

namespace collector {
namespace {

const uint8_t kMagic[4] = {'V', 'G', 'Z', 0};

// Inflates `chunk` (the whole of one, or the beginning of a cut one) into at most one piece
// appended to `out`. Returns the zlib status; what inflated before an error is kept only for a cut
// chunk, whose end is missing by nature.
int InflateInto(Bytes chunk, bool whole, std::vector<uint8_t>* out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return Z_MEM_ERROR;
  size_t start = out->size();
  out->resize(start + kPieceSize);
  z.next_in = const_cast<Bytef*>(chunk.data);
  z.avail_in = static_cast<uInt>(chunk.size);
  z.next_out = out->data() + start;
  z.avail_out = static_cast<uInt>(kPieceSize);
  int status = inflate(&z, whole ? Z_FINISH : Z_SYNC_FLUSH);
  size_t produced = kPieceSize - z.avail_out;
  bool sound = whole ? status == Z_STREAM_END && z.avail_in == 0
                     : status == Z_OK || status == Z_BUF_ERROR || status == Z_STREAM_END;
  inflateEnd(&z);
  out->resize(sound || !whole ? start + produced : start);
  return sound ? Z_OK : (status == Z_OK ? Z_DATA_ERROR : status);
}

}  // namespace

PackagePrefix InflatePackagePrefix(Bytes package, size_t max_minidump_bytes) {
  PackagePrefix result;
  if (package.size < kPackageHeaderSize || std::memcmp(package.data, kMagic, sizeof kMagic) != 0 ||
      package.data[4] != kPackageVersion) {
    result.error = "not a version 1 dump package";
    return result;
  }
  result.header_ok = true;
  uint64_t at = kPackageHeaderSize;
  while (at < package.size) {
    uint32_t length = 0;
    if (!ReadLe32(package, at, &length)) {
      result.cut = true;
      return result;
    }
    if (length == 0) {
      result.error = "chunk " + std::to_string(result.whole_chunks + 1) + ": length 0";
      return result;
    }
    if (result.minidump.size() + kPieceSize > max_minidump_bytes) {
      result.error = "minidump larger than " + std::to_string(max_minidump_bytes) + " bytes";
      return result;
    }
    Bytes chunk;
    bool whole = Slice(package, at + 4, length, &chunk);
    if (!whole) Slice(package, at + 4, package.size - (at + 4), &chunk);
    int status = InflateInto(chunk, whole, &result.minidump);
    if (!whole) {
      result.cut = true;
      if (status != Z_OK) result.error = "the cut chunk is damaged where it ends";
      return result;
    }
    if (status != Z_OK) {
      result.error = "chunk " + std::to_string(result.whole_chunks + 1) + ": damaged";
      return result;
    }
    ++result.whole_chunks;
    at += 4 + uint64_t{length};
  }
  return result;
}

}  // namespace collector
