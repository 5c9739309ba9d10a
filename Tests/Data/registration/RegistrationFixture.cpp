// A COM-style library for the self-registration tests. Every entry point appends
// "<own file name> <entry>" to calls.txt beside the library and returns the HRESULT written in
// "<own file name>.result" beside it (S_OK when there is none).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HMODULE g_self = nullptr;

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(g_self, path, MAX_PATH);
  return path;
}

HRESULT Record(const char* entry) {
  const std::wstring path = OwnPath();
  const size_t slash = path.find_last_of(L'\\');
  const std::wstring folder = path.substr(0, slash + 1);
  const std::wstring name = path.substr(slash + 1);
  if (FILE* calls = _wfopen((folder + L"calls.txt").c_str(), L"ab")) {
    std::fprintf(calls, "%ls %s\n", name.c_str(), entry);
    std::fclose(calls);
  }
  long result = S_OK;
  if (FILE* chosen = _wfopen((path + L".result").c_str(), L"rb")) {
    if (std::fscanf(chosen, "%ld", &result) != 1) result = S_OK;
    std::fclose(chosen);
  }
  return static_cast<HRESULT>(result);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() { return Record("DllRegisterServer"); }
extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() { return Record("DllUnregisterServer"); }
extern "C" __declspec(dllexport) HRESULT __stdcall DllInstall(BOOL install, const wchar_t* commandLine) {
  return Record(install ? (commandLine ? "DllInstall(true, line)" : "DllInstall(true)")
                        : (commandLine ? "DllInstall(false, line)" : "DllInstall(false)"));
}
