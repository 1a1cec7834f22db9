// CCameraELFSBase: the base of the engine plug-ins this system builds itself
// (the flash plug-in). It answers every plug-in operation with the "nothing to
// do" answer, so a plug-in overrides only the moments of the pipeline it works
// in: 0 for Initialize and Configure, 20 (not handled, the pass goes on) for
// everything else. The IELFS face's root operations go to the object's outer
// object; the base answers only the base object's identifiers, so a plug-in
// answers ZUEUID_IFACE_ELFS itself.
#pragma once

#include "cpvlobject.h"
#include "ielfs.h"

class CCameraELFSBase : public CPvlObject, public IELFS {
 public:
  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult Initialize(IPvlBase* client) override;
  PvlResult Configure() override;
  PvlResult OnStartVideo(const CameraPortFormat* preview) override;
  PvlResult OnFrame(IPvlMediaBuffer* frame) override;
  PvlResult OnStats(IPvlBase* statistics) override;
  PvlResult OnStopVideo() override;
  PvlResult OnStartSnapshot(const CameraPortFormat* main, const CameraPortFormat* thumbnail) override;
  PvlResult OnSnapshotMainFrame(IPvlMediaBuffer* frame, uint8_t* deliver) override;
  PvlResult OnSnapshotSecondFrame(IPvlMediaBuffer* frame, uint8_t* deliver) override;
  PvlResult OnSnapshotStats(IPvlBase* statistics) override;
  PvlResult OnStopSnapshot() override;
  PvlResult Reserved14(uint32_t a, uint32_t b) override;

 protected:
  explicit CCameraELFSBase(IEnv* env) : CPvlObject(env) {}
  ~CCameraELFSBase() override = default;
  // The IELFS face of this object.
  IELFS* ElfsFace() { return static_cast<IELFS*>(this); }
};
