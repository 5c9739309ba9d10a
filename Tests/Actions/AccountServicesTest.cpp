// The real account and directory services under Wine, each in a child process with a time limit:
// what Wine provides answers as measured, what it lacks fails cleanly (counted as "no"); and the
// actions run once in a real session with no service replaced.
#include "AccountTestSupport.h"
#include "ChildProcessTest.h"

using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall CheckLoginInUI(MSIHANDLE);
UINT __stdcall IsUserAdmin(MSIHANDLE);
UINT __stdcall MSDTCServiceStatus(MSIHANDLE);
UINT __stdcall QueryMSDTCServiceUserInExecute(MSIHANDLE);
UINT __stdcall CheckComputerInDomain(MSIHANDLE);
UINT __stdcall CheckUserIsLocalAdmin(MSIHANDLE);
UINT __stdcall CheckUserInDomainSilent(MSIHANDLE);
UINT __stdcall CheckIsUserDomain(MSIHANDLE);
UINT __stdcall GetCurrentFindUsers(MSIHANDLE);
}

namespace {

// Root's SID as LookupAccountNameW gives it.
std::vector<BYTE> RootSid() {
  std::vector<BYTE> sid(256);
  DWORD sidSize = 256, domainSize = 64;
  wchar_t domain[64];
  SID_NAME_USE use{};
  EXPECT_TRUE(::LookupAccountNameW(nullptr, L"root", sid.data(), &sidSize, domain, &domainSize, &use));
  return sid;
}

}  // namespace

TIMED_CHILD_TEST(RealAccountServices, LogonRightsJoinElevation, 60000) {
  Accounts::CLogonService().LogonAsService(L"root", L".", L"any password");  // Wine accepts every logon
  std::vector<BYTE> sid = RootSid();
  Accounts::CAccountRights rights;
  EXPECT_FALSE(rights.HoldsServiceLogonRight(sid.data()));  // Wine's enumeration is always empty
  rights.AddServiceLogonRight(sid.data());
  EXPECT_FALSE(Accounts::CJoinState().JoinedDomain().has_value());  // a workgroup
  Accounts::CElevation elevation;
  EXPECT_TRUE(elevation.UserIsAdministrator());
  EXPECT_EQ(elevation.TokenElevationType(), std::optional<DWORD>(2));
}

TIMED_CHILD_TEST(RealAccountServices, ServiceManager, 60000) {
  Accounts::CServiceControl services;
  EXPECT_EQ(services.QueryStartAccount(L"MSDTC").failed, Accounts::ServiceStep::ServiceOpen);
  const Accounts::CServiceAccount rpc = services.QueryStartAccount(L"RpcSs");
  EXPECT_EQ(rpc.failed, Accounts::ServiceStep::Done);
  EXPECT_EQ(rpc.startAccount, L"LocalSystem");
  EXPECT_EQ(services.QueryState(L"MSDTC").failed, Accounts::ServiceStep::ServiceOpen);
  EXPECT_FALSE(services.Start(L"MSDTC"));
}

TIMED_CHILD_TEST(RealAccountServices, DirectoryFailsCleanly, 60000) {
  const Accounts::CComApartment apartment;
  Accounts::CDirectory directory;
  EXPECT_FALSE(directory.TranslatesNt4Name(L"VM\\root"));
  EXPECT_TRUE(directory.LocalGroups().empty());
  EXPECT_TRUE(directory.GroupMembers(L"WinNT://./Administrators,group").empty());
  EXPECT_FALSE(directory.BindsWithCredentials(L"LDAP://corp.example", L"CORP\\root", L"x"));
  EXPECT_TRUE(directory.CurrentUserName(1).IsEmpty());
  EXPECT_FALSE(directory.CurrentUserName(2).IsEmpty());  // the SAM-compatible name works
}

TIMED_CHILD_TEST(RealAccountServices, ObjectPicker, 60000) {
  const Accounts::CComApartment apartment;
  try {
    EXPECT_TRUE(Accounts::CObjectPicker().PickUsersOrGroups(nullptr).empty());
  } catch (Vrn::CException* raw) {
    // Without a display or a directory the picker may refuse: a core-library error, never a hang.
    Vrn::CExceptionPtr error(raw);
    EXPECT_NE(dynamic_cast<Vrn::CCOMException*>(raw), nullptr);
  }
}

TIMED_CHILD_TEST(RealAccountServices, ActionsInARealSession, 120000) {
  TestSupport::CRegistryOverride userIsolation{HKEY_CURRENT_USER};
  TestSupport::CTestPackage package;
  const MSIHANDLE session = package.Open();
  package.SetProperty(L"LOGIN", L"root");
  package.SetProperty(L"PASSWORD", L"whatever");
  EXPECT_EQ(CheckLoginInUI(session), 0u);  // Wine's logon accepts any password
  EXPECT_EQ(package.Property(L"LOGON_VALID"), L"Yes");
  EXPECT_EQ(package.Property(L"LOGIN"), L".\\root");
  // Wine's account is an administrator of a computer in no domain.
  const struct {
    UINT(__stdcall* action)(MSIHANDLE);
    const wchar_t* property;
    const wchar_t* expected;
  } verdicts[] = {{IsUserAdmin, L"IS_USER_ADMIN", L"Yes"},
                  {CheckComputerInDomain, L"IS_COMPUTER_IN_DOMAIN", L""},
                  {CheckUserIsLocalAdmin, L"IS_USER_LOCALADMIN", L""},
                  {CheckUserInDomainSilent, L"IS_USER_IN_DOMAIN", L""},
                  {CheckIsUserDomain, L"IS_USER_DOMAIN", L""},
                  {GetCurrentFindUsers, L"UOG_DISTINGUISH_NAME", L""}};
  for (const auto& verdict : verdicts) {
    SCOPED_TRACE(CUnicodeString(verdict.property).ToUtf8());
    EXPECT_EQ(verdict.action(session), 0u);
    EXPECT_EQ(package.Property(verdict.property), verdict.expected);
  }
  // There is no transaction service under Wine.
  EXPECT_EQ(MSDTCServiceStatus(session), 1603u);
  EXPECT_EQ(QueryMSDTCServiceUserInExecute(session), 1603u);
  EXPECT_NE(SessionTests::ActionLog(package).Find(L"OpenService failed"), CUnicodeString::npos);
}
