// The account services the logon and rights checks go through: logging on as a service, the
// right to log on as a service, the computer's domain membership, the process's administrator
// status and the service manager. Each is a small interface with one real implementation; tests
// replace one for a scope with CServiceOverride.
#pragma once
#include <optional>
#include "Seam.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Accounts {

using Vrn::CUnicodeString;

// The replacement when a test installed one (CServiceOverride), else the real implementation.
template <class Service>
Service& ActiveService() noexcept {
  return Vrn::CSeam<Service>::Current();
}
template <class Service>
using CServiceOverride = typename Vrn::CSeam<Service>::COverride;

// Logs an account on as a service (LogonUserW, service logon type, default provider) and closes
// the token at once.
class CLogonService {
 public:
  virtual ~CLogonService() = default;
  // A refused logon (unknown account, wrong password, missing right) raises the system error.
  virtual void LogonAsService(const CUnicodeString& user, const CUnicodeString& domain, const CUnicodeString& password);
};
CLogonService& LogonService();

// The local security authority's "SeServiceLogonRight".
class CAccountRights {
 public:
  virtual ~CAccountRights() = default;
  // True when the account is among those holding the right; a failed enumeration counts as none.
  // Opening the policy may raise the system error.
  virtual bool HoldsServiceLogonRight(PSID account);
  // Grants the right; a failure raises the system error.
  virtual void AddServiceLogonRight(PSID account);
};
CAccountRights& AccountRights();

// Whether this computer is joined to a domain.
class CJoinState {
 public:
  virtual ~CJoinState() = default;
  // The domain's name when joined to a domain (NetGetJoinInformation status 3); otherwise nothing.
  virtual std::optional<CUnicodeString> JoinedDomain();
};
CJoinState& JoinState();

// The administrator status of this process.
class CElevation {
 public:
  virtual ~CElevation() = default;
  // IsUserAnAdmin.
  virtual bool UserIsAdministrator();
  // The process token's elevation type (1 default, 2 full, 3 limited); nothing when unreadable.
  virtual std::optional<DWORD> TokenElevationType();
};
CElevation& Elevation();

// The step of a service query that failed (each has its own log line).
enum class ServiceStep { Done, ManagerOpen, ServiceOpen, ConfigSize, ConfigData, Status };

struct CServiceAccount {
  ServiceStep failed = ServiceStep::Done;
  CUnicodeString startAccount;
};

struct CServiceState {
  ServiceStep failed = ServiceStep::Done;
  DWORD state = 0;
};

// The service control manager, for one named service.
class CServiceControl {
 public:
  virtual ~CServiceControl() = default;
  // The account the service starts under (QueryServiceConfigW, asked for the size first).
  virtual CServiceAccount QueryStartAccount(const CUnicodeString& service);
  // The current state (QueryServiceStatus).
  virtual CServiceState QueryState(const CUnicodeString& service);
  // StartServiceW; true when the service manager accepted the start.
  virtual bool Start(const CUnicodeString& service);
};
CServiceControl& ServiceControl();

}  // namespace Accounts
