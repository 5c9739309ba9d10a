// Entry path normalisation and containment.
#include "ZipPath.h"

#include <array>
#include <cwctype>

#include "Files.h"
#include "TextLimits.h"
#include "VrnWindows.h"
#include "ZipArchiveException.h"

namespace Zlib {
namespace {

bool IsAsciiLetter(wchar_t ch) noexcept { return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z'); }

bool IsForbiddenChar(wchar_t ch) noexcept {
  return ch < 0x20 || std::wstring_view(L"<>:\"|?*").find(ch) != std::wstring_view::npos;
}

// Windows opens these devices in every folder, with or without an extension.
bool IsDeviceName(std::wstring_view step) noexcept {
  const std::wstring_view base = step.substr(0, step.find(L'.'));
  constexpr std::array<std::wstring_view, 6> kPlain = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  const auto equalsNoCase = [](std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (towupper(a[i]) != b[i]) return false;
    return true;
  };
  for (const std::wstring_view name : kPlain)
    if (equalsNoCase(base, name)) return true;
  // COM1-9 and LPT1-9, and the superscript digits that Windows also maps to those ports.
  if (base.size() == 4 && std::wstring_view(L"123456789\u00b9\u00b2\u00b3").find(base[3]) != std::wstring_view::npos)
    return equalsNoCase(base.substr(0, 3), L"COM") || equalsNoCase(base.substr(0, 3), L"LPT");
  return false;
}

bool IsLegalStep(std::wstring_view step) noexcept {
  if (step.empty() || step.back() == L'.' || step.back() == L' ') return false;  // also "." and ".."
  for (const wchar_t ch : step)
    if (IsForbiddenChar(ch)) return false;
  return !IsDeviceName(step);
}

bool IsLegalRelativePath(std::wstring_view path) noexcept {
  if (path.ends_with(L'/')) path.remove_suffix(1);
  while (true) {
    const size_t slash = path.find(L'/');
    if (!IsLegalStep(path.substr(0, slash))) return false;
    if (slash == std::wstring_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace

Vrn::CUnicodeString NormalizeEntryPath(std::wstring_view path, const Vrn::CUnicodeString& archiveName,
                                       bool allowEmpty) {
  const auto illegal = [&] { RaiseZipError(CZipArchiveException::IllegalPath, archiveName, path); };
  if (path.empty()) {
    if (allowEmpty) return {};
    illegal();
  }
  Vrn::CUnicodeString result(path);
  result.Replace(L"\\", L"/");
  // Rooted ("/x", "//server/share", "\\?\x") and drive ("C:x", "C:/x") forms.
  if (result[0] == L'/' || (result.Length() >= 2 && IsAsciiLetter(result[0]) && result[1] == L':')) illegal();
  if (result.StartsWith(L"./")) result = result.Mid(2);
  if (result.IsEmpty()) {
    if (allowEmpty) return result;
    illegal();
  }
  if (!IsLegalRelativePath(result)) illegal();
  return result;
}

Vrn::CUnicodeString TargetPath(const Vrn::CUnicodeString& destination, std::wstring_view relative,
                               const Vrn::CUnicodeString& archiveName, const Vrn::CUnicodeString& entryName) {
  Vrn::CUnicodeString local(relative);
  if (local.EndsWith(L"/")) local = local.Left(local.Length() - 1);
  local.Replace(L"/", L"\\");
  const Vrn::CUnicodeString target = Vrn::JoinPath(destination, local);

  const Vrn::CUnicodeString root = Vrn::WithTrailingSeparator(Vrn::FullPath(destination));
  const Vrn::CUnicodeString full = Vrn::FullPath(target);
  if (!Vrn::LiesBelow(full, root))
    RaiseZipError(CZipArchiveException::IllegalPath, archiveName, entryName, L"Target lies outside the destination");
  return target;
}

}  // namespace Zlib
