// The web configuration family: a flag switched in web.config files, a grant added to or removed
// from the cross-domain policy file, the administrator's appSettings values carried over from the
// previous version's web.config files during an upgrade (Prepare saves them, then Make merges or
// Copy restores), and the MSXML features skipped when a working MSXML is present. The flag and the
// policy are edited as plain text; the merge edits the XML tree. Every rewrite goes through
// Vrn::ReplaceTextFile, so a failure leaves the user's file as it was.
#include "WebConfig.h"

#include <atomic>
#include <unordered_map>
#include <vector>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "FileOperations.h"
#include "Files.h"
#include "MsiHelper.h"
#include "WriteRoot.h"
#include "XmlNodeTS.h"
#include "XmlParserTS.h"
// COM after windows.h
#include <ole2.h>

namespace Msi {

namespace {

// Configuration files without a byte-order mark are read as UTF-8.
constexpr unsigned kDefaultCodePage = CP_UTF8;
// Every text-level rewrite is UTF-16 little-endian with its mark, which the declaration states.
constexpr unsigned kUtf16CodePage = 1200;
constexpr wchar_t kUtf16Declaration[] = L"<?xml version=\"1.0\" encoding=\"utf-16\" ?>";
static_assert(std::size(kUtf16Declaration) - 1 == 40);

constexpr wchar_t kEmptyPolicyFile[] =
    L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><access-policy><cross-domain-access></cross-domain-access>"
    L"</access-policy>";
constexpr wchar_t kPolicyFileName[] = L"clientaccesspolicy.xml";
constexpr wchar_t kPolicyParentEnd[] = L"</cross-domain-access>";
constexpr wchar_t kPolicyStart[] = L"<policy>";
constexpr wchar_t kPolicyEnd[] = L"</policy>";

constexpr wchar_t kFlagOff[] = L"key=\"UseCustomAuthentication\" value=\"false\"";
constexpr wchar_t kFlagOn[] = L"key=\"UseCustomAuthentication\" value=\"true\"";

// ModifyWebConfig names the file in lower case, the upgrade actions with a capital W.
constexpr wchar_t kModifiedConfigName[] = L"web.config";
constexpr wchar_t kUpgradeConfigName[] = L"Web.config";
constexpr wchar_t kUpgradeTempPrefix[] = L"_webconfigs_";

CCustomActionLog& Log() { return CustomActionLog(); }

// A file containing an XML declaration gets the UTF-16 one in place of everything up to the first
// ">", so that the declaration matches the code page the text is written in; others get none.
CUnicodeString WithUtf16Declaration(const CUnicodeString& text) {
  if (text.Find(L"<?xml ") == CUnicodeString::npos) return text;
  const size_t close = text.Find(L'>');
  // Without any ">" nothing is a declaration to replace: keep every character of the user's text.
  return kUtf16Declaration + (close == CUnicodeString::npos ? text : text.Mid(close + 1));
}

void WriteAsUtf16(const CUnicodeString& path, const CUnicodeString& text) {
  Vrn::ReplaceTextFile(path, text, kUtf16CodePage);
}

// ---- ModifyWebConfig ----

UINT ModifyWebConfigBody(MSIHANDLE session) {
  Log() << L"ModifyWebConfig" << L"\r\n";
  const std::vector<CUnicodeString> folders = SplitList(GetProperty(session, L"ModifyWebConfigList"), L',');
  const bool remove = GetBoolProperty(session, L"IsRemove");
  const wchar_t* const search = remove ? kFlagOn : kFlagOff;
  const wchar_t* const replacement = remove ? kFlagOff : kFlagOn;
  for (const CUnicodeString& folder : folders) {
    const CUnicodeString path = Vrn::JoinPath(folder, kModifiedConfigName);
    Log() << L"xmlFile: " << path << L"\r\n\r\n";
    if (!Vrn::FileExists(path)) continue;
    CUnicodeString text = Vrn::ReadTextFile(path, kDefaultCodePage);
    if (text.Find(search) == CUnicodeString::npos) {
      Log() << L"ModifyWebConfig - WARNING !!! file not exist: " << path << L"\r\n";
      continue;
    }
    text.Replace(search, replacement);
    WriteAsUtf16(path, WithUtf16Declaration(text));
  }
  Log() << L"ModifyWebConfig end" << L"\r\n\r\n";
  return ERROR_SUCCESS;
}

// ---- Client access policy ----

CUnicodeString PolicyElement(const CUnicodeString& path) {
  return L"<policy><allow-from http-request-headers=\"*\"><domain uri=\"*\"/></allow-from><grant-to>"
         L"<resource path=\"" +
         path + L"\" include-subpaths=\"true\"/></grant-to></policy>";
}

CUnicodeString PolicyFilePath(MSIHANDLE session) {
  const CUnicodeString path = Vrn::JoinPath(GetProperty(session, L"IISROOTFOLDER"), kPolicyFileName);
  Log() << L"xmlFile: " << path << L"\r\n\r\n";
  return path;
}

UINT SetConfigClientAccessPolicyXmlBody(MSIHANDLE session) {
  // The misspelt name is the log line package authors search for.
  Log() << L"SetCongigClientAccessPolicyXml" << L"\r\n\r\n";
  const CUnicodeString path = PolicyFilePath(session);
  // A new file is only created by the final write, so a failure never leaves an empty one behind.
  CUnicodeString text = Vrn::FileExists(path) ? Vrn::ReadTextFile(path, kDefaultCodePage) : kEmptyPolicyFile;
  Log() << L"xmlFileText: " << text << L"\r\n\r\n";
  const size_t parentEnd = text.Find(kPolicyParentEnd);
  if (parentEnd == CUnicodeString::npos) {
    Log() << L"Cannot find parent node for <policy />" << L"\r\n\r\n";
    return ERROR_SUCCESS;
  }
  const CUnicodeString policyPath = GetProperty(session, L"POLICYPATH");
  if (text.Find(policyPath + L"\"") != CUnicodeString::npos) {
    Log() << L"Policy already exist. Path: " << policyPath << L"\r\n\r\n";
    return ERROR_SUCCESS;
  }
  text = WithUtf16Declaration(text.Left(parentEnd) + PolicyElement(policyPath) + text.Mid(parentEnd));
  Log() << L"xmlFileText: " << text << L"\r\n\r\n";
  WriteAsUtf16(path, text);
  return ERROR_SUCCESS;
}

// The text cut at every "<policy>" and "</policy>", empty pieces dropped.
std::vector<CUnicodeString> PolicyPieces(const CUnicodeString& text) {
  std::vector<CUnicodeString> pieces;
  size_t start = 0;
  for (;;) {
    const size_t open = text.Find(kPolicyStart, start);
    const size_t close = text.Find(kPolicyEnd, start);
    const size_t cut = std::min(open, close);
    const size_t end = cut == CUnicodeString::npos ? text.Length() : cut;
    if (end > start) pieces.push_back(text.Mid(start, end - start));
    if (cut == CUnicodeString::npos) return pieces;
    start = cut + (cut == open ? std::size(kPolicyStart) : std::size(kPolicyEnd)) - 1;
  }
}

UINT RemoveConfigClientAccessPolicyXmlBody(MSIHANDLE session) {
  Log() << L"RemoveCongigClientAccessPolicyXml" << L"\r\n\r\n";
  const CUnicodeString path = PolicyFilePath(session);
  if (!Vrn::FileExists(path)) {
    Log() << L"Clientaccesspolicy.xml was not found: " << path << L"\r\n\r\n";
    return ERROR_SUCCESS;
  }
  CUnicodeString text = Vrn::ReadTextFile(path, kDefaultCodePage);
  Log() << L"xmlFileText: " << text << L"\r\n\r\n";
  const CUnicodeString policyPath = GetProperty(session, L"POLICYPATH");
  // Every text contains the empty one: without a path every policy would go.
  Vrn::Check(!policyPath.IsEmpty());
  const std::vector<CUnicodeString> pieces = PolicyPieces(text);
  bool removed = false;
  // The first and the last piece lie outside every policy.
  for (size_t i = 1; i + 1 < pieces.size(); ++i) {
    if (pieces[i].Find(policyPath) == CUnicodeString::npos) continue;
    Log() << L"Remove policy node: " << static_cast<uint32_t>(i) << L"\r\n\r\n";
    text.Replace(kPolicyStart + pieces[i] + kPolicyEnd, L"");
    removed = true;
  }
  if (!removed) return ERROR_SUCCESS;
  if (pieces.size() < 4) {
    // The removed policy was all the file held.
    Vrn::RemoveFile(path);
    Log() << L"Clientaccesspolicy.xml was removed" << L"\r\n\r\n";
    return ERROR_SUCCESS;
  }
  // One write after all removals: rewriting the declaration twice gives the same text.
  WriteAsUtf16(path, WithUtf16Declaration(text));
  return ERROR_SUCCESS;
}

// ---- Upgrade merge ----

CUnicodeString RequiredProperty(MSIHANDLE session, const wchar_t* name) {
  CUnicodeString value = GetProperty(session, name);
  Vrn::Check(!value.IsEmpty());
  return value;
}

// The main folder IISROOTFOLDER\UWC_MainFolder of the installed applications.
CUnicodeString UpgradeMainFolder(MSIHANDLE session) {
  const CUnicodeString main = RequiredProperty(session, L"UWC_MainFolder");
  return Vrn::JoinPath(RequiredProperty(session, L"IISROOTFOLDER"), main);
}

UINT UpdateWebConfigsPrepareBody(MSIHANDLE session) {
  Log() << L"UpdateWebConfigs_Prepare" << L"\r\n";
  const std::vector<CUnicodeString> applications = SplitList(RequiredProperty(session, L"UWC_List"), L',');
  const CUnicodeString mainFolder = UpgradeMainFolder(session);
  Vrn::Check(!applications.empty());
  // Single folder names only: a path would save files outside the temporary folder.
  for (const CUnicodeString& application : applications)
    Vrn::Check(application.View().find_first_of(L"\\/:") == std::wstring_view::npos && application != L"." &&
               application != L"..");
  // Outlives this action: Make or Copy consumes and removes it.
  const CUnicodeString saved = Vrn::CreateUniqueTempFolder(kUpgradeTempPrefix);
  // Others may create entries in the temporary folder, in ours too: nothing is written through a link.
  const Vrn::CWriteRoot root(saved);
  for (const CUnicodeString& application : applications) {
    const CUnicodeString source = mainFolder + L"\\" + application + L"\\" + kUpgradeConfigName;
    const CUnicodeString folder = saved + L"\\" + application;
    root.CreateFolder(folder);
    const CUnicodeString target = Vrn::JoinPath(folder, kUpgradeConfigName);
    Log() << L"UpdateWebConfigs_Prepare: from:" << source << L" to:" << target << L"\r\n";
    if (!Vrn::FileExists(source)) {
      Log() << L"UpdateWebConfigs_Prepare not exist:" << source << L"\r\n";
      continue;
    }
    root.WriteBytes(target, Vrn::ReadFileBytes(source));
  }
  SetProperty(session, L"UWC_TempDir", saved);
  Log() << L"UpdateWebConfigs_Prepare" << L"\r\n\r\n";
  return ERROR_SUCCESS;
}

// A saved web.config and the installed one it belongs to (same application folder name).
struct CSavedConfig {
  CUnicodeString saved;
  CUnicodeString installed;
};

// The saved files under the temporary folder, each with its installed counterpart.
std::vector<CSavedConfig> SavedConfigs(const CUnicodeString& savedFolder, const CUnicodeString& mainFolder) {
  std::vector<CSavedConfig> configs;
  for (const Vrn::CDirectoryEntry& entry :
       Vrn::ListDirectory(savedFolder, kUpgradeConfigName, Vrn::ListFiles | Vrn::ListHidden | Vrn::ListRecursive)) {
    const CUnicodeString holder = entry.fullPath.Left(entry.fullPath.Length() - entry.name.Length() - 1);
    const CUnicodeString application = holder.Mid(holder.ReverseFind(L'\\') + 1);
    configs.push_back({entry.fullPath, Vrn::JoinPath(mainFolder + L"\\" + application, kUpgradeConfigName)});
  }
  return configs;
}

// The "configuration" root element of a parsed web.config, or null after logging why not.
Tarsel::CXMLNode* ConfigurationRoot(Tarsel::CXMLParser& parser, const CUnicodeString& path) {
  parser.Parse(Vrn::ReadTextFile(path, kDefaultCodePage));
  Tarsel::CXMLNode* root = parser.GetRoot().FirstChild();
  if (root == nullptr || root->Name() != L"configuration") {
    Log() << L"UpdateWebConfigs_Make !!! : " << path << L"[root == 0 || root->Name() != configuration]" << L"\r\n";
    return nullptr;
  }
  return root;
}

// Calls visit(add) for every "add" child of every "appSettings" child of the root.
template <class Visit>
void ForEachSetting(Tarsel::CXMLNode& root, Visit visit) {
  const auto firstNamed = [](Tarsel::CXMLNode* first, const wchar_t* name) {
    return first == nullptr || first->Name() == name ? first : first->FindNextSiblingByName(name);
  };
  for (Tarsel::CXMLNode* section = firstNamed(root.FirstChild(), L"appSettings"); section != nullptr;
       section = section->FindNextSiblingByName(L"appSettings"))
    for (Tarsel::CXMLNode* add = firstNamed(section->FirstChild(), L"add"); add != nullptr;
         add = add->FindNextSiblingByName(L"add"))
      visit(*add);
}

// Log lines gathered during one merge and appended to the custom-action log at once, also when the
// merge fails: every append opens and closes the log file, which for thousands of changed values
// costs far more than the merge itself.
class CGatheredLog {
 public:
  CGatheredLog() = default;
  CGatheredLog(const CGatheredLog&) = delete;
  CGatheredLog& operator=(const CGatheredLog&) = delete;
  ~CGatheredLog() { Flush(); }
  void Flush() {
    if (!m_text.IsEmpty()) Log() << m_text;
    m_text.Clear();
  }
  CGatheredLog& operator<<(std::wstring_view text) {
    m_text += text;
    return *this;
  }

 private:
  CUnicodeString m_text;
};

// The saved entries in document order; the texts stay owned by the parser's tree.
struct CSavedEntries {
  std::vector<const CUnicodeString*> keys;
  std::vector<const CUnicodeString*> values;
};

// Only "key" and "value" attributes belong in a saved entry; any other is an internal error.
CSavedEntries CollectSavedEntries(Tarsel::CXMLNode& root) {
  CSavedEntries entries;
  ForEachSetting(root, [&entries](const Tarsel::CXMLNode& add) {
    for (size_t i = 0; i < add.AttributeCount(); ++i) {
      const CUnicodeString& name = add.AttributeName(i);
      if (name == L"key")
        entries.keys.push_back(&add.AttributeValue(i));
      else if (name == L"value")
        entries.values.push_back(&add.AttributeValue(i));
      else
        Vrn::RaiseInternalError();
    }
  });
  return entries;
}

}  // namespace

bool MergeWebConfig(const CUnicodeString& savedPath, const CUnicodeString& installedPath) {
  Tarsel::CXMLParser savedParser;
  Tarsel::CXMLNode* savedRoot = ConfigurationRoot(savedParser, savedPath);
  if (savedRoot == nullptr) return false;
  CGatheredLog log;
  log << L"UpdateWebConfigs_Make >>> " << savedPath << L"\r\n";

  const CSavedEntries entries = CollectSavedEntries(*savedRoot);
  const unsigned codePage = Vrn::ByteOrderMarkCodePage(savedPath);
  log << L"UpdateWebConfigs_Make >>> codepage=" << CUnicodeString::FromUInt(codePage) << L"\r\n";
  Vrn::Check(entries.keys.size() == entries.values.size());
  // Of repeated keys the later entry wins, as it does when the configuration is read. A hash map
  // keeps the merge linear in the number of entries.
  std::unordered_map<std::wstring_view, CUnicodeString> saved;
  saved.reserve(entries.keys.size());
  for (size_t i = 0; i < entries.keys.size(); ++i) saved[entries.keys[i]->View()] = *entries.values[i];

  if (!Vrn::FileExists(installedPath)) {
    log << L"UpdateWebConfigs_Make !!! " << installedPath << L"not access" << L"\r\n";
    return false;
  }
  log.Flush();  // the parse below logs on its own
  Tarsel::CXMLParser installedParser;
  Tarsel::CXMLNode* installedRoot = ConfigurationRoot(installedParser, installedPath);
  if (installedRoot == nullptr) return false;

  bool changed = false;
  ForEachSetting(*installedRoot, [&](Tarsel::CXMLNode& add) {
    for (size_t i = 0; i < add.AttributeCount(); ++i) {
      if (add.AttributeName(i) != L"key") continue;
      const auto found = saved.find(add.AttributeValue(i).View());
      if (found == saved.end()) continue;
      Vrn::Check(i + 1 < add.AttributeCount());
      const CUnicodeString& next = add.AttributeName(i + 1);
      if (next != L"value") {
        log << L"UpdateWebConfigs_Make !!! " << installedPath << L"not value:" << next << L"\r\n";
        continue;
      }
      const CUnicodeString old = add.AttributeValue(i + 1);
      if (old == found->second) continue;
      add.SetAttribute(L"value", found->second);
      log << L"UpdateWebConfigs_Make <<< " << installedPath << L"old:" << old << L" new:" << found->second << L"\r\n";
      changed = true;
    }
  });
  if (!changed) return false;
  // A saved file without a mark was read as UTF-8; writing it back in the ANSI code page would lose
  // every character outside it, so it is written as UTF-8 without a mark.
  if (codePage == 0)
    Vrn::ReplaceTextFile(installedPath, installedParser.Save(), CP_UTF8, false);
  else
    Vrn::ReplaceTextFile(installedPath, installedParser.Save(), codePage);
  return true;
}

namespace {

// UWC_TempDir, the folder Prepare saved the files in, which Make and Copy remove at the end: it must
// pass the removal guard before anything is read from it (a drive root would be emptied whole).
CUnicodeString SavedConfigsFolder(MSIHANDLE session) {
  const CUnicodeString folder = RequiredProperty(session, L"UWC_TempDir");
  CheckRemovableTree(folder);
  return folder;
}

UINT UpdateWebConfigsMakeBody(MSIHANDLE session) {
  Log() << L"UpdateWebConfigs_Make" << L"\r\n";
  const CUnicodeString mainFolder = UpgradeMainFolder(session);
  const CUnicodeString savedFolder = SavedConfigsFolder(session);
  for (const CSavedConfig& config : SavedConfigs(savedFolder, mainFolder))
    MergeWebConfig(config.saved, config.installed);
  RemoveFolderTree(savedFolder);
  Log() << L"UpdateWebConfigs_Make END" << L"\r\n\r\n";
  return ERROR_SUCCESS;
}

UINT UpdateWebConfigsCopyBody(MSIHANDLE session) {
  Log() << L"UpdateWebConfigs_Copy" << L"\r\n";
  const CUnicodeString mainFolder = UpgradeMainFolder(session);
  const CUnicodeString savedFolder = SavedConfigsFolder(session);
  for (const CSavedConfig& config : SavedConfigs(savedFolder, mainFolder)) {
    // The installed file is replaced in one move rather than deleted first, so that a failed copy
    // cannot leave the application without its configuration.
    if (Vrn::FileExists(config.installed))
      Log() << L"UpdateWebConfigs_Copy " << config.installed << L"remove" << L"\r\n";
    Log() << L"UpdateWebConfigs_Copy " << config.installed << L"copy" << L"\r\n";
    Vrn::ReplaceFileBytes(config.installed, Vrn::ReadFileBytes(config.saved));
  }
  RemoveFolderTree(savedFolder);
  Log() << L"UpdateWebConfigs_Copy END" << L"\r\n\r\n";
  return ERROR_SUCCESS;
}

// ---- MSXML ----

struct CComPointerTraits {
  using Type = IUnknown*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type pointer) noexcept { pointer->Release(); }
};
using CComPointer = Vrn::CUniqueHandle<CComPointerTraits>;

// IXMLDOMDocument2.
constexpr GUID kXmlDomDocumentInterface = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// COM for the current thread, left as it was found.
class CComScope {
 public:
  CComScope() noexcept : m_initialized(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~CComScope() {
    if (m_initialized) ::CoUninitialize();
  }
  CComScope(const CComScope&) = delete;
  CComScope& operator=(const CComScope&) = delete;

 private:
  bool m_initialized;
};

std::atomic<XmlDocumentProbe> g_xmlDocumentProbe{XmlDocumentAvailable};

struct CMsxmlVersion {
  const wchar_t* marker;
  const wchar_t* choice;
  const wchar_t* progId;
  const wchar_t* okLine;
  const wchar_t* feature;
};
constexpr CMsxmlVersion kMsxmlVersions[] = {
    {L"IS_MSXML3.DLL", L"XML30_CMD", L"Msxml2.DOMDocument.3.0", L"CheckAndSetMSXML : MSXML3 OK", L"XML3"},
    {L"IS_MSXML4.DLL", L"XML40_CMD", L"Msxml2.DOMDocument.4.0", L"CheckAndSetMSXML : MSXML4 OK", L"XML4"},
};

UINT CheckAndSetMsxmlBody(MSIHANDLE session) {
  Log() << L"CheckAndSetMSXML" << L"\r\n\r\n";
  for (const CMsxmlVersion& version : kMsxmlVersions) {
    if (GetProperty(session, version.marker).IsEmpty() || GetProperty(session, version.choice).EqualsNoCase(L"No"))
      continue;
    if (!g_xmlDocumentProbe.load()(version.progId)) continue;
    Log() << version.okLine << L"\r\n";
    // The features install MSXML; a working one needs no second copy.
    ChangeFeatureState(session, version.feature, INSTALLSTATE_ABSENT);
  }
  return ERROR_SUCCESS;
}

}  // namespace

bool XmlDocumentAvailable(const wchar_t* progId) {
  const CComScope com;
  CLSID classId;
  if (FAILED(::CLSIDFromProgID(progId, &classId))) return false;
  CComPointer object;
  if (FAILED(::CoCreateInstance(classId, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(object.Put()))))
    return false;
  if (FAILED(::OleRun(object.Get()))) return false;
  CComPointer document;
  return SUCCEEDED(object.Get()->QueryInterface(kXmlDomDocumentInterface, reinterpret_cast<void**>(document.Put())));
}

CXmlDocumentProbeOverride::CXmlDocumentProbeOverride(XmlDocumentProbe probe)
    : m_previous(g_xmlDocumentProbe.exchange(probe)) {}

CXmlDocumentProbeOverride::~CXmlDocumentProbeOverride() { g_xmlDocumentProbe.store(m_previous); }

}  // namespace Msi

ORV_ACTION(ModifyWebConfig, Msi::ModifyWebConfigBody, .reads = L"ModifyWebConfigList IsRemove")
ORV_ACTION(SetConfigClientAccessPolicyXml, Msi::SetConfigClientAccessPolicyXmlBody,
           .reads = L"IISROOTFOLDER POLICYPATH")
ORV_ACTION(RemoveConfigClientAccessPolicyXml, Msi::RemoveConfigClientAccessPolicyXmlBody,
           .reads = L"IISROOTFOLDER POLICYPATH")
ORV_ACTION(UpdateWebConfigs_Prepare, Msi::UpdateWebConfigsPrepareBody,
           .reads = L"IISROOTFOLDER UWC_MainFolder UWC_List")
ORV_ACTION(UpdateWebConfigs_Make, Msi::UpdateWebConfigsMakeBody, .reads = L"IISROOTFOLDER UWC_MainFolder UWC_TempDir")
ORV_ACTION(UpdateWebConfigs_Copy, Msi::UpdateWebConfigsCopyBody, .reads = L"IISROOTFOLDER UWC_MainFolder UWC_TempDir")
ORV_ACTION(CheckAndSetMSXML, Msi::CheckAndSetMsxmlBody, .reads = L"IS_MSXML3.DLL XML30_CMD IS_MSXML4.DLL XML40_CMD",
           .costing = true)
