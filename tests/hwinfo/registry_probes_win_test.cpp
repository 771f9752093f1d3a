// The registry probes against values this test writes into (and deletes from) its own Wine prefix:
// the adapter chain of the video device map, the processor key, and their absence.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "client/hardware_profile.h"
#include "hwinfo/cpu_model.h"
#include "hwinfo/gpu_name.h"
#include "hwinfo/probes.h"
#include "tests/hwinfo/machine_reads_win.h"
#include "tests/hwinfo/registry_guard_win.h"

namespace {

using namespace wintest;

constexpr char kCpuKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr char kVideoKey[] = "HARDWARE\\DEVICEMAP\\VIDEO";
constexpr char kTestRoot[] = "Software\\VXIdentTest";
constexpr char kSettingsKey[] = "Software\\VXIdentTest\\Video\\0000";
const std::string kKernelPath = std::string("\\Registry\\Machine\\") + kSettingsKey;

// The processor probes with the instruction taken away, so that the name comes from the registry.
const CpuSource kRegistryOnlyCpu = {[] { return false; }, CpuIdLeaf, ReadMachineRegistry};

std::string GpuName(bool* opened) {
  char out[kGpuNameSize + 16];
  std::memset(out, 'x', sizeof(out));
  *opened = GetGpuName(out);
  return std::string(out, strnlen(out, sizeof(out)));
}

std::string Profile() {
  char profile[kHardwareProfileSize];
  BuildHardwareProfile(profile);
  return profile;
}

struct GpuCase {
  const char* description;
  const char* token;
  int vendor;
  int model;
};

TEST(RegistryProbes, GpuDescriptionsAreClassified) {
  KeyGuard video(kVideoKey, true);
  KeyGuard test_root(kTestRoot, false);
  ASSERT_TRUE(SetRegString(kVideoKey, "\\Device\\Video0", kKernelPath, true, true));
  const GpuCase cases[] = {
      {"NVIDIA GeForce 6800 GT", "NVIDIA", 2, 8},
      {"RADEON 9600 SERIES", "ATI", 1, 7},
      {"Intel(R) 82865G Graphics Controller", "INTEL", 9, 4},
      {"Intel(R) Extreme Graphics", "INTEL", 9, 3},
      {"S3 Graphics ProSavageDDR", "S3", 7, 3},
      {"3Dfx Voodoo3", "3DFX", 8, 3},
      {"Diamond Viper II Z200", "S3", 7, 4},
      {"VGA compatible display adapter", "ATI", 1, 0},
      {"Standard VGA Graphics Adapter", "UNKNOW", 0, 0},
      {"ASUS V9999 Standard VGA Graphics Adapter", "UNKNOW", 0, 3},
      {"Matrox Parhelia", "MATROX", 5, 6},
      {"Trident Blade3D", "TRIDENT", 12, 3},
  };
  for (const GpuCase& c : cases) {
    ASSERT_TRUE(SetRegString(kSettingsKey, "Device Description", c.description));
    bool opened = false;
    const std::string name = GpuName(&opened);
    EXPECT_TRUE(opened) << c.description;
    EXPECT_EQ(name, c.description);
    // What the profile does with it: cut, sanitise, classify.
    char scratch[kProfileScratchSize];
    std::strcpy(scratch, name.c_str());
    SanitiseField(scratch, 64);
    int vendor = -1;
    EXPECT_EQ(GetGpuVendorModel(scratch, &vendor), c.model) << c.description;
    EXPECT_STREQ(scratch, c.token) << c.description;
    EXPECT_EQ(vendor, c.vendor) << c.description;
  }
  ASSERT_TRUE(SetRegString(kSettingsKey, "Device Description", "NVIDIA GeForce 6800 GT"));
  EXPECT_TRUE(Profile().find("&vname_reg=NVIDIA GeForce 6800 GT&vvendor=NVIDIA&vmodel=8&") != std::string::npos)
      << Profile();
}

TEST(RegistryProbes, ProfileCutsAndSanitisesTheDescription) {
  KeyGuard video(kVideoKey, true);
  KeyGuard test_root(kTestRoot, false);
  ASSERT_TRUE(SetRegString(kVideoKey, "\\Device\\Video0", kKernelPath, true, true));
  // 80 characters; the vendor's name lies beyond the 64 that are kept.
  std::string description = "Standard Display Adapter for the primary monitor of this machine NVIDIA 6800";
  description.resize(80, '0');
  ASSERT_TRUE(SetRegString(kSettingsKey, "Device Description", description));
  const std::string profile = Profile();
  EXPECT_TRUE(profile.find("&vname_reg=" + description.substr(0, 64) + "&vvendor=UNKNOW&vmodel=0&") !=
             std::string::npos)
      << profile;

  ASSERT_TRUE(SetRegString(kSettingsKey, "Device Description", "Radeon 9600 & co=fast?"));
  const std::string sanitised = Profile();
  EXPECT_TRUE(sanitised.find("&vname_reg=Radeon 9600 - co-fast-&vvendor=ATI&vmodel=7&") != std::string::npos)
      << sanitised;
  EXPECT_EQ(ProfileFields(sanitised).size(), 17u);
}

TEST(RegistryProbes, BreaksInTheAdapterChain) {
  KeyGuard video(kVideoKey, true);
  KeyGuard test_root(kTestRoot, false);
  bool opened = true;

  ASSERT_TRUE(SetRegString(kVideoKey, "\\Device\\Video0", "\\Registry\\Machine", true, true));  // 17
  EXPECT_EQ(GpuName(&opened), "UnkowGPU");
  EXPECT_FALSE(opened);

  // Exactly the 18 characters of the root: the empty rest opens HKEY_LOCAL_MACHINE itself, which
  // has no description.
  ASSERT_TRUE(SetRegString(kVideoKey, "\\Device\\Video0", "\\Registry\\Machine\\", true, true));
  EXPECT_EQ(GpuName(&opened), "UnkowGPU");
  EXPECT_TRUE(opened);

  ASSERT_TRUE(SetRegString(kVideoKey, "\\Device\\Video0", kKernelPath, true, true));
  EXPECT_EQ(GpuName(&opened), "UnkowGPU");  // settings key missing
  EXPECT_FALSE(opened);

  ASSERT_TRUE(SetRegString(kSettingsKey, "Other Value", "x"));
  EXPECT_EQ(GpuName(&opened), "UnkowGPU");  // key without a description
  EXPECT_TRUE(opened);

  ASSERT_TRUE(SetRegString(kSettingsKey, "Device Description", std::string(300, 'd')));
  EXPECT_EQ(GpuName(&opened), "UnkowGPU");  // does not fit the 256 bytes: not read
  EXPECT_TRUE(opened);

  ASSERT_TRUE(SetRegString(kSettingsKey, "Device Description", std::string(255, 'd')));
  EXPECT_EQ(GpuName(&opened), std::string(255, 'd'));  // 255 characters and the terminator fit

  // 256 bytes without a terminator fill the buffer; the probe keeps 255 of them and terminates.
  ASSERT_TRUE(SetRegRaw(kSettingsKey, "Device Description", REG_BINARY, std::string(256, 'e')));
  EXPECT_EQ(GpuName(&opened), std::string(255, 'e'));
  EXPECT_TRUE(opened);

  // The same as a string: Windows hands the 256 bytes over as they are; Wine's RegQueryValueExA
  // wants room for a terminator it would add and fails the read, which leaves the fallback.
  ASSERT_TRUE(SetRegString(kSettingsKey, "Device Description", std::string(256, 'f'), false));
  const std::string unterminated = GpuName(&opened);
  EXPECT_TRUE(unterminated == std::string(255, 'f') || unterminated == "UnkowGPU") << unterminated;
  std::printf("256-byte string without terminator read as %s\n",
              unterminated == "UnkowGPU" ? "a failure (Wine)" : "255 characters (Windows)");
}

TEST(RegistryProbes, RegistryProcessorValues) {
  KeyGuard cpu(kCpuKey, true);
  char name[kCpuNameSize];

  ASSERT_TRUE(SetRegString(kCpuKey, "ProcessorNameString", "   Test  CPU Name   ", true, true));
  GetCpuName(kRegistryOnlyCpu, name);
  EXPECT_STREQ(name, "Test  CPU Name");

  ASSERT_TRUE(SetRegString(kCpuKey, "ProcessorNameString", "      ", true, true));
  GetCpuName(kRegistryOnlyCpu, name);
  EXPECT_STREQ(name, "Unknow CPU");

  ASSERT_TRUE(SetRegString(kCpuKey, "ProcessorNameString", "AMD Athlon(tm) XP 1800+", true, true));
  char token[8];
  EXPECT_EQ(GetCpuVendor(kRegistryOnlyCpu, token), 2);
  EXPECT_STREQ(token, "AMD");
  char model[kCpuModelSize];
  GetCpuModel(kRegistryOnlyCpu, model);
  EXPECT_STREQ(model, "AXP");

  // "~MHz" is read as four bytes whatever its type.
  ASSERT_TRUE(SetRegRaw(kCpuKey, "~MHz", REG_DWORD, std::string("\xd2\x04\x00\x00", 4), true));
  EXPECT_EQ(GetCpuSpeedReg(), 1234);
  ASSERT_TRUE(SetRegRaw(kCpuKey, "~MHz", REG_BINARY, std::string("\x2c\x01", 2), true));
  EXPECT_EQ(GetCpuSpeedReg(), 300);
  ASSERT_TRUE(SetRegString(kCpuKey, "~MHz", "1234", true, true));  // five bytes: does not fit
  EXPECT_EQ(GetCpuSpeedReg(), 0);
}

TEST(RegistryProbes, MissingKeys) {
  KeyGuard cpu(kCpuKey, true);
  KeyGuard video(kVideoKey, true);
  cpu.Delete();
  video.Delete();

  EXPECT_EQ(GetCpuSpeedReg(), 0);
  char name[kCpuNameSize];
  GetCpuName(kRegistryOnlyCpu, name);
  EXPECT_STREQ(name, "Unknow CPU");
  char token[8];
  EXPECT_EQ(GetCpuVendor(kRegistryOnlyCpu, token), 0);  // searched in "unknow cpu"
  EXPECT_STREQ(token, "OTHER");
  bool opened = true;
  EXPECT_EQ(GpuName(&opened), "UnkowGPU");
  EXPECT_FALSE(opened);

  const std::string profile = Profile();
  EXPECT_EQ(ProfileFields(profile).size(), 17u) << profile;
  EXPECT_TRUE(profile.find("&cspeed_reg=0&") != std::string::npos) << profile;
  EXPECT_TRUE(profile.find("&vname_reg=UnkowGPU&vvendor=UNKNOW&vmodel=0&") != std::string::npos) << profile;
}

}  // namespace
