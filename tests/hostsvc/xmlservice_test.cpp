// The host's XML reader as the engine's configuration reader walks it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hostsession.h"
#include "image_copy.h"
#include "ixmlparser.h"
#include "orbhost_test.h"
#include "wince_sim.h"

namespace {

using camera::test::HostTest;

const char kConfig[] =
    "<?xml version=\"1.0\"?>\n"
    "<!-- device data -->\n"
    "<CameraEngineConfig>\n"
    "  <SensorConfig ClassID=\"0x0108AED0\">\n"
    "    <DefaultTuningData ClassID=\"0x0108AECE\"/>\n"
    "    <BestShotConfig Name=\"Night\" Index=\"2\" ClassID=\"0x01090002\"/>\n"
    "  </SensorConfig>\n"
    "  <ELFS>\n"
    "    <!-- flash -->\n"
    "    <Entry ClassID=\"0x01089A8C\" Role=\"Flash\" OfflineProc=\"FALSE\" Role=\"AWB\"/>\n"
    "  </ELFS>\n"
    "</CameraEngineConfig>\n";

std::string Name(IXmlElement* e) {
  char buf[50];
  uint32_t len = 0;
  EXPECT_EQ(PVL_OK, e->GetName(buf, sizeof buf, &len));
  EXPECT_EQ(len, std::strlen(buf) + 1);
  return buf;
}

class XmlService : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    camera::test::WriteImageFile("fs/~0x01061a6f/CameraEngineConfig.xml", kConfig);
    parser_ = Create<IXmlParser>(ZUEUID_CLASS_XML_PARSER);
    ASSERT_NE(nullptr, parser_);
  }
  void TearDown() override {
    if (parser_) parser_->Release();
    HostTest::TearDown();
  }
  IXmlParser* parser_ = nullptr;
};

TEST_F(XmlService, WalksTheEngineConfigurationAsItsReaderDoes) {
  const int32_t liveBefore = OrbhostTest_LiveHostObjects();
  IXmlDocument* doc = nullptr;
  ASSERT_EQ(PVL_OK, parser_->Load("fs:/~0x01061a6f/CameraEngineConfig.xml", &doc));
  IXmlElement* root = nullptr;
  ASSERT_EQ(PVL_OK, doc->GetDocumentElement(&root));
  doc->Release();  // the element keeps the document alive
  EXPECT_EQ("CameraEngineConfig", Name(root));

  IXmlElementList* children = nullptr;
  ASSERT_EQ(PVL_OK, root->GetChildren(&children));
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, children->GetCount(&count));
  ASSERT_EQ(2u, count);  // elements only
  IXmlElement* sensor = nullptr;
  IXmlElement* elfs = nullptr;
  ASSERT_EQ(PVL_OK, children->GetItem(0, &sensor));
  ASSERT_EQ(PVL_OK, children->GetItem(1, &elfs));
  IXmlElement* none = reinterpret_cast<IXmlElement*>(1);
  EXPECT_EQ(PVL_E_BADARG, children->GetItem(2, &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ("SensorConfig", Name(sensor));
  EXPECT_EQ("ELFS", Name(elfs));

  IXmlElementList* entries = nullptr;
  ASSERT_EQ(PVL_OK, elfs->GetChildren(&entries));
  IXmlElement* entry = nullptr;
  ASSERT_EQ(PVL_OK, entries->GetItem(0, &entry));
  IXmlAttributeList* attrs = nullptr;
  ASSERT_EQ(PVL_OK, entry->GetAttributes(&attrs));
  ASSERT_EQ(PVL_OK, attrs->GetCount(&count));
  ASSERT_EQ(4u, count);  // the duplicate Role is kept, in order
  const char* expected[][2] = {{"ClassID", "0x01089A8C"}, {"Role", "Flash"}, {"OfflineProc", "FALSE"}, {"Role", "AWB"}};
  for (uint32_t i = 0; i < count; ++i) {
    SCOPED_TRACE(testing::Message() << "attribute " << expected[i][0] << "=\"" << expected[i][1] << "\"");
    IXmlAttribute* a = nullptr;
    ASSERT_EQ(PVL_OK, attrs->GetItem(i, &a));
    char name[50], value[50];
    uint32_t nameLen = 0, valueLen = 0;
    EXPECT_EQ(PVL_OK, a->GetName(name, sizeof name, &nameLen));
    EXPECT_EQ(PVL_OK, a->GetValue(value, sizeof value, &valueLen));
    EXPECT_STREQ(expected[i][0], name);
    EXPECT_STREQ(expected[i][1], value);
    EXPECT_EQ(std::strlen(expected[i][1]) + 1, valueLen);
    a->Release();
  }
  IXmlAttribute* noAttr = nullptr;
  EXPECT_EQ(PVL_E_BADARG, attrs->GetItem(4, &noAttr));

  // A cut copy stays terminated and reports the full length; a null buffer asks for it.
  char small[5];
  uint32_t len = 0;
  EXPECT_EQ(PVL_OK, sensor->GetName(small, sizeof small, &len));
  EXPECT_STREQ("Sens", small);
  EXPECT_EQ(13u, len);
  len = 0;
  EXPECT_EQ(PVL_OK, sensor->GetName(nullptr, 0, &len));
  EXPECT_EQ(13u, len);
  EXPECT_EQ(PVL_E_NULLPTR, sensor->GetName(nullptr, 10, &len));
  char text[8];
  EXPECT_EQ(PVL_OK, entry->GetText(text, sizeof text, &len));
  EXPECT_EQ(1u, len);  // an empty element has an empty text

  for (IPvlBase* o : std::initializer_list<IPvlBase*>{attrs, entry, entries, elfs, sensor, children, root}) o->Release();
  EXPECT_EQ(liveBefore, OrbhostTest_LiveHostObjects());
}

TEST_F(XmlService, MissingMalformedAndUnmappedFilesFailWithALogLine) {
  camera::test::WriteImageFile("fs/~0x01061a6f/Broken.xml", "<a>\n<b>\n</a>\n");
  struct Case {
    const char* path;
    PvlResult result;
    const char* log;
  } cases[] = {
      {"fs:/~0x01061a6f/Missing.xml", PVL_E_NOTFOUND, "Missing.xml\" not found"},
      {"fs:/~0x01061a6f/Broken.xml", PVL_E_FAIL, "line 3: end tag </a> does not match <b>"},
      {"fs:/~0x01061a6f", PVL_E_FAIL, "cannot load"},  // a directory
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    camera::test::DebugCapture capture;
    IXmlDocument* doc = reinterpret_cast<IXmlDocument*>(1);
    EXPECT_EQ(c.result, parser_->Load(c.path, &doc));
    EXPECT_EQ(nullptr, doc);
    EXPECT_TRUE(CeSimDebugCapturedContains(c.log));
  }
  IXmlDocument* doc = nullptr;
  EXPECT_EQ(PVL_E_NULLPTR, parser_->Load(nullptr, &doc));
  EXPECT_EQ(PVL_E_NULLPTR, parser_->Load("fs:/x.xml", nullptr));
}

}  // namespace
