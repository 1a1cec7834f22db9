// The VFE service over the real VFE driver and the VFE hardware model: its
// states, the receive thread's frames and events, Suspend and Resume, a failed
// Open, the model's faults, and the tuning table's withdrawal.
#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <optional>

#include "casename.h"
#include "image_copy.h"
#include "ivfestats.h"
#include "tunvex.h"
#include "tunvexclient.h"
#include "tuningtoolsession.h"
#include "tunvextestnet.h"
#include "cdemosaicconfiguration.h"
#include "vfetuningkeys.h"
#include "vfeservicefixture.h"

namespace vfeservicetest {
namespace {

// ---- States ----------------------------------------------------------------------------------

enum class From { Uninitialized, Suspended, Idle, Running };
enum class Op { Initialize, Start, Stop, Uninitialize, Suspend, Resume };

struct StateCase {
  const char* name;
  From from;
  Op op;
  PvlResult result;
  VfeStateId after;
};

class StateMatrix : public VfeServiceTest, public ::testing::WithParamInterface<StateCase> {
 protected:
  void Reach(From from) {
    if (from == From::Uninitialized) return;
    ASSERT_EQ(PVL_OK, Init());
    if (from == From::Suspended) { ASSERT_EQ(PVL_OK, service_->Suspend()); }
    if (from == From::Running) {
      ConfigurePipeline(6);  // no output path: the VFE runs without buffers
      ASSERT_EQ(PVL_OK, service_->Start());
    }
  }
  PvlResult Run(Op op) {
    switch (op) {
      case Op::Initialize: return service_->Initialize(0, &settings_);
      case Op::Start: return service_->Start();
      case Op::Stop: return service_->Stop();
      case Op::Uninitialize: return service_->Uninitialize();
      case Op::Suspend: return service_->Suspend();
      case Op::Resume: return service_->Resume();
    }
    return PVL_E_FAIL;
  }
};

TEST_P(StateMatrix, OperationAnswersAndMovesAsTheTableSays) {
  const StateCase& c = GetParam();
  Reach(c.from);
  EXPECT_EQ(c.result, Run(c.op));
  EXPECT_EQ(c.after, svc_->GetCurrentStateId());
  // What exists in each state.
  const VfeStateId s = svc_->GetCurrentStateId();
  EXPECT_EQ(s != VFE_STATE_UNINITIALIZED, svc_->HasThread());
  EXPECT_EQ(s == VFE_STATE_IDLE || s == VFE_STATE_RUNNING, svc_->HasDriver());
  EXPECT_EQ(s == VFE_STATE_IDLE || s == VFE_STATE_RUNNING, svc_->GetCurrentState()->IsInitialized());
}

INSTANTIATE_TEST_SUITE_P(
    VfeService, StateMatrix,
    ::testing::Values(
        StateCase{"UninitializedInitialize", From::Uninitialized, Op::Initialize, PVL_OK, VFE_STATE_IDLE},
        StateCase{"UninitializedStart", From::Uninitialized, Op::Start, PVL_E_NOTREADY, VFE_STATE_UNINITIALIZED},
        StateCase{"UninitializedStop", From::Uninitialized, Op::Stop, PVL_E_NOTREADY, VFE_STATE_UNINITIALIZED},
        StateCase{"UninitializedUninitialize", From::Uninitialized, Op::Uninitialize, PVL_E_NOTREADY,
                  VFE_STATE_UNINITIALIZED},
        StateCase{"UninitializedSuspend", From::Uninitialized, Op::Suspend, PVL_E_NOTREADY, VFE_STATE_UNINITIALIZED},
        StateCase{"UninitializedResume", From::Uninitialized, Op::Resume, PVL_E_NOTREADY, VFE_STATE_UNINITIALIZED},
        StateCase{"SuspendedInitialize", From::Suspended, Op::Initialize, PVL_E_NOTREADY, VFE_STATE_SUSPENDED},
        StateCase{"SuspendedStart", From::Suspended, Op::Start, PVL_E_NOTREADY, VFE_STATE_SUSPENDED},
        StateCase{"SuspendedStop", From::Suspended, Op::Stop, PVL_OK, VFE_STATE_SUSPENDED},
        StateCase{"SuspendedUninitialize", From::Suspended, Op::Uninitialize, PVL_E_NOTREADY, VFE_STATE_SUSPENDED},
        StateCase{"SuspendedSuspend", From::Suspended, Op::Suspend, PVL_OK, VFE_STATE_SUSPENDED},
        StateCase{"SuspendedResume", From::Suspended, Op::Resume, PVL_OK, VFE_STATE_IDLE},
        StateCase{"IdleInitialize", From::Idle, Op::Initialize, PVL_E_NOTREADY, VFE_STATE_IDLE},
        StateCase{"IdleStart", From::Idle, Op::Start, PVL_OK, VFE_STATE_RUNNING},
        StateCase{"IdleStop", From::Idle, Op::Stop, PVL_OK, VFE_STATE_IDLE},
        StateCase{"IdleUninitialize", From::Idle, Op::Uninitialize, PVL_OK, VFE_STATE_UNINITIALIZED},
        StateCase{"IdleSuspend", From::Idle, Op::Suspend, PVL_OK, VFE_STATE_SUSPENDED},
        StateCase{"IdleResume", From::Idle, Op::Resume, PVL_E_NOTREADY, VFE_STATE_IDLE},
        StateCase{"RunningInitialize", From::Running, Op::Initialize, PVL_E_NOTREADY, VFE_STATE_RUNNING},
        StateCase{"RunningStart", From::Running, Op::Start, PVL_E_NOTREADY, VFE_STATE_RUNNING},
        StateCase{"RunningStop", From::Running, Op::Stop, PVL_OK, VFE_STATE_IDLE},
        StateCase{"RunningUninitialize", From::Running, Op::Uninitialize, PVL_E_NOTREADY, VFE_STATE_RUNNING},
        StateCase{"RunningSuspend", From::Running, Op::Suspend, PVL_E_NOTREADY, VFE_STATE_RUNNING},
        StateCase{"RunningResume", From::Running, Op::Resume, PVL_E_NOTREADY, VFE_STATE_RUNNING}),
    camera::test::CaseName<StateCase>);

TEST_F(VfeServiceTest, ResetOnlyWhenIdle) {
  EXPECT_EQ(PVL_E_NOTREADY, service_->Reset());
  ASSERT_EQ(PVL_OK, Init());
  EXPECT_EQ(PVL_OK, service_->Reset());
  ConfigurePipeline(6);
  ASSERT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Reset());
}

TEST_F(VfeServiceTest, UninitializeClearsTheEventSink) {
  ASSERT_EQ(PVL_OK, Init());
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
  EXPECT_EQ(PVL_OK, svc_->RaiseEvent(EVENT_SNAPSHOT_DONE, 0, nullptr));
  EXPECT_EQ(0u, sink_.Count(EVENT_SNAPSHOT_DONE));
}

TEST_F(VfeServiceTest, InitializeArguments) {
  EXPECT_EQ(PVL_E_NULLPTR, service_->Initialize(0, nullptr));
  RecordingSink notSettings;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, service_->Initialize(0, &notSettings));
  EXPECT_EQ(VFE_STATE_UNINITIALIZED, svc_->GetCurrentStateId());
}

// A second driver cannot exist: the service's Open fails on it and leaves
// neither thread nor signals; once the other driver is gone, Open succeeds.
TEST_F(VfeServiceTest, FailedOpenCleansUpAndCanBeRetried) {
  void* other = nullptr;
  ASSERT_EQ(PVL_OK, VfeDriver_CreateInstance(env_.Get(), ZUEUID_CLASS_VFE_DRIVER, nullptr, &other));
  PvlResult r = service_->Initialize(0, &settings_);
  EXPECT_NE(PVL_OK, r);
  EXPECT_EQ(VFE_STATE_UNINITIALIZED, svc_->GetCurrentStateId());
  EXPECT_FALSE(svc_->HasThread());
  EXPECT_FALSE(svc_->HasDriver());
  EXPECT_EQ(nullptr, svc_->GetReadySignalControl(CVfeService::kSignalMessage));
  static_cast<ICameraDriver*>(other)->Stop();
  static_cast<ICameraDriver*>(other)->Release();
  EXPECT_EQ(PVL_OK, service_->Initialize(0, &settings_));
  EXPECT_EQ(VFE_STATE_IDLE, svc_->GetCurrentStateId());
}

// ---- The engine's face -----------------------------------------------------------------------

struct OutputsCase {
  const char* name;
  bool array;
  int32_t capacity;
  bool countPointer;
  PvlResult result;
  uint32_t filled;
};

class GetOutputs : public VfeServiceTest, public ::testing::WithParamInterface<OutputsCase> {};

TEST_P(GetOutputs, ArgumentsCountAndOrder) {
  const OutputsCase& c = GetParam();
  ASSERT_EQ(PVL_OK, Init());
  IVideoOutput* outputs[5] = {};
  uint32_t count = 99;
  EXPECT_EQ(c.result, service_->GetOutputs(c.array ? outputs : nullptr, c.capacity, c.countPointer ? &count : nullptr));
  if (c.result != PVL_OK) return;
  EXPECT_EQ(3u, count);
  for (uint32_t i = 0; i < 5; ++i) {
    if (i < c.filled) {
      ASSERT_NE(nullptr, outputs[i]);
      uint32_t id = 9;
      EXPECT_EQ(PVL_OK, outputs[i]->GetOutputId(&id));
      EXPECT_EQ(i, id);
      outputs[i]->Release();
    } else {
      EXPECT_EQ(nullptr, outputs[i]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(VfeService, GetOutputs,
                         ::testing::Values(OutputsCase{"CountQuery", false, 0, true, PVL_OK, 0},
                                           OutputsCase{"TwoOfThree", true, 2, true, PVL_OK, 2},
                                           OutputsCase{"AllInALargerArray", true, 5, true, PVL_OK, 3},
                                           OutputsCase{"NullArrayWithCapacity", false, 5, true, PVL_E_BADARG, 0},
                                           OutputsCase{"NegativeCapacity", true, -1, true, PVL_E_BADARG, 0},
                                           OutputsCase{"NullCount", true, 3, false, PVL_E_BADARG, 0}),
                         camera::test::CaseName<OutputsCase>);

TEST_F(VfeServiceTest, QueryInterfaceFacesAndConfigurers) {
  for (ZUEUID iid : {ZUEUID_IFACE_VFE_SERVICE, ZUEUID_IFACE_CAMERA_SERVICE, ZUEUID_IFACE_CAMERA_COMPONENT}) {
    CPvlPtr<IVfeService> face;
    EXPECT_EQ(PVL_OK, service_->QueryInterface(iid, face.Out())) << std::hex << iid;
    EXPECT_EQ(service_.Get(), face.Get());
  }
  IConfigCommand* configurer = reinterpret_cast<IConfigCommand*>(1);
  EXPECT_EQ(PVL_E_BADARG, service_->GetConfigurer(0x12345678u, &configurer));
  EXPECT_EQ(nullptr, configurer);
  EXPECT_EQ(PVL_E_BADARG, service_->GetConfigurer(ZUEUID_CONFIG_VIDEO, nullptr));
}

// ---- Preview frames --------------------------------------------------------------------------

// Message to event, release, ready signal, re-arm: frames keep coming on three
// buffers of four only if every released frame goes back to the VFE.
TEST_F(VfeServiceTest, PreviewFramesFlowAndEveryBufferComesHome) {
  CPvlPtr<ICameraBufferManager> bm = StartPreview();
  ASSERT_TRUE(sink_.WaitFor(EVENT_OUTPUT, 12)) << "frames seen: " << sink_.Count(EVENT_OUTPUT);
  for (const Event& e : sink_.Events()) {
    if (e.kind != EVENT_OUTPUT) continue;
    EXPECT_EQ(1u, e.argument);  // the output's id, not the path
  }
  uint32_t out1 = 0, out2 = 0;
  svc_->GetMessageCounts(&out1, &out2);
  EXPECT_GE(out1, 12u);
  EXPECT_EQ(0u, out2);
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_EQ(0u, svc_->GetOutput(1)->OutstandingCount());
  EXPECT_TRUE(WaitAllHome(bm, 4));
}

TEST_F(VfeServiceTest, FramesCarryTheirTimes) {
  sink_.holdFrames = true;
  CPvlPtr<ICameraBufferManager> bm = StartPreview();
  ASSERT_TRUE(sink_.WaitFor(EVENT_OUTPUT, 1));
  auto* frame = static_cast<IPvlMediaBuffer*>(sink_.Events().front().object);
  uint64_t start = 0, done = 0;
  EXPECT_EQ(PVL_OK, frame->GetTime1(&start));
  EXPECT_EQ(PVL_OK, frame->GetTime2(&done));
  EXPECT_LE(start, done);
  EXPECT_NE(0u, done);
}

// A reader that holds frames across Stop keeps them: they are not handed to
// the VFE or freed, and they go home when the reader lets go.
TEST_F(VfeServiceTest, FramesHeldByAReaderSurviveStop) {
  sink_.holdFrames = true;
  CPvlPtr<ICameraBufferManager> bm = StartPreview();
  ASSERT_TRUE(sink_.WaitFor(EVENT_OUTPUT, 2));
  ASSERT_EQ(PVL_OK, service_->Stop());
  const size_t held = sink_.held.size();
  ASSERT_GE(held, 2u);
  EXPECT_TRUE(WaitAllHome(bm, static_cast<uint32_t>(4 - held)) || FreeCount(bm) == 4 - held);
  for (IPvlBase* o : sink_.held) {
    uint32_t size = 0;
    EXPECT_EQ(PVL_OK, static_cast<IPvlMediaBuffer*>(o)->GetActualSize(&size));
    EXPECT_EQ(kOut1W * kOut1H * 3u / 2u, size);
  }
  sink_.ReleaseHeld();
  EXPECT_TRUE(WaitAllHome(bm, 4));
}

TEST_F(VfeServiceTest, AMessageNamingNoHeldBufferIsDroppedButReArms) {
  CPvlPtr<ICameraBufferManager> bm = StartPreview();
  ASSERT_TRUE(sink_.WaitFor(EVENT_OUTPUT, 1));
  CVideoOutput* out1 = svc_->GetOutput(1);
  const size_t before = sink_.Count(EVENT_OUTPUT);
  EXPECT_EQ(PVL_OK, out1->OnOutput(0x10u, 0x20u, 0, 0));
  // No event came from it (frames may still come from the VFE meanwhile).
  for (const Event& e : sink_.Events()) EXPECT_NE(nullptr, e.object);
  EXPECT_GE(sink_.Count(EVENT_OUTPUT), before);
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_TRUE(WaitAllHome(bm, 4));
}

TEST_F(VfeServiceTest, AStoppedOutputAnswersOneToAFrameMessage) {
  ASSERT_EQ(PVL_OK, Init());
  EXPECT_EQ(PVL_E_FAIL, svc_->GetOutput(1)->OnOutput(0x10u, 0x20u, 0, 0));
  EXPECT_EQ(0u, sink_.Count(EVENT_OUTPUT));
}

// Buffers queued for one configuration are given back when the output is
// configured again without having been started.
TEST_F(VfeServiceTest, ReconfiguringReleasesTheBuffersOfTheLastConfiguration) {
  ASSERT_EQ(PVL_OK, Init());
  CVideoOutput* out1 = svc_->GetOutput(1);
  CPvlPtr<ICameraBufferManager> bm = SetUpMode(out1, VIDEO_OUTPUT_MODE_VIDEO, Nv21Format(kOut1W, kOut1H));
  ConfigurePipeline(0);
  ArmOutput(out1, VIDEO_OUTPUT_MODE_VIDEO, 3);
  EXPECT_EQ(1u, FreeCount(bm));
  ConfigurePipeline(0);
  ArmOutput(out1, VIDEO_OUTPUT_MODE_VIDEO, 2);
  EXPECT_EQ(2u, FreeCount(bm));
}

// The VFE loses an interrupt, then overruns two frames: the service goes on
// delivering and no buffer is lost.
TEST_F(VfeServiceTest, ALostInterruptAndAnOverrunLoseNoBuffer) {
  CPvlPtr<ICameraBufferManager> bm = StartPreview();
  ASSERT_TRUE(sink_.WaitFor(EVENT_OUTPUT, 2));
  BoardVfeLoseInterrupts(1);
  BoardVfeOverrunNext(static_cast<BoardVfePath>(0), 2);
  const size_t before = sink_.Count(EVENT_OUTPUT);
  ASSERT_TRUE(sink_.WaitFor(EVENT_OUTPUT, before + 6));
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_TRUE(WaitAllHome(bm, 4));
}

// The engine's way: the video configurer's chain on the service programs the
// VFE and queues output 1's first buffers; frames and white-balance/exposure
// statistics then flow until Stop, and every buffer comes home.
TEST_F(VfeServiceTest, TheVideoChainOnTheServiceStreams) {
  ASSERT_EQ(PVL_OK, Init());
  CVideoOutput* out1 = svc_->GetOutput(1);
  CPvlPtr<ICameraBufferManager> bm = SetUpMode(out1, VIDEO_OUTPUT_MODE_VIDEO, Nv21Format(kOut1W, kOut1H));
  CPvlPtr<IConfigCommand> video;
  ASSERT_EQ(PVL_OK, service_->GetConfigurer(ZUEUID_CONFIG_VIDEO, &video));
  ASSERT_EQ(PVL_OK, video->Configure());
  ASSERT_EQ(PVL_OK, service_->Start());
  StartSensor();
  ASSERT_TRUE(sink_.WaitFor(EVENT_OUTPUT, 6)) << sink_.Count(EVENT_OUTPUT);
  EXPECT_TRUE(sink_.WaitFor(EVENT_STATS_AVAILABLE, 2)) << sink_.Count(EVENT_STATS_AVAILABLE);
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_TRUE(WaitAllHome(bm, 4));
  EXPECT_TRUE(WaitAllHome(svc_->GetWBExpStats()->GetPool(), 3));
}

// The video chain sets up the focus and near-white statistics from the
// tuning: focus values of the picked cells arrive as AF statistics (argument
// 1), and the WB/exposure statistics (argument 0) come in the 256 regions the
// AWB-extended block asks for, with near-white samples counted.
TEST_F(VfeServiceTest, TheVideoChainDeliversFocusAndNearWhiteStatistics) {
  ASSERT_EQ(PVL_OK, Init());
  CPvlPtr<ICameraBufferManager> bm = SetUpMode(svc_->GetOutput(1), VIDEO_OUTPUT_MODE_VIDEO, Nv21Format(kOut1W, kOut1H));
  std::mutex m;
  std::vector<uint32_t> focus;
  int focusEvents = 0;
  uint32_t regions = 0;
  uint64_t grey = 0;
  sink_.during = [&](const Event& e) {
    if (e.kind != EVENT_STATS_AVAILABLE || !e.object) return;
    if (e.argument == 1) {
      uint32_t values[16] = {};
      int32_t count = 0;
      PvlResult r = static_cast<IAFStats*>(e.object)->GetFocusValues(values, 16, &count);
      std::lock_guard<std::mutex> hold(m);
      ++focusEvents;
      if (r == PVL_OK) focus.assign(values, values + count);
    } else if (e.argument == 0) {
      CPvlPtr<IWBExpStats2> wb;
      if (e.object->QueryInterface(ZUEUID_IFACE_WB_EXP_STATS2, reinterpret_cast<void**>(wb.Out())) != PVL_OK) return;
      uint32_t n = 0, values[256] = {};
      wb->GetRegionCount(&n);
      uint32_t count = 0;
      if (wb->GetGreyPixelsPerRegion(values, 256, &count) != PVL_OK) return;
      uint64_t sum = 0;
      for (uint32_t i = 0; i < 256; ++i) sum += values[i];
      std::lock_guard<std::mutex> hold(m);
      regions = n;
      grey = sum;
    }
  };
  CPvlPtr<IConfigCommand> video;
  ASSERT_EQ(PVL_OK, service_->GetConfigurer(ZUEUID_CONFIG_VIDEO, &video));
  ASSERT_EQ(PVL_OK, video->Configure());
  ASSERT_EQ(PVL_OK, service_->Start());
  StartSensor();
  EXPECT_TRUE(sink_.WaitFor(EVENT_STATS_AVAILABLE, 6)) << sink_.Count(EVENT_STATS_AVAILABLE);
  ASSERT_EQ(PVL_OK, service_->Stop());
  sink_.during = nullptr;
  std::lock_guard<std::mutex> hold(m);
  EXPECT_GE(focusEvents, 1);
  // Two cells picked (5 and 6): one focus value each, and the chart has detail in them.
  ASSERT_EQ(2u, focus.size());
  EXPECT_GT(focus[0] + focus[1], 0u);
  EXPECT_EQ(256u, regions);
  EXPECT_GT(grey, 0u) << "no near-white sample in the whole chart";
}

TEST_F(VfeServiceTest, ConfigurersNeedAnInitializedService) {
  // Refused when made or when run, but never run on an uninitialised service.
  CPvlPtr<IConfigCommand> video;
  if (service_->GetConfigurer(ZUEUID_CONFIG_VIDEO, &video) == PVL_OK) { EXPECT_NE(PVL_OK, video->Configure()); }
  EXPECT_EQ(VFE_STATE_UNINITIALIZED, svc_->GetCurrentStateId());
  EXPECT_FALSE(svc_->HasDriver());
}

// ---- Output order ----------------------------------------------------------------------------

struct OrderCase {
  const char* name;
  uint32_t w1, h1, w2, h2;
  bool both;
  bool swapped;
};

class OutputOrder : public VfeServiceTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(OutputOrder, TheSmallerFrameServesPathOne) {
  const OrderCase& c = GetParam();
  ASSERT_EQ(PVL_OK, Init());
  CVideoOutput* out1 = svc_->GetOutput(1);
  CVideoOutput* out2 = svc_->GetOutput(2);
  ASSERT_EQ(PVL_OK, out1->SetFormat(VIDEO_OUTPUT_MODE_VIDEO, &(const CameraPortFormat&)Nv21Format(c.w1, c.h1)));
  ASSERT_EQ(PVL_OK, out2->SetFormat(VIDEO_OUTPUT_MODE_VIDEO, &(const CameraPortFormat&)Nv21Format(c.w2, c.h2)));
  out1->Enable(VIDEO_OUTPUT_MODE_VIDEO, 1);
  out2->Enable(VIDEO_OUTPUT_MODE_VIDEO, c.both ? 1 : 0);
  svc_->UpdateOutputOrder(VIDEO_OUTPUT_MODE_VIDEO);
  EXPECT_EQ(c.swapped ? out2 : out1, svc_->GetCurrentOutput1());
  EXPECT_EQ(c.swapped ? out1 : out2, svc_->GetCurrentOutput2());
  EXPECT_EQ(c.swapped ? uint32_t(VFE_CMD_ACK_OUTPUT) : uint32_t(VFE_CMD_ACK_OUTPUT_MODE1), out1->GetAckCommand());
  EXPECT_EQ(c.swapped ? uint32_t(VFE_CMD_ACK_OUTPUT_MODE1) : uint32_t(VFE_CMD_ACK_OUTPUT), out2->GetAckCommand());
}

INSTANTIATE_TEST_SUITE_P(VfeService, OutputOrder,
                         ::testing::Values(OrderCase{"LargerFirstSwaps", 640, 480, 320, 240, true, true},
                                           OrderCase{"SmallerFirstStays", 320, 240, 640, 480, true, false},
                                           OrderCase{"EitherDimensionSwaps", 640, 240, 320, 480, true, true},
                                           OrderCase{"OneDisabledNeverSwaps", 640, 480, 320, 240, false, false}),
                         camera::test::CaseName<OrderCase>);

// ---- Message signal window -------------------------------------------------------------------

// Sits between the service and the real VFE driver: counts the messages the
// service reads and the message signal's fires, and can make the VFE interrupt
// once inside the window between the service's last empty read and its next
// wait, returning only after the driver has posted and fired.
class WindowDriver final : public ICameraDriver {
 public:
  class Control final : public ISignalControl {
   public:
    Control(WindowDriver* owner, ISignalControl* inner) : owner_(owner), inner_(inner) { inner_->AddRef(); }
    int32_t AddRef() override { return ++refs_; }
    int32_t Release() override {
      int32_t n = --refs_;
      if (n == 0) {
        inner_->Release();
        delete this;
      }
      return n;
    }
    PvlResult QueryInterface(ZUEUID iid, void** out) override {
      if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_SIGNAL_CONTROL) {
        AddRef();
        *out = static_cast<ISignalControl*>(this);
        return PVL_OK;
      }
      *out = nullptr;
      return PVL_E_NOTSUPPORTED;
    }
    PvlResult Fire() override {
      PvlResult r = inner_->Fire();
      owner_->Note([&] { ++owner_->fires_; });
      return r;
    }

   private:
    WindowDriver* owner_;
    ISignalControl* inner_;
    std::atomic<int32_t> refs_{1};
  };

  static WindowDriver* current;
  static PvlResult Create(IEnv* env, ZUEUID clsid, void* argument, void** out) {
    void* made = nullptr;
    PvlResult r = VfeDriver_CreateInstance(env, clsid, argument, &made);
    if (r != PVL_OK) return r;
    current->inner_ = static_cast<ICameraDriver*>(made);
    current->AddRef();
    *out = static_cast<ICameraDriver*>(current);
    return PVL_OK;
  }

  int32_t AddRef() override { return ++refs_; }
  int32_t Release() override {
    int32_t n = --refs_;
    if (n == 1 && inner_) {  // the test's own reference is left: the service let go
      inner_->Release();
      inner_ = nullptr;
    }
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_CAMERA_DRIVER) {
      AddRef();
      *out = static_cast<ICameraDriver*>(this);
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult OptionalQueryA(void* b, uint32_t s, uint32_t* l) override { return inner_->OptionalQueryA(b, s, l); }
  PvlResult OptionalSetA(void* v) override { return inner_->OptionalSetA(v); }
  PvlResult OptionalQueryB(void* b, uint32_t s, uint32_t* l) override { return inner_->OptionalQueryB(b, s, l); }
  PvlResult OptionalSetB(void* v) override { return inner_->OptionalSetB(v); }
  PvlResult Stop() override { return inner_->Stop(); }
  PvlResult Command(uint32_t command, void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                    uint32_t* outputLength) override {
    if (command == VFE_CMD_SET_NOTIFY && input && inputSize == sizeof(VfeNotifyCmd)) {
      VfeNotifyCmd cmd;
      memcpy(&cmd, input, sizeof cmd);
      void* control = nullptr;
      if (cmd.notify) cmd.notify->QueryInterface(ZUEUID_IFACE_SIGNAL_CONTROL, &control);
      Control* wrapped = control ? new Control(this, static_cast<ISignalControl*>(control)) : nullptr;
      if (control) static_cast<ISignalControl*>(control)->Release();
      VfeNotifyCmd mine{wrapped};
      PvlResult r = inner_->Command(command, &mine, sizeof mine, output, outputSize, outputLength);
      if (wrapped) wrapped->Release();  // the driver keeps its own reference
      return r;
    }
    PvlResult r = inner_->Command(command, input, inputSize, output, outputSize, outputLength);
    if (command != VFE_CMD_READ_MESSAGE) return r;
    if (r == PVL_OK) {
      VfeMessage m;
      memcpy(&m, input, sizeof m);
      Note([&] { ++reads_[m.id]; });
    } else if (ReadsOf(MSG_VFE_UPDATE_ACK) > 0 && interruptInWindow_.exchange(false)) {
      uint32_t before = Fires();
      BoardVfeRaiseStatus(1u << kVfeIrqUpdate);
      std::unique_lock<std::mutex> hold(m_);
      cv_.wait_for(hold, std::chrono::seconds(20), [&] { return fires_ > before; });
    }
    return r;
  }

  // Once an update acknowledge was read, the next empty read is followed by another.
  void InterruptInTheWindow() { interruptInWindow_ = true; }
  uint32_t ReadsOf(uint32_t id) {
    std::lock_guard<std::mutex> hold(m_);
    return reads_[id];
  }
  uint32_t Fires() {
    std::lock_guard<std::mutex> hold(m_);
    return fires_;
  }
  bool WaitForFires(uint32_t n) {
    std::unique_lock<std::mutex> hold(m_);
    return cv_.wait_for(hold, std::chrono::seconds(20), [&] { return fires_ >= n; });
  }
  bool WaitForReads(uint32_t id, uint32_t n) {
    std::unique_lock<std::mutex> hold(m_);
    return cv_.wait_for(hold, std::chrono::seconds(20), [&] { return reads_[id] >= n; });
  }

 private:
  template <class F>
  void Note(F change) {
    {
      std::lock_guard<std::mutex> hold(m_);
      change();
    }
    cv_.notify_all();
  }
  std::atomic<int32_t> refs_{1};
  ICameraDriver* inner_ = nullptr;
  std::atomic<bool> interruptInWindow_{false};
  std::mutex m_;
  std::condition_variable cv_;
  uint32_t fires_ = 0;
  std::map<uint32_t, uint32_t> reads_;
};
WindowDriver* WindowDriver::current = nullptr;

// An interrupt whose message lands after the receive thread's last empty read
// and before it waits again still gets read, though nothing else ever fires.
TEST_F(VfeServiceTest, AMessagePostedAfterTheLastEmptyReadIsStillRead) {
  WindowDriver window;
  WindowDriver::current = &window;
  ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_VFE_DRIVER, &WindowDriver::Create));
  ASSERT_EQ(PVL_OK, Init());
  ConfigurePipeline(6);  // no output path and no sensor: the VFE interrupts only when told to
  ASSERT_EQ(PVL_OK, service_->Start());
  window.InterruptInTheWindow();
  BoardVfeRaiseStatus(1u << kVfeIrqUpdate);
  EXPECT_TRUE(window.WaitForReads(MSG_VFE_UPDATE_ACK, 2)) << "the second acknowledge stayed in the ring";
  EXPECT_TRUE(window.WaitForFires(2)) << "its interrupt fired the signal again";
  ASSERT_EQ(PVL_OK, service_->Stop());
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
  service_.Reset();
  WindowDriver::current = nullptr;
}

// ---- Snapshot done ---------------------------------------------------------------------------

// The engine hears of the end of a snapshot with the service lock free: another
// thread can take it while the engine's handler runs.
TEST_F(VfeServiceTest, SnapshotDoneReachesTheEngineWithoutTheServiceLock) {
  ASSERT_EQ(PVL_OK, Init());
  CVideoOutput* out1 = svc_->GetOutput(1);
  CPvlPtr<ICameraBufferManager> bm = SetUpMode(out1, VIDEO_OUTPUT_MODE_STILL, Nv21Format(kOut1W, kOut1H));
  ConfigurePipeline(0);
  svc_->UpdateOutputOrder(VIDEO_OUTPUT_MODE_STILL);
  ArmOutput(out1, VIDEO_OUTPUT_MODE_STILL, 1);
  VfeOperationMode* mode = svc_->GetOperationMode();
  mode->snapshot = 1;
  mode->snapshotFrames = 1;
  std::atomic<bool> lockFree{false};
  ILock* lock = svc_->GetLock();
  sink_.during = [&](const Event& e) {
    if (e.kind != EVENT_SNAPSHOT_DONE) return;
    auto other = std::async(std::launch::async, [lock] {
      lock->Lock();
      lock->Unlock();
    });
    lockFree = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  };
  ASSERT_EQ(PVL_OK, service_->Start());
  StartSensor();
  ASSERT_TRUE(sink_.WaitFor(EVENT_SNAPSHOT_DONE, 1));
  EXPECT_TRUE(lockFree);
  EXPECT_GE(sink_.Count(EVENT_OUTPUT), 1u);
  sink_.during = nullptr;
}

// ---- Suspend and Resume ----------------------------------------------------------------------

TEST_F(VfeServiceTest, SuspendDropsTheDriverAndResumeBringsItBack) {
  ASSERT_EQ(PVL_OK, Init());
  ASSERT_EQ(PVL_OK, service_->Suspend());
  EXPECT_FALSE(svc_->HasDriver());
  EXPECT_TRUE(svc_->HasThread());
  EXPECT_EQ(PVL_E_NOTREADY, svc_->SendCommand(VFE_CMD_RESET, nullptr, 0));
  ASSERT_EQ(PVL_OK, service_->Resume());
  EXPECT_TRUE(svc_->HasDriver());
  // The new driver reports to the same thread: frames flow again.
  CVideoOutput* out1 = svc_->GetOutput(1);
  CPvlPtr<ICameraBufferManager> bm = SetUpMode(out1, VIDEO_OUTPUT_MODE_VIDEO, Nv21Format(kOut1W, kOut1H));
  ConfigurePipeline(0);
  ArmOutput(out1, VIDEO_OUTPUT_MODE_VIDEO, 3);
  ASSERT_EQ(PVL_OK, service_->Start());
  StartSensor();
  EXPECT_TRUE(sink_.WaitFor(EVENT_OUTPUT, 3));
}

// ---- The tuning table ------------------------------------------------------------------------

// The tuning server keeps the "VFE" table without a reference: the service
// withdraws it when it goes, so a tool that lists and reads afterwards sees
// nothing of it (and the server reads no freed memory).
TEST(VfeServiceTuning, TheVfeTableLeavesTheServerWithTheService) {
  TuningToolSession tool;
  ASSERT_NE(0, tool.port);
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  CPvlPtr<ITunvex> server;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, server.Out()));
  ASSERT_EQ(PVL_OK, server->Start());
  TunvexClient& client = tool.client;
  ASSERT_TRUE(tool.Connect()) << client.Error();
  auto names = [&client] {
    std::vector<tunvex::ListEntry> items;
    EXPECT_TRUE(client.ListAll(&items)) << client.Error();
    std::vector<std::string> out;
    for (const tunvex::ListEntry& e : items) out.push_back(e.name);
    return out;
  };
  {
    CPvlPtr<IVfeService> service;
    ASSERT_EQ(PVL_OK, VfeService_CreateInstance(env.Get(), ZUEUID_CLASS_VFE_SERVICE, nullptr, service.Out()));
    CRuntimeTuning* registry = static_cast<CVfeService*>(service.Get())->GetRuntimeTuning();
    ASSERT_NE(nullptr, registry);
    // A value of the service's, as a block would register one; the group is
    // offered again so that the server counts it.
    static uint32_t probe = 7;
    ASSERT_EQ(PVL_OK, registry->Register("Probe", &probe, TUNING_TYPE_U32, 1, 0));
    ASSERT_EQ(PVL_OK, server->Unregister(registry->Face()));
    ASSERT_EQ(PVL_OK, server->Register(registry->Face(), "VFE"));
    std::vector<std::string> listed = names();
    EXPECT_NE(std::find(listed.begin(), listed.end(), "Probe"), listed.end()) << ::testing::PrintToString(listed);
  }
  std::vector<std::string> listed = names();
  EXPECT_EQ(std::find(listed.begin(), listed.end(), "Probe"), listed.end());
  std::vector<std::optional<std::string>> texts;
  bool pending = false;
  client.Get({{0, 0}}, &texts, &pending);  // whatever it answers, it reads nothing freed
  uint32_t needed = 0;
  EXPECT_EQ(PVL_OK, server->SendDataToJPEG(nullptr, 0, &needed, nullptr));
  client.Close();
  server.Reset();
}

// The tool lists the blocks' keys in the "VFE" table's order, each block's
// from its construction, and a write through the tool lands in the block.
TEST(VfeServiceTuning, TheToolListsTheBlocksKeysAndWritesReachThePayload) {
  TuningToolSession tool;
  ASSERT_NE(0, tool.port);
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  CPvlPtr<ITunvex> server;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, server.Out()));
  ASSERT_EQ(PVL_OK, server->Start());
  {
    CPvlPtr<IVfeService> service;
    ASSERT_EQ(PVL_OK, VfeService_CreateInstance(env.Get(), ZUEUID_CLASS_VFE_SERVICE, nullptr, service.Out()));
    CVfeService* svc = static_cast<CVfeService*>(service.Get());
    TunvexClient& client = tool.client;
    ASSERT_TRUE(tool.Connect()) << client.Error();
    std::vector<tunvex::ListEntry> items;
    ASSERT_TRUE(client.ListAll(&items)) << client.Error();
    // The keys of every block the service computes, none of any other.
    const std::map<VfeKeyBlock, bool> held = {
        {VfeKeyBlock::ASF, svc->GetASFConfiguration() != nullptr},
        {VfeKeyBlock::BlackLevel, svc->GetBlackLevelConfiguration() != nullptr},
        {VfeKeyBlock::ChannelGain, svc->GetChannelGainConfiguration() != nullptr},
        {VfeKeyBlock::ChromaSupp, svc->GetChromaSuppConfiguration() != nullptr},
        {VfeKeyBlock::ColorConv, svc->GetColorConvConfiguration() != nullptr},
        {VfeKeyBlock::ColorCorr, svc->GetColorCorrConfiguration() != nullptr},
        {VfeKeyBlock::Demosaic, svc->GetDemosaicConfiguration() != nullptr},
        {VfeKeyBlock::Gamma, svc->GetGammaConfiguration() != nullptr},
        {VfeKeyBlock::Rolloff, svc->GetRolloffConfiguration() != nullptr},
        {VfeKeyBlock::AFStats, svc->GetAFStatsConfiguration() != nullptr},
        {VfeKeyBlock::AWBExtStats, svc->GetAWBExtStatsConfiguration() != nullptr},
        {VfeKeyBlock::WhiteBalance, svc->GetWhiteBalanceConfiguration() != nullptr},
        {VfeKeyBlock::LumaAdaptation, svc->GetLumaAdaptationConfiguration() != nullptr},
    };
    std::vector<std::string> expected, listed;
    for (const VfeTuningKey& key : kVfeTuningKeys)
      if (held.at(key.block)) expected.push_back(key.name);
    uint16_t shiftId = 0;
    for (const tunvex::ListEntry& e : items) {
      if (e.name == "3A") continue;  // the server's own summary item, always first
      listed.push_back(e.name);
      if (e.name == "ABF-shift") shiftId = e.id;
    }
    EXPECT_EQ(expected, listed);
    ASSERT_NE(nullptr, svc->GetDemosaicConfiguration());
    bool pending = false;
    ASSERT_TRUE(client.Set({{shiftId, 0, "2"}}, &pending)) << client.Error();
    EXPECT_EQ(2, reinterpret_cast<const uint8_t*>(&svc->GetDemosaicConfiguration()->GetPayload())[4]);
    client.Close();
  }
  server.Reset();
}

TEST(VfeServiceTuning, WithoutTheTuningServerTheServiceStillComes) {
  camera::test::RemoveImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg");
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  CPvlPtr<IVfeService> service;
  ASSERT_EQ(PVL_OK, VfeService_CreateInstance(env.Get(), ZUEUID_CLASS_VFE_SERVICE, nullptr, service.Out()));
  CPvlPtr<IRuntimeTuning> keys;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, service->QueryInterface(ZUEUID_RUNTIME_TUNING, keys.Out()));
}

}  // namespace
}  // namespace vfeservicetest
