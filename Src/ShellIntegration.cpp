// The shell-integration actions. The run actions start a command line from installer properties
// through the process launcher, store its exit code in properties (and for Run optionally in the
// registry), and turn bad exit codes into message boxes and result 1603 (counted as an installation
// failure). The shell and folder actions open addresses, files and source files, find folders next
// to the installation source and copy a list of files. The small value actions compare and add
// numbers, make a fresh GUID, clean texts up, check a server name and pause for debugging.

// kernel32 declares a function OpenFile of its own; this library's export of that name is defined
// below, so the system's declaration is renamed out of the way.
#define OpenFile SystemOpenFile
#include "VrnWindows.h"
#undef OpenFile
// after windows.h
#include <objbase.h>
#include <wininet.h>

#include <cstdint>
#include <optional>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "Files.h"
#include "InstallHelper.h"
#include "MessageHandlers.h"
#include "MsiHelper.h"
#include "ProcessLauncher.h"
#include "RegistryKey.h"
#include "ShellOpen.h"
#include "TextLimits.h"

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

ORV_ACTION(Run, RunBody,
           .reads = L"RunCmd RunIsNoWait RunShow Run_Exit_minus1 Run_Exit_minus2 Run_SetReturnCodeInRegistry")
ORV_ACTION(RunAsUser, RunAsUserBody, .reads = L"RunCmd RunIsNoWait RunShow")
ORV_ACTION(RunWithMessage, RunWithMessageBody,
           .reads = L"RunCmd RunIsNoWait RunShow RunCmdCheckExitCode RunBadExitCodeMessage ProductName CLIENTPROCESSID")
ORV_ACTION(GetReturnCode, GetReturnCodeBody)
ORV_ACTION(RunConsole, RunConsoleBody, .reads = L"RunConsoleCmd RunConsoleLog")
ORV_ACTION(RunPS, RunPSBody, .reads = L"RunPSCmdMain PS_PATH RunPSCmd RunPSCmdLog RunPSCmdCheckExitCode")
ORV_ACTION(RunPSwithMessage, RunPSwithMessageBody,
           .reads =
               L"RunPSCmdMain PS_PATH RunPSCmd RunPSCmdLog RunPSCmdCheckExitCode BadExitCodeMessage ProductName "
               L"CLIENTPROCESSID")

namespace {

// ---- Small value actions ----

// The unsigned reading of a number text: the strict decimal parse, where a leading minus sign is
// accepted and wraps as the C library's unsigned conversion does ("-1" is 4294967295).
std::optional<uint32_t> UnsignedNumber(const CUnicodeString& text) {
  const CUnicodeString trimmed = CUnicodeString(text).TrimLeft();
  if (!trimmed.StartsWith(L"-")) return Vrn::StrictInteger<uint32_t>(trimmed);
  const CUnicodeString magnitude = trimmed.Mid(1);
  // "--1" and "-+1" are no numbers, and blanks may not follow the sign.
  if (magnitude.IsEmpty() || magnitude[0] < L'0' || magnitude[0] > L'9') return std::nullopt;
  const std::optional<uint32_t> value = Vrn::StrictInteger<uint32_t>(magnitude);
  if (!value) return std::nullopt;
  return 0u - *value;
}

// The installer's registry search gives numbers as "#123": one leading "#" is dropped.
CUnicodeString WithoutNumberMark(const CUnicodeString& text) { return text.StartsWith(L"#") ? text.Mid(1) : text; }

UINT CompareDigitsBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"CompareDigits\r\n";
  const std::optional<uint32_t> left =
      UnsignedNumber(WithoutNumberMark(Msi::GetProperty(session, L"CompareDigits_Left")));
  const std::optional<uint32_t> right =
      UnsignedNumber(WithoutNumberMark(Msi::GetProperty(session, L"CompareDigits_Right")));
  if (!left || !right) {
    Msi::SetProperty(session, L"CompareDigits_VALID", L"");
    return ERROR_SUCCESS;
  }
  Msi::SetProperty(session, L"CompareDigits_VALID", L"Yes");
  // Only the verdict that holds is set; the other two keep what they had.
  const wchar_t* verdict = *left < *right   ? L"CompareDigits_LESS"
                           : *left > *right ? L"CompareDigits_MORE"
                                            : L"CompareDigits_EQUAL";
  Msi::SetProperty(session, verdict, L"Yes");
  return ERROR_SUCCESS;
}

UINT ChangeIntBody(MSIHANDLE session) {
  LogLine(L"ChangeInt");
  const CUnicodeString name = Msi::GetProperty(session, L"ChangeInt_ValueProperty");
  Vrn::Check(!name.IsEmpty());
  const CUnicodeString value = Msi::GetProperty(session, name);
  Vrn::Check(!value.IsEmpty());
  const CUnicodeString change = Msi::GetProperty(session, L"ChangeInt_Change");
  Vrn::Check(!change.IsEmpty());
  const std::optional<int32_t> base = Vrn::StrictInteger<int32_t>(value);
  const std::optional<int32_t> step = Vrn::StrictInteger<int32_t>(change);
  if (!base || !step) return Msi::CountFailure(ERROR_INSTALL_FAILURE);
  Msi::SetProperty(session, L"ChangeInt_Result", CUnicodeString::FromInt(int64_t{*base} + *step));
  return ERROR_SUCCESS;
}

UINT GenerateSetupGuidBody(MSIHANDLE session) {
  LogLine(L"GenerateSetupGUID");
  GUID guid{};
  const HRESULT created = ::CoCreateGuid(&guid);
  if (FAILED(created)) {
    Msi::CustomActionLog() << L"GenerateSetupGUID CoCreateGuid hRet=" << static_cast<int32_t>(created) << L"\r\n";
    return ERROR_SUCCESS;
  }
  wchar_t text[100] = {};
  const int count = ::StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
  // 38 characters and the terminator: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
  if (count != 39) {
    Msi::CustomActionLog() << L"GenerateSetupGUID ret=" << static_cast<int32_t>(count) << L"\r\n";
    return ERROR_SUCCESS;
  }
  const CUnicodeString braced(text);
  Msi::SetProperty(session, L"SetupGUID", braced);
  Msi::SetProperty(session, L"SetupBodyGUID", braced.Mid(1, braced.Length() - 2));
  return ERROR_SUCCESS;
}

// Logs nothing of its own: the name may be written into registry rows as it is.
UINT RemoveCommasFromCompanyNameBody(MSIHANDLE session) {
  CUnicodeString company = Msi::GetProperty(session, L"COMPANYNAME");
  if (company.Replace(L"\"", L"'") != 0) Msi::SetProperty(session, L"COMPANYNAME", company);
  return ERROR_SUCCESS;
}

UINT NormPropForWriRegBody(MSIHANDLE session) {
  LogLine(L"NormPropForWriReg");
  const CUnicodeString list = Msi::GetProperty(session, L"NormPropForWriRegList");
  for (size_t start = 0; start <= list.Length();) {
    size_t end = list.Find(L'|', start);
    if (end == CUnicodeString::npos) end = list.Length();
    const CUnicodeString name = list.Mid(start, end - start);
    start = end + 1;
    if (name.IsEmpty()) continue;
    const CUnicodeString value = Msi::GetPropertySilent(session, name);
    CUnicodeString normal = value.Trimmed();
    // A registry row whose value starts with "#" stores a number; "##" keeps the text a text.
    if (normal.StartsWith(L"#")) normal = L"#" + normal;
    if (normal != value) Msi::SetProperty(session, name, normal);
  }
  return ERROR_SUCCESS;
}

// A server name is valid without an address scheme anywhere and without a leading backslash.
bool IsValidServerName(const CUnicodeString& name) {
  const CUnicodeString folded = CUnicodeString(name).MakeLowerAscii();
  for (const wchar_t* scheme : {L"http://", L"https://", L"ftp://"})
    if (folded.Find(scheme) != CUnicodeString::npos) return false;
  return !name.StartsWith(L"\\");
}

UINT CheckServerNameBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"CheckServerName\r\n";
  const CUnicodeString name = Msi::GetProperty(session, L"INPUTSERVERNAME");
  const CUnicodeString caption = Vrn::ApplicationTitle();
  bool valid = false;
  if (name.IsEmpty()) {
    Msi::CustomActionLog() << L"Empty Server Name \r\n\r\n";
    Vrn::ShowMessageText(Msi::GetProperty(session, L"ERROR_INPUTSERVERNAME_EMPTY"), caption, 0);
  } else if (IsValidServerName(name)) {
    Msi::CustomActionLog() << L"Server Name: " << name << L"\r\n";
    valid = true;
  } else {
    Msi::CustomActionLog() << L"Invalid Server Name: " << name << L"\r\n";
    Vrn::ShowMessageText(Msi::GetProperty(session, L"ERROR_INPUTSERVERNAME_INVALID"), caption, 0);
  }
  Msi::SetProperty(session, L"ISINPUTSERVERNAME", valid ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

UINT PauseBody(MSIHANDLE) {
  Vrn::UserInterface().ShowBox(nullptr, L"Pause", L"Pause", MB_OK);
  LogLine(L"Pause");
  return ERROR_SUCCESS;
}

// ---- Shell and folder actions ----

// Shell failures are not reported: the page or document simply does not open.
void OpenThroughShell(const wchar_t* verb, const CUnicodeString& file, const CUnicodeString& parameters = {}) {
  Msi::ShellOpener().Open({verb, file, parameters, SW_SHOWNORMAL});
}

UINT OpenUrlBody(MSIHANDLE session) {
  const CUnicodeString address = Msi::GetProperty(session, L"OPEN_URL");
  Msi::CustomActionLog() << L"OpenURL: " << address << L"\r\n\r\n";
  // Without a connection a browser would only show its own error page.
  if (::InternetCheckConnectionW(Vrn::Checked(address, Vrn::kAddressLimit), FLAG_ICC_FORCE_CONNECTION, 0))
    OpenThroughShell(L"open", address);
  return ERROR_SUCCESS;
}

UINT OpenLocalUrlBody(MSIHANDLE session) {
  const CUnicodeString browser = Msi::GetProperty(session, L"IE_FILEPATH");
  const CUnicodeString address = Msi::GetProperty(session, L"OPEN_LOCALURL");
  if (browser.IsEmpty()) return ERROR_SUCCESS;
  Msi::CustomActionLog() << L"openLocalURL: " << address << L"\r\n\r\n";
  OpenThroughShell(L"runas", browser, address);
  return ERROR_SUCCESS;
}

UINT OpenFileBody(MSIHANDLE session) {
  const CUnicodeString path = Msi::GetProperty(session, L"OPEN_FILE");
  Msi::CustomActionLog() << L"OpenFILE: " << path << L"\r\n\r\n";
  if (Vrn::FileExists(path)) OpenThroughShell(L"open", path);
  return ERROR_SUCCESS;
}

UINT OpenSourceFileBody(MSIHANDLE session) {
  const CUnicodeString sourceFolder = Msi::GetProperty(session, L"SOURCEDIR");
  const CUnicodeString name = Msi::GetProperty(session, L"OPEN_SOURCE_FILE");
  const CUnicodeString path = Vrn::JoinPath(sourceFolder, name);
  Msi::CustomActionLog() << L"OpenSourceFile : " << name << L"\r\n\r\n";
  if (Vrn::FileExists(path)) OpenThroughShell(L"open", path);
  return ERROR_SUCCESS;
}

UINT GetRootBody(MSIHANDLE session) {
  const CUnicodeString root = Vrn::JoinPath(Msi::GetProperty(session, L"SOURCEDIR"), L"..\\");
  Msi::CustomActionLog() << L"GetRoot : " << root << L"\r\n\r\n";
  Msi::SetProperty(session, L"ROOT_PATH", root);
  return ERROR_SUCCESS;
}

// Sets validProperty to "Yes" when the folder `relative` below SOURCEDIR exists, else empties it.
void CheckSourceFolder(MSIHANDLE session, const CUnicodeString& relative, const wchar_t* validProperty) {
  const CUnicodeString sourceFolder = Msi::GetProperty(session, L"SOURCEDIR");
  Vrn::Check(!sourceFolder.IsEmpty());
  const CUnicodeString folder = Vrn::JoinPath(sourceFolder, relative);
  Msi::CustomActionLog() << L"CheckDataFolder = " << folder << L"\r\n";
  const bool exists = Vrn::DirectoryExists(folder);
  if (!exists) Msi::CustomActionLog() << L"WARNING! Data folder isn't exist\r\n";
  Msi::SetProperty(session, validProperty, exists ? L"Yes" : L"");
}

UINT CheckDataFolderBody(MSIHANDLE session) {
  LogLine(L"CheckDataFolder");
  CheckSourceFolder(session, L"Data", L"DATA_VALID");
  return ERROR_SUCCESS;
}

UINT CheckFolderBody(MSIHANDLE session) {
  LogLine(L"CheckFolder");
  const CUnicodeString relative = Msi::GetProperty(session, L"CF_FOLDER");
  Vrn::Check(!relative.IsEmpty());
  CheckSourceFolder(session, relative, L"CF_VALID");
  return ERROR_SUCCESS;
}

// Copies one file over any existing one. A refused copy of an existing source is tried once more
// after the target's attributes are reset (a read-only or hidden target refuses to be replaced).
// The copy arrives writable.
void CopyReplacing(const CUnicodeString& source, const CUnicodeString& target) {
  Vrn::CheckLength(source, Vrn::kPathLimit);
  Vrn::CheckLength(target, Vrn::kPathLimit);
  if (!::CopyFileW(source.c_str(), target.c_str(), FALSE)) {
    const DWORD firstError = ::GetLastError();
    if (!Vrn::FileExists(source)) Vrn::Raise<Vrn::CFileException>(firstError, source);
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE)) Vrn::RaiseFileError(target);
  }
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    ::SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

UINT CopyAdditionalFilesToDirectoryBody(MSIHANDLE session) {
  LogLine(L"CopyAdditionalFilesToDirectory");
  const CUnicodeString sourceFolder = Msi::GetProperty(session, L"SourceDirectory");
  const CUnicodeString targetFolder = Msi::GetProperty(session, L"DestinationDirectory");
  const CUnicodeString files = Msi::GetProperty(session, L"Files");
  if (!Vrn::DirectoryExists(targetFolder)) Vrn::CreateDirectoryWithParents(targetFolder);
  // The list ends at its end or at the first empty name ("a.txt,,b.txt" copies only a.txt).
  for (size_t start = 0; start < files.Length();) {
    size_t end = files.Find(L',', start);
    if (end == CUnicodeString::npos) end = files.Length();
    const CUnicodeString name = files.Mid(start, end - start);
    if (name.IsEmpty()) break;
    CopyReplacing(Vrn::JoinPath(sourceFolder, name), Vrn::JoinPath(targetFolder, name));
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(CompareDigits, CompareDigitsBody, .reads = L"CompareDigits_Left CompareDigits_Right")
ORV_ACTION(ChangeInt, ChangeIntBody, .reads = L"ChangeInt_ValueProperty ChangeInt_Change", .readsIndirect = true)
ORV_ACTION(GenerateSetupGUID, GenerateSetupGuidBody)
ORV_ACTION(RemoveCommasFromCompanyName, RemoveCommasFromCompanyNameBody, .reads = L"COMPANYNAME")
ORV_ACTION(NormPropForWriReg, NormPropForWriRegBody, .reads = L"NormPropForWriRegList", .readsIndirect = true)
ORV_ACTION(CheckServerName, CheckServerNameBody,
           .reads = L"INPUTSERVERNAME ERROR_INPUTSERVERNAME_EMPTY ERROR_INPUTSERVERNAME_INVALID")
ORV_ACTION(Pause, PauseBody)
ORV_ACTION(OpenURL, OpenUrlBody, .reads = L"OPEN_URL")
ORV_ACTION(OpenLocalURL, OpenLocalUrlBody, .reads = L"IE_FILEPATH OPEN_LOCALURL")
ORV_ACTION(OpenFile, OpenFileBody, .reads = L"OPEN_FILE")
ORV_ACTION(OpenSourceFile, OpenSourceFileBody, .reads = L"SOURCEDIR OPEN_SOURCE_FILE")
ORV_ACTION(GetRoot, GetRootBody, .reads = L"SOURCEDIR")
ORV_ACTION(CheckDataFolder, CheckDataFolderBody, .reads = L"SOURCEDIR")
ORV_ACTION(CheckFolder, CheckFolderBody, .reads = L"SOURCEDIR CF_FOLDER")
ORV_ACTION(CopyAdditionalFilesToDirectory, CopyAdditionalFilesToDirectoryBody,
           .reads = L"SourceDirectory DestinationDirectory Files")
