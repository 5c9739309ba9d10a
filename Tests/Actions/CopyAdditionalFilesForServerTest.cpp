// The server and disk copies, the administrative image removal, the source's parent and its package,
// and the single file copy; the packages' source is the folder the test package was built in.
#include "ActionTest.h"
#include "FileOperations.h"

using namespace TestSupport;

class ServerCopyTest : public ActionTest {
 protected:
  // The package's folder: the source path of TARGETDIR.
  CUnicodeString SourceFolder() const {
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    MsiGetSourcePathW(package.Session(), L"TARGETDIR", path, &length);
    return path;
  }
  void AddPatterns(const wchar_t* table, std::initializer_list<const wchar_t*> patterns) {
    package.ImportTable(TableSchemaPath(table));
    for (const wchar_t* pattern : patterns) package.Insert(table, {L"FilesTemplate"}, {pattern});
  }
  CTempFolder folder;
};

TEST_F(ServerCopyTest, CopiesFromTheSourceIntoTheInstalledFolder) {
  AddPatterns(L"OV_AddFiles", {L"*.cfg", L"Tools", L"..\\OrvServerCopyParent.txt"});
  package.AddProperty(L"TARGETDIR", folder / L"inst");
  Open(true);
  const CUnicodeString source = SourceFolder();
  WriteText(source + L"a.cfg", "new a");
  WriteText(source + L"Tools\\tool.exe", "new tool");
  const CUnicodeString parentFile = Msi::PathFolderPart(source.Left(source.Length() - 1)) + L"OrvServerCopyParent.txt";
  WriteText(parentFile, "from the parent");
  WriteText(folder / L"inst\\a.cfg", "old a");
  SetFileAttributesW((folder / L"inst\\a.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteText(folder / L"inst\\Tools\\mine.txt", "mine");
  package.SetProperty(L"SOURCEDIR", source);

  EXPECT_EQ(package.Call("CopyAdditionalFilesForServer2"), 0u);
  EXPECT_EQ(ReadBytes(folder / L"inst\\a.cfg"), "new a");
  EXPECT_EQ(ReadBytes(folder / L"inst\\Tools\\tool.exe"), "new tool");
  EXPECT_TRUE(Exists(folder / L"inst\\Tools\\mine.txt"));  // folders are merged into
  EXPECT_EQ(ReadBytes(folder / L"OrvServerCopyParent.txt"), "from the parent");
  DeleteFileW(parentFile.c_str());

  // The first variant copies files only, by name, and clears the copies' read-only bit.
  DeleteFileW((folder / L"inst\\Tools\\tool.exe").c_str());
  SetFileAttributesW((source + L"a.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(package.Call("CopyAdditionalFilesForServer1"), 0u);
  EXPECT_EQ(GetFileAttributesW((folder / L"inst\\a.cfg").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(Exists(folder / L"inst\\Tools\\tool.exe"));

  // The plain variant reads SOURCEDIR; an empty one is an error.
  EXPECT_EQ(package.Call("CopyAdditionalFilesForServer"), 0u);
  EXPECT_TRUE(Exists(folder / L"inst\\Tools\\tool.exe"));
  RunCases({{"CopyAdditionalFilesForServer", L"SOURCEDIR=", L"", 1603}});
}

TEST_F(ServerCopyTest, ExtCopiesIntoEachRowsTarget) {
  package.ImportTable(TableSchemaPath(L"OV_AddFilesExt"));
  package.Insert(L"OV_AddFilesExt", {L"FilesTemplate", L"Target"}, {L"*.dll", L"bin"});
  package.Insert(L"OV_AddFilesExt", {L"FilesTemplate", L"Target"}, {L"*.txt", CCell::Null()});
  package.Insert(L"OV_AddFilesExt", {L"FilesTemplate", L"Target"}, {L"*.nothing", L"never"});
  package.AddProperty(L"TARGETDIR", folder / L"inst");
  Open(true);
  WriteText(SourceFolder() + L"x.dll", "dll");
  WriteText(SourceFolder() + L"readme.txt", "txt");
  EXPECT_EQ(package.Call("CopyAdditionalFilesForServerExt"), 0u);
  EXPECT_EQ(ReadBytes(folder / L"inst\\bin\\x.dll"), "dll");
  EXPECT_EQ(ReadBytes(folder / L"inst\\readme.txt"), "txt");
  EXPECT_FALSE(Exists(folder / L"inst\\never"));
}

TEST_F(ServerCopyTest, CopyFilesFromDiskToCompReadsTheNamedTable) {
  AddPatterns(L"OV_CopyFromDisk", {L"*.dic"});
  package.Execute(L"CREATE TABLE `MyFiles` (`FilesTemplate` CHAR(255) NOT NULL PRIMARY KEY `FilesTemplate`)");
  package.Insert(L"MyFiles", {L"FilesTemplate"}, {L"*.txt"});
  WriteText(folder / L"disk\\a.dic", "dic");
  WriteText(folder / L"disk\\b.txt", "txt");
  package.AddProperties(L"COPY_SOURCE=" + folder / L"disk" + L"|COPYDESTINATION=" + folder / L"dest");
  Open();
  RunCases({{"CopyFilesFromDiskToComp", L"COPY_TABLE_NAME="}});  // the default table
  EXPECT_TRUE(Exists(folder / L"dest\\a.dic") && !Exists(folder / L"dest\\b.txt"));
  RunCases({{"CopyFilesFromDiskToComp", L"COPY_TABLE_NAME=MyFiles"},
            {"CopyFilesFromDiskToComp", L"COPY_TABLE_NAME=OV_Missing", L"", 1603},
            {"CopyFilesFromDiskToComp", L"COPYDESTINATION=", L"", 1603}});
  EXPECT_TRUE(Exists(folder / L"dest\\b.txt"));
}

TEST_F(ServerCopyTest, RemoveAdminPackageFromServerRemovesTheListedEntries) {
  AddPatterns(L"OV_AddFiles", {L"*.cab"});
  package.ImportTable(TableSchemaPath(L"OV_AdmInst"));
  package.Insert(L"OV_AdmInst", {L"Name"}, {L"Setup"});
  package.AddProperty(L"PROD_APPDATA_PATH", L"OrvTest\\Product");
  Open();
  const CUnicodeString image = folder / L"image";
  WriteText(image + L"\\data1.cab", "x");
  WriteText(image + L"\\Setup\\setup.exe", "x");
  WriteText(image + L"\\product.msi", "x");
  // Without the registry value nothing happens.
  EXPECT_EQ(package.Call("RemoveAdminPackageFromServer"), 0u);
  EXPECT_TRUE(Exists(image + L"\\data1.cab"));
  Vrn::CRegistryKey key;
  ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvTest\\Product\\Installer", Vrn::RegistryMode::Write));
  key.WriteString(L"AdminPackagePath", image);
  EXPECT_EQ(package.Call("RemoveAdminPackageFromServer"), 0u);
  EXPECT_FALSE(Exists(image + L"\\data1.cab"));
  EXPECT_FALSE(Exists(image + L"\\Setup"));
  EXPECT_TRUE(Exists(image + L"\\product.msi"));
}

TEST_F(ServerCopyTest, ParentSourceFolderAndItsOnePackage) {
  Open(true);
  EXPECT_EQ(package.Call("SetPARENT_SRCDIR"), 0u);
  const CUnicodeString source = SourceFolder();
  EXPECT_EQ(package.Property(L"PARENT_SRCDIR"), source.Left(source.Left(source.Length() - 1).ReverseFind(L'\\')));
  Set({{L"PARENT_SRCDIR", folder.Path()}});
  // One package in the folder, whatever else is there; none or two fail.
  RunCases({{"Get_MSIFILENAME", L"MSIFILENAME=kept", L"MSIFILENAME=kept", 1603}});
  WriteText(folder / L"Product.msi", "x");
  WriteText(folder / L"notes.txt", "x");
  RunCases({{"Get_MSIFILENAME", {}, L"MSIFILENAME=Product.msi"}});
  WriteText(folder / L"b.msi", "x");
  RunCases({{"Get_MSIFILENAME", L"MSIFILENAME=kept", L"MSIFILENAME=kept", 1603}});
}

TEST_F(ServerCopyTest, OVCopyFileReplacesAndClearsReadOnly) {
  WriteText(folder / L"src.txt", "content");
  SetFileAttributesW((folder / L"src.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  package.AddProperties(L"COPY_FILE_SRC=" + folder / L"src.txt" + L"|COPY_FILE_DST=" + folder / L"dst.txt");
  Open();
  EXPECT_EQ(package.Call("OVCopyFile"), 0u);
  EXPECT_EQ(ReadBytes(folder / L"dst.txt"), "content");
  EXPECT_EQ(GetFileAttributesW((folder / L"dst.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  package.SetProperty(L"COPY_FILE_SRC", folder / L"gone.txt");
  package.SetProperty(L"COPY_FILE_DST", folder / L"never.txt");
  EXPECT_EQ(package.Call("OVCopyFile"), 1603u);
  EXPECT_FALSE(Exists(folder / L"never.txt"));
}
