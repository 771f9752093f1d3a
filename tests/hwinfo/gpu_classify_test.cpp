#include "hwinfo/gpu_classify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

struct Expected {
  const char* token;
  int vendor;
  int model;
};

struct Case {
  const char* description;
  Expected expected;
};

void ExpectClass(const std::string& description, Expected expected) {
  char name[512] = {};
  std::strncpy(name, description.c_str(), sizeof(name) - 1);
  int vendor = -1;
  const int model = GetGpuVendorModel(name, &vendor);
  EXPECT_STREQ(name, expected.token) << description;
  EXPECT_EQ(vendor, expected.vendor) << description;
  EXPECT_EQ(model, expected.model) << description;
}

void ExpectAll(const Case* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) ExpectClass(cases[i].description, cases[i].expected);
}

template <size_t N>
void ExpectAll(const Case (&cases)[N]) {
  ExpectAll(cases, N);
}

// Rules that list alternatives: every alternative, put into the same description.
struct Alternatives {
  const char* before;
  const char* keys;  // blank-separated
  const char* after;
  Expected expected;
};

template <size_t N>
void ExpectEach(const Alternatives (&rows)[N]) {
  for (const Alternatives& row : rows) {
    std::istringstream keys(row.keys);
    std::string key;
    while (keys >> key) ExpectClass(row.before + key + row.after, row.expected);
  }
}

TEST(GpuClassify, NamedExamples) {
  ExpectAll({
      {"NVIDIA GeForce 6800 GT", {"NVIDIA", 2, 8}},
      {"RADEON 9600 SERIES", {"ATI", 1, 7}},  // no vendor key: stage 2 takes it from V = 0
      {"Intel(R) 82865G Graphics Controller", {"INTEL", 9, 4}},
      {"Intel(R) Extreme Graphics", {"INTEL", 9, 3}},
      {"S3 Graphics ProSavageDDR", {"S3", 7, 3}},
      {"3Dfx Voodoo3", {"3DFX", 8, 3}},
      {"Diamond Viper II Z200", {"S3", 7, 4}},
      {"VGA compatible display adapter", {"ATI", 1, 0}},  // "ati" inside "compatible"
      {"Standard VGA Graphics Adapter", {"UNKNOW", 0, 0}},
      {"ASUS Standard VGA Graphics Adapter", {"UNKNOW", 0, 3}},
      {"UnkowGPU", {"UNKNOW", 0, 0}},
  });
}

TEST(GpuClassify, VendorKeysInOrder) {
  ExpectAll({
      {"3Dlabs", {"3DLABS", 10, 0}},        {"NVIDIA", {"NVIDIA", 2, 0}},
      {"PowerVR", {"POWERVR", 3, 2}},       {"Trident", {"TRIDENT", 12, 0}},
      {"Matrox", {"MATROX", 5, 0}},         {"Intel", {"INTEL", 9, 3}},
      {"Cirrus", {"CIRRUS", 11, 1}},        {"ATI", {"ATI", 1, 0}},
      {"3dfx", {"3DFX", 8, 1}},             {"SiS", {"SIS", 4, 0}},
      {"XGI", {"XGI", 6, 5}},               {"S3", {"S3", 7, 0}},
      {"Matrox Intel", {"MATROX", 5, 0}},   // the earlier row wins wherever the keys stand
      {"ATI NVIDIA", {"NVIDIA", 2, 0}},
      {"NVIDIA (ATI) board", {"NVIDIA", 2, 0}},  // bracketed text is not searched
      {"(NVIDIA GeForce 6800)", {"UNKNOW", 0, 0}},
  });
}

TEST(GpuClassify, Stage1DiamondBoards) {
  ExpectAll({
      {"Diamond Viper II deltachrome", {"S3", 7, 6}},  // the S3 stage's own rule beats the fallback
      {"Diamond Viper 770", {"S3", 7, 3}},
      {"Diamond Stealth 64", {"S3", 7, 3}},
      {"Diamond Stealth Savage 2000", {"S3", 7, 4}},
      {"Diamond Monster II Banshee", {"3DFX", 8, 3}},
      {"Diamond Monster 3D II", {"3DFX", 8, 1}},
      {"Diamond Monster 4500", {"3DFX", 8, 4}},
  });
}

TEST(GpuClassify, Stage2Ati) {
  ExpectEach({
      {"ATI RADEON ", "x600 x700 x900 x800 x850 x500", "", {"ATI", 1, 8}},
      {"ATI RADEON ", "x300 9500 9550 9600 9700 9800", "", {"ATI", 1, 7}},
      {"ATI RADEON ", "8500 9000 9100 9200 9250", "", {"ATI", 1, 6}},
      {"ATI ", "7000 7200 radeon", " SE", {"ATI", 1, 4}},
      {"ATI ", "3D-Pro-Turbo 3D_Charger 3DXpression", "", {"ATI", 1, 1}},
  });
  ExpectAll({
      {"FireGL 8800", {"ATI", 1, 10}},
      {"ATI RADEON 7500", {"ATI", 1, 5}},
      {"ATI ALL-IN-WONDER VE", {"ATI", 1, 4}},
      {"ATI All-in-Wonder 128", {"ATI", 1, 3}},
      {"ATI Rage Pro", {"ATI", 1, 3}},
      {"ATI Xpert 98", {"ATI", 1, 2}},
      {"ATI All-in-Wonder Pro", {"ATI", 1, 1}},
      {"ATI Mach64", {"ATI", 1, 0}},  // an ATI name no rule knows ends with class 0
  });
}

TEST(GpuClassify, Stage3Nvidia) {
  ExpectEach({
      {"NVIDIA GeForce ", "6600 6800", "", {"NVIDIA", 2, 8}},
      {"NVIDIA GeForce FX ", "6200 5600 5700 5800 5900 5950", "", {"NVIDIA", 2, 7}},
      // Before the GeForce4 rule, which would give 6.
      {"NVIDIA GeForce4 MX ", "100 200 400 440 4000", "", {"NVIDIA", 2, 5}},
  });
  ExpectAll({
      {"NVIDIA Quadro FX 1000", {"NVIDIA", 2, 10}},
      {"Quadro4 900 XGL", {"NVIDIA", 2, 10}},  // no vendor key: stage 3 from V = 0
      {"NVIDIA GeForce2 MX", {"NVIDIA", 2, 5}},
      {"NVIDIA nForce3 250", {"NVIDIA", 2, 5}},
      {"NVIDIA GeForce4 440 Go", {"NVIDIA", 2, 5}},
      {"NVIDIA GeForce3 Ti 500", {"NVIDIA", 2, 6}},
      {"NVIDIA GeForce4 MX", {"NVIDIA", 2, 6}},
      {"NVIDIA GeForce 4 Ti 4600", {"NVIDIA", 2, 6}},  // compact: geforce4
      {"NVIDIA GeForce FX 5200", {"NVIDIA", 2, 6}},
      {"NVIDIA GeForce FX Go5300", {"NVIDIA", 2, 7}},
      {"NVIDIA nForce2 IGP", {"NVIDIA", 2, 4}},
      {"NVIDIA GeForce FX 5500", {"NVIDIA", 2, 6}},
      {"NVIDIA GeForce MX", {"NVIDIA", 2, 5}},
      {"NVIDIA GeForce 256", {"NVIDIA", 2, 5}},  // compact "geforce256" holds "geforce2"
      {"NVIDIA GeForce PCX", {"NVIDIA", 2, 4}},
      {"NVIDIA RIVA TNT2 Model 64", {"NVIDIA", 2, 3}},
      {"NVIDIA RIVA TNT 2", {"NVIDIA", 2, 3}},  // compact: tnt2
      {"NVIDIA RIVA TNT", {"NVIDIA", 2, 2}},
      {"NVIDIA RIVA 128", {"NVIDIA", 2, 1}},
      {"NVIDIA NV1", {"NVIDIA", 2, 0}},
  });
}

TEST(GpuClassify, Stage4Matrox) {
  ExpectEach({
      {"Matrox ", "P750 P650", "", {"MATROX", 5, 10}},
      {"Matrox Millennium ", "G450 G550", "", {"MATROX", 5, 4}},
  });
  ExpectAll({
      {"Matrox Parhelia", {"MATROX", 5, 6}},
      {"Matrox Millennium G400", {"MATROX", 5, 3}},
      {"Matrox Millennium G200", {"MATROX", 5, 2}},
      {"Matrox Productiva G100", {"MATROX", 5, 1}},
      {"Matrox Mystique", {"MATROX", 5, 0}},
  });
}

TEST(GpuClassify, Stage5Intel) {
  ExpectEach({
      {"Intel(R) 82", "830 840 845 850 852 855 860 865", " Graphics Controller", {"INTEL", 9, 4}},
      {"Intel(R) 82", "810 815 820", " Graphics Controller", {"INTEL", 9, 3}},
  });
  ExpectAll({
      {"Intel(R) 82915G/GV/910GL Express Chipset Family", {"INTEL", 9, 6}},
      {"Intel Extreme Graphics 3", {"INTEL", 9, 6}},
      {"Intel(R) Extreme Graphics 2", {"INTEL", 9, 4}},
      {"Intel(R) 82815 Graphics Controller 740", {"INTEL", 9, 3}},  // before the 740 rule
      {"Intel Extreme Graphics 740", {"INTEL", 9, 3}},  // before the 740 rule too
      {"Intel740", {"INTEL", 9, 2}},
      {"Intel 752", {"INTEL", 9, 2}},
      {"Intel(R) GMA 950", {"INTEL", 9, 3}},  // unrecognised Intel: still class 3
  });
}

TEST(GpuClassify, Stage6ThreeDfx) {
  ExpectEach({
      {"3dfx Voodoo5 ", "6000 5500 5000", "", {"3DFX", 8, 5}},
      {"3Dfx ", "Voodoo2 Voodoo3 Banshee", "", {"3DFX", 8, 3}},
  });
  ExpectAll({
      {"3Dfx Voodoo 5", {"3DFX", 8, 5}},  // compact: voodoo5
      {"3dfx Voodoo4 4500", {"3DFX", 8, 4}},
      {"3Dfx Voodoo 4", {"3DFX", 8, 4}},
      {"3Dfx Voodoo 3", {"3DFX", 8, 1}},  // the Voodoo3 rule reads the cleaned name
      {"3Dfx Voodoo Graphics", {"3DFX", 8, 1}},
  });
}

TEST(GpuClassify, Stage7S3AndVia) {
  ExpectEach({
      {"VIA ", "K8M800 K8N800 KN400 KM400 PM880 PM800", "", {"S3", 7, 5}},
      {"VIA ", "P4M266 PN266T PLE133T PN133 KM266 KN266 CLE266", "", {"S3", 7, 3}},
  });
  ExpectAll({
      {"S3 Graphics DeltaChrome S8", {"S3", 7, 6}},
      {"S3 Savage 2000", {"S3", 7, 4}},
      {"Savage 2000", {"S3", 7, 4}},  // no vendor key: stage 7 from V = 0
      {"VIA CN400 Chrome", {"S3", 7, 4}},
      {"S3 Savage4", {"S3", 7, 3}},
      {"S3 Savage/MX", {"S3", 7, 3}},
      {"S3 Savage3D", {"S3", 7, 2}},
      {"VIA Chrome9", {"S3", 7, 2}},
      {"S3 ViRGE/DX", {"S3", 7, 1}},
      {"S3 Trio64V+", {"S3", 7, 0}},  // no rule and no fallback class
  });
}

TEST(GpuClassify, Stage8Sis) {
  ExpectEach({
      {"SiS ", "315 760 741 740", "", {"SIS", 4, 4}},
      {"SiS ", "630 650 651 661 300 305", "", {"SIS", 4, 3}},
  });
  ExpectAll({
      {"SiS Xabre 400", {"SIS", 4, 6}},
      {"SiS 6326", {"SIS", 4, 2}},
      {"SiS 530", {"SIS", 4, 0}},
  });
}

TEST(GpuClassify, Stages9To11XgiPowerVr3Dlabs) {
  ExpectAll({
      {"XGI Volari V8 Duo", {"XGI", 6, 7}},
      {"XGI Volari V5", {"XGI", 6, 6}},
      {"XGI Volari V6", {"XGI", 6, 6}},
      {"XGI Volari Z7", {"XGI", 6, 5}},
      {"Volari V3XT", {"XGI", 6, 5}},  // from V = 0
      {"PowerVR KYRO II", {"POWERVR", 3, 5}},
      {"PowerVR Kyro", {"POWERVR", 3, 3}},
      {"PowerVR PCX2", {"POWERVR", 3, 2}},
      {"Hercules 3D Prophet KYRO", {"POWERVR", 3, 3}},
      {"3Dlabs Wildcat VP", {"3DLABS", 10, 10}},
      {"3Dlabs Permedia 3", {"3DLABS", 10, 4}},
      {"3Dlabs Permedia2", {"3DLABS", 10, 3}},
      {"3Dlabs Permedia", {"3DLABS", 10, 2}},
      {"3Dlabs Oxygen GVX1", {"3DLABS", 10, 1}},
      {"Oxygen VX1", {"3DLABS", 10, 1}},
      {"3Dlabs GLINT", {"3DLABS", 10, 0}},
  });
}

TEST(GpuClassify, Stages12To14CirrusTridentBoardMakers) {
  ExpectEach({
      {"Trident ", "9980 9970", "", {"TRIDENT", 12, 4}},
      {"Trident ", "9750 9685", "", {"TRIDENT", 12, 1}},
      {"", "ELSA ASUS Leadtek", " Graphics Adapter", {"UNKNOW", 0, 3}},
  });
  ExpectAll({
      {"Cirrus Logic 5446", {"CIRRUS", 11, 1}},
      {"Trident CyberBlade XP", {"TRIDENT", 12, 4}},
      {"Trident Blade T64", {"TRIDENT", 12, 4}},
      {"Trident 9880", {"TRIDENT", 12, 3}},
      {"Trident Blade3D", {"TRIDENT", 12, 3}},
      {"Trident 9850", {"TRIDENT", 12, 2}},
      {"Trident TGUI", {"TRIDENT", 12, 0}},
      // "creative" holds "ati", so a Creative board is an ATI name before the board makers' stage.
      {"Creative 3D Blaster", {"ATI", 1, 0}},
  });
}

TEST(GpuClassify, NameBufferEdges) {
  int vendor = 77;
  EXPECT_EQ(GetGpuVendorModel(nullptr, &vendor), 0);
  EXPECT_EQ(vendor, 77);

  // A name far longer than the compact buffer: the key past its end is not seen in the compact
  // name, and nothing is written beyond it.
  std::string long_name = "3Dlabs " + std::string(600, 'a') + " Permedia2";
  std::string buffer = long_name;
  EXPECT_EQ(GetGpuVendorModel(&buffer[0], &vendor), 0);
  EXPECT_STREQ(buffer.c_str(), "3DLABS");
  EXPECT_EQ(vendor, 10);
}

}  // namespace
