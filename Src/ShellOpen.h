// The shell-open service: opening a document, an address or a program the way the shell does
// (ShellExecuteExW). Every family that opens something goes through it, so that tests can record
// what would have been opened instead of starting viewers, and so that no error dialog of the
// shell can ever block an installation.
#pragma once

#include "Seam.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Msi {

// What to open: the verb ("open", "runas"), the document, address or program, its parameters
// (empty for none) and the show command of its window.
struct CShellOpenRequest {
  Vrn::CUnicodeString verb;
  Vrn::CUnicodeString file;
  Vrn::CUnicodeString parameters;
  int show = SW_SHOWNORMAL;
};

class CShellOpener {
 public:
  virtual ~CShellOpener() = default;
  // Opens the request without any user interface of the shell's own (no error dialog). True when
  // the shell started it; false with the last error set otherwise. A file or parameters longer
  // than the shell takes raise ERR_VALUE_TOO_LONG (TextLimits.h) before the shell is called;
  // nothing else raises.
  virtual bool Open(const CShellOpenRequest& request);
};

// The opener in use (the real one unless a test installed another with CShellOpenerOverride).
inline CShellOpener& ShellOpener() noexcept { return Vrn::CSeam<CShellOpener>::Current(); }
using CShellOpenerOverride = Vrn::CSeam<CShellOpener>::COverride;

}  // namespace Msi
