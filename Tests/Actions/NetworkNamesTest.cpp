// The real network-name services under Wine, in a child process with a time limit: the universal
// name of a local path fails, and the DFS lookup reports itself missing instead of being called
// (Wine's NetDfsGetInfo ends the process).
#include <gtest/gtest.h>

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
