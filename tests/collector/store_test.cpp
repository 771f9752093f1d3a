// The store's round trip: what the receiver and the crash worker put in is what the pages read
// back, crashes are grouped by signature, and the writer's queue says what it could not keep.
#include "store/store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "hand_made_crash.h"
#include "store/crash_grouping.h"
#include "store/store_writer.h"

using namespace collector;
using namespace collector_test;

namespace {

class StoreRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/collector_store_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::string error;
    store_ = Store::Open(dir_ + "/collector.db", false, &error);
    ASSERT_TRUE(store_) << error;
  }
  void TearDown() override {
    store_.reset();
    std::filesystem::remove_all(dir_);
  }

  static StoredReport Report(uint32_t kind, const char* machine, double received) {
    StoredReport d;
    d.received = received;
    d.sender = 0x7F000001;
    d.kind = kind;
    std::snprintf(d.machine_id, sizeof d.machine_id, "%s", machine);
    d.identity4 = 300;
    d.identity3 = 20;
    d.identity1 = 7;
    return d;
  }

  std::string dir_;
  std::unique_ptr<Store> store_;
};

constexpr char kMachineA[] = "0123456789ABCDEF";
constexpr char kMachineB[] = "FEDCBA9876543210";

TEST_F(StoreRoundTrip, DatagramsBecomeReportsPerKey) {
  std::vector<StoredReport> batch;
  StoredReport number = Report(KIND_NUMBERS, kMachineA, 7200.5);
  number.wire_key = 0x00140005;
  number.value = 1000;
  batch.push_back(number);
  number.wire_key = 0x00140064;
  number.value = 0xFFFFFFFF;
  batch.push_back(number);
  StoredReport profile = Report(KIND_TEXT, kMachineA, 7300);
  profile.wire_key = 0x00140012;
  profile.text = "id=0123456789ABCDEF&cname=" + kGbkText;
  batch.push_back(profile);
  StoredReport newer = profile;
  newer.received = 7400;
  newer.text = "id=0123456789ABCDEF&cname=newer";
  batch.push_back(newer);
  StoredReport blob = Report(KIND_BLOB, kMachineB, 3600);
  blob.wire_key = 7;
  blob.blob_length = 3;
  blob.blob_fnv1a64 = 0xE71FA2190541574Bull;
  blob.blob_file = "/out/blob-1.bin";
  batch.push_back(blob);
  StoredReport invalid;
  invalid.received = 7000;
  invalid.size = 3;
  invalid.invalid_reason = "short header";
  batch.push_back(invalid);
  ASSERT_TRUE(store_->AddReports(batch));

  EXPECT_EQ(store_->HardwareProfile(kMachineA), newer.text);
  EXPECT_FALSE(store_->HardwareProfile(kMachineB));
  EXPECT_EQ(store_->InvalidDatagrams(), 1);

  std::vector<LatestValue> latest = store_->LatestValues();
  ASSERT_EQ(latest.size(), 4u);  // keys 5, 7, 18, 100
  EXPECT_EQ(latest[0].key, 5u);
  EXPECT_EQ(latest[0].value, 1000);
  EXPECT_EQ(latest[1].key, 7u);
  EXPECT_EQ(latest[1].kind, "blob");
  EXPECT_EQ(latest[1].blob_length, 3u);
  EXPECT_EQ(latest[2].key, 18u);
  EXPECT_EQ(latest[2].text, newer.text);
  EXPECT_EQ(latest[2].reports, 2);
  EXPECT_EQ(latest[3].value, 0xFFFFFFFF);  // unsigned on the wire, kept unsigned

  // Hour buckets: 3600 holds the blob, 7200 the rest.
  std::vector<KeyActivity> activity = store_->ReportsPerKey(24, 7400);
  ASSERT_EQ(activity.size(), 4u);
  EXPECT_EQ(activity[1].key, 7u);
  ASSERT_EQ(activity[1].buckets.size(), 1u);
  EXPECT_EQ(activity[1].buckets[0], std::make_pair(3600.0, int64_t{1}));
  EXPECT_EQ(activity[2].key, 18u);
  EXPECT_EQ(activity[2].total, 2);
  // Older buckets than asked for are left out.
  EXPECT_EQ(store_->ReportsPerKey(1, 7400).size(), 3u);
  // A later batch adds to the counts and moves each key's latest report on.
  StoredReport later = number;
  later.value = 5;
  later.received = 7500;
  ASSERT_TRUE(store_->AddReports({later}));
  latest = store_->LatestValues();
  EXPECT_EQ(latest[3].value, 5);
  EXPECT_EQ(latest[3].reports, 2);
  EXPECT_EQ(store_->ReportsPerKey(1, 7500)[2].total, 2);
}

TEST_F(StoreRoundTrip, CrashComesBackWhole) {
  StoredCrash crash = HandMadeCrash(kMachineA, 5000, "DrawScene(Scene const&) | RunFrame<Game>(int)");
  crash.cut = {"user_info3 of 9999 bytes cut to the client's 2048"};
  int64_t id = store_->AddCrash(crash);
  ASSERT_GT(id, 0);
  std::optional<CrashRecord> back = store_->Crash(id);
  ASSERT_TRUE(back);
  const StoredCrash& c = back->crash;
  EXPECT_EQ(c.machine_id, kMachineA);
  ASSERT_TRUE(c.identities);
  EXPECT_EQ(c.identities->identity1, 4242);
  EXPECT_EQ(c.extra_info, crash.extra_info);
  EXPECT_EQ(c.user_info2, std::string());  // blank, not absent
  EXPECT_EQ(c.user_info3, kScriptText);
  EXPECT_EQ(c.cut, crash.cut);
  const CrashAnalysis& a = c.analysis;
  EXPECT_EQ(a.exception_name, "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_EQ(a.exception_address, 0x140001234u);
  EXPECT_EQ(a.notes, crash.analysis.notes);
  ASSERT_EQ(a.modules.size(), 2u);
  EXPECT_EQ(a.modules[1].debug_id, "0123456789ABCDEF0123456789ABCDEF1");
  EXPECT_TRUE(a.modules[1].system);
  ASSERT_EQ(a.threads.size(), 2u);
  ASSERT_EQ(a.threads[0].frames.size(), 5u);
  const AnalyzedFrame& top = a.threads[0].frames[0];
  EXPECT_EQ(top.trust, FrameTrust::kContext);
  ASSERT_EQ(top.symbols.size(), 2u);
  EXPECT_EQ(top.symbols[0].function, "Vec3::Length");
  EXPECT_EQ(top.symbols[1].file, "src/render.cpp");
  EXPECT_EQ(top.symbols[1].line, 88u);
  EXPECT_EQ(a.threads[0].frames[1].trust, FrameTrust::kUnwindInfo);
  EXPECT_EQ(a.threads[0].frames[2].trust, FrameTrust::kFramePointer);
  EXPECT_EQ(a.threads[0].frames[4].module, -1);
  EXPECT_TRUE(a.threads[0].frames[3].symbols.empty());
  EXPECT_EQ(a.threads[1].frames[0].module_offset, 0x2000u);
  EXPECT_FALSE(store_->Crash(id + 1));
}

TEST_F(StoreRoundTrip, CrashesAreGroupedBySignature) {
  const std::string same = "DrawScene(Scene const&) | RunFrame<Game>(int)";
  ASSERT_GT(store_->AddCrash(HandMadeCrash(kMachineA, 5000, same)), 0);
  ASSERT_GT(store_->AddCrash(HandMadeCrash(kMachineB, 9000, same)), 0);
  ASSERT_GT(store_->AddCrash(HandMadeCrash(kMachineB, 7000, same)), 0);
  StoredCrash other = HandMadeCrash(kMachineA, 6000, "LoadLevel");
  other.identities->identity4 = 301;
  int64_t other_id = store_->AddCrash(other);
  StoredCrash unnamed = HandMadeCrash("", 6500, "");
  unnamed.identities.reset();
  int64_t unnamed_id = store_->AddCrash(unnamed);

  std::vector<CrashGroupRow> groups = store_->CrashGroups();
  ASSERT_EQ(groups.size(), 3u);
  // Latest first.
  EXPECT_EQ(groups[0].signature, same);
  EXPECT_EQ(groups[0].crashes, 3);
  EXPECT_EQ(groups[0].machines, 2);
  EXPECT_EQ(groups[0].first_seen, 5000);
  EXPECT_EQ(groups[0].last_seen, 9000);
  ASSERT_EQ(groups[0].builds.size(), 1u);
  EXPECT_EQ(groups[0].builds[0].identity4, 300);
  EXPECT_EQ(groups[1].signature, "EXCEPTION_ACCESS_VIOLATION (no frame named)");
  EXPECT_EQ(groups[1].latest_crash, unnamed_id);
  EXPECT_EQ(groups[1].machines, 0);
  EXPECT_TRUE(groups[1].builds.empty());
  EXPECT_EQ(groups[2].latest_crash, other_id);
  EXPECT_EQ(groups[2].builds[0].identity4, 301);

  std::vector<CrashListRow> listed = store_->CrashesInGroup(groups[0].id);
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].received, 9000);
  EXPECT_EQ(listed[2].machine_id, kMachineA);
  EXPECT_EQ(store_->CrashGroup(groups[0].id)->crashes, 3);
  EXPECT_FALSE(store_->CrashGroup(999));
}

TEST(CrashGrouping, KeyWhenNoFrameCouldBeNamed) {
  struct Case {
    bool has_exception;
    uint32_t code;
    const char* name;
    const char* signature;
    const char* key;
  };
  const Case cases[] = {
      {true, 0xC0000005, "EXCEPTION_ACCESS_VIOLATION", "Foo | Bar", "Foo | Bar"},
      {true, 0xC0000005, "EXCEPTION_ACCESS_VIOLATION", "", "EXCEPTION_ACCESS_VIOLATION (no frame named)"},
      {true, 0xE0434352, "", "", "exception 0xE0434352 (no frame named)"},
      {false, 0, "", "", "(no exception in the dump)"},
  };
  for (const Case& c : cases) {
    CrashAnalysis a;
    a.has_exception = c.has_exception;
    a.exception_code = c.code;
    a.exception_name = c.name;
    a.signature = c.signature;
    EXPECT_EQ(GroupingKey(a), c.key);
  }
}

TEST_F(StoreRoundTrip, ReopenedStoreKeepsItsRowsAndRefusesAnotherVersion) {
  ASSERT_GT(store_->AddCrash(HandMadeCrash(kMachineA, 5000, "X")), 0);
  store_.reset();
  std::string error;
  store_ = Store::Open(dir_ + "/collector.db", true, &error);
  ASSERT_TRUE(store_) << error;
  EXPECT_EQ(store_->CrashGroups().size(), 1u);
  store_.reset();
  store_ = Store::Open(dir_ + "/collector.db", false, &error);
  ASSERT_TRUE(store_);
  ASSERT_TRUE(Execute(store_->db(), "UPDATE store_version SET version = 99", &error));
  store_.reset();
  EXPECT_FALSE(Store::Open(dir_ + "/collector.db", false, &error));
  EXPECT_NE(error.find("version 99"), std::string::npos) << error;
}

// A store an older collector wrote has no tables for wire ids and summaries: it opens as it is,
// keeps its crashes, and gains them.
TEST_F(StoreRoundTrip, StoreWithoutTheWireTablesGainsThem) {
  const int64_t old = store_->AddCrash(HandMadeCrash(kMachineA, 5000, "X"));
  ASSERT_GT(old, 0);
  std::string error;
  ASSERT_TRUE(Execute(store_->db(),
                      "DROP TABLE crash_wire; DROP TABLE crash_summaries; DROP INDEX crashes_by_machine;", &error))
      << error;
  store_.reset();
  store_ = Store::Open(dir_ + "/collector.db", false, &error);
  ASSERT_TRUE(store_) << error;
  ASSERT_TRUE(store_->Crash(old));
  EXPECT_FALSE(store_->Crash(old)->crash.wire_id);
  StoredCrash summary = HandMadeCrash(kMachineA, 6000, "Y");
  summary.source = "summary";
  summary.wire_id = 77;
  summary.summary = SummaryRecord{6000, 77, "x64", 36, "last words", true, false};
  const int64_t id = store_->AddCrash(summary);
  ASSERT_GT(id, 0);
  // The same wire id from another machine is another crash.
  StoredCrash elsewhere = summary;
  elsewhere.machine_id = "FEDCBA9876543210";
  EXPECT_NE(store_->AddCrash(elsewhere), id);
  std::optional<CrashRecord> read = store_->Crash(id);
  ASSERT_TRUE(read && read->crash.summary);
  EXPECT_EQ(read->crash.summary->message, "last words");
  EXPECT_TRUE(read->crash.summary->message_cut);
  // A whole package of the same crash replaces the analysis, in the group of its own signature.
  StoredCrash whole = HandMadeCrash(kMachineA, 6010, "Z");
  whole.wire_id = 77;
  whole.whole = true;
  EXPECT_EQ(store_->AddCrash(whole), id);
  read = store_->Crash(id);
  EXPECT_EQ(read->crash.analysis.signature, "Z");
  EXPECT_EQ(read->crash.source, "network");
  EXPECT_EQ(read->crash.analysis.threads.size(), whole.analysis.threads.size());
  std::vector<std::string> signatures;
  for (const CrashGroupRow& g : store_->CrashGroups()) signatures.push_back(g.signature + "=" + std::to_string(g.crashes));
  std::sort(signatures.begin(), signatures.end());
  EXPECT_EQ(signatures, (std::vector<std::string>{"X=1", "Y=1", "Z=1"}));  // Y: the other machine's
  // A cut package after it leaves the whole one's analysis.
  StoredCrash cut = HandMadeCrash(kMachineA, 6020, "W");
  cut.wire_id = 77;
  EXPECT_EQ(store_->AddCrash(cut), id);
  EXPECT_EQ(store_->Crash(id)->crash.analysis.signature, "Z");
}

TEST_F(StoreRoundTrip, WriterStoresInTheBackgroundAndCountsWhatItCouldNotKeep) {
  std::string error;
  {
    StoreWriter writer(Store::Open(dir_ + "/collector.db", false, &error), nullptr);
    for (uint32_t i = 0; i < 50; ++i) {
      std::vector<StoredReport> rows;
      for (uint32_t j = 0; j < 100; ++j) {
        StoredReport r = Report(KIND_NUMBERS, kMachineA, 100 + i);
        r.wire_key = 5;
        r.value = i * 100 + j;
        rows.push_back(r);
      }
      ASSERT_EQ(writer.Add(&rows), 100u);
      EXPECT_TRUE(rows.empty());
    }
    writer.Drain();
    EXPECT_EQ(writer.stored(), 5000u);
    EXPECT_EQ(writer.dropped(), 0u);
  }
  EXPECT_EQ(store_->LatestValues()[0].reports, 5000);
  // A queue with no room keeps nothing, and says so.
  StoreWriter full(Store::Open(dir_ + "/collector.db", false, &error), nullptr, 3);
  std::vector<StoredReport> five(5, Report(KIND_NUMBERS, kMachineA, 1));
  EXPECT_LE(full.Add(&five), 3u);
  full.Drain();
  EXPECT_EQ(full.dropped() + full.stored(), 5u);
  EXPECT_GE(full.dropped(), 2u);
  // A spent disk budget stores nothing more.
  DiskBudget budget(1);
  budget.SetStoreBytes(store_->DiskBytes());
  StoreWriter spent(Store::Open(dir_ + "/collector.db", false, &error), &budget);
  std::vector<StoredReport> one(1, Report(KIND_NUMBERS, kMachineA, 1));
  spent.Add(&one);
  spent.Drain();
  EXPECT_EQ(spent.dropped(), 1u);
}

}  // namespace
