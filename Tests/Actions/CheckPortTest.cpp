// The port checks: the bind test against real listeners, the actions over OV_Port with scripted
// boxes, a scripted IIS and an in-memory firewall, the configurator as a command script, and the
// real IIS and firewall sides once each under a time limit.
#include <gtest/gtest.h>

#include "CheckPort.h"
#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "Firewall.h"
#include "IisCommand.h"
#include "LocalListener.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using TestSupport::CListener;
using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall CheckPortIsEnable(MSIHANDLE), CheckPortByTable(MSIHANDLE), CheckPortByTableOnly(MSIHANDLE),
    CheckSiteByTable(MSIHANDLE), CheckPortRange(MSIHANDLE), IsPortEnabledInFirewall(MSIHANDLE);
}

namespace {

// A port that was free a moment ago.
CUnicodeString FreePort() { return CListener().Text(); }

// IIS answering every query with the same output, recording the commands.
class CScriptedIis : public Msi::CIisCommand {
 public:
  CUnicodeString CaptureBindings(const CUnicodeString& command) override { return Answer(command); }
  CUnicodeString CaptureSites(const CUnicodeString& command) override { return Answer(command); }
  CUnicodeString output;
  std::vector<CUnicodeString> commands;

 private:
  CUnicodeString Answer(const CUnicodeString& command) {
    commands.push_back(command);
    return output;
  }
};

class CScriptedFirewall : public Msi::CFirewall {
 public:
  Msi::COpenPortState QueryGloballyOpenPort(uint32_t port) override {
    ports.push_back(port);
    return state;
  }
  Msi::COpenPortState state;
  std::vector<uint32_t> ports;
};

}  // namespace

class CheckPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    package.ImportTable(TestSupport::TableSchemaPath(L"OV_Port"));
    SessionTests::AddTestFeatures(package);
    const std::pair<const wchar_t*, const wchar_t*> messages[] = {{L"MT_Port80andNotIIS", L"80 needs IIS: %0"},
                                                                  {L"MT_PortInvalidValue", L"invalid %0"},
                                                                  {L"MT_CannotOpenPort", L"busy %0"},
                                                                  {L"MT_PortIsBad", L"bad %0"},
                                                                  {L"MT_PortIsEmpty", L"empty"},
                                                                  {L"MT_PortIsDubl", L"twice"},
                                                                  {L"MT_PortTableCaption", L"Problems:"},
                                                                  {L"MT_SiteAlreadyExist", L"site %0 exists"},
                                                                  {L"MT_BadPortRange", L"bad range"}};
    for (const auto& [name, text] : messages) package.AddProperty(name, text);
  }
  void AddPortRow(const wchar_t* id, const wchar_t* property, const wchar_t* component, const wchar_t* site = L"Site") {
    package.Insert(L"OV_Port", {L"ID", L"PortNumber", L"SiteName", L"Component", L"Comment"},
                   {id, property, site, component, site});
  }
  MSIHANDLE Open() {
    const MSIHANDLE session = package.Open(true);
    package.SetProperty(L"UILevel", L"5");  // boxes go to the user interface
    return session;
  }
  // The texts of the boxes shown since the last call.
  std::vector<CUnicodeString> Boxes() {
    std::vector<CUnicodeString> texts;
    for (const auto& box : ui.shown) texts.push_back(box.text);
    ui.shown.clear();
    return texts;
  }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
  CScriptedIis iis;
  Msi::CIisCommandOverride iisSeam{iis};
};

TEST(CheckPortFree, RealListenersMakeAPortBusy) {
  for (const ULONG address : {ULONG{INADDR_ANY}, ULONG{INADDR_LOOPBACK}}) {
    uint16_t port = 0;
    {
      const CListener listener(address);
      port = listener.Port();
      EXPECT_FALSE(Msi::IsPortFree(port));
    }
    EXPECT_TRUE(Msi::IsPortFree(port));
  }
}

TEST_F(CheckPortTest, CheckPortIsEnableVerdicts) {
  const CListener busy;
  const CUnicodeString free = FreePort();
  Open();
  const struct {
    CUnicodeString port;
    bool iis;
    CUnicodeString box;  // empty: none
    bool ok;
  } cases[] = {
      {L" 80", false, L"80 needs IIS: 80", false},
      {L"080", false, L"80 needs IIS: 80", false},
      {L"0", false, L"invalid 0", false},
      {L"65536", false, L"invalid 65536", false},
      {L"-1", false, L"invalid -1", false},
      {L"80a", false, L"", false},
      {busy.Text(), false, L"busy " + busy.Text(), false},
      {free, false, L"", true},
  };
  for (const auto& c : cases) {
    package.SetProperty(L"PORTNAME", c.port);
    package.SetProperty(L"IS_IIS", c.iis ? L"1" : L"");
    EXPECT_EQ(CheckPortIsEnable(package.Session()), 0u);
    EXPECT_EQ(package.Property(L"PortIsOK"), c.ok ? L"Yes" : L"") << c.port;
    const std::vector<CUnicodeString> boxes = Boxes();
    if (!c.box.IsEmpty())
      EXPECT_EQ(boxes, std::vector<CUnicodeString>{c.box}) << c.port;
    else
      EXPECT_TRUE(boxes.empty()) << c.port;
  }
  EXPECT_TRUE(iis.commands.empty());
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"isPortEnable: ERROR: Illegial port number: 65536"), CUnicodeString::npos);
  EXPECT_NE(log.Find(L"Cannot convert port number from string\r\n"), CUnicodeString::npos);
}

TEST_F(CheckPortTest, IisBindingsDecideAFreePortAndEightyEightyBlocksEighty) {
  const CUnicodeString free = FreePort();
  Open();
  package.SetProperty(L"IS_IIS", L"Yes");
  package.SetProperty(L"PORTNAME", free);
  iis.output = L"SITE \"Default Web Site\" (id:1,bindings:http/*:8080:,state:Started)\r\n";
  EXPECT_EQ(CheckPortIsEnable(package.Session()), 0u);
  EXPECT_EQ(package.Property(L"PortIsOK"), L"");
  EXPECT_EQ(Boxes(), std::vector<CUnicodeString>{L"busy " + free});
  ASSERT_EQ(iis.commands.size(), 1u);
  EXPECT_EQ(iis.commands[0], L"%windir%\\System32\\inetsrv\\appcmd.exe list site | findstr bindings.*[/:]" + free);
  EXPECT_NE(ActionLog(package).Find(L"isPortEnable: CheckIfNoIISWebSiteOnPort:0"), CUnicodeString::npos);

  iis.output = L"";
  EXPECT_EQ(CheckPortIsEnable(package.Session()), 0u);
  EXPECT_EQ(package.Property(L"PortIsOK"), L"Yes");
}

TEST_F(CheckPortTest, CheckPortByTableTakesTheAlternativeOrNamesTheConflict) {
  const CListener busy, otherBusy;
  const CUnicodeString free = FreePort();
  AddPortRow(L"1", L"WEB_PORT", L"MainComp", L"Web");
  AddPortRow(L"2", L"API_PORT", L"MainComp", L"Api");
  AddPortRow(L"3", L"OFF_PORT", L"OffComp", L"Off");  // never checked: not installed
  Open();
  const struct {
    CUnicodeString api, old, select;
    const wchar_t* ok;
    CUnicodeString selectAfter;
    const wchar_t* site;
  } cases[] = {
      {free, L"", free, L"", free, L"Web"},  // the alternative is another row's port
      {free, L"", L"x", L"", busy.Text(), L"Web"},
      {free, L"", otherBusy.Text(), L"", otherBusy.Text(), L"Web"},
      {free, busy.Text(), L"", L"Yes", L"", L""},  // the old value is accepted untested
  };
  for (const auto& c : cases) {
    package.SetProperty(L"WEB_PORT", busy.Text());
    package.SetProperty(L"API_PORT", c.api);
    package.SetProperty(L"OLD_WEB_PORT", c.old);
    package.SetProperty(L"OFF_PORT", busy.Text());
    package.SetProperty(L"SELECT_PORT", c.select);
    package.SetProperty(L"SELECT_SITE_NAME", L"");
    EXPECT_EQ(CheckPortByTable(package.Session()), 0u);
    EXPECT_EQ(package.Property(L"ALL_PORTS_IS_OK"), c.ok) << c.select;
    EXPECT_EQ(package.Property(L"WEB_PORT"), busy.Text());
    EXPECT_EQ(package.Property(L"SELECT_PORT"), c.selectAfter) << c.select;
    EXPECT_EQ(package.Property(L"SELECT_SITE_NAME"), c.site) << c.select;
  }
  // The alternative is free and no row holds it, so the row takes it.
  package.SetProperty(L"WEB_PORT", busy.Text());
  package.SetProperty(L"API_PORT", FreePort());
  package.SetProperty(L"OLD_WEB_PORT", L"");
  package.SetProperty(L"SELECT_PORT", free);
  EXPECT_EQ(CheckPortByTable(package.Session()), 0u);
  EXPECT_EQ(package.Property(L"WEB_PORT"), free);
  EXPECT_EQ(package.Property(L"ALL_PORTS_IS_OK"), L"Yes");
  EXPECT_TRUE(Boxes().empty());  // quiet checks

  package.SetProperty(L"WEB_PORT", L"80a");
  EXPECT_EQ(CheckPortByTable(package.Session()), 0u);
  EXPECT_EQ(Boxes(), std::vector<CUnicodeString>{L"bad 80a"});
  EXPECT_EQ(package.Property(L"SELECT_SITE_NAME"), L"Web");
}

TEST_F(CheckPortTest, CheckPortByTableOnlyListsEveryProblemOnce) {
  const CListener busy;
  const CUnicodeString free = FreePort();
  AddPortRow(L"1", L"A_PORT", L"MainComp");
  AddPortRow(L"2", L"B_PORT", L"MainComp");
  AddPortRow(L"3", L"C_PORT", L"MainComp");
  AddPortRow(L"4", L"D_PORT", L"MainComp");
  AddPortRow(L"5", L"E_PORT", L"OffComp");  // not installed: neither tested nor counted as a duplicate
  Open();
  package.SetProperty(L"A_PORT", free);
  package.SetProperty(L"B_PORT", L" " + free + L" ");
  package.SetProperty(L"C_PORT", L"123456");
  package.SetProperty(L"D_PORT", busy.Text());
  package.SetProperty(L"E_PORT", L"80");
  EXPECT_EQ(CheckPortByTableOnly(package.Session()), 0u);
  EXPECT_EQ(package.Property(L"ALL_PORTS_IS_OK"), L"");
  EXPECT_EQ(package.Property(L"B_PORT"), free);  // trimmed and written back
  EXPECT_EQ(Boxes(), std::vector<CUnicodeString>{L"Problems:12345\tinvalid %0\n\n" + busy.Text() + L"\tbusy %0\n\n" +
                                                 free + L"\ttwice\n\n"});

  package.SetProperty(L"B_PORT", L"");
  package.SetProperty(L"C_PORT", L"80");
  package.SetProperty(L"OLD_D_PORT", busy.Text());
  EXPECT_EQ(CheckPortByTableOnly(package.Session()), 0u);
  EXPECT_EQ(Boxes(), std::vector<CUnicodeString>{L"Problems:\tempty\n\n80\t80 needs IIS: %0\n\n"});

  package.SetProperty(L"B_PORT", L"7");
  package.SetProperty(L"C_PORT", L"8");
  package.SetProperty(L"D_PORT", L"9");
  package.SetProperty(L"IS_CPTO_FORCEDLY", L"1");  // now the row of E counts
  package.SetProperty(L"E_PORT", free);
  package.SetProperty(L"OLD_B_PORT", L"7");
  package.SetProperty(L"OLD_C_PORT", L"8");
  package.SetProperty(L"OLD_D_PORT", L"9");
  EXPECT_EQ(CheckPortByTableOnly(package.Session()), 0u);
  EXPECT_EQ(Boxes(), std::vector<CUnicodeString>{L"Problems:" + free + L"\ttwice\n\n"});
  package.SetProperty(L"E_PORT", L"10");
  package.SetProperty(L"OLD_E_PORT", L"10");
  EXPECT_EQ(CheckPortByTableOnly(package.Session()), 0u);
  EXPECT_EQ(package.Property(L"ALL_PORTS_IS_OK"), L"Yes");
}

TEST_F(CheckPortTest, CheckPortRangeBoundsQuestionAndConflicts) {
  AddPortRow(L"1", L"LOW_PORT", L"MainComp");
  AddPortRow(L"2", L"HIGH_PORT", L"MainComp");
  package.AddProperty(L"REQUEST_PROPERTY_NAME", L"MT_WIDE");
  package.AddProperty(L"MT_WIDE", L"wide range?");
  Open();
  const struct {
    const wchar_t *begin, *end, *low, *high;
    int answer;  // to the question, when asked
    const wchar_t* enabled;
    std::vector<CUnicodeString> boxes;
  } cases[] = {
      {L"1000", L"1300", L"1000", L"1", 0, L"Yes", {}},
      {L"1000", L"1300", L"1000", L"1300", 0, L"", {L"Problems:1300\ttwice\n\n"}},
      {L"1000", L"1301", L"1", L"1", IDOK, L"Yes", {L"wide range?"}},  // over 300 ports: asked
      {L"1000", L"1301", L"1", L"1", IDCANCEL, L"", {L"wide range?"}},
      {L"1000", L"1000", L"1", L"1", 0, L"", {L"bad range"}},
      {L"", L"1300", L"1", L"1", 0, L"", {L"empty"}},
      {L"10", L"65536", L"1", L"1", 0, L"", {L"invalid 65536"}},
  };
  for (const auto& c : cases) {
    package.SetProperty(L"BEGIN_RANGE_PORT", c.begin);
    package.SetProperty(L"END_RANGE_PORT", c.end);
    package.SetProperty(L"LOW_PORT", c.low);
    package.SetProperty(L"HIGH_PORT", c.high);
    package.SetProperty(L"IsPortRangeEnabled", L"before");
    ui.answers = {c.answer};
    EXPECT_EQ(CheckPortRange(package.Session()), 0u);
    EXPECT_EQ(package.Property(L"IsPortRangeEnabled"), c.enabled) << CUnicodeString(c.begin) + L"-" + c.end;
    EXPECT_EQ(Boxes(), c.boxes) << CUnicodeString(c.begin) + L"-" + c.end;
  }
}

TEST_F(CheckPortTest, CheckSiteByTableAsksIisForEveryInstalledSite) {
  AddPortRow(L"1", L"A_PORT", L"MainComp", L"Shop");
  AddPortRow(L"2", L"B_PORT", L"OffComp", L"Off");
  AddPortRow(L"3", L"C_PORT", L"MainComp", L"Blog");
  Open();
  iis.output = L"SITE \"Shop\" (id:2,bindings:http/*:81:,state:Started)\r\n";
  EXPECT_EQ(CheckSiteByTable(package.Session()), 0u);
  EXPECT_EQ(package.Property(L"ALL_SITES_IS_OK"), L"Yes");  // without IIS nothing is asked
  EXPECT_TRUE(iis.commands.empty());

  package.SetProperty(L"IS_IIS", L"1");
  EXPECT_EQ(CheckSiteByTable(package.Session()), 0u);
  EXPECT_EQ(package.Property(L"ALL_SITES_IS_OK"), L"");
  EXPECT_EQ(Boxes(), (std::vector<CUnicodeString>{L"site Shop exists", L"site Blog exists"}));
  EXPECT_EQ(iis.commands,
            (std::vector<CUnicodeString>{L"%windir%\\System32\\inetsrv\\appcmd.exe list site | findstr \"Shop\"",
                                         L"%windir%\\System32\\inetsrv\\appcmd.exe list site | findstr \"Blog\""}));
  iis.output = L"garbage";
  EXPECT_EQ(CheckSiteByTable(package.Session()), 0u);
  EXPECT_EQ(package.Property(L"ALL_SITES_IS_OK"), L"Yes");
}

TEST_F(CheckPortTest, IsPortEnabledInFirewallReadsTheProfile) {
  Open();
  CScriptedFirewall firewall;
  Msi::CFirewallOverride seam{firewall};
  using Msi::FirewallStep;
  const struct {
    Msi::COpenPortState state;
    const wchar_t *firewallOn, *portEnabled, *logLine;
  } cases[] = {
      {{std::nullopt, S_OK, true, true, true}, L"Yes", L"Yes", L"Port is open in the firewall. portNumber -  8443"},
      {{std::nullopt, S_OK, true, true, false}, L"Yes", L"", L"Port is not open in the firewall. portNumber - 8443"},
      {{std::nullopt, S_OK, false, false, false}, L"", L"", L"IsPortEnabledInWindowsFirewall-End"},
      {{FirewallStep::CreateManager, Msi::kFirewallServiceNotRunning},
       L"",
       L"unchanged",
       L"(SharedAccess) is not running\r\nFailed to get current firewall profile"},
      {{FirewallStep::LocalPolicy, E_FAIL},
       L"Yes",
       L"unchanged",
       L"Failed to get firewall local policy. ExitCode = 0x80004005"},
  };
  package.SetProperty(L"PortName", L" 8443");
  for (const auto& c : cases) {
    package.SetProperty(L"IsFirewallOn", L"");
    package.SetProperty(L"IsPortEnabled", L"unchanged");
    firewall.state = c.state;
    EXPECT_EQ(IsPortEnabledInFirewall(package.Session()), 0u);
    EXPECT_EQ(package.Property(L"IsFirewallOn"), c.firewallOn) << c.logLine;
    EXPECT_EQ(package.Property(L"IsPortEnabled"), c.portEnabled) << c.logLine;
    EXPECT_NE(ActionLog(package).Find(c.logLine), CUnicodeString::npos) << c.logLine;
  }
  EXPECT_EQ(firewall.ports.back(), 8443u);
  package.SetProperty(L"PortName", L"80a");
  EXPECT_EQ(IsPortEnabledInFirewall(package.Session()), 1603u);
  EXPECT_EQ(firewall.ports.size(), std::size(cases));
}

// The configurator is a command script that records its arguments and ends with the port.
TEST_F(CheckPortTest, GetDefaultPortValuesByTableRunsTheConfiguratorPerRow) {
  TestSupport::CTempFolder source;
  TestSupport::WriteBytes(source / L"conf.cmd", "@echo %* >> \"%~dp0args.txt\"\r\n@exit 8090\r\n");
  AddPortRow(L"HTTP", L"WEB_PORT", L"MainComp");
  AddPortRow(L"RPC", L"RPC_PORT", L"OffComp");
  package.AddProperty(L"VelmoraConfiguratorExeSourceDir", L"\\conf.cmd");
  package.AddProperty(L"DATADIR", L"C:\\Data Dir");
  package.AddProperty(L"WEB_PORT", L"0");
  package.AddProperty(L"RPC_PORT", L"8080");
  Open();
  package.SetProperty(L"SOURCEDIR", source.Path() + L"\\");
  EXPECT_EQ(package.Call("GetDefaultPortValuesByTable"), 0u);
  EXPECT_EQ(package.Property(L"WEB_PORT"), L"8090");
  EXPECT_EQ(package.Property(L"_WEB_PORT"), L"8090");
  EXPECT_EQ(package.Property(L"RPC_PORT"), L"8080");
  EXPECT_EQ(package.Property(L"_RPC_PORT"), L"8090");
  EXPECT_EQ(TestSupport::ReadBytes(source / L"args.txt"),
            "/getPort:HTTP /workingDir:\"C:\\Data Dir\" \r\n/getPort:RPC /workingDir:\"C:\\Data Dir\" \r\n");

  package.SetProperty(L"VelmoraConfiguratorExeSourceDir", L"\\missing.exe");
  EXPECT_EQ(package.Call("GetDefaultPortValuesByTable"), 1603u);
}

// The real IIS query and firewall manager under Wine: appcmd.exe is missing, so no site is
// reported, and the firewall is off.
TIMED_CHILD_TEST(CheckPortReal, IisAndFirewallQueries, 60'000) {
  TestSupport::CStartedLibrary library;
  Msi::CIisCommand real;
  EXPECT_EQ(real.CaptureBindings(Msi::IisBindingQueryCommand(80)).Find(L"SITE"), CUnicodeString::npos);
  EXPECT_EQ(real.CaptureSites(Msi::IisSiteQueryCommand(L"Default Web Site")).Find(L"SITE"), CUnicodeString::npos);
  const Msi::COpenPortState state = Msi::CFirewall().QueryGloballyOpenPort(8080);
  EXPECT_FALSE(state.failedStep.has_value());
  EXPECT_FALSE(state.firewallEnabled);
}
