// Calbrook's class switch: the tuning server is its one class.
#include "ienv.h"
#include "tunvex.h"
#include "tunvexserver.h"

extern "C" int32_t Mod_ClassFactory(IEnv* env, ZUEUID clsid, void* argument, void** out) {
  switch (clsid) {
    case ZUEUID_CLASS_TUNINGSERVER:
      return Tunvex_New(clsid, env, argument, out);
    default:
      return PVL_E_NOTSUPPORTED;
  }
}
