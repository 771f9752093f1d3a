// The stdout lines for received datagrams: one JSON object per datagram, valid or not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bytes.h"
#include "datagram_decoder.h"

namespace collector {

// 64-bit FNV-1a, the hash printed for every blob so that a test can match it without the file.
uint64_t Fnv1a64(Bytes bytes);

struct BlobFile {
  std::string path;  // where the blob's bytes were saved, empty when saving failed
  std::string error;  // why saving failed
};

// `raw` is the whole datagram, printed as "raw_hex" when `with_raw` is set. `blob` is used for
// KIND_BLOB only.
std::string DatagramJson(const Datagram& datagram, Bytes raw, bool with_raw, const BlobFile& blob);
std::string InvalidJson(const char* reason, uint64_t invalid_count, Bytes raw, bool with_raw);
// The same lines appended to `out`, the receiving thread's way: no allocation once `out` has grown.
void AppendDatagramJson(const Datagram& datagram, Bytes raw, bool with_raw, const BlobFile& blob, std::string* out);
void AppendInvalidJson(const char* reason, uint64_t invalid_count, Bytes raw, bool with_raw, std::string* out);

}  // namespace collector
