// The export directory of a module image, read from its bytes with every offset checked.
#include "PeImage.h"

#include <cstdint>

namespace Vrn {

namespace {

// Offsets of the PE format that the reader needs.
constexpr size_t kNewHeaderOffsetField = 0x3C;  // e_lfanew in the DOS header
constexpr size_t kFileHeaderSize = 20;          // the COFF header after "PE\0\0"
constexpr size_t kSectionHeaderSize = 40;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr size_t kExportDirectorySize = 40;
// Longer names are not ours; the bound keeps a name without its terminating zero from running on.
constexpr size_t kLongestName = 1024;

class CImageReader {
 public:
  explicit CImageReader(std::span<const unsigned char> image) : m_image(image) {}

  std::optional<uint32_t> U32(size_t offset) const {
    if (offset > m_image.size() || m_image.size() - offset < 4) return std::nullopt;
    return uint32_t{m_image[offset]} | uint32_t{m_image[offset + 1]} << 8 | uint32_t{m_image[offset + 2]} << 16 |
           uint32_t{m_image[offset + 3]} << 24;
  }
  std::optional<uint16_t> U16(size_t offset) const {
    if (offset > m_image.size() || m_image.size() - offset < 2) return std::nullopt;
    return static_cast<uint16_t>(m_image[offset] | m_image[offset + 1] << 8);
  }

  // Reads the headers and the section table; false when they are not those of a PE image.
  bool ReadHeaders() {
    if (m_image.size() < 2 || m_image[0] != 'M' || m_image[1] != 'Z') return false;
    const std::optional<uint32_t> peOffset = U32(kNewHeaderOffsetField);
    if (!peOffset || U32(*peOffset) != 0x00004550u) return false;  // "PE\0\0"
    const size_t fileHeader = size_t{*peOffset} + 4;
    const std::optional<uint16_t> sectionCount = U16(fileHeader + 2);
    const std::optional<uint16_t> optionalSize = U16(fileHeader + 16);
    if (!sectionCount || !optionalSize) return false;
    const size_t optionalHeader = fileHeader + kFileHeaderSize;
    const std::optional<uint16_t> magic = U16(optionalHeader);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) return false;
    // The data directories follow the fixed part, whose size depends on the format.
    const size_t countField = optionalHeader + (magic == kMagicPe32Plus ? 108 : 92);
    const std::optional<uint32_t> directoryCount = U32(countField);
    if (!directoryCount || *directoryCount < 1 || countField + 4 + 8 > optionalHeader + *optionalSize) return false;
    m_exportRva = U32(countField + 4).value_or(0);
    m_exportSize = U32(countField + 8).value_or(0);
    m_sections = optionalHeader + *optionalSize;
    m_sectionCount = *sectionCount;
    return m_sections + size_t{m_sectionCount} * kSectionHeaderSize <= m_image.size();
  }

  // The file offset of `length` bytes at a relative virtual address, when they lie within one
  // section's data in the file.
  std::optional<size_t> Offset(uint32_t rva, size_t length) const {
    for (size_t i = 0; i < m_sectionCount; ++i) {
      const size_t header = m_sections + i * kSectionHeaderSize;
      const uint32_t address = *U32(header + 12);
      const uint32_t rawSize = *U32(header + 16);
      const uint32_t rawOffset = *U32(header + 20);
      if (rva < address || rva - address >= rawSize || rawSize - (rva - address) < length) continue;
      const size_t offset = size_t{rawOffset} + (rva - address);
      if (offset > m_image.size() || m_image.size() - offset < length) return std::nullopt;
      return offset;
    }
    return std::nullopt;
  }

  // The zero-terminated name at a relative virtual address.
  std::optional<std::string> Name(uint32_t rva) const {
    std::string name;
    for (uint32_t at = rva; name.size() <= kLongestName; ++at) {
      const std::optional<size_t> offset = Offset(at, 1);
      if (!offset) return std::nullopt;
      if (m_image[*offset] == 0) return name;
      name += static_cast<char>(m_image[*offset]);
    }
    return std::nullopt;
  }

  uint32_t ExportRva() const { return m_exportRva; }
  uint32_t ExportSize() const { return m_exportSize; }

 private:
  std::span<const unsigned char> m_image;
  uint32_t m_exportRva = 0;
  uint32_t m_exportSize = 0;
  size_t m_sections = 0;
  size_t m_sectionCount = 0;
};

}  // namespace

std::optional<CImageExports> ReadImageExports(std::span<const unsigned char> image) {
  CImageReader reader(image);
  if (!reader.ReadHeaders() || reader.ExportRva() == 0 || reader.ExportSize() < kExportDirectorySize)
    return std::nullopt;
  const std::optional<size_t> directory = reader.Offset(reader.ExportRva(), kExportDirectorySize);
  if (!directory) return std::nullopt;
  const uint32_t nameCount = *reader.U32(*directory + 24);
  const uint32_t namesRva = *reader.U32(*directory + 32);
  std::optional<std::string> moduleName = reader.Name(*reader.U32(*directory + 12));
  // The table of name addresses must lie in the file, which bounds the count by the image's size.
  const std::optional<size_t> nameTable = reader.Offset(namesRva, size_t{nameCount} * 4);
  if (!moduleName || !nameTable) return std::nullopt;
  CImageExports exports{*moduleName, {}};
  exports.names.reserve(nameCount);
  for (uint32_t i = 0; i < nameCount; ++i) {
    std::optional<std::string> name = reader.Name(*reader.U32(*nameTable + size_t{i} * 4));
    if (!name) return std::nullopt;
    exports.names.push_back(std::move(*name));
  }
  return exports;
}

}  // namespace Vrn
