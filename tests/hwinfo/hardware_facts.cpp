// Prints what the machine says of itself, read by other calls than the probes use (its own cpuid,
// RegGetValueA, GetVersionExA with the larger record, GlobalMemoryStatus), one "name value" line
// each, for the end-to-end test to check the profile the DLL sends.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/hwinfo/machine_reads_win.h"

using namespace wintest;

int main() {
  std::printf("brand %s\n", OwnBrandString().c_str());
  std::printf("vendor_id %s\n", OwnVendorId().c_str());
  const uint32_t edx1 = OwnCpuId(1).edx;
  const bool ext1 = OwnCpuId(0x80000000).eax >= 0x80000001;
  std::printf("mmx %u\nsse %u\nsse2 %u\nht %u\n", edx1 >> 23 & 1, edx1 >> 25 & 1, edx1 >> 26 & 1, edx1 >> 28 & 1);
  std::printf("3dnow %u\n", ext1 ? OwnCpuId(0x80000001).edx >> 30 & 1 : 0);

  const char* cpu_key = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
  std::string registry_name;
  std::printf("registry_name %s\n", OwnRegString(cpu_key, "ProcessorNameString", &registry_name)
                                        ? registry_name.c_str() : "");
  uint32_t mhz = 0;
  std::printf("mhz %u\n", OwnRegDword(cpu_key, "~MHz", &mhz) ? mhz : 0);

  OSVERSIONINFOEXA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
#pragma GCC diagnostic pop
    std::printf("winver %lu %lu\n", version.dwMajorVersion, version.dwMinorVersion);
  }
  MEMORYSTATUS memory = {};
  memory.dwLength = sizeof(memory);
  GlobalMemoryStatus(&memory);
  std::printf("mem_phys %llu\nmem_page %llu\n", (unsigned long long)memory.dwTotalPhys,
              (unsigned long long)memory.dwTotalPageFile);

  std::string path;
  std::string description;
  if (OwnRegString("HARDWARE\\DEVICEMAP\\VIDEO", "\\Device\\Video0", &path) && path.size() >= 18 &&
      OwnRegString(path.c_str() + 18, "Device Description", &description)) {
    std::printf("gpu %s\n", description.c_str());
  } else {
    std::printf("gpu\n");
  }

  char dir[MAX_PATH] = {};
  GetSystemDirectoryA(dir, MAX_PATH);
  DWORD ignored = 0;
  std::printf("d3d9_versioned %d\n",
              GetFileVersionInfoSizeA((std::string(dir) + "\\d3d9.dll").c_str(), &ignored) != 0 ? 1 : 0);
  return 0;
}
