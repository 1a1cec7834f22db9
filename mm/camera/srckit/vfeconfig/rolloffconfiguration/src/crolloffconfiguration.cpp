#include "crolloffconfiguration.h"

#include <math.h>

#include "camerasettings.h"
#include "ccamifconfiguration.h"
#include "cfixedpoint.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kSelector = 0x80600F00u;
constexpr TuningParamId kGainLowLight = 0x80600F01u;
constexpr TuningParamId kLuxLowLight = 0x80600F02u;
constexpr uint32_t kColumns = 17;
constexpr uint32_t kRows = 13;
constexpr uint32_t kCells = 16;
// The grid before the camera interface is known: a 1032 x 771 frame.
constexpr double kDefaultWidth = 1032.0;
constexpr double kDefaultHeight = 771.0;

int16_t Saturate16(double v) {
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  return static_cast<int16_t>(v);
}

}  // namespace

CRolloffConfiguration::CRolloffConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::Rolloff, &m_payload, &m_enable, &m_controlEnable);
}

PvlResult CRolloffConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  return VfeGuarded([&] { Run(settings, chain); });
}

// The grid head for a width x height frame cut into 16 x 12 cells of
// half-resolution pixels. The default grid's reciprocal is rounded, a window's
// truncated.
void CRolloffConfiguration::SetGrid(double width, double height, bool defaultGrid) {
  const uint32_t cw = static_cast<uint32_t>(ceil(width / 2.0 / 16.0));
  const uint32_t ch = static_cast<uint32_t>(ceil(height / 2.0 / 12.0));
  m_payload.enable = 1;
  m_payload.reserved1 = 0;
  m_payload.grid[0] = static_cast<uint16_t>(cw - 1);
  m_payload.grid[1] = static_cast<uint16_t>(ch - 1);
  if (defaultGrid) {
    int32_t raw = 0;
    VfeMust(CFixedPoint(1.0 / static_cast<double>(ch)).GetRawAtQ(12, &raw));
    m_payload.grid[2] = static_cast<uint16_t>(raw);
  } else {
    m_payload.grid[2] = static_cast<uint16_t>(4096u / ch);
  }
  m_payload.subgrid[0] = m_payload.subgrid[1] = 0;
  m_payload.interp[0] = m_payload.interp[1] = 0;
  m_payload.field14 = 0;
}

void CRolloffConfiguration::LoadTables(TuningParamId table, uint32_t cellWidth) {
  if (cellWidth == 0) throw Camera::CZUEException(PVL_E_BADARG);
  TuningRolloffMesh mesh{};
  VfeMustRead([&](ITuningParams* p) { return p->GetRolloffMesh(table, &mesh); });
  // The hardware's third channel is the mesh stored last, its fourth the one before.
  const float* meshes[4] = {mesh.RGain, mesh.GRGain, mesh.BGain, mesh.GBGain};
  for (uint32_t c = 0; c < 4; ++c) {
    const float* g = meshes[c];
    for (uint32_t r = 0; r < kRows; ++r) {
      int32_t edge = 0;
      VfeMust(CFixedPoint(13u, static_cast<double>(g[r * kColumns])).GetRawAtQ(13, &edge));
      m_payload.initTable[c][r] = static_cast<uint16_t>(edge);
      for (uint32_t k = 0; k < kCells; ++k) {
        const float difference = g[r * kColumns + k + 1] - g[r * kColumns + k];
        const int64_t q20 = static_cast<int64_t>(CFixedPoint(difference).GetRawValue()) * 256;
        m_payload.deltaTable[c][r * kCells + k] = Saturate16(static_cast<double>(q20) / cellWidth);
      }
    }
  }
  m_loadedTable = table;
}

TuningParamId CRolloffConfiguration::ChooseTable(IVfeSettings* settings) {
  if (!ByteToBool(m_controlEnable.value)) return kDefaultTable;
  const uint32_t selector = TuningData_MustGetModuleEnable(kSelector);
  if (selector > 1) dbg_dbg_Break(selector);
  bool lowLight = false;
  if (selector != 0) {
    CFixedPoint gain;
    VfeMust(settings->GetExposureGain(&gain));
    const uint32_t word = TuningData_MustGetWordParam(kGainLowLight);
    float threshold;
    memcpy(&threshold, &word, sizeof threshold);
    lowLight = !(gain < CFixedPoint(threshold));
  } else {
    uint32_t lux = 0;
    VfeMust(settings->GetAecIndex(&lux));
    lowLight = !(static_cast<int32_t>(lux) < TuningData_MustGetIntParam(kLuxLowLight));
  }
  if (lowLight) return kLowLightTable;
  uint32_t illuminant = 0;
  VfeMust(settings->GetWhiteBalanceIlluminant(&illuminant));
  if (illuminant <= 3) return 0x80600102u;
  if (illuminant == 6 || illuminant == 7) return 0x80600101u;
  return kDefaultTable;
}

void CRolloffConfiguration::Run(IVfeSettings* settings, VfeChain chain) {
  // A still with luma adaptation or effect 4 keeps the table it has; its steps
  // are still recomputed for the still's cell width below, since steps made
  // for the preview's narrower cells would double the shading gradients.
  bool keepTable = false;
  if (chain != VfeChain::Video) {
    if (!settings) throw Camera::CZUEException(PVL_E_NULLPTR);
    uint32_t luma = 0, effectMode = 0, effect = 0;
    VfeMust(settings->GetLumaAdaptationMode(&luma));
    VfeMust(settings->GetImageEffectMode(&effectMode));
    VfeMust(settings->GetImageEffect(&effect));
    keepTable = luma != 0 || (effectMode == 1 && effect == 4);
  }
  const TuningParamId kept = m_loadedTable ? m_loadedTable : kDefaultTable;
  auto table = [&] {
    if (keepTable) return kept;
    return chain == VfeChain::Video ? kDefaultTable : ChooseTable(settings);
  };

  SetGrid(kDefaultWidth, kDefaultHeight, true);
  if (!ByteToBool(m_enable.value)) {
    LoadTables(table(), m_payload.grid[0] + 1u);
    m_payload.enable = 0;
    ClearTuningChanged();
    return;
  }
  CCamifConfiguration* camif = m_service->GetCamifConfiguration();
  if (!camif || camif->GetPixelSkipFactor() == 0 || camif->GetLineSkipFactor() == 0)
    throw Camera::CZUEException(PVL_E_NOTREADY);
  const float w = static_cast<float>(camif->GetWindowWidth()) / static_cast<float>(camif->GetPixelSkipFactor());
  const float h = static_cast<float>(camif->GetWindowHeight()) / static_cast<float>(camif->GetLineSkipFactor());
  SetGrid(w, h, false);
  LoadTables(table(), m_payload.grid[0] + 1u);
  ClearTuningChanged();
}
