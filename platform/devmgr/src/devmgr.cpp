// The device manager stand-in: stream-interface drivers from registry keys,
// their active keys, and the routing of client file calls to their entry
// points.
#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devmgr.h"

#include "wince_sim.h"

namespace {

// A driver's contexts are pointers of its own: pointer-wide, so that a 64-bit build keeps them.
typedef DWORD_PTR (*InitFn)(LPCWSTR activeKey, LPCVOID busContext);
typedef BOOL (*DeinitFn)(DWORD_PTR context);
typedef DWORD_PTR (*OpenFn)(DWORD_PTR context, DWORD access, DWORD share);
typedef BOOL (*CloseFn)(DWORD_PTR openContext);
typedef BOOL (*IoControlFn)(DWORD_PTR openContext, DWORD code, PBYTE in, DWORD inLen, PBYTE out, DWORD outLen,
                            PDWORD returned);
typedef DWORD (*ReadFn)(DWORD_PTR openContext, LPVOID buffer, DWORD length);
typedef DWORD (*WriteFn)(DWORD_PTR openContext, LPCVOID buffer, DWORD length);
typedef void (*PreDeinitFn)(DWORD_PTR context);

constexpr uintptr_t kHandleBase = 0x44000000;
const HANDLE kPowerManagerProcess = reinterpret_cast<HANDLE>(uintptr_t(0x50000042));

struct Device {
  DWORD id = 0;
  std::u16string key;
  std::u16string prefix;
  std::u16string name;        // "CAM1:", empty without a prefix
  std::u16string activePath;  // "Drivers\Active\NN"
  HMODULE module = nullptr;
  InitFn init = nullptr;
  DeinitFn deinit = nullptr;
  PreDeinitFn preDeinit = nullptr;
  OpenFn open = nullptr;
  CloseFn close = nullptr;
  IoControlFn ioctl = nullptr;
  ReadFn read = nullptr;
  WriteFn write = nullptr;
  DWORD_PTR context = 0;
  bool named = false;
  // Client calls running in the driver; Deinit waits for them to leave.
  std::mutex callLock;
  std::condition_variable idle;
  int calls = 0;
  bool closing = false;
};

// The devices whose entry points the current thread is inside (a driver call
// may deactivate a device, even its own, without waiting for itself).
thread_local std::vector<const Device*> tInside;

// One client call into a driver: refused once the device is being
// deactivated, so that no call starts after its Deinit.
class CallGuard {
 public:
  explicit CallGuard(Device& d) : d_(d) {
    std::lock_guard<std::mutex> g(d.callLock);
    entered_ = !d.closing;
    if (entered_) {
      ++d.calls;
      tInside.push_back(&d);
    }
  }
  ~CallGuard() {
    if (!entered_) return;
    tInside.erase(std::find(tInside.begin(), tInside.end(), &d_));
    std::lock_guard<std::mutex> g(d_.callLock);
    if (--d_.calls == 0 || d_.closing) d_.idle.notify_all();
  }
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  Device& d_;
  bool entered_;
};

// Stops new calls and waits until only the current thread's own are left.
void DrainCalls(Device& d) {
  const int own = int(std::count(tInside.begin(), tInside.end(), &d));
  std::unique_lock<std::mutex> g(d.callLock);
  d.closing = true;
  d.idle.wait(g, [&] { return d.calls <= own; });
}

struct OpenHandle {
  std::shared_ptr<Device> device;
  DWORD_PTR context;
};

struct Manager {
  std::mutex lock;  // guards the tables only; never held while a driver runs
  std::map<DWORD, std::shared_ptr<Device>> devices;
  DWORD nextId = 1;
  DWORD nextActive = 1;
};

Manager& M() {
  static Manager* m = new Manager;
  return *m;
}

std::shared_ptr<Device> Lookup(HANDLE h) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  if (v <= kHandleBase) return nullptr;
  std::lock_guard<std::mutex> g(M().lock);
  auto it = M().devices.find(DWORD(v - kHandleBase));
  return it == M().devices.end() ? nullptr : it->second;
}

HANDLE HandleOf(const Device& d) { return reinterpret_cast<HANDLE>(kHandleBase + d.id); }

bool QueryString(HKEY key, const WCHAR* name, std::u16string& out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return false;
  std::vector<WCHAR> buf(size / 2 + 1, 0);
  size = DWORD(buf.size() * 2);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf.data()), &size) != ERROR_SUCCESS)
    return false;
  out.assign(buf.data());
  return true;
}

bool QueryDword(HKEY key, const WCHAR* name, DWORD& out) {
  DWORD type = 0, size = sizeof(DWORD), v = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&v), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(DWORD))
    return false;
  out = v;
  return true;
}

template <typename T>
T Entry(HMODULE module, const std::u16string& prefix, const char16_t* name) {
  std::u16string full = prefix.empty() ? std::u16string(name) : prefix + u"_" + name;
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddressW(module, full.c_str())));
}

bool NameTaken(const std::u16string& name) {
  for (auto& [id, d] : M().devices)
    if (d->named && _wcsicmp(d->name.c_str(), name.c_str()) == 0) return true;
  return false;
}

// ---- Client side: the device's operations under its name --------------------------

void* DevOpen(void* devCtx, DWORD access, DWORD share) {
  // The device is named by its id: a name found just before the device went
  // away must not reach freed memory.
  std::shared_ptr<Device> d = Lookup(reinterpret_cast<HANDLE>(kHandleBase + reinterpret_cast<uintptr_t>(devCtx)));
  if (!d) {
    SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
    return nullptr;
  }
  if (!d->open) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  CallGuard call(*d);
  if (!call) {
    SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  DWORD_PTR ctx = d->open(d->context, access, share);
  if (ctx == 0) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_OPEN_FAILED);
    return nullptr;
  }
  return new OpenHandle{d, ctx};
}

BOOL DevClose(void* openCtx) {
  std::unique_ptr<OpenHandle> h(static_cast<OpenHandle*>(openCtx));
  if (!h->device->close) return TRUE;
  // A device deactivated meanwhile has no driver left to tell.
  CallGuard call(*h->device);
  if (!call) return TRUE;
  return h->device->close(h->context);
}

// Runs one client call in the driver: `failed` when the driver lacks the
// entry point or the device is being deactivated.
template <typename Fn, typename Result, typename... Args>
Result CallDriver(void* openCtx, Fn Device::*entry, Result failed, Args... args) {
  auto* h = static_cast<OpenHandle*>(openCtx);
  Fn fn = (*h->device).*entry;
  if (!fn) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return failed;
  }
  CallGuard call(*h->device);
  if (!call) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failed;
  }
  return fn(h->context, args...);
}

BOOL DevIoctl(void* openCtx, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen, DWORD* returned) {
  return CallDriver(openCtx, &Device::ioctl, BOOL(FALSE), code, static_cast<PBYTE>(in), inLen,
                    static_cast<PBYTE>(out), outLen, returned);
}

DWORD DevRead(void* openCtx, void* buf, DWORD len) {
  return CallDriver(openCtx, &Device::read, DWORD(-1), buf, len);
}

DWORD DevWrite(void* openCtx, const void* buf, DWORD len) {
  return CallDriver(openCtx, &Device::write, DWORD(-1), buf, len);
}

const CeSimDeviceOps kOps{DevOpen, DevClose, DevIoctl, DevRead, DevWrite};

void RemoveActiveKey(const std::u16string& path) {
  if (!path.empty()) RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

}  // namespace

extern "C" HANDLE ActivateDeviceEx(LPCWSTR deviceKey, LPCVOID, DWORD, LPVOID busContext) {
  if (!deviceKey || !*deviceKey) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto d = std::make_shared<Device>();
  d->key = deviceKey;
  std::u16string dll;
  DWORD index = 0;
  bool haveIndex;
  {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, deviceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    bool haveDll = QueryString(key, u"Dll", dll) && !dll.empty();
    QueryString(key, u"Prefix", d->prefix);
    haveIndex = QueryDword(key, u"Index", index);
    RegCloseKey(key);
    if (!haveDll) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (d->prefix.size() > 3) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }

  // Claim the name and the active key before the driver runs, so that a
  // device activated from inside this Init gets its own.
  {
    std::lock_guard<std::mutex> g(M().lock);
    if (!d->prefix.empty()) {
      if (!haveIndex) {
        for (index = 1; index <= 9; ++index) {
          std::u16string n = d->prefix + char16_t(u'0' + index) + u":";
          if (!NameTaken(n)) break;
        }
      }
      if (index > 9) {  // names carry one digit: a fixed index beyond it is bad, no free one is taken
        SetLastError(haveIndex ? ERROR_INVALID_PARAMETER : ERROR_ALREADY_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      d->name = d->prefix + char16_t(u'0' + index) + u":";
      if (NameTaken(d->name)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      d->named = true;
    }
    d->id = M().nextId++;
    WCHAR path[64];
    swprintf(path, 64, u"Drivers\\Active\\%02u", unsigned(M().nextActive++));
    d->activePath = path;
    M().devices[d->id] = d;
  }
  auto fail = [&](DWORD error) -> HANDLE {
    {
      std::lock_guard<std::mutex> g(M().lock);
      M().devices.erase(d->id);
    }
    RemoveActiveKey(d->activePath);
    if (d->module) FreeLibrary(d->module);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };

  HKEY active = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, d->activePath.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &active, &disposition) != ERROR_SUCCESS)
    return fail(ERROR_GEN_FAILURE);
  RegSetValueExW(active, u"Key", 0, REG_SZ, reinterpret_cast<const BYTE*>(d->key.c_str()),
                 DWORD((d->key.size() + 1) * 2));
  if (d->named)
    RegSetValueExW(active, u"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(d->name.c_str()),
                   DWORD((d->name.size() + 1) * 2));
  DWORD hnd = DWORD(reinterpret_cast<uintptr_t>(HandleOf(*d)));
  RegSetValueExW(active, u"Hnd", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&hnd), sizeof hnd);
  RegCloseKey(active);

  d->module = LoadLibraryW(dll.c_str());
  if (!d->module) return fail(GetLastError() ? GetLastError() : DWORD(ERROR_MOD_NOT_FOUND));
  d->init = Entry<InitFn>(d->module, d->prefix, u"Init");
  d->deinit = Entry<DeinitFn>(d->module, d->prefix, u"Deinit");
  d->preDeinit = Entry<PreDeinitFn>(d->module, d->prefix, u"PreDeinit");
  d->open = Entry<OpenFn>(d->module, d->prefix, u"Open");
  d->close = Entry<CloseFn>(d->module, d->prefix, u"Close");
  d->ioctl = Entry<IoControlFn>(d->module, d->prefix, u"IOControl");
  d->read = Entry<ReadFn>(d->module, d->prefix, u"Read");
  d->write = Entry<WriteFn>(d->module, d->prefix, u"Write");
  if (!d->init) return fail(ERROR_PROC_NOT_FOUND);

  SetLastError(ERROR_SUCCESS);
  d->context = d->init(d->activePath.c_str(), busContext);
  if (d->context == 0) {
    DWORD error = GetLastError();
    return fail(error ? error : DWORD(ERROR_OPEN_FAILED));
  }
  if (d->named && !CeSimRegisterDevice(d->name.c_str(), &kOps, reinterpret_cast<void*>(uintptr_t(d->id)))) {
    DWORD error = GetLastError();
    if (d->deinit) d->deinit(d->context);
    return fail(error);
  }
  SetLastError(ERROR_SUCCESS);
  return HandleOf(*d);
}

extern "C" HANDLE ActivateDevice(LPCWSTR deviceKey, DWORD clientInfo) {
  return ActivateDeviceEx(deviceKey, nullptr, 0, reinterpret_cast<LPVOID>(uintptr_t(clientInfo)));
}

extern "C" BOOL DeactivateDevice(HANDLE device) {
  std::shared_ptr<Device> d = Lookup(device);
  if (!d) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> g(M().lock);
    if (!M().devices.erase(d->id)) {  // another thread got there first
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  if (d->named) CeSimUnregisterDevice(d->name.c_str());
  // PreDeinit lets the driver release calls that wait inside it; Deinit and
  // the unloading come only after every client call has left.
  if (d->preDeinit) d->preDeinit(d->context);
  DrainCalls(*d);
  if (d->deinit) d->deinit(d->context);
  RemoveActiveKey(d->activePath);
  FreeLibrary(d->module);
  return TRUE;
}

extern "C" HKEY OpenDeviceKey(LPCWSTR activeKey) {
  if (!activeKey) return nullptr;
  HKEY active = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, activeKey, 0, KEY_READ, &active) != ERROR_SUCCESS) return nullptr;
  std::u16string key;
  bool ok = QueryString(active, u"Key", key);
  RegCloseKey(active);
  if (!ok) return nullptr;
  HKEY result = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &result) != ERROR_SUCCESS) return nullptr;
  return result;
}

extern "C" DWORD DevMgrActivateBuiltIn(void) {
  HKEY builtIn = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn", 0, KEY_READ, &builtIn) != ERROR_SUCCESS) return 0;
  struct Candidate {
    DWORD order;
    std::u16string path;
  };
  std::vector<Candidate> candidates;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD chars = 256;
    if (RegEnumKeyExW(builtIn, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::u16string path = std::u16string(u"Drivers\\BuiltIn\\") + name;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    std::u16string dll;
    DWORD order = 0xFFFFFFFF;
    bool hasDll = QueryString(key, u"Dll", dll);
    QueryDword(key, u"Order", order);
    RegCloseKey(key);
    if (hasDll) candidates.push_back({order, path});
  }
  RegCloseKey(builtIn);
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.order != b.order ? a.order < b.order : a.path < b.path;
  });
  DWORD activated = 0;
  for (const Candidate& c : candidates)
    if (ActivateDeviceEx(c.path.c_str(), nullptr, 0, nullptr) != INVALID_HANDLE_VALUE) ++activated;
  return activated;
}

extern "C" void DevMgrDeactivateAll(void) {
  for (;;) {
    HANDLE newest = nullptr;
    {
      std::lock_guard<std::mutex> g(M().lock);
      if (M().devices.empty()) return;
      newest = HandleOf(*M().devices.rbegin()->second);
    }
    DeactivateDevice(newest);
  }
}

extern "C" HANDLE DevMgrFindDevice(LPCWSTR deviceName) {
  if (!deviceName) return nullptr;
  std::lock_guard<std::mutex> g(M().lock);
  for (auto& [id, d] : M().devices)
    if (d->named && _wcsicmp(d->name.c_str(), deviceName) == 0) return HandleOf(*d);
  return nullptr;
}

extern "C" LPCWSTR DevMgrActiveKeyPath(HANDLE device) {
  std::shared_ptr<Device> d = Lookup(device);
  return d ? d->activePath.c_str() : nullptr;
}

extern "C" DWORD_PTR DevMgrDeviceContext(HANDLE device) {
  std::shared_ptr<Device> d = Lookup(device);
  return d ? d->context : 0;
}

extern "C" BOOL DevMgrPowerIoControl(LPCWSTR deviceName, DWORD code, LPVOID in, DWORD inLen, LPVOID out,
                                     DWORD outLen, LPDWORD returned) {
  HANDLE previous = GetCallerProcess();
  CeSimSetCallerProcess(kPowerManagerProcess);
  BOOL ok = FALSE;
  HANDLE h = CreateFileW(deviceName, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE && h != nullptr) {
    ok = DeviceIoControl(h, code, in, inLen, out, outLen, returned, nullptr);
    DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
  }
  CeSimSetCallerProcess(previous);
  return ok;
}

extern "C" HANDLE DevMgrPowerManagerProcess(void) { return kPowerManagerProcess; }
