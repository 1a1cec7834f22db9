// Property translation: the arithmetic between the client's values and the
// engine's, and the description replies.
#include <gtest/gtest.h>

#include <cstring>

#include "propertytranslation.h"
#include "wince_sim.h"

namespace {

const DevicePropertyRecord& Cc(uint32_t id) { return g_CameraControlPropMap[CameraControlRow(id)]; }
const DevicePropertyRecord& Pa(uint32_t id) { return g_VideoProcAmpPropMap[VideoProcAmpRow(id)]; }

PVLPropertyRecord Engine(uint32_t id, uint32_t type, int32_t value, int32_t lo, int32_t hi, uint32_t mode = 2) {
  PVLPropertyRecord r;
  InitPVLPropertyRecord(&r, id, type);
  r.head.values[0].payload.i32 = value;
  r.head.values[1].payload.i32 = lo;
  r.head.values[2].payload.i32 = hi;
  r.head.attribute = mode;
  return r;
}

CSPROPERTY_VIDEOPROCAMP_S Client(int32_t value, uint32_t flags) {
  CSPROPERTY_VIDEOPROCAMP_S c{};
  c.Value = value;
  c.Flags = flags;
  return c;
}

TEST(PropertyTranslation, FlagsMapOneToOneToControlModes) {
  struct Case {
    uint32_t flags, caps;
    PvlResult result;
    uint32_t mode;
  } cases[] = {{1, 3, 0, 3}, {2, 3, 0, 2}, {4, 12, 0, 0}, {8, 12, 0, 1},
               {3, 3, 20, 0}, {0, 3, 20, 0}, {8, 2, 14, 0}};
  for (const Case& c : cases) {
    uint32_t mode = 99;
    EXPECT_EQ(ClientFlagsToControlMode(c.flags, c.caps, &mode), c.result) << "flags " << c.flags;
    if (c.result == 0) {
      EXPECT_EQ(mode, c.mode) << "flags " << c.flags;
    }
  }
}

TEST(PropertyTranslation, BrightnessRemapsBothWays) {
  struct Case {
    int32_t client, engine;
  } cases[] = {{-10000, 0}, {0, 50}, {10000, 100}};
  for (const Case& c : cases) {
    PVLPropertyRecord e = Engine(ZUEUID_PROPERTY_BRIGHTNESS, PVL_VT_SINT32, 0, 0, 100);
    ASSERT_EQ(TranslateVideoProcAmpToPVL(&e, Client(c.client, 2), Pa(0)), 0);
    EXPECT_EQ(e.head.values[0].payload.i32, c.engine) << c.client;
    CSPROPERTY_VIDEOPROCAMP_S back{};
    ASSERT_EQ(TranslatePVLToVideoProcAmp(&back, e, Pa(0)), 0);
    EXPECT_EQ(back.Value, c.client);
    EXPECT_EQ(back.Flags, 2u);
  }
  PVLPropertyRecord same = Engine(ZUEUID_PROPERTY_BRIGHTNESS, PVL_VT_SINT32, 0, -10000, 10000);
  ASSERT_EQ(TranslateVideoProcAmpToPVL(&same, Client(1234, 2), Pa(0)), 0);
  EXPECT_EQ(same.head.values[0].payload.i32, 1234) << "equal ranges pass unchanged";
}

// Exposure compensation is a pair on the engine (steps, steps per EV): a set writes
// the steps and keeps the engine's unit, which the engine needs to take the value.
TEST(PropertyTranslation, ExposureCompensationKeepsTheEnginesUnit) {
  PVLPropertyRecord e = Engine(ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, PVL_VT_PAIR, 0, -600, 600);
  for (PvlValueRecord& v : e.head.values) v.payload.pair.second = 6;
  ASSERT_EQ(TranslateCameraControlToPVL(&e, Client(300, 2), Cc(CSPROPERTY_CAMERACONTROL_EXPOSURE_COMPENSATION)), 0);
  EXPECT_EQ(e.head.values[0].payload.pair.first, 300);
  EXPECT_EQ(e.head.values[0].payload.pair.second, 6);
  CSPROPERTY_CAMERACONTROL_S back{};
  ASSERT_EQ(TranslatePVLToCameraControl(&back, e, Cc(CSPROPERTY_CAMERACONTROL_EXPOSURE_COMPENSATION)), 0);
  EXPECT_EQ(back.Value, 300);
}

TEST(PropertyTranslation, AFixedEngineValueReadsAsTheMiddleOfTheClientRange) {
  EXPECT_EQ(RemapEngineToClient(7, -10000, 10000, 7, 7), 0);
  EXPECT_EQ(RemapEngineToClient(7, 0, 10000, 7, 7), 5000);
  EXPECT_EQ(RemapClientToEngine(-3000, -10000, 10000, 7, 7), 7) << "writes the engine's one value";
}

TEST(PropertyTranslation, ExposureIsLog2Seconds) {
  struct Case {
    int32_t exponent;
    uint32_t us;
  } cases[] = {{-4, 62500}, {2, 4000000}, {0, 1000000}, {-9, 1953}};
  for (const Case& c : cases) {
    EXPECT_EQ(ExposureToMicroseconds(c.exponent), c.us) << c.exponent;
    EXPECT_EQ(MicrosecondsToExposure(c.us), c.exponent) << c.us;
  }
}

TEST(PropertyTranslation, AnEngineExposureOfZeroReadsAsTheShortest) {
  PVLPropertyRecord e = Engine(ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, PVL_VT_SINT32, 0, 0, 0, 3);
  CSPROPERTY_CAMERACONTROL_S client{};
  ASSERT_EQ(TranslatePVLToCameraControl(&client, e, Cc(4)), 0);
  EXPECT_EQ(client.Value, -9);
  EXPECT_EQ(client.Flags, 1u);
  EXPECT_EQ(client.Capabilities, 3u);
}

TEST(PropertyTranslation, ZoomAndIrisReadBackTruncated) {
  PVLPropertyRecord zoom = Engine(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, PVL_VT_FLOAT, 0, 0, 0);
  zoom.head.values[0].payload.f = 1.999f;
  CSPROPERTY_CAMERACONTROL_S c{};
  ASSERT_EQ(TranslatePVLToCameraControl(&c, zoom, Cc(CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION)), 0);
  EXPECT_EQ(c.Value, 199);
  PVLPropertyRecord iris = Engine(ZUEUID_PROPERTY_APERTURE, PVL_VT_FLOAT, 0, 0, 0, 3);
  iris.head.values[0].payload.f = 2.89f;
  ASSERT_EQ(TranslatePVLToCameraControl(&c, iris, Cc(5)), 0);
  EXPECT_EQ(c.Value, 28);
}

TEST(PropertyTranslation, ControlModesReadBackByTheirRule) {
  struct Case {
    const char* name;
    uint32_t engineId;
    uint32_t mode;
    PvlResult result;
    uint32_t flags;
  } cases[] = {
      {"AntibandingSelector", ZUEUID_PROPERTY_ANTIBANDING_MODE, 0, 0, 4},
      {"AntibandingAuto", ZUEUID_PROPERTY_ANTIBANDING_MODE, 3, 0, 1},
      {"MeteringUnknownMode", ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, 1, 20, 0},
      {"HdrRuleB", ZUEUID_PROPERTY_HIGH_DYNAMIC_RANGE_MODE, 1, 0, 8},
      {"LampRuleC", ZUEUID_PROPERTY_LAMP_MODE, 3, 0, 1},
      {"FocusStepFixed", ZUEUID_PROPERTY_FOCUS_STEP, 0, 0, 2},
      {"NotInTheMap", 0x01234567, 2, 20, 0},
  };
  for (const Case& c : cases) {
    PVLPropertyRecord e = Engine(c.engineId, PVL_VT_SINT32, 5, 0, 10, c.mode);
    CSPROPERTY_CAMERACONTROL_S out{};
    EXPECT_EQ(TranslatePVLToCameraControl(&out, e, Cc(CSPROPERTY_CAMERACONTROL_ANTIBANDING)), c.result) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(out.Flags, c.flags) << c.name;
    }
  }
}

TEST(PropertyTranslation, HueAndGammaAreClampedToTheEngineRange) {
  PVLPropertyRecord hue = Engine(ZUEUID_PROPERTY_HUE_ANGLE, PVL_VT_FLOAT, 0, 0, 0);
  hue.head.values[1].payload.f = -90.0f;
  hue.head.values[2].payload.f = 90.0f;
  ASSERT_EQ(TranslateVideoProcAmpToPVL(&hue, Client(18000, 2), Pa(2)), 0);
  EXPECT_FLOAT_EQ(hue.head.values[0].payload.f, 90.0f);
  CSPROPERTY_VIDEOPROCAMP_S back{};
  PVLPropertyRecord gamma = Engine(ZUEUID_PROPERTY_GAMMA_CURVE, PVL_VT_FLOAT, 0, 0, 0);
  gamma.head.values[0].payload.f = 0.001f;
  ASSERT_EQ(TranslatePVLToVideoProcAmp(&back, gamma, Pa(5)), 0);
  EXPECT_EQ(back.Value, 1);
}

TEST(PropertyTranslation, QualityIsOneToOneHundred) {
  const DevicePropertyRecord& row = g_VideoCompressionPropMap[VideoCompressionRow(3)];
  struct Case {
    int32_t client;
    uint32_t engine;
  } cases[] = {{10000, 100}, {0, 1}, {7475, 75}};
  for (const Case& c : cases) {
    CSPROPERTY_VIDEOCOMPRESSION_S client{};
    client.Property.Id = 3;
    client.Value = c.client;
    PvlValueRecord v;
    ASSERT_EQ(TranslateVideoCompressionToPVL(&v, client, row), 0);
    EXPECT_EQ(v.payload.u32, c.engine) << c.client;
  }
  PvlValueRecord hundred{};
  hundred.payload.u32 = 100;
  CSPROPERTY_VIDEOCOMPRESSION_S back{};
  ASSERT_EQ(TranslatePVLToVideoCompression(&back, ZUEUID_PROPERTY_JPEG_QUALITY, hundred, row, 1), 0);
  EXPECT_EQ(back.Value, 10000);
  EXPECT_EQ(back.StreamIndex, 1u);
}

TEST(PropertyTranslation, BasicSupportFitsTheBufferItIsGiven) {
  const DevicePropertyRecord& row = Pa(0);
  struct Case {
    const char* name;
    DWORD length;
    DWORD result;
    DWORD returned;
  } cases[] = {{"Nothing", 3, ERROR_INSUFFICIENT_BUFFER, 0},
               {"AccessOnly", 4, ERROR_SUCCESS, 4},
               {"HeaderOnly", 40, ERROR_MORE_DATA, 40},
               {"Whole", 72, ERROR_SUCCESS, 72}};
  for (const Case& c : cases) {
    uint8_t out[80];
    std::memset(out, 0xEE, sizeof out);
    DWORD returned = 0;
    EXPECT_EQ(AdapterReplyBasicSupport(out, c.length, &returned, row), c.result) << c.name;
    EXPECT_EQ(returned, c.returned) << c.name;
    EXPECT_EQ(out[c.length], 0xEE) << c.name << ": written past the buffer";
    if (c.length >= 4) {
      uint32_t access;
      std::memcpy(&access, out, 4);
      EXPECT_EQ(access, CSPROPERTY_DESCRIPTION_ACCESS) << c.name;
    }
  }
  CSPROPERTY_BASICSUPPORT_REPLY reply;
  DWORD returned = 0;
  ASSERT_EQ(AdapterReplyBasicSupport(&reply, sizeof reply, &returned, row), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(reply.Stepping.SignedMinimum, -10000);
  EXPECT_EQ(reply.Stepping.SignedMaximum, 10000);
  CSPROPERTY_DEFAULTVALUES_REPLY defaults;
  ASSERT_EQ(AdapterReplyDefaultValues(&defaults, sizeof defaults, &returned, Pa(1)), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(returned, 60u);
  EXPECT_EQ(defaults.Default, 100);
}

TEST(PropertyTranslation, CallerBuffersAreMappedOnlyWhenLongEnough) {
  uint8_t buffer[32];
  DWORD error = 0;
  EXPECT_EQ(MapCallerBuffer(buffer, 31, 32, &error), nullptr);
  EXPECT_EQ(error, DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MapCallerBuffer(nullptr, 32, 32, &error), nullptr);
  CeSimInjectFault(CE_SIM_FAULT_MAP_CALLER_PTR, 0, 1);
  EXPECT_EQ(MapCallerBuffer(buffer, 32, 32, &error), nullptr);
  EXPECT_EQ(error, DWORD(ERROR_INVALID_USER_BUFFER));
  EXPECT_EQ(MapCallerBuffer(buffer, 32, 32, &error), buffer);
}

}  // namespace
