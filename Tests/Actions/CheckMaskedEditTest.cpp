// The stored launcher command line: publication, name extraction, look-alike folding and the
// counted refusal, with the stored value in an isolated registry.
#include "ActionTest.h"

using namespace TestSupport;

namespace {

void StoreCommandLine(const wchar_t* key, const CUnicodeString& commandLine) {
  SetRegistryText(HKEY_LOCAL_MACHINE, key, L"CMDLINE", commandLine);
}

}  // namespace

using CheckMaskedEditTest = ActionTest;

TEST_F(CheckMaskedEditTest, PublishesOnlyWhenLaunchedFromSetup) {
  StoreCommandLine(L"SOFTWARE\\Wow6432Node\\Orvant\\Setup", L"LANG=2");
  Open();
  RunCases({{"GetCMDLINE", {}, L"CMDLINE="},
            // The 32-bit location when the first is empty.
            {"GetCMDLINE", L"LAUNCH_FROM_SETUP=1", L"CMDLINE=LANG=2"}});
  StoreCommandLine(L"SOFTWARE\\Orvant\\Setup", L"LANG=3");
  RunCases({{"GetCMDLINE", {}, L"CMDLINE=LANG=3"}});
}

// Each refusal is counted.
TEST_F(CheckMaskedEditTest, ValidatesEveryAssignedName) {
  package.AddProperties(
      L"MT_CMDLINE_InvalidArg=Unknown %0 in %1|MT_CMDLINE_Bad=Empty name in %1|CMDLINE_ARG_LIST=LANG;Lang;SERVER");
  Open();
  // shown: nullptr when it passes
  const std::tuple<const wchar_t*, CUnicodeString, const wchar_t*, const wchar_t*> cases[] = {
      {L"", L"EVIL=1", L"", nullptr},  // not from the launcher: the registry is not read
      {L"1", L"INSTALLDIR=\"C:\\My App\" LANG=1", L"", nullptr},
      {L"1", L"lang=1 server=x", L"", nullptr},                                            // names in any case
      {L"1", L"\x0418NSTALLDIR=1", L"", L"Unknown \x0418NSTALLDIR in \x0418NSTALLDIR=1"},  // not a look-alike
      {L"1", L"INST\x0410LLDIR=C:\\x", L"", nullptr},                                      // folded Cyrillic A
      {L"1", L"TARGETDIR=C:\\x", L"INSTALLDIR", L"Unknown TARGETDIR in TARGETDIR=C:\\x"},  // own ignore list
      {L"1", L"LANG=\"a=b\"", L"", L"Unknown \"a in LANG=\"a=b\""},
      {L"1", L"A= =1", L"A", L"Empty name in A= =1"},
  };
  for (const auto& [launched, commandLine, ignoreList, shown] : cases) {
    StoreCommandLine(L"SOFTWARE\\Orvant\\Setup", commandLine);
    RunCases({{"CheckCMDLINE",
               {{L"LAUNCH_FROM_SETUP", launched}, {L"CMDLINE_ARG_IGNORE_LIST", ignoreList}},
               {{L"CMDLINE_OK", shown ? L"" : L"Yes"}},
               shown ? 1603u : 0u,
               shown ? CBoxes{CBox{shown, MB_ICONWARNING}} : CBoxes{}}});
  }
}
