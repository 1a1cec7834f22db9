// The EXIF data of a still: the tags the engine knows about the sensor, the
// user's settings and the 3A results, written as properties (identifier = the
// EXIF tag number, group ZUEUID_PROPERTY_GROUP_EXIF) into the JPEG settings
// store, from which the JPEG encoder takes them; plus the tuning tool's text
// for the image. The sensor's make and model are written once when the engine
// initialises; the capture tags and the tuning text at the start of each
// still capture. A tag is written only when its value is known.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "csensorinfo.h"
#include "ijpegservice.h"  // the EXIF group and the tuning-text property
#include "ipropertystore.h"
#include "tunvex.h"

class CUserData;
class CEngineSettings;
class CSensorInfoProxy;
class IEnv;

class CExifData {
 public:
  // What the collectors read: the user settings, the 3A state and the sensor view.
  class Sources {
   public:
    virtual ~Sources() = default;
    virtual PvlResult GetSensorMake(SensorIdentityText* request) = 0;
    virtual PvlResult GetSensorModel(SensorIdentityText* request) = 0;
    virtual PvlResult GetExposureMeteringMode(uint32_t* out) = 0;
    virtual PvlResult GetContrast(CameraRange* out) = 0;
    virtual PvlResult GetImageEffectMode(uint32_t* out) = 0;
    virtual PvlResult GetSharpness(CameraRange* out) = 0;
    virtual PvlResult GetSaturation(CameraRange* out) = 0;
    virtual PvlResult GetWhiteBalanceMode(uint32_t* out) = 0;
    virtual PvlResult GetBestShotMode(uint32_t* out) = 0;
    virtual uint8_t IsYuvSensor() = 0;
    virtual PvlResult GetPixelClock(uint32_t* out) = 0;
    virtual PvlResult GetLineLength(uint32_t* out) = 0;
    virtual PvlResult GetExposureLineCount(uint32_t* out) = 0;
    virtual PvlResult GetFNumber(CFixedPoint* out) = 0;
    virtual PvlResult GetMaxApertureValue(CFixedPoint* out) = 0;
    virtual PvlResult GetSensorFormat(SensorOutputFormat* out) = 0;
    virtual PvlResult GetSnapshotFlashMode(uint32_t* out) = 0;
    virtual PvlResult GetFlashNeeded(uint8_t* out) = 0;
    virtual PvlResult GetCurrentFlashDeviceId(uint32_t* out) = 0;
    virtual PvlResult GetRedEyeReductionMode(uint32_t* out) = 0;
    virtual PvlResult GetWhiteBalanceValue(uint32_t* out) = 0;
    virtual PvlResult IsFixedFocus(uint8_t* out) = 0;
    virtual PvlResult IsOnSensorAutoFocus(uint8_t* out) = 0;
    virtual PvlResult GetFocusMode(uint32_t* out) = 0;
  };

  // Over the engine's three views (none may be null).
  CExifData(IEnv* env, CUserData* user, CEngineSettings* engine, CSensorInfoProxy* sensor);
  // Over other sources (not owned).
  CExifData(IEnv* env, Sources* sources);
  ~CExifData();
  CExifData(const CExifData&) = delete;
  CExifData& operator=(const CExifData&) = delete;

  PvlResult GetSensorExifTags(IProperties* store);
  // Capture settings, sensor exposure, flash, scene: the first failure ends it.
  PvlResult CollectCaptureExif(IProperties* store);
  // A null tool adds nothing (0).
  PvlResult AddTuningData(IProperties* store, ITunvex* tool);

  // Sets the tag, adding it to the EXIF group when the store does not know it yet.
  static PvlResult SetTag(IProperties* store, uint32_t tag, const PvlValueRecord* value);

  // The collectors' records: a value and a present flag per tag.
  template <class T>
  struct Tag {
    T value{};
    bool present = false;
    void Set(const T& v) {
      value = v;
      present = true;
    }
  };
  struct Rational {
    uint32_t numerator, denominator;
  };
  struct CaptureSettingsTags {
    Tag<uint16_t> meteringMode, customRendered, exposureMode, whiteBalance, sceneCaptureType, contrast, saturation,
        sharpness;
  };
  struct SensorTags {
    Tag<const char*> make, model;
    Tag<Rational> exposureTime, fNumber, maxApertureValue;
    Tag<uint16_t> sensingMethod;  // tag 0x5039
  };
  struct FlashTags {
    Tag<uint16_t> flash;
  };
  struct SceneTags {
    Tag<uint16_t> lightSource, subjectDistanceRange;
  };

  PvlResult CollectCaptureSettings(CaptureSettingsTags* tags);
  PvlResult CollectSensorExposure(SensorTags* tags);
  PvlResult CollectFlash(FlashTags* tags);
  PvlResult CollectScene(SceneTags* tags);
  static PvlResult WriteCaptureSettingsTags(IProperties* store, const CaptureSettingsTags* tags);
  static PvlResult WriteSensorTags(IProperties* store, const SensorTags* tags);
  static PvlResult WriteFlashTag(IProperties* store, const FlashTags* tags);
  static PvlResult WriteSceneTags(IProperties* store, const SceneTags* tags);

 private:
  IEnv* m_env;
  Sources* m_sources;
  bool m_ownsSources;
};
