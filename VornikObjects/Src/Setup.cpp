// Library start-up and shutdown, debug flags, stop modes, typed settings and the message log.
#include "Setup.h"

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <vector>

#include "Errors.h"
#include "Files.h"
#include "HiddenValues.h"
#include "MessageHandlers.h"
#include "Messages.h"
#include "RegistryKey.h"

namespace Vrn {

namespace {

std::recursive_mutex g_startLock;
int32_t g_startCount = 0;
LibraryState g_state = LibraryState::NotStarted;
std::atomic<bool> g_throwingMode{true};
std::atomic<uint32_t> g_debugFlags{DebugFlag::Initial};

std::terminate_handler g_savedTerminate = nullptr;
_invalid_parameter_handler g_savedInvalidParameter = nullptr;

std::mutex g_staticModulesLock;
struct StaticModuleEntry {
  const CStaticModule* module;
  bool initialized;
};
std::vector<StaticModuleEntry> g_staticModules;

std::atomic<HMODULE> g_libraryModule{nullptr};

// The library's own handlers: report and end the process with a failure status.
void LibraryTerminate() {
  WriteMessageLog(L"Vornik: Unhandled C++ exception; terminating.");
  ExitProcess(3);
}
void LibraryInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {
  RaiseInternalError();
}

struct DebugFlagSetting {
  uint32_t bit;
  const wchar_t* name;
};
constexpr DebugFlagSetting kDebugFlagSettings[] = {
    {DebugFlag::KeepTempFiles, L"KeepTempFiles"},
    {DebugFlag::SaveUndefinedMessages, L"SaveUndefinedMessages"},
    {DebugFlag::EnableHeapSwitching, L"EnableHeapSwitching"},
    {DebugFlag::ShowHeapMemoryLeaks, L"ShowHeapMemoryLeaks"},
    {DebugFlag::BreakOnMemoryException, L"BreakOnMemoryException"},
    {DebugFlag::UnloadLibraries, L"UnloadLibraries"},
    {DebugFlag::CheckAllResourceModulesExistance, L"CheckAllResourceModulesExistance"},
    {DebugFlag::ReportMemoryErrorInMessageBox, L"ReportMemoryErrorInMessageBox"},
    {DebugFlag::SaveAllMessages, L"SaveAllMessages"},
    {DebugFlag::CheckMessagesParamsCount, L"CheckMessagesParamsCount"},
};

// A text setting of the library's user key; empty when missing.
CUnicodeString ReadUserSetting(const wchar_t* name) {
  return CSetup<CUnicodeString>(SetupLocation::User, kLibrarySettingsKey, name, CUnicodeString()).Get();
}
CUnicodeString ReadMachineSetting(const wchar_t* name) {
  return CSetup<CUnicodeString>(SetupLocation::Machine, kLibrarySettingsKey, name, CUnicodeString()).Get();
}

void ReadDebugFlags() {
  uint32_t flags = DebugFlag::Initial;
  for (const auto& setting : kDebugFlagSettings) {
    const CUnicodeString text = ReadUserSetting(setting.name).Trimmed();
    if (text.IsEmpty()) continue;
    // Only a real boolean word changes the bit; anything else keeps the initial value.
    if (const auto value = ParseBoolWord(text)) flags = *value ? (flags | setting.bit) : (flags & ~setting.bit);
  }
  g_debugFlags = flags;
}

// Initialises the registered modules not yet initialised; false when one fails.
bool InitializeStaticModules() {
  std::vector<StaticModuleEntry*> pending;
  {
    std::lock_guard lock(g_staticModulesLock);
    for (auto& entry : g_staticModules)
      if (!entry.initialized) pending.push_back(&entry);
  }
  bool ok = true;
  for (StaticModuleEntry* entry : pending) {
    wchar_t address[32];
    swprintf(address, 32, L"%p", static_cast<const void*>(entry->module));
    WriteMessageLog(CUnicodeString(L"Vornik: Initializing static module with address ") + address);
    entry->initialized = !entry->module->initialize || entry->module->initialize();
    ok = ok && entry->initialized;
  }
  return ok;
}

void TerminateStaticModules() {
  std::lock_guard lock(g_staticModulesLock);
  for (auto entry = g_staticModules.rbegin(); entry != g_staticModules.rend(); ++entry) {
    if (entry->initialized && entry->module->terminate) entry->module->terminate();
    entry->initialized = false;
  }
}

// Runs one shutdown step; its core-library exceptions are reported so the next steps still run.
template <class Step>
void RunShutdownStep(Step step) {
  try {
    step();
  } catch (CException* raw) {
    CExceptionPtr failure(raw);
    ReportException(*failure);
  }
}

void SaveMessagesFile(const wchar_t* suffix, bool definedOnly) {
  wchar_t exePath[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, exePath, MAX_PATH);
  CUnicodeString base(exePath);
  const size_t slash = base.ReverseFind(L'\\');
  if (slash != CUnicodeString::npos) base = base.Mid(slash + 1);
  const size_t dot = base.ReverseFind(L'.');
  if (dot != CUnicodeString::npos) base = base.Left(dot);
  CUnicodeString text;
  for (const auto& entry : kLibraryMessages) {
    const CUnicodeString value = LookupMessage(entry.name, L"");
    const bool defined = !value.StartsWith(L"Message ");
    if (definedOnly != defined) continue;
    text += CUnicodeString(entry.name) + L"\t" + value + L"\r\n";
  }
  WriteTextFile(TemporaryDirectory() + base + suffix, text, 1200);
}

}  // namespace

// ---- Start and stop ----

bool Start() {
  std::lock_guard lock(g_startLock);
  if (++g_startCount >= 2) {
    if (g_state != LibraryState::Started) return false;
    try {
      return InitializeStaticModules();
    } catch (CException* raw) {
      CExceptionPtr failure(raw);
      ReportException(*failure);
      return false;
    }
  }
  Check(g_state == LibraryState::NotStarted || g_state == LibraryState::Stopped);
  g_state = LibraryState::Starting;

  std::terminate_handler previousTerminate = std::set_terminate(LibraryTerminate);
  if (previousTerminate != LibraryTerminate) g_savedTerminate = previousTerminate;
  _invalid_parameter_handler previousInvalid = _set_invalid_parameter_handler(LibraryInvalidParameter);
  if (previousInvalid != LibraryInvalidParameter) g_savedInvalidParameter = previousInvalid;

  const bool savedThrowing = SetThrowingMode(true);
  try {
    ReadDebugFlags();
    WriteMessageLog(L"Vornik: Debug flags initialized.");
    if (ParseBoolWord(ReadUserSetting(L"SetLocale")).value_or(true)) {
      _wsetlocale(LC_ALL, L"");
      WriteMessageLog(L"Vornik: CRT locale changed.");
    }
    WriteMessageLog(L"Vornik: Application data path initialized.");
    WriteMessageLog(L"Vornik: Registry paths initialized.");
    RegisterMessageModule(LibraryModule());
    WriteMessageLog(L"Vornik: Resource base initialized.");
    const CUnicodeString temp = ReadMachineSetting(L"Temp").Trimmed();
    if (!temp.IsEmpty()) SetTemporaryDirectory(temp);
    g_state = LibraryState::Started;
    if (!InitializeStaticModules()) g_state = LibraryState::StartFailed;
    WriteMessageLog(L"Vornik: All modules initialized.");
  } catch (CException* raw) {
    CExceptionPtr failure(raw);
    ReportException(*failure);
    g_state = LibraryState::StartFailed;
  }
  SetThrowingMode(savedThrowing);
  return g_state == LibraryState::Started;
}

void Stop() {
  std::lock_guard lock(g_startLock);
  if (g_state != LibraryState::Started) return;
  if (--g_startCount >= 1) return;
  g_startCount = 0;

  WriteMessageLog(L"Vornik: Deinitializing...");
  const bool savedThrowing = SetThrowingMode(true);
  if (HasDebugFlag(DebugFlag::SaveAllMessages))
    RunShutdownStep([] {
      SaveMessagesFile(L" all messages.txt", true);
      WriteMessageLog(L"Vornik: All messages saved.");
    });
  if (HasDebugFlag(DebugFlag::SaveUndefinedMessages))
    RunShutdownStep([] {
      SaveMessagesFile(L" undefined messages.txt", false);
      WriteMessageLog(L"Vornik: Undefined messages saved.");
    });
  RunShutdownStep([] {
    TerminateStaticModules();
    WriteMessageLog(L"Vornik: All modules terminated.");
  });
  RunShutdownStep([] {
    ShutdownTemporaryFiles(HasDebugFlag(DebugFlag::KeepTempFiles));
    WriteMessageLog(L"Vornik: Temporary files system terminated.");
  });
  SetThrowingMode(savedThrowing);
  std::set_terminate(g_savedTerminate);
  _set_invalid_parameter_handler(g_savedInvalidParameter);
  g_state = LibraryState::Stopped;
  WriteMessageLog(L"Vornik: Resource base deinitialized.");
  WriteMessageLog(L"Vornik: Deinitialization complete.");
}

LibraryState State() {
  std::lock_guard lock(g_startLock);
  return g_state;
}
int32_t StartCount() {
  std::lock_guard lock(g_startLock);
  return g_startCount;
}
bool IsStarted() { return State() == LibraryState::Started; }

bool ThrowingMode() { return g_throwingMode; }
bool SetThrowingMode(bool on) { return g_throwingMode.exchange(on); }

uint32_t DebugFlags() { return g_debugFlags; }
bool HasDebugFlag(uint32_t flag) { return (g_debugFlags & flag) != 0; }

// ---- Stop modes ----

StopMode ParseStopMode(std::wstring_view text) noexcept {
  const CUnicodeString word = CUnicodeString(text).Trimmed();
  if (word.EqualsNoCaseAscii(L"Always")) return StopMode::Always;
  if (word.EqualsNoCaseAscii(L"Debug")) return StopMode::Debug;
  return StopMode::Never;
}

StopMode AssertStopMode() {
  static const StopMode mode = ParseStopMode(ReadUserSetting(L"AssertStopMode"));
  return mode;
}
StopMode ErrorStopMode() {
  static const StopMode mode = ParseStopMode(ReadUserSetting(L"ErrorStopMode"));
  return mode;
}

void ApplyStopMode(StopMode mode) {
  // Without a debugger a break would end the process, so "Always" only breaks under one too.
  if ((mode == StopMode::Always || mode == StopMode::Debug) && IsDebuggerPresent()) DebugBreak();
}

std::optional<bool> ParseBoolWord(std::wstring_view text) noexcept {
  const CUnicodeString word = CUnicodeString(text).Trimmed();
  for (const wchar_t* yes : {L"true", L"on", L"yes", L"1"})
    if (word.EqualsNoCaseAscii(yes)) return true;
  for (const wchar_t* no : {L"false", L"off", L"no", L"0"})
    if (word.EqualsNoCaseAscii(no)) return false;
  return std::nullopt;
}

// ---- Typed settings ----

std::recursive_mutex& SettingsLock() {
  static std::recursive_mutex lock;
  return lock;
}

CSetupBase::CSetupBase(SetupLocation location, CUnicodeString keyPath, CUnicodeString valueName, uint32_t view)
    : m_location(location), m_keyPath(std::move(keyPath)), m_valueName(std::move(valueName)), m_view(view) {
  Check(static_cast<uint32_t>(location) <= static_cast<uint32_t>(SetupLocation::CurrentConfig));
}

namespace {
HKEY RootOf(SetupLocation location) {
  switch (location) {
    case SetupLocation::LibraryMachine:
    case SetupLocation::LibraryMachine2:
    case SetupLocation::Machine:
      return HKEY_LOCAL_MACHINE;
    case SetupLocation::LibraryUser:
    case SetupLocation::LibraryUser2:
    case SetupLocation::User:
      return HKEY_CURRENT_USER;
    case SetupLocation::Users:
      return HKEY_USERS;
    case SetupLocation::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case SetupLocation::CurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  RaiseInternalError();
}
RegistryView ViewOf(uint32_t view) { return view == 1 ? RegistryView::Thirty2 : RegistryView::Sixty4; }
}  // namespace

CUnicodeString CSetupBase::ReadText(const CUnicodeString& fallback) const {
  // The library paths of kinds 0-3 are empty here, so every kind uses the setting's own path.
  CRegistryKey key;
  if (!key.Open(RootOf(m_location), m_keyPath, RegistryMode::Read, ViewOf(m_view))) return fallback;
  try {
    return key.ReadString(m_valueName, fallback);
  } catch (CException* raw) {
    // A value that cannot be read counts as missing.
    CExceptionPtr ignored(raw);
    return fallback;
  }
}

void CSetupBase::WriteText(const CUnicodeString& text) const {
  CRegistryKey key;
  if (!key.Open(RootOf(m_location), m_keyPath, RegistryMode::Write, ViewOf(m_view)))
    Raise<CCheckException>(L"ERR_CANT_WRITE_TO_REGISTRY", LibraryMessageText(L"ERR_CANT_WRITE_TO_REGISTRY"),
                           std::initializer_list<CUnicodeString>{RegistryRootName(RootOf(m_location)) + L"\\" +
                                                                 m_keyPath + L"\\" + m_valueName});
  key.WriteString(m_valueName, text);
}

// ---- Message log ----

void RecordLibraryModule(HMODULE module) {
  HMODULE expected = nullptr;
  if (!g_libraryModule.compare_exchange_strong(expected, module)) Check(expected == module);
}

HMODULE LibraryModule() {
  HMODULE module = g_libraryModule;
  return module ? module : GetModuleHandleW(nullptr);
}

CUnicodeString LibraryModuleFolder() {
  CUnicodeString path;
  DWORD size = MAX_PATH;
  for (;;) {
    const DWORD length = GetModuleFileNameW(LibraryModule(), path.GetBuffer(size), size);
    if (length < size) {
      path.ReleaseBuffer(length);
      break;
    }
    size *= 2;
  }
  const size_t slash = path.ReverseFind(L'\\');
  return slash == CUnicodeString::npos ? CUnicodeString() : path.Left(slash + 1);
}

void WriteMessageLog(const CUnicodeString& text) {
  try {
    const auto on = ParseBoolWord(ReadMachineSetting(L"WriteMessageLog"));
    if (!on.value_or(false)) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%02u:%02u:%02u ProcessID:%lu ", now.wHour, now.wMinute, now.wSecond,
             GetCurrentProcessId());
    const std::string line = stamp + MaskHiddenValues(text).ToCodePage(CP_ACP) + "\r\n";
    const CUnicodeString path = LibraryModuleFolder() + L"VornikLog.txt";
    CFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (CException* raw) {
    CExceptionPtr ignored(raw);  // the message log never fails its caller
  }
}

void RegisterStaticModule(const CStaticModule* module) {
  std::lock_guard lock(g_staticModulesLock);
  for (const auto& entry : g_staticModules)
    if (entry.module == module) return;
  g_staticModules.push_back({module, false});
}

}  // namespace Vrn
