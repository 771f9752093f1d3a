// The whole dump package through a lossy network: packages encoded by the library's own encoder
// are sent, paced, through the lossy relay (lossy_relay.cpp) to the collector's reassembly, and
// every trial counts as whole only when the package that comes out equals the one that went in.
// Side by side: the same datagrams without their repair symbols (a trial counts as whole there
// when every source symbol arrived), and today's one key-17 datagram, which carries at most
// 64512 bytes and so no package of these sizes.
//
//   wire_bench [--trials 100] [--sizes 102400,1048576,8388608] [--losses 0.01,0.03,0.05]
//              [--duplicate 0.01] [--reorder 0.05] [--burst 1] [--rate 40] [--stripe-blocks 8]
//              [--relay PATH]
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <optional>
#include <cstdio>
#include <string>
#include <vector>

#include "client/package_part_datagram.h"
#include "client/package_part_encoder.h"
#include "client/send_pacing.h"
#include "package_datagrams.h"
#include "reassembler.h"
#include "relay_process.h"
#include "udp_address.h"

namespace {

const char kMachineId[] = "0123456789ABCDEF";
constexpr int kSocketBufferBytes = 8 << 20;
// A trial ends this long after the last datagram came back: the relay lets held datagrams go
// after 5 ms of quiet.
constexpr uint64_t kTrialQuietUs = 100000;
// The goal: a 1 MiB package whole in at least 99 of 100 trials at 1% loss, at most 15% extra bytes.
constexpr size_t kGoalSize = 1 << 20;
constexpr double kGoalLoss = 0.01;
constexpr double kGoalWholeShare = 0.99;
constexpr double kGoalExtra = 0.15;

std::string DirectoryOfThisProgram() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string text(path, size_t(n));
  return text.substr(0, text.rfind('/'));
}

uint64_t NowUs() {
  return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}

struct BenchOptions {
  int trials = 100;
  std::vector<size_t> sizes = {102400, 1 << 20, 8 << 20};
  std::vector<double> losses = {0.01, 0.03, 0.05};
  double duplicate = 0.01;
  double reorder = 0.05;
  double burst = 1.0;
  double rate_mb = 40.0;  // megabytes per second: loopback, not a player's uplink
  std::string relay;
  FecParams params = kPackagePartParams;
};

struct Row {
  size_t size = 0;
  double loss = 0;
  int trials = 0;
  int whole = 0;
  int wrong = 0;  // came out "whole" but differing from what went in: must stay 0
  int whole_without_repair = 0;
  double extra = 0;  // bytes of part datagrams over the package's bytes, less one
  uint64_t sent = 0;
  uint64_t relay_received = 0;
  double encode_mb_per_s = 0;
  double collector_ms_per_package = 0;
};

class Receiver {
 public:
  Receiver() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    ParseUdpAddress("127.0.0.1:0", &address);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    GrowSocketBuffer(fd_, SO_RCVBUF, kSocketBufferBytes);
    fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~Receiver() { close(fd_); }
  int port() const { return BoundPort(fd_); }

  // Starts a trial of a package with this many source symbols.
  void Begin(reassembly::Reassembler* reassembler, uint32_t crash_id, uint32_t sources) {
    reassembler_ = reassembler;
    crash_id_ = crash_id;
    sources_seen_.assign(sources, false);
    sources_count_ = 0;
    event_.reset();
    last_us_ = NowUs();
  }

  // Waits up to timeout_us for datagrams and hands every one to the reassembler.
  void Poll(uint64_t timeout_us) {
    pollfd p{fd_, POLLIN, 0};
    const timespec timeout{time_t(timeout_us / 1000000), long(timeout_us % 1000000) * 1000};
    if (ppoll(&p, 1, &timeout, nullptr) > 0) Drain();
  }

  void Drain() {
    uint8_t buffer[2048];
    ssize_t n;
    while ((n = recv(fd_, buffer, sizeof buffer, 0)) > 0) {
      last_us_ = NowUs();
      DatagramHeaderView header;
      PackagePart part;
      if (DecodePackagePartDatagram(buffer, size_t(n), &header, &part) == nullptr && part.crash_id == crash_id_ &&
          !(part.symbol_id & kRepairSymbolFlag) && !sources_seen_[part.symbol_id]) {
        sources_seen_[part.symbol_id] = true;
        ++sources_count_;
      }
      const uint64_t start = NowUs();
      reassembly::AcceptResult result = reassembler_->Accept(buffer, size_t(n), last_us_ / 1000);
      collector_us_ += NowUs() - start;
      for (auto& event : result.packages) {
        if (event.crash_id == crash_id_) event_ = std::move(event);
      }
    }
  }

  // Waits until the package is reported or the relay has been quiet long enough; then gives it up.
  reassembly::PackageEvent Finish() {
    while (!event_ && NowUs() - last_us_ < kTrialQuietUs) Poll(kTrialQuietUs / 4);
    if (!event_) {
      for (auto& event : reassembler_->Expire(NowUs() / 1000 + reassembly::ReassemblyLimits().give_up_after_ms)) {
        if (event.crash_id == crash_id_) event_ = std::move(event);
      }
    }
    return event_ ? std::move(*event_) : reassembly::PackageEvent();
  }

  bool all_sources_arrived() const { return sources_count_ == sources_seen_.size(); }
  uint64_t collector_us() const { return collector_us_; }

 private:
  int fd_;
  reassembly::Reassembler* reassembler_ = nullptr;
  uint32_t crash_id_ = 0;
  std::vector<bool> sources_seen_;
  size_t sources_count_ = 0;
  std::optional<reassembly::PackageEvent> event_;
  uint64_t last_us_ = 0;
  uint64_t collector_us_ = 0;
};

Row RunRow(const BenchOptions& options, size_t size, double loss, uint64_t seed) {
  Row row;
  row.size = size;
  row.loss = loss;
  row.trials = options.trials;
  Receiver receiver;
  RelayProcess relay(options.relay,
                     {"--drop", std::to_string(loss), "--burst", std::to_string(options.burst), "--duplicate",
                      std::to_string(options.duplicate), "--reorder", std::to_string(options.reorder), "--seed",
                      std::to_string(seed), "--idle-exit", "60"},
                     receiver.port());
  if (relay.port() == 0) {
    std::fprintf(stderr, "wire_bench: the relay %s did not start\n", options.relay.c_str());
    std::exit(2);
  }
  const int out = socket(AF_INET, SOCK_DGRAM, 0);
  GrowSocketBuffer(out, SO_SNDBUF, kSocketBufferBytes);
  sockaddr_in to{};
  ParseUdpAddress("127.0.0.1:" + std::to_string(relay.port()), &to);
  reassembly::Reassembler reassembler;
  const DatagramIdentity who{kMachineId, 1, 2, 3};
  uint64_t encode_us = 0;
  for (int trial = 0; trial < options.trials; ++trial) {
    const uint32_t crash_id = uint32_t(trial + 1);
    const std::vector<uint8_t> package = RandomPackage(size, uint32_t(seed * 1000 + trial));
    const uint64_t encode_start = NowUs();
    const std::vector<std::vector<uint8_t>> datagrams = EncodePackageParts(package, options.params, who, crash_id);
    encode_us += NowUs() - encode_start;
    FecLayout layout;
    MakeFecLayout(options.params, uint32_t(size), &layout);
    receiver.Begin(&reassembler, crash_id, layout.symbol_count);
    SendPacing pacing = StartPacing(uint64_t(options.rate_mb * 1e6), NowUs());
    uint64_t bytes = 0;
    for (const auto& d : datagrams) {
      uint64_t wait;
      while ((wait = PacingWaitMicroseconds(pacing, NowUs(), uint32_t(d.size()))) > 0) receiver.Poll(wait);
      sendto(out, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      PacingSpend(pacing, uint32_t(d.size()));
      bytes += d.size();
      receiver.Drain();
    }
    row.sent += datagrams.size();
    row.extra = double(bytes) / double(size) - 1.0;
    const reassembly::PackageEvent event = receiver.Finish();
    if (event.whole && event.package == package) ++row.whole;
    if (event.whole && event.package != package) ++row.wrong;
    if (receiver.all_sources_arrived()) ++row.whole_without_repair;
  }
  close(out);
  row.relay_received = RelayCount(relay.Stop(), "received");
  row.encode_mb_per_s = double(size) * options.trials / double(encode_us);
  row.collector_ms_per_package = double(receiver.collector_us()) / 1000.0 / options.trials;
  return row;
}

std::string SizeText(size_t size) {
  char text[32];
  if (size >= (1 << 20) && size % (1 << 20) == 0) {
    std::snprintf(text, sizeof text, "%zu MiB", size >> 20);
  } else if (size % 1024 == 0) {
    std::snprintf(text, sizeof text, "%zu KiB", size >> 10);
  } else {
    std::snprintf(text, sizeof text, "%zu B", size);
  }
  return text;
}

std::string LossText(double burst) {
  if (burst <= 1.0) return "independent";
  char text[64];
  std::snprintf(text, sizeof text, "in runs of %.1f on average", burst);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  options.relay = DirectoryOfThisProgram() + "/lossy_relay";
  CLI::App app{"Whole dump packages through a lossy relay"};
  app.add_option("--trials", options.trials, "packages per size and loss")->check(CLI::PositiveNumber);
  app.add_option("--sizes", options.sizes, "package sizes in bytes")->delimiter(',');
  app.add_option("--losses", options.losses, "loss shares")->delimiter(',');
  app.add_option("--duplicate", options.duplicate, "share of datagrams the relay repeats");
  app.add_option("--reorder", options.reorder, "share of datagrams the relay holds back");
  app.add_option("--burst", options.burst, "mean length of a run of losses (1: independent)");
  app.add_option("--rate", options.rate_mb, "sending rate, megabytes per second");
  app.add_option("--relay", options.relay, "the lossy_relay program");
  int stripe_blocks = options.params.stripe_blocks;
  app.add_option("--stripe-blocks", stripe_blocks, "blocks a stripe (1: no interleaving)")
      ->check(CLI::Range(1, kMaxStripeBlocks));
  CLI11_PARSE(app, argc, argv);
  options.params.stripe_blocks = uint8_t(stripe_blocks);

  std::printf("Whole packages through the lossy relay: %u-byte symbols, blocks of %u sources + %u%% repairs, %u "
              "blocks a stripe; the relay repeats %.0f%% and holds back %.0f%%, losses %s\n",
              options.params.symbol_size, options.params.block_symbols, options.params.repair_percent,
              options.params.stripe_blocks, options.duplicate * 100, options.reorder * 100,
              LossText(options.burst).c_str());
  std::printf("%-8s %5s %7s %6s %6s %14s %12s %8s %10s %9s %12s\n", "package", "loss", "trials", "whole", "wrong",
              "without_repair", "key17_today", "extra", "datagrams", "relay_in", "collector_ms");
  int status = 0;
  std::vector<Row> rows;
  uint64_t seed = 1;
  for (size_t size : options.sizes) {
    for (double loss : options.losses) {
      const Row row = RunRow(options, size, loss, seed++);
      rows.push_back(row);
      // Today's one key-17 datagram is cut at 64512 bytes: no larger package arrives whole.
      const std::string today = size > size_t(kMaxBlobLength) ? "0" : "-";
      std::printf("%-8s %4.0f%% %7d %6d %6d %14d %12s %7.1f%% %10llu %9llu %12.2f\n", SizeText(size).c_str(),
                  loss * 100, row.trials, row.whole, row.wrong, row.whole_without_repair, today.c_str(),
                  row.extra * 100, (unsigned long long)row.sent, (unsigned long long)row.relay_received,
                  row.collector_ms_per_package);
      std::fflush(stdout);
      if (row.relay_received != row.sent) {
        std::printf("  note: the relay received %llu of %llu datagrams; the kernel dropped the rest on loopback\n",
                    (unsigned long long)row.relay_received, (unsigned long long)row.sent);
      }
      if (row.wrong > 0) status = 1;
    }
  }
  for (const Row& row : rows) {
    if (row.size == kGoalSize && row.loss == kGoalLoss) {
      const bool met = row.whole >= kGoalWholeShare * row.trials && row.extra <= kGoalExtra;
      std::printf("goal, 1 MiB at 1%% loss: whole in >= 99%% of trials with <= 15%% extra bytes: %d/%d whole, "
                  "%.1f%% extra: %s\n",
                  row.whole, row.trials, row.extra * 100, met ? "met" : "NOT met");
    }
  }
  for (size_t i = 0; i < rows.size(); i += options.losses.size()) {
    std::printf("encoder, %s packages: %.0f MB/s on one core\n", SizeText(rows[i].size).c_str(), rows[i].encode_mb_per_s);
  }
  return status;
}
