// The host's file system: reading, appending, the "fs:/" mapping and the errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hostsession.h"
#include "ifilesystem.h"
#include "image_copy.h"
#include "orbhost_test.h"

namespace {

using camera::test::HostTest;

class FileSystemTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    fs_ = Create<IFileSystem>(ZUEUID_CLASS_FILESYSTEM);
    ASSERT_NE(nullptr, fs_);
  }
  void TearDown() override {
    if (fs_) fs_->Release();
    HostTest::TearDown();
  }
  IFileSystem* fs_ = nullptr;
};

TEST_F(FileSystemTest, AppendsToFilesInTheFileSpaceAndReadsThemBack) {
  const int32_t liveBefore = OrbhostTest_LiveHostObjects();
  camera::test::RemoveImageFile("fs/~0x0106fa8a/tunvex_log.txt");
  for (const char* line : {"first line\r\n", "second line\r\n"}) {
    IFile* f = nullptr;
    ASSERT_EQ(PVL_OK, fs_->Open("fs:/~0x0106fa8a/tunvex_log.txt", PVL_FILE_APPEND, &f));
    uint32_t written = 0;
    EXPECT_EQ(PVL_OK, f->Write(line, static_cast<uint32_t>(std::strlen(line)), &written));
    EXPECT_EQ(std::strlen(line), written);
    EXPECT_EQ(PVL_OK, f->Close());
    EXPECT_EQ(PVL_E_NOTREADY, f->Close());
    EXPECT_EQ(PVL_E_NOTREADY, f->Write("x", 1, &written));
    f->Release();
  }
  std::string content;
  ASSERT_TRUE(camera::test::ReadImageFile("fs/~0x0106fa8a/tunvex_log.txt", &content));
  EXPECT_EQ("first line\r\nsecond line\r\n", content);

  IFile* f = nullptr;
  ASSERT_EQ(PVL_OK, fs_->Open("fs:/~0x0106fa8a/tunvex_log.txt", PVL_FILE_READ, &f));
  char buf[64] = {};
  uint32_t got = 0;
  EXPECT_EQ(PVL_OK, f->Read(buf, sizeof buf, &got));
  EXPECT_EQ(content.size(), got);
  EXPECT_EQ(content, std::string(buf, got));
  EXPECT_EQ(PVL_OK, f->Read(buf, sizeof buf, &got));
  EXPECT_EQ(0u, got);  // end of file
  EXPECT_EQ(PVL_E_UNSUPPORTED, f->Write("x", 1, nullptr));  // opened for reading
  f->Release();  // releasing an open file closes it

  // A device path reaches the same file.
  ASSERT_EQ(PVL_OK, fs_->Open("\\fs\\~0x0106fa8a\\tunvex_log.txt", PVL_FILE_READ, &f));
  f->Release();
  EXPECT_EQ(liveBefore, OrbhostTest_LiveHostObjects());
}

TEST_F(FileSystemTest, FlagFileProbeAndBadRequests) {
  camera::test::RemoveImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg");
  IFile* f = reinterpret_cast<IFile*>(1);
  EXPECT_EQ(PVL_E_NOTFOUND, fs_->Open("fs:/~0x0106fa8a/_TunvexEnabled.flg", PVL_FILE_READ, &f));
  EXPECT_EQ(nullptr, f);
  camera::test::WriteImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg", "");
  ASSERT_EQ(PVL_OK, fs_->Open("fs:/~0x0106fa8a/_TunvexEnabled.flg", PVL_FILE_READ, &f));
  f->Release();

  struct Case {
    const char* path;
    uint32_t mode;
    PvlResult result;
  } cases[] = {
      {"fs:/~0x0106fa8a/_TunvexEnabled.flg", 0, PVL_E_BADARG},
      {"fs:/~0x0106fa8a/_TunvexEnabled.flg", 3, PVL_E_BADARG},
      {"fs:/~0x0106fa8a", PVL_FILE_READ, PVL_E_FAIL},    // a directory
      {"fs:/~0x0106fa8a", PVL_FILE_APPEND, PVL_E_FAIL},
      {"fs:/nowhere/deeper/file.txt", PVL_FILE_READ, PVL_E_NOTFOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    IFile* g = reinterpret_cast<IFile*>(1);
    EXPECT_EQ(c.result, fs_->Open(c.path, c.mode, &g));
    EXPECT_EQ(nullptr, g);
  }
  EXPECT_EQ(PVL_E_NULLPTR, fs_->Open(nullptr, PVL_FILE_READ, &f));
  EXPECT_EQ(PVL_E_NULLPTR, fs_->Open("fs:/x", PVL_FILE_READ, nullptr));
}

}  // namespace
