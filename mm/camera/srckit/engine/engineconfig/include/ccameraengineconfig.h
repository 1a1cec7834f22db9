// The engine configuration: which tuning data, best-shot sets and plug-ins
// belong to this device. The engine cannot know them from the code alone (the
// statistics plug-ins live in another module and the tuning data comes from the
// sensor's module), so the device image carries them in
// "fs:/~0x01061a6f/CameraEngineConfig.xml". The file is read once, while the
// engine is built; afterwards only indexed lookups remain. Without the file, or
// with a malformed one, the engine is not built: there is no default.
#pragma once

#include <stdint.h>

#include <vector>

#include "cpvlptr.h"
#include "ienv.h"

#define CAMERA_ENGINE_CONFIG_PATH "fs:/~0x01061a6f/CameraEngineConfig.xml"

// One plug-in the engine creates.
struct ElfsConfigEntry {
  uint32_t classId = 0;
  uint32_t role = 3;             // ELFS_ROLE_* (ielfs.h)
  uint8_t offlineProcessing = 0;  // 1: also takes part in offline processing
};

// One best-shot tuning set of a sensor.
struct BestShotConfigEntry {
  uint32_t classId = 0;
  uint32_t index = 0;  // the best-shot mode that selects the set
  char name[50] = {};  // kept, not used by the engine

  uint32_t GetClassId() const { return classId; }
  uint32_t GetIndex() const { return index; }
};

// The tuning of one sensor driver class.
struct SensorConfigEntry {
  uint32_t classId = 0;
  uint32_t defaultTuningData = 0;  // class of the tuning-data provider; 0 none
  std::vector<BestShotConfigEntry> bestShots;

  uint32_t GetClassId() const { return classId; }
  uint32_t GetDefaultTuningData() const { return defaultTuningData; }
  uint32_t GetBestShotCount() const { return uint32_t(bestShots.size()); }
  // Throws Camera::CZUEException(14) for an index out of range.
  const BestShotConfigEntry& GetBestShot(uint32_t index) const;
};

class IXmlElement;

class CCameraEngineConfig {
 public:
  // Reads the file; *result receives 0 or why the file was refused (the
  // parser's result, 39 a required attribute missing, 14 an attribute name too
  // long, 1 a value too long). A refused file is named in a log line with the
  // element that failed.
  CCameraEngineConfig(IEnv* env, PvlResult* result);
  // Reads another file (tests, and a device with its file elsewhere).
  CCameraEngineConfig(IEnv* env, const char* path, PvlResult* result);
  ~CCameraEngineConfig();
  CCameraEngineConfig(const CCameraEngineConfig&) = delete;
  CCameraEngineConfig& operator=(const CCameraEngineConfig&) = delete;

  uint32_t GetElfsCount() const { return uint32_t(m_elfs.size()); }
  // Throws Camera::CZUEException(14) for an index out of range.
  const ElfsConfigEntry& GetElfsEntry(uint32_t index) const;
  uint32_t GetSensorConfigCount() const { return uint32_t(m_sensors.size()); }
  // Throws Camera::CZUEException(14) for an index out of range.
  const SensorConfigEntry& GetSensorConfig(uint32_t index) const;

 private:
  PvlResult Read(const char* path);
  PvlResult ReadSensorConfig(IXmlElement* element);
  PvlResult ReadElfs(IXmlElement* element);

  CPvlPtr<IEnv> m_env;
  std::vector<ElfsConfigEntry> m_elfs;
  std::vector<SensorConfigEntry> m_sensors;
};
