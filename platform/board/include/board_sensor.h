// The camera module on the board: the S5K3E2FX image sensor at I2C slave 0x20
// with its focus actuator behind the same address, and the scene it looks at.
//
// The sensor answers only through its bus, its reset line (GPIO 144) and its
// master clock. Out of reset and clocked it holds a register file; streaming, it
// exposes one frame per FLL x LLP / pclk and hands out start-of-frame and
// end-of-frame events with board-time stamps and a frame counter. The VFE model
// pulls the pixel data of the latest frame with BoardSensorRender. Everything
// else here is the test API: constants every model and the tuning data agree on,
// the current-mode summary, logs and fault switches. The system's code never
// calls any of it.
#ifndef BOARD_SENSOR_H
#define BOARD_SENSOR_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// ---- The output the VFE and the tuning data must agree with ----------------------
// Colour filter order of the output (the sensor's output kind 3, VFE pixel-order
// code 1): GRBG counted from the top-left sample of the output window. Even rows
// G R G R ..., odd rows B G B G ...; 2:1 binning keeps the phase.
enum BoardCfaColour { kCfaRed = 0, kCfaGreen = 1, kCfaBlue = 2 };
constexpr uint32_t kSensorOutputKind = 3;
constexpr uint32_t kSensorVfePixelOrder = 1;
constexpr BoardCfaColour BoardCfaAt(uint32_t x, uint32_t y) {
  return (y & 1) == 0 ? ((x & 1) == 0 ? kCfaGreen : kCfaRed) : ((x & 1) == 0 ? kCfaBlue : kCfaGreen);
}
// Samples: 10 significant bits in 16-bit containers (low bits), black level 64
// on every channel, clipped at 1023.
constexpr uint32_t kSensorBitDepth = 10;
constexpr uint16_t kSensorBlackLevel = 64;
constexpr uint16_t kSensorMaxSample = 1023;

// The pixel array and the two read-outs the drivers programme. Preview reads the
// whole array 2:1 binned in both directions (1304 x 980) and outputs its TOP-LEFT
// 1296 x 972; full resolution outputs the whole array 1:1.
constexpr uint32_t kSensorArrayWidth = 2608;
constexpr uint32_t kSensorArrayHeight = 1960;
constexpr uint32_t kSensorBinnedWidth = 1304;
constexpr uint32_t kSensorBinnedHeight = 980;
constexpr uint16_t kSensorRevision = 0x4009;  // chip id kSensorChipId is in board_sim.h
constexpr uint32_t kSensorResetGpio = 144;    // low holds the sensor in reset
constexpr uint32_t kSensorNominalMclkHz = 24000000;
constexpr uint32_t kSensorNominalPclkHz = 80000000;

// Exposure and brightness. exposure = min(integration lines, FLL - 4) x LLP / pclk,
// gain = code / 32 (codes outside 32..512 are clamped and logged), and a sample is
//   black + kSceneScale x raw x exposure seconds x gain, clipped at 1023,
// where raw is the scene's linear sensor response at the site (below). With this
// scale a white patch (linear 0.9) at 12 ms and gain 1 gives about 870 (85 %).
constexpr double kSceneScale = 75000.0;
constexpr uint32_t kSensorExposureMarginLines = 4;

// ---- The scene ----------------------------------------------------------------------
// Sensor colour response: raw linear RGB = diag(illuminant) x M x linear(sRGB).
// The ideal colour correction matrix is M's inverse; the white-balance gains that
// make grey neutral are G/R and G/B of the illuminant.
constexpr float kSensorColourMatrix[3][3] = {{0.80f, 0.15f, 0.05f}, {0.10f, 0.80f, 0.10f}, {0.05f, 0.20f, 0.75f}};
enum BoardIlluminant { kIlluminantNeutral = 0, kIlluminantDaylight, kIlluminantIncandescent, kIlluminantFluorescent };
constexpr int kIlluminantCount = 4;
constexpr float kIlluminantRgb[kIlluminantCount][3] = {
    {1.00f, 1.00f, 1.00f}, {0.60f, 1.00f, 0.75f}, {0.95f, 1.00f, 0.40f}, {0.75f, 1.00f, 0.55f}};
constexpr BoardIlluminant kDefaultIlluminant = kIlluminantDaylight;

// The built-in chart, in full-array coordinates (divide by 2 for the preview
// output). Background, 24 colour-checker patches in 4 rows of 6, a fine-detail
// area of bars whose contrast follows the lens, and a grey ramp (sRGB 0 at its
// left edge to 255 at its right, constant down each column).
struct BoardChartPatch {
  const char* name;
  uint8_t srgb[3];
  uint32_t centreX, centreY;  // full-array pixels
};
constexpr uint32_t kChartPatchSize = 256;  // square, full-array pixels
constexpr uint32_t kChartPatchPitch = 320;
constexpr uint32_t kChartPatchOrigin = 224;  // centre of the top-left patch, both axes
#define BOARD_PATCH(n, r, g, b, i) {n, {r, g, b}, kChartPatchOrigin + (i % 6) * kChartPatchPitch, kChartPatchOrigin + (i / 6) * kChartPatchPitch}
constexpr BoardChartPatch kChartPatches[24] = {
    BOARD_PATCH("dark skin", 115, 82, 68, 0),        BOARD_PATCH("light skin", 194, 150, 130, 1),
    BOARD_PATCH("blue sky", 98, 122, 157, 2),        BOARD_PATCH("foliage", 87, 108, 67, 3),
    BOARD_PATCH("blue flower", 133, 128, 177, 4),    BOARD_PATCH("bluish green", 103, 189, 170, 5),
    BOARD_PATCH("orange", 214, 126, 44, 6),          BOARD_PATCH("purplish blue", 80, 91, 166, 7),
    BOARD_PATCH("moderate red", 193, 90, 99, 8),     BOARD_PATCH("purple", 94, 60, 108, 9),
    BOARD_PATCH("yellow green", 157, 188, 64, 10),   BOARD_PATCH("orange yellow", 224, 163, 46, 11),
    BOARD_PATCH("blue", 56, 61, 150, 12),            BOARD_PATCH("green", 70, 148, 73, 13),
    BOARD_PATCH("red", 175, 54, 60, 14),             BOARD_PATCH("yellow", 231, 199, 31, 15),
    BOARD_PATCH("magenta", 187, 86, 149, 16),        BOARD_PATCH("cyan", 8, 133, 161, 17),
    BOARD_PATCH("white", 243, 243, 242, 18),         BOARD_PATCH("neutral 8", 200, 200, 200, 19),
    BOARD_PATCH("neutral 6.5", 160, 160, 160, 20),   BOARD_PATCH("neutral 5", 122, 122, 121, 21),
    BOARD_PATCH("neutral 3.5", 85, 85, 85, 22),      BOARD_PATCH("black", 52, 52, 52, 23),
};
#undef BOARD_PATCH
constexpr uint8_t kChartBackgroundSrgb = 60;  // grey, every channel
struct BoardChartRect {
  uint32_t x, y, width, height;  // full-array pixels
};
// Fine detail: vertical bars of period 16 (8 on, 8 off) in its top half,
// horizontal bars in its bottom half, mean linear 0.40, amplitude 0.35 x
// 1 / (1 + |lens code - 400| / 64).
constexpr BoardChartRect kChartFineDetail = {2080, 96, 448, 1216};
constexpr uint32_t kChartBarPeriod = 16;
constexpr float kChartDetailMean = 0.40f;
constexpr float kChartDetailAmplitude = 0.35f;
constexpr uint32_t kSceneFocusLensCode = 400;
constexpr uint32_t kSceneFocusSpread = 64;
constexpr BoardChartRect kChartGreyRamp = {96, 1440, 2432, 384};

// linear(sRGB) of one 8-bit component.
float BoardSrgbToLinear(uint8_t value);
// The contrast factor of the fine-detail area at a lens code.
float BoardFocusContrast(uint32_t lensCode);

// Scene selection. The board's settings file "\board.cfg" in the image (lines
// "Key=Value", '#' comments) may name "Illuminant=neutral|daylight|incandescent|
// fluorescent" and "Scene=<device path of a binary PPM>", which is stretched over
// the whole array instead of the chart. It is read when the board loads and at
// every BoardSimReset.
void BoardSceneSetIlluminant(BoardIlluminant illuminant);
BoardIlluminant BoardSceneIlluminant();
bool BoardSceneUsePpm(const std::string& hostPath);  // false (chart kept) when unreadable
void BoardSceneUseChart();
bool BoardReloadSettings();  // false when the file names a bad value (logged)

// ---- Time ------------------------------------------------------------------------------
// Board time in nanoseconds: monotonic time, running `factor` times faster once
// a speed-up is set. Frame periods, the reset-release delay, the lens settle time
// and the flash hold limit are measured in board time. BoardSimReset sets 1 again.
void BoardSetSpeedUp(double factor);  // >= 1
double BoardSpeedUp();
int64_t BoardNowNs();

// ---- Frames -------------------------------------------------------------------------
// The settings a frame was exposed with, latched at its start. Writes to
// integration, gain, FLL and LLP while streaming act from the next frame start.
struct BoardFrameInfo {
  uint32_t frame = 0;        // counter since power-on, the first frame is 1
  int64_t startNs = 0;       // board time of the start of frame
  int64_t endNs = 0;         // end of the active lines
  uint32_t width = 0, height = 0;  // output size
  uint32_t binning = 1;      // 2: 2:1 binned read-out, 1: whole array
  uint32_t fll = 0, llp = 0;
  uint32_t pclkHz = 0;
  int64_t periodNs = 0;      // FLL x LLP / pclk (times the slow-frames factor)
  uint32_t integrationLines = 0;  // as written
  uint32_t gainCode = 0;     // after clamping to 32..512
  double exposureSeconds = 0;
  uint32_t lensCode = 0;     // lens position at the start of the frame
  float ledLight = 0;        // light the LED adds (kLedTorchLight / kLedFlashLight)
  BoardIlluminant illuminant = kDefaultIlluminant;
};

enum BoardFrameEventKind { kBoardStartOfFrame = 0, kBoardEndOfFrame = 1 };
struct BoardFrameEvent {
  BoardFrameEventKind kind;
  uint32_t frame;
  int64_t timeNs;  // board time
};
// A listener runs on the sensor's frame thread, without the sensor's locks held
// (the VFE model raises its interrupt from here), and sees every event in order,
// possibly late when the machine is loaded: the event's time is the model's.
// Returns an id for removal; after the removal returns, the listener is not
// running and will not be called again.
typedef void (*BoardFrameListener)(void* context, const BoardFrameEvent& event);
int BoardSensorAddFrameListener(BoardFrameListener listener, void* context);
void BoardSensorRemoveFrameListener(int id);
std::vector<BoardFrameEvent> BoardSensorFrameEvents();  // the latest 10,000
// Waits (real time) until frame `frame` has ended and the listeners have seen
// its end; false on time-out. Not from a listener.
bool BoardSensorWaitFrameEnd(uint32_t frame, int timeoutMs);

// The latest frame started (false before the first one since streaming began).
bool BoardSensorLatestFrame(BoardFrameInfo* info);
// One of the latest 16 frames by number (a listener late for an event finds its
// frame here; render it with BoardSensorRenderFrame).
bool BoardSensorFrame(uint32_t frame, BoardFrameInfo* info);
// Writes the latest started frame's samples: width x height uint16 samples, rows
// `strideSamples` apart. False (nothing written) when no frame has started or the
// stride is too small.
bool BoardSensorRender(uint16_t* dst, size_t strideSamples, BoardFrameInfo* info);
// Renders a frame of the given settings from the current scene, whether or not
// the sensor streams (width, height, binning, exposureSeconds, gainCode,
// lensCode, ledLight, illuminant are used). False for a size outside the read-out.
bool BoardSensorRenderFrame(const BoardFrameInfo& settings, uint16_t* dst, size_t strideSamples);

// ---- Current-mode summary -------------------------------------------------------------
struct BoardSensorSummary {
  bool present = true;      // answering on the bus at all
  bool inReset = true;      // GPIO 144 low, or held by the fault switch
  bool ready = false;       // out of reset long enough to answer
  bool clocked = false;     // a master clock is selected
  bool streaming = false;   // 0x0100 bit 0
  bool producing = false;   // streaming, ready, clocked and the registers sane
  uint32_t mclkHz = 0, pclkHz = 0;
  uint32_t width = 0, height = 0, binning = 1;
  uint32_t fll = 0, llp = 0;
  int64_t periodNs = 0;
  uint32_t integrationLines = 0, gainCode = 0;
  uint32_t lensCode = 0;    // where the lens is now
  uint32_t lensTarget = 0;  // where it goes
  bool actuatorEnabled = false;  // 0x3130 == 0x03 and 0x3146 == 0x80
  uint32_t frames = 0;      // frames started since power-on
  std::string led;          // the LED state, as BoardLedStateName gives it
};
BoardSensorSummary BoardSensorState();
std::string BoardSensorSummaryText();  // one line of the values above

// A register as the sensor holds it now (the test's view, bypassing the bus).
uint8_t BoardSensorRegister(uint16_t reg);

// ---- Logs --------------------------------------------------------------------------------
// Model remarks with board-time stamps: clamped gain codes, lens writes while
// the actuator is disabled, transfers refused in reset, frames that cannot be
// produced, and the like.
struct BoardLogLine {
  int64_t timeNs;
  std::string text;
};
std::vector<BoardLogLine> BoardSensorLog();
bool BoardSensorLogContains(const std::string& text);
struct BoardLensMove {
  int64_t timeNs;       // board time of the write of 0x3132
  uint32_t from, to;    // lens codes
  bool moved;           // false when the actuator was disabled
};
std::vector<BoardLensMove> BoardLensHistory();
void BoardSensorClearLogs();

// ---- Faults --------------------------------------------------------------------------------
// false: the module is gone: nothing answers at 0x20 and no frame starts (the
// one in flight ends); true again: a module still streaming goes on.
void BoardSensorSetPresent(bool present);
void BoardSensorSetChipId(uint16_t chipId);    // registers 0x0000-0x0001
void BoardSensorSetRevision(uint16_t revision);  // registers 0x0002-0x0003
void BoardSensorNackRegister(uint16_t reg, bool nack);  // transfers touching reg
void BoardSensorStayInReset(bool stay);        // ignores the release of GPIO 144
void BoardSensorSetSlowFrames(double factor);  // frame period x factor (>= 1)
// Defective photosites: each forces the sample at (x, y) of the output (10
// bits, black level included: 1023 a hot site, 0 a dead one) in every frame
// from now on, whatever the read-out. An empty list heals them all;
// BoardSimReset does too.
struct BoardPixelDefect {
  uint32_t x, y;  // output coordinates
  uint16_t value;
};
void BoardSensorSetDefects(const std::vector<BoardPixelDefect>& defects);
// The next `count` transfers are refused: BoardI2cNackNext in board_sim.h.

#endif  // BOARD_SENSOR_H
