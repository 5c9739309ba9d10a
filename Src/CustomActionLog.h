// The custom-action log OrvantMsiLog.txt and the message handler that routes the core library's
// messages into it and to the installer.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "Handle.h"
#include "MessageHandlers.h"
#include "Setup.h"
#include "UnicodeString.h"
#include "VrnWindows.h"
#include "WriteRoot.h"
// msi.h after windows.h
#include <msi.h>

namespace Msi {

// The switch "EnableMsiLog" under HKEY_CURRENT_USER "Software\Orvant\Debug" (default true), read
// once per process.
Vrn::CCacheSetup<bool>& EnableMsiLogSetting();

// The log file. Every append opens the file, writes U+FEFF and the text as UTF-16LE, and closes it;
// appends never fail their caller. Appends from several threads are serialised, so each piece lands
// whole; hidden values (HiddenValues.h) are masked in every piece.
class CCustomActionLog {
 public:
  // Chooses the file in the temporary folder (or its newest one-digit subfolder holding a log; a
  // subfolder that is a link does not count) and writes the header, unless `enabled` is false: then
  // nothing is ever written. The file is opened as a write below the temporary folder
  // (Vrn::CWriteRoot): a name that is a link, or leads out of the folder, is passed over like a
  // file that cannot be opened.
  CCustomActionLog(bool enabled, const Vrn::CUnicodeString& temporaryFolder);
  CCustomActionLog(const CCustomActionLog&) = delete;
  CCustomActionLog& operator=(const CCustomActionLog&) = delete;

  CCustomActionLog& operator<<(std::string_view text);  // 8-bit text in the ANSI code page
  CCustomActionLog& operator<<(const char* text) { return *this << std::string_view(text ? text : ""); }
  CCustomActionLog& operator<<(const wchar_t* text);
  CCustomActionLog& operator<<(std::wstring_view text);
  CCustomActionLog& operator<<(const Vrn::CUnicodeString& text) { return *this << text.View(); }
  CCustomActionLog& operator<<(int32_t value);
  CCustomActionLog& operator<<(uint32_t value);

  // Closes the file if it is open (normally it is already closed).
  void Close() noexcept;
  bool Enabled() const noexcept { return m_enabled; }
  // The file last opened (or chosen); empty when disabled.
  const Vrn::CUnicodeString& FileName() const noexcept { return m_fileName; }

 private:
  bool OpenForAppend();
  void Append(std::wstring_view text);

  bool m_enabled;
  std::optional<Vrn::CWriteRoot> m_root;  // the temporary folder; none when it cannot be made
  Vrn::CUnicodeString m_fileName;
  Vrn::CFileHandle m_file;
  std::mutex m_appendLock;  // guards the file and its name during an append
};

// The process-wide log, constructed on first use from the setting and the library's temporary folder.
CCustomActionLog& CustomActionLog();

// The first lines of every action: its name and an empty line.
void LogActionName(std::wstring_view name);

// "dd-mm-YYYY, HH:MM:SS" in local time.
Vrn::CUnicodeString LogTimestamp();

// Routes the core library's messages into the custom-action log and to the installer as error
// messages, to the session of the action running on the calling thread; every question is
// answered with the style's default button.
class CMsiLogMessageHandler : public Vrn::CMessageHandler {
 public:
  int ShowMessage(HWND owner, const Vrn::CUnicodeString& text, const Vrn::CUnicodeString& caption, UINT style) override;
  void HandleException(const Vrn::CException& exception) override;

 private:
  bool m_warning = false;
};

// The process-wide handler.
CMsiLogMessageHandler& LogMessageHandler();

// Makes a session the one the handler reports to from this thread for the life of the object (an
// action's call); a thread with none reports only to the log.
class CCallSession {
 public:
  explicit CCallSession(MSIHANDLE session) noexcept;
  ~CCallSession();
  CCallSession(const CCallSession&) = delete;
  CCallSession& operator=(const CCallSession&) = delete;
  static MSIHANDLE Current() noexcept;

 private:
  MSIHANDLE m_previous;
};

}  // namespace Msi
