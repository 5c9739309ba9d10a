// The Windows Firewall as the actions see it: the rules interface (HNetCfg.FwPolicy2 / FwRule) and
// the older manager (current profile, globally open ports, authorized applications). Wine has no
// working firewall (its objects answer fixed values), so every call goes through CFirewall, which
// tests replace by an in-memory fake with CFirewallOverride.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Seam.h"
#include "VrnWindows.h"

namespace Msi {

// The steps of a query of the older firewall manager, in the order they run; a failed query names
// the step that failed.
enum class FirewallStep {
  InitializeCom,
  CreateManager,
  LocalPolicy,
  CurrentProfile,
  FirewallEnabled,
  GloballyOpenPorts,
  PortEnabled,
  // Changing the older manager's open ports and authorized applications.
  EnumerateOpenPorts,
  CreateOpenPort,
  PutPort,
  PutProtocol,
  PutName,
  AddOpenPort,
  RemoveOpenPort,
  AuthorizedApplications,
  ApplicationItem,
  CreateApplication,
  PutImageFileName,
  PutApplicationName,
  AddApplication,
  RemoveApplication,
  // The rules interface, in the order a rule is made; the Rule* property steps name the property
  // written.
  CreatePolicy,
  Rules,
  CreateRule,
  RuleName,
  RuleDescription,
  RuleApplicationName,
  RuleProtocol,
  RuleLocalPorts,
  RuleInterfaceTypes,
  RuleDirection,
  RuleEnabled,
  RuleProfiles,
  RuleAction,
  AddRule,
  EnumerateRules,
  RemoveRule,
};

// The step at which a changing call stopped and its result; no value means the call succeeded.
struct CFirewallFailure {
  FirewallStep step;
  HRESULT result;
};
using CFirewallOutcome = std::optional<CFirewallFailure>;

// One property written to a new rule: `property` is one of the Rule* steps; text properties
// (name, description, application, local ports, interface types) use `text`, the others `number`
// (Enabled: 0 or 1).
struct CRuleWrite {
  FirewallStep property;
  std::wstring text;
  long number = 0;
  bool operator==(const CRuleWrite&) const = default;
};
using CRuleWrites = std::vector<CRuleWrite>;

// Called before each step of AddRule, so that a caller can log the step it is about to take.
using CFirewallStepObserver = std::function<void(FirewallStep)>;

// One globally open port of the older manager.
struct COpenPort {
  long port = 0;
  long protocol = 6;
  std::wstring name;
  bool enabled = true;
  bool operator==(const COpenPort&) const = default;
};

// Rule numbers of the rules interface.
inline constexpr long kFirewallProtocolTcp = 6;
inline constexpr long kFirewallDirectionOut = 2;
inline constexpr long kFirewallActionAllow = 1;
inline constexpr long kFirewallAllProfiles = 0x7FFFFFFF;

// What the current profile says about one globally open TCP port. When failedStep is set the query
// stopped there with `failure` and the flags after that step are false.
struct COpenPortState {
  std::optional<FirewallStep> failedStep;
  HRESULT failure = S_OK;
  bool firewallEnabled = false;
  bool portListed = false;   // the profile has an entry for the port
  bool portEnabled = false;  // that entry is enabled
};

// HRESULT of a firewall call made while its service (SharedAccess) is not running.
inline constexpr HRESULT kFirewallServiceNotRunning = static_cast<HRESULT>(0x800706D9);

// The Windows version, which decides which firewall interface the system has.
struct CWindowsVersion {
  DWORD major = 0;
  DWORD minor = 0;
  bool workstation = true;
};

class CFirewall {
 public:
  // The running system's version (GetVersionExW).
  virtual CWindowsVersion SystemVersion();

  virtual ~CFirewall() = default;
  // Asks the firewall manager (NetFwMgr) for its local policy's current profile, then whether the
  // firewall is on and, when it is, for the profile's globally open TCP entry of `port`. COM is
  // initialised on the calling thread (apartment model) for the call and uninitialised after it;
  // a thread already in another COM mode is used as it is. Never raises.
  virtual COpenPortState QueryGloballyOpenPort(uint32_t port);

  // Each call below initialises COM like QueryGloballyOpenPort and reports the first failed step;
  // none raises, except that a program path longer than a firewall entry takes raises
  // ERR_VALUE_TOO_LONG (TextLimits.h) before anything is called.

  // Creates a policy and a new rule object, writes `writes` to the rule in their order and adds
  // it to the policy's rules. `beforeStep` (may be empty) sees CreatePolicy, Rules, CreateRule,
  // each property step and AddRule before it is taken.
  virtual CFirewallOutcome AddRule(const CRuleWrites& writes, const CFirewallStepObserver& beforeStep);
  // The names of the rules in the collection, in its order (empty when it counts none).
  virtual CFirewallOutcome RuleNames(std::vector<std::wstring>& names);
  // Asks the rules collection to remove (one) rule of this name.
  virtual CFirewallOutcome RemoveRule(const std::wstring& name);

  // Whether the current profile's globally open ports hold `port` for `protocol` (the
  // collection's Item): `found` receives the entry (its name is not read).
  virtual CFirewallOutcome FindOpenPort(long port, long protocol, std::optional<COpenPort>& found);
  // Every globally open port with its name and protocol.
  virtual CFirewallOutcome OpenPorts(std::vector<COpenPort>& ports);
  // Creates an open port with Port, Protocol and Name written in that order and adds it.
  virtual CFirewallOutcome AddOpenPort(const COpenPort& port);
  virtual CFirewallOutcome RemoveOpenPort(long port, long protocol);

  // Whether the program at `path` is an authorized application; `enabled` gets its state.
  virtual CFirewallOutcome FindApplication(const std::wstring& path, std::optional<bool>& enabled);
  // Creates an authorized application (ProcessImageFileName, then Name) and adds it.
  virtual CFirewallOutcome AddApplication(const std::wstring& path, const std::wstring& name);
  virtual CFirewallOutcome RemoveApplication(const std::wstring& path);
};

// The firewall in use: the real one unless a CFirewallOverride is alive.
inline CFirewall& Firewall() noexcept { return Vrn::CSeam<CFirewall>::Current(); }
using CFirewallOverride = Vrn::CSeam<CFirewall>::COverride;

}  // namespace Msi
