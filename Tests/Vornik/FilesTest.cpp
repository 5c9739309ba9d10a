// Tests of the core file services in a private temporary folder.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

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
  struct Case {
    const char* label;
    CUnicodeString path;
    std::function<void(const CUnicodeString&)> action;
    FileCause cause;
  };
  const Case cases[] = {
      {"open a missing file", m_folder / L"missing.txt",
       [](const CUnicodeString& p) { CFile(p, CFile::OpenMode::Read); }, FileCause::NotFound},
      {"open in a missing folder", m_folder / L"nowhere\\file.txt",
       [](const CUnicodeString& p) { CFile(p, CFile::OpenMode::CreateAlways); }, FileCause::BadPath},
      {"remove a folder that is not empty", m_folder / L"full", [](const CUnicodeString& p) { Vrn::RemoveFolder(p); },
       FileCause::DirNotEmpty},
      {"create a folder where a file is", m_folder / L"blocker",
       [](const CUnicodeString& p) { Vrn::CreateDirectoryWithParents(p); }, FileCause::AlreadyExists},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto raised = CatchRaised<Vrn::CFileException>([&] { c.action(c.path); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->Cause(), c.cause);
    EXPECT_EQ(raised->FileName(), c.path);
  }
}

TEST_F(FilesTest, ExistenceTests) {
  const CUnicodeString file = Make(L"sub\\file.txt");
  const CUnicodeString folder = m_folder / L"sub";
  struct Case {
    CUnicodeString path;
    bool exists, isFile, isDirectory;
  };
  const Case cases[] = {
      {file, true, true, false},
      {folder, true, false, true},
      {folder + L"\\", false, false, true},  // the search needs a name; the attribute query does not
      {m_folder / L"sub\\*.txt", true, true, false},
      {m_folder / L"missing\\file.txt", false, false, false},
      {L"C:\\", false, false, true},
      {L"", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.ToUtf8());
    EXPECT_EQ(Vrn::PathExists(c.path), c.exists);
    EXPECT_EQ(Vrn::FileExists(c.path), c.isFile);
    EXPECT_EQ(Vrn::DirectoryExists(c.path), c.isDirectory);
  }
}

TEST_F(FilesTest, CreatesFoldersWithParentsAndRemovesTrees) {
  for (const CUnicodeString& path : {m_folder / L"a\\b\\c\\", m_folder / L"a/b/d", m_folder / L"a\\b\\c"}) {
    SCOPED_TRACE(path.ToUtf8());
    Vrn::CreateDirectoryWithParents(path);
    EXPECT_TRUE(Vrn::DirectoryExists(path));
  }
  const CUnicodeString readOnly = Make(L"a\\b\\c\\locked.txt");
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(Make(L"a\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);

  Vrn::RemoveFolder(m_folder / L"a\\b\\d");
  EXPECT_FALSE(Vrn::PathExists(m_folder / L"a\\b\\d"));
  Vrn::RemoveFolder(m_folder / L"a", true);
  EXPECT_FALSE(Vrn::PathExists(m_folder / L"a"));
}

std::vector<std::wstring> Names(const std::vector<Vrn::CDirectoryEntry>& entries) {
  std::vector<std::wstring> names;
  for (const auto& entry : entries) names.push_back(entry.name.ToStdString());
  return names;
}

TEST_F(FilesTest, ListsChosenEntriesSortedWithoutRegardToCase) {
  Make(L"b.txt", "12345");
  Make(L"A.txt");
  Make(L"c.log");
  Make(L"Sub\\deep.txt");
  SetFileAttributesW(Make(L"h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  struct Case {
    const wchar_t* pattern;
    unsigned flags;
    std::vector<std::wstring> names;
  };
  const Case cases[] = {
      {L"*", Vrn::ListFiles, {L"A.txt", L"b.txt", L"c.log"}},
      {L"*", Vrn::ListDirectories, {L"Sub"}},
      {L"*", Vrn::ListAll, {L"A.txt", L"b.txt", L"c.log", L"h.txt", L"Sub"}},
      {L"*.txt", Vrn::ListFiles, {L"A.txt", L"b.txt"}},
      {L"*.txt", Vrn::ListFiles | Vrn::ListRecursive, {L"A.txt", L"b.txt", L"deep.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.flags << " " << CUnicodeString(c.pattern).ToUtf8());
    EXPECT_EQ(Names(Vrn::ListDirectory(m_folder.Path(), c.pattern, c.flags)), c.names);
  }

  const auto entries = Vrn::ListDirectory(m_folder.Path(), L"*", Vrn::ListAll | Vrn::ListRecursive);
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries[1].fullPath, m_folder / L"b.txt");
  EXPECT_EQ(entries[1].size, 5u);
  EXPECT_EQ(entries[5].fullPath, m_folder / L"Sub\\deep.txt");

  EXPECT_TRUE(Vrn::ListDirectory(m_folder / L"missing").empty());
}

TEST_F(FilesTest, TextFilesRoundTripWithTheirByteOrderMarks) {
  const std::wstring text = L"Gr\u00FC\u00DFe \u4E2D\r\n";
  struct Case {
    unsigned codePage;
    std::wstring text;
    std::string bytes;
  };
  const Case cases[] = {
      {1200, text,
       std::string("\xFF\xFEG\0r\0\xFC\0\xDF\0"
                   "e\0 \0\x2D\x4E\r\0\n\0",
                   20)},
      {1201, text, std::string("\xFE\xFF\0G\0r\0\xFC\0\xDF\0e\0 \x4E\x2D\0\r\0\n", 20)},
      {CP_UTF8, text,
       "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
       "e \xE4\xB8\xAD\r\n"},
      {1252, L"Gr\u00FC\u00DFe",
       "Gr\xFC\xDF"
       "e"},
  };
  const CUnicodeString path = m_folder / L"text.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    TestSupport::WriteBytes(path, "stale content that must go");
    Vrn::WriteTextFile(path, c.text, c.codePage);
    EXPECT_EQ(TestSupport::ReadBytes(path), c.bytes);
    unsigned detected = 0;
    // The default only matters without a mark.
    EXPECT_EQ(Vrn::ReadTextFile(path, c.codePage == 1252 ? 1252 : 437, &detected).ToStdString(), c.text);
    EXPECT_EQ(detected, c.codePage);
  }

  TestSupport::WriteBytes(path, "\xFF\xFE\x41");  // a dangling odd byte is not lost silently
  EXPECT_EQ(Vrn::ReadTextFile(path).ToStdString(), L"\uFFFD");
  TestSupport::WriteBytes(path, "\xE9t\xE9");
  EXPECT_EQ(Vrn::ReadTextFile(path, 1252).ToStdString(), L"\u00E9t\u00E9");
}

TEST_F(FilesTest, UniqueTemporaryFilesInAFolderOrTheTemporaryDirectory) {
  const CUnicodeString first = Vrn::CreateUniqueTempFile(L"Test", L"tmp", m_folder.Path());
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

  wchar_t system[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, system);
  EXPECT_EQ(Vrn::TemporaryDirectory(), system);
  Vrn::SetTemporaryDirectory(m_folder.Path());
  const CUnicodeString inSetting = Vrn::CreateUniqueTempFile(L"out", L"iis");
  Vrn::SetTemporaryDirectory(L"");
  EXPECT_TRUE(inSetting.StartsWith((m_folder / L"out").View()));
  EXPECT_EQ(Vrn::TemporaryDirectory(), system);
}

TEST(FreeSpace, IsInKiBCappedAndRaisesWhenTheQueryFails) {
  struct CQueryOverride {
    explicit CQueryOverride(Vrn::FreeSpaceQuery query) : previous(Vrn::SetFreeSpaceQuery(query)) {}
    ~CQueryOverride() { Vrn::SetFreeSpaceQuery(previous); }
    Vrn::FreeSpaceQuery previous;
  };
  static std::wstring asked;
  static uint64_t available;
  {
    CQueryOverride fake([](const wchar_t* path, uint64_t& bytes) {
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
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->Code(), static_cast<DWORD>(ERROR_NOT_READY));
  }
  EXPECT_GT(Vrn::FreeSpaceKiB(L"C:\\windows"), 0u);
  EXPECT_TRUE(CatchRaised<Vrn::CLastErrorException>([] { Vrn::FreeSpaceKiB(L"C:\\no such folder\\x"); }));
}

TEST(JoinPath, PutsExactlyOneBackslashBetweenTheParts) {
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\a", L"b.txt", L"C:\\a\\b.txt"},
      {L"C:\\a\\", L"b", L"C:\\a\\b"},
      {L"C:\\a\\\\", L"\\\\b", L"C:\\a\\b"},
      {L"C:\\a/", L"/b\\c", L"C:\\a\\b\\c"},
      {L"C:", L"b", L"C:\\b"},
      {L"", L"b", L"b"},
      {L"a", L"", L"a\\"},
  };
  for (const auto& [first, second, joined] : cases)
    EXPECT_EQ(Vrn::JoinPath(first, second).ToStdString(), joined) << first << " + " << second;
  EXPECT_EQ(Vrn::WithTrailingSeparator(L"C:\\a"), L"C:\\a\\");
  EXPECT_EQ(Vrn::WithTrailingSeparator(L"C:/"), L"C:/");
  EXPECT_EQ(Vrn::WithTrailingSeparator(L""), L"");
}

}  // namespace
