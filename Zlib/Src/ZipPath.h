// Entry paths: the one normalisation every entry name and every caller path goes through, and
// the mapping of a normalised path to a file-system path inside the destination folder.
#pragma once

#include <string_view>

#include "UnicodeString.h"

namespace Zlib {

// Returns the path with "\" turned into "/" and one leading "./" removed, or raises
// CZipArchiveException(IllegalPath, archiveName, path) when it could name anything outside a
// destination folder or anything that is not a plain file there: an empty result (unless
// allowEmpty), an absolute, rooted, drive or UNC path, a "." or ".." step, an empty step ("a//b"),
// a step ending in "." or " " (Windows drops those, so the name written would differ from the
// name checked), a character that Windows refuses in names or that selects a stream (":"),
// a control character, or a reserved device name (CON, NUL, COM1, ...). A trailing "/" (a
// folder) is kept.
Vrn::CUnicodeString NormalizeEntryPath(std::wstring_view path, const Vrn::CUnicodeString& archiveName,
                                       bool allowEmpty = false);

// destination joined with a normalised relative path ("/" becoming "\", a trailing "/" dropped).
// As a last guard it resolves both with GetFullPathNameW and raises IllegalPath for entryName
// unless the result lies strictly inside the destination.
Vrn::CUnicodeString TargetPath(const Vrn::CUnicodeString& destination, std::wstring_view relative,
                               const Vrn::CUnicodeString& archiveName, const Vrn::CUnicodeString& entryName);

}  // namespace Zlib
