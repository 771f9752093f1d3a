// The primary graphics adapter's description, as Windows keeps it in the registry.
#pragma once

#include "hwinfo/registry_source.h"

constexpr int kGpuNameSize = 256;
constexpr char kUnknownGpu[] = "UnkowGPU";
constexpr char kVideoMapKey[] = "HARDWARE\\DEVICEMAP\\VIDEO";
constexpr char kVideoMapValue[] = "\\Device\\Video0";

// Writes the description of the adapter named by the video device map into out (kGpuNameSize
// bytes, always terminated), or "UnkowGPU". Returns true when the adapter's settings key was
// opened; a null out returns false.
bool GetGpuName(RegistryReader read, char* out);

// Turns the kernel path of "\Device\Video0" into a path under HKEY_LOCAL_MACHINE by dropping the
// 18 characters of the machine hive's root ("\Registry\Machine\"), which are not compared. Returns
// nullptr for a shorter text.
const char* SettingsKeyOf(const char* kernel_path);
