// A plain (non-Zip64) zip writer for tests and benchmarks: stored or deflated entries, streamed in
// pieces into a file, each local header patched once its sizes are known, so memory stays small
// whatever the archive's size.
//
//   TestSupport::CArchiveWriter writer(path);
//   writer.Add("docs/", TestSupport::kStored, "");
//   writer.Add("docs/guide.txt", TestSupport::kDeflated, text);
//   writer.Finish();
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

#include "Files.h"

namespace TestSupport {

constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;

class CArchiveWriter {
 public:
  explicit CArchiveWriter(const Vrn::CUnicodeString& path) : m_file(path, Vrn::CFile::OpenMode::CreateAlways) {}

  // produce(piece) fills piece with the next bytes and returns false after the last piece. With
  // badCrc the headers carry a CRC-32 that the data does not have.
  template <class Produce>
  void AddPieces(const std::string& name, uint16_t method, Produce produce, bool badCrc = false) {
    const uint64_t offset = m_file.Position();
    m_file.Write(Header(name, method, 0, 0, 0).data(), kLocalSize + name.size());
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string piece, packed(kPiece + 1024, '\0');
    uint64_t size = 0, packedSize = 0;
    uint32_t crc = 0;
    for (bool more = true; more;) {
      piece.clear();
      more = produce(piece);
      size += piece.size();
      crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), piece.size()));
      if (method == kStored) {
        m_file.Write(piece.data(), piece.size());
        packedSize += piece.size();
        continue;
      }
      stream.next_in = reinterpret_cast<Bytef*>(piece.data());
      stream.avail_in = static_cast<uInt>(piece.size());
      do {
        stream.next_out = reinterpret_cast<Bytef*>(packed.data());
        stream.avail_out = static_cast<uInt>(packed.size());
        deflate(&stream, more ? Z_NO_FLUSH : Z_FINISH);
        const size_t produced = packed.size() - stream.avail_out;
        m_file.Write(packed.data(), produced);
        packedSize += produced;
      } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    if (badCrc) crc ^= 1;
    const uint64_t end = m_file.Position();
    m_file.Seek(offset);
    m_file.Write(Header(name, method, crc, packedSize, size).data(), kLocalSize);
    m_file.Seek(end);
    Put(m_directory, 0x02014B50, 4);
    Put(m_directory, 20, 2);
    m_directory += Header(name, method, crc, packedSize, size).substr(4, kLocalSize - 4);
    Put(m_directory, 0, 2 + 2 + 2 + 4);  // comment length, disk, internal and external attributes
    Put(m_directory, offset, 4);
    m_directory += name;
    ++m_count;
  }

  // An entry with the whole content at once ("name/" with no content is a folder entry).
  void Add(const std::string& name, uint16_t method, const std::string& content, bool badCrc = false) {
    AddPieces(
        name, method,
        [&](std::string& piece) {
          piece = content;
          return false;
        },
        badCrc);
  }

  // Writes the directory and the end record; returns the archive's size.
  uint64_t Finish() {
    const uint64_t offset = m_file.Position();
    m_file.Write(m_directory.data(), m_directory.size());
    std::string end;
    Put(end, 0x06054B50, 4);
    Put(end, 0, 4);
    Put(end, m_count, 2);
    Put(end, m_count, 2);
    Put(end, m_directory.size(), 4);
    Put(end, offset, 4);
    Put(end, 0, 2);
    m_file.Write(end.data(), end.size());
    const uint64_t size = m_file.Position();
    m_file.Close();
    return size;
  }

  static constexpr size_t kPiece = 1 << 20;

 private:
  static constexpr size_t kLocalSize = 30;

  static void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  }

  // The local header with the name; its bytes 4..30 are also the middle of the central header.
  static std::string Header(const std::string& name, uint16_t method, uint32_t crc, uint64_t packed, uint64_t size) {
    std::string header;
    Put(header, 0x04034B50, 4);
    Put(header, 20, 2);
    Put(header, 0, 2);
    Put(header, method, 2);
    Put(header, 0, 2);
    Put(header, (40 << 9) | (6 << 5) | 15, 2);
    Put(header, crc, 4);
    Put(header, packed, 4);
    Put(header, size, 4);
    Put(header, name.size(), 2);
    Put(header, 0, 2);
    return header + name;
  }

  Vrn::CFile m_file;
  std::string m_directory;
  uint64_t m_count = 0;
};

}  // namespace TestSupport
