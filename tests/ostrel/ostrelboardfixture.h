// The board-level fixture of the driver's tests: the device manager loads the driver
// from the image, the real engine comes from the image's modules and the simulated
// board runs the sensor's chart through the VFE model. Shared by every test that uses
// the whole road (they hold the "vfemodel" resource lock: the model is one per process).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "cameraportformat.h"
#include "camclient.h"
#include "devmgr.h"
#include "orbhost_test.h"
#include "wince_sim.h"

namespace ostrel_board {

using camclient::BufferMemory;
using camclient::Pin;

constexpr DWORD kWait = 20000;  // generous: the machine is shared and the board runs in real time

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
