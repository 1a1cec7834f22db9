// CVfeService: creation, the engine's face, the command path and the life-cycle
// actions of the VFE service.
#include "cvfeservice.h"

#include <string.h>

#include <memory>

#include "cafstatsconfiguration.h"
#include "casfconfiguration.h"
#include "cawbextstatsconfiguration.h"
#include "cblock20configuration.h"
#include "cblacklevelconfiguration.h"
#include "cchannelgainconfiguration.h"
#include "cchromasuppconfiguration.h"
#include "ccolorconvconfiguration.h"
#include "ccolorcorrconfiguration.h"
#include "cgammaconfiguration.h"
#include "clumaadaptationconfiguration.h"
#include "cwhitebalanceconfiguration.h"
#include "cblock22configuration.h"
#include "cblock23configuration.h"
#include "ccameralockguard.h"
#include "ccamifconfiguration.h"
#include "cfixedpoint.h"
#include "cdemosaicconfiguration.h"
#include "cfovcropconfiguration.h"
#include "cframedropconfiguration.h"
#include "ienv.h"
#include "cmainscalerconfiguration.h"
#include "coutputcbcrscalerconfiguration.h"
#include "coutputconfiguration.h"
#include "coutputyscalerconfiguration.h"
#include "pvllog.h"
#include "crolloffconfiguration.h"
#include "csensorinfo.h"
#include "cstatsoutputaf.h"
#include "cstatsoutputwbexp.h"
#include "vfeconfigurerids.h"
#include "cwbexpstatsconfiguration.h"

namespace {

constexpr ZUEUID kSignalIds[CVfeService::kSignalCount] = {ZUEUID_SIGNAL_VFE_MESSAGE, ZUEUID_SIGNAL_ACK_AF_STATS,
                                                           ZUEUID_SIGNAL_ACK_OUTPUT1, ZUEUID_SIGNAL_ACK_OUTPUT2,
                                                           ZUEUID_SIGNAL_ACK_WB_EXP_STATS};

template <class T>
PvlResult MakeConfiguration(IVfeServiceInternal* service, CPvlPtr<T>* holder) {
  T* made = nullptr;
  PvlResult r = T::Create(service, &made);
  if (r != PVL_OK) return r;
  *holder = made;
  made->Release();
  return PVL_OK;
}

}  // namespace

PvlResult VfeService_CreateInstance(IEnv* env, ZUEUID, void*, void** out) {
  if (!out) return PVL_E_BADARG;
  return CVfeService::Create(env, reinterpret_cast<IVfeService**>(out));
}

CVfeService::CVfeService(IEnv* env)
    : CPvlObject(env),
      m_registry(nullptr),
      m_order{1, 2},
      m_operationMode(),
      m_states{CVfeState(VFE_STATE_UNINITIALIZED), CVfeState(VFE_STATE_SUSPENDED), CVfeState(VFE_STATE_IDLE),
               CVfeState(VFE_STATE_RUNNING)},
      m_current(&m_states[VFE_STATE_UNINITIALIZED]),
      m_messageCount{0, 0} {}

PvlResult CVfeService::Create(IEnv* env, IVfeService** out) {
  if (!out) return PVL_E_BADARG;
  if (!env) return PVL_E_BADARG;
  CVfeService* self = new CVfeService(env);
  self->AddRef();  // the construction's hold; the face below takes its own
  PvlResult r = self->Construct();
  if (r == PVL_OK) r = self->QueryInterface(ZUEUID_IFACE_VFE_SERVICE, reinterpret_cast<void**>(out));
  self->Release();
  return r;
}

PvlResult CVfeService::Construct() {
  // A missing tuning server is no error: the blocks then register nothing.
  CPvlPtr<IPvlBase> server;
  if (GetEnv()->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, server.Out()) == PVL_OK &&
      server->QueryInterface(ZUEUID_ITUNVEX, m_tunvex.Out()) == PVL_OK) {
    CRuntimeTuning* registry = nullptr;
    if (CRuntimeTuning::New(GetEnv(), &registry) == PVL_OK) {
      if (registry->SetOuter(static_cast<CPvlObject*>(this)) == PVL_OK) {
        m_registry = registry;
      } else {
        registry->Release();
      }
    }
  }
  // The blocks register their tuning keys as they are made: this order is the
  // order of the "VFE" table.
  PvlResult r = PVL_OK;
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_asfConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_outputConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_blackLevelConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_camifConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_channelGainConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_block20Configuration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_chromaSuppConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_colorConvConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_colorCorrConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_demosaicConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_fovCropConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_frameDropConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_gammaConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_mainScalerConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_outputYScalerConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_outputCbCrScalerConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_block22Configuration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_rolloffConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_wbExpStatsConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_afStatsConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_awbExtStatsConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_whiteBalanceConfiguration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_block23Configuration));
  if (r == PVL_OK) r = MakeConfiguration(this, std::addressof(m_lumaAdaptationConfiguration));
  if (r != PVL_OK) return r;
  memset(&m_operationMode, 0, sizeof m_operationMode);
  r = GetEnv()->CreateInstance(ZUEUID_CLASS_LOCK, m_lock.Out());
  if (r != PVL_OK) return r;
  if (m_tunvex) m_tunvex->Register(m_registry ? m_registry->Face() : nullptr, "VFE");
  return PVL_OK;
}

CVfeService::~CVfeService() {
  // The server keeps the table without a reference: withdraw it before the
  // registry and the values it points into go.
  if (m_tunvex && m_registry) m_tunvex->Unregister(m_registry->Face());
  m_tunvex.Reset();
  // Nothing may run on the receive thread once the outputs go.
  if (m_thread) {
    m_thread->Stop();
    m_thread.Reset();
  }
  if (m_driver) {
    m_driver->Stop();
    m_driver.Reset();
  }
  for (uint32_t i = kOutputCount; i-- > 0;) m_outputs[i].Reset();
  m_wbExpStats.Reset();
  m_afStats.Reset();
  m_asfConfiguration.Reset();
  m_outputConfiguration.Reset();
  m_camifConfiguration.Reset();
  m_block20Configuration.Reset();
  m_fovCropConfiguration.Reset();
  m_frameDropConfiguration.Reset();
  m_mainScalerConfiguration.Reset();
  m_outputYScalerConfiguration.Reset();
  m_outputCbCrScalerConfiguration.Reset();
  m_block22Configuration.Reset();
  m_block23Configuration.Reset();
  m_wbExpStatsConfiguration.Reset();
  m_demosaicConfiguration.Reset();
  m_rolloffConfiguration.Reset();
  m_afStatsConfiguration.Reset();
  m_awbExtStatsConfiguration.Reset();
  m_blackLevelConfiguration.Reset();
  m_channelGainConfiguration.Reset();
  m_chromaSuppConfiguration.Reset();
  m_colorConvConfiguration.Reset();
  m_colorCorrConfiguration.Reset();
  m_gammaConfiguration.Reset();
  m_whiteBalanceConfiguration.Reset();
  m_lumaAdaptationConfiguration.Reset();
  m_settings.Reset();
  m_sink.Reset();
  for (SignalPair& pair : m_signals) {
    pair.signal.Reset();
    pair.control.Reset();
  }
  if (m_registry) {
    m_registry->SetOuter(nullptr);
    m_registry->Release();
    m_registry = nullptr;
  }
  m_lock.Reset();
}

PvlResult CVfeService::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  switch (iid) {
    case ZUEUID_IFACE_CAMERA_SERVICE:
    case ZUEUID_IFACE_VFE_SERVICE:
    case ZUEUID_IFACE_CAMERA_COMPONENT:
      *out = static_cast<IVfeService*>(this);
      AddRef();
      return PVL_OK;
    case ZUEUID_RUNTIME_TUNING:
      if (!m_registry) {
        *out = nullptr;
        return PVL_E_NOTSUPPORTED;
      }
      return m_registry->QueryInterface(iid, out);
    default:
      return CPvlObject::QueryInterface(iid, out);
  }
}

// ---- The engine's face ----

PvlResult CVfeService::Initialize(uint32_t, IPvlBase* source) {
  if (!source) return PVL_E_NULLPTR;
  CPvlPtr<IVfeSettings> settings;
  PvlResult r = source->QueryInterface(ZUEUID_VFE_SETTINGS, settings.Out());
  if (r != PVL_OK) return r;
  m_settings = settings.Get();
  using Factory = PvlResult (*)(IVfeOutputHost*, CVideoOutput**);
  const Factory factories[kOutputCount] = {&CRawVideoOutput::Create, &CVideoOutput1::Create, &CVideoOutput2::Create};
  uint32_t index = 0;
  for (Factory factory : factories) {
    if (!m_outputs[index]) {
      CVideoOutput* made = nullptr;
      r = factory(this, &made);
      if (r != PVL_OK) return r;
      m_outputs[index] = made;
      made->Release();
    }
    ++index;
  }
  CCameraLockGuard guard(m_lock);
  return Transition(VfeOperation::Initialize);
}

PvlResult CVfeService::Uninitialize() {
  CCameraLockGuard guard(m_lock);
  return Transition(VfeOperation::Uninitialize);
}

PvlResult CVfeService::Start() {
  CCameraLockGuard guard(m_lock);
  return Transition(VfeOperation::Start);
}

PvlResult CVfeService::Stop() {
  CCameraLockGuard guard(m_lock);
  return Transition(VfeOperation::Stop);
}

PvlResult CVfeService::Suspend() {
  CCameraLockGuard guard(m_lock);
  return Transition(VfeOperation::Suspend);
}

PvlResult CVfeService::Resume() {
  CCameraLockGuard guard(m_lock);
  return Transition(VfeOperation::Resume);
}

PvlResult CVfeService::Reset() {
  CCameraLockGuard guard(m_lock);
  return SendReset();
}

PvlResult CVfeService::GetConfigurer(uint32_t configuration, IConfigCommand** out) {
  // No lock: the configurer takes it when it configures.
  return VfeConfigurer_Create(this, configuration, out);
}

PvlResult CVfeService::GetOutputs(IVideoOutput** outputs, int32_t capacity, uint32_t* count) {
  if (!count) return PVL_E_BADARG;
  if (outputs ? capacity < 0 : capacity != 0) return PVL_E_BADARG;
  *count = kOutputCount;
  if (!outputs) return PVL_OK;
  for (int32_t i = 0; i < capacity; ++i) outputs[i] = nullptr;
  for (uint32_t i = 0; i < kOutputCount && static_cast<int32_t>(i) < capacity; ++i) {
    if (m_outputs[i]) m_outputs[i]->QueryInterface(ZUEUID_IFACE_VIDEO_OUTPUT, reinterpret_cast<void**>(&outputs[i]));
  }
  return PVL_OK;
}

PvlResult CVfeService::GetLimits(VfeLimits* limits) {
  if (!limits) return PVL_E_BADARG;
  limits->gainLimit = m_channelGainConfiguration ? m_channelGainConfiguration->GetGainLimit() : 0.0f;
  limits->digitalGain = m_channelGainConfiguration ? m_channelGainConfiguration->GetDigitalGain() : 0.0f;
  limits->maxCropFactor = m_fovCropConfiguration ? m_fovCropConfiguration->GetMaxCropFactor() : 1.0f;
  return PVL_OK;
}

PvlResult CVfeService::SetEventSink(ICameraEngineEventSink* sink) {
  CPvlPtr<ICameraEngineEventSink> old;
  {
    std::lock_guard<std::mutex> hold(m_sinkGuard);
    old = m_sink.Get();
    m_sink = sink;
  }
  return PVL_OK;  // the old sink is released outside the guard
}

// ---- The block side ----

PvlResult CVfeService::SendCommand(int32_t command, const void* payload, uint32_t size) {
  if (!m_driver) return PVL_E_NOTREADY;
  return m_driver->Command(static_cast<uint32_t>(command), const_cast<void*>(payload), payload ? size : 0, nullptr,
                           0, nullptr);
}

ISignalControl* CVfeService::GetAckSignal(ZUEUID signal) {
  // The driver's message signal is the receive thread's own.
  for (uint32_t i = kSignalMessage + 1; i < kSignalCount; ++i) {
    if (kSignalIds[i] == signal) return GetReadySignalControl(static_cast<Signal>(i));
  }
  return nullptr;
}

PvlResult CVfeService::SendReset() {
  if (GetCurrentStateId() != VFE_STATE_IDLE) return PVL_E_NOTREADY;
  PvlResult r = SendCommand(VFE_CMD_RESET, nullptr, 0);
  if (r != PVL_OK) return r;
  // The reset empties the VFE's statistics registers: the buffers it held are
  // no longer its, so forget them (they return to their pools) and owe nothing.
  if (m_wbExpStats) m_wbExpStats->Reset();
  if (m_afStats) m_afStats->Reset();
  return PVL_OK;
}

PvlResult CVfeService::RaiseEvent(uint32_t kind, uint32_t argument, IPvlBase* object) {
  CPvlPtr<ICameraEngineEventSink> sink;
  {
    std::lock_guard<std::mutex> hold(m_sinkGuard);
    sink = m_sink.Get();
  }
  if (!sink) return PVL_OK;
  return sink->OnEvent(kind, argument, object);
}

void CVfeService::UpdateOutputOrder(uint32_t mode) {
  CVideoOutput* first = m_outputs[1].Get();
  CVideoOutput* second = m_outputs[2].Get();
  if (!first || !second) return;
  uint8_t firstOn = 0;
  uint8_t secondOn = 0;
  first->IsEnabled(mode == VIDEO_OUTPUT_MODE_VIDEO ? 1 : 0, &firstOn);
  second->IsEnabled(mode == VIDEO_OUTPUT_MODE_VIDEO ? 1 : 0, &secondOn);
  bool swap = false;
  if (firstOn && secondOn) {
    const VfeSize a = mode == VIDEO_OUTPUT_MODE_VIDEO ? first->GetMode1Size() : first->GetMode0Size();
    const VfeSize b = mode == VIDEO_OUTPUT_MODE_VIDEO ? second->GetMode1Size() : second->GetMode0Size();
    swap = static_cast<int32_t>(a.width) > static_cast<int32_t>(b.width) ||
           static_cast<int32_t>(a.height) > static_cast<int32_t>(b.height);
  }
  m_order[0] = swap ? 2 : 1;
  m_order[1] = swap ? 1 : 2;
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, swap ? "VFE OUTPUT1 & OUTPUT2 are now swapped"
                                            : "VFE OUTPUT1 & OUTPUT2 are not swapped");
  m_outputs[m_order[0]]->SetAckMode(1);
  m_outputs[m_order[1]]->SetAckMode(2);
}

void CVfeService::UpdateMaxCropFactor() {
  if (!m_settings || !m_fovCropConfiguration) return;
  const CFixedPoint factor(8u, static_cast<double>(m_fovCropConfiguration->GetMaxCropFactor()));
  m_settings->SetMaxCropFactor(&factor);
}

// ---- States ----

PvlResult CVfeService::SetState(uint32_t state) {
  if (state >= kVfeStateCount) return PVL_E_BADARG;
  m_current = &m_states[state];
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "VFE current state: %d", static_cast<int>(state));
  return PVL_OK;
}

PvlResult CVfeService::Transition(VfeOperation operation) {
  const VfeRule& rule = m_current->Rule(operation);
  switch (rule.action) {
    case VfeAction::Refuse:
      return PVL_E_NOTREADY;
    case VfeAction::Accept:
      return PVL_OK;
    default:
      break;
  }
  const PvlResult r = RunAction(rule.action);
  if (r == PVL_OK) SetState(rule.next);
  return r;
}

PvlResult CVfeService::RunAction(VfeAction action) {
  switch (action) {
    case VfeAction::Open:
      return Open();
    case VfeAction::StartVfe:
      return StartVfe();
    case VfeAction::StopVfe:
      return StopVfe();
    case VfeAction::Close:
      return Close();
    case VfeAction::UnloadDriver:
      return UnloadDriver();
    case VfeAction::ReloadDriver:
      return LoadDriver();
    default:
      return PVL_E_FAIL;
  }
}

// ---- Actions ----

PvlResult CVfeService::Open() {
  if (m_thread) return PVL_E_NOTREADY;
  CSensorInfo info;
  PvlResult r = info.Fill(m_settings);
  if (r != PVL_OK) return r;
  CPvlThread* thread = nullptr;
  r = CPvlThread::Create(GetEnv(), &thread);
  if (r != PVL_OK) return r;
  m_thread = thread;
  thread->Release();
  struct CleanUp {
    CVfeService* self;
    bool armed = true;
    ~CleanUp() {
      if (armed) self->CloseThreadAndSignals();
    }
  } cleanUp{this};
  CPvlPtr<ISignalQueue> queue;
  r = m_thread->GetSignalQueue(&queue);
  if (r != PVL_OK) return r;
  uint32_t index = 0;
  for (ZUEUID id : kSignalIds) {
    r = queue->CreateSignal(nullptr, id, &m_signals[index].control, &m_signals[index].signal);
    if (r != PVL_OK) return r;
    ++index;
  }
  r = CreateStatsOutputs(info.IsBayer());
  if (r != PVL_OK) return r;
  m_messageCount[0] = 0;
  m_messageCount[1] = 0;
  CPvlThreadStartInfo start;
  start.entry = &CVfeService::RxThreadEntry;
  start.context = this;
  r = m_thread->Start(&start, "Camera VFE RxThread");
  if (r != PVL_OK) return r;
  r = LoadDriver();
  if (r != PVL_OK) return r;
  cleanUp.armed = false;
  return PVL_OK;
}

// Open's clean-up: the driver, the thread and its signals go; the statistics
// and video outputs stay for the next try.
void CVfeService::CloseThreadAndSignals() {
  if (m_driver) {
    m_driver->Stop();
    m_driver.Reset();
  }
  StopRxThread();
  for (uint32_t i = kSignalCount; i-- > 0;) {
    m_signals[i].signal.Reset();
    m_signals[i].control.Reset();
  }
  m_thread.Reset();
}

PvlResult CVfeService::CreateStatsOutputs(bool bayer) {
  if (!m_wbExpStats) {
    CStatsOutput* made = nullptr;
    PvlResult r = CStatsOutput::Create(this, new CStatsOutputWBExp(this), &made);
    if (r != PVL_OK) return r;
    m_wbExpStats = made;
    made->Release();
    if (bayer) m_wbExpStats->Start();
  }
  if (!m_afStats) {
    CStatsOutput* made = nullptr;
    PvlResult r = CStatsOutput::Create(this, new CStatsOutputAF(this), &made);
    if (r != PVL_OK) return r;
    m_afStats = made;
    made->Release();
    if (bayer) m_afStats->Start();
  }
  return PVL_OK;
}

PvlResult CVfeService::LoadDriver() {
  CPvlPtr<IPvlBase> made;
  PvlResult r = GetEnv()->CreateInstance(ZUEUID_CLASS_VFE_DRIVER, made.Out());
  CPvlPtr<ICameraDriver> driver;
  if (r == PVL_OK) r = made->QueryInterface(ZUEUID_IFACE_CAMERA_DRIVER, driver.Out());
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "!!! Error loading VFE driver...");
    return r;
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "VFE driver loaded...");
  m_driver = driver.Get();
  VfeNotifyCmd notify{m_signals[kSignalMessage].control.Get()};
  return m_driver->Command(VFE_CMD_SET_NOTIFY, &notify, sizeof notify, nullptr, 0, nullptr);
}

PvlResult CVfeService::StartVfe() {
  for (CPvlPtr<CVideoOutput>& output : m_outputs) {
    if (output && output->IsCurrentModeEnabled()) output->Start();
  }
  if (!m_driver) return PVL_E_NOTREADY;
  PvlResult r = m_driver->Command(VFE_CMD_START, &m_operationMode, sizeof m_operationMode, nullptr, 0, nullptr);
  // A VFE that did not start delivers nothing: the outputs go back to stopped
  // so that their buffers are not held until the next close.
  if (r != PVL_OK) {
    StopOutputs();
    return r;
  }
  for (CStatsOutput* stats : {m_wbExpStats.Get(), m_afStats.Get()}) {
    if (stats) stats->OnVfeStarted();
  }
  return PVL_OK;
}

PvlResult CVfeService::StopVfe() {
  PvlResult r = SendCommand(VFE_CMD_STOP, nullptr, 0);
  if (r != PVL_OK) return r;
  r = StopOutputs();
  if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error stopping outputs: %d", static_cast<int>(r));
  if (m_wbExpStats) m_wbExpStats->Reset();
  if (m_afStats) m_afStats->Reset();
  return r;
}

PvlResult CVfeService::StopOutputs() {
  PvlResult first = PVL_OK;
  for (uint32_t i = 0; i < kOutputCount; ++i) {
    CVideoOutput* output = m_outputs[i].Get();
    if (!output || !output->IsRunning()) continue;
    PvlResult r = output->Stop();
    if (r != PVL_OK) {
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error stopping output %d: %d", static_cast<int>(i), static_cast<int>(r));
      if (first == PVL_OK) first = r;
    }
  }
  return first;
}

PvlResult CVfeService::Close() {
  PvlResult r = StopOutputs();
  if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error stopping outputs: %d", static_cast<int>(r));
  StopRxThread();
  if (m_wbExpStats && m_wbExpStats->IsStarted()) m_wbExpStats->Stop();
  if (m_afStats && m_afStats->IsStarted()) m_afStats->Stop();
  if (m_driver) {
    r = m_driver->Stop();
    if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error closing driver: %d", static_cast<int>(r));
    m_driver.Reset();
  }
  for (uint32_t i = kSignalCount; i-- > 0;) {
    m_signals[i].signal.Reset();
    m_signals[i].control.Reset();
  }
  SetEventSink(nullptr);
  m_thread.Reset();
  return PVL_OK;
}

PvlResult CVfeService::UnloadDriver() {
  if (!m_driver) return PVL_OK;
  PvlResult r = m_driver->Stop();
  if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error closing driver: %d", static_cast<int>(r));
  m_driver.Reset();
  return r;
}

// The caller holds the service lock; the thread's handlers take it too, so it
// is given up while the thread stops. The engine calls this with its machine's
// lock held; a delivery the thread is making into the engine at that moment
// gives up waiting for that lock once the engine's stop began, so the join ends.
void CVfeService::StopRxThread() {
  if (!m_thread) return;
  uint32_t state = 0;
  m_thread->GetState(&state);
  if (state != PVL_THREAD_RUNNING && state != PVL_THREAD_SUSPENDED) return;
  m_lock->Unlock();
  m_thread->Stop();
  m_lock->Lock();
}
