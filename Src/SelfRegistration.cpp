// Self-registration of COM servers (libraries through their exported registration functions,
// programs through their registration switches) and the TCP acknowledgement frequency of the
// network interfaces.
#include <functional>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "Errors.h"
#include "Files.h"
#include "MessageHandlers.h"
#include "MsiHelper.h"
#include "ProcessLauncher.h"
#include "QuotedList.h"
#include "RegistryKey.h"
#include "ShellOpen.h"
#include "TextLimits.h"

namespace {

using Msi::CUnicodeString;

using RegistrationFunction = HRESULT(__stdcall*)();
using InstallFunction = HRESULT(__stdcall*)(BOOL install, const wchar_t* commandLine);

// The registration list: Directory and Files (both required), each name joined to the folder.
std::vector<CUnicodeString> RegistrationPaths(MSIHANDLE session) {
  const CUnicodeString directory = Msi::GetRequiredProperty(session, L"Directory");
  const CUnicodeString files = Msi::GetRequiredProperty(session, L"Files");
  std::vector<CUnicodeString> paths;
  for (const CUnicodeString& name : Msi::SplitQuotedList(files, L',')) paths.push_back(Vrn::JoinPath(directory, name));
  return paths;
}

bool HasExtension(const CUnicodeString& path, const wchar_t* extension) {
  const size_t length = std::wstring_view(extension).size();
  return path.Length() >= length && path.Right(length).EqualsNoCaseAscii(extension);
}

template <class Function>
Function Export(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// Loads a library for a call of its exports; a failure raises ERR_CANT_LOAD_DLL with the path and
// the system's reason.
Vrn::CModuleHandle LoadRegistrationLibrary(const CUnicodeString& path) {
  Vrn::CModuleHandle library(::LoadLibraryW(Vrn::Checked(path, Vrn::kPathLimit)));
  if (!library.IsValid()) {
    const DWORD error = ::GetLastError();
    Vrn::Raise<Vrn::CCheckException>(L"ERR_CANT_LOAD_DLL", L"Cannot load DLL %0.\n%1",
                                     std::initializer_list<CUnicodeString>{path, Vrn::SystemErrorText(error)});
  }
  return library;
}

// Loads the library, calls its registration function and tells the user why it failed.
bool RegisterWithReport(const CUnicodeString& path, const char* functionName) {
  Msi::CustomActionLog() << L"callRegistrationProcess - " << path << L"\r\n";
  auto fail = [&](const wchar_t* reason) {
    Vrn::ShowMessageText(CUnicodeString::FromUtf8(functionName) + reason + L"\nfile \"" + path + L"\"",
                         Vrn::ApplicationTitle(), MB_ICONERROR);
    return false;
  };
  if (!Vrn::FileExists(path)) return fail(L" failed on AccessFile");
  const Vrn::CModuleHandle library(::LoadLibraryW(Vrn::Checked(path, Vrn::kPathLimit)));
  Msi::CustomActionLog() << L"callRegistrationProcess 1 - " << path << L"\r\n";
  const auto function = library.IsValid() ? Export<RegistrationFunction>(library.Get(), functionName) : nullptr;
  if (!function) return fail(L" failed on GetProcAddress");
  if (function() != S_OK) return fail(L" failed on (proc() != S_OK)");
  Msi::CustomActionLog() << L"callRegistrationProcess 2 - " << path << L"\r\n";
  return true;
}

// Calls the registration function and logs why it failed.
bool RegisterWithLog(const CUnicodeString& path, const char* functionName) {
  Msi::CustomActionLog() << L"callRegistrationProcess filePath=" << path << L"\r\n";
  if (!Vrn::FileExists(path)) {
    Msi::CustomActionLog() << L"callRegistrationProcess file not found\r\n";
    return false;
  }
  const Vrn::CModuleHandle library = LoadRegistrationLibrary(path);
  const auto function = Export<RegistrationFunction>(library.Get(), functionName);
  if (!function) {
    Msi::CustomActionLog() << L"callRegistrationProcess ERROR :bad address 1\r\n";
    return false;
  }
  if (function() != S_OK) {
    Msi::CustomActionLog() << L"callRegistrationProcess ERROR :bad address 2\r\n";
    return false;
  }
  return true;
}

// DllInstall(install, no command line); every failure is silent.
bool CallDllInstall(const CUnicodeString& path, bool install) {
  if (!Vrn::FileExists(path)) return false;
  const Vrn::CModuleHandle library = LoadRegistrationLibrary(path);
  const auto function = Export<InstallFunction>(library.Get(), "DllInstall");
  return function && function(install ? TRUE : FALSE, nullptr) == S_OK;
}

// The path in double quotes, so that a folder with blanks still names one program.
CUnicodeString Quoted(const CUnicodeString& path) { return L"\"" + path + L"\""; }

// Starts "<path>" /unregserver through the shell without waiting.
bool StartUnregisterServer(const CUnicodeString& path) {
  return Msi::ShellOpener().Open({{}, Quoted(path), L"/unregserver", SW_SHOWDEFAULT});
}

UINT SelfRegisterFiles(MSIHANDLE session, bool registering) {
  const wchar_t* actionName = registering ? L"SelfRegistration" : L"SelfUnregistration";
  Msi::CustomActionLog() << actionName << L"\r\n\r\n";
  const CUnicodeString directory = Msi::GetRequiredProperty(session, L"Directory");
  const CUnicodeString files = Msi::GetRequiredProperty(session, L"Files");
  const std::vector<CUnicodeString> names = Msi::SplitQuotedList(files, L',');
  for (size_t index = 0; index < names.size(); ++index) {
    const CUnicodeString& name = names[index];
    if (registering) {
      CUnicodeString remaining;
      for (size_t rest = index; rest < names.size(); ++rest) remaining += (rest > index ? L"," : L"") + names[rest];
      Msi::CustomActionLog() << L"SelfRegistration - " << remaining << L"\r\n";
      Msi::CustomActionLog() << L"SelfRegistration - " << name << L"\r\n";
    }
    const CUnicodeString path = Vrn::JoinPath(directory, name);
    bool ok;
    if (HasExtension(name, L".dll") || HasExtension(name, L".ocx"))
      ok = RegisterWithReport(path, registering ? "DllRegisterServer" : "DllUnregisterServer");
    else if (HasExtension(name, L".exe"))
      ok = registering ? !Msi::RunCommandLine(Quoted(path), L"/regserver") : StartUnregisterServer(path);
    else
      Vrn::Check(false);  // not a kind of file that registers itself
    if (!ok) return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

UINT ForEachRegistrationFile(MSIHANDLE session, const std::function<bool(const CUnicodeString&)>& call) {
  for (const CUnicodeString& path : RegistrationPaths(session))
    if (!call(path)) return ERROR_INSTALL_FAILURE;
  return ERROR_SUCCESS;
}

UINT SelfRegistrationBody(MSIHANDLE session) { return SelfRegisterFiles(session, true); }
UINT SelfUnregistrationBody(MSIHANDLE session) { return SelfRegisterFiles(session, false); }
UINT CallDllRegisterServerBody(MSIHANDLE session) {
  return ForEachRegistrationFile(session,
                                 [](const CUnicodeString& path) { return RegisterWithLog(path, "DllRegisterServer"); });
}
UINT CallDllUnregisterServerBody(MSIHANDLE session) {
  return ForEachRegistrationFile(
      session, [](const CUnicodeString& path) { return RegisterWithLog(path, "DllUnregisterServer"); });
}
UINT CallDllInstallTrueBody(MSIHANDLE session) {
  return ForEachRegistrationFile(session, [](const CUnicodeString& path) { return CallDllInstall(path, true); });
}
UINT CallDllInstallFalseBody(MSIHANDLE session) {
  return ForEachRegistrationFile(session, [](const CUnicodeString& path) { return CallDllInstall(path, false); });
}

// ---- TCP acknowledgement frequency ----

constexpr wchar_t kInterfacesPath[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";
constexpr wchar_t kAckFrequency[] = L"TcpAckFrequency";

// Opens every interface subkey in turn (none when the interfaces key cannot be read) and hands it
// to `visit`, stopping when it answers false. A subkey that cannot be opened logs "Warning:" and
// the complaint and stops. True when every subkey was visited and accepted.
bool ForEachInterface(Vrn::RegistryMode mode, const wchar_t* complaint,
                      const std::function<bool(Vrn::CRegistryKey&)>& visit) {
  Vrn::CRegistryKey interfaces;
  std::vector<CUnicodeString> names;
  if (interfaces.Open(HKEY_LOCAL_MACHINE, kInterfacesPath, Vrn::RegistryMode::Read, Vrn::RegistryView::Sixty4))
    interfaces.EnumerateSubKeys(names);
  for (const CUnicodeString& name : names) {
    Vrn::CRegistryKey key;
    if (!key.Open(interfaces, name, mode)) {
      Msi::CustomActionLog()
          << L"Warning:" << complaint
          << L" subkey of HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces.\r\n";
      return false;
    }
    if (!visit(key)) return false;
  }
  return true;
}

bool AckFrequencyIsOne(const Vrn::CRegistryKey& key) {
  DWORD value = 0;
  return key.ValueType(kAckFrequency) == REG_DWORD &&
         key.ReadRaw(kAckFrequency, &value, sizeof(value)) == sizeof(value) && value == 1;
}

UINT IsTcpAckFrequencyNeedBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"IsTcpAckFrequencyNeed\r\n\r\n";
  const bool allAtOne = ForEachInterface(Vrn::RegistryMode::Read, L"Could not read value TcpAckFrequency from",
                                         [](Vrn::CRegistryKey& key) { return AckFrequencyIsOne(key); });
  Msi::SetProperty(session, L"IS_TAFNEED", allAtOne ? L"0" : L"1");
  return ERROR_SUCCESS;
}

UINT SetTcpAckFrequencyBody(MSIHANDLE) {
  Msi::CustomActionLog() << L"SetTcpAckFrequency\r\n\r\n";
  ForEachInterface(Vrn::RegistryMode::Write, L"Could not write value TcpAckFrequency to", [](Vrn::CRegistryKey& key) {
    key.WriteDword(kAckFrequency, 1);
    return true;
  });
  return ERROR_SUCCESS;
}

}  // namespace

ORV_ACTION(SelfRegistration, SelfRegistrationBody, .reads = L"Directory Files")
ORV_ACTION(SelfUnregistration, SelfUnregistrationBody, .reads = L"Directory Files")
ORV_ACTION(CallDllRegisterServer, CallDllRegisterServerBody, .reads = L"Directory Files")
ORV_ACTION(CallDllUnregisterServer, CallDllUnregisterServerBody, .reads = L"Directory Files")
ORV_ACTION(CallDllInstallTrue, CallDllInstallTrueBody, .reads = L"Directory Files")
ORV_ACTION(CallDllInstallFalse, CallDllInstallFalseBody, .reads = L"Directory Files")
ORV_ACTION(IsTcpAckFrequencyNeed, IsTcpAckFrequencyNeedBody)
ORV_ACTION(SetTcpAckFrequency, SetTcpAckFrequencyBody)
