// The screenshot is encoded while the host's threads are frozen, one of them perhaps inside the heap:
// the encoder must not allocate. AddressSanitizer's allocation hooks see every allocation, whether
// it comes through malloc, calloc, realloc or operator new, so none can slip past the count.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "tests/jpeg/jpeg_test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's public interface (sanitizer/allocator_interface.h, which GCC does not
// install): up to five pairs of hooks, called on every allocation and release of the process.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#define VX_HAVE_ALLOCATION_HOOKS 1
#endif

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};

#if VX_HAVE_ALLOCATION_HOOKS
void CountAllocation(const volatile void*, size_t) {
  if (g_counting) ++g_allocations;
}
void IgnoreFree(const volatile void*) {}

// Hooks cannot be removed again, so they are installed once and switched by g_counting.
bool InstallHooks() {
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreFree) != 0;
  return installed;
}
#endif

// Allocations between Start and Stop.
void Start() {
  g_allocations = 0;
  g_counting = true;
}
int Stop() {
  g_counting = false;
  return g_allocations.load();
}

TEST(JpegEncoder, WriteAllocatesNothing) {
#if !VX_HAVE_ALLOCATION_HOOKS
  GTEST_SKIP() << "needs AddressSanitizer's allocation hooks to see every allocation";
#else
  ASSERT_TRUE(InstallHooks());
  // Through a volatile pointer, so that the compiler cannot drop the pair of calls.
  void* (*volatile allocate)(size_t) = std::malloc;

  const jpegtest::BgrImage image = jpegtest::MakeNaturalImage(123, 45, 3, 2);
  std::vector<uint8_t> out(65536);
  for (JpegKernel kernel : {kJpegKernelScalar, kJpegKernelSse2}) {
    JpegProperties p;
    ASSERT_EQ(jpegtest::PropertiesFor(image, 75, kernel, out.data(), out.size(), &p), kJpegOk);
    Start();
    const int32_t result = JpegWrite(&p);
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(result, kJpegOk);

    // The count counts: the same window sees a plain malloc and an operator new.
    Start();
    void* block = allocate(32);
    EXPECT_EQ(Stop(), 1);
    std::free(block);
    Start();
    std::vector<int>* probe = new std::vector<int>(4);
    EXPECT_GE(Stop(), 2);
    delete probe;
  }
#endif
}

}  // namespace
