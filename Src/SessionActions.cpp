// The small actions over the session facade: a message box and a question from properties, the
// Cancel button, the progress bar, a feature's state and a directory's target path.
#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "InstallHelper.h"
#include "MsiHelper.h"

namespace {

using Msi::CUnicodeString;

// The property named by `nameProperty`, which must name one.
CUnicodeString RequiredName(MSIHANDLE session, const wchar_t* nameProperty) {
  CUnicodeString name = Msi::GetProperty(session, nameProperty);
  Vrn::Check(!name.IsEmpty());
  return name;
}

// A number given by the package, or the fallback when it gave none; a value that is not a number
// is logged as "<errorPrefix><value>" and also gives the fallback.
int OptionalNumber(const CUnicodeString& value, int fallback, const wchar_t* errorPrefix) {
  if (value.IsEmpty()) return fallback;
  if (const std::optional<int32_t> number = Vrn::StrictInteger<int32_t>(value)) return *number;
  Msi::CustomActionLog() << errorPrefix << value << L"\r\n\r\n";
  return fallback;
}

using Msi::LogActionName;

UINT MessageBody(MSIHANDLE session) {
  LogActionName(L"Message");
  const CUnicodeString text = Msi::GetProperty(session, RequiredName(session, L"MESSAGE_PROPERTY_NAME"));
  const int icon =
      OptionalNumber(Msi::GetProperty(session, L"MESSAGE_ICON"), MB_ICONERROR, L"Message: Error MESSAGE_ICON ");
  const CUnicodeString caption = Msi::GetProperty(session, L"ProductName");
  Msi::ShowOwnedMessageBox(session, text, caption, static_cast<UINT>(icon));
  return ERROR_SUCCESS;
}

UINT RequestBody(MSIHANDLE session) {
  LogActionName(L"Request");
  CUnicodeString text = Msi::GetProperty(session, RequiredName(session, L"REQUEST_PROPERTY_NAME"));
  Msi::FlushText(session, text);
  const int icon =
      OptionalNumber(Msi::GetProperty(session, L"REQUEST_ICON"), MB_ICONQUESTION, L"Request: Error REQUEST_ICON ");
  const int buttons =
      OptionalNumber(Msi::GetPropertySilent(session, L"REQUEST_FLAG"), MB_OKCANCEL, L"Request: Error REQUEST_FLAG ");
  const CUnicodeString caption = Msi::GetProperty(session, L"ProductName");
  const int result = Msi::ShowOwnedMessageBox(session, text, caption, static_cast<UINT>(buttons | icon));
  Msi::SetProperty(session, L"REQUEST_RETURN", CUnicodeString::FromInt(result));
  return ERROR_SUCCESS;
}

UINT DisableCancelButtonBody(MSIHANDLE session) {
  Msi::SetCancelButton(session, false);
  return ERROR_SUCCESS;
}

UINT EnableCancelButtonBody(MSIHANDLE session) {
  Msi::SetCancelButton(session, true);
  return ERROR_SUCCESS;
}

UINT ResetProgressBarBody(MSIHANDLE session) {
  LogActionName(L"ResetProgressBar");
  const std::optional<int32_t> percentage =
      Vrn::StrictInteger<int32_t>(Msi::GetProperty(session, L"ResetProgressBarPersentage"));
  Vrn::Check(percentage.has_value());
  // A fresh bar of 100 ticks, moving forward during execution; action data moves it one tick.
  Msi::SendProgress(session, 0, 100, 0, 0);
  Msi::SendProgress(session, 1, 1, 0, 0);
  Msi::SendProgress(session, 2, 0, 0, 0);
  Msi::SendProgress(session, 2, *percentage, 0, 0);
  return ERROR_SUCCESS;
}

UINT TestSetProgressBody(MSIHANDLE) { return ERROR_SUCCESS; }

UINT GetFeatureStateBody(MSIHANDLE session) {
  LogActionName(L"GetFeatureState");
  const CUnicodeString feature = RequiredName(session, L"GetFeatureState_NAME");
  const Msi::CFeatureState state = Msi::QueryFeatureState(session, feature);
  // Without a pending action the feature stays as installed.
  const INSTALLSTATE counted = state.action < 0 ? state.installed : state.action;
  Msi::SetProperty(session, feature + L"_LOCAL", counted == INSTALLSTATE_LOCAL ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

UINT GetTargetPathBody(MSIHANDLE session) {
  LogActionName(L"Get_TARGET_PATH ");
  const CUnicodeString folder = Msi::GetProperty(session, L"TARGET_PATH");
  Msi::SetProperty(session, L"TARGET_PATH", Msi::GetTargetPath(session, folder));
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(Message, MessageBody, .reads = L"MESSAGE_PROPERTY_NAME MESSAGE_ICON ProductName CLIENTPROCESSID",
           .readsIndirect = true)
ORV_ACTION(Request, RequestBody,
           .reads = L"REQUEST_PROPERTY_NAME REQUEST_ICON REQUEST_FLAG ProductName CLIENTPROCESSID",
           .readsIndirect = true)
ORV_ACTION(DisableCancelButton, DisableCancelButtonBody)
ORV_ACTION(EnableCancelButton, EnableCancelButtonBody)
ORV_ACTION(ResetProgressBar, ResetProgressBarBody, .reads = L"ResetProgressBarPersentage")
ORV_ACTION(TestSetProgress, TestSetProgressBody)
ORV_ACTION(GetFeatureState, GetFeatureStateBody, .reads = L"GetFeatureState_NAME", .costing = true)
ORV_ACTION(Get_TARGET_PATH, GetTargetPathBody, .reads = L"TARGET_PATH", .costing = true)
