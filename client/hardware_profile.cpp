#include "client/hardware_profile.h"

#include <cstdio>
#include <cstring>

namespace {

// Field values are cut to these lengths before they are written; numbers need no cut.
constexpr int kMachineIdCut = 16;
constexpr int kCpuNameCut = 64;
constexpr int kCpuVendorCut = 8;
constexpr int kCpuModelCut = 8;
constexpr int kGpuNameCut = 64;
constexpr int kGpuVendorCut = 8;

constexpr int kFieldSize = 256;  // one formatted field: the longest is a 64-character name and its label

// The fields go one after another into a buffer of the profile's size; whatever would pass 512
// characters is cut (the longest profile the probes can give has 362).
struct Profile {
  char text[kHardwareProfileSize];
  int length;
};

void Append(Profile& profile, const char* field) {
  const int room = int(sizeof(profile.text)) - 1 - profile.length;
  int n = int(std::strlen(field));
  if (n > room) n = room;
  std::memcpy(profile.text + profile.length, field, size_t(n));
  profile.length += n;
  profile.text[profile.length] = '\0';
}

void AppendText(Profile& profile, const char* pattern, char* scratch, int cut) {
  SanitiseField(scratch, cut);
  char field[kFieldSize];
  std::snprintf(field, sizeof(field), pattern, scratch);
  Append(profile, field);
}

void AppendNumber(Profile& profile, const char* pattern, int value) {
  char field[kFieldSize];
  std::snprintf(field, sizeof(field), pattern, value);
  Append(profile, field);
}

}  // namespace

void SanitiseField(char* text, int n) {
  text[n] = '\0';
  for (; *text != '\0'; ++text) {
    if (*text == '=' || *text == '&' || *text == '?') *text = '-';
  }
}

uint32_t WindowsVersionCode(uint32_t major, uint32_t minor) { return major * 1000 + minor % 1000; }

uint32_t BytesToMiB(uint64_t bytes) { return uint32_t(bytes >> 20); }

void FormatHardwareProfile(const HardwareProbes& probes, char* out) {
  Profile profile = {};
  // One buffer for every text probe, in field order: the adapter's vendor probe reads the name
  // that field 12 left in it, already cut and sanitised, and writes its token over it.
  char scratch[kProfileScratchSize] = {};

  probes.machine_id(scratch);
  AppendText(profile, "id=%s", scratch, kMachineIdCut);
  probes.cpu_name(scratch);
  AppendText(profile, "&cname=%s", scratch, kCpuNameCut);
  probes.cpu_vendor(scratch);
  AppendText(profile, "&cvendor=%s", scratch, kCpuVendorCut);
  probes.cpu_model(scratch);
  AppendText(profile, "&cmodel=%s", scratch, kCpuModelCut);
  AppendNumber(profile, "&cspeed_reg=%d", probes.cpu_speed_reg());
  AppendNumber(profile, "&cmmx=%d", probes.has_mmx() ? 1 : 0);
  AppendNumber(profile, "&csse=%d", probes.has_sse() ? 1 : 0);
  AppendNumber(profile, "&csse2=%d", probes.has_sse2() ? 1 : 0);
  AppendNumber(profile, "&c3dnow=%d", probes.has_3dnow() ? 1 : 0);
  AppendNumber(profile, "&cht=%d", probes.has_ht() ? 1 : 0);
  AppendNumber(profile, "&winver=%d", int(probes.windows_version()));
  probes.gpu_name(scratch);
  AppendText(profile, "&vname_reg=%s", scratch, kGpuNameCut);

  int gpu_vendor = 0;
  const int gpu_model = probes.gpu_vendor_model(scratch, &gpu_vendor);
  SanitiseField(scratch, kGpuVendorCut);
  char field[kFieldSize];
  std::snprintf(field, sizeof(field), "&vvendor=%s&vmodel=%d", scratch, gpu_model);
  Append(profile, field);

  uint32_t page_file = 0;
  const uint32_t physical = probes.memory_sizes(&page_file);
  std::snprintf(field, sizeof(field), "&mem1=%d&mem2=%d", int(physical), int(page_file));
  Append(profile, field);
  AppendNumber(profile, "&dx=%d", probes.directx_version());

  std::memcpy(out, profile.text, sizeof(profile.text));
}
