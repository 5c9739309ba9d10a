// Zip extraction benchmark: generates mixed archives of about 50 and 200 MB (many small deflated
// files, a few large deflated and stored ones), extracts each, and prints throughput and how much
// the peak working set grew; `bench zip ARCHIVE DIR` times an existing archive instead.
#include <zlib.h>

#include <cstdio>
#include <random>
#include <string>

#include "Bench.h"
#include "Errors.h"
#include "Files.h"
#include "ZipArchive.h"

namespace {

constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr size_t kPiece = 1 << 20;

void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

// Writes a plain (non-Zip64) archive entry by entry, streaming each entry's data in pieces and
// patching its local header afterwards, so memory stays small whatever the archive's size.
class CArchiveWriter {
 public:
  explicit CArchiveWriter(const Vrn::CUnicodeString& path) : m_file(path, Vrn::CFile::OpenMode::CreateAlways) {}

  // produce(piece) fills piece with the next bytes and returns false after the last piece.
  template <class Produce>
  void Add(const std::string& name, uint16_t method, Produce produce) {
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
    return m_file.Position();
  }

 private:
  static constexpr size_t kLocalSize = 30;

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

// Text that deflates to about a third: words drawn at random from a small vocabulary.
void AppendText(std::string& out, size_t size, std::mt19937& random) {
  static const char* const kWords[] = {"setup ",  "archive ", "entry ", "folder ",   "install ", "product ",
                                       "custom ", "action ",  "table ", "value\r\n", "0x1F ",    "2026 "};
  while (out.size() < size) out += kWords[random() % std::size(kWords)];
  out.resize(size);
}

void AppendRandom(std::string& out, size_t size, std::mt19937& random) {
  for (size_t i = 0; i < size; ++i) out += static_cast<char>(random());
}

// An archive of about scale * 1 MB (scale 200 gives the 200 MB archive).
uint64_t GenerateArchive(const Vrn::CUnicodeString& path, int scale) {
  std::mt19937 random(2026);
  CArchiveWriter writer(path);
  for (int i = 0; i < scale * 80; ++i) {
    const size_t size = 512 + random() % 8192;
    writer.Add("small/" + std::to_string(i % 50) + "/file" + std::to_string(i) + ".txt", kDeflated,
               [&](std::string& piece) {
                 AppendText(piece, size, random);
                 return false;
               });
  }
  const auto large = [&](uint64_t size, auto append) {
    uint64_t left = size;
    return [=, &random](std::string& piece) mutable {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, left));
      append(piece, n, random);
      left -= n;
      return left > 0;
    };
  };
  const uint64_t mb = 1 << 20;
  for (int i = 0; i < 3; ++i)
    writer.Add("large/text" + std::to_string(i) + ".log", kDeflated, large(scale * mb / 5, AppendText));
  for (int i = 0; i < 2; ++i)
    writer.Add("large/blob" + std::to_string(i) + ".bin", kStored, large(scale * mb * 2 / 5, AppendRandom));
  return writer.Finish();
}

uint64_t TreeBytes(const Vrn::CUnicodeString& folder) {
  uint64_t total = 0;
  for (const Vrn::CDirectoryEntry& entry : Vrn::ListDirectory(folder, L"*", Vrn::ListAll | Vrn::ListRecursive))
    if (!entry.IsDirectory()) total += entry.size;
  return total;
}

// Extracts archive into destination and prints one line of figures.
void Measure(const wchar_t* label, const Vrn::CUnicodeString& archivePath, const Vrn::CUnicodeString& destination) {
  const uint64_t peakBefore = Bench::PeakMemoryBytes();
  const double start = Bench::NowSeconds();
  Zlib::CZipArchive archive;
  archive.Open(archivePath);
  archive.Extract(L"", destination);
  const double seconds = Bench::NowSeconds() - start;
  const uint64_t peakAfter = Bench::PeakMemoryBytes();
  const double outputMb = static_cast<double>(TreeBytes(destination)) / 1e6;
  std::wprintf(
      L"zip %-8ls %6zu entries  %8.1f MB out  %6.2f s  %7.1f MB/s  peak %6.1f MB (+%.1f MB while extracting)\n", label,
      archive.Entries().size(), outputMb, seconds, outputMb / seconds, static_cast<double>(peakAfter) / 1e6,
      static_cast<double>(peakAfter - peakBefore) / 1e6);
}

int RunZipBench(const std::vector<std::wstring>& args) {
  try {
    if (args.size() == 2) {
      Measure(L"given", args[0], args[1]);
      return 0;
    }
    if (!args.empty()) {
      std::fwprintf(stderr, L"usage: bench zip [ARCHIVE DIR]\n");
      return 2;
    }
    const Vrn::CUnicodeString work = Vrn::TemporaryDirectory() + L"OrvantZipBench";
    Vrn::CreateDirectoryWithParents(work);
    for (const int scale : {50, 200}) {
      const Vrn::CUnicodeString archivePath = Vrn::JoinPath(work, L"mixed.zip");
      const Vrn::CUnicodeString destination = Vrn::JoinPath(work, L"out");
      const uint64_t size = GenerateArchive(archivePath, scale);
      const std::wstring label = std::to_wstring(size / 1000000) + L"MB";
      Measure(label.c_str(), archivePath, destination);
      Vrn::RemoveFolder(destination, true);
      Vrn::RemoveFile(archivePath);
    }
    Vrn::RemoveFolder(work, true);
    return 0;
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr e(raw);
    std::fwprintf(stderr, L"zip bench failed: %ls\n", e->MessageText().c_str());
    return 1;
  }
}

const Bench::Registration kRegistration(L"zip", L"zip [ARCHIVE DIR]", RunZipBench);

}  // namespace
