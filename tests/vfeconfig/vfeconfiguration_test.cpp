// The configuration framework: what Apply sends, the faces and counts, the
// factories' failures, the tuning flag's layout and the shared numeric helpers.
#include <gtest/gtest.h>

#include <cmath>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

using VfeConfigurationTest = VfeBlockTest;

// A fresh block sends its command with its whole, all-zero payload.
TEST_F(VfeConfigurationTest, FreshBlocksSendTheirCommandWithZeroPayload) {
  struct Expect {
    IVfeConfiguration* block;
    int32_t command;
    size_t size;
  };
  const Expect blocks[] = {
      {service_->camif, VFE_CMD_CAMIF, 56},     {service_->output, VFE_CMD_OUTPUT, 48},
      {service_->crop, VFE_CMD_FOV_CROP, 10},   {service_->frameDrop, VFE_CMD_FRAME_DROP, 16},
      {service_->block20, VFE_CMD_BLOCK20, 16}, {service_->block23, VFE_CMD_BLOCK23, 56},
  };
  for (const Expect& e : blocks) {
    SCOPED_TRACE(e.command);
    service_->sent.clear();
    EXPECT_EQ(e.command, e.block->GetCommandId());
    EXPECT_EQ(PVL_OK, e.block->Apply());
    ASSERT_EQ(1u, service_->sent.size());
    EXPECT_EQ(e.command, service_->sent[0].command);
    EXPECT_EQ(std::vector<uint8_t>(e.size, 0), service_->sent[0].payload);
  }
}

TEST_F(VfeConfigurationTest, ApplyPassesTheDriversAnswerThrough) {
  service_->answers[VFE_CMD_CAMIF] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, static_cast<IVfeConfiguration*>(service_->camif)->Apply());
}

TEST_F(VfeConfigurationTest, QueryInterfaceAnswersTheConfigurationFace) {
  IVfeConfiguration* block = service_->crop;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(PVL_E_BADARG, block->QueryInterface(ZUEUID_IFACE_VFE_CONFIGURATION, nullptr));
  ASSERT_EQ(PVL_OK, block->QueryInterface(ZUEUID_IFACE_VFE_CONFIGURATION, &out));
  EXPECT_EQ(static_cast<void*>(block), out);
  // The query's reference goes; the service's member keeps its own.
  EXPECT_EQ(1, block->Release());
  EXPECT_EQ(PVL_E_NOTSUPPORTED, block->QueryInterface(0x12345678u, &out));
  EXPECT_EQ(nullptr, out);
}

TEST_F(VfeConfigurationTest, AServiceWithoutEnvironmentBuildsNoBlock) {
  VfeServiceDouble bare(nullptr);
  CCamifConfiguration* camif = reinterpret_cast<CCamifConfiguration*>(1);
  EXPECT_EQ(PVL_E_BADARG, CCamifConfiguration::Create(&bare, &camif));
  EXPECT_EQ(reinterpret_cast<CCamifConfiguration*>(1), camif) << "out is left untouched";
}

TEST(TuningFlagTest, ARegistryWriteSetsValueAndMarkerLittleEndian) {
  struct Case {
    uint16_t written;
    uint8_t value, changed;
  };
  for (const Case& c : {Case{257, 1, 1}, Case{256, 0, 1}, Case{1, 1, 0}, Case{0, 0, 0}}) {
    CTuningFlag flag;
    EXPECT_EQ(1, flag.value);
    EXPECT_EQ(0, flag.changed);
    std::memcpy(static_cast<void*>(&flag), &c.written, sizeof c.written);
    EXPECT_EQ(c.value, ByteToBool(flag.value)) << c.written;
    EXPECT_EQ(c.changed, flag.changed) << c.written;
  }
}

TEST(VfeHelpersTest, ByteToBoolReadsOnlyTheLowByte) {
  EXPECT_EQ(0, ByteToBool(0));
  EXPECT_EQ(1, ByteToBool(7));
  EXPECT_EQ(0, ByteToBool(0x100));
}

TEST(VfeHelpersTest, InterpolationFactorIsUnclampedAndRefusesEqualBounds) {
  float f = -1.0f;
  EXPECT_EQ(PVL_E_BADARG, GetInterpolationFactor(5, 3, 3, &f));
  EXPECT_EQ(-1.0f, f) << "left unset";
  ASSERT_EQ(PVL_OK, GetInterpolationFactor(150, 100, 200, &f));
  EXPECT_FLOAT_EQ(0.5f, f);
  ASSERT_EQ(PVL_OK, GetInterpolationFactor(300, 100, 200, &f));
  EXPECT_FLOAT_EQ(2.0f, f);
  EXPECT_EQ(PVL_E_BADARG, GetInterpolationFactorF(1.0f, 2.0f, 2.0f, &f));
  ASSERT_EQ(PVL_OK, GetInterpolationFactorF(1.5f, 1.0f, 3.0f, &f));
  EXPECT_FLOAT_EQ(0.25f, f);
  EXPECT_FLOAT_EQ(0.05f, GetColorConvStep(0));
  EXPECT_FLOAT_EQ(0.15f, GetColorConvStep(1));
  EXPECT_FLOAT_EQ(0.45f, GetColorConvStep(2));
  EXPECT_FLOAT_EQ(0.05f, GetColorConvStep(9));
}

}  // namespace
}  // namespace vfeconfigtest
