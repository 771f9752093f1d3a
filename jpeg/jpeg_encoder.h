// The still-image encoder: a baseline JPEG (ITU-T T.81) writer for 24-bit blue-green-red bitmaps.
//
// Use: zero a JpegProperties record, call JpegInit on it, fill in the input and output fields, call
// JpegWrite, read output_size, call JpegRelease. The encoder writes 3-component YCbCr with 4:2:0
// sampling into the caller's buffer and nothing else: it allocates no memory, takes no lock and
// keeps no state outside the record, because the screenshot is encoded while the host's other
// threads are frozen (one of them may hold the heap lock).
#pragma once

#include <cstddef>
#include <cstdint>

enum JpegResult : int32_t {
  kJpegOk = 0,
  kJpegBadRecord = 1,      // null record, or JpegWrite on a record JpegInit did not prepare
  kJpegBadSettings = 2,    // a field outside what the encoder supports
  kJpegNoSuchKernel = 3,   // the kernel asked for cannot run on this processor
  kJpegOutputFull = 4,     // the image does not fit into the output buffer
};

enum JpegColourOrder : int32_t {
  kJpegOrderUnset = 0,
  kJpegOrderBgr = 1,  // blue, green, red: the byte order of a 24-bit device-independent bitmap
};

enum JpegColourSpace : int32_t {
  kJpegSpaceUnset = 0,
  kJpegSpaceYCbCr = 1,
};

enum JpegSampling : int32_t {
  kJpegSamplingUnset = 0,
  kJpegSampling420 = 1,  // luma 2x2, both chroma components 1x1
};

enum JpegWriteMode : int32_t {
  kJpegModeUnset = 0,
  kJpegModeWholeImageToMemory = 1,
};

// Which implementation of the per-block arithmetic to use. A zero-filled record asks for the best one
// the processor offers; tests and the benchmark name one.
enum JpegKernel : int32_t {
  kJpegKernelAuto = 0,
  kJpegKernelScalar = 1,
  kJpegKernelSse2 = 2,
};

// Filled in by JpegInit; the caller does not touch it.
struct JpegState {
  uint32_t ready;     // a fixed mark while initialised
  int32_t has_sse2;   // the processor's answer, asked once per record
};

struct JpegProperties {
  // Input: rows top first, each 3*input_width bytes of pixels followed by input_pad_bytes bytes.
  const uint8_t* input_pixels;
  int32_t input_width;
  int32_t input_height;
  int32_t input_pad_bytes;  // 0 to 3
  int32_t input_channels;   // 3
  JpegColourOrder input_order;

  // Output.
  uint8_t* output_buffer;
  size_t output_size;  // on entry the buffer's capacity, on return the number of bytes written
  int32_t output_width;   // equal to input_width: the encoder does not scale
  int32_t output_height;  // equal to input_height
  int32_t output_channels;  // 3
  JpegColourSpace output_space;
  JpegSampling output_sampling;
  int32_t quality;  // 0 to 100; values outside are clamped
  JpegWriteMode mode;

  JpegKernel kernel;  // may be set after JpegInit, like the fields above
  JpegState state;
};

// Prepares a zero-filled record. Returns kJpegOk (0) on success.
int32_t JpegInit(JpegProperties* properties);

// Encodes the whole image into output_buffer. Returns kJpegOk (0) and sets output_size to the JPEG's
// length, or another JpegResult and sets output_size to 0. Never writes past output_buffer +
// the capacity given in output_size.
int32_t JpegWrite(JpegProperties* properties);

// Ends the record's use; JpegWrite refuses it afterwards until the next JpegInit.
void JpegRelease(JpegProperties* properties);

// The largest image JPEG's frame header can describe.
constexpr int32_t kJpegMaxDimension = 65535;
