// Product message boxes: the installer's window as owner, the UI-level tests, and the three ways an
// action shows a text, with silent installs routed to the message service instead of a window.
#include "InstallHelper.h"

#include "Errors.h"
#include "MessageHandlers.h"
#include "Messages.h"

namespace Msi {

namespace {

constexpr wchar_t kProductNameMarker[] = L"[ProductName]";

// What the window enumeration looks for and what it found.
struct CWindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchInstallerWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<CWindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// The UI level: the low four bits of UILevel, which must be a number.
int UserInterfaceLevel(MSIHANDLE session) {
  const std::optional<int32_t> level = Vrn::StrictInteger<int32_t>(GetProperty(session, L"UILevel"));
  Vrn::Check(level.has_value());
  return *level & 0x0F;
}

// Message texts write a line break as the two characters backslash and "n".
void ReplaceLineBreaks(CUnicodeString& text) { text.Replace(L"\\n", L"\n"); }

// Line breaks and the product name put into a text of ShowPropertyMessage or ShowProductMessageBox.
void ExpandProductText(CUnicodeString& text, const CUnicodeString& productName) {
  ReplaceLineBreaks(text);
  text.Replace(kProductNameMarker, productName);
}

// Shows a box owned by `owner`, or hands the text to the message service (in an action, the
// custom-action log's handler, which answers with the default button); either way the owner then
// comes to the foreground.
int ShowText(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style, bool throughService) {
  const int result = throughService ? Vrn::ShowMessageText(text, caption, style, owner)
                                    : Vrn::UserInterface().ShowBox(owner, text.c_str(), caption.c_str(), style);
  Vrn::UserInterface().BringToForeground(owner);
  return result;
}

// The last step of every form: in a silent install (when honoured) no window is shown.
int ShowFinishedText(const CMessageContext& context, HWND owner, const CUnicodeString& text, UINT style,
                     bool honourSilent) {
  return ShowText(owner, text, context.productName, style, honourSilent && IsSilentInstall(context.session));
}

}  // namespace

CMessageContext::CMessageContext(MSIHANDLE sessionHandle)
    : session(sessionHandle), productName(GetProperty(sessionHandle, L"ProductName")) {}

HWND FindInstallerWindow(MSIHANDLE session) {
  const std::optional<int32_t> processId = Vrn::StrictInteger<int32_t>(GetProperty(session, L"CLIENTPROCESSID"));
  if (!processId) return nullptr;
  CWindowSearch search{static_cast<DWORD>(*processId), nullptr};
  EnumWindows(MatchInstallerWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsSilentInstall(MSIHANDLE session) { return UserInterfaceLevel(session) < INSTALLUILEVEL_BASIC; }

bool IsFullUIInstall(MSIHANDLE session) { return UserInterfaceLevel(session) == INSTALLUILEVEL_FULL; }

int ShowPropertyMessage(const CMessageContext& context, const CUnicodeString& messageProperty,
                        const CUnicodeString& appended, UINT style) {
  const HWND owner = FindInstallerWindow(context.session);
  CUnicodeString text = GetProperty(context.session, messageProperty);
  ExpandProductText(text, context.productName);
  text += appended;
  return ShowFinishedText(context, owner, text, style, true);
}

int ShowPropertyMessageWithParams(const CMessageContext& context, bool honourSilent,
                                  const CUnicodeString& messageProperty, const std::vector<CUnicodeString>& params,
                                  UINT style) {
  const HWND owner = FindInstallerWindow(context.session);
  CUnicodeString text = GetProperty(context.session, messageProperty);
  ReplaceLineBreaks(text);
  text = Vrn::SubstituteParams(text, params);
  return ShowFinishedText(context, owner, text, style, honourSilent);
}

int ShowProductMessageBox(const CMessageContext& context, CUnicodeString& text, UINT style) {
  const HWND owner = FindInstallerWindow(context.session);
  ExpandProductText(text, context.productName);
  return ShowFinishedText(context, owner, text, style, true);
}

int ShowOwnedMessageBox(MSIHANDLE session, const CUnicodeString& text, const CUnicodeString& caption, UINT style) {
  return ShowText(FindInstallerWindow(session), text, caption, style, false);
}

}  // namespace Msi
