// The real network-name services over Mpr.dll (WNetGetUniversalName) and Netapi32.dll (NetDfsGetInfo),
// both looked up at run time so that a system without them still loads the library.
#include "NetworkNames.h"

#include <lm.h>
#include <lmdfs.h>

#include "Handle.h"

namespace Msi {

namespace {

using UniversalNameFunctionW = DWORD(WINAPI*)(LPCWSTR path, DWORD level, LPVOID buffer, LPDWORD size);
using UniversalNameFunctionA = DWORD(WINAPI*)(LPCSTR path, DWORD level, LPVOID buffer, LPDWORD size);
using DfsGetInfoFunction = NET_API_STATUS(WINAPI*)(LPWSTR path, LPWSTR server, LPWSTR share, DWORD level,
                                                   LPBYTE* buffer);
using BufferFreeFunction = NET_API_STATUS(WINAPI*)(LPVOID buffer);

constexpr DWORD kDfsInfoLevel = 3;

// The address of an export as the function type F, or null.
template <class F>
F FindExport(HMODULE module, const char* name) {
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

// Calls the universal-name function of Mpr.dll by its export name.
template <class F, class Char>
DWORD CallUniversalName(const char* exportName, const Char* localPath, DWORD infoLevel, void* buffer,
                        DWORD* bufferSize) {
  const Vrn::CModuleHandle mpr(::LoadLibraryW(L"Mpr.dll"));
  const F function = FindExport<F>(mpr.Get(), exportName);
  return function ? function(localPath, infoLevel, buffer, bufferSize) : ERROR_PROC_NOT_FOUND;
}

// Wine exports NetDfsGetInfo as an unimplemented stub whose first call ends the process (and with
// it the installer's custom-action server), so under Wine the function counts as missing.
bool IsUnimplementedUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

DWORD CNetworkNames::UniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer, DWORD* bufferSize) {
  return CallUniversalName<UniversalNameFunctionW>("WNetGetUniversalNameW", localPath, infoLevel, buffer, bufferSize);
}

DWORD CNetworkNames::UniversalNameA(const char* localPath, DWORD infoLevel, void* buffer, DWORD* bufferSize) {
  return CallUniversalName<UniversalNameFunctionA>("WNetGetUniversalNameA", localPath, infoLevel, buffer, bufferSize);
}

DWORD CNetworkNames::DfsStorages(const wchar_t* dfsPath, std::vector<CDfsStorage>& storages) {
  storages.clear();
  Vrn::CModuleHandle netapi(::LoadLibraryW(L"Netapi32.dll"));
  if (!netapi) return ERROR_MOD_NOT_FOUND;
  const auto getInfo = FindExport<DfsGetInfoFunction>(netapi.Get(), "NetDfsGetInfo");
  const auto freeBuffer = FindExport<BufferFreeFunction>(netapi.Get(), "NetApiBufferFree");
  if (!getInfo || !freeBuffer || IsUnimplementedUnderWine()) return ERROR_PROC_NOT_FOUND;
  Vrn::CUnicodeString path(dfsPath);
  LPBYTE buffer = nullptr;
  const NET_API_STATUS status = getInfo(path.GetBuffer(path.Length()), nullptr, nullptr, kDfsInfoLevel, &buffer);
  if (status == NERR_Success && buffer) {
    const auto* info = reinterpret_cast<const DFS_INFO_3*>(buffer);
    for (DWORD i = 0; i < info->NumberOfStorages; ++i)
      storages.push_back({info->Storage[i].State, info->Storage[i].ServerName, info->Storage[i].ShareName});
  }
  if (buffer) freeBuffer(buffer);
  return status;
}

}  // namespace Msi
