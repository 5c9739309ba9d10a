// Reading package tables: trimming, null cells, appending readers, and which failures raise.
#include <gtest/gtest.h>

#include "CoreFixtures.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "SessionTestSupport.h"
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
  const std::vector<CCell> rows[] = {{L"a", L"  padded value \t", 7},
                                     {L"b", L"   ", CCell::Null()},
                                     {L"c", CCell::Null(), 2147483647},
                                     {L"d", L"x", -2147483647}};
  for (const auto& row : rows) package.Insert(L"OV_Sample", {L"Name", L"Text", L"Number"}, row);
  Open();
  ReadSample(kSampleQuery);
  EXPECT_EQ(names, (CColumnList{L"a", L"b", L"c", L"d"}));
  EXPECT_EQ(texts, (CColumnList{L"padded value", L"", L"", L"x"}));
  // Integer cells read as their decimal text, however long.
  EXPECT_EQ(numbers, (CColumnList{L"7", L"", L"2147483647", L"-2147483647"}));
}

TEST_F(DatabaseAccessTest, ReadersAppendToTheCallersLists) {
  package.Insert(L"OV_Other", {L"Name", L"Text"}, {L"o1", L"two"});
  package.Insert(L"OV_Other", {L"Name", L"Text"}, {L"o2", L"three"});
  Open();
  names = {L"kept"};
  ReadSample(kSampleQuery, "readEmpty");  // no rows: the lists stay as they were
  ReadSample(kOtherQuery);
  EXPECT_EQ(names, (CColumnList{L"kept", L"o1", L"o2"}));
  EXPECT_EQ(texts, (CColumnList{L"two", L"three"}));
  // Only a named reader logs.
  EXPECT_TRUE(SessionTests::ActionLog(package).EndsWith(L"readEmpty\r\n\r\n"));
}

TEST_F(DatabaseAccessTest, DatabaseFailuresAreInternalErrors) {
  package.Insert(L"OV_Sample", {L"Name", L"Text"}, {L"s1", L"one"});
  Open();
  // A table the package does not have: nothing read, not even the reader's name logged.
  EXPECT_TRUE(TestSupport::CatchRaised<Vrn::CInternalError>([&] {
    Msi::ReadTableColumns(database.Get(), kMissingQuery, {{SampleColumn::Name, names}}, "missingReader");
  }));
  EXPECT_EQ(package.LogText().Find(L"missingReader"), Vrn::CUnicodeString::npos);
  // A column beyond the selected ones.
  CColumnList beyond;
  EXPECT_TRUE(TestSupport::CatchRaised<Vrn::CInternalError>([&] {
    Msi::ReadTableColumns(database.Get(), kTwoColumnQuery, {{TwoColumns::First, names}, {TwoColumns::Beyond, beyond}});
  }));
  EXPECT_TRUE(beyond.empty());
}

TEST_F(DatabaseAccessTest, WithActiveDatabaseSwallowsOnlyComFailures) {
  package.Insert(L"OV_Sample", {L"Name", L"Text"}, {L"s1", L"one"});
  Open();
  Msi::WithActiveDatabase(package.Session(), [&](MSIHANDLE) {
    ReadSample(kSampleQuery);
    Vrn::Raise<Vrn::CCOMException>(E_ACCESSDENIED);
  });
  // The rows read before the failure are kept; the failure is only logged.
  EXPECT_EQ(names, (CColumnList{L"s1"}));
  EXPECT_TRUE(SessionTests::ActionLog(package).EndsWith(L"CCOMException:\r\n" +
                                                        Vrn::CCOMException(E_ACCESSDENIED).MessageText() + L"\r\n"));

  EXPECT_TRUE(TestSupport::CatchRaised<Vrn::CInternalError>(
      [&] { Msi::WithActiveDatabase(package.Session(), [](MSIHANDLE) { Vrn::Check(false); }); }));
}
