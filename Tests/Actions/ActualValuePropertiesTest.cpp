// ActualValueProperties and AddRegistryInDeinstall: which rows are written, where, and with what.
#include <gtest/gtest.h>

#include "ActualValueProperties.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using SessionTests::Utf8;
using Vrn::CUnicodeString;

namespace {

constexpr wchar_t kRegistryTable[] =
    L"CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL "
    L"LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` LONGCHAR LOCALIZABLE, `Component_` CHAR(72) NOT NULL "
    L"PRIMARY KEY `Registry`)";

constexpr wchar_t kMissing[] = L"<missing>";

// The REG_SZ value in the 64-bit view, or kMissing.
CUnicodeString ReadValue(HKEY root, const CUnicodeString& key, const CUnicodeString& name) {
  Vrn::CRegistryKey opened;
  if (!opened.Open(root, key, Vrn::RegistryMode::Read, Vrn::RegistryView::Sixty4)) return kMissing;
  return opened.ReadString(name, kMissing);
}

}  // namespace

// The trimmed write of the current value runs under msiexec in Tests/EndToEnd/tables-install.
TEST(ActualValueProperties, ListedRowsOfLocalComponentsGetTheCurrentValue) {
  TestSupport::CMachineIsolation isolation;  // the action's writes land in private roots
  TestSupport::CTestPackage package;
  package.Execute(kRegistryTable);
  package.ImportTable(TestSupport::TableSchemaPath(L"OV_ActualValueProperties"));
  package.AddFeature(L"Main");
  package.AddComponent(L"MainComp", L"Main");
  package.AddFeature(L"Gone", 0);
  package.AddComponent(L"GoneComp", L"Gone");
  package.AddProperty(L"SERVER", L"db.local");
  int rows = 0;
  const auto addRow = [&](int root, const CUnicodeString& key, const wchar_t* name, const wchar_t* value,
                          const wchar_t* component = L"MainComp") {
    package.Insert(L"Registry", {L"Registry", L"Root", L"Key", L"Name", L"Value", L"Component_"},
                   {L"reg" + CUnicodeString::FromInt(++rows), root, key, name, value, component});
  };
  const CUnicodeString key = L"SOFTWARE\\OrvTest\\Actual";
  addRow(2, key, L"Server", L"[SERVER]");
  addRow(1, key, L"Server", L"[USER_SERVER]");  // same name again: written with its own property
  addRow(2, key, L"Gone", L"[SERVER]", L"GoneComp");
  addRow(2, key, L"NotListed", L"[SERVER]");
  addRow(-1, key, L"PerMachine", L"[SERVER]");
  addRow(9, key, L"Nine", L"[SERVER]");
  addRow(2, key, L"Short", L"x");
  addRow(2, key + L"\\[SERVER]", L"Bracket", L"[SERVER]");
  for (const wchar_t* name : {L"Server", L"Gone", L"PerMachine", L"Nine", L"Short", L"Bracket"})
    package.Insert(L"OV_ActualValueProperties", {L"Id", L"ValueName"}, {CUnicodeString(L"val") + name, name});
  package.AddProperty(L"USER_SERVER", L"user.local");
  package.AddProperty(L"ALLUSERS", L"1");
  package.Open(true);

  EXPECT_EQ(package.Call("ActualValueProperties"), 0u);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, key, L"Server"), L"db.local");
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key, L"Server"), L"user.local");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, key, L"Gone"), kMissing);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, key, L"NotListed"), kMissing);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, key, L"PerMachine"), L"db.local");
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key, L"PerMachine"), kMissing);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, key, L"Short"), kMissing);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, key + L"\\[SERVER]", L"Bracket"), L"db.local");
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"Registry root 9 is not supported, value skipped: " + key + L"\\Nine\r\n"), CUnicodeString::npos);
  EXPECT_NE(log.Find(L"No property in the value 'x', value skipped: " + key + L"\\Short\r\n"), CUnicodeString::npos);
}

class AddRegistryInDeinstallTest : public ::testing::Test {
 protected:
  void SetUp() override { package.ImportTable(TestSupport::TableSchemaPath(L"OV_DeinstallRegistry")); }
  void AddRecord(const wchar_t* root, const wchar_t* name, const wchar_t* condition, const CUnicodeString& key = kKey) {
    package.Insert(L"OV_DeinstallRegistry", {L"Id", L"Root", L"Key", L"Name", L"Value", L"ConditionProperty"},
                   {name, root, key, name, CUnicodeString(L"value of ") + name, condition});
  }

  static constexpr wchar_t kKey[] = L"SOFTWARE\\OrvTest\\Deinstall";
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
};

TEST_F(AddRegistryInDeinstallTest, WritesTheRecordsWhoseConditionHolds) {
  const struct {
    const wchar_t *root, *name, *condition, *conditionValue;  // condition value null: the property is not set
    HKEY written;                                             // null: nothing written
  } cases[] = {
      {L"2", L"Yes", L"C_YES", L"Yes", HKEY_LOCAL_MACHINE},
      {L"2", L"One", L"C_ONE", L"1", HKEY_LOCAL_MACHINE},
      {L"2", L"LowerNo", L"C_NO", L"no", nullptr},
      {L"2", L"Unset", L"C_UNSET", nullptr, nullptr},
      {L"abc", L"NotANumber", L"C_YES", nullptr, nullptr},
      {L"7", L"Seven", L"C_YES", nullptr, nullptr},
      {L"1", L"User", L"C_YES", nullptr, HKEY_CURRENT_USER},
      {L"-1", L"PerUserInstall", L"C_YES", nullptr, HKEY_CURRENT_USER},  // ALLUSERS is not set
  };
  for (const auto& c : cases) {
    AddRecord(c.root, c.name, c.condition);
    if (c.conditionValue) package.AddProperty(c.condition, c.conditionValue);
  }
  package.Open();

  EXPECT_EQ(package.Call("AddRegistryInDeinstall"), 0u);
  for (const auto& c : cases) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      const CUnicodeString expected = root == c.written ? CUnicodeString(L"value of ") + c.name : kMissing;
      EXPECT_EQ(ReadValue(root, kKey, c.name), expected)
          << Utf8(c.name) << (root == HKEY_LOCAL_MACHINE ? " in HKLM" : " in HKCU");
    }
  }
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"Registry root 7 is not supported"), CUnicodeString::npos);
  EXPECT_EQ(log.Find(L"Registry root abc"), CUnicodeString::npos);
}

TEST_F(AddRegistryInDeinstallTest, AFailedWriteFailsTheActionAfterEarlierRows) {
  package.AddProperty(L"C_YES", L"1");
  AddRecord(L"2", L"AFirst", L"C_YES");
  AddRecord(L"2", L"BTooLong", L"C_YES", CUnicodeString(300, L'k'));  // a key name longer than allowed
  package.Open();
  EXPECT_EQ(package.Call("AddRegistryInDeinstall"), 1603u);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kKey, L"AFirst"), L"value of AFirst");
  EXPECT_NE(ActionLog(package).Find(CUnicodeString(300, L'k')), CUnicodeString::npos);
}
