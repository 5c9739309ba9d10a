// Reinstalling another installed product. Under Wine a reinstallation started from a custom action
// of a running installation never returns, so the call goes through this seam and tests answer it.
#pragma once

#include "Seam.h"
#include "VrnWindows.h"

namespace Msi {

class CProductReinstall {
 public:
  virtual ~CProductReinstall() = default;
  // MsiReinstallProductW with the product code and REINSTALLMODE bits; returns its result.
  virtual UINT Reinstall(const wchar_t* productCode, DWORD mode);
};

// The reinstallation in use, and the RAII override of tests.
inline CProductReinstall& ProductReinstall() noexcept { return Vrn::CSeam<CProductReinstall>::Current(); }
using CProductReinstallOverride = Vrn::CSeam<CProductReinstall>::COverride;

}  // namespace Msi
