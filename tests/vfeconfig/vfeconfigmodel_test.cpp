// The configure chains on the real VFE driver and the VFE hardware model: the
// video chain's commands make the model stream OUTPUT1 frames of the
// programmed size, with the WB/exposure statistics buffers filling, and the
// still chain takes one frame of the whole window.
#include <gtest/gtest.h>

#include "board_vfe.h"
#include "vfeconfigdoubles.h"
#include "vfetuningfixture.h"
#include "vfeconfigurerids.h"
#include "vfedriver_fixture.h"

namespace {

using vfeconfigtest::VfeServiceDouble;
using vfeconfigtest::VfeSettingsDouble;
using vfedrivertest::Buffer;

class VfeChainOnModel : public vfedrivertest::VfeDriverTest, public vfeconfigtest::VfeTuningFixture {
 protected:
  void SetUp() override {
    VfeDriverTest::SetUp();
    ASSERT_NE(drv_, nullptr);
    SetUpTuning();
    service_ = new VfeServiceDouble(env_);
    service_->settings = &settings_;
    service_->driver = drv_;
    ASSERT_EQ(PVL_OK, service_->CreateBlocks());
    settings_.SetActive(0, 0, vfedrivertest::kWindowW, vfedrivertest::kWindowH);
  }
  void TearDown() override {
    delete service_;
    TearDownTuning();
    VfeDriverTest::TearDown();
  }
  // OUTPUT1 whose buffers are real NV21 frames with a guard tail.
  void RealOutput1(uint32_t w = vfedrivertest::kOut1W, uint32_t h = vfedrivertest::kOut1H) {
    service_->out1.enabled = true;
    service_->out1.size = service_->out1.mode1 = service_->out1.mode0 = {w, h};
    service_->out1.onAck = [this, w, h] {
      Frame f;
      f.y = Allocate(w * h + kGuard);
      f.c = Allocate(w * (h / 2) + kGuard);
      f.entry.luma[0] = f.y.phys;
      f.entry.chroma[0] = f.c.phys;
      frames_.push_back(f);
      return Queue(0, f);
    };
  }
  void RealStats() {
    auto next = [this] { return Allocate(16384).phys; };
    service_->afOutput.nextAddress = next;
    service_->wbExpOutput.nextAddress = next;
  }
  PvlResult RunVideo() { return Run(ZUEUID_CONFIG_VIDEO, 0); }
  PvlResult Run(uint32_t id, int32_t count) {
    IConfigCommand* configurer = nullptr;
    PvlResult r = VfeConfigurer_Create(service_, id, &configurer);
    if (r != PVL_OK) return r;
    ISnapshotConfigCommand* still = nullptr;
    if (count && configurer->QueryInterface(ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND,
                                            reinterpret_cast<void**>(&still)) == PVL_OK) {
      still->SetCaptureCount(count);
      still->Release();
    }
    r = configurer->Configure();
    configurer->Release();
    return r;
  }
  static bool Written(const Buffer& b, uint32_t bytes) {
    const auto* p = static_cast<const uint8_t*>(b.virt);
    for (uint32_t i = 0; i < bytes; ++i)
      if (p[i] != 0xEE) return true;
    return false;
  }
  static bool TailUntouched(const Buffer& b, uint32_t from) {
    const auto* p = static_cast<const uint8_t*>(b.virt);
    for (uint32_t i = from; i < b.size; ++i)
      if (p[i] != 0xEE) return false;
    return true;
  }

  const Frame* FrameAt(uint32_t luma) const {
    for (const Frame& f : frames_)
      if (f.y.phys == luma) return &f;
    return nullptr;
  }

  static constexpr uint32_t kLuma = vfedrivertest::kOut1W * vfedrivertest::kOut1H;
  static constexpr uint32_t kGuard = 4096;
  VfeSettingsDouble settings_;
  VfeServiceDouble* service_ = nullptr;
  std::vector<Frame> frames_;
};

TEST_F(VfeChainOnModel, VideoChainStreamsFramesOfTheProgrammedSize) {
  RealOutput1();
  RealStats();
  ASSERT_EQ(PVL_OK, RunVideo());
  ASSERT_GE(frames_.size(), 2u);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_START, service_->operationMode));
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT1)) << "no frame";
  uint32_t luma = seen_.back().payload.frame.luma;
  const Frame* frame = nullptr;
  for (const Frame& f : frames_)
    if (f.y.phys == luma) frame = &f;
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(Written(frame->y, kLuma));
  EXPECT_TRUE(TailUntouched(frame->y, kLuma)) << "written past 320 x 240";
  EXPECT_TRUE(TailUntouched(frame->c, kLuma / 2)) << "chroma past 320 x 120";
  EXPECT_TRUE(WaitFor(MSG_VFE_STATS_WB_EXP)) << "no WB/exposure statistics";
}

// The tuned image blocks go to the real driver with the payloads they
// computed from the sensor's table, the driver takes every one, and the model
// then delivers focus statistics beside the WB/exposure ones.
TEST_F(VfeChainOnModel, TheTunedBlocksAreTakenAndFocusStatisticsFlow) {
  RealOutput1();
  RealStats();
  ASSERT_EQ(PVL_OK, RunVideo());
  struct Block {
    int32_t command;
    std::vector<uint8_t> payload;
  } blocks[] = {
      {VFE_CMD_ROLLOFF, vfeconfigtest::Bytes(service_->rolloff->GetPayload())},
      {VFE_CMD_DEMOSAIC, vfeconfigtest::Bytes(service_->demosaic->GetPayload())},
      {VFE_CMD_ASF, vfeconfigtest::Bytes(service_->asf->GetPayload())},
      {VFE_CMD_AF_STATS, vfeconfigtest::Bytes(service_->afStats->GetPayload())},
      {VFE_CMD_AWBEXT_STATS, vfeconfigtest::Bytes(service_->awbExtStats->GetPayload())},
  };
  for (const Block& b : blocks) {
    int sent = 0;
    for (const auto& c : service_->sent)
      if (c.command == b.command) {
        ++sent;
        EXPECT_EQ(b.payload, c.payload) << "command " << b.command;
      }
    EXPECT_EQ(1, sent) << "command " << b.command;
    EXPECT_EQ(1, b.payload[0]) << "command " << b.command << " enabled";
  }
  EXPECT_EQ(CRolloffConfiguration::kDefaultTable, service_->rolloff->GetLoadedTable());
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_START, service_->operationMode));
  StartSensor();
  EXPECT_TRUE(WaitFor(MSG_VFE_STATS_AF)) << "no focus statistics";
  EXPECT_TRUE(WaitFor(MSG_VFE_STATS_WB_EXP)) << "no WB/exposure statistics";
}

// The colour blocks' payloads from the camera's shipped tuning are taken by
// the driver and reach the model's registers: the sensor's black of 64,
// unity channel and white-balance gains, the chroma-suppression thresholds.
TEST_F(VfeChainOnModel, VideoChainProgramsTheColourBlocksFromTheShippedTuning) {
  RealOutput1();
  RealStats();
  settings_.contrast.Value = 100;
  settings_.brightness.Value = 0;
  settings_.saturation.Value = 100;
  ASSERT_EQ(PVL_OK, RunVideo());
  for (uint32_t offset = 0x194; offset <= 0x1A0; offset += 4) EXPECT_EQ(64u, BoardVfeWrittenRegister(offset));
  EXPECT_EQ(0x00800080u, BoardVfeWrittenRegister(0x1B4));
  EXPECT_EQ(0x00800080u, BoardVfeWrittenRegister(0x1B8));
  EXPECT_EQ(128u | 128u << 9 | 128u << 18, BoardVfeWrittenRegister(0x2B4));
  EXPECT_EQ(10u | 230u << 8 | 4u << 16 | 4u << 20, BoardVfeWrittenRegister(0x2B8));
  for (int32_t command : {VFE_CMD_BLACK_LEVEL, VFE_CMD_WHITE_BALANCE, VFE_CMD_COLOR_CORR,
                          VFE_CMD_GAMMA, VFE_CMD_COLOR_CONV, VFE_CMD_CHROMA_SUPP}) {
    bool sent = false;
    for (const auto& c : service_->sent) sent = sent || (c.command == command && !c.payload.empty() && c.payload[0] == 1);
    EXPECT_TRUE(sent) << "command " << command << " sent enabled";
  }
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_START, service_->operationMode));
  StartSensor();
  EXPECT_TRUE(WaitFor(MSG_VFE_OUTPUT1)) << "no frame";
}

// A zoom while video runs is taken; a second one before the VFE has latched
// the first is refused by the driver, and the zoom says so instead of losing
// the change.
TEST_F(VfeChainOnModel, ZoomDuringVideoIsTakenAndASecondBeforeTheLatchIsReported) {
  RealOutput1();
  RealStats();
  ASSERT_EQ(PVL_OK, RunVideo());
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_START, service_->operationMode));
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT1));
  // No frame starts (and so no latch) until the sensor streams again.
  ASSERT_TRUE(SensorWrite(0x0100, 0));
  settings_.crop = CFixedPoint(2.0);
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_CROP, 0));
  settings_.crop = CFixedPoint(3.0);
  EXPECT_NE(PVL_OK, Run(ZUEUID_CONFIG_CROP, 0));
  seen_.clear();
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_UPDATE_ACK)) << "the first zoom is latched";
  EXPECT_EQ(PVL_OK, Run(ZUEUID_CONFIG_CROP, 0)) << "and the next one is taken again";
}

TEST_F(VfeChainOnModel, StillChainTakesOneFrameOfTheWholeWindow) {
  const uint32_t w = vfedrivertest::kAreaW, h = vfedrivertest::kAreaH;
  RealOutput1(w, h);
  RealStats();
  settings_.settleFrames = 0;
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_SNAPSHOT, 1));
  EXPECT_EQ(0, service_->mainScaler->GetPayload().enable) << "no scaling of a full-size still";
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_START, service_->operationMode));
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT1)) << "no still";
  const Frame* frame = FrameAt(seen_.back().payload.frame.luma);
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(Written(frame->y, w * h));
  EXPECT_FALSE(TailUntouched(frame->y, w * h - w)) << "the last line is written";
  EXPECT_TRUE(TailUntouched(frame->y, w * h)) << "written past the window";
  EXPECT_TRUE(TailUntouched(frame->c, w * (h / 2)));
}

}  // namespace
