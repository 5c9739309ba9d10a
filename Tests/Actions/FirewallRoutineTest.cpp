// Firewall configuration against the in-memory firewall (state checked after each action), and the
// real COM objects once, in a child process. The actions are called in this program, where the
// firewall override reaches them.
#include <gtest/gtest.h>

#include <algorithm>

#include "ChildProcessTest.h"
#include "FakeFirewall.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using TestSupport::CFakeFirewall;
using Vrn::CUnicodeString;
using Step = Msi::FirewallStep;
using Action = UINT(__stdcall*)(MSIHANDLE);

extern "C" {
UINT __stdcall SetPortsToFirewallByTable(MSIHANDLE), AddRuleToFirewall(MSIHANDLE), AddPortToFirewall(MSIHANDLE),
    RemovePortsFromVistaFirewall(MSIHANDLE), AddProcessingPortToVistaFirewall(MSIHANDLE),
    AddScanningStationToVistaFirewall(MSIHANDLE), AddToFirewall_QuilletServer(MSIHANDLE),
    RemoveFromFirewall_QuilletServer(MSIHANDLE), AddToFirewall_QuilletStation(MSIHANDLE),
    AddImagedeskBRToFirewall(MSIHANDLE), RemoveImagedeskBRFromFirewall(MSIHANDLE);
}

namespace {

bool Contains(const CUnicodeString& text, std::wstring_view part) { return text.Find(part) != CUnicodeString::npos; }

}  // namespace

class FirewallRoutineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    package.ImportTable(TestSupport::TableSchemaPath(L"OV_PortFirewall"));
    SessionTests::AddTestFeatures(package);
  }
  void AddRow(const wchar_t* first, const TestSupport::CCell& second, const wchar_t* rule, const wchar_t* component) {
    package.Insert(L"OV_PortFirewall", {L"PortProperty", L"PortSecond", L"Rule", L"Description", L"Path", L"Component"},
                   {first, second, rule, CUnicodeString(L"About ") + rule, L"C:\\ignored", component});
  }
  // A package with the table's port range 8000-8002 as rule "Range" and, when asked, the rule "Old"
  // of a component being removed; costed, with the installer's own WindowsBuild replaced.
  void OpenWithRange(const wchar_t* build, bool withOld = true) {
    package.AddProperty(L"RANGE_FIRST", L"8000");
    package.AddProperty(L"RANGE_LAST", L"8002");
    AddRow(L"RANGE_FIRST", L"RANGE_LAST", L"Range", L"MainComp");
    if (withOld) AddRow(L"OLD_PORT", TestSupport::CCell::Null(), L"Old", L"RemovedComp");
    ASSERT_EQ(MsiSetComponentStateW(package.Open(true), L"RemovedComp", INSTALLSTATE_ABSENT), 0u);
    package.SetProperty(L"WindowsBuild", build);
  }
  UINT Run(Action action) { return action(package.Session()); }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  CFakeFirewall firewall;
  Msi::CFirewallOverride seam{firewall};
};

TEST_F(FirewallRoutineTest, TableAddsRemovesAndSkipsByComponent) {
  package.AddProperty(L"WEB_PORT", L" 8080 ");
  AddRow(L"WEB_PORT", TestSupport::CCell::Null(), L"Web \"site\"", L"MainComp");
  AddRow(L"NO_SUCH_1", TestSupport::CCell::Null(), L"Untouched", L"OffComp");
  AddRow(L"NO_SUCH_2", TestSupport::CCell::Null(), L"NoComponent", L"");
  OpenWithRange(L"7601");
  for (const wchar_t* name : {L"Old", L"old", L"Old"}) firewall.AddNamedRule(name);
  ASSERT_EQ(Run(SetPortsToFirewallByTable), 0u);
  std::vector<std::wstring> names = firewall.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Range", L"Web \"site\"", L"old"}));
  const Msi::CRuleWrites web{{Step::RuleName, L"Web \"site\""},  {Step::RuleDescription, L"About Web \"site\""},
                             {Step::RuleProtocol, {}, 6},        {Step::RuleLocalPorts, L"8080"},
                             {Step::RuleInterfaceTypes, L"All"}, {Step::RuleAction, {}, 1},
                             {Step::RuleEnabled, {}, 1},         {Step::RuleProfiles, {}, 3}};
  EXPECT_NE(std::find(firewall.rules.begin(), firewall.rules.end(), web), firewall.rules.end());
  const CUnicodeString log = ActionLog(package);
  EXPECT_TRUE(Contains(log, L"Firewall rule added: Range, ports 8000-8002\r\n"));
  EXPECT_TRUE(log.EndsWith(L"SetPortsToFirewallByTable - End\r\n"));
}

TEST_F(FirewallRoutineTest, InterfaceChoiceByBuildAndVersion) {
  OpenWithRange(L"", false);
  const struct {
    const wchar_t* build;
    Msi::CWindowsVersion version;
    const wchar_t* ports;  // the rule's local ports; nullptr: three open ports
    UINT result;
  } cases[] = {
      {L"7601", {5, 1, true}, L"8000-8002", 0},       // the build wins over the version
      {L"7100", {6, 1, true}, L"8000,8001,8002", 0},  // Windows 7 by its version
      {L"6002", {6, 0, false}, nullptr, 0},           // Server 2008: the older interface
      {L"1381", {4, 0, true}, L"", 1603},             // NT 4
      {L"76O1", {6, 1, true}, L"", 1603},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.build));
    firewall.rules.clear();
    firewall.openPorts.clear();
    firewall.version = c.version;
    package.SetProperty(L"WindowsBuild", c.build);
    EXPECT_EQ(Run(SetPortsToFirewallByTable), c.result);
    if (c.result) {
      EXPECT_TRUE(firewall.rules.empty() && firewall.openPorts.empty());
    } else if (c.ports) {
      ASSERT_EQ(firewall.rules.size(), 1u);
      EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleLocalPorts), c.ports);
    } else {
      EXPECT_EQ(firewall.openPorts,
                (std::vector<Msi::COpenPort>{{8000, 6, L"Range"}, {8001, 6, L"Range"}, {8002, 6, L"Range"}}));
    }
  }
  EXPECT_TRUE(Contains(ActionLog(package), L"\tThis version of Windows is not supported."));
}

TEST_F(FirewallRoutineTest, OlderInterfaceRefusesAnOpenPortAndRemovesByName) {
  OpenWithRange(L"2600");
  firewall.version = {5, 1, true};
  firewall.openPorts = {{8001, 6, L"Someone"}};
  EXPECT_EQ(Run(SetPortsToFirewallByTable), 1603u);
  EXPECT_EQ(firewall.openPorts.size(), 1u);  // 8000 was not opened either
  EXPECT_TRUE(Contains(ActionLog(package), L"\tThe firewall already has a rule for port 8001."));

  firewall.openPorts = {{9000, 6, L"Old"}, {9001, 17, L"Old"}, {9002, 6, L"Other"}, {9003, 6, L"Old"}};
  EXPECT_EQ(Run(SetPortsToFirewallByTable), 0u);
  std::vector<Msi::COpenPort> left = firewall.openPorts;
  std::sort(left.begin(), left.end(), [](const auto& a, const auto& b) { return a.port < b.port; });
  EXPECT_EQ(
      left,
      (std::vector<Msi::COpenPort>{
          {8000, 6, L"Range"}, {8001, 6, L"Range"}, {8002, 6, L"Range"}, {9001, 17, L"Old"}, {9002, 6, L"Other"}}));
}

TEST_F(FirewallRoutineTest, RemovingAMissingRuleFails) {
  package.AddProperty(L"MT_RemRules", L"First|second|Missing");
  package.Open();
  package.SetProperty(L"WindowsBuild", L"7601");
  for (const wchar_t* name : {L"First", L"second", L"missing"}) firewall.AddNamedRule(name);
  EXPECT_EQ(Run(RemovePortsFromVistaFirewall), 1603u);
  EXPECT_EQ(firewall.Names(), std::vector<std::wstring>{L"missing"});
  EXPECT_TRUE(Contains(ActionLog(package), L"\tThe firewall has no rule named Missing."));
  // Build 7100 takes the rules interface here even on XP.
  firewall.version = {5, 1, true};
  package.SetProperty(L"WindowsBuild", L"7100");
  package.SetProperty(L"MT_RemRules", L"missing");
  EXPECT_EQ(Run(RemovePortsFromVistaFirewall), 0u);
  EXPECT_TRUE(firewall.rules.empty());
}

TEST_F(FirewallRoutineTest, AddPortToFirewallProfilesAndBadPorts) {
  package.AddProperty(L"SFW_RULE", L"Rule");
  package.Open();
  package.SetProperty(L"WindowsBuild", L"7601");
  const struct {
    const wchar_t *port, *last, *profiles;
    long expectedProfiles;  // 0: the action fails and adds nothing
    const wchar_t* ports;
  } cases[] = {
      {L"80", L"81", L"Private,Domain", 3, L"80-81"},
      {L"80", L"", L"Public", 4, L"80"},
      {L"80", L"", L"Public All", 0x7FFFFFFF, L"80"},
      {L"80", L"", L"public", 3, L"80"},  // names are exact; none known gives the default
      {L"abc", L"", L"", 0, nullptr},
      {L"70000", L"", L"", 0, nullptr},
      {L"5-", L"", L"", 0, nullptr},
      {L"10", L"5", L"", 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.port) + " " + SessionTests::Utf8(c.profiles));
    firewall.rules.clear();
    package.SetProperty(L"SFW_PORT", c.port);
    package.SetProperty(L"SFW_PORT2", c.last);
    package.SetProperty(L"SFW_PROFILES", c.profiles);
    EXPECT_EQ(Run(AddPortToFirewall), c.expectedProfiles ? 0u : 1603u);
    ASSERT_EQ(firewall.rules.size(), c.expectedProfiles ? 1u : 0u);
    if (!c.expectedProfiles) continue;
    EXPECT_EQ(CFakeFirewall::RuleNumber(firewall.rules[0], Step::RuleProfiles), c.expectedProfiles);
    EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleLocalPorts), c.ports);
  }
}

TEST_F(FirewallRoutineTest, ApplicationRules) {
  for (const auto& [name, value] : {std::pair{L"AR2FW_Port", L"5000"},
                                    {L"AR2FW_Rule", L"App"},
                                    {L"AR2FW_Path", L"C:\\App\\app.exe"},
                                    {L"AR2FW_Desc", L"The app"}})
    package.AddProperty(name, value);
  package.Open();
  const struct {
    const wchar_t *port, *protocol, *direction;
    std::vector<long> directions;  // one per rule added; -1: inbound default
    long protocolNumber;
    UINT result;
  } cases[] = {
      {L"Any", L"17", L"out", {2}, 17, 0},
      {L"5000", L"", L"OUT", {-1}, 6, 0},
      {L"5000", L"", L"both", {-1, 2}, 6, 0},
      {L"5000", L"tcp", L"", {}, 0, 1603},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.direction));
    firewall.rules.clear();
    package.SetProperty(L"AR2FW_Port", c.port);
    package.SetProperty(L"AR2FW_Protocol", c.protocol);
    package.SetProperty(L"AR2FW_Direction", c.direction);
    EXPECT_EQ(Run(AddRuleToFirewall), c.result);
    ASSERT_EQ(firewall.rules.size(), c.directions.size());
    for (size_t i = 0; i < c.directions.size(); ++i) {
      const Msi::CRuleWrites& rule = firewall.rules[i];
      EXPECT_EQ(CFakeFirewall::RuleNumber(rule, Step::RuleDirection), c.directions[i]);
      EXPECT_EQ(CFakeFirewall::RuleNumber(rule, Step::RuleProtocol), c.protocolNumber);
      EXPECT_EQ(CFakeFirewall::RuleText(rule, Step::RuleLocalPorts),
                c.port == std::wstring_view(L"Any") ? L"" : c.port);
      EXPECT_EQ(CFakeFirewall::RuleText(rule, Step::RuleApplicationName), L"C:\\App\\app.exe");
      EXPECT_EQ(CFakeFirewall::RuleNumber(rule, Step::RuleProfiles), 0x7FFFFFFF);
    }
  }
  EXPECT_TRUE(Contains(ActionLog(package), L"Creating firewall rule\r\nput Name\r\nput Description\r\n"));

  // Failures: COM or a text allocation only logged; any other step fails; never one half of a pair.
  package.SetProperty(L"AR2FW_Protocol", L"");
  package.SetProperty(L"AR2FW_Direction", L"both");
  const struct {
    Step step;
    HRESULT failure;
    UINT result;
    const wchar_t* logLine;
  } failures[] = {
      {Step::InitializeCom, E_UNEXPECTED, 0, L"Failed to initialize COM\r\nAddRuleToFirewall - End"},
      {Step::RuleName, E_OUTOFMEMORY, 0, L"SysAllocString failed\r\nFailed to add port to vista firewall"},
      {Step::RuleEnabled, E_ACCESSDENIED, 1603, L"put Enabled\r\n===="},
      {Step::RuleDirection, E_ACCESSDENIED, 1603, L"put Direction\r\n===="},  // the outbound half only
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(static_cast<int>(c.step));
    firewall.rules.clear();
    firewall.failures = {{c.step, c.failure}};
    EXPECT_EQ(Run(AddRuleToFirewall), c.result);
    EXPECT_TRUE(firewall.rules.empty());
    EXPECT_TRUE(Contains(ActionLog(package), c.logLine));
  }
  firewall.failures.clear();
  package.SetProperty(L"AR2FW_Desc", L"");
  EXPECT_EQ(Run(AddRuleToFirewall), 1603u);  // a required property is empty
}

TEST_F(FirewallRoutineTest, ProductRulesPortsAndPrograms) {
  package.AddProperty(L"INSTALLDIR", L"C:\\Quillet\\");
  package.AddProperty(L"MT_ProcessingPort", L"10020");
  package.AddProperty(L"MT_ProcessingRuleName", L"Processing");
  package.Open();
  EXPECT_EQ(Run(AddProcessingPortToVistaFirewall), 0u);
  EXPECT_EQ(Run(AddScanningStationToVistaFirewall), 0u);
  ASSERT_EQ(firewall.rules.size(), 2u);
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleName), L"Processing");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleApplicationName), L"C:\\Quillet\\QuilletSvc.exe");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleLocalPorts), L"10020");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[1], Step::RuleApplicationName), L"C:\\Quillet\\ImagedeskBR.exe");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[1], Step::RuleLocalPorts), L"*");

  // The older manager's fixed ports and programs: every failure is logged, never a fault.
  const struct {
    Action action;
    std::map<Step, HRESULT> failures;
    size_t openPorts, applications;
    const wchar_t* logLine;
  } steps[] = {
      {AddToFirewall_QuilletServer, {}, 1, 0, L"Port is now open in the firewall. Portnumber = 10020"},
      {AddToFirewall_QuilletServer, {}, 1, 0, L"Port is already open in the firewall"},
      {AddToFirewall_QuilletStation, {{Step::PutName, E_FAIL}}, 1, 0, L"put_Name failed. Exit Code = 0x80004005"},
      {AddToFirewall_QuilletStation, {}, 2, 0, L"Portnumber = 10021"},
      {RemoveFromFirewall_QuilletServer,
       {{Step::RemoveOpenPort, E_NOTIMPL}},
       2,
       0,
       L"Remove failed. Exit Code = 0x80004001"},
      {RemoveFromFirewall_QuilletServer, {}, 1, 0, L""},
      {RemoveFromFirewall_QuilletServer, {}, 1, 0, L"Port is already deleted from firewall"},
      {AddImagedeskBRToFirewall, {{Step::CurrentProfile, E_FAIL}}, 1, 0, L"Failed to get current firewall profile"},
      {AddImagedeskBRToFirewall, {}, 1, 1, L""},
      {AddImagedeskBRToFirewall, {}, 1, 1, L""},  // already authorized: not added twice
      {RemoveImagedeskBRFromFirewall,
       {{Step::RemoveApplication, E_FAIL}},
       1,
       1,
       L"Failed to remove application from authorized apps collection. ExitCode = 0x80004005"},
      {RemoveImagedeskBRFromFirewall, {}, 1, 0, L""},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    firewall.failures = steps[i].failures;
    EXPECT_EQ(Run(steps[i].action), 0u);
    EXPECT_EQ(firewall.openPorts.size(), steps[i].openPorts);
    EXPECT_EQ(firewall.applications.size(), steps[i].applications);
    const CUnicodeString line = steps[i].logLine;
    EXPECT_TRUE(ActionLog(package).EndsWith(line + (line.IsEmpty() ? L"" : L"\r\n")));
  }
  EXPECT_EQ(firewall.openPorts[0], (Msi::COpenPort{10021, 6, L"Quillet 10 Processing Station (processing station)"}));
  firewall.failures.clear();
  EXPECT_EQ(Run(AddImagedeskBRToFirewall), 0u);
  EXPECT_EQ(firewall.applications,
            (std::vector<CFakeFirewall::CApplication>{
                {L"C:\\Quillet\\ImagedeskBR.exe", L"Quillet 10 Scanning Station (outgoing transfers)"}}));
}

// Wine's firewall objects are stubs: they accept every change and keep nothing. Every action, through
// the DLL (whose firewall is always the real one), must go through every call without crashing.
TIMED_CHILD_TEST(FirewallRoutineReal, RealComObjectsInASession, 60000) {
  EXPECT_GE(Msi::Firewall().SystemVersion().major, 5u);
  std::vector<Msi::COpenPort> ports;
  Msi::Firewall().OpenPorts(ports);  // the one call no action below makes on the rules interface
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_PortFirewall"));
  SessionTests::AddTestFeatures(package);
  package.Insert(L"OV_PortFirewall", {L"PortProperty", L"Rule", L"Component"},
                 {L"SFW_PORT", L"OrvantTest", L"MainComp"});
  for (const auto& [name, value] : {std::pair{L"SFW_PORT", L"8000"},
                                    {L"SFW_RULE", L"OrvantTest"},
                                    {L"INSTALLDIR", L"C:\\Quillet\\"},
                                    {L"AR2FW_Port", L"Any"},
                                    {L"AR2FW_Rule", L"OrvantTest"},
                                    {L"AR2FW_Path", L"C:\\OrvantTest.exe"},
                                    {L"AR2FW_Desc", L"Test"},
                                    {L"AR2FW_Direction", L"both"},
                                    {L"MT_RemRules", L"OrvantTest"}})
    package.AddProperty(name, value);
  package.Open(true);
  package.SetProperty(L"WindowsBuild", L"7601");
  // Wine keeps no rule, so removing one fails.
  const std::pair<const char*, UINT> actions[] = {{"SetPortsToFirewallByTable", 0},
                                                  {"AddPortToFirewall", 0},
                                                  {"AddRuleToFirewall", 0},
                                                  {"AddProcessingPortToVistaFirewall", 0},
                                                  {"RemovePortsFromVistaFirewall", 1603},
                                                  {"AddToFirewall_QuilletServer", 0},
                                                  {"RemoveFromFirewall_QuilletServer", 0},
                                                  {"AddImagedeskBRToFirewall", 0},
                                                  {"RemoveImagedeskBRFromFirewall", 0}};
  for (const auto& [action, result] : actions) EXPECT_EQ(package.Call(action), result) << action;
}
