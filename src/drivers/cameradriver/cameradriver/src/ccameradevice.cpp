// The camera device: engine ownership and preparation, the pin table, power.
#include "ccameradevice.h"

#include <cstring>
#include <limits>
#include <memory>

#include "cpindevice.h"
#include "cpvlvariant.h"
#include "devmgr.h"
#include "formattranslation.h"
#include "plindor.h"
#include "scopeexit.h"

namespace {

// Releases an interface and clears the pointer.
template <typename T>
void ReleaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

void WriteDword(HKEY root, LPCWSTR path, LPCWSTR name, DWORD value) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS) return;
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

const DWORD kDefaultVideoControlCaps[3] = {4, 12, 0};

}  // namespace

DWORD ReadPinSetting(LPCWSTR name, DWORD defaultValue, bool* present) {
  if (present) *present = false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, OSTREL_PIN_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return defaultValue;
  DWORD value = 0, type = 0, size = sizeof value;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return defaultValue;
  if (present) *present = true;
  return value;
}

namespace {
thread_local int t_requestDepth = 0;  // device locks this thread holds for requests
}  // namespace

void CCameraDevice::LockForRequest() {
  if (t_requestDepth++ == 0) {
    std::unique_lock<std::mutex> hold(m_turnLock);
    const uint64_t mine = m_nextTurn++;
    m_turnChanged.wait(hold, [&] { return m_turn == mine; });
  }
  EnterCriticalSection(&m_lock);
}

void CCameraDevice::UnlockForRequest() {
  LeaveCriticalSection(&m_lock);
  if (--t_requestDepth == 0) {
    {
      std::lock_guard<std::mutex> hold(m_turnLock);
      ++m_turn;
    }
    m_turnChanged.notify_all();
  }
}

CCameraDevice::CCameraDevice() {
  InitializeCriticalSection(&m_lock);
  InitializeCriticalSection(&m_focusLock);
  for (size_t i = 0; i < kCameraControlRows; ++i) m_cameraControl[i] = g_CameraControlPropMap[i];
  for (size_t i = 0; i < kVideoProcAmpRows; ++i) m_videoProcAmp[i] = g_VideoProcAmpPropMap[i];
  for (size_t i = 0; i < kVideoCompressionRows; ++i) m_videoCompression[i] = g_VideoCompressionPropMap[i];
}

CCameraDevice::~CCameraDevice() {
  NKDbgPrintfW(u"~CCameraDevice()\r\n");
  UnPrepareDevice();
  if (m_pinDeviceHandle) DeactivateDevice(m_pinDeviceHandle);
  delete m_asyncQueue;
  DeleteCriticalSection(&m_focusLock);
  DeleteCriticalSection(&m_lock);
}

bool CCameraDevice::Initialize(LPCWSTR activeKey) {
  NKDbgPrintfW(u"CCameraDevice::Initialize(), pContext: %s\r\n", activeKey);
  HKEY key = OpenDeviceKey(activeKey);
  if (!key) {
    NKDbgPrintfW(u"Failed to open the registry key for camera device context: %s\r\n", activeKey);
    return false;
  }
  DWORD index = 0, type = 0, size = sizeof index;
  LONG r = RegQueryValueExW(key, u"Index", nullptr, &type, reinterpret_cast<LPBYTE>(&index), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof index) {
    NKDbgPrintfW(u"Failed to read the Index registry value for camera device context: %s\r\n", activeKey);
    return false;
  }
  NKDbgPrintfW(u"Activating PIN %d\r\n", index);
  LPCWSTR pinKey = nullptr;
  if (index == 1) pinKey = u"Software\\Microsoft\\DirectX\\DirectShow\\Capture\\PIN1";
  if (index == 2) pinKey = u"Software\\Microsoft\\DirectX\\DirectShow\\Capture\\PIN2";
  if (!pinKey) {
    NKDbgPrintfW(u"Invalid camera device ID\r\n");
    return false;
  }
  HANDLE pin = ActivateDeviceEx(pinKey, nullptr, 0, this);
  if (pin == INVALID_HANDLE_VALUE) {
    NKDbgPrintfW(u"ActivateDeviceEx() on Pin failed with error code: %d\r\n", GetLastError());
    return false;
  }
  m_pinDeviceHandle = pin;
  m_cameraIndex = index - 1;
  m_asyncQueue = new (std::nothrow) CAsyncMsgQueue;
  if (!m_asyncQueue || !m_asyncQueue->CreateAsyncMSGQueue()) return false;
  InitFlashLight();
  return true;
}

void CCameraDevice::WriteTestModeValues(bool opening) {
  WriteDword(HKEY_LOCAL_MACHINE, OSTREL_PIN_KEY, u"ThumbnailPinSupport", opening ? 0 : 1);
  WriteDword(HKEY_LOCAL_MACHINE, OSTREL_PIN_KEY, u"NumberOfPins", opening ? 3 : 4);
  if (opening) {
    WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"ACTimeout", 0);
    WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"ACBrightness", 10);
    WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"LightDetectOn", 0);
  }
  VantorSetIsCamOpen(opening ? 1 : 0);
}

bool CCameraDevice::PrepareDevice(IEnv* env) {
  NKDbgPrintfW(u"PrepareDevice(): got piEnv: 0x%x\r\n", env);
  if (VantorIsCameraLTKRunning() == 1) WriteTestModeValues(true);
  m_stillCount = 0;
  m_stillRemaining = 0;
  m_stopBeforeStill = 1;
  m_thumbnailPinSupport = ReadPinSetting(u"ThumbnailPinSupport", 0) ? 1 : 0;
  if (!env) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (m_state != CameraState::Closed) {
    SetLastError(ERROR_DEVICE_IN_USE);
    return false;
  }
  ScopeExit rollback([this] { Teardown(); });
  try {
    env->AddRef();
    m_env = env;
    m_fixedFrameRate = 0;
    m_powerControl = 1;
    m_focusState = FocusState::Idle;
    m_pinStopped = 0;
    if (!CreateEngine(env)) return false;
    if (!PushPropertyDefaults()) return false;
    if (!SelectFlashDevice()) return false;
    if (!BuildPins()) return false;

    m_threadStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_threadStopEvent) return false;
    if (!StartNotifier(m_focus, FocusThread, true)) return false;
    if (!StartNotifier(m_preFlash, PreFlashThread, false)) return false;
  } catch (...) {
    NKDbgPrintfW(u"Unknown exception!\r\n");
    return false;
  }
  m_state = CameraState::Open;
  rollback.Dismiss();
  return true;
}

bool CCameraDevice::CreateEngine(IEnv* env) {
  NKDbgPrintfW(u"Creating Camera Engine\r\n");
  PvlResult r = env->CreateInstance(ZUEUID_CLASS_CAMERAENGINE, reinterpret_cast<void**>(&m_engine));
  if (r != PVL_OK || !m_engine) {
    m_engine = nullptr;
    NKDbgPrintfW(u"Creating Camera Engine failed with result=%d\r\n", r);
    return false;
  }
  if (m_engine->QueryInterface(ZUEUID_IFACE_PROPERTIES, reinterpret_cast<void**>(&m_properties)) != PVL_OK ||
      !m_properties) {
    m_properties = nullptr;
    return false;
  }
  if (m_engine->QueryInterface(ZUEUID_IFACE_CAMERAENGINE_CONTROL, reinterpret_cast<void**>(&m_engineControl)) !=
          PVL_OK ||
      !m_engineControl) {
    m_engineControl = nullptr;
    return false;
  }
  uint32_t n = 0;
  if (m_engine->GetCameras(nullptr, 0, &n) != PVL_OK || n < 1 || n <= m_cameraIndex) return false;
  std::unique_ptr<CameraSensorDescriptor[]> cameras(new (std::nothrow) CameraSensorDescriptor[n]());
  if (!cameras) {
    SetLastError(ERROR_OUTOFMEMORY);
    return false;
  }
  uint32_t filled = n;
  if (m_engine->GetCameras(cameras.get(), n, &filled) != PVL_OK || filled <= m_cameraIndex) return false;
  NKDbgPrintfW(u"Initializing the Camera Engine\r\n");
  if (m_engine->Initialize(cameras[m_cameraIndex].DriverClass) != PVL_OK) return false;
  m_state = CameraState::EngineReady;
  m_selectedCamera = cameras[m_cameraIndex];
  return true;
}

bool CCameraDevice::PushPropertyDefaults() {
  // Camera control first, then proc amp; each supported row's default goes to the
  // engine, and a row the engine cannot take is marked unsupported.
  struct Map {
    DevicePropertyRecord* rows;
    size_t count;
    bool cameraControl;
  } maps[2] = {{m_cameraControl.data(), m_cameraControl.size(), true},
               {m_videoProcAmp.data(), m_videoProcAmp.size(), false}};
  for (const Map& map : maps) {
    for (size_t i = 0; i < map.count; ++i) {
      DevicePropertyRecord& row = map.rows[i];
      if (!row.supported) continue;
      CSPROPERTY_CAMERACONTROL_S client{};
      CreateDSPropertyFromDefaults(row, &client);
      PVLPropertyRecord engine;
      InitPVLPropertyRecord(&engine, row.engineId, row.type);
      PvlResult result = PVL_OK;
      PvlResult r = m_properties->GetProperties(reinterpret_cast<CPvlPropertyDesc*>(&engine), 1, &result);
      if (r == PVL_E_BADARG) continue;
      if (r != PVL_OK) {
        NKDbgPrintfW(u"Could not retrieve property from Camera Engine: PVLID=%x, result=%d\r\n", row.engineId, r);
        return false;
      }
      r = map.cameraControl ? TranslateCameraControlToPVL(&engine, client, row)
                            : TranslateVideoProcAmpToPVL(&engine, client, row);
      if (r == kTranslateUnsupported) continue;
      if (r != PVL_OK) {
        NKDbgPrintfW(u"Translation from DS to PVL property failed: PVLID=%x, result=%d\r\n", row.engineId, r);
        return false;
      }
      PVLPropertyValue value;
      MakePVLPropertyValue(engine, &value);
      r = m_properties->SetProperties(&value, 1);
      if (r == PVL_E_BADARG) continue;
      if (r == PVL_E_UNSUPPORTED) {
        row.supported = 0;
        continue;
      }
      if (r != PVL_OK) {
        NKDbgPrintfW(map.cameraControl ? u"Could not set property in Camera Engine: PVLID=%x, result=%d\r\n"
                                       : u"Could not set property on Camera Engine: PVLID=%x, result=%d\r\n",
                     row.engineId, r);
        return false;
      }
    }
  }
  return true;
}

bool CCameraDevice::SelectFlashDevice() {
  uint32_t n = 0;
  if (m_engine->GetFlashDevices(nullptr, 0, &n) != PVL_OK) return false;
  if (n == 0) return true;
  std::unique_ptr<CameraFlashDevice[]> devices(new (std::nothrow) CameraFlashDevice[n]());
  if (!devices) {
    SetLastError(ERROR_OUTOFMEMORY);
    return false;
  }
  uint32_t filled = n;
  if (m_engine->GetFlashDevices(devices.get(), n, &filled) != PVL_OK || filled == 0) return false;
  PvlValueRecord v{};
  v.type = PVL_VT_UINT32;
  v.payload.u32 = devices[0].driverClass;
  if (m_properties->SetProperty(ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, &v) != PVL_OK) return false;
  m_flashDevice = devices[0];
  return true;
}

bool CCameraDevice::BuildPins() {
  DWORD wantedPins = ReadPinSetting(u"NumberOfPins", 4);
  NKDbgPrintfW(u"Getting the available camera ports\r\n");
  uint32_t ports = 0;
  if (m_engine->GetPorts(nullptr, 0, &ports) != PVL_OK) return false;
  m_portCount = ports;
  m_pinCount = wantedPins < ports ? wantedPins : ports;
  // The port-to-pin mapping writes the fixed entries 0..3: the table always has them.
  m_pins.assign(ports > CS_PIN_NONE ? ports : CS_PIN_NONE, PinEntry{});
  if (ports > 0) {
    std::vector<ICameraPort*> list(ports, nullptr);
    uint32_t filled = ports;
    if (m_engine->GetPorts(list.data(), ports, &filled) != PVL_OK) {
      for (ICameraPort* p : list) ReleaseAndClear(p);
      return false;
    }
    if (filled < ports) ports = filled;
    bool present = false;
    m_maxWidth = ReadPinSetting(u"MaximumCaptureAndPreviewWidth", 800, &present);
    m_maxHeight = present ? ReadPinSetting(u"MaximumCaptureAndPreviewHeight", 480) : 480;
    m_rawSupport = ReadPinSetting(u"StillPinRAWSupport", 0) ? 1 : 0;
    uint32_t videoPorts = 0;
    bool ok = true;
    for (uint32_t i = 0; i < ports; ++i) {
      ICameraPort* port = list[i];
      list[i] = nullptr;
      if (!ok || !port) {
        ReleaseAndClear(port);
        continue;
      }
      uint32_t count = 0;
      if (port->GetSupportedFormats(nullptr, 0, &count) != PVL_OK) count = 0;
      if (uint64_t(count) * sizeof(CS_DATARANGE_VIDEO) > std::numeric_limits<uint32_t>::max()) {
        SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        ReleaseAndClear(port);
        ok = false;
        continue;
      }
      std::vector<CameraPortFormat> formats(count);
      uint32_t got = count;
      uint32_t type = 0;
      if (count && port->GetSupportedFormats(formats.data(), count, &got) != PVL_OK) {
        SetLastError(ERROR_OUTOFMEMORY);
        ReleaseAndClear(port);
        ok = false;
        continue;
      }
      if (got < count) formats.resize(got);
      if (port->GetPortType(&type) != PVL_OK) {
        SetLastError(ERROR_FUNCTION_FAILED);
        ReleaseAndClear(port);
        ok = false;
        continue;
      }
      std::vector<CS_DATARANGE_VIDEO> ranges;
      for (const CameraPortFormat& f : formats) {
        bool sizeOk = type != ZUEUID_CAMERA_PORT_VIDEO || (f.Width <= m_maxWidth && f.Height <= m_maxHeight);
        bool fourccOk = m_rawSupport || f.FourCC != 0;
        if (!sizeOk || !fourccOk) continue;
        CS_VIDEOINFOHEADER vih;
        PortFormatToVideoInfo(f, &vih);
        ranges.emplace_back();
        VideoInfoToDataRange(vih, &ranges.back());
      }
      int pin = -1;
      CsGuid category{};
      if (type == ZUEUID_CAMERA_PORT_VIDEO) {
        if (videoPorts == 0) pin = CS_PIN_PREVIEW, category = PINNAME_VIDEO_PREVIEW;
        else if (videoPorts == 1) pin = CS_PIN_CAPTURE, category = PINNAME_VIDEO_CAPTURE;
        else NKDbgPrintfW(u"Too many video ports!\r\n");
        ++videoPorts;
      } else if (type == ZUEUID_CAMERA_PORT_MAIN_IMAGE) {
        pin = CS_PIN_STILL, category = PINNAME_VIDEO_STILL;
      } else if (type == ZUEUID_CAMERA_PORT_THUMBNAIL && m_thumbnailPinSupport) {
        pin = CS_PIN_THUMBNAIL, category = PINNAME_VIDEO_PREVIEW;
      }
      if (pin < 0 || m_pins[pin].port) {  // dropped, or a second port of a taken kind
        ReleaseAndClear(port);
        continue;
      }
      PinEntry& entry = m_pins[pin];
      entry.port = port;
      entry.category = category;
      entry.ranges = std::move(ranges);
      if (pin == CS_PIN_STILL &&
          port->QueryInterface(ZUEUID_IFACE_PROPERTIES_ALT, reinterpret_cast<void**>(&entry.portProperties)) ==
              PVL_OK &&
          entry.portProperties) {
        ApplyPortPropertyDefaults(pin);
      } else if (pin == CS_PIN_STILL) {
        entry.portProperties = nullptr;
      }
    }
    if (!ok) return false;
  }
  m_videoControlCaps.assign(m_pinCount, 0);
  for (uint32_t i = 0; i < m_pinCount && i < 3; ++i) m_videoControlCaps[i] = kDefaultVideoControlCaps[i];
  return true;
}

bool CCameraDevice::ApplyPortPropertyDefaults(uint32_t pin) {
  IProperties* props = m_pins[pin].portProperties;
  for (DevicePropertyRecord& row : m_videoCompression) {
    if (!row.supported) continue;
    CSPROPERTY_VIDEOCOMPRESSION_S client;
    CreateDSPropertyFromDefaults(row, pin, &client);
    PvlValueRecord current{};
    current.type = row.type;
    PvlResult r = props->GetProperty(row.engineId, &current);
    if (r == PVL_E_BADARG) continue;
    if (r != PVL_OK) {
      NKDbgPrintfW(u"Could not retrieve property from Camera Port: PVLID=%x, result=%d\r\n", row.engineId, r);
      return false;
    }
    PvlValueRecord value;
    r = TranslateVideoCompressionToPVL(&value, client, row);
    if (r == kTranslateUnsupported) continue;
    if (r != PVL_OK) {
      NKDbgPrintfW(u"Translation from DS to PVL property failed: PVLID=%x, result=%d\r\n", row.engineId, r);
      return false;
    }
    r = props->SetProperty(row.engineId, &value);
    if (r == PVL_E_BADARG) continue;
    if (r == PVL_E_UNSUPPORTED) {
      row.supported = 0;
      continue;
    }
    if (r != PVL_OK) {
      NKDbgPrintfW(u"Could not set property on Camera Port: PVLID=%x, result=%d\r\n", row.engineId, r);
      return false;
    }
    if (row.engineId == ZUEUID_PROPERTY_JPEG_QUALITY &&
        props->SetProperty(ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY, &value) != PVL_OK) {
      NKDbgPrintfW(u"Could not set property on Camera Port: PVLID=%x, result=%d\r\n",
                   ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY, r);
      return false;
    }
  }
  return true;
}

bool CCameraDevice::StartNotifier(NotifierThread& n, LPTHREAD_START_ROUTINE entry, bool focus) {
  n.exit = 0;
  if (m_env->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, reinterpret_cast<void**>(&n.queue)) != PVL_OK || !n.queue) {
    n.queue = nullptr;
    NKDbgPrintfW(focus ? u"Focus Thread SignalQ could not be created\r\n" : u"PreFlash SignalQ could not be created\r\n");
    return false;
  }
  if (n.queue->CreateSignal(nullptr, 0, &n.control, &n.signal) != PVL_OK) {
    NKDbgPrintfW(focus ? u"Could not create signal from Focus Thread SignalQ\r\n"
                       : u"Could not create signal from PreFlash SignalQ\r\n");
    return false;
  }
  n.thread = CreateThread(nullptr, 0, entry, this, 0, nullptr);
  if (!n.thread) {
    NKDbgPrintfW(focus ? u"Failed to create Focus Thread\r\n" : u"Failed to create PreFlash Thread\r\n");
    return false;
  }
  return true;
}

void CCameraDevice::StopNotifiers() {
  // Ask both threads, wake both (a wait on the queue, a send waiting for room), then
  // wait for both before their signal objects go.
  m_focus.exit = 1;
  m_preFlash.exit = 1;
  if (m_threadStopEvent) SetEvent(m_threadStopEvent);
  if (m_focus.control) m_focus.control->Fire();
  if (m_preFlash.control) m_preFlash.control->Fire();
  for (NotifierThread* n : {&m_focus, &m_preFlash}) {
    if (!n->thread) continue;
    if (WaitForSingleObject(n->thread, 1000) != WAIT_OBJECT_0) {
      NKDbgPrintfW(n == &m_focus ? u"Terminating focus thread!!!\r\n" : u"Terminating pre-flash thread!!!\r\n");
      TerminateThread(n->thread, ERROR_FUNCTION_FAILED);
    }
    CloseHandle(n->thread);
    n->thread = nullptr;
  }
  for (NotifierThread* n : {&m_focus, &m_preFlash}) {
    ReleaseAndClear(n->signal);
    ReleaseAndClear(n->control);
    ReleaseAndClear(n->queue);
  }
  if (m_threadStopEvent) CloseHandle(m_threadStopEvent);
  m_threadStopEvent = nullptr;
}

void CCameraDevice::Teardown() {
  // Pins still streaming end now, while the engine behind their ports exists; the
  // hidden Thumbnail pin (3) before the Preview pin whose buffers it fills.
  for (auto e = m_pins.rbegin(); e != m_pins.rend(); ++e)
    if (e->pin) e->pin->OnDeviceUnprepared();
  StopNotifiers();
  m_videoControlCaps.clear();
  const bool engineReady = m_state != CameraState::Closed;
  if (m_engine && engineReady && m_engine->Stop() != PVL_OK) NKDbgPrintfW(u"Cannot Stop Camera Engine!\r\n");
  for (PinEntry& e : m_pins) {
    ReleaseAndClear(e.port);
    ReleaseAndClear(e.portProperties);
  }
  m_pins.clear();
  m_pinCount = m_portCount = 0;
  if (m_engine && engineReady && m_engine->Uninitialize() != PVL_OK)
    NKDbgPrintfW(u"Cannot Uninitialize Camera Engine!\r\n");
  m_state = CameraState::Closed;
  ReleaseAndClear(m_engineControl);
  ReleaseAndClear(m_properties);
  ReleaseAndClear(m_engine);
  ReleaseAndClear(m_env);
  for (size_t i = 0; i < kCameraControlRows; ++i) m_cameraControl[i] = g_CameraControlPropMap[i];
  for (size_t i = 0; i < kVideoProcAmpRows; ++i) m_videoProcAmp[i] = g_VideoProcAmpPropMap[i];
  for (size_t i = 0; i < kVideoCompressionRows; ++i) m_videoCompression[i] = g_VideoCompressionPropMap[i];
  m_powerState = CS_POWER_D0;
}

BOOL CCameraDevice::UnPrepareDevice() {
  NKDbgPrintfW(u"UnPrepareDevice()\r\n");
  if (!IsPrepared()) return TRUE;
  m_state = CameraState::EngineReady;
  Teardown();
  if (VantorIsCameraLTKRunning() == 1) WriteTestModeValues(false);
  return TRUE;
}

BOOL CCameraDevice::TakeOwnership(HANDLE process) {
  if (m_owner) return FALSE;
  m_owner = process;
  return TRUE;
}

BOOL CCameraDevice::GetEngine(ICameraEngine** engine) {
  if (!engine || !m_engine) return FALSE;
  m_engine->AddRef();
  *engine = m_engine;
  return TRUE;
}

BOOL CCameraDevice::GetPort(uint32_t pin, ICameraPort** port) {
  if (!IsValidPin(pin) || !port || !m_pins[pin].port) return FALSE;
  m_pins[pin].port->AddRef();
  *port = m_pins[pin].port;
  return TRUE;
}

BOOL CCameraDevice::GetDataRange(uint32_t pin, uint32_t index, const CS_DATARANGE_VIDEO** range) {
  if (!IsValidPin(pin) || !range || index >= m_pins[pin].ranges.size()) return FALSE;
  *range = &m_pins[pin].ranges[index];
  return TRUE;
}

BOOL CCameraDevice::AddPinInstance(uint32_t pin, CPinDevice* pinObject) {
  if (!IsValidPin(pin) || m_pins[pin].instances == 1) return FALSE;
  m_pins[pin].instances++;
  m_pins[pin].pin = pinObject;
  return TRUE;
}

BOOL CCameraDevice::RemovePinInstance(uint32_t pin) {
  if (!IsValidPin(pin) || m_pins[pin].instances == 0) return FALSE;
  m_pins[pin].instances--;
  m_pins[pin].pin = nullptr;
  return TRUE;
}

BOOL CCameraDevice::GetFixedFrameRate(uint32_t* value) const {
  *value = m_fixedFrameRate;
  return TRUE;
}

CCameraDevice::NotifierParts CCameraDevice::NotifierFor(Notifier which) {
  NotifierThread& n = which == Notifier::Focus ? m_focus : m_preFlash;
  return {n.queue, n.signal, &n.exit};
}

void CCameraDevice::ClearFocusState() { SetFocusState(FocusState::Idle); }

FocusState CCameraDevice::GetFocusState() {
  EnterCriticalSection(&m_focusLock);
  FocusState s = m_focusState;
  LeaveCriticalSection(&m_focusLock);
  return s;
}

void CCameraDevice::SetFocusState(FocusState state) {
  EnterCriticalSection(&m_focusLock);
  m_focusState = state;
  LeaveCriticalSection(&m_focusLock);
}

BOOL CCameraDevice::StartVideo(uint32_t pin) {
  m_pinStopped = 0;
  if (IsSuspended()) {
    NKDbgPrintfW(u"CameraDevice suspended, cannot start video\r\n");
    return FALSE;
  }
  NKDbgPrintfW(u"Calling CameraEngine::StartVideo()\r\n");
  PvlResult r = m_engine ? m_engine->StartVideo() : PVL_E_NOTREADY;
  if (r != PVL_OK) {
    NKDbgPrintfW(u"CameraEngine::StartVideo() failed with result=%d\r\n", r);
    return FALSE;
  }
  NKDbgPrintfW(u"CameraEngine::StartVideo() succeeded\r\n");
  if (pin < m_pins.size()) m_pins[pin].running = 1;
  return TRUE;
}

BOOL CCameraDevice::StartStill() {
  if (IsSuspended()) {
    NKDbgPrintfW(u"CameraDevice suspended, cannot trigger snapshot\r\n");
    return FALSE;
  }
  if (!m_engine) return FALSE;
  // The count the advanced set stored (0 means one still); the rest stay armed.
  uint32_t count = m_stillCount ? m_stillCount : 1;
  m_stillRemaining = count - 1;
  PvlResult r;
  if (m_stopBeforeStill == 1) {
    NKDbgPrintfW(u"Calling CameraEngine::Stop()\r\n");
    if ((r = m_engine->Stop()) != PVL_OK) {
      NKDbgPrintfW(u"CameraEngine::Stop() failed with result=%d\r\n", r);
      return FALSE;
    }
    NKDbgPrintfW(u"Calling CameraEngine::Stop() succeeded\r\n");
  }
  NKDbgPrintfW(u"Calling CameraEngine::StartStill(%d)\r\n", 1);
  if ((r = m_engine->StartStill(1)) != PVL_OK) {
    NKDbgPrintfW(u"CameraEngine::StartStill(%d) failed with result=%d\r\n", 1, r);
    return FALSE;
  }
  NKDbgPrintfW(u"CameraEngine::StartStill(%d) succeeded\r\n", 1);
  for (uint32_t pin : {uint32_t(CS_PIN_STILL), uint32_t(CS_PIN_THUMBNAIL)})
    if (pin < m_pins.size()) m_pins[pin].running = 1;
  // With the hidden thumbnail pin the Still and Thumbnail threads take a frame only
  // when triggered: one trigger each for the one still the engine takes.
  if (OstrelPinGlobals().snapshotTriggerWait) {
    for (uint32_t pin : {uint32_t(CS_PIN_STILL), uint32_t(CS_PIN_THUMBNAIL)})
      if (pin < m_pins.size() && m_pins[pin].pin) m_pins[pin].pin->FireSnapshotTrigger();
  }
  return TRUE;
}

BOOL CCameraDevice::StopVideo(uint32_t pin) {
  // A stream that never started leaves the engine as it is.
  if (pin >= m_pins.size() || !m_pins[pin].running) return TRUE;
  m_pins[pin].running = 0;
  for (const PinEntry& e : m_pins)
    if (e.running) return TRUE;
  NKDbgPrintfW(u"Calling CameraEngine::Stop()\r\n");
  PvlResult r = m_engine ? m_engine->Stop() : PVL_E_NOTREADY;
  if (r != PVL_OK) {
    NKDbgPrintfW(u"CameraEngine::Stop() failed with result=%d\r\n", r);
    return FALSE;
  }
  NKDbgPrintfW(u"CameraEngine::Stop() succeeded\r\n");
  return TRUE;
}

BOOL CCameraDevice::SetPowerState(uint32_t state) {
  if (state == m_powerState) return TRUE;
  if (state == CS_POWER_D4) {
    m_powerState = CS_POWER_D4;
    // Only an open camera has an engine to suspend.
    if (m_state != CameraState::Open) return TRUE;
    NKDbgPrintfW(u"Suspending Camera Engine...\r\n");
    // Resume restarts video only when a video pin ran when the camera went down.
    bool videoRunning = false;
    for (uint32_t pin : {uint32_t(CS_PIN_CAPTURE), uint32_t(CS_PIN_PREVIEW)})
      if (pin < m_pins.size() && m_pins[pin].running) videoRunning = true;
    m_state = videoRunning ? CameraState::SuspendedWithVideo : CameraState::Suspended;
    if (!m_pinStopped && m_engine) {
      PvlResult r = m_engine->Stop();
      if (r != PVL_OK) {
        NKDbgPrintfW(u"Stopping Camera Engine failed with result=%d\r\n", r);
        return FALSE;
      }
      r = m_engineControl->Suspend();
      if (r != PVL_OK) {
        NKDbgPrintfW(u"Suspending Camera Engine failed with result=%d\r\n", r);
        return FALSE;
      }
    }
    NKDbgPrintfW(u"Suspending Camera Engine succeeded\r\n");
    return TRUE;
  }
  if (state == CS_POWER_D0) {
    m_powerState = CS_POWER_D0;
    if (!IsSuspended()) return TRUE;
    NKDbgPrintfW(u"Resuming Camera Engine...\r\n");
    if (!m_pinStopped && m_engine) {
      PvlResult r = m_engineControl->Resume();
      if (r != PVL_OK) {
        NKDbgPrintfW(u"Resuming Camera Engine failed with result=%d\r\n", r);
        return FALSE;
      }
      if (m_state == CameraState::SuspendedWithVideo && (r = m_engine->StartVideo()) != PVL_OK) {
        NKDbgPrintfW(u"StartVideo on Camera Engine failed with result=%d\r\n", r);
        return FALSE;
      }
    }
    m_state = CameraState::Open;
    NKDbgPrintfW(u"Resuming Camera Engine succeeded\r\n");
    return TRUE;
  }
  NKDbgPrintfW(u"Unsupported power state\r\n");
  return FALSE;
}

namespace {

bool SameFormatGuids(const CSDATAFORMAT& a, const CSDATAFORMAT& b) {
  return CsGuidEqual(a.MajorFormat, b.MajorFormat) && CsGuidEqual(a.SubFormat, b.SubFormat) &&
         CsGuidEqual(a.Specifier, b.Specifier);
}

bool FrameTimeFits(const CS_DATARANGE_VIDEO& offered, int64_t requested) {
  return requested == 0 ||
         (requested >= offered.ConfigCaps.MinFrameInterval && requested <= offered.ConfigCaps.MaxFrameInterval);
}

}  // namespace

BOOL CCameraDevice::MatchDataRange(uint32_t pin, const CS_DATARANGE_VIDEO& range, const CS_DATARANGE_VIDEO** match,
                                   bool detailed) const {
  if (!IsValidPin(pin)) return FALSE;
  for (const CS_DATARANGE_VIDEO& offered : m_pins[pin].ranges) {
    if (!SameFormatGuids(offered.DataRange, range.DataRange)) continue;
    if (detailed) {
      if (offered.bFixedSizeSamples != range.bFixedSizeSamples ||
          offered.bTemporalCompression != range.bTemporalCompression ||
          offered.StreamDescriptionFlags != range.StreamDescriptionFlags ||
          offered.MemoryAllocationFlags != range.MemoryAllocationFlags)
        continue;
      if (!FrameTimeFits(offered, range.VideoInfoHeader.AvgTimePerFrame)) continue;
      if (std::memcmp(&offered.VideoInfoHeader.bmiHeader, &range.VideoInfoHeader.bmiHeader,
                      sizeof(CS_BITMAPINFOHEADER)) != 0)
        continue;
    }
    if (match) *match = &offered;
    return TRUE;
  }
  return FALSE;
}

BOOL CCameraDevice::MatchDataFormat(uint32_t pin, const CS_DATAFORMAT_VIDEOINFOHEADER& format,
                                    const CS_DATARANGE_VIDEO** match, bool detailed) const {
  if (!IsValidPin(pin)) return FALSE;
  for (const CS_DATARANGE_VIDEO& offered : m_pins[pin].ranges) {
    if (!SameFormatGuids(offered.DataRange, format.DataFormat)) continue;
    if (detailed) {
      if (!FrameTimeFits(offered, format.VideoInfoHeader.AvgTimePerFrame)) continue;
      if (std::memcmp(&offered.VideoInfoHeader.bmiHeader, &format.VideoInfoHeader.bmiHeader,
                      sizeof(CS_BITMAPINFOHEADER)) != 0)
        continue;
    }
    if (match) *match = &offered;
    return TRUE;
  }
  return FALSE;
}
