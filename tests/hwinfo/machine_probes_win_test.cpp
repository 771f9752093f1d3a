// The probes of this machine against what the test reads itself, and the file-version and DirectX
// probes against folders of DLLs built with version resources.
#include <windows.h>

#include <cstring>
#include <string>

#include "client/hardware_profile.h"
#include "client/machine_id.h"
#include "hwinfo/cpu_model.h"
#include "hwinfo/gpu_name.h"
#include "hwinfo/probes.h"
#include "win_test_support.h"

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

void CpuNameVendorAndFlagsFollowTheInstruction() {
  REQUIRE(CHECK_TRUE(CpuIdSupported()));  // every x86_64 processor has it
  CHECK_TRUE(CpuIdSupported());  // and the remembered answer stays

  char name[kCpuNameSize];
  GetCpuName(name);
  CHECK_EQ(name, ExpectedCpuName());
  std::printf("processor name: %s\n", name);

  char token[8];
  char expected_token[8];
  const int code = GetCpuVendor(token);
  CHECK_EQ(code, MatchCpuVendor(Lowered(OwnVendorId()).c_str(), expected_token)) << OwnVendorId();
  CHECK_STREQ(token, expected_token);
  std::printf("vendor id %s: %s (%d)\n", OwnVendorId().c_str(), token, code);

  const uint32_t edx1 = OwnCpuId(1).edx;
  CHECK_EQ(CpuHasMmx(), (edx1 >> 23 & 1) != 0);
  CHECK_EQ(CpuHasSse(), (edx1 >> 25 & 1) != 0);
  CHECK_EQ(CpuHasSse2(), (edx1 >> 26 & 1) != 0);
  CHECK_EQ(CpuHasHt(), (edx1 >> 28 & 1) != 0);
  const bool has_ext1 = OwnCpuId(0x80000000).eax >= 0x80000001;
  CHECK_EQ(CpuHas3DNow(), has_ext1 && (OwnCpuId(0x80000001).edx >> 30 & 1) != 0);
  CHECK_TRUE(CpuHasSse2());  // part of x86_64
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

void ModelCodeOfTheSameInputs() {
  const CpuSource own = {OwnSupported, OwnCpuId, OwnRegistry};
  char expected[kCpuModelSize];
  GetCpuModel(own, expected);
  char model[kCpuModelSize];
  GetCpuModel(model);
  CHECK_STREQ(model, expected);
  std::printf("model code: %s\n", model);
}

void SpeedIsTheRegistryClock() {
  uint32_t mhz = 0;
  const bool present = OwnRegDword(kCpuKey, "~MHz", &mhz);
  CHECK_EQ(GetCpuSpeedReg(), present ? int(mhz) : 0);
  CHECK_TRUE(present) << "Wine writes ~MHz at start-up";
}

void WindowsVersionAndMemory() {
  OSVERSIONINFOEXA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  REQUIRE(CHECK_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))));
#pragma GCC diagnostic pop
  CHECK_EQ(GetWindowsVersionCode(), version.dwMajorVersion * 1000 + version.dwMinorVersion % 1000);

  MEMORYSTATUS status = {};
  status.dwLength = sizeof(status);
  GlobalMemoryStatus(&status);
  uint32_t page_file = 0;
  CHECK_EQ(GetMemorySizes(&page_file), uint32_t(status.dwTotalPhys >> 20));
  CHECK_EQ(page_file, uint32_t(status.dwTotalPageFile >> 20));
  CHECK_EQ(GetMemorySizes(nullptr), uint32_t(status.dwTotalPhys >> 20));
  CHECK_GT(page_file, 0u);
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

void GpuNameFollowsTheDeviceMap() {
  bool opened = false;
  const std::string expected = OwnGpuDescription(&opened);
  char name[kGpuNameSize];
  CHECK_EQ(GetGpuName(name), opened);
  CHECK_EQ(name, expected);
  std::printf("adapter: %s (settings key %s)\n", name, opened ? "opened" : "missing");
}

std::string Sanitised(std::string text, size_t cut) {
  if (text.size() > cut) text.resize(cut);
  for (char& c : text) {
    if (c == '=' || c == '&' || c == '?') c = '-';
  }
  return text;
}

void HardwareProfileOfThisMachine() {
  char profile[kHardwareProfileSize];
  std::memset(profile, 'x', sizeof(profile));
  REQUIRE(CHECK_TRUE(BuildHardwareProfile(profile)));
  REQUIRE(CHECK_NE(std::memchr(profile, '\0', sizeof(profile)), nullptr));
  std::printf("profile: %s\n", profile);

  const auto fields = ProfileFields(profile);
  const char* const names[] = {"id",   "cname", "cvendor", "cmodel", "cspeed_reg", "cmmx",  "csse",  "csse2", "c3dnow",
                               "cht",  "winver", "vname_reg", "vvendor", "vmodel", "mem1", "mem2", "dx"};
  REQUIRE(CHECK_EQ(fields.size(), sizeof(names) / sizeof(names[0])));
  for (size_t i = 0; i < fields.size(); ++i) CHECK_EQ(fields[i].first, names[i]) << i;

  char id[kMachineIdSize];
  BuildMachineId(id);
  CHECK_EQ(fields[0].second, id);
  CHECK_EQ(fields[1].second, Sanitised(ExpectedCpuName(), 64));
  char model[kCpuModelSize];
  GetCpuModel(model);
  CHECK_EQ(fields[3].second, model);
  uint32_t mhz = 0;
  OwnRegDword(kCpuKey, "~MHz", &mhz);
  CHECK_EQ(fields[4].second, std::to_string(mhz));
  const uint32_t edx1 = OwnCpuId(1).edx;
  CHECK_EQ(fields[5].second, std::to_string(edx1 >> 23 & 1));
  CHECK_EQ(fields[6].second, std::to_string(edx1 >> 25 & 1));
  CHECK_EQ(fields[7].second, std::to_string(edx1 >> 26 & 1));
  CHECK_EQ(fields[9].second, std::to_string(edx1 >> 28 & 1));
  CHECK_EQ(fields[10].second, std::to_string(GetWindowsVersionCode()));
  bool opened = false;
  const std::string gpu = Sanitised(OwnGpuDescription(&opened), 64);
  CHECK_EQ(fields[11].second, gpu);
  char token[512];
  std::strcpy(token, gpu.c_str());
  int gpu_vendor = 0;
  const int gpu_model = GetGpuVendorModel(token, &gpu_vendor);
  CHECK_EQ(fields[12].second, token);
  CHECK_EQ(fields[13].second, std::to_string(gpu_model));
  MEMORYSTATUS status = {};
  status.dwLength = sizeof(status);
  GlobalMemoryStatus(&status);
  CHECK_EQ(fields[14].second, std::to_string(status.dwTotalPhys >> 20));
  CHECK_EQ(fields[15].second, std::to_string(status.dwTotalPageFile >> 20));
  CHECK_EQ(fields[16].second, std::to_string(GetDirectXVersion()));
}

// The test DLLs: bin/hwinfo_versions/ver_<a>_<b>_<c>_<d>.dll, and ver_none.dll without a version.
std::string VersionDll(const char* name) { return ExeDir() + "hwinfo_versions\\" + name + ".dll"; }

void Statuses() {
  FileVersion v = {};
  CHECK_EQ(GetFileVersion(nullptr, &v), E_INVALIDARG);
  CHECK_EQ(GetFileVersion(VersionDll("ver_1_2_3_4").c_str(), nullptr), E_INVALIDARG);
  CHECK_EQ(GetFileVersion((ExeDir() + "no such file.dll").c_str(), &v), E_FAIL);
  CHECK_EQ(GetFileVersion(VersionDll("ver_none").c_str(), &v), E_FAIL);
  REQUIRE(CHECK_EQ(GetFileVersion(VersionDll("ver_5_2_3677_134").c_str(), &v), S_OK));
  CHECK_EQ(v.ms, 0x00050002u);
  CHECK_EQ(v.ls, (3677u << 16) | 134u);
  REQUIRE(CHECK_EQ(GetFileVersion(VersionDll("ver_32768_0_0_0").c_str(), &v), S_OK));
  CHECK_EQ(v.ms, 0x80000000u);
  CHECK_EQ(v.ls, 0u);
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
    CHECK_TRUE(CopyFileA(VersionDll(c.source).c_str(), (dir + "\\" + c.file).c_str(), FALSE)) << c.source;
  }
  return dir;
}

void FoldersOfVersionedFiles() {
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
    CHECK_EQ(GetDirectXVersionIn(dir.c_str()), folder.level) << folder.what;
  }
  CHECK_EQ(GetDirectXVersionIn((ExeDir() + "no such folder").c_str()), 0);
  CHECK_EQ(GetDirectXVersionIn(nullptr), 0);
}

void SystemDirectory() {
  char dir[MAX_PATH];
  REQUIRE(CHECK_GT(GetSystemDirectoryA(dir, MAX_PATH), 0u));
  const int level = GetDirectXVersion();
  CHECK_EQ(level, GetDirectXVersionIn(dir));
  // Wine ships a d3d9.dll with a version resource.
  DWORD ignored;
  if (GetFileVersionInfoSizeA((std::string(dir) + "\\d3d9.dll").c_str(), &ignored) != 0) CHECK_EQ(level, 90000);
  std::printf("system directory %s: DirectX level %d\n", dir, level);
}

}  // namespace

int main() {
  const wintest::TestCase cases[] = {
    {"MachineProbes.CpuNameVendorAndFlagsFollowTheInstruction", CpuNameVendorAndFlagsFollowTheInstruction},
    {"MachineProbes.ModelCodeOfTheSameInputs", ModelCodeOfTheSameInputs},
    {"MachineProbes.SpeedIsTheRegistryClock", SpeedIsTheRegistryClock},
    {"MachineProbes.WindowsVersionAndMemory", WindowsVersionAndMemory},
    {"MachineProbes.GpuNameFollowsTheDeviceMap", GpuNameFollowsTheDeviceMap},
    {"MachineProbes.HardwareProfileOfThisMachine", HardwareProfileOfThisMachine},
    {"FileVersionProbe.Statuses", Statuses},
    {"DirectXProbe.FoldersOfVersionedFiles", FoldersOfVersionedFiles},
    {"DirectXProbe.SystemDirectory", SystemDirectory},
  };
  return wintest::RunCases(cases);
}
