// The Windows Firewall as the actions see it. Wine has no working firewall (its objects answer
// fixed values), so every query goes through CFirewall, which tests replace by an in-memory fake
// with CFirewallOverride.
#pragma once
#include <cstdint>
#include <optional>
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
};

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

class CFirewall {
 public:
  virtual ~CFirewall() = default;
  // Asks the firewall manager (NetFwMgr) for its local policy's current profile, then whether the
  // firewall is on and, when it is, for the profile's globally open TCP entry of `port`. COM is
  // initialised on the calling thread (apartment model) for the call and uninitialised after it;
  // a thread already in another COM mode is used as it is. Never raises.
  virtual COpenPortState QueryGloballyOpenPort(uint32_t port);
};

// The firewall in use: the real one unless a CFirewallOverride is alive.
CFirewall& Firewall();

class CFirewallOverride {
 public:
  explicit CFirewallOverride(CFirewall& replacement);
  ~CFirewallOverride();
  CFirewallOverride(const CFirewallOverride&) = delete;
  CFirewallOverride& operator=(const CFirewallOverride&) = delete;

 private:
  CFirewall* m_previous;
};

}  // namespace Msi
