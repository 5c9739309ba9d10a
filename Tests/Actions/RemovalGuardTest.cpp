// Removal actions given a drive root or the Windows folder fail before removing anything. They get
// such paths for real, so they run only in the disposable prefix of Tests/EndToEnd/removal-install
// (ORV_DISPOSABLE_PREFIX, one drive C:); anywhere else they skip.
#include "ActionTest.h"

using namespace TestSupport;

namespace {

// Only a disposable prefix whose single drive is C: qualifies.
bool InDisposablePrefix() {
  wchar_t flag[8];
  return GetEnvironmentVariableW(L"ORV_DISPOSABLE_PREFIX", flag, 8) != 0 && GetLogicalDrives() == (1u << 2) &&
         GetDriveTypeW(L"Z:\\") == DRIVE_NO_ROOT_DIR;
}

}  // namespace

class RemovalGuardHostile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InDisposablePrefix()) GTEST_SKIP() << "needs a disposable prefix without drive Z: (removal-install)";
    // Sorted before every other folder of C:, so a removal that started would take it first.
    WriteText(L"C:\\0canary\\keep.txt", "x");
  }
  // The refusal is what stopped the action.
  static void ExpectRefusedSince(const CTestPackage& package, size_t logged) {
    EXPECT_NE(package.LogText().Mid(logged).Find(L"Refused to remove the folder tree: "), CUnicodeString::npos);
  }
  void ExpectNothingRemoved() {
    EXPECT_TRUE(Exists(L"C:\\0canary\\keep.txt"));
    EXPECT_TRUE(Exists(L"C:\\windows\\win.ini"));
    EXPECT_TRUE(Exists(L"C:\\windows\\system32\\msi.dll"));
  }

  CMachineIsolation isolation;
};

TEST_F(RemovalGuardHostile, RootsAndTheWindowsFolderAreRefused) {
  CTestPackage package;
  package.AddProperties(L"IISROOTFOLDER=C:\\inetpub|UWC_MainFolder=apps");
  package.Open();
  CCurrentDirectory onDriveC(L"C:\\users");
  const std::tuple<const char*, const wchar_t*, const wchar_t*> cases[] = {
      {"RemoveAddFolders", L"MT_REMOVEADDFOLDERS", L"C:\\"},
      {"RemoveAddFolders", L"MT_REMOVEADDFOLDERS", L"C:\\windows\\system32\\..\\"},
      {"RemoveFilesAddFolders", L"RFF_LIST", L"C:\\windows"},
      {"RemoveFilesAddFolders", L"RFF_LIST", L"\\*"},  // every folder of the current drive's root
      {"RemoveAddFolders", L"MT_REMOVEADDFOLDERS", L"\\\\?\\C:\\"},
      // The folder of the saved web configurations, which both remove at the end.
      {"UpdateWebConfigs_Make", L"UWC_TempDir", L"C:\\"},
      {"UpdateWebConfigs_Copy", L"UWC_TempDir", L"\\\\"},  // separators only: the current drive's root
  };
  for (const auto& [action, property, value] : cases) {
    package.SetProperty(property, value);
    const size_t logged = package.LogText().Length();
    EXPECT_EQ(package.Call(action), 1603u) << value;
    ExpectRefusedSince(package, logged);
    ExpectNothingRemoved();
  }
}

TEST_F(RemovalGuardHostile, SavedFilesNeverReplaceOrEmptyARoot) {
  CTempFolder temp;
  WriteText(temp / L"windows\\win.ini", "saved");
  CTestPackage package;
  package.Execute(
      L"CREATE TABLE `OV_SaveFilesOnUpgrade` (`Id` CHAR(72) NOT NULL, `SourceDir` CHAR(72) NOT NULL, "
      L"`DestinationDir` CHAR(72), `FilesTemplate` CHAR(255) PRIMARY KEY `Id`)");
  package.Insert(L"OV_SaveFilesOnUpgrade", {L"Id", L"SourceDir", L"DestinationDir", L"FilesTemplate"},
                 {L"all", L"DEMO_SOURCE", L"ROOTDEST", L"*"});
  for (const wchar_t* directory : {L"TEMP_FOLDER_ON_UPGRADE", L"ROOTDEST"})
    package.Insert(L"Directory", {L"Directory", L"Directory_Parent", L"DefaultDir"}, {directory, L"TARGETDIR", L"."});
  package.AddProperties(L"TEMP_FOLDER_ON_UPGRADE=" + temp.Path() + L"|ROOTDEST=C:\\");
  package.Open(true);
  // The saved "windows" folder would replace C:\windows whole.
  size_t logged = package.LogText().Length();
  EXPECT_EQ(package.Call("CopyFilesToDestFolder"), 1603u);
  ExpectRefusedSince(package, logged);
  ExpectNothingRemoved();
  EXPECT_EQ(ReadBytes(L"C:\\windows\\win.ini").find("saved"), std::string::npos);
  // A temporary folder at the root: all of C: would match.
  package.SetProperty(L"TEMP_FOLDER_ON_UPGRADE", L"C:\\");
  MsiSetTargetPathW(package.Session(), L"TEMP_FOLDER_ON_UPGRADE", L"C:\\");
  logged = package.LogText().Length();
  EXPECT_EQ(package.Call("RemoveFilesFromTempFolder"), 1603u);
  ExpectRefusedSince(package, logged);
  ExpectNothingRemoved();
}
