// An in-memory firewall for tests: rules of the rules interface (each kept as the property writes
// it was made with, in their order), the older manager's open ports and authorized applications,
// the system version, and failures injected at any step. Install it with Msi::CFirewallOverride.
#pragma once

#include <algorithm>
#include <functional>
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
    std::wstring path, name;
    bool operator==(const CApplication&) const = default;
  };

  // A rule's text property (empty when it was not written).
  static std::wstring RuleText(const Msi::CRuleWrites& rule, Step property) { return Write(rule, property).text; }
  // A rule's number property, or -1 when it was not written.
  static long RuleNumber(const Msi::CRuleWrites& rule, Step property) { return Write(rule, property).number; }
  // Adds a rule of that name (as another program could have).
  void AddNamedRule(const std::wstring& name) { rules.push_back({{Step::RuleName, name}}); }
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (const Msi::CRuleWrites& rule : rules) names.push_back(RuleText(rule, Step::RuleName));
    return names;
  }

  Msi::CWindowsVersion SystemVersion() override { return version; }
  Msi::COpenPortState QueryGloballyOpenPort(uint32_t port) override {
    queriedPorts.push_back(port);
    return openPortState;
  }

  Outcome AddRule(const Msi::CRuleWrites& writes, const Msi::CFirewallStepObserver& beforeStep) override {
    std::vector<Step> steps = {Step::CreatePolicy, Step::Rules, Step::CreateRule};
    for (const Msi::CRuleWrite& write : writes) steps.push_back(write.property);
    steps.push_back(Step::AddRule);
    if (Outcome failed = Reach({Step::InitializeCom})) return failed;
    for (Step step : steps) {
      if (beforeStep) beforeStep(step);
      if (Outcome failed = Reach({step})) return failed;
    }
    rules.push_back(writes);
    return std::nullopt;
  }
  Outcome RuleNames(std::vector<std::wstring>& names) override {
    if (Outcome failed = Reach({Step::InitializeCom, Step::CreatePolicy, Step::Rules, Step::EnumerateRules}))
      return failed;
    names = Names();
    return std::nullopt;
  }
  Outcome RemoveRule(const std::wstring& name) override {
    if (Outcome failed = Reach({Step::InitializeCom, Step::CreatePolicy, Step::Rules, Step::RemoveRule})) return failed;
    EraseFirst(rules, [&](const Msi::CRuleWrites& r) { return RuleText(r, Step::RuleName) == name; });
    return std::nullopt;
  }

  Outcome FindOpenPort(long port, long protocol, std::optional<Msi::COpenPort>& found) override {
    const auto entry = std::find_if(openPorts.begin(), openPorts.end(), SamePort(port, protocol));
    if (Outcome failed = Profile(Step::GloballyOpenPorts, entry != openPorts.end() ? Step::PortEnabled : Step{}))
      return failed;
    if (entry != openPorts.end()) found = *entry;
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
            Reach({Step::CreateOpenPort, Step::PutPort, Step::PutProtocol, Step::PutName, Step::AddOpenPort}))
      return failed;
    openPorts.push_back(port);
    return std::nullopt;
  }
  Outcome RemoveOpenPort(long port, long protocol) override {
    if (Outcome failed = Profile(Step::GloballyOpenPorts, Step::RemoveOpenPort)) return failed;
    EraseFirst(openPorts, SamePort(port, protocol));
    return std::nullopt;
  }

  Outcome FindApplication(const std::wstring& path, std::optional<bool>& enabled) override {
    const bool listed =
        std::any_of(applications.begin(), applications.end(), [&](const CApplication& a) { return a.path == path; });
    if (Outcome failed = Profile(Step::AuthorizedApplications, listed ? Step::ApplicationItem : Step{})) return failed;
    if (listed) enabled = true;
    return std::nullopt;
  }
  Outcome AddApplication(const std::wstring& path, const std::wstring& name) override {
    if (Outcome failed = Profile(Step::AuthorizedApplications)) return failed;
    if (Outcome failed =
            Reach({Step::CreateApplication, Step::PutImageFileName, Step::PutApplicationName, Step::AddApplication}))
      return failed;
    applications.push_back({path, name});
    return std::nullopt;
  }
  Outcome RemoveApplication(const std::wstring& path) override {
    if (Outcome failed = Profile(Step::AuthorizedApplications, Step::RemoveApplication)) return failed;
    EraseFirst(applications, [&](const CApplication& a) { return a.path == path; });
    return std::nullopt;
  }

  std::vector<Msi::CRuleWrites> rules;  // in the rules collection's order
  std::vector<Msi::COpenPort> openPorts;
  std::vector<CApplication> applications;
  Msi::CWindowsVersion version{6, 1, true};  // Windows 7
  std::map<Step, HRESULT> failures;          // every call that reaches one of these steps fails there
  Msi::COpenPortState openPortState;         // the answer to every open-port query
  std::vector<uint32_t> queriedPorts;

 private:
  static Msi::CRuleWrite Write(const Msi::CRuleWrites& rule, Step property) {
    for (const Msi::CRuleWrite& write : rule)
      if (write.property == property) return write;
    return {property, {}, -1};
  }
  static std::function<bool(const Msi::COpenPort&)> SamePort(long port, long protocol) {
    return [=](const Msi::COpenPort& p) { return p.port == port && p.protocol == protocol; };
  }
  template <class Item, class Match>
  static void EraseFirst(std::vector<Item>& items, Match match) {
    const auto found = std::find_if(items.begin(), items.end(), match);
    if (found != items.end()) items.erase(found);
  }
  Outcome Reach(std::initializer_list<Step> steps) const {
    for (Step step : steps)
      if (const auto failure = failures.find(step); failure != failures.end())
        return Msi::CFirewallFailure{step, failure->second};
    return std::nullopt;
  }
  // COM, the manager, its policy, the current profile and the profile's collection, then an action
  // (the first step, InitializeCom, stands for none).
  Outcome Profile(Step collection, Step action = Step{}) const {
    return Reach({Step::InitializeCom, Step::CreateManager, Step::LocalPolicy, Step::CurrentProfile, collection,
                  action == Step{} ? Step::InitializeCom : action});
  }
};

}  // namespace TestSupport
