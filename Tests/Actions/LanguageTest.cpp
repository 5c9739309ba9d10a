// The interface-language actions: the language table, the transform's language, the display check
// and the choice of "UILang<n>" features. A real install is Tests/EndToEnd/features-install's.
#include "ActionTest.h"
#include "FakeSeams.h"
#include "Language.h"
#include "LocaleSupport.h"

using namespace TestSupport;

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
    EXPECT_TRUE(!row.codePage || name == L"kk-KZ" || CUnicodeString::FromInt(row.codePage) == codePage) << codePage;
  }
}

class LanguageActionsTest : public ActionTest {
 protected:
  CFakeLocales locales;
  Msi::CLocaleSupportOverride localeSeam{locales};
};

TEST_F(LanguageActionsTest, CheckUILanguage) {
  // The action makes the product name the caption of the library's boxes, process-wide.
  struct CTitleRestore {
    CUnicodeString title = Vrn::ApplicationTitle();
    ~CTitleRestore() { Vrn::SetApplicationTitle(title); }
  } restore;
  Open();
  locales.missing = {0x419};
  const CUnicodeString noTransform =
      L"No transform with user interface language specified.\nThis installation package can't run without "
      L"language transform.\n";
  const CUnicodeString cannotDisplay =
      L"The selected interface language is not supported in current code page of the operating system.";
  // ORVANTLANGID "-" when left unset; the text the installer received, if any
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, UINT, const wchar_t*, CUnicodeString> cases[] = {
      {L" 3084 ", L"INSTALL", L"", 0, L"3", L""},
      {L"1078", L"INSTALL", L"", 0, L"-", L""},  // Afrikaans has no row
      {L"", L"INSTALL", L"", 1602, L"-", noTransform},
      {L"65536", L"INSTALL", L"", 1602, L"-", noTransform},  // 0 in sixteen bits
      {L"1049", L"INSTALL", L"", 1602, L"-", cannotDisplay},
      {L"1049", L"admin", L"", 0, L"1", L""},                       // an administrative image is not displayed
      {L"1049", L"INSTALL", L"2026/12/05 10:00:00", 0, L"1", L""},  // the product is installed
  };
  for (const auto& [language, action, installed, result, orvantId, error] : cases) {
    const size_t reported = package.InstallerErrors().size();
    RunCases(
        {{"CheckUILanguage",
          {{L"ProductLanguage", language}, {L"ACTION", action}, {L"Installed", installed}, {L"ORVANTLANGID", L"-"}},
          {{L"ORVANTLANGID", orvantId}},
          result}});
    // The missing transform goes through the library's own message service (in an action: the
    // log's handler, which tells the installer too); the display refusal straight to the installer.
    const std::vector<CUnicodeString> errors = package.InstallerErrors();
    EXPECT_EQ(errors.size() - reported, error.IsEmpty() ? 0u : 1u) << language;
    if (!error.IsEmpty() && !errors.empty()) {
      EXPECT_EQ(errors.back(), error);
    }
  }
  EXPECT_EQ(Vrn::ApplicationTitle(), L"Test Product");  // the caption of the library's own boxes
}

TEST_F(LanguageActionsTest, DisplayCheckWarnsOnceThenPasses) {
  package.AddProperty(L"MT_ThisUILangIsNotSupportedOnOS", L"[ProductName] cannot show this language");
  Open();
  locales.missing = {0x411, 0};
  const CBoxes warned = {{L"Test Product cannot show this language", MB_ICONINFORMATION}};
  const auto step = [&](const wchar_t* id, const wchar_t* latch, UINT result, bool shown, const wchar_t* latchAfter) {
    return CActionCase{"CheckIsSHELLLANGIDCanBeDisplayed",
                       {{L"SHELLLANGID", id}, {L"SupressWrongSHELLLANGIDWarning", latch}},
                       {{L"SupressWrongSHELLLANGIDWarning", latchAfter}},
                       result,
                       shown ? warned : CBoxes{}};
  };
  RunCases({step(L"26", L"", 0, true, L"Yes"),   // Japanese cannot be displayed: warn and set the latch
            step(L"26", L"Yes", 0, false, L""),  // the same choice again passes once
            step(L"12", L"", 0, true, L"Yes"),   // an unused row has no locale
            step(L"-1", L"Yes", 0, false, L""),  // the latch is taken before the id is checked against the table
            step(L"70", L"", 1603, false, L""),  // outside the table
            step(L"abc", L"Yes", 1603, false, L"Yes")});
}

class LanguageFeaturesTest : public LanguageActionsTest {
 protected:
  // Language features with the given levels (0: not installed by default), each with a component.
  void OpenWithLanguages(std::initializer_list<std::pair<int, int>> idsAndLevels) {
    package.AddFeature(L"Main", 1, L"MainComp");
    for (const auto& [id, level] : idsAndLevels) {
      const CUnicodeString feature = L"UILang" + CUnicodeString::FromInt(id);
      package.AddFeature(feature, level, feature + L"Comp");
    }
    package.AddFeature(L"UILang1_Main");  // a resource module is not a language feature
    package.AddFeature(L"UILangX");
    Open(true);
  }
  // "L" local, "A" absent, "-" no action, per language feature in the order given.
  CUnicodeString Actions(std::initializer_list<int> ids) {
    CUnicodeString text;
    for (int id : ids) {
      const int action = FeatureStates(Session(), L"UILang" + CUnicodeString::FromInt(id)).action;
      text += action == INSTALLSTATE_LOCAL ? L'L' : action == INSTALLSTATE_ABSENT ? L'A' : L'-';
    }
    return text;
  }
};

TEST_F(LanguageFeaturesTest, ChosenLanguageFeatures) {
  OpenWithLanguages({{1, 1}, {2, 0}, {3, 1}});
  // actions of UILang1, UILang2, UILang3 afterwards; picked: the default set ("-": none)
  const std::tuple<const char*, const wchar_t*, const wchar_t*, UINT, const wchar_t*, const wchar_t*> cases[] = {
      {"SetOnlyOneUILanguage", L"ORVANTLANGID", L"2", 0, L"ALA", L"2"},  // the preferred id wins over the local ones
      {"SetOnlyOneUILanguage", L"ORVANTLANGID", L"7", 0, L"AAL", L"3"},  // no feature for it: the last in view order
      {"SetOnlyOneUILanguage", L"ORVANTLANGID", L"abc", 1603, L"AAL", L"-"},
      {"SetUILangFearturesStates_as_SHELLLANGID", L"SHELLLANGID", L" 1", 0, L"LAA", L"-"},
      {"SetUILangFearturesStates_as_SHELLLANGID", L"SHELLLANGID", L"", 1603, L"LAA", L"-"},
  };
  for (const auto& [action, property, value, result, actions, picked] : cases) {
    RunCases({{action,
               {{property, value}, {L"ORVANTLANGID_UILANGUAGE_DEFAULT", L"-"}},
               {{L"ORVANTLANGID_UILANGUAGE_DEFAULT", picked}},
               result}});
    EXPECT_EQ(Actions({1, 2, 3}), actions) << value;
  }
  // The feature for ORVANTLANGID is looked up by the property's text as it is.
  RunCases({{"CheckIsInstallLanguageInDistributive", L"ORVANTLANGID=2", L"ISINSTALLLANGUAGEINDISTRIBUTIVE=Yes"},
            {"CheckIsInstallLanguageInDistributive", L"ORVANTLANGID=02", L"ISINSTALLLANGUAGEINDISTRIBUTIVE="}});
}

TEST_F(LanguageFeaturesTest, EnglishWinsOverThePreferredLanguage) {
  OpenWithLanguages({{1, 1}, {0, 0}});
  RunCases({{"SetOnlyOneUILanguage", L"ORVANTLANGID=1", L"ORVANTLANGID_UILANGUAGE_DEFAULT=0"},
            // The product's language then follows the feature that will be local.
            {"Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex", {}, L"SHELLLANGID=0"}});
  EXPECT_EQ(Actions({1, 0}), L"AL");
}

TEST_F(LanguageFeaturesTest, OneLanguageAddedOnlyWhenNoneWillBeLocal) {
  OpenWithLanguages({{4, 0}, {5, 0}});
  // No language feature will be local: the language of the product has nothing to follow.
  RunCases({{"Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex", L"ORVANTLANGID=5", L"", 1603},
            {"SetOneUILanguage", {}, L"ORVANTLANGID_UILANGUAGE_DEFAULT=5"}});
  EXPECT_EQ(Actions({4, 5}), L"-L");
  // Now one will be: a second run changes nothing, whatever the preferred id.
  RunCases({{"SetOneUILanguage", L"ORVANTLANGID=4", L"ORVANTLANGID_UILANGUAGE_DEFAULT=4"},
            {"Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex", {}, L"SHELLLANGID=5"}});
  EXPECT_EQ(Actions({4, 5}), L"-L");
}

TEST_F(LanguageFeaturesTest, PackagesWithoutLanguageFeaturesFail) {
  package.AddFeature(L"Main");
  package.AddFeature(L"UILang1_Main");
  Open(true);
  Set(L"ORVANTLANGID=1|SHELLLANGID=1");
  for (const char* action : {"SetOneUILanguage", "SetOnlyOneUILanguage", "SetUILangFearturesStates_as_SHELLLANGID",
                             "Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex"})
    RunCases({{action, {}, {{L"ORVANTLANGID_UILANGUAGE_DEFAULT", L""}}, 1603}});
}
