// Whether the operating system supports a locale. Wine reports every valid locale as installed, so
// the answer goes through this seam and tests can make a language undisplayable.
#pragma once

#include "Seam.h"
#include "VrnWindows.h"

namespace Msi {

class CLocaleSupport {
 public:
  virtual ~CLocaleSupport() = default;
  // IsValidLocale with LCID_INSTALLED: true when the locale is installed.
  virtual bool IsInstalled(LCID locale);
};

// The locale support in use, and the RAII override of tests.
inline CLocaleSupport& LocaleSupport() noexcept { return Vrn::CSeam<CLocaleSupport>::Current(); }
using CLocaleSupportOverride = Vrn::CSeam<CLocaleSupport>::COverride;

}  // namespace Msi
