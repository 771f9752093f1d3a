#include "hwinfo/gpu_name.h"

#include <cstring>

namespace {

constexpr size_t kMachineRootLength = 18;  // "\Registry\Machine\"
constexpr uint32_t kVideoPathSize = 512;

}  // namespace

const char* SettingsKeyOf(const char* kernel_path) {
  if (std::strlen(kernel_path) < kMachineRootLength) return nullptr;
  return kernel_path + kMachineRootLength;
}

bool GetGpuName(RegistryReader read, char* out) {
  if (out == nullptr) return false;
  std::strcpy(out, kUnknownGpu);
  char video_path[kVideoPathSize];
  // A failed read of the value leaves the path empty, which the length test turns away.
  if (ReadRegistryText(read, kVideoMapKey, kVideoMapValue, video_path, sizeof(video_path)) == RegRead::kNoKey) {
    return false;
  }
  const char* settings_key = SettingsKeyOf(video_path);
  if (settings_key == nullptr) return false;
  const RegRead description = ReadRegistryText(read, settings_key, "Device Description", out, kGpuNameSize);
  if (description == RegRead::kNoKey) {
    std::strcpy(out, kUnknownGpu);
    return false;
  }
  if (description == RegRead::kNoValue) std::strcpy(out, kUnknownGpu);
  return true;
}
