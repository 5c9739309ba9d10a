// Reading package tables: trimming, null cells, appending readers, and which failures raise.

#include "ActionTest.h"
#include "DatabaseAccess.h"
#include "Errors.h"

using Msi::CColumnList;
using TestSupport::CatchRaised;
using TestSupport::CCell;
using Vrn::CInternalError;
using Vrn::CUnicodeString;

namespace {

enum class Column : UINT { Name = 1, Text = 2, Number = 3 };
constexpr Msi::CTableQuery<Column> kSampleQuery{L"SELECT `Name`, `Text`, `Number` FROM `OV_Sample`"};
constexpr Msi::CTableQuery<Column> kOtherQuery{L"SELECT `Name`, `Text`, `Number` FROM `OV_Other`"};
constexpr Msi::CTableQuery<Column> kMissingQuery{L"SELECT `Name`, `Text` FROM `OV_NotInThisPackage`"};
constexpr Msi::CTableQuery<Column> kTwoColumnQuery{L"SELECT `Name`, `Text` FROM `OV_Sample`"};  // no Number

}  // namespace

class DatabaseAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* table : {L"OV_Sample", L"OV_Other"})
      package.Execute(CUnicodeString(L"CREATE TABLE `") + table +
                      L"` (`Name` CHAR(72) NOT NULL, `Text` CHAR(255), `Number` LONG PRIMARY KEY `Name`)");
    package.Insert(L"OV_Other", {L"Name", L"Text"}, {L"o1", L"other"});
  }
  void Open() {
    package.Open();
    database.Reset(MsiGetActiveDatabase(package.Session()));
    ASSERT_TRUE(database.IsValid());
  }
  void Read(const Msi::CTableQuery<Column>& query, const char* readerName = nullptr) {
    Msi::ReadTableColumns(database.Get(), query,
                          {{Column::Name, names}, {Column::Text, texts}, {Column::Number, numbers}}, readerName);
  }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  Msi::CMsiHandle database;
  CColumnList names, texts, numbers;
};

TEST_F(DatabaseAccessTest, CellsAreTrimmedNullsReadEmptyAndReadersAppend) {
  const std::vector<CCell> rows[] = {{L"a", L"  padded value \t", 7},
                                     {L"b", L"   ", CCell::Null()},
                                     {L"c", CCell::Null(), 2147483647},
                                     {L"d", L"x", -2147483647}};
  for (const auto& row : rows) package.Insert(L"OV_Sample", {L"Name", L"Text", L"Number"}, row);
  Open();
  names = {L"kept"};
  Read(kSampleQuery);
  Read(kOtherQuery, "readOther");
  EXPECT_EQ(names, (CColumnList{L"kept", L"a", L"b", L"c", L"d", L"o1"}));
  EXPECT_EQ(texts, (CColumnList{L"padded value", L"", L"", L"x", L"other"}));
  // Integer cells read as their decimal text, however long.
  EXPECT_EQ(numbers, (CColumnList{L"7", L"", L"2147483647", L"-2147483647", L""}));
  EXPECT_EQ(package.LogText(), L"readOther\r\n\r\n");  // only a named reader logs
}

TEST_F(DatabaseAccessTest, FailuresAreInternalErrorsExceptComFailures) {
  package.Insert(L"OV_Sample", {L"Name"}, {L"s1"});
  Open();
  // A table the package does not have: not even the reader's name is logged. A column beyond the selected ones.
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { Read(kMissingQuery, "missingReader"); }));
  EXPECT_EQ(package.LogText().Find(L"missingReader"), CUnicodeString::npos);
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { Read(kTwoColumnQuery); }));
  // A COM failure in the reader is only logged; the rows read before it are kept.
  names.clear();
  Msi::WithActiveDatabase(package.Session(), [&](MSIHANDLE) {
    Read(kOtherQuery);
    Vrn::Raise<Vrn::CCOMException>(E_ACCESSDENIED);
  });
  EXPECT_EQ(names, (CColumnList{L"o1"}));
  EXPECT_TRUE(
      package.LogText().EndsWith(L"CCOMException:\r\n" + Vrn::CCOMException(E_ACCESSDENIED).MessageText() + L"\r\n"));
  EXPECT_TRUE(CatchRaised<CInternalError>(
      [&] { Msi::WithActiveDatabase(package.Session(), [](MSIHANDLE) { Vrn::Check(false); }); }));
}
