// The real account and directory services under Wine, each in a time-limited child: what Wine
// lacks fails cleanly; then the actions once in a real session with no service replaced (the real
// logon, rights, join state, elevation and service manager).
#include "ActionTest.h"
#include "ChildProcessTest.h"

using namespace TestSupport;

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
  // Without a display or a directory the picker may refuse: a core-library error, never a hang.
  const Vrn::CExceptionPtr error =
      Vrn::Caught([] { EXPECT_TRUE(Accounts::CObjectPicker().PickUsersOrGroups(nullptr).empty()); });
  EXPECT_TRUE(!error || dynamic_cast<Vrn::CCOMException*>(error.get()));
}

TIMED_CHILD_TEST(RealAccountServices, ActionsInARealSession, 120000) {
  CActionSession s(false);
  s.Open();
  // Wine's logon accepts any password; its account is an administrator of a computer in no domain,
  // and there is no transaction service.
  s.RunCases({{"CheckLoginInUI", L"LOGIN=root|PASSWORD=whatever", L"LOGON_VALID=Yes|LOGIN=.\\root"},
              {"IsUserAdmin", {}, L"IS_USER_ADMIN=Yes"},
              {"CheckComputerInDomain", {}, L"IS_COMPUTER_IN_DOMAIN="},
              {"CheckUserIsLocalAdmin", {}, L"IS_USER_LOCALADMIN="},
              {"CheckUserInDomainSilent", {}, L"IS_USER_IN_DOMAIN="},
              {"CheckIsUserDomain", {}, L"IS_USER_DOMAIN="},
              {"GetCurrentFindUsers", {}, L"UOG_DISTINGUISH_NAME="},
              {"MSDTCServiceStatus", L"", L"", NotCounted(1603)},
              {"QueryMSDTCServiceUserInExecute", L"", L"", NotCounted(1603)}});
  EXPECT_TRUE(s.Logged(L"OpenService failed"));
}
