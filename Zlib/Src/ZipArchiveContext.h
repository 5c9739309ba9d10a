// Zlib::CZipArchiveContext: the state shared by reading the directory and extracting entries:
// the archive input, the code page of names without a Unicode marking, and bounded reads that
// refuse any range outside the archive.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "CacheableFile.h"
#include "ExtraField.h"
#include "UnicodeString.h"
#include "ZipArchiveException.h"

namespace Zlib {

class CZipArchiveContext {
 public:
  CZipArchiveContext(std::unique_ptr<CArchiveInput> input, unsigned nameCodePage);

  // A context over a second reader of the same archive (for another thread), or null when the
  // input cannot be opened twice (an image in memory).
  std::unique_ptr<CZipArchiveContext> Reopen() const;

  const Vrn::CUnicodeString& ArchiveName() const noexcept { return m_input->Name(); }
  uint64_t Size() const noexcept { return m_input->Size(); }

  // Reads exactly size bytes at offset. A range outside the archive raises Corrupted with what
  // as detail, before anything is read.
  void Read(uint64_t offset, void* buffer, size_t size, const wchar_t* what);
  // Reads a whole record of size bytes into a reused buffer; the span is valid until the next call.
  CBytes ReadRecord(uint64_t offset, size_t size, const wchar_t* what);

  // The text of a name or comment: the Unicode field's text when it is valid for raw, else raw as
  // UTF-8 when the header's UTF-8 flag is set, else raw in the name code page.
  Vrn::CUnicodeString DecodeText(CBytes raw, bool utf8Flag, std::optional<CBytes> unicodeField) const;

  [[noreturn]] void Fail(CZipArchiveException::Code code, const Vrn::CUnicodeString& entryName,
                         const Vrn::CUnicodeString& detail) const {
    RaiseZipError(code, ArchiveName(), entryName, detail);
  }
  [[noreturn]] void Corrupt(const Vrn::CUnicodeString& detail, const Vrn::CUnicodeString& entryName = {}) const {
    Fail(CZipArchiveException::Corrupted, entryName, detail);
  }

 private:
  std::unique_ptr<CArchiveInput> m_input;
  unsigned m_nameCodePage;
  std::vector<uint8_t> m_record;
};

}  // namespace Zlib
