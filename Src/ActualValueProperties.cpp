// ActualValueProperties and AddRegistryInDeinstall: registry string values written through the core
// library's registry setting, at the root a Root cell names.
#include "ActualValueProperties.h"

#include <algorithm>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"

namespace Msi {

void getListProperties(MSIHANDLE database, CColumnList& valueNames) {
  ReadTableColumns(database, kActualValuePropertiesQuery, {{ActualValueColumn::ValueName, valueNames}},
                   "getListProperties");
}

void getListDeinstallRegistry(MSIHANDLE database, std::vector<DeinstallRegistryRecord>& records) {
  CColumnList roots, keys, names, values, conditions;
  using enum DeinstallRegistryColumn;
  ReadTableColumns(database, kDeinstallRegistryQuery,
                   {{Root, roots}, {Key, keys}, {Name, names}, {Value, values}, {ConditionProperty, conditions}},
                   "getListDeinstallRegistry");
  for (size_t i = 0; i < roots.size(); ++i) records.push_back({roots[i], keys[i], names[i], values[i], conditions[i]});
}

std::optional<Vrn::SetupLocation> RegistryRootLocation(int root, bool perMachineInstall) {
  using Vrn::SetupLocation;
  switch (root) {
    case -1:
      return perMachineInstall ? SetupLocation::Machine : SetupLocation::User;
    case 0:
      return SetupLocation::ClassesRoot;
    case 1:
      return SetupLocation::User;
    case 2:
      return SetupLocation::Machine;
    case 3:
      return SetupLocation::Users;
    default:
      return std::nullopt;
  }
}

bool IsPerMachineInstall(MSIHANDLE session) {
  const CUnicodeString allUsers = GetPropertySilent(session, L"ALLUSERS");
  // ALLUSERS=2 is a per-machine install unless the package asks for a per-user one.
  return allUsers == L"1" || (allUsers == L"2" && GetPropertySilent(session, L"MSIINSTALLPERUSER") != L"1");
}

namespace {

// Where a row writes: none for a Root that is not a number (skipped silently) or one outside the
// mapping (skipped with a log line).
std::optional<Vrn::SetupLocation> RowLocation(MSIHANDLE session, const CUnicodeString& rootText,
                                              const CUnicodeString& key, const CUnicodeString& name) {
  const std::optional<int32_t> root = Vrn::StrictInteger<int32_t>(rootText);
  if (!root) return std::nullopt;
  const bool perMachine = *root == -1 && IsPerMachineInstall(session);
  const std::optional<Vrn::SetupLocation> location = RegistryRootLocation(*root, perMachine);
  if (!location)
    CustomActionLog() << L"Registry root " << *root << L" is not supported, value skipped: " << key << L"\\" << name
                      << L"\r\n";
  return location;
}

// Raises ERR_CANT_WRITE_TO_REGISTRY when the key cannot be created or the value set.
void WriteRegistryString(Vrn::SetupLocation location, const CUnicodeString& key, const CUnicodeString& name,
                         const CUnicodeString& value) {
  Vrn::CSetup<CUnicodeString> setting(location, key, name, CUnicodeString(), 0);
  setting.Set(value);
}

struct CRegistryRows {
  CColumnList roots, keys, names, values, components;
};

UINT ActualValuePropertiesBody(MSIHANDLE session) {
  CustomActionLog() << L"ActualValueProperties\r\n\r\n";
  CColumnList valueNames;
  CRegistryRows rows;
  WithActiveDatabase(session, [&](MSIHANDLE database) {
    CustomActionLog() << L"ActualValueProperties 1\r\n\r\n";
    getListProperties(database, valueNames);
    using enum RegistryColumn;
    ReadTableColumns(
        database, kRegistryQuery,
        {{Root, rows.roots}, {Key, rows.keys}, {Name, rows.names}, {Value, rows.values}, {Component, rows.components}});
  });
  for (size_t i = 0; i < rows.names.size(); ++i) {
    const CUnicodeString& name = rows.names[i];
    if (std::find(valueNames.begin(), valueNames.end(), name) == valueNames.end()) continue;
    if (!ComponentWillBeLocal(session, rows.components[i])) continue;
    const CUnicodeString& key = rows.keys[i];
    const std::optional<Vrn::SetupLocation> location = RowLocation(session, rows.roots[i], key, name);
    if (!location) continue;
    // The value names its property in brackets ("[INSTALLDIR]"); whatever the two outer characters
    // are, they are dropped. A shorter value names no property, so there is nothing to write.
    const CUnicodeString& value = rows.values[i];
    if (value.Length() < 2) {
      CustomActionLog() << L"No property in the value '" << value << L"', value skipped: " << key << L"\\" << name
                        << L"\r\n";
      continue;
    }
    WriteRegistryString(*location, key, name, GetProperty(session, value.Mid(1, value.Length() - 2)));
  }
  return ERROR_SUCCESS;
}

UINT AddRegistryInDeinstallBody(MSIHANDLE session) {
  CustomActionLog() << L"AddRegisryInDeinstall\r\n\r\n";
  std::vector<DeinstallRegistryRecord> records;
  {
    const Vrn::CLibraryScope library;
    WithActiveDatabase(session, [&](MSIHANDLE database) { getListDeinstallRegistry(database, records); });
  }
  for (const DeinstallRegistryRecord& record : records) {
    if (!GetBoolProperty(session, record.conditionProperty)) continue;
    const std::optional<Vrn::SetupLocation> location = RowLocation(session, record.root, record.key, record.name);
    if (location) WriteRegistryString(*location, record.key, record.name, record.value);
  }
  return ERROR_SUCCESS;
}

}  // namespace

}  // namespace Msi

ORV_ACTION(ActualValueProperties, Msi::ActualValuePropertiesBody, .reads = L"ALLUSERS MSIINSTALLPERUSER",
           .tables = L"OV_ActualValueProperties Registry", .readsIndirect = true, .costing = true)
ORV_ACTION(AddRegistryInDeinstall, Msi::AddRegistryInDeinstallBody, .reads = L"ALLUSERS MSIINSTALLPERUSER",
           .tables = L"OV_DeinstallRegistry", .readsIndirect = true)
