// Copying additional files from the installation source next to a server installation, copying
// from a disk to the computer, removing an administrative image's files, the source's parent folder
// and the package file in it, and a single file copy.
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "FileOperations.h"
#include "MsiHelper.h"
#include "RegistryKey.h"

namespace {

using Msi::CUnicodeString;
using Vrn::CDirectoryEntry;

using Msi::LogActionStart;
using Msi::LogTextLine;

CUnicodeString RequiredProperty(MSIHANDLE session, const wchar_t* name) {
  CUnicodeString value = Msi::GetProperty(session, name);
  Vrn::Check(!value.IsEmpty());
  return value;
}

// ---- Tables ----

enum class AddFilesColumn : UINT { Template = 1 };
constexpr Msi::CTableQuery<AddFilesColumn> kAddFilesQuery{L"SELECT `FilesTemplate` FROM `OV_AddFiles`"};
enum class AddFilesExtColumn : UINT { Template = 1, Target = 2 };
constexpr Msi::CTableQuery<AddFilesExtColumn> kAddFilesExtQuery{
    L"SELECT `FilesTemplate`,`Target` FROM `OV_AddFilesExt`"};
enum class AdmInstColumn : UINT { Name = 1 };
constexpr Msi::CTableQuery<AdmInstColumn> kAdmInstQuery{L"SELECT `Name` FROM `OV_AdmInst`"};
enum class CopyFromDiskColumn : UINT { Template = 1 };
constexpr wchar_t kCopyFromDiskQueryStart[] = L"SELECT `FilesTemplate` FROM ";
constexpr wchar_t kDefaultCopyFromDiskTable[] = L"`OV_CopyFromDisk`";

// One pattern to copy and the sub-path below the installed folder it goes to.
struct CAddedFiles {
  CUnicodeString pattern;
  CUnicodeString target;
};

std::vector<CAddedFiles> ReadAddedFiles(MSIHANDLE session, bool withTargets) {
  Msi::CColumnList patterns, targets;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    if (withTargets)
      Msi::ReadTableColumns(database, kAddFilesExtQuery,
                            {{AddFilesExtColumn::Template, patterns}, {AddFilesExtColumn::Target, targets}});
    else
      Msi::ReadTableColumns(database, kAddFilesQuery, {{AddFilesColumn::Template, patterns}});
  });
  std::vector<CAddedFiles> rows;
  for (size_t row = 0; row < patterns.size(); ++row)
    rows.push_back({patterns[row], withTargets ? targets[row] : CUnicodeString()});
  return rows;
}

// ---- Server copies ----

// The installed folder: the target path of TARGETDIR, logged after "<logName> installDir=", created
// when missing.
CUnicodeString InstalledFolder(MSIHANDLE session, const wchar_t* logName) {
  const CUnicodeString folder = Msi::GetTargetPath(session, L"TARGETDIR");
  Msi::CustomActionLog() << logName << L" installDir=" << folder << L"\r\n";
  Vrn::Check(!folder.IsEmpty());
  Vrn::CreateDirectoryWithParents(folder);
  return folder;
}

// The source path of TARGETDIR, logged.
CUnicodeString InstallationSource(MSIHANDLE session) {
  const CUnicodeString source = Msi::GetSourcePath(session, L"TARGETDIR");
  LogTextLine(L"getParentSourceDir sourceDir=", source);
  Vrn::Check(!source.IsEmpty());
  return source;
}

// A pattern "..\name" addresses the parent of the source folder: the part of the source up to the
// last backslash before its final character.
bool IsParentPattern(const CUnicodeString& pattern) { return pattern.StartsWith(L".."); }
CUnicodeString ParentFolder(const CUnicodeString& folder) {
  const size_t cut = folder.Length() < 2 ? CUnicodeString::npos : folder.Left(folder.Length() - 1).ReverseFind(L'\\');
  Vrn::Check(cut != CUnicodeString::npos);
  return folder.Left(cut);
}

// Copies the pattern's matches into destinationFolder, at or below rootFolder (made when there are
// matches), where nothing is written through a link.
void CopyMatches(const CUnicodeString& sourceFolder, const CUnicodeString& pattern, const CUnicodeString& rootFolder,
                 const CUnicodeString& destinationFolder) {
  const std::vector<CDirectoryEntry> matches = Msi::SearchFolder(sourceFolder, pattern);
  if (matches.empty()) return;
  const Vrn::CWriteRoot root(rootFolder);
  root.CreateFolder(destinationFolder);
  for (const CDirectoryEntry& match : matches) Msi::CopyEntryKeepFolders(root, match, destinationFolder);
}

UINT CopyAdditionalFilesForServerBody(MSIHANDLE session) {
  LogActionStart(L"CopyAdditionalFilesForServer");
  const CUnicodeString installed = InstalledFolder(session, L"CopyAdditionalFilesForServer");
  const std::vector<CAddedFiles> rows = ReadAddedFiles(session, false);
  const CUnicodeString source = RequiredProperty(session, L"SOURCEDIR");
  for (const CAddedFiles& row : rows) CopyMatches(source, row.pattern, installed, installed);
  return ERROR_SUCCESS;
}

UINT CopyAdditionalFilesForServer1Body(MSIHANDLE session) {
  LogActionStart(L"CopyAdditionalFilesForServer1");
  const CUnicodeString installed = InstalledFolder(session, L"CopyAdditionalFilesForServer1");
  const std::vector<CAddedFiles> rows = ReadAddedFiles(session, false);
  const CUnicodeString source = InstallationSource(session);
  const Vrn::CWriteRoot root(installed);
  for (const CAddedFiles& row : rows) {
    for (const CDirectoryEntry& file : Msi::SearchFolder(source, row.pattern)) {
      if (file.IsDirectory()) continue;
      const CUnicodeString destination = Vrn::JoinPath(installed, file.name);
      root.CheckNoLinks(destination, true);
      if (Vrn::FileExists(destination)) Vrn::RemoveFile(destination);
      Msi::CopyFileReplacing(root, file.fullPath, destination);
      Msi::ClearReadOnly(destination);
    }
  }
  return ERROR_SUCCESS;
}

// CopyAdditionalFilesForServer2 and CopyAdditionalFilesForServerExt: ".." patterns are searched in
// the source's parent; they land beside the installed folder (2) or in the row's target (Ext).
UINT CopyWithParentPatterns(MSIHANDLE session, const wchar_t* actionName, const wchar_t* logName, bool withTargets) {
  LogActionStart(actionName);
  const CUnicodeString installed = InstalledFolder(session, logName);
  const std::vector<CAddedFiles> rows = ReadAddedFiles(session, withTargets);
  const CUnicodeString source = InstallationSource(session);
  for (const CAddedFiles& row : rows) {
    const bool parent = IsParentPattern(row.pattern);
    const CUnicodeString pattern = parent ? row.pattern.Mid(3) : row.pattern;
    // Row targets lie below the installed folder; the ".." rule of the second variant writes into
    // the installed folder's parent, which is then the root.
    CUnicodeString root = installed, destination = installed;
    if (withTargets) {
      if (!row.target.IsEmpty()) destination = Vrn::JoinPath(installed, row.target);
    } else if (parent) {
      root = destination = Vrn::JoinPath(installed, L"..\\");
    }
    CopyMatches(parent ? ParentFolder(source) : source, pattern, root, destination);
  }
  return ERROR_SUCCESS;
}

UINT CopyAdditionalFilesForServer2Body(MSIHANDLE session) {
  return CopyWithParentPatterns(session, L"CopyAdditionalFilesForServer2", L"CopyAdditionalFilesForServer2", false);
}

UINT CopyAdditionalFilesForServerExtBody(MSIHANDLE session) {
  return CopyWithParentPatterns(session, L"CopyAdditionalFilesForServerExt", L"CopyAdditionalFilesForServer3", true);
}

// ---- Disk copies and the administrative image ----

UINT CopyFilesFromDiskToCompBody(MSIHANDLE session) {
  LogActionStart(L"CopyFilesFromDiskToComp");
  const CUnicodeString destination = RequiredProperty(session, L"COPYDESTINATION");
  CUnicodeString source = Msi::GetPropertySilent(session, L"COPY_SOURCE");
  if (source.IsEmpty()) source = RequiredProperty(session, L"SOURCEDIR");
  CUnicodeString table = Msi::GetPropertySilent(session, L"COPY_TABLE_NAME");
  if (table.IsEmpty()) table = kDefaultCopyFromDiskTable;
  LogTextLine(L"To copy:");
  Msi::CColumnList patterns;
  const CUnicodeString query = kCopyFromDiskQueryStart + table;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    Msi::ReadTableColumns(database, Msi::CTableQuery<CopyFromDiskColumn>{query.c_str()},
                          {{CopyFromDiskColumn::Template, patterns}});
  });
  if (patterns.empty()) return ERROR_SUCCESS;
  const Vrn::CWriteRoot root(destination);
  for (const CUnicodeString& pattern : patterns)
    for (const CDirectoryEntry& match : Msi::SearchFolder(source, pattern))
      Msi::CopyEntryKeepFolders(root, match, destination);
  return ERROR_SUCCESS;
}

UINT RemoveAdminPackageFromServerBody(MSIHANDLE session) {
  LogActionStart(L"RemoveAdminPackageFromServer");
  const CUnicodeString product = RequiredProperty(session, L"PROD_APPDATA_PATH");
  Vrn::CRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + product + L"\\Installer", Vrn::RegistryMode::Read))
    return ERROR_SUCCESS;
  const CUnicodeString image = key.ReadString(L"AdminPackagePath");
  if (image.IsEmpty() || !Vrn::DirectoryExists(image)) return ERROR_SUCCESS;
  Msi::CColumnList patterns;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    Msi::ReadTableColumns(database, kAddFilesQuery, {{AddFilesColumn::Template, patterns}});
    Msi::ReadTableColumns(database, kAdmInstQuery, {{AdmInstColumn::Name, patterns}}, "getListAdmInst");
  });
  std::vector<CDirectoryEntry> matches;
  for (const CUnicodeString& pattern : patterns)
    for (CDirectoryEntry& match : Msi::SearchFolder(image, pattern)) matches.push_back(std::move(match));
  Msi::RemoveEntryTrees(matches);
  return ERROR_SUCCESS;
}

// ---- The source's parent and its package ----

UINT SetParentSourceDirBody(MSIHANDLE session) {
  LogActionStart(L"SetPARENT_SRCDIR");
  const CUnicodeString source = InstallationSource(session);
  // Leading separators (of a UNC path) stay; the components between separators are joined again.
  size_t start = 0;
  while (start < source.Length() && Vrn::IsPathSeparator(source[start])) ++start;
  std::vector<CUnicodeString> components = Msi::SplitList(source.Mid(start), L'\\');
  Vrn::Check(components.size() >= 2);
  components.pop_back();
  CUnicodeString parent = source.Left(start);
  for (size_t index = 0; index < components.size(); ++index) parent += (index ? L"\\" : L"") + components[index];
  LogTextLine(L"getParentSourceDir =", parent);
  Msi::SetProperty(session, L"PARENT_SRCDIR", parent);
  return ERROR_SUCCESS;
}

bool IsWellFormedFileName(const CUnicodeString& name) {
  if (name.IsEmpty() || name == L"." || name == L"..") return false;
  return std::none_of(name.View().begin(), name.View().end(), [](wchar_t ch) {
    return ch < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(ch) != std::wstring_view::npos;
  });
}

UINT GetMsiFileNameBody(MSIHANDLE session) {
  LogActionStart(L"GetMsiFileName");
  const CUnicodeString folder = RequiredProperty(session, L"PARENT_SRCDIR");
  const std::vector<CDirectoryEntry> packages = Vrn::ListDirectory(folder, L"*.msi", Vrn::ListFiles | Vrn::ListHidden);
  if (!packages.empty()) LogTextLine(L"list[0] = ", packages.front().name);
  Msi::CustomActionLog() << L"list.Size()= " << static_cast<uint32_t>(packages.size()) << L"\r\n";
  Vrn::Check(packages.size() == 1 && IsWellFormedFileName(packages.front().name));
  Msi::SetProperty(session, L"MSIFILENAME", packages.front().name);
  return ERROR_SUCCESS;
}

UINT OVCopyFileBody(MSIHANDLE session) {
  LogActionStart(L"OVCopyFile");
  const CUnicodeString source = RequiredProperty(session, L"COPY_FILE_SRC");
  const CUnicodeString destination = RequiredProperty(session, L"COPY_FILE_DST");
  // The destination's own folder is the root: the file itself is never a link followed.
  const CUnicodeString folder = Msi::PathFolderPart(destination);
  Msi::CopyFileReplacing(Vrn::CWriteRoot(folder.IsEmpty() ? CUnicodeString(L".") : folder), source, destination);
  Msi::ClearReadOnly(destination);
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(CopyAdditionalFilesForServer, CopyAdditionalFilesForServerBody, .reads = L"SOURCEDIR",
           .tables = L"OV_AddFiles", .costing = true)
ORV_ACTION(CopyAdditionalFilesForServer1, CopyAdditionalFilesForServer1Body, .tables = L"OV_AddFiles", .costing = true)
ORV_ACTION(CopyAdditionalFilesForServer2, CopyAdditionalFilesForServer2Body, .tables = L"OV_AddFiles", .costing = true)
ORV_ACTION(CopyAdditionalFilesForServerExt, CopyAdditionalFilesForServerExtBody, .tables = L"OV_AddFilesExt",
           .costing = true)
ORV_ACTION(CopyFilesFromDiskToComp, CopyFilesFromDiskToCompBody,
           .reads = L"COPYDESTINATION COPY_SOURCE SOURCEDIR COPY_TABLE_NAME",
           .tables = L"[COPY_TABLE_NAME]|OV_CopyFromDisk")
ORV_ACTION(RemoveAdminPackageFromServer, RemoveAdminPackageFromServerBody, .reads = L"PROD_APPDATA_PATH",
           .tables = L"OV_AddFiles OV_AdmInst")
ORV_ACTION(SetPARENT_SRCDIR, SetParentSourceDirBody)
ORV_ACTION(Get_MSIFILENAME, GetMsiFileNameBody, .reads = L"PARENT_SRCDIR")
ORV_ACTION(OVCopyFile, OVCopyFileBody, .reads = L"COPY_FILE_SRC COPY_FILE_DST")
