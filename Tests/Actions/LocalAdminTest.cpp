// Local administrator membership through nested directory groups, and the elevation types.
#include "ActionTest.h"

using namespace TestSupport;

using LocalAdminTest = AccountActionsTest;

TEST_F(LocalAdminTest, MembershipCountsNestedGroupsAndIgnoresCase) {
  const CUnicodeString admins = L"WinNT://WORKGROUP/VM/Administrators";
  fakes.directory.groups = {{L"WinNT://WORKGROUP/VM/Users", L"S-1-5-32-545", true}, {admins, L"S-1-5-32-544", true}};
  fakes.directory.members[admins.ToStdString()] = {{L"WinNT://VM/root", {}, false},
                                                   {L"WinNT://CORP/Server Admins", {}, true}};
  fakes.directory.members[L"WinNT://CORP/Server Admins"] = {{L"WinNT://CORP/Loop", {}, true},
                                                            {L"WinNT://CORP/alice", {}, false}};
  // A membership cycle is searched once.
  fakes.directory.members[L"WinNT://CORP/Loop"] = {{L"WinNT://CORP/Server Admins", {}, true}};
  fakes.directory.members[L"WinNT://WORKGROUP/VM/Users"] = {{L"WinNT://CORP/bob", {}, false}};
  const auto check = [](const wchar_t* login, const wchar_t* logonUser, const wchar_t* expected) {
    return CActionCase{
        "CheckUserIsLocalAdmin", {{L"LOGIN", login}, {L"LogonUser", logonUser}}, {{L"IS_USER_LOCALADMIN", expected}}};
  };
  RunCases({check(L"VM\\root", L"", L"Yes"), check(L"vm\\ROOT", L"", L"Yes"), check(L"CORP\\alice", L"", L"Yes"),
            check(L"CORP\\bob", L"", L""), check(L"", L"VM\\root", L"Yes"),
            check(L"CORP\\bob", L"VM\\root", L"")});  // LOGIN wins over the installing user
  fakes.directory.groups.clear();                     // the directory failed: no
  RunCases({check(L"VM\\root", L"", L"")});
}

// The elevation type is published by name; the log tells what it means.
TEST_F(LocalAdminTest, SplitTokensCountAsAdministrators) {
  const std::tuple<bool, std::optional<DWORD>, const wchar_t*, const wchar_t*> cases[] = {
      {true, 3, L"Yes", L""},  // an administrator: the token is not read
      {false, 1, L"", L"TokenElevationTypeDefault"},
      {false, 2, L"Yes", L"TokenElevationTypeFull"},
      {false, 3, L"Yes", L"TokenElevationTypeLimited"},
      {false, std::nullopt, L"", L""},
  };
  for (const auto& [admin, type, expected, typeName] : cases) {
    fakes.elevation.admin = admin;
    fakes.elevation.elevationType = type;
    RunCases({{"IsUserAdmin",
               L"IS_USER_ADMIN_ELEVATION_TYPE=",
               {{L"IS_USER_ADMIN", expected}, {L"IS_USER_ADMIN_ELEVATION_TYPE", typeName}}}});
  }
}
