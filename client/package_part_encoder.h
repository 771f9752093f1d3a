// The sender's side of the whole package: reads the package in symbol-sized pieces from its file
// and hands out its part datagrams one by one, sources as they are read and each stripe's repair
// symbols after it. Memory is one fixed struct reserved before any crash: the crash path runs
// while every other thread is frozen, possibly inside the heap, so nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/datagram.h"
#include "client/package_fec_layout.h"
#include "client/package_part_datagram.h"

// What the library sends with. 232 sources and 19 repairs per full block (8%) use 251 of the
// field's 256 points; with the 57 bytes of headers per 1143-byte symbol a megabyte costs 13.7%
// more bytes and survives 1% loss with a wide margin (docs/protocol.md has the figures). Eight
// blocks per stripe spread a burst of up to eight losses over eight blocks.
constexpr FecParams kPackagePartParams = {kMaxPartSymbolSize, 232, 8, 8};
// The memory holds the library's parameters' stripe, and no more.
constexpr int kMaxStripeBlocks = kPackagePartParams.stripe_blocks;
constexpr int kMaxRepairPerBlock = (kPackagePartParams.block_symbols * kPackagePartParams.repair_percent + 99) / 100;

// The repair symbols of one stripe, being summed while its sources go out, and the symbol just read.
struct PackagePartMemory {
  uint8_t repair[kMaxStripeBlocks * kMaxRepairPerBlock][kMaxPartSymbolSize];
  uint8_t symbol[kMaxPartSymbolSize];
};

// Where the package's bytes come from (its file, on the crash path).
class PackageSource {
 public:
  // Up to size bytes into buffer: the count read, 0 at the end, -1 on an error.
  virtual int Read(void* buffer, int size) = 0;

 protected:
  ~PackageSource() = default;
};

struct PackagePartJob {
  DatagramIdentity who;
  FecParams params;
  uint32_t crash_id;
  uint32_t package_length;  // the file's length, known before the first read
  uint32_t package_crc;     // Crc32Update over the whole package (crc32.h)
};

class PackagePartEncoder {
 public:
  // False when the job cannot be sent: incomplete identities, parameters that do not fit the
  // memory or describe no layout (an empty package among them).
  bool Begin(PackagePartMemory* memory, const PackagePartJob& job, PackageSource* source);

  // Writes the next datagram into out, which holds at least kMaxCrashDatagramSize bytes. Its
  // length; 0 when every datagram has been handed out; -1 when the package could not be read
  // (an error, or a file shorter than its announced length), after which it stays -1.
  int Next(uint8_t* out, size_t capacity);

  // Datagrams of the whole job, and how many Next has handed out.
  uint32_t total() const { return layout_.symbol_count + layout_.repair_count; }
  uint32_t sent() const { return sent_; }

 private:
  int NextSource(uint8_t* out, size_t capacity);
  bool NextRepairInStripe();
  int NextRepair(uint8_t* out, size_t capacity);
  bool ReadSymbol(uint32_t length);
  uint8_t* RepairBuffer(uint32_t block_in_stripe, uint32_t repair) const;
  void StartStripe(uint32_t stripe);

  PackagePartMemory* memory_ = nullptr;
  PackageSource* source_ = nullptr;
  PackagePartJob job_{};
  FecLayout layout_{};
  StripeShape stripe_{};
  uint32_t stripe_index_ = 0;
  uint32_t next_source_ = 0;   // package symbol index
  uint32_t next_repair_ = 0;   // within the stripe: repair index * W_t + block in the stripe
  uint32_t sent_ = 0;
  bool failed_ = true;
};
