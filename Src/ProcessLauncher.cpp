// The launch operations, the captured runs through the command interpreter and the progress
// hand-shake, with the two seams Wine cannot serve (normal-user tokens, windows).
#include "ProcessLauncher.h"

#include <algorithm>
#include <cstdio>

#include "CustomActionLog.h"
#include "Errors.h"
#include "Files.h"
#include "ManualEvent.h"
#include "MsiHandle.h"
#include "MsiHelper.h"
#include "TextLimits.h"
#include "TopLevelWindows.h"
// winsafer.h after windows.h
#include <winsafer.h>

namespace Msi {

namespace {

constexpr DWORD kStartupInfoSize = sizeof(STARTUPINFOW);  // 104 on 64-bit Windows
// How long the drain loop of CreateConsoleProcess waits for the child before looking at the pipe
// again; the pipe is large, so a fast writer is not held up in between.
constexpr DWORD kDrainPollMs = 1;
constexpr DWORD kConsolePipeSize = 1 << 20;
// After a time-out: how long to wait for the ended child, and to retry removing its output file,
// which the dying processes may still hold for a moment.
constexpr DWORD kTerminationWaitMs = 5000;
constexpr int kRemoveAttempts = 20;
constexpr DWORD kRemoveRetryMs = 50;
constexpr DWORD kProgressPollMs = 100;
constexpr int kProgressTotalTicks = 200;
constexpr wchar_t kProgressActionName[] = L"SetProgressAction";

// CreateProcessW may write into the command line, so it gets a private copy.
std::wstring WritableCopy(const CUnicodeString& text) { return text.ToStdString(); }

struct CChild {
  Vrn::CKernelHandle process;
  Vrn::CKernelHandle thread;
  explicit operator bool() const noexcept { return process.IsValid(); }
};

CChild Adopt(const PROCESS_INFORMATION& info) {
  return {Vrn::CKernelHandle(info.hProcess), Vrn::CKernelHandle(info.hThread)};
}

// Windows refuses a command line of 32,767 characters or more (ERROR_FILENAME_EXCED_RANGE). Wine
// starts it and hands the child more than it can take, so the limit is kept here on every system:
// a longer one is not started, and the log says why (naming the property it came from).
bool WithinCommandLineLimit(const CUnicodeString& commandLine) {
  const Vrn::CExceptionPtr refusal = Vrn::Caught([&] { Vrn::CheckLength(commandLine, Vrn::kCommandLineLimit); });
  if (!refusal) return true;
  CustomActionLog() << refusal->MessageText() + L"\r\n";
  ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

// Starts the command line with no application name, the inherited environment and directory.
CChild StartChild(const CUnicodeString& commandLine, STARTUPINFOW& startup, bool inheritHandles, DWORD flags = 0) {
  if (!WithinCommandLineLimit(commandLine)) return {};
  std::wstring writable = WritableCopy(commandLine);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, inheritHandles, flags, nullptr, nullptr, &startup,
                        &info))
    return {};
  return Adopt(info);
}

// Waits for the child without limit; its exit code when the wait and the read succeed.
std::optional<DWORD> WaitForExitCode(HANDLE process) {
  if (::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return std::nullopt;
  return code;
}

STARTUPINFOW ShowingStartup(WORD showMode) {
  STARTUPINFOW startup{};
  startup.cb = kStartupInfoSize;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showMode;
  return startup;
}

void LogCreateProcess(const wchar_t* label, const CUnicodeString& commandLine) {
  CustomActionLog() << label << commandLine << L"\r\n";
}

Vrn::CUnicodeString HexHandle(HWND window) {
  wchar_t text[24];
  std::swprintf(text, std::size(text), L"0x%08llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
  return text;
}

[[noreturn]] void RaiseNamed(const wchar_t* name, const wchar_t* fallback, const CUnicodeString& parameter = {}) {
  Vrn::Raise<Vrn::CCheckException>(name, fallback, std::initializer_list<CUnicodeString>{parameter});
}

// Removes a file that ended processes may still hold for a moment; gives up quietly (the
// temporary-file service removes it at the library's last stop).
void RemoveOutputFile(const CUnicodeString& path) {
  for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
    if (::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND) return;
    ::Sleep(kRemoveRetryMs);
  }
  CustomActionLog() << L"Cannot remove " << path << L"\r\n";
}

// One captured run: the command interpreter started hidden, its standard output in `outputPath`.
// The child is started suspended inside a job, so that a time-out can end the whole tree the
// command started (the interpreter and its programs); where jobs are not allowed (a process that
// is itself in a job that refuses nesting) only the interpreter is ended.
class CCapturedRun {
 public:
  CCapturedRun(const CUnicodeString& command, const CUnicodeString& outputPath, bool removeOnFailure)
      : m_outputPath(outputPath) {
    const CUnicodeString commandLine = L"cmd.exe /k " + command + L" & exit";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Vrn::CFileHandle output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) RaiseNamed(L"ERR_FAIL_TO_CREATE_FILE", L"Cannot create the file %0.", outputPath);
    STARTUPINFOW startup{};
    startup.cb = kStartupInfoSize;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = kShowHidden;
    startup.hStdOutput = output.Get();
    LogCreateProcess(L"CreateProcess=", commandLine);
    m_child = StartChild(commandLine, startup, true, CREATE_SUSPENDED);
    output.Reset();  // only the child writes to it now
    if (!m_child) {
      const DWORD code = ::GetLastError();
      if (removeOnFailure) RemoveOutputFile(outputPath);
      Vrn::Raise<Vrn::CCheckException>(L"ERR_FAIL_TO_CREATE_PROCESS", L"Cannot start %0.\n%1",
                                       std::initializer_list<CUnicodeString>{commandLine, Vrn::SystemErrorText(code)});
    }
    m_job.Reset(::CreateJobObjectW(nullptr, nullptr));
    if (m_job && !::AssignProcessToJobObject(m_job.Get(), m_child.process.Get())) m_job.Reset();
    ::ResumeThread(m_child.thread.Get());
  }

  // True when the child ended within the time; otherwise it is ended and false returned.
  bool WaitOrEnd(DWORD timeoutMs) {
    if (::WaitForSingleObject(m_child.process.Get(), timeoutMs) == WAIT_OBJECT_0) return true;
    CustomActionLog() << L"The command did not end in time and is ended: " << m_outputPath << L"\r\n";
    if (!m_job || !::TerminateJobObject(m_job.Get(), 0)) ::TerminateProcess(m_child.process.Get(), 0);
    ::WaitForSingleObject(m_child.process.Get(), kTerminationWaitMs);
    return false;
  }

 private:
  CUnicodeString m_outputPath;
  CChild m_child;
  Vrn::CKernelHandle m_job;
};

// The output of a captured run that must end within the limit, read and removed.
std::string CaptureOutput(const CUnicodeString& command, const CUnicodeString& prefix, const CUnicodeString& extension,
                          DWORD timeoutMs) {
  const CUnicodeString path = Vrn::CreateUniqueTempFile(prefix, extension);
  bool ended = false;
  {
    CCapturedRun run(command, path, true);
    ended = run.WaitOrEnd(timeoutMs);
  }
  if (!ended) {
    RemoveOutputFile(path);
    RaiseNamed(L"ERR_FAIL_TO_MANIPULATE_WITH_PROCESS", L"The process %0 did not end in time.", command);
  }
  std::string bytes;
  try {
    bytes = Vrn::ReadFileBytes(path);
  } catch (Vrn::CException*) {
    RemoveOutputFile(path);
    throw;
  }
  RemoveOutputFile(path);
  return bytes;
}

bool IsLineEnd(char ch) noexcept { return ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f'; }

// Announces the hand-shake's action to the installer; false when the user cancelled.
bool AnnounceAction(MSIHANDLE session, const CUnicodeString& description, const CUnicodeString& actionTemplate) {
  const CMsiHandle record(::MsiCreateRecord(3));
  ::MsiRecordSetStringW(record.Get(), 1, kProgressActionName);
  ::MsiRecordSetStringW(record.Get(), 2, description.c_str());
  ::MsiRecordSetStringW(record.Get(), 3, actionTemplate.c_str());
  return ::MsiProcessMessage(session, INSTALLMESSAGE_ACTIONSTART, record.Get()) != IDCANCEL;
}

// A required hand-shake property.
CUnicodeString RequiredProperty(MSIHANDLE session, const wchar_t* name) {
  CUnicodeString value = GetProperty(session, name);
  Vrn::Check(!value.IsEmpty());
  return value;
}

}  // namespace

// ---- Plain launches ----

bool LaunchProcess(const CUnicodeString& commandLine, DWORD& exitCode, WORD showMode, bool wait) {
  Vrn::Check(!commandLine.IsEmpty());
  STARTUPINFOW startup = ShowingStartup(showMode);
  exitCode = 0;
  LogCreateProcess(L"CreateProcess=", commandLine);
  CChild child = StartChild(commandLine, startup, false);
  if (!child && Vrn::FitsLimit(commandLine, Vrn::kCommandLineLimit)) {
    // Some programs start only by their ANSI name; the retry carries no show mode.
    std::string ansi = commandLine.ToCodePage(CP_ACP);
    STARTUPINFOA plain{};
    plain.cb = sizeof plain;
    PROCESS_INFORMATION info{};
    if (::CreateProcessA(nullptr, ansi.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &plain, &info))
      child = Adopt(info);
  }
  if (!child) {
    exitCode = kExitCodeNotStarted;
    return false;
  }
  if (!wait) return true;
  exitCode = kExitCodeNotRead;
  const std::optional<DWORD> code = WaitForExitCode(child.process.Get());
  if (code) exitCode = *code;
  return code.has_value();
}

bool LaunchProcessAsNormalUser(const CUnicodeString& commandLine, DWORD& exitCode, WORD showMode, bool wait) {
  Vrn::Check(!commandLine.IsEmpty());
  STARTUPINFOW startup = ShowingStartup(showMode);
  exitCode = 0;
  const Vrn::CKernelHandle token = NormalUserToken().Make();
  if (!token) {
    CustomActionLog() << L"No normal-user token for " << commandLine << L"\r\n";
    return false;
  }
  LogCreateProcess(L"CreateProcessAsUser=", commandLine);
  std::wstring writable = WritableCopy(commandLine);
  PROCESS_INFORMATION info{};
  if (!WithinCommandLineLimit(commandLine) ||
      !::CreateProcessAsUserW(token.Get(), nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info)) {
    exitCode = kExitCodeNotStarted;
    return false;
  }
  const CChild child = Adopt(info);
  if (wait) {
    // Without a readable end the code stays 0: the child did start.
    if (const std::optional<DWORD> code = WaitForExitCode(child.process.Get())) exitCode = *code;
  }
  return true;
}

bool CreateConsoleProcess(const CUnicodeString& commandLine, DWORD& exitCode, const CUnicodeString& logPath) {
  Vrn::Check(!commandLine.IsEmpty());
  const bool capture = !logPath.IsEmpty();
  Vrn::CKernelHandle readEnd, writeEnd;
  if (capture) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!::CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, kConsolePipeSize)) {
      CustomActionLog() << L"CreateConsoleProcess : StdoutRd CreatePipe\r\n";
      return false;
    }
    if (!::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0)) {
      CustomActionLog() << L"CreateConsoleProcess : Stdout SetHandleInformation\r\n";
      return false;
    }
  }
  STARTUPINFOW startup{};
  startup.cb = kStartupInfoSize;
  if (capture) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
  }
  exitCode = 0;
  LogCreateProcess(L"CreateProcess=", commandLine);
  const CChild child = StartChild(commandLine, startup, capture);
  // The child holds its own copy; ours would keep the pipe open after the child is gone.
  writeEnd.Reset();
  if (!child) {
    exitCode = kExitCodeNotStarted;
    return false;
  }

  std::string kept;
  bool waitOk = true;
  if (!capture) {
    waitOk = ::WaitForSingleObject(child.process.Get(), INFINITE) == WAIT_OBJECT_0;
  } else {
    // The pipe is read whenever it holds data, so a child never blocks on a full pipe; only what is
    // there is read, so a grandchild that keeps the pipe open cannot hold the installer either.
    char buffer[64 * 1024];
    for (bool ended = false;;) {
      DWORD available = 0;
      while (::PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD read = 0;
        if (!::ReadFile(readEnd.Get(), buffer, std::min<DWORD>(available, sizeof buffer), &read, nullptr) || read == 0)
          break;
        if (kept.size() < kConsoleLogLimit) kept.append(buffer, std::min<size_t>(read, kConsoleLogLimit - kept.size()));
      }
      if (ended) break;
      const DWORD waited = ::WaitForSingleObject(child.process.Get(), kDrainPollMs);
      if (waited == WAIT_OBJECT_0) {
        ended = true;  // one more pass takes what the child wrote last
      } else if (waited != WAIT_TIMEOUT) {
        waitOk = false;
        break;
      }
    }
  }
  if (waitOk) ::GetExitCodeProcess(child.process.Get(), &exitCode);
  if (capture) {
    Vrn::CFile log(logPath, Vrn::CFile::OpenMode::CreateAlways);
    log.Write(kept.data(), kept.size());
  }
  return true;
}

bool RunCommandLine(const CUnicodeString& command, const CUnicodeString& parameters) {
  CustomActionLog() << L"Run - commandLine=" << command << L"\r\n";
  CustomActionLog() << L"Run - commandLineParam=" << parameters << L"\r\n";
  const CUnicodeString commandLine = parameters.IsEmpty() ? command : command + L" " + parameters;
  STARTUPINFOW startup{};
  startup.cb = kStartupInfoSize;
  const CChild child = StartChild(commandLine, startup, false);
  if (!child) return true;
  if (const std::optional<DWORD> code = WaitForExitCode(child.process.Get()))
    CustomActionLog() << L"Run - ExitCodeProcess=" << static_cast<uint32_t>(*code) << L"\r\n";
  return false;
}

// ---- Captured runs ----

std::vector<std::string> SplitOutputLines(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (!IsLineEnd(bytes[i])) continue;
    lines.emplace_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.emplace_back(bytes.substr(start));
  return lines;
}

bool RunCommandCaptureLines(const CUnicodeString& command, std::vector<CUnicodeString>& lines) {
  lines.clear();
  const std::string output = CaptureOutput(command, L"Orvant-out", L"log", kCaptureLinesWaitMs);
  for (const std::string& line : SplitOutputLines(output)) lines.push_back(CUnicodeString::FromCodePage(line, CP_ACP));
  return true;
}

bool RunCommandTimed(const CUnicodeString& command, DWORD seconds) {
  const CUnicodeString path = Vrn::CreateUniqueTempFile(L"Orvant-DISM-out-", L"log");
  Vrn::KeepTemporaryFile(path);  // the output stays after the library unloads
  CCapturedRun run(command, path, false);
  const DWORD limit = seconds > INFINITE / 1000 ? INFINITE - 1 : seconds * 1000;
  return run.WaitOrEnd(limit);
}

CUnicodeString RunCommandCaptureText(const CUnicodeString& command) {
  return CUnicodeString::FromCodePage(CaptureOutput(command, L"out", L"tmp", kCaptureTextWaitMs), CP_UTF8);
}

// ---- Progress hand-shake ----

std::optional<CProgressFollower::CStep> CProgressFollower::OnAnswer(LRESULT answer) {
  if (answer == 0) return std::nullopt;
  const bool announce = answer > 100 && !m_switched;
  if (announce) m_switched = true;
  const long long position = static_cast<long long>(answer) - 1;
  const long long advance = std::clamp(position - m_last, 0LL, static_cast<long long>(INT_MAX));
  m_last = position;
  return CStep{static_cast<int>(advance), announce};
}

UINT CreateProcessAndSetProgress(const CUnicodeString& commandLine, DWORD& exitCode, MSIHANDLE session,
                                 const CUnicodeString& firstDescription, const CUnicodeString& secondDescription,
                                 const CUnicodeString& actionTemplate) {
  Vrn::Check(!commandLine.IsEmpty());
  const CUnicodeString eventName = RequiredProperty(session, L"PB_INSTALL_EVENT_NAME");
  const CUnicodeString timeoutText = RequiredProperty(session, L"PB_INSTALL_STARTUP_TIMEOUT");
  DWORD startupTimeout = kDefaultStartupTimeoutMs;
  if (const std::optional<uint32_t> parsed = Vrn::StrictInteger<uint32_t>(timeoutText))
    startupTimeout = *parsed;
  else
    CustomActionLog() << L"PB_INSTALL_STARTUP_TIMEOUT is not a number; waiting "
                      << static_cast<uint32_t>(startupTimeout) << L" ms\r\n";
  const CManualEvent startedEvent(eventName);
  // An event someone else made could never tell that our child started; refuse before starting it.
  Vrn::Check(startedEvent.IsCreated());

  bool cancelled = !AnnounceAction(session, firstDescription, actionTemplate);
  if (!cancelled) cancelled = SendProgress(session, 0, kProgressTotalTicks, 0, 1) == IDCANCEL;

  STARTUPINFOW startup{};
  startup.cb = kStartupInfoSize;
  LogCreateProcess(L"CreateProcessAndSetProgress=", commandLine);
  const CChild child = StartChild(commandLine, startup, false);
  exitCode = 0;
  if (!child) {
    exitCode = kExitCodeNotStarted;
    return ERROR_INSTALL_FAILURE;
  }
  startedEvent.WaitSignalled(startupTimeout);  // signalled or not, the child runs on

  const CUnicodeString messageName = RequiredProperty(session, L"PB_GET_PROGRESS_MESSAGE_NAME");
  const CUnicodeString windowClass = RequiredProperty(session, L"PB_WINDOW_NAME");
  const UINT progressMessage = Vrn::TopLevelWindows().RegisteredMessageId(messageName.c_str());
  const HWND window = Vrn::TopLevelWindows().FindTopWindow(windowClass.c_str(), nullptr);
  CustomActionLog() << L"installerWindow=" << HexHandle(window) << L"\r\n";

  if (window) {
    CProgressFollower follower;
    // The wait is the pause between two questions; the child's end shows in its result, so a child
    // that returns 259 (STILL_ACTIVE) still ends the loop.
    for (DWORD waited = WAIT_TIMEOUT; waited == WAIT_TIMEOUT;) {
      waited = ::WaitForSingleObject(child.process.Get(), kProgressPollMs);
      const std::optional<CProgressFollower::CStep> step =
          follower.OnAnswer(Vrn::TopLevelWindows().SendToWindow(window, progressMessage));
      if (!step || cancelled) continue;
      if (step->announceSecond) cancelled = !AnnounceAction(session, secondDescription, actionTemplate);
      if (!cancelled) cancelled = SendProgress(session, 2, step->ticks, 0, 0) == IDCANCEL;
    }
  }
  if (const std::optional<DWORD> code = WaitForExitCode(child.process.Get())) exitCode = *code;
  return cancelled ? ERROR_INSTALL_USEREXIT : ERROR_SUCCESS;
}

// ---- Seams ----

Vrn::CKernelHandle CNormalUserToken::Make() {
  SAFER_LEVEL_HANDLE level = nullptr;
  if (!::SaferCreateLevel(SAFER_SCOPEID_USER, SAFER_LEVELID_NORMALUSER, SAFER_LEVEL_OPEN, &level, nullptr)) return {};
  HANDLE token = nullptr;
  const BOOL made = ::SaferComputeTokenFromLevel(level, nullptr, &token, 0, nullptr);
  ::SaferCloseLevel(level);
  return made ? Vrn::CKernelHandle(token) : Vrn::CKernelHandle();
}

CUnicodeString RunCommandCaptureTextWithin(const CUnicodeString& command, const CUnicodeString& prefix,
                                           const CUnicodeString& extension, DWORD timeoutMs) {
  return CUnicodeString::FromCodePage(CaptureOutput(command, prefix, extension, timeoutMs), CP_UTF8);
}

}  // namespace Msi
