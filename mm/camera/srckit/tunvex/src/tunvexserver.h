// Tunvex: the tuning server object (class ZUEUID_CLASS_TUNINGSERVER), one per
// environment, existing only where the flag file enables it.
#pragma once

#include <cstdint>

#include "ctunvexcatalog.h"
#include "ctunvexprotocolthread.h"
#include "ienv.h"
#include "isingletonregistry.h"
#include "tunvex.h"


// "fs:/~0x0106fa8a/": the server's flag file and log.
extern const char kTunvexFlagFile[];
extern const char kTunvexLogFile[];

class Tunvex final : public ITunvex {
 public:
  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Register(IRuntimeTuning* provider, const char* name) override;
  PvlResult Start() override;
  PvlResult SendDataToJPEG(char* buffer, uint32_t size, uint32_t* needed, uint32_t* written) override;
  PvlResult Unregister(IRuntimeTuning* provider) override;

  // For tools and tests that run the server in this process.
  CTunvexCatalog& Catalog() { return m_catalog; }
  CTunvexProtocolThread& Protocol() { return m_protocol; }

  // The server's own log: written only while the log switch is on, which
  // nothing in the server turns on.
  void Log(const char* text);

  // The flag file opens: the server may exist.
  static bool IsEnabled(IEnv* env);
  static PvlResult Creator(void* context, ZUEUID clsid, void** out);

 private:
  Tunvex(ISingletonRegistry* registry, IEnv* env);
  ~Tunvex();
  static PvlResult ApplyChanges(void* self);
  static void DeleteSelf(void* self);
  static void LogSink(void* self, const char* text);

  ISingletonRegistry* m_registry;  // referenced
  IEnv* m_env;                     // referenced: Apply uses it on the protocol thread
  volatile int32_t m_refs = 0;
  bool m_logOn = false;
  CTunvexCatalog m_catalog;
  CTunvexProtocolThread m_protocol;
};

// The class switch's entry: (class, environment, ignored argument, out interface).
// 20 for another class, 1 when the flag file is absent, else the singleton
// registry's result with *out the one server holding one more reference.
PvlResult Tunvex_New(ZUEUID clsid, IEnv* env, void* argument, void** out);
