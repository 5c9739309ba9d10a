// Opening and extracting: folder prefixes, times and attributes, truncated archives,
// message texts, and a deflate bomb that must stream.
#include <gtest/gtest.h>
#include <zlib.h>

#include "Files.h"
#include "TestSupport.h"
#include "VrnWindows.h"
#include "ZipArchiveExtractor.h"
#include "ZipTestSupport.h"
// psapi after windows.h
#include <psapi.h>

namespace {

using Zlib::CZipArchiveException;

// A stored archive of (name, content) entries; the entry named `badCrc` carries a wrong CRC-32.
std::string StoredArchive(const std::vector<std::pair<std::string, std::string>>& entries,
                          const std::string& badCrc = {}) {
  const auto put = [](std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  };
  std::string archive, directory;
  for (const auto& [name, content] : entries) {
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()), content.size()));
    if (name == badCrc) crc ^= 1;
    std::string middle;  // version needed .. extra length: shared by both headers
    for (const uint32_t field : {20u, 0u, 0u, 0u, 0x21u}) put(middle, field, 2);
    put(middle, crc, 4);
    put(middle, static_cast<uint32_t>(content.size()), 4);
    put(middle, static_cast<uint32_t>(content.size()), 4);
    put(middle, static_cast<uint32_t>(name.size()), 2);
    put(middle, 0, 2);
    put(directory, 0x02014B50, 4);
    put(directory, 20, 2);
    directory += middle;
    put(directory, 0, 2 + 2 + 2 + 4);
    put(directory, static_cast<uint32_t>(archive.size()), 4);
    directory += name;
    put(archive, 0x04034B50, 4);
    archive += middle + name + content;
  }
  const auto offset = static_cast<uint32_t>(archive.size());
  archive += directory;
  put(archive, 0x06054B50, 4);
  put(archive, 0, 4);
  put(archive, static_cast<uint32_t>(entries.size()), 2);
  put(archive, static_cast<uint32_t>(entries.size()), 2);
  put(archive, static_cast<uint32_t>(directory.size()), 4);
  put(archive, offset, 4);
  put(archive, 0, 2);
  return archive;
}

// Extraction from a file runs on several threads; the outcome must be the one of extracting entry
// after entry, whatever the threads do: everything before the first bad entry, that entry's partly
// written file, nothing after it, and the bad entry's error. Names that collide go one by one.
TEST(ZipArchive, FolderExtractionEndsAsEntryByEntryWould) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 300; ++i)
    entries.push_back(
        {"d" + std::to_string(i % 7) + "/f" + std::to_string(1000 + i) + ".txt", std::string(i * 37, 'x')});
  TestSupport::CTempFolder temp;
  TestSupport::WriteBytes(temp / L"bad.zip", StoredArchive(entries, "d1/f1120.txt"));
  for (int round = 0; round < 3; ++round) {
    const Vrn::CUnicodeString out = temp / (L"out" + Vrn::CUnicodeString::FromInt(round));
    Zlib::CZipArchive archive;
    archive.Open(temp / L"bad.zip");
    const auto e = ZipTest::Capture([&] { archive.Extract(L"", out); });
    ASSERT_EQ(ZipTest::ZipCode(e), CZipArchiveException::ExtractionFailed);
    EXPECT_EQ(static_cast<CZipArchiveException*>(e.get())->EntryName(), L"d1/f1120.txt");
    for (int i = 0; i < 300; ++i) {
      const auto& [name, content] = entries[i];
      const Vrn::CUnicodeString path = Vrn::JoinPath(out, Vrn::CUnicodeString::FromUtf8(name));
      EXPECT_EQ(Vrn::FileExists(path), i <= 120) << name;
      if (i < 120) {
        EXPECT_EQ(TestSupport::ReadBytes(path), content) << name;
      }
    }
  }
  TestSupport::WriteBytes(temp / L"same.zip", StoredArchive({{"a.txt", "first"}, {"b.txt", "b"}, {"A.TXT", "last"}}));
  Zlib::CZipArchive archive;
  archive.Open(temp / L"same.zip");
  archive.Extract(L"", temp / L"same");
  EXPECT_EQ(TestSupport::ReadBytes(temp / L"same\\a.txt"), "last");
}

TEST(ZipArchive, ExtractsAFolderPrefixOrOneEntry) {
  Zlib::CZipArchive archive;
  archive.Open(ZipTest::CorpusPath(L"zip64_all_fields.zip"));
  const struct {
    const wchar_t* path;
    std::vector<std::wstring> tree;  // what the destination holds afterwards; empty: refused
    int code;
  } cases[] = {
      {L"dir/", {L"deflated.txt", L"stored.bin"}, -1},
      {L".\\dir\\deflated.txt", {L"dir/", L"dir/deflated.txt"}, -1},
      {L"ok.txt", {L"ok.txt"}, -1},
      {L"dir", {}, CZipArchiveException::FileNotFound},  // a folder is named with its "/"
      {L"DIR/", {}, CZipArchiveException::FileNotFound},
      {L"../ok.txt", {}, CZipArchiveException::IllegalPath},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Vrn::CUnicodeString(c.path).ToUtf8());
    TestSupport::CTempFolder temp;
    const auto e = ZipTest::Capture([&] { archive.Extract(c.path, temp / L"out"); });
    EXPECT_EQ(ZipTest::ZipCode(e), c.code);
    EXPECT_EQ(ZipTest::ListTree(temp / L"out"), c.tree);
  }
}

TEST(ZipArchive, SetsTimesFromDosDatesAndAttributes) {
  TestSupport::CTempFolder temp;
  Zlib::CZipArchive archive;
  archive.Open(ZipTest::CorpusPath(L"attributes_and_times.zip"));
  archive.Extract(L"", temp.Path());
  const std::pair<const wchar_t*, DWORD> cases[] = {{L"readonly.txt", FILE_ATTRIBUTE_READONLY},
                                                    {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
                                                    {L"unix_readonly.txt", FILE_ATTRIBUTE_READONLY},
                                                    {L"unix_writable.txt", 0},
                                                    {L"zero_length.txt", 0}};
  for (const auto& [name, attributes] : cases) {
    SCOPED_TRACE(Vrn::CUnicodeString(name).ToUtf8());
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW((temp / name).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), attributes);
    FILETIME local;
    SYSTEMTIME time;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &time);
    EXPECT_EQ(std::make_tuple(time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond),
              std::make_tuple(2020, 6, 15, 13, 45, 30));
    SetFileAttributesW((temp / name).c_str(), FILE_ATTRIBUTE_NORMAL);
  }

  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  const FILETIME invalid = Zlib::EntryFileTime(/*month 13*/ (40 << 9) | (13 << 5) | 1, 0);
  EXPECT_GE(CompareFileTime(&invalid, &before), 0);  // the current time instead
}

TEST(ZipArchive, EveryTruncationIsRefusedAsCorrupted) {
  const std::string whole = ZipTest::CorpusBytes(L"zip64_all_fields.zip");
  // Every cut through the directory and end records, and a spread of cuts through the data.
  const size_t directory = whole.size() - 600;
  for (size_t cut = 0; cut < whole.size(); cut += cut < directory ? 997 : 1) {
    Zlib::CZipArchive archive;
    const auto e = ZipTest::Capture([&] { ZipTest::OpenImage(archive, whole.substr(0, cut)); });
    ASSERT_EQ(ZipTest::ZipCode(e), CZipArchiveException::Corrupted) << cut;
  }
}

TEST(ZipArchive, MessagesFallBackToEnglishWithTheEntryName) {
  Zlib::CZipArchive archive;
  archive.Open(ZipTest::CorpusPath(L"empty_archive.zip"));
  EXPECT_EQ(ZipTest::Capture([&] { archive.Extract(L"docs/", L"C:\\unused"); })->MessageText(),
            L"docs/ was not found in the zip archive.");
  EXPECT_EQ(ZipTest::Capture([&] { ZipTest::OpenImage(archive, "PK"); })->MessageText(),
            L"The zip archive is corrupted.");
  EXPECT_FALSE(archive.IsOpen());
}

TEST(ZipArchive, DeflateBombStreamsWithFlatMemory) {
  constexpr uint64_t kOutput = 64ull << 20, kAllowedGrowth = 16ull << 20;
  TestSupport::CTempFolder temp;
  PROCESS_MEMORY_COUNTERS before{}, after{};
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
  Zlib::CZipArchive archive;
  archive.Open(ZipTest::CorpusPath(L"deflate_bomb.zip"));
  archive.Extract(L"bomb.bin", temp.Path());
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);

  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW((temp / L"bomb.bin").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow, kOutput);
  ASSERT_GT(before.PeakWorkingSetSize, 0u);  // the counter is real, so the bound means something
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, kAllowedGrowth);
}

}  // namespace
