// Main-sensor probe: one identifier read over the sensor bus, with the sensor
// powered only for the probe (the engine's sensor driver powers it again later).
#include "sensorprobe.h"

#include "plindor.h"
#include "wince.h"

namespace {

typedef uint32_t (*SensorCommandFn)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);

uint8_t s_idBuffer[2];
CameraSensorI2C_Command s_request;
SensorCommandFn s_mainSensor = nullptr;
SensorCommandFn s_powerDownSensor = nullptr;

void PowerOn() {
  NKDbgPrintfW(u"S5K3E2FX power on\r\n");
  NKDbgPrintfW(u"S5K3E2FX power on!\r\n");
  CameraSensorGPIO_ConfigParallelCamera(CAMERA_GPIO_CONFIG_ARG, CAMERA_GPIO_CONFIG_ARG, CAMERA_GPIO_CONFIG_ARG,
                                        CAMERA_GPIO_CONFIG_ARG);
  CameraSensorCLK_ConfigMclk(CAMERA_MCLK_FREQUENCY_HZ, CAMERA_MCLK_ARG);
  CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 0);
  Sleep(10);
  CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 1);
  Sleep(10);
}

void PowerOff() {
  NKDbgPrintfW(u"S5K3E2FX power off\r\n");
  NKDbgPrintfW(u"S5K3E2FX power off!\r\n");
  CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 0);
  CameraSensorCLK_UnConfigMclk();
  CameraSensorGPIO_ConfigDefault(CAMERA_GPIO_CONFIG_ARG, CAMERA_GPIO_CONFIG_ARG, CAMERA_GPIO_CONFIG_ARG,
                                 CAMERA_GPIO_CONFIG_ARG);
}

bool IdentifierMatches() {
  uint16_t id = S5K3E2FX_ReadRegister(0);
  NKDbgPrintfW(u"S5K3E2FX Sensor ID is 0x%x\r\n", id);
  if (id == kS5K3E2FXChipId) {
    NKDbgPrintfW(u"FOUND S5K3E2FX\r\n");
    return true;
  }
  NKDbgPrintfW(u"No matched sensor ID \r\n");
  return false;
}

uint32_t Detect() {
  if (!CameraSensorI2C_Init()) {
    NKDbgPrintfW(u"CameraSensorI2C_Init FAIL\r\n");
    return 0;
  }
  PowerOn();
  if (IdentifierMatches()) {
    NKDbgPrintfW(u"Get Main Sensor\r\n");
    return 1;
  }
  NKDbgPrintfW(u"Main Sensor NOT Found\r\n");
  PowerOff();
  CameraSensorI2C_DeInit();
  return 0;
}

}  // namespace

uint16_t S5K3E2FX_ReadRegister(uint16_t reg) {
  s_request = CameraSensorI2C_Command{};
  s_request.busMode = 0;
  s_request.slaveAddress = 0x20;
  s_request.flags = 0x22;
  s_request.data = s_idBuffer;
  s_request.registerAddress = reg;
  s_request.length = 2;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (CameraSensorI2C_Read(&s_request)) return uint16_t(s_idBuffer[0] * 256 + s_idBuffer[1]);
    NKDbgPrintfW(u"S5K3E2FX_I2C_READ FAIL \r\n");
  }
  return 0xFFFF;
}

uint32_t S5K3E2FX_SensorCommand(uint32_t command, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
  switch (command) {
    case 1:
      return Detect();
    case 4:
      CameraSensorI2C_DeInit();
      PowerOff();
      return 1;
    default:
      return 1;
  }
}

uint32_t DetectMainSensor() {
  if (!S5K3E2FX_SensorCommand(1, 0, 0, 0, 0, 0)) {
    NKDbgPrintfW(u"DetectMainSensor failed!\r\n");
    NKDbgPrintfW(u"DetectMainSensor failed!\r\n");
    return 0;
  }
  s_mainSensor = s_powerDownSensor = S5K3E2FX_SensorCommand;
  s_powerDownSensor(4, 0, 0, 0, 0, 0);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Camera", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    DWORD type = kSensorTypeS5K3E2FX;
    RegSetValueExW(key, u"SensorType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type);
    RegCloseKey(key);
  }
  return 1;
}
