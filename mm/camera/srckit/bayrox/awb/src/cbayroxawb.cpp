#include "cbayroxawb.h"

#include <math.h>

#include <algorithm>

#include "ivfestats.h"

namespace {

constexpr uint32_t kRegions = 256;
constexpr uint32_t kPreSnapshotLedMetered = 8;  // exposure metered under the LED
constexpr uint32_t kPreSnapshotAwbDecided = 9;  // becomes 4: the LED goes out

struct Sums {
  double r = 0, g = 0, b = 0;
  void Add(double rr, double gg, double bb) {
    r += rr;
    g += gg;
    b += bb;
  }
};

}  // namespace

PvlResult CBayroxAWB::Construct() {
  OpenTunables();
  if (CRuntimeTuning* t = Tunables()) {
    t->Register("GreyPoints", m_greyPoints, TUNING_TYPE_FLOAT, kGreyPoints * 2, 0);
    t->Register("GreyRadius", &m_greyRadius, TUNING_TYPE_FLOAT, 1, 0);
    t->Register("RefineRadius", &m_refineRadius, TUNING_TYPE_FLOAT, 1, 0);
    t->Register("MinLevel", &m_minLevel, TUNING_TYPE_U32, 1, 0);
    t->Register("MaxLevel", &m_maxLevel, TUNING_TYPE_U32, 1, 0);
    PublishTunables("AWB");
  }
  return PVL_OK;
}

PvlResult CBayroxAWB::Initialize(IPvlBase* client) {
  if (!client) return PVL_E_NULLPTR;
  m_settings.Reset();
  return client->QueryInterface(ZUEUID_AWB_SETTINGS, m_settings.Out());
}

PvlResult CBayroxAWB::Configure() { return m_settings ? PVL_OK : PVL_E_NOTREADY; }

PvlResult CBayroxAWB::FindGrey(IPvlBase* statistics, float* rg, float* bg, bool* found) {
  *found = false;
  CPvlPtr<IWBExpStats> stats;
  if (statistics->QueryInterface(ZUEUID_IFACE_WB_EXP_STATS, stats.Out()) != PVL_OK) return PVL_E_UNSUPPORTED;
  uint32_t red[kRegions] = {}, green[kRegions] = {}, blue[kRegions] = {};
  uint32_t count = 0, pixels = 0;
  PvlResult r = stats->GetRegionWord5(red, kRegions, &count);
  if (r == PVL_OK) r = stats->GetRegionWord6(green, kRegions, &count);
  if (r == PVL_OK) r = stats->GetRegionWord7(blue, kRegions, &count);
  if (r == PVL_OK) r = stats->GetPixelsPerRegion(&pixels);
  if (r != PVL_OK) return r;
  count = std::min(count, kRegions);
  double quads = double(pixels / 4);
  if (quads <= 0) return PVL_OK;

  // The regions that may vote, with their chromaticity. Division by the quads keeps
  // the order of the sums, so the brightest channel's mean is the largest mean.
  uint32_t voters[kRegions];
  uint32_t voting = 0;
  float cr[kRegions] = {}, cb[kRegions] = {};
  for (uint32_t i = 0; i < count; ++i) {
    const double mg = green[i] / quads, brightest = std::max({red[i], green[i], blue[i]}) / quads;
    if (mg < m_minLevel || brightest > m_maxLevel) continue;
    voters[voting++] = i;
    cr[i] = float(red[i] / double(green[i]));
    cb[i] = float(blue[i] / double(green[i]));
  }
  // The light of the voters near (x, y), by squared distances (the squares of floats
  // are exact in double): no root per region.
  auto lightNear = [&](float x, float y, float radius) {
    Sums s;
    if (radius < 0) return s;
    const double limit = double(radius) * radius;
    for (uint32_t k = 0; k < voting; ++k) {
      const uint32_t i = voters[k];
      const double dx = cr[i] - x, dy = cb[i] - y;
      if (dx * dx + dy * dy <= limit) s.Add(red[i], green[i], blue[i]);
    }
    return s;
  };
  // The illuminant most of the grey light belongs to.
  Sums best;
  for (uint32_t p = 0; p < kGreyPoints; ++p) {
    const Sums s = lightNear(m_greyPoints[2 * p], m_greyPoints[2 * p + 1], m_greyRadius);
    if (s.g > best.g) best = s;
  }
  if (best.g <= 0) return PVL_OK;
  // Its regions' own grey point, and the regions close to that.
  float x = float(best.r / best.g), y = float(best.b / best.g);
  const Sums refined = lightNear(x, y, m_refineRadius);
  if (refined.g > 0) {
    x = float(refined.r / refined.g);
    y = float(refined.b / refined.g);
  }
  if (x <= 0 || y <= 0) return PVL_OK;
  *rg = x;
  *bg = y;
  *found = true;
  return PVL_OK;
}

PvlResult CBayroxAWB::OnStats(IPvlBase* statistics) {
  if (!statistics) return PVL_E_NULLPTR;
  if (!m_settings) return PVL_E_NOTREADY;
  float rg = 1, bg = 1;
  bool found = false;
  PvlResult r = FindGrey(statistics, &rg, &bg, &found);
  if (r != PVL_OK) return r;
  if (found) {
    int32_t red = int32_t(lroundf(256.0f / rg)), blue = int32_t(lroundf(256.0f / bg));
    if (red != m_red || blue != m_blue) {
      CFixedPoint gr(8u, 0), gg(8u, 1), gb(8u, 0);
      gr.SetRawValue(red);
      gb.SetRawValue(blue);
      r = m_settings->SetWhiteBalanceGains(&gr, &gg, &gb);
      if (r != PVL_OK) return r;
      m_red = red;
      m_blue = blue;
    }
  }
  uint32_t state = 0;
  r = m_settings->GetPreSnapshotState(&state);
  if (r != PVL_OK) return r;
  if (state == kPreSnapshotLedMetered) return m_settings->SetPreSnapshotState(kPreSnapshotAwbDecided);
  return PVL_OK;
}
