// Library start-up and shutdown (counted, nesting), debug flags and stop modes, the typed registry
// settings CSetup<T> / CCacheSetup<T>, and the library's message log "VornikLog.txt".
#pragma once

#include <cstdint>
#include <mutex>

#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Vrn {

enum class LibraryState : int32_t { NotStarted = 0, Starting = 1, Started = 2, StartFailed = 3, Stopped = 4 };

// Counted start: only the first start initialises. True when the library is started. A failed
// start must not be followed by Stop.
bool Start();
// Counted stop: only the last stop of a successful start shuts down.
void Stop();
LibraryState State();
int32_t StartCount();
bool IsStarted();

// Scoped start/stop for code outside the action frame (tests, tools).
class CLibraryScope {
 public:
  CLibraryScope() : m_started(Start()) {}
  ~CLibraryScope() {
    if (m_started) Stop();
  }
  CLibraryScope(const CLibraryScope&) = delete;
  CLibraryScope& operator=(const CLibraryScope&) = delete;
  bool Started() const noexcept { return m_started; }

 private:
  bool m_started;
};

// Whether a failed internal check raises CInternalError (on by default).
bool ThrowingMode();
bool SetThrowingMode(bool on);  // returns the previous mode

namespace DebugFlag {
inline constexpr uint32_t KeepTempFiles = 0x001;
inline constexpr uint32_t SaveUndefinedMessages = 0x002;
inline constexpr uint32_t EnableHeapSwitching = 0x008;
inline constexpr uint32_t ShowHeapMemoryLeaks = 0x010;
inline constexpr uint32_t BreakOnMemoryException = 0x020;
inline constexpr uint32_t Reserved40 = 0x040;
inline constexpr uint32_t UnloadLibraries = 0x080;
inline constexpr uint32_t CheckAllResourceModulesExistance = 0x100;
inline constexpr uint32_t ReportMemoryErrorInMessageBox = 0x200;
inline constexpr uint32_t SaveAllMessages = 0x400;
inline constexpr uint32_t CheckMessagesParamsCount = 0x800;
inline constexpr uint32_t Initial = 0x148;
}  // namespace DebugFlag
uint32_t DebugFlags();
bool HasDebugFlag(uint32_t flag);

enum class StopMode : int { Never = 1, Debug = 2, Always = 3 };
// "AssertStopMode" / "ErrorStopMode", each read once per process.
StopMode AssertStopMode();
StopMode ErrorStopMode();
StopMode ParseStopMode(std::wstring_view text) noexcept;
// Breaks into the debugger as the mode says ("Always" without a debugger does nothing, so the
// process never dies of it).
void ApplyStopMode(StopMode mode);

// Boolean words: "true", "on", "yes", "1" / "false", "off", "no", "0", trimmed, any case.
std::optional<bool> ParseBoolWord(std::wstring_view text) noexcept;

// The key path and root of the core library's own settings.
inline constexpr wchar_t kLibrarySettingsKey[] = L"Software\\Orvant\\Vornik Objects";

// Where a setting lives (kinds 0-3 use the library paths, which are empty here).
enum class SetupLocation : uint32_t {
  LibraryMachine = 0,
  LibraryUser = 1,
  LibraryMachine2 = 2,
  LibraryUser2 = 3,
  Machine = 4,
  User = 5,
  Users = 6,
  ClassesRoot = 7,
  CurrentConfig = 8,
};

class CSetupBase {
 public:
  CSetupBase(SetupLocation location, CUnicodeString keyPath, CUnicodeString valueName, uint32_t view = 0);
  virtual ~CSetupBase() = default;
  SetupLocation Location() const noexcept { return m_location; }
  const CUnicodeString& KeyPath() const noexcept { return m_keyPath; }
  const CUnicodeString& ValueName() const noexcept { return m_valueName; }

 protected:
  // The stored text, or the fallback when the key or value is missing or unreadable.
  CUnicodeString ReadText(const CUnicodeString& fallback) const;
  void WriteText(const CUnicodeString& text) const;

 private:
  SetupLocation m_location;
  CUnicodeString m_keyPath;
  CUnicodeString m_valueName;
  uint32_t m_view;  // 0 and 2: 64-bit view, 1: 32-bit view
};

template <class T>
struct CSetupTraits;  // Parse / Format for bool, int32_t and CUnicodeString

template <class T>
class CSetup : public CSetupBase {
 public:
  CSetup(SetupLocation location, CUnicodeString keyPath, CUnicodeString valueName, T defaultValue, uint32_t view = 0)
      : CSetupBase(location, std::move(keyPath), std::move(valueName), view), m_default(std::move(defaultValue)) {}
  virtual CUnicodeString DefaultAsText() const { return CSetupTraits<T>::Format(m_default); }
  // Reads the registry on every call.
  virtual T Get() const { return Parse(ReadText(DefaultAsText())); }
  virtual void Set(const T& value) { WriteText(CSetupTraits<T>::Format(value)); }
  virtual T Parse(const CUnicodeString& text) const { return CSetupTraits<T>::Parse(text).value_or(m_default); }
  virtual CUnicodeString AsText(const T& value) const { return CSetupTraits<T>::Format(value); }
  const T& Default() const noexcept { return m_default; }

 private:
  T m_default;
};

// The settings lock guards every cached setting.
std::recursive_mutex& SettingsLock();

template <class T>
class CCacheSetup : public CSetup<T> {
 public:
  using CSetup<T>::CSetup;
  // Reads once, then serves the cache.
  T Get() const override {
    std::lock_guard lock(SettingsLock());
    if (!m_cached) {
      m_value = CSetup<T>::Get();
      m_cached = true;
    }
    return m_value;
  }
  void Set(const T& value) override {
    std::lock_guard lock(SettingsLock());
    m_value = value;
    m_cached = true;
    CSetup<T>::Set(value);
  }
  // Forgets the cached value (tests).
  void Invalidate() {
    std::lock_guard lock(SettingsLock());
    m_cached = false;
  }

 private:
  mutable T m_value{};
  mutable bool m_cached = false;
};

template <>
struct CSetupTraits<bool> {
  static std::optional<bool> Parse(const CUnicodeString& text) { return ParseBoolWord(text); }
  static CUnicodeString Format(bool value) { return value ? L"true" : L"false"; }
};
template <>
struct CSetupTraits<int32_t> {
  static std::optional<int32_t> Parse(const CUnicodeString& text) { return StrictInteger<int32_t>(text); }
  static CUnicodeString Format(int32_t value) { return CUnicodeString::FromInt(value); }
};
template <>
struct CSetupTraits<CUnicodeString> {
  static std::optional<CUnicodeString> Parse(const CUnicodeString& text) { return text; }
  static CUnicodeString Format(const CUnicodeString& value) { return value; }
};

// Appends "HH:MM:SS ProcessID:<pid> <text>\r\n" (ANSI code page) to VornikLog.txt beside this
// library's module when "WriteMessageLog" is a true word; failures are ignored.
void WriteMessageLog(const CUnicodeString& text);
// The module that holds the library: recorded at DLL attachment (a second, different handle is an
// internal error); when none was recorded, the main module of the process.
void RecordLibraryModule(HMODULE module);
HMODULE LibraryModule();
// The folder of that module (with a trailing backslash).
CUnicodeString LibraryModuleFolder();

// Modules initialised by the first start and terminated by the last stop, in registration order.
struct CStaticModule {
  const wchar_t* name;
  bool (*initialize)();
  void (*terminate)();
};
void RegisterStaticModule(const CStaticModule* module);

}  // namespace Vrn
