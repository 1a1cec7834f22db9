// The engine configuration file: what a good file yields, the spellings the
// reader accepts, the files it refuses (with the file named in the log), and
// the file the device image ships.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "ccameraengineconfig.h"
#include "hostsymbols.h"
#include "ielfs.h"
#include "image_copy.h"
#include "orbhost_test.h"
#include "pvllog.h"
#include "wince_sim.h"

namespace {

const char kPath[] = "fs:/~0x01061a6f/Test.xml";

std::string Doc(const std::string& body) { return "<?xml version=\"1.0\"?>\n<Config>\n" + body + "</Config>\n"; }

class EngineConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    hostObjects_ = OrbhostTest_LiveHostObjects();
  }
  void TearDown() override {
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework heap blocks left behind";
    EXPECT_EQ(OrbhostTest_LiveHostObjects(), hostObjects_) << "host objects left behind";
  }
  // Reads `text` as the configuration; the log lines go to *log.
  PvlResult Read(const std::string& text, CCameraEngineConfig** out = nullptr, std::vector<std::string>* log = nullptr) {
    camera::test::WriteImageFile("fs/~0x01061a6f/Test.xml", text);
    // The engine's own lines, and the host's (the XML reader names file and line).
    OrbhostTest_MessageCaptureBegin();
    CeSimDebugCaptureBegin();
    PvlResult r = PVL_E_FAIL;
    auto* config = new CCameraEngineConfig(env_, kPath, &r);
    std::vector<std::string> hostLines = CeSimDebugCaptured();
    CeSimDebugCaptureEnd();
    for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd())
      if (log) log->push_back(m.text);
    if (log) log->insert(log->end(), hostLines.begin(), hostLines.end());
    if (out) {
      *out = config;
    } else {
      delete config;
    }
    return r;
  }

  CPvlPtr<IEnv> env_;
  uint32_t blocks_ = 0;
  int32_t hostObjects_ = 0;
};

TEST_F(EngineConfigTest, AGoodFileYieldsItsSensorsAndPluginsInFileOrder) {
  CCameraEngineConfig* config = nullptr;
  ASSERT_EQ(PVL_OK, Read(Doc("  <SensorConfig ClassID=\"0x0108AED0\">\n"
                             "    <DefaultTuningData ClassID=\"0x0108AECE\"/>\n"
                             "    <BestShotConfig Name=\"Night\" Index=\"2\" ClassID=\"0x01090002\"/>\n"
                             "    <BestShotConfig Name=\"Snow\" Index=\"5\" ClassID=\"0x01090005\"/>\n"
                             "    <Unknown ClassID=\"7\"/>\n"
                             "  </SensorConfig>\n"
                             "  <SensorConfig ClassID=\"12\"/>\n"
                             "  <ELFS>\n"
                             "    <Plugin ClassID=\"0x01089A8C\" Role=\"Flash\" OfflineProc=\"FALSE\"/>\n"
                             "    <Other ClassID=\"0x01046293\" Role=\"AEC\" OfflineProc=\"TRUE\"/>\n"
                             "  </ELFS>\n"),
                         &config));
  ASSERT_EQ(2u, config->GetSensorConfigCount());
  const SensorConfigEntry& s = config->GetSensorConfig(0);
  EXPECT_EQ(0x0108aed0u, s.GetClassId());
  EXPECT_EQ(0x0108aeceu, s.GetDefaultTuningData());
  ASSERT_EQ(2u, s.GetBestShotCount());
  EXPECT_EQ(2u, s.GetBestShot(0).GetIndex());
  EXPECT_EQ(0x01090002u, s.GetBestShot(0).GetClassId());
  EXPECT_STREQ("Night", s.GetBestShot(0).name);
  EXPECT_EQ(5u, s.GetBestShot(1).GetIndex());
  // Without DefaultTuningData the sensor is still accepted, with none.
  EXPECT_EQ(12u, config->GetSensorConfig(1).GetClassId());
  EXPECT_EQ(0u, config->GetSensorConfig(1).GetDefaultTuningData());
  ASSERT_EQ(2u, config->GetElfsCount());
  EXPECT_EQ(0x01089a8cu, config->GetElfsEntry(0).classId);
  EXPECT_EQ(ELFS_ROLE_OTHER, config->GetElfsEntry(0).role);
  EXPECT_EQ(0, config->GetElfsEntry(0).offlineProcessing);
  EXPECT_EQ(ELFS_ROLE_AEC, config->GetElfsEntry(1).role);
  EXPECT_EQ(1, config->GetElfsEntry(1).offlineProcessing);
  delete config;
}

TEST_F(EngineConfigTest, AccessorsOutOfRangeThrow14) {
  CCameraEngineConfig* config = nullptr;
  ASSERT_EQ(PVL_OK, Read(Doc("<SensorConfig ClassID=\"1\"/><ELFS><P ClassID=\"2\" Role=\"AF\" OfflineProc=\"x\"/></ELFS>"),
                         &config));
  auto code = [](auto f) {
    try {
      f();
    } catch (const Camera::CZUEException& e) {
      return e.GetResult();
    }
    return PvlResult(PVL_OK);
  };
  EXPECT_EQ(PVL_E_BADARG, code([&] { config->GetElfsEntry(1); }));
  EXPECT_EQ(PVL_E_BADARG, code([&] { config->GetSensorConfig(1); }));
  EXPECT_EQ(PVL_E_BADARG, code([&] { config->GetSensorConfig(0).GetBestShot(0); }));
  EXPECT_EQ(PVL_OK, code([&] { config->GetElfsEntry(0); }));
  delete config;
}

// One ELFS entry per case: its attributes, the role and flag read.
TEST_F(EngineConfigTest, RoleAndOfflineSpellings) {
  struct Case {
    const char* name;
    std::string attributes;
    uint32_t classId;
    uint32_t role;
    uint8_t offline;
  };
  const std::string longText(60, 'A');
  const Case cases[] = {
      {"lower-case awb", "ClassID=\"1\" Role=\"awb\" OfflineProc=\"FALSE\"", 1, ELFS_ROLE_AWB, 0},
      {"AEC", "ClassID=\"1\" Role=\"AEC\" OfflineProc=\"FALSE\"", 1, ELFS_ROLE_AEC, 0},
      {"Af", "ClassID=\"1\" Role=\"Af\" OfflineProc=\"FALSE\"", 1, ELFS_ROLE_AF, 0},
      {"AFX is another plug-in", "ClassID=\"1\" Role=\"AFX\" OfflineProc=\"FALSE\"", 1, ELFS_ROLE_OTHER, 0},
      {"a too long role is not compared", "ClassID=\"1\" Role=\"" + longText + "\" OfflineProc=\"FALSE\"", 1,
       ELFS_ROLE_OTHER, 0},
      {"OfflineProc true", "ClassID=\"1\" Role=\"x\" OfflineProc=\"true\"", 1, ELFS_ROLE_OTHER, 1},
      {"OfflineProc 1 is not TRUE", "ClassID=\"1\" Role=\"x\" OfflineProc=\"1\"", 1, ELFS_ROLE_OTHER, 0},
      {"attribute names in any case and order", "offlineproc=\"TRUE\" ROLE=\"aec\" classid=\"5\"", 5, ELFS_ROLE_AEC, 1},
      {"the first of two equal names counts", "ClassID=\"1\" Role=\"AF\" Role=\"AWB\" OfflineProc=\"x\"", 1, ELFS_ROLE_AF,
       0},
      {"decimal", "ClassID=\"17346256\" Role=\"x\" OfflineProc=\"x\"", 0x0108aed0, ELFS_ROLE_OTHER, 0},
      {"hexadecimal", "ClassID=\"0x0108AED0\" Role=\"x\" OfflineProc=\"x\"", 0x0108aed0, ELFS_ROLE_OTHER, 0},
      {"leading zero is octal", "ClassID=\"010\" Role=\"x\" OfflineProc=\"x\"", 8, ELFS_ROLE_OTHER, 0},
      {"leading blanks", "ClassID=\" \t42\" Role=\"x\" OfflineProc=\"x\"", 42, ELFS_ROLE_OTHER, 0},
      {"no digits is 0", "ClassID=\"none\" Role=\"x\" OfflineProc=\"x\"", 0, ELFS_ROLE_OTHER, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CCameraEngineConfig* config = nullptr;
    ASSERT_EQ(PVL_OK, Read(Doc(std::string("<ELFS><Entry ") + c.attributes + "/></ELFS>"), &config));
    ASSERT_EQ(1u, config->GetElfsCount());
    EXPECT_EQ(c.classId, config->GetElfsEntry(0).classId);
    EXPECT_EQ(c.role, config->GetElfsEntry(0).role);
    EXPECT_EQ(c.offline, config->GetElfsEntry(0).offlineProcessing);
    delete config;
  }
}

// Which elements count: names in any case, in full length; other elements skipped.
TEST_F(EngineConfigTest, ElementsThatCountAndElementsSkipped) {
  struct Case {
    const char* name;
    const char* body;
    uint32_t sensors;
    uint32_t elfs;
    uint32_t tuning;  // the first sensor's default tuning data
  };
  const Case cases[] = {
      {"names in another case", "<sensorconfig ClassID=\"1\"><defaulttuningdata ClassID=\"9\"/></sensorconfig>"
                                "<elfs><e ClassID=\"1\" Role=\"x\" OfflineProc=\"x\"/></elfs>", 1, 1, 9},
      {"SensorConfigX is skipped", "<SensorConfigX ClassID=\"1\"/><ELFSX><e/></ELFSX>", 0, 0, 0},
      {"the last DefaultTuningData wins",
       "<SensorConfig ClassID=\"1\"><DefaultTuningData ClassID=\"9\"/><DefaultTuningData ClassID=\"10\"/></SensorConfig>",
       1, 0, 10},
      {"an empty ELFS adds nothing", "<ELFS/>", 0, 0, 0},
      {"two ELFS elements add in file order",
       "<ELFS><e ClassID=\"1\" Role=\"x\" OfflineProc=\"x\"/></ELFS><ELFS><e ClassID=\"2\" Role=\"x\" OfflineProc=\"x\"/>"
       "<e ClassID=\"3\" Role=\"x\" OfflineProc=\"x\"/></ELFS>",
       0, 3, 0},
      {"an empty document", "", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CCameraEngineConfig* config = nullptr;
    ASSERT_EQ(PVL_OK, Read(Doc(c.body), &config));
    EXPECT_EQ(c.sensors, config->GetSensorConfigCount());
    EXPECT_EQ(c.elfs, config->GetElfsCount());
    if (c.sensors) {
      EXPECT_EQ(c.tuning, config->GetSensorConfig(0).GetDefaultTuningData());
    }
    for (uint32_t i = 0; i < config->GetElfsCount(); ++i) EXPECT_EQ(i + 1, config->GetElfsEntry(i).classId);
    delete config;
  }
}

// Refused files: the result, and a log line that names the file and where it broke.
TEST_F(EngineConfigTest, MalformedFilesAreRefusedAndNamed) {
  struct Case {
    const char* name;
    std::string text;
    PvlResult result;
    const char* logged;  // part of one log line
  };
  // Lengths with the terminator: a number must stay below 50, a name at most 50.
  const std::string digits48 = "0x" + std::string(46, '0');
  const std::string digits49 = "0x" + std::string(47, '0');
  const Case cases[] = {
      {"not well-formed", "<Config>\n<ELFS>\n</Config>\n", PVL_E_FAIL, "Test.xml: line 3"},
      {"no document element", "<?xml version=\"1.0\"?>\n", PVL_E_FAIL, "Test.xml"},
      {"ELFS entry without OfflineProc", Doc("<ELFS><e ClassID=\"1\" Role=\"AEC\"/></ELFS>"), PVL_E_NOTFOUND,
       "Test.xml\": element 1 (ELFS) refused (39)"},
      {"SensorConfig without ClassID", Doc("<ELFS/><SensorConfig/>"), PVL_E_NOTFOUND,
       "Test.xml\": element 2 (SensorConfig) refused (39)"},
      {"BestShotConfig without Index", Doc("<SensorConfig ClassID=\"1\"><BestShotConfig Name=\"n\" ClassID=\"1\"/></SensorConfig>"),
       PVL_E_NOTFOUND, "(SensorConfig) refused (39)"},
      {"a number of 49 characters", Doc("<ELFS><e ClassID=\"" + digits49 + "\" Role=\"x\" OfflineProc=\"x\"/></ELFS>"),
       PVL_E_FAIL, "(ELFS) refused (1)"},
      {"a best-shot name over 49 characters",
       Doc("<SensorConfig ClassID=\"1\"><BestShotConfig Name=\"" + std::string(50, 'n') +
           "\" Index=\"1\" ClassID=\"1\"/></SensorConfig>"),
       PVL_E_FAIL, "(SensorConfig) refused (1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> log;
    EXPECT_EQ(c.result, Read(c.text, nullptr, &log));
    bool found = false;
    for (const std::string& line : log) found = found || line.find(c.logged) != std::string::npos;
    EXPECT_TRUE(found) << "no log line with \"" << c.logged << "\"";
  }
  // The longest number and name that fit are read.
  CCameraEngineConfig* config = nullptr;
  ASSERT_EQ(PVL_OK, Read(Doc("<SensorConfig ClassID=\"" + digits48 + "\"><BestShotConfig Name=\"" + std::string(49, 'n') +
                             "\" Index=\"1\" ClassID=\"1\"/></SensorConfig>"),
                         &config));
  EXPECT_EQ(49u, std::string(config->GetSensorConfig(0).GetBestShot(0).name).size());
  delete config;
}

TEST_F(EngineConfigTest, AMissingFileIsRefused) {
  camera::test::RemoveImageFile("fs/~0x01061a6f/Test.xml");
  PvlResult r = PVL_OK;
  CCameraEngineConfig config(env_, kPath, &r);
  EXPECT_EQ(PVL_E_NOTFOUND, r);
  EXPECT_EQ(0u, config.GetElfsCount());
}

// Entries read before a failure stay, but the file as a whole is refused.
TEST_F(EngineConfigTest, EntriesBeforeAFailureStay) {
  CCameraEngineConfig* config = nullptr;
  EXPECT_EQ(PVL_E_NOTFOUND, Read(Doc("<ELFS><e ClassID=\"1\" Role=\"x\" OfflineProc=\"x\"/><e ClassID=\"2\"/></ELFS>"),
                                 &config));
  EXPECT_EQ(1u, config->GetElfsCount());
  delete config;
}

// The device image's own file: this board's sensor, its tuning, the best-shot
// sets for every mode the property allows, the flash plug-in and the statistics plug-ins.
TEST_F(EngineConfigTest, TheDeviceFileNamesThisBoard) {
  PvlResult r = PVL_E_FAIL;
  CCameraEngineConfig config(env_, &r);
  ASSERT_EQ(PVL_OK, r);
  ASSERT_EQ(1u, config.GetSensorConfigCount());
  const SensorConfigEntry& s = config.GetSensorConfig(0);
  EXPECT_EQ(0x0108aed0u, s.GetClassId());
  EXPECT_EQ(0x0108aeceu, s.GetDefaultTuningData());
  ASSERT_EQ(10u, s.GetBestShotCount());
  for (uint32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(i + 1, s.GetBestShot(i).GetIndex());
    EXPECT_EQ(0x0108aeceu, s.GetBestShot(i).GetClassId());
  }
  // The flash plug-in, then Bayrox's exposure, white balance and focus.
  const struct {
    const char* name;
    uint32_t classId;
    uint32_t role;
  } kPlugins[] = {{"flash", ZUEUID_CLASS_FLASH_ELFS, ELFS_ROLE_OTHER},
                  {"exposure", 0x01046293u, ELFS_ROLE_AEC},
                  {"white balance", 0x010460c4u, ELFS_ROLE_AWB},
                  {"focus", 0x01045ccfu, ELFS_ROLE_AF}};
  ASSERT_EQ(std::size(kPlugins), config.GetElfsCount());
  for (uint32_t i = 0; i < std::size(kPlugins); ++i) {
    EXPECT_EQ(kPlugins[i].classId, config.GetElfsEntry(i).classId) << kPlugins[i].name;
    EXPECT_EQ(kPlugins[i].role, config.GetElfsEntry(i).role) << kPlugins[i].name;
  }
}

}  // namespace
