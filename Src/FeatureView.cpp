// The Feature-table walk and the feature-state rules shared by the feature and language actions.
#include "FeatureView.h"

#include "DatabaseAccess.h"

namespace Msi {

namespace {

enum class FeatureColumn : UINT { Feature = 1 };
constexpr CTableQuery<FeatureColumn> kFeatureQuery{L"SELECT Feature, Feature_Parent, Title FROM Feature"};

bool IsOneOf(INSTALLSTATE state, std::initializer_list<INSTALLSTATE> states) noexcept {
  for (INSTALLSTATE candidate : states)
    if (state == candidate) return true;
  return false;
}

}  // namespace

std::vector<CUnicodeString> ReadFeatureNames(MSIHANDLE session) {
  CColumnList names;
  WithActiveDatabase(session, [&](MSIHANDLE database) {
    ReadTableColumns(database, kFeatureQuery, {{FeatureColumn::Feature, names}});
  });
  return names;
}

std::optional<CFeatureState> TryFeatureState(MSIHANDLE session, const CUnicodeString& feature) {
  CFeatureState state;
  if (MsiGetFeatureStateW(session, feature.c_str(), &state.installed, &state.action) != ERROR_SUCCESS) return {};
  return state;
}

CFeatureState FeatureStateOrUnknown(MSIHANDLE session, const CUnicodeString& feature) {
  return TryFeatureState(session, feature).value_or(CFeatureState());
}

bool FeatureWillBeLocal(INSTALLSTATE installed, INSTALLSTATE action) noexcept {
  constexpr auto kLocal = INSTALLSTATE_LOCAL;
  constexpr auto kDefault = INSTALLSTATE_DEFAULT;
  if (IsOneOf(installed, {INSTALLSTATE_UNKNOWN, INSTALLSTATE_ADVERTISED, INSTALLSTATE_ABSENT}))
    return IsOneOf(action, {kLocal, kDefault});
  if (IsOneOf(installed, {kLocal, kDefault})) return IsOneOf(action, {INSTALLSTATE_UNKNOWN, kLocal, kDefault});
  return false;
}

}  // namespace Msi
