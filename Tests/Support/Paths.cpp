// Test support: folders, private registry roots, file helpers.
#include <atomic>
#include <stdexcept>

#include "Files.h"
#include "TestSupport.h"

namespace TestSupport {

Vrn::CUnicodeString SourceDir() { return ORV_SOURCE_DIR_WINE; }
Vrn::CUnicodeString DataPath(const Vrn::CUnicodeString& relative) {
  return SourceDir() + L"\\Tests\\Data\\" + relative;
}
Vrn::CUnicodeString TableSchemaPath(const Vrn::CUnicodeString& table) {
  return SourceDir() + L"\\Packages\\Tables\\" + table + L".idt";
}
Vrn::CUnicodeString BuildPath(const Vrn::CUnicodeString& name) {
  return Vrn::CUnicodeString(ORV_BUILD_DIR_WINE) + L"\\" + name;
}
Vrn::CUnicodeString LibraryPath() { return BuildPath(L"OrvantCA.dll"); }
std::wstring ThisProgramPath() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

namespace {
std::atomic<unsigned> g_sequence{0};

Vrn::CUnicodeString UniqueName(const wchar_t* prefix) {
  return Vrn::CUnicodeString(prefix) + Vrn::CUnicodeString::FromUInt(GetCurrentProcessId()) + L"_" +
         Vrn::CUnicodeString::FromUInt(GetTickCount64()) + L"_" + Vrn::CUnicodeString::FromUInt(++g_sequence);
}

// Best effort: what cannot be removed (a file a test still holds) stays; linked folders are not entered.
void RemoveTree(const Vrn::CUnicodeString& path) noexcept {
  try {
    Vrn::RemoveFolder(path, true);
  } catch (...) {
  }
}

// Each test process gets a temporary folder of its own (TMP and TEMP point into it), so that the
// custom-action log, temporary files and packages of parallel test programs never meet.
struct CProcessTemporaryFolder {
  CProcessTemporaryFolder() {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH, base);
    const Vrn::CUnicodeString folder = Vrn::CUnicodeString(base) + UniqueName(L"OrvTests_");
    CreateDirectoryW(folder.c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    m_folder = folder;
  }
  ~CProcessTemporaryFolder() { RemoveTree(m_folder); }
  Vrn::CUnicodeString m_folder;
} g_processTemporaryFolder;
}  // namespace

CTempFolder::CTempFolder(const Vrn::CUnicodeString& parent) {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH, temp);
  m_path = (parent.IsEmpty() ? Vrn::CUnicodeString(temp) : Vrn::WithTrailingSeparator(parent)) + UniqueName(L"OrvTest");
  if (!CreateDirectoryW(m_path.c_str(), nullptr)) throw std::runtime_error("cannot create test folder");
}

CTempFolder::~CTempFolder() { RemoveTree(m_path); }

Vrn::CUnicodeString CTempFolder::operator/(const Vrn::CUnicodeString& relative) const {
  return m_path + L"\\" + relative;
}

CRegistryOverride::CRegistryOverride(HKEY root) : m_root(root) {
  // The private key lives under the real HKEY_CURRENT_USER, opened before any override.
  m_privatePath = UniqueName(L"Software\\OrvantTests\\Root");
  if (RegCreateKeyExW(HKEY_CURRENT_USER, m_privatePath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, m_key.Put(),
                      nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot create private registry root");
  if (RegOverridePredefKey(root, m_key.Get()) != ERROR_SUCCESS)
    throw std::runtime_error("cannot override registry root");
}

CRegistryOverride::~CRegistryOverride() {
  RegOverridePredefKey(m_root, nullptr);
  m_key.Reset();
  // After the override is gone HKEY_CURRENT_USER is the real one again (or the outer override).
  RegDeleteTreeW(HKEY_CURRENT_USER, m_privatePath.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, m_privatePath.c_str());
}

std::string ReadBytes(const Vrn::CUnicodeString& path) {
  Vrn::CFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) throw std::runtime_error("cannot open " + path.ToUtf8());
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  return bytes;
}

void WriteBytes(const Vrn::CUnicodeString& path, const std::string& bytes) {
  Vrn::CFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) throw std::runtime_error("cannot create " + path.ToUtf8());
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    throw std::runtime_error("cannot write " + path.ToUtf8());
}

Vrn::CUnicodeString RegistryText(HKEY root, const Vrn::CUnicodeString& key, const Vrn::CUnicodeString& name,
                                 Vrn::RegistryView view) {
  Vrn::CRegistryKey opened;
  if (!opened.Open(root, key, Vrn::RegistryMode::Read, view)) return L"<no key>";
  return opened.ReadString(name, L"<missing>");
}

void SetRegistryValue(HKEY root, const Vrn::CUnicodeString& key, const Vrn::CUnicodeString& name, DWORD type,
                      std::string_view bytes, Vrn::RegistryView view) {
  Vrn::CRegistryKey opened;
  if (!opened.Open(root, key, Vrn::RegistryMode::Write, view)) throw std::runtime_error("cannot write " + key.ToUtf8());
  opened.WriteValue(name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void SetRegistryText(HKEY root, const Vrn::CUnicodeString& key, const Vrn::CUnicodeString& name,
                     const Vrn::CUnicodeString& value, Vrn::RegistryView view) {
  SetRegistryValue(root, key, name, REG_SZ, Utf16(value.View()) + std::string(2, '\0'), view);
}

std::string Utf16(std::wstring_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

namespace {

// The Unix path of a Windows path in this prefix (Wine's kernel32 converts it).
std::string UnixPath(const Vrn::CUnicodeString& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = convert ? convert(path.c_str()) : nullptr;
  if (!unix) throw std::runtime_error("no Unix path for " + path.ToUtf8());
  std::string result(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

}  // namespace

void PlantLink(const Vrn::CUnicodeString& link, const Vrn::CUnicodeString& target) {
  const Vrn::CUnicodeString command = L"start.exe /wait /unix /bin/ln -s \"" +
                                      Vrn::CUnicodeString::FromUtf8(UnixPath(target)) + L"\" \"" +
                                      Vrn::CUnicodeString::FromUtf8(UnixPath(link)) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = command.ToStdString();
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process))
    throw std::runtime_error("cannot start ln for " + link.ToUtf8());
  const Vrn::CKernelHandle owned(process.hProcess), thread(process.hThread);
  WaitForSingleObject(process.hProcess, 30000);
  // start.exe does not wait for a Unix program: the link appears a little later.
  for (int waited = 0; GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 10) {
    if (waited >= 30000) throw std::runtime_error("no link planted at " + link.ToUtf8());
    Sleep(10);
  }
}

}  // namespace TestSupport
