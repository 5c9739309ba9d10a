// orvsweep: calls one exported action of the library (linked in and exported under its own name)
// on a package, once in an empty session and then once per hostile value, each time in a fresh
// session where every property named on the command line holds that value. Each call must return
// 0, 1602 or 1603 within the time limit and leave the custom-action log well formed. Every seam
// that could wait or show something is replaced by a harmless fake, so nothing real blocks.
// Removal actions get the hostile paths: run it only in a disposable prefix (sweep-install).
// Usage: orvsweep PACKAGE ACTION [PROPERTY ...]   (ORV_SWEEP_LIMIT_MS sets the per-call limit)
// Prints one "FAILED: <action> <input>: <why>" line per fault and ends with "done <calls>".
#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "ActionFrame.h"
#include "Clock.h"
#include "CustomActionLog.h"
#include "FakeAccountServices.h"
#include "FakeDesktop.h"
#include "FakeFirewall.h"
#include "FakeNetworkNames.h"
#include "FakeSeams.h"
#include "Files.h"
#include "MessageHandlers.h"
#include "MsiHandle.h"
#include "Setup.h"
#include "TestSupport.h"
#include "VrnWindows.h"
// msi headers after windows.h
#include <msi.h>
#include <msiquery.h>

namespace {

struct CInput {
  const char* label;
  std::wstring value;
};

std::vector<CInput> HostileValues() {
  return {{"\"\"", L""},
          {"\" \"", L" "},
          {"40000 characters", std::wstring(40000, L'A')},
          {"\"%s%s%n\"", L"%s%s%n"},
          {"\"[ProductName]\"", L"[ProductName]"},
          {"\"\\\\\"", L"\\\\"},
          {"\"..\\..\\\"", L"..\\..\\"},
          {"a lone surrogate", std::wstring(L"x") + wchar_t(0xD800) + L"y"},
          {"Cyrillic text", L"\x041F\x0440\x0438\x0432\x0435\x0442 \x043C\x0438\x0440"},
          {"CJK text", L"\x4F60\x597D\x4E16\x754C\x3002\x30C6\x30B9\x30C8"},
          {"\"-1\"", L"-1"},
          {"\"4294967296\"", L"4294967296"}};
}

// The answer that leaves a box without going on: Cancel, No or Abort where the box has one.
int LeavingAnswer(UINT style) {
  switch (style & MB_TYPEMASK) {
    case MB_OK:
      return IDOK;
    case MB_YESNO:
      return IDNO;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    default:
      return IDCANCEL;
  }
}

class CLeavingBoxes : public Vrn::CUserInterface {
 public:
  int ShowBox(HWND, const wchar_t*, const wchar_t*, UINT style) override { return LeavingAnswer(style); }
  BOOL BringToForeground(HWND) override { return TRUE; }
};

INT CALLBACK AnswerInstallerMessage(LPVOID, UINT type, LPCWSTR) {
  const UINT kind = type & 0xFF000000;
  const bool question = kind == INSTALLMESSAGE_ERROR || kind == INSTALLMESSAGE_WARNING || kind == INSTALLMESSAGE_USER;
  return question ? LeavingAnswer(type) : 0;
}

// What the watchdog and the crash filter report: the call in progress.
std::string g_action;
std::string g_input;
std::atomic<ULONGLONG> g_callStarted{0};

[[noreturn]] void FailAndExit(const std::string& why) {
  std::printf("FAILED: %s %s: %s\n", g_action.c_str(), g_input.c_str(), why.c_str());
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), 3);
  std::abort();
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  char code[32];
  std::snprintf(code, sizeof code, "0x%08lx", exception->ExceptionRecord->ExceptionCode);
  FailAndExit(std::string("crash (exception ") + code + ")");
}

void Watch(ULONGLONG limitMs) {
  for (;;) {
    ::Sleep(100);
    const ULONGLONG started = g_callStarted.load();
    if (started && GetTickCount64() - started > limitMs)
      FailAndExit("hang (no result after " + std::to_string(limitMs) + " ms)");
  }
}

std::string LogBytes(const Vrn::CUnicodeString& path) {
  return Vrn::FileExists(path) ? TestSupport::ReadBytes(path) : std::string();
}

// What the call appended to the log must be pieces that each start with the byte-order mark,
// holding UTF-16 text without NULs or unpaired surrogates. Empty when well formed.
std::string LogFault(const std::string& bytes, size_t from) {
  if (bytes.size() < from) return "the log lost text written before the call";
  if ((bytes.size() - from) % 2) return "the log ends in half a character";
  if (bytes.size() > from && bytes.compare(from, 2, "\xFF\xFE") != 0) return "a piece without its byte-order mark";
  for (size_t i = from; i < bytes.size(); i += 2) {
    const wchar_t unit =
        static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (unit == 0) return "a NUL character in the log";
    if (low) return "an unpaired surrogate in the log";
    if (high) {
      const size_t next = i + 2;
      const bool paired = next + 1 < bytes.size() && (static_cast<unsigned char>(bytes[next + 1]) & 0xFC) == 0xDC;
      if (!paired) return "an unpaired surrogate in the log";
      i = next;
    }
  }
  return {};
}

// One call in a fresh session; returns the number of faults found (a hang or crash ends the process).
int Call(const wchar_t* package, UINT(__stdcall* action)(MSIHANDLE), const std::vector<std::wstring>& properties,
         const std::wstring* value) {
  Msi::CMsiHandle session;
  if (const UINT opened = MsiOpenPackageExW(package, MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, session.Put())) {
    std::printf("FAILED: %s: cannot open the package (installer error %u)\n", g_action.c_str(), opened);
    return 1;
  }
  if (value)
    for (const std::wstring& name : properties) MsiSetPropertyW(session.Get(), name.c_str(), value->c_str());
  // Costed, so that feature, component and directory states exist (a hostile value may stop costing).
  for (const wchar_t* step : {L"CostInitialize", L"FileCost", L"CostFinalize"})
    if (MsiDoActionW(session.Get(), step) != ERROR_SUCCESS) break;
  const Vrn::CUnicodeString logFile = Msi::CustomActionLog().FileName();
  const size_t logBefore = LogBytes(logFile).size();
  g_callStarted = GetTickCount64();
  const UINT result = action(session.Get());
  g_callStarted = 0;
  int faults = 0;
  if (result != ERROR_SUCCESS && result != ERROR_INSTALL_USEREXIT && result != ERROR_INSTALL_FAILURE) {
    std::printf("FAILED: %s %s: result %u\n", g_action.c_str(), g_input.c_str(), result);
    ++faults;
  }
  // A new file (the old one could not be opened any more) is checked from its start.
  const Vrn::CUnicodeString logAfter = Msi::CustomActionLog().FileName();
  const std::string fault = LogFault(LogBytes(logAfter), logAfter == logFile ? logBefore : 0);
  if (!fault.empty()) {
    std::printf("FAILED: %s %s: %s\n", g_action.c_str(), g_input.c_str(), fault.c_str());
    ++faults;
  }
  return faults;
}

// Hostile paths reach removal code: only a prefix whose one drive is C: and where the Linux root,
// which Wine reaches through "\\?\unix\", cannot be written qualifies (sweep-install makes one).
bool Sealed() {
  if (GetLogicalDrives() != (1u << 2)) return false;
  const wchar_t* probe = L"\\\\?\\unix\\orvsweep-probe";
  if (!CreateDirectoryW(probe, nullptr)) return GetLastError() != ERROR_ALREADY_EXISTS;
  RemoveDirectoryW(probe);
  return false;
}

int Sweep(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: orvsweep PACKAGE ACTION [PROPERTY ...]\n");
    return 87;
  }
  if (!Sealed()) {
    std::printf("FAILED: refused: drives other than C: exist or the Linux root is writable\n");
    return 1;
  }
  const Vrn::CUnicodeString actionName(argv[2]);
  g_action = actionName.ToUtf8();
  const auto action = reinterpret_cast<UINT(__stdcall*)(MSIHANDLE)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), g_action.c_str())));
  if (!action) {
    std::printf("FAILED: %s: not exported\n", g_action.c_str());
    return 1;
  }
  const std::vector<std::wstring> properties(argv + 3, argv + argc);

  // Folders of the action's own beside the program: the temporary folder (the log's) and a deep
  // working folder, so that relative hostile paths such as "..\..\" stay inside the action's folder.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const Vrn::CUnicodeString selfPath(self);
  const Vrn::CUnicodeString root = selfPath.Left(selfPath.ReverseFind(L'\\')) + L"\\run\\" + actionName;
  const Vrn::CUnicodeString temp = root + L"\\temp", work = root + L"\\work\\a\\b\\c\\d";
  Vrn::CreateDirectoryWithParents(temp);
  Vrn::CreateDirectoryWithParents(work);
  SetEnvironmentVariableW(L"TMP", temp.c_str());
  SetEnvironmentVariableW(L"TEMP", temp.c_str());
  Vrn::SetTemporaryDirectory(temp);
  SetCurrentDirectoryW(work.c_str());

  wchar_t limitText[16] = L"5000";
  GetEnvironmentVariableW(L"ORV_SWEEP_LIMIT_MS", limitText, 16);
  std::thread(Watch, std::wcstoull(limitText, nullptr, 10)).detach();

  TestSupport::CFakeClock clock;
  Vrn::CClockOverride noWaiting(clock);
  CLeavingBoxes boxes;
  Vrn::CUserInterfaceOverride noBoxes(boxes);
  TestSupport::CScriptedWindows desktop;
  Vrn::CTopLevelWindowsOverride emptyDesktop(desktop);
  TestSupport::CFakeNetworkNames networkNames;
  Msi::CNetworkNamesOverride noNetwork(networkNames);
  TestSupport::CFakeFolderBrowser folderBrowser;
  Msi::CFolderBrowserOverride noBrowser(folderBrowser);
  TestSupport::CFakeFirewall firewall;
  Msi::CFirewallOverride noFirewall(firewall);
  TestSupport::CFakeAccountServices accounts;
  TestSupport::CFakeFeatureTool featureTool;
  Msi::CFeatureToolSeam::COverride noFeatureTool(featureTool);
  TestSupport::CFakeIis iis;
  Msi::CIisCommandOverride noIis(iis);
  TestSupport::CFakeShellOpener shell;
  Msi::CShellOpenerOverride noShell(shell);
  TestSupport::CFakeReinstall reinstall;
  Msi::CProductReinstallOverride noReinstall(reinstall);
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIW(AnswerInstallerMessage,
                    INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER,
                    nullptr);

  int calls = 0, faults = 0;
  g_input = "(empty session)";
  faults += Call(argv[1], action, properties, nullptr);
  ++calls;
  if (!properties.empty())
    for (const CInput& input : HostileValues()) {
      g_input = "(" + Vrn::CUnicodeString(argv[3]).ToUtf8() + (properties.size() > 1 ? ", ..." : "") + " = " +
                input.label + ")";
      faults += Call(argv[1], action, properties, &input.value);
      ++calls;
    }
  std::printf("done %d\n", calls);
  return faults ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(ReportCrash);
  std::set_terminate([] { FailAndExit("std::terminate"); });
  Vrn::RecordLibraryModule(GetModuleHandleW(nullptr));
  return Sweep(argc, argv);
}
