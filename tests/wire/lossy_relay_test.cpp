// The lossy relay program over loopback UDP, and whole packages sent through it to the
// collector's reassembly.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "client/package_part_encoder.h"
#include "package_datagrams.h"
#include "reassembler.h"
#include "relay_process.h"
#include "udp_address.h"

namespace {

const DatagramIdentity kWho{"0123456789ABCDEF", 1, 2, 3};

class UdpEnds : public ::testing::Test {
 protected:
  void SetUp() override {
    in_ = socket(AF_INET, SOCK_DGRAM, 0);
    out_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    ASSERT_TRUE(ParseUdpAddress("127.0.0.1:0", &any));
    ASSERT_EQ(bind(in_, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    GrowSocketBuffer(in_, SO_RCVBUF, 8 << 20);
  }
  void TearDown() override {
    close(in_);
    close(out_);
  }

  void SendTo(int port, const std::vector<uint8_t>& d) {
    sockaddr_in to{};
    ParseUdpAddress("127.0.0.1:" + std::to_string(port), &to);
    sendto(out_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  // Everything that arrives until `quiet_ms` pass without a datagram.
  std::vector<std::vector<uint8_t>> ReceiveUntilQuiet(int quiet_ms) {
    std::vector<std::vector<uint8_t>> got;
    uint8_t buffer[2048];
    pollfd p{in_, POLLIN, 0};
    while (poll(&p, 1, quiet_ms) > 0) {
      const ssize_t n = recv(in_, buffer, sizeof buffer, 0);
      if (n > 0) got.emplace_back(buffer, buffer + n);
    }
    return got;
  }

  // Sends the datagrams through the relay a few at a time, so loopback buffers never overflow.
  std::vector<std::vector<uint8_t>> Relay(RelayProcess& relay, const std::vector<std::vector<uint8_t>>& datagrams) {
    std::vector<std::vector<uint8_t>> got;
    for (size_t i = 0; i < datagrams.size(); ++i) {
      SendTo(relay.port(), datagrams[i]);
      if (i % 256 == 255) usleep(2000);
    }
    return ReceiveUntilQuiet(300);
  }

  int in_ = -1;
  int out_ = -1;
};

TEST_F(UdpEnds, AClearRelayForwardsEveryDatagramAsItCame) {
  RelayProcess relay(VX_LOSSY_RELAY, {"--idle-exit", "30"}, BoundPort(in_));
  ASSERT_GT(relay.port(), 0);
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < 200; ++i) sent.push_back(std::vector<uint8_t>(1 + i * 5, uint8_t(i)));
  for (const auto& d : sent) SendTo(relay.port(), d);
  EXPECT_EQ(ReceiveUntilQuiet(300), sent);
  const std::string counts = relay.Stop();
  EXPECT_EQ(RelayCount(counts, "received"), 200u) << counts;
  EXPECT_EQ(RelayCount(counts, "forwarded"), 200u) << counts;
  EXPECT_EQ(RelayCount(counts, "dropped"), 0u) << counts;
}

TEST_F(UdpEnds, PackagesThroughALossyRelayArriveWholeOrAreReportedMissing) {
  struct Case {
    const char* drop;
    size_t size;
    bool whole;
  } cases[] = {{"0.01", 1 << 20, true}, {"0.03", 100 * 1024, true}, {"0.3", 100 * 1024, false}};
  uint32_t crash_id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drop);
    RelayProcess relay(VX_LOSSY_RELAY,
                       {"--drop", c.drop, "--duplicate", "0.01", "--reorder", "0.05", "--seed", "7", "--idle-exit", "30"},
                       BoundPort(in_));
    ASSERT_GT(relay.port(), 0);
    const std::vector<uint8_t> package = RandomPackage(c.size, ++crash_id);
    const auto datagrams = EncodePackageParts(package, kPackagePartParams, kWho, crash_id);
    const auto arrived = Relay(relay, datagrams);
    const std::string counts = relay.Stop();
    EXPECT_EQ(RelayCount(counts, "received"), datagrams.size()) << "loopback lost nothing before the relay";
    EXPECT_GT(RelayCount(counts, "dropped"), 0u);
    EXPECT_EQ(arrived.size(), RelayCount(counts, "forwarded"));
    reassembly::Reassembler reassembler;
    std::vector<reassembly::PackageEvent> events;
    uint64_t now = 0;
    for (const auto& d : arrived) {
      auto result = reassembler.Accept(d.data(), d.size(), ++now);
      for (auto& e : result.packages) events.push_back(std::move(e));
    }
    for (auto& e : reassembler.Expire(now + 30000)) events.push_back(std::move(e));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].whole, c.whole) << events[0].reason;
    if (c.whole) {
      EXPECT_TRUE(events[0].package == package);
    } else {
      EXPECT_TRUE(events[0].package.empty());
      EXPECT_FALSE(events[0].missing.short_blocks.empty());
      EXPECT_GT(events[0].missing.missing_byte_count, 0u);
    }
  }
}

}  // namespace
