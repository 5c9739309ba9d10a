// Zlib::CZipArchiveException: every refusal of the zip reader, with its reason code, the archive
// and the entry it concerns, and the zlib stream errors raised beside it.
#pragma once

#include "Errors.h"
#include "UnicodeString.h"

namespace Zlib {

class CZipArchiveException : public Vrn::CException {
 public:
  // The reason codes; their values are part of the interface.
  enum Code : int {
    Corrupted = 0,
    ExtractionFailed = 1,
    CompressionFailed = 2,
    DeletionFailed = 3,
    FileNotFound = 4,
    CompressionUnsupported = 5,
    EncryptionUnsupported = 6,
    IllegalPath = 7,
  };

  // detail is a diagnostic text for logs and tests ("Offset is not set"); it is not shown to users.
  CZipArchiveException(Code code, Vrn::CUnicodeString archiveName, Vrn::CUnicodeString entryName,
                       Vrn::CUnicodeString detail = {});

  // The named message of the code ("ERR_ZLIB_ZIPARCHIVE_CORRUPTED" ...) with the entry name as %0
  // (no parameter for Corrupted); an English text when no message module defines the name.
  void GetMessageText(Vrn::CUnicodeString& text) const override;

  Code GetCode() const noexcept { return m_code; }
  const Vrn::CUnicodeString& ArchiveName() const noexcept { return m_archiveName; }
  const Vrn::CUnicodeString& EntryName() const noexcept { return m_entryName; }
  const Vrn::CUnicodeString& Detail() const noexcept { return m_detail; }

  // The message name of a code.
  static const wchar_t* ErrorName(Code code) noexcept;

 private:
  Code m_code;
  Vrn::CUnicodeString m_archiveName;
  Vrn::CUnicodeString m_entryName;
  Vrn::CUnicodeString m_detail;
};

// Raises CZipArchiveException.
[[noreturn]] void RaiseZipError(CZipArchiveException::Code code, const Vrn::CUnicodeString& archiveName,
                                const Vrn::CUnicodeString& entryName = {}, const Vrn::CUnicodeString& detail = {});

// The decoder errors, raised as Vrn::CCheckException with the entry name as %0.
inline constexpr wchar_t kZlibInitFailed[] = L"ERR_ZLIB_INIT_FAILED";
inline constexpr wchar_t kZlibStreamCorrupted[] = L"ERR_ZLIB_STREAM_CORRUPTED";
[[noreturn]] void RaiseZlibInitFailed(const Vrn::CUnicodeString& entryName);
[[noreturn]] void RaiseZlibStreamCorrupted(const Vrn::CUnicodeString& entryName);

}  // namespace Zlib
