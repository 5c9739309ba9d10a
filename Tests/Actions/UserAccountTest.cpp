// Login normalisation, the service-logon checks, password confirmation and SIDLookup. Account
// lookups are real (Wine knows "root"); logon and rights go through the fakes.
#include "ActionTest.h"

using namespace TestSupport;

namespace {

// This computer's name, as the lookups use it for ".".
CUnicodeString ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  ::GetComputerNameW(name, &size);
  return name;
}

// The SID Wine gives its only real account, "root".
constexpr wchar_t kRootSid[] = L"S-1-5-21-0-0-0-1000";

}  // namespace

using UserAccountTest = AccountActionsTest;

TEST_F(UserAccountTest, NormalizeLoginCollapsesBackslashesAndAddsThisComputer) {
  Set(L"MT_EmptyLoginForServices=Enter the service login|LOGIN_NAME=SVC_LOGIN");
  for (const auto& [typed, normalised] : {std::pair{L"user", L".\\user"},
                                          {L"  DOM\\\\user ", L"DOM\\user"},
                                          {L"a\\\\\\\\b", L"a\\b"},
                                          {L"dom\\", L"dom\\"},
                                          {L"", L""}}) {
    const CBoxes empty = {{L"Enter the service login", MB_ICONERROR}};
    RunCases({{"NormalizeLogin",
               {{L"LOGIN", typed}},
               {{L"LOGIN", normalised}, {L"LOGIN_VALID", *typed ? L"Yes" : L""}},
               0,
               *typed ? CBoxes{} : empty},
              {"NormalizeLoginExt",
               {{L"SVC_LOGIN", typed}},
               {{L"SVC_LOGIN", normalised}, {L"SVC_LOGIN_VALID", *typed ? L"Yes" : L""}},
               0,
               *typed ? CBoxes{} : empty}});
  }
  RunCases({{"NormalizeLoginExt", L"LOGIN_NAME=", L"", 1603}});
}

TEST_F(UserAccountTest, CheckLoginGrantsTheRightThenLogsOn) {
  fakes.logon.passwords[L".\\root"] = L"right";
  Set(L"MT_EmptyLoginForServices=Enter the service login");
  // reported: a system error reaches the installer
  const std::tuple<const wchar_t*, const wchar_t*, UINT, bool, bool, bool> cases[] = {
      {L"root", L"right", 0, true, false, false},
      {L".\\root", L"wrong", 1603, true, false, true},       // the logon refuses: the error is reported
      {L"nobody-here", L"right", 1603, false, false, true},  // unknown account (1332)
      {L"dom\\", L"right", 1603, false, false, false},       // no user part: the user exception
      {L"", L"right", 1603, false, true, false},             // the empty-login message, then the user exception
  };
  for (const auto& [login, password, result, logonTried, messageShown, reported] : cases) {
    SCOPED_TRACE(CUnicodeString(login));
    fakes.rights.holders.clear();
    fakes.rights.granted.clear();
    fakes.logon.logons.clear();
    const size_t errorsBefore = package.InstallerErrors().size();
    Set({{L"LOGON_VALID", L"stale"}, {L"LOGIN", login}, {L"PASSWORD", password}});
    EXPECT_EQ(Call("CheckLoginInUI"), result);
    Expect({{L"LOGON_VALID", result == 0 ? L"Yes" : L""}});
    EXPECT_EQ(fakes.logon.logons.size(), logonTried ? 1u : 0u);
    EXPECT_EQ(fakes.rights.granted, logonTried ? std::vector<std::wstring>{kRootSid} : std::vector<std::wstring>{});
    EXPECT_EQ(Boxes().size(), messageShown ? 1u : 0u);
    EXPECT_EQ(package.InstallerErrors().size() - errorsBefore, reported ? 1u : 0u);
  }
  // An account that already holds the right is not granted it again; the Ext form reads the
  // properties the package names, and the execute form is the same check.
  fakes.rights.holders = {kRootSid};
  fakes.rights.granted.clear();
  fakes.logon.passwords[(ComputerName() + L"\\root").ToStdString()] = L"right";
  RunCases(
      {{"CheckLoginExtInUI", L"LOGIN_NAME=SVC_LOGIN|PASSWORD_NAME=SVC_PASSWORD|SVC_LOGIN=root|SVC_PASSWORD=right",
        L"SVC_LOGIN=.\\root|SVC_LOGIN_VALID=Yes"},
       {"CheckLoginInExecute", {{L"LOGIN", ComputerName() + L"\\root"}, {L"PASSWORD", L"right"}}, L"LOGON_VALID=Yes"}});
  EXPECT_TRUE(fakes.rights.granted.empty());
}

TEST_F(UserAccountTest, CheckPasswordExtComparesThenChecksCharacters) {
  Set(L"PASSWORD_NAME=SVC_PASSWORD|MT_InvalidatePassword=The passwords differ|MT_BadPassword=Not allowed: %0");
  const auto check = [](const wchar_t* password, const wchar_t* confirmation, const wchar_t* flag,
                        const wchar_t* shown) {
    return CActionCase{"CheckPasswordExt",
                       {{L"SVC_PASSWORD", password}, {L"SVC_PASSWORD1", confirmation}, {L"PASSWORD_CHECK", flag}},
                       {{L"SVC_PASSWORD_VALID", shown ? L"" : L"Yes"}},
                       0,
                       shown ? CBoxes{CBox{shown, MB_ICONERROR}} : CBoxes{}};
  };
  RunCases({check(L"Abc123", L"Abc123", L"1", nullptr), check(L"abc_123", L"abc_123", L"1", L"Not allowed: _"),
            check(L"a;b\"c;é", L"a;b\"c;é", L"yes", L"Not allowed: ;\";É"),
            check(L"abc_1", L"abd_1", L"1", L"The passwords differ"),  // the mismatch, not the characters
            check(L"abc_1", L"abc_1", L"", nullptr)});
}

TEST_F(UserAccountTest, PasswordsNeverReachALogOrAMessage) {
  const CUnicodeString password = L"Pw\"Secret;Marker'" + CUnicodeString(260, L'q');
  fakes.logon.passwords[L".\\root"] = password.ToStdString();
  fakes.join.domain = L"corp.example";
  Set(L"LOGIN=root|LOGIN_NAME=SVC_LOGIN|PASSWORD_NAME=SVC_PASSWORD|SVC_LOGIN=root|PASSWORD_CHECK=1|"
      L"MT_InvalidatePassword=differ|MT_BadPassword=bad %0|SVC_PASSWORD=" +
      password);
  for (const bool right : {true, false}) {
    Set({{L"PASSWORD", right ? password : password + L"!"}, {L"SVC_PASSWORD1", right ? password : password + L"x"}});
    EXPECT_EQ(Call("CheckLoginInUI"), right ? 0u : 1603u);
    EXPECT_EQ(Call("CheckLoginExtInUI") + Call("CheckPasswordExt") + Call("CheckIsUserDomain"), 0u);
    for (const auto& shown : ui.shown) EXPECT_EQ(shown.text.Find(L"Secret;Marker"), CUnicodeString::npos);
  }
  EXPECT_FALSE(Logged(L"Secret;Marker"));
  for (const CUnicodeString& error : package.InstallerErrors())
    EXPECT_EQ(error.Find(L"Secret;Marker"), CUnicodeString::npos);
  EXPECT_EQ(fakes.directory.binds.size(), 2u);  // the password did reach the directory
}

// Real lookups under Wine: the well-known accounts resolve, except S-1-5-32-553, which keeps the
// package's value.
TEST_F(UserAccountTest, SidLookupPublishesTheLocalNames) {
  RunCases({{"SIDLookup",
             L"SID_BUILTIN_RAS_SERVERS=kept",
             {{L"SID_EVERYONE", L"Everyone"},  // no domain: the bare name
              {L"SID_SYSTEM", L"NT AUTHORITY\\SYSTEM"},
              {L"SID_BUILTIN_ADMINISTRATORS", L"BUILTIN\\Administrators"},
              {L"SID_BUILTIN_RAS_SERVERS", L"kept"}}}});
  EXPECT_FALSE(Property(L"SID_SELF").IsEmpty());
}
