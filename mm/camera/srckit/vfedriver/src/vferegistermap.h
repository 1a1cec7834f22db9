// The VFE driver's register map: every register it reaches, by byte offset from
// the VFE register base, with the bits it gives names to. The driver keeps its
// own map; the board's hardware model keeps another, and a test holds the two
// against each other.
#ifndef VFEREGISTERMAP_H
#define VFEREGISTERMAP_H

#include <stdint.h>

namespace vfereg {

// ---- Identity, reset and clocks ----------------------------------------------------------
constexpr uint32_t kVersion = 0x000;       // bits 0-7 minor, 8-15 major, 16-19 family
constexpr uint32_t kResetCmd = 0x004;      // ResetCommand below
constexpr uint32_t kClockEnable = 0x00C;
constexpr uint32_t kModuleEnable = 0x010;  // bit per block, ModuleBit below
constexpr uint32_t kInputFormat = 0x014;   // bits 0-2 pixel order, 16-17 input path

// ---- Interrupts ----------------------------------------------------------------------------
constexpr uint32_t kIrqMask = 0x018;
constexpr uint32_t kIrqClear = 0x01C;   // write 1s to clear status bits
constexpr uint32_t kIrqStatus = 0x020;  // event bits since the last clear
// What the routine still handles once a stop has begun: reset done (bit 9) and
// bits 26-29, whatever the mask.
constexpr uint32_t kIrqStoppingBits = 0x3C000200;

// ---- Start and output control ------------------------------------------------------------
constexpr uint32_t kOutputSelect = 0x024;
constexpr uint32_t kStartControl = 0x028;
constexpr uint32_t kOutputControl = 0x02C;

// ---- Write masters: per plane a ping and a pong address, then two geometry words ----------
constexpr uint32_t kOut2YPing = 0x030;
constexpr uint32_t kOut2YPong = 0x034;
constexpr uint32_t kOut2YGeometry = 0x038;
constexpr uint32_t kOut2CPing = 0x040;
constexpr uint32_t kOut2CPong = 0x044;
constexpr uint32_t kOut2CGeometry = 0x048;
constexpr uint32_t kOut1YPing = 0x050;
constexpr uint32_t kOut1YPong = 0x054;
constexpr uint32_t kOut1YGeometry = 0x058;
constexpr uint32_t kOut1CPing = 0x060;
constexpr uint32_t kOut1CPong = 0x064;
constexpr uint32_t kOut1CGeometry = 0x068;

// ---- Statistics buffers and their set-up --------------------------------------------------
constexpr uint32_t kAfPing = 0x070;
constexpr uint32_t kAfPong = 0x074;
constexpr uint32_t kWbExpPing = 0x078;
constexpr uint32_t kWbExpPong = 0x07C;
constexpr uint32_t kStatsWords = 0x080;   // two words, as the statistics command gives them
constexpr uint32_t kStatsConfig = 0x088;

// ---- The third write master (command 2) ---------------------------------------------------
constexpr uint32_t kBlock2 = 0x08C;       // thirteen words
constexpr uint32_t kBlock2Words = 13;
constexpr uint32_t kBlock2Control = 0x0C0;

// ---- Ping-pong, write-master commands, path status ----------------------------------------
constexpr uint32_t kPingPongStatus = 0x0C4;  // PingPongBit below: 1 when the ping side just finished
constexpr uint32_t kWriteMasterCmd = 0x0C8;  // WriteMasterCommand below
constexpr uint32_t kWriteMasterEnables = 0x0CC;

// Path status: four words per output path, cleared by reset. The routine
// reads all eight words at each interrupt, OUTPUT2's block first.
constexpr uint32_t kPathStatusOutput2 = 0x0D0;
constexpr uint32_t kPathStatusOutput1 = 0x0E0;
constexpr uint32_t kPathStatusWords = 4;
enum PathStatusWord : uint32_t {
  kPathFaults = 0,        // fault flags below, sticky until reset
  kPathLostFrames = 1,    // frames the path lost since reset, whatever the fault
  kPathFailedAddress = 2, // physical address of the last refused or failed write
  kPathArmed = 3,         // low byte 1 once the write masters are armed
};
// The lost-frame counts the driver turns into drops: 0x0E4 and 0x0D4.
constexpr uint32_t kOutput1LostFrames = kPathStatusOutput1 + 4 * kPathLostFrames;
constexpr uint32_t kOutput2LostFrames = kPathStatusOutput2 + 4 * kPathLostFrames;
// Raw mode: START waits until the OUTPUT2 write masters are armed.
constexpr uint32_t kOutput2Armed = kPathStatusOutput2 + 4 * kPathArmed;
constexpr uint32_t kArmedMask = 0xFF;

// Fault flags of word 0.
enum PathFault : uint32_t {
  kFaultOverflow = 1u << 0,          // a frame came before the path could take it
  kFaultBusError = 1u << 1,          // the bus refused a write
  kFaultGeometryMismatch = 1u << 2,  // write master smaller than the image
  kFaultAddressRefused = 1u << 3,    // an address outside the frame memory
  kFaultPayloadRefused = 1u << 4,    // a block payload the pipeline cannot run
};

// Three words START sets, one of them twice.
constexpr uint32_t kStartDefaults0 = 0x0F4;
constexpr uint32_t kStartDefaults1 = 0x0F8;
constexpr uint32_t kStartDefaults2 = 0x0FC;

// ---- Stop ----------------------------------------------------------------------------------
constexpr uint32_t kStopRequest = 0x104;
constexpr uint32_t kStopStatus = 0x10C;
constexpr uint32_t kStopAcknowledged = 1u << 5;  // in kStopStatus

// ---- Camera interface --------------------------------------------------------------------
constexpr uint32_t kCamifCommand = 0x110;  // CamifCommand below
constexpr uint32_t kCamifConfig = 0x114;
constexpr uint32_t kCamif = 0x118;         // seven words: mode, frame, pixels, lines, skip, pattern, IRQ lines
constexpr uint32_t kCamifWords = 7;
constexpr uint32_t kCamifFrame = 0x11C;
constexpr uint32_t kCamifPixels = 0x120;
constexpr uint32_t kCamifLines = 0x124;
constexpr uint32_t kCamifSkip = 0x128;
constexpr uint32_t kCamifStatus = 0x134;   // bit 31, bits 0-13, bits 16-29

// ---- Register update ---------------------------------------------------------------------
constexpr uint32_t kUpdate = 0x190;  // 1 latches the written block values

// ---- Bayer stages ------------------------------------------------------------------------
constexpr uint32_t kBlackLevel = 0x194;      // four words
constexpr uint32_t kRolloffGrid = 0x1A4;     // three words
constexpr uint32_t kPixelFormat = 0x1B0;     // 1 Bayer, 3 YUV
constexpr uint32_t kChannelGain = 0x1B4;     // two words
constexpr uint32_t kPixelPattern1 = 0x1BC;
constexpr uint32_t kPixelPattern2 = 0x1C0;
constexpr uint32_t kDemosaic = 0x1C4;        // ABF and bad-pixel switches, bad-pixel slopes
constexpr uint32_t kAbfThreshold = 0x1C8;
constexpr uint32_t kAbfLevels = 0x1CC;
constexpr uint32_t kBpcRedBlue = 0x1D0;
constexpr uint32_t kBpcGreen = 0x1D4;
constexpr uint32_t kStatus1D8 = 0x1D8;       // bits 0-7 and 16-23 go into every frame message
constexpr uint32_t kYuvFlag = 0x1DC;
constexpr uint32_t kFovCrop = 0x1E0;         // two words: pixels, lines

// ---- Colour and luma ---------------------------------------------------------------------
constexpr uint32_t kColourCorrection = 0x1E8;  // nine coefficients, three offsets, Q
constexpr uint32_t kColourCorrectionWords = 13;
constexpr uint32_t kLumaBank = 0x21C;
constexpr uint32_t kGammaBanks = 0x220;        // bit per channel
constexpr uint32_t kColourConversion = 0x224;  // nine words
constexpr uint32_t kColourConversionWords = 9;
constexpr uint32_t kAsf = 0x248;               // seven words
constexpr uint32_t kAsfWords = 7;
constexpr uint32_t kStatus264 = 0x264;         // bits 0-12 and 16-27 go into every frame message
constexpr uint32_t kAsfSizes = 0x268;          // two words, command 17 only

// ---- Scalers -----------------------------------------------------------------------------
constexpr uint32_t kMainScaler = 0x270;   // seven words
constexpr uint32_t kMainScalerWords = 7;
constexpr uint32_t kYScaler = 0x28C;      // five words
constexpr uint32_t kCbCrScaler = 0x2A0;   // five words
constexpr uint32_t kOutputScalerWords = 5;

constexpr uint32_t kWhiteBalance = 0x2B4;
constexpr uint32_t kChromaSuppression = 0x2B8;  // two words
constexpr uint32_t kBlock20 = 0x2C0;            // three words

// ---- Frame drop: a period and a pattern per path, each in two words ------------------------
constexpr uint32_t kOut2DropPeriod = 0x2CC;
constexpr uint32_t kOut2DropPattern = 0x2D4;
constexpr uint32_t kOut1DropPeriod = 0x2DC;
constexpr uint32_t kOut1DropPattern = 0x2E4;

constexpr uint32_t kClampMax = 0x2EC;
constexpr uint32_t kClampMin = 0x2F0;

// ---- Statistics --------------------------------------------------------------------------
constexpr uint32_t kStatsEnable = 0x2F4;     // StatsBit below
constexpr uint32_t kAfWindow = 0x2F8;        // two words; bit 31 of the first: grid mode
constexpr uint32_t kAfCellSelect = 0x300;    // four words, a cell a byte
constexpr uint32_t kAfCellSelectWords = 4;
constexpr uint32_t kAfLimit = 0x310;
constexpr uint32_t kAfFilter = 0x314;
constexpr uint32_t kAfTaps = 0x318;
constexpr uint32_t kAwbConfig = 0x31C;
constexpr uint32_t kAwbLimit = 0x320;
constexpr uint32_t kAwbSlopes = 0x324;
constexpr uint32_t kAwbOffsets12 = 0x328;
constexpr uint32_t kAwbOffsets34 = 0x32C;
constexpr uint32_t kStatsArea = 0x33C;

// ---- Table port: select a table, then write its entries one after another -----------------
constexpr uint32_t kTableSelect = 0x340;  // table + kTableOpen; kTableOpen alone closes
constexpr uint32_t kTableIndex = 0x344;
constexpr uint32_t kTableData = 0x34C;
constexpr uint32_t kTableOpen = 256;
// Table codes: roll-off 1 (its steps from index kRolloffStepsAt), gamma channel
// c bank b kTableGamma + 2c + b, luma adaptation bank b kTableLumaAdaptation + b.
constexpr uint32_t kTableRolloff = 1;
constexpr uint32_t kRolloffStepsAt = 32;
constexpr uint32_t kTableGamma = 2;
constexpr uint32_t kTableLumaAdaptation = 14;

// ---- Block 23 ----------------------------------------------------------------------------
constexpr uint32_t kBlock23Control = 0x36C;  // 1 starts the unit, 2 stops it
constexpr uint32_t kBlock23 = 0x370;         // twelve words
constexpr uint32_t kBlock23Words = 12;

// ---- Commands and bits -------------------------------------------------------------------
enum CamifCommand : uint32_t {
  kCamifStopAfterFrame = 0,
  kCamifStart = 1,
  kCamifStopNow = 2,
  kCamifRestart = 3,
  kCamifArmStart = 4,
  kCamifArmRestart = 7,
};
enum ResetCommand : uint32_t { kResetAll = 0x3FF, kResetAfterStop = 0x3EF };
enum WriteMasterCommand : uint32_t { kWriteMastersStart = 1, kWriteMastersStop = 2 };
enum Block23Command : uint32_t { kBlock23Start = 1, kBlock23Stop = 2 };

// Module enables (kModuleEnable): bit numbers, one driver flag each.
enum ModuleBit : uint32_t {
  kModBlackLevel = 0,
  kModRolloff = 1,
  kModPipeline = 2,  // set by every START
  kModYuvInput = 3,
  kModDemosaic = 4,
  kModStatistics = 5,
  kModFovCrop = 6,
  kModMainScaler = 7,
  kModWhiteBalance = 8,
  kModColourCorrection = 9,
  kModLumaAdaptation = 12,
  kModGamma = 13,
  kModColourConversion = 14,
  kModAsf = 15,
  kModChromaSuppression = 16,
  kModBlock20 = 17,
  kModYScaler = 18,
  kModCbCrScaler = 19,
};
constexpr uint32_t kModuleBits = 20;

// Statistics enables (kStatsEnable): bit numbers.
enum StatsBit : uint32_t { kStatsAf = 0, kStatsAwbExt = 1, kStatsBayer = 5 };
constexpr uint32_t kStatsBits = 6;

// Ping-pong status bits (kPingPongStatus).
enum PingPongBit : uint32_t { kPingPongOutput2 = 5, kPingPongOutput1 = 7, kPingPongAf = 8, kPingPongWbExp = 9 };

// Interrupt status bits (kIrqStatus), as the driver handles them.
enum IrqBit : uint32_t {
  kIrqCamifError = 0,
  kIrqStartOfFrame = 1,
  kIrqCamif1 = 4,
  kIrqCamif2 = 5,
  kIrqUpdate = 8,
  kIrqResetDone = 9,
  kIrqOutput2Y = 10,
  kIrqOutput2C = 11,
  kIrqOutput1Y = 12,
  kIrqOutput1C = 13,
  kIrqBlock2 = 14,
  kIrqAfDone = 15,
  kIrqWbExpDone = 16,
  kIrqOutput2Done = 18,
  kIrqOutput1Done = 19,
  kIrqOutputStatus = 20,
};

}  // namespace vfereg

#endif  // VFEREGISTERMAP_H
