#include "client/machine_id.h"

#include <cstdio>

void MixMachineId(const uint8_t adapter[6], uint32_t volume_serial, char* out) {
  const uint8_t v0 = uint8_t(volume_serial);
  const uint8_t v1 = uint8_t(volume_serial >> 8);
  const uint8_t v2 = uint8_t(volume_serial >> 16);
  const uint8_t v3 = uint8_t(volume_serial >> 24);
  const uint8_t mixed[8] = {
      uint8_t(adapter[0] + v2), adapter[1], uint8_t(adapter[2] + v3), uint8_t(adapter[3] + v0),
      adapter[4],               uint8_t(adapter[5] + v2), v0,         v1,
  };
  std::snprintf(out, kMachineIdSize, "%02X%02X%02X%02X%02X%02X%02X%02X", mixed[0], mixed[1], mixed[2], mixed[3],
                mixed[4], mixed[5], mixed[6], mixed[7]);
}
