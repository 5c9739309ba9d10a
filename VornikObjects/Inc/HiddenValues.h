// Hidden values: texts (passwords and the like) that must never reach a log file. Whoever learns
// one registers it; every log writer masks all registered values in the text it writes. The list
// is process-wide and only grows: a value once hidden stays hidden for the life of the process.
#pragma once

#include <cstddef>
#include <string>

#include "UnicodeString.h"

namespace Vrn {

// What a hidden value is written as, whatever its length.
inline constexpr wchar_t kHiddenValueMask[] = L"******";
// Shorter values are not searched for inside other texts (a hidden "1" would mask every digit one);
// code that knows a text is such a value writes the mask itself.
inline constexpr size_t kMinHiddenValueLength = 4;

// Registers the value, and also its form after a trip through the ANSI code page (the form in which
// the logs hold it). Thread-safe.
void HideValue(const CUnicodeString& value);

// Replaces every occurrence of every registered value in the text by kHiddenValueMask, longest
// values first. Thread-safe.
void MaskHiddenValues(std::wstring& text);
CUnicodeString MaskHiddenValues(const CUnicodeString& text);

}  // namespace Vrn
