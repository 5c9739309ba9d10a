// Text sharing and growth, strict integers, white space, case folding and conversions.
#include <gtest/gtest.h>

#include <clocale>

#include "UnicodeString.h"
#include "VrnWindows.h"

using Vrn::CUnicodeString;
using Vrn::StrictInteger;

TEST(UnicodeString, CopiesShareUntilOneChanges) {
  CUnicodeString original(L"shared text");
  CUnicodeString copy = original;
  EXPECT_TRUE(copy.SharesBufferWith(original));

  copy += L"!";
  EXPECT_FALSE(copy.SharesBufferWith(original));
  EXPECT_EQ(original, L"shared text");
  EXPECT_EQ(copy, L"shared text!");

  CUnicodeString other = original;
  other.SetAt(0, L'S');
  EXPECT_EQ(original, L"shared text");
  EXPECT_EQ(other, L"Shared text");
}

TEST(UnicodeString, AllEmptyTextsShareOneBuffer) {
  CUnicodeString a, b(L""), c(static_cast<const wchar_t*>(nullptr));
  CUnicodeString d(L"x");
  d.Clear();
  EXPECT_TRUE(a.SharesBufferWith(b));
  EXPECT_TRUE(a.SharesBufferWith(c));
  EXPECT_TRUE(a.SharesBufferWith(d));
  EXPECT_STREQ(a.c_str(), L"");
}

TEST(UnicodeString, LargeBuffersGrowByAtLeastAFifth) {
  CUnicodeString text;
  size_t reallocations = 0;
  size_t capacity = text.Capacity();
  for (int i = 0; i < 5000; ++i) {
    text += L'x';
    if (text.Capacity() != capacity) {
      if (capacity * sizeof(wchar_t) >= 128) {
        EXPECT_GE(text.Capacity(), capacity + capacity / 5);
      }
      capacity = text.Capacity();
      ++reallocations;
    }
  }
  EXPECT_EQ(text.Length(), 5000u);
  EXPECT_LT(reallocations, 120u);  // geometric, not one per append
  // Small texts are sized exactly.
  EXPECT_EQ(CUnicodeString(L"abc").Capacity(), 3u);
}

TEST(UnicodeString, AppendingItselfAndBufferAccess) {
  CUnicodeString text(L"ab");
  text += text.View();
  EXPECT_EQ(text, L"abab");

  CUnicodeString buffer;
  wcscpy(buffer.GetBuffer(10), L"hello");
  buffer.ReleaseBuffer();
  EXPECT_EQ(buffer, L"hello");
  EXPECT_EQ(buffer.Length(), 5u);
}

TEST(UnicodeString, TrimFindMidReplace) {
  EXPECT_EQ(CUnicodeString(L" \t\r\n\x00A0 value \v\f").Trimmed(), L"value");
  EXPECT_EQ(CUnicodeString(L"   ").Trimmed(), L"");
  CUnicodeString path(L"C:\\a\\b.txt");
  EXPECT_EQ(path.ReverseFind(L'\\'), 4u);
  EXPECT_EQ(path.Mid(5), L"b.txt");
  EXPECT_EQ(path.Mid(50), L"");
  EXPECT_EQ(path.Right(3), L"txt");
  CUnicodeString list(L"a;b;;c");
  EXPECT_EQ(list.Replace(L";", L"<>"), 3u);
  EXPECT_EQ(list, L"a<>b<><>c");
}

TEST(UnicodeString, CaseFolding) {
  // Locale folding follows the process locale, which the library's start sets to the system's.
  _wsetlocale(LC_ALL, L"");
  CUnicodeString text(L"Abc\x0436");
  EXPECT_EQ(CUnicodeString(text).MakeUpperAscii(), L"ABC\x0436");
  EXPECT_EQ(CUnicodeString(text).MakeLowerAscii(), L"abc\x0436");
  EXPECT_EQ(CUnicodeString(text).MakeUpper(), L"ABC\x0416");
  EXPECT_TRUE(CUnicodeString(L"No").EqualsNoCaseAscii(L"nO"));
  EXPECT_FALSE(CUnicodeString(L"\x0436").EqualsNoCaseAscii(L"\x0416"));
  EXPECT_TRUE(CUnicodeString(L"\x0436").EqualsNoCase(L"\x0416"));
}

TEST(UnicodeString, Conversions) {
  const std::string utf8 = "Caf\xC3\xA9 \xD0\x96 \xE4\xB8\xAD \xF0\x9F\x98\x80";
  const CUnicodeString wide = CUnicodeString::FromUtf8(utf8);
  EXPECT_EQ(wide, L"Caf\x00E9 \x0416 \x4E2D \xD83D\xDE00");
  EXPECT_EQ(wide.ToUtf8(), utf8);

  bool usedDefault = false;
  EXPECT_EQ(CUnicodeString(L"Caf\x00E9").ToCodePage(1252, &usedDefault), "Caf\xE9");
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(CUnicodeString(L"\x0416").ToCodePage(1252, &usedDefault), "?");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(CUnicodeString::FromCodePage("Caf\xE9", 1252), L"Caf\x00E9");

  EXPECT_EQ(CUnicodeString::FromInt(-42), L"-42");
  EXPECT_EQ(CUnicodeString::FromUInt(4294967295u), L"4294967295");
  EXPECT_EQ(CUnicodeString::FromHex(0x1869F), L"1869F");
  EXPECT_EQ(CUnicodeString::FromHex(0), L"0");
}

TEST(StrictInteger, AcceptsOnlyANumberBetweenBlanks) {
  struct Case {
    const wchar_t* text;
    std::optional<int32_t> signed32;
    std::optional<uint32_t> unsigned32;
  };
  const Case cases[] = {
      {L"42", 42, 42u},
      {L"  7  ", 7, 7u},
      {L"\t7\r\n", 7, 7u},
      {L"+7", 7, 7u},
      {L"-5", -5, std::nullopt},
      {L"007", 7, 7u},
      {L"", std::nullopt, std::nullopt},
      {L"   ", std::nullopt, std::nullopt},
      {L"-", std::nullopt, std::nullopt},
      {L"4 2", std::nullopt, std::nullopt},
      {L"7x", std::nullopt, std::nullopt},
      {L"x7", std::nullopt, std::nullopt},
      {L"1.5", std::nullopt, std::nullopt},
      {L"2147483647", 2147483647, 2147483647u},
      {L"2147483648", std::nullopt, 2147483648u},
      {L"-2147483648", INT32_MIN, std::nullopt},
      {L"-2147483649", std::nullopt, std::nullopt},
      {L"4294967295", std::nullopt, 4294967295u},
      {L"4294967296", std::nullopt, std::nullopt},
      {L"99999999999999999999999", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StrictInteger<int32_t>(c.text), c.signed32) << "text: \"" << CUnicodeString(c.text).ToUtf8() << "\"";
    EXPECT_EQ(StrictInteger<uint32_t>(c.text), c.unsigned32) << "text: \"" << CUnicodeString(c.text).ToUtf8() << "\"";
  }
  EXPECT_EQ(StrictInteger<int64_t>(L"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrictInteger<uint64_t>(L"18446744073709551615"), UINT64_MAX);
}
