// Password scrambling in a real session: the halves reversed by code unit, short values copied,
// the round trip exact, the success lines, and no password or scrambled value in the log.
#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using Vrn::CUnicodeString;

class PasswordScramblingTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
};

TEST_F(PasswordScramblingTest, ScramblesByHalvesAndRoundTripsWithoutLoggingValues) {
  package.Open();
  const struct {
    const wchar_t *plain, *scrambled;
  } cases[] = {
      {L"", L""},
      {L"x", L"x"},
      {L"ab", L"ab"},  // each half has one character, but it still counts as scrambled
      {L"Secret#42", L"rceS24#te"},
      // A surrogate pair inside a half ends up reversed as code units.
      {L"p\xD83D\xDE00q", L"\xD83Dpq\xDE00"},
  };
  // The Ext pair works on the property CODE_PASSWORD_PROPERTY names and that name + "_CODE".
  package.SetProperty(L"CODE_PASSWORD_PROPERTY", L"DB_PASS");
  const struct {
    const char *code, *uncode;
    const wchar_t *plainProperty, *codeProperty;
  } pairs[] = {{"CodePassword", "UncodePassword", L"PASSWORD", L"CODE"},
               {"CodePasswordExt", "UncodePasswordExt", L"DB_PASS", L"DB_PASS_CODE"}};
  for (const auto& c : cases) {
    const CUnicodeString plain(c.plain);
    SCOPED_TRACE(plain.ToUtf8());
    const bool scrambled = plain.Length() >= 2;
    const size_t logged = ActionLog(package).Length();
    for (const auto& pair : pairs) {
      package.SetProperty(pair.plainProperty, plain);
      EXPECT_EQ(package.Call(pair.code), 0u) << pair.code;
      EXPECT_EQ(package.Property(pair.codeProperty), c.scrambled) << pair.code;
      package.SetProperty(pair.plainProperty, L"");
      EXPECT_EQ(package.Call(pair.uncode), 0u) << pair.uncode;
      EXPECT_EQ(package.Property(pair.plainProperty), plain) << pair.uncode;
    }

    const CUnicodeString log = ActionLog(package).Mid(logged);
    if (plain.Length() >= 3) {
      EXPECT_EQ(log.Find(plain), CUnicodeString::npos) << log;
      EXPECT_EQ(log.Find(c.scrambled), CUnicodeString::npos) << log;
    }
    const wchar_t* successLines[] = {L"CodePassword successful\r\n", L"UncodePassword successful\r\n",
                                     L"CodePasswordExt successful\r\n"};
    for (const wchar_t* line : successLines) EXPECT_EQ(log.Find(line) != CUnicodeString::npos, scrambled) << line;
    // UncodePasswordExt logs under UncodePassword's name: two name lines in every round.
    EXPECT_EQ(log.Find(L"UncodePasswordExt"), CUnicodeString::npos);
  }
}

TEST_F(PasswordScramblingTest, ExtWithoutPropertyNameFails) {
  package.Open();
  EXPECT_EQ(package.Call("CodePasswordExt"), 1603u);
  EXPECT_EQ(package.Call("UncodePasswordExt"), 1603u);
}
