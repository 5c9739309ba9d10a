// The shared removal and copy service: path splitting, the guard against roots and system folders,
// the copy that resets a refusing destination. Linked folders are Tests/EndToEnd/removal-install's.

#include "ActionTest.h"
#include "FileOperations.h"

using namespace TestSupport;

TEST(FileOperations, SplitsPathsAsWindowsDoes) {
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\a\\b.txt", L"C:\\a\\", L"b.txt", L"\\a\\"},
      {L"C:\\a\\b\\", L"C:\\a\\b\\", L"", L"\\a\\b\\"},
      {L"C:b.txt", L"C:", L"b.txt", L""},
      {L"\\\\srv\\share\\x.msi", L"\\\\srv\\share\\", L"x.msi", L"\\\\srv\\share\\"},
  };
  for (const auto& [path, folder, name, folderWithoutDrive] : cases) {
    EXPECT_EQ(Msi::PathFolderPart(path), folder) << Vrn::CUnicodeString(path);
    EXPECT_EQ(Msi::PathNamePart(path), name) << Vrn::CUnicodeString(path);
    EXPECT_EQ(Msi::PathFolderWithoutDrive(path), folderWithoutDrive) << Vrn::CUnicodeString(path);
  }
  EXPECT_EQ(Msi::SplitList(L"|a||b|", L'|'), (std::vector<CUnicodeString>{L"a", L"b"}));
}

// Only the check runs here: nothing is ever removed with these paths.
TEST(FileOperations, GuardRefusesRootsAndSystemFolders) {
  CStartedLibrary library;
  wchar_t windows[MAX_PATH], system[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  GetSystemDirectoryW(system, MAX_PATH);
  const CUnicodeString refused[] = {
      L"", L"C:\\", L"\\", CUnicodeString(windows) + L"\\", system, L"c:\\PROGRAM FILES (x86)\\", L"C:\\windows\\..\\"};
  for (const CUnicodeString& path : refused)
    EXPECT_TRUE(CatchRaised<Vrn::CInternalError>([&] { Msi::CheckRemovableTree(path); })) << path;
  CTempFolder folder;
  EXPECT_FALSE(Vrn::Caught([&] { Msi::CheckRemovableTree(folder.Path()); }));
  EXPECT_FALSE(Vrn::Caught([&] { Msi::CheckRemovableTree(L"C:\\Program Files\\Vendor"); }));
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
  CStartedLibrary library;
  Msi::CFileCopyOverride seam(CopyRefusingProtectedDestination);
  CTempFolder folder;
  WriteText(folder / L"new.txt", "new");
  WriteText(folder / L"old.txt", "old");
  SetFileAttributesW((folder / L"old.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  const Vrn::CWriteRoot root(folder.Path());
  EXPECT_FALSE(Vrn::Caught([&] { Msi::CopyFileReplacing(root, folder / L"new.txt", folder / L"old.txt"); }));
  EXPECT_EQ(ReadBytes(folder / L"old.txt"), "new");
  // A source that is gone: the copy raises and leaves no destination behind.
  EXPECT_TRUE(CatchRaised<Vrn::CFileException>(
      [&] { Msi::CopyFileReplacing(root, folder / L"gone.txt", folder / L"copy.txt"); }));
  EXPECT_FALSE(Exists(folder / L"copy.txt"));
}

// Names outside the ANSI code page and paths beyond 260 characters are copied and removed whole.
TEST(FileOperations, CopiesAndRemovesUnicodeNamesAndLongPaths) {
  CStartedLibrary library;
  CTempFolder source, destination;
  CUnicodeString deep = source / L"\u0434\u0430\u043d\u043d\u044b\u0435 \u65e5\u672c";
  while (deep.Length() < 300) deep += L"\\" + CUnicodeString(40, L'd');
  WriteText(deep + L"\\\u0444\u0430\u0439\u043b.txt", "deep");
  const std::vector<Vrn::CDirectoryEntry> entries = Msi::SearchFolder(source.Path(), L"*");
  ASSERT_EQ(entries.size(), 1u);
  Msi::CopyEntry(Vrn::CWriteRoot(destination.Path()), entries[0], destination.Path());
  const CUnicodeString copied = destination.Path() + deep.Mid(source.Path().Length());
  EXPECT_EQ(ReadBytes(copied + L"\\\u0444\u0430\u0439\u043b.txt"), "deep");
  Msi::RemoveEntryTrees(Msi::SearchFolder(destination.Path(), L"*"));
  EXPECT_TRUE(Msi::SearchFolder(destination.Path(), L"*").empty());
}
