// Big-endian field writing and bounds-checked field reading for the datagrams. Every integer on the
// wire is big-endian and fields are packed with no alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint8_t* PutU8(uint8_t* p, uint32_t v) {
  *p = uint8_t(v);
  return p + 1;
}

inline uint8_t* PutU16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
  return p + 2;
}

inline uint8_t* PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
  return p + 4;
}

inline uint8_t* PutU64(uint8_t* p, uint64_t v) {
  p = PutU32(p, uint32_t(v >> 32));
  return PutU32(p, uint32_t(v));
}

inline uint8_t* PutBytes(uint8_t* p, const void* data, size_t n) {
  if (n > 0) std::memcpy(p, data, n);
  return p + n;
}

// Reads fields one after another from untrusted bytes. A read past the end yields zeros and clears
// ok(), so a decoder reads a whole record and checks once.
class WireReader {
 public:
  WireReader(const uint8_t* data, size_t size) : p_(data), left_(size), ok_(true) {}

  bool ok() const { return ok_; }
  size_t left() const { return left_; }

  uint8_t U8() { return uint8_t(Take(1)); }
  uint16_t U16() { return uint16_t(Take(2)); }
  uint32_t U32() { return uint32_t(Take(4)); }
  uint64_t U64() {
    uint64_t high = Take(4);
    return high << 32 | Take(4);
  }
  // The next n bytes, or null (and not ok) when fewer are left.
  const uint8_t* Bytes(size_t n) {
    if (!ok_ || n > left_) {
      ok_ = false;
      return nullptr;
    }
    const uint8_t* at = p_;
    p_ += n;
    left_ -= n;
    return at;
  }

 private:
  uint64_t Take(size_t n) {
    const uint8_t* at = Bytes(n);
    uint64_t v = 0;
    for (size_t i = 0; at && i < n; ++i) v = v << 8 | at[i];
    return v;
  }

  const uint8_t* p_;
  size_t left_;
  bool ok_;
};
