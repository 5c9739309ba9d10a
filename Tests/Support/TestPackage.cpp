// The package fixture: builds a database with the installer's own API and opens it as a session.
#include "TestPackage.h"

#include <mutex>
#include <regex>
#include <stdexcept>

#include <objbase.h>

#include "CoreFixtures.h"
#include "MsiHandle.h"
#include "TestSupport.h"

namespace TestSupport {

namespace {

void Require(UINT result, const char* what) {
  if (result != ERROR_SUCCESS) throw std::runtime_error(std::string(what) + " failed: " + std::to_string(result));
}

// Error messages the installer received, from every session of this process.
std::mutex g_errorsLock;
std::vector<Vrn::CUnicodeString> g_errors;

INT CALLBACK RecordMessage(LPVOID, UINT type, LPCWSTR message) {
  const UINT kind = type & 0xFF000000;
  if (kind == INSTALLMESSAGE_ERROR && message) {
    std::lock_guard lock(g_errorsLock);
    g_errors.emplace_back(message);
  }
  return 0;  // let the installer go on as without a user interface
}

void InstallRecorder() {
  static std::once_flag once;
  std::call_once(once, [] {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIW(RecordMessage, INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_INFO, nullptr);
  });
}

constexpr wchar_t kPropertyTable[] =
    L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE "
    L"PRIMARY KEY `Property`)";
constexpr wchar_t kDirectoryTable[] =
    L"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
    L"`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)";
constexpr wchar_t kFeatureTable[] =
    L"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
    L"`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), "
    L"`Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)";
constexpr wchar_t kComponentTable[] =
    L"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
    L"`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) "
    L"PRIMARY KEY `Component`)";
constexpr wchar_t kFeatureComponentsTable[] =
    L"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
    L"PRIMARY KEY `Feature_`, `Component_`)";

constexpr wchar_t kRegistryTable[] =
    L"CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL "
    L"LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` LONGCHAR LOCALIZABLE, `Component_` CHAR(72) NOT NULL "
    L"PRIMARY KEY `Registry`)";

Vrn::CUnicodeString NewGuid() {
  GUID guid;
  CoCreateGuid(&guid);
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

// The custom-action log file of OrvantCA.dll in this process (in the process's temporary folder).
Vrn::CUnicodeString CustomActionLogPath() {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH, temp);
  return Vrn::CUnicodeString(temp) + L"OrvantMsiLog.txt";
}

}  // namespace

CTestPackage::CTestPackage() {
  InstallRecorder();
  m_path = m_folder / L"test.msi";
  Require(MsiOpenDatabaseW(m_path.c_str(), MSIDBOPEN_CREATE, &m_database), "MsiOpenDatabaseW");

  Msi::CMsiHandle summary;
  Require(MsiGetSummaryInformationW(m_database, nullptr, 5, summary.Put()), "MsiGetSummaryInformationW");
  Require(MsiSummaryInfoSetPropertyW(summary.Get(), 9 /* revision number */, VT_LPSTR, 0, nullptr, NewGuid().c_str()),
          "summary revision");
  Require(MsiSummaryInfoSetPropertyW(summary.Get(), 2 /* title */, VT_LPSTR, 0, nullptr, L"Installation Database"),
          "summary title");
  Require(MsiSummaryInfoPersist(summary.Get()), "MsiSummaryInfoPersist");

  Execute(kPropertyTable);
  Execute(kDirectoryTable);
  Insert(L"Directory", {L"Directory", L"Directory_Parent", L"DefaultDir"}, {L"TARGETDIR", CCell::Null(), L"SourceDir"});
  Insert(L"Directory", {L"Directory", L"Directory_Parent", L"DefaultDir"}, {L"INSTALLDIR", L"TARGETDIR", L"TestApp"});
  AddProperty(L"ProductName", L"Test Product");
  AddProperty(L"ProductLanguage", L"1033");
  AddProperty(L"ProductVersion", L"1.0.0");
  AddProperty(L"ProductCode", NewGuid());
  AddProperty(L"Manufacturer", L"Orvant Tests");
}

CTestPackage::~CTestPackage() {
  if (m_session) MsiCloseHandle(m_session);
  if (m_database) MsiCloseHandle(m_database);
}

void CTestPackage::Execute(const Vrn::CUnicodeString& sql, MSIHANDLE record) {
  Msi::CMsiHandle view;
  Require(MsiDatabaseOpenViewW(m_database, sql.c_str(), view.Put()), ("open view: " + sql.ToUtf8()).c_str());
  Require(MsiViewExecute(view.Get(), record), ("execute: " + sql.ToUtf8()).c_str());
}

void CTestPackage::Insert(const Vrn::CUnicodeString& table, const std::vector<Vrn::CUnicodeString>& columns,
                          const std::vector<CCell>& cells) {
  if (columns.size() != cells.size()) throw std::invalid_argument("columns and cells differ in number");
  Vrn::CUnicodeString sql = L"INSERT INTO `" + table + L"` (";
  Vrn::CUnicodeString marks;
  for (size_t i = 0; i < columns.size(); ++i) {
    sql += (i ? L", `" : L"`") + columns[i] + L"`";
    marks += i ? L", ?" : L"?";
  }
  sql += L") VALUES (" + marks + L")";
  const Msi::CMsiHandle record(MsiCreateRecord(static_cast<UINT>(cells.size())));
  for (size_t i = 0; i < cells.size(); ++i) {
    const UINT field = static_cast<UINT>(i + 1);
    if (const auto* text = std::get_if<Vrn::CUnicodeString>(&cells[i].value))
      Require(MsiRecordSetStringW(record.Get(), field, text->c_str()), "MsiRecordSetStringW");
    else if (const auto* number = std::get_if<int>(&cells[i].value))
      Require(MsiRecordSetInteger(record.Get(), field, *number), "MsiRecordSetInteger");
  }
  Execute(sql, record.Get());
}

void CTestPackage::AddProperty(const Vrn::CUnicodeString& name, const Vrn::CUnicodeString& value) {
  Insert(L"Property", {L"Property", L"Value"}, {name, value});
}

void CTestPackage::AddProperties(const CProperties& properties) {
  for (const auto& [name, value] : properties) AddProperty(name, value);
}

void CTestPackage::ImportTable(const Vrn::CUnicodeString& idtPath) {
  const size_t slash = idtPath.ReverseFind(L'\\');
  Require(MsiDatabaseImportW(m_database, idtPath.Left(slash).c_str(), idtPath.Mid(slash + 1).c_str()),
          ("import " + idtPath.ToUtf8()).c_str());
}

void CTestPackage::EnsureTable(const wchar_t* name, const wchar_t* createSql) {
  if (MsiDatabaseIsTablePersistentW(m_database, name) == MSICONDITION_NONE) Execute(createSql);
}

void CTestPackage::AddFeature(const Vrn::CUnicodeString& feature, int level, const Vrn::CUnicodeString& component) {
  EnsureTable(L"Feature", kFeatureTable);
  Insert(L"Feature", {L"Feature", L"Title", L"Display", L"Level", L"Attributes"}, {feature, feature, 1, level, 0});
  if (!component.IsEmpty()) AddComponent(component, feature);
}

void CTestPackage::AddMainAndOffFeatures() {
  AddFeature(L"Main", 1, L"MainComp");
  AddFeature(L"Off", 0, L"OffComp");
}

void CTestPackage::AddComponent(const Vrn::CUnicodeString& component, const Vrn::CUnicodeString& feature) {
  EnsureTable(L"Component", kComponentTable);
  EnsureTable(L"FeatureComponents", kFeatureComponentsTable);
  Insert(L"Component", {L"Component", L"ComponentId", L"Directory_", L"Attributes"},
         {component, NewGuid(), L"INSTALLDIR", 0});
  Insert(L"FeatureComponents", {L"Feature_", L"Component_"}, {feature, component});
}

void CTestPackage::AddRegistryRow(int root, const Vrn::CUnicodeString& key, const CCell& name, const CCell& value,
                                  const Vrn::CUnicodeString& component) {
  EnsureTable(L"Registry", kRegistryTable);
  Insert(L"Registry", {L"Registry", L"Root", L"Key", L"Name", L"Value", L"Component_"},
         {L"reg" + Vrn::CUnicodeString::FromInt(++m_registryRows), root, key, name, value, component});
}

MSIHANDLE CTestPackage::Open(bool runCosting) {
  Require(MsiDatabaseCommit(m_database), "MsiDatabaseCommit");
  MsiCloseHandle(m_database);
  m_database = 0;
  Require(MsiOpenPackageW(m_path.c_str(), &m_session), "MsiOpenPackageW");
  if (runCosting)
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
      Require(MsiDoActionW(m_session, action), "costing");
  const Vrn::CUnicodeString log = CustomActionLogPath();
  WIN32_FILE_ATTRIBUTE_DATA data;
  m_logStart = GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &data)
                   ? (static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow)
                   : 0;
  std::lock_guard lock(g_errorsLock);
  m_errorsStart = g_errors.size();
  return m_session;
}

UINT CallAction(const char* action, MSIHANDLE session) {
  const auto call = Vrn::ProcAddress<UINT(__stdcall*)(MSIHANDLE)>(::GetModuleHandleW(nullptr), action);
  if (!call) throw std::runtime_error(std::string("this program exports no ") + action);
  return call(session);
}

UINT CTestPackage::Call(const char* exportName) { return CallAction(exportName, m_session); }

Vrn::CUnicodeString CTestPackage::Property(const Vrn::CUnicodeString& name) const {
  DWORD size = 0;
  wchar_t empty[1] = {};
  MsiGetPropertyW(m_session, name.c_str(), empty, &size);
  Vrn::CUnicodeString value;
  ++size;
  Require(MsiGetPropertyW(m_session, name.c_str(), value.GetBuffer(size), &size), "MsiGetPropertyW");
  value.ReleaseBuffer(size);
  return value;
}

void CTestPackage::SetProperty(const Vrn::CUnicodeString& name, const Vrn::CUnicodeString& value) {
  Require(MsiSetPropertyW(m_session, name.c_str(), value.c_str()), "MsiSetPropertyW");
}

Vrn::CUnicodeString CTestPackage::LogText() const {
  const Vrn::CUnicodeString path = CustomActionLogPath();
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  const std::string bytes = ReadBytes(path);
  // Without the header the log writes when it is first used in the process.
  static const std::wregex header(L"={49}\r\n\\.\\.\\.LOGGING started at [0-9:, -]+\r\n\r\n");
  return std::regex_replace(
      DecodeCustomActionLog(bytes.substr(std::min<size_t>(m_logStart, bytes.size()))).ToStdString(), header, L"");
}

std::vector<Vrn::CUnicodeString> CTestPackage::InstallerErrors() const {
  std::lock_guard lock(g_errorsLock);
  return std::vector<Vrn::CUnicodeString>(g_errors.begin() + std::min(m_errorsStart, g_errors.size()), g_errors.end());
}

CProperties::CProperties(const Vrn::CUnicodeString& text) {
  for (std::wstring_view rest = text.View(); !rest.empty();) {
    const std::wstring_view item = rest.substr(0, rest.find(L'|'));
    const size_t equals = item.find(L'=');
    emplace_back(item.substr(0, equals), equals == item.npos ? std::wstring_view() : item.substr(equals + 1));
    rest.remove_prefix(std::min(rest.size(), item.size() + 1));
  }
}

Vrn::CUnicodeString DecodeCustomActionLog(const std::string& bytes) {
  Vrn::CUnicodeString text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const wchar_t ch =
        static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (ch != 0xFEFF) text += ch;
  }
  return text;
}

}  // namespace TestSupport
