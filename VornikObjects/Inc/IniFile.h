// A read-only ini file: "[section]" lines and "key=value" lines, read whole through the text-file
// reader (so ANSI, UTF-8 and UTF-16 files with their byte-order marks all read).
#pragma once

#include <optional>
#include <vector>

#include "UnicodeString.h"

namespace Vrn {

class CIniFile {
 public:
  // Reads the file; a file that cannot be read raises CFileException.
  explicit CIniFile(const CUnicodeString& path);

  // Sections and keys are found without regard to case; blanks around names and values are
  // trimmed. Lines before the first section, comment lines (";" or "#") and lines without "=" are
  // ignored; when a key repeats in a section, its first value counts.
  bool HasSection(const CUnicodeString& section) const;
  std::optional<CUnicodeString> FindValue(const CUnicodeString& section, const CUnicodeString& key) const;

 private:
  struct CEntry {
    CUnicodeString section;
    CUnicodeString key;  // empty for the line that opens a section
    CUnicodeString value;
  };
  std::vector<CEntry> m_entries;
};

}  // namespace Vrn
