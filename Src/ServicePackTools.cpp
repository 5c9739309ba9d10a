// Upgrade and installed-product discovery: the product an update package updates and its build
// range and features, the related products already installed, an operating-system update, the
// settings tool, leftover files and the administrative image description.
#include "ServicePackTools.h"

#include <shlobj.h>

#include <algorithm>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "FileOperations.h"
#include "Files.h"
#include "IniFile.h"
#include "InstallHelper.h"
#include "MsiHandle.h"
#include "ProcessLauncher.h"

namespace Msi {

namespace {

constexpr DWORD kProductCodeChars = 39;  // a GUID with braces and the terminator

// A non-negative build bound, or nothing for an empty one; anything else is an internal error.
std::optional<int64_t> BuildBound(const CUnicodeString& text) {
  if (text.IsEmpty()) return std::nullopt;
  const std::optional<int64_t> bound = Vrn::StrictInteger<int64_t>(text);
  Vrn::Check(bound.has_value() && *bound >= 0);
  return bound;
}

// The features of the product's cached package, read from its Feature table.
void ReadCachedPackageFeatures(const CUnicodeString& productCode, std::vector<CProduct::CFeature>& features) {
  CUnicodeString localPackage;
  DWORD length = MAX_PATH;
  if (::MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_LOCALPACKAGE, localPackage.GetBuffer(length),
                           &length) != ERROR_SUCCESS)
    return;
  localPackage.ReleaseBuffer();
  MSIHANDLE opened = 0;
  if (::MsiOpenDatabaseW(localPackage.c_str(), MSIDBOPEN_READONLY, &opened) != ERROR_SUCCESS) return;
  const CMsiHandle database(opened);
  MSIHANDLE viewHandle = 0;
  if (::MsiDatabaseOpenViewW(database.Get(), L"SELECT `Feature`, `Feature_Parent` FROM `Feature`", &viewHandle) !=
      ERROR_SUCCESS)
    return;
  const CMsiHandle view(viewHandle);
  if (::MsiViewExecute(view.Get(), 0) != ERROR_SUCCESS) return;
  for (MSIHANDLE fetched = 0; ::MsiViewFetch(view.Get(), &fetched) == ERROR_SUCCESS;) {
    const CMsiHandle record(fetched);
    features.push_back({GetRecordString(record.Get(), 1), GetRecordString(record.Get(), 2), INSTALLSTATE_UNKNOWN});
  }
}

}  // namespace

int64_t GetBuildNumber(const CUnicodeString& version) {
  CUnicodeString rest = version;
  CUnicodeString head;
  for (int field = 0; field < 3; ++field) {
    const size_t dot = rest.Find(L'.');
    if (dot == CUnicodeString::npos) {
      if (field < 2) return -1;  // no third field
      head = rest;
      rest.Clear();
    } else {
      head = rest.Left(dot);
      rest = rest.Mid(dot + 1);
    }
  }
  const std::optional<int64_t> build = Vrn::StrictInteger<int64_t>(head);
  return build && *build >= 0 ? *build : -1;
}

bool CheckBuildRange(MSIHANDLE session, int64_t build) {
  std::optional<int64_t> lower, upper;
  if (GetProperty(session, L"ISReleaseFlags").Find(L"CheckBuild") != CUnicodeString::npos) {
    const CUnicodeString own = CUnicodeString::FromInt(GetBuildNumber(GetProperty(session, L"ProductVersion")));
    lower = upper = BuildBound(own);
  } else {
    lower = BuildBound(GetProperty(session, L"UPGRADEPRODUCTINFO_MinVersion"));
    upper = BuildBound(GetProperty(session, L"UPGRADEPRODUCTINFO_MaxVersion"));
  }
  return (!lower || *lower <= build) && (!upper || build <= *upper);
}

CUnicodeString FirstRelatedProduct(const CUnicodeString& upgradeCode) {
  CUnicodeString product;
  if (::MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, 0, product.GetBuffer(kProductCodeChars)) != ERROR_SUCCESS)
    return {};
  product.ReleaseBuffer();
  return product;
}

void EnumerateProductFeatures(const CUnicodeString& productCode, std::vector<CProduct::CFeature>& features) {
  wchar_t feature[MAX_FEATURE_CHARS + 1];
  wchar_t parent[MAX_FEATURE_CHARS + 1];
  for (DWORD index = 0; ::MsiEnumFeaturesW(productCode.c_str(), index, feature, parent) == ERROR_SUCCESS; ++index)
    features.push_back({feature, parent, INSTALLSTATE_UNKNOWN});
  if (features.empty()) ReadCachedPackageFeatures(productCode, features);
}

CProduct::CProduct(const CUnicodeString& productCode, const CUnicodeString& upgradeCode,
                   const CUnicodeString& mainComponentCode)
    : m_productCode(productCode), m_mainComponentCode(mainComponentCode) {
  if (m_productCode.IsEmpty()) {
    Vrn::Check(!upgradeCode.IsEmpty());
    m_productCode = FirstRelatedProduct(upgradeCode);
    Vrn::Check(!m_productCode.IsEmpty());
  }
  ReadFeatures();
}

void CProduct::ReadFeatures() {
  EnumerateProductFeatures(m_productCode, m_features);
  for (CFeature& feature : m_features)
    feature.state = ::MsiQueryFeatureStateW(m_productCode.c_str(), feature.name.c_str());
}

bool CProduct::Installed(const CUnicodeString& productCode) {
  for (DWORD index = 0;; ++index) {
    CUnicodeString product;
    const UINT result = ::MsiEnumProductsW(index, product.GetBuffer(kProductCodeChars));
    if (result != ERROR_SUCCESS) {
      CustomActionLog() << L"CProduct::Installed - ::MsiEnumProducts return = " << Vrn::SystemErrorText(result)
                        << L"\r\n";
      return false;
    }
    product.ReleaseBuffer();
    if (product.EqualsNoCaseAscii(productCode)) return true;
  }
}

CUnicodeString CProduct::Info(const wchar_t* property) const {
  CUnicodeString value;
  DWORD length = 256;
  UINT result = ::MsiGetProductInfoW(m_productCode.c_str(), property, value.GetBuffer(length), &length);
  if (result == ERROR_MORE_DATA) {
    ++length;
    result = ::MsiGetProductInfoW(m_productCode.c_str(), property, value.GetBuffer(length), &length);
  }
  if (result != ERROR_SUCCESS) return {};
  value.ReleaseBuffer(length);
  return value;
}

CUnicodeString CProduct::InstallLocation() const {
  CUnicodeString location = Info(L"InstallLocation");
  if (!location.IsEmpty() || m_mainComponentCode.IsEmpty()) return location;
  CUnicodeString keyPath;
  DWORD length = MAX_PATH;
  INSTALLSTATE state =
      ::MsiGetComponentPathW(m_productCode.c_str(), m_mainComponentCode.c_str(), keyPath.GetBuffer(length), &length);
  if (state == INSTALLSTATE_MOREDATA) {
    ++length;
    state =
        ::MsiGetComponentPathW(m_productCode.c_str(), m_mainComponentCode.c_str(), keyPath.GetBuffer(length), &length);
  }
  if (state != INSTALLSTATE_LOCAL && state != INSTALLSTATE_SOURCE) return {};
  keyPath.ReleaseBuffer(length);
  const size_t separator = keyPath.ReverseFind(L'\\');
  return separator == CUnicodeString::npos ? CUnicodeString() : keyPath.Left(separator + 1);
}

bool CProduct::FeatureIsLocal(const CUnicodeString& feature) const {
  for (const CFeature& entry : m_features)
    if (entry.name == feature && entry.state == INSTALLSTATE_LOCAL) return true;
  return false;
}

}  // namespace Msi

namespace {

using Msi::CUnicodeString;

// Sets prefix + F for each feature F of the comma-separated list: "Yes" when installed locally.
void PublishFeatureStates(MSIHANDLE session, const Msi::CProduct& product, const CUnicodeString& featureList,
                          const CUnicodeString& prefix) {
  for (const CUnicodeString& feature : Msi::SplitList(featureList, L',')) {
    Msi::SetProperty(session, prefix + feature, L"");
    if (product.FeatureIsLocal(feature)) Msi::SetProperty(session, prefix + feature, L"Yes");
  }
}

// An upgrade refusal: the message unless the installation is silent, then 1603.
UINT Refuse(const Msi::CMessageContext& context, bool silent, const wchar_t* messageProperty) {
  if (!silent) Msi::ShowPropertyMessage(context, messageProperty, L"", MB_ICONINFORMATION);
  return ERROR_INSTALL_FAILURE;
}

UINT GetUpgradeProductInfoBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"GetUpgradeProductInfo\r\n\r\n";
  const bool installed = Msi::GetBoolProperty(session, L"Installed");
  const std::vector<CUnicodeString> candidates =
      Msi::SplitList(Msi::GetProperty(session, L"UPGRADEPRODUCTINFO_ProductCode"), L';');
  Vrn::Check(!candidates.empty());
  const bool silent = Msi::IsSilentInstall(session);
  const Msi::CMessageContext context(session);

  CUnicodeString found;
  for (const CUnicodeString& candidate : candidates) {
    Msi::CustomActionLog() << L"GetUpgradeProductInfo - " << candidate << L"\r\n\r\n";
    if (Msi::CProduct::Installed(candidate)) {
      found = candidate;
      Msi::SetProperty(session, L"UPGRADEPRODUCTINFO_ProductCode", found);
      break;
    }
  }
  Msi::SetProperty(session, L"UPGRADEPRODUCTINFO_Installed", found.IsEmpty() ? L"" : L"Yes");
  if (found.IsEmpty() && !installed) return Refuse(context, silent, L"MT_UpgradeProductIsNotFound");

  const Msi::CProduct product(found, {}, {});
  Msi::SetProperty(session, L"UPGRADEPRODUCTINFO_ProductName", product.Info(L"ProductName"));
  const CUnicodeString location = product.InstallLocation();
  Msi::SetProperty(session, L"UPGRADEPRODUCTINFO_InstallLocation", location);
  if (location.IsEmpty()) return Refuse(context, silent, L"MT_UpgradeProductIsNotInstalledCorrectly");

  const CUnicodeString version = product.Info(L"VersionString");
  const int64_t build = Msi::GetBuildNumber(version);
  Msi::SetProperty(session, L"UPGRADEPRODUCTINFO_Version", version);
  Msi::SetProperty(session, L"UPGRADEPRODUCTINFO_Build", CUnicodeString::FromInt(build));
  if (build == -1) return Refuse(context, silent, L"MT_UpgradeProductIsNotInstalledCorrectly");

  const bool valid = Msi::CheckBuildRange(session, build);
  Msi::SetProperty(session, L"UPGRADEPRODUCTINFO_ValidVersion", valid ? L"Yes" : L"");
  if (!valid) return Refuse(context, silent, L"MT_UpgradeProductHasNotValidVersion");

  PublishFeatureStates(session, product, Msi::GetProperty(session, L"UPGRADEPRODUCTINFO_FeatureList"), L"IS_");
  return ERROR_SUCCESS;
}

constexpr int kProductSlots = 100;

UINT SearchForInstalledProductsBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"SearchForInstalledProducts\r\n\r\n";
  const CUnicodeString ownProductCode = Msi::GetProperty(session, L"ProductCode");
  for (int slot = 0; slot < kProductSlots; ++slot) {
    const CUnicodeString prefix = L"PRODUCT" + CUnicodeString::FromInt(slot) + L"_";
    const CUnicodeString productCode = Msi::GetProperty(session, prefix + L"ProductCode");
    const CUnicodeString upgradeCode = Msi::GetProperty(session, prefix + L"UpgradeCode");
    const CUnicodeString componentCode = Msi::GetProperty(session, prefix + L"MainComponentCode");
    if (productCode.IsEmpty() && upgradeCode.IsEmpty()) break;
    CUnicodeString related;
    if (productCode.IsEmpty()) {
      related = Msi::FirstRelatedProduct(upgradeCode);
      if (related.IsEmpty() || related == ownProductCode) continue;
    } else if (!Msi::CProduct::Installed(productCode)) {
      continue;
    }
    const Msi::CProduct product(productCode, upgradeCode, componentCode);
    const CUnicodeString version = product.Info(L"VersionString");
    const CUnicodeString name = product.Info(L"ProductName");
    if (version.IsEmpty() || name.IsEmpty()) continue;
    Msi::SetProperty(session, prefix + L"Installed", L"Yes");
    Msi::SetProperty(session, prefix + L"ProductName", name);
    Msi::SetProperty(session, prefix + L"InstallLocation", product.InstallLocation());
    Msi::SetProperty(session, prefix + L"Version", version);
    Msi::SetProperty(session, prefix + L"Build", CUnicodeString::FromInt(Msi::GetBuildNumber(version)));
    if (productCode.IsEmpty()) Msi::SetProperty(session, prefix + L"ProductCode", related);
    PublishFeatureStates(session, product, Msi::GetProperty(session, prefix + L"FeatureList"), L"IS_" + prefix);
  }
  return ERROR_SUCCESS;
}

UINT DeleteFilesFromInstalldirBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"DeleteSettingsUpdate\r\n";
  const CUnicodeString folder = Msi::GetProperty(session, L"INSTALLDIR");
  const CUnicodeString fileList = Msi::GetProperty(session, L"FileList");
  Vrn::Check(!folder.IsEmpty() && !fileList.IsEmpty());
  // Items up to the first empty one.
  size_t start = 0;
  while (start < fileList.Length()) {
    const size_t comma = fileList.Find(L',', start);
    const size_t end = comma == CUnicodeString::npos ? fileList.Length() : comma;
    if (end == start) break;
    Msi::RemoveEntryTrees(Msi::SearchFolder(folder, fileList.Mid(start, end - start)));
    start = end + 1;
  }
  const CUnicodeString subfolder = Msi::GetProperty(session, L"MAIN_SUBFOLDER");
  CUnicodeString programs;
  if (!subfolder.IsEmpty() && SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT,
                                                           programs.GetBuffer(MAX_PATH)))) {
    programs.ReleaseBuffer();
    Msi::RemoveEntryTrees(Msi::SearchFolder(programs, subfolder));
  }
  return ERROR_SUCCESS;
}

UINT CheckKBBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"CheckKB\r\n";
  const CUnicodeString update = Msi::GetProperty(session, L"KB_NAME");
  Vrn::Check(!update.IsEmpty());
  std::vector<CUnicodeString> lines;
  Msi::RunCommandCaptureLines(L"%windir%\\System32\\wbem\\wmic.exe qfe | find \"" + update + L"\"", lines);
  // The capture gives one empty line for no output at all.
  const bool found =
      std::any_of(lines.begin(), lines.end(), [](const CUnicodeString& line) { return !line.IsEmpty(); });
  Msi::SetProperty(session, L"IS_" + update, found ? L"Yes" : L"");
  return ERROR_SUCCESS;
}

UINT LaunchSettingsUpdateBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"LaunchSettingsUpdate\r\n";
  const CUnicodeString folder = Msi::GetProperty(session, L"Installdir");
  Vrn::Check(!folder.IsEmpty());
  const CUnicodeString commandLine = folder + L"SettingsUpdate.exe";
  Msi::CustomActionLog() << L"cmdLine= " << folder << L"\r\n";
  Msi::CustomActionLog() << L"cmdLine= " << commandLine << L"\r\n";
  DWORD exitCode = 0;
  if (!Msi::LaunchProcess(commandLine, exitCode, SW_SHOWDEFAULT, true)) {
    Msi::CustomActionLog() << L"error create process\r\n";
    return ERROR_INSTALL_USEREXIT;
  }
  if (exitCode == 0) {
    Msi::CustomActionLog() << L"success create process\r\n";
    return ERROR_SUCCESS;
  }
  Msi::CustomActionLog() << L"exitCode:" << static_cast<uint32_t>(exitCode) << L"\r\n";
  return ERROR_INSTALL_USEREXIT;
}

UINT GetAdminPackageInfoBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"GetAdminPackageInfo\r\n\r\n";
  const CUnicodeString sourceFolder = Msi::GetSourcePath(session, L"TARGETDIR");
  Msi::CustomActionLog() << L"sourceDir=" << sourceFolder << L"\r\n\r\n";
  Vrn::Check(!sourceFolder.IsEmpty());
  CUnicodeString isAdminImage = L"No";
  const CUnicodeString path = Vrn::JoinPath(sourceFolder, L"AdminImageInfo.ini");
  if (!Vrn::FileExists(path)) {
    Msi::CustomActionLog() << L"Cannot find " << path << L"\r\n\r\n";
    Msi::SetProperty(session, L"IS_ADMINIMAGE", isAdminImage);
    return ERROR_SUCCESS;
  }
  const Vrn::CIniFile description(path);
  if (!description.HasSection(L"Info")) Msi::CustomActionLog() << L"Cannot find section Info\r\n\r\n";
  if (const auto value = description.FindValue(L"Info", L"IsAdminImage"))
    isAdminImage = *value;
  else
    Msi::CustomActionLog() << L"Cannot find key isAdminImage\r\n\r\n";
  if (const auto name = description.FindValue(L"Info", L"Name")) Msi::SetProperty(session, L"APPSERVER_NAME", *name);
  Msi::SetProperty(session, L"IS_ADMINIMAGE", isAdminImage);
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(
    GetUpgradeProductInfo, GetUpgradeProductInfoBody,
    .reads =
        L"UPGRADEPRODUCTINFO_ProductCode Installed UPGRADEPRODUCTINFO_FeatureList UPGRADEPRODUCTINFO_MinVersion "
        L"UPGRADEPRODUCTINFO_MaxVersion ISReleaseFlags ProductVersion",
    .shows =
        L"MT_UpgradeProductIsNotFound MT_UpgradeProductIsNotInstalledCorrectly MT_UpgradeProductHasNotValidVersion")
ORV_ACTION(SearchForInstalledProducts, SearchForInstalledProductsBody, .reads = L"ProductCode", .readsIndirect = true)
ORV_ACTION(DeleteFilesFromInstalldir, DeleteFilesFromInstalldirBody, .reads = L"INSTALLDIR FileList MAIN_SUBFOLDER")
ORV_ACTION(CheckKB, CheckKBBody, .reads = L"KB_NAME")
ORV_ACTION(LaunchSettingsUpdate, LaunchSettingsUpdateBody, .reads = L"Installdir")
ORV_ACTION(GetAdminPackageInfo, GetAdminPackageInfoBody)
