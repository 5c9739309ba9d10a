// Registry actions: one string value written or one value or key tree removed, as named in
// properties (the removal in both registry views, then emptied parent keys under
// HKEY_LOCAL_MACHINE); the product's entry of the uninstall list removed; small records of the
// installation under the maker's branch; and chosen values of the package's Registry table saved
// into a registry-editor file, so that they can be restored later.
#include <limits>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "Files.h"
#include "MsiHelper.h"
#include "RegistryKey.h"
#include "Setup.h"

namespace Msi {

namespace {

using Vrn::CRegistryKey;
using Vrn::RegistryMode;
using Vrn::RegistryView;

// The saved rows: a root code (0 or 2) and a key prefix.
enum class SaveRegColumn : UINT { Root = 1, Registry = 2 };
constexpr CTableQuery<SaveRegColumn> kSaveRegQuery{L"SELECT Root, Registry FROM OV_SaveReg"};

// The installer's standard Registry table, by position.
enum class RegistryRowColumn : UINT { Root = 2, Key = 3, Name = 4 };
constexpr CTableQuery<RegistryRowColumn> kRegistryRowsQuery{L"SELECT * FROM Registry"};

constexpr wchar_t kUninstallListKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kSetupKey[] = L"SOFTWARE\\Orvant\\Setup";
constexpr wchar_t kSetupRunKey[] = L"SOFTWARE\\Orvant\\Setup\\Run";
// The options key of the dictionary product whose starts are counted.
constexpr wchar_t kRunCounterKey[] = L"SOFTWARE\\Orvant\\Dictionary\\8.0\\Shell\\Options";

// The removal visits the 32-bit view first, then the 64-bit one.
struct CNamedView {
  RegistryView view;
  const wchar_t* name;
};
constexpr CNamedView kRemovalViews[] = {{RegistryView::Thirty2, L"32"}, {RegistryView::Sixty4, L"64"}};

void LogLine(std::wstring_view text) { CustomActionLog() << text << L"\r\n"; }

// Only the exact texts "0" and "1" choose another root than HKEY_LOCAL_MACHINE.
HKEY RootFromText(const CUnicodeString& text) {
  if (text == L"0") return HKEY_CLASSES_ROOT;
  if (text == L"1") return HKEY_CURRENT_USER;
  return HKEY_LOCAL_MACHINE;
}

void StoreMachineString(const wchar_t* key, const wchar_t* name, const CUnicodeString& value) {
  Vrn::CSetup<CUnicodeString>(Vrn::SetupLocation::Machine, key, name, CUnicodeString()).Set(value);
}

UINT WriteRegistryBody(MSIHANDLE session) {
  CustomActionLog() << L"WriteRegistry\r\n\r\n";
  const CUnicodeString key = GetRequiredProperty(session, L"WR_KEY");
  const CUnicodeString valueName = GetPropertySilent(session, L"WR_VALUE_NAME");
  const CUnicodeString value = GetRequiredProperty(session, L"WR_VALUE");
  const HKEY root = RootFromText(GetPropertySilent(session, L"WR_ROOT"));
  CRegistryKey opened;
  if (!opened.Open(root, key, RegistryMode::Write, RegistryView::Default)) {
    LogLine(L"WriteRegistry: can't open");
    return ERROR_SUCCESS;
  }
  opened.WriteString(valueName, value);
  return ERROR_SUCCESS;
}

// Removes HKEY_LOCAL_MACHINE\path in the view when it has no subkeys and at most one value, then
// its parents in the same way, upwards, until a key that is still in use (or a top-level key) is
// reached. Opening creates a missing key, so a path that never existed is removed again.
void removeRegistrySingleParent(const CUnicodeString& keyPath, const CNamedView& view) {
  CUnicodeString path = keyPath;
  for (;;) {
    // "A\B\" and "A\\B" name the key A\B: a trailing separator is no key of its own.
    while (path.EndsWith(L"\\")) path = path.Left(path.Length() - 1);
    Vrn::CRegistryKeyInfo info;
    {
      CRegistryKey key;
      if (!key.Open(HKEY_LOCAL_MACHINE, path, RegistryMode::Write, view.view)) return;
      // A key whose contents are unknown is never removed.
      if (!key.QueryInfo(info)) return;
    }
    CustomActionLog() << L"removeRegistrySingleParent: " << path << L"\r\nremoveRegistrySingleParent view: "
                      << view.name << L"\r\nremoveRegistrySingleParent: keys: " << uint32_t{info.subKeys}
                      << L"\r\nremoveRegistrySingleParent: values: " << uint32_t{info.values} << L"\r\n";
    const size_t cut = path.ReverseFind(L'\\');
    if (info.subKeys != 0 || info.values > 1 || cut == CUnicodeString::npos || cut == 0) return;
    const CUnicodeString parentPath = path.Left(cut);
    CRegistryKey parent;
    if (!parent.Open(HKEY_LOCAL_MACHINE, parentPath, RegistryMode::Write, view.view)) return;
    parent.DeleteSubKeyTree(path.Mid(cut + 1));
    path = parentPath;
  }
}

UINT RemoveRegistryBody(MSIHANDLE session) {
  CustomActionLog() << L"RemoveRegistry\r\n\r\n";
  const HKEY root = RootFromText(GetPropertySilent(session, L"RemoveRegistry_Root"));
  const CUnicodeString path = GetProperty(session, L"RemoveRegistry_Path");
  const CUnicodeString subKey = GetPropertySilent(session, L"RemoveRegistry_SubKey");
  const CUnicodeString valueName = GetPropertySilent(session, L"RemoveRegistry_Value");
  const bool keepParents = GetBoolProperty(session, L"UnRemoveParents");
  for (const CNamedView& view : kRemovalViews) {
    CRegistryKey key;
    if (!key.Open(root, path, RegistryMode::Write, view.view)) {
      CustomActionLog() << L"RemoveRegistry " << view.name << L": can't open\r\n";
      continue;
    }
    // A value name wins: with both set, only the value goes.
    if (valueName.IsEmpty()) {
      Vrn::Check(!subKey.IsEmpty());
      key.DeleteSubKeyTree(subKey);
    } else {
      key.DeleteValue(valueName);
    }
  }
  if (!keepParents)
    for (const CNamedView& view : kRemovalViews) removeRegistrySingleParent(path, view);
  return ERROR_SUCCESS;
}

UINT CleanRegistryBody(MSIHANDLE session) {
  const CUnicodeString productName = GetProperty(session, L"ProductName");
  CustomActionLog() << L"CleanRegistry: " << productName << L"\r\n";
  CRegistryKey uninstallList;
  if (!uninstallList.Open(HKEY_LOCAL_MACHINE, kUninstallListKey, RegistryMode::Write, RegistryView::Default)) {
    LogLine(L"CleanRegistry: can't open");
    return ERROR_SUCCESS;
  }
  // An empty name would be the list itself: DeleteSubKeyTree refuses it as an internal error.
  uninstallList.DeleteSubKeyTree(productName);
  return ERROR_SUCCESS;
}

// ---- The saved-registry file ----

struct CSavedRoot {
  HKEY root;
  const wchar_t* sectionPrefix;
};

// Root codes of OV_SaveReg: 0 HKEY_CLASSES_ROOT, 2 HKEY_LOCAL_MACHINE; anything else is an internal error.
CSavedRoot SavedRootFromCode(int32_t code) {
  if (code == 0) return {HKEY_CLASSES_ROOT, L"[HKEY_CLASSES_ROOT\\"};
  Vrn::Check(code == 2);
  return {HKEY_LOCAL_MACHINE, L"[HKEY_LOCAL_MACHINE\\"};
}

int32_t RootCode(const CUnicodeString& cell) {
  const std::optional<int32_t> code = Vrn::StrictInteger<int32_t>(cell);
  Vrn::Check(code.has_value());
  return *code;
}

struct CSaveTables {
  CColumnList saveRoots, savePrefixes;
  CColumnList rowRoots, rowKeys, rowNames;
};

// One section of the file. The text is written exactly as read: registry-editor escaping of "\"
// and '"' is deliberately not applied, so that the saved text matches what the package wrote.
CUnicodeString Section(const wchar_t* sectionPrefix, const CUnicodeString& key, const CUnicodeString& name,
                       const CUnicodeString& value) {
  CUnicodeString section = sectionPrefix + key + L"]\r\n";
  section += name.IsEmpty() ? CUnicodeString(L"@") : L"\"" + name + L"\"";
  return section + L"=\"" + value + L"\"\r\n";
}

void WriteText(Vrn::CFile& file, std::wstring_view text) { file.Write(text.data(), text.size() * sizeof(wchar_t)); }

// Writes the header and one section per saved value; returns the number of sections.
size_t WriteSavedValues(Vrn::CFile& file, const CSaveTables& tables) {
  WriteText(file, L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n");
  size_t sections = 0;
  for (size_t saved = 0; saved < tables.saveRoots.size(); ++saved) {
    const int32_t code = RootCode(tables.saveRoots[saved]);
    const CSavedRoot root = SavedRootFromCode(code);
    const CUnicodeString& prefix = tables.savePrefixes[saved];
    for (size_t row = 0; row < tables.rowKeys.size(); ++row) {
      const CUnicodeString& key = tables.rowKeys[row];
      // A Root cell that is not a number (-1 included) can never equal 0 or 2.
      if (Vrn::StrictInteger<int32_t>(tables.rowRoots[row]) != code || !key.StartsWith(prefix)) continue;
      CUnicodeString value;
      {
        CRegistryKey opened;
        if (!opened.Open(root.root, key, RegistryMode::Read, RegistryView::Default)) {
          CustomActionLog() << L"Warning. Could not read: " << root.sectionPrefix << key << L"\r\n";
          continue;
        }
        value = opened.ReadString(tables.rowNames[row]);
      }
      WriteText(file, Section(root.sectionPrefix, key, tables.rowNames[row], value));
      ++sections;
    }
  }
  return sections;
}

// The drive and folder part of a file path ("C:\dir\" for "C:\dir\file.reg"); empty without one.
CUnicodeString FolderOf(const CUnicodeString& path) {
  const size_t cut = path.View().find_last_of(L"\\/");
  return cut == std::wstring_view::npos ? CUnicodeString() : path.Left(cut + 1);
}

// True when the folder exists, made if needed; a folder that cannot be made is logged.
bool EnsureFolder(const CUnicodeString& folder) {
  if (folder.IsEmpty()) return false;
  try {
    Vrn::CreateDirectoryWithParents(folder);
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr failure(raw);
    CustomActionLog() << L"KeepRegistry_OV_SaveReg: " << failure->MessageText() << L"\r\n";
  }
  return Vrn::DirectoryExists(folder);
}

UINT KeepRegistryBody(MSIHANDLE session) {
  CustomActionLog() << L"KeepRegistry_OV_SaveReg\r\n\r\n";
  const CUnicodeString fileName = GetRequiredProperty(session, L"SAVE_REG_FILE");
  CSaveTables tables;
  WithActiveDatabase(session, [&](MSIHANDLE database) {
    using enum RegistryRowColumn;
    ReadTableColumns(database, kRegistryRowsQuery,
                     {{Root, tables.rowRoots}, {Key, tables.rowKeys}, {Name, tables.rowNames}});
    ReadTableColumns(database, kSaveRegQuery,
                     {{SaveRegColumn::Root, tables.saveRoots}, {SaveRegColumn::Registry, tables.savePrefixes}});
  });
  if (Vrn::FileExists(fileName)) Vrn::RemoveFile(fileName);
  if (EnsureFolder(FolderOf(fileName))) {
    size_t sections = 0;
    try {
      Vrn::CFile file(fileName, Vrn::CFile::OpenMode::CreateAlways);
      sections = WriteSavedValues(file, tables);
    } catch (Vrn::CException*) {
      // A file cut short by a failure is not left behind to be restored later.
      DeleteFileW(fileName.c_str());
      throw;
    }
    if (sections == 0) Vrn::RemoveFile(fileName);
  }
  CustomActionLog() << L"KeepRegistry_OV_SaveReg End\r\n\r\n";
  return ERROR_SUCCESS;
}

// ---- Records of the installation ----

UINT WriteInsDirForUnpublishProductBody(MSIHANDLE session) {
  CustomActionLog() << L"WriteInsDirForUnpublishProduct\r\n\r\n";
  StoreMachineString(kSetupKey, L"INSTALLDIR", GetRequiredProperty(session, L"INSTALLDIR"));
  return ERROR_SUCCESS;
}

UINT WriteOrvantSetupRun1Body(MSIHANDLE) {
  CustomActionLog() << L"WriteOrvantSetupRun_1\r\n\r\n";
  StoreMachineString(kSetupRunKey, L"1", L"yes");
  return ERROR_SUCCESS;
}

UINT WriteRunCounterBody(MSIHANDLE) {
  CustomActionLog() << L"WriteRunCounterInRegistry\r\n\r\n";
  Vrn::CSetup<int32_t> counter(Vrn::SetupLocation::Machine, kRunCounterKey, L"RunCounter", 0);
  const int32_t runs = counter.Get();
  // The counter stops at its largest value rather than turning negative.
  counter.Set(runs == std::numeric_limits<int32_t>::max() ? runs : runs + 1);
  return ERROR_SUCCESS;
}

}  // namespace

}  // namespace Msi

ORV_ACTION(WriteRegistry, Msi::WriteRegistryBody, .reads = L"WR_KEY WR_VALUE_NAME WR_VALUE WR_ROOT")
ORV_ACTION(
    RemoveRegistry, Msi::RemoveRegistryBody,
    .reads = L"RemoveRegistry_Root RemoveRegistry_Path RemoveRegistry_SubKey RemoveRegistry_Value UnRemoveParents")
ORV_ACTION(CleanRegistry, Msi::CleanRegistryBody, .reads = L"ProductName")
ORV_ACTION(KeepRegistry_OV_SaveReg, Msi::KeepRegistryBody, .reads = L"SAVE_REG_FILE", .tables = L"OV_SaveReg Registry")
ORV_ACTION(WriteInsDirForUnpublishProduct, Msi::WriteInsDirForUnpublishProductBody, .reads = L"INSTALLDIR")
ORV_ACTION(WriteOrvantSetupRun_1, Msi::WriteOrvantSetupRun1Body)
ORV_ACTION(WriteRunCounterInRegistry, Msi::WriteRunCounterBody)
