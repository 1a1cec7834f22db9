// The system's CAB installer as the package meets it: small cabinets made here with gcab,
// each with one thing right or wrong in its provisioning document.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <string>

#include "hotfix_fixture.h"

namespace hotfix_test {
namespace {

namespace fs = std::filesystem;

// Packs `files` (name -> contents) into "\<name>" of the private image; false when gcab fails.
bool MakeCabinet(const std::string& name, const std::map<std::string, std::string>& files) {
  fs::path stage = camera::test::ImagePath("cab-stage");
  fs::remove_all(stage);
  fs::create_directories(stage);
  std::string command = "cd '" + stage.string() + "' && gcab --create --zip '" +
                        camera::test::ImagePath(name) + "'";
  for (const auto& [file, contents] : files) {
    std::ofstream(stage / file, std::ios::binary) << contents;
    command += " '" + file + "'";
  }
  bool ok = std::system(command.c_str()) == 0;
  fs::remove_all(stage);
  return ok;
}

std::string Document(const std::string& files, const std::string& registry) {
  return "<?xml version=\"1.0\"?>\n<wap-provisioningdoc>\n"
         "<characteristic type=\"FileOperation\">" + files + "</characteristic>\n"
         "<characteristic type=\"Registry\">" + registry + "</characteristic>\n"
         "</wap-provisioningdoc>\n";
}

std::string OneFile(const std::string& folder, const std::string& target, const std::string& source) {
  return "<characteristic type=\"" + folder + "\" translation=\"install\"><characteristic type=\"MakeDir\"/>"
         "<characteristic type=\"" + target + "\" translation=\"install\"><characteristic type=\"Extract\">"
         "<parm name=\"Source\" value=\"" + source + "\"/></characteristic></characteristic></characteristic>";
}

std::string OneValue(const std::string& name, const std::string& value, const std::string& type) {
  return "<characteristic type=\"HKLM\\Software\\WceloadTest\"><parm name=\"" + name + "\" value=\"" + value +
         "\" datatype=\"" + type + "\"/></characteristic>";
}

struct CabCase {
  const char* name;
  std::map<std::string, std::string> files;
  DWORD exitCode;
};
void PrintTo(const CabCase& c, std::ostream* os) { *os << c.name; }

class Wceload : public HotfixTest, public ::testing::WithParamInterface<CabCase> {};

TEST_P(Wceload, InstallsAWholePackageOrNothing) {
  fs::remove(camera::test::ImagePath("Windows/probe.txt"));
  ASSERT_TRUE(MakeCabinet("Test.cab", GetParam().files));
  EXPECT_EQ(CeSimWceload(u"/noui \\Test.cab"), GetParam().exitCode);
  bool placed = camera::test::ReadImageFile("Windows/probe.txt", nullptr);
  bool recorded = Dword(u"Software\\WceloadTest", u"Count") != -1 ||
                  Text(u"Software\\WceloadTest", u"Name") != u"(absent)";
  if (GetParam().exitCode == 0) {
    EXPECT_TRUE(placed || recorded);
  } else {
    EXPECT_FALSE(placed) << "a failed installation placed a file";
    EXPECT_FALSE(recorded) << "a failed installation recorded a value";
    EXPECT_FALSE(camera::test::ReadImageFile("evil.txt", nullptr));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cabinets, Wceload,
    ::testing::Values(
        CabCase{"FileAndStringValue",
                {{"probe.txt", "probe"},
                 {"_setup.xml", Document(OneFile("%CE2%", "probe.txt", "probe.txt"), OneValue("Name", "a&amp;b", "string"))}},
                0},
        CabCase{"IntegerValue",
                {{"_setup.xml", Document("", OneValue("Count", "4294967295", "integer"))}}, 0},
        CabCase{"NoProvisioningDocument", {{"probe.txt", "probe"}}, 3},
        CabCase{"MalformedDocument",
                {{"probe.txt", "probe"}, {"_setup.xml", "<wap-provisioningdoc><characteristic type=\"x\">"}}, 3},
        CabCase{"FileNameClimbsOut",
                {{"probe.txt", "probe"}, {"_setup.xml", Document(OneFile("%CE2%", "..\\evil.txt", "probe.txt"), "")}},
                3},
        CabCase{"UnknownFolderMacro",
                {{"probe.txt", "probe"}, {"_setup.xml", Document(OneFile("%CE99%", "probe.txt", "probe.txt"), "")}},
                3},
        CabCase{"SourceNotInTheCabinet",
                {{"_setup.xml", Document(OneFile("%CE2%", "probe.txt", "other.txt"), OneValue("Count", "1", "integer"))}},
                4},
        CabCase{"IntegerOutOfRange",
                {{"probe.txt", "probe"},
                 {"_setup.xml", Document(OneFile("%CE2%", "probe.txt", "probe.txt"), OneValue("Count", "4294967296", "integer"))}},
                3},
        CabCase{"UnknownDataType",
                {{"probe.txt", "probe"},
                 {"_setup.xml", Document(OneFile("%CE2%", "probe.txt", "probe.txt"), OneValue("Count", "1", "binary"))}},
                3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HotfixTest, WceloadNeedsOneCabinetThatExists) {
  EXPECT_EQ(CeSimWceload(u"/noui"), 1u);
  EXPECT_EQ(CeSimWceload(u"/noui \\A.cab \\B.cab"), 1u);
  EXPECT_EQ(CeSimWceload(u"/noui \\Missing.cab"), 2u);
}

TEST_F(HotfixTest, WceloadTakesAQuotedCabinetPath) {
  ASSERT_TRUE(MakeCabinet("Two words.cab", {{"_setup.xml", Document("", OneValue("Count", "7", "integer"))}}));
  EXPECT_EQ(CeSimWceload(u"/noui \"\\Two words.cab\""), 0u);
  EXPECT_EQ(Dword(u"Software\\WceloadTest", u"Count"), 7);
}

}  // namespace
}  // namespace hotfix_test
