// CPvlObject: the reference-counted base object of every framework class.
//
// Layout: primary table (AddRef, Release, QueryInterface, SetOuter, destructor)
// at +0, the delegating face (answered as ZUEUID_IFACE_DELEGATE) one table
// further at +4, then count, outer, owner and environment.
//
// Objects are allocated and freed through the framework heap (pvlheap) by
// the class's own operator new/delete, and are destroyed only by their last
// Release. A new object's count is 0; its factory adds the first reference.
#ifndef CPVLOBJECT_H
#define CPVLOBJECT_H

#include <stddef.h>
#include <stdint.h>

#include <new>

#include "cpvlptr.h"
#include "pvlbase.h"

class IEnv;

class CPvlObject : public IPvlBase {
 public:
  explicit CPvlObject(IEnv* env);

  int32_t AddRef() override;
  int32_t Release() override;
  // ZUEUID_IFACE_BASE and ZUEUID_IFACE_OBJECT: the object; ZUEUID_IFACE_DELEGATE:
  // the delegating face; else 3 with *out null. A null out gives 29.
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  // Null: the object becomes its own outer. Non-null: refused with 43 when the
  // object has an owner; else stored, and every reference above 1 moves to it.
  virtual PvlResult SetOuter(IPvlBase* outer);
  virtual ~CPvlObject();

  IPvlBase* GetOuter() const { return m_outer; }  // not AddRef'd
  IEnv* GetEnv() const { return m_env.Get(); }    // not AddRef'd
  IPvlBase* GetDelegate() { return &m_delegate; } // not AddRef'd

  CPvlObject(const CPvlObject&) = delete;
  CPvlObject& operator=(const CPvlObject&) = delete;

  // Memory comes from the framework heap.
  static void* operator new(size_t size);  // throws std::bad_alloc
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void* p) noexcept;
  static void operator delete(void* p, const std::nothrow_t&) noexcept;
  static void operator delete(void*, void*) noexcept {}

 protected:
  // Embeds the object in its owner: its last Release then destroys it in
  // place and never frees its memory (which belongs to the owner).
  void SetOwner(IPvlBase* owner);
  bool HasOwner() const { return m_owner.Get() != nullptr; }

 private:
  // Forwards AddRef, Release and QueryInterface to the outer object.
  class CDelegateFace final : public IPvlBase {
   public:
    int32_t AddRef() override;
    int32_t Release() override;
    PvlResult QueryInterface(ZUEUID iid, void** out) override;

   private:
    CPvlObject* Self();
  };

  CDelegateFace m_delegate;
  volatile int32_t m_count;
  IPvlBase* m_outer;
  CPvlPtr<IPvlBase> m_owner;
  CPvlPtr<IEnv> m_env;

  friend struct CPvlObjectLayout;
};

// The delegating face is one table further than the primary one (its
// operations find the object from there).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
struct CPvlObjectLayout {
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
  static_assert(sizeof(CPvlObject) == 24, "two tables, count, outer, owner, environment");
  static_assert(offsetof(CPvlObject, m_delegate) == 4, "delegating face at +4");
  static_assert(offsetof(CPvlObject, m_count) == 8, "");
  static_assert(offsetof(CPvlObject, m_outer) == 12, "");
  static_assert(offsetof(CPvlObject, m_owner) == 16, "");
  static_assert(offsetof(CPvlObject, m_env) == 20, "");
#endif
};
#pragma GCC diagnostic pop

// Forwards the three root operations of an extra interface to CPvlObject.
// Use inside a class deriving from CPvlObject and from other interfaces.
#define PVL_FORWARD_IPVLBASE_TO(Base)                                                    \
  int32_t AddRef() override { return Base::AddRef(); }                                   \
  int32_t Release() override { return Base::Release(); }

#endif
