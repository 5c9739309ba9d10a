// The shared path operations: kinds of path texts, universal names with their retry and ANSI
// fallback, DFS resolution, host parts and "on this computer".

#include "ActionTest.h"
#include "Errors.h"
#include "FakeNetworkNames.h"
#include "PathOperations.h"

using Msi::PathType;
using Vrn::CUnicodeString;

namespace {

CUnicodeString ThisComputer() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  EXPECT_TRUE(::GetComputerNameW(name, &length));
  return CUnicodeString(name, length);
}

}  // namespace

class PathOperationsTest : public ::testing::Test {
 protected:
  TestSupport::CFakeNetworkNames names;
  Msi::CNetworkNamesOverride seam{names};
};

TEST_F(PathOperationsTest, UniversalNames) {
  const std::wstring longName = L"\\\\srv\\" + std::wstring(600, L'x');  // beyond the first 520 bytes
  names.wideNames = {{L"M:\\app", L"\\\\srv\\share\\app"}, {L"L:\\", longName}};
  names.ansiNames = {{"N:\\old", "\\\\legacy\\share\\old"}};
  EXPECT_EQ(Msi::GetUniversalName(L"M:\\app"), CUnicodeString(L"\\\\srv\\share\\app"));
  EXPECT_EQ(Msi::GetUniversalName(L"L:\\"), CUnicodeString(longName));
  // The wide function fails; the ANSI one answers.
  EXPECT_EQ(Msi::GetUniversalName(L"N:\\old"), CUnicodeString(L"\\\\legacy\\share\\old"));
  EXPECT_FALSE(Msi::GetUniversalName(L"C:\\local"));
  // A UNC path is not asked about.
  names.universalCalls = 0;
  EXPECT_FALSE(Msi::GetUniversalName(L"\\\\srv\\share"));
  EXPECT_EQ(names.universalCalls, 0);
  // A buffer still too small after growing once is an internal error.
  names.neverEnoughRoom = true;
  EXPECT_TRUE(TestSupport::CatchRaised<Vrn::CInternalError>([] { Msi::GetUniversalName(L"M:\\app"); }));
  EXPECT_EQ(names.universalCalls, 2);
}

TEST_F(PathOperationsTest, DfsResolutionCutsComponents) {
  names.dfsLinks = {{L"\\\\corp\\dfs\\apps", {{1, L"offline", L"x"}, {2, L"fs2", L"apps$"}, {2, L"fs3", L"apps"}}}};
  EXPECT_EQ(Msi::ResolveDfsPath(L"\\\\corp\\dfs\\apps\\v1\\bin"), CUnicodeString(L"\\\\fs2\\apps$\\v1\\bin"));
  EXPECT_EQ(names.dfsQueries, (std::vector<std::wstring>{L"\\\\corp\\dfs\\apps\\v1\\bin", L"\\\\corp\\dfs\\apps\\v1",
                                                         L"\\\\corp\\dfs\\apps"}));
  EXPECT_EQ(Msi::ResolveDfsPath(L"\\\\corp\\dfs\\apps\\"), CUnicodeString(L"\\\\fs2\\apps$\\"));
  // No prefix is a link: every prefix down to the empty one is asked about.
  names.dfsQueries.clear();
  EXPECT_FALSE(Msi::ResolveDfsPath(L"\\\\corp\\other"));
  EXPECT_EQ(names.dfsQueries, (std::vector<std::wstring>{L"\\\\corp\\other", L"\\\\corp", L"\\"}));
  // Not UNC: nothing asked; no lookup on the system: one question only.
  names.dfsQueries.clear();
  EXPECT_FALSE(Msi::ResolveDfsPath(L"C:\\corp\\dfs\\apps"));
  EXPECT_TRUE(names.dfsQueries.empty());
  names.dfsAvailable = false;
  EXPECT_FALSE(Msi::ResolveDfsPath(L"\\\\corp\\dfs\\apps"));
  EXPECT_EQ(names.dfsQueries.size(), 1u);
}

TEST_F(PathOperationsTest, PathOnThisComputer) {
  CUnicodeString lower = ThisComputer();
  lower.MakeLowerAscii();
  names.wideNames = {{L"M:\\app", L"\\\\elsewhere\\share"},
                     {L"H:\\", (L"\\\\" + lower + L"\\home").ToStdString()},
                     {L"D:\\dfs", L"\\\\corp\\dfs\\x"}};
  names.dfsLinks = {{L"\\\\corp\\dfs", {{2, lower.ToStdString(), L"share"}}}};
  const std::tuple<CUnicodeString, bool> cases[] = {
      {L"C:\\Program Files", true},
      {L"", true},
      {L"\\\\", true},
      {L"\\\\" + ThisComputer() + L"\\share", true},
      {L"\\\\" + lower + L".corp\\s", true},
      {L"\\\\elsewhere\\share", false},
      {L"M:\\app", false},
      {L"H:\\", true},
      {L"D:\\dfs", true},  // mapped to a DFS path whose storage is on this computer
  };
  for (const auto& [path, local] : cases) EXPECT_EQ(Msi::IsPathOnThisComputer(path), local) << path;
}
