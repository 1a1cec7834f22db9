// The main-sensor probe run at driver load: power the S5K3E2FX up over the platform
// library, read its chip identifier over I2C, power it down again, and record the
// result in "SensorType" for the rest of the system.
#pragma once

#include <stdint.h>

// 1 when the main sensor answered with its identifier (and "SensorType" = 16 was
// written when the camera's key exists), else 0.
uint32_t DetectMainSensor();
// The main sensor's command routine: 1 detects, 4 releases; others do nothing (1).
uint32_t S5K3E2FX_SensorCommand(uint32_t command, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
// Register 0 (or any): big-endian 16 bits, 0xFFFF after three failed reads.
uint16_t S5K3E2FX_ReadRegister(uint16_t reg);

inline constexpr uint16_t kS5K3E2FXChipId = 0x3E2F;
inline constexpr uint32_t kSensorTypeS5K3E2FX = 16;
