// A dump package turned into its part datagrams by the library's own encoder, in memory: what the
// crash path would send, for the reassembly tests and the lossy-network benchmark.
#pragma once

#include <cstdint>
#include <vector>

#include "client/datagram.h"
#include "client/package_fec_layout.h"

// Every datagram in the order the library sends them; empty when the encoder refuses the job.
std::vector<std::vector<uint8_t>> EncodePackageParts(const std::vector<uint8_t>& package, const FecParams& params,
                                                     const DatagramIdentity& who, uint32_t crash_id);

// Bytes that compress as little as a packed minidump does.
std::vector<uint8_t> RandomPackage(size_t length, uint32_t seed);
