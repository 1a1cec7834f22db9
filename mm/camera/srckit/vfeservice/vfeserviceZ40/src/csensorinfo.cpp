// CSensorInfo: the VFE side's copy of the sensor's description.
#include "csensorinfo.h"

#include <cstring>

#include "camerasettings.h"
#include "pvllog.h"

void CSensorInfo::Reset() {
  std::memset(&m_format, 0, sizeof m_format);
  std::memset(&m_timing, 0, sizeof m_timing);
  std::memset(&m_geometry, 0, sizeof m_geometry);
  std::memset(&m_modeInfo, 0, sizeof m_modeInfo);
}

PvlResult CSensorInfo::Fill(IVfeSettings* view) {
  if (!view) return PVL_E_NULLPTR;
  PvlResult r = view->GetSensorFormat(&m_format);
  if (r == PVL_OK) r = view->GetSensorTiming(&m_timing);
  if (r == PVL_OK) r = view->GetSensorGeometry(&m_geometry);
  if (r == PVL_OK) r = view->GetSensorModeInfo(&m_modeInfo);
  return r;
}

void CSensorInfo::GetActiveSize(int32_t* width, int32_t* height) const {
  // End words are one past the last pixel and line, as the camera interface
  // programs them (end - 1) and the crop reads them.
  int32_t w = static_cast<int32_t>(m_geometry.Words[6]) - static_cast<int32_t>(m_geometry.Words[4]);
  int32_t h = static_cast<int32_t>(m_geometry.Words[5]) - static_cast<int32_t>(m_geometry.Words[3]);
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "width=%d, height=%d", static_cast<int>(w), static_cast<int>(h));
  if (width) *width = w;
  if (height) *height = h;
}
