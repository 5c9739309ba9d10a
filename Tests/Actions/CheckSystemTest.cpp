// System component checks: the version comparison, file versions of real version resources, the
// registry probes under an isolated machine, and the .NET probes through their seam and for real.
#include <gtest/gtest.h>

#include "CheckSystem.h"
#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "DotNetDetector.h"
#include "FileVersion.h"
#include "Files.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall GetDotNetPath(MSIHANDLE session);
extern "C" UINT __stdcall CheckDotNetFramework11AndLater(MSIHANDLE session);

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

void WriteRegistry(HKEY root, const wchar_t* path, const wchar_t* name, const CUnicodeString& text) {
  Vrn::CRegistryKey key;
  ASSERT_TRUE(key.Open(root, path, Vrn::RegistryMode::Write));
  key.WriteString(name, text);
}

}  // namespace

TEST(VersionComparison, ThreeFieldsAndInvalidTexts) {
  const struct {
    const wchar_t *left, *right;
    int expected;
  } cases[] = {
      {L"6.1.7601.17514", L"6.1", 2},                           // a missing third number is 0
      {L"6.1.0.9", L"6.1", 0},                                  // the fourth is ignored
      {L"1.2.3", L"1.2.4", -1},         {L"2.0", L"10.0", -1},  // numbers, not texts
      {L"3.0.0", L"2.9.9", 2},          {L"", L"1.0", -2},     {L"1", L"1.0", -2}, {L"1.0", L"1.x.3", -2},
      {L"99999999999.0.0", L"1.0", -2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Msi::CompareVersions(c.left, c.right), c.expected)
        << SessionTests::Utf8(c.left) << " " << SessionTests::Utf8(c.right);
}

class CheckSystemTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CTempFolder windows;  // stands in for WindowsFolder, with a system32 folder
};

TEST(RuntimeVersionRule, BuildOrMinorDecides) {
  const struct {
    Vrn::CFileVersion version;
    bool supported;
  } cases[] = {
      {{14, 0, 23917, 0}, false}, {{14, 0, 23918, 0}, true}, {{14, 1, 0, 0}, true}, {{13, 9, 30000, 0}, false}};
  for (const auto& c : cases)
    EXPECT_EQ(Msi::RuntimeVersionIsSupported(c.version), c.supported) << c.version.ToString().ToUtf8();
}

// The C runtime's own name is Wine's built-in library, whose version the loader answers for, so
// the real resources are read through CheckSystemFileVersion; CheckRuntimeVS15 reads the failures.
TEST_F(CheckSystemTest, SystemFileVersionsFromRealResources) {
  package.Open();
  package.SetProperty(L"WindowsFolder", windows.Path() + L"\\");
  Vrn::CreateDirectoryWithParents(windows / L"system32");
  const CUnicodeString runtime = windows / L"system32\\vcruntime140.dll";
  // CheckSystemFileVersion compares three fields against the wanted version.
  WriteVersionedFile(windows / L"system32\\probe.dll", 6, 1, 7601, 17514);
  package.SetProperty(L"CSFV_FILE_NAME", L"probe.dll");
  for (const auto& [wanted, valid] : {std::pair{L"6.1", L"Yes"}, {L"6.1.7601", L"Yes"}, {L"6.2", L""}, {L"x", L""}}) {
    package.SetProperty(L"CSFV_VERSION", wanted);
    EXPECT_EQ(package.Call("CheckSystemFileVersion"), 0u);
    EXPECT_EQ(package.Property(L"CSFV_CURRENT_VERSION"), L"6.1.7601.17514");
    EXPECT_EQ(package.Property(L"CSFV_VALID"), valid) << SessionTests::Utf8(wanted);
  }
  EXPECT_NE(ActionLog(package).Find(L"CheckSystemFileVersion : compare result : -2\r\n"), CUnicodeString::npos);
  // A file without a version resource, then no file at all: not valid, the reason logged.
  Vrn::WriteFileBytes(runtime, "not a program");
  package.SetProperty(L"CSFV_FILE_NAME", L"missing.dll");
  EXPECT_EQ(package.Call("CheckRuntimeVS15") + package.Call("CheckSystemFileVersion"), 0u);
  EXPECT_EQ(package.Property(L"MSRUNTIME_VALID") + package.Property(L"CSFV_VALID"), L"");
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"CheckRuntimeVS15 : Version cannot read : " + runtime), CUnicodeString::npos);
  EXPECT_NE(log.Find(L"CheckSystemFileVersion : File cannot read : " + (windows / L"system32\\missing.dll")),
            CUnicodeString::npos);
  // Both names are required.
  package.SetProperty(L"CSFV_VERSION", L"");
  EXPECT_EQ(package.Call("CheckSystemFileVersion"), 1603u);
}

TEST_F(CheckSystemTest, RegistryProbes) {
  const wchar_t* components = L"Software\\Microsoft\\InetStp\\Components";
  {
    Vrn::CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, components, Vrn::RegistryMode::Write));
    key.WriteDword(L"ASPNET", 1);
    key.WriteString(L"ISAPIExtensions", L"1");  // a text 1 is off
    key.WriteDword(L"Metabase", 2);
    key.WriteDword(L"ManagementConsole", 1);
    Vrn::CRegistryKey framework;
    ASSERT_TRUE(framework.Open(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727",
                               Vrn::RegistryMode::Write));
    framework.WriteDword(L"Install", 1);
  }
  WriteRegistry(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\InetStp", L"PathWWWRoot",
                L"%SystemDrive%\\inetpub\\wwwroot");
  WriteRegistry(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\ASP.NET\\2.0.50727.0", L"Path", L"%windir%\\fw");
  package.Open();
  EXPECT_EQ(package.Call("AdvancedAppSearch") + package.Call("GetIISROOTFOLDER") + package.Call("GetASPNETFOLDER"), 0u);
  const struct {
    const wchar_t *property, *expected;
  } flags[] = {{L"IS_ASPNETON", L"#1"},         {L"IS_ISAPIEXTENSIONSON", L"0"}, {L"IS_LEGACYSCRIPTSON", L"0"},
               {L"IS_METABASEON", L"0"},        {L"IS_WINAUTON", L"0"},          {L"IS_STATICCONTENT", L"0"},
               {L"IS_MANAGMENTCONSOLE", L"#1"}, {L"IS_FRAMEWORK2.0", L"#1"}};
  for (const auto& flag : flags) EXPECT_EQ(package.Property(flag.property), flag.expected) << flag.property;
  wchar_t drive[16] = {};
  GetEnvironmentVariableW(L"SystemDrive", drive, 16);
  EXPECT_EQ(package.Property(L"IISROOTFOLDER"), CUnicodeString(drive) + L"\\inetpub\\wwwroot");
  EXPECT_EQ(package.Property(L"FRAMEWORKFOLDER"), L"%windir%\\fw");  // stored as is
  const CUnicodeString log = ActionLog(package);
  EXPECT_LT(log.Find(L"Check ManagementConsole\r\n"), log.Find(L"Check Framework 2.0\r\n"));
  // Missing keys: flags off, folders empty, the report engine not installed.
  {
    Vrn::CRegistryKey root;
    ASSERT_TRUE(root.Open(HKEY_LOCAL_MACHINE, L"Software\\Microsoft", Vrn::RegistryMode::Write));
    root.DeleteSubKeyTree(L"InetStp");
  }
  EXPECT_EQ(
      package.Call("AdvancedAppSearch") + package.Call("GetIISROOTFOLDER") + package.Call("IsCrystallReportsInstalled"),
      0u);
  EXPECT_EQ(package.Property(L"IS_ASPNETON"), L"0");
  EXPECT_EQ(package.Property(L"IISROOTFOLDER"), L"");
  EXPECT_EQ(package.Property(L"IS_CRYSTALREPORTS"), L"No");
}

TEST_F(CheckSystemTest, WebViewMachineThenUser) {
  const CUnicodeString client = L"Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
  package.Open();
  const struct {
    const wchar_t *minimum, *machine, *user, *enabled;
  } cases[] = {
      {L"", L"91.0.864.35", L"1.0", L"Yes"},  // the default minimum
      {L"", L"91.0.863.99", L"", L""},
      {L"100.0", L"99.9", L"100.0.1", L"Yes"},  // an old machine runtime, a new one for the user
      {L"100.0", L"", L"101", L""},             // "101" has no second number
      {L"100.0", L"99.0", L"98.0", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(CUnicodeString(c.machine) + L"/" + c.user));
    WriteRegistry(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\WOW6432Node\\" + client).c_str(), L"pv", c.machine);
    WriteRegistry(HKEY_CURRENT_USER, (L"SOFTWARE\\" + client).c_str(), L"pv", c.user);
    package.SetProperty(L"WV_RUNTIME_MIN_VERSION", c.minimum);
    EXPECT_EQ(package.Call("CheckWebViewVersion"), 0u);
    EXPECT_EQ(package.Property(L"VW_ENABLED"), c.enabled);
  }
  EXPECT_NE(ActionLog(package).Find(L"CheckWebViewVersion pvMachine=99.0\r\nCheckWebViewVersion pvUser=98.0\r\n"),
            CUnicodeString::npos);
}

TEST_F(CheckSystemTest, SmallValueProbes) {
  package.Open();
  for (const auto& [path, expected] :
       {std::pair{L"C:\\IE;D:\\x", L"C:\\IE"}, {L";C:\\IE", L";C:\\IE"}, {L"C:\\a", L"C:\\a"}}) {
    package.SetProperty(L"IE_FOLDERPATH", path);
    EXPECT_EQ(package.Call("NormRegIEFolderPath"), 0u);
    EXPECT_EQ(package.Property(L"IE_FOLDERPATH"), expected);
  }
  package.SetProperty(L"SOURCEDIR", L"D:\\Disk\\Setup\\");
  EXPECT_EQ(package.Call("GetExtCompDir"), 0u);
  EXPECT_EQ(package.Property(L"EXTCOMP_DIR"), L"D:\\Disk\\Setup\\..\\External Components\\");
  // The test prefix is a workstation edition.
  EXPECT_EQ(package.Call("IsServer"), 0u);
  EXPECT_EQ(package.Property(L"IS_VER_NT_SERVER"), L"no");
}

TEST_F(CheckSystemTest, DotNetThroughTheLoaderSeam) {
  package.AddProperty(L"MT_DotNet11NotFound", L"No framework for [ProductName].");
  const MSIHANDLE session = package.Open();
  {
    Msi::CDotNetDirectoryOverride found([]() -> std::optional<CUnicodeString> { return CUnicodeString(L"C:\\NET\\"); });
    EXPECT_EQ(GetDotNetPath(session), 0u);
    EXPECT_EQ(package.Property(L"DotNetPath"), L"C:\\NET\\");
  }
  // Without the framework setup key the user is asked; Cancel stops the installation.
  package.SetProperty(L"UILevel", L"5");
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
  ui.answers = {IDCANCEL, IDOK};
  EXPECT_EQ(CheckDotNetFramework11AndLater(session), 1602u);
  EXPECT_EQ(CheckDotNetFramework11AndLater(session), 0u);
  ASSERT_EQ(ui.shown.size(), 2u);
  EXPECT_EQ(ui.shown[0].text, L"No framework for Test Product.");
  EXPECT_EQ(ui.shown[0].style, 49u);
  EXPECT_EQ(package.Property(L"DOTNET11ORLATER_NOTFOUND"), L"Yes");
  package.SetProperty(L"DOTNET11ORLATER_NOTFOUND", L"");
  Vrn::CRegistryKey key;
  ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup", Vrn::RegistryMode::Write));
  EXPECT_EQ(CheckDotNetFramework11AndLater(session), 0u);
  EXPECT_EQ(ui.shown.size(), 2u);
  EXPECT_EQ(package.Property(L"DOTNET11ORLATER_NOTFOUND"), L"");
}

// The real runtime loader: Wine's mscoree answers without a runtime, so the path stays unset.
TIMED_CHILD_TEST(CheckSystemRealLoader, DotNetPathNotFound, 60000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  const MSIHANDLE session = package.Open();
  EXPECT_EQ(GetDotNetPath(session), 0u);
  EXPECT_EQ(package.Property(L"DotNetPath"), L"");
}
