// Zip extraction benchmark: generates mixed archives of about 50 and 200 MB (many small deflated
// files, a few large deflated and stored ones), extracts each, and prints throughput and how much
// the peak working set grew; `bench zip ARCHIVE DIR` times an existing archive instead. Each
// archive is also extracted by the plainest inflate-and-write loop over the same zlib in this
// process (no checks at all), and the library's speed is printed as a ratio of that loop's.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "ArchiveWriter.h"
#include "Bench.h"
#include "Errors.h"
#include "Files.h"
#include "ZipArchive.h"

namespace {

using TestSupport::CArchiveWriter;
using TestSupport::kDeflated;
using TestSupport::kStored;
constexpr size_t kPiece = CArchiveWriter::kPiece;

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
    writer.AddPieces("small/" + std::to_string(i % 50) + "/file" + std::to_string(i) + ".txt", kDeflated,
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
    writer.AddPieces("large/text" + std::to_string(i) + ".log", kDeflated, large(scale * mb / 5, AppendText));
  for (int i = 0; i < 2; ++i)
    writer.AddPieces("large/blob" + std::to_string(i) + ".bin", kStored, large(scale * mb * 2 / 5, AppendRandom));
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

// Checks that destination holds exactly the archive's files, each with the entry's size and CRC-32,
// and returns their count; raises std::runtime_error naming the first difference. A speed figure
// for an incomplete extraction would mean nothing.
size_t VerifyExtraction(const std::vector<Zlib::CZipEntry>& entries, const Vrn::CUnicodeString& destination) {
  size_t files = 0;
  std::vector<uint8_t> buffer(1 << 18);
  for (const Zlib::CZipEntry& entry : entries) {
    if (entry.IsFolder()) continue;
    Vrn::CUnicodeString path = Vrn::JoinPath(destination, entry.name);
    path.Replace(L"/", L"\\");
    const auto fail = [&](const char* what) {
      throw std::runtime_error(std::string(what) + ": " + entry.name.ToUtf8());
    };
    if (!Vrn::FileExists(path)) fail("missing");
    Vrn::CFile file(path, Vrn::CFile::OpenMode::Read);
    uint64_t size = 0;
    uLong crc = crc32(0, nullptr, 0);
    for (size_t read; (read = file.Read(buffer.data(), buffer.size())) > 0; size += read)
      crc = crc32(crc, buffer.data(), static_cast<uInt>(read));
    if (size != entry.uncompressedSize) fail("wrong size");
    if (crc != entry.crc32) fail("wrong CRC-32");
    ++files;
  }
  size_t found = 0;
  for (const Vrn::CDirectoryEntry& entry : Vrn::ListDirectory(destination, L"*", Vrn::ListAll | Vrn::ListRecursive))
    found += entry.IsDirectory() ? 0 : 1;
  if (found != files)
    throw std::runtime_error(std::to_string(found) + " files extracted for " + std::to_string(files) + " entries");
  return files;
}

struct CRun {
  double seconds;
  double megabytes;
  size_t entries;
  uint64_t peak, growth;
  size_t verified;
};

CRun LibraryExtract(const Vrn::CUnicodeString& archivePath, const Vrn::CUnicodeString& destination) {
  const uint64_t peakBefore = Bench::PeakMemoryBytes();
  const double start = Bench::NowSeconds();
  Zlib::CZipArchive archive;
  archive.Open(archivePath);
  archive.Extract(L"", destination);
  const double seconds = Bench::NowSeconds() - start;
  const uint64_t peakAfter = Bench::PeakMemoryBytes();
  return {seconds,
          static_cast<double>(TreeBytes(destination)) / 1e6,
          archive.Entries().size(),
          peakAfter,
          peakAfter - peakBefore,
          VerifyExtraction(archive.Entries(), destination)};
}

// Extracts the archive with the library and with the plain loop, each twice into fresh folders
// below work (the best run of each counts), and prints the figures and their ratio.
void Measure(const wchar_t* label, const Vrn::CUnicodeString& archivePath, const Vrn::CUnicodeString& work) {
  const Vrn::CUnicodeString destination = Vrn::JoinPath(work, L"out");
  const auto clear = [&] {
    if (Vrn::DirectoryExists(destination)) Vrn::RemoveFolder(destination, true);
  };
  CRun best{1e30, 0, 0, 0, 0, 0};
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
      L"zip %-8ls %6zu entries  %8.1f MB out  %6.2f s  %7.1f MB/s  peak %6.1f MB (+%.1f MB while extracting)  "
      L"verified %zu files\n",
      label, best.entries, best.megabytes, best.seconds, best.megabytes / best.seconds,
      static_cast<double>(best.peak) / 1e6, static_cast<double>(best.growth) / 1e6, best.verified);
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
  } catch (const std::runtime_error& e) {
    std::fwprintf(stderr, L"zip bench failed: the extraction did not verify: %hs\n", e.what());
    return 1;
  }
}

const Bench::Registration kRegistration(L"zip", L"zip [ARCHIVE WORKDIR]", RunZipBench);

}  // namespace
