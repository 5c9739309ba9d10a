// Writing below a folder that other users may change: links on the way are refused, a final link is
// never followed, and every opened handle must end up below the root.
#include "WriteRoot.h"

#include <algorithm>
#include <vector>

#include "Errors.h"

namespace Vrn {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kCopyBufferSize = 1 << 18;

[[noreturn]] void RaiseLink(const CUnicodeString& path, const CUnicodeString& link, const CUnicodeString& root) {
  Raise<CCheckException>(L"ERR_LINK_BELOW_ROOT", L"%0 was not written: %1 is a link (a reparse point) inside %2.",
                         std::initializer_list<CUnicodeString>{path, link, root});
}

[[noreturn]] void RaiseOutside(const CUnicodeString& path, const CUnicodeString& where, const CUnicodeString& root) {
  Raise<CCheckException>(L"ERR_PATH_LEAVES_ROOT", L"%0 was not written: it leads to %1, outside %2.",
                         std::initializer_list<CUnicodeString>{path, where, root});
}

// Where the handle really is, as the file system resolved every link on the way: its volume and its
// path there ("\\dir\\file"). GetFinalPathNameByHandleW would give the drive as well, but Wine refuses
// it for paths beyond MAX_PATH.
CFinalName FinalNameOf(HANDLE handle, const CUnicodeString& path) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) RaiseFileError(path);
  std::vector<char> buffer(sizeof(FILE_NAME_INFO) + 1024 * sizeof(wchar_t));
  for (;;) {
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (GetFileInformationByHandleEx(handle, FileNameInfo, name, static_cast<DWORD>(buffer.size())))
      return {information.dwVolumeSerialNumber,
              CUnicodeString(std::wstring_view(name->FileName, name->FileNameLength / sizeof(wchar_t)))};
    if (GetLastError() != ERROR_MORE_DATA || buffer.size() > (1u << 20)) RaiseFileError(path);
    buffer.resize(buffer.size() * 2);
  }
}

// CreateFileW, with the last error of that call kept for the caller.
CFileHandle Open(const CUnicodeString& path, DWORD access, DWORD share, DWORD disposition, DWORD& error) {
  CFileHandle handle(CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  error = GetLastError();
  return handle;
}

}  // namespace

CWriteRoot::CWriteRoot(const CUnicodeString& root) : m_path(WithoutTrailingSeparators(FullPath(root))) {
  m_prefix = WithTrailingSeparator(m_path);
  CreateDirectoryWithParents(m_path);
  const CFileHandle handle(CreateFileW(m_path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) RaiseFileError(m_path);
  m_final = FinalNameOf(handle.Get(), m_path);
  m_final.name = WithTrailingSeparator(m_final.name);
}

void CWriteRoot::CheckNoLinks(const CUnicodeString& path, bool includeLast) const {
  const CUnicodeString full = WithoutTrailingSeparators(FullPath(path));
  if (full.EqualsNoCase(m_path)) return;  // the root itself: the caller's choice
  if (!LiesBelow(full, m_prefix)) RaiseOutside(path, full, m_path);
  for (size_t cut = full.Find(L'\\', m_prefix.Length());; cut = full.Find(L'\\', cut + 1)) {
    const bool last = cut == CUnicodeString::npos;
    if (last && !includeLast) return;
    const CUnicodeString step = last ? full : CUnicodeString(full.Left(cut));
    const DWORD attributes = GetFileAttributesW(step.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;  // nothing below a missing step exists yet
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) RaiseLink(path, step, m_path);
    if (last) return;
  }
}

void CWriteRoot::CreateFolder(const CUnicodeString& folder) const {
  CheckNoLinks(folder, true);
  CreateDirectoryWithParents(folder);
  // A link planted while the folders were made is refused before anything is written below it.
  CheckNoLinks(folder, true);
}

void CWriteRoot::CheckFinalPath(HANDLE handle, const CUnicodeString& path) const {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    RaiseLink(path, path, m_path);
  const CFinalName final = FinalNameOf(handle, path);
  if (final.volume != m_final.volume || !LiesBelow(final.name, m_final.name)) RaiseOutside(path, final.name, m_path);
}

CFileHandle CWriteRoot::OpenHandle(const CUnicodeString& path, DWORD access, DWORD share, DWORD disposition,
                                   DWORD* openError) const {
  CheckNoLinks(path, false);
  const auto failed = [&](DWORD error) {
    if (!openError) Raise<CFileException>(error, path);
    *openError = error;
    return CFileHandle();
  };
  // A new file is made with CREATE_NEW (which never follows a link) and may be removed again; an
  // existing one is opened without truncating it, which waits until it has passed the checks.
  const bool mayCreate = disposition != OPEN_EXISTING;
  DWORD error = 0;
  CFileHandle handle;
  bool created = false;
  if (mayCreate) {
    handle = Open(path, access | DELETE, share, CREATE_NEW, error);
    created = handle.IsValid();
    if (!created && (error != ERROR_FILE_EXISTS || disposition == CREATE_NEW)) return failed(error);
  }
  if (!created) {
    handle = Open(path, access, share, OPEN_EXISTING, error);
    if (!handle) return failed(error);
  }
  try {
    CheckFinalPath(handle.Get(), path);
  } catch (CException*) {
    if (created) {
      FILE_DISPOSITION_INFO remove{TRUE};
      SetFileInformationByHandle(handle.Get(), FileDispositionInfo, &remove, sizeof remove);
    }
    throw;
  }
  if (disposition == CREATE_ALWAYS && !created && !SetEndOfFile(handle.Get())) RaiseFileError(path);
  return handle;
}

CFile CWriteRoot::OpenFile(const CUnicodeString& path, CFile::OpenMode mode) const {
  using enum CFile::OpenMode;
  Check(mode != Read);
  const DWORD disposition = mode == ReadWrite ? OPEN_EXISTING : mode == CreateAlways ? CREATE_ALWAYS : OPEN_ALWAYS;
  const DWORD access = mode == Append ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
  CFile file(OpenHandle(path, access, FILE_SHARE_READ, disposition), path);
  if (mode == Append) file.Seek(file.Size());
  return file;
}

void CWriteRoot::WriteBytes(const CUnicodeString& path, std::string_view bytes) const {
  OpenFile(path, CFile::OpenMode::CreateAlways).Write(bytes.data(), bytes.size());
}

void CWriteRoot::CopyInto(const CUnicodeString& source, const CUnicodeString& destination) const {
  CFile input(source, CFile::OpenMode::Read);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(input.Handle(), &information)) RaiseFileError(source);
  CFile output = OpenFile(destination, CFile::OpenMode::CreateAlways);
  std::vector<char> buffer(kCopyBufferSize);
  for (size_t read; (read = input.Read(buffer.data(), buffer.size())) > 0;) output.Write(buffer.data(), read);
  FILE_BASIC_INFO basic{};  // zero times stay as they are
  basic.LastWriteTime.LowPart = information.ftLastWriteTime.dwLowDateTime;
  basic.LastWriteTime.HighPart = static_cast<LONG>(information.ftLastWriteTime.dwHighDateTime);
  basic.FileAttributes = information.dwFileAttributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(output.Handle(), FileBasicInfo, &basic, sizeof basic)) RaiseFileError(destination);
}

void CWriteRoot::ClearAttributes(const CUnicodeString& path) const {
  const CFileHandle handle = OpenHandle(path, FILE_WRITE_ATTRIBUTES, kShareAll, OPEN_EXISTING);
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(handle.Get(), FileBasicInfo, &basic, sizeof basic)) RaiseFileError(path);
}

}  // namespace Vrn
