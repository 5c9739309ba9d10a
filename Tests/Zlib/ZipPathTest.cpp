// Entry path normalisation and the containment guard. The traversal, rooted, drive, UNC, empty-step,
// stream and device names that the hostile corpus carries are not repeated here.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ZipPath.h"
#include "ZipTestSupport.h"

namespace {

using Zlib::CZipArchiveException;

TEST(ZipPath, LegalPathsAreRewrittenToForwardSlashes) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"a\\b\\c.txt", L"a/b/c.txt"},
      {L"./a/b", L"a/b"},
      {L".\\a", L"a"},
      {L"dir\\", L"dir/"},
      {L".hidden/.x", L".hidden/.x"},
      {L"a..b/c...d", L"a..b/c...d"},
      {L"console.txt/com10/lpt", L"console.txt/com10/lpt"},
      {L"\u00fcber/\u65e5\u672c.txt", L"\u00fcber/\u65e5\u672c.txt"}};
  for (const auto& [path, normalised] : cases) EXPECT_EQ(Zlib::NormalizeEntryPath(path, L"t.zip"), normalised);
}

TEST(ZipPath, RefusesEveryPathThatCouldLeaveTheDestination) {
  const std::wstring_view cases[] = {
      L".",       L"./",  L"..",      L"./../x", L"a\\..\\..\\b", L"c:/a",      L"\\\\.\\pipe\\x", L"a/b.",    L"a/b ",
      L"a\x01/b", L"CON", L"nul.txt", L"Aux/x",  L"com1.log",     L"COM\u00b9", L"LPT9",           L"conout$", L"a<b",
      L"a>b",     L"a|b", L"a?b",     L"a*b",    L"a\"b"};
  for (const std::wstring_view path : cases) {
    SCOPED_TRACE(testing::Message() << Vrn::CUnicodeString(path).ToUtf8());
    const auto e = Vrn::Caught([&] { Zlib::NormalizeEntryPath(path, L"t.zip"); });
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
    const auto e = Vrn::Caught([&] { Zlib::TargetPath(temp.Path(), escape, L"t.zip", escape); });
    EXPECT_EQ(ZipTest::ZipCode(e), CZipArchiveException::IllegalPath) << Vrn::CUnicodeString(escape).ToUtf8();
  }
}

}  // namespace
