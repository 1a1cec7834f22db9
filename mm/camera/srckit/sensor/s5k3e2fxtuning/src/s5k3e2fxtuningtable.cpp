// The S5K3E2FX camera's default tuning values, field by field in the order of
// the tuning parameter block (tuningblock.h; the compiler refuses another
// order). The tuning tool lists each field under its "TuningData" key
// (tuningdatakeys.cpp). The exposure-stretch record is all zero: this camera
// does not stretch exposure.
//
// The values follow the camera module on the board: 10-bit GRBG samples with a
// black level of 64 on every channel, no lens shading, a sensor colour response
// raw = diag(illuminant) x M x linear(sRGB) with the M below, and daylight as
// the default illuminant. The board's three lights give grey the channel levels
// (R, G, B) daylight (0.60, 1, 0.75), incandescent (0.95, 1, 0.40), fluorescent
// (0.75, 1, 0.55); its LED flash is white.
//
// Units: gains are real gains (1.0 = unity) except the exposure table's, which
// is the sensor's gain code (32 = 1x); "lux index" is the index into the
// exposure table below, so it grows as the scene gets darker.
#include "cs5k3e2fxtuningdata.h"
#include "s5k3e2fxtuningcalc.h"

using namespace s5k3e2fxtuning;

// Only the chosen fields are named; the rest (gaps, reserved bytes) are zero.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// ---- Values the groups below are built from ----

// The sensor's colour response to linear sRGB (rows raw R, G, B).
constexpr Matrix3 kSensorResponse = {{{0.80, 0.15, 0.05}, {0.10, 0.80, 0.10}, {0.05, 0.20, 0.75}}};
// Colour correction back to linear sRGB; in low light 70 % of the way, which
// keeps grey neutral (both have rows summing to 1) and lifts less noise.
constexpr Matrix3 kCorrection = Inverse(kSensorResponse);
constexpr Matrix3 kCorrectionLowLight = TowardsIdentity(kCorrection, 0.7);
constexpr uint8_t kCorrectionQ = 0;  // 7 fraction bits, range +-16: room for the digital gain and saturation

// Grey's (R, B) channel levels relative to green. The board's three lights are
// measured; the other reference lights sit on the same daylight-to-tungsten line
// by colour temperature (D75 and cloudy one step bluer than daylight, D50 and
// noon between daylight and fluorescent, horizon one step redder than tungsten,
// cool-white and warm-white tubes either side of the board's fluorescent).
struct Light {
  double r, b;
};
constexpr Light kDaylight = {0.60, 0.75};      // D65, the board's default
constexpr Light kIncandescent = {0.95, 0.40};  // A
constexpr Light kFluorescent = {0.75, 0.55};   // TL84
constexpr Light kCloudy = {0.56, 0.82};        // D75
constexpr Light kCoolWhite = {0.70, 0.60};     // CW
constexpr Light kHorizon = {1.05, 0.33};       // H
constexpr Light kD50 = {0.66, 0.68};
constexpr Light kWarmWhite = {0.85, 0.45};     // the custom fluorescent slot
constexpr Light kNoon = {0.63, 0.71};
constexpr Light kWhiteLed = {1.00, 1.00};      // the board's LED, torch and flash

// The exposure ladder: 24 steps per EV from one line up to the preview's 990
// lines (the longest exposure without stretching the frame), then the gain up to
// the sensor's 16x (code 512).
constexpr uint32_t kPreviewMaxLines = 990;
constexpr ExposureLadder kExposure = BuildExposureLadder(24, kPreviewMaxLines, 512);
constexpr int32_t Lux(uint32_t lines, float gain) {
  return ExposureIndex(kExposure, lines, static_cast<uint32_t>(gain * kUnityGainCode));
}
constexpr int32_t kLastIndex = kExposure.count - 1;

// Light ranges. Low light blends in from 4x to 8x sensor gain, where noise
// starts to show; outdoor (bright) ranges run from the end of the range, gain 1
// or about 1 ms, up to its start, gain 2 or about 4 ms (their end lies below
// their start). The blocks switch on the gain: it is the sensor's own, while the
// lux-index scale is the exposure module's.
constexpr uint8_t kSelectByGain = 1;
constexpr float kLowLightGainStart = 4.0f, kLowLightGainEnd = 8.0f;
constexpr TuningTrigger kLowLight = {kLowLightGainStart, kLowLightGainEnd, Lux(kPreviewMaxLines, 4.0f),
                                     Lux(kPreviewMaxLines, 8.0f)};
constexpr TuningTrigger kOutdoor = {2.0f, 1.0f, Lux(120, 1.0f), Lux(30, 1.0f)};
// The noise filter's twenty steps run from 2x to the top of the table.
constexpr TuningTrigger kAbfRange = {2.0f, 16.0f, Lux(kPreviewMaxLines, 2.0f), kLastIndex};

// A grey under daylight fills ~20 % of the range at ~14 ms: the exposure
// module's indoor/outdoor split lies between 4 ms (outdoor) and 990 lines.
constexpr int32_t kOutdoorIndex = Lux(120, 1.0f);
constexpr int32_t kIndoorIndex = Lux(kPreviewMaxLines, 1.0f);

// Adaptive spatial filter: two zero-sum high-pass 5 x 5 kernels (-1 -2 6 -2 -1
// across, 0 1 2 1 0 along, scaled by 1/8), so flat areas pass untouched. The
// block takes each kernel's top-left 3 x 3 as the quadrant of a kernel
// symmetric about its centre row and column, so the kernel must be zero-sum
// over all 25 taps, not over its top-left nine.
constexpr TuningAsf5x5FilterStored Asf5x5Filter(uint8_t extrFactor) {
  TuningAsf5x5FilterStored f{};
  f.FilterMode = 2;
  const int8_t smooth[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  const int8_t lap[9] = {0, -1, 0, -1, 4, -1, 0, -1, 0};
  for (int i = 0; i < 9; ++i) {
    f.SmoothFltr[i] = smooth[i];
    f.LapFltr[i] = lap[i];
  }
  f.Normal1 = f.Normal2 = 0.125f;
  const int16_t across[5] = {-1, -2, 6, -2, -1}, along[5] = {0, 1, 2, 1, 0};
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 5; ++c) {
      f.Filter1[r * 5 + c] = static_cast<int16_t>(along[r] * across[c]);  // vertical edges
      f.Filter2[r * 5 + c] = static_cast<int16_t>(across[r] * along[c]);  // horizontal edges
    }
  }
  f.ExtrFactor = extrFactor;
  // LowLight, Normal, Bright: thresholds E1-E5, sharpening of each filter, smoothing.
  f.Setting[ASF_LOWLIGHT] = {32, 48, -40, 48, -40, {}, 0.5f, 0.5f, 40, {}};
  f.Setting[ASF_NORMAL] = {20, 40, -35, 40, -35, {}, 0.875f, 0.875f, 10, {}};
  f.Setting[ASF_BRIGHT] = {16, 40, -35, 40, -35, {}, 1.0f, 1.0f, 0, {}};
  return f;
}

constexpr TuningAsf3x3FilterStored Asf3x3Filter(uint16_t noiseThresh, uint16_t edgeThresh) {
  // Edge: a Laplacian; noise: a 1 2 1 binomial, both normalised.
  return {{0.0f, -0.25f, 0.0f, -0.25f, 1.0f, -0.25f, 0.0f, -0.25f, 0.0f},
          {0.0625f, 0.125f, 0.0625f, 0.125f, 0.25f, 0.125f, 0.0625f, 0.125f, 0.0625f},
          noiseThresh, edgeThresh, {}, 1, 0};
}

constexpr TuningBlackLevelStored kBlackLevel = {
    0,         // MaxIncrease: the sensor's black level does not rise with gain
    {64, 64},  // the same level for the two-column form
    {64, 64, 64, 64},
};

// Auto frame rate: 30 fps, falling to 15 above 4x and back below 2x; the slower
// rates stay off. Changing rate moves the exposure index by the EV the frame
// time changes (24 steps per EV) to the next faster or slower entry.
constexpr TuningAfrStored Afr(float fps, uint8_t use, int32_t toFaster, int32_t toSlower) {
  return {fps, use, {}, 2.0f, 4.0f, toFaster, toSlower};
}

constexpr TuningDataTable Build() {
  TuningDataTable t = {
    .Block = {
      .MiscVarnixVersion = 0x0202,  // tuning-format version

      // Colour correction: the inverse of the sensor's response, so the
      // corrected colours are linear sRGB; slightly weaker in low light.
      .ColorCorrControl = kSelectByGain,
      .ColorCorrSnapshotTrigger = kLowLight,
      .ColorCorrSnapshotDefault = ColorCorrection(kCorrection, kCorrectionQ),
      .ColorCorrSnapshotLowLight = ColorCorrection(kCorrectionLowLight, kCorrectionQ),
      .ColorCorrPreviewTrigger = kLowLight,
      .ColorCorrPreviewDefault = ColorCorrection(kCorrection, kCorrectionQ),
      .ColorCorrPreviewLowLight = ColorCorrection(kCorrectionLowLight, kCorrectionQ),

      // Colour conversion: BT.601 for every light (the correction above has
      // already made the colours sRGB); low light at 70 % saturation; the
      // effects: mono (no chroma), sepia and aqua (no chroma, a fixed tint),
      // negative (luma and chroma inverted).
      .ColorConvControl = kSelectByGain,
      .ColorConvTrigger = kLowLight,
      .ColorConv = {
          ColorConversion(Bt601(1.0f)),                                                    // TL84
          ColorConversion(Bt601(1.0f)),                                                    // A
          ColorConversion(Bt601(1.0f)),                                                    // D65
          ColorConversion(Bt601(0.7f)),                                                    // LowLight
          ColorConversion({0.0f, 0.0f, 0.0f, 0.0f, 128, 128, 0.299f, 0.587f, 0.114f, 0}),  // Mono
          ColorConversion({0.0f, 0.0f, 0.0f, 0.0f, 108, 140, 0.299f, 0.587f, 0.114f, 0}),  // Sepia
          ColorConversion({-0.5f, -0.338f, -0.5f, -0.162f, 128, 128, -0.299f, -0.587f, -0.114f, 255}),  // Negative
          ColorConversion({0.0f, 0.0f, 0.0f, 0.0f, 148, 108, 0.299f, 0.587f, 0.114f, 0}),  // Aqua
      },

      // Scene modes: "flowers" saturates by 1.3; sunset 1.2 richer; the
      // portrait (skin) sets 0.9 for softer skin, the same for every light.
      .BSMColorConvSatFactor = 1.3f,
      .BSMColorConv = {
          ColorConversion(Bt601(1.2f)),  // Sunset
          ColorConversion(Bt601(0.9f)),  // SkinTL84
          ColorConversion(Bt601(0.9f)),  // SkinD65
          ColorConversion(Bt601(0.9f)),  // SkinA
      },

      // Manual white balance: G/R and G/B of each light; strobe and LED are the
      // board's white LED.
      .MWB = {
          GainsFor(kFluorescent.r, kFluorescent.b),
          GainsFor(kDaylight.r, kDaylight.b),  // Sunny
          GainsFor(kIncandescent.r, kIncandescent.b),  // Tungsten
          GainsFor(kCloudy.r, kCloudy.b),
          GainsFor(kWhiteLed.r, kWhiteLed.b),  // Strobe
          GainsFor(kWhiteLed.r, kWhiteLed.b),  // LED
      },

      // AWB: unity channel gains (the sensor's two greens and its channels are
      // matched; the white-balance block carries the light); reference points
      // are the white-balance gains (G/R, G/B) of each reference light.
      .AWBChannelGain = {1.0f, 1.0f, 1.0f, 1.0f},
      .AWBRefPoints = {
          RefPointFor(kDaylight.r, kDaylight.b),          // D65
          RefPointFor(kCloudy.r, kCloudy.b),              // D75
          RefPointFor(kIncandescent.r, kIncandescent.b),  // A
          RefPointFor(kFluorescent.r, kFluorescent.b),    // TL84
          RefPointFor(kCoolWhite.r, kCoolWhite.b),        // CW
          RefPointFor(kHorizon.r, kHorizon.b),            // H
          RefPointFor(kD50.r, kD50.b),                    // D50
          RefPointFor(kWarmWhite.r, kWarmWhite.b),        // CustFluo
          RefPointFor(kNoon.r, kNoon.b),                  // Noon
      },
      // Near-white sample box: the statistics block's own boundary lines; luma
      // 10..240 keeps black and clipped samples out.
      .AWBStatConfig = {
          {10, 240, 16, -16, 16, -16, 39, 165, -106, 257},  // LowLight
          {10, 240, 16, -16, 16, -16, 39, 165, -106, 257},  // NormalLight
          {10, 240, 16, -16, 16, -16, 39, 165, -106, 257},  // Outdoor
      },
      .AWBIndoorIndex = kIndoorIndex,
      .AWBOutdoorIndex = kOutdoorIndex,
      // Snow and beach under open sky read blue: trim the blue gain 5 %.
      .AWBSnowBlueGainAdj = 0.95f,
      .AWBBeachBlueGainAdj = 0.95f,
      .AWBOutlierDist = 20,
      .AWBGreenOffRG = 0,  // no green zone shift: the sensor's greens sit on the grey line
      .AWBGreenOffBG = 0,
      .AWBSkipFramesAfterChangingVFE = 2,  // a new gain shows two frames later

      // Extended AWB: moderate cluster thresholds (percent of samples);
      // global gain 1; gains bounded around the reference lights; indoor lights
      // weigh indoors, daylights outdoors; medium convergence speed.
      .AWBExtCClusterDistSq = 100,
      .AWBExtCClusterToRefSq = 400,
      .AWBExtAClusterThresh = 10,
      .AWBExtFClusterThresh = 10,
      .AWBExtDayClusterThresh = 10,
      .AWBExtOutdoorGThresh = 20,
      .AWBExtOutdoorGThrBrtF = 10,
      .AWBExtOutdoorGThrDarkF = 20,
      .AWBExtDayClusterThrF = 10,
      .AWBExtWBAllowFLine = 1,
      .AWBExtOutValidSamplesThr = 10,
      .AWBExtOutGreenUpThresh = 20,
      .AWBExtRadiusSquaredThr = 100,
      .AWBExtOutGThreshBrightA = 10,
      .AWBExtOutGThreshDarkA = 20,
      .AWBExtDayClusterThrA = 10,
      .AWBExtCCGlobalGain = 1.0f,
      .AWBExtMinGains = {0.9f, 1.0f, 1.0f},
      .AWBExtMaxGains = {2.0f, 1.0f, 3.2f},
      .AWBExtSampleInfluence = {0.5f, 0.5f},
      .AWBExtWeightVector = {
          {1, 4, 2},  // D65
          {1, 3, 2},  // D75
          {3, 0, 1},  // A
          {3, 0, 1},  // TL84
          {2, 0, 1},  // CW
          {1, 0, 1},  // H
          {2, 3, 2},  // D50
          {2, 0, 1},  // CustFluo
          {1, 4, 2},  // Noon
          {1, 4, 2},  // Daylight
      },
      .AWBExtWhiteWorldYMinRatio = 4,
      .AWBExtAgressiveness = 1,  // colour-conversion smoothing 15 % per update
      .AWBExtSelfCalEnable = 0,

      // AEC: the ladder above (filled in below); mid-grey targets (18 % grey is
      // ~46 of 255 before gamma), lower in low light, higher against backlight;
      // one sixth EV per compensation step; gains 1x-16x.
      .AECTableExpTableFlag = 1,
      .AECTableValidEntries = kExposure.count,
      .AECExposureTable = {},
      .AECDefault = 50,
      .AECOutdoor = 50,
      .AECLowLight = 42,
      .AECBacklightLuma = 58,
      .AECLumaTolerance = 2,
      .AECExpIndexAdjStep = 4.0f,
      .AECISO100Gain = 1.0f,
      .AECIndoorIndex = kIndoorIndex,
      .AECOutdoorIndex = kOutdoorIndex,
      .AECMaxPreviewGainAllowed = 16.0f,
      .AECMinPreviewGainAllowed = 1.0f,
      .AECMaxSnapshotGainAllowed = 16.0f,
      .AECMinSnapshotGainAllowed = 1.0f,
      .AECMaxSnapshotExposureTimeAllowed = 0.5f,  // seconds
      .AECAgressiveness = 0.5f,
      .AECFixFpsTableIndex = static_cast<uint16_t>(kIndoorIndex),  // the frame rate holds until the lines run out
      .AECLinearAFRSupport = 0,
      .AECHighLumaRegionThresh = 240,
      .AECDigitalGainSupported = 0,  // the sensor's analogue gain covers the table
      // Bright- and dark-region compensation: off, with sane limits ready.
      .AECBrightRegionSupported = 0,
      .AECBrightRegionReduction = 0.85f,
      .AECBrightRegionThreshLo = 200,
      .AECBrightRegionThreshHi = 240,
      .AECBrightRegionDiscardRatio = 0.1f,
      .AECDarkRegionSupported = 0,
      .AECDarkRegionThreshLo = 10.0f,
      .AECDarkRegionThreshHi = 30.0f,
      .AECDarkRegionDiscardRatio = 0.1f,
      .AECDarkRegionReduction = {0.9f, 0.8f, 0.7f, 0.6f},
      .AECMaxVideoFPS = 30.0f,
      .AECVideoFPS = 30.0f,
      .AECMaxPreviewFPS = 30.0f,
      .AECPreviewFPS = 30.0f,
      .AECNightshotFPS = 7.5f,
      .AECNightshotTableIndex = static_cast<uint16_t>(kLastIndex),

      // AF in actuator steps of 27 codes from home (code 0, the far end) to
      // step 37 (code 999, the near end). Normal search runs from the far end
      // to the macro boundary at step 24 (code 648), which covers this board's
      // sharpest code 400 (step 15); gross steps of 3, then 5 single fine steps.
      .AFTotalSteps = 37,
      .AFNumGrossStepsBetwStatPoints = 3,
      .AFNumFineStepsBetwStatPoints = 1,
      .AFNumFineSearchPoints = 5,
      .AFProcessType = 0,
      .AFPositionNearEnd = 37,
      .AFPositionDefaultInMacro = 24,
      .AFPositionBoundary = 24,
      .AFPositionDefaultInNormal = 0,
      .AFPositionFarEnd = 0,
      .AFStepsGain = 1.0f,
      .AFInitialCurrent = 0,
      .AFNumStepsNearToFar = 37,
      .AFUndershootProtect = 0,
      .AFUndershootAdjust = 0,
      .AFResetLensAfterSnap = 1,
      // Focus window: a wide upper window (x 12.5-100 %, y 0-75 %) that holds
      // the centre and the chart's detail bars at the right.
      .AFConfig = {0, 255, 0.125f, 0.0f, 0.875f, 0.75f},
      .AFFVMetric = 1,
      .AFVfeHpf = {-2, 0, -2, -1, -1, 8, -1, -1},  // the statistics block's own zero-sum filter
      .AFWindowType = 0,
      .AFSkinAssisted = 0,

      // Gamma: the sRGB curve; low light the same (the sensor adds no noise
      // to hide); the backlight scene mode lifts shadows with x^(1/2.6).
      .GammaControl = kSelectByGain,
      .GammaSnapshotLowLightTrigger = kLowLight,
      .GammaSnapshotOutdoorTrigger = kOutdoor,
      .GammaSnapshot = {Gamma(0.0), Gamma(0.0), Gamma(0.0)},
      .GammaPreviewLowLightTrigger = kLowLight,
      .GammaPreviewOutdoorTrigger = kOutdoor,
      .GammaPreview = {Gamma(0.0), Gamma(0.0), Gamma(0.0), Gamma(2.6)},
      .GammaSolarizeReflection = 128,  // solarize the upper half of the input range

      // Black level: the sensor's 64 on every channel, in every light.
      .BlackLevelControl = kSelectByGain,
      .BlackLevelSnapshotLowLightTrigger = kLowLight,
      .BlackLevelSnapshot = kBlackLevel,
      .BlackLevelPreviewLowLightTrigger = kLowLight,
      .BlackLevelPreview = kBlackLevel,

      // Roll-off: flat (unity gains); the lens model adds no shading.
      .RolloffControl = kSelectByGain,
      .RolloffGainLowLight = kLowLightGainEnd,
      .RolloffLuxIndexLowLight = Lux(kPreviewMaxLines, kLowLightGainEnd),
      .RolloffTable = {FlatRolloffTable(2608, 1960), FlatRolloffTable(2608, 1960), FlatRolloffTable(2608, 1960),
                       FlatRolloffTable(2608, 1960)},
      .RolloffMesh = {FlatRolloffMesh(), FlatRolloffMesh(), FlatRolloffMesh(), FlatRolloffMesh()},

      // 3x3 ASF: full sharpening up to no scaling, fading to none at 10:1
      // downscale or 2:1 upscale; thresholds higher in low light.
      .Asf3x3Control = kSelectByGain,
      .Asf3x3LowLightTrigger = kLowLight,
      .Asf3x3OutdoorTrigger = kOutdoor,
      .Asf3x3SharpMinDSFactor = 0.5f,
      .Asf3x3SharpMaxDSFactor = 10.0f,
      .Asf3x3SharpMaxFactor = 1.0f,
      .Asf3x3 = {Asf3x3Filter(8, 16), Asf3x3Filter(24, 32)},  // Regular, LowLight

      // 5x5 ASF: mild sharpening (7/8 in normal light, full in bright, half in
      // low light with stronger coring and smoothing); soft focus halves it.
      .Asf5x5Control = kSelectByGain,
      .Asf5x5LowLightTrigger = kLowLight,
      .Asf5x5OutdoorTrigger = kOutdoor,
      .Asf5x5SnapshotFilter = Asf5x5Filter(0),
      .Asf5x5SoftFocusDegree = 0.5f,
      .Asf5x5PreviewFilter = Asf5x5Filter(0),
      .Asf5x5SharpMinDSFactor = 0.5f,
      .Asf5x5SharpMaxDSFactor = 10.0f,
      .Asf5x5SharpMaxFactor = 1.0f,

      // Luma adaptation: stretch over the darkest and brightest 5 %, by at most
      // 32 levels, in two passes.
      .LumaAdaptNumIterations = 2,
      .LumaAdaptLowPercentage = 5,
      .LumaAdaptLowRange = 32,
      .LumaAdaptHighPercentage = 5,
      .LumaAdaptHighRange = 32,

      // Chroma suppression: the block's own thresholds (luma 10-26 and
      // 230-246, chroma 12-20); wider in low light.
      .ChromaSuppControl = kSelectByGain,
      .ChromaSuppSnapshotLowLightTrigger = kLowLight,
      .ChromaSuppSnapshotLowLight = {24, 40, 220, 236, 16, 32},
      .ChromaSuppSnapshotNormalLight = {10, 26, 230, 246, 12, 20},
      .ChromaSuppPreviewLowLightTrigger = kLowLight,
      .ChromaSuppPreviewLowLight = {24, 40, 220, 236, 16, 32},
      .ChromaSuppPreviewNormalLight = {10, 26, 230, 246, 12, 20},

      // Hand-jitter reduction: up to two frames, mild noise thresholds and a
      // blend weight rising with the frame difference.
      .HJRMaxFrames = 2,
      .HJR1to2FrameOffset = 0,
      .HJRFlatAreaNoise = 8,
      .HJRTextureNoise = 16,
      .HJRTextureThresh = 24,
      .HJRKTable = {{0, 13, 26, 38, 51, 64, 77, 90, 102, 115, 128, 141, 154, 166, 179, 192, 205, 218, 230, 243}},
      .HJRBayerFilterEnable = 0,

      // Adaptive Bayer filter: on past 2x gain, growing to threshold 96 and
      // ratio 1/4 at 16x.
      .ABFControl = kSelectByGain,
      .ABFSnapshotFilterData = AbfRamp(16, 96, 0.0625f, 0.25f),
      .ABFPreviewFilterData = AbfRamp(16, 96, 0.0625f, 0.25f),
      .ABFPreviewEnableLuxIndex = static_cast<uint8_t>(kAbfRange.LuxIndexStart),
      .ABFSnapshotEnableLuxIndex = static_cast<uint8_t>(kAbfRange.LuxIndexStart),
      .ABFPreviewIndex = kAbfRange,
      .ABFSnapshotIndex = kAbfRange,

      // Flicker detection: a banding pattern in 60 % of rows, steady for 5 frames.
      .AFDDetectionDataStdThresh = 0.03f,
      .AFDDetectionDataPctThresh = 60,
      .AFDDetectionDataDiffThresh = 100,
      .AFDDetectionDataFrameCtThresh = 5,

      // Bad-pixel correction: the block's own factor range; thresholds well above
      // the chart's edges (the sensor has no defects), higher in low light.
      .BPCMinFactor = 0,
      .BPCMaxFactor = 127,
      .BPCControl = kSelectByGain,
      .BPCSnapshotLowLightTrigger = kLowLight,
      .BPCSnapshot = {{150, 150, 150}, {250, 250, 250}},
      .BPCPreviewLowLightTrigger = kLowLight,
      .BPCPreview = {{150, 150, 150}, {250, 250, 250}},

      // Skin tones: hue between 1 and 3 (Cr/Cb ratio band), luma 10-90 %,
      // saturation bands for high and low luma.
      .SkintoneHMin = 1.0f,
      .SkintoneHMax = 3.0f,
      .SkintoneYMin = 0.1f,
      .SkintoneYMax = 0.9f,
      .SkintoneSHYMin = 0.05f,
      .SkintoneSHYMax = 0.6f,
      .SkintoneSLYMin = 0.2f,
      .SkintoneSLYMax = 0.6f,
      .SkintoneT0 = 6,

      .AFR = {Afr(30.0f, 1, 0, 24), Afr(15.0f, 1, -24, 8), Afr(12.0f, 0, -8, 6), Afr(10.0f, 0, -6, 10),
              Afr(7.5f, 0, -10, 8), Afr(6.0f, 0, -8, 6), Afr(5.0f, 0, -6, 8), Afr(4.0f, 0, -8, 0)},

      .DemosaicSlopeShift = 0,  // the block's default
    },
    .ExposureStretch = {},
  };
  for (uint32_t i = 0; i < kExposure.count; ++i) t.Block.AECExposureTable[i] = kExposure.entry[i];
  return t;
}

}  // namespace

constinit const TuningDataTable g_S5K3E2FXTuningTable = Build();
