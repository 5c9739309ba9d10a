// Firewall configuration against the in-memory firewall (its state checked after each action), and
// Wine's real COM objects once, in a child process.
#include <algorithm>

#include "ActionTest.h"
#include "ChildProcessTest.h"
#include "FakeFirewall.h"

using namespace TestSupport;
using Step = Msi::FirewallStep;

class FirewallRoutineTest : public ActionTest {
 protected:
  void SetUp() override {
    package.ImportTable(TableSchemaPath(L"OV_PortFirewall"));
    package.AddMainAndOffFeatures();
    package.AddComponent(L"RemovedComp", L"Main");
  }
  void AddRow(const wchar_t* first, const CCell& second, const wchar_t* rule, const wchar_t* component) {
    package.Insert(L"OV_PortFirewall", {L"PortProperty", L"PortSecond", L"Rule", L"Description", L"Path", L"Component"},
                   {first, second, rule, CUnicodeString(L"About ") + rule, L"C:\\ignored", component});
  }
  // A package with the table's port range 8000-8002 as rule "Range" and, when asked, the rule "Old"
  // of a component being removed; costed, with the installer's own WindowsBuild replaced.
  void OpenWithRange(const wchar_t* build, bool withOld = true) {
    package.AddProperties(L"RANGE_FIRST=8000|RANGE_LAST=8002");
    AddRow(L"RANGE_FIRST", L"RANGE_LAST", L"Range", L"MainComp");
    if (withOld) AddRow(L"OLD_PORT", CCell::Null(), L"Old", L"RemovedComp");
    Open(true);
    ASSERT_EQ(MsiSetComponentStateW(Session(), L"RemovedComp", INSTALLSTATE_ABSENT), 0u);
    Set({{L"WindowsBuild", build}});
  }
  static std::vector<Msi::COpenPort> Sorted(std::vector<Msi::COpenPort> ports) {
    std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return a.port < b.port; });
    return ports;
  }

  CFakeFirewall firewall;
  Msi::CFirewallOverride seam{firewall};
};

TEST_F(FirewallRoutineTest, TableAddsRemovesAndSkipsByComponent) {
  package.AddProperty(L"WEB_PORT", L" 8080 ");
  AddRow(L"WEB_PORT", CCell::Null(), L"Web \"site\"", L"MainComp");
  AddRow(L"NO_SUCH_1", CCell::Null(), L"Untouched", L"OffComp");
  AddRow(L"NO_SUCH_2", CCell::Null(), L"NoComponent", L"");
  OpenWithRange(L"7601");
  for (const wchar_t* name : {L"Old", L"old", L"Old"}) firewall.AddNamedRule(name);
  RunCases({{"SetPortsToFirewallByTable"}});
  std::vector<std::wstring> names = firewall.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Range", L"Web \"site\"", L"old"}));
  const Msi::CRuleWrites web{{Step::RuleName, L"Web \"site\""},  {Step::RuleDescription, L"About Web \"site\""},
                             {Step::RuleProtocol, {}, 6},        {Step::RuleLocalPorts, L"8080"},
                             {Step::RuleInterfaceTypes, L"All"}, {Step::RuleAction, {}, 1},
                             {Step::RuleEnabled, {}, 1},         {Step::RuleProfiles, {}, 3}};
  EXPECT_NE(std::find(firewall.rules.begin(), firewall.rules.end(), web), firewall.rules.end());
}

TEST_F(FirewallRoutineTest, InterfaceChoiceByBuildAndVersion) {
  OpenWithRange(L"", false);
  // ports: the rule's local ports; nullptr: three open ports
  const std::tuple<const wchar_t*, Msi::CWindowsVersion, const wchar_t*, UINT> cases[] = {
      {L"7601", {5, 1, true}, L"8000-8002", 0},       // the build wins over the version
      {L"7100", {6, 1, true}, L"8000,8001,8002", 0},  // Windows 7 by its version
      {L"6002", {6, 0, false}, nullptr, 0},           // Server 2008: the older interface
      {L"1381", {4, 0, true}, L"", 1603},             // NT 4
      {L"76O1", {6, 1, true}, L"", 1603},
  };
  for (const auto& [build, version, ports, result] : cases) {
    firewall.rules.clear();
    firewall.openPorts.clear();
    firewall.version = version;
    RunCases({{"SetPortsToFirewallByTable", {{L"WindowsBuild", build}}, L"", result}});
    if (result) {
      EXPECT_TRUE(firewall.rules.empty() && firewall.openPorts.empty());
    } else if (ports) {
      ASSERT_EQ(firewall.rules.size(), 1u);
      EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleLocalPorts), ports);
    } else {
      EXPECT_EQ(firewall.openPorts,
                (std::vector<Msi::COpenPort>{{8000, 6, L"Range"}, {8001, 6, L"Range"}, {8002, 6, L"Range"}}));
    }
  }
}

TEST_F(FirewallRoutineTest, OlderInterfaceRefusesAnOpenPortAndRemovesByName) {
  OpenWithRange(L"2600");
  firewall.version = {5, 1, true};
  firewall.openPorts = {{8001, 6, L"Someone"}};
  RunCases({{"SetPortsToFirewallByTable", L"", L"", 1603}});
  EXPECT_EQ(firewall.openPorts.size(), 1u);  // 8000 was not opened either
  firewall.openPorts = {{9000, 6, L"Old"}, {9001, 17, L"Old"}, {9002, 6, L"Other"}, {9003, 6, L"Old"}};
  RunCases({{"SetPortsToFirewallByTable"}});
  EXPECT_EQ(
      Sorted(firewall.openPorts),
      (std::vector<Msi::COpenPort>{
          {8000, 6, L"Range"}, {8001, 6, L"Range"}, {8002, 6, L"Range"}, {9001, 17, L"Old"}, {9002, 6, L"Other"}}));
}

TEST_F(FirewallRoutineTest, RemovingAMissingRuleFails) {
  Open();
  for (const wchar_t* name : {L"First", L"second", L"missing"}) firewall.AddNamedRule(name);
  RunCases({{"RemovePortsFromVistaFirewall",
             {{L"WindowsBuild", L"7601"}, {L"MT_RemRules", L"First|second|Missing"}},
             L"",
             1603}});
  EXPECT_EQ(firewall.Names(), std::vector<std::wstring>{L"missing"});
  // Build 7100 takes the rules interface here even on XP.
  firewall.version = {5, 1, true};
  RunCases({{"RemovePortsFromVistaFirewall", L"WindowsBuild=7100|MT_RemRules=missing"}});
  EXPECT_TRUE(firewall.rules.empty());
}

TEST_F(FirewallRoutineTest, AddPortToFirewallProfilesAndBadPorts) {
  package.AddProperty(L"SFW_RULE", L"Rule");
  Open();
  Set(L"WindowsBuild=7601");
  // expectedProfiles 0: the action fails and adds nothing
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, long, const wchar_t*> cases[] = {
      {L"80", L"81", L"Private,Domain", 3, L"80-81"},
      {L"80", L"", L"Public", 4, L"80"},
      {L"80", L"", L"Public All", 0x7FFFFFFF, L"80"},
      {L"80", L"", L"public", 3, L"80"},  // names are exact; none known gives the default
      {L"abc", L"", L"", 0, nullptr},
      {L"70000", L"", L"", 0, nullptr},
      {L"10", L"5", L"", 0, nullptr},
  };
  for (const auto& [port, last, profiles, expectedProfiles, ports] : cases) {
    firewall.rules.clear();
    RunCases({{"AddPortToFirewall",
               {{L"SFW_PORT", port}, {L"SFW_PORT2", last}, {L"SFW_PROFILES", profiles}},
               L"",
               expectedProfiles ? 0u : 1603u}});
    ASSERT_EQ(firewall.rules.size(), expectedProfiles ? 1u : 0u);
    if (!expectedProfiles) continue;
    EXPECT_EQ(CFakeFirewall::RuleNumber(firewall.rules[0], Step::RuleProfiles), expectedProfiles);
    EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleLocalPorts), ports);
  }
}

TEST_F(FirewallRoutineTest, ApplicationRules) {
  package.AddProperties(L"AR2FW_Port=5000|AR2FW_Rule=App|AR2FW_Path=C:\\App\\app.exe|AR2FW_Desc=The app");
  Open();
  // directions: one per rule added; -1: inbound default
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, std::vector<long>, long, UINT> cases[] = {
      {L"Any", L"17", L"out", {2}, 17, 0},
      {L"5000", L"", L"OUT", {-1}, 6, 0},
      {L"5000", L"", L"both", {-1, 2}, 6, 0},
      {L"5000", L"tcp", L"", {}, 0, 1603},
  };
  for (const auto& [port, protocol, direction, directions, protocolNumber, result] : cases) {
    firewall.rules.clear();
    RunCases({{"AddRuleToFirewall",
               {{L"AR2FW_Port", port}, {L"AR2FW_Protocol", protocol}, {L"AR2FW_Direction", direction}},
               L"",
               result}});
    ASSERT_EQ(firewall.rules.size(), directions.size());
    for (size_t i = 0; i < directions.size(); ++i) {
      const Msi::CRuleWrites& rule = firewall.rules[i];
      EXPECT_EQ(CFakeFirewall::RuleNumber(rule, Step::RuleDirection), directions[i]);
      EXPECT_EQ(CFakeFirewall::RuleNumber(rule, Step::RuleProtocol), protocolNumber);
      EXPECT_EQ(CFakeFirewall::RuleText(rule, Step::RuleLocalPorts), port == std::wstring_view(L"Any") ? L"" : port);
      EXPECT_EQ(CFakeFirewall::RuleText(rule, Step::RuleApplicationName), L"C:\\App\\app.exe");
      EXPECT_EQ(CFakeFirewall::RuleNumber(rule, Step::RuleProfiles), 0x7FFFFFFF);
    }
  }
  // Failures: COM or a text allocation only logged; any other step fails; never one half of a pair.
  Set(L"AR2FW_Protocol=|AR2FW_Direction=both");
  const std::tuple<Step, HRESULT, UINT, const wchar_t*> failures[] = {
      {Step::InitializeCom, E_UNEXPECTED, 0, L"Failed to initialize COM\r\nAddRuleToFirewall - End"},
      {Step::RuleName, E_OUTOFMEMORY, 0, L"SysAllocString failed\r\nFailed to add port to vista firewall"},
      {Step::RuleEnabled, E_ACCESSDENIED, 1603, nullptr},
      {Step::RuleDirection, E_ACCESSDENIED, 1603, nullptr},  // the outbound half only
  };
  for (const auto& [step, failure, result, logLine] : failures) {
    firewall.rules.clear();
    firewall.failures = {{step, failure}};
    const size_t logged = Log().Length();
    RunCases({{"AddRuleToFirewall", L"", L"", result}});
    EXPECT_TRUE(firewall.rules.empty());
    EXPECT_TRUE(!logLine || Logged(logLine, logged)) << logLine;
  }
  firewall.failures.clear();
  RunCases({{"AddRuleToFirewall", L"AR2FW_Desc=", L"", 1603}});  // a required property is empty
}

// The product's fixed entries never fail: what happened is only logged.
TEST_F(FirewallRoutineTest, ProductRulesPortsAndPrograms) {
  package.AddProperties(L"INSTALLDIR=C:\\Quillet\\|MT_ProcessingPort=10020|MT_ProcessingRuleName=Processing");
  Open();
  RunCases({{"AddProcessingPortToVistaFirewall"}, {"AddScanningStationToVistaFirewall"}});
  ASSERT_EQ(firewall.rules.size(), 2u);
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleName), L"Processing");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleApplicationName), L"C:\\Quillet\\QuilletSvc.exe");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[0], Step::RuleLocalPorts), L"10020");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[1], Step::RuleApplicationName), L"C:\\Quillet\\ImagedeskBR.exe");
  EXPECT_EQ(CFakeFirewall::RuleText(firewall.rules[1], Step::RuleLocalPorts), L"*");

  // Each step: the action, a failing step, the open ports and programs afterwards, the log's last line.
  const char *addServer = "AddToFirewall_QuilletServer", *removeServer = "RemoveFromFirewall_QuilletServer",
             *addProgram = "AddImagedeskBRToFirewall", *removeProgram = "RemoveImagedeskBRFromFirewall";
  const std::tuple<const char*, std::map<Step, HRESULT>, size_t, size_t, const wchar_t*> steps[] = {
      {addServer, {}, 1, 0, L"Port is now open in the firewall. Portnumber = 10020"},
      {addServer, {}, 1, 0, L"Port is already open in the firewall"},
      {"AddToFirewall_QuilletStation", {{Step::PutName, E_FAIL}}, 1, 0, L"put_Name failed. Exit Code = 0x80004005"},
      {"AddToFirewall_QuilletStation", {}, 2, 0, L"Portnumber = 10021"},
      {removeServer, {{Step::RemoveOpenPort, E_NOTIMPL}}, 2, 0, L"Remove failed. Exit Code = 0x80004001"},
      {removeServer, {}, 1, 0, L""},
      {removeServer, {}, 1, 0, L"Port is already deleted from firewall"},
      {addProgram, {}, 1, 1, L""},
      {addProgram, {}, 1, 1, L""},  // already authorized: not added twice
      {removeProgram, {{Step::RemoveApplication, E_FAIL}}, 1, 1, L"ExitCode = 0x80004005"},
      {removeProgram, {}, 1, 0, L""},
  };
  for (const auto& [action, failures, openPorts, applications, logLine] : steps) {
    firewall.failures = failures;
    RunCases({{action}});
    EXPECT_EQ(firewall.openPorts.size(), openPorts) << action;
    EXPECT_EQ(firewall.applications.size(), applications) << action;
    const CUnicodeString line = logLine;
    EXPECT_TRUE(Log().EndsWith(line + (line.IsEmpty() ? L"" : L"\r\n"))) << action;
  }
  EXPECT_EQ(firewall.openPorts[0], (Msi::COpenPort{10021, 6, L"Quillet 10 Processing Station (processing station)"}));
  firewall.failures.clear();
  RunCases({{"AddImagedeskBRToFirewall"}});
  EXPECT_EQ(firewall.applications,
            (std::vector<CFakeFirewall::CApplication>{
                {L"C:\\Quillet\\ImagedeskBR.exe", L"Quillet 10 Scanning Station (outgoing transfers)"}}));
}

// Wine's firewall objects are stubs: they accept every change and keep nothing. Every action must go
// through every call of the real objects without crashing.
TIMED_CHILD_TEST(FirewallRoutineReal, RealComObjectsInASession, 60000) {
  EXPECT_GE(Msi::Firewall().SystemVersion().major, 5u);
  std::vector<Msi::COpenPort> ports;
  Msi::Firewall().OpenPorts(ports);  // the one call no action below makes on the rules interface
  CActionSession s;
  s.package.ImportTable(TableSchemaPath(L"OV_PortFirewall"));
  s.package.AddFeature(L"Main", 1, L"MainComp");
  s.package.Insert(L"OV_PortFirewall", {L"PortProperty", L"Rule", L"Component"},
                   {L"SFW_PORT", L"OrvantTest", L"MainComp"});
  s.package.AddProperties(
      L"SFW_PORT=8000|SFW_RULE=OrvantTest|INSTALLDIR=C:\\Quillet\\|AR2FW_Port=Any|AR2FW_Rule=OrvantTest|AR2FW_Path=C:"
      L"\\OrvantTest.exe|AR2FW_Desc=Test|AR2FW_Direction=both|MT_RemRules=OrvantTest");
  s.Open(true);
  s.Set(L"WindowsBuild=7601");
  // Wine keeps no rule, so removing one fails.
  s.RunCases({{"SetPortsToFirewallByTable"},
              {"AddPortToFirewall"},
              {"AddRuleToFirewall"},
              {"AddProcessingPortToVistaFirewall"},
              {"RemovePortsFromVistaFirewall", L"", L"", 1603},
              {"AddToFirewall_QuilletServer"},
              {"RemoveFromFirewall_QuilletServer"},
              {"AddImagedeskBRToFirewall"},
              {"RemoveImagedeskBRFromFirewall"}});
}

// Wine's firewall overflows its stack on a program path of about 1,000 characters: a longer one is
// refused before the firewall sees it, counted, and the log names the property and the limit.
TIMED_CHILD_TEST(FirewallRoutineReal, AnOverLongProgramPathIsRefused, 60000) {
  CActionSession s;
  s.package.AddProperty(L"INSTALLDIR", L"C:\\" + CUnicodeString(40000, L'i'));
  s.Open();
  for (const char* action : {"AddImagedeskBRToFirewall", "RemoveImagedeskBRFromFirewall"}) {
    const size_t from = s.Log().Length();
    s.RunCases({{action, L"", L"", 1603}});
    EXPECT_TRUE(
        s.Logged(L"A value from the property INSTALLDIR is 40019 characters long, too long for the program of "
                 L"a firewall entry (at most 259 characters).",
                 from))
        << action;
  }
}
