// The EXIF data (see the header).
#include "cexifdata.h"

#include <string.h>

#include <new>

#include "cenginesettings.h"
#include "cpvlvariant.h"
#include "csensorinfoproxy.h"
#include "cuserdata.h"
#include "pvlheap.h"
#include "pvllog.h"

namespace {

// The engine's three views as the collectors' sources.
class CSettingsSources final : public CExifData::Sources {
 public:
  CSettingsSources(CUserData* user, CEngineSettings* engine, CSensorInfoProxy* sensor)
      : u(user), e(engine), s(sensor) {}
  PvlResult GetSensorMake(SensorIdentityText* r) override { return s->GetSensorMake(r); }
  PvlResult GetSensorModel(SensorIdentityText* r) override { return s->GetSensorModel(r); }
  PvlResult GetExposureMeteringMode(uint32_t* o) override { return u->GetExposureMeteringMode(o); }
  PvlResult GetContrast(CameraRange* o) override { return u->GetContrast(o); }
  PvlResult GetImageEffectMode(uint32_t* o) override { return u->GetImageEffectMode(o); }
  PvlResult GetSharpness(CameraRange* o) override { return u->GetSharpness(o); }
  PvlResult GetSaturation(CameraRange* o) override { return u->GetSaturation(o); }
  PvlResult GetWhiteBalanceMode(uint32_t* o) override { return u->GetWhiteBalanceMode(o); }
  PvlResult GetBestShotMode(uint32_t* o) override { return u->GetBestShotMode(o); }
  uint8_t IsYuvSensor() override { return s->IsYuvSensor(); }
  PvlResult GetPixelClock(uint32_t* o) override { return s->GetPixelClock(o); }
  PvlResult GetLineLength(uint32_t* o) override { return s->GetLineLength(o); }
  PvlResult GetExposureLineCount(uint32_t* o) override { return e->GetExposureLineCount(o); }
  PvlResult GetFNumber(CFixedPoint* o) override { return s->GetFNumber(o); }
  PvlResult GetMaxApertureValue(CFixedPoint* o) override { return s->GetMaxApertureValue(o); }
  PvlResult GetSensorFormat(SensorOutputFormat* o) override { return s->GetSensorFormat(o); }
  PvlResult GetSnapshotFlashMode(uint32_t* o) override { return u->GetSnapshotFlashMode(o); }
  PvlResult GetFlashNeeded(uint8_t* o) override { return e->GetFlashNeeded(o); }
  PvlResult GetCurrentFlashDeviceId(uint32_t* o) override { return u->GetCurrentFlashDeviceId(o); }
  PvlResult GetRedEyeReductionMode(uint32_t* o) override { return u->GetRedEyeReductionMode(o); }
  PvlResult GetWhiteBalanceValue(uint32_t* o) override { return u->GetWhiteBalanceValue(o); }
  PvlResult IsFixedFocus(uint8_t* o) override { return s->IsFixedFocus(o); }
  PvlResult IsOnSensorAutoFocus(uint8_t* o) override { return s->IsOnSensorAutoFocus(o); }
  PvlResult GetFocusMode(uint32_t* o) override { return u->GetFocusMode(o); }

 private:
  CUserData* u;
  CEngineSettings* e;
  CSensorInfoProxy* s;
};

// Tags (EXIF tag numbers).
constexpr uint32_t kMake = 0x010F, kModel = 0x0110, kExposureTime = 0x829A, kFNumber = 0x829D,
                   kMaxAperture = 0x9205, kSensing = 0x5039, kMetering = 0x9207, kLightSource = 0x9208,
                   kFlash = 0x9209, kCustomRendered = 0xA401, kExposureMode = 0xA402, kWhiteBalance = 0xA403,
                   kSceneCaptureType = 0xA406, kContrast = 0xA408, kSaturation = 0xA409, kSharpness = 0xA40A,
                   kSubjectDistanceRange = 0xA40C;

PvlValueRecord Short(uint16_t v) {
  PvlValueRecord r{};
  r.type = PVL_VT_UINT16;
  r.payload.u16 = v;
  return r;
}

PvlValueRecord Rational(const CExifData::Rational& v) {
  PvlValueRecord r{};
  r.type = PVL_VT_URATIONAL;
  r.payload.rational.numerator = v.numerator;
  r.payload.rational.denominator = v.denominator;
  return r;
}

PvlValueRecord Text(const char* text) {
  PvlValueRecord r{};
  r.type = PVL_VT_STRING;
  r.payload.array.data = const_cast<char*>(text);
  r.payload.array.capacity = int32_t(strlen(text) + 1);
  r.payload.array.filled = r.payload.array.capacity;
  return r;
}

// A Q10 optics value as a rational over 1024; a negative value reads as 0 (unknown).
CExifData::Rational Q10Rational(const CFixedPoint& f) {
  int32_t raw = 0;
  if (f.GetRawAtQ(10, &raw) != PVL_OK || raw < 0) raw = 0;
  return {uint32_t(raw), 1024};
}

// Stops a writer at the first failing tag.
struct Writer {
  IProperties* store;
  PvlResult result = PVL_OK;
  void Put(uint32_t tag, const PvlValueRecord& value) {
    if (result == PVL_OK) result = CExifData::SetTag(store, tag, &value);
  }
  void Put(uint32_t tag, const CExifData::Tag<uint16_t>& t) {
    if (t.present) Put(tag, Short(t.value));
  }
  void Put(uint32_t tag, const CExifData::Tag<CExifData::Rational>& t) {
    if (t.present) Put(tag, Rational(t.value));
  }
  void Put(uint32_t tag, const CExifData::Tag<const char*>& t) {
    if (t.present && t.value) Put(tag, Text(t.value));
  }
};

uint16_t Compare(const CameraRange& r) {
  if (r.Value == r.Default) return 0;  // normal
  return r.Value < r.Default ? 1 : 2;  // soft / hard (low / high)
}

// A text of the sensor view: asked for its length, then read into a framework-heap
// buffer that the caller frees.
PvlResult ReadText(IEnv* env, PvlResult (CExifData::Sources::*get)(SensorIdentityText*), CExifData::Sources* s,
                   char** text, bool model) {
  SensorIdentityText request{};
  PvlResult r = (s->*get)(&request);
  if (r != PVL_OK) return r;
  if (request.Length == 0) return PVL_OK;
  char* buffer = static_cast<char*>(pvlheap_Malloc(request.Length, env, __FILE__ ":sensor text"));
  if (!buffer) {
    if (model)
      CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "GetSensorExifTags() failed! %d", int(request.Length));
    else
      CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "CExifData::GetSensorExifTags() Failed! %d", int(request.Length));
    return PVL_E_OUTOFMEMORY;
  }
  memset(buffer, 0, request.Length);
  request.Buffer = reinterpret_cast<uintptr_t>(buffer);
  request.Capacity = request.Length;
  r = (s->*get)(&request);
  if (r != PVL_OK) {
    pvlheap_Free(buffer);
    return r;
  }
  // The picture names the sensor as the sensor names itself.
  buffer[request.Capacity - 1] = 0;
  *text = buffer;
  return PVL_OK;
}

}  // namespace

CExifData::CExifData(IEnv* env, CUserData* user, CEngineSettings* engine, CSensorInfoProxy* sensor)
    : m_env(env), m_sources(new (std::nothrow) CSettingsSources(user, engine, sensor)), m_ownsSources(true) {}

CExifData::CExifData(IEnv* env, Sources* sources) : m_env(env), m_sources(sources), m_ownsSources(false) {}

CExifData::~CExifData() {
  if (m_ownsSources) delete m_sources;
}

PvlResult CExifData::SetTag(IProperties* store, uint32_t tag, const PvlValueRecord* value) {
  if (!store || !value) return PVL_E_NULLPTR;
  PvlResult r = store->SetProperty(tag, value);
  if (r != PVL_E_BADARG) return r;
  CPvlPropertyDesc desc;
  r = desc.Set(tag, "", "", value, 0, 0, 0);
  if (r != PVL_OK) return r;
  return store->AddProperty(&desc, ZUEUID_PROPERTY_GROUP_EXIF, PVL_PROPERTY_ADD_REPLACE);
}

PvlResult CExifData::GetSensorExifTags(IProperties* store) {
  if (!store) return PVL_E_NULLPTR;
  if (!m_sources) return PVL_E_OUTOFMEMORY;
  char* make = nullptr;
  char* model = nullptr;
  PvlResult r = ReadText(m_env, &Sources::GetSensorMake, m_sources, &make, false);
  PvlResult r2 = ReadText(m_env, &Sources::GetSensorModel, m_sources, &model, true);
  if (r == PVL_OK) r = r2;
  if (r == PVL_OK) {
    SensorTags tags;
    if (make) tags.make.Set(make);
    if (model) tags.model.Set(model);
    r = WriteSensorTags(store, &tags);
  }
  pvlheap_Free(make);
  pvlheap_Free(model);
  return r;
}

PvlResult CExifData::CollectCaptureExif(IProperties* store) {
  if (!store) return PVL_E_NULLPTR;
  if (!m_sources) return PVL_E_OUTOFMEMORY;
  CaptureSettingsTags settings;
  PvlResult r = CollectCaptureSettings(&settings);
  if (r == PVL_OK) r = WriteCaptureSettingsTags(store, &settings);
  SensorTags sensor;
  if (r == PVL_OK) r = CollectSensorExposure(&sensor);
  if (r == PVL_OK) r = WriteSensorTags(store, &sensor);
  FlashTags flash;
  if (r == PVL_OK) r = CollectFlash(&flash);
  if (r == PVL_OK) r = WriteFlashTag(store, &flash);
  SceneTags scene;
  if (r == PVL_OK) r = CollectScene(&scene);
  if (r == PVL_OK) r = WriteSceneTags(store, &scene);
  return r;
}

PvlResult CExifData::CollectCaptureSettings(CaptureSettingsTags* tags) {
  if (!tags) return PVL_E_NULLPTR;
  uint32_t metering = 0, effect = 0, wbMode = 0, bestShot = 0;
  CameraRange contrast{}, sharpness{}, saturation{};
  PvlResult r = m_sources->GetExposureMeteringMode(&metering);
  if (r == PVL_OK) r = m_sources->GetContrast(&contrast);
  if (r == PVL_OK) r = m_sources->GetImageEffectMode(&effect);
  if (r == PVL_OK) r = m_sources->GetSharpness(&sharpness);
  if (r == PVL_OK) r = m_sources->GetSaturation(&saturation);
  if (r == PVL_OK) r = m_sources->GetWhiteBalanceMode(&wbMode);
  if (r == PVL_OK) r = m_sources->GetBestShotMode(&bestShot);
  if (r != PVL_OK) return r;
  if (metering <= 2) tags->meteringMode.Set(uint16_t(metering + 1));  // average, centre-weighted, spot
  if (effect == 1) tags->customRendered.Set(1);
  tags->exposureMode.Set(0);                            // auto
  tags->whiteBalance.Set(wbMode == 1 ? 1 : 0);          // manual / auto
  uint16_t scene = 0;                                   // standard
  if (bestShot == 1 || bestShot == 3 || bestShot == 4) scene = 1;  // landscape
  if (bestShot == 6) scene = 2;                                    // portrait
  if (bestShot == 5) scene = 3;                                    // night
  tags->sceneCaptureType.Set(scene);
  tags->contrast.Set(Compare(contrast));
  tags->saturation.Set(Compare(saturation));
  tags->sharpness.Set(Compare(sharpness));
  return PVL_OK;
}

PvlResult CExifData::CollectSensorExposure(SensorTags* tags) {
  if (!tags) return PVL_E_NULLPTR;
  if (!m_sources->IsYuvSensor()) {
    uint32_t clock = 0, lineLength = 0, lines = 0;
    PvlResult r = m_sources->GetPixelClock(&clock);
    if (r != PVL_OK) return r;
    if (clock != 0) {
      r = m_sources->GetLineLength(&lineLength);
      if (r == PVL_OK) r = m_sources->GetExposureLineCount(&lines);
      if (r != PVL_OK) return r;
      const float seconds = (float(lineLength) / float(clock)) * float(lines) * 1024.0f;
      tags->exposureTime.Set({uint32_t(seconds), 1024});
    }
  }
  CFixedPoint value;
  PvlResult r = m_sources->GetFNumber(&value);
  if (r != PVL_OK) return r;
  tags->fNumber.Set(Q10Rational(value));
  r = m_sources->GetMaxApertureValue(&value);
  if (r != PVL_OK) return r;
  tags->maxApertureValue.Set(Q10Rational(value));
  SensorOutputFormat format{};
  r = m_sources->GetSensorFormat(&format);
  if (r != PVL_OK) return r;
  tags->sensingMethod.Set(format.Words[1] == 1 ? 2 : 1);  // one-chip colour area / not defined
  return PVL_OK;
}

PvlResult CExifData::CollectFlash(FlashTags* tags) {
  if (!tags) return PVL_E_NULLPTR;
  uint32_t mode = 0;
  PvlResult r = m_sources->GetSnapshotFlashMode(&mode);
  if (r != PVL_OK) return r;
  uint16_t value = 0;
  if (mode == 1) value = 0x08 | 0x01;  // compulsory firing, fired
  if (mode == 0) value = 0x10;         // compulsory suppression
  if (mode == 2) {
    value = 0x18;  // auto
    uint8_t needed = 0;
    r = m_sources->GetFlashNeeded(&needed);
    if (r != PVL_OK) return r;
    if (needed) value |= 0x01;
  }
  if (value & 0x01) {
    uint32_t device = 0, redEye = 0;
    r = m_sources->GetCurrentFlashDeviceId(&device);
    if (r == PVL_OK) r = m_sources->GetRedEyeReductionMode(&redEye);
    if (r != PVL_OK) return r;
    if (redEye == 1) value |= 0x40;
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Exif flash value = 0x%x", unsigned(value));
  tags->flash.Set(value);
  return PVL_OK;
}

PvlResult CExifData::CollectScene(SceneTags* tags) {
  if (!tags) return PVL_E_NULLPTR;
  uint32_t kelvin = 0;
  PvlResult r = m_sources->GetWhiteBalanceValue(&kelvin);
  if (r != PVL_OK) return r;
  uint16_t light = 255;  // other
  switch (kelvin) {
    case 2350:
    case 5000:
      light = 1;  // daylight
      break;
    case 2800:
      light = 3;  // tungsten
      break;
    case 3000:
    case 4000:
    case 4200:
      light = 2;  // fluorescent
      break;
    case 5500:
      light = 4;  // flash
      break;
    case 6500:
      light = 10;  // cloudy
      break;
    case 7500:
      light = 11;  // shade
      break;
    default:
      break;
  }
  tags->lightSource.Set(light);
  uint8_t fixed = 0, onSensor = 0;
  r = m_sources->IsFixedFocus(&fixed);
  if (r == PVL_OK) r = m_sources->IsOnSensorAutoFocus(&onSensor);
  if (r != PVL_OK) return r;
  uint16_t range = 0;  // unknown
  if (!fixed && !onSensor) {
    uint32_t focus = 0;
    r = m_sources->GetFocusMode(&focus);
    if (r != PVL_OK) return r;
    if (focus == 1) range = 1;  // macro
    if (focus == 0) range = 3;  // distant view
  }
  tags->subjectDistanceRange.Set(range);
  return PVL_OK;
}

PvlResult CExifData::WriteCaptureSettingsTags(IProperties* store, const CaptureSettingsTags* tags) {
  if (!store || !tags) return PVL_E_NULLPTR;
  Writer w{store};
  w.Put(kMetering, tags->meteringMode);
  w.Put(kCustomRendered, tags->customRendered);
  w.Put(kExposureMode, tags->exposureMode);
  w.Put(kWhiteBalance, tags->whiteBalance);
  w.Put(kSceneCaptureType, tags->sceneCaptureType);
  w.Put(kContrast, tags->contrast);
  w.Put(kSaturation, tags->saturation);
  w.Put(kSharpness, tags->sharpness);
  return w.result;
}

PvlResult CExifData::WriteSensorTags(IProperties* store, const SensorTags* tags) {
  if (!store || !tags) return PVL_E_NULLPTR;
  Writer w{store};
  w.Put(kMake, tags->make);
  w.Put(kModel, tags->model);
  w.Put(kExposureTime, tags->exposureTime);
  w.Put(kFNumber, tags->fNumber);
  w.Put(kMaxAperture, tags->maxApertureValue);
  w.Put(kSensing, tags->sensingMethod);
  return w.result;
}

PvlResult CExifData::WriteFlashTag(IProperties* store, const FlashTags* tags) {
  if (!store || !tags) return PVL_E_NULLPTR;
  Writer w{store};
  w.Put(kFlash, tags->flash);
  return w.result;
}

PvlResult CExifData::WriteSceneTags(IProperties* store, const SceneTags* tags) {
  if (!store || !tags) return PVL_E_NULLPTR;
  Writer w{store};
  w.Put(kLightSource, tags->lightSource);
  w.Put(kSubjectDistanceRange, tags->subjectDistanceRange);
  return w.result;
}

PvlResult CExifData::AddTuningData(IProperties* store, ITunvex* tool) {
  if (!store) return PVL_E_NULLPTR;
  if (!tool) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "piTunvex is NULL");
    return PVL_OK;
  }
  uint32_t needed = 0, written = 0;
  PvlResult r = tool->SendDataToJPEG(nullptr, 0, &needed, &written);
  if (r != PVL_OK || needed == 0) return r;
  char* buffer = static_cast<char*>(pvlheap_Malloc(needed, m_env, __FILE__ ":tuning text"));
  if (!buffer) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Heap Alloc Failed. Out of Memory!!! %d", int(needed));
    return PVL_E_OUTOFMEMORY;  // no property without its data
  }
  r = tool->SendDataToJPEG(buffer, needed, &needed, &written);
  if (r == PVL_OK) {
    PvlValueRecord v{};
    v.type = PVL_VT_BLOCK;
    v.payload.array.data = buffer;
    v.payload.array.capacity = int32_t(needed);
    v.payload.array.filled = int32_t(needed);
    r = SetTag(store, ZUEUID_PROPERTY_EXIF_TUNING_DATA, &v);
  }
  pvlheap_Free(buffer);
  return r;
}
