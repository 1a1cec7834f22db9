// Plain files of the device image through CreateFileW (in a directory nothing else uses,
// so that whatever the build image holds does not matter).
#include <gtest/gtest.h>

#include "image_copy.h"
#include "wince.h"

namespace {

TEST(Files, WriteReadAppendAndSize) {
  HANDLE h = CreateFileW(u"fs:/~0x7e57f11e/log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);   // its directory does not exist yet
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(CreateDirectoryW(u"fs:/~0x7e57f11e", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"fs:/~0x7e57f11e", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  h = CreateFileW(u"fs:/~0x7e57f11e/log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "hello ", 6, &n, nullptr));
  EXPECT_EQ(n, 6u);
  CloseHandle(h);

  h = CreateFileW(u"fs:/~0x7e57f11e/log.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 6u);
  EXPECT_TRUE(WriteFile(h, "world", 5, &n, nullptr));
  EXPECT_EQ(GetFileSize(h, nullptr), 11u);
  CloseHandle(h);

  std::string text;
  ASSERT_TRUE(camera::test::ReadImageFile("fs/~0x7e57f11e/log.txt", &text));
  EXPECT_EQ(text, "hello world");

  h = CreateFileW(u"\\fs\\~0x7E57F11E\\LOG.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[32] = {};
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));   // at the end: success, nothing read
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));          // opened for reading
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(h);
  EXPECT_NE(GetFileAttributesW(u"fs:/~0x7e57f11e/log.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(DeleteFileW(u"fs:/~0x7e57f11e/log.txt"));
  EXPECT_EQ(GetFileAttributesW(u"fs:/~0x7e57f11e/log.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(RemoveDirectoryW(u"fs:/~0x7e57f11e"));
}

TEST(Files, CreationModesAndErrors) {
  camera::test::WriteImageFile("Install.cab", "CAB");
  EXPECT_EQ(CreateFileW(u"\\Install.cab", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(CreateFileW(u"\\Missing.cab", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(u"\\fs", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateFileW(u"\\..\\outside", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(CreateFileW(u"\\Install.cab", GENERIC_READ, 0, nullptr, 99, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HANDLE h = CreateFileW(u"\\Install.cab", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  DWORD n;
  EXPECT_FALSE(DeviceIoControl(h, 1, nullptr, 0, nullptr, 0, &n, nullptr));
  CloseHandle(h);
  EXPECT_TRUE(CopyFileW(u"\\Install.cab", u"\\Copy.cab", TRUE));
  EXPECT_FALSE(CopyFileW(u"\\Install.cab", u"\\Copy.cab", TRUE));
  EXPECT_TRUE(DeleteFileW(u"\\Copy.cab"));
  EXPECT_FALSE(DeleteFileW(u"\\Copy.cab"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
