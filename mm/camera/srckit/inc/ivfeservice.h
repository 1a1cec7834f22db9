// The VFE service: the image pipe between the sensor and the engine's ports. The
// engine creates it, gives it its event sink and takes its three video outputs;
// the service's receive thread reports frames, statistics and the end of a
// snapshot through the sink. Below the engine's face are the faces that the VFE
// block configurations and configurers use on the service, its outputs, its
// statistics outputs and its states.
#pragma once

#include <stdint.h>

#include "cameraportformat.h"
#include "icameradriver.h"
#include "iconfigcommand.h"
#include "icameraengineeventsink.h"
#include "ivideooutput.h"
#include "pvlbase.h"

class IEnv;
class ILock;
class IVfeSettings;
class CRuntimeTuning;
struct VfeOperationMode;

#define ZUEUID_CLASS_VFE_SERVICE 0x0105cab8u
#define ZUEUID_IFACE_VFE_SERVICE 0xf009ea00u
// Created by the debug engine in place of the VFE service; no module provides it.
#define ZUEUID_CLASS_VFE_SIMULATOR 0x01051066u
// The signals of the service's receive thread: a driver message, and the ready
// acknowledgements of the two video outputs and the two statistics outputs.
#define ZUEUID_SIGNAL_VFE_MESSAGE 0x01061934u
#define ZUEUID_SIGNAL_ACK_OUTPUT1 0x0106cb4eu
#define ZUEUID_SIGNAL_ACK_OUTPUT2 0x0106cb4fu
#define ZUEUID_SIGNAL_ACK_AF_STATS 0x0106cb50u
#define ZUEUID_SIGNAL_ACK_WB_EXP_STATS 0x0106cb51u

// What GetLimits fills: three 32-bit floats.
struct VfeLimits {
  float gainLimit;       // the channel gain's limit value
  float digitalGain;     // factor by which the requested gain exceeded the limit; 0 when it did not
  float maxCropFactor;   // the field-of-view crop's largest factor
};
static_assert(sizeof(VfeLimits) == 12, "three words");

class IVfeService : public IPvlBase {
 public:
  // device is not used; source: the settings source (29 when null).
  virtual PvlResult Initialize(uint32_t device, IPvlBase* source) = 0;           // 3
  virtual PvlResult Uninitialize() = 0;                                          // 4
  virtual PvlResult Start() = 0;                                                 // 5: Idle to Running, else 13
  virtual PvlResult Stop() = 0;                                                  // 6: Running to Idle, else 13
  virtual PvlResult Reset() = 0;                                                 // 7: only when Idle, else 13
  virtual PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) = 0;  // 8
  virtual PvlResult Suspend() = 0;                                               // 9
  virtual PvlResult Resume() = 0;                                                // 10
  // Null outputs: only the count (3); otherwise up to capacity, one reference each.
  virtual PvlResult GetOutputs(IVideoOutput** outputs, int32_t capacity, uint32_t* count) = 0;  // 11
  virtual PvlResult GetLimits(VfeLimits* limits) = 0;                            // 12
  // Null removes the sink.
  virtual PvlResult SetEventSink(ICameraEngineEventSink* sink) = 0;              // 13

 protected:
  ~IVfeService() = default;
};

// ---- Faces inside the VFE subsystem (plain C++, owned by the service) ----

// One of the service's four states.
class IVfeState {
 public:
  // True in Idle and Running.
  virtual bool IsInitialized() = 0;

 protected:
  ~IVfeState() = default;
};

// A video output as the service, its configurers and the block code drive it.
class IVideoOutputControl {
 public:
  virtual IVideoOutput* GetInterface() = 0;  // not reference-added
  // Makes a mode current while stopped (13 while running; 14 for a bad mode);
  // count: the still mode's buffer count (0: the default).
  virtual PvlResult SetCurrentMode(uint32_t mode, uint32_t count) = 0;
  virtual PvlResult Start() = 0;
  virtual PvlResult Stop() = 0;
  // Takes a free buffer of the current mode without waiting and records it as
  // outstanding; 516 when none is free.
  virtual PvlResult QueueNewBuffer(IPvlMediaBuffer** buffer) = 0;
  virtual PvlResult AckBuffer(IPvlMediaBuffer* buffer) = 0;
  virtual PvlResult IsEnabled(uint32_t mode, uint8_t* enabled) = 0;
  virtual bool IsRunning() = 0;
  virtual bool IsCurrentModeEnabled() = 0;
  // 14 when no mode is current.
  virtual PvlResult GetCurrentFormat(CameraPortFormat* format) = 0;
  virtual PvlResult GetCurrentBufferCount() = 0;
  virtual uint32_t GetFrameInterval() = 0;
  virtual VfeSize GetMode0Size() = 0;
  virtual VfeSize GetMode1Size() = 0;
  virtual VfeSize GetOutputSize() = 0;

 protected:
  ~IVideoOutputControl() = default;
};

// A statistics output (white balance and exposure, or auto-focus).
class IStatsOutput {
 public:
  // Takes a free buffer, hands it to the VFE's list (under the service lock) and
  // writes its hardware address to *address.
  virtual PvlResult QueueNewBuffer(uint32_t* address) = 0;
  // The VFE's spare: like QueueNewBuffer while the pool has a free buffer. When a
  // reader still holds the last one (the VFE restarted under it), *address is 0
  // and the spare is handed to the VFE once it runs and a buffer is free.
  virtual PvlResult QueueSpareBuffer(uint32_t* address) = 0;
  virtual void SetStatsCount(uint32_t count) = 0;
  virtual void SetStatsGrid(uint32_t width, uint32_t height) = 0;

 protected:
  ~IStatsOutput() = default;
};

// The block configurations (one class per VFE block, owned by the service).
class CASFConfiguration;
class COutputConfiguration;
class CBlackLevelConfiguration;
class CCamifConfiguration;
class CChannelGainConfiguration;
class CBlock20Configuration;
class CChromaSuppConfiguration;
class CColorConvConfiguration;
class CColorCorrConfiguration;
class CDemosaicConfiguration;
class CFovCropConfiguration;
class CFrameDropConfiguration;
class CGammaConfiguration;
class CMainScalerConfiguration;
class COutputYScalerConfiguration;
class COutputCbCrScalerConfiguration;
class CBlock22Configuration;
class CRolloffConfiguration;
class CWBExpStatsConfiguration;
class CAFStatsConfiguration;
class CAWBExtStatsConfiguration;
class CWhiteBalanceConfiguration;
class CBlock23Configuration;
class CLumaAdaptationConfiguration;

// The service as its configurers and block configurations reach it. Pointers
// come back without a reference: the service owns them for its whole life.
class IVfeServiceInternal {
 public:
  virtual IEnv* GetEnv() = 0;
  virtual ILock* GetLock() = 0;
  virtual IVfeSettings* GetVfeSettings() = 0;
  virtual CRuntimeTuning* GetRuntimeTuning() = 0;  // null without a registry
  virtual IVfeState* GetCurrentState() = 0;
  // Never null while the service is initialised.
  virtual IVideoOutputControl* GetRawOutput() = 0;
  virtual IVideoOutputControl* GetCurrentOutput1() = 0;
  virtual IVideoOutputControl* GetCurrentOutput2() = 0;
  virtual IStatsOutput* GetWBExpStatsOutput() = 0;
  virtual IStatsOutput* GetAFStatsOutput() = 0;
  // The driver's answer, or 13 without a driver.
  virtual PvlResult SendCommand(int32_t command, const void* payload, uint32_t size) = 0;
  // Reset command when Idle, else 13.
  virtual PvlResult SendReset() = 0;
  virtual PvlResult RaiseEvent(uint32_t kind, uint32_t argument, IPvlBase* object) = 0;
  // Which output serves as OUTPUT1 and OUTPUT2 in this mode.
  virtual void UpdateOutputOrder(uint32_t mode) = 0;
  virtual void UpdateMaxCropFactor() = 0;
  // The record the next VFE_CMD_START sends; written only by the configure chains.
  virtual VfeOperationMode* GetOperationMode() = 0;

  virtual CASFConfiguration* GetASFConfiguration() = 0;
  virtual COutputConfiguration* GetOutputConfiguration() = 0;
  virtual CBlackLevelConfiguration* GetBlackLevelConfiguration() = 0;
  virtual CCamifConfiguration* GetCamifConfiguration() = 0;
  virtual CChannelGainConfiguration* GetChannelGainConfiguration() = 0;
  virtual CBlock20Configuration* GetBlock20Configuration() = 0;
  virtual CChromaSuppConfiguration* GetChromaSuppConfiguration() = 0;
  virtual CColorConvConfiguration* GetColorConvConfiguration() = 0;
  virtual CColorCorrConfiguration* GetColorCorrConfiguration() = 0;
  virtual CDemosaicConfiguration* GetDemosaicConfiguration() = 0;
  virtual CFovCropConfiguration* GetFovCropConfiguration() = 0;
  virtual CFrameDropConfiguration* GetFrameDropConfiguration() = 0;
  virtual CGammaConfiguration* GetGammaConfiguration() = 0;
  virtual CMainScalerConfiguration* GetMainScalerConfiguration() = 0;
  virtual COutputYScalerConfiguration* GetOutputYScalerConfiguration() = 0;
  virtual COutputCbCrScalerConfiguration* GetOutputCbCrScalerConfiguration() = 0;
  virtual CBlock22Configuration* GetBlock22Configuration() = 0;
  virtual CRolloffConfiguration* GetRolloffConfiguration() = 0;
  virtual CWBExpStatsConfiguration* GetWBExpStatsConfiguration() = 0;
  virtual CAFStatsConfiguration* GetAFStatsConfiguration() = 0;
  virtual CAWBExtStatsConfiguration* GetAWBExtStatsConfiguration() = 0;
  virtual CWhiteBalanceConfiguration* GetWhiteBalanceConfiguration() = 0;
  virtual CBlock23Configuration* GetBlock23Configuration() = 0;
  virtual CLumaAdaptationConfiguration* GetLumaAdaptationConfiguration() = 0;

 protected:
  ~IVfeServiceInternal() = default;
};
