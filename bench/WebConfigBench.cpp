// The upgrade merge of web.config files against a plain parse-and-save of the same files: two
// generated 5 MB web.config files with 20,000 appSettings entries each (every value changed), so
// that key matching which grows faster than the entry count shows in the ratio.
#include <cstdio>
#include <string>

#include "Bench.h"
#include "Errors.h"
#include "Files.h"
#include "Setup.h"
#include "WebConfig.h"
#include "XmlParserTS.h"

namespace {

constexpr int kEntries = 20000;
constexpr size_t kTargetBytes = 5u << 20;

// A web.config of kEntries settings padded with a description element per entry to about 5 MB.
std::string GenerateConfig(const char* valuePrefix) {
  const std::string padding(kTargetBytes / kEntries - 95, 'p');
  std::string text = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<configuration>\r\n  <appSettings>\r\n";
  for (int i = 0; i < kEntries; ++i)
    text += "    <add key=\"Application.Setting." + std::to_string(i) + "\" value=\"" + valuePrefix +
            std::to_string(i) + " &amp; more\" />\r\n";
  text += "  </appSettings>\r\n  <descriptions>\r\n";
  for (int i = 0; i < kEntries; ++i) text += "    <d n=\"" + std::to_string(i) + "\">" + padding + "</d>\r\n";
  text += "  </descriptions>\r\n</configuration>\r\n";
  return text;
}

double ParseAndSave(const Vrn::CUnicodeString& path) {
  const double start = Bench::NowSeconds();
  unsigned codePage = 0;
  Tarsel::CXMLParser parser;
  parser.Parse(Vrn::ReadTextFile(path, CP_UTF8, &codePage));
  Vrn::ReplaceTextFile(path, parser.Save(), codePage);
  return Bench::NowSeconds() - start;
}

int RunWebConfigBench(const std::vector<std::wstring>&) {
  try {
    const Vrn::CLibraryScope library;  // the merge logs through the library
    const Vrn::CUnicodeString folder = Vrn::CreateUniqueTempFolder(L"webconfigbench_");
    const Vrn::CUnicodeString saved = folder + L"\\saved.config", installed = folder + L"\\installed.config";
    Vrn::WriteFileBytes(saved, GenerateConfig("saved "));
    Vrn::WriteFileBytes(installed, GenerateConfig("new "));
    const double plain = ParseAndSave(saved) + ParseAndSave(installed);
    const double start = Bench::NowSeconds();
    const bool written = Msi::MergeWebConfig(saved, installed);
    const double merge = Bench::NowSeconds() - start;
    std::wprintf(L"webconfig: 2 x %.1f MB, %d entries each\n",
                 static_cast<double>(Vrn::ReadFileBytes(saved).size()) / 1048576.0, kEntries);
    std::wprintf(L"webconfig: parse and save of both %.3f s, merge %.3f s (%ls), merge / parse-and-save %.2f\n", plain,
                 merge, written ? L"written" : L"NOT written", merge / plain);
    Vrn::RemoveFolder(folder, true);
    return written ? 0 : 1;
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr e(raw);
    std::fwprintf(stderr, L"webconfig: %ls\n", e->MessageText().c_str());
    return 1;
  }
}

const Bench::Registration kRegistration(L"webconfig", L"webconfig", RunWebConfigBench);

}  // namespace
