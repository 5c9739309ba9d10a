// The stored launcher command line: publication, name extraction, look-alike folding and the
// counted refusal, with the stored value in an isolated registry.
#include <gtest/gtest.h>

#include "CoreFixtures.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall CheckCMDLINE(MSIHANDLE session);

namespace {

void StoreCommandLine(const wchar_t* path, const CUnicodeString& commandLine) {
  Vrn::CRegistryKey key;
  ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, path, Vrn::RegistryMode::Write));
  key.WriteString(L"CMDLINE", commandLine);
}

// The counter is a decimal text in the 64-bit view; 0 when missing.
uint32_t InstallationCount() {
  Vrn::CRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup\\MutexCounter", Vrn::RegistryMode::Read,
                Vrn::RegistryView::Sixty4))
    return 0;
  return Vrn::StrictInteger<uint32_t>(key.ReadString(L"InstallationCount")).value_or(0);
}

}  // namespace

class CheckMaskedEditTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
};

TEST_F(CheckMaskedEditTest, PublishesOnlyWhenLaunchedFromSetup) {
  StoreCommandLine(L"SOFTWARE\\Wow6432Node\\Orvant\\Setup", L"LANG=2");
  package.Open();
  EXPECT_EQ(package.Call("GetCMDLINE"), 0u);
  EXPECT_EQ(package.Property(L"CMDLINE"), L"");
  package.SetProperty(L"LAUNCH_FROM_SETUP", L"1");
  EXPECT_EQ(package.Call("GetCMDLINE"), 0u);
  EXPECT_EQ(package.Property(L"CMDLINE"), L"LANG=2");  // the 32-bit location when the first is empty
  StoreCommandLine(L"SOFTWARE\\Orvant\\Setup", L"LANG=3");
  EXPECT_EQ(package.Call("GetCMDLINE"), 0u);
  EXPECT_EQ(package.Property(L"CMDLINE"), L"LANG=3");
}

TEST_F(CheckMaskedEditTest, ValidatesEveryAssignedName) {
  package.AddProperty(L"MT_CMDLINE_InvalidArg", L"Unknown %0 in %1");
  package.AddProperty(L"MT_CMDLINE_Bad", L"Empty name in %1");
  package.AddProperty(L"CMDLINE_ARG_LIST", L"LANG;Lang;SERVER");
  const MSIHANDLE session = package.Open();
  package.SetProperty(L"UILevel", L"5");
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride seam{ui};
  const CUnicodeString longValue(std::wstring(32000, L'v'));
  const struct {
    const wchar_t* launched;
    CUnicodeString commandLine;
    const wchar_t* ignoreList;
    const wchar_t* shown;  // nullptr when it passes
  } cases[] = {
      {L"", L"EVIL=1", L"", nullptr},  // not from the launcher: the registry is not read
      {L"1", L"INSTALLDIR=\"C:\\My App\" LANG=1", L"", nullptr},
      {L"1", L"lang=1 server=x", L"", nullptr},                                            // names in any case
      {L"1", L"\x0418NSTALLDIR=1", L"", L"Unknown \x0418NSTALLDIR in \x0418NSTALLDIR=1"},  // not a look-alike
      {L"1", L"INST\x0410LLDIR=C:\\x", L"", nullptr},                                      // folded Cyrillic A
      {L"1", L"TARGETDIR=C:\\x", L"INSTALLDIR", L"Unknown TARGETDIR in TARGETDIR=C:\\x"},  // own ignore list
      {L"1", L"LANG=\"a=b\"", L"", L"Unknown \"a in LANG=\"a=b\""},
      {L"1", L"A= =1", L"A", L"Empty name in A= =1"},
      {L"1", L"LANG=" + longValue, L"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.commandLine.Left(60)));
    StoreCommandLine(L"SOFTWARE\\Orvant\\Setup", c.commandLine);
    package.SetProperty(L"LAUNCH_FROM_SETUP", c.launched);
    package.SetProperty(L"CMDLINE_ARG_IGNORE_LIST", c.ignoreList);
    ui.shown.clear();
    EXPECT_EQ(CheckCMDLINE(session), c.shown ? 1603u : 0u);
    EXPECT_EQ(package.Property(L"CMDLINE_OK"), c.shown ? L"" : L"Yes");
    ASSERT_EQ(ui.shown.size(), c.shown ? 1u : 0u);
    if (c.shown) {
      EXPECT_EQ(ui.shown[0].text, c.shown);
      EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ICONWARNING));
    }
  }
  EXPECT_EQ(InstallationCount(), 4u);  // each refusal is counted
  EXPECT_NE(ActionLog(package).Find(L"GetCMDLINE left=INSTALLDIR\r\n\r\nGetCMDLINE left=LANG\r\n\r\nGetCMDLINE left=1"),
            CUnicodeString::npos);
}
