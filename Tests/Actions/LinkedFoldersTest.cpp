// Links planted where a standard user can create entries, below the folders that elevated actions
// write into: the zip extraction target, the upgrade temporary folder, a server copy's destination
// and the custom-action log's folder. Each action refuses with 1603 (counted, the path and the link
// in its log) and nothing outside is written.
#include "ActionTest.h"
#include "ArchiveWriter.h"
#include "CustomActionLog.h"

using TestSupport::CUnicodeString;

namespace {

class LinkedFoldersTest : public TestSupport::ActionTest {
 protected:
  LinkedFoldersTest() { TestSupport::WriteText(outside + L"\\precious.txt", "keep"); }

  // The action fails and counts, its log names the refused path and the link, and the folder the
  // link leads to holds only what it held.
  void ExpectRefused(const char* action, const CUnicodeString& link) {
    RunCases({{action, {}, {}, ERROR_INSTALL_FAILURE}});
    EXPECT_TRUE(Logged(link + L" is a link (a reparse point) inside ")) << Log();
    const auto entries = Vrn::ListDirectory(outside, L"*", Vrn::ListAll | Vrn::ListRecursive);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(TestSupport::ReadBytes(outside + L"\\precious.txt"), "keep");
  }

  TestSupport::CTempFolder folder;
  const CUnicodeString outside = folder / L"outside";
};

TEST_F(LinkedFoldersTest, ZipExtractionIntoALinkedFolder) {
  {
    TestSupport::CArchiveWriter writer(folder / L"samples.zip");
    writer.Add("Samples/readme.txt", TestSupport::kDeflated, "readme");
    writer.Add("Samples/docs/guide.txt", TestSupport::kDeflated, "guide");
    writer.Finish();
  }
  Vrn::CreateDirectoryWithParents(folder / L"install");
  TestSupport::PlantLink(folder / L"install\\Samples", outside);
  Open();
  Set({{L"ZipExtract_SrcPath", folder / L"samples.zip"}, {L"ZipExtract_DstPath", folder / L"install"}});
  ExpectRefused("ZipExtract", folder / L"install\\Samples");
}

TEST_F(LinkedFoldersTest, SavingFilesOnUpgradeIntoALinkedFolder) {
  TestSupport::WriteText(folder / L"old\\data\\one.dat", "saved");
  Vrn::CreateDirectoryWithParents(folder / L"temp");
  TestSupport::PlantLink(folder / L"temp\\data", outside);
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_SaveFilesOnUpgrade"));
  package.Insert(L"Directory", {L"Directory", L"Directory_Parent", L"DefaultDir"},
                 {L"TEMP_FOLDER_ON_UPGRADE", L"TARGETDIR", L"."});
  package.AddProperty(L"TEMP_FOLDER_ON_UPGRADE", folder / L"temp");
  package.AddProperty(L"OLD", folder / L"old");
  package.Insert(L"OV_SaveFilesOnUpgrade", {L"Id", L"SourceDir", L"DestinationDir", L"FilesTemplate"},
                 {L"data", L"OLD", L"TARGETDIR", L"data"});
  Open(true);
  ExpectRefused("CopyFilesToTempFolder", folder / L"temp\\data");
}

TEST_F(LinkedFoldersTest, ServerCopyIntoALinkedFolder) {
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_AddFiles"));
  package.Insert(L"OV_AddFiles", {L"FilesTemplate"}, {L"Tools"});
  package.AddProperty(L"TARGETDIR", folder / L"inst");
  Open(true);
  TestSupport::WriteText(folder / L"source\\Tools\\precious.txt", "overwritten");
  Vrn::CreateDirectoryWithParents(folder / L"inst");
  TestSupport::PlantLink(folder / L"inst\\Tools", outside);
  Set({{L"SOURCEDIR", folder / L"source"}});
  ExpectRefused("CopyAdditionalFilesForServer", folder / L"inst\\Tools");
}

// The log is not an action's result: a linked numbered subfolder is passed over (the log stays in
// the temporary folder), and so is a log name that is a link to a file elsewhere.
TEST_F(LinkedFoldersTest, TheLogPassesOverLinks) {
  const CUnicodeString temp = folder / L"temp";
  Vrn::CreateDirectoryWithParents(temp);
  TestSupport::WriteText(outside + L"\\OrvantMsiLog.txt", "\xFF\xFE");
  TestSupport::PlantLink(temp + L"\\1", outside);
  {
    Msi::CCustomActionLog log(true, temp);
    log << "into the temporary folder";
  }
  EXPECT_TRUE(Vrn::FileExists(temp + L"\\OrvantMsiLog.txt"));

  Vrn::RemoveFile(temp + L"\\OrvantMsiLog.txt");
  TestSupport::PlantLink(temp + L"\\OrvantMsiLog.txt", outside + L"\\precious.txt");
  {
    Msi::CCustomActionLog log(true, temp);
    log << "into the next name";
  }
  EXPECT_TRUE(Vrn::FileExists(temp + L"\\OrvantMsiLog1.txt"));
  EXPECT_EQ(TestSupport::ReadBytes(outside + L"\\OrvantMsiLog.txt"), "\xFF\xFE");
  EXPECT_EQ(TestSupport::ReadBytes(outside + L"\\precious.txt"), "keep");
}

}  // namespace
