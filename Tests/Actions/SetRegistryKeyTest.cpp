// The registry actions: roots by text, removal in both views, the uninstall entry, the saved-registry
// file and the installation records. A real upgrade and removal are lifecycle-install's.
#include "ActionTest.h"
#include "ClassesRootKey.h"

using namespace TestSupport;
using Vrn::RegistryView;

namespace {

constexpr RegistryView kViews[] = {RegistryView::Thirty2, RegistryView::Sixty4};

// A name of this test program's own, for keys below the real roots.
CUnicodeString OwnName(const wchar_t* stem) { return stem + CUnicodeString::FromUInt(::GetCurrentProcessId()); }

}  // namespace

using RegistryActionsTest = ActionTest;

TEST(WriteRegistry, OnlyTheExactTextsZeroAndOneChooseAnotherRootThanTheMachine) {
  const CClassesRootKey key(OwnName(L"OrvantWriteTest"));
  for (const auto& [rootText, written] :
       {std::pair{L"0", HKEY_CLASSES_ROOT}, {L"1", HKEY_CURRENT_USER}, {L"01", HKEY_LOCAL_MACHINE}}) {
    const CClassesRootKey fresh(key.Path());
    CActionSession s;
    s.package.AddProperties(L"WR_VALUE=C:\\Program Files\\App|WR_KEY=" + key.Path() + L"|WR_ROOT=" + rootText);
    s.Open();
    s.RunCases({{"WriteRegistry"}});
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      EXPECT_EQ(RegistryText(root, key.Path(), L"") == L"C:\\Program Files\\App", root == written)
          << "root text '" << rootText << "' in " << Vrn::RegistryRootName(root);
  }
  // A key name beyond the registry's limit is refused before the registry is asked.
  CActionSession s;
  s.package.AddProperty(L"WR_KEY", L"SOFTWARE\\" + CUnicodeString(300, L'k'));
  s.package.AddProperty(L"WR_VALUE", L"v");
  s.Open();
  s.RunCases({{"WriteRegistry", L"", L"", 1603}});
  EXPECT_TRUE(
      s.Logged(L"A value from the property WR_KEY is 300 characters long, too long for a registry key name "
               L"(at most 255 characters)."));
}

// Removal works in both views of the real HKEY_LOCAL_MACHINE (the private roots of the other tests
// do not separate the views under Wine), below a key of the test's own, deleted again.
class RemoveRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteBase();
    for (RegistryView view : kViews) {
      SetRegistryText(HKEY_LOCAL_MACHINE, kApp, L"Keep", L"k", view);
      SetRegistryText(HKEY_LOCAL_MACHINE, kApp, L"Gone", L"g", view);
      SetRegistryText(HKEY_LOCAL_MACHINE, kApp + L"\\Sub\\Deep", L"", L"d", view);
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
  static UINT Remove(const CUnicodeString& path, const wchar_t* subKey, const wchar_t* value,
                     const wchar_t* keepParents) {
    CTestPackage package;
    package.AddProperty(L"RemoveRegistry_Path", path);
    for (const auto& [name, text] : {std::pair{L"RemoveRegistry_SubKey", subKey},
                                     {L"RemoveRegistry_Value", value},
                                     {L"UnRemoveParents", keepParents}})
      if (*text) package.AddProperty(name, text);
    package.Open();
    return package.Call("RemoveRegistry");
  }
  static const wchar_t* ViewName(RegistryView view) { return view == RegistryView::Thirty2 ? L"32" : L"64"; }
  static CUnicodeString Read(const CUnicodeString& key, const wchar_t* name, RegistryView view) {
    return RegistryText(HKEY_LOCAL_MACHINE, key, name, view);
  }

  static inline const CUnicodeString kBaseName = OwnName(L"OrvantRemoveTest");
  static inline const CUnicodeString kBase = L"SOFTWARE\\" + kBaseName;
  static inline const CUnicodeString kApp = kBase + L"\\App";
};

TEST_F(RemoveRegistryTest, AValueNameWinsOverASubKeyAndAKeyInUseStays) {
  for (RegistryView view : kViews) SetRegistryText(HKEY_LOCAL_MACHINE, kApp, L"View", ViewName(view), view);
  EXPECT_EQ(Remove(kApp, L"", L"NoSuchValue", L""), 1603u);
  EXPECT_EQ(Remove(kApp, L"Sub", L"Gone", L""), 0u);
  for (RegistryView view : kViews) {
    EXPECT_EQ(Read(kApp, L"Gone", view), L"<missing>");
    EXPECT_EQ(Read(kApp + L"\\Sub\\Deep", L"", view), L"d");
    EXPECT_EQ(Read(kApp, L"View", view), ViewName(view));  // each view keeps its own value
  }
}

TEST_F(RemoveRegistryTest, EmptiedKeysAndParentsWithOneValueGoUnlessUnRemoveParents) {
  for (const wchar_t* key : {L"\\New", L"\\Kept"})
    for (RegistryView view : kViews) SetRegistryText(HKEY_LOCAL_MACHINE, kBase + key, L"Gone", L"g", view);
  EXPECT_EQ(Remove(kBase + L"\\New\\", L"", L"Gone", L"0"), 0u);  // a trailing separator names the same key
  EXPECT_EQ(Remove(kBase + L"\\Kept", L"", L"Gone", L"1"), 0u);
  EXPECT_EQ(Remove(kApp, L"Sub", L"", L"1"), 0u);
  for (RegistryView view : kViews) {
    EXPECT_EQ(Read(kBase + L"\\New", L"", view), L"<no key>");
    EXPECT_EQ(Read(kBase + L"\\Kept", L"", view), L"<missing>");  // emptied, kept
    EXPECT_EQ(Read(kApp + L"\\Sub", L"", view), L"<no key>");
    EXPECT_EQ(Read(kApp, L"Keep", view), L"k");
    Vrn::CRegistryKey base;
    ASSERT_TRUE(base.Open(HKEY_LOCAL_MACHINE, kBase, Vrn::RegistryMode::Write, view));
    base.DeleteSubKeyTree(L"Kept");
  }
  // App is left with one value and no subkey: it goes, then the test's own key; SOFTWARE stays.
  EXPECT_EQ(Remove(kApp, L"", L"Gone", L""), 0u);
  for (RegistryView view : kViews) {
    EXPECT_EQ(Read(kBase, L"", view), L"<no key>");
    EXPECT_NE(Read(L"SOFTWARE", L"", view), L"<no key>");
  }
}

TEST_F(RegistryActionsTest, CleanRegistryRemovesOnlyTheProductsUninstallEntry) {
  const CUnicodeString list = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  SetRegistryText(HKEY_LOCAL_MACHINE, list + L"Test Product\\Nested", L"x", L"1");
  SetRegistryText(HKEY_LOCAL_MACHINE, list + L"Test Product 2", L"x", L"1");
  Open();
  RunCases({{"CleanRegistry"}, {"CleanRegistry", L"", L"", 1603}});  // then nothing is left to remove
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, list + L"Test Product", L"x"), L"<no key>");
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, list + L"Test Product 2", L"x"), L"1");
}

class KeepRegistryTest : public ::testing::Test {
 protected:
  // A package whose Registry rows are (root, key, name) and whose OV_SaveReg rows are (root, prefix).
  static UINT Run(const CUnicodeString& file,
                  std::initializer_list<std::tuple<int, CUnicodeString, const wchar_t*>> rows,
                  std::initializer_list<std::pair<int, CUnicodeString>> saved) {
    CTestPackage package;
    package.ImportTable(TableSchemaPath(L"OV_SaveReg"));
    package.AddProperty(L"SAVE_REG_FILE", file);
    for (const auto& [root, key, name] : rows) package.AddRegistryRow(root, key, name, CCell::Null());
    for (const auto& [root, prefix] : saved) package.Insert(L"OV_SaveReg", {L"Root", L"Registry"}, {root, prefix});
    package.Open();
    return package.Call("KeepRegistry_OV_SaveReg");
  }

  CMachineIsolation isolation;
  const CClassesRootKey document{OwnName(L"OrvantSaveTest") + L".Document"};
  CTempFolder folder;
};

TEST_F(KeepRegistryTest, WritesOneSectionPerSavedValueExactlyAsRead) {
  const CUnicodeString app = L"SOFTWARE\\OrvTest\\App";
  SetRegistryText(HKEY_LOCAL_MACHINE, app, L"InstallDir", L"C:\\Program Files\\App\\");
  SetRegistryText(HKEY_LOCAL_MACHINE, app, L"", L"say \"hi\"");
  SetRegistryValue(HKEY_LOCAL_MACHINE, app, L"Count", REG_DWORD, std::string("\x07\0\0\0", 4));
  SetRegistryValue(HKEY_LOCAL_MACHINE, app, L"Multi", REG_MULTI_SZ, Utf16(std::wstring_view(L"a\0b\0\0", 5)));
  SetRegistryText(HKEY_LOCAL_MACHINE, app + L"Extra", L"Sibling", L"s");
  SetRegistryText(HKEY_CLASSES_ROOT, document.Path(), L"", L"Document");
  SetRegistryText(HKEY_CURRENT_USER, app, L"User", L"u");
  const CUnicodeString file = folder / L"new\\deeper\\Saved.reg";
  WriteBytes(folder / L"Old.reg", "older");
  EXPECT_EQ(Run(file,
                {{2, app, L"InstallDir"},
                 {2, app, L""},
                 {2, app, L"Count"},
                 {2, app, L"Multi"},
                 {2, app + L"Extra", L"Sibling"},       // a plain prefix match
                 {2, app + L"Missing", L"X"},           // no such key: skipped
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
  EXPECT_EQ(ReadBytes(file), "\xFF\xFE" + Utf16(expected));

  // Nothing saved: the older file is gone and no new one stays. A folder that cannot be made (a
  // file is in the way) writes nothing; a root other than 0 and 2 fails and leaves no file.
  EXPECT_EQ(Run(file, {{2, app, L"InstallDir"}}, {{2, L"SOFTWARE\\Elsewhere"}}), 0u);
  EXPECT_FALSE(Vrn::PathExists(file));
  EXPECT_EQ(Run(folder / L"Old.reg\\Saved.reg", {{2, app, L"InstallDir"}}, {{2, app}}), 0u);
  EXPECT_EQ(Run(file, {{1, app, L"User"}}, {{1, app}}), 1603u);
  EXPECT_FALSE(Vrn::PathExists(file));
}

TEST_F(RegistryActionsTest, InstallationRecordsStoreTheFolderTheRunAndTheCounter) {
  package.AddProperty(L"INSTALLDIR", L"C:\\Program Files\\Orvant\\");
  const wchar_t* counterKey = L"SOFTWARE\\Orvant\\Dictionary\\8.0\\Shell\\Options";
  SetRegistryText(HKEY_LOCAL_MACHINE, counterKey, L"RunCounter", L"41");
  Open();
  RunCases({{"WriteInsDirForUnpublishProduct"},
            {"WriteOrvantSetupRun_1"},
            {"WriteRunCounterInRegistry"},
            {"WriteInsDirForUnpublishProduct", L"INSTALLDIR=", L"", 1603}});
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, counterKey, L"RunCounter"), L"42");
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup", L"INSTALLDIR"),
            L"C:\\Program Files\\Orvant\\");
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup\\Run", L"1"), L"yes");
}
