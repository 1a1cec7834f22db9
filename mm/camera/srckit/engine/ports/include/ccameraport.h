// The engine's output port: where a client (a driver pin's capture thread)
// takes the frames of one VFE output.
//
// The port manager queues every finished frame of the output here; the client
// blocks in GetNextFrame until one is there. Frames are the output's own
// buffers, handed over with their reference and never copied; the client's
// last Release sends the buffer back to its pool, where the VFE re-arms with
// it. The queue is unbounded and first in, first out. Stop or closing the port
// (mode 0) empties it and wakes the reader with 47, which ends its thread.
// The client reaches the port through its proxy, which also carries the
// port's property face (the output's frame counters, and for the main-image
// port the JPEG settings).
#pragma once

#include <stdint.h>

#include <deque>

#include "cpvlmediabuffer.h"
#include "cpvlobject.h"
#include "icameraport.h"
#include "icamerasensorservice.h"
#include "ilock.h"
#include "ipropertystore.h"
#include "isignalqueue.h"
#include "ivideooutput.h"

class CCameraPort;

// The client's face of a port: its operations and a property face. Detached
// (port construction failed, or the port is gone) every operation answers 10.
class CCameraPortProxy final : public ICameraPort, public IProperties {
 public:
  CCameraPortProxy() = default;
  void SetPort(CCameraPort* port) { m_port = port; }
  // The property store the face forwards to (the JPEG settings); may be null.
  void SetStore(IProperties* store) { m_store = store; }
  void SetOuter(IPvlBase* outer) { m_outer = outer; }

  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult GetPortType(uint32_t* type) override;
  PvlResult GetFormat(CameraPortFormat* format) override;
  PvlResult SetFormat(const CameraPortFormat* format) override;
  PvlResult GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) override;
  PvlResult GetBufferAllocator(ICameraBufferManager** allocator) override;
  PvlResult SetBufferManager(ICameraBufferManager* manager) override;
  PvlResult GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;
  PvlResult Start() override;
  PvlResult Stop() override;
  PvlResult GetNextFrame(IPvlMediaBuffer** buffer) override;
  // Beyond the client's thirteen operations: not offered through the proxy.
  PvlResult Attach(IVideoOutput*, ICameraSensorService*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetMode(uint8_t) override { return PVL_E_UNSUPPORTED; }
  uint8_t IsStarted() override { return 0; }
  PvlResult GetOutput(IVideoOutput**) override { return PVL_E_UNSUPPORTED; }
  PvlResult QueueFrame(IPvlMediaBuffer*) override { return PVL_E_UNSUPPORTED; }
  ICameraPort* GetProxy() override { return nullptr; }
  IPvlBase* SetProxyOuter(IPvlBase*) override { return nullptr; }

  PvlResult Reserved3(uint32_t a, uint32_t b) override;
  PvlResult GetProperty(uint32_t id, PvlValueRecord* value) override;
  PvlResult SetProperty(uint32_t id, const PvlValueRecord* value) override;
  PvlResult AddProperty(const CPvlPropertyDesc* desc, uint32_t group, uint32_t flags) override;
  PvlResult Reserved7(uint32_t a, uint32_t b) override;
  PvlResult Reserved8(uint32_t a, uint32_t b) override;
  PvlResult GetProperties(CPvlPropertyDesc* descs, uint32_t count, PvlResult* results) override;
  PvlResult SetProperties(const PvlPropertyValueRecord* records, uint32_t count) override;
  PvlResult SetRanges(const PvlPropertyRangeRecord* records, uint32_t count) override;
  PvlResult RegisterGroup(CPvlPropertyDesc* const* descs, uint32_t count, uint32_t group) override;
  PvlResult Reserved13(uint32_t a, uint32_t b, uint32_t c) override;
  PvlResult Reserved14(uint32_t a, uint32_t b) override;

 private:
  CCameraPort* m_port = nullptr;
  CPvlPtr<IProperties> m_store;
  IPvlBase* m_outer = nullptr;  // not counted: the aggregating object owns the proxy's port reference
};

class CCameraPort : public CPvlObject, public ICameraPort {
 public:
  PVL_FORWARD_IPVLBASE_TO(CPvlObject)
  // ZUEUID_IFACE_CAMERA_PORT: the port face; anything else the base object's.
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // Primary operations.
  // Only the three port types (14 otherwise).
  virtual PvlResult SetPortType(uint32_t type);
  // The output's two status counters (type 19 records only, else 14).
  virtual PvlResult GetProperty(uint32_t id, PvlValueRecord* value);

  PvlResult GetPortType(uint32_t* type) override;
  PvlResult GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;
  PvlResult Start() override;
  PvlResult Stop() override;
  PvlResult GetNextFrame(IPvlMediaBuffer** buffer) override;
  PvlResult Attach(IVideoOutput* output, ICameraSensorService* sensor) override;
  PvlResult SetMode(uint8_t mode) override;
  uint8_t IsStarted() override;
  PvlResult GetOutput(IVideoOutput** output) override;
  PvlResult QueueFrame(IPvlMediaBuffer* buffer) override;
  ICameraPort* GetProxy() override;
  IPvlBase* SetProxyOuter(IPvlBase* outer) override;

  // A capture ended without its frame: a reader that finds no frame waiting
  // hears of it once (PVL_E_CAPTURE_FAILED), after the frames queued before it.
  PvlResult QueueFailedCapture();
  // The VFE lost a frame of the port's stream. A stream that has lost
  // kLostFramesReported frames without giving one has not begun: its reader
  // hears of it as a failed capture, and again after each further such run.
  static constexpr uint32_t kLostFramesReported = 3;
  void NoteLostFrame();
  // The camera module stopped answering: the stream is over until the next
  // Start. The reader takes the frames queued before, then hears of it once
  // (PVL_E_DEVICE_LOST) and waits for the Stop; frames that still come are not
  // queued. Ignored by a stopped port.
  void NoteDeviceLost();

  // Frames waiting now (for tests and the engine's traces).
  uint32_t QueuedFrames();

  // The standard sizes a scalable format is offered in.
  struct StandardSize {
    uint32_t width, height;
  };
  static const StandardSize kStandardSizes[34];
  // The single size of test mode.
  static constexpr StandardSize kTestModeSize = {320, 240};
  static constexpr uint32_t kTestModeFrameInterval = 210526;

 protected:
  CCameraPort(IEnv* env, uint32_t type, PvlResult* result);
  ~CCameraPort() override;

  IVideoOutput* Output() const { return m_output.Get(); }
  ICameraSensorService* Sensor() const { return m_sensor.Get(); }
  CCameraPortProxy& Proxy() { return m_proxy; }
  // Appends the supported formats' records (the still ports extend the list).
  const std::deque<CameraPortFormat>& Formats() const { return m_formats; }

  // Derived destructors log first, then call this before their members go.
  void DetachProxy() { m_proxy.SetPort(nullptr); }

 private:
  PvlResult BuildFormats();
  // Empties the queue; the frames are released by the caller, outside the lock.
  std::deque<IPvlMediaBuffer*> TakeQueue();
  static void ReleaseAll(std::deque<IPvlMediaBuffer*>& frames);

  uint32_t m_type;
  CPvlPtr<IVideoOutput> m_output;
  CPvlPtr<ICameraSensorService> m_sensor;
  CPvlPtr<ISignalQueue> m_signalQueue;
  uint8_t m_started;
  uint8_t m_mode;
  std::deque<CameraPortFormat> m_formats;
  std::deque<IPvlMediaBuffer*> m_queue;  // one reference each
  uint32_t m_failedCaptures = 0;         // not yet reported to a reader
  bool m_frameSinceStart = false;        // a frame was queued since Start
  uint32_t m_lostBeforeFirst = 0;        // frames lost since Start (or the last report) before any came
  enum class DeviceLost : uint8_t { No, ToReport, Reported };
  DeviceLost m_deviceLost = DeviceLost::No;  // since Start
  CPvlPtr<ISignalControl> m_wakeControl;
  CPvlPtr<ISignal> m_wakeSignal;
  CPvlPtr<ILock> m_lock;
  CCameraPortProxy m_proxy;
};
