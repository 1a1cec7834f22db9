// The JPEG manager's two states against a scripted encoder service: what it
// starts and delivers, how later captures wait, what a failure gives back, and
// Abort in every state (the encoder's done or error may come before its abort).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "ccameraportmanager.h"
#include "cexifdata.h"
#include "cjpegmanager.h"
#include "cmcamerabuffermanager.h"
#include "enginefakes.h"
#include "enginetest.h"
#include "image_copy.h"
#include "jpegcheck.h"
#include "orbhost_test.h"
#include "plindor.h"

using enginetest::EngineTest;

namespace {

// The encoder service, scripted by the test.
class ScriptedJpegService final : public IJpegService {
 public:
  static ScriptedJpegService* last;
  enum class AbortAnswer { kAbortOnly, kDoneFirst, kErrorFirst, kLate, kRefused };

  int32_t AddRef() override { return ++refs; }
  int32_t Release() override {
    int32_t n = --refs;
    if (n == 0) delete this;
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    *out = nullptr;
    if (iid != ZUEUID_IFACE_JPEGSERVICE && iid != ZUEUID_IFACE_BASE) return PVL_E_NOTSUPPORTED;
    AddRef();
    *out = static_cast<IJpegService*>(this);
    return PVL_OK;
  }
  PvlResult Reserved3() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved4() override { return PVL_E_UNSUPPORTED; }
  PvlResult SetListener(IJpegServiceListener* l) override {
    listener = l;
    return PVL_OK;
  }
  PvlResult QueryBufferInfo(void*) override { return PVL_OK; }
  PvlResult GetOutputBufferRequirements(void*) override { return PVL_OK; }
  PvlResult Reserved8() override { return PVL_E_UNSUPPORTED; }
  PvlResult SetThumbnailFormat(const CameraPortFormat*) override { return PVL_OK; }
  PvlResult SetMainFormat(const CameraPortFormat*) override { return PVL_OK; }
  PvlResult Reserved11() override { return PVL_E_UNSUPPORTED; }
  PvlResult SetProperties(IPropertyStore*) override { return PVL_OK; }
  PvlResult StartEncode(IPropertyStore*) override {
    Record("StartEncode");
    return startResult;
  }
  PvlResult Abort() override {
    Record("Abort");
    JoinEvents();
    AbortAnswer answer = abortAnswer;
    if (answer == AbortAnswer::kRefused) return PVL_E_FAIL;
    events = std::thread([this, answer] {
      if (answer == AbortAnswer::kLate) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (answer == AbortAnswer::kDoneFirst) listener->OnEvent(this, EVENT_ENCODE_DONE);
      if (answer == AbortAnswer::kErrorFirst) listener->OnEvent(this, EVENT_ENCODE_ERROR);
      listener->OnEvent(this, EVENT_ENCODE_ABORT);
    });
    return PVL_OK;
  }
  PvlResult DeliverThumbnailFrame(IPvlMediaBuffer* f) override {
    Record("DeliverThumbnailFrame");
    return Keep(f);
  }
  PvlResult DeliverMainFrame(IPvlMediaBuffer* f) override {
    Record("DeliverMainFrame");
    return Keep(f);
  }

  void Record(const char* what) {
    std::lock_guard<std::mutex> g(m);
    calls.push_back(what);
  }
  std::vector<std::string> TakeCalls() {
    std::lock_guard<std::mutex> g(m);
    std::vector<std::string> c;
    c.swap(calls);
    return c;
  }
  PvlResult Keep(IPvlMediaBuffer* f) {
    if (deliverResult != PVL_OK) return deliverResult;
    // The encoder holds a frame only until the image ends; the test drops them.
    f->AddRef();
    std::lock_guard<std::mutex> g(m);
    kept.push_back(f);
    return PVL_OK;
  }
  void DropKept() {
    std::lock_guard<std::mutex> g(m);
    for (IPvlMediaBuffer* f : kept) f->Release();
    kept.clear();
  }
  void JoinEvents() {
    if (events.joinable()) events.join();
  }
  ~ScriptedJpegService() {
    JoinEvents();
    DropKept();
    if (last == this) last = nullptr;
  }

  std::atomic<int32_t> refs{0};
  IJpegServiceListener* listener = nullptr;
  PvlResult startResult = PVL_OK;
  PvlResult deliverResult = PVL_OK;
  AbortAnswer abortAnswer = AbortAnswer::kAbortOnly;
  std::mutex m;
  std::vector<std::string> calls;
  std::vector<IPvlMediaBuffer*> kept;
  std::thread events;
};
ScriptedJpegService* ScriptedJpegService::last = nullptr;

PvlResult MakeScripted(IEnv*, ZUEUID, void*, void** out) {
  auto* s = new ScriptedJpegService;
  s->AddRef();
  ScriptedJpegService::last = s;
  *out = static_cast<IJpegService*>(s);
  return PVL_OK;
}

class Client final : public CJpegManager::Client {
 public:
  PvlResult GetDeliveryBuffer(uint32_t flag, IPvlMediaBuffer** buffer) override {
    return pool->GetBuffer(uint8_t(flag), buffer);
  }
  PvlResult QueueFrame(IPvlMediaBuffer* buffer) override {
    buffer->AddRef();
    queued.push_back(buffer);
    return PVL_OK;
  }
  ICameraBufferManager* pool = nullptr;
  std::vector<IPvlMediaBuffer*> queued;
};

using Calls = std::vector<std::string>;

class JpegManagerTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    OrbhostTest_RegisterClass(ZUEUID_CLASS_JPEGSERVICE, MakeScripted);
    ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, frames.Out()));
    BufferRequest r{};
    r.count = 8;
    r.size = 1024;
    ASSERT_EQ(frames->InitRequirements(&r, 0, 0), PVL_OK);
    ASSERT_EQ(frames->Allocate(), PVL_OK);
    client.pool = frames;
    CJpegManager* m = nullptr;
    ASSERT_EQ(CJpegManager::Create(env, &client, &m), PVL_OK);
    manager = m;
    m->Release();
    service = ScriptedJpegService::last;
    ASSERT_NE(service, nullptr);
  }
  void Drop() override {
    if (service) service->DropKept();
    manager.Reset();
    for (IPvlMediaBuffer* b : client.queued) b->Release();
    client.queued.clear();
    if (frames) {
      EXPECT_EQ(FreeFrames(), 8u) << "every frame back in its pool";
      frames->Free();
    }
    frames.Reset();
    OrbhostTest_UnregisterClass(ZUEUID_CLASS_JPEGSERVICE);
  }
  // A frame of the pool, handed over as the port does (the caller's reference dropped after).
  PvlResult Main() { return Feed(false); }
  PvlResult Thumb() { return Feed(true); }
  PvlResult Feed(bool thumbnail) {
    IPvlMediaBuffer* b = nullptr;
    EXPECT_EQ(frames->GetBuffer(1, &b), PVL_OK);
    PvlResult r = thumbnail ? manager->OnThumbnailFrame(b) : manager->OnMainFrame(b);
    b->Release();
    return r;
  }
  // The encoder finishes an image: drops its frames, then reports.
  PvlResult Finish(uint32_t event) {
    service->DropKept();
    return manager->OnEvent(service, event);
  }
  uint32_t FreeFrames() {
    uint32_t total = 0, free = 0;
    frames->GetCounts(&total, &free);
    return free;
  }

  Client client;
  CPvlPtr<ICameraBufferManager> frames;
  CPvlPtr<CJpegManager> manager;
  ScriptedJpegService* service = nullptr;
};

TEST_F(JpegManagerTest, TheFirstFrameStartsTheImageAndTheOtherJoinsIt) {
  struct Case {
    const char* name;
    bool thumbnailFirst;
    Calls first, second;
  } cases[] = {
      {"main image first", false, {"StartEncode", "DeliverMainFrame"}, {"DeliverThumbnailFrame"}},
      {"thumbnail first", true, {"StartEncode", "DeliverThumbnailFrame"}, {"DeliverMainFrame"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service->TakeCalls();
    ASSERT_EQ(Feed(c.thumbnailFirst), PVL_OK);
    EXPECT_TRUE(manager->IsEncoding());
    EXPECT_EQ(service->TakeCalls(), c.first);
    ASSERT_EQ(Feed(!c.thumbnailFirst), PVL_OK);
    EXPECT_EQ(service->TakeCalls(), c.second);
    ASSERT_EQ(Finish(EVENT_ENCODE_DONE), PVL_OK);
    EXPECT_FALSE(manager->IsEncoding());
  }
}

TEST_F(JpegManagerTest, ALaterCaptureWaitsForTheRunningImage) {
  for (uint32_t ending : {EVENT_ENCODE_DONE, EVENT_ENCODE_ERROR}) {
    SCOPED_TRACE(ending == EVENT_ENCODE_DONE ? "after done" : "after an error");
    ASSERT_EQ(Main(), PVL_OK);
    ASSERT_EQ(Main(), PVL_OK);   // the second capture's main image
    ASSERT_EQ(Thumb(), PVL_OK);  // the first capture's thumbnail
    ASSERT_EQ(Thumb(), PVL_OK);  // joins the second capture
    EXPECT_EQ(manager->PendingJobs(), 1u);
    service->TakeCalls();
    ASSERT_EQ(Finish(ending), PVL_OK);
    EXPECT_EQ(service->TakeCalls(), (Calls{"StartEncode", "DeliverMainFrame", "DeliverThumbnailFrame"}));
    EXPECT_TRUE(manager->IsEncoding());
    ASSERT_EQ(Finish(EVENT_ENCODE_DONE), PVL_OK);
    EXPECT_FALSE(manager->IsEncoding());
    EXPECT_EQ(FreeFrames(), 8u);
  }
}

TEST_F(JpegManagerTest, EventsAnswerByState) {
  EXPECT_EQ(manager->OnEvent(service, 0x05814803), PVL_E_UNSUPPORTED);
  EXPECT_EQ(manager->OnEvent(service, EVENT_ENCODE_DONE), PVL_E_NOTREADY);
  EXPECT_EQ(manager->OnEvent(service, EVENT_ENCODE_ERROR), PVL_E_NOTREADY);
  ASSERT_EQ(Main(), PVL_OK);
  EXPECT_EQ(manager->OnEvent(service, 0x12345678), PVL_E_UNSUPPORTED);
  EXPECT_TRUE(manager->IsEncoding()) << "an unknown event changes nothing";
  ASSERT_EQ(Finish(EVENT_ENCODE_DONE), PVL_OK);
}

// No event ever ends an image that did not start or could not be fed: the job's
// frames go back at once and the next capture starts afresh.
TEST_F(JpegManagerTest, AFailedStartOrDeliveryGivesTheFramesBack) {
  struct Case {
    const char* name;
    PvlResult start, deliver;
    Calls calls;
  } cases[] = {
      {"StartEncode refused", PVL_E_NOTREADY, PVL_OK, {"StartEncode"}},
      {"delivery refused", PVL_OK, PVL_E_BADARG, {"StartEncode", "DeliverMainFrame", "Abort"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service->startResult = c.start;
    service->deliverResult = c.deliver;
    service->TakeCalls();
    EXPECT_EQ(Main(), c.start != PVL_OK ? c.start : c.deliver);
    service->JoinEvents();
    EXPECT_EQ(service->TakeCalls(), c.calls);
    EXPECT_FALSE(manager->IsEncoding());
    EXPECT_EQ(FreeFrames(), 8u);
    service->startResult = PVL_OK;
    service->deliverResult = PVL_OK;
    ASSERT_EQ(Main(), PVL_OK) << "the next capture starts";
    ASSERT_EQ(Finish(EVENT_ENCODE_DONE), PVL_OK);
  }
}

TEST_F(JpegManagerTest, StopEndsTheRunningImageInEveryState) {
  using A = ScriptedJpegService::AbortAnswer;
  struct Case {
    const char* name;
    int frames;  // 0: idle; 1: encoding; 3: encoding with a capture waiting
    A answer;
    bool aborts;
  } cases[] = {
      {"idle", 0, A::kAbortOnly, false},
      {"encoding", 1, A::kAbortOnly, true},
      {"encoding, done overtakes the abort", 1, A::kDoneFirst, true},
      {"encoding, error overtakes the abort", 1, A::kErrorFirst, true},
      {"a capture waiting", 3, A::kDoneFirst, true},
      {"slow abort", 1, A::kLate, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < c.frames; ++i) ASSERT_EQ(i == 1 ? Thumb() : Main(), PVL_OK);
    service->abortAnswer = c.answer;
    service->TakeCalls();
    ASSERT_EQ(manager->Stop(), PVL_OK);
    service->JoinEvents();
    Calls calls = service->TakeCalls();
    EXPECT_EQ(!calls.empty() && calls.back() == "Abort", c.aborts);
    EXPECT_FALSE(manager->IsEncoding());
    EXPECT_EQ(manager->PendingJobs(), 0u);
    service->DropKept();
    EXPECT_EQ(FreeFrames(), 8u);
    // The next capture runs normally.
    ASSERT_EQ(Main(), PVL_OK);
    ASSERT_EQ(Finish(EVENT_ENCODE_DONE), PVL_OK);
  }
}

// An Abort the service refuses will get no abort event: Stop reports the
// refusal at once instead of waiting, and the image ends with its own event.
TEST_F(JpegManagerTest, AStopWhoseAbortIsRefusedDoesNotWait) {
  ASSERT_EQ(Main(), PVL_OK);
  service->abortAnswer = ScriptedJpegService::AbortAnswer::kRefused;
  EXPECT_EQ(manager->Stop(), PVL_E_FAIL);
  ASSERT_EQ(Finish(EVENT_ENCODE_DONE), PVL_OK);
  EXPECT_FALSE(manager->IsEncoding());
}

TEST_F(JpegManagerTest, DestroyingTheManagerWaitsForTheAbort) {
  ASSERT_EQ(Main(), PVL_OK);
  service->abortAnswer = ScriptedJpegService::AbortAnswer::kLate;
  service->AddRef();  // keep the script alive to read it afterwards
  ScriptedJpegService* s = service;
  CaptureBegin();
  manager.Reset();
  auto lines = CaptureEnd();
  EXPECT_TRUE(Contains(lines, "CJpegManager::JpegManagerStateEncode::Stop - Wait for EncodeAbort."));
  EXPECT_TRUE(Contains(lines, "CJpegManager::JpegManagerStateEncode::Stop - Got Encode Abort."));
  EXPECT_TRUE(Contains(lines, "CJpegManager Destructor!"));
  s->JoinEvents();
  s->Release();
  service = nullptr;
}

TEST_F(JpegManagerTest, TheEncoderGetsClientBuffersAndHandsImagesToThePort) {
  IPvlMediaBuffer* out = nullptr;
  EXPECT_EQ(manager->GetDeliveryBuffer(service, 1, nullptr), PVL_E_NULLPTR);
  ASSERT_EQ(manager->GetDeliveryBuffer(service, 1, &out), PVL_OK);
  ASSERT_EQ(manager->OutputProducedHandler(service, out), PVL_OK);
  ASSERT_EQ(client.queued.size(), 1u);
  EXPECT_EQ(client.queued[0], out);
  out->Release();
  IJpegServiceListener* listener = nullptr;
  ASSERT_EQ(manager->QueryInterface(ZUEUID_IFACE_JPEGSERVICE_LISTENER, reinterpret_cast<void**>(&listener)), PVL_OK);
  EXPECT_EQ(listener, static_cast<IJpegServiceListener*>(manager.Get()));
  listener->Release();
}

// ---- A JPEG still through the port manager and the host's encoder ----

// The settings a capture's EXIF tags come from.
class StillSettings final : public CExifData::Sources {
 public:
  PvlResult Text(const char* text, SensorIdentityText* r) {
    r->Length = uint32_t(std::strlen(text) + 1);
    if (r->Buffer) std::memcpy(reinterpret_cast<char*>(uintptr_t(r->Buffer)), text, r->Length);
    return PVL_OK;
  }
  PvlResult GetSensorMake(SensorIdentityText* r) override { return Text("Vantor", r); }
  PvlResult GetSensorModel(SensorIdentityText* r) override { return Text("S5K3E2FX", r); }
  PvlResult GetExposureMeteringMode(uint32_t* o) override { return *o = 1, PVL_OK; }
  PvlResult GetContrast(CameraRange* o) override { return *o = {0, 10, 1, 5, 7}, PVL_OK; }
  PvlResult GetImageEffectMode(uint32_t* o) override { return *o = 0, PVL_OK; }
  PvlResult GetSharpness(CameraRange* o) override { return *o = {0, 10, 1, 5, 5}, PVL_OK; }
  PvlResult GetSaturation(CameraRange* o) override { return *o = {0, 10, 1, 5, 3}, PVL_OK; }
  PvlResult GetWhiteBalanceMode(uint32_t* o) override { return *o = 0, PVL_OK; }
  PvlResult GetBestShotMode(uint32_t* o) override { return *o = 5, PVL_OK; }
  uint8_t IsYuvSensor() override { return 0; }
  PvlResult GetPixelClock(uint32_t* o) override { return *o = 96000000, PVL_OK; }
  PvlResult GetLineLength(uint32_t* o) override { return *o = 2800, PVL_OK; }
  PvlResult GetExposureLineCount(uint32_t* o) override { return *o = 900, PVL_OK; }
  PvlResult GetFNumber(CFixedPoint* o) override {
    o->SetQ(10);
    o->SetRawValue(2867);
    return PVL_OK;
  }
  PvlResult GetMaxApertureValue(CFixedPoint* o) override {
    o->SetQ(10);
    o->SetRawValue(3072);
    return PVL_OK;
  }
  PvlResult GetSensorFormat(SensorOutputFormat* o) override { return *o = {{1, 1, 0}}, PVL_OK; }
  PvlResult GetSnapshotFlashMode(uint32_t* o) override { return *o = 2, PVL_OK; }
  PvlResult GetFlashNeeded(uint8_t* o) override { return *o = 1, PVL_OK; }
  PvlResult GetCurrentFlashDeviceId(uint32_t* o) override { return *o = 1, PVL_OK; }
  PvlResult GetRedEyeReductionMode(uint32_t* o) override { return *o = 0, PVL_OK; }
  PvlResult GetWhiteBalanceValue(uint32_t* o) override { return *o = 2800, PVL_OK; }
  PvlResult IsFixedFocus(uint8_t* o) override { return *o = 0, PVL_OK; }
  PvlResult IsOnSensorAutoFocus(uint8_t* o) override { return *o = 0, PVL_OK; }
  PvlResult GetFocusMode(uint32_t* o) override { return *o = 1, PVL_OK; }
};

class JpegStillTest : public EngineTest {
 protected:
  void Drop() override {
    manager.Reset();
    client.Reset();
    for (enginetest::FakeVideoOutput* o : {&raw, &mainOut, &thumbOut}) {
      for (uint32_t m = 0; m < 2; ++m) o->SetBufferManager(m, nullptr);
      EXPECT_EQ(o->refs, 0);
    }
  }
  // Takes the next frame of a port, giving up (stopping the port) after a
  // generous time so that a lost image fails the test instead of hanging it.
  PvlResult NextFrame(ICameraPort* port, IPvlMediaBuffer** frame) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread watchdog([&] {
      std::unique_lock<std::mutex> lock(m);
      if (!cv.wait_for(lock, std::chrono::seconds(60), [&] { return done; })) port->Stop();
    });
    PvlResult r = port->GetNextFrame(frame);
    {
      std::lock_guard<std::mutex> lock(m);
      done = true;
    }
    cv.notify_all();
    watchdog.join();
    return r;
  }

  enginetest::FakeVideoOutput raw{0, enginetest::BayerFormat(1296, 972)};
  enginetest::FakeVideoOutput mainOut{1, enginetest::Nv21Format(640, 480, enginetest::kFrameIntervalUs)};
  enginetest::FakeVideoOutput thumbOut{2, enginetest::Nv21Format(320, 240, enginetest::kFrameIntervalUs)};
  enginetest::FakeVfeService vfe{{&raw, &mainOut, &thumbOut}};
  enginetest::FakeSensorService sensor;
  enginetest::FakeStateMachine machine;
  CPvlPtr<CCameraPortManager> manager;
  CPvlPtr<ICameraBufferManager> client;
};

TEST_F(JpegStillTest, AMainImageAndThumbnailBecomeAJpegWithExif) {
  ASSERT_EQ(CCameraPortManager::Create(env, &machine, &vfe, &sensor, &manager), PVL_OK);
  manager->SetPortMode(1);
  CCameraMainImagePort* main = manager->MainImagePort();
  CameraPortFormat jpeg = enginetest::Nv21Format(640, 480, enginetest::kFrameIntervalUs);
  jpeg.FourCC = CAMERA_FOURCC_IJPG;
  ASSERT_EQ(main->SetFormat(&jpeg), PVL_OK);

  // The client's buffers for the finished JPEG, sized as the port asks.
  BufferRequest request{};
  uint32_t count = 0;
  ASSERT_EQ(main->GetBufferRequirements(&request, 1, &count), PVL_OK);
  request.count = 2;
  request.alignment = 8;
  ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, client.Out()));
  ASSERT_EQ(client->InitRequirements(&request, 0, 0), PVL_OK);
  ASSERT_EQ(client->Allocate(), PVL_OK);
  ASSERT_EQ(main->SetBufferManager(client), PVL_OK);
  ASSERT_EQ(main->Start(), PVL_OK);

  // The capture's EXIF tags, as the engine writes them.
  CPvlPtr<IPropertyStore> store;
  ASSERT_EQ(manager->GetJpegProperties(&store), PVL_OK);
  StillSettings settings;
  CExifData exif(env, &settings);
  ASSERT_EQ(exif.GetSensorExifTags(store), PVL_OK);
  ASSERT_EQ(exif.CollectCaptureExif(store), PVL_OK);
  store.Reset();

  // A date/time stamp whose mailbox claims a far larger image and sits past the
  // frame's corner: it is drawn clipped to the frame.
  std::vector<uint8_t> stamp(64 * 16 * 3, 255);
  CameraTimeStampInfo info{stamp.data(), 64, 16, 4000, 3000, 600, 470, 0};
  ASSERT_EQ(VantorUpdateTimeStamp(&info), 1);

  ASSERT_EQ(manager->SetSnapshotCount(1), PVL_OK);
  ASSERT_EQ(manager->StartSnapshot(), PVL_OK);
  IPvlMediaBuffer* frame = mainOut.Produce(0, enginetest::DrawBars);
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(manager->QueueSnapshotFrame(1, frame), PVL_OK);
  frame->Release();
  IPvlMediaBuffer* small = thumbOut.Produce(0, enginetest::DrawBars);
  ASSERT_NE(small, nullptr);
  ASSERT_EQ(manager->QueueSnapshotFrame(2, small), PVL_OK);
  small->Release();

  IPvlMediaBuffer* out = nullptr;
  ASSERT_EQ(NextFrame(main, &out), PVL_OK);
  uint64_t va = 0;
  uint32_t size = 0, offset = 0;
  out->GetVirtualAddress(&va);
  out->GetActualSize(&size);
  out->GetOffset(&offset);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(uintptr_t(va)) + offset;
  std::vector<uint8_t> file(bytes, bytes + size);
  out->Release();
  ASSERT_GT(file.size(), 4u);
  EXPECT_EQ(file[0], 0xFF);
  EXPECT_EQ(file[1], 0xD8);
  if (const char* keep = std::getenv("CAMERA_KEEP_STILL")) hostsvc::test::WriteFile(keep, file);

  auto decoded = hostsvc::test::DecodeWithDjpeg(file, false);
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_EQ(decoded.width, 640u);
  EXPECT_EQ(decoded.height, 480u);
  auto pixel = [&](uint32_t x, uint32_t y) { return &decoded.pixels[(size_t(y) * 640 + x) * 3]; };
  EXPECT_GT(pixel(40, 100)[0], 200) << "the white bar";
  EXPECT_LT(pixel(600, 100)[0], 40) << "the black bar";
  EXPECT_GT(pixel(620, 475)[1], 200) << "the stamp, clipped into the black bar's corner";
  EXPECT_LT(pixel(590, 475)[1], 40) << "left of the stamp";

  std::string warnings;
  auto tags = hostsvc::test::ReadExif(file, &warnings);
  // The sensing-method word goes under its own tag 0x5039, which EXIF does not name.
  EXPECT_EQ(hostsvc::test::ValidateExif(file), "1 Warning (minor)\n[minor] Unknown ExifIFD tag 0x5039") << warnings;
  const std::map<std::string, std::string> expected = {
      {"IFD0:Make", "Vantor"},           {"IFD0:Model", "S5K3E2FX"},
      {"ExifIFD:MeteringMode", "2"},     {"ExifIFD:ExposureMode", "0"},
      {"ExifIFD:WhiteBalance", "0"},     {"ExifIFD:SceneCaptureType", "3"},
      {"ExifIFD:Contrast", "2"},         {"ExifIFD:Saturation", "1"},
      {"ExifIFD:Sharpness", "0"},        {"ExifIFD:ExposureTime", "0.025390625"},
      {"ExifIFD:FNumber", "2.799804688"}, {"ExifIFD:MaxApertureValue", "2.82842712474619"},
      {"ExifIFD:Flash", "25"},           {"ExifIFD:LightSource", "3"},
      {"ExifIFD:SubjectDistanceRange", "1"},
  };
  for (const auto& [tag, value] : expected) EXPECT_EQ(tags[tag], value) << tag;

  std::vector<uint8_t> thumbnail = hostsvc::test::ExtractThumbnail(file);
  auto small_ = hostsvc::test::DecodeWithDjpeg(thumbnail, true);
  ASSERT_TRUE(small_.ok) << small_.error;
  EXPECT_EQ(small_.width, 320u);
  EXPECT_EQ(small_.height, 240u);

  EXPECT_EQ(manager->StopSnapshot(), PVL_OK);
  EXPECT_EQ(main->Stop(), PVL_OK);
  EXPECT_EQ(client->Free(), PVL_OK);
  EXPECT_EQ(machine.stops, 0);
}

}  // namespace
