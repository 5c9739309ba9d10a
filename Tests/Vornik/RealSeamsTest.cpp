// The real side of the core library's seams, each run in a child process with a time limit: under
// Wine without a display a box must come back at once (-1), the event log must accept a report, and
// the free-space query must answer for a real disk.
#include <gtest/gtest.h>

#include "ChildProcessTest.h"
#include "Files.h"
#include "MessageHandlers.h"
#include "TestSupport.h"

TIMED_CHILD_TEST(RealSeams, MessageBoxReturnsWithoutADisplay, 30000) {
  Vrn::CUserInterface real;
  EXPECT_EQ(real.ShowBox(nullptr, L"Real box", L"Orvant test", MB_OKCANCEL | MB_ICONQUESTION), -1);
  real.BringToForeground(nullptr);
  // The message-box handler goes through the same seam.
  EXPECT_EQ(Vrn::CMessageBoxHandler().ShowMessage(nullptr, L"Real box", L"Orvant test", MB_OK), -1);
}

TIMED_CHILD_TEST(RealSeams, EventLogAcceptsAReport, 30000) {
  TestSupport::CMachineIsolation isolation;  // the event source is registered under HKLM
  Vrn::CEventLogSink().Report(L"Orvant test", EVENTLOG_WARNING_TYPE, L"caption", L"text");
  Vrn::CEventLogMessageHandler handler;
  EXPECT_EQ(handler.ShowMessage(nullptr, L"text", L"caption", MB_YESNO), IDYES);
}

TIMED_CHILD_TEST(RealSeams, FreeSpaceOfTheTemporaryDisk, 30000) {
  EXPECT_GT(Vrn::FreeSpaceKiB(Vrn::TemporaryDirectory()), 0u);
}
