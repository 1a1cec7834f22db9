// The generic pieces of every configuration family (sensor, flash, VFE):
//
// - CConfigurationValue: one driver record held inline, bound to one driver
//   command. Whether the driver supports the command is settled once, by its
//   answer to the first read at construction (20: no); an unsupported value
//   stays a valid object that answers 20 without reaching the driver.
// - CConfigurer: a configuration command; it keeps no settings, only the set
//   whose value it fills, the registry that made it and the client's settings
//   view, which it reads each time it runs.
// - CConfigCommandRegistry: makes the configurers of the supported values into
//   one slot per configuration identifier and hands them out. Configurers hold
//   their registry: only ReleaseConfigurers breaks that cycle.
// - CConfigurationSet: makes every value of a family over one driver.
//
// All of them come from the framework heap (an exhausted heap throws "bad
// allocation" through the factories) and count references atomically. Every
// factory builds the object with a count of 0, takes a reference, queries the
// wanted face into the caller's out-parameter and drops its own reference, so
// the caller holds the only one.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "cpvlptr.h"
#include "hostsymbols.h"
#include "icameradriver.h"
#include "iconfigcommand.h"
#include "ienv.h"
#include "pvlheap.h"

#define CONFIG_HEAP_OBJECT                                                  \
  static void* operator new(size_t size) { return pvlheap_New(size); }     \
  static void operator delete(void* p) noexcept { pvlheap_Free(p); }

// QueryInterface of the four kinds: the root and the object's own identifier.
template <class Face>
PvlResult ConfigQueryInterface(Face* self, ZUEUID own, ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  if (iid == ZUEUID_IFACE_BASE || iid == own) {
    self->AddRef();
    *out = self;
    return PVL_OK;
  }
  *out = nullptr;
  return PVL_E_NOTSUPPORTED;
}

// The factories' last step: the caller ends up with the only reference (a
// failed query destroys the object again).
template <class T, class Out>
PvlResult ConfigHandOut(T* object, ZUEUID iid, Out** out) {
  object->AddRef();
  PvlResult r = object->QueryInterface(iid, reinterpret_cast<void**>(out));
  object->Release();
  return r;
}

#define CONFIG_COUNTED_OBJECT(own)                                                  \
  int32_t AddRef() override { return atomic_atomic_Add(&m_count, 1); }             \
  int32_t Release() override {                                                      \
    int32_t n = atomic_atomic_Add(&m_count, -1);                                    \
    if (n == 0) delete this;                                                        \
    return n;                                                                       \
  }                                                                                 \
  PvlResult QueryInterface(ZUEUID iid, void** out) override {                       \
    return ConfigQueryInterface(this, (own), iid, out);                             \
  }

// Family is the family's value interface (ISensorConfiguration,
// IFlashConfiguration), answered as FamilyIid.
template <class Family, ZUEUID FamilyIid, class Record, uint32_t DriverCommand>
class CConfigurationValue : public Family {
 public:
  CONFIG_COUNTED_OBJECT(FamilyIid)
  CONFIG_HEAP_OBJECT

  PvlResult Apply() override {
    if (!m_supported) return PVL_E_UNSUPPORTED;
    return m_driver->Command(m_command, &m_record, sizeof(Record), nullptr, 0, nullptr);
  }
  // The driver writes the record in place; the length it reports is not needed.
  PvlResult Refresh() override {
    if (!m_supported) return PVL_E_UNSUPPORTED;
    uint32_t length = 0;
    return m_driver->Command(m_command, nullptr, 0, &m_record, sizeof(Record), &length);
  }
  PvlResult Reset() override {
    memset(&m_record, 0, sizeof m_record);
    return PVL_OK;
  }
  PvlResult Set(const void* record) override {
    if (!m_supported) return PVL_E_UNSUPPORTED;
    if (!record) return PVL_E_NULLPTR;
    memcpy(&m_record, record, sizeof m_record);
    return PVL_OK;
  }
  PvlResult Get(void* record) override {
    if (!m_supported) return PVL_E_UNSUPPORTED;
    if (!record) return PVL_E_NULLPTR;
    memcpy(record, &m_record, sizeof m_record);
    return PVL_OK;
  }
  bool IsSupported() override { return m_supported != 0; }

  virtual ~CConfigurationValue() = default;

  // The record, for the family's configurers and for tests.
  Record& Rec() { return m_record; }
  const Record& Rec() const { return m_record; }
  uint32_t DriverCommandId() const { return m_command; }

 protected:
  explicit CConfigurationValue(ICameraDriver* driver)
      : m_record(), m_count(0), m_driver(driver), m_command(DriverCommand), m_supported(1) {}

  // Zeroes the record, then reads the driver's: its answer 20 marks the value
  // unsupported (and is no failure), any other non-zero answer fails it.
  PvlResult Construct() {
    if (!m_driver) return PVL_E_NULLPTR;
    Reset();
    PvlResult r = Refresh();
    if (r == PVL_E_UNSUPPORTED) {
      m_supported = 0;
      return PVL_OK;
    }
    return r;
  }

  // The factory of a concrete value class: 29 without a driver; a failed
  // construction destroys the object and leaves *out untouched.
  template <class Derived>
  static PvlResult CreateAs(ICameraDriver* driver, Family** out) {
    if (!driver) return PVL_E_NULLPTR;
    Derived* value = new Derived(driver);
    PvlResult r = value->Construct();
    if (r != PVL_OK) {
      delete value;
      return r;
    }
    return ConfigHandOut(value, FamilyIid, out);
  }

 private:
  Record m_record;
  volatile int32_t m_count;
  CPvlPtr<ICameraDriver> m_driver;
  uint32_t m_command;
  uint8_t m_supported;
};

// A configurer's step (a read of the client's settings, a range conversion): a
// failure ends its Configure with that code.
#define RETURN_IF_FAILED(expr)   \
  do {                           \
    const PvlResult r_ = (expr); \
    if (r_ != PVL_OK) return r_; \
  } while (0)

template <class Set, class View>
class CConfigurer : public IConfigCommand {
 public:
  CONFIG_COUNTED_OBJECT(ZUEUID_IFACE_CONFIG_COMMAND)
  CONFIG_HEAP_OBJECT

  using Factory = PvlResult (*)(IEnv*, Set*, IConfigCommandRegistry*, View*, IConfigCommand**);

  virtual ~CConfigurer() = default;

  // 29 without an environment, a set or a view; a null registry is taken (the
  // configurers that need it refuse to run without it).
  template <class Derived>
  static PvlResult CreateAs(IEnv* env, Set* set, IConfigCommandRegistry* registry, View* view, IConfigCommand** out) {
    if (!env || !set || !view) return PVL_E_NULLPTR;
    return ConfigHandOut(new Derived(env, set, registry, view), ZUEUID_IFACE_CONFIG_COMMAND, out);
  }

 protected:
  CConfigurer(IEnv* env, Set* set, IConfigCommandRegistry* registry, View* view)
      : m_env(env), m_count(0), m_set(set), m_registry(registry), m_view(view) {}

  // Members are released in reverse: view, registry, set, environment.
  CPvlPtr<IEnv> m_env;
  volatile int32_t m_count;
  CPvlPtr<Set> m_set;
  CPvlPtr<IConfigCommandRegistry> m_registry;
  CPvlPtr<View> m_view;
};

// Derived provides `int SlotOf(uint32_t configuration) const` (-1: not served)
// and `PvlResult MakeConfigurers()` (fills slots through Make).
template <class Derived, class Set, class View, size_t Slots>
class CConfigCommandRegistry : public IConfigCommandRegistry {
 public:
  CONFIG_COUNTED_OBJECT(ZUEUID_IFACE_CONFIG_COMMAND_REGISTRY)
  CONFIG_HEAP_OBJECT

  using Factory = typename CConfigurer<Set, View>::Factory;

  // Runs once on a fresh registry; a second call on a ready one answers 13
  // and changes nothing. A failed run leaves the slots it filled held and the
  // registry not ready; a later run starts from empty slots.
  PvlResult CreateConfigurers() override {
    if (m_created) return PVL_E_NOTREADY;
    EmptySlots();
    PvlResult r = static_cast<Derived*>(this)->MakeConfigurers();
    if (r == PVL_OK) m_created = 1;
    return r;
  }
  PvlResult ReleaseConfigurers() override {
    m_created = 0;
    EmptySlots();
    return PVL_OK;
  }
  // The slots go last first with the members; a registry whose count reached 0
  // is held by no configurer any more.
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override {
    if (!m_created) return PVL_E_NOTREADY;
    if (!out) return PVL_E_NULLPTR;
    *out = nullptr;
    const int slot = static_cast<const Derived*>(this)->SlotOf(configuration);
    if (slot < 0) return PVL_E_BADARG;
    if (!m_slots[slot]) return PVL_E_UNSUPPORTED;
    return m_slots[slot]->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND, reinterpret_cast<void**>(out));
  }

  virtual ~CConfigCommandRegistry() = default;

  // For tests: whether a slot holds a configurer, and whether the registry is ready.
  bool SlotFilled(size_t slot) const { return slot < Slots && m_slots[slot]; }
  bool Created() const { return m_created != 0; }

  // The family's factory: 29 for any null argument.
  static PvlResult Create(IEnv* env, Set* set, View* view, IConfigCommandRegistry** out) {
    if (!env || !set || !view) return PVL_E_NULLPTR;
    return ConfigHandOut(new Derived(env, set, view), ZUEUID_IFACE_CONFIG_COMMAND_REGISTRY, out);
  }

 protected:
  CConfigCommandRegistry(IEnv* env, Set* set, View* view)
      : m_env(env), m_count(0), m_created(0), m_set(set), m_view(view) {}

  PvlResult Make(size_t slot, Factory factory) {
    return factory(m_env.Get(), m_set.Get(), this, m_view.Get(), &m_slots[slot]);
  }
  Set* GetSet() const { return m_set.Get(); }

 private:
  // Last slot first. Dropping a configurer drops its reference on this
  // registry: the registry keeps itself alive until the loop is done, and
  // goes then if the configurers held the last references.
  void EmptySlots() {
    AddRef();
    for (size_t i = Slots; i-- > 0;) m_slots[i].Reset();
    Release();
  }

  CPvlPtr<IEnv> m_env;
  volatile int32_t m_count;
  uint8_t m_created;
  CPvlPtr<Set> m_set;
  CPvlPtr<View> m_view;
  CPvlPtr<IConfigCommand> m_slots[Slots];
};

// Derived lists its values in creation order as a static table
// `kCreation[N]` of {accessor index, factory}.
template <class Value>
struct ConfigValueMaker {
  size_t index;
  PvlResult (*create)(ICameraDriver* driver, Value** out);
};

template <class Derived, class Face, ZUEUID FaceIid, class Value, size_t N>
class CConfigurationSet : public Face {
 public:
  CONFIG_COUNTED_OBJECT(FaceIid)
  CONFIG_HEAP_OBJECT

  PvlResult ResetAll() override {
    for (const ConfigValueMaker<Value>& m : Derived::kCreation)
      if (m_values[m.index]) m_values[m.index]->Reset();
    return PVL_OK;
  }

  // Values in accessor order (empty slots after a failed creation are skipped),
  // then the driver and the environment.
  virtual ~CConfigurationSet() {
    for (size_t i = 0; i < N; ++i) m_values[i].Reset();
    m_driver.Reset();
    m_env.Reset();
  }

  // 29 without an environment or a driver; the first failing value ends the
  // creation with its answer and destroys what was made.
  static PvlResult Create(IEnv* env, ICameraDriver* driver, Face** out) {
    if (!env || !driver) return PVL_E_NULLPTR;
    Derived* set = new Derived(env, driver);
    PvlResult r = set->Construct();
    if (r != PVL_OK) {
      delete set;
      return r;
    }
    return ConfigHandOut(set, FaceIid, out);
  }

  bool HasValue(size_t index) const { return index < N && m_values[index]; }

 protected:
  CConfigurationSet(IEnv* env, ICameraDriver* driver) : m_env(env), m_count(0), m_driver(driver) {}

  // Accessor i: the value with a reference of the caller's.
  PvlResult Give(size_t index, Value** out) {
    if (!out) return PVL_E_NULLPTR;
    *out = m_values[index].Get();
    if (*out) (*out)->AddRef();
    return PVL_OK;
  }

 private:
  PvlResult Construct() {
    for (const ConfigValueMaker<Value>& m : Derived::kCreation) {
      PvlResult r = m.create(m_driver.Get(), &m_values[m.index]);
      if (r != PVL_OK) return r;
    }
    return PVL_OK;
  }

  CPvlPtr<IEnv> m_env;
  volatile int32_t m_count;
  CPvlPtr<ICameraDriver> m_driver;
  CPvlPtr<Value> m_values[N];
};
