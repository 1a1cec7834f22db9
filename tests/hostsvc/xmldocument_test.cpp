// The XML reader: what a configuration file may contain, and how faults are reported.
#include "xmldocument.h"

#include <gtest/gtest.h>

#include "image_copy.h"

using orbhost::services::XmlDocument;
using orbhost::services::XmlElement;
using orbhost::services::XmlError;
using orbhost::services::XmlStatus;

namespace {

std::unique_ptr<XmlDocument> ParseOk(std::string_view text) {
  XmlError err;
  auto doc = XmlDocument::Parse(text, err);
  EXPECT_TRUE(doc) << err.message;
  EXPECT_EQ(err.status, XmlStatus::kOk);
  return doc;
}

TEST(XmlDocument, ReadsPrettyPrintedEngineConfigurationWithCommentsAndProlog) {
  auto doc = ParseOk(
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<!-- device data -->\n"
      "<!DOCTYPE CameraEngineConfig [ <!ELEMENT x ANY> ]>\n"
      "<CameraEngineConfig>\n"
      "  <!-- the main sensor -->\n"
      "  <SensorConfig ClassID=\"0x0108AED0\">\n"
      "    <DefaultTuningData ClassID='0x0108AECE'/>\n"
      "    <?editor keep?>\n"
      "    <BestShotConfig Name=\"Night\" Index=\"2\" ClassID=\"0x01090001\" />\n"
      "  </SensorConfig>\n"
      "  <ELFS>\n"
      "    <Plugin ClassID=\"0x01089A8C\" Role=\"Flash\" OfflineProc=\"FALSE\"></Plugin>\n"
      "  </ELFS>\n"
      "</CameraEngineConfig>\n"
      "<!-- trailing comment -->\n");
  ASSERT_TRUE(doc);
  const XmlElement& root = doc->Root();
  EXPECT_EQ(root.Name(), "CameraEngineConfig");
  ASSERT_EQ(root.Children().size(), 2u);  // elements only: no text, comment or PI nodes
  const XmlElement& sensor = *root.Children()[0];
  EXPECT_EQ(sensor.Name(), "SensorConfig");
  EXPECT_EQ(sensor.Line(), 6);
  ASSERT_EQ(sensor.Children().size(), 2u);
  EXPECT_EQ(sensor.Children()[0]->FindAttribute("ClassID")->value, "0x0108AECE");
  const XmlElement& bestShot = *sensor.Children()[1];
  ASSERT_EQ(bestShot.Attributes().size(), 3u);
  EXPECT_EQ(bestShot.Attributes()[0].name, "Name");
  EXPECT_EQ(bestShot.Attributes()[0].value, "Night");
  const XmlElement& elfs = *root.Children()[1];
  ASSERT_EQ(elfs.Children().size(), 1u);
  EXPECT_EQ(elfs.Children()[0]->FindAttribute("Role")->value, "Flash");
  EXPECT_TRUE(elfs.Children()[0]->Children().empty());
}

TEST(XmlDocument, KeepsDuplicateAttributesInDocumentOrder) {
  auto doc = ParseOk("<a Role=\"AWB\" x='1' Role=\"AF\"/>");
  ASSERT_TRUE(doc);
  const auto& attrs = doc->Root().Attributes();
  ASSERT_EQ(attrs.size(), 3u);
  EXPECT_EQ(attrs[0].value, "AWB");
  EXPECT_EQ(attrs[2].value, "AF");
  EXPECT_EQ(doc->Root().FindAttribute("Role")->value, "AWB");
  EXPECT_EQ(doc->Root().FindAttribute("role"), nullptr);  // exact match; callers fold case themselves
}

TEST(XmlDocument, ExpandsEntitiesCdataAndLineEnds) {
  struct Case {
    const char* doc;
    const char* text;
  } cases[] = {
      {"<a>&lt;&gt;&amp;&quot;&apos;</a>", "<>&\"'"},
      {"<a>&#65;&#x42;</a>", "AB"},
      {"<a>&#xE9;&#8364;&#x1F600;</a>", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"<a><![CDATA[<not> &amp; markup]]></a>", "<not> &amp; markup"},
      {"<a>one\r\ntwo\rthree</a>", "one\ntwo\nthree"},
      {"<a>x<b>inner</b>y<!-- c -->z</a>", "xyz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    auto doc = ParseOk(c.doc);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->Root().Text(), c.text);
  }
  auto doc = ParseOk("<a v=\"a&amp;b&#x20;c\td\ne\"/>");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->Root().FindAttribute("v")->value, "a&b c d e");
}

TEST(XmlDocument, MalformedInputGivesAnErrorWithItsLine) {
  struct Case {
    const char* doc;
    int line;
    const char* words;  // part of the message
  } cases[] = {
      {"", 1, "no document element"},
      {"   \n  <!-- only a comment -->\n", 3, "no document element"},
      {"<a>\n<b>\n</a>", 3, "does not match"},
      {"<a>\n  <b>\n", 2, "not closed"},
      {"<a>\n<!-- never closed\n</a>", 2, "comment not closed"},
      {"<a><!-- a -- b --></a>", 1, "\"--\""},
      {"<a>\n&unknown;</a>", 2, "unknown entity"},
      {"<a>&#xZZ;</a>", 1, "bad character reference"},
      {"<a>&#X43;</a>", 1, "bad character reference"},  // only a lower-case x marks hex
      {"<a>&#0;</a>", 1, "names no XML character"},
      {"<a>AT&T</a>", 1, "entity"},
      {"<a b=c/>", 1, "not quoted"},
      {"<a\n b=\"x/>", 2, "not closed"},
      {"<a b=\"<\"/>", 1, "'<'"},
      {"<a b='1'c='2'/>", 1, "missing blank"},
      {"<a b/>", 1, "without '='"},
      {"<a/><b/>", 1, "more than one document element"},
      {"<a/>\ntext", 2, "text after"},
      {"text<a/>", 1, "text outside"},
      {"<1a/>", 1, "bad element name"},
      {"<a>]]></a>", 1, "]]>"},
      {"<a><![CDATA[x</a>", 1, "CDATA section not closed"},
      {"<a><?pi never closed</a>", 1, "processing instruction not closed"},
      {"<a><!ELEMENT x></a>", 1, "markup declaration"},
      {"<a>\n\n</a  x>", 3, "not closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    XmlError err;
    EXPECT_FALSE(XmlDocument::Parse(c.doc, err));
    EXPECT_EQ(err.status, XmlStatus::kMalformed);
    EXPECT_EQ(err.line, c.line) << err.message;
    EXPECT_NE(err.message.find(c.words), std::string::npos) << err.message;
    EXPECT_EQ(err.message.rfind("line " + std::to_string(c.line) + ":", 0), 0u) << err.message;
  }
}

TEST(XmlDocument, RefusesNulBytesAndRunawayNesting) {
  XmlError err;
  std::string utf16("<\0a\0/\0>\0", 8);
  EXPECT_FALSE(XmlDocument::Parse(utf16, err));
  EXPECT_EQ(err.status, XmlStatus::kMalformed);

  std::string deep;
  for (int i = 0; i < XmlDocument::kMaxDepth; ++i) deep += "<e>";
  for (int i = 0; i < XmlDocument::kMaxDepth; ++i) deep += "</e>";
  EXPECT_TRUE(XmlDocument::Parse(deep, err)) << err.message;
  std::string tooDeep = "<e>" + deep + "</e>";
  EXPECT_FALSE(XmlDocument::Parse(tooDeep, err));
  EXPECT_NE(err.message.find("nested deeper"), std::string::npos);

  std::string big(XmlDocument::kMaxInputBytes + 1, ' ');
  EXPECT_FALSE(XmlDocument::Parse(big, err));
  EXPECT_EQ(err.status, XmlStatus::kTooLarge);
}

TEST(XmlDocument, LoadsFilesAndReportsMissingOrUnreadableOnes) {
  camera::test::WriteImageFile("fs/xmltest/good.xml", "<r><c/></r>");
  camera::test::WriteImageFile("fs/xmltest/bad.xml", "<r>\n<c>\n</r>");
  XmlError err;
  auto doc = XmlDocument::LoadFile(camera::test::ImagePath("fs/xmltest/good.xml"), err);
  ASSERT_TRUE(doc) << err.message;
  EXPECT_EQ(doc->Root().Children().size(), 1u);

  EXPECT_FALSE(XmlDocument::LoadFile(camera::test::ImagePath("fs/xmltest/missing.xml"), err));
  EXPECT_EQ(err.status, XmlStatus::kFileNotFound);
  EXPECT_NE(err.message.find("missing.xml"), std::string::npos);

  EXPECT_FALSE(XmlDocument::LoadFile(camera::test::ImagePath("fs/xmltest"), err));  // a directory
  EXPECT_EQ(err.status, XmlStatus::kReadError);

  EXPECT_FALSE(XmlDocument::LoadFile(camera::test::ImagePath("fs/xmltest/bad.xml"), err));
  EXPECT_EQ(err.status, XmlStatus::kMalformed);
  EXPECT_EQ(err.line, 3);
  EXPECT_NE(err.message.find("bad.xml: line 3:"), std::string::npos) << err.message;
}

}  // namespace
