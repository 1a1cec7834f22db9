// Property translation between the capture protocol's camera sets and the engine's
// framework properties. A client speaks in an id, a 32-bit value and control flags
// within ranges the driver publishes; the engine speaks in typed values with its own
// minimum, maximum and a control mode. The static maps pair the two; every camera
// device keeps its own copy of each row (its supported flag may change when the
// engine refuses a default), and the translators carry the arithmetic both ways.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "camerapropertyids.h"
#include "cpvlvariant.h"
#include "csprotocol.h"
#include "ijpegservice.h"
#include "ipropertystore.h"

// The engine's property record as the driver reads and fills it: a descriptor's head
// and its status word, one at a time through GetProperties.
struct PVLPropertyRecord {
  PvlPropertyDescHead head;
  uint32_t status;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PVLPropertyRecord) == PVL_PROPERTY_RECORD_SIZE);
static_assert(offsetof(PVLPropertyRecord, head.attribute) == 152, "the control mode");
#endif
typedef PvlPropertyValueRecord PVLPropertyValue;

// One row of a static map: the client's id, the engine property behind it (0: none),
// the engine value's type, the published range, default and default flags, the
// control flags a client may use (also the capabilities of every reply), and whether
// the property is served (its default is pushed to the engine at preparation).
struct DSPropertyMapEntry {
  uint32_t clientId;
  uint32_t engineId;
  uint32_t type;
  int32_t step;
  int32_t minimum;
  int32_t maximum;
  int32_t defaultValue;
  uint32_t defaultFlags;
  uint32_t capabilities;
  uint32_t supported;
};

inline constexpr uint32_t kVideoProcAmpRows = 15;
inline constexpr uint32_t kCameraControlRows = 31;
inline constexpr uint32_t kVideoCompressionRows = 6;
extern const DSPropertyMapEntry g_VideoProcAmpPropMap[kVideoProcAmpRows];
extern const DSPropertyMapEntry g_CameraControlPropMap[kCameraControlRows];
extern const DSPropertyMapEntry g_VideoCompressionPropMap[kVideoCompressionRows];

// A device's copy of a row; only the copy's supported flag ever changes.
typedef DSPropertyMapEntry DevicePropertyRecord;

// Row index of a client id in each map, or -1.
int VideoProcAmpRow(uint32_t clientId);
int CameraControlRow(uint32_t clientId);
int VideoCompressionRow(uint32_t clientId);

// Translator results (framework codes).
inline constexpr PvlResult kTranslateBadFlags = PVL_E_BADARG;          // 14
inline constexpr PvlResult kTranslateUnsupported = PVL_E_UNSUPPORTED;  // 20

void InitPVLPropertyRecord(PVLPropertyRecord* record, uint32_t engineId, uint32_t type);
PvlResult MakePVLPropertyValue(const PVLPropertyRecord& record, PVLPropertyValue* value);
PvlResult CreateDSPropertyFromDefaults(const DevicePropertyRecord& row, CSPROPERTY_CAMERACONTROL_S* client);
PvlResult CreateDSPropertyFromDefaults(const DevicePropertyRecord& row, uint32_t pin, CSPROPERTY_VIDEOCOMPRESSION_S* client);

// Client flags -> engine control mode: 14 for a bit outside caps, 20 for anything
// but exactly one of 1, 2, 4, 8.
PvlResult ClientFlagsToControlMode(uint32_t flags, uint32_t caps, uint32_t* mode);

// The engine record comes fetched from the engine (its current minimum and maximum).
PvlResult TranslateCameraControlToPVL(PVLPropertyRecord* engine, const CSPROPERTY_CAMERACONTROL_S& client,
                                      const DevicePropertyRecord& row);
PvlResult TranslateVideoProcAmpToPVL(PVLPropertyRecord* engine, const CSPROPERTY_VIDEOPROCAMP_S& client,
                                     const DevicePropertyRecord& row);
PvlResult TranslatePVLToCameraControl(CSPROPERTY_CAMERACONTROL_S* client, const PVLPropertyRecord& engine,
                                      const DevicePropertyRecord& row);
PvlResult TranslatePVLToVideoProcAmp(CSPROPERTY_VIDEOPROCAMP_S* client, const PVLPropertyRecord& engine,
                                     const DevicePropertyRecord& row);
PvlResult TranslateVideoCompressionToPVL(PvlValueRecord* engine, const CSPROPERTY_VIDEOCOMPRESSION_S& client,
                                         const DevicePropertyRecord& row);
PvlResult TranslatePVLToVideoCompression(CSPROPERTY_VIDEOCOMPRESSION_S* client, uint32_t engineId,
                                         const PvlValueRecord& engine, const DevicePropertyRecord& row, uint32_t pin);

// The still pin's JPEG-encode set: the client's 40-byte record (value at 24, flags at
// 28) to the engine value and its control mode, and back (the engine's mode must be
// manual).
PvlResult TranslateJpegToPVL(PvlValueRecord* engine, uint32_t* mode, const CSPROPERTY_VIDEOPROCAMP_S& client,
                             const DevicePropertyRecord& row);
PvlResult TranslatePVLToJpeg(CSPROPERTY_VIDEOPROCAMP_S* client, uint32_t engineId, const PvlValueRecord& engine,
                             uint32_t mode, const DevicePropertyRecord& row);

// Range re-mapping in single precision, rounded half away from zero.
int32_t RemapClientToEngine(int32_t v, int32_t cmin, int32_t cmax, int32_t emin, int32_t emax);
int32_t RemapEngineToClient(int32_t v, int32_t cmin, int32_t cmax, int32_t emin, int32_t emax);
// Exposure: log2 seconds <-> microseconds.
uint32_t ExposureToMicroseconds(int32_t exponent);
int32_t MicrosecondsToExposure(uint32_t microseconds);

// The caller's buffer when it holds `required` bytes and maps: else null with
// *error 122 (too short or null) or 1784 (refused mapping).
void* MapCallerBuffer(void* pointer, DWORD length, DWORD required, DWORD* error);

// The two description replies, written into the (mapped) output.
DWORD AdapterReplyBasicSupport(void* out, DWORD outLength, DWORD* bytesReturned, const DevicePropertyRecord& row);
DWORD AdapterReplyDefaultValues(void* out, DWORD outLength, DWORD* bytesReturned, const DevicePropertyRecord& row);
// Either of them by the request's flags: true with the code in *answer; false for
// any other request.
bool AdapterReplyDescription(uint32_t flags, void* out, DWORD outLength, DWORD* bytesReturned,
                             const DevicePropertyRecord& row, DWORD* answer);
