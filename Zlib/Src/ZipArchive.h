// Zlib::CZipArchive: a zip archive opened for reading: its entries, and extraction of one entry
// or of a folder of entries into a destination folder.
//
//   Zlib::CZipArchive archive;
//   archive.Open(L"C:\\setup\\data.zip");
//   archive.Extract(L"docs/", L"C:\\Program Files\\Product");  // every entry under docs/
//
// Nothing is ever written outside the destination folder: every entry name and every caller path
// is normalised and refused when it could leave it (see NormalizeEntryPath).
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "CacheableFile.h"
#include "UnicodeString.h"
#include "VrnWindows.h"
#include "ZipArchiveContents.h"
#include "ZipArchiveContext.h"

namespace Zlib {

class CZipArchive {
 public:
  CZipArchive() = default;
  ~CZipArchive() = default;
  CZipArchive(const CZipArchive&) = delete;
  CZipArchive& operator=(const CZipArchive&) = delete;

  // Opens the archive file and reads its directory. nameCodePage decodes names and comments that
  // carry neither the UTF-8 flag nor a valid Unicode field (the OEM code page, as the Windows
  // shell and most Windows zip tools write them). Raises Vrn::CFileException when the file cannot
  // be opened or read, CZipArchiveException (Corrupted, IllegalPath) for its contents; the archive
  // is closed on failure.
  void Open(const Vrn::CUnicodeString& path, unsigned nameCodePage = CP_OEMCP);
  // The same over any input (an archive image in memory, for example).
  void Open(std::unique_ptr<CArchiveInput> input, unsigned nameCodePage = CP_OEMCP);
  // Releases the file and the entries; closing a closed archive does nothing.
  void Close() noexcept;
  bool IsOpen() const noexcept { return m_context != nullptr; }

  // The entries in directory order (empty when closed).
  const std::vector<CZipEntry>& Entries() const noexcept { return m_contents.Entries(); }
  // The entry of that path after normalisation, or null; raises IllegalPath for a path that
  // cannot be an entry name.
  const CZipEntry* Find(const Vrn::CUnicodeString& path) const;
  bool IsZip64() const noexcept { return m_contents.IsZip64(); }

  // Extracts into destination (created when missing). entryPath is normalised first. Empty or
  // ending in "/": every entry under that folder prefix (letter case included; the empty prefix
  // takes all), in directory order, written below destination with the prefix removed; FileNotFound
  // (with the prefix) when no entry begins with it. Otherwise the entry of that name, written to
  // destination joined with its whole name; FileNotFound when there is none.
  // Raises what CZipArchiveExtractor::Extract raises; entries written before a failure stay.
  // A folder is extracted by up to four threads (as many as there are cores), each with its own
  // reader and buffers, all joined before the call returns; the outcome is exactly that of
  // extracting the entries in directory order on one thread: every target is checked before
  // anything is written, the first failing entry's error is raised, and the files and folders that
  // later entries made meanwhile are removed. Archives whose entries would write the same file
  // (letter case ignored) or a file where a folder is needed, and folders where a file an entry
  // writes is already present, are extracted on this thread alone.
  void Extract(const Vrn::CUnicodeString& entryPath, const Vrn::CUnicodeString& destination);

  // The number of threads a folder extraction may use from now on; 0 (the default) takes as many
  // as there are cores, up to four; 1 extracts on the calling thread alone.
  void SetExtractionThreads(unsigned threads) noexcept { m_extractionThreads = threads; }

 private:
  CZipArchiveContext& Context() const;

  std::unique_ptr<CZipArchiveContext> m_context;
  CZipArchiveContents m_contents;
  unsigned m_extractionThreads = 0;
};

}  // namespace Zlib
