// Core-library exceptions: their message texts, the file-exception cause table and the internal
// check routine.
#include "Errors.h"

#include <oleauto.h>

#include <algorithm>
#include <array>
#include <mutex>

#include "MessageHandlers.h"
#include "Messages.h"
#include "Setup.h"

namespace Vrn {

CException::~CException() = default;

void CException::Show() const {
  CUnicodeString text;
  GetMessageText(text);
  ShowMessageText(text, ApplicationTitle(), 0);
}

namespace {

// Formats one of this library's own messages (the table's text is the fallback).
CUnicodeString LibraryMessage(std::wstring_view name, std::initializer_list<CUnicodeString> params) {
  return FormatMessageText(name, LibraryMessageText(name), params);
}

}  // namespace

void CMemoryException::GetMessageText(CUnicodeString& text) const {
  // Prepared once so that it costs no allocation when memory is short.
  static const CUnicodeString kOutOfMemory(L"Out of memory.");
  text = kOutOfMemory;
}

CCheckException::CCheckException(CUnicodeString name, CUnicodeString fallback,
                                 std::initializer_list<CUnicodeString> params)
    : m_name(std::move(name)), m_fallback(std::move(fallback)), m_params(params) {
  Check(m_params.size() <= 3);
}

void CCheckException::GetMessageText(CUnicodeString& text) const {
  text = FormatMessageText(m_name, m_fallback, m_params);
}

CInternalError::CInternalError(CUnicodeString file, int line, CheckKind kind, DWORD code)
    : m_file(std::move(file)), m_line(line), m_kind(kind), m_code(code) {}

void CInternalError::GetMessageText(CUnicodeString& text) const {
  const CUnicodeString line = CUnicodeString::FromInt(m_line);
  if (m_kind == CheckKind::AssertionWithCode || m_kind == CheckKind::PresumptionWithCode)
    text = LibraryMessage(L"MSG_INTERNAL_ERROR_WITH_CODE", {m_file, line, L"0x" + CUnicodeString::FromHex(m_code)});
  else
    text = LibraryMessage(L"MSG_INTERNAL_ERROR", {m_file, line});
}

namespace {
std::atomic<int> g_shownInternalErrors{0};
}

void CInternalError::Show() const {
  // From the third internal error on, the user may end the process.
  const int shown = ++g_shownInternalErrors;
  const UINT style = shown >= 3 ? MB_SYSTEMMODAL | MB_ICONERROR | MB_OKCANCEL : MB_SYSTEMMODAL | MB_ICONERROR;
  const int answer = ShowMessageText(MessageText(), ApplicationTitle(), style);
  if (shown >= 3 && answer == IDCANCEL) TerminateProcessNow();
}

CCOMException::CCOMException(HRESULT code, IErrorInfo* errorInfo) : m_code(code), m_errorInfo(errorInfo) {}

CCOMException::~CCOMException() {
  if (m_errorInfo) m_errorInfo->Release();
}

void CCOMException::GetMessageText(CUnicodeString& text) const {
  if (m_errorInfo) {
    BSTR description = nullptr;
    if (SUCCEEDED(m_errorInfo->GetDescription(&description)) && description) {
      text = CUnicodeString(description, SysStringLen(description));
      SysFreeString(description);
      if (!text.IsEmpty()) return;
    }
  }
  const DWORD code = static_cast<DWORD>(m_code);
  // Codes of the Windows facility carry a Windows error in their low word.
  const DWORD systemCode = HRESULT_FACILITY(m_code) == FACILITY_WIN32 ? (code & 0xFFFF) : code;
  text = SystemErrorText(systemCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
  if (text.IsEmpty()) text = LibraryMessage(L"ERR_UNKNOWN_COM_ERROR", {CUnicodeString::FromHex(code)});
}

CLastErrorException::CLastErrorException(DWORD code) : m_code(code) {}

void CLastErrorException::GetMessageText(CUnicodeString& text) const {
  text = SystemErrorText(m_code);
  if (text.IsEmpty()) text = LibraryMessage(L"ERR_UNKNOWN_LAST_ERROR_TEXT", {CUnicodeString::FromHex(m_code)});
}

namespace {

struct CauseCodes {
  FileCause cause;
  std::initializer_list<DWORD> codes;
};

const CauseCodes kCauseTable[] = {
    {FileCause::NotFound, {2, 6, 18, 107}},
    {FileCause::BadPath, {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}},
    {FileCause::TooManyOpenFiles, {4, 36, 68, 113}},
    {FileCause::AccessDenied, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 999}},
    {FileCause::InvalidFile, {11, 26, 60, 66, 114, 182, 191, 193}},
    {FileCause::RemoveCurrentDir, {16}},
    {FileCause::DirectoryFull, {62}},
    {FileCause::BadSeek, {24, 25, 27, 30, 131, 132}},
    {FileCause::HardIO, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}},
    {FileCause::SharingViolation, {32}},
    {FileCause::LockViolation, {33, 108, 167}},
    {FileCause::DiskFull, {39, 112}},
    {FileCause::EndOfFile, {38}},
    {FileCause::AlreadyExists, {183}},
    {FileCause::DirNotEmpty, {145}},
};

// Message names by cause, index = cause - 1.
const wchar_t* const kCauseMessages[] = {
    L"ERR_FILE_GENERIC",
    L"ERR_FILE_NOT_FOUND",
    L"ERR_FILE_BAD_PATH",
    L"ERR_FILE_TOO_MANY_OPEN_FILES",
    L"ERR_FILE_ACCESS_DENIED",
    L"ERR_FILE_INVALID_FILE",
    L"ERR_FILE_REMOVE_CURRENT_DIR",
    L"ERR_FILE_DIRECTORY_FULL",
    L"ERR_FILE_BAD_SEEK",
    L"ERR_FILE_HARD_IO",
    L"ERR_FILE_SHARING_VIOLATION",
    L"ERR_FILE_LOCK_VIOLATION",
    L"ERR_FILE_DISK_FULL",
    L"ERR_FILE_END_OF_FILE",
    L"ERR_FILE_ALREADY_EXISTS",
    L"ERR_DIR_NOT_EMPTY",
};

}  // namespace

FileCause FileCauseFromError(DWORD code) {
  Check(code != 0);
  for (const auto& entry : kCauseTable)
    if (std::find(entry.codes.begin(), entry.codes.end(), code) != entry.codes.end()) return entry.cause;
  return FileCause::Generic;
}

CFileException::CFileException(FileCause cause, DWORD code, CUnicodeString fileName)
    : m_cause(cause), m_code(code), m_fileName(std::move(fileName)) {}

CFileException::CFileException(DWORD code, CUnicodeString fileName)
    : m_cause(FileCauseFromError(code)), m_code(code), m_fileName(std::move(fileName)) {}

void CFileException::GetMessageText(CUnicodeString& text) const {
  const int index = static_cast<int>(m_cause) - 1;
  Check(index >= 0 && index < static_cast<int>(std::size(kCauseMessages)));
  if (m_cause == FileCause::Generic)
    text = LibraryMessage(kCauseMessages[index], {m_fileName, SystemErrorText(m_code)});
  else
    text = LibraryMessage(kCauseMessages[index], {m_fileName});
}

void RaiseFileError(const CUnicodeString& fileName) {
  const DWORD code = ::GetLastError();
  Raise<CFileException>(code, fileName);
}

void RaiseLastError() {
  const DWORD code = ::GetLastError();
  Raise<CLastErrorException>(code);
}

void RaiseComError(HRESULT code) {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
  Raise<CCOMException>(code, info);
}

CUnicodeString SystemErrorText(DWORD code, DWORD languageId) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, languageId, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  CUnicodeString text;
  if (length > 0 && buffer) text = CUnicodeString(buffer, length);
  if (buffer) LocalFree(buffer);
  text.TrimRight();
  return text;
}

// ---- Internal checks ----

namespace {

std::mutex g_hookLock;
CheckHook g_checkHook = nullptr;
thread_local bool t_reportedInternalError = false;

const wchar_t* const kCheckMessageNames[] = {L"MSG_ASSERT", L"MSG_ASSERTLASTERROR", L"MSG_PRESUME",
                                             L"MSG_PRESUMELASTERROR"};
const wchar_t* const kCheckFallbacks[] = {
    L"Internal Program Error:\nAssertion failed: ( %0 )\n%2, %3.\n( %1 ).",
    L"Internal Program Error:\nAssertion failed: ( %0 )\n%2, %3.\n( %1 ).\nError code: %4 - %5",
    L"Internal Program Error:\nPresumption failed: ( %0 )\n%2, %3.\n( %1 ).",
    L"Internal Program Error:\nPresumption failed: ( %0 )\n%2, %3.\n( %1 ).\nError code: %4 - %5",
};

}  // namespace

CheckHook SetCheckHook(CheckHook hook) {
  std::lock_guard lock(g_hookLock);
  return std::exchange(g_checkHook, hook);
}

void InternalCheckFailed(CheckKind kind, const char* file, int line, DWORD code) {
  CheckHook hook;
  {
    std::lock_guard lock(g_hookLock);
    hook = g_checkHook;
  }
  if (hook) hook(kind, file, line, code);
  ApplyStopMode(AssertStopMode());

  const CUnicodeString fileName = CUnicodeString::FromUtf8(file ? file : "");
  if (ThrowingMode() && !t_reportedInternalError) Raise<CInternalError>(fileName, line, kind, code);

  const int index = static_cast<int>(kind);
  if (index < 0 || index > 3) RaiseInternalError();
  const CUnicodeString text =
      FormatMessageText(kCheckMessageNames[index], kCheckFallbacks[index],
                        {CUnicodeString(), CUnicodeString(), fileName, CUnicodeString::FromInt(line),
                         CUnicodeString::FromUInt(code), SystemErrorText(code)});
  ShowMessageText(text, ApplicationTitle(), MB_SYSTEMMODAL | MB_ICONERROR);
  t_reportedInternalError = true;
}

void RaiseInternalError(std::source_location where) {
  Raise<CInternalError>(CUnicodeString::FromUtf8(where.file_name()), static_cast<int>(where.line()),
                        CheckKind::Assertion, 0);
}

}  // namespace Vrn
