// orvsweep: calls one exported action of the library (linked in and exported under its own name)
// on a package, each time in a fresh session where every property named on the command line holds
// one hostile value:
// - with fakes for every seam: once in an empty session and once per hostile value;
// - with the real firewall, network names, shell, account, directory and window services (under
//   Wine they answer at once; only the seams that can wait, such as the clock, boxes and dialogs,
//   stay fakes): once per over-long value;
// - with --deferred instead, as in a deferred run: once per hostile CustomActionData, checking also
//   that nothing outside the sweep's own folders changed.
// Each call must return 0, 1602 or 1603 within the time limit and leave the custom-action log well
// formed. Removal actions get the hostile paths: run it only in a disposable prefix (sweep-install).
// Usage: orvsweep [--deferred] PACKAGE ACTION [PROPERTY ...]   (ORV_SWEEP_LIMIT_MS: per-call limit)
// Prints one "FAILED: <action> <input>: <why>" line per fault and ends with "done <calls>".
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
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
#include "MsiHelper.h"
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

// What the real services get: over-long values, a path among them that stays below `folder`.
std::vector<CInput> OverLongValues(const std::wstring& folder) {
  constexpr size_t kLength = 40000;
  std::wstring path = folder;
  while (path.size() < kLength) path += L"\\" + std::wstring(200, L'p');
  path.resize(kLength);
  std::wstring address = L"http://127.0.0.1:9/";
  address.resize(kLength, L'u');
  return {{"40000 characters", std::wstring(kLength, L'A')},
          {"a 40000-character path of 200-character folders", path},
          {"a 40000-character address", address}};
}

// CustomActionData of a deferred run; `keys` are the properties the action reads.
std::vector<CInput> HostileActionData(const std::vector<std::wstring>& keys) {
  const std::vector<std::wstring> names = keys.empty() ? std::vector<std::wstring>{L"X"} : keys;
  auto items = [&](const std::wstring& value) {
    std::wstring data;
    for (const std::wstring& name : names) data += (data.empty() ? L"" : L";") + name + L"=" + value;
    return data;
  };
  return {{"empty data", L""},
          {"\"=;=;;\"", L"=;=;;"},
          {"40000 characters", std::wstring(40000, L'D')},
          {"keys with 40000-character values", items(std::wstring(40000, L'V'))},
          {"unpaired quotes", items(L"\"open") + L";Z=\"x"},
          {"a lone surrogate", items(std::wstring(L"x") + wchar_t(0xDC00) + L"y")}};
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

// A file outside every action's folder that sorts first on the drive, so that any call that
// removes what it should not takes it first (sweep-install creates it). Put back once reported.
constexpr wchar_t kCanaryFolder[] = L"C:\\0canary";
constexpr wchar_t kCanary[] = L"C:\\0canary\\keep.txt";
bool CanaryRemoved() {
  if (GetFileAttributesW(kCanary) != INVALID_FILE_ATTRIBUTES) return false;
  CreateDirectoryW(kCanaryFolder, nullptr);
  HANDLE file = CreateFileW(kCanary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return true;
}

// Makes the facade run the actions as in a deferred run, reading CustomActionData.
struct CDeferredRun : Msi::CSessionObserver {
  void PropertyWritten(const Vrn::CUnicodeString&, const Vrn::CUnicodeString&, const Vrn::CUnicodeString&,
                       UINT) override {}
  bool SimulatesScriptMode() const override { return true; }
};

// One call in a fresh session whose properties hold `value` (none: an empty session), or, with
// `actionData`, as in a deferred run with that CustomActionData. Returns the number of faults found
// (a hang or crash ends the process).
int Call(const wchar_t* package, UINT(__stdcall* action)(MSIHANDLE), const std::vector<std::wstring>& properties,
         const std::wstring* value, const std::wstring* actionData = nullptr) {
  Msi::CMsiHandle session;
  if (const UINT opened = MsiOpenPackageExW(package, MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, session.Put())) {
    std::printf("FAILED: %s: cannot open the package (installer error %u)\n", g_action.c_str(), opened);
    return 1;
  }
  if (value)
    for (const std::wstring& name : properties) MsiSetPropertyW(session.Get(), name.c_str(), value->c_str());
  if (actionData) MsiSetPropertyW(session.Get(), L"CustomActionData", actionData->c_str());
  // Costed, so that feature, component and directory states exist (a hostile value may stop costing).
  for (const wchar_t* step : {L"CostInitialize", L"FileCost", L"CostFinalize"})
    if (MsiDoActionW(session.Get(), step) != ERROR_SUCCESS) break;
  const Vrn::CUnicodeString logFile = Msi::CustomActionLog().FileName();
  const size_t logBefore = LogBytes(logFile).size();
  CDeferredRun deferred;
  std::optional<Msi::CSessionObserverScope> deferredScope;
  if (actionData) deferredScope.emplace(deferred);
  g_callStarted = GetTickCount64();
  const UINT result = action(session.Get());
  g_callStarted = 0;
  deferredScope.reset();
  int faults = 0;
  if (result != ERROR_SUCCESS && result != ERROR_INSTALL_USEREXIT && result != ERROR_INSTALL_FAILURE) {
    std::printf("FAILED: %s %s: result %u\n", g_action.c_str(), g_input.c_str(), result);
    ++faults;
  }
  if (CanaryRemoved()) {
    // Two actions run at once: the call beside this one may have removed it (then both report).
    std::printf("FAILED: %s %s: C:\\0canary\\keep.txt, outside every action's folder, was removed\n", g_action.c_str(),
                g_input.c_str());
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

// Every file and folder of the drive with its size, write time and attributes, except the folders
// `except` (the actions' own, and the installer's, where it keeps a copy of each package it opens)
// and the sweep programs' own temporary folders ("OrvTests_..." of the test support, made and
// removed by each process). A folder counts by its attributes only: what changes inside it shows as
// its entries.
using CDriveState = std::map<std::wstring, std::tuple<uint64_t, uint64_t, DWORD>>;
void ReadDriveState(const std::wstring& folder, const std::vector<std::wstring>& except, CDriveState& state) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if (name.starts_with(L"OrvTests_") || std::any_of(except.begin(), except.end(), [&](const std::wstring& skipped) {
          return _wcsicmp(path.c_str(), skipped.c_str()) == 0;
        }))
      continue;
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state[path] = {
        isFolder ? 0 : (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
        isFolder ? 0 : (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime,
        data.dwFileAttributes};
    if (isFolder && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ReadDriveState(path, except, state);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

// The paths that appeared, went or changed between the two states (at most a few, for the report).
std::string Changes(const CDriveState& before, const CDriveState& after) {
  std::string list;
  int shown = 0;
  auto add = [&](const std::wstring& path, const char* what) {
    if (shown++ < 5) list += std::string(list.empty() ? "" : ", ") + Vrn::CUnicodeString(path).ToUtf8() + " " + what;
  };
  for (const auto& [path, entry] : after) {
    const auto found = before.find(path);
    if (found == before.end())
      add(path, "appeared");
    else if (found->second != entry)
      add(path, "changed");
  }
  for (const auto& [path, entry] : before)
    if (!after.count(path)) add(path, "went");
  return list;
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

// The seams whose real side can wait (a sleep, a box, a dialog, a child tool, a reinstall): fakes in
// every phase.
struct CWaitingServicesReplaced {
  TestSupport::CFakeClock clock;
  Vrn::CClockOverride noWaiting{clock};
  CLeavingBoxes boxes;
  Vrn::CUserInterfaceOverride noBoxes{boxes};
  TestSupport::CFakeFolderBrowser folderBrowser;
  Msi::CFolderBrowserOverride noBrowser{folderBrowser};
  TestSupport::CFakeObjectPicker picker;
  Accounts::CServiceOverride<Accounts::CObjectPicker> noPicker{picker};
  TestSupport::CFakeFeatureTool featureTool;
  Msi::CFeatureToolSeam::COverride noFeatureTool{featureTool};
  TestSupport::CFakeIis iis;
  Msi::CIisCommandOverride noIis{iis};
  TestSupport::CFakeReinstall reinstall;
  Msi::CProductReinstallOverride noReinstall{reinstall};
};

// The seams whose real side answers at once under Wine: fakes in the first phase, real in the
// second.
struct CQuickServicesReplaced {
  TestSupport::CScriptedWindows desktop;
  Vrn::CTopLevelWindowsOverride emptyDesktop{desktop};
  TestSupport::CFakeNetworkNames networkNames;
  Msi::CNetworkNamesOverride noNetwork{networkNames};
  TestSupport::CFakeFirewall firewall;
  Msi::CFirewallOverride noFirewall{firewall};
  TestSupport::CFakeAccountServices accounts;
  TestSupport::CFakeShellOpener shell;
  Msi::CShellOpenerOverride noShell{shell};
};

int Sweep(int argc, wchar_t** argv) {
  const bool deferred = argc > 1 && std::wstring(argv[1]) == L"--deferred";
  if (deferred) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: orvsweep [--deferred] PACKAGE ACTION [PROPERTY ...]\n");
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
  const Vrn::CUnicodeString runs = selfPath.Left(selfPath.ReverseFind(L'\\')) + L"\\run";
  const Vrn::CUnicodeString root = runs + L"\\" + actionName + (deferred ? L"-deferred" : L"");
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

  CWaitingServicesReplaced waiting;
  std::optional<CQuickServicesReplaced> quick(std::in_place);
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIW(AnswerInstallerMessage,
                    INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER,
                    nullptr);

  int calls = 0, faults = 0;
  auto label = [&](const char* input) {
    g_input =
        "(" + Vrn::CUnicodeString(argv[3]).ToUtf8() + (properties.size() > 1 ? ", ..." : "") + " = " + input + ")";
  };
  if (deferred) {
    // Deferred calls must change nothing outside the actions' own folders.
    const std::wstring drive = L"C:";
    const std::vector<std::wstring> except = {runs.ToStdString(), L"C:\\windows\\Installer"};
    for (const CInput& input : HostileActionData(properties)) {
      g_input = std::string("(deferred, CustomActionData: ") + input.label + ")";
      CDriveState before, after;
      ReadDriveState(drive, except, before);
      faults += Call(argv[1], action, properties, nullptr, &input.value);
      ++calls;
      ReadDriveState(drive, except, after);
      if (const std::string changes = Changes(before, after); !changes.empty()) {
        std::printf("FAILED: %s %s: changed outside its folder: %s\n", g_action.c_str(), g_input.c_str(),
                    changes.c_str());
        ++faults;
      }
    }
  } else {
    g_input = "(empty session)";
    faults += Call(argv[1], action, properties, nullptr);
    ++calls;
    if (!properties.empty()) {
      for (const CInput& input : HostileValues()) {
        label(input.label);
        faults += Call(argv[1], action, properties, &input.value);
        ++calls;
      }
      quick.reset();
      for (const CInput& input : OverLongValues(work.ToStdString())) {
        label((std::string(input.label) + ", real services").c_str());
        faults += Call(argv[1], action, properties, &input.value);
        ++calls;
      }
    }
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
