// The engine's reader of the client's camera properties.
#include "cuserdata.h"

#include <cstring>

#include "camerapropertyids.h"
#include "cpvlvariant.h"
#include "pvllog.h"

namespace {
constexpr uint32_t kTypeFloat = PVL_VT_FLOAT;
constexpr uint32_t kTypeInt = PVL_VT_SINT32;
constexpr uint32_t kTypePair = 13;      // (columns, rows)
constexpr uint32_t kTypeRect = PVL_VT_RECT;
constexpr uint32_t kTypeFraction = 15;  // (numerator, denominator)
constexpr uint32_t kTypeId = PVL_VT_UINT32;
constexpr uint32_t kTypeArray = PVL_VT_ARRAY;

PvlValueRecord Record(uint32_t type) {
  PvlValueRecord r;
  std::memset(&r, 0, sizeof r);
  r.type = type;
  return r;
}
PvlValueRecord IntRecord(int32_t v) {
  PvlValueRecord r = Record(kTypeInt);
  r.payload.i32 = v;
  return r;
}
PvlValueRecord FloatRecord(float v) {
  PvlValueRecord r = Record(kTypeFloat);
  r.payload.f = v;
  return r;
}
PvlValueRecord FractionRecord(uint32_t numerator, uint32_t denominator) {
  PvlValueRecord r = Record(kTypeFraction);
  r.payload.rational.numerator = numerator;
  r.payload.rational.denominator = denominator;
  return r;
}
}  // namespace

#define CATCH_RESULT                          \
  catch (const Camera::CZUEException& e) {    \
    return e.GetResult();                     \
  }

CUserData::CUserData() : m_snapshotCount(1) {}

void CUserData::SetSources(IProperties* store, ICameraPortFormatSource* formats) {
  m_store = store;
  m_formats = formats;
}

uint32_t CUserData::MapModeWord(uint32_t mode) {
  switch (mode) {
    case 1: return 1;
    case 2: return 3;
    case 3: return 2;
    default: return 0;
  }
}

PvlResult CUserData::ReadValue(uint32_t type, uint32_t id, PvlValueRecord* out) {
  if (!m_store) return PVL_E_NOTREADY;
  PvlValueRecord v = Record(type);
  PvlResult r = m_store->GetProperty(id, &v);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Error retrieving property: %x", static_cast<unsigned>(id));
    return r;
  }
  *out = v;
  return PVL_OK;
}

void CUserData::FetchValue(uint32_t type, uint32_t id, PvlValueRecord* out) {
  PvlResult r = ReadValue(type, id, out);
  if (r != PVL_OK) throw Camera::CZUEException(r);
}

CUserData::Summary CUserData::FetchSummary(uint32_t id, bool isFloat) {
  if (!m_store) throw Camera::CZUEException(PVL_E_NOTREADY);
  PvlValueRecord zero = isFloat ? FloatRecord(0.0f) : IntRecord(0);
  PvlValueRecord step = isFloat ? FloatRecord(1.0f) : IntRecord(1);
  // Not a copying descriptor: its empty names are literals that outlive it and the
  // store fills only scalar values, so there is nothing to own; the settings are
  // read several times a frame and each copy costs two heap blocks.
  CPvlPropertyDesc desc(id, "", "", &zero, &zero, &zero, &zero, &step, 2, 0, 0);
  PvlResult result = PVL_OK;
  PvlResult r = m_store->GetProperties(&desc, 1, &result);
  if (r == PVL_OK) r = result;
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Error retrieving property: %x", static_cast<unsigned>(id));
    throw Camera::CZUEException(r);
  }
  return Summary{desc.GetMinimum()->payload.u32, desc.GetMaximum()->payload.u32, desc.GetStep()->payload.u32,
                 desc.GetDefault()->payload.u32, desc.GetValue()->payload.u32, desc.GetAttribute()};
}

PvlResult CUserData::GetRange(uint32_t id, CameraRange* out) {
  if (!out) return PVL_E_NULLPTR;
  try {
    Summary s = FetchSummary(id, false);
    *out = CameraRange{int32_t(s.minimum), int32_t(s.maximum), int32_t(s.step), int32_t(s.def), int32_t(s.value)};
    return PVL_OK;
  }
  CATCH_RESULT
}

PvlResult CUserData::GetFloatRange(uint32_t id, CameraFloatRange* out) {
  if (!out) return PVL_E_NULLPTR;
  try {
    Summary s = FetchSummary(id, true);
    uint32_t words[5] = {s.minimum, s.maximum, s.step, s.def, s.value};
    std::memcpy(out, words, sizeof *out);
    return PVL_OK;
  }
  CATCH_RESULT
}

PvlResult CUserData::GetMappedMode(uint32_t id, uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  try {
    *out = MapModeWord(FetchSummary(id, false).mode);
    return PVL_OK;
  }
  CATCH_RESULT
}

PvlResult CUserData::GetInt(uint32_t id, int32_t* out) {
  PvlValueRecord v;
  PvlResult r = ReadValue(kTypeInt, id, &v);
  if (r == PVL_OK) *out = v.payload.i32;
  return r;
}

// The integer value as the views hand it out, unsigned.
PvlResult CUserData::GetUInt(uint32_t id, uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  int32_t v = 0;
  PvlResult r = GetInt(id, &v);
  if (r == PVL_OK) *out = static_cast<uint32_t>(v);
  return r;
}

// An integer value that must lie in 0..maximum; one outside it fails.
PvlResult CUserData::GetIntUpTo(uint32_t id, int32_t maximum, uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  int32_t v = 0;
  PvlResult r = GetInt(id, &v);
  if (r != PVL_OK) return r;
  if (v < 0 || v > maximum) return PVL_E_FAIL;
  *out = static_cast<uint32_t>(v);
  return PVL_OK;
}

PvlResult CUserData::GetAntibandingMode(uint32_t* out) { return GetMappedMode(ZUEUID_PROPERTY_ANTIBANDING_MODE, out); }

PvlResult CUserData::GetAntibanding(uint32_t* out) { return GetUInt(ZUEUID_PROPERTY_ANTIBANDING_MODE, out); }

PvlResult CUserData::GetExposureCompensation(CameraFraction* out) {
  if (!out) return PVL_E_NULLPTR;
  PvlValueRecord v;
  PvlResult r = ReadValue(kTypeFraction, ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, &v);
  if (r != PVL_OK) return r;
  out->Numerator = static_cast<int32_t>(v.payload.rational.numerator);
  out->Denominator = static_cast<int32_t>(v.payload.rational.denominator);
  return PVL_OK;
}

PvlResult CUserData::GetExposureMeteringMode(uint32_t* out) {
  return GetIntUpTo(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, 12, out);
}

PvlResult CUserData::GetSnapshotHJRMode(uint32_t* out) {
  return GetMappedMode(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, out);
}
PvlResult CUserData::GetISORange(CameraRange* out) { return GetRange(ZUEUID_PROPERTY_ISO_MODE, out); }
PvlResult CUserData::GetISOMode(uint32_t* out) { return GetMappedMode(ZUEUID_PROPERTY_ISO_MODE, out); }

PvlResult CUserData::GetAperture(float* out) {
  if (!out) return PVL_E_NULLPTR;
  PvlValueRecord v;
  PvlResult r = ReadValue(kTypeFloat, ZUEUID_PROPERTY_APERTURE, &v);
  if (r == PVL_OK) *out = v.payload.f;
  return r;
}

// A shutter speed left automatic is no fixed time: 0, whatever value it holds.
PvlResult CUserData::GetSnapshotShutterSpeed(uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  try {
    const Summary s = FetchSummary(ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, false);
    *out = MapModeWord(s.mode) == 2 ? 0 : s.value;
    return PVL_OK;
  }
  CATCH_RESULT
}

PvlResult CUserData::GetWhiteBalanceMode(uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  try {
    switch (FetchSummary(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, false).mode) {
      case 2: *out = 1; break;
      case 3: *out = 0; break;
      case 4: *out = 2; break;
      case 5: *out = 3; break;
      case 6: *out = 4; break;
      default: break;
    }
    return PVL_OK;
  }
  CATCH_RESULT
}

PvlResult CUserData::GetWhiteBalanceValue(uint32_t* out) { return GetUInt(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, out); }

PvlResult CUserData::GetLampIntensity(CameraRange* out) { return GetRange(ZUEUID_PROPERTY_LAMP_INTENSITY, out); }
PvlResult CUserData::GetLampMode(uint32_t* out) { return GetMappedMode(ZUEUID_PROPERTY_LAMP_MODE, out); }
PvlResult CUserData::GetSnapshotFlashIntensity(CameraRange* out) {
  return GetRange(ZUEUID_PROPERTY_SNAPSHOT_FLASH_INTENSITY, out);
}
PvlResult CUserData::GetSnapshotFlashMode(uint32_t* out) {
  return GetMappedMode(ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, out);
}

PvlResult CUserData::GetRedEyeReductionMode(uint32_t* out) {
  return GetIntUpTo(ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2, 2, out);
}

PvlResult CUserData::GetCurrentFlashDeviceId(uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  PvlValueRecord v;
  PvlResult r = ReadValue(kTypeId, ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, &v);
  if (r == PVL_OK) *out = v.payload.u32;
  return r;
}

PvlResult CUserData::GetFocusMode(uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  int32_t v = 0;
  PvlResult r = GetInt(ZUEUID_PROPERTY_FOCUS_MODE, &v);
  if (r != PVL_OK) return r;
  if (v == 0) *out = 1;
  else if (v == 1) *out = 0;
  else return PVL_E_FAIL;
  return PVL_OK;
}

PvlResult CUserData::GetFocusStep(uint32_t* out) { return GetUInt(ZUEUID_PROPERTY_FOCUS_STEP, out); }

PvlResult CUserData::GetFocusRectangleMode(uint32_t* out) {
  return GetIntUpTo(ZUEUID_PROPERTY_FOCUS_RECT_MODE, 2, out);
}

PvlResult CUserData::GetContrast(CameraRange* out) { return GetRange(ZUEUID_PROPERTY_CONTRAST, out); }
PvlResult CUserData::GetBrightness(CameraRange* out) { return GetRange(ZUEUID_PROPERTY_BRIGHTNESS, out); }
PvlResult CUserData::GetGammaCurve(CameraFloatRange* out) { return GetFloatRange(ZUEUID_PROPERTY_GAMMA_CURVE, out); }

PvlResult CUserData::GetImageEffect(uint32_t* out) { return GetIntUpTo(ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, 4, out); }

PvlResult CUserData::GetImageEffectMode(uint32_t* out) { return GetMappedMode(ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, out); }
PvlResult CUserData::GetFixedCbOffset(CameraRange* out) { return GetRange(ZUEUID_PROPERTY_FIXED_CB_OFFSET, out); }
PvlResult CUserData::GetFixedCrOffset(CameraRange* out) { return GetRange(ZUEUID_PROPERTY_FIXED_CR_OFFSET, out); }
PvlResult CUserData::GetSaturation(CameraRange* out) { return GetRange(ZUEUID_PROPERTY_SATURATION, out); }
PvlResult CUserData::GetHueAngle(CameraFloatRange* out) { return GetFloatRange(ZUEUID_PROPERTY_HUE_ANGLE, out); }
PvlResult CUserData::GetSharpness(CameraRange* out) { return GetRange(ZUEUID_PROPERTY_SHARPNESS, out); }
PvlResult CUserData::GetLumaAdaptationMode(uint32_t* out) {
  return GetMappedMode(ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE, out);
}

PvlResult CUserData::GetCropFactor(CFixedPoint* out) {
  if (!out) return PVL_E_NULLPTR;
  try {
    Summary s = FetchSummary(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, true);
    float value;
    std::memcpy(&value, &s.value, sizeof value);
    *out = CFixedPoint(8u, static_cast<double>(value));
    return PVL_OK;
  }
  CATCH_RESULT
}

PvlResult CUserData::GetBestShotMode(uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  // The property's values are the scenes in alphabetical order.
  static const uint32_t kModes[11] = {9, 7, 3, 11, 10, 1, 5, 6, 2, 8, 4};
  try {
    if (MapModeWord(FetchSummary(ZUEUID_PROPERTY_BEST_SHOT_MODE, false).mode) == 0) {
      *out = 0;
      return PVL_OK;
    }
    PvlValueRecord v;
    FetchValue(kTypeInt, ZUEUID_PROPERTY_BEST_SHOT_MODE, &v);
    // Negative values are as far out of the table as large ones.
    if (v.payload.i32 < 0 || v.payload.i32 > 10) return PVL_E_NOTFOUND;
    *out = kModes[v.payload.i32];
    return PVL_OK;
  }
  CATCH_RESULT
}

PvlResult CUserData::EnabledFormats(CameraPortFormat* formats, uint32_t* count) {
  if (!m_formats) return PVL_E_NOTREADY;
  uint32_t n = 0;
  PvlResult r = m_formats->GetEnabledPortFormats(formats, 2, &n);
  if (r != PVL_OK) return r;
  if (n > 2) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "More output formats than expected: %d", static_cast<int>(n));
    n = 2;
  }
  *count = n;
  return PVL_OK;
}

PvlResult CUserData::GetMinFrameInterval(uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  CameraPortFormat f[2] = {};
  uint32_t n = 0;
  PvlResult r = EnabledFormats(f, &n);
  if (r != PVL_OK) return r;
  if (n == 0) return PVL_OK;
  uint32_t v = f[0].FrameInterval;
  for (uint32_t i = 1; i < n; ++i)
    if (f[i].FrameInterval < v) v = f[i].FrameInterval;
  *out = v;
  return PVL_OK;
}

PvlResult CUserData::GetMaxFrameRate(CFixedPoint* out) {
  if (!out) return PVL_E_NULLPTR;
  uint32_t interval = 0;
  PvlResult r = GetMinFrameInterval(&interval);
  if (r != PVL_OK) return r;
  // No enabled output (or one without an interval) has no frame rate.
  if (interval == 0) return PVL_E_NOTREADY;
  *out = CFixedPoint(8u, 1000000.0 / interval);
  return PVL_OK;
}

PvlResult CUserData::GetLargestOutputFormat(CameraPortFormat* out) {
  if (!out) return PVL_E_NULLPTR;
  CameraPortFormat f[2] = {};
  uint32_t n = 0;
  PvlResult r = EnabledFormats(f, &n);
  if (r != PVL_OK) return r;
  if (n == 0) return PVL_OK;
  uint32_t best = 0;
  for (uint32_t i = 1; i < n; ++i)
    if (uint64_t(f[i].Width) * f[i].Height > uint64_t(f[best].Width) * f[best].Height) best = i;
  *out = f[best];
  return PVL_OK;
}

PvlResult CUserData::AreAllOutputsFlagged(uint8_t* out) {
  if (!out) return PVL_E_NULLPTR;
  CameraPortFormat f[2] = {};
  uint32_t n = 0;
  PvlResult r = EnabledFormats(f, &n);
  if (r != PVL_OK) return r;
  uint8_t all = 1;
  for (uint32_t i = 0; i < n; ++i)
    if (f[i].AutoFrameRate == 0) all = 0;
  *out = all;
  return PVL_OK;
}

PvlResult CUserData::IsAwbSupported(uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  *out = 1;
  return PVL_OK;
}

PvlResult CUserData::GetFocusCells(uint8_t* cells, int32_t capacity, int32_t* count) {
  if (!count) return PVL_E_NULLPTR;
  if (!cells && capacity >= 1) return PVL_E_NULLPTR;
  PvlValueRecord rects[16];
  std::memset(rects, 0, sizeof rects);
  try {
    PvlValueRecord array = Record(kTypeArray);
    array.payload.array.data = rects;
    array.payload.array.capacity = 16;
    array.payload.array.filled = 0;
    if (!m_store) return PVL_E_NOTREADY;
    if (m_store->GetProperty(ZUEUID_PROPERTY_FOCUS_RECTS, &array) != PVL_OK) return PVL_E_FAIL;
    int32_t filled = array.payload.array.filled;
    if (filled < 0) filled = 0;
    if (filled > 16) filled = 16;
    PvlValueRecord grid;
    FetchValue(kTypePair, ZUEUID_PROPERTY_FOCUS_RECT_GRID, &grid);
    int32_t columns = grid.payload.pair.first;
    int32_t rows = grid.payload.pair.second;
    // A cell is named by one byte: a grid of more cells than that has no
    // indices to give (and would take long to walk).
    if (int64_t(columns) * rows > 256 && columns > 0 && rows > 0) return PVL_E_BADARG;
    int32_t n = 0;
    for (int32_t r = 0; r < rows; ++r) {
      for (int32_t c = 0; c < columns; ++c) {
        for (int32_t i = 0; i < filled; ++i) {
          if (rects[i].type != kTypeRect) continue;
          const CPvlRect& rc = rects[i].payload.rect;
          if (rc.left <= c && c < rc.right && rc.top <= r && r < rc.bottom) {
            if (n < capacity) {
              cells[n] = static_cast<uint8_t>(columns * r + c);
              ++n;
              break;
            }
            ++n;  // the buffer is full: every match counts
          }
        }
      }
    }
    *count = n;
    return PVL_OK;
  }
  CATCH_RESULT
}

PvlResult CUserData::SetFocusStep(int32_t step) {
  if (!m_store) return PVL_E_NOTREADY;
  PvlValueRecord v = IntRecord(step);
  return m_store->SetProperty(ZUEUID_PROPERTY_FOCUS_STEP, &v);
}

PvlResult CUserData::UpdateFocusRectangleGrid() {
  uint32_t mode = 0;
  PvlResult r = GetFocusRectangleMode(&mode);
  if (r != PVL_OK) return r;
  PvlValueRecord grid = Record(kTypePair);
  if (mode == 0 || mode == 2) grid.payload.pair = CPvlPair{1, 1};
  else if (mode == 1) grid.payload.pair = CPvlPair{16, 16};
  else return PVL_E_NOTREADY;
  return m_store->SetProperty(ZUEUID_PROPERTY_FOCUS_RECT_GRID, &grid);
}

PvlResult CUserData::SetMaxCropFactor(const CFixedPoint& factor) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "SetMaxCropFactor: %d, Q%d", static_cast<int>(factor.GetRawValue()),
                   static_cast<int>(factor.GetQ()));
  if (!m_store) return PVL_E_NOTREADY;
  float f = 0.0f;
  PvlResult r = factor.GetFloat(&f);
  if (r != PVL_OK) return r;  // the range and the value stay as they are
  if (f < 1.0f) f = 1.0f;
  PvlPropertyRangeRecord range;
  std::memset(&range, 0, sizeof range);
  range.id = ZUEUID_PROPERTY_ZOOM_MAGNIFICATION;
  range.minimum = FloatRecord(1.0f);
  range.maximum = FloatRecord(f);
  range.def = FloatRecord(1.0f);
  range.step = FloatRecord(0.1f);
  r = m_store->SetRanges(&range, 1);
  try {
    Summary s = FetchSummary(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, true);
    float value;
    std::memcpy(&value, &s.value, sizeof value);
    if (value > f) {
      PvlValueRecord v = FloatRecord(f);
      r = m_store->SetProperty(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, &v);
    }
    return r;
  }
  CATCH_RESULT
}

PvlResult CUserData::SetExposureCompensationRange(uint32_t denominator, uint32_t step, uint32_t minimum,
                                                  uint32_t maximum) {
  if (!m_store) return PVL_E_NOTREADY;
  PvlPropertyRangeRecord range;
  std::memset(&range, 0, sizeof range);
  range.id = ZUEUID_PROPERTY_EXPOSURE_COMPENSATION;
  range.minimum = FractionRecord(minimum, denominator);
  range.maximum = FractionRecord(maximum, denominator);
  range.def = FractionRecord(0, denominator);
  range.step = FractionRecord(step, denominator);
  return m_store->SetRanges(&range, 1);
}
