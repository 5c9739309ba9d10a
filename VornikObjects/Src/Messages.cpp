// The message system: this library's table, registered message modules, lookup and parameters.
#include "Messages.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

#include "MessageHandlers.h"
#include "Setup.h"

namespace Vrn {

namespace {

static_assert(std::is_sorted(std::begin(kLibraryMessages), std::end(kLibraryMessages),
                             [](const CMessageEntry& a, const CMessageEntry& b) {
                               return std::wstring_view(a.name) < std::wstring_view(b.name);
                             }),
              "the message table must be sorted by name in ordinal order");

using GetResourceIdFunction = UINT(__stdcall*)(const wchar_t*);
using NumberOfMessagesFunction = UINT(__stdcall*)();
using GetMessageNameFunction = const wchar_t*(__stdcall*)(UINT);

struct MessageModule {
  HMODULE module;
  uint32_t flags;
  GetResourceIdFunction getResourceId;
  NumberOfMessagesFunction numberOfMessages;
  GetMessageNameFunction getMessageName;
};

std::mutex g_moduleListLock;
std::vector<MessageModule> g_modules;

// The string with the id from the module's string table, or nothing.
std::optional<CUnicodeString> LoadModuleString(HMODULE module, UINT id) {
  const wchar_t* text = nullptr;
  // With a zero buffer size LoadStringW hands out a pointer into the resource itself.
  const int length = LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
  if (length <= 0 || !text) return std::nullopt;
  return CUnicodeString(text, static_cast<size_t>(length));
}

// Shows the parameter-count findings for a message (only with "CheckMessagesParamsCount").
void CheckParameterCount(std::wstring_view name, std::wstring_view text, size_t given) {
  std::set<size_t> used;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'%' || text[i + 1] < L'0' || text[i + 1] > L'9') continue;
    size_t index = 0;
    size_t j = i + 1;
    for (; j < text.size() && text[j] >= L'0' && text[j] <= L'9'; ++j) index = index * 10 + (text[j] - L'0');
    used.insert(index);
    i = j - 1;
  }
  const CUnicodeString quotedName(name);
  if (used.size() != given) {
    const CUnicodeString message = L"Number of params in message \"" + quotedName + L"\" is invalid: " +
                                   CUnicodeString::FromUInt(used.size()) + L", expected " +
                                   CUnicodeString::FromUInt(given) + L".";
    ShowMessageText(message, ApplicationTitle(), MB_OKCANCEL | MB_ICONEXCLAMATION);
  }
  if (!used.empty()) {
    CUnicodeString missing;
    for (size_t index = 0; index < *used.rbegin(); ++index) {
      if (used.count(index)) continue;
      if (!missing.IsEmpty()) missing += L", ";
      missing += CUnicodeString::FromUInt(index);
    }
    if (!missing.IsEmpty())
      ShowMessageText(L"Some parameters in message \"" + quotedName + L"\" are missing: " + missing + L".",
                      ApplicationTitle(), MB_OKCANCEL | MB_ICONEXCLAMATION);
  }
}

}  // namespace

uint32_t LibraryMessageId(const wchar_t* name) noexcept {
  if (!name) return 0;
  const std::wstring_view wanted(name);
  const auto found = std::lower_bound(
      std::begin(kLibraryMessages), std::end(kLibraryMessages), wanted,
      [](const CMessageEntry& entry, std::wstring_view key) { return std::wstring_view(entry.name) < key; });
  return found != std::end(kLibraryMessages) && wanted == found->name ? found->id : 0;
}

const wchar_t* LibraryMessageName(uint32_t index) noexcept {
  return index < kLibraryMessageCount ? kLibraryMessages[index].name : nullptr;
}

std::wstring_view LibraryMessageText(std::wstring_view name) noexcept {
  for (const auto& entry : kLibraryMessages)
    if (name == entry.name) return entry.text;
  return {};
}

void RegisterMessageModule(HMODULE module) {
  Check(module != nullptr);
  MessageModule entry{module, 0, nullptr, nullptr, nullptr};
  entry.getResourceId = ProcAddress<GetResourceIdFunction>(module, "GetResourceID");
  if (entry.getResourceId) entry.numberOfMessages = ProcAddress<NumberOfMessagesFunction>(module, "NumberOfMessages");
  if (entry.numberOfMessages) entry.getMessageName = ProcAddress<GetMessageNameFunction>(module, "GetMessageName");

  std::lock_guard lock(g_moduleListLock);
  const auto existing =
      std::find_if(g_modules.begin(), g_modules.end(), [&](const MessageModule& m) { return m.module == module; });
  if (existing != g_modules.end()) {
    std::rotate(existing, existing + 1, g_modules.end());
    return;
  }
  g_modules.push_back(entry);
}

size_t MessageModuleCount() {
  std::lock_guard lock(g_moduleListLock);
  return g_modules.size();
}

CUnicodeString LookupMessage(std::wstring_view name, std::wstring_view fallback) {
  if (IsStarted()) {
    const CUnicodeString key(name);
    std::vector<MessageModule> modules;
    {
      std::lock_guard lock(g_moduleListLock);
      modules = g_modules;
    }
    for (auto module = modules.rbegin(); module != modules.rend(); ++module) {
      if (!module->getResourceId) continue;
      const UINT id = module->getResourceId(key.c_str());
      if (id == 0) continue;
      if (auto text = LoadModuleString(module->module, id)) return *text;
    }
  }
  if (!fallback.empty()) return CUnicodeString(fallback);
  const std::wstring_view own = LibraryMessageText(name);
  if (!own.empty()) return CUnicodeString(own);
  return L"Message " + CUnicodeString(name) + L" (no text available): %0 %1 %2";
}

CUnicodeString SubstituteParams(std::wstring_view text, std::span<const CUnicodeString> params) {
  CUnicodeString result;
  size_t i = 0;
  while (i < text.size()) {
    const size_t percent = text.find(L'%', i);
    if (percent == std::wstring_view::npos) {
      result += text.substr(i);
      break;
    }
    result += text.substr(i, percent - i);
    size_t j = percent + 1;
    if (j >= text.size() || text[j] < L'0' || text[j] > L'9') {
      result += L'%';
      i = j;
      continue;
    }
    size_t index = 0;
    bool huge = false;
    for (; j < text.size() && text[j] >= L'0' && text[j] <= L'9'; ++j) {
      if (index > 100000) huge = true;  // far past any parameter list: stop growing, still consume
      if (!huge) index = index * 10 + (text[j] - L'0');
    }
    if (!huge && index < params.size()) result += params[index];
    i = j;
  }
  return result;
}

CUnicodeString FormatMessageText(std::wstring_view name, std::wstring_view fallback,
                                 std::span<const CUnicodeString> params) {
  const CUnicodeString text = LookupMessage(name, fallback);
  if (HasDebugFlag(DebugFlag::CheckMessagesParamsCount)) CheckParameterCount(name, text, params.size());
  return SubstituteParams(text, params);
}

}  // namespace Vrn
