// The message system: named messages looked up in registered message modules, with numbered
// parameters, and this library's own 32-message table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Vrn {

struct CMessageEntry {
  uint32_t id;
  const wchar_t* name;
  const wchar_t* text;
};

inline constexpr CMessageEntry kLibraryMessages[] = {
#define VRN_MESSAGE(id, name, text) {id, L## #name, text},
#include "MessageTable.inc"
#undef VRN_MESSAGE
};
inline constexpr uint32_t kLibraryMessageCount = 32;
static_assert(std::size(kLibraryMessages) == kLibraryMessageCount);
inline constexpr uint32_t kMessageSystemVersion = 200;

// The lookups behind the message-module exports: binary search over the names in ordinal order
// (0 for an unknown name); the name at an index (null past the end).
uint32_t LibraryMessageId(const wchar_t* name) noexcept;
const wchar_t* LibraryMessageName(uint32_t index) noexcept;
// This library's English text for one of its names, or an empty view.
std::wstring_view LibraryMessageText(std::wstring_view name) noexcept;

// Registers a module whose exports GetResourceID / NumberOfMessages / GetMessageName describe its
// string table; an already registered module moves to the end of the list.
void RegisterMessageModule(HMODULE module);
// Number of registered modules (for tests and diagnostics).
size_t MessageModuleCount();

// The text of a named message: from the most recently registered module that knows the name when
// the library is started, else the fallback; else this library's own English text; else a text
// that names the message.
CUnicodeString LookupMessage(std::wstring_view name, std::wstring_view fallback = {});

// Replaces %N (one or more digits) by params[N]; an index past the end becomes nothing; a "%" not
// followed by a digit is copied unchanged.
CUnicodeString SubstituteParams(std::wstring_view text, std::span<const CUnicodeString> params);

// LookupMessage + the optional parameter-count check + SubstituteParams.
CUnicodeString FormatMessageText(std::wstring_view name, std::wstring_view fallback,
                                 std::span<const CUnicodeString> params);
inline CUnicodeString FormatMessageText(std::wstring_view name, std::wstring_view fallback,
                                        std::initializer_list<CUnicodeString> params) {
  return FormatMessageText(name, fallback, std::span<const CUnicodeString>(params.begin(), params.size()));
}

}  // namespace Vrn
