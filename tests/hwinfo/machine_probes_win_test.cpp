// The probes of this machine against what the test reads itself, and the file-version and DirectX
// probes against folders of DLLs built with version resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "client/hardware_profile.h"
#include "client/machine_id.h"
#include "hwinfo/cpu_model.h"
#include "hwinfo/gpu_name.h"
#include "hwinfo/probes.h"
#include "tests/hwinfo/machine_reads_win.h"

namespace {

using namespace wintest;

constexpr char kCpuKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

std::string ExpectedCpuName() {
  std::string name = Trimmed(OwnBrandString());
  if (name.empty() && OwnRegString(kCpuKey, "ProcessorNameString", &name)) name = Trimmed(name);
  return name.empty() ? "Unknow CPU" : name;
}

std::string Lowered(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(MachineProbes, CpuNameVendorAndFlagsFollowTheInstruction) {
  ASSERT_TRUE(CpuIdSupported());  // every x86_64 processor has it
  EXPECT_TRUE(CpuIdSupported());  // and the remembered answer stays

  char name[kCpuNameSize];
  GetCpuName(name);
  EXPECT_EQ(name, ExpectedCpuName());
  std::printf("processor name: %s\n", name);

  char token[8];
  char expected_token[8];
  const int code = GetCpuVendor(token);
  EXPECT_EQ(code, MatchCpuVendor(Lowered(OwnVendorId()).c_str(), expected_token)) << OwnVendorId();
  EXPECT_STREQ(token, expected_token);
  std::printf("vendor id %s: %s (%d)\n", OwnVendorId().c_str(), token, code);

  const uint32_t edx1 = OwnCpuId(1).edx;
  EXPECT_EQ(CpuHasMmx(), (edx1 >> 23 & 1) != 0);
  EXPECT_EQ(CpuHasSse(), (edx1 >> 25 & 1) != 0);
  EXPECT_EQ(CpuHasSse2(), (edx1 >> 26 & 1) != 0);
  EXPECT_EQ(CpuHasHt(), (edx1 >> 28 & 1) != 0);
  const bool has_ext1 = OwnCpuId(0x80000000).eax >= 0x80000001;
  EXPECT_EQ(CpuHas3DNow(), has_ext1 && (OwnCpuId(0x80000001).edx >> 30 & 1) != 0);
  EXPECT_TRUE(CpuHasSse2());  // part of x86_64
}

// A source made of the test's own reads: the real probe must decide as the portable logic does on
// the same inputs.
RegRead OwnRegistry(const char* key, const char* value, void* out, uint32_t capacity, uint32_t* size) {
  DWORD length = capacity;
  const LONG status = RegGetValueA(HKEY_LOCAL_MACHINE, key, value, RRF_RT_ANY | RRF_NOEXPAND, nullptr, out, &length);
  *size = status == ERROR_SUCCESS ? length : 0;
  return status == ERROR_SUCCESS ? RegRead::kOk : RegRead::kNoValue;
}
bool OwnSupported() { return true; }

TEST(MachineProbes, ModelCodeOfTheSameInputs) {
  const CpuSource own = {OwnSupported, OwnCpuId, OwnRegistry};
  char expected[kCpuModelSize];
  GetCpuModel(own, expected);
  char model[kCpuModelSize];
  GetCpuModel(model);
  EXPECT_STREQ(model, expected);
  std::printf("model code: %s\n", model);
}

TEST(MachineProbes, SpeedIsTheRegistryClock) {
  uint32_t mhz = 0;
  const bool present = OwnRegDword(kCpuKey, "~MHz", &mhz);
  EXPECT_EQ(GetCpuSpeedReg(), present ? int(mhz) : 0);
  EXPECT_TRUE(present) << "Wine writes ~MHz at start-up";
}

TEST(MachineProbes, WindowsVersionAndMemory) {
  OSVERSIONINFOEXA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)));
#pragma GCC diagnostic pop
  EXPECT_EQ(GetWindowsVersionCode(), version.dwMajorVersion * 1000 + version.dwMinorVersion % 1000);

  MEMORYSTATUS status = {};
  status.dwLength = sizeof(status);
  GlobalMemoryStatus(&status);
  uint32_t page_file = 0;
  EXPECT_EQ(GetMemorySizes(&page_file), uint32_t(status.dwTotalPhys >> 20));
  EXPECT_EQ(page_file, uint32_t(status.dwTotalPageFile >> 20));
  EXPECT_EQ(GetMemorySizes(nullptr), uint32_t(status.dwTotalPhys >> 20));
  EXPECT_GT(page_file, 0u);
  std::printf("winver %lu.%lu, %u MiB, page file %u MiB\n", version.dwMajorVersion, version.dwMinorVersion,
              GetMemorySizes(nullptr), page_file);
}

std::string OwnGpuDescription(bool* opened) {
  std::string path;
  std::string description;
  *opened = OwnRegString("HARDWARE\\DEVICEMAP\\VIDEO", "\\Device\\Video0", &path) && path.size() >= 18;
  HKEY key;
  *opened = *opened && RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str() + 18, 0, KEY_READ, &key) == ERROR_SUCCESS;
  if (*opened) RegCloseKey(key);
  if (*opened && OwnRegString(path.c_str() + 18, "Device Description", &description)) return description;
  return "UnkowGPU";
}

TEST(MachineProbes, GpuNameFollowsTheDeviceMap) {
  bool opened = false;
  const std::string expected = OwnGpuDescription(&opened);
  char name[kGpuNameSize];
  EXPECT_EQ(GetGpuName(name), opened);
  EXPECT_EQ(name, expected);
  std::printf("adapter: %s (settings key %s)\n", name, opened ? "opened" : "missing");
}

std::string Sanitised(std::string text, size_t cut) {
  if (text.size() > cut) text.resize(cut);
  for (char& c : text) {
    if (c == '=' || c == '&' || c == '?') c = '-';
  }
  return text;
}

TEST(MachineProbes, HardwareProfileOfThisMachine) {
  char profile[kHardwareProfileSize];
  std::memset(profile, 'x', sizeof(profile));
  ASSERT_TRUE(BuildHardwareProfile(profile));
  ASSERT_NE(std::memchr(profile, '\0', sizeof(profile)), nullptr);
  std::printf("profile: %s\n", profile);

  const auto fields = ProfileFields(profile);
  const char* const names[] = {"id",   "cname", "cvendor", "cmodel", "cspeed_reg", "cmmx",  "csse",  "csse2", "c3dnow",
                               "cht",  "winver", "vname_reg", "vvendor", "vmodel", "mem1", "mem2", "dx"};
  ASSERT_EQ(fields.size(), sizeof(names) / sizeof(names[0]));
  for (size_t i = 0; i < fields.size(); ++i) EXPECT_EQ(fields[i].first, names[i]) << i;

  char id[kMachineIdSize];
  BuildMachineId(id);
  EXPECT_EQ(fields[0].second, id);
  EXPECT_EQ(fields[1].second, Sanitised(ExpectedCpuName(), 64));
  char model[kCpuModelSize];
  GetCpuModel(model);
  EXPECT_EQ(fields[3].second, model);
  uint32_t mhz = 0;
  OwnRegDword(kCpuKey, "~MHz", &mhz);
  EXPECT_EQ(fields[4].second, std::to_string(mhz));
  const uint32_t edx1 = OwnCpuId(1).edx;
  EXPECT_EQ(fields[5].second, std::to_string(edx1 >> 23 & 1));
  EXPECT_EQ(fields[6].second, std::to_string(edx1 >> 25 & 1));
  EXPECT_EQ(fields[7].second, std::to_string(edx1 >> 26 & 1));
  EXPECT_EQ(fields[9].second, std::to_string(edx1 >> 28 & 1));
  EXPECT_EQ(fields[10].second, std::to_string(GetWindowsVersionCode()));
  bool opened = false;
  const std::string gpu = Sanitised(OwnGpuDescription(&opened), 64);
  EXPECT_EQ(fields[11].second, gpu);
  char token[512];
  std::strcpy(token, gpu.c_str());
  int gpu_vendor = 0;
  const int gpu_model = GetGpuVendorModel(token, &gpu_vendor);
  EXPECT_EQ(fields[12].second, token);
  EXPECT_EQ(fields[13].second, std::to_string(gpu_model));
  MEMORYSTATUS status = {};
  status.dwLength = sizeof(status);
  GlobalMemoryStatus(&status);
  EXPECT_EQ(fields[14].second, std::to_string(status.dwTotalPhys >> 20));
  EXPECT_EQ(fields[15].second, std::to_string(status.dwTotalPageFile >> 20));
  EXPECT_EQ(fields[16].second, std::to_string(GetDirectXVersion()));
}

// The test DLLs: bin/hwinfo_versions/ver_<a>_<b>_<c>_<d>.dll, and ver_none.dll without a version.
std::string VersionDll(const char* name) { return ExeDir() + "hwinfo_versions\\" + name + ".dll"; }

TEST(FileVersionProbe, Statuses) {
  FileVersion v = {};
  EXPECT_EQ(GetFileVersion(nullptr, &v), E_INVALIDARG);
  EXPECT_EQ(GetFileVersion(VersionDll("ver_1_2_3_4").c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(GetFileVersion((ExeDir() + "no such file.dll").c_str(), &v), E_FAIL);
  EXPECT_EQ(GetFileVersion(VersionDll("ver_none").c_str(), &v), E_FAIL);
  ASSERT_EQ(GetFileVersion(VersionDll("ver_5_2_3677_134").c_str(), &v), S_OK);
  EXPECT_EQ(v.ms, 0x00050002u);
  EXPECT_EQ(v.ls, (3677u << 16) | 134u);
  ASSERT_EQ(GetFileVersion(VersionDll("ver_32768_0_0_0").c_str(), &v), S_OK);
  EXPECT_EQ(v.ms, 0x80000000u);
  EXPECT_EQ(v.ls, 0u);
}

struct Component {
  const char* file;    // as the DirectX steps name it
  const char* source;  // the test DLL copied under that name
};

struct Folder {
  const char* what;
  Component files[2];
  int level;
};

std::string MakeFolder(const Folder& folder, int index) {
  const std::string dir = ExeDir() + "hwinfo_dx_cases\\" + std::to_string(index);
  CreateDirectoryA((ExeDir() + "hwinfo_dx_cases").c_str(), nullptr);
  CreateDirectoryA(dir.c_str(), nullptr);
  for (const char* stale : {"d3d9.dll", "dpnet.dll", "mpg2splt.ax", "d3d8.dll", "ddraw.dll", "dinput.dll",
                            "dplayx.dll", "d3drg8x.dll"}) {
    DeleteFileA((dir + "\\" + stale).c_str());
  }
  for (const Component& c : folder.files) {
    if (c.file == nullptr) continue;
    EXPECT_TRUE(CopyFileA(VersionDll(c.source).c_str(), (dir + "\\" + c.file).c_str(), FALSE)) << c.source;
  }
  return dir;
}

TEST(DirectXProbe, FoldersOfVersionedFiles) {
  const Folder folders[] = {
      {"empty", {}, 0},
      {"d3d9 with a version", {{"d3d9.dll", "ver_1_2_3_4"}}, 90000},
      {"d3d9 without one goes on", {{"d3d9.dll", "ver_none"}, {"dpnet.dll", "ver_5_2_3677_134"}}, 80200},
      {"dpnet one below", {{"dpnet.dll", "ver_5_2_3677_133"}}, 0},
      {"dpnet one below, ddraw 7", {{"dpnet.dll", "ver_5_2_3677_133"}, {"ddraw.dll", "ver_4_7_0_700"}}, 70000},
      {"dpnet major 6", {{"dpnet.dll", "ver_6_2_3677_134"}}, 0},
      {"d3d8 major 6", {{"d3d8.dll", "ver_6_2_3677_134"}}, 0},
      {"mpg2splt with the top bit", {{"mpg2splt.ax", "ver_32768_0_0_0"}}, 80102},
      {"d3d8 8.1a", {{"d3d8.dll", "ver_4_8_1_901"}}, 80101},
      {"d3d8 between", {{"d3d8.dll", "ver_4_8_1_890"}}, 80100},
      {"ddraw 7.0", {{"ddraw.dll", "ver_4_7_0_700"}}, 70000},
      {"ddraw 4.4.0.69, no d3drg8x", {{"ddraw.dll", "ver_4_4_0_69"}}, 30000},
      {"ddraw without a version", {{"ddraw.dll", "ver_none"}}, 0},
  };
  int index = 0;
  for (const Folder& folder : folders) {
    const std::string dir = MakeFolder(folder, index++);
    EXPECT_EQ(GetDirectXVersionIn(dir.c_str()), folder.level) << folder.what;
  }
  EXPECT_EQ(GetDirectXVersionIn((ExeDir() + "no such folder").c_str()), 0);
  EXPECT_EQ(GetDirectXVersionIn(nullptr), 0);
}

TEST(DirectXProbe, SystemDirectory) {
  char dir[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(dir, MAX_PATH), 0u);
  const int level = GetDirectXVersion();
  EXPECT_EQ(level, GetDirectXVersionIn(dir));
  // Wine ships a d3d9.dll with a version resource.
  DWORD ignored;
  if (GetFileVersionInfoSizeA((std::string(dir) + "\\d3d9.dll").c_str(), &ignored) != 0) {
    EXPECT_EQ(level, 90000);
  }
  std::printf("system directory %s: DirectX level %d\n", dir, level);
}

}  // namespace
