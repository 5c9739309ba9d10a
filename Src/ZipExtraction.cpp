// Zip extraction actions: archives shipped with the package unpacked into folders of the
// installation, one named by two properties and a list from the OV_Zip table for the components
// being installed. Any refusal of the archive reader ends the action with 1603 and its text.
#include <algorithm>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Files.h"
#include "MsiHelper.h"
#include "ZipArchive.h"

namespace {

using Msi::CUnicodeString;

enum class ZipColumn : UINT { Id = 1, Component = 2, Source = 3, Target = 4 };
constexpr Msi::CTableQuery<ZipColumn> kZipQuery{L"SELECT Id, Component, Source, Target FROM OV_Zip"};

// Every entry of the archive, folders included, below destination, then logs how many there were.
// "./" is the reader's name for the whole archive, so an archive without entries is refused as
// "nothing found".
void ExtractWholeArchive(const CUnicodeString& archivePath, const CUnicodeString& destination) {
  Zlib::CZipArchive archive;
  archive.Open(archivePath);
  archive.Extract(L"./", destination);
  const auto& entries = archive.Entries();
  const auto files = std::count_if(entries.begin(), entries.end(), [](const auto& entry) { return !entry.IsFolder(); });
  Msi::CustomActionLog() << L"Extracted " << static_cast<uint32_t>(entries.size()) << L" entries ("
                         << static_cast<uint32_t>(files) << L" files) into " << destination << L"\r\n\r\n";
}

UINT ZipExtractBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"ZipExtract\r\n";
  const CUnicodeString archivePath = Msi::GetProperty(session, L"ZipExtract_SrcPath");
  const CUnicodeString destination = Msi::GetProperty(session, L"ZipExtract_DstPath");
  if (archivePath.IsEmpty() || destination.IsEmpty()) return ERROR_SUCCESS;
  ExtractWholeArchive(archivePath, destination);
  return ERROR_SUCCESS;
}

UINT ZipTableExtractBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"ZIPS_Extract\r\n";
  Msi::CColumnList ids, components, sources, targets;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    Msi::ReadTableColumns(database, kZipQuery,
                          {{ZipColumn::Id, ids},
                           {ZipColumn::Component, components},
                           {ZipColumn::Source, sources},
                           {ZipColumn::Target, targets}});
  });
  // Archives of earlier rows stay extracted when a later one fails.
  for (size_t row = 0; row < ids.size(); ++row) {
    if (!Msi::ComponentWillBeInstalled(session, components[row])) continue;
    const CUnicodeString archivePath = Vrn::JoinPath(Msi::GetSourcePath(session, sources[row]), ids[row]);
    Msi::CustomActionLog() << L"zip File: " << archivePath << L"\r\n\r\n";
    ExtractWholeArchive(archivePath, Msi::GetTargetPath(session, targets[row]));
  }
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(ZipExtract, ZipExtractBody, .reads = L"ZipExtract_SrcPath ZipExtract_DstPath")
ORV_ACTION(OV_Zip_Extract, ZipTableExtractBody, .tables = L"OV_Zip", .costing = true)
