// VFE register programming: the lowest layer of the VFE driver. It maps the
// front end's register window once and turns each block command's payload into
// register words: every writer copies its payload out as its record (the
// caller's buffer may be unaligned), stages the block in zeroed words, places
// each field with its own width and shift, and copies the words to consecutive
// registers lowest first. Registers are reached only through the chipset's
// 32-bit primitives, so that registers with side effects (command, clear and
// table-port registers) behave. The groups, by what they do in the camera
// (names in vferegistermap.h):
//  - control: reset, clocks, module and statistics enables, the input format,
//    the start and output controls, the register update that latches the
//    written block values into the running front end, and the stop request;
//  - interrupts: mask, clear and status, and the status words the routine
//    reads at each interrupt (ping-pong sides, path status, 0x134, 0x1D8, 0x264);
//  - camera interface: its command and configuration and the window it takes
//    from the sensor;
//  - write masters: the ping and pong addresses and geometry of each output
//    plane, the third write master of command 2, and frame drop per path;
//  - image blocks, in the pipeline's order: black level, roll-off, channel
//    gain, demosaic with its adaptive Bayer filter and bad-pixel correction,
//    field-of-view crop, the scalers, white balance, colour correction, luma
//    adaptation and gamma (tables through the table port, double-banked so an
//    update never shows half a table), colour conversion, chroma suppression,
//    the adaptive spatial filter, the output clamp, and blocks 20 and 23;
//  - statistics: the AF window and filter, the extended white-balance
//    classifier, the white-balance/exposure area and the statistics buffers.
#include <bit>

#include "chipset.h"
#include "plindor.h"
#include "vfedriverstate.h"
#include "vferegistermap.h"

// Records are read in the host's byte order; the hardware's is little-endian.
static_assert(std::endian::native == std::endian::little);

using namespace vfereg;

namespace {

volatile uint8_t* g_base = nullptr;

// A field of `width` bits at `shift`.
constexpr uint32_t F(uint32_t value, uint32_t width, uint32_t shift) {
  return (width >= 32 ? value : (value & ((1u << width) - 1))) << shift;
}
// A signed value saturated into a `width`-bit two's-complement field.
uint32_t Saturated(int32_t value, uint32_t width, uint32_t shift) {
  int32_t hi = (1 << (width - 1)) - 1, lo = -(1 << (width - 1));
  if (value > hi) value = hi;
  if (value < lo) value = lo;
  return F(uint32_t(value), width, shift);
}
// A signed field: its two's-complement bits.
uint32_t S(int16_t value) { return uint32_t(int32_t(value)); }
// The exponent of a power of two (the largest one not above value); 0 for 0 and 1.
uint32_t Exponent(uint32_t value) {
  uint32_t e = 0;
  while (value > 1) {
    value >>= 1;
    ++e;
  }
  return e;
}
uint32_t Ceil(uint32_t x, uint32_t d) { return (x + d - 1) / d; }
// Four bytes as one little-endian word, the first in bits 0-7.
uint32_t Word(const uint8_t* b) {
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

void TableSelect(uint32_t table) {
  VfeWrite(kTableSelect, table + kTableOpen);
  VfeWrite(kTableIndex, 0);
}
void TableClose() { VfeWrite(kTableSelect, kTableOpen); }
// A record's 256-entry table, each entry sign-extended to a word.
template <class Record>
void WriteTable256(uint32_t code, const Record& r) {
  TableSelect(code);
  for (uint32_t i = 0; i < 256; ++i) VfeWrite(kTableData, S(r.table[i]));
  TableClose();
}

// The first three words of every scaler, then the rest by kind.
void ScalerHead(uint32_t* w, const VfeScaleRecord& h, const VfeScaleRecord& v) {
  w[0] = F(h.enable, 1, 0) | F(v.enable, 1, 1);
  w[1] = F(h.inputSize, 12, 0) | F(h.outputSize, 12, 16);
  w[2] = F(h.phaseStep, 18, 0) | F(h.fractionBits, 2, 20);
}
// A scaler direction's step word.
uint32_t ScalerStep(const VfeScaleRecord& s) { return F(s.phaseStep, 18, 0) | F(s.fractionBits, 2, 20); }

}  // namespace

void VfeMapRegisters() {
  // A second initialisation keeps the first mapping.
  if (!g_base) g_base = static_cast<volatile uint8_t*>(const_cast<void*>(vfe_get_virtual_address()));
}

uint32_t VfeRead(uint32_t offset) { return g_base ? chip_reg_read32(g_base + offset) : 0; }
void VfeWrite(uint32_t offset, uint32_t value) {
  if (g_base) chip_reg_write32(g_base + offset, value);
}
void VfeCopyWords(uint32_t offset, const uint32_t* words, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) VfeWrite(offset + 4 * i, words[i]);
}

// ---- Words packed from the driver's records ---------------------------------------------
uint32_t VfePackMask() {
  uint32_t m = 0;
  for (uint32_t k = 0; k < 32; ++k) m |= uint32_t(g_vfe.irqEnable[k] & 1) << k;
  return m;
}
void VfeWriteModuleEnables() {
  uint32_t v = 0;
  for (uint32_t i = 0; i < kModuleBits; ++i) v |= uint32_t(g_vfe.moduleEnable[i] & 1) << i;
  VfeWrite(kModuleEnable, v);
}
void VfeWriteStatsEnables() {
  uint32_t v = 0;
  for (uint32_t i = 0; i < kStatsBits; ++i) v |= uint32_t(g_vfe.statsEnable[i] & 1) << i;
  VfeWrite(kStatsEnable, v);
}
void VfeWriteStartControl() {
  const uint8_t* s = g_vfe.startControl;
  VfeWrite(kStartControl, F(s[0], 1, 0) | F(s[1], 1, 4) | F(s[2], 1, 5));
  memset(g_vfe.startControl, 0, sizeof g_vfe.startControl);
}
void VfeWriteOutputControl() {
  const auto& o = g_vfe.outputControl;
  VfeWrite(kOutputControl, F(o.byte0, 1, 0) | F(o.planes[0], 1, 4) | F(o.planes[1], 1, 5) | F(o.planes[2], 1, 6) |
                               F(o.planes[3], 1, 7) | F(o.word2, 2, 8) | F(o.word3, 2, 10));
}
void VfeWriteCamifConfig() {
  const VfeCamifCmd& c = g_vfe.camif;
  VfeWrite(kCamifConfig, F(g_vfe.camifBytes[0], 1, 8) | F(g_vfe.camifBytes[1], 1, 10) | F(c.polarityA, 1, 1) |
                             F(c.polarityB, 1, 2) | F(c.syncMode, 2, 3) | F(c.subsampleEnable, 1, 5) |
                             F(c.flag13, 1, 7) | F(c.patternEnable, 1, 11) | F(c.flag15, 1, 12) | F(c.flag16, 1, 31));
}
void VfeWriteWriteMasterStart() {
  const uint8_t* w = g_vfe.writeMasterStart;
  VfeWrite(kWriteMasterEnables, F(w[0], 1, 0) | F(w[1], 1, 1) | F(w[2], 1, 2) | F(w[3], 1, 3));
  VfeWrite(kWriteMasterCmd, kWriteMastersStart);
}
void VfeWriteOutputSelect() {
  const uint8_t* s = g_vfe.outputSelect;
  VfeWrite(kOutputSelect, F(s[0], 2, 0) | F(s[1], 2, 2) | F(s[2], 5, 4));
}
void VfeWriteGammaBanks() {
  VfeWrite(kGammaBanks, F(g_vfe.gammaBank[0], 1, 0) | F(g_vfe.gammaBank[1], 1, 1) | F(g_vfe.gammaBank[2], 1, 2));
}
void VfeWriteResetDefaults() {
  VfeWrite(kChannelGain, 0x00800080);
  VfeWrite(kChannelGain + 4, 0x00800080);
  VfeWrite(kClockEnable, 0x000FFFFF);
  for (uint32_t r : {kOut2DropPeriod, kOut2DropPeriod + 4, kOut1DropPeriod, kOut1DropPeriod + 4}) VfeWrite(r, 31);
  for (uint32_t r : {kOut2DropPattern, kOut2DropPattern + 4, kOut1DropPattern, kOut1DropPattern + 4})
    VfeWrite(r, 0xFFFFFFFF);
  VfeWrite(kClampMin, 0);
  VfeWrite(kClampMax, 0x00FFFFFF);
}

void VfeWriteStartValues(uint32_t pixelOrder) {
  static constexpr uint32_t kTable[8][3] = {
      {1, 0xC9, 0xAC},     {1, 0x9C, 0xCA},     {1, 0xCA, 0x9C},     {1, 0xAC, 0xC9},
      {3, 0x9CAC, 0x9CAC}, {3, 0xAC9C, 0xAC9C}, {3, 0xC9CA, 0xC9CA}, {3, 0xCAC9, 0xCAC9},
  };
  uint32_t a = 0, b = 0, c = 0;
  if (pixelOrder < 8) {
    a = kTable[pixelOrder][0];
    b = kTable[pixelOrder][1];
    c = kTable[pixelOrder][2];
  }
  VfeWrite(kPixelFormat, a);
  VfeWrite(kPixelPattern1, b);
  VfeWrite(kPixelPattern2, c);
}

// ---- Block writers ------------------------------------------------------------------------
void VfeWriteBlock2(const uint8_t* p) {
  const auto c = VfePayload<VfeBlock2Cmd>(p);
  uint32_t L = 8, P = 0xF6543210;
  if (c.burst == 1) {
    L = 6;
    P = 0x00D43210;
  } else if (c.burst == 2) {
    L = 5;
    P = 0x000C3210;
  }
  uint32_t w[kBlock2Words] = {};
  for (int i = 0; i < 4; ++i) w[i] = c.words[i];
  w[4] = F(c.lines, 12, 0);
  w[5] = F(((c.offset % L) + c.width + L - 1) / L - 1, 10, 16);
  w[6] = F(1, 2, 0) | F(c.lines2, 12, 4) | F(Ceil(c.height2, L), 12, 16);
  w[7] = F(c.lines, 12, 0) | F(uint32_t(c.width) - 1, 13, 12) | F(c.field36, 3, 25) | F(c.field32, 3, 28);
  w[8] = P;
  w[9] = F(c.pattern7[0], 7, 0) | F(c.pattern7[1], 7, 8) | F(c.pattern7[2], 7, 16) | F(c.pattern7[3], 7, 24);
  const uint8_t* patterns[2] = {c.pattern4a, c.pattern4b};
  const uint8_t* bits[2] = {c.bits1a, c.bits1b};
  for (int half = 0; half < 2; ++half) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= F(patterns[half][i], 4, 4 * i) | F(bits[half][i], 1, 16 + i);
    w[10 + half] = v;
  }
  w[12] = F(c.low4, 4, 0) | F(c.high4, 4, 16);
  VfeCopyWords(kBlock2, w, kBlock2Words);
}

void VfeWriteCamif(const uint8_t* p) {
  const auto c = VfePayload<VfeCamifCmd>(p);
  uint32_t w[kCamifWords];
  w[0] = Word(c.modeInfo);
  w[1] = F(c.frameGeometry2, 14, 0) | F(c.frameGeometry1, 14, 16);
  w[2] = F(c.lastPixel, 14, 0) | F(c.firstPixel, 14, 16);
  w[3] = F(c.lastLine, 14, 0) | F(c.firstLine, 14, 16);
  w[4] = F(c.pixelSkipPattern, 16, 0) | F(c.lineSkipPattern, 16, 16);
  w[5] = F(c.patternSelector, 4, 0) | F(c.flag44, 1, 4) | F(c.flag45, 1, 5);
  w[6] = F(c.irq1Line, 14, 0) | F(c.irq2Line, 14, 16);
  VfeCopyWords(kCamif, w, kCamifWords);
}

void VfeWriteCamifUpdate(const uint8_t* p) {
  const auto c = VfePayload<VfeCamifUpdateCmd>(p);
  VfeWrite(kCamifFrame, F(c.frameGeometry2, 14, 0) | F(c.frameGeometry1, 14, 16));
}

void VfeWriteOutput(const uint8_t* p) {
  const auto c = VfePayload<VfeOutputCmd>(p);
  const uint32_t d = g_vfe.burstDivisor;
  // A plane's write master: lines and words per line, then again for its second word.
  auto master = [&](uint32_t reg, uint32_t width, uint32_t height, uint32_t height2, uint32_t width2) {
    uint32_t w[2];
    w[0] = F(height, 12, 0) | F(Ceil(width, d), 10, 16);
    w[1] = F(1, 2, 0) | F(height2, 12, 4) | F(Ceil(width2, d), 12, 16);
    VfeCopyWords(reg, w, 2);
  };
  const VfeOutputPathRecord& o1 = c.output1;
  const VfeOutputPathRecord& o2 = c.output2;
  master(kOut1YGeometry, o1.lumaWidth, o1.lumaHeight, o1.lumaHeight2, o1.lumaWidth2);
  master(kOut1CGeometry, o1.chromaWidth, o1.chromaHeight, o1.chromaHeight2, o1.chromaWidth2);
  master(kOut2YGeometry, o2.lumaWidth, o2.lumaHeight, o2.lumaHeight2, o2.lumaWidth2);
  master(kOut2CGeometry, o2.chromaWidth, o2.chromaHeight, o2.chromaHeight2, o2.chromaWidth2);
}

void VfeWriteBlackLevel(const uint8_t* p) {
  const auto c = VfePayload<VfeBlackLevelCmd>(p);
  uint32_t w[4];
  for (int i = 0; i < 4; ++i) w[i] = F(c.level[i], 9, 0);
  VfeCopyWords(kBlackLevel, w, 4);
}

void VfeWriteRolloff(const uint8_t* p) {
  const auto c = VfePayload<VfeRolloffCmd>(p);
  uint32_t w[3];
  w[0] = F(c.grid[0], 9, 0) | F(c.grid[1], 9, 9) | F(c.grid[2], 9, 18);
  w[1] = F(c.subgrid[0], 4, 0) | F(c.subgrid[1], 4, 4) | F(c.interp[0], 9, 8) | F(c.interp[1], 9, 20);
  w[2] = F(c.field14, 12, 0);
  VfeCopyWords(kRolloffGrid, w, 3);
  // Channels 0 and 1 share a word, then 2 and 3: first the row edges, then from
  // kRolloffStepsAt the steps.
  TableSelect(kTableRolloff);
  for (uint32_t i = 0; i < 13; ++i) {
    VfeWrite(kTableData, (uint32_t(c.initTable[1][i]) << 16) | c.initTable[0][i]);
    VfeWrite(kTableData, (uint32_t(c.initTable[3][i]) << 16) | c.initTable[2][i]);
  }
  VfeWrite(kTableIndex, kRolloffStepsAt);
  for (uint32_t i = 0; i < 208; ++i) {
    VfeWrite(kTableData, (uint32_t(c.deltaTable[1][i]) << 16) | c.deltaTable[0][i]);
    VfeWrite(kTableData, (uint32_t(c.deltaTable[3][i]) << 16) | c.deltaTable[2][i]);
  }
  TableClose();
}

void VfeWriteChannelGain(const uint8_t* p) {
  const auto c = VfePayload<VfeChannelGainCmd>(p);
  uint32_t w[2] = {F(c.gain[0], 10, 0) | F(c.gain[1], 10, 16), F(c.gain[2], 10, 0) | F(c.gain[3], 10, 16)};
  VfeCopyWords(kChannelGain, w, 2);
}

void VfeWriteDemosaic(const uint8_t* p) {
  const auto c = VfePayload<VfeDemosaicCmd>(p);
  uint32_t w[5];
  w[0] = F(c.abfEnable, 1, 0) | F(c.bpcEnable, 1, 1) | F(c.flag3, 1, 2) | F(c.shift, 4, 4) | F(c.slopeLow, 7, 8) |
         F(c.slopeHigh, 7, 16) | F(c.mode, 3, 28);
  w[1] = F(c.abfThreshold, 10, 0);
  w[2] = F(c.field12, 4, 0) | F(c.field10, 10, 4) | F(c.field8, 10, 16);
  w[3] = F(c.bpcMax, 12, 0) | F(c.bpcMin, 12, 12);
  w[4] = F(c.field24, 12, 0);
  VfeCopyWords(kDemosaic, w, 5);
}

void VfeWriteDemosaicUpdate1(const uint8_t* p) {
  const auto c = VfePayload<VfeDemosaicUpdate1Cmd>(p);
  uint32_t v = VfeRead(kDemosaic) & ~(F(~0u, 1, 0) | F(~0u, 1, 2) | F(~0u, 4, 4));
  VfeWrite(kDemosaic, v | F(c.abfEnable, 1, 0) | F(c.flag3, 1, 2) | F(c.shift, 4, 4));
  uint32_t w[2] = {F(c.abfThreshold, 10, 0), F(c.field12, 4, 0) | F(c.field10, 10, 4) | F(c.field8, 10, 16)};
  VfeCopyWords(kAbfThreshold, w, 2);
}

void VfeWriteDemosaicUpdate2(const uint8_t* p) {
  const auto c = VfePayload<VfeDemosaicUpdate2Cmd>(p);
  uint32_t v = VfeRead(kDemosaic) & ~(F(~0u, 1, 1) | F(~0u, 7, 8) | F(~0u, 7, 16));
  VfeWrite(kDemosaic, v | F(c.bpcEnable, 1, 1) | F(c.slopeLow, 7, 8) | F(c.slopeHigh, 7, 16));
  uint32_t w[2] = {F(c.bpcMax, 12, 0) | F(c.bpcMin, 12, 12), F(c.field24, 12, 0)};
  VfeCopyWords(kBpcRedBlue, w, 2);
}

void VfeWriteFovCrop(const uint8_t* p) {
  const auto c = VfePayload<VfeFovCropCmd>(p);
  uint32_t w[2] = {F(c.lastPixel, 12, 0) | F(c.firstPixel, 12, 16), F(c.lastLine, 12, 0) | F(c.firstLine, 12, 16)};
  VfeCopyWords(kFovCrop, w, 2);
}

void VfeWriteMainScaler(const uint8_t* p) {
  const auto c = VfePayload<VfeMainScalerCmd>(p);
  uint32_t w[kMainScalerWords];
  ScalerHead(w, c.horizontal, c.vertical);
  w[3] = F(c.extra[0], 12, 0) | F(c.extra[1], 15, 16);
  w[4] = F(c.vertical.inputSize, 12, 0) | F(c.vertical.outputSize, 12, 16);
  w[5] = ScalerStep(c.vertical);
  w[6] = F(c.extra[2], 12, 0) | F(c.extra[3], 15, 16);
  VfeCopyWords(kMainScaler, w, kMainScalerWords);
}

void VfeWriteOutputScaler(uint32_t base, const uint8_t* p) {
  const auto c = VfePayload<VfeOutputScalerCmd>(p);
  uint32_t w[kOutputScalerWords];
  ScalerHead(w, c.horizontal, c.vertical);
  w[3] = F(c.vertical.inputSize, 12, 0) | F(c.vertical.outputSize, 12, 16);
  w[4] = ScalerStep(c.vertical);
  VfeCopyWords(base, w, kOutputScalerWords);
}

void VfeWriteWhiteBalance(const uint8_t* p) {
  const auto c = VfePayload<VfeWhiteBalanceCmd>(p);
  VfeWrite(kWhiteBalance, F(c.gainG, 9, 0) | F(c.gainB, 9, 9) | F(c.gainR, 9, 18));
}

void VfeWriteColorCorr(const uint8_t* p) {
  const auto c = VfePayload<VfeColorCorrCmd>(p);
  uint32_t w[kColourCorrectionWords];
  for (int i = 0; i < 9; ++i) w[i] = F(S(c.coefficient[i]), 12, 0);
  for (int i = 0; i < 3; ++i) w[9 + i] = F(S(c.offset[i]), 11, 0);
  w[12] = F(c.qFactor, 2, 0);
  VfeCopyWords(kColourCorrection, w, kColourCorrectionWords);
}

void VfeWriteLumaTable(uint32_t bank, const uint8_t* p) {
  WriteTable256(kTableLumaAdaptation + bank, VfePayload<VfeLumaAdaptationCmd>(p));
  VfeWrite(kLumaBank, bank);
}

void VfeWriteGammaTables(const uint8_t* p, bool flipBanks) {
  static constexpr uint8_t kChannels[7] = {1, 2, 4, 3, 5, 6, 7};  // bit c: channel c
  const auto c = VfePayload<VfeGammaCmd>(p);
  if (c.channels >= 7) return;
  for (uint32_t ch = 0; ch < 3; ++ch) {
    if (!(kChannels[c.channels] & (1u << ch))) continue;
    if (flipBanks) g_vfe.gammaBank[ch] ^= 1;
    // The first load always fills bank 0; updates fill the bank they flipped to.
    uint32_t bank = flipBanks ? g_vfe.gammaBank[ch] : 0;
    WriteTable256(kTableGamma + 2 * ch + bank, c);
  }
  if (flipBanks) VfeWriteGammaBanks();
}

void VfeWriteColorConv(const uint8_t* p) {
  const auto c = VfePayload<VfeColorConvCmd>(p);
  uint32_t w[kColourConversionWords];
  // The chroma coefficients in pairs: the odd one in the low field, the even one above.
  for (int i = 0; i < 5; ++i) w[i] = Saturated(c.matrix[2 * i + 1], 11, 0) | Saturated(c.matrix[2 * i], 11, 16);
  for (int i = 0; i < 3; ++i) w[5 + i] = Saturated(c.offset[i], 12, 0);
  w[8] = F(c.field28, 8, 0);
  VfeCopyWords(kColourConversion, w, kColourConversionWords);
}

void VfeWriteChromaSupp(const uint8_t* p) {
  const auto c = VfePayload<VfeChromaSuppCmd>(p);
  // The shifts arrive as powers of two; the 3-bit fields take their exponents.
  uint32_t w[2] = {F(c.lumaThreshold[0], 8, 0) | F(c.lumaThreshold[1], 8, 8) | F(Exponent(c.lumaShift[0]), 3, 16) |
                       F(Exponent(c.lumaShift[1]), 3, 20),
                   F(c.chromaThreshold, 8, 0) | F(Exponent(c.chromaShift), 3, 8)};
  VfeCopyWords(kChromaSuppression, w, 2);
}

namespace {
// The seven filter words, the same from command 17 and from its update (which
// sends the first 32 bytes of command 17's record).
template <class Record>
void WriteAsfWords(const Record& c) {
  // b(n): the payload's byte n (byte 0 is the enable).
  auto b = [&](uint32_t n) -> uint32_t { return c.bytes[n - 1]; };
  uint32_t w[kAsfWords];
  w[0] = F(b(1), 1, 0) | F(b(2), 2, 1) | F(b(4), 4, 4) | F(b(3), 8, 8) | F(b(31), 1, 30);
  w[1] = F(b(8), 7, 0) | F(b(6), 5, 8) | F(b(7), 5, 16) | F(b(5), 7, 24);
  w[2] = F(b(9), 8, 0) | F(b(10), 8, 8) | F(b(11), 8, 16) | F(b(12), 8, 24);
  w[3] = 0;
  for (uint32_t i = 0; i < 5; ++i) w[3] |= F(b(13 + i), 6, 6 * i);
  w[4] = F(b(18), 6, 0) | F(b(19), 6, 6) | F(b(20), 6, 12) | F(b(21), 7, 18);
  w[5] = 0;
  for (uint32_t i = 0; i < 5; ++i) w[5] |= F(b(22 + i), 6, 6 * i);
  w[6] = F(b(27), 6, 0) | F(b(28), 6, 6) | F(b(29), 6, 12) | F(b(30), 7, 18);
  VfeCopyWords(kAsf, w, kAsfWords);
}
}  // namespace

void VfeWriteAsf(const uint8_t* p, bool withSizes) {
  if (!withSizes) {
    WriteAsfWords(VfePayload<VfeAsfUpdateCmd>(p));
    return;
  }
  const auto c = VfePayload<VfeAsfCmd>(p);
  WriteAsfWords(c);
  uint32_t s[2] = {F(c.size[1], 12, 0) | F(c.size[0], 12, 16), F(c.size[3], 12, 0) | F(c.size[2], 12, 16)};
  VfeCopyWords(kAsfSizes, s, 2);
}

void VfeWriteBlock20(const uint8_t* p) {
  const auto c = VfePayload<VfeBlock20Cmd>(p);
  uint32_t w[3] = {0, F(c.size[1], 12, 0) | F(c.size[0], 12, 16), F(c.size[3], 12, 0) | F(c.size[2], 12, 16)};
  for (uint32_t bit = 0; bit < 7; ++bit) w[0] |= F(c.flags[6 - bit], 1, bit);
  VfeCopyWords(kBlock20, w, 3);
}

void VfeWriteFrameDrop(const uint8_t* p) {
  const auto c = VfePayload<VfeFrameDropCmd>(p);
  uint32_t w[8] = {F(c.output2Period, 5, 0), F(c.output2Period, 5, 0), c.output2Pattern, c.output2Pattern,
                   F(c.output1Period, 5, 0), F(c.output1Period, 5, 0), c.output1Pattern, c.output1Pattern};
  static_assert(kOut2DropPattern == kOut2DropPeriod + 8 && kOut1DropPeriod == kOut2DropPeriod + 16 &&
                kOut1DropPattern == kOut2DropPeriod + 24);
  VfeCopyWords(kOut2DropPeriod, w, 8);
}

void VfeWriteFrameDropUpdate(const uint8_t* p) {
  const auto c = VfePayload<VfeFrameDropUpdateCmd>(p);
  VfeWrite(kOut1DropPattern, c.output1Pattern);
  VfeWrite(kOut1DropPattern + 4, c.output1Pattern);
  VfeWrite(kOut2DropPattern, c.output2Pattern);
  VfeWrite(kOut2DropPattern + 4, c.output2Pattern);
}

void VfeWriteBlock22(const uint8_t* p) {
  const auto c = VfePayload<VfeBlock22Cmd>(p);
  uint32_t w[2] = {F(c.maximum[0], 8, 0) | F(c.maximum[1], 8, 8) | F(c.maximum[2], 8, 16),
                   F(c.minimum[0], 8, 0) | F(c.minimum[1], 8, 8) | F(c.minimum[2], 8, 16)};
  static_assert(kClampMin == kClampMax + 4);
  VfeCopyWords(kClampMax, w, 2);
}

void VfeWriteBlock23(const uint8_t* p) {
  const auto c = VfePayload<VfeBlock23Cmd>(p);
  uint32_t w[kBlock23Words];
  w[0] = F(c.field12, 10, 0) | F(c.flag0, 1, 12) | F(c.flag1, 1, 13) | F(c.field16, 2, 16) | F(c.field4, 1, 18) |
         F(c.field8, 1, 19);
  w[1] = F(c.field20, 14, 0) | F(c.field22, 14, 16);
  w[2] = F(c.field24, 24, 0);
  w[3] = F(c.field28, 24, 0);
  w[4] = F(c.field32, 9, 0);
  w[5] = F(c.field34, 9, 0);
  w[6] = F(c.field36, 14, 0);
  w[7] = F(c.field40, 14, 0) | F(c.flag38, 1, 16);
  w[8] = F(c.field42, 8, 0);
  w[9] = F(c.field43, 8, 0);
  w[10] = F(c.field46, 3, 0) | F(c.flag44, 1, 4) | F(c.flag45, 1, 5) | F(c.field48, 2, 6) | F(c.field52, 6, 8);
  w[11] = F(c.field54, 16, 0);
  VfeCopyWords(kBlock23, w, kBlock23Words);
}

namespace {
// The AF window's two words, shared by command 57 and its update.
template <class Record>
void AfWindowWords(uint32_t* w, const Record& c) {
  w[0] = F(c.lastPixel, 12, 0) | F(c.firstPixel, 12, 16) | F(c.gridMode, 1, 31);
  w[1] = F(c.lastLine, 12, 0) | F(c.firstLine, 12, 16);
}
}  // namespace

void VfeWriteAfStatsUpdate(const uint8_t* p) {
  uint32_t w[2];
  AfWindowWords(w, VfePayload<VfeAfStatsUpdateCmd>(p));
  VfeCopyWords(kAfWindow, w, 2);
}

void VfeWriteAfStats(const uint8_t* p) {
  const auto c = VfePayload<VfeAfStatsCmd>(p);
  uint32_t w[9] = {};
  AfWindowWords(w, c);
  for (uint32_t i = 0; i < kAfCellSelectWords; ++i) w[2 + i] = Word(c.cells + 4 * i);
  w[6] = F(c.field37, 8, 0);
  w[7] = F(c.tap0, 5, 0) | F(c.tap4, 5, 5) | F(S(c.clip), 11, 10) | F(c.metric, 1, 21);
  for (int i = 0; i < 5; ++i) w[8] |= F(c.taps[i], 5, 5 * i);
  static_assert(kAfCellSelect == kAfWindow + 8 && kAfLimit == kAfCellSelect + 16 && kAfTaps == kAfWindow + 32);
  VfeCopyWords(kAfWindow, w, 9);
}

namespace {
// The AWB-extended words from their fields, shared by command 59 and its update.
template <class Record>
uint32_t AwbClassWord(const Record& c) {
  return F(c.flags[0], 1, 0) | F(c.flags[1], 1, 1) | F(c.lumaMin, 8, 16) | F(c.lumaMax, 8, 24);
}
template <class Record>
uint32_t AwbSlopeWord(const Record& c) {
  return F(c.slope[0], 8, 24) | F(c.slope[1], 8, 16) | F(c.slope[2], 8, 8) | F(c.slope[3], 8, 0);
}
template <class Record>
uint32_t AwbOffsetWord(const Record& c, uint32_t pair) {
  return F(S(c.offset[2 * pair]), 12, 16) | F(S(c.offset[2 * pair + 1]), 12, 0);
}
}  // namespace

void VfeWriteAwbExtStats(const uint8_t* p) {
  const auto c = VfePayload<VfeAwbExtStatsCmd>(p);
  uint32_t w[5] = {AwbClassWord(c), F(c.field18, 8, 0), AwbSlopeWord(c), AwbOffsetWord(c, 0), AwbOffsetWord(c, 1)};
  static_assert(kAwbLimit == kAwbConfig + 4 && kAwbOffsets34 == kAwbConfig + 16);
  VfeCopyWords(kAwbConfig, w, 5);
}

void VfeWriteAwbExtStatsUpdate(const uint8_t* p) {
  const auto c = VfePayload<VfeAwbExtStatsUpdateCmd>(p);
  VfeWrite(kAwbSlopes, AwbSlopeWord(c));
  VfeWrite(kAwbOffsets12, AwbOffsetWord(c, 0));
  VfeWrite(kAwbOffsets34, AwbOffsetWord(c, 1));
  VfeWrite(kAwbConfig, AwbClassWord(c));
}

void VfeWriteWbExpStats(const uint8_t* p) {
  const auto c = VfePayload<VfeWbExpStatsCmd>(p);
  VfeWrite(kStatsArea, F(c.areaWidth, 12, 0) | F(c.areaHeight, 12, 16));
  VfeWrite(kStatsConfig, F(c.config[1], 4, 0) | F(c.config[3], 4, 4) | F(c.config[5], 4, 8) | F(c.config[0], 1, 12) |
                             F(c.config[2], 1, 13) | F(c.config[4], 1, 14));
  // Ping and pong of each statistics buffer (the third is the driver's to place), then the two words.
  uint32_t w[6] = {c.afBuffer[0], c.afBuffer[1], c.wbExpBuffer[0], c.wbExpBuffer[1], c.word9, c.word10};
  static_assert(kWbExpPing == kAfPing + 8 && kStatsWords == kAfPing + 16);
  VfeCopyWords(kAfPing, w, 6);
}
