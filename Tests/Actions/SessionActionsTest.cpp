// The session actions: boxes and their answers, the Cancel-button and progress records, a feature's
// state and a directory's target path. Actions with boxes run in this program (so the scripted user
// interface reaches them); the others are called through OrvantCA.dll.
#include <gtest/gtest.h>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall Message(MSIHANDLE session);
extern "C" UINT __stdcall Request(MSIHANDLE session);

namespace {

// The progress and common-data messages an external user interface receives: the message type
// (high byte), then the integer fields.
std::vector<std::vector<int>> g_records;

INT CALLBACK Record(LPVOID, UINT type, MSIHANDLE record) {
  std::vector<int> fields{static_cast<int>(type >> 24)};
  for (UINT field = 1; field <= MsiRecordGetFieldCount(record); ++field)
    fields.push_back(MsiRecordGetInteger(record, field));
  g_records.push_back(fields);
  return 0;
}

}  // namespace

class SessionActionsTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
};

TEST_F(SessionActionsTest, MessageAndRequestBoxes) {
  package.AddProperty(L"MESSAGE_PROPERTY_NAME", L"MT_TELL");
  package.AddProperty(L"MT_TELL", L"[ProductName] is installed");
  package.AddProperty(L"REQUEST_PROPERTY_NAME", L"MT_ASK");
  package.AddProperty(L"MT_ASK", L"Install to [TARGET]?");
  package.AddProperty(L"TARGET", L"C:\\App");
  const MSIHANDLE session = package.Open();
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
  const struct {
    UINT(__stdcall* action)(MSIHANDLE);
    const wchar_t *icon, *flag;
    int answer;
    UINT style;
    const wchar_t* errorLine;  // logged for a value that is not a number
  } cases[] = {
      {Message, L"", L"", IDOK, MB_ICONERROR, nullptr},
      {Message, L" 49 ", L"", IDCANCEL, MB_ICONWARNING | MB_OKCANCEL, nullptr},  // the icon is the whole style
      {Request, L"48", L"4", IDNO, MB_YESNO | MB_ICONWARNING, nullptr},
      {Request, L"", L"x", IDCANCEL, MB_OKCANCEL | MB_ICONQUESTION, L"Request: Error REQUEST_FLAG x\r\n\r\n"},
      {Request, L"?", L"4", IDYES, MB_YESNO | MB_ICONQUESTION, L"Request: Error REQUEST_ICON ?\r\n\r\n"},
  };
  for (const auto& c : cases) {
    const bool request = c.action == Request;
    SCOPED_TRACE(CUnicodeString(request ? L"Request " : L"Message ") + c.icon + L"/" + c.flag);
    package.SetProperty(request ? L"REQUEST_ICON" : L"MESSAGE_ICON", c.icon);
    package.SetProperty(L"REQUEST_FLAG", c.flag);
    package.SetProperty(L"REQUEST_RETURN", L"");
    ui.shown.clear();
    ui.answers = {c.answer};
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(c.action(session), 0u);
    ASSERT_EQ(ui.shown.size(), 1u);
    // Request expands references; Message shows the text as the property holds it.
    EXPECT_EQ(ui.shown[0].text, request ? L"Install to C:\\App?" : L"[ProductName] is installed");
    EXPECT_EQ(ui.shown[0].style, c.style);
    EXPECT_EQ(package.Property(L"REQUEST_RETURN"), request ? CUnicodeString::FromInt(c.answer) : CUnicodeString());
    const CUnicodeString log = ActionLog(package).Mid(logged);
    EXPECT_EQ(log.Find(c.errorLine ? c.errorLine : L"Error") != CUnicodeString::npos, c.errorLine != nullptr) << log;
  }
  EXPECT_EQ(ui.foreground.size(), std::size(cases));
  // Without the name of the text property neither box is shown.
  package.SetProperty(L"REQUEST_PROPERTY_NAME", L"");
  package.SetProperty(L"MESSAGE_PROPERTY_NAME", L"");
  ui.shown.clear();
  EXPECT_EQ(Request(session) + Message(session), 2 * 1603u);
  EXPECT_TRUE(ui.shown.empty());
}

// The real user interface, not the scripted one: without a display the box answers -1 at once, so
// an action whose box is not routed to the log still finishes (a box that called itself once hung here).
TIMED_CHILD_TEST(SessionActionsRealBoxes, MessageAndRequestFinish, 60000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.AddProperty(L"MESSAGE_PROPERTY_NAME", L"MT_TELL");
  package.AddProperty(L"REQUEST_PROPERTY_NAME", L"MT_TELL");
  package.AddProperty(L"MT_TELL", L"Real text for [ProductName]");
  const MSIHANDLE session = package.Open();
  for (const wchar_t* level : {L"5", L"3"}) {
    package.SetProperty(L"UILevel", level);
    package.SetProperty(L"REQUEST_RETURN", L"");
    EXPECT_EQ(Message(session), 0u);
    EXPECT_EQ(Request(session), 0u);
    EXPECT_EQ(package.Property(L"REQUEST_RETURN"), L"-1") << "UILevel " << SessionTests::Utf8(level);
  }
}

TEST_F(SessionActionsTest, CancelButtonAndProgressRecords) {
  package.AddProperty(L"ResetProgressBarPersentage", L"40");
  package.Open();
  g_records.clear();
  MsiSetExternalUIRecord(Record, INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_COMMONDATA, nullptr, nullptr);
  EXPECT_EQ(package.Call("DisableCancelButton"), 0u);
  EXPECT_EQ(package.Call("EnableCancelButton"), 0u);
  EXPECT_EQ(package.Call("ResetProgressBar"), 0u);
  package.SetProperty(L"ResetProgressBarPersentage", L"4O");
  EXPECT_EQ(package.Call("ResetProgressBar"), 1603u);  // sends nothing
  MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr);
  constexpr int kCommon = INSTALLMESSAGE_COMMONDATA >> 24, kProgress = INSTALLMESSAGE_PROGRESS >> 24,
                kNull = static_cast<int>(MSI_NULL_INTEGER);
  const std::vector<std::vector<int>> expected = {{kCommon, 2, 0, kNull},    {kCommon, 2, 1, kNull},
                                                  {kProgress, 0, 100, 0, 0}, {kProgress, 1, 1, 0, 0},
                                                  {kProgress, 2, 0, 0, 0},   {kProgress, 2, 40, 0, 0}};
  EXPECT_EQ(g_records, expected);
}

TEST_F(SessionActionsTest, FeatureStateAndTargetPathFailures) {
  SessionTests::AddTestFeatures(package);
  package.AddProperty(L"Off_LOCAL", L"stale");
  package.Open(true);
  // Level 0: absent with no action, so the installed state counts and the property is emptied.
  package.SetProperty(L"GetFeatureState_NAME", L"Off");
  EXPECT_EQ(package.Call("GetFeatureState"), 0u);
  EXPECT_EQ(package.Property(L"Off_LOCAL"), L"");
  for (const wchar_t* name : {L"", L"Nowhere"}) {
    package.SetProperty(L"GetFeatureState_NAME", name);
    EXPECT_EQ(package.Call("GetFeatureState"), 1603u) << name;
  }
  // An unknown directory is only logged: the property is emptied.
  package.SetProperty(L"TARGET_PATH", L"NO_SUCH_DIR");
  EXPECT_EQ(package.Call("Get_TARGET_PATH"), 0u);
  EXPECT_EQ(package.Property(L"TARGET_PATH"), L"");
}
