#include "csensorconfigurationset.h"

const ConfigValueMaker<ISensorConfiguration> CSensorConfigurationSet::kCreation[20] = {
    {0, &CSensorAntibandingValue::Create},
    {1, &CSensorBrightnessValue::Create},
    {2, &CSensorContrastValue::Create},
    {3, &CSensorExposureValue::Create},
    {4, &CSensorExposureCompensationValue::Create},
    {5, &CSensorExposureMeteringValue::Create},
    {6, &CSensorFocusValue::Create},
    {7, &CSensorFocusModeValue::Create},
    {8, &CSensorFocusStateValue::Create},
    {9, &CSensorFrameIntervalValue::Create},
    {10, &CSensorGammaValue::Create},
    {11, &CSensorHueValue::Create},
    {12, &CSensorImageEffectValue::Create},
    {13, &CSensorIsoValue::Create},
    {14, &CSensorApertureShutterValue::Create},
    {15, &CSensorOpticalZoomValue::Create},
    {16, &CSensorModeValue::Create},
    {17, &CSensorSaturationValue::Create},
    {18, &CSensorSharpnessValue::Create},
    {19, &CSensorWhiteBalanceValue::Create},
};
