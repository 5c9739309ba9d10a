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

#define DECLARE_ACTION(name) extern "C" UINT __stdcall name(MSIHANDLE session);
DECLARE_ACTION(SetUnmappedTargetDir)
DECLARE_ACTION(CheckTargetDir)
DECLARE_ACTION(CheckTargetDirNotEmpty)
DECLARE_ACTION(CheckAndNormDir)
DECLARE_ACTION(CheckAndNormUserTargetDir)
DECLARE_ACTION(CheckAndNormTargetDir)
DECLARE_ACTION(CheckIsTargetIsLocal)
DECLARE_ACTION(CheckIsInstallationFromRemoteComputer)
DECLARE_ACTION(CheckSOURCEDIR)
DECLARE_ACTION(GetRemoteFolder)
DECLARE_ACTION(GetNetComputerList)
DECLARE_ACTION(GetRemoteComputerName)
DECLARE_ACTION(CheckFileExist)
DECLARE_ACTION(CheckFileExist1)
DECLARE_ACTION(CheckINSTALLDIRisEmpty)
DECLARE_ACTION(CheckDirIsEmpty)
DECLARE_ACTION(CheckSRCDIR)
DECLARE_ACTION(CheckINSTALLDIR)
DECLARE_ACTION(CheckFreeSpaceInstallDir)
DECLARE_ACTION(CheckFreeSpaceUserTargetDir)
DECLARE_ACTION(GetPublicFolder)
DECLARE_ACTION(GetUsersFolder)
DECLARE_ACTION(SetTargetDirBin)

namespace {

using Action = UINT(__stdcall*)(MSIHANDLE);

constexpr UINT kNotice = MB_OK | MB_ICONINFORMATION;
constexpr UINT kWarning = MB_OK | MB_ICONWARNING;

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
class CFreeSpaceOverride {
 public:
  explicit CFreeSpaceOverride(uint64_t bytes) : m_previous(Vrn::SetFreeSpaceQuery(Answer)) { s_bytes = bytes; }
  ~CFreeSpaceOverride() { Vrn::SetFreeSpaceQuery(m_previous); }
  CFreeSpaceOverride(const CFreeSpaceOverride&) = delete;
  CFreeSpaceOverride& operator=(const CFreeSpaceOverride&) = delete;

 private:
  static bool Answer(const wchar_t*, uint64_t& bytes) {
    bytes = s_bytes;
    return true;
  }
  static inline uint64_t s_bytes = 0;
  Vrn::FreeSpaceQuery m_previous;
};

uint32_t InstallationCount() {
  Vrn::CRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, Msi::kMutexCounterKey, Vrn::RegistryMode::Read)) return 0;
  return Vrn::StrictInteger<uint32_t>(key.ReadString(L"InstallationCount")).value_or(0);
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
  static std::string Notice(const CUnicodeString& text) { return std::to_string(kNotice) + "|" + Utf8(text); }
  static std::string Warning(const CUnicodeString& text) { return std::to_string(kWarning) + "|" + Utf8(text); }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CTempFolder temp;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
  TestSupport::CFakeNetworkNames names;
  Msi::CNetworkNamesOverride namesSeam{names};
};

TEST_F(CheckPathTest, TargetDirMustBeRemote) {
  names.wideNames = {{L"M:\\app", L"\\\\srv\\share\\app"}};
  Open();
  const struct {
    Action action;
    const wchar_t* target;
    const wchar_t* valid;  // null: not set
    const wchar_t* targetAfter;
    std::string box;
  } cases[] = {
      {CheckTargetDir, L"\\\\srv\\share", L"Yes", L"\\\\srv\\share", "none"},
      {CheckTargetDir, L"M:\\app", L"Yes", L"M:\\app", "none"},  // the property keeps the mapped form
      {CheckTargetDir, L"C:\\x", L"", L"C:\\x", Notice(L"Not a network folder:C:\\x")},
      {CheckTargetDir, L"", L"", L"", Notice(L"Choose a network folder")},
      {CheckTargetDirNotEmpty, L"C:\\x", L"Yes", L"C:\\x", "none"},
      {CheckTargetDirNotEmpty, L"", L"", L"", Notice(L"Choose a network folder")},
      {SetUnmappedTargetDir, L"M:\\app", nullptr, L"\\\\srv\\share\\app", "none"},
      {SetUnmappedTargetDir, L"C:\\x", nullptr, L"C:\\x", "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.target));
    package.SetProperty(L"TARGETDIR", c.target);
    package.SetProperty(L"TARGETDIR_VALID", L"unset");
    EXPECT_EQ(Run(c.action), 0u);
    EXPECT_EQ(package.Property(L"TARGETDIR_VALID"), c.valid ? c.valid : L"unset");
    EXPECT_EQ(package.Property(L"TARGETDIR"), c.targetAfter);
    EXPECT_EQ(Box(), c.box);
  }
  const CUnicodeString log = ActionLog(package);
  for (const wchar_t* line : {L"SetUnmappedTargetDir\r\n\r\n", L"CheckTargetDirNotEmpty\r\n\r\n"})
    EXPECT_NE(log.Find(line), CUnicodeString::npos) << Utf8(line);
}

TEST_F(CheckPathTest, NetworkDirectoryIsNormalisedAndWritable) {
  // Mapped drives stand for local folders here: the checks go through the mapped path.
  const CUnicodeString fresh = temp / L"fresh\\deep", existing = temp.Path(), blocked = temp / L"file.txt\\sub";
  MakeFile(temp / L"file.txt");
  names.wideNames = {{fresh.ToStdString(), L"\\\\srv\\share\\fresh\\deep"},
                     {existing.ToStdString(), L"\\\\srv\\share"},
                     {blocked.ToStdString(), L"\\\\srv\\share\\file.txt\\sub"}};
  Open();
  const struct {
    const wchar_t *property, *verdict;
    Action action;
    CUnicodeString path;
    const wchar_t *valid, *pathAfter;
    UINT result;
    std::string box;
  } cases[] = {
      {L"DIR", L"DIR_VALID", CheckAndNormDir, fresh, L"Yes", L"\\\\srv\\share\\fresh\\deep", 0, "none"},
      {L"USERTARGETDIR", L"USERTARGETDIR_VALID", CheckAndNormUserTargetDir, existing, L"Yes", L"\\\\srv\\share", 0,
       "none"},
      {L"DIR", L"DIR_VALID", CheckAndNormDir, L"", L"", L"", 0, Notice(L"Choose a network folder")},
      {L"DIR", L"DIR_VALID", CheckAndNormDir, L"C:\\x", L"", L"C:\\x", 0, Warning(L"Not a network folder:")},
      // The universal name is set even when the folder then cannot be made.
      {L"DIR", L"DIR_VALID", CheckAndNormDir, blocked, L"", L"\\\\srv\\share\\file.txt\\sub", 0,
       Warning(L"Cannot reach " + blocked)},
      {L"TARGETDIR", L"TARGETDIR_VALID", CheckAndNormTargetDir, L"\\\\nowhere\\share", L"", L"\\\\nowhere\\share", 1603,
       Warning(L"Cannot reach \\\\nowhere\\share")},
      {L"TARGETDIR", L"TARGETDIR_VALID", CheckAndNormTargetDir, existing, L"Yes", L"\\\\srv\\share", 0, "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.path));
    package.SetProperty(c.property, c.path);
    EXPECT_EQ(Run(c.action), c.result);
    EXPECT_EQ(package.Property(c.verdict), c.valid);
    EXPECT_EQ(package.Property(c.property), c.pathAfter);
    EXPECT_EQ(Box(), c.box);
  }
  // The created folder stays; the writability probe left nothing behind; a failed check is no fault.
  EXPECT_TRUE(Vrn::DirectoryExists(fresh));
  EXPECT_EQ(Vrn::ListDirectory(existing, L"Test*", Vrn::ListAll).size(), 0u);
  EXPECT_EQ(InstallationCount(), 0u);
}

TEST_F(CheckPathTest, WhereThePackageRunsFrom) {
  const MSIHANDLE session = Open(true);
  const CUnicodeString source = Msi::GetSourcePath(session, L"TARGETDIR");
  // The package runs from a local folder.
  EXPECT_EQ(Run(CheckIsTargetIsLocal), 0u);
  EXPECT_EQ(package.Property(L"TARGETDIR_IS_LOCAL"), L"Yes");
  EXPECT_EQ(Run(CheckIsInstallationFromRemoteComputer), 1602u);
  EXPECT_EQ(Box(), Notice(L"Install from a server"));
  // The same folder reached through a share of another server.
  names.wideNames = {{source.ToStdString(), L"\\\\server\\setup\\"}};
  EXPECT_EQ(Run(CheckIsTargetIsLocal), 0u);
  EXPECT_EQ(package.Property(L"TARGETDIR_IS_LOCAL"), L"");
  EXPECT_EQ(Run(CheckIsInstallationFromRemoteComputer), 0u);
  EXPECT_EQ(Box(), "none");
  // SOURCEDIR is checked as given (the host comparison itself is tested with the path operations).
  for (const auto& [folder, local] : {std::pair(L"C:\\setup", L"Yes"), std::pair(L"\\\\server\\setup", L"")}) {
    package.SetProperty(L"SOURCEDIR", folder);
    EXPECT_EQ(Run(CheckSOURCEDIR), 0u);
    EXPECT_EQ(package.Property(L"SOURCEDIR_IS_LOCAL"), local) << Utf8(folder);
  }
  package.SetProperty(L"SOURCEDIR", L"");
  EXPECT_EQ(Run(CheckSOURCEDIR), 1603u);
  EXPECT_NE(ActionLog(package).Find(L"CheckSOURCDIR\r\n\r\n"), CUnicodeString::npos);
}

TEST_F(CheckPathTest, RemoteComputerName) {
  Open();
  const struct {
    const wchar_t *source, *computer;
  } cases[] = {
      {L"\\\\srv.corp\\share\\", L"srv"},
      {L"//srv/share", L"srv"},
      {L"\\\\192.168.1.20\\share", L"192.168.1.20"},
      {L"\\\\10.1.2.3", L"10.1.2.3"},
      {L"\\\\10.1.x.3\\s", L"10"},
      {L"C:\\setup\\", L"127.0.0.1"},
      {L"", L"127.0.0.1"},
      {L"\\\\", L""},
  };
  for (const auto& c : cases) {
    package.SetProperty(L"SourceDir", c.source);
    EXPECT_EQ(Run(GetRemoteComputerName), 0u);
    EXPECT_EQ(package.Property(L"USERTARGETDIR"), c.computer) << Utf8(c.source);
  }
  EXPECT_NE(ActionLog(package).Find(L"komp = srv\r\n"), CUnicodeString::npos);
}

TEST_F(CheckPathTest, RemoteFolderPickerRestoresNetHood) {
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
  EXPECT_TRUE(browser.requests[0].rooted && browser.requests[0].hasCallback);
  const CUnicodeString log = ActionLog(package);
  for (const CUnicodeString& line : {CUnicodeString(L"GetRemoteFolder\r\n"),
                                     L"GetRemoteFolder NetHood=" + saved + L"\r\n", L"GetRemoteFolder=" + temp.Path()})
    EXPECT_NE(log.Find(line), CUnicodeString::npos) << Utf8(line);

  // Cancelled: the default property is untouched. A failure inside the dialog still restores.
  browser.folder.clear();
  package.SetProperty(L"RemoteFolderProperty", L"");
  package.SetProperty(L"USERTARGETDIR", L"kept");
  EXPECT_EQ(Run(GetRemoteFolder), 0u);
  EXPECT_EQ(package.Property(L"USERTARGETDIR"), L"kept");
  browser.duringBrowse = [] { Vrn::Raise<Vrn::CLastErrorException>(static_cast<DWORD>(ERROR_ACCESS_DENIED)); };
  EXPECT_EQ(Run(GetRemoteFolder), 1603u);
  EXPECT_EQ(netHood().first, saved);
}

TEST_F(CheckPathTest, ComputerPicker) {
  Open();
  TestSupport::CFakeFolderBrowser browser;
  Msi::CFolderBrowserOverride browserSeam{browser};
  EXPECT_EQ(Run(GetNetComputerList), 0u);  // cancelled
  EXPECT_EQ(package.Property(L"NET_COMPUTER_NAME"), L"");
  browser.folder = temp.Path().ToStdString();
  browser.displayName = L"SERVER7";
  EXPECT_EQ(Run(GetNetComputerList), 0u);
  EXPECT_EQ(package.Property(L"NET_COMPUTER_NAME"), L"SERVER7");
  ASSERT_EQ(browser.requests.size(), 2u);
  EXPECT_EQ(browser.requests[1].title, L"Pick a computer");
  EXPECT_EQ(browser.requests[1].flags, 0x1000u);
}

TEST_F(CheckPathTest, FilesAlreadyThere) {
  Vrn::CreateDirectoryWithParents(temp / L"app");
  MakeFile(temp / L"app\\old.lic", FILE_ATTRIBUTE_HIDDEN);
  package.AddProperty(L"DisplayProductName", L"Lingvo");
  Open();
  package.SetProperty(L"INSTALLDIR", temp / L"app");
  const struct {
    const wchar_t *name, *valid;
  } cases[] = {{L"*.lic", L""}, {L"old.lic", L""}, {L"*.dat", L"Yes"}, {L"", L"Yes"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.name));
    package.SetProperty(L"CheckFileInDir", c.name);
    EXPECT_EQ(Run(CheckFileExist), 0u);
    EXPECT_EQ(package.Property(L"INSTALLDIR_VALID"), c.valid);
    EXPECT_EQ(Box(), *c.valid ? "none" : Warning(L"Lingvo already in " + (temp / L"app")));
    package.SetProperty(L"CHECK_FILE_EXIST_1_DIR", temp / L"app");
    package.SetProperty(L"CHECK_FILE_EXIST_1_NAME", c.name);
    EXPECT_EQ(Run(CheckFileExist1), 0u);
    EXPECT_EQ(package.Property(L"CHECK_FILE_EXIST_1_EXIST"), *c.valid ? L"" : L"Yes");
  }
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"CheckFileExist1: true\r\n\r\n"), CUnicodeString::npos);
  EXPECT_NE(log.Find(L"CheckFileExist1: false\r\n\r\n"), CUnicodeString::npos);
}

TEST_F(CheckPathTest, EmptyFoldersAndUnsupportedCharacters) {
  Vrn::CreateDirectoryWithParents(temp / L"hidden");
  MakeFile(temp / L"hidden\\.x", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  Vrn::CreateDirectoryWithParents(temp / L"sub\\inner");
  const CUnicodeString missing = temp / L"missing", cyrillic = temp / L"Пр\x4E2D";
  Open();
  const struct {
    CUnicodeString folder;
    const wchar_t* valid;
    std::string box;
  } cases[] = {
      {missing, L"Yes", "none"},
      {temp / L"hidden", L"", Warning(temp / L"hidden is not empty")},
      {temp / L"sub", L"", Warning(temp / L"sub is not empty")},
      {missing + L"\\a;b#c", L"", Warning(missing + L"\\a;b#c has [#c]")},
      {missing + L"\\a;b", L"", Warning(missing + L"\\a;b has [;b]")},
      {cyrillic + L"#", L"", Warning(cyrillic + L"# has [Пр\x4E2D#]")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.folder));
    package.SetProperty(L"INSTALLDIR", c.folder);
    EXPECT_EQ(Run(CheckINSTALLDIRisEmpty), 0u);
    EXPECT_EQ(package.Property(L"INSTALLDIR_VALID"), c.valid);
    EXPECT_EQ(Box(), c.box);
  }
}

TEST_F(CheckPathTest, DirIsEmptyWithAnException) {
  Vrn::CreateDirectoryWithParents(temp / L"one");
  MakeFile(temp / L"one\\Setup.LOG");
  Vrn::CreateDirectoryWithParents(temp / L"two");
  MakeFile(temp / L"two\\a.log");
  MakeFile(temp / L"two\\b.log", FILE_ATTRIBUTE_HIDDEN);
  Open();
  const struct {
    CUnicodeString folder;
    const wchar_t *exception, *empty, *valid;
  } cases[] = {
      {temp / L"one", L"setup.log", L"Yes", L"Yes"},
      {temp / L"one", L"", L"", L"Yes"},
      {temp / L"two", L".log", L"", L"Yes"},
      {temp / L"missing", L"", L"Yes", L"Yes"},
      {temp / L"a%b", L"", L"Yes", L""},  // a name the product cannot use counts as empty, not valid
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.folder) + " / " + Utf8(c.exception));
    package.SetProperty(L"CHECK_DIR_IS_EMPTY_DIR", c.folder);
    package.SetProperty(L"MT_CHECK_DIR_EXCEPTION", c.exception);
    EXPECT_EQ(Run(CheckDirIsEmpty), 0u);
    EXPECT_EQ(package.Property(L"CHECK_DIR_IS_EMPTY_EMPTY"), c.empty);
    EXPECT_EQ(package.Property(L"CHECK_DIR_IS_EMPTY_VALID"), c.valid);
    EXPECT_EQ(Box(), *c.valid ? "none" : Warning(c.folder + L" has [%b]"));
  }
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"CheckDirIsEmpty list size: 2\r\n\r\nCheckDirIsEmpty : " + (temp / L"two\\a.log") +
                     L"\r\n\r\nCheckDirIsEmpty : " + (temp / L"two\\b.log") + L"\r\n\r\n"),
            CUnicodeString::npos)
      << Utf8(log);
  package.SetProperty(L"CHECK_DIR_IS_EMPTY_DIR", L"");
  EXPECT_EQ(Run(CheckDirIsEmpty), 1603u);
}

TEST_F(CheckPathTest, SourceDirNames) {
  Open();
  const struct {
    const wchar_t* source;
    UINT result;
    std::string box;
  } cases[] = {
      {L"C:\\Setup files\\", 0, "none"},
      {L"C:\\Setup\\ files", 1603, Warning(L"C:\\Setup\\ files has []")},
      {L"C:/x/ y", 1603, Warning(L"C:/x/ y has []")},
      {L"C:\\Дист\\", 1603, Warning(L"C:\\????\\ has [????\\]")},
  };
  uint32_t failures = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.source));
    package.SetProperty(L"SOURCEDIR", c.source);
    EXPECT_EQ(Run(CheckSRCDIR), c.result);
    EXPECT_EQ(Box(), c.box);
    if (c.result) ++failures;
    EXPECT_EQ(InstallationCount(), failures);  // each refusal is counted
  }
}

TEST_F(CheckPathTest, InstallDirNamesAndAccess) {
  MakeFile(temp / L"file.txt");
  names.wideNames = {{L"N:\\app", L"\\\\server\\apps"}};
  Open();
  const CUnicodeString fresh = temp / L"new\\deeper";
  const struct {
    CUnicodeString folder;
    const wchar_t *fromSetup, *notAccessedText, *valid;
    std::string box;
  } cases[] = {
      {temp / L"a;b", L"", L"Cannot reach %0", L"Yes", "none"},  // ";" is allowed here
      {temp / L"a;b#c", L"", L"Cannot reach %0", L"", Warning(temp / L"a;b#c has [#c]")},
      {fresh, L"1", L"Cannot reach %0", L"Yes", "none"},
      {temp.Path(), L"1", L"Cannot reach %0", L"Yes", "none"},
      {temp / L"file.txt\\sub", L"1", L"Cannot reach %0", L"", Warning(L"Cannot reach " + (temp / L"file.txt\\sub"))},
      {L"N:\\app", L"1", L"Cannot reach %0", L"", Warning(L"Cannot reach N:\\app")},
      {L"N:\\app", L"1", L"", L"Yes", "none"},                  // without the text a network folder is accepted
      {L"N:\\app", L"No", L"Cannot reach %0", L"Yes", "none"},  // not launched from the setup program
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.folder) + " / " + Utf8(c.fromSetup));
    package.SetProperty(L"INSTALLDIR", c.folder);
    package.SetProperty(L"LAUNCH_FROM_SETUP", c.fromSetup);
    package.SetProperty(L"MT_NetworkLocationNotAccessed", c.notAccessedText);
    EXPECT_EQ(Run(CheckINSTALLDIR), 0u);
    EXPECT_EQ(package.Property(L"INSTALLDIR_VALID"), c.valid);
    EXPECT_EQ(Box(), c.box);
  }
  // The access test removed the folders it made and its probe file.
  EXPECT_FALSE(Vrn::DirectoryExists(temp / L"new"));
  EXPECT_FALSE(Vrn::PathExists(temp / L"AccessTest.tmp"));
  EXPECT_NE(ActionLog(package).Find(L"CheckINSTALLDIR: ERROR:"), CUnicodeString::npos);
}

TEST_F(CheckPathTest, FreeSpaceForTheInstallDir) {
  Open();
  package.SetProperty(L"INSTALLDIR", temp.Path());
  const struct {
    uint64_t freeBytes;
    const wchar_t* required;
    const wchar_t* valid;
    std::string box;
  } cases[] = {
      {500ull << 20, L"500", L"", Warning(L"500 MiB free, 500 MiB needed")},  // equal is too little
      {(501ull << 20) - 1, L"500", L"", Warning(L"500 MiB free, 500 MiB needed")},
      {501ull << 20, L"500", L"Yes", "none"},
      {1ull << 50, L"2097150", L"Yes", "none"},  // capped at 2,147,483,647 KiB = 2,097,151 MiB
      {1ull << 50, L"2097151", L"", Warning(L"2097151 MiB free, 2097151 MiB needed")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.freeBytes);
    CFreeSpaceOverride space(c.freeBytes);
    package.SetProperty(L"APPEND_SPACE", c.required);
    EXPECT_EQ(Run(CheckFreeSpaceInstallDir), 0u);
    EXPECT_EQ(package.Property(L"APPEND_SPACE_VALID"), c.valid);
    EXPECT_EQ(Box(), c.box);
  }
  const CUnicodeString log = ActionLog(package);
  for (const CUnicodeString& line : {L"CheckFreeSpaceInstallDir installDir=" + temp.Path() +
                                         L"\r\n\r\nCheckFreeSpaceInstallDir freeSpace=2147483647",
                                     CUnicodeString(L"CheckFreeSpaceInstallDir distSize=2097151\r\n\r\n")})
    EXPECT_NE(log.Find(line), CUnicodeString::npos) << Utf8(line);
  // Not a number, or a disk that cannot be asked (the real query): a fault, the verdict untouched.
  package.SetProperty(L"APPEND_SPACE_VALID", L"unset");
  package.SetProperty(L"APPEND_SPACE", L"12 MB");
  EXPECT_EQ(Run(CheckFreeSpaceInstallDir), 1603u);
  package.SetProperty(L"APPEND_SPACE", L"1");
  package.SetProperty(L"INSTALLDIR", L"Q:\\missing");
  EXPECT_EQ(Run(CheckFreeSpaceInstallDir), 1603u);
  EXPECT_EQ(package.Property(L"APPEND_SPACE_VALID"), L"unset");
}

TEST_F(CheckPathTest, FreeSpaceForTheSourceSize) {
  // 3 KiB of files counted, a dot-named file and folder skipped, hidden files counted.
  Vrn::CreateDirectoryWithParents(temp / L"src\\sub\\deeper");
  Vrn::CreateDirectoryWithParents(temp / L"src\\.svn");
  MakeFile(temp / L"src\\a.bin", FILE_ATTRIBUTE_NORMAL, 1024);
  MakeFile(temp / L"src\\sub\\b.bin", FILE_ATTRIBUTE_HIDDEN, 1024);
  MakeFile(temp / L"src\\sub\\deeper\\c.bin", FILE_ATTRIBUTE_NORMAL, 1024);
  MakeFile(temp / L"src\\.skip", FILE_ATTRIBUTE_NORMAL, 4096);
  MakeFile(temp / L"src\\.svn\\d.bin", FILE_ATTRIBUTE_NORMAL, 4096);
  Open();
  package.SetProperty(L"USERTARGETDIR", temp.Path());
  package.SetProperty(L"SOURCEDIR", temp / L"src");
  const struct {
    uint64_t freeBytes;
    const wchar_t* valid;
  } cases[] = {{3 * 1024, L""}, {4 * 1024 - 1, L""}, {4 * 1024, L"Yes"}};
  for (const auto& c : cases) {
    CFreeSpaceOverride space(c.freeBytes);
    EXPECT_EQ(Run(CheckFreeSpaceUserTargetDir), 0u);
    EXPECT_EQ(package.Property(L"USERTARGETDIR_VALID"), c.valid) << c.freeBytes;
    EXPECT_EQ(Box(), *c.valid ? "none" : Warning(L"0 MiB free, 0 MiB needed"));
  }
  const CUnicodeString log = ActionLog(package);
  for (const CUnicodeString& line :
       {L"CheckFreeSpaceUserTargetDir targetDir=" + temp.Path() + L"\r\n\r\nCheckFreeSpaceTARGETDIR freeSpace=4\r\n",
        CUnicodeString(L"CheckFreeSpaceTARGETDIR distSize=3072\r\n\r\n")})
    EXPECT_NE(log.Find(line), CUnicodeString::npos) << Utf8(line);
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
  const CUnicodeString bad[] = {L"",
                                L"relative",
                                L"C:\\" + CUnicodeString(300, L'a'),
                                L"C:\\" + CUnicodeString(33000, L'b'),
                                L"\\\\",
                                L"\\\\host",
                                L"\\\\\\\\x",
                                missingDrive};
  for (const CUnicodeString& path : bad) {
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
  // The empty and the missing-drive folder cannot be written.
  for (const CUnicodeString& path : {CUnicodeString(), missingDrive}) {
    package.SetProperty(L"INSTALLDIR", path);
    EXPECT_EQ(Run(CheckINSTALLDIR), 0u);
    EXPECT_EQ(package.Property(L"INSTALLDIR_VALID"), L"") << Utf8(path);
  }
  EXPECT_FALSE(Vrn::PathExists(L"relative"));
  EXPECT_FALSE(Vrn::PathExists(L"AccessTest.tmp"));
}
