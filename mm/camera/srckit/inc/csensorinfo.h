// What the sensor reports about itself, as the records of its read-only
// properties, and CSensorInfo: the VFE side's copy of four of them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "pvlresult.h"

// Read-only sensor properties.
#define ZUEUID_SENSOR_PROPERTY_CAPABILITIES 0x0106c44cu
#define ZUEUID_SENSOR_PROPERTY_IDENTITY 0x0106c44du
#define ZUEUID_SENSOR_PROPERTY_OPTICS 0x0106c44eu
#define ZUEUID_SENSOR_PROPERTY_EXTRA_INFO 0x0106c44fu
#define ZUEUID_SENSOR_PROPERTY_OUTPUT_FORMAT 0x0106c450u
#define ZUEUID_SENSOR_PROPERTY_TIMING 0x0106c451u
#define ZUEUID_SENSOR_PROPERTY_GEOMETRY 0x0106c452u
#define ZUEUID_SENSOR_PROPERTY_MODE_INFO 0x0106c453u
#define ZUEUID_SENSOR_PROPERTY_GAIN_INFO 0x0106c454u
#define ZUEUID_SENSOR_PROPERTY_FRAME_TIMING 0x0106c455u
// The white-balance calibration record (16 bytes): a driver without one answers 20.
#define ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION 0x0106c46au

// Three words the sensor service keeps in the sensor descriptor.
struct SensorExtraInfo {
  uint32_t Words[3];
};
static_assert(sizeof(SensorExtraInfo) == 12);

// Output kind (word 0 of the output format): 1-4 Bayer, 5-8 YUV.
struct SensorOutputFormat {
  uint32_t Words[3];
};
// Word 0: frame interval in microseconds.
struct SensorTiming {
  uint32_t Words[4];
};
// Word 0 line length with blanking; words 3-6 the active region's first line,
// first pixel, end line and end pixel (one past the last); words 9 and 10 the
// full input width and height.
struct SensorGeometry {
  uint32_t Words[14];
};
struct SensorModeInfo {
  uint32_t Words[12];
};
static_assert(sizeof(SensorOutputFormat) == 12);
static_assert(sizeof(SensorTiming) == 16);
static_assert(sizeof(SensorGeometry) == 56);
static_assert(sizeof(SensorModeInfo) == 48);

// Capabilities: word 0 exposure on the sensor (1), word 2 antibanding on the
// sensor (1), word 4 focus kind (2 on the sensor, 4 a host-driven actuator,
// other fixed focus), word 6 white balance on the sensor (1).
struct SensorCapabilities {
  uint32_t Words[7];
  uint8_t Flags[3];
  uint8_t Pad;
};
static_assert(sizeof(SensorCapabilities) == 32);

// One text of the identity record. The caller sets the buffer and its
// capacity; the sensor sets the length (with the NUL) and copies the text when
// the capacity holds it.
struct SensorIdentityText {
  uintptr_t Buffer;   // char*
  uint32_t Capacity;
  uint32_t Length;
};
struct SensorIdentity {
  uint32_t Kind;
  SensorIdentityText Maker;
  SensorIdentityText Model;
  SensorIdentityText Identifier;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(SensorIdentityText) == 12);
static_assert(sizeof(SensorIdentity) == 40);
static_assert(offsetof(SensorIdentity, Model) == 16);
#endif

// Optics and on-sensor focus status: word 0 focus status (1 done, 2 failed),
// word 2 maximum aperture value and word 3 F-number (floats).
struct SensorOptics {
  uint32_t FocusStatus;
  uint32_t Reserved0;
  float MaxApertureValue;
  float FNumber;
  float Reserved1;
  uint32_t Reserved2[3];
};
static_assert(sizeof(SensorOptics) == 32);
static_assert(offsetof(SensorOptics, FNumber) == 12);

struct SensorGainInfo {
  uint32_t Words[5];  // word 1 base gain (Q8)
};
static_assert(sizeof(SensorGainInfo) == 20);

// Frame-timing query: width, height, automatic-frame-rate flag, frame interval.
struct SensorFrameTimingRequest {
  uint32_t Width;
  uint32_t Height;
  uint32_t Flag;
  uint32_t FrameInterval;
};
struct SensorFrameTimingAnswer {
  uint32_t Words[8];
};
static_assert(sizeof(SensorFrameTimingRequest) == 16);
static_assert(sizeof(SensorFrameTimingAnswer) == 32);

class IVfeSettings;

// The VFE side's copy of the sensor's output format, timing, geometry and mode
// information, filled through the VFE settings view.
class CSensorInfo {
 public:
  CSensorInfo() { Reset(); }

  void Reset();
  // Asks the view for the four parts in order; the first failure ends it (the
  // parts after it keep their contents) and is returned.
  PvlResult Fill(IVfeSettings* view);

  bool IsBayer() const { return m_format.Words[0] >= 1 && m_format.Words[0] <= 4; }
  bool IsYUV() const { return m_format.Words[0] >= 5 && m_format.Words[0] <= 8; }
  // The active region's size; its end words are one past the last line and pixel.
  void GetActiveSize(int32_t* width, int32_t* height) const;
  int32_t GetInputWidth() const { return static_cast<int32_t>(m_geometry.Words[9]); }
  int32_t GetInputHeight() const { return static_cast<int32_t>(m_geometry.Words[10]); }

  const SensorOutputFormat& Format() const { return m_format; }
  const SensorTiming& Timing() const { return m_timing; }
  const SensorGeometry& Geometry() const { return m_geometry; }
  const SensorModeInfo& ModeInfo() const { return m_modeInfo; }

 private:
  SensorOutputFormat m_format;
  SensorTiming m_timing;
  SensorGeometry m_geometry;
  SensorModeInfo m_modeInfo;
};
static_assert(sizeof(CSensorInfo) == 132);

inline bool IsOneOrTwo(uint32_t value) { return value == 1 || value == 2; }
