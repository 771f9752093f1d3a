// Images to encode, and the reference codec (libjpeg-turbo) to judge the results: shared by the
// encoder's tests and its benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jpeg/jpeg_encoder.h"

namespace jpegtest {

// Blue-green-red rows, top first, each 3 * width bytes and then `pad` bytes.
struct BgrImage {
  int width = 0;
  int height = 0;
  int pad = 0;
  std::vector<uint8_t> pixels;

  size_t Stride() const { return static_cast<size_t>(width) * 3 + pad; }
  uint8_t* Pixel(int x, int y) { return pixels.data() + y * Stride() + x * 3; }
  const uint8_t* Pixel(int x, int y) const { return pixels.data() + y * Stride() + x * 3; }
};

BgrImage MakeBlankImage(int width, int height, int pad, uint8_t pad_byte = 0xA5);

// Something like a game's screen: a sky gradient, hilly terrain from layered value noise, film grain,
// hard-edged panels and shapes, and lines of small glyphs standing in for text.
BgrImage MakeNaturalImage(int width, int height, int pad, uint32_t seed);

// Test-card content: flat colour bars, a one-pixel checkerboard, colour stripes and a grey ramp.
BgrImage MakeSyntheticImage(int width, int height, int pad);

// The same pixels with a different row padding (pad bytes filled with pad_byte).
BgrImage WithPad(const BgrImage& image, int pad, uint8_t pad_byte);

// Initialises *properties and fills it for encoding image whole into buffer: 3 channels, BGR in,
// YCbCr 4:2:0 out, no scaling. Returns JpegInit's result; JpegRelease when done.
int32_t PropertiesFor(const BgrImage& image, int quality, JpegKernel kernel, uint8_t* buffer, size_t capacity,
                      JpegProperties* properties);

struct EncodeOutcome {
  int32_t result = -1;
  std::vector<uint8_t> jpeg;  // resized to the bytes written
};

// Encodes with our encoder into a buffer of `capacity` bytes (0: room for any test image).
EncodeOutcome EncodeOurs(const BgrImage& image, int quality, JpegKernel kernel, size_t capacity = 0);

// Encodes with libjpeg-turbo, 4:2:0, its default (accurate integer) DCT.
std::vector<uint8_t> EncodeTurbo(const BgrImage& image, int quality);

// Decodes with libjpeg-turbo into packed blue-green-red rows. False if it refused the data.
bool DecodeTurbo(const std::vector<uint8_t>& jpeg, BgrImage* out, std::string* error = nullptr);

// Peak signal-to-noise ratio over all three channels, in dB (large for identical images).
double Psnr(const BgrImage& reference, const BgrImage& decoded);

// The payload of every marker segment of one type (e.g. 0xDB) in a JPEG, up to the start of scan.
std::vector<std::vector<uint8_t>> SegmentsOf(const std::vector<uint8_t>& jpeg, uint8_t marker);

}  // namespace jpegtest
