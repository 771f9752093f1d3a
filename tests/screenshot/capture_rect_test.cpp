#include <gtest/gtest.h>

#include <climits>

#include "crashcapture/capture_rect.h"

namespace {

struct RectCase {
  const char* name;
  int x, y, width, height;
  bool captures;
  CaptureRect expected;
};

constexpr int kScreenWidth = 1366;
constexpr int kScreenHeight = 768;

class CaptureRectTest : public ::testing::TestWithParam<RectCase> {};

TEST_P(CaptureRectTest, ClipsToTheScreen) {
  const RectCase& c = GetParam();
  CaptureRect rect = {-1, -1, -1, -1};
  EXPECT_EQ(ComputeCaptureRect(kScreenWidth, kScreenHeight, c.x, c.y, c.width, c.height, &rect), c.captures);
  if (c.captures) {
    EXPECT_EQ(rect.left, c.expected.left);
    EXPECT_EQ(rect.top, c.expected.top);
    EXPECT_EQ(rect.width, c.expected.width);
    EXPECT_EQ(rect.height, c.expected.height);
  } else {
    EXPECT_EQ(rect.left, -1) << "nothing is written when nothing is captured";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CaptureRectTest,
    ::testing::Values(
        RectCase{"whole_screen", 0, 0, -1, -1, true, {0, 0, 1366, 768}},
        RectCase{"from_column_100_to_the_edge", 100, 0, -1, -1, true, {100, 0, 1266, 768}},
        RectCase{"left_of_the_screen", -10, 0, 100, -1, true, {0, 0, 90, 768}},
        RectCase{"above_the_screen", 0, -10, -1, 100, true, {0, 0, 1366, 90}},
        RectCase{"inside", 200, 300, 40, 30, true, {200, 300, 40, 30}},
        RectCase{"past_the_right_edge", 1300, 700, 500, 500, true, {1300, 700, 66, 68}},
        RectCase{"last_pixel", 1365, 767, -1, -1, true, {1365, 767, 1, 1}},
        RectCase{"at_the_right_edge", 1366, 0, -1, -1, false, {}},
        RectCase{"beyond_the_right_edge", 5000, 0, 10, 10, false, {}},
        RectCase{"at_the_bottom_edge", 0, 768, -1, -1, false, {}},
        RectCase{"ends_left_of_the_screen", -200, 0, 100, -1, false, {}},
        RectCase{"ends_at_the_left_edge", -100, 0, 100, -1, false, {}},
        RectCase{"zero_width", 10, 10, 0, 10, false, {}},
        RectCase{"zero_height", 10, 10, 10, 0, false, {}},
        // A negative width means the screen's width, counted from x (before x is clamped to 0).
        RectCase{"negative_x_full_width", -100, 0, -1, -1, true, {0, 0, 1266, 768}},
        // x + width past INT_MAX must still reach the edge, not wrap to nothing.
        RectCase{"huge_width", 100, 0, INT_MAX, -1, true, {100, 0, 1266, 768}},
        RectCase{"huge_corner", INT_MAX, INT_MAX, INT_MAX, INT_MAX, false, {}},
        RectCase{"lowest_corner", INT_MIN, INT_MIN, INT_MAX, INT_MAX, false, {}}),
    [](const ::testing::TestParamInfo<RectCase>& info) { return std::string(info.param.name); });

TEST(CaptureRect, NoScreenNoCapture) {
  CaptureRect rect;
  EXPECT_FALSE(ComputeCaptureRect(0, 0, 0, 0, -1, -1, &rect));
  EXPECT_FALSE(ComputeCaptureRect(1366, 0, 0, 0, -1, -1, &rect));
  EXPECT_FALSE(ComputeCaptureRect(-5, 768, 0, 0, 10, 10, &rect));
}

}  // namespace
