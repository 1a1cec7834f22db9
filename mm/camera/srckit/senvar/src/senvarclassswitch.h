// The Senvar module's class dispatcher: the sensor, lens and flash drivers and
// the sensor's tuning-data provider, by class identifier.
#pragma once

#include <stdint.h>

#include "ienv.h"

// (environment, class, creation argument, out): the creator's result, 3 for a
// class this module does not create.
extern "C" int32_t Senvar_ClassFactory(IEnv* env, ZUEUID clsid, void* argument, void** out);
