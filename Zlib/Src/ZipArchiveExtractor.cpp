// Extraction of single entries: stored copy and raw inflate through 256 KiB buffers.
#include "ZipArchiveExtractor.h"

#include <zlib.h>

#include <algorithm>

#include "Errors.h"

namespace Zlib {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// Hosts of "version made by" whose external attributes hold a Unix mode in the high 16 bits.
constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostMacOsX = 19;
constexpr uint32_t kUnixOwnerWrite = 0200;
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Owns a raw inflate stream (no zlib header, 32 KiB window).
class CInflateStream {
 public:
  explicit CInflateStream(const Vrn::CUnicodeString& entryName) {
    if (::inflateInit2(&m_stream, -MAX_WBITS) != Z_OK) RaiseZlibInitFailed(entryName);
  }
  ~CInflateStream() { ::inflateEnd(&m_stream); }
  CInflateStream(const CInflateStream&) = delete;
  CInflateStream& operator=(const CInflateStream&) = delete;
  z_stream& Get() noexcept { return m_stream; }

 private:
  z_stream m_stream{};
};

}  // namespace

FILETIME EntryFileTime(uint16_t dosDate, uint16_t dosTime) {
  FILETIME local{}, utc{};
  if (::DosDateTimeToFileTime(dosDate, dosTime, &local) && ::LocalFileTimeToFileTime(&local, &utc)) return utc;
  ::GetSystemTimeAsFileTime(&utc);
  return utc;
}

DWORD EntryFileAttributes(uint16_t versionMadeBy, uint32_t externalAttributes) {
  DWORD attributes = externalAttributes & kKeptAttributes;
  const uint8_t host = static_cast<uint8_t>(versionMadeBy >> 8);
  const uint32_t mode = externalAttributes >> 16;
  if ((host == kHostUnix || host == kHostMacOsX) && mode != 0 && (mode & kUnixOwnerWrite) == 0)
    attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

CZipArchiveExtractor::CZipArchiveExtractor(CZipArchiveContext& context)
    : m_context(context), m_input(kTransferBufferSize), m_output(kTransferBufferSize) {}

uint64_t CZipArchiveExtractor::LocateData(const CZipEntry& entry) {
  CRecordReader header(m_context.ReadRecord(entry.localHeaderOffset, kLocalHeaderSize, L"Local header"));
  if (header.U32() != kLocalHeaderSignature) m_context.Corrupt(L"Local header signature is wrong", entry.name);
  header.Bytes(22);  // version, flags, method, time, date, CRC-32 and sizes: the central header's count
  const uint64_t variableLength = uint64_t{header.U16()} + header.U16();
  // CheckExtents guarantees room for the fixed header before dataLimit.
  const uint64_t room = entry.dataLimit - entry.localHeaderOffset - kLocalHeaderSize;
  if (variableLength > room || entry.compressedSize > room - variableLength)
    m_context.Corrupt(L"Entry data overlaps the next entry or the central directory", entry.name);
  return entry.localHeaderOffset + kLocalHeaderSize + variableLength;
}

uint32_t CZipArchiveExtractor::CopyStored(const CZipEntry& entry, uint64_t dataOffset, Vrn::CFile& file) {
  uint32_t crc = 0;
  for (uint64_t done = 0; done < entry.compressedSize;) {
    const auto count = static_cast<size_t>(std::min<uint64_t>(m_input.Size(), entry.compressedSize - done));
    m_context.Read(dataOffset + done, m_input.Data(), count, L"Entry data");
    file.Write(m_input.Data(), count);
    crc = Crc32(crc, CBytes(m_input.Data(), count));
    done += count;
  }
  return crc;
}

uint32_t CZipArchiveExtractor::Inflate(const CZipEntry& entry, uint64_t dataOffset, Vrn::CFile& file) {
  CInflateStream inflater(entry.name);
  z_stream& stream = inflater.Get();
  uint64_t consumed = 0;
  uint64_t produced = 0;
  uint32_t crc = 0;
  for (;;) {
    if (stream.avail_in == 0 && consumed < entry.compressedSize) {
      const auto count = static_cast<size_t>(std::min<uint64_t>(m_input.Size(), entry.compressedSize - consumed));
      m_context.Read(dataOffset + consumed, m_input.Data(), count, L"Entry data");
      consumed += count;
      stream.next_in = m_input.Data();
      stream.avail_in = static_cast<uInt>(count);
    }
    stream.next_out = m_output.Data();
    stream.avail_out = static_cast<uInt>(m_output.Size());
    const int result = ::inflate(&stream, Z_NO_FLUSH);
    const size_t count = m_output.Size() - stream.avail_out;
    // The declared size bounds what is written, so a stream that expands beyond it stops here.
    if (count > entry.uncompressedSize - produced)
      m_context.Fail(CZipArchiveException::ExtractionFailed, entry.name, L"More data than the declared size");
    file.Write(m_output.Data(), count);
    crc = Crc32(crc, CBytes(m_output.Data(), count));
    produced += count;

    if (result == Z_STREAM_END) break;
    if (result == Z_MEM_ERROR) Vrn::Raise<Vrn::CMemoryException>();
    if (result != Z_OK && result != Z_BUF_ERROR) RaiseZlibStreamCorrupted(entry.name);
    if (stream.avail_in == 0 && consumed == entry.compressedSize && count < m_output.Size())
      m_context.Fail(CZipArchiveException::ExtractionFailed, entry.name, L"Compressed data ends inside the stream");
  }
  if (produced != entry.uncompressedSize)
    m_context.Fail(CZipArchiveException::ExtractionFailed, entry.name, L"Less data than the declared size");
  return crc;
}

void CZipArchiveExtractor::SetTimeAndAttributes(const CZipEntry& entry, Vrn::CFile& file) {
  // Time and attributes in one call on the open handle: a path-based attribute call would resolve
  // the path once more for every entry. Zero times are left as they are.
  FILE_BASIC_INFO info{};
  const FILETIME time = EntryFileTime(entry.dosDate, entry.dosTime);
  info.LastWriteTime.LowPart = time.dwLowDateTime;
  info.LastWriteTime.HighPart = static_cast<LONG>(time.dwHighDateTime);
  info.FileAttributes = EntryFileAttributes(entry.versionMadeBy, entry.externalAttributes);
  if (!::SetFileInformationByHandle(file.Handle(), FileBasicInfo, &info, sizeof info)) Vrn::RaiseFileError(file.Path());
  file.Close();
}

uint64_t CZipArchiveExtractor::Prepare(const CZipEntry& entry) {
  if (entry.flags & kFlagsEncrypted) m_context.Fail(CZipArchiveException::EncryptionUnsupported, entry.name, {});
  if (entry.method != kMethodStored && entry.method != kMethodDeflated)
    m_context.Fail(CZipArchiveException::CompressionUnsupported, entry.name, {});
  if (entry.method == kMethodStored && entry.compressedSize != entry.uncompressedSize)
    m_context.Fail(CZipArchiveException::ExtractionFailed, entry.name, L"Stored entry with two different sizes");
  return LocateData(entry);
}

void CZipArchiveExtractor::Write(const CZipEntry& entry, uint64_t dataOffset, const Vrn::CWriteRoot& root,
                                 const Vrn::CUnicodeString& targetPath) {
  Vrn::CFile file = root.OpenFile(targetPath, Vrn::CFile::OpenMode::CreateAlways);
  uint32_t crc = 0;
  if (entry.uncompressedSize != 0)
    crc = entry.method == kMethodStored ? CopyStored(entry, dataOffset, file) : Inflate(entry, dataOffset, file);
  if (crc != entry.crc32) m_context.Fail(CZipArchiveException::ExtractionFailed, entry.name, L"CRC-32 mismatch");
  SetTimeAndAttributes(entry, file);
}

void CZipArchiveExtractor::Extract(const CZipEntry& entry, const Vrn::CWriteRoot& root,
                                   const Vrn::CUnicodeString& targetPath) {
  if (entry.IsFolder()) {
    root.CreateFolder(targetPath);
    return;
  }
  Write(entry, Prepare(entry), root, targetPath);
}

}  // namespace Zlib
