// pvlheap: the module heap over the environment's allocator.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "fakehost.h"
#include "pvlheap.h"

using runtime_test::Env;

namespace {

class HeapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_test::ResetHost();
    base_ = Env().RefCount();
  }
  void TearDown() override { EXPECT_EQ(Env().LiveBlocks(), 0u) << "leaked blocks"; }
  int32_t base_ = 0;
};

TEST_F(HeapTest, MallocOfZeroAllocatesOneByteAndTheHeader) {
  void* p = pvlheap_Malloc(0, &Env(), nullptr);
  ASSERT_NE(p, nullptr);
  constexpr uint32_t kHeader = sizeof(pvlheap_BlockHeaderRecord);  // 8 on the phone
  EXPECT_EQ(Env().LastSize(), kHeader + 1);
  EXPECT_EQ(Env().LiveBlocksTagged(":172"), 1u);  // the default tag
  pvlheap_BlockHeaderRecord* h = pvlheap_BlockHeader(p);
  EXPECT_EQ(static_cast<void*>(h), static_cast<char*>(p) - kHeader);
  EXPECT_EQ(h->env, &Env());
  EXPECT_EQ(h->holdsRef, 0u);
  EXPECT_EQ(Env().RefCount(), base_);
  pvlheap_Free(p);
}

TEST_F(HeapTest, ABlockGoesBackToTheEnvironmentThatMadeIt) {
  runtime_test::FakeEnv other;
  void* p = pvlheap_Malloc(16, &other, "mine:1");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(other.LiveBlocks(), 1u);
  pvlheap_Free(p);  // names no environment
  EXPECT_EQ(other.LiveBlocks(), 0u);
  EXPECT_EQ(Env().ReallocCalls(), 0u);
}

TEST_F(HeapTest, AnEnvironmentTheHeapCreatedIsHeldUntilTheBlockGoes) {
  char* p = static_cast<char*>(pvlheap_New(10));
  EXPECT_EQ(Env().RefCount(), base_ + 1);
  EXPECT_EQ(pvlheap_BlockHeader(p)->holdsRef, 1u);
  std::memcpy(p, "framework", 10);
  char* q = static_cast<char*>(pvlheap_Realloc(p, 4000, nullptr, nullptr));
  ASSERT_NE(q, nullptr);
  EXPECT_STREQ(q, "framework");
  EXPECT_EQ(Env().RefCount(), base_ + 1);
  EXPECT_EQ(pvlheap_BlockHeader(q)->holdsRef, 1u);
  pvlheap_Free(q);
  EXPECT_EQ(Env().RefCount(), base_);
}

TEST_F(HeapTest, ImpossibleSizesAreRefusedWithoutWrapping) {
  try {
    pvlheap_New(0xFFFFFFFFu);
    ADD_FAILURE() << "no exception";
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "bad allocation");
  }
  constexpr uint32_t kLargest = PVLHEAP_MAX_REQUEST;  // 0xFFFFFFF7 on the phone
  EXPECT_THROW(pvlheap_NewArray(kLargest + 1), std::bad_alloc);
  for (uint32_t size = kLargest + 1; size != 0; ++size) {
    EXPECT_EQ(pvlheap_NewNoThrow(size), nullptr) << size;
    EXPECT_EQ(pvlheap_Malloc(size, &Env(), nullptr), nullptr) << size;
  }
  EXPECT_EQ(Env().ReallocCalls(), 0u);  // never handed a wrapped size
  EXPECT_EQ(Env().RefCount(), base_);
  EXPECT_EQ(pvlheap_NewNoThrow(kLargest), nullptr);  // fits, but the allocator refuses
  EXPECT_EQ(Env().LastSize(), 0xFFFFFFFFu);
  EXPECT_EQ(Env().RefCount(), base_);
}

TEST_F(HeapTest, AFailedResizeKeepsTheOldBlock) {
  char* p = static_cast<char*>(pvlheap_New(8));
  std::memcpy(p, "abcdefg", 8);
  Env().FailNth(1);
  EXPECT_EQ(pvlheap_Realloc(p, 64, nullptr, nullptr), nullptr);
  EXPECT_STREQ(p, "abcdefg");
  EXPECT_EQ(pvlheap_BlockHeader(p)->env, &Env());
  EXPECT_EQ(pvlheap_BlockHeader(p)->holdsRef, 1u);
  EXPECT_EQ(Env().RefCount(), base_ + 1);
  EXPECT_EQ(Env().LiveBlocks(), 1u);
  pvlheap_Free(p);
  EXPECT_EQ(Env().RefCount(), base_);
}

TEST_F(HeapTest, AFailedAllocationDropsTheEnvironmentItCreated) {
  Env().FailNth(1);
  EXPECT_EQ(pvlheap_NewNoThrow(8), nullptr);
  EXPECT_EQ(Env().RefCount(), base_);
  Env().FailNth(1);
  EXPECT_THROW(pvlheap_New(8), std::bad_alloc);
  EXPECT_EQ(Env().RefCount(), base_);
}

TEST_F(HeapTest, TagsNameTheEntryPoint) {
  struct Case {
    const char* name;
    std::function<void*()> allocate;
    const char* suffix;
  } cases[] = {
      {"New", [] { return pvlheap_New(4); }, ":224"},
      {"NewArray", [] { return pvlheap_NewArray(4); }, ":237"},
      {"NewNoThrow", [] { return pvlheap_NewNoThrow(4); }, ":244"},
      {"Malloc", [] { return pvlheap_Malloc(4, nullptr, nullptr); }, ":172"},
  };
  for (const Case& c : cases) {
    void* p = c.allocate();
    ASSERT_NE(p, nullptr) << c.name;
    EXPECT_EQ(Env().LiveBlocksTagged(c.suffix), 1u) << c.name << " " << Env().LastTag();
    pvlheap_Free(p);
    const std::string tag = Env().LastTag();
    EXPECT_EQ(tag.substr(tag.size() - 4), ":404") << c.name;
  }
}

TEST_F(HeapTest, RawBlocksAndBadArguments) {
  void* b = reinterpret_cast<void*>(1);
  EXPECT_EQ(Heap_AllocBlock(nullptr, 8, &b), PVL_E_NULLPTR);
  EXPECT_EQ(b, nullptr);  // cleared first
  EXPECT_EQ(Heap_AllocBlock(&Env(), 8, nullptr), PVL_E_NULLPTR);
  ASSERT_EQ(Heap_AllocBlock(&Env(), 32, &b), PVL_OK);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Env().LastSize(), 32u);
  EXPECT_EQ(Heap_FreeBlock(&Env(), &b), PVL_OK);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(Heap_FreeBlock(nullptr, &b), PVL_E_NULLPTR);
  EXPECT_EQ(Heap_FreeBlock(&Env(), nullptr), PVL_E_NULLPTR);

  const uint32_t calls = Env().ReallocCalls();
  pvlheap_Free(nullptr);
  EXPECT_EQ(pvlheap_Realloc(nullptr, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(Env().ReallocCalls(), calls);
  EXPECT_EQ(Env().RefCount(), base_);
}

}  // namespace
