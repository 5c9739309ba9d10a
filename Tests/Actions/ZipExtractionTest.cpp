// The zip extraction actions: missing paths, table rows by component state, the refusals. The happy
// path and a hostile archive under msiexec are zip-install's; hostile archives are ZipCorpusTest's.
#include "ActionTest.h"

using namespace TestSupport;

namespace {

CUnicodeString Corpus(const CUnicodeString& name) { return DataPath(L"zip\\" + name); }

// Relative paths of every file and folder below root, with ".." steps or not.
std::vector<std::wstring> Tree(const CUnicodeString& root) {
  std::vector<std::wstring> names;
  for (const auto& entry : Vrn::ListDirectory(root, L"*", Vrn::ListAll | Vrn::ListRecursive))
    names.push_back(entry.fullPath.Mid(root.Length() + 1).ToStdString());
  return names;
}

}  // namespace

class ZipExtractionTest : public ActionTest {
 protected:
  CTempFolder sandbox;
};

TEST_F(ZipExtractionTest, ZipExtractWithoutBothPathsTouchesNothing) {
  Open();
  RunCases({{"ZipExtract", {{L"ZipExtract_SrcPath", Corpus(L"infozip_tree.zip")}, {L"ZipExtract_DstPath", L""}}},
            {"ZipExtract", {{L"ZipExtract_SrcPath", L""}, {L"ZipExtract_DstPath", sandbox / L"out"}}}});
  EXPECT_TRUE(Tree(sandbox.Path()).empty());
}

TEST_F(ZipExtractionTest, TableRowsFollowComponentStatesAndEarlierRowsStay) {
  package.AddMainAndOffFeatures();
  package.ImportTable(TableSchemaPath(L"OV_Zip"));
  const std::vector<CUnicodeString> columns = {L"Id", L"Component", L"Source", L"Target"};
  package.Insert(L"OV_Zip", columns, {L"tree.zip", L"MainComp", L"TARGETDIR", L"INSTALLDIR"});
  package.Insert(L"OV_Zip", columns, {L"skipped.zip", L"OffComp", L"TARGETDIR", L"INSTALLDIR"});
  package.Insert(L"OV_Zip", columns, {L"zz_traversal.zip", L"MainComp", L"TARGETDIR", L"INSTALLDIR"});
  Open(true);
  ASSERT_EQ(MsiSetTargetPathW(Session(), L"INSTALLDIR", sandbox.Path().c_str()), 0u);
  wchar_t sourceFolder[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  ASSERT_EQ(MsiGetSourcePathW(Session(), L"TARGETDIR", sourceFolder, &length), 0u);
  const CUnicodeString source(sourceFolder);
  for (const auto& [from, to] : {std::pair{L"infozip_tree.zip", L"tree.zip"},
                                 {L"sevenzip_tree.zip", L"skipped.zip"},
                                 {L"traversal_dotdot_slash.zip", L"zz_traversal.zip"}})
    ASSERT_TRUE(::CopyFileW(Corpus(from).c_str(), (source + to).c_str(), FALSE));
  RunCases({{"OV_Zip_Extract", L"", L"", 1603}});
  EXPECT_TRUE(Exists(sandbox / L"docs\\deep\\tiny.dat"));  // the first row stays extracted
  EXPECT_FALSE(Logged(L"skipped.zip"));                    // its component is not installed
  for (const std::wstring& written : Tree(sandbox.Path())) EXPECT_EQ(written.find(L".."), std::wstring::npos);
}

TEST_F(ZipExtractionTest, EmptyArchiveAndMissingTableFail) {
  package.AddProperty(L"ZipExtract_SrcPath", Corpus(L"empty_archive.zip"));
  package.AddProperty(L"ZipExtract_DstPath", sandbox / L"out");
  Open();
  RunCases({{"ZipExtract", L"", L"", 1603}, {"OV_Zip_Extract", L"", L"", 1603}});  // the package has no OV_Zip table
  EXPECT_TRUE(Logged(L"was not found in the zip archive"));
}
