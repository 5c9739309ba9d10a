// Password scrambling in a real session: the halves reversed by code unit, short values copied,
// the round trip exact, and no password or scrambled value in the log.
#include "ActionTest.h"

using namespace TestSupport;

using PasswordScramblingTest = ActionTest;

TEST_F(PasswordScramblingTest, ScramblesByHalvesAndRoundTripsWithoutLoggingValues) {
  // The Ext pair works on the property CODE_PASSWORD_PROPERTY names and that name + "_CODE".
  package.AddProperty(L"CODE_PASSWORD_PROPERTY", L"DB_PASS");
  Open();
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"x", L"x"},
      {L"ab", L"ab"},  // each half has one character
      {L"Secret#42", L"rceS24#te"},
      {L"p\xD83D\xDE00q", L"\xD83Dpq\xDE00"},  // a surrogate pair inside a half is reversed as code units
  };
  for (const auto& [plain, scrambled] : cases) {
    const size_t logged = Log().Length();
    RunCases({{"CodePassword", {{L"PASSWORD", plain}}, {{L"CODE", scrambled}}},
              {"UncodePassword", L"PASSWORD=", {{L"PASSWORD", plain}}},
              {"CodePasswordExt", {{L"DB_PASS", plain}}, {{L"DB_PASS_CODE", scrambled}}},
              {"UncodePasswordExt", L"DB_PASS=", {{L"DB_PASS", plain}}}});
    EXPECT_FALSE(Logged(L"Secret#42", logged) || Logged(L"rceS24#te", logged));
  }
  RunCases({{"CodePasswordExt", L"CODE_PASSWORD_PROPERTY=", L"", 1603}, {"UncodePasswordExt", L"", L"", 1603}});
}
