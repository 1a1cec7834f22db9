// The device image: path mapping and the private copy every test runs on.
#include <gtest/gtest.h>

#include <filesystem>

#include "image_copy.h"
#include "wince_sim.h"

namespace {

using camera::test::ImageRoot;

TEST(ImageCopy, EachTestProgramHasAPrivateImage) {
  EXPECT_EQ(ImageRoot(), CeSimImageRoot());
  EXPECT_NE(ImageRoot().find("camera-image-"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_symlink(ImageRoot() + "/Windows"));
  EXPECT_TRUE(std::filesystem::exists(ImageRoot() + "/Windows/coredll.dll"));
  EXPECT_TRUE(std::filesystem::exists(ImageRoot() + "/device.cs"));
  EXPECT_TRUE(std::filesystem::exists(ImageRoot() + "/registry.d/00-base.reg"));
}

TEST(ImagePath, DevicePathsAndFileSpaceMapIntoTheImage) {
  struct Case {
    const char16_t* path;
    std::string expected;   // relative to the image root; "" = refused
  } cases[] = {
      {u"\\device.cs", "/device.cs"},
      {u"\\Windows\\coredll.dll", "/Windows/coredll.dll"},
      {u"\\windows\\COREDLL.DLL", "/Windows/coredll.dll"},   // existing names match without case
      {u"/Windows/x.dll", "/Windows/x.dll"},
      {u"fs:/~0x01061a6f/CameraEngineConfig.xml", "/fs/~0x01061a6f/CameraEngineConfig.xml"},
      {u"FS:\\~0x0106fa8a\\_TunvexEnabled.flg", "/fs/~0x0106fa8a/_TunvexEnabled.flg"},
      {u"\\", ""},
      {u"\\Windows\\..\\..\\etc\\passwd", "refused"},
      {u"relative.txt", "refused"},
      {u"C:\\x.txt", "refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CeSimNarrow(c.path));
    std::string got = CeSimHostPath(c.path);
    if (c.expected == "refused") {
      EXPECT_EQ(got, "");
    } else {
      EXPECT_EQ(got, ImageRoot() + c.expected);
    }
  }
}

TEST(ImagePath, ShortBufferAndNullAreErrors) {
  char small[8];
  SetLastError(0);
  EXPECT_FALSE(CeSimMapPath(u"\\device.cs", small, sizeof small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(CeSimMapPath(nullptr, small, sizeof small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(CeSimMapPath(u"relative", small, sizeof small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

}  // namespace
