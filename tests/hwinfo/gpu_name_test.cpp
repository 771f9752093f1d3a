#include "hwinfo/gpu_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_machine.h"

namespace {

constexpr char kSettings[] = "System\\CurrentControlSet\\Control\\Video\\{0A1B}\\0000";

class GpuName : public testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }

  void MapVideo0(const std::string& kernel_path) {
    fake::SetString("HARDWARE\\DEVICEMAP\\VIDEO", "\\Device\\Video0", kernel_path);
  }

  bool Read(std::string* name) {
    char out[kGpuNameSize + 8];
    std::memset(out, 'x', sizeof(out));
    const bool opened = GetGpuName(fake::ReadRegistry, out);
    *name = std::string(out, strnlen(out, sizeof(out)));
    return opened;
  }
};

TEST_F(GpuName, FollowsTheDeviceMapToTheDescription) {
  MapVideo0(std::string("\\Registry\\Machine\\") + kSettings);
  fake::SetString(kSettings, "Device Description", "NVIDIA GeForce 6800 GT");
  std::string name;
  EXPECT_TRUE(Read(&name));
  EXPECT_EQ(name, "NVIDIA GeForce 6800 GT");

  // The 18 characters of the hive's root are dropped, not compared.
  MapVideo0(std::string("abcdefghijklmnopqr") + kSettings);
  EXPECT_TRUE(Read(&name));
  EXPECT_EQ(name, "NVIDIA GeForce 6800 GT");
}

TEST_F(GpuName, EveryBreakInTheChainGivesTheFallback) {
  std::string name;
  EXPECT_FALSE(Read(&name));  // no device map
  EXPECT_EQ(name, "UnkowGPU");

  fake::Current().registry["HARDWARE\\DEVICEMAP\\VIDEO"];  // map without "\Device\Video0"
  EXPECT_FALSE(Read(&name));
  EXPECT_EQ(name, "UnkowGPU");

  MapVideo0("\\Registry\\Machine");  // 17 characters
  fake::Current().registry[""];  // even a key named by what is left would not be tried
  EXPECT_FALSE(Read(&name));
  EXPECT_EQ(name, "UnkowGPU");

  MapVideo0(std::string("\\Registry\\Machine\\") + kSettings);  // settings key missing
  EXPECT_FALSE(Read(&name));
  EXPECT_EQ(name, "UnkowGPU");

  fake::Current().registry[kSettings];  // key without a description
  EXPECT_TRUE(Read(&name));
  EXPECT_EQ(name, "UnkowGPU");

  fake::SetString(kSettings, "Device Description", std::string(300, 'd'));  // larger than 256 bytes
  EXPECT_TRUE(Read(&name));
  EXPECT_EQ(name, "UnkowGPU");

  EXPECT_FALSE(GetGpuName(fake::ReadRegistry, nullptr));
}

TEST_F(GpuName, DescriptionFillingTheBufferStaysTerminated) {
  MapVideo0(std::string("\\Registry\\Machine\\") + kSettings);
  fake::Current().registry[kSettings]["Device Description"] = std::string(kGpuNameSize, 'd');  // no terminator
  std::string name;
  EXPECT_TRUE(Read(&name));
  EXPECT_EQ(name, std::string(kGpuNameSize - 1, 'd'));
}

TEST_F(GpuName, SettingsKeyOfAKernelPath) {
  EXPECT_EQ(SettingsKeyOf("\\Registry\\Machine"), nullptr);
  EXPECT_STREQ(SettingsKeyOf("\\Registry\\Machine\\"), "");
  EXPECT_STREQ(SettingsKeyOf("\\Registry\\Machine\\System\\X"), "System\\X");
}

}  // namespace
