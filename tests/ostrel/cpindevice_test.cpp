// The pins through the capture client on the stand-in engine: instantiation, the
// stream-state machine, formats and framing, the client's buffers in the driver's
// and the client's memory, the capture thread's delivery (zero-copy and copied),
// its time stamps and drops, and requests a pin must refuse.
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "chipset.h"
#include "chipset_sim.h"
#include "ostrel_fixture.h"

namespace ostrel_test {
namespace {

using camclient::BufferMemory;
using camclient::Pin;

constexpr DWORD kWait = 5000;  // generous: the machine is shared
constexpr DWORD kNotActive = 1062;

class PinTest : public DriverTest {
 protected:
  // Threads are counted from the open camera on (its notification threads run).
  void SetUp() override {
    DriverTest::SetUp();
    closedMark_ = threadMark_;
    LoadAndOpen();
    threadMark_ = CeSimThreadMark();
  }
  void Manual() {
    camera_.Close();
    DevMgrDeactivateAll();
    FakeEngineConfig config;
    config.manualFrames = true;
    Reset(config);
    closedMark_ = threadMark_;
    LoadAndOpen();
    threadMark_ = CeSimThreadMark();
  }
  DWORD closedMark_ = 0;  // before the camera opened
  // A pin instantiated with the range of that size and FOURCC set as its format.
  void Prepare(Pin& pin, uint32_t id, uint32_t width, uint32_t height, uint32_t fourcc = 0) {
    ASSERT_EQ(pin.Open(), ERROR_SUCCESS);
    ASSERT_EQ(pin.Instantiate(id), ERROR_SUCCESS);
    std::vector<CS_DATARANGE_VIDEO> ranges;
    ASSERT_EQ(camera_.PinDataRanges(id, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* range = camclient::FindRange(ranges, width, height, fourcc);
    ASSERT_NE(range, nullptr);
    ASSERT_EQ(pin.SetFormat(camclient::FormatOfRange(*range)), ERROR_SUCCESS);
  }
  // Prepared, paused, its buffers allocated and queued, running.
  void Stream(Pin& pin, uint32_t id, uint32_t width, uint32_t height, BufferMemory memory, uint32_t fourcc = 0) {
    Prepare(pin, id, width, height, fourcc);
    ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    ASSERT_EQ(pin.AllocateBuffers(memory), ERROR_SUCCESS);
    ASSERT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    ASSERT_EQ(pin.EnqueueAll(), ERROR_SUCCESS);
  }
};

// ---- Instantiation ----------------------------------------------------------------------------

TEST_F(PinTest, InstantiationBindsTheHandleToOnePin) {
  Pin preview, second, bad;
  ASSERT_EQ(preview.Open(), ERROR_SUCCESS);
  EXPECT_EQ(preview.Instantiate(CS_PIN_PREVIEW), ERROR_SUCCESS);
  EXPECT_EQ(preview.Instantiate(CS_PIN_CAPTURE), DWORD(ERROR_INVALID_PARAMETER)) << "already instantiated";
  CSPIN_CINSTANCES instances{};
  ASSERT_EQ(camera_.PinInstances(CS_PIN_PREVIEW, &instances), ERROR_SUCCESS);
  EXPECT_EQ(instances.CurrentCount, 1u);

  ASSERT_EQ(second.Open(), ERROR_SUCCESS);
  EXPECT_EQ(second.Instantiate(CS_PIN_PREVIEW), DWORD(ERROR_INVALID_PARAMETER)) << "one instance per pin";
  ASSERT_EQ(bad.Open(), ERROR_SUCCESS);
  EXPECT_EQ(bad.Instantiate(CS_PIN_NONE), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(PinTest, AFailedInstantiationLeavesTheOwnersStreamAlone) {
  Pin owner;
  Stream(owner, CS_PIN_PREVIEW, 640, 480, BufferMemory::Contiguous);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(owner.NextBuffer(&d, kWait), ERROR_SUCCESS);
  const size_t formats = FakeCameraEngine::FormatsSet(CS_PIN_PREVIEW).size();
  {
    Pin intruder;
    ASSERT_EQ(intruder.Open(), ERROR_SUCCESS);
    EXPECT_EQ(intruder.Instantiate(CS_PIN_PREVIEW), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(intruder.Instantiate(CS_PIN_PREVIEW), DWORD(ERROR_INVALID_PARAMETER)) << "the handle stays bound";
  }  // closed: it must not stop the port, free the slot or stop the engine
  EXPECT_EQ(FakeCameraEngine::FormatsSet(CS_PIN_PREVIEW).size(), formats) << "the port was not reconfigured";
  CSPIN_CINSTANCES instances{};
  ASSERT_EQ(camera_.PinInstances(CS_PIN_PREVIEW, &instances), ERROR_SUCCESS);
  EXPECT_EQ(instances.CurrentCount, 1u);
  ASSERT_EQ(owner.Enqueue(d), ERROR_SUCCESS);
  EXPECT_EQ(owner.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frames still come";
  EXPECT_EQ(FakeCameraEngine::CallCount("Stop"), 0);
}

// The camera's streams belong to the process that owns the camera: another process,
// refused the camera, gets no pin of it, neither by a new handle nor by one it opened
// before the owner came; the owner's stream goes on.
TEST_F(PinTest, AnotherProcessGetsNoPinOfTheOwnersCamera) {
  const HANDLE other = reinterpret_cast<HANDLE>(uintptr_t(0x00C0FFEE));
  struct Restore {
    ~Restore() { CeSimSetCallerProcess(CeSimDefaultCallerProcess()); }
  } restore;
  camera_.Close();
  Pin early;
  CeSimSetCallerProcess(other);
  ASSERT_EQ(early.Open(), ERROR_SUCCESS) << "no one owns the camera yet";
  CeSimSetCallerProcess(CeSimDefaultCallerProcess());
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  Pin owner;
  Stream(owner, CS_PIN_CAPTURE, 640, 480, BufferMemory::Contiguous);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(owner.NextBuffer(&d, kWait), ERROR_SUCCESS);

  CeSimSetCallerProcess(other);
  camclient::Camera camera;
  EXPECT_EQ(camera.Open(), DWORD(ERROR_ALREADY_INITIALIZED));
  Pin late;
  EXPECT_EQ(late.Open(), DWORD(ERROR_ACCESS_DENIED)) << "a new handle";
  for (uint32_t id : {uint32_t(CS_PIN_CAPTURE), uint32_t(CS_PIN_PREVIEW), uint32_t(CS_PIN_STILL)})
    EXPECT_EQ(early.Instantiate(id), DWORD(ERROR_ACCESS_DENIED)) << "a handle opened before, pin " << id;
  early.Close();
  CeSimSetCallerProcess(CeSimDefaultCallerProcess());

  ASSERT_EQ(owner.Enqueue(d), ERROR_SUCCESS);
  EXPECT_EQ(owner.NextBuffer(&d, kWait), ERROR_SUCCESS) << "the owner's frames still come";
  Pin mine;
  EXPECT_EQ(mine.Open(), ERROR_SUCCESS) << "the owner opens more handles";
  EXPECT_EQ(mine.Instantiate(CS_PIN_PREVIEW), ERROR_SUCCESS);
}

TEST_F(PinTest, ANullQueueHandleIsRefused) {
  Pin pin;
  ASSERT_EQ(pin.Open(), ERROR_SUCCESS);
  CSPROPERTY_STREAMEX_S request{};
  request.CsPin = {CSPROPSETID_StreamEx, 0, CSPROPERTY_TYPE_SET};
  request.PinId = CS_PIN_PREVIEW;
  DWORD returned = 0;
  EXPECT_EQ(pin.IoControl(IOCTL_STREAM_INSTANTIATE, &request, sizeof request, nullptr, 0, &returned),
            DWORD(ERROR_INVALID_PARAMETER));
  CSPIN_CINSTANCES instances{};
  ASSERT_EQ(camera_.PinInstances(CS_PIN_PREVIEW, &instances), ERROR_SUCCESS);
  EXPECT_EQ(instances.CurrentCount, 0u);
}

// ---- The stream-state machine -------------------------------------------------------------------

struct StateStep {
  uint32_t to;
  DWORD result;
  uint32_t after;
};
struct StateCase {
  const char* name;
  std::vector<StateStep> steps;
};

class StateTest : public PinTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(StateTest, Transitions) {
  Pin pin;
  Prepare(pin, CS_PIN_PREVIEW, 640, 480);
  for (const StateStep& s : GetParam().steps) {
    EXPECT_EQ(pin.SetState(s.to), s.result) << "to " << s.to;
    uint32_t state = 99;
    ASSERT_EQ(pin.State(&state), ERROR_SUCCESS);
    EXPECT_EQ(state, s.after) << "after the move to " << s.to;
  }
  EXPECT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  EXPECT_EQ(ExtraThreads(), 0u) << "the capture thread ended";
}

INSTANTIATE_TEST_SUITE_P(
    Pins, StateTest,
    ::testing::Values(
        StateCase{"StopToRunIsRefused", {{CSSTATE_RUN, ERROR_INVALID_STATE, CSSTATE_STOP}}},
        StateCase{"StopPauseRun", {{CSSTATE_PAUSE, 0, CSSTATE_PAUSE}, {CSSTATE_RUN, 0, CSSTATE_RUN}}},
        StateCase{"SameStateAgain", {{CSSTATE_STOP, 0, CSSTATE_STOP}, {CSSTATE_PAUSE, 0, CSSTATE_PAUSE},
                                     {CSSTATE_PAUSE, 0, CSSTATE_PAUSE}}},
        StateCase{"RunBackToPause", {{CSSTATE_PAUSE, 0, CSSTATE_PAUSE}, {CSSTATE_RUN, 0, CSSTATE_RUN},
                                     {CSSTATE_PAUSE, 0, CSSTATE_PAUSE}}},
        StateCase{"RunToStop", {{CSSTATE_PAUSE, 0, CSSTATE_PAUSE}, {CSSTATE_RUN, 0, CSSTATE_RUN},
                                {CSSTATE_STOP, 0, CSSTATE_STOP}, {CSSTATE_PAUSE, 0, CSSTATE_PAUSE}}},
        StateCase{"UnknownState", {{7, ERROR_INVALID_PARAMETER, CSSTATE_STOP}}}),
    [](const ::testing::TestParamInfo<StateCase>& i) { return std::string(i.param.name); });

TEST_F(PinTest, StateRequestsNeedAStreamAndAWholeValue) {
  Pin pin;
  ASSERT_EQ(pin.Open(), ERROR_SUCCESS);
  EXPECT_EQ(pin.SetState(CSSTATE_PAUSE), DWORD(ERROR_INVALID_STATE)) << "not instantiated";
  ASSERT_EQ(pin.Instantiate(CS_PIN_PREVIEW), ERROR_SUCCESS);
  uint16_t half = CSSTATE_PAUSE;
  EXPECT_EQ(pin.Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_STATE, CSPROPERTY_TYPE_SET, &half, sizeof half),
            DWORD(ERROR_INVALID_PARAMETER));
  uint32_t state = CSSTATE_PAUSE;
  EXPECT_EQ(pin.Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_STATE, 0x40, &state, sizeof state),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(pin.Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_PROPOSEDATAFORMAT, CSPROPERTY_TYPE_SET, &state,
                         sizeof state),
            DWORD(ERROR_INVALID_PARAMETER));
}

// ---- Formats and framing --------------------------------------------------------------------------

TEST_F(PinTest, AFormatReachesThePortAsNv21) {
  Pin pin;
  Prepare(pin, CS_PIN_PREVIEW, 320, 240);
  std::vector<CameraPortFormat> set = FakeCameraEngine::FormatsSet(CS_PIN_PREVIEW);
  ASSERT_FALSE(set.empty());
  EXPECT_EQ(set.back().Width, 320u);
  EXPECT_EQ(set.back().Height, 240u);
  EXPECT_EQ(set.back().FourCC, CAMERA_FOURCC_NV21);
  EXPECT_EQ(set.back().AutoFrameRate, 1) << "no fixed frame rate asked for";
  CSALLOCATOR_FRAMING framing{};
  ASSERT_EQ(pin.Framing(&framing), ERROR_SUCCESS);
  EXPECT_EQ(framing.RequirementsFlags, 2u) << "the preview pin's client memory";
  EXPECT_EQ(framing.PoolType, 1u);
  EXPECT_EQ(framing.Frames, 6u) << "the port's four and two for the preview";
  EXPECT_EQ(framing.FrameSize, 320u * 240 * 3 / 2);
}

TEST_F(PinTest, BadFormatsAreRefusedAndChangeNothing) {
  Pin pin;
  Prepare(pin, CS_PIN_PREVIEW, 320, 240);
  std::vector<CS_DATARANGE_VIDEO> ranges;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_PREVIEW, &ranges), ERROR_SUCCESS);
  const CS_DATAFORMAT_VIDEOINFOHEADER good = camclient::FormatOfRange(*camclient::FindRange(ranges, 640, 480, 0));
  struct Case {
    const char* name;
    CS_DATAFORMAT_VIDEOINFOHEADER format;
    DWORD size;
  };
  std::vector<Case> cases;
  cases.push_back({"OneByteShort", good, sizeof good - 1});
  CS_DATAFORMAT_VIDEOINFOHEADER huge = good;
  huge.VideoInfoHeader.bmiHeader.biSize = 0x7FFFFFF0;
  cases.push_back({"HugeBitmapHeader", huge, sizeof huge});
  CS_DATAFORMAT_VIDEOINFOHEADER odd = good;
  odd.VideoInfoHeader.bmiHeader.biWidth = 641;
  cases.push_back({"SizeNotOffered", odd, sizeof odd});
  for (const Case& c : cases) {
    CS_DATAFORMAT_VIDEOINFOHEADER copy = c.format;
    EXPECT_EQ(pin.Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_DATAFORMAT, CSPROPERTY_TYPE_SET, &copy,
                           c.size),
              DWORD(ERROR_INVALID_PARAMETER))
        << c.name;
  }
  CSALLOCATOR_FRAMING framing{};
  ASSERT_EQ(pin.Framing(&framing), ERROR_SUCCESS);
  EXPECT_EQ(framing.FrameSize, 320u * 240 * 3 / 2) << "the format stayed";
  Pin unbound;
  ASSERT_EQ(unbound.Open(), ERROR_SUCCESS);
  EXPECT_EQ(unbound.SetFormat(good), DWORD(ERROR_INVALID_STATE));
}

TEST_F(PinTest, FramingIsSetOnlyWhenStoppedAndInThePinsMode) {
  Pin pin;
  Prepare(pin, CS_PIN_PREVIEW, 320, 240);
  CSALLOCATOR_FRAMING framing{2, 1, 8, 320 * 240 * 3 / 2, 0, 0};
  CSALLOCATOR_FRAMING wrongMode = framing;
  wrongMode.RequirementsFlags = 1;
  EXPECT_EQ(pin.Property(CSPROPSETID_Connection, 2, CSPROPERTY_TYPE_SET, &wrongMode, sizeof wrongMode),
            DWORD(ERROR_INVALID_PARAMETER));
  CSALLOCATOR_FRAMING tooSmall = framing;
  tooSmall.FrameSize = 100;
  EXPECT_EQ(pin.Property(CSPROPSETID_Connection, 2, CSPROPERTY_TYPE_SET, &tooSmall, sizeof tooSmall),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(pin.Property(CSPROPSETID_Connection, 2, CSPROPERTY_TYPE_SET, &framing, sizeof framing), ERROR_SUCCESS);
  CSALLOCATOR_FRAMING now{};
  ASSERT_EQ(pin.Framing(&now), ERROR_SUCCESS);
  EXPECT_EQ(now.Frames, 8u);
  ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
  EXPECT_EQ(pin.Property(CSPROPSETID_Connection, 2, CSPROPERTY_TYPE_SET, &framing, sizeof framing),
            DWORD(ERROR_INVALID_PARAMETER))
      << "not in STOP";
}

// ---- Buffers and delivery ---------------------------------------------------------------------------

struct DeliveryCase {
  const char* name;
  uint32_t pin;
  BufferMemory memory;
  bool zeroCopy;
};

class DeliveryTest : public PinTest, public ::testing::WithParamInterface<DeliveryCase> {};

TEST_P(DeliveryTest, FramesArriveInTheClientsBuffers) {
  const DeliveryCase& c = GetParam();
  // Each frame comes once the previous buffer is back: no frame is lost to a slow test.
  Manual();
  Pin pin;
  Stream(pin, c.pin, 640, 480, c.memory);
  EXPECT_EQ(FakeCameraEngine::CallCount("StartVideo"), 1) << "video starts once every buffer is queued";
  const uint32_t frameSize = 640 * 480 * 3 / 2;
  int64_t lastEnd = -1;
  for (int i = 0; i < 12; ++i) {
    const uint64_t t = 1000000 + uint64_t(i) * 666660;
    ASSERT_TRUE(FakeCameraEngine::DeliverFrame(c.pin, t, t + 666660)) << "frame " << i;
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frame " << i;
    const CSSTREAM_HEADER& h = d->CsStreamHeader;
    EXPECT_EQ(h.DataUsed, frameSize);
    EXPECT_EQ(h.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_SPLICEPOINT, 1u);
    EXPECT_EQ((h.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY) != 0, i == 0)
        << "only the first buffer carries the discontinuity";
    EXPECT_EQ(h.OptionsFlags & 0x110u, 0u);
    if (i == 0) {
      EXPECT_EQ(h.PresentationTime, 0);
    }
    EXPECT_GT(h.PresentationTime, lastEnd - 1) << "times never go backwards";
    EXPECT_GT(h.Duration, 0);
    lastEnd = h.PresentationTime + h.Duration;
    EXPECT_GT(d->CsFrameInfo.PictureNumber, 0);
    // The ramp the port wrote: luma grows by one to the right, chroma is V then U.
    const uint8_t* p = Pin::Data(*d);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(uint8_t(p[1] - p[0]), 1);
    EXPECT_EQ(uint8_t(p[640] - p[0]), 1);
    const uint32_t n = 640 * 480;
    // The YV12 the client negotiated (a V plane, then a U plane), whether the pin
    // copied the frame or the port wrote it into the client's own memory.
    EXPECT_EQ(p[n], 0xC0);
    EXPECT_EQ(p[n + 1], 0xC0) << (c.zeroCopy ? "zero-copy" : "copied");
    EXPECT_EQ(p[n + n / 4 - 1], 0xC0);
    EXPECT_EQ(p[n + n / 4], 0x40);
    EXPECT_EQ(p[n + n / 2 - 1], 0x40);
    ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
  }
  EXPECT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  EXPECT_EQ(pin.DeallocateBuffers(), ERROR_SUCCESS);
  EXPECT_EQ(ExtraThreads(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Pins, DeliveryTest,
    ::testing::Values(DeliveryCase{"PreviewZeroCopy", CS_PIN_PREVIEW, BufferMemory::Contiguous, true},
                      DeliveryCase{"PreviewHeapCopied", CS_PIN_PREVIEW, BufferMemory::Heap, false},
                      DeliveryCase{"CaptureZeroCopy", CS_PIN_CAPTURE, BufferMemory::Contiguous, true}),
    [](const ::testing::TestParamInfo<DeliveryCase>& i) { return std::string(i.param.name); });

TEST_F(PinTest, ContiguousBuffersAreTheFrameBuffers) {
  Pin pin;
  Stream(pin, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
  bool ours = false;
  for (size_t i = 0; i < pin.BufferCount(); ++i) ours |= pin.Descriptor(i) == d;
  EXPECT_TRUE(ours);
  EXPECT_NE(pmem_get_phys_addr(const_cast<uint8_t*>(Pin::Data(*d))), 0u) << "the client's own contiguous memory";
}

TEST_F(PinTest, VideoStartsExactlyWhenTheLastBufferIsQueued) {
  Pin pin;
  Prepare(pin, CS_PIN_PREVIEW, 320, 240);
  ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
  ASSERT_EQ(pin.AllocateBuffers(BufferMemory::Contiguous), ERROR_SUCCESS);
  ASSERT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
  for (size_t i = 0; i + 1 < pin.BufferCount(); ++i) {
    ASSERT_EQ(pin.Enqueue(pin.Descriptor(i)), ERROR_SUCCESS);
    EXPECT_EQ(FakeCameraEngine::CallCount("StartVideo"), 0) << "after " << i + 1 << " buffers";
  }
  ASSERT_EQ(pin.Enqueue(pin.Descriptor(pin.BufferCount() - 1)), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::CallCount("StartVideo"), 1);
  EXPECT_EQ(FakeCameraEngine::PortStarts(CS_PIN_PREVIEW), 1);
  EXPECT_TRUE(FakeCameraEngine::PortHasBufferManager(CS_PIN_PREVIEW)) << "the pool reached the port";
}

TEST_F(PinTest, BuffersAllocatedBeforeRunStartVideoOnEnteringRun) {
  Pin pin;
  Prepare(pin, CS_PIN_PREVIEW, 320, 240);
  ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
  ASSERT_EQ(pin.AllocateBuffers(BufferMemory::Contiguous), ERROR_SUCCESS);
  ASSERT_EQ(pin.EnqueueAll(), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::CallCount("StartVideo"), 0) << "still paused";
  ASSERT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::CallCount("StartVideo"), 1);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  EXPECT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
}

TEST_F(PinTest, BufferRequestsThatAreNotTheProtocolsAreRefused) {
  Pin pin;
  Prepare(pin, CS_PIN_PREVIEW, 320, 240);
  CS_STREAM_DESCRIPTOR stranger{};
  stranger.CsStreamHeader.Size = sizeof(CSSTREAM_HEADER);
  std::vector<uint8_t> memory(320 * 240 * 3 / 2);
  stranger.CsStreamHeader.Data = reinterpret_cast<uintptr_t>(memory.data());
  EXPECT_EQ(pin.Enqueue(&stranger), kNotActive) << "enqueue in STOP";
  ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
  EXPECT_EQ(pin.Enqueue(&stranger), DWORD(ERROR_INVALID_PARAMETER)) << "a buffer that is not ours";
  EXPECT_EQ(pin.BufferCommand(7, &stranger), DWORD(ERROR_INVALID_PARAMETER)) << "unknown command";
  ASSERT_EQ(pin.AllocateBuffers(BufferMemory::Contiguous), ERROR_SUCCESS);
  EXPECT_EQ(pin.BufferCommand(CS_ALLOCATE, &stranger), DWORD(ERROR_INVALID_PARAMETER)) << "every buffer is out";
  CS_STREAM_DESCRIPTOR* d = pin.Descriptor(0);
  ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
  EXPECT_EQ(pin.Enqueue(d), DWORD(ERROR_INVALID_STATE)) << "queued twice";
  EXPECT_EQ(pin.BufferCommand(CS_DEALLOCATE, d), DWORD(ERROR_INVALID_PARAMETER)) << "not under client control";
  CS_STREAM_DESCRIPTOR forged = *pin.Descriptor(1);
  forged.CsStreamHeader.BufferHandle ^= 0x10000;  // another entry's index
  EXPECT_EQ(pin.Enqueue(&forged), DWORD(ERROR_INVALID_PARAMETER));
  CS_STREAM_DESCRIPTOR nulled = *pin.Descriptor(1);
  nulled.CsStreamHeader.Data = 0;
  EXPECT_EQ(pin.Enqueue(&nulled), DWORD(ERROR_INVALID_USER_BUFFER));
  uint32_t in[2] = {CS_ENQUEUE, 0};
  CS_STREAM_DESCRIPTOR small{};
  DWORD returned = 0;
  EXPECT_EQ(pin.IoControl(IOCTL_CS_BUFFERS, in, sizeof in, &small, sizeof small - 1, &returned),
            DWORD(ERROR_INVALID_PARAMETER))
      << "a descriptor one byte short";
}

TEST_F(PinTest, StopReturnsEveryQueuedBufferEmpty) {
  Pin pin;
  Manual();
  Stream(pin, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_PREVIEW, 1000, 2000));
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
  ASSERT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  size_t returnedBuffers = 0;
  while (pin.NextBuffer(&d, 200) == ERROR_SUCCESS) {
    ++returnedBuffers;
    EXPECT_EQ(d->CsStreamHeader.DataUsed, 0u);
  }
  EXPECT_EQ(returnedBuffers, pin.BufferCount() - 1) << "all but the one the client held";
  EXPECT_EQ(pin.DeallocateBuffers(), ERROR_SUCCESS) << "every buffer is the client's again";
}

TEST_F(PinTest, AFrameWithNoFreeBufferIsDroppedAndTheNextIsMarked) {
  Manual();
  Pin pin;
  Stream(pin, CS_PIN_CAPTURE, 640, 480, BufferMemory::Heap);
  auto dropped = [&] {
    CSPROPERTY_DROPPEDFRAMES_CURRENT_S counters{};
    EXPECT_EQ(camera_.Get(PROPSETID_VIDCAP_DROPPEDFRAMES, CSPROPERTY_DROPPEDFRAMES_CURRENT, &counters,
                          sizeof counters),
              ERROR_SUCCESS);
    return counters.DropCount;
  };
  std::vector<CS_STREAM_DESCRIPTOR*> held;
  uint64_t t = 1000000;
  for (size_t i = 0; i < pin.BufferCount(); ++i, t += 333330) {
    ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_CAPTURE, t, t + 333330));
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
    held.push_back(d);
  }
  EXPECT_EQ(dropped(), 0);
  // Every buffer is the client's: this frame has nowhere to go.
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_CAPTURE, t, t + 333330));
  t += 333330;
  for (int i = 0; i < 500 && dropped() == 0; ++i) Sleep(10);
  EXPECT_EQ(dropped(), 1);
  ASSERT_EQ(pin.Enqueue(held[0]), ERROR_SUCCESS);
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_CAPTURE, t, t + 333330));
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
  EXPECT_NE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY, 0u);
  EXPECT_EQ(d->CsFrameInfo.DropCount, 1);
}

TEST_F(PinTest, PresentationTimesNeverGoBackwards) {
  Manual();
  Pin pin;
  Stream(pin, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  struct Frame {
    uint64_t t1, t2;
    int64_t presentation, duration;
  } frames[] = {
      {1000000, 1333330, 0, 333330},        // the first: time 0
      {1333330, 1666660, 333330, 333330},   // touching the first: kept
      {1500000, 1600000, 666661, 1},        // earlier than the last end: right after it, duration 1
      {1600000, 2000000, 666663, 333337},   // overlapping: after the last end, shortened by the overlap
      {5000000, 5333330, 4000000, 333330},  // a gap: kept
  };
  for (const Frame& f : frames) {
    ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_PREVIEW, f.t1, f.t2));
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
    EXPECT_EQ(d->CsStreamHeader.PresentationTime, f.presentation) << f.t1;
    EXPECT_EQ(d->CsStreamHeader.Duration, f.duration) << f.t1;
    ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
  }
}

TEST_F(PinTest, YV12InHeapMemoryIsDeinterleaved) {
  Manual();
  Pin pin;
  Stream(pin, CS_PIN_PREVIEW, 320, 240, BufferMemory::Heap);
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_PREVIEW, 1, 2));
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
  const uint8_t* p = Pin::Data(*d);
  const uint32_t n = 320 * 240;
  EXPECT_EQ(uint8_t(p[1] - p[0]), 1);
  // NV21's V/U pairs become a V plane and a U plane.
  EXPECT_EQ(p[n], 0xC0);
  EXPECT_EQ(p[n + n / 4 - 1], 0xC0);
  EXPECT_EQ(p[n + n / 4], 0x40);
  EXPECT_EQ(p[n + n / 2 - 1], 0x40);
}

TEST_F(PinTest, ARowWiderThanTheLineBufferIsNotConverted) {
  camera_.Close();
  DevMgrDeactivateAll();
  FakeEngineConfig config;
  config.manualFrames = true;
  config.ports = camera::test::DefaultPorts();
  // Wider than the 4000-byte line buffer.
  config.ports[0].formats = {camera::test::Nv21Format(4002, 4, camera::test::kFakeFrameIntervalUs)};
  Reset(config);
  WriteDword(OSTREL_PIN_KEY, u"MaximumCaptureAndPreviewWidth", 5000);
  WriteDword(OSTREL_PIN_KEY, u"MaximumCaptureAndPreviewHeight", 480);
  LoadAndOpen();
  Pin pin;
  Stream(pin, CS_PIN_PREVIEW, 4002, 4, BufferMemory::Heap);
  CeSimDebugCaptureBegin();
  ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_PREVIEW, 1, 2));
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS) << "the frame is still delivered";
  EXPECT_TRUE(CeSimDebugCapturedContains("CopyNV21ToYV12() failed"));
  CeSimDebugCaptureEnd();
  const uint8_t* p = Pin::Data(*d);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[4002 * 4 + 4002], 0) << "nothing was written past a row";
}

TEST_F(PinTest, StoppingWhileFramesFlowEndsTheThread) {
  for (int round = 0; round < 3; ++round) {
    Pin pin;
    Stream(pin, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
    ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
    EXPECT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS) << round;
  }  // closed with its buffers out
  EXPECT_EQ(ExtraThreads(), 0u);
  EXPECT_FALSE(CeSimDebugCapturedContains("Terminating capture thread"));
}

TEST_F(PinTest, ClosingTheCameraUnderAStreamingPinEndsTheStream) {
  Pin pin;
  Stream(pin, CS_PIN_PREVIEW, 320, 240, BufferMemory::Contiguous);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
  ASSERT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0) << "the pin let go of its port";
  threadMark_ = closedMark_;
  EXPECT_EQ(ExtraThreads(), 0u) << "its capture thread ended";
  uint32_t state = 99;
  ASSERT_EQ(pin.State(&state), ERROR_SUCCESS);
  EXPECT_EQ(state, uint32_t(CSSTATE_STOP));
  EXPECT_EQ(pin.SetState(CSSTATE_PAUSE), DWORD(ERROR_INVALID_STATE)) << "no stream any more";
  EXPECT_EQ(pin.Enqueue(d), kNotActive);
}

// A client that vanishes mid-stream: its queue goes, its handles are closed by the
// system without STOP or CS_DEALLOCATE, and its memory is freed. The driver must not
// touch that memory afterwards (ASan watches the heap case) and the camera must be
// usable by the next client.
struct VanishCase {
  const char* name;
  BufferMemory memory;
  bool framesAfterQueueClosed;  // frames fill every buffer into the closed queue first
};

class VanishTest : public PinTest, public ::testing::WithParamInterface<VanishCase> {};

TEST_P(VanishTest, TheCameraStaysUsable) {
  const VanishCase& c = GetParam();
  {
    Pin pin;
    Stream(pin, CS_PIN_PREVIEW, 320, 240, c.memory);
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
    ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
    CeSimDebugCaptureBegin();
    pin.CloseQueue();
    if (c.framesAfterQueueClosed) {
      const char* dropped = "No buffer available from client; frame dropped.";
      for (int i = 0; i < 500 && !CeSimDebugCapturedContains(dropped); ++i) Sleep(10);
      EXPECT_TRUE(CeSimDebugCapturedContains(dropped));
    }
    CeSimDebugCaptureEnd();
    ASSERT_EQ(pin.Close(), ERROR_SUCCESS);
  }  // its memory freed
  ASSERT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0) << "nothing of the engine is held";
  threadMark_ = closedMark_;
  EXPECT_EQ(ExtraThreads(), 0u) << "every driver thread ended";

  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  Pin next;
  Stream(next, CS_PIN_PREVIEW, 320, 240, c.memory);
  for (int i = 0; i < 3; ++i) {
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(next.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frame " << i;
    ASSERT_EQ(next.Enqueue(d), ERROR_SUCCESS);
  }
  EXPECT_EQ(next.SetState(CSSTATE_STOP), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Clients, VanishTest,
    ::testing::Values(VanishCase{"ContiguousClosedAtOnce", BufferMemory::Contiguous, false},
                      VanishCase{"HeapClosedAtOnce", BufferMemory::Heap, false},
                      // Heap memory: the port keeps its own buffers, so frames go on coming
                      // and are dropped once every client buffer went into the dead queue.
                      VanishCase{"HeapAfterFramesFilledEveryBuffer", BufferMemory::Heap, true}),
    [](const ::testing::TestParamInfo<VanishCase>& info) { return std::string(info.param.name); });

TEST_F(PinTest, TheCapturePinShowsItsFirstFrameOnThePostCaptureScreen) {
  Manual();
  camclient::AsyncQueueReader notices;
  ASSERT_EQ(notices.Open(), ERROR_SUCCESS);
  Pin preview, capture;
  Prepare(preview, CS_PIN_PREVIEW, 320, 240);  // the screen's size is the preview's
  ChipSimClearCalls();
  Stream(capture, CS_PIN_CAPTURE, 640, 480, BufferMemory::Contiguous);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(FakeCameraEngine::DeliverFrame(CS_PIN_CAPTURE, 1000 + i, 2000 + i));
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(capture.NextBuffer(&d, kWait), ERROR_SUCCESS);
    ASSERT_EQ(capture.Enqueue(d), ERROR_SUCCESS);
  }
  std::vector<ChipSimCall> blits;
  for (const ChipSimCall& c : ChipSimCalls())
    if (c.name == "ddi_disp2d_blt") blits.push_back(c);
  ASSERT_EQ(blits.size(), 1u) << "once per run of the thread";
  ASSERT_GE(blits[0].args.size(), 26u);
  EXPECT_EQ(blits[0].args[0], 3u) << "the frame, format 3";
  EXPECT_EQ(blits[0].args[4], 640u);
  EXPECT_EQ(blits[0].args[5], 480u);
  EXPECT_EQ(blits[0].args[15], 320u) << "onto the preview-sized screen";
  EXPECT_EQ(blits[0].args[16], 240u);
  AsyncCameraMessage m{};
  ASSERT_EQ(notices.Read(&m, kWait), ERROR_SUCCESS);
  EXPECT_EQ(m.event, 2u);
  EXPECT_EQ(m.size, 20u);
  EXPECT_NE(m.reserved0, 0u) << "the screen's address";
  EXPECT_EQ(m.reserved1, 320u * 240 * 2);
}

// ---- Stills --------------------------------------------------------------------------------------

class StillTest : public PinTest {
 protected:
  void OpenStill(Pin& still) {
    Prepare(still, CS_PIN_STILL, 2592, 1944, CAMERA_FOURCC_IJPG);
    ASSERT_EQ(still.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    ASSERT_EQ(still.AllocateBuffers(BufferMemory::Driver), ERROR_SUCCESS);
    ASSERT_EQ(still.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    ASSERT_EQ(still.EnqueueAll(), ERROR_SUCCESS);
  }
  DWORD Jpeg(Pin& still, uint32_t id, uint32_t flags, int32_t value, uint32_t valueFlags) {
    CSPROPERTY_VIDEOPROCAMP_S record{};
    record.Value = value;
    record.Flags = valueFlags;
    return still.Property(VANTOR_PROPSETID_JPEG, id, flags, &record, sizeof record);
  }
};

TEST_F(StillTest, ATriggerDeliversOneJpegInTheDriversBuffer) {
  Pin still;
  OpenStill(still);
  CSALLOCATOR_FRAMING framing{};
  ASSERT_EQ(still.Framing(&framing), ERROR_SUCCESS);
  EXPECT_EQ(framing.RequirementsFlags, 1u) << "the still pin's buffers are the driver's";
  EXPECT_EQ(framing.Frames, 1u);
  ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
  const uint8_t* p = Pin::Data(*d);
  const uint32_t used = d->CsStreamHeader.DataUsed;
  ASSERT_GT(used, 4u);
  EXPECT_LT(used, framing.FrameSize) << "the JPEG's own size";
  EXPECT_EQ(p[0], 0xFF);
  EXPECT_EQ(p[1], 0xD8);
  EXPECT_EQ(p[used - 2], 0xFF);
  EXPECT_EQ(p[used - 1], 0xD9);
  std::vector<std::string> calls = FakeCameraEngine::Calls();
  auto stop = std::find(calls.begin(), calls.end(), "Stop");
  auto start = std::find(calls.begin(), calls.end(), "StartStill");
  EXPECT_TRUE(stop < start && start != calls.end()) << "stop before the still";
  // Queued again, the next trigger takes another.
  ASSERT_EQ(still.Enqueue(d), ERROR_SUCCESS);
  ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
  ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
  EXPECT_EQ(ExtraThreads(1), 1u) << "the still pin's capture thread";
  EXPECT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  EXPECT_EQ(ExtraThreads(), 0u);
}

TEST_F(StillTest, ATriggerBeforeTheBuffersAreQueuedFails) {
  Pin still;
  Prepare(still, CS_PIN_STILL, 2592, 1944, CAMERA_FOURCC_IJPG);
  ASSERT_EQ(still.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
  ASSERT_EQ(still.AllocateBuffers(BufferMemory::Driver), ERROR_SUCCESS);
  EXPECT_EQ(camera_.Trigger(CS_PIN_STILL), DWORD(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(FakeCameraEngine::CallCount("StartStill"), 0);
}

TEST_F(StillTest, JpegSettingsReachTheStillPort) {
  Pin still;
  OpenStill(still);
  struct Case {
    const char* name;
    uint32_t id;
    int32_t value;
    uint32_t flags;
    DWORD result;
    uint32_t property;
    uint32_t expected;
  } cases[] = {
      {"Quality", 0, 80, 2, ERROR_SUCCESS, ZUEUID_PROPERTY_JPEG_QUALITY, 80},
      {"QualityOutOfRangeManual", 0, 150, 2, ERROR_INVALID_PARAMETER, ZUEUID_PROPERTY_JPEG_QUALITY, 80},
      {"QualityOutOfRangeAutoIsIgnored", 0, 150, 1, ERROR_SUCCESS, ZUEUID_PROPERTY_JPEG_QUALITY, 80},
      {"ThumbnailQuality", 1, 60, 2, ERROR_SUCCESS, ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY, 60},
      {"Rotation", 2, 90, 2, ERROR_SUCCESS, ZUEUID_PROPERTY_JPEG_ROTATION, 90},
      {"BadFlags", 2, 180, 3, ERROR_INVALID_PARAMETER, ZUEUID_PROPERTY_JPEG_ROTATION, 90},
      {"NoSuchId", 5, 0, 2, ERROR_INVALID_PARAMETER, ZUEUID_PROPERTY_JPEG_ROTATION, 90},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Jpeg(still, c.id, CSPROPERTY_TYPE_SET, c.value, c.flags), c.result) << c.name;
    uint32_t v = 0;
    ASSERT_TRUE(FakeCameraEngine::StillPortValue(c.property, &v)) << c.name;
    EXPECT_EQ(v, c.expected) << c.name;
  }
  CSPROPERTY_VIDEOPROCAMP_S back{};
  DWORD returned = 0;
  ASSERT_EQ(still.Property(VANTOR_PROPSETID_JPEG, 0, CSPROPERTY_TYPE_GET, &back, sizeof back, &returned),
            ERROR_SUCCESS);
  EXPECT_EQ(back.Value, 80);
  EXPECT_EQ(back.Flags, 2u);
  EXPECT_EQ(returned, 40u);
  CSPROPERTY_BASICSUPPORT_REPLY basic{};
  ASSERT_EQ(still.Property(VANTOR_PROPSETID_JPEG, 2, CSPROPERTY_TYPE_BASICSUPPORT, &basic, sizeof basic),
            ERROR_SUCCESS);
  EXPECT_EQ(basic.Stepping.SignedMaximum, 360);
}

TEST_F(StillTest, TheCropFactorIsClampedAndCentred) {
  Pin still;
  OpenStill(still);
  struct Case {
    const char* name;
    double z;
    CPvlRect rect;
  } cases[] = {{"Eight", 8.0, {972, 729, 1619, 1214}}, {"One", 1.0, {0, 0, 2591, 1943}},
               {"Two", 2.0, {648, 486, 1943, 1457}}, {"BelowOne", 0.5, {0, 0, 2591, 1943}}};
  for (const Case& c : cases) {
    uint8_t record[40] = {};
    std::memcpy(record + 24, &c.z, sizeof c.z);
    ASSERT_EQ(still.Property(VANTOR_PROPSETID_JPEG, 4, CSPROPERTY_TYPE_SET, record, sizeof record), ERROR_SUCCESS)
        << c.name;
    PvlValueRecord v{};
    ASSERT_TRUE(FakeCameraEngine::StillPortValue(ZUEUID_PROPERTY_JPEG_MAIN_CROP, &v));
    EXPECT_EQ(v.payload.rect.left, c.rect.left) << c.name;
    EXPECT_EQ(v.payload.rect.top, c.rect.top) << c.name;
    EXPECT_EQ(v.payload.rect.right, c.rect.right) << c.name;
    EXPECT_EQ(v.payload.rect.bottom, c.rect.bottom) << c.name;
  }
}

TEST_F(StillTest, ExifItemsBecomeTagsOfTheStill) {
  Pin still;
  OpenStill(still);
  using Item = PropertyItem;
  static const char make[] = "Vantor camera phone";  // 20 bytes with the NUL
  static const uint16_t shorts[3] = {1, 2, 3};
  static const uint32_t one = 6;
  struct Case {
    const char* name;
    Item item;
    DWORD result;
    const char* text;
  } cases[] = {
      {"Text", {271, 20, 2, 0, reinterpret_cast<uintptr_t>(make)}, ERROR_SUCCESS, "Vantor camera phone"},
      {"ThreeShorts", {530, 6, 3, 0, reinterpret_cast<uintptr_t>(shorts)}, ERROR_SUCCESS, "1,2,3"},
      {"OneLong", {274, 4, 4, 0, reinterpret_cast<uintptr_t>(&one)}, ERROR_SUCCESS, "6"},
      {"TypeSixIsRefused", {41000, 1, 6, 0, reinterpret_cast<uintptr_t>(make)}, ERROR_INVALID_PARAMETER, nullptr},
      {"TypeElevenIsRefused", {41001, 1, 11, 0, reinterpret_cast<uintptr_t>(make)}, ERROR_INVALID_PARAMETER, nullptr},
      {"NoValue", {41002, 4, 4, 0, 0}, ERROR_INVALID_PARAMETER, nullptr},
  };
  for (const Case& c : cases) {
    Item item = c.item;
    EXPECT_EQ(still.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_SET, &item, sizeof item), c.result) << c.name;
    std::map<uint32_t, std::string> tags = FakeCameraEngine::ExifTags();
    if (c.text) {
      ASSERT_TRUE(tags.count(c.item.tag)) << c.name;
      EXPECT_EQ(tags[c.item.tag], c.text) << c.name;
    } else {
      EXPECT_FALSE(tags.count(c.item.tag)) << c.name;
    }
  }
  Item item{};
  EXPECT_EQ(still.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_GET, &item, sizeof item),
            DWORD(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(still.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_SET, &item, sizeof item - 1),
            DWORD(ERROR_MORE_DATA));
}

TEST_F(StillTest, StillSetsAnswerOnlyTheJpegStillPin) {
  Pin preview;
  Prepare(preview, CS_PIN_PREVIEW, 320, 240);
  CSPROPERTY_VIDEOPROCAMP_S record{};
  record.Value = 80;
  record.Flags = 2;
  EXPECT_EQ(preview.Property(VANTOR_PROPSETID_JPEG, 0, CSPROPERTY_TYPE_SET, &record, sizeof record),
            DWORD(ERROR_INVALID_STATE));
  EXPECT_EQ(preview.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_SET, &record, sizeof record),
            DWORD(ERROR_INVALID_STATE));
}

// ---- Careless and hostile clients ------------------------------------------------------------

// Client memory that can be taken away: pages of its own, protected or given back.
struct ClientPages {
  explicit ClientPages(size_t bytes) : size((bytes + 4095) / 4096 * 4096 + 4096) {
    void* m = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base = m == MAP_FAILED ? nullptr : static_cast<uint8_t*>(m);
  }
  ~ClientPages() {
    if (base) ::munmap(base, size);
  }
  // The last page can no longer be touched; `readable` bytes before it can.
  uint8_t* BeforeHole(size_t readable) {
    ::mprotect(base + size - 4096, 4096, PROT_NONE);
    return base + size - 4096 - readable;
  }
  // Gone for the driver: never reused, as a freed mapping might be.
  void Revoke() { ::mprotect(base, size, PROT_NONE); }
  size_t size;
  uint8_t* base = nullptr;
};

TEST_F(StillTest, ExifValuesRunningPastReadableMemoryAreRefused) {
  Pin still;
  OpenStill(still);
  ClientPages pages(8192);
  ASSERT_NE(pages.base, nullptr);
  uint8_t* value = pages.BeforeHole(16);
  std::memset(value, 'a', 16);
  const uintptr_t v = reinterpret_cast<uintptr_t>(value);
  struct Case {
    const char* name;
    PropertyItem item;
  } cases[] = {
      {"TextOfAMillionBytes", {270, 1000000, 2, 0, v}},
      {"TextOneBytePastTheEnd", {270, 17, 2, 0, v}},
      {"BlockPastTheEnd", {37500, 64, 7, 0, v}},
      {"ShortsPastTheEnd", {530, 18, 3, 0, v}},
      {"RationalsPastTheEnd", {282, 24, 5, 0, v}},
      {"LengthNearFourGigabytes", {270, 0xFFFFFFF0u, 2, 0, v}},
      {"ValueInTheHole", {270, 4, 2, 0, v + 16}},
  };
  for (const Case& c : cases) {
    PropertyItem item = c.item;
    EXPECT_EQ(still.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_SET, &item, sizeof item),
              DWORD(ERROR_INVALID_PARAMETER))
        << c.name;
    EXPECT_FALSE(FakeCameraEngine::ExifTags().count(c.item.tag)) << c.name;
  }
  // The readable part alone is taken, and copied: the client may then unmap it.
  PropertyItem item{270, 16, 2, 0, v};
  ASSERT_EQ(still.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_SET, &item, sizeof item), ERROR_SUCCESS);
  pages.Revoke();
  EXPECT_EQ(FakeCameraEngine::ExifTags()[270], std::string(16, 'a'));
}

// Buffers in the client's memory must hold a whole frame, when allocated and each
// time they are queued again.
TEST_F(PinTest, BuffersSmallerThanAFrameAreRefused) {
  for (BufferMemory memory : {BufferMemory::Heap, BufferMemory::Contiguous}) {
    SCOPED_TRACE(memory == BufferMemory::Heap ? "heap" : "contiguous");
    Pin pin;
    Prepare(pin, CS_PIN_PREVIEW, 640, 480);
    ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    CSALLOCATOR_FRAMING framing{};
    ASSERT_EQ(pin.Framing(&framing), ERROR_SUCCESS);
    void* m = memory == BufferMemory::Heap ? std::calloc(1, framing.FrameSize) : pmem_malloc(framing.FrameSize, 0);
    ASSERT_NE(m, nullptr);
    CS_STREAM_DESCRIPTOR d{};
    d.CsStreamHeader.Size = sizeof(CSSTREAM_HEADER);
    d.CsStreamHeader.Data = reinterpret_cast<uintptr_t>(m);
    d.CsFrameInfo.ExtendedHeaderSize = sizeof(CS_FRAME_INFO);
    for (uint32_t extent : {0u, framing.FrameSize / 20, framing.FrameSize - 1}) {
      d.CsStreamHeader.FrameExtent = extent;
      EXPECT_EQ(pin.BufferCommand(CS_ALLOCATE, &d), DWORD(ERROR_INVALID_PARAMETER)) << extent;
    }
    ASSERT_EQ(pin.AllocateBuffers(memory), ERROR_SUCCESS) << "the refusals took no entry";
    ASSERT_EQ(pin.BufferCount(), framing.Frames);
    // Changed by the client after the allocation.
    pin.Descriptor(0)->CsStreamHeader.FrameExtent = framing.FrameSize - 1;
    EXPECT_EQ(pin.Enqueue(pin.Descriptor(0)), DWORD(ERROR_INVALID_PARAMETER));
    pin.Descriptor(0)->CsStreamHeader.FrameExtent = framing.FrameSize;
    ASSERT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    ASSERT_EQ(pin.EnqueueAll(), ERROR_SUCCESS);
    CS_STREAM_DESCRIPTOR* got = nullptr;
    EXPECT_EQ(pin.NextBuffer(&got, kWait), ERROR_SUCCESS);
    EXPECT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    EXPECT_EQ(pin.DeallocateBuffers(), ERROR_SUCCESS);
    if (memory == BufferMemory::Heap) std::free(m);
    else pmem_free(m);
  }
}

// A format the pin cannot honour in its state is refused; the stream goes on as it was.
TEST_F(PinTest, AFormatSetOutsideStopOrOverBuffersIsRefused) {
  Pin pin;
  Stream(pin, CS_PIN_PREVIEW, 320, 240, BufferMemory::Heap);
  CSALLOCATOR_FRAMING before{};
  ASSERT_EQ(pin.Framing(&before), ERROR_SUCCESS);
  std::vector<CS_DATARANGE_VIDEO> ranges;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_PREVIEW, &ranges), ERROR_SUCCESS);
  const CS_DATARANGE_VIDEO* larger = camclient::FindRange(ranges, 640, 480, 0);
  ASSERT_NE(larger, nullptr);
  const size_t formats = FakeCameraEngine::FormatsSet(CS_PIN_PREVIEW).size();
  EXPECT_EQ(pin.SetFormat(camclient::FormatOfRange(*larger)), DWORD(ERROR_INVALID_STATE)) << "running";
  uint32_t state = 0;
  ASSERT_EQ(pin.State(&state), ERROR_SUCCESS);
  EXPECT_EQ(state, uint32_t(CSSTATE_RUN));
  CSALLOCATOR_FRAMING after{};
  ASSERT_EQ(pin.Framing(&after), ERROR_SUCCESS);
  EXPECT_EQ(after.FrameSize, before.FrameSize);
  EXPECT_EQ(FakeCameraEngine::FormatsSet(CS_PIN_PREVIEW).size(), formats) << "the port was left alone";
  for (int i = 0; i < 3; ++i) {
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frames still come";
    EXPECT_EQ(d->CsStreamHeader.DataUsed, before.FrameSize);
    ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
  }
  ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
  EXPECT_EQ(pin.SetFormat(camclient::FormatOfRange(*larger)), DWORD(ERROR_INVALID_STATE)) << "paused";
  ASSERT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  EXPECT_EQ(pin.SetFormat(camclient::FormatOfRange(*larger)), DWORD(ERROR_INVALID_STATE)) << "buffers held";
  ASSERT_EQ(pin.DeallocateBuffers(), ERROR_SUCCESS);
  EXPECT_EQ(pin.SetFormat(camclient::FormatOfRange(*larger)), ERROR_SUCCESS) << "stopped, no buffers";
  ASSERT_EQ(pin.Framing(&after), ERROR_SUCCESS);
  EXPECT_EQ(after.FrameSize, 640u * 480 * 3 / 2);
}

// A refused deallocate changes nothing: the stream keeps its buffers and its frames.
TEST_F(PinTest, ARefusedDeallocateLeavesTheStreamAlone) {
  Pin pin;
  Stream(pin, CS_PIN_PREVIEW, 320, 240, BufferMemory::Heap);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
  std::vector<uint8_t> elsewhere(320 * 240 * 2);
  struct Case {
    const char* name;
    uint32_t handle;
    uintptr_t data;
  } cases[] = {
      {"NotTheClientsHandle", d->CsStreamHeader.BufferHandle ^ 0x00050000u, d->CsStreamHeader.Data},
      {"NotTheClientsMemory", d->CsStreamHeader.BufferHandle, reinterpret_cast<uintptr_t>(elsewhere.data())},
  };
  for (const Case& c : cases) {
    CS_STREAM_DESCRIPTOR other = *d;
    other.CsStreamHeader.BufferHandle = c.handle;
    other.CsStreamHeader.Data = c.data;
    EXPECT_EQ(pin.BufferCommand(CS_DEALLOCATE, &other), DWORD(ERROR_INVALID_PARAMETER)) << c.name;
  }
  // A buffer still queued with the driver is not the client's to deallocate either.
  EXPECT_EQ(pin.BufferCommand(CS_DEALLOCATE, pin.Descriptor(pin.BufferCount() - 1)), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(FakeCameraEngine::CallCount("StopVideo"), 0);
  ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frame " << i;
    ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
  }
}

// Buffers in the client's own pages, which the client can take away while queued.
class RevocableBuffersTest : public PinTest {
 protected:
  void StreamIn(Pin& pin, uint32_t id, uint32_t maxMessages = 32) {
    ASSERT_EQ(pin.Open(), ERROR_SUCCESS);
    ASSERT_EQ(pin.Instantiate(id, maxMessages), ERROR_SUCCESS);
    std::vector<CS_DATARANGE_VIDEO> ranges;
    ASSERT_EQ(camera_.PinDataRanges(id, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* range = camclient::FindRange(ranges, 640, 480, 0);
    ASSERT_NE(range, nullptr);
    ASSERT_EQ(pin.SetFormat(camclient::FormatOfRange(*range)), ERROR_SUCCESS);
    ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    CSALLOCATOR_FRAMING framing{};
    ASSERT_EQ(pin.Framing(&framing), ERROR_SUCCESS);
    frameSize_ = framing.FrameSize;
    for (uint32_t i = 0; i < framing.Frames; ++i) {
      pages_.push_back(std::make_unique<ClientPages>(framing.FrameSize));
      ASSERT_NE(pages_.back()->base, nullptr);
      auto d = std::make_unique<CS_STREAM_DESCRIPTOR>();
      d->CsStreamHeader.Size = sizeof(CSSTREAM_HEADER);
      d->CsStreamHeader.FrameExtent = framing.FrameSize;
      d->CsStreamHeader.Data = reinterpret_cast<uintptr_t>(pages_.back()->base);
      d->CsFrameInfo.ExtendedHeaderSize = sizeof(CS_FRAME_INFO);
      ASSERT_EQ(pin.BufferCommand(CS_ALLOCATE, d.get()), ERROR_SUCCESS);
      descriptors_.push_back(std::move(d));
    }
    ASSERT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    for (auto& d : descriptors_) ASSERT_EQ(pin.Enqueue(d.get()), ERROR_SUCCESS);
  }
  int64_t Dropped() {
    CSPROPERTY_DROPPEDFRAMES_CURRENT_S counters{};
    EXPECT_EQ(camera_.Get(PROPSETID_VIDCAP_DROPPEDFRAMES, CSPROPERTY_DROPPEDFRAMES_CURRENT, &counters, sizeof counters),
              ERROR_SUCCESS);
    return counters.DropCount;
  }
  bool Deliver() {
    const bool ok = FakeCameraEngine::DeliverFrame(CS_PIN_CAPTURE, t_, t_ + 333330);
    t_ += 333330;
    return ok;
  }
  uint64_t t_ = 1000000;
  uint32_t frameSize_ = 0;
  std::vector<std::unique_ptr<ClientPages>> pages_;
  std::vector<std::unique_ptr<CS_STREAM_DESCRIPTOR>> descriptors_;
};

// A queued buffer whose memory the client took away is dropped and counted; the next
// buffer carries the discontinuity and the stream goes on.
TEST_F(RevocableBuffersTest, AQueuedBufferTakenAwayIsDroppedAndTheStreamGoesOn) {
  Manual();
  Pin pin;
  StreamIn(pin, CS_PIN_CAPTURE);
  ASSERT_GE(descriptors_.size(), 2u);
  pages_[0]->Revoke();  // the first queued buffer gets the next frame
  ASSERT_TRUE(Deliver());
  for (int i = 0; i < 500 && Dropped() == 0; ++i) Sleep(10);
  EXPECT_EQ(Dropped(), 1);
  ASSERT_TRUE(Deliver());
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS);
  EXPECT_EQ(d, descriptors_[1].get());
  EXPECT_NE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY, 0u);
  EXPECT_EQ(d->CsFrameInfo.DropCount, 1);
  const int64_t first = d->CsFrameInfo.PictureNumber;
  ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(Deliver());
    ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frame " << i;
    EXPECT_NE(d, descriptors_[0].get());
    EXPECT_EQ(d->CsFrameInfo.PictureNumber, first + 1 + i) << "numbered one by one";
    EXPECT_EQ(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY, 0u);
    ASSERT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
  }
  EXPECT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  EXPECT_EQ(ExtraThreads(), 0u);
}

// A client reading its queue late loses frames, never the stream; STOP gives back
// every buffer still queued as far as the queue has room.
TEST_F(RevocableBuffersTest, AFullMessageQueueDropsFramesButNotTheStream) {
  Manual();
  Pin pin;
  StreamIn(pin, CS_PIN_CAPTURE, 2);
  ASSERT_GT(descriptors_.size(), 2u);
  ASSERT_TRUE(Deliver());
  ASSERT_TRUE(Deliver());
  ASSERT_TRUE(Deliver());  // no room for its message
  for (int i = 0; i < 500 && Dropped() == 0; ++i) Sleep(10);
  EXPECT_EQ(Dropped(), 1);
  CS_STREAM_DESCRIPTOR* a = nullptr;
  CS_STREAM_DESCRIPTOR* b = nullptr;
  ASSERT_EQ(pin.NextBuffer(&a, kWait), ERROR_SUCCESS);
  ASSERT_EQ(pin.NextBuffer(&b, kWait), ERROR_SUCCESS);
  ASSERT_EQ(pin.Enqueue(a), ERROR_SUCCESS);
  ASSERT_EQ(pin.Enqueue(b), ERROR_SUCCESS);
  ASSERT_TRUE(Deliver());
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frames come again";
  EXPECT_NE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY, 0u);
  EXPECT_EQ(d->CsFrameInfo.DropCount, 1);
  EXPECT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  size_t returned = 0;
  while (pin.NextBuffer(&d, 0) == ERROR_SUCCESS) {
    EXPECT_EQ(d->CsStreamHeader.DataUsed, 0u);
    ++returned;
  }
  EXPECT_EQ(returned, 2u) << "as many as the queue holds";
  // Every buffer is the client's again, whether its message fitted or not.
  for (auto& desc : descriptors_) EXPECT_EQ(pin.BufferCommand(CS_DEALLOCATE, desc.get()), ERROR_SUCCESS);
  EXPECT_EQ(ExtraThreads(), 0u);
}

// A shutter press while the client holds the still pin's only buffer is dropped and
// counted: it never answers a later press with its image.
TEST_F(StillTest, APressWithoutABufferIsDroppedNotDeliveredLater) {
  Pin still;
  OpenStill(still);
  ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
  const int stills = FakeCameraEngine::CallCount("StartStill");
  ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS) << "the client holds the buffer";
  EXPECT_EQ(FakeCameraEngine::CallCount("StartStill"), stills) << "no still is made for it";
  ASSERT_EQ(still.Enqueue(d), ERROR_SUCCESS);
  EXPECT_EQ(still.NextBuffer(&d, 0), DWORD(ERROR_TIMEOUT)) << "nothing comes without a press";
  ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
  ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::CallCount("StartStill"), stills + 1);
  EXPECT_NE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY, 0u);
  EXPECT_EQ(d->CsFrameInfo.DropCount, 1);
  EXPECT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
}

}  // namespace
}  // namespace ostrel_test
