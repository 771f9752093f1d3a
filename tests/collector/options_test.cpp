#include "options.h"

#include <gtest/gtest.h>

#include <vector>

using collector::Options;
using collector::ParseOptions;

namespace {

bool Parse(std::vector<const char*> args, Options* options) {
  args.insert(args.begin(), "collector");
  std::string error;
  return ParseOptions(static_cast<int>(args.size()), args.data(), options, &error);
}

}  // namespace

TEST(CollectorOptions, Defaults) {
  Options o;
  ASSERT_TRUE(Parse({}, &o));
  EXPECT_EQ(o.listen_address, "127.0.0.1");
  EXPECT_EQ(o.listen_port, 12345);
  EXPECT_EQ(o.out_dir, "collected");
  EXPECT_FALSE(o.raw);
  EXPECT_EQ(o.exit_after, 0u);
  EXPECT_EQ(o.idle_timeout, 0);
  EXPECT_EQ(o.db_path, "collected/collector.db");
  EXPECT_FALSE(o.http);
  EXPECT_EQ(o.limits.max_dump_bytes, collector::kDefaultNetworkDumpBytes);
  EXPECT_EQ(o.limits.max_rebuilt_dump_bytes, collector::kDefaultRebuiltDumpBytes);
}

TEST(CollectorOptions, ServiceOptions) {
  Options o;
  ASSERT_TRUE(Parse({"--out", "/tmp/x", "--http", "8080", "--symbols", "/syms", "--max-dump-mib", "2",
                     "--disk-budget-mib", "10", "--sender-crashes-per-minute", "3", "--sender-mib-per-minute", "0.5"},
                    &o));
  EXPECT_EQ(o.db_path, "/tmp/x/collector.db");
  EXPECT_TRUE(o.http);
  EXPECT_EQ(o.http_address, "127.0.0.1");  // loopback unless an address is given
  EXPECT_EQ(o.http_port, 8080);
  EXPECT_EQ(o.symbols_dir, "/syms");
  EXPECT_EQ(o.limits.max_dump_bytes, 2u << 20);
  EXPECT_EQ(o.limits.max_rebuilt_dump_bytes, 2u << 20);  // given, it bounds every package
  EXPECT_EQ(o.limits.disk_budget_bytes, 10u << 20);
  EXPECT_EQ(o.limits.sender.crash_packages_per_minute, 3);
  EXPECT_EQ(o.limits.sender.saved_bytes_per_minute, 0.5);
  Options ingest;
  ASSERT_TRUE(Parse({"--ingest", "TempDump.vgz", "--machine", "0123456789ABCDEF", "--db", "/tmp/s.db",
                     "--http", "0.0.0.0:80"},
                    &ingest));
  EXPECT_EQ(ingest.ingest_file, "TempDump.vgz");
  EXPECT_EQ(ingest.ingest_machine, "0123456789ABCDEF");
  EXPECT_EQ(ingest.db_path, "/tmp/s.db");
  EXPECT_EQ(ingest.http_address, "0.0.0.0");
  EXPECT_EQ(ingest.limits.max_dump_bytes, collector::kDefaultIngestDumpBytes);  // a mailed package comes whole
}

TEST(CollectorOptions, EveryOption) {
  Options o;
  ASSERT_TRUE(Parse({"--listen", "0.0.0.0:0", "--out", "/tmp/x", "--raw", "--exit-after", "7", "--idle-timeout", "0.5"}, &o));
  EXPECT_EQ(o.listen_address, "0.0.0.0");
  EXPECT_EQ(o.listen_port, 0);
  EXPECT_EQ(o.out_dir, "/tmp/x");
  EXPECT_TRUE(o.raw);
  EXPECT_EQ(o.exit_after, 7u);
  EXPECT_DOUBLE_EQ(o.idle_timeout, 0.5);
}

TEST(CollectorOptions, BadCommandLines) {
  const std::vector<std::vector<const char*>> bad = {
      {"--listen"},           {"--listen", "127.0.0.1"},   {"--listen", "127.0.0.1:65536"},
      {"--listen", "host:1"}, {"--listen", "127.0.0.1:"},  {"--listen", "127.0.0.1:-1"},
      {"--exit-after", "0"},  {"--exit-after", "3x"},      {"--idle-timeout", "0"},
      {"--idle-timeout", "nan"}, {"--idle-timeout", "-1"}, {"--out", ""},
      {"--verbose"},
      {"--http", "localhost:80"}, {"--http", "99999"}, {"--machine", "0123456789ABCDEF"},
      {"--ingest", "x", "--machine", "0123456789abcdef"}, {"--ingest", "x", "--machine", "12"},
      {"--max-dump-mib", "0"}, {"--no-store", "--db", "x"}, {"--sender-crashes-per-minute", "-1"},
  };
  for (const auto& args : bad) {
    Options o;
    EXPECT_FALSE(Parse(args, &o)) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}
