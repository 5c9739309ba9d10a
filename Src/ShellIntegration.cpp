// The run actions: a command line from installer properties is started through the process
// launcher, its exit code is stored in properties (and for Run optionally in the registry), and
// bad exit codes become message boxes and result 1603 (counted as an installation failure).
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "InstallHelper.h"
#include "MsiHelper.h"
#include "ProcessLauncher.h"
#include "RegistryKey.h"

namespace {

using Msi::CUnicodeString;

// Where Run leaves an exit code for GetReturnCode, possibly in another process.
constexpr wchar_t kSetupKey[] = L"SOFTWARE\\Orvant\\Setup";
constexpr wchar_t kReturnCodeValue[] = L"Run_ReturnCode";
constexpr DWORD kExitMinus1 = 0xFFFFFFFF;
constexpr DWORD kExitMinus2 = 0xFFFFFFFE;

void LogLine(const wchar_t* text) { Msi::CustomActionLog() << text << L"\r\n\r\n"; }

CUnicodeString RequiredProperty(MSIHANDLE session, const wchar_t* name) {
  CUnicodeString value = Msi::GetProperty(session, name);
  Vrn::Check(!value.IsEmpty());
  return value;
}

// Starts RunCmd as RunIsNoWait and RunShow say, writes RunExitCode and returns the exit code;
// `result` becomes 1603 when the launch reported failure and is otherwise left alone.
DWORD RunProcess(MSIHANDLE session, UINT& result, bool asNormalUser) {
  const CUnicodeString commandLine = RequiredProperty(session, L"RunCmd");
  const bool noWait = Msi::GetBoolProperty(session, L"RunIsNoWait");
  Msi::CustomActionLog() << L"runProcess isNoWait : " << (noWait ? L"true" : L"false") << L"\r\n";
  // Only the exact text hides the child.
  const WORD show = Msi::GetPropertySilent(session, L"RunShow") == L"SW_HIDE" ? Msi::kShowHidden : Msi::kShowDefault;
  DWORD exitCode = 0;
  const bool launched = asNormalUser ? Msi::LaunchProcessAsNormalUser(commandLine, exitCode, show, !noWait)
                                     : Msi::LaunchProcess(commandLine, exitCode, show, !noWait);
  if (!launched) result = ERROR_INSTALL_FAILURE;
  Msi::SetPropertySilent(session, L"RunExitCode", CUnicodeString::FromUInt(exitCode));
  return exitCode;
}

// RunPSCmdMain with its first "%s" replaced by the first value and its second by the second. Any
// other "%" is text, so a stray "%d" or "%n" in a package cannot read or write anything.
CUnicodeString FillTwoPlaces(const CUnicodeString& format, const CUnicodeString& first, const CUnicodeString& second) {
  CUnicodeString text;
  const CUnicodeString* values[] = {&first, &second};
  size_t filled = 0;
  const std::wstring_view view = format.View();
  for (size_t i = 0; i < view.size(); ++i) {
    if (filled < std::size(values) && view[i] == L'%' && i + 1 < view.size() && view[i + 1] == L's') {
      text += *values[filled++];
      ++i;
    } else {
      text += view[i];
    }
  }
  return text;
}

// The PowerShell run: RunPSCmdMain filled with PS_PATH and RunPSCmd, run as a console process with
// RunPSCmdLog as its log; RunPSExitCode receives the exit code, and `result` becomes 1603 when the
// child could not be started.
DWORD RunPowerShell(MSIHANDLE session, UINT& result) {
  const CUnicodeString format = RequiredProperty(session, L"RunPSCmdMain");
  const CUnicodeString command = RequiredProperty(session, L"RunPSCmd");
  const CUnicodeString program = RequiredProperty(session, L"PS_PATH");
  const CUnicodeString logPath = Msi::GetPropertySilent(session, L"RunPSCmdLog");
  DWORD exitCode = 0;
  if (!Msi::CreateConsoleProcess(FillTwoPlaces(format, program, command), exitCode, logPath))
    result = ERROR_INSTALL_FAILURE;
  Msi::SetPropertySilent(session, L"RunPSExitCode", CUnicodeString::FromUInt(exitCode));
  return exitCode;
}

// A non-zero exit code: with the check flag an error box and 1603; without it a warning with OK and
// Cancel, where Cancel gives 1603. Shown whatever the user-interface level.
void JudgeExitCode(MSIHANDLE session, DWORD exitCode, bool checkExitCode, const CUnicodeString& message, UINT& result) {
  if (exitCode == 0) return;
  const CUnicodeString caption = Msi::GetProperty(session, L"ProductName");
  const UINT style = checkExitCode ? MB_OK | MB_ICONERROR : MB_OKCANCEL | MB_ICONWARNING;
  const int answer = Msi::ShowOwnedMessageBox(session, message, caption, style);
  if (checkExitCode || answer == IDCANCEL) result = ERROR_INSTALL_FAILURE;
}

// Shows the package's text for a failed launch, when it has one. The message context (and so the
// read of ProductName) is made only then, so a deferred Run needs no ProductName in its data.
void ShowExitMessage(MSIHANDLE session, CUnicodeString text) {
  if (text.IsEmpty()) return;
  const Msi::CMessageContext context(session);
  Msi::ShowProductMessageBox(context, text, MB_OK | MB_ICONERROR);
}

UINT RunBody(MSIHANDLE session) {
  LogLine(L"Run");
  const CUnicodeString minus1Text = Msi::GetPropertySilent(session, L"Run_Exit_minus1");
  const CUnicodeString minus2Text = Msi::GetPropertySilent(session, L"Run_Exit_minus2");
  const bool storeInRegistry = Msi::GetBoolProperty(session, L"Run_SetReturnCodeInRegistry");
  UINT result = ERROR_SUCCESS;
  const DWORD exitCode = RunProcess(session, result, false);
  if (exitCode == kExitMinus2) {
    LogLine(L"Run return -2");
    ShowExitMessage(session, minus2Text);
    result = ERROR_INSTALL_FAILURE;
  } else if (exitCode == kExitMinus1) {
    LogLine(L"Run return -1");
    ShowExitMessage(session, minus1Text);
    result = ERROR_INSTALL_FAILURE;
  } else if (exitCode != 0) {
    Msi::CustomActionLog() << L"Run return :" << static_cast<uint32_t>(exitCode) << L"\r\n\r\n";
  }
  if (storeInRegistry) {
    // A key that cannot be opened is no failure of the run.
    Vrn::CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSetupKey, Vrn::RegistryMode::Write)) key.WriteDword(kReturnCodeValue, exitCode);
  }
  return Msi::CountFailure(result);
}

UINT RunAsUserBody(MSIHANDLE session) {
  LogLine(L"Run");
  UINT result = ERROR_SUCCESS;
  RunProcess(session, result, true);
  return Msi::CountFailure(result);
}

// RunWithMessage and RunPSwithMessage: the check flag and the required text, the run, the verdict.
UINT RunWithMessageFrom(MSIHANDLE session, const wchar_t* actionName, const wchar_t* checkProperty,
                        const wchar_t* messageProperty, DWORD (*run)(MSIHANDLE, UINT&)) {
  LogLine(actionName);
  const bool checkExitCode = Msi::GetBoolProperty(session, checkProperty);
  const CUnicodeString message = RequiredProperty(session, messageProperty);
  UINT result = ERROR_SUCCESS;
  const DWORD exitCode = run(session, result);
  JudgeExitCode(session, exitCode, checkExitCode, message, result);
  return Msi::CountFailure(result);
}

DWORD RunAsInstallingUser(MSIHANDLE session, UINT& result) { return RunProcess(session, result, false); }

UINT RunWithMessageBody(MSIHANDLE session) {
  return RunWithMessageFrom(session, L"RunWithMessage", L"RunCmdCheckExitCode", L"RunBadExitCodeMessage",
                            RunAsInstallingUser);
}

UINT GetReturnCodeBody(MSIHANDLE session) {
  LogLine(L"GetReturnCode ");
  Vrn::CRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, kSetupKey, Vrn::RegistryMode::Read)) return ERROR_SUCCESS;
  DWORD stored = 0;
  const DWORD exitCode = key.ReadRaw(kReturnCodeValue, &stored, sizeof stored) == sizeof stored ? stored : 123;
  key.Close();
  Msi::CustomActionLog() << L"GetReturnCode exitCode:" << static_cast<uint32_t>(exitCode) << L"\r\n";
  Msi::SetProperty(session, kReturnCodeValue, CUnicodeString::FromUInt(exitCode));
  return ERROR_SUCCESS;
}

UINT RunConsoleBody(MSIHANDLE session) {
  LogLine(L"Run");
  const CUnicodeString commandLine = RequiredProperty(session, L"RunConsoleCmd");
  const CUnicodeString logPath = Msi::GetPropertySilent(session, L"RunConsoleLog");
  DWORD exitCode = 0;
  const UINT result = Msi::CreateConsoleProcess(commandLine, exitCode, logPath) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
  Msi::SetPropertySilent(session, L"RunConsoleExitCode", CUnicodeString::FromUInt(exitCode));
  return Msi::CountFailure(result);
}

UINT RunPSBody(MSIHANDLE session) {
  LogLine(L"RunPS");
  const bool checkExitCode = Msi::GetBoolProperty(session, L"RunPSCmdCheckExitCode");
  UINT result = ERROR_SUCCESS;
  if (RunPowerShell(session, result) != 0 && checkExitCode) result = ERROR_INSTALL_FAILURE;
  return Msi::CountFailure(result);
}

UINT RunPSwithMessageBody(MSIHANDLE session) {
  return RunWithMessageFrom(session, L"RunPSwithMessage", L"RunPSCmdCheckExitCode", L"BadExitCodeMessage",
                            RunPowerShell);
}

}  // namespace

ORV_ACTION(Run, RunBody)
ORV_ACTION(RunAsUser, RunAsUserBody)
ORV_ACTION(RunWithMessage, RunWithMessageBody)
ORV_ACTION(GetReturnCode, GetReturnCodeBody)
ORV_ACTION(RunConsole, RunConsoleBody)
ORV_ACTION(RunPS, RunPSBody)
ORV_ACTION(RunPSwithMessage, RunPSwithMessageBody)
