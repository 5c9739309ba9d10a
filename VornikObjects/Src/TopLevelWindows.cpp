// The real top-level-window calls and their process-wide override.
#include "TopLevelWindows.h"

#include <atomic>

namespace Vrn {

namespace {
CTopLevelWindows g_realWindows;
std::atomic<CTopLevelWindows*> g_windows{&g_realWindows};
}  // namespace

HWND CTopLevelWindows::FindTopWindow(const wchar_t* className, const wchar_t* title) {
  return ::FindWindowW(className, title);
}

UINT CTopLevelWindows::RegisteredMessageId(const wchar_t* name) { return ::RegisterWindowMessageW(name); }

LRESULT CTopLevelWindows::SendToWindow(HWND window, UINT message) { return ::SendMessageW(window, message, 0, 0); }

CTopLevelWindows& TopLevelWindows() { return *g_windows.load(); }

CTopLevelWindowsOverride::CTopLevelWindowsOverride(CTopLevelWindows& replacement)
    : m_previous(g_windows.exchange(&replacement)) {}
CTopLevelWindowsOverride::~CTopLevelWindowsOverride() { g_windows.store(m_previous); }

}  // namespace Vrn
