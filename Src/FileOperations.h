// Removing and copying files and folder trees for the actions: entries found by a folder search,
// removal that asks the user what to do with a file it cannot delete, tree removal that never leaves
// the tree it was given (a linked folder is removed as a link, never entered) and never starts on a
// drive root or a system folder, copies that replace what they find, and path splitting.
#pragma once

#include <optional>
#include <vector>

#include "Files.h"
#include "InstallHelper.h"
#include "WriteRoot.h"

namespace Msi {

// ---- Log ----

// The action's name and an empty line, first thing in every file action.
void LogActionStart(const wchar_t* actionName);
// The two texts and a line end.
void LogTextLine(std::wstring_view first, std::wstring_view second = {});

// ---- Paths ----

// Drive and folder of a path with the trailing separator kept ("C:\a\b.txt" -> "C:\a\"), by the
// rules of _wsplitpath_s.
CUnicodeString PathFolderPart(const CUnicodeString& path);
// Name and extension ("C:\a\b.txt" -> "b.txt").
CUnicodeString PathNamePart(const CUnicodeString& path);
// The folder part without its drive ("C:\a\b.txt" -> "\a\").
CUnicodeString PathFolderWithoutDrive(const CUnicodeString& path);
// Pieces of a list separated by `separator`, empty pieces dropped.
std::vector<CUnicodeString> SplitList(const CUnicodeString& list, wchar_t separator);

// ---- Searching ----

// Files and folders of `folder` matching the wildcard pattern, hidden ones included, without the
// entries whose name begins with "." (sorted by path; a missing folder gives none).
std::vector<Vrn::CDirectoryEntry> SearchFolder(const CUnicodeString& folder, const CUnicodeString& pattern);
// The entry for one existing path (its name is the last component), or nothing.
std::optional<Vrn::CDirectoryEntry> FindEntry(const CUnicodeString& path);
// A junction or symbolic link to a folder (also a link Wine shows for a Unix one).
bool IsLinkedFolder(const Vrn::CDirectoryEntry& entry) noexcept;

// ---- Guards ----

// Raises the internal error, before anything is removed, unless `folder` may be removed with
// everything in it: it must not be empty, a drive or share root, nor the Windows, system or Program
// Files folder itself (compared as full paths, without regard to case).
void CheckRemovableTree(const CUnicodeString& folder);

// ---- Removal ----

// Removes a folder with everything in it after it passed CheckRemovableTree; a linked folder loses
// only its link. Failures raise.
void RemoveFolderTree(const CUnicodeString& folder);

// The question state of one removal run: the installer session for the Abort/Retry/Ignore box,
// whether to ask at all, and whether the user chose Abort.
struct CRemovalRun {
  CRemovalRun(MSIHANDLE session, bool ask);
  std::optional<CMessageContext> messages;  // present when asking
  bool aborted = false;
};

// Removes one file or one empty folder (a linked folder: the link). Logs "Remove: " and the path,
// clears read-only, and deletes a file a second time when the first deletion raised. On failure logs
// "Cannot remove: " with the path and with the failure text; for a file, when asking, shows the text
// with Abort/Retry/Ignore: Abort sets run.aborted, Retry repeats, Ignore gives up; any other answer
// is an internal error. Returns true when the entry stayed because of Abort or Ignore.
bool RemoveEntry(const Vrn::CDirectoryEntry& entry, CRemovalRun& run);
// Removes a file, a wildcard pattern (its folder resolved on the current drive) or a folder with
// all it holds, keeping every entry whose name is one of the exclusions (case-sensitive) and the
// folders above it. Returns true when anything stayed locked. A folder to be removed whole must pass
// CheckRemovableTree (all matches of a pattern are checked before the first removal).
bool RemovePath(const CUnicodeString& path, const std::vector<CUnicodeString>& exclusions, CRemovalRun& run);
// Deletes the folder's files and sub-folders and then the folder, clearing read-only when asked,
// keeping sub-folders whose path ends with the non-empty exception name and a folder named so itself.
// Failures are logged ("Cannot remove: ", "delDir ERROR: "). Returns true when this folder's files
// or the folder itself could not be removed. The folder must pass CheckRemovableTree.
bool DeleteTree(const CUnicodeString& folder, bool clearReadOnly, const CUnicodeString& exceptionName);
// Removes a search result of `folder`: a file (read-only cleared), or a folder with all it holds
// except entries named with a leading "." (logs "DelDir"/"DelDir 2" for an empty folder, else
// "DelTree"/"DelTree 2"). Failures raise. Names beginning with "." are left alone.
void RemoveEntryTree(const Vrn::CDirectoryEntry& entry);
// RemoveEntryTree for every entry, after every folder among them passed CheckRemovableTree.
void RemoveEntryTrees(const std::vector<Vrn::CDirectoryEntry>& entries);

// ---- Copies ----
// Every copy writes below a root (Vrn::CWriteRoot): no link on the way is followed, and nothing is
// removed or written through one.

// Copies an entry (a search result) into destinationFolder (at or below the root) under its own
// name, first deleting an existing file or removing an existing folder tree; a folder's entries
// follow one by one. Names beginning with "." are skipped. Failures raise.
void CopyEntry(const Vrn::CWriteRoot& root, const Vrn::CDirectoryEntry& entry, const CUnicodeString& destinationFolder);
// As CopyEntry, but an existing file is deleted after its read-only bit is cleared, and an existing
// folder stays and is merged into.
void CopyEntryKeepFolders(const Vrn::CWriteRoot& root, const Vrn::CDirectoryEntry& entry,
                          const CUnicodeString& destinationFolder);
// Copies a file over `destination` below the root. When the copy is refused and the destination
// exists, its attributes are reset and the copy is tried once more. A failed copy raises
// CFileException naming the source and leaves no destination file behind where there was none.
void CopyFileReplacing(const Vrn::CWriteRoot& root, const CUnicodeString& source, const CUnicodeString& destination);
// Clears the read-only bit of an existing entry (nothing for a missing one).
void ClearReadOnly(const CUnicodeString& path);

// The copy call behind CopyFileReplacing (CWriteRoot::CopyInto); it raises CFileException when the
// copy is refused. Tests replace it, for example to refuse a read-only destination as Windows does
// (root under Wine writes through read-only).
using FileCopyCall = void (*)(const Vrn::CWriteRoot& root, const CUnicodeString& source,
                              const CUnicodeString& destination);
class CFileCopyOverride {
 public:
  explicit CFileCopyOverride(FileCopyCall call);
  ~CFileCopyOverride();
  CFileCopyOverride(const CFileCopyOverride&) = delete;
  CFileCopyOverride& operator=(const CFileCopyOverride&) = delete;

 private:
  FileCopyCall m_previous;
};

}  // namespace Msi
