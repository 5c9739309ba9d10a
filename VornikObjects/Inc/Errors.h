// Core-library exceptions, the raising helper and the internal checks.
//
// Every failure is a newly allocated exception thrown by pointer; the catcher owns it:
//   catch (Vrn::CException* raw) { Vrn::CExceptionPtr e(raw); ... }
#pragma once

#include <initializer_list>
#include <memory>
#include <source_location>
#include <utility>
#include <vector>

#include "UnicodeString.h"
#include "VrnWindows.h"

struct IErrorInfo;

namespace Vrn {

class CException {
 public:
  virtual ~CException();
  // The user-readable text of the failure.
  virtual void GetMessageText(CUnicodeString& text) const = 0;
  // Shows the text through the current message handler, with the application title and style 0.
  virtual void Show() const;

  CUnicodeString MessageText() const {
    CUnicodeString text;
    GetMessageText(text);
    return text;
  }
};
using CExceptionPtr = std::unique_ptr<CException>;

// Raises a new exception of type E, thrown as E* (so a handler for any base pointer catches it).
template <class E, class... Args>
[[noreturn]] void Raise(Args&&... args) {
  throw new E(std::forward<Args>(args)...);
}

// Runs the callable and returns the exception of type E it raised, now owned, or null when it raised
// none; exceptions of other types pass on. For the places that turn a failure into an answer:
//   if (const Vrn::CExceptionPtr failure = Vrn::Caught([&] { ... })) log << failure->MessageText();
template <class E = CException, class Callable>
std::unique_ptr<E> Caught(Callable&& callable) {
  try {
    std::forward<Callable>(callable)();
  } catch (E* raw) {
    return std::unique_ptr<E>(raw);
  }
  return nullptr;
}

class CMemoryException : public CException {
 public:
  void GetMessageText(CUnicodeString& text) const override;
};

// A named message with up to three parameters (%0, %1, %2). The fallback text is used when no
// registered message module defines the name (always give one for names outside this library's
// own table).
class CCheckException : public CException {
 public:
  CCheckException(CUnicodeString name, CUnicodeString fallback, std::initializer_list<CUnicodeString> params = {});
  void GetMessageText(CUnicodeString& text) const override;
  const CUnicodeString& Name() const noexcept { return m_name; }
  const std::vector<CUnicodeString>& Params() const noexcept { return m_params; }

 private:
  CUnicodeString m_name;
  CUnicodeString m_fallback;
  std::vector<CUnicodeString> m_params;
};

// A failure that was already reported to the user: no text, showing it does nothing.
class CUserException : public CException {
 public:
  void GetMessageText(CUnicodeString& text) const override { text.Clear(); }
  void Show() const override {}
};

enum class CheckKind : int { Assertion = 0, AssertionWithCode = 1, Presumption = 2, PresumptionWithCode = 3 };

class CInternalError : public CException {
 public:
  CInternalError(CUnicodeString file, int line, CheckKind kind, DWORD code);
  void GetMessageText(CUnicodeString& text) const override;
  void Show() const override;  // the third and later internal errors ask OK/Cancel
  const CUnicodeString& File() const noexcept { return m_file; }
  int Line() const noexcept { return m_line; }
  CheckKind Kind() const noexcept { return m_kind; }
  DWORD Code() const noexcept { return m_code; }

 private:
  CUnicodeString m_file;
  int m_line;
  CheckKind m_kind;
  DWORD m_code;
};

class CCOMException : public CException {
 public:
  // Takes ownership of errorInfo (may be null); it is released with the exception.
  CCOMException(HRESULT code, IErrorInfo* errorInfo = nullptr);
  ~CCOMException() override;
  CCOMException(const CCOMException&) = delete;
  CCOMException& operator=(const CCOMException&) = delete;
  void GetMessageText(CUnicodeString& text) const override;
  HRESULT Code() const noexcept { return m_code; }

 private:
  HRESULT m_code;
  IErrorInfo* m_errorInfo;
};

class CLastErrorException : public CException {
 public:
  explicit CLastErrorException(DWORD code);
  void GetMessageText(CUnicodeString& text) const override;
  DWORD Code() const noexcept { return m_code; }

 private:
  DWORD m_code;
};

enum class FileCause : int {
  Generic = 1,
  NotFound,
  BadPath,
  TooManyOpenFiles,
  AccessDenied,
  InvalidFile,
  RemoveCurrentDir,
  DirectoryFull,
  BadSeek,
  HardIO,
  SharingViolation,
  LockViolation,
  DiskFull,
  EndOfFile,
  AlreadyExists,
  DirNotEmpty,
};

// The cause a Windows error code maps to (code 0 is not an error: internal error).
FileCause FileCauseFromError(DWORD code);

class CFileException : public CException {
 public:
  CFileException(FileCause cause, DWORD code, CUnicodeString fileName);
  // The cause from the Windows error code.
  CFileException(DWORD code, CUnicodeString fileName);
  void GetMessageText(CUnicodeString& text) const override;
  FileCause Cause() const noexcept { return m_cause; }
  DWORD Code() const noexcept { return m_code; }
  const CUnicodeString& FileName() const noexcept { return m_fileName; }

 private:
  FileCause m_cause;
  DWORD m_code;
  CUnicodeString m_fileName;
};

// Raises CFileException for GetLastError() (read first) and the file name.
[[noreturn]] void RaiseFileError(const CUnicodeString& fileName);
// Raises CLastErrorException for GetLastError().
[[noreturn]] void RaiseLastError();
// Raises CCOMException for a failed HRESULT, picking up the thread's COM error information.
[[noreturn]] void RaiseComError(HRESULT code);
inline void CheckHResult(HRESULT code) {
  if (FAILED(code)) RaiseComError(code);
}

// The routine behind every failed internal check: hook, stop mode, then CInternalError in throwing
// mode (or, outside it, the check message shown through the message service).
void InternalCheckFailed(CheckKind kind, const char* file, int line, DWORD code);
[[noreturn]] void RaiseInternalError(std::source_location where = std::source_location::current());

inline void Check(bool ok, std::source_location where = std::source_location::current()) {
  if (!ok) InternalCheckFailed(CheckKind::Assertion, where.file_name(), static_cast<int>(where.line()), 0);
}
// As Check, carrying GetLastError() (read before anything else can change it).
inline void CheckLastError(bool ok, std::source_location where = std::source_location::current()) {
  if (!ok) {
    const DWORD code = ::GetLastError();
    InternalCheckFailed(CheckKind::AssertionWithCode, where.file_name(), static_cast<int>(where.line()), code);
  }
}
inline void Presume(bool ok, std::source_location where = std::source_location::current()) {
  if (!ok) InternalCheckFailed(CheckKind::Presumption, where.file_name(), static_cast<int>(where.line()), 0);
}
inline void PresumeLastError(bool ok, std::source_location where = std::source_location::current()) {
  if (!ok) {
    const DWORD code = ::GetLastError();
    InternalCheckFailed(CheckKind::PresumptionWithCode, where.file_name(), static_cast<int>(where.line()), code);
  }
}

// The process-wide hook called first by every failed check (none by default). Returns the old one.
using CheckHook = void (*)(CheckKind kind, const char* file, int line, DWORD code);
CheckHook SetCheckHook(CheckHook hook);

// The system's text for a Windows error code (trailing line breaks removed), empty when it has none.
CUnicodeString SystemErrorText(DWORD code, DWORD languageId = 0);

}  // namespace Vrn
