// Local administrator membership through nested directory groups, and the elevation types.
#include "AccountTestSupport.h"

using Accounts::CDirectoryObject;
using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall CheckUserIsLocalAdmin(MSIHANDLE);
UINT __stdcall IsUserAdmin(MSIHANDLE);
}

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
  const struct {
    const wchar_t *login, *logonUser, *expected;
  } cases[] = {
      {L"VM\\root", L"", L"Yes"},    {L"vm\\ROOT", L"", L"Yes"},
      {L"CORP\\alice", L"", L"Yes"}, {L"CORP\\bob", L"", L""},
      {L"", L"VM\\root", L"Yes"},    {L"CORP\\bob", L"VM\\root", L""},  // LOGIN wins over the installing user
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.login));
    package.SetProperty(L"LOGIN", c.login);
    package.SetProperty(L"LogonUser", c.logonUser);
    EXPECT_EQ(Run(CheckUserIsLocalAdmin), 0u);
    EXPECT_EQ(package.Property(L"IS_USER_LOCALADMIN"), c.expected);
    EXPECT_EQ(LastLog().Find(L"CheckUserIsLocalAdmin"), CUnicodeString::npos);
  }
  fakes.directory.groups.clear();  // the directory failed: no
  package.SetProperty(L"LOGIN", L"VM\\root");
  EXPECT_EQ(Run(CheckUserIsLocalAdmin), 0u);
  EXPECT_EQ(package.Property(L"IS_USER_LOCALADMIN"), L"");
}

TEST_F(LocalAdminTest, SplitTokensCountAsAdministrators) {
  const struct {
    bool admin;
    std::optional<DWORD> type;
    const wchar_t *expected, *typeName, *logLine;
  } cases[] = {
      {true, 3, L"Yes", L"", nullptr},  // an administrator: the token is not read
      {false, 1, L"", L"TokenElevationTypeDefault", L"TokenElevationTypeDefault - User is not using a split token."},
      {false, 2, L"Yes", L"TokenElevationTypeFull",
       L"TokenElevationTypeFull - User has a split token, and the process is running elevated."},
      {false, 3, L"Yes", L"TokenElevationTypeLimited",
       L"TokenElevationTypeLimited - User has a split token, but the process is not running elevated."},
      {false, std::nullopt, L"", L"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.typeName));
    fakes.elevation.admin = c.admin;
    fakes.elevation.elevationType = c.type;
    package.SetProperty(L"IS_USER_ADMIN_ELEVATION_TYPE", L"");
    EXPECT_EQ(Run(IsUserAdmin), 0u);
    EXPECT_EQ(package.Property(L"IS_USER_ADMIN"), c.expected);
    EXPECT_EQ(package.Property(L"IS_USER_ADMIN_ELEVATION_TYPE"), c.typeName);
    const CUnicodeString log = LastLog();
    EXPECT_EQ(log.Find(L"IsUserAdmin\r\n\r\n"), 0u);
    if (c.logLine) {
      EXPECT_NE(log.Find(CUnicodeString(c.logLine) + L"\r\n"), CUnicodeString::npos) << log;
    }
  }
}
