// Encodes the same screen-sized images with libjpeg-turbo and with both kernels of our encoder, and
// prints throughput, size and fidelity side by side.
//
//   jpeg_benchmark [--seconds S]   (S: time spent measuring each row, default 0.5)
#include <time.h>
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jpeg/jpeg_encoder.h"
#include "tests/jpeg/jpeg_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// The machine is shared: time spent by this thread on the processor is steadier than wall time.
double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec * 1e-9;
}

struct Row {
  const char* encoder;
  double median_mps;
  double best_mps;
  size_t bytes;
  double psnr;
};

// Runs encode() until `seconds` have passed (at least three times) and returns the per-run times.
template <typename Encode>
std::vector<double> Time(double seconds, Encode encode) {
  std::vector<double> runs;
  const auto start = Clock::now();
  while (runs.size() < 3 || std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    const double t0 = ThreadSeconds();
    encode();
    runs.push_back(ThreadSeconds() - t0);
  }
  std::sort(runs.begin(), runs.end());
  return runs;
}

Row Measure(const char* name, const jpegtest::BgrImage& image, double seconds, const std::vector<uint8_t>& jpeg,
            const std::vector<double>& runs) {
  jpegtest::BgrImage decoded;
  const double psnr = jpegtest::DecodeTurbo(jpeg, &decoded) ? jpegtest::Psnr(image, decoded) : 0.0;
  const double megapixels = image.width * double(image.height) / 1e6;
  (void)seconds;
  return {name, megapixels / runs[runs.size() / 2], megapixels / runs.front(), jpeg.size(), psnr};
}

Row MeasureTurbo(const jpegtest::BgrImage& image, int quality, double seconds) {
  tjhandle handle = tjInitCompress();
  unsigned long capacity = tjBufSize(image.width, image.height, TJSAMP_420);
  unsigned char* buffer = tjAlloc(static_cast<int>(capacity));
  unsigned long size = 0;
  const auto runs = Time(seconds, [&] {
    size = capacity;
    if (tjCompress2(handle, image.pixels.data(), image.width, static_cast<int>(image.Stride()), image.height,
                    TJPF_BGR, &buffer, &size, TJSAMP_420, quality, TJFLAG_NOREALLOC) != 0) {
      std::fprintf(stderr, "libjpeg-turbo: %s\n", tjGetErrorStr2(handle));
      std::exit(1);
    }
  });
  const std::vector<uint8_t> jpeg(buffer, buffer + size);
  tjFree(buffer);
  tjDestroy(handle);
  return Measure("libjpeg-turbo", image, seconds, jpeg, runs);
}

Row MeasureOurs(const char* name, JpegKernel kernel, const jpegtest::BgrImage& image, int quality, double seconds) {
  // The screenshot's own output block size.
  std::vector<uint8_t> buffer(size_t(3) * image.width * image.height + 100);
  JpegProperties properties;
  jpegtest::PropertiesFor(image, quality, kernel, buffer.data(), buffer.size(), &properties);
  const auto runs = Time(seconds, [&] {
    properties.output_size = buffer.size();
    const int32_t result = JpegWrite(&properties);
    if (result != kJpegOk) {
      std::fprintf(stderr, "%s: JpegWrite gave %d\n", name, int(result));
      std::exit(1);
    }
  });
  buffer.resize(properties.output_size);
  JpegRelease(&properties);
  return Measure(name, image, seconds, buffer, runs);
}

void Print(const Row& row, const Row& reference) {
  std::printf("  %-14s %8.1f %8.1f %9zu %7.2f", row.encoder, row.median_mps, row.best_mps, row.bytes, row.psnr);
  if (&row != &reference) {
    const double speed = row.median_mps / reference.median_mps;
    const double size = double(row.bytes) / reference.bytes - 1.0;
    const double psnr = row.psnr - reference.psnr;
    std::printf("   x%.2f %s  %+6.1f%% %s  %+5.2f dB %s", speed, speed >= 0.5 ? "ok  " : "MISS", size * 100,
                size <= 0.05 && size >= -0.05 ? "ok  " : "MISS", psnr, psnr >= -0.3 ? "ok" : "MISS");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0.5;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
  }
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{1920, 1080}, {1366, 768}};
  const int qualities[] = {15, 40, 75};
  std::printf("Goal per row of ours: speed >= x0.50 of libjpeg-turbo (median), size within 5%%, PSNR within 0.3 dB.\n");
  std::printf("  %-14s %8s %8s %9s %7s   %s\n", "encoder", "MP/s med", "MP/s max", "bytes", "PSNR", "vs libjpeg-turbo");
  for (const Size& size : sizes) {
    // Rows padded to four bytes, as a screen capture hands them over.
    const int pad = (4 - size.width * 3 % 4) % 4;
    const jpegtest::BgrImage image = jpegtest::MakeNaturalImage(size.width, size.height, pad, 2024);
    for (int quality : qualities) {
      std::printf("%dx%d (pad %d) quality %d\n", size.width, size.height, pad, quality);
      const Row turbo = MeasureTurbo(image, quality, seconds);
      const Row scalar = MeasureOurs("ours scalar", kJpegKernelScalar, image, quality, seconds);
      const Row sse2 = MeasureOurs("ours sse2", kJpegKernelSse2, image, quality, seconds);
      Print(turbo, turbo);
      Print(scalar, turbo);
      Print(sse2, turbo);
    }
  }
  return 0;
}
