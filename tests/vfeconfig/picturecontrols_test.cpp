// The picture controls act on the picture: on the real VFE service, driver and
// hardware model, a preview of the chart is taken, one control is changed
// through its configurer while frames flow, and a later frame must have moved
// in the direction asked: mean luma for brightness, the grey patches' spread
// for contrast, chroma magnitude for saturation and the effects, the hue angle
// of the colour patches for hue, the red-blue balance of the greys for the
// white balance.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>

#include "cpvlmediabuffer.h"
#include "iconfigcommand.h"
#include "vfeservicefixture.h"

namespace vfeservicetest {
namespace {

struct Frame {
  std::vector<uint8_t> y, c;
  bool Empty() const { return y.empty(); }
  uint8_t Y(int x, int yy) const { return y[size_t(yy) * kOut1W + x]; }
  // NV21: Cr then Cb, one pair per 2 x 2 block.
  int U(int x, int yy) const { return c[size_t(yy / 2) * kOut1W + (x & ~1) + 1] - 128; }
  int V(int x, int yy) const { return c[size_t(yy / 2) * kOut1W + (x & ~1)] - 128; }
};

struct PatchColour {
  double y, u, v;
};

// A patch's mean over a small box at its centre in the 320 x 240 preview
// (the array halved by the binned read-out, less the demosaic border,
// scaled by about 4).
PatchColour Measure(const Frame& f, const BoardChartPatch& p) {
  const double scale = (kWindowW - 12) / double(kOut1W);
  const int cx = int(std::lround((p.centreX / 2.0 - 6) / scale));
  const int cy = int(std::lround((p.centreY / 2.0 - 3) / scale));
  double sy = 0, su = 0, sv = 0;
  int n = 0;
  for (int dy = -4; dy <= 4; ++dy) {
    for (int dx = -4; dx <= 4; ++dx) {
      sy += f.Y(cx + dx, cy + dy);
      su += f.U(cx + dx, cy + dy);
      sv += f.V(cx + dx, cy + dy);
      ++n;
    }
  }
  return {sy / n, su / n, sv / n};
}

bool IsGrey(const BoardChartPatch& p) { return std::abs(int(p.srgb[0]) - int(p.srgb[2])) <= 2; }

double MeanGreyLuma(const Frame& f) {
  double s = 0;
  int n = 0;
  for (const BoardChartPatch& p : kChartPatches) {
    if (IsGrey(p)) s += Measure(f, p).y, ++n;
  }
  return s / n;
}
// Luma of "neutral 8" less "neutral 3.5".
double GreySpread(const Frame& f) { return Measure(f, kChartPatches[19]).y - Measure(f, kChartPatches[22]).y; }
double MeanChroma(const Frame& f) {
  double s = 0;
  int n = 0;
  for (const BoardChartPatch& p : kChartPatches) {
    if (IsGrey(p)) continue;
    PatchColour c = Measure(f, p);
    s += std::hypot(c.u, c.v), ++n;
  }
  return s / n;
}
// Red less blue of the grey patches (Cr less Cb).
double GreyRedBlue(const Frame& f) {
  double s = 0;
  int n = 0;
  for (const BoardChartPatch& p : kChartPatches) {
    if (!IsGrey(p)) continue;
    PatchColour c = Measure(f, p);
    s += c.v - c.u, ++n;
  }
  return s / n;
}
// The mean turn (degrees, counter-clockwise in the Cb-Cr plane) of the
// strongly coloured patches from frame a to frame b.
double MeanHueTurn(const Frame& a, const Frame& b) {
  double s = 0;
  int n = 0;
  for (const BoardChartPatch& p : kChartPatches) {
    if (IsGrey(p)) continue;
    PatchColour ca = Measure(a, p), cb = Measure(b, p);
    if (std::hypot(ca.u, ca.v) < 15 || std::hypot(cb.u, cb.v) < 5) continue;
    double turn = std::remainder(std::atan2(cb.v, cb.u) - std::atan2(ca.v, ca.u), 2 * M_PI) * 180 / M_PI;
    s += turn, ++n;
  }
  return n ? s / n : 0.0;
}

// The mean step of luma from one pixel to the next along the middle of the
// first two patch rows: the patches' edges, which sharpening steepens.
double EdgeStep(const Frame& f) {
  double s = 0;
  int n = 0;
  for (int row = 0; row < 2; ++row) {
    const BoardChartPatch& p = kChartPatches[row * 6];
    const double scale = (kWindowW - 12) / double(kOut1W);
    const int y = int(std::lround((p.centreY / 2.0 - 3) / scale));
    for (int x = 1; x < int(kOut1W) * 3 / 4; ++x) s += std::abs(int(f.Y(x, y)) - int(f.Y(x - 1, y))), ++n;
  }
  return s / n;
}

enum class Measured { Luma, Spread, Chroma, HueTurn, RedBlue, Edges };

struct ControlCase {
  const char* name;
  uint32_t configurer;
  void (*change)(SettingsDouble*);
  Measured measured;
  double low, high;  // the change of the measured quantity must lie within
};

const ControlCase kControlCases[] = {
    {"SharpnessUpSteepensTheEdges", ZUEUID_CONFIG_SHARPNESS, [](SettingsDouble* s) { s->sharpness.Value = 10; },
     Measured::Edges, 1.0, 10},
    {"SharpnessDownSoftensTheEdges", ZUEUID_CONFIG_SHARPNESS, [](SettingsDouble* s) { s->sharpness.Value = 0; },
     Measured::Edges, -10, -0.75},
    {"BrightnessUpLiftsLuma", ZUEUID_CONFIG_BRIGHTNESS, [](SettingsDouble* s) { s->brightness.Value = 3000; },
     Measured::Luma, 15, 40},
    {"BrightnessDownLowersLuma", ZUEUID_CONFIG_BRIGHTNESS, [](SettingsDouble* s) { s->brightness.Value = -3000; },
     Measured::Luma, -40, -15},
    {"ContrastUpSpreadsTheGreys", ZUEUID_CONFIG_CONTRAST, [](SettingsDouble* s) { s->contrast.Value = 200; },
     Measured::Spread, 30, 120},
    {"ContrastDownNarrowsTheGreys", ZUEUID_CONFIG_CONTRAST, [](SettingsDouble* s) { s->contrast.Value = 50; },
     Measured::Spread, -90, -25},
    {"SaturationUpStrengthensColour", ZUEUID_CONFIG_SATURATION, [](SettingsDouble* s) { s->saturation.Value = 200; },
     Measured::Chroma, 20, 90},
    {"SaturationDownWeakensColour", ZUEUID_CONFIG_SATURATION, [](SettingsDouble* s) { s->saturation.Value = 50; },
     Measured::Chroma, -35, -10},
    {"HueTurnsTheColours", ZUEUID_CONFIG_HUE, [](SettingsDouble* s) { s->hue.Value = 60.0f; }, Measured::HueTurn, 50,
     70},
    {"HueBackTurnsTheOtherWay", ZUEUID_CONFIG_HUE, [](SettingsDouble* s) { s->hue.Value = -60.0f; },
     Measured::HueTurn, -70, -50},
    {"MonoEffectTakesTheColourOut", ZUEUID_CONFIG_IMAGE_EFFECT,
     [](SettingsDouble* s) {
       s->effectMode = 1;
       s->effect = 1;
     },
     Measured::Chroma, -60, -35},
    {"NegativeEffectInvertsTheGreys", ZUEUID_CONFIG_IMAGE_EFFECT,
     [](SettingsDouble* s) {
       s->effectMode = 1;
       s->effect = 2;
     },
     Measured::Spread, -300, -150},
    {"SepiaEffectTintsTheGreys", ZUEUID_CONFIG_IMAGE_EFFECT,
     [](SettingsDouble* s) {
       s->effectMode = 1;
       s->effect = 3;
     },
     Measured::RedBlue, 20, 50},
    {"WarmerWhiteBalanceTurnsGreysRed", ZUEUID_CONFIG_UPDATE_ALL,
     [](SettingsDouble* s) {
       s->wbRed = CFixedPoint(1.5);
       s->wbBlue = CFixedPoint(0.7);
     },
     Measured::RedBlue, 20, 80},
    {"CoolerWhiteBalanceTurnsGreysBlue", ZUEUID_CONFIG_UPDATE_ALL,
     [](SettingsDouble* s) {
       s->wbRed = CFixedPoint(0.7);
       s->wbBlue = CFixedPoint(1.5);
     },
     Measured::RedBlue, -80, -20},
};

class PictureControlsTest : public VfeServiceTest, public ::testing::WithParamInterface<ControlCase> {
 protected:
  // The planes of the n-th frame from now (empty when none came in time).
  Frame Grab(size_t n) {
    {
      std::lock_guard<std::mutex> hold(grab_.lock);
      grab_.wanted = n;
      grab_.frame = Frame{};
    }
    const size_t before = sink_.Count(EVENT_OUTPUT);
    sink_.WaitFor(EVENT_OUTPUT, before + n + 1);
    std::lock_guard<std::mutex> hold(grab_.lock);
    return grab_.frame;
  }
  void Copy(IPvlBase* object) {
    std::lock_guard<std::mutex> hold(grab_.lock);
    if (grab_.wanted == 0 || --grab_.wanted != 0) return;
    CPvlPtr<IPvlMediaBuffer> buffer;
    uint64_t address = 0;
    uint32_t offset = 0;
    if (!object || object->QueryInterface(ZUEUID_IFACE_MEDIA_BUFFER, buffer.Out()) != PVL_OK ||
        buffer->GetVirtualAddress(&address) != PVL_OK || buffer->GetOffset(&offset) != PVL_OK)
      return;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address)) + offset;
    const size_t luma = size_t(kOut1W) * kOut1H;
    grab_.frame.y.assign(p, p + luma);
    grab_.frame.c.assign(p + luma, p + luma + luma / 2);
  }
  PvlResult RunConfigurer(uint32_t id) {
    CPvlPtr<IConfigCommand> configurer;
    PvlResult r = service_->GetConfigurer(id, &configurer);
    return r != PVL_OK ? r : configurer->Configure();
  }

  struct {
    std::mutex lock;
    size_t wanted = 0;
    Frame frame;
  } grab_;
};

TEST_P(PictureControlsTest, MovesThePictureTheWayAsked) {
  const ControlCase& c = GetParam();
  sink_.during = [this](const Event& e) {
    if (e.kind == EVENT_OUTPUT) Copy(e.object);
  };
  ASSERT_EQ(PVL_OK, Init());
  CPvlPtr<ICameraBufferManager> bm = SetUpMode(svc_->GetOutput(1), VIDEO_OUTPUT_MODE_VIDEO, Nv21Format(kOut1W, kOut1H));
  ASSERT_EQ(PVL_OK, RunConfigurer(ZUEUID_CONFIG_VIDEO));
  ASSERT_EQ(PVL_OK, service_->Start());
  StartSensor();
  // A first update-all, as the engine runs once the preview is up.
  ASSERT_TRUE(sink_.WaitFor(EVENT_OUTPUT, 2));
  ASSERT_EQ(PVL_OK, RunConfigurer(ZUEUID_CONFIG_UPDATE_ALL));
  const Frame before = Grab(3);
  ASSERT_FALSE(before.Empty()) << "no frame before";
  c.change(&settings_);
  ASSERT_EQ(PVL_OK, RunConfigurer(c.configurer));
  const Frame after = Grab(3);
  ASSERT_FALSE(after.Empty()) << "no frame after";
  double change = 0;
  switch (c.measured) {
    case Measured::Luma: change = MeanGreyLuma(after) - MeanGreyLuma(before); break;
    case Measured::Spread: change = GreySpread(after) - GreySpread(before); break;
    case Measured::Chroma: change = MeanChroma(after) - MeanChroma(before); break;
    case Measured::HueTurn: change = MeanHueTurn(before, after); break;
    case Measured::RedBlue: change = GreyRedBlue(after) - GreyRedBlue(before); break;
    case Measured::Edges: change = EdgeStep(after) - EdgeStep(before); break;
  }
  EXPECT_GE(change, c.low) << "before: luma " << MeanGreyLuma(before) << " spread " << GreySpread(before)
                           << " chroma " << MeanChroma(before) << " red-blue " << GreyRedBlue(before)
                           << " edges " << EdgeStep(before) << "; change " << change;
  EXPECT_LE(change, c.high);
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_TRUE(WaitAllHome(bm, 4));
}

INSTANTIATE_TEST_SUITE_P(Controls, PictureControlsTest, ::testing::ValuesIn(kControlCases),
                         [](const ::testing::TestParamInfo<ControlCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vfeservicetest
