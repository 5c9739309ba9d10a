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
// holds it. An icon or flag that is not a number gives the default.
TEST_F(SessionActionsTest, MessageAndRequestBoxes) {
  package.AddProperties(
      L"MESSAGE_PROPERTY_NAME=MT_TELL|MT_TELL=[ProductName] is installed|REQUEST_PROPERTY_NAME=MT_ASK|MT_ASK=Install "
      L"to [TARGET]?|TARGET=C:\\App");
  Open();
  // The message's icon is its whole style; REQUEST_RETURN holds the answer's number.
  const CUnicodeString tell = L"[ProductName] is installed", ask = L"Install to C:\\App?";
  RunCases(
      {{"Message", L"MESSAGE_ICON=|REQUEST_RETURN=", L"REQUEST_RETURN=", 0, CBox{tell, MB_ICONERROR}, IDOK},
       {"Message", L"MESSAGE_ICON= 49 ", L"REQUEST_RETURN=", 0, CBox{tell, MB_ICONWARNING | MB_OKCANCEL}, IDCANCEL},
       {"Request", L"REQUEST_ICON=48|REQUEST_FLAG=4", L"REQUEST_RETURN=7", 0, CBox{ask, MB_YESNO | MB_ICONWARNING},
        IDNO},
       {"Request", L"REQUEST_ICON=|REQUEST_FLAG=x", L"REQUEST_RETURN=2", 0, CBox{ask, MB_OKCANCEL | MB_ICONQUESTION},
        IDCANCEL},
       {"Request", L"REQUEST_ICON=?|REQUEST_FLAG=4", L"REQUEST_RETURN=6", 0, CBox{ask, MB_YESNO | MB_ICONQUESTION},
        IDYES}});
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
