// The VFE hardware model's colour stages and scalers as the VFE driver
// programmes them: each case sends a block's command with a payload of its
// own, takes a frame of the chart (neutral light, OUTPUT2 at half the preview)
// and compares the chart's patches with the same frame taken without it. The
// stages not under test stay off, so the picture is linear: gamma off passes
// the top 8 of the 10 bits and the conversion is full-range BT.601.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "casename.h"
#include "vfedriver_fixture.h"

namespace vfedrivertest {
namespace {

// Mean colour of the middle of a patch.
struct Patch {
  double y, cb, cr;  // means
  double r, g, b;    // full-range BT.601 back to R, G, B
  double Strength() const { return std::max(std::fabs(cb - 128), std::fabs(cr - 128)); }
};
using Patches = std::vector<Patch>;  // in kChartPatches order

int PatchIndex(const char* name) {
  for (int i = 0; i < 24; ++i)
    if (std::strcmp(kChartPatches[i].name, name) == 0) return i;
  ADD_FAILURE() << "no patch " << name;
  return 0;
}

Patches Measure(const std::vector<uint8_t>& y, const std::vector<uint8_t>& c) {
  Patches out;
  // Preview halves the array, the demosaic area starts at (6, 3) of the
  // window, the main scaler halves again.
  for (const BoardChartPatch& p : kChartPatches) {
    long cx = std::lround((p.centreX / 2.0 - 6) / 2), cy = std::lround((p.centreY / 2.0 - 3) / 2);
    double sy = 0, su = 0, sv = 0;
    int n = 0;
    for (long dy = -10; dy <= 10; ++dy)
      for (long dx = -10; dx <= 10; ++dx) {
        long x = cx + dx, yy = cy + dy;
        sy += y[size_t(yy) * kMainW + x];
        size_t row = size_t(yy / 2) * kMainW + size_t(x & ~1L);
        sv += c[row];
        su += c[row + 1];
        ++n;
      }
    Patch m{sy / n, su / n, sv / n, 0, 0, 0};
    m.r = m.y + 1.402 * (m.cr - 128);
    m.g = m.y - 0.344 * (m.cb - 128) - 0.714 * (m.cr - 128);
    m.b = m.y + 1.772 * (m.cb - 128);
    out.push_back(m);
  }
  return out;
}

class ColourStages : public VfeDriverTest {
 public:
  using VfeDriverTest::Cmd;

 protected:
  // Configures the pipeline (OUTPUT2 only), lets `program` send its
  // commands, starts, and measures the first frame. The VFE is left running.
  Patches Take(const std::function<void()>& program) {
    EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
    ConfigurePipeline(1);
    if (program) program();
    frames_.clear();
    for (int i = 0; i < 3; ++i) frames_.push_back(NewFrame(1));
    for (const Frame& f : frames_) EXPECT_EQ(PVL_OK, Queue(1, f));
    EXPECT_EQ(PVL_OK, Start());
    StartSensor();
    return Next();
  }
  // The next frame of the running VFE (its buffer goes back to the ring).
  Patches Next() {
    seen_.clear();
    if (!WaitFor(MSG_VFE_OUTPUT2)) {
      ADD_FAILURE() << "no frame";
      return Patches(24, Patch{});
    }
    uint32_t luma = seen_.back().payload.frame.luma;
    Patches p(24, Patch{});
    bool found = false;
    for (const Frame& f : frames_) {
      if (f.y.phys != luma) continue;
      const auto* yp = static_cast<const uint8_t*>(f.y.virt);
      const auto* cp = static_cast<const uint8_t*>(f.c.virt);
      p = Measure(std::vector<uint8_t>(yp, yp + f.y.size), std::vector<uint8_t>(cp, cp + f.c.size));
      found = true;
    }
    EXPECT_TRUE(found) << "a frame in no buffer of ours";
    Requeue();
    return p;
  }
  // Every frame delivered so far goes back to the ring.
  void Requeue() {
    for (const VfeMessage& m : seen_)
      for (const Frame& f : frames_)
        if (m.id == MSG_VFE_OUTPUT2 && m.payload.frame.luma == f.y.phys) {
          EXPECT_EQ(PVL_OK, Queue(1, f));
        }
    seen_.clear();
  }
  void StopVfe() { EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_STOP)); }
  // The baseline and the picture with `program`'s commands.
  void TakeBoth(const std::function<void()>& program, Patches* base, Patches* with) {
    *base = Take(nullptr);
    StopVfe();
    *with = Take(program);
    StopVfe();
  }

  std::vector<Frame> frames_;
};

// ---- Payloads -----------------------------------------------------------------------------------

VfeGammaCmd GammaOf(const std::function<int(int)>& curve, uint32_t channels = 6) {
  VfeGammaCmd g{};
  g.enable = 1;
  g.channels = channels;
  for (int i = 0; i < 256; ++i) {
    int v = curve(4 * i), next = i < 255 ? curve(4 * i + 4) : v;
    g.table[i] = int16_t(v | ((next - v) << 8));
  }
  return g;
}
int SquareRoot(int x) { return int(std::lround(255 * std::sqrt(std::min(1023, x) / 1023.0))); }

// Luma adaptation with gain(level) in Q6 and each entry's step to the next.
VfeLumaAdaptationCmd LumaOf(const std::function<int(int)>& gain) {
  VfeLumaAdaptationCmd la{};
  la.enable = 1;
  for (int i = 0; i < 256; ++i) {
    int step = i < 255 ? std::clamp(gain(i + 1) - gain(i), -32, 31) : 0;
    la.table[i] = int16_t(gain(i) | ((step & 0x3F) << 8));
  }
  return la;
}

// The default full-range BT.601 conversion in Q8.
VfeColorConvCmd Bt601() {
  VfeColorConvCmd c{};
  c.enable = 1;
  const int16_t m[10] = {128, 128, -87, -87, 128, 128, -41, -41, 128, 128};  // am ap bm bp cm cp dm dp k_cr k_cb
  std::memcpy(c.matrix, m, sizeof m);
  c.offset[0] = 77;  // RtoY, GtoY, BtoY
  c.offset[1] = 150;
  c.offset[2] = 29;
  return c;
}

// ---- Cases ------------------------------------------------------------------------------------

struct StageCase {
  const char* name;
  std::function<void(ColourStages&)> program;  // sends the block's commands
  std::function<void(const Patches& base, const Patches& with)> check;
};

void PrintTo(const StageCase& c, std::ostream* os) { *os << c.name; }

const char* const kGreys[] = {"neutral 8", "neutral 6.5", "neutral 5", "neutral 3.5"};

std::vector<StageCase> StageCases() {
  return {
      {"WhiteBalanceGainsScaleTheirChannels",
       [](ColourStages& t) {
         VfeWhiteBalanceCmd wb{1, 0, 256, 64, 128};  // R 2.0, B 0.5, G 1.0
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_WHITE_BALANCE, wb));
       },
       [](const Patches& base, const Patches& with) {
         for (const char* grey : {"neutral 6.5", "neutral 5", "neutral 3.5"}) {
           SCOPED_TRACE(grey);
           const Patch &a = base[PatchIndex(grey)], &b = with[PatchIndex(grey)];
           EXPECT_NEAR(b.r, 2 * a.r, 3);
           EXPECT_NEAR(b.g, a.g, 2);
           EXPECT_NEAR(b.b, a.b / 2, 2);
         }
       }},
      {"WhiteBalanceSwitchedOffLeavesThePicture",
       [](ColourStages& t) {
         VfeWhiteBalanceCmd wb{0, 0, 256, 64, 128};
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_WHITE_BALANCE, wb));
       },
       [](const Patches& base, const Patches& with) {
         for (int i = 0; i < 24; ++i) {
           EXPECT_NEAR(with[i].y, base[i].y, 0.5) << kChartPatches[i].name;
           EXPECT_NEAR(with[i].cr, base[i].cr, 0.5) << kChartPatches[i].name;
         }
       }},
      {"ChannelGainsScaleTheirBayerSites",
       [](ColourStages& t) {
         VfeChannelGainCmd gain{{128, 128, 192, 96}};  // greens 1.0, blue 1.5, red 0.75
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_CHANNEL_GAIN, gain));
       },
       [](const Patches& base, const Patches& with) {
         for (const char* grey : kGreys) {
           SCOPED_TRACE(grey);
           const Patch &a = base[PatchIndex(grey)], &b = with[PatchIndex(grey)];
           EXPECT_NEAR(b.r, 0.75 * a.r, 2);
           EXPECT_NEAR(b.g, a.g, 2);
           EXPECT_NEAR(b.b, 1.5 * a.b, 3);
         }
       }},
      {"ColourCorrectionMixesTheChannels",
       [](ColourStages& t) {
         // Rows G, B, R; columns G, B, R: green kept, blue from red, red from blue.
         VfeColorCorrCmd cc{};
         cc.enable = 1;
         const int16_t m[9] = {128, 0, 0, 0, 0, 128, 0, 128, 0};
         std::memcpy(cc.coefficient, m, sizeof m);
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_COLOR_CORR, cc));
       },
       [](const Patches& base, const Patches& with) {
         for (const char* name : {"red", "blue", "orange", "cyan"}) {
           SCOPED_TRACE(name);
           const Patch &a = base[PatchIndex(name)], &b = with[PatchIndex(name)];
           EXPECT_NEAR(b.r, a.b, 3);
           EXPECT_NEAR(b.g, a.g, 3);
           EXPECT_NEAR(b.b, a.r, 3);
         }
       }},
      {"ColourCorrectionHonoursItsQAndOffsets",
       [](ColourStages& t) {
         // Identity with Q 2 (1.0 is 512), offsets G +64, B 0, R -64 on the 10-bit scale.
         VfeColorCorrCmd cc{};
         cc.enable = 1;
         cc.qFactor = 2;
         const int16_t m[9] = {512, 0, 0, 0, 512, 0, 0, 0, 512};
         std::memcpy(cc.coefficient, m, sizeof m);
         cc.offset[0] = 64;
         cc.offset[2] = -64;
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_COLOR_CORR, cc));
       },
       [](const Patches& base, const Patches& with) {
         for (const char* grey : kGreys) {
           SCOPED_TRACE(grey);
           const Patch &a = base[PatchIndex(grey)], &b = with[PatchIndex(grey)];
           EXPECT_NEAR(b.g, a.g + 16, 2);
           EXPECT_NEAR(b.b, a.b, 2);
           EXPECT_NEAR(b.r, std::max(0.0, a.r - 16), 2);
         }
       }},
      {"GammaBendsTheRamp",
       [](ColourStages& t) {
         VfeGammaCmd g = GammaOf(SquareRoot);
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_GAMMA, g));
       },
       [](const Patches& base, const Patches& with) {
         for (const char* grey : {"white", "neutral 8", "neutral 6.5", "neutral 5", "neutral 3.5", "black"}) {
           SCOPED_TRACE(grey);
           // The linear picture keeps the top 8 of the 10 bits.
           EXPECT_NEAR(with[PatchIndex(grey)].y, SquareRoot(int(std::lround(4 * base[PatchIndex(grey)].y + 1.5))), 3);
         }
       }},
      {"GammaChannelZeroIsGreenAndUnwrittenTablesPass",
       [](ColourStages& t) {
         VfeGammaCmd g = GammaOf([](int) { return 200; }, 0);
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_GAMMA, g));
       },
       [](const Patches& base, const Patches& with) {
         for (const char* name : {"white", "red", "neutral 5"}) {
           SCOPED_TRACE(name);
           const Patch &a = base[PatchIndex(name)], &b = with[PatchIndex(name)];
           EXPECT_NEAR(b.g, 200, 3);
           EXPECT_NEAR(b.r, a.r, 3);
           EXPECT_NEAR(b.b, a.b, 3);
         }
       }},
      {"LumaAdaptationDoublesAtGainTwo",
       [](ColourStages& t) {
         VfeLumaAdaptationCmd la = LumaOf([](int) { return 128; });
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_LUMA_ADAPTATION, la));
       },
       [](const Patches& base, const Patches& with) {
         for (const char* grey : {"neutral 6.5", "neutral 5", "neutral 3.5"}) {
           SCOPED_TRACE(grey);
           EXPECT_NEAR(with[PatchIndex(grey)].y, 2 * base[PatchIndex(grey)].y, 3);
         }
       }},
      {"LumaAdaptationFollowsTheLuma",
       [](ColourStages& t) {
         // Unity below level 64, half from 64 up.
         VfeLumaAdaptationCmd la = LumaOf([](int level) { return level < 64 ? 64 : 32; });
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_LUMA_ADAPTATION, la));
       },
       [](const Patches& base, const Patches& with) {
         for (int i = 0; i < 24; ++i) {
           SCOPED_TRACE(kChartPatches[i].name);
           if (base[i].y < 60) {
             EXPECT_NEAR(with[i].y, base[i].y, 1.5);
           } else if (base[i].y > 68) {
             EXPECT_NEAR(with[i].y, base[i].y / 2, 2);
           }
         }
       }},
      {"ColourConversionCoefficientsAndOffsets",
       [](ColourStages& t) {
         // No chroma terms, k_cb 100 and k_cr 160; Y = G + 20.
         VfeColorConvCmd c{};
         c.enable = 1;
         c.matrix[8] = 160;  // k_cr
         c.matrix[9] = 100;  // k_cb
         c.offset[1] = 256;  // GtoY
         c.field28 = 20;     // Yoffset
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_COLOR_CONV, c));
       },
       [](const Patches& base, const Patches& with) {
         for (int i = 0; i < 24; ++i) {
           SCOPED_TRACE(kChartPatches[i].name);
           EXPECT_NEAR(with[i].y, base[i].g + 20, 2.5);
           EXPECT_NEAR(with[i].cb, 100, 0.5);
           EXPECT_NEAR(with[i].cr, 160, 0.5);
         }
       }},
      {"ColourConversionTakesThePairBySign",
       [](ColourStages& t) {
         // BT.601 with the positive Cb and Cr scales at zero: only colour on
         // the negative side of each axis remains.
         VfeColorConvCmd c = Bt601();
         c.matrix[1] = 0;  // ap
         c.matrix[5] = 0;  // cp
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_COLOR_CONV, c));
       },
       [](const Patches& base, const Patches& with) {
         for (int i = 0; i < 24; ++i) {
           SCOPED_TRACE(kChartPatches[i].name);
           EXPECT_NEAR(with[i].y, base[i].y, 1);
           EXPECT_NEAR(with[i].cb, base[i].cb > 129 ? 128 : base[i].cb, 1.5);
           EXPECT_NEAR(with[i].cr, base[i].cr > 129 ? 128 : base[i].cr, 1.5);
         }
       }},
      {"ChromaSuppressionPullsDarkColourIn",
       [](ColourStages& t) {
         // Dark below 200 (ramp 16), bright above 250; chroma never strong enough to keep.
         VfeChromaSuppCmd s{1, {200, 250}, {16, 4}, 1, 255};
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_CHROMA_SUPP, s));
       },
       [](const Patches& base, const Patches& with) {
         int coloured = 0;
         for (int i = 0; i < 24; ++i) {
           SCOPED_TRACE(kChartPatches[i].name);
           EXPECT_NEAR(with[i].y, base[i].y, 0.5);
           EXPECT_NEAR(with[i].cb, 128, 1);
           EXPECT_NEAR(with[i].cr, 128, 1);
           coloured += base[i].Strength() > 10;
         }
         EXPECT_GT(coloured, 12) << "the chart had colour to suppress";
       }},
      {"ChromaSuppressionPullsBrightColourInAndLeavesTheDark",
       [](ColourStages& t) {
         // Nothing dark; bright from 24 over 16 levels.
         VfeChromaSuppCmd s{1, {0, 24}, {1, 16}, 1, 255};
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_CHROMA_SUPP, s));
       },
       [](const Patches& base, const Patches& with) {
         for (int i = 0; i < 24; ++i) {
           SCOPED_TRACE(kChartPatches[i].name);
           if (base[i].y > 44) {
             EXPECT_NEAR(with[i].cr, 128, 1);
             EXPECT_NEAR(with[i].cb, 128, 1);
           }
           if (base[i].y < 22) {
             EXPECT_NEAR(with[i].cr, base[i].cr, 1);
             EXPECT_NEAR(with[i].cb, base[i].cb, 1);
           }
         }
         EXPECT_LT(base[PatchIndex("blue")].y, 22) << "a dark coloured patch to keep";
       }},
      {"ChromaSuppressionKeepsStrongColour",
       [](ColourStages& t) {
         // Everything counts as dark, but chroma beyond 10 + 8 is kept.
         VfeChromaSuppCmd s{1, {255, 255}, {1, 1}, 8, 10};
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_CHROMA_SUPP, s));
       },
       [](const Patches& base, const Patches& with) {
         int kept = 0;
         for (int i = 0; i < 24; ++i) {
           SCOPED_TRACE(kChartPatches[i].name);
           if (base[i].Strength() >= 22) {
             EXPECT_NEAR(with[i].cr, base[i].cr, 1.5);
             ++kept;
           }
           if (base[i].Strength() <= 8) {
             EXPECT_NEAR(with[i].cr, 128, 1);
           }
         }
         EXPECT_GT(kept, 3);
       }},
      {"BlackLevelSubtractsWithoutWrapping",
       [](ColourStages& t) {
         VfeBlackLevelCmd black{1, 0, {511, 511, 511, 511}};
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_BLACK_LEVEL, black));
       },
       [](const Patches& base, const Patches& with) {
         EXPECT_NEAR(with[PatchIndex("black")].y, 0, 0.5) << "below black is 0, never a wrapped bright value";
         EXPECT_NEAR(with[PatchIndex("neutral 5")].y, 0, 0.5);
         EXPECT_GT(with[PatchIndex("white")].y, 20);
         EXPECT_LT(with[PatchIndex("white")].y, base[PatchIndex("white")].y);
       }},
  };
}

class ColourStage : public ColourStages, public ::testing::WithParamInterface<StageCase> {};

TEST_P(ColourStage, ChangesThePictureAsItsPayloadSays) {
  Patches base, with;
  TakeBoth([this] { GetParam().program(*this); }, &base, &with);
  GetParam().check(base, with);
}

INSTANTIATE_TEST_SUITE_P(Blocks, ColourStage, ::testing::ValuesIn(StageCases()),
                         camera::test::CaseName<StageCase>);

// A gamma update goes to the other bank, which the frames use from the next
// register update on.
TEST_F(ColourStages, AGammaUpdateTakesEffectThroughTheOtherBank) {
  Patches first = Take([this] {
    VfeGammaCmd g = GammaOf(SquareRoot);
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_GAMMA, g));
  });
  EXPECT_GT(first[PatchIndex("white")].y, 200);
  VfeGammaCmd flat = GammaOf([](int) { return 100; });
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_GAMMA_UPDATE, flat));
  EXPECT_EQ(1u, BoardVfeWrittenRegister(0x220) & 1);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_UPDATE));
  ASSERT_TRUE(WaitFor(MSG_VFE_UPDATE_ACK));
  Requeue();
  Next();  // may have started before the update
  Patches later = Next();
  for (const char* name : {"white", "black", "red"}) EXPECT_NEAR(later[PatchIndex(name)].y, 100, 1) << name;
  StopVfe();
}

// ---- Payloads the hardware cannot run ---------------------------------------------------------

struct RefusalCase {
  const char* name;
  std::function<void(ColourStages&)> program;
  bool output1Only;  // OUTPUT2 still delivers
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

VfeScaleRecord Direction(uint16_t in, uint16_t out, uint32_t phase, uint8_t n) {
  VfeScaleRecord r{};
  r.enable = 1;
  r.inputSize = in;
  r.outputSize = out;
  r.phaseStep = phase;
  r.fractionBits = n;
  return r;
}
// The main scaler with a horizontal record of its own.
std::function<void(ColourStages&)> MainWith(VfeScaleRecord h) {
  return [h](ColourStages& t) {
    VfeMainScalerCmd m{};
    m.enable = 1;
    m.horizontal = h;
    m.vertical = vfepipeline::Scale(kAreaH, kMainH);
    EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_MAIN_SCALER, m));
  };
}

std::vector<RefusalCase> RefusalCases() {
  return {
      {"AnEnlargingMainScaler", MainWith(Direction(kAreaW, 1400, (kAreaW << 12) / 1400, 0)), false},
      {"AZeroOutput", MainWith(Direction(kAreaW, 0, 4096, 0)), false},
      {"AStepBelowOne", MainWith(Direction(kAreaW, kMainW, 2048, 0)), false},
      {"AStepThatMissesTheSizes", MainWith(Direction(kAreaW, kMainW, 3 << 12, 0)), false},
      {"AShrinkBeyondThirtyTwo", MainWith(Direction(kAreaW, 30, (kAreaW << 12) / 30 >> 1, 0)), false},
      {"AChromaScalerThatIsNotHalfTheLuma",
       [](ColourStages& t) {
         VfeOutputScalerCmd c{};
         c.enable = 1;
         c.horizontal = vfepipeline::Scale(kMainW, kOut1W);  // full, not half
         c.vertical = vfepipeline::Scale(kMainH, kOut1H / 2);
         EXPECT_EQ(PVL_OK, t.Cmd(VFE_CMD_OUTPUT_CBCR_SCALER, c));
       },
       true},
  };
}

class RefusedPayload : public ColourStages, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedPayload, IsReportedAndWritesNoFrame) {
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(2);
  GetParam().program(*this);
  // Two buffers armed and a third to exchange for a finished one, per path.
  Frame one[3] = {NewFrame(0), NewFrame(0), NewFrame(0)}, two[3] = {NewFrame(1), NewFrame(1), NewFrame(1)};
  ASSERT_EQ(PVL_OK, Queue(0, std::vector<VfeBufferEntry>{one[0].entry, one[1].entry, one[2].entry}));
  ASSERT_EQ(PVL_OK, Queue(1, std::vector<VfeBufferEntry>{two[0].entry, two[1].entry, two[2].entry}));
  ASSERT_EQ(PVL_OK, Start());
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT_STATUS, 20000, 2));
  const VfeMessage& status = seen_.back();
  uint32_t refusedPath = GetParam().output1Only ? 4 : 0;  // OUTPUT1's words follow OUTPUT2's
  EXPECT_NE(0u, status.payload.words[refusedPath] & kVfePathPayloadRefused);
  EXPECT_GT(BoardVfeCounts().refusedPayloads, 0u);
  for (const Frame& f : one) EXPECT_TRUE(Untouched(f.y) && Untouched(f.c)) << "OUTPUT1";
  if (GetParam().output1Only) {
    bool got = WaitFor(MSG_VFE_OUTPUT2);
    EXPECT_TRUE(got) << "OUTPUT2 is fed by the main scaler alone";
  } else {
    for (const Frame& f : two) EXPECT_TRUE(Untouched(f.y) && Untouched(f.c)) << "OUTPUT2";
    EXPECT_EQ(0u, BoardVfeCounts().framesDone[kVfeOutput2]);
  }
  StopVfe();
}

INSTANTIATE_TEST_SUITE_P(Scalers, RefusedPayload, ::testing::ValuesIn(RefusalCases()),
                         camera::test::CaseName<RefusalCase>);

}  // namespace
}  // namespace vfedrivertest
