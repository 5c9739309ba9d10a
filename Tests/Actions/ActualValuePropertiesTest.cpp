// ActualValueProperties and AddRegistryInDeinstall: which rows are written, where, and with what.
#include "ActionTest.h"
#include "ActualValueProperties.h"

using namespace TestSupport;

using ActualValuePropertiesTest = ActionTest;

// The trimmed write of the current value runs under msiexec in Tests/EndToEnd/tables-install.
TEST_F(ActualValuePropertiesTest, ListedRowsOfLocalComponentsGetTheCurrentValue) {
  package.ImportTable(TableSchemaPath(L"OV_ActualValueProperties"));
  package.AddFeature(L"Main", 1, L"MainComp");
  package.AddFeature(L"Gone", 0, L"GoneComp");
  package.AddProperty(L"SERVER", L"db.local");
  const CUnicodeString key = L"SOFTWARE\\OrvTest\\Actual";
  package.AddRegistryRow(2, key, L"Server", L"[SERVER]");
  package.AddRegistryRow(1, key, L"Server", L"[USER_SERVER]");  // same name again: written with its own property
  package.AddRegistryRow(2, key, L"Gone", L"[SERVER]", L"GoneComp");
  package.AddRegistryRow(2, key, L"NotListed", L"[SERVER]");
  package.AddRegistryRow(-1, key, L"PerMachine", L"[SERVER]");
  package.AddRegistryRow(9, key, L"Nine", L"[SERVER]");
  package.AddRegistryRow(2, key, L"Short", L"x");
  package.AddRegistryRow(2, key + L"\\[SERVER]", L"Bracket", L"[SERVER]");
  for (const wchar_t* name : {L"Server", L"Gone", L"PerMachine", L"Nine", L"Short", L"Bracket"})
    package.Insert(L"OV_ActualValueProperties", {L"Id", L"ValueName"}, {CUnicodeString(L"val") + name, name});
  package.AddProperties(L"USER_SERVER=user.local|ALLUSERS=1");
  Open(true);
  RunCases({{"ActualValueProperties"}});
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, key, L"Server"), L"db.local");
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, key, L"Server"), L"user.local");
  for (const wchar_t* skipped : {L"Gone", L"NotListed", L"Nine", L"Short"})
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, key, skipped), L"<missing>") << skipped;
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, key, L"PerMachine"), L"db.local");
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, key, L"PerMachine"), L"<missing>");
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, key + L"\\[SERVER]", L"Bracket"), L"db.local");
  // Only the log tells why a row was skipped.
  EXPECT_TRUE(Logged(L"Registry root 9 is not supported, value skipped: " + key + L"\\Nine\r\n"));
  EXPECT_TRUE(Logged(L"No property in the value 'x', value skipped: " + key + L"\\Short\r\n"));
}

class AddRegistryInDeinstallTest : public ActionTest {
 protected:
  void SetUp() override { package.ImportTable(TableSchemaPath(L"OV_DeinstallRegistry")); }
  void AddRecord(const wchar_t* root, const wchar_t* name, const wchar_t* condition, const CUnicodeString& key = kKey) {
    package.Insert(L"OV_DeinstallRegistry", {L"Id", L"Root", L"Key", L"Name", L"Value", L"ConditionProperty"},
                   {name, root, key, name, CUnicodeString(L"value of ") + name, condition});
  }
  static constexpr wchar_t kKey[] = L"SOFTWARE\\OrvTest\\Deinstall";
};

// The machine records of a per-machine removal are Tests/EndToEnd/tables-install's.
TEST_F(AddRegistryInDeinstallTest, WritesTheRecordsWhoseConditionHolds) {
  // root text, record name, the root written (null: none)
  const std::tuple<const wchar_t*, const wchar_t*, HKEY> cases[] = {
      {L"2", L"Yes", HKEY_LOCAL_MACHINE}, {L"2", L"LowerNo", nullptr},  // its condition is "no"
      {L"abc", L"NotANumber", nullptr},   {L"7", L"Seven", nullptr},
      {L"1", L"User", HKEY_CURRENT_USER}, {L"-1", L"PerUserInstall", HKEY_CURRENT_USER},  // ALLUSERS is not set
  };
  package.AddProperties(L"C_YES=Yes|C_NO=no");
  for (const auto& [root, name, written] : cases)
    AddRecord(root, name, name == std::wstring_view(L"LowerNo") ? L"C_NO" : L"C_YES");
  Open();
  RunCases({{"AddRegistryInDeinstall"}});
  for (const auto& [rootText, name, written] : cases)
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      EXPECT_EQ(RegistryText(root, kKey, name),
                root == written ? CUnicodeString(L"value of ") + name : CUnicodeString(L"<missing>"))
          << name << (root == HKEY_LOCAL_MACHINE ? " in HKLM" : " in HKCU");
  // A root that is another number is logged as skipped; one that is not a number is not.
  EXPECT_TRUE(Logged(L"Registry root 7 is not supported"));
  EXPECT_FALSE(Logged(L"Registry root abc"));
}

TEST_F(AddRegistryInDeinstallTest, AFailedWriteFailsTheActionAfterEarlierRows) {
  package.AddProperty(L"C_YES", L"1");
  AddRecord(L"2", L"AFirst", L"C_YES");
  AddRecord(L"2", L"BTooLong", L"C_YES", CUnicodeString(300, L'k'));  // a key name longer than allowed
  Open();
  RunCases({{"AddRegistryInDeinstall", L"", L"", 1603}});
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kKey, L"AFirst"), L"value of AFirst");
  EXPECT_TRUE(Logged(L"is 300 characters long, too long for a registry key name"));  // refused before the call
}
