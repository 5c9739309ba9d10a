// System component checks: the server edition, web-server folders and components, a report-engine
// product, the version of a system file, the C runtime and the web-view runtime. None changes the
// machine; each publishes what it finds in properties.
#include "CheckSystem.h"

#include <array>
#include <optional>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "FileVersion.h"
#include "Files.h"
#include "MsiHelper.h"
#include "RegistryKey.h"
#include "TextLimits.h"

namespace Msi {

namespace {

// The three numbers of a version text; the third is 0 when absent.
std::optional<std::array<uint32_t, 3>> VersionNumbers(const CUnicodeString& text) {
  std::array<uint32_t, 3> numbers{};
  size_t start = 0;
  for (size_t field = 0; field < numbers.size(); ++field) {
    if (start > text.Length()) {
      if (field < 2) return std::nullopt;
      break;
    }
    const size_t dot = text.Find(L'.', start);
    const size_t end = dot == CUnicodeString::npos ? text.Length() : dot;
    const std::optional<uint32_t> number = Vrn::StrictInteger<uint32_t>(text.View().substr(start, end - start));
    if (!number) return std::nullopt;
    numbers[field] = *number;
    start = dot == CUnicodeString::npos ? text.Length() + 1 : dot + 1;
  }
  return numbers;
}

}  // namespace

int CompareVersions(const CUnicodeString& left, const CUnicodeString& right) {
  const auto leftNumbers = VersionNumbers(left);
  const auto rightNumbers = VersionNumbers(right);
  if (!leftNumbers || !rightNumbers) return -2;
  for (size_t field = 0; field < leftNumbers->size(); ++field) {
    if ((*leftNumbers)[field] > (*rightNumbers)[field]) return 2;
    if ((*leftNumbers)[field] < (*rightNumbers)[field]) return -1;
  }
  return 0;
}

bool RuntimeVersionIsSupported(const Vrn::CFileVersion& version) noexcept {
  return version.major > 14 || (version.major == 14 && (version.build >= 23918 || version.minor >= 1));
}

}  // namespace Msi

namespace {

using Msi::CUnicodeString;

using Msi::LogActionName;

const wchar_t* YesOrEmpty(bool yes) { return yes ? L"Yes" : L""; }

// A string value under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER; empty when the key or value is missing.
CUnicodeString ReadRegistryString(HKEY root, const wchar_t* path, const wchar_t* value) {
  Vrn::CRegistryKey key;
  if (!key.Open(root, path, Vrn::RegistryMode::Read)) return {};
  return key.ReadString(value);
}

// On only for a REG_DWORD value of 1.
bool RegistryFlagIsOn(const Vrn::CRegistryKey& key, const wchar_t* value) {
  if (!key.IsOpen() || key.ValueType(value) != REG_DWORD) return false;
  DWORD data = 0;
  return key.ReadRaw(value, &data, sizeof(data)) == sizeof(data) && data == 1;
}

UINT IsServerBody(MSIHANDLE session) {
  LogActionName(L"IsServer");
  OSVERSIONINFOEXW wanted{};
  wanted.dwOSVersionInfoSize = sizeof(wanted);
  wanted.wProductType = VER_NT_SERVER;
  const DWORDLONG condition = ::VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL);
  const bool server = ::VerifyVersionInfoW(&wanted, VER_PRODUCT_TYPE, condition) != FALSE;
  Msi::SetProperty(session, L"IS_VER_NT_SERVER", server ? L"yes" : L"no");
  return ERROR_SUCCESS;
}

UINT GetIisRootFolderBody(MSIHANDLE session) {
  LogActionName(L"GetIISROOTFOLDER");
  const CUnicodeString stored = ReadRegistryString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\InetStp", L"PathWWWRoot");
  // "The size of the lpSrc and lpDst buffers is limited to 32K."
  constexpr DWORD kExpandedChars = 32767;
  constexpr Vrn::CTextLimit kExpandLimit{L"a text with environment variables", kExpandedChars - 1};
  CUnicodeString expanded;
  const DWORD needed = ::ExpandEnvironmentStringsW(Vrn::Checked(stored, kExpandLimit),
                                                   expanded.GetBuffer(kExpandedChars), kExpandedChars);
  expanded.ReleaseBuffer(needed == 0 || needed > kExpandedChars ? 0 : CUnicodeString::npos);
  Msi::CustomActionLog() << L"GetIISROOTFOLDER : " << expanded << L"\r\n";
  Msi::SetProperty(session, L"IISROOTFOLDER", expanded);
  return ERROR_SUCCESS;
}

UINT GetAspNetFolderBody(MSIHANDLE session) {
  LogActionName(L"GetASPNETFOLDER");
  Msi::SetProperty(session, L"FRAMEWORKFOLDER",
                   ReadRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\ASP.NET\\2.0.50727.0", L"Path"));
  return ERROR_SUCCESS;
}

UINT AdvancedAppSearchBody(MSIHANDLE session) {
  LogActionName(L"AdvancedAppSearch");
  struct CFlag {
    const wchar_t* caption;
    bool framework;  // under the framework key, else under the web-server components key
    const wchar_t* value;
    const wchar_t* property;
  };
  static constexpr CFlag kFlags[] = {
      {L"Check ASPNET", false, L"ASPNET", L"IS_ASPNETON"},
      {L"Check ISAPIExtensions", false, L"ISAPIExtensions", L"IS_ISAPIEXTENSIONSON"},
      {L"Check LegacyScripts", false, L"LegacyScripts", L"IS_LEGACYSCRIPTSON"},
      {L"Check Metabase", false, L"Metabase", L"IS_METABASEON"},
      {L"Check WindowsAuthentication", false, L"WindowsAuthentication", L"IS_WINAUTON"},
      {L"Check StaticContent", false, L"StaticContent", L"IS_STATICCONTENT"},
      {L"Check ManagementConsole", false, L"ManagementConsole", L"IS_MANAGMENTCONSOLE"},
      {L"Check Framework 2.0", true, L"Install", L"IS_FRAMEWORK2.0"},
  };
  Vrn::CRegistryKey components;
  components.Open(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\InetStp\\Components", Vrn::RegistryMode::Read);
  Vrn::CRegistryKey framework;
  framework.Open(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727",
                 Vrn::RegistryMode::Read);
  for (const CFlag& flag : kFlags) {
    Msi::CustomActionLog() << flag.caption << L"\r\n";
    const bool on = RegistryFlagIsOn(flag.framework ? framework : components, flag.value);
    Msi::SetProperty(session, flag.property, on ? L"#1" : L"0");
  }
  return ERROR_SUCCESS;
}

UINT IsCrystalReportsInstalledBody(MSIHANDLE session) {
  LogActionName(L"IsCrystallReportsInstalled");
  const CUnicodeString version = Msi::GetProductVersionString(L"{CE26F10F-C80F-4377-908B-1B7882AE2CE3}");
  Msi::SetProperty(session, L"IS_CRYSTALREPORTS", version == L"10.5.0.0" ? L"Yes" : L"No");
  return ERROR_SUCCESS;
}

UINT NormRegIEFolderPathBody(MSIHANDLE session) {
  LogActionName(L"NormRegIEFolderPath");
  const CUnicodeString path = Msi::GetProperty(session, L"IE_FOLDERPATH");
  const CUnicodeString first = path.Left(path.Find(L';'));
  if (!first.IsEmpty()) Msi::SetProperty(session, L"IE_FOLDERPATH", first);
  return ERROR_SUCCESS;
}

// The version of WindowsFolder\system32\<fileName>, logged with the action's prefix; nothing when
// the file is missing or has no version.
std::optional<Vrn::CFileVersion> SystemFileVersion(MSIHANDLE session, const CUnicodeString& fileName,
                                                   const wchar_t* logPrefix) {
  const CUnicodeString folder = Msi::GetProperty(session, L"WindowsFolder") + L"system32\\";
  const CUnicodeString path = Vrn::JoinPath(folder, fileName);
  if (!Vrn::FileExists(path)) {
    Msi::CustomActionLog() << logPrefix << L"File cannot read : " << path << L"\r\n";
    return std::nullopt;
  }
  const std::optional<Vrn::CFileVersion> version = Vrn::QueryFileVersion(path);
  if (!version)
    Msi::CustomActionLog() << logPrefix << L"Version cannot read : " << path << L"\r\n";
  else
    Msi::CustomActionLog() << logPrefix << version->ToString() << L"\r\n";
  return version;
}

UINT CheckSystemFileVersionBody(MSIHANDLE session) {
  LogActionName(L"CheckSystemFileVersion");
  const CUnicodeString fileName = Msi::GetProperty(session, L"CSFV_FILE_NAME");
  const CUnicodeString wanted = Msi::GetProperty(session, L"CSFV_VERSION");
  Vrn::Check(!fileName.IsEmpty() && !wanted.IsEmpty());
  bool passed = false;
  if (const auto version = SystemFileVersion(session, fileName, L"CheckSystemFileVersion : ")) {
    Msi::SetProperty(session, L"CSFV_CURRENT_VERSION", version->ToString());
    const int comparison = Msi::CompareVersions(version->ToString(), wanted);
    Msi::CustomActionLog() << L"CheckSystemFileVersion : compare result : " << CUnicodeString::FromInt(comparison)
                           << L"\r\n";
    passed = Msi::VersionAtLeast(comparison);
  }
  Msi::SetProperty(session, L"CSFV_VALID", YesOrEmpty(passed));
  return ERROR_SUCCESS;
}

UINT CheckRuntimeVS15Body(MSIHANDLE session) {
  LogActionName(L"CheckRuntimeVS15");
  bool passed = false;
  if (const auto version = SystemFileVersion(session, L"vcruntime140.dll", L"CheckRuntimeVS15 : ")) {
    Msi::SetProperty(session, L"MSRUNTIME_VERSION", version->ToString());
    passed = Msi::RuntimeVersionIsSupported(*version);
  }
  Msi::SetProperty(session, L"MSRUNTIME_VALID", YesOrEmpty(passed));
  return ERROR_SUCCESS;
}

constexpr wchar_t kWebViewClientKey[] = L"Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

UINT CheckWebViewVersionBody(MSIHANDLE session) {
  LogActionName(L"CheckWebViewVersion");
  try {
    CUnicodeString minimum = Msi::GetProperty(session, L"WV_RUNTIME_MIN_VERSION");
    if (minimum.IsEmpty()) minimum = L"91.0.864.35";
    const CUnicodeString machine = ReadRegistryString(
        HKEY_LOCAL_MACHINE, (CUnicodeString(L"SOFTWARE\\WOW6432Node\\") + kWebViewClientKey).c_str(), L"pv");
    const CUnicodeString user =
        ReadRegistryString(HKEY_CURRENT_USER, (CUnicodeString(L"SOFTWARE\\") + kWebViewClientKey).c_str(), L"pv");
    Msi::CustomActionLog() << L"CheckWebViewVersion pvMachine=" << machine << L"\r\n";
    Msi::CustomActionLog() << L"CheckWebViewVersion pvUser=" << user << L"\r\n";
    // The machine-wide runtime decides first; a per-user one counts only when it does not.
    bool enabled = !machine.IsEmpty() && Msi::VersionAtLeast(Msi::CompareVersions(machine, minimum));
    if (!enabled && !user.IsEmpty()) enabled = Msi::VersionAtLeast(Msi::CompareVersions(user, minimum));
    Msi::SetProperty(session, L"VW_ENABLED", YesOrEmpty(enabled));
    return ERROR_SUCCESS;
  } catch (Vrn::CException* error) {
    Msi::CustomActionLog() << L"ERROR: " << error->MessageText() << L"\r\n";
    delete error;
  } catch (const std::exception& error) {
    Msi::CustomActionLog() << L"ERROR: " << CUnicodeString::FromUtf8(error.what()) << L"\r\n";
  } catch (...) {
    Msi::CustomActionLog() << L"ERROR: unknown exception\r\n";
  }
  return ERROR_INSTALL_FAILURE;
}

UINT GetExtCompDirBody(MSIHANDLE session) {
  LogActionName(L"GetExtCompDir");
  Msi::SetProperty(session, L"EXTCOMP_DIR",
                   Vrn::JoinPath(Msi::GetProperty(session, L"SOURCEDIR"), L"..\\External Components\\"));
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(IsServer, IsServerBody)
ORV_ACTION(GetIISROOTFOLDER, GetIisRootFolderBody)
ORV_ACTION(GetASPNETFOLDER, GetAspNetFolderBody)
ORV_ACTION(AdvancedAppSearch, AdvancedAppSearchBody)
ORV_ACTION(IsCrystallReportsInstalled, IsCrystalReportsInstalledBody)
ORV_ACTION(NormRegIEFolderPath, NormRegIEFolderPathBody, .reads = L"IE_FOLDERPATH")
ORV_ACTION(CheckSystemFileVersion, CheckSystemFileVersionBody, .reads = L"WindowsFolder CSFV_FILE_NAME CSFV_VERSION")
ORV_ACTION(CheckRuntimeVS15, CheckRuntimeVS15Body, .reads = L"WindowsFolder")
ORV_ACTION(CheckWebViewVersion, CheckWebViewVersionBody, .reads = L"WV_RUNTIME_MIN_VERSION")
ORV_ACTION(GetExtCompDir, GetExtCompDirBody, .reads = L"SOURCEDIR")
