// The real account services: LogonUserW, the LSA policy, NetGetJoinInformation, IsUserAnAdmin and
// the process token, and the service control manager.
#include "AccountServices.h"

#include <lm.h>
#include <ntsecapi.h>
#include <shlobj.h>
#include <memory>
#include "Errors.h"
#include "Handle.h"
#include "TextLimits.h"

namespace Accounts {

namespace {

[[noreturn]] void RaiseSystemError(DWORD code) {
  if (code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY) Vrn::Raise<Vrn::CMemoryException>();
  Vrn::Raise<Vrn::CLastErrorException>(code);
}

void CheckNtStatus(NTSTATUS status) {
  if (status != 0) RaiseSystemError(LsaNtStatusToWinError(status));
}

struct CLsaHandleTraits {
  using Type = LSA_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { LsaClose(h); }
};
struct CServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::CloseServiceHandle(h); }
};
using CServiceHandle = Vrn::CUniqueHandle<CServiceHandleTraits>;

// LSA_UNICODE_STRING over a text that outlives it.
LSA_UNICODE_STRING LsaText(const wchar_t* text) {
  const USHORT bytes = static_cast<USHORT>(wcslen(text) * sizeof(wchar_t));
  return LSA_UNICODE_STRING{bytes, bytes, const_cast<wchar_t*>(text)};
}

constexpr wchar_t kServiceLogonRight[] = L"SeServiceLogonRight";

// The local policy with view-local-information, create-account and look-up-names access (0x811).
Vrn::CUniqueHandle<CLsaHandleTraits> OpenLocalPolicy() {
  LSA_OBJECT_ATTRIBUTES attributes{};
  Vrn::CUniqueHandle<CLsaHandleTraits> policy;
  CheckNtStatus(LsaOpenPolicy(
      nullptr, &attributes, POLICY_VIEW_LOCAL_INFORMATION | POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, policy.Put()));
  return policy;
}

}  // namespace

CLogonService& LogonService() { return ActiveService<CLogonService>(); }
CAccountRights& AccountRights() { return ActiveService<CAccountRights>(); }
CJoinState& JoinState() { return ActiveService<CJoinState>(); }
CElevation& Elevation() { return ActiveService<CElevation>(); }
CServiceControl& ServiceControl() { return ActiveService<CServiceControl>(); }

void CLogonService::LogonAsService(const CUnicodeString& user, const CUnicodeString& domain,
                                   const CUnicodeString& password) {
  Vrn::CheckLength(user, Vrn::kAccountNameLimit);
  Vrn::CheckLength(domain, Vrn::kDomainNameLimit);
  Vrn::CheckLength(password, Vrn::kPasswordLimit);
  Vrn::CKernelHandle token;
  if (!::LogonUserW(user.c_str(), domain.c_str(), password.c_str(), LOGON32_LOGON_SERVICE, LOGON32_PROVIDER_DEFAULT,
                    token.Put()))
    RaiseSystemError(::GetLastError());
}

bool CAccountRights::HoldsServiceLogonRight(PSID account) {
  const auto policy = OpenLocalPolicy();
  LSA_UNICODE_STRING right = LsaText(kServiceLogonRight);
  void* buffer = nullptr;
  ULONG count = 0;
  if (LsaEnumerateAccountsWithUserRight(policy.Get(), &right, &buffer, &count) != 0) return false;
  const std::unique_ptr<void, decltype(&LsaFreeMemory)> owned(buffer, &LsaFreeMemory);
  const auto* accounts = static_cast<const LSA_ENUMERATION_INFORMATION*>(buffer);
  for (ULONG index = 0; index < count; ++index)
    if (::EqualSid(accounts[index].Sid, account)) return true;
  return false;
}

void CAccountRights::AddServiceLogonRight(PSID account) {
  const auto policy = OpenLocalPolicy();
  LSA_UNICODE_STRING right = LsaText(kServiceLogonRight);
  CheckNtStatus(LsaAddAccountRights(policy.Get(), account, &right, 1));
}

std::optional<CUnicodeString> CJoinState::JoinedDomain() {
  wchar_t* name = nullptr;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  if (NetGetJoinInformation(nullptr, &name, &status) != NERR_Success) return std::nullopt;
  const CUnicodeString domain(name);
  NetApiBufferFree(name);
  if (status != NetSetupDomainName) return std::nullopt;
  return domain;
}

bool CElevation::UserIsAdministrator() { return ::IsUserAnAdmin() != FALSE; }

std::optional<DWORD> CElevation::TokenElevationType() {
  Vrn::CKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) return std::nullopt;
  TOKEN_ELEVATION_TYPE type{};
  DWORD size = 0;
  if (!::GetTokenInformation(token.Get(), ::TokenElevationType, &type, sizeof type, &size)) return std::nullopt;
  return static_cast<DWORD>(type);
}

namespace {

// Opens the service manager and the service; `failed` names the step that failed.
CServiceHandle OpenNamedService(const CUnicodeString& service, DWORD access, ServiceStep& failed) {
  const CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
  if (!manager) {
    failed = ServiceStep::ManagerOpen;
    return {};
  }
  CServiceHandle handle(::OpenServiceW(manager.Get(), service.c_str(), access));
  if (!handle) failed = ServiceStep::ServiceOpen;
  return handle;
}

}  // namespace

CServiceAccount CServiceControl::QueryStartAccount(const CUnicodeString& service) {
  CServiceAccount result;
  const CServiceHandle handle = OpenNamedService(service, SERVICE_QUERY_CONFIG, result.failed);
  if (!handle) return result;
  DWORD needed = 0;
  if (::QueryServiceConfigW(handle.Get(), nullptr, 0, &needed) || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    result.failed = ServiceStep::ConfigSize;
    return result;
  }
  std::unique_ptr<BYTE[]> buffer(new BYTE[needed]);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.get());
  if (!::QueryServiceConfigW(handle.Get(), config, needed, &needed)) {
    result.failed = ServiceStep::ConfigData;
    return result;
  }
  result.startAccount = config->lpServiceStartName;
  return result;
}

CServiceState CServiceControl::QueryState(const CUnicodeString& service) {
  CServiceState result;
  const CServiceHandle handle = OpenNamedService(service, SERVICE_QUERY_STATUS | SERVICE_START, result.failed);
  if (!handle) return result;
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(handle.Get(), &status)) {
    result.failed = ServiceStep::Status;
    return result;
  }
  result.state = status.dwCurrentState;
  return result;
}

bool CServiceControl::Start(const CUnicodeString& service) {
  ServiceStep failed = ServiceStep::Done;
  const CServiceHandle handle = OpenNamedService(service, SERVICE_QUERY_STATUS | SERVICE_START, failed);
  return handle && ::StartServiceW(handle.Get(), 0, nullptr);
}

}  // namespace Accounts
