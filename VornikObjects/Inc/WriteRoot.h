// Vrn::CWriteRoot: writing below a folder that other users may change.
//
// Deferred actions run as the system account, and a standard user can create entries in the
// temporary folder, in an installation folder the package lets users write to, and in the folders
// made there. A link (a junction or a symbolic link) planted below such a folder would turn the
// library's write into a write on a file of that user's choosing. So every file and folder that the
// library makes below a folder it was given goes through this guard:
//   - no reparse point between the root and the entry (checked before anything is made);
//   - a final reparse point is never followed: the file is opened as itself and refused;
//   - the opened handle's final path (its volume and its path there, as the file system resolved
//     every link) lies below the root's, which also catches a link planted between the check and
//     the open.
// The root itself is the caller's choice and may be a link.
//
//   const Vrn::CWriteRoot root(destination);
//   root.CreateFolder(Vrn::JoinPath(destination, L"docs"));
//   Vrn::CFile file = root.OpenFile(Vrn::JoinPath(destination, L"docs\\guide.txt"),
//   Vrn::CFile::OpenMode::CreateAlways);
//
// A refusal raises CCheckException "ERR_LINK_BELOW_ROOT" (%0 the path, %1 the link, %2 the root) or
// "ERR_PATH_LEAVES_ROOT" (%0 the path, %1 where it leads, %2 the root). The object is immutable after
// construction, so threads may share it.
#pragma once

#include <string_view>

#include "Files.h"

namespace Vrn {

// Where an open file or folder really is: its volume's serial number and its path on that volume.
struct CFinalName {
  DWORD volume = 0;
  CUnicodeString name;
};

class CWriteRoot {
 public:
  // Makes the root (with its parents) when missing and notes where it really is. Raises CFileException.
  explicit CWriteRoot(const CUnicodeString& root);

  // The root's absolute path, without a trailing separator (but "C:\" for a drive root).
  const CUnicodeString& Path() const noexcept { return m_path; }

  // Refuses a path that does not lie below the root, or that has a reparse point between the root and
  // its last step (the last step too when includeLast). Missing steps are fine: nothing is below them.
  void CheckNoLinks(const CUnicodeString& path, bool includeLast) const;

  // Creates folder and its missing parents below the root.
  void CreateFolder(const CUnicodeString& folder) const;

  // Opens a file below the root as CreateFileW with these arguments would (CREATE_NEW, CREATE_ALWAYS,
  // OPEN_EXISTING or OPEN_ALWAYS), never following a final reparse point and only where the handle's
  // final path lies below the root; CREATE_ALWAYS truncates an existing file only after those
  // checks. A file this call created and then refused is removed again. A failed open raises
  // CFileException, or with openError gives an invalid handle and the Windows error there (for
  // callers that try several names); a refusal always raises.
  CFileHandle OpenHandle(const CUnicodeString& path, DWORD access, DWORD share, DWORD disposition,
                         DWORD* openError = nullptr) const;
  // The same as a CFile opened in mode (Read is for reading, not below any root: use CFile).
  CFile OpenFile(const CUnicodeString& path, CFile::OpenMode mode) const;
  // Creates or replaces the file with the bytes.
  void WriteBytes(const CUnicodeString& path, std::string_view bytes) const;
  // Copies the source file over destination (below the root) as CopyFileW would: the bytes, the
  // last write time and the attributes.
  void CopyInto(const CUnicodeString& source, const CUnicodeString& destination) const;
  // Sets an existing file's attributes to FILE_ATTRIBUTE_NORMAL through the same checks.
  void ClearAttributes(const CUnicodeString& path) const;

 private:
  // Refuses a handle that is a reparse point or whose final path does not lie below the root.
  void CheckFinalPath(HANDLE handle, const CUnicodeString& path) const;

  CUnicodeString m_path;
  CUnicodeString m_prefix;  // m_path with a trailing separator
  CFinalName m_final;       // where the root really is, its name with a trailing separator
};

}  // namespace Vrn
