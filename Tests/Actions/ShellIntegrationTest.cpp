// The run actions in a real installer session with real children (this program started as the
// test child): exit-code properties, log lines, boxes, the registry hand-over between Run and
// GetReturnCode, and the counted 1603 results. The actions run in this program, so the scripted
// user interface and the token seam reach them.
#include <gtest/gtest.h>

#include "ActionFrame.h"
#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "ProcessLauncher.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "TestChild.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using TestSupport::TestChildCommand;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall Run(MSIHANDLE session);
extern "C" UINT __stdcall RunAsUser(MSIHANDLE session);
extern "C" UINT __stdcall RunWithMessage(MSIHANDLE session);
extern "C" UINT __stdcall GetReturnCode(MSIHANDLE session);
extern "C" UINT __stdcall RunConsole(MSIHANDLE session);
extern "C" UINT __stdcall RunPS(MSIHANDLE session);
extern "C" UINT __stdcall RunPSwithMessage(MSIHANDLE session);

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

  // Calls the action and checks its result, the exit-code property, the log and the counter.
  void Expect(UINT(__stdcall* action)(MSIHANDLE), UINT result, const wchar_t* exitProperty, const wchar_t* exitCode,
              const wchar_t* logLine = nullptr) {
    package.SetProperty(exitProperty, L"unset");
    const size_t logged = ActionLog(package).Length();
    const uint32_t countBefore = InstallationCount();
    EXPECT_EQ(action(package.Session()), result);
    EXPECT_EQ(package.Property(exitProperty), exitCode);
    EXPECT_EQ(InstallationCount(), countBefore + (result == ERROR_INSTALL_FAILURE ? 1 : 0)) << "counted once";
    const CUnicodeString log = ActionLog(package).Mid(logged);
    if (logLine) {
      EXPECT_NE(log.Find(logLine), CUnicodeString::npos) << log;
    }
  }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
};

}  // namespace

TIMED_CHILD_TEST(ShellIntegrationReal, RunJudgesExitCodes, 120000) {
  RunSession s;
  s.package.SetProperty(L"Run_Exit_minus1", L"[ProductName] could not start the tool.");
  const struct {
    CUnicodeString commandLine;
    const wchar_t* noWait;
    UINT result;
    const wchar_t *exitCode, *logLine, *box;
  } cases[] = {
      {TestChildCommand(L"exit=5"), L"", 0, L"5", L"Run return :5\r\n", nullptr},
      {TestChildCommand(L"exit=0"), L"No", 0, L"0", L"runProcess isNoWait : false\r\n", nullptr},
      // Not waited for: the exit-code-0 path, whatever the child returns later.
      {TestChildCommand(L"sleep=300 exit=4294967294"), L"1", 0, L"0", L"runProcess isNoWait : true\r\n", nullptr},
      // -2 without a text for it: logged, no box.
      {TestChildCommand(L"exit=4294967294"), L"", 1603, L"4294967294", L"Run return -2\r\n", nullptr},
      {kMissingProgram, L"", 1603, L"4294967295", L"Run return -1\r\n", L"Test Product could not start the tool."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandLine.Left(50).ToUtf8());
    s.package.SetProperty(L"RunCmd", c.commandLine);
    s.package.SetProperty(L"RunIsNoWait", c.noWait);
    s.ui.shown.clear();
    s.Expect(::Run, c.result, L"RunExitCode", c.exitCode, c.logLine);
    ASSERT_EQ(s.ui.shown.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(s.ui.shown[0].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
      EXPECT_EQ(s.ui.shown[0].text, c.box);
    }
  }
  // Only the exact text "SW_HIDE" hides the child (show mode 0); anything else shows it (10).
  s.package.SetProperty(L"RunIsNoWait", L"");
  s.package.SetProperty(L"RunCmd", TestChildCommand(L"exit=show"));
  for (const auto& [show, mode] :
       {std::pair{L"SW_HIDE", L"0"}, {L"sw_hide", L"10"}, {L"SW_HIDE ", L"10"}, {L"", L"10"}}) {
    s.package.SetProperty(L"RunShow", show);
    s.Expect(::Run, 0, L"RunExitCode", mode);
  }
  s.package.SetProperty(L"RunCmd", L"");
  EXPECT_EQ(::Run(s.package.Session()), 1603u);  // an internal error
}

TIMED_CHILD_TEST(ShellIntegrationReal, ReturnCodeThroughTheRegistry, 60000) {
  RunSession s;
  // No key yet: nothing is set.
  s.package.SetProperty(L"Run_ReturnCode", L"untouched");
  EXPECT_EQ(GetReturnCode(s.package.Session()), 0u);
  EXPECT_EQ(s.package.Property(L"Run_ReturnCode"), L"untouched");
  // The key without the value: 123.
  Vrn::CRegistryKey key;
  ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup", Vrn::RegistryMode::Write));
  EXPECT_EQ(GetReturnCode(s.package.Session()), 0u);
  EXPECT_EQ(s.package.Property(L"Run_ReturnCode"), L"123");

  s.package.SetProperty(L"Run_SetReturnCodeInRegistry", L"1");
  s.package.SetProperty(L"RunCmd", TestChildCommand(L"exit=4294967294"));
  EXPECT_EQ(::Run(s.package.Session()), 1603u);
  EXPECT_EQ(key.ValueType(L"Run_ReturnCode"), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(GetReturnCode(s.package.Session()), 0u);
  EXPECT_EQ(s.package.Property(L"Run_ReturnCode"), L"4294967294");
  EXPECT_NE(ActionLog(s.package).Find(L"GetReturnCode exitCode:4294967294\r\n"), CUnicodeString::npos);
}

TIMED_CHILD_TEST(ShellIntegrationReal, RunWithMessageAsksOrFails, 120000) {
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
    s.ui.shown.clear();
    s.ui.answers = {c.answer};
    s.Expect(RunWithMessage, c.result, L"RunExitCode", c.options + 5);
    ASSERT_EQ(s.ui.shown.size(), c.style ? 1u : 0u);
    if (c.style) {
      EXPECT_EQ(s.ui.shown[0].style, c.style);
      EXPECT_EQ(s.ui.shown[0].text, L"The tool failed.");
      EXPECT_EQ(s.ui.shown[0].caption, L"Test Product");
    }
  }
  s.package.SetProperty(L"RunBadExitCodeMessage", L"");
  EXPECT_EQ(RunWithMessage(s.package.Session()), 1603u);
}

TIMED_CHILD_TEST(ShellIntegrationReal, ConsoleAndPowerShellRuns, 120000) {
  RunSession s;
  TestSupport::CTempFolder folder;
  const CUnicodeString log = folder / L"out.log";
  s.package.SetProperty(L"RunConsoleCmd", TestChildCommand(L"print=console exit=7"));
  s.package.SetProperty(L"RunConsoleLog", log);
  s.Expect(RunConsole, 0, L"RunConsoleExitCode", L"7", L"Run\r\n\r\n");
  EXPECT_EQ(TestSupport::ReadBytes(log), "console");
  s.package.SetProperty(L"RunConsoleCmd", kMissingProgram);
  s.Expect(RunConsole, 1603, L"RunConsoleExitCode", L"4294967295");

  // The format's other "%" stay text; PS_PATH fills the first place, RunPSCmd the second.
  s.package.SetProperty(L"RunPSCmdMain", L"%s print=[%d%n%%%x] exit=%s");
  s.package.SetProperty(L"PS_PATH", TestChildCommand(L""));
  s.package.SetProperty(L"RunPSCmd", L"6");
  s.package.SetProperty(L"RunPSCmdLog", log);
  s.Expect(RunPS, 0, L"RunPSExitCode", L"6", L"RunPS\r\n\r\n");
  EXPECT_EQ(TestSupport::ReadBytes(log), "[%d%n%%%x]");
  s.package.SetProperty(L"RunPSCmdCheckExitCode", L"1");
  s.Expect(RunPS, 1603, L"RunPSExitCode", L"6");
  s.ui.answers = {IDOK};
  s.Expect(RunPSwithMessage, 1603, L"RunPSExitCode", L"6", L"RunPSwithMessage\r\n\r\n");
  ASSERT_EQ(s.ui.shown.size(), 1u);
  EXPECT_EQ(s.ui.shown[0].text, L"The script failed.");
  s.package.SetProperty(L"RunPSCmdCheckExitCode", L"");
  s.ui.answers = {IDOK};
  s.Expect(RunPSwithMessage, 0, L"RunPSExitCode", L"6");
  // A program that cannot start fails whatever the check flag says.
  s.package.SetProperty(L"PS_PATH", kMissingProgram);
  s.Expect(RunPS, 1603, L"RunPSExitCode", L"4294967295");
  for (const wchar_t* required : {L"RunPSCmdMain", L"RunPSCmd"}) {
    s.package.SetProperty(required, L"");
    EXPECT_EQ(RunPS(s.package.Session()), 1603u) << CUnicodeString(required).ToUtf8();
  }
}

namespace {

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

TIMED_CHILD_TEST(ShellIntegrationReal, RunAsUserFailsOnlyWhenNotStarted, 60000) {
  RunSession s;
  CTokenScript token;
  Msi::CNormalUserTokenOverride seam{token};
  s.package.SetProperty(L"RunCmd", TestChildCommand(L"exit=4294967294"));
  s.Expect(RunAsUser, 0, L"RunExitCode", L"4294967294", L"Run\r\n\r\n");  // the code is not judged
  token.available = false;
  s.Expect(RunAsUser, 1603, L"RunExitCode", L"0");
}
