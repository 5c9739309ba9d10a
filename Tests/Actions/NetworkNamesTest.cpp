// The real network-name services under Wine, time-limited: a local path has no universal name, and
// the DFS lookup reports itself missing (Wine's NetDfsGetInfo ends the process).
#include "ChildProcessTest.h"
#include "NetworkNames.h"
#include "PathOperations.h"

TIMED_CHILD_TEST(NetworkNamesReal, LocalPathsAndDfsUnderWine, 30000) {
  Msi::CNetworkNames real;
  char buffer[520];
  DWORD size = sizeof buffer;
  EXPECT_NE(real.UniversalNameW(L"C:\\windows", 2, buffer, &size), static_cast<DWORD>(NO_ERROR));
  size = sizeof buffer;
  EXPECT_NE(real.UniversalNameA("C:\\windows", 2, buffer, &size), static_cast<DWORD>(NO_ERROR));
  std::vector<Msi::CDfsStorage> storages;
  EXPECT_EQ(real.DfsStorages(L"\\\\corp\\dfs", storages), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // The operations over the real services.
  EXPECT_FALSE(Msi::GetUniversalName(L"C:\\windows"));
  EXPECT_FALSE(Msi::ResolveDfsPath(L"\\\\corp\\dfs\\x"));
  EXPECT_TRUE(Msi::IsPathOnThisComputer(L"C:\\windows"));
}
