// The .mif writer and the files it makes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image_copy.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

int RunWriter(const std::string& args) {
  return std::system((std::string(MIFWRITER_PATH) + " " + args + " 2>/dev/null").c_str());
}

struct Expected {
  const char* name;
  std::vector<uint32_t> classes;
  const char* rule;  // or null
  size_t size;
};

void CheckMif(const std::vector<uint8_t>& f, const Expected& e) {
  ASSERT_EQ(f.size(), e.size) << e.name;
  const uint32_t n = e.rule ? 2 : 1;
  const uint32_t s = e.rule ? 3 : 2;
  EXPECT_EQ(U16(f, 0), 0x0011);
  EXPECT_EQ(U16(f, 2), 1);
  EXPECT_EQ(U16(f, 4), 1);
  EXPECT_EQ(U16(f, 6), n);
  EXPECT_EQ(U32(f, 8), 0x20u);
  EXPECT_EQ(U32(f, 12), 8 * n);
  EXPECT_EQ(U32(f, 16), 0x20 + 8 * n);
  EXPECT_EQ(U32(f, 20), s);
  const uint32_t first = U32(f, 24);
  EXPECT_EQ(first, 0x20 + 8 * n + 4 * (s + 1));
  EXPECT_EQ(U32(f, 28), f.size() - first);
  EXPECT_EQ(U32(f, 32), 0x5000u);
  EXPECT_EQ(U32(f, 36), 1u);
  if (e.rule) {
    EXPECT_EQ(U32(f, 40), 0x0b5000u);
    EXPECT_EQ(U32(f, 44), 0x20000u);
  }
  const uint32_t table = 0x20 + 8 * n;
  EXPECT_EQ(U32(f, table), first);
  EXPECT_EQ(U32(f, table + 4 * s), f.size());
  const uint32_t s1 = U32(f, table);
  EXPECT_EQ(U32(f, s1), 0x1002u);
  EXPECT_EQ(U16(f, s1 + 26), e.classes.size());
  const uint32_t s2 = U32(f, table + 4);
  EXPECT_EQ(s2, s1 + 40);
  for (size_t i = 0; i < e.classes.size(); ++i) EXPECT_EQ(U32(f, s2 + 4 * i), e.classes[i]);
  EXPECT_EQ(U32(f, s2 + 4 * e.classes.size()), 0u);
  if (e.rule) {
    const uint32_t s3 = U32(f, table + 8);
    const std::string text(reinterpret_cast<const char*>(&f[s3]));
    EXPECT_EQ(text, e.rule);
    EXPECT_EQ(f[f.size() - 1], 0);
    EXPECT_EQ(f[f.size() - 2], 0);
  }
}

// The package's four module-information files.
const Expected kPackage[] = {
    {"Corvane",
     {0x01070f77, 0x01061a6f, 0x01046412, 0x01089a8c, 0x010707a7, 0x010707a1, 0x01063090, 0x0106193c, 0x0105cab8},
     "0x0 = r/rw:/",
     158},
    {"Senvar", {0x0108aed0, 0x0108aece, 0x0108aecf, 0x0106c427}, nullptr, 112},
    {"Calbrook", {0x0106fa8a, 0x01074a8d}, "0x0 = rw/rw:/", 131},
    {"Bayrox", {0x01046293, 0x010460c4, 0x01045ccf, 0x01070674, 0x010757ac, 0x01074a8d}, nullptr, 120},
};

TEST(MifWriter, ThePackageFiles) {
  const auto& files = kPackage;
  for (const Expected& e : files) {
    const std::string out = camera::test::ImagePath(std::string("fs/") + e.name + ".mif");
    std::string args = "'" + out + "'";
    if (e.rule) args += std::string(" --access-rule '") + e.rule + "'";
    for (uint32_t id : e.classes) args += " " + std::to_string(id);
    ASSERT_EQ(RunWriter(args), 0) << e.name;
    CheckMif(ReadFile(out), e);
  }
  // Corvane's section-offset table.
  const auto corvane = ReadFile(camera::test::ImagePath("fs/Corvane.mif"));
  EXPECT_EQ(U32(corvane, 0x30), 0x40u);
  EXPECT_EQ(U32(corvane, 0x34), 0x68u);
  EXPECT_EQ(U32(corvane, 0x38), 0x90u);
  EXPECT_EQ(U32(corvane, 0x3c), 0x9eu);
}

// The build writes each module's file from the module's class table: byte for byte the package's.
TEST(MifWriter, TheModulesFilesBesideTheirImagesAreThePackages) {
  for (const char* module : {"Corvane", "Calbrook", "Bayrox"}) {
    const auto built = ReadFile(camera::test::ImagePath(std::string("Windows/") + module + ".mif"));
    for (const Expected& e : kPackage) {
      if (std::string(e.name) == module) CheckMif(built, e);
    }
  }
}

TEST(MifWriter, TheTestModuleFileBesideItsImage) {
  const auto f = ReadFile(camera::test::ImagePath("Windows/Pvltestmod.mif"));
  CheckMif(f, {"Pvltestmod", {0x7e5b0001, 0x7e5b0002, 0x7e5b0003}, nullptr, 52 + 40 + 16});
}

TEST(MifWriter, RefusesBadArguments) {
  const std::string out = camera::test::ImagePath("fs/bad.mif");
  EXPECT_NE(RunWriter("'" + out + "'"), 0);
  EXPECT_NE(RunWriter("'" + out + "' 0x01 nonsense"), 0);
  EXPECT_NE(RunWriter("'" + out + "' 0"), 0);
  EXPECT_NE(RunWriter("'" + out + "' 0x100000000"), 0);
  EXPECT_NE(RunWriter("'" + out + "' 0x01 --access-rule"), 0);
  EXPECT_TRUE(ReadFile(out).empty());
  EXPECT_NE(RunWriter("/nonexistent-dir/x.mif 0x01"), 0);
}

}  // namespace
