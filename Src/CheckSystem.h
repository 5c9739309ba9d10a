// Machine probes: the version comparison they share.
#pragma once

#include "FileVersion.h"
#include "UnicodeString.h"

namespace Msi {

// Compares two dotted versions on their first three numbers: 2 when left is greater, 0 when equal,
// -1 when left is smaller, -2 when either cannot be read (a missing or non-numeric first or second
// number, a third number that is given but not a number). A missing third number counts as 0 and
// anything after the third number is ignored.
int CompareVersions(const Vrn::CUnicodeString& left, const Vrn::CUnicodeString& right);

// True for the comparison results that let a check pass (left at least right).
inline bool VersionAtLeast(int comparison) noexcept { return comparison == 0 || comparison == 2; }

// The C runtime is recent enough from 14.0.23918 on, or from 14.1 on whatever the build.
bool RuntimeVersionIsSupported(const Vrn::CFileVersion& version) noexcept;

}  // namespace Msi
