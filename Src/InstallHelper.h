// Product message boxes: texts from MT_ properties, the installer's window as owner, and silent
// installs routed to the message service (and so to the custom-action log).
#pragma once

#include <initializer_list>
#include <vector>

#include "MsiHelper.h"

namespace Msi {

// The session and the product name (read with GetProperty when made).
struct CMessageContext {
  explicit CMessageContext(MSIHANDLE session);
  MSIHANDLE session;
  CUnicodeString productName;
};

// The visible top-level window of the process named by CLIENTPROCESSID, or null.
HWND FindInstallerWindow(MSIHANDLE session);
// UILevel below 3 / exactly 5; a UILevel that is not a number is an internal error.
bool IsSilentInstall(MSIHANDLE session);
bool IsFullUIInstall(MSIHANDLE session);

// The text of a message property ("\n" sequences and "[ProductName]" replaced) and the appended text.
int ShowPropertyMessage(const CMessageContext& context, const CUnicodeString& messageProperty,
                        const CUnicodeString& appended, UINT style);
// The text of a message property with %0, %1, ... filled in; with honourSilent clear the box is
// shown even in a silent install.
int ShowPropertyMessageWithParams(const CMessageContext& context, bool honourSilent,
                                  const CUnicodeString& messageProperty, const std::vector<CUnicodeString>& params,
                                  UINT style);
// A text the action built ("\n" sequences and "[ProductName]" replaced in the caller's text).
int ShowProductMessageBox(const CMessageContext& context, CUnicodeString& text, UINT style);

// A box owned by the installer's window (FindInstallerWindow), shown whatever the UI level, after
// which that window is brought to the foreground. Returns the box's result.
int ShowOwnedMessageBox(MSIHANDLE session, const CUnicodeString& text, const CUnicodeString& caption, UINT style);

}  // namespace Msi
