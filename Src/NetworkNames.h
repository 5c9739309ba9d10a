// Network-name services: the universal (UNC) name behind a mapped path and the storages of a DFS
// link. Both are reached through CNetworkNames so that tests can give a UNC name or a DFS target
// where the machine has no network (Wine's WNetGetUniversalName always fails, and its
// NetDfsGetInfo ends the process).
#pragma once

#include <vector>

#include "Seam.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Msi {

// One storage of a DFS link: its state (DFS_STORAGE_STATE_ONLINE is 2) and where it lives.
struct CDfsStorage {
  ULONG state = 0;
  Vrn::CUnicodeString server;
  Vrn::CUnicodeString share;
};

// The real implementation calls Windows; tests derive from it and install their fake with
// CNetworkNamesOverride.
class CNetworkNames {
 public:
  virtual ~CNetworkNames() = default;
  // WNetGetUniversalNameW / WNetGetUniversalNameA with the given information level: the Windows
  // result (ERROR_MORE_DATA puts the needed size into *bufferSize).
  virtual DWORD UniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer, DWORD* bufferSize);
  virtual DWORD UniversalNameA(const char* localPath, DWORD infoLevel, void* buffer, DWORD* bufferSize);
  // NetDfsGetInfo at level 3 for the path (no server, no share), looked up in Netapi32.dll at run
  // time: NERR_Success with the link's storages in order, ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND
  // when the function is not there, or the function's own error.
  virtual DWORD DfsStorages(const wchar_t* dfsPath, std::vector<CDfsStorage>& storages);
};

// The implementation in use (the real one unless a test replaced it).
inline CNetworkNames& NetworkNames() noexcept { return Vrn::CSeam<CNetworkNames>::Current(); }
using CNetworkNamesOverride = Vrn::CSeam<CNetworkNames>::COverride;

}  // namespace Msi
