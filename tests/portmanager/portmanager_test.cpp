// The port manager: ports made from the VFE outputs, the order the driver
// gets them in, routing of video and still frames, snapshot counting, the
// Stop event on a failed still frame and the date/time overlay.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ccameraportmanager.h"
#include "cmcamerabuffermanager.h"
#include "enginefakes.h"
#include "enginetest.h"

using namespace enginetest;

namespace {

class PortManagerTest : public EngineTest {
 protected:
  void Drop() override {
    manager.Reset();
    for (FakeVideoOutput* o : {&raw, &big, &small}) {
      for (uint32_t m = 0; m < 2; ++m) o->SetBufferManager(m, nullptr);
      EXPECT_EQ(o->refs, 0) << "output " << o->id;
    }
    EXPECT_EQ(vfe.refs, 0);
    EXPECT_EQ(sensor.refs, 0);
    EXPECT_EQ(machine.refs, 0);
  }
  PvlResult Make() { return CCameraPortManager::Create(env, &machine, &vfe, &sensor, &manager); }
  std::vector<ICameraPort*> Ports(uint32_t capacity, uint32_t* count) {
    std::vector<ICameraPort*> ports(capacity, nullptr);
    EXPECT_EQ(manager->GetPorts(ports.data(), capacity, count), PVL_OK);
    ports.resize(std::min(capacity, *count));
    return ports;
  }
  static uint32_t Type(ICameraPort* p) {
    uint32_t t = 0;
    p->GetPortType(&t);
    return t;
  }
  static IVideoOutput* OutputOf(ICameraPort* p) {
    IVideoOutput* o = nullptr;
    p->GetOutput(&o);
    if (o) o->Release();
    return o;
  }

  FakeVideoOutput raw{0, BayerFormat(2592, 1944)};
  FakeVideoOutput big{1, Nv21Format(2592, 1944, kFrameIntervalUs)};
  FakeVideoOutput small{2, Nv21Format(320, 240, kFrameIntervalUs)};
  FakeVfeService vfe{{&raw, &big, &small}};
  FakeSensorService sensor;
  FakeStateMachine machine;
  CPvlPtr<CCameraPortManager> manager;
};

TEST_F(PortManagerTest, TheLargerYuvOutputCarriesTheMainImage) {
  struct Case {
    const char* name;
    std::vector<FakeVideoOutput*> order;
  } cases[] = {{"large first", {&raw, &big, &small}}, {"small first", {&small, &raw, &big}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    manager.Reset();
    vfe.outputs = c.order;
    ASSERT_EQ(Make(), PVL_OK);
    uint32_t count = 0;
    std::vector<ICameraPort*> ports = Ports(5, &count);
    ASSERT_EQ(count, 4u);
    const uint32_t types[] = {ZUEUID_CAMERA_PORT_VIDEO, ZUEUID_CAMERA_PORT_VIDEO, ZUEUID_CAMERA_PORT_MAIN_IMAGE,
                              ZUEUID_CAMERA_PORT_THUMBNAIL};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(Type(ports[i]), types[i]) << i;
    // Video ports by ascending output identifier.
    EXPECT_EQ(OutputOf(ports[0]), &big);
    EXPECT_EQ(OutputOf(ports[1]), &small);
    EXPECT_EQ(OutputOf(ports[2]), &big);
    EXPECT_EQ(OutputOf(ports[3]), &small);
    for (ICameraPort* p : ports) p->Release();
  }
  // Capacity below the count: the count still says how many there are.
  uint32_t count = 0;
  std::vector<ICameraPort*> two = Ports(2, &count);
  EXPECT_EQ(count, 4u);
  for (ICameraPort* p : two) p->Release();
  EXPECT_EQ(manager->GetPorts(nullptr, 5, &count), PVL_E_NULLPTR);
}

TEST_F(PortManagerTest, OfTwoEqualOutputsTheLaterIsMain) {
  FakeVideoOutput twin{3, Nv21Format(320, 240, kFrameIntervalUs)};
  vfe.outputs = {&small, &twin};
  ASSERT_EQ(Make(), PVL_OK);
  EXPECT_EQ(OutputOf(manager->MainImagePort()), &twin);
  EXPECT_EQ(OutputOf(manager->ThumbnailPort()), &small);
  manager.Reset();
  EXPECT_EQ(twin.refs, 0);
}

TEST_F(PortManagerTest, ConstructionStopsAtTheFirstFailure) {
  FakeVideoOutput odd{5, Nv21Format(320, 240, kFrameIntervalUs)};
  odd.supported.idColorSpace = 0x01042887;
  struct Case {
    const char* name;
    std::vector<FakeVideoOutput*> outputs;
    PvlResult formatsResult;
    PvlResult result;
  } cases[] = {
      {"unknown colour space", {&big, &odd}, PVL_OK, PVL_E_FAIL},
      {"a format query fails", {&big, &small}, PVL_E_NOTREADY, PVL_E_NOTREADY},
  };
  for (const Case& c : cases) {
    vfe.outputs = c.outputs;
    small.formatsResult = c.formatsResult;
    EXPECT_EQ(Make(), c.result) << c.name;
    EXPECT_EQ(manager.Get(), nullptr) << c.name;
  }
  small.formatsResult = PVL_OK;
  EXPECT_EQ(odd.refs, 0);
  EXPECT_EQ(CCameraPortManager::Create(env, &machine, nullptr, &sensor, &manager), PVL_E_NULLPTR);
}

TEST_F(PortManagerTest, VideoFramesGoToTheirOutputsPort) {
  ASSERT_EQ(Make(), PVL_OK);
  CPvlPtr<ICameraBufferManager> pool;
  ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, pool.Out()));
  BufferRequest r{};
  r.count = 2;
  r.size = 115200;
  ASSERT_EQ(pool->InitRequirements(&r, 0, 0), PVL_OK);
  ASSERT_EQ(pool->Allocate(), PVL_OK);
  small.SetBufferManager(1, pool);
  IPvlMediaBuffer* frame = small.Produce(1);
  ASSERT_NE(frame, nullptr);

  ASSERT_EQ(manager->QueueVideoFrame(2, frame), PVL_OK);
  uint32_t count = 0;
  std::vector<ICameraPort*> ports = Ports(5, &count);
  EXPECT_EQ(static_cast<CCameraPort*>(ports[1])->QueuedFrames(), 1u);
  struct Case {
    const char* name;
    uint32_t id;
  } refused[] = {{"unknown output", 9}, {"the raw output has no video port", 0}};
  for (const Case& c : refused) {
    CaptureBegin();
    EXPECT_EQ(manager->QueueVideoFrame(c.id, frame), PVL_E_NOTFOUND) << c.name;
    auto lines = CaptureEnd();
    EXPECT_TRUE(Contains(lines, "ERROR queing frame to invalid camera port " + std::to_string(c.id))) << c.name;
    EXPECT_TRUE(Contains(lines, "ERROR queing frame to camera port")) << c.name;
  }
  frame->Release();
  ports[1]->SetMode(0);  // closing gives the queued frame back
  for (ICameraPort* p : ports) p->Release();
  small.SetBufferManager(1, nullptr);
  EXPECT_EQ(pool->Free(), PVL_OK);
}

TEST_F(PortManagerTest, OnlyTheRequestedNumberOfStillsGetsThrough) {
  ASSERT_EQ(Make(), PVL_OK);
  CPvlPtr<ICameraBufferManager> pool;
  ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, pool.Out()));
  BufferRequest r{};
  r.count = 4;
  r.size = 4096;
  ASSERT_EQ(pool->InitRequirements(&r, 0, 0), PVL_OK);
  ASSERT_EQ(pool->Allocate(), PVL_OK);
  ASSERT_EQ(manager->SetSnapshotCount(1), PVL_OK);
  EXPECT_EQ(manager->GetSnapshotCount(), 1u);
  auto* main = manager->MainImagePort();
  auto* thumb = manager->ThumbnailPort();
  for (int i = 0; i < 2; ++i) {
    IPvlMediaBuffer *m = nullptr, *t = nullptr;
    ASSERT_EQ(pool->GetBuffer(1, &m), PVL_OK);
    ASSERT_EQ(pool->GetBuffer(1, &t), PVL_OK);
    EXPECT_EQ(manager->QueueSnapshotFrame(1, m), PVL_OK);
    EXPECT_EQ(manager->QueueSnapshotFrame(2, t), PVL_OK);
    m->Release();
    t->Release();
  }
  EXPECT_EQ(main->QueuedFrames(), 1u) << "the second main frame is ignored";
  EXPECT_EQ(thumb->QueuedFrames(), 1u);
  // A raw frame is not counted and goes to the main-image port.
  IPvlMediaBuffer* b = nullptr;
  ASSERT_EQ(pool->GetBuffer(1, &b), PVL_OK);
  EXPECT_EQ(manager->QueueSnapshotFrame(0, b), PVL_OK);
  b->Release();
  EXPECT_EQ(main->QueuedFrames(), 2u);
  EXPECT_EQ(machine.stops, 0);
  main->SetMode(0);
  thumb->SetMode(0);
  EXPECT_EQ(pool->Free(), PVL_OK);
}

TEST_F(PortManagerTest, AStillFrameThatCannotBeRoutedStopsTheEngine) {
  ASSERT_EQ(Make(), PVL_OK);
  CameraPortFormat f = Nv21Format(640, 480, kFrameIntervalUs);
  f.FourCC = CAMERA_FOURCC_IJPG;
  ASSERT_EQ(manager->MainImagePort()->SetFormat(&f), PVL_OK);
  EXPECT_TRUE(manager->IsJpegOutput());
  ASSERT_EQ(manager->SetSnapshotCount(1), PVL_OK);
  CPvlMediaBuffer frame(nullptr, env);
  ExpectBreaks(1);  // a frame without an owner, made here only to be refused
  CaptureBegin();
  EXPECT_EQ(manager->QueueSnapshotFrame(0, &frame), PVL_E_FAIL) << "no JPEG path for the raw output";
  EXPECT_TRUE(Contains(CaptureEnd(), "ERROR queing frame to camera port"));
  EXPECT_EQ(machine.stops, 1);
}

TEST_F(PortManagerTest, FormatQueriesReportWhatIsEnabled) {
  ASSERT_EQ(Make(), PVL_OK);
  uint32_t id = 0;
  CameraPortFormat f{};
  EXPECT_EQ(manager->GetMainVideoOutput(&id, &f), PVL_E_FAIL) << "no video port started";
  uint32_t count = 0;
  std::vector<ICameraPort*> ports = Ports(5, &count);
  for (ICameraPort* p : ports) p->SetMode(1);
  ASSERT_EQ(ports[1]->Start(), PVL_OK);
  ASSERT_EQ(manager->GetMainVideoOutput(&id, &f), PVL_OK);
  EXPECT_EQ(id, 2u);
  ASSERT_EQ(ports[0]->Start(), PVL_OK);
  ASSERT_EQ(manager->GetMainVideoOutput(&id, &f), PVL_OK);
  EXPECT_EQ(id, 1u) << "the largest started output";
  CameraPortFormat formats[3]{};
  ASSERT_EQ(manager->GetEnabledVideoFormats(formats, 3, &count), PVL_OK);
  EXPECT_EQ(count, 2u);

  CameraPortFormat small640 = Nv21Format(640, 480, kFrameIntervalUs);
  ASSERT_EQ(ports[2]->SetFormat(&small640), PVL_OK);
  ASSERT_EQ(ports[2]->Start(), PVL_OK);
  ASSERT_EQ(manager->GetEnabledSnapshotFormats(formats, 3, &count), PVL_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(formats[0].Width, 2592u) << "the sensor's full size";
  EXPECT_EQ(formats[0].Height, 1944u);
  ASSERT_EQ(manager->GetSnapshotMainFormat(&id, &f), PVL_OK);
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(f.Width, 640u);
  ASSERT_EQ(manager->GetSnapshotThumbnailFormat(&id, &f), PVL_OK);
  EXPECT_EQ(id, 2u);
  for (ICameraPort* p : ports) {
    p->Stop();
    p->Release();
  }
  EXPECT_EQ(manager->SetPortMode(0), PVL_OK);
}

// ---- The date/time overlay ----

struct Rgb {
  uint8_t r, g, b;
};

TEST(TimeStampOverlay, ColoursFollowBt601AndTheFramesChromaOrder) {
  const uint32_t W = 16, H = 8;
  struct Case {
    const char* name;
    Rgb pixel;
    bool crFirst;
    uint8_t y, cb, cr;
  } cases[] = {
      {"white", {255, 255, 255}, false, 235, 128, 128},
      {"red, NV12", {255, 0, 0}, false, 82, 90, 240},
      {"red, NV21", {255, 0, 0}, true, 82, 90, 240},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> frame(W * H * 3 / 2, 0x80);
    std::vector<uint8_t> stamp(2 * 2 * 3);
    for (int i = 0; i < 4; ++i) std::memcpy(&stamp[i * 3], &c.pixel, 3);
    ASSERT_EQ(CCameraPortManager::OverlayTimeStamp(stamp.data(), frame.data(), uint32_t(frame.size()), 2, 2, W, H, 4, 2,
                                                   CAMERA_STAMP_SEMIPLANAR_420, c.crFirst),
              1u)
        << c.name;
    EXPECT_EQ(frame[2 * W + 4], c.y) << c.name;
    EXPECT_EQ(frame[3 * W + 5], c.y) << c.name;
    const uint8_t* pair = &frame[W * H + 1 * W + 4];
    EXPECT_EQ(pair[c.crFirst ? 1 : 0], c.cb) << c.name;
    EXPECT_EQ(pair[c.crFirst ? 0 : 1], c.cr) << c.name;
    EXPECT_EQ(frame[2 * W + 6], 0x80) << c.name << ": nothing beside the stamp";
  }
}

TEST(TimeStampOverlay, TransparentPixelsKeepTheFrame) {
  const uint32_t W = 16, H = 8;
  std::vector<uint8_t> frame(W * H * 3 / 2);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 7);
  const std::vector<uint8_t> before = frame;
  std::vector<uint8_t> stamp(8 * 4 * 3, 0);
  for (size_t i = 0; i < stamp.size(); i += 3) stamp[i + 1] = 200;  // R = 0: transparent
  for (uint32_t format : {CAMERA_STAMP_SEMIPLANAR_420, CAMERA_STAMP_PLANAR_420, CAMERA_STAMP_PLANAR_420_CRCB}) {
    CCameraPortManager::OverlayTimeStamp(stamp.data(), frame.data(), uint32_t(frame.size()), 8, 4, W, H, 2, 2, format,
                                         false);
    EXPECT_EQ(frame, before) << std::hex << format;
  }
}

// The stamp and its placement come from a mailbox the client fills: nothing may
// land outside the frame.
TEST(TimeStampOverlay, AStampIsClippedToTheFrame) {
  const uint32_t W = 32, H = 16;
  const size_t frameBytes = W * H * 3 / 2;
  struct Case {
    const char* name;
    uint32_t format;
    uint32_t stampW, stampH, x, y;
    size_t frameSize;
    uint32_t drawn;
  } cases[] = {
      {"past the right and bottom edge", CAMERA_STAMP_SEMIPLANAR_420, 20, 12, 24, 10, frameBytes, 1},
      {"entirely outside", CAMERA_STAMP_SEMIPLANAR_420, 4, 4, 40, 0, frameBytes, 0},
      {"frame smaller than its size says", CAMERA_STAMP_SEMIPLANAR_420, 4, 4, 0, 0, frameBytes - 1, 0},
      {"planar, past the edge", CAMERA_STAMP_PLANAR_420, 20, 12, 24, 10, frameBytes, 1},
      {"4:2:2, past the edge", CAMERA_STAMP_PACKED_422, 20, 12, 24, 10, W * H * 2, 1},
      {"unknown layout", 0x30001, 4, 4, 0, 0, frameBytes, 0},
  };
  for (const Case& c : cases) {
    const size_t guard = 256;
    std::vector<uint8_t> buffer(W * H * 2 + guard, 0x11);
    std::vector<uint8_t> stamp(c.stampW * c.stampH * 3, 200);
    EXPECT_EQ(CCameraPortManager::OverlayTimeStamp(stamp.data(), buffer.data(), uint32_t(c.frameSize), c.stampW,
                                                   c.stampH, W, H, c.x, c.y, c.format, true),
              c.drawn)
        << c.name;
    for (size_t i = c.frameSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0x11) << c.name << " at " << i;
    if (c.drawn && c.format != CAMERA_STAMP_PACKED_422) {
      EXPECT_NE(buffer[(H - 1) * W + (W - 1)], 0x11) << c.name << ": the corner pixel is stamped";
      EXPECT_EQ(buffer[(H - 1) * W + 23], 0x11) << c.name << ": left of the stamp untouched";
    }
  }
}

TEST(TimeStampOverlay, PackedPairsBlendOnlyWhenBothAreOpaque) {
  const uint32_t W = 8, H = 2;
  std::vector<uint8_t> frame(W * H * 2, 0x40);
  // Pair 0: both white; pair 1: first white, second transparent; pair 2: both transparent.
  std::vector<uint8_t> stamp(6 * 1 * 3, 0);
  for (int i : {0, 1, 2}) std::memset(&stamp[i * 3], 255, 3);
  ASSERT_EQ(CCameraPortManager::OverlayTimeStamp(stamp.data(), frame.data(), uint32_t(frame.size()), 6, 1, W, H, 0, 0,
                                                 CAMERA_STAMP_PACKED_422, false),
            1u);
  const uint8_t expected[12] = {235, 128, 235, 128, 235, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(frame[i], expected[i]) << i;
}

}  // namespace
