// The real IIS queries: captured runs of the command interpreter through the process launcher.
#include "IisCommand.h"

#include <utility>

#include "ProcessLauncher.h"

namespace Msi {

namespace {

constexpr wchar_t kSiteList[] = L"%windir%\\System32\\inetsrv\\appcmd.exe list site | findstr ";

}  // namespace

CUnicodeString IisBindingQueryCommand(uint32_t port) {
  return CUnicodeString(kSiteList) + L"bindings.*[/:]" + CUnicodeString::FromInt(static_cast<int64_t>(port));
}

CUnicodeString IisSiteQueryCommand(const CUnicodeString& siteName) {
  return CUnicodeString(kSiteList) + L"\"" + siteName + L"\"";
}

CUnicodeString CIisCommand::CaptureBindings(const CUnicodeString& command) {
  return RunCommandCaptureTextWithin(command, L"out", L"iis", kIisBindingQueryWaitMs);
}

CUnicodeString CIisCommand::CaptureSites(const CUnicodeString& command) { return RunCommandCaptureText(command); }

}  // namespace Msi
