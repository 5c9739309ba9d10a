// The web configuration family in a real installer session, called in this program so that the
// file-replacement fault hook and the MSXML probe seam reach it. The corpus in Tests/Data/webconfig
// is replayed: each input beside the bytes the action must leave, or the merges it must refuse (see
// the README there).
#include <gtest/gtest.h>

#include "ChildProcessTest.h"
#include "Files.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"
#include "WebConfig.h"

using SessionTests::ActionLog;
using TestSupport::ReadBytes;
using TestSupport::WriteBytes;
using Vrn::CUnicodeString;

extern "C" {
UINT __stdcall ModifyWebConfig(MSIHANDLE session);
UINT __stdcall SetConfigClientAccessPolicyXml(MSIHANDLE session);
UINT __stdcall RemoveConfigClientAccessPolicyXml(MSIHANDLE session);
UINT __stdcall UpdateWebConfigs_Prepare(MSIHANDLE session);
UINT __stdcall UpdateWebConfigs_Make(MSIHANDLE session);
UINT __stdcall UpdateWebConfigs_Copy(MSIHANDLE session);
UINT __stdcall CheckAndSetMSXML(MSIHANDLE session);
}

namespace {

constexpr wchar_t kPolicyPath[] = L"/api/Service";

// The corpus files of a folder matching the pattern, by name.
std::vector<Vrn::CDirectoryEntry> Corpus(const wchar_t* folder, const wchar_t* pattern) {
  return Vrn::ListDirectory(TestSupport::DataPath(CUnicodeString(L"webconfig\\") + folder), pattern, Vrn::ListFiles);
}

// The name without its last n characters (the extension).
CUnicodeString Stem(const Vrn::CDirectoryEntry& entry, size_t n) { return entry.name.Left(entry.name.Length() - n); }

// The expected bytes beside an input, or nothing when the input must stay as it was.
std::optional<std::string> Expected(const CUnicodeString& path) {
  if (!Vrn::FileExists(path)) return std::nullopt;
  return ReadBytes(path);
}

std::string Utf16File(std::wstring_view text) {
  return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

bool Contains(const CUnicodeString& text, std::wstring_view part) { return text.Find(part) != CUnicodeString::npos; }

// Makes one step of every file replacement fail for the object's lifetime.
class CReplaceFault {
 public:
  explicit CReplaceFault(Vrn::ReplaceStep step) : m_previous(Vrn::SetReplaceFaultHook(Fail)) { s_step = step; }
  ~CReplaceFault() { Vrn::SetReplaceFaultHook(m_previous); }

 private:
  static DWORD Fail(Vrn::ReplaceStep step) { return step == s_step ? ERROR_DISK_FULL : 0; }
  static inline Vrn::ReplaceStep s_step{};
  Vrn::ReplaceFaultHook m_previous;
};

}  // namespace

class WebConfigTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTempFolder folder;
  TestSupport::CTestPackage package;

  // Logs since `from`.
  CUnicodeString LogSince(size_t from) const { return ActionLog(package).Mid(from); }
  // The installed applications' folder of the upgrade tests.
  CUnicodeString AppConfig(const CUnicodeString& application) const {
    return folder / (L"Apps\\" + application + L"\\Web.config");
  }
  void OpenForUpgrade(const CUnicodeString& applications) {
    package.AddProperty(L"IISROOTFOLDER", folder.Path());
    package.AddProperty(L"UWC_MainFolder", L"Apps");
    package.AddProperty(L"UWC_List", applications);
    package.Open();
  }
};

TEST_F(WebConfigTest, ModifyWebConfigReplaysCorpus) {
  package.Open();
  for (const bool remove : {false, true}) {
    // Every case of one direction in one call; a missing folder and empty items are skipped silently.
    CUnicodeString list = L",," + (folder / L"no-such-app");
    std::vector<std::pair<Vrn::CDirectoryEntry, CUnicodeString>> cases;
    for (const Vrn::CDirectoryEntry& input : Corpus(L"modify", remove ? L"off-*.config" : L"on-*.config")) {
      const CUnicodeString app = folder / Stem(input, 7);
      Vrn::CreateDirectoryWithParents(app);
      WriteBytes(app + L"\\web.config", ReadBytes(input.fullPath));
      list += L"," + app;
      cases.emplace_back(input, app + L"\\web.config");
    }
    ASSERT_FALSE(cases.empty());
    package.SetProperty(L"ModifyWebConfigList", list);
    package.SetProperty(L"IsRemove", remove ? L"1" : L"No");
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(ModifyWebConfig(package.Session()), 0u);
    const CUnicodeString log = LogSince(logged);
    EXPECT_TRUE(log.EndsWith(L"ModifyWebConfig end\r\n\r\n")) << log;
    EXPECT_FALSE(Contains(log, L"file not exist: " + (folder / L"no-such-app")));
    for (const auto& [input, path] : cases) {
      SCOPED_TRACE(input.name.ToUtf8());
      const std::optional<std::string> expected =
          Expected(input.fullPath.Left(input.fullPath.Length() - 7) + L".expected");
      EXPECT_EQ(ReadBytes(path), expected.value_or(ReadBytes(input.fullPath)));
      EXPECT_EQ(Contains(log, L"ModifyWebConfig - WARNING !!! file not exist: " + path + L"\r\n"), !expected);
    }
  }
}

TEST_F(WebConfigTest, ModifyWebConfigRewritesALargeFile) {
  // 50 MB of settings around one flag, without a declaration: rewritten whole as UTF-16.
  const std::string filler(50 << 20, 'x');
  const std::string text =
      "<configuration><add key=\"UseCustomAuthentication\" value=\"false\" /><!--" + filler + "--></configuration>";
  WriteBytes(folder / L"web.config", text);
  package.AddProperty(L"ModifyWebConfigList", folder.Path());
  package.Open();
  EXPECT_EQ(ModifyWebConfig(package.Session()), 0u);
  const std::string written = ReadBytes(folder / L"web.config");
  EXPECT_EQ(written.size(), 2 + 2 * (text.size() - 1));  // "false" became "true"
  EXPECT_EQ(written.substr(0, 2 + 2 * 15), Utf16File(L"<configuration>"));
}

TEST_F(WebConfigTest, ClientAccessPolicyReplaysCorpus) {
  package.AddProperty(L"IISROOTFOLDER", folder.Path());
  package.AddProperty(L"POLICYPATH", kPolicyPath);
  package.Open();
  const CUnicodeString policyFile = folder / L"clientaccesspolicy.xml";
  const std::pair<UINT(__stdcall*)(MSIHANDLE), const wchar_t*> actions[] = {
      {SetConfigClientAccessPolicyXml, L".set.expected"}, {RemoveConfigClientAccessPolicyXml, L".remove.expected"}};
  for (const auto& [action, expectedSuffix] : actions) {
    for (const Vrn::CDirectoryEntry& input : Corpus(L"policy", L"*.xml")) {
      SCOPED_TRACE(input.name.ToUtf8() + (action == SetConfigClientAccessPolicyXml ? " set" : " remove"));
      WriteBytes(policyFile, ReadBytes(input.fullPath));
      const size_t logged = ActionLog(package).Length();
      EXPECT_EQ(action(package.Session()), 0u);
      const CUnicodeString log = LogSince(logged);
      const std::optional<std::string> expected =
          Expected(input.fullPath.Left(input.fullPath.Length() - 4) + expectedSuffix);
      // An empty expected file stands for "the policy file was deleted".
      if (expected && expected->empty()) {
        EXPECT_FALSE(Vrn::FileExists(policyFile));
        EXPECT_TRUE(log.EndsWith(L"Remove policy node: 1\r\n\r\nClientaccesspolicy.xml was removed\r\n\r\n")) << log;
      } else {
        EXPECT_EQ(ReadBytes(policyFile), expected.value_or(ReadBytes(input.fullPath)));
      }
    }
  }
  EXPECT_TRUE(Contains(ActionLog(package), L"Policy already exist. Path: /api/Service\r\n\r\n"));

  // Without a file, Set creates the empty policy file with the grant and Remove deletes it again.
  Vrn::RemoveFile(policyFile);
  EXPECT_EQ(SetConfigClientAccessPolicyXml(package.Session()), 0u);
  EXPECT_EQ(ReadBytes(policyFile),
            Utf16File(L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><access-policy><cross-domain-access><policy>"
                      L"<allow-from http-request-headers=\"*\"><domain uri=\"*\"/></allow-from><grant-to><resource "
                      L"path=\"/api/Service\" include-subpaths=\"true\"/></grant-to></policy></cross-domain-access>"
                      L"</access-policy>"));
  EXPECT_EQ(RemoveConfigClientAccessPolicyXml(package.Session()), 0u);
  EXPECT_FALSE(Vrn::FileExists(policyFile));
  const size_t logged = ActionLog(package).Length();
  EXPECT_EQ(RemoveConfigClientAccessPolicyXml(package.Session()), 0u);
  EXPECT_TRUE(LogSince(logged).EndsWith(L"Clientaccesspolicy.xml was not found: " + policyFile + L"\r\n\r\n"));
}

TEST_F(WebConfigTest, UpgradeMergeReplaysCorpus) {
  std::vector<Vrn::CDirectoryEntry> saved = Corpus(L"merge", L"*.saved.config");
  CUnicodeString list = L"missing-app";
  for (const Vrn::CDirectoryEntry& input : saved) {
    const CUnicodeString app = Stem(input, 13);
    Vrn::CreateDirectoryWithParents(folder / (L"Apps\\" + app));
    WriteBytes(AppConfig(app), ReadBytes(input.fullPath));
    list += L"," + app;
  }
  OpenForUpgrade(list);
  EXPECT_EQ(UpdateWebConfigs_Prepare(package.Session()), 0u);
  const CUnicodeString tempDir = package.Property(L"UWC_TempDir");
  EXPECT_TRUE(tempDir.StartsWith(Vrn::TemporaryDirectory() + L"_webconfigs_")) << tempDir;
  // The new version's files are installed over the old ones.
  for (const Vrn::CDirectoryEntry& input : saved) {
    const CUnicodeString app = Stem(input, 13);
    EXPECT_EQ(ReadBytes(tempDir + L"\\" + app + L"\\Web.config"), ReadBytes(input.fullPath));
    WriteBytes(AppConfig(app), ReadBytes(input.fullPath.Left(input.fullPath.Length() - 13) + L".installed.config"));
  }
  // A saved application the new version no longer installs.
  Vrn::CreateDirectoryWithParents(tempDir + L"\\gone-app");
  WriteBytes(tempDir + L"\\gone-app\\Web.config", "<configuration/>");
  const size_t logged = ActionLog(package).Length();
  EXPECT_EQ(UpdateWebConfigs_Make(package.Session()), 0u);
  const CUnicodeString log = LogSince(logged);
  for (const Vrn::CDirectoryEntry& input : saved) {
    const CUnicodeString stem = input.fullPath.Left(input.fullPath.Length() - 13);
    SCOPED_TRACE(input.name.ToUtf8());
    EXPECT_EQ(ReadBytes(AppConfig(Stem(input, 13))),
              Expected(stem + L".expected").value_or(ReadBytes(stem + L".installed.config")));
  }
  EXPECT_FALSE(Vrn::PathExists(tempDir));
  // The merge's own refusals are logged (the merge itself is in the end-to-end upgrade test).
  for (const CUnicodeString& line :
       {L"UpdateWebConfigs_Make !!! " + AppConfig(L"value-before-key-and-other-attribute") +
            L"not value:description\r\n",
        L"UpdateWebConfigs_Make !!! : " + tempDir +
            L"\\saved-root-not-configuration\\Web.config[root == 0 || root->Name() != configuration]\r\n",
        L"UpdateWebConfigs_Make !!! " + AppConfig(L"gone-app") + L"not access\r\n"})
    EXPECT_TRUE(Contains(log, line)) << line.ToUtf8();
}

TEST_F(WebConfigTest, UpgradeCopyPutsTheSavedFilesBack) {
  Vrn::CreateDirectoryWithParents(folder / L"Apps\\Shop");
  Vrn::CreateDirectoryWithParents(folder / L"Apps\\Admin");
  WriteBytes(AppConfig(L"Shop"), "\xEF\xBB\xBF<configuration>old shop</configuration>");
  OpenForUpgrade(L"Shop,Admin");
  EXPECT_EQ(UpdateWebConfigs_Prepare(package.Session()), 0u);
  const CUnicodeString tempDir = package.Property(L"UWC_TempDir");
  WriteBytes(tempDir + L"\\Admin\\Web.config", "<configuration>saved admin</configuration>");
  WriteBytes(AppConfig(L"Shop"), "<configuration>new shop</configuration>");
  const size_t logged = ActionLog(package).Length();
  EXPECT_EQ(UpdateWebConfigs_Copy(package.Session()), 0u);
  EXPECT_EQ(ReadBytes(AppConfig(L"Shop")), "\xEF\xBB\xBF<configuration>old shop</configuration>");
  EXPECT_EQ(ReadBytes(AppConfig(L"Admin")), "<configuration>saved admin</configuration>");
  EXPECT_FALSE(Vrn::PathExists(tempDir));
  const CUnicodeString log = LogSince(logged);
  EXPECT_TRUE(log.EndsWith(L"UpdateWebConfigs_Copy " + AppConfig(L"Admin") + L"copy\r\nUpdateWebConfigs_Copy " +
                           AppConfig(L"Shop") + L"remove\r\nUpdateWebConfigs_Copy " + AppConfig(L"Shop") +
                           L"copy\r\nUpdateWebConfigs_Copy END\r\n\r\n"))
      << log;
}

TEST_F(WebConfigTest, UpgradeMergeRefusesBadInputAndLeavesTheFileAlone) {
  Vrn::CreateDirectoryWithParents(folder / L"Apps\\Web");
  OpenForUpgrade(L"Web");
  for (const Vrn::CDirectoryEntry& input : Corpus(L"refuse", L"*.saved.config")) {
    SCOPED_TRACE(input.name.ToUtf8());
    WriteBytes(AppConfig(L"Web"), ReadBytes(input.fullPath));
    ASSERT_EQ(UpdateWebConfigs_Prepare(package.Session()), 0u);
    const std::string before = ReadBytes(input.fullPath.Left(input.fullPath.Length() - 13) + L".installed.config");
    WriteBytes(AppConfig(L"Web"), before);
    EXPECT_EQ(UpdateWebConfigs_Make(package.Session()), 1603u);
    EXPECT_EQ(ReadBytes(AppConfig(L"Web")), before);
    // The saved files stay for another attempt.
    EXPECT_TRUE(Vrn::FileExists(package.Property(L"UWC_TempDir") + L"\\Web\\Web.config"));
    Vrn::RemoveFolder(package.Property(L"UWC_TempDir"), true);
  }
  // Required properties.
  for (const wchar_t* property : {L"UWC_List", L"UWC_MainFolder", L"IISROOTFOLDER"}) {
    SCOPED_TRACE(CUnicodeString(property).ToUtf8());
    const CUnicodeString value = package.Property(property);
    package.SetProperty(property, property == CUnicodeString(L"UWC_List") ? L",," : L"");
    EXPECT_EQ(UpdateWebConfigs_Prepare(package.Session()), 1603u);
    package.SetProperty(property, value);
  }
  // Application names that are not single folder names.
  for (const wchar_t* list : {L"Web,..\\..\\Windows", L"Web,.", L"C:Web", L"Web/Sub"}) {
    package.SetProperty(L"UWC_List", list);
    package.SetProperty(L"UWC_TempDir", L"");
    EXPECT_EQ(UpdateWebConfigs_Prepare(package.Session()), 1603u) << CUnicodeString(list).ToUtf8();
    EXPECT_EQ(package.Property(L"UWC_TempDir"), L"");
  }
  package.SetProperty(L"UWC_TempDir", L"");
  EXPECT_EQ(UpdateWebConfigs_Make(package.Session()), 1603u);
  EXPECT_EQ(UpdateWebConfigs_Copy(package.Session()), 1603u);
}

// A failure at any step of a rewrite (a full disk, a read-only file) leaves the user's file byte for
// byte as it was, leaves no temporary file beside it, and ends the action with 1603.
TEST_F(WebConfigTest, NothingIsLostWhenARewriteFails) {
  const CUnicodeString app = folder / L"Apps\\Web";
  Vrn::CreateDirectoryWithParents(app);
  package.AddProperty(L"ModifyWebConfigList", app);
  package.AddProperty(L"POLICYPATH", kPolicyPath);
  OpenForUpgrade(L"Web");
  package.SetProperty(L"IISROOTFOLDER", folder.Path());
  const std::string config =
      "\xEF\xBB\xBF<?xml version=\"1.0\"?><configuration><appSettings><add key=\"UseCustomAuthentication\" "
      "value=\"false\" /></appSettings></configuration>";
  const std::string savedConfig =
      "<configuration><appSettings><add key=\"UseCustomAuthentication\" "
      "value=\"true\" /></appSettings></configuration>";
  const std::string twoPolicies =
      "<access-policy><cross-domain-access><policy>/api/Service\"</policy><policy>/x\"</policy>"
      "</cross-domain-access></access-policy>";
  const CUnicodeString policyFile = folder / L"clientaccesspolicy.xml";
  const struct {
    const char* name;
    UINT(__stdcall* action)(MSIHANDLE);
    CUnicodeString file;
    std::string before;
  } cases[] = {
      {"ModifyWebConfig", ModifyWebConfig, app + L"\\web.config", config},
      {"SetConfigClientAccessPolicyXml", SetConfigClientAccessPolicyXml, policyFile,
       "<access-policy><cross-domain-access></cross-domain-access></access-policy>"},
      {"RemoveConfigClientAccessPolicyXml", RemoveConfigClientAccessPolicyXml, policyFile, twoPolicies},
      {"UpdateWebConfigs_Make", UpdateWebConfigs_Make, app + L"\\Web.config", config},
      {"UpdateWebConfigs_Copy", UpdateWebConfigs_Copy, app + L"\\Web.config", config},
  };
  const auto leftovers = [&] {
    return Vrn::ListDirectory(folder.Path(), L"~vrn*", Vrn::ListFiles | Vrn::ListHidden | Vrn::ListRecursive).size();
  };
  for (const auto& c : cases) {
    for (int step = -1; step <= static_cast<int>(Vrn::ReplaceStep::Move); ++step) {
      SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(step));  // -1: a read-only file
      const bool upgrade = c.action == UpdateWebConfigs_Make || c.action == UpdateWebConfigs_Copy;
      if (upgrade) {
        WriteBytes(c.file, savedConfig);
        ASSERT_EQ(UpdateWebConfigs_Prepare(package.Session()), 0u);
      }
      WriteBytes(c.file, c.before);
      std::optional<CReplaceFault> fault;
      if (step >= 0) fault.emplace(static_cast<Vrn::ReplaceStep>(step));
      if (step < 0) SetFileAttributesW(c.file.c_str(), FILE_ATTRIBUTE_READONLY);
      EXPECT_EQ(c.action(package.Session()), 1603u);
      SetFileAttributesW(c.file.c_str(), FILE_ATTRIBUTE_NORMAL);
      EXPECT_EQ(ReadBytes(c.file), c.before);
      EXPECT_EQ(leftovers(), 0u);
      if (upgrade) Vrn::RemoveFolder(package.Property(L"UWC_TempDir"), true);
    }
  }
}

namespace {

std::wstring g_probed, g_available;  // MSXML versions ("3", "4") asked for and answered

bool FakeProbe(const wchar_t* progId) {
  const std::wstring_view id = progId;
  const wchar_t version = id == L"Msxml2.DOMDocument.3.0" ? L'3' : id == L"Msxml2.DOMDocument.4.0" ? L'4' : L'?';
  g_probed += version;
  return g_available.find(version) != std::wstring::npos;
}

}  // namespace

TEST_F(WebConfigTest, CheckAndSetMsxmlSkipsFeaturesOfAWorkingMsxml) {
  for (const wchar_t* version : {L"3", L"4"}) {
    package.AddFeature(CUnicodeString(L"XML") + version);
    package.AddComponent(CUnicodeString(L"Xml") + version + L"Comp", CUnicodeString(L"XML") + version);
  }
  package.Open(true);
  Msi::CXmlDocumentProbeOverride seam{FakeProbe};
  const struct {
    const wchar_t *is3, *cmd3, *is4, *cmd4, *available, *probed, *absent;  // versions
  } cases[] = {
      {L"1", L"", L"1", L"", L"34", L"34", L"34"}, {L"1", L"nO", L"1", L"Yes", L"34", L"4", L"4"},
      {L"", L"", L"1", L"NO", L"34", L"", L""},    {L"1", L"", L"1", L"", L"3", L"34", L"3"},
      {L"1", L"", L"1", L"", L"", L"34", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.is3) + L"/" + c.cmd3 + L" " + c.is4 + L"/" + c.cmd4 + L" " + c.available);
    for (const wchar_t* feature : {L"XML3", L"XML4"})
      MsiSetFeatureStateW(package.Session(), feature, INSTALLSTATE_LOCAL);
    package.SetProperty(L"IS_MSXML3.DLL", c.is3);
    package.SetProperty(L"XML30_CMD", c.cmd3);
    package.SetProperty(L"IS_MSXML4.DLL", c.is4);
    package.SetProperty(L"XML40_CMD", c.cmd4);
    g_available = c.available;
    g_probed.clear();
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(CheckAndSetMSXML(package.Session()), 0u);
    EXPECT_EQ(g_probed, c.probed);
    std::wstring absent;
    for (const wchar_t version : {L'3', L'4'}) {
      INSTALLSTATE installed, action;
      MsiGetFeatureStateW(package.Session(), (std::wstring(L"XML") + version).c_str(), &installed, &action);
      if (action == INSTALLSTATE_ABSENT) absent += version;
      EXPECT_EQ(Contains(LogSince(logged), std::wstring(L"CheckAndSetMSXML : MSXML") + version + L" OK"),
                action == INSTALLSTATE_ABSENT);
    }
    EXPECT_EQ(absent, c.absent);
  }
}

// The real COM chain under Wine, whose msxml3 serves both versions; an unknown ProgID fails.
TIMED_CHILD_TEST(WebConfigRealMsxml, ProbeAndAction, 60000) {
  EXPECT_TRUE(Msi::XmlDocumentAvailable(L"Msxml2.DOMDocument.3.0"));
  EXPECT_TRUE(Msi::XmlDocumentAvailable(L"Msxml2.DOMDocument.4.0"));
  EXPECT_FALSE(Msi::XmlDocumentAvailable(L"Orvant.NoSuchDocument.1.0"));
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.AddFeature(L"XML3");
  package.AddComponent(L"Xml3Comp", L"XML3");
  package.AddProperty(L"IS_MSXML3.DLL", L"C:\\windows\\system32\\msxml3.dll");
  package.Open(true);
  EXPECT_EQ(CheckAndSetMSXML(package.Session()), 0u);
  INSTALLSTATE installed, action;
  MsiGetFeatureStateW(package.Session(), L"XML3", &installed, &action);
  EXPECT_EQ(action, INSTALLSTATE_ABSENT);
}
