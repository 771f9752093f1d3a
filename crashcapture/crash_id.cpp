#include "crashcapture/crash_id.h"

uint32_t MakeCrashId(uint64_t counter, uint32_t process_id, uint32_t thread_id) {
  // splitmix64's finaliser: every input bit reaches every output bit, so ids of crashes a counter
  // tick apart differ everywhere.
  uint64_t x = counter ^ (uint64_t(process_id) << 32 | thread_id);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  const uint32_t id = uint32_t(x ^ (x >> 32));
  return id != 0 ? id : 1;
}
