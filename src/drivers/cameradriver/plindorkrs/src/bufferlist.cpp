// The buffer list: one 20 MiB contiguous block carved into fixed buffers.
//
// Outside test mode a request gets the fixed buffer of its kind. A fixed buffer
// serves one holder at a time: while it is taken, further requests of its kind
// get contiguous memory of their own, so that two frame buffers never share
// memory (a pool's frames would overwrite each other). Freeing a fixed buffer
// makes it available again, so one still at a time keeps using the same one.
#include <atomic>

#include "plindor_internal.h"

using namespace plindor;

namespace {

constexpr uint32_t kBlockSize = 0x1400000;
constexpr uint32_t kPmemFlags = 9;
constexpr uint32_t kSizes[BUFFER_COUNT] = {0, 0x352000, 0x736000, 0x763000, 0x1d000, 0x7000, 0x3000, 0xbc000, 0xbc000};
constexpr uint32_t kSizesSum = 0x138A000;
static_assert(kSizes[1] + kSizes[2] + kSizes[3] + kSizes[4] + kSizes[5] + kSizes[6] + kSizes[7] + kSizes[8] ==
              kSizesSum);

struct Published {
  int index;
  uint32_t offset;
};
constexpr Published kPublished[] = {
    {BUFFER_AUX1_IDX, CAMERA_SHARED_AUX1_OFFSET},         {BUFFER_THUMBNAIL_IDX, CAMERA_SHARED_THUMBNAIL_OFFSET},
    {BUFFER_SNAPSHOT_IDX, CAMERA_SHARED_SNAPSHOT_OFFSET}, {BUFFER_JPEG_IDX, CAMERA_SHARED_JPEG_OFFSET},
    {BUFFER_WBSTATS_IDX, CAMERA_SHARED_WBSTATS_OFFSET},   {BUFFER_AFSTATS_IDX, CAMERA_SHARED_AFSTATS_OFFSET},
    {BUFFER_ACTION_SCREEN_IDX, CAMERA_SHARED_ACTION_SCREEN_OFFSET}, {BUFFER_AUX8_IDX, CAMERA_SHARED_AUX8_OFFSET},
};

BMListEntry gBMList[BUFFER_COUNT];
std::atomic<bool> gTaken[BUFFER_COUNT];

// The fixed buffer that starts at `address`, or -1.
int FixedIndexAt(void* address) {
  const uint32_t a = uint32_t(uintptr_t(address));
  for (int i = 1; i < BUFFER_COUNT; ++i)
    if (a != 0 && gBMList[i].VirtAddress == a) return i;
  return -1;
}

bool InsideListBlock(void* address) {
  const uint32_t a = uint32_t(uintptr_t(address));
  const BMListEntry& b = gBMList[BUFFER_BLOCK_IDX];
  return b.VirtAddress != 0 && a >= b.VirtAddress && a - b.VirtAddress < b.length;
}

void* Virt(int index) { return reinterpret_cast<void*>(uintptr_t(gBMList[index].VirtAddress)); }

void Publish() {
  for (const Published& p : kPublished) SharedWrite(p.offset, gBMList[p.index].VirtAddress);
  SharedWrite(CAMERA_SHARED_LTK_OFFSET, 0);
  SharedWrite(CAMERA_SHARED_CAMOPEN_OFFSET, 0);
}

int BMList_Init() {
  // The block is taken once; a second start-up reuses it rather than leaking it.
  if (gBMList[BUFFER_BLOCK_IDX].VirtAddress != 0) {
    Publish();
    return 1;
  }
  for (BMListEntry& e : gBMList) e = BMListEntry{};
  uint32_t needed = 0;
  for (uint32_t s : kSizes) needed += s;

  void* block = pmem_malloc(kBlockSize, kPmemFlags);
  if (!block) {
    NKDbgPrintfW(u"pmem_malloc(%u) failed for the camera buffers\r\n", kBlockSize);
    return 0;
  }
  gBMList[0].VirtAddress = uint32_t(uintptr_t(block));
  gBMList[0].PhysAddress = pmem_get_phys_addr(block);
  gBMList[0].length = kBlockSize;

  uint32_t total = 0;
  for (int i = 1; i < BUFFER_COUNT; ++i) {
    gBMList[i].VirtAddress = gBMList[i - 1].VirtAddress + kSizes[i - 1];
    gBMList[i].PhysAddress = gBMList[i - 1].PhysAddress + kSizes[i - 1];
    gBMList[i].length = kSizes[i];
    total += gBMList[i].length;
    if (total > gBMList[0].length) {
      NKDbgPrintfW(u"Passed-in memory(%u Byte) is NOT enough, need %u Byte\r\n", gBMList[0].length, needed);
      pmem_free(block);
      for (BMListEntry& e : gBMList) e = BMListEntry{};
      return 0;
    }
    NKDbgPrintfW(u"gBMList[%d].PhysAddress: 0x%08x\r\n", i, gBMList[i].PhysAddress);
    NKDbgPrintfW(u"gBMList[%d].VirtAddress: 0x%08x\r\n", i, gBMList[i].VirtAddress);
    NKDbgPrintfW(u"gBMList[%d].length: %u\r\n", i, gBMList[i].length);
  }
  Publish();
  return 1;
}

void LogEntry(int index) {
  switch (index) {
    case BUFFER_AFSTATS_IDX:
      NKDbgPrintfW(u"gBMList[BUFFER_AFSTATS_IDX].VirtAddress: 0x%08x\r\n", gBMList[index].VirtAddress);
      break;
    case BUFFER_WBSTATS_IDX:
      NKDbgPrintfW(u"gBMList[BUFFER_WBSTATS_IDX].VirtAddress: 0x%08x\r\n", gBMList[index].VirtAddress);
      break;
    case BUFFER_THUMBNAIL_IDX:
      NKDbgPrintfW(u"gBMList[BUFFER_THUMBNAIL_IDX].VirtAddress: 0x%08x\r\n", gBMList[index].VirtAddress);
      break;
    case BUFFER_JPEG_IDX:
      NKDbgPrintfW(u"gBMList[BUFFER_JPEG_IDX].VirtAddress: 0x%08x\r\n", gBMList[index].VirtAddress);
      break;
    case BUFFER_ACTION_SCREEN_IDX:
      NKDbgPrintfW(u"gBMList[BUFFER_ACTION_SCREEN_IDX].VirtAddress: 0x%08x\r\n", gBMList[index].VirtAddress);
      break;
    default:
      NKDbgPrintfW(u"gBMList[BUFFER_SNAPSHOT_IDX].VirtAddress: 0x%08x\r\n", gBMList[index].VirtAddress);
      break;
  }
}

}  // namespace

extern "C" PLINDOR_API int VantorInitBufferManager(void) { return BMList_Init(); }

extern "C" PLINDOR_API void* CameraPMEMMalloc(uint32_t size) {
  if (VantorIsCameraLTKRunning() == 1) return pmem_malloc(size, kPmemFlags);
  int index;
  if (size == 0x3000)
    index = BUFFER_AFSTATS_IDX;
  else if (size == 0x6300)
    index = BUFFER_WBSTATS_IDX;
  else if (size == 92160 || size == 115200)
    index = BUFFER_THUMBNAIL_IDX;
  else
    index = BUFFER_SNAPSHOT_IDX;
  LogEntry(index);
  if (gBMList[index].VirtAddress == 0) {
    NKDbgPrintfW(u"CameraPMEMMalloc: buffer list not initialised\r\n");
    return nullptr;
  }
  // A fixed buffer serves only requests that fit in it.
  if (size > gBMList[index].length) {
    NKDbgPrintfW(u"CameraPMEMMalloc: %u bytes do not fit gBMList[%d] (%u bytes)\r\n", size, index,
                 gBMList[index].length);
    return nullptr;
  }
  bool expected = false;
  if (gTaken[index].compare_exchange_strong(expected, true)) return Virt(index);
  // Taken: memory of its own for this request.
  void* own = pmem_malloc(size, kPmemFlags);
  if (!own) NKDbgPrintfW(u"CameraPMEMMalloc: gBMList[%d] is taken and %u bytes could not be allocated\r\n", index, size);
  return own;
}

extern "C" PLINDOR_API int CameraPMEMFree(void* address) {
  uint8_t testMode = VantorIsCameraLTKRunning();
  if (testMode == 1) {
    pmem_free(address);
  } else if (int index = FixedIndexAt(address); index >= 0) {
    gTaken[index] = false;
  } else if (address && !InsideListBlock(address) && pmem_get_phys_addr(address) != 0) {
    pmem_free(address);
  }
  return testMode;
}

extern "C" PLINDOR_API uint32_t CameraPMEMGetPhysicalAddress(void* virtualAddress) {
  return pmem_get_phys_addr(virtualAddress);
}

extern "C" PLINDOR_API void* VantorGetSnapshotVirtBuffer(void) {
  NKDbgPrintfW(u"gBMList[BUFFER_SNAPSHOT_IDX].VirtAddress: 0x%08x\r\n", gBMList[BUFFER_SNAPSHOT_IDX].VirtAddress);
  return Virt(BUFFER_SNAPSHOT_IDX);
}

extern "C" PLINDOR_API void* VantorGetJPEGVirtBuffer(void) {
  NKDbgPrintfW(u"gBMList[BUFFER_JPEG_IDX].VirtAddress: 0x%08x\r\n", gBMList[BUFFER_JPEG_IDX].VirtAddress);
  return Virt(BUFFER_JPEG_IDX);
}

extern "C" PLINDOR_API void* VantorGetActionScreenVirtBuffer(void) {
  NKDbgPrintfW(u"gBMList[BUFFER_ACTION_SCREEN_IDX].VirtAddress: 0x%08x\r\n",
               gBMList[BUFFER_ACTION_SCREEN_IDX].VirtAddress);
  return Virt(BUFFER_ACTION_SCREEN_IDX);
}
