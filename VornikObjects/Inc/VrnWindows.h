// The one header of the core library that includes <windows.h>; everything else includes this.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace Vrn {
// GetProcAddress typed as the function it is (null when the export is missing).
template <class Function>
Function ProcAddress(HMODULE module, const char* name) noexcept {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}
}  // namespace Vrn
