// The shared removal and copy service: path splitting, the guard against removing a drive root or a
// system folder, and the copy that resets a refusing destination and tries again. Linked folders:
// CreateSymbolicLinkW makes nothing under Wine 8, so Tests/EndToEnd/removal-install uses Unix links.
#include <gtest/gtest.h>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "FileOperations.h"
#include "FileTestSupport.h"
#include "SessionTestSupport.h"
#include "TestSupport.h"

using FileTests::Exists;
using FileTests::WriteText;
using Vrn::CUnicodeString;

TEST(FileOperations, SplitsPathsAsWindowsDoes) {
  const struct {
    const wchar_t *path, *folder, *name, *folderWithoutDrive;
  } cases[] = {
      {L"C:\\a\\b.txt", L"C:\\a\\", L"b.txt", L"\\a\\"},
      {L"C:\\a\\b\\", L"C:\\a\\b\\", L"", L"\\a\\b\\"},
      {L"C:b.txt", L"C:", L"b.txt", L""},
      {L"\\\\srv\\share\\x.msi", L"\\\\srv\\share\\", L"x.msi", L"\\\\srv\\share\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Msi::PathFolderPart(c.path), c.folder) << Vrn::CUnicodeString(c.path);
    EXPECT_EQ(Msi::PathNamePart(c.path), c.name) << Vrn::CUnicodeString(c.path);
    EXPECT_EQ(Msi::PathFolderWithoutDrive(c.path), c.folderWithoutDrive) << Vrn::CUnicodeString(c.path);
  }
  EXPECT_EQ(Msi::SplitList(L"|a||b|", L'|'), (std::vector<CUnicodeString>{L"a", L"b"}));
}

// Only the check runs here: nothing is ever removed with these paths.
TEST(FileOperations, GuardRefusesRootsAndSystemFolders) {
  TestSupport::CStartedLibrary library;
  wchar_t windows[MAX_PATH], system[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  GetSystemDirectoryW(system, MAX_PATH);
  const CUnicodeString refused[] = {
      L"", L"C:\\", L"\\", CUnicodeString(windows) + L"\\", system, L"c:\\PROGRAM FILES (x86)\\", L"C:\\windows\\..\\"};
  for (const CUnicodeString& path : refused)
    EXPECT_TRUE(TestSupport::CatchRaised<Vrn::CInternalError>([&] { Msi::CheckRemovableTree(path); })) << path;
  TestSupport::CTempFolder folder;
  EXPECT_FALSE(TestSupport::CatchVrn([&] { Msi::CheckRemovableTree(folder.Path()); }));
  EXPECT_FALSE(TestSupport::CatchVrn([&] { Msi::CheckRemovableTree(L"C:\\Program Files\\Vendor"); }));
}

namespace {

// Windows refuses to copy over a read-only or hidden file; root under Wine does not.
void CopyRefusingProtectedDestination(const Vrn::CWriteRoot& root, const CUnicodeString& source,
                                      const CUnicodeString& destination) {
  const DWORD attributes = GetFileAttributesW(destination.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)))
    Vrn::Raise<Vrn::CFileException>(ERROR_ACCESS_DENIED, destination);
  root.CopyInto(source, destination);
}

}  // namespace

TEST(FileOperations, CopyResetsARefusingDestinationAndTriesAgain) {
  TestSupport::CStartedLibrary library;
  Msi::CFileCopyOverride seam(CopyRefusingProtectedDestination);
  TestSupport::CTempFolder folder;
  WriteText(folder / L"new.txt", "new");
  WriteText(folder / L"old.txt", "old");
  SetFileAttributesW((folder / L"old.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  const Vrn::CWriteRoot root(folder.Path());
  EXPECT_FALSE(TestSupport::CatchVrn([&] { Msi::CopyFileReplacing(root, folder / L"new.txt", folder / L"old.txt"); }));
  EXPECT_EQ(TestSupport::ReadBytes(folder / L"old.txt"), "new");
  // A source that is gone: the copy raises and leaves no destination behind.
  EXPECT_TRUE(TestSupport::CatchRaised<Vrn::CFileException>(
      [&] { Msi::CopyFileReplacing(root, folder / L"gone.txt", folder / L"copy.txt"); }));
  EXPECT_FALSE(Exists(folder / L"copy.txt"));
}

// The real copy call, time-limited.
TIMED_CHILD_TEST(FileOperationsReal, CopiesAFile, 60000) {
  TestSupport::CStartedLibrary library;
  TestSupport::CTempFolder folder;
  WriteText(folder / L"a.txt", "alpha");
  WriteText(folder / L"b.txt", "stale");
  Msi::CopyFileReplacing(Vrn::CWriteRoot(folder.Path()), folder / L"a.txt", folder / L"b.txt");
  EXPECT_EQ(TestSupport::ReadBytes(folder / L"b.txt"), "alpha");
}

// Names outside the ANSI code page and paths beyond 260 characters are copied and removed whole.
TEST(FileOperations, CopiesAndRemovesUnicodeNamesAndLongPaths) {
  TestSupport::CStartedLibrary library;
  TestSupport::CTempFolder source, destination;
  CUnicodeString deep = source / L"\u0434\u0430\u043d\u043d\u044b\u0435 \u65e5\u672c";
  while (deep.Length() < 300) deep += L"\\" + CUnicodeString(40, L'd');
  WriteText(deep + L"\\\u0444\u0430\u0439\u043b.txt", "deep");
  const std::vector<Vrn::CDirectoryEntry> entries = Msi::SearchFolder(source.Path(), L"*");
  ASSERT_EQ(entries.size(), 1u);
  Msi::CopyEntry(Vrn::CWriteRoot(destination.Path()), entries[0], destination.Path());
  const CUnicodeString copied = destination.Path() + deep.Mid(source.Path().Length());
  EXPECT_EQ(TestSupport::ReadBytes(copied + L"\\\u0444\u0430\u0439\u043b.txt"), "deep");
  Msi::RemoveEntryTrees(Msi::SearchFolder(destination.Path(), L"*"));
  EXPECT_TRUE(Msi::SearchFolder(destination.Path(), L"*").empty());
}
