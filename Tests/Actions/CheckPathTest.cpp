// The path, folder and free-space checks with the fake network names and browse dialog; folders are
// real. The verdicts of a plain local install are Tests/EndToEnd/check-path-install's.
#include "ActionTest.h"
#include "FakeNetworkNames.h"
#include "MsiHelper.h"

using namespace TestSupport;

namespace {

CBox Notice(const CUnicodeString& text) { return {text, MB_ICONINFORMATION}; }
CBox Warning(const CUnicodeString& text) { return {text, MB_ICONWARNING}; }

void MakeFile(const CUnicodeString& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL, size_t bytes = 0) {
  WriteText(path, std::string(bytes, 'x'));
  ::SetFileAttributesW(path.c_str(), attributes);
}

}  // namespace

class CheckPathTest : public ActionTest {
 protected:
  void SetUp() override {
    // Every message property the family shows, with markers that make the form visible.
    package.AddProperties(
        L"MT_NetworkLocationPathIsEmpty=Choose a network folder|"
        L"MT_NetworkLocationPathIsNotRemote=Not a network folder:|MT_NetworkLocationNotWritable=Cannot write %0|"
        L"MT_NetworkLocationNotAccessed=Cannot reach %0|MT_LocalWorkstationInstallationDenayed=Install from a server|"
        L"MT_LMAlreadyExist=%0 already in %1|MT_DirIsNotEmpty=%0 is not empty|MT_DirHasUnsupChars=%0 has [%1]|"
        L"MT_AppendSpace=%0 MiB free, %1 MiB needed|MT_GetNetComputerList_TITLE=Pick a computer");
  }
  CTempFolder temp;
  CFakeNetworkNames names;
  Msi::CNetworkNamesOverride namesSeam{names};
};

TEST_F(CheckPathTest, VerdictsAndBoxes) {
  const CUnicodeString fresh = temp / L"fresh\\deep", blocked = temp / L"file.txt\\sub", app = temp / L"app",
                       missing = temp / L"missing", cyrillic = temp / L"Пр\x4E2D";
  MakeFile(temp / L"file.txt");
  MakeFile(app + L"\\old.lic", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(temp / L"hidden\\.x", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(temp / L"one\\Setup.LOG");
  MakeFile(temp / L"two\\a.log");
  MakeFile(temp / L"two\\b.log", FILE_ATTRIBUTE_HIDDEN);
  // Mapped drives stand for local folders here: the checks go through the mapped path.
  names.wideNames = {{L"M:\\app", L"\\\\srv\\share\\app"},
                     {L"N:\\app", L"\\\\server\\apps"},
                     {fresh.ToStdString(), L"\\\\srv\\share\\fresh\\deep"},
                     {temp.Path().ToStdString(), L"\\\\srv\\share"},
                     {blocked.ToStdString(), L"\\\\srv\\share\\file.txt\\sub"}};
  package.AddProperty(L"DisplayProductName", L"Lingvo");
  Open();
  RunCases({
      {"CheckTargetDir", L"TARGETDIR=\\\\srv\\share", L"TARGETDIR_VALID=Yes"},
      // The property keeps the mapped form.
      {"CheckTargetDir", L"TARGETDIR=M:\\app", L"TARGETDIR_VALID=Yes|TARGETDIR=M:\\app"},
      {"CheckTargetDir", L"TARGETDIR=C:\\x", L"TARGETDIR_VALID=", 0, Notice(L"Not a network folder:C:\\x")},
      {"CheckTargetDir", L"TARGETDIR=", L"TARGETDIR_VALID=", 0, Notice(L"Choose a network folder")},
      {"CheckTargetDirNotEmpty", L"TARGETDIR=C:\\x", L"TARGETDIR_VALID=Yes"},
      {"SetUnmappedTargetDir", L"TARGETDIR=M:\\app", L"TARGETDIR=\\\\srv\\share\\app"},
      // A missing network folder is created; an existing one must take a probe file.
      {"CheckAndNormDir", {{L"DIR", fresh}}, L"DIR_VALID=Yes|DIR=\\\\srv\\share\\fresh\\deep"},
      {"CheckAndNormUserTargetDir", L"USERTARGETDIR=" + temp.Path(),
       L"USERTARGETDIR_VALID=Yes|USERTARGETDIR=\\\\srv\\share"},
      {"CheckAndNormDir", L"DIR=", L"DIR_VALID=", 0, Notice(L"Choose a network folder")},
      {"CheckAndNormDir", L"DIR=C:\\x", L"DIR_VALID=", 0, Warning(L"Not a network folder:")},
      // The universal name is set even when the folder then cannot be made.
      {"CheckAndNormDir",
       {{L"DIR", blocked}},
       L"DIR_VALID=|DIR=\\\\srv\\share\\file.txt\\sub",
       0,
       Warning(L"Cannot reach " + blocked)},
      {"CheckAndNormTargetDir", L"TARGETDIR=\\\\nowhere\\share", L"TARGETDIR_VALID=", NotCounted(1603),
       Warning(L"Cannot reach \\\\nowhere\\share")},
      {"CheckSOURCEDIR", L"SOURCEDIR=\\\\server\\setup", L"SOURCEDIR_IS_LOCAL="},
      {"CheckSOURCEDIR", L"SOURCEDIR=", L"", 1603},
      {"GetRemoteComputerName", L"SourceDir=\\\\srv.corp\\share\\", L"USERTARGETDIR=srv"},
      {"GetRemoteComputerName", L"SourceDir=\\\\192.168.1.20\\share", L"USERTARGETDIR=192.168.1.20"},
      {"GetRemoteComputerName", L"SourceDir=\\\\10.1.x.3\\s", L"USERTARGETDIR=10"},
      {"GetRemoteComputerName", L"SourceDir=\\\\", L"USERTARGETDIR="},
      // Files already there (hidden ones too), by pattern or name.
      {"CheckFileExist",
       {{L"INSTALLDIR", app}, {L"CheckFileInDir", L"*.lic"}},
       L"INSTALLDIR_VALID=",
       0,
       Warning(L"Lingvo already in " + app)},
      {"CheckFileExist", L"CheckFileInDir=*.dat", L"INSTALLDIR_VALID=Yes"},
      {"CheckFileExist1", L"CHECK_FILE_EXIST_1_DIR=" + app + L"|CHECK_FILE_EXIST_1_NAME=*.dat",
       L"CHECK_FILE_EXIST_1_EXIST="},
      // Empty: missing, or nothing at all in it; then no unsupported character.
      {"CheckINSTALLDIRisEmpty",
       {{L"INSTALLDIR", temp / L"hidden"}},
       L"INSTALLDIR_VALID=",
       0,
       Warning(temp / L"hidden is not empty")},
      {"CheckINSTALLDIRisEmpty", L"INSTALLDIR=" + missing + L"\\a;b#c", L"INSTALLDIR_VALID=", 0,
       Warning(missing + L"\\a;b#c has [#c]")},  // the first listed character that occurs
      {"CheckINSTALLDIRisEmpty",
       {{L"INSTALLDIR", cyrillic + L"#"}},
       L"INSTALLDIR_VALID=",
       0,
       Warning(cyrillic + L"# has [Пр\x4E2D#]")},  // before it, any character the code page loses
      // Empty but for one entry named by the exception.
      {"CheckDirIsEmpty",
       {{L"CHECK_DIR_IS_EMPTY_DIR", temp / L"one"}, {L"MT_CHECK_DIR_EXCEPTION", L"setup.log"}},
       L"CHECK_DIR_IS_EMPTY_EMPTY=Yes|CHECK_DIR_IS_EMPTY_VALID=Yes"},
      {"CheckDirIsEmpty", L"CHECK_DIR_IS_EMPTY_DIR=" + temp / L"two" + L"|MT_CHECK_DIR_EXCEPTION=.log",
       L"CHECK_DIR_IS_EMPTY_EMPTY=|CHECK_DIR_IS_EMPTY_VALID=Yes"},
      {"CheckDirIsEmpty",
       L"CHECK_DIR_IS_EMPTY_DIR=" + temp / L"a%b",  // a name the product cannot use
       {{L"CHECK_DIR_IS_EMPTY_EMPTY", L"Yes"}, {L"CHECK_DIR_IS_EMPTY_VALID", L""}},
       0,
       Warning(temp / L"a%b has [%b]")},
      {"CheckDirIsEmpty", L"CHECK_DIR_IS_EMPTY_DIR=", L"", 1603},
      // Source names: ANSI code page, "/ "; each refusal is counted.
      {"CheckSRCDIR", L"SOURCEDIR=C:\\Setup files\\"},
      {"CheckSRCDIR", L"SOURCEDIR=C:/x/ y", L"", 1603, Warning(L"C:/x/ y has []")},
      {"CheckSRCDIR", L"SOURCEDIR=C:\\Дист\\", L"", 1603, Warning(L"C:\\????\\ has [????\\]")},
      // The installation folder: its name ("#", "%"), then, from the setup program, its access.
      {"CheckINSTALLDIR", {{L"INSTALLDIR", temp / L"a;b"}, {L"LAUNCH_FROM_SETUP", L""}}, L"INSTALLDIR_VALID=Yes"},
      {"CheckINSTALLDIR", L"INSTALLDIR=" + temp / L"a;b#c", L"INSTALLDIR_VALID=", 0, Warning(temp / L"a;b#c has [#c]")},
      {"CheckINSTALLDIR", L"INSTALLDIR=" + temp / L"new\\deeper" + L"|LAUNCH_FROM_SETUP=1", L"INSTALLDIR_VALID=Yes"},
      {"CheckINSTALLDIR", {{L"INSTALLDIR", blocked}}, L"INSTALLDIR_VALID=", 0, Warning(L"Cannot reach " + blocked)},
      {"CheckINSTALLDIR", L"INSTALLDIR=N:\\app", L"INSTALLDIR_VALID=", 0, Warning(L"Cannot reach N:\\app")},
      // Without the text a network folder is accepted; so it is when not launched from the setup program.
      {"CheckINSTALLDIR", L"MT_NetworkLocationNotAccessed=", L"INSTALLDIR_VALID=Yes"},
      {"CheckINSTALLDIR", L"MT_NetworkLocationNotAccessed=Cannot reach %0|LAUNCH_FROM_SETUP=No",
       L"INSTALLDIR_VALID=Yes"},
  });
  // Created network folders stay; the probes and the folders the access test made are gone.
  EXPECT_TRUE(Vrn::DirectoryExists(fresh));
  EXPECT_EQ(Vrn::ListDirectory(temp.Path(), L"Test*", Vrn::ListAll).size(), 0u);
  EXPECT_FALSE(Vrn::DirectoryExists(temp / L"new"));
  EXPECT_FALSE(Vrn::PathExists(temp / L"AccessTest.tmp"));
}

// The package's own folder reached through a share of another server (from a local folder, it is
// refused: the end-to-end install).
TEST_F(CheckPathTest, WhereThePackageRunsFrom) {
  const CUnicodeString source = Msi::GetSourcePath(Open(true), L"TARGETDIR");
  RunCases({{"CheckIsTargetIsLocal", {}, L"TARGETDIR_IS_LOCAL=Yes"}});
  names.wideNames = {{source.ToStdString(), L"\\\\server\\setup\\"}};
  RunCases({{"CheckIsTargetIsLocal", {}, L"TARGETDIR_IS_LOCAL="}, {"CheckIsInstallationFromRemoteComputer"}});
  // The boxes of the family are captioned with the product's name.
  names.wideNames.clear();
  EXPECT_EQ(Call("CheckIsInstallationFromRemoteComputer"), 1602u);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].caption, L"Test Product");
}

TEST_F(CheckPathTest, PickersRestoreNetHood) {
  constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const auto netHood = [&] {
    Vrn::CRegistryKey key;
    key.Open(HKEY_CURRENT_USER, kKey, Vrn::RegistryMode::Read);
    return std::pair(key.ReadString(L"NetHood", L"(none)"), key.ValueType(L"NetHood"));
  };
  const CUnicodeString saved = L"%USERPROFILE%\\NetHood";
  SetRegistryValue(HKEY_CURRENT_USER, kKey, L"NetHood", REG_EXPAND_SZ, Utf16(saved.View()) + std::string(2, '\0'));
  Open();
  CFakeFolderBrowser browser;
  Msi::CFolderBrowserOverride browserSeam{browser};
  CUnicodeString during;
  browser.duringBrowse = [&] { during = netHood().first; };
  browser.folder = temp.Path().ToStdString();
  RunCases({{"GetRemoteFolder", L"RemoteFolderProperty=PICKED_DIR"}});
  EXPECT_EQ(during, L"Off");
  EXPECT_EQ(netHood(), std::pair(saved, static_cast<DWORD>(REG_EXPAND_SZ)));
  EXPECT_TRUE(Property(L"PICKED_DIR").EqualsNoCase(temp.Path())) << Property(L"PICKED_DIR");
  ASSERT_EQ(browser.requests.size(), 1u);
  EXPECT_EQ(browser.requests[0].title, L"Choose a network folder");
  EXPECT_EQ(browser.requests[0].flags, 0x71u);

  // Cancelled: the default property is untouched. A failure inside the dialog still restores.
  browser.folder.clear();
  RunCases({{"GetRemoteFolder", L"RemoteFolderProperty=|USERTARGETDIR=kept", L"USERTARGETDIR=kept"}});
  browser.duringBrowse = [] { Vrn::Raise<Vrn::CLastErrorException>(static_cast<DWORD>(ERROR_ACCESS_DENIED)); };
  RunCases({{"GetRemoteFolder", L"", L"", 1603}});
  EXPECT_EQ(netHood().first, saved);

  // The computer picker: cancelled leaves the property, a choice sets the computer's name.
  browser.duringBrowse = nullptr;
  browser.requests.clear();
  RunCases({{"GetNetComputerList", {}, L"NET_COMPUTER_NAME="}});
  browser.folder = temp.Path().ToStdString();
  browser.displayName = L"SERVER7";
  RunCases({{"GetNetComputerList", {}, L"NET_COMPUTER_NAME=SERVER7"}});
  ASSERT_EQ(browser.requests.size(), 2u);
  EXPECT_EQ(browser.requests[1].title, L"Pick a computer");
  EXPECT_EQ(browser.requests[1].flags, 0x1000u);
}

TEST_F(CheckPathTest, FreeSpace) {
  Open();
  Set({{L"INSTALLDIR", temp.Path()}});
  // Not a number, or a disk that cannot be asked (the real query): a fault, the verdict untouched.
  RunCases({{"CheckFreeSpaceInstallDir", L"APPEND_SPACE_VALID=unset|APPEND_SPACE=12 MB", L"", 1603},
            {"CheckFreeSpaceInstallDir", L"APPEND_SPACE=1|INSTALLDIR=Q:\\missing", L"APPEND_SPACE_VALID=unset", 1603}});
  Set({{L"INSTALLDIR", temp.Path()}});
  CFreeSpaceOverride space(500ull << 20);  // equal is too little
  RunCases({{"CheckFreeSpaceInstallDir", L"APPEND_SPACE=500", L"APPEND_SPACE_VALID=", 0,
             Warning(L"500 MiB free, 500 MiB needed")}});
  space.Set(501ull << 20);
  RunCases({{"CheckFreeSpaceInstallDir", {}, L"APPEND_SPACE_VALID=Yes"}});
  space.Set(1ull << 50);  // capped at 2,147,483,647 KiB = 2,097,151 MiB
  RunCases({{"CheckFreeSpaceInstallDir", L"APPEND_SPACE=2097151", L"APPEND_SPACE_VALID=", 0,
             Warning(L"2097151 MiB free, 2097151 MiB needed")}});

  // The source's size: 3 KiB of files, hidden ones counted, dot-named files and folders skipped.
  MakeFile(temp / L"src\\a.bin", FILE_ATTRIBUTE_NORMAL, 1024);
  MakeFile(temp / L"src\\sub\\b.bin", FILE_ATTRIBUTE_HIDDEN, 1024);
  MakeFile(temp / L"src\\sub\\deeper\\c.bin", FILE_ATTRIBUTE_NORMAL, 1024);
  MakeFile(temp / L"src\\.skip", FILE_ATTRIBUTE_NORMAL, 4096);
  MakeFile(temp / L"src\\.svn\\d.bin", FILE_ATTRIBUTE_NORMAL, 4096);
  Set({{L"USERTARGETDIR", temp.Path()}, {L"SOURCEDIR", temp / L"src"}});
  space.Set(4 * 1024 - 1);
  RunCases({{"CheckFreeSpaceUserTargetDir", L"", L"USERTARGETDIR_VALID=", 0, Warning(L"0 MiB free, 0 MiB needed")}});
  space.Set(4 * 1024);
  RunCases({{"CheckFreeSpaceUserTargetDir", {}, L"USERTARGETDIR_VALID=Yes"},
            {"CheckFreeSpaceUserTargetDir", L"SOURCEDIR=", L"", 1603}});  // the current folder is not measured
}

TEST_F(CheckPathTest, KnownFoldersAndBinTarget) {
  Open(true);
  RunCases({{"GetPublicFolder"}, {"GetUsersFolder"}, {"SetTargetDirBin", {{L"TARGETDIR", temp / L"P\\"}}}});
  EXPECT_TRUE(Vrn::DirectoryExists(Property(L"PUBLIC_FOLDER")));
  const CUnicodeString users = Property(L"USERS_FOLDER");
  EXPECT_TRUE(users.EndsWith(L"\\") && !users.EndsWith(L"\\\\") && Vrn::DirectoryExists(users)) << users;
  EXPECT_EQ(Msi::GetTargetPath(Session(), L"TARGETDIR"), temp / L"P\\Bin\\");
}
