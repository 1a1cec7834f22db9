// Ostrel: the stream-interface camera driver that the device manager loads and
// capture applications open. CAM_ is the camera (property sets, ownership), PIN_ the
// stream pins, CPM_ the power manager's view. Opening the camera starts the
// framework host by name and prepares the camera engine through it; closing
// undoes both, so an idle camera holds no engine.
#include "ostrel.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "ccameradevice.h"
#include "cpindevice.h"
#include "csprotocol.h"
#include "ienv.h"
#include "plindor.h"
#include "propertysets.h"
#include "sensorprobe.h"

namespace {

// Kernel codes of the camera's registration and open state.
constexpr DWORD kOemRegister = 0x01012EFC;
constexpr DWORD kOemUnregister = 0x01012F00;
constexpr DWORD kOemCameraOpened = 0x01012EF8;
constexpr DWORD kOemCameraClosed = 0x01012EF4;

struct KernelRegistration {
  uintptr_t name;  // char*
  uint8_t flag;
  uint8_t pad[3];
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(KernelRegistration) == 8);
#endif

struct OpenContext {
  CCameraDevice* device;
};
struct PinInitRecord {
  CCameraDevice* device;
};

// Module state; written under the camera device's lock by open and close, and by
// the pin requests.
IEnv* s_piEnv = nullptr;
HMODULE s_hostLibrary = nullptr;
ICameraEngine* s_preloadedEngine = nullptr;
OpenContext* s_openCamera = nullptr;
DWORD s_devicePowerState = CS_POWER_D0;
uint8_t s_thumbnailPinFlag = 0;
// The hidden thumbnail pin and the Preview pin handle whose instantiation made it:
// only that handle's close ends it.
CPinDevice* s_thumbnailPin = nullptr;
CPinDevice* s_thumbnailParent = nullptr;
char s_driverName[] = "CameraDriver";

DBGPARAM s_zones = {u"KORCAMERA", {u"Error", u"Warning", u"Init", u"Function"}, 0x3};

void NotifyKernel(DWORD code, uint32_t cookie) { KernelIoControl(code, &cookie, sizeof cookie, nullptr, 0, nullptr); }

void ReadDebugZones() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"DebugZones", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    NKDbgPrintfW(u"RegOpenKeyEx(\"DebugZones\") failed.\r\n");
  } else {
    DWORD mask = 0, type = 0, size = sizeof mask;
    if (RegQueryValueExW(key, s_zones.lpszName, nullptr, &type, reinterpret_cast<LPBYTE>(&mask), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof mask)
      s_zones.ulZoneMask = mask;
    else
      NKDbgPrintfW(u"RegQueryValueEx(\"%s\") failed.\r\n", s_zones.lpszName);
    RegCloseKey(key);
  }
  NKDbgPrintfW(u"dpCurSettings.ulZoneMask=%u\r\n", s_zones.ulZoneMask);
}

int32_t HostStop();

// Starts the host by name and keeps its environment (the one reference the start
// hands out is the driver's). 0, or the failure (the host is stopped again).
int32_t HostStart() {
  NKDbgPrintfW(u"Registering Orbhost...\n");
  s_hostLibrary = LoadLibraryW(u"Orbhost.dll");
  if (!s_hostLibrary) {
    NKDbgPrintfW(u"LoadLibraryW failed: %d\r\n", GetLastError());
    return ERROR_INVALID_HANDLE;
  }
  NKDbgPrintfW(u"Getting Orbhost_Start()...\r\n");
  auto start = reinterpret_cast<PvlOrbhostStartFn>(reinterpret_cast<void*>(GetProcAddressW(s_hostLibrary, u"Orbhost_Start")));
  if (!start) {
    NKDbgPrintfW(u"Could not retrieve address of Orbhost_Start() 0x%x\r\n", 0);
    FreeLibrary(s_hostLibrary);
    s_hostLibrary = nullptr;
    return 1;
  }
  NKDbgPrintfW(u"Retrieved address of Orbhost_Start() 0x%x\r\n", start);
  NKDbgPrintfW(u"Retrieving environment pointer...\r\n");
  IEnv* env = nullptr;
  int32_t r = start("\\device.cs", 0, &env);
  if (r != 0 || !env) {
    NKDbgPrintfW(u"Orbhost_Start() failed: %d\r\n", r);
    if (env) env->Release();
    if (r == 0) {  // a start that gave no environment still counts as a start
      auto stop = reinterpret_cast<PvlOrbhostStopFn>(reinterpret_cast<void*>(GetProcAddressW(s_hostLibrary, u"Orbhost_Stop")));
      if (stop) stop();
      r = 1;
    }
    FreeLibrary(s_hostLibrary);
    s_hostLibrary = nullptr;
    return r;
  }
  s_piEnv = env;
  NKDbgPrintfW(u"Orbhost_Start() succeeded: %d; s_piEnv=0x%x\r\n", r, s_piEnv);
  if (ReadPinSetting(u"PreloadEngine", 0)) {
    r = s_piEnv->CreateInstance(ZUEUID_CLASS_CAMERAENGINE, reinterpret_cast<void**>(&s_preloadedEngine));
    if (r != 0) {
      s_preloadedEngine = nullptr;
      NKDbgPrintfW(u"Creating Camera Engine failed with result=%d\r\n", r);
      HostStop();
      return r;
    }
  }
  return 0;
}

int32_t HostStop() {
  NKDbgPrintfW(u"Getting Orbhost_Stop()...\r\n");
  if (!s_hostLibrary) return 1;
  auto stop = reinterpret_cast<PvlOrbhostStopFn>(reinterpret_cast<void*>(GetProcAddressW(s_hostLibrary, u"Orbhost_Stop")));
  if (!stop) {
    NKDbgPrintfW(u"Could not retrieve address of Orbhost_Stop() 0x%x\r\n", 0);
    return 1;
  }
  NKDbgPrintfW(u"Retrieved address of Orbhost_Stop() 0x%x\r\n", stop);
  if (s_preloadedEngine) s_preloadedEngine->Release();
  s_preloadedEngine = nullptr;
  if (s_piEnv) {
    s_piEnv->Release();
    stop();
    s_piEnv = nullptr;
  }
  FreeLibrary(s_hostLibrary);
  s_hostLibrary = nullptr;
  return 0;
}

// The device lock for a scope.
class DeviceLock {
 public:
  explicit DeviceLock(CCameraDevice* d) : device_(d) { device_->LockForRequest(); }
  ~DeviceLock() { device_->UnlockForRequest(); }
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  CCameraDevice* device_;
};

// Maps a non-null caller pointer; a null one stays null.
bool MapOptional(void*& p, DWORD length) {
  if (!p) return true;
  p = MapCallerPtr(p, length);
  return p != nullptr;
}

// ---- The hidden thumbnail pin ----------------------------------------------------------------
//
// With "ThumbnailPinSupport" the Preview pin brings a second, driver-owned pin on the
// engine's thumbnail port: during a still it delivers the still's review image into a
// Preview buffer on the Preview pin's queue. It follows the Preview pin's format and
// buffers and runs with the Still pin, so the requests of those two pins are repeated
// on it (under the same device lock).

// Private copies of the client's out buffer and bytes-returned word for a repeated
// request: the client's own buffers carry only the answer of the pin it asked.
class MirrorAnswer {
 public:
  // 0, or 14 when the copy cannot be made; no out buffer (length 0) needs no copy.
  DWORD Make(const void* out, DWORD outLength, const DWORD* returned) {
    if (out && outLength) {
      out_.reset(new (std::nothrow) uint8_t[outLength]());
      if (!out_) return ERROR_OUTOFMEMORY;
      length_ = outLength;
      CeSafeCopyMemory(out_.get(), out, outLength);
    }
    if (returned) CeSafeCopyMemory(&returned_, returned, sizeof returned_);
    return ERROR_SUCCESS;
  }
  void* Out() const { return out_.get(); }
  DWORD Length() const { return length_; }
  DWORD* Returned() { return &returned_; }

 private:
  std::unique_ptr<uint8_t[]> out_;
  DWORD length_ = 0;
  DWORD returned_ = 0;
};

// Ends the hidden pin (its capture thread first) and forgets it; device lock held.
void DestroyThumbnailPin() {
  CPinDevice* thumbnail = s_thumbnailPin;
  s_thumbnailPin = nullptr;
  s_thumbnailParent = nullptr;
  if (!thumbnail) return;
  thumbnail->Close();
  delete thumbnail;
}

// Makes the hidden pin for a Preview pin: it fills the Preview pin's buffer table.
BOOL CreateThumbnailPinDevice(CPinDevice* preview) {
  auto* pin = new (std::nothrow) CPinDevice;
  if (!pin) {
    SetLastError(ERROR_OUTOFMEMORY);
    return FALSE;
  }
  if (!pin->InitializeSubDevice(preview->Device())) {
    DWORD error = GetLastError();
    delete pin;
    SetLastError(error);
    return FALSE;
  }
  pin->ShareBufferTable(preview);
  s_thumbnailPin = pin;
  s_thumbnailParent = preview;
  return TRUE;
}

// The Preview pin was instantiated: the hidden pin is instantiated with the same
// request as pin 3. On any failure neither stays: the Preview handle is left as after
// a failed instantiation.
DWORD InstantiateThumbnail(CPinDevice* preview, DWORD_PTR context, const CSPROPERTY_STREAMEX_S& request, const void* out,
                           DWORD outLength, const DWORD* returned) {
  // A hidden pin left from a Preview pin that lost its stream with the camera.
  DestroyThumbnailPin();
  if (!CreateThumbnailPinDevice(preview)) {
    NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: CreateThumbnailPinDevice failed", context);
    preview->Close();
    return ERROR_FUNCTION_FAILED;
  }
  CSPROPERTY_STREAMEX_S thumbnail = request;
  thumbnail.PinId = CS_PIN_THUMBNAIL;
  MirrorAnswer answer;
  DWORD result = answer.Make(out, outLength, returned);
  if (result == ERROR_SUCCESS)
    result = s_thumbnailPin->StreamInstantiate(thumbnail, answer.Out(), answer.Length(), answer.Returned());
  if (result != ERROR_SUCCESS) {
    DestroyThumbnailPin();
    preview->Close();
  }
  return result;
}

// Repeats a request that succeeded on `pin` on the hidden pin; its result replaces
// the client's. The Still pin's stream states (the thumbnail runs with the still);
// the Preview pin's other connection requests, EXIF and JPEG requests, its buffer
// pool after each allocation or deallocation, and its buffer table when it pauses.
DWORD MirrorToThumbnail(CPinDevice* pin, DWORD_PTR context, DWORD code, const void* in, DWORD inLength, const void* out,
                        DWORD outLength, const DWORD* returned) {
  const uint32_t id = pin->PinId();
  // A handle without a stream of its own (its instantiation failed) leads nothing.
  const bool leads = id == CS_PIN_STILL ? pin->OwnsStream() : id == CS_PIN_PREVIEW && pin == s_thumbnailParent;
  CPinDevice* thumbnail = s_thumbnailPin;
  if (!thumbnail || !leads) return ERROR_SUCCESS;
  if (code == IOCTL_CS_PROPERTY) {
    NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: IOCTL_CS_PROPERTY\r\n", context);
    CSPROPERTY header;
    if (!in || inLength < sizeof header || !CeSafeCopyMemory(&header, in, sizeof header)) {
      NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Invalid input buffer\r\n", context);
      return ERROR_INVALID_PARAMETER;
    }
    const bool connection = CsGuidEqual(header.Set, CSPROPSETID_Connection);
    const bool state = connection && header.Id == CSPROPERTY_CONNECTION_STATE;
    DWORD result = ERROR_SUCCESS;
    MirrorAnswer answer;
    if (id == CS_PIN_STILL) {
      if (state && (result = answer.Make(out, outLength, returned)) == ERROR_SUCCESS)
        result = thumbnail->HandleConnectionRequest(in, inLength, answer.Out(), answer.Length(), answer.Returned());
    } else if (state) {
      // The Preview pin's own states are not repeated; pausing makes its buffer table.
      uint32_t to = 0;
      if (header.Flags == CSPROPERTY_TYPE_SET) {
        if (!out || outLength < sizeof to || !CeSafeCopyMemory(&to, out, sizeof to))
          result = ERROR_INVALID_PARAMETER;
        else if (to == CSSTATE_PAUSE)
          thumbnail->ShareBufferTable(pin);
      }
    } else if (connection || CsGuidEqual(header.Set, VANTOR_PROPSETID_EXIF) ||
               CsGuidEqual(header.Set, VANTOR_PROPSETID_JPEG)) {
      result = answer.Make(out, outLength, returned);
      if (result == ERROR_SUCCESS) {
        void* copy = answer.Out();
        const DWORD length = answer.Length();
        if (connection)
          result = thumbnail->HandleConnectionRequest(in, inLength, copy, length, answer.Returned());
        else if (CsGuidEqual(header.Set, VANTOR_PROPSETID_EXIF))
          result = thumbnail->HandleExifRequest(in, inLength, copy, length, answer.Returned());
        else
          result = thumbnail->HandleJpegRequest(in, inLength, copy, length, answer.Returned());
      }
    } else {
      NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Unsupported PropertySet Request: %x\r\n", context,
                   header.Set.Data1);
      result = ERROR_NOT_SUPPORTED;
    }
    NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: IOCTL_CS_PROPERTY complete; result=0x%08x\r\n", context, result);
    return result;
  }
  if (id == CS_PIN_STILL || code == IOCTL_STREAM_INSTANTIATE) return ERROR_SUCCESS;
  if (code == IOCTL_CS_BUFFERS) {
    // The request passed the buffer checks on the Preview pin; an allocation or a
    // deallocation may have made or dropped the pool, or found the client's memory
    // not contiguous: the hidden pin takes the same.
    uint32_t command = 0;
    if (CeSafeCopyMemory(&command, in, sizeof command) && (command == CS_ALLOCATE || command == CS_DEALLOCATE))
      thumbnail->ReceiveBuffersOf(*pin);
    return ERROR_SUCCESS;
  }
  NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Unsupported IOCTL code: %u\r\n", context, code);
  return ERROR_NOT_SUPPORTED;
}

}  // namespace

CCameraDevice* OstrelOpenCameraDevice() { return s_openCamera ? s_openCamera->device : nullptr; }
DWORD OstrelDevicePowerState() { return s_devicePowerState; }
void OstrelSetDevicePowerState(DWORD state) { s_devicePowerState = state; }

// The loader calls every library's entry as (HANDLE, DWORD, LPVOID): the same type here.
OSTREL_EXPORT BOOL DllMain(HANDLE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    NKDbgPrintfW(u"DLL_PROCESS_ATTACH - Current Process: 0x%x, ID: 0x%x\r\n", GetCurrentProcess(),
                 GetCurrentProcessId());
    DisableThreadLibraryCalls(reinterpret_cast<HMODULE>(module));
  } else if (reason == DLL_PROCESS_DETACH) {
    NKDbgPrintfW(u"DLL_PROCESS_DETACH - Current Process: 0x%x, ID: 0x%x\r\n", GetCurrentProcess(),
                 GetCurrentProcessId());
  }
  return TRUE;
}

// ---- CAM_ ---------------------------------------------------------------------------------

OSTREL_EXPORT DWORD_PTR CAM_Init(LPCWSTR activeKey, LPCVOID) {
  NKDbgPrintfW(u"CAM_Init(): pContext=%s\r\n", activeKey ? activeKey : u"<null>");
  DiagMessageSend("cameradriver", __LINE__, 4, "CAM_Init()", 0);
  DWORD error = ERROR_SUCCESS;
  CCameraDevice* device = nullptr;
  if (!activeKey) {
    error = ERROR_INVALID_PARAMETER;
  } else if (CeGetCallerTrust() != OEM_CERTIFY_TRUST) {
    error = ERROR_ACCESS_DENIED;
  } else {
    device = new (std::nothrow) CCameraDevice;
    if (!device) {
      NKDbgPrintfW(u"CAM_Init(): Not enough memory to create camera device!\r\n");
      error = ERROR_OUTOFMEMORY;
    } else if (!device->Initialize(activeKey)) {
      NKDbgPrintfW(u"CAM_Init(): Camera device initialization failed!\r\n");
      error = ERROR_INVALID_HANDLE;
      delete device;
      device = nullptr;
    } else {
      KernelRegistration reg{};
      reg.name = reinterpret_cast<uintptr_t>(MapPtrToProcess(s_driverName, GetCurrentProcess()));
      reg.flag = 1;
      uint32_t cookie = 0;
      if (KernelIoControl(kOemRegister, &reg, sizeof reg, &cookie, sizeof cookie, nullptr)) device->m_cookie = cookie;
    }
  }
  if (!VantorInitBufferManager()) NKDbgPrintfW(u"Buffer management init failed!!!!!!!!!\r\n");
  if (!DetectMainSensor()) {
    NKDbgPrintfW(u"No any camera exists\r\n");
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Camera", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      DWORD none = 0;
      RegSetValueExW(key, u"SensorType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&none), sizeof none);
      RegCloseKey(key);
    }
    error = ERROR_NOT_READY;
  }
  NKDbgPrintfW(u"CAM_Init(): Returning pCameraDevice=0x%08x\r\n", device);
  if (error != ERROR_SUCCESS) SetLastError(error);
  return reinterpret_cast<DWORD_PTR>(device);
}

OSTREL_EXPORT BOOL CAM_Deinit(DWORD_PTR context) {
  NKDbgPrintfW(u"CAM_Deinit(): pContext=0x%08x\r\n", context);
  auto* device = reinterpret_cast<CCameraDevice*>(uintptr_t(context));
  NKDbgPrintfW(u"CAM_Deinit(): deleting pCameraDevice=0x%08x\r\n", device);
  if (device) {
    NotifyKernel(kOemUnregister, device->m_cookie);
    // A client still holding the camera loses it with the device.
    if (s_openCamera && s_openCamera->device == device) {
      {
        DeviceLock lock(device);
        device->ReleaseOwnership();
        device->UnPrepareDevice();
        s_devicePowerState = CS_POWER_D0;
        HostStop();
      }
      delete s_openCamera;
      s_openCamera = nullptr;
    }
    delete device;
  }
  return TRUE;
}

OSTREL_EXPORT DWORD_PTR CAM_Open(DWORD_PTR context, DWORD access, DWORD share) {
  ReadDebugZones();
  NKDbgPrintfW(u"CAM_Open(): Opening the camera driver. Context=0x%08x, Access=0x%x, ShareMode=0x%x)\r\n", context,
               access, share);
  auto* device = reinterpret_cast<CCameraDevice*>(uintptr_t(context));
  DWORD error = ERROR_OPEN_FAILED;
  OpenContext* open = nullptr;
  if (!device) {
    error = ERROR_INVALID_PARAMETER;
  } else {
    DeviceLock lock(device);
    // One owner at a time: a refused open must not touch the owner's host or engine.
    if (device->IsOwned() || s_piEnv) {
      error = ERROR_ALREADY_INITIALIZED;
    } else if (HostStart() != 0) {
      NKDbgPrintfW(u"CAM_Open(): CS Driver initialization failed!\r\n");
      error = ERROR_FUNCTION_FAILED;
    } else {
      NotifyKernel(kOemCameraOpened, device->m_cookie);
      if (!device->PrepareDevice(s_piEnv)) {
        NotifyKernel(kOemCameraClosed, device->m_cookie);
        HostStop();
      } else if (!(open = new (std::nothrow) OpenContext{device})) {
        device->UnPrepareDevice();
        NotifyKernel(kOemCameraClosed, device->m_cookie);
        HostStop();
        error = ERROR_OUTOFMEMORY;
      } else {
        device->TakeOwnership(GetCallerProcess());
        s_openCamera = open;
        error = ERROR_SUCCESS;
      }
    }
  }
  if (error != ERROR_SUCCESS) SetLastError(error);
  return reinterpret_cast<DWORD_PTR>(open);
}

OSTREL_EXPORT BOOL CAM_Close(DWORD_PTR context) {
  NKDbgPrintfW(u"CAM_Close(): Closing the camera driver. Context=0x%08x\r\n", context);
  auto* open = reinterpret_cast<OpenContext*>(uintptr_t(context));
  if (!open) {
    NKDbgPrintfW(u"CAM_Close(): Error in closing the camera driver\r\n");
    return FALSE;
  }
  if (IsBadReadPtr(open, sizeof *open) || open != s_openCamera) {
    NKDbgPrintfW(u"CAM_Close(): Bad pointer. Context=0x%08x\r\n", context);
    return FALSE;
  }
  CCameraDevice* device = open->device;
  {
    DeviceLock lock(device);
    device->ReleaseOwnership();
    device->UnPrepareDevice();
    // The next open starts the camera at D0: the state the power manager reads says so.
    s_devicePowerState = CS_POWER_D0;
    HostStop();
    s_openCamera = nullptr;
  }
  NotifyKernel(kOemCameraClosed, device->m_cookie);
  delete open;
  NKDbgPrintfW(u"CAM_Close(): Done closing the camera driver\r\n");
  return TRUE;
}

OSTREL_EXPORT BOOL CAM_IOControl(DWORD_PTR context, DWORD code, PBYTE inBytes, DWORD inLength, PBYTE outBytes, DWORD outLength,
                                 LPDWORD returned) {
  LPVOID in = inBytes;
  LPVOID out = outBytes;
  auto* open = reinterpret_cast<OpenContext*>(uintptr_t(context));
  if (!open) {
    NKDbgPrintfW(u"CAM_IOControl(): Context is NULL.\r\n");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  CCameraDevice* device = open->device;
  if (!device) {
    NKDbgPrintfW(u"CAM_IOControl(): CameraDevice is NULL.\r\n");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!MapOptional(in, inLength)) {
    NKDbgPrintfW(u"CAM_IOControl(0x%08x): MapCallerPtr() failed for incoming buffer.\r\n", context);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!MapOptional(out, outLength)) {
    NKDbgPrintfW(u"CAM_IOControl(0x%08x): MapCallerPtr() failed for outgoing buffer.\r\n", context);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LPDWORD mappedReturned = returned ? static_cast<LPDWORD>(MapCallerPtr(returned, sizeof(DWORD))) : nullptr;
  if (!mappedReturned) {
    NKDbgPrintfW(u"CAM_IOControl(0x%08x): MapCallerPtr() failed for dwBytesTransferred.\r\n", context);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD result = ERROR_INVALID_PARAMETER;
  {
    DeviceLock lock(device);
    if (code == IOCTL_CS_PROPERTY) {
      if (!in || inLength < sizeof(CSPROPERTY)) {
        NKDbgPrintfW(u"CAM_IOControl(): Context=0x%08x: Invalid input buffer\r\n", context);
      } else {
        try {
          result = AdapterDispatchPropertyRequest(device, in, inLength, out, outLength, mappedReturned);
        } catch (...) {
          NKDbgPrintfW(u"CAM_IOControl(): Context=0x%08x: Exception in IOCTL_CS_PROPERTY\r\n", context);
          result = ERROR_FUNCTION_FAILED;
        }
        if (result != ERROR_SUCCESS)
          NKDbgPrintfW(u"CAM_IOControl(0x%08x): IOCTL_CS_PROPERTY failed; result=0x%08x\r\n", context, result);
      }
    } else {
      NKDbgPrintfW(u"CAM_IOControl(): Context=0x%08x: Unsupported IOCTL code: %u\r\n", context, code);
      result = ERROR_NOT_SUPPORTED;
    }
  }
  SetLastError(result);
  return result == ERROR_SUCCESS;
}

// ---- PIN_ ---------------------------------------------------------------------------------

OSTREL_EXPORT DWORD_PTR PIN_Init(LPCWSTR activeKey, LPCVOID busContext) {
  NKDbgPrintfW(u"PIN_Init(\"%s\")\r\n", activeKey ? activeKey : u"<null>");
  if (CeGetCallerTrust() != OEM_CERTIFY_TRUST) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  auto* record = new (std::nothrow) PinInitRecord{static_cast<CCameraDevice*>(const_cast<void*>(busContext))};
  if (!record) {
    NKDbgPrintfW(u"PIN_Init(): Not enough memory to create pin device!\r\n");
    SetLastError(ERROR_OUTOFMEMORY);
    return 0;
  }
  if (!record->device) {
    NKDbgPrintfW(u"PIN_Init: Invalid camera device handle!");
    delete record;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  NKDbgPrintfW(u"PIN_Init(): Returning pPinInitDev=0x%08x\r\n", record);
  return reinterpret_cast<DWORD_PTR>(record);
}

OSTREL_EXPORT BOOL PIN_Deinit(DWORD_PTR context) {
  NKDbgPrintfW(u"PIN_Deinit(0x%08x)\r\n", context);
  delete reinterpret_cast<PinInitRecord*>(uintptr_t(context));
  return TRUE;
}

OSTREL_EXPORT DWORD_PTR PIN_Open(DWORD_PTR context, DWORD access, DWORD share) {
  NKDbgPrintfW(u"PIN_Open(0x%08x): Access=0x%08x, ShareMode=0x%08x\r\n", context, access, share);
  auto* record = reinterpret_cast<PinInitRecord*>(uintptr_t(context));
  if (!record) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // The camera's streams are its owner's: a process refused the camera gets none of its pins.
  {
    DeviceLock lock(record->device);
    if (!record->device->MayUsePins(GetCallerProcess())) {
      NKDbgPrintfW(u"PIN_Open(): Context=0x%08x: the camera belongs to another process\r\n", context);
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
  }
  s_thumbnailPinFlag = record->device->IsThumbnailPinSupported() ? 1 : 0;
  OstrelPinGlobals().snapshotTriggerWait = s_thumbnailPinFlag;
  auto* pin = new (std::nothrow) CPinDevice;
  if (!pin) {
    NKDbgPrintfW(u"PIN_Open(): Context=0x%08x: Not enough memory for pin device\r\n", context);
    SetLastError(ERROR_OUTOFMEMORY);
    return 0;
  }
  if (!pin->InitializeSubDevice(record->device)) {
    DWORD error = GetLastError();
    NKDbgPrintfW(u"PIN_Open(): Context=0x%08x: InitializeSubDevice() Failed", context);
    delete pin;
    SetLastError(error);
    return 0;
  }
  return reinterpret_cast<DWORD_PTR>(pin);
}

OSTREL_EXPORT BOOL PIN_Close(DWORD_PTR context) {
  NKDbgPrintfW(u"PIN_Close(0x%08x)\r\n", context);
  auto* pin = reinterpret_cast<CPinDevice*>(uintptr_t(context));
  if (!pin) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    DeviceLock lock(pin->Device());
    // The hidden pin ends first (its capture thread fills this pin's buffers), and
    // only with the handle that made it: a handle whose instantiation failed owns none.
    if (pin == s_thumbnailParent) DestroyThumbnailPin();
    pin->Close();
  }
  delete pin;
  return TRUE;
}

OSTREL_EXPORT BOOL PIN_IOControl(DWORD_PTR context, DWORD code, PBYTE inBytes, DWORD inLength, PBYTE outBytes, DWORD outLength,
                                 LPDWORD returned) {
  LPVOID in = inBytes;
  LPVOID out = outBytes;
  auto* pin = reinterpret_cast<CPinDevice*>(uintptr_t(context));
  if (!pin) {
    NKDbgPrintfW(u"PIN_IOControl(): Context is NULL.\r\n");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!MapOptional(in, inLength)) {
    NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: MapCallerPtr() failed for incoming buffer.\r\n", context);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!MapOptional(out, outLength)) {
    NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: MapCallerPtr() failed for outgoing buffer.\r\n", context);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LPDWORD mappedReturned = returned ? static_cast<LPDWORD>(MapCallerPtr(returned, sizeof(DWORD))) : nullptr;
  if (returned && !mappedReturned) {
    NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: MapCallerPtr() failed for dwBytesTransferred.\r\n", context);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD result = ERROR_INVALID_PARAMETER;
  {
    DeviceLock lock(pin->Device());
    try {
      if (code == IOCTL_CS_PROPERTY) {
        CSPROPERTY header;
        if (!in || inLength < sizeof header || !CeSafeCopyMemory(&header, in, sizeof header)) {
          NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Invalid input buffer\r\n", context);
        } else if (CsGuidEqual(header.Set, CSPROPSETID_Connection)) {
          result = pin->HandleConnectionRequest(in, inLength, out, outLength, mappedReturned);
        } else if (CsGuidEqual(header.Set, VANTOR_PROPSETID_EXIF)) {
          result = pin->HandleExifRequest(in, inLength, out, outLength, mappedReturned);
        } else if (CsGuidEqual(header.Set, VANTOR_PROPSETID_JPEG)) {
          result = pin->HandleJpegRequest(in, inLength, out, outLength, mappedReturned);
        } else {
          NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Unsupported PropertySet Request: %x\r\n", context,
                       header.Set.Data1);
          result = ERROR_NOT_SUPPORTED;
        }
      } else if (code == IOCTL_STREAM_INSTANTIATE) {
        CSPROPERTY_STREAMEX_S request;
        if (!in || inLength < sizeof request || !mappedReturned || !CeSafeCopyMemory(&request, in, sizeof request)) {
          NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Invalid parameter for IOCTL_STREAM_INSTANTIATE\r\n",
                       context);
        } else if (!CsGuidEqual(request.CsPin.Set, CSPROPSETID_StreamEx)) {
          NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Unsupported PropertySet Request: %u\r\n", context,
                       request.CsPin.Set.Data1);
          result = ERROR_NOT_SUPPORTED;
        } else if (request.CsPin.Id != 0) {
          NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Invalid Request\r\n", context);
        } else {
          result = pin->StreamInstantiate(request, out, outLength, mappedReturned);
          if (result == ERROR_SUCCESS && s_thumbnailPinFlag && pin->PinId() == CS_PIN_PREVIEW)
            result = InstantiateThumbnail(pin, context, request, out, outLength, mappedReturned);
        }
      } else if (code == IOCTL_CS_BUFFERS) {
        uint32_t command = 0;
        if (!out || !in || !mappedReturned || inLength < sizeof command ||
            outLength < sizeof(CS_STREAM_DESCRIPTOR) || !CeSafeCopyMemory(&command, in, sizeof command)) {
          if (mappedReturned) *mappedReturned = sizeof(CS_STREAM_DESCRIPTOR);
          NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Invalid parameter for IOCTL_CS_BUFFERS\r\n", context);
        } else {
          result = pin->HandleBufferRequest(command, out, outLength);
        }
      } else {
        NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Unsupported IOCTL code: %u\r\n", context, code);
        result = ERROR_NOT_SUPPORTED;
      }
      if (result == ERROR_SUCCESS && s_thumbnailPinFlag)
        result = MirrorToThumbnail(pin, context, code, in, inLength, out, outLength, mappedReturned);
    } catch (...) {
      NKDbgPrintfW(u"PIN_IOControl(): Context=0x%08x: Exception in IOCTL_CS_PROPERTY", context);
      result = ERROR_FUNCTION_FAILED;
    }
  }
  SetLastError(result);
  return result == ERROR_SUCCESS;
}
