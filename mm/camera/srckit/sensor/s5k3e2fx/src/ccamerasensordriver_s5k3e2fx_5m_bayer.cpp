// The S5K3E2FX sensor driver object: creation with the chip-identifier probe,
// the power sequences, the command table and the property records. See the
// header for its place in the camera.
#include "ccamerasensordriver_s5k3e2fx_5m_bayer.h"

#include <string.h>

#include "hostsymbols.h"
#include "plindor.h"
#include "pvllog.h"
#include "s5k3e2fxregisters.h"
#include "senvarobject.h"
#include "wince.h"

namespace {

constexpr uint8_t kSlave = 0x20;
constexpr uint32_t kBusFlags = 0x22;
constexpr uint32_t kMasterClockHz = CAMERA_MCLK_FREQUENCY_HZ;
constexpr uint32_t kPin = CAMERA_GPIO_CONFIG_ARG;  // the pin calls' arguments: nothing to choose
constexpr uint32_t kPowerWaitMicroseconds = 10000;
constexpr uint32_t kResetSignal = 0;  // camera signal 0: the sensor's reset line
constexpr int kTries = 3;

// Shared by every sensor-driver instance; the sensor service serialises calls.
CameraSensorI2C_Command s_bus;
uint8_t s_readBuffer[2];

const char kMaker[] = "Samsung";
const char kModel[] = "S5K3E2FX 5MP BAYER)";
const char kIdentifier[] = "Samsung_S5K3E2FX_5MP_BAYER";

void PresetBus() {
  memset(&s_bus, 0, sizeof s_bus);
  s_bus.busMode = 0;
  s_bus.slaveAddress = kSlave;
  s_bus.flags = kBusFlags;
}

void ResetRecords(S5K3E2FXDriver* d) {
  const S5K3E2FXModeConstants& preview = g_S5K3E2FXModes[S5K3E2FX_MODE_PREVIEW];
  d->capabilities = SensorCapabilities{{2, 2, 2, 2, 4, 2, 2}, {0, 0, 0}, 0};
  d->identity = SensorIdentity{};
  d->identity.Kind = 1;
  d->optics = SensorOptics{1, 0, 3.2f, 3.2f, 3.2f, {0, 0, 0}};
  d->extraInfo = SensorExtraInfo{};
  d->outputFormat = SensorOutputFormat{{3, 2, 12}};
  d->timing = SensorTiming{{33333, 33333, preview.pixelClock, preview.pixelClock}};
  d->geometry = SensorGeometry{{preview.lineLength, preview.height, preview.width, 0, 0, preview.height,
                                preview.width, preview.width, preview.height, g_S5K3E2FXModes[1].width,
                                g_S5K3E2FXModes[1].height, 2, 2, 2}};
  d->modeInfo = SensorModeInfo{{1, 1, 2, 2}};
  d->gainInfo = SensorGainInfo{{0, 0, 511, 0, 0}};
  d->pixelClock[0] = preview.pixelClock;
  d->pixelClock[1] = preview.pixelClock;
}

PvlResult PowerUp(S5K3E2FXDriver* d) {
  d->powerState = S5K3E2FX_POWER_STARTING;
  if (!CameraSensor_PowerOn()) return PVL_E_FAIL;
  if (!CameraSensorCLK_ConfigMclk(d->masterClock, CAMERA_MCLK_ARG)) return PVL_E_FAIL;
  Plindor_WaitMicroSeconds(kPowerWaitMicroseconds);
  if (!CameraSensorGPIO_Out(kResetSignal, 1)) return PVL_E_FAIL;
  Plindor_WaitMicroSeconds(kPowerWaitMicroseconds);
  d->powerState = S5K3E2FX_POWER_ON;
  return PVL_OK;
}

PvlResult PowerDown(S5K3E2FXDriver* d) {
  if (!CameraSensorGPIO_Out(kResetSignal, 0)) return PVL_E_FAIL;
  if (!CameraSensorCLK_UnConfigMclk()) return PVL_E_FAIL;
  if (!CameraSensor_PowerOff()) return PVL_E_FAIL;
  d->powerState = S5K3E2FX_POWER_DOWN;
  return PVL_OK;
}

PvlResult S5K3E2FX_ReadChipId(S5K3E2FXDriver* d) {
  PvlResult r = PowerUp(d);
  if (r != PVL_OK) return r;
  uint16_t id = 0;
  if (!S5K3E2FX_I2CRead(S5K3E2FX_REG_CHIP_ID, &id) || id != S5K3E2FX_CHIP_ID) return PVL_E_UNSUPPORTED;
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Detected S5K3E2FX chipid = %x", id);
  return PVL_OK;
}

// The engine asks this when a write failed or frames stopped while streaming:
// only a chip that no longer answers its identifier (after the register
// layer's tries) is lost. A slow or busy chip still answers.
PvlResult CheckPresence(S5K3E2FXDriver* d) {
  if (d->powerState != S5K3E2FX_POWER_ON) return PVL_E_NOTREADY;
  uint16_t id = 0;
  if (!S5K3E2FX_I2CRead(S5K3E2FX_REG_CHIP_ID, &id)) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "S5K3E2FX does not answer its chip id: sensor lost");
    return PVL_E_DEVICE_LOST;
  }
  if (id != S5K3E2FX_CHIP_ID) CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "S5K3E2FX answers chip id %x", id);
  return PVL_OK;
}

}  // namespace

// Undoes the construction steps that were taken, then gives the memory back
// to `allocator`. The last Release and a failed construction both end here.
void S5K3E2FXDriver::Destroy(S5K3E2FXDriver* d, IEnv* allocator) {
  if (d->powerState != S5K3E2FX_POWER_DOWN) PowerDown(d);
  if (d->pinsConfigured) CameraSensorGPIO_ConfigDefault(kPin, kPin, kPin, kPin);
  if (d->busOpen) CameraSensorI2C_DeInit();
  if (d->lens) {
    ICameraDriver* lens = d->lens;
    d->lens = nullptr;
    lens->Release();
  }
  SenvarDriver::Destroy(d, allocator);
}

namespace {

PvlResult Construct(S5K3E2FXDriver* d, IEnv* env) {
  if (!d || !env) return PVL_E_NULLPTR;
  d->self = d;
  d->refs = 0;
  d->powerState = S5K3E2FX_POWER_DOWN;
  if (!CameraSensorI2C_Init()) return PVL_E_FAIL;
  d->busOpen = true;
  PresetBus();
  if (!CameraSensorGPIO_ConfigParallelCamera(kPin, kPin, kPin, kPin)) return PVL_E_FAIL;
  d->pinsConfigured = true;
  d->env = env;
  env->AddRef();
  d->masterClock = kMasterClockHz;
  PvlResult r = S5K3E2FX_ReadChipId(d);
  if (r != PVL_OK) return r;
  ResetRecords(d);
  d->currentGain = 0;
  d->currentLineCount = 0;
  // Until the first mode change the exposure code works on the preview frame
  // (the set the initialisation programs), never on an unset frame length.
  S5K3E2FX_SetPreviewTiming(d);
  void* lens = nullptr;
  r = env->CreateInstance(ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, &lens);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Failed CreateInstance AF clsid = %x, AF id = %x",
                     ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, ZUEUID_CLASS_S5K3E2FX_AF_DRIVER);
    return r;
  }
  d->lens = static_cast<ICameraDriver*>(lens);
  return PVL_OK;
}

// The property-read rule: the length first, then a size query or a copy.
PvlResult ReadProperty(const void* record, uint32_t size, void* output, uint32_t outputSize, uint32_t* outputLength) {
  if (outputLength) *outputLength = size;
  if (!output) return PVL_OK;
  if (outputSize != size) return PVL_E_BADARG;
  memcpy(output, record, size);
  return PVL_OK;
}

void FillText(SensorIdentityText* slot, const char* text, uint32_t length) {
  slot->Length = length;
  if (slot->Buffer && slot->Capacity >= length)
    memcpy(reinterpret_cast<void*>(uintptr_t(slot->Buffer)), text, length);
}

PvlResult ReadIdentity(S5K3E2FXDriver* d, void* output, uint32_t outputSize, uint32_t* outputLength) {
  if (outputLength) *outputLength = sizeof(SensorIdentity);
  if (!output) return PVL_OK;
  if (outputSize != sizeof(SensorIdentity)) return PVL_E_BADARG;
  SensorIdentity* id = static_cast<SensorIdentity*>(output);
  id->Kind = d->identity.Kind;
  FillText(&id->Maker, kMaker, sizeof kMaker);
  FillText(&id->Model, kModel, sizeof kModel);
  FillText(&id->Identifier, kIdentifier, sizeof kIdentifier);
  return PVL_OK;
}

// Preview when the size fits the binned output, full when it fits the array;
// -1 for a size neither mode can give.
int ClassifySize(int64_t width, int64_t height) {
  const S5K3E2FXModeConstants& preview = g_S5K3E2FXModes[S5K3E2FX_MODE_PREVIEW];
  const S5K3E2FXModeConstants& full = g_S5K3E2FXModes[S5K3E2FX_MODE_FULL];
  if (width >= 1 && width <= preview.width && height >= 1 && height <= preview.height) return S5K3E2FX_MODE_PREVIEW;
  if (width >= 1 && width <= full.width && height >= 1 && height <= full.height) return S5K3E2FX_MODE_FULL;
  return -1;
}

PvlResult GetFrameTiming(S5K3E2FXDriver* d, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                         uint32_t* outputLength) {
  if (!input) return PVL_E_NULLPTR;
  if (outputLength) *outputLength = 0;
  if (!output) return PVL_OK;
  if (inputSize != sizeof(SensorFrameTimingRequest) || outputSize != sizeof(SensorFrameTimingAnswer))
    return PVL_E_BADARG;
  const SensorFrameTimingRequest* request = static_cast<const SensorFrameTimingRequest*>(input);
  int mode = ClassifySize(request->Width, request->Height);
  if (mode < 0) return PVL_E_BADARG;
  const S5K3E2FXModeConstants& m = g_S5K3E2FXModes[mode];
  uint32_t width = mode == S5K3E2FX_MODE_PREVIEW ? m.width : d->geometry.Words[9];
  uint32_t height = mode == S5K3E2FX_MODE_PREVIEW ? m.height : d->geometry.Words[10];
  uint32_t clock = d->timing.Words[2];
  uint32_t interval = S5K3E2FX_FrameInterval(m.lineLength, m.frameLength, clock);
  SensorFrameTimingAnswer* a = static_cast<SensorFrameTimingAnswer*>(output);
  *a = SensorFrameTimingAnswer{{1, m.frameLength, m.lineLength, width, height, clock, interval, interval}};
  return PVL_OK;
}

PvlResult SensorMode(S5K3E2FXDriver* d, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                     uint32_t* outputLength) {
  if (input) {
    if (inputSize != sizeof(SensorModeRecord)) return PVL_E_BADARG;
    const SensorModeRecord* request = static_cast<const SensorModeRecord*>(input);
    int mode = ClassifySize(request->resolution.width, request->resolution.height);
    // Checked before the sensor is touched: the mode's exposure comes last.
    if (mode < 0 || request->exposureConfig.nIntegrationLineCount < 0) return PVL_E_BADARG;
    PvlResult r = S5K3E2FX_5M_SetSensorMode(d, uint32_t(mode), request);
    if (r != PVL_OK) return r;
  }
  if (outputLength) *outputLength = sizeof(SensorModeRecord);
  if (!output) return input ? PVL_OK : PVL_E_BADARG;
  if (outputSize != sizeof(SensorModeRecord)) return PVL_E_BADARG;
  memcpy(output, &d->lastMode, sizeof d->lastMode);
  return PVL_OK;
}

}  // namespace

bool S5K3E2FX_I2CWrite(uint16_t reg, uint8_t value) {
  uint8_t byte = value;
  s_bus.registerAddress = reg;
  s_bus.data = &byte;
  s_bus.length = 1;
  for (int i = 0; i < kTries; ++i)
    if (CameraSensorI2C_Write(&s_bus)) return true;
  CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "I2C writing failed with register = %x, value = %x", reg, value);
  return false;
}

bool S5K3E2FX_I2CRead(uint16_t reg, uint16_t* value) {
  if (!value) return false;
  s_bus.registerAddress = reg;
  s_bus.data = s_readBuffer;
  s_bus.length = 2;
  for (int i = 0; i < kTries; ++i) {
    if (CameraSensorI2C_Read(&s_bus)) {
      *value = uint16_t((s_readBuffer[0] << 8) | s_readBuffer[1]);
      return true;
    }
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "I2C reading failed with register = %x, value = %x", reg, *value);
  return false;
}

PvlResult S5K3E2FX_5M_CreateInstance(IEnv* env, ZUEUID clsid, void*, void** out) {
  NKDbgPrintfW(u"S5K3E2FX_5M_CreateInstance clsid = %x \n", clsid);
  if (clsid != ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER) return PVL_E_NOTSUPPORTED;
  if (!env || !out) return PVL_E_NULLPTR;
  // Every word starts at zero, so no record is ever copied out uninitialised.
  return SenvarCreate(env, SENVAR_ALLOCATION_TAG, Construct, out);
}

PvlResult S5K3E2FXDriver::Execute(uint32_t command, void* input, uint32_t inputSize, void* output,
                                  uint32_t outputSize, uint32_t* outputLength) {
  S5K3E2FXDriver* d = self;
  switch (command) {
    case ZUEUID_SENSOR_CMD_POWER_UP: {
      PvlResult r = PowerUp(d);
      return r != PVL_OK ? r : S5K3E2FX_InitRegisters(d);
    }
    case ZUEUID_SENSOR_CMD_POWER_DOWN:
      return PowerDown(d);
    case ZUEUID_SENSOR_CMD_START:
    case ZUEUID_SENSOR_CMD_STOP:
      return PVL_OK;
    case ZUEUID_SENSOR_CMD_CHECK_PRESENCE:
      return CheckPresence(d);
    case ZUEUID_SENSOR_CMD_RESET:
      ResetRecords(d);
      d->powerState = S5K3E2FX_POWER_ON;
      return S5K3E2FX_InitRegisters(d);
    case ZUEUID_SENSOR_PROPERTY_CAPABILITIES:
      return ReadProperty(&d->capabilities, sizeof d->capabilities, output, outputSize, outputLength);
    case ZUEUID_SENSOR_PROPERTY_IDENTITY:
      return ReadIdentity(d, output, outputSize, outputLength);
    case ZUEUID_SENSOR_PROPERTY_OPTICS:
      return ReadProperty(&d->optics, sizeof d->optics, output, outputSize, outputLength);
    case ZUEUID_SENSOR_PROPERTY_EXTRA_INFO:
      return ReadProperty(&d->extraInfo, sizeof d->extraInfo, output, outputSize, outputLength);
    case ZUEUID_SENSOR_PROPERTY_OUTPUT_FORMAT:
      return ReadProperty(&d->outputFormat, sizeof d->outputFormat, output, outputSize, outputLength);
    case ZUEUID_SENSOR_PROPERTY_TIMING:
      return ReadProperty(&d->timing, sizeof d->timing, output, outputSize, outputLength);
    case ZUEUID_SENSOR_PROPERTY_GEOMETRY:
      return ReadProperty(&d->geometry, sizeof d->geometry, output, outputSize, outputLength);
    case ZUEUID_SENSOR_PROPERTY_MODE_INFO:
      return ReadProperty(&d->modeInfo, sizeof d->modeInfo, output, outputSize, outputLength);
    case ZUEUID_SENSOR_PROPERTY_GAIN_INFO:
      return ReadProperty(&d->gainInfo, sizeof d->gainInfo, output, outputSize, outputLength);
    case ZUEUID_SENSOR_CMD_GET_FRAME_TIMING:
      return GetFrameTiming(d, input, inputSize, output, outputSize, outputLength);
    case ZUEUID_SENSOR_CMD_EXPOSURE:
      return S5K3E2FX_5M_Exposure_Gain(d, input, inputSize, output, outputSize, outputLength);
    case ZUEUID_SENSOR_CMD_FOCUS:
      if (!d->lens) return PVL_E_NOTREADY;
      return d->lens->Command(command, input, inputSize, output, outputSize, outputLength);
    case ZUEUID_SENSOR_CMD_SENSOR_MODE:
      return SensorMode(d, input, inputSize, output, outputSize, outputLength);
    default:
      return PVL_E_UNSUPPORTED;
  }
}

PvlResult S5K3E2FXDriver::Stop() {
  if (!self) return PVL_E_NULLPTR;
  if (self->powerState == S5K3E2FX_POWER_DOWN) return PVL_OK;
  return PowerDown(self);
}
