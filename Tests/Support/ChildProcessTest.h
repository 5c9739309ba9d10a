// Runs a test in a child process of the test program with a time limit, so a test of a real
// Windows service that could hang (a box, a wait, a child program) fails instead of blocking the
// suite.
#pragma once

#include <gtest/gtest.h>

#include "VrnWindows.h"

namespace TestSupport {

// Where the child runs. Wine without a display creates no window at all (and a box answers -1 at
// once); Wine's null graphics driver has real windows and cross-process messages, but there every
// modal box blocks until answered, so it is never switched on for the whole prefix: a child that
// needs windows gets a desktop of its own with the null driver.
enum class ChildDisplay { None, Null };

// Starts this test program again with only `fullTestName` selected (disabled tests included) and
// waits at most `timeoutMs`. Success when the child's report says the test ran and passed;
// everything the child started is ended when it is done or the time is up.
::testing::AssertionResult RunTestInChildProcess(const char* fullTestName, DWORD timeoutMs,
                                                 ChildDisplay display = ChildDisplay::None);

}  // namespace TestSupport

// TIMED_CHILD_TEST(Suite, Name, timeoutMs) { body }: the body runs as the disabled test
// Suite.DISABLED_Name in a child process; the enabled test Suite.Name starts it and fails when it
// fails, crashes or does not finish within timeoutMs.
#define TIMED_CHILD_TEST(suite, name, timeoutMs) ORV_CHILD_TEST(suite, name, timeoutMs, None)
// NULL_DISPLAY_TEST(Suite, Name, timeoutMs) { body }: the same on a null-driver desktop, where
// top-level windows exist. Programs the child starts inherit its desktop, so they find each other's
// windows.
#define NULL_DISPLAY_TEST(suite, name, timeoutMs) ORV_CHILD_TEST(suite, name, timeoutMs, Null)

#define ORV_CHILD_TEST(suite, name, timeoutMs, display)                                      \
  TEST(suite, name) {                                                                        \
    EXPECT_TRUE(::TestSupport::RunTestInChildProcess(#suite ".DISABLED_" #name, (timeoutMs), \
                                                     ::TestSupport::ChildDisplay::display)); \
  }                                                                                          \
  TEST(suite, DISABLED_##name)
