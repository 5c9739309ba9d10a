// The .NET Framework probes: the runtime's system directory through the runtime loader, and the
// framework setup key.
#pragma once

#include <optional>

#include "UnicodeString.h"

namespace Msi {

// The runtime loader's system-directory query: the directory, or nothing when no runtime answers.
using DotNetDirectoryQuery = std::optional<Vrn::CUnicodeString> (*)();

// The real query: loads "mscoree.dll", calls "GetCORSystemDirectory" with room for 262 characters
// (a negative result means not found) and frees the library again.
std::optional<Vrn::CUnicodeString> QueryDotNetDirectory();

// Replaces the query for its lifetime (Wine's loader has no runtime behind it).
class CDotNetDirectoryOverride {
 public:
  explicit CDotNetDirectoryOverride(DotNetDirectoryQuery replacement);
  ~CDotNetDirectoryOverride();
  CDotNetDirectoryOverride(const CDotNetDirectoryOverride&) = delete;
  CDotNetDirectoryOverride& operator=(const CDotNetDirectoryOverride&) = delete;

 private:
  DotNetDirectoryQuery m_previous;
};

// Asks the loader once and keeps the answer for the rest of the call.
class CDotNetDetector {
 public:
  const std::optional<Vrn::CUnicodeString>& SystemDirectory();

 private:
  std::optional<std::optional<Vrn::CUnicodeString>> m_directory;
};

}  // namespace Msi
