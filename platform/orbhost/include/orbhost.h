// The host library's exports, for code that links the host instead of loading it.
#pragma once

#include <stdint.h>

#include "ienv.h"

extern "C" {
int32_t Orbhost_Start(const char* script, uint32_t reserved, IEnv** env);
int32_t Orbhost_Stop(void);
}
