// XML reader and writer throughput: parses and saves a generated 20 MB configuration-like document
// (or a given file) and prints MB/s for both and the process's peak memory.
#include <cstdio>
#include <string>

#include "Bench.h"
#include "Errors.h"
#include "Files.h"
#include "XmlParserTS.h"

namespace {

constexpr size_t kGeneratedChars = 20u << 20;

// Sections of a web.config-like file: many repeated element and attribute names, short values,
// some text and CDATA, about 1.5 KB per section.
Vrn::CUnicodeString GenerateDocument() {
  std::wstring text;
  text.reserve(kGeneratedChars + 4096);  // no regrowth copies to inflate the peak before parsing
  text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<configuration>\n";
  for (size_t section = 0; text.size() < kGeneratedChars; ++section) {
    const std::wstring n = std::to_wstring(section);
    text += L"  <location path=\"app/section" + n + L"\" inheritInChildApplications=\"false\">\n    <appSettings>\n";
    for (int i = 0; i < 8; ++i)
      text += L"      <add key=\"Setting" + std::to_wstring(i) + L"\" value=\"value " + n + L" &amp; more\" />\n";
    text += L"    </appSettings>\n    <system.webServer>\n      <handlers>\n";
    for (int i = 0; i < 4; ++i)
      text += L"        <add name=\"Handler" + std::to_wstring(i) +
              L"\" path=\"*.axd\" verb=\"GET,HEAD\" type=\"System.Web.Handlers.AssemblyResourceLoader\" />\n";
    text += L"      </handlers>\n    </system.webServer>\n    <description>Section " + n +
            L" of the generated document</description>\n    <script><![CDATA[if (a < b && c > d) run(" + n +
            L");]]></script>\n  </location>\n";
  }
  text += L"</configuration>\n";
  return Vrn::CUnicodeString(text);
}

size_t CountElements(const Tarsel::CXMLNode& root) {
  size_t count = 0;
  for (const Tarsel::CXMLNode* node = root.FirstChild(); node != nullptr;) {
    ++count;
    if (node->HasChildren()) {
      node = node->FirstChild();
      continue;
    }
    while (node != nullptr && node->NextSibling() == nullptr) node = node->Parent() == &root ? nullptr : node->Parent();
    if (node != nullptr) node = node->NextSibling();
  }
  return count;
}

double Megabytes(size_t chars) { return static_cast<double>(chars) / (1024.0 * 1024.0); }

int RunXmlBench(const std::vector<std::wstring>& args) {
  try {
    std::wstring file;
    if (!args.empty()) file = args[0] == L"--xml" && args.size() > 1 ? args[1] : args[0];
    const Vrn::CUnicodeString text = file.empty() ? GenerateDocument() : Vrn::ReadTextFile(file.c_str(), CP_UTF8);
    const uint64_t baseline = Bench::PeakMemoryBytes();

    Tarsel::CXMLParser parser;
    const double parseStart = Bench::NowSeconds();
    parser.Parse(text);
    const double parseSeconds = Bench::NowSeconds() - parseStart;
    const uint64_t afterParse = Bench::PeakMemoryBytes();

    const double saveStart = Bench::NowSeconds();
    const Vrn::CUnicodeString saved = parser.Save();
    const double saveSeconds = Bench::NowSeconds() - saveStart;

    // Sizes count characters: equal to UTF-8 bytes for the ASCII document generated here.
    std::wprintf(L"xml: %ls, %.1f MB, %zu elements\n", file.empty() ? L"generated" : file.c_str(),
                 Megabytes(text.Length()), CountElements(parser.GetRoot()));
    std::wprintf(L"xml: parse %.1f MB/s (%.3f s), save %.1f MB/s (%.3f s, %.1f MB)\n",
                 Megabytes(text.Length()) / parseSeconds, parseSeconds, Megabytes(saved.Length()) / saveSeconds,
                 saveSeconds, Megabytes(saved.Length()));
    std::wprintf(L"xml: peak memory %.1f MB (%.1f MB before parsing, %.1f MB after parsing)\n",
                 static_cast<double>(Bench::PeakMemoryBytes()) / 1048576.0, static_cast<double>(baseline) / 1048576.0,
                 static_cast<double>(afterParse) / 1048576.0);
    return 0;
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr e(raw);
    std::fwprintf(stderr, L"xml: %ls\n", e->MessageText().c_str());
    return 1;
  }
}

const Bench::Registration kRegistration(L"xml", L"xml [--xml FILE]", RunXmlBench);

}  // namespace
