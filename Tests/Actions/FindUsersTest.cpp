// The user-or-group picker's result, the current user's names and the selection check.
#include "AccountTestSupport.h"

using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall FindUsers(MSIHANDLE);
UINT __stdcall GetCurrentFindUsers(MSIHANDLE);
UINT __stdcall CheckUOG_DISPLAY_NAME(MSIHANDLE);
}

using FindUsersTest = AccountActionsTest;

TEST_F(FindUsersTest, PickerResultBecomesNameAndDistinguishedName) {
  const Accounts::CPickedObject alice{L"Alice Smith", L"LDAP://dc1.corp/CN=Alice Smith,OU=Staff,DC=corp"};
  const struct {
    std::vector<Accounts::CPickedObject> picked;
    std::optional<HRESULT> failure;
    UINT result;
    const wchar_t *name, *distinguishedName, *found;
  } cases[] = {
      {{}, std::nullopt, 0, L"before", L"before", L"before"},  // cancelled: nothing set
      {{alice}, std::nullopt, 0, L"Alice Smith", L"CN=Alice Smith,OU=Staff,DC=corp", L"Yes"},
      {{alice, alice}, std::nullopt, 1603, L"before", L"before", L"before"},  // single selection only
      {{{L"Bob", L"no-slash"}}, std::nullopt, 1603, L"before", L"before", L"before"},
      {{}, E_ACCESSDENIED, 1603, L"before", L"before", L"before"},
  };
  for (const auto& c : cases) {
    fakes.picker.picked = c.picked;
    fakes.picker.failure = c.failure;
    for (const wchar_t* property : {L"UOG_DISPLAY_NAME", L"UOG_DISTINGUISH_NAME", L"IS_FINDUSERS"})
      package.SetProperty(property, L"before");
    EXPECT_EQ(Run(FindUsers), c.result);
    EXPECT_EQ(package.Property(L"UOG_DISPLAY_NAME"), c.name);
    EXPECT_EQ(package.Property(L"UOG_DISTINGUISH_NAME"), c.distinguishedName);
    EXPECT_EQ(package.Property(L"IS_FINDUSERS"), c.found);
  }
}

TEST_F(FindUsersTest, CurrentUserAndSelectionCheck) {
  fakes.directory.userNames = {{1, L"CN=root,DC=corp"}, {3, L"Root User"}};
  EXPECT_EQ(Run(GetCurrentFindUsers), 0u);
  EXPECT_EQ(package.Property(L"UOG_DISPLAY_NAME"), L"Root User");
  EXPECT_EQ(package.Property(L"UOG_DISTINGUISH_NAME"), L"CN=root,DC=corp");
  fakes.directory.userNames.erase(1);  // no distinguished name: no display name either
  EXPECT_EQ(Run(GetCurrentFindUsers), 0u);
  EXPECT_EQ(package.Property(L"UOG_DISPLAY_NAME"), L"");

  package.SetProperty(L"MT_UOG_DISPLAY_NAME_empty", L"Choose a user or group");
  const struct {
    const wchar_t *name, *distinguishedName, *valid;
  } cases[] = {{L"Alice", L"CN=Alice", L"Yes"}, {L"   ", L"CN=Alice", L""}, {L"Alice", L"", L""}};
  for (const auto& c : cases) {
    package.SetProperty(L"UOG_DISPLAY_NAME", c.name);
    package.SetProperty(L"UOG_DISTINGUISH_NAME", c.distinguishedName);
    EXPECT_EQ(Run(CheckUOG_DISPLAY_NAME), 0u);
    EXPECT_EQ(package.Property(L"UOG_VALID"), c.valid);
    ASSERT_EQ(ui.shown.size(), *c.valid ? 0u : 1u);
    if (!*c.valid) {
      EXPECT_EQ(ui.shown[0].text, L"Choose a user or group");
      EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ICONINFORMATION));
    }
  }
}
