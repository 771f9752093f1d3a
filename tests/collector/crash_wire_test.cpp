// The crash report's own datagrams through the session, built by the library's own builders: the
// crash summary's line, packages rebuilt from parts (some lost) into the same report folder as key
// 17's, packages given up, and the store and page of a crash of which only the summary arrived.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>

#include "client/crash_summary_datagram.h"
#include "client/package_part_datagram.h"
#include "client/package_part_encoder.h"
#include "collector_test_support.h"
#include "package_datagrams.h"
#include "pages/pages.h"
#include "reassembly/reassembler.h"
#include "session.h"
#include "store/store.h"

using namespace collector;
using namespace collector_test;
using Json = nlohmann::json;

namespace {

constexpr char kMachine[] = "0123456789ABCDEF";  // the machine of Header(), key 17's datagrams
const DatagramIdentity kWho{kMachine, 7, 20, 300};
constexpr uint32_t kSender = 0x7F000001;
constexpr uint32_t kWireId = 0xBEEF01;
constexpr uint64_t kGameBase = 0x140000000;
constexpr double kStart = 1.7e9;
const uint8_t kGuid[16] = {0x3F, 0x2A, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

SummaryModule Module(const char* name, uint64_t base, uint32_t size) {
  SummaryModule m{};
  m.base = base;
  m.size = size;
  m.time_stamp = 0x65000000;
  m.debug_id_kind = kDebugIdNone;
  std::snprintf(m.name, sizeof m.name, "%s", name);
  return m;
}

// An access violation in game.exe, called from engine.dll, called from game.exe; a third module
// that no frame names, which the builder leaves out.
std::unique_ptr<CrashSummary> GameSummary(uint32_t wire_id) {
  auto s = std::make_unique<CrashSummary>();
  *s = CrashSummary{};
  s->architecture = kArchitectureX64;
  s->crash_id = wire_id;
  s->thread_id = 36;
  s->exception_code = 0xC0000005;
  s->exception_address = kGameBase + 0x1234;
  s->parameter_count = 2;
  s->parameters[0] = 1;
  s->parameters[1] = 0x10;
  for (int i = 0; i < 18; ++i) s->registers[i] = 0x1000 + i;
  s->fault_module = 0;
  s->fault_offset = 0x1234;
  std::snprintf(s->message, sizeof s->message, "%s", "loading level 3");
  s->modules[0] = Module("game.exe", kGameBase, 0x20000);
  s->modules[0].debug_id_kind = kDebugIdPdb70;
  std::memcpy(s->modules[0].signature, kGuid, sizeof kGuid);
  s->modules[0].age = 2;
  std::snprintf(s->modules[0].debug_file, sizeof s->modules[0].debug_file, "%s", "game.pdb");
  s->modules[1] = Module("unused.dll", 0x7FF000000000, 0x1000);
  s->modules[2] = Module("engine.dll", 0x180000000, 0x40000);
  s->module_count = 3;
  s->frames[0] = SummaryFrame{2, 0x2345};
  s->frames[1] = SummaryFrame{0, 0x1111};
  s->frame_count = 2;
  return s;
}

Buffer SummaryDatagram(const CrashSummary& summary) {
  Buffer out(kMaxCrashDatagramSize);
  const size_t length = BuildCrashSummaryDatagram(out.data(), out.size(), kWho, summary);
  out.resize(length);
  return out;
}

// The report's package, as the crash reporter packs user.dmp: small enough for key 17.
Buffer SmallPackage() { return BuildPackage(ReadFile(DataPath("crash.dmp"))); }

// A package larger than key 17's datagram: a real minidump with random bytes behind it.
Buffer LargePackage(Buffer* dump) {
  *dump = ReadFile(DataPath("user.dmp"));
  std::mt19937 rng(5);
  for (int i = 0; i < 200000; ++i) dump->push_back(static_cast<uint8_t>(rng()));
  return BuildPackage(*dump);
}

Buffer KeyDatagram(const Buffer& package) {
  return EncodeDatagram(WithKind(collector::KIND_BLOB), DataPayload(0x00140011, CutPackage(package, collector::kMaxBlobLength)));
}

class CrashWire : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/collector_wire_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    session_.reset();
    processor_.reset();
    store_.reset();
    std::filesystem::remove_all(dir_);
  }

  // Crash jobs run at once, on the test's thread, as the crash worker would run them.
  Session& MakeSession(bool with_store = false, const AnalysisOptions& analysis = AnalysisOptions(),
                       Limits limits = Limits()) {
    if (with_store) {
      std::string error;
      store_ = Store::Open(dir_ + "/collector.db", false, &error);
      EXPECT_TRUE(store_) << error;
    }
    CrashSettings settings{dir_, limits.max_dump_bytes, limits.max_rebuilt_dump_bytes, analysis,
                           with_store ? "http://127.0.0.1:8080" : ""};
    processor_ = std::make_unique<CrashProcessor>(settings, store_.get(), nullptr);
    SessionOutputs outputs;
    outputs.emit = [this](std::string_view line) { lines_.emplace_back(line); };
    outputs.crash = [this](CrashJob&& job) {
      lines_.push_back(processor_->Process(job));
      return true;
    };
    session_ = std::make_unique<Session>(dir_, false, Limits(), nullptr, std::move(outputs));
    return *session_;
  }

  void Send(const Buffer& datagram, double now = kStart) { session_->Handle(View(datagram), kSender, now); }

  // The lines of one event, parsed.
  std::vector<Json> Events(const std::string& name) const {
    std::vector<Json> out;
    for (const std::string& line : lines_) {
      Json j = Json::parse(line);
      if (j["event"] == name) out.push_back(j);
    }
    return out;
  }

  std::string dir_;
  std::vector<std::string> lines_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<CrashProcessor> processor_;
  std::unique_ptr<Session> session_;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(CrashWire, SummaryLineHoldsWhatTheGameSentOnce) {
  MakeSession();
  std::unique_ptr<CrashSummary> summary = GameSummary(kWireId);
  const Buffer datagram = SummaryDatagram(*summary);
  ASSERT_FALSE(datagram.empty());
  Send(datagram);
  Send(datagram, kStart + 1);  // a repeat is not reported again
  ASSERT_EQ(lines_.size(), 1u);
  Json j = Json::parse(lines_[0]);
  EXPECT_EQ(j["event"], "crash_summary");
  EXPECT_EQ(j["machine_id"], kMachine);
  EXPECT_EQ(j["identity4"], 300);
  EXPECT_EQ(j["identity3"], 20);
  EXPECT_EQ(j["identity1"], 7);
  EXPECT_EQ(j["wire_id"], kWireId);
  EXPECT_EQ(j["thread_id"], 36);
  EXPECT_EQ(j["exception_code"], 0xC0000005u);
  EXPECT_EQ(j["exception_flags"], 0);
  EXPECT_EQ(j["exception_address"], kGameBase + 0x1234);
  EXPECT_EQ(j["parameters"], Json::array({1, 0x10}));
  EXPECT_EQ(j["architecture"], "x64");
  EXPECT_EQ(j["registers"].size(), 18u);
  EXPECT_EQ(j["registers"]["rax"], 0x1000);
  EXPECT_EQ(j["registers"]["rip"], 0x1000 + 16);
  EXPECT_EQ(j["fault_module"], "game.exe");
  EXPECT_EQ(j["fault_offset"], 0x1234);
  EXPECT_EQ(j["frames"], Json::parse(R"([{"module":"engine.dll","offset":9029},{"module":"game.exe","offset":4369}])"));
  ASSERT_EQ(j["modules"].size(), 2u);  // unused.dll holds no frame
  EXPECT_EQ(j["modules"][0]["name"], "game.exe");
  EXPECT_EQ(j["modules"][0]["base"], kGameBase);
  EXPECT_EQ(j["modules"][0]["size"], 0x20000);
  EXPECT_EQ(j["modules"][0]["time_stamp"], 0x65000000);
  EXPECT_EQ(j["modules"][0]["debug_file"], "game.pdb");
  EXPECT_EQ(j["modules"][0]["debug_id"], "3F2A112233445566778899AABBCCDDEE2");
  EXPECT_EQ(j["modules"][1]["name"], "engine.dll");
  EXPECT_TRUE(j["modules"][1]["debug_id"].is_null());
  EXPECT_EQ(j["message"], "loading level 3");
  EXPECT_EQ(j["message_cut"], false);
  EXPECT_EQ(j["frames_cut"], false);
  EXPECT_FALSE(j.contains("crash_id"));  // no store
}

TEST_F(CrashWire, SummaryOutsideEveryModuleAndOn32Bits) {
  MakeSession();
  std::unique_ptr<CrashSummary> summary = GameSummary(kWireId);
  summary->architecture = kArchitectureX86;
  summary->fault_module = -1;
  summary->fault_offset = 0;
  summary->exception_address = 0x10;
  summary->frames[0] = SummaryFrame{0, 0x1111};
  summary->frame_count = 1;
  std::snprintf(summary->modules[0].name, sizeof summary->modules[0].name, "%s", "\xE6\xB8\xB8\xE6\x88\x8F.exe");
  Send(SummaryDatagram(*summary));
  ASSERT_EQ(lines_.size(), 1u);
  Json j = Json::parse(lines_[0]);
  EXPECT_TRUE(j["fault_module"].is_null());
  EXPECT_EQ(j["architecture"], "x86");
  EXPECT_EQ(j["registers"].size(), 10u);
  EXPECT_TRUE(j["registers"].contains("eip"));
  // The module's UTF-8 name comes out as the same characters.
  EXPECT_EQ(j["frames"][0]["module"], "\xE6\xB8\xB8\xE6\x88\x8F.exe");
  EXPECT_TRUE(Has(lines_[0], R"("module":"\u6e38\u620f.exe")")) << lines_[0];
}

TEST_F(CrashWire, PackageInPartsWithLossesBecomesAWholeReport) {
  MakeSession();
  Buffer dump;
  const Buffer package = LargePackage(&dump);
  ASSERT_GT(package.size(), collector::kMaxBlobLength);
  std::vector<Buffer> parts = EncodePackageParts(package, kPackagePartParams, kWho, kWireId);
  ASSERT_GT(parts.size(), 100u);
  // One datagram in thirty lost (no block loses more than its repairs), the rest delivered out of
  // order: the repairs rebuild the lost ones.
  std::vector<Buffer> kept;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i % 30 != 7) kept.push_back(parts[i]);
  }
  ASSERT_LT(kept.size(), parts.size() - 5);
  std::shuffle(kept.begin(), kept.end(), std::mt19937(11));
  for (const Buffer& part : kept) Send(part);
  ASSERT_EQ(lines_.size(), 1u) << "every part is quiet; the package's report is the one line";
  Json report = Json::parse(lines_[0]);
  EXPECT_EQ(report["event"], "crash_report");
  EXPECT_EQ(report["whole"], true);
  EXPECT_EQ(report["wire_id"], kWireId);
  EXPECT_EQ(report["package_bytes"], package.size());
  EXPECT_EQ(report["truncated"], false);
  EXPECT_EQ(report["minidump_valid"], true) << lines_[0];
  const std::string folder = report["dir"];
  EXPECT_EQ(ReadFile(folder + "/package.vgz"), package);
  EXPECT_EQ(ReadFile(folder + "/minidump.dmp"), dump);
  // Late and repeated parts of the finished package are quiet, and open nothing.
  Send(parts[0]);
  Send(parts.back());
  EXPECT_EQ(lines_.size(), 1u);
  EXPECT_EQ(session_->reassembler().stats().open_packages, 0u);
}

// Key 17's one datagram can only carry a cut package, so its bound is small; a rebuilt package is
// whole and may inflate to much more.
TEST_F(CrashWire, RebuiltPackageHasItsOwnInflateBound) {
  Buffer dump;
  const Buffer package = LargePackage(&dump);
  for (bool rebuilt_bound_larger : {true, false}) {
    SCOPED_TRACE(rebuilt_bound_larger);
    lines_.clear();
    Limits limits;
    limits.max_dump_bytes = dump.size() / 2;
    if (!rebuilt_bound_larger) limits.max_rebuilt_dump_bytes = limits.max_dump_bytes;
    MakeSession(false, AnalysisOptions(), limits);
    for (const Buffer& part : EncodePackageParts(package, kPackagePartParams, kWho, kWireId + rebuilt_bound_larger)) {
      Send(part);
    }
    ASSERT_EQ(lines_.size(), 1u);
    Json report = Json::parse(lines_[0]);
    EXPECT_EQ(report["whole"], true);
    EXPECT_EQ(report["minidump_valid"], rebuilt_bound_larger) << lines_[0];
    EXPECT_EQ(report["minidump_bytes"] == dump.size(), rebuilt_bound_larger) << lines_[0];
  }
}

TEST_F(CrashWire, PackageWithTooManyLossesIsGivenUpWhenSilent) {
  MakeSession();
  Buffer dump;
  const Buffer package = LargePackage(&dump);
  std::vector<Buffer> parts = EncodePackageParts(package, kPackagePartParams, kWho, kWireId);
  // Half of everything lost: far more than the repairs cover.
  for (size_t i = 0; i < parts.size(); i += 2) Send(parts[i]);
  EXPECT_TRUE(lines_.empty());
  session_->Expire(kStart + 29);  // not silent for long enough yet
  EXPECT_TRUE(lines_.empty());
  session_->Expire(kStart + 31);
  ASSERT_EQ(lines_.size(), 1u);
  Json lost = Json::parse(lines_[0]);
  EXPECT_EQ(lost["event"], "crash_package_lost");
  EXPECT_EQ(lost["machine_id"], kMachine);
  EXPECT_EQ(lost["wire_id"], kWireId);
  EXPECT_EQ(lost["reason"], "timed out");
  EXPECT_EQ(lost["package_length"], package.size());
  EXPECT_EQ(lost["datagrams"], (parts.size() + 1) / 2);
  EXPECT_GT(lost["missing"]["missing_byte_count"], 0);
  EXPECT_GT(lost["missing"]["short_block_count"], 0);
  EXPECT_EQ(lost["missing"]["blocks"], lost["missing"]["blocks"].get<int>());
  EXPECT_LE(lost["missing"]["missing_byte_count"].get<uint64_t>(), package.size());
  EXPECT_EQ(session_->reassembler().stats().held_bytes, 0u);
}

TEST_F(CrashWire, CollectorStoppingGivesUpWhatIsOpen) {
  MakeSession();
  std::vector<Buffer> parts = EncodePackageParts(SmallPackage(), kPackagePartParams, kWho, kWireId);
  Send(parts[0]);
  session_->Flush();
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(Json::parse(lines_[0])["reason"], "collector stopped");
}

TEST_F(CrashWire, DamagedPartIsAnInvalidLine) {
  MakeSession();
  std::vector<Buffer> parts = EncodePackageParts(SmallPackage(), kPackagePartParams, kWho, kWireId);
  Buffer part = parts[0];
  part.resize(collector::kHeaderSize + 10);  // shorter than a part's own header
  part[collector::kHeaderSize - 4] = part[collector::kHeaderSize - 3] = part[collector::kHeaderSize - 2] = 0;
  part[collector::kHeaderSize - 1] = 10;  // with a payload length that says so
  Send(part);
  ASSERT_EQ(lines_.size(), 1u);
  Json j = Json::parse(lines_[0]);
  EXPECT_EQ(j["event"], "invalid");
  EXPECT_EQ(j["reason"], "short part");
  EXPECT_EQ(session_->invalid_count(), 1u);
}

TEST_F(CrashWire, KeyPackageSaysWhetherItArrivedWhole) {
  MakeSession();
  Send(KeyDatagram(SmallPackage()));
  Buffer dump;
  Send(KeyDatagram(LargePackage(&dump)));
  std::vector<Json> reports = Events("crash_report");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0]["whole"], true);
  EXPECT_EQ(reports[1]["whole"], false);
  EXPECT_EQ(reports[1]["package_bytes"], collector::kMaxBlobLength);
  EXPECT_FALSE(reports[0].contains("wire_id"));
  EXPECT_FALSE(reports[1].contains("wire_id"));
}

TEST_F(CrashWire, SummaryOnlyCrashIsStoredGroupedAndShown) {
  MakeSession(true);
  Send(SummaryDatagram(*GameSummary(kWireId)));
  ASSERT_EQ(lines_.size(), 1u);
  Json j = Json::parse(lines_[0]);
  ASSERT_TRUE(j.contains("crash_id")) << lines_[0];
  const int64_t id = j["crash_id"];
  EXPECT_EQ(j["signature"], "game.exe+0x1234 | engine.dll+0x2345 | game.exe+0x1111");
  EXPECT_EQ(j["page"], "http://127.0.0.1:8080/crash/" + std::to_string(id));

  std::optional<CrashRecord> record = store_->Crash(id);
  ASSERT_TRUE(record);
  const StoredCrash& c = record->crash;
  EXPECT_EQ(c.source, "summary");
  EXPECT_EQ(c.machine_id, kMachine);
  ASSERT_TRUE(c.identities);
  EXPECT_EQ(c.identities->identity1, 7);
  EXPECT_EQ(c.analysis.exception_name, "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_EQ(c.analysis.cpu, "amd64");
  ASSERT_EQ(c.analysis.threads.size(), 1u);
  const std::vector<AnalyzedFrame>& frames = c.analysis.threads[0].frames;
  ASSERT_EQ(frames.size(), 3u);  // the fault, then the summary's two
  EXPECT_EQ(frames[0].trust, FrameTrust::kContext);
  EXPECT_EQ(frames[0].instruction, kGameBase + 0x1234);
  EXPECT_EQ(frames[1].trust, FrameTrust::kSummary);
  EXPECT_EQ(frames[1].instruction, 0x180000000u + 0x2345);
  ASSERT_EQ(c.analysis.modules.size(), 2u);
  EXPECT_EQ(c.analysis.modules[0].debug_id, "3F2A112233445566778899AABBCCDDEE2");
  EXPECT_EQ(c.analysis.modules[1].debug_id, "6500000040000");  // time stamp and size without a PDB
  ASSERT_TRUE(c.summary);
  EXPECT_EQ(c.summary->wire_id, kWireId);
  EXPECT_EQ(c.summary->message, "loading level 3");
  EXPECT_EQ(c.summary->architecture, "x64");
  ASSERT_TRUE(c.wire_id);
  EXPECT_EQ(*c.wire_id, kWireId);
  std::vector<CrashGroupRow> groups = store_->CrashGroups();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].signature, j["signature"]);

  const std::string page = CrashPage(*record, std::nullopt);
  EXPECT_TRUE(Has(page, "id=\"summary-only\"")) << page;
  EXPECT_TRUE(Has(page, "engine.dll + 0x0000000000002345") || Has(page, "engine.dll + 0x00002345")) << page;
  EXPECT_TRUE(Has(page, "<td class=\"trust\">crash summary</td>"));
  EXPECT_TRUE(Has(page, "id=\"summary-message\">loading level 3<"));
  EXPECT_TRUE(Has(page, "wire id " + std::to_string(kWireId)));
}

TEST_F(CrashWire, PackageOfASummarizedCrashTakesItsPlace) {
  MakeSession(true);
  Send(SummaryDatagram(*GameSummary(kWireId)), kStart);
  const int64_t id = Json::parse(lines_[0])["crash_id"];
  // Key 17's cut package of the same machine follows at once: it joins the summary's crash and,
  // telling less than a whole package, leaves its analysis as it is.
  Buffer dump;
  const Buffer package = LargePackage(&dump);
  Send(KeyDatagram(package), kStart + 0.1);
  ASSERT_EQ(Events("crash_report").size(), 1u);
  EXPECT_EQ(Events("crash_report")[0]["crash_id"], id);
  EXPECT_EQ(Events("crash_report")[0]["whole"], false);
  EXPECT_EQ(store_->Crash(id)->crash.source, "summary");
  // Then the whole package, from its parts.
  for (const Buffer& part : EncodePackageParts(package, kPackagePartParams, kWho, kWireId)) Send(part, kStart + 2);
  std::vector<Json> reports = Events("crash_report");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1]["whole"], true);
  EXPECT_EQ(reports[1]["crash_id"], id);
  std::optional<CrashRecord> record = store_->Crash(id);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->crash.source, "network");
  EXPECT_TRUE(record->crash.minidump_valid);
  EXPECT_EQ(record->crash.dir, reports[1]["dir"]);
  EXPECT_EQ(record->crash.package_bytes, package.size());
  ASSERT_TRUE(record->crash.summary);  // still beside it
  EXPECT_EQ(record->crash.summary->message, "loading level 3");
  EXPECT_TRUE(record->crash.whole);
  // One crash in all: the summary's group gave it up for the dump's.
  int64_t crashes = 0;
  for (const CrashGroupRow& group : store_->CrashGroups()) crashes += group.crashes;
  EXPECT_EQ(crashes, 1);
  EXPECT_EQ(store_->CrashGroups().size(), 1u);
  EXPECT_EQ(record->crash.analysis.signature, reports[1].value("signature", ""));
  const std::string page = CrashPage(*record, std::nullopt);
  EXPECT_FALSE(Has(page, "id=\"summary-only\""));
  EXPECT_TRUE(Has(page, "the package that followed gives the analysis on this page"));
  // A summary repeated after the collector forgot it is still the same crash.
  lines_.clear();
  session_->Expire(kStart + 700);
  Send(SummaryDatagram(*GameSummary(kWireId)), kStart + 701);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(Json::parse(lines_[0])["crash_id"], id);
  EXPECT_EQ(store_->Crash(id)->crash.source, "network");
}

TEST_F(CrashWire, KeyPackageLongAfterASummaryIsAnotherCrash) {
  MakeSession(true);
  Send(SummaryDatagram(*GameSummary(kWireId)), kStart);
  session_->Expire(kStart + 120);
  Send(KeyDatagram(SmallPackage()), kStart + 120);
  std::vector<Json> reports = Events("crash_report");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0]["crash_id"], Json::parse(lines_[0])["crash_id"]);
}

// The summary may be all that arrives of a crash: a crash worker with no room still gets its line out.
TEST_F(CrashWire, SummaryIsPrintedWhenTheCrashWorkerHasNoRoom) {
  SessionOutputs outputs;
  outputs.emit = [this](std::string_view line) { lines_.emplace_back(line); };
  outputs.crash = [](CrashJob&&) { return false; };
  Session session(dir_, false, Limits(), nullptr, std::move(outputs));
  session.Handle(View(SummaryDatagram(*GameSummary(kWireId))), kSender, kStart);
  ASSERT_EQ(lines_.size(), 1u);
  Json j = Json::parse(lines_[0]);
  EXPECT_EQ(j["event"], "crash_summary");
  EXPECT_EQ(j["error"], "not stored: the crash worker's queue is full");
  EXPECT_EQ(j["fault_module"], "game.exe");
  EXPECT_EQ(j["frames"].size(), 2u);
  EXPECT_FALSE(j.contains("crash_id"));
}

// The summary's frames symbolized where the symbols folder has the module's binary (here a MinGW
// build with DWARF), and left as module + offset where it has none.
TEST_F(CrashWire, SummaryFramesAreSymbolizedWhereTheBinaryIsAtHand) {
  if (std::system("llvm-symbolizer --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "llvm-symbolizer is not installed (tools/setup.sh installs llvm)";
  }
  const Buffer file = ReadFile(std::string(VX_SAMPLE_DIR) + "/symbol_sample_dwarf.exe");
  ASSERT_GT(file.size(), 0x200u);
  uint32_t lfanew, entry;
  std::memcpy(&lfanew, file.data() + 0x3C, 4);
  std::memcpy(&entry, file.data() + lfanew + 24 + 16, 4);  // AddressOfEntryPoint
  AnalysisOptions analysis;
  analysis.symbols_dir = VX_SAMPLE_DIR;
  MakeSession(true, analysis);
  std::unique_ptr<CrashSummary> summary = GameSummary(kWireId);
  std::snprintf(summary->modules[0].name, sizeof summary->modules[0].name, "%s", "symbol_sample_dwarf.exe");
  summary->modules[0].debug_id_kind = kDebugIdNone;  // matches any build of that name
  summary->modules[0].time_stamp = 0;
  summary->modules[0].size = 0;
  summary->fault_offset = entry;
  summary->exception_address = summary->modules[0].base + entry;
  summary->frames[1] = SummaryFrame{0, entry + 1};  // a return address: the call lies before it
  Send(SummaryDatagram(*summary));
  ASSERT_EQ(lines_.size(), 1u);
  Json j = Json::parse(lines_[0]);
  EXPECT_EQ(j["signature"], "SampleEntry | engine.dll+0x2345 | SampleEntry") << lines_[0];
  std::optional<CrashRecord> record = store_->Crash(j["crash_id"]);
  ASSERT_TRUE(record);
  const std::vector<AnalyzedFrame>& frames = record->crash.analysis.threads[0].frames;
  ASSERT_EQ(frames.size(), 3u);
  ASSERT_EQ(frames[0].symbols.size(), 1u);
  EXPECT_EQ(frames[0].symbols[0].function, "SampleEntry");
  EXPECT_TRUE(frames[1].symbols.empty());
  const std::string page = CrashPage(*record, std::nullopt);
  EXPECT_TRUE(Has(page, ">SampleEntry<")) << page;
  EXPECT_TRUE(Has(page, "symbol_sample.c:"));
  EXPECT_TRUE(Has(page, "engine.dll + 0x"));
}
