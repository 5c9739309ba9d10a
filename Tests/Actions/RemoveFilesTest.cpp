// The removal, rename, path and upgrade save/restore actions on real trees in the test's folder.
// Linked folders are Tests/EndToEnd/removal-install's; roots are refused (RemovalGuardTest).
#include "ActionTest.h"

using namespace TestSupport;

class RemoveFilesTest : public ActionTest {
 protected:
  CTempFolder folder;
};

TEST_F(RemoveFilesTest, RemoveFilesAddFoldersKeepsExclusionsAndSkipsDotNames) {
  const CUnicodeString tree = folder / L"tree";
  for (const wchar_t* file :
       {L"tree\\plain.txt", L"tree\\readonly.txt", L"tree\\Keep\\kept.txt", L"tree\\sub\\deep.txt", L"other\\.hidden",
        L"loose\\a.log", L"loose\\b.log", L"loose\\c.txt"})
    WriteText(folder / file, "x");
  ::SetFileAttributesW((tree + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  // The pattern's folder is found on the current drive.
  const CCurrentDirectory onTheTempDrive(folder.Path());
  package.AddProperty(L"RFF_EXC_LIST", L"Keep|keep.txt");
  Open();
  RunCases({{"RemoveFilesAddFolders",
             {{L"RFF_LIST", tree + L"|" + (folder / L"other") + L"||" + (folder / L"missing.txt") + L"|" +
                                (folder / L"loose\\*.log")}},
             L"RFF_IsLock=|RFF_IsAbort="}});
  EXPECT_TRUE(Exists(tree + L"\\Keep\\kept.txt"));
  for (const wchar_t* gone : {L"\\plain.txt", L"\\readonly.txt", L"\\sub"}) EXPECT_FALSE(Exists(tree + gone)) << gone;
  EXPECT_TRUE(Exists(folder / L"other\\.hidden"));  // and so its folder stays too
  EXPECT_FALSE(Exists(folder / L"loose\\a.log") || Exists(folder / L"loose\\b.log"));
  EXPECT_TRUE(Exists(folder / L"loose\\c.txt"));
  EXPECT_TRUE(Logged(L"Cannot find: " + (folder / L"missing.txt") + L"\r\n"));
}

// The failure text comes from the system; the box asks Abort, Retry or Ignore.
TEST_F(RemoveFilesTest, ALockedFileAsksAbortRetryIgnore) {
  package.AddProperty(L"RFF_UI", L"1");
  Open();
  const std::tuple<std::vector<int>, const wchar_t*, const wchar_t*, bool, UINT> cases[] = {
      {{IDIGNORE}, L"Yes", L"", true, 0},
      {{IDRETRY, IDIGNORE}, L"Yes", L"", true, 0},
      {{IDABORT}, L"Yes", L"Yes", false, 0},
      {{IDOK}, L"", L"", false, ERROR_INSTALL_FAILURE},
  };
  for (const auto& [answers, locked, aborted, laterItemRemoved, result] : cases) {
    CTempFolder work;
    WriteText(work / L"busy.txt", "x");
    WriteText(work / L"later.txt", "x");
    const Vrn::CFileHandle lock = HoldOpen(work / L"busy.txt");
    ui.answers = answers;
    Set({{L"RFF_LIST", (work / L"busy.txt") + L"|" + (work / L"later.txt")},
         {L"RFF_IsLock", L""},
         {L"RFF_IsAbort", L""}});
    EXPECT_EQ(Call("RemoveFilesAddFolders"), result);
    const std::vector<CBox> boxes = Boxes();
    ASSERT_EQ(boxes.size(), answers.size());
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ABORTRETRYIGNORE | MB_ICONERROR));
    EXPECT_TRUE(Exists(work / L"busy.txt"));
    EXPECT_NE(Exists(work / L"later.txt"), laterItemRemoved);
    Expect({{L"RFF_IsLock", locked}, {L"RFF_IsAbort", aborted}});
  }
}

TEST_F(RemoveFilesTest, RemoveAddFoldersKeepsTheExceptionAndReportsTheLastFolder) {
  WriteText(folder / L"a\\busy.txt", "x");
  WriteText(folder / L"a\\sub\\keep\\kept.txt", "x");
  WriteText(folder / L"b\\x.txt", "x");
  ::SetFileAttributesW((folder / L"b\\x.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  Vrn::CFileHandle lock = HoldOpen(folder / L"a\\busy.txt");
  package.AddProperty(L"MT_REMOVEADDFOLDERS_EXCEPTION", L"keep");
  Open();
  RunCases({{"RemoveAddFolders",
             {{L"MT_REMOVEADDFOLDERS", L"||"}, {L"RemoveAddFolders_IsLock", L"(unset)"}},
             L"RemoveAddFolders_IsLock=(unset)"},
            {"RemoveAddFolders",
             {{L"MT_REMOVEADDFOLDERS", L"||" + (folder / L"b") + L"|" + (folder / L"a")}},
             L"RemoveAddFolders_IsLock=Yes"}});
  EXPECT_FALSE(Exists(folder / L"b"));
  EXPECT_TRUE(Exists(folder / L"a\\sub\\keep\\kept.txt"));
  // Unlocked, the folder goes, except the exception's branch ("a" still holds "sub\keep").
  lock.Reset();
  RunCases({{"RemoveAddFolders", {{L"MT_REMOVEADDFOLDERS", folder / L"a"}}, L"RemoveAddFolders_IsLock=Yes"}});
  EXPECT_FALSE(Exists(folder / L"a\\busy.txt"));
  EXPECT_TRUE(Exists(folder / L"a\\sub\\keep\\kept.txt"));
}

// RemoveFiles reports only in the log: each file's code, or the empty list.
TEST_F(RemoveFilesTest, RemoveFilesLogsEachCode) {
  WriteText(folder / L"a.txt", "x");
  Open();
  RunCases({{"RemoveFiles", {{L"MT_REMOVE_FILES", L"|" + (folder / L"a.txt") + L"|" + (folder / L"missing.txt")}}},
            {"RemoveFiles", {{L"MT_REMOVE_FILES", L"|"}}}});
  EXPECT_FALSE(Exists(folder / L"a.txt"));
  EXPECT_TRUE(
      Logged(L"Remove: " + (folder / L"a.txt") + L" : 1\r\nRemove: " + (folder / L"missing.txt") + L" : 2\r\n"));
  EXPECT_TRUE(Logged(L"Empty Property: MT_REMOVE_FILES\r\n"));
}

TEST_F(RemoveFilesTest, RenameAndPathQuestions) {
  WriteText(folder / L"old.txt", "x");
  package.AddProperties(L"RenameSrc=" + folder / L"old.txt" + L"|RenameDst=" + folder / L"new.txt");
  Open();
  RunCases({{"RenameFile"},
            {"RenameFile", L"", L"", 1603},  // the source is gone
            {"GetDirByFile", L"GET_DIR_BY_FILE=C:\\Data\\app.cfg", L"GET_DIR_BY_FILE=C:\\Data\\"},
            {"GetShortFileName", L"GET_FILE_NAME=C:\\Data\\app.cfg", L"GET_FILE_NAME=app.cfg"}});
  EXPECT_TRUE(Exists(folder / L"new.txt"));
}

TEST_F(RemoveFilesTest, RemoveTrigrammsDeletesTheDictionaryFiles) {
  for (const wchar_t* name : {L"a.amt", L"{1}.amd", L"VerData.prt", L"plain.amd", L"keep.txt"})
    WriteText(folder / name, "x");
  ::SetFileAttributesW((folder / L"VerData.prt").c_str(), FILE_ATTRIBUTE_READONLY);
  package.AddProperty(L"INSTALLDIR", folder.Path());
  Open();
  RunCases({{"RemoveTrigramms"}});
  for (const wchar_t* gone : {L"a.amt", L"{1}.amd", L"VerData.prt"}) EXPECT_FALSE(Exists(folder / gone)) << gone;
  EXPECT_TRUE(Exists(folder / L"plain.amd") && Exists(folder / L"keep.txt"));
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
  package.ImportTable(TableSchemaPath(L"OV_SaveFilesOnUpgrade"));
  for (const wchar_t* directory : {L"TEMP_FOLDER_ON_UPGRADE", L"NEWDIR"})
    package.Insert(L"Directory", {L"Directory", L"Directory_Parent", L"DefaultDir"}, {directory, L"TARGETDIR", L"."});
  package.AddProperties(L"TEMP_FOLDER_ON_UPGRADE=" + temp + L"|NEWDIR=" + installed + L"|OLD=" + old + L"|OLDFILE=" +
                        folder / L"single.cfg" + L"|SAME=" + installed);
  const std::vector<CUnicodeString> columns{L"Id", L"SourceDir", L"DestinationDir", L"FilesTemplate"};
  package.Insert(L"OV_SaveFilesOnUpgrade", columns, {L"ini", L"OLD", L"NEWDIR", L"*.ini"});
  package.Insert(L"OV_SaveFilesOnUpgrade", columns, {L"data", L"OLD", L"NEWDIR", L"data"});
  package.Insert(L"OV_SaveFilesOnUpgrade", columns, {L"single", L"OLDFILE", L"NEWDIR", CCell::Null()});
  package.Insert(L"OV_SaveFilesOnUpgrade", columns, {L"same", L"SAME", L"NEWDIR", L"*.xml"});
  Open(true);
  CUnicodeString upperCased = installed;
  Set({{L"SAME", upperCased.MakeUpper()}});

  RunCases({{"CopyFilesToTempFolder"}});
  for (const wchar_t* saved : {L"\\a.ini", L"\\b.ini", L"\\data\\one.dat", L"\\single.cfg", L"\\in-place.xml"})
    EXPECT_TRUE(Exists(temp + saved)) << saved;
  EXPECT_FALSE(Exists(temp + L"\\other.txt"));

  RunCases({{"RemoveFilesFromSourceFolder"}});
  for (const wchar_t* gone : {L"\\a.ini", L"\\b.ini", L"\\data"}) EXPECT_FALSE(Exists(old + gone)) << gone;
  EXPECT_FALSE(Exists(folder / L"single.cfg"));
  EXPECT_TRUE(Exists(old + L"\\other.txt"));
  EXPECT_TRUE(Exists(installed + L"\\in-place.xml"));  // its source is its destination

  RunCases({{"CopyFilesToDestFolder"}});
  EXPECT_EQ(ReadBytes(installed + L"\\a.ini"), "saved a");
  EXPECT_EQ(ReadBytes(installed + L"\\data\\one.dat"), "saved data");
  EXPECT_FALSE(Exists(installed + L"\\data\\stale.dat"));  // the folder was replaced whole
  EXPECT_EQ(ReadBytes(installed + L"\\single.cfg"), "single");

  RunCases({{"RemoveFilesFromTempFolder"}});
  EXPECT_TRUE(Vrn::ListDirectory(temp, L"*", Vrn::ListAll).empty());
}
