// The shell-integration actions: the run actions with real children (time-limited), the value,
// folder and open actions with the recording shell opener, a real connection check on 127.0.0.1.
// Tests/EndToEnd/run-install runs them under msiexec.
#include "ActionTest.h"
#include "ChildProcessTest.h"
#include "FakeSeams.h"
#include "LocalListener.h"
#include "TestChild.h"

using namespace TestSupport;

namespace {

constexpr wchar_t kMissingProgram[] = L"Z:\\no\\such\\program.exe";

// A session for the run actions, with their box texts.
struct CRunSession : CActionSession {
  CRunSession() {
    package.AddProperties(L"RunBadExitCodeMessage=The tool failed.|BadExitCodeMessage=The script failed.");
    Open();
  }
};

}  // namespace

using ShellIntegrationTest = ActionTest;

TIMED_CHILD_TEST(ShellIntegrationReal, RunJudgesExitCodes, 120000) {
  CRunSession s;
  // GetReturnCode without the key sets nothing; the key without the value gives 123.
  s.RunCases({{"GetReturnCode", L"Run_ReturnCode=untouched", L"Run_ReturnCode=untouched"}});
  SetRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvant\\Setup", L"Other", L"");
  const CBox noStart{L"Test Product could not start the tool.", MB_OK | MB_ICONERROR};
  s.RunCases(
      {{"GetReturnCode", {}, {{L"Run_ReturnCode", L"123"}}},
       {"Run", {{L"RunCmd", TestChildCommand(L"exit=5")}}, {{L"RunExitCode", L"5"}}},
       // Not waited for: the exit code is 0, whatever the child returns later.
       {"Run", {{L"RunCmd", TestChildCommand(L"sleep=300 exit=9")}, {L"RunIsNoWait", L"1"}}, {{L"RunExitCode", L"0"}}},
       // -2 without a text for it: no box.
       {"Run",
        {{L"RunCmd", TestChildCommand(L"exit=4294967294")}, {L"RunIsNoWait", L"No"}},
        {{L"RunExitCode", L"4294967294"}},
        1603},
       {"Run",
        {{L"RunCmd", kMissingProgram}, {L"Run_Exit_minus1", L"[ProductName] could not start the tool."}},
        {{L"RunExitCode", L"4294967295"}},
        1603,
        {noStart}},
       // Only the exact text "SW_HIDE" hides the child (show mode 0); anything else shows it (10).
       {"Run", {{L"RunCmd", TestChildCommand(L"exit=show")}, {L"RunShow", L"SW_HIDE"}}, {{L"RunExitCode", L"0"}}},
       {"Run", {{L"RunShow", L"sw_hide"}}, {{L"RunExitCode", L"10"}}},
       {"Run", L"RunCmd=", L"", 1603}});
}

TIMED_CHILD_TEST(ShellIntegrationReal, RunWithMessageAsUserAndPowerShell, 120000) {
  CRunSession s;
  const CBox ask{L"The tool failed.", MB_OKCANCEL | MB_ICONWARNING}, error{L"The tool failed.", MB_OK | MB_ICONERROR};
  const CUnicodeString three = TestChildCommand(L"exit=3");
  s.RunCases({{"RunWithMessage", {{L"RunCmd", TestChildCommand(L"exit=0")}}, L"RunExitCode=0"},
              {"RunWithMessage", {{L"RunCmd", three}}, L"RunExitCode=3", 0, ask, IDOK},
              {"RunWithMessage", L"RunCmdCheckExitCode=0", L"", 1603, ask, IDCANCEL},
              {"RunWithMessage", L"RunCmdCheckExitCode=yes", L"", 1603, error},
              {"RunWithMessage", L"RunBadExitCodeMessage=", L"", 1603}});

  // RunAsUser does not judge the code; it fails only when it cannot start.
  CFakeToken token;
  Msi::CNormalUserTokenOverride tokenSeam{token};
  token.available = true;
  s.RunCases({{"RunAsUser", {{L"RunCmd", TestChildCommand(L"exit=4294967294")}}, L"RunExitCode=4294967294"}});
  token.available = false;
  s.RunCases({{"RunAsUser", L"", L"RunExitCode=0", 1603}});

  // The format's other "%" stay text; PS_PATH fills the first place, RunPSCmd the second.
  CTempFolder folder;
  s.RunCases({{"RunPS",
               L"RunPSCmdMain=%s print=[%d%n%%%x] exit=%s|PS_PATH=" + TestChildCommand(L"") +
                   L"|RunPSCmd=6|RunPSCmdLog=" + folder / L"out.log",
               L"RunPSExitCode=6"}});
  EXPECT_EQ(ReadBytes(folder / L"out.log"), "[%d%n%%%x]");
  s.RunCases(
      {{"RunPS", {{L"RunPSCmdCheckExitCode", L"1"}}, {{L"RunPSExitCode", L"6"}}, 1603},
       {"RunPSwithMessage", {}, {{L"RunPSExitCode", L"6"}}, 1603, {{L"The script failed.", MB_OK | MB_ICONERROR}}},
       // A program that cannot start fails whatever the check flag says.
       {"RunPS",
        {{L"RunPSCmdCheckExitCode", L""}, {L"PS_PATH", kMissingProgram}},
        {{L"RunPSExitCode", L"4294967295"}},
        1603},
       {"RunConsole", {{L"RunConsoleCmd", kMissingProgram}}, {{L"RunConsoleExitCode", L"4294967295"}}, 1603},
       {"RunConsole", L"RunConsoleCmd=", L"", 1603},
       {"RunPS", {{L"RunPSCmdMain", L""}}, {}, 1603}});
}

TEST_F(ShellIntegrationTest, CompareDigitsSetsOneVerdictAndKeepsTheOthers) {
  Open();
  const wchar_t* const verdicts[] = {L"CompareDigits_LESS", L"CompareDigits_MORE", L"CompareDigits_EQUAL"};
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
      {L"#10", L"9", L"CompareDigits_MORE"},  // one "#" is dropped
      {L" 7 ", L"7", L"CompareDigits_EQUAL"},
      {L"3", L"#12", L"CompareDigits_LESS"},
      {L"-1", L"4294967295", L"CompareDigits_EQUAL"},  // "-" wraps
      {L"7a", L"7", nullptr},                          // no verdict, CompareDigits_VALID empty
      {L"##5", L"5", nullptr},
  };
  for (const auto& [left, right, verdict] : cases) {
    CProperties set{{L"CompareDigits_Left", left}, {L"CompareDigits_Right", right}}, expect;
    expect.push_back({L"CompareDigits_VALID", verdict ? L"Yes" : L""});
    for (const wchar_t* name : verdicts) {
      set.push_back({name, L"stale"});
      expect.push_back({name, verdict && CUnicodeString(name) == verdict ? L"Yes" : L"stale"});
    }
    RunCases({{"CompareDigits", set, expect}});
  }
}

TEST_F(ShellIntegrationTest, ChangeIntAddsOrCountsItsFailure) {
  package.AddProperties(L"ChangeInt_ValueProperty=COUNT|ChangeInt_Result=old");
  Open();
  RunCases(
      {{"ChangeInt", {{L"COUNT", L" 12 "}, {L"ChangeInt_Change", L"-20"}}, {{L"ChangeInt_Result", L"-8"}}},
       {"ChangeInt", {{L"COUNT", L"2147483647"}, {L"ChangeInt_Change", L"1"}}, {{L"ChangeInt_Result", L"2147483648"}}},
       {"ChangeInt", {{L"COUNT", L"1e3"}, {L"ChangeInt_Result", L"old"}}, {{L"ChangeInt_Result", L"old"}}, 1603},
       {"ChangeInt", {{L"COUNT", L""}}, {}, 1603}});
}

TEST_F(ShellIntegrationTest, GuidCompanyNameAndRegistryValues) {
  package.AddProperty(L"COMPANYNAME", L"Acme \"Best\", Inc.");
  package.AddProperty(L"NormPropForWriRegList", L"HASH||PLAIN|EMPTY|UNCHANGED");
  package.AddProperties(L"HASH= #5 |PLAIN= 5 |UNCHANGED=x y");
  Open();
  RunCases({{"GenerateSetupGUID"},
            {"RemoveCommasFromCompanyName", {}, L"COMPANYNAME=Acme 'Best', Inc."},
            {"NormPropForWriReg", {}, L"HASH=##5|PLAIN=5|EMPTY=|UNCHANGED=x y"}});
  const CUnicodeString guid = Property(L"SetupGUID");
  ASSERT_EQ(guid.Length(), 38u);
  EXPECT_TRUE(guid.StartsWith(L"{") && guid.EndsWith(L"}"));
  EXPECT_EQ(guid, CUnicodeString(guid).MakeUpperAscii());
  EXPECT_EQ(Property(L"SetupBodyGUID"), guid.Mid(1, 36));
}

// The server name's verdict, and its message through the library's message service (during an
// action the log's "MESSAGE: " block); Pause's box.
TEST_F(ShellIntegrationTest, CheckServerNameAndPause) {
  package.AddProperties(
      L"ERROR_INPUTSERVERNAME_EMPTY=Type a server name|ERROR_INPUTSERVERNAME_INVALID=Not a server name");
  Open();
  for (const auto& [name, message] : {std::pair{L"corp\\db", L""},
                                      {L"db HTTPS://x", L"Not a server name"},
                                      {L"\\\\srv", L"Not a server name"},
                                      {L"", L"Type a server name"}}) {
    const size_t reported = package.InstallerErrors().size();
    RunCases({{"CheckServerName", {{L"INPUTSERVERNAME", name}}, {{L"ISINPUTSERVERNAME", *message ? L"" : L"Yes"}}}});
    const std::vector<CUnicodeString> errors = package.InstallerErrors();
    EXPECT_EQ(std::vector(errors.begin() + reported, errors.end()),
              *message ? std::vector<CUnicodeString>{message} : std::vector<CUnicodeString>{});
  }
  RunCases({{"Pause", L"", L"", 0, CBox{L"Pause", 0}}});
}

TEST_F(ShellIntegrationTest, OpenActionsOpenOnlyWhatIsThere) {
  CTempFolder folder;
  WriteText(folder / L"readme.txt", "text");
  Open();
  CFakeShellOpener opener;
  Msi::CShellOpenerOverride seam{opener};
  CListener listener;
  const CUnicodeString reachable = L"http://127.0.0.1:" + listener.Text() + L"/";
  // Each action once with what is not there (nothing opened), then with what is.
  RunCases({{"OpenURL", L"OPEN_URL=http://127.0.0.1:1/closed"},
            {"OpenURL", {{L"OPEN_URL", reachable}}},
            {"OpenLocalURL"},  // no browser named
            {"OpenLocalURL", L"IE_FILEPATH=C:\\browser.exe|OPEN_LOCALURL=file:///C:/guide.htm"},
            {"OpenFile", {{L"OPEN_FILE", folder / L"missing.txt"}}},
            {"OpenSourceFile", {{L"SOURCEDIR", folder.Path() + L"\\"}, {L"OPEN_SOURCE_FILE", L"missing.txt"}}},
            {"OpenFile", {{L"OPEN_FILE", folder / L"readme.txt"}}},
            {"OpenSourceFile", L"OPEN_SOURCE_FILE=readme.txt"}});
  using COpened = CFakeShellOpener::COpened;
  EXPECT_EQ(opener.opened, (std::vector<COpened>{{L"open", reachable, L"", SW_SHOWNORMAL},
                                                 {L"runas", L"C:\\browser.exe", L"file:///C:/guide.htm", SW_SHOWNORMAL},
                                                 {L"open", folder / L"readme.txt", L"", SW_SHOWNORMAL},
                                                 {L"open", folder / L"readme.txt", L"", SW_SHOWNORMAL}}));
}

TEST_F(ShellIntegrationTest, FoldersNextToTheSource) {
  CTempFolder folder;
  Vrn::CreateDirectoryWithParents(folder / L"media\\setup\\Data");
  Vrn::CreateDirectoryWithParents(folder / L"media\\setup\\Extras");
  package.AddProperty(L"SOURCEDIR", folder / L"media\\setup\\");
  Open();
  RunCases({{"GetRoot", {}, {{L"ROOT_PATH", folder / L"media\\setup\\..\\"}}},
            {"CheckDataFolder", {}, L"DATA_VALID=Yes"},
            {"CheckFolder", L"CF_FOLDER=Extras", L"CF_VALID=Yes"},
            {"CheckFolder", L"CF_FOLDER=Nothing", L"CF_VALID="},
            {"CheckFolder", L"CF_FOLDER=", L"", 1603},
            {"CheckDataFolder", L"SOURCEDIR=", L"", 1603}});
}

TEST_F(ShellIntegrationTest, CopyAdditionalFilesStopsAtAnEmptyNameAndClearsReadOnly) {
  CTempFolder folder;
  const CUnicodeString source = folder / L"src", target = folder / L"deep\\dst";
  for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) WriteText(Vrn::JoinPath(source, name), "new");
  ASSERT_TRUE(::SetFileAttributesW((source + L"\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  package.AddProperty(L"SourceDirectory", source);
  package.AddProperty(L"DestinationDirectory", target);
  Open();
  RunCases({{"CopyAdditionalFilesToDirectory", L"Files=a.txt,b.txt,,c.txt"}});
  EXPECT_EQ(ReadBytes(target + L"\\a.txt"), "new");
  EXPECT_EQ(::GetFileAttributesW((target + L"\\a.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_TRUE(Exists(target + L"\\b.txt"));
  EXPECT_FALSE(Exists(target + L"\\c.txt"));  // after the empty name
  // A target held open without sharing (the retry fails too) ends with 1603 and the file error
  // naming the file.
  const Vrn::CFileHandle held(
      ::CreateFileW((target + L"\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.IsValid());
  RunCases({{"CopyAdditionalFilesToDirectory", L"Files=b.txt", L"", 1603}});
  EXPECT_TRUE(Logged(target + L"\\b.txt"));
}

// The real shell, once: a missing document fails at once without an error dialog, and a program
// that ends by itself starts.
TIMED_CHILD_TEST(ShellOpenReal, OpensAProgramAndRefusesAMissingFileWithoutADialog, 60000) {
  CTempFolder folder;
  EXPECT_FALSE(Msi::ShellOpener().Open({L"open", folder / L"missing.txt", L"", SW_SHOWNORMAL}));
  EXPECT_TRUE(Msi::ShellOpener().Open({L"open", L"cmd.exe", L"/c exit 0", SW_HIDE}));
}

// With the real shell and connection check: a file, address or parameters longer than those calls
// take (Wine's shell overflows its stack on about 1,000 characters) end the action with 1603 before
// the call, counted, and the log names the property and the limit.
TIMED_CHILD_TEST(ShellOpenReal, OverLongValuesAreRefusedBeforeTheShell, 60000) {
  const CUnicodeString longText(40000, L'u');
  for (const auto& [action, property, refusal] :
       {std::tuple{"OpenLocalURL", L"IE_FILEPATH",
                   L"too long for a file or address the shell opens (at most 259 characters)."},
        {"OpenLocalURL", L"OPEN_LOCALURL", L"too long for the parameters of a shell start (at most 2083 characters)."},
        {"OpenURL", L"OPEN_URL", L"too long for an Internet address (at most 2083 characters)."}}) {
    CActionSession s;
    s.package.AddProperty(L"IE_FILEPATH", L"C:\\browser.exe");
    s.Open();
    s.Set({{property, longText}});
    s.RunCases({{action, L"", L"", 1603}});
    EXPECT_TRUE(
        s.Logged(L"A value from the property " + CUnicodeString(property) + L" is 40000 characters long, " + refusal))
        << action;
  }
}
