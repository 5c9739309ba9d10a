// The real top-level-window calls and their process-wide override.
#include "TopLevelWindows.h"

namespace Vrn {

HWND CTopLevelWindows::FindTopWindow(const wchar_t* className, const wchar_t* title) {
  return ::FindWindowW(className, title);
}

UINT CTopLevelWindows::RegisteredMessageId(const wchar_t* name) { return ::RegisterWindowMessageW(name); }

LRESULT CTopLevelWindows::SendToWindow(HWND window, UINT message) { return ::SendMessageW(window, message, 0, 0); }

}  // namespace Vrn
