// The engine's knowledge of its properties and configuration: which service or
// plug-in a client property goes to, which tuning data and best-shot sets a
// sensor uses, how a best-shot (scene) mode is applied and undone, and which
// statistics plug-ins the configuration file brings. A property goes to the
// sensor where the sensor does the work itself (a YUV sensor does all picture
// processing; a sensor may do its own exposure, white balance or focus), else
// to the VFE or to the plug-in that owns the algorithm.
#include <exception>

#include "ccameraengine.h"
#include "ccamerabestshot.h"
#include "camerapropertyids.h"
#include "ccameraelfsmanager.h"
#include "ccameraengineconfig.h"
#include "ccameraenginefrontend.h"
#include "csensorinfoproxy.h"
#include "cuserdata.h"
#include "cuserdataaggregate.h"
#include "pvllog.h"
#include "vfeconfigurerids.h"

namespace {

constexpr uint32_t kFirstProperty = ZUEUID_PROPERTY_ANTIBANDING_MODE;
constexpr uint32_t kPropertyCount = 31;

}  // namespace

PvlResult CCameraEngine::OnApplyPropertyYuv(uint32_t propertyId) {
  // The lens answers as soon as the sensor runs: a step set before the
  // preview starts moves it now (the preview's start applies nothing). A
  // fixed-focus sensor keeps the step stored, as before the stream.
  if (propertyId == ZUEUID_PROPERTY_FOCUS_STEP) {
    uint8_t fixed = 1;
    if (!m_sensorStarted || m_proxy.IsFixedFocus(&fixed) != PVL_OK || fixed) return PVL_OK;
    return OnApplyProperty(propertyId);
  }
  if (propertyId == ZUEUID_PROPERTY_ZOOM_MAGNIFICATION || !m_proxy.IsYuvSensor()) return PVL_OK;
  return OnApplyProperty(propertyId);
}

// Moves the lens to the user's focus step. Steps count from the far end up
// toward near: a step beyond the lens position lies nearer, one below it (or
// at it) farther.
PvlResult CCameraEngine::FocusStep() {
  uint8_t fixed = 1;
  PvlResult r = m_proxy.IsFixedFocus(&fixed);
  if (r != PVL_OK) return r;
  if (fixed) return PVL_E_UNSUPPORTED;
  uint32_t step = 0;
  uint32_t position = 0;
  r = m_userData.GetFocusStep(&step);
  if (r == PVL_OK) r = m_proxy.GetLensPosition(&position);
  if (r != PVL_OK) return r;
  const int32_t s = static_cast<int32_t>(step);
  const int32_t p = static_cast<int32_t>(position);
  uint32_t direction = 1;
  uint32_t count = 0;
  if (s <= p) {
    count = static_cast<uint32_t>(p - s);
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Set Focus Step Value %d, Current Step %d, Step Move %d FAR", s, p,
                     static_cast<int>(count));
  } else {
    direction = 0;
    count = static_cast<uint32_t>(s - p);
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Set Focus Step Value %d, Current Step %d, Step Move %d NEAR", s, p,
                     static_cast<int>(count));
  }
  r = m_proxy.SetLensMove(direction, count, 0);
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "SetLensMove result %d", static_cast<int>(r));
  return r;
}

PvlResult CCameraEngine::OnApplyProperty(uint32_t propertyId) {
  const uint32_t index = propertyId - kFirstProperty;
  PvlResult r = PVL_OK;
  uint8_t onSensorAe = 0;
  uint8_t flag = 0;
  if (index < kPropertyCount) {
    // Capability reads fail only without a sensor; a property stored before
    // Initialize is applied by the next start.
    m_proxy.IsOnSensorAutoExposure(&onSensorAe);
    switch (propertyId) {
      case ZUEUID_PROPERTY_ANTIBANDING_MODE:
        if (!onSensorAe) {
          r = m_elfs->ConfigureAEC();
        } else {
          m_proxy.IsOnSensorAntibanding(&flag);
          r = flag ? RunSensorConfigurer(ZUEUID_CONFIG_ANTIBANDING) : PVL_E_UNSUPPORTED;
        }
        break;
      case ZUEUID_PROPERTY_BEST_SHOT_MODE:
        r = ApplyBestShotMode();
        if (r == PVL_OK) r = m_elfs->Configure();
        if (r == PVL_OK) r = RunVfeConfigurerForClient(ZUEUID_CONFIG_UPDATE_ALL);
        break;
      case ZUEUID_PROPERTY_BRIGHTNESS:
        r = RunPictureConfigurer(ZUEUID_CONFIG_BRIGHTNESS);
        break;
      case ZUEUID_PROPERTY_CONTRAST:
        r = RunPictureConfigurer(ZUEUID_CONFIG_CONTRAST);
        break;
      case ZUEUID_PROPERTY_EXPOSURE_COMPENSATION:
        r = onSensorAe ? RunSensorConfigurer(ZUEUID_CONFIG_EXPOSURE_COMPENSATION) : m_elfs->ConfigureAEC();
        break;
      case ZUEUID_PROPERTY_EXPOSURE_METERING_MODE:
      case ZUEUID_PROPERTY_EXPOSURE_RECTS:
      case ZUEUID_PROPERTY_EXPOSURE_RECT_WEIGHTINGS:
        r = onSensorAe ? RunSensorConfigurer(ZUEUID_CONFIG_EXPOSURE_METERING) : m_elfs->ConfigureAEC();
        break;
      case ZUEUID_PROPERTY_FIXED_CB_OFFSET:
      case ZUEUID_PROPERTY_FIXED_CR_OFFSET:
      case ZUEUID_PROPERTY_IMAGE_EFFECT_MODE:
        r = RunPictureConfigurer(ZUEUID_CONFIG_IMAGE_EFFECT);
        break;
      case ZUEUID_PROPERTY_FOCUS_MODE: {
        uint8_t onSensorAf = 0;
        uint8_t fixed = 1;
        m_proxy.IsOnSensorAutoFocus(&onSensorAf);
        m_proxy.IsFixedFocus(&fixed);
        if (fixed) break;
        if (!onSensorAf) {
          r = m_elfs->ConfigureAF();
        } else {
          uint32_t mode = 0;
          r = m_userData.GetFocusMode(&mode);
          if (r == PVL_OK) r = m_proxy.SetAFSearchMode(mode);
          CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "SetAFSearchMode result %d", static_cast<int>(r));
        }
        break;
      }
      case ZUEUID_PROPERTY_FOCUS_RECT_MODE:
      case ZUEUID_PROPERTY_FOCUS_RECTS:
        r = m_userData.UpdateFocusRectangleGrid();
        if (r != PVL_OK) return r;
        r = RunVfeConfigurerForClient(ZUEUID_CONFIG_UPDATE_ALL);
        CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "VFE Apply AF window mode and rects result %d", static_cast<int>(r));
        break;
      case ZUEUID_PROPERTY_FOCUS_STEP:
        r = FocusStep();
        break;
      case ZUEUID_PROPERTY_GAMMA_CURVE:
        r = RunPictureConfigurer(ZUEUID_CONFIG_GAMMA);
        break;
      case ZUEUID_PROPERTY_HUE_ANGLE:
        r = RunPictureConfigurer(ZUEUID_CONFIG_HUE);
        break;
      case ZUEUID_PROPERTY_ISO_MODE:
        r = onSensorAe ? RunSensorConfigurer(ZUEUID_CONFIG_ISO) : m_elfs->ConfigureAEC();
        break;
      case ZUEUID_PROPERTY_LAMP_INTENSITY:
      case ZUEUID_PROPERTY_LAMP_MODE: {
        CPvlPtr<IELFS> flash;
        r = m_flash ? m_flash->QueryInterface(ZUEUID_IFACE_ELFS, flash.Out()) : PVL_E_NOTREADY;
        if (r == PVL_OK) r = flash->Configure();
        break;
      }
      case ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE:
        r = m_elfs->Configure();
        break;
      case ZUEUID_PROPERTY_SATURATION:
        r = RunPictureConfigurer(ZUEUID_CONFIG_SATURATION);
        break;
      case ZUEUID_PROPERTY_SHARPNESS:
        r = RunPictureConfigurer(ZUEUID_CONFIG_SHARPNESS);
        break;
      case ZUEUID_PROPERTY_WHITE_BALANCE_MODE:
        m_proxy.IsOnSensorWhiteBalance(&flag);
        if (flag) {
          r = RunSensorConfigurer(ZUEUID_CONFIG_WHITE_BALANCE);
        } else {
          r = RunVfeConfigurerForClient(ZUEUID_CONFIG_UPDATE_ALL);
          CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "VFE Apply White balance result %d", static_cast<int>(r));
        }
        break;
      case ZUEUID_PROPERTY_ZOOM_MAGNIFICATION:
        r = RunVfeConfigurerForClient(ZUEUID_CONFIG_CROP);
        break;
      default:  // aperture, flash device, the grids, high dynamic range: nothing to apply
        break;
    }
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "CCameraEngine::OnApplyProperty id: %x result %d", propertyId,
                   static_cast<int>(r));
  return r;
}

PvlResult CCameraEngine::SelectTuningData(uint32_t cameraId) {
  m_bestShotTable.clear();
  PvlResult r = PVL_OK;
  // A YUV sensor tunes itself. (Before the sensor is bound the proxy reads 0.)
  if (m_proxy.IsYuvSensor()) return PVL_OK;
  try {
    for (uint32_t i = 0; i < m_config.GetSensorConfigCount(); ++i) {
      const SensorConfigEntry& entry = m_config.GetSensorConfig(i);
      if (entry.GetClassId() != cameraId) continue;
      m_defaultTuningData = entry.GetDefaultTuningData();
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Initializing 0x%x Tuning Data with ID:0x%x", cameraId, m_defaultTuningData);
      r = m_tuningData ? m_tuningData->SelectTuningData(m_defaultTuningData) : PVL_E_NOTREADY;
      if (r != PVL_OK) continue;
      for (uint32_t b = 0; b < entry.GetBestShotCount(); ++b) {
        const BestShotConfigEntry& set = entry.GetBestShot(b);
        m_bestShotTable[set.GetIndex()] = set.GetClassId();
      }
    }
    if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Error initializing tuning data: %d", static_cast<int>(r));
  } catch (const Camera::CZUEException& e) {
    r = e.GetResult();
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception accessing tuningdata configuration: %d", static_cast<int>(r));
  } catch (...) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Unknown Exception");
    r = PVL_E_FAIL;
  }
  return r;
}

PvlResult CCameraEngine::ApplyBestShotMode() {
  if (m_proxy.IsYuvSensor()) return PVL_OK;
  uint32_t mode = 0;
  PvlResult r = m_userData.GetBestShotMode(&mode);
  if (r != PVL_OK) return r;
  IProperties* properties = static_cast<IProperties*>(&m_frontEnd);
  if (mode != 0) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Apply Best Shot Mode %d", static_cast<int>(mode));
    auto it = m_bestShotTable.find(mode);
    if (it != m_bestShotTable.end()) {
      r = m_tuningData ? m_tuningData->SelectTuningData(it->second) : PVL_E_NOTREADY;
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot mode %d custom tuning data loaded", static_cast<int>(mode));
    }
    if (r == PVL_OK) {
      r = m_bestShot.Apply(static_cast<int32_t>(mode), properties);
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Best Shot Mode applied with result %d", static_cast<int>(r));
    }
    return r;
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot is OFF");
  r = m_tuningData ? m_tuningData->SelectTuningData(m_defaultTuningData) : PVL_E_NOTREADY;
  if (r == PVL_OK) r = m_bestShot.Restore(properties);
  return r;
}

bool CCameraEngine::BestShotApplied() const { return m_bestShot.IsApplied(); }

PvlResult CCameraEngine::CreateElfs(uint32_t classId, CPvlPtr<IELFS>& out) {
  // The class hands out its IELFS face.
  return m_env->CreateInstance(classId, out.Out());
}

PvlResult CCameraEngine::SetUpElfs() {
  // A fresh manager: the plug-ins of an earlier Initialize are not kept twice.
  auto elfs = std::make_shared<CCameraELFSManager>();
  IPvlBase* settings = static_cast<CPvlObject*>(m_aggregate.Get());
  if (!settings) return PVL_E_NOTREADY;
  uint8_t onSensorWb = 0, onSensorAe = 0, onSensorAf = 0, fixed = 1;
  m_proxy.IsOnSensorWhiteBalance(&onSensorWb);
  m_proxy.IsOnSensorAutoExposure(&onSensorAe);
  m_proxy.IsOnSensorAutoFocus(&onSensorAf);
  m_proxy.IsFixedFocus(&fixed);
  PvlResult r = PVL_OK;
  try {
    for (uint32_t i = 0; i < m_config.GetElfsCount() && r == PVL_OK; ++i) {
      const ElfsConfigEntry& entry = m_config.GetElfsEntry(i);
      CPvlPtr<IELFS> plugin;
      switch (entry.role) {
        case ELFS_ROLE_AWB:
          if (onSensorWb) continue;
          r = CreateElfs(entry.classId, plugin);
          if (r == PVL_OK) r = plugin->Initialize(settings);
          if (r == PVL_OK) elfs->SetAWB(plugin.Get());
          break;
        case ELFS_ROLE_AEC:
          if (onSensorAe) continue;
          r = CreateElfs(entry.classId, plugin);
          if (r == PVL_OK) r = plugin->Initialize(settings);
          if (r == PVL_OK) elfs->SetAEC(plugin.Get());
          break;
        case ELFS_ROLE_AF:
          if (fixed || onSensorAf) continue;
          r = CreateElfs(entry.classId, plugin);
          if (r == PVL_OK) r = plugin->Initialize(settings);
          if (r == PVL_OK) elfs->SetAF(plugin.Get());
          break;
        default:
          // The flash plug-in is the engine's own: it is not made twice.
          if (entry.classId == ZUEUID_CLASS_FLASH_ELFS)
            r = m_flash ? m_flash->QueryInterface(ZUEUID_IFACE_ELFS, plugin.Out()) : PVL_E_NOTREADY;
          else
            r = CreateElfs(entry.classId, plugin);
          if (r == PVL_OK) r = plugin->Initialize(settings);
          if (r == PVL_OK) elfs->AddELFS(plugin.Get());
          break;
      }
    }
  } catch (const Camera::CZUEException& e) {
    r = e.GetResult();
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception accessing ELFS configuration: %d", static_cast<int>(r));
  }
  std::lock_guard<std::mutex> hold(m_frameGuard);
  m_elfs = elfs;
  return r;
}
