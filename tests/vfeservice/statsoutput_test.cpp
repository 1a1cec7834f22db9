// The white-balance/exposure statistics over the VFE model: events, views,
// acknowledgements through the pool, the drop while a reader holds the
// object, a restart under a held object, and the reset of what the VFE held.
#include "cstatsoutputwbexp.h"
#include "ivfestats.h"
#include "vfeservicefixture.h"

namespace vfeservicetest {
namespace {

class WbExpStats : public VfeServiceTest {
 protected:
  // Statistics on, no output path.
  void StartStats() {
    ASSERT_EQ(PVL_OK, Init());
    ConfigurePipeline(6);
    CStatsOutput* stats = svc_->GetWBExpStats();
    ASSERT_NE(nullptr, stats);
    ASSERT_TRUE(stats->IsStarted());
    stats->SetStatsCount(256);
    stats->SetStatsGrid(kAreaW, kAreaH);
    SendStatsConfiguration();
    VfeAwbExtStatsCmd ext{};
    ext.enable = 1;
    ext.lumaMax = 255;
    Send(VFE_CMD_AWBEXT_STATS, ext);
    ASSERT_EQ(PVL_OK, service_->Start());
    StartSensor();
  }
  // The configure chain's part for the statistics: the two buffers the VFE
  // writes into and its spare, from the pool.
  void SendStatsConfiguration() {
    CStatsOutput* stats = svc_->GetWBExpStats();
    VfeWbExpStatsCmd s{};
    s.areaWidth = kAreaW - 1;
    s.areaHeight = kAreaH - 1;
    ASSERT_EQ(PVL_OK, stats->QueueNewBuffer(&s.wbExpBuffer[0]));
    ASSERT_EQ(PVL_OK, stats->QueueNewBuffer(&s.wbExpBuffer[1]));
    ASSERT_EQ(PVL_OK, stats->QueueSpareBuffer(&s.wbExpBuffer[2]));
    Send(VFE_CMD_WB_EXP_STATS, s);
  }
  static uint32_t PoolFree(CStatsOutput* stats) { return FreeCount(stats->GetPool()); }

  // The VFE restarted while a reader holds the last statistics (a focus run's
  // restart, a still taken from the preview): it starts on two buffers, and the
  // spare reaches it once the reader lets go, so the statistics flow again.
  void RestartUnderAHeldObject(bool releaseBeforeStart) {
    sink_.holdStats = true;
    StartStats();
    ASSERT_TRUE(sink_.WaitFor(EVENT_STATS_AVAILABLE, 1));
    CStatsOutput* stats = svc_->GetWBExpStats();
    ASSERT_EQ(PVL_OK, service_->Stop());
    EXPECT_TRUE(WaitAllHome(stats->GetPool(), 2)) << PoolFree(stats) << " free; one buffer stays with the reader";

    sink_.holdStats = false;
    const size_t before = sink_.Count(EVENT_STATS_AVAILABLE);
    SendStatsConfiguration();
    EXPECT_EQ(1u, stats->GetOwedSpares());
    if (releaseBeforeStart) sink_.ReleaseHeld();
    ASSERT_EQ(PVL_OK, service_->Start());
    if (!releaseBeforeStart) sink_.ReleaseHeld();
    EXPECT_TRUE(sink_.WaitFor(EVENT_STATS_AVAILABLE, before + 3)) << sink_.Count(EVENT_STATS_AVAILABLE) - before;
    EXPECT_EQ(0u, stats->GetOwedSpares());
    ASSERT_EQ(PVL_OK, service_->Stop());
    EXPECT_TRUE(WaitAllHome(stats->GetPool(), 3)) << PoolFree(stats);
  }
};

TEST_F(WbExpStats, StatisticsArriveAndTheirBuffersGoBackToTheVfe) {
  StartStats();
  ASSERT_TRUE(sink_.WaitFor(EVENT_STATS_AVAILABLE, 5)) << sink_.Count(EVENT_STATS_AVAILABLE);
  for (const Event& e : sink_.Events()) {
    if (e.kind != EVENT_STATS_AVAILABLE) continue;
    EXPECT_EQ(0u, e.argument);
  }
  CStatsOutput* stats = svc_->GetWBExpStats();
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_EQ(0u, stats->VfeHeldCount());
  EXPECT_EQ(0u, stats->GetOwedAcks());
  // Statistics the receive thread was delivering at the stop come home when
  // their delivery ends.
  EXPECT_TRUE(WaitAllHome(stats->GetPool(), 3)) << PoolFree(stats);
}

// A reader holding the statistics: the next ones are dropped, and their
// buffers go straight back to the VFE; on release the flow resumes.
TEST_F(WbExpStats, AHeldObjectMakesTheNextOnesDrop) {
  sink_.holdStats = true;
  StartStats();
  ASSERT_TRUE(sink_.WaitFor(EVENT_STATS_AVAILABLE, 1));
  CStatsOutput* stats = svc_->GetWBExpStats();
  const uint32_t done = BoardVfeCounts().statsDone[1];
  for (int i = 0; i < 60000 && BoardVfeCounts().statsDone[1] < done + 4; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GE(BoardVfeCounts().statsDone[1], done + 4);
  EXPECT_EQ(1u, sink_.Count(EVENT_STATS_AVAILABLE)) << "statistics delivered while the last ones are held";

  IPvlBase* held = sink_.held.front();
  CPvlPtr<IWBExpStats> exposure;
  ASSERT_EQ(PVL_OK, held->QueryInterface(ZUEUID_IFACE_WB_EXP_STATS, exposure.Out()));
  CPvlPtr<IWBExpStats2> balance;
  ASSERT_EQ(PVL_OK, exposure->QueryInterface(ZUEUID_IFACE_WB_EXP_STATS2, balance.Out()));
  CPvlPtr<IWBExpStats> back;
  ASSERT_EQ(PVL_OK, balance->QueryInterface(ZUEUID_IFACE_WB_EXP_STATS, back.Out()));
  EXPECT_EQ(exposure.Get(), back.Get());
  uint32_t regions = 0, pixels = 0;
  EXPECT_EQ(PVL_OK, exposure->GetRegionCount(&regions));
  EXPECT_EQ(256u, regions);
  EXPECT_EQ(PVL_OK, exposure->GetPixelsPerRegion(&pixels));
  EXPECT_EQ(uint32_t(kAreaW) * kAreaH / 256, pixels);
  uint32_t sums[10] = {};
  uint32_t count = 0;
  EXPECT_EQ(PVL_OK, balance->GetSumYg(sums, 10, &count));
  EXPECT_EQ(256u, count);
  uint32_t nonzero = 0;
  for (uint32_t v : sums) nonzero += v != 0;
  EXPECT_GT(nonzero, 0u) << "the model's scene gives luma sums";
  EXPECT_EQ(PVL_E_NULLPTR, balance->GetSumCbs(nullptr, 1, &count));
  EXPECT_EQ(PVL_E_UNSUPPORTED, balance->Reserved8());
  exposure.Reset();
  balance.Reset();
  back.Reset();

  sink_.holdStats = false;
  sink_.ReleaseHeld();
  ASSERT_TRUE(sink_.WaitFor(EVENT_STATS_AVAILABLE, 3));
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_TRUE(WaitAllHome(stats->GetPool(), 3)) << PoolFree(stats);
}

TEST_F(WbExpStats, ARestartUnderAHeldObjectGetsTheSpareWhenTheReaderLetsGoAfterTheStart) {
  RestartUnderAHeldObject(false);
}

TEST_F(WbExpStats, ARestartUnderAHeldObjectGetsTheSpareWhenTheReaderLetsGoBeforeTheStart) {
  RestartUnderAHeldObject(true);
}

// After a reset the VFE holds none of the statistics buffers it had: they go
// back to the pool and no ack is owed for them.
TEST_F(WbExpStats, ResetForgetsTheBuffersTheVfeHeld) {
  ASSERT_EQ(PVL_OK, Init());
  CStatsOutput* stats = svc_->GetWBExpStats();
  uint32_t address = 0;
  ASSERT_EQ(PVL_OK, stats->QueueNewBuffer(&address));
  ASSERT_EQ(PVL_OK, stats->QueueNewBuffer(&address));
  EXPECT_EQ(2u, stats->VfeHeldCount());
  EXPECT_EQ(1u, PoolFree(stats));
  ASSERT_EQ(PVL_OK, service_->Reset());
  EXPECT_EQ(0u, stats->VfeHeldCount());
  EXPECT_EQ(3u, PoolFree(stats));
}

TEST_F(WbExpStats, MessagesForUnknownBuffers) {
  ASSERT_EQ(PVL_OK, Init());
  CStatsOutput* stats = svc_->GetWBExpStats();
  EXPECT_EQ(PVL_E_FAIL, stats->OnMessage(1, 0x1234u)) << "nothing held";
  uint32_t address = 0;
  ASSERT_EQ(PVL_OK, stats->QueueNewBuffer(&address));
  EXPECT_EQ(PVL_OK, stats->OnMessage(1, address + 0x100u));
  EXPECT_EQ(1u, stats->VfeHeldCount());
  EXPECT_EQ(0u, stats->GetOwedAcks());
  EXPECT_EQ(0u, sink_.Count(EVENT_STATS_AVAILABLE));
}

TEST_F(WbExpStats, BufferRequests) {
  ASSERT_EQ(PVL_OK, Init());
  BufferRequest r{};
  ASSERT_EQ(PVL_OK, svc_->GetWBExpStats()->GetSource()->GetBufferRequest(&r));
  EXPECT_EQ(3u, r.count);
  EXPECT_EQ(8196u, r.size);
  ASSERT_EQ(PVL_OK, svc_->GetAFStats()->GetSource()->GetBufferRequest(&r));
  EXPECT_EQ(3u, r.count);
  EXPECT_EQ(((972u - 1) / 2 + 1) * 4, r.size);
}

TEST_F(WbExpStats, AYuvSensorsStatisticsAreNotStarted) {
  settings_.format.Words[0] = 5;
  ASSERT_EQ(PVL_OK, Init());
  EXPECT_FALSE(svc_->GetWBExpStats()->IsStarted());
  EXPECT_FALSE(svc_->GetAFStats()->IsStarted());
}

}  // namespace
}  // namespace vfeservicetest
