#include "cbayroxelfs.h"

CBayroxELFS::~CBayroxELFS() {
  // The server reads the values through the table: withdraw it first.
  if (m_server && m_tunables && m_published) m_server->Unregister(m_tunables->Face());
  m_server.Reset();
  if (m_tunables) {
    m_tunables->SetOuter(nullptr);
    m_tunables->Release();
    m_tunables = nullptr;
  }
}

PvlResult CBayroxELFS::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_ELFS) {
    *out = static_cast<IELFS*>(this);
    AddRef();
    return PVL_OK;
  }
  if (iid == ZUEUID_RUNTIME_TUNING) {
    if (!m_tunables) {
      *out = nullptr;
      return PVL_E_NOTSUPPORTED;
    }
    return m_tunables->QueryInterface(iid, out);
  }
  return CPvlObject::QueryInterface(iid, out);
}

void CBayroxELFS::OpenTunables() {
  CPvlPtr<IPvlBase> server;
  if (GetEnv()->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, server.Out()) != PVL_OK) return;
  if (server->QueryInterface(ZUEUID_ITUNVEX, m_server.Out()) != PVL_OK) return;
  CRuntimeTuning* registry = nullptr;
  if (CRuntimeTuning::New(GetEnv(), &registry) != PVL_OK) {
    m_server.Reset();
    return;
  }
  if (registry->SetOuter(static_cast<CPvlObject*>(this)) != PVL_OK) {
    registry->Release();
    m_server.Reset();
    return;
  }
  m_tunables = registry;
}

void CBayroxELFS::PublishTunables(const char* group) {
  if (!m_server || !m_tunables) return;
  m_published = m_server->Register(m_tunables->Face(), group) == PVL_OK;
}

PvlResult CBayroxELFS::Initialize(IPvlBase*) { return PVL_OK; }
PvlResult CBayroxELFS::Configure() { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::OnStartVideo(const CameraPortFormat*) { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::OnFrame(IPvlMediaBuffer*) { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::OnStats(IPvlBase*) { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::OnStopVideo() { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::OnStartSnapshot(const CameraPortFormat*, const CameraPortFormat*) {
  return PVL_E_UNSUPPORTED;
}
PvlResult CBayroxELFS::OnSnapshotMainFrame(IPvlMediaBuffer*, uint8_t*) { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::OnSnapshotSecondFrame(IPvlMediaBuffer*, uint8_t*) { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::OnSnapshotStats(IPvlBase*) { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::OnStopSnapshot() { return PVL_E_UNSUPPORTED; }
PvlResult CBayroxELFS::Reserved14(uint32_t, uint32_t) { return PVL_E_UNSUPPORTED; }
