#include "client/send_pacing.h"

#include "client/datagram.h"

namespace {

constexpr uint64_t kMicrosecondsPerSecond = 1000000;

void Refill(SendPacing& pacing, uint64_t now_us) {
  if (now_us <= pacing.last_us) return;
  const uint64_t cap = pacing.burst_bytes * kMicrosecondsPerSecond;
  pacing.credit += (now_us - pacing.last_us) * pacing.bytes_per_second;
  if (pacing.credit > cap) pacing.credit = cap;
  pacing.last_us = now_us;
}

}  // namespace

SendPacing StartPacing(uint64_t bytes_per_second, uint64_t now_us) {
  SendPacing pacing;
  pacing.bytes_per_second = bytes_per_second;
  pacing.burst_bytes = bytes_per_second * kPacingBurstMicroseconds / kMicrosecondsPerSecond + kMaxCrashDatagramSize;
  if (pacing.burst_bytes < 2 * uint64_t(kMaxCrashDatagramSize)) pacing.burst_bytes = 2 * uint64_t(kMaxCrashDatagramSize);
  pacing.credit = pacing.burst_bytes * kMicrosecondsPerSecond;
  pacing.last_us = now_us;
  return pacing;
}

uint64_t PacingWaitMicroseconds(SendPacing& pacing, uint64_t now_us, uint32_t length) {
  Refill(pacing, now_us);
  const uint64_t needed = uint64_t(length) * kMicrosecondsPerSecond;
  if (pacing.credit >= needed) return 0;
  return (needed - pacing.credit + pacing.bytes_per_second - 1) / pacing.bytes_per_second;
}

void PacingSpend(SendPacing& pacing, uint32_t length) {
  const uint64_t spent = uint64_t(length) * kMicrosecondsPerSecond;
  pacing.credit = pacing.credit > spent ? pacing.credit - spent : 0;
}
