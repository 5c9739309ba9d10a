// The process launcher with real children (the test child): drained output, captured runs, time-outs
// ending the whole tree, the real token and the progress hand-shake with a real window. Exit codes
// are the run actions' (ShellIntegrationTest, Tests/EndToEnd/run-install).
#include <thread>

#include "ActionTest.h"
#include "ChildProcessTest.h"
#include "ManualEvent.h"
#include "ProcessLauncher.h"
#include "TestChild.h"

using namespace Msi;
using namespace TestSupport;

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
  static const auto query = Vrn::ProcAddress<Query>(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
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

}  // namespace

// The real Safer token: Wine gives a token that cannot start anything; Windows starts the child.
TIMED_CHILD_TEST(ProcessLauncherReal, NormalUserTokenFromWindows, 60000) {
  DWORD exitCode = 77;
  const bool started = LaunchProcessAsNormalUser(TestChildCommand(L"exit=9"), exitCode, kShowDefault, true);
  EXPECT_EQ(exitCode, started ? 9u : kExitCodeNotStarted);
}

TIMED_CHILD_TEST(ProcessLauncherReal, ConsoleProcessDrainsOutput, 180000) {
  CTempFolder folder;
  const ULONG handlesBefore = OpenHandleCount();
  const std::tuple<const wchar_t*, bool, DWORD, std::string> cases[] = {
      {L"print=hello\\nworld err=10 exit=4", true, 4, "hello\nworldabcdefghij"},
      // Far more than any pipe holds: the child is never blocked, and the log keeps the first 4096 bytes.
      {L"out=50000000 err=1000 exit=2", true, 2, TestChildPattern(kConsoleLogLimit)},
      {L"print=unseen exit=6", false, 6, ""},
      {nullptr, true, kExitCodeNotStarted, ""},  // a program that cannot start leaves no log
  };
  for (const auto& [options, withLog, expectedCode, logged] : cases) {
    const CUnicodeString log = folder / L"console.log";
    ::DeleteFileW(log.c_str());
    DWORD exitCode = 77;
    EXPECT_EQ(CreateConsoleProcess(options ? TestChildCommand(options) : L"Z:\\no\\such\\program.exe", exitCode,
                                   withLog ? log : L""),
              options != nullptr);
    EXPECT_EQ(exitCode, expectedCode);
    EXPECT_EQ(Exists(log), withLog && options);
    if (Exists(log)) {
      EXPECT_EQ(ReadBytes(log), logged);
    }
  }
  EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

TIMED_CHILD_TEST(ProcessLauncherReal, CapturedRuns, 180000) {
  CTempFolder temp;
  Vrn::SetTemporaryDirectory(temp.Path());
  // The first run creates the library's lasting objects (the log, its locks); count after it.
  std::vector<CUnicodeString> lines{L"stale"};
  EXPECT_TRUE(RunCommandTimed(TestChildCommand(L"print=done"), 60));
  const ULONG handlesBefore = OpenHandleCount();

  // Every line end counts (CR, LF, VT, FF), CR LF as one.
  EXPECT_TRUE(RunCommandCaptureLines(TestChildCommand(L"print=one\\r\\ntwo\\n\\rthree\\vfour\\f err=5"), lines));
  EXPECT_EQ(lines, (std::vector<CUnicodeString>{L"one", L"two", L"", L"three", L"four", L""}));
  EXPECT_EQ(RunCommandCaptureText(TestChildCommand(L"print=caf\\xc3\\xa9")), L"caf\u00e9");
  EXPECT_EQ(RunCommandCaptureText(TestChildCommand(L"out=1000000")).Length(), 1000000u);
  EXPECT_TRUE(Vrn::ListDirectory(temp.Path(), L"Orvant-out*").empty()) << "the capturing runs remove their files";
  EXPECT_TRUE(Vrn::ListDirectory(temp.Path(), L"out*.tmp").empty());

  // The timed run keeps its file; a child over time is ended with everything it started.
  EXPECT_FALSE(RunCommandTimed(TestChildCommand(L"print=waiting sleep=60000"), 1));
  const std::vector<Vrn::CDirectoryEntry> kept = Vrn::ListDirectory(temp.Path(), L"Orvant-DISM-out-*.log");
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_TRUE(ReadBytes(kept[0].fullPath) == "done" || ReadBytes(kept[1].fullPath) == "done");
  // The ended test child no longer holds its output file.
  for (const auto& entry : kept) EXPECT_TRUE(::DeleteFileW(entry.fullPath.c_str())) << ::GetLastError();
  EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

namespace {

// What an external user interface receives: "start:<description>" and "progress:f1,f2".
std::vector<std::string> g_messages;
bool g_cancelProgress = false;

INT CALLBACK RecordMessage(LPVOID, UINT type, MSIHANDLE record) {
  if ((type & 0xFF000000) == INSTALLMESSAGE_ACTIONSTART) {
    wchar_t text[256];
    DWORD size = std::size(text);
    ::MsiRecordGetStringW(record, 2, text, &size);
    g_messages.push_back("start:" + CUnicodeString(text).ToUtf8());
    return 0;
  }
  g_messages.push_back("progress:" + std::to_string(::MsiRecordGetInteger(record, 1)) + "," +
                       std::to_string(::MsiRecordGetInteger(record, 2)));
  return g_cancelProgress ? IDCANCEL : 0;
}

// A session with the hand-shake's properties and an external user interface recording its messages.
struct CHandshake : CActionSession {
  CHandshake() {
    package.AddProperty(L"PB_INSTALL_EVENT_NAME",
                        L"OrvantTestStarted" + CUnicodeString::FromUInt(::GetCurrentProcessId()));
    package.AddProperties(
        L"PB_INSTALL_STARTUP_TIMEOUT= 30000 "
        L"|PB_GET_PROGRESS_MESSAGE_NAME=OrvantTestProgress|PB_WINDOW_NAME=OrvantTestWindow");
    Open();
    g_messages.clear();
    g_cancelProgress = false;
    ::MsiSetExternalUIRecord(RecordMessage, INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_ACTIONSTART, nullptr, nullptr);
  }
  ~CHandshake() { ::MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr); }

  UINT Run(const wchar_t* options, DWORD& exitCode) {
    const CUnicodeString event = Property(L"PB_INSTALL_EVENT_NAME");
    return CreateProcessAndSetProgress(TestChildCommand(L"event=" + event + L" " + options), exitCode, Session(),
                                       L"Copying", L"Registering", L"[1]");
  }
};

// The installer's progress window: a real window of class "OrvantTestWindow" on a thread of its own,
// answering the registered progress message from the script (then 0). The script is complete
// before the thread starts; only the window's thread reads it afterwards.
std::vector<LRESULT> g_answers;
size_t g_answered = 0;
UINT g_progressMessage = 0;

LRESULT CALLBACK ProgressWindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message != g_progressMessage) return ::DefWindowProcW(window, message, w, l);
  return g_answered < g_answers.size() ? g_answers[g_answered++] : 0;
}

class CProgressWindow {
 public:
  explicit CProgressWindow(std::vector<LRESULT> answers) {
    g_answers = std::move(answers);
    g_answered = 0;
    g_progressMessage = ::RegisterWindowMessageW(L"OrvantTestProgress");
    m_thread = std::thread([this] {
      WNDCLASSW windowClass{};
      windowClass.lpfnWndProc = ProgressWindowProcedure;
      windowClass.hInstance = ::GetModuleHandleW(nullptr);
      windowClass.lpszClassName = L"OrvantTestWindow";
      ::RegisterClassW(&windowClass);
      m_window = ::CreateWindowExW(0, L"OrvantTestWindow", L"Progress", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                   nullptr, windowClass.hInstance, nullptr);
      m_threadId = ::GetCurrentThreadId();
      for (MSG message; ::GetMessageW(&message, nullptr, 0, 0) > 0;) ::DispatchMessageW(&message);
      ::DestroyWindow(m_window);
    });
    while (!m_threadId) ::Sleep(1);
  }
  ~CProgressWindow() {
    ::PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    m_thread.join();
  }
  HWND Window() const { return m_window; }

 private:
  HWND m_window = nullptr;
  std::atomic<DWORD> m_threadId{0};  // set once the window exists
  std::thread m_thread;
};

}  // namespace

// The real window lookup and real messages: the progress follows the window's answers while the
// child runs; the last answer moves back and is sent as no move.
NULL_DISPLAY_TEST(ProcessLauncherReal, ProgressHandshakeWithARealWindow, 60000) {
  CHandshake handshake;
  const CProgressWindow window({1, 1, 50, 101, 150, 40});
  ASSERT_NE(window.Window(), nullptr);
  DWORD exitCode = 0;
  // The child outlives the six answers, so every one is asked for.
  EXPECT_EQ(handshake.Run(L"sleep=2500 exit=3", exitCode), 0u);
  EXPECT_EQ(exitCode, 3u);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"start:Copying", "progress:0,200", "progress:2,0", "progress:2,0",
                                                  "progress:2,49", "start:Registering", "progress:2,51",
                                                  "progress:2,49", "progress:2,0"}));
  // Cancel from the installer: no more messages, the child is still waited for, result 1602.
  g_messages.clear();
  g_cancelProgress = true;
  EXPECT_EQ(handshake.Run(L"sleep=1500 exit=4", exitCode), 1602u);
  EXPECT_EQ(exitCode, 4u);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"start:Copying", "progress:0,200"}));
}

// Without a display the lookup finds no window: the child is only waited for. A time-out that is
// not a number falls back to the default; an event of that name that exists already, or no window
// name, is refused before any child starts.
TIMED_CHILD_TEST(ProcessLauncherReal, ProgressHandshakeWithoutWindow, 60000) {
  CHandshake handshake;
  handshake.Set(L"PB_INSTALL_STARTUP_TIMEOUT=5s");
  DWORD exitCode = 0;
  EXPECT_EQ(handshake.Run(L"exit=8", exitCode), 0u);
  EXPECT_EQ(exitCode, 8u);
  EXPECT_TRUE(handshake.Logged(L"PB_INSTALL_STARTUP_TIMEOUT is not a number"));
  EXPECT_EQ(g_messages, (std::vector<std::string>{"start:Copying", "progress:0,200"}));
  {
    const CManualEvent taken(handshake.Property(L"PB_INSTALL_EVENT_NAME"));
    ASSERT_TRUE(taken.IsCreated());
    EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { handshake.Run(L"exit=8", exitCode); }));
  }
  handshake.Set(L"PB_WINDOW_NAME=");
  EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { handshake.Run(L"exit=8", exitCode); }));
}
