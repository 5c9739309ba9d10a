// The real directory services: ADSI ("WinNT://" and "LDAP://" providers, NameTranslate) and
// GetUserNameExW, loaded from activeds.dll and secur32.dll when first used, and the object picker.
#include "DirectoryServices.h"

#include <set>
#include "Errors.h"
#include "TextLimits.h"
// COM and automation before the directory headers (the build defines WIN32_LEAN_AND_MEAN)
#include <ole2.h>
// then the directory headers
#include <iads.h>
#include <objsel.h>
#include <sddl.h>

namespace Accounts {

namespace {

constexpr GUID kClsidNameTranslate = {0x274fae1f, 0x3626, 0x11d1, {0xa3, 0xa4, 0x00, 0xc0, 0x4f, 0xb9, 0x50, 0xdc}};
constexpr GUID kIidNameTranslate = {0xb1b272a3, 0x3625, 0x11d1, {0xa3, 0xa4, 0x00, 0xc0, 0x4f, 0xb9, 0x50, 0xdc}};
constexpr GUID kIidAds = {0xfd8256d0, 0xfd15, 0x11ce, {0xab, 0xc4, 0x02, 0x60, 0x8c, 0x9e, 0x75, 0x53}};
constexpr GUID kIidAdsContainer = {0x001677d0, 0xfd16, 0x11ce, {0xab, 0xc4, 0x02, 0x60, 0x8c, 0x9e, 0x75, 0x53}};
constexpr GUID kIidAdsGroup = {0x27636b00, 0x410f, 0x11cf, {0xb1, 0xff, 0x02, 0x60, 0x8c, 0x9e, 0x75, 0x53}};

// Owns one COM interface pointer.
template <class Interface>
class CComRef {
 public:
  CComRef() = default;
  ~CComRef() {
    if (m_pointer) m_pointer->Release();
  }
  CComRef(const CComRef&) = delete;
  CComRef& operator=(const CComRef&) = delete;
  Interface* operator->() const noexcept { return m_pointer; }
  Interface* Get() const noexcept { return m_pointer; }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(&m_pointer); }
  Interface** Put() noexcept { return &m_pointer; }
  explicit operator bool() const noexcept { return m_pointer != nullptr; }

 private:
  Interface* m_pointer = nullptr;
};

// Owns one BSTR.
struct CBstr {
  explicit CBstr(const wchar_t* text = nullptr) : value(text ? ::SysAllocString(text) : nullptr) {}
  ~CBstr() { ::SysFreeString(value); }
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  BSTR value;
};

// Owns one VARIANT.
struct CVariant {
  CVariant() { ::VariantInit(&value); }
  ~CVariant() { ::VariantClear(&value); }
  CVariant(const CVariant&) = delete;
  CVariant& operator=(const CVariant&) = delete;
  VARIANT value;
};

template <class Function>
Function Export(const wchar_t* library, const char* name) {
  // Loaded once and kept for the process: the directory client stays usable across calls.
  const HMODULE module = ::LoadLibraryW(library);
  return module ? Vrn::ProcAddress<Function>(module, name) : nullptr;
}

using AdsGetObjectFunction = HRESULT(WINAPI*)(LPCWSTR, REFIID, void**);
using AdsOpenObjectFunction = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, REFIID, void**);
using UserNameExFunction = BOOLEAN(WINAPI*)(int, LPWSTR, PULONG);

HRESULT GetDirectoryObject(const CUnicodeString& path, REFIID iid, void** object) {
  static const auto getObject = Export<AdsGetObjectFunction>(L"activeds.dll", "ADsGetObject");
  return getObject ? getObject(path.c_str(), iid, object) : E_NOTIMPL;
}

CUnicodeString AdsPath(IADs* object) {
  CBstr path;
  return SUCCEEDED(object->get_ADsPath(&path.value)) ? CUnicodeString(path.value) : CUnicodeString();
}

// "objectSid" in string form, or the empty text.
CUnicodeString ObjectSid(IADs* object) {
  CVariant sid;
  CBstr property(L"objectSid");
  if (FAILED(object->Get(property.value, &sid.value)) || sid.value.vt != (VT_ARRAY | VT_UI1)) return {};
  void* bytes = nullptr;
  if (FAILED(::SafeArrayAccessData(sid.value.parray, &bytes))) return {};
  CUnicodeString text;
  wchar_t* converted = nullptr;
  if (::IsValidSid(bytes) && ::ConvertSidToStringSidW(bytes, &converted)) {
    text = converted;
    ::LocalFree(converted);
  }
  ::SafeArrayUnaccessData(sid.value.parray);
  return text;
}

// Calls `visit` for every directory object of an enumerable collection, `batch` at a time.
template <class Visit>
void ForEachObject(IUnknown* enumerable, ULONG batch, Visit visit) {
  CComRef<IEnumVARIANT> items;
  if (!enumerable || FAILED(enumerable->QueryInterface(IID_IEnumVARIANT, items.PutVoid()))) return;
  std::vector<VARIANT> fetched(batch);
  for (;;) {
    ULONG count = 0;
    for (VARIANT& item : fetched) ::VariantInit(&item);
    const HRESULT result = items->Next(batch, fetched.data(), &count);
    for (ULONG index = 0; index < count; ++index) {
      CComRef<IADs> object;
      if (fetched[index].vt == VT_DISPATCH && fetched[index].pdispVal &&
          SUCCEEDED(fetched[index].pdispVal->QueryInterface(kIidAds, object.PutVoid())))
        visit(object.Get());
      ::VariantClear(&fetched[index]);
    }
    if (result != S_OK || count == 0) return;
  }
}

}  // namespace

CDirectory& Directory() { return ActiveService<CDirectory>(); }
CObjectPicker& ObjectPicker() { return ActiveService<CObjectPicker>(); }

bool CDirectory::TranslatesNt4Name(const CUnicodeString& login) {
  Vrn::CheckAccountName(login);
  CComRef<IADsNameTranslate> translator;
  if (FAILED(::CoCreateInstance(kClsidNameTranslate, nullptr, CLSCTX_INPROC_SERVER, kIidNameTranslate,
                                translator.PutVoid())))
    return false;
  CBstr none(L""), name(login.c_str());
  return SUCCEEDED(translator->Init(ADS_NAME_INITTYPE_GC, none.value)) &&
         SUCCEEDED(translator->Set(ADS_NAME_TYPE_NT4, name.value));
}

std::vector<CDirectoryObject> CDirectory::LocalGroups() {
  std::vector<CDirectoryObject> groups;
  CComRef<IADsContainer> computer;
  if (FAILED(GetDirectoryObject(L"WinNT://.,computer", kIidAdsContainer, computer.PutVoid()))) return groups;
  CVariant filter;
  filter.value.vt = VT_ARRAY | VT_VARIANT;
  filter.value.parray = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
  if (!filter.value.parray) return groups;
  CVariant kind;
  kind.value.vt = VT_BSTR;
  kind.value.bstrVal = ::SysAllocString(L"group");
  LONG index = 0;
  if (FAILED(::SafeArrayPutElement(filter.value.parray, &index, &kind.value)) ||
      FAILED(computer->put_Filter(filter.value)))
    return groups;
  CComRef<IUnknown> enumerable;
  if (FAILED(computer->get__NewEnum(enumerable.Put()))) return groups;
  ForEachObject(enumerable.Get(), 1, [&](IADs* group) { groups.push_back({AdsPath(group), ObjectSid(group), true}); });
  return groups;
}

std::vector<CDirectoryObject> CDirectory::GroupMembers(const CUnicodeString& groupPath) {
  std::vector<CDirectoryObject> members;
  CComRef<IADsGroup> group;
  if (FAILED(GetDirectoryObject(groupPath, kIidAdsGroup, group.PutVoid()))) return members;
  CComRef<IADsMembers> list;
  CComRef<IUnknown> enumerable;
  if (FAILED(group->Members(list.Put())) || FAILED(list->get__NewEnum(enumerable.Put()))) return members;
  ForEachObject(enumerable.Get(), 10, [&](IADs* member) {
    CBstr kind;
    const bool isGroup = SUCCEEDED(member->get_Class(&kind.value)) && kind.value &&
                         CUnicodeString(kind.value).EqualsNoCaseAscii(L"group");
    members.push_back({AdsPath(member), {}, isGroup});
  });
  return members;
}

bool CDirectory::BindsWithCredentials(const CUnicodeString& path, const CUnicodeString& login,
                                      const CUnicodeString& password) {
  Vrn::CheckAccountName(login);
  Vrn::CheckLength(password, Vrn::kPasswordLimit);
  static const auto openObject = Export<AdsOpenObjectFunction>(L"activeds.dll", "ADsOpenObject");
  CComRef<IADs> object;
  return openObject && SUCCEEDED(openObject(path.c_str(), login.c_str(), password.c_str(), ADS_SECURE_AUTHENTICATION,
                                            kIidAds, object.PutVoid()));
}

CUnicodeString CDirectory::CurrentUserName(int format) {
  static const auto userName = Export<UserNameExFunction>(L"secur32.dll", "GetUserNameExW");
  if (!userName) return {};
  ULONG size = 0;
  userName(format, nullptr, &size);
  if (size == 0) return {};
  CUnicodeString name;
  if (!userName(format, name.GetBuffer(size + 1), &size)) return {};
  name.ReleaseBuffer(size);
  return name;
}

std::vector<CPickedObject> CObjectPicker::PickUsersOrGroups(HWND owner) {
  CComRef<IDsObjectPicker> picker;
  Vrn::CheckHResult(
      ::CoCreateInstance(CLSID_DsObjectPicker, nullptr, CLSCTX_INPROC_SERVER, IID_IDsObjectPicker, picker.PutVoid()));
  DSOP_SCOPE_INIT_INFO scope{};
  scope.cbSize = sizeof scope;
  scope.flType = DSOP_SCOPE_TYPE_ENTERPRISE_DOMAIN | DSOP_SCOPE_TYPE_GLOBAL_CATALOG |
                 DSOP_SCOPE_TYPE_EXTERNAL_UPLEVEL_DOMAIN;  // 0x38
  scope.flScope = 0xC4;                                    // LDAP paths; users and groups shown by default
  scope.FilterFlags.Uplevel.flBothModes = 0x3F2;
  scope.FilterFlags.Uplevel.flMixedModeOnly = 0x3F2;
  scope.FilterFlags.Uplevel.flNativeModeOnly = 0x3F2;
  scope.FilterFlags.flDownlevel = 0x80000007;
  DSOP_INIT_INFO init{};
  init.cbSize = sizeof init;
  init.cDsScopeInfos = 1;
  init.aDsScopeInfos = &scope;
  Vrn::CheckHResult(picker->Initialize(&init));
  CComRef<IDataObject> selection;
  const HRESULT shown = picker->InvokeDialog(owner, selection.Put());
  Vrn::CheckHResult(shown);
  std::vector<CPickedObject> picked;
  if (shown == S_FALSE || !selection) return picked;
  FORMATETC format{static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(L"CFSTR_DSOP_DS_SELECTION_LIST")), nullptr,
                   DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  Vrn::CheckHResult(selection->GetData(&format, &medium));
  if (const auto* list = static_cast<const DS_SELECTION_LIST*>(::GlobalLock(medium.hGlobal))) {
    for (ULONG index = 0; index < list->cItems; ++index)
      picked.push_back({list->aDsSelection[index].pwzName, list->aDsSelection[index].pwzADsPath});
    ::GlobalUnlock(medium.hGlobal);
  }
  ::ReleaseStgMedium(&medium);
  return picked;
}

CComApartment::CComApartment() : m_initialized(SUCCEEDED(::CoInitialize(nullptr))) {}

CComApartment::~CComApartment() {
  if (m_initialized) ::CoUninitialize();
}

bool IsUserInDomain(const CUnicodeString& login) { return Directory().TranslatesNt4Name(login); }

namespace {

bool GroupHasMember(const CUnicodeString& groupPath, const CUnicodeString& userPath, std::set<std::wstring>& searched) {
  CUnicodeString key = groupPath;
  // A group reached twice (a membership cycle) is searched once.
  if (!searched.insert(key.MakeLowerAscii().ToStdString()).second) return false;
  for (const CDirectoryObject& member : Directory().GroupMembers(groupPath)) {
    if (member.path.EqualsNoCaseAscii(userPath.View())) return true;
    if (member.isGroup && GroupHasMember(member.path, userPath, searched)) return true;
  }
  return false;
}

}  // namespace

bool IsUserLocalAdmin(const CUnicodeString& login) {
  CUnicodeString userPath = CUnicodeString(L"WinNT://") + login;
  userPath.Replace(L"\\", L"/");
  for (const CDirectoryObject& group : Directory().LocalGroups()) {
    if (group.sid != L"S-1-5-32-544") continue;
    std::set<std::wstring> searched;
    return GroupHasMember(group.path, userPath, searched);
  }
  return false;
}

}  // namespace Accounts
