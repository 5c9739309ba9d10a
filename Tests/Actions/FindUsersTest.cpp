// The user-or-group picker's result, the current user's names and the selection check.
#include "ActionTest.h"

using namespace TestSupport;

using FindUsersTest = AccountActionsTest;

TEST_F(FindUsersTest, PickerResultBecomesNameAndDistinguishedName) {
  const Accounts::CPickedObject alice{L"Alice Smith", L"LDAP://dc1.corp/CN=Alice Smith,OU=Staff,DC=corp"};
  const CProperties before{
      {L"UOG_DISPLAY_NAME", L"before"}, {L"UOG_DISTINGUISH_NAME", L"before"}, {L"IS_FINDUSERS", L"before"}};
  const std::tuple<std::vector<Accounts::CPickedObject>, std::optional<HRESULT>, UINT> refused[] = {
      {{}, std::nullopt, 0},                 // cancelled: nothing set
      {{alice, alice}, std::nullopt, 1603},  // single selection only
      {{{L"Bob", L"no-slash"}}, std::nullopt, 1603},
      {{}, E_ACCESSDENIED, 1603},
  };
  for (const auto& [picked, failure, result] : refused) {
    fakes.picker.picked = picked;
    fakes.picker.failure = failure;
    RunCases({{"FindUsers", before, before, result}});
  }
  fakes.picker.picked = {alice};
  fakes.picker.failure.reset();
  RunCases({{"FindUsers", before,
             L"UOG_DISPLAY_NAME=Alice Smith|UOG_DISTINGUISH_NAME=CN=Alice Smith,OU=Staff,DC=corp|IS_FINDUSERS=Yes"}});
}

TEST_F(FindUsersTest, CurrentUserAndSelectionCheck) {
  fakes.directory.userNames = {{1, L"CN=root,DC=corp"}, {3, L"Root User"}};
  RunCases({{"GetCurrentFindUsers", {}, L"UOG_DISPLAY_NAME=Root User|UOG_DISTINGUISH_NAME=CN=root,DC=corp"}});
  fakes.directory.userNames.erase(1);  // no distinguished name: no display name either
  RunCases({{"GetCurrentFindUsers", {}, L"UOG_DISPLAY_NAME="}});

  Set(L"MT_UOG_DISPLAY_NAME_empty=Choose a user or group");
  const CBoxes choose = {{L"Choose a user or group", MB_ICONINFORMATION}};
  for (const auto& [name, distinguishedName, valid] :
       {std::tuple{L"Alice", L"CN=Alice", L"Yes"}, {L"   ", L"CN=Alice", L""}, {L"Alice", L"", L""}})
    RunCases({{"CheckUOG_DISPLAY_NAME",
               {{L"UOG_DISPLAY_NAME", name}, {L"UOG_DISTINGUISH_NAME", distinguishedName}},
               {{L"UOG_VALID", valid}},
               0,
               *valid ? CBoxes{} : choose}});
}
