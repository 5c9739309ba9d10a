// Message handlers, the current-handler slot, the default-handler choice and the message service.
#include "MessageHandlers.h"

#include <cstdio>
#include <memory>

#include "Messages.h"
#include "Setup.h"

namespace Vrn {

namespace {

std::recursive_mutex g_messageLock;
CMessageHandler* g_current = nullptr;

// The default handler: chosen once; after it is destroyed the slot holds the no-handler mark.
enum class DefaultSlot { NotChosen, Chosen, NoHandler };
DefaultSlot g_defaultSlot = DefaultSlot::NotChosen;
CMessageHandler* g_default = nullptr;

CUnicodeString g_applicationTitle;

thread_local bool t_handlingException = false;

void ExitWithFailure() { ExitProcess(3); }
TerminateFunction g_terminate = ExitWithFailure;

constexpr wchar_t kDefaultTitle[] = L"Vornik Objects";
constexpr wchar_t kDoubleInternalError[] = L"Double internal error!\nApplication terminated.";

}  // namespace

std::recursive_mutex& MessageSystemLock() { return g_messageLock; }

// ---- The user-interface seam ----

int CUserInterface::ShowBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  return ::MessageBoxW(owner, text, caption, style);
}
BOOL CUserInterface::BringToForeground(HWND window) { return ::SetForegroundWindow(window); }

// ---- Answers and event types ----

int DefaultButtonAnswer(UINT style) noexcept {
  const UINT buttons = style & MB_TYPEMASK;
  const UINT defaultButton = (style & MB_DEFMASK) >> 8;  // 0, 1, 2 for the first, second, third
  static const int kAnswers[][3] = {
      {IDOK, IDOK, IDOK},      {IDOK, IDCANCEL, IDOK}, {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL}, {IDYES, IDNO, IDYES},   {IDRETRY, IDCANCEL, IDRETRY},
  };
  if (buttons >= std::size(kAnswers)) return IDABORT;
  return kAnswers[buttons][defaultButton < 3 ? defaultButton : 0];
}

WORD EventTypeForStyle(UINT style) noexcept {
  switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return EVENTLOG_WARNING_TYPE;
    case MB_ABORTRETRYIGNORE:
    case MB_RETRYCANCEL:
      return EVENTLOG_ERROR_TYPE;
    default:
      return EVENTLOG_INFORMATION_TYPE;
  }
}

// ---- Handlers ----

CMessageHandler::~CMessageHandler() {
  std::lock_guard lock(g_messageLock);
  if (g_default == this) {
    g_default = nullptr;
    g_defaultSlot = DefaultSlot::NoHandler;
  }
  if (g_current == this) g_current = nullptr;
}

void CMessageHandler::HandleException(const CException& exception) {
  if (t_handlingException) {
    ShowMessageText(kDoubleInternalError, ApplicationTitle(), MB_SYSTEMMODAL | MB_ICONERROR);
    TerminateProcessNow();
    return;
  }
  t_handlingException = true;
  struct Restore {
    ~Restore() { t_handlingException = false; }
  } restore;
  exception.Show();
}

UINT CMessageBoxHandler::EffectiveStyle(HWND owner, UINT style) noexcept {
  const UINT buttons = style & MB_TYPEMASK;
  if ((style & MB_ICONMASK) == 0 &&
      (buttons == MB_OK || buttons == MB_OKCANCEL || buttons == MB_YESNOCANCEL || buttons == MB_YESNO))
    style |= MB_ICONEXCLAMATION;
  if (!owner || !IsWindowVisible(GetLastActivePopup(owner))) style |= MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST;
  return style;
}

int CMessageBoxHandler::ShowMessage(HWND owner, const CUnicodeString& text, const CUnicodeString& caption, UINT style) {
  return UserInterface().ShowBox(owner, text.c_str(), caption.c_str(), EffectiveStyle(owner, style));
}

int CMessageBoxHandler::ShowMessageWithIcon(HWND owner, const CUnicodeString& text, const CUnicodeString& caption,
                                            UINT style, const wchar_t* iconName) {
  if (!iconName) return ShowMessage(owner, text, caption, style);
  // The icon must come from the library's resources.
  HMODULE module = LibraryModule();
  Check(module && FindResourceW(module, iconName, RT_GROUP_ICON) != nullptr);
  MSGBOXPARAMSW params{};
  params.cbSize = sizeof params;
  params.hwndOwner = owner;
  params.hInstance = module;
  params.lpszText = text.c_str();
  params.lpszCaption = caption.c_str();
  params.dwStyle = (EffectiveStyle(owner, style) & ~MB_ICONMASK) | MB_USERICON;
  params.lpszIcon = iconName;
  return MessageBoxIndirectW(&params);
}

int CConsoleMessageHandler::ShowMessage(HWND, const CUnicodeString& text, const CUnicodeString& caption, UINT style) {
  const std::string line = (caption.IsEmpty() ? text : caption + L": " + text).ToUtf8() + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  return DefaultButtonAnswer(style);
}

void CEventLogSink::Report(const CUnicodeString& source, WORD type, const CUnicodeString& caption,
                           const CUnicodeString& text) {
  static std::once_flag registered;
  std::call_once(registered, [&] {
    // Register the source under HKLM so that the event viewer finds the message file.
    const CUnicodeString key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) ==
        ERROR_SUCCESS) {
      const CUnicodeString file = LibraryModuleFolder() + L"VrnEventSrc.dll";
      RegSetValueExW(handle, L"EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                     static_cast<DWORD>((file.Length() + 1) * sizeof(wchar_t)));
      RegCloseKey(handle);
    }
  });
  HANDLE log = RegisterEventSourceW(nullptr, source.c_str());
  if (!log) return;
  const wchar_t* strings[] = {caption.c_str(), text.c_str()};
  ReportEventW(log, type, 0, 1, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(log);
}

CEventLogMessageHandler::CEventLogMessageHandler(CEventLogSink* sink) : m_sink(sink ? sink : &m_realSink) {}

WORD CEventLogMessageHandler::EventType(UINT style) noexcept {
  switch (style & MB_ICONMASK) {
    case MB_ICONERROR:
      return EVENTLOG_ERROR_TYPE;
    case MB_ICONEXCLAMATION:
      return EVENTLOG_WARNING_TYPE;
    case MB_ICONQUESTION:
    case MB_ICONINFORMATION:
      return EVENTLOG_INFORMATION_TYPE;
    default:
      return EventTypeForStyle(style);
  }
}

int CEventLogMessageHandler::ShowMessage(HWND, const CUnicodeString& text, const CUnicodeString& caption, UINT style) {
  m_sink->Report(ApplicationTitle(), EventType(style), caption, text);
  return DefaultButtonAnswer(style);
}

void CEventLogMessageHandler::HandleException(const CException& exception) {
  if (dynamic_cast<const CUserException*>(&exception)) return;
  CMessageHandler::HandleException(exception);
}

// ---- Current and default handler ----

CMessageHandler* SetCurrentHandler(CMessageHandler* handler) {
  std::lock_guard lock(g_messageLock);
  return std::exchange(g_current, handler);
}

CMessageHandler* CurrentHandler() {
  std::lock_guard lock(g_messageLock);
  return g_current;
}

DefaultHandlerKind ChooseDefaultHandlerKind() {
  CUnicodeString choice;
  wchar_t exePath[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, exePath, MAX_PATH);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exePath, &ignored);
  if (size > 0) {
    std::string data(size, '\0');
    if (GetFileVersionInfoW(exePath, 0, size, data.data())) {
      struct Translation {
        WORD language, codePage;
      }* translations = nullptr;
      UINT length = 0;
      if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                         &length) &&
          length >= sizeof(Translation)) {
        wchar_t query[64];
        swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\MessageHandler", translations->language,
                 translations->codePage);
        wchar_t* value = nullptr;
        UINT valueLength = 0;
        if (VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&value), &valueLength) && value)
          choice = CUnicodeString(value);
      }
    }
  }
  choice.Trim();
  if (choice.EqualsNoCaseAscii(L"EVENTLOG")) return DefaultHandlerKind::EventLog;
  if (choice.EqualsNoCaseAscii(L"MESSAGEBOX")) return DefaultHandlerKind::Dialog;
  if (choice.EqualsNoCaseAscii(L"CONSOLE")) return DefaultHandlerKind::Console;
  const DWORD type = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE));
  if (type == FILE_TYPE_DISK || type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return DefaultHandlerKind::Console;
  return DefaultHandlerKind::Dialog;
}

CMessageHandler* EffectiveHandler() {
  std::lock_guard lock(g_messageLock);
  if (g_current) return g_current;
  if (g_defaultSlot == DefaultSlot::NotChosen) {
    // Lives for the process: handlers are used up to the very end.
    switch (ChooseDefaultHandlerKind()) {
      case DefaultHandlerKind::EventLog:
        g_default = new CEventLogMessageHandler();
        break;
      case DefaultHandlerKind::Console:
        g_default = new CConsoleMessageHandler();
        break;
      case DefaultHandlerKind::Dialog:
        g_default = new CMessageBoxHandler();
        break;
    }
    g_defaultSlot = DefaultSlot::Chosen;
  }
  return g_default;
}

CUnicodeString ApplicationTitle() {
  std::lock_guard lock(g_messageLock);
  return g_applicationTitle.IsEmpty() ? CUnicodeString(kDefaultTitle) : g_applicationTitle;
}

void SetApplicationTitle(const CUnicodeString& title) {
  std::lock_guard lock(g_messageLock);
  g_applicationTitle = title;
}

int ShowMessageText(const CUnicodeString& text, const CUnicodeString& caption, UINT style, HWND owner) {
  std::lock_guard lock(g_messageLock);
  if (CMessageHandler* handler = EffectiveHandler()) return handler->ShowMessage(owner, text, caption, style);
  return UserInterface().ShowBox(owner, text.c_str(), kDefaultTitle, style);
}

void ReportException(const CException& exception) {
  std::lock_guard lock(g_messageLock);
  if (!dynamic_cast<const CUserException*>(&exception)) WriteMessageLog(exception.MessageText());
  if (CMessageHandler* handler = EffectiveHandler()) handler->HandleException(exception);
}

TerminateFunction SetTerminateFunction(TerminateFunction function) { return std::exchange(g_terminate, function); }

void TerminateProcessNow() { g_terminate(); }

}  // namespace Vrn
