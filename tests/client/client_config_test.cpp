#include "client/client_config.h"
#include "client/server_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ClientConfig Parse(const char* port, const char* hosts, const char* gather = "0", const char* repeat = "1") {
  ConfigValues values = DefaultConfigValues();
  values.server_port = port;
  values.server_host = hosts;
  values.cycle_gather = gather;
  values.repeat_send = repeat;
  ClientConfig config;
  ParseClientConfig(values, config);
  return config;
}

ClientConfig ParseCrash(const char* summary, const char* whole, const char* rate, const char* limit) {
  ConfigValues values = DefaultConfigValues();
  values.crash_summary = summary;
  values.crash_package_whole = whole;
  values.crash_package_rate = rate;
  values.crash_package_limit = limit;
  ClientConfig config;
  ParseClientConfig(values, config);
  return config;
}

TEST(ConfigInt, ReadsLikeAtoi) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"9000", 9000}, {"  -12x", -12}, {"+7", 7}, {"abc", 0}, {"", 0},
               {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}, {"\t 42 ", 42}};
  for (const Case& c : cases) EXPECT_EQ(ParseConfigInt(c.text), c.value) << c.text;
}

TEST(Config, DefaultsWithoutAFile) {
  ClientConfig config;
  ParseClientConfig(DefaultConfigValues(), config);
  ASSERT_EQ(config.server_count, 1);
  EXPECT_STREQ(config.servers[0].host, "127.0.0.1");
  EXPECT_EQ(config.servers[0].port, 12345);
  EXPECT_EQ(config.cycle_gather, 0);
  EXPECT_EQ(config.send_attempts, 5u) << "the default ClientRepeatSend of 1 means five tries";
}

TEST(Config, CrashAdditionsAreOffByDefault) {
  ClientConfig config;
  ParseClientConfig(DefaultConfigValues(), config);
  EXPECT_FALSE(config.crash_summary);
  EXPECT_FALSE(config.crash_package_whole);
  EXPECT_EQ(config.crash_package_rate, 128u * 1024u);
  EXPECT_EQ(config.crash_package_limit, 2048u * 1024u);
}

TEST(Config, CrashKeys) {
  struct Case {
    const char *summary, *whole, *rate, *limit;
    bool summary_on, whole_on;
    uint32_t rate_kb, limit_kb;
  } cases[] = {
      {"1", "1", "256", "4096", true, true, 256, 4096},
      {"0", "2", "", "", false, true, 128, 2048},          // empty values take the defaults
      {"x", "-1", "0", "abc", false, true, 128, 2048},     // as do zero and what is not a number
      {"1", "0", "-50", "-1", true, false, 128, 2048},     // and negative ones
      {"1", "1", "3", "10", true, true, 16, 64},           // too small: the floor
      {"1", "1", "99999999", "99999999", true, true, 12500, 65536},  // too large: the ceiling
  };
  for (const Case& c : cases) {
    ClientConfig config = ParseCrash(c.summary, c.whole, c.rate, c.limit);
    EXPECT_EQ(config.crash_summary, c.summary_on) << c.summary;
    EXPECT_EQ(config.crash_package_whole, c.whole_on) << c.whole;
    EXPECT_EQ(config.crash_package_rate, c.rate_kb * 1024u) << c.rate;
    EXPECT_EQ(config.crash_package_limit, c.limit_kb * 1024u) << c.limit;
  }
}

TEST(Config, ServerListPiecesAndPorts) {
  ClientConfig config = Parse("9000", ";10.0.0.1:7000;;10.0.0.2;");
  ASSERT_EQ(config.server_count, 2);
  EXPECT_STREQ(config.servers[0].host, "10.0.0.1");
  EXPECT_EQ(config.servers[0].port, 7000);
  EXPECT_STREQ(config.servers[1].host, "10.0.0.2");
  EXPECT_EQ(config.servers[1].port, 9000);

  config = Parse("abc", "a:0;b:x;c:-4;d:65535");
  ASSERT_EQ(config.server_count, 4);
  EXPECT_EQ(config.servers[0].port, 12345) << "a zero port takes the default";
  EXPECT_EQ(config.servers[1].port, 12345) << "a port that is not a number takes the default";
  EXPECT_EQ(config.servers[2].port, 12345);
  EXPECT_EQ(config.servers[3].port, -1) << "ports are kept in 16 signed bits";
  EXPECT_EQ(Parse("0", "h").servers[0].port, 12345);
}

TEST(Config, SeventeenthHostIgnoredAndLongHostsCut) {
  std::string hosts;
  for (int i = 1; i <= 17; ++i) hosts += "10.0.0." + std::to_string(i) + ";";
  ClientConfig config = Parse("1", hosts.c_str());
  EXPECT_EQ(config.server_count, 16);
  EXPECT_STREQ(config.servers[15].host, "10.0.0.16");
  config = Parse("1", "123.123.123.1234567:80");
  EXPECT_STREQ(config.servers[0].host, "123.123.123.123");
  EXPECT_EQ(config.servers[0].port, 80);
}

TEST(Config, EmptyListLeavesNoHostButTheDefaultPort) {
  ClientConfig config = Parse("9000", ";;;");
  EXPECT_EQ(config.server_count, 0);
  uint32_t counter = 1;
  ChooseServer(config, 1000, counter);
  EXPECT_STREQ(config.chosen_host, "");
  EXPECT_EQ(config.chosen_port, 9000);
  EXPECT_EQ(counter, 1u) << "no choice is made";
}

TEST(Config, GatherAndRepeatSend) {
  EXPECT_EQ(Parse("1", "h", "1", "0").send_attempts, 1u);
  EXPECT_EQ(Parse("1", "h", "1", "3").send_attempts, 5u);
  EXPECT_EQ(Parse("1", "h", "2", "1").cycle_gather, 2);
}

TEST(ServerChoice, GeneratorAndIndex) {
  // The runtime's generator seeded with 1 yields 41 first.
  Lcg one{1};
  EXPECT_EQ(one.Next(), 41);
  EXPECT_EQ(one.Next(), 18467);

  ClientConfig config = Parse("9000", "10.0.0.1;10.0.0.2:81;10.0.0.3");
  uint32_t counter = 1;
  const int32_t now = 1700000000;
  ChooseServer(config, now, counter);
  EXPECT_EQ(counter, 2u);
  Lcg expected{uint32_t(now) * 2u};
  int index = expected.Next() % 3;
  EXPECT_STREQ(config.chosen_host, config.servers[index].host);
  EXPECT_EQ(config.chosen_port, config.servers[index].port);

  counter = 1000;
  ChooseServer(config, now, counter);
  EXPECT_EQ(counter, 1u) << "the counter wraps after 1000";
}

}  // namespace
