// The operating-system probes of the profile, and the profile of this machine.
#include <windows.h>

#include <cstring>

#include "client/hardware_profile.h"
#include "client/machine_id.h"
#include "hwinfo/probes.h"

namespace {

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA is given the 148-byte record");

const HardwareProbes kMachineProbes = {
    BuildMachineId, GetCpuName, GetCpuVendor, GetCpuModel,           GetCpuSpeedReg,
    CpuHasMmx,      CpuHasSse,  CpuHasSse2,   CpuHas3DNow,           CpuHasHt,
    GetWindowsVersionCode,      GetGpuName,   GetGpuVendorModel,     GetMemorySizes,
    GetDirectXVersion,
};

}  // namespace

uint32_t GetWindowsVersionCode() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  // Without a compatibility manifest in the host, Windows 8.1 and later report 6.2 here, and that
  // is the code the profile carries.
  if (!GetVersionExA(&version)) return 0;
#pragma GCC diagnostic pop
  return WindowsVersionCode(version.dwMajorVersion, version.dwMinorVersion);
}

uint32_t GetMemorySizes(uint32_t* page_file_mib) {
  // With more than 4 GiB a 32-bit process sees GlobalMemoryStatus clamp its totals; the fields
  // carry what it reports.
  MEMORYSTATUS status;
  std::memset(&status, 0, sizeof(status));
  status.dwLength = sizeof(status);
  GlobalMemoryStatus(&status);
  if (page_file_mib != nullptr) *page_file_mib = BytesToMiB(status.dwTotalPageFile);
  return BytesToMiB(status.dwTotalPhys);
}

bool BuildHardwareProfile(char* out) {
  FormatHardwareProfile(kMachineProbes, out);
  return true;
}
