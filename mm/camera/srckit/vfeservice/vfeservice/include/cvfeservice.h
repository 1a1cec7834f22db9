// CVfeService: the camera engine's one object for the image pipe. It owns the
// VFE driver, the VFE block configurations, the three video outputs, the two
// statistics outputs, the "VFE" tuning table and the receive thread that turns
// the driver's messages into frames and statistics on the engine's event sink.
// Its life cycle is four states (cvfestate.h); every state change runs under
// the service lock, which the outputs and the configure chains share.
#pragma once

#include <stdint.h>

#include <mutex>

#include "camerasettings.h"
#include "cpvlobject.h"
#include "cpvlthread.h"
#include "cruntimetuning.h"
#include "cstatsoutput.h"
#include "cvfestate.h"
#include "cvideooutput.h"
#include "icameradriver.h"
#include "icameraengineeventsink.h"
#include "ilock.h"
#include "isignalqueue.h"
#include "ivfeoutputhost.h"
#include "ivfeservice.h"
#include "tunvex.h"
#include "vfedriver.h"

// The class switch's entry.
PvlResult VfeService_CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

class CVfeService final : public CPvlObject, public IVfeService, public IVfeServiceInternal, public IVfeOutputHost {
 public:
  static constexpr uint32_t kOutputCount = 3;
  // The receive thread's signals, in the order they are made.
  enum Signal : uint32_t { kSignalMessage, kSignalAckAF, kSignalAckOutput1, kSignalAckOutput2, kSignalAckWBExp,
                           kSignalCount };

  static PvlResult Create(IEnv* env, IVfeService** out);

  // IPvlBase (the object face; the main interface forwards here)
  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // IVfeService
  PvlResult Initialize(uint32_t device, IPvlBase* source) override;
  PvlResult Uninitialize() override;
  PvlResult Start() override;
  PvlResult Stop() override;
  PvlResult Reset() override;
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override;
  PvlResult Suspend() override;
  PvlResult Resume() override;
  PvlResult GetOutputs(IVideoOutput** outputs, int32_t capacity, uint32_t* count) override;
  PvlResult GetLimits(VfeLimits* limits) override;
  PvlResult SetEventSink(ICameraEngineEventSink* sink) override;

  // IVfeServiceInternal (its members of the same name serve IVfeOutputHost too)
  IEnv* GetEnv() override { return CPvlObject::GetEnv(); }
  ILock* GetLock() override { return m_lock.Get(); }
  IVfeSettings* GetVfeSettings() override { return m_settings.Get(); }
  CRuntimeTuning* GetRuntimeTuning() override { return m_registry; }
  IVfeState* GetCurrentState() override { return m_current; }
  IVideoOutputControl* GetRawOutput() override { return m_outputs[0].Get(); }
  IVideoOutputControl* GetCurrentOutput1() override { return m_outputs[m_order[0]].Get(); }
  IVideoOutputControl* GetCurrentOutput2() override { return m_outputs[m_order[1]].Get(); }
  IStatsOutput* GetWBExpStatsOutput() override { return m_wbExpStats.Get(); }
  IStatsOutput* GetAFStatsOutput() override { return m_afStats.Get(); }
  PvlResult SendCommand(int32_t command, const void* payload, uint32_t size) override;
  PvlResult SendReset() override;
  PvlResult RaiseEvent(uint32_t kind, uint32_t argument, IPvlBase* object) override;
  void UpdateOutputOrder(uint32_t mode) override;
  void UpdateMaxCropFactor() override;
  VfeOperationMode* GetOperationMode() override { return &m_operationMode; }

  // IVfeOutputHost
  ISignalControl* GetAckSignal(ZUEUID signal) override;

  // The block configurations. The Bayer image-processing blocks without a
  // computation yet are neutral stand-ins inside the chains and answer null here.
  CASFConfiguration* GetASFConfiguration() override { return m_asfConfiguration.Get(); }
  COutputConfiguration* GetOutputConfiguration() override { return m_outputConfiguration.Get(); }
  CBlackLevelConfiguration* GetBlackLevelConfiguration() override { return m_blackLevelConfiguration.Get(); }
  CCamifConfiguration* GetCamifConfiguration() override { return m_camifConfiguration.Get(); }
  CChannelGainConfiguration* GetChannelGainConfiguration() override { return m_channelGainConfiguration.Get(); }
  CBlock20Configuration* GetBlock20Configuration() override { return m_block20Configuration.Get(); }
  CChromaSuppConfiguration* GetChromaSuppConfiguration() override { return m_chromaSuppConfiguration.Get(); }
  CColorConvConfiguration* GetColorConvConfiguration() override { return m_colorConvConfiguration.Get(); }
  CColorCorrConfiguration* GetColorCorrConfiguration() override { return m_colorCorrConfiguration.Get(); }
  CDemosaicConfiguration* GetDemosaicConfiguration() override { return m_demosaicConfiguration.Get(); }
  CFovCropConfiguration* GetFovCropConfiguration() override { return m_fovCropConfiguration.Get(); }
  CFrameDropConfiguration* GetFrameDropConfiguration() override { return m_frameDropConfiguration.Get(); }
  CGammaConfiguration* GetGammaConfiguration() override { return m_gammaConfiguration.Get(); }
  CMainScalerConfiguration* GetMainScalerConfiguration() override { return m_mainScalerConfiguration.Get(); }
  COutputYScalerConfiguration* GetOutputYScalerConfiguration() override { return m_outputYScalerConfiguration.Get(); }
  COutputCbCrScalerConfiguration* GetOutputCbCrScalerConfiguration() override {
    return m_outputCbCrScalerConfiguration.Get();
  }
  CBlock22Configuration* GetBlock22Configuration() override { return m_block22Configuration.Get(); }
  CRolloffConfiguration* GetRolloffConfiguration() override { return m_rolloffConfiguration.Get(); }
  CWBExpStatsConfiguration* GetWBExpStatsConfiguration() override { return m_wbExpStatsConfiguration.Get(); }
  CAFStatsConfiguration* GetAFStatsConfiguration() override { return m_afStatsConfiguration.Get(); }
  CAWBExtStatsConfiguration* GetAWBExtStatsConfiguration() override { return m_awbExtStatsConfiguration.Get(); }
  CWhiteBalanceConfiguration* GetWhiteBalanceConfiguration() override {
    return m_whiteBalanceConfiguration.Get();
  }
  CBlock23Configuration* GetBlock23Configuration() override { return m_block23Configuration.Get(); }
  CLumaAdaptationConfiguration* GetLumaAdaptationConfiguration() override {
    return m_lumaAdaptationConfiguration.Get();
  }

  // The service's own side, for its outputs and the receive thread.
  VfeStateId GetCurrentStateId() const { return m_current->GetStateId(); }
  bool IsRunning() const { return GetCurrentStateId() == VFE_STATE_RUNNING; }
  PvlResult SetState(uint32_t state);
  ISignalControl* GetReadySignalControl(Signal signal) const { return m_signals[signal].control.Get(); }
  CVideoOutput* GetOutput(uint32_t index) const { return index < kOutputCount ? m_outputs[index].Get() : nullptr; }
  CStatsOutput* GetWBExpStats() const { return m_wbExpStats.Get(); }
  CStatsOutput* GetAFStats() const { return m_afStats.Get(); }
  bool HasDriver() const { return m_driver.Get() != nullptr; }
  bool HasThread() const { return m_thread.Get() != nullptr; }
  void GetMessageCounts(uint32_t* output1, uint32_t* output2) const {
    *output1 = m_messageCount[0];
    *output2 = m_messageCount[1];
  }

 private:
  explicit CVfeService(IEnv* env);
  ~CVfeService() override;
  PvlResult Construct();
  void SetupTuning();

  PvlResult Transition(VfeOperation operation);
  PvlResult RunAction(VfeAction action);
  PvlResult Open();
  void CloseThreadAndSignals();
  PvlResult CreateStatsOutputs(bool bayer);
  PvlResult LoadDriver();
  PvlResult StartVfe();
  PvlResult StopVfe();
  PvlResult StopOutputs();
  PvlResult Close();
  PvlResult UnloadDriver();
  void StopRxThread();

  // The receive thread (vferxthread.cpp).
  static uint32_t RxThreadEntry(void* context);
  PvlResult RxThreadProc();
  PvlResult OnAsyncEvent();
  void DispatchMessage(const VfeMessage& message);
  void DispatchSnapshotDone();
  void OnReadyToAck(Signal signal);

  CPvlPtr<IVfeSettings> m_settings;
  std::mutex m_sinkGuard;  // the sink alone: RaiseEvent takes no service lock
  CPvlPtr<ICameraEngineEventSink> m_sink;

  CPvlPtr<CASFConfiguration> m_asfConfiguration;
  CPvlPtr<COutputConfiguration> m_outputConfiguration;
  CPvlPtr<CCamifConfiguration> m_camifConfiguration;
  CPvlPtr<CBlock20Configuration> m_block20Configuration;
  CPvlPtr<CDemosaicConfiguration> m_demosaicConfiguration;
  CPvlPtr<CFovCropConfiguration> m_fovCropConfiguration;
  CPvlPtr<CFrameDropConfiguration> m_frameDropConfiguration;
  CPvlPtr<CMainScalerConfiguration> m_mainScalerConfiguration;
  CPvlPtr<COutputYScalerConfiguration> m_outputYScalerConfiguration;
  CPvlPtr<COutputCbCrScalerConfiguration> m_outputCbCrScalerConfiguration;
  CPvlPtr<CBlock22Configuration> m_block22Configuration;
  CPvlPtr<CRolloffConfiguration> m_rolloffConfiguration;
  CPvlPtr<CAFStatsConfiguration> m_afStatsConfiguration;
  CPvlPtr<CAWBExtStatsConfiguration> m_awbExtStatsConfiguration;
  CPvlPtr<CBlock23Configuration> m_block23Configuration;
  CPvlPtr<CWBExpStatsConfiguration> m_wbExpStatsConfiguration;
  CPvlPtr<CBlackLevelConfiguration> m_blackLevelConfiguration;
  CPvlPtr<CChannelGainConfiguration> m_channelGainConfiguration;
  CPvlPtr<CChromaSuppConfiguration> m_chromaSuppConfiguration;
  CPvlPtr<CColorConvConfiguration> m_colorConvConfiguration;
  CPvlPtr<CColorCorrConfiguration> m_colorCorrConfiguration;
  CPvlPtr<CGammaConfiguration> m_gammaConfiguration;
  CPvlPtr<CWhiteBalanceConfiguration> m_whiteBalanceConfiguration;
  CPvlPtr<CLumaAdaptationConfiguration> m_lumaAdaptationConfiguration;

  CRuntimeTuning* m_registry;  // aggregated; one reference
  CPvlPtr<ITunvex> m_tunvex;
  int32_t m_order[2];
  CPvlPtr<CVideoOutput> m_outputs[kOutputCount];
  CPvlPtr<CStatsOutput> m_wbExpStats;
  CPvlPtr<CStatsOutput> m_afStats;
  VfeOperationMode m_operationMode;
  CPvlPtr<ILock> m_lock;
  CVfeState m_states[kVfeStateCount];
  CVfeState* m_current;
  CPvlPtr<CPvlThread> m_thread;
  struct SignalPair {
    CPvlPtr<ISignalControl> control;
    CPvlPtr<ISignal> signal;
  };
  SignalPair m_signals[kSignalCount];
  CPvlPtr<ICameraDriver> m_driver;
  uint32_t m_messageCount[2];
};
