// The custom-action log OrvantMsiLog.txt and its message handler.
#include "CustomActionLog.h"

#include <mutex>

#include "Errors.h"
#include "Files.h"
#include "HiddenValues.h"
#include "MsiHelper.h"

namespace Msi {

namespace {

constexpr wchar_t kLogName[] = L"OrvantMsiLog";
constexpr wchar_t kLogExtension[] = L".txt";
// The recorded name plus OrvantMsiLog1.txt ... OrvantMsiLog9.txt.
constexpr int kNumberedNames = 9;
constexpr char kByteOrderMark[] = "\xFF\xFE";
// The mark that precedes every appended piece (FF FE in the file).
constexpr wchar_t kPieceMark = 0xFEFF;

// The newest "<digit>\OrvantMsiLog.txt" below the folder, judged by the log file's creation time.
Vrn::CUnicodeString NewestNumberedLogFolder(const Vrn::CUnicodeString& folder) {
  Vrn::CUnicodeString newest;
  FILETIME newestTime{};
  for (const auto& entry : Vrn::ListDirectory(folder, L"?", Vrn::ListDirectories | Vrn::ListHidden)) {
    const wchar_t digit = entry.name.Length() == 1 ? entry.name[0] : L'0';
    // A linked subfolder could lead an elevated run's log anywhere; anyone may plant one here.
    if (digit < L'1' || digit > L'9' || (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    const Vrn::CUnicodeString log = Vrn::JoinPath(entry.fullPath, Vrn::CUnicodeString(kLogName) + kLogExtension);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      continue;
    if (newest.IsEmpty() || CompareFileTime(&data.ftCreationTime, &newestTime) > 0) {
      newest = entry.fullPath;
      newestTime = data.ftCreationTime;
    }
  }
  return newest;
}

// The recorded name with a number inserted before the extension.
Vrn::CUnicodeString NumberedName(const Vrn::CUnicodeString& name, int number) {
  if (number == 0) return name;
  const size_t dot = name.ReverseFind(L'.');
  const size_t slash = name.ReverseFind(L'\\');
  const bool hasExtension = dot != Vrn::CUnicodeString::npos && (slash == Vrn::CUnicodeString::npos || dot > slash);
  const Vrn::CUnicodeString digit = Vrn::CUnicodeString::FromInt(number);
  return hasExtension ? name.Left(dot) + digit + name.Mid(dot) : name + digit;
}

// True for a file that starts with a UTF-16 or UTF-8 byte-order mark.
bool HasUnicodeMark(HANDLE file) {
  unsigned char head[3] = {};
  DWORD got = 0;
  if (!ReadFile(file, head, sizeof head, &got, nullptr)) return false;
  if (got >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) return true;
  return got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
}

// The log file opened below the temporary folder, or an invalid handle with the reason in error when
// it cannot be: a link or a name that leads out of the folder counts as a file that cannot be opened.
Vrn::CFileHandle OpenLogFile(const Vrn::CWriteRoot& root, const Vrn::CUnicodeString& name, DWORD disposition,
                             DWORD& error) {
  Vrn::CFileHandle file;
  if (Vrn::Caught([&] {
        file = root.OpenHandle(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                               &error);
      }))
    error = ERROR_ACCESS_DENIED;
  return file;
}

void WriteAll(HANDLE file, const void* data, size_t size, const Vrn::CUnicodeString& path) {
  DWORD written = 0;
  if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) || written != size) Vrn::RaiseFileError(path);
}

}  // namespace

Vrn::CCacheSetup<bool>& EnableMsiLogSetting() {
  static Vrn::CCacheSetup<bool> setting(Vrn::SetupLocation::User, L"Software\\Orvant\\Debug", L"EnableMsiLog", true);
  return setting;
}

Vrn::CUnicodeString LogTimestamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t text[32];
  swprintf(text, 32, L"%02u-%02u-%04u, %02u:%02u:%02u", now.wDay, now.wMonth, now.wYear, now.wHour, now.wMinute,
           now.wSecond);
  return text;
}

CCustomActionLog::CCustomActionLog(bool enabled, const Vrn::CUnicodeString& temporaryFolder) : m_enabled(enabled) {
  if (!m_enabled) return;
  // Without its folder there is no log (OpenForAppend fails): the log never fails an action.
  Vrn::Caught([&] { m_root.emplace(temporaryFolder); });
  Vrn::CUnicodeString folder = NewestNumberedLogFolder(temporaryFolder);
  if (folder.IsEmpty()) folder = temporaryFolder;
  m_fileName = Vrn::JoinPath(folder, Vrn::CUnicodeString(kLogName) + kLogExtension);
  if (OpenForAppend())
    *this << L"=================================================\r\n...LOGGING started at " + LogTimestamp() +
                 L"\r\n\r\n";
}

bool CCustomActionLog::OpenForAppend() {
  if (!m_root) return false;
  for (int number = 0; number <= kNumberedNames; ++number) {
    const Vrn::CUnicodeString name = NumberedName(m_fileName, number);
    // The file is there for every append but the first.
    DWORD error = 0;
    Vrn::CFileHandle file = OpenLogFile(*m_root, name, OPEN_EXISTING, error);
    bool created = false;
    if (!file && error == ERROR_FILE_NOT_FOUND) {
      file = OpenLogFile(*m_root, name, CREATE_NEW, error);
      created = file.IsValid();
      // Another process may have made it meanwhile.
      if (!file && error == ERROR_FILE_EXISTS) file = OpenLogFile(*m_root, name, OPEN_EXISTING, error);
    }
    if (!file) continue;
    if (created) {
      DWORD written = 0;
      if (!WriteFile(file.Get(), kByteOrderMark, 2, &written, nullptr)) continue;
    } else if (!HasUnicodeMark(file.Get())) {
      continue;  // another program's 8-bit file is left alone
    }
    m_fileName = name;
    m_file = std::move(file);
    return true;
  }
  return false;
}

void CCustomActionLog::Append(std::wstring_view text) {
  if (!m_enabled) return;
  // The mark and the text in one write, so that no other piece can come between them.
  std::wstring piece(1, kPieceMark);
  piece += text;
  Vrn::MaskHiddenValues(piece);
  std::lock_guard lock(m_appendLock);
  if (!m_file && !OpenForAppend()) return;
  try {
    if (!SetFilePointerEx(m_file.Get(), LARGE_INTEGER{}, nullptr, FILE_END)) Vrn::RaiseFileError(m_fileName);
    WriteAll(m_file.Get(), piece.data(), piece.size() * sizeof(wchar_t), m_fileName);
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr ignored(raw);  // the log never fails an action
  }
  m_file.Reset();
}

CCustomActionLog& CCustomActionLog::operator<<(std::string_view text) {
  if (m_enabled) Append(Vrn::CUnicodeString::FromCodePage(text, CP_ACP));
  return *this;
}

CCustomActionLog& CCustomActionLog::operator<<(std::wstring_view text) {
  // The log keeps what the ANSI code page can say: wide text goes through it on its way to the file.
  if (m_enabled) *this << Vrn::CUnicodeString(text).ToCodePage(CP_ACP);
  return *this;
}

CCustomActionLog& CCustomActionLog::operator<<(const wchar_t* text) {
  return *this << std::wstring_view(text ? text : L"");
}

CCustomActionLog& CCustomActionLog::operator<<(int32_t value) { return *this << Vrn::CUnicodeString::FromInt(value); }

CCustomActionLog& CCustomActionLog::operator<<(uint32_t value) { return *this << Vrn::CUnicodeString::FromUInt(value); }

void CCustomActionLog::Close() noexcept {
  std::lock_guard lock(m_appendLock);
  m_file.Reset();
}

CCustomActionLog& CustomActionLog() {
  // Function-local statics: constructed once even when threads race, destroyed when the library
  // unloads, after which nothing appends any more.
  static CCustomActionLog log(EnableMsiLogSetting().Get(), Vrn::TemporaryDirectory());
  return log;
}

int CMsiLogMessageHandler::ShowMessage(HWND, const Vrn::CUnicodeString& text, const Vrn::CUnicodeString& caption,
                                       UINT style) {
  const int answer = Vrn::DefaultButtonAnswer(style);
  if (const MSIHANDLE session = CCallSession::Current()) ShowInstallerError(session, text);
  static const wchar_t kEquals[] = L"============================================================\r\n";
  // The block is one piece, so that a call on another thread cannot split it.
  Vrn::CUnicodeString block = kEquals;
  block += (m_warning ? L"WARNING: " : L"MESSAGE: ") + caption + L"\r\n\t" + text + L"\r\n";
  if (!m_warning)
    block += L"------------------------------------------------------------\r\nMSGRET (default): " +
             DialogResultName(answer) + L"\r\n";
  block += kEquals;
  CustomActionLog() << block;
  return answer;
}

void CMsiLogMessageHandler::HandleException(const Vrn::CException& exception) {
  m_warning = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{m_warning};
  Vrn::CMessageHandler::HandleException(exception);
}

CMsiLogMessageHandler& LogMessageHandler() {
  static CMsiLogMessageHandler handler;
  return handler;
}

namespace {
thread_local MSIHANDLE t_callSession = 0;
}

CCallSession::CCallSession(MSIHANDLE session) noexcept : m_previous(t_callSession) { t_callSession = session; }
CCallSession::~CCallSession() { t_callSession = m_previous; }
MSIHANDLE CCallSession::Current() noexcept { return t_callSession; }

// One piece, so that a name never stands apart from its empty line when two actions log at once.
void LogActionName(std::wstring_view name) { CustomActionLog() << std::wstring_view(std::wstring(name) + L"\r\n\r\n"); }

}  // namespace Msi
