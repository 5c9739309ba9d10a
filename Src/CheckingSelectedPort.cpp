// Default ports from the product's configurator: for each OV_Port row the configurator program is
// asked for the port of the row's identifier, and its exit code is that port.
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "Files.h"
#include "MsiHelper.h"
#include "ProcessLauncher.h"

namespace {

using Msi::CUnicodeString;

enum class DefaultPortColumn : UINT { Id = 1, Number = 2, Component = 3 };
constexpr Msi::CTableQuery<DefaultPortColumn> kDefaultPortQuery{L"SELECT ID, PortNumber, Component FROM OV_Port"};

bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

// The folder without one trailing separator; a drive root ("C:\") keeps its own.
CUnicodeString WithoutTrailingSeparator(const CUnicodeString& folder) {
  const size_t length = folder.Length();
  if (length == 0 || !IsSeparator(folder[length - 1])) return folder;
  if (length == 3 && folder[1] == L':') return folder;
  return folder.Left(length - 1);
}

UINT GetDefaultPortValuesByTableBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"GetDefaultPortValuesByTable\r\n\r\n";
  const CUnicodeString source = WithoutTrailingSeparator(Msi::GetProperty(session, L"SOURCEDIR"));
  const CUnicodeString configurator = Msi::GetProperty(session, L"VelmoraConfiguratorExeSourceDir");
  const CUnicodeString dataFolder = Msi::GetProperty(session, L"DATADIR");
  Vrn::Check(!source.IsEmpty() && !configurator.IsEmpty() && !dataFolder.IsEmpty());
  const CUnicodeString program = source + configurator;
  Vrn::Check(Vrn::PathExists(program));

  Msi::CColumnList ids, properties, components;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    Msi::ReadTableColumns(database, kDefaultPortQuery,
                          {{DefaultPortColumn::Id, ids},
                           {DefaultPortColumn::Number, properties},
                           {DefaultPortColumn::Component, components}});
  });
  for (size_t i = 0; i < ids.size(); ++i) {
    const CUnicodeString value = Msi::GetProperty(session, properties[i]);
    Msi::CustomActionLog() << L"Port : " << properties[i] << L"\r\n\r\n" << L"PortValue : " << value << L"\r\n\r\n";
    const CUnicodeString commandLine = program + L" /getPort:" + ids[i] + L" /workingDir:\"" + dataFolder + L"\"";
    DWORD exitCode = 0;
    if (!Msi::LaunchProcess(commandLine, exitCode, Msi::kShowHidden, true) && exitCode == Msi::kExitCodeNotStarted) {
      Msi::CustomActionLog() << L"Error CreateProcess" << value << L"\r\n\r\n";
      continue;
    }
    const CUnicodeString defaultPort = CUnicodeString::FromUInt(exitCode);
    // Only a port still at 0 takes the default; the "_" copy always shows it.
    if (Vrn::StrictInteger<int32_t>(value) == 0) Msi::SetProperty(session, properties[i], defaultPort);
    Msi::SetProperty(session, L"_" + properties[i], defaultPort);
  }
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(GetDefaultPortValuesByTable, GetDefaultPortValuesByTableBody,
           .reads = L"SOURCEDIR VelmoraConfiguratorExeSourceDir DATADIR", .tables = L"OV_Port", .readsIndirect = true)
