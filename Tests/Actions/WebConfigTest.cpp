// The web configuration family with the file-replacement fault hook and the MSXML probe seam, replaying
// the corpus in Tests/Data/webconfig (see its README). A real upgrade is webconfig-install's.
#include "ActionTest.h"
#include "ChildProcessTest.h"
#include "WebConfig.h"

using namespace TestSupport;

namespace {

// The corpus files of a folder matching the pattern, by name.
std::vector<Vrn::CDirectoryEntry> Corpus(const wchar_t* folder, const wchar_t* pattern) {
  return Vrn::ListDirectory(DataPath(CUnicodeString(L"webconfig\\") + folder), pattern, Vrn::ListFiles);
}

// The path without its last n characters (the extension).
CUnicodeString Stem(const CUnicodeString& path, size_t n) { return path.Left(path.Length() - n); }

// The bytes beside an input when there is such a file, else the input's own (it must stay as it was).
std::string ExpectedBytes(const CUnicodeString& expected, const CUnicodeString& input) {
  return ReadBytes(Exists(expected) ? expected : input);
}

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

class WebConfigTest : public ActionTest {
 protected:
  // The installed applications' folder of the upgrade tests.
  CUnicodeString AppConfig(const CUnicodeString& application) const {
    return folder / (L"Apps\\" + application + L"\\Web.config");
  }
  void OpenForUpgrade(const CUnicodeString& applications) {
    package.AddProperty(L"IISROOTFOLDER", folder.Path());
    package.AddProperty(L"UWC_MainFolder", L"Apps");
    package.AddProperty(L"UWC_List", applications);
    Open();
  }
  CTempFolder folder;
};

TEST_F(WebConfigTest, ModifyWebConfigReplaysCorpus) {
  Open();
  for (const bool remove : {false, true}) {
    // Every case of one direction in one call; a missing folder and empty items are skipped silently.
    CUnicodeString list = L",," + (folder / L"no-such-app");
    std::vector<std::pair<Vrn::CDirectoryEntry, CUnicodeString>> cases;
    for (const Vrn::CDirectoryEntry& input : Corpus(L"modify", remove ? L"off-*.config" : L"on-*.config")) {
      const CUnicodeString app = folder / Stem(input.name, 7);
      WriteText(app + L"\\web.config", ReadBytes(input.fullPath));
      list += L"," + app;
      cases.emplace_back(input, app + L"\\web.config");
    }
    ASSERT_FALSE(cases.empty());
    const size_t logged = Log().Length();
    RunCases({{"ModifyWebConfig", {{L"ModifyWebConfigList", list}, {L"IsRemove", remove ? L"1" : L"No"}}}});
    for (const auto& [input, path] : cases) {
      SCOPED_TRACE(input.name.ToUtf8());
      const CUnicodeString expected = Stem(input.fullPath, 7) + L".expected";
      EXPECT_EQ(ReadBytes(path), ExpectedBytes(expected, input.fullPath));
      EXPECT_EQ(Logged(L"ModifyWebConfig - WARNING !!! file not exist: " + path + L"\r\n", logged), !Exists(expected));
    }
  }
}

TEST_F(WebConfigTest, ClientAccessPolicyReplaysCorpus) {
  package.AddProperty(L"IISROOTFOLDER", folder.Path());
  package.AddProperty(L"POLICYPATH", L"/api/Service");
  Open();
  const CUnicodeString policyFile = folder / L"clientaccesspolicy.xml";
  for (const auto& [action, suffix] : {std::pair{"SetConfigClientAccessPolicyXml", L".set.expected"},
                                       {"RemoveConfigClientAccessPolicyXml", L".remove.expected"}}) {
    for (const Vrn::CDirectoryEntry& input : Corpus(L"policy", L"*.xml")) {
      SCOPED_TRACE(input.name.ToUtf8() + " " + action);
      WriteBytes(policyFile, ReadBytes(input.fullPath));
      RunCases({{action}});
      const CUnicodeString expected = Stem(input.fullPath, 4) + suffix;
      // An empty expected file stands for "the policy file was deleted".
      if (Exists(expected) && ReadBytes(expected).empty()) {
        EXPECT_FALSE(Exists(policyFile));
      } else {
        EXPECT_EQ(ReadBytes(policyFile), ExpectedBytes(expected, input.fullPath));
      }
    }
  }
  // Without a file, Set creates the empty policy file with the grant and Remove deletes it again;
  // removing from no file at all only tells the log.
  Vrn::RemoveFile(policyFile);
  RunCases({{"SetConfigClientAccessPolicyXml"}});
  EXPECT_EQ(ReadBytes(policyFile),
            "\xFF\xFE" + Utf16(L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><access-policy><cross-domain-access>"
                               L"<policy><allow-from http-request-headers=\"*\"><domain uri=\"*\"/></allow-from>"
                               L"<grant-to><resource path=\"/api/Service\" include-subpaths=\"true\"/></grant-to>"
                               L"</policy></cross-domain-access></access-policy>"));
  RunCases({{"RemoveConfigClientAccessPolicyXml"}});
  EXPECT_FALSE(Exists(policyFile));
  RunCases({{"RemoveConfigClientAccessPolicyXml"}});
  EXPECT_TRUE(Log().EndsWith(L"Clientaccesspolicy.xml was not found: " + policyFile + L"\r\n\r\n"));
}

TEST_F(WebConfigTest, UpgradeMergeReplaysCorpus) {
  const std::vector<Vrn::CDirectoryEntry> saved = Corpus(L"merge", L"*.saved.config");
  CUnicodeString list = L"missing-app";
  for (const Vrn::CDirectoryEntry& input : saved) {
    WriteText(AppConfig(Stem(input.name, 13)), ReadBytes(input.fullPath));
    list += L"," + Stem(input.name, 13);
  }
  OpenForUpgrade(list);
  RunCases({{"UpdateWebConfigs_Prepare"}});
  const CUnicodeString tempDir = Property(L"UWC_TempDir");
  EXPECT_TRUE(tempDir.StartsWith(Vrn::TemporaryDirectory() + L"_webconfigs_")) << tempDir;
  // The new version's files are installed over the old ones.
  for (const Vrn::CDirectoryEntry& input : saved) {
    const CUnicodeString app = Stem(input.name, 13);
    EXPECT_EQ(ReadBytes(tempDir + L"\\" + app + L"\\Web.config"), ReadBytes(input.fullPath));
    WriteBytes(AppConfig(app), ReadBytes(Stem(input.fullPath, 13) + L".installed.config"));
  }
  // A saved application the new version no longer installs.
  WriteText(tempDir + L"\\gone-app\\Web.config", "<configuration/>");
  RunCases({{"UpdateWebConfigs_Make"}});
  for (const Vrn::CDirectoryEntry& input : saved) {
    const CUnicodeString stem = Stem(input.fullPath, 13);
    EXPECT_EQ(ReadBytes(AppConfig(Stem(input.name, 13))),
              ExpectedBytes(stem + L".expected", stem + L".installed.config"))
        << input.name;
  }
  EXPECT_FALSE(Vrn::PathExists(tempDir));
}

TEST_F(WebConfigTest, UpgradeCopyPutsTheSavedFilesBack) {
  WriteText(AppConfig(L"Shop"), "\xEF\xBB\xBF<configuration>old shop</configuration>");
  Vrn::CreateDirectoryWithParents(folder / L"Apps\\Admin");
  OpenForUpgrade(L"Shop,Admin");
  RunCases({{"UpdateWebConfigs_Prepare"}});
  const CUnicodeString tempDir = Property(L"UWC_TempDir");
  WriteBytes(tempDir + L"\\Admin\\Web.config", "<configuration>saved admin</configuration>");
  WriteBytes(AppConfig(L"Shop"), "<configuration>new shop</configuration>");
  RunCases({{"UpdateWebConfigs_Copy"}});
  EXPECT_EQ(ReadBytes(AppConfig(L"Shop")), "\xEF\xBB\xBF<configuration>old shop</configuration>");
  EXPECT_EQ(ReadBytes(AppConfig(L"Admin")), "<configuration>saved admin</configuration>");
  EXPECT_FALSE(Vrn::PathExists(tempDir));
}

TEST_F(WebConfigTest, UpgradeMergeRefusesBadInputAndLeavesTheFileAlone) {
  Vrn::CreateDirectoryWithParents(folder / L"Apps\\Web");
  OpenForUpgrade(L"Web");
  for (const Vrn::CDirectoryEntry& input : Corpus(L"refuse", L"*.saved.config")) {
    SCOPED_TRACE(input.name.ToUtf8());
    WriteBytes(AppConfig(L"Web"), ReadBytes(input.fullPath));
    RunCases({{"UpdateWebConfigs_Prepare"}});
    const std::string before = ReadBytes(Stem(input.fullPath, 13) + L".installed.config");
    WriteBytes(AppConfig(L"Web"), before);
    RunCases({{"UpdateWebConfigs_Make", L"", L"", 1603}});
    EXPECT_EQ(ReadBytes(AppConfig(L"Web")), before);
    // The saved files stay for another attempt.
    EXPECT_TRUE(Exists(Property(L"UWC_TempDir") + L"\\Web\\Web.config"));
    Vrn::RemoveFolder(Property(L"UWC_TempDir"), true);
  }
  // Required properties, and application names that are not single folder names.
  RunCases({{"UpdateWebConfigs_Prepare", L"UWC_List=,,", L"", 1603},
            {"UpdateWebConfigs_Prepare", L"UWC_List=Web|UWC_MainFolder=", L"", 1603},
            {"UpdateWebConfigs_Prepare", L"UWC_MainFolder=Apps|IISROOTFOLDER=", L"", 1603},
            {"UpdateWebConfigs_Prepare",
             L"IISROOTFOLDER=" + folder.Path() + L"|UWC_List=Web,..\\..\\Windows|UWC_TempDir=", L"UWC_TempDir=", 1603},
            {"UpdateWebConfigs_Prepare", L"UWC_List=C:Web", L"UWC_TempDir=", 1603},
            {"UpdateWebConfigs_Make", L"", L"", 1603},
            {"UpdateWebConfigs_Copy", L"", L"", 1603}});
}

// A failure at any step of a rewrite (a full disk, a read-only file) leaves the user's file byte for
// byte as it was, leaves no temporary file beside it, and ends the action with 1603.
TEST_F(WebConfigTest, NothingIsLostWhenARewriteFails) {
  const CUnicodeString app = folder / L"Apps\\Web";
  Vrn::CreateDirectoryWithParents(app);
  package.AddProperty(L"ModifyWebConfigList", app);
  package.AddProperty(L"POLICYPATH", L"/api/Service");
  OpenForUpgrade(L"Web");
  const std::string config =
      "\xEF\xBB\xBF<?xml version=\"1.0\"?><configuration><appSettings><add key=\"UseCustomAuthentication\" "
      "value=\"false\" /></appSettings></configuration>";
  const std::string savedConfig =
      "<configuration><appSettings><add key=\"UseCustomAuthentication\" value=\"true\" "
      "/></appSettings></configuration>";
  const CUnicodeString policyFile = folder / L"clientaccesspolicy.xml";
  const std::tuple<const char*, CUnicodeString, std::string> cases[] = {
      {"ModifyWebConfig", app + L"\\web.config", config},
      {"SetConfigClientAccessPolicyXml", policyFile,
       "<access-policy><cross-domain-access></cross-domain-access></access-policy>"},
      {"RemoveConfigClientAccessPolicyXml", policyFile,
       "<access-policy><cross-domain-access><policy>/api/Service\"</policy><policy>/x\"</policy>"
       "</cross-domain-access></access-policy>"},
      {"UpdateWebConfigs_Make", app + L"\\Web.config", config},
      {"UpdateWebConfigs_Copy", app + L"\\Web.config", config},
  };
  for (const auto& [action, file, before] : cases) {
    for (int step = -1; step <= static_cast<int>(Vrn::ReplaceStep::Move); ++step) {
      SCOPED_TRACE(std::string(action) + " step " + std::to_string(step));  // -1: a read-only file
      const bool upgrade = std::string_view(action).starts_with("UpdateWebConfigs");
      if (upgrade) {
        WriteBytes(file, savedConfig);
        ASSERT_EQ(Call("UpdateWebConfigs_Prepare"), 0u);
      }
      WriteBytes(file, before);
      std::optional<CReplaceFault> fault;
      if (step >= 0) fault.emplace(static_cast<Vrn::ReplaceStep>(step));
      if (step < 0) ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
      EXPECT_EQ(Call(action), 1603u);
      ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      EXPECT_EQ(ReadBytes(file), before);
      EXPECT_TRUE(
          Vrn::ListDirectory(folder.Path(), L"~vrn*", Vrn::ListFiles | Vrn::ListHidden | Vrn::ListRecursive).empty());
      if (upgrade) Vrn::RemoveFolder(Property(L"UWC_TempDir"), true);
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
  for (const wchar_t* version : {L"3", L"4"})
    package.AddFeature(CUnicodeString(L"XML") + version, 1, CUnicodeString(L"Xml") + version + L"Comp");
  Open(true);
  Msi::CXmlDocumentProbeOverride seam{FakeProbe};
  // IS_MSXML3.DLL, XML30_CMD, IS_MSXML4.DLL, XML40_CMD; the versions available, probed and made absent
  using T = const wchar_t*;
  const std::tuple<T, T, T, T, T, T, T> cases[] = {
      {L"1", L"", L"1", L"", L"34", L"34", L"34"}, {L"1", L"nO", L"1", L"Yes", L"34", L"4", L"4"},
      {L"", L"", L"1", L"NO", L"34", L"", L""},    {L"1", L"", L"1", L"", L"3", L"34", L"3"},
      {L"1", L"", L"1", L"", L"", L"34", L""},
  };
  for (const auto& [is3, cmd3, is4, cmd4, available, probed, madeAbsent] : cases) {
    for (const wchar_t* feature : {L"XML3", L"XML4"}) MsiSetFeatureStateW(Session(), feature, INSTALLSTATE_LOCAL);
    g_available = available;
    g_probed.clear();
    RunCases({{"CheckAndSetMSXML",
               {{L"IS_MSXML3.DLL", is3}, {L"XML30_CMD", cmd3}, {L"IS_MSXML4.DLL", is4}, {L"XML40_CMD", cmd4}}}});
    EXPECT_EQ(g_probed, probed);
    std::wstring absent;
    for (const wchar_t version : {L'3', L'4'})
      if (FeatureStates(Session(), std::wstring(L"XML") + version).action == INSTALLSTATE_ABSENT) absent += version;
    EXPECT_EQ(absent, madeAbsent);
  }
}

// The real COM chain under Wine, whose msxml3 serves both versions; an unknown ProgID fails.
TIMED_CHILD_TEST(WebConfigRealMsxml, ProbeAndAction, 60000) {
  EXPECT_TRUE(Msi::XmlDocumentAvailable(L"Msxml2.DOMDocument.3.0"));
  EXPECT_TRUE(Msi::XmlDocumentAvailable(L"Msxml2.DOMDocument.4.0"));
  EXPECT_FALSE(Msi::XmlDocumentAvailable(L"Orvant.NoSuchDocument.1.0"));
  CActionSession s;
  s.package.AddFeature(L"XML3", 1, L"Xml3Comp");
  s.package.AddProperty(L"IS_MSXML3.DLL", L"C:\\windows\\system32\\msxml3.dll");
  s.Open(true);
  s.RunCases({{"CheckAndSetMSXML"}});
  EXPECT_EQ(FeatureStates(s.Session(), L"XML3").action, INSTALLSTATE_ABSENT);
}
