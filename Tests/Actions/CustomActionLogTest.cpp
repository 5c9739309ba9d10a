// The custom-action log file: its choice, its bytes, and the log message handler's blocks.

#include "ActionTest.h"
#include "CustomActionLog.h"

using Msi::CCustomActionLog;
using TestSupport::CTempFolder;
using TestSupport::Utf16;

namespace {

const std::string kMark = "\xFF\xFE";

void MakeLog(const Vrn::CUnicodeString& folder, const std::string& bytes) {
  CreateDirectoryW(folder.c_str(), nullptr);
  TestSupport::WriteBytes(folder + L"\\OrvantMsiLog.txt", bytes);
}

}  // namespace

// The marks and the header of every piece are ConcurrentActionsTest's; a disabled log writes nothing.
TEST(CustomActionLog, TheHeaderOpensTheFileAndADisabledLogWritesNothing) {
  CTempFolder temp;
  {
    CCustomActionLog disabled(false, temp.Path());
    disabled << "text" << 1;
    EXPECT_TRUE(disabled.FileName().IsEmpty());
  }
  EXPECT_FALSE(Vrn::PathExists(temp / L"OrvantMsiLog.txt"));
  { CCustomActionLog(true, temp.Path()) << L"\x00E9" << -7; }
  const std::string bytes = TestSupport::ReadBytes(temp / L"OrvantMsiLog.txt");
  EXPECT_EQ(bytes.substr(0, 4), kMark + kMark);  // the creation mark, then the header's
  EXPECT_TRUE(bytes.ends_with(kMark + "\xE9" + '\0' + kMark + Utf16(L"-7")));
}

TEST(CustomActionLog, NewestNumberedFolderWins) {
  CTempFolder temp;
  MakeLog(temp / L"1", kMark);
  Sleep(30);
  MakeLog(temp / L"2", kMark);
  Sleep(30);
  // Newer, but not a one-digit name greater than zero.
  MakeLog(temp / L"0", kMark);
  MakeLog(temp / L"x", kMark);
  MakeLog(temp / L"12", kMark);
  CreateDirectoryW((temp / L"3").c_str(), nullptr);  // no log inside
  CCustomActionLog log(true, temp.Path());
  EXPECT_EQ(log.FileName(), temp / L"2\\OrvantMsiLog.txt");
}

TEST(CustomActionLog, EightBitFilesAreLeftAlone) {
  CTempFolder temp;
  TestSupport::WriteBytes(temp / L"OrvantMsiLog.txt", "plain text of another program\r\n");
  TestSupport::WriteBytes(temp / L"OrvantMsiLog1.txt", "");
  TestSupport::WriteBytes(temp / L"OrvantMsiLog2.txt", "\xEF\xBB\xBFutf-8 log\r\n");
  {
    CCustomActionLog log(true, temp.Path());
    EXPECT_EQ(log.FileName(), temp / L"OrvantMsiLog2.txt");
    log << "more";
  }
  EXPECT_EQ(TestSupport::ReadBytes(temp / L"OrvantMsiLog.txt"), "plain text of another program\r\n");
  const std::string appended = TestSupport::ReadBytes(temp / L"OrvantMsiLog2.txt");
  EXPECT_EQ(appended.substr(0, 14), "\xEF\xBB\xBFutf-8 log\r\n");
  EXPECT_EQ(appended.substr(appended.size() - 10), kMark + Utf16(L"more"));
}

TEST(CustomActionLog, ALockedFileIsSkippedWithoutFailing) {
  CTempFolder temp;
  CCustomActionLog log(true, temp.Path());
  // Another process holds the file exclusively: the next name is used.
  HANDLE locked = CreateFileW(log.FileName().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  log << "while locked";
  CloseHandle(locked);
  EXPECT_EQ(log.FileName(), temp / L"OrvantMsiLog1.txt");
  EXPECT_EQ(TestSupport::DecodeCustomActionLog(TestSupport::ReadBytes(temp / L"OrvantMsiLog1.txt")), L"while locked");
}

TEST(LogMessageHandler, MessagesAndWarningsAsBlocks) {
  TestSupport::CTestPackage package;
  package.Open();
  Msi::CMsiLogMessageHandler handler;
  const Msi::CCallSession call(package.Session());
  EXPECT_EQ(handler.ShowMessage(nullptr, L"Continue?", L"Caption", MB_YESNO | MB_DEFBUTTON2), IDNO);
  {
    TestSupport::CHandlerScope scope(handler);
    handler.HandleException(Vrn::CFileException(2, L"C:\\gone.txt"));
  }
  const char* equals = "============================================================\r\n";
  const std::string expected = std::string(equals) + "MESSAGE: Caption\r\n\tContinue?\r\n" +
                               "------------------------------------------------------------\r\n" +
                               "MSGRET (default): IDNO\r\n" + equals + equals +
                               "WARNING: Vornik Objects\r\n\tC:\\gone.txt was not found.\r\n" + equals;
  EXPECT_EQ(package.LogText().ToUtf8(), expected);
  const auto errors = package.InstallerErrors();
  EXPECT_EQ(errors, (std::vector<Vrn::CUnicodeString>{L"Continue?", L"C:\\gone.txt was not found."}));
}
