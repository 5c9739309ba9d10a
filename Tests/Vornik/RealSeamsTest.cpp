// The real event log, in a child process with a time limit: it must accept a report. The real box
// without a display (-1 at once) is message-boxes-install's, the real free-space query FilesTest's.
#include "ChildProcessTest.h"
#include "MessageHandlers.h"
#include "TestSupport.h"

TIMED_CHILD_TEST(RealSeams, EventLogAcceptsAReport, 30000) {
  TestSupport::CMachineIsolation isolation;  // the event source is registered under HKLM
  Vrn::CEventLogSink().Report(L"Orvant test", EVENTLOG_WARNING_TYPE, L"caption", L"text");
  Vrn::CEventLogMessageHandler handler;
  EXPECT_EQ(handler.ShowMessage(nullptr, L"text", L"caption", MB_YESNO), IDYES);
}
