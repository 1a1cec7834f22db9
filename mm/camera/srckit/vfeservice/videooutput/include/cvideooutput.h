// CVideoOutput: one frame sink of the VFE service (the raw output and the two
// processed NV21 outputs). Each output has a still mode and a video mode, each
// with its format, enable flag and buffer side; the engine's ports set them up
// through IVideoOutput, the service and its configurers drive the current mode.
// Every buffer the VFE holds is recorded here until its frame-done message
// comes back; the frame then goes to the engine as EVENT_OUTPUT and a fresh
// buffer goes to the VFE in its place.
#pragma once

#include <stdint.h>

#include <utility>
#include <vector>

#include "cameraportformat.h"
#include "cpvlmediabuffer.h"
#include "cpvlobject.h"
#include "cvideobuffermanager.h"
#include "isignalqueue.h"
#include "ivfeoutputhost.h"
#include "ivfeservice.h"
#include "ivideooutput.h"

#define VIDEO_OUTPUT_NO_MODE 0x7fffffffu

// What distinguishes the three outputs.
struct VideoOutputTraits {
  uint32_t outputId;
  uint8_t outputFlag;
  uint32_t colorSpace;
  uint32_t fourcc;
  uint32_t depth;
  uint32_t sampling;
  uint32_t ackCommand;   // at construction
  bool followsAckMode;   // outputs 1 and 2
  bool limitTo1024x768;  // output 1
  ZUEUID readySignal;    // 0: none
  uint32_t statusWord;   // word of the output query with this path's misses; 0: no status
};

class CVideoOutput : public CPvlObject, public IVideoOutput, public IVideoOutputControl {
 public:
  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // IVideoOutput
  PvlResult GetFormats(CameraPortFormat* formats, int32_t capacity, int32_t* count) override;
  PvlResult GetOutputId(uint32_t* id) override;
  PvlResult IsEnabled(uint32_t mode, uint8_t* enabled) override;
  PvlResult Enable(uint32_t mode, uint8_t on) override;
  PvlResult IsFormatScalable(uint8_t* scalable, uint32_t index) override;
  PvlResult GetBufferInfo(uint32_t mode, BufferRequest* records, int32_t capacity, uint32_t* count) override;
  PvlResult GetBufferAllocator(uint32_t mode, ICameraBufferManager** allocator) override;
  PvlResult SetBufferManager(uint32_t mode, ICameraBufferManager* manager) override;
  PvlResult GetFormat(uint32_t mode, CameraPortFormat* format) override;
  PvlResult SetFormat(uint32_t mode, const CameraPortFormat* format) override;
  PvlResult QueryStatus(uint32_t* first, uint32_t* second) override;
  PvlResult GetReadySignal(ISignalControl** signal) override;
  uint32_t GetSupportedFormatCount() override { return 1; }
  const CameraPortFormat* GetSupportedFormats() override { return &m_supported; }
  PvlResult OnSnapshotDone(uint32_t) override { return PVL_OK; }
  PvlResult AckBuffer(IPvlMediaBuffer* buffer) override;
  PvlResult SetAckMode(uint32_t path) override;

  // IVideoOutputControl
  IVideoOutput* GetInterface() override { return this; }
  PvlResult SetCurrentMode(uint32_t mode, uint32_t count) override;
  PvlResult Start() override;
  PvlResult Stop() override;
  PvlResult QueueNewBuffer(IPvlMediaBuffer** buffer) override;
  bool IsRunning() override;
  bool IsCurrentModeEnabled() override;
  PvlResult GetCurrentFormat(CameraPortFormat* format) override;
  PvlResult GetCurrentBufferCount() override;
  uint32_t GetFrameInterval() override { return m_supported.FrameInterval; }
  VfeSize GetMode0Size() override { return VfeSize{m_modes[0].format.Width, m_modes[0].format.Height}; }
  VfeSize GetMode1Size() override { return VfeSize{m_modes[1].format.Width, m_modes[1].format.Height}; }
  VfeSize GetOutputSize() override { return VfeSize{m_current.Width, m_current.Height}; }

  // The receive thread's side.
  PvlResult OnOutput(uint32_t luma, uint32_t chroma, uint64_t startOfFrame, uint64_t messageTime);
  // The VFE lost frames of this output's path: the engine hears of them.
  PvlResult OnFramesLost(uint32_t lost);
  static constexpr uint32_t kMaxLostEvents = 16;
  PvlResult ReArm();
  uint32_t GetCurrentMode() const { return m_currentMode; }
  size_t OutstandingCount() const { return m_outstanding.size(); }
  uint32_t GetAckCommand() const { return m_ackCommand; }

  static bool IsFormatSupported(const CameraPortFormat& supported, const CameraPortFormat& format);
  static void FormatDump(const CameraPortFormat& format);

 protected:
  CVideoOutput(IVfeOutputHost* service, const VideoOutputTraits& traits, PvlResult* result);
  ~CVideoOutput() override;

  template <class Derived>
  static PvlResult CreateAs(IVfeOutputHost* service, CVideoOutput** out);

 private:
  struct Mode {
    CPvlPtr<CVideoBufferManager> manager;
    CameraPortFormat format;
    uint8_t enabled;
    uint32_t count;  // still mode only; video mode always 4
    uint32_t id;
    uint32_t BufferCount() const { return id == VIDEO_OUTPUT_MODE_STILL ? count : 4; }
  };
  ILock* Lock() const;
  void DropOutstanding();
  void CheckState();

  IVfeOutputHost* m_service;
  VideoOutputTraits m_traits;
  Mode m_modes[2];
  uint32_t m_currentMode;
  CPvlPtr<CVideoBufferManager> m_currentManager;
  CameraPortFormat m_current;
  std::vector<CPvlPtr<IPvlMediaBuffer>> m_outstanding;
  uint8_t m_running;
  CameraPortFormat m_supported;
  uint32_t m_ackCommand;
};

template <class Derived>
PvlResult CVideoOutput::CreateAs(IVfeOutputHost* service, CVideoOutput** out) {
  if (!out) return PVL_E_BADARG;
  PvlResult result = PVL_E_FAIL;
  Derived* self = new Derived(service, &result);
  self->AddRef();
  if (result != PVL_OK) {
    self->Release();
    return result;
  }
  *out = self;
  return PVL_OK;
}

class CRawVideoOutput final : public CVideoOutput {
 public:
  static PvlResult Create(IVfeOutputHost* service, CVideoOutput** out);
  CRawVideoOutput(IVfeOutputHost* service, PvlResult* result);
};

class CVideoOutput1 final : public CVideoOutput {
 public:
  static PvlResult Create(IVfeOutputHost* service, CVideoOutput** out);
  CVideoOutput1(IVfeOutputHost* service, PvlResult* result);
};

class CVideoOutput2 final : public CVideoOutput {
 public:
  static PvlResult Create(IVfeOutputHost* service, CVideoOutput** out);
  CVideoOutput2(IVfeOutputHost* service, PvlResult* result);
};
