// Choosing a directory user or group: the object picker, the current user's names, and the check
// that a choice was made.
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DirectoryServices.h"
#include "Errors.h"
#include "InstallHelper.h"
#include "MsiHelper.h"

namespace {

using Msi::CUnicodeString;

using Msi::LogActionName;

UINT FindUsersBody(MSIHANDLE session) {
  LogActionName(L"FindUsers");
  const Accounts::CComApartment apartment;
  const std::vector<Accounts::CPickedObject> picked =
      Accounts::ObjectPicker().PickUsersOrGroups(Msi::FindInstallerWindow(session));
  if (picked.empty()) return ERROR_SUCCESS;
  // The picker runs in single-selection mode.
  Vrn::Check(picked.size() == 1);
  const size_t slash = picked[0].path.ReverseFind(L'/');
  Vrn::Check(slash != CUnicodeString::npos);
  Msi::SetProperty(session, L"UOG_DISPLAY_NAME", picked[0].name);
  Msi::SetProperty(session, L"UOG_DISTINGUISH_NAME", picked[0].path.Mid(slash + 1));
  Msi::SetProperty(session, L"IS_FINDUSERS", L"Yes");
  return ERROR_SUCCESS;
}

UINT GetCurrentFindUsersBody(MSIHANDLE session) {
  LogActionName(L"GetCurrentFindUsers");
  Accounts::CDirectory& directory = Accounts::Directory();
  const CUnicodeString distinguishedName = directory.CurrentUserName(1);
  Msi::SetProperty(session, L"UOG_DISPLAY_NAME",
                   distinguishedName.IsEmpty() ? CUnicodeString() : directory.CurrentUserName(3));
  Msi::SetProperty(session, L"UOG_DISTINGUISH_NAME", distinguishedName);
  return ERROR_SUCCESS;
}

UINT CheckUogDisplayNameBody(MSIHANDLE session) {
  LogActionName(L"CheckUOG_DISPLAY_NAME");
  const bool valid = !Msi::GetProperty(session, L"UOG_DISPLAY_NAME").Trimmed().IsEmpty() &&
                     !Msi::GetProperty(session, L"UOG_DISTINGUISH_NAME").IsEmpty();
  Msi::SetProperty(session, L"UOG_VALID", valid ? L"Yes" : L"");
  if (!valid)
    Msi::ShowPropertyMessage(Msi::CMessageContext(session), L"MT_UOG_DISPLAY_NAME_empty", L"", MB_ICONINFORMATION);
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(FindUsers, FindUsersBody, .reads = L"CLIENTPROCESSID")
ORV_ACTION(GetCurrentFindUsers, GetCurrentFindUsersBody)
ORV_ACTION(CheckUOG_DISPLAY_NAME, CheckUogDisplayNameBody, .reads = L"UOG_DISPLAY_NAME UOG_DISTINGUISH_NAME",
           .shows = L"MT_UOG_DISPLAY_NAME_empty")
