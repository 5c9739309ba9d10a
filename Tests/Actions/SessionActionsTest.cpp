// The session actions: boxes and answers, the Cancel-button and progress records, a feature's state
// and a target path. Real boxes (no display: -1 at once) are message-boxes-install's.
#include "ActionTest.h"

using namespace TestSupport;

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

using SessionActionsTest = ActionTest;

// Request expands references and answers in REQUEST_RETURN; Message shows the text as the property
// holds it. A value that is not a number gives the default.
TEST_F(SessionActionsTest, MessageAndRequestBoxes) {
  package.AddProperties(
      L"MESSAGE_PROPERTY_NAME=MT_TELL|MT_TELL=[ProductName] is installed|REQUEST_PROPERTY_NAME=MT_ASK|MT_ASK=Install "
      L"to [TARGET]?|TARGET=C:\\App");
  Open();
  const auto message = [](const wchar_t* icon, int answer, UINT style) {
    return CActionCase{"Message",
                       {{L"MESSAGE_ICON", icon}, {L"REQUEST_RETURN", L""}},
                       {{L"REQUEST_RETURN", L""}},
                       0,
                       {{L"[ProductName] is installed", style}},
                       {answer}};
  };
  const auto request = [](const wchar_t* icon, const wchar_t* flag, int answer, UINT style) {
    return CActionCase{"Request",
                       {{L"REQUEST_ICON", icon}, {L"REQUEST_FLAG", flag}},
                       {{L"REQUEST_RETURN", CUnicodeString::FromInt(answer)}},
                       0,
                       {{L"Install to C:\\App?", style}},
                       {answer}};
  };
  RunCases({message(L"", IDOK, MB_ICONERROR),
            message(L" 49 ", IDCANCEL, MB_ICONWARNING | MB_OKCANCEL),  // the icon is the whole style
            request(L"48", L"4", IDNO, MB_YESNO | MB_ICONWARNING),
            request(L"", L"x", IDCANCEL, MB_OKCANCEL | MB_ICONQUESTION),
            request(L"?", L"4", IDYES, MB_YESNO | MB_ICONQUESTION)});
  EXPECT_EQ(ui.foreground.size(), 5u);
  // Without the name of the text property neither box is shown.
  RunCases({{"Request", L"REQUEST_PROPERTY_NAME=", L"", 1603}, {"Message", L"MESSAGE_PROPERTY_NAME=", L"", 1603}});
}

TEST_F(SessionActionsTest, CancelButtonAndProgressRecords) {
  package.AddProperty(L"ResetProgressBarPersentage", L"40");
  Open();
  g_records.clear();
  MsiSetExternalUIRecord(Record, INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_COMMONDATA, nullptr, nullptr);
  RunCases({{"DisableCancelButton"},
            {"EnableCancelButton"},
            {"ResetProgressBar"},
            {"ResetProgressBar", L"ResetProgressBarPersentage=4O", L"", 1603}});  // sends nothing
  MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr);
  constexpr int kCommon = INSTALLMESSAGE_COMMONDATA >> 24, kProgress = INSTALLMESSAGE_PROGRESS >> 24,
                kNull = static_cast<int>(MSI_NULL_INTEGER);
  const std::vector<std::vector<int>> expected = {{kCommon, 2, 0, kNull},    {kCommon, 2, 1, kNull},
                                                  {kProgress, 0, 100, 0, 0}, {kProgress, 1, 1, 0, 0},
                                                  {kProgress, 2, 0, 0, 0},   {kProgress, 2, 40, 0, 0}};
  EXPECT_EQ(g_records, expected);
}

TEST_F(SessionActionsTest, FeatureStateAndTargetPathFailures) {
  package.AddFeature(L"Main");
  package.AddFeature(L"Off", 0);
  package.AddProperty(L"Off_LOCAL", L"stale");
  Open(true);
  // Level 0: absent with no action, so the installed state counts and the property is emptied. An
  // unknown directory is only logged: the property is emptied.
  RunCases({{"GetFeatureState", L"GetFeatureState_NAME=Off", L"Off_LOCAL="},
            {"GetFeatureState", L"GetFeatureState_NAME=", L"", 1603},
            {"GetFeatureState", L"GetFeatureState_NAME=Nowhere", L"", 1603},
            {"Get_TARGET_PATH", L"TARGET_PATH=NO_SUCH_DIR", L"TARGET_PATH="}});
}
