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
      {L"0", L"1", L" X:1", L" X:0"}, {L"1", L"1 ", L" X:0", L" X:1"},
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

// The decision for every pair of states; the log's label trail is checked on the documented example
// (an absent feature being installed passes its label on through advertised to unknown).
TEST_F(ArgCommandLineTest, InstallActionExtendedDecidesEveryPair) {
  using enum Msi::FeatureArgDecision;
  constexpr int U = INSTALLSTATE_UNKNOWN, V = INSTALLSTATE_ADVERTISED, A = INSTALLSTATE_ABSENT, L = INSTALLSTATE_LOCAL,
                S = INSTALLSTATE_SOURCE, D = INSTALLSTATE_DEFAULT;
  const struct {
    int installed, action;
    Msi::FeatureArgDecision decision;
  } cases[] = {
      {U, U, NoDecision}, {U, V, Remove},      {U, A, Remove},     {U, L, Install},    {U, D, NoDecision},
      {U, S, NoDecision}, {U, 7, NoDecision},  {V, L, Install},    {V, D, NoDecision}, {A, U, StaysAbsent},
      {A, V, Remove},     {A, L, Install},     {L, U, NoDecision}, {L, V, Remove},     {L, A, Remove},
      {L, L, Install},    {L, D, NoDecision},  {L, S, NoDecision}, {D, U, NoDecision}, {D, V, NoDecision},
      {D, A, Remove},     {D, L, Install},     {D, D, NoDecision}, {D, S, NoDecision}, {S, L, NoDecision},
      {0, A, NoDecision}, {-6, L, NoDecision},
  };
  package.Open();
  for (const auto& c : cases)
    EXPECT_EQ(Msi::InstallActionExtended(c.installed, c.action), c.decision)
        << "installed " << c.installed << ", action " << c.action;
  const size_t before = ActionLog(package).Length();
  Msi::InstallActionExtended(A, L);
  EXPECT_EQ(ActionLog(package).Mid(before),
            L"InstallActionExtended\r\ninstalled:INSTALLSTATE_ABSENT\r\ninstalled:INSTALLSTATE_ADVERTISED\r\n"
            L"installed:INSTALLSTATE_UNKNOWN\r\naction:INSTALLSTATE_LOCAL\r\n");
  Msi::InstallActionExtended(-6, L);
  EXPECT_NE(ActionLog(package).Find(L"installed:default:-6\r\n"), CUnicodeString::npos);
}
