// The engine's VFE settings view as a double, for the VFE blocks, their
// chains and the VFE service: the sensor records, the crop factor and the
// picture settings a test sets, each slot failing with the answer a test puts
// in `fail` and counted in `reads`; the slots no test needs answer 20.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "csensorinfo.h"

namespace vfeconfigtest {

class VfeSettingsDouble : public IVfeSettings {
 public:
  SensorOutputFormat format{{3, 0, 0}};  // Bayer
  SensorTiming timing{{33333, 0, 0, 0}};
  SensorGeometry geometry{};
  SensorModeInfo modeInfo{};
  CFixedPoint crop{1.0};
  CameraRange brightness{0, 10, 1, 5, 5}, contrast{0, 10, 1, 5, 5}, saturation{0, 10, 1, 5, 5};
  CameraFloatRange gamma{0.01f, 100.0f, 0.01f, 1.0f, 1.0f};  // the user's gamma: 1.0 keeps the curve
  CameraFloatRange hue{-180.0f, 180.0f, 1.0f, 0.0f, 0.0f};
  uint32_t effectMode = 0, effect = 0, illuminant = 10, aecIndex = 200;
  CFixedPoint digitalGain{1.0}, exposureGain{2.0};
  uint8_t afWholeFrame = 1;
  int32_t afCellCount = 0;
  uint8_t afCells[16] = {};
  CameraRange sharpness{0, 10, 1, 5, 5};
  uint8_t awbLumaFloor = 0;
  uint32_t settleFrames = 1;
  CFixedPoint wbRed{1.0}, wbGreen{1.0}, wbBlue{1.0};
  CameraRange fixedCb{0, 255, 1, 128, 128}, fixedCr{0, 255, 1, 128, 128};
  uint32_t aecSettled = 30;  // frames since the exposure settled
  uint8_t aecDark = 0;
  uint32_t lumaAdaptationMode = 0;
  std::vector<uint8_t> lumaMapping;  // the 256-byte VFE block (empty: none)
  std::map<std::string, PvlResult> fail;
  std::map<std::string, int> reads;  // how often each slot was asked
  int32_t maxCropRaw = 0;             // the last maximum crop factor set

  VfeSettingsDouble() { SetActive(0, 0, 2592, 1944); }
  // The active region [x0, x1) x [y0, y1) and sync settings the interface accepts.
  void SetActive(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
    geometry.Words[3] = y0;
    geometry.Words[4] = x0;
    geometry.Words[5] = y1;
    geometry.Words[6] = x1;
    geometry.Words[9] = x1;
    geometry.Words[10] = y1;
    modeInfo.Words[0] = 1;
    modeInfo.Words[2] = 1;
    modeInfo.Words[3] = 1;
  }

  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    *out = iid == ZUEUID_VFE_SETTINGS ? static_cast<IVfeSettings*>(this) : nullptr;
    return *out ? PVL_OK : PVL_E_NOTSUPPORTED;
  }

#define VFE_VIEW_FIELD(Name, Type, field)       \
  PvlResult Name(Type* out) override {          \
    ++reads[#Name];                             \
    auto f = fail.find(#Name);                  \
    if (f != fail.end()) return f->second;      \
    *out = field;                               \
    return PVL_OK;                              \
  }
  VFE_VIEW_FIELD(GetSensorFormat, SensorOutputFormat, format)
  VFE_VIEW_FIELD(GetSensorTiming, SensorTiming, timing)
  VFE_VIEW_FIELD(GetSensorGeometry, SensorGeometry, geometry)
  VFE_VIEW_FIELD(GetSensorModeInfo, SensorModeInfo, modeInfo)
  VFE_VIEW_FIELD(GetCropFactor, CFixedPoint, crop)
  VFE_VIEW_FIELD(GetContrast, CameraRange, contrast)
  VFE_VIEW_FIELD(GetGammaCurve, CameraFloatRange, gamma)
  VFE_VIEW_FIELD(GetBrightness, CameraRange, brightness)
  VFE_VIEW_FIELD(GetImageEffectMode, uint32_t, effectMode)
  VFE_VIEW_FIELD(GetImageEffect, uint32_t, effect)
  VFE_VIEW_FIELD(GetSaturation, CameraRange, saturation)
  VFE_VIEW_FIELD(GetHueAngle, CameraFloatRange, hue)
  VFE_VIEW_FIELD(GetDigitalGain, CFixedPoint, digitalGain)
  VFE_VIEW_FIELD(GetWhiteBalanceIlluminant, uint32_t, illuminant)
  VFE_VIEW_FIELD(GetAecIndex, uint32_t, aecIndex)
  VFE_VIEW_FIELD(GetExposureGain, CFixedPoint, exposureGain)
  VFE_VIEW_FIELD(GetModeTimingWord0, uint32_t, settleFrames)
  VFE_VIEW_FIELD(GetSharpness, CameraRange, sharpness)
  VFE_VIEW_FIELD(GetAwbFlagB, uint8_t, awbLumaFloor)
  VFE_VIEW_FIELD(GetFixedCbOffset, CameraRange, fixedCb)
  VFE_VIEW_FIELD(GetFixedCrOffset, CameraRange, fixedCr)
  VFE_VIEW_FIELD(GetLumaAdaptationMode, uint32_t, lumaAdaptationMode)
#undef VFE_VIEW_FIELD

#define VFE_VIEW_NONE(Name, Type) \
  PvlResult Name(Type*) override { return PVL_E_UNSUPPORTED; }
  VFE_VIEW_NONE(GetReservedFlag, uint8_t)
  VFE_VIEW_NONE(GetAecFlagA, uint8_t)
  VFE_VIEW_NONE(GetFlashNeeded, uint8_t)
  VFE_VIEW_NONE(GetFocusState, uint32_t)
  VFE_VIEW_NONE(GetAecWordB, uint32_t)
  VFE_VIEW_NONE(GetOutputDescription, CameraOutputDescription)
#undef VFE_VIEW_NONE
  PvlResult SetMaxCropFactor(const CFixedPoint* factor) override {
    maxCropRaw = factor->GetRawValue();
    return PVL_OK;
  }
  PvlResult GetWhiteBalanceGains(CFixedPoint* red, CFixedPoint* green, CFixedPoint* blue) override {
    ++reads["GetWhiteBalanceGains"];
    auto f = fail.find("GetWhiteBalanceGains");
    if (f != fail.end()) return f->second;
    *red = wbRed;
    *green = wbGreen;
    *blue = wbBlue;
    return PVL_OK;
  }
  PvlResult GetAecPair(uint32_t* word, uint8_t* byte) override {
    ++reads["GetAecPair"];
    auto f = fail.find("GetAecPair");
    if (f != fail.end()) return f->second;
    *word = aecSettled;
    *byte = aecDark;
    return PVL_OK;
  }
  PvlResult GetAFWindowConfig(uint8_t* wholeFrame, uint8_t* cells, int32_t capacity, int32_t* count) override {
    auto f = fail.find("GetAFWindowConfig");
    if (f != fail.end()) return f->second;
    *wholeFrame = afWholeFrame;
    if (count) *count = afCellCount;
    for (int32_t i = 0; cells && i < capacity && i < afCellCount && i < 16; ++i) cells[i] = afCells[i];
    return PVL_OK;
  }
  PvlResult GetVfeBlock(void* buffer, int32_t size, uint32_t* sizeOut) override {
    ++reads["GetVfeBlock"];
    auto f = fail.find("GetVfeBlock");
    if (f != fail.end()) return f->second;
    if (lumaMapping.empty()) return PVL_E_UNSUPPORTED;
    if (size < 256) return PVL_E_BUFFERTOOSMALL;
    std::memcpy(buffer, lumaMapping.data(), lumaMapping.size() < 256 ? lumaMapping.size() : 256);
    *sizeOut = static_cast<uint32_t>(lumaMapping.size());
    return PVL_OK;
  }
  PvlResult SetVfeBlock(const void*, uint32_t) override { return PVL_E_UNSUPPORTED; }
};

}  // namespace vfeconfigtest
