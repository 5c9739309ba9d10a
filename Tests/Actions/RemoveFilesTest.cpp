// The removal, rename, path and upgrade save/restore actions on real folder trees inside the test's
// own temporary folder. RemoveFilesAddFolders runs in this program, so that the scripted user
// interface answers its question; the others are called through OrvantCA.dll.
#include <gtest/gtest.h>

#include "CoreFixtures.h"
#include "FileTestSupport.h"
#include "Files.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using FileTests::Exists;
using FileTests::WriteText;
using SessionTests::ActionLog;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall RemoveFilesAddFolders(MSIHANDLE session);

class RemoveFilesTest : public ::testing::Test {
 protected:
  bool Logged(const CUnicodeString& text) const { return ActionLog(package).Find(text) != CUnicodeString::npos; }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTempFolder folder;
  TestSupport::CTestPackage package;
};

TEST_F(RemoveFilesTest, RemoveFilesAddFoldersKeepsExclusionsAndSkipsDotNames) {
  const CUnicodeString tree = folder / L"tree";
  WriteText(tree + L"\\plain.txt", "x");
  WriteText(tree + L"\\readonly.txt", "x");
  SetFileAttributesW((tree + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  WriteText(tree + L"\\Keep\\kept.txt", "x");
  WriteText(tree + L"\\sub\\deep.txt", "x");
  WriteText(folder / L"other\\.hidden", "x");
  WriteText(folder / L"loose\\a.log", "x");
  WriteText(folder / L"loose\\b.log", "x");
  WriteText(folder / L"loose\\c.txt", "x");
  // The pattern's folder is found on the current drive.
  FileTests::CCurrentDirectory onTheTempDrive(folder.Path());
  package.AddProperty(L"RFF_LIST", tree + L"|" + (folder / L"other") + L"||" + (folder / L"missing.txt") + L"|" +
                                       (folder / L"loose\\*.log"));
  package.AddProperty(L"RFF_EXC_LIST", L"Keep|keep.txt");
  package.Open();

  EXPECT_EQ(RemoveFilesAddFolders(package.Session()), 0u);
  EXPECT_TRUE(Exists(tree + L"\\Keep\\kept.txt"));
  for (const wchar_t* gone : {L"\\plain.txt", L"\\readonly.txt", L"\\sub"}) EXPECT_FALSE(Exists(tree + gone)) << gone;
  EXPECT_TRUE(Exists(folder / L"other\\.hidden"));  // and so its folder stays too
  EXPECT_FALSE(Exists(folder / L"loose\\a.log"));
  EXPECT_FALSE(Exists(folder / L"loose\\b.log"));
  EXPECT_TRUE(Exists(folder / L"loose\\c.txt"));
  EXPECT_EQ(package.Property(L"RFF_IsLock"), L"");
  EXPECT_EQ(package.Property(L"RFF_IsAbort"), L"");
  EXPECT_TRUE(Logged(L"Cannot find: " + (folder / L"missing.txt") + L"\r\n"));
  EXPECT_TRUE(Logged(L"delDir:" + tree + L"\r\nRemove: " + tree + L"\r\nCannot remove: " + tree + L"\r\n"));
}

TEST_F(RemoveFilesTest, ALockedFileAsksAbortRetryIgnore) {
  const struct {
    std::vector<int> answers;
    const wchar_t *locked, *aborted;
    bool laterItemRemoved;
    UINT result;
  } cases[] = {
      {{IDIGNORE}, L"Yes", L"", true, 0},
      {{IDRETRY, IDIGNORE}, L"Yes", L"", true, 0},
      {{IDABORT}, L"Yes", L"Yes", false, 0},
      {{IDOK}, L"", L"", false, ERROR_INSTALL_FAILURE},
  };
  package.AddProperty(L"RFF_UI", L"1");
  package.Open();
  package.SetProperty(L"UILevel", L"5");
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers.size() == 2 ? "retry" : std::to_string(c.answers[0]));
    TestSupport::CTempFolder work;
    WriteText(work / L"busy.txt", "x");
    WriteText(work / L"later.txt", "x");
    FileTests::CLockedFile lock(work / L"busy.txt");
    package.SetProperty(L"RFF_LIST", (work / L"busy.txt") + L"|" + (work / L"later.txt"));
    package.SetProperty(L"RFF_IsLock", L"");
    package.SetProperty(L"RFF_IsAbort", L"");
    ui.shown.clear();
    ui.answers = c.answers;

    EXPECT_EQ(RemoveFilesAddFolders(package.Session()), c.result);
    ASSERT_EQ(ui.shown.size(), c.answers.size());
    EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ABORTRETRYIGNORE | MB_ICONERROR));
    EXPECT_TRUE(Exists(work / L"busy.txt"));
    EXPECT_NE(Exists(work / L"later.txt"), c.laterItemRemoved);
    EXPECT_EQ(package.Property(L"RFF_IsLock"), c.locked);
    EXPECT_EQ(package.Property(L"RFF_IsAbort"), c.aborted);
  }
  EXPECT_TRUE(Logged(L"remove exception: "));
}

TEST_F(RemoveFilesTest, RemoveAddFoldersKeepsTheExceptionAndReportsTheLastFolder) {
  WriteText(folder / L"a\\busy.txt", "x");
  WriteText(folder / L"a\\sub\\keep\\kept.txt", "x");
  WriteText(folder / L"b\\x.txt", "x");
  SetFileAttributesW((folder / L"b\\x.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  FileTests::CLockedFile lock(folder / L"a\\busy.txt");
  package.AddProperty(L"MT_REMOVEADDFOLDERS_EXCEPTION", L"keep");
  package.Open();
  const struct {
    CUnicodeString list;
    const wchar_t* isLock;
  } cases[] = {
      {L"||", L"(unset)"},
      {L"||" + (folder / L"b") + L"|" + (folder / L"a"), L"Yes"},
  };
  for (const auto& c : cases) {
    package.SetProperty(L"MT_REMOVEADDFOLDERS", c.list);
    package.SetProperty(L"RemoveAddFolders_IsLock", L"(unset)");
    EXPECT_EQ(package.Call("RemoveAddFolders"), 0u);
    EXPECT_EQ(package.Property(L"RemoveAddFolders_IsLock"), c.isLock) << c.list;
  }
  EXPECT_TRUE(Logged(L"folder: 1 : " + (folder / L"a") + L"\r\n"));
  EXPECT_FALSE(Exists(folder / L"b"));
  EXPECT_TRUE(Exists(folder / L"a\\sub\\keep\\kept.txt"));
  // Unlocked, the folder goes, except the exception's branch.
  lock.Unlock();
  package.SetProperty(L"MT_REMOVEADDFOLDERS", folder / L"a");
  EXPECT_EQ(package.Call("RemoveAddFolders"), 0u);
  EXPECT_EQ(package.Property(L"RemoveAddFolders_IsLock"), L"Yes");  // "a" still holds "sub\keep"
  EXPECT_FALSE(Exists(folder / L"a\\busy.txt"));
  EXPECT_TRUE(Exists(folder / L"a\\sub\\keep\\kept.txt"));
}

TEST_F(RemoveFilesTest, RemoveFilesLogsEachCode) {
  WriteText(folder / L"a.txt", "x");
  package.AddProperty(L"MT_REMOVE_FILES", L"|" + (folder / L"a.txt") + L"|" + (folder / L"missing.txt"));
  package.Open();
  EXPECT_EQ(package.Call("RemoveFiles"), 0u);
  EXPECT_FALSE(Exists(folder / L"a.txt"));
  EXPECT_TRUE(
      Logged(L"Remove: " + (folder / L"a.txt") + L" : 1\r\nRemove: " + (folder / L"missing.txt") + L" : 2\r\n"));
  package.SetProperty(L"MT_REMOVE_FILES", L"|");
  EXPECT_EQ(package.Call("RemoveFiles"), 0u);
  EXPECT_TRUE(Logged(L"Empty Property: MT_REMOVE_FILES\r\n"));
}

TEST_F(RemoveFilesTest, RenameAndPathQuestions) {
  WriteText(folder / L"old.txt", "x");
  package.AddProperty(L"RenameSrc", folder / L"old.txt");
  package.AddProperty(L"RenameDst", folder / L"new.txt");
  package.AddProperty(L"GET_DIR_BY_FILE", L"C:\\Data\\app.cfg");
  package.AddProperty(L"GET_FILE_NAME", L"C:\\Data\\app.cfg");
  package.Open();
  EXPECT_EQ(package.Call("RenameFile"), 0u);
  EXPECT_TRUE(Exists(folder / L"new.txt"));
  EXPECT_EQ(package.Call("RenameFile"), static_cast<UINT>(ERROR_INSTALL_FAILURE));  // the source is gone
  EXPECT_TRUE(Logged(L"RenameFile src:" + (folder / L"old.txt") + L"\r\nRenameFile dst:"));
  EXPECT_EQ(package.Call("GetDirByFile"), 0u);
  EXPECT_EQ(package.Property(L"GET_DIR_BY_FILE"), L"C:\\Data\\");
  EXPECT_EQ(package.Call("GetShortFileName"), 0u);
  EXPECT_EQ(package.Property(L"GET_FILE_NAME"), L"app.cfg");
}

TEST_F(RemoveFilesTest, RemoveTrigrammsDeletesTheDictionaryFiles) {
  for (const wchar_t* name : {L"a.amt", L"{1}.amd", L"VerData.prt", L"plain.amd", L"keep.txt"})
    WriteText(folder / name, "x");
  SetFileAttributesW((folder / L"VerData.prt").c_str(), FILE_ATTRIBUTE_READONLY);
  package.AddProperty(L"INSTALLDIR", folder.Path());
  package.Open();
  EXPECT_EQ(package.Call("RemoveTrigramms"), 0u);
  for (const wchar_t* gone : {L"a.amt", L"{1}.amd", L"VerData.prt"}) EXPECT_FALSE(Exists(folder / gone)) << gone;
  EXPECT_TRUE(Exists(folder / L"plain.amd"));
  EXPECT_TRUE(Exists(folder / L"keep.txt"));
}

// An upgrade: files saved from the old installation, the old files removed, and the saved files
// copied back into the new installation's folder.
TEST_F(RemoveFilesTest, UpgradeSavesAndRestoresFiles) {
  const CUnicodeString old = folder / L"old", installed = folder / L"new", temp = folder / L"temp";
  WriteText(old + L"\\a.ini", "saved a");
  WriteText(old + L"\\b.ini", "saved b");
  WriteText(old + L"\\other.txt", "left");
  WriteText(old + L"\\data\\one.dat", "saved data");
  WriteText(folder / L"single.cfg", "single");
  WriteText(installed + L"\\data\\stale.dat", "stale");
  WriteText(installed + L"\\in-place.xml", "in place");
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_SaveFilesOnUpgrade"));
  for (const wchar_t* directory : {L"TEMP_FOLDER_ON_UPGRADE", L"NEWDIR"})
    package.Insert(L"Directory", {L"Directory", L"Directory_Parent", L"DefaultDir"}, {directory, L"TARGETDIR", L"."});
  package.AddProperty(L"TEMP_FOLDER_ON_UPGRADE", temp);
  package.AddProperty(L"NEWDIR", installed);
  package.AddProperty(L"OLD", old);
  package.AddProperty(L"OLDFILE", folder / L"single.cfg");
  package.AddProperty(L"SAME", installed);
  const std::vector<CUnicodeString> columns{L"Id", L"SourceDir", L"DestinationDir", L"FilesTemplate"};
  package.Insert(L"OV_SaveFilesOnUpgrade", columns, {L"ini", L"OLD", L"NEWDIR", L"*.ini"});
  package.Insert(L"OV_SaveFilesOnUpgrade", columns, {L"data", L"OLD", L"NEWDIR", L"data"});
  package.Insert(L"OV_SaveFilesOnUpgrade", columns, {L"single", L"OLDFILE", L"NEWDIR", TestSupport::CCell::Null()});
  package.Insert(L"OV_SaveFilesOnUpgrade", columns, {L"same", L"SAME", L"NEWDIR", L"*.xml"});
  package.Open(true);
  CUnicodeString upperCased = installed;
  package.SetProperty(L"SAME", upperCased.MakeUpper());

  EXPECT_EQ(package.Call("CopyFilesToTempFolder"), 0u);
  for (const wchar_t* saved : {L"\\a.ini", L"\\b.ini", L"\\data\\one.dat", L"\\single.cfg", L"\\in-place.xml"})
    EXPECT_TRUE(Exists(temp + saved)) << saved;
  EXPECT_FALSE(Exists(temp + L"\\other.txt"));

  EXPECT_EQ(package.Call("RemoveFilesFromSourceFolder"), 0u);
  for (const wchar_t* gone : {L"\\a.ini", L"\\b.ini", L"\\data"}) EXPECT_FALSE(Exists(old + gone)) << gone;
  EXPECT_FALSE(Exists(folder / L"single.cfg"));
  EXPECT_TRUE(Exists(old + L"\\other.txt"));
  EXPECT_TRUE(Exists(installed + L"\\in-place.xml"));  // its source is its destination

  EXPECT_EQ(package.Call("CopyFilesToDestFolder"), 0u);
  EXPECT_EQ(TestSupport::ReadBytes(installed + L"\\a.ini"), "saved a");
  EXPECT_EQ(TestSupport::ReadBytes(installed + L"\\data\\one.dat"), "saved data");
  EXPECT_FALSE(Exists(installed + L"\\data\\stale.dat"));  // the folder was replaced whole
  EXPECT_EQ(TestSupport::ReadBytes(installed + L"\\single.cfg"), "single");

  EXPECT_EQ(package.Call("RemoveFilesFromTempFolder"), 0u);
  EXPECT_TRUE(Vrn::ListDirectory(temp, L"*", Vrn::ListAll).empty());
}
