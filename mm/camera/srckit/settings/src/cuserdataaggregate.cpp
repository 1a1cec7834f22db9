// The user-data aggregate and its six views.
#include "cuserdataaggregate.h"

#include <new>

PvlResult CUserDataAggregate::New(IEnv* env, CUserData* ud, CEngineSettings* es, CSensorInfoProxy* sip,
                                  CUserDataAggregate** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  PvlResult result = PVL_OK;
  CUserDataAggregate* self = new (std::nothrow) CUserDataAggregate(env, ud, es, sip, &result);
  if (!self) return PVL_E_OUTOFMEMORY;
  if (result != PVL_OK) {
    delete self;
    return result;
  }
  self->AddRef();
  *out = self;
  return PVL_OK;
}

CUserDataAggregate::CUserDataAggregate(IEnv* env, CUserData* ud, CEngineSettings* es, CSensorInfoProxy* sip,
                                       PvlResult* result)
    : CPvlObject(env), m_views{} {
  using Factory = PvlResult (*)(IEnv*, CUserData*, CEngineSettings*, CSensorInfoProxy*, CPvlObject**);
  static const Factory kFactories[VIEW_COUNT] = {&CAecSettings::New,   &CAfSettings::New,     &CAwbSettings::New,
                                                 &CFlashSettings::New, &CSensorSettings::New, &CVfeSettings::New};
  for (int i = 0; i < VIEW_COUNT; ++i) {
    PvlResult r = kFactories[i](env, ud, es, sip, &m_views[i]);
    if (r == PVL_OK) r = m_views[i]->SetOuter(this);
    if (r != PVL_OK) {
      *result = r;
      return;
    }
  }
  *result = PVL_OK;
}

CUserDataAggregate::~CUserDataAggregate() {
  for (int i = VIEW_COUNT - 1; i >= 0; --i) {
    if (!m_views[i]) continue;
    m_views[i]->SetOuter(nullptr);
    m_views[i]->Release();
    m_views[i] = nullptr;
  }
}

PvlResult CUserDataAggregate::QueryInterface(ZUEUID iid, void** out) {
  int view = -1;
  switch (iid) {
    case ZUEUID_AEC_SETTINGS: view = AEC; break;
    case ZUEUID_AF_SETTINGS: view = AF; break;
    case ZUEUID_AWB_SETTINGS: view = AWB; break;
    case ZUEUID_FLASH_SETTINGS: view = FLASH; break;
    case ZUEUID_SENSOR_SETTINGS: view = SENSOR; break;
    case ZUEUID_VFE_SETTINGS: view = VFE; break;
    default: return CPvlObject::QueryInterface(iid, out);
  }
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!m_views[view]) return PVL_E_UNSUPPORTED;
  return m_views[view]->QueryInterface(iid, out);
}
