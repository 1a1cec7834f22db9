// Camera interface payload. The skip patterns repeat every 16 samples, so the
// factor kept for the crop and the statistics area is always the pattern's
// real one (16 over the samples it keeps): factors that 16 does not divide
// are raised to the next pattern the interface can hold.
#include "ccamifconfiguration.h"

#include "camerasettings.h"
#include "pvllog.h"

#include <algorithm>

namespace {

// The largest decimation the scalers take per axis.
constexpr uint32_t kScalerLimit = 32;

uint32_t SecondStage(uint32_t decimation) {
  return decimation > kScalerLimit ? (decimation + kScalerLimit - 1) / kScalerLimit : 1;
}

struct SkipChoice {
  uint32_t factor;
  uint16_t pattern;
};

SkipChoice BayerPixelSkip(uint32_t factor) {
  // Bayer keeps pixel pairs so that the colour order survives.
  if (factor <= 1) return {1, 0xFFFF};
  if (factor == 2) return {2, 0xCCCC};
  if (factor <= 4) return {4, 0xC0C0};
  return {8, 0xC000};
}

SkipChoice YuvPixelSkip(uint32_t factor) {
  // Two bytes per YUV pixel: 0xF0F0 keeps half the pixels, 0xF000 a quarter.
  if (factor <= 1) return {1, 0xFFFF};
  if (factor == 2) return {2, 0xF0F0};
  return {4, 0xF000};
}

SkipChoice LineSkip(uint32_t factor) {
  if (factor <= 1) return {1, 0xFFFF};
  if (factor == 2) return {2, 0xCCCC};
  if (factor <= 4) return {4, 0xC0C0};
  return {8, 0xC000};
}

// Mode-information words 2 and 3: 1 gives polarity word 1, 2 gives 0.
bool Polarity(uint32_t word, uint32_t* out) {
  if (!IsOneOrTwo(word)) return false;
  *out = word == 2 ? 0 : 1;
  return true;
}

}  // namespace

void CCamifConfiguration::ResetPayload() {
  memset(&m_payload, 0, sizeof m_payload);
  m_payload.pixelSkipPattern = 0xFFFF;
  m_payload.lineSkipPattern = 0xFFFF;
  m_pixelSkip = 1;
  m_lineSkip = 1;
}

PvlResult CCamifConfiguration::Configure(IVfeSettings* settings) {
  ResetPayload();
  CSensorInfo sensor;
  PvlResult r = sensor.Fill(settings);
  if (r != PVL_OK) return r;

  const SensorModeInfo& mode = sensor.ModeInfo();
  if (!Polarity(mode.Words[3], &m_payload.polarityA)) return PVL_E_FAIL;
  if (!Polarity(mode.Words[2], &m_payload.polarityB)) return PVL_E_FAIL;
  switch (mode.Words[0]) {
    case 1:
    case 2:
    case 3:
      m_payload.syncMode = mode.Words[0] - 1;
      break;
    default:
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "syncMode=0x%x", static_cast<unsigned>(mode.Words[0]));
      return PVL_E_FAIL;
  }

  for (int i = 0; i < 4; ++i) m_payload.modeInfo[i] = static_cast<uint8_t>(mode.Words[7 - i]);
  const SensorGeometry& geometry = sensor.Geometry();
  m_payload.frameGeometry2 = static_cast<uint16_t>(geometry.Words[2]);
  m_payload.frameGeometry1 = static_cast<uint16_t>(geometry.Words[1]);
  m_payload.firstPixel = static_cast<uint16_t>(geometry.Words[4]);
  m_payload.lastPixel = static_cast<uint16_t>(geometry.Words[6] - 1);
  m_payload.firstLine = static_cast<uint16_t>(geometry.Words[3]);
  m_payload.lastLine = static_cast<uint16_t>(geometry.Words[5] - 1);

  uint32_t x = 0, y = 0;
  r = GetDecimation(sensor, &x, &y);
  if (r != PVL_OK) return r;
  SkipChoice pixel = sensor.IsYUV() ? YuvPixelSkip(SecondStage(x)) : BayerPixelSkip(SecondStage(x));
  SkipChoice line = LineSkip(SecondStage(y));
  m_pixelSkip = pixel.factor;
  m_payload.pixelSkipPattern = pixel.pattern;
  m_lineSkip = line.factor;
  m_payload.lineSkipPattern = line.pattern;

  bool selectorOn = m_patternSelector > 1;
  m_payload.subsampleEnable = ByteToBool(m_pixelSkip + m_lineSkip > 2 || selectorOn);
  m_payload.patternEnable = ByteToBool(selectorOn);
  m_payload.patternSelector = m_patternSelector;
  return PVL_OK;
}

PvlResult CCamifConfiguration::GetDecimation(const CSensorInfo& sensor, uint32_t* horizontal,
                                             uint32_t* vertical) {
  if (!horizontal || !vertical || !m_service) return PVL_E_NULLPTR;
  int32_t width = 0, height = 0;
  sensor.GetActiveSize(&width, &height);
  if (sensor.IsYUV()) width /= 2;

  IVideoOutputControl* raw = m_service->GetRawOutput();
  if (raw && raw->IsCurrentModeEnabled()) {
    *horizontal = *vertical = 1;
    return PVL_OK;
  }
  IVideoOutputControl* out1 = m_service->GetCurrentOutput1();
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  bool on1 = out1 && out1->IsCurrentModeEnabled();
  bool on2 = out2 && out2->IsCurrentModeEnabled();
  int32_t targetW = 0, targetH = 0;
  if (on1 && on2) {
    VfeSize a = out1->GetOutputSize(), b = out2->GetOutputSize();
    targetW = std::min(static_cast<int32_t>(a.width), static_cast<int32_t>(b.width));
    targetH = std::min(static_cast<int32_t>(a.height), static_cast<int32_t>(b.height));
  } else if (on1 || on2) {
    VfeSize s = (on1 ? out1 : out2)->GetOutputSize();
    targetW = static_cast<int32_t>(s.width);
    targetH = static_cast<int32_t>(s.height);
  } else {
    return PVL_E_FAIL;
  }
  if (targetW <= 0 || targetH <= 0 || width <= 0 || height <= 0) return PVL_E_FAIL;
  *horizontal = static_cast<uint32_t>((width + targetW - 1) / targetW);
  *vertical = static_cast<uint32_t>((height + targetH - 1) / targetH);
  return PVL_OK;
}
