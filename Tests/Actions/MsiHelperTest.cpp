// The session facade against a real installer session: property reads and writes with their log
// lines, CustomActionData parsing, text expansion, paths, feature and component states, messages.
#include <gtest/gtest.h>

#include <functional>

#include "CoreFixtures.h"
#include "MsiHelper.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"

using namespace Msi;
using TestSupport::CatchRaised;
using Vrn::CInternalError;

using SessionTests::ActionLog;
using SessionTests::Utf8;

namespace {

CUnicodeString Hex(MSIHANDLE session) { return SessionTests::HandleText(session); }

}  // namespace

class MsiHelperTest : public ::testing::Test {
 protected:
  TestSupport::CTestPackage package;
};

// ---- CustomActionData ----

TEST(CustomActionData, ParsesItemsEntitiesAndQuotes) {
  const struct {
    const wchar_t* data;
    const wchar_t* key;
    const wchar_t* expected;  // null: no match
  } cases[] = {
      {L"A=1;B=x&amp;;C=y", L"B", L"x&amp;"},  // the ";" of an entity does not split
      {L"A=1;B=x&amp;;C=y", L"C", L"y"},
      {L"A=x&nbsp;;B=2", L"A", L"x&nbsp;"},
      {L"A=x&amp;", L"A", L"x&amp;"},  // data ending with an entity keeps its last item
      {L"C=\"p;q\";D=2", L"C", L"p;q"},
      {L"C=\"p;q\";D=2", L"D", L"2"},
      {L"A=\"x\";B=\"y\"", L"B", L"y"},
      {L"Q=\"", L"Q", L"\""},    // one quote is not a quoted value
      {L"A=1;a=2", L"A", L"2"},  // last match wins, any case
      {L"P=a=b", L"P", L"a=b"},
      {L" A = 1 ", L" A ", L" 1 "},  // keys and values are not trimmed
      {L" A = 1 ", L"A", nullptr},
      {L"A=1;", L"A", L"1"},
      {L"A=1", L"B", nullptr},
      {L"", L"A", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<CUnicodeString> value = ParseCustomActionData(c.data, c.key);
    SCOPED_TRACE(Utf8(CUnicodeString(c.data) + L" / " + c.key));
    ASSERT_EQ(value.has_value(), c.expected != nullptr);
    if (c.expected) {
      EXPECT_EQ(*value, c.expected);
    }
  }
}

TEST(CustomActionData, MalformedDataIsAnInternalError) {
  // After an entity the next ";" splits, so "y" is an item without "=".
  for (const wchar_t* data : {L"A=1;B=x&amp;;y", L"A=1;;B=2", L"A=1;B", L";A=1", L"A"}) {
    SCOPED_TRACE(Utf8(data));
    EXPECT_TRUE(CatchRaised<CInternalError>([&] { ParseCustomActionData(data, L"A"); }));
  }
}

TEST_F(MsiHelperTest, CustomActionDataOutsideAScriptRunIsAnInternalError) {
  package.AddProperty(L"CustomActionData", L"A=1");
  const MSIHANDLE session = package.Open();
  EXPECT_FALSE(IsScriptMode(session));
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { GetCustomActionDataValue(session, L"A"); }));
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { FindCustomActionDataValue(session, L"A"); }));
}

// ---- Properties ----

TEST_F(MsiHelperTest, GetPropertyTrimsAndWritesBack) {
  package.AddProperty(L"PADDED", L"  C:\\Some Path  ");
  package.AddProperty(L"PLAIN", L"C:\\Other");
  const MSIHANDLE session = package.Open();
  EXPECT_EQ(GetProperty(session, L"PADDED"), L"C:\\Some Path");
  EXPECT_EQ(package.Property(L"PADDED"), L"C:\\Some Path");
  EXPECT_EQ(GetProperty(session, L"PLAIN"), L"C:\\Other");
  EXPECT_EQ(GetProperty(session, L"MISSING"), L"");
  EXPECT_EQ(ActionLog(package),
            L"Property( PADDED ) :   C:\\Some Path  \r\n"
            L"Set PADDED = C:\\Some Path\r\n"
            L"Property( PLAIN ) : C:\\Other\r\n"
            L"Property( MISSING ) : \r\n");
}

TEST_F(MsiHelperTest, LongValuesAreReadWhole) {
  const size_t lengths[] = {255, 256, 257, 5000};
  for (size_t length : lengths)
    package.AddProperty(L"P" + CUnicodeString::FromUInt(length), CUnicodeString(length, L'x'));
  const MSIHANDLE session = package.Open();
  for (size_t length : lengths)
    EXPECT_EQ(ReadPropertyRaw(session, L"P" + CUnicodeString::FromUInt(length)), CUnicodeString(length, L'x'))
        << length;
}

TEST_F(MsiHelperTest, GetPropertySilentNeverRaises) {
  package.AddProperty(L"RAW", L" v ");
  const MSIHANDLE session = package.Open();
  EXPECT_EQ(GetPropertySilent(session, L"RAW"), L" v ");  // untrimmed, not written back
  EXPECT_EQ(GetPropertySilent(0, L"RAW"), L"");
  const CUnicodeString log = ActionLog(package);
  EXPECT_TRUE(log.StartsWith(L"GetPropertySilent : RAW\r\nGetPropertySilent : RAW\r\nGetPropertySilent ERROR:"))
      << Utf8(log);
  EXPECT_TRUE(log.EndsWith(L"\r\n\r\n"));
  EXPECT_EQ(log.Find(L"Set "), CUnicodeString::npos);
}

TEST_F(MsiHelperTest, BoolPropertyIsTrueUnlessEmptyNoOrZero) {
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"", false},   {L"No", false},  {L"no", false}, {L"NO", false}, {L"0", false},  {L"1", true},
      {L"yes", true}, {L"True", true}, {L"00", true},  {L"0 ", true},  {L"No ", true}, {L"off", true},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    if (*cases[i].first) package.AddProperty(L"B" + CUnicodeString::FromUInt(i), cases[i].first);
  const MSIHANDLE session = package.Open();
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(GetBoolProperty(session, L"B" + CUnicodeString::FromUInt(i)), cases[i].second)
        << "'" << Utf8(cases[i].first) << "'";
  EXPECT_TRUE(ActionLog(package).StartsWith(L"GetBoolProperty : B0\r\nGetPropertySilent : B0\r\nGetBoolProperty : B1"));
}

TEST_F(MsiHelperTest, SettersLogAndReportRefusals) {
  const MSIHANDLE session = package.Open();
  SetProperty(session, L"A", L"1");
  SetPropertySilent(session, L"B", L"2");
  SetPropertyNoLog(session, L"C", L"3");
  EXPECT_EQ(package.Property(L"A"), L"1");
  EXPECT_EQ(package.Property(L"B"), L"2");
  EXPECT_EQ(package.Property(L"C"), L"3");
  EXPECT_EQ(ActionLog(package), L"Set A = 1\r\nSet B = 2\r\n");

  // The installer refuses a property without a name.
  SetPropertySilent(session, L"", L"x");
  SetPropertyNoLog(session, L"", L"y");
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { SetProperty(session, L"", L"z"); }));
  const UINT refusal = MsiSetPropertyW(session, L"", L"x");
  ASSERT_NE(refusal, 0u);
  const CUnicodeString code = CUnicodeString::FromUInt(refusal);
  EXPECT_EQ(ActionLog(package), L"Set A = 1\r\nSet B = 2\r\nSet  = x\r\n  ERROR: " + code + L"\r\n  ERROR: " + code +
                                    L"\r\nSet  = z\r\n  ERROR:" + code + L"\r\n");
}

TEST_F(MsiHelperTest, ANullSessionIsAnInternalError) {
  CUnicodeString text = L"[A]";
  const std::pair<const char*, std::function<void()>> operations[] = {
      {"ReadPropertyRaw", [] { ReadPropertyRaw(0, L"A"); }},
      {"GetProperty", [] { GetProperty(0, L"A"); }},
      {"SetProperty", [] { SetProperty(0, L"A", L"1"); }},
      {"SetPropertySilent", [] { SetPropertySilent(0, L"A", L"1"); }},
      {"SetPropertyNoLog", [] { SetPropertyNoLog(0, L"A", L"1"); }},
      {"FlushText", [&] { FlushText(0, text); }},
      {"GetTargetPath", [] { GetTargetPath(0, L"TARGETDIR"); }},
      {"SetTargetPath", [] { SetTargetPath(0, L"TARGETDIR", L"C:\\x"); }},
      {"GetSourcePath", [] { GetSourcePath(0, L"TARGETDIR"); }},
      {"QueryFeatureState", [] { QueryFeatureState(0, L"Main"); }},
      {"ChangeFeatureState", [] { ChangeFeatureState(0, L"Main", INSTALLSTATE_LOCAL); }},
      {"ShowInstallerError", [] { ShowInstallerError(0, L"text"); }},
      {"SetCancelButton", [] { SetCancelButton(0, false); }},
      {"SendProgress", [] { SendProgress(0, 0, 0, 0, 0); }},
  };
  for (const auto& [name, operation] : operations) EXPECT_TRUE(CatchRaised<CInternalError>(operation)) << name;
}

// ---- FlushText ----

TEST_F(MsiHelperTest, FlushTextExpandsReferences) {
  package.AddProperty(L"WHERE", L"C:\\App");
  package.AddProperty(L"OUTER", L"<[INNER]>");
  package.AddProperty(L"INNER", L"in");
  package.AddProperty(L"SELF", L"[SELF]");
  const MSIHANDLE session = package.Open();
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"Install [ProductName] to [WHERE]", L"Install Test Product to C:\\App"},
      {L"empty [NOTHING] here", L"empty ## here"},
      {L"a ]b[ c", L"a ]b[ c"},
      {L"no references", L"no references"},
      {L"nested [OUTER]", L"nested <in>"},
      {L"[SELF]", L"[SELF]"},  // stops after kFlushTextMaxReplacements
  };
  for (const auto& [input, expected] : cases) {
    CUnicodeString text = input;
    FlushText(session, text);
    EXPECT_EQ(text, expected) << Utf8(input);
  }
}

TEST_F(MsiHelperTest, FlushTextLogsTheTextAndEachRead) {
  package.AddProperty(L"WHERE", L"C:\\App");
  const MSIHANDLE session = package.Open();
  CUnicodeString text = L"to [WHERE]";
  FlushText(session, text);
  EXPECT_EQ(ActionLog(package), L"FlushText to [WHERE]\r\n\r\nProperty( WHERE ) : C:\\App\r\n");
}

TEST_F(MsiHelperTest, ProductLanguage) {
  const MSIHANDLE session = package.Open();
  EXPECT_EQ(GetProductLanguage(session), 1033);
  package.SetProperty(L"ProductLanguage", L"1049x");
  EXPECT_EQ(GetProductLanguage(session), 0);
  package.SetProperty(L"ProductLanguage", L"66585");  // 0x10419: the low 16 bits count
  EXPECT_EQ(GetProductLanguage(session), 0x0419);
}

// ---- Paths ----

TEST_F(MsiHelperTest, TargetAndSourcePaths) {
  const MSIHANDLE session = package.Open(true);
  const CUnicodeString target = GetTargetPath(session, L"INSTALLDIR");
  EXPECT_TRUE(target.EndsWith(L"\\TestApp\\")) << Utf8(target);
  EXPECT_EQ(GetTargetPath(session, L"NO_SUCH_DIR"), L"");
  EXPECT_EQ(ActionLog(package), L"MsiGetTargetPath( " + Hex(session) + L", INSTALLDIR ) \r\n  ret=0  path='" + target +
                                    L"' \r\n\r\nMsiGetTargetPath( " + Hex(session) +
                                    L", NO_SUCH_DIR ) \r\n  ERROR:\r\n  ret=267  path='' \r\n\r\n");

  SetTargetPath(session, L"INSTALLDIR", L"C:\\Elsewhere");
  EXPECT_EQ(GetTargetPath(session, L"INSTALLDIR"), L"C:\\Elsewhere\\");
  EXPECT_NE(ActionLog(package).Find(L"SetTargetPath ret=0\r\n\r\n"), CUnicodeString::npos);
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { SetTargetPath(session, L"NO_SUCH_DIR", L"C:\\x"); }));

  const CUnicodeString folder = package.DatabasePath().Left(package.DatabasePath().ReverseFind(L'\\') + 1);
  EXPECT_TRUE(GetSourcePath(session, L"TARGETDIR").EqualsNoCase(folder));
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { GetSourcePath(session, L"NO_SUCH_DIR"); }));
}

// ---- Features and components ----

class FeatureStateTest : public MsiHelperTest {
 protected:
  void SetUp() override {
    package.AddFeature(L"Main");
    package.AddComponent(L"MainComp", L"Main");
    package.AddComponent(L"RemovedComp", L"Main");
    package.AddFeature(L"Off", 0);
    package.AddComponent(L"OffComp", L"Off");
    session = package.Open(true);
  }
  MSIHANDLE session = 0;
};

TEST_F(FeatureStateTest, QueryLogsBothStates) {
  const CFeatureState main = QueryFeatureState(session, L"Main");
  EXPECT_EQ(main.installed, INSTALLSTATE_ABSENT);
  EXPECT_EQ(main.action, INSTALLSTATE_LOCAL);
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { QueryFeatureState(session, L"Nowhere"); }));
  EXPECT_EQ(ActionLog(package), L"MsiGetFeatureState( " + Hex(session) +
                                    L", Main ) \r\n  ret=0  piInstalled='INSTALLSTATE_ABSENT'  "
                                    L"piAction='INSTALLSTATE_LOCAL' \r\n\r\nMsiGetFeatureState( " +
                                    Hex(session) +
                                    L", Nowhere ) \r\n  ERROR:\r\n  ret=1606  piInstalled='INSTALLSTATE_UNKNOWN'  "
                                    L"piAction='INSTALLSTATE_UNKNOWN' \r\n\r\n");
}

TEST_F(FeatureStateTest, ChangeLogsAndRaisesOnRefusal) {
  ChangeFeatureState(session, L"Main", INSTALLSTATE_ABSENT);
  EXPECT_EQ(QueryFeatureState(session, L"Main").action, INSTALLSTATE_ABSENT);
  EXPECT_TRUE(ActionLog(package).StartsWith(L"MsiSetFeatureState( " + Hex(session) +
                                            L", Main, INSTALLSTATE_ABSENT ) \r\n  ret=0\r\n\r\n"));
  EXPECT_TRUE(CatchRaised<CInternalError>([&] { ChangeFeatureState(session, L"Nowhere", INSTALLSTATE_LOCAL); }));
  EXPECT_NE(ActionLog(package).Find(L", Nowhere, INSTALLSTATE_LOCAL ) \r\n  ERROR:\r\n  ret=1606\r\n\r\n"),
            CUnicodeString::npos);
}

TEST_F(FeatureStateTest, ComponentPredicates) {
  // A fresh install: MainComp goes to the local disk, OffComp (feature level 0) gets no action.
  // Removal needs an installed component; the installer lets a session ask for it directly.
  ASSERT_EQ(MsiSetComponentStateW(session, L"RemovedComp", INSTALLSTATE_ABSENT), 0u);
  const struct {
    const wchar_t* component;
    bool installed, removed, local;
  } cases[] = {
      {L"MainComp", true, false, true},
      {L"OffComp", false, false, false},
      {L"RemovedComp", false, true, false},
      {L"NoSuchComp", false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComponentWillBeInstalled(session, c.component), c.installed) << Utf8(c.component);
    EXPECT_EQ(ComponentWillBeRemoved(session, c.component), c.removed) << Utf8(c.component);
    EXPECT_EQ(ComponentWillBeLocal(session, c.component), c.local) << Utf8(c.component);
  }
  EXPECT_EQ(ActionLog(package),
            L"MainComp - 3\r\nMainComp - 3\r\nMainComp - 3\r\nOffComp - -1\r\nOffComp - -1\r\nOffComp - -1\r\n"
            L"RemovedComp - 2\r\nRemovedComp - 2\r\nRemovedComp - 2\r\n");
}

// ---- Products, names, messages ----

TEST_F(MsiHelperTest, VersionOfAProductThatIsNotInstalled) {
  package.Open();
  const CUnicodeString code = L"{6A0B1E1C-0D55-4C2B-9E77-0A1B2C3D4E99}";
  EXPECT_EQ(GetProductVersionString(code), L"");
  EXPECT_EQ(ActionLog(package), L"MsiGetProductInfo( " + code + L", VersionString ) \r\n  ret=1605  value='' \r\n\r\n");
  EXPECT_TRUE(CatchRaised<CInternalError>([] { GetProductVersionString(L"not a product code"); }));
  EXPECT_NE(ActionLog(package).Find(L"MsiGetProductInfo( not a product code, VersionString ) \r\n  ERROR:\r\n  ret="),
            CUnicodeString::npos);
}

TEST(Names, OutsideTheTables) {
  EXPECT_EQ(InstallStateName(-6), L"INSTALLSTATE_BADCONFIG");
  EXPECT_EQ(InstallStateName(0), L"INSTALLSTATE_BROKEN");
  EXPECT_EQ(InstallStateName(5), L"INSTALLSTATE_DEFAULT");
  EXPECT_EQ(InstallStateName(-7), L"unknown (-7)");
  EXPECT_EQ(InstallStateName(6), L"unknown (6)");
  EXPECT_EQ(DialogResultName(1), L"IDOK");
  EXPECT_EQ(DialogResultName(9), L"IDHELP");
  EXPECT_EQ(DialogResultName(0), L"(Unknown)");
  EXPECT_EQ(DialogResultName(10), L"(Unknown)");
}

TEST_F(MsiHelperTest, InstallerErrorReachesTheInstaller) {
  const MSIHANDLE session = package.Open();
  ShowInstallerError(session, L"Something failed");
  ASSERT_EQ(package.InstallerErrors().size(), 1u);
  EXPECT_EQ(package.InstallerErrors()[0], L"Something failed");
}
