// Vrn::CRegistryKey: open, read, write, delete and enumerate one registry key in a chosen view.
#include "RegistryKey.h"

#include <algorithm>
#include <iterator>

#include "Errors.h"
#include "Messages.h"
#include "TextLimits.h"

namespace Vrn {

namespace {

struct CRootName {
  HKEY root;
  const wchar_t* name;
};
const CRootName kRootNames[] = {
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
    {HKEY_USERS, L"HKEY_USERS"},
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG"},
    {HKEY_PERFORMANCE_DATA, L"HKEY_PERFORMANCE_DATA"},
    {HKEY_PERFORMANCE_TEXT, L"HKEY_PERFORMANCE_TEXT"},
    {HKEY_PERFORMANCE_NLSTEXT, L"HKEY_PERFORMANCE_NLSTEXT"},
    {HKEY_DYN_DATA, L"HKEY_DYN_DATA"},
};

// First guess for a string value; most stored texts are short.
constexpr DWORD kFirstReadChars = 63;
// Registry key names are at most 255 characters.
constexpr DWORD kKeyNameChars = 256;

REGSAM ViewFlag(RegistryView view) noexcept {
  return view == RegistryView::Thirty2 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

CUnicodeString ChildName(const CUnicodeString& parentName, const CUnicodeString& path) {
  return parentName + L"\\" + path;
}

[[noreturn]] void RaiseCantWrite(const CUnicodeString& keyName, const CUnicodeString& item) {
  Raise<CCheckException>(L"ERR_CANT_WRITE_TO_REGISTRY", LibraryMessageText(L"ERR_CANT_WRITE_TO_REGISTRY"),
                         std::initializer_list<CUnicodeString>{ChildName(keyName, item)});
}

// A read failure other than "not there".
[[noreturn]] void RaiseReadError(LONG result) {
  if (result == ERROR_NOT_ENOUGH_MEMORY || result == ERROR_OUTOFMEMORY) Raise<CMemoryException>();
  Raise<CLastErrorException>(static_cast<DWORD>(result));
}

// The value, its key or its path is gone: the reads answer with their defaults.
bool IsMissing(LONG result) noexcept {
  return result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND || result == ERROR_KEY_DELETED;
}

// Type and size of a value; false when the key is closed or the value missing.
bool QueryValueShape(HKEY key, const CUnicodeString& name, DWORD& type, DWORD& size) {
  type = 0;
  size = 0;
  if (key == nullptr) return false;
  const LONG result = RegQueryValueExW(key, Checked(name, kRegistryValueNameLimit), nullptr, &type, nullptr, &size);
  if (result == ERROR_SUCCESS) return true;
  if (IsMissing(result)) return false;
  RaiseReadError(result);
}

// RegDeleteKeyExW is not on every system that has RegDeleteKeyW, so it is found at run time.
using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
DeleteKeyExFn FindDeleteKeyEx() noexcept {
  static const DeleteKeyExFn function = [] {
    const HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    const FARPROC proc = advapi ? GetProcAddress(advapi, "RegDeleteKeyExW") : nullptr;
    return reinterpret_cast<DeleteKeyExFn>(reinterpret_cast<void (*)()>(proc));
  }();
  return function;
}

// Deletes parent\path and everything below it, children first.
void DeleteTreeBelow(const CRegistryKey& parent, const CUnicodeString& path) {
  {
    CRegistryKey key;
    if (!key.Open(parent, path, RegistryMode::Read)) RaiseCantWrite(parent.Name(), path);
    // The names are collected first: deleting while enumerating by index would skip entries.
    std::vector<CUnicodeString> children;
    key.EnumerateSubKeys(children);
    for (const CUnicodeString& child : children) DeleteTreeBelow(key, child);
  }
  LONG result;
  if (const DeleteKeyExFn deleteKeyEx = FindDeleteKeyEx())
    result = deleteKeyEx(parent.Handle(), path.c_str(), ViewFlag(parent.View()), 0);
  else
    result = RegDeleteKeyW(parent.Handle(), path.c_str());
  if (result != ERROR_SUCCESS) RaiseCantWrite(parent.Name(), path);
}

}  // namespace

CUnicodeString RegistryRootName(HKEY root) noexcept {
  const auto found = std::find_if(std::begin(kRootNames), std::end(kRootNames),
                                  [root](const CRootName& entry) { return entry.root == root; });
  return found != std::end(kRootNames) ? CUnicodeString(found->name) : CUnicodeString();
}

bool CRegistryKey::Open(HKEY root, const CUnicodeString& path, RegistryMode mode, RegistryView view) {
  return OpenNamed(root, RegistryRootName(root), path, mode, view);
}

bool CRegistryKey::Open(const CRegistryKey& parent, const CUnicodeString& path, RegistryMode mode) {
  Check(parent.IsOpen());
  return OpenNamed(parent.Handle(), parent.Name(), path, mode, parent.View());
}

bool CRegistryKey::OpenNamed(HKEY root, const CUnicodeString& rootName, const CUnicodeString& path, RegistryMode mode,
                             RegistryView view) {
  Check(!IsOpen());
  Check(root != nullptr);
  Check(mode != RegistryMode::Closed);
  CheckRegistryKeyPath(path);
  const REGSAM flag = ViewFlag(view);
  LONG result;
  if (mode == RegistryMode::Read)
    result = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | flag, m_key.Put());
  else if (path.IsEmpty())
    result = RegOpenKeyExW(root, nullptr, 0, KEY_READ | KEY_WRITE | flag, m_key.Put());
  else
    result = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | flag,
                             nullptr, m_key.Put(), nullptr);
  SetLastError(static_cast<DWORD>(result));
  if (result != ERROR_SUCCESS) {
    // A failed call may still have written to the out-parameter.
    m_key.Release();
    return false;
  }
  m_mode = mode;
  m_view = view;
  m_name = ChildName(rootName, path);
  return true;
}

void CRegistryKey::Close() noexcept {
  m_name.Clear();
  m_key.Reset();
  m_mode = RegistryMode::Closed;
}

DWORD CRegistryKey::ValueType(const CUnicodeString& name) const {
  DWORD type, size;
  return QueryValueShape(m_key.Get(), name, type, size) ? type : 0;
}

DWORD CRegistryKey::ValueSize(const CUnicodeString& name) const {
  DWORD type, size;
  return QueryValueShape(m_key.Get(), name, type, size) ? size : 0;
}

DWORD CRegistryKey::ReadRaw(const CUnicodeString& name, void* buffer, DWORD size) const {
  if (!IsOpen()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  DWORD read = size;
  const LONG result = RegQueryValueExW(m_key.Get(), Checked(name, kRegistryValueNameLimit), nullptr, nullptr,
                                       static_cast<BYTE*>(buffer), &read);
  SetLastError(static_cast<DWORD>(result));
  return result == ERROR_SUCCESS ? read : 0;
}

CUnicodeString CRegistryKey::ReadString(const CUnicodeString& name, const CUnicodeString& defaultValue) const {
  if (!IsOpen()) return defaultValue;
  CUnicodeString text;
  DWORD room = kFirstReadChars;
  for (;;) {
    wchar_t* chars = text.GetBuffer(room);
    DWORD type = 0;
    DWORD bytes = room * sizeof(wchar_t);
    const LONG result = RegQueryValueExW(m_key.Get(), Checked(name, kRegistryValueNameLimit), nullptr, &type,
                                         reinterpret_cast<BYTE*>(chars), &bytes);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
      if (IsMissing(result)) return defaultValue;
      RaiseReadError(result);
    }
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes == 0 || bytes % sizeof(wchar_t) != 0) return defaultValue;
    const DWORD stored = bytes / sizeof(wchar_t);
    if (result == ERROR_SUCCESS) {
      // The stored text need not end with a zero, and may hold one early.
      text.ReleaseBuffer(std::min<size_t>(std::wstring_view(chars, stored).find(L'\0'), stored));
      return text;
    }
    // The value may have grown between the calls; always make progress.
    room = std::max(stored, room + 1);
  }
}

void CRegistryKey::WriteValue(const CUnicodeString& name, DWORD type, const void* data, DWORD size) {
  CheckWritable();
  if (!IsOpen()) RaiseCantWrite(m_name, name);
  const LONG result = RegSetValueExW(m_key.Get(), Checked(name, kRegistryValueNameLimit), 0, type,
                                     static_cast<const BYTE*>(data), size);
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    RaiseCantWrite(m_name, name);
  }
}

void CRegistryKey::WriteString(const CUnicodeString& name, const CUnicodeString& value) {
  WriteValue(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.Length() + 1) * sizeof(wchar_t)));
}

void CRegistryKey::WriteDword(const CUnicodeString& name, uint32_t value) {
  const DWORD data = value;
  WriteValue(name, REG_DWORD, &data, sizeof data);
}

void CRegistryKey::DeleteValue(const CUnicodeString& name) {
  CheckWritable();
  if (!IsOpen()) RaiseCantWrite(m_name, name);
  const LONG result = RegDeleteValueW(m_key.Get(), Checked(name, kRegistryValueNameLimit));
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    RaiseCantWrite(m_name, name);
  }
}

void CRegistryKey::DeleteSubKeyTree(const CUnicodeString& path) {
  CheckWritable();
  // An empty path would name this key itself.
  Check(!path.IsEmpty());
  if (!IsOpen()) RaiseCantWrite(m_name, path);
  DeleteTreeBelow(*this, path);
}

bool CRegistryKey::EnumerateSubKeys(std::vector<CUnicodeString>& names) const {
  names.clear();
  if (!IsOpen()) return false;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kKeyNameChars];
    DWORD length = kKeyNameChars;
    const LONG result = RegEnumKeyExW(m_key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) return result == ERROR_NO_MORE_ITEMS;
    names.emplace_back(name, length);
  }
}

bool CRegistryKey::QueryInfo(CRegistryKeyInfo& info) const {
  info = {};
  if (!IsOpen()) return false;
  const LONG result = RegQueryInfoKeyW(m_key.Get(), nullptr, nullptr, nullptr, &info.subKeys, &info.maxSubKeyLength,
                                       nullptr, &info.values, &info.maxValueNameLength, &info.maxValueDataLength,
                                       &info.securityDescriptorSize, nullptr);
  SetLastError(static_cast<DWORD>(result));
  if (result == ERROR_SUCCESS) return true;
  info = {};
  return false;
}

void CRegistryKey::CheckWritable() const {
  // Writing through a key opened for reading is a programming error, refused before any registry call.
  Check(m_mode != RegistryMode::Read);
}

}  // namespace Vrn
