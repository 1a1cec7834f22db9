// Resources of the program: the table its resource script compiles to, which the
// program exports under CE_RESOURCE_SYMBOL (as a real image carries its resource
// section). Tests may replace or hide single resources.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "internal.h"
#include "wince_app_sim.h"

namespace {

// The program's own module handle: where a CE program is loaded.
HMODULE const kProgram = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00010000u));

// A type is a number or a name; names compare without regard to case.
std::u16string TypeKey(LPCWSTR type) {
  if (IS_INTRESOURCE(type)) return u"#" + cesim::Widen(std::to_string(reinterpret_cast<uintptr_t>(type)));
  return cesim::LowerCase(type);
}

struct Override {
  bool present = false;
  std::vector<BYTE> data;
};

// What FindResourceW hands out; the records stay put while the program runs.
struct Found {
  const void* data = nullptr;
  DWORD size = 0;
};

using Key = std::pair<std::u16string, WORD>;
std::mutex g_lock;
std::map<Key, Override> g_overrides;
std::map<Key, Found> g_found;

const CeResourceDirectory* ProgramResources() {
  return static_cast<const CeResourceDirectory*>(dlsym(RTLD_DEFAULT, CE_RESOURCE_SYMBOL));
}

bool ModuleIsProgram(HMODULE module) { return module == nullptr || module == kProgram; }

// Under g_lock.
const Found* LookUpLocked(LPCWSTR type, WORD id) {
  Key key{TypeKey(type), id};
  auto o = g_overrides.find(key);
  if (o != g_overrides.end()) {
    if (!o->second.present) return nullptr;
    g_found[key] = Found{o->second.data.data(), static_cast<DWORD>(o->second.data.size())};
    return &g_found[key];
  }
  const CeResourceDirectory* dir = ProgramResources();
  if (dir == nullptr) return nullptr;
  for (DWORD i = 0; i < dir->count; ++i) {
    const CeResourceEntry& e = dir->entries[i];
    if (e.id == id && TypeKey(e.type) == key.first) {
      g_found[key] = Found{e.data, e.size};
      return &g_found[key];
    }
  }
  return nullptr;
}

}  // namespace

extern "C" {

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  if (moduleName == nullptr) return kProgram;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (!ModuleIsProgram(module) || !IS_INTRESOURCE(name) || type == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lk(g_lock);
  const Found* f = LookUpLocked(type, static_cast<WORD>(reinterpret_cast<uintptr_t>(name)));
  if (f == nullptr) {
    SetLastError(1814);   // the resource is not there
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<Found*>(f));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<void*>(reinterpret_cast<const Found*>(resource)->data);
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  return resource == nullptr ? 0 : reinterpret_cast<const Found*>(resource)->size;
}

LPVOID LockResource(HGLOBAL data) { return data; }

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int maxChars) {
  if (buffer == nullptr || maxChars <= 0 || !ModuleIsProgram(reinterpret_cast<HMODULE>(instance))) return 0;
  std::lock_guard<std::mutex> lk(g_lock);
  const Found* f = LookUpLocked(RT_STRING, static_cast<WORD>(id));
  if (f == nullptr || f->size == 0) {
    buffer[0] = 0;
    return 0;
  }
  size_t chars = std::min<size_t>(f->size / sizeof(WCHAR), static_cast<size_t>(maxChars) - 1);
  std::memcpy(buffer, f->data, chars * sizeof(WCHAR));
  buffer[chars] = 0;
  return static_cast<int>(chars);
}

}  // extern "C"

void CeSimOverrideResource(LPCWSTR type, WORD id, const void* data, DWORD size) {
  std::lock_guard<std::mutex> lk(g_lock);
  Override& o = g_overrides[Key{TypeKey(type), id}];
  o.present = true;
  const BYTE* b = static_cast<const BYTE*>(data);
  o.data.assign(b, b + (b != nullptr ? size : 0));
}

void CeSimRemoveResource(LPCWSTR type, WORD id) {
  std::lock_guard<std::mutex> lk(g_lock);
  g_overrides[Key{TypeKey(type), id}] = Override{};
}

void CeSimClearResourceOverrides() {
  std::lock_guard<std::mutex> lk(g_lock);
  g_overrides.clear();
  g_found.clear();
}
