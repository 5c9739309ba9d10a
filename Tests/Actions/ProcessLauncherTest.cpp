// The process launcher with real children (this program started as the test child): exit codes,
// output drained while the child runs, captured runs, time-outs that end the whole tree without
// leaking a handle, and the progress hand-shake as the installer sees it.
#include <gtest/gtest.h>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "Files.h"
#include "ManualEvent.h"
#include "ProcessLauncher.h"
#include "SessionTestSupport.h"
#include "TestChild.h"
#include "TestPackage.h"
#include "TestSupport.h"
#include "TopLevelWindows.h"

using namespace Msi;
using TestSupport::CatchRaised;
using TestSupport::TestChildCommand;

namespace {

// Handles this process holds, from the system's handle list (GetProcessHandleCount is a stub
// under Wine).
ULONG OpenHandleCount() {
  struct CEntry {
    ULONG processId;
    UCHAR type, flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  using Query = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<char> buffer(8 << 20);
  ULONG length = 0;
  if (!query || query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &length) != 0)
    return 0;
  const ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
  const auto* entries = reinterpret_cast<const CEntry*>(buffer.data() + sizeof(ULONG_PTR));
  ULONG mine = 0;
  for (ULONG i = 0; i < count; ++i) mine += entries[i].processId == ::GetCurrentProcessId();
  return mine;
}

// The test child's output pattern (see TestChild.h).
std::string Pattern(size_t count) {
  std::string bytes;
  while (bytes.size() < count) bytes += "abcdefghijklmnopqrstuvwxyz0123456789AB\r\n";
  return bytes.substr(0, count);
}

}  // namespace

// Every line end counts (CR, LF, VT, FF), CR LF as one; the capture test covers the common ones.
TEST(ProcessLauncher, SplitOutputLines) {
  const struct {
    const char* bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {""}}, {"a\rb\vc\fd", {"a", "b", "c", "d"}}, {"a\n\rb", {"a", "", "b"}}, {"\r\n\r\n", {"", "", ""}}};
  for (const auto& c : cases) EXPECT_EQ(SplitOutputLines(c.bytes), c.lines) << c.bytes;
}

TEST(ProcessLauncher, EmptyCommandLinesAreInternalErrors) {
  DWORD exitCode = 0;
  EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { LaunchProcess(L"", exitCode, kShowDefault, true); }));
  EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { LaunchProcessAsNormalUser(L"", exitCode, kShowDefault, true); }));
  EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { CreateConsoleProcess(L"", exitCode, L""); }));
}

TIMED_CHILD_TEST(ProcessLauncherReal, LaunchProcessExitCodes, 120000) {
  const struct {
    CUnicodeString commandLine;
    bool wait, started;
    DWORD exitCode;
  } cases[] = {
      {TestChildCommand(L"exit=0"), true, true, 0},
      {TestChildCommand(L"sleep=100 exit=5"), true, true, 5},
      {TestChildCommand(L"exit=4294967294"), true, true, 0xFFFFFFFE},
      {TestChildCommand(L"sleep=300 exit=9"), false, true, 0},  // not waited for
      {L"Z:\\no\\such\\program.exe /x", true, false, kExitCodeNotStarted},
  };
  for (const auto& c : cases) {
    DWORD exitCode = 77;
    EXPECT_EQ(LaunchProcess(c.commandLine, exitCode, kShowHidden, c.wait), c.started) << c.commandLine.Left(60);
    EXPECT_EQ(exitCode, c.exitCode) << c.commandLine.Left(60);
  }
  // RunCommandLine reports failure to start, not the exit code.
  EXPECT_FALSE(RunCommandLine(TestChildCommand(L""), L"exit=12"));
  EXPECT_TRUE(RunCommandLine(L"Z:\\no\\such\\program.exe", L""));
}

namespace {

// A primary token of this process: lets the normal-user launch run under Wine.
class COwnToken : public CNormalUserToken {
 public:
  Vrn::CKernelHandle Make() override {
    if (!available) return {};
    Vrn::CKernelHandle token;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, token.Put());
    return token;
  }
  bool available = true;
};

}  // namespace

TIMED_CHILD_TEST(ProcessLauncherReal, NormalUserLaunch, 60000) {
  COwnToken token;
  CNormalUserTokenOverride seam{token};
  DWORD exitCode = 77;
  EXPECT_TRUE(LaunchProcessAsNormalUser(TestChildCommand(L"exit=9"), exitCode, kShowDefault, true));
  EXPECT_EQ(exitCode, 9u);
  token.available = false;  // no token: not started, and the code stays 0
  EXPECT_FALSE(LaunchProcessAsNormalUser(TestChildCommand(L"exit=9"), exitCode, kShowDefault, true));
  EXPECT_EQ(exitCode, 0u);
}

// The real Safer token: Wine gives a token that cannot start anything; Windows starts the child.
TIMED_CHILD_TEST(ProcessLauncherReal, NormalUserTokenFromWindows, 60000) {
  DWORD exitCode = 77;
  const bool started = LaunchProcessAsNormalUser(TestChildCommand(L"exit=9"), exitCode, kShowDefault, true);
  EXPECT_EQ(exitCode, started ? 9u : kExitCodeNotStarted);
}

TIMED_CHILD_TEST(ProcessLauncherReal, ConsoleProcessDrainsOutput, 180000) {
  TestSupport::CTempFolder folder;
  const ULONG handlesBefore = OpenHandleCount();
  const struct {
    const wchar_t* options;
    bool withLog;
    DWORD exitCode;
    std::string logged;
  } cases[] = {
      {L"print=hello\\nworld err=10 exit=4", true, 4, "hello\nworldabcdefghij"},
      // Far more than any pipe holds: the child is never blocked, and the log keeps the first 4096 bytes.
      {L"out=50000000 err=1000 exit=2", true, 2, Pattern(kConsoleLogLimit)},
      {L"print=unseen exit=6", false, 6, ""},
  };
  for (const auto& c : cases) {
    const CUnicodeString log = folder / L"console.log";
    ::DeleteFileW(log.c_str());
    DWORD exitCode = 77;
    EXPECT_TRUE(CreateConsoleProcess(TestChildCommand(c.options), exitCode, c.withLog ? log : L""));
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(Vrn::FileExists(log), c.withLog);
    if (c.withLog) {
      EXPECT_EQ(TestSupport::ReadBytes(log), c.logged);
    }
  }
  DWORD exitCode = 77;
  EXPECT_FALSE(CreateConsoleProcess(L"Z:\\no\\such\\program.exe", exitCode, folder / L"never.log"));
  EXPECT_EQ(exitCode, kExitCodeNotStarted);
  EXPECT_FALSE(Vrn::FileExists(folder / L"never.log"));
  EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

TIMED_CHILD_TEST(ProcessLauncherReal, CapturedRuns, 180000) {
  TestSupport::CTempFolder temp;
  Vrn::SetTemporaryDirectory(temp.Path());
  // The first run creates the library's lasting objects (the log, its locks); count after it.
  std::vector<CUnicodeString> lines{L"stale"};
  EXPECT_TRUE(RunCommandTimed(TestChildCommand(L"print=done"), 60));
  const ULONG handlesBefore = OpenHandleCount();

  EXPECT_TRUE(RunCommandCaptureLines(TestChildCommand(L"print=one\\r\\ntwo\\n\\nthree\\v err=5"), lines));
  EXPECT_EQ(lines, (std::vector<CUnicodeString>{L"one", L"two", L"", L"three", L""}));
  EXPECT_EQ(RunCommandCaptureText(TestChildCommand(L"print=caf\\xc3\\xa9")), L"caf\u00e9");
  EXPECT_EQ(RunCommandCaptureText(TestChildCommand(L"out=1000000")).Length(), 1000000u);
  EXPECT_TRUE(Vrn::ListDirectory(temp.Path(), L"Orvant-out*").empty()) << "the capturing runs remove their files";
  EXPECT_TRUE(Vrn::ListDirectory(temp.Path(), L"out*.tmp").empty());

  // The timed run keeps its file; a child over time is ended with everything it started.
  EXPECT_FALSE(RunCommandTimed(TestChildCommand(L"print=waiting sleep=600000"), 1));
  const std::vector<Vrn::CDirectoryEntry> kept = Vrn::ListDirectory(temp.Path(), L"Orvant-DISM-out-*.log");
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_TRUE(TestSupport::ReadBytes(kept[0].fullPath) == "done" || TestSupport::ReadBytes(kept[1].fullPath) == "done");
  // The ended test child no longer holds its output file.
  for (const auto& entry : kept) EXPECT_TRUE(::DeleteFileW(entry.fullPath.c_str())) << ::GetLastError();
  EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

namespace {

// What an external user interface receives: "start:<description>" and "progress:f1,f2".
std::vector<std::string> g_messages;
bool g_cancelProgress = false;

INT CALLBACK RecordMessage(LPVOID, UINT type, MSIHANDLE record) {
  const UINT kind = type & 0xFF000000;
  if (kind == INSTALLMESSAGE_ACTIONSTART) {
    wchar_t text[256];
    DWORD size = std::size(text);
    MsiRecordGetStringW(record, 2, text, &size);
    g_messages.push_back("start:" + CUnicodeString(text).ToUtf8());
    return 0;
  }
  g_messages.push_back("progress:" + std::to_string(MsiRecordGetInteger(record, 1)) + "," +
                       std::to_string(MsiRecordGetInteger(record, 2)));
  return g_cancelProgress ? IDCANCEL : 0;
}

// A window that answers from a script (then 0), standing in for the child's window.
class CScriptedWindow : public Vrn::CTopLevelWindows {
 public:
  HWND FindTopWindow(const wchar_t* className, const wchar_t*) override {
    found = className;
    return reinterpret_cast<HWND>(0x1234);
  }
  LRESULT SendToWindow(HWND, UINT message) override {
    asked = message;
    return next < answers.size() ? answers[next++] : 0;
  }
  std::vector<LRESULT> answers;
  size_t next = 0;
  std::wstring found;
  UINT asked = 0;
};

class ProgressHandshake {
 public:
  ProgressHandshake() {
    package.AddProperty(L"PB_INSTALL_EVENT_NAME",
                        L"OrvantTestStarted" + CUnicodeString::FromUInt(::GetCurrentProcessId()));
    package.AddProperty(L"PB_INSTALL_STARTUP_TIMEOUT", L" 30000 ");
    package.AddProperty(L"PB_GET_PROGRESS_MESSAGE_NAME", L"OrvantTestProgress");
    package.AddProperty(L"PB_WINDOW_NAME", L"OrvantTestWindow");
    package.Open();
    g_messages.clear();
    g_cancelProgress = false;
    ::MsiSetExternalUIRecord(RecordMessage, INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_ACTIONSTART, nullptr, nullptr);
  }
  ~ProgressHandshake() { ::MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr); }

  UINT Run(const wchar_t* options, DWORD& exitCode) {
    const CUnicodeString event = package.Property(L"PB_INSTALL_EVENT_NAME");
    return CreateProcessAndSetProgress(TestChildCommand(L"event=" + event + L" " + options), exitCode,
                                       package.Session(), L"Copying", L"Registering", L"[1]");
  }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
};

}  // namespace

TIMED_CHILD_TEST(ProcessLauncherReal, ProgressHandshakeFollowsTheChild, 60000) {
  ProgressHandshake handshake;
  CScriptedWindow window;
  window.answers = {1, 1, 50, 101, 150, 40};  // the last moves back: sent as no move
  Vrn::CTopLevelWindowsOverride seam{window};
  DWORD exitCode = 0;
  // The child outlives the six answers, so every one is asked for.
  EXPECT_EQ(handshake.Run(L"sleep=2500 exit=3", exitCode), 0u);
  EXPECT_EQ(exitCode, 3u);
  EXPECT_EQ(window.found, L"OrvantTestWindow");
  EXPECT_EQ(window.asked, ::RegisterWindowMessageW(L"OrvantTestProgress"));
  const std::vector<std::string> expected = {"start:Copying", "progress:0,200", "progress:2,0",
                                             "progress:2,0",  "progress:2,49",  "start:Registering",
                                             "progress:2,51", "progress:2,49",  "progress:2,0"};
  EXPECT_EQ(g_messages, expected);
  EXPECT_NE(SessionTests::ActionLog(handshake.package).Find(L"installerWindow=0x00001234\r\n"), CUnicodeString::npos);

  // Cancel from the installer: no more messages, the child is still waited for, result 1602.
  g_messages.clear();
  g_cancelProgress = true;
  window.next = 0;
  EXPECT_EQ(handshake.Run(L"sleep=1500 exit=4", exitCode), 1602u);
  EXPECT_EQ(exitCode, 4u);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"start:Copying", "progress:0,200"}));
}

// The real window lookup finds nothing here (no display): the child is only waited for. A time-out
// that is not a number falls back to the default and is logged.
TIMED_CHILD_TEST(ProcessLauncherReal, ProgressHandshakeWithoutWindow, 60000) {
  ProgressHandshake handshake;
  handshake.package.SetProperty(L"PB_INSTALL_STARTUP_TIMEOUT", L"5s");
  DWORD exitCode = 0;
  EXPECT_EQ(handshake.Run(L"exit=8", exitCode), 0u);
  EXPECT_EQ(exitCode, 8u);
  const CUnicodeString log = SessionTests::ActionLog(handshake.package);
  EXPECT_NE(log.Find(L"PB_INSTALL_STARTUP_TIMEOUT is not a number"), CUnicodeString::npos) << log;
  EXPECT_NE(log.Find(L"installerWindow=0x00000000\r\n"), CUnicodeString::npos) << log;

  // An event of that name that exists already: refused before any child starts.
  {
    const CManualEvent taken(handshake.package.Property(L"PB_INSTALL_EVENT_NAME"));
    ASSERT_TRUE(taken.IsCreated());
    EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { handshake.Run(L"exit=8", exitCode); }));
  }
  handshake.package.SetProperty(L"PB_WINDOW_NAME", L"");
  EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { handshake.Run(L"exit=8", exitCode); }));
}
