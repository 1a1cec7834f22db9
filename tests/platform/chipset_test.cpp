// The chipset stand-in: contiguous memory and its physical map, register
// windows with model hooks, recorded calls and the interrupt lock.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "chipset.h"
#include "chipset_sim.h"

namespace {

class ChipsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ChipSimClearCalls();
    ChipSimClearMessages();
    ChipSimPmemFailNext(0);
  }
};

TEST_F(ChipsetTest, PmemBlocksHave32BitPhysicalAddressesAndMapBothWays) {
  void* a = pmem_malloc(10000, 9);
  void* b = pmem_malloc(0x6400000, 9);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  uint32_t pa = pmem_get_phys_addr(a), pb = pmem_get_phys_addr(b);
  EXPECT_NE(pa, 0u);
  EXPECT_NE(pb, 0u);
  EXPECT_EQ(pa % 4096, 0u);
  // Blocks do not overlap physically.
  EXPECT_TRUE(pa + 12288 <= pb || pb + 0x6400000 <= pa);
  // Interior addresses map by offset, both ways.
  auto* bytes = static_cast<uint8_t*>(b);
  EXPECT_EQ(pmem_get_phys_addr(bytes + 0x623456), pb + 0x623456);
  EXPECT_EQ(ChipSimPhysToVirt(pb + 0x1000, 0x2000), bytes + 0x1000);
  // A range running past the block's end, or address 0, is not memory.
  EXPECT_EQ(ChipSimPhysToVirt(pb + 0x6400000 - 16, 32), nullptr);
  EXPECT_EQ(ChipSimPhysToVirt(0, 4), nullptr);
  // Writes through the physical map land in the block.
  std::memset(ChipSimPhysToVirt(pb + 64, 4), 0xAB, 4);
  EXPECT_EQ(bytes[64], 0xAB);
  pmem_free(a);
  pmem_free(b);
  EXPECT_EQ(pmem_get_phys_addr(b), 0u);
  EXPECT_EQ(ChipSimPhysToVirt(pb, 4), nullptr);
}

TEST_F(ChipsetTest, PhysicalAddressOfMemoryItDidNotGiveIsZero) {
  int onStack = 0;
  std::vector<uint8_t> heap(64);
  EXPECT_EQ(pmem_get_phys_addr(&onStack), 0u);
  EXPECT_EQ(pmem_get_phys_addr(heap.data()), 0u);
  EXPECT_EQ(pmem_get_phys_addr(nullptr), 0u);
  pmem_free(heap.data());  // not ours: ignored
}

TEST_F(ChipsetTest, PmemRefusesEmptyImpossibleAndInjectedFailures) {
  EXPECT_EQ(pmem_malloc(0, 9), nullptr);
  EXPECT_EQ(pmem_malloc(0xF0000000u, 9), nullptr);
  ChipSimPmemFailNext(1);
  EXPECT_EQ(pmem_malloc(4096, 9), nullptr);
  void* p = pmem_malloc(4096, 9);
  EXPECT_NE(p, nullptr);
  pmem_free(p);
}

TEST_F(ChipsetTest, FreedPhysicalRangesAreReused) {
  void* a = pmem_malloc(0x100000, 9);
  uint32_t pa = pmem_get_phys_addr(a);
  pmem_free(a);
  void* b = pmem_malloc(0x100000, 9);
  EXPECT_EQ(pmem_get_phys_addr(b), pa);
  pmem_free(b);
}

TEST_F(ChipsetTest, MappingAWindowTwiceGivesOneCopy) {
  volatile void* a = get_virtual_address(0x62340000, 0x1000);
  volatile void* b = get_virtual_address(0x62340000, 0x1000);
  volatile void* inner = get_virtual_address(0x62340010, 4);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(inner, static_cast<volatile uint8_t*>(a) + 0x10);
  chip_reg_write32(inner, 0x5555AAAA);
  EXPECT_EQ(chip_reg_read32(static_cast<volatile uint8_t*>(b) + 0x10), 0x5555AAAAu);
  // Partly overlapping, empty or wrapping ranges are refused.
  EXPECT_EQ(get_virtual_address(0x62340800, 0x1000), nullptr);
  EXPECT_EQ(get_virtual_address(0x62350000, 0), nullptr);
  EXPECT_EQ(get_virtual_address(0xFFFFF000, 0x2000), nullptr);
}

struct Model {
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  uint32_t reads = 0;
};

uint32_t ModelRead(void* ctx, uint32_t offset, volatile uint32_t* cell) {
  auto* m = static_cast<Model*>(ctx);
  ++m->reads;
  if (offset == 0x20) return 0xC0FFEE00 | m->reads;  // a register with a live value
  return *cell;
}

void ModelWrite(void* ctx, uint32_t offset, uint32_t value, volatile uint32_t* cell) {
  auto* m = static_cast<Model*>(ctx);
  m->writes.push_back({offset, value});
  if (offset == 0x1C) {  // write-one-to-clear of the word at 0x20's neighbour
    cell[1] = cell[1] & ~value;
    return;
  }
  *cell = value;
}

TEST_F(ChipsetTest, WindowHooksSeeEveryRegisterAccess) {
  Model model;
  const ChipSimWindowHooks hooks{ModelRead, ModelWrite};
  ASSERT_TRUE(ChipSimAddWindow(0x63000000, 0x1000, &hooks, &model));
  auto* regs = static_cast<volatile uint8_t*>(get_virtual_address(0x63000000, 0x1000));
  ASSERT_NE(regs, nullptr);
  EXPECT_EQ(chip_reg_read32(regs + 0x20), 0xC0FFEE01u);
  EXPECT_EQ(chip_reg_read32(regs + 0x20), 0xC0FFEE02u);
  chip_reg_write32(regs + 0x4, 7);
  EXPECT_EQ(chip_reg_read32(regs + 0x4), 7u);
  *reinterpret_cast<volatile uint32_t*>(regs + 0x20) = 0xFF;
  chip_reg_write32(regs + 0x1C, 0x0F);
  EXPECT_EQ(*reinterpret_cast<volatile uint32_t*>(regs + 0x20), 0xF0u);
  ASSERT_EQ(model.writes.size(), 2u);
  EXPECT_EQ(model.writes[0], (std::pair<uint32_t, uint32_t>{0x4, 7}));

  // Dropping the hooks leaves a passive window with the stored values.
  ASSERT_TRUE(ChipSimSetWindowHooks(0x63000000, nullptr, nullptr));
  chip_reg_write32(regs + 0x8, 9);
  EXPECT_EQ(model.writes.size(), 2u);
  EXPECT_EQ(chip_reg_read32(regs + 0x8), 9u);
  // Re-adding exactly the same window keeps its memory; an overlapping one is refused.
  EXPECT_TRUE(ChipSimAddWindow(0x63000000, 0x1000, &hooks, &model));
  EXPECT_EQ(chip_reg_read32(regs + 0x8), 9u);
  EXPECT_FALSE(ChipSimAddWindow(0x63000800, 0x1000, nullptr, nullptr));
  EXPECT_FALSE(ChipSimSetWindowHooks(0x63000004, &hooks, &model));
}

TEST_F(ChipsetTest, RegisterAccessOutsideWindowsIsPlainMemory) {
  uint32_t word = 3;
  chip_reg_write32(&word, 11);
  EXPECT_EQ(word, 11u);
  EXPECT_EQ(chip_reg_read32(&word), 11u);
}

TEST_F(ChipsetTest, TraceRecordsAccessesOfOneWindow) {
  ASSERT_TRUE(ChipSimAddWindow(0x64000000, 0x100, nullptr, nullptr));
  auto* regs = static_cast<volatile uint8_t*>(get_virtual_address(0x64000000, 0x100));
  ChipSimTakeTrace();
  ChipSimTraceWindow(0x64000000, true);
  chip_reg_write32(regs + 8, 0x42);
  chip_reg_read32(regs + 8);
  ChipSimTraceWindow(0x64000000, false);
  chip_reg_write32(regs + 8, 0x43);
  auto trace = ChipSimTakeTrace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0].physical, 0x64000008u);
  EXPECT_TRUE(trace[0].write);
  EXPECT_EQ(trace[1].value, 0x42u);
  EXPECT_FALSE(trace[1].write);
}

TEST_F(ChipsetTest, ClockCallsAreRecordedAndKeptAsState) {
  clk_regime_krs_enable(24);
  clk_regime_krs_enable(41);
  clk_regime_sel_vfe_clk(5);
  clk_regime_sel_vfe_src(1);
  clk_regime_krs_sel_camclk(24000000, 0);
  clk_regime_krs_disable(41);
  ChipSimClockState st = ChipSimClocks();
  EXPECT_TRUE(ChipSimRegimeEnabled(24));
  EXPECT_FALSE(ChipSimRegimeEnabled(41));
  EXPECT_EQ(st.vfeClock, 5u);
  EXPECT_EQ(st.vfeSource, 1u);
  EXPECT_EQ(st.cameraClockHz, 24000000u);
  auto calls = ChipSimCalls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[0].name, "clk_regime_krs_enable");
  EXPECT_EQ(calls[4].args, (std::vector<uint32_t>{24000000, 0}));
  clk_regime_krs_disable(24);
}

TEST_F(ChipsetTest, DevmanClientsMustRegisterBeforeRequests) {
  EXPECT_EQ(clk_regime_devman_request("NOBODY", 0, 1), 0);
  EXPECT_EQ(clk_regime_devman_register("CAMERA"), 1);
  EXPECT_EQ(clk_regime_devman_request("CAMERA", 4, 0xFFFFFFFF), 1);
  EXPECT_EQ(clk_regime_devman_deregister("CAMERA"), 1);
  EXPECT_EQ(clk_regime_devman_deregister("CAMERA"), 0);
  EXPECT_EQ(clk_regime_devman_register(nullptr), 0);
  auto calls = ChipSimCalls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[2].text, "CAMERA");
  EXPECT_EQ(calls[2].args, (std::vector<uint32_t>{4, 0xFFFFFFFF}));
}

TEST_F(ChipsetTest, MessagesAndPinCallsAreRecorded) {
  const msg_desc_type desc{12, 41, 4, "desc text", "file.cpp"};
  msg_send_1(&desc, 7, 4, "the text");
  msg_send_3(&desc, 1, 2, 3);
  msg_send_1(nullptr, 0, 4, nullptr);
  gpio_camera_config(1, 2, 3, 4);
  auto m = ChipSimMessages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].kind, 1);
  EXPECT_EQ(m[0].text, "the text");
  EXPECT_EQ(m[0].fileName, "file.cpp");
  EXPECT_EQ(m[0].line, 12);
  EXPECT_EQ(m[0].subsystem, 41);
  EXPECT_EQ(m[1].kind, 3);
  EXPECT_EQ(m[1].text, "desc text");
  EXPECT_EQ(m[1].args[2], 3u);
  EXPECT_EQ(ChipSimCalls().back().args, (std::vector<uint32_t>{1, 2, 3, 4}));
}

TEST_F(ChipsetTest, ListenersSeeCallsAsTheyHappen) {
  std::vector<std::string> seen;
  int id = ChipSimAddCallListener(
      [](void* ctx, const ChipSimCall& c) { static_cast<std::vector<std::string>*>(ctx)->push_back(c.name); },
      &seen);
  clk_regime_sel_vfe_src(0);
  ChipSimRemoveCallListener(id);
  clk_regime_sel_vfe_src(0);
  EXPECT_EQ(seen, (std::vector<std::string>{"clk_regime_sel_vfe_src"}));
}

// The logs are rings of their latest 20,000 entries; a text of any length is kept whole.
TEST_F(ChipsetTest, LogsKeepTheLatestEntriesInOrderAndWholeTexts) {
  const std::string longText(300, 'x');
  const msg_desc_type desc{7, 41, 4, "desc text", "a-rather-long-file-name-that-goes-past-sixty-four-characters.cpp"};
  const uint32_t total = 20000 + 10;
  for (uint32_t i = 0; i < total; ++i) msg_send_1(&desc, i, 4, i == 1000 ? longText.c_str() : "short");
  const auto m = ChipSimMessages();
  ASSERT_EQ(m.size(), 20000u);
  EXPECT_EQ(m.front().args[0], 10u);
  EXPECT_EQ(m.back().args[0], total - 1);
  EXPECT_EQ(m[990].text, longText);
  EXPECT_EQ(m[991].text, "short");
  EXPECT_EQ(m[991].fileName, desc.fileName);
  const auto calls = ChipSimCalls();
  ASSERT_EQ(calls.size(), 20000u);
  EXPECT_EQ(calls.front().args, (std::vector<uint32_t>{10, 4}));
  EXPECT_EQ(calls[990].text, longText);

  ChipSimClearMessages();
  ChipSimClearCalls();
  msg_send_1(&desc, 1, 4, "after");
  ASSERT_EQ(ChipSimMessages().size(), 1u);
  EXPECT_EQ(ChipSimMessages()[0].text, "after");
  ASSERT_EQ(ChipSimCalls().size(), 1u);
  EXPECT_EQ(ChipSimCalls()[0].args, (std::vector<uint32_t>{1, 4}));
}

// While the log grows: a clear keeps the order, and a real-time caller (the
// torch's pulse writer) records into memory already written, so that it never
// pays for a fresh page in the middle of its pulse train.
TEST_F(ChipsetTest, AGrowingLogKeepsItsOrderAndSparesRealTimeCallersFreshMemory) {
  for (uint32_t i = 0; i < 5; ++i) clk_pause(0);
  ChipSimClearCalls();
  for (uint32_t i = 0; i < 3; ++i) gpio_camera_config(i, 0, 0, 0);
  auto calls = ChipSimCalls();
  ASSERT_EQ(calls.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(calls[i].args, (std::vector<uint32_t>{i, 0, 0, 0}));

  bool realTime = false;
  long faults = -1;
  std::thread writer([&] {
    clk_pause(0);  // code and stack in place, as the driver's thread has them
    rusage before{}, after{};
    sched_param p{};
    p.sched_priority = 1;
    realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
    if (!realTime) return;
    getrusage(RUSAGE_THREAD, &before);
    for (int i = 0; i < 100; ++i) clk_pause(0);  // a torch program's pauses
    getrusage(RUSAGE_THREAD, &after);
    p.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &p);
    faults = (after.ru_minflt + after.ru_majflt) - (before.ru_minflt + before.ru_majflt);
  });
  writer.join();
  if (!realTime) GTEST_SKIP() << "this process may not schedule a thread in real time";
  EXPECT_EQ(faults, 0);
  EXPECT_EQ(ChipSimCalls().size(), 3u + 101u);
}

// A listener that makes a call of its own: every listener still hears each call as it was.
TEST_F(ChipsetTest, ListenersThatMakeCallsOfTheirOwn) {
  struct Heard {
    std::vector<std::string> names;
    std::vector<std::vector<uint32_t>> args;
  } first, second;
  const int a = ChipSimAddCallListener(
      [](void* ctx, const ChipSimCall& c) {
        auto* h = static_cast<Heard*>(ctx);
        if (c.name == "clk_regime_sel_vfe_src") gpio_camera_config(5, 6, 7, 8);
        h->names.push_back(c.name);
        h->args.push_back(c.args);
      },
      &first);
  const int b = ChipSimAddCallListener(
      [](void* ctx, const ChipSimCall& c) {
        static_cast<Heard*>(ctx)->names.push_back(c.name);
        static_cast<Heard*>(ctx)->args.push_back(c.args);
      },
      &second);
  clk_regime_sel_vfe_src(3);
  ChipSimRemoveCallListener(a);
  ChipSimRemoveCallListener(b);
  const std::vector<std::string> names{"gpio_camera_config", "clk_regime_sel_vfe_src"};
  const std::vector<std::vector<uint32_t>> args{{5, 6, 7, 8}, {3}};
  EXPECT_EQ(first.names, names);
  EXPECT_EQ(first.args, args);
  // The second hears the inner call while the first listener makes it.
  EXPECT_EQ(second.names, names);
  EXPECT_EQ(second.args, args);
}

// A call made while a thread ends, after the thread's own storage went away (as a
// library's detach does while the process ends), still reaches the listeners.
TEST_F(ChipsetTest, CallsWhileAThreadEndsReachTheListeners) {
  static std::atomic<int> heard{0};
  heard = 0;
  const int id = ChipSimAddCallListener(
      [](void*, const ChipSimCall& c) {
        if (c.name == "gpio_camera_un_config" && c.args == std::vector<uint32_t>{9, 8, 7, 6}) ++heard;
      },
      nullptr);
  std::thread([] {
    // Made before the chipset's storage of this thread, so ended after it.
    struct EndsLast {
      ~EndsLast() { gpio_camera_un_config(9, 8, 7, 6); }
    };
    thread_local EndsLast endsLast;
    (void)&endsLast;
    gpio_camera_un_config(9, 8, 7, 6);
  }).join();
  ChipSimRemoveCallListener(id);
  EXPECT_EQ(heard.load(), 2);
}

TEST_F(ChipsetTest, InterruptLockIsTakenOncePerThreadAndExcludesOthers) {
  ASSERT_EQ(chip_int_lock(), 0);
  EXPECT_NE(chip_int_lock(), 0);  // nested: already held
  EXPECT_TRUE(ChipSimIntLockHeldByCaller());
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    int r = chip_int_lock();
    acquired = true;
    if (r == 0) chip_int_free();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(acquired.load());
  chip_int_free();
  other.join();
  EXPECT_TRUE(acquired.load());
  EXPECT_FALSE(ChipSimIntLockHeldByCaller());
}

TEST_F(ChipsetTest, DisplayBlitsAreRecordedWithTheirRecords) {
  uint32_t src[11], dst[11], params[4] = {1, 0, 0, 0};
  for (uint32_t i = 0; i < 11; ++i) {
    src[i] = 100 + i;
    dst[i] = 200 + i;
  }
  EXPECT_EQ(ddi_disp2d_blt(src, dst, params, 0), 0);
  auto call = ChipSimCalls().back();
  EXPECT_EQ(call.name, "ddi_disp2d_blt");
  ASSERT_EQ(call.args.size(), 27u);
  EXPECT_EQ(call.args[0], 100u);
  EXPECT_EQ(call.args[11], 200u);
  EXPECT_EQ(call.args[22], 1u);
  ChipSimSetDisplayResult(5);
  EXPECT_EQ(ddi_disp2d_blt(src, dst, params, 0), 5);
  ChipSimSetDisplayResult(0);
  EXPECT_NE(ddi_disp2d_blt(nullptr, dst, params, 0), 0);
}

TEST_F(ChipsetTest, ClockPauseWaitsAtLeastTheTime) {
  auto start = std::chrono::steady_clock::now();
  clk_pause(1500);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(1500));
}

}  // namespace
