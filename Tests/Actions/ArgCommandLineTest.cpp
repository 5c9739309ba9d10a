// The command-line builder tables: switch fragments, saved and changed switches, the feature decision.
// SetCLBF itself runs against msiexec's own feature states in Tests/EndToEnd/tables-install.
#include <gtest/gtest.h>

#include "ArgCommandLine.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using SessionTests::Utf8;
using TestSupport::CCell;
using Vrn::CUnicodeString;

namespace {
constexpr const char* kActions[] = {"SetCLBP", "SaveForCLBP", "SetCLBP_Modify", "SetCLBF"};
}  // namespace

class ArgCommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    package.ImportTable(TestSupport::TableSchemaPath(L"OV_PropertyArgCommandLine"));
    package.ImportTable(TestSupport::TableSchemaPath(L"OV_FeatureArgCommandLine"));
  }
  void AddSwitch(const CUnicodeString& property, const CCell& arg) {
    package.Insert(L"OV_PropertyArgCommandLine", {L"Property", L"Arg"}, {property, arg});
  }

  TestSupport::CMachineIsolation isolation;  // a failing action counts itself in HKEY_LOCAL_MACHINE
  TestSupport::CTestPackage package;
};

TEST_F(ArgCommandLineTest, SetClbpSwitchesOnlyOnExactlyOne) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"A_ONE", L"1"},        {L"B_YES", L"yes"},   {L"C_UNSET", nullptr}, {L"D_ZERO_BLANK", L"0 "},
      {L"E_BLANK_ONE", L" 1"}, {L"F_TRUE", L"true"}, {L"G_TWO", L"2"}};
  for (const auto& [property, value] : rows) {
    AddSwitch(property, CUnicodeString(property).Left(1));
    if (value) package.AddProperty(property, value);
  }
  AddSwitch(L"H_NO_ARG", CCell::Null());  // a row without an argument name is not skipped
  package.AddProperty(L"H_NO_ARG", L"1");
  package.Open();

  EXPECT_EQ(package.Call("SetCLBP"), 0u);
  EXPECT_EQ(package.Property(L"OV_CLBP"), L" A:1 B:0 C:0 D:0 E:0 F:0 G:0 :1");
  EXPECT_TRUE(ActionLog(package).StartsWith(L"SetCLBP\r\n\r\nGetPropertySilent : A_ONE\r\n"));
}

TEST_F(ArgCommandLineTest, EmptyTablesChangeNothingMissingTablesFail) {
  package.Open();
  const wchar_t* results[] = {L"OV_CLBP", L"OV_CLBP_INSTALL", L"OV_CLBP_UNINSTALL", L"OV_CLBF_INSTALL",
                              L"OV_CLBF_UNINSTALL"};
  for (const wchar_t* property : results) package.SetProperty(property, L"earlier");
  for (const char* action : kActions) EXPECT_EQ(package.Call(action), 0u) << action;
  for (const wchar_t* property : results) EXPECT_EQ(package.Property(property), L"earlier");
  EXPECT_EQ(ActionLog(package).Find(L"Set "), CUnicodeString::npos);
  TestSupport::CTestPackage withoutTables;
  withoutTables.Open();
  for (const char* action : kActions) EXPECT_EQ(withoutTables.Call(action), 1603u) << action;
}

TEST_F(ArgCommandLineTest, SetClbpModifyComparesRawValues) {
  AddSwitch(L"X", L"X");
  package.Open();
  struct {
    const wchar_t *saved, *current, *install, *uninstall;  // results empty: not set
  } const cases[] = {
      {L"1", L"0", L" X:0", L" X:1"}, {L"1", L"1", L"", L""},          {L"", L"0", L" X:0", L" X:0"},
      {L"0", L"1", L" X:1", L" X:0"}, {L"1", L"1 ", L" X:0", L" X:1"}, {L"", L"", L"", L""},
  };
  for (const auto& c : cases) {
    package.SetProperty(L"SAVE_X", c.saved);
    package.SetProperty(L"X", c.current);
    package.SetProperty(L"OV_CLBP_INSTALL", L"");
    package.SetProperty(L"OV_CLBP_UNINSTALL", L"");
    EXPECT_EQ(package.Call("SetCLBP_Modify"), 0u);
    EXPECT_EQ(package.Property(L"OV_CLBP_INSTALL") + L"|" + package.Property(L"OV_CLBP_UNINSTALL"),
              CUnicodeString(c.install) + L"|" + c.uninstall)
        << Utf8(CUnicodeString(L"saved '") + c.saved + L"' current '" + c.current + L"'");
  }
}

TEST_F(ArgCommandLineTest, SaveForClbpCopiesEveryRowUnchanged) {
  AddSwitch(L"A_SCAN", L"/scan");
  AddSwitch(L"B_MAIL", L"/mail");
  package.AddProperty(L"A_SCAN", L" 0 ");
  package.AddProperty(L"SAVE_B_MAIL", L"stale");
  package.Open();
  EXPECT_EQ(package.Call("SaveForCLBP"), 0u);
  EXPECT_EQ(package.Property(L"SAVE_A_SCAN") + L"|" + package.Property(L"SAVE_B_MAIL"), L" 0 |");  // unset too
}

TEST_F(ArgCommandLineTest, InstallActionExtendedWalksEveryPath) {
  using enum Msi::FeatureArgDecision;
  constexpr int U = INSTALLSTATE_UNKNOWN, V = INSTALLSTATE_ADVERTISED, A = INSTALLSTATE_ABSENT, L = INSTALLSTATE_LOCAL,
                S = INSTALLSTATE_SOURCE, D = INSTALLSTATE_DEFAULT;
  const wchar_t *iU = L"installed:INSTALLSTATE_UNKNOWN", *iV = L"installed:INSTALLSTATE_ADVERTISED",
                *iA = L"installed:INSTALLSTATE_ABSENT", *iL = L"installed:INSTALLSTATE_LOCAL",
                *iD = L"installed:INSTALLSTATE_DEFAULT";
  const wchar_t *aU = L"action:INSTALLSTATE_UNKNOWN", *aV = L"action:INSTALLSTATE_ADVERTISED",
                *aA = L"action:INSTALLSTATE_ABSENT", *aL = L"action:INSTALLSTATE_LOCAL",
                *aD = L"action:INSTALLSTATE_DEFAULT";
  struct {
    int installed, action;
    std::vector<const wchar_t*> lines;
    Msi::FeatureArgDecision decision;
  } const cases[] = {
      // Installed unknown: table U.
      {U, U, {iU, aU, L"action:default:-1"}, NoDecision},
      {U, V, {iU, aV, aA}, Remove},
      {U, A, {iU, aA}, Remove},
      {U, L, {iU, aL}, Install},
      {U, D, {iU, aD, aU, L"action:default:5"}, NoDecision},
      {U, S, {iU, L"action:default:4"}, NoDecision},
      {U, 7, {iU, L"action:default:7"}, NoDecision},
      // Advertised, and absent with a requested action, pass the unknown label on to table U.
      {V, L, {iV, iU, aL}, Install},
      {V, D, {iV, iU, aD, aU, L"action:default:5"}, NoDecision},
      {A, U, {iA, aU}, StaysAbsent},
      {A, V, {iA, iV, iU, aV, aA}, Remove},
      {A, L, {iA, iV, iU, aL}, Install},
      // Installed local: table L.
      {L, U, {iL, aU, aD, L"action:default:-1"}, NoDecision},
      {L, V, {iL, aV, aA}, Remove},
      {L, A, {iL, aA}, Remove},
      {L, L, {iL, aL}, Install},
      {L, D, {iL, aD, L"action:default:5"}, NoDecision},
      {L, S, {iL, L"action:default:4"}, NoDecision},
      // Installed default: table D, where advertised is no removal.
      {D, U, {iD, aU, aD, L"action:default:-1"}, NoDecision},
      {D, V, {iD, aV, aU, aD, L"action:default:1"}, NoDecision},
      {D, A, {iD, aA}, Remove},
      {D, L, {iD, aL}, Install},
      {D, D, {iD, aD, L"action:default:5"}, NoDecision},
      {D, S, {iD, L"action:default:4"}, NoDecision},
      // Source and unlisted installed states decide nothing.
      {S, L, {L"installed:default:4"}, NoDecision},
      {0, A, {L"installed:default:0"}, NoDecision},
      {-6, L, {L"installed:default:-6"}, NoDecision},
  };
  package.Open();
  for (const auto& c : cases) {
    const size_t before = ActionLog(package).Length();
    const Msi::FeatureArgDecision decision = Msi::InstallActionExtended(c.installed, c.action);
    CUnicodeString expected = L"InstallActionExtended\r\n";
    for (const wchar_t* line : c.lines) expected += CUnicodeString(line) + L"\r\n";
    const std::string label = "installed " + std::to_string(c.installed) + ", action " + std::to_string(c.action);
    EXPECT_EQ(ActionLog(package).Mid(before), expected) << label;
    EXPECT_EQ(decision, c.decision) << label;
  }
}
