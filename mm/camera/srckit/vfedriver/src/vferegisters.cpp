// VFE register programming: the lowest layer of the VFE driver. It maps the
// front end's register window once and turns each block command's payload into
// register words: every writer stages its block in zeroed words, places each
// field with its own width and shift, and copies the words to consecutive
// registers lowest first. Registers are reached only through the chipset's
// 32-bit primitives, so that registers with side effects (command, clear and
// table-port registers) behave. The payload offsets below are the hardware
// format of the records in vfedriver.h.
#include <string.h>

#include "chipset.h"
#include "plindor.h"
#include "vfedriverstate.h"

namespace {

volatile uint8_t* g_base = nullptr;

uint32_t U8(const uint8_t* p, uint32_t n) { return p[n]; }
uint32_t U16(const uint8_t* p, uint32_t n) { return uint32_t(p[n]) | (uint32_t(p[n + 1]) << 8); }
int32_t S16(const uint8_t* p, uint32_t n) { return int16_t(U16(p, n)); }
uint32_t U32(const uint8_t* p, uint32_t n) { return U16(p, n) | (U16(p, n + 2) << 16); }

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

void TableSelect(uint32_t table) {
  VfeWrite(0x340, table + 256);
  VfeWrite(0x344, 0);
}
void TableClose() { VfeWrite(0x340, 256); }
void WriteTable256(uint32_t code, const uint8_t* p, uint32_t at) {
  TableSelect(code);
  for (uint32_t i = 0; i < 256; ++i) VfeWrite(0x34C, uint32_t(S16(p, at + 2 * i)));
  TableClose();
}

// The first three words of every scaler, then the rest by kind.
void ScalerHead(uint32_t* w, const uint8_t* p) {
  w[0] = F(U8(p, 4), 1, 0) | F(U8(p, 20), 1, 1);
  w[1] = F(U16(p, 6), 12, 0) | F(U16(p, 8), 12, 16);
  w[2] = F(U32(p, 12), 18, 0) | F(U8(p, 16), 2, 20);
}

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
  for (uint32_t i = 0; i < 20; ++i) v |= uint32_t(g_vfe.moduleEnable[i] & 1) << i;
  VfeWrite(0x010, v);
}
void VfeWriteStatsEnables() {
  uint32_t v = 0;
  for (uint32_t i = 0; i < 6; ++i) v |= uint32_t(g_vfe.statsEnable[i] & 1) << i;
  VfeWrite(0x2F4, v);
}
void VfeWriteStartControl() {
  const uint8_t* s = g_vfe.startControl;
  VfeWrite(0x028, F(s[0], 1, 0) | F(s[1], 1, 4) | F(s[2], 1, 5));
  memset(g_vfe.startControl, 0, sizeof g_vfe.startControl);
}
void VfeWriteOutputControl() {
  const auto& o = g_vfe.outputControl;
  VfeWrite(0x02C, F(o.byte0, 1, 0) | F(o.planes[0], 1, 4) | F(o.planes[1], 1, 5) | F(o.planes[2], 1, 6) |
                      F(o.planes[3], 1, 7) | F(o.word2, 2, 8) | F(o.word3, 2, 10));
}
void VfeWriteCamifConfig() {
  const uint8_t* k = g_vfe.camifKept;
  VfeWrite(0x114, F(g_vfe.camifBytes[0], 1, 8) | F(g_vfe.camifBytes[1], 1, 10) | F(U32(k, 0), 1, 1) |
                      F(U32(k, 4), 1, 2) | F(U32(k, 8), 2, 3) | F(U8(k, 12), 1, 5) | F(U8(k, 13), 1, 7) |
                      F(U8(k, 14), 1, 11) | F(U8(k, 15), 1, 12) | F(U8(k, 16), 1, 31));
}
void VfeWriteWriteMasterStart() {
  const uint8_t* w = g_vfe.writeMasterStart;
  VfeWrite(0x0CC, F(w[0], 1, 0) | F(w[1], 1, 1) | F(w[2], 1, 2) | F(w[3], 1, 3));
  VfeWrite(0x0C8, 1);
}
void VfeWriteOutputSelect() {
  const uint8_t* s = g_vfe.outputSelect;
  VfeWrite(0x024, F(s[0], 2, 0) | F(s[1], 2, 2) | F(s[2], 5, 4));
}
void VfeWriteGammaBanks() {
  VfeWrite(0x220, F(g_vfe.gammaBank[0], 1, 0) | F(g_vfe.gammaBank[1], 1, 1) | F(g_vfe.gammaBank[2], 1, 2));
}
void VfeWriteResetDefaults() {
  VfeWrite(0x1B4, 0x00800080);
  VfeWrite(0x1B8, 0x00800080);
  VfeWrite(0x00C, 0x000FFFFF);
  for (uint32_t r : {0x2CCu, 0x2D0u, 0x2DCu, 0x2E0u}) VfeWrite(r, 31);
  for (uint32_t r : {0x2D4u, 0x2D8u, 0x2E4u, 0x2E8u}) VfeWrite(r, 0xFFFFFFFF);
  VfeWrite(0x2F0, 0);
  VfeWrite(0x2EC, 0x00FFFFFF);
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
  VfeWrite(0x1B0, a);
  VfeWrite(0x1BC, b);
  VfeWrite(0x1C0, c);
}

// ---- Block writers ------------------------------------------------------------------------
void VfeWriteBlock2(const uint8_t* p) {
  uint32_t L = 8, P = 0xF6543210;
  if (U32(p, 40) == 1) {
    L = 6;
    P = 0x00D43210;
  } else if (U32(p, 40) == 2) {
    L = 5;
    P = 0x000C3210;
  }
  uint32_t w[13] = {};
  for (int i = 0; i < 4; ++i) w[i] = U32(p, 4 * i);
  w[4] = F(U16(p, 18), 12, 0);
  w[5] = F(((U16(p, 20) % L) + U16(p, 22) + L - 1) / L - 1, 10, 16);
  w[6] = F(1, 2, 0) | F(U16(p, 26), 12, 4) | F(Ceil(U16(p, 24), L), 12, 16);
  w[7] = F(U16(p, 18), 12, 0) | F(U16(p, 22) - 1, 13, 12) | F(U32(p, 36), 3, 25) | F(U8(p, 32), 3, 28);
  w[8] = P;
  w[9] = F(U8(p, 44), 7, 0) | F(U8(p, 45), 7, 8) | F(U8(p, 46), 7, 16) | F(U8(p, 47), 7, 24);
  for (int half = 0; half < 2; ++half) {
    uint32_t at = 48 + 8 * half, v = 0;
    for (int i = 0; i < 4; ++i) v |= F(U8(p, at + i), 4, 4 * i) | F(U8(p, at + 4 + i), 1, 16 + i);
    w[10 + half] = v;
  }
  w[12] = F(U8(p, 64), 4, 0) | F(U8(p, 65), 4, 16);
  VfeCopyWords(0x08C, w, 13);
}

void VfeWriteCamif(const uint8_t* p) {
  uint32_t w[7];
  w[0] = F(U8(p, 20), 8, 0) | F(U8(p, 21), 8, 8) | F(U8(p, 22), 8, 16) | F(U8(p, 23), 8, 24);
  w[1] = F(U16(p, 24), 14, 0) | F(U16(p, 26), 14, 16);
  w[2] = F(U16(p, 30), 14, 0) | F(U16(p, 28), 14, 16);
  w[3] = F(U16(p, 34), 14, 0) | F(U16(p, 32), 14, 16);
  w[4] = F(U16(p, 36), 16, 0) | F(U16(p, 38), 16, 16);
  w[5] = F(U32(p, 40), 4, 0) | F(U8(p, 44), 1, 4) | F(U8(p, 45), 1, 5);
  w[6] = F(U16(p, 50), 14, 0) | F(U16(p, 54), 14, 16);
  VfeCopyWords(0x118, w, 7);
}

void VfeWriteCamifUpdate(const uint8_t* p) { VfeWrite(0x11C, F(U16(p, 0), 14, 0) | F(U16(p, 2), 14, 16)); }

void VfeWriteOutput(const uint8_t* p) {
  const uint32_t d = g_vfe.burstDivisor;
  auto master = [&](uint32_t reg, uint32_t at) {
    // at: the plane's first field (width), then height, height again, width again.
    uint32_t w[2];
    w[0] = F(U16(p, at + 2), 12, 0) | F(Ceil(U16(p, at), d), 10, 16);
    w[1] = F(1, 2, 0) | F(U16(p, at + 4), 12, 4) | F(Ceil(U16(p, at + 6), d), 12, 16);
    VfeCopyWords(reg, w, 2);
  };
  master(0x058, 14);
  master(0x068, 22);
  master(0x038, 32);
  master(0x048, 40);
}

void VfeWriteBlackLevel(const uint8_t* p) {
  uint32_t w[4];
  for (int i = 0; i < 4; ++i) w[i] = F(U16(p, 2 + 2 * i), 9, 0);
  VfeCopyWords(0x194, w, 4);
}

void VfeWriteRolloff(const uint8_t* p) {
  uint32_t w[3];
  w[0] = F(U16(p, 2), 9, 0) | F(U16(p, 4), 9, 9) | F(U16(p, 6), 9, 18);
  w[1] = F(U8(p, 8), 4, 0) | F(U8(p, 9), 4, 4) | F(U16(p, 10), 9, 8) | F(U16(p, 12), 9, 20);
  w[2] = F(U16(p, 14), 12, 0);
  VfeCopyWords(0x1A4, w, 3);
  TableSelect(1);
  for (uint32_t i = 0; i < 13; ++i) {
    VfeWrite(0x34C, (U16(p, 42 + 2 * i) << 16) | U16(p, 16 + 2 * i));
    VfeWrite(0x34C, (U16(p, 94 + 2 * i) << 16) | U16(p, 68 + 2 * i));
  }
  VfeWrite(0x344, 32);
  for (uint32_t i = 0; i < 208; ++i) {
    VfeWrite(0x34C, (U16(p, 536 + 2 * i) << 16) | U16(p, 120 + 2 * i));
    VfeWrite(0x34C, (U16(p, 1368 + 2 * i) << 16) | U16(p, 952 + 2 * i));
  }
  TableClose();
}

void VfeWriteChannelGain(const uint8_t* p) {
  uint32_t w[2] = {F(U16(p, 0), 10, 0) | F(U16(p, 2), 10, 16), F(U16(p, 4), 10, 0) | F(U16(p, 6), 10, 16)};
  VfeCopyWords(0x1B4, w, 2);
}

void VfeWriteDemosaic(const uint8_t* p) {
  uint32_t w[5];
  w[0] = F(U8(p, 2), 1, 0) | F(U8(p, 14), 1, 1) | F(U8(p, 3), 1, 2) | F(U8(p, 4), 4, 4) | F(U16(p, 18), 7, 8) |
         F(U16(p, 16), 7, 16) | F(U8(p, 1), 3, 28);
  w[1] = F(U16(p, 6), 10, 0);
  w[2] = F(U8(p, 12), 4, 0) | F(U16(p, 10), 10, 4) | F(U16(p, 8), 10, 16);
  w[3] = F(U16(p, 22), 12, 0) | F(U16(p, 20), 12, 12);
  w[4] = F(U16(p, 24), 12, 0);
  VfeCopyWords(0x1C4, w, 5);
}

void VfeWriteDemosaicUpdate1(const uint8_t* p) {
  uint32_t v = VfeRead(0x1C4) & ~(F(~0u, 1, 0) | F(~0u, 1, 2) | F(~0u, 4, 4));
  VfeWrite(0x1C4, v | F(U8(p, 0), 1, 0) | F(U8(p, 1), 1, 2) | F(U8(p, 2), 4, 4));
  uint32_t w[2] = {F(U16(p, 4), 10, 0), F(U8(p, 10), 4, 0) | F(U16(p, 8), 10, 4) | F(U16(p, 6), 10, 16)};
  VfeCopyWords(0x1C8, w, 2);
}

void VfeWriteDemosaicUpdate2(const uint8_t* p) {
  uint32_t v = VfeRead(0x1C4) & ~(F(~0u, 1, 1) | F(~0u, 7, 8) | F(~0u, 7, 16));
  VfeWrite(0x1C4, v | F(U8(p, 0), 1, 1) | F(U16(p, 4), 7, 8) | F(U16(p, 2), 7, 16));
  uint32_t w[2] = {F(U16(p, 8), 12, 0) | F(U16(p, 6), 12, 12), F(U16(p, 10), 12, 0)};
  VfeCopyWords(0x1D0, w, 2);
}

void VfeWriteFovCrop(const uint8_t* p) {
  uint32_t w[2] = {F(U16(p, 4), 12, 0) | F(U16(p, 2), 12, 16), F(U16(p, 8), 12, 0) | F(U16(p, 6), 12, 16)};
  VfeCopyWords(0x1E0, w, 2);
}

void VfeWriteMainScaler(const uint8_t* p) {
  uint32_t w[7];
  ScalerHead(w, p);
  w[3] = F(U16(p, 36), 12, 0) | F(U16(p, 38), 15, 16);
  w[4] = F(U16(p, 22), 12, 0) | F(U16(p, 24), 12, 16);
  w[5] = F(U32(p, 28), 18, 0) | F(U8(p, 32), 2, 20);
  w[6] = F(U16(p, 40), 12, 0) | F(U16(p, 42), 15, 16);
  VfeCopyWords(0x270, w, 7);
}

void VfeWriteOutputScaler(uint32_t base, const uint8_t* p) {
  uint32_t w[5];
  ScalerHead(w, p);
  w[3] = F(U16(p, 22), 12, 0) | F(U16(p, 24), 12, 16);
  w[4] = F(U32(p, 28), 18, 0) | F(U8(p, 32), 2, 20);
  VfeCopyWords(base, w, 5);
}

void VfeWriteWhiteBalance(const uint8_t* p) {
  VfeWrite(0x2B4, F(U16(p, 6), 9, 0) | F(U16(p, 4), 9, 9) | F(U16(p, 2), 9, 18));
}

void VfeWriteColorCorr(const uint8_t* p) {
  uint32_t w[13];
  for (int i = 0; i < 9; ++i) w[i] = F(uint32_t(S16(p, 8 + 2 * i)), 12, 0);
  for (int i = 0; i < 3; ++i) w[9 + i] = F(uint32_t(S16(p, 26 + 2 * i)), 11, 0);
  w[12] = F(U32(p, 4), 2, 0);
  VfeCopyWords(0x1E8, w, 13);
}

void VfeWriteLumaTable(uint32_t bank, const uint8_t* p) {
  WriteTable256(14 + bank, p, 2);
  VfeWrite(0x21C, bank);
}

void VfeWriteGammaTables(const uint8_t* p, bool flipBanks) {
  static constexpr uint8_t kChannels[7] = {1, 2, 4, 3, 5, 6, 7};  // bit c: channel c
  uint32_t selector = U32(p, 4);
  if (selector >= 7) return;
  for (uint32_t c = 0; c < 3; ++c) {
    if (!(kChannels[selector] & (1u << c))) continue;
    if (flipBanks) g_vfe.gammaBank[c] ^= 1;
    // The first load always fills bank 0; updates fill the bank they flipped to.
    uint32_t bank = flipBanks ? g_vfe.gammaBank[c] : 0;
    WriteTable256(2 + 2 * c + bank, p, 8);
  }
  if (flipBanks) VfeWriteGammaBanks();
}

void VfeWriteColorConv(const uint8_t* p) {
  uint32_t w[9];
  for (int i = 0; i < 5; ++i) w[i] = Saturated(S16(p, 4 + 4 * i), 11, 0) | Saturated(S16(p, 2 + 4 * i), 11, 16);
  for (int i = 0; i < 3; ++i) w[5 + i] = Saturated(S16(p, 22 + 2 * i), 12, 0);
  w[8] = F(U8(p, 28), 8, 0);
  VfeCopyWords(0x224, w, 9);
}

void VfeWriteChromaSupp(const uint8_t* p) {
  // The shifts arrive as powers of two; the 3-bit fields take their exponents.
  uint32_t w[2] = {F(U8(p, 1), 8, 0) | F(U8(p, 2), 8, 8) | F(Exponent(U8(p, 3)), 3, 16) | F(Exponent(U8(p, 4)), 3, 20),
                   F(U8(p, 6), 8, 0) | F(Exponent(U8(p, 5)), 3, 8)};
  VfeCopyWords(0x2B8, w, 2);
}

void VfeWriteAsf(const uint8_t* p, bool withSizes) {
  uint32_t w[7];
  w[0] = F(U8(p, 1), 1, 0) | F(U8(p, 2), 2, 1) | F(U8(p, 4), 4, 4) | F(U8(p, 3), 8, 8) | F(U8(p, 31), 1, 30);
  w[1] = F(U8(p, 8), 7, 0) | F(U8(p, 6), 5, 8) | F(U8(p, 7), 5, 16) | F(U8(p, 5), 7, 24);
  w[2] = F(U8(p, 9), 8, 0) | F(U8(p, 10), 8, 8) | F(U8(p, 11), 8, 16) | F(U8(p, 12), 8, 24);
  w[3] = 0;
  for (int i = 0; i < 5; ++i) w[3] |= F(U8(p, 13 + i), 6, 6 * i);
  w[4] = F(U8(p, 18), 6, 0) | F(U8(p, 19), 6, 6) | F(U8(p, 20), 6, 12) | F(U8(p, 21), 7, 18);
  w[5] = 0;
  for (int i = 0; i < 5; ++i) w[5] |= F(U8(p, 22 + i), 6, 6 * i);
  w[6] = F(U8(p, 27), 6, 0) | F(U8(p, 28), 6, 6) | F(U8(p, 29), 6, 12) | F(U8(p, 30), 7, 18);
  VfeCopyWords(0x248, w, 7);
  if (withSizes) {
    uint32_t s[2] = {F(U16(p, 34), 12, 0) | F(U16(p, 32), 12, 16), F(U16(p, 38), 12, 0) | F(U16(p, 36), 12, 16)};
    VfeCopyWords(0x268, s, 2);
  }
}

void VfeWriteBlock20(const uint8_t* p) {
  uint32_t w[3] = {0, F(U16(p, 10), 12, 0) | F(U16(p, 8), 12, 16), F(U16(p, 14), 12, 0) | F(U16(p, 12), 12, 16)};
  for (uint32_t bit = 0; bit < 7; ++bit) w[0] |= F(U8(p, 7 - bit), 1, bit);
  VfeCopyWords(0x2C0, w, 3);
}

void VfeWriteFrameDrop(const uint8_t* p) {
  uint32_t w[8] = {F(U8(p, 8), 5, 0), F(U8(p, 8), 5, 0), U32(p, 12), U32(p, 12),
                   F(U8(p, 0), 5, 0), F(U8(p, 0), 5, 0), U32(p, 4),  U32(p, 4)};
  VfeCopyWords(0x2CC, w, 8);
}

void VfeWriteFrameDropUpdate(const uint8_t* p) {
  VfeWrite(0x2E4, U32(p, 0));
  VfeWrite(0x2E8, U32(p, 0));
  VfeWrite(0x2D4, U32(p, 4));
  VfeWrite(0x2D8, U32(p, 4));
}

void VfeWriteBlock22(const uint8_t* p) {
  uint32_t w[2] = {F(U8(p, 3), 8, 0) | F(U8(p, 4), 8, 8) | F(U8(p, 5), 8, 16),
                   F(U8(p, 0), 8, 0) | F(U8(p, 1), 8, 8) | F(U8(p, 2), 8, 16)};
  VfeCopyWords(0x2EC, w, 2);
}

void VfeWriteBlock23(const uint8_t* p) {
  uint32_t w[12];
  w[0] = F(U16(p, 12), 10, 0) | F(U8(p, 0), 1, 12) | F(U8(p, 1), 1, 13) | F(U32(p, 16), 2, 16) | F(U32(p, 4), 1, 18) |
         F(U32(p, 8), 1, 19);
  w[1] = F(U16(p, 20), 14, 0) | F(U16(p, 22), 14, 16);
  w[2] = F(U32(p, 24), 24, 0);
  w[3] = F(U32(p, 28), 24, 0);
  w[4] = F(U16(p, 32), 9, 0);
  w[5] = F(U16(p, 34), 9, 0);
  w[6] = F(U16(p, 36), 14, 0);
  w[7] = F(U16(p, 40), 14, 0) | F(U8(p, 38), 1, 16);
  w[8] = F(U8(p, 42), 8, 0);
  w[9] = F(U8(p, 43), 8, 0);
  w[10] = F(U8(p, 46), 3, 0) | F(U8(p, 44), 1, 4) | F(U8(p, 45), 1, 5) | F(U32(p, 48), 2, 6) | F(U8(p, 52), 6, 8);
  w[11] = F(U16(p, 54), 16, 0);
  VfeCopyWords(0x370, w, 12);
}

void VfeWriteAfStatsUpdate(const uint8_t* p) {
  uint32_t w[2] = {F(U16(p, 4), 12, 0) | F(U16(p, 2), 12, 16) | F(U8(p, 0), 1, 31),
                   F(U16(p, 8), 12, 0) | F(U16(p, 6), 12, 16)};
  VfeCopyWords(0x2F8, w, 2);
}

void VfeWriteAfStats(const uint8_t* p) {
  uint32_t w[9] = {};
  w[0] = F(U16(p, 4), 12, 0) | F(U16(p, 2), 12, 16) | F(U8(p, 1), 1, 31);
  w[1] = F(U16(p, 8), 12, 0) | F(U16(p, 6), 12, 16);
  for (int i = 0; i < 4; ++i) w[2 + i] = U32(p, 10 + 4 * i);
  w[6] = F(U8(p, 37), 8, 0);
  w[7] = F(U8(p, 30), 5, 0) | F(U8(p, 31), 5, 5) | F(uint32_t(S16(p, 28)), 11, 10) | F(U8(p, 26), 1, 21);
  for (int i = 0; i < 5; ++i) w[8] |= F(U8(p, 32 + i), 5, 5 * i);
  VfeCopyWords(0x2F8, w, 9);
}

namespace {
// The AWB-extended words from their fields, `at` being the payload offset of
// the first flag (1 for command 59, 0 for its update).
uint32_t AwbClassWord(const uint8_t* p, uint32_t at) {
  return F(U8(p, at), 1, 0) | F(U8(p, at + 1), 1, 1) | F(U8(p, at + 2), 8, 16) | F(U8(p, at + 3), 8, 24);
}
uint32_t AwbSlopeWord(const uint8_t* p, uint32_t at) {
  return F(U8(p, at), 8, 24) | F(U8(p, at + 1), 8, 16) | F(U8(p, at + 2), 8, 8) | F(U8(p, at + 3), 8, 0);
}
uint32_t AwbOffsetWord(const uint8_t* p, uint32_t at) {
  return F(uint32_t(S16(p, at)), 12, 16) | F(uint32_t(S16(p, at + 2)), 12, 0);
}
}  // namespace

void VfeWriteAwbExtStats(const uint8_t* p) {
  uint32_t w[5] = {AwbClassWord(p, 1), F(U8(p, 18), 8, 0), AwbSlopeWord(p, 5), AwbOffsetWord(p, 10),
                   AwbOffsetWord(p, 14)};
  VfeCopyWords(0x31C, w, 5);
}

void VfeWriteAwbExtStatsUpdate(const uint8_t* p) {
  VfeWrite(0x324, AwbSlopeWord(p, 4));
  VfeWrite(0x328, AwbOffsetWord(p, 8));
  VfeWrite(0x32C, AwbOffsetWord(p, 12));
  VfeWrite(0x31C, AwbClassWord(p, 0));
}

void VfeWriteWbExpStats(const uint8_t* p) {
  VfeWrite(0x33C, F(U16(p, 0), 12, 0) | F(U16(p, 2), 12, 16));
  VfeWrite(0x088, F(U8(p, 5), 4, 0) | F(U8(p, 7), 4, 4) | F(U8(p, 9), 4, 8) | F(U8(p, 4), 1, 12) |
                      F(U8(p, 6), 1, 13) | F(U8(p, 8), 1, 14));
  uint32_t w[6] = {U32(p, 12), U32(p, 16), U32(p, 24), U32(p, 28), U32(p, 36), U32(p, 40)};
  VfeCopyWords(0x070, w, 6);
}
