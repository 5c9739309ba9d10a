// The stored launcher command line: GetCMDLINE publishes it, CheckCMDLINE accepts it only when
// every property it assigns is one the package allows.
#include "CheckMaskedEdit.h"

#include <algorithm>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "FileOperations.h"
#include "InstallHelper.h"
#include "MsiHelper.h"
#include "RegistryKey.h"

namespace Msi {

CUnicodeString FoldCyrillicLookAlikes(CUnicodeString text) {
  static constexpr struct {
    wchar_t cyrillic;
    const wchar_t* latin;
  } kLookAlikes[] = {
      {L'\x0435', L"e"}, {L'\x0445', L"x"}, {L'\x0430', L"a"}, {L'\x0440', L"p"}, {L'\x043E', L"o"}, {L'\x0441', L"c"},
      {L'\x0443', L"y"}, {L'\x0415', L"E"}, {L'\x0425', L"X"}, {L'\x0410', L"A"}, {L'\x0420', L"P"}, {L'\x041E', L"O"},
      {L'\x0421', L"C"}, {L'\x0422', L"T"}, {L'\x0412', L"B"}, {L'\x041C', L"M"},
  };
  for (const auto& pair : kLookAlikes) text.Replace(std::wstring_view(&pair.cyrillic, 1), pair.latin);
  return text;
}

std::vector<CUnicodeString> AssignedPropertyNames(const CUnicodeString& commandLine) {
  const std::vector<CUnicodeString> pieces = SplitList(commandLine, L'=');
  std::vector<CUnicodeString> names;
  for (size_t index = 0; index < pieces.size(); ++index) {
    const std::vector<CUnicodeString> words = SplitList(pieces[index], L' ');
    const CUnicodeString lastWord = words.empty() ? CUnicodeString() : words.back();
    CustomActionLog() << L"GetCMDLINE left=" << lastWord << L"\r\n\r\n";
    // The last piece only holds the final value.
    if (index + 1 < pieces.size()) names.push_back(lastWord);
  }
  return names;
}

}  // namespace Msi

namespace {

using Msi::CUnicodeString;

// The command line the launcher stored, when the installation says it came from the launcher.
CUnicodeString StoredCommandLine(MSIHANDLE session) {
  if (!Msi::GetBoolProperty(session, L"LAUNCH_FROM_SETUP")) return {};
  for (const wchar_t* path : {L"SOFTWARE\\Orvant\\Setup", L"SOFTWARE\\Wow6432Node\\Orvant\\Setup"}) {
    Vrn::CRegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, path, Vrn::RegistryMode::Read)) continue;
    CUnicodeString stored = key.ReadString(L"CMDLINE");
    if (!stored.IsEmpty()) return stored;
  }
  return {};
}

UINT GetCommandLineBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"GetCMDLINE\r\n\r\n";
  const CUnicodeString stored = StoredCommandLine(session);
  if (!stored.IsEmpty()) Msi::SetProperty(session, L"CMDLINE", stored);
  return ERROR_SUCCESS;
}

bool Listed(const std::vector<CUnicodeString>& list, const CUnicodeString& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

// True when every assigned name is allowed; the first that is not is shown to the user.
bool CommandLineIsAcceptable(const Msi::CMessageContext& context, const CUnicodeString& commandLine) {
  CUnicodeString ignored = Msi::GetProperty(context.session, L"CMDLINE_ARG_IGNORE_LIST");
  if (ignored.IsEmpty()) ignored = L"INSTALLDIR;TARGETDIR";
  const std::vector<CUnicodeString> ignoreList = Msi::SplitList(ignored, L';');
  const std::vector<CUnicodeString> allowedList =
      Msi::SplitList(Msi::GetProperty(context.session, L"CMDLINE_ARG_LIST"), L';');
  for (const CUnicodeString& name : Msi::AssignedPropertyNames(commandLine)) {
    const CUnicodeString normalised = Msi::FoldCyrillicLookAlikes(name.Trimmed().MakeUpper());
    const wchar_t* message = nullptr;
    if (normalised.IsEmpty())
      message = L"MT_CMDLINE_Bad";
    else if (!Listed(ignoreList, normalised) && !Listed(allowedList, normalised))
      message = L"MT_CMDLINE_InvalidArg";
    if (message != nullptr) {
      Msi::ShowPropertyMessageWithParams(context, true, message, {name, commandLine}, MB_ICONWARNING);
      return false;
    }
  }
  return true;
}

UINT CheckCommandLineBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"CheckCMDLINE\r\n\r\n";
  const Msi::CMessageContext context(session);
  const CUnicodeString commandLine = StoredCommandLine(session);
  const bool acceptable = commandLine.IsEmpty() || CommandLineIsAcceptable(context, commandLine);
  Msi::SetProperty(session, L"CMDLINE_OK", acceptable ? L"Yes" : L"");
  return Msi::CountFailure(acceptable ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE);
}

}  // namespace

ORV_ACTION(GetCMDLINE, GetCommandLineBody, .reads = L"LAUNCH_FROM_SETUP")
ORV_ACTION(CheckCMDLINE, CheckCommandLineBody, .reads = L"LAUNCH_FROM_SETUP CMDLINE_ARG_IGNORE_LIST CMDLINE_ARG_LIST",
           .shows = L"MT_CMDLINE_InvalidArg MT_CMDLINE_Bad")
