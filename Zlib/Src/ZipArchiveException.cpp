// The zip reader's exception and its English fallback texts.
#include "ZipArchiveException.h"

#include <utility>

#include "Messages.h"

namespace Zlib {
namespace {

struct CCodeText {
  const wchar_t* name;
  const wchar_t* fallback;  // same numbered parameters as the named message
};

constexpr CCodeText kCodeTexts[] = {
    {L"ERR_ZLIB_ZIPARCHIVE_CORRUPTED", L"The zip archive is corrupted."},
    {L"ERR_ZLIB_ZIPARCHIVE_EXTRACTION_FAILED", L"%0 could not be extracted from the zip archive."},
    {L"ERR_ZLIB_ZIPARCHIVE_COMPRESSION_FAILED", L"%0 could not be added to the zip archive."},
    {L"ERR_ZLIB_ZIPARCHIVE_DELETION_FAILED", L"%0 could not be deleted from the zip archive."},
    {L"ERR_ZLIB_ZIPARCHIVE_FILE_NOT_FOUND", L"%0 was not found in the zip archive."},
    {L"ERR_ZLIB_ZIPARCHIVE_COMPRESSION_UNSUPPORTED", L"%0 is compressed with a method that is not supported."},
    {L"ERR_ZLIB_ZIPARCHIVE_ENCRYPTION_UNSUPPORTED", L"%0 is encrypted; encrypted entries are not supported."},
    {L"ERR_ZLIB_ZIPARCHIVE_ILLEGAL_PATH", L"%0 is not an allowed path in a zip archive."},
};

const CCodeText& TextOf(CZipArchiveException::Code code) noexcept {
  const auto index = static_cast<size_t>(code);
  return index < std::size(kCodeTexts) ? kCodeTexts[index] : kCodeTexts[CZipArchiveException::Corrupted];
}

}  // namespace

CZipArchiveException::CZipArchiveException(Code code, Vrn::CUnicodeString archiveName, Vrn::CUnicodeString entryName,
                                           Vrn::CUnicodeString detail)
    : m_code(code),
      m_archiveName(std::move(archiveName)),
      m_entryName(std::move(entryName)),
      m_detail(std::move(detail)) {}

const wchar_t* CZipArchiveException::ErrorName(Code code) noexcept { return TextOf(code).name; }

void CZipArchiveException::GetMessageText(Vrn::CUnicodeString& text) const {
  const CCodeText& entry = TextOf(m_code);
  if (m_code == Corrupted)
    text = Vrn::FormatMessageText(entry.name, entry.fallback, {});
  else
    text = Vrn::FormatMessageText(entry.name, entry.fallback, {m_entryName});
}

void RaiseZipError(CZipArchiveException::Code code, const Vrn::CUnicodeString& archiveName,
                   const Vrn::CUnicodeString& entryName, const Vrn::CUnicodeString& detail) {
  Vrn::Raise<CZipArchiveException>(code, archiveName, entryName, detail);
}

void RaiseZlibInitFailed(const Vrn::CUnicodeString& entryName) {
  Vrn::Raise<Vrn::CCheckException>(kZlibInitFailed, L"The decompressor for %0 could not be initialised.",
                                   std::initializer_list<Vrn::CUnicodeString>{entryName});
}

void RaiseZlibStreamCorrupted(const Vrn::CUnicodeString& entryName) {
  Vrn::Raise<Vrn::CCheckException>(kZlibStreamCorrupted, L"The compressed data of %0 is corrupted.",
                                   std::initializer_list<Vrn::CUnicodeString>{entryName});
}

}  // namespace Zlib
