// Upgrade discovery pieces that need no installed product: build numbers and bounds, the image
// description file, leftover removal and the settings tool. The discovery against installed
// products runs under msiexec in Tests/EndToEnd/upgrade-install.
#include <gtest/gtest.h>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "Files.h"
#include "ServicePackTools.h"
#include "SessionTestSupport.h"
#include "TestChild.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall CheckKB(MSIHANDLE session);

TEST(BuildNumber, ThirdFieldOnly) {
  const struct {
    const wchar_t* version;
    int64_t build;
  } cases[] = {{L"5.2.1234.7", 1234}, {L"1.0. 77 .1", 77}, {L"3.1", -1},
               {L"1.2..4", -1},       {L"1.2.x.4", -1},    {L"1.2.99999999999999999999", -1}};
  for (const auto& c : cases) EXPECT_EQ(Msi::GetBuildNumber(c.version), c.build) << SessionTests::Utf8(c.version);
}

class ServicePackToolsTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CTempFolder folder;
};

TEST_F(ServicePackToolsTest, BuildRangeFromBoundsOrOwnBuild) {
  const MSIHANDLE session = package.Open();
  package.SetProperty(L"ProductVersion", L"5.2.1234.0");
  const struct {
    const wchar_t *flags, *minimum, *maximum;
    int64_t build;
    bool valid;
  } cases[] = {
      {L"", L"", L"", 0, true},
      {L"", L"100", L" 200 ", 200, true},
      {L"", L"100", L"200", 201, false},
      {L"CheckBuild", L"", L"", 1234, true},
      {L"x,CheckBuild", L"1", L"9", 1235, false},  // the own build replaces the bounds
      {L"checkbuild", L"", L"", 1233, true},       // case-sensitive: no bounds
  };
  for (const auto& c : cases) {
    package.SetProperty(L"ISReleaseFlags", c.flags);
    package.SetProperty(L"UPGRADEPRODUCTINFO_MinVersion", c.minimum);
    package.SetProperty(L"UPGRADEPRODUCTINFO_MaxVersion", c.maximum);
    EXPECT_EQ(Msi::CheckBuildRange(session, c.build), c.valid) << c.build;
  }
  // A bound that is not a non-negative number is an internal error, reported as 1603 by the action.
  package.SetProperty(L"ISReleaseFlags", L"");
  package.SetProperty(L"UPGRADEPRODUCTINFO_MinVersion", L"-1");
  package.SetProperty(L"UPGRADEPRODUCTINFO_ProductCode", L"{00000000-0000-0000-0000-0000000000AA}");
  package.SetProperty(L"Installed", L"1");  // not found, but installed: goes on to an empty product
  EXPECT_EQ(package.Call("GetUpgradeProductInfo"), 1603u);
  EXPECT_EQ(package.Property(L"UPGRADEPRODUCTINFO_Installed"), L"");
}

TEST_F(ServicePackToolsTest, AdminImageDescription) {
  const MSIHANDLE session = package.Open(true);  // source paths are known after costing
  const CUnicodeString ini = Vrn::JoinPath(Msi::GetSourcePath(session, L"TARGETDIR"), L"AdminImageInfo.ini");
  const struct {
    const char* bytes;  // nullptr: no file
    bool utf16;
    const wchar_t *isAdminImage, *serverName, *logged;
  } cases[] = {
      {nullptr, false, L"No", L"untouched", L"Cannot find "},
      {"[INFO]\r\nisadminimage = Yes\r\nName= srv01 \r\n", true, L"Yes", L"srv01", nullptr},
      {"; comment\r\n[Info]\r\nName=srv02", false, L"No", L"srv02", L"Cannot find key isAdminImage\r\n\r\n"},
      {"[Other]\r\nIsAdminImage=Yes\r\n[Inf", false, L"No", L"untouched", L"Cannot find section Info\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes ? c.bytes : "(no file)");
    if (c.bytes == nullptr)
      DeleteFileW(ini.c_str());
    else
      Vrn::WriteTextFile(ini, CUnicodeString::FromUtf8(c.bytes), c.utf16 ? 1200 : CP_ACP);
    package.SetProperty(L"APPSERVER_NAME", L"untouched");
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(package.Call("GetAdminPackageInfo"), 0u);
    EXPECT_EQ(package.Property(L"IS_ADMINIMAGE"), c.isAdminImage);
    EXPECT_EQ(package.Property(L"APPSERVER_NAME"), c.serverName);
    if (c.logged) {
      EXPECT_NE(ActionLog(package).Mid(logged).Find(c.logged), CUnicodeString::npos);
    }
  }
}

TEST_F(ServicePackToolsTest, DeletesListedEntriesUpToTheFirstEmptyItem) {
  Vrn::CreateDirectoryWithParents(folder / L"Sub");
  for (const wchar_t* file : {L"a.log", L"b.log", L"keep.txt", L".hidden.log", L"Sub\\inner.txt", L"late.txt"})
    Vrn::WriteFileBytes(folder / file, "x");
  package.AddProperty(L"INSTALLDIR", folder.Path() + L"\\");
  package.AddProperty(L"FileList", L"*.log,Sub,,late.txt");
  package.Open();
  EXPECT_EQ(package.Call("DeleteFilesFromInstalldir"), 0u);
  EXPECT_FALSE(Vrn::PathExists(folder / L"a.log"));
  EXPECT_FALSE(Vrn::PathExists(folder / L"b.log"));
  EXPECT_FALSE(Vrn::PathExists(folder / L"Sub"));
  EXPECT_TRUE(Vrn::PathExists(folder / L".hidden.log"));  // names with a leading dot stay
  EXPECT_TRUE(Vrn::PathExists(folder / L"keep.txt"));
  EXPECT_TRUE(Vrn::PathExists(folder / L"late.txt"));  // after the empty item
  package.SetProperty(L"FileList", L"");
  EXPECT_EQ(package.Call("DeleteFilesFromInstalldir"), 1603u);
}

TEST_F(ServicePackToolsTest, SettingsToolExitCodes) {
  package.Open();
  // The tool's folder property ends with a separator; here it ends the test child's command line,
  // whose last option swallows the appended program name.
  const struct {
    CUnicodeString folder;
    UINT result;
    const wchar_t* logged;
  } cases[] = {
      {TestSupport::TestChildCommand(L"exit=0 print="), 0, L"success create process\r\n"},
      {TestSupport::TestChildCommand(L"exit=4294967295 print="), 1602, L"exitCode:4294967295\r\n"},
      {folder.Path() + L"\\", 1602, L"error create process\r\n"},
      {L"", 1603, nullptr},
  };
  for (const auto& c : cases) {
    package.SetProperty(L"Installdir", c.folder);
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(package.Call("LaunchSettingsUpdate"), c.result) << SessionTests::Utf8(c.folder);
    const CUnicodeString log = ActionLog(package).Mid(logged);
    if (c.logged) {
      EXPECT_NE(log.Find(L"cmdLine= " + c.folder + L"SettingsUpdate.exe\r\n"), CUnicodeString::npos) << log;
      EXPECT_NE(log.Find(c.logged), CUnicodeString::npos) << log;
    }
  }
}

// The real update query: Wine's wmic knows no "qfe", so no line comes back and the flag is empty.
TIMED_CHILD_TEST(ServicePackToolsReal, CheckKBWithoutUpdates, 120000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.AddProperty(L"KB_NAME", L"KB4012212");
  package.AddProperty(L"IS_KB4012212", L"stale");
  const MSIHANDLE session = package.Open();
  EXPECT_EQ(CheckKB(session), 0u);
  EXPECT_EQ(package.Property(L"IS_KB4012212"), L"");
}
