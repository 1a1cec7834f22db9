// LoadLibraryW and friends over the image's \Windows directory.
#include <dlfcn.h>
#include <link.h>

#include <map>

#include "internal.h"

namespace cesim {
namespace {

typedef BOOL (*DllMainFn)(HANDLE, DWORD, void*);

struct Module {
  std::string path;       // host path
  std::u16string name;    // file name as found
  void* dl = nullptr;
  DWORD refs = 0;
  DllMainFn dllMain = nullptr;
};

// Loading and unloading run one at a time; a DllMain may load further libraries, so the
// lock is recursive. Kernel objects are not touched under it.
std::recursive_mutex g_loadLock;
std::map<uintptr_t, Module>& Modules() {
  static auto* m = new std::map<uintptr_t, Module>;
  return *m;
}
uintptr_t g_nextModule = 0x00100000u;   // module handles: their own range, never reused

// The address of `symbol` if the library `dl` itself defines it (dlsym also searches
// the library's dependencies, which GetProcAddress must not).
void* OwnSymbol(void* dl, const char* symbol) {
  void* p = dlsym(dl, symbol);
  if (p == nullptr) return nullptr;
  link_map* lm = nullptr;
  Dl_info info;
  if (dlinfo(dl, RTLD_DI_LINKMAP, &lm) != 0 || lm == nullptr || dladdr(p, &info) == 0) return nullptr;
  if (info.dli_fbase != reinterpret_cast<void*>(lm->l_addr) &&
      (info.dli_fname == nullptr || lm->l_name == nullptr || std::string(info.dli_fname) != lm->l_name))
    return nullptr;
  return p;
}

Module* FindModuleLocked(HMODULE h) {
  auto it = Modules().find(reinterpret_cast<uintptr_t>(h));
  return it == Modules().end() ? nullptr : &it->second;
}

}  // namespace
}  // namespace cesim

using namespace cesim;

extern "C" {

HMODULE LoadLibraryW(LPCWSTR name) {
  if (name == nullptr || name[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string n(name);
  size_t slash = n.find_last_of(u"\\/");
  if (slash != std::u16string::npos) n.erase(0, slash + 1);
  if (n.find(u'.') == std::u16string::npos) n += u".dll";
  std::string dir = ImageRoot() + "/Windows";
  std::string file = FindNoCase(dir, Narrow(n));
  if (file.empty() || file.find('/') != std::string::npos) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::string path = dir + "/" + file;
  std::lock_guard<std::recursive_mutex> lk(g_loadLock);
  for (auto& [h, m] : Modules()) {
    if (m.path == path || LowerCaseAscii(m.path) == LowerCaseAscii(path)) {
      ++m.refs;
      return reinterpret_cast<HMODULE>(h);
    }
  }
  // The framework host stays mapped for good: modules keep its symbols bound.
  int flags = RTLD_NOW | RTLD_LOCAL;
  if (LowerCaseAscii(file) == "orbhost.dll") flags |= RTLD_NODELETE;
  void* dl = dlopen(path.c_str(), flags);
  if (dl == nullptr) {
    const char* err = dlerror();
    NKDbgPrintfW(u"LoadLibraryW(%s): %hs\r\n", name, err ? err : "cannot load");
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  uintptr_t h = g_nextModule;
  g_nextModule += 4;
  Module m;
  m.path = path;
  m.name = Widen(file);
  m.dl = dl;
  m.refs = 1;
  m.dllMain = reinterpret_cast<DllMainFn>(OwnSymbol(dl, "DllMain"));
  Modules()[h] = m;
  if (m.dllMain != nullptr && !m.dllMain(reinterpret_cast<HANDLE>(h), DLL_PROCESS_ATTACH, nullptr)) {
    Modules().erase(h);
    dlclose(dl);
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(h);
}

FARPROC GetProcAddressA(HMODULE module, LPCSTR procName) {
  if (procName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (reinterpret_cast<uintptr_t>(procName) < 0x10000u) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* dl;
  {
    std::lock_guard<std::recursive_mutex> lk(g_loadLock);
    Module* m = FindModuleLocked(module);
    if (m == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    dl = m->dl;
  }
  void* p = OwnSymbol(dl, procName);
  if (p == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(p);
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
  if (procName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A value below 64K is an export ordinal, not a name; these libraries export by name only.
  if (reinterpret_cast<uintptr_t>(procName) < 0x10000u) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return GetProcAddressA(module, Narrow(std::u16string_view(procName, wcslen(procName))).c_str());
}

BOOL FreeLibrary(HMODULE module) {
  std::lock_guard<std::recursive_mutex> lk(g_loadLock);
  Module* m = FindModuleLocked(module);
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--m->refs > 0) return TRUE;
  Module gone = *m;
  Modules().erase(reinterpret_cast<uintptr_t>(module));
  if (gone.dllMain != nullptr) gone.dllMain(reinterpret_cast<HANDLE>(module), DLL_PROCESS_DETACH, nullptr);
  dlclose(gone.dl);
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  if (fileName == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string full;
  {
    std::lock_guard<std::recursive_mutex> lk(g_loadLock);
    Module* m = FindModuleLocked(module);
    if (m == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    full = u"\\Windows\\" + m->name;
  }
  if (full.size() + 1 > size) {
    wcslcpy(fileName, full.c_str(), size);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  wcscpy(fileName, full.c_str());
  return static_cast<DWORD>(full.size());
}

}  // extern "C"
