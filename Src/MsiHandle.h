// Msi::CMsiHandle: the owner of one installer handle (record, view, database, summary information),
// closed with MsiCloseHandle when it goes out of scope.
#pragma once

#include "Handle.h"
#include "VrnWindows.h"
// msi.h after windows.h
#include <msi.h>
#include <msiquery.h>

namespace Msi {

struct CMsiHandleTraits {
  using Type = MSIHANDLE;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type handle) noexcept { ::MsiCloseHandle(handle); }
};
using CMsiHandle = Vrn::CUniqueHandle<CMsiHandleTraits>;

}  // namespace Msi
