// Little-endian record fields and the extra fields of zip headers: the block of (id, size, data)
// fields, the Zip64 extended information and the Info-ZIP Unicode path and comment fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace Zlib {

using CBytes = std::span<const uint8_t>;

// A cursor over bytes already in memory. Reading past the end yields zeros and marks the cursor
// as overrun; callers size their records first, so an overrun is a fault of the caller.
class CRecordReader {
 public:
  explicit CRecordReader(CBytes bytes) noexcept : m_bytes(bytes) {}
  uint8_t U8() noexcept { return static_cast<uint8_t>(Take(1)); }
  uint16_t U16() noexcept { return static_cast<uint16_t>(Take(2)); }
  uint32_t U32() noexcept { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() noexcept { return Take(8); }
  // The next count bytes (empty and overrun when fewer remain).
  CBytes Bytes(size_t count) noexcept;
  size_t Remaining() const noexcept { return m_bytes.size() - m_position; }
  bool Overrun() const noexcept { return m_overrun; }

 private:
  uint64_t Take(size_t count) noexcept;

  CBytes m_bytes;
  size_t m_position = 0;
  bool m_overrun = false;
};

enum ExtraFieldId : uint16_t {
  kZip64ExtraField = 0x0001,
  kUnicodePathField = 0x7075,
  kUnicodeCommentField = 0x6375,
};

// The extra-field block of one header. Construction checks that every field lies inside the
// block; Valid() is false when one claims more bytes than remain (a trailing fragment shorter
// than a field header is padding and ignored).
class CExtraFields {
 public:
  explicit CExtraFields(CBytes block) noexcept;
  bool Valid() const noexcept { return m_valid; }
  // The data of the first field with this id.
  std::optional<CBytes> Find(uint16_t id) const noexcept;

 private:
  CBytes m_block;
  bool m_valid = true;
};

// The values of a Zip64 extended information field that a header marked as "in the Zip64 field"
// (its 32-bit value was 0xFFFFFFFF). Absent when the field is too short to hold them.
struct CZip64Values {
  std::optional<uint64_t> uncompressedSize;
  std::optional<uint64_t> compressedSize;
  std::optional<uint64_t> localHeaderOffset;
};
// The field holds only the marked values, in the order uncompressed size, compressed size, local
// header offset; a field of 24 bytes or more holds all three in that order whether marked or not.
CZip64Values ReadZip64Field(CBytes data, bool needUncompressed, bool needCompressed, bool needOffset) noexcept;

// The UTF-8 text of a Unicode path or comment field when it has version 1 and its CRC-32 matches
// the raw text it replaces; otherwise nothing (the raw text stands).
std::optional<std::string_view> UnicodeFieldText(CBytes data, CBytes rawText) noexcept;

// CRC-32 of bytes (zlib's polynomial), continuing from crc.
uint32_t Crc32(uint32_t crc, CBytes bytes) noexcept;

}  // namespace Zlib
