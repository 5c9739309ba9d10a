// The feature-management actions: the listing parser, the choice of the feature table, the
// warning's six outcomes, and the runs of the tool (the real captured run of a test child that
// prints a listing, the system's own tool, a run that outlasts its time limit).
#include <gtest/gtest.h>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "Dism.h"
#include "ProcessLauncher.h"
#include "SessionTestSupport.h"
#include "TestChild.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using SessionTests::Utf8;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall DISM_Run(MSIHANDLE session);
extern "C" UINT __stdcall DISM_RunExt(MSIHANDLE session);
extern "C" UINT __stdcall DISM_FeaturesWarning(MSIHANDLE session);

namespace {

constexpr wchar_t kHeader[] = L"Feature Name                                | State";
constexpr wchar_t kSeparator[] = L"------------------------------------------- | --------";

// A feature tool that prints a fixed listing.
class CListedTool : public Msi::CFeatureTool {
 public:
  std::vector<CUnicodeString> ListFeatures() override { return lines; }
  std::vector<CUnicodeString> lines;
};

// A feature tool whose listing is what a test child prints through the real captured run.
class CPrintingTool : public Msi::CFeatureTool {
 public:
  explicit CPrintingTool(const wchar_t* printed) : m_printed(printed) {}
  std::vector<CUnicodeString> ListFeatures() override {
    // Blanks separate the child's options and "|" would be a pipe to the command interpreter.
    CUnicodeString printed = m_printed;
    printed.Replace(L" ", L"\\x20");
    printed.Replace(L"|", L"\\x7c");
    std::vector<CUnicodeString> lines;
    Msi::RunCommandCaptureLines(TestSupport::TestChildCommand(L"print=" + printed), lines);
    return lines;
  }

 private:
  const wchar_t* m_printed;
};

void AddFeatureTables(TestSupport::CTestPackage& package) {
  for (const wchar_t* table :
       {L"OV_System_W7_Features", L"OV_System_W8_Features", L"OV_System_W10_Features", L"OV_System_W12_Features"})
    package.ImportTable(TestSupport::TableSchemaPath(table));
}

void AddFeatureRow(TestSupport::CTestPackage& package, const wchar_t* table, const wchar_t* feature,
                   const wchar_t* caption1, const wchar_t* caption2, const wchar_t* uiName) {
  package.Insert(table, {L"Feature", L"Caption1", L"Caption2", L"UIFeatureName"},
                 {feature, caption1, *caption2 ? TestSupport::CCell(caption2) : TestSupport::CCell::Null(), uiName});
}

// Opens the package as an interactive session on the given system (the installer sets VersionNT
// and MsiNTProductType itself when it opens a package).
MSIHANDLE OpenOnSystem(TestSupport::CTestPackage& package, const wchar_t* versionNt, const wchar_t* productType) {
  const MSIHANDLE session = package.Open();
  package.SetProperty(L"VersionNT", versionNt);
  package.SetProperty(L"MsiNTProductType", productType);
  package.SetProperty(L"UILevel", L"5");
  return session;
}

}  // namespace

TEST(DismFeatureTable, ParsesRowsBetweenHeaderAndEnd) {
  using Lines = std::vector<CUnicodeString>;
  const struct {
    const char* name;
    Lines lines;
    Msi::CFeatureStates expected;
  } cases[] = {
      {"with separator",
       {L"Deployment Image Servicing", L"", kHeader, kSeparator, L"IIS-WebServer   | Enabled", L"NetFx3 | Disabled",
        L"TFTP|Disable Pending", L"", L"Late | Enabled"},
       {{L"IIS-WebServer", true}, {L"NetFx3", false}, {L"TFTP", false}}},
      {"without separator", {kHeader, L"A | Enabled", L"B | Disabled"}, {{L"A", true}, {L"B", false}}},
      {"a row without a state ends it",
       {kHeader, kSeparator, L"A | Enabled", L"garbage \x01\x7f", L"B | Disabled"},
       {{L"A", true}}},
      {"state only after the first character", {kHeader, L"Enabled", L"X | Enabled"}, {}},
      {"no header", {L"A | Enabled", L"B | Disabled"}, {}},
      {"header and nothing else", {kHeader}, {}},
      {"header and separator only", {kHeader, kSeparator}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Msi::ParseFeatureTable(c.lines), c.expected) << c.name;

  Lines large{kHeader, kSeparator};
  for (int row = 0; row < 10000; ++row)
    large.push_back(L"Feature" + CUnicodeString::FromInt(row) + (row % 2 ? L" | Enabled" : L" | Disabled"));
  const Msi::CFeatureStates states = Msi::ParseFeatureTable(large);
  ASSERT_EQ(states.size(), 10000u);
  EXPECT_FALSE(states.at(L"Feature9998"));
  EXPECT_TRUE(states.at(L"Feature9999"));
}

class DismFeaturesWarningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddFeatureTables(package);
    package.AddProperty(L"MT_DISM_FeaturesWarning", L"Enable these features:");
    package.AddProperty(L"MT_DISM_FeaturesWarning_APPEND", L"Also note:");
    package.AddProperty(L"MT_DISM_FeaturesWarning_APPEND0", L"Please read:");
    package.AddProperty(L"IS_VALID_IIS", L"1");
    tool.lines = {
        kHeader,           kSeparator, L"IIS-WebServer | Disabled", L"IIS-ASP | Disabled", L"NetFx3 | Enabled",
        L"TFTP | Disabled"};
  }

  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  CListedTool tool;
  Msi::CFeatureToolSeam::COverride toolSeam{tool};
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
};

TEST_F(DismFeaturesWarningTest, GroupsMissingFeaturesUnderTheirHeadings) {
  const wchar_t* table = L"OV_System_W10_Features";
  AddFeatureRow(package, table, L"A-Absent", L"Web", L"", L"Not listed");
  AddFeatureRow(package, table, L"IIS-ASP", L"Web", L"Application", L"ASP");
  AddFeatureRow(package, table, L"IIS-WebServer", L"Web", L"Application", L"Web server");
  AddFeatureRow(package, table, L"NetFx3", L"Web", L"Application", L".NET 3.5");
  AddFeatureRow(package, table, L"TFTP", L"Tools", L"", L"TFTP client");
  package.AddProperty(L"DISM_FeaturesWarning_Hide", L"1");
  const MSIHANDLE session = OpenOnSystem(package, L"603", L"1");
  EXPECT_EQ(DISM_FeaturesWarning(session), 0u);
  EXPECT_EQ(Utf8(package.Property(L"DISM_WARNING")),
            "Enable these features:\nWeb\n\tApplication\n\t\tASP\n\t\tWeb server\nTools\n\tTFTP client");
  EXPECT_EQ(Utf8(package.Property(L"IS_VALID_IIS")), Utf8(L""));
  EXPECT_NE(ActionLog(package).Find(L"ERROR: Not found feature: A-Absent"), CUnicodeString::npos);
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(DismFeaturesWarningTest, DecidesBetweenValidWarningAndQuestion) {
  AddFeatureRow(package, L"OV_System_W10_Features", L"NetFx3", L"Framework", L"", L".NET 3.5");
  AddFeatureRow(package, L"OV_System_W10_Features", L"TFTP", L"Tools", L"", L"TFTP client");
  const MSIHANDLE session = OpenOnSystem(package, L"603", L"1");
  const CUnicodeString missing = L"\nTools\n\tTFTP client";
  const struct {
    bool missing;
    const wchar_t *extra, *hide;
    int answer;  // 0: no question expected
    UINT result;
    const wchar_t *valid, *proceed;
    CUnicodeString warning, boxText;
  } cases[] = {
      {false, L"", L"", 0, 0, L"Yes", L"", L"", L""},
      {false, L"Reboot first.", L"1", 0, 0, L"", L"", L"Please read:\n\nReboot first.", L""},
      {false, L"Reboot first.", L"", IDOK, 0, L"", L"Yes", L"", L"Please read:\n\nReboot first."},
      {false, L"Reboot first.", L"", IDCANCEL, 1602, L"", L"", L"", L"Please read:\n\nReboot first."},
      {true, L"", L"", IDOK, 0, L"", L"Yes", L"", L"Enable these features:" + missing},
      {true, L"", L"", IDCANCEL, 1602, L"", L"", L"", L"Enable these features:" + missing},
      {true, L"", L"1", 0, 0, L"", L"", L"Enable these features:" + missing, L""},
      {true, L"Reboot first.", L"1", 0, 0, L"", L"", L"Also note:\n\nReboot first.\n\nEnable these features:" + missing,
       L""},
      {true, L"Reboot first.", L"", IDCANCEL, 1602, L"", L"", L"",
       L"Please read:Also note:\n\nReboot first.\n\nEnable these features:" + missing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "missing " << c.missing << " extra '" << Vrn::CUnicodeString(c.extra).ToUtf8()
                                    << "' hide '" << Vrn::CUnicodeString(c.hide).ToUtf8() << "' answer " << c.answer);
    tool.lines = {kHeader, L"NetFx3 | Enabled", c.missing ? L"TFTP | Disabled" : L"TFTP | Enabled"};
    package.SetProperty(L"DISM_FeaturesWarning_APPEND", c.extra);
    package.SetProperty(L"DISM_FeaturesWarning_Hide", c.hide);
    for (const wchar_t* name : {L"DISM_GF_VALID", L"DISM_GF_CONTINUE", L"DISM_WARNING"}) package.SetProperty(name, L"");
    ui.shown.clear();
    ui.answers = {c.answer};
    EXPECT_EQ(DISM_FeaturesWarning(session), c.result);
    EXPECT_EQ(Utf8(package.Property(L"DISM_GF_VALID")), Utf8(c.valid));
    EXPECT_EQ(Utf8(package.Property(L"DISM_GF_CONTINUE")), Utf8(c.proceed));
    EXPECT_EQ(Utf8(package.Property(L"DISM_WARNING")), Utf8(c.warning));
    ASSERT_EQ(ui.shown.size(), c.answer ? 1u : 0u);
    if (c.answer) {
      EXPECT_EQ(Utf8(ui.shown[0].text), Utf8(c.boxText));
      EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
    }
  }
}

TEST_F(DismFeaturesWarningTest, ChoosesTheTableOfTheSystem) {
  for (const wchar_t* table :
       {L"OV_System_W7_Features", L"OV_System_W8_Features", L"OV_System_W10_Features", L"OV_System_W12_Features"})
    AddFeatureRow(package, table, L"TFTP", L"", L"", table);
  package.AddProperty(L"DISM_FeaturesWarning_Hide", L"1");
  const MSIHANDLE session = OpenOnSystem(package, L"603", L"1");
  const struct {
    const wchar_t *version, *type, *table;
  } cases[] = {
      {L"601", L"1", L"OV_System_W7_Features"},
      {L"601", L"3", L"OV_System_W7_Features"},
      {L"602", L"1", L"OV_System_W8_Features"},
      {L"602", L"2", L"OV_System_W12_Features"},
      {L"603", L"1", L"OV_System_W10_Features"},
      {L"603", L"3", L"OV_System_W12_Features"},
      {L"600", L"1", nullptr},
      {L"603", L"", nullptr},
      {L"x", L"1", nullptr},
  };
  for (const auto& c : cases) {
    package.SetProperty(L"VersionNT", c.version);
    package.SetProperty(L"MsiNTProductType", c.type);
    package.SetProperty(L"DISM_WARNING", L"");
    EXPECT_EQ(DISM_FeaturesWarning(session), c.table ? 0u : 1603u) << Vrn::CUnicodeString(c.version).ToUtf8();
    EXPECT_EQ(Utf8(package.Property(L"DISM_WARNING")),
              Utf8(c.table ? L"Enable these features:\n\t" + CUnicodeString(c.table) : CUnicodeString()));
  }
}

// The real captured run and the parser together, over CRLF and LF listings and garbage bytes.
TIMED_CHILD_TEST(DismCapturedListing, WarnsFromPrintedListing, 120000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  AddFeatureTables(package);
  AddFeatureRow(package, L"OV_System_W7_Features", L"NetFx3", L"Framework", L"", L".NET 3.5");
  AddFeatureRow(package, L"OV_System_W7_Features", L"TFTP", L"Tools", L"", L"TFTP client");
  package.AddProperty(L"MT_DISM_FeaturesWarning", L"Enable:");
  package.AddProperty(L"DISM_FeaturesWarning_Hide", L"1");
  const MSIHANDLE session = OpenOnSystem(package, L"601", L"1");
  const struct {
    const wchar_t* printed;
    const wchar_t* warning;
  } cases[] = {
      {L"Feature Name | State\\r\\n---- | ----\\r\\nNetFx3 | Enabled\\r\\nTFTP | Disabled\\r\\n\\r\\nDone.\\r\\n",
       L"Enable:\nTools\n\tTFTP client"},
      {L"Feature Name | State\\nNetFx3 | Disabled\\nTFTP | Disabled\\n",
       L"Enable:\nFramework\n\t.NET 3.5\nTools\n\tTFTP client"},
      {L"\\xff\\xfe\\x01garbage\\x80\\n", L""},
  };
  for (const auto& c : cases) {
    CPrintingTool tool(c.printed);
    Msi::CFeatureToolSeam::COverride seam{tool};
    package.SetProperty(L"DISM_WARNING", L"");
    package.SetProperty(L"DISM_GF_VALID", L"");
    EXPECT_EQ(DISM_FeaturesWarning(session), 0u);
    EXPECT_EQ(Utf8(package.Property(L"DISM_WARNING")), Utf8(c.warning));
    EXPECT_EQ(Utf8(package.Property(L"DISM_GF_VALID")), Utf8(*c.warning ? L"" : L"Yes"));
  }
}

// The system's own tool (Wine's prints nothing): every feature is only logged as not found.
TIMED_CHILD_TEST(DismRealTool, UnlistedFeaturesAreOnlyLogged, 120000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  AddFeatureTables(package);
  AddFeatureRow(package, L"OV_System_W7_Features", L"NoSuchFeature", L"Web", L"", L"Nothing");
  const MSIHANDLE session = OpenOnSystem(package, L"601", L"1");
  EXPECT_EQ(DISM_FeaturesWarning(session), 0u);
  EXPECT_EQ(Utf8(package.Property(L"DISM_GF_VALID")), Utf8(L"Yes"));
  EXPECT_NE(ActionLog(package).Find(L"ERROR: Not found feature: NoSuchFeature"), CUnicodeString::npos);
}

TIMED_CHILD_TEST(DismRun, RunsAndTimesOut, 120000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  package.AddProperty(L"MT_ERR_FAIL_TO_MANIPULATE_WITH_PROCESS", L"The tool did not finish.");
  const MSIHANDLE session = OpenOnSystem(package, L"603", L"1");
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
  EXPECT_EQ(DISM_Run(session), 1603u);  // no command
  EXPECT_EQ(DISM_RunExt(session), 1603u);
  package.SetProperty(L"DISM_RUN_CMD", TestSupport::TestChildCommand(L"print=ok exit=5"));
  EXPECT_EQ(DISM_Run(session), 0u);
  EXPECT_EQ(DISM_RunExt(session), 0u);  // empty seconds: the default limit
  for (const wchar_t* bad : {L"-1", L"ten", L"4294967296"}) {
    package.SetProperty(L"DISM_RUN_CMD_SECONDS", bad);
    EXPECT_EQ(DISM_RunExt(session), 1603u) << Vrn::CUnicodeString(bad).ToUtf8();
  }
  EXPECT_TRUE(ui.shown.empty());
  package.SetProperty(L"DISM_RUN_CMD", TestSupport::TestChildCommand(L"sleep=600000"));
  package.SetProperty(L"DISM_RUN_CMD_SECONDS", L"1");
  EXPECT_EQ(DISM_RunExt(session), 1603u);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(Utf8(ui.shown[0].text), "The tool did not finish.");
  EXPECT_EQ(ui.shown[0].style, static_cast<UINT>(MB_ICONINFORMATION));
}
