// SetCLBP, SaveForCLBP, SetCLBP_Modify and SetCLBF: argument texts for a child program, built from
// the rows of OV_PropertyArgCommandLine and OV_FeatureArgCommandLine. A result property is set only
// when its text is not empty; an empty text leaves the property as it was.
#include "ArgCommandLine.h"

#include <algorithm>
#include <optional>
#include <span>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"

namespace Msi {

CUnicodeString SwitchValue(const CUnicodeString& value) { return value == L"1" ? L"1" : L"0"; }

CUnicodeString PropertyArgFragment(const CUnicodeString& arg, const CUnicodeString& value) {
  return L" " + arg + L":" + SwitchValue(value);
}

namespace {

void LogLine(const CUnicodeString& line) { CustomActionLog() << line << L"\r\n"; }

// The decision tables read as chains: a state enters its chain at its own entry and passes (and
// logs) the entries after it until one gives a result; past the last entry the state is logged as
// "default" and no decision is made.
struct CChainEntry {
  INSTALLSTATE state;
  std::optional<FeatureArgDecision> result;  // none: go on to the next entry
};

using enum FeatureArgDecision;

// The requested action after an installed state that is unknown, advertised or absent.
constexpr CChainEntry kActionsFromUnknown[] = {{INSTALLSTATE_ADVERTISED, {}},
                                               {INSTALLSTATE_ABSENT, Remove},
                                               {INSTALLSTATE_LOCAL, Install},
                                               {INSTALLSTATE_DEFAULT, {}},
                                               {INSTALLSTATE_UNKNOWN, {}}};
// After an installed state LOCAL.
constexpr CChainEntry kActionsFromLocal[] = {{INSTALLSTATE_ADVERTISED, {}},
                                             {INSTALLSTATE_ABSENT, Remove},
                                             {INSTALLSTATE_LOCAL, Install},
                                             {INSTALLSTATE_UNKNOWN, {}},
                                             {INSTALLSTATE_DEFAULT, {}}};
// After an installed state DEFAULT: an advertised feature is not removed from it.
constexpr CChainEntry kActionsFromDefault[] = {{INSTALLSTATE_ABSENT, Remove},
                                               {INSTALLSTATE_LOCAL, Install},
                                               {INSTALLSTATE_ADVERTISED, {}},
                                               {INSTALLSTATE_UNKNOWN, {}},
                                               {INSTALLSTATE_DEFAULT, {}}};

FeatureArgDecision FollowActionChain(std::span<const CChainEntry> chain, int action) {
  auto entry = std::find_if(chain.begin(), chain.end(), [&](const CChainEntry& e) { return e.state == action; });
  for (; entry != chain.end(); ++entry) {
    LogLine(L"action:" + InstallStateName(entry->state));
    if (entry->result) return *entry->result;
  }
  LogLine(L"action:default:" + CUnicodeString::FromInt(action));
  return NoDecision;
}

void LogInstalled(INSTALLSTATE state) { LogLine(L"installed:" + InstallStateName(state)); }

}  // namespace

FeatureArgDecision InstallActionExtended(int installed, int action) {
  LogLine(L"InstallActionExtended");
  switch (installed) {
    case INSTALLSTATE_ABSENT:
      LogInstalled(INSTALLSTATE_ABSENT);
      if (action == INSTALLSTATE_UNKNOWN) {
        LogLine(L"action:" + InstallStateName(INSTALLSTATE_UNKNOWN));
        return StaysAbsent;
      }
      [[fallthrough]];
    case INSTALLSTATE_ADVERTISED:
      LogInstalled(INSTALLSTATE_ADVERTISED);
      [[fallthrough]];
    case INSTALLSTATE_UNKNOWN:
      LogInstalled(INSTALLSTATE_UNKNOWN);
      return FollowActionChain(kActionsFromUnknown, action);
    case INSTALLSTATE_LOCAL:
      LogInstalled(INSTALLSTATE_LOCAL);
      return FollowActionChain(kActionsFromLocal, action);
    case INSTALLSTATE_DEFAULT:
      LogInstalled(INSTALLSTATE_DEFAULT);
      return FollowActionChain(kActionsFromDefault, action);
    default:
      LogLine(L"installed:default:" + CUnicodeString::FromInt(installed));
      return NoDecision;
  }
}

namespace {

constexpr wchar_t kSavedPrefix[] = L"SAVE_";

struct CPropertyArgRows {
  CColumnList properties;
  CColumnList args;
};

CPropertyArgRows ReadPropertyArgRows(MSIHANDLE session) {
  CPropertyArgRows rows;
  WithActiveDatabase(session, [&](MSIHANDLE database) {
    ReadTableColumns(database, kPropertyArgQuery,
                     {{PropertyArgColumn::Property, rows.properties}, {PropertyArgColumn::Arg, rows.args}});
  });
  return rows;
}

void SetUnlessEmpty(MSIHANDLE session, const wchar_t* name, const CUnicodeString& text) {
  if (!text.IsEmpty()) SetProperty(session, name, text);
}

UINT SetClbpBody(MSIHANDLE session) {
  CustomActionLog() << L"SetCLBP\r\n\r\n";
  const CPropertyArgRows rows = ReadPropertyArgRows(session);
  CUnicodeString text;
  for (size_t i = 0; i < rows.properties.size(); ++i)
    text += PropertyArgFragment(rows.args[i], GetPropertySilent(session, rows.properties[i]));
  SetUnlessEmpty(session, L"OV_CLBP", text);
  return ERROR_SUCCESS;
}

UINT SaveForClbpBody(MSIHANDLE session) {
  CustomActionLog() << L"SaveForCLBP\r\n\r\n";
  const CPropertyArgRows rows = ReadPropertyArgRows(session);
  for (const CUnicodeString& property : rows.properties) {
    Vrn::Check(!property.IsEmpty());
    SetProperty(session, kSavedPrefix + property, GetPropertySilent(session, property));
  }
  return ERROR_SUCCESS;
}

UINT SetClbpModifyBody(MSIHANDLE session) {
  CustomActionLog() << L"SetCLBP_Modify\r\n\r\n";
  const CPropertyArgRows rows = ReadPropertyArgRows(session);
  CUnicodeString install;
  CUnicodeString uninstall;
  for (size_t i = 0; i < rows.properties.size(); ++i) {
    const CUnicodeString& property = rows.properties[i];
    Vrn::Check(!property.IsEmpty());
    const CUnicodeString saved = GetPropertySilent(session, kSavedPrefix + property);
    const CUnicodeString current = GetPropertySilent(session, property);
    // Raw values are compared: "" and "0" differ even though both switch off.
    if (saved == current) continue;
    uninstall += PropertyArgFragment(rows.args[i], saved);
    install += PropertyArgFragment(rows.args[i], current);
  }
  SetUnlessEmpty(session, L"OV_CLBP_INSTALL", install);
  SetUnlessEmpty(session, L"OV_CLBP_UNINSTALL", uninstall);
  return ERROR_SUCCESS;
}

// The installer's answer for the feature, or unknown/unknown when it has none (an unknown feature,
// or states asked for before costing).
CFeatureState FeatureStateOrUnknown(MSIHANDLE session, const CUnicodeString& feature) {
  CFeatureState state;
  if (MsiGetFeatureStateW(session, feature.c_str(), &state.installed, &state.action) != ERROR_SUCCESS)
    state = CFeatureState{};
  return state;
}

UINT SetClbfBody(MSIHANDLE session) {
  CustomActionLog() << L"SetCLBF\r\n\r\n";
  CColumnList features;
  CColumnList args;
  WithActiveDatabase(session, [&](MSIHANDLE database) {
    ReadTableColumns(database, kFeatureArgQuery,
                     {{FeatureArgColumn::Feature, features}, {FeatureArgColumn::Arg, args}});
  });
  CUnicodeString install;
  CUnicodeString uninstall;
  for (size_t i = 0; i < features.size(); ++i) {
    const CFeatureState state = FeatureStateOrUnknown(session, features[i]);
    LogLine(L"Feature:" + args[i]);
    const CUnicodeString fragment = L" " + args[i];
    switch (InstallActionExtended(state.installed, state.action)) {
      case NoDecision:
        install += fragment;
        uninstall += fragment;
        break;
      case Remove:
        uninstall += fragment;
        break;
      case Install:
        install += fragment;
        break;
      default:
        LogLine(L"Feature !!! - unknown action");
        break;
    }
  }
  SetUnlessEmpty(session, L"OV_CLBF_INSTALL", install);
  SetUnlessEmpty(session, L"OV_CLBF_UNINSTALL", uninstall);
  return ERROR_SUCCESS;
}

}  // namespace

}  // namespace Msi

ORV_ACTION(SetCLBP, Msi::SetClbpBody, .tables = L"OV_PropertyArgCommandLine", .readsIndirect = true)
ORV_ACTION(SaveForCLBP, Msi::SaveForClbpBody, .tables = L"OV_PropertyArgCommandLine", .readsIndirect = true)
ORV_ACTION(SetCLBP_Modify, Msi::SetClbpModifyBody, .tables = L"OV_PropertyArgCommandLine", .readsIndirect = true)
ORV_ACTION(SetCLBF, Msi::SetClbfBody, .tables = L"OV_FeatureArgCommandLine", .costing = true)
