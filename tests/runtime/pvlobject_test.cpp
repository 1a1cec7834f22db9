// CPvlObject and CPvlPtr.
#include <gtest/gtest.h>

#include <new>
#include <utility>

#include "cpvlobject.h"
#include "fakehost.h"

using runtime_test::Env;

namespace {

class Probe : public CPvlObject {
 public:
  Probe(IEnv* env, bool* destroyed) : CPvlObject(env), m_destroyed(destroyed) {}
  ~Probe() override {
    if (m_destroyed) *m_destroyed = true;
  }
  using CPvlObject::SetOwner;

 private:
  bool* m_destroyed;
};

// A plain counted object standing in for an outer or owning object.
class Counted : public IPvlBase {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    *out = iid == 0x12345678u ? this : nullptr;
    if (*out) AddRef();
    return *out ? PVL_OK : PVL_E_NOTSUPPORTED;
  }
  int32_t refs = 1;
};

class ObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_test::ResetHost();
    base_ = Env().RefCount();
  }
  void TearDown() override {
    EXPECT_EQ(Env().LiveBlocks(), 0u);
    EXPECT_EQ(Env().RefCount(), base_);
  }
  int32_t base_ = 0;
};

TEST_F(ObjectTest, LifetimeFromZeroToTheLastRelease) {
  bool destroyed = false;
  Probe* p = new Probe(&Env(), &destroyed);
  EXPECT_EQ(Env().LiveBlocks(), 1u);  // from the framework heap
  EXPECT_EQ(p->AddRef(), 1);          // a new object counts from 0
  EXPECT_EQ(p->AddRef(), 2);
  EXPECT_EQ(p->Release(), 1);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(p->Release(), 0);
  EXPECT_TRUE(destroyed);
}

TEST_F(ObjectTest, QueryInterface) {
  Probe* p = new Probe(&Env(), nullptr);
  p->AddRef();
  void* out = nullptr;
  ASSERT_EQ(p->QueryInterface(ZUEUID_IFACE_BASE, &out), PVL_OK);
  EXPECT_EQ(out, static_cast<IPvlBase*>(p));
  ASSERT_EQ(p->QueryInterface(ZUEUID_IFACE_OBJECT, &out), PVL_OK);
  EXPECT_EQ(out, static_cast<IPvlBase*>(p));
  ASSERT_EQ(p->QueryInterface(ZUEUID_IFACE_DELEGATE, &out), PVL_OK);
  EXPECT_EQ(static_cast<char*>(out), reinterpret_cast<char*>(static_cast<IPvlBase*>(p)) + sizeof(void*));  // one table further
  EXPECT_EQ(p->AddRef(), 5);  // three successful queries added three references
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(p->QueryInterface(0x01099999u, &out), PVL_E_NOTSUPPORTED);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(p->QueryInterface(ZUEUID_IFACE_BASE, nullptr), PVL_E_NULLPTR);
  // The delegating face answers like the object when it is not aggregated.
  IPvlBase* face = p->GetDelegate();
  EXPECT_EQ(face->QueryInterface(ZUEUID_IFACE_OBJECT, &out), PVL_OK);
  EXPECT_EQ(out, static_cast<IPvlBase*>(p));
  for (int i = 0; i < 5; ++i) face->Release();
  EXPECT_EQ(p->Release(), 0);
}

TEST_F(ObjectTest, SetOuterHandsReferencesAboveOneToTheOuter) {
  Counted outer;
  Probe* p = new Probe(&Env(), nullptr);
  p->AddRef();
  p->AddRef();
  p->AddRef();
  EXPECT_EQ(p->SetOuter(&outer), PVL_OK);
  EXPECT_EQ(outer.refs, 3);
  EXPECT_EQ(p->GetOuter(), &outer);
  // The delegating face now forwards to the outer.
  IPvlBase* face = p->GetDelegate();
  face->AddRef();
  EXPECT_EQ(outer.refs, 4);
  void* out = nullptr;
  EXPECT_EQ(face->QueryInterface(0x12345678u, &out), PVL_OK);
  EXPECT_EQ(out, &outer);
  EXPECT_EQ(p->Release(), 0);  // the one reference left was the primary's
}

TEST_F(ObjectTest, AnOwnedObjectIsDestroyedInPlaceAndRefusesAnOuter) {
  Counted owner;
  alignas(8) unsigned char storage[sizeof(Probe)];
  bool destroyed = false;
  Probe* p = new (storage) Probe(&Env(), &destroyed);
  p->SetOwner(&owner);
  EXPECT_EQ(owner.refs, 2);
  Counted outer;
  EXPECT_EQ(p->SetOuter(&outer), PVL_E_OUTERREFUSED);
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(p->SetOuter(nullptr), PVL_OK);
  p->AddRef();
  EXPECT_EQ(p->Release(), 0);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(owner.refs, 1);  // the destructor dropped it; nothing was freed
  EXPECT_EQ(Env().ReallocCalls(), 0u);
}

TEST_F(ObjectTest, ANullEnvironmentBreaksAndGoesOn) {
  Probe* p = new Probe(nullptr, nullptr);
  EXPECT_EQ(runtime_test::BreakCount(), 1u);
  EXPECT_EQ(p->GetEnv(), nullptr);
  p->AddRef();
  EXPECT_EQ(p->Release(), 0);
}

TEST_F(ObjectTest, OutOfMemory) {
  Env().FailNth(1);
  EXPECT_THROW(new Probe(&Env(), nullptr), std::bad_alloc);
  Env().FailNth(1);
  EXPECT_EQ(new (std::nothrow) Probe(&Env(), nullptr), nullptr);
}

TEST_F(ObjectTest, PtrCountsItsReference) {
  Counted a, b;
  {
    CPvlPtr<IPvlBase> p(&a);
    EXPECT_EQ(a.refs, 2);
    p = &a;  // the pointer it holds: no change
    EXPECT_EQ(a.refs, 2);
    CPvlPtr<IPvlBase> copy(p);
    EXPECT_EQ(a.refs, 3);
    copy = p;
    EXPECT_EQ(a.refs, 3);
    copy = &b;
    EXPECT_EQ(a.refs, 2);
    EXPECT_EQ(b.refs, 2);
    copy.Reset();
    EXPECT_EQ(b.refs, 1);
    EXPECT_FALSE(copy);
    IPvlBase* raw = p.Detach();
    EXPECT_EQ(raw, &a);
    EXPECT_EQ(a.refs, 2);  // detached without a Release
    raw->Release();
    p = &b;
  }
  EXPECT_EQ(a.refs, 1);
  EXPECT_EQ(b.refs, 1);
}

TEST_F(ObjectTest, PtrMovesItsReference) {
  Counted a, b;
  {
    CPvlPtr<IPvlBase> p(&a);
    CPvlPtr<IPvlBase> q(&b);
    q = std::move(p);  // q gives b back and takes a's reference without a new one
    EXPECT_EQ(a.refs, 2);
    EXPECT_EQ(b.refs, 1);
    EXPECT_FALSE(p);
    CPvlPtr<IPvlBase>& self = q;
    q = std::move(self);  // onto itself: nothing changes hands
    EXPECT_EQ(a.refs, 2);
    EXPECT_TRUE(q);
  }
  EXPECT_EQ(a.refs, 1);
  EXPECT_EQ(runtime_test::BreakCount(), 0u);
}

TEST_F(ObjectTest, PtrOutAddressMustBeEmpty) {
  Counted a;
  CPvlPtr<IPvlBase> p;
  EXPECT_EQ(*&p, nullptr);
  EXPECT_EQ(runtime_test::BreakCount(), 0u);
  p = &a;
  IPvlBase** slot = &p;  // not empty: the break fires, the old reference goes
  EXPECT_EQ(runtime_test::BreakCount(), 1u);
  EXPECT_EQ(runtime_test::LastBreakValue(), reinterpret_cast<uintptr_t>(&a));
  EXPECT_EQ(*slot, nullptr);
  EXPECT_EQ(a.refs, 1);
  // Filled through the out address, the holder owns the callee's reference.
  EXPECT_EQ(a.QueryInterface(0x12345678u, p.Out()), PVL_OK);
  EXPECT_EQ(a.refs, 2);
  p.Reset();
  EXPECT_EQ(a.refs, 1);
}

}  // namespace
