// Word integration: finds the start-up folder of the installed Word, places the product's template
// there (so that Word loads it at every start) and removes it again. Word keeps the templates of its
// start-up folder open while it runs, so a template that cannot be replaced or deleted now is moved
// or deleted at the next restart of the machine instead.
#include <memory>
#include <string>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "Files.h"
#include "MsiHelper.h"
#include "RegistryKey.h"
#include "TextLimits.h"
// after windows.h
#include <sddl.h>
#include <shlobj.h>

namespace Msi {

namespace {

using Vrn::CRegistryKey;
using Vrn::RegistryMode;

constexpr wchar_t kWordVersionPrefix[] = L"word.application.";
// Word 12 and later load the newer template format.
constexpr uint32_t kFirstVersionOfTemplate12 = 12;
// From Word 9 on the start-up folder lives in the user's application data.
constexpr uint32_t kFirstVersionWithUserStartup = 9;
constexpr wchar_t kWordIconValue[] = L"WordIconPath";
// Temporary names are "~ov0.TMP", "~ov1.TMP", ...; the search gives up after this many taken names.
constexpr wchar_t kTemporaryPrefix[] = L"~ov";
constexpr unsigned kTemporaryNameAttempts = 100000;
// Full access for everyone, inherited by objects.
constexpr wchar_t kEveryoneFullAccess[] = L"D:(A;OI;GA;;;WD)";

// The outcome of a delayed file operation.
enum class DelayedResult : int { Done = 0, Scheduled = 1, Failed = 2 };

void LogLine(std::wstring_view text) { CustomActionLog() << text << L"\r\n"; }
void LogLastError(DWORD code) { CustomActionLog() << L"ERROR: GetLastError = " << uint32_t{code} << L"\r\n"; }

// The named value of root\path (default view); empty when the key or the value is missing.
CUnicodeString ReadRegistryText(HKEY root, const CUnicodeString& path, const wchar_t* name = L"") {
  CRegistryKey key;
  if (!key.Open(root, path, RegistryMode::Read)) return {};
  return key.ReadString(name);
}

// The major version of the registered Word ("Word.Application.16" gives 16); 0 without one.
uint32_t WordVersion() {
  CUnicodeString current = ReadRegistryText(HKEY_CLASSES_ROOT, L"Word.Application\\CurVer");
  current.MakeLower();
  CustomActionLog() << L"CWordInfo version=" << current << L"\r\n";
  if (!current.StartsWith(kWordVersionPrefix)) return 0;
  return Vrn::StrictInteger<uint32_t>(current.Mid(std::size(kWordVersionPrefix) - 1)).value_or(0);
}

// The folder of Word's program, from its COM server registration; empty when that names no
// existing ".exe" file.
CUnicodeString WordProgramFolder() {
  const CUnicodeString classId = ReadRegistryText(HKEY_CLASSES_ROOT, L"Word.Application\\CLSID");
  if (classId.IsEmpty()) return {};
  const CUnicodeString command = ReadRegistryText(HKEY_CLASSES_ROOT, L"CLSID\\" + classId + L"\\LocalServer32");
  // The command line goes on after the program with switches such as "/Automation".
  const CUnicodeString program = command.Left(std::min(command.Find(L' '), command.Length()));
  if (program.Length() <= 4 || !program.Right(4).EqualsNoCaseAscii(L".exe") || !Vrn::FileExists(program)) return {};
  const size_t cut = program.View().find_last_of(L"\\/");
  return cut == std::wstring_view::npos ? CUnicodeString() : program.Left(cut + 1);
}

// The first "~ov<n>.TMP" in the folder that does not exist.
CUnicodeString FreeTemporaryName(const CUnicodeString& folder) {
  for (unsigned n = 0; n < kTemporaryNameAttempts; ++n) {
    CUnicodeString path = Vrn::JoinPath(folder, kTemporaryPrefix + CUnicodeString::FromUInt(n) + L".TMP");
    if (!Vrn::PathExists(path)) return path;
  }
  Vrn::Raise<Vrn::CFileException>(Vrn::FileCause::AlreadyExists, ERROR_FILE_EXISTS,
                                  Vrn::JoinPath(folder, kTemporaryPrefix + CUnicodeString(L"*.TMP")));
}

// True when the folder exists (it is made when missing) and a file can be created in it.
bool IsDirWritable(const CUnicodeString& folder) {
  CustomActionLog() << L"isDirWritable testPath=" << folder << L"\r\n";
  try {
    Vrn::CreateDirectoryWithParents(folder);
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr failure(raw);
    LogLine(L"MakeDir exception");
    return false;
  }
  try {
    const CUnicodeString probe = FreeTemporaryName(folder);
    Vrn::CFile(probe, Vrn::CFile::OpenMode::CreateAlways).Close();
    Vrn::RemoveFile(probe);
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr failure(raw);
    LogLine(L"isDirWritable exception");
    return false;
  }
  return true;
}

// The user's application-data folder; empty when the shell does not know it.
CUnicodeString ApplicationDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  return SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) ? folder : L"";
}

// Word's start-up folder: the first writable of Word's own setting, the folder in the user's
// application data and the folder beside the program; empty when none is writable.
CUnicodeString WordStartupFolder(uint32_t version) {
  const CUnicodeString officeKey = L"Software\\Microsoft\\Office\\" + CUnicodeString::FromUInt(version) + L".0\\";
  if (version != 0) {
    const CUnicodeString configured =
        ReadRegistryText(HKEY_CURRENT_USER, officeKey + L"Word\\Options", L"STARTUP-PATH");
    CustomActionLog() << L"getStartupPath STARTUP-PATH=" << configured << L"\r\n";
    if (!configured.IsEmpty() && IsDirWritable(configured)) return configured;
  }
  if (version >= kFirstVersionWithUserStartup) {
    CRegistryKey general;
    general.Open(HKEY_CURRENT_USER, officeKey + L"Common\\General", RegistryMode::Read);
    const CUnicodeString startupName = general.ReadString(L"Startup", L"Startup");
    const CUnicodeString applicationData = ApplicationDataFolder();
    if (!applicationData.IsEmpty()) {
      const CUnicodeString candidate = Vrn::JoinPath(applicationData, L"Microsoft\\Word\\" + startupName);
      CustomActionLog() << L"getStartupPath - path = " << candidate << L"\r\n";
      if (IsDirWritable(candidate)) return candidate;
    }
  }
  // Without a program folder there is no candidate: "Startup" alone would be relative to wherever
  // the installer happens to run.
  const CUnicodeString programFolder = WordProgramFolder();
  if (!programFolder.IsEmpty()) {
    const CUnicodeString candidate = Vrn::JoinPath(programFolder, L"Startup");
    if (IsDirWritable(candidate)) return candidate;
  }
  return {};
}

// The path in the ANSI code page, for the narrow retries of file operations.
std::string NarrowPath(const CUnicodeString& path) { return path.ToCodePage(CP_ACP); }
// The narrow file functions take at most MAX_PATH; a longer path gets no narrow retry.
bool FitsNarrowCall(const std::string& path) { return path.size() <= Vrn::kShortPathLimit.maxLength; }

void ClearReadOnly(const CUnicodeString& path) {
  const DWORD attributes = ::GetFileAttributesW(Vrn::Checked(path, Vrn::kPathLimit));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

// Deletes the file now, or else at the next restart.
DelayedResult DelayDeleteFile(const CUnicodeString& path) {
  CustomActionLog() << L"delayDeleteFile = " << path << L"\r\n";
  if (!Vrn::FileExists(path)) {
    LogLine(L"delayDeleteFile not access");
    return DelayedResult::Done;
  }
  ClearReadOnly(path);
  if (::DeleteFileW(path.c_str())) return DelayedResult::Done;
  LogLastError(::GetLastError());
  LogLine(L"::DeleteFile failed");
  if (const std::string narrow = NarrowPath(path); FitsNarrowCall(narrow) && ::DeleteFileA(narrow.c_str()))
    return DelayedResult::Done;
  LogLastError(::GetLastError());
  LogLine(L"::DeleteFileA failed");
  if (::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return DelayedResult::Scheduled;
  LogLastError(::GetLastError());
  return DelayedResult::Failed;
}

struct CLocalFreeDeleter {
  void operator()(void* memory) const noexcept { ::LocalFree(memory); }
};

// Gives everyone full access to the file; logs the outcome.
void SetForEveryoneAccess(const CUnicodeString& path) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  BOOL done =
      ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryoneFullAccess, SDDL_REVISION_1, &raw, nullptr);
  const std::unique_ptr<void, CLocalFreeDeleter> descriptor(raw);
  if (done) done = ::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.get());
  const DWORD code = done ? 0 : ::GetLastError();
  CustomActionLog() << L"setForEveryoneAccess : " << (done ? L"OK" : L"failed, GetLastError = ")
                    << (done ? CUnicodeString() : CUnicodeString::FromUInt(code)) << L"\r\n";
}

// Moves the file onto the target now (everyone then gets full access to it), or else at the next
// restart.
DelayedResult DelayMoveFile(const CUnicodeString& source, const CUnicodeString& target) {
  Vrn::CheckLength(source, Vrn::kPathLimit);
  if (Vrn::FileExists(target)) {
    ClearReadOnly(target);
    ::DeleteFileW(target.c_str());  // a target held open stays; see below
  }
  CustomActionLog() << L"delayMoveFile = " << target << L"\r\n";
  bool moved = ::MoveFileW(source.c_str(), target.c_str());
  if (!moved) {
    LogLastError(::GetLastError());
    LogLine(L"delayMoveFile MoveFileA");
    const std::string narrowSource = NarrowPath(source), narrowTarget = NarrowPath(target);
    moved = FitsNarrowCall(narrowSource) && FitsNarrowCall(narrowTarget) &&
            ::MoveFileA(narrowSource.c_str(), narrowTarget.c_str());
  }
  if (!moved) {
    // A target still there (Word holds it open) is replaced when the move happens at the restart.
    if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
      return DelayedResult::Scheduled;
    LogLastError(::GetLastError());
    return DelayedResult::Failed;
  }
  SetForEveryoneAccess(target);
  return DelayedResult::Done;
}

// Runs the body; a core-library exception, or any other, is logged as "ERROR: <text>" and gives 1603.
UINT LoggingFailures(MSIHANDLE session, ActionBody body) {
  try {
    return body(session);
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr failure(raw);
    CustomActionLog() << L"ERROR: " << failure->MessageText() << L"\r\n";
  } catch (const std::exception& failure) {
    CustomActionLog() << L"ERROR: " << failure.what() << L"\r\n";
  }
  return ERROR_INSTALL_FAILURE;
}

UINT FindStartupFolderAndTemplate(MSIHANDLE session) {
  const uint32_t version = WordVersion();
  SetProperty(session, L"WordStartUpPath", WordStartupFolder(version));
  const wchar_t* templateProperty = version >= kFirstVersionOfTemplate12 ? L"WordTemplate12" : L"WordTemplateDefault";
  SetProperty(session, L"WordTemplate", GetProperty(session, templateProperty));
  return ERROR_SUCCESS;
}

UINT GetWordStartUpPathAndTemplateNameBody(MSIHANDLE session) {
  CustomActionLog() << L"GetWordStartUpPathAndTemplateName\r\n\r\n";
  return LoggingFailures(session, FindStartupFolderAndTemplate);
}

UINT AddIconToWordBody(MSIHANDLE session) {
  CustomActionLog() << L"AddIconToWord\r\n\r\n";
  const CUnicodeString startupFolder = GetProperty(session, L"WordStartUpPath");
  if (startupFolder.IsEmpty()) return ERROR_SUCCESS;
  Vrn::CreateDirectoryWithParents(startupFolder);
  const CUnicodeString templateName = GetRequiredProperty(session, L"WordTemplate");
  const CUnicodeString recordKey = GetRequiredProperty(session, L"WordTemplateReg");
  const CUnicodeString installFolder = GetRequiredProperty(session, L"INSTALLDIR");

  const CUnicodeString source = Vrn::JoinPath(installFolder, templateName);
  const CUnicodeString copy = FreeTemporaryName(Vrn::TemporaryDirectory());
  if (!::CopyFileW(Vrn::Checked(source, Vrn::kPathLimit), copy.c_str(), FALSE)) Vrn::RaiseFileError(source);
  ClearReadOnly(copy);

  const CUnicodeString target = Vrn::JoinPath(startupFolder, templateName);
  if (DelayMoveFile(copy, target) == DelayedResult::Failed) {
    ::DeleteFileW(copy.c_str());  // nothing will ever move it
    return ERROR_SUCCESS;
  }
  CRegistryKey record;
  if (!record.Open(HKEY_LOCAL_MACHINE, recordKey, RegistryMode::Write)) Vrn::RaiseLastError();
  record.WriteString(kWordIconValue, target);
  return ERROR_SUCCESS;
}

UINT RemoveTemplates(MSIHANDLE session) {
  const CUnicodeString recordKey = GetRequiredProperty(session, L"WordTemplateReg");
  const CUnicodeString recorded = ReadRegistryText(HKEY_LOCAL_MACHINE, recordKey, kWordIconValue);
  if (DelayDeleteFile(recorded) == DelayedResult::Failed) return ERROR_SUCCESS;
  const CUnicodeString startupFolder = GetProperty(session, L"WordStartUpPath");
  if (startupFolder.IsEmpty()) return ERROR_SUCCESS;
  const CUnicodeString oldTemplate = Vrn::JoinPath(startupFolder, GetRequiredProperty(session, L"WordTemplate"));
  CustomActionLog() << L"RemoveIconFromWord oldMacroPath=" << oldTemplate << L"\r\n";
  DelayDeleteFile(oldTemplate);
  return ERROR_SUCCESS;
}

UINT RemoveIconFromWordBody(MSIHANDLE session) {
  CustomActionLog() << L"RemoveIconFromWord\r\n\r\n";
  return LoggingFailures(session, RemoveTemplates);
}

}  // namespace

}  // namespace Msi

ORV_ACTION(GetWordStartUpPathAndTemplateName, Msi::GetWordStartUpPathAndTemplateNameBody,
           .reads = L"WordTemplate12 WordTemplateDefault")
ORV_ACTION(AddIconToWord, Msi::AddIconToWordBody, .reads = L"WordStartUpPath WordTemplate WordTemplateReg INSTALLDIR")
ORV_ACTION(RemoveIconFromWord, Msi::RemoveIconFromWordBody, .reads = L"WordTemplateReg WordStartUpPath WordTemplate")
