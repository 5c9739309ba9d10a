// The library's table of interface languages (the Orvant language id is the row index) and the
// translation from a Windows language id.
#pragma once

#include <cstdint>
#include <span>

#include "VrnWindows.h"

namespace Msi {

struct CLanguageRow {
  uint32_t codePage;  // the ANSI code page, 0 for languages without one
  uint16_t primaryLanguage;
  uint16_t subLanguage;
  const wchar_t* localeName;  // empty for an unused row

  // sublanguage * 1024 + primary language; 0 for an unused row.
  LCID Lcid() const noexcept { return static_cast<LCID>(subLanguage) << 10 | primaryLanguage; }
};

inline constexpr size_t kLanguageCount = 70;

// The 70 rows, indexed by Orvant language id.
std::span<const CLanguageRow, kLanguageCount> LanguageTable() noexcept;

// The Orvant language id of a Windows language id: the first row with the same primary language
// and sublanguage, else the first row with the same primary language and sublanguage 0 or 1, else -1.
int FindLanguageId(uint16_t windowsLanguage) noexcept;

// Whether the system can display the language (its locale is installed). An id outside the table
// is an internal error.
bool CanDisplayLanguage(int languageId);

}  // namespace Msi
