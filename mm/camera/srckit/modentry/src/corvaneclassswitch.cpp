// The Corvane module's class switch: the classes this module creates.
#include <stdint.h>

#include "cameratuningdata.h"
#include "cmcamerabuffermanager.h"
#include "hostsymbols.h"
#include "ienv.h"

extern "C" int32_t Mod_ClassFactory(IEnv* env, ZUEUID clsid, void* argument, void** out) {
  switch (clsid) {
    case ZUEUID_CLASS_TUNING_DATA:
      return CCameraTuningData::ClassEntry(env, clsid, argument, out);
    case ZUEUID_CLASS_BUFFER_MANAGER:
      return CMCameraBufferManager::CreateInstance(env, clsid, argument, out);
    default:
      return PVL_E_NOTSUPPORTED;
  }
}
