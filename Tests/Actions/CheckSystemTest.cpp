// System component checks: version comparison, real version resources, the registry probes and the
// .NET probes through their seam and for real.
#include "ActionTest.h"
#include "CheckSystem.h"
#include "ChildProcessTest.h"
#include "DotNetDetector.h"
#include "FileVersion.h"

using namespace TestSupport;

namespace {

// Copies this test program to path and gives the copy a version resource with the fixed version.
void WriteVersionedFile(const CUnicodeString& path, WORD major, WORD minor, WORD build, WORD revision) {
  wchar_t self[MAX_PATH];
  ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  ASSERT_TRUE(CopyFileW(self, path.c_str(), FALSE));
  // VS_VERSIONINFO: the header, the key "VS_VERSION_INFO", padding to 32 bits, the fixed information.
  struct {
    WORD length, valueLength, type;
    wchar_t key[16];
    WORD padding;
    VS_FIXEDFILEINFO fixed;
  } info{};
  info.length = sizeof(info);
  info.valueLength = sizeof(VS_FIXEDFILEINFO);
  std::copy_n(L"VS_VERSION_INFO", 16, info.key);
  info.fixed.dwSignature = VS_FFI_SIGNATURE;
  info.fixed.dwStrucVersion = VS_FFI_STRUCVERSION;
  info.fixed.dwFileVersionMS = MAKELONG(minor, major);
  info.fixed.dwFileVersionLS = MAKELONG(revision, build);
  HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  ASSERT_TRUE(UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), &info,
                              sizeof(info)));
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
}

void SetDword(const wchar_t* key, const wchar_t* name, uint32_t value) {
  SetRegistryValue(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4));
}

}  // namespace

TEST(VersionComparison, ThreeFieldsAndInvalidTexts) {
  const std::tuple<const wchar_t*, const wchar_t*, int> cases[] = {
      {L"6.1.7601.17514", L"6.1", 2},  // a missing third number is 0
      {L"6.1.0.9", L"6.1", 0},         // the fourth is ignored
      {L"1.2.3", L"1.2.4", -1},
      {L"2.0", L"10.0", -1},  // numbers, not texts
      {L"", L"1.0", -2},
      {L"1", L"1.0", -2},
      {L"1.0", L"1.x.3", -2},
      {L"99999999999.0.0", L"1.0", -2},
  };
  for (const auto& [left, right, expected] : cases) EXPECT_EQ(Msi::CompareVersions(left, right), expected) << left;
}

TEST(RuntimeVersionRule, BuildOrMinorDecides) {
  const std::pair<Vrn::CFileVersion, bool> cases[] = {
      {{14, 0, 23917, 0}, false}, {{14, 0, 23918, 0}, true}, {{14, 1, 0, 0}, true}, {{13, 9, 30000, 0}, false}};
  for (const auto& [version, supported] : cases)
    EXPECT_EQ(Msi::RuntimeVersionIsSupported(version), supported) << version.ToString();
}

using CheckSystemTest = ActionTest;

// The C runtime's own name is Wine's built-in library, whose version the loader answers for, so
// the real resources are read through CheckSystemFileVersion; CheckRuntimeVS15 reads the failures.
TEST_F(CheckSystemTest, SystemFileVersionsFromRealResources) {
  CTempFolder windows;  // stands in for WindowsFolder, with a system32 folder
  Open();
  Set({{L"WindowsFolder", windows.Path() + L"\\"}});
  Vrn::CreateDirectoryWithParents(windows / L"system32");
  WriteVersionedFile(windows / L"system32\\probe.dll", 6, 1, 7601, 17514);
  // CheckSystemFileVersion compares three fields against the wanted version.
  for (const auto& [wanted, valid] : {std::pair{L"6.1", L"Yes"}, {L"6.1.7601", L"Yes"}, {L"6.2", L""}, {L"x", L""}})
    RunCases({{"CheckSystemFileVersion",
               {{L"CSFV_FILE_NAME", L"probe.dll"}, {L"CSFV_VERSION", wanted}},
               {{L"CSFV_CURRENT_VERSION", L"6.1.7601.17514"}, {L"CSFV_VALID", valid}}}});
  // A file without a version resource, then no file at all: not valid. Both names are required.
  WriteBytes(windows / L"system32\\vcruntime140.dll", "not a program");
  RunCases({{"CheckRuntimeVS15", {}, L"MSRUNTIME_VALID="},
            {"CheckSystemFileVersion", L"CSFV_FILE_NAME=missing.dll", L"CSFV_VALID="},
            {"CheckSystemFileVersion", L"CSFV_VERSION=", L"", 1603}});
}

TEST_F(CheckSystemTest, RegistryProbes) {
  const wchar_t* components = L"Software\\Microsoft\\InetStp\\Components";
  SetDword(components, L"ASPNET", 1);
  SetRegistryText(HKEY_LOCAL_MACHINE, components, L"ISAPIExtensions", L"1");  // a text 1 is off
  SetDword(components, L"Metabase", 2);
  SetDword(components, L"ManagementConsole", 1);
  SetDword(L"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727", L"Install", 1);
  SetRegistryText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\InetStp", L"PathWWWRoot",
                  L"%SystemDrive%\\inetpub\\wwwroot");
  SetRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\ASP.NET\\2.0.50727.0", L"Path", L"%windir%\\fw");
  Open();
  wchar_t drive[16] = {};
  GetEnvironmentVariableW(L"SystemDrive", drive, 16);
  RunCases({{"AdvancedAppSearch",
             {},
             L"IS_ASPNETON=#1|IS_ISAPIEXTENSIONSON=0|IS_LEGACYSCRIPTSON=0|IS_METABASEON=0|IS_WINAUTON=0|IS_"
             L"STATICCONTENT=0|IS_MANAGMENTCONSOLE=#1|IS_FRAMEWORK2.0=#1"},
            {"GetIISROOTFOLDER", {}, {{L"IISROOTFOLDER", CUnicodeString(drive) + L"\\inetpub\\wwwroot"}}},
            {"GetASPNETFOLDER", {}, L"FRAMEWORKFOLDER=%windir%\\fw"}});  // stored as is
  // Missing keys: flags off, folders empty, the report engine not installed.
  Vrn::CRegistryKey root;
  ASSERT_TRUE(root.Open(HKEY_LOCAL_MACHINE, L"Software\\Microsoft", Vrn::RegistryMode::Write));
  root.DeleteSubKeyTree(L"InetStp");
  RunCases({{"AdvancedAppSearch", {}, L"IS_ASPNETON=0"},
            {"GetIISROOTFOLDER", {}, L"IISROOTFOLDER="},
            {"IsCrystallReportsInstalled", {}, L"IS_CRYSTALREPORTS=No"}});
}

TEST_F(CheckSystemTest, WebViewMachineThenUser) {
  const CUnicodeString client = L"Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
  Open();
  for (const auto& [minimum, machine, user, enabled] :
       {std::tuple{L"", L"91.0.864.35", L"1.0", L"Yes"},  // the default minimum
        {L"", L"91.0.863.99", L"", L""},
        {L"100.0", L"99.9", L"100.0.1", L"Yes"},  // an old machine runtime, a new one for the user
        {L"100.0", L"", L"101", L""},             // "101" has no second number
        {L"100.0", L"99.0", L"98.0", L""}}) {
    SetRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\" + client, L"pv", machine);
    SetRegistryText(HKEY_CURRENT_USER, L"SOFTWARE\\" + client, L"pv", user);
    RunCases({{"CheckWebViewVersion", {{L"WV_RUNTIME_MIN_VERSION", minimum}}, {{L"VW_ENABLED", enabled}}}});
  }
}

TEST_F(CheckSystemTest, SmallValueProbes) {
  Open();
  RunCases(
      {{"NormRegIEFolderPath", L"IE_FOLDERPATH=C:\\IE;D:\\x", L"IE_FOLDERPATH=C:\\IE"},
       {"NormRegIEFolderPath", L"IE_FOLDERPATH=;C:\\IE", L"IE_FOLDERPATH=;C:\\IE"},
       {"GetExtCompDir", L"SOURCEDIR=D:\\Disk\\Setup\\", L"EXTCOMP_DIR=D:\\Disk\\Setup\\..\\External Components\\"},
       {"IsServer", {}, L"IS_VER_NT_SERVER=no"}});  // the test prefix is a workstation edition
}

TEST_F(CheckSystemTest, DotNetThroughTheLoaderSeam) {
  package.AddProperty(L"MT_DotNet11NotFound", L"No framework for [ProductName].");
  Open();
  {
    Msi::CDotNetDirectoryOverride found([]() -> std::optional<CUnicodeString> { return CUnicodeString(L"C:\\NET\\"); });
    RunCases({{"GetDotNetPath", {}, L"DotNetPath=C:\\NET\\"}});
  }
  // Without the framework setup key the user is asked; Cancel stops the installation.
  const CBox missing{L"No framework for Test Product.", MB_OKCANCEL | MB_ICONEXCLAMATION};
  RunCases(
      {{"CheckDotNetFramework11AndLater", {}, {{L"DOTNET11ORLATER_NOTFOUND", L"Yes"}}, 1602, {missing}, {IDCANCEL}},
       {"CheckDotNetFramework11AndLater", L"", L"", 0, missing, IDOK}});
  SetRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup", L"Other", L"");
  RunCases(
      {{"CheckDotNetFramework11AndLater", {{L"DOTNET11ORLATER_NOTFOUND", L""}}, {{L"DOTNET11ORLATER_NOTFOUND", L""}}}});
}

// The real runtime loader: Wine's mscoree answers without a runtime, so the path stays unset.
TIMED_CHILD_TEST(CheckSystemRealLoader, DotNetPathNotFound, 60000) {
  CActionSession s;
  s.Open();
  s.RunCases({{"GetDotNetPath", {}, L"DotNetPath="}});
}
