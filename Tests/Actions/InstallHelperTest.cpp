// Product message boxes: text building and the UI-level tests. Routed through the log in a silent
// install, a box answers its default (CloseApplicationsTest, Tests/EndToEnd/dism-install).
#include "ActionTest.h"
#include "InstallHelper.h"

using namespace Msi;
using TestSupport::CatchRaised;

class InstallHelperTest : public TestSupport::ActionTest {
 protected:
  // A message property using every kind of marker.
  void SetUp() override {
    package.AddProperty(L"MT_TEXT", L"Welcome to [ProductName]!\\n\\nCopy %0 to %1. [productname]");
  }
  TestSupport::CRecordingHandler handler;
  TestSupport::CHandlerScope handlerScope{handler};
};

TEST_F(InstallHelperTest, UserInterfaceLevels) {
  const MSIHANDLE session = Open();
  const std::tuple<const wchar_t*, bool, bool> cases[] = {{L"2", true, false},
                                                          {L"3", false, false},
                                                          {L"5", false, true},
                                                          {L"37", false, true},  // only the low four bits count (0x25)
                                                          {L" 4 ", false, false}};
  for (const auto& [level, silent, full] : cases) {
    package.SetProperty(L"UILevel", level);
    EXPECT_EQ(IsSilentInstall(session), silent) << level;
    EXPECT_EQ(IsFullUIInstall(session), full) << level;
  }
  // A level that is not a number is an internal error, raised before any box.
  for (const wchar_t* level : {L"", L"0x5"}) {
    package.SetProperty(L"UILevel", level);
    EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] {
      ShowPropertyMessage(CMessageContext(session), L"MT_TEXT", L"", MB_OK);
    })) << level;
  }
  EXPECT_TRUE(ui.shown.empty() && handler.shown.empty());
}

TEST_F(InstallHelperTest, BoxesWithAUserInterface) {
  const CMessageContext context(Open());
  ui.answers = {IDCANCEL};
  EXPECT_EQ(ShowPropertyMessage(context, L"MT_TEXT", L" [ProductName]\\n", MB_OKCANCEL | MB_ICONINFORMATION), IDCANCEL);
  CUnicodeString text = L"[ProductName]\\n\\nis ready";
  EXPECT_EQ(ShowProductMessageBox(context, text, MB_OK), IDOK);
  EXPECT_EQ(text, L"Test Product\n\nis ready");  // the caller's text is changed
  ASSERT_EQ(ui.shown.size(), 2u);
  // Line breaks and the marker (exact case) are replaced in the property's text, not in the appended one.
  EXPECT_EQ(ui.shown[0].text, L"Welcome to Test Product!\n\nCopy %0 to %1. [productname] [ProductName]\\n");
  EXPECT_EQ(ui.shown[0].caption, L"Test Product");
  EXPECT_EQ(ui.shown[1].text, text);
  EXPECT_EQ(ui.foreground, (std::vector<HWND>{nullptr, nullptr}));
  EXPECT_TRUE(handler.shown.empty());
}

TEST_F(InstallHelperTest, MessageWithParameters) {
  const CMessageContext context(Open(false, L"2"));
  // Not honouring the silent install shows the box all the same.
  ui.answers = {IDRETRY};
  EXPECT_EQ(ShowPropertyMessageWithParams(context, false, L"MT_TEXT", {L"a.txt", L"C:\\b"}, MB_RETRYCANCEL), IDRETRY);
  EXPECT_EQ(ShowPropertyMessageWithParams(context, true, L"MT_TEXT", {L"x"}, MB_OK), IDOK);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].text, L"Welcome to [ProductName]!\n\nCopy a.txt to C:\\b. [productname]");
  ASSERT_EQ(handler.shown.size(), 1u);
  EXPECT_EQ(handler.shown[0].text, L"Welcome to [ProductName]!\n\nCopy x to . [productname]");
  EXPECT_EQ(handler.shown[0].caption, L"Test Product");
}
