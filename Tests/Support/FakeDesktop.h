// Fakes of the clock and top-level-window seams: a clock that never sleeps but counts its pauses
// (and can act on each), and a scripted desktop of windows that record the messages sent to them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Clock.h"
#include "TopLevelWindows.h"

namespace TestSupport {

// Install with Vrn::CClockOverride.
class CFakeClock : public Vrn::CClock {
 public:
  void Pause(DWORD milliseconds) override {
    ++pauses;
    totalMs += milliseconds;
    if (onPause) onPause(pauses, milliseconds);
  }
  uint64_t pauses = 0;
  uint64_t totalMs = 0;
  // Called after each pause with its 1-based number and length.
  std::function<void(uint64_t pause, DWORD milliseconds)> onPause;
};

// Install with Vrn::CTopLevelWindowsOverride. Window handles are small fake numbers.
class CScriptedWindows : public Vrn::CTopLevelWindows {
 public:
  struct CWindow {
    std::wstring className, title;
    std::function<void(UINT message)> onMessage;  // what the application does when it receives one
    bool open = true;
  };
  struct CSent {
    HWND window;
    UINT message;
  };

  HWND Add(std::wstring className, std::wstring title, std::function<void(UINT)> onMessage = {}) {
    windows.push_back({std::move(className), std::move(title), std::move(onMessage)});
    return HandleOf(windows.size() - 1);
  }
  void Close(HWND window) { windows[IndexOf(window)].open = false; }

  HWND FindTopWindow(const wchar_t* className, const wchar_t* title) override {
    ++finds;
    for (size_t i = 0; i < windows.size(); ++i) {
      const CWindow& w = windows[i];
      if (w.open && (!className || w.className == className) && (!title || w.title == title)) return HandleOf(i);
    }
    return nullptr;
  }
  UINT RegisteredMessageId(const wchar_t* name) override {
    registered.push_back(name);
    return 0xC000 + static_cast<UINT>(registered.size());
  }
  LRESULT SendToWindow(HWND window, UINT message) override {
    sent.push_back({window, message});
    CWindow& w = windows[IndexOf(window)];
    if (w.onMessage) w.onMessage(message);
    return 0;
  }

  std::vector<CWindow> windows;
  std::vector<CSent> sent;
  std::vector<std::wstring> registered;
  int finds = 0;

 private:
  static HWND HandleOf(size_t index) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000 + index)); }
  static size_t IndexOf(HWND window) { return reinterpret_cast<uintptr_t>(window) - 0x1000; }
};

}  // namespace TestSupport
