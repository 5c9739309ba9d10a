// CXMLParser::Save. The exact layout (tabs, CRLF, quotes, empty elements, CDATA, text beside
// children) is checked through the .expected files of the corpus; here only the depth limit.
#include <memory>

#include "CoreFixtures.h"
#include "XmlParserTS.h"

namespace {

using Tarsel::CXMLNode;

TEST(XmlWriter, RefusesATreeOneLevelDeeperThanTheLimit) {
  Tarsel::CXMLParser parser;
  CXMLNode* leaf = &parser.GetRoot();
  for (size_t i = 0; i <= Tarsel::kMaxSaveDepth; ++i) leaf = &leaf->AppendChild(std::make_unique<CXMLNode>(L"a"));
  const auto refused = TestSupport::CatchRaised<Vrn::CCheckException>([&] { parser.Save(); });
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->Name(), Tarsel::kErrTooDeep);
  EXPECT_EQ(refused->MessageText(), L"The XML document is nested deeper than 4096 elements and cannot be saved.");
}

}  // namespace
