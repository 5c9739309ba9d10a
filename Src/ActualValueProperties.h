// Registry string values written outside the installer's own registry handling: ActualValueProperties
// rewrites Registry table rows with the current value of their property, AddRegistryInDeinstall
// writes the fixed values of OV_DeinstallRegistry during removal. The exports are defined in
// ActualValueProperties.cpp; the pieces below are declared for the tests.
#pragma once

#include <optional>
#include <vector>

#include "DatabaseAccess.h"
#include "MsiHelper.h"
#include "Setup.h"

namespace Msi {

// Only the value name (column 2) of OV_ActualValueProperties is read.
enum class ActualValueColumn : UINT { ValueName = 2 };
inline constexpr CTableQuery<ActualValueColumn> kActualValuePropertiesQuery{L"SELECT * FROM OV_ActualValueProperties"};

// The installer's standard Registry table, by position.
enum class RegistryColumn : UINT { Root = 2, Key = 3, Name = 4, Value = 5, Component = 6 };
inline constexpr CTableQuery<RegistryColumn> kRegistryQuery{L"SELECT * FROM Registry"};

enum class DeinstallRegistryColumn : UINT { Root = 2, Key = 3, Name = 4, Value = 5, ConditionProperty = 6 };
inline constexpr CTableQuery<DeinstallRegistryColumn> kDeinstallRegistryQuery{L"SELECT * FROM OV_DeinstallRegistry"};

// One row of OV_DeinstallRegistry.
struct DeinstallRegistryRecord {
  CUnicodeString root;
  CUnicodeString key;
  CUnicodeString name;
  CUnicodeString value;
  CUnicodeString conditionProperty;
};

// Append the rows of their table, logging "getListProperties" / "getListDeinstallRegistry".
void getListProperties(MSIHANDLE database, CColumnList& valueNames);
void getListDeinstallRegistry(MSIHANDLE database, std::vector<DeinstallRegistryRecord>& records);

// Where a Root cell writes: 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE,
// 3 HKEY_USERS, and -1 as the installer itself treats it: HKEY_LOCAL_MACHINE in a per-machine
// install, else HKEY_CURRENT_USER. Nothing for any other value.
std::optional<Vrn::SetupLocation> RegistryRootLocation(int root, bool perMachineInstall);

// A per-machine install: ALLUSERS is "1", or "2" without MSIINSTALLPERUSER "1".
bool IsPerMachineInstall(MSIHANDLE session);

}  // namespace Msi
