// The focus and pre-flash threads: the engine's signal fires, the camera application
// reads the notice on "CamAsyncMSGQueue"; and shutting the camera always ends both
// threads, also when nobody reads the queue.
#include "ostrel_fixture.h"

namespace ostrel_test {
namespace {

constexpr DWORD kGenerous = 5000;  // ms; the machine may be loaded

class NotifyTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    LoadAndOpen();
    ASSERT_EQ(reader_.Open(), ERROR_SUCCESS);
  }
  void TearDown() override {
    reader_.Close();
    DriverTest::TearDown();
  }
  camclient::AsyncQueueReader reader_;
};

// Fires until the notice comes: a signal fires once until its thread re-arms it, and
// the thread re-arms only after it has written the previous notice.
DWORD FireAndRead(ISignalControl* control, camclient::AsyncQueueReader& reader, AsyncCameraMessage* m) {
  DWORD r = ERROR_TIMEOUT;
  for (DWORD waited = 0; waited < kGenerous && r == ERROR_TIMEOUT; waited += 100) {
    control->Fire();
    r = reader.Read(m, 100);
  }
  return r;
}

TEST_F(NotifyTest, EachFinishedFocusIsReported) {
  for (int run = 0; run < 3; ++run) {
    AsyncCameraMessage m{};
    ASSERT_EQ(FireAndRead(Device()->FocusSignalControl(), reader_, &m), ERROR_SUCCESS) << "run " << run;
    EXPECT_EQ(m.event, CAM_ASYNC_FOCUS_COMPLETE);
    EXPECT_EQ(m.size, sizeof m);
    EXPECT_EQ(m.status, 0u);
  }
}

// An engine whose focus run ends inside StartFocus: the driver must not mark the run
// as going after it already ended, and a client that read the notice starts the next.
TEST_F(DriverTest, AFocusThatEndsAtOnceLeavesFocusReadyForTheNextRun) {
  FakeEngineConfig config;
  config.focusEndsAtOnce = true;
  Reset(config);
  LoadAndOpen();
  camclient::AsyncQueueReader reader;
  ASSERT_EQ(reader.Open(), ERROR_SUCCESS);
  for (int run = 0; run < 20; ++run) {
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, 1, 2), ERROR_SUCCESS) << "run " << run;
    AsyncCameraMessage m{};
    ASSERT_EQ(reader.Read(&m, kGenerous), ERROR_SUCCESS) << "run " << run;
    EXPECT_EQ(m.event, CAM_ASYNC_FOCUS_COMPLETE);
    int32_t state = -1;
    ASSERT_EQ(camera_.GetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, &state), ERROR_SUCCESS);
    EXPECT_EQ(state, 0) << "idle once the notice is out, run " << run;
  }
  reader.Close();
}

// A focus started by the maker's auto-flash auto-focus modes (3, 4) is reported with
// status 3, once: the next focus, started the plain way, reports 0.
TEST_F(DriverTest, AnAutoFlashFocusIsReportedAsSuchOnce) {
  FakeEngineConfig config;
  config.focusEndsAtOnce = true;
  Reset(config);
  LoadAndOpen();
  camclient::AsyncQueueReader reader;
  ASSERT_EQ(reader.Open(), ERROR_SUCCESS);
  for (uint32_t mode : {3u, 4u}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(camera_.MakerSet(VANTOR_PROPERTY_AUTO_FOCUS, mode), ERROR_SUCCESS);
    AsyncCameraMessage m{};
    ASSERT_EQ(reader.Read(&m, kGenerous), ERROR_SUCCESS);
    EXPECT_EQ(m.event, CAM_ASYNC_FOCUS_COMPLETE);
    EXPECT_EQ(m.status, CAM_ASYNC_FOCUS_STATUS_AUTO_FLASH);
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, 1, 2), ERROR_SUCCESS);
    ASSERT_EQ(reader.Read(&m, kGenerous), ERROR_SUCCESS);
    EXPECT_EQ(m.event, CAM_ASYNC_FOCUS_COMPLETE);
    EXPECT_EQ(m.status, 0u) << "the next focus is a plain one";
  }
  reader.Close();
}

TEST_F(NotifyTest, AFinishedPreFlashIsReported) {
  AsyncCameraMessage m{};
  ASSERT_EQ(FireAndRead(Device()->PreFlashSignalControl(), reader_, &m), ERROR_SUCCESS);
  EXPECT_EQ(m.event, CAM_ASYNC_PRE_FLASH_COMPLETE);
  EXPECT_EQ(m.size, sizeof m);
}

TEST_F(NotifyTest, ClosingTellsAWaitingFocusClientAndEndsBothThreads) {
  HANDLE focus = Device()->FocusThreadHandle();
  ASSERT_NE(focus, nullptr);
  ASSERT_EQ(camera_.Close(), ERROR_SUCCESS);
  AsyncCameraMessage m{};
  ASSERT_EQ(reader_.Read(&m, kGenerous), ERROR_SUCCESS);
  EXPECT_EQ(m.event, CAM_ASYNC_FOCUS_COMPLETE) << "the focus client learns the camera went";
  EXPECT_EQ(reader_.Read(&m, 50), DWORD(ERROR_TIMEOUT)) << "no pre-flash notice on shutdown";
  EXPECT_EQ(ExtraThreads(), 0u);
}

TEST_F(NotifyTest, AFullQueueWithoutAReaderDoesNotHoldUpTheClose) {
  // Unread notices fill the queue until the pre-flash thread blocks on it.
  HANDLE queue = Device()->AsyncQueue()->Handle();
  for (int i = 0; i < 1000 && CeSimWaitingThreads(queue) == 0; ++i) {
    Device()->PreFlashSignalControl()->Fire();
    Sleep(5);
  }
  ASSERT_GT(CeSimWaitingThreads(queue), 0u) << "a sender waits for room";
  camera::test::DebugCapture capture;
  ASSERT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_FALSE(CeSimDebugCapturedContains("Terminating")) << "both threads ended when asked";
  EXPECT_EQ(ExtraThreads(), 0u);
}

}  // namespace
}  // namespace ostrel_test
