// Upgrade pieces that need no installed product: build bounds, the image description, leftover
// removal, the settings tool, the update query. Installed products: Tests/EndToEnd/upgrade-install.
#include "ActionTest.h"
#include "ChildProcessTest.h"
#include "MsiHelper.h"
#include "ServicePackTools.h"
#include "TestChild.h"

using namespace TestSupport;

TEST(BuildNumber, ThirdFieldOnly) {
  const std::pair<const wchar_t*, int64_t> cases[] = {
      {L"5.2.1234.7", 1234}, {L"1.0. 77 .1", 77}, {L"3.1", -1}, {L"1.2.x.4", -1}};
  for (const auto& [version, build] : cases) EXPECT_EQ(Msi::GetBuildNumber(version), build) << version;
}

using ServicePackToolsTest = ActionTest;

TEST_F(ServicePackToolsTest, BuildRangeFromBoundsOrOwnBuild) {
  Open();
  Set(L"ProductVersion=5.2.1234.0");
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, int64_t, bool> cases[] = {
      {L"", L"", L"", 0, true},
      {L"", L"100", L" 200 ", 200, true},
      {L"", L"100", L"200", 201, false},
      {L"CheckBuild", L"", L"", 1234, true},
      {L"x,CheckBuild", L"1", L"9", 1235, false},  // the own build replaces the bounds
      {L"checkbuild", L"", L"", 1233, true},       // case-sensitive: no bounds
  };
  for (const auto& [flags, minimum, maximum, build, valid] : cases) {
    Set({{L"ISReleaseFlags", flags},
         {L"UPGRADEPRODUCTINFO_MinVersion", minimum},
         {L"UPGRADEPRODUCTINFO_MaxVersion", maximum}});
    EXPECT_EQ(Msi::CheckBuildRange(Session(), build), valid) << build;
  }
  // A bound that is not a non-negative number is an internal error, reported as 1603 by the action
  // (not found, but installed: it goes on to an empty product).
  RunCases({{"GetUpgradeProductInfo",
             L"ISReleaseFlags=|UPGRADEPRODUCTINFO_MinVersion=-1|UPGRADEPRODUCTINFO_ProductCode={00000000-0000-0000-"
             L"0000-0000000000AA}|Installed=1",
             L"UPGRADEPRODUCTINFO_Installed=", 1603}});
}

TEST_F(ServicePackToolsTest, AdminImageDescription) {
  Open(true);  // source paths are known after costing
  const CUnicodeString ini = Vrn::JoinPath(Msi::GetSourcePath(Session(), L"TARGETDIR"), L"AdminImageInfo.ini");
  // bytes null: no file
  const std::tuple<const char*, bool, const wchar_t*, const wchar_t*> cases[] = {
      {nullptr, false, L"No", L"untouched"},
      {"[INFO]\r\nisadminimage = Yes\r\nName= srv01 \r\n", true, L"Yes", L"srv01"},
      {"; comment\r\n[Info]\r\nName=srv02", false, L"No", L"srv02"},
      {"[Other]\r\nIsAdminImage=Yes\r\n[Inf", false, L"No", L"untouched"},
  };
  for (const auto& [bytes, utf16, isAdminImage, serverName] : cases) {
    if (bytes == nullptr)
      ::DeleteFileW(ini.c_str());
    else
      Vrn::WriteTextFile(ini, CUnicodeString::FromUtf8(bytes), utf16 ? 1200 : CP_ACP);
    RunCases({{"GetAdminPackageInfo",
               L"APPSERVER_NAME=untouched",
               {{L"IS_ADMINIMAGE", isAdminImage}, {L"APPSERVER_NAME", serverName}}}});
  }
}

TEST_F(ServicePackToolsTest, DeletesListedEntriesUpToTheFirstEmptyItem) {
  CTempFolder folder;
  for (const wchar_t* file : {L"a.log", L"b.log", L"keep.txt", L".hidden.log", L"Sub\\inner.txt", L"late.txt"})
    WriteText(folder / file, "x");
  package.AddProperty(L"INSTALLDIR", folder.Path() + L"\\");
  Open();
  RunCases({{"DeleteFilesFromInstalldir", L"FileList=*.log,Sub,,late.txt"},
            {"DeleteFilesFromInstalldir", L"FileList=", L"", 1603}});
  for (const wchar_t* gone : {L"a.log", L"b.log", L"Sub"}) EXPECT_FALSE(Exists(folder / gone)) << gone;
  EXPECT_TRUE(Exists(folder / L".hidden.log"));  // names with a leading dot stay
  EXPECT_TRUE(Exists(folder / L"keep.txt"));
  EXPECT_TRUE(Exists(folder / L"late.txt"));  // after the empty item
}

// The tool's folder property ends with a separator; here it ends the test child's command line,
// whose last option swallows the appended program name. The two refusals differ only in the log.
TEST_F(ServicePackToolsTest, SettingsToolExitCodes) {
  Open();
  CTempFolder folder;
  const std::tuple<CUnicodeString, CResult, const wchar_t*> cases[] = {
      {TestChildCommand(L"exit=0 print="), 0, L""},
      {TestChildCommand(L"exit=4294967295 print="), 1602, L"exitCode:4294967295\r\n"},
      {folder.Path() + L"\\", 1602, L"error create process\r\n"},
      {L"", 1603, L""},  // an internal error, counted
  };
  for (const auto& [installFolder, result, line] : cases) {
    const size_t logged = Log().Length();
    RunCases({{"LaunchSettingsUpdate", L"Installdir=" + installFolder, L"", result}});
    EXPECT_TRUE(Logged(line, logged)) << installFolder;
  }
}

// Wine's own wmic knows no "qfe": nothing comes back. A stand-in (the feature tool's, printing the
// listing beside it) reached through the %windir% the command inherits reports the update.
TIMED_CHILD_TEST(ServicePackToolsReal, CheckKBThroughWmic, 120000) {
  CActionSession s;
  s.Open();
  s.RunCases({{"CheckKB", L"KB_NAME=KB4012212|IS_KB4012212=stale", L"IS_KB4012212="}});
  CTempFolder windows;
  const CUnicodeString wbem = windows / L"System32\\wbem";
  Vrn::CreateDirectoryWithParents(wbem);
  ASSERT_TRUE(::CopyFileW(BuildPath(L"FakeDism.exe").c_str(), (wbem + L"\\wmic.exe").c_str(), FALSE));
  WriteBytes(wbem + L"\\wmic.txt", "HotFixID   InstalledOn\r\nKB4012212  3/14/2017\r\nKB4012215  3/14/2017\r\n");
  ASSERT_TRUE(::SetEnvironmentVariableW(L"windir", windows.Path().c_str()));
  s.RunCases({{"CheckKB", {}, L"IS_KB4012212=Yes"},
              {"CheckKB", L"KB_NAME=KB4012213", L"IS_KB4012213="},
              {"CheckKB", L"KB_NAME=", L"", 1603}});
}
