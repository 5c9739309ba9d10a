// The zip extraction actions in a real installer session: ZipExtract from its two properties,
// OV_Zip_Extract by table rows and component states, and every hostile archive of the reader's
// corpus refused with 1603 and the reader's own text, with nothing written outside the destination.
#include <gtest/gtest.h>

#include <sstream>

#include "CoreFixtures.h"
#include "Files.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"
#include "ZipArchive.h"

using SessionTests::ActionLog;
using Vrn::CUnicodeString;

namespace {

CUnicodeString Corpus(const CUnicodeString& name) { return TestSupport::DataPath(L"zip\\" + name); }

// Relative paths of every file and folder below root ("dest\a.txt"), sorted.
std::vector<std::wstring> Tree(const CUnicodeString& root) {
  std::vector<std::wstring> names;
  for (const auto& entry : Vrn::ListDirectory(root, L"*", Vrn::ListAll | Vrn::ListRecursive))
    names.push_back(entry.fullPath.Mid(root.Length() + 1).ToStdString());
  return names;
}

// The text the reader itself gives for the archive (opening, then extracting everything).
CUnicodeString ReaderErrorText(const CUnicodeString& archivePath, const CUnicodeString& destination) {
  Zlib::CZipArchive archive;
  Vrn::CExceptionPtr error = TestSupport::CatchVrn([&] { archive.Open(archivePath); });
  if (!error) error = TestSupport::CatchVrn([&] { archive.Extract(L"", destination); });
  return error ? error->MessageText() : CUnicodeString();
}

class ZipExtractionTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CTempFolder sandbox;
};

}  // namespace

// The happy path of ZipExtract runs under msiexec in Tests/EndToEnd/zip-install.
TEST_F(ZipExtractionTest, ZipExtractWithoutBothPathsTouchesNothing) {
  package.Open();
  const CUnicodeString archive = Corpus(L"infozip_tree.zip");
  for (const auto& [source, target] :
       {std::pair{archive, CUnicodeString()}, std::pair{CUnicodeString(), sandbox / L"out"}}) {
    package.SetProperty(L"ZipExtract_SrcPath", source);
    package.SetProperty(L"ZipExtract_DstPath", target);
    EXPECT_EQ(package.Call("ZipExtract"), 0u);
    EXPECT_TRUE(Tree(sandbox.Path()).empty());
  }
}

TEST_F(ZipExtractionTest, HostileArchivesFailWithTheReadersTextAndStayInside) {
  package.Open();
  std::wistringstream manifest(
      CUnicodeString::FromUtf8(TestSupport::ReadBytes(Corpus(L"hostile.manifest"))).ToStdString());
  size_t replayed = 0;
  for (std::wstring line; std::getline(manifest, line);) {
    const std::wstring file = line.substr(0, line.find(L'\t'));
    if (file.empty()) continue;
    SCOPED_TRACE(CUnicodeString(file).ToUtf8());
    TestSupport::CTempFolder room;
    const CUnicodeString destination = room / L"dest";
    package.SetProperty(L"ZipExtract_SrcPath", Corpus(file));
    package.SetProperty(L"ZipExtract_DstPath", destination);
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(package.Call("ZipExtract"), 1603u);
    for (const std::wstring& written : Tree(room.Path())) EXPECT_TRUE(written.starts_with(L"dest")) << written;
    const CUnicodeString expected = ReaderErrorText(Corpus(file), room / L"check");
    ASSERT_FALSE(expected.IsEmpty());
    EXPECT_NE(ActionLog(package).Mid(logged).Find(expected), CUnicodeString::npos) << expected;
    ++replayed;
  }
  EXPECT_GT(replayed, 40u);
}

TEST_F(ZipExtractionTest, TableRowsFollowComponentStatesAndEarlierRowsStay) {
  SessionTests::AddTestFeatures(package);
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_Zip"));
  const std::vector<CUnicodeString> columns = {L"Id", L"Component", L"Source", L"Target"};
  package.Insert(L"OV_Zip", columns, {L"tree.zip", L"MainComp", L"TARGETDIR", L"INSTALLDIR"});
  package.Insert(L"OV_Zip", columns, {L"skipped.zip", L"OffComp", L"TARGETDIR", L"INSTALLDIR"});
  package.Insert(L"OV_Zip", columns, {L"zz_traversal.zip", L"MainComp", L"TARGETDIR", L"INSTALLDIR"});
  const MSIHANDLE session = package.Open(true);
  ASSERT_EQ(MsiSetTargetPathW(session, L"INSTALLDIR", sandbox.Path().c_str()), 0u);
  wchar_t sourceFolder[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  ASSERT_EQ(MsiGetSourcePathW(session, L"TARGETDIR", sourceFolder, &length), 0u);
  const CUnicodeString source(sourceFolder);
  ASSERT_TRUE(CopyFileW(Corpus(L"infozip_tree.zip").c_str(), (source + L"tree.zip").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(Corpus(L"sevenzip_tree.zip").c_str(), (source + L"skipped.zip").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(Corpus(L"traversal_dotdot_slash.zip").c_str(), (source + L"zz_traversal.zip").c_str(), FALSE));

  EXPECT_EQ(package.Call("OV_Zip_Extract"), 1603u);
  EXPECT_TRUE(Vrn::FileExists(sandbox / L"docs\\deep\\tiny.dat"));  // the first row stays extracted
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"zip File: " + source + L"tree.zip\r\n\r\n"), CUnicodeString::npos) << log;
  EXPECT_EQ(log.Find(L"skipped.zip"), CUnicodeString::npos);  // its component is not installed
  EXPECT_NE(log.Find(L"zip File: " + source + L"zz_traversal.zip"), CUnicodeString::npos);
  for (const std::wstring& written : Tree(sandbox.Path())) EXPECT_EQ(written.find(L".."), std::wstring::npos);
}

TEST_F(ZipExtractionTest, EmptyArchiveAndMissingTableFail) {
  package.AddProperty(L"ZipExtract_SrcPath", Corpus(L"empty_archive.zip"));
  package.AddProperty(L"ZipExtract_DstPath", sandbox / L"out");
  package.Open();
  EXPECT_EQ(package.Call("ZipExtract"), 1603u);
  EXPECT_NE(ActionLog(package).Find(L"was not found in the zip archive"), CUnicodeString::npos);
  EXPECT_EQ(package.Call("OV_Zip_Extract"), 1603u);  // the package has no OV_Zip table
}
