// Message handlers: box styles, event-log types, the default-handler choice and exception reports.

#include <tuple>

#include "CoreFixtures.h"
#include "TestSupport.h"

using namespace Vrn;

TEST(MessageBoxHandler, AddsIconAndModalityFlagsAndPassesTheAnswerOn) {
  TestSupport::CScriptedUserInterface ui;
  CUserInterfaceOverride seam(ui);
  ui.answers = {IDNO, IDRETRY, IDOK};
  const std::tuple<UINT, UINT, int> cases[] = {
      {MB_YESNO, MB_YESNO | MB_ICONEXCLAMATION | 0x52000u, IDNO},
      {MB_RETRYCANCEL, MB_RETRYCANCEL | 0x52000u, IDRETRY},  // no icon added for this button set
      {MB_OK | MB_ICONINFORMATION, MB_OK | MB_ICONINFORMATION | 0x52000u, IDOK}};
  for (const auto& [style, shown, answer] : cases) {
    EXPECT_EQ(CMessageBoxHandler().ShowMessage(nullptr, L"text", L"caption", style), answer);
    EXPECT_EQ(ui.shown.back().style, shown);
  }
  EXPECT_EQ(ui.shown[0].text, L"text");
  EXPECT_EQ(ui.shown[0].caption, L"caption");
}

TEST(EventLogHandler, TypesAndDefaultAnswers) {
  struct RecordingSink : CEventLogSink {
    void Report(const CUnicodeString& source, WORD type, const CUnicodeString&, const CUnicodeString& text) override {
      std::tie(lastSource, lastType, lastText) = std::tie(source, type, text);
    }
    CUnicodeString lastSource, lastText;
    WORD lastType = 0;
  } sink;
  CEventLogMessageHandler handler(&sink);
  const std::tuple<UINT, WORD, int> cases[] = {
      {MB_OKCANCEL | MB_DEFBUTTON2, EVENTLOG_WARNING_TYPE, IDCANCEL},
      {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, EVENTLOG_ERROR_TYPE, IDIGNORE},
      {MB_YESNO | MB_DEFBUTTON3, EVENTLOG_INFORMATION_TYPE, IDYES},
      {MB_RETRYCANCEL | MB_ICONQUESTION, EVENTLOG_INFORMATION_TYPE, IDRETRY},
      {MB_CANCELTRYCONTINUE, EVENTLOG_INFORMATION_TYPE, IDABORT},
  };
  for (const auto& [style, type, answer] : cases) {
    EXPECT_EQ(handler.ShowMessage(nullptr, L"t", L"c", style), answer) << std::hex << style;
    EXPECT_EQ(sink.lastType, type) << std::hex << style;
  }
  EXPECT_EQ(sink.lastSource, L"Vornik Objects");
  EXPECT_EQ(sink.lastText, L"t");
}

TEST(DefaultHandler, ChosenFromTheStandardOutput) {
  // The test executable has no "MessageHandler" version string: standard output decides.
  HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
  const DefaultHandlerKind withoutConsole = ChooseDefaultHandlerKind();
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  EXPECT_EQ(withoutConsole, DefaultHandlerKind::Dialog);

  TestSupport::CTempFolder folder;
  HANDLE file = CreateFileW((folder / L"out.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  const DefaultHandlerKind withFile = ChooseDefaultHandlerKind();
  CConsoleMessageHandler().ShowMessage(nullptr, L"hello", L"Title", MB_OK);
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(file);
  EXPECT_EQ(withFile, DefaultHandlerKind::Console);
  EXPECT_EQ(TestSupport::ReadBytes(folder / L"out.txt"), "Title: hello\n");
}

TEST(MessageService, ReportsGoToTheCurrentHandler) {
  TestSupport::CRecordingHandler handler;
  {
    TestSupport::CHandlerScope scope(handler);
    ReportException(CFileException(2, L"C:\\missing.txt"));
    ReportException(CUserException());  // shows nothing
  }
  EXPECT_NE(CurrentHandler(), &handler);  // the scope restores the previous handler
  ASSERT_EQ(handler.shown.size(), 1u);
  EXPECT_EQ(handler.shown[0].text, L"C:\\missing.txt was not found.");
  EXPECT_EQ(handler.shown[0].caption, L"Vornik Objects");
  EXPECT_EQ(handler.shown[0].style, 0u);
}

TEST(MessageService, AnExceptionWhileHandlingOneEndsTheProcess) {
  // A handler whose box raises a second report on the same thread.
  struct NestingHandler : TestSupport::CRecordingHandler {
    int ShowMessage(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style) override {
      const int answer = CRecordingHandler::ShowMessage(owner, text, caption, style);
      if (shown.size() == 1) HandleException(CLastErrorException(5));
      return answer;
    }
  } handler;
  static int terminations = 0;
  const auto previous = SetTerminateFunction([] { ++terminations; });
  {
    TestSupport::CHandlerScope scope(handler);
    handler.HandleException(CLastErrorException(99999));
  }
  SetTerminateFunction(previous);
  EXPECT_EQ(terminations, 1);
  ASSERT_EQ(handler.shown.size(), 2u);
  EXPECT_EQ(handler.shown[1].text, L"Double internal error!\nApplication terminated.");
  EXPECT_EQ(handler.shown[1].style, 0x1010u);
}
