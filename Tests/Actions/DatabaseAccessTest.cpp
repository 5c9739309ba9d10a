// Reading package tables: trimming, null cells, appending readers, and which failures raise.
#include <gtest/gtest.h>

#include "CoreFixtures.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "TestPackage.h"
#include "TestSupport.h"

using Msi::CColumnList;
using Msi::CTableQuery;
using TestSupport::CCell;

namespace {

enum class SampleColumn : UINT { Name = 1, Text = 2, Number = 3 };
constexpr CTableQuery<SampleColumn> kSampleQuery{L"SELECT `Name`, `Text`, `Number` FROM `OV_Sample`"};
constexpr CTableQuery<SampleColumn> kOtherQuery{L"SELECT `Name`, `Text`, `Number` FROM `OV_Other`"};
constexpr CTableQuery<SampleColumn> kMissingQuery{L"SELECT `Name`, `Text` FROM `OV_NotInThisPackage`"};

enum class TwoColumns : UINT { First = 1, Beyond = 3 };
constexpr CTableQuery<TwoColumns> kTwoColumnQuery{L"SELECT `Name`, `Text` FROM `OV_Sample`"};

void CreateSampleTable(TestSupport::CTestPackage& package, const wchar_t* table) {
  package.Execute(Vrn::CUnicodeString(L"CREATE TABLE `") + table +
                  L"` (`Name` CHAR(72) NOT NULL, `Text` CHAR(255), `Number` LONG PRIMARY KEY `Name`)");
}

}  // namespace

class DatabaseAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateSampleTable(package, L"OV_Sample");
    CreateSampleTable(package, L"OV_Other");
  }
  void Open() {
    package.Open();
    database.Reset(MsiGetActiveDatabase(package.Session()));
    ASSERT_TRUE(database.IsValid());
  }
  void ReadSample(const CTableQuery<SampleColumn>& query, const char* readerName = nullptr) {
    Msi::ReadTableColumns(database.Get(), query,
                          {{SampleColumn::Name, names}, {SampleColumn::Text, texts}, {SampleColumn::Number, numbers}},
                          readerName);
  }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  Msi::CMsiHandle database;
  CColumnList names, texts, numbers;
};

TEST_F(DatabaseAccessTest, CellsAreTrimmedAndNullsReadEmpty) {
  package.Insert(L"OV_Sample", {L"Name", L"Text", L"Number"}, {L"a", L"  padded value \t", 7});
  package.Insert(L"OV_Sample", {L"Name", L"Text", L"Number"}, {L"b", L"   ", CCell::Null()});
  package.Insert(L"OV_Sample", {L"Name", L"Text", L"Number"}, {L"c", CCell::Null(), 2147483647});
  package.Insert(L"OV_Sample", {L"Name", L"Text", L"Number"}, {L"d", L"x", -2147483647});
  Open();
  ReadSample(kSampleQuery);
  EXPECT_EQ(names, (CColumnList{L"a", L"b", L"c", L"d"}));
  EXPECT_EQ(texts, (CColumnList{L"padded value", L"", L"", L"x"}));
  // Integer cells read as their decimal text, however long.
  EXPECT_EQ(numbers, (CColumnList{L"7", L"", L"2147483647", L"-2147483647"}));
}

TEST_F(DatabaseAccessTest, ReadersAppendToTheCallersLists) {
  package.Insert(L"OV_Sample", {L"Name", L"Text"}, {L"s1", L"one"});
  package.Insert(L"OV_Other", {L"Name", L"Text"}, {L"o1", L"two"});
  package.Insert(L"OV_Other", {L"Name", L"Text"}, {L"o2", L"three"});
  Open();
  ReadSample(kSampleQuery, "readSample");
  ReadSample(kOtherQuery);
  EXPECT_EQ(names, (CColumnList{L"s1", L"o1", L"o2"}));
  EXPECT_EQ(texts, (CColumnList{L"one", L"two", L"three"}));
  // Only a named reader logs, once per query.
  const Vrn::CUnicodeString log = package.LogText();
  const size_t first = log.Find(L"readSample\r\n\r\n");
  ASSERT_NE(first, Vrn::CUnicodeString::npos) << log.ToUtf8();
  EXPECT_EQ(log.Find(L"readSample", first + 1), Vrn::CUnicodeString::npos);
}

TEST_F(DatabaseAccessTest, AnEmptyTableLeavesTheListsAsTheyWere) {
  Open();
  names = {L"kept"};
  ReadSample(kSampleQuery, "emptyReader");
  EXPECT_EQ(names, (CColumnList{L"kept"}));
  EXPECT_TRUE(texts.empty());
  EXPECT_TRUE(package.LogText().EndsWith(L"emptyReader\r\n\r\n"));
}

TEST_F(DatabaseAccessTest, AMissingTableIsAnInternalErrorBeforeAnyLogLine) {
  Open();
  const auto raised = TestSupport::CatchRaised<Vrn::CInternalError>([&] {
    Msi::ReadTableColumns(database.Get(), kMissingQuery, {{SampleColumn::Name, names}}, "missingReader");
  });
  ASSERT_TRUE(raised);
  EXPECT_NE(raised->File().Find(L"DatabaseAccess.cpp"), Vrn::CUnicodeString::npos);
  EXPECT_EQ(package.LogText().Find(L"missingReader"), Vrn::CUnicodeString::npos);
}

TEST_F(DatabaseAccessTest, AColumnBeyondTheQueryIsAnInternalError) {
  package.Insert(L"OV_Sample", {L"Name", L"Text"}, {L"s1", L"one"});
  Open();
  CColumnList beyond;
  const auto raised = TestSupport::CatchRaised<Vrn::CInternalError>([&] {
    Msi::ReadTableColumns(database.Get(), kTwoColumnQuery, {{TwoColumns::First, names}, {TwoColumns::Beyond, beyond}});
  });
  EXPECT_TRUE(raised);
  EXPECT_TRUE(beyond.empty());
}

TEST_F(DatabaseAccessTest, WithActiveDatabaseSwallowsOnlyComFailures) {
  package.Insert(L"OV_Sample", {L"Name", L"Text"}, {L"s1", L"one"});
  Open();
  Msi::WithActiveDatabase(package.Session(), [&](MSIHANDLE db) {
    ReadSample(kSampleQuery);
    EXPECT_NE(db, 0u);
    Vrn::Raise<Vrn::CCOMException>(E_ACCESSDENIED);
  });
  // The rows read before the failure are kept; the failure is only logged.
  EXPECT_EQ(names, (CColumnList{L"s1"}));
  const Vrn::CUnicodeString log = package.LogText();
  const size_t logged = log.Find(L"CCOMException:\r\n");
  ASSERT_NE(logged, Vrn::CUnicodeString::npos) << log.ToUtf8();
  const Vrn::CUnicodeString message = log.Mid(logged + std::wstring_view(L"CCOMException:\r\n").size());
  EXPECT_EQ(message, Vrn::CCOMException(E_ACCESSDENIED).MessageText() + L"\r\n");

  const auto raised = TestSupport::CatchRaised<Vrn::CInternalError>(
      [&] { Msi::WithActiveDatabase(package.Session(), [](MSIHANDLE) { Vrn::Check(false); }); });
  EXPECT_TRUE(raised);
}

TEST(DatabaseAccess, ASessionWithoutDatabaseIsAnInternalError) {
  const auto raised = TestSupport::CatchRaised<Vrn::CInternalError>(
      [] { Msi::WithActiveDatabase(0, [](MSIHANDLE) { ADD_FAILURE() << "the reader ran"; }); });
  EXPECT_TRUE(raised);
}
