// Zip extraction benchmark: generates mixed archives of about 50 and 200 MB (many small deflated
// files, a few large deflated and stored ones), extracts each, and prints throughput and how much
// the peak working set grew; `bench zip ARCHIVE DIR` times an existing archive instead. Each
// archive is also extracted by the plainest inflate-and-write loop over the same zlib in this
// process (no checks at all), and the library's speed is printed as a ratio of that loop's.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_set>

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

// The reference: one entry after the other, its folders (each made once), CreateFileW, ReadFile of
// the compressed bytes, raw inflate through 256 KiB buffers, WriteFile, CloseHandle. No
// containment, CRC, size, time or attribute work. Returns the seconds taken.
double PlainExtract(const Vrn::CUnicodeString& archivePath, const Vrn::CUnicodeString& destination) {
  Zlib::CZipArchive archive;
  archive.Open(archivePath);
  const std::vector<Zlib::CZipEntry> entries = archive.Entries();
  archive.Close();
  const double start = Bench::NowSeconds();
  Vrn::CFile input(archivePath, Vrn::CFile::OpenMode::Read);
  std::vector<uint8_t> in(1 << 18), out(1 << 18);
  std::unordered_set<std::wstring> folders;
  CreateDirectoryW(destination.c_str(), nullptr);
  for (const Zlib::CZipEntry& entry : entries) {
    Vrn::CUnicodeString target = Vrn::JoinPath(destination, entry.name);
    target.Replace(L"/", L"\\");
    for (size_t cut = target.Find(L'\\', destination.Length() + 1); cut != Vrn::CUnicodeString::npos;
         cut = target.Find(L'\\', cut + 1))
      if (folders.insert(target.Left(cut).ToStdString()).second) CreateDirectoryW(target.Left(cut).c_str(), nullptr);
    if (entry.IsFolder()) continue;
    uint8_t header[30];
    input.Seek(entry.localHeaderOffset);
    input.ReadExact(header, sizeof header);
    input.Seek(entry.localHeaderOffset + 30 + (header[26] | header[27] << 8) + (header[28] | header[29] << 8));
    const HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    z_stream stream{};
    inflateInit2(&stream, -MAX_WBITS);
    DWORD written = 0;
    for (uint64_t left = entry.compressedSize; left > 0;) {
      const size_t count = static_cast<size_t>(std::min<uint64_t>(in.size(), left));
      input.ReadExact(in.data(), count);
      left -= count;
      if (entry.method == 0) {
        WriteFile(file, in.data(), static_cast<DWORD>(count), &written, nullptr);
        continue;
      }
      stream.next_in = in.data();
      stream.avail_in = static_cast<uInt>(count);
      do {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        inflate(&stream, Z_NO_FLUSH);
        WriteFile(file, out.data(), static_cast<DWORD>(out.size() - stream.avail_out), &written, nullptr);
      } while (stream.avail_out == 0);
    }
    inflateEnd(&stream);
    CloseHandle(file);
  }
  return Bench::NowSeconds() - start;
}

struct CRun {
  double seconds;
  double megabytes;
  size_t entries;
  uint64_t peak, growth;
};

CRun LibraryExtract(const Vrn::CUnicodeString& archivePath, const Vrn::CUnicodeString& destination) {
  const uint64_t peakBefore = Bench::PeakMemoryBytes();
  const double start = Bench::NowSeconds();
  Zlib::CZipArchive archive;
  archive.Open(archivePath);
  archive.Extract(L"", destination);
  const double seconds = Bench::NowSeconds() - start;
  const uint64_t peakAfter = Bench::PeakMemoryBytes();
  return {seconds, static_cast<double>(TreeBytes(destination)) / 1e6, archive.Entries().size(), peakAfter,
          peakAfter - peakBefore};
}

// Extracts the archive with the library and with the plain loop, each twice into fresh folders
// below work (the best run of each counts), and prints the figures and their ratio.
void Measure(const wchar_t* label, const Vrn::CUnicodeString& archivePath, const Vrn::CUnicodeString& work) {
  const Vrn::CUnicodeString destination = Vrn::JoinPath(work, L"out");
  const auto clear = [&] {
    if (Vrn::DirectoryExists(destination)) Vrn::RemoveFolder(destination, true);
  };
  CRun best{1e30, 0, 0, 0, 0};
  double plainBest = 1e30;
  // The order alternates, so that neither side always follows the other's deletions.
  for (int run = 0; run < 4; ++run) {
    clear();
    if (run == 0 || run == 3) {
      const CRun library = LibraryExtract(archivePath, destination);
      if (library.seconds < best.seconds) best = library;
    } else {
      plainBest = std::min(plainBest, PlainExtract(archivePath, destination));
    }
  }
  clear();
  std::wprintf(
      L"zip %-8ls %6zu entries  %8.1f MB out  %6.2f s  %7.1f MB/s  peak %6.1f MB (+%.1f MB while extracting)\n", label,
      best.entries, best.megabytes, best.seconds, best.megabytes / best.seconds, static_cast<double>(best.peak) / 1e6,
      static_cast<double>(best.growth) / 1e6);
  std::wprintf(L"zip %-8ls plain inflate-and-write loop  %6.2f s  %7.1f MB/s  library/plain speed %.2fx\n", label,
               plainBest, best.megabytes / plainBest, plainBest / best.seconds);
}

int RunZipBench(const std::vector<std::wstring>& args) {
  try {
    if (args.size() == 2) {
      Measure(L"given", args[0], args[1]);
      return 0;
    }
    if (!args.empty()) {
      std::fwprintf(stderr, L"usage: bench zip [ARCHIVE WORKDIR]\n");
      return 2;
    }
    const Vrn::CUnicodeString work = Vrn::TemporaryDirectory() + L"OrvantZipBench";
    Vrn::CreateDirectoryWithParents(work);
    for (const int scale : {50, 200}) {
      const Vrn::CUnicodeString archivePath = Vrn::JoinPath(work, L"mixed.zip");
      const uint64_t size = GenerateArchive(archivePath, scale);
      const std::wstring label = std::to_wstring(size / 1000000) + L"MB";
      Measure(label.c_str(), archivePath, work);
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

const Bench::Registration kRegistration(L"zip", L"zip [ARCHIVE WORKDIR]", RunZipBench);

}  // namespace
