// Checks of the public properties the product's setup launcher passed on its command line.
#pragma once

#include <vector>

#include "UnicodeString.h"

namespace Msi {

// Replaces the sixteen Cyrillic letters that look like Latin ones by those Latin letters.
Vrn::CUnicodeString FoldCyrillicLookAlikes(Vrn::CUnicodeString text);

// The property names a command line assigns: the last blank-separated word before each "=" (an
// empty text when only blanks stand there). Each word looked at is logged as "GetCMDLINE left=".
std::vector<Vrn::CUnicodeString> AssignedPropertyNames(const Vrn::CUnicodeString& commandLine);

}  // namespace Msi
