// The test module's classes and their create functions.
#include <string>
#include <vector>

#include "cpvlobject.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "testmodule.h"

namespace {

volatile int32_t g_liveObjects = 0;

class CTestEcho final : public CPvlObject, public ITestModEcho {
 public:
  CTestEcho(IEnv* env, void* argument) : CPvlObject(env), m_argument(argument) {
    atomic_atomic_Add(&g_liveObjects, 1);
  }
  ~CTestEcho() override { atomic_atomic_Add(&g_liveObjects, -1); }

  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (out && iid == TESTMOD_IFACE_ECHO) {
      AddRef();
      *out = static_cast<ITestModEcho*>(this);
      return PVL_OK;
    }
    return CPvlObject::QueryInterface(iid, out);
  }

  int32_t Echo(int32_t value) override { return value; }
  void* CreationArgument() override { return m_argument; }
  int32_t LiveObjects() override { return atomic_atomic_Add(&g_liveObjects, 0); }
  int32_t HeapRoundTrip(const char* text, int32_t times) override {
    std::vector<std::string> parts;
    for (int32_t i = 0; i < times; ++i) parts.emplace_back(text ? text : "");
    std::string joined;
    for (const std::string& p : parts) joined += p;
    return static_cast<int32_t>(joined.size());
  }
  ITestModEcho* Inner() override {
    if (m_inner) m_inner->AddRef();
    return m_inner.Get();
  }

  PvlResult MakeInner() {
    return GetEnv()->CreateInstance(TESTMOD_CLASS_ECHO, m_inner.Out());
  }

 private:
  void* m_argument;
  CPvlPtr<ITestModEcho> m_inner;
};

PvlResult CreateEcho(IEnv* env, void* argument, bool nested, void** out) {
  CTestEcho* echo = new (std::nothrow) CTestEcho(env, argument);
  if (!echo) return PVL_E_OUTOFMEMORY;
  echo->AddRef();
  if (nested) {
    const PvlResult r = echo->MakeInner();
    if (r != PVL_OK) {
      echo->Release();
      return r;
    }
  }
  *out = static_cast<ITestModEcho*>(echo);
  return PVL_OK;
}

}  // namespace

// The create functions of the module's class table (tests/runtime/testmodule/CMakeLists.txt).
int32_t TestMod_CreateEcho(IEnv* env, ZUEUID, void* argument, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  return CreateEcho(env, argument, false, out);
}

int32_t TestMod_CreateNested(IEnv* env, ZUEUID, void* argument, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  return CreateEcho(env, argument, true, out);
}
