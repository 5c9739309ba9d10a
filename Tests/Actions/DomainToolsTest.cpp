// Domain membership and credentials, and the transaction service's account and state, against
// the in-memory directory, join state and service manager.
#include "ActionTest.h"

using namespace TestSupport;
using Accounts::ServiceStep;

using DomainToolsTest = AccountActionsTest;

// The verdict, and the log line that tells which way it went.
TEST_F(DomainToolsTest, ComputerInDomainNeedsJoinAndDistinguishedName) {
  for (const auto& [domain, distinguishedName, expected] :
       {std::tuple{std::optional<CUnicodeString>(L"CORP"), L"CN=root,DC=corp", L"Yes"},
        {L"CORP", L"", L""},
        {std::nullopt, L"CN=root,DC=corp", L""}}) {
    fakes.join.domain = domain;
    fakes.directory.userNames[1] = distinguishedName;
    const size_t logged = Log().Length();
    RunCases({{"CheckComputerInDomain", {}, {{L"IS_COMPUTER_IN_DOMAIN", expected}}}});
    EXPECT_TRUE(Logged(*expected ? L"Checking...1" : L"Checking...0", logged));
  }
}

TEST_F(DomainToolsTest, UserInDomainAndAdministrator) {
  Set(L"MT_UserNotIsDomain=%0 is not a domain account|MT_UserNotIsAdmin=%0 is not an administrator");
  fakes.directory.domainUsers = {L"CORP\\alice", L"CORP\\bob"};
  fakes.directory.groups = {{L"WinNT://VM/Administrators", L"S-1-5-32-544", true}};
  fakes.directory.members[L"WinNT://VM/Administrators"] = {{L"WinNT://CORP/alice", {}, false}};
  const auto check = [](const char* action, const wchar_t* login, const wchar_t* property, const wchar_t* expected,
                        const wchar_t* message = nullptr) {
    return CActionCase{action,
                       {{L"LOGIN", login}, {property, L"stale"}},
                       {{property, expected}},
                       0,
                       message ? CBoxes{CBox{message, MB_ICONWARNING}} : CBoxes{}};
  };
  RunCases(
      {check("CheckUserInDomain", L"CORP\\alice", L"IS_USER_IN_DOMAIN", L"Yes"),
       check("CheckUserInDomain", L"CORP\\eve", L"IS_USER_IN_DOMAIN", L"", L"CORP\\eve is not a domain account"),
       check("CheckUserInDomainSilent", L"CORP\\eve", L"IS_USER_IN_DOMAIN", L""),
       check("CheckUserInDomainAndAdmin", L"CORP\\alice", L"IS_USER_ADMIN", L"Yes"),
       check("CheckUserInDomainAndAdmin", L"CORP\\bob", L"IS_USER_ADMIN", L"", L"CORP\\bob is not an administrator")});
}

TEST_F(DomainToolsTest, DomainCredentialsBindOnlyWhenJoined) {
  fakes.directory.ldapPath = L"LDAP://corp.example";
  fakes.directory.ldapLogin = L"CORP\\alice";
  fakes.directory.ldapPassword = L"s3cret;\"x";
  Set(L"LOGIN=CORP\\alice");
  for (const auto& [domain, password, expected] :
       {std::tuple{std::optional<CUnicodeString>(L"corp.example"), L"s3cret;\"x", L"Yes"},
        {L"corp.example", L"wrong", L""},
        {std::nullopt, L"s3cret;\"x", L""}}) {
    fakes.join.domain = domain;
    fakes.directory.binds.clear();
    RunCases({{"CheckIsUserDomain", {{L"PASSWORD", password}}, {{L"IS_USER_DOMAIN", expected}}}});
    EXPECT_EQ(fakes.directory.binds.size(), domain ? 1u : 0u);
  }
}

// The account is what the log tells; only the interface form tells the user about a wrong one
// (through the message service, whose text reaches the log).
TEST_F(DomainToolsTest, TransactionServiceAccount) {
  Set(L"MT_IncorrectMSDTCAccount=The transaction service runs under a wrong account");
  // A wrong account is a failure; a failed query is only refused.
  const std::tuple<ServiceStep, const wchar_t*, CResult, const wchar_t*> cases[] = {
      {ServiceStep::Done, L"nt authority\\networkservice", 0, L"MSDTC account: nt authority\\networkservice\r\n"},
      {ServiceStep::Done, L"LocalSystem", 1603, L"MSDTC account: LocalSystem\r\n"},
      {ServiceStep::ManagerOpen, L"", NotCounted(1603), L"OpenSCManager failed\r\n"},
      {ServiceStep::ConfigData, L"", NotCounted(1603), L"QueryServiceConfig failed - 2\r\n"},
  };
  for (const auto& [failed, account, result, logLine] : cases) {
    fakes.services.account = {failed, account};
    for (const char* action : {"QueryMSDTCServiceUserInUI", "QueryMSDTCServiceUserInExecute"}) {
      const size_t logged = Log().Length();
      RunCases({{action, L"", L"", result}});
      EXPECT_TRUE(Logged(logLine, logged)) << Log(logged);
      const bool told = std::string_view(action).ends_with("InUI") && result.code != 0 && failed == ServiceStep::Done;
      EXPECT_EQ(Logged(L"wrong account", logged), told) << Log(logged);
    }
  }
  EXPECT_EQ(fakes.services.queried.front(), L"MSDTC");
}

TEST_F(DomainToolsTest, TransactionServiceStartedWhenStopped) {
  const std::tuple<ServiceStep, DWORD, bool, UINT, bool, const wchar_t*> cases[] = {
      {ServiceStep::Done, SERVICE_STOPPED, true, 0, true, L"FALSE"},
      {ServiceStep::Done, SERVICE_STOPPED, false, 0, true, L"TRUE"},
      {ServiceStep::Done, SERVICE_RUNNING, true, 0, false, L"unset"},
      {ServiceStep::Done, SERVICE_START_PENDING, true, 0, false, L"unset"},
      {ServiceStep::Done, SERVICE_PAUSED, true, 0, true, L"FALSE"},
      {ServiceStep::Status, 0, true, 1603, false, L"unset"},
  };
  for (const auto& [failed, state, startSucceeds, result, startTried, stopped] : cases) {
    fakes.services.state = {failed, state};
    fakes.services.startSucceeds = startSucceeds;
    fakes.services.started.clear();
    RunCases({{"MSDTCServiceStatus",
               L"IS_MSDTCSERVICESTOPPED=unset",
               {{L"IS_MSDTCSERVICESTOPPED", stopped}},
               NotCounted(result)}});
    EXPECT_EQ(fakes.services.started.size(), startTried ? 1u : 0u) << state;
  }
}
