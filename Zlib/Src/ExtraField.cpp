// Extra fields of zip headers.
#include "ExtraField.h"

#include <zlib.h>

#include <limits>

namespace Zlib {

CBytes CRecordReader::Bytes(size_t count) noexcept {
  if (count > Remaining()) {
    m_overrun = true;
    m_position = m_bytes.size();
    return {};
  }
  const CBytes result = m_bytes.subspan(m_position, count);
  m_position += count;
  return result;
}

uint64_t CRecordReader::Take(size_t count) noexcept {
  const CBytes bytes = Bytes(count);
  uint64_t value = 0;
  for (size_t i = bytes.size(); i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

namespace {
constexpr size_t kFieldHeaderSize = 4;
}

CExtraFields::CExtraFields(CBytes block) noexcept : m_block(block) {
  CRecordReader reader(block);
  while (reader.Remaining() >= kFieldHeaderSize) {
    reader.U16();
    const uint16_t size = reader.U16();
    if (size > reader.Remaining()) {
      m_valid = false;
      return;
    }
    reader.Bytes(size);
  }
}

std::optional<CBytes> CExtraFields::Find(uint16_t id) const noexcept {
  if (!m_valid) return std::nullopt;
  CRecordReader reader(m_block);
  while (reader.Remaining() >= kFieldHeaderSize) {
    const uint16_t fieldId = reader.U16();
    const CBytes data = reader.Bytes(reader.U16());
    if (fieldId == id) return data;
  }
  return std::nullopt;
}

CZip64Values ReadZip64Field(CBytes data, bool needUncompressed, bool needCompressed, bool needOffset) noexcept {
  // The writer of this library always stores the three values; other writers store only the
  // marked ones. Both read the same when all three are marked.
  constexpr size_t kAllThreeSize = 24;
  const bool all = data.size() >= kAllThreeSize;
  CRecordReader reader(data);
  CZip64Values values;
  const auto take = [&](bool needed, std::optional<uint64_t>& slot) {
    if (!needed && !all) return;
    if (reader.Remaining() < sizeof(uint64_t)) return;
    const uint64_t value = reader.U64();
    if (needed) slot = value;
  };
  take(needUncompressed, values.uncompressedSize);
  take(needCompressed, values.compressedSize);
  take(needOffset, values.localHeaderOffset);
  return values;
}

std::optional<std::string_view> UnicodeFieldText(CBytes data, CBytes rawText) noexcept {
  constexpr uint8_t kSupportedVersion = 1;
  CRecordReader reader(data);
  if (reader.Remaining() < 5 || reader.U8() != kSupportedVersion) return std::nullopt;
  if (reader.U32() != Crc32(0, rawText)) return std::nullopt;
  const CBytes text = reader.Bytes(reader.Remaining());
  return std::string_view(reinterpret_cast<const char*>(text.data()), text.size());
}

uint32_t Crc32(uint32_t crc, CBytes bytes) noexcept {
  // zlib takes uInt lengths; feed large spans in pieces.
  constexpr size_t kPiece = std::numeric_limits<uInt>::max();
  while (!bytes.empty()) {
    const size_t n = std::min(bytes.size(), kPiece);
    crc = static_cast<uint32_t>(::crc32(crc, bytes.data(), static_cast<uInt>(n)));
    bytes = bytes.subspan(n);
  }
  return crc;
}

}  // namespace Zlib
