// Runs a test where top-level windows exist. Wine without a display creates no window at all; Wine's
// null graphics driver has real windows and cross-process messages, but there every modal box blocks
// until answered, so it is never switched on for the whole prefix. Instead the test runs in a child
// program on a desktop of its own that uses the null driver.
#pragma once

#include <gtest/gtest.h>

#include "VrnWindows.h"

namespace TestSupport {

// Starts this test program again with only `fullTestName` selected (disabled tests included) on a
// new desktop with the null graphics driver, and waits at most `timeoutMs`. Success when the child
// reported the test passed; everything the child started is ended when it is done or the time is up.
// Programs the child starts inherit its desktop, so they can find each other's windows.
::testing::AssertionResult RunTestOnNullDisplay(const char* fullTestName, DWORD timeoutMs);

}  // namespace TestSupport

// NULL_DISPLAY_TEST(Suite, Name, timeoutMs) { body }: the body runs as the disabled test
// Suite.DISABLED_Name in a child program on a null-driver desktop; the enabled test Suite.Name
// starts it and fails when it fails, crashes or does not finish within timeoutMs.
#define NULL_DISPLAY_TEST(suite, name, timeoutMs)                                                                 \
  TEST(suite, name) { EXPECT_TRUE(::TestSupport::RunTestOnNullDisplay(#suite ".DISABLED_" #name, (timeoutMs))); } \
  TEST(suite, DISABLED_##name)
