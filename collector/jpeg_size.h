// The pixel size of a JPEG image, read from its frame header. Bounded: the image comes from a
// crash report off the network.
#pragma once

#include <cstdint>

#include "bytes.h"

namespace collector {

struct JpegSize {
  uint16_t width = 0;
  uint16_t height = 0;
};

// False when the bytes are not a JPEG stream with a frame header before the scan.
bool ReadJpegSize(Bytes jpeg, JpegSize* size);

}  // namespace collector
