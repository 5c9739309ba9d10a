// The registry actions: roots chosen by text, removal in both views with the parent clean-up, the
// uninstall entry, the saved-registry file byte for byte, and the installation records.
#include <gtest/gtest.h>

#include <string>

#include "ClassesRootKey.h"
#include "Files.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using SessionTests::Utf8;
using Vrn::CRegistryKey;
using Vrn::CUnicodeString;
using Vrn::RegistryMode;
using Vrn::RegistryView;

namespace {

constexpr wchar_t kMissing[] = L"<missing>";

constexpr wchar_t kRegistryTable[] =
    L"CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL "
    L"LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` LONGCHAR LOCALIZABLE, `Component_` CHAR(72) NOT NULL "
    L"PRIMARY KEY `Registry`)";

// A name no other test program uses, for keys below the real HKEY_CLASSES_ROOT.
CUnicodeString OwnName(const wchar_t* stem) { return stem + CUnicodeString::FromUInt(GetCurrentProcessId()); }

CUnicodeString ReadValue(HKEY root, const CUnicodeString& key, const CUnicodeString& name,
                         RegistryView view = RegistryView::Sixty4) {
  CRegistryKey opened;
  if (!opened.Open(root, key, RegistryMode::Read, view)) return kMissing;
  return opened.ReadString(name, kMissing);
}

bool KeyExists(HKEY root, const CUnicodeString& key, RegistryView view = RegistryView::Sixty4) {
  CRegistryKey opened;
  return opened.Open(root, key, RegistryMode::Read, view);
}

void WriteValue(HKEY root, const CUnicodeString& key, const CUnicodeString& name, const CUnicodeString& value,
                RegistryView view = RegistryView::Sixty4) {
  CRegistryKey opened;
  ASSERT_TRUE(opened.Open(root, key, RegistryMode::Write, view));
  opened.WriteString(name, value);
}

bool Contains(const CUnicodeString& text, std::wstring_view part) { return text.Find(part) != CUnicodeString::npos; }

std::string Utf16Bytes(std::wstring_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

}  // namespace

TEST(WriteRegistry, OnlyTheExactTextsZeroAndOneChooseAnotherRootThanTheMachine) {
  const struct {
    const wchar_t* rootText;
    HKEY written;
  } cases[] = {
      {L"0", HKEY_CLASSES_ROOT},   {L"1", HKEY_CURRENT_USER}, {L"01", HKEY_LOCAL_MACHINE},
      {L" 1", HKEY_LOCAL_MACHINE}, {L"", HKEY_LOCAL_MACHINE}, {L"2", HKEY_LOCAL_MACHINE},
  };
  const TestSupport::CClassesRootKey key(OwnName(L"OrvantWriteTest"));
  for (const auto& c : cases) {
    TestSupport::CMachineIsolation isolation;
    const TestSupport::CClassesRootKey fresh(key.Path());
    TestSupport::CTestPackage package;
    package.AddProperty(L"WR_KEY", key.Path());
    package.AddProperty(L"WR_VALUE", L"C:\\Program Files\\App");
    if (*c.rootText) package.AddProperty(L"WR_ROOT", c.rootText);
    package.Open();
    EXPECT_EQ(package.Call("WriteRegistry"), 0u) << Utf8(c.rootText);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      const CUnicodeString expected = root == c.written ? L"C:\\Program Files\\App" : kMissing;
      EXPECT_EQ(ReadValue(root, key.Path(), L""), expected)
          << "root text '" << Utf8(c.rootText) << "' in " << Utf8(Vrn::RegistryRootName(root));
    }
  }
}

TEST(WriteRegistry, NamedValuesBadKeysAndMissingInput) {
  const CUnicodeString tooLong(300, L'k');
  const struct {
    const wchar_t* key;
    const wchar_t* value;
    UINT result;
    const wchar_t* logged;  // null: nothing particular
  } cases[] = {
      {L"SOFTWARE\\OrvTest\\Named", L"v", 0, nullptr},
      {L"", L"v", 1603, nullptr},
      {L"SOFTWARE\\OrvTest\\Named", L"", 1603, nullptr},
      {nullptr, L"v", 0, L"WriteRegistry: can't open\r\n"},  // a component of 300 characters
  };
  for (const auto& c : cases) {
    TestSupport::CMachineIsolation isolation;
    TestSupport::CTestPackage package;
    const CUnicodeString key = c.key ? CUnicodeString(c.key) : L"SOFTWARE\\" + tooLong;
    if (!key.IsEmpty()) package.AddProperty(L"WR_KEY", key);
    package.AddProperty(L"WR_VALUE_NAME", L"Server");
    if (*c.value) package.AddProperty(L"WR_VALUE", c.value);
    package.Open();
    EXPECT_EQ(package.Call("WriteRegistry"), c.result);
    const CUnicodeString expected = c.result == 0 && c.key ? CUnicodeString(c.value) : CUnicodeString(kMissing);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvTest\\Named", L"Server"), expected);
    if (c.logged) {
      EXPECT_TRUE(Contains(ActionLog(package), c.logged));
    }
  }
}

// Removal works in both views of the real HKEY_LOCAL_MACHINE (the private roots of the other tests
// do not separate the views under Wine), below a key of its own that the test deletes again.
class RemoveRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateKeys();
    package.AddProperty(L"RemoveRegistry_Path", kApp);
  }
  // App with the values Keep and Gone and the subkey Sub\Deep, in both views.
  static void CreateKeys() {
    DeleteBase();
    for (RegistryView view : kViews) {
      WriteValue(HKEY_LOCAL_MACHINE, kApp, L"Keep", L"k", view);
      WriteValue(HKEY_LOCAL_MACHINE, kApp, L"Gone", L"g", view);
      WriteValue(HKEY_LOCAL_MACHINE, kApp + L"\\Sub\\Deep", L"", L"d", view);
    }
  }
  void TearDown() override { DeleteBase(); }
  static void DeleteBase() {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY software = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) != ERROR_SUCCESS)
        continue;
      RegDeleteTreeW(software, kBaseName.c_str());
      RegDeleteKeyW(software, kBaseName.c_str());
      RegCloseKey(software);
    }
  }

  static constexpr RegistryView kViews[] = {RegistryView::Thirty2, RegistryView::Sixty4};
  static inline const CUnicodeString kBaseName = L"OrvantRemoveTest" + CUnicodeString::FromUInt(GetCurrentProcessId());
  static inline const CUnicodeString kBase = L"SOFTWARE\\" + kBaseName;
  static inline const CUnicodeString kApp = kBase + L"\\App";
  TestSupport::CTestPackage package;
};

TEST_F(RemoveRegistryTest, AValueNameWinsOverASubKeyInBothViews) {
  package.AddProperty(L"RemoveRegistry_SubKey", L"Sub");
  package.AddProperty(L"RemoveRegistry_Value", L"Gone");
  package.Open();
  EXPECT_EQ(package.Call("RemoveRegistry"), 0u);
  for (RegistryView view : kViews) {
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApp, L"Gone", view), kMissing);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApp, L"Keep", view), L"k");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kApp + L"\\Sub\\Deep", view));
  }
  // The clean-up looked at the key in each view and left it: it still has a subkey.
  const CUnicodeString log = ActionLog(package);
  for (const wchar_t* view : {L"32", L"64"})
    EXPECT_TRUE(Contains(log, L"removeRegistrySingleParent: " + kApp + L"\r\nremoveRegistrySingleParent view: " + view +
                                  L"\r\nremoveRegistrySingleParent: keys: 1\r\n"
                                  L"removeRegistrySingleParent: values: 1\r\n"))
        << Utf8(log);
}

TEST_F(RemoveRegistryTest, ASubKeyTreeGoesAndTheParentsLeftWithOneValueOrLessFollow) {
  package.AddProperty(L"RemoveRegistry_SubKey", L"Sub");
  for (RegistryView view : kViews) {
    CRegistryKey app;
    ASSERT_TRUE(app.Open(HKEY_LOCAL_MACHINE, kApp, RegistryMode::Write, view));
    app.DeleteValue(L"Gone");
  }
  package.Open();
  EXPECT_EQ(package.Call("RemoveRegistry"), 0u);
  for (RegistryView view : kViews) {
    // App kept one value, so it went, and then the test's own key, now empty; SOFTWARE stays.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kApp, view));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kBase, view));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE", view));
  }
}

TEST_F(RemoveRegistryTest, AKeyWithTwoValuesOrUnRemoveParentsStays) {
  const struct {
    const wchar_t* unRemoveParents;
    const wchar_t* path;  // below kBase
  } cases[] = {
      {L"", L"App"},      // Keep and Gone remain
      {L"", L"New"},      // emptied, so removed again; its sibling App keeps the parent
      {L"1", L"New"},     // emptied, but the clean-up is switched off
      {L"no", L"New\\"},  // a trailing separator names the same key
  };
  for (const auto& c : cases) {
    CreateKeys();
    TestSupport::CTestPackage run;
    run.AddProperty(L"RemoveRegistry_Path", kBase + L"\\" + c.path);
    run.AddProperty(L"RemoveRegistry_SubKey", L"Missing");
    run.AddProperty(L"RemoveRegistry_Value", L"Other");
    if (*c.unRemoveParents) run.AddProperty(L"UnRemoveParents", c.unRemoveParents);
    // The value exists in both views so that removing it succeeds.
    for (RegistryView view : kViews) WriteValue(HKEY_LOCAL_MACHINE, kBase + L"\\" + c.path, L"Other", L"o", view);
    run.Open();
    EXPECT_EQ(run.Call("RemoveRegistry"), 0u) << Utf8(c.path);
    const bool newStays = CUnicodeString(c.unRemoveParents) == L"1";
    for (RegistryView view : kViews) {
      EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kApp, view));
      EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApp, L"Gone", view), L"g");
      if (CUnicodeString(c.path) != L"App") {
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kBase + L"\\New", view), newStays) << Utf8(c.path);
      }
    }
  }
}

// In the private roots (under Wine both views are one key there); the failure is counted there too.
TEST(RemoveRegistry, SomethingMissingFailsTheAction) {
  const struct { const wchar_t *subKey, *value; } cases[] = {{L"NoSuchKey", L""}, {L"", L"NoSuchValue"}, {L"", L""}};
  for (const auto& c : cases) {
    TestSupport::CMachineIsolation isolation;
    WriteValue(HKEY_CURRENT_USER, L"SOFTWARE\\OrvTest\\App", L"Keep", L"k");
    TestSupport::CTestPackage run;
    run.AddProperty(L"RemoveRegistry_Root", L"1");
    run.AddProperty(L"RemoveRegistry_Path", L"SOFTWARE\\OrvTest\\App");
    if (*c.subKey) run.AddProperty(L"RemoveRegistry_SubKey", c.subKey);
    if (*c.value) run.AddProperty(L"RemoveRegistry_Value", c.value);
    run.Open();
    EXPECT_EQ(run.Call("RemoveRegistry"), 1603u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, L"SOFTWARE\\OrvTest\\App", L"Keep"), L"k");
  }
}

TEST(CleanRegistry, RemovesOnlyTheProductsUninstallEntry) {
  TestSupport::CMachineIsolation isolation;
  const CUnicodeString list = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  WriteValue(HKEY_LOCAL_MACHINE, list + L"\\Test Product\\Nested", L"x", L"1");
  WriteValue(HKEY_LOCAL_MACHINE, list + L"\\Test Product 2", L"x", L"1");
  {
    TestSupport::CTestPackage package;
    package.Open();
    EXPECT_EQ(package.Call("CleanRegistry"), 0u);
    EXPECT_TRUE(Contains(ActionLog(package), L"CleanRegistry: Test Product\r\n"));
  }
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, list + L"\\Test Product"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, list + L"\\Test Product 2"));
  TestSupport::CTestPackage again;
  again.Open();
  EXPECT_EQ(again.Call("CleanRegistry"), 1603u);  // nothing left to remove
}

class KeepRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    package.Execute(kRegistryTable);
    package.ImportTable(TestSupport::TableSchemaPath(L"OV_SaveReg"));
    package.AddProperty(L"SAVE_REG_FILE", file);
  }
  void AddRegistryRow(int root, const CUnicodeString& key, const CUnicodeString& name) {
    package.Insert(L"Registry", {L"Registry", L"Root", L"Key", L"Name", L"Value", L"Component_"},
                   {L"reg" + CUnicodeString::FromInt(100 + ++rows), root, key, name, L"x", L"Comp"});
  }
  void AddSaveRow(int root, const CUnicodeString& prefix) {
    package.Insert(L"OV_SaveReg", {L"Root", L"Registry"}, {root, prefix});
  }
  static std::string Raw(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, std::string_view bytes) {
    CRegistryKey opened;
    EXPECT_TRUE(opened.Open(root, key, RegistryMode::Write));
    opened.WriteValue(name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    return {};
  }

  TestSupport::CMachineIsolation isolation;
  const TestSupport::CClassesRootKey document{OwnName(L"OrvantSaveTest") + L".Document"};
  TestSupport::CTempFolder folder;
  CUnicodeString file = folder / L"saved\\deeper\\Saved.reg";
  TestSupport::CTestPackage package;
  int rows = 0;
};

TEST_F(KeepRegistryTest, WritesOneSectionPerSavedValueExactlyAsRead) {
  const wchar_t* app = L"SOFTWARE\\OrvTest\\App";
  WriteValue(HKEY_LOCAL_MACHINE, app, L"InstallDir", L"C:\\Program Files\\App");
  WriteValue(HKEY_LOCAL_MACHINE, app, L"", L"say \"hi\"");
  Raw(HKEY_LOCAL_MACHINE, app, L"Count", REG_DWORD, std::string("\x07\0\0\0", 4));
  Raw(HKEY_LOCAL_MACHINE, app, L"Multi", REG_MULTI_SZ, Utf16Bytes(std::wstring_view(L"a\0b\0\0", 5)));
  Raw(HKEY_LOCAL_MACHINE, app, L"Bin", REG_BINARY, "\x01\x02");
  WriteValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvTest\\AppExtra", L"Sibling", L"s");
  WriteValue(HKEY_CLASSES_ROOT, document.Path(), L"", L"Document");
  WriteValue(HKEY_CURRENT_USER, app, L"User", L"u");

  AddRegistryRow(2, app, L"InstallDir");
  AddRegistryRow(2, app, L"");
  AddRegistryRow(2, app, L"Count");
  AddRegistryRow(2, app, L"Multi");
  AddRegistryRow(2, app, L"Bin");
  AddRegistryRow(2, app, L"Absent");                              // the key opens: an empty value
  AddRegistryRow(2, L"SOFTWARE\\OrvTest\\AppExtra", L"Sibling");  // a plain prefix match
  AddRegistryRow(2, L"SOFTWARE\\OrvTest\\AppMissing", L"X");      // matches, but no key: a warning
  AddRegistryRow(2, L"software\\OrvTest\\App", L"InstallDir");    // case differs: not saved
  AddRegistryRow(1, app, L"User");                                // another root: not saved
  AddRegistryRow(-1, app, L"InstallDir");                         // neither 0 nor 2: not saved
  AddRegistryRow(0, document.Path(), L"");
  AddSaveRow(0, OwnName(L"OrvantSaveTest") + L".");
  AddSaveRow(2, L"SOFTWARE\\Nothing");
  AddSaveRow(2, L"SOFTWARE\\OrvTest\\App");
  package.Open();

  EXPECT_EQ(package.Call("KeepRegistry_OV_SaveReg"), 0u);
  const std::wstring expected =
      L"Windows Registry Editor Version 5.00\r\n\r\n"
      L"[HKEY_CLASSES_ROOT\\" +
      document.Path().ToStdString() +
      L"]\r\n@=\"Document\"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\App]\r\n\"InstallDir\"=\"C:\\Program Files\\App\"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\App]\r\n@=\"say \"hi\"\"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\App]\r\n\"Count\"=\"\"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\App]\r\n\"Multi\"=\"\"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\App]\r\n\"Bin\"=\"\"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\App]\r\n\"Absent\"=\"\"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\AppExtra]\r\n\"Sibling\"=\"s\"\r\n";
  EXPECT_EQ(TestSupport::ReadBytes(file), "\xFF\xFE" + Utf16Bytes(expected));
  const CUnicodeString log = ActionLog(package);
  EXPECT_TRUE(Contains(log, L"Warning. Could not read: [HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\AppMissing\r\n"));
  EXPECT_TRUE(Contains(log, L"KeepRegistry_OV_SaveReg End\r\n\r\n"));
}

TEST_F(KeepRegistryTest, LeavesNoFileWhenNothingIsSavedOrTheInputIsBad) {
  const struct {
    const char* what;
    int saveRoot;
    const wchar_t* target;  // relative to the test folder
    UINT result;
  } cases[] = {
      {"no value matches, an older file existed", 2, L"old\\Saved.reg", 0},
      {"the folder cannot be created (a file is in the way)", 2, L"blocker\\sub\\Saved.reg", 0},
      {"a root other than 0 and 2", 1, L"root\\Saved.reg", 1603},
  };
  WriteValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvTest\\App", L"Value", L"v");
  WriteValue(HKEY_CURRENT_USER, L"SOFTWARE\\OrvTest\\App", L"Value", L"v");
  TestSupport::WriteBytes(folder / L"blocker", "file");
  CreateDirectoryW((folder / L"old").c_str(), nullptr);
  for (const auto& c : cases) {
    const CUnicodeString target = folder / c.target;
    if (CUnicodeString(c.target).StartsWith(L"old")) TestSupport::WriteBytes(target, "older");
    TestSupport::CTestPackage run;
    run.Execute(kRegistryTable);
    run.ImportTable(TestSupport::TableSchemaPath(L"OV_SaveReg"));
    run.AddProperty(L"SAVE_REG_FILE", target);
    run.Insert(L"Registry", {L"Registry", L"Root", L"Key", L"Name", L"Value", L"Component_"},
               {L"reg1", c.saveRoot, L"SOFTWARE\\OrvTest\\App", L"Value", L"x", L"Comp"});
    run.Insert(L"OV_SaveReg", {L"Root", L"Registry"},
               {c.saveRoot, c.result == 0 ? L"SOFTWARE\\Elsewhere" : L"SOFTWARE\\OrvTest"});
    run.Open();
    EXPECT_EQ(run.Call("KeepRegistry_OV_SaveReg"), c.result) << c.what;
    EXPECT_FALSE(Vrn::PathExists(target)) << c.what;
  }
}

TEST(InstallationRecords, StoreTheFolderTheRunAndTheCounter) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.AddProperty(L"INSTALLDIR", L"C:\\Program Files\\Orvant\\");
  package.Open();
  EXPECT_EQ(package.Call("WriteInsDirForUnpublishProduct"), 0u);
  EXPECT_EQ(package.Call("WriteOrvantSetupRun_1"), 0u);
  const wchar_t* counterKey = L"SOFTWARE\\Orvant\\Dictionary\\8.0\\Shell\\Options";
  EXPECT_EQ(package.Call("WriteRunCounterInRegistry"), 0u);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, counterKey, L"RunCounter"), L"1");
  WriteValue(HKEY_LOCAL_MACHINE, counterKey, L"RunCounter", L"41");
  EXPECT_EQ(package.Call("WriteRunCounterInRegistry"), 0u);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, counterKey, L"RunCounter"), L"42");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup", L"INSTALLDIR"), L"C:\\Program Files\\Orvant\\");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup\\Run", L"1"), L"yes");

  package.SetProperty(L"INSTALLDIR", L"");
  EXPECT_EQ(package.Call("WriteInsDirForUnpublishProduct"), 1603u);
}
