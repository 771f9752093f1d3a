// The watchdog rule: time without progress ends the crash path; user windows do not count.
#include <gtest/gtest.h>

#include "crashcapture/stall_watch.h"

TEST(StallWatch, StallsOnlyAfterTheLimitWithoutProgress) {
  StallWatch watch(1000);
  EXPECT_FALSE(watch.Stalled(5, false, 100));
  EXPECT_FALSE(watch.Stalled(5, false, 1099));
  EXPECT_TRUE(watch.Stalled(5, false, 1100));
}

TEST(StallWatch, AnyChangeOfTheMarkRestartsTheClock) {
  StallWatch watch(1000);
  EXPECT_FALSE(watch.Stalled(1, false, 0));
  EXPECT_FALSE(watch.Stalled(2, false, 900));
  EXPECT_FALSE(watch.Stalled(2, false, 1800));
  EXPECT_TRUE(watch.Stalled(2, false, 1900));
}

TEST(StallWatch, TimeInFrontOfAUserWindowDoesNotCount) {
  StallWatch watch(1000);
  EXPECT_FALSE(watch.Stalled(7, false, 0));
  EXPECT_FALSE(watch.Stalled(7, true, 500));
  EXPECT_FALSE(watch.Stalled(7, true, 60000));  // the user reads for a minute
  EXPECT_FALSE(watch.Stalled(7, false, 60900));
  EXPECT_TRUE(watch.Stalled(7, false, 61000));  // the clock runs again once the window is gone
}

TEST(StallWatch, TheMillisecondClockMayWrap) {
  StallWatch watch(1000);
  EXPECT_FALSE(watch.Stalled(3, false, 0xFFFFFF00u));
  EXPECT_FALSE(watch.Stalled(3, false, 0x00000100u));  // 512 ms later
  EXPECT_TRUE(watch.Stalled(3, false, 0x000002E8u));   // 1000 ms later
}
