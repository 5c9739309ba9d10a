// Removal and copy of files and folder trees for the actions, with the custom-action log lines
// package authors read when something stays behind.
#include "FileOperations.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <optional>

#include "CustomActionLog.h"
#include "Errors.h"
#include "TextLimits.h"

namespace Msi {

namespace {

using Vrn::CDirectoryEntry;

size_t LastSeparator(const CUnicodeString& path) noexcept { return path.View().find_last_of(L"\\/"); }

size_t DriveLength(const CUnicodeString& path) noexcept { return path.Length() >= 2 && path[1] == L':' ? 2 : 0; }

bool BeginsWithDot(const CUnicodeString& name) noexcept { return name.StartsWith(L"."); }

bool HasWildcard(const CUnicodeString& path) noexcept {
  return path.View().find_first_of(L"*?") != std::wstring_view::npos;
}

// The text of a core-library failure, or nothing when the operation worked.
template <class Operation>
std::optional<CUnicodeString> FailureOf(Operation&& operation) {
  if (const Vrn::CExceptionPtr failure = Vrn::Caught(operation)) return failure->MessageText();
  return std::nullopt;
}

// The Windows error of a file operation the core library refused (CFileException), or nothing when
// it worked; every other failure passes on.
template <class Operation>
std::optional<DWORD> FileErrorOf(Operation&& operation) {
  if (const auto failure = Vrn::Caught<Vrn::CFileException>(operation)) return failure->Code();
  return std::nullopt;
}

// Deletes a file; a first failure is logged and the deletion tried once more, and only the second
// failure counts.
std::optional<CUnicodeString> DeleteFileTwice(const CUnicodeString& path) {
  const std::optional<CUnicodeString> first = FailureOf([&] { Vrn::RemoveFile(path); });
  if (!first) return std::nullopt;
  LogTextLine(L"remove exception: ", *first);
  return FailureOf([&] { Vrn::RemoveFile(path); });
}

void LogCannotRemove(const CUnicodeString& path, const CUnicodeString& failure) {
  LogTextLine(L"Cannot remove: ", path);
  LogTextLine(L"Cannot remove: ", failure);
}

// PathIsRootW takes at most MAX_PATH; a longer path is no root.
bool IsRoot(const CUnicodeString& path) {
  return Vrn::FitsLimit(path, Vrn::kShortPathLimit) && ::PathIsRootW(path.c_str());
}

// The path without the prefix of the Win32 file or device namespace: "\\?\C:\x" and "\\.\C:\x"
// name C:\x, "\\?\UNC\server\share" names \\server\share.
CUnicodeString WithoutNamespacePrefix(const CUnicodeString& path) {
  if (path.StartsWith(L"\\\\?\\UNC\\")) return L"\\\\" + path.Mid(8);
  if (path.StartsWith(L"\\\\?\\") || path.StartsWith(L"\\\\.\\")) return path.Mid(4);
  return path;
}

// A full path, without the namespace prefix, with its long form when the entry exists, and without
// trailing separators except those of a root.
CUnicodeString NormalisedFullPath(const CUnicodeString& path) {
  CUnicodeString full;
  DWORD needed = ::GetFullPathNameW(Vrn::Checked(path, Vrn::kPathLimit), 0, nullptr, nullptr);
  Vrn::CheckLastError(needed != 0);
  DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.GetBuffer(needed), nullptr);
  Vrn::CheckLastError(length != 0 && length < needed);
  full.ReleaseBuffer(length);
  full = WithoutNamespacePrefix(full);
  // GetLongPathNameW takes at most MAX_PATH without the "\\?\" prefix (Wine's overflows its stack on
  // a longer name). A longer full path is no root, and its long form is no shorter, so it never
  // equals a protected folder either: it is kept as it is.
  if (!Vrn::FitsLimit(full, Vrn::kShortPathLimit)) return Vrn::WithoutTrailingSeparators(full);
  CUnicodeString longForm;
  needed = ::GetLongPathNameW(full.c_str(), nullptr, 0);
  if (needed != 0) {
    length = ::GetLongPathNameW(full.c_str(), longForm.GetBuffer(needed), needed);
    longForm.ReleaseBuffer(length != 0 && length < needed ? length : 0);
    if (!longForm.IsEmpty()) full = longForm;
  }
  const CUnicodeString trimmed = Vrn::WithoutTrailingSeparators(full);
  return IsRoot(Vrn::WithTrailingSeparator(trimmed)) ? Vrn::WithTrailingSeparator(trimmed) : trimmed;
}

// The folders no tree removal may start at: Windows, system and Program Files.
std::vector<CUnicodeString> ProtectedFolders() {
  std::vector<CUnicodeString> folders;
  for (const int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
    wchar_t path[MAX_PATH];
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0] != 0)
      folders.push_back(NormalisedFullPath(path));
  }
  return folders;
}

bool IsExcluded(const CUnicodeString& name, const std::vector<CUnicodeString>& exclusions) {
  return std::find(exclusions.begin(), exclusions.end(), name) != exclusions.end();
}

bool RemovePathChecked(const CUnicodeString& path, const std::vector<CUnicodeString>& exclusions, CRemovalRun& run) {
  if (IsExcluded(PathNamePart(path), exclusions)) return false;
  if (Vrn::DirectoryExists(path)) {
    const std::optional<CDirectoryEntry> folder = FindEntry(path);
    if (!folder) return false;
    if (IsLinkedFolder(*folder)) return RemoveEntry(*folder, run);
    bool locked = false;
    for (const CDirectoryEntry& entry : SearchFolder(path, L"*.*")) {
      if (run.aborted) break;
      if (IsExcluded(entry.name, exclusions)) {
        LogTextLine(L"exception find: ", entry.name);
      } else if (entry.IsDirectory() && !IsLinkedFolder(entry)) {
        locked |= RemovePathChecked(entry.fullPath, exclusions, run);
      } else {
        locked |= RemoveEntry(entry, run);
      }
    }
    LogTextLine(L"delDir:", path);
    locked |= RemoveEntry(*folder, run);
    return locked;
  }
  if (!HasWildcard(path)) {
    if (Vrn::FileExists(path)) {
      if (const std::optional<CDirectoryEntry> file = FindEntry(path)) return RemoveEntry(*file, run);
    }
    LogTextLine(L"Cannot find: ", path);
    return false;
  }
  // The pattern's folder is taken without its drive, so it is found on the current drive.
  const CUnicodeString folder = PathFolderWithoutDrive(path);
  Vrn::Check(Vrn::DirectoryExists(folder));
  const std::vector<CDirectoryEntry> matches = SearchFolder(folder, PathNamePart(path));
  for (const CDirectoryEntry& match : matches)
    if (match.IsDirectory() && !IsLinkedFolder(match) && !IsExcluded(match.name, exclusions))
      CheckRemovableTree(match.fullPath);
  bool locked = false;
  for (const CDirectoryEntry& match : matches) {
    if (run.aborted) break;
    locked |= RemovePathChecked(match.fullPath, exclusions, run);
  }
  return locked;
}

bool DeleteTreeChecked(const CUnicodeString& folder, bool clearReadOnly, const CUnicodeString& exceptionName) {
  bool locked = false;
  for (const CDirectoryEntry& entry : SearchFolder(folder, L"*.*")) {
    if (entry.IsDirectory() && !IsLinkedFolder(entry)) {
      if (exceptionName.IsEmpty() || !entry.fullPath.EndsWith(exceptionName))
        DeleteTreeChecked(entry.fullPath, clearReadOnly, exceptionName);
      continue;
    }
    if (clearReadOnly && (entry.attributes & FILE_ATTRIBUTE_READONLY)) ClearReadOnly(entry.fullPath);
    // A linked folder goes as a link: its target is outside this tree.
    const std::optional<CUnicodeString> failure =
        entry.IsDirectory() ? FailureOf([&] { Vrn::RemoveFolder(entry.fullPath); }) : DeleteFileTwice(entry.fullPath);
    if (failure) {
      LogCannotRemove(entry.fullPath, *failure);
      locked = true;
    }
  }
  ClearReadOnly(folder);
  if (!exceptionName.IsEmpty() && PathNamePart(Vrn::WithoutTrailingSeparators(folder)) == exceptionName) {
    LogTextLine(L"delDir Exception:", folder);
    return locked;
  }
  LogTextLine(L"delDir:", folder);
  if (const std::optional<CUnicodeString> failure = FailureOf([&] { Vrn::RemoveFolder(folder); })) {
    LogTextLine(L"delDir ERROR: ", *failure);
    locked = true;
  }
  return locked;
}

void CopyEntryInto(const Vrn::CWriteRoot& root, const CDirectoryEntry& entry, const CUnicodeString& destinationFolder,
                   bool keepFolders) {
  if (BeginsWithDot(entry.name)) return;
  const CUnicodeString destination = Vrn::JoinPath(destinationFolder, entry.name);
  // What is removed or replaced below lies below the root, with no link on the way or in its place.
  root.CheckNoLinks(destination, true);
  if (!entry.IsDirectory()) {
    if (Vrn::FileExists(destination)) {
      if (keepFolders) ClearReadOnly(destination);
      Vrn::RemoveFile(destination);
    }
    CopyFileReplacing(root, entry.fullPath, destination);
    return;
  }
  if (!keepFolders && Vrn::DirectoryExists(destination)) RemoveFolderTree(destination);
  root.CreateFolder(destination);
  for (const CDirectoryEntry& inner : SearchFolder(entry.fullPath, L"*"))
    CopyEntryInto(root, inner, destination, keepFolders);
}

void RealFileCopy(const Vrn::CWriteRoot& root, const CUnicodeString& source, const CUnicodeString& destination) {
  root.CopyInto(source, destination);
}
std::atomic<FileCopyCall> g_fileCopy{RealFileCopy};

// The Windows error of a refused copy, or none when it succeeded.
std::optional<DWORD> TryCopy(const Vrn::CWriteRoot& root, const CUnicodeString& source,
                             const CUnicodeString& destination) {
  return FileErrorOf([&] { g_fileCopy.load()(root, source, destination); });
}

}  // namespace

// ---- Log ----

// Each as one piece, so that a line never splits when actions log on two threads at once.
void LogActionStart(const wchar_t* actionName) { LogActionName(actionName); }

void LogTextLine(std::wstring_view first, std::wstring_view second) {
  CustomActionLog() << CUnicodeString(first) + second + L"\r\n";
}

// ---- Paths ----

CUnicodeString PathFolderPart(const CUnicodeString& path) {
  const size_t separator = LastSeparator(path);
  return separator == std::wstring_view::npos ? path.Left(DriveLength(path)) : path.Left(separator + 1);
}

CUnicodeString PathNamePart(const CUnicodeString& path) {
  const size_t separator = LastSeparator(path);
  return separator == std::wstring_view::npos ? path.Mid(DriveLength(path)) : path.Mid(separator + 1);
}

CUnicodeString PathFolderWithoutDrive(const CUnicodeString& path) {
  return PathFolderPart(path).Mid(DriveLength(path));
}

std::vector<CUnicodeString> SplitList(const CUnicodeString& list, wchar_t separator) {
  std::vector<CUnicodeString> pieces;
  size_t start = 0;
  while (start <= list.Length()) {
    size_t end = list.Find(separator, start);
    if (end == CUnicodeString::npos) end = list.Length();
    if (end > start) pieces.push_back(list.Mid(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// ---- Searching ----

std::vector<CDirectoryEntry> SearchFolder(const CUnicodeString& folder, const CUnicodeString& pattern) {
  std::vector<CDirectoryEntry> entries = Vrn::ListDirectory(folder, pattern, Vrn::ListAll);
  std::erase_if(entries, [](const CDirectoryEntry& entry) { return BeginsWithDot(entry.name); });
  return entries;
}

std::optional<CDirectoryEntry> FindEntry(const CUnicodeString& path) {
  const CUnicodeString trimmed = Vrn::WithoutTrailingSeparators(path);
  const CUnicodeString name = PathNamePart(trimmed);
  if (name.IsEmpty() || HasWildcard(name)) return std::nullopt;
  std::vector<CDirectoryEntry> found = Vrn::ListDirectory(PathFolderPart(trimmed), name, Vrn::ListAll);
  if (found.empty()) return std::nullopt;
  found.front().fullPath = path;
  return found.front();
}

bool IsLinkedFolder(const CDirectoryEntry& entry) noexcept {
  return entry.IsDirectory() && (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// ---- Guards ----

void CheckRemovableTree(const CUnicodeString& folder) {
  static const std::vector<CUnicodeString> protectedFolders = ProtectedFolders();
  bool removable = !folder.Trimmed().IsEmpty();
  if (removable) {
    // A path of separators only ("\\\\") has no full form, and its listing is the drive's root.
    const CUnicodeString full = NormalisedFullPath(folder);
    removable = !full.IsEmpty() && !IsRoot(full) &&
                std::none_of(protectedFolders.begin(), protectedFolders.end(),
                             [&](const CUnicodeString& guarded) { return full.EqualsNoCase(guarded); });
  }
  if (!removable) {
    LogTextLine(L"Refused to remove the folder tree: ", folder);
    Vrn::RaiseInternalError();
  }
}

// ---- Removal ----

void RemoveFolderTree(const CUnicodeString& folder) {
  CheckRemovableTree(folder);
  const std::optional<CDirectoryEntry> entry = FindEntry(folder);
  Vrn::RemoveFolder(folder, !(entry && IsLinkedFolder(*entry)));
}

CRemovalRun::CRemovalRun(MSIHANDLE session, bool ask) {
  if (ask) messages.emplace(session);
}

bool RemoveEntry(const CDirectoryEntry& entry, CRemovalRun& run) {
  const bool folder = entry.IsDirectory();
  while (!run.aborted) {
    LogTextLine(L"Remove: ", entry.fullPath);
    ClearReadOnly(entry.fullPath);
    const std::optional<CUnicodeString> failure =
        folder ? FailureOf([&] { Vrn::RemoveFolder(entry.fullPath); }) : DeleteFileTwice(entry.fullPath);
    if (!failure) return false;
    LogCannotRemove(entry.fullPath, *failure);
    if (folder || !run.messages) return false;
    CUnicodeString text = *failure;
    switch (ShowProductMessageBox(*run.messages, text, MB_ABORTRETRYIGNORE | MB_ICONERROR)) {
      case IDABORT:
        run.aborted = true;
        return true;
      case IDRETRY:
        continue;
      case IDIGNORE:
        return true;
      default:
        Vrn::RaiseInternalError();
    }
  }
  return false;
}

bool RemovePath(const CUnicodeString& path, const std::vector<CUnicodeString>& exclusions, CRemovalRun& run) {
  if (!IsExcluded(PathNamePart(path), exclusions) && Vrn::DirectoryExists(path)) CheckRemovableTree(path);
  return RemovePathChecked(path, exclusions, run);
}

bool DeleteTree(const CUnicodeString& folder, bool clearReadOnly, const CUnicodeString& exceptionName) {
  CheckRemovableTree(folder);
  return DeleteTreeChecked(folder, clearReadOnly, exceptionName);
}

void RemoveEntryTree(const CDirectoryEntry& entry) {
  if (BeginsWithDot(entry.name)) return;
  if (!entry.IsDirectory()) {
    if (!Vrn::FileExists(entry.fullPath)) return;
    ClearReadOnly(entry.fullPath);
    Vrn::RemoveFile(entry.fullPath);
    return;
  }
  if (IsLinkedFolder(entry)) {
    Vrn::RemoveFolder(entry.fullPath);
    return;
  }
  CheckRemovableTree(entry.fullPath);
  if (Vrn::ListDirectory(entry.fullPath, L"*", Vrn::ListAll).empty()) {
    LogTextLine(L"DelDir");
    Vrn::RemoveFolder(entry.fullPath);
    LogTextLine(L"DelDir 2");
    return;
  }
  for (const CDirectoryEntry& inner : Vrn::ListDirectory(entry.fullPath, L"*", Vrn::ListAll)) RemoveEntryTree(inner);
  // Entries named with a leading "." were left, and keep the folder.
  if (Vrn::ListDirectory(entry.fullPath, L"*", Vrn::ListAll).empty()) {
    LogTextLine(L"DelTree");
    RemoveFolderTree(entry.fullPath);
    LogTextLine(L"DelTree 2");
  }
}

void RemoveEntryTrees(const std::vector<CDirectoryEntry>& entries) {
  for (const CDirectoryEntry& entry : entries)
    if (entry.IsDirectory() && !IsLinkedFolder(entry) && !BeginsWithDot(entry.name)) CheckRemovableTree(entry.fullPath);
  for (const CDirectoryEntry& entry : entries) RemoveEntryTree(entry);
}

// ---- Copies ----

void CopyEntry(const Vrn::CWriteRoot& root, const CDirectoryEntry& entry, const CUnicodeString& destinationFolder) {
  CopyEntryInto(root, entry, destinationFolder, false);
}

void CopyEntryKeepFolders(const Vrn::CWriteRoot& root, const CDirectoryEntry& entry,
                          const CUnicodeString& destinationFolder) {
  CopyEntryInto(root, entry, destinationFolder, true);
}

void CopyFileReplacing(const Vrn::CWriteRoot& root, const CUnicodeString& source, const CUnicodeString& destination) {
  Vrn::CheckLength(source, Vrn::kPathLimit);
  const bool existed = Vrn::FileExists(destination);
  std::optional<DWORD> refused = TryCopy(root, source, destination);
  // Windows refuses to copy over a read-only or hidden file.
  if (refused && Vrn::FileExists(destination) && !FileErrorOf([&] { root.ClearAttributes(destination); }))
    refused = TryCopy(root, source, destination);
  if (!refused) return;
  // No half-written file where there was none.
  if (!existed) ::DeleteFileW(destination.c_str());
  Vrn::Raise<Vrn::CFileException>(*refused, Vrn::FileExists(source) ? destination : source);
}

void ClearReadOnly(const CUnicodeString& path) {
  const DWORD attributes = ::GetFileAttributesW(Vrn::Checked(path, Vrn::kPathLimit));
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
  constexpr DWORD kSettable = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
  const DWORD kept = attributes & kSettable;
  // A failure shows in the removal or copy that follows.
  ::SetFileAttributesW(path.c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL);
}

CFileCopyOverride::CFileCopyOverride(FileCopyCall call) : m_previous(g_fileCopy.exchange(call)) {}

CFileCopyOverride::~CFileCopyOverride() { g_fileCopy.store(m_previous); }

}  // namespace Msi
