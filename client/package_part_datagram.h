// KIND_PACKAGE_PART: one symbol of the dump package "TempDump.vgz", whole from its first byte
// (the key-17 blob carries only the first 64512 bytes and may be lost), with everything the
// receiver needs to place it and to rebuild lost ones. Payload, big-endian:
//
//   0  u8   PartFormat       1: the layout below, Cauchy Reed-Solomon over GF(2^8) (erasure_code.h)
//   1  u8   BlockSymbols     K       } the error-correction parameters
//   2  u8   RepairPercent    P       } (package_fec_layout.h)
//   3  u8   StripeBlocks     W       }
//   4  u16  SymbolSize       S       }
//   6  u32  CrashId          which package of this machine: chosen by the sender per crash
//  10  u32  PackageLength    bytes of the whole package
//  14  u32  PackageCrc32     CRC-32 of the whole package, so a rebuilt package is checked whole
//  18  u32  SymbolId         source symbol index, or kRepairSymbolFlag | block << 8 | repair
//  22  ...  data             S bytes; the last source symbol only what is left of the package
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/datagram.h"
#include "client/package_fec_layout.h"

constexpr uint8_t kPartFormat = 1;
constexpr int kPartHeaderSize = 22;
// The largest symbol that keeps a part within kMaxCrashDatagramSize.
constexpr int kMaxPartSymbolSize = kMaxCrashDatagramSize - kHeaderSize - kPartHeaderSize;

struct PackagePart {
  FecParams params;
  uint32_t crash_id;
  uint32_t package_length;
  uint32_t package_crc;
  uint32_t symbol_id;
  const uint8_t* data;  // decoded: points into the datagram
  uint32_t data_length;
};

// Zeroes out[0, capacity) and writes the datagram; its length, or 0 when the identities are not
// complete, it does not fit, or the part is not one a receiver would accept.
size_t BuildPackagePartDatagram(uint8_t* out, size_t capacity, const DatagramIdentity& who, const PackagePart& part);

// Null when in is a sound package part, else why not: a header reason (datagram.h), "kind",
// "short part", "part format", "part parameters" (no layout, or a symbol larger than a datagram
// holds), "symbol id", "symbol length".
const char* DecodePackagePartDatagram(const uint8_t* in, size_t size, DatagramHeaderView* header, PackagePart* part);
