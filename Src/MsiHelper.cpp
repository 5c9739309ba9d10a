// The installer session facade: every property, path, feature, component and message operation the
// actions use, with the custom-action log lines and the failure policy of each.
#include "MsiHelper.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string_view>
#include <vector>

#include "CustomActionLog.h"
#include "Errors.h"
#include "HiddenValues.h"
#include "MsiHandle.h"
#include "TextLimits.h"

namespace Msi {

namespace {

constexpr wchar_t kCustomActionData[] = L"CustomActionData";
constexpr wchar_t kHiddenPropertiesName[] = L"MsiHiddenProperties";
// MsiGetPropertyW is first asked with this much room; longer values take a second call.
constexpr DWORD kPropertyFirstTry = 256;
// Target and source paths are read in one call with this much room.
constexpr DWORD kPathRoom = 1024;

// Notes where a value the facade read came from, so that a refusal of a text built from it names
// the property (TextLimits.h).
const CUnicodeString& Noted(const CUnicodeString& what, const CUnicodeString& name, const CUnicodeString& value) {
  Vrn::NoteValueSource(what + name, value);
  return value;
}

// The session handle as it appears in the log lines of installer calls: "0x%08x".
CUnicodeString HandleText(MSIHANDLE session) {
  wchar_t text[16];
  std::swprintf(text, std::size(text), L"0x%08x", static_cast<unsigned>(session));
  return text;
}

// The log block of one installer call: the call line, an error line when it failed, and the
// installer's answer followed by the details of the result.
void LogInstallerCall(const CUnicodeString& call, UINT answer, bool failed, const CUnicodeString& details) {
  CustomActionLog() << call + L" ) \r\n" + (failed ? L"  ERROR:\r\n" : L"") + L"  ret=" +
                           CUnicodeString::FromUInt(answer) + details + L"\r\n\r\n";
}

// Reads a text that an installer function writes into a caller's buffer of `room` characters
// (terminator included); `read` is called with the buffer and the room and returns the answer.
template <class Read>
UINT ReadInstallerText(DWORD room, CUnicodeString& text, Read read) {
  DWORD size = room;
  const UINT answer = read(text.GetBuffer(room), &size);
  text.ReleaseBuffer(answer == ERROR_SUCCESS ? CUnicodeString::npos : 0);
  return answer;
}

// A target or source path, read in one call; returns the installer's answer.
UINT ReadPath(UINT(WINAPI* read)(MSIHANDLE, LPCWSTR, LPWSTR, LPDWORD), MSIHANDLE session, const CUnicodeString& folder,
              CUnicodeString& path) {
  Vrn::Check(session != 0);
  return ReadInstallerText(kPathRoom, path,
                           [&](wchar_t* buffer, DWORD* size) { return read(session, folder.c_str(), buffer, size); });
}

CSessionObserver* g_sessionObserver = nullptr;

// Every property write of the facade goes through here, so an installed observer sees them all.
UINT WriteProperty(MSIHANDLE session, const CUnicodeString& name, const CUnicodeString& value) {
  Vrn::Check(session != 0);
  if (!g_sessionObserver) return MsiSetPropertyW(session, name.c_str(), value.c_str());
  CUnicodeString previous;
  try {
    previous = ReadPropertyRaw(session, name);
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr error(raw);  // an unreadable old value is reported as empty
  }
  const UINT answer = MsiSetPropertyW(session, name.c_str(), value.c_str());
  g_sessionObserver->PropertyWritten(name, previous, value, answer);
  return answer;
}

CUnicodeString CustomActionDataValue(MSIHANDLE session, const CUnicodeString& key, bool required) {
  Vrn::Check(IsScriptMode(session));
  std::optional<CUnicodeString> value = ParseCustomActionData(ReadPropertyRaw(session, kCustomActionData), key);
  Vrn::Check(value.has_value() || !required);
  return value.value_or(CUnicodeString());
}

// Whether the ";" at `separator` ends an "&amp;" or "&nbsp;" entity that begins at or after `from`.
bool EndsEntity(std::wstring_view text, size_t from, size_t separator) {
  const size_t amp = text.find(L"&amp;", from);
  const size_t nbsp = text.find(L"&nbsp;", from);
  return (amp != std::wstring_view::npos && amp + 4 == separator) ||
         (nbsp != std::wstring_view::npos && nbsp + 5 == separator);
}

// Splits CustomActionData into its items: ";" separates them, except the ";" that ends an entity
// and a ";" between two double quotes. An empty piece is an internal error.
std::vector<std::wstring_view> SplitCustomActionData(std::wstring_view text) {
  std::vector<std::wstring_view> items;
  size_t search = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = std::wstring_view::npos;
    while (end == std::wstring_view::npos) {
      const size_t separator = std::min(text.find(L';', search), text.size());
      if (separator < text.size() && EndsEntity(text, search, separator)) {
        search = separator + 1;
        if (search >= text.size()) {
          // Data ending with an entity: the rest is the last item.
          items.push_back(text.substr(start));
          return items;
        }
        continue;
      }
      end = separator;
      const size_t open = text.find(L'"', search);
      const size_t close = open == std::wstring_view::npos ? open : text.find(L'"', open + 1);
      if (close != std::wstring_view::npos && open < separator && separator < close)
        end = std::min(text.find(L';', close + 1), text.size());
    }
    // Two separators in a row leave an empty item. (After an entity the search has moved on while
    // the item still starts earlier, so the item, not the search, must be empty.)
    Vrn::Check(end != start);
    items.push_back(text.substr(start, end - start));
    start = search = end + 1;
  }
  return items;
}

// The session's hidden properties as one facade operation sees them: the names listed in
// "MsiHiddenProperties" (in a deferred run, in the CustomActionData item of that name, which the
// package passes on). Looking them up registers their values as hidden values, so that the log
// masks them wherever they appear, also inside other texts such as command lines built from them.
class CHiddenProperties {
 public:
  explicit CHiddenProperties(MSIHANDLE session) {
    if (!session) return;
    try {
      const bool script = IsScriptMode(session);
      const CUnicodeString data = script ? ReadPropertyRaw(session, kCustomActionData) : CUnicodeString();
      auto read = [&](const CUnicodeString& name) {
        return script ? ParseCustomActionData(data, name).value_or(CUnicodeString()) : ReadPropertyRaw(session, name);
      };
      const CUnicodeString list = read(kHiddenPropertiesName);
      for (size_t start = 0; start < list.Length();) {
        const size_t end = std::min(list.Find(L';', start), list.Length());
        const CUnicodeString name = list.Mid(start, end - start).Trimmed();
        if (!name.IsEmpty()) m_names.push_back(name);
        start = end + 1;
      }
      for (const CUnicodeString& name : m_names) Vrn::HideValue(read(name));
    } catch (Vrn::CException* raw) {
      Vrn::CExceptionPtr ignored(raw);  // unreadable data hides nothing more; the operation reports it itself
    }
  }
  // The value as the log shows it: the mask for a hidden property (after registering the value).
  CUnicodeString Shown(const CUnicodeString& name, const CUnicodeString& value) const {
    if (std::find(m_names.begin(), m_names.end(), name) == m_names.end()) return value;
    Vrn::HideValue(value);
    return Vrn::kHiddenValueMask;
  }

 private:
  std::vector<CUnicodeString> m_names;
};

// The component-state test shared by the three predicates: both states preset to unknown; a
// failed query or a core-library exception gives false.
bool TestComponentState(MSIHANDLE session, const CUnicodeString& component,
                        bool (*decide)(INSTALLSTATE installed, INSTALLSTATE action)) {
  try {
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
    if (MsiGetComponentStateW(session, component.c_str(), &installed, &action) != ERROR_SUCCESS) return false;
    CustomActionLog() << component + L" - " + CUnicodeString::FromInt(action) + L"\r\n";
    return decide(installed, action);
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr ignored(raw);
    return false;
  }
}

// A new record of `fields` fields for a message to the installer.
CMsiHandle NewRecord(UINT fields) {
  CMsiHandle record(MsiCreateRecord(fields));
  Vrn::Check(record.IsValid());
  return record;
}

void SetField(const CMsiHandle& record, UINT field, int value) {
  Vrn::Check(MsiRecordSetInteger(record.Get(), field, value) == ERROR_SUCCESS);
}

int SendMessageRecord(MSIHANDLE session, INSTALLMESSAGE type, const CMsiHandle& record) {
  Vrn::Check(session != 0);
  return MsiProcessMessage(session, type, record.Get());
}

}  // namespace

// ---- Properties ----

CUnicodeString ReadPropertyRaw(MSIHANDLE session, const CUnicodeString& name) {
  Vrn::Check(session != 0);
  CUnicodeString value;
  DWORD needed = 0;
  auto read = [&](wchar_t* buffer, DWORD* size) {
    const UINT answer = MsiGetPropertyW(session, name.c_str(), buffer, size);
    needed = *size;
    return answer;
  };
  UINT answer = ReadInstallerText(kPropertyFirstTry, value, read);
  if (answer == ERROR_MORE_DATA) answer = ReadInstallerText(needed + 1, value, read);
  Vrn::Check(answer == ERROR_SUCCESS);
  return value;
}

CUnicodeString GetProperty(MSIHANDLE session, const CUnicodeString& name) {
  const CHiddenProperties hidden(session);
  const bool script = IsScriptMode(session);
  CUnicodeString value;
  try {
    value = script ? GetCustomActionDataValue(session, name) : ReadPropertyRaw(session, name);
  } catch (Vrn::CException*) {
    CustomActionLog() << L"Property( " + name;  // the line as far as it got, before the failure's report
    throw;
  }
  // Each line is one piece, so that lines of calls on other threads never split it.
  CustomActionLog() << L"Property( " + name + L" ) : " + hidden.Shown(name, value) + L"\r\n";
  if (script) return Noted(L"the property ", name, value);
  // Values typed into dialogs often carry blanks; the trimmed value is what the package keeps.
  const CUnicodeString trimmed = value.Trimmed();
  if (trimmed != value) SetProperty(session, name, trimmed);
  return Noted(L"the property ", name, trimmed);
}

CUnicodeString GetPropertySilent(MSIHANDLE session, const CUnicodeString& name) {
  const CHiddenProperties hidden(session);
  CCustomActionLog& log = CustomActionLog();
  log << L"GetPropertySilent : " + name + L"\r\n";
  try {
    return Noted(L"the property ", name,
                 IsScriptMode(session) ? FindCustomActionDataValue(session, name) : ReadPropertyRaw(session, name));
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr error(raw);
    log << L"GetPropertySilent ERROR:" + error->MessageText() + L"\r\n\r\n";
    return {};
  }
}

bool GetBoolProperty(MSIHANDLE session, const CUnicodeString& name) {
  CustomActionLog() << L"GetBoolProperty : " + name + L"\r\n";
  const CUnicodeString value = GetPropertySilent(session, name);
  return !value.IsEmpty() && !value.EqualsNoCaseAscii(L"No") && value != L"0";
}

void SetProperty(MSIHANDLE session, const CUnicodeString& name, const CUnicodeString& value) {
  const CHiddenProperties hidden(session);
  CCustomActionLog& log = CustomActionLog();
  log << L"Set " + name + L" = " + hidden.Shown(name, value) + L"\r\n";
  const UINT answer = WriteProperty(session, name, value);
  if (answer != ERROR_SUCCESS) {
    log << L"  ERROR:" + CUnicodeString::FromUInt(answer) + L"\r\n";
    Vrn::Check(false);
  }
}

void SetPropertySilent(MSIHANDLE session, const CUnicodeString& name, const CUnicodeString& value) {
  const CHiddenProperties hidden(session);
  CCustomActionLog& log = CustomActionLog();
  if (IsScriptMode(session)) {
    log << L"SetPropertySilent in script mode " + name + L" = " + hidden.Shown(name, value) + L"\r\n";
    return;
  }
  log << L"Set " + name + L" = " + hidden.Shown(name, value) + L"\r\n";
  SetPropertyNoLog(session, name, value);
}

void SetPropertyNoLog(MSIHANDLE session, const CUnicodeString& name, const CUnicodeString& value) {
  const UINT answer = WriteProperty(session, name, value);
  if (answer != ERROR_SUCCESS) CustomActionLog() << L"  ERROR: " + CUnicodeString::FromUInt(answer) + L"\r\n";
}

bool IsScriptMode(MSIHANDLE session) {
  if (g_sessionObserver && g_sessionObserver->SimulatesScriptMode()) return true;
  for (MSIRUNMODE mode : {MSIRUNMODE_SCHEDULED, MSIRUNMODE_ROLLBACK, MSIRUNMODE_COMMIT})
    if (MsiGetMode(session, mode)) return true;
  return false;
}

CUnicodeString GetCustomActionDataValue(MSIHANDLE session, const CUnicodeString& key) {
  return CustomActionDataValue(session, key, true);
}

CUnicodeString FindCustomActionDataValue(MSIHANDLE session, const CUnicodeString& key) {
  return CustomActionDataValue(session, key, false);
}

std::vector<CCustomActionDataItem> CustomActionDataItems(const CUnicodeString& data) {
  std::vector<CCustomActionDataItem> items;
  for (std::wstring_view item : SplitCustomActionData(data.View())) {
    const size_t equals = item.find(L'=');
    Vrn::Check(equals != std::wstring_view::npos);
    std::wstring_view value = item.substr(equals + 1);
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') value = value.substr(1, value.size() - 2);
    items.push_back({CUnicodeString(item.substr(0, equals)), CUnicodeString(value)});
  }
  return items;
}

std::optional<CUnicodeString> ParseCustomActionData(const CUnicodeString& data, const CUnicodeString& key) {
  std::optional<CUnicodeString> found;
  for (const CCustomActionDataItem& item : CustomActionDataItems(data))
    if (item.key.EqualsNoCase(key)) found = item.value;
  return found;
}

void FlushText(MSIHANDLE session, CUnicodeString& text) {
  Vrn::Check(session != 0);
  CustomActionLog() << L"FlushText " + text + L"\r\n\r\n";
  for (int replaced = 0; replaced < kFlushTextMaxReplacements; ++replaced) {
    const size_t open = text.Find(L'[');
    const size_t close = text.Find(L']');
    if (open == CUnicodeString::npos || close == CUnicodeString::npos || close < open) return;
    CUnicodeString value = GetProperty(session, text.Mid(open + 1, close - open - 1));
    if (value.IsEmpty()) value = L"##";
    // Start again from the beginning: a value may itself hold references.
    text = text.Left(open) + value + text.Mid(close + 1);
  }
}

uint16_t GetProductLanguage(MSIHANDLE session) {
  const std::optional<int32_t> language = Vrn::StrictInteger<int32_t>(GetProperty(session, L"ProductLanguage"));
  return static_cast<uint16_t>(language.value_or(0) & 0xFFFF);
}

// ---- Paths, features, components, products ----

CUnicodeString GetTargetPath(MSIHANDLE session, const CUnicodeString& folder) {
  CUnicodeString path;
  const UINT answer = ReadPath(MsiGetTargetPathW, session, folder, path);
  LogInstallerCall(L"MsiGetTargetPath( " + HandleText(session) + L", " + folder, answer, answer != ERROR_SUCCESS,
                   L"  path='" + path + L"' ");
  return Noted(L"the target path of ", folder, path);
}

void SetTargetPath(MSIHANDLE session, const CUnicodeString& folder, const CUnicodeString& path) {
  Vrn::Check(session != 0);
  const UINT answer = MsiSetTargetPathW(session, folder.c_str(), path.c_str());
  CustomActionLog() << L"SetTargetPath ret=" + CUnicodeString::FromUInt(answer) + L"\r\n\r\n";
  Vrn::Check(answer == ERROR_SUCCESS);
}

CUnicodeString GetSourcePath(MSIHANDLE session, const CUnicodeString& folder) {
  CUnicodeString path;
  const UINT answer = ReadPath(MsiGetSourcePathW, session, folder, path);
  Vrn::Check(answer == ERROR_SUCCESS);
  return Noted(L"the source path of ", folder, path);
}

CFeatureState QueryFeatureState(MSIHANDLE session, const CUnicodeString& feature) {
  Vrn::Check(session != 0);
  CFeatureState state;
  const UINT answer = MsiGetFeatureStateW(session, feature.c_str(), &state.installed, &state.action);
  if (answer != ERROR_SUCCESS) state = CFeatureState();
  LogInstallerCall(L"MsiGetFeatureState( " + HandleText(session) + L", " + feature, answer, answer != ERROR_SUCCESS,
                   L"  piInstalled='" + InstallStateName(state.installed) + L"'  piAction='" +
                       InstallStateName(state.action) + L"' ");
  Vrn::Check(answer == ERROR_SUCCESS);
  return state;
}

void ChangeFeatureState(MSIHANDLE session, const CUnicodeString& feature, INSTALLSTATE state) {
  Vrn::Check(session != 0);
  const UINT answer = MsiSetFeatureStateW(session, feature.c_str(), state);
  LogInstallerCall(L"MsiSetFeatureState( " + HandleText(session) + L", " + feature + L", " + InstallStateName(state),
                   answer, answer != ERROR_SUCCESS, {});
  Vrn::Check(answer == ERROR_SUCCESS);
}

bool ComponentWillBeInstalled(MSIHANDLE session, const CUnicodeString& component) {
  return TestComponentState(session, component,
                            [](INSTALLSTATE, INSTALLSTATE action) { return action >= INSTALLSTATE_LOCAL; });
}

bool ComponentWillBeRemoved(MSIHANDLE session, const CUnicodeString& component) {
  return TestComponentState(session, component,
                            [](INSTALLSTATE, INSTALLSTATE action) { return action == INSTALLSTATE_ABSENT; });
}

bool ComponentWillBeLocal(MSIHANDLE session, const CUnicodeString& component) {
  return TestComponentState(session, component, [](INSTALLSTATE installed, INSTALLSTATE action) {
    return action == INSTALLSTATE_LOCAL || (installed == INSTALLSTATE_LOCAL && action != INSTALLSTATE_ABSENT);
  });
}

CUnicodeString GetProductVersionString(const CUnicodeString& productCode) {
  CUnicodeString value;
  DWORD length = 0;
  UINT answer = MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_VERSIONSTRING, nullptr, &length);
  if (answer == ERROR_SUCCESS || answer == ERROR_MORE_DATA) {
    answer = ReadInstallerText(length + 1, value, [&](wchar_t* buffer, DWORD* size) {
      return MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_VERSIONSTRING, buffer, size);
    });
  }
  // A product that is not installed is an ordinary answer, not a failure.
  const bool failed = answer != ERROR_SUCCESS && answer != ERROR_UNKNOWN_PRODUCT;
  LogInstallerCall(L"MsiGetProductInfo( " + productCode + L", " + INSTALLPROPERTY_VERSIONSTRING, answer, failed,
                   L"  value='" + value + L"' ");
  Vrn::Check(!failed);
  return value;
}

CUnicodeString InstallStateName(int state) {
  static constexpr const wchar_t* kNames[] = {
      L"INSTALLSTATE_BADCONFIG",  L"INSTALLSTATE_INCOMPLETE", L"INSTALLSTATE_SOURCEABSENT", L"INSTALLSTATE_MOREDATA",
      L"INSTALLSTATE_INVALIDARG", L"INSTALLSTATE_UNKNOWN",    L"INSTALLSTATE_BROKEN",       L"INSTALLSTATE_ADVERTISED",
      L"INSTALLSTATE_ABSENT",     L"INSTALLSTATE_LOCAL",      L"INSTALLSTATE_SOURCE",       L"INSTALLSTATE_DEFAULT",
  };
  constexpr int kFirst = -6;
  if (state >= kFirst && state < kFirst + static_cast<int>(std::size(kNames))) return kNames[state - kFirst];
  wchar_t text[32];
  std::swprintf(text, std::size(text), L"unknown (%d)", state);
  return text;
}

CUnicodeString DialogResultName(int result) {
  static constexpr const wchar_t* kNames[] = {L"IDOK",  L"IDCANCEL", L"IDABORT", L"IDRETRY", L"IDIGNORE",
                                              L"IDYES", L"IDNO",     L"IDCLOSE", L"IDHELP"};
  if (result >= 1 && result <= static_cast<int>(std::size(kNames))) return kNames[result - 1];
  return L"(Unknown)";
}

// ---- Installer messages ----

void ShowInstallerError(MSIHANDLE session, const CUnicodeString& text) {
  CMsiHandle record = NewRecord(2);
  // The installer logs what it is sent: hidden values are masked here as in the custom-action log.
  Vrn::Check(MsiRecordSetStringW(record.Get(), 0, Vrn::MaskHiddenValues(text).c_str()) == ERROR_SUCCESS);
  SetField(record, 1, 0);
  SendMessageRecord(session, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_ICONERROR), record);
}

void SetCancelButton(MSIHANDLE session, bool enabled) {
  // Field 1 = 2 selects the Cancel button among the common-data messages; field 0 stays empty.
  CMsiHandle record = NewRecord(3);
  SetField(record, 1, 2);
  SetField(record, 2, enabled ? 1 : 0);
  SendMessageRecord(session, INSTALLMESSAGE_COMMONDATA, record);
}

int SendProgress(MSIHANDLE session, int field1, int field2, int field3, int field4) {
  CMsiHandle record = NewRecord(4);
  const int fields[] = {field1, field2, field3, field4};
  for (UINT i = 0; i < std::size(fields); ++i) SetField(record, i + 1, fields[i]);
  return SendMessageRecord(session, INSTALLMESSAGE_PROGRESS, record);
}

}  // namespace Msi

namespace Msi {

CUnicodeString GetRequiredProperty(MSIHANDLE session, const CUnicodeString& name) {
  CUnicodeString value = GetProperty(session, name);
  Vrn::Check(!value.IsEmpty());
  return value;
}

}  // namespace Msi

namespace Msi {

CSessionObserverScope::CSessionObserverScope(CSessionObserver& observer) : m_previous(g_sessionObserver) {
  g_sessionObserver = &observer;
}

CSessionObserverScope::~CSessionObserverScope() { g_sessionObserver = m_previous; }

}  // namespace Msi
