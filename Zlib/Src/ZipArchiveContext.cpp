// Bounded reads and text decoding for one open archive.
#include "ZipArchiveContext.h"

#include <string_view>

namespace Zlib {

CZipArchiveContext::CZipArchiveContext(std::unique_ptr<CArchiveInput> input, unsigned nameCodePage)
    : m_input(std::move(input)), m_nameCodePage(nameCodePage) {}

std::unique_ptr<CZipArchiveContext> CZipArchiveContext::Reopen() const {
  std::unique_ptr<CArchiveInput> input = m_input->Reopen();
  if (!input) return nullptr;
  return std::make_unique<CZipArchiveContext>(std::move(input), m_nameCodePage);
}

void CZipArchiveContext::Read(uint64_t offset, void* buffer, size_t size, const wchar_t* what) {
  if (offset > Size() || size > Size() - offset) Corrupt(what);
  m_input->ReadAt(offset, buffer, size);
}

CBytes CZipArchiveContext::ReadRecord(uint64_t offset, size_t size, const wchar_t* what) {
  m_record.resize(size);
  Read(offset, m_record.data(), size, what);
  return CBytes(m_record.data(), size);
}

Vrn::CUnicodeString CZipArchiveContext::DecodeText(CBytes raw, bool utf8Flag,
                                                   std::optional<CBytes> unicodeField) const {
  if (unicodeField) {
    if (const auto text = UnicodeFieldText(*unicodeField, raw)) return Vrn::CUnicodeString::FromUtf8(*text);
  }
  const std::string_view bytes(reinterpret_cast<const char*>(raw.data()), raw.size());
  return utf8Flag ? Vrn::CUnicodeString::FromUtf8(bytes) : Vrn::CUnicodeString::FromCodePage(bytes, m_nameCodePage);
}

}  // namespace Zlib
