// Product message boxes: text building, the UI-level tests, silent routing and the owner window.
#include <gtest/gtest.h>

#include "CoreFixtures.h"
#include "CustomActionLog.h"
#include "InstallHelper.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"

using namespace Msi;
using SessionTests::ActionLog;
using TestSupport::CatchRaised;

class InstallHelperTest : public ::testing::Test {
 protected:
  // A session with the given UI level and a message property.
  MSIHANDLE Open(const wchar_t* uiLevel) {
    package.AddProperty(L"MT_TEXT", L"Welcome to [ProductName]!\\n\\nCopy %0 to %1. [productname]");
    const MSIHANDLE session = package.Open();
    package.SetProperty(L"UILevel", uiLevel);
    return session;
  }

  TestSupport::CTestPackage package;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
  TestSupport::CRecordingHandler handler;
  TestSupport::CHandlerScope handlerScope{handler};
};

TEST_F(InstallHelperTest, UserInterfaceLevels) {
  const MSIHANDLE session = Open(L"5");
  const struct {
    const wchar_t* level;
    bool silent, full;
  } cases[] = {
      {L"0", true, false},    {L"2", true, false},  {L"3", false, false},
      {L"5", false, true},    {L"37", false, true},  // only the low four bits count (0x25)
      {L" 4 ", false, false},
  };
  for (const auto& c : cases) {
    package.SetProperty(L"UILevel", c.level);
    EXPECT_EQ(IsSilentInstall(session), c.silent) << SessionTests::Utf8(c.level);
    EXPECT_EQ(IsFullUIInstall(session), c.full) << SessionTests::Utf8(c.level);
  }
  for (const wchar_t* level : {L"", L"abc", L"5x", L"0x5"}) {
    package.SetProperty(L"UILevel", level);
    EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { IsSilentInstall(session); })) << SessionTests::Utf8(level);
  }
}

TEST_F(InstallHelperTest, PropertyMessageWithFullInterface) {
  const CMessageContext context(Open(L"5"));
  ui.answers = {IDCANCEL};
  EXPECT_EQ(ShowPropertyMessage(context, L"MT_TEXT", L" [ProductName]\\n", MB_OKCANCEL | MB_ICONINFORMATION), IDCANCEL);
  ASSERT_EQ(ui.shown.size(), 1u);
  // Line breaks and the marker (exact case) are replaced in the property's text, not in the appended one.
  EXPECT_EQ(ui.shown[0].text, L"Welcome to Test Product!\n\nCopy %0 to %1. [productname] [ProductName]\\n");
  EXPECT_EQ(ui.shown[0].caption, L"Test Product");
  EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_OKCANCEL | MB_ICONINFORMATION));
  EXPECT_EQ(ui.foreground, std::vector<HWND>{nullptr});
  EXPECT_TRUE(handler.shown.empty());
}

TEST_F(InstallHelperTest, SilentInstallGoesToTheMessageService) {
  const CMessageContext context(Open(L"2"));
  EXPECT_EQ(ShowPropertyMessage(context, L"MT_TEXT", L"", MB_YESNO | MB_DEFBUTTON2), IDNO);
  CUnicodeString text = L"Done with [ProductName].";
  EXPECT_EQ(ShowProductMessageBox(context, text, MB_OK), IDOK);
  EXPECT_TRUE(ui.shown.empty());
  ASSERT_EQ(handler.shown.size(), 2u);
  EXPECT_EQ(handler.shown[0].text, L"Welcome to Test Product!\n\nCopy %0 to %1. [productname]");
  EXPECT_EQ(handler.shown[0].caption, L"Test Product");
  EXPECT_EQ(handler.shown[0].style, static_cast<UINT>(MB_YESNO | MB_DEFBUTTON2));
  EXPECT_EQ(handler.shown[1].text, L"Done with Test Product.");
  EXPECT_EQ(ui.foreground.size(), 2u);
}

TEST_F(InstallHelperTest, SilentMessageReachesTheLogWithTheDefaultAnswer) {
  const MSIHANDLE session = Open(L"2");
  CMsiLogMessageHandler logHandler(session);
  TestSupport::CHandlerScope scope(logHandler);
  const CMessageContext context(session);
  EXPECT_EQ(ShowPropertyMessage(context, L"MT_TEXT", L"", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_TRUE(ui.shown.empty());
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"MESSAGE: Test Product\r\n\tWelcome to Test Product!\n\nCopy %0 to %1. [productname]\r\n"),
            CUnicodeString::npos)
      << SessionTests::Utf8(log);
  EXPECT_NE(log.Find(L"MSGRET (default): IDNO\r\n"), CUnicodeString::npos) << SessionTests::Utf8(log);
}

TEST_F(InstallHelperTest, MessageWithParameters) {
  const CMessageContext context(Open(L"2"));
  // With the silent flag not honoured the box is shown even without a user interface.
  ui.answers = {IDRETRY};
  EXPECT_EQ(ShowPropertyMessageWithParams(context, false, L"MT_TEXT", {L"a.txt", L"C:\\b"}, MB_RETRYCANCEL), IDRETRY);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].text, L"Welcome to [ProductName]!\n\nCopy a.txt to C:\\b. [productname]");
  EXPECT_TRUE(handler.shown.empty());

  EXPECT_EQ(ShowPropertyMessageWithParams(context, true, L"MT_TEXT", {L"x"}, MB_RETRYCANCEL), IDRETRY);
  ASSERT_EQ(handler.shown.size(), 1u);
  EXPECT_EQ(handler.shown[0].text, L"Welcome to [ProductName]!\n\nCopy x to . [productname]");
  EXPECT_EQ(ui.shown.size(), 1u);
}

TEST_F(InstallHelperTest, ProductMessageBoxChangesTheCallersText) {
  const CMessageContext context(Open(L"5"));
  CUnicodeString text = L"[ProductName]\\n\\nis ready";
  EXPECT_EQ(ShowProductMessageBox(context, text, MB_OK), IDOK);
  EXPECT_EQ(text, L"Test Product\n\nis ready");
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].text, text);
}

TEST_F(InstallHelperTest, NonNumericLevelStopsBeforeAnyBox) {
  const CMessageContext context(Open(L"full"));
  EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { ShowPropertyMessage(context, L"MT_TEXT", L"", MB_OK); }));
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_TRUE(handler.shown.empty());
}

TEST_F(InstallHelperTest, InstallerWindowFromClientProcessId) {
  const MSIHANDLE session = Open(L"5");
  const CUnicodeString self = CUnicodeString::FromUInt(GetCurrentProcessId());
  for (const CUnicodeString& id :
       {CUnicodeString(), CUnicodeString(L"abc"), self + L"x", CUnicodeString(L"4294967296")}) {
    package.SetProperty(L"CLIENTPROCESSID", id);
    EXPECT_EQ(FindInstallerWindow(session), nullptr) << SessionTests::Utf8(id);
  }

  // Without a graphics driver Wine creates no top-level windows; the rest needs one.
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.lpszClassName = L"OrvInstallerWindowTest";
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Installer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                      0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  if (!window) GTEST_SKIP() << "no top-level windows in this Wine prefix";
  package.SetProperty(L"CLIENTPROCESSID", L"  " + self + L" ");
  EXPECT_EQ(FindInstallerWindow(session), window);
  package.SetProperty(L"CLIENTPROCESSID", self + L"x");
  EXPECT_EQ(FindInstallerWindow(session), nullptr);
  DestroyWindow(window);
}
