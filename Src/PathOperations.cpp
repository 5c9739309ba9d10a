// Path operations over the file services of the core library and the network-name services.
#include "PathOperations.h"

#include <vector>
// winnetwk.h is left out by WIN32_LEAN_AND_MEAN; it defines the universal-name records.
#include <winnetwk.h>

#include "Errors.h"
#include "Files.h"
#include "NetworkNames.h"
#include "TextLimits.h"

namespace Msi {

namespace {

// The first buffer offered to WNetGetUniversalName, in bytes.
constexpr DWORD kUniversalNameBufferSize = 520;
// A NetBIOS name has at most 15 characters.
constexpr DWORD kComputerNameBufferChars = 16;
constexpr ULONG kDfsStorageOnline = 2;

// The record's first field (the universal name) as read by one of the two functions: grows the
// buffer once when the function asks for more, and a second request is an internal error.
template <class Char, class Call>
std::optional<std::basic_string<Char>> QueryUniversalName(Call call) {
  // Kept in 64-bit units so that the record at its start is aligned.
  std::vector<uint64_t> buffer(kUniversalNameBufferSize / sizeof(uint64_t));
  DWORD size = kUniversalNameBufferSize;
  DWORD result = call(buffer.data(), &size);
  if (result == ERROR_MORE_DATA) {
    buffer.resize(size / sizeof(uint64_t) + 1);
    size = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
    result = call(buffer.data(), &size);
    Vrn::Check(result != ERROR_MORE_DATA);
  }
  if (result != NO_ERROR) return std::nullopt;
  // REMOTE_NAME_INFO and UNIVERSAL_NAME_INFO both start with the universal name.
  const Char* name = *reinterpret_cast<const Char* const*>(buffer.data());
  return name ? std::basic_string<Char>(name) : std::basic_string<Char>();
}

}  // namespace

PathType PathKind(std::wstring_view path) {
  // "/" counts as "\", so any two leading separators make a UNC path.
  if (path.size() >= 2 && Vrn::IsPathSeparator(path[0]) && Vrn::IsPathSeparator(path[1])) return PathType::Unc;
  if (!path.empty() && Vrn::IsPathSeparator(path[0])) return PathType::Rooted;
  if (path.size() >= 2 && path[1] == L':')
    return path.size() > 2 && Vrn::IsPathSeparator(path[2]) ? PathType::DriveAbsolute : PathType::DriveRelative;
  return PathType::Relative;
}

std::optional<CUnicodeString> GetUniversalName(const CUnicodeString& path) {
  if (PathKind(path) == PathType::Unc) return std::nullopt;
  Vrn::CheckLength(path, Vrn::kPathLimit);
  CNetworkNames& names = NetworkNames();
  if (const auto wide = QueryUniversalName<wchar_t>([&](void* buffer, DWORD* size) {
        return names.UniversalNameW(path.c_str(), REMOTE_NAME_INFO_LEVEL, buffer, size);
      }))
    return CUnicodeString(*wide);
  const std::string ansiPath = path.ToCodePage(CP_ACP);
  if (const auto ansi = QueryUniversalName<char>([&](void* buffer, DWORD* size) {
        return names.UniversalNameA(ansiPath.c_str(), REMOTE_NAME_INFO_LEVEL, buffer, size);
      }))
    return CUnicodeString::FromCodePage(*ansi, CP_ACP);
  return std::nullopt;
}

std::optional<CUnicodeString> ResolveDfsPath(const CUnicodeString& path) {
  if (PathKind(path) != PathType::Unc) return std::nullopt;
  Vrn::CheckLength(path, Vrn::kPathLimit);
  CNetworkNames& names = NetworkNames();
  CUnicodeString prefix = path;
  // The components cut off so far, the last one of the path first.
  std::vector<CUnicodeString> cutOff;
  std::vector<CDfsStorage> storages;
  while (!prefix.IsEmpty()) {
    const DWORD status = names.DfsStorages(prefix.c_str(), storages);
    if (status == ERROR_MOD_NOT_FOUND || status == ERROR_PROC_NOT_FOUND) return std::nullopt;
    if (status == NO_ERROR) {
      for (const CDfsStorage& storage : storages) {
        if (storage.state != kDfsStorageOnline) continue;
        CUnicodeString resolved = L"\\\\" + storage.server + L"\\" + storage.share;
        for (auto part = cutOff.rbegin(); part != cutOff.rend(); ++part) resolved += L"\\" + *part;
        return resolved;
      }
    }
    const size_t separator = prefix.ReverseFind(L'\\');
    if (separator == CUnicodeString::npos) {
      prefix.Clear();
    } else {
      cutOff.push_back(prefix.Mid(separator + 1));
      prefix = prefix.Left(separator);
    }
  }
  return std::nullopt;
}

CUnicodeString HostPartOfUncPath(std::wstring_view path) {
  if (PathKind(path) != PathType::Unc) return {};
  const std::wstring_view rest = path.substr(2);
  return CUnicodeString(rest.substr(0, rest.find_first_of(L"\\/.")));
}

bool IsPathOnThisComputer(const CUnicodeString& path) {
  CUnicodeString resolved = path;
  if (auto universal = GetUniversalName(resolved)) resolved = *universal;
  if (auto real = ResolveDfsPath(resolved)) resolved = *real;
  const CUnicodeString host = HostPartOfUncPath(resolved);
  if (host.IsEmpty()) return true;
  wchar_t computer[kComputerNameBufferChars] = {};
  DWORD length = kComputerNameBufferChars;
  if (!::GetComputerNameW(computer, &length)) return false;
  return host.EqualsNoCaseAscii(std::wstring_view(computer, length));
}

bool IsSourceOnThisComputer(MSIHANDLE session) { return IsPathOnThisComputer(GetSourcePath(session, L"TARGETDIR")); }

void TestFolderWritable(const CUnicodeString& folder) {
  Vrn::RemoveFile(Vrn::CreateUniqueTempFile(L"Test", L"tmp", folder));
}

}  // namespace Msi
