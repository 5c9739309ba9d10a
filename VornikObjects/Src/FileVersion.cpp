// The file-version query over the version resource.
#include "FileVersion.h"

#include <vector>

#include "TextLimits.h"
#include "VrnWindows.h"

namespace Vrn {

CUnicodeString CFileVersion::ToString() const {
  return CUnicodeString::FromUInt(major) + L"." + CUnicodeString::FromUInt(minor) + L"." +
         CUnicodeString::FromUInt(build) + L"." + CUnicodeString::FromUInt(revision);
}

std::optional<CFileVersion> QueryFileVersion(const CUnicodeString& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(Checked(path, kPathLimit), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> data(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO))
    return std::nullopt;
  return CFileVersion{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                      LOWORD(fixed->dwFileVersionLS)};
}

}  // namespace Vrn
