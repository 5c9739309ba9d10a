// The feature-management actions: the listing parser, the table of the system, the warning's outcomes
// and the tool's runs. Tests/EndToEnd/dism-install runs them with a stand-in tool's real listings,
// the demo package's installs with Wine's own tool.
#include "ActionTest.h"
#include "ChildProcessTest.h"
#include "Dism.h"
#include "FakeSeams.h"
#include "TestChild.h"

using namespace TestSupport;

namespace {

constexpr wchar_t kHeader[] = L"Feature Name                                | State";
constexpr wchar_t kSeparator[] = L"------------------------------------------- | --------";
const wchar_t* const kTables[] = {L"OV_System_W7_Features", L"OV_System_W8_Features", L"OV_System_W10_Features",
                                  L"OV_System_W12_Features"};

void AddFeatureRow(CTestPackage& package, const wchar_t* table, const wchar_t* feature, const wchar_t* caption1,
                   const wchar_t* uiName) {
  package.Insert(table, {L"Feature", L"Caption1", L"UIFeatureName"}, {feature, caption1, uiName});
}

// A session whose package has the four feature tables, opened on a system (the installer sets
// VersionNT and MsiNTProductType itself when it opens a package).
struct CDismSession : CActionSession {
  CDismSession() {
    for (const wchar_t* table : kTables) package.ImportTable(TableSchemaPath(table));
  }
  void OpenOn(const wchar_t* versionNt) {
    Open();
    Set({{L"VersionNT", versionNt}, {L"MsiNTProductType", L"1"}});
  }
};

}  // namespace

TEST(DismFeatureTable, ParsesRowsBetweenHeaderAndEnd) {
  const std::tuple<const char*, std::vector<CUnicodeString>, Msi::CFeatureStates> cases[] = {
      {"with separator",
       {L"Deployment Image Servicing", L"", kHeader, kSeparator, L"IIS-WebServer   | Enabled", L"NetFx3 | Disabled",
        L"TFTP|Disable Pending", L"", L"Late | Enabled"},
       {{L"IIS-WebServer", true}, {L"NetFx3", false}, {L"TFTP", false}}},
      {"without separator", {kHeader, L"A | Enabled", L"B | Disabled"}, {{L"A", true}, {L"B", false}}},
      {"a row without a state ends it",
       {kHeader, kSeparator, L"A | Enabled", L"garbage \x01\x7f", L"B | Disabled"},
       {{L"A", true}}},
      {"state only after the first character", {kHeader, L"Enabled", L"X | Enabled"}, {}},
      {"no header", {L"A | Enabled", L"B | Disabled"}, {}},
      {"header and separator only", {kHeader, kSeparator}, {}},
  };
  for (const auto& [name, lines, expected] : cases) EXPECT_EQ(Msi::ParseFeatureTable(lines), expected) << name;
}

class DismFeaturesWarningTest : public ActionTest {
 protected:
  void SetUp() override {
    for (const wchar_t* table : kTables) package.ImportTable(TableSchemaPath(table));
    package.AddProperties(
        L"MT_DISM_FeaturesWarning=Enable these features:|MT_DISM_FeaturesWarning_APPEND=Also "
        L"note:|MT_DISM_FeaturesWarning_APPEND0=Please read:");
  }
  void OpenOn(const wchar_t* versionNt, const wchar_t* productType) {
    Open();
    Set({{L"VersionNT", versionNt}, {L"MsiNTProductType", productType}});
  }
  CFakeFeatureTool tool;
  Msi::CFeatureToolSeam::COverride toolSeam{tool};
};

TEST_F(DismFeaturesWarningTest, DecidesBetweenWarningAndQuestion) {
  AddFeatureRow(package, L"OV_System_W10_Features", L"NetFx3", L"Framework", L".NET 3.5");
  AddFeatureRow(package, L"OV_System_W10_Features", L"TFTP", L"Tools", L"TFTP client");
  OpenOn(L"603", L"1");
  const CUnicodeString missing = L"Enable these features:\nTools\n\tTFTP client";
  const auto question = [](const CUnicodeString& text) { return CBox{text, MB_OKCANCEL | MB_ICONQUESTION}; };
  const CProperties cleared = {{L"DISM_GF_VALID", L""}, {L"DISM_GF_CONTINUE", L""}, {L"DISM_WARNING", L""}};
  const auto with = [&](CProperties properties) {
    properties.insert(properties.begin(), cleared.begin(), cleared.end());
    return properties;
  };
  // Nothing missing, an extra text: a warning, or a question (OK goes on, Cancel stops).
  tool.lines = {kHeader, L"NetFx3 | Enabled", L"TFTP | Enabled"};
  RunCases({{"DISM_FeaturesWarning",
             with({{L"DISM_FeaturesWarning_APPEND", L"Reboot first."}, {L"DISM_FeaturesWarning_Hide", L"1"}}),
             L"DISM_WARNING=Please read:\n\nReboot first.|DISM_GF_VALID="},
            {"DISM_FeaturesWarning", with({{L"DISM_FeaturesWarning_Hide", L""}}), L"DISM_GF_CONTINUE=Yes", 0,
             question(L"Please read:\n\nReboot first."), IDOK},
            {"DISM_FeaturesWarning", cleared, L"DISM_GF_CONTINUE=", 1602, question(L"Please read:\n\nReboot first."),
             IDCANCEL}});
  // A feature missing: the question with or without the extra text, and the hidden warning with it.
  tool.lines = {kHeader, L"NetFx3 | Enabled", L"TFTP | Disabled"};
  RunCases({{"DISM_FeaturesWarning", with({{L"DISM_FeaturesWarning_APPEND", L""}}), L"DISM_GF_CONTINUE=", 1602,
             question(missing), IDCANCEL},
            {"DISM_FeaturesWarning",
             with({{L"DISM_FeaturesWarning_APPEND", L"Reboot first."}, {L"DISM_FeaturesWarning_Hide", L"1"}}),
             L"DISM_WARNING=Also note:\n\nReboot first.\n\n" + missing},
            {"DISM_FeaturesWarning", with({{L"DISM_FeaturesWarning_Hide", L""}}), L"DISM_WARNING=", 1602,
             question(L"Please read:Also note:\n\nReboot first.\n\n" + missing), IDCANCEL}});
}

TEST_F(DismFeaturesWarningTest, ChoosesTheTableOfTheSystem) {
  for (const wchar_t* table : kTables) AddFeatureRow(package, table, L"TFTP", L"", table);
  package.AddProperty(L"DISM_FeaturesWarning_Hide", L"1");
  tool.lines = {kHeader, L"TFTP | Disabled"};
  OpenOn(L"603", L"1");
  for (const auto& [version, type, table] : {std::tuple{L"601", L"3", L"OV_System_W7_Features"},
                                             {L"602", L"1", L"OV_System_W8_Features"},
                                             {L"602", L"2", L"OV_System_W12_Features"},
                                             {L"603", L"1", L"OV_System_W10_Features"},
                                             {L"603", L"3", L"OV_System_W12_Features"},
                                             {L"600", L"1", nullptr},
                                             {L"603", L"", nullptr},
                                             {L"x", L"1", nullptr}})
    RunCases({{"DISM_FeaturesWarning",
               {{L"VersionNT", version}, {L"MsiNTProductType", type}, {L"DISM_WARNING", L""}},
               {{L"DISM_WARNING", table ? L"Enable these features:\n\t" + CUnicodeString(table) : CUnicodeString()}},
               table ? 0u : 1603u}});
}

TIMED_CHILD_TEST(DismRun, RunsAndTimesOut, 120000) {
  CDismSession s;
  s.package.AddProperty(L"MT_ERR_FAIL_TO_MANIPULATE_WITH_PROCESS", L"The tool did not finish.");
  s.OpenOn(L"603");
  s.RunCases({{"DISM_Run", L"", L"", 1603},  // no command
              {"DISM_RunExt", L"", L"", 1603},
              {"DISM_Run", {{L"DISM_RUN_CMD", TestChildCommand(L"print=ok exit=5")}}},
              {"DISM_RunExt"},  // empty seconds: the default limit
              {"DISM_RunExt", L"DISM_RUN_CMD_SECONDS=-1", L"", 1603},
              {"DISM_RunExt", L"DISM_RUN_CMD=" + TestChildCommand(L"sleep=60000") + L"|DISM_RUN_CMD_SECONDS=1", L"",
               NotCounted(1603), CBox{L"The tool did not finish.", MB_ICONINFORMATION}}});
}
