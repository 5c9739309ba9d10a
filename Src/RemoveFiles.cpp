// Removing files and folders the installer's own tables do not cover, renaming a file, keeping
// chosen files across an upgrade (saved to a temporary folder and copied back), path questions and
// the removal of the dictionary's trigram files.
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "FileOperations.h"
#include "MsiHelper.h"
#include "TextLimits.h"

namespace {

using Msi::CUnicodeString;
using Vrn::CDirectoryEntry;

using Msi::LogActionStart;
using Msi::LogTextLine;

// The paths of a "|" list property after its leading "|" (every one, or only the first) are dropped;
// nothing, after logging "Empty Property: <name>", when none is left.
std::optional<std::vector<CUnicodeString>> ReadPathList(MSIHANDLE session, const wchar_t* name, bool dropEveryLeading) {
  const CUnicodeString value = Msi::GetProperty(session, name);
  size_t start = 0;
  while (start < value.Length() && value[start] == L'|' && (dropEveryLeading || start == 0)) ++start;
  if (start == value.Length()) {
    LogTextLine(L"Empty Property: ", name);
    return std::nullopt;
  }
  return Msi::SplitList(value.Mid(start), L'|');
}

// ---- Removal ----

UINT RemoveFilesAddFoldersBody(MSIHANDLE session) {
  LogActionStart(L"RemoveFilesAddFolders");
  const std::vector<CUnicodeString> paths = Msi::SplitList(Msi::GetProperty(session, L"RFF_LIST"), L'|');
  const std::vector<CUnicodeString> exclusions = Msi::SplitList(Msi::GetPropertySilent(session, L"RFF_EXC_LIST"), L'|');
  Msi::CRemovalRun run(session, Msi::GetBoolProperty(session, L"RFF_UI"));
  bool locked = false;
  for (const CUnicodeString& path : paths) {
    if (run.aborted) break;
    locked |= Msi::RemovePath(path, exclusions, run);
  }
  Msi::SetPropertySilent(session, L"RFF_IsLock", locked ? L"Yes" : L"");
  Msi::SetPropertySilent(session, L"RFF_IsAbort", run.aborted ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

UINT RemoveAddFoldersBody(MSIHANDLE session) {
  LogActionStart(L"RemoveAddFolders");
  const std::optional<std::vector<CUnicodeString>> list = ReadPathList(session, L"MT_REMOVEADDFOLDERS", true);
  if (!list) return ERROR_SUCCESS;
  const CUnicodeString exceptionName = Msi::GetPropertySilent(session, L"MT_REMOVEADDFOLDERS_EXCEPTION");
  const std::vector<CUnicodeString>& folders = *list;
  for (size_t index = 0; index < folders.size(); ++index)
    Msi::CustomActionLog() << L"folder: " << static_cast<uint32_t>(index) << L" : " << folders[index] << L"\r\n";
  for (const CUnicodeString& folder : folders) {
    LogTextLine(L"DelTree: ", folder);
    if (!Vrn::DirectoryExists(folder)) continue;
    const bool locked = Msi::DeleteTree(folder, true, exceptionName);
    Msi::SetPropertySilent(session, L"RemoveAddFolders_IsLock", locked ? L"Yes" : L"");
  }
  return ERROR_SUCCESS;
}

UINT RemoveFilesBody(MSIHANDLE session) {
  LogActionStart(L"RemoveFiles");
  const std::optional<std::vector<CUnicodeString>> list = ReadPathList(session, L"MT_REMOVE_FILES", false);
  if (!list) return ERROR_SUCCESS;
  for (const CUnicodeString& path : *list) {
    const bool removed = ::DeleteFileW(Vrn::Checked(path, Vrn::kPathLimit)) != 0;
    const DWORD code = removed ? 1 : ::GetLastError();
    Msi::CustomActionLog() << L"Remove: " << path << L" : " << static_cast<uint32_t>(code) << L"\r\n";
  }
  return ERROR_SUCCESS;
}

UINT RenameFileBody(MSIHANDLE session) {
  LogActionStart(L"RenameFile");
  const CUnicodeString source = Msi::GetProperty(session, L"RenameSrc");
  const CUnicodeString destination = Msi::GetProperty(session, L"RenameDst");
  LogTextLine(L"RenameFile src:", source);
  LogTextLine(L"RenameFile dst:", destination);
  Vrn::CheckLength(source, Vrn::kPathLimit);
  if (!::MoveFileW(source.c_str(), Vrn::Checked(destination, Vrn::kPathLimit))) Vrn::RaiseFileError(source);
  return ERROR_SUCCESS;
}

// ---- Path questions ----

UINT GetDirByFileBody(MSIHANDLE session) {
  LogActionStart(L"GetDirByFile");
  Msi::SetProperty(session, L"GET_DIR_BY_FILE", Msi::PathFolderPart(Msi::GetProperty(session, L"GET_DIR_BY_FILE")));
  return ERROR_SUCCESS;
}

UINT GetShortFileNameBody(MSIHANDLE session) {
  LogActionStart(L"GetShortFileName");
  Msi::SetProperty(session, L"GET_FILE_NAME", Msi::PathNamePart(Msi::GetProperty(session, L"GET_FILE_NAME")));
  return ERROR_SUCCESS;
}

// ---- Saving files across an upgrade ----

enum class SaveColumn : UINT { Source = 1, Template = 2 };
constexpr Msi::CTableQuery<SaveColumn> kSaveQuery{L"SELECT SourceDir, FilesTemplate FROM OV_SaveFilesOnUpgrade"};
enum class RestoreColumn : UINT { Source = 1, Destination = 2, Template = 3 };
constexpr Msi::CTableQuery<RestoreColumn> kRestoreQuery{
    L"SELECT SourceDir, DestinationDir, FilesTemplate FROM OV_SaveFilesOnUpgrade"};

// One row with its cells resolved: the source property's value, the destination directory's target
// path, and the pattern.
struct CSavedFiles {
  CUnicodeString source;
  CUnicodeString destination;
  CUnicodeString pattern;
  // An empty pattern saves the one file the source names; with `sourceIsItsFolder` the source
  // then becomes that file's folder.
  void ApplyFileRule(bool sourceIsItsFolder) {
    if (!pattern.IsEmpty()) return;
    pattern = Msi::PathNamePart(source);
    if (sourceIsItsFolder) source = Msi::PathFolderPart(source);
  }
};

std::vector<CSavedFiles> ReadSavedFiles(MSIHANDLE session, bool withDestination) {
  Msi::CColumnList sources, destinations, patterns;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    if (withDestination)
      Msi::ReadTableColumns(database, kRestoreQuery,
                            {{RestoreColumn::Source, sources},
                             {RestoreColumn::Destination, destinations},
                             {RestoreColumn::Template, patterns}});
    else
      Msi::ReadTableColumns(database, kSaveQuery, {{SaveColumn::Source, sources}, {SaveColumn::Template, patterns}});
  });
  std::vector<CSavedFiles> rows;
  for (size_t row = 0; row < sources.size(); ++row) {
    CSavedFiles& files = rows.emplace_back();
    files.source = Msi::GetProperty(session, sources[row]);
    if (withDestination) files.destination = Msi::GetTargetPath(session, destinations[row]);
    files.pattern = patterns[row];
  }
  return rows;
}

// The target path of the directory TEMP_FOLDER_ON_UPGRADE, logged after `logPrefix`.
CUnicodeString UpgradeTempFolder(MSIHANDLE session, const wchar_t* logPrefix) {
  const CUnicodeString folder = Msi::GetTargetPath(session, L"TEMP_FOLDER_ON_UPGRADE");
  LogTextLine(logPrefix, folder);
  Vrn::Check(!folder.IsEmpty());
  return folder;
}

UINT CopyFilesToTempFolderBody(MSIHANDLE session) {
  LogActionStart(L"CopyFilesToTempFolder");
  const CUnicodeString tempFolder = UpgradeTempFolder(session, L"CopyFilesToTempFolder destDir=");
  const Vrn::CWriteRoot root(tempFolder);
  for (CSavedFiles& files : ReadSavedFiles(session, false)) {
    files.ApplyFileRule(true);
    if (!Vrn::DirectoryExists(files.source)) continue;
    const std::vector<CDirectoryEntry> matches = Msi::SearchFolder(files.source, files.pattern);
    LogTextLine(L"CopyFilesToTempFolder sourceDir=", files.source + L", filesTemplate=" + files.pattern);
    for (const CDirectoryEntry& match : matches) Msi::CopyEntry(root, match, tempFolder);
  }
  return ERROR_SUCCESS;
}

UINT CopyFilesToDestFolderBody(MSIHANDLE session) {
  LogActionStart(L"CopyFilesToDestFolder");
  const CUnicodeString tempFolder = UpgradeTempFolder(session, L"CopyFilesToDestFolder sourceDir=");
  for (CSavedFiles& files : ReadSavedFiles(session, true)) {
    files.ApplyFileRule(false);
    const std::vector<CDirectoryEntry> matches = Msi::SearchFolder(tempFolder, files.pattern);
    LogTextLine(L"CopyFilesToDestFolder destDir=", files.destination + L", filesTemplate=" + files.pattern);
    if (matches.empty()) continue;
    // An unknown directory has no target path; its files must not land in the current folder.
    Vrn::Check(!files.destination.IsEmpty());
    const Vrn::CWriteRoot root(files.destination);
    for (const CDirectoryEntry& match : matches) Msi::CopyEntry(root, match, files.destination);
  }
  return ERROR_SUCCESS;
}

UINT RemoveFilesFromSourceFolderBody(MSIHANDLE session) {
  LogActionStart(L"RemoveFilesFromSourceFolder");
  for (CSavedFiles& files : ReadSavedFiles(session, true)) {
    files.ApplyFileRule(true);
    LogTextLine(L"RemoveFilesFromSourceFolder sourceDir=", files.source);
    // Files saved from the folder they return to are already in place.
    if (!Vrn::DirectoryExists(files.source) ||
        Vrn::WithTrailingSeparator(files.source).EqualsNoCase(Vrn::WithTrailingSeparator(files.destination)))
      continue;
    Msi::RemoveEntryTrees(Msi::SearchFolder(files.source, files.pattern));
  }
  return ERROR_SUCCESS;
}

UINT RemoveFilesFromTempFolderBody(MSIHANDLE session) {
  LogActionStart(L"RemoveFilesFromTempFolder");
  const CUnicodeString tempFolder = UpgradeTempFolder(session, L"RemoveFilesFromTempFolder sourceDir=");
  for (CSavedFiles& files : ReadSavedFiles(session, false)) {
    files.ApplyFileRule(false);
    Msi::RemoveEntryTrees(Msi::SearchFolder(tempFolder, files.pattern));
  }
  return ERROR_SUCCESS;
}

// ---- Trigram files ----

UINT RemoveTrigrammsBody(MSIHANDLE session) {
  LogActionStart(L"RemoveTrigramms");
  const CUnicodeString folder = Msi::GetProperty(session, L"INSTALLDIR");
  Vrn::Check(!folder.IsEmpty());
  for (const wchar_t* pattern : {L"*.amt", L"{*}.amd", L"VerData.prt"}) {
    for (const CDirectoryEntry& file : Vrn::ListDirectory(folder, pattern, Vrn::ListFiles | Vrn::ListHidden)) {
      Msi::ClearReadOnly(file.fullPath);
      Vrn::RemoveFile(file.fullPath);
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(RemoveFilesAddFolders, RemoveFilesAddFoldersBody, .reads = L"RFF_LIST RFF_EXC_LIST RFF_UI")
ORV_ACTION(RemoveAddFolders, RemoveAddFoldersBody, .reads = L"MT_REMOVEADDFOLDERS MT_REMOVEADDFOLDERS_EXCEPTION")
ORV_ACTION(RemoveFiles, RemoveFilesBody, .reads = L"MT_REMOVE_FILES")
ORV_ACTION(RenameFile, RenameFileBody, .reads = L"RenameSrc RenameDst")
ORV_ACTION(GetDirByFile, GetDirByFileBody, .reads = L"GET_DIR_BY_FILE")
ORV_ACTION(GetShortFileName, GetShortFileNameBody, .reads = L"GET_FILE_NAME")
ORV_ACTION(CopyFilesToTempFolder, CopyFilesToTempFolderBody, .tables = L"OV_SaveFilesOnUpgrade", .readsIndirect = true,
           .costing = true)
ORV_ACTION(CopyFilesToDestFolder, CopyFilesToDestFolderBody, .tables = L"OV_SaveFilesOnUpgrade", .readsIndirect = true,
           .costing = true)
ORV_ACTION(RemoveFilesFromSourceFolder, RemoveFilesFromSourceFolderBody, .tables = L"OV_SaveFilesOnUpgrade",
           .readsIndirect = true, .costing = true)
ORV_ACTION(RemoveFilesFromTempFolder, RemoveFilesFromTempFolderBody, .tables = L"OV_SaveFilesOnUpgrade",
           .readsIndirect = true, .costing = true)
ORV_ACTION(RemoveTrigramms, RemoveTrigrammsBody, .reads = L"INSTALLDIR")
