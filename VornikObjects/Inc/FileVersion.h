// The fixed version of a file's version resource (GetFileVersionInfoW / VerQueryValueW "\").
#pragma once

#include <cstdint>
#include <optional>

#include "UnicodeString.h"

namespace Vrn {

// The four 16-bit parts of a file version.
struct CFileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
  uint16_t revision = 0;

  // "major.minor.build.revision" in decimal.
  CUnicodeString ToString() const;
};

// The file's fixed file version, or nothing when the file has no readable version resource (a
// missing file included). Never raises for a file that cannot be read.
std::optional<CFileVersion> QueryFileVersion(const CUnicodeString& path);

}  // namespace Vrn
