// Hostile and edge-case inputs for the XML reader: the corpus under Tests/Data/xml (every file must
// have an expectation here), generated giants, every truncation of a real file, and a seeded
// mutation run. The only acceptable outcomes are a tree or a parsing error.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Errors.h"
#include "TestSupport.h"
#include "XmlParserTS.h"

namespace {

using namespace std::string_view_literals;
using Tarsel::CXMLParser;
using Vrn::CUnicodeString;

// The error name and parameters a parse raised; an empty name when it gave a tree.
struct COutcome {
  std::wstring error;
  std::vector<std::wstring> params;
};

COutcome ParseOutcome(CXMLParser& parser, const CUnicodeString& text) {
  try {
    parser.Parse(text);
    return {};
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr e(raw);
    const auto* check = dynamic_cast<const Vrn::CCheckException*>(e.get());
    if (check == nullptr) return {L"(not a named error)", {}};
    COutcome outcome{check->Name().ToStdString(), {}};
    for (const CUnicodeString& param : check->Params()) outcome.params.push_back(param.ToStdString());
    return outcome;
  }
}

bool IsParseError(const std::wstring& name) { return name.starts_with(L"ERR_TOOLS_XML_PARSING_"); }

// Saving a parsed tree must give text that parses to a tree that saves the same again.
void ExpectStableSave(const CXMLParser& parser) {
  const CUnicodeString saved = parser.Save();
  CXMLParser again;
  ASSERT_EQ(ParseOutcome(again, saved).error, L"") << saved.ToUtf8();
  EXPECT_EQ(again.Save(), saved);
}

CUnicodeString ReadCorpusFile(const std::wstring& name) {
  return CUnicodeString::FromUtf8(TestSupport::ReadBytes(TestSupport::DataPath(L"xml\\" + name)));
}

std::vector<std::wstring> CorpusFiles() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW(TestSupport::DataPath(L"xml\\*.xml").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

struct CExpectation {
  std::wstring_view error;  // empty: must parse
  std::vector<std::wstring> params;
  std::wstring_view saved = {};  // for files that parse: the exact Save() text, when given
};

const std::map<std::wstring, CExpectation>& Expectations() {
  static const std::map<std::wstring, CExpectation> expectations = {
      {L"ok-web-config.xml", {}},  // exact output checked by the writer tests
      {L"ok-entity-lookalikes-stay-literal.xml",
       {{},
        {},
        LR"(<a n="&amp;#160;&amp;nbsp;&amp;amp&amp;;&amp;LT;&amp;&lt;;">)"
        LR"(&amp;#x41; &amp;nbsp; &amp;amp &amp;; &amp;lt &apos;&quot;&amp;lt;</a>)"
        L"\r\n"}},
      {L"ok-apostrophe-quoted-values.xml", {{}, {}, L"<a x=\"say &quot;hi&quot;\" y=\"it&apos;s\" z=\"&apos;\"/>\r\n"}},
      {L"ok-blank-only-content.xml", {{}, {}, L"<a/>\r\n<b x=\"\"/>\r\n"}},
      {L"ok-comment-and-pi-before-declaration.xml", {{}, {}, L"<?xml version=\"1.0\"?>\r\n<root/>\r\n"}},
      {L"ok-cdata-containing-terminator.xml",
       {{}, {}, L"<a><![CDATA[x]]]]><![CDATA[>y]]>\r\n\t<b/>\r\n\r\n<![CDATA[]]]]><![CDATA[>]]>\r\n</a>\r\n"}},
      {L"ok-text-with-cdata-terminator.xml", {{}, {}, L"<a>x ]]&gt; y</a>\r\n"}},
      {L"ok-nul-characters.xml", {{}, {}, L"<a\0 v=\"x\0y\">te\0xt\r\n\t<\0/>\r\n</a\0>\r\n"sv}},
      {L"ok-non-ascii-names-and-values.xml",
       {{},
        {},
        L"<\u043a\u043e\u0440\u0435\u043d\u044c \u0438\u043c\u044f=\"\u0437\u043d\u0430\u0447\u0435\u043d\u0438\u0435 "
        L"\u20ac\">\U0001F600</\u043a\u043e\u0440\u0435\u043d\u044c>\r\n"}},
      {L"ok-mixed-text-between-children.xml",
       {{},
        {},
        L"<a>lead\r\n\t<b>in b</b>\r\n\r\nafter bstill after b\r\n\t<c/>\r\n\r\nafter "
        L"c\r\n</a>\r\n<top-level-tail/>\r\n"}},
      {L"ok-several-top-level-elements.xml", {{}, {}, L"<a/>\r\n<b/>\r\n<c x=\"1\"/>\r\n"}},
      {L"ok-attributes-without-blanks-between.xml", {{}, {}, L"<a x=\"1\" y=\"2\" z=\"3\"/>\r\n"}},
      {L"err-less-than-blank-in-text.xml", {Tarsel::kErrMissingId, {L"1"}}},
      {L"err-end-tag-without-name.xml", {Tarsel::kErrMissingId, {L"1"}}},
      {L"err-unterminated-comment.xml", {Tarsel::kErrMissingSymbol, {L"1", L"--"}}},
      {L"err-double-dash-inside-comment.xml", {Tarsel::kErrMissingSymbol, {L"0", L">"}}},
      {L"err-unterminated-cdata.xml", {Tarsel::kErrMissingSymbol, {L"0", L"]]>"}}},
      {L"err-cdata-keyword-misspelt.xml", {Tarsel::kErrMissingSymbol, {L"0", L"[CDATA["}}},
      {L"err-unterminated-attribute-value.xml", {Tarsel::kErrMissingSymbol, {L"0", L"\""}}},
      {L"err-unquoted-attribute-value.xml", {Tarsel::kErrMissingSymbol, {L"0", L"\""}}},
      {L"err-attribute-without-value.xml", {Tarsel::kErrMissingSymbol, {L"0", L"="}}},
      {L"err-blank-before-self-closing-gt.xml", {Tarsel::kErrMissingSymbol, {L"0", L">"}}},
      {L"err-unterminated-processing-instruction.xml", {Tarsel::kErrMissingSymbol, {L"0", L"?"}}},
      {L"err-doctype.xml", {Tarsel::kErrUnexpectedSymbol, {L"1", L"D"}}},
      {L"err-nul-after-bang.xml", {Tarsel::kErrUnexpectedSymbol, {L"0", std::wstring(1, L'\0')}}},
      {L"err-end-tag-without-open-element.xml", {Tarsel::kErrUnexpectedSymbol, {L"1", L"/"}}},
      {L"err-eof-after-less-than.xml", {Tarsel::kErrUnexpectedEof, {L"1"}}},
      {L"err-eof-inside-cdata-keyword.xml", {Tarsel::kErrUnexpectedEof, {L"0"}}},
      {L"err-eof-inside-start-tag.xml", {Tarsel::kErrUnexpectedEof, {L"1"}}},
      {L"err-eof-with-element-open.xml", {Tarsel::kErrUnexpectedEof, {L"4"}}},
      {L"err-mismatched-end-tag.xml", {Tarsel::kErrTagsMismatch, {L"2", L"B", L"b"}}},
      {L"err-duplicate-attribute.xml", {Tarsel::kErrDuplicateAttribute, {L"2", L"x"}}},
      {L"err-duplicate-attribute-after-decoding.xml", {Tarsel::kErrDuplicateAttribute, {L"0", L"'"}}},
      {L"err-declaration-after-element.xml", {Tarsel::kErrBadHeader, {L"1"}}},
      {L"err-declaration-inside-element.xml", {Tarsel::kErrBadHeader, {L"1"}}},
      {L"err-second-declaration.xml", {Tarsel::kErrBadHeader, {L"1"}}},
  };
  return expectations;
}

TEST(XmlCorpus, EveryFileMeetsItsExpectation) {
  const std::vector<std::wstring> files = CorpusFiles();
  EXPECT_EQ(files.size(), Expectations().size()) << "every corpus file needs an expectation and vice versa";
  for (const std::wstring& file : files) {
    SCOPED_TRACE(CUnicodeString(file).ToUtf8());
    const auto expected = Expectations().find(file);
    ASSERT_NE(expected, Expectations().end());
    CXMLParser parser;
    const COutcome outcome = ParseOutcome(parser, ReadCorpusFile(file));
    EXPECT_EQ(outcome.error, expected->second.error);
    EXPECT_EQ(outcome.params, expected->second.params);
    if (!outcome.error.empty()) continue;
    if (!expected->second.saved.empty()) {
      EXPECT_EQ(parser.Save().View(), expected->second.saved);
    }
    ExpectStableSave(parser);
  }
}

TEST(XmlCorpus, EveryTruncationOfARealFileParsesOrFailsCleanly) {
  const CUnicodeString text = ReadCorpusFile(L"ok-web-config.xml");
  for (size_t length = 0; length < text.Length(); ++length) {
    CXMLParser parser;
    const COutcome outcome = ParseOutcome(parser, text.Left(length));
    EXPECT_TRUE(outcome.error.empty() || IsParseError(outcome.error)) << length;
  }
}

std::wstring Repeat(std::wstring_view part, size_t count) {
  std::wstring text;
  text.reserve(part.size() * count);
  for (size_t i = 0; i < count; ++i) text.append(part);
  return text;
}

std::wstring ManyAttributes(size_t count, std::wstring_view last) {
  std::wstring text = L"<a";
  for (size_t i = 0; i < count; ++i) text += L" n" + std::to_wstring(i) + L"='v'";
  return text.append(last).append(L"/>");
}

TEST(XmlCorpus, GeneratedGiantsParseOrFailWithoutExhaustingStackOrTime) {
  constexpr size_t kDepth = 100000;
  const struct {
    const char* guards;
    std::wstring text;
    std::wstring_view error;
    bool saveToo;  // the saved form of deep nesting grows with depth squared (indentation)
  } cases[] = {
      {"deep nesting", Repeat(L"<a>", kDepth) + Repeat(L"</a>", kDepth), {}, false},
      {"deep nesting left open", Repeat(L"<a>\n", kDepth), Tarsel::kErrUnexpectedEof, false},
      {"10 MB attribute value", L"<a v=\"" + std::wstring(10 << 20, L'x') + L"\"/>", {}, true},
      {"100,000 attributes on one element", ManyAttributes(kDepth, L""), {}, true},
      {"repeat of an early attribute after 100,000", ManyAttributes(kDepth, L" n7=''"), Tarsel::kErrDuplicateAttribute,
       false},
      {"text split by 100,000 comments", L"<a>" + Repeat(L"x<!---->", kDepth) + L"</a>", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.guards);
    CXMLParser parser;
    EXPECT_EQ(ParseOutcome(parser, c.text).error, c.error);
    if (c.saveToo) ExpectStableSave(parser);
  }
}

// splitmix64: a fixed sequence on every platform, unlike the standard distributions.
class CRandom {
 public:
  explicit CRandom(uint64_t seed) : m_state(seed) {}
  size_t Below(size_t bound) {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return bound == 0 ? 0 : static_cast<size_t>((z ^ (z >> 31)) % bound);
  }

 private:
  uint64_t m_state;
};

std::wstring Mutate(std::wstring text, CRandom& random) {
  static constexpr std::wstring_view kFragments[] = {
      L"<",         L">",  L"/",  L"</",   L"/>",   L"=",  L"\"",   L"'",   L"!",         L"?",
      L"-",         L"--", L"&",  L"&lt;", L"&amp", L";",  L"<!--", L"-->", L"<![CDATA[", L"]]>",
      L"<?xml a?>", L"<?", L"?>", L" ",    L"\n",   L"\t", L"\0"sv, L"a",   L"\u00A0",
  };
  const size_t edits = 1 + random.Below(3);
  for (size_t i = 0; i < edits; ++i) {
    const size_t at = random.Below(text.size() + 1);
    const size_t span = std::min(text.size() - at, 1 + random.Below(16));
    switch (random.Below(5)) {
      case 0:
        text.insert(at, kFragments[random.Below(std::size(kFragments))]);
        break;
      case 1:
        text.erase(at, span);
        break;
      case 2:
        text.insert(at, text.substr(at, span));
        break;
      case 3:
        if (at < text.size()) text[at] = kFragments[random.Below(std::size(kFragments))].front();
        break;
      default:
        text.resize(at);
    }
  }
  return text;
}

TEST(XmlCorpus, SeededMutantsGiveATreeOrAParsingError) {
  constexpr size_t kMutantsPerFile = 100;
  CRandom random(20261205);
  for (const std::wstring& file : CorpusFiles()) {
    const std::wstring original = ReadCorpusFile(file).ToStdString();
    for (size_t i = 0; i < kMutantsPerFile; ++i) {
      const std::wstring mutant = Mutate(original, random);
      CXMLParser parser;
      const COutcome outcome = ParseOutcome(parser, mutant);
      if (outcome.error.empty()) {
        ExpectStableSave(parser);
      } else {
        EXPECT_TRUE(IsParseError(outcome.error)) << CUnicodeString(mutant).ToUtf8();
      }
      if (HasFailure()) return;
    }
  }
}

}  // namespace
