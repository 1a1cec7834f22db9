// CBayroxAWB: the auto white-balance plug-in. The exposure statistics carry,
// per region of the 16 x 16 grid, the sums of R, G and B over its quads before
// white balance. A grey surface under an illuminant shows that illuminant's
// R/G and B/G, so the plug-in keeps the regions whose (R/G, B/G) lies near the
// grey point of one of the illuminants it knows (daylight, fluorescent,
// incandescent, neutral), takes the illuminant that most of the grey light
// belongs to, refines the grey point to those regions' own mean and writes
// the gains G/R, 1, G/B through the AWB settings view; the engine applies them
// with the VFE's next update. Regions too dark to trust or with clipped
// samples do not vote. Without a grey region the last gains stay.
//
// In the pre-flash sequence it answers state 8 (the LED-lit frames metered)
// with 9 once it has balanced a lit frame; the settings turn that into 4 and
// the flash plug-in puts the LED out.
//
// Tunables ("AWB"): GreyPoints (R/G, B/G pairs of the known illuminants),
// GreyRadius (distance that counts as near a grey point), RefineRadius,
// MinLevel and MaxLevel (8-bit region means that vote).
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "cbayroxelfs.h"

class CBayroxAWB final : public CBayroxELFS {
 public:
  static constexpr uint32_t kGreyPoints = 4;

  explicit CBayroxAWB(IEnv* env) : CBayroxELFS(env) {}
  PvlResult Construct();
  static int32_t ClassEntry(IEnv* env, ZUEUID clsid, void* argument, void** out) {
    return CBayroxELFS::ClassEntry<CBayroxAWB>(env, clsid, argument, out);
  }

  PvlResult Initialize(IPvlBase* client) override;
  PvlResult Configure() override;
  PvlResult OnStats(IPvlBase* statistics) override;

 private:
  ~CBayroxAWB() override = default;
  // The grey point (R/G, B/G) of the statistics, false when no region is grey.
  PvlResult FindGrey(IPvlBase* statistics, float* rg, float* bg, bool* found);

  CPvlPtr<IAwbSettings> m_settings;
  // Tunables: daylight, fluorescent, incandescent, neutral.
  float m_greyPoints[kGreyPoints * 2] = {0.60f, 0.75f, 0.75f, 0.55f, 0.95f, 0.40f, 1.00f, 1.00f};
  float m_greyRadius = 0.10f;
  float m_refineRadius = 0.04f;
  uint32_t m_minLevel = 8;
  uint32_t m_maxLevel = 240;
  // The gains last written, Q8.
  int32_t m_red = 0, m_blue = 0;
};
