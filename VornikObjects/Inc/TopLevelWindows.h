// The top-level-window seam: finding another application's main window and sending it a message.
// Without a graphics driver no window exists (Wine without a display), so tests of the logic above
// it install a scripted desktop with CTopLevelWindowsOverride; the real side calls user32.
#pragma once

#include "Seam.h"
#include "VrnWindows.h"

namespace Vrn {

class CTopLevelWindows {
 public:
  virtual ~CTopLevelWindows() = default;
  // The first top-level window with that class and title; a null argument matches any (FindWindowW).
  virtual HWND FindTopWindow(const wchar_t* className, const wchar_t* title);
  // The process-independent number of a registered message name (RegisterWindowMessageW); 0 on failure.
  virtual UINT RegisteredMessageId(const wchar_t* name);
  // Sends the message with both parameters 0 and waits until the window handled it (SendMessageW).
  virtual LRESULT SendToWindow(HWND window, UINT message);
};

// The desktop in use: the real one unless a CTopLevelWindowsOverride is alive.
inline CTopLevelWindows& TopLevelWindows() noexcept { return CSeam<CTopLevelWindows>::Current(); }
using CTopLevelWindowsOverride = CSeam<CTopLevelWindows>::COverride;

}  // namespace Vrn
