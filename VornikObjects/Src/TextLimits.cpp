// The length check before every hand-over to Windows, and the notes that let a refusal name the
// property a value came from.
#include "TextLimits.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "Errors.h"
#include "VrnWindows.h"

namespace Vrn {

namespace {

// Enough for the properties of any one action; older notes drop out.
constexpr size_t kMaxNotedSources = 256;

struct CNotedValue {
  CUnicodeString source;
  CUnicodeString value;
};

// The notes of each thread. Not thread_local: the installer unloads the DLL after each call, while
// the thread that made it lives on and would run the destructor of its copy in unloaded code.
std::mutex g_notesLock;
std::unordered_map<DWORD, std::deque<CNotedValue>> g_notes;

// The source of the refused text: a noted value equal to it; else the longest noted value it
// contains that makes at least half of it (a path built on a property); else the shortest noted
// value that contains it (one item of a list property).
CUnicodeString SourceOf(std::wstring_view text) {
  std::lock_guard lock(g_notesLock);
  const CNotedValue* built = nullptr;
  const CNotedValue* item = nullptr;
  for (const CNotedValue& note : g_notes[GetCurrentThreadId()]) {
    const std::wstring_view value = note.value.View();
    if (value.empty()) continue;
    if (value == text) return note.source;
    if (value.size() * 2 >= text.size() && text.find(value) != std::wstring_view::npos) {
      if (!built || value.size() > built->value.Length()) built = &note;
    } else if (value.find(text) != std::wstring_view::npos) {
      if (!item || value.size() < item->value.Length()) item = &note;
    }
  }
  if (built) return built->source;
  return item ? item->source : CUnicodeString();
}

}  // namespace

void CheckLength(std::wstring_view text, const CTextLimit& limit) {
  if (FitsLimit(text, limit)) return;
  const CUnicodeString source = SourceOf(text);
  Raise<CCheckException>(
      L"ERR_VALUE_TOO_LONG", L"%0 is %1 characters long, too long for %2.",
      std::initializer_list<CUnicodeString>{
          source.IsEmpty() ? CUnicodeString(L"A value") : L"A value from " + source,
          CUnicodeString::FromUInt(text.size()),
          CUnicodeString(limit.kind) + L" (at most " + CUnicodeString::FromUInt(limit.maxLength) + L" characters)"});
}

void CheckRegistryKeyPath(std::wstring_view path) {
  CheckLength(path, {L"a registry key path", kPathLimit.maxLength});
  for (size_t start = 0; start <= path.size();) {
    const size_t end = std::min(path.find(L'\\', start), path.size());
    CheckLength(path.substr(start, end - start), kRegistryKeyNameLimit);
    start = end + 1;
  }
}

void CheckAccountName(std::wstring_view account) {
  const size_t slash = account.find(L'\\');
  if (slash != std::wstring_view::npos) CheckLength(account.substr(0, slash), kDomainNameLimit);
  CheckLength(slash == std::wstring_view::npos ? account : account.substr(slash + 1), kAccountNameLimit);
}

void NoteValueSource(const CUnicodeString& source, const CUnicodeString& value) {
  std::lock_guard lock(g_notesLock);
  std::deque<CNotedValue>& notes = g_notes[GetCurrentThreadId()];
  if (notes.size() == kMaxNotedSources) notes.pop_front();
  notes.push_back({source, value});
}

void ForgetValueSources() noexcept {
  std::lock_guard lock(g_notesLock);
  g_notes.erase(GetCurrentThreadId());
}

}  // namespace Vrn
