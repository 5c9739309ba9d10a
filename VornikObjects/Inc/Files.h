// Core file services: a file object whose failures are CFileException, directories, existence
// tests, listings, free space, temporary files, text files with byte-order marks and path joining.
// Every function that hands a path to the system first raises ERR_VALUE_TOO_LONG for a path longer
// than kPathLimit (TextLimits.h), also those that otherwise answer false or nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Handle.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Vrn {

class CFile {
 public:
  enum class OpenMode {
    Read,          // existing file, shared for reading
    ReadWrite,     // existing file
    CreateAlways,  // new or truncated, read and write
    OpenOrCreate,  // existing or new, read and write
    Append,        // existing or new, positioned at the end, write
  };

  CFile() = default;
  // Opens at once; failures raise CFileException naming the path.
  CFile(const CUnicodeString& path, OpenMode mode);
  // Takes a handle opened elsewhere (see CWriteRoot), named by path in failures.
  CFile(CFileHandle handle, const CUnicodeString& path) : m_handle(std::move(handle)), m_path(path) {}
  CFile(CFile&&) noexcept = default;
  CFile& operator=(CFile&&) noexcept = default;

  // Opening an open file is an internal error.
  void Open(const CUnicodeString& path, OpenMode mode);
  void Close() noexcept { m_handle.Reset(); }
  bool IsOpen() const noexcept { return m_handle.IsValid(); }
  const CUnicodeString& Path() const noexcept { return m_path; }
  HANDLE Handle() const noexcept { return m_handle.Get(); }

  // Reads up to size bytes; returns the count (0 at the end). Failures raise CFileException; using a
  // closed file is an internal error.
  size_t Read(void* buffer, size_t size);
  // Reads exactly size bytes or raises ERR_FILE_END_OF_FILE.
  void ReadExact(void* buffer, size_t size);
  void Write(const void* data, size_t size);
  uint64_t Size() const;
  uint64_t Position() const;
  void Seek(uint64_t position);
  void SetEnd();  // truncates at the current position
  void SetTimes(const FILETIME* creation, const FILETIME* access, const FILETIME* write);

 private:
  CFileHandle m_handle;
  CUnicodeString m_path;
};

// Whole-file helpers.
std::string ReadFileBytes(const CUnicodeString& path);
void WriteFileBytes(const CUnicodeString& path, std::string_view bytes);

// Existence through FindFirstFileW with the error mode 0x8001 (no critical-error boxes); wildcards
// in the last component match.
bool PathExists(const CUnicodeString& path);  // any entry, file or directory
bool FileExists(const CUnicodeString& path);  // an entry that is not a directory
// An attribute query under the same error mode, so that drive roots and trailing separators work;
// false for the empty path.
bool DirectoryExists(const CUnicodeString& path);
// Creates the folder and any missing parents; an existing folder is fine.
void CreateDirectoryWithParents(const CUnicodeString& path);
// Removes an empty folder (recursive: with everything in it).
void RemoveFolder(const CUnicodeString& path, bool recursive = false);
void RemoveFile(const CUnicodeString& path);

struct CDirectoryEntry {
  CUnicodeString name;
  CUnicodeString fullPath;
  DWORD attributes = 0;
  uint64_t size = 0;
  FILETIME writeTime{};
  bool IsDirectory() const noexcept { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};
// ListHidden admits hidden and system entries; ListRecursive also lists every subfolder (the pattern
// applies at each level; linked folders are not entered).
enum ListFlags : unsigned { ListFiles = 1, ListDirectories = 2, ListHidden = 4, ListAll = 7, ListRecursive = 8 };
// Entries of a folder matching a wildcard pattern ("." and ".." never), sorted by full path without
// regard to case, without duplicates. A missing folder gives an empty list.
std::vector<CDirectoryEntry> ListDirectory(const CUnicodeString& folder, const CUnicodeString& pattern = L"*",
                                           unsigned flags = ListFiles | ListDirectories);

// Bytes available to the caller on the disk holding path ("/" read as a backslash), in KiB, capped at
// kMaxFreeSpaceKiB; a failed query raises CLastErrorException.
inline constexpr uint32_t kMaxFreeSpaceKiB = 2147483647;
uint32_t FreeSpaceKiB(const CUnicodeString& path);
// The query behind FreeSpaceKiB (GetDiskFreeSpaceExW by default): true with the available bytes, or
// false with the last error set. Tests replace it to simulate small or huge disks; returns the old one.
using FreeSpaceQuery = bool (*)(const wchar_t* path, uint64_t& availableBytes);
FreeSpaceQuery SetFreeSpaceQuery(FreeSpaceQuery query);

// The library's temporary directory (with a trailing backslash): the "Temp" setting when it was
// set at start-up, else GetTempPathW.
CUnicodeString TemporaryDirectory();
void SetTemporaryDirectory(const CUnicodeString& folder);
// Removes the files CreateUniqueTempFile made (unless keep) and forgets them; called by the last stop.
void ShutdownTemporaryFiles(bool keep);
// Creates a new empty file named prefix + a unique part + extension in folder (the temporary
// directory when empty) and returns its path; the extension may be given with or without its dot.
// Raises ERR_CREATE_TEMP_FILE naming the folder on failure.
// The file is removed at the library's last stop unless the "KeepTempFiles" debug flag is on.
CUnicodeString CreateUniqueTempFile(const CUnicodeString& prefix, const CUnicodeString& extension,
                                    const CUnicodeString& folder = {});

// Text files: the code page comes from the byte-order mark (FF FE: 1200, FE FF: 1201,
// EF BB BF: 65001) or else from defaultCodePage; detectedCodePage receives it.
CUnicodeString ReadTextFile(const CUnicodeString& path, unsigned defaultCodePage = CP_ACP,
                            unsigned* detectedCodePage = nullptr);
// Creates the file anew in the code page, starting with that code page's mark (none for others).
void WriteTextFile(const CUnicodeString& path, const CUnicodeString& text, unsigned codePage);

// Joins two path parts with exactly one backslash between them (an empty first part gives the
// second unchanged).
CUnicodeString JoinPath(const CUnicodeString& first, const CUnicodeString& second);
// True for '\\' and '/'.
inline bool IsPathSeparator(wchar_t ch) noexcept { return ch == L'\\' || ch == L'/'; }
// Adds a trailing backslash when missing (an empty path stays empty).
CUnicodeString WithTrailingSeparator(const CUnicodeString& path);
// True when path lies below folder (given with its trailing separator), letter case ignored.
bool LiesBelow(const CUnicodeString& path, const CUnicodeString& folder);
// Drops trailing separators, but never the root's own ("C:\" stays).
CUnicodeString WithoutTrailingSeparators(const CUnicodeString& path);
// The absolute path (GetFullPathNameW: "." and ".." steps resolved, "/" turned into "\"); raises
// CFileException naming the path when it has none.
CUnicodeString FullPath(const CUnicodeString& path);

// ---- Configuration-file rewrites ----

// The code page named by the file's byte-order mark (1200, 1201 or 65001), or 0 when it has none
// (also for a file shorter than any mark). Failures to open or read raise CFileException.
unsigned ByteOrderMarkCodePage(const CUnicodeString& path);

// Creates a new empty folder named prefix + a unique part in parent (the temporary directory when
// empty) and returns its path without a trailing separator. Unlike CreateUniqueTempFile's files it
// is not removed at the last stop: its owner hands it on and removes it. Raises ERR_CREATE_TEMP_FILE.
CUnicodeString CreateUniqueTempFolder(const CUnicodeString& prefix, const CUnicodeString& parent = {});

// Replaces a file's content (or creates the file) with the bytes so that nothing is lost: they go to
// a new temporary file beside the target, are flushed, and the temporary file then replaces the
// target in one move (replace-existing, write-through). A failure at any step removes the temporary
// file, leaves the target byte for byte as it was and raises CFileException naming the target. A
// read-only target is refused with ERROR_ACCESS_DENIED (Windows refuses it; Wine running as root
// would not).
void ReplaceFileBytes(const CUnicodeString& path, std::string_view bytes);
// ReplaceFileBytes with the text in the code page, starting with that code page's mark (as
// WriteTextFile) when withMark is true.
void ReplaceTextFile(const CUnicodeString& path, const CUnicodeString& text, unsigned codePage, bool withMark = true);

// The steps of ReplaceFileBytes, in order.
enum class ReplaceStep { CreateTemporary, Write, Flush, Move };
// Test seam: called before each step of ReplaceFileBytes; a nonzero Windows error code makes that step
// fail with it (a full disk cannot be arranged under Wine). Null restores the default (never fails).
// Returns the previous hook.
using ReplaceFaultHook = DWORD (*)(ReplaceStep step);
ReplaceFaultHook SetReplaceFaultHook(ReplaceFaultHook hook);

}  // namespace Vrn

namespace Vrn {

// Takes a file CreateUniqueTempFile made off the files removed at the last stop: it stays for
// whoever looks at it afterwards. A path that is not on that list is ignored.
void KeepTemporaryFile(const CUnicodeString& path);

}  // namespace Vrn
