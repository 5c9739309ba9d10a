// The real firewall: the COM objects of the rules interface and of the older firewall manager.
#include "Firewall.h"

#include <netfw.h>
#include <objbase.h>

#include <oleauto.h>

#include <utility>

#include "TextLimits.h"

namespace Msi {

namespace {

// Owns one COM interface reference.
template <class Interface>
class CComReference {
 public:
  CComReference() = default;
  ~CComReference() {
    if (m_pointer) m_pointer->Release();
  }
  CComReference(const CComReference&) = delete;
  CComReference& operator=(const CComReference&) = delete;
  Interface* operator->() const noexcept { return m_pointer; }
  Interface* Get() const noexcept { return m_pointer; }
  void Reset() noexcept {
    if (m_pointer) m_pointer->Release();
    m_pointer = nullptr;
  }
  Interface** Put() noexcept { return &m_pointer; }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(&m_pointer); }

 private:
  Interface* m_pointer = nullptr;
};

// COM on this thread for the duration of one query.
class CComApartment {
 public:
  CComApartment() : m_result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~CComApartment() {
    if (SUCCEEDED(m_result)) ::CoUninitialize();
  }
  CComApartment(const CComApartment&) = delete;
  CComApartment& operator=(const CComApartment&) = delete;
  // A thread already initialised in another mode still has COM.
  bool Usable() const noexcept { return SUCCEEDED(m_result) || m_result == RPC_E_CHANGED_MODE; }
  HRESULT Result() const noexcept { return m_result; }

 private:
  HRESULT m_result;
};

// Owns one COM string.
class CComString {
 public:
  explicit CComString(const std::wstring& text)
      : m_text(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  CComString() = default;
  ~CComString() { ::SysFreeString(m_text); }
  CComString(const CComString&) = delete;
  CComString& operator=(const CComString&) = delete;
  BSTR Get() const noexcept { return m_text; }
  BSTR* Put() noexcept { return &m_text; }
  std::wstring Text() const { return m_text ? std::wstring(m_text, ::SysStringLen(m_text)) : std::wstring(); }

 private:
  BSTR m_text = nullptr;
};

// Owns one VARIANT.
class CComVariant {
 public:
  CComVariant() { ::VariantInit(&m_value); }
  ~CComVariant() { ::VariantClear(&m_value); }
  CComVariant(const CComVariant&) = delete;
  CComVariant& operator=(const CComVariant&) = delete;
  VARIANT* Put() noexcept {
    ::VariantClear(&m_value);
    return &m_value;
  }
  const VARIANT& Value() const noexcept { return m_value; }

 private:
  VARIANT m_value;
};

// The outcome of a step: a failure when `result` failed.
CFirewallOutcome StepFailed(FirewallStep step, HRESULT result) {
  if (SUCCEEDED(result)) return std::nullopt;
  return CFirewallFailure{step, result};
}

// A COM string of `text`; a failed allocation is the step's out-of-memory failure.
CFirewallOutcome MakeString(FirewallStep step, const std::wstring& text, CComString& string) {
  CComString made(text);
  if (!made.Get()) return CFirewallFailure{step, E_OUTOFMEMORY};
  std::swap(*string.Put(), *made.Put());
  return std::nullopt;
}

CFirewallOutcome StartCom(const CComApartment& apartment) {
  if (apartment.Usable()) return std::nullopt;
  return CFirewallFailure{FirewallStep::InitializeCom, apartment.Result()};
}

template <class Interface>
HRESULT CreateInProcess(const CLSID& classId, CComReference<Interface>& object) {
  return ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, __uuidof(Interface), object.PutVoid());
}

// The older manager's current profile.
CFirewallOutcome OpenCurrentProfile(CComReference<INetFwProfile>& profile) {
  CComReference<INetFwMgr> manager;
  if (auto failed = StepFailed(FirewallStep::CreateManager, CreateInProcess(__uuidof(NetFwMgr), manager)))
    return failed;
  CComReference<INetFwPolicy> policy;
  if (auto failed = StepFailed(FirewallStep::LocalPolicy, manager->get_LocalPolicy(policy.Put()))) return failed;
  return StepFailed(FirewallStep::CurrentProfile, policy->get_CurrentProfile(profile.Put()));
}

CFirewallOutcome OpenGloballyOpenPorts(CComReference<INetFwOpenPorts>& ports) {
  CComReference<INetFwProfile> profile;
  if (auto failed = OpenCurrentProfile(profile)) return failed;
  return StepFailed(FirewallStep::GloballyOpenPorts, profile->get_GloballyOpenPorts(ports.Put()));
}

CFirewallOutcome OpenAuthorizedApplications(CComReference<INetFwAuthorizedApplications>& applications) {
  CComReference<INetFwProfile> profile;
  if (auto failed = OpenCurrentProfile(profile)) return failed;
  return StepFailed(FirewallStep::AuthorizedApplications, profile->get_AuthorizedApplications(applications.Put()));
}

CFirewallOutcome OpenRules(CComReference<INetFwRules>& rules, const CFirewallStepObserver& beforeStep = {}) {
  if (beforeStep) beforeStep(FirewallStep::CreatePolicy);
  CComReference<INetFwPolicy2> policy;
  if (auto failed = StepFailed(FirewallStep::CreatePolicy, CreateInProcess(__uuidof(NetFwPolicy2), policy)))
    return failed;
  if (beforeStep) beforeStep(FirewallStep::Rules);
  return StepFailed(FirewallStep::Rules, policy->get_Rules(rules.Put()));
}

// Calls `visit` with each element of a collection's enumerator that answers `Interface`.
template <class Interface, class Visit>
CFirewallOutcome ForEachElement(FirewallStep step, IUnknown* enumeratorSource, Visit visit) {
  CComReference<IEnumVARIANT> enumerator;
  if (auto failed = StepFailed(step, enumeratorSource->QueryInterface(IID_IEnumVARIANT, enumerator.PutVoid())))
    return failed;
  CComVariant element;
  ULONG fetched = 0;
  while (enumerator->Next(1, element.Put(), &fetched) == S_OK && fetched == 1) {
    if (element.Value().vt != VT_DISPATCH || !element.Value().pdispVal) continue;
    CComReference<Interface> item;
    if (FAILED(element.Value().pdispVal->QueryInterface(__uuidof(Interface), item.PutVoid()))) continue;
    if (auto failed = visit(*item.Get())) return failed;
  }
  return std::nullopt;
}

// Writes one property to a new rule.
HRESULT WriteRuleProperty(INetFwRule& rule, const CRuleWrite& write, const CComString& text) {
  switch (write.property) {
    case FirewallStep::RuleName:
      return rule.put_Name(text.Get());
    case FirewallStep::RuleDescription:
      return rule.put_Description(text.Get());
    case FirewallStep::RuleApplicationName:
      return rule.put_ApplicationName(text.Get());
    case FirewallStep::RuleProtocol:
      return rule.put_Protocol(write.number);
    case FirewallStep::RuleLocalPorts:
      return rule.put_LocalPorts(text.Get());
    case FirewallStep::RuleInterfaceTypes:
      return rule.put_InterfaceTypes(text.Get());
    case FirewallStep::RuleDirection:
      return rule.put_Direction(static_cast<NET_FW_RULE_DIRECTION>(write.number));
    case FirewallStep::RuleEnabled:
      return rule.put_Enabled(write.number ? VARIANT_TRUE : VARIANT_FALSE);
    case FirewallStep::RuleProfiles:
      return rule.put_Profiles(write.number);
    case FirewallStep::RuleAction:
      return rule.put_Action(static_cast<NET_FW_ACTION>(write.number));
    default:
      return E_INVALIDARG;
  }
}

// Records a failed step; true when `result` failed.
bool Failed(COpenPortState& state, FirewallStep step, HRESULT result) {
  if (SUCCEEDED(result)) return false;
  state.failedStep = step;
  state.failure = result;
  return true;
}

}  // namespace

COpenPortState CFirewall::QueryGloballyOpenPort(uint32_t port) {
  COpenPortState state;
  CComApartment apartment;
  if (!apartment.Usable()) {
    Failed(state, FirewallStep::InitializeCom, apartment.Result());
    return state;
  }
  CComReference<INetFwMgr> manager;
  if (Failed(state, FirewallStep::CreateManager,
             ::CoCreateInstance(__uuidof(NetFwMgr), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwMgr),
                                manager.PutVoid())))
    return state;
  CComReference<INetFwPolicy> policy;
  if (Failed(state, FirewallStep::LocalPolicy, manager->get_LocalPolicy(policy.Put()))) return state;
  CComReference<INetFwProfile> profile;
  if (Failed(state, FirewallStep::CurrentProfile, policy->get_CurrentProfile(profile.Put()))) return state;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  if (Failed(state, FirewallStep::FirewallEnabled, profile->get_FirewallEnabled(&enabled))) return state;
  state.firewallEnabled = enabled != VARIANT_FALSE;
  if (!state.firewallEnabled) return state;
  CComReference<INetFwOpenPorts> openPorts;
  if (Failed(state, FirewallStep::GloballyOpenPorts, profile->get_GloballyOpenPorts(openPorts.Put()))) return state;
  CComReference<INetFwOpenPort> entry;
  // The collection answers a port it does not hold with a failure: that is "no entry".
  if (FAILED(openPorts->Item(static_cast<LONG>(port), NET_FW_IP_PROTOCOL_TCP, entry.Put()))) return state;
  state.portListed = true;
  VARIANT_BOOL portEnabled = VARIANT_FALSE;
  if (Failed(state, FirewallStep::PortEnabled, entry->get_Enabled(&portEnabled))) return state;
  state.portEnabled = portEnabled != VARIANT_FALSE;
  return state;
}

CWindowsVersion CFirewall::SystemVersion() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return {};
  return {info.dwMajorVersion, info.dwMinorVersion, info.wProductType == VER_NT_WORKSTATION};
}

CFirewallOutcome CFirewall::AddRule(const CRuleWrites& writes, const CFirewallStepObserver& beforeStep) {
  for (const CRuleWrite& write : writes)
    if (write.property == FirewallStep::RuleApplicationName) Vrn::CheckLength(write.text, Vrn::kFirewallProgramLimit);
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwRules> rules;
  if (auto failed = OpenRules(rules, beforeStep)) return failed;
  if (beforeStep) beforeStep(FirewallStep::CreateRule);
  CComReference<INetFwRule> rule;
  if (auto failed = StepFailed(FirewallStep::CreateRule, CreateInProcess(__uuidof(NetFwRule), rule))) return failed;
  for (const CRuleWrite& write : writes) {
    if (beforeStep) beforeStep(write.property);
    CComString text;
    if (auto failed = MakeString(write.property, write.text, text)) return failed;
    if (auto failed = StepFailed(write.property, WriteRuleProperty(*rule.Get(), write, text))) return failed;
  }
  if (beforeStep) beforeStep(FirewallStep::AddRule);
  return StepFailed(FirewallStep::AddRule, rules->Add(rule.Get()));
}

CFirewallOutcome CFirewall::RuleNames(std::vector<std::wstring>& names) {
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwRules> rules;
  if (auto failed = OpenRules(rules)) return failed;
  long count = 0;
  if (auto failed = StepFailed(FirewallStep::EnumerateRules, rules->get_Count(&count))) return failed;
  if (count == 0) return std::nullopt;
  CComReference<IUnknown> source;
  if (auto failed = StepFailed(FirewallStep::EnumerateRules, rules->get__NewEnum(source.Put()))) return failed;
  return ForEachElement<INetFwRule>(FirewallStep::EnumerateRules, source.Get(), [&](INetFwRule& rule) {
    CComString name;
    if (auto failed = StepFailed(FirewallStep::EnumerateRules, rule.get_Name(name.Put()))) return failed;
    names.push_back(name.Text());
    return CFirewallOutcome{};
  });
}

CFirewallOutcome CFirewall::RemoveRule(const std::wstring& name) {
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwRules> rules;
  if (auto failed = OpenRules(rules)) return failed;
  CComString text;
  if (auto failed = MakeString(FirewallStep::RemoveRule, name, text)) return failed;
  return StepFailed(FirewallStep::RemoveRule, rules->Remove(text.Get()));
}

CFirewallOutcome CFirewall::FindOpenPort(long port, long protocol, std::optional<COpenPort>& found) {
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwOpenPorts> ports;
  if (auto failed = OpenGloballyOpenPorts(ports)) return failed;
  CComReference<INetFwOpenPort> entry;
  // The collection answers a port it does not hold with a failure: that is "no entry".
  if (FAILED(ports->Item(port, static_cast<NET_FW_IP_PROTOCOL>(protocol), entry.Put()))) return std::nullopt;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  if (auto failed = StepFailed(FirewallStep::PortEnabled, entry->get_Enabled(&enabled))) return failed;
  found = COpenPort{port, protocol, {}, enabled != VARIANT_FALSE};
  return std::nullopt;
}

CFirewallOutcome CFirewall::OpenPorts(std::vector<COpenPort>& found) {
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwOpenPorts> ports;
  if (auto failed = OpenGloballyOpenPorts(ports)) return failed;
  CComReference<IUnknown> source;
  if (auto failed = StepFailed(FirewallStep::EnumerateOpenPorts, ports->get__NewEnum(source.Put()))) return failed;
  return ForEachElement<INetFwOpenPort>(FirewallStep::EnumerateOpenPorts, source.Get(), [&](INetFwOpenPort& entry) {
    COpenPort port;
    CComString name;
    NET_FW_IP_PROTOCOL protocol = NET_FW_IP_PROTOCOL_TCP;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (auto failed = StepFailed(FirewallStep::EnumerateOpenPorts, entry.get_Port(&port.port))) return failed;
    if (auto failed = StepFailed(FirewallStep::EnumerateOpenPorts, entry.get_Protocol(&protocol))) return failed;
    if (auto failed = StepFailed(FirewallStep::EnumerateOpenPorts, entry.get_Name(name.Put()))) return failed;
    if (auto failed = StepFailed(FirewallStep::EnumerateOpenPorts, entry.get_Enabled(&enabled))) return failed;
    port.protocol = protocol;
    port.name = name.Text();
    port.enabled = enabled != VARIANT_FALSE;
    found.push_back(std::move(port));
    return CFirewallOutcome{};
  });
}

CFirewallOutcome CFirewall::AddOpenPort(const COpenPort& port) {
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwOpenPorts> ports;
  if (auto failed = OpenGloballyOpenPorts(ports)) return failed;
  CComReference<INetFwOpenPort> entry;
  if (auto failed = StepFailed(FirewallStep::CreateOpenPort, CreateInProcess(__uuidof(NetFwOpenPort), entry)))
    return failed;
  if (auto failed = StepFailed(FirewallStep::PutPort, entry->put_Port(port.port))) return failed;
  if (auto failed =
          StepFailed(FirewallStep::PutProtocol, entry->put_Protocol(static_cast<NET_FW_IP_PROTOCOL>(port.protocol))))
    return failed;
  CComString name;
  if (auto failed = MakeString(FirewallStep::PutName, port.name, name)) return failed;
  if (auto failed = StepFailed(FirewallStep::PutName, entry->put_Name(name.Get()))) return failed;
  return StepFailed(FirewallStep::AddOpenPort, ports->Add(entry.Get()));
}

CFirewallOutcome CFirewall::RemoveOpenPort(long port, long protocol) {
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwOpenPorts> ports;
  if (auto failed = OpenGloballyOpenPorts(ports)) return failed;
  return StepFailed(FirewallStep::RemoveOpenPort, ports->Remove(port, static_cast<NET_FW_IP_PROTOCOL>(protocol)));
}

CFirewallOutcome CFirewall::FindApplication(const std::wstring& path, std::optional<bool>& enabled) {
  Vrn::CheckLength(path, Vrn::kFirewallProgramLimit);
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwAuthorizedApplications> applications;
  if (auto failed = OpenAuthorizedApplications(applications)) return failed;
  CComString image;
  if (auto failed = MakeString(FirewallStep::ApplicationItem, path, image)) return failed;
  CComReference<INetFwAuthorizedApplication> application;
  // As with open ports, a program the collection does not hold is a failed Item.
  if (FAILED(applications->Item(image.Get(), application.Put()))) return std::nullopt;
  VARIANT_BOOL state = VARIANT_FALSE;
  if (auto failed = StepFailed(FirewallStep::ApplicationItem, application->get_Enabled(&state))) return failed;
  enabled = state != VARIANT_FALSE;
  return std::nullopt;
}

CFirewallOutcome CFirewall::AddApplication(const std::wstring& path, const std::wstring& name) {
  Vrn::CheckLength(path, Vrn::kFirewallProgramLimit);
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwAuthorizedApplications> applications;
  if (auto failed = OpenAuthorizedApplications(applications)) return failed;
  CComReference<INetFwAuthorizedApplication> application;
  if (auto failed = StepFailed(FirewallStep::CreateApplication,
                               CreateInProcess(__uuidof(NetFwAuthorizedApplication), application)))
    return failed;
  CComString image;
  if (auto failed = MakeString(FirewallStep::PutImageFileName, path, image)) return failed;
  if (auto failed = StepFailed(FirewallStep::PutImageFileName, application->put_ProcessImageFileName(image.Get())))
    return failed;
  CComString text;
  if (auto failed = MakeString(FirewallStep::PutApplicationName, name, text)) return failed;
  if (auto failed = StepFailed(FirewallStep::PutApplicationName, application->put_Name(text.Get()))) return failed;
  return StepFailed(FirewallStep::AddApplication, applications->Add(application.Get()));
}

CFirewallOutcome CFirewall::RemoveApplication(const std::wstring& path) {
  Vrn::CheckLength(path, Vrn::kFirewallProgramLimit);
  CComApartment apartment;
  if (auto failed = StartCom(apartment)) return failed;
  CComReference<INetFwAuthorizedApplications> applications;
  if (auto failed = OpenAuthorizedApplications(applications)) return failed;
  CComString image;
  if (auto failed = MakeString(FirewallStep::RemoveApplication, path, image)) return failed;
  return StepFailed(FirewallStep::RemoveApplication, applications->Remove(image.Get()));
}

}  // namespace Msi
