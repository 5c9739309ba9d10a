// Administrator checks: whether an account belongs to the computer's Administrators group, and
// whether the installing user is an administrator (a split token counts).
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DirectoryServices.h"
#include "MsiHelper.h"
// versionhelpers.h after windows.h
#include <versionhelpers.h>

namespace {

using Msi::CUnicodeString;

UINT CheckUserIsLocalAdminBody(MSIHANDLE session) {
  CUnicodeString login = Msi::GetProperty(session, L"LOGIN");
  if (login.IsEmpty()) login = Msi::GetProperty(session, L"LogonUser");
  const Accounts::CComApartment apartment;
  Msi::SetProperty(session, L"IS_USER_LOCALADMIN", Accounts::IsUserLocalAdmin(login) ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

// The elevation types of a process token: the published name, the log line, and whether the
// user counts as an administrator.
constexpr struct {
  DWORD type;
  const wchar_t* name;
  const wchar_t* logLine;
  bool admin;
} kElevationTypes[] = {
    {1, L"TokenElevationTypeDefault", L"TokenElevationTypeDefault - User is not using a split token.", false},
    {2, L"TokenElevationTypeFull",
     L"TokenElevationTypeFull - User has a split token, and the process is running elevated.", true},
    {3, L"TokenElevationTypeLimited",
     L"TokenElevationTypeLimited - User has a split token, but the process is not running elevated.", true},
};

UINT IsUserAdminBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"IsUserAdmin\r\n\r\n";
  Accounts::CElevation& elevation = Accounts::Elevation();
  bool admin = elevation.UserIsAdministrator();
  if (!admin && IsWindowsVistaOrGreater()) {
    const std::optional<DWORD> type = elevation.TokenElevationType();
    for (const auto& known : kElevationTypes) {
      if (!type || *type != known.type) continue;
      Msi::SetProperty(session, L"IS_USER_ADMIN_ELEVATION_TYPE", known.name);
      Msi::CustomActionLog() << known.logLine << L"\r\n\r\n";
      admin = known.admin;
    }
  }
  Msi::SetProperty(session, L"IS_USER_ADMIN", admin ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(CheckUserIsLocalAdmin, CheckUserIsLocalAdminBody, .reads = L"LOGIN LogonUser")
ORV_ACTION(IsUserAdmin, IsUserAdminBody)
