// The 16-character machine identifier that heads every datagram and the hardware profile.
#pragma once

#include <cstdint>

#include "client/datagram.h"

constexpr int kMachineIdSize = kMachineIdLength + 1;  // 16 upper-case hex digits and a zero byte

// The server stores and compares these strings, so the mixing is part of the protocol: the adapter
// address M0..M5 and the bytes V0..V3 of the c: volume serial (V0 least significant) give
// M0+V2, M1, M2+V3, M3+V0, M4, M5+V2, V0, V1, each modulo 256.
void MixMachineId(const uint8_t adapter[6], uint32_t volume_serial, char* out);

// Reads the adapter address and the volume serial of this machine and mixes them into out
// (kMachineIdSize bytes). A null out does nothing. Windows only.
void BuildMachineId(char* out);
