// The feature and component state actions on costed packages, read back with the installer API.
// Tests/EndToEnd/features-install runs them under msiexec with ADDLOCAL and REMOVE.

#include "ActionTest.h"
#include "ChildProcessTest.h"
#include "FakeSeams.h"

using namespace TestSupport;

namespace {

constexpr CStates kNewLocal{INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL};
constexpr CStates kNewAbsent{INSTALLSTATE_ABSENT, INSTALLSTATE_ABSENT};

}  // namespace

using FeatureStateActionsTest = ActionTest;

TEST_F(FeatureStateActionsTest, ResourceModulesFollowLanguageAndMainFeatures) {
  package.AddFeature(L"Main", 1, L"MainComp");
  package.AddFeature(L"Extra", 0);
  package.AddFeature(L"UILang1");
  package.AddFeature(L"UILang2", 0);
  // Modules as children of their main feature; one component shared by two modules.
  for (const wchar_t* module : {L"UILang1_Main", L"UILang2_Main", L"UILang1_Extra", L"UILang1_Ghost", L"UILang1_",
                                L"UILang1x", L"Other_Main"}) {
    package.Insert(L"Feature", {L"Feature", L"Feature_Parent", L"Title", L"Display", L"Level", L"Attributes"},
                   {module, L"Main", module, 2, 1, 0});
    package.AddComponent(CUnicodeString(module) + L"Comp", module);
  }
  package.Insert(L"FeatureComponents", {L"Feature_", L"Component_"}, {L"UILang2_Main", L"UILang1_MainComp"});
  Open(true);
  EXPECT_EQ(Call("SetFeaturesResModulesState"), 0u);
  EXPECT_EQ(FeatureStates(Session(), L"UILang1_Main"), kNewLocal);
  EXPECT_EQ(FeatureStates(Session(), L"UILang2_Main"), kNewAbsent);   // its language feature stays absent
  EXPECT_EQ(FeatureStates(Session(), L"UILang1_Extra"), kNewAbsent);  // its main feature stays absent
  for (const wchar_t* untouched : {L"UILang1_Ghost", L"UILang1_", L"UILang1x", L"Other_Main"})
    EXPECT_EQ(FeatureStates(Session(), untouched), kNewLocal) << untouched;
  EXPECT_EQ(ComponentStates(Session(), L"UILang1_MainComp").action, INSTALLSTATE_LOCAL);  // shared with a local module
  EXPECT_NE(ComponentStates(Session(), L"UILang2_MainComp").action, INSTALLSTATE_LOCAL);
  // The user drops the language, then takes it back: the module follows each time.
  for (INSTALLSTATE language : {INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}) {
    ASSERT_EQ(MsiSetFeatureStateW(Session(), L"UILang1", language), 0u);
    EXPECT_EQ(Call("SetFeaturesResModulesState"), 0u);
    EXPECT_EQ(FeatureStates(Session(), L"UILang1_Main").action, language);
  }
}

TEST_F(FeatureStateActionsTest, ComponentStatesFromProperties) {
  package.ImportTable(TableSchemaPath(L"OV_SetComponentStateByProperty"));
  package.AddFeature(L"Main");
  for (const wchar_t* component : {L"CompA", L"CompB", L"CompC", L"CompD"}) package.AddComponent(component, L"Main");
  for (const auto& [component, property] :
       {std::pair{L"CompA", L"PROP_A"}, {L"CompB", L"PROP_B"}, {L"CompC", L"PROP_UNSET"}})
    package.Insert(L"OV_SetComponentStateByProperty", {L"Component", L"Property"}, {component, property});
  package.AddProperties(L"PROP_A=yes|PROP_B=No");
  Open(true);
  RunCases({{"SetComponentStateByProperty"}, {"GetComponentStateAndAction"}});
  EXPECT_EQ(ComponentStates(Session(), L"CompA"), kNewLocal);
  EXPECT_EQ(ComponentStates(Session(), L"CompB"), kNewAbsent);
  EXPECT_EQ(ComponentStates(Session(), L"CompC"), kNewAbsent);
  // GetComponentStateAndAction only logs the states of the table's components.
  EXPECT_TRUE(Logged(L"component=CompA, state=2, action=3\r\ncomponent=CompB, state=2, action=2\r\n"));

  for (const auto& [flag, states] : {std::pair{L"1", kNewLocal}, {L"No", kNewAbsent}}) {
    RunCases(
        {{"SetCheckBoxComponentState", {{L"CHECK_BOX_COMPONENT_NAME", L"CompD"}, {L"IS_CHECK_BOX_COMPONENT", flag}}}});
    EXPECT_EQ(ComponentStates(Session(), L"CompD"), states);
  }
  RunCases({{"SetCheckBoxComponentState", L"CHECK_BOX_COMPONENT_NAME=NoSuchComp", L"", 1603}});
}

TEST_F(FeatureStateActionsTest, ModulesBecomeProperties) {
  Open();
  const auto modules = [](const wchar_t* list, const wchar_t* all, UINT result, const wchar_t* scan,
                          const wchar_t* verify) {
    return CActionCase{
        "SetPropertiesByMODULES",
        {{L"IS_SCAN", L""}, {L"IS_VERIFY", L""}, {L"IS_MAIL", L""}, {L"MODULES", list}, {L"ALL_MODULES", all}},
        {{L"IS_SCAN", scan}, {L"IS_VERIFY", verify}, {L"IS_MAIL", L""}},
        result};
  };
  RunCases({modules(L"", L"SCAN", 0, L"", L""), modules(L"scan,,Verify,", L"Scan,VERIFY", 0, L"Yes", L"Yes"),
            modules(L"scan,mail", L"SCAN,Other", 1602, L"Yes", L""),        // what was set before stays
            modules(L"scan, verify", L"SCAN,VERIFY", 1602, L"Yes", L"")});  // items are not trimmed
}

TEST_F(FeatureStateActionsTest, StationsMarkedUpToTheFirstEmptyItem) {
  Open();
  const wchar_t* const properties[] = {L"IS_SCANNINGSTATION",   L"IS_PROCESSINGSTATION", L"IS_VERIFICATIONSTATION",
                                       L"IS_VALIDATIONSTATION", L"IS_SETUPSTATION",      L"IS_GRAVENSTUDIO",
                                       L"IS_FORMDESIGNER"};
  // One character per property; "-" for "left unset".
  for (const auto& [stations, expected] : {std::pair{L"7,-1,x,1.5", L"-------"},
                                           {L"0,6", L"1000001"},
                                           {L"2,,3", L"0010000"},
                                           {L" 4 ,4", L"0000100"},
                                           {L"5,abc,1", L"0100010"}}) {
    CProperties set{{L"STATIONS", stations}}, expect;
    for (size_t i = 0; i < std::size(properties); ++i) {
      set.push_back({properties[i], L"-"});
      expect.push_back({properties[i], CUnicodeString(1, expected[i])});
    }
    RunCases({{"SetStationsState", set, expect}});
  }
}

// Names are trimmed and empty items skipped; a feature the installer does not know reads -1/-1.
// The verdicts of installed, dropped and untouched features are the end-to-end install's.
TEST_F(FeatureStateActionsTest, CustomFeatureStatesPublished) {
  package.AddFeature(L"Main", 1, L"MainComp");
  package.AddProperty(L"MT_CustomFeatureState", L" Main || Ghost |  ");
  Open(true);
  RunCases({{"SetCustomFeatureState",
             {},
             L"IS_MAIN=1|IS_MAIN_STATE=2|IS_MAIN_ACTION=3|IS_GHOST=2|IS_GHOST_STATE=-1|IS_GHOST_ACTION=-1"}});
}

TEST_F(FeatureStateActionsTest, FeatureListEmptyOnlyWhenNothingWillBeThere) {
  package.AddFeature(L"Main", 1, L"MainComp");
  package.AddFeature(L"Off", 0);
  package.AddProperty(L"MT_EmptyFeatureList", L"Nothing selected for [ProductName]");
  Open(true);
  const CBox empty{L"Nothing selected for Test Product", MB_ICONINFORMATION};
  RunCases(
      {{"CheckFeatureListEmpty", {{L"MT_CheckFeatureListEmpty", L""}}, {{L"IS_FEATURELISTNOTEMPTY", L"0"}}, 0, {empty}},
       {"CheckFeatureListEmpty",
        {{L"MT_CheckFeatureListEmpty", L"Off|Ghost"}},
        {{L"IS_FEATURELISTNOTEMPTY", L"0"}},
        0,
        {empty}},
       {"CheckFeatureListEmpty",
        {{L"MT_CheckFeatureListEmpty", L"Ghost| Main "}},
        {{L"IS_FEATURELISTNOTEMPTY", L"1"}}}});
  // The user removes the only selected feature: the list is empty again.
  ASSERT_EQ(MsiSetFeatureStateW(Session(), L"Main", INSTALLSTATE_ABSENT), 0u);
  RunCases({{"CheckFeatureListEmpty", L"MT_CheckFeatureListEmpty=Main", L"IS_FEATURELISTNOTEMPTY=0", 0, empty}});
}

TEST_F(FeatureStateActionsTest, SinchronousFeaturesRemovesThenAdds) {
  for (const wchar_t* feature : {L"Main", L"Extra", L"Both"})
    package.AddFeature(feature, 1, CUnicodeString(feature) + L"Comp");
  package.AddFeature(L"Off", 0, L"OffComp");
  Open(true);
  // The requested actions of Main, Extra, Both and Off afterwards.
  const std::tuple<const wchar_t*, const wchar_t*, UINT, const char*> cases[] = {
      {L"Extra,\"Both\"", L"Off,Both", 0, "3233"},
      {L"ALL", L"", 0, "3233"},                   // "ALL" is left to the installer
      {L"all", L"", 1603, "3233"},                // not a feature name
      {L"Main,\"Off", L"", 1603, "2233"},         // unbalanced quote: Main goes, then the bad name fails
      {L"Off", L"\"Main,Extra\"", 1603, "2232"},  // a quoted comma does not split
  };
  for (const auto& [remove, addLocal, result, expected] : cases) {
    RunCases({{"SinchronousFeatures", {{L"REMOVE", remove}, {L"ADDLOCAL", addLocal}}, L"", result}});
    std::string actions;
    for (const wchar_t* feature : {L"Main", L"Extra", L"Both", L"Off"})
      actions += std::to_string(FeatureStates(Session(), feature).action);
    EXPECT_EQ(actions, expected) << remove;
  }
}

// The reinstallation's failure is only logged.
TEST_F(FeatureStateActionsTest, ReinstallProductThroughTheSeam) {
  package.AddProperty(L"ReinstallProduct_ProductCode", L"{11111111-2222-3333-4444-555555555555}");
  Open();
  CFakeReinstall recorder;
  Msi::CProductReinstallOverride seam{recorder};
  RunCases({{"ReinstallProduct"}});
  EXPECT_EQ(recorder.calls,
            (std::vector<std::pair<CUnicodeString, DWORD>>{{L"{11111111-2222-3333-4444-555555555555}", 0x288}}));
  EXPECT_TRUE(Logged(L"ReinstallProduct ret:1605"));
}

// The real reinstallation, from a plain process (never from inside an install under Wine, where it
// does not return): an unknown product is refused at once.
TIMED_CHILD_TEST(FeatureStateActionsReal, ReinstallUnknownProduct, 60000) {
  EXPECT_EQ(Msi::ProductReinstall().Reinstall(L"{11111111-2222-3333-4444-555555555555}", 0x288), 1605u);
}
