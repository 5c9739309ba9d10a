// CloseApplications and CloseAppByMutex: find the product's running applications (by window, or by
// the named mutexes of OV_Mutex), ask them to close and ask the user about those still running.
// CreateInstallerMutex, CloseInstallerMutex, WriteFlagForMutex and WriteInstallationCountToRegistry:
// the installer's own mutex, held until "InstallationCount" changes, and the steps that change it.
//
// Every pause goes through the clock seam and every window through the top-level-window seam.
#include <optional>
#include <vector>

#include "ActionFrame.h"
#include "Clock.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "InstallHelper.h"
#include "MsiHelper.h"
#include "Mutex.h"
#include "RegistryKey.h"
#include "TopLevelWindows.h"

namespace {

using Msi::CColumnList;
using Msi::CUnicodeString;
using Msi::CustomActionLog;

constexpr wchar_t kLineBreak[] = L"\n";
constexpr wchar_t kCloseAppValid[] = L"CLOSEAPP_VALID";
constexpr UINT kRetryCancelWarning = MB_RETRYCANCEL | MB_ICONWARNING;  // 53
constexpr UINT kOkWarning = MB_OK | MB_ICONWARNING;                    // 48
// VersionNT of Windows 8, from which the W8 text (an OK box) replaces the question.
constexpr int32_t kWindows8VersionNT = 602;

// The pause that lets a window act on its close message before the next one is sent.
constexpr DWORD kAfterCloseMessageMs = 100;
// How long one application gets to release its mutex: this many checks, 1 ms apart.
constexpr int kReleaseChecks = 1000;
constexpr DWORD kReleaseCheckMs = 1;
// The pause after a pass that sent close messages, before the survivors are listed.
constexpr DWORD kAfterSendsMs = 1000;
// In a silent install the question answers itself (Retry), so the windows are looked for again
// only once a second instead of in a tight loop.
constexpr DWORD kSilentRetryMs = 1000;
// The installer mutex's wait for "InstallationCount" to change: 10000 checks one second apart.
constexpr DWORD kCounterCheckMs = 1000;
constexpr int kMaxCounterChecks = 10000;

// Each line is one append, so that lines of actions running at the same time (the installer mutex
// waits in a thread of its own) never interleave inside a line.
void LogLine(std::wstring_view first, const CUnicodeString& second = {}) {
  CustomActionLog() << CUnicodeString(first) + second + L"\r\n";
}
using Msi::LogActionName;

// ---- CloseApplications ----

// One item of AppsToCloseByClass / AppsToCloseByName: what to look for and the name shown.
struct CWindowItem {
  CUnicodeString key;
  CUnicodeString shownName;
};

// Items separated by ";", each "key|shown name"; an item without "|" is all key, with an empty name.
std::vector<CWindowItem> ParseWindowItems(const CUnicodeString& list) {
  std::vector<CWindowItem> items;
  size_t start = 0;
  while (start <= list.Length()) {
    size_t end = list.Find(L';', start);
    if (end == CUnicodeString::npos) end = list.Length();
    const CUnicodeString item = list.Mid(start, end - start);
    const size_t bar = item.Find(L'|');
    if (bar == CUnicodeString::npos)
      items.push_back({item, {}});
    else
      items.push_back({item.Left(bar), item.Mid(bar + 1)});
    start = end + 1;
  }
  return items;
}

// The shown names of the items whose window exists, each after a line break. An item with an empty
// key is skipped: an empty title would match any untitled window.
void AppendOpenWindows(const CUnicodeString& list, bool byClass, CUnicodeString& running) {
  for (const CWindowItem& item : ParseWindowItems(list)) {
    if (item.key.IsEmpty()) continue;
    const HWND window = byClass ? Vrn::TopLevelWindows().FindTopWindow(item.key.c_str(), nullptr)
                                : Vrn::TopLevelWindows().FindTopWindow(nullptr, item.key.c_str());
    if (window) running += kLineBreak + item.shownName;
  }
}

UINT CloseApplicationsBody(MSIHANDLE session) {
  LogActionName(L"CloseApplications");
  if (Msi::GetProperty(session, L"AppsToCloseByClass").IsEmpty() &&
      Msi::GetProperty(session, L"AppsToCloseByName").IsEmpty())
    return ERROR_SUCCESS;
  for (;;) {
    CUnicodeString running;
    AppendOpenWindows(Msi::GetProperty(session, L"AppsToCloseByClass"), true, running);
    AppendOpenWindows(Msi::GetProperty(session, L"AppsToCloseByName"), false, running);
    if (running.IsEmpty()) return ERROR_SUCCESS;
    const Msi::CMessageContext context(session);
    if (Msi::ShowPropertyMessage(context, L"MT_CloseApplications", running, MB_RETRYCANCEL) == IDCANCEL)
      return ERROR_INSTALL_USEREXIT;
    if (Msi::IsSilentInstall(session)) Vrn::Clock().Pause(kSilentRetryMs);
  }
}

// ---- CloseAppByMutex ----

enum class MutexColumn : UINT { Name = 1, AppName = 2, ClassName = 3, Msg = 4 };
constexpr Msi::CTableQuery<MutexColumn> kMutexQuery{L"SELECT Name, AppName, ClassName, Msg FROM OV_Mutex"};

// The rows of OV_Mutex as parallel lists, in fetch order.
struct CMutexRows {
  CColumnList names, appNames, classNames, messages;
  size_t Count() const noexcept { return names.size(); }
  // Global rows name a mutex starting with "G", local ones with "L"; other rows are never used.
  bool IsKind(size_t row, bool global) const { return names[row].StartsWith(global ? L"G" : L"L"); }
};

CMutexRows ReadMutexRows(MSIHANDLE session) {
  CMutexRows rows;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    Msi::ReadTableColumns(database, kMutexQuery,
                          {{MutexColumn::Name, rows.names},
                           {MutexColumn::AppName, rows.appNames},
                           {MutexColumn::ClassName, rows.classNames},
                           {MutexColumn::Msg, rows.messages}});
  });
  return rows;
}

// Asks the application's main window to close: "WM_CLOSE" is the window message, any other text
// names a registered message. A missing window is only logged.
void CloseAppWindow(const CUnicodeString& shownName, const CUnicodeString& className, const CUnicodeString& message) {
  LogLine(L"closeApp = ", shownName);
  Vrn::CTopLevelWindows& windows = Vrn::TopLevelWindows();
  // An empty class names no window class (and must not become "any window").
  const HWND window = className.IsEmpty() ? nullptr : windows.FindTopWindow(className.c_str(), nullptr);
  if (!window) {
    LogLine(L"closeApp NOT FOUND ClassName=", className);
    return;
  }
  LogLine(L"closeApp Send Message ", shownName);
  const UINT id = message == L"WM_CLOSE" ? WM_CLOSE : windows.RegisteredMessageId(message.c_str());
  LogLine(L"closeApp Send Message=", message);
  windows.SendToWindow(window, id);
  Vrn::Clock().Pause(kAfterCloseMessageMs);
}

// The shown names of the rows of one kind whose mutex exists, each after a line break. A name that
// the list already contains anywhere (a plain substring test, so "Editor" hides "Editor Pro" listed
// after it) is not added again.
CUnicodeString BuildRunningAppList(const CMutexRows& rows, bool global) {
  CUnicodeString list;
  for (size_t row = 0; row < rows.Count(); ++row) {
    if (!rows.IsKind(row, global) || !Msi::MutexExists(rows.names[row])) continue;
    if (list.Find(rows.appNames[row].View()) != CUnicodeString::npos) continue;
    LogLine(L"MutexIsExist FOR=", rows.names[row]);
    list += kLineBreak + rows.appNames[row];
  }
  return list;
}

// Sends the close message to every running local application that has one, in table order, and
// gives each up to a second to release its mutex. Unless `noOrder`, an application still running
// then ends the pass. True when any message was sent.
bool AskLocalAppsToClose(const CMutexRows& rows, bool noOrder) {
  bool sentAny = false;
  for (size_t row = 0; row < rows.Count(); ++row) {
    if (!rows.IsKind(row, false) || rows.messages[row].IsEmpty() || !Msi::MutexExists(rows.names[row])) continue;
    CloseAppWindow(rows.appNames[row], rows.classNames[row], rows.messages[row]);
    sentAny = true;
    int sleeps = 0;
    while (sleeps < kReleaseChecks && Msi::MutexExists(rows.names[row])) {
      Vrn::Clock().Pause(kReleaseCheckMs);
      ++sleeps;
    }
    LogLine(L"Close App index=", CUnicodeString::FromInt(sleeps));
    if (!noOrder && Msi::MutexExists(rows.names[row])) {
      LogLine(L"App not closed yet ", rows.classNames[row]);
      break;
    }
  }
  return sentAny;
}

UINT CloseAppByMutexBody(MSIHANDLE session) {
  LogActionName(L"CloseAppByMutex");
  ::AllowSetForegroundWindow(ASFW_ANY);
  const bool noOrder = Msi::GetBoolProperty(session, L"CLOSE_APP_BY_MUTEX_NOORDER");
  const bool abortSilent = Msi::GetBoolProperty(session, L"ABORT_CLOSEAPP_FOR_MUTEX_SULENT");
  const CMutexRows rows = ReadMutexRows(session);
  const bool silent = Msi::IsSilentInstall(session);
  std::optional<Msi::CMessageContext> context;
  auto messages = [&]() -> const Msi::CMessageContext& {
    if (!context) context.emplace(session);
    return *context;
  };
  auto cancelled = [&] {
    Msi::SetProperty(session, kCloseAppValid, L"");
    return ERROR_INSTALL_USEREXIT;
  };

  bool shownW8 = false, localDone = false, globalDone = false;
  do {
    if (AskLocalAppsToClose(rows, noOrder)) Vrn::Clock().Pause(kAfterSendsMs);
    const CUnicodeString localList = BuildRunningAppList(rows, false);
    if (silent) {
      // One pass only: nobody can be asked.
      if (!localList.IsEmpty() && abortSilent) {
        Msi::SetProperty(session, kCloseAppValid, L"");
        return ERROR_INSTALL_FAILURE;
      }
      break;
    }
    if (localList.IsEmpty()) {
      localDone = true;
      const CUnicodeString globalList = BuildRunningAppList(rows, true);
      if (globalList.IsEmpty())
        globalDone = true;
      else if (Msi::ShowPropertyMessage(messages(), L"MT_CloseAppByGlobalMutex", globalList, kRetryCancelWarning) ==
               IDCANCEL)
        return cancelled();
      continue;
    }
    const std::optional<int32_t> version = Vrn::StrictInteger<int32_t>(Msi::GetProperty(session, L"VersionNT"));
    Vrn::Check(version.has_value());
    const CUnicodeString w8Text = Msi::GetPropertySilent(session, L"MT_CloseApplicationsW8");
    if (*version < kWindows8VersionNT || w8Text.IsEmpty()) {
      if (Msi::ShowPropertyMessage(messages(), L"MT_CloseApplications", localList, kRetryCancelWarning) == IDCANCEL)
        return cancelled();
    } else {
      Msi::ShowPropertyMessageWithParams(messages(), false, L"MT_CloseApplicationsW8", {localList}, kOkWarning);
      shownW8 = true;
      localDone = true;
    }
  } while (!(localDone && globalDone));
  Msi::SetProperty(session, kCloseAppValid, shownW8 ? L"" : L"Yes");
  return ERROR_SUCCESS;
}

// ---- The installer mutex and the installation counter ----

// "InstallationCount" as a number, or nothing when the key or value is missing or not a clean number.
std::optional<int32_t> ReadInstallationCount() {
  Vrn::CRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, Msi::kMutexCounterKey, Vrn::RegistryMode::Read, Vrn::RegistryView::Sixty4))
    return std::nullopt;
  return Vrn::StrictInteger<int32_t>(key.ReadString(L"InstallationCount"));
}

UINT CloseInstallerMutexBody(MSIHANDLE) {
  LogActionName(L"CloseInstallerMutex");
  Msi::ReleaseInstallerMutex();
  return ERROR_SUCCESS;
}

// Holds the mutex until the counter moves away from the value it has after this action's own
// increment (or stops being a number), at most kMaxCounterChecks seconds.
UINT CreateInstallerMutexBody(MSIHANDLE session) {
  if (!Msi::IncrementInstallationCounter()) return ERROR_SUCCESS;
  const CUnicodeString libraryPath = Msi::LibraryFilePath();
  Vrn::Check(!libraryPath.IsEmpty());
  LogActionName(L"CreateInstallerMutex");
  const CUnicodeString name = Msi::GetProperty(session, L"OV_InstallerGlobalMutexName");
  Vrn::Check(!name.IsEmpty());
  Msi::AcquireInstallerMutex(name);
  // From here on the mutex is ours: whatever happens, it is not left behind.
  try {
    Msi::PinLibrary(libraryPath);
    const std::optional<int32_t> start = ReadInstallationCount();
    int checks = 0;
    for (;;) {
      const std::optional<int32_t> current = ReadInstallationCount();
      if (!current) break;
      Vrn::Clock().Pause(kCounterCheckMs);
      if (current != start || ++checks == kMaxCounterChecks) break;
    }
    LogLine(L"CreateInstallerMutex j=", CUnicodeString::FromInt(checks));
  } catch (...) {
    Msi::ReleaseInstallerMutex();
    throw;
  }
  return CloseInstallerMutexBody(session);
}

UINT WriteFlagForMutexBody(MSIHANDLE session) {
  LogActionName(L"WriteFlagForMutex");
  if (Msi::IncrementInstallationCounter() && !::MsiGetMode(session, MSIRUNMODE_SCHEDULED))
    Msi::SetProperty(session, L"MUTEX_COUNTER_VALID", L"Yes");
  return ERROR_SUCCESS;
}

UINT WriteInstallationCountToRegistryBody(MSIHANDLE) {
  LogActionName(L"WriteInstallationCountToRegistry");
  Msi::IncrementInstallationCounter();
  return ERROR_SUCCESS;
}

// A 1603 of the closing actions counts as a failure like one that escaped the frame.
UINT CountedCloseApplications(MSIHANDLE session) { return Msi::CountFailure(CloseApplicationsBody(session)); }
UINT CountedCloseAppByMutex(MSIHANDLE session) { return Msi::CountFailure(CloseAppByMutexBody(session)); }

}  // namespace

ORV_ACTION(CloseApplications, CountedCloseApplications, .reads = L"AppsToCloseByClass AppsToCloseByName",
           .shows = L"MT_CloseApplications")
ORV_ACTION(CloseAppByMutex, CountedCloseAppByMutex,
           .reads = L"CLOSE_APP_BY_MUTEX_NOORDER ABORT_CLOSEAPP_FOR_MUTEX_SULENT VersionNT MT_CloseApplicationsW8",
           .shows = L"MT_CloseApplications MT_CloseAppByGlobalMutex", .tables = L"OV_Mutex")
ORV_ACTION(CreateInstallerMutex, CreateInstallerMutexBody, .reads = L"OV_InstallerGlobalMutexName")
ORV_ACTION(CloseInstallerMutex, CloseInstallerMutexBody)
ORV_ACTION(WriteFlagForMutex, WriteFlagForMutexBody)
ORV_ACTION(WriteInstallationCountToRegistry, WriteInstallationCountToRegistryBody)
