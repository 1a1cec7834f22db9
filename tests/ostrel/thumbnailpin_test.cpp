// The driver's hidden thumbnail pin ("ThumbnailPinSupport" on), through the capture
// client on the stand-in engine: the Preview pin brings it, the Preview and Still
// pins' requests are repeated on it, only the handle that made it ends it, and during
// a still it delivers the still's review image in a Preview buffer on the Preview
// queue with a post-capture notice.
#include <cstring>
#include <functional>

#include "chipset.h"
#include "cpindevice.h"
#include "ostrel_fixture.h"

namespace ostrel_test {
namespace {

using camclient::BufferMemory;
using camclient::Pin;

constexpr DWORD kWait = 5000;  // generous: the machine is shared

class ThumbnailPinTest : public DriverTest {
 public:
  // The format record of the pin's range of that size and FOURCC (0: any).
  CS_DATAFORMAT_VIDEOINFOHEADER Format(uint32_t id, uint32_t width, uint32_t height, uint32_t fourcc = 0) {
    std::vector<CS_DATARANGE_VIDEO> ranges;
    EXPECT_EQ(camera_.PinDataRanges(id, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* range = camclient::FindRange(ranges, width, height, fourcc);
    EXPECT_NE(range, nullptr) << width << "x" << height;
    return range ? camclient::FormatOfRange(*range) : CS_DATAFORMAT_VIDEOINFOHEADER{};
  }

 protected:
  void SetUp() override {
    DriverTest::SetUp();
    Open(FakeEngineConfig(), true);
  }
  // A fresh camera over an engine of `config`, the hidden pin on or off.
  void Open(const FakeEngineConfig& config, bool hidden) {
    camera_.Close();
    DevMgrDeactivateAll();
    Reset(config);
    WriteDword(OSTREL_PIN_KEY, u"ThumbnailPinSupport", hidden ? 1 : 0);
    LoadAndOpen();
    threadMark_ = CeSimThreadMark();
  }
  void Manual(bool hidden = true) {
    FakeEngineConfig config;
    config.manualFrames = true;
    Open(config, hidden);
  }

  uint32_t Instances(uint32_t pin) {
    CSPIN_CINSTANCES instances{};
    if (camera_.PinInstances(pin, &instances) != ERROR_SUCCESS) return 99;
    return instances.CurrentCount;
  }
  // The driver's pins as the camera device holds them (the hidden one has no handle).
  static CPinDevice* DriverPin(uint32_t pin) {
    return Device()->IsValidPin(pin) ? Device()->Pin(pin).pin : nullptr;
  }
  static CPinDevice* Hidden() { return DriverPin(CS_PIN_THUMBNAIL); }

  void Prepare(Pin& pin, uint32_t id, uint32_t width, uint32_t height, uint32_t fourcc = 0) {
    ASSERT_EQ(pin.Open(), ERROR_SUCCESS);
    ASSERT_EQ(pin.Instantiate(id), ERROR_SUCCESS);
    ASSERT_EQ(pin.SetFormat(Format(id, width, height, fourcc)), ERROR_SUCCESS);
  }
  void Stream(Pin& pin, uint32_t id, uint32_t width, uint32_t height, BufferMemory memory, uint32_t fourcc = 0) {
    Prepare(pin, id, width, height, fourcc);
    ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    ASSERT_EQ(pin.AllocateBuffers(memory), ERROR_SUCCESS);
    ASSERT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    ASSERT_EQ(pin.EnqueueAll(), ERROR_SUCCESS);
  }
  void Still(Pin& still) { Stream(still, CS_PIN_STILL, 2592, 1944, BufferMemory::Driver, CAMERA_FOURCC_IJPG); }
};

// ---- The hidden pin's life ------------------------------------------------------------------

TEST_F(ThumbnailPinTest, ThePreviewPinBringsItAndTheStillPinRunsIt) {
  Pin still;
  {
    Pin preview;
    ASSERT_EQ(preview.Open(), ERROR_SUCCESS);
    ASSERT_EQ(preview.Instantiate(CS_PIN_PREVIEW), ERROR_SUCCESS) << "nothing to copy for an empty out buffer";
    EXPECT_EQ(Instances(CS_PIN_PREVIEW), 1u);
    EXPECT_EQ(Instances(CS_PIN_THUMBNAIL), 1u) << "pin 3, with the preview's request";
    ASSERT_NE(Hidden(), nullptr);
    EXPECT_TRUE(Hidden()->SharesBufferTable());
    ASSERT_EQ(preview.SetFormat(Format(CS_PIN_PREVIEW, 320, 240)), ERROR_SUCCESS);
    ASSERT_EQ(preview.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    ASSERT_EQ(preview.AllocateBuffers(BufferMemory::Contiguous), ERROR_SUCCESS);
    ASSERT_EQ(preview.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    ASSERT_EQ(preview.EnqueueAll(), ERROR_SUCCESS);
    EXPECT_EQ(Hidden()->State(), uint32_t(CSSTATE_STOP)) << "the preview's states are its own";
    EXPECT_EQ(FakeCameraEngine::PortStarts(CS_PIN_THUMBNAIL), 0);

    Still(still);
    EXPECT_EQ(Hidden()->State(), uint32_t(CSSTATE_RUN)) << "it runs with the still pin";
    EXPECT_EQ(FakeCameraEngine::PortStarts(CS_PIN_THUMBNAIL), 1);
    EXPECT_TRUE(FakeCameraEngine::PortHasBufferManager(CS_PIN_THUMBNAIL)) << "the preview's pool";
    const std::vector<CameraPortFormat> set = FakeCameraEngine::FormatsSet(CS_PIN_THUMBNAIL);
    ASSERT_FALSE(set.empty());
    EXPECT_EQ(set.back().Width, 320u) << "the thumbnail port takes the preview's format";
    EXPECT_EQ(set.back().Height, 240u);
    EXPECT_EQ(ExtraThreads(3), 3u) << "preview, still and hidden capture threads";
  }  // the preview handle closes: the hidden pin ends with it
  EXPECT_EQ(Instances(CS_PIN_THUMBNAIL), 0u);
  EXPECT_EQ(Hidden(), nullptr);
  EXPECT_EQ(ExtraThreads(1), 1u) << "only the still's thread is left";
  ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  EXPECT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS) << "the still pin goes on alone";
}

// ---- Requests repeated on the hidden pin ------------------------------------------------------

// One request on the still or the preview pin (both instantiated, their formats set),
// what the client gets, and the hidden pin's log line that shows it was repeated
// there (null: the hidden pin saw nothing).
struct MirrorCase {
  const char* name;
  std::function<DWORD(ThumbnailPinTest&, Pin& still, Pin& preview)> request;
  DWORD result;
  const char* hiddenLog;
};

class MirrorTest : public ThumbnailPinTest, public ::testing::WithParamInterface<MirrorCase> {};

TEST_P(MirrorTest, RepeatedOnlyWhereTheHiddenPinFollows) {
  const MirrorCase& c = GetParam();
  Pin still, preview;
  Prepare(still, CS_PIN_STILL, 2592, 1944, CAMERA_FOURCC_IJPG);
  Prepare(preview, CS_PIN_PREVIEW, 320, 240);
  CeSimDebugCaptureBegin();
  EXPECT_EQ(c.request(*this, still, preview), c.result);
  const bool seen = CeSimDebugCapturedContains("[Thumbnail]");
  if (c.hiddenLog) {
    EXPECT_TRUE(CeSimDebugCapturedContains(c.hiddenLog)) << c.hiddenLog;
  } else {
    EXPECT_FALSE(seen) << "the hidden pin was asked";
  }
  CeSimDebugCaptureEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Pins, MirrorTest,
    ::testing::Values(
        MirrorCase{"StillStateSet", [](ThumbnailPinTest&, Pin& s, Pin&) { return s.SetState(CSSTATE_PAUSE); },
                   ERROR_SUCCESS, "[Thumbnail] State transition to PAUSE completed successfully"},
        MirrorCase{"StillStateGet",
                   [](ThumbnailPinTest&, Pin& s, Pin&) {
                     uint32_t state = 0;
                     return s.State(&state);
                   },
                   ERROR_SUCCESS, "[Thumbnail] PinHandleConnectionStateSubReqs(CSPROPERTY_TYPE_GET)"},
        MirrorCase{"StillFramingIsNot",
                   [](ThumbnailPinTest&, Pin& s, Pin&) {
                     CSALLOCATOR_FRAMING framing{};
                     return s.Framing(&framing);
                   },
                   ERROR_SUCCESS, nullptr},
        MirrorCase{"StillJpegIsNot",
                   [](ThumbnailPinTest&, Pin& s, Pin&) {
                     CSPROPERTY_VIDEOPROCAMP_S record{};
                     record.Value = 80;
                     record.Flags = CSPROPERTY_FLAGS_MANUAL;
                     return s.Property(VANTOR_PROPSETID_JPEG, 0, CSPROPERTY_TYPE_SET, &record, sizeof record);
                   },
                   ERROR_SUCCESS, nullptr},
        MirrorCase{"PreviewStateIsNot", [](ThumbnailPinTest&, Pin&, Pin& p) { return p.SetState(CSSTATE_PAUSE); },
                   ERROR_SUCCESS, nullptr},
        MirrorCase{"PreviewFormat",
                   [](ThumbnailPinTest& t, Pin&, Pin& p) { return p.SetFormat(t.Format(CS_PIN_PREVIEW, 640, 480)); },
                   ERROR_SUCCESS, "[Thumbnail] Set camera port config to: W=640, H=480"},
        MirrorCase{"PreviewFraming",
                   [](ThumbnailPinTest&, Pin&, Pin& p) {
                     CSALLOCATOR_FRAMING framing{};
                     return p.Framing(&framing);
                   },
                   ERROR_SUCCESS, "[Thumbnail] Returning allocator with"},
        MirrorCase{"PreviewJpegFailsThereFirst",
                   [](ThumbnailPinTest&, Pin&, Pin& p) {
                     CSPROPERTY_VIDEOPROCAMP_S record{};
                     record.Value = 80;
                     record.Flags = CSPROPERTY_FLAGS_MANUAL;
                     return p.Property(VANTOR_PROPSETID_JPEG, 0, CSPROPERTY_TYPE_SET, &record, sizeof record);
                   },
                   ERROR_INVALID_STATE, nullptr},
        MirrorCase{"PreviewExifFailsThereFirst",
                   [](ThumbnailPinTest&, Pin&, Pin& p) {
                     PropertyItem item{0x010F, 4, 2, 0, reinterpret_cast<uintptr_t>("abc")};
                     return p.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_SET, &item, sizeof item);
                   },
                   ERROR_INVALID_STATE, nullptr}),
    [](const ::testing::TestParamInfo<MirrorCase>& i) { return std::string(i.param.name); });

TEST_F(ThumbnailPinTest, TheClientSeesOnlyTheAnswerOfThePinItAsked) {
  Pin still, preview;
  Prepare(still, CS_PIN_STILL, 2592, 1944, CAMERA_FOURCC_IJPG);
  ASSERT_EQ(still.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
  Prepare(preview, CS_PIN_PREVIEW, 320, 240);  // the hidden pin comes now, stopped
  ASSERT_EQ(Hidden()->State(), uint32_t(CSSTATE_STOP));
  uint32_t state = 99;
  DWORD returned = 0xDEAD;
  ASSERT_EQ(still.Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_STATE, CSPROPERTY_TYPE_GET, &state,
                           sizeof state, &returned),
            ERROR_SUCCESS);
  EXPECT_EQ(state, uint32_t(CSSTATE_PAUSE)) << "the still pin's state, not the hidden pin's STOP";
  EXPECT_EQ(returned, sizeof state);
}

TEST_F(ThumbnailPinTest, TheHiddenPinsRefusalIsTheClientsAnswer) {
  FakeEngineConfig config;
  config.ports = camera::test::DefaultPorts();
  // A thumbnail port smaller than the preview's.
  config.ports[3].formats = {camera::test::Nv21Format(320, 240, camera::test::kFakeFrameIntervalUs)};
  Open(config, true);
  Pin preview;
  Prepare(preview, CS_PIN_PREVIEW, 320, 240);
  EXPECT_EQ(preview.SetFormat(Format(CS_PIN_PREVIEW, 640, 480)), DWORD(ERROR_INVALID_PARAMETER));
}

struct HandoverCase {
  const char* name;
  BufferMemory memory;
  uint8_t fallback;
};

class HandoverTest : public ThumbnailPinTest, public ::testing::WithParamInterface<HandoverCase> {};

TEST_P(HandoverTest, ThePreviewsPoolAndFallbackFollowEveryAllocation) {
  const HandoverCase& c = GetParam();
  Pin preview;
  Prepare(preview, CS_PIN_PREVIEW, 320, 240);
  ASSERT_EQ(preview.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
  ASSERT_EQ(preview.AllocateBuffers(c.memory), ERROR_SUCCESS);
  CPinDevice* owner = DriverPin(CS_PIN_PREVIEW);
  ASSERT_NE(owner->BufferManager(), nullptr);
  EXPECT_EQ(Hidden()->BufferManager(), owner->BufferManager());
  EXPECT_EQ(Hidden()->ClientMemoryFallback(), c.fallback);
  EXPECT_EQ(Hidden()->FrameCount(), owner->FrameCount()) << "one table";
  ASSERT_EQ(preview.DeallocateBuffers(), ERROR_SUCCESS);
  EXPECT_EQ(Hidden()->BufferManager(), nullptr) << "the pool went with the last buffer";
  EXPECT_EQ(Hidden()->ClientMemoryFallback(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pins, HandoverTest,
                         ::testing::Values(HandoverCase{"ContiguousMemory", BufferMemory::Contiguous, 0},
                                           HandoverCase{"HeapMemory", BufferMemory::Heap, 1}),
                         [](const ::testing::TestParamInfo<HandoverCase>& i) { return std::string(i.param.name); });

// ---- Stills ------------------------------------------------------------------------------

// A still with frames delivered by the test: the still's JPEG on the still pin and,
// with the hidden pin, the review image on the preview queue. The trigger comes
// first; the still and thumbnail threads take a frame only once triggered.
struct ReviewCase {
  const char* name;
  bool hidden;
  BufferMemory memory;
};

class ReviewTest : public ThumbnailPinTest, public ::testing::WithParamInterface<ReviewCase> {};

TEST_P(ReviewTest, AStillBringsItsReviewFrame) {
  const ReviewCase& c = GetParam();
  Manual(c.hidden);
  camclient::AsyncQueueReader notices;
  ASSERT_EQ(notices.Open(), ERROR_SUCCESS);
  Pin preview, still;
  Stream(preview, CS_PIN_PREVIEW, 320, 240, c.memory);
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_PREVIEW, 1000, 2000));
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(preview.NextBuffer(&d, kWait), ERROR_SUCCESS);
  ASSERT_EQ(preview.Enqueue(d), ERROR_SUCCESS);
  Still(still);

  ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_STILL, 3000, 3001));
  ASSERT_EQ(FakeCameraEngine::DeliverFrame(CS_PIN_THUMBNAIL, 3000, 3001), c.hidden) << "a pool only with the pin";
  ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS) << "the still is delivered";
  EXPECT_EQ(Pin::Data(*d)[0], 0xFF);
  EXPECT_EQ(Pin::Data(*d)[1], 0xD8);

  CS_STREAM_DESCRIPTOR* review = nullptr;
  if (!c.hidden) {
    EXPECT_EQ(preview.ReviewFrame(&review, 300), DWORD(ERROR_TIMEOUT)) << "no review frame without the pin";
    return;
  }
  ASSERT_EQ(preview.ReviewFrame(&review, kWait), ERROR_SUCCESS);
  bool ours = false;
  for (size_t i = 0; i < preview.BufferCount(); ++i) ours |= preview.Descriptor(i) == review;
  EXPECT_TRUE(ours) << "in one of the preview's buffers";
  const uint32_t n = 320 * 240;
  EXPECT_EQ(review->CsStreamHeader.DataUsed, n * 3 / 2);
  EXPECT_EQ(review->CsFrameInfo.PictureNumber, 1) << "the thumbnail port's first frame";
  const uint8_t* p = Pin::Data(*review);
  EXPECT_EQ(p[0], 1) << "the thumbnail port's ramp, frame 1";
  EXPECT_EQ(uint8_t(p[1] - p[0]), 1);
  EXPECT_EQ(p[n], 0xC0);
  // YV12 (V plane, U plane), in the client's own memory as in heap memory.
  EXPECT_EQ(p[n + 1], 0xC0);
  EXPECT_EQ(p[n + n / 4], 0x40);

  AsyncCameraMessage m{};
  ASSERT_EQ(notices.Read(&m, kWait), ERROR_SUCCESS);
  EXPECT_EQ(m.event, 1u) << "the thumbnail pin's post-capture notice";
  EXPECT_EQ(m.size, 20u);
  EXPECT_NE(m.reserved0, 0u) << "the screen's address";
  EXPECT_EQ(m.reserved1, n * 2);

  // Given back, the buffer takes preview frames again.
  ASSERT_EQ(preview.Enqueue(review), ERROR_SUCCESS);
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_PREVIEW, 5000, 6000));
  ASSERT_EQ(preview.NextBuffer(&d, kWait), ERROR_SUCCESS);
  EXPECT_EQ(ExtraThreads(3), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Pins, ReviewTest,
    ::testing::Values(ReviewCase{"ZeroCopy", true, BufferMemory::Contiguous},
                      ReviewCase{"CopiedAsYV12", true, BufferMemory::Heap},
                      ReviewCase{"WithoutTheHiddenPin", false, BufferMemory::Contiguous}),
    [](const ::testing::TestParamInfo<ReviewCase>& i) { return std::string(i.param.name); });

TEST_F(ThumbnailPinTest, StoppingTheStillLeavesThePreviewsBuffersWithThePreview) {
  Manual();
  Pin preview, still;
  Stream(preview, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  Still(still);
  ASSERT_EQ(Hidden()->State(), uint32_t(CSSTATE_RUN));
  ASSERT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  EXPECT_EQ(Hidden()->State(), uint32_t(CSSTATE_STOP));
  CS_STREAM_DESCRIPTOR* d = nullptr;
  EXPECT_EQ(preview.NextBuffer(&d, 300), DWORD(ERROR_TIMEOUT)) << "no preview buffer came back empty";
  EXPECT_EQ(DriverPin(CS_PIN_PREVIEW)->FrameCount(), preview.BufferCount()) << "the table is whole";
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_PREVIEW, 1000, 2000));
  ASSERT_EQ(preview.NextBuffer(&d, kWait), ERROR_SUCCESS) << "the preview streams on";
  EXPECT_EQ(d->CsStreamHeader.DataUsed, 320u * 240 * 3 / 2);
}

// ---- Handles that do not own the hidden pin -------------------------------------------------

TEST_F(ThumbnailPinTest, AFailedHandleLeavesTheOwnersHiddenPinStreaming) {
  Manual();
  Pin preview, still;
  Stream(preview, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  Still(still);
  {
    Pin intruder, stillIntruder;
    ASSERT_EQ(intruder.Open(), ERROR_SUCCESS);
    EXPECT_EQ(intruder.Instantiate(CS_PIN_PREVIEW), DWORD(ERROR_INVALID_PARAMETER));
    ASSERT_EQ(stillIntruder.Open(), ERROR_SUCCESS);
    EXPECT_EQ(stillIntruder.Instantiate(CS_PIN_STILL), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(stillIntruder.SetState(CSSTATE_STOP), ERROR_SUCCESS) << "its own STOP, which it is in";
    EXPECT_EQ(Hidden()->State(), uint32_t(CSSTATE_RUN)) << "a handle without a stream leads nothing";
  }  // both closed
  EXPECT_EQ(Instances(CS_PIN_PREVIEW), 1u);
  EXPECT_EQ(Instances(CS_PIN_THUMBNAIL), 1u);
  ASSERT_NE(Hidden(), nullptr);
  EXPECT_EQ(Hidden()->State(), uint32_t(CSSTATE_RUN));
  ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_STILL, 3000, 3001));
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_THUMBNAIL, 3000, 3001));
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
  EXPECT_EQ(preview.ReviewFrame(&d, kWait), ERROR_SUCCESS) << "the owner's review frame still comes";
  EXPECT_EQ(ExtraThreads(3), 3u);
}

TEST_F(ThumbnailPinTest, AFailedHiddenPinLeavesNoHalfMadePreview) {
  FakeEngineConfig config;
  config.ports = camera::test::DefaultPorts();
  config.ports.pop_back();  // no thumbnail port behind pin 3
  Open(config, true);
  {
    Pin preview;
    ASSERT_EQ(preview.Open(), ERROR_SUCCESS);
    EXPECT_EQ(preview.Instantiate(CS_PIN_PREVIEW), DWORD(ERROR_INVALID_PARAMETER)) << "the hidden pin's answer";
    EXPECT_EQ(Instances(CS_PIN_PREVIEW), 0u) << "the preview let its slot go";
    EXPECT_EQ(Hidden(), nullptr);
    EXPECT_EQ(preview.SetFormat(Format(CS_PIN_PREVIEW, 320, 240)), DWORD(ERROR_INVALID_STATE)) << "no stream";
  }
  // Without the hidden pin the preview works again, from a fresh handle.
  Open(config, false);
  Pin preview;
  Stream(preview, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  EXPECT_EQ(preview.NextBuffer(&d, kWait), ERROR_SUCCESS);
}

TEST_F(ThumbnailPinTest, ClosingTheCameraUnderTheHiddenPinEndsItFirst) {
  Pin preview, still;
  Stream(preview, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  Still(still);
  ASSERT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0) << "every pin let go of its port and pool";
  // The camera opens again; a new preview handle brings a new hidden pin, and the old
  // handle's close leaves it alone.
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  threadMark_ = CeSimThreadMark();  // the new camera's notification threads run
  Pin second;
  Stream(second, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  ASSERT_NE(Hidden(), nullptr);
  ASSERT_EQ(preview.Close(), ERROR_SUCCESS);
  EXPECT_EQ(Instances(CS_PIN_THUMBNAIL), 1u);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  EXPECT_EQ(second.NextBuffer(&d, kWait), ERROR_SUCCESS);
  EXPECT_EQ(ExtraThreads(1), 1u) << "the new preview's thread; the old pins' ended with the camera";
}

}  // namespace
}  // namespace ostrel_test
