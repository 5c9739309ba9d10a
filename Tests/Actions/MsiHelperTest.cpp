// The session facade against a real installer session: property reads and writes with their log
// lines, CustomActionData parsing, text expansion, paths, feature and component states.

#include "ActionTest.h"
#include "MsiHelper.h"

using namespace Msi;
using TestSupport::CatchRaised;
using Vrn::CInternalError;

class MsiHelperTest : public ::testing::Test {
 protected:
  TestSupport::CTestPackage package;
};

TEST(CustomActionData, ItemsEntitiesQuotesAndMalformedData) {
  constexpr const wchar_t* kMalformed = L"<internal error>";
  // expected null: no match
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
      {L"A=1;B=x&amp;;C=y", L"B", L"x&amp;"},  // the ";" ending an entity does not split
      {L"A=x&nbsp;;B=2", L"A", L"x&nbsp;"},
      {L"C=\"p;q\";D=2", L"C", L"p;q"},
      {L"Q=\"", L"Q", L"\""},
      {L"A=1;a=2", L"A", L"2"},  // last match wins, any case
      {L"P=a=b", L"P", L"a=b"},
      {L" A = 1 ", L" A ", L" 1 "},  // nothing is trimmed
      {L" A = 1 ", L"A", nullptr},
      {L"A=1;B=x&amp;;y", L"A", kMalformed},  // "y" has no "="
      {L"A=1;;B=2", L"A", kMalformed}};       // an empty item
  for (const auto& [data, key, expected] : cases) {
    SCOPED_TRACE(CUnicodeString(data) + L" / " + key);
    std::optional<CUnicodeString> value;
    const bool raised = Vrn::Caught([&] { value = ParseCustomActionData(data, key); }) != nullptr;
    EXPECT_EQ(raised, expected == kMalformed);
    if (!raised) {
      EXPECT_EQ(value.value_or(L"<none>"), expected ? expected : L"<none>");
    }
  }
}

// Trimming and writing back are HiddenPropertiesTest's (with the masked log lines); paths and
// component states are the actions' (SetTargetDirBin, Get_TARGET_PATH, the table actions).
TEST_F(MsiHelperTest, ReadsGrowAndWhatIsNotThereIsRefused) {
  package.AddProperty(L"LONG", CUnicodeString(300, L'x'));  // past the first 256-character try
  package.AddProperty(L"CustomActionData", L"A=1");
  const MSIHANDLE session = package.Open(true);
  EXPECT_EQ(ReadPropertyRaw(session, L"LONG"), CUnicodeString(300, L'x'));
  EXPECT_EQ(GetProperty(session, L"MISSING"), L"");
  EXPECT_EQ(package.LogText(), L"Property( MISSING ) : \r\n");
  // CustomActionData outside a deferred run, and directories the package does not have.
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { FindCustomActionDataValue(session, L"A"); }));
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { SetTargetPath(session, L"NO_SUCH_DIR", L"C:\\x"); }));
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { GetSourcePath(session, L"NO_SUCH_DIR"); }));
}

TEST_F(MsiHelperTest, SilentAndBoolReads) {
  const std::pair<const wchar_t*, bool> cases[] = {{L"", false},    {L"no", false}, {L"0", false},
                                                   {L"True", true}, {L"00", true},  {L"0 ", true}};
  const MSIHANDLE session = package.Open();
  for (const auto& [value, expected] : cases) {
    package.SetProperty(L"FLAG", value);
    EXPECT_EQ(GetBoolProperty(session, L"FLAG"), expected) << "'" << value << "'";
  }
  EXPECT_EQ(GetPropertySilent(session, L"FLAG"), L"0 ");  // untrimmed, not written back
  EXPECT_EQ(GetPropertySilent(0, L"FLAG"), L"");          // the failure is only logged
  const CUnicodeString log = package.LogText();
  EXPECT_TRUE(log.StartsWith(L"GetBoolProperty : FLAG\r\nGetPropertySilent : FLAG\r\nGetBoolProperty")) << log;
  EXPECT_EQ(log.Find(L"Set "), CUnicodeString::npos);
}

TEST_F(MsiHelperTest, SettersLogAndReportRefusals) {
  const MSIHANDLE session = package.Open();
  SetProperty(session, L"A", L"1");
  SetPropertySilent(session, L"B", L"2");
  SetPropertyNoLog(session, L"C", L"3");
  EXPECT_EQ(package.Property(L"A") + package.Property(L"B") + package.Property(L"C"), L"123");
  // The installer refuses a value for a property without a name.
  SetPropertySilent(session, L"", L"x");
  SetPropertyNoLog(session, L"", L"y");
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { SetProperty(session, L"", L"z"); }));
  const CUnicodeString code = CUnicodeString::FromUInt(MsiSetPropertyW(session, L"", L"x"));
  EXPECT_EQ(package.LogText(), L"Set A = 1\r\nSet B = 2\r\nSet  = x\r\n  ERROR: " + code + L"\r\n  ERROR: " + code +
                                   L"\r\nSet  = z\r\n  ERROR:" + code + L"\r\n");
}

TEST_F(MsiHelperTest, FlushTextExpandsReferences) {
  package.AddProperties(L"WHERE=C:\\App|OUTER=<[WHERE]>|SELF=[SELF]");
  const MSIHANDLE session = package.Open();
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"Install [ProductName] to [WHERE]", L"Install Test Product to C:\\App"},
      {L"empty [NOTHING] here", L"empty ## here"},
      {L"a ]b[ c", L"a ]b[ c"},
      {L"nested [OUTER]", L"nested <C:\\App>"},
      {L"[SELF]", L"[SELF]"},  // ends after kFlushTextMaxReplacements
  };
  for (const auto& [input, expected] : cases) {
    CUnicodeString text = input;
    FlushText(session, text);
    EXPECT_EQ(text, expected) << input;
  }
}
