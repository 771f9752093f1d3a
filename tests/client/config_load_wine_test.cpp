// HVInfo.conf as the library reads it, with the Windows private-profile reader: the crash
// report's four keys beside the old ones. The configuration loads once per process, so this
// program has one case.
#include <gtest/gtest.h>

#include "client/client_state_win.h"
#include "client/config_load_win.h"
#include "tests/crashmodule/scratch_directory_win.h"

namespace {

TEST(ConfigLoad, ReadsTheCrashKeysFromHVInfoConf) {
  ScratchDirectory directory;
  directory.Write("HVInfo.conf",
                  "[HVINFO]\r\n"
                  "ServerHost=10.1.2.3:999\r\n"
                  "ClientRepeatSend=0\r\n"
                  "CrashSummary=1\r\n"
                  "CrashPackageWhole=1\r\n"
                  "CrashPackageRate=300\r\n"
                  "CrashPackageLimit=99999999\r\n");
  LoadClientConfig();
  EXPECT_STREQ(g_client_config.chosen_host, "10.1.2.3");
  EXPECT_EQ(g_client_config.chosen_port, 999);
  EXPECT_EQ(g_client_config.send_attempts, 1u);
  EXPECT_TRUE(g_client_config.crash_summary);
  EXPECT_TRUE(g_client_config.crash_package_whole);
  EXPECT_EQ(g_client_config.crash_package_rate, 300u * 1024u);
  EXPECT_EQ(g_client_config.crash_package_limit, 65536u * 1024u) << "held to the ceiling";
}

}  // namespace
