// Application closing and the installer mutex. The actions run in this program, so that the fake
// clock, the scripted desktop and the scripted user reach them; mutexes, the registry and the
// installer session are real. The real clock runs in a timed child, real windows on a null display.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "FakeDesktop.h"
#include "Mutex.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall CloseApplications(MSIHANDLE), CloseAppByMutex(MSIHANDLE), CreateInstallerMutex(MSIHANDLE),
    CloseInstallerMutex(MSIHANDLE), WriteFlagForMutex(MSIHANDLE), WriteInstallationCountToRegistry(MSIHANDLE);
}

namespace {

constexpr wchar_t kCounterKey[] = L"SOFTWARE\\Orvant\\Setup\\MutexCounter";
constexpr UINT kAsk = MB_RETRYCANCEL | MB_ICONWARNING;

// A mutex name of this test process: "Local\..." or "Global\...", unique per run.
CUnicodeString MutexName(const wchar_t* kind, const wchar_t* tag) {
  return CUnicodeString(kind) + L"\\OrvCloseTest" + CUnicodeString::FromInt(::GetCurrentProcessId()) + tag;
}

// A running application, as far as the actions can tell: its mutex exists while the handle is held.
Vrn::CKernelHandle HoldMutex(const CUnicodeString& name) {
  return Vrn::CKernelHandle(::CreateMutexW(nullptr, FALSE, name.c_str()));
}

bool Exists(const CUnicodeString& name) {
  return Vrn::CKernelHandle(::OpenMutexW(READ_CONTROL, FALSE, name.c_str())).IsValid();
}

// "InstallationCount", or "(none)".
CUnicodeString Count() {
  Vrn::CRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, kCounterKey, Vrn::RegistryMode::Read, Vrn::RegistryView::Sixty4)) return L"(none)";
  return key.ReadString(L"InstallationCount", L"(none)");
}

void SetCount(const CUnicodeString& value) {
  Vrn::CRegistryKey key;
  ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, kCounterKey, Vrn::RegistryMode::Write, Vrn::RegistryView::Sixty4));
  key.WriteString(L"InstallationCount", value);
}

// The scripted user, who may also act (close an application) when a box comes up. A box beyond
// the script is a test failure answered with Cancel, so a retrying action cannot loop forever.
class CUser : public TestSupport::CScriptedUserInterface {
 public:
  int ShowBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) override {
    if (onBox) onBox(shown.size());
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected box: " << CUnicodeString(text).ToUtf8();
      answers.push_back(IDCANCEL);
    }
    return CScriptedUserInterface::ShowBox(owner, text, caption, style);
  }
  std::function<void(size_t boxesBefore)> onBox;
};

using CBox = std::pair<CUnicodeString, UINT>;  // text and style

}  // namespace

class CloseApplicationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    package.ImportTable(TestSupport::TableSchemaPath(L"OV_Mutex"));
    package.AddProperty(L"MT_CloseApplications", L"Please close:");
    package.AddProperty(L"MT_CloseAppByGlobalMutex", L"Close for all users:");
  }
  void AddMutexRow(const CUnicodeString& name, const wchar_t* appName, const wchar_t* className, const wchar_t* msg) {
    package.Insert(L"OV_Mutex", {L"Name", L"AppName", L"ClassName", L"Msg"}, {name, appName, className, msg});
  }
  // An interactive session (UILevel 5) unless told otherwise.
  MSIHANDLE Open(const wchar_t* uiLevel = L"5") {
    const MSIHANDLE session = package.Open();
    package.SetProperty(L"UILevel", uiLevel);
    package.SetProperty(L"VersionNT", L"601");
    return session;
  }
  // The boxes shown since the last call.
  std::vector<CBox> Boxes() {
    std::vector<CBox> boxes;
    for (const auto& shown : user.shown) boxes.emplace_back(shown.text, shown.style);
    user.shown.clear();
    return boxes;
  }
  bool Logged(const wchar_t* line) const { return SessionTests::ActionLog(package).Find(line) != CUnicodeString::npos; }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CFakeClock clock;
  TestSupport::CScriptedWindows windows;
  CUser user;
  Vrn::CClockOverride clockSeam{clock};
  Vrn::CTopLevelWindowsOverride windowsSeam{windows};
  Vrn::CUserInterfaceOverride userSeam{user};
};

TEST_F(CloseApplicationsTest, WindowsByClassAndTitle) {
  package.AddProperty(L"AppsToCloseByClass", L"EditorClass|Editor;BareClass;GoneClass|Gone;");
  package.AddProperty(L"AppsToCloseByName", L";Viewer Title|Viewer");
  const HWND editor = windows.Add(L"EditorClass", L"Editor - doc.txt");
  const HWND bare = windows.Add(L"BareClass", L"");
  const HWND viewer = windows.Add(L"ViewerWindow", L"Viewer Title");
  windows.Add(L"Unrelated", L"");  // the empty items must not match this untitled window
  const MSIHANDLE session = Open();
  // Cancel: 1602, not counted as a failure. The item without "|" gives an empty line.
  user.answers = {IDCANCEL};
  EXPECT_EQ(CloseApplications(session), 1602u);
  EXPECT_EQ(Boxes(), (std::vector<CBox>{{L"Please close:\nEditor\n\nViewer", MB_RETRYCANCEL}}));
  EXPECT_EQ(Count(), L"(none)");
  // Retry after the user closed two of them: the question comes again with the one left.
  user.answers = {IDRETRY, IDRETRY};
  user.onBox = [&](size_t before) {
    if (before == 0) windows.Close(editor), windows.Close(viewer);
    if (before == 1) windows.Close(bare);
  };
  EXPECT_EQ(CloseApplications(session), 0u);
  EXPECT_EQ(Boxes(), (std::vector<CBox>{{L"Please close:\nEditor\n\nViewer", MB_RETRYCANCEL},
                                        {L"Please close:\n", MB_RETRYCANCEL}}));
}

// In a silent install nobody can answer: the log answers Retry, and the windows are looked for
// again once a second until they are gone.
TEST_F(CloseApplicationsTest, SilentInstallWaitsForTheWindows) {
  package.AddProperty(L"AppsToCloseByClass", L"EditorClass|Editor");
  const HWND editor = windows.Add(L"EditorClass", L"");
  const MSIHANDLE session = Open(L"2");
  clock.onPause = [&](uint64_t pause, DWORD) {
    if (pause == 3) windows.Close(editor);
  };
  EXPECT_EQ(CloseApplications(session), 0u);
  EXPECT_TRUE(user.shown.empty());
  EXPECT_EQ(clock.totalMs, 3000u);
  EXPECT_TRUE(Logged(L"MSGRET (default): IDRETRY"));
}

TEST_F(CloseApplicationsTest, ByMutexSendsTheCloseMessages) {
  const CUnicodeString editorName = MutexName(L"Local", L"Editor"), viewerName = MutexName(L"Local", L"Viewer");
  Vrn::CKernelHandle editorMutex = HoldMutex(editorName), viewerMutex = HoldMutex(viewerName);
  const HWND editor = windows.Add(L"EditorClass", L"", [&](UINT) { editorMutex.Reset(); });
  const HWND viewer = windows.Add(L"ViewerClass", L"", [&](UINT) { viewerMutex.Reset(); });
  AddMutexRow(editorName, L"Editor", L"EditorClass", L"WM_CLOSE");
  AddMutexRow(viewerName, L"Viewer", L"ViewerClass", L"OrvantViewerClose");
  EXPECT_EQ(CloseAppByMutex(Open()), 0u);
  ASSERT_EQ(windows.sent.size(), 2u);
  EXPECT_EQ(windows.sent[0].window, editor);
  EXPECT_EQ(windows.sent[0].message, static_cast<UINT>(WM_CLOSE));
  EXPECT_EQ(windows.sent[1].window, viewer);
  EXPECT_EQ(windows.registered, std::vector<std::wstring>{L"OrvantViewerClose"});
  EXPECT_EQ(windows.sent[1].message, 0xC001u);
  EXPECT_TRUE(user.shown.empty());
  EXPECT_EQ(package.Property(L"CLOSEAPP_VALID"), L"Yes");
  // 100 ms after each message, none of the 1 ms polls (both closed at once), 1000 ms after the pass.
  EXPECT_EQ(clock.totalMs, 1200u);
  EXPECT_TRUE(Logged(L"closeApp Send Message=OrvantViewerClose\r\n"));
}

// An application that keeps its mutex for 1000 polls ends the pass, unless NOORDER is set.
TEST_F(CloseApplicationsTest, ByMutexStopsAtAnAppThatDoesNotClose) {
  const CUnicodeString stubbornName = MutexName(L"Local", L"Stubborn"), viewerName = MutexName(L"Local", L"Viewer");
  AddMutexRow(stubbornName, L"Stubborn", L"StubbornClass", L"WM_CLOSE");
  AddMutexRow(viewerName, L"Viewer", L"ViewerClass", L"WM_CLOSE");
  const MSIHANDLE session = Open();
  const struct {
    const wchar_t* noOrder;
    size_t sent;
    const wchar_t* box;
  } cases[] = {{L"", 1, L"Please close:\nStubborn\nViewer"}, {L"1", 2, L"Please close:\nStubborn"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.noOrder));
    Vrn::CKernelHandle stubbornMutex = HoldMutex(stubbornName), viewerMutex = HoldMutex(viewerName);
    windows = {};
    windows.Add(L"StubbornClass", L"");
    windows.Add(L"ViewerClass", L"", [&](UINT) { viewerMutex.Reset(); });
    package.SetProperty(L"CLOSE_APP_BY_MUTEX_NOORDER", c.noOrder);
    user.answers = {IDCANCEL};
    clock.pauses = 0;
    EXPECT_EQ(CloseAppByMutex(session), 1602u);
    EXPECT_EQ(windows.sent.size(), c.sent);
    EXPECT_EQ(Boxes(), (std::vector<CBox>{{c.box, kAsk}}));
    EXPECT_EQ(package.Property(L"CLOSEAPP_VALID"), L"");
    EXPECT_EQ(clock.pauses, 1000u + c.sent + 1);  // the polls, 100 ms per message, 1000 ms after the pass
  }
  EXPECT_TRUE(Logged(L"App not closed yet StubbornClass\r\n"));
  EXPECT_EQ(Count(), L"(none)");  // a cancel is not a failure
}

// Rows without a message are only waited for, global rows only asked about once the local ones
// are gone; both kinds are never sent anything. Names are listed once (a substring test).
TEST_F(CloseApplicationsTest, ByMutexAsksAboutLocalThenGlobalApps) {
  const CUnicodeString waiterName = MutexName(L"Local", L"Waiter"), twinName = MutexName(L"Local", L"Twin"),
                       proName = MutexName(L"Local", L"Pro"), globalName = MutexName(L"Global", L"Service");
  Vrn::CKernelHandle waiter = HoldMutex(waiterName), twin = HoldMutex(twinName), pro = HoldMutex(proName),
                     service = HoldMutex(globalName);
  windows.Add(L"ServiceClass", L"");
  AddMutexRow(proName, L"Suite Pro", L"", L"");
  AddMutexRow(waiterName, L"Suite", L"", L"");
  AddMutexRow(twinName, L"Suite", L"", L"");
  AddMutexRow(globalName, L"Service", L"ServiceClass", L"WM_CLOSE");
  AddMutexRow(L"X" + waiterName, L"Other kind", L"ServiceClass", L"WM_CLOSE");
  const MSIHANDLE session = Open();
  user.answers = {IDRETRY, IDRETRY, IDCANCEL};
  user.onBox = [&](size_t before) {
    if (before == 1) waiter.Reset(), twin.Reset(), pro.Reset();
  };
  EXPECT_EQ(CloseAppByMutex(session), 1602u);
  EXPECT_EQ(Boxes(), (std::vector<CBox>{{L"Please close:\nSuite Pro", kAsk},
                                        {L"Please close:\nSuite Pro", kAsk},
                                        {L"Close for all users:\nService", kAsk}}));
  EXPECT_TRUE(windows.sent.empty());
  EXPECT_EQ(package.Property(L"CLOSEAPP_VALID"), L"");
  // Once the global application is gone too, the action is done.
  service.Reset();
  EXPECT_EQ(CloseAppByMutex(session), 0u);
  EXPECT_TRUE(user.shown.empty());
  EXPECT_EQ(package.Property(L"CLOSEAPP_VALID"), L"Yes");
}

// From VersionNT 602 with a W8 text the user only gets an OK box, again and again while the
// application runs, and CLOSEAPP_VALID ends empty.
TEST_F(CloseApplicationsTest, ByMutexWindows8Text) {
  const CUnicodeString name = MutexName(L"Local", L"Editor");
  AddMutexRow(name, L"Editor", L"EditorClass", L"");
  const MSIHANDLE session = Open();
  const struct {
    const wchar_t *version, *w8Text;
    CBox box;
    const wchar_t* valid;
  } cases[] = {
      {L"602", L"Close %0 first", {L"Close \nEditor first", MB_OK | MB_ICONWARNING}, L""},
      {L" 603 ", L"", {L"Please close:\nEditor", kAsk}, L"Yes"},
      {L"601", L"Close %0 first", {L"Please close:\nEditor", kAsk}, L"Yes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.version));
    Vrn::CKernelHandle mutex = HoldMutex(name);
    package.SetProperty(L"VersionNT", c.version);
    package.SetProperty(L"MT_CloseApplicationsW8", c.w8Text);
    user.answers = {IDOK, IDRETRY};
    user.onBox = [&](size_t before) {
      if (before == 1) mutex.Reset();
    };
    EXPECT_EQ(CloseAppByMutex(session), 0u);
    EXPECT_EQ(Boxes(), (std::vector<CBox>{c.box, c.box}));
    EXPECT_EQ(package.Property(L"CLOSEAPP_VALID"), c.valid);
  }
  // A VersionNT that is not a number is an internal error (counted) once a question is due.
  Vrn::CKernelHandle mutex = HoldMutex(name);
  package.SetProperty(L"VersionNT", L"6.2");
  user.onBox = nullptr;
  EXPECT_EQ(CloseAppByMutex(session), 1603u);
  EXPECT_EQ(Count(), L"1");
}

// A silent install makes one pass and asks nobody; with the abort switch running local
// applications fail the action (and count the failure).
TEST_F(CloseApplicationsTest, ByMutexSilentInstall) {
  const CUnicodeString name = MutexName(L"Local", L"Editor");
  Vrn::CKernelHandle mutex = HoldMutex(name);
  AddMutexRow(name, L"Editor", L"EditorClass", L"WM_CLOSE");
  const MSIHANDLE session = Open(L"2");
  // A window that is not there is logged and skipped.
  EXPECT_EQ(CloseAppByMutex(session), 0u);
  EXPECT_EQ(package.Property(L"CLOSEAPP_VALID"), L"Yes");
  EXPECT_TRUE(Logged(L"closeApp NOT FOUND ClassName=EditorClass\r\n"));
  windows.Add(L"EditorClass", L"");
  package.SetProperty(L"ABORT_CLOSEAPP_FOR_MUTEX_SULENT", L"1");
  EXPECT_EQ(CloseAppByMutex(session), 1603u);
  EXPECT_EQ(package.Property(L"CLOSEAPP_VALID"), L"");
  EXPECT_EQ(Count(), L"1");
  EXPECT_TRUE(user.shown.empty());
  EXPECT_EQ(windows.sent.size(), 1u);
}

// ---- The installer mutex ----

class InstallerMutexTest : public CloseApplicationsTest {
 protected:
  void SetUp() override {
    CloseApplicationsTest::SetUp();
    package.AddProperty(L"OV_InstallerGlobalMutexName", mutexName);
  }
  const CUnicodeString mutexName = MutexName(L"Global", L"Installer");
};

// The mutex is held until the counter moves from the value after the action's own increment:
// changed to another number, or to something that is not a number.
TEST_F(InstallerMutexTest, HeldUntilTheCounterChanges) {
  const MSIHANDLE session = Open();
  const struct {
    const wchar_t *initial, *afterOwnIncrement;
    uint64_t changeAtPause;
    const wchar_t* changeTo;
    uint64_t pauses;  // one more when the new value is a number: it is read, then waited on
  } cases[] = {
      {nullptr, L"1", 3, L"2", 4}, {L"abc", L"1", 1, L"2", 2},        {L" 7 ", L"8", 2, L"9", 3},
      {L"-5", L"-4", 1, L"-3", 2}, {L"2147483648", L"1", 1, L"2", 2}, {L"41", L"42", 5, L"abc", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.initial ? SessionTests::Utf8(c.initial) : "missing");
    if (c.initial) SetCount(c.initial);
    clock = {};
    bool heldWhileWaiting = false;
    clock.onPause = [&](uint64_t pause, DWORD) {
      if (pause != c.changeAtPause) return;
      EXPECT_EQ(Count(), c.afterOwnIncrement);
      heldWhileWaiting = Exists(mutexName);
      SetCount(c.changeTo);
    };
    EXPECT_EQ(CreateInstallerMutex(session), 0u);
    EXPECT_TRUE(heldWhileWaiting);
    EXPECT_EQ(clock.pauses, c.pauses);
    EXPECT_EQ(clock.totalMs, 1000 * c.pauses);
    EXPECT_FALSE(Exists(mutexName));
    EXPECT_FALSE(Msi::HoldsInstallerMutex());
  }
  for (const wchar_t* line : {L"CreateInstallerMutex j=5\r\n", L"CreateInstallerMutex LoadLibrary:",
                              L"CloseInstallerMutex : GlobalMutex", L"CloseInstallerMutex : FreeLibrary"})
    EXPECT_TRUE(Logged(line)) << SessionTests::Utf8(line);
}

// Without any change the mutex is released after 10000 one-second checks.
TEST_F(InstallerMutexTest, ReleasedAfterTenThousandChecks) {
  EXPECT_EQ(CreateInstallerMutex(Open()), 0u);
  EXPECT_EQ(clock.pauses, 10000u);
  EXPECT_FALSE(Exists(mutexName));
  EXPECT_EQ(Count(), L"1");
}

// A second creation in the process fails (1603, counted), and that count releases the first.
TEST_F(InstallerMutexTest, SecondCreationFailsAndReleasesTheFirst) {
  const MSIHANDLE session = Open();
  clock.onPause = [&](uint64_t pause, DWORD) {
    if (pause != 1) return;
    EXPECT_EQ(CreateInstallerMutex(session), 1603u);
    EXPECT_TRUE(Exists(mutexName));  // the first one's mutex is untouched
    EXPECT_EQ(Count(), L"3");        // the second call's own increment, then its failure
  };
  EXPECT_EQ(CreateInstallerMutex(session), 0u);
  EXPECT_EQ(clock.pauses, 2u);
  EXPECT_FALSE(Exists(mutexName));
}

TEST_F(InstallerMutexTest, EmptyNameCloseAloneAndCounterSteps) {
  const MSIHANDLE session = Open();
  package.SetProperty(L"OV_InstallerGlobalMutexName", L"");
  EXPECT_EQ(CreateInstallerMutex(session), 1603u);
  EXPECT_EQ(Count(), L"2");  // its own increment and the failure
  EXPECT_FALSE(Msi::HoldsInstallerMutex());
  EXPECT_EQ(clock.pauses, 0u);
  // Closing with nothing held only logs the action's name.
  const size_t logged = SessionTests::ActionLog(package).Length();
  EXPECT_EQ(CloseInstallerMutex(session), 0u);
  EXPECT_EQ(SessionTests::ActionLog(package).Mid(logged), L"CloseInstallerMutex\r\n\r\n");
  SetCount(L"41");
  EXPECT_EQ(WriteInstallationCountToRegistry(session), 0u);
  EXPECT_EQ(Count(), L"42");
  EXPECT_EQ(WriteFlagForMutex(session), 0u);
  EXPECT_EQ(Count(), L"43");
  EXPECT_EQ(package.Property(L"MUTEX_COUNTER_VALID"), L"Yes");
  EXPECT_TRUE(Logged(L"count = 42\r\n"));
}

// The real clock: the action waits in its own thread until another increment, checked once a second.
TIMED_CHILD_TEST(InstallerMutexRealClock, ReleasedByAnotherIncrement, 60000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  const CUnicodeString name = MutexName(L"Global", L"RealClock");
  package.AddProperty(L"OV_InstallerGlobalMutexName", name);
  const MSIHANDLE session = package.Open();
  std::atomic<UINT> result{1};
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    result = CreateInstallerMutex(session);
    done = true;
  });
  for (int i = 0; i < 200 && !Exists(name); ++i) ::Sleep(50);
  // The waiter reads its start value just after creating the mutex, so an increment may come before
  // it; the next one then ends the wait (checked once a second).
  for (int attempt = 0; attempt < 10 && !done; ++attempt) {
    EXPECT_EQ(WriteInstallationCountToRegistry(session), 0u);
    for (int i = 0; i < 60 && !done; ++i) ::Sleep(50);
  }
  waiter.join();
  EXPECT_EQ(result, 0u);
  EXPECT_FALSE(Exists(name));
}

// ---- Real windows on a null display ----

namespace {

// Stand-ins for the product's applications: windows of this thread (so that SendMessageW calls
// their procedure at once), each holding a mutex, which WM_CLOSE or the registered close message
// releases as it destroys the window.
std::map<HWND, Vrn::CKernelHandle> g_standInMutexes;
UINT g_registeredClose = 0;

LRESULT CALLBACK StandInProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message != WM_CLOSE && message != g_registeredClose) return ::DefWindowProcW(window, message, w, l);
  g_standInMutexes.erase(window);
  ::DestroyWindow(window);
  return 0;
}

HWND StartStandIn(const CUnicodeString& mutexName, const wchar_t* className) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = StandInProcedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = className;
  ::RegisterClassW(&windowClass);
  const HWND window = ::CreateWindowExW(0, className, className, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                        windowClass.hInstance, nullptr);
  g_standInMutexes[window] = HoldMutex(mutexName);
  return window;
}

}  // namespace

// Real user32 and real waits: CloseAppByMutex finds the stand-ins by class and closes one with
// WM_CLOSE and one with a registered message.
NULL_DISPLAY_TEST(CloseAppRealWindows, StandInsAreClosed, 60000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_Mutex"));
  const CUnicodeString editorName = MutexName(L"Local", L"RealEditor"), viewerName = MutexName(L"Local", L"RealViewer");
  package.Insert(L"OV_Mutex", {L"Name", L"AppName", L"ClassName", L"Msg"},
                 {editorName, L"Editor", L"OrvRealEditor", L"WM_CLOSE"});
  package.Insert(L"OV_Mutex", {L"Name", L"AppName", L"ClassName", L"Msg"},
                 {viewerName, L"Viewer", L"OrvRealViewer", L"OrvantRealViewerClose"});
  const MSIHANDLE session = package.Open();
  package.SetProperty(L"UILevel", L"5");
  CUser user;  // no box is expected: one would be answered Cancel
  Vrn::CUserInterfaceOverride seam{user};
  g_registeredClose = ::RegisterWindowMessageW(L"OrvantRealViewerClose");
  const HWND editor = StartStandIn(editorName, L"OrvRealEditor"), viewer = StartStandIn(viewerName, L"OrvRealViewer");
  EXPECT_EQ(CloseAppByMutex(session), 0u);
  EXPECT_EQ(package.Property(L"CLOSEAPP_VALID"), L"Yes");
  EXPECT_FALSE(::IsWindow(editor) || ::IsWindow(viewer));
  EXPECT_TRUE(g_standInMutexes.empty());
}
