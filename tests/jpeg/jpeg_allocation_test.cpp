// The screenshot is encoded while the host's threads are frozen, one of them perhaps inside the heap:
// the encoder must not allocate. Counting replacements of the global allocation functions watch it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/jpeg/jpeg_test_support.h"

// The replacements below pair malloc with free on purpose; GCC sees only the names new and free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (g_counting) ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(JpegEncoder, WriteAllocatesNothing) {
  const jpegtest::BgrImage image = jpegtest::MakeNaturalImage(123, 45, 3, 2);
  std::vector<uint8_t> out(65536);
  for (JpegKernel kernel : {kJpegKernelScalar, kJpegKernelSse2}) {
    JpegProperties p;
    ASSERT_EQ(jpegtest::PropertiesFor(image, 75, kernel, out.data(), out.size(), &p), kJpegOk);
    g_allocations = 0;
    g_counting = true;
    const int32_t result = JpegWrite(&p);
    g_counting = false;
    EXPECT_EQ(result, kJpegOk);
    EXPECT_EQ(g_allocations.load(), 0);
    // The counter counts: the same window around a vector does see it.
    g_counting = true;
    std::vector<int>* probe = new std::vector<int>(4);
    g_counting = false;
    delete probe;
    EXPECT_GE(g_allocations.load(), 1);
  }
}

}  // namespace
