// Shared declarations inside the host library.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hostsymbols.h"
#include "ienv.h"
#include "isingletonregistry.h"
#include "pvlbase.h"

namespace orbhost {

// One line on the debug output, "Orbhost: " in front (printf-style, narrow).
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Host objects alive (every class made here); tests check for leaks with it.
extern std::atomic<int32_t> g_liveHostObjects;

// Base of the host's reference-counted objects: one interface, an atomic count,
// deleted by the last Release.
template <class Iface>
class HostObject : public Iface {
 public:
  using Interface = Iface;

  HostObject() { g_liveHostObjects.fetch_add(1); }
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;

  int32_t AddRef() override { return m_count.fetch_add(1) + 1; }
  int32_t Release() override {
    int32_t n = m_count.fetch_sub(1) - 1;
    if (n == 0) delete this;
    if (n < 0) {
      Log("object %p released once too often", static_cast<void*>(this));
      n = 0;
    }
    return n;
  }

 protected:
  virtual ~HostObject() { g_liveHostObjects.fetch_sub(1); }
  // Answers the base identifier and `own` with this object.
  PvlResult AnswerQuery(ZUEUID iid, void** out, ZUEUID own) {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || iid == own) {
      AddRef();
      *out = static_cast<Iface*>(this);
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }

 private:
  std::atomic<int32_t> m_count{1};  // the creator's reference
};

// The one process environment (static, never destroyed).
IEnv* ProcessEnv();

// The allocator behind IEnv Realloc/ReallocTagged.
PvlResult AllocatorRealloc(uint32_t size, void** block, const char* tag);
// A block with the framework heap's 8-byte header in front (owner: the process
// environment, no reference held), so that a module can free it with pvlheap_Free.
void* AllocatorHeapBlock(uint32_t size, const char* tag);
void AllocatorHeapFree(void* user);

// Creation of the host's own classes: 3 for a class the host does not make.
PvlResult CreateHostObject(ZUEUID clsid, void** out);
PvlResult CreateLock(void** out);
PvlResult CreateClock(void** out);
PvlResult CreateSignalQueue(void** out);
PvlResult CreateThreadHost(void** out);
PvlResult CreatePropertyStore(void** out);
ISingletonRegistry* Registry();  // not AddRef'd

// The module loader: creation of a module class (3 when no module lists it).
PvlResult LoaderCreateInstance(ZUEUID clsid, void** out);
// Reads the start-up script and scans the module directory once; later calls do
// nothing. A script that cannot be read gives a code.
PvlResult LoaderInitialize(const char* script);

// The start-up script's settings ("Key=Value" lines; device paths). Lines without "=" and
// unknown keys are logged (as "<shown> line N: ...") and ignored.
struct StartupScript {
  std::string moduleDirectory = "\\Windows";
  std::string fileSpaceRoot = "\\fs";
};
StartupScript ParseStartupScript(std::string_view text, const char* shown);

// The start-up script's file-space root (a device path, "\\fs" by default).
std::string FileSpaceRoot();
// Host path of a device path ("\\...") or of a file-space path ("fs:/...", under the
// file-space root). False when the path does not map into the device.
bool HostPath(const char* path, std::string* hostPath);

// The test doubles registered through orbhost_test.h: 3 when none serves the class.
PvlResult TestClassCreateInstance(ZUEUID clsid, void** out);

}  // namespace orbhost

// The host services (XML reader, file system, JPEG encoder) live in services/; they
// answer 3 for a class they do not make. A weak default answers 3 for everything.
namespace orbhost::services {
PvlResult CreateServiceInstance(ZUEUID clsid, void** out);
}
