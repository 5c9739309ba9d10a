// Message handlers: the replaceable objects that show, log or record the library's messages, the
// process-wide current handler, and the message service that routes texts and exceptions to it.
#pragma once

#include <mutex>

#include "Errors.h"
#include "Seam.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Vrn {

class CMessageHandler {
 public:
  // Leaves the no-handler mark in the default slot when it held this handler.
  virtual ~CMessageHandler();
  virtual int ShowMessage(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style) = 0;
  virtual int ShowMessageWithIcon(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style,
                                  const wchar_t* iconName) {
    (void)iconName;
    return ShowMessage(owner, text, caption, style);
  }
  // Shows the exception through ShowMessage; a second exception on the same thread while one is
  // being handled shows "Double internal error!" and ends the process.
  virtual void HandleException(const CException& exception);
};

// The answer a box would give for its default button, and the event type of a style without icon.
int DefaultButtonAnswer(UINT style) noexcept;
WORD EventTypeForStyle(UINT style) noexcept;

// The user-interface seam: every message box of the library goes through it. Tests install a
// scripted one with CUserInterfaceOverride.
class CUserInterface {
 public:
  virtual ~CUserInterface() = default;
  virtual int ShowBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);
  virtual BOOL BringToForeground(HWND window);
};
inline CUserInterface& UserInterface() noexcept { return CSeam<CUserInterface>::Current(); }
using CUserInterfaceOverride = CSeam<CUserInterface>::COverride;

class CMessageBoxHandler : public CMessageHandler {
 public:
  int ShowMessage(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style) override;
  int ShowMessageWithIcon(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style,
                          const wchar_t* iconName) override;
  // The style after the handler's additions (exclamation icon, task-modal/foreground/topmost).
  static UINT EffectiveStyle(HWND owner, UINT style) noexcept;
};

class CConsoleMessageHandler : public CMessageHandler {
 public:
  // Writes "caption: text" and a line break to standard output; answers the default button.
  int ShowMessage(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style) override;
};

// The event-log seam: the real one registers the event source and calls ReportEventW.
class CEventLogSink {
 public:
  virtual ~CEventLogSink() = default;
  virtual void Report(const CUnicodeString& source, WORD type, const CUnicodeString& caption,
                      const CUnicodeString& text);
};

class CEventLogMessageHandler : public CMessageHandler {
 public:
  explicit CEventLogMessageHandler(CEventLogSink* sink = nullptr);
  int ShowMessage(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style) override;
  void HandleException(const CException& exception) override;  // user exceptions are not reported
  // Event type from the icon bits, else from the button set.
  static WORD EventType(UINT style) noexcept;

 private:
  CEventLogSink* m_sink;
  CEventLogSink m_realSink;
};

// The message-system lock: guards the current handler and every call into a handler.
std::recursive_mutex& MessageSystemLock();

// The process-wide current handler (null: none attached). Returns the previous one.
CMessageHandler* SetCurrentHandler(CMessageHandler* handler);
CMessageHandler* CurrentHandler();
// The handler messages go to: the current one, else the default chosen once per process from the
// main executable's "MessageHandler" version string (null after the default was destroyed).
CMessageHandler* EffectiveHandler();
// Which default handler the main executable asks for: "EVENTLOG", "MESSAGEBOX", "CONSOLE" or the
// standard-output rule. Exposed for tests.
enum class DefaultHandlerKind { Dialog, Console, EventLog };
DefaultHandlerKind ChooseDefaultHandlerKind();

// The application title: caption of the library's boxes and name of its event source.
CUnicodeString ApplicationTitle();
void SetApplicationTitle(const CUnicodeString& title);

// The message service: shows a text through the effective handler (a plain box titled
// "Vornik Objects" when there is none).
int ShowMessageText(const CUnicodeString& text, const CUnicodeString& caption, UINT style, HWND owner = nullptr);
// Reports an exception that escaped an action: message log (not for CUserException), then the
// effective handler's exception entry.
void ReportException(const CException& exception);

// Ends the process at once with a failure status (after "Double internal error!" or a Cancel on
// the third internal error). Replaceable for tests.
using TerminateFunction = void (*)();
TerminateFunction SetTerminateFunction(TerminateFunction function);
void TerminateProcessNow();

}  // namespace Vrn
