// The tuning-data service.
#include "ccameratuningdata.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "pvllog.h"
#include "tuningdatakeys.h"

namespace {

// Converters of the exposure-table keys: the entries are 8 bytes apart, the
// gain at +0 and the line count at +4. Each call formats into its own buffer.
template <class T, uint32_t kFieldOffset>
int32_t ExposureEntryToText(const RuntimeTuningItem* item, uint16_t element, char* text, uint32_t size,
                            uint32_t* length) {
  if (!item || element >= item->count) return TUNING_RESULT_BAD_INDEX;
  T v;
  std::memcpy(&v, static_cast<const uint8_t*>(item->value) + sizeof(TuningExposureEntry) * element + kFieldOffset,
              sizeof v);
  char buffer[50];
  int n = std::snprintf(buffer, sizeof buffer, "%u", static_cast<unsigned>(v));
  if (text) RuntimeTuningCopyText(text, size, buffer);
  if (length) *length = static_cast<uint32_t>(n) + 1;
  return TUNING_RESULT_OK;
}

template <class T, uint32_t kFieldOffset>
int32_t ExposureEntryFromText(const RuntimeTuningItem* item, uint16_t element, const char* text) {
  if (!item || element >= item->count) return TUNING_RESULT_BAD_INDEX;
  T v = static_cast<T>(std::strtoul(text ? text : "", nullptr, 10));
  std::memcpy(static_cast<uint8_t*>(item->value) + sizeof(TuningExposureEntry) * element + kFieldOffset, &v,
              sizeof v);
  return TUNING_RESULT_OK;
}

bool PositiveFinite(float v) { return std::isfinite(v) && v > 0.0f; }

}  // namespace

PvlResult CCameraTuningData::ClassEntry(IEnv* env, ZUEUID clsid, void* /*argument*/, void** out) {
  if (clsid != ZUEUID_CLASS_TUNING_DATA) return PVL_E_UNSUPPORTED;
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!env) return PVL_E_NULLPTR;
  CPvlPtr<ISingletonRegistry> registry;
  PvlResult r = env->QueryInterface(ZUEUID_IFACE_SINGLETON_REGISTRY, registry.Out());
  if (r != PVL_OK) return r;
  return registry->GetOrCreate(ZUEUID_CLASS_TUNING_DATA, out, &CCameraTuningData::Creator, registry.Get());
}

PvlResult CCameraTuningData::Creator(void* context, ZUEUID clsid, void** out) {
  if (clsid != ZUEUID_CLASS_TUNING_DATA) return PVL_E_UNSUPPORTED;
  if (!out || !context) return PVL_E_NULLPTR;
  ISingletonRegistry* registry = static_cast<ISingletonRegistry*>(context);
  CPvlPtr<IEnv> env;
  PvlResult r = registry->QueryInterface(ZUEUID_IFACE_ENV, env.Out());
  if (r != PVL_OK) return r;
  CCameraTuningData* self = new (std::nothrow) CCameraTuningData(registry, env.Get());
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  r = self->QueryInterface(ZUEUID_IFACE_TUNING_DATA_ALT, out);
  self->Release();
  return r;
}

CCameraTuningData::CCameraTuningData(ISingletonRegistry* registry, IEnv* env)
    : CPvlObject(env),
      m_dataFace(this),
      m_paramsFace(this),
      m_bestShotFace(this),
      m_registry(registry),
      m_count(0),
      m_runtimeTuning(nullptr),
      m_selectedClass(0),
      m_active(false),
      m_overrideOn(0),
      m_override{},
      m_table{} {
  // Without a tuning server (its flag file absent) there is no registry and no key.
  CPvlPtr<IPvlBase> server;
  if (env->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, server.Out()) != PVL_OK) return;
  if (server->QueryInterface(ZUEUID_ITUNVEX, m_tunvex.Out()) != PVL_OK) return;
  CRuntimeTuning* runtimeTuning = nullptr;
  if (CRuntimeTuning::New(env, &runtimeTuning) != PVL_OK) return;
  if (runtimeTuning->SetOuter(this) != PVL_OK) {
    runtimeTuning->Release();
    return;
  }
  m_runtimeTuning = runtimeTuning;
  BindKeys();
}

CCameraTuningData::~CCameraTuningData() {
  if (m_runtimeTuning) {
    // The server keeps the group without a reference: withdraw it before the
    // memory it points into goes.
    if (m_tunvex) m_tunvex->Unregister(m_runtimeTuning->Face());
    m_runtimeTuning->SetOuter(nullptr);
    m_runtimeTuning->Release();
    m_runtimeTuning = nullptr;
  }
  m_provider.Reset();
  m_tunvex.Reset();
  m_registry.Reset();
}

PvlResult CCameraTuningData::BindKeys() {
  if (!m_runtimeTuning || !m_tunvex) return PVL_E_BADARG;
  uint8_t* base = reinterpret_cast<uint8_t*>(&m_table);
  for (const TuningKeyDef& k : g_TuningDataKeys) {
    void* address = base + k.offset;
    switch (k.converter) {
      case TUNING_KEY_EXPOSURE_GAIN:
        m_runtimeTuning->RegisterWithConverters(k.name, address, k.type, k.count, k.flags,
                                                &ExposureEntryToText<uint16_t, 0>,
                                                &ExposureEntryFromText<uint16_t, 0>);
        break;
      case TUNING_KEY_EXPOSURE_LINECOUNT:
        m_runtimeTuning->RegisterWithConverters(k.name, address, k.type, k.count, k.flags,
                                                &ExposureEntryToText<uint32_t, 4>,
                                                &ExposureEntryFromText<uint32_t, 4>);
        break;
      default:
        m_runtimeTuning->Register(k.name, address, k.type, k.count, k.flags);
        break;
    }
  }
  return m_tunvex->Register(m_runtimeTuning->Face(), TUNING_DATA_GROUP_NAME);
}

int32_t CCameraTuningData::AddRef() { return m_registry->AdjustRefCount(ZUEUID_CLASS_TUNING_DATA, &m_count, +1); }

int32_t CCameraTuningData::Release() {
  int32_t n = m_registry->AdjustRefCount(ZUEUID_CLASS_TUNING_DATA, &m_count, -1);
  if (n != 0) return n;
  delete this;
  return 0;
}

PvlResult CCameraTuningData::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  switch (iid) {
    case ZUEUID_IFACE_BASE:
    case ZUEUID_IFACE_TUNING_DATA:
    case ZUEUID_IFACE_TUNING_DATA_ALT:
      *out = static_cast<ITuningData*>(&m_dataFace);
      break;
    case ZUEUID_IFACE_TUNING_PARAMS:
      *out = static_cast<ITuningParams*>(&m_paramsFace);
      break;
    case ZUEUID_IFACE_BESTSHOT_TUNING:
      *out = static_cast<IBestShotTuning*>(&m_bestShotFace);
      break;
    case ZUEUID_RUNTIME_TUNING:
      return m_runtimeTuning ? m_runtimeTuning->QueryInterface(iid, out) : PVL_E_UNSUPPORTED;
    case ZUEUID_IFACE_OBJECT:
    case ZUEUID_IFACE_DELEGATE:
      return CPvlObject::QueryInterface(iid, out);
    default:
      return PVL_E_UNSUPPORTED;
  }
  AddRef();
  return PVL_OK;
}

PvlResult CCameraTuningData::GetVersion(uint32_t* version) {
  if (!m_active) return PVL_E_NOTREADY;
  if (!version) return PVL_E_NULLPTR;
  *version = m_table.Block.MiscVarnixVersion;
  return PVL_OK;
}

PvlResult CCameraTuningData::SelectTuningData(ZUEUID providerClass) {
  if (providerClass == m_selectedClass) return PVL_OK;
  CPvlPtr<IEnv> env;
  PvlResult r = m_registry->QueryInterface(ZUEUID_IFACE_ENV, env.Out());
  if (r != PVL_OK) return r;

  m_active = false;
  m_provider.Reset();
  m_selectedClass = providerClass;

  const void* table = nullptr;
  CPvlPtr<IPvlBase> object;
  r = env->CreateInstance(providerClass, object.Out());
  if (r == PVL_OK) r = object->QueryInterface(ZUEUID_IFACE_TUNING_DATA_PROVIDER, m_provider.Out());
  if (r == PVL_OK) r = m_provider->GetTableEx(&table);
  // A provider without a table serves nothing: treat it as a failed select so
  // that the same class can be tried again.
  if (r == PVL_OK && !table) r = PVL_E_FAIL;
  if (r != PVL_OK) {
    m_provider.Reset();
    m_selectedClass = 0;
    return r;
  }
  std::memcpy(&m_table, table, sizeof m_table);
  m_active = true;
  return PVL_OK;
}

PvlResult CCameraTuningData::CalibrateWhiteBalance(float red, float blue, float greenOdd, float greenEven) {
  if (!m_active) return PVL_E_NOTREADY;
  // A zero or negative factor or gain would turn every gain into inf or NaN:
  // refuse it and change nothing.
  if (!PositiveFinite(red) || !PositiveFinite(blue) || !PositiveFinite(greenOdd) || !PositiveFinite(greenEven))
    return PVL_E_BADARG;
  TuningParameterBlock& b = m_table.Block;

  TuningChannelGains g = b.AWBChannelGain;
  g.GreenEvenRow *= greenEven;
  g.GreenOddRow *= greenOdd;
  g.Red *= red;
  g.Blue *= blue;
  float gmin = std::fmin(std::fmin(g.GreenEvenRow, g.GreenOddRow), std::fmin(g.Red, g.Blue));
  if (!PositiveFinite(gmin)) return PVL_E_BADARG;

  TuningMwbGains mwb[MWB_COUNT];
  for (int i = 0; i < MWB_COUNT; ++i) {
    mwb[i] = b.MWB[i];
    mwb[i].RGain *= red;
    mwb[i].BGain *= blue;
    float m = std::fmin(mwb[i].RGain, std::fmin(mwb[i].GGain, mwb[i].BGain));
    if (!PositiveFinite(m)) return PVL_E_BADARG;
    mwb[i].RGain /= m;
    mwb[i].GGain /= m;
    mwb[i].BGain /= m;
  }

  g.GreenEvenRow /= gmin;
  g.GreenOddRow /= gmin;
  g.Red /= gmin;
  g.Blue /= gmin;
  b.AWBChannelGain = g;
  for (int i = 0; i < AWBREF_COUNT; ++i) {
    b.AWBRefPoints[i].RedG *= red;
    b.AWBRefPoints[i].BlueG *= blue;
  }
  for (int i = 0; i < MWB_COUNT; ++i) b.MWB[i] = mwb[i];
  return PVL_OK;
}

PvlResult CCameraTuningData::SetBestShotOverride(uint8_t enable, const BestShotRecord* record) {
  if (enable == 0) {
    m_overrideOn = 0;
    return PVL_OK;
  }
  if (!record) return PVL_E_BADARG;
  m_override = *record;
  m_overrideOn = enable;
  return PVL_OK;
}
