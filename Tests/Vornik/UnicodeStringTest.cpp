// Text sharing and growth, strict integers, white space, case folding and conversions.
#include <gtest/gtest.h>

#include <clocale>
#include <thread>
#include <vector>

#include "UnicodeString.h"
#include "VrnWindows.h"

using Vrn::CUnicodeString;
using Vrn::StrictInteger;

TEST(UnicodeString, CopiesShareUntilOneChangesAndEmptyTextsShareOneBuffer) {
  CUnicodeString original(L"shared text");
  CUnicodeString appended = original, changed = original;
  EXPECT_TRUE(appended.SharesBufferWith(original));
  appended += L"!";
  changed.SetAt(0, L'S');
  EXPECT_FALSE(appended.SharesBufferWith(original));
  EXPECT_EQ(original, L"shared text");
  EXPECT_EQ(appended, L"shared text!");
  EXPECT_EQ(changed, L"Shared text");

  CUnicodeString empty, cleared(L"x");
  cleared.Clear();
  for (const CUnicodeString& other :
       {CUnicodeString(L""), CUnicodeString(static_cast<const wchar_t*>(nullptr)), cleared})
    EXPECT_TRUE(empty.SharesBufferWith(other));
}

// Copies of one text on several threads: each copies the shared buffer, changes its copy and drops
// it, again and again, while the others do the same; the shared text never changes and every copy
// ends as its own thread made it.
TEST(UnicodeString, CopiesOnSeveralThreadsLeaveTheSharedTextAlone) {
  constexpr int kRounds = 300, kThreads = 4, kCopies = 200;
  const CUnicodeString shared(L"shared text");
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::wstring> last(kThreads);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
      threads.emplace_back([&, thread] {
        for (int i = 0; i < kCopies; ++i) {
          CUnicodeString copy = shared, other = copy;
          copy += static_cast<wchar_t>(L'0' + thread);
          copy.SetAt(0, L'S');
          last[thread] = copy.ToStdString() + (other.SharesBufferWith(shared) ? L"" : L"!");
        }
      });
    for (std::thread& thread : threads) thread.join();
    ASSERT_EQ(shared, L"shared text") << "round " << round;
    for (int thread = 0; thread < kThreads; ++thread)
      ASSERT_EQ(last[thread], L"Shared text" + std::wstring(1, static_cast<wchar_t>(L'0' + thread))) << round;
  }
}

TEST(UnicodeString, TrimAndMidOutOfRange) {
  EXPECT_EQ(CUnicodeString(L" \t\r\n\x00A0 value \v\f").Trimmed(), L"value");
  EXPECT_EQ(CUnicodeString(L"   ").Trimmed(), L"");
  EXPECT_EQ(CUnicodeString(L"C:\\a\\b.txt").Mid(50), L"");
}

TEST(UnicodeString, AsciiFoldingLeavesOtherLettersAlone) {
  _wsetlocale(LC_ALL, L"");  // as the library's start does
  EXPECT_EQ(CUnicodeString(L"Abc\x0436").MakeUpperAscii(), L"ABC\x0436");
  EXPECT_EQ(CUnicodeString(L"Abc\x0436").MakeUpper(), L"ABC\x0416");
  EXPECT_FALSE(CUnicodeString(L"\x0436").EqualsNoCaseAscii(L"\x0416"));
  EXPECT_TRUE(CUnicodeString(L"\x0436").EqualsNoCase(L"\x0416"));
}

TEST(UnicodeString, ConversionsKeepSurrogatePairsAndReplaceWhatACodePageLacks) {
  const std::string utf8 = "Caf\xC3\xA9 \xD0\x96 \xE4\xB8\xAD \xF0\x9F\x98\x80";
  const CUnicodeString wide = CUnicodeString::FromUtf8(utf8);
  EXPECT_EQ(wide, L"Caf\x00E9 \x0416 \x4E2D \xD83D\xDE00");
  EXPECT_EQ(wide.ToUtf8(), utf8);
  EXPECT_EQ(CUnicodeString(L"Caf\x00E9 \x0416").ToCodePage(1252), "Caf\xE9 ?");
}

TEST(StrictInteger, AcceptsOnlyANumberBetweenBlanks) {
  struct Case {
    const wchar_t* text;
    std::optional<int32_t> signed32;
    std::optional<uint32_t> unsigned32;
  };
  const Case cases[] = {
      {L"  7  ", 7, 7u},
      {L"\t+007\r\n", 7, 7u},
      {L"-5", -5, std::nullopt},
      {L"", std::nullopt, std::nullopt},
      {L"4 2", std::nullopt, std::nullopt},
      {L"2147483648", std::nullopt, 2147483648u},
      {L"-2147483648", INT32_MIN, std::nullopt},
      {L"-2147483649", std::nullopt, std::nullopt},
      {L"4294967295", std::nullopt, 4294967295u},
      {L"4294967296", std::nullopt, std::nullopt},
      {L"99999999999999999999999", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.text).ToUtf8());
    EXPECT_EQ(StrictInteger<int32_t>(c.text), c.signed32);
    EXPECT_EQ(StrictInteger<uint32_t>(c.text), c.unsigned32);
  }
  EXPECT_EQ(StrictInteger<int64_t>(L"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrictInteger<uint64_t>(L"18446744073709551615"), UINT64_MAX);
}
