#include "session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <random>

#include "datagram_decoder.h"

#include "collector_test_support.h"

using namespace collector;
using namespace collector_test;

namespace {

class CollectorSession : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/collector_session_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Crash packages are processed at once, on the test's thread, as the crash worker would.
  Session MakeSession(bool raw = false, const Limits& limits = Limits()) {
    processor_ = std::make_unique<CrashProcessor>(CrashSettings{dir_, limits.max_dump_bytes, limits.max_rebuilt_dump_bytes, {}, ""}, nullptr, nullptr);
    SessionOutputs outputs;
    outputs.emit = [this](std::string_view line) { lines_.emplace_back(line); };
    outputs.store = [this](StoredReport&& row) { rows_.push_back(std::move(row)); };
    outputs.crash = [this](CrashJob&& job) {
      lines_.push_back(processor_->Process(job));
      return true;
    };
    return Session(dir_, raw, limits, nullptr, std::move(outputs));
  }

  static bool Contains(const std::string& line, const std::string& part) {
    return line.find(part) != std::string::npos;
  }

  std::string dir_;
  std::vector<std::string> lines_;
  std::vector<StoredReport> rows_;
  std::unique_ptr<CrashProcessor> processor_;
};

constexpr uint32_t kSender = 0x7F000001;

}  // namespace

TEST_F(CollectorSession, LinesForEachKind) {
  Session session = MakeSession(true);
  Buffer counter = EncodeDatagram(Header(), NumbersPayload({{0x00140005, 1000}, {0xFFFFFFFF, 0x80000000}}));
  session.Handle(View(counter), kSender, 1e9);
  session.Handle(View(EncodeDatagram(WithKind(KIND_TEXT), DataPayload(0x00140012, Buffer{'i', 'd', '=', 0xB5, '"'}))), kSender, 1e9);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0],
            R"({"event":"datagram","size":51,"protocol":1,"kind":"numbers","machine_id":"0123456789ABCDEF",)"
            R"("identity4":300,"identity3":20,"identity1":7,"payload_length":16,"records":[)"
            R"({"wire_key":1310725,"scope":20,"key":5,"value":1000},)"
            R"({"wire_key":4294967295,"scope":65535,"key":65535,"value":2147483648}],)"
            R"("raw_hex":"0000000100000001303132333435363738394142434445460001)"
            R"(2c001400070000001000140005000003e8ffffffff80000000"})");
  EXPECT_TRUE(Contains(lines_[1], R"("kind":"text")"));
  // The store gets one row per record: two numbers and the text, each with the header's fields.
  ASSERT_EQ(rows_.size(), 3u);
  EXPECT_EQ(rows_[1].wire_key, 0xFFFFFFFFu);
  EXPECT_EQ(rows_[1].value, 0x80000000u);
  EXPECT_EQ(rows_[2].text, "id=\xB5\"");
  EXPECT_EQ(std::string(rows_[2].machine_id), "0123456789ABCDEF");
  EXPECT_EQ(rows_[2].sender, kSender);
  EXPECT_EQ(rows_[0].identity4, 300);
  EXPECT_TRUE(Contains(lines_[1], R"("records":[{"wire_key":1310738,"scope":20,"key":18,"length":5,"text":"id=\u00b5\""}])"));
}

TEST_F(CollectorSession, InvalidDatagramsAreCountedAndNeverStopTheSession) {
  Session session = MakeSession();
  session.Handle(View(Buffer{1, 2, 3}), kSender, 1e9);
  session.Handle(View(EncodeDatagram(WithKind(9), NumbersPayload({{1, 1}}))), kSender, 1e9);
  session.Handle(View(EncodeDatagram(Header(), NumbersPayload({{1, 1}}))), kSender, 1e9);
  ASSERT_EQ(lines_.size(), 3u);
  EXPECT_EQ(lines_[0], R"({"event":"invalid","size":3,"reason":"short header","invalid_count":1})");
  EXPECT_EQ(lines_[1], R"({"event":"invalid","size":43,"reason":"kind","invalid_count":2})");
  EXPECT_TRUE(Contains(lines_[2], R"("event":"datagram")"));
  EXPECT_EQ(session.invalid_count(), 2u);
  ASSERT_EQ(rows_.size(), 3u);
  EXPECT_STREQ(rows_[1].invalid_reason, "kind");
  EXPECT_EQ(rows_[1].size, 43u);
}

TEST_F(CollectorSession, BlobsAreSavedAndNamedInTheirLine) {
  Session session = MakeSession();
  Buffer blob = {'a', 'b', 'c'};
  session.Handle(View(EncodeDatagram(WithKind(KIND_BLOB), DataPayload(7, blob))), kSender, 1e9);
  session.Handle(View(EncodeDatagram(WithKind(KIND_BLOB), DataPayload(7, Buffer(64512, 0x42)))), kSender, 1e9);
  ASSERT_EQ(lines_.size(), 2u);
  // FNV-1a 64 of "abc" is e71fa2190541574b.
  EXPECT_TRUE(Contains(lines_[0], R"("length":3,"fnv1a64":"e71fa2190541574b","file":")" + dir_ + "/blob-1.bin\""));
  EXPECT_EQ(ReadFile(dir_ + "/blob-1.bin"), blob);
  EXPECT_EQ(ReadFile(dir_ + "/blob-2.bin"), Buffer(64512, 0x42));
}

TEST_F(CollectorSession, DumpPackageBecomesAReportFolder) {
  Buffer dump = ReadFile(DataPath("crash.dmp"));
  Buffer package = BuildPackage(dump);
  ASSERT_LT(package.size(), 64512u);
  ASSERT_EQ(mkdir((dir_ + "/report-1").c_str(), 0755), 0);  // left by an earlier run: not touched
  Session session = MakeSession();
  session.Handle(View(EncodeDatagram(WithKind(KIND_BLOB), DataPayload(0x00140011, package))), kSender, 1e9);
  ASSERT_EQ(lines_.size(), 2u);
  const std::string& report = lines_[1];
  const std::string folder = dir_ + "/report-2";
  EXPECT_EQ(report.rfind(R"({"event":"crash_report","dir":")" + folder + R"(","package_bytes":)", 0), 0u) << report;
  EXPECT_TRUE(Contains(report, R"("truncated":false,"chunks":2,"minidump_bytes":)" + std::to_string(dump.size()) +
                                   R"(,"minidump_valid":true,"exception":{"thread_id":)"));
  EXPECT_TRUE(Contains(report, R"("user_info1":"I pressed fire","user_info2":"","user_info3":"\u00d3\u00ce)"));
  EXPECT_TRUE(Contains(report, R"("screenshot":{"bytes":729,"file":")" + folder +
                                   R"(/screenshot.jpg","jpeg_width":37,"jpeg_height":23})"));
  EXPECT_FALSE(Contains(report, R"("error")"));
  EXPECT_EQ(ReadFile(folder + "/package.vgz"), package);
  EXPECT_EQ(ReadFile(folder + "/minidump.dmp"), dump);
  EXPECT_EQ(ReadFile(folder + "/screenshot.jpg"), ReadFile(DataPath("screenshot.jpg")));
  Buffer saved = ReadFile(folder + "/report.json");
  EXPECT_EQ(std::string(saved.begin(), saved.end()), report + "\n");
}

// The client sends at most 64512 bytes of a package. Random bytes after the dump make its later
// chunks large enough to be cut: the first chunk still yields the dump's directory and the lists
// near its start, while the streams behind the cut are reported missing.
TEST_F(CollectorSession, CutPackageIsReportedAsTruncated) {
  Buffer dump = ReadFile(DataPath("user.dmp"));
  Expect expect = ReadExpect(DataPath("user.expect"));
  ASSERT_GT(dump.size(), 131072u);
  std::mt19937 rng(3);
  for (int i = 0; i < 200000; ++i) dump.push_back(static_cast<uint8_t>(rng()));
  Buffer package = BuildPackage(dump);
  ASSERT_GT(package.size(), 64512u);
  package.resize(64512);
  Session session = MakeSession();
  session.Handle(View(EncodeDatagram(WithKind(KIND_BLOB), DataPayload(17, package))), kSender, 1e9);
  ASSERT_EQ(lines_.size(), 2u);
  const std::string& report = lines_[1];
  EXPECT_TRUE(Contains(report, R"("package_bytes":64512,"truncated":true,"chunks":1,"minidump_bytes":131072,)"
                               R"("minidump_valid":false,"error":"minidump: stream )")) << report;
  EXPECT_TRUE(Contains(report, R"("threads":1,"thread_ids":[)" + std::to_string(expect.thread_ids[0]) + "]"))
      << report;
  EXPECT_FALSE(Contains(report, "extra_info"));
  EXPECT_EQ(ReadFile(dir_ + "/report-1/minidump.dmp"), Buffer(dump.begin(), dump.begin() + 131072));
}

TEST_F(CollectorSession, GarbageUnderTheDumpKeyIsStillReported) {
  Session session = MakeSession();
  session.Handle(View(EncodeDatagram(WithKind(KIND_BLOB), DataPayload(0x00140011, Buffer{'n', 'o', 'p', 'e', '!', '!'}))), kSender, 1e9);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_TRUE(Contains(lines_[1], R"("package_bytes":6,"truncated":false,"chunks":0,"minidump_bytes":0,)"
                                  R"("minidump_valid":false,"error":"package: bad magic","whole":true})"))
      << lines_[1];
  // A text under key 17 is only a text.
  session.Handle(View(EncodeDatagram(WithKind(KIND_TEXT), DataPayload(17, Buffer{'x'}))), kSender, 1e9);
  EXPECT_EQ(lines_.size(), 3u);
}
