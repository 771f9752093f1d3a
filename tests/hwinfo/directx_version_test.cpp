#include "hwinfo/directx_version.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "hwinfo/file_version.h"

namespace {

constexpr char kDir[] = "C:\\WINDOWS\\system32";

std::map<std::string, uint64_t> g_files;  // full path -> version
std::map<std::string, int> g_reads;

int32_t ReadFake(const char* path, FileVersion* out) {
  ++g_reads[path];
  auto it = g_files.find(path);
  if (it == g_files.end()) return int32_t(0x80004005);  // E_FAIL
  *out = SplitFileVersion(it->second);
  return 0;
}

uint64_t V(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return MakeFileVersion(a, b, c, d); }

struct File {
  const char* name;
  uint64_t version;
};

struct Case {
  const char* what;
  File files[2];
  int level;
};

int LevelOf(const Case& c) {
  g_files.clear();
  g_reads.clear();
  for (const File& f : c.files) {
    if (f.name != nullptr) g_files[std::string(kDir) + "\\" + f.name] = f.version;
  }
  return DirectXVersionFrom(kDir, ReadFake);
}

TEST(DirectXVersion, StepsAndBoundaries) {
  const Case cases[] = {
      {"nothing", {}, 0},
      {"d3d9 any version", {{"d3d9.dll", V(0, 0, 0, 0)}}, 90000},
      {"d3d9 first", {{"d3d9.dll", V(1, 2, 3, 4)}, {"ddraw.dll", V(4, 2, 0, 95)}}, 90000},
      {"dpnet 5 at", {{"dpnet.dll", V(5, 2, 3677, 134)}}, 80200},
      {"dpnet 5 below", {{"dpnet.dll", V(5, 2, 3677, 133)}}, 0},
      {"dpnet below, search goes on", {{"dpnet.dll", V(5, 2, 3677, 133)}, {"ddraw.dll", V(4, 7, 0, 700)}}, 70000},
      {"dpnet 4 at", {{"dpnet.dll", V(4, 9, 0, 134)}}, 80200},
      {"dpnet 4 below", {{"dpnet.dll", V(4, 9, 0, 133)}}, 0},
      {"dpnet 4 above", {{"dpnet.dll", V(4, 10, 0, 0)}}, 80200},
      {"dpnet 5 below 5 threshold but above 4's", {{"dpnet.dll", V(5, 1, 9999, 9999)}}, 0},
      {"dpnet major 6", {{"dpnet.dll", V(6, 0, 0, 0)}}, 0},
      {"mpg2splt at", {{"mpg2splt.ax", V(6, 3, 1, 885)}}, 80102},
      {"mpg2splt below", {{"mpg2splt.ax", V(6, 3, 1, 884)}}, 0},
      {"mpg2splt any major", {{"mpg2splt.ax", V(7, 0, 0, 0)}}, 80102},
      {"mpg2splt top bit", {{"mpg2splt.ax", V(0x8000, 0, 0, 0)}}, 80102},
      {"d3d8 4 at 901", {{"d3d8.dll", V(4, 8, 1, 901)}}, 80101},
      {"d3d8 4 between", {{"d3d8.dll", V(4, 8, 1, 890)}}, 80100},
      {"d3d8 4 at 881", {{"d3d8.dll", V(4, 8, 1, 881)}}, 80100},
      {"d3d8 4 below", {{"d3d8.dll", V(4, 8, 1, 880)}}, 0},
      {"d3d8 5 at 901", {{"d3d8.dll", V(5, 1, 2600, 901)}}, 80101},
      {"d3d8 5 at 881", {{"d3d8.dll", V(5, 1, 2600, 881)}}, 80100},
      {"d3d8 5 below", {{"d3d8.dll", V(5, 1, 2600, 880)}}, 0},
      {"d3d8 major 6", {{"d3d8.dll", V(6, 0, 0, 0)}}, 0},
      {"ddraw 4 at 8.0", {{"ddraw.dll", V(4, 8, 0, 400)}}, 80000},
      {"ddraw 5 at 8.0", {{"ddraw.dll", V(5, 1, 2258, 400)}}, 80000},
      // Fails the 8.0 step (5.x below its threshold) and then passes the unqualified 7.0 test.
      {"ddraw 5 below 8.0", {{"ddraw.dll", V(5, 1, 2258, 399)}}, 70000},
      {"ddraw major 6", {{"ddraw.dll", V(6, 0, 0, 0)}}, 70000},
      {"dinput at", {{"dinput.dll", V(4, 7, 0, 716)}}, 70001},
      {"dinput below", {{"dinput.dll", V(4, 7, 0, 715)}}, 0},
      {"ddraw at 7.0", {{"ddraw.dll", V(4, 7, 0, 700)}}, 70000},
      {"ddraw below 7.0", {{"ddraw.dll", V(4, 7, 0, 699)}}, 60100},
      {"dplayx at", {{"dplayx.dll", V(4, 6, 3, 518)}}, 60101},
      {"dplayx below", {{"dplayx.dll", V(4, 6, 3, 517)}}, 0},
      {"ddraw at 6.1", {{"ddraw.dll", V(4, 6, 0, 436)}}, 60100},
      {"ddraw below 6.1", {{"ddraw.dll", V(4, 6, 0, 435)}}, 60000},
      {"ddraw at 6.0", {{"ddraw.dll", V(4, 6, 0, 318)}}, 60000},
      {"ddraw below 6.0", {{"ddraw.dll", V(4, 6, 0, 317)}}, 50000},
      {"ddraw at 5.0", {{"ddraw.dll", V(4, 5, 0, 155)}}, 50000},
      {"ddraw below 5.0", {{"ddraw.dll", V(4, 5, 0, 154)}}, 30000},
      {"d3drg8x at", {{"d3drg8x.dll", V(4, 4, 0, 70)}}, 30000},
      {"d3drg8x below", {{"d3drg8x.dll", V(4, 4, 0, 69)}}, 0},
      {"ddraw 4.4.0.69 without d3drg8x", {{"ddraw.dll", V(4, 4, 0, 69)}}, 30000},
      {"ddraw at 3.0", {{"ddraw.dll", V(4, 4, 0, 68)}}, 30000},
      {"ddraw below 3.0", {{"ddraw.dll", V(4, 4, 0, 67)}}, 20000},
      {"ddraw at 2.0", {{"ddraw.dll", V(4, 3, 0, 1096)}}, 20000},
      {"ddraw below 2.0", {{"ddraw.dll", V(4, 3, 0, 1095)}}, 10000},
      {"ddraw at 1.0", {{"ddraw.dll", V(4, 2, 0, 95)}}, 10000},
      {"ddraw below 1.0", {{"ddraw.dll", V(4, 2, 0, 94)}}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(LevelOf(c), c.level) << c.what;
}

TEST(DirectXVersion, ReadsEachStepsFileAgain) {
  const Case old_ddraw = {"old ddraw", {{"ddraw.dll", V(4, 2, 0, 94)}}, 0};
  EXPECT_EQ(LevelOf(old_ddraw), 0);
  // Steps 6, 8, 10 and 12 each read ddraw.dll; every other file is read once.
  EXPECT_EQ(g_reads[std::string(kDir) + "\\ddraw.dll"], 4);
  EXPECT_EQ(g_reads.size(), 8u);
  for (const char* name : {"d3d9.dll", "dpnet.dll", "mpg2splt.ax", "d3d8.dll", "dinput.dll", "dplayx.dll",
                           "d3drg8x.dll"}) {
    EXPECT_EQ(g_reads[std::string(kDir) + "\\" + name], 1) << name;
  }
}

TEST(DirectXVersion, NoUsableDirectory) {
  g_reads.clear();
  EXPECT_EQ(DirectXVersionFrom(nullptr, ReadFake), 0);
  EXPECT_TRUE(g_reads.empty());

  // A directory too long for the path buffer names no file; nothing is read.
  const std::string long_dir(300, 'd');
  g_files[long_dir + "\\d3d9.dll"] = V(9, 0, 0, 0);
  EXPECT_EQ(DirectXVersionFrom(long_dir.c_str(), ReadFake), 0);
  EXPECT_TRUE(g_reads.empty());
}

TEST(FileVersion, MakeTakesEachComponentModulo65536) {
  EXPECT_EQ(MakeFileVersion(1, 2, 3, 4), 0x0001000200030004ull);
  EXPECT_EQ(MakeFileVersion(0x12345, 0x1FFFF, 0x10000, 0xFFFF), 0x2345FFFF0000FFFFull);
  const FileVersion v = SplitFileVersion(MakeFileVersion(5, 2, 3677, 134));
  EXPECT_EQ(v.ms, 0x00050002u);
  EXPECT_EQ(v.ls, (3677u << 16) | 134u);
  EXPECT_EQ(MajorOf(v), 5u);
}

TEST(FileVersion, CompareIsUnsignedMostSignificantHalfFirst) {
  struct Case {
    uint64_t a;
    uint64_t b;
    int result;
  } cases[] = {
      {V(1, 2, 3, 4), V(1, 2, 3, 4), 0},
      {V(1, 2, 3, 5), V(1, 2, 3, 4), 1},
      {V(1, 2, 3, 4), V(1, 2, 3, 5), -1},
      {V(1, 1, 0, 0), V(1, 0, 0xFFFF, 0xFFFF), 1},  // the most significant half decides first
      {V(0x8000, 0, 0, 0), V(0x7FFF, 0xFFFF, 0xFFFF, 0xFFFF), 1},
      {V(1, 0, 0x8000, 0), V(1, 0, 0x7FFF, 0xFFFF), 1},
      {V(0, 0, 0, 0), V(0xFFFF, 0, 0, 0), -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareFileVersion(SplitFileVersion(c.a), SplitFileVersion(c.b)), c.result) << std::hex << c.a;
  }
}

}  // namespace
