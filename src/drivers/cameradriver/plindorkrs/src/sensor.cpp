// The sensor side: I2C bus, camera GPIO signals, master clock, power, waits
// and the clock device manager client.
#include <cstring>

#include "plindor_internal.h"
#include "tlmm_gpio.h"

using namespace plindor;

namespace {

constexpr DWORD kIoctlMultiWrite = CAMERA_I2C_IOCTL_MULTI_WRITE;
constexpr uint32_t kMaxBatch = 8;
const char kDevmanClient[] = "CAMERA";

HANDLE gI2c = INVALID_HANDLE_VALUE;
bool gI2cOpened = false;
uint16_t gI2cRefs = 0;

bool SetBusParameter(DWORD code, uint32_t value) {
  CameraSensorI2C_Command cmd{};
  cmd.data = &value;
  cmd.length = sizeof value;
  DWORD returned = 0;
  return DeviceIoControl(gI2c, code, &cmd, sizeof cmd, nullptr, 0, &returned, nullptr) != FALSE;
}

// The signal the board description names: 684 when it names none, or names a
// GPIO number the chipset does not have.
uint32_t BoardSignal() {
  if (!gBoardWindow) return GPIO_NO_MAPPING;
  uint32_t word = chip_reg_read32(gBoardWindow + (kBoardSelectedGpioOffset & ~3u));
  uint16_t gpio = uint16_t(word >> ((kBoardSelectedGpioOffset & 2) * 8));
  if (gpio == 255 || gpio >= GPIO_NUMBER_COUNT) return GPIO_NO_MAPPING;
  return gpio_default_signal(gpio);
}

}  // namespace

extern "C" PLINDOR_API void CameraSensorI2C_CopyCommand(CameraSensorI2C_Command* destination,
                                                        const CameraSensorI2C_Command* source) {
  if (!destination || !source) return;
  CameraSensorI2C_Command out{};
  out.busMode = source->busMode <= 2 ? source->busMode : 3;
  out.slaveAddress = source->slaveAddress;
  for (uint32_t bit = 0x1; bit <= 0x100; bit <<= 1) out.flags |= source->flags & bit;
  out.direction = source->direction == CAMERA_I2C_DIRECTION_READ ? CAMERA_I2C_DIRECTION_READ
                                                                  : CAMERA_I2C_DIRECTION_WRITE;
  out.data = source->data;
  out.registerAddress = source->registerAddress;
  out.length = source->length;
  std::memcpy(out.reserved, source->reserved, sizeof out.reserved);
  *destination = out;
}

namespace {

// One record to the bus device: a file write, or a file read that fills the
// caller's data buffer.
int Transfer(const CameraSensorI2C_Command* command, uint32_t direction) {
  if (!gI2cOpened || !command) return 0;
  CameraSensorI2C_Command local;
  CameraSensorI2C_CopyCommand(&local, command);
  local.direction = direction;
  DWORD done = 0;
  BOOL ok = direction == CAMERA_I2C_DIRECTION_READ ? ReadFile(gI2c, &local, sizeof local, &done, nullptr)
                                                   : WriteFile(gI2c, &local, sizeof local, &done, nullptr);
  return ok && done == sizeof local ? 1 : 0;
}

}  // namespace

extern "C" PLINDOR_API int CameraSensorI2C_Init(void) {
  if (!gI2cOpened) {
    HANDLE h = CreateFileW(u"CI2C1:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return 0;
    gI2c = h;
    gI2cOpened = true;
    gI2cRefs = 0;
    if (SetBusParameter(CAMERA_I2C_IOCTL_SET_PARAM0, 0)) SetBusParameter(CAMERA_I2C_IOCTL_SET_PARAM1, 100);
  }
  if (gI2cRefs == 0xFFFF) return 0;  // the count cannot go higher
  ++gI2cRefs;
  return 1;
}

extern "C" PLINDOR_API int CameraSensorI2C_DeInit(void) {
  if (gI2cRefs > 1) {
    --gI2cRefs;
    return 1;
  }
  if (!gI2cOpened) return 0;
  BOOL closed = CloseHandle(gI2c);
  if (closed) {
    // No stale handle is left for a later Write or Read.
    gI2c = INVALID_HANDLE_VALUE;
    gI2cOpened = false;
    gI2cRefs = 0;
  }
  return closed ? 1 : 0;
}

extern "C" PLINDOR_API int CameraSensorI2C_Write(const CameraSensorI2C_Command* command) {
  return Transfer(command, CAMERA_I2C_DIRECTION_WRITE);
}

extern "C" PLINDOR_API int CameraSensorI2C_Read(const CameraSensorI2C_Command* command) {
  return Transfer(command, CAMERA_I2C_DIRECTION_READ);
}

extern "C" PLINDOR_API int CameraSensorI2C_Write_MultiCommands(const CameraSensorI2C_Command* commands,
                                                               uint32_t count) {
  uint16_t remaining = uint16_t(count);
  if (!gI2cOpened || !commands || remaining == 0) return 0;
  CameraSensorI2C_Command batch[kMaxBatch];
  while (remaining > 0) {
    uint32_t n = remaining < kMaxBatch ? remaining : kMaxBatch;
    for (uint32_t i = 0; i < n; ++i) CameraSensorI2C_CopyCommand(&batch[i], &commands[i]);
    DWORD returned = 0;
    if (!DeviceIoControl(gI2c, kIoctlMultiWrite, batch, DWORD(n * sizeof(CameraSensorI2C_Command)), nullptr, 0,
                         &returned, nullptr))
      return 0;
    commands += n;
    remaining = uint16_t(remaining - n);
  }
  return 1;
}

extern "C" PLINDOR_API int CameraSensorGPIO_ConfigParallelCamera(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  gpio_camera_config(a, b, c, d);
  return 1;
}

extern "C" PLINDOR_API int CameraSensorGPIO_ConfigDefault(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  gpio_camera_un_config(a, b, c, d);
  return 1;
}

extern "C" PLINDOR_API int CameraSensorGPIO_Out(uint32_t kind, uint32_t value) {
  uint32_t signal;
  switch (kind) {
    case CAMERA_GPIO_KIND_RESET: signal = GPIO_SIGNAL_CAM_RESET; break;
    case CAMERA_GPIO_KIND_BOARD: signal = BoardSignal(); break;
    case CAMERA_GPIO_KIND_2: signal = GPIO_SIGNAL_CAM_101; break;
    case CAMERA_GPIO_KIND_NONE: return 1;
    case CAMERA_GPIO_KIND_4: signal = GPIO_SIGNAL_CAM_588; break;
    case CAMERA_GPIO_KIND_5: signal = GPIO_SIGNAL_CAM_594; break;
    default: return 0;
  }
  gpio_out(signal, value);
  return 1;
}

extern "C" PLINDOR_API int CameraSensorGPIO_In(uint32_t kind, uint8_t* value) {
  uint32_t signal;
  switch (kind) {
    case CAMERA_GPIO_KIND_RESET:
    case CAMERA_GPIO_KIND_2: signal = GPIO_SIGNAL_CAM_101; break;
    case CAMERA_GPIO_KIND_BOARD: signal = BoardSignal(); break;
    case CAMERA_GPIO_KIND_NONE: return 1;
    default: return 0;
  }
  if (!value) return 0;
  *value = uint8_t(gpio_in(signal));
  return 1;
}

extern "C" PLINDOR_API int CameraSensorCLK_ConfigMclk(uint32_t frequency, uint32_t b) {
  clk_regime_krs_sel_camclk(frequency, b);
  return 1;
}

extern "C" PLINDOR_API int CameraSensorCLK_UnConfigMclk(void) {
  gpio_tlmm_config(GPIO_SIGNAL_CAM_MCLK);
  return 1;
}

extern "C" PLINDOR_API int CameraSensor_PowerOn(void) { return 1; }

extern "C" PLINDOR_API int CameraSensor_PowerOff(void) { return 1; }

extern "C" PLINDOR_API int Plindor_WaitMicroSeconds(uint32_t microseconds) {
  if (microseconds >= 1000) Sleep(microseconds / 1000);
  return 1;
}

extern "C" PLINDOR_API int CameraDevmanRegister(void) {
  return clk_regime_devman_register(kDevmanClient) ? 1 : 0;
}

extern "C" PLINDOR_API int CameraDevmanDeregister(void) {
  return clk_regime_devman_deregister(kDevmanClient) ? 1 : 0;
}

extern "C" PLINDOR_API int CameraDevmanSetPerfLevel(uint32_t level) {
  uint32_t flags = level ? 0xFFFFFFFFu : 0;
  int ok = clk_regime_devman_request(kDevmanClient, 0, flags);
  ok = clk_regime_devman_request(kDevmanClient, 4, flags) && ok;
  DiagMessageSend("sensor.cpp", __LINE__, 4, "clk_regime_devman_request done", 0);
  return ok ? 1 : 0;
}
