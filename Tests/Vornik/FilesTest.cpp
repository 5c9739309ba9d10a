// Tests of the core file services in a private temporary folder.

#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "CoreFixtures.h"
#include "Files.h"
#include "TestSupport.h"

namespace {

using TestSupport::CatchRaised;
using Vrn::CFile;
using Vrn::CUnicodeString;
using Vrn::FileCause;

class FilesTest : public ::testing::Test {
 protected:
  CUnicodeString Make(const CUnicodeString& relative, const std::string& bytes = "x") {
    const CUnicodeString path = m_folder / relative;
    Vrn::CreateDirectoryWithParents(path.Left(path.ReverseFind(L'\\')));
    TestSupport::WriteBytes(path, bytes);
    return path;
  }

  TestSupport::CTempFolder m_folder;
};

TEST_F(FilesTest, FailuresRaiseFileExceptionsWithTheCauseAndPath) {
  Make(L"full\\file.txt");
  Make(L"blocker");
  const std::tuple<const wchar_t*, std::function<void(const CUnicodeString&)>, FileCause> cases[] = {
      {L"missing.txt", [](const CUnicodeString& p) { CFile(p, CFile::OpenMode::Read); }, FileCause::NotFound},
      {L"nowhere\\file.txt", [](const CUnicodeString& p) { CFile(p, CFile::OpenMode::CreateAlways); },
       FileCause::BadPath},
      {L"full", [](const CUnicodeString& p) { Vrn::RemoveFolder(p); }, FileCause::DirNotEmpty},
      {L"blocker", [](const CUnicodeString& p) { Vrn::CreateDirectoryWithParents(p); }, FileCause::AlreadyExists},
  };
  for (const auto& [relative, action, cause] : cases) {
    const CUnicodeString path = m_folder / relative;
    SCOPED_TRACE(path.ToUtf8());
    const auto raised = CatchRaised<Vrn::CFileException>([&] { action(path); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->Cause(), cause);
    EXPECT_EQ(raised->FileName(), path);
  }
}

TEST_F(FilesTest, ExistenceTests) {
  const CUnicodeString folder = m_folder / L"sub";
  const std::tuple<CUnicodeString, bool, bool, bool> cases[] = {
      // path, exists, is a file, is a folder
      {Make(L"sub\\file.txt"), true, true, false}, {folder, true, false, true},
      {folder + L"\\", false, false, true},  // the search needs a name; the attribute query does not
      {folder + L"\\*.txt", true, true, false},    {L"", false, false, false},
  };
  for (const auto& [path, exists, isFile, isDirectory] : cases) {
    SCOPED_TRACE(path.ToUtf8());
    EXPECT_EQ(Vrn::PathExists(path), exists);
    EXPECT_EQ(Vrn::FileExists(path), isFile);
    EXPECT_EQ(Vrn::DirectoryExists(path), isDirectory);
  }
}

TEST_F(FilesTest, CreatesFoldersWithParentsAndRemovesTreesWithProtectedFiles) {
  for (const CUnicodeString& path : {m_folder / L"a\\b\\c\\", m_folder / L"a/b/d", m_folder / L"a\\b\\c"}) {
    Vrn::CreateDirectoryWithParents(path);
    EXPECT_TRUE(Vrn::DirectoryExists(path)) << path.ToUtf8();
  }
  SetFileAttributesW(Make(L"a\\b\\c\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(Make(L"a\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  Vrn::RemoveFolder(m_folder / L"a", true);
  EXPECT_FALSE(Vrn::PathExists(m_folder / L"a"));
}

TEST_F(FilesTest, ListsChosenEntriesSortedWithoutRegardToCase) {
  Make(L"b.txt", "12345");
  Make(L"A.txt");
  Make(L"c.log");
  Make(L"Sub\\deep.txt");
  SetFileAttributesW(Make(L"h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  const std::tuple<const wchar_t*, unsigned, std::vector<std::wstring>> cases[] = {
      {L"*", Vrn::ListFiles, {L"A.txt", L"b.txt", L"c.log"}},
      {L"*", Vrn::ListDirectories, {L"Sub"}},
      {L"*", Vrn::ListAll, {L"A.txt", L"b.txt", L"c.log", L"h.txt", L"Sub"}},
      {L"*.txt", Vrn::ListFiles | Vrn::ListRecursive, {L"A.txt", L"b.txt", L"deep.txt"}},
  };
  for (const auto& [pattern, flags, expected] : cases) {
    std::vector<std::wstring> names;
    for (const auto& entry : Vrn::ListDirectory(m_folder.Path(), pattern, flags)) {
      names.push_back(entry.name.ToStdString());
      if (entry.name == L"b.txt") {
        EXPECT_EQ(entry.size, 5u);
      } else if (entry.name == L"deep.txt") {
        EXPECT_EQ(entry.fullPath, m_folder / L"Sub\\deep.txt");
      }
    }
    EXPECT_EQ(names, expected) << flags;
  }
  EXPECT_TRUE(Vrn::ListDirectory(m_folder / L"missing").empty());
}

TEST_F(FilesTest, TextFilesRoundTripWithTheirByteOrderMarks) {
  const std::wstring text = L"Gr\u00FC\u00DFe \u4E2D\r\n";
  const std::tuple<unsigned, std::wstring, std::string> cases[] = {
      {1200, text, std::string("\xFF\xFEG\0r\0\xFC\0\xDF\0e\0 \0\x2D\x4E\r\0\n\0", 20)},
      {1201, text, std::string("\xFE\xFF\0G\0r\0\xFC\0\xDF\0e\0 \x4E\x2D\0\r\0\n", 20)},
      {CP_UTF8, text,
       "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
       "e \xE4\xB8\xAD\r\n"},
      {1252, L"Gr\u00FC\u00DFe",
       "Gr\xFC\xDF"
       "e"},
  };
  const CUnicodeString path = m_folder / L"text.txt";
  for (const auto& [codePage, written, bytes] : cases) {
    SCOPED_TRACE(codePage);
    TestSupport::WriteBytes(path, "stale content that must go");
    Vrn::WriteTextFile(path, written, codePage);
    EXPECT_EQ(TestSupport::ReadBytes(path), bytes);
    unsigned detected = 0;
    // The default only matters without a mark.
    EXPECT_EQ(Vrn::ReadTextFile(path, codePage == 1252 ? 1252 : 437, &detected).ToStdString(), written);
    EXPECT_EQ(detected, codePage);
  }
  TestSupport::WriteBytes(path, "\xFF\xFE\x41");  // a dangling odd byte is not lost silently
  EXPECT_EQ(Vrn::ReadTextFile(path).ToStdString(), L"\uFFFD");
}

TEST_F(FilesTest, UniqueTemporaryFilesInAFolderOrTheTemporaryDirectory) {
  Vrn::SetTemporaryDirectory(m_folder.Path());
  const CUnicodeString first = Vrn::CreateUniqueTempFile(L"Test", L"tmp");
  Vrn::SetTemporaryDirectory(L"");
  const CUnicodeString second = Vrn::CreateUniqueTempFile(L"Test", L".tmp", m_folder.Path());
  EXPECT_NE(first, second);
  for (const CUnicodeString& path : {first, second}) {
    EXPECT_TRUE(path.StartsWith((m_folder / L"Test").View()) && path.EndsWith(L".tmp") && !path.EndsWith(L"..tmp"))
        << path.ToUtf8();
    EXPECT_EQ(TestSupport::ReadBytes(path), "");
  }
  const CUnicodeString missing = m_folder / L"missing";
  const auto raised = CatchRaised<Vrn::CCheckException>([&] { Vrn::CreateUniqueTempFile(L"x", L"tmp", missing); });
  ASSERT_TRUE(raised);
  EXPECT_EQ(raised->Name(), L"ERR_CREATE_TEMP_FILE");
  EXPECT_EQ(raised->Params(), std::vector<CUnicodeString>{missing});
}

// Temporary files made on several threads at once: every name is new, every file is there, and the
// last stop of the library removes every one of them.
TEST_F(FilesTest, UniqueTemporaryFilesOnSeveralThreads) {
  constexpr int kRounds = 100, kThreads = 4, kFiles = 10;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::vector<CUnicodeString>> made(kThreads);
    {
      const TestSupport::CStartedLibrary library;
      std::vector<std::thread> threads;
      for (auto& files : made)
        threads.emplace_back([&] {
          for (int i = 0; i < kFiles; ++i) files.push_back(Vrn::CreateUniqueTempFile(L"Par", L"tmp", m_folder.Path()));
        });
      for (std::thread& thread : threads) thread.join();
      std::set<std::wstring> names;
      for (const auto& files : made)
        for (const CUnicodeString& path : files) names.insert(Vrn::FileExists(path) ? path.ToStdString() : L"");
      ASSERT_EQ(names.size(), size_t{kThreads * kFiles}) << "round " << round;
      ASSERT_EQ(names.count(L""), 0u) << "round " << round;
    }
    ASSERT_TRUE(Vrn::ListDirectory(m_folder.Path(), L"Par*").empty()) << "round " << round;
  }
}

TEST(FreeSpace, IsInKiBCappedAndRaisesWhenTheQueryFails) {
  static std::wstring asked;
  static uint64_t available;
  const auto previous = Vrn::SetFreeSpaceQuery([](const wchar_t* path, uint64_t& bytes) {
    asked = path;
    bytes = available;
    if (available == 0) SetLastError(ERROR_NOT_READY);
    return available != 0;
  });
  const std::pair<uint64_t, uint32_t> cases[] = {{5000, 4}, {0x1FFFFFFFFC00ull, 0x7FFFFFFFu}, {~0ull, 0x7FFFFFFFu}};
  for (const auto& [bytes, kib] : cases) {
    available = bytes;
    EXPECT_EQ(Vrn::FreeSpaceKiB(L"C:/Program Files/x"), kib) << bytes;
  }
  EXPECT_EQ(asked, L"C:\\Program Files\\x");
  available = 0;
  const auto raised = CatchRaised<Vrn::CLastErrorException>([] { Vrn::FreeSpaceKiB(L"A:\\"); });
  Vrn::SetFreeSpaceQuery(previous);
  ASSERT_TRUE(raised);
  EXPECT_EQ(raised->Code(), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_GT(Vrn::FreeSpaceKiB(L"C:\\windows"), 0u);
}

}  // namespace
