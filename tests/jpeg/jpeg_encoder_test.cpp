// The encoder judged by an independent decoder: every output goes through libjpeg-turbo.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "jpeg/jpeg_encoder.h"
#include "tests/jpeg/jpeg_test_support.h"

namespace {

using jpegtest::BgrImage;
using jpegtest::DecodeTurbo;
using jpegtest::EncodeOurs;
using jpegtest::Psnr;

// Encodes, decodes, and checks that the picture came back whole; returns its PSNR.
double RoundTrip(const BgrImage& image, int quality, JpegKernel kernel, size_t* bytes = nullptr) {
  const jpegtest::EncodeOutcome outcome = EncodeOurs(image, quality, kernel);
  EXPECT_EQ(outcome.result, kJpegOk);
  BgrImage decoded;
  std::string error;
  EXPECT_TRUE(DecodeTurbo(outcome.jpeg, &decoded, &error)) << error;
  EXPECT_EQ(decoded.width, image.width);
  EXPECT_EQ(decoded.height, image.height);
  if (bytes != nullptr) *bytes = outcome.jpeg.size();
  if (decoded.width != image.width || decoded.height != image.height) return 0;
  return Psnr(image, decoded);
}

struct QualityCase {
  const char* image;
  int quality;
  double psnr_floor;  // dB
};

BgrImage ImageNamed(const std::string& name) {
  if (name == "natural") return jpegtest::MakeNaturalImage(640, 360, 0, 7);
  return jpegtest::MakeSyntheticImage(320, 240, 0);
}

class QualityTest : public ::testing::TestWithParam<QualityCase> {};

// Floors sit about 1 dB under what the encoder reaches; a wrong table, DCT scale or colour matrix
// costs several dB. The test card's saturated colour edges cap it near 25 dB at any quality: 4:2:0
// halves the chroma resolution. Against libjpeg-turbo at the same quality: within 0.3 dB and 5% in
// size.
TEST_P(QualityTest, DecodesAboveFloorAndMatchesLibjpegTurbo) {
  const QualityCase& c = GetParam();
  const BgrImage image = ImageNamed(c.image);
  size_t bytes = 0;
  const double psnr = RoundTrip(image, c.quality, kJpegKernelAuto, &bytes);
  EXPECT_GE(psnr, c.psnr_floor);

  // libjpeg counts quality 0 as 1, as we do.
  const std::vector<uint8_t> turbo = jpegtest::EncodeTurbo(image, c.quality == 0 ? 1 : c.quality);
  BgrImage turbo_decoded;
  ASSERT_TRUE(DecodeTurbo(turbo, &turbo_decoded));
  const double turbo_psnr = Psnr(image, turbo_decoded);
  EXPECT_GE(psnr, turbo_psnr - 0.3) << "libjpeg-turbo " << turbo_psnr << " dB";
  EXPECT_NEAR(double(bytes) / turbo.size(), 1.0, 0.05) << bytes << " vs " << turbo.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Qualities, QualityTest,
                         ::testing::Values(QualityCase{"natural", 0, 18.0}, QualityCase{"natural", 15, 22.0},
                                           QualityCase{"natural", 40, 26.0}, QualityCase{"natural", 75, 29.0},
                                           QualityCase{"natural", 100, 32.5}, QualityCase{"synthetic", 0, 21.0},
                                           QualityCase{"synthetic", 15, 22.0}, QualityCase{"synthetic", 40, 24.0},
                                           QualityCase{"synthetic", 75, 24.0}, QualityCase{"synthetic", 100, 24.5}),
                         [](const ::testing::TestParamInfo<QualityCase>& info) {
                           return std::string(info.param.image) + "_q" + std::to_string(info.param.quality);
                         });

TEST(JpegKernels, ScalarAndSse2AreEquallyGood) {
  const BgrImage natural = jpegtest::MakeNaturalImage(1366, 768, 2, 11);
  const BgrImage synthetic = jpegtest::MakeSyntheticImage(333, 97, 1);
  for (const BgrImage* image : {&natural, &synthetic}) {
    for (int quality : {15, 40, 75, 100}) {
      SCOPED_TRACE(testing::Message() << image->width << "x" << image->height << " q" << quality);
      size_t scalar_bytes = 0, sse2_bytes = 0;
      const double scalar = RoundTrip(*image, quality, kJpegKernelScalar, &scalar_bytes);
      const double sse2 = RoundTrip(*image, quality, kJpegKernelSse2, &sse2_bytes);
      EXPECT_NEAR(scalar, sse2, 0.01);
      EXPECT_NEAR(double(scalar_bytes) / sse2_bytes, 1.0, 0.002);
    }
  }
}

TEST(JpegEncoder, QualityIsClampedToZeroToHundred) {
  const BgrImage image = jpegtest::MakeNaturalImage(64, 48, 0, 3);
  const auto at = [&](int quality) { return EncodeOurs(image, quality, kJpegKernelAuto).jpeg; };
  EXPECT_EQ(at(-5), at(0));
  EXPECT_EQ(at(-2147483647 - 1), at(0));
  EXPECT_EQ(at(150), at(100));
  EXPECT_EQ(at(0), at(1));  // the library's own scaling treats 0 as 1
  EXPECT_NE(at(100), at(99));
  EXPECT_NE(at(0), at(2));
}

// A buffer of `capacity` bytes followed by guard bytes; AddressSanitizer also watches its end.
struct GuardedBuffer {
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kGuardByte = 0xCD;
  explicit GuardedBuffer(size_t capacity) : capacity(capacity), bytes(new uint8_t[capacity + kGuard]) {
    std::memset(bytes.get(), kGuardByte, capacity + kGuard);
  }
  bool GuardIntact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes[capacity + i] != kGuardByte) return false;
    }
    return true;
  }
  size_t capacity;
  std::unique_ptr<uint8_t[]> bytes;
};

int32_t EncodeInto(const BgrImage& image, int quality, uint8_t* buffer, size_t capacity, size_t* written) {
  JpegProperties p;
  EXPECT_EQ(jpegtest::PropertiesFor(image, quality, kJpegKernelAuto, buffer, capacity, &p), kJpegOk);
  const int32_t result = JpegWrite(&p);
  *written = p.output_size;
  JpegRelease(&p);
  return result;
}

TEST(JpegEncoder, TooSmallBufferFailsWithoutWritingPastIt) {
  const BgrImage image = jpegtest::MakeNaturalImage(200, 120, 0, 5);
  const std::vector<uint8_t> whole = EncodeOurs(image, 75, kJpegKernelAuto).jpeg;
  ASSERT_GT(whole.size(), 1000u);
  const size_t n = whole.size();
  // Inside the markers, at the start of the entropy data, in the middle, and a byte short of the end
  // marker or of the last data byte.
  for (size_t capacity : {size_t{0}, size_t{1}, size_t{2}, size_t{300}, size_t{620}, n / 2, n - 3, n - 2, n - 1}) {
    SCOPED_TRACE(capacity);
    GuardedBuffer buffer(capacity);
    size_t written = 12345;
    EXPECT_EQ(EncodeInto(image, 75, buffer.bytes.get(), capacity, &written), kJpegOutputFull);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(buffer.GuardIntact());
  }
  GuardedBuffer exact(n);
  size_t written = 0;
  ASSERT_EQ(EncodeInto(image, 75, exact.bytes.get(), n, &written), kJpegOk);
  EXPECT_EQ(written, n);
  EXPECT_TRUE(exact.GuardIntact());
  EXPECT_EQ(std::vector<uint8_t>(exact.bytes.get(), exact.bytes.get() + n), whole);
}

// The screenshot reserves 3 bytes a pixel and 100 more. Noise at full quality, about the costliest
// content there is, fits; a capture of a few pixels does not even fit the markers, and fails cleanly.
TEST(JpegEncoder, ScreenshotBlockSizeHoldsNoiseButNotTinyImages) {
  uint32_t state = 1;
  const auto random_byte = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<uint8_t>(state >> 23);
  };
  BgrImage colour_noise = jpegtest::MakeBlankImage(96, 64, 0);
  for (uint8_t& byte : colour_noise.pixels) byte = random_byte();
  BgrImage grey_noise = jpegtest::MakeBlankImage(96, 64, 0);
  for (size_t i = 0; i < grey_noise.pixels.size(); i += 3) {
    grey_noise.pixels[i] = grey_noise.pixels[i + 1] = grey_noise.pixels[i + 2] = random_byte();
  }
  for (const BgrImage* image : {&colour_noise, &grey_noise}) {
    const size_t capacity = size_t(3) * image->width * image->height + 100;
    GuardedBuffer buffer(capacity);
    size_t written = 0;
    EXPECT_EQ(EncodeInto(*image, 100, buffer.bytes.get(), capacity, &written), kJpegOk);
    EXPECT_GT(written, capacity / 2);
    EXPECT_TRUE(buffer.GuardIntact());
  }
  const BgrImage dot = jpegtest::MakeNaturalImage(1, 1, 0, 1);
  GuardedBuffer small(3 + 100);
  size_t written = 1;
  EXPECT_EQ(EncodeInto(dot, 75, small.bytes.get(), small.capacity, &written), kJpegOutputFull);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(small.GuardIntact());
}

struct Size {
  int width, height;
};

class OddSizeTest : public ::testing::TestWithParam<Size> {};

// Edge blocks are filled by repeating the last column and row. Filled with anything else (zeros, or
// whatever lies beyond the row), a flat picture would come back with dark or speckled borders.
TEST_P(OddSizeTest, FlatColourSurvivesToTheEdges) {
  const Size size = GetParam();
  BgrImage image = jpegtest::MakeBlankImage(size.width, size.height, 0);
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      uint8_t* p = image.Pixel(x, y);
      p[0] = 40;
      p[1] = 200;
      p[2] = 230;
    }
  }
  for (JpegKernel kernel : {kJpegKernelScalar, kJpegKernelSse2}) {
    const jpegtest::EncodeOutcome outcome = EncodeOurs(image, 90, kernel);
    ASSERT_EQ(outcome.result, kJpegOk);
    BgrImage decoded;
    ASSERT_TRUE(DecodeTurbo(outcome.jpeg, &decoded));
    ASSERT_EQ(decoded.width, size.width);
    ASSERT_EQ(decoded.height, size.height);
    int worst = 0;
    for (int y = 0; y < size.height; ++y) {
      for (int i = 0; i < size.width * 3; ++i) {
        worst = std::max(worst, std::abs(int(image.Pixel(0, y)[i]) - int(decoded.Pixel(0, y)[i])));
      }
    }
    EXPECT_LE(worst, 3) << "kernel " << kernel;
  }
}

// Busy content at these sizes is mostly edge blocks; libjpeg-turbo, which also extends edges by
// repetition, is the yardstick.
TEST_P(OddSizeTest, NaturalPictureAsGoodAsLibjpegTurbo) {
  const Size size = GetParam();
  const BgrImage image = jpegtest::MakeNaturalImage(size.width, size.height, 0, 9);
  BgrImage turbo_decoded;
  ASSERT_TRUE(DecodeTurbo(jpegtest::EncodeTurbo(image, 90), &turbo_decoded));
  const double turbo = Psnr(image, turbo_decoded);
  EXPECT_GE(RoundTrip(image, 90, kJpegKernelSse2), turbo - 0.3);
  EXPECT_GE(RoundTrip(image, 90, kJpegKernelScalar), turbo - 0.3);
}

INSTANTIATE_TEST_SUITE_P(Sizes, OddSizeTest,
                         ::testing::Values(Size{1, 1}, Size{2, 2}, Size{17, 9}, Size{9, 17}, Size{15, 16},
                                           Size{16, 15}, Size{33, 1}, Size{1, 33}, Size{31, 47}, Size{1366, 768}),
                         [](const ::testing::TestParamInfo<Size>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

TEST(JpegEncoder, PadBytesAreSkipped) {
  // 3 * 37 = 111: a device-independent bitmap pads such rows with 1 byte; any count 0..3 must work.
  const BgrImage reference = jpegtest::MakeNaturalImage(37, 29, 0, 13);
  const std::vector<uint8_t> expected = EncodeOurs(reference, 75, kJpegKernelAuto).jpeg;
  for (int pad = 1; pad <= 3; ++pad) {
    for (uint8_t pad_byte : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x5A}}) {
      SCOPED_TRACE(testing::Message() << "pad " << pad << " byte " << int(pad_byte));
      const BgrImage padded = jpegtest::WithPad(reference, pad, pad_byte);
      EXPECT_EQ(EncodeOurs(padded, 75, kJpegKernelSse2).jpeg, expected);
      EXPECT_EQ(EncodeOurs(padded, 75, kJpegKernelScalar).jpeg, expected);
    }
  }
}

// A record with every field right, for the refusal cases to spoil one at a time.
struct ValidRecord {
  BgrImage image = jpegtest::MakeNaturalImage(24, 24, 0, 1);
  std::vector<uint8_t> out = std::vector<uint8_t>(65536);
  JpegProperties p = {};
  ValidRecord() { jpegtest::PropertiesFor(image, 75, kJpegKernelAuto, out.data(), out.size(), &p); }
};

TEST(JpegEncoder, RefusesWhatItCannotDo) {
  struct Spoil {
    const char* name;
    void (*apply)(JpegProperties*);
    int32_t expected;
  };
  const Spoil spoils[] = {
      {"nothing", [](JpegProperties*) {}, kJpegOk},
      {"no pixels", [](JpegProperties* p) { p->input_pixels = nullptr; }, kJpegBadSettings},
      {"no output", [](JpegProperties* p) { p->output_buffer = nullptr; }, kJpegBadSettings},
      {"width 0", [](JpegProperties* p) { p->input_width = p->output_width = 0; }, kJpegBadSettings},
      {"height -1", [](JpegProperties* p) { p->input_height = p->output_height = -1; }, kJpegBadSettings},
      {"width 65536", [](JpegProperties* p) { p->input_width = p->output_width = 65536; }, kJpegBadSettings},
      {"pad 4", [](JpegProperties* p) { p->input_pad_bytes = 4; }, kJpegBadSettings},
      {"pad -1", [](JpegProperties* p) { p->input_pad_bytes = -1; }, kJpegBadSettings},
      {"4 channels", [](JpegProperties* p) { p->input_channels = 4; }, kJpegBadSettings},
      {"order unset", [](JpegProperties* p) { p->input_order = kJpegOrderUnset; }, kJpegBadSettings},
      {"scaling", [](JpegProperties* p) { p->output_width = 12; }, kJpegBadSettings},
      {"1 output channel", [](JpegProperties* p) { p->output_channels = 1; }, kJpegBadSettings},
      {"space unset", [](JpegProperties* p) { p->output_space = kJpegSpaceUnset; }, kJpegBadSettings},
      {"sampling unset", [](JpegProperties* p) { p->output_sampling = kJpegSamplingUnset; }, kJpegBadSettings},
      {"mode unset", [](JpegProperties* p) { p->mode = kJpegModeUnset; }, kJpegBadSettings},
      {"kernel 7", [](JpegProperties* p) { p->kernel = static_cast<JpegKernel>(7); }, kJpegBadSettings},
      {"not initialised", [](JpegProperties* p) { p->state = JpegState{}; }, kJpegBadRecord},
      {"released", [](JpegProperties* p) { JpegRelease(p); }, kJpegBadRecord},
  };
  for (const Spoil& spoil : spoils) {
    SCOPED_TRACE(spoil.name);
    ValidRecord record;
    spoil.apply(&record.p);
    EXPECT_EQ(JpegWrite(&record.p), spoil.expected);
    if (spoil.expected == kJpegOk) {
      EXPECT_GT(record.p.output_size, 0u);
    } else {
      EXPECT_EQ(record.p.output_size, 0u);
    }
  }
  EXPECT_EQ(JpegInit(nullptr), kJpegBadRecord);
  EXPECT_EQ(JpegWrite(nullptr), kJpegBadRecord);
}

TEST(JpegEncoder, RecordCanBeReusedAfterInit) {
  ValidRecord record;
  ASSERT_EQ(JpegWrite(&record.p), kJpegOk);
  const std::vector<uint8_t> first(record.out.begin(), record.out.begin() + record.p.output_size);
  record.p.output_size = record.out.size();
  ASSERT_EQ(JpegWrite(&record.p), kJpegOk);
  // No predictor or pending bits left over from the first image.
  EXPECT_EQ(std::vector<uint8_t>(record.out.begin(), record.out.begin() + record.p.output_size), first);
}

}  // namespace
