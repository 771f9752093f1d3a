// One test per limit, each fed the hostile input that went past it before: what a forged datagram
// can make the collector inflate, print, save and keep.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "collector_test_support.h"
#include "crash_report.h"
#include "crash_worker.h"
#include "datagram_decoder.h"
#include "disk_budget.h"
#include "input_limits.h"
#include "minidump_format.h"
#include "minidump_reader.h"
#include "package_reader.h"
#include "sender_rate.h"
#include "session.h"

using namespace collector;
using namespace collector_test;

namespace {

constexpr size_t kPiece = 131072;
constexpr size_t kLargestPackage = 64512;  // the client cuts longer ones
constexpr uint32_t kSender = 0x0A000001;

// A package of as many chunks as fit in `package_limit` bytes: the first holds `head`, the rest
// are pieces of zeros (level 9 makes each about 150 bytes).
Buffer PackageOfZeros(const Buffer& head, size_t package_limit) {
  Buffer package = BuildPackage(head);
  Buffer zero_chunk = BuildPackage(Buffer(kPiece, 0));
  zero_chunk.erase(zero_chunk.begin(), zero_chunk.begin() + 5);  // the magic and version
  while (package.size() + zero_chunk.size() <= package_limit) package.insert(package.end(), zero_chunk.begin(), zero_chunk.end());
  return package;
}

// The four text streams of the crash reporter, each claiming the whole of a `total`-byte dump.
std::vector<DirectoryEntry> TextStreamsOver(size_t total) {
  std::vector<DirectoryEntry> entries;
  for (uint32_t type : {USERSTREAM_EXTRAINFO, USERSTREAM_USERINFO1, USERSTREAM_USERINFO2, USERSTREAM_USERINFO3}) {
    entries.push_back({type, static_cast<uint32_t>(total), 0});
  }
  return entries;
}

// `modules` module entries all named by one name of `name_units` units of U+4E2D (six bytes each
// once printed), and `threads` thread entries.
Buffer ListsDump(uint32_t modules, uint32_t threads, size_t name_units) {
  const size_t module_list = 4096, thread_list = module_list + 4 + modules * sizeof(MinidumpModule);
  const size_t name = thread_list + 4 + threads * sizeof(MinidumpThread);
  Buffer dump = SyntheticMinidump({{kModuleListStream, static_cast<uint32_t>(4 + modules * sizeof(MinidumpModule)), 4096},
                                   {kThreadListStream, static_cast<uint32_t>(4 + threads * sizeof(MinidumpThread)),
                                    static_cast<uint32_t>(thread_list)}},
                                  name + 4 + 2 * name_units);
  PutLe32At(&dump, module_list, modules);
  for (uint32_t i = 0; i < modules; ++i) {
    PutLe32At(&dump, module_list + 4 + i * sizeof(MinidumpModule) + offsetof(MinidumpModule, module_name_rva),
              static_cast<uint32_t>(name));
  }
  PutLe32At(&dump, thread_list, threads);
  PutLe32At(&dump, name, static_cast<uint32_t>(2 * name_units));
  for (size_t i = 0; i < name_units; ++i) {
    dump[name + 4 + 2 * i] = 0x2D;
    dump[name + 5 + 2 * i] = 0x4E;
  }
  return dump;
}

// A session whose crash packages are processed on the test's thread, into a temporary folder.
class Limited : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/collector_limits_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::unique_ptr<Session> Start(const Limits& limits, DiskBudget* budget = nullptr) {
    processor_ = std::make_unique<CrashProcessor>(CrashSettings{dir_, limits.max_dump_bytes, limits.max_rebuilt_dump_bytes, {}, ""}, nullptr, budget);
    SessionOutputs outputs;
    outputs.emit = [this](std::string_view line) { lines_.emplace_back(line); };
    outputs.crash = [this](CrashJob&& job) {
      lines_.push_back(processor_->Process(job));
      return true;
    };
    return std::make_unique<Session>(dir_, false, limits, budget, std::move(outputs));
  }

  static Buffer CrashDatagram(const Buffer& package) {
    return EncodeDatagram(WithKind(4), DataPayload(0x00140011, package));
  }

  uint64_t BytesUnder(const std::string& path) {
    uint64_t total = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
      if (entry.is_regular_file()) total += entry.file_size();
    }
    return total;
  }

  std::string dir_;
  std::vector<std::string> lines_;
  std::unique_ptr<CrashProcessor> processor_;
};

// Measured before: a 4981-byte datagram whose package inflated to about 4 MB, its four text streams
// each covering the whole dump, gave a 100.6 MB report.json and as much on standard output.
TEST_F(Limited, TextStreamsAreCutToTheClientsFields) {
  // The streams start behind the directory, in the zeros, so that every text byte prints as \u0000;
  // the second pass makes them end where the dump ends.
  size_t inflated = 0, claimed_for = 1;
  Buffer datagram;
  for (int pass = 0; pass < 5 && claimed_for != inflated; ++pass) {
    claimed_for = inflated;
    std::vector<DirectoryEntry> texts = TextStreamsOver(inflated > 4096 ? inflated - 4096 : 16);
    for (DirectoryEntry& e : texts) e.rva = 4096;
    Buffer package = PackageOfZeros(SyntheticMinidump(texts, kPiece), 4981 - 43);
    datagram = CrashDatagram(package);
    inflated = ReadPackage(View(package)).minidump.size();
  }
  ASSERT_EQ(claimed_for, inflated) << "the streams do not end where the dump ends";
  ASSERT_LE(datagram.size(), 4981u);
  ASSERT_GT(inflated, 3 * kMiB);  // about 100 MB once printed, before the limits
  const size_t zero_chunks = inflated / kPiece - 1;
  auto session = Start(Limits());
  session->Handle(View(datagram), kSender, 1000);
  ASSERT_EQ(lines_.size(), 2u);
  const std::string& report = lines_[1];
  EXPECT_NE(report.find(R"("chunks":)" + std::to_string(zero_chunks + 1) + R"(,"minidump_bytes":)" +
                        std::to_string(inflated) + R"(,"minidump_valid":true,)"),
            std::string::npos)
      << report.substr(0, 300);
  for (const UserTextLimit& limit : kUserTextLimits) {
    // Each text is zeros, printed as \u0000: six bytes per byte, no more bytes than the field.
    std::string expected = "\"" + std::string(limit.json_key) + "\":\"";
    for (size_t i = 0; i < limit.max_bytes; ++i) expected += "\\u0000";
    EXPECT_NE(report.find(expected + "\""), std::string::npos) << limit.json_key;
    EXPECT_NE(report.find(std::string(limit.json_key) + " of " + std::to_string(inflated - 4096) +
                          " bytes cut to the client's " + std::to_string(limit.max_bytes)),
              std::string::npos)
        << limit.json_key;
  }
  EXPECT_LT(report.size(), 6 * (1024 + 128 + 128 + 2048) + 2048u);
  uint64_t report_json = std::filesystem::file_size(dir_ + "/report-1/report.json");
  EXPECT_EQ(report_json, report.size() + 1);
}

// Measured before: 64512 bytes of level-9 zero chunks inflated to 52.6 MiB.
TEST_F(Limited, InflatedPackageStopsAtTheCap) {
  Buffer package = PackageOfZeros(SyntheticMinidump({}, kPiece), kLargestPackage);
  ASSERT_GT(package.size(), kLargestPackage - 200);
  PackageResult whole = ReadPackage(View(package), 1024 * kMiB);
  ASSERT_GT(whole.minidump.size(), 50 * kMiB) << "the hostile input lost its teeth";

  PackageResult capped = ReadPackage(View(package));
  EXPECT_EQ(capped.minidump.size(), kDefaultNetworkDumpBytes);
  EXPECT_EQ(capped.chunks, kDefaultNetworkDumpBytes / kPiece);
  EXPECT_EQ(capped.error.rfind("chunk 65: minidump too large", 0), 0u) << capped.error;

  Limits smaller;
  smaller.max_dump_bytes = 2 * kMiB;
  auto session = Start(smaller);
  session->Handle(View(CrashDatagram(package)), kSender, 1000);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_NE(lines_[1].find(R"("chunks":16,"minidump_bytes":2097152,)"), std::string::npos) << lines_[1];
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/report-1/minidump.dmp"), 2 * kMiB);
}

// Measured before: one 64512-byte datagram whose dump named four text streams over the whole
// inflated dump printed 1.2 GB. Within the cap the streams are read and cut; past it they lie
// outside what was inflated and are not read at all.
TEST_F(Limited, LargestPackageWithTextStreamsOverTheWholeDump) {
  for (size_t claimed : {kDefaultNetworkDumpBytes, size_t{52} * kMiB}) {
    lines_.clear();
    Buffer dump = SyntheticMinidump(TextStreamsOver(claimed), kPiece);
    Buffer datagram = CrashDatagram(PackageOfZeros(dump, kLargestPackage));
    ASSERT_LE(datagram.size(), kLargestPackage + 43);
    auto session = Start(Limits());
    session->Handle(View(datagram), kSender, 1000);
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_LE(lines_[1].size(), 24 * 1024u) << claimed;
    bool read = claimed <= kDefaultNetworkDumpBytes;
    EXPECT_EQ(lines_[1].find("\"user_info3\":\"") != std::string::npos, read) << lines_[1].substr(0, 400);
    EXPECT_NE(lines_[1].find("minidump too large: inflated no more than 8388608 bytes"), std::string::npos);
  }
}

TEST_F(Limited, StreamDirectoryEntriesAreCapped) {
  std::vector<DirectoryEntry> many(100000, DirectoryEntry{0x10001, 16, 0});
  Buffer dump = SyntheticMinidump(many, 0);
  MinidumpInfo info = ReadMinidump(View(dump));
  EXPECT_EQ(info.stream_types.size(), kMaxStreams);
  EXPECT_EQ(info.error, "stream directory of 100000 entries: read the first 128");
  // A count that the file cannot hold is no better than one it can.
  Buffer liar = SyntheticMinidump({{0x10001, 16, 0}}, 0, 0xFFFFFFFF);
  liar.resize(32 + 12 * kMaxStreams, 0);
  info = ReadMinidump(View(liar));
  EXPECT_EQ(info.stream_types.size(), kMaxStreams);
  EXPECT_EQ(info.error.rfind("stream directory of 4294967295 entries", 0), 0u) << info.error;
}

TEST_F(Limited, ThreadAndModuleListsAreCapped) {
  Buffer dump = ListsDump(40000, 60000, kMaxModuleNameUnits + 1000);
  ASSERT_LE(dump.size(), kDefaultNetworkDumpBytes);
  CrashReport report;
  ReadCrashDump(View(dump), &report);
  ASSERT_TRUE(report.minidump.thread_ids && report.minidump.modules);
  EXPECT_EQ(report.minidump.thread_ids->size(), kMaxListEntries);
  EXPECT_EQ(report.minidump.modules->size(), kMaxListEntries);
  size_t units = 0;
  for (const std::u16string& n : *report.minidump.modules) units += n.size();
  EXPECT_LE(units * 2, kMaxModuleNameBytesTotal);
  EXPECT_EQ((*report.minidump.modules)[0].size(), kMaxModuleNameUnits);
  std::string line = CrashReportJson(report, CrashReportFiles());
  EXPECT_LE(line.size(), kMaxCrashLineBytes);
  EXPECT_GT(line.size(), kMaxCrashLineBytes / 2) << "the input no longer reaches the bound it tests";
}

// A small package of a dump whose modules all name one long non-ASCII name: the line is cut in
// proportion to what arrived.
TEST_F(Limited, CrashLineInProportionToThePackage) {
  Buffer package = BuildPackage(ListsDump(1024, 0, kMaxModuleNameUnits));
  ASSERT_LT(package.size(), 8000u);
  CrashReport report;
  ReadCrashReport(View(package), kDefaultNetworkDumpBytes, &report);
  ASSERT_EQ(report.minidump.modules->size(), 1024u);
  std::string line = CrashReportJson(report, CrashReportFiles());
  EXPECT_LE(line.size(), kCrashLineBaseBytes + kCrashLinePerByte * package.size());
  EXPECT_NE(line.find("of 1024 modules and 0 of 0 thread ids, in proportion to the package's size\"]}"), std::string::npos)
      << line.substr(line.size() - 300);
}

TEST_F(Limited, SenderRateOfCrashPackages) {
  Buffer datagram = CrashDatagram(BuildPackage(ReadFile(DataPath("crash.dmp"))));
  Limits limits;
  auto session = Start(limits);
  const int sent = 40;
  for (int i = 0; i < sent; ++i) session->Handle(View(datagram), kSender, 1000 + i * 0.01);
  session->Handle(View(datagram), kSender + 1, 1000.5);  // another address has a bucket of its own
  int unpacked = 0, refused = 0;
  for (const std::string& line : lines_) {
    if (line.find("\"event\":\"crash_report\"") == std::string::npos) continue;
    bool was_refused = line.find("not unpacked: the sender is over its rate of crash packages") != std::string::npos;
    (was_refused ? refused : unpacked)++;
  }
  EXPECT_EQ(unpacked, static_cast<int>(limits.sender.crash_packages_burst) + 1);
  EXPECT_EQ(refused, sent - static_cast<int>(limits.sender.crash_packages_burst));
  // A minute later the bucket has refilled by the rate per minute.
  lines_.clear();
  for (int i = 0; i < sent; ++i) session->Handle(View(datagram), kSender, 1060.5);
  int later = 0;
  for (const std::string& line : lines_) later += line.find("\"minidump_valid\":true") != std::string::npos;
  EXPECT_EQ(later, static_cast<int>(limits.sender.crash_packages_per_minute));
}

TEST_F(Limited, SenderRateOfSavedBytes) {
  Limits limits;
  limits.sender.saved_bytes_burst = 10 * 64512.0;
  auto session = Start(limits);
  Buffer blob = EncodeDatagram(WithKind(4), DataPayload(7, Buffer(64512, 0x42)));
  for (int i = 0; i < 30; ++i) session->Handle(View(blob), kSender, 1000);
  int saved = 0, refused = 0;
  for (const std::string& line : lines_) {
    saved += line.find("\"file\":\"") != std::string::npos;
    refused += line.find(R"("file":null,"file_error":"not saved: the sender is over its rate of saved bytes")") !=
               std::string::npos;
  }
  EXPECT_EQ(saved, 10);
  EXPECT_EQ(refused, 20);
}

TEST_F(Limited, SenderTableStaysBoundedUnderForgedAddresses) {
  SenderRates rates;
  SenderRate rate(rates, 1000);
  for (uint32_t address = 0; address < 100000; ++address) rate.Take(address, SenderRate::kCrashPackages, 1, 5);
  EXPECT_LE(rate.tracked(), 1000u);
  // Forged addresses beyond the table share one bucket: its burst, not one burst each.
  int taken = 0;
  for (uint32_t address = 200000; address < 200100; ++address) taken += rate.Take(address, SenderRate::kCrashPackages, 1, 5);
  EXPECT_LE(taken, static_cast<int>(rates.crash_packages_burst));
  // Once the buckets have filled up again, the idle senders are forgotten and new ones tracked.
  EXPECT_TRUE(rate.Take(300000, SenderRate::kCrashPackages, 1, 5 + 3600));
}

TEST_F(Limited, DiskBudget) {
  DiskBudget budget(3 * 64512 + 100);
  budget.CountExisting(dir_, dir_ + "/collector.db");
  auto session = Start(Limits(), &budget);
  Buffer blob = EncodeDatagram(WithKind(4), DataPayload(7, Buffer(64512, 0x42)));
  for (int i = 0; i < 5; ++i) session->Handle(View(blob), kSender + i, 1000);
  int refused = 0;
  for (const std::string& line : lines_) {
    refused += line.find(R"("file":null,"file_error":"not saved: the disk budget is spent")") != std::string::npos;
  }
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(BytesUnder(dir_), 3 * 64512u);
  // A crash report's files need room for the whole inflated dump: none is left.
  session->Handle(View(CrashDatagram(BuildPackage(ReadFile(DataPath("crash.dmp"))))), kSender + 9, 1000);
  EXPECT_NE(lines_.back().find("disk budget spent: the report's files were not saved"), std::string::npos) << lines_.back();
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/report-1"));
  // What an earlier run left counts too.
  DiskBudget next_run(4 * 64512);
  next_run.CountExisting(dir_, dir_ + "/collector.db");
  EXPECT_EQ(next_run.used(), 3 * 64512u);  // the package's own blob file did not fit either
}

// The most one datagram can make the collector print, save and hold, against the datagram's size:
// the line bound for the crash_report line and the inflate cap for the files.
TEST_F(Limited, AmplificationOfOneDatagram) {
  const std::vector<Buffer> hostile = {
      CrashDatagram(PackageOfZeros(SyntheticMinidump(TextStreamsOver(kDefaultNetworkDumpBytes), kPiece), kLargestPackage)),
      CrashDatagram(PackageOfZeros(SyntheticMinidump({}, kPiece), kLargestPackage)),
      CrashDatagram(PackageOfZeros(SyntheticMinidump(TextStreamsOver(kPiece), kPiece), 200)),
      CrashDatagram(BuildPackage(ListsDump(1024, 1024, kMaxModuleNameUnits))),
      EncodeDatagram(WithKind(2), DataPayload(9, Buffer(512, 0))),
      EncodeDatagram(Header(), NumbersPayload(std::vector<std::pair<uint32_t, uint32_t>>(50, {0xFFFFFFFF, 0xFFFFFFFF}))),
  };
  for (const Buffer& datagram : hostile) {
    lines_.clear();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directory(dir_);
    auto session = Start(Limits());
    session->Handle(View(datagram), kSender, 1000);
    uint64_t printed = 0;
    for (const std::string& line : lines_) printed += line.size() + 1;
    uint64_t saved = BytesUnder(dir_);
    EXPECT_LE(printed, kMaxDatagramLineBytes + kMaxCrashLineBytes) << datagram.size();
    // Stated: at most 8 times the datagram on standard output, plus 33 KiB.
    EXPECT_LE(printed, 8 * datagram.size() + 33 * 1024) << datagram.size();
    // Stated: the blob, and the report's files within twice the inflate cap (minidump.dmp and the
    // screenshot inside it) and its line.
    EXPECT_LE(saved, datagram.size() + 2 * kDefaultNetworkDumpBytes + kMaxCrashLineBytes) << datagram.size();
  }
}

}  // namespace
