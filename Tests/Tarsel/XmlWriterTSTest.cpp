// CXMLParser::Save: the exact layout (tabs, CRLF, CDATA splitting, text beside children) for parsed
// and hand-built trees.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestSupport.h"
#include "XmlParserTS.h"

namespace {

using Tarsel::CXMLNode;
using Tarsel::CXMLParser;
using Vrn::CUnicodeString;

TEST(XmlWriter, RewritesAConfigurationFileWithTabsAndCrLf) {
  CXMLParser parser;
  parser.Parse(CUnicodeString::FromUtf8(TestSupport::ReadBytes(TestSupport::DataPath(L"xml\\ok-web-config.xml"))));
  EXPECT_EQ(parser.Save(),
            L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            L"<configuration>\r\n"
            L"\t<configSections>\r\n"
            L"\t\t<section name=\"log\" type=\"Orvant.Log, Orvant\" requirePermission=\"false\"/>\r\n"
            L"\t</configSections>\r\n"
            L"\t<appSettings>\r\n"
            L"\t\t<add key=\"ServerName\" value=\"localhost\"/>\r\n"
            L"\t\t<add key=\"Port\" value=\"8080\"/>\r\n"
            L"\t\t<add key=\"Query\" value=\"a &lt; b &amp;&amp; c &gt; d\"/>\r\n"
            L"\t</appSettings>\r\n"
            L"\t<system.web>\r\n"
            L"\t\t<compilation debug=\"false\" targetFramework=\"4.8\"/>\r\n"
            L"\t\t<customErrors mode=\"RemoteOnly\">\r\n"
            L"\t\t\t<error statusCode=\"404\" redirect=\"NotFound.htm\"/>\r\n"
            L"\t\t</customErrors>\r\n"
            L"\t</system.web>\r\n"
            L"\t<log><![CDATA[Started <raw> & \"quoted\" Done]]></log>\r\n"
            L"</configuration>\r\n");
}

TEST(XmlWriter, WritesAHandBuiltTreeThatReadsBackTheSame) {
  CXMLParser parser;
  CXMLNode& root = parser.GetRoot();
  root.SetHeader(L"version=\"1.0\"");
  CXMLNode& doc = root.AppendChild(std::make_unique<CXMLNode>(L"a&b"));
  doc.SetAttribute(L"q", L"'\"<>&");
  doc.SetText(L"lead");
  CXMLNode& child = doc.AppendChild(std::make_unique<CXMLNode>(L"c"));
  child.SetText(L"x]]>y]]>", true);
  child.SetTailText(L"tail", true);
  root.AppendChild(std::make_unique<CXMLNode>(L"second")).SetTailText(L"never written");
  const CUnicodeString saved = parser.Save();
  EXPECT_EQ(saved,
            L"<?xml version=\"1.0\"?>\r\n"
            L"<a&amp;b q=\"&apos;&quot;&lt;&gt;&amp;\">lead\r\n"
            L"\t<c><![CDATA[x]]]]><![CDATA[>y]]]]><![CDATA[>]]></c>\r\n"
            L"\r\n"
            L"<![CDATA[tail]]>\r\n"
            L"</a&amp;b>\r\n"
            L"<second/>\r\n");
  CXMLParser reread;
  reread.Parse(saved);
  const CXMLNode& c = *reread.GetRoot().FirstChild()->FirstChild();
  EXPECT_EQ(c.Text(), L"x]]>y]]>");
  EXPECT_EQ(c.TailText(), L"tail");
  EXPECT_TRUE(c.TailIsCData());
  EXPECT_EQ(reread.GetRoot().FirstChild()->AttributeValue(0), L"'\"<>&");
}

TEST(XmlWriter, IndentsEachLevelOfADeepDocumentByOneTab) {
  constexpr size_t kDepth = 2000;
  std::wstring text;
  for (size_t i = 0; i < kDepth; ++i) text += L"<n>";
  for (size_t i = 0; i < kDepth; ++i) text += L"</n>";
  CXMLParser parser;
  parser.Parse(text);
  const std::wstring saved = parser.Save().ToStdString();
  EXPECT_NE(saved.find(L"\r\n" + std::wstring(kDepth - 1, L'\t') + L"<n/>\r\n" + std::wstring(kDepth - 2, L'\t') +
                       L"</n>\r\n"),
            std::wstring::npos);
  EXPECT_TRUE(saved.ends_with(L"\r\n\t</n>\r\n</n>\r\n"));
}

}  // namespace
