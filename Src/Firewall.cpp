// The real firewall: the older firewall manager's COM objects.
#include "Firewall.h"

#include <netfw.h>
#include <objbase.h>

#include <utility>

namespace Msi {

namespace {

CFirewall g_realFirewall;
CFirewall* g_firewall = &g_realFirewall;

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

CFirewall& Firewall() { return *g_firewall; }

CFirewallOverride::CFirewallOverride(CFirewall& replacement) : m_previous(std::exchange(g_firewall, &replacement)) {}
CFirewallOverride::~CFirewallOverride() { g_firewall = m_previous; }

}  // namespace Msi
