// The lossy relay: UDP in, UDP out, with random drops (independent or in bursts), repeats and
// reordering from a seed. Prints {"event":"listening","port":N} once bound and, when it ends
// (SIGTERM, SIGINT or --idle-exit), one line with its counts.
//
//   lossy_relay --forward 127.0.0.1:12345 [--listen 127.0.0.1:0] [--drop 0.01] [--burst 1]
//               [--duplicate 0.01] [--reorder 0.05] [--reorder-depth 64] [--seed 1] [--idle-exit S]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <string>

#include "lossy_link.h"
#include "udp_address.h"

namespace {

// Held-back datagrams go out once the input has been quiet this long, so that the end of a burst
// of traffic is not kept back forever.
constexpr int kDrainAfterMs = 5;
// Large buffers so that the relay itself, not the kernel, decides what is lost.
constexpr int kSocketBufferBytes = 8 << 20;

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void SendAll(int fd, const sockaddr_in& to, std::vector<LossyLink::Datagram>& out) {
  for (const auto& d : out) sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  out.clear();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"UDP relay that drops, repeats and reorders datagrams"};
  std::string listen_text = "127.0.0.1:0";
  std::string forward_text;
  LossyLinkOptions options;
  double idle_exit = 0;
  app.add_option("--listen", listen_text, "address to receive on");
  app.add_option("--forward", forward_text, "address to send to")->required();
  app.add_option("--drop", options.drop, "share of datagrams lost")->check(CLI::Range(0.0, 0.99));
  app.add_option("--burst", options.burst, "mean length of a run of losses")->check(CLI::Range(1.0, 1000.0));
  app.add_option("--duplicate", options.duplicate, "share of datagrams sent twice")->check(CLI::Range(0.0, 1.0));
  app.add_option("--reorder", options.reorder, "share of datagrams held back")->check(CLI::Range(0.0, 1.0));
  app.add_option("--reorder-depth", options.reorder_depth, "a held datagram waits for up to this many")
      ->check(CLI::Range(1, 100000));
  app.add_option("--seed", options.seed, "seed of the random choices");
  app.add_option("--idle-exit", idle_exit, "end after this many seconds without a datagram (0: never)");
  CLI11_PARSE(app, argc, argv);

  sockaddr_in listen_address{}, forward_address{};
  if (!ParseUdpAddress(listen_text, &listen_address) || !ParseUdpAddress(forward_text, &forward_address)) {
    std::fprintf(stderr, "lossy_relay: addresses are IPV4:PORT\n");
    return 2;
  }
  const int in = socket(AF_INET, SOCK_DGRAM, 0);
  const int out = socket(AF_INET, SOCK_DGRAM, 0);
  if (in < 0 || out < 0 || bind(in, reinterpret_cast<sockaddr*>(&listen_address), sizeof listen_address) != 0) {
    std::perror("lossy_relay");
    return 2;
  }
  GrowSocketBuffer(in, SO_RCVBUF, kSocketBufferBytes);
  GrowSocketBuffer(out, SO_SNDBUF, kSocketBufferBytes);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  std::printf("{\"event\":\"listening\",\"port\":%d}\n", BoundPort(in));
  std::fflush(stdout);

  LossyLink link(options);
  std::vector<LossyLink::Datagram> ready;
  std::vector<uint8_t> buffer(65536);
  int idle_ms = 0;
  while (!g_stop && (idle_exit <= 0 || idle_ms < idle_exit * 1000)) {
    pollfd p{in, POLLIN, 0};
    if (poll(&p, 1, kDrainAfterMs) <= 0) {
      idle_ms += kDrainAfterMs;
      link.Drain(&ready);
      SendAll(out, forward_address, ready);
      continue;
    }
    idle_ms = 0;
    const ssize_t n = recv(in, buffer.data(), buffer.size(), 0);
    if (n < 0) continue;
    link.Push(LossyLink::Datagram(buffer.begin(), buffer.begin() + n), &ready);
    SendAll(out, forward_address, ready);
  }
  link.Drain(&ready);
  SendAll(out, forward_address, ready);
  const LossyLinkCounts& c = link.counts();
  std::printf("{\"event\":\"counts\",\"received\":%llu,\"forwarded\":%llu,\"dropped\":%llu,\"duplicated\":%llu,"
              "\"reordered\":%llu}\n",
              (unsigned long long)c.received, (unsigned long long)c.forwarded, (unsigned long long)c.dropped,
              (unsigned long long)c.duplicated, (unsigned long long)c.reordered);
  return 0;
}
