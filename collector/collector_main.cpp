// collector: receives the client's UDP datagrams and prints each one decoded, as one JSON object
// per line on standard output. Test programs drive it as the real server, so its command line and
// its lines are a contract.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "json_writer.h"
#include "options.h"
#include "output_files.h"
#include "session.h"

namespace {

using Clock = std::chrono::steady_clock;

// Room for the largest UDP payload over IPv4 (65507 bytes) and then some.
constexpr size_t kReceiveBuffer = 65536;
// Crash reports take a while to unpack; meanwhile a burst of datagrams waits in the kernel.
constexpr int kSocketBuffer = 8 << 20;

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void Emit(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);  // readers wait for each line as it happens
}

int OpenSocket(const collector::Options& options, uint16_t* port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int size = kSocketBuffer;
  // The forced variant ignores the system's cap but needs privilege; the plain one is the fallback.
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options.listen_port);
  inet_pton(AF_INET, options.listen_address.c_str(), &address.sin_addr);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

// Blocks SIGINT and SIGTERM except while waiting in ppoll, so a signal can never slip in between
// the check of g_stop and the wait. Returns the mask to wait with.
sigset_t CatchStopSignals() {
  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigset_t stop, wait_mask;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, &wait_mask);
  sigdelset(&wait_mask, SIGINT);
  sigdelset(&wait_mask, SIGTERM);
  return wait_mask;
}

}  // namespace

int main(int argc, char** argv) {
  collector::Options options;
  std::string error;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(collector::kUsage, stdout);
      return 0;
    }
  }
  if (!collector::ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "collector: %s\n%s", error.c_str(), collector::kUsage);
    return 2;
  }
  if (!collector::MakeDirectories(options.out_dir, &error)) {
    std::fprintf(stderr, "collector: cannot make the output folder: %s\n", error.c_str());
    return 2;
  }
  uint16_t port = 0;
  int fd = OpenSocket(options, &port);
  if (fd < 0) {
    std::fprintf(stderr, "collector: cannot listen on %s:%u: %s\n", options.listen_address.c_str(),
                 options.listen_port, std::strerror(errno));
    return 2;
  }
  sigset_t wait_mask = CatchStopSignals();

  collector::JsonWriter listening;
  listening.BeginObject().Key("event").String("listening");
  listening.Key("address").String(options.listen_address).Key("port").Uint(port).EndObject();
  Emit(listening.str());

  collector::Session session(collector::AbsolutePath(options.out_dir), options.raw, Emit);
  static uint8_t buffer[kReceiveBuffer];
  uint64_t received = 0;
  Clock::time_point last = Clock::now();
  const auto idle = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.idle_timeout));
  while (!g_stop) {
    timespec wait{};
    timespec* wait_for = nullptr;
    if (options.idle_timeout > 0) {
      Clock::duration left = last + idle - Clock::now();
      if (left <= Clock::duration::zero()) break;
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      wait.tv_sec = static_cast<time_t>(ns / 1000000000);
      wait.tv_nsec = static_cast<long>(ns % 1000000000);
      wait_for = &wait;
    }
    pollfd poll_fd{fd, POLLIN, 0};
    int ready = ppoll(&poll_fd, 1, wait_for, &wait_mask);
    if (ready <= 0) continue;  // a signal, or the idle time is up: the loop's checks decide
    ssize_t size = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (size < 0) continue;
    last = Clock::now();
    session.Handle(collector::Bytes{buffer, static_cast<size_t>(size)});
    if (options.exit_after && ++received >= options.exit_after) break;
  }
  close(fd);
  return 0;
}
