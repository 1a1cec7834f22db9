// The service's configurers by configuration identifier. It lives with the
// service rather than beside the configurers' base, which every configurer
// includes.
#include "ccropconfigurer.h"
#include "cpicturecontrolconfigurer.h"
#include "csnapshotconfigurer.h"
#include "cupdateallconfigurer.h"
#include "cvideoconfigurer.h"
#include "vfeconfigurer.h"
#include "vfeconfigurerids.h"

PvlResult VfeConfigurer_Create(IVfeServiceInternal* service, uint32_t configuration, IConfigCommand** out) {
  if (!out) return PVL_E_BADARG;
  *out = nullptr;
  switch (configuration) {
    case ZUEUID_CONFIG_UNSUPPORTED:
      return CUnsupportedConfigurer::Create(service, out);
    case ZUEUID_CONFIG_VIDEO:
      return CVideoConfigurer::Create(service, out);
    case ZUEUID_CONFIG_RAW_SNAPSHOT:
      return CRawSnapshotConfigurer::Create(service, out);
    case ZUEUID_CONFIG_SNAPSHOT: {
      IVideoOutputControl* raw = service ? service->GetRawOutput() : nullptr;
      uint8_t rawOn = 0;
      if (raw && raw->IsEnabled(VIDEO_OUTPUT_MODE_STILL, &rawOn) == PVL_OK && rawOn)
        return CRawSnapshotConfigurer::Create(service, out);
      return CSnapshotConfigurer::Create(service, out);
    }
    case ZUEUID_CONFIG_CROP:
      return CCropConfigurer::Create(service, out);
    case ZUEUID_CONFIG_UPDATE_ALL:
      return CUpdateAllConfigurer::Create(service, out);
    case ZUEUID_CONFIG_BRIGHTNESS:
      return CBrightnessConfigurer::Create(service, out);
    case ZUEUID_CONFIG_CONTRAST:
      return CContrastConfigurer::Create(service, out);
    case ZUEUID_CONFIG_GAMMA:
      return CGammaConfigurer::Create(service, out);
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
