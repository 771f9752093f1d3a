#include "client/send_pacing.h"

#include <gtest/gtest.h>

namespace {

// Sends 1200-byte datagrams for `seconds` of simulated time, waking in 15.6 ms ticks as Windows'
// Sleep does, and returns the bytes sent.
uint64_t SimulateTicks(SendPacing& pacing, uint64_t& now_us, double seconds) {
  const uint64_t end = now_us + uint64_t(seconds * 1e6);
  uint64_t sent = 0;
  while (now_us < end) {
    if (PacingWaitMicroseconds(pacing, now_us, 1200) == 0) {
      PacingSpend(pacing, 1200);
      sent += 1200;
    } else {
      now_us += 15600;
    }
  }
  return sent;
}

TEST(SendPacing, HoldsTheRateWithCoarseSleeps) {
  for (uint64_t rate : {16u * 1024u, 128u * 1024u, 1024u * 1024u}) {
    uint64_t now = 5000000;
    SendPacing pacing = StartPacing(rate, now);
    const uint64_t sent = SimulateTicks(pacing, now, 10.0);
    EXPECT_NEAR(double(sent), double(rate) * 10.0, double(pacing.burst_bytes) + 1200.0) << rate;
  }
}

TEST(SendPacing, CreditIsCappedAfterAPause) {
  uint64_t now = 0;
  SendPacing pacing = StartPacing(128 * 1024, now);
  EXPECT_EQ(pacing.burst_bytes, 128u * 1024u * 20u / 1000u + 1200u);
  int at_once = 0;
  now += 60000000;  // a minute in the message box
  while (PacingWaitMicroseconds(pacing, now, 1200) == 0) {
    PacingSpend(pacing, 1200);
    ++at_once;
  }
  EXPECT_EQ(at_once, int(pacing.burst_bytes / 1200)) << "a pause does not earn a flood";
  const uint64_t wait = PacingWaitMicroseconds(pacing, now, 1200);
  EXPECT_GT(wait, 0u);
  EXPECT_LE(wait, 1200u * 1000000u / (128u * 1024u) + 1);
  EXPECT_EQ(PacingWaitMicroseconds(pacing, now + wait - 1, 1200), 1u);
  EXPECT_EQ(PacingWaitMicroseconds(pacing, now + wait, 1200), 0u);
}

TEST(SendPacing, SlowRatesStillAllowTwoDatagramsAtOnce) {
  SendPacing pacing = StartPacing(16 * 1024, 0);
  EXPECT_EQ(pacing.burst_bytes, 2400u);
}

}  // namespace
