// The port checks: real listeners, the actions over OV_Port with a scripted IIS and an in-memory
// firewall, the configurator as a command script, and the real IIS and firewall once each.
#include "ActionTest.h"
#include "CheckPort.h"
#include "ChildProcessTest.h"
#include "FakeFirewall.h"
#include "FakeSeams.h"
#include "LocalListener.h"

using namespace TestSupport;

namespace {

// A port that was free a moment ago.
CUnicodeString FreePort() { return CListener().Text(); }

// The error of a plain bind to the port on every address.
int PlainBindError(uint16_t port) {
  const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  const int error = ::bind(probe, reinterpret_cast<sockaddr*>(&where), sizeof where) ? ::WSAGetLastError() : 0;
  ::closesocket(probe);
  return error;
}

}  // namespace

class CheckPortTest : public ActionTest {
 protected:
  void SetUp() override {
    package.ImportTable(TableSchemaPath(L"OV_Port"));
    package.AddMainAndOffFeatures();
    package.AddProperties(
        L"MT_Port80andNotIIS=80 needs IIS: %0|MT_PortInvalidValue=invalid %0|MT_CannotOpenPort=busy %0|"
        L"MT_PortIsBad=bad %0|MT_PortIsEmpty=empty|MT_PortIsDubl=twice|MT_PortTableCaption=Problems:|"
        L"MT_SiteAlreadyExist=site %0 exists|MT_BadPortRange=bad range");
  }
  void AddPortRow(const wchar_t* id, const wchar_t* property, const wchar_t* component, const wchar_t* site = L"Site") {
    package.Insert(L"OV_Port", {L"ID", L"PortNumber", L"SiteName", L"Component", L"Comment"},
                   {id, property, site, component, site});
  }
  static CBox Warning(const CUnicodeString& text) { return {text, MB_ICONWARNING}; }
  static CBox Table(const CUnicodeString& text) { return {L"Problems:" + text, MB_ICONINFORMATION}; }

  CFakeIis iis;
  Msi::CIisCommandOverride iisSeam{iis};
};

// Busy: a listener on every address, one on 127.0.0.1 only, and one holding its port exclusively,
// whose plain bind is refused with WSAEACCES rather than WSAEADDRINUSE.
TEST_F(CheckPortTest, CheckPortIsEnableVerdicts) {
  const CListener busy, loopback(INADDR_LOOPBACK), exclusive(INADDR_ANY, true);
  ASSERT_EQ(PlainBindError(exclusive.Port()), WSAEACCES);
  const CUnicodeString free = FreePort();
  Open(true);
  const auto check = [](const CUnicodeString& port, const wchar_t* ok, CBoxes boxes = {}) {
    return CActionCase{"CheckPortIsEnable", {{L"PORTNAME", port}}, {{L"PortIsOK", ok}}, 0, boxes};
  };
  RunCases({check(L" 80", L"", {Warning(L"80 needs IIS: 80")}), check(L"080", L"", {Warning(L"80 needs IIS: 80")}),
            check(L"0", L"", {Warning(L"invalid 0")}), check(L"65536", L"", {Warning(L"invalid 65536")}),
            check(L"80a", L""),  // only logged
            check(busy.Text(), L"", {Warning(L"busy " + busy.Text())}),
            check(loopback.Text(), L"", {Warning(L"busy " + loopback.Text())}),
            check(exclusive.Text(), L"", {Warning(L"busy " + exclusive.Text())}), check(free, L"Yes")});
  EXPECT_TRUE(iis.commands.empty());
  EXPECT_TRUE(Logged(L"Cannot convert port number from string\r\n"));

  // With IIS a free port is asked about; a site bound to it refuses it.
  iis.output = L"SITE \"Default Web Site\" (id:1,bindings:http/*:8080:,state:Started)\r\n";
  RunCases(
      {{"CheckPortIsEnable", {{L"IS_IIS", L"Yes"}, {L"PORTNAME", free}}, L"PortIsOK=", 0, Warning(L"busy " + free)}});
  EXPECT_EQ(iis.commands, std::vector<CUnicodeString>{
                              L"%windir%\\System32\\inetsrv\\appcmd.exe list site | findstr bindings.*[/:]" + free});
  iis.output = L"";
  RunCases({{"CheckPortIsEnable", {}, L"PortIsOK=Yes"}});
}

TEST_F(CheckPortTest, CheckPortByTableTakesTheAlternativeOrNamesTheConflict) {
  const CListener busy, otherBusy;
  const CUnicodeString free = FreePort();
  AddPortRow(L"1", L"WEB_PORT", L"MainComp", L"Web");
  AddPortRow(L"2", L"API_PORT", L"MainComp", L"Api");
  AddPortRow(L"3", L"OFF_PORT", L"OffComp", L"Off");
  Open(true);
  // WEB_PORT is busy and stays; the not installed row's port is never checked.
  Set(L"WEB_PORT=" + busy.Text() + L"|API_PORT=" + free + L"|OFF_PORT=" + busy.Text());
  const auto byTable = [&](const CUnicodeString& old, const CUnicodeString& select, const CUnicodeString& ok,
                           const CUnicodeString& selectAfter, const wchar_t* site) {
    return CActionCase{"CheckPortByTable", L"OLD_WEB_PORT=" + old + L"|SELECT_PORT=" + select + L"|SELECT_SITE_NAME=",
                       L"ALL_PORTS_IS_OK=" + ok + L"|WEB_PORT=" + busy.Text() + L"|SELECT_PORT=" + selectAfter +
                           L"|SELECT_SITE_NAME=" + site};
  };
  RunCases({byTable(L"", free, L"", free, L"Web"),  // the alternative is another row's port
            byTable(L"", L"x", L"", busy.Text(), L"Web"), byTable(L"", otherBusy.Text(), L"", otherBusy.Text(), L"Web"),
            byTable(busy.Text(), L"", L"Yes", L"", L"")});  // the old value is accepted untested
  // The alternative is free and no row holds it, so the row takes it.
  RunCases({{"CheckPortByTable",
             {{L"WEB_PORT", busy.Text()}, {L"API_PORT", FreePort()}, {L"OLD_WEB_PORT", L""}, {L"SELECT_PORT", free}},
             {{L"WEB_PORT", free}, {L"ALL_PORTS_IS_OK", L"Yes"}}},
            {"CheckPortByTable", L"WEB_PORT=80a", L"SELECT_SITE_NAME=Web", 0, Warning(L"bad 80a")}});
}

TEST_F(CheckPortTest, CheckPortByTableOnlyListsEveryProblemOnce) {
  const CListener busy;
  const CUnicodeString free = FreePort();
  for (const wchar_t* row : {L"A", L"B", L"C", L"D"})
    AddPortRow(row, (CUnicodeString(row) + L"_PORT").c_str(), L"MainComp");
  AddPortRow(L"E", L"E_PORT", L"OffComp");  // not installed: neither tested nor counted as a duplicate
  Open(true);
  RunCases(
      {{"CheckPortByTableOnly",
        L"A_PORT=" + free + L"|B_PORT=" + L" " + free + L" " + L"|C_PORT=123456|D_PORT=" + busy.Text() + L"|E_PORT=80",
        L"ALL_PORTS_IS_OK=", 0,
        Table(L"12345\tinvalid %0\n\n" + busy.Text() + L"\tbusy %0\n\n" + free + L"\ttwice\n\n")},
       {"CheckPortByTableOnly", L"B_PORT=|C_PORT=80|OLD_D_PORT=" + busy.Text(), L"", 0,
        Table(L"\tempty\n\n80\t80 needs IIS: %0\n\n")},
       // Forced, the row of E counts.
       {"CheckPortByTableOnly",
        L"B_PORT=7|C_PORT=8|D_PORT=9|IS_CPTO_FORCEDLY=1|OLD_B_PORT=7|OLD_C_PORT=8|OLD_D_PORT=9|E_PORT=" + free, L"", 0,
        Table(free + L"\ttwice\n\n")},
       {"CheckPortByTableOnly", L"E_PORT=10|OLD_E_PORT=10", L"ALL_PORTS_IS_OK=Yes"},
       // Blanks around the port of every installed row go.
       {"NormalizePortByTable", L"A_PORT= 81 |E_PORT= 82 ", L"A_PORT=81|E_PORT= 82 "}});
}

TEST_F(CheckPortTest, CheckPortRangeBoundsQuestionAndConflicts) {
  AddPortRow(L"1", L"LOW_PORT", L"MainComp");
  AddPortRow(L"2", L"HIGH_PORT", L"MainComp");
  package.AddProperties(L"REQUEST_PROPERTY_NAME=MT_WIDE|MT_WIDE=wide range?");
  Open(true);
  const auto range = [](const wchar_t* begin, const wchar_t* end, const wchar_t* high, const wchar_t* enabled,
                        CBoxes boxes, CAnswers answers = {}) {
    return CActionCase{"CheckPortRange",
                       {{L"BEGIN_RANGE_PORT", begin},
                        {L"END_RANGE_PORT", end},
                        {L"LOW_PORT", L"1000"},
                        {L"HIGH_PORT", high},
                        {L"IsPortRangeEnabled", L"before"}},
                       {{L"IsPortRangeEnabled", enabled}},
                       0,
                       boxes,
                       answers};
  };
  const CBox wide{L"wide range?", MB_OKCANCEL | MB_ICONQUESTION};
  RunCases({range(L"1000", L"1300", L"1", L"Yes", {}),  // the port equal to the begin is outside
            range(L"1000", L"1300", L"1300", L"", {Table(L"1300\ttwice\n\n")}),
            range(L"1000", L"1301", L"1", L"Yes", {wide}, {IDOK}),  // over 300 ports: asked
            range(L"1000", L"1301", L"1", L"", {wide}, {IDCANCEL}),
            range(L"1000", L"1000", L"1", L"", {{L"bad range", MB_ICONINFORMATION}}),
            range(L"", L"1300", L"1", L"", {Warning(L"empty")}),
            range(L"10", L"65536", L"1", L"", {Warning(L"invalid 65536")})});
}

TEST_F(CheckPortTest, CheckSiteByTableAsksIisForEveryInstalledSite) {
  AddPortRow(L"1", L"A_PORT", L"MainComp", L"Shop");
  AddPortRow(L"2", L"B_PORT", L"OffComp", L"Off");
  AddPortRow(L"3", L"C_PORT", L"MainComp", L"Blog");
  Open(true);
  iis.output = L"SITE \"Shop\" (id:2,bindings:http/*:81:,state:Started)\r\n";
  RunCases({{"CheckSiteByTable", {}, L"ALL_SITES_IS_OK=Yes"}});  // without IIS nothing is asked
  EXPECT_TRUE(iis.commands.empty());
  RunCases({{"CheckSiteByTable",
             L"IS_IIS=1",
             L"ALL_SITES_IS_OK=",
             0,
             {Warning(L"site Shop exists"), Warning(L"site Blog exists")}}});
  EXPECT_EQ(iis.commands,
            (std::vector<CUnicodeString>{L"%windir%\\System32\\inetsrv\\appcmd.exe list site | findstr \"Shop\"",
                                         L"%windir%\\System32\\inetsrv\\appcmd.exe list site | findstr \"Blog\""}));
  iis.output = L"garbage";
  RunCases({{"CheckSiteByTable", {}, L"ALL_SITES_IS_OK=Yes"}});
}

TEST_F(CheckPortTest, IsPortEnabledInFirewallReadsTheProfile) {
  Open();
  CFakeFirewall firewall;
  Msi::CFirewallOverride seam{firewall};
  const std::tuple<Msi::COpenPortState, const wchar_t*, const wchar_t*> cases[] = {
      {{std::nullopt, S_OK, true, true, true}, L"Yes", L"Yes"},
      {{std::nullopt, S_OK, true, true, false}, L"Yes", L""},
      {{std::nullopt, S_OK, false, false, false}, L"", L""},
      {{Msi::FirewallStep::CreateManager, Msi::kFirewallServiceNotRunning}, L"", L"unchanged"},
      {{Msi::FirewallStep::LocalPolicy, E_FAIL}, L"Yes", L"unchanged"},
  };
  for (const auto& [state, firewallOn, portEnabled] : cases) {
    firewall.openPortState = state;
    RunCases({{"IsPortEnabledInFirewall",
               L"PortName= 8443|IsFirewallOn=|IsPortEnabled=unchanged",
               {{L"IsFirewallOn", firewallOn}, {L"IsPortEnabled", portEnabled}}}});
  }
  RunCases({{"IsPortEnabledInFirewall", L"PortName=80a", L"", NotCounted(1603)}});
  EXPECT_EQ(firewall.queriedPorts, std::vector<uint32_t>(std::size(cases), 8443u));
}

// The configurator is a command script that records its arguments and ends with the port.
TEST_F(CheckPortTest, GetDefaultPortValuesByTableRunsTheConfiguratorPerRow) {
  CTempFolder source;
  WriteBytes(source / L"conf.cmd", "@echo %* >> \"%~dp0args.txt\"\r\n@exit 8090\r\n");
  AddPortRow(L"HTTP", L"WEB_PORT", L"MainComp");
  AddPortRow(L"RPC", L"RPC_PORT", L"OffComp");
  package.AddProperties(L"VelmoraConfiguratorExeSourceDir=\\conf.cmd|DATADIR=C:\\Data Dir|WEB_PORT=0|RPC_PORT=8080");
  Open(true);
  RunCases({{"GetDefaultPortValuesByTable",
             {{L"SOURCEDIR", source.Path() + L"\\"}},
             L"WEB_PORT=8090|_WEB_PORT=8090|RPC_PORT=8080|_RPC_PORT=8090"},
            {"GetDefaultPortValuesByTable", L"VelmoraConfiguratorExeSourceDir=\\missing.exe", L"", 1603}});
  EXPECT_EQ(ReadBytes(source / L"args.txt"),
            "/getPort:HTTP /workingDir:\"C:\\Data Dir\" \r\n/getPort:RPC /workingDir:\"C:\\Data Dir\" \r\n");
}

// The real IIS query and firewall manager under Wine: appcmd.exe is missing, so no site is
// reported, and the firewall is off.
TIMED_CHILD_TEST(CheckPortReal, IisAndFirewallQueries, 60'000) {
  CStartedLibrary library;
  Msi::CIisCommand real;
  EXPECT_EQ(real.CaptureBindings(Msi::IisBindingQueryCommand(80)).Find(L"SITE"), CUnicodeString::npos);
  EXPECT_EQ(real.CaptureSites(Msi::IisSiteQueryCommand(L"Default Web Site")).Find(L"SITE"), CUnicodeString::npos);
  const Msi::COpenPortState state = Msi::CFirewall().QueryGloballyOpenPort(8080);
  EXPECT_FALSE(state.failedStep.has_value());
  EXPECT_FALSE(state.firewallEnabled);
}
