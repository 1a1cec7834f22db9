#include "ccameraelfsbase.h"

// The face's root operations go to the outer object (the object itself unless
// it is aggregated).
int32_t CCameraELFSBase::AddRef() {
  IPvlBase* outer = GetOuter();
  return outer && outer != static_cast<CPvlObject*>(this) ? outer->AddRef() : CPvlObject::AddRef();
}

int32_t CCameraELFSBase::Release() {
  IPvlBase* outer = GetOuter();
  return outer && outer != static_cast<CPvlObject*>(this) ? outer->Release() : CPvlObject::Release();
}

PvlResult CCameraELFSBase::QueryInterface(ZUEUID iid, void** out) {
  IPvlBase* outer = GetOuter();
  if (outer && outer != static_cast<CPvlObject*>(this)) return outer->QueryInterface(iid, out);
  return CPvlObject::QueryInterface(iid, out);
}

PvlResult CCameraELFSBase::Initialize(IPvlBase*) { return PVL_OK; }
PvlResult CCameraELFSBase::Configure() { return PVL_OK; }
PvlResult CCameraELFSBase::OnStartVideo(const CameraPortFormat*) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraELFSBase::OnFrame(IPvlMediaBuffer*) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraELFSBase::OnStats(IPvlBase*) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraELFSBase::OnStopVideo() { return PVL_E_UNSUPPORTED; }
PvlResult CCameraELFSBase::OnStartSnapshot(const CameraPortFormat*, const CameraPortFormat*) {
  return PVL_E_UNSUPPORTED;
}
PvlResult CCameraELFSBase::OnSnapshotMainFrame(IPvlMediaBuffer*, uint8_t*) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraELFSBase::OnSnapshotSecondFrame(IPvlMediaBuffer*, uint8_t*) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraELFSBase::OnSnapshotStats(IPvlBase*) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraELFSBase::OnStopSnapshot() { return PVL_E_UNSUPPORTED; }
PvlResult CCameraELFSBase::Reserved14(uint32_t, uint32_t) { return PVL_E_UNSUPPORTED; }
