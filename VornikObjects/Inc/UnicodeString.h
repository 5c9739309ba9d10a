// Vrn::CUnicodeString: the library's UTF-16 text with a shared, reference-counted, copy-on-write buffer.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Vrn {

// True for the characters the library treats as blanks: space, tab, CR, LF, vertical tab, form feed
// and the no-break space.
bool IsWhiteSpace(wchar_t ch) noexcept;

class CUnicodeString {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  CUnicodeString() noexcept;
  CUnicodeString(const wchar_t* text);  // a null pointer gives the empty text
  CUnicodeString(const wchar_t* text, size_t length);
  CUnicodeString(std::wstring_view text);
  CUnicodeString(const std::wstring& text) : CUnicodeString(std::wstring_view(text)) {}
  CUnicodeString(size_t count, wchar_t ch);
  CUnicodeString(const CUnicodeString& other) noexcept;
  CUnicodeString(CUnicodeString&& other) noexcept;
  CUnicodeString& operator=(const CUnicodeString& other) noexcept;
  CUnicodeString& operator=(CUnicodeString&& other) noexcept;
  CUnicodeString& operator=(std::wstring_view text);
  CUnicodeString& operator=(const wchar_t* text) { return *this = std::wstring_view(text ? text : L""); }
  ~CUnicodeString();

  // Always zero-terminated; valid until the text is next changed.
  const wchar_t* c_str() const noexcept { return m_buffer->chars; }
  size_t Length() const noexcept { return m_buffer->length; }
  bool IsEmpty() const noexcept { return m_buffer->length == 0; }
  std::wstring_view View() const noexcept { return {m_buffer->chars, m_buffer->length}; }
  operator std::wstring_view() const noexcept { return View(); }
  std::wstring ToStdString() const { return std::wstring(View()); }
  wchar_t operator[](size_t index) const noexcept { return m_buffer->chars[index]; }

  // Buffer sharing, observable for tests and diagnostics.
  bool SharesBufferWith(const CUnicodeString& other) const noexcept { return m_buffer == other.m_buffer; }
  size_t Capacity() const noexcept { return m_buffer->capacity; }

  void Clear() noexcept;
  void SetAt(size_t index, wchar_t ch);
  CUnicodeString& operator+=(std::wstring_view text);
  CUnicodeString& operator+=(const CUnicodeString& text) { return *this += text.View(); }
  CUnicodeString& operator+=(const wchar_t* text) { return *this += std::wstring_view(text ? text : L""); }
  CUnicodeString& operator+=(wchar_t ch) { return *this += std::wstring_view(&ch, 1); }

  // Writable buffer for Win32 calls: room for at least minChars characters plus the terminator.
  // ReleaseBuffer sets the length (npos: up to the first zero).
  wchar_t* GetBuffer(size_t minChars);
  void ReleaseBuffer(size_t newLength = npos);

  size_t Find(std::wstring_view what, size_t start = 0) const noexcept;
  size_t Find(wchar_t ch, size_t start = 0) const noexcept;
  size_t ReverseFind(wchar_t ch) const noexcept;
  bool StartsWith(std::wstring_view prefix) const noexcept { return View().starts_with(prefix); }
  bool EndsWith(std::wstring_view suffix) const noexcept { return View().ends_with(suffix); }
  CUnicodeString Mid(size_t first, size_t count = npos) const;
  CUnicodeString Left(size_t count) const { return Mid(0, count); }
  CUnicodeString Right(size_t count) const;

  CUnicodeString& Trim() { return TrimRight().TrimLeft(); }
  CUnicodeString& TrimLeft();
  CUnicodeString& TrimRight();
  CUnicodeString Trimmed() const { return CUnicodeString(*this).Trim(); }
  // Replaces every occurrence of `from` (not empty); returns the number of replacements.
  size_t Replace(std::wstring_view from, std::wstring_view to);

  // Case folding: locale folding uses the C runtime's wide functions in the process locale;
  // ASCII folding changes only A-Z / a-z.
  CUnicodeString& MakeUpper();
  CUnicodeString& MakeLower();
  CUnicodeString& MakeUpperAscii();
  CUnicodeString& MakeLowerAscii();
  bool EqualsNoCaseAscii(std::wstring_view other) const noexcept;
  bool EqualsNoCase(std::wstring_view other) const noexcept;  // locale folding

  // Conversions. FromCodePage/ToCodePage use the given Windows code page (CP_ACP, CP_UTF8, ...);
  // invalid input is converted with replacement characters, never refused.
  static CUnicodeString FromUtf8(std::string_view text);
  static CUnicodeString FromCodePage(std::string_view text, unsigned codePage);
  std::string ToUtf8() const;
  std::string ToCodePage(unsigned codePage, bool* usedDefaultChar = nullptr) const;

  static CUnicodeString FromInt(int64_t value);
  static CUnicodeString FromUInt(uint64_t value);
  // Upper-case hexadecimal without prefix or padding ("1A").
  static CUnicodeString FromHex(uint64_t value);

  friend bool operator==(const CUnicodeString& a, const CUnicodeString& b) noexcept { return a.View() == b.View(); }
  friend bool operator==(const CUnicodeString& a, std::wstring_view b) noexcept { return a.View() == b; }
  friend bool operator==(const CUnicodeString& a, const wchar_t* b) noexcept {
    return a.View() == std::wstring_view(b);
  }
  friend std::strong_ordering operator<=>(const CUnicodeString& a, const CUnicodeString& b) noexcept {
    return a.View().compare(b.View()) <=> 0;
  }
  friend CUnicodeString operator+(CUnicodeString a, std::wstring_view b) { return a += b; }
  friend CUnicodeString operator+(CUnicodeString a, const CUnicodeString& b) { return a += b.View(); }
  friend CUnicodeString operator+(CUnicodeString a, const wchar_t* b) { return a += b; }
  friend CUnicodeString operator+(CUnicodeString a, wchar_t b) { return a += b; }
  friend CUnicodeString operator+(std::wstring_view a, const CUnicodeString& b) { return CUnicodeString(a) += b; }
  friend CUnicodeString operator+(const wchar_t* a, const CUnicodeString& b) { return CUnicodeString(a) += b; }

 private:
  struct Buffer {
    std::atomic<long> refs;
    size_t length;    // in UTF-16 code units
    size_t capacity;  // characters that fit, not counting the terminator
    wchar_t chars[1];
  };
  static Buffer* EmptyBuffer() noexcept;
  static Buffer* Allocate(size_t capacity);
  static void Release(Buffer* buffer) noexcept;
  // Makes the buffer private and able to hold `length` characters, keeping the current text.
  void PrepareWrite(size_t length);

  Buffer* m_buffer;
};

// Strict decimal parse: leading blanks skipped, an optional sign (a minus only for signed types),
// at least one digit, no overflow, and nothing but blanks after the number.
template <class T>
std::optional<T> StrictInteger(std::wstring_view text) noexcept;
extern template std::optional<int32_t> StrictInteger<int32_t>(std::wstring_view) noexcept;
extern template std::optional<uint32_t> StrictInteger<uint32_t>(std::wstring_view) noexcept;
extern template std::optional<int64_t> StrictInteger<int64_t>(std::wstring_view) noexcept;
extern template std::optional<uint64_t> StrictInteger<uint64_t>(std::wstring_view) noexcept;

}  // namespace Vrn
