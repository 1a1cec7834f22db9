// Doubles for the VFE block configurations: a recording VFE service (every
// command with a copy of its payload; outputs with per-mode enables, sizes,
// frame intervals and a pool of fake buffers) and a VFE settings view whose
// sensor records and crop factor a test sets.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cafstatsconfiguration.h"
#include "casfconfiguration.h"
#include "cawbextstatsconfiguration.h"
#include "cblacklevelconfiguration.h"
#include "cblock20configuration.h"
#include "cchannelgainconfiguration.h"
#include "cchromasuppconfiguration.h"
#include "ccolorconvconfiguration.h"
#include "ccolorcorrconfiguration.h"
#include "cgammaconfiguration.h"
#include "clumaadaptationconfiguration.h"
#include "cwhitebalanceconfiguration.h"
#include "cblock22configuration.h"
#include "cblock23configuration.h"
#include "camerasettings.h"
#include "ccamifconfiguration.h"
#include "cdemosaicconfiguration.h"
#include "cfixedpoint.h"
#include "cfovcropconfiguration.h"
#include "cmainscalerconfiguration.h"
#include "coutputcbcrscalerconfiguration.h"
#include "coutputyscalerconfiguration.h"
#include "cframedropconfiguration.h"
#include "coutputconfiguration.h"
#include "crolloffconfiguration.h"
#include "cwbexpstatsconfiguration.h"
#include "icameradriver.h"
#include "ilock.h"
#include "csensorinfo.h"
#include "cvfeconfiguration.h"
#include "vfesettingsdouble.h"

namespace vfeconfigtest {

struct SentCommand {
  int32_t command;
  std::vector<uint8_t> payload;
};

// One output: its current-mode enable and size, a pool of `pool` buffers, and
// the buffers it handed to the VFE.
class OutputDouble final : public IVideoOutputControl, public IVideoOutput {
 public:
  bool enabled = false;
  VfeSize size{0, 0};
  VfeSize mode0{0, 0};
  VfeSize mode1{0, 0};
  uint32_t frameInterval = 0;
  int32_t bufferCount = 4;
  int pool = 4;
  int acked = 0;
  int enableQueries = 0;
  PvlResult ackAnswer = PVL_OK;

  // IVideoOutputControl
  IVideoOutput* GetInterface() override { return this; }
  uint32_t currentMode = 99;  // none yet
  PvlResult modeAnswer = PVL_OK;
  PvlResult SetCurrentMode(uint32_t mode, uint32_t) override {
    if (modeAnswer == PVL_OK) currentMode = mode;
    return modeAnswer;
  }
  PvlResult Start() override { return PVL_OK; }
  PvlResult Stop() override { return PVL_OK; }
  PvlResult QueueNewBuffer(IPvlMediaBuffer** buffer) override {
    if (pool <= 0) return 516;
    --pool;
    *buffer = nullptr;
    return PVL_OK;
  }
  std::function<PvlResult()> onAck;  // hands a real buffer to a real VFE
  PvlResult AckBuffer(IPvlMediaBuffer*) override {
    if (ackAnswer != PVL_OK) return ackAnswer;
    if (onAck) {
      PvlResult r = onAck();
      if (r != PVL_OK) return r;
    }
    ++acked;
    return PVL_OK;
  }
  PvlResult IsEnabled(uint32_t, uint8_t* on) override {
    *on = enabled;
    ++enableQueries;
    return PVL_OK;
  }
  bool IsRunning() override { return false; }
  bool IsCurrentModeEnabled() override { return enabled; }
  PvlResult GetCurrentFormat(CameraPortFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetCurrentBufferCount() override { return bufferCount; }
  uint32_t GetFrameInterval() override { return frameInterval; }
  VfeSize GetMode0Size() override { return mode0; }
  VfeSize GetMode1Size() override { return mode1; }
  VfeSize GetOutputSize() override { return size; }

  // IVideoOutput (only AckBuffer is reached by the blocks)
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetFormats(CameraPortFormat*, int32_t, int32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetOutputId(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult Enable(uint32_t, uint8_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult IsFormatScalable(uint8_t*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetBufferInfo(uint32_t, BufferRequest*, int32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetBufferAllocator(uint32_t, ICameraBufferManager**) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetBufferManager(uint32_t, ICameraBufferManager*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetFormat(uint32_t, CameraPortFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetFormat(uint32_t, const CameraPortFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult QueryStatus(uint32_t*, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetReadySignal(ISignalControl**) override { return PVL_E_UNSUPPORTED; }
  uint32_t GetSupportedFormatCount() override { return 0; }
  const CameraPortFormat* GetSupportedFormats() override { return nullptr; }
  PvlResult OnSnapshotDone(uint32_t) override { return PVL_OK; }
  PvlResult SetAckMode(uint32_t) override { return PVL_OK; }
};

// A statistics output with a numbered pool: buffer i has address 0x1000 * (i + 1).
class StatsOutputDouble final : public IStatsOutput {
 public:
  int pool = 8;
  int queued = 0;
  uint32_t gridWidth = 0, gridHeight = 0;
  std::function<uint32_t()> nextAddress;  // a real buffer's address for a real VFE
  PvlResult QueueNewBuffer(uint32_t* address) override {
    if (queued >= pool) return 516;
    ++queued;
    *address = nextAddress ? nextAddress() : 0x1000u * static_cast<uint32_t>(queued);
    return PVL_OK;
  }
  int sparesOwed = 0;
  PvlResult QueueSpareBuffer(uint32_t* address) override {
    if (QueueNewBuffer(address) == PVL_OK) return PVL_OK;
    *address = 0;
    ++sparesOwed;
    return PVL_OK;
  }
  uint32_t statsCount = 0;
  void SetStatsCount(uint32_t count) override { statsCount = count; }
  void SetStatsGrid(uint32_t width, uint32_t height) override {
    gridWidth = width;
    gridHeight = height;
  }
};

// Counts holds and checks that every Lock has its Unlock.
class LockDouble final : public ILock {
 public:
  int held = 0;
  int taken = 0;
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Lock() override {
    ++held;
    ++taken;
    return PVL_OK;
  }
  PvlResult Unlock() override {
    if (held == 0) return PVL_E_NOTREADY;
    --held;
    return PVL_OK;
  }
};

class StateDouble final : public IVfeState {
 public:
  bool initialized = true;
  bool IsInitialized() override { return initialized; }
};

// The service as the blocks reach it: it records what they send and owns the
// geometry configurations it hands out.
class VfeServiceDouble final : public IVfeServiceInternal {
 public:
  explicit VfeServiceDouble(IEnv* env) : env_(env) {}
  ~VfeServiceDouble() { ReleaseBlocks(); }

  // Builds the blocks this double serves; 0 or the first factory's code.
  PvlResult CreateBlocks() {
    PvlResult r = CCamifConfiguration::Create(this, &camif);
    if (r == PVL_OK) r = COutputConfiguration::Create(this, &output);
    if (r == PVL_OK) r = CFovCropConfiguration::Create(this, &crop);
    if (r == PVL_OK) r = CFrameDropConfiguration::Create(this, &frameDrop);
    if (r == PVL_OK) r = CBlock20Configuration::Create(this, &block20);
    if (r == PVL_OK) r = CBlock23Configuration::Create(this, &block23);
    if (r == PVL_OK) r = CMainScalerConfiguration::Create(this, &mainScaler);
    if (r == PVL_OK) r = COutputYScalerConfiguration::Create(this, &yScaler);
    if (r == PVL_OK) r = COutputCbCrScalerConfiguration::Create(this, &cbcrScaler);
    if (r == PVL_OK) r = CBlock22Configuration::Create(this, &block22);
    if (r == PVL_OK) r = CWBExpStatsConfiguration::Create(this, &wbExpStats);
    if (r == PVL_OK) r = CASFConfiguration::Create(this, &asf);
    if (r == PVL_OK) r = CDemosaicConfiguration::Create(this, &demosaic);
    if (r == PVL_OK) r = CRolloffConfiguration::Create(this, &rolloff);
    if (r == PVL_OK) r = CAFStatsConfiguration::Create(this, &afStats);
    if (r == PVL_OK) r = CAWBExtStatsConfiguration::Create(this, &awbExtStats);
    if (r == PVL_OK) r = CBlackLevelConfiguration::Create(this, &blackLevel);
    if (r == PVL_OK) r = CChannelGainConfiguration::Create(this, &channelGain);
    if (r == PVL_OK) r = CChromaSuppConfiguration::Create(this, &chromaSupp);
    if (r == PVL_OK) r = CColorConvConfiguration::Create(this, &colorConv);
    if (r == PVL_OK) r = CColorCorrConfiguration::Create(this, &colorCorr);
    if (r == PVL_OK) r = CGammaConfiguration::Create(this, &gamma);
    if (r == PVL_OK) r = CWhiteBalanceConfiguration::Create(this, &whiteBalance);
    if (r == PVL_OK) r = CLumaAdaptationConfiguration::Create(this, &lumaAdaptation);
    return r;
  }
  void ReleaseBlocks() {
    ReleaseOne(camif);
    ReleaseOne(output);
    ReleaseOne(crop);
    ReleaseOne(frameDrop);
    ReleaseOne(block20);
    ReleaseOne(block23);
    ReleaseOne(mainScaler);
    ReleaseOne(yScaler);
    ReleaseOne(cbcrScaler);
    ReleaseOne(block22);
    ReleaseOne(wbExpStats);
    ReleaseOne(asf);
    ReleaseOne(demosaic);
    ReleaseOne(rolloff);
    ReleaseOne(afStats);
    ReleaseOne(awbExtStats);
    ReleaseOne(blackLevel);
    ReleaseOne(channelGain);
    ReleaseOne(chromaSupp);
    ReleaseOne(colorConv);
    ReleaseOne(colorCorr);
    ReleaseOne(gamma);
    ReleaseOne(whiteBalance);
    ReleaseOne(lumaAdaptation);
  }

  IEnv* GetEnv() override { return env_; }
  ILock* GetLock() override { return &lock; }
  IVfeSettings* GetVfeSettings() override { return settings; }
  CRuntimeTuning* GetRuntimeTuning() override { return registry; }
  IVfeState* GetCurrentState() override { return &state; }
  IVideoOutputControl* GetRawOutput() override { return &raw; }
  IVideoOutputControl* GetCurrentOutput1() override { return &out1; }
  IVideoOutputControl* GetCurrentOutput2() override { return &out2; }
  IStatsOutput* GetWBExpStatsOutput() override { return &wbExpOutput; }
  IStatsOutput* GetAFStatsOutput() override { return &afOutput; }
  PvlResult SendCommand(int32_t command, const void* payload, uint32_t size) override {
    heldWhileSending = heldWhileSending && (lock.held > 0 || lock.taken == 0);
    const uint8_t* bytes = static_cast<const uint8_t*>(payload);
    sent.push_back({command, std::vector<uint8_t>(bytes, bytes + (payload ? size : 0))});
    auto a = answers.find(command);
    if (a != answers.end()) return a->second;
    return driver ? driver->Command(static_cast<uint32_t>(command), const_cast<void*>(payload), payload ? size : 0,
                                    nullptr, 0, nullptr)
                  : PVL_OK;
  }
  PvlResult SendReset() override { return SendCommand(VFE_CMD_RESET, nullptr, 0); }
  PvlResult RaiseEvent(uint32_t, uint32_t, IPvlBase*) override { return PVL_OK; }
  void UpdateOutputOrder(uint32_t) override {}
  void UpdateMaxCropFactor() override {}
  VfeOperationMode* GetOperationMode() override { return &operationMode; }

  CASFConfiguration* GetASFConfiguration() override { return asf; }
  COutputConfiguration* GetOutputConfiguration() override { return output; }
  CBlackLevelConfiguration* GetBlackLevelConfiguration() override { return blackLevel; }
  CCamifConfiguration* GetCamifConfiguration() override { return camif; }
  CChannelGainConfiguration* GetChannelGainConfiguration() override { return channelGain; }
  CBlock20Configuration* GetBlock20Configuration() override { return block20; }
  CChromaSuppConfiguration* GetChromaSuppConfiguration() override { return chromaSupp; }
  CColorConvConfiguration* GetColorConvConfiguration() override { return colorConv; }
  CColorCorrConfiguration* GetColorCorrConfiguration() override { return colorCorr; }
  CDemosaicConfiguration* GetDemosaicConfiguration() override { return demosaic; }
  CFovCropConfiguration* GetFovCropConfiguration() override { return crop; }
  CFrameDropConfiguration* GetFrameDropConfiguration() override { return frameDrop; }
  CGammaConfiguration* GetGammaConfiguration() override { return gamma; }
  CMainScalerConfiguration* GetMainScalerConfiguration() override { return mainScaler; }
  COutputYScalerConfiguration* GetOutputYScalerConfiguration() override { return yScaler; }
  COutputCbCrScalerConfiguration* GetOutputCbCrScalerConfiguration() override { return cbcrScaler; }
  CBlock22Configuration* GetBlock22Configuration() override { return block22; }
  CRolloffConfiguration* GetRolloffConfiguration() override { return rolloff; }
  CWBExpStatsConfiguration* GetWBExpStatsConfiguration() override { return wbExpStats; }
  CAFStatsConfiguration* GetAFStatsConfiguration() override { return afStats; }
  CAWBExtStatsConfiguration* GetAWBExtStatsConfiguration() override { return awbExtStats; }
  CWhiteBalanceConfiguration* GetWhiteBalanceConfiguration() override { return whiteBalance; }
  CBlock23Configuration* GetBlock23Configuration() override { return block23; }
  CLumaAdaptationConfiguration* GetLumaAdaptationConfiguration() override { return lumaAdaptation; }

  std::vector<SentCommand> sent;
  CRuntimeTuning* registry = nullptr;  // blocks built while set publish their keys in it
  ICameraDriver* driver = nullptr;  // when set, commands go on to it
  bool heldWhileSending = true;  // false once a configurer sent without the lock
  std::vector<int32_t> Commands() const {
    std::vector<int32_t> ids;
    for (const SentCommand& c : sent) ids.push_back(c.command);
    return ids;
  }
  std::map<int32_t, PvlResult> answers;
  OutputDouble raw, out1, out2;
  IVfeSettings* settings = nullptr;
  VfeOperationMode operationMode{};

  CCamifConfiguration* camif = nullptr;
  COutputConfiguration* output = nullptr;
  CFovCropConfiguration* crop = nullptr;
  CFrameDropConfiguration* frameDrop = nullptr;
  CBlock20Configuration* block20 = nullptr;
  CBlock23Configuration* block23 = nullptr;
  CMainScalerConfiguration* mainScaler = nullptr;
  COutputYScalerConfiguration* yScaler = nullptr;
  COutputCbCrScalerConfiguration* cbcrScaler = nullptr;
  CBlock22Configuration* block22 = nullptr;
  CWBExpStatsConfiguration* wbExpStats = nullptr;
  CASFConfiguration* asf = nullptr;
  CDemosaicConfiguration* demosaic = nullptr;
  CRolloffConfiguration* rolloff = nullptr;
  CAFStatsConfiguration* afStats = nullptr;
  CAWBExtStatsConfiguration* awbExtStats = nullptr;
  CBlackLevelConfiguration* blackLevel = nullptr;
  CChannelGainConfiguration* channelGain = nullptr;
  CChromaSuppConfiguration* chromaSupp = nullptr;
  CColorConvConfiguration* colorConv = nullptr;
  CColorCorrConfiguration* colorCorr = nullptr;
  CGammaConfiguration* gamma = nullptr;
  CWhiteBalanceConfiguration* whiteBalance = nullptr;
  CLumaAdaptationConfiguration* lumaAdaptation = nullptr;
  StatsOutputDouble afOutput, wbExpOutput;
  LockDouble lock;
  StateDouble state;

 private:
  template <class T>
  static void ReleaseOne(T*& block) {
    if (block) static_cast<IVfeConfiguration*>(block)->Release();
    block = nullptr;
  }
  IEnv* env_;
};

// The payload bytes of a record, for comparing with a sent command.
template <class Record>
std::vector<uint8_t> Bytes(const Record& record) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&record);
  return std::vector<uint8_t>(p, p + sizeof(Record));
}

}  // namespace vfeconfigtest
