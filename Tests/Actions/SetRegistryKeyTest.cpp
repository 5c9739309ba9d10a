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
constexpr RegistryView kViews[] = {RegistryView::Thirty2, RegistryView::Sixty4};

// A REG_SZ value, kMissing without the value, or "" without the key.
CUnicodeString ReadValue(HKEY root, const CUnicodeString& key, const CUnicodeString& name,
                         RegistryView view = RegistryView::Sixty4) {
  CRegistryKey opened;
  return opened.Open(root, key, RegistryMode::Read, view) ? opened.ReadString(name, kMissing) : CUnicodeString();
}

void WriteValue(HKEY root, const CUnicodeString& key, const CUnicodeString& name, DWORD type, std::string_view data,
                RegistryView view = RegistryView::Sixty4) {
  CRegistryKey opened;
  ASSERT_TRUE(opened.Open(root, key, RegistryMode::Write, view));
  opened.WriteValue(name, type, data.data(), static_cast<DWORD>(data.size()));
}

std::string Utf16(std::wstring_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void WriteText(HKEY root, const CUnicodeString& key, const CUnicodeString& name, const CUnicodeString& value,
               RegistryView view = RegistryView::Sixty4) {
  WriteValue(root, key, name, REG_SZ, Utf16(value.View()) + std::string(2, '\0'), view);
}

bool Contains(const CUnicodeString& text, std::wstring_view part) { return text.Find(part) != CUnicodeString::npos; }

// A name of this test program's own, for keys below the real roots.
CUnicodeString OwnName(const wchar_t* stem) { return stem + CUnicodeString::FromUInt(GetCurrentProcessId()); }

}  // namespace

TEST(WriteRegistry, OnlyTheExactTextsZeroAndOneChooseAnotherRootThanTheMachine) {
  const struct {
    const wchar_t* rootText;
    HKEY written;
  } cases[] = {
      {L"0", HKEY_CLASSES_ROOT}, {L"1", HKEY_CURRENT_USER}, {L"01", HKEY_LOCAL_MACHINE}, {L"", HKEY_LOCAL_MACHINE}};
  const TestSupport::CClassesRootKey key(OwnName(L"OrvantWriteTest"));
  for (const auto& c : cases) {
    TestSupport::CMachineIsolation isolation;
    const TestSupport::CClassesRootKey fresh(key.Path());
    TestSupport::CTestPackage package;
    package.AddProperty(L"WR_KEY", key.Path());
    package.AddProperty(L"WR_VALUE", L"C:\\Program Files\\App");
    if (*c.rootText) package.AddProperty(L"WR_ROOT", c.rootText);
    package.Open();
    EXPECT_EQ(package.Call("WriteRegistry"), 0u);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      EXPECT_EQ(ReadValue(root, key.Path(), L""), root == c.written ? L"C:\\Program Files\\App" : L"")
          << "root text '" << Utf8(c.rootText) << "' in " << Utf8(Vrn::RegistryRootName(root));
    }
  }
  // A key name beyond the registry's limit does not open: logged, and the action still succeeds.
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.AddProperty(L"WR_KEY", L"SOFTWARE\\" + CUnicodeString(300, L'k'));
  package.AddProperty(L"WR_VALUE", L"v");
  package.Open();
  EXPECT_EQ(package.Call("WriteRegistry"), 0u);
  EXPECT_TRUE(Contains(ActionLog(package), L"WriteRegistry: can't open\r\n"));
}

// Removal works in both views of the real HKEY_LOCAL_MACHINE (the private roots of the other tests
// do not separate the views under Wine), below a key of the test's own, deleted again.
class RemoveRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteBase();
    for (RegistryView view : kViews) {
      WriteText(HKEY_LOCAL_MACHINE, kApp, L"Keep", L"k", view);
      WriteText(HKEY_LOCAL_MACHINE, kApp, L"Gone", L"g", view);
      WriteText(HKEY_LOCAL_MACHINE, kApp + L"\\Sub\\Deep", L"", L"d", view);
    }
  }
  void TearDown() override { DeleteBase(); }
  static void DeleteBase() {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      Vrn::CRegKeyHandle software;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, software.Put()) != ERROR_SUCCESS)
        continue;
      RegDeleteTreeW(software.Get(), kBaseName.c_str());
      RegDeleteKeyW(software.Get(), kBaseName.c_str());
    }
  }
  UINT Remove(const CUnicodeString& path, const wchar_t* subKey, const wchar_t* value, const wchar_t* keepParents) {
    TestSupport::CTestPackage package;
    package.AddProperty(L"RemoveRegistry_Path", path);
    for (const auto& [name, text] : {std::pair{L"RemoveRegistry_SubKey", subKey},
                                     {L"RemoveRegistry_Value", value},
                                     {L"UnRemoveParents", keepParents}})
      if (*text) package.AddProperty(name, text);
    package.Open();
    const UINT result = package.Call("RemoveRegistry");
    log = ActionLog(package);
    return result;
  }

  static inline const CUnicodeString kBaseName = OwnName(L"OrvantRemoveTest");
  static inline const CUnicodeString kBase = L"SOFTWARE\\" + kBaseName;
  static inline const CUnicodeString kApp = kBase + L"\\App";
  CUnicodeString log;
};

TEST_F(RemoveRegistryTest, AValueNameWinsOverASubKeyAndAKeyInUseStays) {
  EXPECT_EQ(Remove(kApp, L"", L"NoSuchValue", L""), 1603u);
  EXPECT_EQ(Remove(kApp, L"Sub", L"Gone", L""), 0u);
  for (RegistryView view : kViews) {
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApp, L"Gone", view), kMissing);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApp + L"\\Sub\\Deep", L"", view), L"d");
  }
  EXPECT_TRUE(Contains(log,
                       L"removeRegistrySingleParent view: 64\r\nremoveRegistrySingleParent: keys: 1\r\n"
                       L"removeRegistrySingleParent: values: 1\r\n"))
      << Utf8(log);
}

TEST_F(RemoveRegistryTest, EmptiedKeysAndParentsWithOneValueGoUnlessUnRemoveParents) {
  for (const wchar_t* key : {L"\\New", L"\\Kept"})
    for (RegistryView view : kViews) WriteText(HKEY_LOCAL_MACHINE, kBase + key, L"Gone", L"g", view);
  EXPECT_EQ(Remove(kBase + L"\\New\\", L"", L"Gone", L"0"), 0u);  // a trailing separator names the same key
  EXPECT_EQ(Remove(kBase + L"\\Kept", L"", L"Gone", L"1"), 0u);
  EXPECT_EQ(Remove(kApp, L"Sub", L"", L"1"), 0u);
  for (RegistryView view : kViews) {
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kBase + L"\\New", L"", view), L"");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kBase + L"\\Kept", L"", view), kMissing);  // emptied, kept
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApp + L"\\Sub", L"", view), L"");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kApp, L"Keep", view), L"k");
    CRegistryKey base;
    ASSERT_TRUE(base.Open(HKEY_LOCAL_MACHINE, kBase, RegistryMode::Write, view));
    base.DeleteSubKeyTree(L"Kept");
  }
  // App is left with one value and no subkey: it goes, then the test's own key; SOFTWARE stays.
  EXPECT_EQ(Remove(kApp, L"", L"Gone", L""), 0u);
  for (RegistryView view : kViews) {
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kBase, L"", view), L"");
    EXPECT_NE(ReadValue(HKEY_LOCAL_MACHINE, L"SOFTWARE", L"", view), L"");
  }
}

TEST(CleanRegistry, RemovesOnlyTheProductsUninstallEntry) {
  TestSupport::CMachineIsolation isolation;
  const CUnicodeString list = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  WriteText(HKEY_LOCAL_MACHINE, list + L"Test Product\\Nested", L"x", L"1");
  WriteText(HKEY_LOCAL_MACHINE, list + L"Test Product 2", L"x", L"1");
  TestSupport::CTestPackage package;
  package.Open();
  EXPECT_EQ(package.Call("CleanRegistry"), 0u);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, list + L"Test Product", L"x"), L"");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, list + L"Test Product 2", L"x"), L"1");
  EXPECT_EQ(package.Call("CleanRegistry"), 1603u);  // nothing left to remove
}

class KeepRegistryTest : public ::testing::Test {
 protected:
  // A package whose Registry rows are (root, key, name) and whose OV_SaveReg rows are (root, prefix).
  UINT Run(const CUnicodeString& file, std::initializer_list<std::tuple<int, CUnicodeString, const wchar_t*>> rows,
           std::initializer_list<std::pair<int, CUnicodeString>> saved) {
    TestSupport::CTestPackage package;
    package.Execute(
        L"CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL, "
        L"`Name` CHAR(255), `Value` LONGCHAR, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)");
    package.ImportTable(TestSupport::TableSchemaPath(L"OV_SaveReg"));
    package.AddProperty(L"SAVE_REG_FILE", file);
    int id = 100;
    for (const auto& [root, key, name] : rows)
      package.Insert(L"Registry", {L"Registry", L"Root", L"Key", L"Name", L"Component_"},
                     {L"reg" + CUnicodeString::FromInt(++id), root, key, name, L"Comp"});
    for (const auto& [root, prefix] : saved) package.Insert(L"OV_SaveReg", {L"Root", L"Registry"}, {root, prefix});
    package.Open();
    const UINT result = package.Call("KeepRegistry_OV_SaveReg");
    log = ActionLog(package);
    return result;
  }

  TestSupport::CMachineIsolation isolation;
  const TestSupport::CClassesRootKey document{OwnName(L"OrvantSaveTest") + L".Document"};
  TestSupport::CTempFolder folder;
  CUnicodeString log;
};

TEST_F(KeepRegistryTest, WritesOneSectionPerSavedValueExactlyAsRead) {
  const CUnicodeString app = L"SOFTWARE\\OrvTest\\App";
  WriteText(HKEY_LOCAL_MACHINE, app, L"InstallDir", L"C:\\Program Files\\App\\");
  WriteText(HKEY_LOCAL_MACHINE, app, L"", L"say \"hi\"");
  WriteValue(HKEY_LOCAL_MACHINE, app, L"Count", REG_DWORD, std::string("\x07\0\0\0", 4));
  WriteValue(HKEY_LOCAL_MACHINE, app, L"Multi", REG_MULTI_SZ, Utf16(std::wstring_view(L"a\0b\0\0", 5)));
  WriteText(HKEY_LOCAL_MACHINE, app + L"Extra", L"Sibling", L"s");
  WriteText(HKEY_CLASSES_ROOT, document.Path(), L"", L"Document");
  WriteText(HKEY_CURRENT_USER, app, L"User", L"u");
  const CUnicodeString file = folder / L"new\\deeper\\Saved.reg";
  TestSupport::WriteBytes(folder / L"Old.reg", "older");
  EXPECT_EQ(Run(file,
                {{2, app, L"InstallDir"},
                 {2, app, L""},
                 {2, app, L"Count"},
                 {2, app, L"Multi"},
                 {2, app + L"Extra", L"Sibling"},       // a plain prefix match
                 {2, app + L"Missing", L"X"},           // no such key: a warning
                 {2, L"software\\OrvTest\\App", L"X"},  // the prefix test is case-sensitive
                 {1, app, L"User"},                     // other roots are never saved
                 {-1, app, L"InstallDir"},
                 {0, document.Path(), L""}},
                {{0, OwnName(L"OrvantSaveTest") + L"."}, {2, L"SOFTWARE\\Nothing"}, {2, app}}),
            0u);
  const std::wstring section = L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\App]\r\n";
  const std::wstring expected = L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\" +
                                document.Path().ToStdString() + L"]\r\n@=\"Document\"\r\n" + section +
                                L"\"InstallDir\"=\"C:\\Program Files\\App\\\"\r\n" + section + L"@=\"say \"hi\"\"\r\n" +
                                section + L"\"Count\"=\"\"\r\n" + section + L"\"Multi\"=\"\"\r\n" +
                                L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\AppExtra]\r\n\"Sibling\"=\"s\"\r\n";
  EXPECT_EQ(TestSupport::ReadBytes(file), "\xFF\xFE" + Utf16(expected));
  EXPECT_TRUE(Contains(log, L"Warning. Could not read: [HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvTest\\AppMissing\r\n"));
  EXPECT_TRUE(Contains(log, L"KeepRegistry_OV_SaveReg End\r\n\r\n"));

  // Nothing saved: the older file is gone and no new one stays. A folder that cannot be made (a
  // file is in the way) writes nothing; a root other than 0 and 2 fails and leaves no file.
  EXPECT_EQ(Run(file, {{2, app, L"InstallDir"}}, {{2, L"SOFTWARE\\Elsewhere"}}), 0u);
  EXPECT_FALSE(Vrn::PathExists(file));
  EXPECT_EQ(Run(folder / L"Old.reg\\Saved.reg", {{2, app, L"InstallDir"}}, {{2, app}}), 0u);
  EXPECT_EQ(Run(file, {{1, app, L"User"}}, {{1, app}}), 1603u);
  EXPECT_FALSE(Vrn::PathExists(file));
}

TEST(InstallationRecords, StoreTheFolderTheRunAndTheCounter) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.AddProperty(L"INSTALLDIR", L"C:\\Program Files\\Orvant\\");
  package.Open();
  EXPECT_EQ(package.Call("WriteInsDirForUnpublishProduct"), 0u);
  EXPECT_EQ(package.Call("WriteOrvantSetupRun_1"), 0u);
  const wchar_t* counterKey = L"SOFTWARE\\Orvant\\Dictionary\\8.0\\Shell\\Options";
  WriteText(HKEY_LOCAL_MACHINE, counterKey, L"RunCounter", L"41");
  EXPECT_EQ(package.Call("WriteRunCounterInRegistry"), 0u);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, counterKey, L"RunCounter"), L"42");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup", L"INSTALLDIR"), L"C:\\Program Files\\Orvant\\");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup\\Run", L"1"), L"yes");
  package.SetProperty(L"INSTALLDIR", L"");
  EXPECT_EQ(package.Call("WriteInsDirForUnpublishProduct"), 1603u);
}
