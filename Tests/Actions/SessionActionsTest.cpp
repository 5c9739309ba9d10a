// The session actions: boxes and their answers, the Cancel-button and progress records, a feature's
// state and a directory's target path. Actions with boxes run in this program (so the scripted user
// interface reaches them); the others are called through OrvantCA.dll.
#include <gtest/gtest.h>

#include "CoreFixtures.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall Message(MSIHANDLE session);
extern "C" UINT __stdcall Request(MSIHANDLE session);

namespace {

constexpr int kNullField = static_cast<int>(MSI_NULL_INTEGER);

// An installer message as an external user interface receives it: its type and integer fields.
struct CRecordedMessage {
  UINT type;
  std::vector<int> fields;
  bool operator==(const CRecordedMessage&) const = default;
};

// Records the progress and common-data messages of every session while it exists.
class CMessageRecorder {
 public:
  CMessageRecorder() {
    MsiSetExternalUIRecord(Record, INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_COMMONDATA, this, nullptr);
  }
  ~CMessageRecorder() { MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr); }
  CMessageRecorder(const CMessageRecorder&) = delete;
  CMessageRecorder& operator=(const CMessageRecorder&) = delete;

  std::vector<CRecordedMessage> messages;

 private:
  static INT CALLBACK Record(LPVOID context, UINT type, MSIHANDLE record) {
    CRecordedMessage message{type & 0xFF000000, {}};
    for (UINT field = 1; field <= MsiRecordGetFieldCount(record); ++field)
      message.fields.push_back(MsiRecordGetInteger(record, field));
    static_cast<CMessageRecorder*>(context)->messages.push_back(message);
    return 0;
  }
};

void PrintTo(const CRecordedMessage& message, std::ostream* out) {
  *out << std::hex << message.type << std::dec << ":";
  for (int field : message.fields) *out << " " << field;
}

}  // namespace

class SessionActionsTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
};

// ---- Message and Request ----

class BoxActionTest : public SessionActionsTest {
 protected:
  void SetUp() override {
    package.AddProperty(L"MESSAGE_PROPERTY_NAME", L"MT_TELL");
    package.AddProperty(L"MT_TELL", L"[ProductName] is installed");
    package.AddProperty(L"REQUEST_PROPERTY_NAME", L"MT_ASK");
    package.AddProperty(L"MT_ASK", L"Install to [TARGET]?");
    package.AddProperty(L"TARGET", L"C:\\App");
    session = package.Open();
  }
  MSIHANDLE session = 0;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
};

TEST_F(BoxActionTest, StylesAnswersAndBadNumbers) {
  const struct {
    UINT(__stdcall* action)(MSIHANDLE);
    const wchar_t *icon, *flag;
    int answer;
    UINT style;
    const wchar_t* errorLine;  // logged for a value that is not a number
  } cases[] = {
      {Message, L"", L"", IDOK, MB_ICONERROR, nullptr},
      {Message, L" 49 ", L"", IDCANCEL, MB_ICONWARNING | MB_OKCANCEL, nullptr},  // the icon is the whole style
      {Message, L"abc", L"", IDOK, MB_ICONERROR, L"Message: Error MESSAGE_ICON abc\r\n\r\n"},
      {Request, L"", L"", IDOK, MB_OKCANCEL | MB_ICONQUESTION, nullptr},
      {Request, L"48", L"4", IDNO, MB_YESNO | MB_ICONWARNING, nullptr},
      {Request, L"", L"x", IDCANCEL, MB_OKCANCEL | MB_ICONQUESTION, L"Request: Error REQUEST_FLAG x\r\n\r\n"},
      {Request, L"?", L"4", IDYES, MB_YESNO | MB_ICONQUESTION, L"Request: Error REQUEST_ICON ?\r\n\r\n"},
  };
  for (const auto& c : cases) {
    const bool request = c.action == Request;
    SCOPED_TRACE(CUnicodeString(request ? L"Request " : L"Message ") + c.icon + L"/" + c.flag);
    package.SetProperty(request ? L"REQUEST_ICON" : L"MESSAGE_ICON", c.icon);
    package.SetProperty(L"REQUEST_FLAG", c.flag);
    ui.shown.clear();
    ui.answers = {c.answer};
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(c.action(session), 0u);
    ASSERT_EQ(ui.shown.size(), 1u);
    // Request expands references; Message shows the text as the property holds it.
    EXPECT_EQ(ui.shown[0].text, request ? L"Install to C:\\App?" : L"[ProductName] is installed");
    EXPECT_EQ(ui.shown[0].caption, L"Test Product");
    EXPECT_EQ(ui.shown[0].style, c.style);
    EXPECT_EQ(package.Property(L"REQUEST_RETURN"), request ? CUnicodeString::FromInt(c.answer) : CUnicodeString());
    const CUnicodeString log = ActionLog(package).Mid(logged);
    EXPECT_EQ(log.Find(c.errorLine ? c.errorLine : L"Error") != CUnicodeString::npos, c.errorLine != nullptr) << log;
    package.SetProperty(L"REQUEST_RETURN", L"");
  }
  EXPECT_TRUE(ActionLog(package).StartsWith(L"Message\r\n\r\nProperty( MESSAGE_PROPERTY_NAME ) : MT_TELL\r\n"));
  EXPECT_EQ(ui.foreground.size(), std::size(cases));
}

TEST_F(BoxActionTest, MissingTextPropertyNameFails) {
  package.SetProperty(L"REQUEST_PROPERTY_NAME", L"");
  package.SetProperty(L"MESSAGE_PROPERTY_NAME", L"");
  EXPECT_EQ(Request(session), 1603u);
  EXPECT_EQ(Message(session), 1603u);
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_EQ(package.Property(L"REQUEST_RETURN"), L"");
}

// ---- Installer records ----

TEST_F(SessionActionsTest, CancelButtonRecords) {
  package.Open();
  CMessageRecorder recorder;
  EXPECT_EQ(package.Call("DisableCancelButton"), 0u);
  EXPECT_EQ(package.Call("EnableCancelButton"), 0u);
  EXPECT_EQ(package.Call("TestSetProgress"), 0u);  // the frame alone sends nothing
  const std::vector<CRecordedMessage> expected = {{INSTALLMESSAGE_COMMONDATA, {2, 0, kNullField}},
                                                  {INSTALLMESSAGE_COMMONDATA, {2, 1, kNullField}}};
  EXPECT_EQ(recorder.messages, expected);
}

TEST_F(SessionActionsTest, ResetProgressBarSendsFourRecords) {
  package.AddProperty(L"ResetProgressBarPersentage", L"40");
  package.Open();
  CMessageRecorder recorder;
  EXPECT_EQ(package.Call("ResetProgressBar"), 0u);
  const std::vector<CRecordedMessage> expected = {{INSTALLMESSAGE_PROGRESS, {0, 100, 0, 0}},
                                                  {INSTALLMESSAGE_PROGRESS, {1, 1, 0, 0}},
                                                  {INSTALLMESSAGE_PROGRESS, {2, 0, 0, 0}},
                                                  {INSTALLMESSAGE_PROGRESS, {2, 40, 0, 0}}};
  EXPECT_EQ(recorder.messages, expected);

  recorder.messages.clear();
  package.SetProperty(L"ResetProgressBarPersentage", L"4O");
  EXPECT_EQ(package.Call("ResetProgressBar"), 1603u);
  EXPECT_TRUE(recorder.messages.empty());
}

// ---- Feature state and target path ----

class CostedActionTest : public SessionActionsTest {
 protected:
  void SetUp() override {
    SessionTests::AddTestFeatures(package);
    package.AddProperty(L"Off_LOCAL", L"stale");
    session = package.Open(true);
  }
  MSIHANDLE session = 0;
};

TEST_F(CostedActionTest, GetFeatureStateSetsTheLocalProperty) {
  package.SetProperty(L"GetFeatureState_NAME", L"Main");
  EXPECT_EQ(package.Call("GetFeatureState"), 0u);
  EXPECT_EQ(package.Property(L"Main_LOCAL"), L"Yes");
  EXPECT_EQ(ActionLog(package),
            L"GetFeatureState\r\n\r\nProperty( GetFeatureState_NAME ) : Main\r\n"
            L"MsiGetFeatureState( " +
                SessionTests::HandleText(session) +
                L", Main ) \r\n  ret=0  piInstalled='INSTALLSTATE_ABSENT'  "
                L"piAction='INSTALLSTATE_LOCAL' \r\n\r\nSet Main_LOCAL = Yes\r\n");

  // Level 0: absent, no action, so the installed state counts.
  package.SetProperty(L"GetFeatureState_NAME", L"Off");
  EXPECT_EQ(package.Call("GetFeatureState"), 0u);
  EXPECT_EQ(package.Property(L"Off_LOCAL"), L"");

  ASSERT_EQ(MsiSetFeatureStateW(session, L"Main", INSTALLSTATE_ABSENT), 0u);
  package.SetProperty(L"GetFeatureState_NAME", L"Main");
  EXPECT_EQ(package.Call("GetFeatureState"), 0u);
  EXPECT_EQ(package.Property(L"Main_LOCAL"), L"");

  for (const wchar_t* name : {L"", L"Nowhere"}) {
    package.SetProperty(L"GetFeatureState_NAME", name);
    EXPECT_EQ(package.Call("GetFeatureState"), 1603u) << name;
  }
}

TEST_F(CostedActionTest, GetTargetPathReplacesTheDirectoryName) {
  package.SetProperty(L"TARGET_PATH", L"INSTALLDIR");
  EXPECT_EQ(package.Call("Get_TARGET_PATH"), 0u);
  const CUnicodeString path = package.Property(L"TARGET_PATH");
  EXPECT_TRUE(path.EndsWith(L"\\TestApp\\")) << path;
  EXPECT_TRUE(ActionLog(package).StartsWith(
      L"Get_TARGET_PATH \r\n\r\nProperty( TARGET_PATH ) : INSTALLDIR\r\nMsiGetTargetPath( "));

  // An unknown directory is only logged: the property is emptied.
  package.SetProperty(L"TARGET_PATH", L"NO_SUCH_DIR");
  EXPECT_EQ(package.Call("Get_TARGET_PATH"), 0u);
  EXPECT_EQ(package.Property(L"TARGET_PATH"), L"");
}
