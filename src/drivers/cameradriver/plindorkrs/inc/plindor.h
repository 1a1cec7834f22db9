// Plindor: the platform library. The only code that touches the chipset's
// drivers; every other deliverable reaches the sensor bus, GPIO, clocks,
// contiguous memory, the VFE interrupt and the diagnostic channel through
// these exports.
//
// Unless stated otherwise an export returns 1 for success and 0 for failure.
#ifndef PLINDOR_H
#define PLINDOR_H

#include <stddef.h>
#include <stdint.h>

#if defined(PLINDOR_BUILD)
#define PLINDOR_API __attribute__((visibility("default")))
#else
#define PLINDOR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------
// Sensor bus, GPIO, clock and power

// One transfer of the I2C bus device "CI2C1:" (36 bytes).
typedef struct CameraSensorI2C_Command {
  uint32_t busMode;          // 0, 1 or 2; anything else is sent as 3
  uint8_t slaveAddress;      // 7-bit slave address (the sensor is 0x20)
  uint8_t pad[3];
  uint32_t flags;            // bits 0x1..0x100 (the sensor driver uses 0x22)
  uint32_t direction;        // 1 write, 2 read; set by the library
  void* data;                // the data buffer
  uint16_t registerAddress;
  uint16_t length;           // data length in bytes
  uint32_t reserved[3];      // passed through unchanged
} CameraSensorI2C_Command;

enum {
  CAMERA_I2C_DIRECTION_WRITE = 1,
  CAMERA_I2C_DIRECTION_READ = 2,
};

// Bus device control codes.
#define CAMERA_I2C_IOCTL_SET_PARAM0 0x220C00u   // 4-byte value in the record's data
#define CAMERA_I2C_IOCTL_SET_PARAM1 0x220C04u   // 4-byte value (bus speed, 100)
#define CAMERA_I2C_IOCTL_MULTI_WRITE 0x220C24u  // up to 8 records

PLINDOR_API int CameraSensorI2C_Init(void);
PLINDOR_API int CameraSensorI2C_DeInit(void);
PLINDOR_API int CameraSensorI2C_Write(const CameraSensorI2C_Command* command);
PLINDOR_API int CameraSensorI2C_Read(const CameraSensorI2C_Command* command);
PLINDOR_API int CameraSensorI2C_Write_MultiCommands(const CameraSensorI2C_Command* commands, uint32_t count);
// Copies a record, normalising bus mode, flags and direction. Null either side: nothing.
PLINDOR_API void CameraSensorI2C_CopyCommand(CameraSensorI2C_Command* destination,
                                             const CameraSensorI2C_Command* source);

// Camera signal kinds of CameraSensorGPIO_Out / CameraSensorGPIO_In.
enum {
  CAMERA_GPIO_KIND_RESET = 0,   // signal 600 (GPIO 144): the sensor's reset line
  CAMERA_GPIO_KIND_BOARD = 1,   // the signal named by the board description
  CAMERA_GPIO_KIND_2 = 2,       // signal 101
  CAMERA_GPIO_KIND_NONE = 3,    // nothing to drive
  CAMERA_GPIO_KIND_4 = 4,       // signal 588
  CAMERA_GPIO_KIND_5 = 5,       // signal 594
};

// The camera-pin and master-clock calls keep the argument lists of the chipset
// services they forward to (gpio_camera_config / gpio_camera_un_config and
// clk_regime_krs_sel_camclk), so that their exports stay as they are. Their callers
// have nothing to choose: the probe and the sensor driver configure and restore the
// pins with no arguments of their own and start the clock by frequency only. They
// pass these values, and every new caller does the same.
#define CAMERA_GPIO_CONFIG_ARG 0u           // each of a, b, c and d of both pin calls
#define CAMERA_MCLK_FREQUENCY_HZ 24000000u  // the sensor's master clock, 24 MHz
#define CAMERA_MCLK_ARG 0u                  // ConfigMclk's second argument (b)

// Configures the parallel camera interface pins (pass CAMERA_GPIO_CONFIG_ARG four times).
PLINDOR_API int CameraSensorGPIO_ConfigParallelCamera(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
// Returns the camera pins to their defaults (pass CAMERA_GPIO_CONFIG_ARG four times).
PLINDOR_API int CameraSensorGPIO_ConfigDefault(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
PLINDOR_API int CameraSensorGPIO_Out(uint32_t kind, uint32_t value);
PLINDOR_API int CameraSensorGPIO_In(uint32_t kind, uint8_t* value);
// Selects and starts the master clock: frequency in Hz (CAMERA_MCLK_FREQUENCY_HZ for
// the sensor), b is CAMERA_MCLK_ARG.
PLINDOR_API int CameraSensorCLK_ConfigMclk(uint32_t frequency, uint32_t b);
// Stops the master clock: its pin goes back to its plain configuration.
PLINDOR_API int CameraSensorCLK_UnConfigMclk(void);
PLINDOR_API int CameraSensor_PowerOn(void);
PLINDOR_API int CameraSensor_PowerOff(void);
// Sleeps microseconds / 1000 whole milliseconds; returns 1.
PLINDOR_API int Plindor_WaitMicroSeconds(uint32_t microseconds);
PLINDOR_API int CameraDevmanRegister(void);
PLINDOR_API int CameraDevmanDeregister(void);
PLINDOR_API int CameraDevmanSetPerfLevel(uint32_t level);

// ---------------------------------------------------------------------------
// Buffer list and contiguous memory

typedef struct BMListEntry {
  uint32_t PhysAddress;
  uint32_t VirtAddress;
  uint32_t length;
} BMListEntry;

enum {
  BUFFER_BLOCK_IDX = 0,
  BUFFER_AUX1_IDX = 1,
  BUFFER_SNAPSHOT_IDX = 2,
  BUFFER_JPEG_IDX = 3,
  BUFFER_THUMBNAIL_IDX = 4,
  BUFFER_WBSTATS_IDX = 5,
  BUFFER_AFSTATS_IDX = 6,
  BUFFER_ACTION_SCREEN_IDX = 7,
  BUFFER_AUX8_IDX = 8,
  BUFFER_COUNT = 9,
};

PLINDOR_API int VantorInitBufferManager(void);
// A fixed buffer by size (or, in test mode, a real allocation); null when the
// request does not fit its buffer or memory is short.
PLINDOR_API void* CameraPMEMMalloc(uint32_t size);
// Frees only in test mode; returns the test-mode value.
PLINDOR_API int CameraPMEMFree(void* address);
PLINDOR_API uint32_t CameraPMEMGetPhysicalAddress(void* virtualAddress);
PLINDOR_API void* VantorGetSnapshotVirtBuffer(void);
PLINDOR_API void* VantorGetJPEGVirtBuffer(void);
PLINDOR_API void* VantorGetActionScreenVirtBuffer(void);

// ---------------------------------------------------------------------------
// VFE clocks, register window and interrupt thread

// Called on the VFE interrupt thread with 0, once per interrupt; the
// interrupt is completed after it returns.
typedef void (*vfe_ist_callback)(uint32_t argument);

PLINDOR_API int vfe_config_clks_common(uint32_t type);
PLINDOR_API int vfe_unconfig_clks(void);
PLINDOR_API int vfe_config_clks_sensor(void);
PLINDOR_API int vfe_config_clks_testgen(void);
// The mapped VFE register window (physical 0xA0F00000, 4 KB).
PLINDOR_API volatile void* vfe_get_virtual_address(void);
// 0 on success, 1 when the thread already exists or a step fails.
PLINDOR_API int vfe_init(vfe_ist_callback istCB, void* argument);
// Returns 0.
PLINDOR_API int vfe_stop(void);

// ---------------------------------------------------------------------------
// Flash LED, time stamps, status flags and diagnostic channel

// The one-slot time-stamp mailbox record (32 bytes). The fourth word carries
// the image width and the fifth the image height.
typedef struct CameraTimeStampInfo {
  void* pb;            // buffer address
  uint32_t aW;
  uint32_t aH;
  uint32_t ImgW;
  uint32_t ImgH;
  uint32_t cx;
  uint32_t cy;
  uint32_t dwFormat;
} CameraTimeStampInfo;

PLINDOR_API int InitFlashLight(void);
// 0 off; 1..30 torch program; above 30 the flash line; a repeated level does nothing.
PLINDOR_API int PMICFlashLED_SetCurrent(uint32_t level);
PLINDOR_API int PMICFlashLED_SetMode(uint32_t mode);
// The time in 100-ns units; 0 (and *time = 0) without a performance counter.
PLINDOR_API int CameraGetTime(uint64_t* time);
PLINDOR_API int VantorUpdateTimeStamp(const CameraTimeStampInfo* record);
PLINDOR_API int VantorGetTimeStamp(CameraTimeStampInfo* record);
PLINDOR_API uint32_t GetSnapshotStatus(void);
PLINDOR_API int SetSnapshotStatus(uint32_t value);
PLINDOR_API uint32_t GetAutoFlashRequired(void);
PLINDOR_API uint32_t SetAutoFlashRequired(uint32_t value);
// Low byte of the shared test-mode (LTK) word; 1 means test mode.
PLINDOR_API uint8_t VantorIsCameraLTKRunning(void);
PLINDOR_API uint8_t VantorIsCameraIOTest(void);
PLINDOR_API int VantorSetIsCamOpen(uint32_t flag);
// Sends one line to the chipset's diagnostic channel when the level mask has
// any of the bits 0x1c (the framework's log always passes 4).
PLINDOR_API void DiagMessageSend(const char* fileName, uint32_t line, uint32_t levelMask, const char* text,
                                 uint32_t argument);

// Shared status area (physical 0x81000, 16,388 bytes, one copy for all processes).
#define CAMERA_SHARED_STATUS_PHYS 0x81000u
#define CAMERA_SHARED_STATUS_SIZE 16388u
#define CAMERA_SHARED_AUX1_OFFSET 6276u
#define CAMERA_SHARED_THUMBNAIL_OFFSET 6280u
#define CAMERA_SHARED_SNAPSHOT_OFFSET 6284u
#define CAMERA_SHARED_JPEG_OFFSET 6288u
#define CAMERA_SHARED_WBSTATS_OFFSET 6292u
#define CAMERA_SHARED_AFSTATS_OFFSET 6296u
#define CAMERA_SHARED_ACTION_SCREEN_OFFSET 6300u
#define CAMERA_SHARED_AUX8_OFFSET 6304u
#define CAMERA_SHARED_LTK_OFFSET 6308u
#define CAMERA_SHARED_CAMOPEN_OFFSET 6312u
#define CAMERA_SHARED_IOTEST_OFFSET 6316u

#ifdef __cplusplus
}  // extern "C"

#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(void*) == 4, "the platform library's records are ILP32");
static_assert(sizeof(CameraSensorI2C_Command) == 36);
static_assert(offsetof(CameraSensorI2C_Command, busMode) == 0);
static_assert(offsetof(CameraSensorI2C_Command, slaveAddress) == 4);
static_assert(offsetof(CameraSensorI2C_Command, flags) == 8);
static_assert(offsetof(CameraSensorI2C_Command, direction) == 12);
static_assert(offsetof(CameraSensorI2C_Command, data) == 16);
static_assert(offsetof(CameraSensorI2C_Command, registerAddress) == 20);
static_assert(offsetof(CameraSensorI2C_Command, length) == 22);
static_assert(offsetof(CameraSensorI2C_Command, reserved) == 24);
static_assert(sizeof(BMListEntry) == 12);
static_assert(sizeof(CameraTimeStampInfo) == 32);
static_assert(offsetof(CameraTimeStampInfo, aW) == 4);
static_assert(offsetof(CameraTimeStampInfo, ImgW) == 12);
static_assert(offsetof(CameraTimeStampInfo, ImgH) == 16);
static_assert(offsetof(CameraTimeStampInfo, dwFormat) == 28);
#endif
#endif

#endif  // PLINDOR_H
