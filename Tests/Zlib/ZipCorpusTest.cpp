// Replays Tests/Data/zip: every archive with a manifest (made by common tools and by hand: Zip64,
// long comment, names by code page, UTF-8 flag and Unicode field) must extract exactly as it says;
// every hostile archive must give the refusal hostile.manifest records and write only inside the
// destination.
#include <gtest/gtest.h>

#include <algorithm>

#include "Files.h"
#include "TestSupport.h"
#include "ZipTestSupport.h"

namespace {

TEST(ZipValidArchive, EachExtractsExactlyWhatItsManifestLists) {
  const auto manifests = Vrn::ListDirectory(TestSupport::DataPath(L"zip"), L"*.zip.manifest");
  ASSERT_GE(manifests.size(), 9u);
  for (const Vrn::CDirectoryEntry& manifest : manifests) {
    const Vrn::CUnicodeString name = manifest.name.Left(manifest.name.Length() - 9);  // without ".manifest"
    SCOPED_TRACE(name.ToUtf8());
    TestSupport::CTempFolder temp;
    Zlib::CZipArchive archive;
    // Only names_code_page_866 depends on the code page; the others carry ASCII or UTF-8 names.
    archive.Open(ZipTest::CorpusPath(name), 866);
    EXPECT_EQ(archive.IsZip64(), name.Find(L"zip64") != Vrn::CUnicodeString::npos);
    archive.Extract(L"", temp.Path());
    ZipTest::ExpectManifest(name, temp.Path());
  }
}

TEST(ZipHostileArchive, EachIsRefusedWithoutWritingOutsideTheDestination) {
  const auto cases = ZipTest::ReadTable(L"hostile.manifest");
  ASSERT_GT(cases.size(), 40u);
  for (const auto& c : cases) {
    const std::string &file = c[0], &phase = c[1];
    SCOPED_TRACE(file);
    TestSupport::CTempFolder sandbox;
    const Vrn::CUnicodeString destination = sandbox / L"dest";
    Zlib::CZipArchive archive;
    std::string failedIn = "open";
    auto e = Vrn::Caught([&] { archive.Open(ZipTest::CorpusPath(Vrn::CUnicodeString::FromUtf8(file)), 437); });
    if (!e) {
      failedIn = "extract";
      e = Vrn::Caught([&] { archive.Extract(L"", destination); });
    }
    EXPECT_EQ(ZipTest::ErrorName(e), Vrn::CUnicodeString::FromUtf8(c[2]).ToStdString());
    EXPECT_EQ(failedIn, phase);

    const std::vector<std::wstring> written = ZipTest::ListTree(sandbox.Path());
    for (const std::wstring& path : written) EXPECT_TRUE(path.starts_with(L"dest/"));
    const bool fileLeft = std::any_of(written.begin(), written.end(),
                                      [](const std::wstring& n) { return !n.ends_with(L'/') && n != L"dest/ok.txt"; });
    EXPECT_EQ(fileLeft, c[3] == "1");
  }
}

}  // namespace
