// Lists inside property values whose items may be quoted: a separator between two double quotes
// does not split (the rule CustomActionData applies to ";").
#pragma once

#include <vector>

#include "UnicodeString.h"

namespace Msi {

// The items of `text` separated by `separator`. A separator that lies between the first double
// quote at or after an item's start and the next double quote belongs to the item, which then ends
// at the first separator after the closing quote; an unbalanced quote splits nothing specially.
// Quotes around a whole item are removed. An empty item (two separators in a row, or a leading
// one) is an internal error; a single trailing separator ends the list.
std::vector<Vrn::CUnicodeString> SplitQuotedList(const Vrn::CUnicodeString& text, wchar_t separator);

}  // namespace Msi
