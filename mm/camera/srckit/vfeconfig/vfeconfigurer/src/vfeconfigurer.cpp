#include "vfeconfigurer.h"

#include <string.h>

#include "cameralockguard.h"
#include "cropconfigurer.h"
#include "picturecontrolconfigurer.h"
#include "updateallconfigurer.h"
#include "videoconfigurer.h"

CVfeConfigurer::CVfeConfigurer(IVfeServiceInternal* service, PvlResult* result)
    : CPvlObject(service ? service->GetEnv() : nullptr),
      m_settings(service ? service->GetVfeSettings() : nullptr),
      m_service(service) {
  if (!GetEnv()) {
    *result = PVL_E_FAIL;
    return;
  }
  *result = m_sensor.Fill(m_settings);
}

PvlResult CVfeConfigurer::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  if (iid == ZUEUID_IFACE_CONFIG_COMMAND) {
    IConfigCommand* face = this;
    face->AddRef();
    *out = face;
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

PvlResult CVfeConfigurer::Configure() {
  CCameraLockGuard hold(m_service->GetLock());
  IVfeState* state = m_service->GetCurrentState();
  if (!state || !state->IsInitialized()) return PVL_E_NOTREADY;
  return ConfigureCore();
}

PvlResult CVfeConfigurer::SetOperationMode(uint32_t first, uint32_t mode, uint32_t count) {
  VfeOperationMode* record = m_service->GetOperationMode();
  if (!record) return PVL_E_NOTREADY;
  memset(record, 0, sizeof *record);
  record->inputPath = first;
  record->snapshot = mode;
  record->snapshotFrames = static_cast<uint8_t>(count);
  // Sensor output kind 1-8 to the VFE's input format code.
  static constexpr uint32_t kInputFormat[9] = {0, 3, 2, 1, 0, 4, 5, 6, 7};
  uint32_t kind = m_sensor.Format().Words[0];
  if (kind < 1 || kind > 8) return PVL_E_FAIL;
  record->pixelOrder = kInputFormat[kind];
  if (m_sensor.IsYUV()) record->yuvFlag = m_sensor.Format().Words[1] == 1 ? 0 : 1;
  return PVL_OK;
}

PvlResult VfeConfigurer_Create(IVfeServiceInternal* service, uint32_t configuration, IConfigCommand** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  switch (configuration) {
    case ZUEUID_CONFIG_UNSUPPORTED:
      return CUnsupportedConfigurer::Create(service, out);
    case ZUEUID_CONFIG_VIDEO:
      return CVideoConfigurer::Create(service, out);
    case ZUEUID_CONFIG_CROP:
      return CCropConfigurer::Create(service, out);
    case ZUEUID_CONFIG_UPDATE_ALL:
      return CUpdateAllConfigurer::Create(service, out);
    case ZUEUID_CONFIG_BRIGHTNESS:
      return CBrightnessConfigurer::Create(service, out);
    case ZUEUID_CONFIG_CONTRAST:
      return CContrastConfigurer::Create(service, out);
    case ZUEUID_CONFIG_HUE:
      return CHueConfigurer::Create(service, out);
    case ZUEUID_CONFIG_SATURATION:
      return CSaturationConfigurer::Create(service, out);
    case ZUEUID_CONFIG_SHARPNESS:
      return CSharpnessConfigurer::Create(service, out);
    case ZUEUID_CONFIG_IMAGE_EFFECT:
      return CImageEffectConfigurer::Create(service, out);
    default:
      return PVL_E_BADARG;
  }
}
