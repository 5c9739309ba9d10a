// Exception texts, the file-error cause table and internal checks.
#include <gtest/gtest.h>

#include "CoreFixtures.h"
#include "Errors.h"
#include "Messages.h"
#include "TestSupport.h"

using namespace Vrn;
using TestSupport::CatchVrn;

class ErrorsTest : public ::testing::Test {
 protected:
  TestSupport::CStartedLibrary library;
};

TEST_F(ErrorsTest, FileExceptionTextsFollowTheCause) {
  EXPECT_EQ(CFileException(32, L"C:\\data.bin").MessageText(),
            L"A sharing violation occurred while accessing C:\\data.bin.");
  EXPECT_EQ(CFileException(267, L"C:\\x").MessageText(), L"C:\\x contains an invalid path.");
  EXPECT_EQ(CFileException(2, L"a.txt").MessageText(), L"a.txt was not found.");
  EXPECT_EQ(CFileException(183, L"a.txt").MessageText(), L"Cannot create a.txt. The specified file already exists.");

  // A code outside the table is generic, with the system's own text as the second parameter.
  const CFileException generic(1392, L"C:\\f");
  EXPECT_EQ(generic.Cause(), FileCause::Generic);
  const CUnicodeString systemText = SystemErrorText(1392);
  ASSERT_FALSE(systemText.IsEmpty());
  EXPECT_EQ(generic.MessageText(), L"An error occurred while accessing C:\\f: \n" + systemText);
}

TEST_F(ErrorsTest, CauseTableSpotChecks) {
  const std::pair<DWORD, FileCause> cases[] = {
      {2, FileCause::NotFound},          {107, FileCause::NotFound},       {3, FileCause::BadPath},
      {208, FileCause::BadPath},         {4, FileCause::TooManyOpenFiles}, {5, FileCause::AccessDenied},
      {999, FileCause::AccessDenied},    {193, FileCause::InvalidFile},    {16, FileCause::RemoveCurrentDir},
      {62, FileCause::DirectoryFull},    {132, FileCause::BadSeek},        {997, FileCause::HardIO},
      {32, FileCause::SharingViolation}, {167, FileCause::LockViolation},  {112, FileCause::DiskFull},
      {38, FileCause::EndOfFile},        {183, FileCause::AlreadyExists},  {145, FileCause::DirNotEmpty},
      {1, FileCause::Generic},           {1392, FileCause::Generic},
  };
  for (const auto& [code, cause] : cases) EXPECT_EQ(FileCauseFromError(code), cause) << "code " << code;
  // Code 0 is no error at all.
  EXPECT_NE(CatchVrn([] { FileCauseFromError(0); }), nullptr);
}

TEST_F(ErrorsTest, InternalErrorTextsByKind) {
  EXPECT_EQ(CInternalError(L"Src/A.cpp", 12, CheckKind::Assertion, 0).MessageText(),
            L"Internal program error:\nSrc/A.cpp, 12.");
  EXPECT_EQ(CInternalError(L"Src/A.cpp", 12, CheckKind::Presumption, 0).MessageText(),
            L"Internal program error:\nSrc/A.cpp, 12.");
  EXPECT_EQ(CInternalError(L"B.cpp", 7, CheckKind::AssertionWithCode, 0x1F).MessageText(),
            L"Internal program error:\nB.cpp, 7.\nError code: 0x1F");
  EXPECT_EQ(CInternalError(L"B.cpp", 7, CheckKind::PresumptionWithCode, 0x80070005).MessageText(),
            L"Internal program error:\nB.cpp, 7.\nError code: 0x80070005");
}

TEST_F(ErrorsTest, ChecksRaiseWithFileLineAndLastError) {
  const int line = __LINE__ + 1;
  auto failure = CatchVrn([] { Check(false); });
  auto* internal = dynamic_cast<CInternalError*>(failure.get());
  ASSERT_NE(internal, nullptr);
  EXPECT_EQ(internal->File(), L"Tests/Vornik/ErrorsTest.cpp");
  EXPECT_EQ(internal->Line(), line);
  EXPECT_EQ(internal->Kind(), CheckKind::Assertion);

  failure = CatchVrn([] {
    SetLastError(ERROR_ACCESS_DENIED);
    CheckLastError(false);
  });
  internal = dynamic_cast<CInternalError*>(failure.get());
  ASSERT_NE(internal, nullptr);
  EXPECT_EQ(internal->Kind(), CheckKind::AssertionWithCode);
  EXPECT_EQ(internal->Code(), 5u);
  EXPECT_EQ(CatchVrn([] { Check(true); }), nullptr);
}

TEST_F(ErrorsTest, OutsideThrowingModeAFailedCheckIsShownOnce) {
  TestSupport::CRecordingHandler handler;
  TestSupport::CHandlerScope scope(handler);
  const bool saved = SetThrowingMode(false);
  const auto failure = CatchVrn([] { Presume(false); });
  SetThrowingMode(saved);
  EXPECT_EQ(failure, nullptr);
  ASSERT_EQ(handler.shown.size(), 1u);
  EXPECT_EQ(handler.shown[0].style, 0x1010u);
  EXPECT_TRUE(handler.shown[0].text.StartsWith(L"Internal Program Error:\nPresumption failed: (  )\n"));
  EXPECT_NE(handler.shown[0].text.Find(L"Tests/Vornik/ErrorsTest.cpp"), CUnicodeString::npos);
}

TEST_F(ErrorsTest, LastErrorAndComTexts) {
  EXPECT_EQ(CLastErrorException(5).MessageText(), SystemErrorText(5));
  EXPECT_FALSE(SystemErrorText(5).IsEmpty());
  EXPECT_EQ(CLastErrorException(99999).MessageText(), L"Unknown error. Error code: 0x1869F");

  EXPECT_EQ(CCOMException(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)).MessageText(), SystemErrorText(5));
  EXPECT_EQ(CCOMException(static_cast<HRESULT>(0xA0FF1234)).MessageText(),
            L"Unknown COM error. Error code: 0xA0FF1234");
}

TEST_F(ErrorsTest, NamedMessagesWithParameters) {
  CCheckException e(L"ERR_CANT_WRITE_TO_REGISTRY", L"", {L"HKEY_LOCAL_MACHINE\\Soft\\Val"});
  EXPECT_EQ(e.MessageText(), L"Access to the Windows registry key HKEY_LOCAL_MACHINE\\Soft\\Val is prohibited.");
  // A name no module knows reads its fallback.
  CCheckException other(L"ERR_ZIP_SOMETHING", L"Archive %0 is broken at %1.", {L"a.zip", L"12"});
  EXPECT_EQ(other.MessageText(), L"Archive a.zip is broken at 12.");
  EXPECT_EQ(CUserException().MessageText(), L"");
}

TEST_F(ErrorsTest, ThirdShownInternalErrorAsksOkCancel) {
  TestSupport::CRecordingHandler handler;
  TestSupport::CHandlerScope scope(handler);
  handler.answers = {IDOK, IDOK, IDOK};
  for (int i = 0; i < 3; ++i) CInternalError(L"X.cpp", i, CheckKind::Assertion, 0).Show();
  ASSERT_EQ(handler.shown.size(), 3u);
  // The counter is process-wide: at least the third is the OK/Cancel form.
  EXPECT_EQ(handler.shown[2].style, 0x1011u);
  EXPECT_EQ(handler.shown[2].caption, L"Vornik Objects");

  static bool terminated = false;
  const auto previous = SetTerminateFunction([] { terminated = true; });
  handler.answers = {IDCANCEL};
  CInternalError(L"X.cpp", 4, CheckKind::Assertion, 0).Show();
  SetTerminateFunction(previous);
  EXPECT_TRUE(terminated);
}
