// Best-shot (scene) modes.
#include "ccamerabestshot.h"

#include <cstring>

#include "camerapropertyids.h"
#include "cpvlptr.h"
#include "pvllog.h"
#include "tuningdata.h"

namespace {

const uint32_t kSavedIds[CCameraBestShot::SAVED_COUNT] = {
    ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, ZUEUID_PROPERTY_ISO_MODE,
    ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, ZUEUID_PROPERTY_FOCUS_MODE, ZUEUID_PROPERTY_WHITE_BALANCE_MODE,
    ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE};

PvlValueRecord IntRecord(int32_t v) {
  PvlValueRecord r;
  std::memset(&r, 0, sizeof r);
  r.type = PVL_VT_SINT32;
  r.payload.i32 = v;
  return r;
}

PvlResult BestShotTuning(CPvlPtr<IBestShotTuning>& out) {
  CPvlPtr<ITuningData> service;
  PvlResult r = TuningData_GetService(&service);
  if (r != PVL_OK) return r;
  return service->QueryInterface(ZUEUID_IFACE_BESTSHOT_TUNING, out.Out());
}

}  // namespace

CCameraBestShot::CCameraBestShot() : m_saved(0) {
  for (int i = 0; i < SAVED_COUNT; ++i) {
    PvlValueRecord zero = IntRecord(0);
    m_user[i].Set(kSavedIds[i], "", "", &zero, &zero, &zero, &zero, &zero, 0, 0, PVL_DESC_COPY_DEEP);
  }
}

void CCameraBestShot::SavedValues(PvlPropertyValueRecord (&records)[SAVED_COUNT]) const {
  std::memset(records, 0, sizeof records);
  for (int i = 0; i < SAVED_COUNT; ++i) {
    records[i].id = kSavedIds[i];
    records[i].value = *m_user[i].GetValue();
    records[i].mode = m_user[i].GetAttribute();
  }
}

void CCameraBestShot::MoveLensToInfinity(IProperties* properties) {
  PvlValueRecord zero = IntRecord(0);
  CPvlPropertyDesc step(ZUEUID_PROPERTY_FOCUS_STEP, "", "", &zero, &zero, &zero, &zero, &zero, 0, 0,
                        PVL_DESC_COPY_DEEP);
  if (properties->GetProperties(&step, 1, nullptr) != PVL_OK) return;
  PvlPropertyValueRecord record;
  std::memset(&record, 0, sizeof record);
  record.id = ZUEUID_PROPERTY_FOCUS_STEP;
  record.value = *step.GetMinimum();
  record.mode = 2;
  PvlResult r = properties->SetProperties(&record, 1);
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Lens Move Set to %d result %d", static_cast<int>(record.value.payload.i32),
                   static_cast<int>(r));
}

PvlResult CCameraBestShot::Apply(int32_t mode, IProperties* properties) {
  CPvlPtr<ITuningData> service;
  PvlResult r = TuningData_GetService(&service);
  if (r != PVL_OK) return r;
  const BestShotRecord* row = BestShotRecordForMode(mode);
  if (!row) return PVL_E_BADARG;
  if (!properties) return PVL_E_NULLPTR;
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - Mode %s", BestShotModeName(mode));

  CPvlPtr<IBestShotTuning> tuning;
  r = service->QueryInterface(ZUEUID_IFACE_BESTSHOT_TUNING, tuning.Out());
  if (r != PVL_OK) return r;
  r = tuning->SetBestShotOverride(1, row);
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Best Shot Mode Tunning data applied with result %d", static_cast<int>(r));

  if (r == PVL_OK && !m_saved) {
    r = properties->GetProperties(m_user, SAVED_COUNT, nullptr);
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "User Props saved with result %d", static_cast<int>(r));
    // Without the user's values there is nothing Restore could bring back, and
    // Restore would never switch the scene's tuning off: undo it now.
    if (r != PVL_OK) tuning->SetBestShotOverride(0, nullptr);
  }
  if (r != PVL_OK) return r;

  PvlPropertyValueRecord records[SAVED_COUNT];
  SavedValues(records);
  const int32_t* w = row->Words;

  PvlPropertyValueRecord& hjr = records[SAVED_HJR];
  PvlPropertyValueRecord& iso = records[SAVED_ISO];
  if (w[BESTSHOT_COL_HJR] == 1) {
    hjr.mode = 1;
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - HJR ON");
  } else {
    hjr.mode = 0;
    static const int32_t kIso[5] = {0, 100, 200, 400, 800};
    int32_t column = w[BESTSHOT_COL_ISO];
    if (column >= 1 && column <= 4) {
      iso.value.payload.i32 = kIso[column];
      iso.mode = 2;
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - ISO AUTO: %d; ISO Value: %d", 0,
                       static_cast<int>(iso.value.payload.i32));
    } else {
      iso.mode = 3;
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - ISO AUTO: %d; ISO Value: %d", 1,
                       static_cast<int>(iso.value.payload.i32));
    }
  }

  PvlPropertyValueRecord& metering = records[SAVED_METERING];
  metering.mode = 3;
  static const char* const kMetering[3] = {"Bestshot - AE MODE EXP_METERING_FRAME_AVERAGE",
                                           "Bestshot - AE MODE EXP_METERING_CENTER_WEIGHTED",
                                           "Bestshot - AE MODE EXP_METERING_CENTER_SPOT"};
  if (w[BESTSHOT_COL_METERING] >= 0 && w[BESTSHOT_COL_METERING] <= 2) {
    metering.value.payload.i32 = w[BESTSHOT_COL_METERING];
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "%s", kMetering[w[BESTSHOT_COL_METERING]]);
  }

  PvlPropertyValueRecord& wb = records[SAVED_WHITE_BALANCE];
  switch (w[BESTSHOT_COL_WHITE_BALANCE]) {
    case 0:
      wb.mode = 3;
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - AWB MODE AUTO");
      break;
    case 1: wb.mode = 4; break;
    case 2:
      wb.value.payload.i32 = 2800;
      wb.mode = 2;
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - AWB MODE WHITE_BALANCE_INCANDESCENT");
      break;
    case 3: wb.mode = 5; break;
    case 4: wb.mode = 6; break;
    default:
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - AWB MODE UNSUPPORTED");
      break;
  }

  PvlPropertyValueRecord& focus = records[SAVED_FOCUS];
  switch (w[BESTSHOT_COL_FOCUS]) {
    case 1:
      focus.value.payload.i32 = 1;
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - AF MODE FOCUS_MODE_NORMAL");
      break;
    case 2:
      focus.value.payload.i32 = 0;
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - AF MODE FOCUS_MODE_MACRO");
      break;
    case 3:
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - AF MODE INFINITY");
      MoveLensToInfinity(properties);
      break;
    default:
      break;
  }

  PvlPropertyValueRecord& luma = records[SAVED_LUMA_ADAPTATION];
  if (w[BESTSHOT_COL_LUMA_ADAPTATION] == 1) {
    luma.mode = 1;
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - LUMA ADAPTATION ON");
  } else if (w[BESTSHOT_COL_LUMA_ADAPTATION] == 2) {
    luma.mode = 0;
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Bestshot - LUMA ADAPTATION OFF");
  }

  r = properties->SetProperties(records, SAVED_COUNT);
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "User Props applied with result %d", static_cast<int>(r));
  m_saved = 1;
  return r;
}

PvlResult CCameraBestShot::Restore(IProperties* properties) {
  if (!m_saved) return PVL_OK;
  if (!properties) return PVL_E_NULLPTR;
  CPvlPtr<IBestShotTuning> tuning;
  PvlResult r = BestShotTuning(tuning);
  if (r != PVL_OK) return r;
  r = tuning->SetBestShotOverride(0, nullptr);
  if (r != PVL_OK) return r;
  PvlPropertyValueRecord records[SAVED_COUNT];
  SavedValues(records);
  r = properties->SetProperties(records, SAVED_COUNT);
  m_saved = 0;
  return r;
}
