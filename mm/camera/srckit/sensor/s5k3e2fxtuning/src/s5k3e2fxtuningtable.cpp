// The S5K3E2FX camera's default tuning values, field by field in the order of
// the tuning parameter block (tuningblock.h; the compiler refuses another
// order). A field not named here is 0. The exposure-stretch record is all
// zero: this camera does not stretch exposure.
//
// Values must agree with the sensor: 10-bit GRBG samples with a black level of
// 64, daylight as the default illuminant. The tuning tool lists each field
// under its "TuningData" key (tuningdatakeys.cpp).
#include "cs5k3e2fxtuningdata.h"

// Only the chosen fields are named; the rest are zero on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// clang-format off
constinit const TuningDataTable g_S5K3E2FXTuningTable = {
    .Block = {
        .MiscVarnixVersion = 0x0202,  // tuning-format version
    },
    .ExposureStretch = {},
};
// clang-format on
