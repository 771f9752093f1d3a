// Bounds-checked reads from untrusted byte buffers. Every reader of network input in the collector
// goes through these, so an offset or length taken from the input can never reach past the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace collector {

struct Bytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// True when [offset, offset + length) lies inside a buffer of `size` bytes. The sums are done in
// 64 bits so that offsets and lengths read from the input cannot wrap around.
inline bool InBounds(size_t size, uint64_t offset, uint64_t length) {
  return offset <= size && length <= size - offset;
}

// The sub-range [offset, offset + length), or false when it does not fit.
inline bool Slice(Bytes in, uint64_t offset, uint64_t length, Bytes* out) {
  if (!InBounds(in.size, offset, length)) return false;
  out->data = in.data + offset;
  out->size = static_cast<size_t>(length);
  return true;
}

inline bool ReadBe16(Bytes in, uint64_t offset, uint16_t* out) {
  if (!InBounds(in.size, offset, 2)) return false;
  const uint8_t* p = in.data + offset;
  *out = static_cast<uint16_t>(p[0] << 8 | p[1]);
  return true;
}

inline bool ReadBe32(Bytes in, uint64_t offset, uint32_t* out) {
  if (!InBounds(in.size, offset, 4)) return false;
  const uint8_t* p = in.data + offset;
  *out = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
  return true;
}

inline bool ReadLe32(Bytes in, uint64_t offset, uint32_t* out) {
  if (!InBounds(in.size, offset, 4)) return false;
  const uint8_t* p = in.data + offset;
  *out = uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  return true;
}

}  // namespace collector
