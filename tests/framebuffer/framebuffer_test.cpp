// The frame-buffer manager: requirements, pools from contiguous memory and the
// heap, buffers going out and coming home, deferred freeing and notifications.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "cmcamerabuffermanager.h"
#include "cpvlmediabuffer.h"
#include "enginetest.h"
#include "isignalqueue.h"

using enginetest::EngineTest;

namespace {

BufferRequest Request(uint32_t count, uint32_t size, uint32_t source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS,
                      uint8_t alignment = 0) {
  BufferRequest r{};
  r.count = count;
  r.size = size;
  r.source = source;
  r.alignment = alignment;
  return r;
}

struct Span {
  uint64_t virt;
  uint64_t phys;
  uint32_t capacity;
};

class BufferManagerTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, manager.Out()));
  }
  void Drop() override {
    for (IPvlMediaBuffer* b : out) b->Release();
    out.clear();
    manager.Reset();
  }
  // Takes every buffer of the pool.
  std::vector<Span> TakeAll() {
    std::vector<Span> spans;
    IPvlMediaBuffer* b = nullptr;
    while (manager->GetBuffer(1, &b) == PVL_OK) {
      Span s{};
      b->GetVirtualAddress(&s.virt);
      if (b->GetPhysicalAddress(&s.phys) != PVL_OK) s.phys = 0;
      b->GetCapacity(&s.capacity);
      spans.push_back(s);
      out.push_back(b);
    }
    return spans;
  }
  static bool Disjoint(const std::vector<Span>& spans) {
    for (size_t i = 0; i < spans.size(); ++i)
      for (size_t j = i + 1; j < spans.size(); ++j)
        if (spans[i].virt < spans[j].virt + spans[j].capacity && spans[j].virt < spans[i].virt + spans[i].capacity)
          return false;
    return true;
  }
  uint32_t FreeCount() {
    uint32_t total = 0, free = 0;
    manager->GetCounts(&total, &free);
    return free;
  }

  CPvlPtr<ICameraBufferManager> manager;
  std::vector<IPvlMediaBuffer*> out;
};

TEST(BufferManagerAlignment, SizesRoundUpToTheAlignment) {
  struct Case {
    const char* name;
    uint32_t size;
    uint8_t alignment;
    bool ok;
    uint32_t aligned;
  } cases[] = {
      {"1000 at 2^5", 1000, 5, true, 1024},
      {"1024 at 2^5 stays", 1024, 5, true, 1024},
      {"no alignment", 1001, 0, true, 1001},
      {"256-byte alignment", 460800 + 1, 8, true, 461056},
      {"largest exponent", 100, 31, true, 0x80000000u},
      {"exponent 32 refused", 100, 32, false, 0},
      {"exponent 200 refused", 100, 200, false, 0},
      {"rounding past 32 bits refused", 0xFFFFFF01u, 8, false, 0},
  };
  for (const Case& c : cases) {
    uint32_t aligned = 0;
    EXPECT_EQ(CMCameraBufferManager::AlignedSize(c.size, c.alignment, &aligned), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(aligned, c.aligned) << c.name;
    }
  }
}

TEST_F(BufferManagerTest, RequirementsFollowTheirRules) {
  BufferRequest r = Request(4, 1000, ZUEUID_BUFFER_SOURCE_CONTIGUOUS, 5);
  r.passThrough0 = 0x1234;
  EXPECT_EQ(manager->InitRequirements(nullptr, 0, 0), PVL_E_NULLPTR);
  ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
  BufferRequest got{};
  EXPECT_EQ(manager->GetRequirements(nullptr), PVL_E_NULLPTR);
  ASSERT_EQ(manager->GetRequirements(&got), PVL_OK);
  EXPECT_EQ(got.count, 4u);
  EXPECT_EQ(got.size, 1024u);
  EXPECT_EQ(got.passThrough0, 0x1234u);
  EXPECT_EQ(got.alignment, 5);

  struct Case {
    const char* name;
    BufferRequest request;
    PvlResult result;
  } cases[] = {
      {"fewer buffers", Request(3, 1000), PVL_E_BUFFERTOOSMALL},
      {"smaller buffers", Request(4, 999), PVL_E_BUFFERTOOSMALL},
      {"count times size past 32 bits", Request(0x10000, 0x10001), PVL_E_BADARG},
      {"more and larger", Request(6, 2000), PVL_OK},
  };
  for (const Case& c : cases) EXPECT_EQ(manager->SetRequirements(&c.request), c.result) << c.name;
  EXPECT_EQ(manager->SetRequirements(nullptr), PVL_E_NULLPTR);
  ASSERT_EQ(manager->GetRequirements(&got), PVL_OK);
  EXPECT_EQ(got.count, 6u);
  EXPECT_EQ(got.size, 2016u) << "the alignment given at initialisation stays";

  // A manager set up by SetRequirements alone takes the request's alignment.
  CPvlPtr<ICameraBufferManager> fresh;
  ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, fresh.Out()));
  BufferRequest vfe = Request(1, 460801, ZUEUID_BUFFER_SOURCE_CONTIGUOUS, 8);
  ASSERT_EQ(fresh->SetRequirements(&vfe), PVL_OK);
  ASSERT_EQ(fresh->GetRequirements(&got), PVL_OK);
  EXPECT_EQ(got.size, 461056u);
  fresh.Reset();
  ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, fresh.Out()));
  BufferRequest hugeAlignment = Request(1, 64, 0, 40);
  EXPECT_EQ(fresh->SetRequirements(&hugeAlignment), PVL_E_BADARG);
  fresh.Reset();

  BufferRequest badAlignment = Request(1, 64, 0, 32);
  EXPECT_EQ(manager->InitRequirements(&badAlignment, 0, 0), PVL_E_BADARG);

  // Allowed to shrink; a change after allocation is refused.
  BufferRequest small = Request(2, 64, 0);
  ASSERT_EQ(manager->InitRequirements(&small, 0, 1), PVL_OK);
  BufferRequest smaller = Request(1, 32, 0);
  EXPECT_EQ(manager->SetRequirements(&smaller), PVL_OK);
  ASSERT_EQ(manager->Allocate(), PVL_OK);
  EXPECT_EQ(manager->SetRequirements(&small), PVL_E_BUFFERSALLOCATED);
  EXPECT_EQ(manager->Free(), PVL_OK);
  EXPECT_EQ(manager->SetRequirements(&small), PVL_OK) << "requirements may change again once freed";
}

TEST_F(BufferManagerTest, ContiguousPoolsComeAsOneBlockOrBufferByBuffer) {
  struct Case {
    const char* name;
    bool testMode;
    uint32_t count;
    uint32_t size;
    const char* line;
  } cases[] = {
      {"8 x 512 KiB in one block", false, 8, 0x80000, "CameraPMEMMalloc succeeded: block size=4194304"},
      {"17 x 512 KiB one by one", false, 17, 0x80000, "CameraPMEMMalloc succeeded for buffer 16"},
      {"4 preview frames of 1280x720", false, 4, 1382400, "CameraPMEMMalloc succeeded for buffer 3"},
      {"test mode, one block", true, 8, 0x80000, "CameraPMEMMalloc succeeded: block size=4194304"},
      {"test mode, one by one", true, 4, 1382400, "CameraPMEMMalloc succeeded for buffer 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSetCameraTestMode(c.testMode);
    BufferRequest r = Request(c.count, c.size, ZUEUID_BUFFER_SOURCE_CONTIGUOUS, 8);
    ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
    CaptureBegin();
    ASSERT_EQ(manager->Allocate(), PVL_OK);
    auto lines = CaptureEnd();
    EXPECT_TRUE(Contains(lines, c.line));
    std::vector<Span> spans = TakeAll();
    ASSERT_EQ(spans.size(), c.count);
    // Every frame has memory of its own that the VFE reaches by physical address.
    EXPECT_TRUE(Disjoint(spans));
    for (const Span& s : spans) {
      EXPECT_EQ(s.capacity, c.size);
      EXPECT_NE(s.phys, 0u);
      EXPECT_EQ(s.phys, CameraPMEMGetPhysicalAddress(reinterpret_cast<void*>(uintptr_t(s.virt))));
      std::memset(reinterpret_cast<void*>(uintptr_t(s.virt)), 0xA5, c.size);
    }
    for (IPvlMediaBuffer* b : out) b->Release();
    out.clear();
    EXPECT_EQ(FreeCount(), c.count);
    CaptureBegin();
    EXPECT_EQ(manager->Free(), PVL_OK);
    EXPECT_TRUE(Contains(CaptureEnd(), "Completed freeing"));
  }
}

// Two pools alive at once (preview and capture outputs) never share memory either.
TEST_F(BufferManagerTest, TwoLivePoolsAreDisjoint) {
  CPvlPtr<ICameraBufferManager> second;
  ASSERT_EQ(PVL_OK, CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, second.Out()));
  BufferRequest a = Request(4, 460800, ZUEUID_BUFFER_SOURCE_CONTIGUOUS, 8);
  BufferRequest b = Request(4, 1382400, ZUEUID_BUFFER_SOURCE_CONTIGUOUS, 8);
  ASSERT_EQ(manager->InitRequirements(&a, 0, 0), PVL_OK);
  ASSERT_EQ(second->InitRequirements(&b, 0, 0), PVL_OK);
  ASSERT_EQ(manager->Allocate(), PVL_OK);
  ASSERT_EQ(second->Allocate(), PVL_OK);
  std::vector<Span> spans = TakeAll();
  IPvlMediaBuffer* x = nullptr;
  std::vector<IPvlMediaBuffer*> secondOut;
  while (second->GetBuffer(1, &x) == PVL_OK) {
    Span s{};
    x->GetVirtualAddress(&s.virt);
    x->GetCapacity(&s.capacity);
    spans.push_back(s);
    secondOut.push_back(x);
  }
  ASSERT_EQ(spans.size(), 8u);
  EXPECT_TRUE(Disjoint(spans));
  for (IPvlMediaBuffer* p : secondOut) p->Release();
  EXPECT_EQ(second->Free(), PVL_OK);
}

TEST_F(BufferManagerTest, HeapPoolsHaveNoPhysicalAddress) {
  for (uint32_t source : {0u, ZUEUID_BUFFER_SOURCE_HEAP}) {
    BufferRequest r = Request(3, 1000, source, 4);
    ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
    ASSERT_EQ(manager->Allocate(), PVL_OK);
    std::vector<Span> spans = TakeAll();
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[1].virt - spans[0].virt, 1008u) << "buffers sit at aligned steps";
    uint64_t phys = 0;
    EXPECT_EQ(out[0]->GetPhysicalAddress(&phys), PVL_E_VALUENOTPRESENT);
    for (IPvlMediaBuffer* b : out) b->Release();
    out.clear();
    EXPECT_EQ(manager->Free(), PVL_OK);
  }
}

TEST_F(BufferManagerTest, GetBufferAnswersByState) {
  IPvlMediaBuffer* b = nullptr;
  EXPECT_EQ(manager->GetBuffer(1, nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(manager->GetBuffer(1, &b), PVL_E_OUTERREFUSED) << "no requirements yet";
  BufferRequest r = Request(1, 4096, 0);
  ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
  EXPECT_EQ(manager->GetBuffer(1, &b), CAMERA_BM_E_NOT_ALLOCATED);
  ASSERT_EQ(manager->Allocate(), PVL_OK);
  ASSERT_EQ(manager->GetBuffer(1, &b), PVL_OK);
  out.push_back(b);
  IPvlMediaBuffer* none = nullptr;
  EXPECT_EQ(manager->GetBuffer(1, &none), CAMERA_BM_E_NO_FREE_BUFFER);
  EXPECT_EQ(none, nullptr);
}

TEST_F(BufferManagerTest, AWaitingTakerGetsTheNextReturnedBuffer) {
  BufferRequest r = Request(1, 4096, 0);
  ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
  ASSERT_EQ(manager->Allocate(), PVL_OK);
  IPvlMediaBuffer* first = nullptr;
  ASSERT_EQ(manager->GetBuffer(1, &first), PVL_OK);
  std::atomic<bool> done{false};
  IPvlMediaBuffer* got = nullptr;
  PvlResult result = -1;
  std::thread taker([&] {
    result = manager->GetBuffer(0, &got);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(done);
  first->Release();
  taker.join();
  EXPECT_EQ(result, PVL_OK);
  EXPECT_EQ(got, first);
  if (got) out.push_back(got);
}

TEST_F(BufferManagerTest, FreeWaitsForTheLastBufferAndRefusesTakersMeanwhile) {
  BufferRequest r = Request(3, 4096, ZUEUID_BUFFER_SOURCE_CONTIGUOUS, 8);
  ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
  ASSERT_EQ(manager->Allocate(), PVL_OK);
  IPvlMediaBuffer *a = nullptr, *b = nullptr;
  ASSERT_EQ(manager->GetBuffer(1, &a), PVL_OK);
  ASSERT_EQ(manager->GetBuffer(1, &b), PVL_OK);
  CaptureBegin();
  EXPECT_EQ(manager->Free(), PVL_OK);
  // A producer that keeps cycling buffers cannot hold the free off.
  IPvlMediaBuffer* c = nullptr;
  EXPECT_EQ(manager->GetBuffer(1, &c), CAMERA_BM_E_NOT_ALLOCATED);
  a->Release();
  EXPECT_FALSE(Contains(CaptureEnd(), "Completed freeing"));
  CaptureBegin();
  b->Release();
  EXPECT_TRUE(Contains(CaptureEnd(), "Completed freeing 3 buffers of size 4096"));
  uint32_t total = 9, free = 9;
  ASSERT_EQ(manager->GetCounts(&total, &free), PVL_OK);
  EXPECT_EQ(total, 0u);
}

TEST_F(BufferManagerTest, AWaitingTakerIsReleasedByFree) {
  BufferRequest r = Request(1, 4096, 0);
  ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
  ASSERT_EQ(manager->Allocate(), PVL_OK);
  IPvlMediaBuffer* held = nullptr;
  ASSERT_EQ(manager->GetBuffer(1, &held), PVL_OK);
  PvlResult result = -1;
  IPvlMediaBuffer* got = nullptr;
  std::thread taker([&] { result = manager->GetBuffer(0, &got); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(manager->Free(), PVL_OK);
  taker.join();
  EXPECT_EQ(result, CAMERA_BM_E_NOT_ALLOCATED);
  EXPECT_EQ(got, nullptr);
  held->Release();
}

TEST_F(BufferManagerTest, ABufferComesHomeExactlyOnce) {
  BufferRequest r = Request(2, 4096, 0);
  ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
  ASSERT_EQ(manager->Allocate(), PVL_OK);
  IPvlMediaBuffer* b = nullptr;
  ASSERT_EQ(manager->GetBuffer(1, &b), PVL_OK);
  auto* mb = static_cast<CPvlMediaBuffer*>(b);
  mb->SetActualSize(100);
  b->Release();
  EXPECT_EQ(FreeCount(), 2u);
  b->Release();  // once too often: nothing more comes home, and it is loud
  EXPECT_EQ(FreeCount(), 2u);
  EXPECT_EQ(NewBreaks(), 1u);
  EXPECT_EQ(OrbhostTest_LastBreakValue(), reinterpret_cast<uintptr_t>(mb));
  EXPECT_EQ(mb->GetRefCount(), 0) << "the count never goes below zero";

  // Handed out again, the buffer carries exactly the taker's reference.
  IPvlMediaBuffer* again = nullptr;
  IPvlMediaBuffer* other = nullptr;
  ASSERT_EQ(manager->GetBuffer(1, &again), PVL_OK);
  ASSERT_EQ(manager->GetBuffer(1, &other), PVL_OK);
  EXPECT_EQ(static_cast<CPvlMediaBuffer*>(again)->GetRefCount(), 1);
  EXPECT_EQ(static_cast<CPvlMediaBuffer*>(other)->GetRefCount(), 1);
  uint32_t size = 1;
  again->GetActualSize(&size);
  other->GetActualSize(&size);
  EXPECT_EQ(size, 0u) << "a returned buffer is reset";
  out = {again, other};

  // A return of a buffer that is home already, or of another pool's, is refused.
  auto* self = static_cast<CMCameraBufferManager*>(manager.Get());
  again->Release();
  out = {other};
  const uint32_t breaks = NewBreaks();
  self->BufferReturned(static_cast<CPvlMediaBuffer*>(again));
  CPvlMediaBuffer foreign(self, env);
  self->BufferReturned(&foreign);
  EXPECT_EQ(NewBreaks(), breaks + 2);
  EXPECT_EQ(FreeCount(), 1u);
  ExpectBreaks(3);
}

TEST_F(BufferManagerTest, RegisteredSignalsFireOnEveryReturn) {
  CPvlPtr<ISignalQueue> queue;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, queue.Out()));
  CPvlPtr<ISignalControl> control;
  CPvlPtr<ISignal> signal;
  ASSERT_EQ(PVL_OK, queue->CreateSignal(nullptr, 7, &control, &signal));
  BufferRequest r = Request(2, 4096, 0);
  ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
  ASSERT_EQ(manager->Allocate(), PVL_OK);

  CPvlPtr<ICameraBufferNotify> notify;
  ASSERT_EQ(PVL_OK, manager->QueryInterface(ZUEUID_IFACE_BUFFER_NOTIFY, notify.Out()));
  CPvlPtr<IPvlBase> registration;
  EXPECT_EQ(notify->Register(nullptr, &registration), PVL_E_NULLPTR);
  ASSERT_EQ(PVL_OK, notify->Register(control, &registration));
  for (int round = 0; round < 2; ++round) {
    IPvlMediaBuffer* b = nullptr;
    ASSERT_EQ(manager->GetBuffer(1, &b), PVL_OK);
    b->Release();
    PvlSignalWaitRecord record{};
    ASSERT_EQ(queue->Wait(&record), PVL_OK);  // fired, or this would block
    EXPECT_EQ(record.id, 7u);
    ASSERT_EQ(signal->ReArm(), PVL_OK);
  }
  registration.Reset();  // ends the registration
  IPvlMediaBuffer* b = nullptr;
  ASSERT_EQ(manager->GetBuffer(1, &b), PVL_OK);
  b->Release();
  EXPECT_EQ(signal->ReArm(), PVL_OK);
  // Nothing pending: a fire of our own is the first thing the queue reports.
  ASSERT_EQ(control->Fire(), PVL_OK);
  PvlSignalWaitRecord record{};
  ASSERT_EQ(queue->Wait(&record), PVL_OK);
  signal.Reset();
  control.Reset();
}

TEST_F(BufferManagerTest, ClientMemoryBecomesPoolBuffers) {
  std::vector<uint8_t> memory(3 * 4096);
  BufferRequest r = Request(2, 4096, ZUEUID_BUFFER_SOURCE_CONTIGUOUS);
  ASSERT_EQ(manager->InitRequirements(&r, 1, 0), PVL_OK);
  EXPECT_EQ(manager->Allocate(), PVL_OK) << "nothing to allocate for client memory";
  const uintptr_t base = reinterpret_cast<uintptr_t>(memory.data());
  IPvlMediaBuffer* b = nullptr;
  struct Case {
    const char* name;
    uintptr_t virt;
    uint32_t phys;
    uint8_t physValid;
    uint32_t capacity;
    PvlResult result;
  } refusals[] = {
      {"no virtual address", 0, 0, 0, 4096, PVL_E_NULLPTR},
      {"physical flagged but zero", base, 0, 1, 4096, PVL_E_NULLPTR},
      {"wrong capacity", base, 0, 0, 4095, PVL_E_BADARG},
  };
  for (const Case& c : refusals)
    EXPECT_EQ(manager->AddExternalBuffer(c.virt, c.phys, c.physValid, c.capacity, &b), c.result) << c.name;
  EXPECT_EQ(manager->AddExternalBuffer(base, 0, 0, 4096, nullptr), PVL_E_NULLPTR);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(manager->AddExternalBuffer(base + i * 4096, 0x100000 + i * 4096, 1, 4096, &b), PVL_OK);
    out.push_back(b);
  }
  EXPECT_EQ(manager->AddExternalBuffer(base + 8192, 0, 0, 4096, &b), PVL_E_NOTREADY) << "beyond the count";
  for (IPvlMediaBuffer* x : out) x->Release();
  out.clear();
  EXPECT_EQ(FreeCount(), 2u);
  std::vector<Span> spans = TakeAll();
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].phys + spans[1].phys, 0x100000u * 2 + 4096);
  for (IPvlMediaBuffer* x : out) x->Release();
  out.clear();
  EXPECT_EQ(manager->Free(), PVL_OK);
}

TEST_F(BufferManagerTest, AFailedAllocationLeavesNothingBehind) {
  struct Case {
    const char* name;
    bool testMode;
    uint32_t count, size;
    int pmemFailures;
    uint32_t heapFailure;  // n-th framework-heap request fails
    const char* line;
  } cases[] = {
      {"contiguous block", true, 4, 0x1000, 1, 0, "CameraPMEMMalloc failed: block size=16384"},
      {"buffer by buffer", true, 4, 0x100000, 1, 0, "CameraPMEMMalloc failed: size=1048576"},
      {"third media buffer object", false, 4, 0x1000, 0, 3, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSetCameraTestMode(c.testMode);
    BufferRequest r = Request(c.count, c.size, ZUEUID_BUFFER_SOURCE_CONTIGUOUS, 8);
    ASSERT_EQ(manager->InitRequirements(&r, 0, 0), PVL_OK);
    CaptureBegin();
    ChipSimPmemFailNext(c.pmemFailures);
    OrbhostTest_FailAllocation(c.heapFailure);
    PvlResult res = manager->Allocate();
    OrbhostTest_FailAllocation(0);
    ChipSimPmemFailNext(0);
    auto lines = CaptureEnd();
    EXPECT_EQ(res, PVL_E_OUTOFMEMORY);
    if (c.line) {
      EXPECT_TRUE(Contains(lines, c.line));
    }
    IPvlMediaBuffer* b = nullptr;
    EXPECT_EQ(manager->GetBuffer(1, &b), CAMERA_BM_E_NOT_ALLOCATED);
    // And it can be tried again.
    ASSERT_EQ(manager->Allocate(), PVL_OK);
    EXPECT_EQ(manager->Free(), PVL_OK);
  }
}

}  // namespace
