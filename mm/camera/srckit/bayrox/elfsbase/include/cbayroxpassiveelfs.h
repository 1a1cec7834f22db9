// CBayroxPassiveELFS: the hand-jitter reduction and luma plug-ins. This camera
// takes its stills in one frame and leaves luma adaptation to the VFE's tuned
// defaults, so both accept the engine in Initialize (an engine that lists them
// must still come up) and answer "not handled" (20) to everything else.
#pragma once

#include "cbayroxelfs.h"

class CBayroxPassiveELFS final : public CBayroxELFS {
 public:
  explicit CBayroxPassiveELFS(IEnv* env) : CBayroxELFS(env) {}
  PvlResult Construct() { return PVL_OK; }
  PvlResult Initialize(IPvlBase* client) override { return client ? PVL_OK : PVL_E_NULLPTR; }
  static int32_t ClassEntry(IEnv* env, ZUEUID clsid, void* argument, void** out) {
    return CBayroxELFS::ClassEntry<CBayroxPassiveELFS>(env, clsid, argument, out);
  }
};
