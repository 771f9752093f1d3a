#include <windows.h>

#include <cstdlib>

#include "hwinfo/directx_version.h"
#include "hwinfo/probes.h"

namespace {

constexpr UINT kSystemDirSize = 260;

}  // namespace

int32_t GetFileVersion(const char* path, FileVersion* out) {
  if (path == nullptr || out == nullptr) return E_INVALIDARG;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return E_FAIL;
  void* block = std::malloc(size);
  if (block == nullptr) return E_OUTOFMEMORY;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  const bool found = GetFileVersionInfoA(path, 0, size, block) &&
                     VerQueryValueA(block, "\\", reinterpret_cast<void**>(&fixed), &fixed_size) &&
                     fixed != nullptr && fixed_size >= sizeof(VS_FIXEDFILEINFO);
  if (found) {
    out->ms = fixed->dwFileVersionMS;
    out->ls = fixed->dwFileVersionLS;
  }
  std::free(block);
  return found ? S_OK : E_FAIL;
}

int GetDirectXVersionIn(const char* system_dir) { return DirectXVersionFrom(system_dir, GetFileVersion); }

int GetDirectXVersion() {
  char dir[kSystemDirSize];
  const UINT length = GetSystemDirectoryA(dir, kSystemDirSize);
  // A result as large as the buffer is the size it would need: nothing usable was written.
  if (length == 0 || length >= kSystemDirSize) return kDirectXNone;
  dir[kSystemDirSize - 1] = '\0';
  return GetDirectXVersionIn(dir);
}
