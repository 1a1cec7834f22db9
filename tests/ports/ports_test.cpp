// The ports: the frame queue and its blocking reader, the supported formats,
// the proxy and its property face, the video port's mode 1 and the still
// ports' JPEG set-up (thumbnail format, crop, buffer size, NV21 on the outputs).
#include <algorithm>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "ccamerastillport.h"
#include "ccameravideoport.h"
#include "cmcamerabuffermanager.h"
#include "enginefakes.h"
#include "enginetest.h"

using namespace enginetest;

namespace {

PvlResult NoJpegService(IEnv*, ZUEUID, void*, void** out) {
  if (out) *out = nullptr;
  return PVL_E_FAIL;  // the class exists nowhere: no service
}

class PortTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, pool.Out()));
    BufferRequest r{};
    r.count = 4;
    r.size = 4096;
    ASSERT_EQ(pool->InitRequirements(&r, 0, 0), PVL_OK);
    ASSERT_EQ(pool->Allocate(), PVL_OK);
  }
  void Drop() override {
    for (IPvlMediaBuffer* b : held) b->Release();
    held.clear();
    port.Reset();
    if (pool) {
      uint32_t total = 0, free = 0;
      pool->GetCounts(&total, &free);
      EXPECT_EQ(free, total) << "every buffer back in its pool";
      pool->Free();
    }
    pool.Reset();
    EXPECT_EQ(output.refs, 0);
    EXPECT_EQ(sensor.refs, 0);
  }
  void MakeVideoPort(bool open = true, bool start = true) {
    ASSERT_EQ(PVL_OK, CCameraVideoPort::Create(env, &port));
    ASSERT_EQ(PVL_OK, port->Attach(&output, &sensor));
    if (open) port->SetMode(1);
    if (start) {
      ASSERT_EQ(PVL_OK, port->Start());
    }
  }
  IPvlMediaBuffer* Frame() {
    IPvlMediaBuffer* b = nullptr;
    EXPECT_EQ(pool->GetBuffer(1, &b), PVL_OK);
    return b;
  }
  // Queues a frame and drops the producer's reference, as the port manager does.
  IPvlMediaBuffer* QueueOne() {
    IPvlMediaBuffer* b = Frame();
    EXPECT_EQ(port->QueueFrame(b), PVL_OK);
    b->Release();
    return b;
  }
  uint32_t FreeInPool() {
    uint32_t total = 0, free = 0;
    pool->GetCounts(&total, &free);
    return free;
  }

  FakeVideoOutput output{1, Nv21Format(640, 480, kFrameIntervalUs)};
  FakeSensorService sensor;
  CPvlPtr<ICameraBufferManager> pool;
  CPvlPtr<ICameraPort> port;
  std::vector<IPvlMediaBuffer*> held;
};

TEST_F(PortTest, AReaderIsRefusedUnlessTheStartedPortIsOpen) {
  struct Case {
    const char* name;
    bool open, start;
  } cases[] = {{"closed and stopped", false, false}, {"open, not started", true, false}, {"started but closed", false, true}};
  for (const Case& c : cases) {
    port.Reset();
    MakeVideoPort(c.open, c.start);
    IPvlMediaBuffer* b = nullptr;
    EXPECT_EQ(port->GetNextFrame(&b), PVL_E_NOTREADY) << c.name;
    EXPECT_EQ(b, nullptr) << c.name;
    port->Stop();
  }
}

TEST_F(PortTest, FramesComeOutInOrderAndUncopied) {
  MakeVideoPort();
  std::vector<IPvlMediaBuffer*> queued = {QueueOne(), QueueOne(), QueueOne()};
  for (IPvlMediaBuffer* expected : queued) {
    IPvlMediaBuffer* b = nullptr;
    ASSERT_EQ(port->GetNextFrame(&b), PVL_OK);
    EXPECT_EQ(b, expected) << "the output's own buffer, not a copy";
    held.push_back(b);
  }
  EXPECT_EQ(FreeInPool(), 1u);
  for (IPvlMediaBuffer* b : held) b->Release();
  held.clear();
  EXPECT_EQ(FreeInPool(), 4u) << "the client's release sends the buffer home";
  port->Stop();
}

TEST_F(PortTest, AWaitingReaderWakesForAFrameAStopOrAClose) {
  enum Wake { kFrame, kStop, kClose };
  struct Case {
    const char* name;
    Wake wake;
    PvlResult result;
  } cases[] = {{"a frame arrives", kFrame, PVL_OK}, {"the port stops", kStop, PVL_E_STOPPED},
               {"the port closes", kClose, PVL_E_STOPPED}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    port.Reset();
    MakeVideoPort();
    std::atomic<bool> returned{false};
    PvlResult result = -1;
    IPvlMediaBuffer* got = nullptr;
    std::thread reader([&] {
      result = port->GetNextFrame(&got);
      returned = true;
    });
    // Give the reader time to be waiting: one that arrives after the stop or close
    // is answered for the state it finds, not woken.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(returned);
    IPvlMediaBuffer* sent = nullptr;
    if (c.wake == kFrame) sent = QueueOne();
    if (c.wake == kStop) port->Stop();
    if (c.wake == kClose) port->SetMode(0);
    reader.join();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(got, sent);
    if (got) got->Release();
    port->Stop();
  }
}

// A capture that ended without its frame reaches the reader once, after the
// frames queued before it; a stop or close forgets it.
TEST_F(PortTest, AFailedCaptureIsReportedOnceAfterTheFramesBeforeIt) {
  MakeVideoPort();
  CCameraPort* p = static_cast<CCameraPort*>(port.Get());
  IPvlMediaBuffer* first = QueueOne();
  ASSERT_EQ(p->QueueFailedCapture(), PVL_OK);
  IPvlMediaBuffer* b = nullptr;
  ASSERT_EQ(port->GetNextFrame(&b), PVL_OK);
  EXPECT_EQ(b, first);
  b->Release();
  b = nullptr;
  EXPECT_EQ(port->GetNextFrame(&b), PVL_E_CAPTURE_FAILED);
  EXPECT_EQ(b, nullptr);
  IPvlMediaBuffer* next = QueueOne();
  ASSERT_EQ(port->GetNextFrame(&b), PVL_OK) << "reported once";
  EXPECT_EQ(b, next);
  b->Release();
  for (bool close : {false, true}) {
    SCOPED_TRACE(close ? "close" : "stop");
    ASSERT_EQ(p->QueueFailedCapture(), PVL_OK);
    if (close) {
      port->SetMode(0);
      port->SetMode(1);
    } else {
      port->Stop();
      ASSERT_EQ(port->Start(), PVL_OK);
    }
    IPvlMediaBuffer* after = QueueOne();
    ASSERT_EQ(port->GetNextFrame(&b), PVL_OK);
    EXPECT_EQ(b, after);
    b->Release();
  }
  port->Stop();
}

// Frames the VFE lost before the stream gave one: every third reaches the reader
// as a failed capture; once a frame came, or on a stopped port, they do not.
TEST_F(PortTest, LostFramesBeforeTheFirstAreReportedAsFailedCaptures) {
  MakeVideoPort();
  CCameraPort* p = static_cast<CCameraPort*>(port.Get());
  IPvlMediaBuffer* b = nullptr;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    for (uint32_t i = 0; i < CCameraPort::kLostFramesReported; ++i) p->NoteLostFrame();
    EXPECT_EQ(port->GetNextFrame(&b), PVL_E_CAPTURE_FAILED);
    EXPECT_EQ(b, nullptr);
  }
  // Two short of a report, then a frame: the frame comes and later losses are the
  // stream's gaps, which the next frames count.
  for (uint32_t i = 1; i < CCameraPort::kLostFramesReported; ++i) p->NoteLostFrame();
  IPvlMediaBuffer* first = QueueOne();
  for (uint32_t i = 0; i < 2 * CCameraPort::kLostFramesReported; ++i) p->NoteLostFrame();
  IPvlMediaBuffer* second = QueueOne();
  for (IPvlMediaBuffer* expected : {first, second}) {
    ASSERT_EQ(port->GetNextFrame(&b), PVL_OK);
    EXPECT_EQ(b, expected);
    b->Release();
  }
  // A new start counts afresh; a stopped port reports nothing.
  port->Stop();
  for (uint32_t i = 0; i < CCameraPort::kLostFramesReported; ++i) p->NoteLostFrame();
  ASSERT_EQ(port->Start(), PVL_OK);
  IPvlMediaBuffer* third = QueueOne();
  ASSERT_EQ(port->GetNextFrame(&b), PVL_OK);
  EXPECT_EQ(b, third);
  b->Release();
  port->Stop();
  ASSERT_EQ(port->Start(), PVL_OK);
  for (uint32_t i = 0; i < CCameraPort::kLostFramesReported; ++i) p->NoteLostFrame();
  EXPECT_EQ(port->GetNextFrame(&b), PVL_E_CAPTURE_FAILED);
  port->Stop();
}

// The sensor was lost: the reader takes the frames queued before, hears of it
// once, then waits for the stop; frames still on their way go back to their pool.
// A stopped port ignores it, and the next start streams again.
TEST_F(PortTest, ALostDeviceIsReportedOnceAfterTheFramesBeforeItAndEndsTheStream) {
  MakeVideoPort();
  CCameraPort* p = static_cast<CCameraPort*>(port.Get());
  IPvlMediaBuffer* first = QueueOne();
  const uint32_t free = FreeInPool();
  p->NoteDeviceLost();
  p->NoteDeviceLost();
  IPvlMediaBuffer* late = QueueOne();
  EXPECT_NE(late, nullptr);
  EXPECT_EQ(FreeInPool(), free) << "a frame after the loss was kept";
  IPvlMediaBuffer* b = nullptr;
  ASSERT_EQ(port->GetNextFrame(&b), PVL_OK);
  EXPECT_EQ(b, first);
  b->Release();
  EXPECT_EQ(port->GetNextFrame(&b), PVL_E_DEVICE_LOST);
  EXPECT_EQ(b, nullptr);
  // Reported once: the reader waits until the stream stops.
  std::atomic<PvlResult> waited{PVL_OK};
  std::atomic<bool> returned{false};
  std::thread reader([&] {
    IPvlMediaBuffer* none = nullptr;
    waited = port->GetNextFrame(&none);
    returned = true;
  });
  p->NoteLostFrame();
  for (int i = 0; i < 3; ++i) p->NoteDeviceLost();
  EXPECT_FALSE(returned.load()) << "reported again";
  port->Stop();
  reader.join();
  EXPECT_TRUE(waited == PVL_E_STOPPED || waited == PVL_E_NOTREADY) << waited;
  p->NoteDeviceLost();
  ASSERT_EQ(port->Start(), PVL_OK);
  IPvlMediaBuffer* again = QueueOne();
  ASSERT_EQ(port->GetNextFrame(&b), PVL_OK) << "a new start forgets the loss";
  EXPECT_EQ(b, again);
  b->Release();
  port->Stop();
}

TEST_F(PortTest, FramesQueuedOnAStoppedPortGoHomeOnTheNextStopOrClose) {
  for (bool close : {false, true}) {
    port.Reset();
    MakeVideoPort(true, false);
    QueueOne();
    QueueOne();
    EXPECT_EQ(static_cast<CCameraPort*>(port.Get())->QueuedFrames(), 2u);
    EXPECT_EQ(FreeInPool(), 2u);
    CaptureBegin();
    if (close)
      port->SetMode(0);
    else
      port->Stop();
    EXPECT_TRUE(Contains(CaptureEnd(), "Clearing Camera Port Buffer Queue."));
    EXPECT_EQ(FreeInPool(), 4u) << (close ? "close" : "stop");
  }
}

TEST_F(PortTest, AttachBindsOnce) {
  ASSERT_EQ(PVL_OK, CCameraVideoPort::Create(env, &port));
  EXPECT_EQ(port->Attach(nullptr, &sensor), PVL_E_NULLPTR);
  EXPECT_EQ(port->Attach(&output, nullptr), PVL_E_NULLPTR);
  sensor.timingResult = PVL_E_FAIL;
  EXPECT_EQ(port->Attach(&output, &sensor), PVL_E_FAIL) << "a failing query ends the attach";
  IVideoOutput* bound = reinterpret_cast<IVideoOutput*>(1);
  ASSERT_EQ(port->GetOutput(&bound), PVL_OK);
  EXPECT_EQ(bound, nullptr) << "and nothing stays bound";
  sensor.timingResult = PVL_OK;
  EXPECT_EQ(port->Attach(&output, &sensor), PVL_OK);
  EXPECT_EQ(port->Attach(&output, &sensor), PVL_E_NOTREADY);
}

TEST_F(PortTest, ScalableFormatsComeInEveryStandardSizeThatFits) {
  struct Case {
    const char* name;
    bool scalable, testMode;
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    uint32_t interval;
  } cases[] = {
      {"scalable 640x480", true, false,
       {{80, 48}, {96, 80}, {128, 96}, {160, 120}, {176, 144}, {320, 192}, {272, 272}, {320, 240}, {352, 288},
        {480, 480}, {640, 384}, {576, 480}, {640, 480}},
       66666},
      {"not scalable", false, false, {{640, 480}}, 33333},
      {"test mode", true, true, {{320, 240}}, 210526},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    port.Reset();
    output.scalable = c.scalable;
    BoardSetCameraTestMode(c.testMode);
    MakeVideoPort(true, false);
    uint32_t count = 0;
    ASSERT_EQ(port->GetSupportedFormats(nullptr, 0, &count), PVL_OK);
    ASSERT_EQ(count, c.sizes.size());
    std::vector<CameraPortFormat> formats(count);
    ASSERT_EQ(port->GetSupportedFormats(formats.data(), count, &count), PVL_OK);
    for (size_t i = 0; i < formats.size(); ++i) {
      EXPECT_EQ(formats[i].Width, c.sizes[i].first) << i;
      EXPECT_EQ(formats[i].Height, c.sizes[i].second) << i;
      EXPECT_EQ(formats[i].Stride, formats[i].Width * 12 / 8) << i;
      EXPECT_EQ(formats[i].FrameInterval, c.interval) << i;
      EXPECT_EQ(formats[i].ClipRight, int32_t(formats[i].Width)) << i;
      EXPECT_EQ(formats[i].FourCC, output.supported.FourCC) << i;
    }
    // A short array gets the first ones only.
    CameraPortFormat first{};
    ASSERT_EQ(port->GetSupportedFormats(&first, 1, &count), PVL_OK);
    EXPECT_EQ(first.Width, c.sizes[0].first);
  }
}

TEST_F(PortTest, TheProxyForwardsAndAnswersTheCounters) {
  MakeVideoPort(true, false);
  output.frameCounter = 41;
  output.status2 = 7;
  CPvlPtr<ICameraPort> proxy;
  *proxy.Out() = nullptr;
  ICameraPort* raw = port->GetProxy();
  CPvlPtr<IProperties> properties;
  ASSERT_EQ(raw->QueryInterface(ZUEUID_IFACE_PROPERTIES_ALT, properties.Out()), PVL_OK);
  PvlValueRecord v{};
  v.type = PVL_VT_UINT32;
  ASSERT_EQ(properties->GetProperty(ZUEUID_PROPERTY_PORT_FRAME_COUNT, &v), PVL_OK);
  EXPECT_EQ(v.payload.u32, 41u);
  ASSERT_EQ(properties->GetProperty(ZUEUID_PROPERTY_PORT_STATUS_2, &v), PVL_OK);
  EXPECT_EQ(v.payload.u32, 7u);
  EXPECT_EQ(properties->GetProperty(ZUEUID_PROPERTY_PORT_FRAME_COUNT, nullptr), PVL_E_BADARG);
  EXPECT_EQ(properties->Reserved3(ZUEUID_PROPERTY_PORT_UNSUPPORTED, 0), PVL_E_UNSUPPORTED);
  EXPECT_EQ(properties->SetProperty(0x1234, &v), PVL_E_DETACHED) << "a video port has no property store";
  uint32_t type = 0;
  EXPECT_EQ(raw->GetPortType(&type), PVL_OK);
  EXPECT_EQ(type, ZUEUID_CAMERA_PORT_VIDEO);
  void* other = nullptr;
  EXPECT_EQ(raw->QueryInterface(0x12345678, &other), PVL_E_UNSUPPORTED);
  properties.Reset();
  raw->Release();

  // A proxy never pointed at its port answers 10 to everything.
  CCameraPortProxy detached;
  EXPECT_EQ(detached.GetPortType(&type), PVL_E_DETACHED);
  EXPECT_EQ(detached.GetNextFrame(nullptr), PVL_E_DETACHED);
  EXPECT_EQ(detached.Start(), PVL_E_DETACHED);
  EXPECT_EQ(detached.QueryInterface(ZUEUID_IFACE_CAMERA_PORT, &other), PVL_E_DETACHED);
  EXPECT_EQ(detached.GetProperty(ZUEUID_PROPERTY_PORT_FRAME_COUNT, &v), PVL_E_DETACHED);
  EXPECT_EQ(detached.AddRef(), 0);
}

TEST_F(PortTest, TheVideoPortDrivesMode1OfItsOutput) {
  MakeVideoPort(true, false);
  auto* video = static_cast<CCameraVideoPort*>(port.Get());
  EXPECT_EQ(video->SetPortType(ZUEUID_CAMERA_PORT_MAIN_IMAGE), PVL_E_BADARG);
  EXPECT_EQ(video->SetPortType(ZUEUID_CAMERA_PORT_VIDEO), PVL_OK);
  EXPECT_EQ(port->GetFormat(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(port->SetFormat(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(port->SetBufferManager(nullptr), PVL_E_NULLPTR);
  uint32_t count = 0;
  EXPECT_EQ(port->GetBufferRequirements(nullptr, 1, &count), PVL_E_NULLPTR);
  EXPECT_EQ(port->GetBufferRequirements(nullptr, 0, nullptr), PVL_E_NULLPTR);
  ASSERT_EQ(port->GetBufferRequirements(nullptr, 0, &count), PVL_OK);
  EXPECT_EQ(count, 1u);

  CameraPortFormat f = Nv21Format(320, 240, kFrameIntervalUs);
  ASSERT_EQ(port->SetFormat(&f), PVL_OK);
  EXPECT_EQ(output.modes[1].format.Width, 320u);
  EXPECT_EQ(output.modes[0].format.Width, 640u) << "mode 0 untouched";
  BufferRequest r{};
  ASSERT_EQ(port->GetBufferRequirements(&r, 1, &count), PVL_OK);
  EXPECT_EQ(r.size, 115200u);
  EXPECT_EQ(r.count, 4u);
  ASSERT_EQ(port->SetBufferManager(pool), PVL_OK);
  CPvlPtr<ICameraBufferManager> back;
  ASSERT_EQ(port->GetBufferAllocator(&back), PVL_OK);
  EXPECT_EQ(back.Get(), pool.Get());
  back.Reset();

  ASSERT_EQ(port->Start(), PVL_OK);
  EXPECT_EQ(output.modes[1].enabled, 1);
  // Stop wakes a reader blocked in GetNextFrame. A reader that a loaded machine lets
  // in only after the stop is told the port is not ready: try again until one was
  // blocked when the stop came.
  PvlResult result = PVL_E_NOTREADY;
  for (int attempt = 0; attempt < 50 && result == PVL_E_NOTREADY; ++attempt) {
    if (attempt > 0) {
      ASSERT_EQ(port->Start(), PVL_OK);
    }
    std::atomic<bool> entered{false};
    std::thread reader([&] {
      IPvlMediaBuffer* b = nullptr;
      entered = true;
      result = port->GetNextFrame(&b);
    });
    while (!entered) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    output.calls.clear();
    const PvlResult stopped = port->Stop();
    reader.join();
    ASSERT_EQ(stopped, PVL_OK);
  }
  EXPECT_EQ(result, PVL_E_STOPPED);
  ASSERT_FALSE(output.calls.empty());
  EXPECT_EQ(output.calls.front(), "Enable(1,0)");
  output.SetBufferManager(1, nullptr);
}

// ---- Still ports ----

class StillPortTest : public EngineTest {
 protected:
  void Drop() override {
    main.Reset();
    thumb.Reset();
    OrbhostTest_UnregisterClass(ZUEUID_CLASS_JPEGSERVICE);
    for (FakeVideoOutput* o : {&mainOutput, &thumbOutput}) {
      o->SetBufferManager(0, nullptr);
      EXPECT_EQ(o->refs, 0);
    }
  }
  void Make() {
    ASSERT_EQ(PVL_OK, CCameraMainImagePort::Create(env, &main));
    ASSERT_EQ(PVL_OK, main->Attach(&mainOutput, &sensor));
    ASSERT_EQ(PVL_OK, CCameraThumbnailPort::Create(env, &thumb));
    ASSERT_EQ(PVL_OK, thumb->Attach(&thumbOutput, &sensor));
    main->SetThumbnailPort(thumb);
  }
  static CameraPortFormat Jpeg(uint32_t w, uint32_t h) {
    CameraPortFormat f = Nv21Format(w, h, kFrameIntervalUs);
    f.FourCC = CAMERA_FOURCC_IJPG;
    return f;
  }
  PvlResult SetMainCrop(CPvlRect rect) {
    CPvlPtr<IPropertyStore> store;
    PvlResult r = main->GetJpegProperties(&store);
    if (r != PVL_OK) return r;
    PvlValueRecord v{};
    v.type = PVL_VT_RECT;
    v.payload.rect = rect;
    return store->SetProperty(ZUEUID_PROPERTY_JPEG_MAIN_CROP, &v);
  }
  CPvlRect ThumbnailCrop() {
    CPvlPtr<IPropertyStore> store;
    EXPECT_EQ(main->GetJpegProperties(&store), PVL_OK);
    PvlValueRecord v{};
    v.type = PVL_VT_RECT;
    EXPECT_EQ(store->GetProperty(ZUEUID_PROPERTY_JPEG_THUMBNAIL_CROP, &v), PVL_OK);
    return v.payload.rect;
  }

  FakeVideoOutput mainOutput{2, Nv21Format(2592, 1944, kFrameIntervalUs)};
  FakeVideoOutput thumbOutput{1, Nv21Format(640, 480, kFrameIntervalUs)};
  FakeSensorService sensor;
  CPvlPtr<CCameraMainImagePort> main;
  CPvlPtr<CCameraThumbnailPort> thumb;
};

TEST_F(StillPortTest, AJpegFormatSetsNv21FramesAndAPredefinedThumbnail) {
  Make();
  struct Case {
    const char* name;
    uint32_t w, h;
    uint32_t thumbW, thumbH;
    uint32_t outW, outH;  // the thumbnail output: the main image's aspect, covering the thumbnail
  } cases[] = {
      {"4:3 main image", 2592, 1944, 320, 240, 320, 240},
      {"16:9 main image", 1280, 720, 320, 192, 342, 192},
      {"Square main image", 480, 480, 320, 240, 320, 320},
      {"main image below the thumbnail", 160, 120, 160, 120, 160, 120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraPortFormat f = Jpeg(c.w, c.h);
    ASSERT_EQ(main->SetFormat(&f), PVL_OK);
    EXPECT_TRUE(main->IsJpegOutput());
    // The outputs deliver NV21 frames for the JPEG.
    EXPECT_EQ(mainOutput.modes[0].format.FourCC, CAMERA_FOURCC_NV21);
    EXPECT_EQ(mainOutput.modes[0].format.Width, c.w);
    EXPECT_EQ(thumbOutput.modes[0].format.FourCC, CAMERA_FOURCC_NV21);
    EXPECT_EQ(main->JpegThumbnailFormat().Width, c.thumbW);
    EXPECT_EQ(main->JpegThumbnailFormat().Height, c.thumbH);
    EXPECT_EQ(main->JpegThumbnailFormat().FourCC, CAMERA_FOURCC_NV21);
    EXPECT_EQ(thumbOutput.modes[0].format.Width, c.outW);
    EXPECT_EQ(thumbOutput.modes[0].format.Height, c.outH);
    EXPECT_EQ(thumbOutput.modes[0].enabled, 1) << "the thumbnail output runs for the JPEG";
  }
  // Back to uncompressed: the thumbnail output is let go.
  CameraPortFormat plain = Nv21Format(1280, 960, kFrameIntervalUs);
  ASSERT_EQ(main->SetFormat(&plain), PVL_OK);
  EXPECT_FALSE(main->IsJpegOutput());
  EXPECT_EQ(thumbOutput.modes[0].enabled, 0);
  // A format the output refuses leaves the port as it was.
  CameraPortFormat tooLarge = Jpeg(4000, 3000);
  EXPECT_EQ(main->SetFormat(&tooLarge), PVL_E_BADARG);
  CameraPortFormat now{};
  main->GetFormat(&now);
  EXPECT_EQ(now.Width, 1280u);
  EXPECT_FALSE(main->IsJpegOutput());
}

TEST_F(StillPortTest, TheJpegBufferHoldsMainImageThumbnailAndHeaders) {
  Make();
  CameraPortFormat f = Jpeg(2592, 1944);
  ASSERT_EQ(main->SetFormat(&f), PVL_OK);
  uint32_t count = 0;
  ASSERT_EQ(main->GetBufferRequirements(nullptr, 0, &count), PVL_OK);
  EXPECT_EQ(count, 1u);
  BufferRequest r{};
  ASSERT_EQ(main->GetBufferRequirements(&r, 1, &count), PVL_OK);
  EXPECT_EQ(r.size, 7739007u);
  EXPECT_EQ(r.count, 1u);
  EXPECT_EQ(r.source, ZUEUID_BUFFER_SOURCE_CONTIGUOUS);
}

TEST_F(StillPortTest, TheThumbnailCropFollowsTheMainCrop) {
  Make();
  struct Case {
    const char* name;
    CPvlRect main;
    PvlResult result;
    CPvlRect thumb;
  } cases[] = {
      {"no crop", {0, 0, 0, 0}, PVL_OK, {0, 0, 0, 0}},
      {"centre quarter", {0, 0, 1295, 971}, PVL_OK, {80, 60, 239, 179}},
      {"whole image", {0, 0, 2591, 1943}, PVL_OK, {0, 0, 319, 239}},
      {"right left of left", {1000, 0, 999 - 200, 971}, PVL_E_BADARG, {0, 0, 0, 0}},
      {"bottom above top", {0, 900, 1295, 100}, PVL_E_BADARG, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraPortFormat plain = Nv21Format(2592, 1944, kFrameIntervalUs);
    ASSERT_EQ(main->SetFormat(&plain), PVL_OK);
    ASSERT_EQ(SetMainCrop(c.main), PVL_OK);
    CameraPortFormat f = Jpeg(2592, 1944);
    EXPECT_EQ(main->SetFormat(&f), c.result);
    if (c.result != PVL_OK) {
      EXPECT_FALSE(main->IsJpegOutput()) << "a refused crop leaves the port as it was";
      continue;
    }
    CPvlRect t = ThumbnailCrop();
    EXPECT_EQ(t.left, c.thumb.left);
    EXPECT_EQ(t.top, c.thumb.top);
    EXPECT_EQ(t.right, c.thumb.right);
    EXPECT_EQ(t.bottom, c.thumb.bottom);
  }
}

TEST_F(StillPortTest, JpegFormatsAreOfferedOnlyWithTheJpegService) {
  for (bool service : {true, false}) {
    SCOPED_TRACE(service ? "with the JPEG service" : "without it");
    main.Reset();
    thumb.Reset();
    if (!service) OrbhostTest_RegisterClass(ZUEUID_CLASS_JPEGSERVICE, NoJpegService);
    mainOutput.scalable = false;
    CaptureBegin();
    Make();
    auto lines = CaptureEnd();
    EXPECT_EQ(Contains(lines, "JPEG Service Not installed. IJPG out not supported!"), !service);
    uint32_t count = 0;
    CameraPortFormat formats[4]{};
    ASSERT_EQ(main->GetSupportedFormats(formats, 4, &count), PVL_OK);
    ASSERT_EQ(count, service ? 2u : 1u);
    EXPECT_EQ(formats[0].FourCC, CAMERA_FOURCC_NV21);
    if (service) {
      EXPECT_EQ(formats[1].FourCC, CAMERA_FOURCC_IJPG);
    }
    CameraPortFormat f = Jpeg(640, 480);
    EXPECT_EQ(main->SetFormat(&f), service ? PVL_OK : PVL_E_UNSUPPORTED);
  }
}

TEST_F(StillPortTest, AThumbnailStartedByItsClientStaysEnabled) {
  Make();
  ASSERT_EQ(thumb->Start(), PVL_OK);
  ASSERT_EQ(thumb->SetActive(1), PVL_OK);
  ASSERT_EQ(thumb->SetActive(0), PVL_OK);
  EXPECT_EQ(thumbOutput.modes[0].enabled, 1);
  ASSERT_EQ(thumb->Stop(), PVL_OK);
  EXPECT_EQ(thumbOutput.modes[0].enabled, 0);
  // Needed by the main image only: the client's stop leaves the output running.
  ASSERT_EQ(thumb->SetActive(1), PVL_OK);
  ASSERT_EQ(thumb->Start(), PVL_OK);
  ASSERT_EQ(thumb->Stop(), PVL_OK);
  EXPECT_EQ(thumbOutput.modes[0].enabled, 1);
  ASSERT_EQ(thumb->SetActive(0), PVL_OK);
  EXPECT_EQ(thumbOutput.modes[0].enabled, 0);
}

TEST(ThumbnailResize, ScalesDownNearestNeighbour) {
  const uint32_t W = 640, H = 480, w = 320, h = 240;
  std::vector<uint8_t> source(W * H * 3 / 2), destination(w * h * 3 / 2, 0);
  DrawBars(source.data(), W, H);
  ASSERT_EQ(CCameraMainImagePort::Resize(source.data(), W, H, destination.data(), w, h), PVL_OK);
  std::vector<uint8_t> expected(w * h * 3 / 2);
  DrawBars(expected.data(), w, h);
  // Bars keep their colours; only columns at a bar's edge may take the neighbour's.
  int mismatches = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) mismatches += destination[y * w + x] != expected[y * w + x];
  EXPECT_LE(mismatches, int(h * 8));
  EXPECT_EQ(destination[10 * w + 20], expected[10 * w + 20]);
  EXPECT_EQ(destination[w * h + 10 * w + 20], expected[w * h + 10 * w + 20]) << "V of the first bar";
  EXPECT_EQ(destination[w * h + 10 * w + 61], expected[w * h + 10 * w + 61]) << "U of the second bar";

  // Another shape: the centre at the target's aspect, never stretched. A
  // square of 16 x 16 marks the centre of each source.
  struct CutCase {
    const char* name;
    uint32_t W, H, w, h;
  } cuts[] = {{"wider", 342, 192, 320, 192}, {"higher", 320, 320, 320, 240}, {"wider and smaller", 640, 240, 320, 96}};
  for (const CutCase& c : cuts) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> src(c.W * c.H * 3 / 2, 16), dst(c.w * c.h * 3 / 2, 0);
    for (uint32_t y = c.H / 2 - 8; y < c.H / 2 + 8; ++y)
      for (uint32_t x = c.W / 2 - 8; x < c.W / 2 + 8; ++x) src[y * c.W + x] = 235;
    ASSERT_EQ(CCameraMainImagePort::Resize(src.data(), c.W, c.H, dst.data(), c.w, c.h), PVL_OK);
    uint32_t x0 = c.w, x1 = 0, y0 = c.h, y1 = 0;
    for (uint32_t y = 0; y < c.h; ++y)
      for (uint32_t x = 0; x < c.w; ++x)
        if (dst[y * c.w + x] == 235) x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    ASSERT_LT(x0, c.w) << "the centre is in the picture";
    const int spanX = int(x1 - x0 + 1), spanY = int(y1 - y0 + 1);
    EXPECT_NEAR(spanX, spanY, 1) << "a square stays square";
    EXPECT_NEAR(int(x0 + x1), int(c.w - 1), 3) << "centred across";
    EXPECT_NEAR(int(y0 + y1), int(c.h - 1), 3) << "centred down";
  }

  struct Case {
    const char* name;
    uint32_t W, H, w, h;
  } refused[] = {{"upscale", 320, 240, 640, 480}, {"source 1 wide", 1, 240, 1, 120}, {"target 1 high", 320, 240, 160, 1}};
  for (const Case& c : refused)
    EXPECT_EQ(CCameraMainImagePort::Resize(source.data(), c.W, c.H, destination.data(), c.w, c.h), PVL_E_FAIL)
        << c.name;
}

}  // namespace
