// Calbrook's create function for the tuning server, in the shape its class table calls.
#include "ienv.h"
#include "tunvex.h"
#include "tunvexserver.h"

int32_t Calbrook_NewTuningServer(IEnv* env, ZUEUID clsid, void* argument, void** out) {
  return Tunvex_New(clsid, env, argument, out);
}
