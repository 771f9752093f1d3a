// What the dump flags put into a dump: minidump type, screenshot quality, user streams.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "crashcapture/dump_contents.h"

struct TypeCase {
  const char* letters;
  uint32_t flags;
  uint32_t type;
  int quality;
};

class DumpFlagsTable : public ::testing::TestWithParam<TypeCase> {};

TEST_P(DumpFlagsTable, ChoosesTypeAndScreenshot) {
  const TypeCase& c = GetParam();
  EXPECT_EQ(MinidumpTypeFor(c.flags), c.type) << c.letters;
  EXPECT_EQ(ScreenshotQualityFor(c.flags), c.quality) << c.letters;
}

INSTANTIATE_TEST_SUITE_P(
    Letters, DumpFlagsTable,
    ::testing::Values(TypeCase{"S", kDumpFilterMemory, kMiniDumpFilterMemory, 0},
                      TypeCase{"N", kDumpNormal, kMiniDumpNormal, 0},
                      TypeCase{"SN", kDumpFilterMemory | kDumpNormal, kMiniDumpFilterMemory, 0},
                      TypeCase{"none", 0, kMiniDumpWithFullMemory, 0},
                      TypeCase{"S A E (default)", 0x00010101, kMiniDumpFilterMemory, 0},
                      TypeCase{"F A B", kDumpF | kDumpA | kDumpB, kMiniDumpWithFullMemory, 0},
                      TypeCase{"H", kDumpShotHigh, kMiniDumpWithFullMemory, 75},
                      TypeCase{"M", kDumpShotMedium, kMiniDumpWithFullMemory, 40},
                      TypeCase{"L", kDumpShotLow, kMiniDumpWithFullMemory, 15},
                      TypeCase{"HL", kDumpShotHigh | kDumpShotLow, kMiniDumpWithFullMemory, 75},
                      TypeCase{"ML", kDumpShotMedium | kDumpShotLow, kMiniDumpWithFullMemory, 40}));

namespace {

UserInfo Texts(const char* a, const char* b, const char* c) {
  UserInfo info;
  memset(&info, 0, sizeof info);
  strcpy(info.text1, a);
  strcpy(info.text2, b);
  strcpy(info.text3, c);
  return info;
}

std::string StreamText(const UserStream& s) { return std::string(static_cast<const char*>(s.data), s.size); }

}  // namespace

TEST(UserStreams, NoOptionalBitsGiveNoStreams) {
  UserInfo info = Texts("a", "b", "c");
  UserStreamList list;
  for (uint32_t flags : {0u, uint32_t(kDumpFilterMemory), uint32_t(kDumpNormal)}) {
    BuildUserStreams(flags, "last line", "jpeg", 4, &info, &list);
    EXPECT_EQ(list.count, 0u) << flags;
  }
}

TEST(UserStreams, ExtraInfoOnlyWhenTheLastMessageHasText) {
  UserStreamList list;
  BuildUserStreams(kDumpExtraInfo, "", nullptr, 0, nullptr, &list);
  EXPECT_EQ(list.count, 0u);
  BuildUserStreams(kDumpExtraInfo, "[Velmor]line\n", nullptr, 0, nullptr, &list);
  ASSERT_EQ(list.count, 1u);
  EXPECT_EQ(list.streams[0].type, kStreamExtraInfo);
  EXPECT_EQ(StreamText(list.streams[0]), "[Velmor]line\n");  // no terminating zero
}

TEST(UserStreams, AnUnterminatedLastMessageIsCutAtItsBuffer) {
  char last[kLastMessageSize];
  memset(last, 'x', sizeof last);
  UserStreamList list;
  BuildUserStreams(kDumpExtraInfo, last, nullptr, 0, nullptr, &list);
  ASSERT_EQ(list.count, 1u);
  EXPECT_EQ(list.streams[0].size, uint32_t(kLastMessageSize));
}

TEST(UserStreams, ScreenshotOnlyWhenAskedForAndCaptured) {
  UserStreamList list;
  BuildUserStreams(kDumpShotLow, "", "jpegbytes", 9, nullptr, &list);
  ASSERT_EQ(list.count, 1u);
  EXPECT_EQ(list.streams[0].type, kStreamScreenshot);
  EXPECT_EQ(list.streams[0].size, 9u);
  BuildUserStreams(kDumpShotLow, "", nullptr, 0, nullptr, &list);  // the capture failed
  EXPECT_EQ(list.count, 0u);
  BuildUserStreams(kDumpExtraInfo, "", "jpegbytes", 9, nullptr, &list);  // not asked for
  EXPECT_EQ(list.count, 0u);
}

TEST(UserStreams, Texts1And3WithoutText2AndABlankFieldGivesAnEmptyStream) {
  UserInfo info = Texts("first", "second", "");
  UserStreamList list;
  BuildUserStreams(kDumpUserText1 | kDumpUserText3, "", nullptr, 0, &info, &list);
  ASSERT_EQ(list.count, 2u);
  EXPECT_EQ(list.streams[0].type, kStreamUserInfo1);
  EXPECT_EQ(StreamText(list.streams[0]), "first");
  EXPECT_EQ(list.streams[1].type, kStreamUserInfo3);
  EXPECT_EQ(list.streams[1].size, 0u);
}

TEST(UserStreams, AllFiveInTheirFixedOrder) {
  UserInfo info = Texts("one", "two", "three");
  UserStreamList list;
  uint32_t all = kDumpExtraInfo | kDumpShotMedium | kDumpUserText1 | kDumpUserText2 | kDumpUserText3;
  BuildUserStreams(all, "msg", "jpg", 3, &info, &list);
  ASSERT_EQ(list.count, 5u);
  const uint32_t order[] = {kStreamExtraInfo, kStreamScreenshot, kStreamUserInfo1, kStreamUserInfo2,
                            kStreamUserInfo3};
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(list.streams[i].type, order[i]) << i;
  EXPECT_EQ(StreamText(list.streams[4]), "three");
}
