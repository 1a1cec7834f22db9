// Point-to-point message queues.
#include <gtest/gtest.h>

#include <cstring>

#include "wince.h"
#include "wince_sim.h"

namespace {

constexpr DWORD kLong = 10000;

MSGQUEUEOPTIONS Options(BOOL read, DWORD maxMessages = 2, DWORD maxSize = 20, DWORD flags = 0) {
  MSGQUEUEOPTIONS o{};
  o.dwSize = sizeof o;
  o.dwFlags = flags;
  o.dwMaxMessages = maxMessages;
  o.cbMaxMessage = maxSize;
  o.bReadAccess = read;
  return o;
}

class MsgQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    auto w = Options(FALSE);
    auto r = Options(TRUE);
    writer = CreateMsgQueue(u"CamAsyncMSGQueue", &w);
    reader = CreateMsgQueue(u"CamAsyncMSGQueue", &r);
    ASSERT_NE(writer, nullptr);
    ASSERT_NE(reader, nullptr);
  }
  void TearDown() override {
    if (writer) CloseMsgQueue(writer);
    if (reader) CloseMsgQueue(reader);
  }
  HANDLE writer = nullptr;
  HANDLE reader = nullptr;

  // A thread blocked in a read of `reader` that waits for ever; it ends with the
  // read's error (0 if it read).
  HANDLE StartBlockedRead() {
    return CreateThread(
        nullptr, 0,
        [](LPVOID r) -> DWORD {
          char out[20];
          DWORD n = 0, flags = 0;
          return ReadMsgQueue(static_cast<HANDLE>(r), out, sizeof out, &n, INFINITE, &flags) ? 0 : GetLastError();
        },
        reader, 0, nullptr);
  }
  static void ExpectReadEndedWith(HANDLE th, DWORD error) {
    ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(th, &code);
    EXPECT_EQ(code, error);
    CloseHandle(th);
  }
};

TEST_F(MsgQueue, NamedEndsShareMessagesInOrder) {
  char a[20] = "first", b[20] = "second";
  EXPECT_TRUE(WriteMsgQueue(writer, a, 6, 0, 0));
  EXPECT_TRUE(WriteMsgQueue(writer, b, 7, 0, MSGQUEUE_MSGALERT));
  char out[20] = {};
  DWORD n = 0, flags = 0;
  EXPECT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
  EXPECT_EQ(n, 6u);
  EXPECT_STREQ(out, "first");
  EXPECT_EQ(flags, 0u);
  EXPECT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
  EXPECT_STREQ(out, "second");
  EXPECT_EQ(flags, MSGQUEUE_MSGALERT);
}

TEST_F(MsgQueue, EndsAreSignalledByRoomAndByMessages) {
  char m[4] = {1, 2, 3, 4};
  EXPECT_EQ(WaitForSingleObject(reader, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(writer, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
  EXPECT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
  EXPECT_EQ(WaitForSingleObject(reader, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(writer, 0), WAIT_TIMEOUT);   // full (2 messages)
  // Waiting does not consume: the reader is still signalled.
  EXPECT_EQ(WaitForSingleObject(reader, 0), WAIT_OBJECT_0);
}

TEST_F(MsgQueue, FullQueueWriteTimesOutAndEmptyReadTimesOut) {
  char m[4] = {};
  ASSERT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
  ASSERT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
  SetLastError(0);
  EXPECT_FALSE(WriteMsgQueue(writer, m, 4, 30, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  DWORD n = 0, flags = 0;
  char out[20];
  ASSERT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
  ASSERT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
  SetLastError(0);
  EXPECT_FALSE(ReadMsgQueue(reader, out, sizeof out, &n, 30, &flags));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
}

TEST_F(MsgQueue, BlockedWriterGoesOnWhenTheReaderMakesRoom) {
  char m[4] = {};
  ASSERT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
  ASSERT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID w) -> DWORD {
        char x[4] = {9, 9, 9, 9};
        return WriteMsgQueue(static_cast<HANDLE>(w), x, 4, INFINITE, 0) ? 0 : GetLastError();
      },
      writer, 0, nullptr);
  char out[20];
  DWORD n = 0, flags = 0;
  EXPECT_EQ(WaitForSingleObject(th, 30), WAIT_TIMEOUT);
  ASSERT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
  ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeThread(th, &code);
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
  ASSERT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
  EXPECT_EQ(out[0], 9);
  CloseHandle(th);
}

TEST_F(MsgQueue, SizesAndAccessAreChecked) {
  char big[21] = {};
  SetLastError(0);
  EXPECT_FALSE(WriteMsgQueue(writer, big, 21, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(WriteMsgQueue(reader, big, 4, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  DWORD n = 0, flags = 0;
  EXPECT_FALSE(ReadMsgQueue(writer, big, 4, &n, 0, &flags));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // A reader's buffer that is too small: the message stays for a retry.
  ASSERT_TRUE(WriteMsgQueue(writer, big, 16, 0, 0));
  char small[8];
  EXPECT_FALSE(ReadMsgQueue(reader, small, sizeof small, &n, 0, &flags));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(n, 16u);
  EXPECT_TRUE(ReadMsgQueue(reader, big, sizeof big, &n, 0, &flags));
  EXPECT_EQ(n, 16u);
  EXPECT_FALSE(ReadMsgQueue(reader, nullptr, 20, &n, 0, &flags));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(MsgQueue, ClosedReaderBreaksTheQueueForWriters) {
  ASSERT_TRUE(CloseMsgQueue(reader));
  reader = nullptr;
  char m[4] = {};
  SetLastError(0);
  EXPECT_FALSE(WriteMsgQueue(writer, m, 4, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
}

TEST_F(MsgQueue, ReaderGetsWhatWasWrittenThenSeesTheBrokenQueue) {
  char m[4] = {5};
  ASSERT_TRUE(WriteMsgQueue(writer, m, 1, 0, 0));
  ASSERT_TRUE(CloseMsgQueue(writer));
  writer = nullptr;
  char out[20];
  DWORD n = 0, flags = 0;
  EXPECT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
  EXPECT_EQ(out[0], 5);
  SetLastError(0);
  EXPECT_FALSE(ReadMsgQueue(reader, out, sizeof out, &n, kLong, &flags));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
}

TEST_F(MsgQueue, BlockedReaderWakesWhenTheLastWriterCloses) {
  HANDLE th = StartBlockedRead();
  EXPECT_EQ(WaitForSingleObject(th, 30), WAIT_TIMEOUT);
  CloseMsgQueue(writer);
  writer = nullptr;
  ExpectReadEndedWith(th, ERROR_PIPE_NOT_CONNECTED);
}

// A thread blocked on one end wakes for what is done through another end of the queue.
TEST_F(MsgQueue, AWaitOnOneEndWakesForWorkThroughAnother) {
  struct Case {
    const char* what;
    bool fillFirst;     // the queue starts full
    bool waitOnReader;  // else on the writer
  } cases[] = {{"a read end is signalled by a write", false, true},
               {"a write end is signalled by a read making room", true, false}};
  char m[4] = {1, 2, 3, 4}, out[20];
  DWORD n = 0, flags = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.fillFirst) {
      ASSERT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
      ASSERT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
    }
    HANDLE waited = c.waitOnReader ? reader : writer;
    HANDLE th = CreateThread(
        nullptr, 0, [](LPVOID h) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(h), kLong); }, waited, 0,
        nullptr);
    // Blocked before the work is done, so that the work is what wakes it.
    for (DWORD start = GetTickCount(); CeSimWaitingThreads(waited) == 0 && GetTickCount() - start < kLong;) Sleep(1);
    ASSERT_EQ(CeSimWaitingThreads(waited), 1u);
    if (c.waitOnReader) ASSERT_TRUE(WriteMsgQueue(writer, m, 4, 0, 0));
    else ASSERT_TRUE(ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags));
    ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(th, &code);
    EXPECT_EQ(code, WAIT_OBJECT_0);
    CloseHandle(th);
    while (ReadMsgQueue(reader, out, sizeof out, &n, 0, &flags)) {
    }
  }
}

// A blocked read ends with an error, and loses nothing, when its own handle is closed.
TEST_F(MsgQueue, BlockedReadEndsWhenItsHandleIsClosed) {
  HANDLE th = StartBlockedRead();
  EXPECT_EQ(WaitForSingleObject(th, 30), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseMsgQueue(reader));
  reader = nullptr;
  ExpectReadEndedWith(th, ERROR_INVALID_HANDLE);
}

TEST(MsgQueueAlone, AllowBrokenWritesWithoutAReader) {
  auto w = Options(FALSE, 10, 20, MSGQUEUE_ALLOW_BROKEN);
  HANDLE writer = CreateMsgQueue(u"CamAsyncMSGQueue", &w);
  ASSERT_NE(writer, nullptr);
  char m[20] = {};
  EXPECT_TRUE(WriteMsgQueue(writer, m, 20, 0, 0));
  auto r = Options(TRUE);
  HANDLE reader = OpenMsgQueue(GetCurrentProcess(), writer, &r);
  ASSERT_NE(reader, nullptr);
  DWORD n = 0, flags = 0;
  EXPECT_TRUE(ReadMsgQueue(reader, m, sizeof m, &n, 0, &flags));
  EXPECT_EQ(n, 20u);
  MSGQUEUEINFO info{};
  info.dwSize = sizeof info;
  EXPECT_TRUE(GetMsgQueueInfo(writer, &info));
  EXPECT_EQ(info.dwMaxMessages, 10u);
  EXPECT_EQ(info.wNumReaders, 1);
  EXPECT_EQ(info.wNumWriters, 1);
  CloseMsgQueue(reader);
  CloseMsgQueue(writer);
}

TEST(MsgQueueAlone, UnnamedQueueIsReachedThroughOpenMsgQueue) {
  auto r = Options(TRUE, 1, 16);
  HANDLE reader = CreateMsgQueue(nullptr, &r);
  auto w = Options(FALSE);
  w.cbMaxMessage = 0;   // an opener's limits are not used
  HANDLE writer = OpenMsgQueue(GetCallerProcess(), reader, &w);
  ASSERT_NE(writer, nullptr);
  char m[16] = {7};
  EXPECT_TRUE(WriteMsgQueue(writer, m, 16, 0, 0));
  EXPECT_FALSE(WriteMsgQueue(writer, m, 16, 0, 0));   // bounded at one
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  CloseMsgQueue(writer);
  CloseMsgQueue(reader);
}

TEST(MsgQueueAlone, BadOptionsAndHandles) {
  MSGQUEUEOPTIONS bad = Options(TRUE);
  bad.dwSize = 12;
  SetLastError(0);
  EXPECT_EQ(CreateMsgQueue(u"x", &bad), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateMsgQueue(u"x", nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  auto zero = Options(TRUE, 1, 0);
  EXPECT_EQ(CreateMsgQueue(u"x", &zero), nullptr);
  auto o = Options(FALSE);
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(OpenMsgQueue(GetCurrentProcess(), ev, &o), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  char m[4] = {};
  EXPECT_FALSE(WriteMsgQueue(ev, m, 4, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(WriteMsgQueue(nullptr, m, 4, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseMsgQueue(ev));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(ev);
  // A closed queue handle.
  HANDLE q = CreateMsgQueue(nullptr, &o);
  CloseMsgQueue(q);
  EXPECT_FALSE(WriteMsgQueue(q, m, 4, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
