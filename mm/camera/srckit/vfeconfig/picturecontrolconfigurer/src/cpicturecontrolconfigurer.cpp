#include "cpicturecontrolconfigurer.h"

#include "camerasettings.h"
#include "casfconfiguration.h"
#include "ccolorconvconfiguration.h"
#include "ccolorcorrconfiguration.h"
#include "cgammaconfiguration.h"
#include "pvllog.h"

namespace {

// One block's recomputation and update command, by the update command.
PvlResult UpdateBlock(IVfeServiceInternal* service, IVfeSettings* settings, int32_t update) {
  switch (update) {
    case VFE_CMD_GAMMA_UPDATE:
      return VfeUpdateBlock(service->GetGammaConfiguration(), settings);
    case VFE_CMD_COLOR_CONV_UPDATE:
      return VfeUpdateBlock(service->GetColorConvConfiguration(), settings);
    case VFE_CMD_COLOR_CORR_UPDATE:
      return VfeUpdateBlock(service->GetColorCorrConfiguration(), settings);
    default:
      return PVL_E_BADARG;
  }
}

}  // namespace

PvlResult CPictureControlConfigurer::UpdateBlocks(std::initializer_list<int32_t> updates) {
  for (int32_t update : updates) {
    PvlResult r = UpdateBlock(m_service, m_settings, update);
    if (r != PVL_OK) return r;
  }
  return m_service->SendCommand(VFE_CMD_UPDATE, nullptr, 0);
}

PvlResult CBrightnessConfigurer::ConfigureCore() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Brightness update");
  return UpdateBlocks({VFE_CMD_GAMMA_UPDATE});
}

PvlResult CContrastConfigurer::ConfigureCore() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Contrast update");
  return UpdateBlocks({VFE_CMD_GAMMA_UPDATE});
}

// The user's gamma bends the same curve as contrast.
PvlResult CGammaConfigurer::ConfigureCore() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Gamma update");
  return UpdateBlocks({VFE_CMD_GAMMA_UPDATE});
}

PvlResult CHueConfigurer::ConfigureCore() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Hue update");
  CameraFloatRange hue{};
  PvlResult r = m_settings->GetHueAngle(&hue);
  if (r != PVL_OK) return r;
  return UpdateBlocks({VFE_CMD_COLOR_CONV_UPDATE});
}

// Saturation is applied by the colour conversion while the hue is neutral and
// by the colour correction once a hue rotation is in effect, so the update
// goes to the block that honours it.
PvlResult CSaturationConfigurer::ConfigureCore() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Saturation update");
  CameraFloatRange hue{};
  PvlResult r = m_settings->GetHueAngle(&hue);
  if (r != PVL_OK) return r;
  CameraRange saturation{};
  r = m_settings->GetSaturation(&saturation);
  if (r != PVL_OK) return r;
  bool conversion = hue.Value == 0.0f || hue.Value == 1.0f || saturation.Value == 2;
  return UpdateBlocks({static_cast<int32_t>(conversion ? VFE_CMD_COLOR_CONV_UPDATE : VFE_CMD_COLOR_CORR_UPDATE)});
}

PvlResult CSharpnessConfigurer::ConfigureCore() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Sharpness update");
  CASFConfiguration* asf = m_service->GetASFConfiguration();
  if (!asf) return PVL_E_NOTREADY;
  PvlResult r = asf->Configure(m_settings, VfeChain::Runtime);
  if (r == PVL_OK) r = asf->SendUpdate();
  if (r != PVL_OK) return r;
  return UpdateBlocks({});
}

PvlResult CImageEffectConfigurer::ConfigureCore() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Image effect update");
  return UpdateBlocks({VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_GAMMA_UPDATE});
}
