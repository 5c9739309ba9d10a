// Reading the end records and the central directory.
#include "ZipArchiveContents.h"

#include <algorithm>
#include <numeric>

#include "ZipPath.h"

namespace Zlib {
namespace {

constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;

constexpr size_t kEndRecordSize = 22;
constexpr size_t kEndRecordCommentLengthAt = 20;
constexpr size_t kZip64LocatorSize = 20;
// Signature and record size (which counts only what follows them), then 44 bytes of fixed fields.
constexpr size_t kZip64EndRecordSize = 56;
constexpr uint64_t kZip64EndRecordPrefix = 12;
constexpr uint64_t kZip64EndRecordFixedPart = 44;
constexpr size_t kCentralHeaderSize = 46;
// The end record is searched backwards in blocks of this size, down to the start of the file.
constexpr size_t kSearchBlockSize = 512;

// The announced count is only trusted this far when reserving room; beyond it the vector grows
// with the headers actually read.
constexpr uint64_t kReserveLimit = 0x10000;

constexpr uint32_t kNotSet32 = 0xFFFFFFFF;
// Without a Zip64 end record a size or offset taken from a Zip64 field must stay below this.
constexpr uint64_t kLargestWithoutZip64 = 0x7FFFFFFF;

struct CDirectoryLocation {
  uint64_t entries = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
  // The directory must end before this: the end record, or the Zip64 end record when there is one.
  uint64_t end = 0;
  bool zip64 = false;
};

// Returns the offset of the end record: the last signature in the file that leaves room for the
// record and its comment.
uint64_t FindEndRecord(CZipArchiveContext& context) {
  const uint64_t size = context.Size();
  if (size < sizeof(uint32_t)) context.Corrupt(L"The archive is too short");
  // On the stack: taking pages from the system for every archive opened cost more than the search.
  uint8_t block[kSearchBlockSize];
  uint32_t window = 0;
  uint64_t blockEnd = size;
  while (blockEnd > 0) {
    const uint64_t blockStart = (blockEnd - 1) / kSearchBlockSize * kSearchBlockSize;
    const auto length = static_cast<size_t>(blockEnd - blockStart);
    context.Read(blockStart, block, length, L"End record search");
    for (size_t i = length; i > 0; --i) {
      window = (window << 8) | block[i - 1];
      if (window != kEndRecordSignature) continue;
      const uint64_t position = blockStart + i - 1;
      if (size - position < kEndRecordSize) continue;
      uint8_t record[kEndRecordSize];
      context.Read(position, record, sizeof record, L"End record");
      const uint16_t commentLength = CRecordReader(CBytes(record).subspan(kEndRecordCommentLengthAt)).U16();
      if (size - position - kEndRecordSize >= commentLength) return position;
      // A signature inside the comment of the real record or in entry data: keep searching.
    }
    blockEnd = blockStart;
  }
  context.Corrupt(L"End of central directory not found");
}

// Replaces the location by the Zip64 end record's when a valid locator points to one.
void ReadZip64EndRecord(CZipArchiveContext& context, uint64_t endRecord, CDirectoryLocation& location) {
  // Nearer the start there is no room for both the locator and the record before the end record.
  if (endRecord < kZip64LocatorSize + kZip64EndRecordSize) return;
  const uint64_t locatorOffset = endRecord - kZip64LocatorSize;
  CRecordReader locator(context.ReadRecord(locatorOffset, kZip64LocatorSize, L"Zip64 locator"));
  if (locator.U32() != kZip64LocatorSignature) return;
  locator.U32();  // disk with the Zip64 record
  const uint64_t recordOffset = locator.U64();
  if (recordOffset > locatorOffset - kZip64EndRecordSize) return;
  CRecordReader record(context.ReadRecord(recordOffset, kZip64EndRecordSize, L"Zip64 end record"));
  if (record.U32() != kZip64EndRecordSignature) return;
  const uint64_t recordSize = record.U64();
  if (recordSize < kZip64EndRecordFixedPart || recordSize > locatorOffset - recordOffset - kZip64EndRecordPrefix)
    context.Corrupt(L"Zip64 end record size is wrong");
  record.U16();  // version made by
  record.U16();  // version needed
  const uint32_t disk = record.U32();
  const uint32_t directoryDisk = record.U32();
  const uint64_t entriesOnDisk = record.U64();
  location.entries = record.U64();
  location.size = record.U64();
  location.offset = record.U64();
  location.end = recordOffset;
  location.zip64 = true;
  if (disk != 0 || directoryDisk != 0 || entriesOnDisk != location.entries)
    context.Corrupt(L"Archives split over several disks are not supported");
}

CDirectoryLocation LocateDirectory(CZipArchiveContext& context) {
  const uint64_t endRecord = FindEndRecord(context);
  CRecordReader record(context.ReadRecord(endRecord, kEndRecordSize, L"End record"));
  record.U32();
  const uint16_t disk = record.U16();
  const uint16_t directoryDisk = record.U16();
  const uint16_t entriesOnDisk = record.U16();
  CDirectoryLocation location;
  location.entries = record.U16();
  location.size = record.U32();
  location.offset = record.U32();
  location.end = endRecord;
  ReadZip64EndRecord(context, endRecord, location);
  if (!location.zip64 && (disk != 0 || directoryDisk != 0 || entriesOnDisk != location.entries))
    context.Corrupt(L"Archives split over several disks are not supported");

  if (location.offset > location.end || location.size > location.end - location.offset)
    context.Corrupt(L"Central directory lies outside the archive");
  if (location.entries > location.size / kCentralHeaderSize)
    context.Corrupt(L"More entries announced than the central directory can hold");
  return location;
}

// A size or offset of a central header: the 32-bit value, or the Zip64 field's when it is 0xFFFFFFFF.
uint64_t Resolve(CZipArchiveContext& context, const Vrn::CUnicodeString& entryName, uint32_t value,
                 const std::optional<uint64_t>& zip64Value, bool archiveZip64, const wchar_t* notSet,
                 const wchar_t* tooLarge) {
  if (value != kNotSet32) return value;
  if (!zip64Value) context.Corrupt(notSet, entryName);
  if (!archiveZip64 && *zip64Value >= kLargestWithoutZip64) context.Corrupt(tooLarge, entryName);
  return *zip64Value;
}

// Reads one central header at offset (which must lie inside the directory ending at end) and
// returns its total length.
uint64_t ReadCentralHeader(CZipArchiveContext& context, uint64_t offset, uint64_t end, bool archiveZip64,
                           CZipEntry& entry) {
  CRecordReader header(context.ReadRecord(offset, kCentralHeaderSize, L"Central directory header"));
  header.U32();
  entry.versionMadeBy = header.U16();
  entry.versionNeeded = header.U16();
  entry.flags = header.U16();
  entry.method = header.U16();
  entry.dosTime = header.U16();
  entry.dosDate = header.U16();
  entry.crc32 = header.U32();
  const uint32_t compressed = header.U32();
  const uint32_t uncompressed = header.U32();
  const uint16_t nameLength = header.U16();
  const uint16_t extraLength = header.U16();
  const uint16_t commentLength = header.U16();
  entry.diskStart = header.U16();
  entry.internalAttributes = header.U16();
  entry.externalAttributes = header.U32();
  const uint32_t localOffset = header.U32();

  const uint64_t variableLength = uint64_t{nameLength} + extraLength + commentLength;
  if (variableLength > end - offset - kCentralHeaderSize) context.Corrupt(L"Central header runs past the directory");
  CRecordReader variable(context.ReadRecord(offset + kCentralHeaderSize, variableLength, L"Central header"));
  const CBytes rawName = variable.Bytes(nameLength);
  const CExtraFields extra(variable.Bytes(extraLength));
  const CBytes rawComment = variable.Bytes(commentLength);
  if (!extra.Valid()) context.Corrupt(L"Extra field longer than its header");

  const bool utf8 = (entry.flags & kFlagUtf8) != 0;
  const Vrn::CUnicodeString rawText = context.DecodeText(rawName, utf8, extra.Find(kUnicodePathField));
  entry.name = NormalizeEntryPath(rawText, context.ArchiveName());
  entry.comment = context.DecodeText(rawComment, utf8, extra.Find(kUnicodeCommentField));

  const CZip64Values zip64 = ReadZip64Field(extra.Find(kZip64ExtraField).value_or(CBytes()), uncompressed == kNotSet32,
                                            compressed == kNotSet32, localOffset == kNotSet32);
  entry.compressedSize = Resolve(context, entry.name, compressed, zip64.compressedSize, archiveZip64,
                                 L"Compressed size is not set", L"Compressed size is large and zip64 is not used");
  entry.uncompressedSize =
      Resolve(context, entry.name, uncompressed, zip64.uncompressedSize, archiveZip64, L"Uncompressed size is not set",
              L"Uncompressed size is large and zip64 is not used");
  entry.localHeaderOffset = Resolve(context, entry.name, localOffset, zip64.localHeaderOffset, archiveZip64,
                                    L"Offset is not set", L"Offset is large and zip64 is not used");
  return kCentralHeaderSize + variableLength;
}

// Local headers and their data lie before the directory and never overlap: sorted by offset,
// each entry's smallest possible extent ends before the next one starts. Sets each dataLimit.
void CheckExtents(CZipArchiveContext& context, std::vector<CZipEntry>& entries, uint64_t directoryOffset) {
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return entries[a].localHeaderOffset < entries[b].localHeaderOffset; });
  for (size_t i = 0; i < order.size(); ++i) {
    CZipEntry& entry = entries[order[i]];
    entry.dataLimit = i + 1 < order.size() ? entries[order[i + 1]].localHeaderOffset : directoryOffset;
    if (entry.localHeaderOffset > entry.dataLimit || entry.dataLimit - entry.localHeaderOffset < kLocalHeaderSize ||
        entry.compressedSize > entry.dataLimit - entry.localHeaderOffset - kLocalHeaderSize)
      context.Corrupt(L"Entry overlaps the next entry or the central directory", entry.name);
  }
}

}  // namespace

void CZipArchiveContents::Clear() noexcept {
  m_index.clear();
  m_entries.clear();
  m_zip64 = false;
}

void CZipArchiveContents::Read(CZipArchiveContext& context) {
  Clear();
  try {
    const CDirectoryLocation location = LocateDirectory(context);
    m_zip64 = location.zip64;
    if (location.entries == 0) return;

    m_entries.reserve(static_cast<size_t>(std::min(location.entries, kReserveLimit)));
    const uint64_t end = location.offset + location.size;
    uint64_t offset = location.offset;
    uint8_t signature[4];
    while (end - offset >= kCentralHeaderSize) {
      context.Read(offset, signature, sizeof signature, L"Central directory header");
      if (CRecordReader(signature).U32() != kCentralHeaderSignature) break;
      CZipEntry entry;
      offset += ReadCentralHeader(context, offset, end, m_zip64, entry);
      m_entries.push_back(std::move(entry));
    }
    if (m_entries.size() != location.entries)
      context.Corrupt(L"Central directory header count differs from the end record");
    CheckExtents(context, m_entries, location.offset);

    m_index.reserve(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) m_index.try_emplace(m_entries[i].name.View(), i);
  } catch (...) {
    Clear();
    throw;
  }
}

const CZipEntry* CZipArchiveContents::Find(std::wstring_view name) const noexcept {
  const auto found = m_index.find(name);
  return found == m_index.end() ? nullptr : &m_entries[found->second];
}

}  // namespace Zlib
