// The S5K3E2FX 5-megapixel Bayer sensor driver. The sensor service creates it
// by class while detecting sensors (the creation probes the chip identifier,
// so a board with another chip answers 20 and detection moves on) and drives
// it with numbered commands: power, the read-only property records that the
// engine, the VFE and EXIF read, frame timing per size, and the three
// configurations this sensor supports: exposure (gain and integration lines),
// sensor mode (preview 1296x972 binned, or the full 2608x1960 array) and focus,
// which goes on to the lens actuator driver this driver creates and owns.
//
// Every register is a 16-bit address with an 8-bit value on I2C slave 0x20,
// reached only through the platform library; each transfer is tried three
// times. The register contents are in s5k3e2fxregisters.cpp.
#pragma once

#include <stdint.h>

#include "icameradriver.h"
#include "ienv.h"
#include "senvarobject.h"
#include "sensorconfigrecords.h"
#include "csensorinfo.h"

// Power states of the driver.
enum S5K3E2FXPowerState : uint32_t {
  S5K3E2FX_POWER_ON = 0,       // powered and clocked, reset released
  S5K3E2FX_POWER_STARTING = 1,  // a power-up that has not finished: some steps may be on
  S5K3E2FX_POWER_DOWN = 3,     // reset held, clock stopped
};

struct S5K3E2FXDriver final : SenvarDriver<S5K3E2FXDriver> {
  PvlResult Execute(uint32_t command, void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                    uint32_t* outputLength);
  PvlResult Stop() override;
  // Undoes the construction steps that were taken (env is referenced from step
  // 5 on), then ends as every Senvar driver does.
  static void Destroy(S5K3E2FXDriver* d, IEnv* allocator);

  ICameraDriver* lens;        // the focus actuator driver, owned

  SensorCapabilities capabilities;
  SensorIdentity identity;    // kind only; the texts are constant
  SensorOptics optics;
  SensorExtraInfo extraInfo;
  SensorOutputFormat outputFormat;
  SensorTiming timing;
  SensorGeometry geometry;
  SensorModeInfo modeInfo;
  SensorGainInfo gainInfo;

  uint32_t currentGain;       // 1/256 units, as applied
  uint32_t currentLineCount;
  SensorModeRecord lastMode;  // as the last mode change left it
  uint32_t powerState;        // S5K3E2FXPowerState
  uint32_t pixelClock[2];     // Hz
  uint32_t masterClock;       // Hz
  uint32_t lineLength;        // pixel clocks per line of the programmed mode
  uint32_t frameLength;       // lines per frame of the programmed mode

  // Construction steps taken, so that a failed construction undoes only these.
  bool busOpen;
  bool pinsConfigured;
};

// The class's creator, reached from the module's class switch.
PvlResult S5K3E2FX_5M_CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

// Register access (module-wide transfer record; three tries, one log line).
bool S5K3E2FX_I2CWrite(uint16_t reg, uint8_t value);
bool S5K3E2FX_I2CRead(uint16_t reg, uint16_t* value);

// The sensor revision read at every initialisation and mode change.
uint16_t S5K3E2FX_Revision();

// Register programming.
PvlResult S5K3E2FX_InitRegisters(S5K3E2FXDriver* driver);
PvlResult S5K3E2FX_5M_SetSensorMode(S5K3E2FXDriver* driver, uint32_t mode, const SensorModeRecord* request);
PvlResult S5K3E2FX_5M_Exposure_Gain(S5K3E2FXDriver* driver, const void* input, uint32_t inputSize, void* output,
                                    uint32_t outputSize, uint32_t* outputLength);
uint32_t S5K3E2FX_GainToCode(int32_t realGain);
uint32_t S5K3E2FX_CodeToGain(uint32_t code);
PvlResult S5K3E2FX_SetLineLength(uint32_t code, uint32_t lineCount, S5K3E2FXDriver* driver);

// Sets the exposure code's line and frame length to the preview set that the
// initialisation programs.
void S5K3E2FX_SetPreviewTiming(S5K3E2FXDriver* driver);
