// The command-line builder tables: argument texts for a child program built from switch properties
// (OV_PropertyArgCommandLine) and from feature states (OV_FeatureArgCommandLine). The exports
// SetCLBP, SaveForCLBP, SetCLBP_Modify and SetCLBF are defined in ArgCommandLine.cpp; the pieces
// below are their decisions, declared for the tests.
#pragma once

#include "DatabaseAccess.h"
#include "MsiHelper.h"

namespace Msi {

enum class PropertyArgColumn : UINT { Property = 1, Arg = 2 };
inline constexpr CTableQuery<PropertyArgColumn> kPropertyArgQuery{
    L"SELECT Property, Arg FROM OV_PropertyArgCommandLine"};

enum class FeatureArgColumn : UINT { Feature = 1, Arg = 2 };
inline constexpr CTableQuery<FeatureArgColumn> kFeatureArgQuery{L"SELECT Feature, Arg FROM OV_FeatureArgCommandLine"};

// "1" when the value is exactly "1", otherwise "0" (also for "", " 1", "true", "2").
CUnicodeString SwitchValue(const CUnicodeString& value);
// " " + arg + ":" + SwitchValue(value), unquoted: (Scan, "1") gives " Scan:1".
CUnicodeString PropertyArgFragment(const CUnicodeString& arg, const CUnicodeString& value);

// Where a feature's argument goes.
enum class FeatureArgDecision : int {
  NoDecision = -1,  // both texts
  Remove = 0,       // the uninstall text
  Install = 1,      // the install text
  StaysAbsent = 2,  // neither
};

// Decides from the feature's installed state and requested action, logging "InstallActionExtended"
// and one line per state label it passes ("installed:INSTALLSTATE_LOCAL", "action:default:5", ...).
FeatureArgDecision InstallActionExtended(int installed, int action);

}  // namespace Msi
