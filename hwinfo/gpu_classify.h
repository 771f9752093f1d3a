// Classifies a graphics adapter description into a vendor and a model class, a small number that
// an ordered list of keyword rules assigns to the adapter's product line.
#pragma once

enum GpuVendor {
  kGpuUnknown = 0,
  kGpuAti = 1,
  kGpuNvidia = 2,
  kGpuPowerVr = 3,
  kGpuSis = 4,
  kGpuMatrox = 5,
  kGpuXgi = 6,
  kGpuS3 = 7,
  kGpu3Dfx = 8,
  kGpuIntel = 9,
  kGpu3Dlabs = 10,
  kGpuCirrus = 11,
  kGpuTrident = 12,
};

constexpr int kGpuTokenSize = 8;  // "TRIDENT" and the terminator

// Reads the description in name, then overwrites name (at least kGpuTokenSize bytes) with the
// vendor's token, stores the GpuVendor code through vendor and returns the model class (0 to 10).
// A null name returns 0 and leaves *vendor untouched.
int GetGpuVendorModel(char* name, int* vendor);
