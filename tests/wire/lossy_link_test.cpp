#include "lossy_link.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using Datagram = LossyLink::Datagram;

Datagram Numbered(uint32_t i) { return Datagram{uint8_t(i >> 24), uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)}; }
uint32_t NumberOf(const Datagram& d) { return uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | d[3]; }

std::vector<Datagram> PassThrough(const LossyLinkOptions& options, uint32_t count, LossyLinkCounts* counts = nullptr) {
  LossyLink link(options);
  std::vector<Datagram> out;
  for (uint32_t i = 0; i < count; ++i) link.Push(Numbered(i), &out);
  link.Drain(&out);
  if (counts) *counts = link.counts();
  return out;
}

TEST(LossyLink, AClearLinkForwardsEverythingInOrder) {
  const std::vector<Datagram> out = PassThrough(LossyLinkOptions{}, 1000);
  ASSERT_EQ(out.size(), 1000u);
  for (uint32_t i = 0; i < 1000; ++i) EXPECT_EQ(NumberOf(out[i]), i);
}

TEST(LossyLink, SharesOfLossesRepeatsAndHoldsMatchTheOptions) {
  LossyLinkOptions options;
  options.drop = 0.05;
  options.duplicate = 0.01;
  options.reorder = 0.05;
  options.seed = 3;
  LossyLinkCounts counts;
  const std::vector<Datagram> out = PassThrough(options, 200000, &counts);
  EXPECT_NEAR(double(counts.dropped) / 200000, 0.05, 0.003);
  EXPECT_NEAR(double(counts.duplicated) / 200000, 0.01 * 0.95, 0.002);
  EXPECT_NEAR(double(counts.reordered) / 200000, 0.05 * 0.96, 0.003);
  EXPECT_EQ(counts.forwarded, counts.received - counts.dropped + counts.duplicated) << "nothing held is lost";
  EXPECT_EQ(out.size(), counts.forwarded);
  std::map<uint32_t, int> copies;
  int out_of_order = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    ++copies[NumberOf(out[i])];
    if (i > 0 && NumberOf(out[i]) < NumberOf(out[i - 1])) ++out_of_order;
  }
  EXPECT_GT(out_of_order, 5000);
  for (const auto& [number, n] : copies) EXPECT_LE(n, 2) << number;
  // The same seed, the same run.
  EXPECT_EQ(PassThrough(options, 20000), PassThrough(options, 20000));
  options.seed = 4;
  EXPECT_NE(PassThrough(options, 20000), PassThrough(LossyLinkOptions{0.05, 1.0, 0.01, 0.05, 64, 3}, 20000));
}

TEST(LossyLink, BurstsKeepTheShareButLengthenTheRuns) {
  LossyLinkOptions options;
  options.drop = 0.03;
  options.burst = 8;
  options.seed = 5;
  const std::vector<Datagram> out = PassThrough(options, 400000);
  // Runs of losses are the gaps between the numbers that came through.
  uint64_t lost = 0, runs = 0;
  uint32_t expected = 0;
  for (const Datagram& d : out) {
    const uint32_t n = NumberOf(d);
    if (n > expected) {
      lost += n - expected;
      ++runs;
    }
    expected = n + 1;
  }
  EXPECT_NEAR(double(lost) / 400000, 0.03, 0.004);
  EXPECT_NEAR(double(lost) / double(runs), 8.0, 0.8);
}

}  // namespace
