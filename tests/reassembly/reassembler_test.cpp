#include "reassembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "client/package_part_datagram.h"
#include "client/package_part_encoder.h"
#include "package_datagrams.h"

namespace {

using reassembly::AcceptResult;
using reassembly::PackageEvent;
using reassembly::Reassembler;
using reassembly::ReassemblyLimits;
using Datagrams = std::vector<std::vector<uint8_t>>;

const char kId[] = "0123456789ABCDEF";
const char kOtherId[] = "FEDCBA9876543210";
const DatagramIdentity kWho{kId, 7, 20, 300};

PackagePart PartOf(const std::vector<uint8_t>& datagram) {
  DatagramHeaderView header;
  PackagePart part;
  EXPECT_EQ(DecodePackagePartDatagram(datagram.data(), datagram.size(), &header, &part), nullptr);
  return part;
}

bool IsRepair(const std::vector<uint8_t>& datagram) { return (PartOf(datagram).symbol_id & kRepairSymbolFlag) != 0; }

// Feeds the datagrams one per millisecond from `start` and collects every package event.
std::vector<PackageEvent> Deliver(Reassembler& reassembler, const Datagrams& datagrams, uint64_t start = 1000) {
  std::vector<PackageEvent> events;
  uint64_t now = start;
  for (const auto& d : datagrams) {
    AcceptResult result = reassembler.Accept(d.data(), d.size(), now++);
    EXPECT_EQ(result.invalid_reason, nullptr) << result.invalid_reason;
    for (auto& event : result.packages) events.push_back(std::move(event));
  }
  return events;
}

// Which datagrams a loss pattern keeps, given every datagram in send order and the layout.
using LossPattern = std::function<Datagrams(const Datagrams&, const FecLayout&)>;

Datagrams Keep(const Datagrams& all, const std::function<bool(size_t, const PackagePart&)>& keep) {
  Datagrams kept;
  for (size_t i = 0; i < all.size(); ++i) {
    if (keep(i, PartOf(all[i]))) kept.push_back(all[i]);
  }
  return kept;
}

uint32_t BlockOf(const FecLayout& layout, const PackagePart& part) {
  if (part.symbol_id & kRepairSymbolFlag) return (part.symbol_id & ~kRepairSymbolFlag) >> 8;
  return PlaceOfSource(layout, part.symbol_id).block;
}

// Loses the first `per_block` sources of every block (or its repairs, when it has fewer sources).
Datagrams LoseFromEveryBlock(const Datagrams& all, const FecLayout& layout, uint32_t per_block) {
  std::vector<uint32_t> lost(layout.block_count, 0);
  std::vector<bool> drop(all.size(), false);
  for (bool repairs : {false, true}) {
    for (size_t i = 0; i < all.size(); ++i) {
      const PackagePart part = PartOf(all[i]);
      if (((part.symbol_id & kRepairSymbolFlag) != 0) != repairs) continue;
      const uint32_t block = BlockOf(layout, part);
      if (lost[block] < per_block) {
        ++lost[block];
        drop[i] = true;
      }
    }
  }
  Datagrams kept;
  for (size_t i = 0; i < all.size(); ++i) {
    if (!drop[i]) kept.push_back(all[i]);
  }
  return kept;
}

struct RepairableCase {
  const char* name;
  size_t length;
  FecParams params;
  LossPattern pattern;
};

// Every loss pattern the code must repair, on packages from one byte to several stripes.
TEST(Reassembler, RepairsEveryLossWithinTheCodesReach) {
  const FecParams lib = kPackagePartParams;
  const RepairableCase cases[] = {
      {"nothing lost, 1 byte", 1, lib, [](const Datagrams& all, const FecLayout&) { return all; }},
      {"nothing lost, exactly one symbol", 1143, lib, [](const Datagrams& all, const FecLayout&) { return all; }},
      {"the only source lost", 1143, lib,
       [](const Datagrams& all, const FecLayout&) { return Datagrams(all.begin() + 1, all.end()); }},
      {"the short last source lost", 1144, lib,
       [](const Datagrams& all, const FecLayout&) {
         return Keep(all, [](size_t, const PackagePart& p) { return p.symbol_id != 1; });
       }},
      {"every repair lost", 1 << 20, lib,
       [](const Datagrams& all, const FecLayout&) {
         return Keep(all, [](size_t, const PackagePart& p) { return !(p.symbol_id & kRepairSymbolFlag); });
       }},
      {"as many sources as repairs lost from every block", 1 << 20, lib,
       [](const Datagrams& all, const FecLayout& layout) { return LoseFromEveryBlock(all, layout, 19); }},
      {"the same over three stripes", 3 << 20, lib,
       [](const Datagrams& all, const FecLayout& layout) { return LoseFromEveryBlock(all, layout, 18); }},
      {"the first 64512 bytes lost, as a lost key-17 blob's", 1 << 20, lib,
       [](const Datagrams& all, const FecLayout&) {
         return Keep(all, [](size_t, const PackagePart& p) { return p.symbol_id >= 57 || (p.symbol_id & kRepairSymbolFlag); });
       }},
      {"a burst of 8 in every 150 datagrams", 3 << 20, lib,
       [](const Datagrams& all, const FecLayout&) {
         return Keep(all, [](size_t i, const PackagePart&) { return i % 150 >= 8; });
       }},
      {"a burst of 70 at a stripe's start", 1 << 20, lib,
       [](const Datagrams& all, const FecLayout&) {
         return Keep(all, [](size_t i, const PackagePart&) { return i < 300 || i >= 370; });
       }},
      {"every source lost, rebuilt from repairs alone", 5000, {100, 10, 100, 2},
       [](const Datagrams& all, const FecLayout&) {
         return Keep(all, [](size_t, const PackagePart& p) { return (p.symbol_id & kRepairSymbolFlag) != 0; });
       }},
      {"1% lost at random, the rest repeated and shuffled", 1 << 20, lib,
       [](const Datagrams& all, const FecLayout&) {
         std::mt19937 random(42);
         Datagrams kept;
         for (const auto& d : all) {
           if (random() % 100 == 0) continue;
           kept.push_back(d);
           if (random() % 20 == 0) kept.push_back(d);
         }
         std::shuffle(kept.begin(), kept.end(), random);
         return kept;
       }},
  };
  for (const RepairableCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> package = RandomPackage(c.length, uint32_t(c.length));
    const Datagrams all = EncodePackageParts(package, c.params, kWho, 0x1234);
    ASSERT_FALSE(all.empty());
    FecLayout layout;
    ASSERT_TRUE(MakeFecLayout(c.params, uint32_t(c.length), &layout));
    const Datagrams kept = c.pattern(all, layout);
    Reassembler reassembler;
    const std::vector<PackageEvent> events = Deliver(reassembler, kept);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].whole) << events[0].reason;
    EXPECT_TRUE(events[0].package == package);
    EXPECT_EQ(events[0].crash_id, 0x1234u);
    EXPECT_EQ(events[0].machine_id, kId);
    EXPECT_EQ(events[0].identity3, 20);
    EXPECT_EQ(reassembler.stats().held_bytes, 0u) << "a finished package keeps no memory";
    EXPECT_EQ(reassembler.stats().open_packages, 0u);
  }
}

// One symbol more than the code's reach, in one block only: the package is reported as not
// whole, with that block and the bytes it could not rebuild, and never as a package.
TEST(Reassembler, OneLossTooManyIsReportedMissingNeverWrong) {
  const std::vector<uint8_t> package = RandomPackage(1 << 20, 5);
  const Datagrams all = EncodePackageParts(package, kPackagePartParams, kWho, 77);
  FecLayout layout;
  ASSERT_TRUE(MakeFecLayout(kPackagePartParams, 1 << 20, &layout));
  // Block 2 loses its 20 first sources (it has 19 repairs); the other blocks lose 19 each.
  Datagrams kept = LoseFromEveryBlock(all, layout, 19);
  std::set<uint32_t> lost_in_block2;
  for (const auto& d : all) {
    const PackagePart p = PartOf(d);
    if (!(p.symbol_id & kRepairSymbolFlag) && PlaceOfSource(layout, p.symbol_id).block == 2 &&
        lost_in_block2.size() < 20) {
      lost_in_block2.insert(p.symbol_id);
    }
  }
  kept.erase(std::remove_if(kept.begin(), kept.end(),
                            [&](const std::vector<uint8_t>& d) { return lost_in_block2.count(PartOf(d).symbol_id) != 0; }),
             kept.end());
  Reassembler reassembler;
  EXPECT_TRUE(Deliver(reassembler, kept, 1000).empty());
  const uint64_t last = 1000 + kept.size() - 1;
  EXPECT_TRUE(reassembler.Expire(last + 29999).empty()) << "not given up before 30 s of silence";
  std::vector<PackageEvent> events = reassembler.Expire(last + 30000);
  ASSERT_EQ(events.size(), 1u);
  const PackageEvent& event = events[0];
  EXPECT_FALSE(event.whole);
  EXPECT_EQ(event.reason, "timed out");
  EXPECT_TRUE(event.package.empty());
  EXPECT_EQ(event.package_length, uint32_t(1 << 20));
  ASSERT_EQ(event.missing.short_blocks.size(), 1u);
  EXPECT_EQ(event.missing.short_blocks[0].block, 2u);
  EXPECT_EQ(event.missing.short_blocks[0].need, 229u);
  EXPECT_EQ(event.missing.short_blocks[0].have, 229u - 20u + 19u) << "its repairs and remaining sources";
  uint64_t missing = 0;
  for (uint32_t symbol : lost_in_block2) missing += SourceLength(layout, symbol);
  EXPECT_EQ(event.missing.missing_byte_count, missing);
  ASSERT_EQ(event.missing.missing_bytes.size(), 20u) << "block 2's symbols lie four apart";
  EXPECT_EQ(event.missing.missing_bytes[0].begin, 2u * 1143u);
  EXPECT_EQ(event.missing.missing_bytes[0].end, 3u * 1143u);
  EXPECT_EQ(reassembler.stats().held_bytes, 0u);
}

// A changed byte that the UDP checksum let through makes a block rebuild wrong: the package's
// CRC-32 catches it, and the package is reported as not whole.
TEST(Reassembler, ACorruptSymbolFailsTheChecksum) {
  const std::vector<uint8_t> package = RandomPackage(50000, 6);
  Datagrams all = EncodePackageParts(package, kPackagePartParams, kWho, 1);
  // The first source lost, so a repair rebuilds it; that repair has one byte changed.
  all.erase(all.begin());
  for (auto& d : all) {
    if (IsRepair(d)) {
      d[kHeaderSize + kPartHeaderSize + 10] ^= 0x40;
      break;
    }
  }
  Reassembler reassembler;
  const std::vector<PackageEvent> events = Deliver(reassembler, all);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0].whole);
  EXPECT_EQ(events[0].reason, "checksum mismatch");
  EXPECT_TRUE(events[0].package.empty());
}

TEST(Reassembler, PackagesOfOneMachineAndOneIdOfTwoMachinesStayApart) {
  const std::vector<uint8_t> a = RandomPackage(30000, 1), b = RandomPackage(40000, 2), c = RandomPackage(20000, 3);
  const Datagrams da = EncodePackageParts(a, kPackagePartParams, kWho, 1);
  const Datagrams db = EncodePackageParts(b, kPackagePartParams, kWho, 2);
  const Datagrams dc = EncodePackageParts(c, kPackagePartParams, DatagramIdentity{kOtherId, 1, 2, 3}, 1);
  Datagrams mixed;
  for (size_t i = 0; i < std::max({da.size(), db.size(), dc.size()}); ++i) {
    if (i < da.size()) mixed.push_back(da[i]);
    if (i < db.size()) mixed.push_back(db[i]);
    if (i < dc.size()) mixed.push_back(dc[i]);
  }
  Reassembler reassembler;
  const std::vector<PackageEvent> events = Deliver(reassembler, mixed);
  ASSERT_EQ(events.size(), 3u);
  for (const PackageEvent& e : events) {
    ASSERT_TRUE(e.whole);
    const std::vector<uint8_t>& expected = e.machine_id == kOtherId ? c : e.crash_id == 1 ? a : b;
    EXPECT_TRUE(e.package == expected) << e.machine_id << " " << e.crash_id;
  }
}

TEST(Reassembler, LateAndRepeatedPartsAreNotReportedAgain) {
  const std::vector<uint8_t> package = RandomPackage(10000, 8);
  const Datagrams all = EncodePackageParts(package, kPackagePartParams, kWho, 5);
  Reassembler reassembler;
  uint64_t now = 0;
  int whole = 0, repeated = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& d : all) {
      AcceptResult r = reassembler.Accept(d.data(), d.size(), ++now);
      whole += int(r.packages.size());
      repeated += int(r.repeated);
    }
  }
  EXPECT_EQ(whole, 1);
  EXPECT_EQ(repeated, int(all.size() * 2 - 9)) << "all but the nine sources that made it whole";
  EXPECT_TRUE(reassembler.Expire(now + 60000).empty());
}

TEST(Reassembler, PartsOfAnotherPackageUnderTheSameIdAreRefused) {
  const std::vector<uint8_t> package = RandomPackage(10000, 9);
  const Datagrams all = EncodePackageParts(package, kPackagePartParams, kWho, 5);
  const Datagrams impostor = EncodePackageParts(RandomPackage(10001, 10), kPackagePartParams, kWho, 5);
  Datagrams mixed = {all[0], impostor[1], impostor[2]};
  mixed.insert(mixed.end(), all.begin() + 1, all.end());
  Reassembler reassembler;
  const std::vector<PackageEvent> events = Deliver(reassembler, mixed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].whole);
  EXPECT_TRUE(events[0].package == package);
  EXPECT_EQ(events[0].refused, 2u);
}

TEST(Reassembler, MemoryIsBoundedPerSender) {
  ReassemblyLimits limits;
  limits.max_open_packages_per_sender = 2;
  limits.max_bytes_per_sender = 600000;
  limits.max_package_bytes = 4 << 20;
  Reassembler reassembler(limits);
  // Three packages begun, none finished: the quietest is given up to make room for the third.
  uint64_t now = 0;
  for (uint32_t id = 1; id <= 3; ++id) {
    const Datagrams d = EncodePackageParts(RandomPackage(100000, id), kPackagePartParams, kWho, id);
    AcceptResult r = reassembler.Accept(d[0].data(), d[0].size(), ++now);
    if (id < 3) {
      EXPECT_TRUE(r.packages.empty());
    } else {
      ASSERT_EQ(r.packages.size(), 1u);
      EXPECT_EQ(r.packages[0].crash_id, 1u);
      EXPECT_EQ(r.packages[0].reason, "evicted");
      EXPECT_FALSE(r.packages[0].whole);
    }
  }
  EXPECT_EQ(reassembler.stats().open_packages, 2u);
  // A package larger than the sender's bound stores what fits and is given up as over the bound.
  std::vector<PackageEvent> flushed = reassembler.Flush();
  EXPECT_EQ(flushed.size(), 2u);
  const std::vector<uint8_t> big = RandomPackage(3 << 20, 11);
  const Datagrams d = EncodePackageParts(big, kPackagePartParams, kWho, 9);
  size_t peak = 0;
  for (const auto& datagram : d) {
    reassembler.Accept(datagram.data(), datagram.size(), ++now);
    peak = std::max(peak, reassembler.stats().held_bytes);
  }
  EXPECT_LE(peak, limits.max_bytes_per_sender);
  std::vector<PackageEvent> events = reassembler.Expire(now + limits.give_up_after_ms);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].reason, "memory bound");
  EXPECT_GT(events[0].refused, 0u);
  EXPECT_EQ(reassembler.stats().held_bytes, 0u);
  // A package announced beyond the largest accepted is refused at once.
  const Datagrams huge = EncodePackageParts(RandomPackage((4 << 20) + 1, 12), kPackagePartParams, kWho, 10);
  EXPECT_STREQ(reassembler.Accept(huge[0].data(), huge[0].size(), ++now).invalid_reason, "package too large");
}

TEST(Reassembler, ForgedMachineIdentifiersCannotGrowItsMemory) {
  ReassemblyLimits limits;
  limits.max_senders = 2;
  Reassembler reassembler(limits);
  const char* ids[] = {"00000000000000A1", "00000000000000A2", "00000000000000A3"};
  const std::vector<uint8_t> package = RandomPackage(5000, 1);
  for (int i = 0; i < 3; ++i) {
    const Datagrams d = EncodePackageParts(package, kPackagePartParams, DatagramIdentity{ids[i], 1, 2, 3}, 1);
    const char* reason = reassembler.Accept(d[0].data(), d[0].size(), 1).invalid_reason;
    if (i < 2) {
      EXPECT_EQ(reason, nullptr);
    } else {
      EXPECT_STREQ(reason, "too many senders");
    }
  }
  EXPECT_EQ(reassembler.stats().senders, 2u);
  // Once the machines are forgotten there is room again.
  EXPECT_EQ(reassembler.Expire(1 + limits.give_up_after_ms).size(), 2u);
  reassembler.Expire(1 + limits.give_up_after_ms + limits.remember_ms);
  EXPECT_EQ(reassembler.stats().senders, 0u);
}

TEST(Reassembler, SummariesAreReportedOnce) {
  CrashSummary summary{};
  summary.architecture = kArchitectureX64;
  summary.crash_id = 42;
  summary.exception_code = 0xC0000005;
  summary.fault_module = -1;
  uint8_t bytes[kMaxCrashDatagramSize];
  const size_t length = BuildCrashSummaryDatagram(bytes, sizeof bytes, kWho, summary);
  ASSERT_GT(length, 0u);
  EXPECT_TRUE(reassembly::IsReassemblyKind(bytes, length));
  Reassembler reassembler;
  AcceptResult first = reassembler.Accept(bytes, length, 1);
  ASSERT_TRUE(first.summary.has_value());
  EXPECT_EQ(first.summary->machine_id, kId);
  EXPECT_EQ(first.summary->identity4, 300);
  EXPECT_EQ(first.summary->summary.exception_code, 0xC0000005u);
  AcceptResult again = reassembler.Accept(bytes, length, 2);
  EXPECT_FALSE(again.summary.has_value());
  EXPECT_TRUE(again.repeated);
  // Remembered for ten minutes, then a repeat counts as new.
  reassembler.Expire(2 + 600000);
  EXPECT_TRUE(reassembler.Accept(bytes, length, 600003).summary.has_value());
}

TEST(Reassembler, OtherDatagramsAreRefusedWithTheirReason) {
  Reassembler reassembler;
  uint8_t numbers[43] = {0, 0, 0, 1, 0, 0, 0, 1};
  std::copy(kId, kId + 16, numbers + 8);
  numbers[34] = 8;
  EXPECT_FALSE(reassembly::IsReassemblyKind(numbers, sizeof numbers));
  EXPECT_STREQ(reassembler.Accept(numbers, sizeof numbers, 1).invalid_reason, "kind");
  EXPECT_STREQ(reassembler.Accept(numbers, 20, 1).invalid_reason, "short header");
  numbers[7] = KIND_PACKAGE_PART;
  EXPECT_TRUE(reassembly::IsReassemblyKind(numbers, sizeof numbers));
  EXPECT_STREQ(reassembler.Accept(numbers, sizeof numbers, 1).invalid_reason, "short part");
  EXPECT_FALSE(reassembly::IsReassemblyKind(numbers, 7));
  // Random bytes behind a sound header never get further than a reason (the sanitizers watch).
  std::mt19937 random(1);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes(35 + random() % 200);
    for (auto& b : bytes) b = uint8_t(random());
    std::copy(numbers, numbers + 35, bytes.begin());
    const uint32_t payload = uint32_t(bytes.size() - 35);
    bytes[33] = uint8_t(payload >> 8), bytes[34] = uint8_t(payload);
    bytes[7] = round % 2 ? KIND_PACKAGE_PART : KIND_CRASH_SUMMARY;
    reassembler.Accept(bytes.data(), bytes.size(), 2);
  }
  EXPECT_EQ(reassembler.stats().held_bytes, 0u);
}

}  // namespace
