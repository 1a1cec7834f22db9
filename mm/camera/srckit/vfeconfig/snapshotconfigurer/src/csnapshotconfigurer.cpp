#include "csnapshotconfigurer.h"

#include "camerasettings.h"
#include "cblock20configuration.h"
#include "cblock22configuration.h"
#include "ccamifconfiguration.h"
#include "cframedropconfiguration.h"
#include "coutputconfiguration.h"
#include "plindor.h"

namespace {

// The Bayer blocks of a still, in chain order, before the WB/exposure statistics.
constexpr int32_t kBayerBlocks[] = {
    VFE_CMD_BLACK_LEVEL, VFE_CMD_ROLLOFF,         VFE_CMD_CHANNEL_GAIN, VFE_CMD_DEMOSAIC,
    VFE_CMD_WHITE_BALANCE, VFE_CMD_COLOR_CORR,    VFE_CMD_LUMA_ADAPTATION, VFE_CMD_GAMMA,
    VFE_CMD_COLOR_CONV,  VFE_CMD_ASF,             VFE_CMD_CHROMA_SUPP,  VFE_CMD_AWBEXT_STATS,
    VFE_CMD_AF_STATS,
};

constexpr uint32_t kMaxFrameCount = 255;

}  // namespace

PvlResult CSnapshotConfigurer::GetCaptureCount(uint32_t* count) {
  if (!count) return PVL_E_BADARG;
  CCameraLockGuard hold(m_service->GetLock());
  *count = m_captureCount;
  return PVL_OK;
}

PvlResult CSnapshotConfigurer::SetCaptureCount(int32_t count) {
  if (count < 1) return PVL_E_BADARG;
  CCameraLockGuard hold(m_service->GetLock());
  m_captureCount = static_cast<uint32_t>(count);
  return PVL_OK;
}

PvlResult CSnapshotConfigurer::ConfigureOutputs() {
  if (m_captureCount == 0) return PVL_E_NOTREADY;
  return VfeEnterOutputMode(m_service, VIDEO_OUTPUT_MODE_STILL, m_captureCount);
}

// Drops the first s frames (the sensor's settling frames) and, for a burst of
// more than three, keeps one frame in four while the burst lasts.
PvlResult CSnapshotConfigurer::ConfigureFrameDrop() {
  CFrameDropConfiguration* frameDrop = m_service->GetFrameDropConfiguration();
  if (!frameDrop) return PVL_E_NOTREADY;
  frameDrop->Reset();
  uint32_t skip = 0;
  PvlResult r = m_settings->GetModeTimingWord0(&skip);
  if (r != PVL_OK) return r;
  VfeFrameDropCmd& p = frameDrop->GetPayload();
  r = CFrameDropConfiguration::DropLeadingFrames(&p.output1Pattern, skip);
  if (r == PVL_OK) r = CFrameDropConfiguration::DropLeadingFrames(&p.output2Pattern, skip);
  if (r != PVL_OK) return r;
  if (m_captureCount > 3) {
    const uint64_t end = 4ull * m_captureCount;
    for (uint64_t first = skip + 1ull; first < end && first < 32; first += 4) {
      for (uint64_t bit = first; bit < first + 3 && bit < 32; ++bit) {
        CFrameDropConfiguration::DropFrame(&p.output1Pattern, static_cast<uint32_t>(bit));
        CFrameDropConfiguration::DropFrame(&p.output2Pattern, static_cast<uint32_t>(bit));
      }
    }
  }
  return frameDrop->Apply();
}

PvlResult CSnapshotConfigurer::ConfigureCore() {
  PvlResult r = ConfigureOutputs();
  if (r == PVL_OK) r = m_service->SendReset();
  if (r != PVL_OK) return r;
  r = VfeConfigureWindowAndScalers(m_service, m_settings);
  CBlock20Configuration* block20 = m_service->GetBlock20Configuration();
  if (r == PVL_OK) r = VfeComputeThenApply(block20, [&] { return block20->Configure(m_settings); });
  if (r == PVL_OK) r = ConfigureFrameDrop();
  CBlock22Configuration* block22 = m_service->GetBlock22Configuration();
  if (r == PVL_OK) r = VfeComputeThenApply(block22, [&] { return block22->Configure(); });
  COutputConfiguration* output = m_service->GetOutputConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(output, [&] { return output->Configure(); });
  if (r == PVL_OK && m_sensor.IsBayer()) r = VfeConfigureBayerChain(m_service, m_settings, VfeChain::Snapshot, kBayerBlocks);
  if (r != PVL_OK) return r;
  return SetOperationMode(0, 1, m_captureCount > kMaxFrameCount ? kMaxFrameCount : m_captureCount);
}

PvlResult CRawSnapshotConfigurer::ConfigureOutputs() {
  IVideoOutputControl* raw = m_service->GetRawOutput();
  uint8_t enabled = 0;
  if (!raw || raw->IsEnabled(VIDEO_OUTPUT_MODE_STILL, &enabled) != PVL_OK || !enabled) return PVL_OK;
  return raw->SetCurrentMode(VIDEO_OUTPUT_MODE_STILL, 1);
}

PvlResult CRawSnapshotConfigurer::ConfigureCore() {
  PvlResult r = ConfigureOutputs();
  if (r == PVL_OK) r = m_service->SendReset();
  if (r != PVL_OK) return r;
  CFrameDropConfiguration* frameDrop = m_service->GetFrameDropConfiguration();
  r = VfeComputeThenApply(frameDrop, [&] { return frameDrop->Reset(); });
  CCamifConfiguration* camif = m_service->GetCamifConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(camif, [&] { return camif->Configure(m_settings); });
  COutputConfiguration* output = m_service->GetOutputConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(output, [&] { return output->Configure(); });
  if (r != PVL_OK) return r;
  // Two sensor frames for the raw capture to settle; no timing, no wait.
  SensorTiming timing{};
  if (m_settings->GetSensorTiming(&timing) == PVL_OK) Plindor_WaitMicroSeconds(2 * timing.Words[0]);
  return SetOperationMode(0, 1, 1);
}
