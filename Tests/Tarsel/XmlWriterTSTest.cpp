// CXMLParser::Save: the exact layout of a configuration file (tabs, CRLF, quotes, empty elements,
// CDATA). Text beside children and CDATA splitting are checked through the corpus.
#include <gtest/gtest.h>

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

}  // namespace
