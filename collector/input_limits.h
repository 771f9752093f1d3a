// How much one sender can make the collector hold, print and keep. UDP source addresses can be
// forged, so every datagram is untrusted; each bound below comes from what the client can really
// send, and what lies beyond it is cut and said so, never followed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "minidump_format.h"

namespace collector {

constexpr size_t kMiB = size_t{1} << 20;

// The minidump a package inflates to. Wine's MiniDumpFilterMemory dumps (the client's default)
// are 1 to 2.5 MB; a Windows machine with more threads and modules stays within a few MiB more.
// Over the network only the first 64512 bytes of a package arrive, whose real chunks inflate about
// 4:1, so 8 MiB is only reached by a forged package (64512 bytes of zero chunks would give 52.6 MiB).
constexpr size_t kDefaultNetworkDumpBytes = 8 * kMiB;
// A package rebuilt from its parts comes whole too, up to the library's CrashPackageLimit (2 MiB
// by default, 64 MiB at most). Real minidumps inflate about 4:1, so a default-sized package may
// give some 8 MiB and a large one tens of MiB; a forger who sends that many parts has paid for the
// bytes it sends, and each sender's open packages are bounded as they arrive.
constexpr size_t kDefaultRebuiltDumpBytes = 64 * kMiB;
// A package mailed by a player comes whole, and the crash host's MiniDumpWithFullMemory dump is
// about 190 MB.
constexpr size_t kDefaultIngestDumpBytes = 256 * kMiB;

// Stream directory entries read. The platform's dump writer uses about 15 and the crash reporter
// adds at most five.
constexpr uint32_t kMaxStreams = 128;
// Thread and module list entries read. A game has a few hundred of each.
constexpr uint32_t kMaxListEntries = 1024;
// A module path is at most MAX_PATH (260) units in practice; long-path names may reach 32767.
constexpr uint32_t kMaxModuleNameUnits = 1024;
// All module names of one dump together, in UTF-16 bytes: each unit prints as up to six bytes.
constexpr size_t kMaxModuleNameBytesTotal = 64 * 1024;

// The crash reporter's text streams, each no longer than the client's own buffer for it
// (LastMessage and the UserInfo record).
struct UserTextLimit {
  uint32_t stream_type;
  size_t max_bytes;
  const char* json_key;
};
constexpr UserTextLimit kUserTextLimits[] = {
    {USERSTREAM_EXTRAINFO, 1024, "extra_info"},
    {USERSTREAM_USERINFO1, 128, "user_info1"},
    {USERSTREAM_USERINFO2, 128, "user_info2"},
    {USERSTREAM_USERINFO3, 2048, "user_info3"},
};

// The longest crash_report line (and report.json) any package can produce: texts 3328 bytes at
// six output bytes each, 1024 thread ids, the module names' 32768 units at six bytes each, 128
// stream types and a folder path, with room to spare.
constexpr size_t kMaxCrashLineBytes = 256 * 1024;
// And in proportion to what arrived: the texts, the fixed fields and the stream list always fit in
// the base; the thread and module lists are cut where a small package would print more than
// kCrashLinePerByte times its size.
constexpr size_t kCrashLineBaseBytes = 32 * 1024;
constexpr size_t kCrashLinePerByte = 4;
// The longest datagram line: 50 number records, or 512 text bytes at six bytes each, and with
// --raw the whole datagram in hex (2 x 64555).
constexpr size_t kMaxDatagramLineBytes = 136 * 1024;

// Per sender (source IPv4 address): token buckets that refill at a steady rate.
struct SenderRates {
  double crash_packages_burst = 16;       // packages unpacked at once
  double crash_packages_per_minute = 12;  // a machine crashes once per run; a cafe behind one NAT, more
  double saved_bytes_burst = 64.0 * kMiB;  // blobs and report files
  double saved_bytes_per_minute = 64.0 * kMiB;
};
// Senders tracked at once; beyond, new senders share one bucket until idle ones are forgotten.
constexpr size_t kMaxTrackedSenders = 65536;

struct Limits {
  size_t max_dump_bytes = kDefaultNetworkDumpBytes;
  size_t max_rebuilt_dump_bytes = kDefaultRebuiltDumpBytes;  // a package rebuilt from its parts
  SenderRates sender;
  uint64_t disk_budget_bytes = uint64_t{4096} * kMiB;  // files and store under --out together
};

}  // namespace collector
