// The real locale query.
#include "LocaleSupport.h"

namespace Msi {

bool CLocaleSupport::IsInstalled(LCID locale) { return ::IsValidLocale(locale, LCID_INSTALLED) != FALSE; }

}  // namespace Msi
