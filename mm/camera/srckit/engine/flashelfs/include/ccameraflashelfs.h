// CCameraFlashELFS: the engine plug-in that drives the flash LED. During
// preview it keeps the torch on when the user asked for it; before a still it
// lights the LED for the pre-flash metering while the engine's pre-snapshot
// sequence says so (state 6) and puts it out when white balance has decided
// (state 4); for the still it fires the strobe when the flash mode is on, or
// automatic and the last preview frames were found too dark. It switches the
// LED only through the flash service (device selection, the service's lamp,
// video, snapshot and strobe configurations, start and stop) and re-exposes
// the service's face so that the engine reaches the service through it.
//
// A board without a white LED still has a camera: with no device every LED
// step is "nothing to switch" (0), never a failure that stops the engine.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "icameraflashservice.h"
#include "ccameraelfsbase.h"

class CCameraFlashELFS final : public CCameraELFSBase, public ICameraFlashService {
 public:
  // The class switch's entry: hands out the IELFS face with one reference.
  static int32_t ClassEntry(IEnv* env, ZUEUID clsid, void* argument, void** out);
  static PvlResult Create(IEnv* env, CCameraFlashELFS** out);

  int32_t AddRef() override { return CCameraELFSBase::AddRef(); }
  int32_t Release() override { return CCameraELFSBase::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // IELFS.
  PvlResult Initialize(IPvlBase* client) override;
  PvlResult Configure() override;
  PvlResult OnStartVideo(const CameraPortFormat* preview) override;
  PvlResult OnFrame(IPvlMediaBuffer* frame) override;
  PvlResult OnStopVideo() override;
  PvlResult OnStartSnapshot(const CameraPortFormat* main, const CameraPortFormat* thumbnail) override;
  PvlResult OnStopSnapshot() override;

  // ICameraFlashService: handed to the owned service, but for Start and Stop
  // (which keep the output-on flag), and Suspend and Resume (which put the LED
  // out first, and have nothing to do without a device).
  PvlResult Initialize(uint32_t flashClass, IPvlBase* client) override;
  PvlResult Uninitialize() override;
  PvlResult Start() override;
  PvlResult Stop() override;
  PvlResult Reset() override;
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override;
  PvlResult Suspend() override;
  PvlResult Resume() override;
  PvlResult GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) override;
  PvlResult GetDeviceType(uint32_t* out) override;
  PvlResult GetDeviceFlags(uint32_t* out) override;
  PvlResult GetDeviceExtra(uint32_t* out) override;
  PvlResult SetDeviceState(uint32_t deviceState, uint32_t signal) override;

  uint32_t GetDetectedDevice() const { return m_detected; }
  uint32_t GetSelectedDevice() const { return m_selected; }
  bool IsOutputOn() const { return m_outputOn != 0; }

 private:
  explicit CCameraFlashELFS(IEnv* env) : CCameraELFSBase(env) {}
  ~CCameraFlashELFS() override;
  PvlResult Construct();
  PvlResult SelectDevice(uint32_t device);
  PvlResult RunConfigurer(uint32_t configuration);
  // Configures and starts the LED; reports output state 1 (lamp) or 2 (strobe).
  PvlResult StartOutput(uint32_t configuration, uint32_t outputState);
  // Puts the LED out; nothing to do without a selected device.
  PvlResult StopOutput() { return m_selected ? Stop() : PVL_OK; }

  uint32_t m_detected = 0;
  uint32_t m_selected = 0;
  uint8_t m_outputOn = 0;
  uint32_t m_outputState = 0;  // what the LED was started as (lamp or strobe)
  uint32_t m_lampMode = 0;     // as Configure or OnStartVideo last read it
  CPvlPtr<IFlashSettings> m_settings;
  CPvlPtr<ICameraFlashService> m_service;
  uint8_t m_snapshotStatus = 0;
  uint8_t m_autoFlashRequired = 0;
};
