// Opening and extracting: round trips, folder prefixes, names, times and attributes, truncated
// archives, message texts, and a deflate bomb that must stream.
#include <gtest/gtest.h>

#include <random>

#include "Files.h"
#include "TestSupport.h"
#include "VrnWindows.h"
#include "ZipArchiveExtractor.h"
#include "ZipTestSupport.h"
// psapi after windows.h
#include <psapi.h>

namespace {

using ZipTest::CEntrySpec;
using Zlib::CZipArchiveException;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& ch : bytes) ch = static_cast<char>(random());
  return bytes;
}

// Larger than one transfer buffer, so every copy and inflate loop turns more than once.
const std::string kBinary = RandomBytes(600000, 7);
const std::string kText = [] {
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "row " + std::to_string(i) + " of the table\r\n";
  return text;
}();

std::vector<CEntrySpec> TreeEntries(uint16_t method) {
  return {{"top.txt", kText, method},
          {"empty.txt", "", method},
          {"sub/", "", 0},
          {"sub/deep/random.bin", kBinary, method},
          {"sub/Note.txt", "note", method}};
}

class ZipRoundTrip : public testing::TestWithParam<std::tuple<uint16_t, bool>> {};

TEST_P(ZipRoundTrip, ExtractsEveryByte) {
  const auto [method, zip64] = GetParam();
  const std::vector<CEntrySpec> entries = TreeEntries(method);
  TestSupport::CTempFolder temp;
  Zlib::CZipArchive archive;
  ZipTest::OpenImage(archive, ZipTest::BuildZip(entries, zip64));
  EXPECT_EQ(archive.IsZip64(), zip64);
  ASSERT_EQ(archive.Entries().size(), entries.size());
  archive.Extract(L"", temp.Path());

  for (const CEntrySpec& spec : entries) {
    Vrn::CUnicodeString path = temp / Vrn::CUnicodeString::FromUtf8(spec.name);
    path.Replace(L"/", L"\\");
    if (spec.name.ends_with('/'))
      EXPECT_TRUE(Vrn::DirectoryExists(path)) << spec.name;
    else
      EXPECT_TRUE(TestSupport::ReadBytes(path) == spec.data) << spec.name;
  }
}

INSTANTIATE_TEST_SUITE_P(MethodsAndZip64, ZipRoundTrip,
                         testing::Combine(testing::Values<uint16_t>(0, 8), testing::Bool()));

TEST(ZipArchive, ExtractsAFolderPrefixOrOneEntry) {
  Zlib::CZipArchive archive;
  ZipTest::OpenImage(archive, ZipTest::BuildZip(TreeEntries(8)));

  struct CCase {
    const wchar_t* path;
    std::vector<std::wstring> tree;  // what the destination holds afterwards
  } cases[] = {
      {L"sub/", {L"Note.txt", L"deep/", L"deep/random.bin"}},
      {L"sub\\deep\\", {L"random.bin"}},
      {L"./sub/Note.txt", {L"sub/", L"sub/Note.txt"}},
      {L"top.txt", {L"top.txt"}},
      {L"sub", {}},  // no entry of that name: the folder needs its "/"
      {L"Sub/", {}},
      {L"missing.txt", {}},
      {L"../top.txt", {}},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(Vrn::CUnicodeString(c.path).ToUtf8());
    TestSupport::CTempFolder temp;
    const Vrn::CUnicodeString destination = temp / L"out";
    const auto e = ZipTest::Capture([&] { archive.Extract(c.path, destination); });
    EXPECT_EQ(ZipTest::ListTree(destination), c.tree);
    if (c.tree.empty())
      EXPECT_EQ(ZipTest::ZipCode(e), Vrn::CUnicodeString(c.path).StartsWith(L"..")
                                         ? CZipArchiveException::IllegalPath
                                         : CZipArchiveException::FileNotFound);
    else
      EXPECT_EQ(e, nullptr);
  }
  EXPECT_EQ(archive.Find(L"sub\\Note.txt"), &archive.Entries()[4]);
  EXPECT_EQ(archive.Find(L"sub/note.txt"), nullptr);
}

TEST(ZipArchive, DecodesNamesByFlagUnicodeFieldAndCodePage) {
  struct CCase {
    const wchar_t* file;
    unsigned codePage;
    std::vector<std::wstring> names;
  } cases[] = {
      {L"names_code_page_866.zip", 866, {L"\u041f\u0440\u0438\u0432\u0435\u0442.txt"}},
      {L"names_utf8_flag.zip", 866, {L"\u65e5\u672c.txt"}},
      {L"names_unicode_field.zip", 437, {L"\u00e9t\u00e9/\u03b1\u03b2.txt", L"bad_crc.txt"}},
      {L"python_unicode.zip",
       437,
       {L"stored.bin", L"deflated.txt", L"\u00fcbersicht/\u65e5\u672c\u8a9e.txt", L"\u00fcbersicht/"}},
  };
  for (const CCase& c : cases) {
    Zlib::CZipArchive archive;
    archive.Open(TestSupport::DataPath(L"zip\\") + c.file, c.codePage);
    std::vector<std::wstring> names;
    for (const Zlib::CZipEntry& entry : archive.Entries()) names.push_back(entry.name.ToStdString());
    EXPECT_EQ(names, c.names) << Vrn::CUnicodeString(c.file).ToUtf8();
  }
}

TEST(ZipArchive, SetsTimesFromDosDatesAndAttributes) {
  TestSupport::CTempFolder temp;
  Zlib::CZipArchive archive;
  archive.Open(TestSupport::DataPath(L"zip\\attributes_and_times.zip"));
  archive.Extract(L"", temp.Path());

  const struct {
    const wchar_t* name;
    DWORD expected;
  } cases[] = {
      {L"readonly.txt", FILE_ATTRIBUTE_READONLY},
      {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
      {L"unix_readonly.txt", FILE_ATTRIBUTE_READONLY},
      {L"unix_writable.txt", 0},
      {L"zero_length.txt", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Vrn::CUnicodeString(c.name).ToUtf8());
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW((temp / c.name).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), c.expected);
    FILETIME local;
    SYSTEMTIME time;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &time);
    EXPECT_EQ(std::make_tuple(time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond),
              std::make_tuple(2020, 6, 15, 13, 45, 30));
    SetFileAttributesW((temp / c.name).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  EXPECT_EQ(TestSupport::ReadBytes(temp / L"zero_length.txt"), "");
}

TEST(ZipArchive, InvalidDosDateGivesTheCurrentTime) {
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  const FILETIME time = Zlib::EntryFileTime(/*month 13*/ (40 << 9) | (13 << 5) | 1, 0);
  EXPECT_GE(CompareFileTime(&time, &before), 0);
}

TEST(ZipArchive, EveryTruncationIsRefusedBeforeAnythingIsWritten) {
  const std::string whole = ZipTest::BuildZip(TreeEntries(8), true);
  TestSupport::CTempFolder temp;
  // Every cut through the directory and end records, and a spread of cuts through the data.
  const size_t directory = whole.size() - 600;
  for (size_t cut = 0; cut < whole.size(); cut += cut < directory ? 997 : 1) {
    Zlib::CZipArchive archive;
    const auto e = ZipTest::Capture([&] { ZipTest::OpenImage(archive, whole.substr(0, cut)); });
    ASSERT_EQ(ZipTest::ZipCode(e), CZipArchiveException::Corrupted) << cut;
  }
  EXPECT_TRUE(ZipTest::ListTree(temp.Path()).empty());
}

TEST(ZipArchive, MessagesFallBackToEnglishWithTheEntryName) {
  Zlib::CZipArchive archive;
  ZipTest::OpenImage(archive, ZipTest::BuildZip({}));
  TestSupport::CTempFolder temp;
  const auto missing = ZipTest::Capture([&] { archive.Extract(L"docs/", temp.Path()); });
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->MessageText(), L"docs/ was not found in the zip archive.");
  const auto corrupt = ZipTest::Capture([&] { ZipTest::OpenImage(archive, "PK"); });
  ASSERT_NE(corrupt, nullptr);
  EXPECT_EQ(corrupt->MessageText(), L"The zip archive is corrupted.");
  EXPECT_FALSE(archive.IsOpen());
}

TEST(ZipArchive, DeflateBombStreamsWithFlatMemory) {
  constexpr uint64_t kOutput = 128ull << 20;
  constexpr uint64_t kAllowedGrowth = 16ull << 20;
  CEntrySpec bomb{"bomb.bin", "", 8};
  bomb.payload = ZipTest::DeflateZeros(kOutput, bomb.crc);
  bomb.uncompressedSize = kOutput;
  const std::string image = ZipTest::BuildZip({bomb});
  ASSERT_LT(image.size(), kOutput / 256);

  TestSupport::CTempFolder temp;
  PROCESS_MEMORY_COUNTERS before{}, after{};
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
  Zlib::CZipArchive archive;
  ZipTest::OpenImage(archive, image);
  archive.Extract(L"bomb.bin", temp.Path());
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);

  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW((temp / L"bomb.bin").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow, kOutput);
  ASSERT_GT(before.PeakWorkingSetSize, 0u);  // the counter is real, so the bound means something
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, kAllowedGrowth);
}

}  // namespace
