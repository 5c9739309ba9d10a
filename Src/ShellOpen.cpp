// The real shell-open call.
#include "ShellOpen.h"

// shellapi after windows.h
#include <shellapi.h>

#include "TextLimits.h"

namespace Msi {

bool CShellOpener::Open(const CShellOpenRequest& request) {
  Vrn::CheckLength(request.file, Vrn::kShellFileLimit);
  Vrn::CheckLength(request.parameters, Vrn::kShellParametersLimit);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // No error dialog (it would block an unattended installation) and no asynchronous start that
  // could outlive the custom-action server's thread.
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = request.verb.IsEmpty() ? nullptr : request.verb.c_str();
  info.lpFile = request.file.c_str();
  info.lpParameters = request.parameters.IsEmpty() ? nullptr : request.parameters.c_str();
  info.nShow = request.show;
  return ::ShellExecuteExW(&info) != FALSE;
}

}  // namespace Msi
