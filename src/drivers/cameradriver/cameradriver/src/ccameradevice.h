// CCameraDevice: the driver's camera adapter, one per CAM device. It owns the
// connection to the camera engine (made through the host's environment when a
// client opens the camera), the pin table with the engine port and the offered
// data ranges behind each pin, the per-device copies of the property maps with the
// engine defaults pushed, the one-owner rule, the engine's power state, and the
// focus and pre-flash notification threads.
//
// Locks: the device lock serialises open, close, every property request and every
// pin request; the focus lock guards the focus state shared with the focus thread.
#pragma once

#include <stdint.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "cameraportformat.h"
#include "casyncmsgqueue.h"
#include "csprotocol.h"
#include "icameraengine.h"
#include "icameraport.h"
#include "ienv.h"
#include "ipropertystore.h"
#include "isignalqueue.h"
#include "propertytranslation.h"
#include "wince.h"

class CPinDevice;

// The pins' registry settings.
#define OSTREL_PIN_KEY u"Drivers\\Capture\\Pin"

// Focus state (the focus-control request's machine; the focus thread ends a run).
enum class FocusState : uint32_t { Idle = 0, Running = 3, Failed = 5 };

// The camera's life cycle, one state at a time. PrepareDevice goes Closed ->
// EngineReady (the engine initialised, the rest being built) -> Open; power D4
// suspends an open camera, remembering whether a video pin ran so that D0 restarts
// it; UnPrepareDevice (or a failed preparation) goes back through EngineReady,
// where the engine is stopped and uninitialised, to Closed.
enum class CameraState : uint8_t { Closed, EngineReady, Open, Suspended, SuspendedWithVideo };

struct PinEntry {
  CPinDevice* pin = nullptr;
  uint32_t instances = 0;
  CsGuid category{};
  ICameraPort* port = nullptr;
  IProperties* portProperties = nullptr;  // still pin only
  std::vector<CS_DATARANGE_VIDEO> ranges;
  uint8_t running = 0;
};

class CCameraDevice {
 public:
  CCameraDevice();
  ~CCameraDevice();
  CCameraDevice(const CCameraDevice&) = delete;
  CCameraDevice& operator=(const CCameraDevice&) = delete;

  bool Initialize(LPCWSTR activeKey);
  // Creates and initialises the engine and everything behind the pins. On failure
  // nothing of it stays: the engine is uninitialised and released, threads ended.
  bool PrepareDevice(IEnv* env);
  BOOL UnPrepareDevice();
  bool IsPrepared() const {
    return m_state == CameraState::Open || IsSuspended();
  }
  bool IsSuspended() const {
    return m_state == CameraState::Suspended || m_state == CameraState::SuspendedWithVideo;
  }

  BOOL TakeOwnership(HANDLE process);
  void ReleaseOwnership() { m_owner = nullptr; }
  bool IsOwned() const { return m_owner != nullptr; }
  // Whether `process` may use the camera's pins: the camera is its own or no one's.
  bool MayUsePins(HANDLE process) const { return !m_owner || m_owner == process; }
  CRITICAL_SECTION* GetLock() { return &m_lock; }
  // The device lock for a client's request, granted in the order the requests came
  // (a thread already holding it takes it again at once): a client that asks again
  // as soon as it lets go waits behind the others instead of starving them.
  void LockForRequest();
  void UnlockForRequest();

  BOOL GetEngine(ICameraEngine** engine);
  IEnv* Env() const { return m_env; }
  ICameraEngine* Engine() const { return m_engine; }
  IProperties* EngineProperties() const { return m_properties; }
  ICameraEngine* EngineControl() const { return m_engineControl; }
  BOOL GetPort(uint32_t pin, ICameraPort** port);
  BOOL GetDataRange(uint32_t pin, uint32_t index, const CS_DATARANGE_VIDEO** range);
  bool IsValidPin(uint32_t pin) const { return pin < m_pinCount; }
  uint32_t PinCount() const { return m_pinCount; }
  const PinEntry& Pin(uint32_t pin) const { return m_pins[pin]; }
  BOOL AddPinInstance(uint32_t pin, CPinDevice* pinObject);
  BOOL RemovePinInstance(uint32_t pin);
  BOOL GetFixedFrameRate(uint32_t* value) const;
  bool IsThumbnailPinSupported() const { return m_thumbnailPinSupport != 0; }
  uint32_t CameraIndex() const { return m_cameraIndex; }
  uint32_t VideoControlCaps(uint32_t pin) const { return m_videoControlCaps[pin]; }
  void SetVideoControlCaps(uint32_t pin, uint32_t caps) { m_videoControlCaps[pin] = caps; }

  BOOL StartVideo(uint32_t pin);
  BOOL StartStill();
  BOOL StopVideo(uint32_t pin);
  BOOL SetPowerState(uint32_t state);
  void SetPinStopped(bool stopped) { m_pinStopped = stopped ? 1 : 0; }
  void SetStillCount(uint32_t count) { m_stillCount = count; }

  BOOL MatchDataRange(uint32_t pin, const CS_DATARANGE_VIDEO& range, const CS_DATARANGE_VIDEO** match,
                      bool detailed) const;
  BOOL MatchDataFormat(uint32_t pin, const CS_DATAFORMAT_VIDEOINFOHEADER& format, const CS_DATARANGE_VIDEO** match,
                       bool detailed) const;

  // Per-device property rows.
  const DevicePropertyRecord& CameraControlRecord(int row) const { return m_cameraControl[row]; }
  const DevicePropertyRecord& VideoProcAmpRecord(int row) const { return m_videoProcAmp[row]; }
  const DevicePropertyRecord& VideoCompressionRecord(int row) const { return m_videoCompression[row]; }

  // The notification threads' view of the device.
  enum class Notifier { Focus, PreFlash };
  struct NotifierParts {
    ISignalQueue* queue;
    ISignal* signal;
    std::atomic<uint8_t>* exit;
  };
  NotifierParts NotifierFor(Notifier which);
  CAsyncMsgQueue* AsyncQueue() { return m_asyncQueue; }
  HANDLE ThreadStopEvent() const { return m_threadStopEvent; }
  void ClearFocusState();
  FocusState GetFocusState();
  void SetFocusState(FocusState state);
  // The controls that the engine fires when a focus run or a pre-flash ends.
  ISignalControl* FocusSignalControl() const { return m_focus.control; }
  ISignalControl* PreFlashSignalControl() const { return m_preFlash.control; }
  HANDLE FocusThreadHandle() const { return m_focus.thread; }
  HANDLE PreFlashThreadHandle() const { return m_preFlash.thread; }

  uint32_t m_cookie = 0;  // the kernel registration cookie
  // The maker's set's zoom and focus-zone state.
  uint32_t m_zoomStep = 0;
  double m_totalZoom = 1.0;
  uint32_t m_autoFocusZones = 0;

  // The camera sets' handlers keep their state in the device.
  friend DWORD AdapterHandleCameraControlRequests(CCameraDevice*, void*, DWORD, void*, DWORD, DWORD*);
  friend DWORD AdapterHandleCameraControlAdvRequests(CCameraDevice*, void*, DWORD, void*, DWORD, DWORD*);
  friend DWORD AdapterHandleVideoProcAmpRequests(CCameraDevice*, void*, DWORD, void*, DWORD, DWORD*);
  friend DWORD AdapterHandleVideoCompressionRequests(CCameraDevice*, void*, DWORD, void*, DWORD, DWORD*);
  friend DWORD AdapterHandleVantorPropertyRequests(CCameraDevice*, void*, DWORD, void*, DWORD, DWORD*);

 private:
  struct NotifierThread {
    ISignalQueue* queue = nullptr;
    ISignalControl* control = nullptr;
    ISignal* signal = nullptr;
    HANDLE thread = nullptr;
    std::atomic<uint8_t> exit{0};
  };

  bool CreateEngine(IEnv* env);
  bool PushPropertyDefaults();
  bool SelectFlashDevice();
  bool BuildPins();
  bool ApplyPortPropertyDefaults(uint32_t pin);
  bool StartNotifier(NotifierThread& n, LPTHREAD_START_ROUTINE entry, bool focus);
  void StopNotifiers();
  // Undoes whatever preparation built (both for UnPrepareDevice and a failed
  // PrepareDevice).
  void Teardown();
  void WriteTestModeValues(bool opening);

  CAsyncMsgQueue* m_asyncQueue = nullptr;
  // A pin stopped its stream (the engine is idle): power changes leave the engine
  // alone. Not the camera's state: it changes in any open state, suspended or not.
  uint8_t m_pinStopped = 0;
  CRITICAL_SECTION m_lock;
  std::mutex m_turnLock;  // the requests' turns at m_lock
  std::condition_variable m_turnChanged;
  uint64_t m_nextTurn = 0, m_turn = 0;
  HANDLE m_pinDeviceHandle = nullptr;
  HANDLE m_owner = nullptr;
  std::vector<uint32_t> m_videoControlCaps;
  std::vector<PinEntry> m_pins;
  uint32_t m_pinCount = 0;
  uint32_t m_portCount = 0;
  IEnv* m_env = nullptr;
  ICameraEngine* m_engine = nullptr;
  IProperties* m_properties = nullptr;
  ICameraEngine* m_engineControl = nullptr;
  CameraState m_state = CameraState::Closed;
  uint32_t m_cameraIndex = 0;
  CameraSensorDescriptor m_selectedCamera{};
  CameraFlashDevice m_flashDevice{};
  FocusState m_focusState = FocusState::Idle;
  CRITICAL_SECTION m_focusLock;
  NotifierThread m_focus;
  NotifierThread m_preFlash;
  HANDLE m_threadStopEvent = nullptr;
  uint32_t m_fixedFrameRate = 0;  // CSPROPERTY_CAMERACONTROL_FIXED_FRAME_RATE as the client set it
  uint32_t m_powerControl = 1;    // CSPROPERTY_CAMERACONTROL_POWER as the client set it
  uint32_t m_maxWidth = 800;
  uint32_t m_maxHeight = 480;
  uint32_t m_stillCount = 0;
  uint32_t m_stillRemaining = 0;
  uint8_t m_stopBeforeStill = 1;
  uint8_t m_rawSupport = 0;
  uint8_t m_thumbnailPinSupport = 0;
  uint32_t m_powerState = CS_POWER_D0;
  std::array<DevicePropertyRecord, kCameraControlRows> m_cameraControl{};
  std::array<DevicePropertyRecord, kVideoProcAmpRows> m_videoProcAmp{};
  std::array<DevicePropertyRecord, kVideoCompressionRows> m_videoCompression{};
  double m_angles[3] = {1.0, 1.0, 1.0};  // CSPROPERTY_CAMERACONTROL_PAN_ANGLE.. (read-only)
};

// Registry helpers of the driver: a REG_DWORD of size 4, else the default.
DWORD ReadPinSetting(LPCWSTR name, DWORD defaultValue, bool* present = nullptr);
