// Core file services over the Win32 file API; file failures are CFileException naming the path.
#include "Files.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>

#include "Errors.h"
#include "Messages.h"
#include "TextLimits.h"

namespace Vrn {

namespace {

// No "insert a disk" or "drive not ready" boxes while probing paths.
constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
// ReadFile and WriteFile take 32-bit counts.
constexpr size_t kMaxTransfer = 0x40000000;
// Name collisions are retried with the next unique part; beyond this many the folder is unusable.
constexpr unsigned kTempNameAttempts = 1000;

class CQuietErrorMode {
 public:
  CQuietErrorMode() noexcept : m_previous(SetErrorMode(kQuietErrorMode)) {}
  ~CQuietErrorMode() { SetErrorMode(m_previous); }
  CQuietErrorMode(const CQuietErrorMode&) = delete;
  CQuietErrorMode& operator=(const CQuietErrorMode&) = delete;

 private:
  UINT m_previous;
};

bool IsDotEntry(const WIN32_FIND_DATAW& data) noexcept {
  const std::wstring_view name = data.cFileName;
  return name == L"." || name == L"..";
}

// Calls visit for each entry a search gives ("." and ".." included) until it returns false; false
// when nothing matched.
template <class Visit>
bool FindEntries(const CUnicodeString& search, Visit visit) {
  WIN32_FIND_DATAW data;
  CFindHandle find;
  {
    CQuietErrorMode quiet;
    find.Reset(FindFirstFileW(Checked(search, kPathLimit), &data));
  }
  if (!find) return false;
  do {
    if (!visit(data)) break;
  } while (FindNextFileW(find.Get(), &data));
  return true;
}

// Length of the root the path starts with: "C:\", "C:", "\\server\share\", "\" or nothing.
size_t RootLength(std::wstring_view path) noexcept {
  if (path.size() >= 2 && path[1] == L':') return path.size() > 2 && IsPathSeparator(path[2]) ? 3 : 2;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    // Server and share names, each followed by a separator.
    size_t position = 2;
    for (int part = 0; part < 2 && position < path.size(); ++part) {
      while (position < path.size() && !IsPathSeparator(path[position])) ++position;
      if (position < path.size()) ++position;
    }
    return position;
  }
  return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

bool ComesBefore(const CDirectoryEntry& a, const CDirectoryEntry& b) noexcept {
  return CompareStringOrdinal(a.fullPath.c_str(), static_cast<int>(a.fullPath.Length()), b.fullPath.c_str(),
                              static_cast<int>(b.fullPath.Length()), TRUE) == CSTR_LESS_THAN;
}

bool SamePath(const CDirectoryEntry& a, const CDirectoryEntry& b) noexcept {
  return CompareStringOrdinal(a.fullPath.c_str(), static_cast<int>(a.fullPath.Length()), b.fullPath.c_str(),
                              static_cast<int>(b.fullPath.Length()), TRUE) == CSTR_EQUAL;
}

bool IsHiddenOrSystem(DWORD attributes) noexcept {
  return (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

// A junction or symbolic link to a folder: removing or listing goes no further than the link.
bool IsLinkedFolder(DWORD attributes) noexcept {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void CollectEntries(const CUnicodeString& folder, const CUnicodeString& pattern, unsigned flags,
                    std::vector<CDirectoryEntry>& entries) {
  FindEntries(JoinPath(folder, pattern), [&](const WIN32_FIND_DATAW& data) {
    if (IsDotEntry(data) || (!(flags & ListHidden) && IsHiddenOrSystem(data.dwFileAttributes))) return true;
    const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!(flags & (directory ? ListDirectories : ListFiles))) return true;
    CDirectoryEntry& entry = entries.emplace_back();
    entry.name = data.cFileName;
    entry.fullPath = JoinPath(folder, entry.name);
    entry.attributes = data.dwFileAttributes;
    entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entry.writeTime = data.ftLastWriteTime;
    return true;
  });
  if (!(flags & ListRecursive)) return;
  // The pattern chooses entries, not the folders to descend into.
  FindEntries(JoinPath(folder, L"*"), [&](const WIN32_FIND_DATAW& data) {
    const DWORD attributes = data.dwFileAttributes;
    if (IsDotEntry(data) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLinkedFolder(attributes) ||
        (!(flags & ListHidden) && IsHiddenOrSystem(attributes)))
      return true;
    CollectEntries(JoinPath(folder, data.cFileName), pattern, flags, entries);
    return true;
  });
}

bool QueryDiskFreeSpace(const wchar_t* path, uint64_t& availableBytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(path, &available, nullptr, nullptr)) return false;
  availableBytes = available.QuadPart;
  return true;
}
std::atomic<FreeSpaceQuery> g_freeSpaceQuery{QueryDiskFreeSpace};

// The temporary-files lock guards the configured temporary directory.
std::mutex g_tempLock;
CUnicodeString g_tempDirectory;
// The files CreateUniqueTempFile made, removed at the last stop of the library.
std::vector<CUnicodeString> g_tempFiles;

struct CByteOrderMark {
  unsigned codePage;
  std::string_view bytes;
};
constexpr CByteOrderMark kByteOrderMarks[] = {
    {1200, "\xFF\xFE"},
    {1201, "\xFE\xFF"},
    {CP_UTF8, "\xEF\xBB\xBF"},
};
constexpr unsigned kUtf16LittleEndian = 1200;
constexpr unsigned kUtf16BigEndian = 1201;

// MultiByteToWideChar knows neither UTF-16 code page, so both are converted here.
CUnicodeString FromUtf16Bytes(std::string_view bytes, bool bigEndian) {
  CUnicodeString text;
  const size_t count = bytes.size() / 2;
  wchar_t* chars = text.GetBuffer(count + 1);
  const size_t high = bigEndian ? 0 : 1;
  for (size_t i = 0; i < count; ++i)
    chars[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i + high]) << 8 |
                                    static_cast<unsigned char>(bytes[2 * i + 1 - high]));
  size_t length = count;
  // A dangling odd byte becomes a replacement character rather than vanishing.
  if (bytes.size() % 2 != 0) chars[length++] = 0xFFFD;
  text.ReleaseBuffer(length);
  return text;
}

std::string ToUtf16Bytes(const CUnicodeString& text, bool bigEndian) {
  std::string bytes(text.Length() * 2, '\0');
  const size_t high = bigEndian ? 0 : 1;
  for (size_t i = 0; i < text.Length(); ++i) {
    bytes[2 * i + high] = static_cast<char>(text[i] >> 8);
    bytes[2 * i + 1 - high] = static_cast<char>(text[i] & 0xFF);
  }
  return bytes;
}

CUnicodeString DecodeText(std::string_view bytes, unsigned codePage) {
  if (codePage == kUtf16LittleEndian || codePage == kUtf16BigEndian)
    return FromUtf16Bytes(bytes, codePage == kUtf16BigEndian);
  return CUnicodeString::FromCodePage(bytes, codePage);
}

std::string EncodeText(const CUnicodeString& text, unsigned codePage) {
  if (codePage == kUtf16LittleEndian || codePage == kUtf16BigEndian)
    return ToUtf16Bytes(text, codePage == kUtf16BigEndian);
  return text.ToCodePage(codePage);
}

}  // namespace

// ---- CFile ----

CFile::CFile(const CUnicodeString& path, OpenMode mode) { Open(path, mode); }

void CFile::Open(const CUnicodeString& path, OpenMode mode) {
  Check(!IsOpen());
  struct CModeParameters {
    DWORD access;
    DWORD disposition;
  };
  static constexpr CModeParameters kModes[] = {
      {GENERIC_READ, OPEN_EXISTING},                  // Read
      {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},  // ReadWrite
      {GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS},  // CreateAlways
      {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},    // OpenOrCreate
      {GENERIC_WRITE, OPEN_ALWAYS},                   // Append
  };
  const CModeParameters& parameters = kModes[static_cast<size_t>(mode)];
  m_handle.Reset(CreateFileW(Checked(path, kPathLimit), parameters.access, FILE_SHARE_READ, nullptr,
                             parameters.disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_handle) RaiseFileError(path);
  m_path = path;
  if (mode == OpenMode::Append && !SetFilePointerEx(m_handle.Get(), LARGE_INTEGER{}, nullptr, FILE_END)) {
    const DWORD code = GetLastError();
    m_handle.Reset();
    Raise<CFileException>(code, path);
  }
}

size_t CFile::Read(void* buffer, size_t size) {
  Check(IsOpen());
  auto* bytes = static_cast<char*>(buffer);
  size_t total = 0;
  while (total < size) {
    const DWORD chunk = static_cast<DWORD>(std::min(size - total, kMaxTransfer));
    DWORD got = 0;
    if (!ReadFile(m_handle.Get(), bytes + total, chunk, &got, nullptr)) RaiseFileError(m_path);
    if (got == 0) break;
    total += got;
  }
  return total;
}

void CFile::ReadExact(void* buffer, size_t size) {
  if (Read(buffer, size) != size) Raise<CFileException>(FileCause::EndOfFile, ERROR_HANDLE_EOF, m_path);
}

void CFile::Write(const void* data, size_t size) {
  Check(IsOpen());
  const auto* bytes = static_cast<const char*>(data);
  size_t total = 0;
  while (total < size) {
    const DWORD chunk = static_cast<DWORD>(std::min(size - total, kMaxTransfer));
    DWORD written = 0;
    if (!WriteFile(m_handle.Get(), bytes + total, chunk, &written, nullptr)) RaiseFileError(m_path);
    // A successful write of nothing would loop for ever; the device has no room.
    if (written == 0) Raise<CFileException>(FileCause::DiskFull, ERROR_DISK_FULL, m_path);
    total += written;
  }
}

uint64_t CFile::Size() const {
  Check(IsOpen());
  LARGE_INTEGER size;
  if (!GetFileSizeEx(m_handle.Get(), &size)) RaiseFileError(m_path);
  return static_cast<uint64_t>(size.QuadPart);
}

uint64_t CFile::Position() const {
  Check(IsOpen());
  LARGE_INTEGER position;
  if (!SetFilePointerEx(m_handle.Get(), LARGE_INTEGER{}, &position, FILE_CURRENT)) RaiseFileError(m_path);
  return static_cast<uint64_t>(position.QuadPart);
}

void CFile::Seek(uint64_t position) {
  Check(IsOpen());
  LARGE_INTEGER target;
  target.QuadPart = static_cast<LONGLONG>(position);
  if (!SetFilePointerEx(m_handle.Get(), target, nullptr, FILE_BEGIN)) RaiseFileError(m_path);
}

void CFile::SetEnd() {
  Check(IsOpen());
  if (!SetEndOfFile(m_handle.Get())) RaiseFileError(m_path);
}

void CFile::SetTimes(const FILETIME* creation, const FILETIME* access, const FILETIME* write) {
  Check(IsOpen());
  if (!SetFileTime(m_handle.Get(), creation, access, write)) RaiseFileError(m_path);
}

// ---- Whole files ----

std::string ReadFileBytes(const CUnicodeString& path) {
  CFile file(path, CFile::OpenMode::Read);
  std::string bytes(static_cast<size_t>(file.Size()), '\0');
  bytes.resize(file.Read(bytes.data(), bytes.size()));
  return bytes;
}

void WriteFileBytes(const CUnicodeString& path, std::string_view bytes) {
  CFile file(path, CFile::OpenMode::CreateAlways);
  file.Write(bytes.data(), bytes.size());
}

// ---- Existence, directories, removal ----

bool PathExists(const CUnicodeString& path) {
  return FindEntries(path, [](const WIN32_FIND_DATAW&) { return false; });
}

bool FileExists(const CUnicodeString& path) {
  bool found = false;
  FindEntries(path, [&found](const WIN32_FIND_DATAW& data) {
    found = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return !found;
  });
  return found;
}

bool DirectoryExists(const CUnicodeString& path) {
  if (path.IsEmpty()) return false;
  DWORD attributes;
  {
    CQuietErrorMode quiet;
    attributes = GetFileAttributesW(Checked(path, kPathLimit));
  }
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void CreateDirectoryWithParents(const CUnicodeString& path) {
  const CUnicodeString folder = WithoutTrailingSeparators(path);
  if (DirectoryExists(folder)) return;
  const size_t cut = folder.View().find_last_of(L"\\/");
  if (cut != std::wstring_view::npos && cut >= RootLength(folder)) CreateDirectoryWithParents(folder.Left(cut));
  if (!CreateDirectoryW(Checked(folder, kPathLimit), nullptr)) {
    const DWORD code = GetLastError();
    // Another process may have created it in the meantime.
    if (code == ERROR_ALREADY_EXISTS && DirectoryExists(folder)) return;
    Raise<CFileException>(code, path);
  }
}

void RemoveFolder(const CUnicodeString& path, bool recursive) {
  if (recursive) {
    for (const CDirectoryEntry& entry : ListDirectory(path, L"*", ListAll)) {
      if (entry.attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(Checked(entry.fullPath, kPathLimit), entry.attributes & ~FILE_ATTRIBUTE_READONLY);
      if (!entry.IsDirectory())
        RemoveFile(entry.fullPath);
      else
        RemoveFolder(entry.fullPath, !IsLinkedFolder(entry.attributes));
    }
  }
  if (!RemoveDirectoryW(Checked(path, kPathLimit))) RaiseFileError(path);
}

void RemoveFile(const CUnicodeString& path) {
  if (!DeleteFileW(Checked(path, kPathLimit))) RaiseFileError(path);
}

// ---- Listing ----

std::vector<CDirectoryEntry> ListDirectory(const CUnicodeString& folder, const CUnicodeString& pattern,
                                           unsigned flags) {
  std::vector<CDirectoryEntry> entries;
  CollectEntries(folder, pattern, flags, entries);
  std::sort(entries.begin(), entries.end(), ComesBefore);
  entries.erase(std::unique(entries.begin(), entries.end(), SamePath), entries.end());
  return entries;
}

// ---- Free space ----

uint32_t FreeSpaceKiB(const CUnicodeString& path) {
  CUnicodeString query = path;
  query.Replace(L"/", L"\\");
  uint64_t available = 0;
  if (!g_freeSpaceQuery.load()(Checked(query, kPathLimit), available)) RaiseLastError();
  return static_cast<uint32_t>(std::min<uint64_t>(available / 1024, kMaxFreeSpaceKiB));
}

FreeSpaceQuery SetFreeSpaceQuery(FreeSpaceQuery query) {
  return g_freeSpaceQuery.exchange(query ? query : QueryDiskFreeSpace);
}

// ---- Temporary files ----

CUnicodeString TemporaryDirectory() {
  {
    std::lock_guard lock(g_tempLock);
    if (!g_tempDirectory.IsEmpty()) return g_tempDirectory;
  }
  CUnicodeString folder;
  DWORD needed = GetTempPathW(0, nullptr);
  for (;;) {
    if (needed == 0) RaiseLastError();
    const DWORD written = GetTempPathW(needed, folder.GetBuffer(needed));
    if (written < needed) {
      folder.ReleaseBuffer(written);
      return WithTrailingSeparator(folder);
    }
    needed = written;
  }
}

void SetTemporaryDirectory(const CUnicodeString& folder) {
  std::lock_guard lock(g_tempLock);
  g_tempDirectory = WithTrailingSeparator(folder);
}

CUnicodeString CreateUniqueTempFile(const CUnicodeString& prefix, const CUnicodeString& extension,
                                    const CUnicodeString& folder) {
  const CUnicodeString directory = folder.IsEmpty() ? TemporaryDirectory() : WithTrailingSeparator(folder);
  const CUnicodeString suffix = extension.IsEmpty() || extension[0] == L'.' ? extension : L"." + extension;
  // Seeded per process so that two processes rarely try the same names.
  static std::atomic<uint32_t> sequence{static_cast<uint32_t>(GetTickCount() ^ (GetCurrentProcessId() << 16))};
  for (unsigned attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const CUnicodeString path = directory + prefix + CUnicodeString::FromHex(sequence++) + suffix;
    const CFileHandle file(
        CreateFileW(Checked(path, kPathLimit), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      std::lock_guard lock(g_tempLock);
      g_tempFiles.push_back(path);
      return path;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
  }
  Raise<CCheckException>(L"ERR_CREATE_TEMP_FILE", LibraryMessageText(L"ERR_CREATE_TEMP_FILE"),
                         std::initializer_list<CUnicodeString>{folder.IsEmpty() ? directory : folder});
}

void ShutdownTemporaryFiles(bool keep) {
  std::lock_guard lock(g_tempLock);
  if (!keep)
    for (const CUnicodeString& path : g_tempFiles) DeleteFileW(path.c_str());  // gone already is fine
  g_tempFiles.clear();
}

// ---- Text files ----

CUnicodeString ReadTextFile(const CUnicodeString& path, unsigned defaultCodePage, unsigned* detectedCodePage) {
  const std::string bytes = ReadFileBytes(path);
  std::string_view body = bytes;
  unsigned codePage = defaultCodePage;
  const auto mark =
      std::find_if(std::begin(kByteOrderMarks), std::end(kByteOrderMarks),
                   [&body](const CByteOrderMark& candidate) { return body.starts_with(candidate.bytes); });
  if (mark != std::end(kByteOrderMarks)) {
    codePage = mark->codePage;
    body.remove_prefix(mark->bytes.size());
  }
  if (detectedCodePage) *detectedCodePage = codePage;
  return DecodeText(body, codePage);
}

void WriteTextFile(const CUnicodeString& path, const CUnicodeString& text, unsigned codePage) {
  const auto mark =
      std::find_if(std::begin(kByteOrderMarks), std::end(kByteOrderMarks),
                   [codePage](const CByteOrderMark& candidate) { return candidate.codePage == codePage; });
  std::string bytes = mark != std::end(kByteOrderMarks) ? std::string(mark->bytes) : std::string();
  bytes += EncodeText(text, codePage);
  WriteFileBytes(path, bytes);
}

// ---- Paths ----

CUnicodeString JoinPath(const CUnicodeString& first, const CUnicodeString& second) {
  if (first.IsEmpty()) return second;
  size_t end = first.Length();
  while (end > 0 && IsPathSeparator(first[end - 1])) --end;
  size_t start = 0;
  while (start < second.Length() && IsPathSeparator(second[start])) ++start;
  return first.Left(end) + L"\\" + second.Mid(start);
}

CUnicodeString WithoutTrailingSeparators(const CUnicodeString& path) {
  const size_t root = RootLength(path);
  size_t end = path.Length();
  while (end > root && IsPathSeparator(path[end - 1])) --end;
  return path.Left(end);
}

bool LiesBelow(const CUnicodeString& path, const CUnicodeString& folder) {
  return path.Length() > folder.Length() && CUnicodeString(path.Left(folder.Length())).EqualsNoCase(folder);
}

CUnicodeString FullPath(const CUnicodeString& path) {
  const DWORD needed = GetFullPathNameW(Checked(path, kPathLimit), 0, nullptr, nullptr);
  if (needed == 0) RaiseFileError(path);
  CUnicodeString full;
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.GetBuffer(needed), nullptr);
  if (length == 0 || length >= needed) RaiseFileError(path);
  full.ReleaseBuffer(length);
  return full;
}

CUnicodeString WithTrailingSeparator(const CUnicodeString& path) {
  if (path.IsEmpty() || IsPathSeparator(path[path.Length() - 1])) return path;
  return path + L"\\";
}

// ---- Configuration-file rewrites ----

namespace {

DWORD NoReplaceFault(ReplaceStep) { return 0; }
std::atomic<ReplaceFaultHook> g_replaceFaultHook{NoReplaceFault};

void InjectReplaceFault(ReplaceStep step, const CUnicodeString& path) {
  if (const DWORD code = g_replaceFaultHook.load()(step)) Raise<CFileException>(code, path);
}

// The folder part of a path ("." for a bare name), so that a temporary file lands on the same volume.
CUnicodeString FolderOf(const CUnicodeString& path) {
  const size_t cut = path.View().find_last_of(L"\\/");
  if (cut == std::wstring_view::npos) return L".";
  return path.Left(std::max(cut, RootLength(path)));
}

}  // namespace

unsigned ByteOrderMarkCodePage(const CUnicodeString& path) {
  CFile file(path, CFile::OpenMode::Read);
  char head[3] = {};
  const std::string_view bytes(head, file.Read(head, sizeof head));
  for (const CByteOrderMark& mark : kByteOrderMarks)
    if (bytes.starts_with(mark.bytes)) return mark.codePage;
  return 0;
}

CUnicodeString CreateUniqueTempFolder(const CUnicodeString& prefix, const CUnicodeString& parent) {
  const CUnicodeString directory = parent.IsEmpty() ? TemporaryDirectory() : WithTrailingSeparator(parent);
  static std::atomic<uint32_t> sequence{static_cast<uint32_t>(GetTickCount() ^ (GetCurrentProcessId() << 16))};
  for (unsigned attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const CUnicodeString path = directory + prefix + CUnicodeString::FromHex(sequence++);
    if (CreateDirectoryW(Checked(path, kPathLimit), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  Raise<CCheckException>(L"ERR_CREATE_TEMP_FILE", LibraryMessageText(L"ERR_CREATE_TEMP_FILE"),
                         std::initializer_list<CUnicodeString>{directory});
}

void ReplaceTextFile(const CUnicodeString& path, const CUnicodeString& text, unsigned codePage, bool withMark) {
  std::string bytes;
  if (withMark)
    for (const CByteOrderMark& mark : kByteOrderMarks)
      if (mark.codePage == codePage) bytes = mark.bytes;
  bytes += EncodeText(text, codePage);
  ReplaceFileBytes(path, bytes);
}

void ReplaceFileBytes(const CUnicodeString& path, std::string_view bytes) {
  const DWORD attributes = GetFileAttributesW(Checked(path, kPathLimit));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    Raise<CFileException>(ERROR_ACCESS_DENIED, path);
  InjectReplaceFault(ReplaceStep::CreateTemporary, path);
  const CUnicodeString temporary = CreateUniqueTempFile(L"~vrn", L".tmp", FolderOf(path));
  try {
    CFile file(temporary, CFile::OpenMode::CreateAlways);
    InjectReplaceFault(ReplaceStep::Write, path);
    file.Write(bytes.data(), bytes.size());
    InjectReplaceFault(ReplaceStep::Flush, path);
    if (!FlushFileBuffers(file.Handle())) RaiseFileError(path);
    file.Close();
    InjectReplaceFault(ReplaceStep::Move, path);
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      RaiseFileError(path);
  } catch (CException*) {
    DeleteFileW(temporary.c_str());
    throw;
  }
}

ReplaceFaultHook SetReplaceFaultHook(ReplaceFaultHook hook) {
  return g_replaceFaultHook.exchange(hook ? hook : NoReplaceFault);
}

}  // namespace Vrn

namespace Vrn {

void KeepTemporaryFile(const CUnicodeString& path) {
  std::lock_guard lock(g_tempLock);
  std::erase(g_tempFiles, path);
}

}  // namespace Vrn
