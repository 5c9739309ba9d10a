// The frame around every exported action and the installation counter.
#include "ActionFrame.h"

#include <exception>
#include <mutex>
#include <string>

#include "CustomActionLog.h"
#include "Errors.h"
#include "MessageHandlers.h"
#include "Messages.h"
#include "RegistryKey.h"
#include "Setup.h"
#include "TextLimits.h"

namespace Msi {

namespace {

// Makes the log handler current for one call when the log is enabled, and restores the previous
// handler at the end; finding another handler current then is an internal error. Calls on several
// threads share the one handler: the first of overlapping calls attaches it and the last detaches
// it, so a call that ends early never takes the handler away from one still running.
class CHandlerAttachment {
 public:
  CHandlerAttachment(CMsiLogMessageHandler& handler, bool enabled) : m_handler(&handler) {
    if (!enabled) return;
    std::lock_guard lock(Vrn::MessageSystemLock());
    if (s_attachedCalls++ == 0) s_previous = Vrn::SetCurrentHandler(m_handler);
    m_attached = true;
  }
  ~CHandlerAttachment() noexcept(false) {
    if (!m_attached) return;
    std::lock_guard lock(Vrn::MessageSystemLock());
    if (--s_attachedCalls > 0) return;
    Vrn::CMessageHandler* replaced = Vrn::SetCurrentHandler(s_previous);
    Vrn::Check(replaced == m_handler);
  }
  CHandlerAttachment(const CHandlerAttachment&) = delete;
  CHandlerAttachment& operator=(const CHandlerAttachment&) = delete;

 private:
  // Under the message-system lock: the calls that have the handler attached, and the handler that
  // was current before the first of them.
  static inline int s_attachedCalls = 0;
  static inline Vrn::CMessageHandler* s_previous = nullptr;

  CMsiLogMessageHandler* m_handler;
  bool m_attached = false;
};

UINT RunFramed(MSIHANDLE session, ActionBody body) {
  if (!Vrn::Start()) return ERROR_INSTALL_FAILURE;
  UINT result = ERROR_SUCCESS;
  {
    const bool logEnabled = EnableMsiLogSetting().Get();
    const CCallSession callSession(session);
    CHandlerAttachment attachment(LogMessageHandler(), logEnabled);
    Vrn::RegisterMessageModule(Vrn::LibraryModule());
    // What the values of this call came from is noted while it runs (TextLimits.h), never longer.
    Vrn::ForgetValueSources();
    try {
      result = body(session);
    } catch (Vrn::CException* raw) {
      Vrn::CExceptionPtr failure(raw);
      Vrn::ReportException(*failure);
      failure.reset();
      result = ERROR_INSTALL_FAILURE;
      IncrementInstallationCounter();
    } catch (const std::exception& failure) {
      // Not the library's own kind (a standard library failure such as bad_alloc): logged and
      // counted like any failure, and the frame still closes the log and stops the library.
      CustomActionLog() << std::string("ERROR: ") + failure.what() + "\r\n\r\n";
      result = ERROR_INSTALL_FAILURE;
      IncrementInstallationCounter();
    } catch (...) {
      CustomActionLog() << "ERROR: unknown exception\r\n\r\n";
      result = ERROR_INSTALL_FAILURE;
      IncrementInstallationCounter();
    }
    Vrn::ForgetValueSources();
    CustomActionLog().Close();
    Vrn::Stop();
  }
  return result;
}

}  // namespace

bool IncrementInstallationCounter(const wchar_t* keyPath) {
  // The read and the write are one step: two calls failing at once on two threads would otherwise
  // both read N and both write N + 1.
  static std::mutex counterLock;
  std::lock_guard lock(counterLock);
  try {
    Vrn::CRegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, keyPath, Vrn::RegistryMode::Write, Vrn::RegistryView::Sixty4))
      Vrn::Raise<Vrn::CCheckException>(
          L"ERR_CANT_WRITE_TO_REGISTRY", Vrn::LibraryMessageText(L"ERR_CANT_WRITE_TO_REGISTRY"),
          std::initializer_list<Vrn::CUnicodeString>{Vrn::CUnicodeString(L"HKEY_LOCAL_MACHINE\\") + keyPath});
    const Vrn::CUnicodeString text = key.ReadString(L"InstallationCount", L"0");
    int64_t next = 1;
    if (const auto count = Vrn::StrictInteger<int32_t>(text)) {
      CustomActionLog() << L"count = " + Vrn::CUnicodeString::FromInt(*count) + L"\r\n\r\n";
      next = static_cast<int64_t>(*count) + 1;
    }
    key.WriteString(L"InstallationCount", Vrn::CUnicodeString::FromInt(next));
    return true;
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr failure(raw);
    CustomActionLog() << L"ERROR: " + failure->MessageText() + L"\r\n\r\n";
    return false;
  }
}

UINT CountFailure(UINT result) {
  if (result == ERROR_INSTALL_FAILURE) IncrementInstallationCounter();
  return result;
}

UINT RunAction(MSIHANDLE session, ActionBody body) {
  // Nothing may cross into the installer: whatever escapes the frame itself (a failed detach, a
  // failure while reporting) ends here as 1603.
  try {
    return RunFramed(session, body);
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr failure(raw);
    return ERROR_INSTALL_FAILURE;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

}  // namespace Msi
