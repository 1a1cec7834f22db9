// Field-of-view crop: cuts the window of the sensor frame that the scalers
// shrink to the output sizes; zoom narrows it by the user's crop factor and
// the outputs' aspect ratios. Sends VFE_CMD_FOV_CROP (9), or
// VFE_CMD_FOV_CROP_UPDATE (31) while frames flow, with 10 bytes; no tuning
// keys; fed by the crop factor (settings slot 14), the sensor information,
// the camera interface's window and skip factors and the outputs' sizes.
#pragma once

#include "csensorinfo.h"
#include "cvfeconfiguration.h"

class IVfeSettings;

class CFovCropConfiguration : public CVfeConfiguration<VfeFovCropCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_FOV_CROP; }

  // The whole window the camera interface passes on.
  PvlResult SetDefaultWindow(IVfeSettings* settings);
  // Narrows the current window by the crop factor and the outputs' ratios.
  PvlResult GetCropWindow(IVfeSettings* settings);
  // SetDefaultWindow, then GetCropWindow.
  PvlResult Recompute(IVfeSettings* settings);
  PvlResult SendUpdate();
  // The largest crop factor the outputs allow; 1.0 when nothing can be cropped.
  float GetMaxCropFactor();

  uint32_t GetWindowWidth() const {
    return static_cast<uint32_t>(m_payload.lastPixel) - m_payload.firstPixel + 1;
  }
  uint32_t GetWindowHeight() const {
    return static_cast<uint32_t>(m_payload.lastLine) - m_payload.firstLine + 1;
  }

  CFovCropConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}

 private:
  CSensorInfo m_sensor;
};
