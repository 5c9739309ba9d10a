// Properties listed in MsiHiddenProperties: the facade logs their values as asterisks, in its own
// lines and inside any other text the log or the installer receives, in immediate and deferred runs.

#include "ActionTest.h"
#include "CustomActionLog.h"
#include "MsiHelper.h"

using namespace Msi;

namespace {

// Runs the facade as in a deferred run, reading CustomActionData.
struct CDeferredRun : CSessionObserver {
  void PropertyWritten(const CUnicodeString&, const CUnicodeString&, const CUnicodeString&, UINT) override {}
  bool SimulatesScriptMode() const override { return true; }
};

}  // namespace

TEST(HiddenProperties, ValuesNeverReachTheLogOrTheInstaller) {
  TestSupport::CTestPackage package;
  package.AddProperties(L"MsiHiddenProperties=PW; PIN;PADDED|PW=Pw-Imm-7731");
  package.AddProperty(L"PIN", L"42");  // too short to be searched for elsewhere, masked by name
  package.AddProperties(L"PADDED=  Pw-Pad-5512  |CMD=tool.exe /p:Pw-Imm-7731");
  // The deferred data names its hidden items itself; the password also hides inside RunCmd.
  package.AddProperty(L"CustomActionData",
                      L"RunCmd=tool.exe /p:Pw-Dfr-9904;PW=Pw-Dfr-9904;MsiHiddenProperties=\"PW;OTHER\"");
  const MSIHANDLE session = package.Open();

  EXPECT_EQ(GetProperty(session, L"PW"), L"Pw-Imm-7731");
  EXPECT_EQ(GetProperty(session, L"PIN"), L"42");
  EXPECT_EQ(GetProperty(session, L"PADDED"), L"Pw-Pad-5512");  // trimmed and written back
  GetProperty(session, L"CMD");
  CUnicodeString text = L"[CMD] as [PIN]";
  FlushText(session, text);
  SetProperty(session, L"PW", L"Pw-New-3318");
  CustomActionLog() << L"later: Pw-New-3318\r\n";
  ShowInstallerError(session, L"cannot run tool.exe /p:Pw-New-3318");
  {
    CDeferredRun deferred;
    CSessionObserverScope scope(deferred);
    EXPECT_EQ(GetPropertySilent(session, L"RunCmd"), L"tool.exe /p:Pw-Dfr-9904");
    GetProperty(session, L"RunCmd");
    SetPropertySilent(session, L"PW", L"x");
  }

  const CUnicodeString log = package.LogText();
  for (const wchar_t* secret : {L"Pw-Imm", L"Pw-Pad", L"Pw-New", L"Pw-Dfr", L": 42", L"= 42"})
    EXPECT_EQ(log.Find(secret), CUnicodeString::npos) << secret << "\n" << log;
  for (const wchar_t* line :
       {L"Property( PW ) : ******\r\n", L"Property( PIN ) : ******\r\n",
        L"Property( PADDED ) : ******\r\nSet PADDED = ******\r\n", L"Property( CMD ) : tool.exe /p:******\r\n",
        L"FlushText [CMD] as [PIN]\r\n", L"Set PW = ******\r\n", L"later: ******\r\n",
        L"Property( RunCmd ) : tool.exe /p:******\r\n", L"SetPropertySilent in script mode PW = ******\r\n"})
    EXPECT_NE(log.Find(line), CUnicodeString::npos) << line << "\n" << log;
  EXPECT_EQ(package.InstallerErrors(), std::vector<CUnicodeString>{L"cannot run tool.exe /p:******"});
}
