#include "client/hardware_profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "hwinfo/gpu_classify.h"

namespace {

// What each fake probe gives; a test changes the fields it is about.
struct Values {
  std::string machine_id = "BB11CC104410DDCC";
  std::string cpu_name = "Intel(R) Pentium(R) 4 CPU 3.00GHz";
  std::string cpu_vendor = "INTEL";
  std::string cpu_model = "IP4";
  int speed = 2992;
  bool flags[5] = {true, true, true, false, true};
  uint32_t winver = 5001;
  std::string gpu_name = "NVIDIA GeForce 6800 GT";
  uint32_t mem = 1024;
  uint32_t page_file = 2466;
  int dx = 90000;
  std::vector<std::string> calls;
  std::string gpu_name_seen;  // what the adapter vendor probe found in the scratch buffer
  std::string gpu_token;      // empty: the real classifier decides
  int gpu_model = 0;
};
Values g;

void Put(char* out, const std::string& text) { std::memcpy(out, text.c_str(), text.size() + 1); }

const HardwareProbes kFakeProbes = {
    [](char* out) { g.calls.push_back("id"), Put(out, g.machine_id); },
    [](char* out) { g.calls.push_back("cname"), Put(out, g.cpu_name); },
    [](char* out) { return g.calls.push_back("cvendor"), Put(out, g.cpu_vendor), 1; },
    [](char* out) { g.calls.push_back("cmodel"), Put(out, g.cpu_model); },
    [] { return g.calls.push_back("speed"), g.speed; },
    [] { return g.calls.push_back("mmx"), g.flags[0]; },
    [] { return g.calls.push_back("sse"), g.flags[1]; },
    [] { return g.calls.push_back("sse2"), g.flags[2]; },
    [] { return g.calls.push_back("3dnow"), g.flags[3]; },
    [] { return g.calls.push_back("ht"), g.flags[4]; },
    [] { return g.calls.push_back("winver"), g.winver; },
    [](char* out) { return g.calls.push_back("vname"), Put(out, g.gpu_name), true; },
    [](char* name, int* vendor) {
      g.calls.push_back("vvendor");
      g.gpu_name_seen = name;
      if (g.gpu_token.empty()) return GetGpuVendorModel(name, vendor);
      Put(name, g.gpu_token);
      return g.gpu_model;
    },
    [](uint32_t* page_file) {
      g.calls.push_back("mem");
      *page_file = g.page_file;
      return g.mem;
    },
    [] { return g.calls.push_back("dx"), g.dx; },
};

class HardwareProfile : public testing::Test {
 protected:
  void SetUp() override { g = Values(); }

  std::string Build() {
    char out[kHardwareProfileSize];
    std::memset(out, 'x', sizeof(out));
    FormatHardwareProfile(kFakeProbes, out);
    EXPECT_NE(std::memchr(out, '\0', sizeof(out)), nullptr);
    return out;
  }
};

TEST_F(HardwareProfile, FifteenFieldsInOrder) {
  EXPECT_EQ(Build(),
            "id=BB11CC104410DDCC&cname=Intel(R) Pentium(R) 4 CPU 3.00GHz&cvendor=INTEL&cmodel=IP4"
            "&cspeed_reg=2992&cmmx=1&csse=1&csse2=1&c3dnow=0&cht=1&winver=5001"
            "&vname_reg=NVIDIA GeForce 6800 GT&vvendor=NVIDIA&vmodel=8&mem1=1024&mem2=2466&dx=90000");
  const std::vector<std::string> order = {"id",  "cname", "cvendor", "cmodel", "speed",   "mmx", "sse", "sse2",
                                          "3dnow", "ht",  "winver",  "vname",  "vvendor", "mem", "dx"};
  EXPECT_EQ(g.calls, order);  // every probe once, in field order
}

TEST_F(HardwareProfile, ValuesCannotBreakTheFieldStructure) {
  g.cpu_name = "A&B=C?D";
  g.gpu_name = "Card?&=";
  g.cpu_model = "I=";
  const std::string profile = Build();
  EXPECT_NE(profile.find("&cname=A-B-C-D&"), std::string::npos) << profile;
  EXPECT_NE(profile.find("&cmodel=I-&"), std::string::npos) << profile;
  EXPECT_NE(profile.find("&vname_reg=Card---&"), std::string::npos) << profile;
  EXPECT_EQ(g.gpu_name_seen, "Card---");
}

TEST_F(HardwareProfile, TextsAreCutToTheirFieldLengths) {
  g.machine_id = "0123456789ABCDEFGHIJ";
  g.cpu_name = std::string(100, 'c');
  g.cpu_vendor = "GENUINEINTEL";
  g.cpu_model = "ABCDEFGHIJ";
  const std::string profile = Build();
  EXPECT_EQ(profile.rfind("id=0123456789ABCDEF&", 0), 0u) << profile;
  EXPECT_NE(profile.find("&cname=" + std::string(64, 'c') + "&"), std::string::npos) << profile;
  EXPECT_NE(profile.find("&cvendor=GENUINEI&"), std::string::npos) << profile;
  EXPECT_NE(profile.find("&cmodel=ABCDEFGH&"), std::string::npos) << profile;
}

TEST_F(HardwareProfile, AdapterVendorProbeSeesTheCutName) {
  // 80 characters; the vendor's name begins after the 64th, so only "Standard" text is classified.
  g.gpu_name = std::string("Standard Display Adapter for the primary monitor of this machine NVIDIA GeF");
  g.gpu_name.resize(80, 'x');
  ASSERT_EQ(g.gpu_name.size(), 80u);
  const std::string profile = Build();
  EXPECT_EQ(g.gpu_name_seen, g.gpu_name.substr(0, 64));
  EXPECT_NE(profile.find("&vname_reg=" + g.gpu_name.substr(0, 64) + "&vvendor=UNKNOW&vmodel=0&"),
            std::string::npos)
      << profile;

  g = Values();
  g.gpu_name = "NVIDIA GeForce 6800 GT " + std::string(57, '=');  // 80 characters
  EXPECT_NE(Build().find("&vname_reg=NVIDIA GeForce 6800 GT " + std::string(41, '-') + "&vvendor=NVIDIA&vmodel=8&"),
            std::string::npos);
}

TEST_F(HardwareProfile, LongestProfileHas362Characters) {
  g.machine_id = std::string(16, 'F');
  g.cpu_name = std::string(64, 'n');
  g.cpu_vendor = std::string(8, 'V');
  g.cpu_model = std::string(8, 'M');
  g.speed = INT_MIN;
  g.winver = uint32_t(INT_MIN);
  g.gpu_name = std::string(64, 'g');
  g.gpu_token = std::string(8, 'T');
  g.gpu_model = INT_MIN;
  g.mem = uint32_t(INT_MIN);
  g.page_file = uint32_t(INT_MIN);
  g.dx = INT_MIN;
  EXPECT_EQ(Build().size(), 362u);

  g.cpu_name = std::string(200, 'n');  // longer texts are cut, so the profile cannot grow
  g.gpu_name = std::string(255, 'g');
  g.gpu_token = std::string(30, 'T');
  EXPECT_EQ(Build().size(), 362u);
}

TEST_F(HardwareProfile, MemoryAndVersionCodes) {
  EXPECT_EQ(BytesToMiB(1ull << 30), 1024u);
  EXPECT_EQ(BytesToMiB((1ull << 30) - 1), 1023u);
  EXPECT_EQ(BytesToMiB(4ull << 30), 4096u);
  struct Version {
    uint32_t major;
    uint32_t minor;
    uint32_t code;
  } versions[] = {{4, 10, 4010}, {5, 0, 5000}, {5, 1, 5001}, {6, 0, 6000}, {6, 2, 6002}, {10, 1234, 10234}};
  for (const Version& v : versions) EXPECT_EQ(WindowsVersionCode(v.major, v.minor), v.code) << v.major;

  g.mem = BytesToMiB(1ull << 30);
  g.winver = WindowsVersionCode(5, 1);
  const std::string profile = Build();
  EXPECT_NE(profile.find("&winver=5001&"), std::string::npos);
  EXPECT_NE(profile.find("&mem1=1024&mem2=2466&"), std::string::npos);
}

TEST(SanitiseField, CutsThenReplaces) {
  char text[16] = "a=b&c?d=e&f?g";
  SanitiseField(text, 5);
  EXPECT_STREQ(text, "a-b-c");
  char whole[] = "??";
  SanitiseField(whole, 2);
  EXPECT_STREQ(whole, "--");
  char empty[4] = "";
  SanitiseField(empty, 3);
  EXPECT_STREQ(empty, "");
}

}  // namespace
