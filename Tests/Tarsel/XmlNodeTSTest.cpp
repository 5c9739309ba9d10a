// CXMLNode and its tree: attribute edits, sibling search and misuse as internal errors. Freeing
// trees deeper than the stack is checked by the parser's 100,000-level document.
#include <functional>
#include <memory>

#include "CoreFixtures.h"
#include "XmlNodeTS.h"

namespace {

using Tarsel::CXMLNode;

TEST(XmlNode, SetAttributeReplacesInPlaceAndAddAttributeAlwaysAppends) {
  CXMLNode node(L"add");
  node.SetAttribute(L"key", L"a");
  node.SetAttribute(L"value", L"1");
  node.SetAttribute(L"key", L"b");
  node.AddAttribute(L"key", L"c");
  ASSERT_EQ(node.AttributeCount(), 3u);
  EXPECT_EQ(node.AttributeValue(0), L"b");
  EXPECT_EQ(node.AttributeValue(1), L"1");
  EXPECT_EQ(node.AttributeValue(2), L"c");
  EXPECT_EQ(node.FindAttribute(L"value"), 1u);
  EXPECT_EQ(node.FindAttribute(L"Value"), Vrn::CUnicodeString::npos);
}

TEST(XmlNode, FindNextSiblingByNameLooksOnlyAtLaterSiblingsWithExactCase) {
  CXMLNode parent(L"p");
  CXMLNode& first = parent.AppendChild(std::make_unique<CXMLNode>(L"add"));
  CXMLNode& second = parent.AppendChild(std::make_unique<CXMLNode>(L"Add"));
  CXMLNode& third = parent.AppendChild(std::make_unique<CXMLNode>(L"add"));
  EXPECT_EQ(first.FindNextSiblingByName(L"add"), &third);
  EXPECT_EQ(first.FindNextSiblingByName(L"Add"), &second);
  EXPECT_EQ(third.FindNextSiblingByName(L"add"), nullptr);
}

TEST(XmlNode, MisuseIsAnInternalError) {
  CXMLNode node(L"n");
  node.AddAttribute(L"a", L"1");
  const std::function<void()> misuses[] = {
      [] { CXMLNode unnamed(L""); },         [&] { node.AttributeName(1); },           [&] { node.AttributeValue(1); },
      [&] { node.SetAttribute(L"", L"x"); }, [&] { node.FindNextSiblingByName(L""); },
  };
  for (const auto& misuse : misuses) EXPECT_TRUE(TestSupport::CatchRaised<Vrn::CInternalError>(misuse));
}

}  // namespace
