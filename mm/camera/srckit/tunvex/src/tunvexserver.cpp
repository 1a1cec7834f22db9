#include "tunvexserver.h"

#include <cstring>
#include <new>

#include "icameratuning.h"
#include "ifilesystem.h"
#include "wince.h"

const char kTunvexFlagFile[] = "fs:/~0x0106fa8a/_TunvexEnabled.flg";
const char kTunvexLogFile[] = "fs:/~0x0106fa8a/tunvex_log.txt";

namespace {

struct CreatorContext {
  IEnv* env;
  ISingletonRegistry* registry;
};

IFileSystem* CreateFileSystem(IEnv* env, PvlResult* result) {
  void* obj = nullptr;
  *result = env->CreateInstance(ZUEUID_CLASS_FILESYSTEM, &obj);
  if (*result != PVL_OK || !obj) {
    if (*result == PVL_OK) *result = PVL_E_FAIL;
    return nullptr;
  }
  IPvlBase* base = static_cast<IPvlBase*>(obj);
  void* fs = nullptr;
  *result = base->QueryInterface(ZUEUID_IFACE_FILESYSTEM, &fs);
  base->Release();
  return *result == PVL_OK ? static_cast<IFileSystem*>(fs) : nullptr;
}

}  // namespace

bool Tunvex::IsEnabled(IEnv* env) {
  if (!env) return false;
  PvlResult r = PVL_OK;
  IFileSystem* fs = CreateFileSystem(env, &r);
  if (!fs) {
    RETAILMSG(1, (u"IsEnabled: Create file system returned %i\n", int(r)));
    return false;
  }
  IFile* file = nullptr;
  r = fs->Open(kTunvexFlagFile, PVL_FILE_READ, &file);
  bool enabled = r == PVL_OK && file;
  if (!enabled) RETAILMSG(1, (u"IsEnabled: File open returned %i\n", int(r)));
  if (file) file->Release();
  fs->Release();
  return enabled;
}

Tunvex::Tunvex(ISingletonRegistry* registry, IEnv* env)
    : m_registry(registry), m_env(env), m_protocol(&m_catalog) {
  m_env->AddRef();
  m_catalog.SetApply(&Tunvex::ApplyChanges, this);
  m_catalog.SetLog(&Tunvex::LogSink, this);
  m_registry->AddRef();
}

Tunvex::~Tunvex() {
  RETAILMSG(1, (u"Tunvex destructor called\n"));
  // The protocol thread has ended before anything it uses goes away.
  m_protocol.EndProtocolThread();
  m_catalog.SetLog(nullptr, nullptr);
  m_catalog.SetApply(nullptr, nullptr);
  m_registry->Release();
  m_env->Release();
}

int32_t Tunvex::AddRef() {
  return m_registry->AdjustRefCount(ZUEUID_CLASS_TUNINGSERVER, &m_refs, +1);
}

int32_t Tunvex::Release() {
  int32_t n = m_registry->AdjustRefCount(ZUEUID_CLASS_TUNINGSERVER, &m_refs, -1);
  if (n != 0) return n;
  if (m_protocol.OnProtocolThread()) {
    // The last reference went inside a request (the engine let go of the
    // server during Apply): the thread cannot wait for itself, so it deletes
    // the server once its step is done.
    m_protocol.DeleteOwnerOnExit(&Tunvex::DeleteSelf, this);
  } else {
    delete this;
  }
  return n;
}

void Tunvex::DeleteSelf(void* self) { delete static_cast<Tunvex*>(self); }

PvlResult Tunvex::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_ITUNVEX) {
    AddRef();
    *out = static_cast<ITunvex*>(this);
    return PVL_OK;
  }
  return PVL_E_UNSUPPORTED;
}

PvlResult Tunvex::Register(IRuntimeTuning* provider, const char* name) {
  return m_catalog.Register(provider, name);
}

PvlResult Tunvex::Unregister(IRuntimeTuning* provider) { return m_catalog.Unregister(provider); }

PvlResult Tunvex::Start() {
  m_protocol.CreateProtocolThread();
  return PVL_OK;
}

PvlResult Tunvex::SendDataToJPEG(char* buffer, uint32_t size, uint32_t* needed, uint32_t* written) {
  return m_catalog.SendDataToJPEG(buffer, size, needed, written);
}

void Tunvex::Log(const char* text) {
  // The switch stays off (no file is ever opened), so messages are dropped.
  if (!m_logOn || !text) return;
  RETAILMSG(1, (u"Log msg: %hs\n", text));
}

void Tunvex::LogSink(void* self, const char* text) { static_cast<Tunvex*>(self)->Log(text); }

PvlResult Tunvex::ApplyChanges(void* context) {
  Tunvex* self = static_cast<Tunvex*>(context);
  void* obj = nullptr;
  PvlResult r = self->m_env->CreateInstance(ZUEUID_CLASS_CAMERAENGINE, &obj);
  if (r != PVL_OK || !obj) {
    if (r == PVL_OK) r = PVL_E_FAIL;
    self->m_catalog.Log("Apply couldn't instantiate camera engine: error %i\r\n", int(r));
    return r;
  }
  IPvlBase* engine = static_cast<IPvlBase*>(obj);
  void* face = nullptr;
  r = engine->QueryInterface(ZUEUID_IFACE_CAMERATUNING, &face);
  if (r != PVL_OK || !face) {
    if (r == PVL_OK) r = PVL_E_FAIL;
    self->m_catalog.Log("Apply Couldn't get camera settings: error %i\r\n", int(r));
    engine->Release();
    return r;
  }
  ICameraTuning* tuning = static_cast<ICameraTuning*>(face);
  r = tuning->ApplyRuntimeTuningChanges();
  tuning->Release();
  engine->Release();
  return r;
}

PvlResult Tunvex::Creator(void* context, ZUEUID clsid, void** out) {
  if (clsid != ZUEUID_CLASS_TUNINGSERVER) return PVL_E_UNSUPPORTED;
  if (!context || !out) return PVL_E_NULLPTR;
  CreatorContext* ctx = static_cast<CreatorContext*>(context);
  Tunvex* self = new (std::nothrow) Tunvex(ctx->registry, ctx->env);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  PvlResult r = self->QueryInterface(ZUEUID_ITUNVEX, out);
  self->Release();
  return r;
}

PvlResult Tunvex_New(ZUEUID clsid, IEnv* env, void* /*argument*/, void** out) {
  if (clsid != ZUEUID_CLASS_TUNINGSERVER) return PVL_E_UNSUPPORTED;
  if (!env || !out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!Tunvex::IsEnabled(env)) return PVL_E_FAIL;
  void* reg = nullptr;
  PvlResult r = env->QueryInterface(ZUEUID_IFACE_SINGLETON_REGISTRY, &reg);
  if (r != PVL_OK || !reg) return r != PVL_OK ? r : PVL_E_FAIL;
  ISingletonRegistry* registry = static_cast<ISingletonRegistry*>(reg);
  CreatorContext ctx{env, registry};
  r = registry->GetOrCreate(ZUEUID_CLASS_TUNINGSERVER, out, &Tunvex::Creator, &ctx);
  registry->Release();
  return r;
}
