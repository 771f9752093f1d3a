#include "hwinfo/cpu_model.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_machine.h"
#include "hwinfo/name_text.h"

namespace {

std::string Code(const char* compact, int vendor) {
  char out[kCpuModelSize] = {};
  CpuModelCode(compact, vendor, out);
  return out;
}

struct Row {
  const char* compact;
  int vendor;
  const char* code;
};

TEST(CpuModelCode, EveryListRow) {
  const Row rows[] = {
      {"celeron4", kCpuIntel, "IC4"},   {"celerond", kCpuIntel, "IC4"},  {"celeron3", kCpuIntel, "IC3"},
      {"celeroniii", kCpuIntel, "IC3"}, {"celeron2", kCpuIntel, "IC2"},  {"celeronii", kCpuIntel, "IC2"},
      {"celeron", kCpuIntel, "IC"},     {"pentium4", kCpuIntel, "IP4"},  {"pentiumiv", kCpuIntel, "IP4"},
      {"pentium3", kCpuIntel, "IP3"},   {"pentiumiii", kCpuIntel, "IP3"}, {"pentium2", kCpuIntel, "IP2"},
      {"pentiumii", kCpuIntel, "IP2"},  {"pentium", kCpuIntel, "IP"},    {"itanium2", kCpuIntel, "II2x"},
      {"itanium", kCpuIntel, "IIx"},    {"i486dx", kCpuIntel, "I4"},     {"i386sx", kCpuIntel, "I3"},
      {"athlon64fx", kCpuAmd, "A64x"},  {"athlon64", kCpuAmd, "A64"},    {"athlonxp", kCpuAmd, "AXP"},
      {"athlonmp", kCpuAmd, "AAx"},     {"athlon", kCpuAmd, "AA"},       {"sempron", kCpuAmd, "AS"},
      {"opteron", kCpuAmd, "AOx"},      {"duron", kCpuAmd, "AD"},        {"amd-k6-2", kCpuAmd, "A6"},
      {"amd-k5x86", kCpuAmd, "A4"},     {"amd-k5", kCpuAmd, "A5"},
      {"cyrix5x86", kCpuCyrix, "C5"},   {"mediagx", kCpuCyrix, "CG"},    {"6x86m1", kCpuCyrix, "C6"},
      {"6x86m2", kCpuCyrix, "C6"},      {"cyrixiii", kCpuCyrix, "CV"},
  };
  for (const Row& row : rows) EXPECT_EQ(Code(row.compact, row.vendor), row.code) << row.compact;
}

TEST(CpuModelCode, BaseLetterWhenNoRowMatches) {
  const Row rows[] = {
      {"intelcore2duo", kCpuIntel, "I"}, {"amdphenom", kCpuAmd, "A"},       {"cyrix6x86mx", kCpuCyrix, "C"},
      {"pentium4", kCpuUmc, "U"},        {"pentium4", kCpuNexGen, "N"},     {"pentium4", kCpuCentaur, "E"},
      {"pentium4", kCpuRise, "R"},       {"pentium4", kCpuTransmeta, "T"}, {"pentium4", kCpuNsc, "N"},
      {"pentium4", kCpuOther, "O"},      {"pentium4", 42, "O"},             {"mobilegx", kCpuCyrix, "CG"},
      {"mobileathlon", kCpuNexGen, "N"},
  };
  for (const Row& row : rows) EXPECT_EQ(Code(row.compact, row.vendor), row.code) << row.compact;
}

TEST(CpuModelCode, Suffixes) {
  const Row rows[] = {
      {"mobilepentium3", kCpuIntel, "IP3m"},   {"intelpentiumm", kCpuIntel, "IPm"},
      {"pentium4m", kCpuIntel, "IP4m"},        {"pentium3m", kCpuIntel, "IP3m"},
      {"pentiumiiim", kCpuIntel, "IP3m"},      {"celeronm", kCpuIntel, "ICm"},
      {"celerondm", kCpuIntel, "IC4m"},        {"celeron4m", kCpuIntel, "IC4m"},
      {"celeron3m", kCpuIntel, "IC3m"},        {"intelxeon", kCpuIntel, "Ix"},
      {"pentiumiiixeon", kCpuIntel, "IP3x"},   {"mobilexeon", kCpuIntel, "Im"},  // one suffix at most
      {"itanium2mobile", kCpuIntel, "II2xm"},  {"pentium4-m", kCpuIntel, "IP4"},  // the hyphen breaks the key
      {"mobileathlonxp", kCpuAmd, "AXPm"},     {"athlon64notebook", kCpuAmd, "A64m"},
      {"athlon64fxmobile", kCpuAmd, "A64xm"},  {"athlonxeon", kCpuAmd, "AA"},   // AMD takes no "x"
  };
  for (const Row& row : rows) EXPECT_EQ(Code(row.compact, row.vendor), row.code) << row.compact;
}

TEST(CpuNameText, CompactNameOfABracketedName) {
  char name[] = "Intel(R) Pentium(R) 4 CPU 3.00GHz";
  LowerAscii(name);
  BlankBrackets(name);
  EXPECT_STREQ(name, "intel    pentium    4 cpu 3.00ghz");
  char compact[64];
  CompactName(name, " ", compact, sizeof(compact));
  EXPECT_STREQ(compact, "intelpentium4cpu3.00ghz");

  char open[] = "AMD Athlon(tm 64 X2";  // never closed: the rest goes
  LowerAscii(open);
  BlankBrackets(open);
  EXPECT_STREQ(open, "amd athlon         ");

  char small[4];
  CompactName("a b-c_d", " ", small, sizeof(small));  // cut to the buffer
  EXPECT_STREQ(small, "ab-");

  char mixed[] = "\xB5\xF7 ABC xyz";  // code-page bytes stay as they are
  LowerAscii(mixed);
  EXPECT_STREQ(mixed, "\xB5\xF7 abc xyz");
}

class CpuModelProbe : public testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }

  std::string Model(const char* vendor_id, const char* brand) {
    fake::SetVendorId(vendor_id);
    fake::SetBrand(brand);
    char out[kCpuModelSize] = {};
    GetCpuModel(fake::Cpu(), out);
    return out;
  }
};

TEST_F(CpuModelProbe, NamesOfRealProcessors) {
  struct Case {
    const char* vendor_id;
    const char* brand;
    const char* code;
  } cases[] = {
      {"GenuineIntel", "Intel(R) Pentium(R) 4 CPU 3.00GHz", "IP4"},
      {"GenuineIntel", "Mobile Intel(R) Pentium(R) 4 - M CPU 2.00GHz", "IP4m"},
      {"GenuineIntel", "Intel(R) Pentium(R) M processor 1.60GHz", "IPm"},
      {"GenuineIntel", "Intel(R) Xeon(TM) CPU 3.06GHz", "Ix"},
      {"GenuineIntel", "Intel(R) Core(TM)2 Duo CPU     E8400  @ 3.00GHz", "I"},
      {"GenuineIntel", "Intel(R) Celeron(R 4 CPU", "IC"},  // the open bracket hides the 4
      {"AuthenticAMD", "AMD Athlon(tm) 64 X2 Dual Core Processor 4200+", "A64"},
      {"AuthenticAMD", "Mobile AMD Athlon(tm) XP 2500+", "AXPm"},
      {"CyrixInstead", "Cyrix 6x86MX", "C"},
      {"Geode by NSC", "Geode(TM) Integrated Processor by National Semi", "N"},
      {"NexGenDriven", "NexGen Nx586", "N"},
      {"CentaurHauls", "VIA Nehemiah", "E"},
      // The vendor comes from leaf 0, not from the name.
      {"GenuineTMx86", "Intel Pentium 4 lookalike", "T"},
  };
  for (const Case& c : cases) EXPECT_EQ(Model(c.vendor_id, c.brand), c.code) << c.brand;
}

TEST_F(CpuModelProbe, WithoutTheInstructionTheRegistryNameDecides) {
  fake::Current().has_cpuid = false;
  fake::SetString("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", "ProcessorNameString",
                  "AMD Athlon(tm) XP 1800+");
  char out[kCpuModelSize] = {};
  GetCpuModel(fake::Cpu(), out);
  EXPECT_STREQ(out, "AXP");

  fake::Reset();
  fake::Current().has_cpuid = false;
  GetCpuModel(fake::Cpu(), out);
  EXPECT_STREQ(out, "O");
  GetCpuModel(fake::Cpu(), nullptr);
}

}  // namespace
