// The capture protocol between a capture application and the camera driver: the
// property sets and their records, stream instantiation, stream buffers, data
// ranges and formats, and the notification records of the driver's message queues.
//
// Requests travel through DeviceIoControl on "CAM1:" (camera sets) and "PIN1:"
// (pin sets, instantiation, buffers); every record starts with a 24-byte property
// header naming its set, id and request type. The layouts are the phone's 32-bit
// ones and are pinned below: the driver and every client share this one header.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "wince.h"

// ---- GUIDs: 16 bytes, Data1..3 little-endian, compared byte-wise -------------------------
struct CsGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(CsGuid) == 16);

inline bool CsGuidEqual(const CsGuid& a, const CsGuid& b) {
  const uint8_t* x = reinterpret_cast<const uint8_t*>(&a);
  const uint8_t* y = reinterpret_cast<const uint8_t*>(&b);
  for (int i = 0; i < 16; ++i)
    if (x[i] != y[i]) return false;
  return true;
}

// Property sets of the camera device.
inline constexpr CsGuid CSPROPSETID_Pin = {0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
inline constexpr CsGuid CSPROPSETID_VERSION = {0x84FF1B03, 0x2D79, 0x4BFC, {0x8A, 0xEA, 0xBE, 0x85, 0xF4, 0xB9, 0xF4, 0x64}};
inline constexpr CsGuid PROPSETID_VIDCAP_CAMERACONTROL = {
    0xC6E13370, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr CsGuid KORCSPROPSETID_EX_CAMERACONTROL_ADV = {
    0x92BF8D9D, 0xB231, 0x468A, {0x83, 0x54, 0x02, 0x81, 0x68, 0xC0, 0x9D, 0x18}};
inline constexpr CsGuid PROPSETID_VIDCAP_VIDEOPROCAMP = {
    0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr CsGuid PROPSETID_VIDCAP_VIDEOCOMPRESSION = {
    0xC6E13343, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr CsGuid PROPSETID_VIDCAP_VIDEOCONTROL = {
    0x6A2E0670, 0x28E4, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr CsGuid PROPSETID_VIDCAP_DROPPEDFRAMES = {
    0xC6E13344, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr CsGuid VANTOR_PROPSETID_CAMERA = {
    0xD65CF287, 0x81F2, 0x4460, {0xA0, 0x67, 0xBD, 0x1A, 0x0C, 0x6E, 0x17, 0xCC}};
// Sets of the pin devices.
inline constexpr CsGuid CSPROPSETID_Connection = {
    0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr CsGuid VANTOR_PROPSETID_EXIF = {0xA62B00F8, 0x990D, 0x4E05, {0x89, 0x96, 0xB1, 0xE6, 0x8D, 0x87, 0x9D, 0x93}};
inline constexpr CsGuid VANTOR_PROPSETID_JPEG = {0xB0AB79EA, 0xD862, 0x47AF, {0x8E, 0xB2, 0x5A, 0xC3, 0x48, 0xB9, 0x74, 0x77}};
inline constexpr CsGuid CSPROPSETID_StreamEx = {0x443A0706, 0x9554, 0x41F4, {0xBB, 0x70, 0xEC, 0xB5, 0xD2, 0x10, 0xFB, 0x3B}};
// The general type set of property descriptions.
inline constexpr CsGuid CSPROPTYPESETID_General = {
    0x97E99BA0, 0xBDEA, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// Pin categories.
inline constexpr CsGuid PINNAME_VIDEO_CAPTURE = {0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr CsGuid PINNAME_VIDEO_PREVIEW = {0xFB6C4282, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr CsGuid PINNAME_VIDEO_STILL = {0xFB6C428A, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
// Formats.
inline constexpr CsGuid CSDATAFORMAT_TYPE_VIDEO = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr CsGuid CSDATAFORMAT_SPECIFIER_VIDEOINFO = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
// A video subtype is its FOURCC followed by the fixed tail of "vids".
constexpr CsGuid CsSubtypeOfFourcc(uint32_t fourcc) {
  return {fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// ---- I/O control codes -----------------------------------------------------------------
#define IOCTL_CS_PROPERTY 0x002F0003u
#define IOCTL_STREAM_INSTANTIATE 0x002F001Fu
#define IOCTL_CS_BUFFERS 0x002F401Fu
// The power codes (IOCTL_POWER_*) are the device manager's: devmgr.h.

// ---- Request types (the header's flags) -------------------------------------------------
#define CSPROPERTY_TYPE_GET 0x00000001u
#define CSPROPERTY_TYPE_SET 0x00000002u
#define CSPROPERTY_TYPE_SETSUPPORT 0x00000100u
#define CSPROPERTY_TYPE_BASICSUPPORT 0x00000200u
#define CSPROPERTY_TYPE_DEFAULTVALUES 0x00010000u
// Access flags of a basic-support or default-values reply: get, set, default values.
#define CSPROPERTY_DESCRIPTION_ACCESS 0x00010003u

// Control flags of camera-control and proc-amp values.
#define CSPROPERTY_FLAGS_AUTO 0x0001u
#define CSPROPERTY_FLAGS_MANUAL 0x0002u
#define CSPROPERTY_FLAGS_SELECTOR4 0x0004u
#define CSPROPERTY_FLAGS_SELECTOR8 0x0008u

// Stream states, buffer commands, allocation modes.
enum CsStreamState : uint32_t { CSSTATE_STOP = 0, CSSTATE_PAUSE = 1, CSSTATE_RUN = 2 };
enum CsBufferCommand : uint32_t { CS_ALLOCATE = 0, CS_ENQUEUE = 1, CS_DEALLOCATE = 2 };

// Pins (identifiers shared by the driver's tables and the client).
enum CsPinId : uint32_t { CS_PIN_CAPTURE = 0, CS_PIN_STILL = 1, CS_PIN_PREVIEW = 2, CS_PIN_THUMBNAIL = 3, CS_PIN_NONE = 4 };

// Ids of the pin set, the connection set and video control.
enum CsPinPropertyId : uint32_t {
  CSPROPERTY_PIN_CINSTANCES = 0,
  CSPROPERTY_PIN_CTYPES = 1,
  CSPROPERTY_PIN_DATARANGES = 2,
  CSPROPERTY_PIN_DATAINTERSECTION = 3,
  CSPROPERTY_PIN_CATEGORY = 4,
  CSPROPERTY_PIN_NAME = 5,
  CSPROPERTY_PIN_DEVICENAME = 6,
};
enum CsConnectionPropertyId : uint32_t {
  CSPROPERTY_CONNECTION_STATE = 0,
  CSPROPERTY_CONNECTION_DATAFORMAT = 1,
  CSPROPERTY_CONNECTION_ALLOCATORFRAMING = 2,
  CSPROPERTY_CONNECTION_PROPOSEDATAFORMAT = 3,
};
enum CsVideoControlPropertyId : uint32_t {
  CSPROPERTY_VIDEOCONTROL_CAPS = 0,
  CSPROPERTY_VIDEOCONTROL_MODE = 3,
};
#define CS_VIDEOCONTROL_FLAG_TRIGGER 8u
enum CsDroppedFramesPropertyId : uint32_t { CSPROPERTY_DROPPEDFRAMES_CURRENT = 0 };

// ---- Ids of the camera's control sets ------------------------------------------------------
// Video proc amp: the standard picture controls, then the maker's from 0x100.
enum CsVideoProcAmpPropertyId : uint32_t {
  CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS = 0,
  CSPROPERTY_VIDEOPROCAMP_CONTRAST = 1,
  CSPROPERTY_VIDEOPROCAMP_HUE = 2,
  CSPROPERTY_VIDEOPROCAMP_SATURATION = 3,
  CSPROPERTY_VIDEOPROCAMP_SHARPNESS = 4,
  CSPROPERTY_VIDEOPROCAMP_GAMMA = 5,
  CSPROPERTY_VIDEOPROCAMP_COLORENABLE = 6,
  CSPROPERTY_VIDEOPROCAMP_WHITEBALANCE = 7,
  CSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION = 8,
  CSPROPERTY_VIDEOPROCAMP_GAIN = 9,  // the ISO setting
  CSPROPERTY_VIDEOPROCAMP_BEST_SHOT_MODE = 0x100,
  CSPROPERTY_VIDEOPROCAMP_FIXED_CB_OFFSET = 0x101,
  CSPROPERTY_VIDEOPROCAMP_FIXED_CR_OFFSET = 0x102,
  CSPROPERTY_VIDEOPROCAMP_IMAGE_EFFECT = 0x103,
  CSPROPERTY_VIDEOPROCAMP_LUMA_ADAPTATION = 0x104,
};

// Camera control: the standard controls, then the maker's from 0x100.
enum CsCameraControlPropertyId : uint32_t {
  CSPROPERTY_CAMERACONTROL_PAN = 0,
  CSPROPERTY_CAMERACONTROL_TILT = 1,
  CSPROPERTY_CAMERACONTROL_ROLL = 2,
  CSPROPERTY_CAMERACONTROL_ZOOM = 3,
  CSPROPERTY_CAMERACONTROL_EXPOSURE = 4,  // log2 of seconds
  CSPROPERTY_CAMERACONTROL_IRIS = 5,
  CSPROPERTY_CAMERACONTROL_FOCUS = 6,
  CSPROPERTY_CAMERACONTROL_RESERVED_7 = 7,
  CSPROPERTY_CAMERACONTROL_ANTIBANDING = 0x100,  // Hz
  CSPROPERTY_CAMERACONTROL_EXPOSURE_COMPENSATION = 0x101,
  CSPROPERTY_CAMERACONTROL_METERING = 0x102,
  CSPROPERTY_CAMERACONTROL_FLASH_DEVICE = 0x103,
  CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_INTENSITY = 0x104,
  CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE = 0x105,
  CSPROPERTY_CAMERACONTROL_FOCUS_MODE = 0x106,
  CSPROPERTY_CAMERACONTROL_FOCUS_RECT_MODE = 0x107,
  CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL = 0x108,  // CS_FOCUS_CONTROL_*
  CSPROPERTY_CAMERACONTROL_FOCUS_STEP = 0x109,
  CSPROPERTY_CAMERACONTROL_FIXED_FRAME_RATE = 0x10A,  // 1: the pins ask their ports for a fixed rate
  CSPROPERTY_CAMERACONTROL_HIGH_DYNAMIC_RANGE = 0x10B,
  CSPROPERTY_CAMERACONTROL_HAND_JITTER_REDUCTION = 0x10C,
  // Read-only angles, ranged like pan, roll and tilt.
  CSPROPERTY_CAMERACONTROL_PAN_ANGLE = 0x10D,
  CSPROPERTY_CAMERACONTROL_ROLL_ANGLE = 0x10E,
  CSPROPERTY_CAMERACONTROL_TILT_ANGLE = 0x10F,
  CSPROPERTY_CAMERACONTROL_LAMP_INTENSITY = 0x110,
  CSPROPERTY_CAMERACONTROL_LAMP_MODE = 0x111,
  CSPROPERTY_CAMERACONTROL_POWER = 0x112,  // 0: D4, 1: D0
  CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE2 = 0x113,
  CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_STATE = 0x114,
  CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION = 0x115,  // x 100
  CSPROPERTY_CAMERACONTROL_RESERVED_116 = 0x116,  // an engine property of unknown use
};
// Values of the focus control.
enum CsFocusControl : int32_t { CS_FOCUS_CONTROL_SINGLE = 1, CS_FOCUS_CONTROL_CONTINUOUS = 2, CS_FOCUS_CONTROL_STOP = 4 };

// The advanced camera-control set.
enum CsCameraControlAdvPropertyId : uint32_t {
  CSPROPERTY_CAMERACONTROL_ADV_FOCUS_RECT_GRID = 0,   // get: two 32-bit words
  CSPROPERTY_CAMERACONTROL_ADV_FOCUS_RECTS = 1,       // total size, count, the rectangles
  CSPROPERTY_CAMERACONTROL_ADV_STILL_COUNT = 2,       // set: stills per trigger
  CSPROPERTY_CAMERACONTROL_ADV_ARM_STILL_COUNT = 3,   // set: arm the still count
  CSPROPERTY_CAMERACONTROL_ADV_STOP_BEFORE_STILL = 4, // one byte
  CSPROPERTY_CAMERACONTROL_ADV_RESTART_VIDEO = 5,     // set
};

// Video compression: the still pin's JPEG quality is the one served.
enum CsVideoCompressionPropertyId : uint32_t {
  CSPROPERTY_VIDEOCOMPRESSION_GETINFO = 0,
  CSPROPERTY_VIDEOCOMPRESSION_KEYFRAME_RATE = 1,
  CSPROPERTY_VIDEOCOMPRESSION_PFRAMES_PER_KEYFRAME = 2,
  CSPROPERTY_VIDEOCOMPRESSION_QUALITY = 3,
};

// The maker's camera set: a coded value in the first word of the output buffer.
enum VantorPropertyId : uint32_t {
  VANTOR_PROPERTY_ANTIBANDING = 0x1001,       // 1, 4: 60 Hz; 2: 50 Hz
  VANTOR_PROPERTY_IMAGE_EFFECT = 0x100A,
  VANTOR_PROPERTY_METERING = 0x100C,
  VANTOR_PROPERTY_AUTO_FOCUS = 0x100F,        // VANTOR_AUTO_FOCUS_*, or a zone mask
  VANTOR_PROPERTY_FLASH_MODE = 0x1016,        // VANTOR_FLASH_MODE_*; get: auto flash required
  VANTOR_PROPERTY_JPEG_ROTATION = 0x1021,
  VANTOR_PROPERTY_ZOOM = 0x1023,              // a zoom step
  VANTOR_PROPERTY_TIME_STAMP = 0x1027,        // a CameraTimeStampInfo
  VANTOR_PROPERTY_EXIF_INFORMATION = 0x1028,  // 32 bytes: orientation, flash, date and time
  VANTOR_PROPERTY_JPEG_QUALITY = 0x1029,      // main image and thumbnail
  VANTOR_PROPERTY_FLASH_INTENSITY = 0x102A,
  VANTOR_PROPERTY_TOUCH_EXPOSURE = 0x102C,    // a zone mask
  VANTOR_PROPERTY_PRE_FLASH = 0x102D,
};
enum VantorFlashMode : uint32_t { VANTOR_FLASH_MODE_OFF = 1, VANTOR_FLASH_MODE_ON = 2, VANTOR_FLASH_MODE_AUTO = 3 };
enum VantorAutoFocus : uint32_t {
  VANTOR_AUTO_FOCUS_DISABLE = 0,
  VANTOR_AUTO_FOCUS_ENABLE = 1,
  VANTOR_AUTO_FOCUS_AUTO_FLASH = 3,
  VANTOR_AUTO_FOCUS_AUTO_FLASH_NO_TOUCH = 4,
};

// The still pin's JPEG-encode set.
enum VantorJpegPropertyId : uint32_t {
  VANTOR_JPEG_QUALITY = 0,            // 1..100
  VANTOR_JPEG_THUMBNAIL_QUALITY = 1,  // 1..100
  VANTOR_JPEG_ROTATION = 2,           // degrees
  VANTOR_JPEG_OPTION = 3,             // one byte
  VANTOR_JPEG_CROP_FACTOR = 4,        // a double, 1..4; set only
};
// The still pin's EXIF set: one tag per request.
enum VantorExifPropertyId : uint32_t { VANTOR_EXIF_TAG = 0 };

// ---- Records -----------------------------------------------------------------------------
// The header of every request.
struct CSPROPERTY {
  CsGuid Set;
  uint32_t Id;
  uint32_t Flags;
};
static_assert(sizeof(CSPROPERTY) == 24);
static_assert(offsetof(CSPROPERTY, Id) == 16 && offsetof(CSPROPERTY, Flags) == 20);

// A request that names a pin.
struct CSP_PIN {
  CSPROPERTY Property;
  uint32_t PinId;
  uint32_t Reserved;
};
static_assert(sizeof(CSP_PIN) == 32 && offsetof(CSP_PIN, PinId) == 24);

// The header of a list of items (data ranges).
struct CSMULTIPLE_ITEM {
  uint32_t Size;   // bytes, with this header
  uint32_t Count;
};
static_assert(sizeof(CSMULTIPLE_ITEM) == 8);

struct CSPIN_CINSTANCES {
  uint32_t PossibleCount;
  uint32_t CurrentCount;
};
static_assert(sizeof(CSPIN_CINSTANCES) == 8);

// Stream instantiation on a pin handle: the client's read queue for buffer messages.
struct CSPROPERTY_STREAMEX_S {
  CSPROPERTY CsPin;       // CSPROPSETID_StreamEx, Id 0
  uint32_t PinId;
  uint32_t Reserved0;
  uintptr_t hMsgQueue;    // HANDLE
  uint32_t Reserved1;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CSPROPERTY_STREAMEX_S) == 40);
static_assert(offsetof(CSPROPERTY_STREAMEX_S, PinId) == 24 && offsetof(CSPROPERTY_STREAMEX_S, hMsgQueue) == 32);
#endif

// A rectangle of the video information header.
struct CsRect {
  int32_t left, top, right, bottom;
};
static_assert(sizeof(CsRect) == 16);

struct CS_BITMAPINFOHEADER {
  uint32_t biSize;       // 40
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(CS_BITMAPINFOHEADER) == 40);

// The video information block: header, then room for a colour table (never filled).
struct CS_VIDEOINFOHEADER {
  CsRect rcSource;
  CsRect rcTarget;
  uint32_t dwBitRate;
  uint32_t dwBitErrorRate;
  alignas(8) int64_t AvgTimePerFrame;  // 100 ns
  CS_BITMAPINFOHEADER bmiHeader;
  uint8_t ColorTableRoom[1040];
};
static_assert(sizeof(CS_VIDEOINFOHEADER) == 1128);
static_assert(offsetof(CS_VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(CS_VIDEOINFOHEADER, bmiHeader) == 48);

// The data-format header of a range or a format.
struct CSDATAFORMAT {
  uint32_t FormatSize;
  uint32_t Flags;
  uint32_t SampleSize;
  uint32_t Reserved;
  CsGuid MajorFormat;
  CsGuid SubFormat;
  CsGuid Specifier;
};
static_assert(sizeof(CSDATAFORMAT) == 64);
static_assert(offsetof(CSDATAFORMAT, MajorFormat) == 16 && offsetof(CSDATAFORMAT, Specifier) == 48);

struct CsSize {
  int32_t cx, cy;
};
static_assert(sizeof(CsSize) == 8);

// What a range allows; fills bytes 80..207 of a video data range.
struct CS_VIDEO_STREAM_CONFIG_CAPS {
  CsGuid guid;
  uint32_t VideoStandard;
  CsSize InputSize;
  CsSize MinCroppingSize;
  CsSize MaxCroppingSize;
  int32_t CropGranularityX;
  int32_t CropGranularityY;
  int32_t CropAlignX;
  int32_t CropAlignY;
  CsSize MinOutputSize;
  CsSize MaxOutputSize;
  int32_t OutputGranularityX;
  int32_t OutputGranularityY;
  int32_t StretchTapsX;
  int32_t StretchTapsY;
  int32_t ShrinkTapsX;
  int32_t ShrinkTapsY;
  alignas(8) int64_t MinFrameInterval;  // 100 ns; 8-aligned as on the phone
  int64_t MaxFrameInterval;
  int32_t MinBitsPerSecond;
  int32_t MaxBitsPerSecond;
};
static_assert(sizeof(CS_VIDEO_STREAM_CONFIG_CAPS) == 128);
static_assert(offsetof(CS_VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) == 104);

// One offered format of a pin.
struct CS_DATARANGE_VIDEO {
  CSDATAFORMAT DataRange;
  uint32_t bFixedSizeSamples;
  uint32_t bTemporalCompression;
  uint32_t StreamDescriptionFlags;
  uint32_t MemoryAllocationFlags;
  CS_VIDEO_STREAM_CONFIG_CAPS ConfigCaps;
  CS_VIDEOINFOHEADER VideoInfoHeader;
};
static_assert(sizeof(CS_DATARANGE_VIDEO) == 1336);
static_assert(offsetof(CS_DATARANGE_VIDEO, bFixedSizeSamples) == 64);
static_assert(offsetof(CS_DATARANGE_VIDEO, ConfigCaps) == 80);
static_assert(offsetof(CS_DATARANGE_VIDEO, ConfigCaps.MinFrameInterval) == 184);
static_assert(offsetof(CS_DATARANGE_VIDEO, ConfigCaps.MaxFrameInterval) == 192);
static_assert(offsetof(CS_DATARANGE_VIDEO, VideoInfoHeader) == 208);

// A negotiated format (format SET, intersection answer).
struct CS_DATAFORMAT_VIDEOINFOHEADER {
  CSDATAFORMAT DataFormat;
  CS_VIDEOINFOHEADER VideoInfoHeader;
};
static_assert(sizeof(CS_DATAFORMAT_VIDEOINFOHEADER) == 1192);
static_assert(offsetof(CS_DATAFORMAT_VIDEOINFOHEADER, VideoInfoHeader.bmiHeader.biSize) == 112);

// Allocator framing of a pin.
struct CSALLOCATOR_FRAMING {
  uint32_t RequirementsFlags;  // the pin's allocation mode
  uint32_t PoolType;
  uint32_t Frames;
  uint32_t FrameSize;
  uint32_t FileAlignment;
  uint32_t Reserved;
};
static_assert(sizeof(CSALLOCATOR_FRAMING) == 24);

// A stream buffer as the client and the pin exchange it.
struct CSSTREAM_HEADER {
  uint32_t Size;  // 56
  uint32_t TypeSpecificFlags;
  alignas(8) int64_t PresentationTime;  // 100 ns
  uint32_t Numerator;
  uint32_t Denominator;
  int64_t Duration;
  uint32_t FrameExtent;
  uint32_t DataUsed;
  uintptr_t Data;  // buffer pointer
  uint32_t OptionsFlags;
  uint32_t BufferHandle;
  uint32_t Reserved;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CSSTREAM_HEADER) == 56);
static_assert(offsetof(CSSTREAM_HEADER, Duration) == 24 && offsetof(CSSTREAM_HEADER, Data) == 40);
#endif
#define CSSTREAM_HEADER_OPTIONSF_SPLICEPOINT 0x00000001u
#define CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY 0x00000004u

struct CS_FRAME_INFO {
  uint32_t ExtendedHeaderSize;  // 64
  uint32_t dwFrameFlags;
  alignas(8) int64_t PictureNumber;
  int64_t DropCount;
  uint32_t Reserved[10];
};
static_assert(sizeof(CS_FRAME_INFO) == 64 && offsetof(CS_FRAME_INFO, PictureNumber) == 8);

struct CS_STREAM_DESCRIPTOR {
  CSSTREAM_HEADER CsStreamHeader;
  CS_FRAME_INFO CsFrameInfo;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CS_STREAM_DESCRIPTOR) == 120 && offsetof(CS_STREAM_DESCRIPTOR, CsFrameInfo) == 56);
#endif

// A pin's message on the client's queue: a buffer is done.
struct CS_MSGQUEUE_BUFFER_MESSAGE {
  uint32_t Size;      // 12
  uint32_t Flags;     // 1
  uint32_t Context;   // 0
  uintptr_t pStreamDescriptor;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CS_MSGQUEUE_BUFFER_MESSAGE) == 16);
#endif

// Camera-control and proc-amp value.
struct CSPROPERTY_VIDEOPROCAMP_S {
  CSPROPERTY Property;
  int32_t Value;
  uint32_t Flags;
  uint32_t Capabilities;
  uint32_t Reserved;
};
typedef CSPROPERTY_VIDEOPROCAMP_S CSPROPERTY_CAMERACONTROL_S;
static_assert(sizeof(CSPROPERTY_VIDEOPROCAMP_S) == 40 && offsetof(CSPROPERTY_VIDEOPROCAMP_S, Value) == 24);
static_assert(offsetof(CSPROPERTY_VIDEOPROCAMP_S, Flags) == 28 && offsetof(CSPROPERTY_VIDEOPROCAMP_S, Capabilities) == 32);

// Video-control capabilities and mode.
struct CSPROPERTY_VIDEOCONTROL_S {
  CSPROPERTY Property;
  uint32_t StreamIndex;
  uint32_t Value;  // capability flags, or the mode
};
static_assert(sizeof(CSPROPERTY_VIDEOCONTROL_S) == 32 && offsetof(CSPROPERTY_VIDEOCONTROL_S, Value) == 28);

struct CSPROPERTY_DROPPEDFRAMES_CURRENT_S {
  CSPROPERTY Property;
  alignas(8) int64_t PictureNumber;
  int64_t DropCount;
  uint32_t AverageFrameSize;
  uint32_t Reserved;
};
static_assert(sizeof(CSPROPERTY_DROPPEDFRAMES_CURRENT_S) == 48);
static_assert(offsetof(CSPROPERTY_DROPPEDFRAMES_CURRENT_S, DropCount) == 32);
static_assert(offsetof(CSPROPERTY_DROPPEDFRAMES_CURRENT_S, AverageFrameSize) == 40);

struct CSPROPERTY_VIDEOCOMPRESSION_GETINFO_S {
  CSPROPERTY Property;
  uint32_t StreamIndex;
  int32_t DefaultKeyFrameRate;
  int32_t DefaultPFrameRate;
  int32_t DefaultQuality;
  int32_t NumberOfQualitySettings;
  int32_t Capabilities;
};
static_assert(sizeof(CSPROPERTY_VIDEOCOMPRESSION_GETINFO_S) == 48);

struct CSPROPERTY_VIDEOCOMPRESSION_S {
  CSPROPERTY Property;
  uint32_t StreamIndex;
  int32_t Value;
};
static_assert(sizeof(CSPROPERTY_VIDEOCOMPRESSION_S) == 32);

// Property descriptions (basic support, default values).
struct CSIDENTIFIER {
  CsGuid Set;
  uint32_t Id;
  uint32_t Flags;
};
static_assert(sizeof(CSIDENTIFIER) == 24);

struct CSPROPERTY_DESCRIPTION {
  uint32_t AccessFlags;
  uint32_t DescriptionSize;
  CSIDENTIFIER PropTypeSet;
  uint32_t MembersListCount;
  uint32_t Reserved;
};
static_assert(sizeof(CSPROPERTY_DESCRIPTION) == 40);

struct CSPROPERTY_MEMBERSHEADER {
  uint32_t MembersFlags;  // 1 range, 3 values
  uint32_t MembersSize;
  uint32_t MembersCount;
  uint32_t Flags;         // 1 default
};
static_assert(sizeof(CSPROPERTY_MEMBERSHEADER) == 16);
#define CSPROPERTY_MEMBER_RANGES 1u
#define CSPROPERTY_MEMBER_VALUES 3u
#define CSPROPERTY_MEMBER_FLAG_DEFAULT 1u

struct CSPROPERTY_STEPPING_LONG {
  uint32_t SteppingDelta;
  uint32_t Reserved;
  int32_t SignedMinimum;
  int32_t SignedMaximum;
};
static_assert(sizeof(CSPROPERTY_STEPPING_LONG) == 16);

// A basic-support reply: description, the range list's header, the stepping range.
struct CSPROPERTY_BASICSUPPORT_REPLY {
  CSPROPERTY_DESCRIPTION Description;
  CSPROPERTY_MEMBERSHEADER Members;
  CSPROPERTY_STEPPING_LONG Stepping;
};
static_assert(sizeof(CSPROPERTY_BASICSUPPORT_REPLY) == 72);

// A default-values reply: description, the default list's header, the default.
struct CSPROPERTY_DEFAULTVALUES_REPLY {
  CSPROPERTY_DESCRIPTION Description;
  CSPROPERTY_MEMBERSHEADER Members;
  int32_t Default;
};
static_assert(sizeof(CSPROPERTY_DEFAULTVALUES_REPLY) == 60);

// ---- The camera's notification queue --------------------------------------------------------
// "CamAsyncMSGQueue": the driver writes, the camera application reads.
#define CAM_ASYNC_QUEUE_NAME u"CamAsyncMSGQueue"
#define CAM_ASYNC_QUEUE_MAX_MESSAGES 10u

enum CamAsyncEvent : uint32_t {
  CAM_ASYNC_FOCUS_COMPLETE = 0,
  CAM_ASYNC_PRE_FLASH_COMPLETE = 5,
};
// Focus status: the focus was started by an auto-flash auto-focus request.
#define CAM_ASYNC_FOCUS_STATUS_AUTO_FLASH 3u

struct AsyncCameraMessage {
  uint32_t event;
  uint32_t size;  // 20
  uint32_t status;
  uint32_t reserved0;  // the post-capture message's screen (contiguous memory, 32-bit addressed)
  uint32_t reserved1;  // and size
};
static_assert(sizeof(AsyncCameraMessage) == 20);

// ---- The still pin's EXIF set ---------------------------------------------------------------
// One EXIF tag as a client sets it: tag, value length in bytes, EXIF type (1-10), and the
// client's pointer to the value bytes.
struct PropertyItem {
  uint32_t tag;
  uint32_t length;
  uint16_t type;
  uint16_t pad;
  uintptr_t value;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PropertyItem) == 16);
#endif

// ---- Power ------------------------------------------------------------------------------
struct CS_POWER_CAPABILITIES {
  uint8_t DeviceDx;  // bit n: Dn supported
  uint8_t WakeFromDx;
  uint8_t InrushDx;
  uint8_t Reserved;
  uint32_t Power[5];
  uint32_t Latency[5];
  uint32_t Flags;
};
static_assert(sizeof(CS_POWER_CAPABILITIES) == 48);
#define CS_POWER_D0 0u
#define CS_POWER_D4 4u
// The COM failure code the power device reports for a short capabilities buffer.
#define CS_E_FAIL 0x80004005u
