// CPvlMediaBuffer.
#include <gtest/gtest.h>

#include <vector>

#include "cpvlmediabuffer.h"
#include "fakehost.h"
#include "ipropertystore.h"

using runtime_test::Env;

namespace {

class Pool : public IPvlMediaBufferOwner {
 public:
  void BufferReturned(CPvlMediaBuffer* buffer) override { returned.push_back(buffer); }
  std::vector<CPvlMediaBuffer*> returned;
};

// Counting and the property operations for the fakes below; none is offered.
template <class Face>
class FakeProperties : public Face {
 public:
  virtual ~FakeProperties() = default;
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override {
    const int32_t n = --refs;
    if (n == 0) delete this;
    return n;
  }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Reserved3(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetProperty(uint32_t, PvlValueRecord*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetProperty(uint32_t, const PvlValueRecord*) override { return PVL_E_UNSUPPORTED; }
  PvlResult AddProperty(const CPvlPropertyDesc*, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved7(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved8(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetProperties(CPvlPropertyDesc*, uint32_t, PvlResult*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetProperties(const PvlPropertyValueRecord*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetRanges(const PvlPropertyRangeRecord*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult RegisterGroup(CPvlPropertyDesc* const*, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved13(uint32_t, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved14(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  int32_t refs = 1;
};

// A property face standing in for the host's; it records its owner.
class FakeFace final : public FakeProperties<IProperties> {
 public:
  explicit FakeFace(IPvlBase* owner) : owner(owner) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_PROPERTIES || iid == ZUEUID_IFACE_PROPERTIES_ALT || iid == ZUEUID_IFACE_BASE) {
      AddRef();
      *out = static_cast<IProperties*>(this);
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  IPvlBase* owner;
};

int g_storesMade = 0;

class FakeStore final : public FakeProperties<IPropertyStore> {
 public:
  PvlResult GetGroupMembers(uint32_t, uint32_t*, uint32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved16() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved17() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved18() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved19() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved20() override { return PVL_E_UNSUPPORTED; }
  PvlResult CreateBoundFace(IPvlBase* owner, IProperties** face) override {
    if (!owner || !face) return PVL_E_NULLPTR;
    *face = new FakeFace(owner);
    return PVL_OK;
  }
};

class MediaBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_test::ResetHost();
    g_storesMade = 0;
    buffer_ = new CPvlMediaBuffer(&pool_, &Env());
    buffer_->SetMemory(0x10000, 0x80000, true, 1000);
  }
  void TearDown() override {
    delete buffer_;
    EXPECT_EQ(Env().LiveBlocks(), 0u);
  }
  Pool pool_;
  CPvlMediaBuffer* buffer_ = nullptr;
};

TEST_F(MediaBufferTest, LastReleaseReturnsTheBufferToItsOwnerOnce) {
  EXPECT_EQ(buffer_->AddRef(), 1);
  EXPECT_EQ(buffer_->AddRef(), 2);
  EXPECT_EQ(buffer_->Release(), 0);
  EXPECT_TRUE(pool_.returned.empty());
  EXPECT_EQ(buffer_->Release(), 0);
  ASSERT_EQ(pool_.returned.size(), 1u);
  EXPECT_EQ(pool_.returned[0], buffer_);
  uint32_t capacity = 0;
  EXPECT_EQ(buffer_->GetCapacity(&capacity), PVL_OK);  // still alive
  EXPECT_EQ(capacity, 1000u);
}

TEST_F(MediaBufferTest, NullOutPointers) {
  EXPECT_EQ(buffer_->GetVirtualAddress(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->GetPhysicalAddress(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->GetCapacity(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->GetActualSize(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->GetOffset(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->GetTime1(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->GetFlags(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->GetInfo(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->SetInfo(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(buffer_->QueryInterface(ZUEUID_IFACE_BASE, nullptr), PVL_E_NULLPTR);
}

TEST_F(MediaBufferTest, TimesAndPhysicalAddressArePresentOnlyWithTheirFlags) {
  uint64_t t = 99;
  EXPECT_EQ(buffer_->GetTime2(&t), PVL_E_VALUENOTPRESENT);
  EXPECT_EQ(t, 99u);
  EXPECT_EQ(buffer_->SetTime2(1234), PVL_OK);
  EXPECT_EQ(buffer_->GetTime2(&t), PVL_OK);
  EXPECT_EQ(t, 1234u);
  EXPECT_EQ(buffer_->ClearTimes(), PVL_OK);
  EXPECT_EQ(buffer_->GetTime2(&t), PVL_E_VALUENOTPRESENT);

  uint64_t phys = 0;
  EXPECT_EQ(buffer_->GetPhysicalAddress(&phys), PVL_OK);
  EXPECT_EQ(phys, 0x80000u);
  buffer_->SetMemory(0x20000, 0x90000, false, 500);
  EXPECT_EQ(buffer_->GetPhysicalAddress(&phys), PVL_E_VALUENOTPRESENT);
  CPvlMediaBufferInfo info;
  EXPECT_EQ(buffer_->GetInfo(&info), PVL_OK);
  EXPECT_EQ(info.physicalAddress, 0u);  // although the field holds an old value
  EXPECT_EQ(info.virtualAddress, 0x20000u);
  EXPECT_EQ(info.capacity, 500u);
}

TEST_F(MediaBufferTest, SetFlagsTouchesOnlyTheClientBits) {
  buffer_->SetTime1(5);
  EXPECT_EQ(buffer_->SetFlags(0xFFFFFFFFu), PVL_OK);
  uint32_t flags = 0;
  buffer_->GetFlags(&flags);
  EXPECT_EQ(flags, PVL_MB_FLAG_PHYSICAL | PVL_MB_FLAG_TIME1 | 0x43u);
  EXPECT_EQ(buffer_->SetFlags(0), PVL_OK);
  buffer_->GetFlags(&flags);
  EXPECT_EQ(flags, PVL_MB_FLAG_PHYSICAL | PVL_MB_FLAG_TIME1);
  buffer_->Reset();
  buffer_->GetFlags(&flags);
  EXPECT_EQ(flags, PVL_MB_FLAG_PHYSICAL);
}

TEST_F(MediaBufferTest, SetInfo) {
  CPvlMediaBufferInfo info = {};
  info.actualSize = 600;
  info.offset = 16;
  info.time3 = 77;
  info.capacity = 5;             // never taken
  info.physicalAddress = 0x1234; // never taken
  info.flags = PVL_MB_FLAG_TIME3 | PVL_MB_FLAG_CLIENT1;  // bit 4 clear: not taken either
  EXPECT_EQ(buffer_->SetInfo(&info), PVL_OK);
  CPvlMediaBufferInfo out;
  buffer_->GetInfo(&out);
  EXPECT_EQ(out.actualSize, 600u);
  EXPECT_EQ(out.offset, 16u);
  EXPECT_EQ(out.time3, 77u);
  EXPECT_EQ(out.capacity, 1000u);
  EXPECT_EQ(out.physicalAddress, 0x80000u);
  EXPECT_EQ(out.flags, PVL_MB_FLAG_PHYSICAL | PVL_MB_FLAG_TIME3 | PVL_MB_FLAG_CLIENT1);

  // The valid data must lie inside the buffer; a refused record changes nothing.
  for (auto [size, offset] : {std::pair<uint32_t, uint32_t>{1001, 0}, {1000, 1}, {0xFFFFFFFFu, 2}}) {
    CPvlMediaBufferInfo bad = info;
    bad.actualSize = size;
    bad.offset = offset;
    EXPECT_EQ(buffer_->SetInfo(&bad), PVL_E_BADARG) << size << " " << offset;
  }
  buffer_->GetInfo(&out);
  EXPECT_EQ(out.actualSize, 600u);
}

TEST_F(MediaBufferTest, SizeAndOffsetKeepTheValidDataInsideTheBuffer) {
  // Each step on the buffer of capacity 1000 as the previous one left it.
  struct Step {
    bool isOffset;
    uint32_t value;
    PvlResult result;
    uint32_t size, offset;  // afterwards
  } steps[] = {
      {false, 1001, PVL_E_BADARG, 0, 0},
      {true, 1001, PVL_E_BADARG, 0, 0},
      {false, 1000, PVL_OK, 1000, 0},
      {true, 1, PVL_E_BADARG, 1000, 0},  // would end one byte past the buffer
      {false, 600, PVL_OK, 600, 0},
      {true, 400, PVL_OK, 600, 400},
      {true, 401, PVL_E_BADARG, 600, 400},
      {false, 601, PVL_E_BADARG, 600, 400},
      {true, 0xFFFFFFFFu, PVL_E_BADARG, 600, 400},
      {false, 0xFFFFFFFFu, PVL_E_BADARG, 600, 400},
      {false, 0, PVL_OK, 0, 400},
      {true, 1000, PVL_OK, 0, 1000},
      {true, 400, PVL_OK, 0, 400},
      {false, 600, PVL_OK, 600, 400},
  };
  for (const Step& s : steps) {
    const PvlResult r = s.isOffset ? buffer_->SetOffset(s.value) : buffer_->SetActualSize(s.value);
    EXPECT_EQ(r, s.result) << (s.isOffset ? "offset " : "size ") << s.value;
    uint32_t size = 0, offset = 0;
    buffer_->GetActualSize(&size);
    buffer_->GetOffset(&offset);
    EXPECT_EQ(size, s.size) << (s.isOffset ? "offset " : "size ") << s.value;
    EXPECT_EQ(offset, s.offset) << (s.isOffset ? "offset " : "size ") << s.value;
  }
  // New memory too small for the data it described: the data is gone.
  buffer_->SetMemory(0x10000, 0x80000, true, 800);
  uint32_t size = 1, offset = 1;
  buffer_->GetActualSize(&size);
  buffer_->GetOffset(&offset);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(offset, 0u);
}

TEST_F(MediaBufferTest, QueryInterface) {
  void* out = nullptr;
  EXPECT_EQ(buffer_->QueryInterface(ZUEUID_IFACE_MEDIA_BUFFER, &out), PVL_OK);
  EXPECT_EQ(out, static_cast<IPvlMediaBuffer*>(buffer_));
  EXPECT_EQ(buffer_->GetRefCount(), 1);
  EXPECT_EQ(buffer_->QueryInterface(ZUEUID_IFACE_MEDIA_ATTACHED_A, &out), PVL_E_NOTSUPPORTED);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(buffer_->QueryInterface(0x01099999u, &out), PVL_E_NOTSUPPORTED);
  // Without a property store class, the property face cannot be made.
  EXPECT_EQ(buffer_->QueryInterface(ZUEUID_IFACE_PROPERTIES, &out), PVL_E_NOTSUPPORTED);
  EXPECT_EQ(out, nullptr);
  buffer_->Release();
}

TEST_F(MediaBufferTest, ThePropertyFaceIsMadeOnceAndHoldsNoReferenceOnTheBuffer) {
  Env().Register(ZUEUID_CLASS_PROPERTY_STORE, [](void** out) {
    ++g_storesMade;
    *out = static_cast<IPropertyStore*>(new FakeStore);
    return PVL_OK;
  });
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(buffer_->QueryInterface(ZUEUID_IFACE_PROPERTIES_ALT, &a), PVL_OK);
  ASSERT_EQ(buffer_->QueryInterface(ZUEUID_IFACE_PROPERTIES, &b), PVL_OK);
  EXPECT_EQ(a, b);
  EXPECT_EQ(g_storesMade, 1);
  EXPECT_EQ(static_cast<FakeFace*>(static_cast<IProperties*>(a))->owner, static_cast<IPvlMediaBuffer*>(buffer_));
  EXPECT_EQ(buffer_->GetRefCount(), 0);
  static_cast<IProperties*>(a)->Release();
  static_cast<IProperties*>(b)->Release();
}

}  // namespace
