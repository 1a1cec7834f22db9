// Property translation: the static maps and the arithmetic between the client's
// camera-control, proc-amp and compression values and the engine's properties.
#include "propertytranslation.h"

#include <cmath>
#include <cstring>

#include "wince.h"

namespace {

constexpr uint32_t kNone = 0;
constexpr int32_t kAll = 0x7FFFFFFF;

}  // namespace

// clang-format off
const DSPropertyMapEntry g_VideoProcAmpPropMap[kVideoProcAmpRows] = {
  // client id                                    engine property                                type           step  min     max    def   dflg caps supp
  {CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS,              ZUEUID_PROPERTY_BRIGHTNESS,                    PVL_VT_SINT32, 1, -10000, 10000,    0,   2,  2, 1},
  {CSPROPERTY_VIDEOPROCAMP_CONTRAST,                ZUEUID_PROPERTY_CONTRAST,                      PVL_VT_SINT32, 1,      0, 10000,  100,   2,  2, 1},
  {CSPROPERTY_VIDEOPROCAMP_HUE,                     ZUEUID_PROPERTY_HUE_ANGLE,                     PVL_VT_FLOAT,  1, -18000, 18000,    0,   2,  2, 1},
  {CSPROPERTY_VIDEOPROCAMP_SATURATION,              ZUEUID_PROPERTY_SATURATION,                    PVL_VT_SINT32, 1,      0, 10000,  100,   2,  2, 1},
  {CSPROPERTY_VIDEOPROCAMP_SHARPNESS,               ZUEUID_PROPERTY_SHARPNESS,                     PVL_VT_SINT32, 1,      0,   100,   50,   2,  2, 1},
  {CSPROPERTY_VIDEOPROCAMP_GAMMA,                   ZUEUID_PROPERTY_GAMMA_CURVE,                   PVL_VT_FLOAT,  1,      1,   500,  100,   2,  2, 1},
  {CSPROPERTY_VIDEOPROCAMP_COLORENABLE,             kNone,                                         PVL_VT_EMPTY,  1,      0,     1,    1,   2,  2, 0},
  {CSPROPERTY_VIDEOPROCAMP_WHITEBALANCE,            ZUEUID_PROPERTY_WHITE_BALANCE_MODE,            PVL_VT_SINT32, 1,      0, 10000, 5000,   1,  3, 1},
  {CSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION,  kNone,                                         PVL_VT_SINT32, 1,      0,     1,    1,   1,  3, 0},
  {CSPROPERTY_VIDEOPROCAMP_GAIN,                    ZUEUID_PROPERTY_ISO_MODE,                      PVL_VT_SINT32, 1,      1, 12800,   80,   1,  3, 1},
  {CSPROPERTY_VIDEOPROCAMP_BEST_SHOT_MODE,          ZUEUID_PROPERTY_BEST_SHOT_MODE,                PVL_VT_SINT32, 1,      0,    10,    5,   4, 12, 1},
  {CSPROPERTY_VIDEOPROCAMP_FIXED_CB_OFFSET,         ZUEUID_PROPERTY_FIXED_CB_OFFSET,               PVL_VT_SINT32, 1,   -128,   127,    0,   2,  2, 1},
  {CSPROPERTY_VIDEOPROCAMP_FIXED_CR_OFFSET,         ZUEUID_PROPERTY_FIXED_CR_OFFSET,               PVL_VT_SINT32, 1,   -128,   127,    0,   2,  2, 1},
  {CSPROPERTY_VIDEOPROCAMP_IMAGE_EFFECT,            ZUEUID_PROPERTY_IMAGE_EFFECT_MODE,             PVL_VT_SINT32, 1,      0,     4,    0,   4, 12, 1},
  {CSPROPERTY_VIDEOPROCAMP_LUMA_ADAPTATION,         ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE,          PVL_VT_SINT32, 1,      0,     0,    0,   4, 12, 1},
};

const DSPropertyMapEntry g_CameraControlPropMap[kCameraControlRows] = {
  {CSPROPERTY_CAMERACONTROL_PAN,                      kNone,                                         PVL_VT_EMPTY,  1,   -180,   180,    0,   1,  1, 0},
  {CSPROPERTY_CAMERACONTROL_TILT,                     kNone,                                         PVL_VT_EMPTY,  1,   -180,   180,    0,   1,  1, 0},
  {CSPROPERTY_CAMERACONTROL_ROLL,                     kNone,                                         PVL_VT_EMPTY,  1,   -180,   180,    0,   1,  1, 0},
  {CSPROPERTY_CAMERACONTROL_ZOOM,                     kNone,                                         PVL_VT_EMPTY,  1,     10,   600,   10,   2,  2, 0},
  {CSPROPERTY_CAMERACONTROL_EXPOSURE,                 ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED,        PVL_VT_SINT32, 1,     -9,     4,   -4,   1,  3, 1},
  {CSPROPERTY_CAMERACONTROL_IRIS,                     ZUEUID_PROPERTY_APERTURE,                      PVL_VT_FLOAT,  1,      0,  1280,   20,   1,  3, 1},
  {CSPROPERTY_CAMERACONTROL_FOCUS,                    kNone,                                         PVL_VT_EMPTY,  1,      0,   200,  100,   2,  2, 0},
  {CSPROPERTY_CAMERACONTROL_RESERVED_7,               kNone,                                         PVL_VT_EMPTY,  1,      0,   200,    0,   2,  2, 0},
  {CSPROPERTY_CAMERACONTROL_ANTIBANDING,              ZUEUID_PROPERTY_ANTIBANDING_MODE,              PVL_VT_SINT32, 1,      1,   240,   60,   4,  7, 1},
  {CSPROPERTY_CAMERACONTROL_EXPOSURE_COMPENSATION,    ZUEUID_PROPERTY_EXPOSURE_COMPENSATION,         PVL_VT_PAIR,   1,   -600,   600,    0,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_METERING,                 ZUEUID_PROPERTY_EXPOSURE_METERING_MODE,        PVL_VT_SINT32, 1,      0,    12,    0,   1,  3, 1},
  {CSPROPERTY_CAMERACONTROL_FLASH_DEVICE,             ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID,       PVL_VT_UINT32, 1,      0,    -1,    0,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_INTENSITY, ZUEUID_PROPERTY_SNAPSHOT_FLASH_INTENSITY,      PVL_VT_SINT32, 1,      0, 10000,    0,   1,  3, 1},
  {CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE,      ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE,           PVL_VT_SINT32, 0,      0,     0,    0,   1, 13, 1},
  {CSPROPERTY_CAMERACONTROL_FOCUS_MODE,               ZUEUID_PROPERTY_FOCUS_MODE,                    PVL_VT_SINT32, 1,      0,     1,    0,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_FOCUS_RECT_MODE,          ZUEUID_PROPERTY_FOCUS_RECT_MODE,               PVL_VT_SINT32, 1,      0,     2,    1,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL,            kNone,                                         PVL_VT_EMPTY,  1,      0,     5,    0,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_FOCUS_STEP,               ZUEUID_PROPERTY_FOCUS_STEP,                    PVL_VT_SINT32, 1,      0, 10000,    0,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_FIXED_FRAME_RATE,         kNone,                                         PVL_VT_EMPTY,  1,      0,     1,    0,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_HIGH_DYNAMIC_RANGE,       ZUEUID_PROPERTY_HIGH_DYNAMIC_RANGE_MODE,       PVL_VT_SINT32, 0,      0,     0,    0,   4, 12, 1},
  {CSPROPERTY_CAMERACONTROL_HAND_JITTER_REDUCTION,    ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, PVL_VT_SINT32, 0, 0,     0,    0,   4, 12, 1},
  {CSPROPERTY_CAMERACONTROL_PAN_ANGLE,                kNone,                                         PVL_VT_EMPTY,  1,   -180,   180,    0,   1,  1, 1},
  {CSPROPERTY_CAMERACONTROL_ROLL_ANGLE,               kNone,                                         PVL_VT_EMPTY,  1,   -180,   180,    0,   1,  1, 1},
  {CSPROPERTY_CAMERACONTROL_TILT_ANGLE,               kNone,                                         PVL_VT_EMPTY,  1,   -180,   180,    0,   1,  1, 1},
  {CSPROPERTY_CAMERACONTROL_LAMP_INTENSITY,           ZUEUID_PROPERTY_LAMP_INTENSITY,                PVL_VT_SINT32, 1,      0, 10000,    0,   2,  3, 1},
  {CSPROPERTY_CAMERACONTROL_LAMP_MODE,                ZUEUID_PROPERTY_LAMP_MODE,                     PVL_VT_SINT32, 0,      0,     0,    0,   4, 13, 1},
  {CSPROPERTY_CAMERACONTROL_POWER,                    kNone,                                         PVL_VT_EMPTY,  1,      0,     1,    1,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE2,     ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2,          PVL_VT_SINT32, 1,      0,     2,    0,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_STATE,     ZUEUID_PROPERTY_SNAPSHOT_FLASH_STATE,          PVL_VT_SINT32, 1,      0,    12,    0,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION,       ZUEUID_PROPERTY_ZOOM_MAGNIFICATION,            PVL_VT_FLOAT,  1,    100, 10000,  100,   2,  2, 1},
  {CSPROPERTY_CAMERACONTROL_RESERVED_116,             ZUEUID_PROPERTY_CAMERA_CONTROL_116,            PVL_VT_SINT32, 1,      0, 10000,    0,   2,  2, 1},
};

const DSPropertyMapEntry g_VideoCompressionPropMap[kVideoCompressionRows] = {
  {CSPROPERTY_VIDEOCOMPRESSION_KEYFRAME_RATE,         kNone,                        PVL_VT_EMPTY,  1, 0, 1,     1,    0, 0, 0},
  {CSPROPERTY_VIDEOCOMPRESSION_PFRAMES_PER_KEYFRAME,  kNone,                        PVL_VT_EMPTY,  1, 0, 1,     1,    0, 0, 0},
  {CSPROPERTY_VIDEOCOMPRESSION_QUALITY,               ZUEUID_PROPERTY_JPEG_QUALITY, PVL_VT_UINT32, 1, 0, 10000, 7475, 0, 0, 1},
  {4,                                                 kNone,                        PVL_VT_EMPTY,  1, 0, kAll,  1,    0, 0, 0},
  {5,                                                 kNone,                        PVL_VT_EMPTY,  1, 0, kAll,  1,    0, 0, 0},
  {6,                                                 kNone,                        PVL_VT_EMPTY,  1, 0, kAll,  1,    0, 0, 0},
};
// clang-format on

// The standard ids, then the maker's from 0x100 in the rows that follow them.
int VideoProcAmpRow(uint32_t id) {
  constexpr uint32_t kStandard = CSPROPERTY_VIDEOPROCAMP_GAIN + 1;
  if (id < kStandard) return int(id);
  if (id >= CSPROPERTY_VIDEOPROCAMP_BEST_SHOT_MODE && id <= CSPROPERTY_VIDEOPROCAMP_LUMA_ADAPTATION)
    return int(kStandard + id - CSPROPERTY_VIDEOPROCAMP_BEST_SHOT_MODE);
  return -1;
}

int CameraControlRow(uint32_t id) {
  constexpr uint32_t kStandard = CSPROPERTY_CAMERACONTROL_RESERVED_7 + 1;
  if (id < kStandard) return int(id);
  if (id >= CSPROPERTY_CAMERACONTROL_ANTIBANDING && id <= CSPROPERTY_CAMERACONTROL_RESERVED_116)
    return int(kStandard + id - CSPROPERTY_CAMERACONTROL_ANTIBANDING);
  return -1;
}

int VideoCompressionRow(uint32_t id) { return id >= 1 && id <= 6 ? int(id - 1) : -1; }

namespace {

int32_t RoundHalfAway(float f) { return int32_t(f > 0 ? f + 0.5f : f - 0.5f); }

int32_t ClampToInt(double d) {
  if (d >= 2147483647.0) return 0x7FFFFFFF;
  if (d <= -2147483648.0) return int32_t(0x80000000u);
  return int32_t(d);
}

int32_t EngineInt(const PvlValueRecord& v) { return v.payload.i32; }
float EngineFloat(const PvlValueRecord& v) { return v.payload.f; }

// Shared head of client -> engine: identifier, types, control mode.
PvlResult Head(PVLPropertyRecord* engine, uint32_t flags, const DevicePropertyRecord& row) {
  engine->head.id = row.engineId;
  for (PvlValueRecord& v : engine->head.values) v.type = row.type;
  uint32_t mode = 0;
  PvlResult r = ClientFlagsToControlMode(flags, row.capabilities, &mode);
  if (r != PVL_OK) return r;
  engine->head.attribute = mode;
  return PVL_OK;
}

void SetInt(PVLPropertyRecord* engine, int32_t v) {
  std::memset(engine->head.values[0].payload.bytes, 0, 16);
  engine->head.values[0].payload.i32 = v;
}
void SetFloat(PVLPropertyRecord* engine, float v) {
  std::memset(engine->head.values[0].payload.bytes, 0, 16);
  engine->head.values[0].payload.f = v;
}

int32_t RemapWithEngineRange(const PVLPropertyRecord& engine, int32_t v, int32_t cmin, int32_t cmax) {
  return RemapClientToEngine(v, cmin, cmax, EngineInt(engine.head.values[1]), EngineInt(engine.head.values[2]));
}
int32_t ReverseWithEngineRange(const PVLPropertyRecord& engine, int32_t cmin, int32_t cmax) {
  return RemapEngineToClient(EngineInt(engine.head.values[0]), cmin, cmax, EngineInt(engine.head.values[1]),
                             EngineInt(engine.head.values[2]));
}

// Engine control mode -> client flags.
enum class FlagRule { A, B, C };
PvlResult ModeToFlags(FlagRule rule, uint32_t mode, uint32_t* flags) {
  switch (rule) {
    case FlagRule::A:
      if (mode == 3) return *flags = 1, PVL_OK;
      if (mode == 2) return *flags = 2, PVL_OK;
      break;
    case FlagRule::B:
    case FlagRule::C:
      if (mode == 0) return *flags = 4, PVL_OK;
      if (mode == 1) return *flags = 8, PVL_OK;
      if (rule == FlagRule::C && mode == 3) return *flags = 1, PVL_OK;
      break;
  }
  return kTranslateUnsupported;
}

// The tail of engine -> client for camera control and proc amp (one record layout):
// the reading, unless it failed, with the row's capabilities.
PvlResult ReadBack(CSPROPERTY_VIDEOPROCAMP_S* client, PvlResult r, uint32_t id, int32_t v, uint32_t flags,
                   const DevicePropertyRecord& row) {
  if (r != PVL_OK) return r;
  client->Property.Id = id;
  client->Value = v;
  client->Flags = flags;
  client->Capabilities = row.capabilities;
  return PVL_OK;
}

}  // namespace

void InitPVLPropertyRecord(PVLPropertyRecord* record, uint32_t engineId, uint32_t type) {
  std::memset(record, 0, sizeof *record);
  record->head.id = engineId;
  for (PvlValueRecord& v : record->head.values) v.type = type;
}

PvlResult MakePVLPropertyValue(const PVLPropertyRecord& record, PVLPropertyValue* value) {
  std::memset(value, 0, sizeof *value);
  value->id = record.head.id;
  value->value = record.head.values[0];
  value->mode = record.head.attribute;
  return PVL_OK;
}

PvlResult CreateDSPropertyFromDefaults(const DevicePropertyRecord& row, CSPROPERTY_CAMERACONTROL_S* client) {
  std::memset(client, 0, sizeof *client);
  client->Property.Id = row.clientId;
  client->Value = row.defaultValue;
  client->Flags = row.defaultFlags;
  client->Capabilities = row.capabilities;
  return PVL_OK;
}

PvlResult CreateDSPropertyFromDefaults(const DevicePropertyRecord& row, uint32_t pin,
                                       CSPROPERTY_VIDEOCOMPRESSION_S* client) {
  std::memset(client, 0, sizeof *client);
  client->Property.Id = row.clientId;
  client->StreamIndex = pin;
  client->Value = row.defaultValue;
  return PVL_OK;
}

PvlResult ClientFlagsToControlMode(uint32_t flags, uint32_t caps, uint32_t* mode) {
  if (flags & ~caps) return kTranslateBadFlags;
  switch (flags) {
    case CSPROPERTY_FLAGS_AUTO: *mode = 3; return PVL_OK;
    case CSPROPERTY_FLAGS_MANUAL: *mode = 2; return PVL_OK;
    case CSPROPERTY_FLAGS_SELECTOR4: *mode = 0; return PVL_OK;
    case CSPROPERTY_FLAGS_SELECTOR8: *mode = 1; return PVL_OK;
    default: return kTranslateUnsupported;
  }
}

int32_t RemapClientToEngine(int32_t v, int32_t cmin, int32_t cmax, int32_t emin, int32_t emax) {
  if (emax == emin) return emax;
  if (emin == cmin && emax == cmax) return v;
  float scale = float(int64_t(cmax) - cmin) / float(int64_t(emax) - emin);
  return RoundHalfAway(float(int64_t(v) - cmin) / scale + float(emin));
}

int32_t RemapEngineToClient(int32_t v, int32_t cmin, int32_t cmax, int32_t emin, int32_t emax) {
  // An engine with a fixed value reads as the middle of the client's range.
  if (emax == emin) return int32_t(cmin + (int64_t(cmax) - cmin) / 2);
  if (emin == cmin && emax == cmax) return v;
  float scale = float(int64_t(emax) - emin) / float(int64_t(cmax) - cmin);
  return RoundHalfAway(float(int64_t(v) - emin) / scale + float(cmin));
}

uint32_t ExposureToMicroseconds(int32_t exponent) {
  if (exponent < 0) {
    int64_t shift = -int64_t(exponent);
    return shift >= 20 ? 0 : 1000000u >> shift;  // 10^6 / 2^shift, integer division
  }
  uint32_t e = uint32_t(exponent) & 0xFF;
  uint64_t us = e >= 32 ? ~0ull : (1ull << e) * 1000000ull;
  return us > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(us);
}

int32_t MicrosecondsToExposure(uint32_t t) {
  // An engine that has not been given an exposure yet reports 0: read it as the
  // shortest exposure the client range has, never divide by it.
  if (t == 0) return -9;
  uint32_t q = t / 1000000u;
  int32_t e = 0;
  if (q) {
    while (q > 1) q /= 2, ++e;
    return e;
  }
  q = 1000000u / t;
  while (q > 1) q /= 2, ++e;
  return -e;
}

PvlResult TranslateCameraControlToPVL(PVLPropertyRecord* engine, const CSPROPERTY_CAMERACONTROL_S& client,
                                      const DevicePropertyRecord& row) {
  PvlResult r = Head(engine, client.Flags, row);
  if (r != PVL_OK) return r;
  int32_t v = client.Value;
  switch (row.clientId) {
    case CSPROPERTY_CAMERACONTROL_EXPOSURE: SetInt(engine, int32_t(ExposureToMicroseconds(v))); return PVL_OK;
    case CSPROPERTY_CAMERACONTROL_IRIS: SetFloat(engine, float(v) / 10.0f); return PVL_OK;
    case CSPROPERTY_CAMERACONTROL_EXPOSURE_COMPENSATION: {
      // The engine keeps exposure compensation as a pair (steps, steps per EV): the
      // steps are the client's, the unit stays the engine's.
      const int32_t unit = engine->head.values[0].payload.pair.second;
      SetInt(engine, RemapWithEngineRange(*engine, v, -600, 600));
      engine->head.values[0].payload.pair.second = unit;
      return PVL_OK;
    }
    case CSPROPERTY_CAMERACONTROL_ANTIBANDING:
    case CSPROPERTY_CAMERACONTROL_METERING:
    case CSPROPERTY_CAMERACONTROL_FLASH_DEVICE:
    case CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_INTENSITY:
    case CSPROPERTY_CAMERACONTROL_FOCUS_MODE:
    case CSPROPERTY_CAMERACONTROL_FOCUS_RECT_MODE:
    case CSPROPERTY_CAMERACONTROL_FOCUS_STEP:
    case CSPROPERTY_CAMERACONTROL_LAMP_INTENSITY:
    case CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE2:
    case CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_STATE:
    case CSPROPERTY_CAMERACONTROL_RESERVED_116:
      SetInt(engine, v);
      return PVL_OK;
    // The control mode carries these settings.
    case CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE:
    case CSPROPERTY_CAMERACONTROL_HIGH_DYNAMIC_RANGE:
    case CSPROPERTY_CAMERACONTROL_HAND_JITTER_REDUCTION:
    case CSPROPERTY_CAMERACONTROL_LAMP_MODE:
      SetInt(engine, 0);
      return PVL_OK;
    case CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION: SetFloat(engine, float(v) / 100.0f); return PVL_OK;
    default: return kTranslateUnsupported;
  }
}

PvlResult TranslateVideoProcAmpToPVL(PVLPropertyRecord* engine, const CSPROPERTY_VIDEOPROCAMP_S& client,
                                     const DevicePropertyRecord& row) {
  PvlResult r = Head(engine, client.Flags, row);
  if (r != PVL_OK) return r;
  int32_t v = client.Value;
  switch (row.clientId) {
    case CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS:
      SetInt(engine, RemapWithEngineRange(*engine, v, -10000, 10000));
      return PVL_OK;
    case CSPROPERTY_VIDEOPROCAMP_CONTRAST:
    case CSPROPERTY_VIDEOPROCAMP_SATURATION:
      SetInt(engine, RemapWithEngineRange(*engine, v, 0, 10000));
      return PVL_OK;
    case CSPROPERTY_VIDEOPROCAMP_SHARPNESS: SetInt(engine, RemapWithEngineRange(*engine, v, 0, 100)); return PVL_OK;
    case CSPROPERTY_VIDEOPROCAMP_HUE: case CSPROPERTY_VIDEOPROCAMP_GAMMA: {
      float f = float(v) / 100.0f;
      float lo = EngineFloat(engine->head.values[1]), hi = EngineFloat(engine->head.values[2]);
      if (f < lo) f = lo;
      if (f > hi) f = hi;
      SetFloat(engine, f);
      return PVL_OK;
    }
    case CSPROPERTY_VIDEOPROCAMP_WHITEBALANCE:
    case CSPROPERTY_VIDEOPROCAMP_GAIN:
    case CSPROPERTY_VIDEOPROCAMP_BEST_SHOT_MODE:
    case CSPROPERTY_VIDEOPROCAMP_FIXED_CB_OFFSET:
    case CSPROPERTY_VIDEOPROCAMP_FIXED_CR_OFFSET:
    case CSPROPERTY_VIDEOPROCAMP_IMAGE_EFFECT:
      SetInt(engine, v);
      return PVL_OK;
    case CSPROPERTY_VIDEOPROCAMP_LUMA_ADAPTATION: SetInt(engine, 0); return PVL_OK;
    default: return kTranslateUnsupported;
  }
}

PvlResult TranslatePVLToCameraControl(CSPROPERTY_CAMERACONTROL_S* client, const PVLPropertyRecord& engine,
                                      const DevicePropertyRecord& row) {
  const PvlValueRecord& value = engine.head.values[0];
  uint32_t mode = engine.head.attribute;
  int32_t v = 0;
  uint32_t flags = 0;
  PvlResult r = PVL_OK;
  uint32_t id = 0;
  switch (engine.head.id) {
    case ZUEUID_PROPERTY_ANTIBANDING_MODE:
      id = CSPROPERTY_CAMERACONTROL_ANTIBANDING, v = EngineInt(value);
      if (mode == 0) flags = 4; else r = ModeToFlags(FlagRule::A, mode, &flags);
      break;
    case ZUEUID_PROPERTY_APERTURE: id = CSPROPERTY_CAMERACONTROL_IRIS, v = ClampToInt(EngineFloat(value) * 10.0f), r = ModeToFlags(FlagRule::A, mode, &flags); break;
    case ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID: id = CSPROPERTY_CAMERACONTROL_FLASH_DEVICE, v = EngineInt(value), flags = 2; break;
    case ZUEUID_PROPERTY_EXPOSURE_COMPENSATION: id = CSPROPERTY_CAMERACONTROL_EXPOSURE_COMPENSATION, v = ReverseWithEngineRange(engine, -600, 600), flags = 2; break;
    case ZUEUID_PROPERTY_EXPOSURE_METERING_MODE: id = CSPROPERTY_CAMERACONTROL_METERING, v = EngineInt(value), r = ModeToFlags(FlagRule::A, mode, &flags); break;
    case ZUEUID_PROPERTY_FOCUS_MODE: id = CSPROPERTY_CAMERACONTROL_FOCUS_MODE, v = EngineInt(value), flags = 2; break;
    case ZUEUID_PROPERTY_FOCUS_RECT_MODE: id = CSPROPERTY_CAMERACONTROL_FOCUS_RECT_MODE, v = EngineInt(value), flags = 2; break;
    case ZUEUID_PROPERTY_FOCUS_STEP: id = CSPROPERTY_CAMERACONTROL_FOCUS_STEP, v = EngineInt(value), flags = 2; break;
    case ZUEUID_PROPERTY_HIGH_DYNAMIC_RANGE_MODE: id = CSPROPERTY_CAMERACONTROL_HIGH_DYNAMIC_RANGE, v = EngineInt(value), r = ModeToFlags(FlagRule::B, mode, &flags); break;
    case ZUEUID_PROPERTY_LAMP_INTENSITY: id = CSPROPERTY_CAMERACONTROL_LAMP_INTENSITY, v = EngineInt(value), r = ModeToFlags(FlagRule::A, mode, &flags); break;
    case ZUEUID_PROPERTY_LAMP_MODE: id = CSPROPERTY_CAMERACONTROL_LAMP_MODE, v = EngineInt(value), r = ModeToFlags(FlagRule::C, mode, &flags); break;
    case ZUEUID_PROPERTY_ZOOM_MAGNIFICATION: id = CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION, v = ClampToInt(double(EngineFloat(value)) * 100.0), flags = 2; break;
    case ZUEUID_PROPERTY_CAMERA_CONTROL_116: id = CSPROPERTY_CAMERACONTROL_RESERVED_116, v = EngineInt(value), flags = 2; break;
    case ZUEUID_PROPERTY_SNAPSHOT_FLASH_INTENSITY: id = CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_INTENSITY, v = EngineInt(value), r = ModeToFlags(FlagRule::A, mode, &flags); break;
    case ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2: id = CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE2, v = EngineInt(value), flags = 2; break;
    case ZUEUID_PROPERTY_SNAPSHOT_FLASH_STATE: id = CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_STATE, v = EngineInt(value), flags = 2; break;
    case ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE: id = CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE, v = EngineInt(value), r = ModeToFlags(FlagRule::C, mode, &flags); break;
    case ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE: id = CSPROPERTY_CAMERACONTROL_HAND_JITTER_REDUCTION, v = EngineInt(value), r = ModeToFlags(FlagRule::B, mode, &flags); break;
    case ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED: id = CSPROPERTY_CAMERACONTROL_EXPOSURE, v = MicrosecondsToExposure(value.payload.u32), r = ModeToFlags(FlagRule::A, mode, &flags); break;
    default: return kTranslateUnsupported;
  }
  return ReadBack(client, r, id, v, flags, row);
}

PvlResult TranslatePVLToVideoProcAmp(CSPROPERTY_VIDEOPROCAMP_S* client, const PVLPropertyRecord& engine,
                                     const DevicePropertyRecord& row) {
  const PvlValueRecord& value = engine.head.values[0];
  uint32_t mode = engine.head.attribute;
  int32_t v = 0;
  uint32_t flags = 2;
  PvlResult r = PVL_OK;
  uint32_t id = 0;
  auto scaled = [](float f, float lo, float hi) {
    float x = f * 100.0f;
    if (x < lo) return int32_t(lo);
    if (x > hi) return int32_t(hi);
    return RoundHalfAway(x);
  };
  switch (engine.head.id) {
    case ZUEUID_PROPERTY_BEST_SHOT_MODE: id = CSPROPERTY_VIDEOPROCAMP_BEST_SHOT_MODE, v = EngineInt(value), r = ModeToFlags(FlagRule::B, mode, &flags); break;
    case ZUEUID_PROPERTY_BRIGHTNESS: id = CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, v = ReverseWithEngineRange(engine, -10000, 10000); break;
    case ZUEUID_PROPERTY_CONTRAST: id = CSPROPERTY_VIDEOPROCAMP_CONTRAST, v = ReverseWithEngineRange(engine, 0, 10000); break;
    case ZUEUID_PROPERTY_FIXED_CB_OFFSET: id = CSPROPERTY_VIDEOPROCAMP_FIXED_CB_OFFSET, v = EngineInt(value); break;
    case ZUEUID_PROPERTY_FIXED_CR_OFFSET: id = CSPROPERTY_VIDEOPROCAMP_FIXED_CR_OFFSET, v = EngineInt(value); break;
    case ZUEUID_PROPERTY_GAMMA_CURVE: id = CSPROPERTY_VIDEOPROCAMP_GAMMA, v = scaled(EngineFloat(value), 1.0f, 500.0f); break;
    case ZUEUID_PROPERTY_HUE_ANGLE: id = CSPROPERTY_VIDEOPROCAMP_HUE, v = scaled(EngineFloat(value), -18000.0f, 18000.0f); break;
    case ZUEUID_PROPERTY_IMAGE_EFFECT_MODE: id = CSPROPERTY_VIDEOPROCAMP_IMAGE_EFFECT, v = EngineInt(value), r = ModeToFlags(FlagRule::B, mode, &flags); break;
    case ZUEUID_PROPERTY_ISO_MODE: id = CSPROPERTY_VIDEOPROCAMP_GAIN, v = EngineInt(value), r = ModeToFlags(FlagRule::A, mode, &flags); break;
    case ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE: id = CSPROPERTY_VIDEOPROCAMP_LUMA_ADAPTATION, v = 0, r = ModeToFlags(FlagRule::B, mode, &flags); break;
    case ZUEUID_PROPERTY_SATURATION: id = CSPROPERTY_VIDEOPROCAMP_SATURATION, v = ReverseWithEngineRange(engine, 0, 10000); break;
    case ZUEUID_PROPERTY_SHARPNESS: id = CSPROPERTY_VIDEOPROCAMP_SHARPNESS, v = ReverseWithEngineRange(engine, 0, 100); break;
    case ZUEUID_PROPERTY_WHITE_BALANCE_MODE: id = CSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, v = EngineInt(value), r = ModeToFlags(FlagRule::A, mode, &flags); break;
    default: return kTranslateUnsupported;
  }
  return ReadBack(client, r, id, v, flags, row);
}

PvlResult TranslateVideoCompressionToPVL(PvlValueRecord* engine, const CSPROPERTY_VIDEOCOMPRESSION_S& client,
                                         const DevicePropertyRecord& row) {
  std::memset(engine, 0, sizeof *engine);
  engine->type = row.type;
  if (client.Property.Id != CSPROPERTY_VIDEOCOMPRESSION_QUALITY) return kTranslateUnsupported;
  engine->payload.u32 = uint32_t(RoundHalfAway(float(client.Value) / (10000.0f / 99.0f) + 1.0f));
  return PVL_OK;
}

PvlResult TranslatePVLToVideoCompression(CSPROPERTY_VIDEOCOMPRESSION_S* client, uint32_t engineId,
                                         const PvlValueRecord& engine, const DevicePropertyRecord&, uint32_t pin) {
  if (engineId != ZUEUID_PROPERTY_JPEG_QUALITY) return kTranslateUnsupported;
  client->Property.Id = CSPROPERTY_VIDEOCOMPRESSION_QUALITY;
  client->StreamIndex = pin;
  client->Value = RoundHalfAway((float(engine.payload.u32) - 1.0f) / (99.0f / 10000.0f));
  return PVL_OK;
}

PvlResult TranslateJpegToPVL(PvlValueRecord* engine, uint32_t* mode, const CSPROPERTY_VIDEOPROCAMP_S& client,
                             const DevicePropertyRecord& row) {
  std::memset(engine, 0, sizeof *engine);
  engine->type = row.type;
  uint32_t m = 0;
  PvlResult r = ClientFlagsToControlMode(client.Flags, row.capabilities, &m);
  if (r != PVL_OK) return r;
  if (mode) *mode = m;
  switch (client.Property.Id) {
    case VANTOR_JPEG_QUALITY:
    case VANTOR_JPEG_THUMBNAIL_QUALITY: engine->payload.u32 = uint32_t(client.Value); return PVL_OK;
    case VANTOR_JPEG_ROTATION: engine->payload.u32 = uint32_t(client.Value) & 0xFFFFu; return PVL_OK;
    case VANTOR_JPEG_OPTION: engine->payload.u32 = uint32_t(client.Value) & 0xFFu; return PVL_OK;
  }
  return kTranslateUnsupported;
}

PvlResult TranslatePVLToJpeg(CSPROPERTY_VIDEOPROCAMP_S* client, uint32_t engineId, const PvlValueRecord& engine,
                             uint32_t mode, const DevicePropertyRecord& row) {
  if (mode != 2) return kTranslateUnsupported;
  switch (engineId) {
    case ZUEUID_PROPERTY_JPEG_QUALITY: client->Property.Id = VANTOR_JPEG_QUALITY; client->Value = int32_t(engine.payload.u32); break;
    case ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY: client->Property.Id = VANTOR_JPEG_THUMBNAIL_QUALITY; client->Value = int32_t(engine.payload.u32); break;
    case ZUEUID_PROPERTY_JPEG_ROTATION: client->Property.Id = VANTOR_JPEG_ROTATION; client->Value = int16_t(engine.payload.u32 & 0xFFFFu); break;
    case ZUEUID_PROPERTY_JPEG_OPTION: client->Property.Id = VANTOR_JPEG_OPTION; client->Value = int32_t(engine.payload.u32 & 0xFFu); break;
    default: return kTranslateUnsupported;
  }
  client->Flags = CSPROPERTY_FLAGS_MANUAL;
  client->Capabilities = row.capabilities;
  return PVL_OK;
}

void* MapCallerBuffer(void* pointer, DWORD length, DWORD required, DWORD* error) {
  if (!pointer || length < required) {
    *error = ERROR_INSUFFICIENT_BUFFER;
    return nullptr;
  }
  void* mapped = MapCallerPtr(pointer, length);
  if (!mapped) {
    *error = ERROR_INVALID_USER_BUFFER;
    return nullptr;
  }
  *error = ERROR_SUCCESS;
  return mapped;
}

namespace {

CSPROPERTY_DESCRIPTION Description(uint32_t size) {
  CSPROPERTY_DESCRIPTION d{};
  d.AccessFlags = CSPROPERTY_DESCRIPTION_ACCESS;
  d.DescriptionSize = size;
  d.PropTypeSet.Set = CSPROPTYPESETID_General;
  d.PropTypeSet.Id = 3;  // signed 32-bit
  d.PropTypeSet.Flags = 0;
  d.MembersListCount = 1;
  return d;
}

// The shared shape of both replies: access flags only, the header (234 when the
// tail does not fit), or everything.
template <typename Reply>
DWORD Reply_(void* out, DWORD outLength, DWORD* bytesReturned, const Reply& reply) {
  if (!out || outLength < sizeof(uint32_t)) return ERROR_INSUFFICIENT_BUFFER;
  if (outLength < sizeof(CSPROPERTY_DESCRIPTION)) {
    *bytesReturned = sizeof(uint32_t);
    uint32_t access = CSPROPERTY_DESCRIPTION_ACCESS;
    return CeSafeCopyMemory(out, &access, sizeof access) ? ERROR_SUCCESS : ERROR_MORE_DATA;
  }
  bool whole = outLength >= sizeof(Reply);
  *bytesReturned = whole ? sizeof(Reply) : sizeof(CSPROPERTY_DESCRIPTION);
  if (!CeSafeCopyMemory(out, &reply, *bytesReturned)) return ERROR_INVALID_USER_BUFFER;
  return whole ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

}  // namespace

DWORD AdapterReplyBasicSupport(void* out, DWORD outLength, DWORD* bytesReturned, const DevicePropertyRecord& row) {
  CSPROPERTY_BASICSUPPORT_REPLY reply{};
  reply.Description = Description(sizeof reply);
  reply.Members = {CSPROPERTY_MEMBER_RANGES, sizeof(CSPROPERTY_STEPPING_LONG), 1, 0};
  reply.Stepping = {uint32_t(row.step), 0, row.minimum, row.maximum};
  return Reply_(out, outLength, bytesReturned, reply);
}

DWORD AdapterReplyDefaultValues(void* out, DWORD outLength, DWORD* bytesReturned, const DevicePropertyRecord& row) {
  CSPROPERTY_DEFAULTVALUES_REPLY reply{};
  reply.Description = Description(sizeof reply);
  reply.Members = {CSPROPERTY_MEMBER_VALUES, sizeof(int32_t), 1, CSPROPERTY_MEMBER_FLAG_DEFAULT};
  reply.Default = row.defaultValue;
  return Reply_(out, outLength, bytesReturned, reply);
}

bool AdapterReplyDescription(uint32_t flags, void* out, DWORD outLength, DWORD* bytesReturned,
                             const DevicePropertyRecord& row, DWORD* answer) {
  if (flags == CSPROPERTY_TYPE_BASICSUPPORT) {
    *answer = AdapterReplyBasicSupport(out, outLength, bytesReturned, row);
    return true;
  }
  if (flags == CSPROPERTY_TYPE_DEFAULTVALUES) {
    *answer = AdapterReplyDefaultValues(out, outLength, bytesReturned, row);
    return true;
  }
  return false;
}
