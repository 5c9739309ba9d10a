// CXMLParser::Parse and the entity codec: where text, lines and flags land in the tree, string
// sharing, the element-closed callback, failure atomicity and the error texts. The error table
// with its line counts is replayed from the corpus (XmlCorpusTest.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Errors.h"
#include "XmlParserTS.h"

namespace {

using Tarsel::CXMLNode;
using Tarsel::CXMLParser;
using Vrn::CUnicodeString;

TEST(XmlParser, PlacesTextLinesAndFlagsWhereTheyWereRead) {
  CXMLParser parser;
  parser.Parse(L"<?xml version=\"1.0\" ?>\n<r a=' 1 '>\n  head <![CDATA[ raw ]]>\n<c/>tail\n\n<d>&lt;x&gt;</d></r>");
  const CXMLNode& root = parser.GetRoot();
  EXPECT_EQ(root.Name(), L"XMLROOT");
  EXPECT_EQ(root.Line(), -1);
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
  EXPECT_FALSE(c->TailIsCData());
  const CXMLNode* d = c->NextSibling();
  EXPECT_EQ(d->Line(), 5);
  EXPECT_EQ(d->Text(), L"<x>");
  EXPECT_EQ(d->NextSibling(), nullptr);
  EXPECT_EQ(d->Parent(), r);
}

TEST(XmlParser, EqualNamesAndValuesShareOneString) {
  CXMLParser parser;
  parser.Parse(L"<add key=\"k\"><add key=\"k\" value=\"key\"/><add value=\"k\"/></add>");
  const CXMLNode& first = *parser.GetRoot().FirstChild();
  const CXMLNode& second = *first.FirstChild();
  const CXMLNode& third = *second.NextSibling();
  EXPECT_TRUE(first.Name().SharesBufferWith(second.Name()));
  EXPECT_TRUE(first.AttributeName(0).SharesBufferWith(second.AttributeName(0)));
  EXPECT_TRUE(first.AttributeValue(0).SharesBufferWith(third.AttributeValue(0)));   // a value equal to a value
  EXPECT_TRUE(second.AttributeName(0).SharesBufferWith(second.AttributeValue(1)));  // and to a name
}

TEST(XmlParser, ReportsElementsClosedByEndTagsInOrder) {
  CXMLParser parser;
  std::vector<std::wstring> closed;
  parser.SetElementClosedCallback([&](CXMLNode& element) {
    closed.push_back(element.Name().ToStdString());
    element.SetAttribute(L"seen", L"1");
  });
  parser.Parse(L"<a><b></b><c/><d><e></e></d></a>");
  EXPECT_EQ(closed, (std::vector<std::wstring>{L"b", L"e", L"d", L"a"}));
  EXPECT_EQ(parser.Save(),
            L"<a seen=\"1\">\r\n\t<b seen=\"1\"/>\r\n\t<c/>\r\n\t<d seen=\"1\">\r\n\t\t<e seen=\"1\"/>\r\n"
            L"\t</d>\r\n</a>\r\n");
}

// The name of the exception Parse raised, or "" when it parsed.
std::wstring ParseFailure(CXMLParser& parser, const CUnicodeString& text, CUnicodeString* message = nullptr) {
  try {
    parser.Parse(text);
    return {};
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr e(raw);
    if (message != nullptr) *message = e->MessageText();
    const auto* check = dynamic_cast<const Vrn::CCheckException*>(e.get());
    return check != nullptr ? check->Name().ToStdString() : L"(other)";
  }
}

TEST(XmlParser, FailedParseLeavesThePreviousTree) {
  CXMLParser parser;
  parser.Parse(L"<kept/>");
  parser.SetElementClosedCallback([](CXMLNode&) { Vrn::Raise<Vrn::CCheckException>(L"ERR_TEST", L"stop"); });
  EXPECT_EQ(ParseFailure(parser, L"<a></a>"), L"ERR_TEST");
  EXPECT_EQ(ParseFailure(parser, L"<a>"), Tarsel::kErrUnexpectedEof);
  EXPECT_EQ(parser.Save(), L"<kept/>\r\n");
}

TEST(XmlParser, ErrorsReadAsEnglishSentencesWithTheirParameters) {
  CXMLParser parser;
  CUnicodeString message;
  ASSERT_EQ(ParseFailure(parser, L"<a>\n\n<b></c>", &message), Tarsel::kErrTagsMismatch);
  EXPECT_EQ(message,
            L"XML parsing error at line 2 (counting from 0): the end tag \"c\" does not match the open element "
            L"\"b\".");
}

TEST(XmlEntities, DecodeOnlyThePredefinedFiveAndEncodeBack) {
  const struct {
    const wchar_t* encoded;
    const wchar_t* decoded;
    const wchar_t* reencoded;
  } cases[] = {
      {L"&lt;&gt;&amp;&apos;&quot;", L"<>&'\"", L"&lt;&gt;&amp;&apos;&quot;"},
      {L"&amp;lt;", L"&lt;", L"&amp;lt;"},  // decoded once, never twice
      {L"&#60;&nbsp;&LT;&lt&", L"&#60;&nbsp;&LT;&lt&", L"&amp;#60;&amp;nbsp;&amp;LT;&amp;lt&amp;"},
      {L"a&&lt;;b", L"a&<;b", L"a&amp;&lt;;b"},
      {L"plain", L"plain", L"plain"},
  };
  for (const auto& c : cases) {
    const CUnicodeString decoded = Tarsel::DecodeEntities(c.encoded);
    EXPECT_EQ(decoded, c.decoded);
    EXPECT_EQ(Tarsel::EncodeEntities(decoded), c.reencoded);
  }
  const CUnicodeString plain = L"no entities";
  EXPECT_TRUE(Tarsel::EncodeEntities(plain).SharesBufferWith(plain));
}

}  // namespace
