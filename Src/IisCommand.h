// IIS's command-line tool (appcmd.exe), asked through the command interpreter about sites and
// their bindings. The tool is not part of Wine, so the runs go through CIisCommand, which tests
// replace with CIisCommandOverride.
#pragma once

#include <cstdint>
#include "Seam.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Msi {

using Vrn::CUnicodeString;

// The time limit of the binding query.
inline constexpr DWORD kIisBindingQueryWaitMs = 30'000;

// "%windir%\System32\inetsrv\appcmd.exe list site | findstr bindings.*[/:]<port>": the sites with a
// binding whose text has the port after a "/" or ":". The pattern is not anchored at its end, so
// port 80 also matches a binding on 8080 (or 800).
CUnicodeString IisBindingQueryCommand(uint32_t port);
// "%windir%\System32\inetsrv\appcmd.exe list site | findstr "<name>"": the sites whose line holds the name.
CUnicodeString IisSiteQueryCommand(const CUnicodeString& siteName);

class CIisCommand {
 public:
  virtual ~CIisCommand() = default;
  // The output of "cmd.exe /k <command> & exit" (UTF-8), captured in a temporary file "out*.iis";
  // a run longer than kIisBindingQueryWaitMs is ended and raises "ERR_FAIL_TO_MANIPULATE_WITH_PROCESS".
  virtual CUnicodeString CaptureBindings(const CUnicodeString& command);
  // The output of the same run through RunCommandCaptureText.
  virtual CUnicodeString CaptureSites(const CUnicodeString& command);
};

// The runner in use: the real one unless a CIisCommandOverride is alive.
inline CIisCommand& IisCommand() noexcept { return Vrn::CSeam<CIisCommand>::Current(); }
using CIisCommandOverride = Vrn::CSeam<CIisCommand>::COverride;

}  // namespace Msi
