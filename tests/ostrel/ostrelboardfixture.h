// The board-level fixture of the driver's tests: the device manager loads the driver
// from the image, the real engine comes from the image's modules and the simulated
// board runs the sensor's chart through the VFE model. Shared by every test that uses
// the whole road (they hold the "vfemodel" resource lock: the model is one per process).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "cameraportformat.h"
#include "camclient.h"
#include "chipset_sim.h"
#include "devmgr.h"
#include "orbhost_test.h"
#include "wince_sim.h"

namespace ostrel_board {

using camclient::BufferMemory;
using camclient::Pin;

constexpr DWORD kWait = 20000;  // generous: the machine is shared and the board runs in real time

// The client's account of a pin's buffers: a buffer enqueued is with the driver until a
// message hands it back, and every one comes back exactly once. After STOP nothing may
// be left with the driver: the buffers it still held come back with no data.
class BufferLedger {
 public:
  explicit BufferLedger(Pin& pin) : pin_(pin) {}
  // Start() enqueued every buffer.
  void AllQueued() {
    for (size_t i = 0; i < pin_.BufferCount(); ++i) withDriver_.insert(pin_.Descriptor(i));
  }
  DWORD Next(CS_STREAM_DESCRIPTOR** d, DWORD timeoutMs) {
    DWORD r = pin_.NextBuffer(d, timeoutMs);
    if (r == ERROR_SUCCESS && withDriver_.erase(*d) == 0) ++strangers_;
    return r;
  }
  DWORD Give(CS_STREAM_DESCRIPTOR* d) {
    DWORD r = pin_.Enqueue(d);
    if (r == ERROR_SUCCESS) withDriver_.insert(d);
    return r;
  }
  // What is in the queue once STOP has returned (the driver writes the stop's
  // messages before it answers): frames delivered before the stop keep their data,
  // the buffers given back by the stop have none. Returns how many came back empty.
  uint32_t CollectAfterStop() {
    uint32_t empty = 0;
    CS_STREAM_DESCRIPTOR* d = nullptr;
    while (Next(&d, 0) == ERROR_SUCCESS)
      if (d->CsStreamHeader.DataUsed == 0) ++empty;
    return empty;
  }
  size_t WithDriver() const { return withDriver_.size(); }
  // Messages naming a buffer the driver did not hold (twice handed back, or unknown).
  uint32_t Strangers() const { return strangers_; }

 private:
  Pin& pin_;
  std::set<CS_STREAM_DESCRIPTOR*> withDriver_;
  uint32_t strangers_ = 0;
};

// What the camera may not leave behind once it is closed.
struct Resources {
  uint32_t heapBlocks = 0;  // the framework environment's allocator
  size_t pmemBlocks = 0;
  uint64_t pmemBytes = 0;
  int32_t hostObjects = 0;
  DWORD threads = 0;
  std::map<std::string, uint32_t> byTag;

  static Resources Now() {
    Resources r;
    r.heapBlocks = OrbhostTest_LiveBlocks(nullptr);
    for (const ChipSimPmemBlock& b : ChipSimPmemBlocks()) ++r.pmemBlocks, r.pmemBytes += b.size;
    r.hostObjects = OrbhostTest_LiveHostObjects();
    r.threads = CeSimLiveThreadCount();
    for (auto& [tag, n] : OrbhostTest_LiveBlocksByTag()) r.byTag[tag] = n;
    return r;
  }
  bool operator==(const Resources& o) const {
    return heapBlocks == o.heapBlocks && pmemBlocks == o.pmemBlocks && pmemBytes == o.pmemBytes &&
           hostObjects == o.hostObjects && threads == o.threads;
  }
  // The baseline after a first use of the camera (which maps the modules, and they
  // stay): its threads may still be returning from their routines, so this waits for
  // the count the process had before (`threadsBefore`), as long as that takes.
  static Resources AfterWarmUp(DWORD threadsBefore) {
    for (int i = 0; i < 500 && CeSimLiveThreadCount() > threadsBefore; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Now();
  }
  // Threads told to end may still be returning from their routines: give them time.
  static Resources Settled(const Resources& base) {
    Resources now = Now();
    for (int i = 0; i < 500 && !(now == base); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      now = Now();
    }
    return now;
  }
  // The difference, tag by tag, for the failure message.
  std::string Versus(const Resources& base) const {
    std::ostringstream s;
    s << "heap blocks " << heapBlocks << " (was " << base.heapBlocks << "), pmem " << pmemBlocks << " blocks/"
      << pmemBytes << " bytes (was " << base.pmemBlocks << "/" << base.pmemBytes << "), host objects "
      << hostObjects << " (was " << base.hostObjects << "), threads " << threads << " (was " << base.threads
      << ")";
    std::map<std::string, int64_t> delta;
    for (auto& [tag, n] : byTag) delta[tag] += n;
    for (auto& [tag, n] : base.byTag) delta[tag] -= n;
    for (auto& [tag, d] : delta)
      if (d) s << "\n  " << tag << ": " << (d > 0 ? "+" : "") << d;
    return s.str();
  }
};

// The smallest range a pin offers with this FOURCC (0: any), or null.
inline const CS_DATARANGE_VIDEO* SmallestRange(const std::vector<CS_DATARANGE_VIDEO>& ranges, uint32_t fourcc) {
  const CS_DATARANGE_VIDEO* best = nullptr;
  uint64_t bestPixels = 0;
  for (const CS_DATARANGE_VIDEO& r : ranges) {
    if (fourcc && camclient::RangeFourcc(r) != (fourcc & ~0x8000u)) continue;
    const CS_BITMAPINFOHEADER& b = r.VideoInfoHeader.bmiHeader;
    const uint64_t pixels = uint64_t(uint32_t(b.biWidth)) * uint32_t(b.biHeight < 0 ? -b.biHeight : b.biHeight);
    if (!best || pixels < bestPixels) best = &r, bestPixels = pixels;
  }
  return best;
}

// What the capture tool wrote to a stream, for a failure message.
inline std::string ToolText(std::FILE* f) {
  std::string text;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) text += char(c);
  return text;
}

class OstrelBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DevMgrDeactivateAll();
    OrbhostTest_UnregisterAllClasses();
    ASSERT_TRUE(CeSimReloadRegistry());
    BoardSimReset();
    BoardVfeReset();
    BoardSceneSetIlluminant(kIlluminantNeutral);
    BoardSetSpeedUp(4);
    DevMgrActivateBuiltIn();
    ASSERT_NE(DevMgrFindDevice(u"CAM1:"), nullptr);
  }
  void TearDown() override {
    DevMgrDeactivateAll();
    BoardSetSpeedUp(1);
    BoardVfeReset();
    BoardSimReset();
  }

  // Start a pin of the given size and FOURCC (0: any), its buffers queued and running.
  void Start(const camclient::Camera& camera, Pin& pin, uint32_t id, uint32_t w, uint32_t h, uint32_t fourcc,
             BufferMemory memory) {
    ASSERT_EQ(pin.Open(), ERROR_SUCCESS);
    ASSERT_EQ(pin.Instantiate(id), ERROR_SUCCESS);
    std::vector<CS_DATARANGE_VIDEO> ranges;
    ASSERT_EQ(camera.PinDataRanges(id, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* range = camclient::FindRange(ranges, w, h, fourcc);
    ASSERT_NE(range, nullptr);
    ASSERT_EQ(pin.SetFormat(camclient::FormatOfRange(*range)), ERROR_SUCCESS);
    ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    ASSERT_EQ(pin.AllocateBuffers(memory), ERROR_SUCCESS);
    ASSERT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    ASSERT_EQ(pin.EnqueueAll(), ERROR_SUCCESS);
  }

  // A full-size JPEG still through the Still pin, with `make` set as its EXIF Make
  // (0x010F) through the pin's EXIF set; the JPEG is checked and the pin stopped.
  void TakeJpegStill(const camclient::Camera& camera, const char* make) {
    Pin still;
    Start(camera, still, CS_PIN_STILL, 2592, 1944, CAMERA_FOURCC_IJPG, BufferMemory::Contiguous);
    PropertyItem item{0x010F, uint32_t(std::strlen(make) + 1), 2, 0, reinterpret_cast<uintptr_t>(make)};
    ASSERT_EQ(still.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_SET, &item, sizeof item), ERROR_SUCCESS);
    ASSERT_EQ(camera.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
    CheckJpeg(Pin::Data(*d), d->CsStreamHeader.DataUsed, make, 2592, 1944);
    ASSERT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    EXPECT_EQ(still.DeallocateBuffers(), ERROR_SUCCESS);
  }

  // The JPEG's parts: the EXIF block holds `text`, a thumbnail sits inside it, and the
  // frame header gives the image size.
  static void CheckJpeg(const uint8_t* p, size_t size, const char* text, uint32_t w, uint32_t h) {
    ASSERT_GT(size, 1000u);
    ASSERT_EQ(p[0], 0xFF);
    ASSERT_EQ(p[1], 0xD8);
    EXPECT_EQ(p[size - 2], 0xFF);
    EXPECT_EQ(p[size - 1], 0xD9);
    bool exif = false, thumbnail = false, frame = false;
    for (size_t at = 2; at + 4 <= size && p[at] == 0xFF;) {
      const uint8_t marker = p[at + 1];
      const size_t length = size_t(p[at + 2]) << 8 | p[at + 3];
      if (marker == 0xE1 && std::memcmp(p + at + 4, "Exif\0\0", 6) == 0) {
        exif = true;
        std::string block(reinterpret_cast<const char*>(p + at + 4), length - 2);
        EXPECT_NE(block.find(text), std::string::npos) << "the tag the client set";
        thumbnail = block.find("\xFF\xD8") != std::string::npos;
      }
      if (marker == 0xC0) {
        frame = true;
        EXPECT_EQ((uint32_t(p[at + 5]) << 8) | p[at + 6], h);
        EXPECT_EQ((uint32_t(p[at + 7]) << 8) | p[at + 8], w);
      }
      if (marker == 0xDA) break;
      at += 2 + length;
    }
    EXPECT_TRUE(exif);
    EXPECT_TRUE(thumbnail);
    EXPECT_TRUE(frame);
  }
};

}  // namespace ostrel_board
