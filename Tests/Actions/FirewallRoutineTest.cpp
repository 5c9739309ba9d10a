// Firewall configuration against the in-memory firewall (state checked after each action), and the
// real COM objects once, in a child process.
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

extern "C" UINT __stdcall SetPortsToFirewallByTable(MSIHANDLE session);
extern "C" UINT __stdcall AddRuleToFirewall(MSIHANDLE session);
extern "C" UINT __stdcall AddPortToFirewall(MSIHANDLE session);
extern "C" UINT __stdcall RemovePortsFromVistaFirewall(MSIHANDLE session);
extern "C" UINT __stdcall AddProcessingPortToVistaFirewall(MSIHANDLE session);
extern "C" UINT __stdcall AddScanningStationToVistaFirewall(MSIHANDLE session);
extern "C" UINT __stdcall AddToFirewall_QuilletServer(MSIHANDLE session);
extern "C" UINT __stdcall RemoveFromFirewall_QuilletServer(MSIHANDLE session);
extern "C" UINT __stdcall AddToFirewall_QuilletStation(MSIHANDLE session);
extern "C" UINT __stdcall RemoveFromFirewall_QuilletStation(MSIHANDLE session);
extern "C" UINT __stdcall AddImagedeskBRToFirewall(MSIHANDLE session);
extern "C" UINT __stdcall RemoveImagedeskBRFromFirewall(MSIHANDLE session);

namespace {

// The actions are called in this program, where the firewall override reaches them.
UINT Call(const TestSupport::CTestPackage& package, std::string_view action) {
  static const std::pair<std::string_view, UINT(__stdcall*)(MSIHANDLE)> actions[] = {
      {"SetPortsToFirewallByTable", SetPortsToFirewallByTable},
      {"AddRuleToFirewall", AddRuleToFirewall},
      {"AddPortToFirewall", AddPortToFirewall},
      {"RemovePortsFromVistaFirewall", RemovePortsFromVistaFirewall},
      {"AddProcessingPortToVistaFirewall", AddProcessingPortToVistaFirewall},
      {"AddScanningStationToVistaFirewall", AddScanningStationToVistaFirewall},
      {"AddToFirewall_QuilletServer", AddToFirewall_QuilletServer},
      {"RemoveFromFirewall_QuilletServer", RemoveFromFirewall_QuilletServer},
      {"AddToFirewall_QuilletStation", AddToFirewall_QuilletStation},
      {"RemoveFromFirewall_QuilletStation", RemoveFromFirewall_QuilletStation},
      {"AddImagedeskBRToFirewall", AddImagedeskBRToFirewall},
      {"RemoveImagedeskBRFromFirewall", RemoveImagedeskBRFromFirewall},
  };
  for (const auto& [name, body] : actions)
    if (name == action) return body(package.Session());
  ADD_FAILURE() << "no action " << action;
  return 0;
}

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

  void AddApplicationRuleProperties() {
    for (const auto& [name, value] : {std::pair{L"AR2FW_Port", L"5000"},
                                      {L"AR2FW_Rule", L"App"},
                                      {L"AR2FW_Path", L"C:\\App\\app.exe"},
                                      {L"AR2FW_Desc", L"The app"}})
      package.AddProperty(name, value);
  }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  CFakeFirewall firewall;
  Msi::CFirewallOverride seam{firewall};
};

TEST_F(FirewallRoutineTest, TableAddsRemovesAndSkipsByComponent) {
  package.AddProperty(L"WEB_PORT", L" 8080 ");
  package.AddProperty(L"RANGE_FIRST", L"8000");
  package.AddProperty(L"RANGE_LAST", L"8002");
  AddRow(L"WEB_PORT", TestSupport::CCell::Null(), L"Web \"site\"", L"MainComp");
  AddRow(L"RANGE_FIRST", L"RANGE_LAST", L"Range", L"MainComp");
  AddRow(L"OLD_PORT", TestSupport::CCell::Null(), L"Old", L"RemovedComp");
  AddRow(L"NO_SUCH_1", TestSupport::CCell::Null(), L"Untouched", L"OffComp");
  AddRow(L"NO_SUCH_2", TestSupport::CCell::Null(), L"NoComponent", L"");
  const MSIHANDLE session = package.Open(true);
  package.SetProperty(L"WindowsBuild", L"7601");  // the installer sets its own at start
  ASSERT_EQ(MsiSetComponentStateW(session, L"RemovedComp", INSTALLSTATE_ABSENT), 0u);
  firewall.AddNamedRule(L"Old");
  firewall.AddNamedRule(L"old");
  firewall.AddNamedRule(L"Old");

  ASSERT_EQ(Call(package, "SetPortsToFirewallByTable"), 0u);
  std::vector<std::wstring> names = firewall.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Range", L"Web \"site\"", L"old"}));
  const auto rule = [&](std::wstring_view name) {
    for (const Msi::CRuleWrites& r : firewall.rules)
      if (CFakeFirewall::RuleText(r, Step::RuleName) == name) return r;
    return Msi::CRuleWrites{};
  };
  const Msi::CRuleWrites web{{Step::RuleName, L"Web \"site\""},  {Step::RuleDescription, L"About Web \"site\""},
                             {Step::RuleProtocol, {}, 6},        {Step::RuleLocalPorts, L"8080"},
                             {Step::RuleInterfaceTypes, L"All"}, {Step::RuleAction, {}, 1},
                             {Step::RuleEnabled, {}, 1},         {Step::RuleProfiles, {}, 3}};
  EXPECT_EQ(rule(L"Web \"site\""), web);
  EXPECT_EQ(CFakeFirewall::RuleText(rule(L"Range"), Step::RuleLocalPorts), L"8000-8002");
  const CUnicodeString log = ActionLog(package);
  EXPECT_TRUE(log.StartsWith(L"SetPortsToFirewallByTable\r\n\r\n"));
  EXPECT_TRUE(Contains(log, L"Firewall rule added: Range, ports 8000-8002\r\n"));
  EXPECT_TRUE(log.EndsWith(L"SetPortsToFirewallByTable - End\r\n"));
}

TEST_F(FirewallRoutineTest, InterfaceChoiceByBuildAndVersion) {
  package.AddProperty(L"RANGE_FIRST", L"8000");
  package.AddProperty(L"RANGE_LAST", L"8002");
  AddRow(L"RANGE_FIRST", L"RANGE_LAST", L"Range", L"MainComp");
  package.Open(true);
  const struct {
    const wchar_t* build;
    Msi::CWindowsVersion version;
    const wchar_t* ports;  // the rule's local ports; nullptr: three open ports
    UINT result;
  } cases[] = {
      {L"7601", {5, 1, true}, L"8000-8002", 0},       // the build wins over the version
      {L"7100", {6, 1, true}, L"8000,8001,8002", 0},  // Windows 7 by its version
      {L"6002", {6, 0, true}, L"8000,8001,8002", 0},  // Vista
      {L"6002", {6, 0, false}, nullptr, 0},           // Server 2008
      {L"2600", {5, 1, true}, nullptr, 0},            // XP
      {L"1381", {4, 0, true}, L"", 1603},             // NT 4
      {L"76O1", {6, 1, true}, L"", 1603},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.build));
    firewall.rules.clear();
    firewall.openPorts.clear();
    firewall.version = c.version;
    package.SetProperty(L"WindowsBuild", c.build);
    EXPECT_EQ(Call(package, "SetPortsToFirewallByTable"), c.result);
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
  package.AddProperty(L"RANGE_FIRST", L"8000");
  package.AddProperty(L"RANGE_LAST", L"8001");
  AddRow(L"RANGE_FIRST", L"RANGE_LAST", L"Range", L"MainComp");
  AddRow(L"OLD_PORT", TestSupport::CCell::Null(), L"Old", L"RemovedComp");
  const MSIHANDLE session = package.Open(true);
  package.SetProperty(L"WindowsBuild", L"2600");  // the installer sets its own at start
  ASSERT_EQ(MsiSetComponentStateW(session, L"RemovedComp", INSTALLSTATE_ABSENT), 0u);
  firewall.version = {5, 1, true};
  firewall.openPorts = {{8001, 6, L"Someone"}};
  EXPECT_EQ(Call(package, "SetPortsToFirewallByTable"), 1603u);
  EXPECT_EQ(firewall.openPorts.size(), 1u);  // 8000 was not opened either
  EXPECT_TRUE(Contains(ActionLog(package), L"\tThe firewall already has a rule for port 8001."));

  firewall.openPorts = {{9000, 6, L"Old"}, {9001, 17, L"Old"}, {9002, 6, L"Other"}, {9003, 6, L"Old"}};
  EXPECT_EQ(Call(package, "SetPortsToFirewallByTable"), 0u);
  std::vector<Msi::COpenPort> left = firewall.openPorts;
  std::sort(left.begin(), left.end(), [](const auto& a, const auto& b) { return a.port < b.port; });
  EXPECT_EQ(left, (std::vector<Msi::COpenPort>{
                      {8000, 6, L"Range"}, {8001, 6, L"Range"}, {9001, 17, L"Old"}, {9002, 6, L"Other"}}));
}

TEST_F(FirewallRoutineTest, RemovingAMissingRuleFails) {
  package.AddProperty(L"MT_RemRules", L"First|second|Missing");
  package.Open();
  package.SetProperty(L"WindowsBuild", L"7601");  // the installer sets its own at start
  firewall.AddNamedRule(L"First");
  firewall.AddNamedRule(L"second");
  firewall.AddNamedRule(L"missing");
  EXPECT_EQ(Call(package, "RemovePortsFromVistaFirewall"), 1603u);
  EXPECT_EQ(firewall.Names(), std::vector<std::wstring>{L"missing"});
  const CUnicodeString log = ActionLog(package);
  EXPECT_TRUE(log.StartsWith(L"RemovePortFromVistaFirewall\r\n\r\n"));
  EXPECT_TRUE(Contains(log, L"Removing rule second\r\n"));
  EXPECT_TRUE(Contains(log, L"\tThe firewall has no rule named Missing."));
  // Build 7100 takes the rules interface here even on XP.
  firewall.version = {5, 1, true};
  package.SetProperty(L"WindowsBuild", L"7100");
  package.SetProperty(L"MT_RemRules", L"missing");
  EXPECT_EQ(Call(package, "RemovePortsFromVistaFirewall"), 0u);
  EXPECT_TRUE(firewall.rules.empty());
}

TEST_F(FirewallRoutineTest, AddPortToFirewallProfilesAndBadPorts) {
  package.AddProperty(L"SFW_RULE", L"Rule");
  package.Open();
  package.SetProperty(L"WindowsBuild", L"7601");  // the installer sets its own at start
  const struct {
    const wchar_t *port, *last, *profiles;
    long expectedProfiles;  // 0: the action fails and adds nothing
    const wchar_t* ports;
  } cases[] = {
      {L"80", L"", L"Domain;Private", 3, L"80"},
      {L"80", L"81", L"Private,Domain", 3, L"80-81"},
      {L"80", L"", L"Public", 4, L"80"},
      {L"80", L"", L"", 3, L"80"},
      {L"80", L"", L"Public All", 0x7FFFFFFF, L"80"},
      {L"80", L"", L"public", 3, L"80"},
      {L"", L"", L"", 0, nullptr},
      {L"abc", L"", L"", 0, nullptr},
      {L"70000", L"", L"", 0, nullptr},
      {L"10-5", L"", L"", 0, nullptr},
      {L"5-", L"", L"", 0, nullptr},
      {L"10", L"5", L"", 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.port) + " " + SessionTests::Utf8(c.profiles));
    firewall.rules.clear();
    package.SetProperty(L"SFW_PORT", c.port);
    package.SetProperty(L"SFW_PORT2", c.last);
    package.SetProperty(L"SFW_PROFILES", c.profiles);
    EXPECT_EQ(Call(package, "AddPortToFirewall"), c.expectedProfiles ? 0u : 1603u);
    if (!c.expectedProfiles) {
      EXPECT_TRUE(firewall.rules.empty());
      continue;
    }
    ASSERT_EQ(firewall.rules.size(), 1u);
    EXPECT_EQ(CFakeFirewall::RuleNumber(firewall.rules[0], Step::RuleProfiles), c.expectedProfiles);
    EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleLocalPorts), c.ports);
  }
}

TEST_F(FirewallRoutineTest, ApplicationRules) {
  AddApplicationRuleProperties();
  package.Open();
  const struct {
    const wchar_t *port, *protocol, *direction;
    std::vector<long> directions;  // one per rule added; -1: inbound default
    long protocolNumber;
    UINT result;
  } cases[] = {
      {L"5000", L"", L"in", {-1}, 6, 0},      {L"Any", L"17", L"out", {2}, 17, 0}, {L"5000", L"", L"OUT", {-1}, 6, 0},
      {L"5000", L"", L"both", {-1, 2}, 6, 0}, {L"5000", L"tcp", L"", {}, 0, 1603},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SessionTests::Utf8(c.direction));
    firewall.rules.clear();
    package.SetProperty(L"AR2FW_Port", c.port);
    package.SetProperty(L"AR2FW_Protocol", c.protocol);
    package.SetProperty(L"AR2FW_Direction", c.direction);
    EXPECT_EQ(Call(package, "AddRuleToFirewall"), c.result);
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
  EXPECT_TRUE(Contains(ActionLog(package),
                       L"AddRuleToVistaFirewall\r\nGetting firewall policy\r\nGetting firewall rules\r\n"
                       L"Creating firewall rule\r\nput Name\r\nput Description\r\nput ApplicationName\r\n"
                       L"put Protocol\r\nput Direction\r\nput Enabled\r\nput Profiles\r\nput Action\r\n"
                       L"Adding new rule...\r\nAddRuleToVistaFirewall - End\r\n"));
  package.SetProperty(L"AR2FW_Desc", L"");
  EXPECT_EQ(Call(package, "AddRuleToFirewall"), 1603u);  // a required property is empty
}

TEST_F(FirewallRoutineTest, ApplicationRuleFailures) {
  AddApplicationRuleProperties();
  package.AddProperty(L"AR2FW_Direction", L"both");
  package.Open();
  const struct {
    Step step;
    HRESULT failure;
    UINT result;
    const wchar_t* logLine;
  } cases[] = {
      {Step::InitializeCom, E_UNEXPECTED, 0, L"Failed to initialize COM\r\nAddRuleToFirewall - End"},
      {Step::RuleName, E_OUTOFMEMORY, 0, L"SysAllocString failed\r\nFailed to add port to vista firewall"},
      {Step::RuleEnabled, E_ACCESSDENIED, 1603, L"put Enabled\r\n===="},
      {Step::RuleDirection, E_ACCESSDENIED, 1603, L"put Direction\r\n===="},  // the outbound half only
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step));
    firewall.failures = {{c.step, c.failure}};
    EXPECT_EQ(Call(package, "AddRuleToFirewall"), c.result);
    EXPECT_TRUE(firewall.rules.empty());  // never one half of the pair
    EXPECT_TRUE(Contains(ActionLog(package), c.logLine));
  }
}

TEST_F(FirewallRoutineTest, ProductApplicationRules) {
  package.AddProperty(L"INSTALLDIR", L"C:\\Quillet");
  package.AddProperty(L"MT_ProcessingPort", L"10020");
  package.AddProperty(L"MT_ProcessingRuleName", L"Processing");
  package.AddProperty(L"MT_ScanningRuleName", L"Scanning");
  package.Open();
  EXPECT_EQ(Call(package, "AddProcessingPortToVistaFirewall"), 0u);
  EXPECT_EQ(Call(package, "AddScanningStationToVistaFirewall"), 0u);
  ASSERT_EQ(firewall.rules.size(), 2u);
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleApplicationName), L"C:\\Quillet\\QuilletSvc.exe");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleLocalPorts), L"10020");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[1], Step::RuleApplicationName), L"C:\\Quillet\\ImagedeskBR.exe");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[1], Step::RuleLocalPorts), L"*");
  EXPECT_EQ(CFakeFirewall::RuleNumber(firewall.rules[1], Step::RuleDirection), -1);
  const CUnicodeString log = ActionLog(package);
  EXPECT_TRUE(Contains(log, L"AddPortsToVistaFirewall - End\r\n"));
  EXPECT_TRUE(Contains(log, L"AddScanningStationToVistaFirewall - End\r\n"));
}

TEST_F(FirewallRoutineTest, ProductPortsAndProgramsOnTheOlderInterface) {
  package.AddProperty(L"INSTALLDIR", L"C:\\Quillet\\");
  package.Open();
  const wchar_t* program = L"C:\\Quillet\\ImagedeskBR.exe";
  const struct {
    const char* action;
    std::map<Step, HRESULT> failures;
    size_t openPorts, applications;
    const wchar_t* logLine;
  } steps[] = {
      {"AddToFirewall_QuilletServer", {}, 1, 0, L"Port is now open in the firewall. Portnumber = 10020"},
      {"AddToFirewall_QuilletServer", {}, 1, 0, L"Port is already open in the firewall"},
      {"AddToFirewall_QuilletStation", {{Step::PutName, E_FAIL}}, 1, 0, L"put_Name failed. Exit Code = 0x80004005"},
      {"AddToFirewall_QuilletStation", {{Step::InitializeCom, E_FAIL}}, 1, 0, L"Failed to initialize COM"},
      {"AddToFirewall_QuilletStation", {}, 2, 0, L"Portnumber = 10021"},
      {"RemoveFromFirewall_QuilletServer",
       {{Step::RemoveOpenPort, E_NOTIMPL}},
       2,
       0,
       L"Remove failed. Exit Code = 0x80004001"},
      {"RemoveFromFirewall_QuilletServer", {}, 1, 0, L""},
      {"RemoveFromFirewall_QuilletServer", {}, 1, 0, L"Port is already deleted from firewall"},
      {"AddImagedeskBRToFirewall", {{Step::CurrentProfile, E_FAIL}}, 1, 0, L"Failed to get current firewall profile"},
      {"AddImagedeskBRToFirewall",
       {{Step::AddApplication, E_FAIL}},
       1,
       0,
       L"Failed to add application to authorized apps collection. ExitCode = 0x80004005"},
      {"AddImagedeskBRToFirewall", {}, 1, 1, L""},
      {"AddImagedeskBRToFirewall", {}, 1, 1, L""},  // already authorized: not added twice
      {"RemoveImagedeskBRFromFirewall",
       {{Step::RemoveApplication, E_FAIL}},
       1,
       1,
       L"Failed to remove application from authorized apps collection. ExitCode = 0x80004005"},
      {"RemoveImagedeskBRFromFirewall", {}, 1, 0, L""},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.action);
    firewall.failures = s.failures;
    EXPECT_EQ(Call(package, s.action), 0u);
    EXPECT_EQ(firewall.openPorts.size(), s.openPorts);
    EXPECT_EQ(firewall.applications.size(), s.applications);
    EXPECT_TRUE(ActionLog(package).EndsWith(CUnicodeString(s.logLine) + (*s.logLine ? L"\r\n" : L"")));
  }
  EXPECT_EQ(firewall.openPorts[0], (Msi::COpenPort{10021, 6, L"Quillet 10 Processing Station (processing station)"}));
  firewall.failures.clear();
  EXPECT_EQ(Call(package, "AddImagedeskBRToFirewall"), 0u);
  ASSERT_EQ(firewall.applications.size(), 1u);
  EXPECT_EQ(firewall.applications[0].path, program);
}

// Wine's firewall objects are stubs: they accept every change and keep nothing. The real
// implementation must still go through every call without crashing, and the actions must finish.
TIMED_CHILD_TEST(FirewallRoutineReal, RealComObjectsInASession, 60000) {
  Msi::CFirewall& real = Msi::Firewall();
  EXPECT_GE(real.SystemVersion().major, 5u);
  EXPECT_FALSE(real.AddRule({{Step::RuleName, L"OrvantTest"}, {Step::RuleLocalPorts, L"8000-8002"}}, {}));
  std::vector<std::wstring> names;
  EXPECT_FALSE(real.RuleNames(names));
  EXPECT_FALSE(real.RemoveRule(L"OrvantTest"));
  std::optional<Msi::COpenPort> found;
  real.FindOpenPort(10020, 6, found);
  std::vector<Msi::COpenPort> ports;
  real.OpenPorts(ports);
  real.AddOpenPort({10020, 6, L"OrvantTest"});
  real.RemoveOpenPort(10020, 6);
  std::optional<bool> enabled;
  real.FindApplication(L"C:\\OrvantTest.exe", enabled);
  real.AddApplication(L"C:\\OrvantTest.exe", L"OrvantTest");
  real.RemoveApplication(L"C:\\OrvantTest.exe");

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_PortFirewall"));
  SessionTests::AddTestFeatures(package);
  package.Insert(L"OV_PortFirewall", {L"PortProperty", L"Rule", L"Component"},
                 {L"SFW_PORT", L"OrvantTest", L"MainComp"});
  for (const auto& [name, value] : {std::pair{L"SFW_PORT", L"8000"},
                                    {L"SFW_RULE", L"OrvantTest"},
                                    {L"INSTALLDIR", L"C:\\Quillet\\"},
                                    {L"MT_ScanningRuleName", L"OrvantTest"},
                                    {L"MT_ProcessingRuleName", L"OrvantTest"},
                                    {L"AR2FW_Port", L"Any"},
                                    {L"AR2FW_Rule", L"OrvantTest"},
                                    {L"AR2FW_Path", L"C:\\OrvantTest.exe"},
                                    {L"AR2FW_Desc", L"Test"},
                                    {L"AR2FW_Direction", L"both"},
                                    {L"MT_RemRules", L"OrvantTest"}})
    package.AddProperty(name, value);
  package.Open(true);
  package.SetProperty(L"WindowsBuild", L"7601");
  // Through the DLL, whose firewall is always the real one. Wine keeps no rule, so removing one fails.
  const std::pair<const char*, UINT> actions[] = {{"SetPortsToFirewallByTable", 0},
                                                  {"AddPortToFirewall", 0},
                                                  {"AddRuleToFirewall", 0},
                                                  {"AddProcessingPortToVistaFirewall", 0},
                                                  {"AddScanningStationToVistaFirewall", 0},
                                                  {"RemovePortsFromVistaFirewall", 1603},
                                                  {"AddToFirewall_QuilletServer", 0},
                                                  {"RemoveFromFirewall_QuilletServer", 0},
                                                  {"AddToFirewall_QuilletStation", 0},
                                                  {"RemoveFromFirewall_QuilletStation", 0},
                                                  {"AddImagedeskBRToFirewall", 0},
                                                  {"RemoveImagedeskBRFromFirewall", 0}};
  for (const auto& [action, result] : actions) EXPECT_EQ(package.Call(action), result) << action;
  EXPECT_TRUE(Contains(ActionLog(package), L"\tThe firewall has no rule named OrvantTest."));
}
