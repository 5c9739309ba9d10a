// Path, folder and free-space checks: the target folder and other user-chosen folders that must
// lie on the network, whether the package runs from this computer, network folder and computer
// pickers, and the installation folder's content, name, writability and free space. Each check
// publishes its verdict in a property ("Yes" or empty) and tells the user through a message box
// whose text the package supplies in an MT_ property.
#include <algorithm>
#include <string_view>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "Files.h"
#include "FolderBrowser.h"
#include "InstallHelper.h"
#include "MessageHandlers.h"
#include "MsiHelper.h"
#include "PathOperations.h"
#include "RegistryKey.h"
// after windows.h
#include <knownfolders.h>
#include <versionhelpers.h>

namespace {

using Msi::CMessageContext;
using Msi::CUnicodeString;

constexpr wchar_t kYes[] = L"Yes";
// The two message forms: a notice with text appended, a warning with %0, %1 filled in.
constexpr UINT kNoticeStyle = MB_OK | MB_ICONINFORMATION;  // 0x40
constexpr UINT kWarningStyle = MB_OK | MB_ICONWARNING;     // 0x30

const wchar_t* Verdict(bool passes) { return passes ? kYes : L""; }

using Msi::LogActionName;

void ShowNotice(const CMessageContext& context, const wchar_t* messageProperty, const CUnicodeString& appended = {}) {
  Msi::ShowPropertyMessage(context, messageProperty, appended, kNoticeStyle);
}

void ShowWarning(const CMessageContext& context, const wchar_t* messageProperty,
                 const std::vector<CUnicodeString>& params) {
  Msi::ShowPropertyMessageWithParams(context, true, messageProperty, params, kWarningStyle);
}

// ---- Network folders ----

UINT SetUnmappedTargetDirBody(MSIHANDLE session) {
  LogActionName(L"SetUnmappedTargetDir");
  CUnicodeString target = Msi::GetProperty(session, L"TARGETDIR");
  if (auto universal = Msi::GetUniversalName(target)) target = *universal;
  Msi::SetProperty(session, L"TARGETDIR", target);
  return ERROR_SUCCESS;
}

UINT CheckTargetDirBody(MSIHANDLE session) {
  LogActionName(L"CheckTargetDir");
  const CMessageContext context(session);
  const CUnicodeString target = Msi::GetProperty(session, L"TARGETDIR");
  bool valid = true;
  if (target.IsEmpty()) {
    ShowNotice(context, L"MT_NetworkLocationPathIsEmpty");
    valid = false;
  } else if (Msi::PathKind(target) != Msi::PathType::Unc && !Msi::GetUniversalName(target)) {
    ShowNotice(context, L"MT_NetworkLocationPathIsNotRemote", target);
    valid = false;
  }
  Msi::SetProperty(session, L"TARGETDIR_VALID", Verdict(valid));
  return ERROR_SUCCESS;
}

UINT CheckTargetDirNotEmptyBody(MSIHANDLE session) {
  LogActionName(L"CheckTargetDirNotEmpty");
  const CMessageContext context(session);
  const bool valid = !Msi::GetProperty(session, L"TARGETDIR").IsEmpty();
  if (!valid) ShowNotice(context, L"MT_NetworkLocationPathIsEmpty");
  Msi::SetProperty(session, L"TARGETDIR_VALID", Verdict(valid));
  return ERROR_SUCCESS;
}

// Runs step, turning a core-library error into a warning naming the folder; true when it passed.
template <class Step>
bool PassesFolderStep(const CMessageContext& context, const wchar_t* messageProperty, const CUnicodeString& folder,
                      Step step) {
  try {
    step();
    return true;
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr error(raw);
    ShowWarning(context, messageProperty, {folder});
    return false;
  }
}

// A network folder the user chose: it must be given, must be (or be mapped to) a UNC path, whose
// universal form replaces the property, and must be writable; a missing folder is created and
// stays. Sets the verdict property and returns it.
bool CheckNetworkDirectory(MSIHANDLE session, const wchar_t* pathProperty, const wchar_t* verdictProperty) {
  const CMessageContext context(session);
  const CUnicodeString path = Msi::GetProperty(session, pathProperty);
  bool valid = true;
  if (path.IsEmpty()) {
    ShowNotice(context, L"MT_NetworkLocationPathIsEmpty");
    valid = false;
  } else if (Msi::PathKind(path) != Msi::PathType::Unc) {
    // The property takes the universal form; the checks below still go through the mapped path.
    if (auto universal = Msi::GetUniversalName(path)) {
      Msi::SetProperty(session, pathProperty, *universal);
    } else {
      ShowWarning(context, L"MT_NetworkLocationPathIsNotRemote", {path});
      valid = false;
    }
  }
  if (valid) {
    valid = Vrn::DirectoryExists(path) ? PassesFolderStep(context, L"MT_NetworkLocationNotWritable", path,
                                                          [&] { Msi::TestFolderWritable(path); })
                                       : PassesFolderStep(context, L"MT_NetworkLocationNotAccessed", path,
                                                          [&] { Vrn::CreateDirectoryWithParents(path); });
  }
  Msi::SetProperty(session, verdictProperty, Verdict(valid));
  return valid;
}

UINT CheckAndNormDirBody(MSIHANDLE session) {
  LogActionName(L"CheckAndNormDir");
  CheckNetworkDirectory(session, L"DIR", L"DIR_VALID");
  return ERROR_SUCCESS;
}

UINT CheckAndNormUserTargetDirBody(MSIHANDLE session) {
  LogActionName(L"CheckAndNormUserTargetDir");
  CheckNetworkDirectory(session, L"USERTARGETDIR", L"USERTARGETDIR_VALID");
  return ERROR_SUCCESS;
}

// A failed check stops the installation; it is a verdict, not a fault, so it is not counted.
UINT CheckAndNormTargetDirBody(MSIHANDLE session) {
  LogActionName(L"CheckAndNormTargetDir");
  return CheckNetworkDirectory(session, L"TARGETDIR", L"TARGETDIR_VALID") ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// ---- Where the package runs from ----

UINT CheckIsTargetIsLocalBody(MSIHANDLE session) {
  LogActionName(L"CheckIsTargetIsLocal");
  Msi::SetProperty(session, L"TARGETDIR_IS_LOCAL", Verdict(Msi::IsSourceOnThisComputer(session)));
  return ERROR_SUCCESS;
}

// Installing from this computer is refused as if the user had cancelled.
UINT CheckIsInstallationFromRemoteComputerBody(MSIHANDLE session) {
  LogActionName(L"CheckIsInstallationFromRemoteComputer");
  if (!Msi::IsSourceOnThisComputer(session)) return ERROR_SUCCESS;
  ShowNotice(CMessageContext(session), L"MT_LocalWorkstationInstallationDenayed");
  return ERROR_INSTALL_USEREXIT;
}

UINT CheckSourceDirBody(MSIHANDLE session) {
  LogActionName(L"CheckSOURCDIR");
  const CUnicodeString source = Msi::GetProperty(session, L"SOURCEDIR");
  Vrn::Check(!source.IsEmpty());
  Msi::SetProperty(session, L"SOURCEDIR_IS_LOCAL", Verdict(Msi::IsPathOnThisComputer(source)));
  return ERROR_SUCCESS;
}

// The address of a UNC host text that starts with a dotted IPv4 address (three decimal parts and
// a fourth up to the next "\", "/" or "."), or nothing.
std::optional<CUnicodeString> LeadingIpv4Address(std::wstring_view host) {
  size_t position = 0;
  for (int part = 0; part < 3; ++part) {
    const size_t start = position;
    while (position < host.size() && host[position] >= L'0' && host[position] <= L'9') ++position;
    if (position == start || position >= host.size() || host[position] != L'.') return std::nullopt;
    ++position;
  }
  const size_t end = host.find_first_of(L"\\/.", position);
  return CUnicodeString(host.substr(0, end));
}

UINT GetRemoteComputerNameBody(MSIHANDLE session) {
  LogActionName(L"GetRemoteComputerName");
  const CUnicodeString source = Msi::GetProperty(session, L"SourceDir");
  CUnicodeString computer = L"127.0.0.1";
  if (Msi::PathKind(source) == Msi::PathType::Unc) {
    if (auto address = LeadingIpv4Address(source.View().substr(2))) {
      computer = *address;
    } else {
      computer = Msi::HostPartOfUncPath(source);
      Msi::CustomActionLog() << L"komp = " << computer << L"\r\n";
    }
  }
  Msi::SetProperty(session, L"USERTARGETDIR", computer);
  return ERROR_SUCCESS;
}

// ---- Network pickers ----

constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kNetHoodValue[] = L"NetHood";

void WriteExpandString(Vrn::CRegistryKey& key, const wchar_t* name, const CUnicodeString& value) {
  key.WriteValue(name, REG_EXPAND_SZ, value.c_str(), static_cast<DWORD>((value.Length() + 1) * sizeof(wchar_t)));
}

// Switches the per-user "NetHood" shell folder off while the network browser is open, so that the
// dialog shows the whole network; the saved value is written back on every way out.
class CNetHoodSwitch {
 public:
  CNetHoodSwitch() {
    Vrn::CheckLastError(m_key.Open(HKEY_CURRENT_USER, kShellFoldersKey, Vrn::RegistryMode::Write));
    m_saved = m_key.ReadString(kNetHoodValue);
    WriteExpandString(m_key, kNetHoodValue, L"Off");
  }
  ~CNetHoodSwitch() {
    try {
      WriteExpandString(m_key, kNetHoodValue, m_saved);
    } catch (Vrn::CException* raw) {
      // A destructor may not throw: the failure goes to the log and the installer.
      const Vrn::CExceptionPtr error(raw);
      Vrn::ReportException(*error);
    }
  }
  CNetHoodSwitch(const CNetHoodSwitch&) = delete;
  CNetHoodSwitch& operator=(const CNetHoodSwitch&) = delete;
  const CUnicodeString& Saved() const noexcept { return m_saved; }

 private:
  Vrn::CRegistryKey m_key;
  CUnicodeString m_saved;
};

// Enables OK only for a selection that is a file-system folder.
int CALLBACK EnableOkForFolders(HWND dialog, UINT message, LPARAM parameter, LPARAM) {
  if (message == BFFM_SELCHANGED) {
    wchar_t path[MAX_PATH];
    const BOOL isFolder = ::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(parameter), path);
    ::SendMessageW(dialog, BFFM_ENABLEOK, 0, isFolder);
  }
  return 0;
}

// The shell's Network folder as an item list.
HRESULT NetworkFolder(Msi::CItemList& folder) {
  PIDLIST_ABSOLUTE list = nullptr;
  const HRESULT result = ::SHGetSpecialFolderLocation(nullptr, CSIDL_NETWORK, &list);
  folder.Reset(list);
  return result;
}

// Shows the browse dialog owned by the installer's window, rooted at root (the desktop when null);
// the display-name buffer must hold MAX_PATH characters. The chosen item, or null when cancelled.
Msi::CItemList Browse(MSIHANDLE session, const Msi::CItemList& root, const CUnicodeString& title, UINT flags,
                      wchar_t* displayName, BFFCALLBACK callback = nullptr) {
  BROWSEINFOW info{};
  info.hwndOwner = Msi::FindInstallerWindow(session);
  info.pidlRoot = root.Get();
  info.pszDisplayName = displayName;
  info.lpszTitle = title.c_str();
  info.ulFlags = flags;
  info.lpfn = callback;
  return Msi::CItemList(Msi::FolderBrowser().BrowseForFolder(info));
}

UINT GetRemoteFolderBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"GetRemoteFolder\r\n";
  CUnicodeString target = Msi::GetProperty(session, L"RemoteFolderProperty");
  if (target.IsEmpty()) target = L"USERTARGETDIR";
  const CNetHoodSwitch netHood;
  Msi::CustomActionLog() << L"GetRemoteFolder NetHood=" << netHood.Saved() << L"\r\n";
  Msi::CItemList root;
  NetworkFolder(root);  // without it the dialog starts at the desktop
  // The shell's allocator is the task allocator that CItemList frees with; without it no item
  // list could be freed, so the action ends here.
  IMalloc* shellAllocator = nullptr;
  Vrn::CheckHResult(::SHGetMalloc(&shellAllocator));
  shellAllocator->Release();
  const CUnicodeString title = Msi::GetProperty(session, L"MT_NetworkLocationPathIsEmpty");
  wchar_t displayName[MAX_PATH] = {};
  const Msi::CItemList chosen =
      Browse(session, root, title, BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_VALIDATE | BIF_NEWDIALOGSTYLE,  // 0x71
             displayName, EnableOkForFolders);
  wchar_t path[MAX_PATH];
  if (chosen && ::SHGetPathFromIDListW(chosen.Get(), path)) {
    Msi::SetProperty(session, target, path);
    Msi::CustomActionLog() << L"GetRemoteFolder=" << path << L"\r\n";
  }
  return ERROR_SUCCESS;
}

UINT GetNetComputerListBody(MSIHANDLE session) {
  LogActionName(L"GetNetComputerList");
  Msi::CItemList root;
  if (const HRESULT result = NetworkFolder(root); FAILED(result)) {
    if (result == E_OUTOFMEMORY) Vrn::Raise<Vrn::CMemoryException>();
    Vrn::RaiseComError(result);
  }
  const CUnicodeString title = Msi::GetProperty(session, L"MT_GetNetComputerList_TITLE");
  wchar_t displayName[MAX_PATH + 1] = {};                                // 261 characters
  if (Browse(session, root, title, BIF_BROWSEFORCOMPUTER, displayName))  // 0x1000
    Msi::SetProperty(session, L"NET_COMPUTER_NAME", displayName);
  return ERROR_SUCCESS;
}

// ---- Folder content and names ----

// The first position at which two texts differ (the shorter length when one starts the other).
size_t FirstDifference(std::wstring_view a, std::wstring_view b) {
  return static_cast<size_t>(std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first -
                             a.begin());
}

// The path converted to the system's ANSI code page and back.
CUnicodeString CodePageRoundTrip(const CUnicodeString& path) {
  return CUnicodeString::FromCodePage(path.ToCodePage(CP_ACP), CP_ACP);
}

// The rest of the folder from its first character that the product cannot use: one that does not
// survive the ANSI code page, else the first occurrence of the first listed character present.
std::optional<CUnicodeString> UnsupportedRest(const CUnicodeString& folder, std::wstring_view listed) {
  const CUnicodeString roundTrip = CodePageRoundTrip(folder);
  if (roundTrip != folder) return folder.Mid(FirstDifference(folder, roundTrip));
  for (const wchar_t ch : listed)
    if (const size_t position = folder.Find(ch); position != CUnicodeString::npos) return folder.Mid(position);
  return std::nullopt;
}

// Shows "MT_DirHasUnsupChars" for a folder with an unsupported character; true when it had one.
bool HasUnsupportedChars(const CMessageContext& context, const CUnicodeString& folder, std::wstring_view listed) {
  const std::optional<CUnicodeString> rest = UnsupportedRest(folder, listed);
  if (rest) ShowWarning(context, L"MT_DirHasUnsupChars", {folder, *rest});
  return rest.has_value();
}

// Everything directly in an existing folder, hidden and system entries included.
std::vector<Vrn::CDirectoryEntry> FolderContent(const CUnicodeString& folder) {
  if (!Vrn::DirectoryExists(folder)) return {};
  return Vrn::ListDirectory(folder, L"*.*", Vrn::ListAll);
}

UINT CheckFileExistBody(MSIHANDLE session) {
  LogActionName(L"CheckFileExist");
  const CMessageContext context(session);
  const CUnicodeString folder = Msi::GetProperty(session, L"INSTALLDIR");
  const bool exists = Vrn::PathExists(Vrn::JoinPath(folder, Msi::GetProperty(session, L"CheckFileInDir")));
  if (exists) ShowWarning(context, L"MT_LMAlreadyExist", {Msi::GetProperty(session, L"DisplayProductName"), folder});
  Msi::SetProperty(session, L"INSTALLDIR_VALID", Verdict(!exists));
  return ERROR_SUCCESS;
}

UINT CheckFileExist1Body(MSIHANDLE session) {
  LogActionName(L"CheckFileExist1");
  const CUnicodeString folder = Msi::GetProperty(session, L"CHECK_FILE_EXIST_1_DIR");
  const bool exists = Vrn::PathExists(Vrn::JoinPath(folder, Msi::GetProperty(session, L"CHECK_FILE_EXIST_1_NAME")));
  Msi::SetProperty(session, L"CHECK_FILE_EXIST_1_EXIST", Verdict(exists));
  Msi::CustomActionLog() << L"CheckFileExist1: " << (exists ? L"true" : L"false") << L"\r\n\r\n";
  return ERROR_SUCCESS;
}

UINT CheckInstallDirIsEmptyBody(MSIHANDLE session) {
  LogActionName(L"CheckINSTALLDIRisEmpty");
  const CMessageContext context(session);
  const CUnicodeString folder = Msi::GetProperty(session, L"INSTALLDIR");
  bool valid = true;
  if (!FolderContent(folder).empty()) {
    ShowWarning(context, L"MT_DirIsNotEmpty", {folder});
    valid = false;
  }
  if (valid && HasUnsupportedChars(context, folder, L"#%;")) valid = false;
  Msi::SetProperty(session, L"INSTALLDIR_VALID", Verdict(valid));
  return ERROR_SUCCESS;
}

// True when the text contains the part, without regard to letter case.
bool ContainsNoCase(CUnicodeString text, CUnicodeString part) {
  return text.MakeLower().Find(part.MakeLower().View()) != CUnicodeString::npos;
}

UINT CheckDirIsEmptyBody(MSIHANDLE session) {
  LogActionName(L"CheckDirIsEmpty");
  const CMessageContext context(session);
  const CUnicodeString folder = Msi::GetProperty(session, L"CHECK_DIR_IS_EMPTY_DIR");
  Vrn::Check(!folder.IsEmpty());
  // The one entry that does not count, named by a part of its name (for example a log file).
  const CUnicodeString exception = Msi::GetPropertySilent(session, L"MT_CHECK_DIR_EXCEPTION");
  // A name the product cannot use ends the checks: the folder counts as empty but is not valid.
  bool valid = false;
  bool empty = true;
  if (!HasUnsupportedChars(context, folder, L"#%;")) {
    valid = true;
    const std::vector<Vrn::CDirectoryEntry> entries = FolderContent(folder);
    if (!entries.empty()) {
      Msi::CustomActionLog() << L"CheckDirIsEmpty list size: " << static_cast<uint32_t>(entries.size()) << L"\r\n\r\n";
      for (const Vrn::CDirectoryEntry& entry : entries)
        Msi::CustomActionLog() << L"CheckDirIsEmpty : " << entry.fullPath << L"\r\n\r\n";
      empty = !exception.IsEmpty() && entries.size() == 1 && ContainsNoCase(entries[0].name, exception);
    }
  }
  Msi::SetProperty(session, L"CHECK_DIR_IS_EMPTY_EMPTY", Verdict(empty));
  Msi::SetProperty(session, L"CHECK_DIR_IS_EMPTY_VALID", Verdict(valid));
  return ERROR_SUCCESS;
}

// A source folder the product cannot use stops the installation, counted as a failure.
UINT CheckSrcDirBody(MSIHANDLE session) {
  LogActionName(L"CheckSRCDIR");
  const CMessageContext context(session);
  const CUnicodeString source = Msi::GetProperty(session, L"SOURCEDIR");
  const CUnicodeString roundTrip = CodePageRoundTrip(source);
  const bool differs = roundTrip != source;
  if (!differs && source.Find(L"\\ ") == CUnicodeString::npos && source.Find(L"/ ") == CUnicodeString::npos)
    return ERROR_SUCCESS;
  const CUnicodeString rest = differs ? roundTrip.Mid(FirstDifference(source, roundTrip)) : CUnicodeString();
  ShowWarning(context, L"MT_DirHasUnsupChars", {roundTrip, rest});
  return Msi::CountFailure(ERROR_INSTALL_FAILURE);
}

// The folders of a path that do not exist yet, the deepest first.
std::vector<CUnicodeString> MissingFolders(const CUnicodeString& path) {
  std::vector<CUnicodeString> missing;
  CUnicodeString folder = path;
  while (!folder.IsEmpty() && !Vrn::DirectoryExists(folder)) {
    missing.push_back(folder);
    size_t end = folder.Length();
    while (end > 0 && Vrn::IsPathSeparator(folder[end - 1])) --end;
    while (end > 0 && !Vrn::IsPathSeparator(folder[end - 1])) --end;
    folder = folder.Left(end);
  }
  return missing;
}

// Writes into a local folder: an existing one receives "AccessTest.tmp", which is deleted at once;
// a missing one is created and removed again, with the parents the test had to create.
void TestLocalWriteAccess(const CUnicodeString& folder) {
  if (Vrn::DirectoryExists(folder)) {
    const CUnicodeString probe = Vrn::JoinPath(folder, L"AccessTest.tmp");
    Vrn::CFile(probe, Vrn::CFile::OpenMode::CreateAlways).Close();
    Vrn::RemoveFile(probe);
    return;
  }
  const std::vector<CUnicodeString> missing = MissingFolders(folder);
  Vrn::CreateDirectoryWithParents(folder);
  for (const CUnicodeString& created : missing) Vrn::RemoveFolder(created);
}

UINT CheckInstallDirBody(MSIHANDLE session) {
  LogActionName(L"CheckINSTALLDIR");
  const CMessageContext context(session);
  const CUnicodeString folder = Msi::GetProperty(session, L"INSTALLDIR");
  const bool fromSetup = Msi::GetBoolProperty(session, L"LAUNCH_FROM_SETUP");
  bool valid = !HasUnsupportedChars(context, folder, L"#%");
  if (valid && fromSetup) {
    if (!Msi::IsPathOnThisComputer(folder)) {
      // A package without the text accepts network folders.
      if (!Msi::GetProperty(session, L"MT_NetworkLocationNotAccessed").IsEmpty()) {
        ShowWarning(context, L"MT_NetworkLocationNotAccessed", {folder});
        valid = false;
      }
    } else {
      try {
        TestLocalWriteAccess(folder);
      } catch (Vrn::CException* raw) {
        const Vrn::CExceptionPtr error(raw);
        Msi::CustomActionLog() << L"CheckINSTALLDIR: ERROR:" << error->MessageText() << L"\r\n";
        ShowWarning(context, L"MT_NetworkLocationNotAccessed", {folder});
        valid = false;
      }
    }
  }
  Msi::SetProperty(session, L"INSTALLDIR_VALID", Verdict(valid));
  return ERROR_SUCCESS;
}

// ---- Free space ----

constexpr uint32_t kKiB = 1024;

UINT CheckFreeSpaceInstallDirBody(MSIHANDLE session) {
  LogActionName(L"CheckFreeSpaceInstallDir");
  const CMessageContext context(session);
  const CUnicodeString folder = Msi::GetProperty(session, L"INSTALLDIR");
  const uint32_t freeKiB = Vrn::FreeSpaceKiB(folder);
  Msi::CustomActionLog() << L"CheckFreeSpaceInstallDir installDir=" << folder << L"\r\n\r\n"
                         << L"CheckFreeSpaceInstallDir freeSpace=" << freeKiB << L"\r\n\r\n";
  const std::optional<uint32_t> requiredMiB = Vrn::StrictInteger<uint32_t>(Msi::GetProperty(session, L"APPEND_SPACE"));
  Vrn::Check(requiredMiB.has_value());
  Msi::CustomActionLog() << L"CheckFreeSpaceInstallDir distSize=" << *requiredMiB << L"\r\n\r\n";
  const uint32_t freeMiB = freeKiB / kKiB;
  // Exactly the space asked for is too little.
  const bool valid = freeMiB > *requiredMiB;
  if (!valid)
    ShowWarning(context, L"MT_AppendSpace",
                {CUnicodeString::FromUInt(freeMiB), CUnicodeString::FromUInt(*requiredMiB)});
  Msi::SetProperty(session, L"APPEND_SPACE_VALID", Verdict(valid));
  return ERROR_SUCCESS;
}

// The bytes of the files below a folder, names starting with "." left out, in a 32-bit sum (so it
// wraps beyond 4 GiB). Linked folders are not entered, so a link back up cannot loop.
uint32_t DirectorySize(const CUnicodeString& folder) {
  uint32_t total = 0;
  for (const Vrn::CDirectoryEntry& entry : Vrn::ListDirectory(folder, L"*", Vrn::ListAll)) {
    if (entry.name.StartsWith(L".") || (entry.IsDirectory() && (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)))
      continue;
    total += entry.IsDirectory() ? DirectorySize(entry.fullPath) : static_cast<uint32_t>(entry.size);
  }
  return total;
}

UINT CheckFreeSpaceUserTargetDirBody(MSIHANDLE session) {
  LogActionName(L"CheckFreeSpaceUserTargetDir");
  const CMessageContext context(session);
  const CUnicodeString target = Msi::GetProperty(session, L"USERTARGETDIR");
  const uint32_t freeKiB = Vrn::FreeSpaceKiB(target);
  Msi::CustomActionLog() << L"CheckFreeSpaceUserTargetDir targetDir=" << target << L"\r\n\r\n"
                         << L"CheckFreeSpaceTARGETDIR freeSpace=" << freeKiB << L"\r\n\r\n";
  // Without a source folder the current folder would be measured.
  const CUnicodeString source = Msi::GetProperty(session, L"SOURCEDIR");
  Vrn::Check(!source.IsEmpty());
  const uint32_t neededBytes = DirectorySize(source);
  Msi::CustomActionLog() << L"CheckFreeSpaceTARGETDIR distSize=" << neededBytes << L"\r\n\r\n";
  const bool valid = freeKiB > neededBytes / kKiB;
  if (!valid)
    ShowWarning(context, L"MT_AppendSpace",
                {CUnicodeString::FromUInt(freeKiB / kKiB), CUnicodeString::FromUInt(neededBytes / (kKiB * kKiB))});
  Msi::SetProperty(session, L"USERTARGETDIR_VALID", Verdict(valid));
  return ERROR_SUCCESS;
}

// ---- Known folders and the target folder ----

using KnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path);

// A known folder, created when missing; nothing before Windows Vista or when the shell fails.
std::optional<CUnicodeString> KnownFolderPath(REFKNOWNFOLDERID id) {
  if (!IsWindowsVistaOrGreater()) return std::nullopt;
  const Vrn::CModuleHandle shell(::LoadLibraryW(L"shell32.dll"));
  Vrn::CheckLastError(shell.IsValid());
  const auto function = reinterpret_cast<KnownFolderPathFunction>(
      reinterpret_cast<void*>(::GetProcAddress(shell.Get(), "SHGetKnownFolderPath")));
  Vrn::CheckLastError(function != nullptr);
  PWSTR raw = nullptr;
  const HRESULT result = function(id, KF_FLAG_CREATE, nullptr, &raw);
  std::optional<CUnicodeString> path;
  if (SUCCEEDED(result) && raw) path = CUnicodeString(raw);
  ::CoTaskMemFree(raw);
  return path;
}

UINT GetPublicFolderBody(MSIHANDLE session) {
  LogActionName(L"GetPublicFolder");
  if (auto path = KnownFolderPath(FOLDERID_Public)) Msi::SetProperty(session, L"PUBLIC_FOLDER", *path);
  return ERROR_SUCCESS;
}

UINT GetUsersFolderBody(MSIHANDLE session) {
  LogActionName(L"GetUsersFolder");
  if (auto path = KnownFolderPath(FOLDERID_UserProfiles)) {
    // One trailing separator goes (a drive root keeps its own), then a backslash is appended.
    const bool driveRoot = Msi::PathKind(*path) == Msi::PathType::DriveAbsolute && path->Length() == 3;
    if (!driveRoot && !path->IsEmpty() && Vrn::IsPathSeparator((*path)[path->Length() - 1]))
      *path = path->Left(path->Length() - 1);
    Msi::SetProperty(session, L"USERS_FOLDER", *path + L"\\");
  }
  return ERROR_SUCCESS;
}

// The target folder moves to its "Bin" subfolder; the package's TARGETDIR ends with a separator.
UINT SetTargetDirBinBody(MSIHANDLE session) {
  LogActionName(L"SetTargetDirBin");
  Msi::SetTargetPath(session, L"TARGETDIR", Msi::GetProperty(session, L"TARGETDIR") + L"Bin");
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(SetUnmappedTargetDir, SetUnmappedTargetDirBody, .reads = L"TARGETDIR")
ORV_ACTION(CheckTargetDir, CheckTargetDirBody, .reads = L"TARGETDIR",
           .shows = L"MT_NetworkLocationPathIsEmpty MT_NetworkLocationPathIsNotRemote")
ORV_ACTION(CheckTargetDirNotEmpty, CheckTargetDirNotEmptyBody, .reads = L"TARGETDIR",
           .shows = L"MT_NetworkLocationPathIsEmpty")
ORV_ACTION(CheckAndNormDir, CheckAndNormDirBody, .reads = L"DIR",
           .shows =
               L"MT_NetworkLocationPathIsEmpty MT_NetworkLocationPathIsNotRemote MT_NetworkLocationNotWritable "
               L"MT_NetworkLocationNotAccessed")
ORV_ACTION(CheckAndNormUserTargetDir, CheckAndNormUserTargetDirBody, .reads = L"USERTARGETDIR",
           .shows =
               L"MT_NetworkLocationPathIsEmpty MT_NetworkLocationPathIsNotRemote MT_NetworkLocationNotWritable "
               L"MT_NetworkLocationNotAccessed")
ORV_ACTION(CheckAndNormTargetDir, CheckAndNormTargetDirBody, .reads = L"TARGETDIR",
           .shows =
               L"MT_NetworkLocationPathIsEmpty MT_NetworkLocationPathIsNotRemote MT_NetworkLocationNotWritable "
               L"MT_NetworkLocationNotAccessed")
ORV_ACTION(CheckIsTargetIsLocal, CheckIsTargetIsLocalBody)
ORV_ACTION(CheckIsInstallationFromRemoteComputer, CheckIsInstallationFromRemoteComputerBody,
           .shows = L"MT_LocalWorkstationInstallationDenayed")
ORV_ACTION(CheckSOURCEDIR, CheckSourceDirBody, .reads = L"SOURCEDIR")
ORV_ACTION(GetRemoteFolder, GetRemoteFolderBody, .reads = L"RemoteFolderProperty",
           .shows = L"MT_NetworkLocationPathIsEmpty")
ORV_ACTION(GetNetComputerList, GetNetComputerListBody, .shows = L"MT_GetNetComputerList_TITLE")
ORV_ACTION(GetRemoteComputerName, GetRemoteComputerNameBody, .reads = L"SourceDir")
ORV_ACTION(CheckFileExist, CheckFileExistBody, .reads = L"INSTALLDIR CheckFileInDir DisplayProductName",
           .shows = L"MT_LMAlreadyExist")
ORV_ACTION(CheckFileExist1, CheckFileExist1Body, .reads = L"CHECK_FILE_EXIST_1_DIR CHECK_FILE_EXIST_1_NAME")
ORV_ACTION(CheckINSTALLDIRisEmpty, CheckInstallDirIsEmptyBody, .reads = L"INSTALLDIR",
           .shows = L"MT_DirIsNotEmpty MT_DirHasUnsupChars")
ORV_ACTION(CheckDirIsEmpty, CheckDirIsEmptyBody, .reads = L"CHECK_DIR_IS_EMPTY_DIR MT_CHECK_DIR_EXCEPTION",
           .shows = L"MT_DirHasUnsupChars")
ORV_ACTION(CheckSRCDIR, CheckSrcDirBody, .reads = L"SOURCEDIR", .shows = L"MT_DirHasUnsupChars")
ORV_ACTION(CheckINSTALLDIR, CheckInstallDirBody, .reads = L"INSTALLDIR LAUNCH_FROM_SETUP MT_NetworkLocationNotAccessed",
           .shows = L"MT_DirHasUnsupChars")
ORV_ACTION(CheckFreeSpaceInstallDir, CheckFreeSpaceInstallDirBody, .reads = L"INSTALLDIR APPEND_SPACE",
           .shows = L"MT_AppendSpace")
ORV_ACTION(CheckFreeSpaceUserTargetDir, CheckFreeSpaceUserTargetDirBody, .reads = L"USERTARGETDIR SOURCEDIR",
           .shows = L"MT_AppendSpace")
ORV_ACTION(GetPublicFolder, GetPublicFolderBody)
ORV_ACTION(GetUsersFolder, GetUsersFolderBody)
ORV_ACTION(SetTargetDirBin, SetTargetDirBinBody, .reads = L"TARGETDIR", .costing = true)
