// Application closing and the installer mutex with the fake clock and the scripted desktop. The
// silent install and a real installation's mutex (released by the real clock) are mutex-install's.
#include <thread>

#include "ActionFrame.h"
#include "ActionTest.h"
#include "FakeDesktop.h"
#include "Mutex.h"

using namespace TestSupport;

namespace {

constexpr UINT kAsk = MB_RETRYCANCEL | MB_ICONWARNING;

// A mutex name of this test process: "Local\..." or "Global\...".
CUnicodeString MutexName(const wchar_t* kind, const wchar_t* tag) {
  return CUnicodeString(kind) + L"\\OrvCloseTest" + CUnicodeString::FromInt(::GetCurrentProcessId()) + tag;
}

// A running application, as far as the actions can tell: its mutex exists while the handle is held.
Vrn::CKernelHandle HoldMutex(const CUnicodeString& name) {
  return Vrn::CKernelHandle(::CreateMutexW(nullptr, FALSE, name.c_str()));
}

bool MutexExists(const CUnicodeString& name) {
  return Vrn::CKernelHandle(::OpenMutexW(READ_CONTROL, FALSE, name.c_str())).IsValid();
}

void SetCount(const CUnicodeString& value) {
  SetRegistryText(HKEY_LOCAL_MACHINE, Msi::kMutexCounterKey, L"InstallationCount", value);
}

void AddMutexRow(CTestPackage& package, const CUnicodeString& name, const wchar_t* app, const wchar_t* windowClass,
                 const wchar_t* message) {
  package.Insert(L"OV_Mutex", {L"Name", L"AppName", L"ClassName", L"Msg"}, {name, app, windowClass, message});
}

}  // namespace

class CloseApplicationsTest : public ActionTest {
 protected:
  void SetUp() override {
    package.ImportTable(TableSchemaPath(L"OV_Mutex"));
    package.AddProperties(L"MT_CloseApplications=Please close:|MT_CloseAppByGlobalMutex=Close for all users:");
    // The user may act when a box comes up; a box beyond the script is a failure answered Cancel, so
    // that a retrying action cannot loop forever.
    ui.onBox = [this](size_t before) {
      if (userActs) userActs(before);
      if (!ui.answers.empty()) return;
      ADD_FAILURE() << "unexpected box";
      ui.answers = {IDCANCEL};
    };
  }
  // An interactive session on Windows 7 (the installer sets VersionNT when it opens the package).
  void OpenOnWindows7() {
    Open();
    Set(L"VersionNT=601");
  }
  std::function<void(size_t boxesBefore)> userActs;
  CFakeClock clock;
  CScriptedWindows windows;
  Vrn::CClockOverride clockSeam{clock};
  Vrn::CTopLevelWindowsOverride windowsSeam{windows};
};

TEST_F(CloseApplicationsTest, WindowsByClassAndTitle) {
  package.AddProperty(L"AppsToCloseByClass", L"EditorClass|Editor;BareClass;GoneClass|Gone;");
  package.AddProperty(L"AppsToCloseByName", L";Viewer Title|Viewer");
  const HWND editor = windows.Add(L"EditorClass", L"Editor - doc.txt");
  const HWND bare = windows.Add(L"BareClass", L"");
  const HWND viewer = windows.Add(L"ViewerWindow", L"Viewer Title");
  windows.Add(L"Unrelated", L"");  // the empty items must not match this untitled window
  Open();
  // Cancel: 1602, not counted. The item without "|" gives an empty line.
  const CBox question{L"Please close:\nEditor\n\nViewer", MB_RETRYCANCEL};
  RunCases({{"CloseApplications", L"", L"", 1602, question, IDCANCEL}});
  // Retry after the user closed two of them: the question comes again with the one left.
  userActs = [&](size_t before) {
    if (before == 0) windows.Close(editor), windows.Close(viewer);
    if (before == 1) windows.Close(bare);
  };
  RunCases({{"CloseApplications", L"", L"", 0, {question, {L"Please close:\n", MB_RETRYCANCEL}}, {IDRETRY, IDRETRY}}});
}

// In a silent install nobody can answer: the log answers Retry, and the windows are looked for
// again once a second until they are gone.
TEST_F(CloseApplicationsTest, SilentInstallWaitsForTheWindows) {
  package.AddProperty(L"AppsToCloseByClass", L"EditorClass|Editor");
  const HWND editor = windows.Add(L"EditorClass", L"");
  Open(false, L"2");
  clock.onPause = [&](uint64_t pause, DWORD) {
    if (pause == 3) windows.Close(editor);
  };
  RunCases({{"CloseApplications"}});
  EXPECT_EQ(clock.totalMs, 3000u);
}

TEST_F(CloseApplicationsTest, ByMutexSendsTheCloseMessages) {
  const CUnicodeString editorName = MutexName(L"Local", L"Editor"), viewerName = MutexName(L"Local", L"Viewer");
  Vrn::CKernelHandle editorMutex = HoldMutex(editorName), viewerMutex = HoldMutex(viewerName);
  const HWND editor = windows.Add(L"EditorClass", L"", [&](UINT) { editorMutex.Reset(); });
  const HWND viewer = windows.Add(L"ViewerClass", L"", [&](UINT) { viewerMutex.Reset(); });
  AddMutexRow(package, editorName, L"Editor", L"EditorClass", L"WM_CLOSE");
  AddMutexRow(package, viewerName, L"Viewer", L"ViewerClass", L"OrvantViewerClose");
  Open();
  RunCases({{"CloseAppByMutex", {}, L"CLOSEAPP_VALID=Yes"}});
  ASSERT_EQ(windows.sent.size(), 2u);
  EXPECT_EQ(windows.sent[0].window, editor);
  EXPECT_EQ(windows.sent[0].message, static_cast<UINT>(WM_CLOSE));
  EXPECT_EQ(windows.sent[1].window, viewer);
  EXPECT_EQ(windows.registered, std::vector<std::wstring>{L"OrvantViewerClose"});
  EXPECT_EQ(windows.sent[1].message, 0xC001u);
  // 100 ms after each message, none of the 1 ms polls (both closed at once), 1000 ms after the pass.
  EXPECT_EQ(clock.totalMs, 1200u);
}

// An application that keeps its mutex for 1000 polls ends the pass, unless NOORDER is set.
TEST_F(CloseApplicationsTest, ByMutexStopsAtAnAppThatDoesNotClose) {
  const CUnicodeString stubbornName = MutexName(L"Local", L"Stubborn"), viewerName = MutexName(L"Local", L"Viewer");
  AddMutexRow(package, stubbornName, L"Stubborn", L"StubbornClass", L"WM_CLOSE");
  AddMutexRow(package, viewerName, L"Viewer", L"ViewerClass", L"WM_CLOSE");
  OpenOnWindows7();
  for (const auto& [noOrder, sent, box] :
       {std::tuple{L"", 1u, L"Please close:\nStubborn\nViewer"}, {L"1", 2u, L"Please close:\nStubborn"}}) {
    Vrn::CKernelHandle stubbornMutex = HoldMutex(stubbornName), viewerMutex = HoldMutex(viewerName);
    windows = {};
    windows.Add(L"StubbornClass", L"");
    windows.Add(L"ViewerClass", L"", [&](UINT) { viewerMutex.Reset(); });
    clock.pauses = 0;
    RunCases({{"CloseAppByMutex",
               {{L"CLOSE_APP_BY_MUTEX_NOORDER", noOrder}},
               L"CLOSEAPP_VALID=",
               1602,
               CBox{box, kAsk},
               IDCANCEL}});
    EXPECT_EQ(windows.sent.size(), sent);
    EXPECT_EQ(clock.pauses, 1000u + sent + 1);  // the polls, 100 ms per message, 1000 ms after the pass
  }
}

// Rows without a message are only waited for, global rows only asked about once the local ones
// are gone; both kinds are never sent anything. Names are listed once (a substring test).
TEST_F(CloseApplicationsTest, ByMutexAsksAboutLocalThenGlobalApps) {
  const CUnicodeString waiterName = MutexName(L"Local", L"Waiter"), twinName = MutexName(L"Local", L"Twin"),
                       proName = MutexName(L"Local", L"Pro"), globalName = MutexName(L"Global", L"Service");
  Vrn::CKernelHandle waiter = HoldMutex(waiterName), twin = HoldMutex(twinName), pro = HoldMutex(proName),
                     service = HoldMutex(globalName);
  windows.Add(L"ServiceClass", L"");
  AddMutexRow(package, proName, L"Suite Pro", L"", L"");
  AddMutexRow(package, waiterName, L"Suite", L"", L"");
  AddMutexRow(package, twinName, L"Suite", L"", L"");
  AddMutexRow(package, globalName, L"Service", L"ServiceClass", L"WM_CLOSE");
  AddMutexRow(package, L"X" + waiterName, L"Other kind", L"ServiceClass", L"WM_CLOSE");
  OpenOnWindows7();
  userActs = [&](size_t before) {
    if (before == 1) waiter.Reset(), twin.Reset(), pro.Reset();
  };
  const CBox local{L"Please close:\nSuite Pro", kAsk};
  RunCases({{"CloseAppByMutex",
             L"",
             L"CLOSEAPP_VALID=",
             1602,
             {local, local, {L"Close for all users:\nService", kAsk}},
             {IDRETRY, IDRETRY, IDCANCEL}}});
  EXPECT_TRUE(windows.sent.empty());
  // Once the global application is gone too, the action is done.
  service.Reset();
  RunCases({{"CloseAppByMutex", {}, L"CLOSEAPP_VALID=Yes"}});
}

// From VersionNT 602 with a W8 text the user only gets an OK box, again and again while the
// application runs, and CLOSEAPP_VALID ends empty.
TEST_F(CloseApplicationsTest, ByMutexWindows8Text) {
  const CUnicodeString name = MutexName(L"Local", L"Editor");
  AddMutexRow(package, name, L"Editor", L"EditorClass", L"");
  Open();
  Vrn::CKernelHandle mutex;
  userActs = [&](size_t before) {
    if (before == 1) mutex.Reset();
  };
  const CBox w8{L"Close \nEditor first", MB_OK | MB_ICONWARNING}, ask{L"Please close:\nEditor", kAsk};
  for (const auto& [version, text, box, valid] : {std::tuple{L"602", L"Close %0 first", w8, L""},
                                                  {L" 603 ", L"", ask, L"Yes"},
                                                  {L"601", L"Close %0 first", ask, L"Yes"}}) {
    mutex = HoldMutex(name);
    RunCases({{"CloseAppByMutex",
               {{L"VersionNT", version}, {L"MT_CloseApplicationsW8", text}},
               {{L"CLOSEAPP_VALID", valid}},
               0,
               {box, box},
               {IDOK, IDRETRY}}});
  }
  // A VersionNT that is not a number is an internal error once a question is due.
  mutex = HoldMutex(name);
  userActs = nullptr;
  RunCases({{"CloseAppByMutex", L"VersionNT=6.2", L"", 1603}});
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

// The mutex is held until the counter moves from the value after the action's own increment, to
// another number (read, then waited on once more) or to something that is not a number; the
// counter's own parsing is ActionFrameTest's.
TEST_F(InstallerMutexTest, HeldUntilTheCounterChanges) {
  Open();
  for (const auto& [changeAtPause, changeTo, pauses] : {std::tuple{3u, L"43", 4u}, {5u, L"abc", 5u}}) {
    SCOPED_TRACE(CUnicodeString(changeTo));
    SetCount(L"41");
    clock = {};
    bool heldWhileWaiting = false;
    clock.onPause = [&](uint64_t pause, DWORD) {
      if (pause != changeAtPause) return;
      EXPECT_EQ(InstallationCount(), 42u);
      heldWhileWaiting = MutexExists(mutexName);
      SetCount(changeTo);
    };
    EXPECT_EQ(Call("CreateInstallerMutex"), 0u);
    EXPECT_TRUE(heldWhileWaiting);
    EXPECT_EQ(clock.pauses, pauses);
    EXPECT_EQ(clock.totalMs, 1000 * pauses);
    EXPECT_FALSE(MutexExists(mutexName));
    EXPECT_FALSE(Msi::HoldsInstallerMutex());
  }
}

// Without any change the mutex is released after 10000 one-second checks.
TEST_F(InstallerMutexTest, ReleasedAfterTenThousandChecks) {
  Open();
  RunCases({{"CreateInstallerMutex", L"", L"", CResult(0, 1)}});
  EXPECT_EQ(clock.pauses, 10000u);
  EXPECT_FALSE(MutexExists(mutexName));
}

// A second creation in the process fails (1603, counted), and that count releases the first; an
// empty name fails; closing with nothing held does nothing; the counter steps of the other actions.
TEST_F(InstallerMutexTest, SecondCreationEmptyNameAndCounterSteps) {
  Open();
  clock.onPause = [&](uint64_t pause, DWORD) {
    if (pause != 1) return;
    EXPECT_EQ(Call("CreateInstallerMutex"), 1603u);
    EXPECT_TRUE(MutexExists(mutexName));  // the first one's mutex is untouched
    EXPECT_EQ(InstallationCount(), 3u);   // the second call's own increment, then its failure
  };
  EXPECT_EQ(Call("CreateInstallerMutex"), 0u);
  EXPECT_EQ(clock.pauses, 2u);
  EXPECT_FALSE(MutexExists(mutexName));
  clock = {};
  RunCases({{"CreateInstallerMutex", L"OV_InstallerGlobalMutexName=", L"", CResult(1603, 2)},
            {"CloseInstallerMutex"},
            {"WriteInstallationCountToRegistry", L"", L"", CResult(0, 1)},
            {"WriteFlagForMutex", L"", L"MUTEX_COUNTER_VALID=Yes", CResult(0, 1)}});
  EXPECT_EQ(clock.pauses, 0u);
  EXPECT_EQ(InstallationCount(), 7u);
}

// The process keeps one installer mutex: of two calls on two threads at once exactly one gets it
// and the other is refused, and after the release nobody holds it, round after round.
TEST(InstallerMutexState, OneHolderAmongConcurrentCalls) {
  const CUnicodeString name = MutexName(L"Local", L"Stress");
  for (int round = 0; round < 300; ++round) {
    bool refused[2] = {};
    std::thread threads[2];
    for (int t = 0; t < 2; ++t)
      threads[t] =
          std::thread([&, t] { refused[t] = Vrn::Caught([&] { Msi::AcquireInstallerMutex(name); }) != nullptr; });
    for (std::thread& thread : threads) thread.join();
    ASSERT_NE(refused[0], refused[1]) << "round " << round;
    ASSERT_TRUE(Msi::HoldsInstallerMutex() && MutexExists(name)) << "round " << round;
    Msi::ReleaseInstallerMutex();
    ASSERT_FALSE(Msi::HoldsInstallerMutex() || MutexExists(name)) << "round " << round;
  }
}
