// Path operations shared by the validation actions: the kind of a path text, the universal (UNC)
// name behind a mapped path, DFS resolution, the host of a UNC path, whether a path lies on this
// computer, and the test that a folder can be written. None of them logs.
#pragma once

#include <optional>
#include <string_view>

#include "MsiHelper.h"

namespace Msi {

enum class PathType {
  Unc,            // "\\server\share", "//server/share": two separators first
  Rooted,         // "\folder": one leading separator
  DriveAbsolute,  // "C:\folder"
  DriveRelative,  // "C:" or "C:folder"
  Relative,       // anything else, the empty text included
};

// The kind of a path text; "/" counts as a backslash.
PathType PathKind(std::wstring_view path);

// The universal name of a path on a mapped network drive (WNetGetUniversalNameW at the remote-name
// level, then once more through the ANSI function); nothing for a UNC path or when both fail. A
// buffer that is still too small after growing to the size asked for is an internal error; a path
// longer than a path may be raises ERR_VALUE_TOO_LONG (TextLimits.h), as for ResolveDfsPath.
std::optional<CUnicodeString> GetUniversalName(const CUnicodeString& path);

// The real share behind a DFS path: the first online storage of the longest prefix that DFS knows,
// as "\\server\share" followed by the rest of the path. Nothing for a path that is not UNC, when
// no prefix is a DFS link, or when the system has no DFS lookup.
std::optional<CUnicodeString> ResolveDfsPath(const CUnicodeString& path);

// The host of a UNC path: the text after the two leading separators up to the first "\", "/" or
// "."; empty for any other path.
CUnicodeString HostPartOfUncPath(std::wstring_view path);

// True when the path is not a network path, or when its host (after universal-name and DFS
// resolution) is this computer's NetBIOS name, compared without regard to ASCII letter case.
bool IsPathOnThisComputer(const CUnicodeString& path);

// IsPathOnThisComputer for the folder the package runs from (the source path of TARGETDIR).
bool IsSourceOnThisComputer(MSIHANDLE session);

// Creates a temporary file ("Test*.tmp") in an existing folder and deletes it at once; raises the
// core library's error when either fails.
void TestFolderWritable(const CUnicodeString& folder);

}  // namespace Msi
