// The command-line builder tables: switch fragments, saved and changed switches, the feature decision.
// SetCLBF itself runs against msiexec's own feature states in Tests/EndToEnd/tables-install.
#include "ActionTest.h"
#include "ArgCommandLine.h"

using namespace TestSupport;

namespace {
constexpr const char* kActions[] = {"SetCLBP", "SaveForCLBP", "SetCLBP_Modify", "SetCLBF"};
}  // namespace

class ArgCommandLineTest : public ActionTest {
 protected:
  void SetUp() override {
    package.ImportTable(TableSchemaPath(L"OV_PropertyArgCommandLine"));
    package.ImportTable(TableSchemaPath(L"OV_FeatureArgCommandLine"));
  }
  void AddSwitch(const CUnicodeString& property, const CCell& arg) {
    package.Insert(L"OV_PropertyArgCommandLine", {L"Property", L"Arg"}, {property, arg});
  }
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
  Open();
  RunCases({{"SetCLBP", {}, L"OV_CLBP= A:1 B:0 C:0 D:0 E:0 F:0 G:0 :1"}});
}

TEST_F(ArgCommandLineTest, EmptyTablesChangeNothingMissingTablesFail) {
  Open();
  CProperties earlier;
  for (const wchar_t* property :
       {L"OV_CLBP", L"OV_CLBP_INSTALL", L"OV_CLBP_UNINSTALL", L"OV_CLBF_INSTALL", L"OV_CLBF_UNINSTALL"})
    earlier.push_back({property, L"earlier"});
  for (const char* action : kActions) RunCases({{action, earlier, earlier}});
  CTestPackage withoutTables;
  withoutTables.Open();
  for (const char* action : kActions) EXPECT_EQ(withoutTables.Call(action), 1603u) << action;
}

TEST_F(ArgCommandLineTest, SetClbpModifyComparesRawValues) {
  AddSwitch(L"X", L"X");
  Open();
  // Results empty: not set.
  for (const auto& [saved, current, install, uninstall] : {std::tuple{L"1", L"0", L" X:0", L" X:1"},
                                                           {L"1", L"1", L"", L""},
                                                           {L"", L"0", L" X:0", L" X:0"},
                                                           {L"0", L"1", L" X:1", L" X:0"},
                                                           {L"1", L"1 ", L" X:0", L" X:1"}})
    RunCases({{"SetCLBP_Modify",
               {{L"SAVE_X", saved}, {L"X", current}, {L"OV_CLBP_INSTALL", L""}, {L"OV_CLBP_UNINSTALL", L""}},
               {{L"OV_CLBP_INSTALL", install}, {L"OV_CLBP_UNINSTALL", uninstall}}}});
}

TEST_F(ArgCommandLineTest, SaveForClbpCopiesEveryRowUnchanged) {
  AddSwitch(L"A_SCAN", L"/scan");
  AddSwitch(L"B_MAIL", L"/mail");
  package.AddProperties(L"A_SCAN= 0 |SAVE_B_MAIL=stale");
  Open();
  RunCases({{"SaveForCLBP", {}, L"SAVE_A_SCAN= 0 |SAVE_B_MAIL="}});  // unset too
}

// One pair per step of the three chains of requested actions (an advertised feature is not removed
// from DEFAULT), and installed states outside them.
TEST(InstallActionExtended, FollowsTheChainOfTheInstalledState) {
  using enum Msi::FeatureArgDecision;
  constexpr int U = INSTALLSTATE_UNKNOWN, V = INSTALLSTATE_ADVERTISED, A = INSTALLSTATE_ABSENT, L = INSTALLSTATE_LOCAL,
                S = INSTALLSTATE_SOURCE, D = INSTALLSTATE_DEFAULT;
  const std::tuple<int, int, Msi::FeatureArgDecision> cases[] = {
      {A, U, StaysAbsent}, {A, V, Remove},     {V, L, Install},     {U, V, Remove},     {U, D, NoDecision},
      {U, S, NoDecision},  {L, V, Remove},     {L, L, Install},     {L, U, NoDecision}, {D, V, NoDecision},
      {D, A, Remove},      {S, L, NoDecision}, {-6, L, NoDecision},
  };
  for (const auto& [installed, action, decision] : cases)
    EXPECT_EQ(Msi::InstallActionExtended(installed, action), decision)
        << "installed " << installed << ", action " << action;
}
