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
  };
  for (const auto& args : bad) {
    Options o;
    EXPECT_FALSE(Parse(args, &o)) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}
