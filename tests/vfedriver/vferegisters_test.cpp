// Register packing of the VFE driver, read back from the VFE hardware model's
// written register copies: one golden row per block command (payload fields
// chosen so that each lands in a visible place, expected words written out
// field by field from the hardware's layout), all-zero payloads clearing every
// bit of their blocks, and the table port (gamma, luma adaptation, roll-off).
#include <algorithm>
#include <functional>
#include <map>

#include "casename.h"
#include "vfedriver_fixture.h"

namespace vfedrivertest {
namespace {

using Registers = VfeDriverTest;

template <class T>
std::vector<uint8_t> Bytes(const T& record) {
  const auto* p = reinterpret_cast<const uint8_t*>(&record);
  return std::vector<uint8_t>(p, p + sizeof record);
}

constexpr uint32_t Low12(int v) { return uint32_t(v) & 0xFFF; }
constexpr uint32_t Low11(int v) { return uint32_t(v) & 0x7FF; }

struct GoldenCase {
  const char* name;
  uint32_t command;
  std::function<std::vector<uint8_t>()> payload;
  std::vector<std::pair<uint32_t, uint32_t>> expected;  // register, word
};

class RegisterGolden : public VfeDriverTest, public ::testing::WithParamInterface<GoldenCase> {};

TEST_P(RegisterGolden, PayloadFieldsLandInTheirRegisterBits) {
  const GoldenCase& c = GetParam();
  std::vector<uint8_t> p = c.payload();
  ASSERT_EQ(PVL_OK, drv_->Command(c.command, p.data(), uint32_t(p.size()), nullptr, 0, nullptr));
  for (const auto& [reg, word] : c.expected)
    EXPECT_EQ(word, BoardVfeWrittenRegister(reg)) << "register 0x" << std::hex << reg;
}

const GoldenCase kGolden[] = {
    {"BlackLevel", VFE_CMD_BLACK_LEVEL,
     [] { return Bytes(VfeBlackLevelCmd{1, 0, {0x1FF, 0x201, 64, 100}}); },
     {{0x194, 0x1FF}, {0x198, 0x001}, {0x19C, 64}, {0x1A0, 100}}},
    {"ChannelGain", VFE_CMD_CHANNEL_GAIN, [] { return Bytes(VfeChannelGainCmd{{0x3FF, 0x401, 128, 256}}); },
     {{0x1B4, 0x3FF | (1u << 16)}, {0x1B8, 128 | (256u << 16)}}},
    {"WhiteBalance", VFE_CMD_WHITE_BALANCE, [] { return Bytes(VfeWhiteBalanceCmd{1, 0, 0x1A0, 0x90, 0x80}); },
     {{0x2B4, 0x80 | (0x90u << 9) | (0x1A0u << 18)}}},
    {"FovCrop", VFE_CMD_FOV_CROP, [] { return Bytes(VfeFovCropCmd{1, 0, 6, 1289, 3, 968}); },
     {{0x1E0, 1289 | (6u << 16)}, {0x1E4, 968 | (3u << 16)}}},
    {"ColorConvSaturates", VFE_CMD_COLOR_CONV,
     [] {
       VfeColorConvCmd c{};
       c.enable = 1;
       c.matrix[0] = 2000;   // beyond +3.996: the most the field holds
       c.matrix[1] = -1580;  // a hue of 90 degrees asks for -6.17
       c.matrix[2] = 77;
       c.matrix[3] = 150;
       c.offset[0] = -16;
       c.offset[2] = 128;
       c.field28 = 0x80;
       return Bytes(c);
     },
     {{0x224, 0x400 | (0x3FFu << 16)}, {0x228, 150 | (77u << 16)}, {0x238, Low12(-16)}, {0x240, 128}, {0x244, 0x80}}},
    {"ChromaSuppExponents", VFE_CMD_CHROMA_SUPP, [] { return Bytes(VfeChromaSuppCmd{1, {0x10, 0x20}, {16, 8}, 128, 0x40}); },
     {{0x2B8, 0x10 | (0x20u << 8) | (4u << 16) | (3u << 20)}, {0x2BC, 0x40 | (7u << 8)}}},
    {"OutputDivisorSix", VFE_CMD_OUTPUT,
     [] {
       VfeOutputCmd o{};
       o.outputMode = 0;
       o.burstCode = 1;
       o.output1 = VfeOutputPathRecord{1, 0, 320, 240, 240, 320, 320, 120, 120, 320};
       return Bytes(o);
     },
     {{0x058, 240 | (54u << 16)},
      {0x05C, 1 | (240u << 4) | (54u << 16)},
      {0x068, 120 | (54u << 16)},
      {0x06C, 1 | (120u << 4) | (54u << 16)},
      {0x038, 0},
      {0x03C, 1}}},
    {"MainScaler", VFE_CMD_MAIN_SCALER,
     [] {
       VfeMainScalerCmd m{};
       m.enable = 1;
       m.horizontal = VfeScaleRecord{1, 0, 1284, 642, 0, 8192, 1, {}};
       m.vertical = VfeScaleRecord{1, 0, 966, 483, 0, 0x3FFFF, 2, {}};
       m.extra[0] = 1;
       m.extra[1] = 2;
       m.extra[2] = 3;
       m.extra[3] = 4;
       return Bytes(m);
     },
     {{0x270, 3},
      {0x274, 1284 | (642u << 16)},
      {0x278, 8192 | (1u << 20)},
      {0x27C, 1 | (2u << 16)},
      {0x280, 966 | (483u << 16)},
      {0x284, 0x3FFFF | (2u << 20)},
      {0x288, 3 | (4u << 16)}}},
    {"OutputYScaler", VFE_CMD_OUTPUT_Y_SCALER,
     [] {
       VfeOutputScalerCmd s{};
       s.horizontal = VfeScaleRecord{1, 0, 642, 320, 0, 8217, 0, {}};
       s.vertical = VfeScaleRecord{0, 0, 483, 240, 0, 8241, 3, {}};
       return Bytes(s);
     },
     {{0x28C, 1}, {0x290, 642 | (320u << 16)}, {0x294, 8217}, {0x298, 483 | (240u << 16)}, {0x29C, 8241 | (3u << 20)}}},
    {"Demosaic", VFE_CMD_DEMOSAIC,
     [] {
       VfeDemosaicCmd d{};
       d.enable = 1;
       d.mode = 5;
       d.abfEnable = 1;
       d.flag3 = 1;
       d.shift = 0xA;
       d.abfThreshold = 0x3FF;
       d.field8 = 0x155;
       d.field10 = 0x2AA;
       d.field12 = 0xC;
       d.bpcEnable = 1;
       d.slopeHigh = 0x55;
       d.slopeLow = 0x2A;
       d.bpcMin = 0x123;
       d.bpcMax = 0xFED;
       d.field24 = 0x777;
       return Bytes(d);
     },
     {{0x1C4, 1 | (1u << 1) | (1u << 2) | (0xAu << 4) | (0x2Au << 8) | (0x55u << 16) | (5u << 28)},
      {0x1C8, 0x3FF},
      {0x1CC, 0xC | (0x2AAu << 4) | (0x155u << 16)},
      {0x1D0, 0xFED | (0x123u << 12)},
      {0x1D4, 0x777}}},
    {"FrameDrop", VFE_CMD_FRAME_DROP, [] { return Bytes(VfeFrameDropCmd{30, {}, 0x0F0F0F0F, 3, {}, 5}); },
     {{0x2CC, 3}, {0x2D0, 3}, {0x2D4, 5}, {0x2D8, 5}, {0x2DC, 30}, {0x2E0, 30}, {0x2E4, 0x0F0F0F0F}, {0x2E8, 0x0F0F0F0F}}},
    {"AfStats", VFE_CMD_AF_STATS,
     [] {
       VfeAfStatsCmd a{};
       a.enable = 1;
       a.gridMode = 1;
       a.firstPixel = 100;
       a.lastPixel = 1000;
       a.firstLine = 50;
       a.lastLine = 700;
       for (int i = 0; i < 16; ++i) a.cells[i] = uint8_t(i);
       a.metric = 1;
       a.clip = 2047;
       a.tap0 = 30;
       a.tap4 = 29;
       for (int i = 0; i < 5; ++i) a.taps[i] = uint8_t(i + 1);
       a.field37 = 79;
       return Bytes(a);
     },
     {{0x2F8, 1000 | (100u << 16) | (1u << 31)},
      {0x2FC, 700 | (50u << 16)},
      {0x300, 0x03020100},
      {0x30C, 0x0F0E0D0C},
      {0x310, 79},
      {0x314, 30 | (29u << 5) | (2047u << 10) | (1u << 21)},
      {0x318, 1 | (2u << 5) | (3u << 10) | (4u << 15) | (5u << 20)}}},
    {"AwbExtStats", VFE_CMD_AWBEXT_STATS,
     [] {
       VfeAwbExtStatsCmd a{};
       a.enable = 1;
       a.flags[0] = a.flags[1] = 1;
       a.lumaMin = 10;
       a.lumaMax = 240;
       a.slope[0] = 0x10;
       a.slope[1] = 0xF0;
       a.slope[2] = 0x20;
       a.slope[3] = 0xE0;
       a.offset[0] = -100;
       a.offset[1] = 200;
       a.offset[2] = 50;
       a.offset[3] = -50;
       a.field18 = 7;
       return Bytes(a);
     },
     {{0x31C, 1 | 2 | (10u << 16) | (240u << 24)},
      {0x320, 7},
      {0x324, (0x10u << 24) | (0xF0u << 16) | (0x20u << 8) | 0xE0},
      {0x328, (Low12(-100) << 16) | 200},
      {0x32C, (50u << 16) | Low12(-50)}}},
    {"WbExpStats", VFE_CMD_WB_EXP_STATS,
     [] {
       VfeWbExpStatsCmd s{};
       s.areaWidth = 1283;
       s.areaHeight = 965;
       const uint8_t config[6] = {1, 5, 0, 6, 1, 7};
       memcpy(s.config, config, 6);
       s.afBuffer[0] = 0x1000;
       s.afBuffer[1] = 0x2000;
       s.afBuffer[2] = 0x3000;
       s.wbExpBuffer[0] = 0x4000;
       s.wbExpBuffer[1] = 0x5000;
       s.wbExpBuffer[2] = 0x6000;
       s.word9 = 0x7000;
       s.word10 = 0x8000;
       return Bytes(s);
     },
     {{0x33C, 1283 | (965u << 16)},
      {0x088, 5 | (6u << 4) | (7u << 8) | (1u << 12) | (1u << 14)},
      {0x070, 0x1000},
      {0x074, 0x2000},
      {0x078, 0x4000},
      {0x07C, 0x5000},
      {0x080, 0x7000},
      {0x084, 0x8000}}},
    {"Camif", VFE_CMD_CAMIF,
     [] {
       VfeCamifCmd c{};
       c.modeInfo[0] = 1;
       c.modeInfo[1] = 2;
       c.modeInfo[2] = 3;
       c.modeInfo[3] = 4;
       c.frameGeometry2 = 1300;
       c.frameGeometry1 = 980;
       c.firstPixel = 8;
       c.lastPixel = 1295;
       c.firstLine = 2;
       c.lastLine = 971;
       c.pixelSkipPattern = 0xAAAA;
       c.lineSkipPattern = 0x5555;
       c.patternSelector = 5;
       c.flag44 = 1;
       c.irq1Line = 10;
       c.irq2Line = 20;
       return Bytes(c);
     },
     {{0x118, 0x04030201},
      {0x11C, 1300 | (980u << 16)},
      {0x120, 1295 | (8u << 16)},
      {0x124, 971 | (2u << 16)},
      {0x128, 0xAAAA | (0x5555u << 16)},
      {0x12C, 5 | (1u << 4)},
      {0x130, 10 | (20u << 16)}}},
    {"Block22", VFE_CMD_BLOCK22, [] { return Bytes(VfeBlock22Cmd{{0, 1, 2}, {0xFF, 0xFE, 0xFD}}); },
     {{0x2EC, 0xFF | (0xFEu << 8) | (0xFDu << 16)}, {0x2F0, 0 | (1u << 8) | (2u << 16)}}},
    {"ColorCorr", VFE_CMD_COLOR_CORR,
     [] {
       VfeColorCorrCmd c{};
       c.enable = 1;
       c.qFactor = 2;
       c.coefficient[0] = 100;
       c.coefficient[1] = -20;
       c.coefficient[8] = 2047;
       c.offset[0] = -5;
       c.offset[2] = 1023;
       return Bytes(c);
     },
     {{0x1E8, 100}, {0x1EC, Low12(-20)}, {0x208, 2047}, {0x20C, Low11(-5)}, {0x214, 1023}, {0x218, 2}}},
    {"Asf", VFE_CMD_ASF,
     [] {
       VfeAsfCmd a{};
       a.enable = 1;
       a.bytes[0] = 1;     // +1
       a.bytes[1] = 3;     // +2
       a.bytes[2] = 0x80;  // +3
       a.bytes[3] = 0xF;   // +4
       a.bytes[12] = 63;   // +13
       a.bytes[20] = 0x7F; // +21
       a.bytes[30] = 1;    // +31
       a.size[0] = 10;
       a.size[1] = 20;
       a.size[2] = 30;
       a.size[3] = 40;
       return Bytes(a);
     },
     {{0x248, 1 | (3u << 1) | (0xFu << 4) | (0x80u << 8) | (1u << 30)},
      {0x254, 63},
      {0x258, 0x7Fu << 18},
      {0x268, 20 | (10u << 16)},
      {0x26C, 40 | (30u << 16)}}},
    {"Block20", VFE_CMD_BLOCK20,
     [] {
       VfeBlock20Cmd b{};
       b.flags[0] = 1;  // +1: bit 6
       b.flags[6] = 1;  // +7: bit 0
       b.size[0] = 5;
       b.size[1] = 6;
       return Bytes(b);
     },
     {{0x2C0, 0x41}, {0x2C4, 6 | (5u << 16)}}},
    {"Block23", VFE_CMD_BLOCK23,
     [] {
       VfeBlock23Cmd b{};
       b.flag0 = 1;
       b.field12 = 0x3FF;
       b.field16 = 3;
       b.field54 = 0xBEEF;
       return Bytes(b);
     },
     {{0x370, 0x3FF | (1u << 12) | (3u << 16)}, {0x39C, 0xBEEF}}},
};

INSTANTIATE_TEST_SUITE_P(Blocks, RegisterGolden, ::testing::ValuesIn(kGolden),
                         camera::test::CaseName<GoldenCase>);

// ---- All-zero payloads -------------------------------------------------------------------------

struct ZeroCase {
  const char* name;
  uint32_t command;
  uint32_t size;
  std::vector<std::pair<uint32_t, uint32_t>> blocks;  // first register, words
};

class ZeroPayloads : public VfeDriverTest, public ::testing::WithParamInterface<ZeroCase> {};

TEST_P(ZeroPayloads, ClearEveryBitOfTheirBlock) {
  const ZeroCase& c = GetParam();
  for (const auto& [first, words] : c.blocks)
    for (uint32_t i = 0; i < words; ++i) SetReg(first + 4 * i, 0xFFFFFFFF);
  std::vector<uint8_t> p(c.size, 0);
  ASSERT_EQ(PVL_OK, drv_->Command(c.command, p.data(), c.size, nullptr, 0, nullptr));
  for (const auto& [first, words] : c.blocks)
    for (uint32_t i = 0; i < words; ++i)
      EXPECT_EQ(0u, BoardVfeWrittenRegister(first + 4 * i)) << "register 0x" << std::hex << first + 4 * i;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ZeroPayloads,
    ::testing::Values(ZeroCase{"Camif", VFE_CMD_CAMIF, 56, {{0x118, 7}}},
                      ZeroCase{"BlackLevel", VFE_CMD_BLACK_LEVEL, 10, {{0x194, 4}}},
                      ZeroCase{"Rolloff", VFE_CMD_ROLLOFF, 1784, {{0x1A4, 3}}},
                      ZeroCase{"ChannelGain", VFE_CMD_CHANNEL_GAIN, 8, {{0x1B4, 2}}},
                      ZeroCase{"Demosaic", VFE_CMD_DEMOSAIC, 26, {{0x1C4, 5}}},
                      ZeroCase{"FovCrop", VFE_CMD_FOV_CROP, 10, {{0x1E0, 2}}},
                      ZeroCase{"MainScaler", VFE_CMD_MAIN_SCALER, 44, {{0x270, 7}}},
                      ZeroCase{"WhiteBalance", VFE_CMD_WHITE_BALANCE, 8, {{0x2B4, 1}}},
                      ZeroCase{"ColorCorr", VFE_CMD_COLOR_CORR, 32, {{0x1E8, 13}}},
                      ZeroCase{"ColorConv", VFE_CMD_COLOR_CONV, 30, {{0x224, 9}}},
                      ZeroCase{"ChromaSupp", VFE_CMD_CHROMA_SUPP, 7, {{0x2B8, 2}}},
                      ZeroCase{"Asf", VFE_CMD_ASF, 40, {{0x248, 7}, {0x268, 2}}},
                      ZeroCase{"OutputYScaler", VFE_CMD_OUTPUT_Y_SCALER, 36, {{0x28C, 5}}},
                      ZeroCase{"OutputCbCrScaler", VFE_CMD_OUTPUT_CBCR_SCALER, 36, {{0x2A0, 5}}},
                      ZeroCase{"Block20", VFE_CMD_BLOCK20, 16, {{0x2C0, 3}}},
                      ZeroCase{"FrameDrop", VFE_CMD_FRAME_DROP, 16, {{0x2CC, 8}}},
                      ZeroCase{"Block22", VFE_CMD_BLOCK22, 6, {{0x2EC, 2}}},
                      ZeroCase{"Block23", VFE_CMD_BLOCK23, 56, {{0x370, 12}}},
                      ZeroCase{"WbExpStats", VFE_CMD_WB_EXP_STATS, 48, {{0x070, 6}, {0x088, 1}, {0x33C, 1}}},
                      ZeroCase{"AfStats", VFE_CMD_AF_STATS, 38, {{0x2F8, 9}}},
                      ZeroCase{"AwbExtStats", VFE_CMD_AWBEXT_STATS, 20, {{0x31C, 5}}}),
    camera::test::CaseName<ZeroCase>);

// ---- Output write masters ------------------------------------------------------------------------

TEST_F(Registers, TheBurstDivisorFollowsItsCodeAndAnUnknownCodeKeepsTheLast) {
  VfeOutputCmd o{};
  o.output1 = VfeOutputPathRecord{1, 0, 320, 240, 240, 320, 320, 120, 120, 320};
  struct Step {
    uint32_t code, words;
  };
  for (Step s : {Step{2, 64}, Step{3, 64}, Step{0, 40}, Step{7, 40}, Step{1, 54}}) {
    o.burstCode = s.code;
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_OUTPUT, o));
    EXPECT_EQ(s.words, BoardVfeWrittenRegister(0x058) >> 16) << "code " << s.code;
  }
}

TEST_F(Registers, MoreThanFourFragmentsAreRefused) {
  VfeOutputCmd o{};
  o.output2.fragmentCount = 5;
  ChipSimTraceWindow(kVfeRegistersPhys, true);
  ChipSimTakeTrace();
  EXPECT_EQ(PVL_E_BADARG, Cmd(VFE_CMD_OUTPUT, o));
  EXPECT_TRUE(ChipSimTakeTrace().empty());
  ChipSimTraceWindow(kVfeRegistersPhys, false);
  o.output2.fragmentCount = 4;
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_OUTPUT, o));
  EXPECT_TRUE(State().path[1].multiFragment);
}

// ---- Table port ------------------------------------------------------------------------------------

// The codes selected on the table port (0x340 <- code + 256) since `from`.
std::vector<uint32_t> SelectedTables(size_t from) {
  std::vector<uint32_t> codes;
  std::vector<BoardVfeAccess> log = BoardVfeAccessLog();
  for (size_t i = from; i < log.size(); ++i)
    if (log[i].write && log[i].offset == 0x340 && log[i].value > 256) codes.push_back(log[i].value - 256);
  return codes;
}

VfeGammaCmd Gamma(uint32_t selector) {
  VfeGammaCmd g{};
  g.enable = 1;
  g.channels = selector;
  for (int i = 0; i < 256; ++i) g.table[i] = int16_t(i * 4 - 300);
  return g;
}

TEST_F(Registers, GammaSelectorsChooseTheirChannelsBankZero) {
  const std::vector<std::vector<uint32_t>> expected = {{2}, {4}, {6}, {2, 4}, {2, 6}, {4, 6}, {2, 4, 6}, {}};
  for (uint32_t selector = 0; selector < expected.size(); ++selector) {
    size_t from = BoardVfeAccessLog().size();
    VfeGammaCmd g = Gamma(selector);
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_GAMMA, g));
    EXPECT_EQ(expected[selector], SelectedTables(from)) << "selector " << selector;
  }
  std::vector<uint32_t> table = BoardVfeTable(2);
  ASSERT_GE(table.size(), 256u);
  EXPECT_EQ(uint32_t(-300), table[0]);  // sign-extended
  EXPECT_EQ(uint32_t(1020 - 300), table[255]);
}

TEST_F(Registers, GammaAndLumaUpdatesAlternateTheirBanks) {
  VfeLumaAdaptationCmd luma{};
  luma.enable = 1;
  luma.table[5] = -7;
  size_t from = BoardVfeAccessLog().size();
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_LUMA_ADAPTATION, luma));
  EXPECT_EQ(std::vector<uint32_t>{14}, SelectedTables(from));
  EXPECT_EQ(0u, BoardVfeWrittenRegister(0x21C));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());  // running, no frames
  VfeGammaCmd g = Gamma(0);
  for (uint32_t expected : {3u, 2u, 3u}) {
    from = BoardVfeAccessLog().size();
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_GAMMA_UPDATE, g));
    EXPECT_EQ(std::vector<uint32_t>{expected}, SelectedTables(from));
    EXPECT_EQ(expected == 3u ? 1u : 0u, BoardVfeWrittenRegister(0x220) & 1);
  }
  from = BoardVfeAccessLog().size();
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_LUMA_ADAPTATION_UPDATE, luma));
  EXPECT_EQ(std::vector<uint32_t>{15}, SelectedTables(from));
  EXPECT_EQ(1u, BoardVfeWrittenRegister(0x21C));
  EXPECT_EQ(uint32_t(-7), BoardVfeTable(15).at(5));
}

TEST_F(Registers, RolloffWritesTheInitialThenTheDeltaTables) {
  std::vector<uint8_t> p(sizeof(VfeRolloffCmd), 0);
  VfeRolloffCmd* r = reinterpret_cast<VfeRolloffCmd*>(p.data());
  r->initTable[0][0] = 0x11;
  r->initTable[1][0] = 0x22;
  r->initTable[2][12] = 0x33;
  r->initTable[3][12] = 0x44;
  r->deltaTable[0][207] = 0x55;
  r->deltaTable[1][207] = 0x66;
  r->deltaTable[2][0] = 0x77;
  r->deltaTable[3][0] = 0x88;
  size_t from = BoardVfeAccessLog().size();
  ASSERT_EQ(PVL_OK, drv_->Command(VFE_CMD_ROLLOFF, p.data(), uint32_t(p.size()), nullptr, 0, nullptr));
  std::vector<BoardVfeAccess> log = BoardVfeAccessLog();
  std::vector<uint32_t> data;
  size_t indexAt = 0;
  for (size_t i = from; i < log.size(); ++i) {
    if (!log[i].write) continue;
    if (log[i].offset == 0x34C) data.push_back(log[i].value);
    if (log[i].offset == 0x344 && log[i].value == 32) indexAt = data.size();
  }
  ASSERT_EQ(26u + 416u, data.size());
  EXPECT_EQ(26u, indexAt);
  EXPECT_EQ(0x11u | (0x22u << 16), data[0]);
  EXPECT_EQ(0x33u | (0x44u << 16), data[25]);
  EXPECT_EQ(0x77u | (0x88u << 16), data[27]);  // tables 2 (low half) and 3 (high half)
  EXPECT_EQ(0x55u | (0x66u << 16), data[26 + 414]);
  EXPECT_EQ(256u, BoardVfeWrittenRegister(0x340));
}

// ---- Demosaic updates and block 23 ---------------------------------------------------------------------

TEST_F(Registers, DemosaicUpdatesKeepTheOtherHalfOfTheirSharedRegister) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  SetReg(0x1C4, 0xFFFFFFFF);
  VfeDemosaicUpdate1Cmd u1{};  // clears bits 0, 2, 4-7 only
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_DEMOSAIC_UPDATE1, u1));
  EXPECT_EQ(0xFFFFFFFFu & ~0xF5u, BoardVfeWrittenRegister(0x1C4));
  VfeDemosaicUpdate2Cmd u2{1, 0, 0x7F, 0, 0, 0, 0};  // bit 1 set, bits 8-14 cleared, 16-22 set
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_DEMOSAIC_UPDATE2, u2));
  EXPECT_EQ((0xFFFFFFFFu & ~0xF5u & ~(0x7Fu << 8)), BoardVfeWrittenRegister(0x1C4));
}

TEST_F(Registers, Block23StartsAtTheNextStartWhenIdleAndAtOnceWhenRunning) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  VfeBlock23Cmd b{};
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_BLOCK23, b));
  EXPECT_EQ(0u, BoardVfeWrittenRegister(0x36C));
  ASSERT_EQ(PVL_OK, Start());
  EXPECT_EQ(1u, BoardVfeWrittenRegister(0x36C));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
  EXPECT_EQ(2u, BoardVfeWrittenRegister(0x36C));
}

}  // namespace
}  // namespace vfedrivertest
