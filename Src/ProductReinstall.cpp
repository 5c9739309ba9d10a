// The real reinstallation: the installer's own call.
#include "ProductReinstall.h"

// msi.h after windows.h
#include <msi.h>

namespace Msi {

UINT CProductReinstall::Reinstall(const wchar_t* productCode, DWORD mode) {
  return ::MsiReinstallProductW(productCode, mode);
}

}  // namespace Msi
