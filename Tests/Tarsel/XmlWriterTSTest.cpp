// CXMLParser::Save. The exact layout (tabs, CRLF, quotes, empty elements, CDATA, text beside
// children) is checked through the .expected files of the corpus; here only the depth limit.
#include <gtest/gtest.h>

#include <memory>

#include "Errors.h"
#include "XmlParserTS.h"

namespace {

using Tarsel::CXMLNode;

TEST(XmlWriter, RefusesATreeOneLevelDeeperThanTheLimit) {
  Tarsel::CXMLParser parser;
  CXMLNode* leaf = &parser.GetRoot();
  for (size_t i = 0; i <= Tarsel::kMaxSaveDepth; ++i) leaf = &leaf->AppendChild(std::make_unique<CXMLNode>(L"a"));
  try {
    parser.Save();
    ADD_FAILURE() << "saved";
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr e(raw);
    const auto* check = dynamic_cast<const Vrn::CCheckException*>(e.get());
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->Name(), Tarsel::kErrTooDeep);
    EXPECT_EQ(e->MessageText(), L"The XML document is nested deeper than 4096 elements and cannot be saved.");
  }
}

}  // namespace
