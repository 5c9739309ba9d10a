// The directory services the domain checks and the user picker go through: name translation,
// the local computer's groups and their members, an authenticated LDAP bind, the current user's
// extended names, and the directory object picker. Each is a small interface with one real
// implementation (ADSI and secur32, loaded when first used); tests replace one for a scope with
// Accounts::CServiceOverride.
#pragma once
#include <vector>
#include "AccountServices.h"

namespace Accounts {

// One object of the local directory ("WinNT://" provider).
struct CDirectoryObject {
  CUnicodeString path;  // the object's directory path
  CUnicodeString sid;   // "objectSid" in string form (groups of the computer only)
  bool isGroup = false;
};

class CDirectory {
 public:
  virtual ~CDirectory() = default;
  // NameTranslate initialised for the global catalog and given the login in NT4 form; true when
  // both calls succeed.
  virtual bool TranslatesNt4Name(const CUnicodeString& login);
  // The groups of "WinNT://.,computer" with their SIDs; empty when the directory fails.
  virtual std::vector<CDirectoryObject> LocalGroups();
  // The members of a group, read ten at a time; empty when the directory fails.
  virtual std::vector<CDirectoryObject> GroupMembers(const CUnicodeString& groupPath);
  // ADsOpenObject on the path with the credentials and secure authentication; true when bound.
  virtual bool BindsWithCredentials(const CUnicodeString& path, const CUnicodeString& login,
                                    const CUnicodeString& password);
  // GetUserNameExW in the given format (1 distinguished name, 3 display name); empty on failure.
  virtual CUnicodeString CurrentUserName(int format);
};
CDirectory& Directory();

// One object chosen in the picker.
struct CPickedObject {
  CUnicodeString name;
  CUnicodeString path;
};

class CObjectPicker {
 public:
  virtual ~CObjectPicker() = default;
  // Shows the directory object picker for users and groups owned by `owner` and returns what was
  // chosen (nothing when cancelled). A failing COM call raises the COM error.
  virtual std::vector<CPickedObject> PickUsersOrGroups(HWND owner);
};
CObjectPicker& ObjectPicker();

// COM for the calling thread for the object's lifetime (CoInitialize / CoUninitialize).
class CComApartment {
 public:
  CComApartment();
  ~CComApartment();
  CComApartment(const CComApartment&) = delete;
  CComApartment& operator=(const CComApartment&) = delete;

 private:
  bool m_initialized;
};

// True when the directory knows the login as a domain account (NT4 form "DOMAIN\user").
bool IsUserInDomain(const CUnicodeString& login);

// True when the login is a member of the computer's built-in Administrators group (S-1-5-32-544),
// directly or through nested groups; members compare as "WinNT://" paths ignoring ASCII case.
bool IsUserLocalAdmin(const CUnicodeString& login);

}  // namespace Accounts
