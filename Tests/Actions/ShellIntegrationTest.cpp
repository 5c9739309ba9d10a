// The shell-integration actions in a real installer session. The run actions start real children
// (this program started as the test child) and are checked on exit-code properties, log lines,
// boxes and the counted 1603 results; the small value, folder and open actions run in this program,
// so that the scripted user interface, the token seam and the recording shell opener reach them.
// The connection check is real (a listening socket on 127.0.0.1 is the reachable address).
#include <gtest/gtest.h>

#include "ActionFrame.h"
#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "Files.h"
#include "LocalListener.h"
#include "ProcessLauncher.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "ShellOpen.h"
#include "TestChild.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using TestSupport::TestChildCommand;
using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall Run(MSIHANDLE), RunAsUser(MSIHANDLE), RunWithMessage(MSIHANDLE), GetReturnCode(MSIHANDLE),
    RunConsole(MSIHANDLE), RunPS(MSIHANDLE), RunPSwithMessage(MSIHANDLE), Pause(MSIHANDLE), OpenURL(MSIHANDLE),
    OpenLocalURL(MSIHANDLE), OpenSourceFile(MSIHANDLE);
// kernel32 has an OpenFile of its own: the library's export is reached under another C++ name.
UINT __stdcall OpenFileAction(MSIHANDLE session) __asm__("OpenFile");
}

namespace {

constexpr wchar_t kMissingProgram[] = L"Z:\\no\\such\\program.exe";

uint32_t InstallationCount() {
  Vrn::CRegistryKey key;
  uint32_t count = 0;
  if (key.Open(HKEY_LOCAL_MACHINE, Msi::kMutexCounterKey, Vrn::RegistryMode::Read))
    count = static_cast<uint32_t>(std::wcstoul(key.ReadString(L"InstallationCount").c_str(), nullptr, 10));
  return count;
}

// A session in full UI with the scripted user interface; every run is one call of an action.
class RunSession {
 public:
  RunSession() {
    package.AddProperty(L"RunBadExitCodeMessage", L"The tool failed.");
    package.AddProperty(L"BadExitCodeMessage", L"The script failed.");
    package.Open();
    package.SetProperty(L"UILevel", L"5");
  }

  // Calls the action and checks its result, the exit-code property, the log, the counter and the
  // one box it may show (null: none).
  void Expect(UINT(__stdcall* action)(MSIHANDLE), UINT result, const wchar_t* exitProperty, const wchar_t* exitCode,
              const wchar_t* logLine = nullptr, const wchar_t* box = nullptr, UINT style = MB_OK | MB_ICONERROR) {
    package.SetProperty(exitProperty, L"unset");
    ui.shown.clear();
    const size_t logged = ActionLog(package).Length();
    const uint32_t countBefore = InstallationCount();
    EXPECT_EQ(action(package.Session()), result);
    EXPECT_EQ(package.Property(exitProperty), exitCode);
    EXPECT_EQ(InstallationCount(), countBefore + (result == ERROR_INSTALL_FAILURE ? 1 : 0)) << "counted once";
    const CUnicodeString log = ActionLog(package).Mid(logged);
    EXPECT_TRUE(!logLine || log.Find(logLine) != CUnicodeString::npos) << log;
    ASSERT_EQ(ui.shown.size(), box ? 1u : 0u);
    if (box) {
      EXPECT_EQ(ui.shown[0].text, box);
      EXPECT_EQ(ui.shown[0].style, style);
    }
  }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
};

class CTokenScript : public Msi::CNormalUserToken {
 public:
  Vrn::CKernelHandle Make() override {
    Vrn::CKernelHandle token;
    if (available) ::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, token.Put());
    return token;
  }
  bool available = true;
};

}  // namespace

TIMED_CHILD_TEST(ShellIntegrationReal, RunJudgesExitCodes, 120000) {
  RunSession s;
  // GetReturnCode before anything was written: no key, nothing is set; the key without the value gives 123.
  s.package.SetProperty(L"Run_ReturnCode", L"untouched");
  EXPECT_EQ(GetReturnCode(s.package.Session()), 0u);
  EXPECT_EQ(s.package.Property(L"Run_ReturnCode"), L"untouched");
  Vrn::CRegistryKey key;
  ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup", Vrn::RegistryMode::Write));
  EXPECT_EQ(GetReturnCode(s.package.Session()), 0u);
  EXPECT_EQ(s.package.Property(L"Run_ReturnCode"), L"123");

  s.package.SetProperty(L"Run_Exit_minus1", L"[ProductName] could not start the tool.");
  const struct {
    CUnicodeString commandLine;
    const wchar_t* noWait;
    UINT result;
    const wchar_t *exitCode, *logLine, *box;
  } cases[] = {
      {TestChildCommand(L"exit=5"), L"", 0, L"5", L"Run return :5\r\n", nullptr},
      // Not waited for: the exit-code-0 path, whatever the child returns later.
      {TestChildCommand(L"sleep=300 exit=4294967294"), L"1", 0, L"0", L"runProcess isNoWait : true\r\n", nullptr},
      // -2 without a text for it: logged, no box.
      {TestChildCommand(L"exit=4294967294"), L"No", 1603, L"4294967294", L"Run return -2\r\n", nullptr},
      {kMissingProgram, L"", 1603, L"4294967295", L"Run return -1\r\n", L"Test Product could not start the tool."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandLine.Left(50).ToUtf8());
    s.package.SetProperty(L"RunCmd", c.commandLine);
    s.package.SetProperty(L"RunIsNoWait", c.noWait);
    s.Expect(::Run, c.result, L"RunExitCode", c.exitCode, c.logLine, c.box);
  }
  // Only the exact text "SW_HIDE" hides the child (show mode 0); anything else shows it (10).
  s.package.SetProperty(L"RunIsNoWait", L"");
  s.package.SetProperty(L"RunCmd", TestChildCommand(L"exit=show"));
  for (const auto& [show, mode] : {std::pair{L"SW_HIDE", L"0"}, {L"sw_hide", L"10"}}) {
    s.package.SetProperty(L"RunShow", show);
    s.Expect(::Run, 0, L"RunExitCode", mode);
  }
  s.package.SetProperty(L"RunCmd", L"");
  EXPECT_EQ(::Run(s.package.Session()), 1603u);  // an internal error
}

TIMED_CHILD_TEST(ShellIntegrationReal, RunWithMessageAsUserAndPowerShell, 120000) {
  RunSession s;
  const struct {
    const wchar_t *options, *check;
    int answer;
    UINT result, style;
  } cases[] = {
      {L"exit=0", L"1", IDOK, 0, 0},  // no box
      {L"exit=3", L"", IDOK, 0, MB_OKCANCEL | MB_ICONWARNING},
      {L"exit=3", L"0", IDCANCEL, 1603, MB_OKCANCEL | MB_ICONWARNING},
      {L"exit=3", L"yes", IDOK, 1603, MB_OK | MB_ICONERROR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.options).ToUtf8() + " check " + CUnicodeString(c.check).ToUtf8());
    s.package.SetProperty(L"RunCmd", TestChildCommand(c.options));
    s.package.SetProperty(L"RunCmdCheckExitCode", c.check);
    s.ui.answers = {c.answer};
    s.Expect(RunWithMessage, c.result, L"RunExitCode", c.options + 5, nullptr, c.style ? L"The tool failed." : nullptr,
             c.style);
  }
  s.package.SetProperty(L"RunBadExitCodeMessage", L"");
  EXPECT_EQ(RunWithMessage(s.package.Session()), 1603u);

  // RunAsUser does not judge the code; it fails only when it cannot start.
  CTokenScript token;
  Msi::CNormalUserTokenOverride tokenSeam{token};
  s.package.SetProperty(L"RunCmd", TestChildCommand(L"exit=4294967294"));
  s.Expect(RunAsUser, 0, L"RunExitCode", L"4294967294", L"Run\r\n\r\n");
  token.available = false;
  s.Expect(RunAsUser, 1603, L"RunExitCode", L"0");

  // The format's other "%" stay text; PS_PATH fills the first place, RunPSCmd the second.
  TestSupport::CTempFolder folder;
  const CUnicodeString log = folder / L"out.log";
  s.package.SetProperty(L"RunPSCmdMain", L"%s print=[%d%n%%%x] exit=%s");
  s.package.SetProperty(L"PS_PATH", TestChildCommand(L""));
  s.package.SetProperty(L"RunPSCmd", L"6");
  s.package.SetProperty(L"RunPSCmdLog", log);
  s.Expect(RunPS, 0, L"RunPSExitCode", L"6", L"RunPS\r\n\r\n");
  EXPECT_EQ(TestSupport::ReadBytes(log), "[%d%n%%%x]");
  s.package.SetProperty(L"RunPSCmdCheckExitCode", L"1");
  s.Expect(RunPS, 1603, L"RunPSExitCode", L"6");
  s.ui.answers = {IDOK};
  s.Expect(RunPSwithMessage, 1603, L"RunPSExitCode", L"6", nullptr, L"The script failed.");
  // A program that cannot start fails whatever the check flag says.
  s.package.SetProperty(L"RunPSCmdCheckExitCode", L"");
  s.package.SetProperty(L"PS_PATH", kMissingProgram);
  s.Expect(RunPS, 1603, L"RunPSExitCode", L"4294967295");
  s.package.SetProperty(L"RunConsoleCmd", kMissingProgram);
  s.Expect(RunConsole, 1603, L"RunConsoleExitCode", L"4294967295");
  s.package.SetProperty(L"RunPSCmdMain", L"");
  EXPECT_EQ(RunPS(s.package.Session()), 1603u);
}

namespace {

struct COpened {
  CUnicodeString verb, file, parameters;
  int show;
  bool operator==(const COpened&) const = default;
};

class CRecordingOpener : public Msi::CShellOpener {
 public:
  bool Open(const Msi::CShellOpenRequest& request) override {
    opened.push_back({request.verb, request.file, request.parameters, request.show});
    return true;
  }
  std::vector<COpened> opened;
};

class ShellIntegrationTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CTempFolder folder;
};

}  // namespace

TEST_F(ShellIntegrationTest, CompareDigitsSetsOneVerdictAndKeepsTheOthers) {
  package.Open();
  const struct {
    const wchar_t *left, *right, *verdict;  // verdict null: CompareDigits_VALID empty, no verdict set
  } cases[] = {
      {L"#10", L"9", L"CompareDigits_MORE"},
      {L" 7 ", L"7", L"CompareDigits_EQUAL"},
      {L"3", L"#12", L"CompareDigits_LESS"},
      {L"-1", L"4294967295", L"CompareDigits_EQUAL"},
      {L"7a", L"7", nullptr},
      {L"", L"1", nullptr},
      {L"4294967296", L"1", nullptr},
      {L"##5", L"5", nullptr},
  };
  const wchar_t* verdicts[] = {L"CompareDigits_LESS", L"CompareDigits_MORE", L"CompareDigits_EQUAL"};
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.left).ToUtf8() + " / " + CUnicodeString(c.right).ToUtf8());
    for (const wchar_t* verdict : verdicts) package.SetProperty(verdict, L"stale");
    package.SetProperty(L"CompareDigits_Left", c.left);
    package.SetProperty(L"CompareDigits_Right", c.right);
    EXPECT_EQ(package.Call("CompareDigits"), 0u);
    EXPECT_EQ(package.Property(L"CompareDigits_VALID"), c.verdict ? L"Yes" : L"");
    for (const wchar_t* verdict : verdicts)
      EXPECT_EQ(package.Property(verdict), c.verdict && CUnicodeString(verdict) == c.verdict ? L"Yes" : L"stale");
  }
}

TEST_F(ShellIntegrationTest, ChangeIntAddsOrCountsItsFailure) {
  package.Open();
  package.SetProperty(L"ChangeInt_ValueProperty", L"COUNT");
  const struct {
    const wchar_t *value, *change, *result;  // null result: 1603, counted, nothing set
  } cases[] = {
      {L" 12 ", L"-20", L"-8"}, {L"2147483647", L"1", L"2147483648"}, {L"1e3", L"1", nullptr}, {L"5", L"#", nullptr},
      {L"", L"1", nullptr},
  };
  uint32_t counted = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.value).ToUtf8() + " + " + CUnicodeString(c.change).ToUtf8());
    package.SetProperty(L"COUNT", c.value);
    package.SetProperty(L"ChangeInt_Change", c.change);
    package.SetProperty(L"ChangeInt_Result", L"old");
    EXPECT_EQ(package.Call("ChangeInt"), c.result ? 0u : 1603u);
    EXPECT_EQ(package.Property(L"ChangeInt_Result"), c.result ? c.result : L"old");
    counted += c.result ? 0 : 1;
    EXPECT_EQ(InstallationCount(), counted);
  }
}

TEST_F(ShellIntegrationTest, GuidCompanyNameAndRegistryValues) {
  package.AddProperty(L"COMPANYNAME", L"Acme \"Best\", Inc.");
  package.AddProperty(L"NormPropForWriRegList", L"HASH||PLAIN|EMPTY|UNCHANGED");
  package.AddProperty(L"HASH", L" #5 ");
  package.AddProperty(L"PLAIN", L" 5 ");
  package.AddProperty(L"UNCHANGED", L"x y");
  package.Open();
  EXPECT_EQ(package.Call("GenerateSetupGUID"), 0u);
  const CUnicodeString guid = package.Property(L"SetupGUID");
  ASSERT_EQ(guid.Length(), 38u);
  EXPECT_TRUE(guid.StartsWith(L"{") && guid.EndsWith(L"}"));
  EXPECT_EQ(guid, CUnicodeString(guid).MakeUpperAscii());
  EXPECT_EQ(package.Property(L"SetupBodyGUID"), guid.Mid(1, 36));
  EXPECT_EQ(package.Call("RemoveCommasFromCompanyName"), 0u);
  EXPECT_EQ(package.Property(L"COMPANYNAME"), L"Acme 'Best', Inc.");
  EXPECT_EQ(package.Call("NormPropForWriReg"), 0u);
  EXPECT_EQ(package.Property(L"HASH"), L"##5");
  EXPECT_EQ(package.Property(L"PLAIN"), L"5");
  EXPECT_EQ(package.Property(L"EMPTY"), L"");
  EXPECT_EQ(package.Property(L"UNCHANGED"), L"x y");
}

TEST_F(ShellIntegrationTest, CheckServerNameAndPause) {
  package.AddProperty(L"ERROR_INPUTSERVERNAME_EMPTY", L"Type a server name");
  package.AddProperty(L"ERROR_INPUTSERVERNAME_INVALID", L"Not a server name");
  package.Open();
  const struct {
    const wchar_t *name, *logLine, *message;  // message null: valid
  } cases[] = {
      {L"corp\\db", L"Server Name: corp\\db\r\n", nullptr},
      {L"db HTTPS://x", L"Invalid Server Name: db HTTPS://x\r\n", L"Not a server name"},
      {L"\\\\srv", L"Invalid Server Name: \\\\srv\r\n", L"Not a server name"},
      {L"", L"Empty Server Name \r\n\r\n", L"Type a server name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.name).ToUtf8());
    package.SetProperty(L"INPUTSERVERNAME", c.name);
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(package.Call("CheckServerName"), 0u);
    EXPECT_EQ(package.Property(L"ISINPUTSERVERNAME"), c.message ? L"" : L"Yes");
    // The message service of an action is the custom-action log (and the installer).
    const CUnicodeString log = ActionLog(package).Mid(logged);
    EXPECT_NE(log.Find(c.logLine), CUnicodeString::npos) << log;
    EXPECT_EQ(log.Find(L"MESSAGE: ") != CUnicodeString::npos, c.message != nullptr) << log;
    EXPECT_NE(log.Find(c.message ? c.message : c.logLine), CUnicodeString::npos) << log;
  }

  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
  ui.answers = {IDOK};
  EXPECT_EQ(Pause(package.Session()), 0u);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].text, L"Pause");
  EXPECT_EQ(ui.shown[0].caption, L"Pause");
  EXPECT_EQ(ui.shown[0].style, 0u);
}

TEST_F(ShellIntegrationTest, OpenActionsOpenOnlyWhatIsThere) {
  Vrn::WriteFileBytes(folder / L"readme.txt", "text");
  package.Open();
  CRecordingOpener opener;
  Msi::CShellOpenerOverride seam{opener};
  const MSIHANDLE session = package.Session();
  TestSupport::CListener listener;
  const CUnicodeString reachable = L"http://127.0.0.1:" + listener.Text() + L"/";
  // Each action once with what is not there (nothing opened), then with what is.
  package.SetProperty(L"OPEN_URL", L"http://127.0.0.1:1/closed");
  EXPECT_EQ(OpenURL(session), 0u);
  package.SetProperty(L"OPEN_URL", reachable);
  EXPECT_EQ(OpenURL(session), 0u);
  EXPECT_EQ(OpenLocalURL(session), 0u);  // no browser named
  package.SetProperty(L"IE_FILEPATH", L"C:\\browser.exe");
  package.SetProperty(L"OPEN_LOCALURL", L"file:///C:/guide.htm");
  EXPECT_EQ(OpenLocalURL(session), 0u);
  package.SetProperty(L"SOURCEDIR", folder.Path() + L"\\");
  for (const wchar_t* name : {L"missing.txt", L"readme.txt"}) {
    package.SetProperty(L"OPEN_FILE", folder / name);
    EXPECT_EQ(OpenFileAction(session), 0u);
    package.SetProperty(L"OPEN_SOURCE_FILE", name);
    EXPECT_EQ(OpenSourceFile(session), 0u);
  }
  const std::vector<COpened> expected = {
      {L"open", reachable, L"", SW_SHOWNORMAL},
      {L"runas", L"C:\\browser.exe", L"file:///C:/guide.htm", SW_SHOWNORMAL},
      {L"open", folder / L"readme.txt", L"", SW_SHOWNORMAL},
      {L"open", folder / L"readme.txt", L"", SW_SHOWNORMAL},
  };
  EXPECT_TRUE(opener.opened == expected);
  EXPECT_NE(ActionLog(package).Find(L"OpenURL: " + reachable), CUnicodeString::npos);
}

TEST_F(ShellIntegrationTest, FoldersNextToTheSource) {
  Vrn::CreateDirectoryWithParents(folder / L"media\\setup\\Data");
  Vrn::CreateDirectoryWithParents(folder / L"media\\setup\\Extras");
  package.AddProperty(L"SOURCEDIR", folder / L"media\\setup\\");
  package.Open();
  EXPECT_EQ(package.Call("GetRoot"), 0u);
  EXPECT_EQ(package.Property(L"ROOT_PATH"), folder / L"media\\setup\\..\\");
  EXPECT_EQ(package.Call("CheckDataFolder"), 0u);
  EXPECT_EQ(package.Property(L"DATA_VALID"), L"Yes");
  for (const auto& [relative, valid] : {std::pair{L"Extras", L"Yes"}, std::pair{L"Nothing", L""}}) {
    package.SetProperty(L"CF_FOLDER", relative);
    EXPECT_EQ(package.Call("CheckFolder"), 0u);
    EXPECT_EQ(package.Property(L"CF_VALID"), valid);
  }
  EXPECT_NE(ActionLog(package).Find(L"WARNING! Data folder isn't exist"), CUnicodeString::npos);
  package.SetProperty(L"CF_FOLDER", L"");
  EXPECT_EQ(package.Call("CheckFolder"), 1603u);
  package.SetProperty(L"SOURCEDIR", L"");
  EXPECT_EQ(package.Call("CheckDataFolder"), 1603u);
}

TEST_F(ShellIntegrationTest, CopyAdditionalFilesStopsAtAnEmptyNameAndClearsReadOnly) {
  const CUnicodeString source = folder / L"src", target = folder / L"deep\\dst";
  Vrn::CreateDirectoryWithParents(source);
  for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) Vrn::WriteFileBytes(Vrn::JoinPath(source, name), "new");
  ASSERT_TRUE(SetFileAttributesW((source + L"\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  package.AddProperty(L"SourceDirectory", source);
  package.AddProperty(L"DestinationDirectory", target);
  package.AddProperty(L"Files", L"a.txt,b.txt,,c.txt");
  package.Open();
  EXPECT_EQ(package.Call("CopyAdditionalFilesToDirectory"), 0u);
  EXPECT_EQ(TestSupport::ReadBytes(target + L"\\a.txt"), "new");
  EXPECT_EQ(GetFileAttributesW((target + L"\\a.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_TRUE(Vrn::FileExists(target + L"\\b.txt"));
  EXPECT_FALSE(Vrn::FileExists(target + L"\\c.txt"));  // after the empty name
  // A target held open without sharing (the retry fails too) ends with 1603 and the file error
  // naming the file.
  const Vrn::CFileHandle held(
      CreateFileW((target + L"\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.IsValid());
  package.SetProperty(L"Files", L"b.txt");
  EXPECT_EQ(package.Call("CopyAdditionalFilesToDirectory"), 1603u);
  EXPECT_NE(ActionLog(package).Find(target + L"\\b.txt"), CUnicodeString::npos);
}

// The real shell, once: a missing document fails at once without an error dialog, and a program
// that ends by itself starts.
TIMED_CHILD_TEST(ShellOpenReal, OpensAProgramAndRefusesAMissingFileWithoutADialog, 60000) {
  TestSupport::CTempFolder folder;
  EXPECT_FALSE(Msi::ShellOpener().Open({L"open", folder / L"missing.txt", L"", SW_SHOWNORMAL}));
  EXPECT_TRUE(Msi::ShellOpener().Open({L"open", L"cmd.exe", L"/c exit 0", SW_HIDE}));
}
