// The path, folder and free-space checks in a real installer session, called in this program so
// that the scripted user interface, the fake network names, the fake browse dialog and the
// free-space query given by the test reach them. Folders are real, under a private temporary folder.
#include <gtest/gtest.h>

#include "ActionFrame.h"
#include "CoreFixtures.h"
#include "FakeNetworkNames.h"
#include "Files.h"
#include "MsiHelper.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using SessionTests::Utf8;
using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall SetUnmappedTargetDir(MSIHANDLE), CheckTargetDir(MSIHANDLE), CheckTargetDirNotEmpty(MSIHANDLE),
    CheckAndNormDir(MSIHANDLE), CheckAndNormUserTargetDir(MSIHANDLE), CheckAndNormTargetDir(MSIHANDLE),
    CheckIsTargetIsLocal(MSIHANDLE), CheckIsInstallationFromRemoteComputer(MSIHANDLE), CheckSOURCEDIR(MSIHANDLE),
    GetRemoteFolder(MSIHANDLE), GetNetComputerList(MSIHANDLE), GetRemoteComputerName(MSIHANDLE),
    CheckFileExist(MSIHANDLE), CheckFileExist1(MSIHANDLE), CheckINSTALLDIRisEmpty(MSIHANDLE),
    CheckDirIsEmpty(MSIHANDLE), CheckSRCDIR(MSIHANDLE), CheckINSTALLDIR(MSIHANDLE), CheckFreeSpaceInstallDir(MSIHANDLE),
    CheckFreeSpaceUserTargetDir(MSIHANDLE), GetPublicFolder(MSIHANDLE), GetUsersFolder(MSIHANDLE),
    SetTargetDirBin(MSIHANDLE);
}

namespace {

using Action = UINT(__stdcall*)(MSIHANDLE);

// Every message property the family shows, with markers that make the form visible.
const wchar_t* const kMessages[][2] = {
    {L"MT_NetworkLocationPathIsEmpty", L"Choose a network folder"},
    {L"MT_NetworkLocationPathIsNotRemote", L"Not a network folder:"},  // read trimmed
    {L"MT_NetworkLocationNotWritable", L"Cannot write %0"},
    {L"MT_NetworkLocationNotAccessed", L"Cannot reach %0"},
    {L"MT_LocalWorkstationInstallationDenayed", L"Install from a server"},
    {L"MT_LMAlreadyExist", L"%0 already in %1"},
    {L"MT_DirIsNotEmpty", L"%0 is not empty"},
    {L"MT_DirHasUnsupChars", L"%0 has [%1]"},
    {L"MT_AppendSpace", L"%0 MiB free, %1 MiB needed"},
    {L"MT_GetNetComputerList_TITLE", L"Pick a computer"},
};

// Answers free-space questions with a fixed number of bytes for the object's lifetime.
struct CFreeSpaceOverride {
  explicit CFreeSpaceOverride(uint64_t bytes) { s_bytes = bytes; }
  ~CFreeSpaceOverride() { Vrn::SetFreeSpaceQuery(previous); }
  static bool Answer(const wchar_t*, uint64_t& bytes) {
    bytes = s_bytes;
    return true;
  }
  static inline uint64_t s_bytes = 0;
  Vrn::FreeSpaceQuery previous = Vrn::SetFreeSpaceQuery(Answer);
};

uint32_t InstallationCount() {
  Vrn::CRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, Msi::kMutexCounterKey, Vrn::RegistryMode::Read)) return 0;
  return Vrn::StrictInteger<uint32_t>(key.ReadString(L"InstallationCount")).value_or(0);
}

// "NAME=value|NAME=value" as (name, value) pairs.
std::vector<std::pair<std::wstring, std::wstring>> Assignments(const CUnicodeString& text) {
  std::vector<std::pair<std::wstring, std::wstring>> list;
  for (std::wstring rest = text.ToStdString(); !rest.empty();) {
    const std::wstring item = rest.substr(0, rest.find(L'|'));
    list.emplace_back(item.substr(0, item.find(L'=')), item.substr(item.find(L'=') + 1));
    rest.erase(0, item.size() + 1);
  }
  return list;
}

void MakeFile(const CUnicodeString& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL, size_t bytes = 0) {
  TestSupport::WriteBytes(path, std::string(bytes, 'x'));
  ::SetFileAttributesW(path.c_str(), attributes);
}

}  // namespace

class CheckPathTest : public ::testing::Test {
 protected:
  MSIHANDLE Open(bool runCosting = false) {
    for (const auto& message : kMessages) package.AddProperty(message[0], message[1]);
    const MSIHANDLE session = package.Open(runCosting);
    package.SetProperty(L"UILevel", L"5");  // boxes go to the scripted user interface
    return session;
  }
  // Runs the action on a fresh record of boxes; returns its result.
  UINT Run(Action action) {
    ui.shown.clear();
    return action(package.Session());
  }
  // The one box the last action showed, as "style|text"; "none" when it showed none.
  std::string Box() const {
    if (ui.shown.empty()) return "none";
    EXPECT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].caption, L"Test Product");
    return std::to_string(ui.shown[0].style) + "|" + Utf8(ui.shown[0].text);
  }
  static std::string Notice(const CUnicodeString& text) {
    return std::to_string(MB_ICONINFORMATION) + "|" + Utf8(text);
  }
  static std::string Warning(const CUnicodeString& text) { return std::to_string(MB_ICONWARNING) + "|" + Utf8(text); }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CTempFolder temp;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
  TestSupport::CFakeNetworkNames names;
  Msi::CNetworkNamesOverride namesSeam{names};
};

// The checks that read properties, then set verdicts and properties and may show one box.
TEST_F(CheckPathTest, VerdictsAndBoxes) {
  const CUnicodeString fresh = temp / L"fresh\\deep", blocked = temp / L"file.txt\\sub", app = temp / L"app",
                       missing = temp / L"missing", cyrillic = temp / L"Пр\x4E2D";
  MakeFile(temp / L"file.txt");
  Vrn::CreateDirectoryWithParents(app);
  MakeFile(app + L"\\old.lic", FILE_ATTRIBUTE_HIDDEN);
  Vrn::CreateDirectoryWithParents(temp / L"hidden");
  MakeFile(temp / L"hidden\\.x", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  Vrn::CreateDirectoryWithParents(temp / L"sub\\inner");
  Vrn::CreateDirectoryWithParents(temp / L"one");
  MakeFile(temp / L"one\\Setup.LOG");
  Vrn::CreateDirectoryWithParents(temp / L"two");
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
  const std::string none = "none";
  const struct {
    Action action;
    CUnicodeString set, expected;  // "NAME=value|NAME=value"
    std::string box;
    UINT result = 0;
  } cases[] = {
      {CheckTargetDir, L"TARGETDIR=\\\\srv\\share", L"TARGETDIR_VALID=Yes", none},
      // The property keeps the mapped form.
      {CheckTargetDir, L"TARGETDIR=M:\\app", L"TARGETDIR_VALID=Yes|TARGETDIR=M:\\app", none},
      {CheckTargetDir, L"TARGETDIR=C:\\x", L"TARGETDIR_VALID=", Notice(L"Not a network folder:C:\\x")},
      {CheckTargetDir, L"TARGETDIR=", L"TARGETDIR_VALID=", Notice(L"Choose a network folder")},
      {CheckTargetDirNotEmpty, L"TARGETDIR=C:\\x", L"TARGETDIR_VALID=Yes", none},
      {SetUnmappedTargetDir, L"TARGETDIR=M:\\app", L"TARGETDIR=\\\\srv\\share\\app", none},
      // A missing network folder is created; an existing one must take a probe file.
      {CheckAndNormDir, L"DIR=" + fresh, L"DIR_VALID=Yes|DIR=\\\\srv\\share\\fresh\\deep", none},
      {CheckAndNormUserTargetDir, L"USERTARGETDIR=" + temp.Path(),
       L"USERTARGETDIR_VALID=Yes|USERTARGETDIR=\\\\srv\\share", none},
      {CheckAndNormDir, L"DIR=", L"DIR_VALID=", Notice(L"Choose a network folder")},
      {CheckAndNormDir, L"DIR=C:\\x", L"DIR_VALID=", Warning(L"Not a network folder:")},
      // The universal name is set even when the folder then cannot be made.
      {CheckAndNormDir, L"DIR=" + blocked, L"DIR_VALID=|DIR=\\\\srv\\share\\file.txt\\sub",
       Warning(L"Cannot reach " + blocked)},
      {CheckAndNormTargetDir, L"TARGETDIR=\\\\nowhere\\share", L"TARGETDIR_VALID=",
       Warning(L"Cannot reach \\\\nowhere\\share"), 1603},  // not counted
      {CheckSOURCEDIR, L"SOURCEDIR=C:\\setup", L"SOURCEDIR_IS_LOCAL=Yes", none},
      {CheckSOURCEDIR, L"SOURCEDIR=\\\\server\\setup", L"SOURCEDIR_IS_LOCAL=", none},
      {CheckSOURCEDIR, L"SOURCEDIR=", L"", none, 1603},
      {GetRemoteComputerName, L"SourceDir=\\\\srv.corp\\share\\", L"USERTARGETDIR=srv", none},
      {GetRemoteComputerName, L"SourceDir=//srv/share", L"USERTARGETDIR=srv", none},
      {GetRemoteComputerName, L"SourceDir=\\\\192.168.1.20\\share", L"USERTARGETDIR=192.168.1.20", none},
      {GetRemoteComputerName, L"SourceDir=\\\\10.1.x.3\\s", L"USERTARGETDIR=10", none},
      {GetRemoteComputerName, L"SourceDir=C:\\setup\\", L"USERTARGETDIR=127.0.0.1", none},
      {GetRemoteComputerName, L"SourceDir=\\\\", L"USERTARGETDIR=", none},
      // Files already there (hidden ones too), by pattern or name.
      {CheckFileExist, L"INSTALLDIR=" + app + L"|CheckFileInDir=*.lic", L"INSTALLDIR_VALID=",
       Warning(L"Lingvo already in " + app)},
      {CheckFileExist, L"CheckFileInDir=*.dat", L"INSTALLDIR_VALID=Yes", none},
      {CheckFileExist1, L"CHECK_FILE_EXIST_1_DIR=" + app + L"|CHECK_FILE_EXIST_1_NAME=old.lic",
       L"CHECK_FILE_EXIST_1_EXIST=Yes", none},
      {CheckFileExist1, L"CHECK_FILE_EXIST_1_NAME=*.dat", L"CHECK_FILE_EXIST_1_EXIST=", none},
      // Empty: missing, or nothing at all in it; then no unsupported character.
      {CheckINSTALLDIRisEmpty, L"INSTALLDIR=" + missing, L"INSTALLDIR_VALID=Yes", none},
      {CheckINSTALLDIRisEmpty, L"INSTALLDIR=" + temp / L"hidden", L"INSTALLDIR_VALID=",
       Warning(temp / L"hidden is not empty")},
      {CheckINSTALLDIRisEmpty, L"INSTALLDIR=" + temp / L"sub", L"INSTALLDIR_VALID=",
       Warning(temp / L"sub is not empty")},
      {CheckINSTALLDIRisEmpty,  // the first listed character that occurs
       L"INSTALLDIR=" + missing + L"\\a;b#c", L"INSTALLDIR_VALID=", Warning(missing + L"\\a;b#c has [#c]")},
      {CheckINSTALLDIRisEmpty,  // before it, any character the code page loses
       L"INSTALLDIR=" + cyrillic + L"#", L"INSTALLDIR_VALID=", Warning(cyrillic + L"# has [Пр\x4E2D#]")},
      // Empty but for one entry named by the exception.
      {CheckDirIsEmpty, L"CHECK_DIR_IS_EMPTY_DIR=" + temp / L"one" + L"|MT_CHECK_DIR_EXCEPTION=setup.log",
       L"CHECK_DIR_IS_EMPTY_EMPTY=Yes|CHECK_DIR_IS_EMPTY_VALID=Yes", none},
      {CheckDirIsEmpty, L"MT_CHECK_DIR_EXCEPTION=", L"CHECK_DIR_IS_EMPTY_EMPTY=|CHECK_DIR_IS_EMPTY_VALID=Yes", none},
      {CheckDirIsEmpty, L"CHECK_DIR_IS_EMPTY_DIR=" + temp / L"two" + L"|MT_CHECK_DIR_EXCEPTION=.log",
       L"CHECK_DIR_IS_EMPTY_EMPTY=|CHECK_DIR_IS_EMPTY_VALID=Yes", none},
      {CheckDirIsEmpty,  // a name the product cannot use counts as empty, not valid
       L"CHECK_DIR_IS_EMPTY_DIR=" + temp / L"a%b", L"CHECK_DIR_IS_EMPTY_EMPTY=Yes|CHECK_DIR_IS_EMPTY_VALID=",
       Warning(temp / L"a%b has [%b]")},
      {CheckDirIsEmpty, L"CHECK_DIR_IS_EMPTY_DIR=", L"", none, 1603},
      // Source names: ANSI code page, "\ " and "/ "; each refusal is counted.
      {CheckSRCDIR, L"SOURCEDIR=C:\\Setup files\\", L"", none},
      {CheckSRCDIR, L"SOURCEDIR=C:/x/ y", L"", Warning(L"C:/x/ y has []"), 1603},
      {CheckSRCDIR, L"SOURCEDIR=C:\\Дист\\", L"", Warning(L"C:\\????\\ has [????\\]"), 1603},
      // The installation folder: its name ("#", "%"), then, from the setup program, its access.
      {CheckINSTALLDIR, L"INSTALLDIR=" + temp / L"a;b" + L"|LAUNCH_FROM_SETUP=", L"INSTALLDIR_VALID=Yes", none},
      {CheckINSTALLDIR, L"INSTALLDIR=" + temp / L"a;b#c", L"INSTALLDIR_VALID=", Warning(temp / L"a;b#c has [#c]")},
      {CheckINSTALLDIR, L"INSTALLDIR=" + temp / L"new\\deeper" + L"|LAUNCH_FROM_SETUP=1", L"INSTALLDIR_VALID=Yes",
       none},
      {CheckINSTALLDIR, L"INSTALLDIR=" + blocked, L"INSTALLDIR_VALID=", Warning(L"Cannot reach " + blocked)},
      {CheckINSTALLDIR, L"INSTALLDIR=N:\\app", L"INSTALLDIR_VALID=", Warning(L"Cannot reach N:\\app")},
      // Without the text a network folder is accepted; so it is when not launched from the setup program.
      {CheckINSTALLDIR, L"MT_NetworkLocationNotAccessed=", L"INSTALLDIR_VALID=Yes", none},
      {CheckINSTALLDIR, L"MT_NetworkLocationNotAccessed=Cannot reach %0|LAUNCH_FROM_SETUP=No", L"INSTALLDIR_VALID=Yes",
       none},
  };
  uint32_t counted = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i) + ": " + Utf8(c.set));
    for (const auto& [name, value] : Assignments(c.set)) package.SetProperty(name, value);
    EXPECT_EQ(Run(c.action), c.result);
    for (const auto& [name, value] : Assignments(c.expected))
      EXPECT_EQ(package.Property(name), value.c_str()) << Utf8(name.c_str());
    EXPECT_EQ(Box(), c.box);
    counted += c.result && c.action != CheckAndNormTargetDir;
    EXPECT_EQ(InstallationCount(), counted);
  }
  // Created network folders stay; the probes and the folders the access test made are gone.
  EXPECT_TRUE(Vrn::DirectoryExists(fresh));
  EXPECT_EQ(Vrn::ListDirectory(temp.Path(), L"Test*", Vrn::ListAll).size(), 0u);
  EXPECT_FALSE(Vrn::DirectoryExists(temp / L"new"));
  EXPECT_FALSE(Vrn::PathExists(temp / L"AccessTest.tmp"));
}

TEST_F(CheckPathTest, WhereThePackageRunsFrom) {
  const CUnicodeString source = Msi::GetSourcePath(Open(true), L"TARGETDIR");
  // From a local folder, then the same folder reached through a share of another server.
  for (const bool remote : {false, true}) {
    if (remote) names.wideNames = {{source.ToStdString(), L"\\\\server\\setup\\"}};
    EXPECT_EQ(Run(CheckIsTargetIsLocal), 0u);
    EXPECT_EQ(package.Property(L"TARGETDIR_IS_LOCAL"), remote ? L"" : L"Yes");
    EXPECT_EQ(Run(CheckIsInstallationFromRemoteComputer), remote ? 0u : 1602u);
    EXPECT_EQ(Box(), remote ? "none" : Notice(L"Install from a server"));
  }
}

TEST_F(CheckPathTest, PickersRestoreNetHood) {
  constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const auto netHood = [&] {
    Vrn::CRegistryKey key;
    key.Open(HKEY_CURRENT_USER, kKey, Vrn::RegistryMode::Read);
    return std::pair(key.ReadString(L"NetHood", L"(none)"), key.ValueType(L"NetHood"));
  };
  Vrn::CRegistryKey setup;
  ASSERT_TRUE(setup.Open(HKEY_CURRENT_USER, kKey, Vrn::RegistryMode::Write));
  const CUnicodeString saved = L"%USERPROFILE%\\NetHood";
  setup.WriteValue(L"NetHood", REG_EXPAND_SZ, saved.c_str(), static_cast<DWORD>((saved.Length() + 1) * 2));
  Open();
  TestSupport::CFakeFolderBrowser browser;
  Msi::CFolderBrowserOverride browserSeam{browser};
  CUnicodeString during;
  browser.duringBrowse = [&] { during = netHood().first; };
  browser.folder = temp.Path().ToStdString();
  package.SetProperty(L"RemoteFolderProperty", L"PICKED_DIR");
  EXPECT_EQ(Run(GetRemoteFolder), 0u);
  EXPECT_EQ(during, L"Off");
  EXPECT_EQ(netHood(), std::pair(saved, static_cast<DWORD>(REG_EXPAND_SZ)));
  EXPECT_TRUE(package.Property(L"PICKED_DIR").EqualsNoCase(temp.Path())) << Utf8(package.Property(L"PICKED_DIR"));
  ASSERT_EQ(browser.requests.size(), 1u);
  EXPECT_EQ(browser.requests[0].title, L"Choose a network folder");
  EXPECT_EQ(browser.requests[0].flags, 0x71u);
  EXPECT_NE(ActionLog(package).Find(L"GetRemoteFolder NetHood=" + saved + L"\r\n"), CUnicodeString::npos);

  // Cancelled: the default property is untouched. A failure inside the dialog still restores.
  browser.folder.clear();
  package.SetProperty(L"RemoteFolderProperty", L"");
  package.SetProperty(L"USERTARGETDIR", L"kept");
  EXPECT_EQ(Run(GetRemoteFolder), 0u);
  EXPECT_EQ(package.Property(L"USERTARGETDIR"), L"kept");
  browser.duringBrowse = [] { Vrn::Raise<Vrn::CLastErrorException>(static_cast<DWORD>(ERROR_ACCESS_DENIED)); };
  EXPECT_EQ(Run(GetRemoteFolder), 1603u);
  EXPECT_EQ(netHood().first, saved);

  // The computer picker: cancelled leaves the property, a choice sets the computer's name.
  browser.duringBrowse = nullptr;
  browser.requests.clear();
  EXPECT_EQ(Run(GetNetComputerList), 0u);
  EXPECT_EQ(package.Property(L"NET_COMPUTER_NAME"), L"");
  browser.folder = temp.Path().ToStdString();
  browser.displayName = L"SERVER7";
  EXPECT_EQ(Run(GetNetComputerList), 0u);
  EXPECT_EQ(package.Property(L"NET_COMPUTER_NAME"), L"SERVER7");
  ASSERT_EQ(browser.requests.size(), 2u);
  EXPECT_EQ(browser.requests[1].title, L"Pick a computer");
  EXPECT_EQ(browser.requests[1].flags, 0x1000u);
}

TEST_F(CheckPathTest, FreeSpace) {
  Open();
  package.SetProperty(L"INSTALLDIR", temp.Path());
  const struct {
    uint64_t freeBytes;
    const wchar_t* required;
    std::string box;  // "none": valid
  } cases[] = {
      {500ull << 20, L"500", Warning(L"500 MiB free, 500 MiB needed")},  // equal is too little
      {501ull << 20, L"500", "none"},
      {1ull << 50, L"2097151",  // capped at 2,147,483,647 KiB = 2,097,151 MiB
       Warning(L"2097151 MiB free, 2097151 MiB needed")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.freeBytes);
    CFreeSpaceOverride space(c.freeBytes);
    package.SetProperty(L"APPEND_SPACE", c.required);
    EXPECT_EQ(Run(CheckFreeSpaceInstallDir), 0u);
    EXPECT_EQ(package.Property(L"APPEND_SPACE_VALID"), c.box == "none" ? L"Yes" : L"");
    EXPECT_EQ(Box(), c.box);
  }
  // Not a number, or a disk that cannot be asked (the real query): a fault, the verdict untouched.
  package.SetProperty(L"APPEND_SPACE_VALID", L"unset");
  package.SetProperty(L"APPEND_SPACE", L"12 MB");
  EXPECT_EQ(Run(CheckFreeSpaceInstallDir), 1603u);
  package.SetProperty(L"APPEND_SPACE", L"1");
  package.SetProperty(L"INSTALLDIR", L"Q:\\missing");
  EXPECT_EQ(Run(CheckFreeSpaceInstallDir), 1603u);
  EXPECT_EQ(package.Property(L"APPEND_SPACE_VALID"), L"unset");

  // The source's size: 3 KiB of files, hidden ones counted, dot-named files and folders skipped.
  Vrn::CreateDirectoryWithParents(temp / L"src\\sub\\deeper");
  Vrn::CreateDirectoryWithParents(temp / L"src\\.svn");
  MakeFile(temp / L"src\\a.bin", FILE_ATTRIBUTE_NORMAL, 1024);
  MakeFile(temp / L"src\\sub\\b.bin", FILE_ATTRIBUTE_HIDDEN, 1024);
  MakeFile(temp / L"src\\sub\\deeper\\c.bin", FILE_ATTRIBUTE_NORMAL, 1024);
  MakeFile(temp / L"src\\.skip", FILE_ATTRIBUTE_NORMAL, 4096);
  MakeFile(temp / L"src\\.svn\\d.bin", FILE_ATTRIBUTE_NORMAL, 4096);
  package.SetProperty(L"USERTARGETDIR", temp.Path());
  package.SetProperty(L"SOURCEDIR", temp / L"src");
  for (const auto& [freeBytes, valid] : {std::pair(4 * 1024 - 1, L""), {4 * 1024, L"Yes"}}) {
    CFreeSpaceOverride space(freeBytes);
    EXPECT_EQ(Run(CheckFreeSpaceUserTargetDir), 0u);
    EXPECT_EQ(package.Property(L"USERTARGETDIR_VALID"), valid) << freeBytes;
    EXPECT_EQ(Box(), *valid ? "none" : Warning(L"0 MiB free, 0 MiB needed"));
  }
  EXPECT_NE(ActionLog(package).Find(L"CheckFreeSpaceTARGETDIR distSize=3072\r\n"), CUnicodeString::npos);
  package.SetProperty(L"SOURCEDIR", L"");
  EXPECT_EQ(Run(CheckFreeSpaceUserTargetDir), 1603u);  // the current folder is not measured
}

TEST_F(CheckPathTest, KnownFoldersAndBinTarget) {
  Open(true);
  EXPECT_EQ(Run(GetPublicFolder), 0u);
  EXPECT_TRUE(Vrn::DirectoryExists(package.Property(L"PUBLIC_FOLDER")));
  EXPECT_EQ(Run(GetUsersFolder), 0u);
  const CUnicodeString users = package.Property(L"USERS_FOLDER");
  EXPECT_TRUE(users.EndsWith(L"\\") && !users.EndsWith(L"\\\\") && Vrn::DirectoryExists(users)) << Utf8(users);
  package.SetProperty(L"TARGETDIR", temp / L"P\\");
  EXPECT_EQ(Run(SetTargetDirBin), 0u);
  EXPECT_EQ(Msi::GetTargetPath(package.Session(), L"TARGETDIR"), temp / L"P\\Bin\\");
}

// Paths no check can use give a failed verdict or an internal error, never a crash, and leave
// nothing behind.
TEST_F(CheckPathTest, BadPaths) {
  const CUnicodeString missingDrive = L"Q:\\missing";
  names.wideNames = {{missingDrive.ToStdString(), L"\\\\srv\\share"}};
  Open();
  for (const CUnicodeString& path :
       {CUnicodeString(L"relative"), L"C:\\" + CUnicodeString(33000, L'b'), missingDrive}) {
    SCOPED_TRACE(Utf8(path.Left(40)));
    package.SetProperty(L"DIR", path);
    EXPECT_EQ(Run(CheckAndNormDir), 0u);
    EXPECT_EQ(package.Property(L"DIR_VALID"), L"");
    package.SetProperty(L"INSTALLDIR", path);
    package.SetProperty(L"LAUNCH_FROM_SETUP", L"1");
    EXPECT_EQ(Run(CheckINSTALLDIR), 0u);
    EXPECT_EQ(Run(CheckINSTALLDIRisEmpty), 0u);
    EXPECT_EQ(package.Property(L"INSTALLDIR_VALID"), L"Yes");  // missing, so empty
    package.SetProperty(L"APPEND_SPACE", L"1");
    EXPECT_EQ(Run(CheckFreeSpaceInstallDir), 1603u);  // no disk to ask
  }
  // Drive-relative: the current folder of C:, which exists, but is not a network folder.
  package.SetProperty(L"DIR", L"C:");
  EXPECT_EQ(Run(CheckAndNormDir), 0u);
  EXPECT_EQ(package.Property(L"DIR_VALID"), L"");
  // The empty and the missing-drive folder cannot be written (the empty one is not the current folder).
  for (const CUnicodeString& path : {CUnicodeString(), missingDrive}) {
    package.SetProperty(L"INSTALLDIR", path);
    EXPECT_EQ(Run(CheckINSTALLDIR), 0u);
    EXPECT_EQ(package.Property(L"INSTALLDIR_VALID"), L"") << Utf8(path);
  }
  EXPECT_FALSE(Vrn::PathExists(L"relative"));
  EXPECT_FALSE(Vrn::PathExists(L"AccessTest.tmp"));
}
