// Login normalisation, the service-logon checks, password confirmation and SIDLookup. Account
// lookups are real (Wine knows "root"); logon and rights go through the fakes.
#include "AccountTestSupport.h"
#include "ChildProcessTest.h"

using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall NormalizeLogin(MSIHANDLE);
UINT __stdcall NormalizeLoginExt(MSIHANDLE);
UINT __stdcall CheckLoginInUI(MSIHANDLE);
UINT __stdcall CheckLoginInExecute(MSIHANDLE);
UINT __stdcall CheckLoginExtInUI(MSIHANDLE);
UINT __stdcall CheckPasswordExt(MSIHANDLE);
UINT __stdcall CheckIsUserDomain(MSIHANDLE);
UINT __stdcall SIDLookup(MSIHANDLE);
}

using UserAccountTest = AccountActionsTest;

TEST_F(UserAccountTest, NormalizeLoginCollapsesBackslashesAndAddsThisComputer) {
  const struct {
    const wchar_t *typed, *normalised;
  } cases[] = {
      {L"user", L".\\user"},    {L"  DOM\\\\user ", L"DOM\\user"},
      {L"a\\\\\\\\b", L"a\\b"}, {L"dom\\", L"dom\\"},
      {L"Иван", L".\\Иван"},    {L"", L""},
  };
  package.SetProperty(L"MT_EmptyLoginForServices", L"Enter the service login");
  package.SetProperty(L"LOGIN_NAME", L"SVC_LOGIN");
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.typed));
    package.SetProperty(L"LOGIN", c.typed);
    package.SetProperty(L"SVC_LOGIN", c.typed);
    EXPECT_EQ(Run(NormalizeLogin), 0u);
    EXPECT_EQ(package.Property(L"LOGIN"), c.normalised);
    EXPECT_EQ(package.Property(L"LOGIN_VALID"), *c.typed ? L"Yes" : L"");
    ASSERT_EQ(ui.shown.size(), *c.typed ? 0u : 1u);
    if (!*c.typed) {
      EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ICONERROR));
    }
    EXPECT_EQ(Run(NormalizeLoginExt), 0u);
    EXPECT_EQ(package.Property(L"SVC_LOGIN"), c.normalised);
    EXPECT_EQ(package.Property(L"SVC_LOGIN_VALID"), *c.typed ? L"Yes" : L"");
  }
  package.SetProperty(L"LOGIN_NAME", L"");
  EXPECT_EQ(Run(NormalizeLoginExt), 1603u);
}

TEST_F(UserAccountTest, CheckLoginGrantsTheRightThenLogsOn) {
  fakes.logon.passwords[L".\\root"] = L"right";
  package.SetProperty(L"MT_EmptyLoginForServices", L"Enter the service login");
  const std::wstring longLogin(300, L'x');
  const struct {
    const wchar_t *login, *password;
    UINT result;
    bool logonTried, messageShown;
  } cases[] = {
      {L"root", L"right", 0, true, false},
      {L".\\root", L"wrong", 1603, true, false},       // the logon refuses: the error is reported
      {L"nobody-here", L"right", 1603, false, false},  // unknown account (1332)
      {L"dom\\", L"right", 1603, false, false},        // no user part: the user exception
      {L"", L"right", 1603, false, true},              // the empty-login message, then the user exception
      {longLogin.c_str(), L"x", 1603, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.login));
    fakes.rights.holders.clear();
    fakes.rights.granted.clear();
    fakes.logon.logons.clear();
    package.SetProperty(L"LOGON_VALID", L"stale");
    package.SetProperty(L"LOGIN", c.login);
    package.SetProperty(L"PASSWORD", c.password);
    const size_t errors = package.InstallerErrors().size();
    EXPECT_EQ(Run(CheckLoginInUI), c.result) << LastLog();
    EXPECT_EQ(package.Property(L"LOGON_VALID"), c.result == 0 ? L"Yes" : L"");
    EXPECT_EQ(fakes.logon.logons.size(), c.logonTried ? 1u : 0u);
    if (c.logonTried) {
      EXPECT_EQ(fakes.rights.granted, std::vector<std::wstring>{kRootSid});
    }
    EXPECT_EQ(ui.shown.size(), c.messageShown ? 1u : 0u);
    // A system error is reported once; the user exception adds no message.
    const bool systemError = c.result != 0 && c.login[0] && CUnicodeString(c.login) != L"dom\\";
    EXPECT_EQ(package.InstallerErrors().size() - errors, systemError ? 1u : 0u);
  }
  // An account that already holds the right is not granted it again; the Ext form reads the
  // properties the package names, and the execute form is the same check.
  fakes.rights.holders = {kRootSid};
  fakes.rights.granted.clear();
  package.SetProperty(L"LOGIN_NAME", L"SVC_LOGIN");
  package.SetProperty(L"PASSWORD_NAME", L"SVC_PASSWORD");
  package.SetProperty(L"SVC_LOGIN", L"root");
  package.SetProperty(L"SVC_PASSWORD", L"right");
  EXPECT_EQ(Run(CheckLoginExtInUI), 0u);
  EXPECT_EQ(package.Property(L"SVC_LOGIN"), L".\\root");
  EXPECT_EQ(package.Property(L"SVC_LOGIN_VALID"), L"Yes");
  EXPECT_TRUE(fakes.rights.granted.empty());
  package.SetProperty(L"LOGIN", ComputerNameForTests() + L"\\root");
  package.SetProperty(L"PASSWORD", L"right");
  fakes.logon.passwords[(ComputerNameForTests() + L"\\root").ToStdString()] = L"right";
  EXPECT_EQ(Run(CheckLoginInExecute), 0u) << LastLog();
  EXPECT_EQ(package.Property(L"LOGON_VALID"), L"Yes");
  EXPECT_NE(LastLog().Find(L"CheckLogin\r\n\r\n"), CUnicodeString::npos);
}

TEST_F(UserAccountTest, CheckPasswordExtComparesThenChecksCharacters) {
  package.SetProperty(L"PASSWORD_NAME", L"SVC_PASSWORD");
  package.SetProperty(L"MT_InvalidatePassword", L"The passwords differ");
  package.SetProperty(L"MT_BadPassword", L"Not allowed: %0");
  const std::wstring longPassword(300, L'k');
  const struct {
    const wchar_t *password, *confirmation, *check, *shown;
  } cases[] = {
      {L"Abc123", L"Abc123", L"1", nullptr},
      {L"abc_123", L"abc_123", L"1", L"Not allowed: _"},
      {L"a;b\"c;é", L"a;b\"c;é", L"yes", L"Not allowed: ;\";É"},
      {L"abc_1", L"abd_1", L"1", L"The passwords differ"},  // the mismatch is reported, not the characters
      {L"abc_1", L"abc_1", L"", nullptr},
      {longPassword.c_str(), longPassword.c_str(), L"1", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.password));
    package.SetProperty(L"SVC_PASSWORD", c.password);
    package.SetProperty(L"SVC_PASSWORD1", c.confirmation);
    package.SetProperty(L"PASSWORD_CHECK", c.check);
    EXPECT_EQ(Run(CheckPasswordExt), 0u);
    EXPECT_EQ(package.Property(L"SVC_PASSWORD_VALID"), c.shown ? L"" : L"Yes");
    ASSERT_EQ(ui.shown.size(), c.shown ? 1u : 0u);
    if (c.shown) {
      EXPECT_EQ(ui.shown[0].text, c.shown);
      EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ICONERROR));
    }
  }
}

TEST_F(UserAccountTest, PasswordsNeverReachALogOrAMessage) {
  const std::wstring password = L"Pw\"Secret;Marker'" + std::wstring(260, L'q');
  fakes.logon.passwords[L".\\root"] = password;
  fakes.join.domain = L"corp.example";
  for (const auto& [name, value] :
       std::vector<std::pair<const wchar_t*, CUnicodeString>>{{L"LOGIN", L"root"},
                                                              {L"PASSWORD", password},
                                                              {L"LOGIN_NAME", L"SVC_LOGIN"},
                                                              {L"PASSWORD_NAME", L"SVC_PASSWORD"},
                                                              {L"SVC_LOGIN", L"root"},
                                                              {L"SVC_PASSWORD", password},
                                                              {L"SVC_PASSWORD1", password + L"x"},
                                                              {L"PASSWORD_CHECK", L"1"},
                                                              {L"MT_InvalidatePassword", L"differ"},
                                                              {L"MT_BadPassword", L"bad %0"}})
    package.SetProperty(name, value);
  const size_t logStartAll = SessionTests::ActionLog(package).Length();
  for (const bool right : {true, false}) {
    package.SetProperty(L"PASSWORD", right ? CUnicodeString(password) : CUnicodeString(password + L"!"));
    package.SetProperty(L"SVC_PASSWORD1", right ? CUnicodeString(password) : CUnicodeString(password + L"x"));
    EXPECT_EQ(Run(CheckLoginInUI), right ? 0u : 1603u);
    EXPECT_EQ(Run(CheckLoginExtInUI), 0u);
    EXPECT_EQ(Run(CheckPasswordExt), 0u);
    EXPECT_EQ(Run(CheckIsUserDomain), 0u);
    for (const auto& shown : ui.shown) EXPECT_EQ(shown.text.Find(L"Secret;Marker"), CUnicodeString::npos);
  }
  EXPECT_EQ(SessionTests::ActionLog(package).Mid(logStartAll).Find(L"Secret;Marker"), CUnicodeString::npos);
  for (const CUnicodeString& error : package.InstallerErrors())
    EXPECT_EQ(error.Find(L"Secret;Marker"), CUnicodeString::npos);
  EXPECT_EQ(fakes.directory.binds.size(), 2u);  // the password did reach the directory
}

// Real lookups under Wine: the well-known accounts resolve, except S-1-5-32-553, which keeps the
// package's value.
TEST_F(UserAccountTest, SidLookupPublishesTheLocalNames) {
  package.SetProperty(L"SID_BUILTIN_RAS_SERVERS", L"kept");
  EXPECT_EQ(Run(SIDLookup), 0u);
  EXPECT_EQ(package.Property(L"SID_EVERYONE"), L"Everyone");  // no domain: the bare name
  EXPECT_EQ(package.Property(L"SID_SYSTEM"), L"NT AUTHORITY\\SYSTEM");
  EXPECT_EQ(package.Property(L"SID_BUILTIN_ADMINISTRATORS"), L"BUILTIN\\Administrators");
  EXPECT_EQ(package.Property(L"SID_BUILTIN_RAS_SERVERS"), L"kept");
  const CUnicodeString log = LastLog();
  EXPECT_EQ(log.Find(L"SIDLookup\r\n\r\n"), 0u);
  EXPECT_NE(log.Find(L"Set SID_SELF = "), CUnicodeString::npos);
  EXPECT_EQ(log.Find(L"SID_BUILTIN_RAS_SERVERS"), CUnicodeString::npos);
}
