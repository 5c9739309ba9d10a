// Firewall configuration: port rules from OV_PortFirewall and from properties, application rules,
// removal of named rules, and the product's fixed ports and programs. Every firewall call goes
// through Msi::Firewall(), which speaks to the rules interface (Vista and later) or the older
// manager (XP, Server 2003 and 2008).
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "FileOperations.h"
#include "Files.h"
#include "Firewall.h"
#include "MsiHelper.h"

namespace {

using Msi::CFirewallFailure;
using Msi::CFirewallOutcome;
using Msi::CRuleWrite;
using Msi::CRuleWrites;
using Msi::CustomActionLog;
using Msi::Firewall;
using Msi::FirewallStep;
using Vrn::CUnicodeString;

// Build numbers above this one have the rules interface and take port ranges as "first-last".
constexpr int64_t kRulesInterfaceBuild = 7100;
constexpr long kDefaultProfiles = 3;  // domain and private

// The fixed entries of the product's own services.
constexpr long kProcessingServerPort = 10020;
constexpr long kProcessingStationPort = 10021;
constexpr wchar_t kProcessingServerEntry[] = L"Quillet 10 Processing Server (processing server)";
constexpr wchar_t kProcessingStationEntry[] = L"Quillet 10 Processing Station (processing station)";
constexpr wchar_t kScanningStationEntry[] = L"Quillet 10 Scanning Station (outgoing transfers)";

enum class PortFirewallColumn : UINT { PortProperty = 1, PortSecond, Rule, Description, Path, Component };
constexpr Msi::CTableQuery<PortFirewallColumn> kPortFirewallQuery{
    L"SELECT PortProperty, PortSecond, Rule, Description, Path, Component FROM OV_PortFirewall"};

void LogLine(std::wstring_view text) { CustomActionLog() << text << L"\r\n"; }
using Msi::LogActionName;

CUnicodeString HexCode(HRESULT code) { return L"0x" + CUnicodeString::FromHex(static_cast<uint32_t>(code)); }

// A failed firewall call of a port or rule operation ends the action.
void CheckFirewall(const CFirewallOutcome& outcome) {
  if (outcome) Vrn::RaiseComError(outcome->result);
}

// A decimal number (blanks around it allowed); anything else is an internal error.
int64_t Number(const CUnicodeString& text) {
  const std::optional<int64_t> number = Vrn::StrictInteger<int64_t>(text.View());
  Vrn::Check(number.has_value());
  return *number;
}

// A TCP port number; anything else is an internal error.
long PortNumber(const CUnicodeString& text) {
  const int64_t port = Number(text);
  Vrn::Check(port >= 1 && port <= 65535);
  return static_cast<long>(port);
}

long PortProperty(MSIHANDLE session, const CUnicodeString& name) { return PortNumber(Msi::GetProperty(session, name)); }

// True when the system has the rules interface: a build above the threshold says so at once,
// otherwise the version does (Vista workstation, 7 / 2008 R2 and later; not Server 2008 or 5.x).
bool UsesRulesInterface(bool buildAboveThreshold) {
  if (buildAboveThreshold) return true;
  const Msi::CWindowsVersion version = Firewall().SystemVersion();
  if (version.major < 5)
    Vrn::Raise<Vrn::CCheckException>(L"ERR_UNSUPPORTED_WINDOWS_VERSION", L"This version of Windows is not supported.");
  if (version.major == 5) return false;
  if (version.major == 6 && version.minor == 0) return version.workstation;
  return true;
}

// The local-ports text of a range: "first-last" on builds above the threshold, else every port.
std::wstring PortRangeText(long first, long last, bool buildAboveThreshold) {
  std::wstring text = std::to_wstring(first);
  if (first == last) return text;
  if (buildAboveThreshold) return text + L"-" + std::to_wstring(last);
  for (long port = first + 1; port <= last; ++port) text += L"," + std::to_wstring(port);
  return text;
}

// Opens first..last for TCP under `rule`: one rule of the rules interface, or one open port per
// number of the older manager (none is added when any of them is open already).
void AddPortRangeRule(long first, long last, const CUnicodeString& rule, bool buildAboveThreshold,
                      const CUnicodeString& description, long profiles) {
  Vrn::Check(last >= first);
  if (UsesRulesInterface(buildAboveThreshold)) {
    const std::wstring ports = PortRangeText(first, last, buildAboveThreshold);
    const CRuleWrites writes{{FirewallStep::RuleName, rule.ToStdString()},
                             {FirewallStep::RuleDescription, description.ToStdString()},
                             {FirewallStep::RuleProtocol, {}, Msi::kFirewallProtocolTcp},
                             {FirewallStep::RuleLocalPorts, ports},
                             {FirewallStep::RuleInterfaceTypes, L"All"},
                             {FirewallStep::RuleAction, {}, Msi::kFirewallActionAllow},
                             {FirewallStep::RuleEnabled, {}, 1},
                             {FirewallStep::RuleProfiles, {}, profiles}};
    CheckFirewall(Firewall().AddRule(writes, {}));
    CustomActionLog() << L"Firewall rule added: " << rule << L", ports " << std::wstring_view(ports) << L"\r\n";
    return;
  }
  for (long port = first; port <= last; ++port) {
    std::optional<Msi::COpenPort> existing;
    CheckFirewall(Firewall().FindOpenPort(port, Msi::kFirewallProtocolTcp, existing));
    if (existing)
      Vrn::Raise<Vrn::CCheckException>(L"ERR_RULE_FOR_THIS_PORT_ALREADY_EXISTS",
                                       L"The firewall already has a rule for port %0.",
                                       std::initializer_list<CUnicodeString>{CUnicodeString::FromInt(port)});
  }
  for (long port = first; port <= last; ++port) {
    CheckFirewall(Firewall().AddOpenPort({port, Msi::kFirewallProtocolTcp, rule.ToStdString()}));
    CustomActionLog() << L"Firewall port opened: " << rule << L", port " << static_cast<int32_t>(port) << L"\r\n";
  }
}

// Removes the rules (rules interface) or TCP open ports (older manager) named exactly `rule`.
void RemoveRuleByName(const CUnicodeString& rule, bool buildAboveThreshold) {
  const std::wstring name = rule.ToStdString();
  if (UsesRulesInterface(buildAboveThreshold)) {
    std::vector<std::wstring> names;
    CheckFirewall(Firewall().RuleNames(names));
    const auto matches = std::count(names.begin(), names.end(), name);
    if (matches == 0)
      Vrn::Raise<Vrn::CCheckException>(L"ERR_NO_RULE_WITH_THIS_NAME", L"The firewall has no rule named %0.",
                                       std::initializer_list<CUnicodeString>{rule});
    for (auto left = matches; left > 0; --left) CheckFirewall(Firewall().RemoveRule(name));
    return;
  }
  std::vector<Msi::COpenPort> ports;
  CheckFirewall(Firewall().OpenPorts(ports));
  std::vector<long> named;
  for (const Msi::COpenPort& port : ports)
    if (port.name == name && port.protocol == Msi::kFirewallProtocolTcp) named.push_back(port.port);
  for (long port : named) CheckFirewall(Firewall().RemoveOpenPort(port, Msi::kFirewallProtocolTcp));
}

bool BuildAbove(MSIHANDLE session, int64_t threshold) {
  return Number(Msi::GetProperty(session, L"WindowsBuild")) > threshold;
}

// ---- Application rules (rules interface) ----

const wchar_t* RuleStepLogLine(FirewallStep step) {
  switch (step) {
    case FirewallStep::CreatePolicy:
      return L"Getting firewall policy";
    case FirewallStep::Rules:
      return L"Getting firewall rules";
    case FirewallStep::CreateRule:
      return L"Creating firewall rule";
    case FirewallStep::RuleName:
      return L"put Name";
    case FirewallStep::RuleDescription:
      return L"put Description";
    case FirewallStep::RuleApplicationName:
      return L"put ApplicationName";
    case FirewallStep::RuleProtocol:
      return L"put Protocol";
    case FirewallStep::RuleLocalPorts:
      return L"put Local Ports";
    case FirewallStep::RuleDirection:
      return L"put Direction";
    case FirewallStep::RuleEnabled:
      return L"put Enabled";
    case FirewallStep::RuleProfiles:
      return L"put Profiles";
    case FirewallStep::RuleAction:
      return L"put Action";
    case FirewallStep::AddRule:
      return L"Adding new rule...";
    default:
      return nullptr;
  }
}

// Adds one allowing rule for a program to every profile. Returns false when COM could not start
// or a text could not be allocated (logged; nothing was added); another failure raises.
bool AddRuleToVistaFirewall(const CUnicodeString& rule, const CUnicodeString& description,
                            const CUnicodeString& application, const CUnicodeString& ports,
                            const CUnicodeString& direction, long protocol) {
  LogLine(L"AddRuleToVistaFirewall");
  CRuleWrites writes{{FirewallStep::RuleName, rule.ToStdString()},
                     {FirewallStep::RuleDescription, description.ToStdString()},
                     {FirewallStep::RuleApplicationName, application.ToStdString()},
                     {FirewallStep::RuleProtocol, {}, protocol}};
  if (ports != L"Any") writes.push_back({FirewallStep::RuleLocalPorts, ports.ToStdString()});
  if (direction == L"out") writes.push_back({FirewallStep::RuleDirection, {}, Msi::kFirewallDirectionOut});
  writes.push_back({FirewallStep::RuleEnabled, {}, 1});
  writes.push_back({FirewallStep::RuleProfiles, {}, Msi::kFirewallAllProfiles});
  writes.push_back({FirewallStep::RuleAction, {}, Msi::kFirewallActionAllow});
  const CFirewallOutcome outcome = Firewall().AddRule(writes, [](FirewallStep step) {
    if (const wchar_t* line = RuleStepLogLine(step)) LogLine(line);
  });
  if (outcome && outcome->step == FirewallStep::InitializeCom) {
    LogLine(L"Failed to initialize COM");
    return false;
  }
  if (outcome && outcome->result == E_OUTOFMEMORY) {
    LogLine(L"SysAllocString failed");
    LogLine(L"Failed to add port to vista firewall");
    return false;
  }
  CheckFirewall(outcome);
  LogLine(L"AddRuleToVistaFirewall - End");
  return true;
}

// ---- The older manager's fixed ports and programs (failures are logged, never raised) ----

// Logs a failure of the profile steps; true when `failure` was one.
bool LogProfileFailure(const CFirewallFailure& failure) {
  switch (failure.step) {
    case FirewallStep::InitializeCom:
      LogLine(L"Failed to initialize COM");
      return true;
    case FirewallStep::CreateManager:
    case FirewallStep::LocalPolicy:
    case FirewallStep::CurrentProfile:
    case FirewallStep::GloballyOpenPorts:
    case FirewallStep::AuthorizedApplications:
      LogLine(L"Failed to get current firewall profile");
      return true;
    default:
      return false;
  }
}

void LogStepFailure(const CFirewallFailure& failure) {
  if (LogProfileFailure(failure)) return;
  const wchar_t* line = L"Firewall call failed. Exit Code = ";
  switch (failure.step) {
    case FirewallStep::PutPort:
      line = L"put_Port failed. Exit Code = ";
      break;
    case FirewallStep::PutProtocol:
      line = L"put_Protocol failed. Exit Code = ";
      break;
    case FirewallStep::PutName:
      line = L"put_Name failed. Exit Code = ";
      break;
    case FirewallStep::AddOpenPort:
      line = L"Add failed. Exit Code = ";
      break;
    case FirewallStep::RemoveOpenPort:
      line = L"Remove failed. Exit Code = ";
      break;
    case FirewallStep::PutImageFileName:
      line = L"Failed to put ProcessImageFileName property. ExitCode = ";
      break;
    case FirewallStep::PutApplicationName:
      line = L"Failed to put Name property. ExitCode = ";
      break;
    case FirewallStep::AddApplication:
      line = L"Failed to add application to authorized apps collection. ExitCode = ";
      break;
    case FirewallStep::RemoveApplication:
      line = L"Failed to remove application from authorized apps collection. ExitCode = ";
      break;
    default:
      break;
  }
  CustomActionLog() << line << HexCode(failure.result) << L"\r\n";
}

void AddEnabledPortInWindowsFirewall(long port, const wchar_t* name) {
  std::optional<Msi::COpenPort> existing;
  if (const CFirewallOutcome failed = Firewall().FindOpenPort(port, Msi::kFirewallProtocolTcp, existing))
    return LogStepFailure(*failed);
  if (existing && existing->enabled) return LogLine(L"Port is already open in the firewall");
  if (const CFirewallOutcome failed = Firewall().AddOpenPort({port, Msi::kFirewallProtocolTcp, name}))
    return LogStepFailure(*failed);
  CustomActionLog() << L"Port is now open in the firewall. Portnumber = " << static_cast<int32_t>(port) << L"\r\n";
}

void RemovePortFromWindowsFirewall(long port) {
  std::optional<Msi::COpenPort> existing;
  if (const CFirewallOutcome failed = Firewall().FindOpenPort(port, Msi::kFirewallProtocolTcp, existing))
    return LogStepFailure(*failed);
  if (!existing) return LogLine(L"Port is already deleted from firewall");
  if (const CFirewallOutcome failed = Firewall().RemoveOpenPort(port, Msi::kFirewallProtocolTcp))
    LogStepFailure(*failed);
}

void AddEnabledApplicationInWindowsFirewall(const CUnicodeString& path, const wchar_t* name) {
  std::optional<bool> enabled;
  if (const CFirewallOutcome failed = Firewall().FindApplication(path.ToStdString(), enabled))
    return LogStepFailure(*failed);
  if (enabled.value_or(false)) return;
  if (const CFirewallOutcome failed = Firewall().AddApplication(path.ToStdString(), name)) LogStepFailure(*failed);
}

void RemoveApplicationFromFirewall(const CUnicodeString& path) {
  if (const CFirewallOutcome failed = Firewall().RemoveApplication(path.ToStdString())) LogStepFailure(*failed);
}

CUnicodeString ScanningStationPath(MSIHANDLE session) {
  return Vrn::JoinPath(Msi::GetProperty(session, L"INSTALLDIR"), L"ImagedeskBR.exe");
}

// ---- Bodies ----

UINT SetPortsToFirewallByTableBody(MSIHANDLE session) {
  LogActionName(L"SetPortsToFirewallByTable");
  Msi::CColumnList portProperties, lastPortProperties, rules, descriptions, paths, components;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    Msi::ReadTableColumns(database, kPortFirewallQuery,
                          {{PortFirewallColumn::PortProperty, portProperties},
                           {PortFirewallColumn::PortSecond, lastPortProperties},
                           {PortFirewallColumn::Rule, rules},
                           {PortFirewallColumn::Description, descriptions},
                           {PortFirewallColumn::Path, paths},
                           {PortFirewallColumn::Component, components}});
  });
  const bool buildAbove = BuildAbove(session, kRulesInterfaceBuild);
  for (size_t row = 0; row < rules.size(); ++row) {
    const auto add = [&] {
      const long first = PortProperty(session, portProperties[row]);
      const long last = lastPortProperties[row].IsEmpty() ? first : PortProperty(session, lastPortProperties[row]);
      AddPortRangeRule(first, last, rules[row], buildAbove, descriptions[row], kDefaultProfiles);
    };
    if (Msi::ComponentWillBeInstalled(session, components[row])) {
      add();
    } else if (Msi::ComponentWillBeRemoved(session, components[row])) {
      RemoveRuleByName(rules[row], buildAbove);
    } else if (Msi::ComponentWillBeLocal(session, components[row])) {
      RemoveRuleByName(rules[row], buildAbove);
      add();
    }
  }
  LogLine(L"SetPortsToFirewallByTable - End");
  return ERROR_SUCCESS;
}

UINT AddRuleToFirewallBody(MSIHANDLE session) {
  LogActionName(L"AddRuleToFirewall");
  const CUnicodeString ports = Msi::GetRequiredProperty(session, L"AR2FW_Port");
  const CUnicodeString rule = Msi::GetRequiredProperty(session, L"AR2FW_Rule");
  const CUnicodeString path = Msi::GetRequiredProperty(session, L"AR2FW_Path");
  const CUnicodeString description = Msi::GetRequiredProperty(session, L"AR2FW_Desc");
  const CUnicodeString protocolText = Msi::GetPropertySilent(session, L"AR2FW_Protocol");
  long protocol = Msi::kFirewallProtocolTcp;
  if (!protocolText.IsEmpty()) {
    const std::optional<int32_t> number = Vrn::StrictInteger<int32_t>(protocolText.View());
    Vrn::Check(number.has_value());
    protocol = *number;
  }
  const CUnicodeString direction = Msi::GetPropertySilent(session, L"AR2FW_Direction");
  if (AddRuleToVistaFirewall(rule, description, path, ports, direction, protocol) && direction == L"both") {
    // The inbound half stays only when the outbound half is added too.
    bool added = false;
    try {
      added = AddRuleToVistaFirewall(rule, description, path, ports, L"out", protocol);
    } catch (...) {
      Firewall().RemoveRule(rule.ToStdString());
      throw;
    }
    if (!added) Firewall().RemoveRule(rule.ToStdString());
  }
  LogLine(L"AddRuleToFirewall - End");
  return ERROR_SUCCESS;
}

UINT AddPortToFirewallBody(MSIHANDLE session) {
  LogActionName(L"AddPortToFirewall");
  const CUnicodeString firstText = Msi::GetRequiredProperty(session, L"SFW_PORT");
  const CUnicodeString lastText = Msi::GetProperty(session, L"SFW_PORT2");
  const CUnicodeString rule = Msi::GetRequiredProperty(session, L"SFW_RULE");
  const CUnicodeString description = Msi::GetProperty(session, L"SFW_DESC");
  Msi::GetProperty(session, L"SFW_PATH");  // read with the others; a port rule names no program
  const CUnicodeString profileText = Msi::GetPropertySilent(session, L"SFW_PROFILES");
  long profiles = 0;
  if (profileText.Find(L"All") != CUnicodeString::npos) {
    profiles = Msi::kFirewallAllProfiles;
  } else {
    if (profileText.Find(L"Public") != CUnicodeString::npos) profiles += 4;
    if (profileText.Find(L"Private") != CUnicodeString::npos) profiles += 2;
    if (profileText.Find(L"Domain") != CUnicodeString::npos) profiles += 1;
    if (profiles == 0) profiles = kDefaultProfiles;
  }
  const bool buildAbove = BuildAbove(session, kRulesInterfaceBuild);
  const long first = PortNumber(firstText);
  const long last = lastText.IsEmpty() ? first : PortNumber(lastText);
  AddPortRangeRule(first, last, rule, buildAbove, description, profiles);
  return ERROR_SUCCESS;
}

UINT RemovePortsFromVistaFirewallBody(MSIHANDLE session) {
  LogActionName(L"RemovePortFromVistaFirewall");
  const std::vector<CUnicodeString> names = Msi::SplitList(Msi::GetProperty(session, L"MT_RemRules"), L'|');
  const bool buildAtLeast = BuildAbove(session, kRulesInterfaceBuild - 1);
  for (const CUnicodeString& name : names) {
    CustomActionLog() << L"Removing rule " << name << L"\r\n";
    RemoveRuleByName(name, buildAtLeast);
  }
  return ERROR_SUCCESS;
}

UINT AddProcessingPortToVistaFirewallBody(MSIHANDLE session) {
  LogActionName(L"AddPortsToVistaFirewall");
  const CUnicodeString ports = Msi::GetProperty(session, L"MT_ProcessingPort");
  const CUnicodeString rule = Msi::GetProperty(session, L"MT_ProcessingRuleName");
  const CUnicodeString description = Msi::GetProperty(session, L"MT_ProcessingDescription");
  const CUnicodeString program = Vrn::JoinPath(Msi::GetProperty(session, L"INSTALLDIR"), L"QuilletSvc.exe");
  AddRuleToVistaFirewall(rule, description, program, ports, L"in", Msi::kFirewallProtocolTcp);
  LogLine(L"AddPortsToVistaFirewall - End");
  return ERROR_SUCCESS;
}

UINT AddScanningStationToVistaFirewallBody(MSIHANDLE session) {
  LogActionName(L"AddScanningStationToVistaFirewall");
  const CUnicodeString rule = Msi::GetProperty(session, L"MT_ScanningRuleName");
  const CUnicodeString description = Msi::GetProperty(session, L"MT_ScanningDescription");
  AddRuleToVistaFirewall(rule, description, ScanningStationPath(session), L"*", L"in", Msi::kFirewallProtocolTcp);
  LogLine(L"AddScanningStationToVistaFirewall - End");
  return ERROR_SUCCESS;
}

UINT AddToFirewallQuilletServerBody(MSIHANDLE) {
  LogActionName(L"AddToFirewall_QuilletServer");
  AddEnabledPortInWindowsFirewall(kProcessingServerPort, kProcessingServerEntry);
  return ERROR_SUCCESS;
}

UINT RemoveFromFirewallQuilletServerBody(MSIHANDLE) {
  LogActionName(L"RemoveFromFirewall_QuilletServer");
  RemovePortFromWindowsFirewall(kProcessingServerPort);
  return ERROR_SUCCESS;
}

UINT AddToFirewallQuilletStationBody(MSIHANDLE) {
  LogActionName(L"AddToFirewall_QuilletStation");
  AddEnabledPortInWindowsFirewall(kProcessingStationPort, kProcessingStationEntry);
  return ERROR_SUCCESS;
}

UINT RemoveFromFirewallQuilletStationBody(MSIHANDLE) {
  LogActionName(L"RemoveFromFirewall_QuilletStation");
  RemovePortFromWindowsFirewall(kProcessingStationPort);
  return ERROR_SUCCESS;
}

UINT AddImagedeskBRToFirewallBody(MSIHANDLE session) {
  LogActionName(L"AddImagedeskBRToFirewall");
  AddEnabledApplicationInWindowsFirewall(ScanningStationPath(session), kScanningStationEntry);
  return ERROR_SUCCESS;
}

UINT RemoveImagedeskBRFromFirewallBody(MSIHANDLE session) {
  LogActionName(L"RemoveImagedeskBRFromFirewall");
  RemoveApplicationFromFirewall(ScanningStationPath(session));
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(SetPortsToFirewallByTable, SetPortsToFirewallByTableBody, .reads = L"WindowsBuild",
           .tables = L"OV_PortFirewall", .readsIndirect = true, .costing = true)
ORV_ACTION(AddRuleToFirewall, AddRuleToFirewallBody,
           .reads = L"AR2FW_Port AR2FW_Rule AR2FW_Path AR2FW_Desc AR2FW_Protocol AR2FW_Direction")
ORV_ACTION(AddPortToFirewall, AddPortToFirewallBody,
           .reads = L"SFW_PORT SFW_PORT2 SFW_RULE SFW_DESC SFW_PATH SFW_PROFILES WindowsBuild")
ORV_ACTION(RemovePortsFromVistaFirewall, RemovePortsFromVistaFirewallBody, .reads = L"MT_RemRules WindowsBuild")
ORV_ACTION(AddProcessingPortToVistaFirewall, AddProcessingPortToVistaFirewallBody,
           .reads = L"MT_ProcessingPort MT_ProcessingRuleName MT_ProcessingDescription INSTALLDIR")
ORV_ACTION(AddScanningStationToVistaFirewall, AddScanningStationToVistaFirewallBody,
           .reads = L"MT_ScanningRuleName MT_ScanningDescription INSTALLDIR")
ORV_ACTION(AddToFirewall_QuilletServer, AddToFirewallQuilletServerBody)
ORV_ACTION(RemoveFromFirewall_QuilletServer, RemoveFromFirewallQuilletServerBody)
ORV_ACTION(AddToFirewall_QuilletStation, AddToFirewallQuilletStationBody)
ORV_ACTION(RemoveFromFirewall_QuilletStation, RemoveFromFirewallQuilletStationBody)
ORV_ACTION(AddImagedeskBRToFirewall, AddImagedeskBRToFirewallBody, .reads = L"INSTALLDIR")
ORV_ACTION(RemoveImagedeskBRFromFirewall, RemoveImagedeskBRFromFirewallBody, .reads = L"INSTALLDIR")
