// Zlib::CZipArchiveExtractor: writes one entry of an open archive to a file: locates its data
// through the local header, copies or inflates it through fixed buffers, checks size and CRC-32,
// and sets the file's time and attributes.
#pragma once

#include <cstdint>

#include "Files.h"
#include "MemoryBuffer.h"
#include "WriteRoot.h"
#include "ZipArchiveContents.h"
#include "ZipArchiveContext.h"

namespace Zlib {

class CZipArchiveExtractor {
 public:
  // Takes the two transfer buffers for the extractor's lifetime; memory use does not depend on
  // the entries extracted.
  explicit CZipArchiveExtractor(CZipArchiveContext& context);

  // Writes entry to targetPath below root, whose parent folder must exist; a folder entry creates
  // the folder (with parents). Refusals before the file is created: EncryptionUnsupported,
  // CompressionUnsupported (methods other than stored and deflated), Corrupted (local header or
  // data outside the entry's room), ExtractionFailed (stored sizes differ). The file is made
  // through root (see Vrn::CWriteRoot: a link on the way is refused). After it is created:
  // ERR_ZLIB_STREAM_CORRUPTED, ExtractionFailed (data ends early, more or less output than
  // declared, CRC-32 mismatch) and file errors; the partly written file is then left in place.
  void Extract(const CZipEntry& entry, const Vrn::CWriteRoot& root, const Vrn::CUnicodeString& targetPath);

  // The two halves of Extract for a file entry: Prepare makes every refusal that comes before the
  // file is created and returns the offset of the entry's data; Write creates the file and fills it.
  uint64_t Prepare(const CZipEntry& entry);
  void Write(const CZipEntry& entry, uint64_t dataOffset, const Vrn::CWriteRoot& root,
             const Vrn::CUnicodeString& targetPath);

 private:
  // Offset of the entry's data, after checking its local header and room.
  uint64_t LocateData(const CZipEntry& entry);
  // Each returns the CRC-32 of the bytes written.
  uint32_t CopyStored(const CZipEntry& entry, uint64_t dataOffset, Vrn::CFile& file);
  uint32_t Inflate(const CZipEntry& entry, uint64_t dataOffset, Vrn::CFile& file);
  static void SetTimeAndAttributes(const CZipEntry& entry, Vrn::CFile& file);

  CZipArchiveContext& m_context;
  CMemoryBuffer m_input;
  CMemoryBuffer m_output;
};

// The file time an entry's DOS date and time give (local time converted to UTC), or the current
// system time when they do not form a valid date.
FILETIME EntryFileTime(uint16_t dosDate, uint16_t dosTime);
// The file attributes (read-only, hidden, system, archive) the entry's external attributes give;
// FILE_ATTRIBUTE_NORMAL when none.
DWORD EntryFileAttributes(uint16_t versionMadeBy, uint32_t externalAttributes);

}  // namespace Zlib
