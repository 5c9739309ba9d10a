// The feature and component state actions on costed packages: the states are the installer's own
// decisions, read back with the installer API after each action. The whole install with ADDLOCAL
// and REMOVE on msiexec's command line is Tests/EndToEnd/features-install.
#include <gtest/gtest.h>

#include <algorithm>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "FeatureView.h"
#include "ProductReinstall.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using TestSupport::CCell;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall CheckFeatureListEmpty(MSIHANDLE session);
extern "C" UINT __stdcall ReinstallProduct(MSIHANDLE session);

namespace {

struct CStates {
  int installed, action;
  bool operator==(const CStates&) const = default;
};
std::ostream& operator<<(std::ostream& out, const CStates& s) {
  return out << "(" << s.installed << ", " << s.action << ")";
}

CStates FeatureStates(MSIHANDLE session, const wchar_t* feature) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
  EXPECT_EQ(MsiGetFeatureStateW(session, feature, &installed, &action), 0u) << Vrn::CUnicodeString(feature);
  return {installed, action};
}

CStates ComponentStates(MSIHANDLE session, const wchar_t* component) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
  EXPECT_EQ(MsiGetComponentStateW(session, component, &installed, &action), 0u) << Vrn::CUnicodeString(component);
  return {installed, action};
}

constexpr CStates kNewLocal{INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL};
constexpr CStates kNewAbsent{INSTALLSTATE_ABSENT, INSTALLSTATE_ABSENT};

void AddChildFeature(TestSupport::CTestPackage& package, const wchar_t* feature, const wchar_t* parent, int level) {
  package.Insert(L"Feature", {L"Feature", L"Feature_Parent", L"Title", L"Display", L"Level", L"Attributes"},
                 {feature, parent, feature, 2, level, 0});
}

// Records the reinstallation asked for instead of starting it.
struct CRecordingReinstall : Msi::CProductReinstall {
  UINT Reinstall(const wchar_t* productCode, DWORD mode) override {
    calls.emplace_back(productCode, mode);
    return ERROR_UNKNOWN_PRODUCT;
  }
  std::vector<std::pair<CUnicodeString, DWORD>> calls;
};

}  // namespace

class FeatureStateActionsTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;  // failing actions count themselves in HKEY_LOCAL_MACHINE
  TestSupport::CTestPackage package;
};

TEST(FeatureWillBeLocal, TwoStateRule) {
  constexpr INSTALLSTATE U = INSTALLSTATE_UNKNOWN, V = INSTALLSTATE_ADVERTISED, A = INSTALLSTATE_ABSENT,
                         L = INSTALLSTATE_LOCAL, S = INSTALLSTATE_SOURCE, D = INSTALLSTATE_DEFAULT;
  const struct {
    INSTALLSTATE installed;
    std::vector<INSTALLSTATE> localActions;  // of U, V, A, L, S, D
  } cases[] = {
      {U, {L, D}}, {V, {L, D}}, {A, {L, D}}, {L, {U, L, D}}, {D, {U, L, D}}, {S, {}}, {INSTALLSTATE_BROKEN, {}}};
  for (const auto& c : cases)
    for (INSTALLSTATE action : {U, V, A, L, S, D}) {
      const bool expected = std::find(c.localActions.begin(), c.localActions.end(), action) != c.localActions.end();
      EXPECT_EQ(Msi::FeatureWillBeLocal(c.installed, action), expected) << c.installed << "/" << action;
    }
}

TEST_F(FeatureStateActionsTest, ResourceModulesFollowLanguageAndMainFeatures) {
  package.AddFeature(L"Main");
  package.AddComponent(L"MainComp", L"Main");
  package.AddFeature(L"Extra", 0);
  package.AddFeature(L"UILang1");
  package.AddFeature(L"UILang2", 0);
  // Modules as children of their main feature; one component shared by two modules.
  const wchar_t* modules[] = {L"UILang1_Main", L"UILang2_Main", L"UILang1_Extra", L"UILang1_Ghost",
                              L"UILang1_",     L"UILang1x",     L"Other_Main"};
  for (const wchar_t* module : modules) {
    AddChildFeature(package, module, L"Main", 1);
    package.AddComponent(CUnicodeString(module) + L"Comp", module);
  }
  package.Insert(L"FeatureComponents", {L"Feature_", L"Component_"}, {L"UILang2_Main", L"UILang1_MainComp"});
  const MSIHANDLE session = package.Open(true);

  EXPECT_EQ(package.Call("SetFeaturesResModulesState"), 0u);
  EXPECT_EQ(FeatureStates(session, L"UILang1_Main"), kNewLocal);
  EXPECT_EQ(FeatureStates(session, L"UILang2_Main"), kNewAbsent);   // its language feature stays absent
  EXPECT_EQ(FeatureStates(session, L"UILang1_Extra"), kNewAbsent);  // its main feature stays absent
  for (const wchar_t* untouched : {L"UILang1_Ghost", L"UILang1_", L"UILang1x", L"Other_Main"})
    EXPECT_EQ(FeatureStates(session, untouched), kNewLocal) << CUnicodeString(untouched);
  EXPECT_EQ(ComponentStates(session, L"UILang1_MainComp").action, INSTALLSTATE_LOCAL);  // shared with a local module
  EXPECT_NE(ComponentStates(session, L"UILang2_MainComp").action, INSTALLSTATE_LOCAL);

  // The user drops the language, then takes it back: the module follows each time.
  for (INSTALLSTATE language : {INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}) {
    ASSERT_EQ(MsiSetFeatureStateW(session, L"UILang1", language), 0u);
    EXPECT_EQ(package.Call("SetFeaturesResModulesState"), 0u);
    EXPECT_EQ(FeatureStates(session, L"UILang1_Main").action, language);
  }
}

TEST_F(FeatureStateActionsTest, ComponentStatesFromProperties) {
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_SetComponentStateByProperty"));
  package.AddFeature(L"Main");
  for (const wchar_t* component : {L"CompA", L"CompB", L"CompC", L"CompD"}) package.AddComponent(component, L"Main");
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"CompA", L"PROP_A"}, {L"CompB", L"PROP_B"}, {L"CompC", L"PROP_UNSET"}};
  for (const auto& [component, property] : rows)
    package.Insert(L"OV_SetComponentStateByProperty", {L"Component", L"Property"}, {component, property});
  package.AddProperty(L"PROP_A", L"yes");
  package.AddProperty(L"PROP_B", L"No");
  package.AddProperty(L"CHECK_BOX_COMPONENT_NAME", L"CompD");
  const MSIHANDLE session = package.Open(true);

  EXPECT_EQ(package.Call("SetComponentStateByProperty"), 0u);
  EXPECT_EQ(ComponentStates(session, L"CompA"), kNewLocal);
  EXPECT_EQ(ComponentStates(session, L"CompB"), kNewAbsent);
  EXPECT_EQ(ComponentStates(session, L"CompC"), kNewAbsent);
  // GetComponentStateAndAction only logs the states of the table's components.
  EXPECT_EQ(package.Call("GetComponentStateAndAction"), 0u);
  EXPECT_NE(ActionLog(package).Find(L"component=CompA, state=2, action=3\r\ncomponent=CompB, state=2, action=2\r\n"),
            CUnicodeString::npos);

  const struct {
    const wchar_t *component, *flag;
    UINT result;
    CStates states;
  } checkBoxes[] = {{L"CompD", L"1", 0, kNewLocal}, {L"CompD", L"No", 0, kNewAbsent}, {L"NoSuchComp", L"1", 1603, {}}};
  for (const auto& c : checkBoxes) {
    SCOPED_TRACE(CUnicodeString(c.component) + L"/" + c.flag);
    package.SetProperty(L"CHECK_BOX_COMPONENT_NAME", c.component);
    package.SetProperty(L"IS_CHECK_BOX_COMPONENT", c.flag);
    EXPECT_EQ(package.Call("SetCheckBoxComponentState"), c.result);
    EXPECT_TRUE(c.result || ComponentStates(session, c.component) == c.states);
  }
}

TEST_F(FeatureStateActionsTest, ModulesBecomeProperties) {
  package.Open();
  const struct {
    const wchar_t *modules, *all, *set;  // set: "Y" for each of IS_SCAN, IS_VERIFY, IS_MAIL set to "Yes"
    const wchar_t* failed;               // the module named in the error line (result 1602)
  } cases[] = {
      {L"", L"SCAN", L"---", nullptr},
      {L"scan,,Verify,", L"Scan,VERIFY", L"YY-", nullptr},
      {L"scan,mail", L"SCAN,Other", L"Y--", L"MAIL"},
      {L"scan, verify", L"SCAN,VERIFY", L"Y--", L" VERIFY"},  // items are not trimmed
      {L"scan", L"", L"---", L"SCAN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.modules) + L" / " + c.all);
    CUnicodeString set;
    for (const wchar_t* name : {L"IS_SCAN", L"IS_VERIFY", L"IS_MAIL"}) package.SetProperty(name, L"");
    package.SetProperty(L"MODULES", c.modules);
    package.SetProperty(L"ALL_MODULES", c.all);
    EXPECT_EQ(package.Call("SetPropertiesByMODULES"), c.failed ? 1602u : 0u);
    for (const wchar_t* name : {L"IS_SCAN", L"IS_VERIFY", L"IS_MAIL"})
      set += package.Property(name) == L"Yes" ? L"Y" : L"-";
    EXPECT_EQ(set, c.set);
    EXPECT_TRUE(!c.failed ||
                ActionLog(package).EndsWith(CUnicodeString(L"ERROR: current module name failed (see ALL_MODULES): ") +
                                            c.failed + L"\r\n\r\n"));
  }
}

TEST_F(FeatureStateActionsTest, StationsMarkedUpToTheFirstEmptyItem) {
  package.Open();
  const wchar_t* properties[] = {L"IS_SCANNINGSTATION",   L"IS_PROCESSINGSTATION", L"IS_VERIFICATIONSTATION",
                                 L"IS_VALIDATIONSTATION", L"IS_SETUPSTATION",      L"IS_GRAVENSTUDIO",
                                 L"IS_FORMDESIGNER"};
  const struct {
    const wchar_t *stations, *expected;  // one character per property; "-" for "left unset"
  } cases[] = {
      {L"7,-1,x,1.5", L"-------"}, {L"0,6", L"1000001"},     {L"2,,3", L"0010000"},
      {L" 4 ,4", L"0000100"},      {L"5,abc,1", L"0100010"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.stations));
    for (const wchar_t* property : properties) package.SetProperty(property, L"-");
    package.SetProperty(L"STATIONS", c.stations);
    EXPECT_EQ(package.Call("SetStationsState"), 0u);
    CUnicodeString found;
    for (const wchar_t* property : properties) found += package.Property(property);
    EXPECT_EQ(found, c.expected);
  }
}

TEST_F(FeatureStateActionsTest, CustomFeatureStatesPublished) {
  package.AddFeature(L"Main");
  package.AddComponent(L"MainComp", L"Main");
  package.AddFeature(L"Off", 0);
  package.AddFeature(L"Dropped");
  package.AddComponent(L"DroppedComp", L"Dropped");
  package.AddProperty(L"MT_CustomFeatureState", L" Main |Off||Dropped| Ghost |  ");
  const MSIHANDLE session = package.Open(true);
  ASSERT_EQ(MsiSetFeatureStateW(session, L"Dropped", INSTALLSTATE_ABSENT), 0u);
  EXPECT_EQ(package.Call("SetCustomFeatureState"), 0u);
  const struct {
    const wchar_t *property, *verdict, *state, *action;
  } expected[] = {{L"IS_MAIN", L"1", L"2", L"3"},
                  {L"IS_OFF", L"2", L"2", L"-1"},  // level 0: no action at all
                  {L"IS_DROPPED", L"0", L"2", L"2"},
                  {L"IS_GHOST", L"2", L"-1", L"-1"}};
  for (const auto& e : expected) {
    SCOPED_TRACE(CUnicodeString(e.property));
    EXPECT_EQ(package.Property(e.property), e.verdict);
    EXPECT_EQ(package.Property(CUnicodeString(e.property) + L"_STATE"), e.state);
    EXPECT_EQ(package.Property(CUnicodeString(e.property) + L"_ACTION"), e.action);
  }
}

TEST_F(FeatureStateActionsTest, FeatureListEmptyOnlyWhenNothingWillBeThere) {
  package.AddFeature(L"Main");
  package.AddComponent(L"MainComp", L"Main");
  package.AddFeature(L"Off", 0);
  package.AddProperty(L"MT_EmptyFeatureList", L"Nothing selected for [ProductName]");
  const MSIHANDLE session = package.Open(true);
  package.SetProperty(L"UILevel", L"5");  // a full user interface: the box is shown
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
  const struct {
    const wchar_t* list;
    const wchar_t* expected;
  } cases[] = {{L"", L"0"}, {L"Off|Ghost", L"0"}, {L"Ghost| Main ", L"1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.list));
    package.SetProperty(L"MT_CheckFeatureListEmpty", c.list);
    ui.shown.clear();
    EXPECT_EQ(CheckFeatureListEmpty(session), 0u);
    EXPECT_EQ(package.Property(L"IS_FEATURELISTNOTEMPTY"), c.expected);
    ASSERT_EQ(ui.shown.size(), c.expected == CUnicodeString(L"0") ? 1u : 0u);
    if (!ui.shown.empty()) {
      EXPECT_EQ(ui.shown[0].text, L"Nothing selected for Test Product");
      EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ICONINFORMATION));
    }
  }
  // The user removes the only selected feature: the list is empty again.
  ASSERT_EQ(MsiSetFeatureStateW(session, L"Main", INSTALLSTATE_ABSENT), 0u);
  package.SetProperty(L"MT_CheckFeatureListEmpty", L"Main");
  EXPECT_EQ(CheckFeatureListEmpty(session), 0u);
  EXPECT_EQ(package.Property(L"IS_FEATURELISTNOTEMPTY"), L"0");
}

TEST_F(FeatureStateActionsTest, SinchronousFeaturesRemovesThenAdds) {
  for (const wchar_t* feature : {L"Main", L"Extra", L"Both"}) {
    package.AddFeature(feature);
    package.AddComponent(CUnicodeString(feature) + L"Comp", feature);
  }
  package.AddFeature(L"Off", 0);
  package.AddComponent(L"OffComp", L"Off");
  const MSIHANDLE session = package.Open(true);
  const struct {
    const wchar_t *remove, *addLocal;
    UINT result;
    int main, extra, both, off;  // action states afterwards
  } cases[] = {
      {L"Extra,\"Both\"", L"Off,Both", 0, 3, 2, 3, 3},
      {L"ALL", L"", 0, 3, 2, 3, 3},                   // "ALL" is left to the installer
      {L"all", L"", 1603, 3, 2, 3, 3},                // not a feature name
      {L"Main,\"Off", L"", 1603, 2, 2, 3, 3},         // unbalanced quote: Main goes, then the bad name fails
      {L"Off", L"\"Main,Extra\"", 1603, 2, 2, 3, 2},  // a quoted comma does not split
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.remove) + L" / " + c.addLocal);
    package.SetProperty(L"REMOVE", c.remove);
    package.SetProperty(L"ADDLOCAL", c.addLocal);
    EXPECT_EQ(package.Call("SinchronousFeatures"), c.result);
    EXPECT_EQ(FeatureStates(session, L"Main").action, c.main);
    EXPECT_EQ(FeatureStates(session, L"Extra").action, c.extra);
    EXPECT_EQ(FeatureStates(session, L"Both").action, c.both);
    EXPECT_EQ(FeatureStates(session, L"Off").action, c.off);
  }
}

TEST_F(FeatureStateActionsTest, ReinstallProductThroughTheSeam) {
  package.AddProperty(L"ReinstallProduct_ProductCode", L"{11111111-2222-3333-4444-555555555555}");
  const MSIHANDLE session = package.Open();
  CRecordingReinstall recorder;
  Msi::CProductReinstallOverride seam{recorder};
  EXPECT_EQ(ReinstallProduct(session), 0u);  // the reinstallation's failure is only logged
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(recorder.calls[0].first, L"{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(recorder.calls[0].second, 0x288u);
  EXPECT_NE(ActionLog(package).Find(L"ReinstallProduct ret:1605"), CUnicodeString::npos) << ActionLog(package);
}

// The real reinstallation, from a plain process (never from inside an install under Wine, where it
// does not return): an unknown product is refused at once.
TIMED_CHILD_TEST(FeatureStateActionsReal, ReinstallUnknownProduct, 60000) {
  EXPECT_EQ(Msi::ProductReinstall().Reinstall(L"{11111111-2222-3333-4444-555555555555}", 0x288), 1605u);
}
