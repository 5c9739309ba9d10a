// Fixtures for core-library tests: a handler that records what it is asked to show, and a scope
// that starts the library with OrvantCA.dll registered as a message module.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "Handle.h"
#include "MessageHandlers.h"
#include "Setup.h"

namespace TestSupport {

struct CShownMessage {
  Vrn::CUnicodeString text;
  Vrn::CUnicodeString caption;
  UINT style;
};

// Records every message and answers with the scripted answers in order (then the default button).
class CRecordingHandler : public Vrn::CMessageHandler {
 public:
  int ShowMessage(HWND owner, const Vrn::CUnicodeString& text, const Vrn::CUnicodeString& caption, UINT style) override;
  std::vector<CShownMessage> shown;
  std::vector<int> answers;
};

// Makes a handler current for the scope and restores the previous one.
class CHandlerScope {
 public:
  explicit CHandlerScope(Vrn::CMessageHandler& handler) : m_previous(Vrn::SetCurrentHandler(&handler)) {}
  ~CHandlerScope() { Vrn::SetCurrentHandler(m_previous); }
  CHandlerScope(const CHandlerScope&) = delete;
  CHandlerScope& operator=(const CHandlerScope&) = delete;

 private:
  Vrn::CMessageHandler* m_previous;
};

// The user-interface seam recording boxes and answering from a script (then the default button).
// onBox, when set, runs before each box is answered with the number of boxes shown before it: the
// "user" may act (close an application) or extend the script.
class CScriptedUserInterface : public Vrn::CUserInterface {
 public:
  int ShowBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) override;
  BOOL BringToForeground(HWND window) override;
  std::vector<CShownMessage> shown;
  std::vector<int> answers;
  std::vector<HWND> foreground;
  std::function<void(size_t shownBefore)> onBox;
};

// The loaded OrvantCA.dll (loaded once per process, kept).
HMODULE LibraryModuleForTests();

// Starts the library and registers OrvantCA.dll as a message module.
class CStartedLibrary {
 public:
  CStartedLibrary();
  ~CStartedLibrary();
  CStartedLibrary(const CStartedLibrary&) = delete;
  CStartedLibrary& operator=(const CStartedLibrary&) = delete;
};

// As Vrn::Caught for one exception type: records a test failure and returns null when the callable
// raised nothing or an exception of another type.
template <class E, class Callable>
std::unique_ptr<E> CatchRaised(Callable&& callable) {
  Vrn::CExceptionPtr raised = Vrn::Caught(std::forward<Callable>(callable));
  if (!raised) {
    ADD_FAILURE() << "nothing was raised";
    return nullptr;
  }
  if (!dynamic_cast<E*>(raised.get())) {
    ADD_FAILURE() << "another exception was raised: " << raised->MessageText().ToUtf8();
    return nullptr;
  }
  return std::unique_ptr<E>(static_cast<E*>(raised.release()));
}

}  // namespace TestSupport
