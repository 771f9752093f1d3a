// The receiving loop: the UDP socket read in batches with recvmmsg, each datagram handed to the
// session, and the session's expiry run about once a second, until a signal, the idle timeout or
// the datagram count ends it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace collector {

class Session;

// A bound IPv4 UDP socket with a large receive buffer, or -1 (errno says why).
int OpenUdpSocket(const std::string& address, uint16_t port, uint16_t* bound_port);

struct ReceiveLimits {
  uint64_t exit_after = 0;   // datagrams; 0: never
  double idle_timeout = 0;   // seconds; 0: never
};

// Blocks SIGINT and SIGTERM outside the waits of the loop, so that a signal cannot slip in between
// the check and the wait. Call before starting other threads, which then inherit the mask.
void CatchStopSignals();

struct ReceiveCounts {
  uint64_t datagrams = 0;
  uint64_t kernel_drops = 0;  // what the socket's buffer had to drop (SO_MEMINFO)
};

// `after_batch` runs after every batch of datagrams and every expiry, for flushing what they produced.
ReceiveCounts ReceiveLoop(int fd, const ReceiveLimits& limits, Session* session,
                          const std::function<void()>& after_batch);

}  // namespace collector
