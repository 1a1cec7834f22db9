// CBayroxELFS: the base of the statistics module's engine plug-ins. The engine
// creates each plug-in by class identifier, hands it the user-data aggregate in
// Initialize and then calls it through IELFS in the manager's fixed order. The
// base answers every operation with "not handled" (20) so that a plug-in only
// overrides the moments it works in, and it owns the plug-in's table of
// tunable values: registered with the tuning server under the plug-in's group
// name ("AEC", "AWB", "AF") while the plug-in lives and withdrawn before the
// values go, since the server keeps no reference to the table.
#pragma once

#include <new>

#include "cpvlobject.h"
#include "cpvlptr.h"
#include "cruntimetuning.h"
#include "ielfs.h"
#include "ienv.h"
#include "tunvex.h"

// What the exposure plug-in tells the focus plug-in through the settings' AEC
// flag A: a focus run compares sharpness across frames, which only means
// something while the exposure holds still. 0 until it has metered (or without
// an exposure plug-in).
enum BayroxExposureFlag : uint8_t {
  kBayroxExposureUnknown = 0,
  kBayroxExposureMoving = 1,
  kBayroxExposureSteady = 2,
};

class CBayroxELFS : public CPvlObject, public IELFS {
 public:
  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  // ZUEUID_IFACE_ELFS gives the plug-in face; ZUEUID_RUNTIME_TUNING the table of
  // tunables (3 when the plug-in has none); else the base object's answer.
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

  // The class switch's entry for a plug-in class T (T(IEnv*) and
  // T::Construct()): hands out the IELFS face with one reference.
  template <class T>
  static int32_t ClassEntry(IEnv* env, ZUEUID, void*, void** out) {
    if (!out) return PVL_E_NULLPTR;
    *out = nullptr;
    if (!env) return PVL_E_NULLPTR;
    T* self = new (std::nothrow) T(env);
    if (!self) return PVL_E_OUTOFMEMORY;
    self->CPvlObject::AddRef();
    PvlResult r = self->Construct();
    if (r == PVL_OK) {
      *out = static_cast<IELFS*>(self);
    } else {
      self->CPvlObject::Release();
    }
    return r;
  }

 protected:
  explicit CBayroxELFS(IEnv* env) : CPvlObject(env) {}
  ~CBayroxELFS() override;

  // Creates the table of tunables when a tuning server exists (it exists only
  // where tuning is enabled); without one the plug-in works untuned. The
  // registry is null then.
  void OpenTunables();
  CRuntimeTuning* Tunables() { return m_tunables; }
  // Hands the filled table to the server under `group`.
  void PublishTunables(const char* group);

 private:
  CPvlPtr<ITunvex> m_server;
  CRuntimeTuning* m_tunables = nullptr;
  bool m_published = false;
};
