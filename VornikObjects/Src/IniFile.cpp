// The ini reader: one pass over the decoded text into (section, key, value) entries.
#include "IniFile.h"

#include "Files.h"

namespace Vrn {

CIniFile::CIniFile(const CUnicodeString& path) {
  const CUnicodeString text = ReadTextFile(path);
  CUnicodeString section;
  bool inSection = false;
  size_t start = 0;
  while (start <= text.Length()) {
    size_t end = start;
    while (end < text.Length() && text[end] != L'\r' && text[end] != L'\n') ++end;
    const CUnicodeString line = text.Mid(start, end - start).Trimmed();
    start = end + 1;
    if (line.IsEmpty() || line[0] == L';' || line[0] == L'#') continue;
    if (line[0] == L'[') {
      const size_t close = line.Find(L']');
      inSection = close != CUnicodeString::npos;
      if (inSection) {
        section = line.Mid(1, close - 1).Trimmed();
        m_entries.push_back({section, {}, {}});
      }
      continue;
    }
    const size_t equals = line.Find(L'=');
    if (!inSection || equals == CUnicodeString::npos) continue;
    CUnicodeString key = line.Left(equals).Trimmed();
    if (!key.IsEmpty()) m_entries.push_back({section, key, line.Mid(equals + 1).Trimmed()});
  }
}

bool CIniFile::HasSection(const CUnicodeString& section) const {
  for (const CEntry& entry : m_entries)
    if (entry.key.IsEmpty() && entry.section.EqualsNoCase(section)) return true;
  return false;
}

std::optional<CUnicodeString> CIniFile::FindValue(const CUnicodeString& section, const CUnicodeString& key) const {
  for (const CEntry& entry : m_entries)
    if (!entry.key.IsEmpty() && entry.section.EqualsNoCase(section) && entry.key.EqualsNoCase(key)) return entry.value;
  return std::nullopt;
}

}  // namespace Vrn
