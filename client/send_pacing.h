// Paces the whole package's datagrams at the configured rate: a player's uplink may carry only a
// few hundred kilobytes per second, and a burst of thousands of datagrams would fill its router's
// queue and lose the player's other traffic and our own datagrams alike. A token bucket: credit
// grows at the rate up to a small burst, so that a sleep that wakes late (Windows' timer ticks
// every 15.6 ms) catches up without ever sending a long burst.
#pragma once

#include <cstdint>

// The burst holds this much time at the rate plus one datagram, so that a tick's earnings are
// never cut off by the cap, and at least two datagrams.
constexpr uint64_t kPacingBurstMicroseconds = 20000;

struct SendPacing {
  uint64_t bytes_per_second;
  uint64_t burst_bytes;
  // Credit in bytes times a million, so that a microsecond earns bytes_per_second of it exactly
  // and no rounding accumulates.
  uint64_t credit;
  uint64_t last_us;  // when credit was last brought up to date
};

// Full credit at now_us; bytes_per_second must be above 0.
SendPacing StartPacing(uint64_t bytes_per_second, uint64_t now_us);

// How long to wait from now_us before `length` more bytes may go; 0 when they may go now.
uint64_t PacingWaitMicroseconds(SendPacing& pacing, uint64_t now_us, uint32_t length);

// Spends the credit of a datagram that went (or was tried).
void PacingSpend(SendPacing& pacing, uint32_t length);
