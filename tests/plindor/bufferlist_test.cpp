// The buffer list over one contiguous block, and contiguous memory in test mode.
#include <cstdlib>
#include <cstring>

#include "plindor_fixture.h"

namespace {

constexpr uint32_t kSizes[BUFFER_COUNT] = {0x1400000, 0x352000, 0x736000, 0x763000, 0x1d000,
                                           0x7000,    0x3000,   0xbc000,  0xbc000};

class BufferListTest : public PlindorTest {
 protected:
  void SetUp() override {
    PlindorTest::SetUp();
    ASSERT_EQ(VantorInitBufferManager(), 1);
    SetShared(CAMERA_SHARED_LTK_OFFSET, 0);
    block_ = static_cast<uint8_t*>(VantorGetSnapshotVirtBuffer()) - kSizes[1];
  }
  void TearDown() override {
    SetShared(CAMERA_SHARED_LTK_OFFSET, 0);
    PlindorTest::TearDown();
  }
  // Offset of each entry from the block start.
  static uint32_t Offset(int index) {
    uint32_t off = 0;
    for (int i = 1; i < index; ++i) off += kSizes[i];
    return off;
  }
  uint8_t* block_ = nullptr;
};

TEST_F(BufferListTest, EntriesLieInOrderInOneBlockAndArePublished) {
  uint32_t blockPhys = pmem_get_phys_addr(block_);
  ASSERT_NE(blockPhys, 0u);
  struct Entry {
    int index;
    uint32_t sharedOffset;
  } entries[] = {
      {BUFFER_AUX1_IDX, CAMERA_SHARED_AUX1_OFFSET},         {BUFFER_SNAPSHOT_IDX, CAMERA_SHARED_SNAPSHOT_OFFSET},
      {BUFFER_JPEG_IDX, CAMERA_SHARED_JPEG_OFFSET},         {BUFFER_THUMBNAIL_IDX, CAMERA_SHARED_THUMBNAIL_OFFSET},
      {BUFFER_WBSTATS_IDX, CAMERA_SHARED_WBSTATS_OFFSET},   {BUFFER_AFSTATS_IDX, CAMERA_SHARED_AFSTATS_OFFSET},
      {BUFFER_ACTION_SCREEN_IDX, CAMERA_SHARED_ACTION_SCREEN_OFFSET}, {BUFFER_AUX8_IDX, CAMERA_SHARED_AUX8_OFFSET},
  };
  for (const Entry& e : entries) {
    uint8_t* virt = block_ + Offset(e.index);
    EXPECT_EQ(GetShared(e.sharedOffset), uint32_t(uintptr_t(virt))) << e.index;
    // Physical addresses step exactly as the virtual ones.
    EXPECT_EQ(CameraPMEMGetPhysicalAddress(virt), blockPhys + Offset(e.index)) << e.index;
  }
  EXPECT_EQ(VantorGetJPEGVirtBuffer(), block_ + Offset(BUFFER_JPEG_IDX));
  EXPECT_EQ(VantorGetActionScreenVirtBuffer(), block_ + Offset(BUFFER_ACTION_SCREEN_IDX));
  EXPECT_EQ(GetShared(CAMERA_SHARED_LTK_OFFSET), 0u);
  EXPECT_EQ(GetShared(CAMERA_SHARED_CAMOPEN_OFFSET), 0u);
  // The last entry ends inside the block.
  EXPECT_LE(Offset(BUFFER_AUX8_IDX) + kSizes[BUFFER_AUX8_IDX], kSizes[0]);
  EXPECT_TRUE(CeSimDebugCapturedContains("gBMList[BUFFER_SNAPSHOT_IDX].VirtAddress: 0x"));
}

TEST_F(BufferListTest, RequestsGetTheFixedBufferOfTheirKind) {
  struct Case {
    uint32_t size;
    int index;
    const char* log;
  } cases[] = {
      {0x3000, BUFFER_AFSTATS_IDX, "gBMList[BUFFER_AFSTATS_IDX].VirtAddress"},
      {0x6300, BUFFER_WBSTATS_IDX, "gBMList[BUFFER_WBSTATS_IDX].VirtAddress"},
      {92160, BUFFER_THUMBNAIL_IDX, "gBMList[BUFFER_THUMBNAIL_IDX].VirtAddress"},
      {115200, BUFFER_THUMBNAIL_IDX, "gBMList[BUFFER_THUMBNAIL_IDX].VirtAddress"},
      {100, BUFFER_SNAPSHOT_IDX, "gBMList[BUFFER_SNAPSHOT_IDX].VirtAddress"},
      {0x736000, BUFFER_SNAPSHOT_IDX, "gBMList[BUFFER_SNAPSHOT_IDX].VirtAddress"},
  };
  for (const Case& c : cases) {
    CeSimDebugCaptureBegin();
    void* p = CameraPMEMMalloc(c.size);
    EXPECT_EQ(p, block_ + Offset(c.index)) << c.size;
    EXPECT_TRUE(CeSimDebugCapturedContains(c.log)) << c.size;
    CameraPMEMFree(p);
  }
}

// Two holders never share memory: while the fixed buffer is taken, a request of
// its kind gets contiguous memory of its own; once freed, the fixed one serves again.
TEST_F(BufferListTest, ATakenFixedBufferIsNotHandedOutTwice) {
  const size_t blocksBefore = ChipSimPmemBlocks().size();
  auto* first = static_cast<uint8_t*>(CameraPMEMMalloc(0x100000));
  auto* second = static_cast<uint8_t*>(CameraPMEMMalloc(0x100000));
  ASSERT_EQ(first, block_ + Offset(BUFFER_SNAPSHOT_IDX));
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second + 0x100000 <= first || first + 0x100000 <= second);
  EXPECT_NE(CameraPMEMGetPhysicalAddress(second), 0u);
  EXPECT_EQ(ChipSimPmemBlocks().size(), blocksBefore + 1);
  EXPECT_EQ(CameraPMEMFree(second), 0);
  EXPECT_EQ(CameraPMEMFree(first), 0);
  EXPECT_EQ(ChipSimPmemBlocks().size(), blocksBefore);
  void* again = CameraPMEMMalloc(0x100000);
  EXPECT_EQ(again, first);
  CameraPMEMFree(again);
}

TEST_F(BufferListTest, RequestsLargerThanTheirBufferAreRefused) {
  EXPECT_EQ(CameraPMEMMalloc(0x736001), nullptr);
  EXPECT_EQ(CameraPMEMMalloc(0x1400000), nullptr);
  EXPECT_EQ(CameraPMEMMalloc(0xFFFFFFFF), nullptr);
  EXPECT_TRUE(CeSimDebugCapturedContains("do not fit gBMList[2]"));
}

TEST_F(BufferListTest, OutsideTestModeFreeingKeepsTheBuffer) {
  uint8_t* af = static_cast<uint8_t*>(CameraPMEMMalloc(0x3000));
  ASSERT_NE(af, nullptr);
  std::memset(af, 0x5A, 0x3000);
  EXPECT_EQ(CameraPMEMFree(af), 0);
  EXPECT_NE(pmem_get_phys_addr(af), 0u);
  EXPECT_EQ(af[0x2FFF], 0x5A);
}

TEST_F(BufferListTest, InTestModeMemoryIsReallyAllocatedAndFreed) {
  SetShared(CAMERA_SHARED_LTK_OFFSET, 1);
  auto* p = static_cast<uint8_t*>(CameraPMEMMalloc(0x3000));
  ASSERT_NE(p, nullptr);
  EXPECT_NE(p, block_ + Offset(BUFFER_AFSTATS_IDX));
  EXPECT_NE(CameraPMEMGetPhysicalAddress(p), 0u);
  auto* q = static_cast<uint8_t*>(CameraPMEMMalloc(0x3000));
  EXPECT_NE(p, q);
  EXPECT_EQ(CameraPMEMFree(p), 1);
  EXPECT_EQ(CameraPMEMGetPhysicalAddress(p), 0u);
  EXPECT_EQ(CameraPMEMFree(q), 1);
}

TEST_F(BufferListTest, ASecondStartTakesNoSecondBlock) {
  ChipSimClearCalls();
  ASSERT_EQ(VantorInitBufferManager(), 1);
  EXPECT_TRUE(CallsNamed("pmem_malloc").empty());
  EXPECT_EQ(VantorGetSnapshotVirtBuffer(), block_ + Offset(BUFFER_SNAPSHOT_IDX));
}

TEST_F(BufferListTest, PhysicalAddressOfOtherMemoryIsZero) {
  int local = 0;
  EXPECT_EQ(CameraPMEMGetPhysicalAddress(&local), 0u);
  EXPECT_EQ(CameraPMEMGetPhysicalAddress(nullptr), 0u);
}

// A process whose first start-up finds no contiguous memory.
TEST(BufferListStart, AFailedBlockAllocationFailsTheStartAndHandsOutNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        bool ok = CameraPMEMMalloc(100) == nullptr;  // nothing yet
        ChipSimPmemFailNext(1);
        ok = ok && VantorInitBufferManager() == 0;
        ok = ok && VantorGetSnapshotVirtBuffer() == nullptr && CameraPMEMMalloc(100) == nullptr;
        CeSimDebugCaptureBegin();
        ok = ok && VantorInitBufferManager() == 1 && CameraPMEMMalloc(100) != nullptr;
        // Each entry is logged as it is carved out.
        ok = ok && CeSimDebugCapturedContains("gBMList[1].length: 3481600") &&
             CeSimDebugCapturedContains("gBMList[8].PhysAddress: 0x") &&
             CeSimDebugCapturedContains("gBMList[8].VirtAddress: 0x");
        CeSimDebugCaptureEnd();
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
