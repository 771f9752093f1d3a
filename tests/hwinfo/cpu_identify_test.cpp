#include "hwinfo/cpu_identify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_machine.h"

namespace {

constexpr char kKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

class CpuIdentify : public testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }

  std::string Name() {
    char out[kCpuNameSize];
    std::memset(out, 'x', sizeof(out));
    GetCpuName(fake::Cpu(), out);
    return out;
  }

  std::string Vendor(int* code) {
    char out[8] = {};
    *code = GetCpuVendor(fake::Cpu(), out);
    return out;
  }
};

TEST_F(CpuIdentify, TrimmingKeepsInnerBlanksOnly) {
  struct Case {
    const char* scratch;
    const char* trimmed;
  } cases[] = {
      {"            Intel(R) Pentium(R) 4 CPU 3.00GHz", "Intel(R) Pentium(R) 4 CPU 3.00GHz"},
      {"AMD  Athlon   XP  ", "AMD  Athlon   XP"},
      {"\tTab is no blank\t", "\tTab is no blank\t"},
      {"     ", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    char out[kCpuNameSize];
    EXPECT_EQ(TrimCpuName(c.scratch, out), int(std::strlen(c.trimmed))) << c.scratch;
    EXPECT_STREQ(out, c.trimmed);
  }
}

TEST_F(CpuIdentify, NameComesFromTheBrandString) {
  fake::SetBrand("            Intel(R) Pentium(R) 4 CPU 3.00GHz");
  fake::SetString(kKey, "ProcessorNameString", "Registry name");
  EXPECT_EQ(Name(), "Intel(R) Pentium(R) 4 CPU 3.00GHz");

  // All 48 bytes used: the name still ends, at the scratch's zero bytes.
  const std::string full(48, 'Z');
  fake::SetBrand(full);
  EXPECT_EQ(Name(), full);
}

TEST_F(CpuIdentify, NameFallsBackToTheRegistry) {
  fake::SetString(kKey, "ProcessorNameString", "  AMD Athlon(tm) Processor ");

  fake::SetBrand("Brand", 0x80000003);  // brand leaves not offered
  EXPECT_EQ(Name(), "AMD Athlon(tm) Processor");

  fake::SetBrand("");  // offered but empty
  EXPECT_EQ(Name(), "AMD Athlon(tm) Processor");

  fake::Current().has_cpuid = false;
  fake::SetBrand("Brand");  // never asked without the instruction
  EXPECT_EQ(Name(), "AMD Athlon(tm) Processor");
}

TEST_F(CpuIdentify, NameFallbacks) {
  fake::Current().has_cpuid = false;
  EXPECT_EQ(Name(), "Unknow CPU");  // no key

  fake::Current().registry[kKey];  // key without the value
  EXPECT_EQ(Name(), "Unknow CPU");

  fake::SetString(kKey, "ProcessorNameString", "        ");
  EXPECT_EQ(Name(), "Unknow CPU");

  fake::SetString(kKey, "ProcessorNameString", std::string(600, 'n'));  // does not fit: not read
  EXPECT_EQ(Name(), "Unknow CPU");

  GetCpuName(fake::Cpu(), nullptr);  // does nothing
}

TEST_F(CpuIdentify, RegistryNameFillingTheBufferStaysTerminated) {
  fake::Current().has_cpuid = false;
  fake::Current().registry[kKey]["ProcessorNameString"] = std::string(kCpuNameSize, 'n');  // no terminator
  EXPECT_EQ(Name(), std::string(kCpuNameSize - 1, 'n'));
}

TEST_F(CpuIdentify, VendorTable) {
  struct Case {
    const char* id;
    const char* token;
    int code;
  } cases[] = {
      {"GenuineIntel", "INTEL", 1}, {"AuthenticAMD", "AMD", 2},   {"UMC UMC UMC ", "UMC", 3},
      {"CyrixInstead", "CYRIX", 4}, {"NexGenDriven", "NEXGEN", 5}, {"CentaurHauls", "CENTAUR", 6},
      {"RiseRiseRise", "RISE", 7},  {"GenuineTMx86", "TMX86", 8}, {"Geode by NSC", "NSC", 9},
      {"HygonGenuine", "OTHER", 0}, {"AMDisbetter!", "AMD", 2},
  };
  for (const Case& c : cases) {
    fake::SetVendorId(c.id);
    int code = -1;
    EXPECT_EQ(Vendor(&code), c.token) << c.id;
    EXPECT_EQ(code, c.code) << c.id;
  }
}

TEST_F(CpuIdentify, EarlierVendorRowWins) {
  char out[8];
  EXPECT_EQ(MatchCpuVendor("nsc core by intel", out), 1);
  EXPECT_STREQ(out, "INTEL");
  EXPECT_EQ(MatchCpuVendor("rise of the amd", out), 2);
  EXPECT_STREQ(out, "AMD");
}

TEST_F(CpuIdentify, VendorWithoutTheInstructionComesFromTheName) {
  fake::Current().has_cpuid = false;
  int code = -1;
  EXPECT_EQ(Vendor(&code), "OTHER");  // searched in "unknow cpu"
  EXPECT_EQ(code, 0);

  fake::SetString(kKey, "ProcessorNameString", "AMD-K6(tm) 3D processor");
  EXPECT_EQ(Vendor(&code), "AMD");
  EXPECT_EQ(code, 2);

  // An instruction that answers leaf 0 with zeros also sends the search to the name.
  fake::Current().has_cpuid = true;
  fake::SetString(kKey, "ProcessorNameString", "Cyrix 6x86");
  EXPECT_EQ(Vendor(&code), "CYRIX");

  EXPECT_EQ(GetCpuVendor(fake::Cpu(), nullptr), 0);
}

TEST_F(CpuIdentify, SpeedFromTheRegistry) {
  EXPECT_EQ(GetCpuSpeedReg(fake::Cpu()), 0);  // no key
  fake::Current().registry[kKey];
  EXPECT_EQ(GetCpuSpeedReg(fake::Cpu()), 0);  // no "~MHz"
  fake::SetDword(kKey, "~MHz", 2992);
  EXPECT_EQ(GetCpuSpeedReg(fake::Cpu()), 2992);
  // Whatever the type: a two-byte value fills the low bytes, an eight-byte one does not fit.
  fake::Current().registry[kKey]["~MHz"] = std::string("\x2c\x01", 2);
  EXPECT_EQ(GetCpuSpeedReg(fake::Cpu()), 300);
  fake::Current().registry[kKey]["~MHz"] = std::string(8, '\x01');
  EXPECT_EQ(GetCpuSpeedReg(fake::Cpu()), 0);
}

TEST_F(CpuIdentify, FeatureFlagsAreEdxBitsOfLeafOne) {
  struct Case {
    int bit;
    bool (*probe)(const CpuSource&);
  } cases[] = {{23, CpuHasMmx}, {25, CpuHasSse}, {26, CpuHasSse2}, {28, CpuHasHt}};
  for (const Case& c : cases) {
    fake::Current().leaves[1] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 1u << c.bit};
    EXPECT_TRUE(c.probe(fake::Cpu())) << c.bit;
    fake::Current().leaves[1] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, ~(1u << c.bit)};
    EXPECT_FALSE(c.probe(fake::Cpu())) << c.bit;
    fake::Current().has_cpuid = false;
    fake::Current().leaves[1].edx = 0xFFFFFFFF;
    EXPECT_FALSE(c.probe(fake::Cpu())) << c.bit;
    fake::Current().has_cpuid = true;
  }
}

TEST_F(CpuIdentify, ThreeDNowIsBit30OfTheExtendedLeaf) {
  fake::Current().leaves[0x80000000] = {0x80000001, 0, 0, 0};
  fake::Current().leaves[0x80000001] = {0, 0, 0, 1u << 30};
  EXPECT_TRUE(CpuHas3DNow(fake::Cpu()));
  fake::Current().leaves[0x80000001] = {0, 0, 0, 1u << 31};
  EXPECT_FALSE(CpuHas3DNow(fake::Cpu()));

  fake::Current().leaves[0x80000001] = {0, 0, 0, 1u << 30};
  fake::Current().leaves[0x80000000] = {0x80000000, 0, 0, 0};  // the leaf is not offered
  EXPECT_FALSE(CpuHas3DNow(fake::Cpu()));
  fake::Current().leaves[0x80000000] = {0x80000008, 0, 0, 0};
  fake::Current().has_cpuid = false;
  EXPECT_FALSE(CpuHas3DNow(fake::Cpu()));
}

int g_flag_tests;
bool g_flag_result;
bool CountedFlagTest() {
  ++g_flag_tests;
  return g_flag_result;
}

TEST_F(CpuIdentify, OnlyAPositiveFlagTestIsRemembered) {
  uint8_t flag = 0;
  g_flag_tests = 0;
  g_flag_result = false;
  EXPECT_FALSE(CachedCpuIdSupported(&flag, CountedFlagTest));
  EXPECT_FALSE(CachedCpuIdSupported(&flag, CountedFlagTest));
  EXPECT_EQ(g_flag_tests, 2);
  g_flag_result = true;
  EXPECT_TRUE(CachedCpuIdSupported(&flag, CountedFlagTest));
  g_flag_result = false;
  EXPECT_TRUE(CachedCpuIdSupported(&flag, CountedFlagTest));
  EXPECT_EQ(g_flag_tests, 3);
  EXPECT_EQ(flag, 1);
}

}  // namespace
