// vfemodelbench: whether the VFE hardware model keeps up with the sensor in
// real time. For the preview read-out (1296 x 972 at 29.46 fps) and the full
// one (2608 x 1960 at 14.83 fps) it programmes the sensor and the model as the
// drivers do (both outputs, AF and WB/exposure statistics), services line 70
// like the driver's interrupt thread, and reports the model's work per frame
// (render and pipeline: the CPU time of all the model's threads, and the wall
// time from render to products) against the frame period, then the time of
// each stage. Aim: it keeps up, and a frame's wall time is at most half the
// frame period. The colour stages run with a daylight preview's payloads (and
// luma adaptation in the full read-out, as in stills).
//
//   vfemodelbench [--seconds S] [--threads N]   (N threads for the model, 1 its engine thread alone)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchargs.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "chipset.h"
#include "plindor.h"
#include "wince.h"

namespace {

struct Mode {
  const char* name;
  uint32_t width, height;
  bool binned;
  uint16_t fll;
  double fps;
  uint32_t out2W, out2H;  // main scaler output
};

volatile uint8_t* gRegs = nullptr;
uint32_t Read(uint32_t o) { return chip_reg_read32(gRegs + o); }
void Write(uint32_t o, uint32_t v) { chip_reg_write32(gRegs + o, v); }

bool Sensor(uint16_t reg, uint8_t value) {
  CameraSensorI2C_Command c{};
  c.slaveAddress = kSensorSlave;
  c.flags = 0x22;
  c.data = &value;
  c.registerAddress = reg;
  c.length = 1;
  return CameraSensorI2C_Write(&c) == 1;
}
bool Sensor16(uint16_t reg, uint16_t value) { return Sensor(reg, uint8_t(value >> 8)) && Sensor(reg + 1, uint8_t(value)); }

// A scaler's words as the driver packs them: a direction runs where its size
// changes, its step input / output with 12 + N fraction bits.
void Scaler(uint32_t base, uint32_t hWord, uint32_t vWord, uint32_t inW, uint32_t inH, uint32_t outW, uint32_t outH) {
  auto phase = [](uint32_t in, uint32_t out) {
    double ratio = double(in) / out;
    uint32_t k = uint32_t(ratio), n = k < 4 ? 3 : k < 8 ? 2 : k < 16 ? 1 : 0;
    return (uint32_t(std::lround(ratio * 4096)) << n) | (n << 20);
  };
  Write(base, (inW != outW ? 1 : 0) | (inH != outH ? 2 : 0));
  Write(hWord, inW | (outW << 16));
  Write(hWord + 4, phase(inW, outW));
  Write(vWord, inH | (outH << 16));
  Write(vWord + 4, phase(inH, outH));
}

// Writes a 256-entry table through the table port.
void Table(uint32_t code, const int16_t* entries) {
  Write(0x340, code + 256);
  Write(0x344, 0);
  for (int i = 0; i < 256; ++i) Write(0x34C, uint32_t(int32_t(entries[i])));
  Write(0x340, 256);
}

// The colour stages with the payloads a daylight preview gets: white-balance
// gains, the sensor's colour correction, the sRGB gamma curve, BT.601
// conversion and the default chroma suppression; luma adaptation at unity
// gain (it runs in stills).
void ColourStages() {
  Write(0x2B4, 128 | (171u << 9) | (213u << 18));
  const int16_t cc[9] = {169, -21, -20, -43, 177, -6, -29, -7, 164};  // rows G, B, R; columns G, B, R (Q7)
  for (int i = 0; i < 9; ++i) Write(0x1E8 + 4 * i, uint32_t(cc[i]) & 0xFFF);
  Write(0x218, 0);
  int16_t gamma[256], luma[256];
  for (int i = 0; i < 256; ++i) {
    auto curve = [](int x) {
      double v = std::min(1.0, x / 1023.0);
      return int(std::lround(255 * (v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055)));
    };
    int v = curve(4 * i), next = i < 255 ? curve(4 * i + 4) : v;
    gamma[i] = int16_t(v | ((next - v) << 8));
    luma[i] = 64;
  }
  for (uint32_t code = 2; code <= 7; ++code) Table(code, gamma);
  Table(14, luma);
  Write(0x220, 0);
  Write(0x21C, 0);
  Write(0x224, 128 | (128u << 16));
  Write(0x228, (uint32_t(-87) & 0x7FF) | ((uint32_t(-87) & 0x7FF) << 16));
  Write(0x22C, 128 | (128u << 16));
  Write(0x230, (uint32_t(-41) & 0x7FF) | ((uint32_t(-41) & 0x7FF) << 16));
  Write(0x234, 128 | (128u << 16));
  Write(0x238, 77);
  Write(0x23C, 150);
  Write(0x240, 29);
  Write(0x244, 0);
  Write(0x2B8, 10 | (230u << 8) | (4u << 16) | (4u << 20));
  Write(0x2BC, 12 | (3u << 8));
}

uint32_t Buffer(uint32_t size) {
  void* p = pmem_malloc(size, 0);
  return p ? pmem_get_phys_addr(p) : 0;
}

bool PowerUp() {
  clk_regime_krs_sel_camclk(kSensorNominalMclkHz, 0);
  if (CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 1) != 1) return false;
  for (int i = 0; i < 2000 && !BoardSensorState().ready; ++i) Plindor_WaitMicroSeconds(1000);
  return BoardSensorState().ready;
}

// Services line 70 until `seconds` have passed; true when the wait never failed.
void ServiceFor(HANDLE event, double seconds) {
  DWORD end = GetTickCount() + DWORD(seconds * 1000);
  while (GetTickCount() < end) {
    if (WaitForSingleObject(event, 100) != WAIT_OBJECT_0) continue;
    Write(0x01C, Read(0x020));
    InterruptDone(kVfeInterrupt);
  }
}

bool Run(const Mode& m, double seconds) {
  BoardSimReset();
  BoardVfeReset();
  BoardSceneSetIlluminant(kIlluminantNeutral);
  if (CameraSensorI2C_Init() != 1 || !PowerUp()) {
    std::fprintf(stderr, "%s: the sensor does not answer\n", m.name);
    return false;
  }
  vfe_config_clks_common(1);
  vfe_config_clks_sensor();
  gRegs = static_cast<volatile uint8_t*>(vfe_get_virtual_address());
  HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  InterruptInitialize(kVfeInterrupt, event, nullptr, 0);

  // Sensor read-out.
  Sensor16(0x034C, uint16_t(m.width));
  Sensor16(0x034E, uint16_t(m.height));
  Sensor(0x3014, m.binned ? 0x06 : 0x00);
  Sensor(0x0387, m.binned ? 0x03 : 0x01);
  Sensor16(0x0340, m.fll);
  Sensor16(0x0202, 351);

  // VFE: reset, then the chain's registers.
  Write(0x018, 1u << 9);
  Write(0x004, 0x3FF);
  ServiceFor(event, 0.05);
  uint32_t areaW = m.width - 12, areaH = m.height - 6;
  Write(0x120, m.width - 1);
  Write(0x124, m.height - 1);
  Write(0x128, 0xFFFFFFFF);
  for (uint32_t r = 0x194; r <= 0x1A0; r += 4) Write(r, kSensorBlackLevel);
  for (uint32_t r : {0x2CCu, 0x2D0u, 0x2DCu, 0x2E0u}) Write(r, 31);
  for (uint32_t r : {0x2D4u, 0x2D8u, 0x2E4u, 0x2E8u}) Write(r, 0xFFFFFFFF);
  Write(0x2EC, 0x00FFFFFF);
  Write(0x1E0, areaW - 1);
  Write(0x1E4, areaH - 1);
  const uint32_t o1w = 320, o1h = 240;
  Scaler(0x270, 0x274, 0x280, areaW, areaH, m.out2W, m.out2H);
  Scaler(0x28C, 0x290, 0x298, m.out2W, m.out2H, o1w, o1h);
  Scaler(0x2A0, 0x2A4, 0x2AC, m.out2W, m.out2H, o1w / 2, o1h / 2);
  auto words = [](uint32_t w) { return (w + 7) / 8; };
  Write(0x038, m.out2H | (words(m.out2W) << 16));
  Write(0x048, (m.out2H / 2) | (words(m.out2W) << 16));
  Write(0x058, o1h | (words(o1w) << 16));
  Write(0x068, (o1h / 2) | (words(o1w) << 16));
  uint32_t y2 = Buffer(m.out2W * m.out2H), c2 = Buffer(m.out2W * (m.out2H / 2));
  uint32_t y1 = Buffer(o1w * o1h), c1 = Buffer(o1w * (o1h / 2));
  for (uint32_t r : {0x030u, 0x034u}) Write(r, y2);
  for (uint32_t r : {0x040u, 0x044u}) Write(r, c2);
  for (uint32_t r : {0x050u, 0x054u}) Write(r, y1);
  for (uint32_t r : {0x060u, 0x064u}) Write(r, c1);
  uint32_t af = Buffer(((m.height - 1) / 2 + 1) * 4), wb = Buffer(8196);
  for (uint32_t r : {0x070u, 0x074u}) Write(r, af);
  for (uint32_t r : {0x078u, 0x07Cu}) Write(r, wb);
  Write(0x33C, (areaW - 1) | ((areaH - 1) << 16));
  Write(0x2F4, 0x3);
  Write(0x2F8, (areaW / 4 << 16) | areaH / 4);
  Write(0x2FC, (areaW / 2 << 16) | areaH / 2);
  Write(0x314, 0x1E | (0x1E << 5) | (2047u << 10));
  Write(0x318, 0x1F | (0x1F << 5) | (8 << 10) | (0x1F << 15) | (0x1F << 20));

  // Spatial stages as the chains leave them: roll-off on a flat grid, ABF with
  // its reset values, bad-pixel correction with working thresholds, the ASF's
  // reset values.
  uint32_t cellW = (m.width / 2 + 15) / 16, cellH = (m.height / 2 + 11) / 12;
  Write(0x1A4, (cellW - 1) | ((cellH - 1) << 9) | ((4096 / cellH) << 18));
  Write(0x340, 256 + 1);
  Write(0x344, 0);
  for (int i = 0; i < 26; ++i) Write(0x34C, 0x20002000);
  Write(0x344, 32);
  for (int i = 0; i < 416; ++i) Write(0x34C, 0);
  Write(0x340, 256);
  Write(0x1C4, 1 | (1u << 1) | (3u << 4) | (32u << 8) | (127u << 16));
  Write(0x1C8, 1023);
  Write(0x1CC, 15 | (0u << 4) | (1023u << 16));
  Write(0x1D0, 64 | (64u << 12));
  Write(0x1D4, 64);
  const uint8_t asf[31] = {1, 2, 96, 4, 0, 8, 8, 20, 40, 0xDD, 40, 0xDD, 0xFE, 0xFA, 0x10, 0xFE, 0xFA, 0x10, 0xFE, 0xFA,
                           0x10, 0xFE, 0xFE, 0xFE, 0xFA, 0xFA, 0xFA, 0x10, 0x10, 0x10, 0};
  auto b = [&](int n) { return uint32_t(asf[n - 1]); };
  Write(0x248, (b(1) & 1) | ((b(2) & 3) << 1) | ((b(4) & 15) << 4) | (b(3) << 8));
  Write(0x24C, (b(8) & 0x7F) | ((b(6) & 31) << 8) | ((b(7) & 31) << 16) | ((b(5) & 0x7F) << 24));
  Write(0x250, b(9) | (b(10) << 8) | (b(11) << 16) | (b(12) << 24));
  for (int f = 0; f < 2; ++f) {
    int at = 13 + 9 * f;
    uint32_t lo = 0;
    for (int i = 0; i < 5; ++i) lo |= (b(at + i) & 63) << (6 * i);
    Write(0x254 + 8 * f, lo);
    Write(0x258 + 8 * f, (b(at + 5) & 63) | ((b(at + 6) & 63) << 6) | ((b(at + 7) & 63) << 12) | ((b(at + 8) & 127) << 18));
  }

  // START.
  ColourStages();
  uint32_t colour = (1u << 8) | (1u << 9) | (1u << 13) | (1u << 14) | (1u << 16) | (m.binned ? 0 : 1u << 12);
  Write(0x010, (1u << 0) | (1u << 1) | (1u << 2) | (1u << 4) | (1u << 5) | (1u << 7) | (1u << 15) | (1u << 18) |
                   (1u << 19) | colour);
  Write(0x02C, 0xF0);
  Write(0x014, kSensorVfePixelOrder);
  Write(0x01C, 0xFFFFFFFF);
  Write(0x018, (1u << 1) | (1u << 8) | (1u << 9) | (1u << 15) | (1u << 16) | (1u << 18) | (1u << 19) | (1u << 20));
  Write(0x0CC, 0xF);
  Write(0x0C8, 1);
  Write(0x190, 1);
  Write(0x028, (1u << 4) | (1u << 5));
  Write(0x110, 4);
  Write(0x110, 1);
  Sensor(0x0100, 1);
  // Settle: the scene plane of the read-out is built once, in the first frames.
  ServiceFor(event, 0.5);
  for (uint32_t done0 = BoardVfeCounts().framesDone[kVfeOutput2], i = 0;
       i < 100 && BoardVfeCounts().framesDone[kVfeOutput2] < done0 + 3; ++i)
    ServiceFor(event, 0.1);
  BoardVfeCounters before = BoardVfeCounts();
  BoardVfeClearStageCosts();
  ServiceFor(event, seconds);
  BoardVfeCounters after = BoardVfeCounts();
  std::vector<BoardVfeStageCost> stages = BoardVfeStageCosts();
  Sensor(0x0100, 0);
  BoardVfeReset();
  InterruptDisable(kVfeInterrupt);
  CloseHandle(event);
  vfe_unconfig_clks();
  CameraSensorI2C_DeInit();

  uint32_t done = after.framesDone[kVfeOutput2] - before.framesDone[kVfeOutput2];
  uint32_t started = after.framesStarted - before.framesStarted;
  uint32_t overflows = after.overflows - before.overflows;
  uint32_t missed = after.framesMissed - before.framesMissed;
  double avgMs = done ? double(after.frameWorkNs - before.frameWorkNs) / 1e6 / done : 0;
  double maxMs = double(after.frameWorkMaxNs) / 1e6;
  double wallMs = done ? double(after.frameWallNs - before.frameWallNs) / 1e6 / done : 0;
  double periodMs = 1000.0 / m.fps;
  bool keepsUp = done > 0 && overflows == 0 && missed == 0 && done + 1 >= started && wallMs < periodMs;
  bool met = keepsUp && wallMs <= 0.5 * periodMs;
  std::printf("%-8s %4ux%-4u -> %ux%u + 320x240 + AF + WB: %u frames started, %u done, %u overflows, %u missed; "
              "work %.1f ms CPU avg (all the model's threads), %.1f ms max per frame; wall %.1f ms per frame "
              "(%u threads); period %.1f ms: %s\n",
              m.name, m.width, m.height, m.out2W, m.out2H, started, done, overflows, missed, avgMs, maxMs, wallMs,
              BoardVfeThreads(), periodMs, keepsUp ? "keeps up" : "FALLS BEHIND");
  std::printf("%-8s aim: keeps up, wall time <= 50 %% of the frame period: %.0f %%: %s\n", m.name,
              100.0 * wallMs / periodMs, met ? "met" : "MISSED");
  for (const BoardVfeStageCost& s : stages)
    if (s.runs) std::printf("         %-22s %.2f ms CPU per frame\n", s.name, double(s.ns) / 1e6 / s.runs);
  std::printf("%-8s each stage, ms per frame (summed over the model's threads):", m.name);
  for (uint32_t k = 0; k < kVfeStageCount; ++k)
    std::printf(" %s %.2f", BoardVfeStageName(BoardVfeStage(k)),
                done ? double(after.stageNs[k] - before.stageNs[k]) / 1e6 / done : 0.0);
  std::printf("\n");
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3.0;
  const char usage[] = "usage: vfemodelbench [--seconds S] [--threads N]\n";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (BenchAsksHelp(argv[i])) return BenchHelp(usage);
    if (a != "--seconds" && a != "--threads") return BenchUsage("vfemodelbench", "unknown option " + a, usage);
    if (i + 1 >= argc) return BenchUsage("vfemodelbench", a + " needs a value", usage);
    if (a == "--seconds") {
      seconds = std::atof(argv[++i]);
    } else {
      BoardVfeSetThreads(uint32_t(std::atoi(argv[++i])));
    }
  }
  const Mode modes[] = {{"preview", 1296, 972, true, 994, 29.46, 640, 480},
                        {"full", 2608, 1960, false, 1974, 14.83, 2596, 1954}};
  bool ok = true;
  for (const Mode& m : modes) ok &= Run(m, seconds);
  return ok ? 0 : 1;
}
