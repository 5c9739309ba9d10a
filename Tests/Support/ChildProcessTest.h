// Runs a test in a child process of the test program with a time limit, so a test of a real
// Windows service that could hang (a box, a wait, a child program) fails instead of blocking the
// suite.
#pragma once

#include <gtest/gtest.h>

#include "VrnWindows.h"

namespace TestSupport {

// Starts this test program again with only `fullTestName` selected (disabled tests included) and
// waits at most `timeoutMs`. Success when the child reached GoogleTest's summary with every test
// passed; a child still running at the limit is killed and reported.
::testing::AssertionResult RunTestInChildProcess(const char* fullTestName, DWORD timeoutMs);

}  // namespace TestSupport

// TIMED_CHILD_TEST(Suite, Name, timeoutMs) { body }: the body runs as the disabled test
// Suite.DISABLED_Name in a child process; the enabled test Suite.Name starts it and fails when it
// fails, crashes or does not finish within timeoutMs.
#define TIMED_CHILD_TEST(suite, name, timeoutMs)                                                                   \
  TEST(suite, name) { EXPECT_TRUE(::TestSupport::RunTestInChildProcess(#suite ".DISABLED_" #name, (timeoutMs))); } \
  TEST(suite, DISABLED_##name)
