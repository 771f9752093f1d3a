// A module's bytes by RVA, as the unwinder and the call check read them: a PE file from the
// symbols folder, or a test's hand-made buffer.
#pragma once

#include <cstdint>

#include "bytes.h"

namespace collector {

class ImageBytes {
 public:
  virtual ~ImageBytes() = default;
  // The bytes at [rva, rva + size), or false when the image does not hold all of them.
  virtual bool Read(uint32_t rva, uint32_t size, Bytes* out) const = 0;
};

}  // namespace collector
