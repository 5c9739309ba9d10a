// CXMLParser::Parse: where text, lines and flags land in the tree, string sharing, the
// element-closed callback and failure atomicity. Errors with their line counts, entities and round
// trips are replayed from the corpus (XmlCorpusTest.cpp).
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
  const CXMLNode* d = c->NextSibling();
  EXPECT_EQ(d->Line(), 5);
  EXPECT_EQ(d->Text(), L"<x>");
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

TEST(XmlParser, ReportsElementsClosedByEndTagsAndKeepsThePreviousTreeOnFailure) {
  CXMLParser parser;
  parser.Parse(L"<kept/>");
  std::vector<std::wstring> closed;
  parser.SetElementClosedCallback([&](CXMLNode& element) {
    closed.push_back(element.Name().ToStdString());
    if (element.Name() == L"stop") Vrn::Raise<Vrn::CCheckException>(L"ERR_TEST", L"stop");
  });
  try {
    parser.Parse(L"<a><b></b><c/><d><e></e></d><stop></stop></a>");
    ADD_FAILURE() << "the callback's exception was lost";
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr e(raw);
  }
  EXPECT_EQ(closed, (std::vector<std::wstring>{L"b", L"e", L"d", L"stop"}));
  EXPECT_EQ(parser.Save(), L"<kept/>\r\n");
}

}  // namespace
