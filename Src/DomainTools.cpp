// Domain checks (membership of the computer and of an account, domain credentials, domain
// administrators) and the distributed-transaction service's account and state.
#include "AccountServices.h"
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DirectoryServices.h"
#include "Errors.h"
#include "InstallHelper.h"
#include "MessageHandlers.h"
#include "MsiHelper.h"

namespace {

using Msi::CUnicodeString;

using Msi::LogActionName;

constexpr int kDistinguishedName = 1;  // EXTENDED_NAME_FORMAT NameFullyQualifiedDN

UINT CheckComputerInDomainBody(MSIHANDLE session) {
  LogActionName(L"CheckComputerInDomain");
  const Accounts::CComApartment apartment;
  const bool inDomain = Accounts::JoinState().JoinedDomain().has_value() &&
                        !Accounts::Directory().CurrentUserName(kDistinguishedName).IsEmpty();
  Msi::CustomActionLog() << L"Checking..." << (inDomain ? L"1" : L"0") << L"\r\n\r\n";
  Msi::SetProperty(session, L"IS_COMPUTER_IN_DOMAIN", inDomain ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

void ShowUserMessage(MSIHANDLE session, const wchar_t* messageProperty, const CUnicodeString& login, UINT style) {
  Msi::ShowPropertyMessageWithParams(Msi::CMessageContext(session), true, messageProperty, {login}, style);
}

// IS_USER_IN_DOMAIN for LOGIN; tells the user when the directory does not know the account.
void CheckUserInDomain(MSIHANDLE session, bool tellUser) {
  const CUnicodeString login = Msi::GetProperty(session, L"LOGIN");
  const Accounts::CComApartment apartment;
  const bool inDomain = Accounts::IsUserInDomain(login);
  Msi::SetProperty(session, L"IS_USER_IN_DOMAIN", inDomain ? L"Yes" : L"");
  if (!inDomain && tellUser) ShowUserMessage(session, L"MT_UserNotIsDomain", login, MB_ICONWARNING);
}

UINT CheckUserInDomainBody(MSIHANDLE session) {
  LogActionName(L"CheckUserInDomain");
  CheckUserInDomain(session, true);
  return ERROR_SUCCESS;
}

UINT CheckUserInDomainSilentBody(MSIHANDLE session) {
  LogActionName(L"CheckUserInDomainSilent");
  CheckUserInDomain(session, false);
  return ERROR_SUCCESS;
}

UINT CheckUserInDomainAndAdminBody(MSIHANDLE session) {
  LogActionName(L"CheckUserInDomainAndAdmin");
  const CUnicodeString login = Msi::GetProperty(session, L"LOGIN");
  const Accounts::CComApartment apartment;
  bool admin = false;
  if (!Accounts::IsUserInDomain(login))
    ShowUserMessage(session, L"MT_UserNotIsDomain", login, MB_ICONWARNING);
  else if (!Accounts::IsUserLocalAdmin(login))
    ShowUserMessage(session, L"MT_UserNotIsAdmin", login, MB_ICONWARNING);
  else
    admin = true;
  Msi::SetProperty(session, L"IS_USER_ADMIN", admin ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

UINT CheckIsUserDomainBody(MSIHANDLE session) {
  LogActionName(L"CheckIsUserDomain");
  const CUnicodeString login = Msi::GetProperty(session, L"LOGIN");
  const CUnicodeString password = Msi::GetPropertySilent(session, L"PASSWORD");
  const std::optional<CUnicodeString> domain = Accounts::JoinState().JoinedDomain();
  bool valid = false;
  if (domain) {
    const Accounts::CComApartment apartment;
    valid = Accounts::Directory().BindsWithCredentials(CUnicodeString(L"LDAP://") + *domain, login, password);
  }
  Msi::SetProperty(session, L"IS_USER_DOMAIN", valid ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

constexpr wchar_t kTransactionService[] = L"MSDTC";

// Logs the line of a failed service step; true when a step failed.
bool LogServiceFailure(Accounts::ServiceStep step) {
  static constexpr const wchar_t* kLines[] = {nullptr,
                                              L"OpenSCManager failed",
                                              L"OpenService failed",
                                              L"QueryServiceConfig failed - 1",
                                              L"QueryServiceConfig failed - 2",
                                              L"QueryServiceStatus failed"};
  const wchar_t* line = kLines[static_cast<int>(step)];
  if (line) Msi::CustomActionLog() << line << L"\r\n\r\n";
  return line != nullptr;
}

// The transaction service must run as the network service; the interface form tells the user.
UINT QueryTransactionServiceUser(MSIHANDLE session, bool tellUser) {
  LogActionName(L"QueryMSDTSServiceUser");
  const Accounts::CServiceAccount config = Accounts::ServiceControl().QueryStartAccount(kTransactionService);
  if (LogServiceFailure(config.failed)) return ERROR_INSTALL_FAILURE;
  Msi::CustomActionLog() << L"MSDTC account: " << config.startAccount << L"\r\n\r\n";
  if (config.startAccount.EqualsNoCase(L"NT AUTHORITY\\NetworkService")) return ERROR_SUCCESS;
  if (tellUser)
    Vrn::ShowMessageText(Msi::GetProperty(session, L"MT_IncorrectMSDTCAccount"), Vrn::ApplicationTitle(), 0);
  Vrn::Raise<Vrn::CUserException>();
}

UINT QueryMsdtcServiceUserInUiBody(MSIHANDLE session) { return QueryTransactionServiceUser(session, true); }
UINT QueryMsdtcServiceUserInExecuteBody(MSIHANDLE session) { return QueryTransactionServiceUser(session, false); }

UINT MsdtcServiceStatusBody(MSIHANDLE session) {
  LogActionName(L"QueryMSDTSServiceStatus");
  Accounts::CServiceControl& services = Accounts::ServiceControl();
  const Accounts::CServiceState status = services.QueryState(kTransactionService);
  if (LogServiceFailure(status.failed)) return ERROR_INSTALL_FAILURE;
  Msi::CustomActionLog() << L"MSDTC status: " << static_cast<uint32_t>(status.state) << L"\r\n\r\n";
  if (status.state == SERVICE_START_PENDING || status.state == SERVICE_RUNNING ||
      status.state == SERVICE_CONTINUE_PENDING)
    return ERROR_SUCCESS;
  const bool started = services.Start(kTransactionService);
  if (!started) Msi::CustomActionLog() << L"StartService failed\r\n\r\n";
  Msi::SetProperty(session, L"IS_MSDTCSERVICESTOPPED", started ? L"FALSE" : L"TRUE");
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(CheckComputerInDomain, CheckComputerInDomainBody)
ORV_ACTION(CheckUserInDomain, CheckUserInDomainBody, .reads = L"LOGIN", .shows = L"MT_UserNotIsDomain")
ORV_ACTION(CheckUserInDomainSilent, CheckUserInDomainSilentBody, .reads = L"LOGIN")
ORV_ACTION(CheckUserInDomainAndAdmin, CheckUserInDomainAndAdminBody, .reads = L"LOGIN",
           .shows = L"MT_UserNotIsDomain MT_UserNotIsAdmin")
ORV_ACTION(CheckIsUserDomain, CheckIsUserDomainBody, .reads = L"LOGIN PASSWORD")
ORV_ACTION(QueryMSDTCServiceUserInUI, QueryMsdtcServiceUserInUiBody, .shows = L"MT_IncorrectMSDTCAccount")
ORV_ACTION(QueryMSDTCServiceUserInExecute, QueryMsdtcServiceUserInExecuteBody)
ORV_ACTION(MSDTCServiceStatus, MsdtcServiceStatusBody)
