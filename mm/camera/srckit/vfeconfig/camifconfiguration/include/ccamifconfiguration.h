// Camera interface: the block that receives the sensor's pixel stream. It
// takes the sync settings and the active window from the sensor and drops
// pixels and lines itself so that no scaler has to shrink by more than 32.
// Sends VFE_CMD_CAMIF (3) with 56 bytes; no tuning keys; fed by the sensor's
// format, geometry and mode information (settings slots 17-20) and the
// outputs' enables and sizes.
#pragma once

#include "csensorinfo.h"
#include "cvfeconfiguration.h"

class IVfeSettings;

class CCamifConfiguration : public CVfeConfiguration<VfeCamifCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_CAMIF; }

  // 0-15; anything else is stored as 0.
  void SetPatternSelector(uint32_t selector) { m_patternSelector = selector <= 15 ? selector : 0; }
  uint32_t GetPatternSelector() const { return m_patternSelector; }

  // Computes the payload from the sensor and the outputs; does not send it.
  PvlResult Configure(IVfeSettings* settings);
  // The total decimation the outputs need of the sensor's active area.
  PvlResult GetDecimation(const CSensorInfo& sensor, uint32_t* horizontal, uint32_t* vertical);

  uint32_t GetPixelSkipFactor() const { return m_pixelSkip; }
  uint32_t GetLineSkipFactor() const { return m_lineSkip; }
  uint32_t GetWindowWidth() const {
    return static_cast<uint32_t>(m_payload.lastPixel) - m_payload.firstPixel + 1;
  }
  uint32_t GetWindowHeight() const {
    return static_cast<uint32_t>(m_payload.lastLine) - m_payload.firstLine + 1;
  }

  CCamifConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}

 private:
  void ResetPayload();

  uint32_t m_lineSkip = 1;
  uint32_t m_pixelSkip = 1;
  uint32_t m_patternSelector = 0;
};
