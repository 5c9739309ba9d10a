// The package's features as the feature and language actions see them: the names of the Feature
// table in view order, state queries that treat an unknown feature as an ordinary answer, and the
// rule that tells whether a feature ends up on the local disk.
#pragma once

#include <optional>
#include <vector>

#include "MsiHelper.h"

namespace Msi {

// Language features are named this followed by the Orvant language id ("UILang1"); resource
// modules are named a language feature's name, "_" and the main feature's name ("UILang1_Main").
inline constexpr wchar_t kLanguageFeaturePrefix[] = L"UILang";

// The Feature column of every row of the package's Feature table, in the order the view returns
// them. A package without the table, or a failed read, is an internal error.
std::vector<CUnicodeString> ReadFeatureNames(MSIHANDLE session);

// The feature's (installed, action) pair, or nothing when the installer refuses the query (an
// unknown feature, or costing not done). Logs nothing and never raises.
std::optional<CFeatureState> TryFeatureState(MSIHANDLE session, const CUnicodeString& feature);
// As TryFeatureState, with a refused query read as (unknown, unknown).
CFeatureState FeatureStateOrUnknown(MSIHANDLE session, const CUnicodeString& feature);

// True when the feature will be on the local disk after this installation: a feature not installed
// (unknown, advertised, absent) that is requested local or default, or a feature installed local or
// default that is left alone or requested local or default.
bool FeatureWillBeLocal(INSTALLSTATE installed, INSTALLSTATE action) noexcept;
inline bool FeatureWillBeLocal(const CFeatureState& state) noexcept {
  return FeatureWillBeLocal(state.installed, state.action);
}

}  // namespace Msi
