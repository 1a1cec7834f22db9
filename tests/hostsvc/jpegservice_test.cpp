// The JPEG encoder service as the engine's JPEG manager drives it: settings from the
// property store, frames in either order, output through the listener, one event per
// image, one abort event per Abort.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "cameraportformat.h"
#include "cpvlmediabuffer.h"
#include "hostsession.h"
#include "ijpegservice.h"
#include "image_copy.h"
#include "ipropertystore.h"
#include "jpegcheck.h"
#include "nv21frame.h"
#include "orbhost_test.h"
#include "propertydesc.h"
#include "wince_sim.h"

namespace {

using namespace hostsvc::test;
using namespace camera::test;

constexpr uint32_t kMainQuality = ZUEUID_PROPERTY_JPEG_QUALITY;
constexpr uint32_t kThumbQuality = ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY;
constexpr uint32_t kMainCrop = ZUEUID_PROPERTY_JPEG_MAIN_CROP;
constexpr uint32_t kThumbCrop = ZUEUID_PROPERTY_JPEG_THUMBNAIL_CROP;
constexpr uint32_t kGroupExif = ZUEUID_PROPERTY_GROUP_EXIF;
constexpr uint32_t kTuningData = ZUEUID_PROPERTY_EXIF_TUNING_DATA;
constexpr auto kWait = std::chrono::seconds(30);

// A frame or output buffer in plain memory.
class TestBuffer final : public IPvlMediaBuffer {
 public:
  explicit TestBuffer(size_t capacity, bool withMemory = true) : mem_(capacity) { hasMemory_ = withMemory; }
  int32_t AddRef() override { return ++refs_; }
  int32_t Release() override { return --refs_; }  // owned by the test
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_MEDIA_BUFFER) {
      AddRef();
      *out = this;
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetVirtualAddress(uint64_t* a) override {
    if (!hasMemory_) return PVL_E_VALUENOTPRESENT;
    *a = reinterpret_cast<uintptr_t>(mem_.data());
    return PVL_OK;
  }
  PvlResult GetPhysicalAddress(uint64_t*) override { return PVL_E_VALUENOTPRESENT; }
  PvlResult GetCapacity(uint32_t* c) override {
    *c = static_cast<uint32_t>(mem_.size());
    return PVL_OK;
  }
  PvlResult GetActualSize(uint32_t* s) override {
    *s = actual_;
    return PVL_OK;
  }
  PvlResult SetActualSize(uint32_t s) override {
    if (s > mem_.size()) return PVL_E_BADARG;
    actual_ = s;
    return PVL_OK;
  }
  PvlResult GetOffset(uint32_t* o) override {
    *o = 0;
    return PVL_OK;
  }
  PvlResult SetOffset(uint32_t o) override { return o == 0 ? PVL_OK : PVL_E_BADARG; }
  PvlResult GetTime1(uint64_t*) override { return PVL_E_VALUENOTPRESENT; }
  PvlResult SetTime1(uint64_t) override { return PVL_OK; }
  PvlResult GetTime2(uint64_t*) override { return PVL_E_VALUENOTPRESENT; }
  PvlResult SetTime2(uint64_t) override { return PVL_OK; }
  PvlResult GetTime3(uint64_t*) override { return PVL_E_VALUENOTPRESENT; }
  PvlResult SetTime3(uint64_t) override { return PVL_OK; }
  PvlResult GetFlags(uint32_t* f) override {
    *f = 0;
    return PVL_OK;
  }
  PvlResult SetFlags(uint32_t) override { return PVL_OK; }
  PvlResult GetInfo(CPvlMediaBufferInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetInfo(const CPvlMediaBufferInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult ClearTimes() override { return PVL_OK; }

  std::vector<uint8_t>& Memory() { return mem_; }
  std::vector<uint8_t> Content() const { return {mem_.begin(), mem_.begin() + actual_}; }
  int32_t Refs() const { return refs_; }

 private:
  std::vector<uint8_t> mem_;
  bool hasMemory_;
  uint32_t actual_ = 0;
  std::atomic<int32_t> refs_{1};
};

// Records what the service does; hands out output buffers from a list.
class Listener final : public IJpegServiceListener {
 public:
  int32_t AddRef() override { return 2; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetDeliveryBuffer(void*, uint32_t flag, IPvlMediaBuffer** buffer) override {
    std::lock_guard<std::mutex> lock(m_);
    ++bufferRequests_;
    lastFlag_ = flag;
    cv_.notify_all();
    if (deliveryResult_ != PVL_OK) return deliveryResult_;
    if (free_.empty()) return 516;  // none free now
    TestBuffer* b = free_.front();
    free_.pop_front();
    b->AddRef();
    *buffer = b;
    return PVL_OK;
  }
  PvlResult OnEvent(void*, uint32_t event) override {
    if (hook_) hook_(event);  // as the JPEG manager starts its next image from here
    std::lock_guard<std::mutex> lock(m_);
    events_.push_back(event);
    cv_.notify_all();
    return PVL_OK;
  }
  std::function<void(uint32_t)> hook_;
  PvlResult OutputProducedHandler(void*, IPvlMediaBuffer* buffer) override {
    std::lock_guard<std::mutex> lock(m_);
    auto* b = static_cast<TestBuffer*>(buffer);
    produced_.push_back(b->Content());
    eventsAtOutput_ = events_.size();
    return PVL_OK;
  }

  void Give(TestBuffer* b) {
    std::lock_guard<std::mutex> lock(m_);
    free_.push_back(b);
  }
  void Drain() {
    std::lock_guard<std::mutex> lock(m_);
    free_.clear();
  }
  void FailDelivery(PvlResult r) {
    std::lock_guard<std::mutex> lock(m_);
    deliveryResult_ = r;
  }
  // Waits until `n` events arrived; returns them.
  std::vector<uint32_t> WaitEvents(size_t n) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait_for(lock, kWait, [&] { return events_.size() >= n; });
    return events_;
  }
  void WaitBufferRequest() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait_for(lock, kWait, [&] { return bufferRequests_ > 0; });
  }
  std::vector<std::vector<uint8_t>> Produced() {
    std::lock_guard<std::mutex> lock(m_);
    return produced_;
  }
  uint32_t LastFlag() {
    std::lock_guard<std::mutex> lock(m_);
    return lastFlag_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<TestBuffer*> free_;
  std::vector<uint32_t> events_;
  std::vector<std::vector<uint8_t>> produced_;
  size_t eventsAtOutput_ = 0;
  PvlResult deliveryResult_ = PVL_OK;
  int bufferRequests_ = 0;
  uint32_t lastFlag_ = 0;
};

using Format = CameraPortFormat;

Format Nv21(uint32_t w, uint32_t h) { return Nv21Format(w, h); }
const CameraPortFormat* AsFormat(const Format& f) { return &f; }

class JpegServiceTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    liveBefore_ = OrbhostTest_LiveHostObjects();
    service_ = Create<IJpegService>(ZUEUID_CLASS_JPEGSERVICE);
    store_ = Create<IPropertyStore>(ZUEUID_CLASS_PROPERTY_STORE);
    ASSERT_NE(nullptr, service_);
    ASSERT_NE(nullptr, store_);
    ASSERT_EQ(PVL_OK, service_->SetListener(&listener_));
    ASSERT_EQ(PVL_OK, service_->SetProperties(store_));
  }
  void TearDown() override {
    if (service_) service_->Release();
    if (store_) store_->Release();
    EXPECT_EQ(liveBefore_, OrbhostTest_LiveHostObjects());
    HostTest::TearDown();
  }

  void SetUInt(uint32_t id, uint32_t v) {
    PvlValueRecord r{};
    r.type = PVL_VT_UINT32;
    r.payload.u32 = v;
    ASSERT_EQ(PVL_OK, store_->SetProperty(id, &r));
  }
  void SetRect(uint32_t id, CPvlRect rect) {
    PvlValueRecord r{};
    r.type = PVL_VT_RECT;
    r.payload.rect = rect;
    ASSERT_EQ(PVL_OK, store_->SetProperty(id, &r));
  }
  // An EXIF tag as the engine adds it: a property in the EXIF group.
  void AddExif(uint32_t id, const PvlValueRecord& v) {
    const PropertyDescImage d = Describe(id, "tag", v);
    ASSERT_EQ(PVL_OK, store_->AddProperty(d.Ptr(), kGroupExif, 1));
  }
  void AddExifText(uint32_t id, const char* text, uint32_t type = PVL_VT_STRING) { AddExif(id, TextValue(text, type)); }
  void AddExifShort(uint32_t id, uint16_t value) {
    PvlValueRecord v{};
    v.type = PVL_VT_UINT16;
    v.payload.u16 = value;
    AddExif(id, v);
  }
  void AddExifRational(uint32_t id, uint32_t n, uint32_t d) {
    PvlValueRecord v{};
    v.type = PVL_VT_URATIONAL;
    v.payload.rational = {n, d};
    AddExif(id, v);
  }

  // Main (and thumbnail) frames filled with test pictures.
  void MakeFrames(uint32_t w, uint32_t h, uint32_t tw = 0, uint32_t th = 0) {
    mainPic_ = Nv21Picture(w, h, 3);
    main_ = std::make_unique<TestBuffer>(mainPic_.size());
    std::copy(mainPic_.begin(), mainPic_.end(), main_->Memory().begin());
    ASSERT_EQ(PVL_OK, service_->SetMainFormat(AsFormat(Nv21(w, h))));
    Format none{};
    if (tw) {
      thumbPic_ = Nv21Picture(tw, th, 3);
      thumb_ = std::make_unique<TestBuffer>(thumbPic_.size());
      std::copy(thumbPic_.begin(), thumbPic_.end(), thumb_->Memory().begin());
      ASSERT_EQ(PVL_OK, service_->SetThumbnailFormat(AsFormat(Nv21(tw, th))));
    } else {
      ASSERT_EQ(PVL_OK, service_->SetThumbnailFormat(AsFormat(none)));
    }
  }

  int32_t liveBefore_ = 0;
  IJpegService* service_ = nullptr;
  IPropertyStore* store_ = nullptr;
  Listener listener_;
  std::vector<uint8_t> mainPic_, thumbPic_;
  std::unique_ptr<TestBuffer> main_, thumb_;
  TestBuffer out_{2 * 1024 * 1024};
};

TEST_F(JpegServiceTest, RegistersItsSettingsInTheStore) {
  struct Case {
    const char* name;
    uint32_t id;
    uint32_t type;
    int32_t value;
  } cases[] = {
      {"main quality", kMainQuality, PVL_VT_UINT32, 75},
      {"thumbnail quality", kThumbQuality, PVL_VT_UINT32, 75},
      {"rotation", ZUEUID_PROPERTY_JPEG_ROTATION, PVL_VT_INT32, 0},
      {"main crop", kMainCrop, PVL_VT_RECT, 0},
      {"thumbnail crop", kThumbCrop, PVL_VT_RECT, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PvlValueRecord r{};
    r.type = c.type;
    ASSERT_EQ(PVL_OK, store_->GetProperty(c.id, &r));
    EXPECT_EQ(c.value, r.payload.i32);
  }
  // A second store keeps values already set there.
  SetUInt(kMainQuality, 90);
  ASSERT_EQ(PVL_OK, service_->SetProperties(store_));
  PvlValueRecord r{};
  r.type = PVL_VT_UINT32;
  ASSERT_EQ(PVL_OK, store_->GetProperty(kMainQuality, &r));
  EXPECT_EQ(90u, r.payload.u32);
  EXPECT_EQ(PVL_E_NULLPTR, service_->SetProperties(nullptr));
}

TEST_F(JpegServiceTest, EncodesMainFrameWithThumbnailAndExifFromTheStore) {
  MakeFrames(640, 480, 320, 240);
  SetUInt(kMainQuality, 92);
  AddExifText(0x010F, "Samsung");
  AddExifText(0x0110, "S5K3E2FX");
  AddExifShort(0x9209, 0x19);
  AddExifShort(0xA403, 0);
  AddExifRational(0x829A, 26, 1024);
  AddExifText(kTuningData, "3A=AEC:5\nGain=1.5,\n", PVL_VT_BLOCK);
  {  // SubjectLocation as an array of two 16-bit values
    PvlValueRecord e[2] = {};
    e[0].type = e[1].type = PVL_VT_UINT16;
    e[0].payload.u16 = 320;
    e[1].payload.u16 = 240;
    PvlValueRecord v{};
    v.type = PVL_VT_ARRAY;
    v.payload.array.data = e;
    v.payload.array.capacity = v.payload.array.filled = 2;
    AddExif(0xA214, v);
  }
  listener_.Give(&out_);

  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(PVL_OK, service_->DeliverThumbnailFrame(thumb_.get()));
  std::vector<uint32_t> events = listener_.WaitEvents(1);
  ASSERT_EQ(std::vector<uint32_t>{EVENT_ENCODE_DONE}, events);
  auto produced = listener_.Produced();
  ASSERT_EQ(1u, produced.size());
  const std::vector<uint8_t>& jpeg = produced[0];
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(0xFF, jpeg[0]);
  EXPECT_EQ(0xD8, jpeg[1]);
  EXPECT_EQ(0xFF, jpeg[jpeg.size() - 2]);
  EXPECT_EQ(0xD9, jpeg[jpeg.size() - 1]);
  EXPECT_EQ(1, main_->Refs());  // frames handed back
  EXPECT_EQ(1, thumb_->Refs());
  EXPECT_EQ(1, out_.Refs());    // the service dropped its reference after handing over
  EXPECT_EQ(1u, listener_.LastFlag());

  Decoded gray = DecodeWithDjpeg(jpeg, true);
  ASSERT_TRUE(gray.ok) << gray.error;
  EXPECT_EQ(640u, gray.width);
  EXPECT_GT(LumaPsnr(gray, mainPic_, 640, 0, 0), 38.0);
  std::string warnings;
  auto tags = ReadExif(jpeg, &warnings);
  EXPECT_EQ("", warnings);
  EXPECT_EQ("OK", ValidateExif(jpeg));
  EXPECT_EQ("Samsung", tags["IFD0:Make"]);
  EXPECT_EQ("S5K3E2FX", tags["IFD0:Model"]);
  EXPECT_EQ("25", tags["ExifIFD:Flash"]);
  EXPECT_EQ("0", tags["ExifIFD:WhiteBalance"]);
  EXPECT_EQ("0.025390625", tags["ExifIFD:ExposureTime"]);
  EXPECT_EQ("320 240", tags["ExifIFD:SubjectLocation"]);
  EXPECT_EQ(19u, tags["ExifIFD:DateTimeOriginal"].size());
  EXPECT_EQ("3A=AEC:5\nGain=1.5,\n",
            std::string([&] { auto b = ExtractBinary(jpeg, "MakerNoteUnknownText"); return std::string(b.begin(), b.end()); }()));
  Decoded t = DecodeWithDjpeg(ExtractThumbnail(jpeg), true);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(320u, t.width);
  EXPECT_GT(LumaPsnr(t, thumbPic_, 320, 0, 0), 34.0);
}

// Each variant type the engine's EXIF data and the still pin's clients use lands in the
// file as its EXIF type and value, long arrays included.
TEST_F(JpegServiceTest, EveryExifVariantTypeLandsAsItsExifType) {
  MakeFrames(64, 48);
  const uint8_t cfa[8] = {0x00, 0x02, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01};
  std::vector<PvlValueRecord> area(3000);  // more value records than 64 KB hold
  std::string areaText;
  for (size_t i = 0; i < area.size(); ++i) {
    area[i].type = PVL_VT_UINT16;
    area[i].payload.u16 = static_cast<uint16_t>(i % 1000);
    areaText += (i ? " " : "") + std::to_string(i % 1000);
  }
  struct Case {
    uint32_t tag;
    PvlValueRecord value;
    const char* key;
    std::string expected;
  } cases[] = {
      {0x0110, [] { PvlValueRecord v{}; v.type = PVL_VT_STRING; v.payload.array = {const_cast<char*>("S5K"), 4, 4, 0}; return v; }(),
       "IFD0:Model", "S5K"},
      {0x9209, [] { PvlValueRecord v{}; v.type = PVL_VT_UINT16; v.payload.u16 = 0x10; return v; }(), "ExifIFD:Flash", "16"},
      {0x829D, [] { PvlValueRecord v{}; v.type = PVL_VT_URATIONAL; v.payload.rational = {2867, 1024}; return v; }(),
       "ExifIFD:FNumber", "2.799804688"},
      {0x9203, [] { PvlValueRecord v{}; v.type = PVL_VT_PAIR; v.payload.pair = {-1536, 1024}; return v; }(),
       "ExifIFD:BrightnessValue", "-1.5"},
      {0xA302, [&] { PvlValueRecord v{}; v.type = PVL_VT_BLOCK; v.payload.array = {const_cast<uint8_t*>(cfa), 8, 8, 0}; return v; }(),
       "ExifIFD:CFAPattern", "2 2 1 0 2 1"},
      {0x9214, [&] { PvlValueRecord v{}; v.type = PVL_VT_ARRAY; v.payload.array = {area.data(), 3000, 3000, 0}; return v; }(),
       "ExifIFD:SubjectArea", areaText},
  };
  for (const Case& c : cases) AddExif(c.tag, c.value);
  listener_.Give(&out_);
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(std::vector<uint32_t>{EVENT_ENCODE_DONE}, listener_.WaitEvents(1));
  auto tags = ReadExif(listener_.Produced().at(0));
  for (const Case& c : cases) EXPECT_EQ(c.expected, tags[c.key]) << c.key;
}

TEST_F(JpegServiceTest, ThumbnailFirstAndCropsFromTheStore) {
  MakeFrames(640, 480, 320, 240);
  SetRect(kMainCrop, {160, 120, 479, 359});
  SetRect(kThumbCrop, {80, 60, 239, 179});
  listener_.Give(&out_);
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverThumbnailFrame(thumb_.get()));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(std::vector<uint32_t>{EVENT_ENCODE_DONE}, listener_.WaitEvents(1));
  auto jpeg = listener_.Produced().at(0);
  Decoded gray = DecodeWithDjpeg(jpeg, true);
  ASSERT_TRUE(gray.ok) << gray.error;
  EXPECT_EQ(320u, gray.width);
  EXPECT_EQ(240u, gray.height);
  EXPECT_GT(LumaPsnr(gray, mainPic_, 640, 160, 120), 36.0);
  Decoded t = DecodeWithDjpeg(ExtractThumbnail(jpeg), true);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(160u, t.width);
  EXPECT_EQ(120u, t.height);
}

TEST_F(JpegServiceTest, ThumbnailCropOutsideTheThumbnailIsLoggedAndTheThumbnailTakenWhole) {
  camera::test::DebugCapture capture;
  MakeFrames(320, 240, 160, 120);
  SetRect(kThumbCrop, {80, 60, 239, 179});  // meant for a 320x240 thumbnail
  listener_.Give(&out_);
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  EXPECT_TRUE(CeSimDebugCapturedContains("thumbnail crop (80,60,239,179) outside the 160x120 thumbnail"));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(PVL_OK, service_->DeliverThumbnailFrame(thumb_.get()));
  ASSERT_EQ(std::vector<uint32_t>{EVENT_ENCODE_DONE}, listener_.WaitEvents(1));
  Decoded t = DecodeWithDjpeg(ExtractThumbnail(listener_.Produced().at(0)), true);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(160u, t.width);
  EXPECT_EQ(120u, t.height);
}

// The still port's predefined thumbnail format is NV12 (U before V): the embedded
// thumbnail keeps its colours.
TEST_F(JpegServiceTest, Nv12ThumbnailKeepsItsColours) {
  MakeFrames(640, 480, 320, 240);
  Format nv12 = Nv21(320, 240);
  nv12.FourCC = CAMERA_FOURCC_NV12;
  ASSERT_EQ(PVL_OK, service_->SetThumbnailFormat(AsFormat(nv12)));
  std::vector<uint8_t>& mem = thumb_->Memory();
  for (size_t i = 320 * 240; i + 1 < mem.size(); i += 2) std::swap(mem[i], mem[i + 1]);  // VU -> UV
  listener_.Give(&out_);
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverThumbnailFrame(thumb_.get()));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(std::vector<uint32_t>{EVENT_ENCODE_DONE}, listener_.WaitEvents(1));
  Decoded rgb = DecodeWithDjpeg(ExtractThumbnail(listener_.Produced().at(0)), false);
  ASSERT_TRUE(rgb.ok) << rgb.error;
  EXPECT_GT(RgbPsnr(rgb, thumbPic_, 320, 240, 0, 0), 30.0);  // thumbPic_ is the NV21 original
}

// A main image smaller than the predefined thumbnails: the still port hands the service a
// copy of its own "IJPG" format as the thumbnail format; the thumbnail frames are NV21.
TEST_F(JpegServiceTest, SmallMainImageTakesACopyOfItsIjpgFormatAsThumbnailFormat) {
  MakeFrames(160, 120, 160, 120);
  Format copy = Nv21(160, 120);
  copy.FourCC = CAMERA_FOURCC_IJPG;
  ASSERT_EQ(PVL_OK, service_->SetThumbnailFormat(AsFormat(copy)));
  listener_.Give(&out_);
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(PVL_OK, service_->DeliverThumbnailFrame(thumb_.get()));
  ASSERT_EQ(std::vector<uint32_t>{EVENT_ENCODE_DONE}, listener_.WaitEvents(1));
  Decoded t = DecodeWithDjpeg(ExtractThumbnail(listener_.Produced().at(0)), true);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(160u, t.width);
  EXPECT_GT(LumaPsnr(t, thumbPic_, 160, 0, 0), 34.0);
}

TEST_F(JpegServiceTest, AbortAnswersExactlyOneAbortEventInEveryState) {
  MakeFrames(320, 240, 160, 120);
  // Idle.
  ASSERT_EQ(PVL_OK, service_->Abort());
  ASSERT_EQ(std::vector<uint32_t>{EVENT_ENCODE_ABORT}, listener_.WaitEvents(1));
  // Waiting for the thumbnail: the image ends with the abort, its frame goes back.
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(PVL_OK, service_->Abort());
  listener_.WaitEvents(2);
  EXPECT_EQ(1, main_->Refs());
  // Waiting for an output buffer that never comes free.
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(PVL_OK, service_->DeliverThumbnailFrame(thumb_.get()));
  listener_.WaitBufferRequest();
  ASSERT_EQ(PVL_OK, service_->Abort());
  listener_.WaitEvents(3);
  // A full image afterwards: its one event comes after the three aborts, nothing else.
  listener_.Give(&out_);
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  ASSERT_EQ(PVL_OK, service_->DeliverThumbnailFrame(thumb_.get()));
  std::vector<uint32_t> expected{EVENT_ENCODE_ABORT, EVENT_ENCODE_ABORT, EVENT_ENCODE_ABORT, EVENT_ENCODE_DONE};
  EXPECT_EQ(expected, listener_.WaitEvents(4));
  EXPECT_EQ(1u, listener_.Produced().size());
  EXPECT_EQ(1, main_->Refs());
  EXPECT_EQ(1, thumb_->Refs());
}

TEST_F(JpegServiceTest, NextImageStartsFromTheDoneEventOnTheServicesThread) {
  MakeFrames(320, 240);
  TestBuffer second(320 * 240 * 3 / 2);
  std::copy(mainPic_.begin(), mainPic_.end(), second.Memory().begin());
  TestBuffer out2(1 << 20);
  int done = 0;
  listener_.hook_ = [&](uint32_t event) {
    if (event == EVENT_ENCODE_DONE && ++done == 1) {
      EXPECT_EQ(PVL_OK, service_->StartEncode(store_));
      EXPECT_EQ(PVL_OK, service_->DeliverMainFrame(&second));
    }
  };
  listener_.Give(&out_);
  listener_.Give(&out2);
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  std::vector<uint32_t> expected{EVENT_ENCODE_DONE, EVENT_ENCODE_DONE};
  EXPECT_EQ(expected, listener_.WaitEvents(2));
  EXPECT_EQ(2u, listener_.Produced().size());
  EXPECT_EQ(1, second.Refs());
  listener_.hook_ = nullptr;
}

TEST_F(JpegServiceTest, AbortRacingAFinishingImageStillGivesOneEventEach) {
  MakeFrames(64, 48);
  std::vector<std::unique_ptr<TestBuffer>> outs;
  size_t seen = 0;
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    outs.push_back(std::make_unique<TestBuffer>(64 * 1024));
    listener_.Give(outs.back().get());
    ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
    ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
    if (round % 3) std::this_thread::yield();  // vary where the abort lands
    ASSERT_EQ(PVL_OK, service_->Abort());
    // The abort event is the round's last: the worker sends it after it let the image go.
    std::vector<uint32_t> events;
    for (size_t want = seen + 1;; ++want) {
      events = listener_.WaitEvents(want);
      ASSERT_GE(events.size(), want);
      if (events.back() == EVENT_ENCODE_ABORT) break;
    }
    std::vector<uint32_t> round_(events.begin() + static_cast<std::ptrdiff_t>(seen), events.end());
    seen = events.size();
    bool finished = round_.size() == 2 && round_[0] == EVENT_ENCODE_DONE;
    EXPECT_TRUE(round_.size() == 1 || finished) << round_.size();
    EXPECT_EQ(1, main_->Refs());
    listener_.Drain();
  }
}

TEST_F(JpegServiceTest, RefusesBadFormatsCropsAndCallsOutOfOrder) {
  camera::test::DebugCapture capture;
  TestBuffer frame(100);
  EXPECT_EQ(PVL_E_NOTREADY, service_->StartEncode(store_));  // no main format yet
  EXPECT_TRUE(CeSimDebugCapturedContains("StartEncode without a main format"));
  EXPECT_EQ(PVL_E_NOTREADY, service_->DeliverMainFrame(&frame));  // no image started
  EXPECT_EQ(1, frame.Refs());

  struct Case {
    const char* name;
    Format format;
    const char* log;
  } bad[] = {
      {"empty", Nv21(0, 0), "main format refused"},
      {"odd width", Nv21(641, 480), "main format refused"},
      {"odd height", Nv21(640, 481), "main format refused"},
      {"over 2 GB", Nv21(65534, 43694), "at most 2 GB"},  // a size whose byte count overflows 32 bits
      {"YUY2", [] { Format f = Nv21(64, 48); f.FourCC = CAMERA_FOURCC('Y', 'U', 'Y', '2'); return f; }(),
       "neither NV21 nor NV12"},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PVL_E_BADARG, service_->SetMainFormat(AsFormat(c.format)));
    EXPECT_TRUE(CeSimDebugCapturedContains(c.log)) << c.log;
  }
  EXPECT_EQ(PVL_E_BADARG, service_->SetThumbnailFormat(AsFormat(Nv21(3, 2))));
  EXPECT_TRUE(CeSimDebugCapturedContains("thumbnail format refused"));
  EXPECT_EQ(PVL_E_NULLPTR, service_->SetMainFormat(nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, service_->SetThumbnailFormat(nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, service_->QueryBufferInfo(nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, service_->GetOutputBufferRequirements(nullptr));
  EXPECT_EQ(PVL_E_UNSUPPORTED, service_->Reserved3());

  MakeFrames(640, 480);
  uint32_t req[8] = {};
  ASSERT_EQ(PVL_OK, service_->GetOutputBufferRequirements(req));
  EXPECT_EQ(1u, req[0]);
  EXPECT_EQ(640u * 480 * 3 / 2 + 65535, req[1]);
  EXPECT_EQ(0x0106E429u, req[2]);

  SetRect(kMainCrop, {0, 0, 640, 479});
  EXPECT_EQ(PVL_E_BADARG, service_->StartEncode(store_));
  EXPECT_TRUE(CeSimDebugCapturedContains("main crop (0,0,640,479) outside the 640x480 frame"));
  SetRect(kMainCrop, {0, 0, 0, 0});
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  EXPECT_EQ(PVL_E_NOTREADY, service_->StartEncode(store_));  // one image at a time
  EXPECT_EQ(PVL_E_NULLPTR, service_->DeliverMainFrame(nullptr));
  EXPECT_TRUE(CeSimDebugCapturedContains("no main frame given"));
  ASSERT_EQ(PVL_OK, service_->Abort());
  listener_.WaitEvents(1);
}

TEST_F(JpegServiceTest, BadFramesAndBuffersEndTheImageWithAnErrorEvent) {
  MakeFrames(320, 240);
  struct Case {
    const char* what;
    size_t frameBytes;
    bool frameMemory;
    size_t outBytes;
    PvlResult delivery;
    uint32_t event;
    const char* log;
  } cases[] = {
      {"short frame", 1000, true, 1 << 20, PVL_OK, EVENT_ENCODE_ERROR, "main frame holds 1000 bytes"},
      {"frame without memory", 320 * 240 * 3 / 2, false, 1 << 20, PVL_OK, EVENT_ENCODE_ERROR, "main frame has no memory"},
      {"no delivery buffer", 320 * 240 * 3 / 2, true, 1 << 20, 2, EVENT_ENCODE_ERROR, "no delivery buffer (2)"},
      {"tiny output buffer", 320 * 240 * 3 / 2, true, 600, PVL_OK, EVENT_ENCODE_ERROR, "does not fit the 600-byte"},
      {"small output buffer", 320 * 240 * 3 / 2, true, 6000, PVL_OK, EVENT_ENCODE_DONE, "re-encoded at quality"},
  };
  size_t n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    camera::test::DebugCapture capture;
    TestBuffer frame(c.frameBytes, c.frameMemory);
    std::copy_n(mainPic_.begin(), std::min(c.frameBytes, mainPic_.size()), frame.Memory().begin());
    TestBuffer out(c.outBytes);
    listener_.FailDelivery(c.delivery);
    listener_.Give(&out);
    SetUInt(kMainQuality, 100);
    ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
    ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(&frame));
    std::vector<uint32_t> events = listener_.WaitEvents(++n);
    ASSERT_EQ(n, events.size());
    EXPECT_EQ(c.event, events.back());
    EXPECT_TRUE(CeSimDebugCapturedContains(c.log)) << c.log;
    EXPECT_EQ(1, frame.Refs());
    EXPECT_EQ(1, out.Refs());
    listener_.FailDelivery(PVL_OK);
    listener_.Drain();  // a buffer the service did not take goes with this case
  }
}

TEST_F(JpegServiceTest, ReleasingTheServiceWhileAnImageWaitsEndsCleanly) {
  MakeFrames(320, 240, 160, 120);
  ASSERT_EQ(PVL_OK, service_->StartEncode(store_));
  ASSERT_EQ(PVL_OK, service_->DeliverMainFrame(main_.get()));
  EXPECT_EQ(2, main_->Refs());
  service_->Release();
  service_ = nullptr;
  EXPECT_EQ(1, main_->Refs());
}

}  // namespace
