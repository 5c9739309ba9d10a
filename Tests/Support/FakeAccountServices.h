// In-memory account and directory services for the account tests: accounts with passwords, the
// holders of the right to log on as a service, a domain, the process's administrator status,
// a transaction service with an account and a state, directory groups with nested members, and
// the picker's answer. CFakeAccountServices installs all of them for its lifetime.
#pragma once
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>
#include "DirectoryServices.h"
#include "Errors.h"
// sddl.h after windows.h
#include <sddl.h>

namespace TestSupport {

inline std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return {};
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

class CFakeLogon : public Accounts::CLogonService {
 public:
  void LogonAsService(const Vrn::CUnicodeString& user, const Vrn::CUnicodeString& domain,
                      const Vrn::CUnicodeString& password) override {
    logons.push_back((domain + L"\\" + user).ToStdString());
    const auto account = passwords.find(logons.back());
    if (account == passwords.end() || account->second != password.View())
      Vrn::Raise<Vrn::CLastErrorException>(static_cast<DWORD>(ERROR_LOGON_FAILURE));
  }
  std::map<std::wstring, std::wstring> passwords;  // "domain\user" as LogonUserW gets it
  std::vector<std::wstring> logons;
};

class CFakeAccountRights : public Accounts::CAccountRights {
 public:
  bool HoldsServiceLogonRight(PSID account) override { return holders.count(SidText(account)) != 0; }
  void AddServiceLogonRight(PSID account) override {
    granted.push_back(SidText(account));
    holders.insert(granted.back());
  }
  std::set<std::wstring> holders;  // SIDs in string form
  std::vector<std::wstring> granted;
};

class CFakeJoinState : public Accounts::CJoinState {
 public:
  std::optional<Vrn::CUnicodeString> JoinedDomain() override { return domain; }
  std::optional<Vrn::CUnicodeString> domain;
};

class CFakeElevation : public Accounts::CElevation {
 public:
  bool UserIsAdministrator() override { return admin; }
  std::optional<DWORD> TokenElevationType() override { return elevationType; }
  bool admin = false;
  std::optional<DWORD> elevationType;
};

class CFakeServiceControl : public Accounts::CServiceControl {
 public:
  Accounts::CServiceAccount QueryStartAccount(const Vrn::CUnicodeString& service) override {
    queried.push_back(service.ToStdString());
    return account;
  }
  Accounts::CServiceState QueryState(const Vrn::CUnicodeString& service) override {
    queried.push_back(service.ToStdString());
    return state;
  }
  bool Start(const Vrn::CUnicodeString& service) override {
    started.push_back(service.ToStdString());
    return startSucceeds;
  }
  Accounts::CServiceAccount account;
  Accounts::CServiceState state;
  bool startSucceeds = true;
  std::vector<std::wstring> queried, started;
};

class CFakeDirectory : public Accounts::CDirectory {
 public:
  bool TranslatesNt4Name(const Vrn::CUnicodeString& login) override { return domainUsers.count(login.ToStdString()); }
  std::vector<Accounts::CDirectoryObject> LocalGroups() override { return groups; }
  std::vector<Accounts::CDirectoryObject> GroupMembers(const Vrn::CUnicodeString& groupPath) override {
    const auto found = members.find(groupPath.ToStdString());
    return found == members.end() ? std::vector<Accounts::CDirectoryObject>{} : found->second;
  }
  bool BindsWithCredentials(const Vrn::CUnicodeString& path, const Vrn::CUnicodeString& login,
                            const Vrn::CUnicodeString& password) override {
    binds.push_back(path.ToStdString());
    return ldapPath == path.View() && ldapLogin == login.View() && ldapPassword == password.View();
  }
  Vrn::CUnicodeString CurrentUserName(int format) override {
    const auto found = userNames.find(format);
    return found == userNames.end() ? Vrn::CUnicodeString() : Vrn::CUnicodeString(found->second);
  }
  std::set<std::wstring> domainUsers;
  std::vector<Accounts::CDirectoryObject> groups;
  std::map<std::wstring, std::vector<Accounts::CDirectoryObject>> members;
  std::wstring ldapPath, ldapLogin, ldapPassword;
  std::vector<std::wstring> binds;
  std::map<int, std::wstring> userNames;
};

class CFakeObjectPicker : public Accounts::CObjectPicker {
 public:
  std::vector<Accounts::CPickedObject> PickUsersOrGroups(HWND) override {
    if (failure) Vrn::Raise<Vrn::CCOMException>(*failure);
    return picked;
  }
  std::vector<Accounts::CPickedObject> picked;
  std::optional<HRESULT> failure;
};

// Every fake, installed for the object's lifetime.
struct CFakeAccountServices {
  CFakeLogon logon;
  CFakeAccountRights rights;
  CFakeJoinState join;
  CFakeElevation elevation;
  CFakeServiceControl services;
  CFakeDirectory directory;
  CFakeObjectPicker picker;

 private:
  Accounts::CServiceOverride<Accounts::CLogonService> m_logon{logon};
  Accounts::CServiceOverride<Accounts::CAccountRights> m_rights{rights};
  Accounts::CServiceOverride<Accounts::CJoinState> m_join{join};
  Accounts::CServiceOverride<Accounts::CElevation> m_elevation{elevation};
  Accounts::CServiceOverride<Accounts::CServiceControl> m_services{services};
  Accounts::CServiceOverride<Accounts::CDirectory> m_directory{directory};
  Accounts::CServiceOverride<Accounts::CObjectPicker> m_picker{picker};
};

}  // namespace TestSupport
