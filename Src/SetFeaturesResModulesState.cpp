// Feature and component state actions: resource-module features kept in step with their language
// and main features, component states mirrored from properties, module and station lists turned
// into properties, feature states published for dialogs, ADDLOCAL/REMOVE applied again, and the
// reinstallation of another product.
#include <algorithm>
#include <array>
#include <string_view>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "FeatureView.h"
#include "InstallHelper.h"
#include "MsiHelper.h"
#include "ProductReinstall.h"
#include "QuotedList.h"

namespace {

using Msi::CFeatureState;
using Msi::CUnicodeString;

// REINSTALLMODE_FILEEQUALVERSION | REINSTALLMODE_MACHINEDATA | REINSTALLMODE_SHORTCUT.
constexpr DWORD kReinstallMode = 0x288;

using Msi::LogActionName;

// The non-empty pieces of `text` between separators, untrimmed.
std::vector<CUnicodeString> SplitNonEmpty(const CUnicodeString& text, wchar_t separator) {
  std::vector<CUnicodeString> items;
  size_t start = 0;
  while (start <= text.Length()) {
    size_t end = text.Find(separator, start);
    if (end == CUnicodeString::npos) end = text.Length();
    if (end > start) items.push_back(text.Mid(start, end - start));
    start = end + 1;
  }
  return items;
}

// The feature names of a "|"-separated message property, each trimmed; blank items name nothing.
std::vector<CUnicodeString> FeatureListProperty(MSIHANDLE session, const wchar_t* property) {
  std::vector<CUnicodeString> features;
  for (CUnicodeString& item : SplitNonEmpty(Msi::GetProperty(session, property), L'|'))
    if (!item.Trim().IsEmpty()) features.push_back(item);
  return features;
}

// Advertised, local or source: the feature is (or will be) there in some form.
bool IsPresentState(INSTALLSTATE state) noexcept {
  return state == INSTALLSTATE_ADVERTISED || state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_SOURCE;
}

// ---- Resource modules ----

// A resource-module feature "UILang<n>_<Main>": the language feature and the main feature.
struct CResourceModule {
  CUnicodeString languageFeature;
  CUnicodeString mainFeature;
};

std::optional<CResourceModule> SplitResourceModule(const CUnicodeString& name) {
  if (!name.StartsWith(Msi::kLanguageFeaturePrefix)) return {};
  const size_t underscore = name.Find(L'_');
  if (underscore == CUnicodeString::npos || underscore + 1 == name.Length()) return {};
  return CResourceModule{name.Left(underscore), name.Mid(underscore + 1)};
}

UINT SetFeaturesResModulesStateBody(MSIHANDLE session) {
  for (const CUnicodeString& name : Msi::ReadFeatureNames(session)) {
    const std::optional<CResourceModule> module = SplitResourceModule(name);
    if (!module) continue;
    const std::optional<CFeatureState> language = Msi::TryFeatureState(session, module->languageFeature);
    const std::optional<CFeatureState> mainFeature = Msi::TryFeatureState(session, module->mainFeature);
    if (!language || !mainFeature) continue;
    const bool local = Msi::FeatureWillBeLocal(*language) && Msi::FeatureWillBeLocal(*mainFeature);
    // A module the installer refuses to change keeps its state; the others are still adjusted.
    MsiSetFeatureStateW(session, name.c_str(), local ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT);
  }
  return ERROR_SUCCESS;
}

// ---- Component states ----

enum class ComponentPropertyColumn : UINT { Component = 1, Property = 2 };
constexpr Msi::CTableQuery<ComponentPropertyColumn> kComponentPropertyQuery{
    L"SELECT Component, Property FROM OV_SetComponentStateByProperty"};

struct CComponentPropertyRows {
  Msi::CColumnList components;
  Msi::CColumnList properties;
};

CComponentPropertyRows ReadComponentPropertyRows(MSIHANDLE session) {
  CComponentPropertyRows rows;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    Msi::ReadTableColumns(
        database, kComponentPropertyQuery,
        {{ComponentPropertyColumn::Component, rows.components}, {ComponentPropertyColumn::Property, rows.properties}},
        "getComponentStateByPropertyTable");
  });
  return rows;
}

// Requests local or absent for the component; a refusal is logged and is an internal error.
void RequestComponentState(MSIHANDLE session, const CUnicodeString& component, bool local) {
  const UINT answer =
      MsiSetComponentStateW(session, component.c_str(), local ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT);
  if (answer != ERROR_SUCCESS) {
    Msi::CustomActionLog() << L"  ERROR:" << L"\r\n";
    Vrn::Check(false);
  }
}

UINT SetCheckBoxComponentStateBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"SetCheckBoxComponentState" << L"\r\n";
  const CUnicodeString component = Msi::GetProperty(session, L"CHECK_BOX_COMPONENT_NAME");
  RequestComponentState(session, component, Msi::GetBoolProperty(session, L"IS_CHECK_BOX_COMPONENT"));
  return ERROR_SUCCESS;
}

UINT SetComponentStateByPropertyBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"SetComponentStateByProperty" << L"\r\n";
  const CComponentPropertyRows rows = ReadComponentPropertyRows(session);
  for (size_t i = 0; i < rows.components.size(); ++i)
    RequestComponentState(session, rows.components[i], Msi::GetBoolProperty(session, rows.properties[i]));
  return ERROR_SUCCESS;
}

UINT GetComponentStateAndActionBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"GetComponentStateAndAction" << L"\r\n";
  const CComponentPropertyRows rows = ReadComponentPropertyRows(session);
  for (const CUnicodeString& component : rows.components) {
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
    const UINT answer = MsiGetComponentStateW(session, component.c_str(), &installed, &action);
    Msi::CCustomActionLog& log = Msi::CustomActionLog();
    log << L"component=" << component;
    if (answer == ERROR_SUCCESS)
      log << L", state=" << static_cast<int32_t>(installed) << L", action=" << static_cast<int32_t>(action);
    else
      log << L", ERROR=" << static_cast<uint32_t>(answer);
    log << L"\r\n";
  }
  return ERROR_SUCCESS;
}

// ---- Module and station lists ----

UINT SetPropertiesByModulesBody(MSIHANDLE session) {
  LogActionName(L"SetPropertiesByMODULES");
  CUnicodeString modules = Msi::GetProperty(session, L"MODULES");
  CUnicodeString allModules = Msi::GetProperty(session, L"ALL_MODULES");
  const std::vector<CUnicodeString> known = SplitNonEmpty(allModules.MakeUpper(), L',');
  for (const CUnicodeString& module : SplitNonEmpty(modules.MakeUpper(), L',')) {
    if (std::find(known.begin(), known.end(), module) == known.end()) {
      Msi::CustomActionLog() << L"ERROR: current module name failed (see ALL_MODULES): " << module << L"\r\n\r\n";
      return ERROR_INSTALL_USEREXIT;
    }
    Msi::SetProperty(session, L"IS_" + module, L"Yes");
  }
  return ERROR_SUCCESS;
}

constexpr std::array<const wchar_t*, 7> kStationProperties = {
    L"IS_SCANNINGSTATION", L"IS_PROCESSINGSTATION", L"IS_VERIFICATIONSTATION", L"IS_VALIDATIONSTATION",
    L"IS_SETUPSTATION",    L"IS_GRAVENSTUDIO",      L"IS_FORMDESIGNER"};

UINT SetStationsStateBody(MSIHANDLE session) {
  LogActionName(L"SetStationsState");
  const CUnicodeString stations = Msi::GetProperty(session, L"STATIONS");
  std::array<bool, kStationProperties.size()> marked{};
  bool any = false;
  size_t start = 0;
  while (start < stations.Length()) {
    size_t end = stations.Find(L',', start);
    if (end == CUnicodeString::npos) end = stations.Length();
    if (end == start) break;  // the list ends at its first empty item
    const std::optional<int32_t> index = Vrn::StrictInteger<int32_t>(stations.Mid(start, end - start));
    if (index && *index >= 0 && *index < static_cast<int32_t>(marked.size())) any = marked[*index] = true;
    start = end + 1;
  }
  if (!any) return ERROR_SUCCESS;
  for (size_t i = 0; i < marked.size(); ++i) Msi::SetProperty(session, kStationProperties[i], marked[i] ? L"1" : L"0");
  return ERROR_SUCCESS;
}

// ---- Feature states published and requested ----

UINT SetCustomFeatureStateBody(MSIHANDLE session) {
  LogActionName(L"SetCustomFeatureState");
  for (const CUnicodeString& feature : FeatureListProperty(session, L"MT_CustomFeatureState")) {
    const CFeatureState state = Msi::FeatureStateOrUnknown(session, feature);
    Msi::CustomActionLog() << L"SetCustomFeatureState:" << feature << L"\r\n\r\n"
                           << L"SetCustomFeatureState state:" << static_cast<int32_t>(state.installed) << L"\r\n\r\n"
                           << L"SetCustomFeatureState action:" << static_cast<int32_t>(state.action) << L"\r\n\r\n";
    CUnicodeString property = L"Is_" + feature;
    property.MakeUpper();
    Msi::SetProperty(session, property + L"_STATE", CUnicodeString::FromInt(state.installed));
    Msi::SetProperty(session, property + L"_ACTION", CUnicodeString::FromInt(state.action));
    // "2": no change requested; "1": will be there in some form; "0": absent or default.
    const wchar_t* verdict = state.action == INSTALLSTATE_UNKNOWN ? L"2" : IsPresentState(state.action) ? L"1" : L"0";
    Msi::SetProperty(session, property, verdict);
  }
  return ERROR_SUCCESS;
}

UINT CheckFeatureListEmptyBody(MSIHANDLE session) {
  LogActionName(L"CheckFeatureListEmpty");
  const Msi::CMessageContext context(session);
  bool notEmpty = false;
  for (const CUnicodeString& feature : FeatureListProperty(session, L"MT_CheckFeatureListEmpty")) {
    const std::optional<CFeatureState> state = Msi::TryFeatureState(session, feature);
    if (!state) continue;
    if (IsPresentState(state->action) || (IsPresentState(state->installed) && state->action != INSTALLSTATE_ABSENT)) {
      notEmpty = true;
      break;
    }
  }
  if (!notEmpty) Msi::ShowPropertyMessage(context, L"MT_EmptyFeatureList", {}, MB_ICONINFORMATION);
  Msi::SetProperty(session, L"IS_FEATURELISTNOTEMPTY", notEmpty ? L"1" : L"0");
  return ERROR_SUCCESS;
}

// Requests `state` for every feature of a command-line feature list; "ALL" (exactly) is left to
// the installer.
void RequestListedFeatures(MSIHANDLE session, const wchar_t* property, INSTALLSTATE state) {
  const CUnicodeString list = Msi::GetProperty(session, property);
  if (list.IsEmpty() || list == L"ALL") return;
  for (const CUnicodeString& feature : Msi::SplitQuotedList(list, L','))
    Msi::ChangeFeatureState(session, feature, state);
}

UINT SinchronousFeaturesBody(MSIHANDLE session) {
  LogActionName(L"SinchronousFeatures");
  // Removals first, so that a feature named in both lists ends up local.
  RequestListedFeatures(session, L"REMOVE", INSTALLSTATE_ABSENT);
  RequestListedFeatures(session, L"ADDLOCAL", INSTALLSTATE_LOCAL);
  return ERROR_SUCCESS;
}

UINT ReinstallProductBody(MSIHANDLE session) {
  LogActionName(L"ReinstallProduct");
  const CUnicodeString productCode = Msi::GetProperty(session, L"ReinstallProduct_ProductCode");
  const UINT result = Msi::ProductReinstall().Reinstall(productCode.c_str(), kReinstallMode);
  Msi::CustomActionLog() << L"ReinstallProduct ret:" << static_cast<uint32_t>(result) << L" "
                         << Vrn::SystemErrorText(result) << L"\r\n\r\n";
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(SetFeaturesResModulesState, SetFeaturesResModulesStateBody, .tables = L"Feature", .costing = true)
ORV_ACTION(SetCheckBoxComponentState, SetCheckBoxComponentStateBody,
           .reads = L"CHECK_BOX_COMPONENT_NAME IS_CHECK_BOX_COMPONENT", .costing = true)
ORV_ACTION(SetComponentStateByProperty, SetComponentStateByPropertyBody, .tables = L"OV_SetComponentStateByProperty",
           .readsIndirect = true, .costing = true)
ORV_ACTION(GetComponentStateAndAction, GetComponentStateAndActionBody, .tables = L"OV_SetComponentStateByProperty",
           .costing = true)
ORV_ACTION(SetPropertiesByMODULES, SetPropertiesByModulesBody, .reads = L"MODULES ALL_MODULES")
ORV_ACTION(SetCustomFeatureState, SetCustomFeatureStateBody, .reads = L"MT_CustomFeatureState", .costing = true)
ORV_ACTION(CheckFeatureListEmpty, CheckFeatureListEmptyBody, .reads = L"MT_CheckFeatureListEmpty",
           .shows = L"MT_EmptyFeatureList", .costing = true)
ORV_ACTION(SetStationsState, SetStationsStateBody, .reads = L"STATIONS")
ORV_ACTION(SinchronousFeatures, SinchronousFeaturesBody, .reads = L"REMOVE ADDLOCAL", .costing = true)
ORV_ACTION(ReinstallProduct, ReinstallProductBody, .reads = L"ReinstallProduct_ProductCode")
