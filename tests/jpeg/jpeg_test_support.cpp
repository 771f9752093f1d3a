#include "tests/jpeg/jpeg_test_support.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>

namespace jpegtest {
namespace {

// A small deterministic generator: the images must be the same on every run and machine.
struct Rng {
  uint64_t state;
  explicit Rng(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
  float Unit() { return static_cast<float>(Next() & 0xFFFFFF) / 16777216.0f; }  // [0, 1)
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
};

// Smoothly interpolated random values on a square lattice.
class ValueNoise {
 public:
  ValueNoise(int width, int height, int cell, Rng* rng)
      : cell_(cell), columns_(width / cell + 2), rows_(height / cell + 2), values_(columns_ * rows_) {
    for (float& v : values_) v = rng->Unit();
  }
  float At(float x, float y) const {
    const float fx = x / cell_, fy = y / cell_;
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    const float tx = Smooth(fx - ix), ty = Smooth(fy - iy);
    const float top = Lerp(Value(ix, iy), Value(ix + 1, iy), tx);
    const float bottom = Lerp(Value(ix, iy + 1), Value(ix + 1, iy + 1), tx);
    return Lerp(top, bottom, ty);
  }

 private:
  static float Smooth(float t) { return t * t * (3 - 2 * t); }
  static float Lerp(float a, float b, float t) { return a + (b - a) * t; }
  float Value(int x, int y) const { return values_[std::min(y, rows_ - 1) * columns_ + std::min(x, columns_ - 1)]; }
  int cell_, columns_, rows_;
  std::vector<float> values_;
};

struct Colour {
  float b, g, r;
};

Colour Mix(Colour a, Colour c, float t) { return {a.b + (c.b - a.b) * t, a.g + (c.g - a.g) * t, a.r + (c.r - a.r) * t}; }

uint8_t ToByte(float v) { return static_cast<uint8_t>(std::lround(std::min(255.0f, std::max(0.0f, v)))); }

void Put(BgrImage* image, int x, int y, Colour c) {
  if (x < 0 || y < 0 || x >= image->width || y >= image->height) return;
  uint8_t* p = image->Pixel(x, y);
  p[0] = ToByte(c.b);
  p[1] = ToByte(c.g);
  p[2] = ToByte(c.r);
}

void FillRect(BgrImage* image, int x0, int y0, int w, int h, Colour c, float opacity) {
  for (int y = std::max(0, y0); y < std::min(image->height, y0 + h); ++y) {
    for (int x = std::max(0, x0); x < std::min(image->width, x0 + w); ++x) {
      uint8_t* p = image->Pixel(x, y);
      Put(image, x, y, Mix({float(p[0]), float(p[1]), float(p[2])}, c, opacity));
    }
  }
}

// Lines of 5x7 glyphs, like a chat window or a status panel.
void DrawText(BgrImage* image, int x0, int y0, int w, int h, int scale, Colour ink, Rng* rng) {
  uint8_t glyphs[48][7];
  for (auto& glyph : glyphs) {
    for (uint8_t& row : glyph) row = static_cast<uint8_t>(rng->Next() & 0x1F);
  }
  const int advance = 6 * scale, line = 9 * scale;
  for (int ty = y0 + scale; ty + 7 * scale <= y0 + h; ty += line) {
    for (int tx = x0 + scale; tx + 5 * scale <= x0 + w; tx += advance) {
      if (rng->Below(6) == 0) continue;  // a space between words
      const uint8_t* glyph = glyphs[rng->Below(48)];
      for (int gy = 0; gy < 7 * scale; ++gy) {
        for (int gx = 0; gx < 5 * scale; ++gx) {
          if (glyph[gy / scale] & (1 << (gx / scale))) Put(image, tx + gx, ty + gy, ink);
        }
      }
    }
  }
}

}  // namespace

BgrImage MakeBlankImage(int width, int height, int pad, uint8_t pad_byte) {
  BgrImage image;
  image.width = width;
  image.height = height;
  image.pad = pad;
  image.pixels.assign(image.Stride() * height, pad_byte);
  return image;
}

BgrImage MakeNaturalImage(int width, int height, int pad, uint32_t seed) {
  BgrImage image = MakeBlankImage(width, height, pad);
  Rng rng(seed);
  const ValueNoise hills(width, height, std::max(8, width / 6), &rng);
  const ValueNoise coarse(width, height, std::max(4, width / 24), &rng);
  const ValueNoise fine(width, height, std::max(2, width / 160), &rng);
  const ValueNoise clouds(width, height, std::max(4, width / 12), &rng);
  const Colour sky_top{170, 80, 30}, sky_horizon{235, 215, 190};
  const Colour grass{40, 120, 60}, earth{50, 85, 120}, cloud{250, 250, 250};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float horizon = height * (0.40f + 0.18f * hills.At(float(x), 0.0f));
      Colour c;
      if (y < horizon) {
        c = Mix(sky_top, sky_horizon, y / horizon);
        const float cover = clouds.At(float(x), float(y)) * 0.7f + fine.At(float(x), float(y)) * 0.3f;
        if (cover > 0.55f) c = Mix(c, cloud, std::min(1.0f, (cover - 0.55f) * 4));
      } else {
        const float soil = coarse.At(float(x), float(y)) * 0.65f + fine.At(float(x), float(y)) * 0.35f;
        c = Mix(grass, earth, soil);
        const float shade = 0.6f + 0.4f * (y - horizon) / (height - horizon + 1);
        c = {c.b * shade, c.g * shade, c.r * shade};
      }
      // Film grain: the sum of two uniforms, about +-6 levels.
      const float grain = (rng.Unit() + rng.Unit() - 1.0f) * 6.0f;
      Put(&image, x, y, {c.b + grain, c.g + grain, c.r + grain});
    }
  }
  // Round shapes with hard edges: a sun and a few markers.
  const Colour shapes[3] = {{40, 200, 250}, {30, 30, 220}, {200, 60, 160}};
  for (int i = 0; i < 3; ++i) {
    const int cx = width / 5 + rng.Below(std::max(1, width * 3 / 5));
    const int cy = height / 6 + rng.Below(std::max(1, height / 2));
    const int radius = std::max(1, std::min(width, height) / (8 + 4 * i));
    for (int y = cy - radius; y <= cy + radius; ++y) {
      for (int x = cx - radius; x <= cx + radius; ++x) {
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) Put(&image, x, y, shapes[i]);
      }
    }
  }
  // A translucent panel with a bright border and text, and a status line along the bottom.
  const int panel_w = width / 3, panel_h = height / 3;
  const int panel_x = width / 20, panel_y = height - panel_h - height / 12;
  FillRect(&image, panel_x, panel_y, panel_w, panel_h, {20, 15, 10}, 0.75f);
  FillRect(&image, panel_x, panel_y, panel_w, 2, {120, 220, 255}, 1.0f);
  FillRect(&image, panel_x, panel_y + panel_h - 2, panel_w, 2, {120, 220, 255}, 1.0f);
  DrawText(&image, panel_x + 4, panel_y + 6, panel_w - 8, panel_h - 12, 1, {235, 235, 235}, &rng);
  const int status_h = std::max(12, height / 30);
  FillRect(&image, 0, height - status_h, width, status_h, {40, 40, 40}, 1.0f);
  DrawText(&image, 2, height - status_h, width - 4, status_h, std::max(1, status_h / 10), {60, 220, 250}, &rng);
  return image;
}

BgrImage MakeSyntheticImage(int width, int height, int pad) {
  BgrImage image = MakeBlankImage(width, height, pad);
  const Colour bars[8] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                          {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Colour c;
      if (y < height / 3) {
        c = bars[x * 8 / width];
      } else if (y < height * 2 / 3) {
        if (x < width / 2) {
          c = ((x + y) % 2) ? Colour{255, 255, 255} : Colour{0, 0, 0};
        } else {
          c = (x / 8) % 2 ? Colour{255, 255, 0} : Colour{0, 0, 255};
        }
      } else {
        const float level = 255.0f * x / std::max(1, width - 1);
        c = {level, level, level};
      }
      Put(&image, x, y, c);
    }
  }
  return image;
}

BgrImage WithPad(const BgrImage& image, int pad, uint8_t pad_byte) {
  BgrImage out = MakeBlankImage(image.width, image.height, pad, pad_byte);
  for (int y = 0; y < image.height; ++y) {
    std::copy_n(image.Pixel(0, y), image.width * 3, out.Pixel(0, y));
  }
  return out;
}

int32_t PropertiesFor(const BgrImage& image, int quality, JpegKernel kernel, uint8_t* buffer, size_t capacity,
                      JpegProperties* out) {
  JpegProperties properties = {};
  const int32_t result = JpegInit(&properties);
  properties.input_pixels = image.pixels.data();
  properties.input_width = properties.output_width = image.width;
  properties.input_height = properties.output_height = image.height;
  properties.input_pad_bytes = image.pad;
  properties.input_channels = properties.output_channels = 3;
  properties.input_order = kJpegOrderBgr;
  properties.output_buffer = buffer;
  properties.output_size = capacity;
  properties.output_space = kJpegSpaceYCbCr;
  properties.output_sampling = kJpegSampling420;
  properties.quality = quality;
  properties.mode = kJpegModeWholeImageToMemory;
  properties.kernel = kernel;
  *out = properties;
  return result;
}

EncodeOutcome EncodeOurs(const BgrImage& image, int quality, JpegKernel kernel, size_t capacity) {
  if (capacity == 0) capacity = static_cast<size_t>(image.width) * image.height * 8 + 4096;
  EncodeOutcome outcome;
  outcome.jpeg.resize(capacity);
  JpegProperties properties;
  outcome.result = PropertiesFor(image, quality, kernel, outcome.jpeg.data(), capacity, &properties);
  if (outcome.result != kJpegOk) return outcome;
  outcome.result = JpegWrite(&properties);
  outcome.jpeg.resize(properties.output_size);
  JpegRelease(&properties);
  return outcome;
}

std::vector<uint8_t> EncodeTurbo(const BgrImage& image, int quality) {
  tjhandle handle = tjInitCompress();
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<uint8_t> out;
  if (tjCompress2(handle, image.pixels.data(), image.width, static_cast<int>(image.Stride()), image.height,
                  TJPF_BGR, &buffer, &size, TJSAMP_420, quality, 0) == 0) {
    out.assign(buffer, buffer + size);
  }
  tjFree(buffer);
  tjDestroy(handle);
  return out;
}

bool DecodeTurbo(const std::vector<uint8_t>& jpeg, BgrImage* out, std::string* error) {
  tjhandle handle = tjInitDecompress();
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  bool ok = tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colourspace) == 0;
  if (ok) {
    *out = MakeBlankImage(width, height, 0);
    ok = tjDecompress2(handle, jpeg.data(), jpeg.size(), out->pixels.data(), width, width * 3, height, TJPF_BGR,
                       TJFLAG_STOPONWARNING) == 0;
  }
  if (!ok && error != nullptr) *error = tjGetErrorStr2(handle);
  tjDestroy(handle);
  return ok;
}

double Psnr(const BgrImage& reference, const BgrImage& decoded) {
  double squared = 0;
  for (int y = 0; y < reference.height; ++y) {
    const uint8_t* a = reference.Pixel(0, y);
    const uint8_t* b = decoded.Pixel(0, y);
    for (int i = 0; i < reference.width * 3; ++i) {
      const double d = double(a[i]) - double(b[i]);
      squared += d * d;
    }
  }
  const double mse = squared / (3.0 * reference.width * reference.height);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<std::vector<uint8_t>> SegmentsOf(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  std::vector<std::vector<uint8_t>> segments;
  size_t at = 2;  // after the start-of-image marker
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    const uint8_t code = jpeg[at + 1];
    const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
    if (length < 2 || at + 2 + length > jpeg.size()) break;
    if (code == marker) segments.emplace_back(jpeg.begin() + at + 4, jpeg.begin() + at + 2 + length);
    if (code == 0xDA) break;  // entropy-coded data follows
    at += 2 + length;
  }
  return segments;
}

}  // namespace jpegtest
