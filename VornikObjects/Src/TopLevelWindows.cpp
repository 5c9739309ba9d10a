// The real top-level-window calls and their process-wide override.
#include "TopLevelWindows.h"

#include "TextLimits.h"

namespace Vrn {

HWND CTopLevelWindows::FindTopWindow(const wchar_t* className, const wchar_t* title) {
  if (className && !IS_INTRESOURCE(className)) CheckLength(className, kAtomNameLimit);
  if (title) CheckLength(title, kWindowTitleLimit);
  return ::FindWindowW(className, title);
}

UINT CTopLevelWindows::RegisteredMessageId(const wchar_t* name) {
  CheckLength(name, kAtomNameLimit);
  return ::RegisterWindowMessageW(name);
}

LRESULT CTopLevelWindows::SendToWindow(HWND window, UINT message) { return ::SendMessageW(window, message, 0, 0); }

}  // namespace Vrn
