#include "jpeg/jpeg_encoder.h"

#include <cstring>

#include "jpeg/block_kernels.h"
#include "jpeg/cpu_features.h"
#include "jpeg/entropy_coder.h"
#include "jpeg/jpeg_tables.h"

namespace vxjpeg {
namespace {

constexpr uint32_t kJpegReadyMark = 0x4A504547;  // "JPEG"
constexpr int kBytesPerPixel = 3;
constexpr int kMaxPadBytes = 3;

// Markers (T.81 Table B.1) and the one application segment we write.
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kApp0 = 0xE0;
constexpr uint8_t kDefineQuantTables = 0xDB;
constexpr uint8_t kStartOfFrameBaseline = 0xC0;
constexpr uint8_t kDefineHuffmanTables = 0xC4;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr int kEndOfImageBytes = 2;

// Header bytes go through this bounded writer; running out marks it full instead of writing on.
struct ByteWriter {
  uint8_t* next;
  uint8_t* end;
  bool full;

  void Put(uint8_t byte) {
    if (next == end) {
      full = true;
      return;
    }
    *next++ = byte;
  }
  void Put16(int value) {
    Put(static_cast<uint8_t>(value >> 8));
    Put(static_cast<uint8_t>(value));
  }
  void Marker(uint8_t code) {
    Put(0xFF);
    Put(code);
  }
};

// JFIF 1.01, no units, 1:1 pixel aspect, no thumbnail: tells viewers the components are YCbCr.
void WriteJfif(ByteWriter* out) {
  out->Marker(kApp0);
  out->Put16(16);
  const char identifier[] = "JFIF";  // written with its zero byte
  for (char c : identifier) out->Put(static_cast<uint8_t>(c));
  out->Put(1);     // major version
  out->Put(1);     // minor version
  out->Put(0);     // density units: none, only the aspect ratio
  out->Put16(1);   // horizontal density
  out->Put16(1);   // vertical density
  out->Put(0);     // thumbnail width
  out->Put(0);     // thumbnail height
}

void WriteQuantTables(ByteWriter* out, const uint16_t luma[kBlockSize], const uint16_t chroma[kBlockSize]) {
  out->Marker(kDefineQuantTables);
  out->Put16(2 + 2 * (1 + kBlockSize));
  const uint16_t* tables[2] = {luma, chroma};
  for (int id = 0; id < 2; ++id) {
    out->Put(static_cast<uint8_t>(id));  // 8-bit precision (high nibble 0), table id
    for (int k = 0; k < kBlockSize; ++k) out->Put(static_cast<uint8_t>(tables[id][kZigzag[k]]));
  }
}

void WriteFrameHeader(ByteWriter* out, int width, int height) {
  out->Marker(kStartOfFrameBaseline);
  out->Put16(8 + 3 * 3);
  out->Put(8);  // sample precision
  out->Put16(height);
  out->Put16(width);
  out->Put(3);
  // Component id, sampling factors (horizontal << 4 | vertical), quantisation table.
  out->Put(1); out->Put(0x22); out->Put(0);  // Y: 2x2
  out->Put(2); out->Put(0x11); out->Put(1);  // Cb: 1x1
  out->Put(3); out->Put(0x11); out->Put(1);  // Cr: 1x1
}

void WriteHuffmanTable(ByteWriter* out, uint8_t class_and_id, const HuffmanSpec& spec) {
  out->Put(class_and_id);
  for (uint8_t count : spec.counts) out->Put(count);
  for (int i = 0; i < spec.symbol_count; ++i) out->Put(spec.symbols[i]);
}

void WriteHuffmanTables(ByteWriter* out) {
  const HuffmanSpec* specs[4] = {&kDcLumaSpec, &kAcLumaSpec, &kDcChromaSpec, &kAcChromaSpec};
  // Class in the high nibble (0 DC, 1 AC), destination id in the low one.
  const uint8_t ids[4] = {0x00, 0x10, 0x01, 0x11};
  int length = 2;
  for (const HuffmanSpec* spec : specs) length += 1 + 16 + spec->symbol_count;
  out->Marker(kDefineHuffmanTables);
  out->Put16(length);
  for (int i = 0; i < 4; ++i) WriteHuffmanTable(out, ids[i], *specs[i]);
}

void WriteScanHeader(ByteWriter* out) {
  out->Marker(kStartOfScan);
  out->Put16(6 + 2 * 3);
  out->Put(3);
  // Component id, DC table << 4 | AC table.
  out->Put(1); out->Put(0x00);
  out->Put(2); out->Put(0x11);
  out->Put(3); out->Put(0x11);
  out->Put(0);   // spectral selection start
  out->Put(63);  // spectral selection end
  out->Put(0);   // successive approximation
}

bool SettingsSupported(const JpegProperties& p) {
  if (p.input_pixels == nullptr || p.output_buffer == nullptr) return false;
  if (p.input_width < 1 || p.input_width > kJpegMaxDimension) return false;
  if (p.input_height < 1 || p.input_height > kJpegMaxDimension) return false;
  if (p.input_pad_bytes < 0 || p.input_pad_bytes > kMaxPadBytes) return false;
  if (p.input_channels != kBytesPerPixel || p.input_order != kJpegOrderBgr) return false;
  if (p.output_width != p.input_width || p.output_height != p.input_height) return false;
  if (p.output_channels != 3 || p.output_space != kJpegSpaceYCbCr) return false;
  if (p.output_sampling != kJpegSampling420 || p.mode != kJpegModeWholeImageToMemory) return false;
  // On a 32-bit host a (bogus) size larger than the address space would wrap the row arithmetic.
  const uint64_t stride = uint64_t{kBytesPerPixel} * p.input_width + p.input_pad_bytes;
  return stride * p.input_height <= SIZE_MAX;
}

struct SourceImage {
  const uint8_t* pixels;
  const uint8_t* end;  // one past the last byte the caller gave us
  size_t stride;
  int width;
  int height;
};

// The rows of one MCU as the kernels read them. Most point straight into the image; rows that must
// be extended past its right edge, or whose read slack would run past the end of its buffer, are
// copied here first. Rows below the image repeat the last one.
struct McuRows {
  const uint8_t* rows[kMcuSide];
  uint8_t staging[kMcuSide][kMcuRowReadBytes];
};

void PrepareRows(const SourceImage& image, int x0, int y0, McuRows* out) {
  const int columns = image.width - x0 < kMcuSide ? image.width - x0 : kMcuSide;
  for (int r = 0; r < kMcuSide; ++r) {
    if (y0 + r >= image.height) {
      out->rows[r] = out->rows[r - 1];
      continue;
    }
    const uint8_t* source = image.pixels + static_cast<size_t>(y0 + r) * image.stride +
                            static_cast<size_t>(x0) * kBytesPerPixel;
    if (columns == kMcuSide && image.end - source >= kMcuRowReadBytes) {
      out->rows[r] = source;
      continue;
    }
    uint8_t* copy = out->staging[r];
    std::memcpy(copy, source, static_cast<size_t>(columns) * kBytesPerPixel);
    for (int c = columns; c < kMcuSide; ++c) {
      std::memcpy(copy + c * kBytesPerPixel, copy + (columns - 1) * kBytesPerPixel, kBytesPerPixel);
    }
    out->rows[r] = copy;
  }
}

// Everything before the entropy-coded data. False when it does not fit.
bool WriteHeaders(ByteWriter* out, const uint16_t luma_quant[kBlockSize], const uint16_t chroma_quant[kBlockSize],
                  int width, int height) {
  out->Marker(kStartOfImage);
  WriteJfif(out);
  WriteQuantTables(out, luma_quant, chroma_quant);
  WriteFrameHeader(out, width, height);
  WriteHuffmanTables(out);
  WriteScanHeader(out);
  return !out->full;
}

int32_t Encode(const JpegProperties& p, McuTransform transform, size_t capacity, size_t* written) {
  const int quality = ClampQuality(p.quality);
  uint16_t luma_quant[kBlockSize];
  uint16_t chroma_quant[kBlockSize];
  ScaleQuantTable(kBaseLumaQuant, quality, luma_quant);
  ScaleQuantTable(kBaseChromaQuant, quality, chroma_quant);
  Divisors divisors;
  PrepareDivisors(luma_quant, chroma_quant, &divisors);
  HuffmanCodes dc_luma, ac_luma, dc_chroma, ac_chroma;
  BuildHuffmanCodes(kDcLumaSpec, &dc_luma);
  BuildHuffmanCodes(kAcLumaSpec, &ac_luma);
  BuildHuffmanCodes(kDcChromaSpec, &dc_chroma);
  BuildHuffmanCodes(kAcChromaSpec, &ac_chroma);

  if (capacity < kEndOfImageBytes) return kJpegOutputFull;
  uint8_t* const begin = p.output_buffer;
  uint8_t* const end = begin + capacity - kEndOfImageBytes;  // the end marker's two bytes stay free
  ByteWriter header{begin, end, false};
  if (!WriteHeaders(&header, luma_quant, chroma_quant, p.input_width, p.input_height)) return kJpegOutputFull;

  EntropyCoder coder;
  StartEntropy(&coder, header.next, end, &dc_luma, &ac_luma, &dc_chroma, &ac_chroma);
  SourceImage image;
  image.pixels = p.input_pixels;
  image.stride = static_cast<size_t>(p.input_width) * kBytesPerPixel + p.input_pad_bytes;
  image.end = p.input_pixels + image.stride * p.input_height;
  image.width = p.input_width;
  image.height = p.input_height;
  McuRows rows = {};  // the staging slack is read (and ignored): keep it defined
  McuCoefficients coefficients;
  for (int y0 = 0; y0 < image.height; y0 += kMcuSide) {
    for (int x0 = 0; x0 < image.width; x0 += kMcuSide) {
      PrepareRows(image, x0, y0, &rows);
      transform(rows.rows, divisors, &coefficients);
      EncodeMcu(&coder, coefficients);
    }
    if (coder.full) return kJpegOutputFull;
  }
  if (!FinishEntropy(&coder)) return kJpegOutputFull;
  ByteWriter trailer{coder.next, begin + capacity, false};
  trailer.Marker(kEndOfImage);
  *written = static_cast<size_t>(trailer.next - begin);
  return kJpegOk;
}

}  // namespace
}  // namespace vxjpeg

int32_t JpegInit(JpegProperties* properties) {
  if (properties == nullptr) return kJpegBadRecord;
  properties->state.ready = vxjpeg::kJpegReadyMark;
  properties->state.has_sse2 = vxjpeg::ProcessorHasSse2() ? 1 : 0;
  return kJpegOk;
}

int32_t JpegWrite(JpegProperties* properties) {
  if (properties == nullptr) return kJpegBadRecord;
  const size_t capacity = properties->output_size;
  properties->output_size = 0;
  if (properties->state.ready != vxjpeg::kJpegReadyMark) return kJpegBadRecord;
  if (!vxjpeg::SettingsSupported(*properties)) return kJpegBadSettings;

  vxjpeg::McuTransform transform = nullptr;
  switch (properties->kernel) {
    case kJpegKernelAuto:
      transform = properties->state.has_sse2 ? vxjpeg::TransformMcuSse2 : vxjpeg::TransformMcuScalar;
      break;
    case kJpegKernelScalar:
      transform = vxjpeg::TransformMcuScalar;
      break;
    case kJpegKernelSse2:
      if (!properties->state.has_sse2) return kJpegNoSuchKernel;
      transform = vxjpeg::TransformMcuSse2;
      break;
    default:
      return kJpegBadSettings;
  }
  size_t written = 0;
  const int32_t result = vxjpeg::Encode(*properties, transform, capacity, &written);
  if (result == kJpegOk) properties->output_size = written;
  return result;
}

void JpegRelease(JpegProperties* properties) {
  if (properties == nullptr) return;
  properties->state = JpegState{};
}
