// The service-account actions: the typed login normalised, login and password verified (granting
// the right to log on as a service on the way), a password compared with its confirmation, and
// the local names of the well-known accounts.
#include <algorithm>
#include <memory>
#include "AccountServices.h"
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "InstallHelper.h"
#include "MsiHelper.h"
#include "TextLimits.h"
// sddl.h after windows.h
#include <sddl.h>

namespace {

using Msi::CUnicodeString;

using Msi::LogActionName;

// The property named by `nameProperty`, which must name one.
CUnicodeString RequiredName(MSIHANDLE session, const wchar_t* nameProperty) {
  CUnicodeString name = Msi::GetProperty(session, nameProperty);
  Vrn::Check(!name.IsEmpty());
  return name;
}

[[noreturn]] void RaiseSystemError(DWORD code) {
  if (code == ERROR_NOT_ENOUGH_MEMORY) Vrn::Raise<Vrn::CMemoryException>();
  Vrn::Raise<Vrn::CLastErrorException>(code);
}

// A login split at its first backslash; without one the whole text is the user part.
struct CLoginParts {
  explicit CLoginParts(const CUnicodeString& login) {
    const size_t slash = login.Find(L'\\');
    if (slash == CUnicodeString::npos) {
      user = login;
    } else {
      domain = login.Left(slash);
      user = login.Mid(slash + 1);
    }
  }
  CUnicodeString domain;
  CUnicodeString user;
};

// The login in the property, trimmed and written back. An empty one is reported to the user.
// Normalising collapses doubled backslashes and makes a bare name an account of this computer.
CUnicodeString ReadLogin(MSIHANDLE session, const CUnicodeString& property, bool normalise) {
  CUnicodeString login = Msi::GetProperty(session, property);
  if (login.IsEmpty()) {
    Msi::ShowPropertyMessage(Msi::CMessageContext(session), L"MT_EmptyLoginForServices", L"", MB_ICONERROR);
  } else if (normalise) {
    while (login.Replace(L"\\\\", L"\\") > 0) {
    }
    if (login.Find(L'\\') == CUnicodeString::npos) login = CUnicodeString(L".\\") + login;
  }
  Msi::SetProperty(session, property, login);
  return login;
}

CUnicodeString ThisComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) RaiseSystemError(::GetLastError());
  return CUnicodeString(name, size);
}

// The account's SID as LookupAccountNameW gives it; "." or no domain part means this computer.
std::unique_ptr<BYTE[]> LookupLoginSid(const CUnicodeString& login) {
  const CLoginParts parts(login);
  const CUnicodeString domain = parts.domain.IsEmpty() || parts.domain == L"." ? ThisComputerName() : parts.domain;
  const CUnicodeString account = domain + L"\\" + parts.user;
  Vrn::CheckAccountName(account);
  DWORD sidSize = 2048;
  for (;;) {
    const DWORD allocated = sidSize;
    auto sid = std::make_unique<BYTE[]>(sidSize);
    wchar_t referencedDomain[256] = {};
    DWORD domainSize = 256;
    SID_NAME_USE use{};
    if (::LookupAccountNameW(nullptr, account.c_str(), sid.get(), &sidSize, referencedDomain, &domainSize, &use))
      return sid;
    const DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) RaiseSystemError(error);
    // The call reports the size it needs; grow at least twofold so the loop always ends.
    sidSize = std::max<DWORD>(sidSize, allocated * 2);
  }
}

void GrantServiceLogonRight(PSID sid) {
  if (!Accounts::AccountRights().HoldsServiceLogonRight(sid)) Accounts::AccountRights().AddServiceLogonRight(sid);
}

void TestServiceLogon(const CUnicodeString& login, const CUnicodeString& password) {
  const CLoginParts parts(login);
  Accounts::LogonService().LogonAsService(parts.user, parts.domain.IsEmpty() ? CUnicodeString(L".") : parts.domain,
                                          password);
}

// The check behind CheckLogin and CheckLoginExt: the verdict is cleared, then set only when the
// account holds the right to log on as a service and the password logs it on.
void CheckLogin(MSIHANDLE session, const CUnicodeString& loginProperty, const CUnicodeString& passwordProperty,
                const CUnicodeString& verdict) {
  Msi::SetProperty(session, verdict, L"");
  const CUnicodeString login = ReadLogin(session, loginProperty, true);
  // The user has been told about an empty login already.
  if (CLoginParts(login).user.IsEmpty()) Vrn::Raise<Vrn::CUserException>();
  const CUnicodeString password = Msi::GetPropertySilent(session, passwordProperty);
  const std::unique_ptr<BYTE[]> sid = LookupLoginSid(login);
  GrantServiceLogonRight(sid.get());
  TestServiceLogon(login, password);
  Msi::SetProperty(session, verdict, L"Yes");
}

UINT CheckLoginBody(MSIHANDLE session) {
  LogActionName(L"CheckLogin");
  CheckLogin(session, L"LOGIN", L"PASSWORD", L"LOGON_VALID");
  return ERROR_SUCCESS;
}

UINT CheckLoginExtBody(MSIHANDLE session) {
  LogActionName(L"CheckLoginExt");
  const CUnicodeString loginProperty = RequiredName(session, L"LOGIN_NAME");
  const CUnicodeString verdict = loginProperty + L"_VALID";
  CheckLogin(session, loginProperty, Msi::GetProperty(session, L"PASSWORD_NAME"), verdict);
  return ERROR_SUCCESS;
}

UINT NormalizeLoginBody(MSIHANDLE session) {
  LogActionName(L"NormalizeLogin");
  const CUnicodeString login = ReadLogin(session, L"LOGIN", true);
  Msi::SetProperty(session, L"LOGIN_VALID", login.IsEmpty() ? L"" : L"Yes");
  return ERROR_SUCCESS;
}

UINT NormalizeLoginExtBody(MSIHANDLE session) {
  LogActionName(L"NormalizeLoginExt");
  const CUnicodeString loginProperty = RequiredName(session, L"LOGIN_NAME");
  const CUnicodeString login = ReadLogin(session, loginProperty, true);
  Msi::SetProperty(session, loginProperty + L"_VALID", login.IsEmpty() ? L"" : L"Yes");
  return ERROR_SUCCESS;
}

// The characters of the password, upper-cased, that are neither digits nor Latin letters, in
// their order (duplicates kept).
CUnicodeString OffendingPasswordCharacters(CUnicodeString password) {
  password.MakeUpper();
  CUnicodeString offending;
  for (const wchar_t ch : password.View())
    if (!((ch >= L'0' && ch <= L'9') || (ch >= L'A' && ch <= L'Z'))) offending += ch;
  return offending;
}

UINT CheckPasswordExtBody(MSIHANDLE session) {
  LogActionName(L"CheckPasswordExt");
  const CUnicodeString passwordProperty = RequiredName(session, L"PASSWORD_NAME");
  const CUnicodeString password = Msi::GetPropertySilent(session, passwordProperty);
  const CUnicodeString confirmation = Msi::GetPropertySilent(session, passwordProperty + L"1");
  bool valid = true;
  if (password != confirmation) {
    Msi::ShowPropertyMessage(Msi::CMessageContext(session), L"MT_InvalidatePassword", L"", MB_ICONERROR);
    valid = false;
  } else if (Msi::GetBoolProperty(session, L"PASSWORD_CHECK")) {
    const CUnicodeString offending = OffendingPasswordCharacters(password);
    if (!offending.IsEmpty()) {
      Msi::ShowPropertyMessageWithParams(Msi::CMessageContext(session), true, L"MT_BadPassword", {offending},
                                         MB_ICONERROR);
      valid = false;
    }
  }
  Msi::SetProperty(session, passwordProperty + L"_VALID", valid ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

// The well-known accounts whose local names SIDLookup publishes, in the package's order.
constexpr struct {
  const wchar_t* property;
  const wchar_t* sid;
} kWellKnownAccounts[] = {
    {L"SID_EVERYONE", L"S-1-1-0"},
    {L"SID_LOCAL", L"S-1-2-0"},
    {L"SID_CREATOR_OWNER", L"S-1-3-0"},
    {L"SID_CREATOR_GROUP", L"S-1-3-1"},
    {L"SID_DIALUP", L"S-1-5-1"},
    {L"SID_NETWORK", L"S-1-5-2"},
    {L"SID_BATCH", L"S-1-5-3"},
    {L"SID_INTERACTIVE", L"S-1-5-4"},
    {L"SID_SERVICE", L"S-1-5-6"},
    {L"SID_PROXY", L"S-1-5-8"},
    {L"SID_ENTERPRISE_CONTROLLERS", L"S-1-5-9"},
    {L"SID_ANONYMOUS_LOGON", L"S-1-5-7"},
    {L"SID_SELF", L"S-1-5-10"},
    {L"SID_AUTHENTICATED_USERS", L"S-1-5-11"},
    {L"SID_RESTRICTED", L"S-1-5-12"},
    {L"SID_TERMINAL_SERVER", L"S-1-5-13"},
    {L"SID_SYSTEM", L"S-1-5-18"},
    {L"SID_BUILTIN_ADMINISTRATORS", L"S-1-5-32-544"},
    {L"SID_BUILTIN_USERS", L"S-1-5-32-545"},
    {L"SID_BUILTIN_GUESTS", L"S-1-5-32-546"},
    {L"SID_BUILTIN_POWER_USERS", L"S-1-5-32-547"},
    {L"SID_BUILTIN_ACCOUNT_OPERATORS", L"S-1-5-32-548"},
    {L"SID_BUILTIN_SYSTEM_OPERATORS", L"S-1-5-32-549"},
    {L"SID_BUILTIN_PRINT_OPERATORS", L"S-1-5-32-550"},
    {L"SID_BUILTIN_BACKUP_OPERATORS", L"S-1-5-32-551"},
    {L"SID_BUILTIN_REPLICATOR", L"S-1-5-32-552"},
    {L"SID_BUILTIN_RAS_SERVERS", L"S-1-5-32-553"},
    {L"SID_BUILTIN_PRE_W2K_ACCESS", L"S-1-5-32-554"},
};

UINT SidLookupBody(MSIHANDLE session) {
  LogActionName(L"SIDLookup");
  for (const auto& account : kWellKnownAccounts) {
    PSID sid = nullptr;
    Vrn::CheckLastError(::ConvertStringSidToSidW(account.sid, &sid));
    const std::unique_ptr<void, decltype(&::LocalFree)> owned(sid, &::LocalFree);
    wchar_t name[260] = {}, domain[260] = {};
    DWORD nameSize = 260, domainSize = 260;
    SID_NAME_USE use{};
    // An account this system does not know keeps the package's value.
    if (!::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) continue;
    const CUnicodeString value = domain[0] ? CUnicodeString(domain) + L"\\" + name : CUnicodeString(name);
    Msi::SetProperty(session, account.property, value);
  }
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(CheckLoginInUI, CheckLoginBody, .reads = L"LOGIN PASSWORD", .shows = L"MT_EmptyLoginForServices")
ORV_ACTION(CheckLoginInExecute, CheckLoginBody, .reads = L"LOGIN PASSWORD", .shows = L"MT_EmptyLoginForServices")
ORV_ACTION(CheckLoginExtInUI, CheckLoginExtBody, .reads = L"LOGIN_NAME PASSWORD_NAME",
           .shows = L"MT_EmptyLoginForServices", .readsIndirect = true)
ORV_ACTION(CheckLoginExtInExecute, CheckLoginExtBody, .reads = L"LOGIN_NAME PASSWORD_NAME",
           .shows = L"MT_EmptyLoginForServices", .readsIndirect = true)
ORV_ACTION(NormalizeLogin, NormalizeLoginBody, .reads = L"LOGIN", .shows = L"MT_EmptyLoginForServices")
ORV_ACTION(NormalizeLoginExt, NormalizeLoginExtBody, .reads = L"LOGIN_NAME", .shows = L"MT_EmptyLoginForServices",
           .readsIndirect = true)
ORV_ACTION(CheckPasswordExt, CheckPasswordExtBody, .reads = L"PASSWORD_NAME PASSWORD_CHECK",
           .shows = L"MT_InvalidatePassword MT_BadPassword", .readsIndirect = true)
ORV_ACTION(SIDLookup, SidLookupBody)
