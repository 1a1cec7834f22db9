#include "cframedropconfiguration.h"

#include "camerasettings.h"
#include "csensorinfo.h"
#include "plindor.h"
#include "pvllog.h"

namespace {

constexpr uint8_t kVideoPeriod = 30;
constexpr uint8_t kResetPeriod = 31;
// The test tool's fixed pattern: one frame of six.
constexpr uint32_t kTestModePattern = 0x01041041u;

// Index: frames dropped of every 30. Each entry keeps 30 - index frames spread
// over the period (entry 8 keeps 22).
constexpr uint32_t kKeepPatterns[31] = {
    0x7FFFFFFF, 0x3FFFBFFF, 0x1FFFBFFF, 0x3FEFFBFE, 0x3F7EFEFD, 0x3EFBEFBE, 0x3DEF7BDE, 0x3BBDDDDD,
    0x3BB6EEED, 0x1BB6EDBB, 0x1B6DB6DB, 0x2D6DB6D6, 0x2D6B5AD6, 0x2D6AAAD6, 0x2AAB5555, 0x2AAAAAAA,
    0x1554AAAA, 0x12955529, 0x1294A529, 0x12924929, 0x09249249, 0x24491244, 0x08891112, 0x04422222,
    0x02108421, 0x01041041, 0x00810102, 0x01004001, 0x20004000, 0x00008000, 0x00000000,
};

uint32_t DropsFor(uint32_t sensorInterval, uint32_t outputInterval) {
  if (outputInterval == 0 || outputInterval <= sensorInterval) return 0;
  float d = (1.0f - static_cast<float>(sensorInterval) / static_cast<float>(outputInterval)) * 30.0f;
  int32_t drops = static_cast<int32_t>(d);
  if (drops < 1) return 0;
  return drops > 30 ? 30 : static_cast<uint32_t>(drops);
}

}  // namespace

uint32_t CFrameDropConfiguration::PatternFor(uint32_t drops) {
  return kKeepPatterns[drops > 30 ? 30 : drops];
}

PvlResult CFrameDropConfiguration::Reset() {
  memset(&m_payload, 0, sizeof m_payload);
  m_payload.output1Period = kResetPeriod;
  m_payload.output2Period = kResetPeriod;
  m_payload.output1Pattern = 0xFFFFFFFFu;
  m_payload.output2Pattern = 0xFFFFFFFFu;
  return PVL_OK;
}

PvlResult CFrameDropConfiguration::DropFrame(uint32_t* pattern, uint32_t n) {
  if (!pattern) return PVL_E_NULLPTR;
  if (n >= 32) return PVL_E_BADARG;
  *pattern &= ~(1u << n);
  return PVL_OK;
}

PvlResult CFrameDropConfiguration::DropLeadingFrames(uint32_t* pattern, uint32_t n) {
  if (!pattern) return PVL_E_NULLPTR;
  if (n >= 32) return PVL_E_BADARG;
  *pattern &= n == 0 ? 0xFFFFFFFFu : ~((1u << n) - 1);
  return PVL_OK;
}

PvlResult CFrameDropConfiguration::ConfigureVideo(IVfeSettings* settings) {
  if (!settings) return PVL_E_NULLPTR;
  SensorTiming timing{};
  PvlResult r = settings->GetSensorTiming(&timing);
  if (r != PVL_OK) return r;
  uint32_t sensor = timing.Words[0];
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Frame Drop - Sensor output frame interval %d", static_cast<int>(sensor));
  bool testMode = VantorIsCameraLTKRunning() == 1;

  IVideoOutputControl* out1 = m_service->GetCurrentOutput1();
  if (out1 && out1->IsCurrentModeEnabled()) {
    uint32_t interval = out1->GetFrameInterval();
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Frame Drop - Output1 frame interval %d", static_cast<int>(interval));
    uint32_t pattern = testMode ? kTestModePattern : PatternFor(DropsFor(sensor, interval));
    m_payload.output1Pattern = pattern;
    m_payload.output1Period = kVideoPeriod;
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Frame Drop - Output1 skip pattern %x", static_cast<unsigned>(pattern));
  }
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  if (out2 && out2->IsCurrentModeEnabled()) {
    uint32_t interval = out2->GetFrameInterval();
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Frame Drop - Output2 frame interval %d", static_cast<int>(interval));
    uint32_t pattern = testMode ? kTestModePattern : PatternFor(DropsFor(sensor, interval));
    m_payload.output2Pattern = pattern;
    m_payload.output2Period = kVideoPeriod;
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Frame Drop - Output2 skip pattern %x", static_cast<unsigned>(pattern));
  }
  return PVL_OK;
}
