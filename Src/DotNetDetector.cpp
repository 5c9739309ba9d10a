// .NET Framework probes: GetDotNetPath and CheckDotNetFramework11AndLater.
#include "DotNetDetector.h"

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Handle.h"
#include "InstallHelper.h"
#include "MsiHelper.h"
#include "RegistryKey.h"

namespace Msi {

namespace {
DotNetDirectoryQuery g_dotNetDirectoryQuery = QueryDotNetDirectory;
}  // namespace

std::optional<CUnicodeString> QueryDotNetDirectory() {
  const Vrn::CModuleHandle library(::LoadLibraryW(L"mscoree.dll"));
  if (!library.IsValid()) return std::nullopt;
  using GetCorSystemDirectory = HRESULT(WINAPI*)(LPWSTR, DWORD, DWORD*);
  const auto query = reinterpret_cast<GetCorSystemDirectory>(
      reinterpret_cast<void*>(::GetProcAddress(library.Get(), "GetCORSystemDirectory")));
  if (query == nullptr) return std::nullopt;
  constexpr DWORD kDirectoryChars = 262;
  CUnicodeString directory;
  DWORD length = 0;
  if (query(directory.GetBuffer(kDirectoryChars), kDirectoryChars, &length) < 0) return std::nullopt;
  directory.ReleaseBuffer();
  return directory;
}

CDotNetDirectoryOverride::CDotNetDirectoryOverride(DotNetDirectoryQuery replacement)
    : m_previous(g_dotNetDirectoryQuery) {
  g_dotNetDirectoryQuery = replacement;
}

CDotNetDirectoryOverride::~CDotNetDirectoryOverride() { g_dotNetDirectoryQuery = m_previous; }

const std::optional<CUnicodeString>& CDotNetDetector::SystemDirectory() {
  if (!m_directory) m_directory = g_dotNetDirectoryQuery();
  return *m_directory;
}

}  // namespace Msi

namespace {

using Msi::CUnicodeString;

UINT GetDotNetPathBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"GetDotNetPath\r\n\r\n";
  Msi::CDotNetDetector detector;
  if (const auto& directory = detector.SystemDirectory()) Msi::SetProperty(session, L"DotNetPath", *directory);
  return ERROR_SUCCESS;
}

UINT CheckDotNetFramework11AndLaterBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"CheckDotNetFramework11AndLater\r\n\r\n";
  Vrn::CRegistryKey setup;
  if (setup.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup", Vrn::RegistryMode::Read))
    return ERROR_SUCCESS;
  const Msi::CMessageContext context(session);
  const int answer = Msi::ShowPropertyMessage(context, L"MT_DotNet11NotFound", L"", MB_OKCANCEL | MB_ICONEXCLAMATION);
  Msi::SetProperty(session, L"DOTNET11ORLATER_NOTFOUND", L"Yes");
  return answer == IDCANCEL ? ERROR_INSTALL_USEREXIT : ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(GetDotNetPath, GetDotNetPathBody)
ORV_ACTION(CheckDotNetFramework11AndLater, CheckDotNetFramework11AndLaterBody, .shows = L"MT_DotNet11NotFound")
