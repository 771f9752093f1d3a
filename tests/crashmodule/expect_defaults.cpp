#include "expect_defaults.h"

#include <gtest/gtest.h>

#include "crashmodule/vx_exception.h"

void ExpectFreshDefaults(VXException* module) {
  const uint32_t kLevels[kLogLevelCount] = {0x201, 0x201, 0x104, 0x202, 0x10001, 0x20001, 0x801};
  for (uint32_t level = 0; level < kLogLevelCount; ++level) {
    EXPECT_EQ(module->GetLevelFlags(level), kLevels[level]) << "level " << level;
  }
  EXPECT_STREQ(module->GetMessageBoxTitle(), "Velmor");
  EXPECT_EQ(module->GetExitHook(), nullptr);
  const char* log_name = nullptr;
  EXPECT_EQ(module->GetLogFormat(&log_name), 1u);
  EXPECT_STREQ(log_name, "HVModule.log");
  EXPECT_STREQ(module->GetRemoteLogServer(), "");
  const uint32_t kDumpFlags[kDumpKindCount] = {0x10101, 0x10101, 0x10301};
  for (uint32_t kind = 0; kind < kDumpKindCount; ++kind) {
    const DumpFormat* format = module->GetDumpFormat(kind);
    EXPECT_EQ(format->flags, kDumpFlags[kind]) << "kind " << kind;
    EXPECT_EQ(format->callback, nullptr);
    EXPECT_STREQ(format->server, "");
    EXPECT_STREQ(format->title, "");
    EXPECT_STREQ(format->info1, "");
    EXPECT_STREQ(format->info2, "");
    EXPECT_STREQ(format->info3, "");
  }
  EXPECT_STREQ(module->GetLastMessage(), "");
  EXPECT_EQ(module->GetUserInfoTimeout(), 120u);
  EXPECT_EQ(module->GetRefCount(), 0u);
  char versions[64];
  ASSERT_TRUE(module->ExpandTemplate("<%PRODUCT%|%SERIES%|%VERSION%>", versions, sizeof versions));
  EXPECT_STREQ(versions, "<||>");
}
