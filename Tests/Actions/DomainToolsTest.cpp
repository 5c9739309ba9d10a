// Domain membership and credentials, and the transaction service's account and state, against
// the in-memory directory, join state and service manager.
#include "AccountTestSupport.h"

using Accounts::ServiceStep;
using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall CheckComputerInDomain(MSIHANDLE);
UINT __stdcall CheckUserInDomain(MSIHANDLE);
UINT __stdcall CheckUserInDomainSilent(MSIHANDLE);
UINT __stdcall CheckUserInDomainAndAdmin(MSIHANDLE);
UINT __stdcall CheckIsUserDomain(MSIHANDLE);
UINT __stdcall QueryMSDTCServiceUserInUI(MSIHANDLE);
UINT __stdcall QueryMSDTCServiceUserInExecute(MSIHANDLE);
UINT __stdcall MSDTCServiceStatus(MSIHANDLE);
}

using DomainToolsTest = AccountActionsTest;

TEST_F(DomainToolsTest, ComputerInDomainNeedsJoinAndDistinguishedName) {
  const struct {
    std::optional<CUnicodeString> domain;
    const wchar_t *distinguishedName, *expected;
  } cases[] = {
      {L"CORP", L"CN=root,DC=corp", L"Yes"},
      {L"CORP", L"", L""},
      {std::nullopt, L"CN=root,DC=corp", L""},
  };
  for (const auto& c : cases) {
    fakes.join.domain = c.domain;
    fakes.directory.userNames[1] = c.distinguishedName;
    EXPECT_EQ(Run(CheckComputerInDomain), 0u);
    EXPECT_EQ(package.Property(L"IS_COMPUTER_IN_DOMAIN"), c.expected);
    EXPECT_NE(LastLog().Find(*c.expected ? L"Checking...1" : L"Checking...0"), CUnicodeString::npos);
  }
}

TEST_F(DomainToolsTest, UserInDomainAndAdministrator) {
  package.SetProperty(L"MT_UserNotIsDomain", L"%0 is not a domain account");
  package.SetProperty(L"MT_UserNotIsAdmin", L"%0 is not an administrator");
  fakes.directory.domainUsers = {L"CORP\\alice", L"CORP\\bob"};
  fakes.directory.groups = {{L"WinNT://VM/Administrators", L"S-1-5-32-544", true}};
  fakes.directory.members[L"WinNT://VM/Administrators"] = {{L"WinNT://CORP/alice", {}, false}};
  const struct {
    UINT(__stdcall* action)(MSIHANDLE);
    const wchar_t *login, *property, *expected, *message;
  } cases[] = {
      {CheckUserInDomain, L"CORP\\alice", L"IS_USER_IN_DOMAIN", L"Yes", nullptr},
      {CheckUserInDomain, L"CORP\\eve", L"IS_USER_IN_DOMAIN", L"", L"CORP\\eve is not a domain account"},
      {CheckUserInDomainSilent, L"CORP\\eve", L"IS_USER_IN_DOMAIN", L"", nullptr},
      {CheckUserInDomainAndAdmin, L"CORP\\alice", L"IS_USER_ADMIN", L"Yes", nullptr},
      {CheckUserInDomainAndAdmin, L"CORP\\bob", L"IS_USER_ADMIN", L"", L"CORP\\bob is not an administrator"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.login));
    package.SetProperty(L"LOGIN", c.login);
    package.SetProperty(c.property, L"stale");
    EXPECT_EQ(Run(c.action), 0u);
    EXPECT_EQ(package.Property(c.property), c.expected);
    ASSERT_EQ(ui.shown.size(), c.message ? 1u : 0u);
    if (c.message) {
      EXPECT_EQ(ui.shown[0].text, c.message);
      EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ICONWARNING));
    }
  }
}

TEST_F(DomainToolsTest, DomainCredentialsBindOnlyWhenJoined) {
  fakes.directory.ldapPath = L"LDAP://corp.example";
  fakes.directory.ldapLogin = L"CORP\\alice";
  fakes.directory.ldapPassword = L"s3cret;\"x";
  package.SetProperty(L"LOGIN", L"CORP\\alice");
  const struct {
    std::optional<CUnicodeString> domain;
    const wchar_t *password, *expected;
  } cases[] = {
      {L"corp.example", L"s3cret;\"x", L"Yes"},
      {L"corp.example", L"wrong", L""},
      {std::nullopt, L"s3cret;\"x", L""},
  };
  for (const auto& c : cases) {
    fakes.join.domain = c.domain;
    fakes.directory.binds.clear();
    package.SetProperty(L"PASSWORD", c.password);
    EXPECT_EQ(Run(CheckIsUserDomain), 0u);
    EXPECT_EQ(package.Property(L"IS_USER_DOMAIN"), c.expected);
    EXPECT_EQ(fakes.directory.binds.size(), c.domain ? 1u : 0u);
  }
}

TEST_F(DomainToolsTest, TransactionServiceAccount) {
  package.SetProperty(L"MT_IncorrectMSDTCAccount", L"The transaction service runs under a wrong account");
  const struct {
    ServiceStep failed;
    const wchar_t* account;
    UINT result;
    const wchar_t* logLine;
  } cases[] = {
      {ServiceStep::Done, L"nt authority\\networkservice", 0, L"MSDTC account: nt authority\\networkservice\r\n"},
      {ServiceStep::Done, L"LocalSystem", 1603, L"MSDTC account: LocalSystem\r\n"},
      {ServiceStep::ManagerOpen, L"", 1603, L"OpenSCManager failed\r\n"},
      {ServiceStep::ConfigData, L"", 1603, L"QueryServiceConfig failed - 2\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.logLine));
    fakes.services.account = {c.failed, c.account};
    for (const bool inUi : {true, false}) {
      EXPECT_EQ(Run(inUi ? QueryMSDTCServiceUserInUI : QueryMSDTCServiceUserInExecute), c.result);
      const CUnicodeString log = LastLog();
      EXPECT_EQ(log.Find(L"QueryMSDTSServiceUser\r\n\r\n"), 0u);
      EXPECT_NE(log.Find(c.logLine), CUnicodeString::npos) << log;
      // Only the interface form tells the user about a wrong account (through the message service).
      const bool told = inUi && c.result != 0 && c.failed == ServiceStep::Done;
      EXPECT_EQ(log.Find(L"wrong account") != CUnicodeString::npos, told) << log;
    }
  }
  EXPECT_EQ(fakes.services.queried.front(), L"MSDTC");
}

TEST_F(DomainToolsTest, TransactionServiceStartedWhenStopped) {
  const struct {
    ServiceStep failed;
    DWORD state;
    bool startSucceeds;
    UINT result;
    bool startTried;
    const wchar_t *stopped, *logLine;
  } cases[] = {
      {ServiceStep::Done, SERVICE_STOPPED, true, 0, true, L"FALSE", L"MSDTC status: 1\r\n"},
      {ServiceStep::Done, SERVICE_STOPPED, false, 0, true, L"TRUE", L"StartService failed\r\n"},
      {ServiceStep::Done, SERVICE_RUNNING, true, 0, false, L"unset", L"MSDTC status: 4\r\n"},
      {ServiceStep::Done, SERVICE_START_PENDING, true, 0, false, L"unset", L"MSDTC status: 2\r\n"},
      {ServiceStep::Done, SERVICE_PAUSED, true, 0, true, L"FALSE", L"MSDTC status: 7\r\n"},
      {ServiceStep::Status, 0, true, 1603, false, L"unset", L"QueryServiceStatus failed\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.logLine));
    fakes.services.state = {c.failed, c.state};
    fakes.services.startSucceeds = c.startSucceeds;
    fakes.services.started.clear();
    package.SetProperty(L"IS_MSDTCSERVICESTOPPED", L"unset");
    EXPECT_EQ(Run(MSDTCServiceStatus), c.result);
    EXPECT_EQ(fakes.services.started.size(), c.startTried ? 1u : 0u);
    EXPECT_EQ(package.Property(L"IS_MSDTCSERVICESTOPPED"), c.stopped);
    EXPECT_NE(LastLog().Find(c.logLine), CUnicodeString::npos) << LastLog();
    EXPECT_EQ(LastLog().Find(L"QueryMSDTSServiceStatus\r\n\r\n"), 0u);
  }
}
