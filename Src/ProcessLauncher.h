// The process launcher: every child program the library starts goes through these operations.
// They start a command line visibly or hidden, with or without waiting, under the installing
// user's token or a normal-user token, capture the child's output into a log file or read it back,
// end it after a time limit, or let it drive the installer's progress bar.
//
// Exit codes reported through `exitCode` (values a child never reports unless it returns them):
//   0            started without waiting, or the child ended with 0
//   123          kExitCodeNotRead: a plain launch waited but could not read how the child ended
//   4294967295   kExitCodeNotStarted: the child could not be started
// Every handle (process, thread, pipe, file, job, event) is owned and closed before an operation
// returns or raises; no operation starts a thread. Launches must not overlap within one process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Handle.h"
#include "Seam.h"
#include "UnicodeString.h"
#include "VrnWindows.h"
// msi.h after windows.h
#include <msi.h>

namespace Msi {

using Vrn::CUnicodeString;

inline constexpr DWORD kExitCodeNotRead = 123;
inline constexpr DWORD kExitCodeNotStarted = 0xFFFFFFFF;
// Show modes given to a child's main window.
inline constexpr WORD kShowHidden = SW_HIDE;
inline constexpr WORD kShowDefault = SW_SHOWDEFAULT;

// Time limits of the captured runs.
inline constexpr DWORD kCaptureLinesWaitMs = 1'200'000;
inline constexpr DWORD kCaptureTextWaitMs = 200'000;
// CreateConsoleProcess keeps at most this much of the child's output in its log file.
inline constexpr size_t kConsoleLogLimit = 4096;
// The start-up wait of the progress hand-shake when PB_INSTALL_STARTUP_TIMEOUT is not a number.
inline constexpr DWORD kDefaultStartupTimeoutMs = 60'000;

// Starts the command line (its first token names the program) with the show mode; a failed wide
// start is retried once through the ANSI code page. Waits without limit when asked. True when the
// child started and, when waiting, its exit code was read (else exitCode is 123). Not started:
// false and kExitCodeNotStarted. An empty command line is an internal error.
bool LaunchProcess(const CUnicodeString& commandLine, DWORD& exitCode, WORD showMode, bool wait);

// As LaunchProcess under a normal-user token (NormalUserToken()), without the ANSI retry. True when
// the child started. A token that cannot be made gives false with exitCode 0; a failed start gives
// false with kExitCodeNotStarted.
bool LaunchProcessAsNormalUser(const CUnicodeString& commandLine, DWORD& exitCode, WORD showMode, bool wait);

// Starts the command line and waits for it without limit. With a log path the child's standard
// output and error go to a pipe that is drained while it runs; the first kConsoleLogLimit bytes are
// written to the log file, created anew (a log file that cannot be written raises CFileException).
// True when the child started; not started: false and kExitCodeNotStarted.
bool CreateConsoleProcess(const CUnicodeString& commandLine, DWORD& exitCode, const CUnicodeString& logPath);

// Runs "command parameters" (no blank when the parameters are empty) and waits without limit,
// logging the command, the parameters and the exit code. Returns true when the child could NOT be
// started (a failure flag); the exit code does not change the result.
bool RunCommandLine(const CUnicodeString& command, const CUnicodeString& parameters);

// The captured runs: "cmd.exe /k <command> & exit" starts hidden with its standard output in a new
// temporary file. A file that cannot be opened raises "ERR_FAIL_TO_CREATE_FILE"; a start that fails
// raises "ERR_FAIL_TO_CREATE_PROCESS". On a time-out the child and everything it started are ended.
// The child's exit code is not read.

// Fills `lines` (cleared first) with the output lines, decoded from the ANSI code page (see
// SplitOutputLines), and returns true. A time-out after kCaptureLinesWaitMs, or a failed wait,
// raises "ERR_FAIL_TO_MANIPULATE_WITH_PROCESS". The temporary file is removed in every case.
bool RunCommandCaptureLines(const CUnicodeString& command, std::vector<CUnicodeString>& lines);
// Waits at most `seconds`; true when the child ended in time, false when it was ended. The output
// file ("Orvant-DISM-out-*.log" in the temporary folder) stays for the caller to look at.
bool RunCommandTimed(const CUnicodeString& command, DWORD seconds);
// The whole output decoded as UTF-8; time limit kCaptureTextWaitMs, failures as RunCommandCaptureLines.
CUnicodeString RunCommandCaptureText(const CUnicodeString& command);

// Splits 8-bit output into lines: a line ends at CR, LF, VT or FF, CR followed by LF is one end,
// empty lines are kept, and an end at the very end of the text adds a final empty line. The empty
// text gives one empty line.
std::vector<std::string> SplitOutputLines(std::string_view bytes);

// The progress hand-shake. Creates the named event PB_INSTALL_EVENT_NAME (which must not exist yet),
// announces the action "SetProgressAction" with the first description and the template, resets the
// progress bar to 200 ticks, starts the child, waits at most PB_INSTALL_STARTUP_TIMEOUT ms for it to
// signal the event, then, while the child runs, asks the window of class PB_WINDOW_NAME every 100 ms
// with the registered message PB_GET_PROGRESS_MESSAGE_NAME and moves the bar as CProgressFollower
// says (the second description is announced once the child reports past 100). Without such a
// window it only waits for the child. Once the installer answers Cancel no more messages are sent,
// the child is still waited for, and the result is 1602. A child that cannot be started gives
// 1603 and kExitCodeNotStarted; otherwise 0. Empty properties, an event that already exists and a
// failed wait raise.
UINT CreateProcessAndSetProgress(const CUnicodeString& commandLine, DWORD& exitCode, MSIHANDLE session,
                                 const CUnicodeString& firstDescription, const CUnicodeString& secondDescription,
                                 const CUnicodeString& actionTemplate);

// Turns the child's answers into progress steps. The bar's position is last (starting at 1); an
// answer r moves it by (r - 1) - last ticks, a negative move being sent as 0 ticks, and last
// becomes r - 1 either way.
class CProgressFollower {
 public:
  struct CStep {
    int ticks;
    bool announceSecond;  // the first answer above 100
  };
  // No step for the answer 0 (the child has nothing to say).
  std::optional<CStep> OnAnswer(LRESULT answer);

 private:
  long long m_last = 1;
  bool m_switched = false;
};

// ---- Seams ----

// The normal-user token: Windows makes it from the Safer normal-user level; Wine only pretends to
// (its token cannot start a process), so tests replace it.
class CNormalUserToken {
 public:
  virtual ~CNormalUserToken() = default;
  // A primary token for CreateProcessAsUserW, or an empty handle when none can be made.
  virtual Vrn::CKernelHandle Make();
};
inline CNormalUserToken& NormalUserToken() noexcept { return Vrn::CSeam<CNormalUserToken>::Current(); }
using CNormalUserTokenOverride = Vrn::CSeam<CNormalUserToken>::COverride;

// A captured run as RunCommandCaptureText, with the temporary file's prefix and extension and the
// time limit chosen by the caller.
CUnicodeString RunCommandCaptureTextWithin(const CUnicodeString& command, const CUnicodeString& prefix,
                                           const CUnicodeString& extension, DWORD timeoutMs);

}  // namespace Msi
