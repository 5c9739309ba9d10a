// Replays Tests/Data/zip: archives made by common tools must extract exactly as their manifests
// say; every hostile archive must give its refusal and leave nothing outside the destination.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>

#include "Files.h"
#include "TestSupport.h"
#include "ZipTestSupport.h"

namespace {

using Zlib::CZipArchiveException;

struct CManifestLine {
  bool folder;
  std::wstring name;
  uint64_t size = 0;
  uint32_t crc = 0;
};

std::vector<CManifestLine> ReadManifest(const Vrn::CUnicodeString& path) {
  std::vector<CManifestLine> lines;
  const std::string text = TestSupport::ReadBytes(path);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1), tab3 = line.find('\t', tab2 + 1);
    CManifestLine item{line[0] == 'D',
                       Vrn::CUnicodeString::FromUtf8(line.substr(tab1 + 1, tab2 - tab1 - 1)).ToStdString()};
    if (!item.folder) {
      item.size = std::stoull(line.substr(tab2 + 1, tab3 - tab2 - 1));
      item.crc = static_cast<uint32_t>(std::stoul(line.substr(tab3 + 1), nullptr, 16));
    }
    lines.push_back(item);
  }
  return lines;
}

class ZipToolArchive : public testing::TestWithParam<const wchar_t*> {};

TEST_P(ZipToolArchive, ExtractsExactlyWhatTheManifestLists) {
  const Vrn::CUnicodeString name = GetParam();
  TestSupport::CTempFolder temp;
  Zlib::CZipArchive archive;
  archive.Open(TestSupport::DataPath(L"zip\\" + name), 437);
  archive.Extract(L"", temp.Path());

  const std::vector<std::wstring> tree = ZipTest::ListTree(temp.Path());
  size_t files = 0;
  for (const CManifestLine& line : ReadManifest(TestSupport::DataPath(L"zip\\" + name + L".manifest"))) {
    SCOPED_TRACE(Vrn::CUnicodeString(line.name).ToUtf8());
    ASSERT_TRUE(std::find(tree.begin(), tree.end(), line.name) != tree.end());
    if (line.folder) continue;
    ++files;
    Vrn::CUnicodeString local(line.name);
    local.Replace(L"/", L"\\");
    const std::string bytes = TestSupport::ReadBytes(temp / local);
    EXPECT_EQ(bytes.size(), line.size);
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())), line.crc);
  }
  EXPECT_EQ(files, std::count_if(tree.begin(), tree.end(), [](const std::wstring& n) { return !n.ends_with(L'/'); }));
}

INSTANTIATE_TEST_SUITE_P(Corpus, ZipToolArchive,
                         testing::Values(L"infozip_tree.zip", L"infozip_zip64_forced.zip", L"sevenzip_tree.zip",
                                         L"python_unicode.zip"));

enum class Phase { Open, Extract, None };

struct CHostileCase {
  const wchar_t* file;
  Phase phase;
  const wchar_t* error;  // the message name, or null when the archive is valid
  bool fileLeft;         // a refused entry's file stays behind (it was being written)
};

constexpr wchar_t kCorrupted[] = L"ERR_ZLIB_ZIPARCHIVE_CORRUPTED";
constexpr wchar_t kIllegal[] = L"ERR_ZLIB_ZIPARCHIVE_ILLEGAL_PATH";
constexpr wchar_t kFailed[] = L"ERR_ZLIB_ZIPARCHIVE_EXTRACTION_FAILED";
constexpr wchar_t kEncrypted[] = L"ERR_ZLIB_ZIPARCHIVE_ENCRYPTION_UNSUPPORTED";

const CHostileCase kHostile[] = {
    {L"traversal_dotdot_slash.zip", Phase::Open, kIllegal, false},
    {L"traversal_dotdot_backslash.zip", Phase::Open, kIllegal, false},
    {L"traversal_inner_dotdot.zip", Phase::Open, kIllegal, false},
    {L"traversal_trailing_dotdot.zip", Phase::Open, kIllegal, false},
    {L"absolute_slash.zip", Phase::Open, kIllegal, false},
    {L"absolute_backslash.zip", Phase::Open, kIllegal, false},
    {L"drive_absolute.zip", Phase::Open, kIllegal, false},
    {L"drive_relative.zip", Phase::Open, kIllegal, false},
    {L"unc_backslash.zip", Phase::Open, kIllegal, false},
    {L"unc_slash.zip", Phase::Open, kIllegal, false},
    {L"device_namespace.zip", Phase::Open, kIllegal, false},
    {L"dot_before_separator.zip", Phase::Open, kIllegal, false},
    {L"dot_before_backslash.zip", Phase::Open, kIllegal, false},
    {L"trailing_space_step.zip", Phase::Open, kIllegal, false},
    {L"empty_step.zip", Phase::Open, kIllegal, false},
    {L"alternate_stream.zip", Phase::Open, kIllegal, false},
    {L"device_name.zip", Phase::Open, kIllegal, false},
    {L"nul_in_name.zip", Phase::Open, kIllegal, false},
    {L"empty_name.zip", Phase::Open, kIllegal, false},
    {L"unicode_path_traversal.zip", Phase::Open, kIllegal, false},
    {L"too_short.zip", Phase::Open, kCorrupted, false},
    {L"not_a_zip.zip", Phase::Open, kCorrupted, false},
    {L"fewer_headers_than_announced.zip", Phase::Open, kCorrupted, false},
    {L"count_exceeds_directory.zip", Phase::Open, kCorrupted, false},
    {L"central_directory_past_end.zip", Phase::Open, kCorrupted, false},
    {L"central_directory_size_past_end.zip", Phase::Open, kCorrupted, false},
    {L"multi_disk.zip", Phase::Open, kCorrupted, false},
    {L"overlapping_entries.zip", Phase::Open, kCorrupted, false},
    {L"local_offset_into_directory.zip", Phase::Open, kCorrupted, false},
    {L"extra_field_too_long.zip", Phase::Open, kCorrupted, false},
    {L"zip64_size_not_set.zip", Phase::Open, kCorrupted, false},
    {L"zip64_large_without_record.zip", Phase::Open, kCorrupted, false},
    {L"zip64_record_offset_lies.zip", Phase::Open, kCorrupted, false},
    {L"zip64_record_count_lies.zip", Phase::Open, kCorrupted, false},
    {L"zip64_locator_past_end.zip", Phase::Open, kCorrupted, false},
    {L"empty_archive.zip", Phase::Extract, L"ERR_ZLIB_ZIPARCHIVE_FILE_NOT_FOUND", false},
    {L"bad_local_signature.zip", Phase::Extract, kCorrupted, false},
    {L"local_extra_overlaps_next.zip", Phase::Extract, kCorrupted, false},
    {L"encrypted_traditional.zip", Phase::Extract, kEncrypted, false},
    {L"encrypted_strong.zip", Phase::Extract, kEncrypted, false},
    {L"encrypted_directory.zip", Phase::Extract, kEncrypted, false},
    {L"method12_bzip2.zip", Phase::Extract, L"ERR_ZLIB_ZIPARCHIVE_COMPRESSION_UNSUPPORTED", false},
    {L"stored_size_mismatch.zip", Phase::Extract, kFailed, false},
    {L"wrong_crc_deflated.zip", Phase::Extract, kFailed, true},
    {L"wrong_crc_stored.zip", Phase::Extract, kFailed, true},
    {L"deflate_truncated_stream.zip", Phase::Extract, kFailed, true},
    {L"deflate_more_than_declared.zip", Phase::Extract, kFailed, true},
    {L"deflate_less_than_declared.zip", Phase::Extract, kFailed, true},
    {L"deflate_garbage.zip", Phase::Extract, L"ERR_ZLIB_STREAM_CORRUPTED", true},
    {L"comment_65535.zip", Phase::None, nullptr, false},
    {L"zip64_all_fields.zip", Phase::None, nullptr, false},
};

void PrintTo(const CHostileCase& c, std::ostream* out) { *out << Vrn::CUnicodeString(c.file).ToUtf8(); }

class ZipHostileArchive : public testing::TestWithParam<CHostileCase> {};

TEST_P(ZipHostileArchive, IsRefusedWithoutWritingOutsideTheDestination) {
  const CHostileCase& c = GetParam();
  TestSupport::CTempFolder sandbox;
  const Vrn::CUnicodeString destination = sandbox / L"dest";
  Zlib::CZipArchive archive;
  Phase phase = Phase::Open;
  auto e = ZipTest::Capture([&] { archive.Open(TestSupport::DataPath(L"zip\\") + c.file, 437); });
  if (!e) {
    phase = Phase::Extract;
    e = ZipTest::Capture([&] { archive.Extract(L"", destination); });
  }
  if (!e) phase = Phase::None;

  EXPECT_EQ(ZipTest::ErrorName(e), c.error ? c.error : L"none");
  EXPECT_EQ(phase, c.phase);
  // Only the destination itself may appear in the sandbox; what lies in it depends on the case.
  const std::vector<std::wstring> outside = ZipTest::ListTree(sandbox.Path());
  for (const std::wstring& path : outside)
    EXPECT_TRUE(path.starts_with(L"dest/")) << Vrn::CUnicodeString(path).ToUtf8();
  if (c.phase == Phase::Open) {
    EXPECT_TRUE(outside.empty());
  }
  if (c.phase == Phase::Extract) {
    const std::vector<std::wstring> inside = ZipTest::ListTree(destination);
    EXPECT_EQ(std::any_of(inside.begin(), inside.end(), [](const std::wstring& n) { return !n.ends_with(L'/'); }),
              c.fileLeft);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, ZipHostileArchive, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<CHostileCase>& param) {
                           std::string name = Vrn::CUnicodeString(param.param.file).ToUtf8();
                           name = name.substr(0, name.find('.'));
                           std::replace_if(
                               name.begin(), name.end(), [](char ch) { return !isalnum(ch); }, '_');
                           return name;
                         });

}  // namespace
