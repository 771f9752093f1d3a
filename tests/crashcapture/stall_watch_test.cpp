// The watchdog rule: time without progress ends the crash path; user windows do not count; the
// worker's CPU time counts, for a while.
#include <gtest/gtest.h>

#include "crashcapture/stall_watch.h"

TEST(StallWatch, StallsOnlyAfterTheLimitWithoutProgress) {
  StallWatch watch(1000);
  EXPECT_FALSE(watch.Stalled(5, 0, false, 100));
  EXPECT_FALSE(watch.Stalled(5, 0, false, 1099));
  EXPECT_TRUE(watch.Stalled(5, 0, false, 1100));
}

TEST(StallWatch, AnyChangeOfTheMarkRestartsTheClock) {
  StallWatch watch(1000);
  EXPECT_FALSE(watch.Stalled(1, 0, false, 0));
  EXPECT_FALSE(watch.Stalled(2, 0, false, 900));
  EXPECT_FALSE(watch.Stalled(2, 0, false, 1800));
  EXPECT_TRUE(watch.Stalled(2, 0, false, 1900));
}

TEST(StallWatch, TimeInFrontOfAUserWindowDoesNotCount) {
  StallWatch watch(1000);
  EXPECT_FALSE(watch.Stalled(7, 0, false, 0));
  EXPECT_FALSE(watch.Stalled(7, 0, true, 500));
  EXPECT_FALSE(watch.Stalled(7, 0, true, 60000));  // the user reads for a minute
  EXPECT_FALSE(watch.Stalled(7, 0, false, 60900));
  EXPECT_TRUE(watch.Stalled(7, 0, false, 61000));  // the clock runs again once the window is gone
}

TEST(StallWatch, TheMillisecondClockMayWrap) {
  StallWatch watch(1000);
  EXPECT_FALSE(watch.Stalled(3, 0, false, 0xFFFFFF00u));
  EXPECT_FALSE(watch.Stalled(3, 0, false, 0x00000100u));  // 512 ms later
  EXPECT_TRUE(watch.Stalled(3, 0, false, 0x000002E8u));   // 1000 ms later
}

TEST(StallWatch, TheWorkersCpuTimeKeepsASilentStepAlive) {
  // A dump writer that computes for 25 s before its first mark: its CPU time grows all along.
  StallWatch watch(1000, 60000);
  EXPECT_FALSE(watch.Stalled(4, 100, false, 0));
  for (uint32_t t = 500; t <= 25000; t += 500) {
    EXPECT_FALSE(watch.Stalled(4, 100 + t, false, t)) << t;
  }
  EXPECT_FALSE(watch.Stalled(5, 25100, false, 25500));  // the mark moves again
  // The CPU-only span starts again from that mark.
  EXPECT_FALSE(watch.Stalled(5, 80000, false, 85000));
  EXPECT_TRUE(watch.Stalled(5, 80001, false, 85500));
}

TEST(StallWatch, CpuTimeThatStopsGrowingIsAStallAfterTheUsualLimit) {
  StallWatch watch(1000, 60000);
  EXPECT_FALSE(watch.Stalled(4, 10, false, 0));
  EXPECT_FALSE(watch.Stalled(4, 20, false, 5000));  // still computing at 5 s
  EXPECT_FALSE(watch.Stalled(4, 20, false, 5999));  // then waiting on a lock
  EXPECT_TRUE(watch.Stalled(4, 20, false, 6000));
}

TEST(StallWatch, AWorkerSpinningForeverIsEndedAtTheCpuOnlyLimit) {
  StallWatch watch(1000, 60000);
  EXPECT_FALSE(watch.Stalled(9, 0, false, 0));
  uint32_t t = 0;
  while (t + 50 < 60000) {
    t += 50;
    ASSERT_FALSE(watch.Stalled(9, t, false, t)) << t;
  }
  EXPECT_TRUE(watch.Stalled(9, 60001, false, 60000));
}

TEST(StallWatch, AUserWindowRestartsTheCpuOnlySpan) {
  StallWatch watch(1000, 60000);
  EXPECT_FALSE(watch.Stalled(2, 0, false, 0));
  EXPECT_FALSE(watch.Stalled(2, 1, false, 50000));
  EXPECT_FALSE(watch.Stalled(2, 1, true, 55000));   // the dialog comes up
  EXPECT_FALSE(watch.Stalled(2, 2, false, 100000)); // 45 s of CPU after it is gone
  EXPECT_TRUE(watch.Stalled(2, 3, false, 115000));
}
