// The Senvar module's class switch over its four classes; the host reaches it
// through the module object's CreateInstance.
#include "senvarclassswitch.h"

#include "ccamerasensordriver_s5k3e2fx_5m_bayer.h"
#include "ccamerawhiteledflashdriver.h"
#include "cs5k3e2fxtuningdata.h"
#include "icameradriver.h"
#include "sensorafdriver_s5k3e2fx.h"
#include "tuningdataprovider.h"

extern "C" int32_t Senvar_ClassFactory(IEnv* env, ZUEUID clsid, void*, void** out) {
  switch (clsid) {
    case ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER:
      return S5K3E2FX_5M_CreateInstance(env, clsid, out);
    case ZUEUID_CLASS_S5K3E2FX_AF_DRIVER:
      return S5K3E2FX_AF_CreateInstance(env, clsid, out);
    case ZUEUID_CLASS_S5K3E2FX_TUNING_DATA:
      return S5K3E2FX_TuningData_CreateInstance(env, clsid, out);
    case ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER:
      return WhiteLEDFlash_CreateInstance(env, clsid, out);
    default:
      return PVL_E_NOTSUPPORTED;
  }
}

// The module entry's name for the class switch.
extern "C" int32_t Mod_ClassFactory(IEnv* env, ZUEUID clsid, void* argument, void** out) {
  return Senvar_ClassFactory(env, clsid, argument, out);
}
