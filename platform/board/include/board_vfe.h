// The VFE hardware model: the image front end behind the register window at
// kVfeRegistersPhys and interrupt line 70 (board_sim.h).
//
// The model answers only through its registers, its interrupt line and the
// frame and statistics buffers it writes into contiguous memory (resolved
// through the chipset's pmem map). It takes its pixels from the sensor model
// (board_sensor.h) frame by frame. Everything declared here is the test API:
// the settled hardware choices every other model agrees with, counters, fault
// hooks, lock-step and a frame tap. The system's code never calls any of it.
//
// Hardware choices this model settles (the sensor model and the statistics
// consumers use the same ones):
//  1. Bayer order codes in 0x014 bits 0-2, for the first sample of the
//     camera-interface window: 0 RGGB, 1 GRBG, 2 BGGR, 3 GBRG. The board's
//     sensor outputs GRBG (kSensorVfePixelOrder = 1). Codes 4-7 (YUV input)
//     produce no frames; the model counts them as unsupported.
//  2. The colour stages, in this order, each as its registers say (the module
//     bits of 0x010 switch them): black level (bit 0; 0x194-0x1A0 the
//     window's 2x2 phases top left, top right, bottom left, bottom right;
//     nothing below black wraps, the rest is stretched back to 0..1023);
//     channel gains (always on; 0x1B4/0x1B8, Q7, by the site's colour, green
//     of even and of odd rows apart); demosaic; the scalers; white balance
//     (bit 8; 0x2B4 Q7); colour correction (bit 9; rows and columns in the
//     order G, B, R, Q + 7 fraction bits, offsets on the 10-bit scale); luma
//     adaptation (bit 12; tables 14/15 by 0x21C, indexed by the BT.601 luma
//     of the linear pixel on the 8-bit scale, the gain interpolated over the
//     two bits below); gamma (bit 13; channels 0, 1, 2 are G, B, R, each from
//     its bank of 0x220; off, the top 8 of the 10 bits pass); colour
//     conversion (bit 14; Q8, Y = RtoY R + GtoY G + BtoY B + Yoffset,
//     Cb = a ((B - G) + b (R - G)) + k_cb, Cr = c (d (B - G) + (R - G)) + k_cr,
//     each with its p pair where the term in brackets with the p shear is not
//     negative, else its m pair; Cb and Cr of each 2x2 block from its mean R,
//     G, B; off, full-range BT.601: Y = 0.299 R + 0.587 G + 0.114 B,
//     Cb = 128 + 0.564 (B - Y), Cr = 128 + 0.713 (R - Y)); chroma suppression
//     (bit 16; a block's chroma fades to 128 below luma m1 over 2^n1 levels
//     and above m3 over 2^n3 levels, unless its larger distance from 128
//     exceeds mm1, fully kept from mm1 + 2^nn1); the output clamp
//     (0x2EC/0x2F0). A gamma channel or a luma-adaptation bank whose table was
//     never written since power-on is off. The spatial stages
//     (roll-off, bad-pixel correction, ABF, the demosaic switch, ASF) are
//     item 11.
//  3. WB/exposure statistics are computed on 2x2 Bayer quads of the statistics
//     area (0x33C, from the demosaic area's origin), after the Bayer stages
//     (black level, channel gain, roll-off, bad-pixel correction, ABF) and
//     before white balance: per quad R, G = mean of the two greens, B on the
//     10-bit scale; Y/Cb/Cr of the quad by the full-range BT.601 of (2). A quad is
//     near-grey when it passes the tests the AWB-extended block enables
//     (0x31C bit 0: the luma range; bit 1: the chroma lines; neither: every
//     quad counts), on the 8-bit scale of its payload (Y = Y10 / 4, Cb and Cr
//     centred on 128): Y within [0x31C bits 16-23, bits 24-31], and
//       Cb <= m1 Cr / 16 + c1,  Cr >= m2 Cb / 16 + c2,
//       Cb >= m3 Cr / 16 + c3,  Cr <= m4 Cb / 16 + c4,
//     slopes m1..m4 the signed bytes of 0x324 (bits 24-31, 16-23, 8-15, 0-7,
//     Q4) and offsets c1..c4 the signed 12-bit fields of 0x328 (bits 16-27,
//     0-11) and 0x32C (bits 16-27, 0-11). The block's reset values (slopes 16,
//     -16, 16, -16; offsets 39, 165, -106, 257) so keep 165 <= Cb + Cr <= 257
//     and -106 <= Cb - Cr <= 39: grey under any of the board's illuminants.
//     0x320 (127) is unused. Words of a region: 0-2 the sums of Y, Cb + 512
//     and Cr + 512 over the near-grey quads (10-bit scale), 3 their count in
//     quads (one quad is four full-resolution pixels), 4 the sum of Y over all
//     quads, 5-7 the sums of R, G and B over all quads on the 8-bit scale
//     (value >> 2). Each word saturates at its field (25, 25, 25, 17, 25, 21,
//     21, 21 bits). Word 0 of the buffer is the model's frame number. Block 23
//     (0x36C-0x39C) has no effect: nothing in the camera fills it.
//  4. AF statistics: the focus window (0x2F8/0x2FC) is in demosaic-area
//     coordinates, like the field-of-view crop (0x1E0/0x1E4), and sees the
//     Bayer data of (3); the filter runs on the green samples (the mean of the
//     four greens around a red or blue site); each |tap sum| is clipped to the
//     11-bit field of 0x314 (2047); 0x314 bit 21 set adds (clipped^2) >> 8,
//     clear adds the clipped value. Line pair k is filtered on window row
//     2k + 2. Grid mode words carry the cell number (row x 16 + column) in
//     bits 24-31. 0x310 (79) is unused. Word 0 is the model's frame number.
//  5. Raw 8-bit output (output type 1): the top 8 bits of the 10-bit samples
//     (sample >> 2), black level not subtracted.
//  6. Frame drop: the frame index counts 0..period and wraps, so period 30
//     repeats every 31 frames and period 31 every 32; bit n of the pattern
//     keeps frame n. OUTPUT2 uses 0x2CC/0x2D4 and OUTPUT1 0x2DC/0x2E4 (the
//     driver writes the same values into 0x2D0/0x2D8 and 0x2E0/0x2E8).
//  7. 0x3FF and 0x3EF both reset the whole run state (pipeline, camera
//     interface, write masters, ping-pong, pending update, stop status, path
//     status, frame-drop counters); no configuration register is touched and
//     the interrupt mask survives.
//  8. (Chroma suppression: see 2.)
//  9. The reset acknowledgement (status bit 9) comes kVfeAckDelayNs of board
//     time after the write of 0x004; the stop status (0x10C bit 5) comes at
//     once when no frame is being written, else when that write finishes.
// 10. Scalers average the area each output sample covers. A direction runs
//     where the module bit and its enable bit are set: its output size is the
//     size word's bits 16-27 and its step the phase word's bits 0-17 with N in
//     bits 20-21 (input / output with 12 + N fraction bits). The hardware
//     refuses a payload it cannot run: an output of 0 or above the input, a
//     ratio above 32, a step below 1.0, a step that misses the input by more
//     than one step over the output, or an OUTPUT1 chroma scaler whose output
//     is not half the luma scaler's. The paths it feeds (the main scaler:
//     both; OUTPUT1's scalers: OUTPUT1) then write nothing that frame and
//     report status bit 20 with kVfePathPayloadRefused. OUTPUT2 is the main
//     scaler's output; OUTPUT1's luma is the Y scaler's output of it and its
//     chroma half that in each direction.
// 11. Spatial stages, in this order, each from its own registers:
//     - Roll-off (module bit 1): 0x1A4 gives the grid cell width - 1 and
//       height - 1 in 2x2 quads and 1/height (Q12); table 1 holds, per grid
//       row 0..12, the left-edge gains (Q13) of channels 0/1 (word 2r) and 2/3
//       (word 2r + 1), then from word 32 the 208 per-quad steps (Q20) of
//       channels 0/1 and 2/3 in pairs. Channel c is the window's 2x2 phase in
//       raster order (as for black level). The grid starts at the window's
//       origin; a row's gain walks its cells step by step (the last step
//       continues past cell 15), grid rows are blended by (quad row in the
//       cell) x 1/height, rows past 12 hold. Samples are multiplied and
//       truncated, at most 1023. Unwritten table memory reads 0.
//     - Bad-pixel correction (0x1C4 bit 1; minimum and maximum factors Q6 in
//       bits 8-14 and 16-22; thresholds R 0x1D0 bits 12-23, B bits 0-11, G
//       0x1D4): with lo/hi the least and greatest of the eight same-colour
//       neighbours (two samples across, down and diagonally), a sample above
//       max(hi x max factor, hi + threshold) becomes hi, one below
//       min(lo x min factor, lo - threshold) becomes lo. The reset thresholds
//       (4095) never fire.
//     - Adaptive Bayer filter (0x1C4 bit 0; shift bits 4-7; threshold 0x1C8;
//       ratio, minimum, maximum 0x1CC bits 0-3, 4-13, 16-25): for a sample
//       within [minimum, maximum], the same eight neighbours that differ from
//       it by at most the threshold add their differences; that sum shifted
//       right by `shift` is the correction, of which (16 - ratio) sixteenths
//       are applied. The reset values (3, 1023, ratio 15) move a sample a
//       sixteenth of the way to its neighbours' mean. Bit 2 is unused.
//     - Samples closer than two to the window's edge pass both filters. The
//       statistics (3, 4) and the demosaic see the result of all three.
//     - Demosaic (module bit 4): off, each pixel's R, G and B are its own
//       sample (a grey mosaic), and bad-pixel correction and ABF are off
//       with it. 0x1C4 bits 28-30 (slope shift) are unused.
//     - Adaptive spatial filter (module bit 15), on the main image's luma
//       before the OUTPUT1 scalers: each edge filter's nine coefficients
//       (Q4; filter 1 in 0x254/0x258, filter 2 in 0x25C/0x260, six bits each,
//       the ninth seven) are the top-left quadrant of a 5 x 5 kernel
//       symmetric about its centre row and column. Its response, shifted
//       right by 4 + the normalise factor (0x24C bits 24-30), is cored below
//       E1 in size (0x24C bits 0-6) and clipped to [E3, E2] (filter 1) or
//       [E5, E4] (filter 2) (0x250 bytes 0-3: E2, E3, E4, E5); the two times
//       their amounts (Q3, 0x24C bits 8-12 and 16-20) are added to the
//       smoothed sample (centre 0x248 bits 8-15, surround bits 4-7: centre x
//       sample + surround x its eight neighbours, over centre + 8 x
//       surround). Filter mode (0x248 bits 1-2): 0 smoothing only, 1
//       sharpening only, 2 and 3 both. 0x248 bit 0 and 0x268/0x26C are unused.
// 12. The camera interface takes frames from the first sensor frame start after
//     its start (or restart) command; a frame that began before it, however late
//     the model hears of it, is not captured.
#ifndef BOARD_VFE_H
#define BOARD_VFE_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// ---- Settled values -------------------------------------------------------------
constexpr uint32_t kVfeHardwareVersion = 0x00030102;  // 0x000: bits 0-7, 8-15, 16-19
constexpr uint32_t kVfeRegisterSpan = 0x3A0;          // offsets 0x000-0x39C answer
constexpr int64_t kVfeAckDelayNs = 1000000;           // board time, reset acknowledge
// The clock regimes the model needs on (vfe_config_clks_common) and the input
// source that feeds it the sensor (vfe_config_clks_sensor).
constexpr uint32_t kVfeClockRegimes[4] = {24, 40, 41, 53};
constexpr uint32_t kVfeSensorSource = 1;

// Interrupt status bits the model raises.
enum BoardVfeIrqBit : uint32_t {
  kVfeIrqCamifError = 0,
  kVfeIrqStartOfFrame = 1,
  kVfeIrqUpdate = 8,
  kVfeIrqResetDone = 9,
  kVfeIrqAfDone = 15,
  kVfeIrqWbExpDone = 16,
  kVfeIrqOutput2Done = 18,
  kVfeIrqOutput1Done = 19,
  kVfeIrqOutputStatus = 20,
};

// Path status words: OUTPUT2 at 0x0D0-0x0DC, OUTPUT1 at 0x0E0-0x0EC.
//  word 0: fault flags (below), cleared by reset;
//  word 1: frames the path lost since reset, whatever the fault: overflows,
//          frames a stalled path could not take, bus errors, refused
//          addresses and refused payloads (one each per frame);
//  word 2: the physical address of the last refused or failed write;
//  word 3: low byte 1 once the path's write masters are armed (0x0C8 <- 1).
enum BoardVfePathFault : uint32_t {
  kVfePathOverflow = 1u << 0,         // a frame done before the last one was serviced, or one a stalled path could not take
  kVfePathBusError = 1u << 1,         // the bus refused a write
  kVfePathGeometryMismatch = 1u << 2, // write master smaller than the image
  kVfePathAddressRefused = 1u << 3,   // an address outside every pmem block
  kVfePathPayloadRefused = 1u << 4,   // a block's payload the pipeline cannot run
};

enum BoardVfePath { kVfeOutput1 = 0, kVfeOutput2 = 1 };

// ---- Control ---------------------------------------------------------------------
// Back to power-on: registers zero (0x000 the version), no frames, counters,
// faults and lock-step off, tap removed. Also hooks the register window and the
// sensor model's frame events if that has not happened yet.
void BoardVfeReset();

// Lock-step: after each interrupt it raises, the model waits (up to `timeoutMs`
// of real time) until the driver has cleared every masked status bit and its
// routine has finished (InterruptDone) before it goes on with the next event.
// Frames keep the sensor's timing otherwise.
void BoardVfeSetLockStep(bool on, int timeoutMs = 5000);

// Statistics lock-step: the sensor starts a frame only once the model has
// finished the one before and the WB/exposure statistics it wrote for it were
// answered by the update command (0x190 bit 0) that follows their handling, or
// the path stopped (an update still waiting for the frame start when they were
// written counts as their answer: it needs the start to land). Statistics of a
// frame that every output drops, such as a still's settling frame, wait for
// nothing: no preview runs on it, so no update answers them. So a loop of
// statistics, plug-ins and sensor settings runs frame by frame however slowly the machine runs the model and the system. An
// answer that has not come `timeoutMs` of real time after the model ended the
// frame lets the next one start and counts a service time-out (the model's own
// time counts against the pacing guard only).
void BoardVfeSetStatsLockStep(bool on, int timeoutMs = 5000);

// Pacing: lock-step, and every sensor frame start waits until the model has
// finished the frame before (its interrupts serviced by the system); board time
// stands while a start is held. A test's outcome then does not depend on how busy
// the machine is. A test of a 3A loop adds the statistics lock-step, so that each
// frame also waits for the answer to the statistics before. A hold longer than
// kBoardPacingTimeoutMs of real time (a system that stopped servicing) lets the
// frame go and counts a service time-out.
//
// Test programs run paced: CAMERA_BOARD_PACED=1 in the environment (ctest sets it,
// and so does the test support library) turns pacing on when the board loads and
// at every BoardVfeReset. The main job, the tools and the benchmarks run in real
// time. A test about real-time behaviour (overflows, late service) turns it off.
constexpr int kBoardPacingTimeoutMs = 10000;
void BoardVfeSetPacing(bool on);
bool BoardVfePacedByEnvironment();

// Client lock-step, for a test whose capture client is in the loop: the sensor
// starts a frame only while the frames the model wrote on `path` since this was
// turned on are fewer than those the client gave back
// (BoardVfeClientReturnedFrame) plus `ahead`. The system then always has the
// buffers the client returned, however late a loaded machine runs the client;
// board time stands while a start is held. A hold longer than the lock-step's
// time-out lets the frame go and counts a service time-out. BoardVfeReset turns
// it off.
void BoardVfeSetClientLockStep(bool on, BoardVfePath path = kVfeOutput1, uint32_t ahead = 1);
void BoardVfeClientReturnedFrame();

// The stages of the frame path, for the time the model spends in each.
enum BoardVfeStage : uint32_t {
  kVfeStageRender,          // the sensor model's frame
  kVfeStageBayer,           // camera-interface window, black level and channel gain, the spatial Bayer stages
  kVfeStageStatistics,      // AF and WB/exposure
  kVfeStageDemosaic,
  kVfeStageMainScaler,
  kVfeStageWhiteBalance,
  kVfeStageColourCorrection,
  kVfeStageLumaAdaptation,
  kVfeStageGamma,
  kVfeStageColourConversion,
  kVfeStageChromaSuppression,
  kVfeStageAsf,
  kVfeStageOutput,          // output scalers and NV21 (or raw) planes
  kVfeStageCount
};
const char* BoardVfeStageName(BoardVfeStage stage);

// ---- Counters ----------------------------------------------------------------------
struct BoardVfeCounters {
  uint32_t framesStarted = 0;       // start-of-frame interrupts
  uint32_t framesDone[2] = {};      // per path (BoardVfePath), frames written
  uint32_t framesDropped[2] = {};   // by the frame-drop pattern
  uint64_t bytesWritten = 0;        // into pmem, all paths and statistics
  uint32_t statsDone[2] = {};       // 0 AF, 1 WB/exposure
  uint32_t refusedWrites = 0;       // addresses outside every pmem block (0 included)
  uint32_t busErrors = 0;           // path frames not written: the bus refused the write
  uint32_t overflows = 0;           // frames not written: previous one unserviced, or the path stalled
  uint32_t framesMissed = 0;        // sensor frames the model was too far behind to take
  uint32_t geometryMismatches = 0;  // write master smaller than the image
  uint32_t outOfWindowAccesses = 0; // register offsets beyond 0x39C
  uint32_t clockOffAccesses = 0;    // register accesses with the VFE clock off
  uint32_t camifErrors = 0;         // window outside the sensor's output, or injected
  uint32_t unsupported = 0;         // YUV input, unknown output type
  uint32_t interruptsRaised = 0;
  uint32_t interruptsLost = 0;
  uint32_t serviceTimeouts = 0;     // lock-step waits that ran out
  uint64_t frameWorkNs = 0;         // CPU time of the model's threads rendering and processing frames
  uint64_t frameWorkMaxNs = 0;      // the most of a single frame
  uint64_t frameWallNs = 0;         // wall time from a frame's render to its products
  uint64_t frameWallMaxNs = 0;      // the most of a single frame
  uint64_t stageNs[kVfeStageCount] = {};  // wall time in each stage, summed over the model's threads
  uint32_t refusedPayloads = 0;     // path frames not made: a payload the pipeline cannot run
};
BoardVfeCounters BoardVfeCounts();
// What the latest lock-step wait that ran out waited for ("" if none did since
// the last reset), for a test's failure message.
std::string BoardVfeLastTimeout();
// CPU time of the model's thread per pipeline stage since the last clear
// (stages that did not run this frame add nothing).
struct BoardVfeStageCost {
  const char* name;
  uint64_t ns;
  uint32_t runs;
};
std::vector<BoardVfeStageCost> BoardVfeStageCosts();
void BoardVfeClearStageCosts();
// Threads the model's pipeline runs a frame on, in stripes of rows (the output
// is the same for any number); 0 restores the machine's default.
uint32_t BoardVfeThreads();
void BoardVfeSetThreads(uint32_t threads);

// Every register access with its board time (the latest 100,000).
struct BoardVfeAccess {
  int64_t timeNs;
  uint32_t offset;
  uint32_t value;
  bool write;
};
std::vector<BoardVfeAccess> BoardVfeAccessLog();

// ---- Faults ------------------------------------------------------------------------
// The next `count` raises of line 70 are lost (the status bits stay set).
void BoardVfeLoseInterrupts(int count);
// Status bit `bit` is never set (for example 8, 9) while withheld.
void BoardVfeWithholdBit(uint32_t bit, bool withhold);
// 0x10C bit 5 never comes while set.
void BoardVfeWithholdStopAck(bool withhold);
// The next `count` frames of a path overrun: nothing is written, status bit 20
// with kVfePathOverflow instead of the frame done.
void BoardVfeOverrunNext(BoardVfePath path, int count);
// The next `count` frames of a path hit a bus error: nothing is written,
// status bit 20 with kVfePathBusError.
void BoardVfeBusErrorNext(BoardVfePath path, int count);
// A stalled path writes nothing and reports no frame done until released; each
// frame it cannot take overflows (status bit 20, kVfePathOverflow, word 1).
void BoardVfeStallOutput(BoardVfePath path, bool stall);
// The next frame's end-of-frame work (writes and frame dones) comes
// `delayMs` of board time late.
void BoardVfeDelayNextFrame(int delayMs);
// Raises status bits at once (camera-interface error bit 0 also sets 0x134).
void BoardVfeRaiseStatus(uint32_t bits);

// ---- Frame tap -----------------------------------------------------------------------
// Called on the model's thread after each output frame is written.
struct BoardVfeTappedFrame {
  BoardVfePath path;
  bool raw = false;
  uint32_t width = 0, height = 0;   // luma (or raw) plane
  uint32_t yAddress = 0, cbcrAddress = 0;
  uint32_t sensorFrame = 0;
  std::vector<uint8_t> y;            // width x height (raw: the Bayer bytes)
  std::vector<uint8_t> cbcr;         // width x height / 2, Cr first
};
void BoardVfeSetTap(std::function<void(const BoardVfeTappedFrame&)> tap);

// The registers of one offset as the model holds them: written (what the driver
// wrote last) and active (what the frames use after the latest update).
uint32_t BoardVfeWrittenRegister(uint32_t offset);
uint32_t BoardVfeActiveRegister(uint32_t offset);
// A table as written through the table port (code 1 roll-off, 2-7 gamma,
// 14-15 luma adaptation).
std::vector<uint32_t> BoardVfeTable(uint32_t code);

#endif  // BOARD_VFE_H
