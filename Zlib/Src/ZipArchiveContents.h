// Zlib::CZipArchiveContents: the entries of an archive's central directory, in directory order,
// with a map from name to entry; and the reading of the end records and the directory.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "UnicodeString.h"
#include "ZipArchiveContext.h"

namespace Zlib {

struct CZipEntry {
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t diskStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint64_t localHeaderOffset = 0;
  // Where the space of this entry ends: the next local header in the file, or the central
  // directory. Its header and data must fit before it.
  uint64_t dataLimit = 0;
  Vrn::CUnicodeString name;  // normalised, "/" as separator, a trailing "/" for folders
  Vrn::CUnicodeString comment;

  bool IsFolder() const noexcept { return name.EndsWith(L"/"); }
};

// The fixed part of a local header: every entry takes at least this much room before its data.
inline constexpr size_t kLocalHeaderSize = 30;

// Header flag bits.
inline constexpr uint16_t kFlagUtf8 = 0x0800;
// Traditional encryption (bit 0), strong encryption (bit 6), encrypted central directory (bit 13).
inline constexpr uint16_t kFlagsEncrypted = 0x2041;

class CZipArchiveContents {
 public:
  // Reads the archive's directory, replacing any entries held. Raises CZipArchiveException
  // (Corrupted, or IllegalPath for the first entry name that fails normalisation) and leaves the
  // contents empty on failure.
  void Read(CZipArchiveContext& context);
  void Clear() noexcept;

  const std::vector<CZipEntry>& Entries() const noexcept { return m_entries; }
  // The first entry of that (normalised) name, or null.
  const CZipEntry* Find(std::wstring_view name) const noexcept;
  // True when the directory was located through a Zip64 end record.
  bool IsZip64() const noexcept { return m_zip64; }

 private:
  std::vector<CZipEntry> m_entries;
  // Keys view the names held by m_entries, which never change after Read.
  std::unordered_map<std::wstring_view, size_t> m_index;
  bool m_zip64 = false;
};

}  // namespace Zlib
