// Module entry: the test module image's exports, host-symbol binding, IMod_New and
// the module object; and the module's code in its static-library form.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

#include "fakehost.h"
#include "hostsymbols.h"
#include "image_copy.h"
#include "testmodule.h"

using runtime_test::Env;

namespace {

const char* const kNames[PVL_HOST_SYMBOL_COUNT] = PVL_HOST_SYMBOL_NAMES;


// The host's atomic add, counting the module's calls through its slot.
int g_spiedAdds = 0;
int32_t SpyAtomicAdd(volatile int32_t* counter, int32_t delta) {
  ++g_spiedAdds;
  return atomic_atomic_Add(counter, delta);
}

struct Resolver {
  std::vector<std::string> asked;
  int failAt = -1;  // 0-based index of the name to refuse
  bool spyAdd = false;
};

int32_t Resolve(void* context, const char* name, void** slot) {
  Resolver* r = static_cast<Resolver*>(context);
  const int index = static_cast<int>(r->asked.size());
  r->asked.push_back(name);
  if (index == r->failAt) return 1;
  if (r->spyAdd && std::string(name) == "atomic_atomic_Add") {
    *slot = reinterpret_cast<void*>(&SpyAtomicAdd);
    return 0;
  }
  void* address = PvlHostSymbolAddress(name);
  if (!address) return 1;
  *slot = address;
  return 0;
}

class ModuleImage : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_test::ResetHost();
    const std::string path = camera::test::ImagePath(std::string("Windows/") + TESTMOD_FILE_NAME);
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    fixup_ = reinterpret_cast<PvlModImageSymbolFixupFn>(dlsym(handle_, PVL_EXPORT_SYMBOL_FIXUP));
    new_ = reinterpret_cast<PvlIModNewFn>(dlsym(handle_, PVL_EXPORT_IMOD_NEW));
    ASSERT_NE(fixup_, nullptr);
    ASSERT_NE(new_, nullptr);
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }
  void BindAll() {
    Resolver all;
    ASSERT_EQ(fixup_(Resolve, &all), 0);
  }
  PvlModule* NewModule() {
    void* out = nullptr;
    EXPECT_EQ(new_(&Env(), ZUEUID_CLASS_MODULE, &out), PVL_OK);
    return static_cast<PvlModule*>(out);
  }

  void* handle_ = nullptr;
  PvlModImageSymbolFixupFn fixup_ = nullptr;
  PvlIModNewFn new_ = nullptr;
};

TEST_F(ModuleImage, ExportsOnlyItsTwoEntryPoints) {
  for (const char* hidden : {"Mod_ClassFactory", "pvlheap_New", "pvlheap_Free", "atomic_atomic_Add",
                             "dbg_dbg_Break", "env_env_CreateInstance", "CameraDebugLog"}) {
    EXPECT_EQ(dlsym(handle_, hidden), nullptr) << hidden;
  }
  // The module's allocation operators stay its own.
  for (const char* op : {"_Znwj", "_ZdlPv", "_Znaj", "_ZdaPv"}) {
    void* p = dlsym(handle_, op);
    Dl_info info = {};
    if (p && dladdr(p, &info)) {
      EXPECT_EQ(std::string(info.dli_fname).find(TESTMOD_DEVICE_NAME), std::string::npos) << op;
    }
  }
}

TEST_F(ModuleImage, SymbolFixupWalksTheTableInOrderAndStopsAtTheFirstRefusal) {
  Resolver failing;
  failing.failAt = 2;
  EXPECT_EQ(fixup_(Resolve, &failing), 1);
  ASSERT_EQ(failing.asked.size(), 3u);
  EXPECT_EQ(failing.asked[2], "atomic_atomic_Add");

  Resolver all;
  EXPECT_EQ(fixup_(Resolve, &all), 0);
  ASSERT_EQ(all.asked.size(), static_cast<size_t>(PVL_HOST_SYMBOL_COUNT));
  for (int i = 0; i < PVL_HOST_SYMBOL_COUNT; ++i) EXPECT_EQ(all.asked[i], kNames[i]);
  EXPECT_EQ(fixup_(nullptr, nullptr), 1);
}

TEST_F(ModuleImage, AFailedFixupLeavesTheSlotsFromTheRefusedOneOnEmpty) {
  // The module object counts through slot 3 (atomic_atomic_Add) when it is bound,
  // and falls back to the compiler's atomics when it is empty.
  auto addsWhileCounting = [this] {
    g_spiedAdds = 0;
    PvlModule* module = NewModule();
    EXPECT_EQ(module->ops->AddRef(module), 2);
    EXPECT_EQ(module->ops->Release(module), 1);
    EXPECT_EQ(module->ops->Release(module), 0);
    return g_spiedAdds;
  };
  Resolver refusesTheAdd;
  refusesTheAdd.failAt = 2;
  refusesTheAdd.spyAdd = true;
  ASSERT_EQ(fixup_(Resolve, &refusesTheAdd), 1);
  EXPECT_EQ(addsWhileCounting(), 0);  // slot 3 stayed empty

  Resolver refusesTheNext;
  refusesTheNext.failAt = 3;
  refusesTheNext.spyAdd = true;
  ASSERT_EQ(fixup_(Resolve, &refusesTheNext), 1);
  EXPECT_EQ(addsWhileCounting(), 3);  // slot 3 came before the refusal
  EXPECT_EQ(Env().LiveBlocks(), 0u);
}

TEST_F(ModuleImage, IModNewMakesTheModuleObjectThroughTheEnvironment) {
  BindAll();
  void* out = reinterpret_cast<void*>(0x5a5a);
  EXPECT_EQ(new_(&Env(), ZUEUID_IFACE_BASE, &out), PVL_E_NOTSUPPORTED);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x5a5a));  // untouched
  EXPECT_EQ(new_(&Env(), ZUEUID_CLASS_MODULE, nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(new_(nullptr, ZUEUID_CLASS_MODULE, &out), PVL_E_NULLPTR);
  EXPECT_EQ(out, nullptr);

  Env().FailNth(1);
  out = reinterpret_cast<void*>(0x5a5a);
  EXPECT_EQ(new_(&Env(), ZUEUID_CLASS_MODULE, &out), PVL_E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);

  PvlModule* module = NewModule();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Env().LastSize(), sizeof(PvlModule));  // ten words
  EXPECT_EQ(module->ops, &module->table);
  EXPECT_EQ(module->count, 1);
  EXPECT_EQ(module->env, &Env());
  EXPECT_EQ(Env().RefCount(), 1);  // the environment is not referenced

  void* self = nullptr;
  EXPECT_EQ(module->ops->QueryInterface(module, ZUEUID_CLASS_MODULE, &self), PVL_OK);
  EXPECT_EQ(self, module);
  EXPECT_EQ(module->count, 2);
  EXPECT_EQ(module->ops->QueryInterface(module, ZUEUID_IFACE_BASE, &self), PVL_OK);
  EXPECT_EQ(module->ops->QueryInterface(module, 0x0102bba2u, &self), PVL_E_NOTSUPPORTED);
  EXPECT_EQ(self, nullptr);
  EXPECT_EQ(module->ops->ReturnSuccess(module), PVL_OK);
  EXPECT_EQ(module->ops->ReturnArgument(module, 77), 77);
  EXPECT_EQ(module->ops->AddRef(module), 4);
  EXPECT_EQ(module->ops->Release(module), 3);
  EXPECT_EQ(module->ops->Release(module), 2);
  EXPECT_EQ(module->ops->Release(module), 1);
  EXPECT_EQ(Env().LiveBlocks(), 1u);
  EXPECT_EQ(module->ops->Release(module), 0);
  EXPECT_EQ(Env().LiveBlocks(), 0u);  // freed through the environment
}

TEST_F(ModuleImage, CreatesObjectsThroughTheClassSwitch) {
  BindAll();
  PvlModule* module = NewModule();
  ASSERT_NE(module, nullptr);
  // Nested creation goes back through the environment to the module.
  Env().Register(TESTMOD_CLASS_ECHO, [module](void** out) {
    return module->ops->CreateInstance(module, TESTMOD_CLASS_ECHO, &Env(), out);
  });
  int argument = 0;
  void* out = nullptr;
  ASSERT_EQ(module->ops->CreateInstance(module, TESTMOD_CLASS_ECHO, &argument, &out), PVL_OK);
  ITestModEcho* echo = static_cast<ITestModEcho*>(out);
  EXPECT_EQ(echo->Echo(42), 42);
  EXPECT_EQ(echo->CreationArgument(), &argument);
  EXPECT_EQ(echo->LiveObjects(), 1);
  // The module's own new/delete (strings, vectors) go through the framework heap.
  const size_t live = Env().LiveBlocks();
  const uint32_t calls = Env().ReallocCalls();
  EXPECT_EQ(echo->HeapRoundTrip("abc", 100), 300);
  EXPECT_GT(Env().ReallocCalls(), calls);
  EXPECT_EQ(Env().LiveBlocks(), live);

  ASSERT_EQ(module->ops->CreateInstance(module, TESTMOD_CLASS_NESTED, &argument, &out), PVL_OK);
  ITestModEcho* nested = static_cast<ITestModEcho*>(out);
  ITestModEcho* inner = nested->Inner();
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->CreationArgument(), &Env());
  EXPECT_EQ(echo->LiveObjects(), 3);
  inner->Release();
  nested->Release();
  EXPECT_EQ(echo->LiveObjects(), 1);
  echo->Release();

  out = reinterpret_cast<void*>(1);
  for (ZUEUID unknown : {TESTMOD_CLASS_LISTED_ONLY, 0x01060c21u, ZUEUID_CLASS_MODULE}) {
    EXPECT_EQ(module->ops->CreateInstance(module, unknown, nullptr, &out), PVL_E_NOTSUPPORTED);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(module->ops->CreateInstance(module, TESTMOD_CLASS_ECHO, nullptr, nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(module->ops->Release(module), 0);
  EXPECT_EQ(Env().LiveBlocks(), 0u);
}

// The same classes from the module's static-library form, as unit tests reach them.
TEST(ModuleCode, ClassSwitchFromTheStaticLibrary) {
  runtime_test::ResetHost();
  void* out = nullptr;
  ASSERT_EQ(Mod_ClassFactory(&Env(), TESTMOD_CLASS_ECHO, nullptr, &out), PVL_OK);
  ITestModEcho* echo = static_cast<ITestModEcho*>(out);
  EXPECT_EQ(echo->Echo(-1), -1);
  EXPECT_EQ(echo->Release(), 0);
  EXPECT_EQ(Mod_ClassFactory(&Env(), 0x01060c21u, nullptr, &out), PVL_E_NOTSUPPORTED);
  EXPECT_EQ(Env().LiveBlocks(), 0u);
}

}  // namespace
