// Password scrambling: a password property turned into a scrambled property and back, so that it
// does not travel in plain reading order. There is no key; values never reach the log.
#include <algorithm>
#include <string>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "MsiHelper.h"

namespace {

using Msi::CUnicodeString;

// Reverses the first floor(n/2) code units and the rest, each in place. The halves keep their
// lengths, so the same call undoes it. Texts shorter than two code units are returned unchanged.
CUnicodeString Scramble(const CUnicodeString& text) {
  std::wstring units = text.ToStdString();
  const auto middle = units.begin() + static_cast<std::ptrdiff_t>(units.size() / 2);
  std::reverse(units.begin(), middle);
  std::reverse(middle, units.end());
  return CUnicodeString(units);
}

// Reads the value silently, writes the (scrambled when two code units or longer) value without
// logging it, and logs "<successName> successful" only when it was scrambled.
void Transfer(MSIHANDLE session, const CUnicodeString& from, const CUnicodeString& to, const wchar_t* successName) {
  const CUnicodeString value = Msi::GetPropertySilent(session, from);
  if (value.Length() < 2) {
    Msi::SetPropertyNoLog(session, to, value);
    return;
  }
  const CUnicodeString scrambled = Scramble(value);
  Msi::CustomActionLog() << successName << L" successful\r\n";
  Msi::SetPropertyNoLog(session, to, scrambled);
}

// The property named by CODE_PASSWORD_PROPERTY, which must name one.
CUnicodeString PasswordPropertyName(MSIHANDLE session) {
  const CUnicodeString name = Msi::GetProperty(session, L"CODE_PASSWORD_PROPERTY");
  Vrn::Check(!name.IsEmpty());
  return name;
}

using Msi::LogActionName;

UINT CodePasswordBody(MSIHANDLE session) {
  LogActionName(L"CodePassword");
  Transfer(session, L"PASSWORD", L"CODE", L"CodePassword");
  return ERROR_SUCCESS;
}

UINT UncodePasswordBody(MSIHANDLE session) {
  LogActionName(L"UncodePassword");
  Transfer(session, L"CODE", L"PASSWORD", L"UncodePassword");
  return ERROR_SUCCESS;
}

UINT CodePasswordExtBody(MSIHANDLE session) {
  LogActionName(L"CodePasswordExt");
  const CUnicodeString name = PasswordPropertyName(session);
  Transfer(session, name, name + L"_CODE", L"CodePasswordExt");
  return ERROR_SUCCESS;
}

// Logs under the name of UncodePassword, as packages written for it expect.
UINT UncodePasswordExtBody(MSIHANDLE session) {
  LogActionName(L"UncodePassword");
  const CUnicodeString name = PasswordPropertyName(session);
  Transfer(session, name + L"_CODE", name, L"UncodePassword");
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(CodePassword, CodePasswordBody, .reads = L"PASSWORD")
ORV_ACTION(UncodePassword, UncodePasswordBody, .reads = L"CODE")
ORV_ACTION(CodePasswordExt, CodePasswordExtBody, .reads = L"CODE_PASSWORD_PROPERTY", .readsIndirect = true)
ORV_ACTION(UncodePasswordExt, UncodePasswordExtBody, .reads = L"CODE_PASSWORD_PROPERTY", .readsIndirect = true)
