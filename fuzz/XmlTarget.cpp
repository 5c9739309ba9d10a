// The XML parser under mutation: every input gives a tree or a named parsing error, and a tree
// saves to text that parses again and saves the same.
#include <string_view>

#include "Fuzz.h"
#include "XmlParserTS.h"

namespace Fuzz {
namespace {

using namespace std::string_view_literals;

// The parse outcome: an empty string for a tree, the error's name, or "(broken) ..." for anything
// that is not a named error.
std::string Outcome(Tarsel::CXMLParser& parser, const Vrn::CUnicodeString& text) {
  std::string broken;
  std::string name;
  try {
    parser.Parse(text);
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr e(raw);
    const auto* check = dynamic_cast<const Vrn::CCheckException*>(raw);
    name = check ? check->Name().ToUtf8() : "(broken) not a named error: " + e->MessageText().ToUtf8();
  } catch (...) {
    Refused([] { throw; }, broken);
    name = "(broken) " + broken;
  }
  return name;
}

std::string CheckXml(const std::string& input) {
  Tarsel::CXMLParser parser;
  const std::string error = Outcome(parser, Vrn::CUnicodeString::FromUtf8(input));
  if (!error.empty()) return error.starts_with("ERR_TOOLS_XML_PARSING_") ? std::string() : "parse raised " + error;
  std::string broken;
  Vrn::CUnicodeString saved;
  if (Refused([&] { saved = parser.Save(); }, broken)) return broken.empty() ? std::string() : "save: " + broken;
  Tarsel::CXMLParser again;
  const std::string reparsed = Outcome(again, saved);
  if (!reparsed.empty()) return "the saved text does not parse again: " + reparsed;
  if (again.Save() != saved) return "the saved text saves differently after parsing it again";
  return {};
}

}  // namespace

CTarget XmlTarget() {
  CTarget target{L"xml", ReadCorpus(L"xml"), {}, 0.15, 1, CheckXml};
  target.tokens = {"<"sv,   ">"sv,         "/>"sv,           "</"sv,        "="sv,    "\""sv,         "'"sv,
                   "!"sv,   "?"sv,         "--"sv,           "&"sv,         "&lt;"sv, "&amp"sv,       "<!--"sv,
                   "-->"sv, "<![CDATA["sv, "]]>"sv,          "<?xml a?>"sv, "?>"sv,   " "sv,          "\n"sv,
                   "\0"sv,  "\xC2\xA0"sv,  "\xED\xA0\x80"sv, "<a>"sv,       "</a>"sv, "<a b='c'/>"sv, "\xEF\xBB\xBF"sv};
  return target;
}

}  // namespace Fuzz
