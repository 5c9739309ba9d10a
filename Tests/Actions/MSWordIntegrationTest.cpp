// Word integration: the start-up folder chosen from a registered Word, the template placed and
// recorded (now, or at the next restart when Word holds the old one open), and removed again.
#include <algorithm>

#include "ActionTest.h"
#include "ClassesRootKey.h"

using namespace TestSupport;

namespace {

constexpr wchar_t kWordClassId[] = L"{000209FF-0000-0000-C000-000000000046}";
constexpr wchar_t kRecordKey[] = L"SOFTWARE\\OrvTest\\Word";

// Wine writes PendingFileRenameOperations by the key's absolute name, past any override of
// HKEY_LOCAL_MACHINE: the guard holds the real key (opened before the test's isolation) and puts
// the value back as it was.
class CPendingRenamesGuard {
 public:
  CPendingRenamesGuard() {
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, m_key.Put(), nullptr);
    m_saved = Pending();
  }
  ~CPendingRenamesGuard() {
    std::replace(m_saved.begin(), m_saved.end(), L'|', L'\0');
    if (m_saved.empty())
      RegDeleteValueW(m_key.Get(), kValue);
    else
      RegSetValueExW(m_key.Get(), kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(m_saved.data()),
                     static_cast<DWORD>(m_saved.size() * sizeof(wchar_t)));
  }
  // The list as it is now, zeros shown as '|'; empty without one.
  std::wstring Pending() const {
    DWORD size = 0;
    RegQueryValueExW(m_key.Get(), kValue, nullptr, nullptr, nullptr, &size);
    std::wstring list(size / sizeof(wchar_t), L'\0');
    if (RegQueryValueExW(m_key.Get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(list.data()), &size))
      list.clear();
    std::replace(list.begin(), list.end(), L'\0', L'|');
    return list;
  }

 private:
  static constexpr wchar_t kValue[] = L"PendingFileRenameOperations";
  Vrn::CRegKeyHandle m_key;
  std::wstring m_saved;
};

// The guard comes first: it must see the real HKEY_LOCAL_MACHINE.
class WordIntegrationTest : public CPendingRenamesGuard, public ActionTest {
 protected:
  WordIntegrationTest() {
    Vrn::CreateDirectoryWithParents(appData);
    WriteText(folder / L"Office\\WINWORD.EXE", "MZ");
    WriteBytes(folder / L"blocker", "a file where a folder should be");
  }

  CTempFolder folder;
  CUnicodeString appData = folder / L"AppData";
};

TEST_F(WordIntegrationTest, StartupFolderFollowsTheVersionAndTheFirstWritableCandidate) {
  // Word's STARTUP-PATH (null: not set), LocalServer32's program and the folder expected (empty: none),
  // all below the test folder
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
      {L"Word.Application.16", L"custom", L"Office\\WINWORD.EXE", L"custom", L"New.dotm"},
      {L"Word.Application.16", nullptr, L"Office\\WINWORD.EXE", L"AppData\\Microsoft\\Word\\Startup", L"New.dotm"},
      // Word's own setting cannot be made: the next candidate.
      {L"Word.Application.12", L"blocker\\sub", L"Office\\WINWORD.EXE", L"AppData\\Microsoft\\Word\\Startup",
       L"New.dotm"},
      {L"Word.Application", nullptr, L"Office\\WINWORD.EXE", L"Office\\Startup", L"Old.dot"},
      {L"word.application.abc", L"custom", L"Office\\winword.dll", L"", L"Old.dot"},
  };
  for (const auto& [currentVersion, startupPath, server, expected, templateName] : cases) {
    SCOPED_TRACE(CUnicodeString(currentVersion));
    CActionSession s;
    // No Word is installed in the test prefix: its registration is the test's own.
    const CClassesRootKey wordApplication(L"Word.Application");
    const CClassesRootKey wordClass(L"CLSID\\" + CUnicodeString(kWordClassId));
    // The user's application data, as the shell finds it, inside the test folder.
    SetRegistryText(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                    L"AppData", appData);
    SetRegistryText(HKEY_CLASSES_ROOT, L"Word.Application\\CurVer", L"", currentVersion);
    SetRegistryText(HKEY_CLASSES_ROOT, L"Word.Application\\CLSID", L"", kWordClassId);
    SetRegistryText(HKEY_CLASSES_ROOT, wordClass.Path() + L"\\LocalServer32", L"", (folder / server) + L" /Automation");
    const CUnicodeString curVer = currentVersion;
    const CUnicodeString number = curVer.Length() > 17 ? curVer.Mid(17) : CUnicodeString();
    if (startupPath)
      SetRegistryText(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\" + number + L".0\\Word\\Options",
                      L"STARTUP-PATH", folder / startupPath);
    s.package.AddProperties(L"WordTemplate12=New.dotm|WordTemplateDefault=Old.dot");
    s.Open();
    s.RunCases({{"GetWordStartUpPathAndTemplateName",
                 {},
                 L"WordStartUpPath=" + (*expected ? folder / expected : CUnicodeString()) + L"|WordTemplate=" +
                     templateName}});
    EXPECT_TRUE(!*expected || Vrn::DirectoryExists(folder / expected));
  }
}

class AddIconToWordTest : public WordIntegrationTest {
 protected:
  AddIconToWordTest() {
    Vrn::CreateDirectoryWithParents(folder / L"Install");
    WriteBytes(source, "new template");
    SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY);
    package.AddProperties(L"WordStartUpPath=" + startup + L"|WordTemplate=Orvant.dotm|WordTemplateReg=" + kRecordKey +
                          L"|INSTALLDIR=" + folder / L"Install\\");
  }
  // A read-only file would stay behind in the test folder.
  ~AddIconToWordTest() override { SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL); }
  CUnicodeString source = folder / L"Install\\Orvant.dotm";
  CUnicodeString startup = folder / L"Word\\Startup";
  CUnicodeString target = startup + L"\\Orvant.dotm";
};

TEST_F(AddIconToWordTest, PlacesAWritableCopyAndRecordsIt) {
  Open();
  RunCases({{"AddIconToWord"}});
  EXPECT_EQ(ReadBytes(target), "new template");
  EXPECT_EQ(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kRecordKey, L"WordIconPath"), target);
  EXPECT_TRUE(Vrn::ListDirectory(Vrn::TemporaryDirectory(), L"~ov*.TMP").empty());
  EXPECT_TRUE(Logged(L"setForEveryoneAccess : OK\r\n"));  // only logged
  EXPECT_EQ(Pending().find(target.View()), std::wstring::npos);
}

TEST_F(AddIconToWordTest, ATemplateWordHoldsOpenIsReplacedAtTheNextRestartAndStillRecorded) {
  Vrn::CreateDirectoryWithParents(startup);
  WriteBytes(target, "old template");
  const Vrn::CFileHandle held = HoldOpen(target);
  ASSERT_TRUE(held);
  Open();
  RunCases({{"AddIconToWord"}});
  EXPECT_EQ(ReadBytes(target), "old template");
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kRecordKey, L"WordIconPath"), target);
  // The copy waits in the temporary folder; the restart replaces the target with it ("!").
  const std::vector<Vrn::CDirectoryEntry> copies = Vrn::ListDirectory(Vrn::TemporaryDirectory(), L"~ov*.TMP");
  ASSERT_EQ(copies.size(), 1u);
  const std::wstring added = Pending();
  EXPECT_NE(added.find(copies[0].fullPath.View()), std::wstring::npos) << added;
  EXPECT_NE(added.find(L"|!\\??\\" + target.ToStdString()), std::wstring::npos) << added;
  Vrn::RemoveFile(copies[0].fullPath);
}

// A read-only recorded template is deleted now; one Word holds open is deleted at the next restart.
TEST_F(WordIntegrationTest, RemoveDeletesTheRecordedTemplateAndTheOneInTheStartupFolder) {
  const CUnicodeString recorded = folder / L"Recorded.dotm", startup = folder / L"Startup";
  const CUnicodeString inStartup = startup + L"\\Orvant.dotm";
  package.AddProperty(L"WordStartUpPath", startup);
  Open();
  RunCases({{"RemoveIconFromWord", L"", L"", NotCounted(1603)}});  // no record named: logged
  Set(L"WordTemplateReg=" + CUnicodeString(kRecordKey) + L"|WordTemplate=Orvant.dotm");
  for (const bool heldOpen : {false, true}) {
    WriteText(inStartup, "template");
    WriteBytes(recorded, "template");
    Vrn::CFileHandle held;
    if (heldOpen)
      held = HoldOpen(recorded);
    else
      SetFileAttributesW(recorded.c_str(), FILE_ATTRIBUTE_READONLY);
    SetRegistryText(HKEY_LOCAL_MACHINE, kRecordKey, L"WordIconPath", recorded);
    RunCases({{"RemoveIconFromWord"}});
    EXPECT_FALSE(Vrn::PathExists(inStartup));
    EXPECT_EQ(Vrn::PathExists(recorded), heldOpen);
    EXPECT_EQ(Pending().find(L"\\??\\" + recorded.ToStdString() + L"||") != std::wstring::npos, heldOpen);
    held.Reset();
    DeleteFileW(recorded.c_str());
  }
}

}  // namespace
