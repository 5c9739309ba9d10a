// CXMLParser::Parse: where text, lines and flags land in the tree, the element-closed callback and
// failure atomicity; then hostile and edge-case inputs: the corpus under Tests/Data/xml and
// generated giants. Mutants of the corpus are the fuzzer's (the FuzzSmoke test, `make fuzz`).
#include <string>
#include <vector>

#include "CoreFixtures.h"
#include "Files.h"
#include "TestSupport.h"
#include "XmlParserTS.h"

namespace {

using Tarsel::CXMLNode;
using Tarsel::CXMLParser;
using Vrn::CUnicodeString;

// The error a parse raised (name, parameters, text); an empty name when it gave a tree.
struct COutcome {
  std::wstring error;
  std::vector<std::wstring> params;
  std::wstring message;
};

COutcome ParseOutcome(CXMLParser& parser, const CUnicodeString& text) {
  const Vrn::CExceptionPtr e = Vrn::Caught([&] { parser.Parse(text); });
  if (!e) return {};
  COutcome outcome{L"(not a named error)", {}, e->MessageText().ToStdString()};
  if (const auto* check = dynamic_cast<const Vrn::CCheckException*>(e.get())) {
    outcome.error = check->Name().ToStdString();
    for (const CUnicodeString& param : check->Params()) outcome.params.push_back(param.ToStdString());
  }
  return outcome;
}

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
  for (const auto& entry : Vrn::ListDirectory(TestSupport::DataPath(L"xml"), L"*.xml", Vrn::ListFiles))
    names.push_back(entry.name.ToStdString());
  return names;
}

TEST(XmlParser, PlacesTextLinesAndFlagsWhereTheyWereRead) {
  CXMLParser parser;
  parser.Parse(L"<?xml version=\"1.0\" ?>\n<r a=' 1 '>\n  head <![CDATA[ raw ]]>\n<c/>tail\n\n<d>&lt;x&gt;</d></r>");
  const CXMLNode& root = parser.GetRoot();
  EXPECT_EQ(root.Header(), L"version=\"1.0\"");
  const CXMLNode* r = root.FirstChild();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Line(), 1);
  EXPECT_EQ(r->AttributeValue(0), L"1");
  EXPECT_EQ(r->Text(), L"head raw ");  // plain text trimmed, CDATA kept as is
  EXPECT_TRUE(r->TextIsCData());
  const CXMLNode* c = r->FirstChild();
  EXPECT_EQ(c->Line(), 3);
  EXPECT_EQ(c->TailText(), L"tail");
  const CXMLNode* d = c->NextSibling();
  EXPECT_EQ(d->Line(), 5);
  EXPECT_EQ(d->Text(), L"<x>");
}

TEST(XmlParser, ReportsElementsClosedByEndTagsAndKeepsThePreviousTreeOnFailure) {
  CXMLParser parser;
  parser.Parse(L"<kept/>");
  std::vector<std::wstring> closed;
  parser.SetElementClosedCallback([&](CXMLNode& element) {
    closed.push_back(element.Name().ToStdString());
    if (element.Name() == L"stop") Vrn::Raise<Vrn::CCheckException>(L"ERR_TEST", L"stop");
  });
  EXPECT_EQ(ParseOutcome(parser, L"<a><b></b><c/><d><e></e></d><stop></stop></a>").error, L"ERR_TEST");
  EXPECT_EQ(closed, (std::vector<std::wstring>{L"b", L"e", L"d", L"stop"}));
  EXPECT_EQ(parser.Save(), L"<kept/>\r\n");
}

// Beside each X.xml, X.expected holds either the exact Save() text, or the error name and its
// parameters on separate lines. Without it the file must parse.
TEST(XmlCorpus, EveryFileMeetsItsExpectation) {
  for (const std::wstring& file : CorpusFiles()) {
    SCOPED_TRACE(CUnicodeString(file).ToUtf8());
    const std::wstring expectedFile = file.substr(0, file.size() - 4) + L".expected";
    const std::wstring expected = Vrn::FileExists(TestSupport::DataPath(L"xml\\" + expectedFile))
                                      ? ReadCorpusFile(expectedFile).ToStdString()
                                      : std::wstring();
    CXMLParser parser;
    const COutcome outcome = ParseOutcome(parser, ReadCorpusFile(file));
    if (expected.starts_with(L"ERR_")) {
      std::wstring raised = outcome.error;
      for (const std::wstring& param : outcome.params) raised += L"\n" + param;
      EXPECT_EQ(raised, expected);
      // A sentence with its parameters filled in, never a bare name.
      EXPECT_TRUE(outcome.message.starts_with(L"XML parsing error at line " + outcome.params.at(0) + L" "));
      EXPECT_EQ(outcome.message.find(L'%'), std::wstring::npos);
      continue;
    }
    ASSERT_EQ(outcome.error, L"");
    if (!expected.empty()) {
      EXPECT_EQ(parser.Save().View(), expected);
    }
    ExpectStableSave(parser);
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
  // saveToo: the saved form of deep nesting grows with depth squared (indentation)
  const std::tuple<const char*, std::wstring, std::wstring_view, bool> cases[] = {
      {"deep nesting", Repeat(L"<a>", kDepth) + Repeat(L"</a>", kDepth), {}, false},
      {"deep nesting left open", Repeat(L"<a>\n", kDepth), Tarsel::kErrUnexpectedEof, false},
      {"10 MB attribute value", L"<a v=\"" + std::wstring(10 << 20, L'x') + L"\"/>", {}, true},
      {"100,000 attributes on one element", ManyAttributes(kDepth, L""), {}, true},
      {"repeat of an early attribute after 100,000", ManyAttributes(kDepth, L" n7=''"), Tarsel::kErrDuplicateAttribute,
       false},
      {"text split by 100,000 comments", L"<a>" + Repeat(L"x<!---->", kDepth) + L"</a>", {}, true},
  };
  for (const auto& [guards, text, error, saveToo] : cases) {
    SCOPED_TRACE(guards);
    CXMLParser parser;
    EXPECT_EQ(ParseOutcome(parser, text).error, error);
    if (saveToo) ExpectStableSave(parser);
  }
}

}  // namespace
