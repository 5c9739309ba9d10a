// The process-wide list of hidden values and the masking of texts bound for a log.
#include "HiddenValues.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "VrnWindows.h"

namespace Vrn {

namespace {

std::mutex g_hiddenLock;
// Longest first, so that a value containing another is masked whole.
std::vector<std::wstring> g_hiddenValues;

void AddLocked(std::wstring value) {
  if (value.size() < kMinHiddenValueLength) return;
  if (std::find(g_hiddenValues.begin(), g_hiddenValues.end(), value) != g_hiddenValues.end()) return;
  const auto place = std::find_if(g_hiddenValues.begin(), g_hiddenValues.end(),
                                  [&](const std::wstring& known) { return known.size() < value.size(); });
  g_hiddenValues.insert(place, std::move(value));
}

}  // namespace

void HideValue(const CUnicodeString& value) {
  if (value.Length() < kMinHiddenValueLength) return;
  const CUnicodeString logged = CUnicodeString::FromCodePage(value.ToCodePage(CP_ACP), CP_ACP);
  std::lock_guard lock(g_hiddenLock);
  AddLocked(value.ToStdString());
  AddLocked(logged.ToStdString());
}

void MaskHiddenValues(std::wstring& text) {
  static constexpr std::wstring_view kMask = kHiddenValueMask;
  std::lock_guard lock(g_hiddenLock);
  for (const std::wstring& value : g_hiddenValues)
    for (size_t at = text.find(value); at != std::wstring::npos; at = text.find(value, at + kMask.size()))
      text.replace(at, value.size(), kMask);
}

CUnicodeString MaskHiddenValues(const CUnicodeString& text) {
  std::wstring masked = text.ToStdString();
  MaskHiddenValues(masked);
  return masked;
}

}  // namespace Vrn
