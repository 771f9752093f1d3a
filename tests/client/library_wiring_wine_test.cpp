// The library as it is wired: its one module object exists before main with the settings of the
// directory it loaded in, and its Init installs the crash capture's filter.
#include <windows.h>

#include <gtest/gtest.h>

#include "client/library_wiring_win.h"
#include "crashcapture/crash_filter_win.h"
#include "crashmodule/vx_exception.h"

namespace {

TEST(LibraryWiring, TheModuleExistsBeforeMainAndStays) {
  VXException* module = GetVXException();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module, GetVXException());
  EXPECT_STREQ(module->GetName(), "VXException");
  EXPECT_EQ(module->GetLevelFlags(kLogFatalException) & 0x104u, 0x104u);
}

TEST(LibraryWiring, InitMakesTheCrashCapturesFilterTheTopLevelOne) {
  LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(nullptr);
  EXPECT_TRUE(GetVXException()->Init());
  LPTOP_LEVEL_EXCEPTION_FILTER installed = SetUnhandledExceptionFilter(before);
  EXPECT_EQ(installed, &VXExceptionUnhandledExceptionFilter);
}

}  // namespace
