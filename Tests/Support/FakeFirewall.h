// An in-memory firewall for tests: rules of the rules interface (each kept as the property writes
// it was made with, in their order), the older manager's open ports and authorized applications,
// the system version and enabled state, and failures injected at any step. Install it with
// Msi::CFirewallOverride.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "Firewall.h"

namespace TestSupport {

class CFakeFirewall : public Msi::CFirewall {
 public:
  using Step = Msi::FirewallStep;
  using Outcome = Msi::CFirewallOutcome;

  struct CApplication {
    std::wstring path;
    std::wstring name;
    bool enabled = true;
  };

  // A rule's text property (empty when it was not written).
  static std::wstring RuleText(const Msi::CRuleWrites& rule, Step property) {
    for (const Msi::CRuleWrite& write : rule)
      if (write.property == property) return write.text;
    return {};
  }
  // A rule's number property, or -1 when it was not written.
  static long RuleNumber(const Msi::CRuleWrites& rule, Step property) {
    for (const Msi::CRuleWrite& write : rule)
      if (write.property == property) return write.number;
    return -1;
  }
  // The properties a rule was made with, in write order.
  static std::vector<Step> RuleProperties(const Msi::CRuleWrites& rule) {
    std::vector<Step> properties;
    for (const Msi::CRuleWrite& write : rule) properties.push_back(write.property);
    return properties;
  }
  // Adds a rule of that name (as another program could have).
  void AddNamedRule(const std::wstring& name) { rules.push_back({{Step::RuleName, name}}); }
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (const Msi::CRuleWrites& rule : rules) names.push_back(RuleText(rule, Step::RuleName));
    return names;
  }

  Msi::CWindowsVersion SystemVersion() override { return version; }

  Msi::COpenPortState QueryGloballyOpenPort(uint32_t port) override {
    Msi::COpenPortState state;
    Outcome failed = Chain(
        {Step::InitializeCom, Step::CreateManager, Step::LocalPolicy, Step::CurrentProfile, Step::FirewallEnabled});
    if (!failed) {
      state.firewallEnabled = firewallEnabled;
      if (!firewallEnabled) return state;
      failed = Chain({Step::GloballyOpenPorts});
    }
    if (!failed) {
      const auto entry = FindPort(static_cast<long>(port), Msi::kFirewallProtocolTcp);
      if (entry == openPorts.end()) return state;
      state.portListed = true;
      if (!(failed = Chain({Step::PortEnabled}))) state.portEnabled = entry->enabled;
    }
    if (failed) {
      state.failedStep = failed->step;
      state.failure = failed->result;
    }
    return state;
  }

  Outcome AddRule(const Msi::CRuleWrites& writes, const Msi::CFirewallStepObserver& beforeStep) override {
    if (Outcome failed = Chain({Step::InitializeCom})) return failed;
    for (Step step : {Step::CreatePolicy, Step::Rules, Step::CreateRule})
      if (Outcome failed = Observed(step, beforeStep)) return failed;
    for (const Msi::CRuleWrite& write : writes)
      if (Outcome failed = Observed(write.property, beforeStep)) return failed;
    if (Outcome failed = Observed(Step::AddRule, beforeStep)) return failed;
    rules.push_back(writes);
    return std::nullopt;
  }
  Outcome RuleNames(std::vector<std::wstring>& names) override {
    if (Outcome failed = Chain({Step::InitializeCom, Step::CreatePolicy, Step::Rules, Step::EnumerateRules}))
      return failed;
    names = Names();
    return std::nullopt;
  }
  Outcome RemoveRule(const std::wstring& name) override {
    if (Outcome failed = Chain({Step::InitializeCom, Step::CreatePolicy, Step::Rules, Step::RemoveRule})) return failed;
    const auto rule = std::find_if(rules.begin(), rules.end(),
                                   [&](const Msi::CRuleWrites& r) { return RuleText(r, Step::RuleName) == name; });
    if (rule != rules.end()) rules.erase(rule);
    return std::nullopt;
  }

  Outcome FindOpenPort(long port, long protocol, std::optional<Msi::COpenPort>& found) override {
    if (Outcome failed = Profile(Step::GloballyOpenPorts)) return failed;
    const auto entry = FindPort(port, protocol);
    if (entry == openPorts.end()) return std::nullopt;
    if (Outcome failed = Chain({Step::PortEnabled})) return failed;
    found = *entry;
    return std::nullopt;
  }
  Outcome OpenPorts(std::vector<Msi::COpenPort>& ports) override {
    if (Outcome failed = Profile(Step::GloballyOpenPorts, Step::EnumerateOpenPorts)) return failed;
    ports = openPorts;
    return std::nullopt;
  }
  Outcome AddOpenPort(const Msi::COpenPort& port) override {
    if (Outcome failed = Profile(Step::GloballyOpenPorts)) return failed;
    if (Outcome failed =
            Chain({Step::CreateOpenPort, Step::PutPort, Step::PutProtocol, Step::PutName, Step::AddOpenPort}))
      return failed;
    openPorts.push_back(port);
    return std::nullopt;
  }
  Outcome RemoveOpenPort(long port, long protocol) override {
    if (Outcome failed = Profile(Step::GloballyOpenPorts, Step::RemoveOpenPort)) return failed;
    const auto entry = FindPort(port, protocol);
    if (entry != openPorts.end()) openPorts.erase(entry);
    return std::nullopt;
  }

  Outcome FindApplication(const std::wstring& path, std::optional<bool>& enabled) override {
    if (Outcome failed = Profile(Step::AuthorizedApplications)) return failed;
    const auto application = FindProgram(path);
    if (application == applications.end()) return std::nullopt;
    if (Outcome failed = Chain({Step::ApplicationItem})) return failed;
    enabled = application->enabled;
    return std::nullopt;
  }
  Outcome AddApplication(const std::wstring& path, const std::wstring& name) override {
    if (Outcome failed = Profile(Step::AuthorizedApplications)) return failed;
    if (Outcome failed =
            Chain({Step::CreateApplication, Step::PutImageFileName, Step::PutApplicationName, Step::AddApplication}))
      return failed;
    applications.push_back({path, name, true});
    return std::nullopt;
  }
  Outcome RemoveApplication(const std::wstring& path) override {
    if (Outcome failed = Profile(Step::AuthorizedApplications, Step::RemoveApplication)) return failed;
    const auto application = FindProgram(path);
    if (application != applications.end()) applications.erase(application);
    return std::nullopt;
  }

  std::vector<Msi::CRuleWrites> rules;  // in the rules collection's order
  std::vector<Msi::COpenPort> openPorts;
  std::vector<CApplication> applications;
  Msi::CWindowsVersion version{6, 1, true};  // Windows 7
  bool firewallEnabled = true;
  std::map<Step, HRESULT> failures;  // every call that reaches one of these steps fails there

 private:
  Outcome Chain(std::initializer_list<Step> steps) const {
    for (Step step : steps) {
      const auto failure = failures.find(step);
      if (failure != failures.end()) return Msi::CFirewallFailure{step, failure->second};
    }
    return std::nullopt;
  }
  Outcome Observed(Step step, const Msi::CFirewallStepObserver& beforeStep) const {
    if (beforeStep) beforeStep(step);
    return Chain({step});
  }
  // COM, the manager, its policy, the current profile and the profile's collection (and an action).
  Outcome Profile(Step collection, std::optional<Step> action = std::nullopt) const {
    if (Outcome failed =
            Chain({Step::InitializeCom, Step::CreateManager, Step::LocalPolicy, Step::CurrentProfile, collection}))
      return failed;
    return action ? Chain({*action}) : std::nullopt;
  }
  std::vector<Msi::COpenPort>::iterator FindPort(long port, long protocol) {
    return std::find_if(openPorts.begin(), openPorts.end(),
                        [&](const Msi::COpenPort& p) { return p.port == port && p.protocol == protocol; });
  }
  std::vector<CApplication>::iterator FindProgram(const std::wstring& path) {
    return std::find_if(applications.begin(), applications.end(),
                        [&](const CApplication& a) { return a.path == path; });
  }
};

}  // namespace TestSupport
