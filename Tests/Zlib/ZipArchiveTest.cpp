// Opening and extracting: folder prefixes, times and attributes, truncated archives,
// message texts, and a deflate bomb that must stream.
#include <gtest/gtest.h>
#include <zlib.h>

#include "ArchiveWriter.h"
#include "Files.h"
#include "TestSupport.h"
#include "VrnWindows.h"
#include "ZipArchiveExtractor.h"
#include "ZipTestSupport.h"
// psapi after windows.h
#include <psapi.h>

namespace {

using Zlib::CZipArchiveException;

// Entries that would write the same file (letter case ignored) are extracted one after the other:
// the last one wins. (ZipExtractionStressTest repeats the threaded extractions.)
TEST(ZipArchive, CollidingNamesAreWrittenInDirectoryOrder) {
  TestSupport::CTempFolder temp;
  TestSupport::CArchiveWriter writer(temp / L"same.zip");
  for (const auto& [name, content] : {std::pair{"a.txt", "first"}, {"b.txt", "b"}, {"A.TXT", "last"}})
    writer.Add(name, TestSupport::kStored, content);
  writer.Finish();
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
    const auto e = Vrn::Caught([&] { archive.Extract(c.path, temp / L"out"); });
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
    const auto e = Vrn::Caught([&] { ZipTest::OpenImage(archive, whole.substr(0, cut)); });
    ASSERT_EQ(ZipTest::ZipCode(e), CZipArchiveException::Corrupted) << cut;
  }
}

TEST(ZipArchive, MessagesFallBackToEnglishWithTheEntryName) {
  Zlib::CZipArchive archive;
  archive.Open(ZipTest::CorpusPath(L"empty_archive.zip"));
  EXPECT_EQ(Vrn::Caught([&] { archive.Extract(L"docs/", L"C:\\unused"); })->MessageText(),
            L"docs/ was not found in the zip archive.");
  EXPECT_EQ(Vrn::Caught([&] { ZipTest::OpenImage(archive, "PK"); })->MessageText(), L"The zip archive is corrupted.");
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
