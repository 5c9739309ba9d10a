// Interface-language actions: the Windows language of the package's language transform turned
// into the Orvant language id, the check that the system can display a language, and the choice of
// the "UILang<n>" features that install.
#include "Language.h"

#include <array>
#include <iterator>
#include <optional>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "FeatureView.h"
#include "InstallHelper.h"
#include "LocaleSupport.h"
#include "MessageHandlers.h"
#include "MsiHelper.h"

namespace Msi {

namespace {

// The used rows: Orvant language id, Windows LCID (sublanguage in the upper six bits, primary
// language in the lower ten), locale name, ANSI code page. Every other id is an unused row.
struct CLanguageEntry {
  size_t id;
  LCID lcid;
  const wchar_t* localeName;
  uint32_t codePage;
};
constexpr CLanguageEntry kLanguageEntries[] = {
    {0, 0x409, L"en-US", 0},          {1, 0x419, L"ru-RU", 1251},       {2, 0x407, L"de-DE", 1252},
    {3, 0x40c, L"fr-FR", 1252},       {4, 0x422, L"uk-UA", 1251},       {5, 0x40a, L"es-ES", 1252},
    {6, 0x410, L"it-IT", 1252},       {7, 0x413, L"nl-NL", 1252},       {8, 0x406, L"da-DK", 1252},
    {9, 0x41d, L"sv-SE", 1252},       {10, 0x40b, L"fi-FI", 1252},      {11, 0x414, L"nb-NO", 1252},
    {13, 0x816, L"pt-PT", 1252},      {14, 0x41b, L"sk-SK", 1250},      {15, 0x415, L"pl-PL", 1250},
    {16, 0x405, L"cs-CZ", 1250},      {17, 0x40e, L"hu-HU", 1250},      {18, 0x427, L"lt-LT", 1257},
    {19, 0x426, L"lv-LV", 1257},      {20, 0x425, L"et-EE", 1257},      {21, 0x40f, L"is-IS", 1252},
    {22, 0x408, L"el-GR", 1253},      {23, 0x402, L"bg-BG", 1251},      {24, 0x41f, L"tr-TR", 1254},
    {25, 0x444, L"tt-RU", 0},         {26, 0x411, L"ja-JP", 0},         {27, 0x416, L"pt-BR", 1252},
    {28, 0x813, L"nl-BE", 1252},      {29, 0x40d, L"he-IL", 1255},      {34, 0x439, L"hi-IN", 0},
    {35, 0xc1a, L"sr-SP-Cyrl", 1251}, {36, 0x41a, L"hr-HR", 1250},      {37, 0x418, L"ro-RO", 1250},
    {38, 0x424, L"sl-SI", 1250},      {39, 0x403, L"ca-ES", 1252},      {40, 0x42f, L"mk-MK", 1251},
    {42, 0x43f, L"kk-KZ", 1251},      {43, 0x81a, L"sr-SP-Latn", 1250}, {61, 0x401, L"ar-SA", 1256},
    {62, 0x42a, L"vi-VN", 1258},      {63, 0x412, L"ko-KR", 0},         {64, 0x804, L"zh-CN", 0},
    {65, 0x404, L"zh-TW", 0},         {69, 0x41e, L"th-TH", 0},
};

constexpr std::array<CLanguageRow, kLanguageCount> BuildLanguageTable() {
  std::array<CLanguageRow, kLanguageCount> table{};
  for (CLanguageRow& row : table) row = {0, 0, 0, L""};
  for (const CLanguageEntry& entry : kLanguageEntries)
    table[entry.id] = {entry.codePage, static_cast<uint16_t>(entry.lcid & 0x3FF),
                       static_cast<uint16_t>(entry.lcid >> 10), entry.localeName};
  return table;
}
constexpr std::array<CLanguageRow, kLanguageCount> kLanguages = BuildLanguageTable();

constexpr size_t kLanguageFeaturePrefixLength = std::size(kLanguageFeaturePrefix) - 1;

using Msi::LogActionName;

// The language id of a feature named "UILang<n>" (n a number, not negative), or nothing.
std::optional<int32_t> LanguageFeatureId(const CUnicodeString& feature) {
  if (feature.Length() <= kLanguageFeaturePrefixLength || !feature.StartsWith(kLanguageFeaturePrefix)) return {};
  const std::optional<int32_t> id = Vrn::StrictInteger<int32_t>(feature.Mid(kLanguageFeaturePrefixLength));
  if (!id || *id < 0) return {};
  return id;
}

CUnicodeString LanguageFeatureName(int32_t id) { return kLanguageFeaturePrefix + CUnicodeString::FromInt(id); }

// A language id held by a property; a missing or non-numeric value is an internal error.
int32_t LanguageIdProperty(MSIHANDLE session, const wchar_t* property) {
  const std::optional<int32_t> id = Vrn::StrictInteger<int32_t>(GetProperty(session, property));
  Vrn::Check(id.has_value());
  return *id;
}

// The id of the language feature to use, -1 when none qualifies. With `all` clear only features
// that will be local qualify. English (0) wins over everything, then the preferred id, then the
// last qualifying feature in view order.
int32_t FindLanguageFeature(MSIHANDLE session, int32_t preferred, bool all) {
  int32_t found = -1;
  for (const CUnicodeString& feature : ReadFeatureNames(session)) {
    const std::optional<int32_t> id = LanguageFeatureId(feature);
    if (!id) continue;
    if (!all && !FeatureWillBeLocal(FeatureStateOrUnknown(session, feature))) continue;
    if (found == 0) continue;
    if (found == preferred && *id != 0) continue;
    found = *id;
  }
  CustomActionLog() << L"foundUiLangId = " << found << L"\r\n\r\n";
  return found;
}

// Requests local for the chosen language feature and absent for every other one.
void SetLanguageFeatureStates(MSIHANDLE session, int32_t chosen) {
  for (const CUnicodeString& feature : ReadFeatureNames(session))
    if (const std::optional<int32_t> id = LanguageFeatureId(feature))
      ChangeFeatureState(session, LanguageFeatureName(*id), *id == chosen ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT);
}

// The language feature every language action starts from: one must exist.
int32_t AnyLanguageFeature(MSIHANDLE session, int32_t preferred) {
  const int32_t any = FindLanguageFeature(session, preferred, true);
  Vrn::Check(any >= 0);
  return any;
}

UINT CheckUILanguageBody(MSIHANDLE session) {
  Vrn::SetApplicationTitle(GetProperty(session, L"ProductName"));
  const uint16_t windowsLanguage = GetProductLanguage(session);
  CustomActionLog() << L"CheckUILanguage : langId =" << static_cast<uint32_t>(windowsLanguage) << L"\r\n";
  if (windowsLanguage == 0) {
    Vrn::ShowMessageText(
        L"No transform with user interface language specified.\n"
        L"This installation package can't run without language transform.\n",
        Vrn::ApplicationTitle(), MB_OK | MB_ICONERROR);
    return ERROR_INSTALL_USEREXIT;
  }
  const int id = FindLanguageId(windowsLanguage);
  CustomActionLog() << L"CheckUILanguage : orvantLanguageId =" << id << L"\r\n";
  if (id < 0) return ERROR_SUCCESS;
  // An administrative image or an installed product keeps the language it was set up with.
  const bool firstInstall =
      !GetProperty(session, L"ACTION").EqualsNoCaseAscii(L"ADMIN") && !GetBoolProperty(session, L"Installed");
  if (firstInstall && !CanDisplayLanguage(id)) {
    ShowInstallerError(
        session, L"The selected interface language is not supported in current code page of the operating system.");
    return ERROR_INSTALL_USEREXIT;
  }
  SetProperty(session, L"ORVANTLANGID", CUnicodeString::FromInt(id));
  return ERROR_SUCCESS;
}

UINT SetOneUILanguageBody(MSIHANDLE session) {
  LogActionName(L"SetOneUILanguage");
  const int32_t preferred = LanguageIdProperty(session, L"ORVANTLANGID");
  const int32_t any = AnyLanguageFeature(session, preferred);
  if (FindLanguageFeature(session, preferred, false) < 0)
    ChangeFeatureState(session, LanguageFeatureName(any), INSTALLSTATE_LOCAL);
  SetProperty(session, L"ORVANTLANGID_UILANGUAGE_DEFAULT", CUnicodeString::FromInt(any));
  return ERROR_SUCCESS;
}

UINT SetOnlyOneUILanguageBody(MSIHANDLE session) {
  LogActionName(L"SetOnlyOneUILanguage");
  const int32_t any = AnyLanguageFeature(session, LanguageIdProperty(session, L"ORVANTLANGID"));
  SetLanguageFeatureStates(session, any);
  SetProperty(session, L"ORVANTLANGID_UILANGUAGE_DEFAULT", CUnicodeString::FromInt(any));
  return ERROR_SUCCESS;
}

UINT CheckIsInstallLanguageInDistributiveBody(MSIHANDLE session) {
  LogActionName(L"CheckIsInstallLanguageInDistributive");
  constexpr wchar_t kVerdict[] = L"ISINSTALLLANGUAGEINDISTRIBUTIVE";
  SetProperty(session, kVerdict, L"");
  // The property's text as it is: "UILang01" is not the feature of language 1.
  if (TryFeatureState(session, kLanguageFeaturePrefix + GetProperty(session, L"ORVANTLANGID")))
    SetProperty(session, kVerdict, L"Yes");
  return ERROR_SUCCESS;
}

UINT CheckIsShellLangIdCanBeDisplayedBody(MSIHANDLE session) {
  CustomActionLog() << L"CheckIsSHELLLANGIDCanBeDisplayed" << L"\r\n";
  constexpr wchar_t kSuppress[] = L"SupressWrongSHELLLANGIDWarning";
  const int32_t id = LanguageIdProperty(session, L"SHELLLANGID");
  // The user already saw the warning for this choice: let it pass once.
  if (GetBoolProperty(session, kSuppress)) {
    SetProperty(session, kSuppress, L"");
    return ERROR_SUCCESS;
  }
  if (!CanDisplayLanguage(id)) {
    ShowPropertyMessage(CMessageContext(session), L"MT_ThisUILangIsNotSupportedOnOS", {}, MB_ICONINFORMATION);
    SetProperty(session, kSuppress, L"Yes");
  }
  return ERROR_SUCCESS;
}

UINT SetUILangFeaturesStatesAsShellLangIdBody(MSIHANDLE session) {
  LogActionName(L"SetUILangFearturesStates_as_SHELLLANGID");
  SetLanguageFeatureStates(session, AnyLanguageFeature(session, LanguageIdProperty(session, L"SHELLLANGID")));
  return ERROR_SUCCESS;
}

UINT SetShellLangIdFromInstalledFeatureBody(MSIHANDLE session) {
  LogActionName(L"SetSHELLLANGID_accordingTo_UILangFeartureState");
  const int32_t found = FindLanguageFeature(session, LanguageIdProperty(session, L"ORVANTLANGID"), false);
  Vrn::Check(found >= 0);
  SetProperty(session, L"SHELLLANGID", CUnicodeString::FromInt(found));
  return ERROR_SUCCESS;
}

}  // namespace

std::span<const CLanguageRow, kLanguageCount> LanguageTable() noexcept { return kLanguages; }

int FindLanguageId(uint16_t windowsLanguage) noexcept {
  const uint16_t primary = windowsLanguage & 0x3FF;
  const uint16_t sub = windowsLanguage >> 10;
  for (size_t id = 0; id < kLanguageCount; ++id)
    if (kLanguages[id].primaryLanguage == primary && kLanguages[id].subLanguage == sub) return static_cast<int>(id);
  for (size_t id = 0; id < kLanguageCount; ++id)
    if (kLanguages[id].primaryLanguage == primary && kLanguages[id].subLanguage <= 1) return static_cast<int>(id);
  return -1;
}

bool CanDisplayLanguage(int languageId) {
  Vrn::Check(languageId >= 0 && languageId < static_cast<int>(kLanguageCount));
  return LocaleSupport().IsInstalled(kLanguages[languageId].Lcid());
}

}  // namespace Msi

ORV_ACTION(CheckUILanguage, Msi::CheckUILanguageBody, .reads = L"ProductName ProductLanguage ACTION Installed")
ORV_ACTION(SetOneUILanguage, Msi::SetOneUILanguageBody, .reads = L"ORVANTLANGID", .tables = L"Feature", .costing = true)
ORV_ACTION(SetOnlyOneUILanguage, Msi::SetOnlyOneUILanguageBody, .reads = L"ORVANTLANGID", .tables = L"Feature",
           .costing = true)
ORV_ACTION(CheckIsInstallLanguageInDistributive, Msi::CheckIsInstallLanguageInDistributiveBody,
           .reads = L"ORVANTLANGID", .costing = true)
ORV_ACTION(CheckIsSHELLLANGIDCanBeDisplayed, Msi::CheckIsShellLangIdCanBeDisplayedBody,
           .reads = L"SHELLLANGID SupressWrongSHELLLANGIDWarning", .shows = L"MT_ThisUILangIsNotSupportedOnOS")
ORV_ACTION(SetUILangFearturesStates_as_SHELLLANGID, Msi::SetUILangFeaturesStatesAsShellLangIdBody,
           .reads = L"SHELLLANGID", .tables = L"Feature", .costing = true)
ORV_ACTION(Set_SHELLLANGID_eq_InstalledUILangFeaturureIndex, Msi::SetShellLangIdFromInstalledFeatureBody,
           .reads = L"ORVANTLANGID", .tables = L"Feature", .costing = true)
