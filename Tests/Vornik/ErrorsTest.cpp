// Exception texts, the file-error cause table and internal checks.

#include "CoreFixtures.h"
#include "Errors.h"
#include "Messages.h"
#include "TestSupport.h"

using namespace Vrn;

class ErrorsTest : public ::testing::Test {
 protected:
  TestSupport::CStartedLibrary library;
};

TEST_F(ErrorsTest, EveryExceptionsText) {
  const std::pair<CUnicodeString, CUnicodeString> cases[] = {
      {CFileException(32, L"C:\\data.bin").MessageText(),
       L"A sharing violation occurred while accessing C:\\data.bin."},
      {CFileException(2, L"a.txt").MessageText(), L"a.txt was not found."},
      // A code outside the table is generic, with the system's own text as the second parameter.
      {CFileException(1392, L"C:\\f").MessageText(),
       L"An error occurred while accessing C:\\f: \n" + SystemErrorText(1392)},
      {CInternalError(L"Src/A.cpp", 12, CheckKind::Assertion, 0).MessageText(),
       L"Internal program error:\nSrc/A.cpp, 12."},
      {CInternalError(L"B.cpp", 7, CheckKind::PresumptionWithCode, 0x80070005).MessageText(),
       L"Internal program error:\nB.cpp, 7.\nError code: 0x80070005"},
      {CLastErrorException(99999).MessageText(), L"Unknown error. Error code: 0x1869F"},
      {CCOMException(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)).MessageText(), SystemErrorText(5)},
      {CCOMException(static_cast<HRESULT>(0xA0FF1234)).MessageText(), L"Unknown COM error. Error code: 0xA0FF1234"},
      {CCheckException(L"ERR_CANT_WRITE_TO_REGISTRY", L"", {L"HKEY_LOCAL_MACHINE\\Soft\\Val"}).MessageText(),
       L"Access to the Windows registry key HKEY_LOCAL_MACHINE\\Soft\\Val is prohibited."},
      // A name no module knows reads its fallback.
      {CCheckException(L"ERR_ZIP_SOMETHING", L"Archive %0 is broken at %1.", {L"a.zip", L"12"}).MessageText(),
       L"Archive a.zip is broken at 12."},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
  EXPECT_FALSE(SystemErrorText(5).IsEmpty());
  EXPECT_EQ(CFileException(1392, L"C:\\f").Cause(), FileCause::Generic);
  EXPECT_NE(Vrn::Caught([] { FileCauseFromError(0); }), nullptr);  // code 0 is no error at all
}

TEST_F(ErrorsTest, CheckLastErrorKeepsTheCode) {
  const auto failure = Vrn::Caught([] {
    SetLastError(ERROR_ACCESS_DENIED);
    CheckLastError(false);
  });
  const auto* internal = dynamic_cast<CInternalError*>(failure.get());
  ASSERT_NE(internal, nullptr);
  EXPECT_EQ(internal->Kind(), CheckKind::AssertionWithCode);
  EXPECT_EQ(internal->Code(), 5u);
}

TEST_F(ErrorsTest, ShownInternalErrors) {
  TestSupport::CRecordingHandler handler;
  TestSupport::CHandlerScope scope(handler);
  // Outside throwing mode a failed check is shown once and not raised.
  const bool saved = SetThrowingMode(false);
  const auto failure = Vrn::Caught([] { Presume(false); });
  SetThrowingMode(saved);
  EXPECT_EQ(failure, nullptr);
  ASSERT_EQ(handler.shown.size(), 1u);
  EXPECT_EQ(handler.shown[0].style, 0x1010u);
  EXPECT_TRUE(handler.shown[0].text.StartsWith(L"Internal Program Error:\nPresumption failed: (  )\n"));
  EXPECT_NE(handler.shown[0].text.Find(L"Tests/Vornik/ErrorsTest.cpp"), CUnicodeString::npos);

  // The counter is process-wide: from the third shown error on, the box asks OK/Cancel.
  for (int i = 0; i < 3; ++i) CInternalError(L"X.cpp", i, CheckKind::Assertion, 0).Show();
  EXPECT_EQ(handler.shown.back().style, 0x1011u);
  EXPECT_EQ(handler.shown.back().caption, L"Vornik Objects");
  static bool terminated = false;
  const auto previous = SetTerminateFunction([] { terminated = true; });
  handler.answers = {IDCANCEL};
  CInternalError(L"X.cpp", 4, CheckKind::Assertion, 0).Show();
  SetTerminateFunction(previous);
  EXPECT_TRUE(terminated);
}
