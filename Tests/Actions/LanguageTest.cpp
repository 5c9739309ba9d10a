// The interface-language actions: the language table row by row, the translation of the
// transform's language, the display check (through the locale seam, whose real side runs once),
// and the choice of "UILang<n>" features on costed packages.
#include <gtest/gtest.h>

#include <set>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "Language.h"
#include "LocaleSupport.h"
#include "MessageHandlers.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall CheckUILanguage(MSIHANDLE session);
extern "C" UINT __stdcall CheckIsSHELLLANGIDCanBeDisplayed(MSIHANDLE session);

namespace {

// Answers "not installed" for the locales it holds.
struct CMissingLocales : Msi::CLocaleSupport {
  bool IsInstalled(LCID locale) override { return std::find(missing.begin(), missing.end(), locale) == missing.end(); }
  std::vector<LCID> missing;
};

int FeatureAction(MSIHANDLE session, const CUnicodeString& feature) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
  EXPECT_EQ(MsiGetFeatureStateW(session, feature.c_str(), &installed, &action), 0u) << feature;
  return action;
}

}  // namespace

// Every used row is found by its own language, its name gives its LCID and it has the system's
// ANSI code page: a typing error in the table shows here.
TEST(LanguageTable, RowsAgreeWithTheSystemsLocales) {
  const auto table = Msi::LanguageTable();
  ASSERT_EQ(table.size(), 70u);
  for (size_t id = 0; id < table.size(); ++id) {
    const Msi::CLanguageRow& row = table[id];
    const CUnicodeString name = row.localeName;
    SCOPED_TRACE("row " + std::to_string(id) + " " + name.ToUtf8());
    if (row.Lcid() == 0) continue;  // an unused row
    EXPECT_EQ(Msi::FindLanguageId(static_cast<uint16_t>(row.Lcid())), static_cast<int>(id));
    // The old Serbian names are unknown to the system; Spanish holds the traditional sort.
    if (name.StartsWith(L"sr-SP-")) {
      EXPECT_EQ(row.Lcid(), name.EndsWith(L"Cyrl") ? 0xc1au : 0x81au);
      continue;
    }
    EXPECT_EQ(LocaleNameToLCID(name == L"es-ES" ? L"es-ES_tradnl" : row.localeName, 0), row.Lcid());
    // Wine's Kazakh locale has no ANSI code page (Windows' has 1251).
    wchar_t codePage[8] = {};
    GetLocaleInfoW(row.Lcid(), LOCALE_IDEFAULTANSICODEPAGE, codePage, 8);
    EXPECT_TRUE(!row.codePage || name == L"kk-KZ" || CUnicodeString::FromInt(row.codePage) == codePage)
        << CUnicodeString(codePage);
  }
}

TEST(LanguageTable, FindLanguageId) {
  const std::pair<uint16_t, int> cases[] = {
      {1033, 0},    {2057, 0},                   // en-GB: no exact row, first row of English with sublanguage 0 or 1
      {0x0C0A, 5},  {0x0813, 28}, {0x101A, 36},  // Croatian of Bosnia falls back to hr-HR
      {0x0400, 12},                              // the first unused row has primary language 0
      {0x0436, -1}, {0xFFFF, -1}, {0x041E, 69},
  };
  for (const auto& [windows, id] : cases) EXPECT_EQ(Msi::FindLanguageId(windows), id) << std::hex << windows;
}

class LanguageActionsTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;  // failing actions count themselves in HKEY_LOCAL_MACHINE
  TestSupport::CTestPackage package;
  CMissingLocales locales;
  Msi::CLocaleSupportOverride localeSeam{locales};
};

TEST_F(LanguageActionsTest, CheckUILanguage) {
  // The action makes the product name the caption of the library's boxes, process-wide.
  struct CTitleRestore {
    CUnicodeString title = Vrn::ApplicationTitle();
    ~CTitleRestore() { Vrn::SetApplicationTitle(title); }
  } restore;
  const MSIHANDLE session = package.Open();
  locales.missing = {0x419};
  constexpr wchar_t kNoTransform[] =
      L"No transform with user interface language specified.\nThis installation package can't run without "
      L"language transform.\n";
  constexpr wchar_t kCannotDisplay[] =
      L"The selected interface language is not supported in current code page of the operating system.";
  const struct {
    const wchar_t *language, *action, *installed;
    UINT result;
    const wchar_t* orvantId;  // "-" when left unset
    const wchar_t* error;     // the text the installer received, if any
  } cases[] = {
      {L"1033", L"INSTALL", L"", 0, L"0", nullptr},
      {L" 3084 ", L"INSTALL", L"", 0, L"3", nullptr},
      {L"1078", L"INSTALL", L"", 0, L"-", nullptr},  // Afrikaans has no row
      {L"", L"INSTALL", L"", 1602, L"-", kNoTransform},
      {L"65536", L"INSTALL", L"", 1602, L"-", kNoTransform},  // 0 in sixteen bits
      {L"1049", L"INSTALL", L"", 1602, L"-", kCannotDisplay},
      {L"1049", L"admin", L"", 0, L"1", nullptr},                       // an administrative image is not displayed
      {L"1049", L"INSTALL", L"2026/12/05 10:00:00", 0, L"1", nullptr},  // the product is installed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.language) + L" " + c.action + L" " + c.installed);
    package.SetProperty(L"ProductLanguage", c.language);
    package.SetProperty(L"ACTION", c.action);
    package.SetProperty(L"Installed", c.installed);
    package.SetProperty(L"ORVANTLANGID", L"-");
    const size_t errors = package.InstallerErrors().size();
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(CheckUILanguage(session), c.result);
    EXPECT_EQ(package.Property(L"ORVANTLANGID"), c.orvantId);
    // The missing transform goes through the library's own message service (in an action: the
    // log's handler); the display refusal straight to the installer.
    const CUnicodeString log = ActionLog(package).Mid(logged);
    EXPECT_EQ(log.Find(CUnicodeString(L"MESSAGE: Test Product\r\n\t") + kNoTransform) != CUnicodeString::npos,
              c.error == kNoTransform)
        << log;
    const std::vector<CUnicodeString> received = package.InstallerErrors();
    EXPECT_EQ(received.size() > errors && received.back() == kCannotDisplay, c.error == kCannotDisplay);
    EXPECT_TRUE(c.error || received.size() == errors);
  }
  EXPECT_NE(ActionLog(package).Find(L"CheckUILanguage : langId =3084\r\nCheckUILanguage : orvantLanguageId =3\r\n"),
            CUnicodeString::npos);
  EXPECT_EQ(Vrn::ApplicationTitle(), L"Test Product");  // the caption of the library's own boxes
}

TEST_F(LanguageActionsTest, DisplayCheckWarnsOnceThenPasses) {
  package.AddProperty(L"MT_ThisUILangIsNotSupportedOnOS", L"[ProductName] cannot show this language");
  const MSIHANDLE session = package.Open();
  package.SetProperty(L"UILevel", L"5");  // a full user interface: the box is shown
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
  locales.missing = {0x411, 0};
  const struct {
    const wchar_t *shellId, *latch;
    UINT result;
    bool shown;
    const wchar_t* latchAfter;
  } steps[] = {
      {L"26", L"", 0, true, L"Yes"},   // Japanese cannot be displayed: warn and set the latch
      {L"26", L"Yes", 0, false, L""},  // the same choice again passes once
      {L"12", L"", 0, true, L"Yes"},   // an unused row has no locale
      {L"-1", L"Yes", 0, false, L""},  // the latch is taken before the id is checked against the table
      {L"70", L"", 1603, false, L""},  // outside the table
      {L"abc", L"Yes", 1603, false, L"Yes"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(CUnicodeString(s.shellId) + L" latch " + s.latch);
    package.SetProperty(L"SHELLLANGID", s.shellId);
    package.SetProperty(L"SupressWrongSHELLLANGIDWarning", s.latch);
    ui.shown.clear();
    EXPECT_EQ(CheckIsSHELLLANGIDCanBeDisplayed(session), s.result);
    ASSERT_EQ(ui.shown.size(), s.shown ? 1u : 0u);
    if (s.shown) {
      EXPECT_EQ(ui.shown[0].text, L"Test Product cannot show this language");
      EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ICONINFORMATION));
    }
    EXPECT_EQ(package.Property(L"SupressWrongSHELLLANGIDWarning"), s.latchAfter);
  }
  EXPECT_TRUE(ActionLog(package).StartsWith(L"CheckIsSHELLLANGIDCanBeDisplayed\r\nProperty( SHELLLANGID"));
}

// The real locale query: Wine reports every real locale as installed, and the empty LCID as not.
TIMED_CHILD_TEST(LanguageReal, LocaleSupport, 60000) {
  EXPECT_TRUE(Msi::CanDisplayLanguage(1));
  EXPECT_TRUE(Msi::CanDisplayLanguage(69));
  EXPECT_FALSE(Msi::CanDisplayLanguage(12));
}

class LanguageFeaturesTest : public LanguageActionsTest {
 protected:
  // Language features with the given levels (0: not installed by default), each with a component.
  MSIHANDLE OpenWithLanguages(std::initializer_list<std::pair<int, int>> idsAndLevels) {
    package.AddFeature(L"Main");
    package.AddComponent(L"MainComp", L"Main");
    for (const auto& [id, level] : idsAndLevels) {
      const CUnicodeString feature = L"UILang" + CUnicodeString::FromInt(id);
      package.AddFeature(feature, level);
      package.AddComponent(feature + L"Comp", feature);
    }
    package.AddFeature(L"UILang1_Main");  // a resource module is not a language feature
    package.AddFeature(L"UILangX");
    return package.Open(true);
  }
  // "L" local, "A" absent, "-" no action, per language feature in the order given.
  CUnicodeString Actions(std::initializer_list<int> ids) {
    CUnicodeString text;
    for (int id : ids) {
      const int action = FeatureAction(package.Session(), L"UILang" + CUnicodeString::FromInt(id));
      text += action == INSTALLSTATE_LOCAL ? L'L' : action == INSTALLSTATE_ABSENT ? L'A' : L'-';
    }
    return text;
  }
};

TEST_F(LanguageFeaturesTest, ChosenLanguageFeatures) {
  OpenWithLanguages({{1, 1}, {2, 0}, {3, 1}});
  const struct {
    const char* action;
    const wchar_t *property, *value;
    UINT result;
    const wchar_t* actions;  // of UILang1, UILang2, UILang3 afterwards
  } cases[] = {
      {"SetOnlyOneUILanguage", L"ORVANTLANGID", L"2", 0, L"ALA"},  // the preferred id wins over the local ones
      {"SetOnlyOneUILanguage", L"ORVANTLANGID", L"7", 0, L"AAL"},  // no feature for it: the last in view order
      {"SetOnlyOneUILanguage", L"ORVANTLANGID", L"abc", 1603, L"AAL"},
      {"SetUILangFearturesStates_as_SHELLLANGID", L"SHELLLANGID", L" 1", 0, L"LAA"},
      {"SetUILangFearturesStates_as_SHELLLANGID", L"SHELLLANGID", L"", 1603, L"LAA"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.property) + L"=" + c.value);
    package.SetProperty(c.property, c.value);
    package.SetProperty(L"ORVANTLANGID_UILANGUAGE_DEFAULT", L"-");
    EXPECT_EQ(package.Call(c.action), c.result);
    EXPECT_EQ(Actions({1, 2, 3}), c.actions);
    const bool setsDefault = c.result == 0 && c.property == CUnicodeString(L"ORVANTLANGID");
    EXPECT_EQ(package.Property(L"ORVANTLANGID_UILANGUAGE_DEFAULT") != L"-", setsDefault);
  }
  EXPECT_NE(ActionLog(package).Find(L"foundUiLangId = 3\r\n\r\n"), CUnicodeString::npos);
  // The feature for ORVANTLANGID is looked up by the property's text as it is.
  const std::pair<const wchar_t*, const wchar_t*> inDistribution[] = {{L"2", L"Yes"}, {L"02", L""}, {L"9", L""}};
  for (const auto& [orvantId, expected] : inDistribution) {
    package.SetProperty(L"ORVANTLANGID", orvantId);
    EXPECT_EQ(package.Call("CheckIsInstallLanguageInDistributive"), 0u);
    EXPECT_EQ(package.Property(L"ISINSTALLLANGUAGEINDISTRIBUTIVE"), expected) << CUnicodeString(orvantId);
  }
}

TEST_F(LanguageFeaturesTest, EnglishWinsOverThePreferredLanguage) {
  OpenWithLanguages({{1, 1}, {0, 0}});
  package.SetProperty(L"ORVANTLANGID", L"1");
  EXPECT_EQ(package.Call("SetOnlyOneUILanguage"), 0u);
  EXPECT_EQ(package.Property(L"ORVANTLANGID_UILANGUAGE_DEFAULT"), L"0");
  EXPECT_EQ(Actions({1, 0}), L"AL");
  // The product's language then follows the feature that will be local.
  EXPECT_EQ(package.Call("Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex"), 0u);
  EXPECT_EQ(package.Property(L"SHELLLANGID"), L"0");
  EXPECT_TRUE(ActionLog(package).Find(L"SetSHELLLANGID_accordingTo_UILangFeartureState\r\n\r\n") !=
              CUnicodeString::npos);
}

TEST_F(LanguageFeaturesTest, OneLanguageAddedOnlyWhenNoneWillBeLocal) {
  OpenWithLanguages({{4, 0}, {5, 0}});
  package.SetProperty(L"ORVANTLANGID", L"5");
  // No language feature will be local: the language of the product has nothing to follow.
  EXPECT_EQ(package.Call("Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex"), 1603u);
  EXPECT_EQ(package.Call("SetOneUILanguage"), 0u);
  EXPECT_EQ(Actions({4, 5}), L"-L");
  EXPECT_EQ(package.Property(L"ORVANTLANGID_UILANGUAGE_DEFAULT"), L"5");
  // Now one will be: a second run changes nothing, whatever the preferred id.
  package.SetProperty(L"ORVANTLANGID", L"4");
  EXPECT_EQ(package.Call("SetOneUILanguage"), 0u);
  EXPECT_EQ(Actions({4, 5}), L"-L");
  EXPECT_EQ(package.Property(L"ORVANTLANGID_UILANGUAGE_DEFAULT"), L"4");
  EXPECT_EQ(package.Call("Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex"), 0u);
  EXPECT_EQ(package.Property(L"SHELLLANGID"), L"5");
}

TEST_F(LanguageFeaturesTest, PackagesWithoutLanguageFeaturesFail) {
  package.AddFeature(L"Main");
  package.AddFeature(L"UILang1_Main");
  package.Open(true);
  package.SetProperty(L"ORVANTLANGID", L"1");
  package.SetProperty(L"SHELLLANGID", L"1");
  for (const char* action : {"SetOneUILanguage", "SetOnlyOneUILanguage", "SetUILangFearturesStates_as_SHELLLANGID",
                             "Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex"})
    EXPECT_EQ(package.Call(action), 1603u) << action;
  EXPECT_EQ(package.Property(L"ORVANTLANGID_UILANGUAGE_DEFAULT"), L"");
}
