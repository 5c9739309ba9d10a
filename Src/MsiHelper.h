// The installer session facade: properties, CustomActionData, text expansion, paths, feature and
// component states, product queries and installer messages, each with the library's logging and
// failure policy. Action bodies reach the session only through these functions and DatabaseAccess.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "UnicodeString.h"
#include "VrnWindows.h"
// msi.h after windows.h
#include <msi.h>
#include <msiquery.h>

namespace Msi {

using Vrn::CUnicodeString;

// ---- Properties ----

// The property's value, trimmed; a trimmed value is written back. In a script run the value comes
// from CustomActionData (untrimmed). Logs "Property( name ) : value". Failures raise.
CUnicodeString GetProperty(MSIHANDLE session, const CUnicodeString& name);
// The raw value, or the empty text on any failure (logged). Never raises.
CUnicodeString GetPropertySilent(MSIHANDLE session, const CUnicodeString& name);
// True unless empty, "No" (any case) or exactly "0".
bool GetBoolProperty(MSIHANDLE session, const CUnicodeString& name);
// Logs "Set name = value"; a refusal is logged and raised as an internal error.
void SetProperty(MSIHANDLE session, const CUnicodeString& name, const CUnicodeString& value);
// As SetProperty but a refusal is only logged; in a script run sets nothing.
void SetPropertySilent(MSIHANDLE session, const CUnicodeString& name, const CUnicodeString& value);
// Sets without logging; a refusal is logged, not raised.
void SetPropertyNoLog(MSIHANDLE session, const CUnicodeString& name, const CUnicodeString& value);
// The raw installer read: 256 characters first, then the reported length; failures raise.
CUnicodeString ReadPropertyRaw(MSIHANDLE session, const CUnicodeString& name);

// True in a deferred (scheduled, rollback or commit) run.
bool IsScriptMode(MSIHANDLE session);
// The value of a key of CustomActionData; a missing key or malformed data is an internal error.
CUnicodeString GetCustomActionDataValue(MSIHANDLE session, const CUnicodeString& key);
// As above, but a missing key gives the empty text.
CUnicodeString FindCustomActionDataValue(MSIHANDLE session, const CUnicodeString& key);
// The parser behind both: the value of the last item whose key matches without regard to case, or
// nothing. Malformed data (an empty item, an item without "=") is an internal error.
std::optional<CUnicodeString> ParseCustomActionData(const CUnicodeString& data, const CUnicodeString& key);
// The items of CustomActionData in order: each key as written and its value (without the double
// quotes around it). Malformed data is an internal error, as above.
struct CCustomActionDataItem {
  CUnicodeString key;
  CUnicodeString value;
};
std::vector<CCustomActionDataItem> CustomActionDataItems(const CUnicodeString& data);

// Expands "[NAME]" references in place with GetProperty values ("##" for empty ones).
void FlushText(MSIHANDLE session, CUnicodeString& text);
// The limit on replacements, so that a property referring to itself cannot loop forever.
inline constexpr int kFlushTextMaxReplacements = 1000;

// "ProductLanguage" as a 16-bit language id; 0 when not a number.
uint16_t GetProductLanguage(MSIHANDLE session);

// ---- Paths, features, components, products ----

// The directory's full target path (ending with a backslash); a refusal is logged and gives the
// empty text.
CUnicodeString GetTargetPath(MSIHANDLE session, const CUnicodeString& folder);
// Logs the installer's answer; a refusal is an internal error.
void SetTargetPath(MSIHANDLE session, const CUnicodeString& folder, const CUnicodeString& path);
// The directory's source path; logs nothing; a refusal is an internal error.
CUnicodeString GetSourcePath(MSIHANDLE session, const CUnicodeString& folder);

struct CFeatureState {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
};
// Raises on failure (after logging).
CFeatureState QueryFeatureState(MSIHANDLE session, const CUnicodeString& feature);
// Raises on failure (after logging).
void ChangeFeatureState(MSIHANDLE session, const CUnicodeString& feature, INSTALLSTATE state);

// By the component's action state (and, for ComponentWillBeLocal, its installed state): installed
// means LOCAL, SOURCE or DEFAULT; removed means ABSENT; local means the action is LOCAL, or the
// component is local now and stays. A failed query gives false and logs nothing.
bool ComponentWillBeInstalled(MSIHANDLE session, const CUnicodeString& component);
bool ComponentWillBeRemoved(MSIHANDLE session, const CUnicodeString& component);
bool ComponentWillBeLocal(MSIHANDLE session, const CUnicodeString& component);

// The installed product's "VersionString"; empty for a product that is not installed. Other
// failures are internal errors (after logging).
CUnicodeString GetProductVersionString(const CUnicodeString& productCode);

// "INSTALLSTATE_LOCAL" and so on ("unknown (7)" outside the table); "IDOK" ... "IDHELP" or "(Unknown)".
CUnicodeString InstallStateName(int state);
CUnicodeString DialogResultName(int result);

// ---- Installer messages ----

// Sends the text as an error message (0x01000010); the reply is ignored.
void ShowInstallerError(MSIHANDLE session, const CUnicodeString& text);
// Enables or disables the installer's Cancel button.
void SetCancelButton(MSIHANDLE session, bool enabled);
// Sends one progress record with four integer fields; returns the installer's answer.
int SendProgress(MSIHANDLE session, int field1, int field2, int field3, int field4);

}  // namespace Msi

namespace Msi {

// GetProperty for a property the package must set: an empty value is an internal error.
CUnicodeString GetRequiredProperty(MSIHANDLE session, const CUnicodeString& name);

}  // namespace Msi

namespace Msi {

// An observer of the session facade, for a tool that runs an action outside an installation (the
// action runner): it is told of every property write (with the value before it), and it may have
// the actions run as in a deferred run, reading CustomActionData.
class CSessionObserver {
 public:
  virtual ~CSessionObserver() = default;
  virtual void PropertyWritten(const CUnicodeString& name, const CUnicodeString& previous, const CUnicodeString& value,
                               UINT answer) = 0;
  virtual bool SimulatesScriptMode() const { return false; }
};

// Installs the observer for its lifetime (one at a time; the previous one comes back after).
class CSessionObserverScope {
 public:
  explicit CSessionObserverScope(CSessionObserver& observer);
  ~CSessionObserverScope();
  CSessionObserverScope(const CSessionObserverScope&) = delete;
  CSessionObserverScope& operator=(const CSessionObserverScope&) = delete;

 private:
  CSessionObserver* m_previous;
};

}  // namespace Msi
