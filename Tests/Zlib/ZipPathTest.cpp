// Entry path normalisation: what is accepted and how it is rewritten, and every refused form.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ZipPath.h"
#include "ZipTestSupport.h"

namespace {

using Zlib::CZipArchiveException;

struct CLegalCase {
  const wchar_t* path;
  const wchar_t* normalised;
};

TEST(ZipPath, LegalPathsAreRewrittenToForwardSlashes) {
  const CLegalCase cases[] = {
      {L"a.txt", L"a.txt"},
      {L"a\\b\\c.txt", L"a/b/c.txt"},
      {L"./a/b", L"a/b"},
      {L".\\a", L"a"},
      {L"dir/", L"dir/"},
      {L"dir\\", L"dir/"},
      {L".hidden/.x", L".hidden/.x"},
      {L"a..b/c...d", L"a..b/c...d"},
      {L"console.txt/com10/lpt", L"console.txt/com10/lpt"},
      {L"\u00fcber/\u65e5\u672c.txt", L"\u00fcber/\u65e5\u672c.txt"},
  };
  for (const CLegalCase& c : cases) {
    SCOPED_TRACE(testing::Message() << Vrn::CUnicodeString(c.path).ToUtf8());
    EXPECT_EQ(Zlib::NormalizeEntryPath(c.path, L"t.zip"), c.normalised);
  }
}

TEST(ZipPath, RefusesEveryPathThatCouldLeaveTheDestination) {
  const std::wstring_view cases[] = {
      L"",
      L".",
      L"./",
      L"..",
      L"../a",
      L"..\\a",
      L"a/../b",
      L"a/..",
      L"a\\..\\..\\b",
      L"./../x",
      L"/a",
      L"\\a",
      L"C:a",
      L"c:/a",
      L"C:\\a",
      L"\\\\srv\\s\\a",
      L"//srv/s/a",
      L"\\\\?\\C:\\a",
      L"\\\\.\\pipe\\x",
      L"a./b",
      L"a.\\b",
      L"a /b",
      L"a/b.",
      L"a/b ",
      L"a//b",
      L"a:b",
      L"a\x01"
      L"b",
      std::wstring_view(L"a\0b", 3),
      L"CON",
      L"nul.txt",
      L"Aux/x",
      L"com1.log",
      L"COM\u00b9",
      L"LPT9",
      L"conout$",
      L"a<b",
      L"a>b",
      L"a|b",
      L"a?b",
      L"a*b",
      L"a\"b",
  };
  for (const std::wstring_view path : cases) {
    SCOPED_TRACE(testing::Message() << Vrn::CUnicodeString(path).ToUtf8());
    const auto e = ZipTest::Capture([&] { Zlib::NormalizeEntryPath(path, L"t.zip"); });
    ASSERT_EQ(ZipTest::ZipCode(e), CZipArchiveException::IllegalPath);
    EXPECT_EQ(static_cast<const CZipArchiveException&>(*e).EntryName(), path);
  }
}

TEST(ZipPath, TargetPathStaysInsideTheDestination) {
  TestSupport::CTempFolder temp;
  EXPECT_EQ(Zlib::TargetPath(temp.Path(), L"a/b.txt", L"t.zip", L"a/b.txt"), temp / L"a\\b.txt");
  EXPECT_EQ(Zlib::TargetPath(temp.Path() + L"\\", L"dir/", L"t.zip", L"dir/"), temp / L"dir");
  // The last guard holds even for a path that never went through normalisation.
  for (const wchar_t* escape : {L"../x", L"a/../../x", L"..", L"."}) {
    SCOPED_TRACE(testing::Message() << Vrn::CUnicodeString(escape).ToUtf8());
    EXPECT_EQ(ZipTest::ZipCode(ZipTest::Capture([&] { Zlib::TargetPath(temp.Path(), escape, L"t.zip", escape); })),
              CZipArchiveException::IllegalPath);
  }
}

}  // namespace
