// The hardware profile text sent under key 18: fifteen "name=value" fields joined by "&".
#pragma once

#include <cstdint>

#include "client/datagram.h"

// The profile travels as one text report, so it is as long as a text report carries.
constexpr int kHardwareProfileSize = kMaxTextLength + 1;
constexpr int kProfileScratchSize = 1024;  // the buffer every text probe writes into, in turn

// The probes the profile is made of, in the order of its fields. Windows fills it with the real
// probes; tests with probes of their own.
struct HardwareProbes {
  void (*machine_id)(char* out);
  void (*cpu_name)(char* out);
  int (*cpu_vendor)(char* out);
  void (*cpu_model)(char* out);
  int (*cpu_speed_reg)();
  bool (*has_mmx)();
  bool (*has_sse)();
  bool (*has_sse2)();
  bool (*has_3dnow)();
  bool (*has_ht)();
  uint32_t (*windows_version)();
  bool (*gpu_name)(char* out);
  int (*gpu_vendor_model)(char* name, int* vendor);  // reads the name, writes the token over it
  uint32_t (*memory_sizes)(uint32_t* page_file_mib);
  int (*directx_version)();
};

// Runs every probe once, in field order, and writes the profile into out (kHardwareProfileSize
// bytes). Every probe has its own fallback, so the profile always has all fifteen fields.
void FormatHardwareProfile(const HardwareProbes& probes, char* out);

// Cuts text to at most n characters (it must hold n + 1 bytes) and replaces "=", "&" and "?" by "-",
// so that a value can never break the field structure.
void SanitiseField(char* text, int n);

// major * 1000 + minor mod 1000: 5.1 (Windows XP) gives 5001.
uint32_t WindowsVersionCode(uint32_t major, uint32_t minor);

// Whole MiB of a byte count, fractions dropped.
uint32_t BytesToMiB(uint64_t bytes);

// Windows only.

// The code of GetVersionExA's version, or 0 when it fails.
uint32_t GetWindowsVersionCode();

// Physical memory in MiB; the page-file size in MiB goes to *page_file_mib unless it is null.
uint32_t GetMemorySizes(uint32_t* page_file_mib);

// Builds the profile of this machine into out (kHardwareProfileSize bytes). Runs every probe once.
bool BuildHardwareProfile(char* out);
