// Vrn::CUnicodeString: shared buffers, copy on write, the growth rule and conversions.
#include "UnicodeString.h"

#include <cwctype>
#include <limits>
#include <new>

#include "VrnWindows.h"

namespace Vrn {

namespace {

// Buffers up to this many bytes are sized exactly; larger ones grow by a fifth at least, so that
// repeated appends stay linear.
constexpr size_t kExactGrowthBytes = 128;

struct EmptyStorage {
  std::atomic<long> refs{1};
  size_t length = 0;
  size_t capacity = 0;
  wchar_t chars[1] = {0};
};
EmptyStorage g_empty;

}  // namespace

bool IsWhiteSpace(wchar_t ch) noexcept {
  return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n' || ch == L'\v' || ch == L'\f' || ch == 0x00A0;
}

CUnicodeString::Buffer* CUnicodeString::EmptyBuffer() noexcept {
  static_assert(sizeof(EmptyStorage) == sizeof(Buffer));
  return reinterpret_cast<Buffer*>(&g_empty);
}

CUnicodeString::Buffer* CUnicodeString::Allocate(size_t capacity) {
  if (capacity > (std::numeric_limits<size_t>::max() - sizeof(Buffer)) / sizeof(wchar_t) - 1) throw std::bad_alloc();
  void* memory = ::operator new(sizeof(Buffer) + capacity * sizeof(wchar_t));
  Buffer* buffer = static_cast<Buffer*>(memory);
  new (&buffer->refs) std::atomic<long>(1);
  buffer->length = 0;
  buffer->capacity = capacity;
  buffer->chars[0] = 0;
  return buffer;
}

void CUnicodeString::Release(Buffer* buffer) noexcept {
  if (buffer == EmptyBuffer()) return;
  if (buffer->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    buffer->refs.~atomic();
    ::operator delete(buffer);
  }
}

CUnicodeString::CUnicodeString() noexcept : m_buffer(EmptyBuffer()) {}

CUnicodeString::CUnicodeString(const wchar_t* text) : CUnicodeString(std::wstring_view(text ? text : L"")) {}

CUnicodeString::CUnicodeString(const wchar_t* text, size_t length) : CUnicodeString(std::wstring_view(text, length)) {}

CUnicodeString::CUnicodeString(std::wstring_view text) : m_buffer(EmptyBuffer()) {
  if (text.empty()) return;
  m_buffer = Allocate(text.size());
  text.copy(m_buffer->chars, text.size());
  m_buffer->length = text.size();
  m_buffer->chars[text.size()] = 0;
}

CUnicodeString::CUnicodeString(size_t count, wchar_t ch) : m_buffer(EmptyBuffer()) {
  if (count == 0) return;
  m_buffer = Allocate(count);
  for (size_t i = 0; i < count; ++i) m_buffer->chars[i] = ch;
  m_buffer->length = count;
  m_buffer->chars[count] = 0;
}

CUnicodeString::CUnicodeString(const CUnicodeString& other) noexcept : m_buffer(other.m_buffer) {
  if (m_buffer != EmptyBuffer()) m_buffer->refs.fetch_add(1, std::memory_order_relaxed);
}

CUnicodeString::CUnicodeString(CUnicodeString&& other) noexcept : m_buffer(other.m_buffer) {
  other.m_buffer = EmptyBuffer();
}

CUnicodeString& CUnicodeString::operator=(const CUnicodeString& other) noexcept {
  if (m_buffer != other.m_buffer) {
    CUnicodeString copy(other);
    std::swap(m_buffer, copy.m_buffer);
  }
  return *this;
}

CUnicodeString& CUnicodeString::operator=(CUnicodeString&& other) noexcept {
  std::swap(m_buffer, other.m_buffer);
  return *this;
}

CUnicodeString& CUnicodeString::operator=(std::wstring_view text) {
  CUnicodeString copy(text);
  std::swap(m_buffer, copy.m_buffer);
  return *this;
}

CUnicodeString::~CUnicodeString() { Release(m_buffer); }

void CUnicodeString::PrepareWrite(size_t length) {
  const bool shared = m_buffer == EmptyBuffer() || m_buffer->refs.load(std::memory_order_acquire) != 1;
  if (!shared && length <= m_buffer->capacity) return;
  size_t capacity = length;
  if ((length + 1) * sizeof(wchar_t) > kExactGrowthBytes && length > m_buffer->capacity) {
    const size_t current = m_buffer->length;
    capacity = std::max(length, current + current / 5 + 1);
  }
  capacity = std::max(capacity, m_buffer->length);
  Buffer* fresh = Allocate(capacity);
  View().copy(fresh->chars, m_buffer->length);
  fresh->length = m_buffer->length;
  fresh->chars[fresh->length] = 0;
  Release(m_buffer);
  m_buffer = fresh;
}

void CUnicodeString::Clear() noexcept {
  Release(m_buffer);
  m_buffer = EmptyBuffer();
}

void CUnicodeString::SetAt(size_t index, wchar_t ch) {
  if (index >= Length()) return;
  PrepareWrite(Length());
  m_buffer->chars[index] = ch;
}

CUnicodeString& CUnicodeString::operator+=(std::wstring_view text) {
  if (text.empty()) return *this;
  // The appended text may live in our own buffer: copy it before the buffer can move.
  if (text.data() >= m_buffer->chars && text.data() < m_buffer->chars + m_buffer->length + 1) {
    const std::wstring copy(text);
    return *this += std::wstring_view(copy);
  }
  const size_t length = Length() + text.size();
  PrepareWrite(length);
  text.copy(m_buffer->chars + m_buffer->length, text.size());
  m_buffer->length = length;
  m_buffer->chars[length] = 0;
  return *this;
}

wchar_t* CUnicodeString::GetBuffer(size_t minChars) {
  PrepareWrite(std::max(minChars, Length()));
  return m_buffer->chars;
}

void CUnicodeString::ReleaseBuffer(size_t newLength) {
  if (m_buffer == EmptyBuffer()) return;
  if (newLength == npos) newLength = std::wstring_view(m_buffer->chars, m_buffer->capacity).find(L'\0');
  if (newLength == npos || newLength > m_buffer->capacity) newLength = m_buffer->capacity;
  m_buffer->length = newLength;
  m_buffer->chars[newLength] = 0;
}

size_t CUnicodeString::Find(std::wstring_view what, size_t start) const noexcept { return View().find(what, start); }
size_t CUnicodeString::Find(wchar_t ch, size_t start) const noexcept { return View().find(ch, start); }
size_t CUnicodeString::ReverseFind(wchar_t ch) const noexcept { return View().rfind(ch); }

CUnicodeString CUnicodeString::Mid(size_t first, size_t count) const {
  if (first >= Length()) return {};
  if (first == 0 && count >= Length()) return *this;
  return CUnicodeString(View().substr(first, count));
}

CUnicodeString CUnicodeString::Right(size_t count) const { return count >= Length() ? *this : Mid(Length() - count); }

CUnicodeString& CUnicodeString::TrimLeft() {
  size_t first = 0;
  while (first < Length() && IsWhiteSpace((*this)[first])) ++first;
  if (first > 0) *this = Mid(first);
  return *this;
}

CUnicodeString& CUnicodeString::TrimRight() {
  size_t end = Length();
  while (end > 0 && IsWhiteSpace((*this)[end - 1])) --end;
  if (end < Length()) *this = Left(end);
  return *this;
}

size_t CUnicodeString::Replace(std::wstring_view from, std::wstring_view to) {
  if (from.empty()) return 0;
  size_t count = 0;
  std::wstring result;
  size_t position = 0;
  for (size_t hit = Find(from); hit != npos; hit = Find(from, position)) {
    result.append(View().substr(position, hit - position)).append(to);
    position = hit + from.size();
    ++count;
  }
  if (count > 0) *this = CUnicodeString(result.append(View().substr(position)));
  return count;
}

namespace {
template <class Fold>
void FoldInPlace(CUnicodeString& text, Fold fold) {
  const size_t length = text.Length();
  for (size_t i = 0; i < length; ++i) {
    const wchar_t folded = fold(text[i]);
    if (folded != text[i]) text.SetAt(i, folded);
  }
}
wchar_t AsciiUpper(wchar_t ch) { return ch >= L'a' && ch <= L'z' ? static_cast<wchar_t>(ch - 32) : ch; }
wchar_t AsciiLower(wchar_t ch) { return ch >= L'A' && ch <= L'Z' ? static_cast<wchar_t>(ch + 32) : ch; }
}  // namespace

CUnicodeString& CUnicodeString::MakeUpper() {
  FoldInPlace(*this, [](wchar_t ch) { return static_cast<wchar_t>(std::towupper(ch)); });
  return *this;
}
CUnicodeString& CUnicodeString::MakeLower() {
  FoldInPlace(*this, [](wchar_t ch) { return static_cast<wchar_t>(std::towlower(ch)); });
  return *this;
}
CUnicodeString& CUnicodeString::MakeUpperAscii() {
  FoldInPlace(*this, AsciiUpper);
  return *this;
}
CUnicodeString& CUnicodeString::MakeLowerAscii() {
  FoldInPlace(*this, AsciiLower);
  return *this;
}

bool CUnicodeString::EqualsNoCaseAscii(std::wstring_view other) const noexcept {
  if (other.size() != Length()) return false;
  for (size_t i = 0; i < other.size(); ++i)
    if (AsciiUpper((*this)[i]) != AsciiUpper(other[i])) return false;
  return true;
}

bool CUnicodeString::EqualsNoCase(std::wstring_view other) const noexcept {
  if (other.size() != Length()) return false;
  for (size_t i = 0; i < other.size(); ++i)
    if (std::towupper((*this)[i]) != std::towupper(other[i])) return false;
  return true;
}

CUnicodeString CUnicodeString::FromCodePage(std::string_view text, unsigned codePage) {
  if (text.empty()) return {};
  const int size = static_cast<int>(std::min<size_t>(text.size(), std::numeric_limits<int>::max()));
  const int needed = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (needed <= 0) return {};
  CUnicodeString result;
  const int written = MultiByteToWideChar(codePage, 0, text.data(), size, result.GetBuffer(needed), needed);
  result.ReleaseBuffer(written > 0 ? written : 0);
  return result;
}

CUnicodeString CUnicodeString::FromUtf8(std::string_view text) { return FromCodePage(text, CP_UTF8); }

std::string CUnicodeString::ToCodePage(unsigned codePage, bool* usedDefaultChar) const {
  if (usedDefaultChar) *usedDefaultChar = false;
  if (IsEmpty()) return {};
  const int size = static_cast<int>(std::min<size_t>(Length(), std::numeric_limits<int>::max()));
  // UTF-7 and UTF-8 refuse the used-default flag.
  const bool canReport = codePage != CP_UTF8 && codePage != CP_UTF7;
  BOOL usedDefault = FALSE;
  const int needed = WideCharToMultiByte(codePage, 0, c_str(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string result(static_cast<size_t>(needed), '\0');
  const int written = WideCharToMultiByte(codePage, 0, c_str(), size, result.data(), needed, nullptr,
                                          canReport ? &usedDefault : nullptr);
  result.resize(written > 0 ? static_cast<size_t>(written) : 0);
  if (usedDefaultChar) *usedDefaultChar = usedDefault != FALSE;
  return result;
}

std::string CUnicodeString::ToUtf8() const { return ToCodePage(CP_UTF8); }

CUnicodeString CUnicodeString::FromInt(int64_t value) { return CUnicodeString(std::to_wstring(value)); }
CUnicodeString CUnicodeString::FromUInt(uint64_t value) { return CUnicodeString(std::to_wstring(value)); }

CUnicodeString CUnicodeString::FromHex(uint64_t value) {
  wchar_t digits[17];
  size_t position = 16;
  digits[16] = 0;
  do {
    digits[--position] = L"0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  return CUnicodeString(digits + position);
}

template <class T>
std::optional<T> StrictInteger(std::wstring_view text) noexcept {
  size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    if (negative && !std::numeric_limits<T>::is_signed) return std::nullopt;
    ++i;
  }
  using Wide = std::conditional_t<std::numeric_limits<T>::is_signed, int64_t, uint64_t>;
  // Accumulate toward the sign so that the most negative value parses too.
  Wide value = 0;
  const size_t firstDigit = i;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    const int digit = text[i] - L'0';
    if (negative) {
      if (value < (static_cast<Wide>(std::numeric_limits<T>::min()) + digit) / 10) return std::nullopt;
      value = value * 10 - digit;
    } else {
      if (value > (static_cast<Wide>(std::numeric_limits<T>::max()) - digit) / 10) return std::nullopt;
      value = value * 10 + digit;
    }
  }
  if (i == firstDigit) return std::nullopt;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  if (i != text.size()) return std::nullopt;
  return static_cast<T>(value);
}

template std::optional<int32_t> StrictInteger<int32_t>(std::wstring_view) noexcept;
template std::optional<uint32_t> StrictInteger<uint32_t>(std::wstring_view) noexcept;
template std::optional<int64_t> StrictInteger<int64_t>(std::wstring_view) noexcept;
template std::optional<uint64_t> StrictInteger<uint64_t>(std::wstring_view) noexcept;

}  // namespace Vrn
