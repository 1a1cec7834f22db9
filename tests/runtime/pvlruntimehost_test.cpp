// The runtime over the real host: the test module mapped from its .mif, threads
// on the host's thread service, media buffers with the host's property store, and
// the log function's debug output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cpvlmediabuffer.h"
#include "cpvlthread.h"
#include "hostsession.h"
#include "ienv.h"
#include "ipropertystore.h"
#include "orbhost_test.h"
#include "pvllog.h"
#include "testmodule.h"

namespace {

// The host started, and every block and host object the test made given back.
class WithHost : public camera::test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_NE(env_, nullptr);
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    objects_ = OrbhostTest_LiveHostObjects();
  }
  void TearDown() override {
    if (env_) {
      EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "leaked blocks";
      EXPECT_EQ(OrbhostTest_LiveHostObjects(), objects_) << "leaked host objects";
    }
    HostTest::TearDown();
  }
  uint32_t blocks_ = 0;
  int32_t objects_ = 0;
};

TEST_F(WithHost, TheTestModuleIsMappedFromItsMifAndServesItsClasses) {
  const bool mappedBefore = OrbhostTest_IsModuleMapped(TESTMOD_DEVICE_NAME) != 0;
  CPvlPtr<ITestModEcho> echo;
  ASSERT_EQ(env_->CreateInstance(TESTMOD_CLASS_ECHO, echo.Out()), PVL_OK);
  EXPECT_EQ(OrbhostTest_IsModuleMapped(TESTMOD_DEVICE_NAME), 1);
  if (!mappedBefore) ++blocks_;  // the module object, which the host keeps
  EXPECT_EQ(echo->Echo(11), 11);
  EXPECT_NE(echo->CreationArgument(), nullptr);
  EXPECT_EQ(echo->HeapRoundTrip("frame", 50), 250);

  CPvlPtr<ITestModEcho> nested;
  ASSERT_EQ(env_->CreateInstance(TESTMOD_CLASS_NESTED, nested.Out()), PVL_OK);
  CPvlPtr<ITestModEcho> inner;
  inner = nested->Inner();
  inner->Release();  // Inner() added one; the holder keeps its own
  ASSERT_TRUE(inner);
  EXPECT_EQ(echo->LiveObjects(), 3);
  inner.Reset();
  nested.Reset();
  EXPECT_EQ(echo->LiveObjects(), 1);

  CPvlPtr<IPvlBase> none;
  EXPECT_EQ(env_->CreateInstance(TESTMOD_CLASS_LISTED_ONLY, none.Out()), PVL_E_NOTSUPPORTED);
  EXPECT_FALSE(none);
  EXPECT_EQ(OrbhostTest_ModuleMapCount(TESTMOD_DEVICE_NAME), 1u);
}

struct Body {
  CPvlThread* thread = nullptr;
  int runs = 0;
  uint32_t lastId = 0;
};

uint32_t WaitForStop(void* context) {
  Body* body = static_cast<Body*>(context);
  ++body->runs;
  CPvlPtr<ISignalQueue> queue;
  if (body->thread->GetSignalQueue(&queue) != PVL_OK) return 1;
  PvlSignalWaitRecord record = {};
  if (queue->Wait(&record) != PVL_OK) return 1;
  body->lastId = record.id;
  return 0;
}

TEST_F(WithHost, ThreadsStartStopAndRestartOnTheHost) {
  CPvlThread* thread = nullptr;
  ASSERT_EQ(CPvlThread::Create(env_, &thread), PVL_OK);
  Body body;
  body.thread = thread;
  CPvlThreadStartInfo info;
  info.entry = WaitForStop;
  info.context = &body;
  for (int i = 1; i <= 100; ++i) {
    ASSERT_EQ(thread->Start(&info, "runtime test"), PVL_OK) << "round " << i;
    ASSERT_EQ(thread->Stop(), PVL_OK) << "round " << i;
    ASSERT_EQ(body.runs, i);  // Stop returned after the body ended
    ASSERT_EQ(body.lastId, PVL_THREAD_STOP_SIGNAL);
  }
  // Released while running: stopped first.
  ASSERT_EQ(thread->Start(&info, "runtime test"), PVL_OK);
  EXPECT_EQ(thread->Release(), 0);
  EXPECT_EQ(body.runs, 101);
}

class Pool : public IPvlMediaBufferOwner {
 public:
  void BufferReturned(CPvlMediaBuffer*) override { ++returned; }
  int returned = 0;
};

TEST_F(WithHost, APropertyFaceDoesNotKeepTheBufferFromItsPool) {
  Pool pool;
  CPvlMediaBuffer* buffer = new CPvlMediaBuffer(&pool, env_);
  buffer->AddRef();
  CPvlPtr<IProperties> a, b;
  ASSERT_EQ(buffer->QueryInterface(ZUEUID_IFACE_PROPERTIES, a.Out()), PVL_OK);
  ASSERT_EQ(buffer->QueryInterface(ZUEUID_IFACE_PROPERTIES_ALT, b.Out()), PVL_OK);
  EXPECT_EQ(a.Get(), b.Get());
  EXPECT_EQ(buffer->Release(), 0);
  EXPECT_EQ(pool.returned, 1);
  a.Reset();
  b.Reset();
  delete buffer;
}

TEST_F(WithHost, LogLinesReachTheHostsDebugOutputCut) {
  OrbhostTest_MessageCaptureBegin();
  const std::string text(200, 'x');
  const CameraLogRecord record = {CAMERA_LOG_NOTABLE, "mm\\camera\\srckit\\engine\\src\\ccameraengine", 77};
  CameraDebugLog(&record, "%s", text.c_str());
  const auto lines = OrbhostTest_MessageCaptureEnd();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, std::string(127, 'x'));
  EXPECT_EQ(lines[0].fileName, "ccameraengine");
  EXPECT_EQ(lines[0].level, CAMERA_LOG_NOTABLE);
  EXPECT_EQ(lines[0].line, 77);
}

}  // namespace
