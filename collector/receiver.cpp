#include "receiver.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "session.h"

namespace collector {
namespace {

using Clock = std::chrono::steady_clock;

// Room for the largest UDP payload over IPv4 (65507 bytes) in every slot of a batch.
constexpr size_t kSlotBytes = 65536;
// Datagrams taken from the kernel per call: enough to spread the call's cost thin, few enough that
// the batch's lines leave promptly.
constexpr unsigned kBatch = 64;
// The kernel holds a burst while the receiving thread waits for a core: 128 MiB is about 100,000
// small datagrams (each takes about 1.2 KiB of kernel memory), half a second at wire speed.
constexpr int kSocketBuffer = 128 << 20;
// How often the reassembly gives up packages whose parts stopped coming; it waits half a minute of
// silence, so a second more or less does not matter.
constexpr Clock::duration kExpireEvery = std::chrono::seconds(1);

volatile sig_atomic_t g_stop = 0;
sigset_t g_wait_mask;

void OnSignal(int) { g_stop = 1; }

double UnixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct Batch {
  std::vector<uint8_t> buffers = std::vector<uint8_t>(kBatch * kSlotBytes);
  mmsghdr messages[kBatch];
  iovec vectors[kBatch];
  sockaddr_in sources[kBatch];

  void Prepare() {
    for (unsigned i = 0; i < kBatch; ++i) {
      vectors[i] = iovec{buffers.data() + i * kSlotBytes, kSlotBytes};
      messages[i].msg_hdr = msghdr{};
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_name = &sources[i];
      messages[i].msg_hdr.msg_namelen = sizeof sources[i];
    }
  }
};

// What the socket's buffer had to drop so far, as the kernel counts it.
uint64_t KernelDrops(int fd) {
  uint32_t info[SK_MEMINFO_VARS] = {};
  socklen_t length = sizeof info;
  if (getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info, &length) != 0 || length <= SK_MEMINFO_DROPS * sizeof info[0]) {
    return 0;
  }
  return info[SK_MEMINFO_DROPS];
}

}  // namespace

int OpenUdpSocket(const std::string& address_text, uint16_t port, uint16_t* bound_port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int size = kSocketBuffer;
  // The forced variant ignores the system's cap but needs privilege; the plain one is the fallback.
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, address_text.c_str(), &address.sin_addr);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  *bound_port = ntohs(address.sin_port);
  return fd;
}

void CatchStopSignals() {
  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, &g_wait_mask);
  sigdelset(&g_wait_mask, SIGINT);
  sigdelset(&g_wait_mask, SIGTERM);
}

ReceiveCounts ReceiveLoop(int fd, const ReceiveLimits& limits, Session* session,
                          const std::function<void()>& after_batch) {
  static Batch batch;  // 4 MiB: not on the stack
  ReceiveCounts counts;
  Clock::time_point last = Clock::now();
  const auto idle = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limits.idle_timeout));
  Clock::time_point next_expire = Clock::now() + kExpireEvery;
  while (!g_stop) {
    Clock::time_point now_steady = Clock::now();
    if (now_steady >= next_expire) {
      session->Expire(UnixNow());
      after_batch();
      next_expire = now_steady + kExpireEvery;
    }
    // Wake for the next expiry even when no datagram comes, and for the idle timeout.
    Clock::duration left = next_expire - now_steady;
    if (limits.idle_timeout > 0) {
      Clock::duration idle_left = last + idle - now_steady;
      if (idle_left <= Clock::duration::zero()) break;
      left = std::min(left, idle_left);
    }
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd poll_fd{fd, POLLIN, 0};
    if (ppoll(&poll_fd, 1, &wait, &g_wait_mask) <= 0) continue;  // a signal, or time is up: the checks decide
    // Drain what is there, a batch at a time, before waiting again.
    for (;;) {
      batch.Prepare();
      unsigned want = kBatch;
      if (limits.exit_after) want = static_cast<unsigned>(std::min<uint64_t>(want, limits.exit_after - counts.datagrams));
      int got = recvmmsg(fd, batch.messages, want, MSG_DONTWAIT, nullptr);
      if (got <= 0) break;
      last = Clock::now();
      double now = UnixNow();
      for (int i = 0; i < got; ++i) {
        uint32_t sender = ntohl(batch.sources[i].sin_addr.s_addr);
        session->Handle(Bytes{batch.buffers.data() + i * kSlotBytes, batch.messages[i].msg_len}, sender, now);
      }
      counts.datagrams += static_cast<uint64_t>(got);
      after_batch();
      if (limits.exit_after && counts.datagrams >= limits.exit_after) break;
      if (static_cast<unsigned>(got) < want || g_stop) break;
    }
    if (limits.exit_after && counts.datagrams >= limits.exit_after) break;
  }
  counts.kernel_drops = KernelDrops(fd);
  return counts;
}

}  // namespace collector

