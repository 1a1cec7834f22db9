// The VFE driver's contract: its class, command identifiers, the payload
// record of every command it packs into registers, the buffer records of the
// output paths and the message it posts. The VFE service sends these payloads
// unchanged through ICameraDriver::Command (input record only; the reading
// commands 52-55 write their reply into that same record); the VFE block
// configurations compute them. Every record is little-endian with the layout
// pinned below; the register each field reaches is noted where it helps.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "icameradriver.h"  // ZUEUID_CLASS_VFE_DRIVER
#include "ienv.h"
#include "pvlresult.h"

// The driver's creator (Corvane's class switch), for a host that registers the class itself.
// 13 while another driver object exists.
PvlResult VfeDriver_CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

// ---- Command identifiers ----------------------------------------------------------
enum VfeCommand : uint32_t {
  VFE_CMD_START = 0,                        // VfeOperationMode; idle; acknowledged
  VFE_CMD_RESET = 1,                        // no payload; idle; acknowledged
  VFE_CMD_BLOCK2 = 2,                       // VfeBlock2Cmd
  VFE_CMD_CAMIF = 3,                        // VfeCamifCmd
  VFE_CMD_OUTPUT = 4,                       // VfeOutputCmd
  VFE_CMD_BLACK_LEVEL = 5,                  // VfeBlackLevelCmd
  VFE_CMD_ROLLOFF = 6,                      // VfeRolloffCmd
  VFE_CMD_CHANNEL_GAIN = 7,                 // VfeChannelGainCmd
  VFE_CMD_DEMOSAIC = 8,                     // VfeDemosaicCmd
  VFE_CMD_FOV_CROP = 9,                     // VfeFovCropCmd
  VFE_CMD_MAIN_SCALER = 10,                 // VfeMainScalerCmd
  VFE_CMD_WHITE_BALANCE = 11,               // VfeWhiteBalanceCmd
  VFE_CMD_COLOR_CORR = 12,                  // VfeColorCorrCmd
  VFE_CMD_LUMA_ADAPTATION = 13,             // VfeLumaAdaptationCmd
  VFE_CMD_GAMMA = 14,                       // VfeGammaCmd
  VFE_CMD_COLOR_CONV = 15,                  // VfeColorConvCmd
  VFE_CMD_CHROMA_SUPP = 16,                 // VfeChromaSuppCmd
  VFE_CMD_ASF = 17,                         // VfeAsfCmd
  VFE_CMD_OUTPUT_Y_SCALER = 18,             // VfeOutputScalerCmd
  VFE_CMD_OUTPUT_CBCR_SCALER = 19,          // VfeOutputScalerCmd
  VFE_CMD_BLOCK20 = 20,                     // VfeBlock20Cmd
  VFE_CMD_FRAME_DROP = 21,                  // VfeFrameDropCmd
  VFE_CMD_BLOCK22 = 22,                     // VfeBlock22Cmd
  VFE_CMD_BLOCK23 = 23,                     // VfeBlock23Cmd
  VFE_CMD_SET_NOTIFY = 24,                  // VfeNotifyCmd, ring 1
  VFE_CMD_SET_NOTIFY2 = 25,                 // VfeNotifyCmd, ring 2
  VFE_CMD_UPDATE = 26,                      // no payload; running, no update pending
  VFE_CMD_BLACK_LEVEL_UPDATE = 27,          // VfeBlackLevelCmd
  VFE_CMD_CHANNEL_GAIN_UPDATE = 28,         // VfeChannelGainCmd
  VFE_CMD_DEMOSAIC_UPDATE2 = 29,            // VfeDemosaicUpdate2Cmd
  VFE_CMD_DEMOSAIC_UPDATE1 = 30,            // VfeDemosaicUpdate1Cmd
  VFE_CMD_FOV_CROP_UPDATE = 31,             // VfeFovCropCmd
  VFE_CMD_WHITE_BALANCE_UPDATE = 32,        // VfeWhiteBalanceCmd
  VFE_CMD_COLOR_CORR_UPDATE = 33,           // VfeColorCorrCmd
  VFE_CMD_LUMA_ADAPTATION_UPDATE = 34,      // VfeLumaAdaptationCmd
  VFE_CMD_GAMMA_UPDATE = 35,                // VfeGammaCmd
  VFE_CMD_COLOR_CONV_UPDATE = 36,           // VfeColorConvCmd
  VFE_CMD_CHROMA_SUPP_UPDATE = 37,          // VfeChromaSuppCmd
  VFE_CMD_MAIN_SCALER_UPDATE = 38,          // VfeMainScalerCmd
  VFE_CMD_OUTPUT_CBCR_SCALER_UPDATE = 39,   // VfeOutputScalerCmd
  VFE_CMD_OUTPUT_Y_SCALER_UPDATE = 40,      // VfeOutputScalerCmd
  VFE_CMD_ASF_UPDATE = 41,                  // VfeAsfUpdateCmd
  VFE_CMD_FRAME_DROP_UPDATE = 42,           // VfeFrameDropUpdateCmd
  VFE_CMD_CAMIF_UPDATE = 43,                // VfeCamifUpdateCmd
  VFE_CMD_AF_STATS_UPDATE = 44,             // VfeAfStatsUpdateCmd
  VFE_CMD_AWBEXT_STATS_UPDATE = 45,         // VfeAwbExtStatsUpdateCmd
  VFE_CMD_ACK_STATS_AF = 48,                // VfeStatsAckCmd; running
  VFE_CMD_ACK_STATS_WB_EXP = 49,            // VfeStatsAckCmd; running
  VFE_CMD_STOP = 51,                        // no payload; always; acknowledged
  VFE_CMD_GET_HW_INFO = 52,                 // VfeHwInfo, written
  VFE_CMD_READ_MESSAGE = 53,                // VfeMessage, written (ring 1)
  VFE_CMD_READ_MESSAGE2 = 54,               // VfeMessage, written (ring 2)
  VFE_CMD_QUERY_OUTPUT = 55,                // VfeOutputQuery, written
  VFE_CMD_WB_EXP_STATS = 56,                // VfeWbExpStatsCmd
  VFE_CMD_AF_STATS = 57,                    // VfeAfStatsCmd
  VFE_CMD_AF_STATS_STOP = 58,               // no payload
  VFE_CMD_AWBEXT_STATS = 59,                // VfeAwbExtStatsCmd
  VFE_CMD_AWBEXT_STATS_STOP = 60,           // no payload
  VFE_CMD_ACK_OUTPUT_MODE1 = 63,            // VfeAckOutputCmd, OUTPUT1 path
  VFE_CMD_ACK_OUTPUT = 64,                  // VfeAckOutputCmd, OUTPUT2 path
};

// Results of Command besides 0: 1 refused in this state (or an acknowledged
// sequence already waits); 12 no acknowledge within kVfeAckTimeoutMs; 13 a
// second driver while one exists (creation); 14 a payload of the wrong size, a
// buffer count beyond a free-buffer ring or a snapshot of 0 frames; 20 unknown
// command; 29 null object or record/size mismatch; 47 no message.
#define VFE_E_RING_FULL 0x10001       // free-buffer ring of an output path too full
#define VFE_E_TOO_FEW_BUFFERS 0x10002 // START: an enabled path lacks its first buffers

constexpr uint32_t kVfeAckTimeoutMs = 2000;
constexpr uint32_t kVfeMessageRingSize = 20;
constexpr uint32_t kVfeFreeBufferRingSize = 32;

// ---- START -----------------------------------------------------------------------------
struct VfeOperationMode {
  uint32_t inputPath;       // 2 the command-2 path; the service sends 0
  uint32_t snapshot;        // 1 snapshot, 0 continuous
  uint8_t snapshotFrames;   // frames of a snapshot (1 or more)
  uint8_t reserved9[3];
  uint32_t pixelOrder;      // 0-3 Bayer orders, 4-7 YUV orders (0x014 bits 0-2)
  uint32_t yuvFlag;         // bit 0 to 0x1DC
};
static_assert(sizeof(VfeOperationMode) == 20);
static_assert(offsetof(VfeOperationMode, snapshotFrames) == 8);
static_assert(offsetof(VfeOperationMode, pixelOrder) == 12);
static_assert(offsetof(VfeOperationMode, yuvFlag) == 16);

// ---- Block payloads ------------------------------------------------------------------
// Byte packing only drops the tail padding of records whose size is not a
// multiple of four; every field keeps its natural alignment.
#pragma pack(push, 1)

// Command 2: the third write master (never sent by the service). 66 bytes read.
struct VfeBlock2Cmd {
  uint32_t words[4];        // 0x08C-0x098
  uint16_t reserved16;
  uint16_t lines;           // +18: 0x09C, 0x0A8 bits 0-11
  uint16_t offset;          // +20
  uint16_t width;           // +22
  uint16_t height2;         // +24
  uint16_t lines2;          // +26
  uint32_t reserved28;
  uint8_t field32;          // 0x0A8 bits 28-30
  uint8_t reserved33[3];
  uint32_t field36;         // 0x0A8 bits 25-27
  uint32_t burst;           // 1, 2 or other
  uint8_t pattern7[4];      // +44: 0x0B0
  uint8_t pattern4a[4];     // +48: 0x0B4 bits 0-15
  uint8_t bits1a[4];        // +52: 0x0B4 bits 16-19
  uint8_t pattern4b[4];     // +56: 0x0B8
  uint8_t bits1b[4];        // +60
  uint8_t low4;             // +64: 0x0BC bits 0-3
  uint8_t high4;            // +65: 0x0BC bits 16-19
};
static_assert(sizeof(VfeBlock2Cmd) == 66);
static_assert(offsetof(VfeBlock2Cmd, burst) == 40);
static_assert(offsetof(VfeBlock2Cmd, high4) == 65);
static_assert(offsetof(VfeBlock2Cmd, lines) == 18 && offsetof(VfeBlock2Cmd, offset) == 20 &&
              offsetof(VfeBlock2Cmd, width) == 22 && offsetof(VfeBlock2Cmd, height2) == 24 &&
              offsetof(VfeBlock2Cmd, lines2) == 26 && offsetof(VfeBlock2Cmd, field32) == 32 &&
              offsetof(VfeBlock2Cmd, field36) == 36 && offsetof(VfeBlock2Cmd, pattern7) == 44 &&
              offsetof(VfeBlock2Cmd, pattern4a) == 48 && offsetof(VfeBlock2Cmd, bits1a) == 52 &&
              offsetof(VfeBlock2Cmd, pattern4b) == 56 && offsetof(VfeBlock2Cmd, bits1b) == 60 &&
              offsetof(VfeBlock2Cmd, low4) == 64);

// Command 3: the camera interface (56 bytes). Bytes 0-19 are kept for START (0x114).
struct VfeCamifCmd {
  uint32_t polarityA;       // 0x114 bit 1
  uint32_t polarityB;       // 0x114 bit 2
  uint32_t syncMode;        // 0x114 bits 3-4
  uint8_t subsampleEnable;  // 0x114 bit 5
  uint8_t flag13;           // 0x114 bit 7
  uint8_t patternEnable;    // 0x114 bit 11
  uint8_t flag15;           // 0x114 bit 12
  uint8_t flag16;           // 0x114 bit 31
  uint8_t reserved17[3];
  uint8_t modeInfo[4];      // 0x118, bytes 0-3 of the word
  uint16_t frameGeometry2;  // 0x11C bits 0-13
  uint16_t frameGeometry1;  // 0x11C bits 16-29; also the bound of the two IRQ lines
  uint16_t firstPixel;      // 0x120 bits 16-29
  uint16_t lastPixel;       // 0x120 bits 0-13
  uint16_t firstLine;       // 0x124 bits 16-29
  uint16_t lastLine;        // 0x124 bits 0-13
  uint16_t pixelSkipPattern;  // 0x128 bits 0-15
  uint16_t lineSkipPattern;   // 0x128 bits 16-31
  uint32_t patternSelector;   // 0x12C bits 0-3
  uint8_t flag44;             // 0x12C bit 4
  uint8_t flag45;             // 0x12C bit 5
  uint16_t reserved46;
  uint8_t irq1Enable;       // 1: status bit 4 at irq1Line
  uint8_t reserved49;
  uint16_t irq1Line;        // 0x130 bits 0-13
  uint8_t irq2Enable;       // 1: status bit 5 at irq2Line
  uint8_t reserved53;
  uint16_t irq2Line;        // 0x130 bits 16-29
};
static_assert(sizeof(VfeCamifCmd) == 56);
static_assert(offsetof(VfeCamifCmd, modeInfo) == 20);
static_assert(offsetof(VfeCamifCmd, frameGeometry2) == 24);
static_assert(offsetof(VfeCamifCmd, patternSelector) == 40);
static_assert(offsetof(VfeCamifCmd, irq1Enable) == 48);
static_assert(offsetof(VfeCamifCmd, irq2Line) == 54);
static_assert(offsetof(VfeCamifCmd, polarityB) == 4 && offsetof(VfeCamifCmd, syncMode) == 8 &&
              offsetof(VfeCamifCmd, subsampleEnable) == 12 && offsetof(VfeCamifCmd, flag16) == 16 &&
              offsetof(VfeCamifCmd, firstPixel) == 28 && offsetof(VfeCamifCmd, lastPixel) == 30 &&
              offsetof(VfeCamifCmd, firstLine) == 32 && offsetof(VfeCamifCmd, lastLine) == 34 &&
              offsetof(VfeCamifCmd, pixelSkipPattern) == 36 && offsetof(VfeCamifCmd, lineSkipPattern) == 38 &&
              offsetof(VfeCamifCmd, flag44) == 44 && offsetof(VfeCamifCmd, flag45) == 45 &&
              offsetof(VfeCamifCmd, irq1Line) == 50 && offsetof(VfeCamifCmd, irq2Enable) == 52);

// Command 43: 0x11C alone (never sent by the service).
struct VfeCamifUpdateCmd {
  uint16_t frameGeometry2;
  uint16_t frameGeometry1;
};
static_assert(sizeof(VfeCamifUpdateCmd) == 4);
static_assert(offsetof(VfeCamifUpdateCmd, frameGeometry1) == 2);

// One output path's write masters inside command 4 (18 bytes).
struct VfeOutputPathRecord {
  uint8_t fragmentCount;    // 0 or 1 single fragment; 2-4 multi-fragment
  uint8_t reserved1;
  uint16_t lumaWidth;       // pixels; words = ceil(width / divisor)
  uint16_t lumaHeight;      // lines
  uint16_t lumaHeight2;
  uint16_t lumaWidth2;
  uint16_t chromaWidth;
  uint16_t chromaHeight;
  uint16_t chromaHeight2;
  uint16_t chromaWidth2;
};
static_assert(sizeof(VfeOutputPathRecord) == 18);
static_assert(offsetof(VfeOutputPathRecord, lumaWidth) == 2 && offsetof(VfeOutputPathRecord, lumaHeight) == 4 &&
              offsetof(VfeOutputPathRecord, lumaHeight2) == 6 && offsetof(VfeOutputPathRecord, lumaWidth2) == 8 &&
              offsetof(VfeOutputPathRecord, chromaWidth) == 10 && offsetof(VfeOutputPathRecord, chromaHeight) == 12 &&
              offsetof(VfeOutputPathRecord, chromaHeight2) == 14 && offsetof(VfeOutputPathRecord, chromaWidth2) == 16);

// Command 4: output mode and write masters (48 bytes).
struct VfeOutputCmd {
  uint32_t fixedWord;       // 4; not read by the driver
  uint32_t outputMode;      // 0 OUTPUT1, 1 OUTPUT2, 2 both, 3 raw on OUTPUT2, 4, 5
  uint32_t burstCode;       // 0x02C bits 8-9; divisor 0: 8, 1: 6, 2: 5, other: keep
  VfeOutputPathRecord output1;  // 0x058/0x05C luma, 0x068/0x06C chroma
  VfeOutputPathRecord output2;  // 0x038/0x03C luma, 0x048/0x04C chroma
};
static_assert(sizeof(VfeOutputCmd) == 48);
static_assert(offsetof(VfeOutputCmd, output1) == 12);
static_assert(offsetof(VfeOutputCmd, output2) == 30);
static_assert(offsetof(VfeOutputCmd, outputMode) == 4 && offsetof(VfeOutputCmd, burstCode) == 8);

// Commands 5 and 27 (10 bytes): 0x194-0x1A0, 9 bits each.
struct VfeBlackLevelCmd {
  uint8_t enable;           // module enable 0
  uint8_t reserved1;
  uint16_t level[4];
};
static_assert(sizeof(VfeBlackLevelCmd) == 10);
static_assert(offsetof(VfeBlackLevelCmd, level) == 2);

// Command 6 (1784 bytes): grid head and the four initial and four delta tables.
struct VfeRolloffCmd {
  uint8_t enable;           // module enable 1
  uint8_t reserved1;
  uint16_t grid[3];         // 0x1A4: 9 bits each
  uint8_t subgrid[2];       // 0x1A8 bits 0-3, 4-7
  uint16_t interp[2];       // 0x1A8 bits 8-16, 20-28
  uint16_t field14;         // 0x1AC bits 0-11
  uint16_t initTable[4][13];    // at 16, 42, 68, 94
  uint16_t deltaTable[4][208];  // at 120, 536, 952, 1368
};
static_assert(sizeof(VfeRolloffCmd) == 1784);
static_assert(offsetof(VfeRolloffCmd, initTable) == 16);
static_assert(offsetof(VfeRolloffCmd, deltaTable) == 120);
static_assert(offsetof(VfeRolloffCmd, grid) == 2 && offsetof(VfeRolloffCmd, subgrid) == 8 &&
              offsetof(VfeRolloffCmd, interp) == 10 && offsetof(VfeRolloffCmd, field14) == 14);

// Commands 7 and 28 (8 bytes): 0x1B4 (0, 1), 0x1B8 (2, 3), 10 bits each.
struct VfeChannelGainCmd {
  uint16_t gain[4];
};
static_assert(sizeof(VfeChannelGainCmd) == 8);

// Command 8 (26 bytes).
struct VfeDemosaicCmd {
  uint8_t enable;           // module enable 4
  uint8_t mode;             // 0x1C4 bits 28-30
  uint8_t abfEnable;        // 0x1C4 bit 0
  uint8_t flag3;            // 0x1C4 bit 2
  uint8_t shift;            // 0x1C4 bits 4-7
  uint8_t reserved5;
  uint16_t abfThreshold;    // 0x1C8 bits 0-9
  uint16_t field8;          // 0x1CC bits 16-25
  uint16_t field10;         // 0x1CC bits 4-13
  uint8_t field12;          // 0x1CC bits 0-3
  uint8_t reserved13;
  uint8_t bpcEnable;        // 0x1C4 bit 1
  uint8_t reserved15;
  uint16_t slopeHigh;       // 0x1C4 bits 16-22
  uint16_t slopeLow;        // 0x1C4 bits 8-14
  uint16_t bpcMin;          // 0x1D0 bits 12-23
  uint16_t bpcMax;          // 0x1D0 bits 0-11
  uint16_t field24;         // 0x1D4 bits 0-11
};
static_assert(sizeof(VfeDemosaicCmd) == 26);
static_assert(offsetof(VfeDemosaicCmd, bpcEnable) == 14);
static_assert(offsetof(VfeDemosaicCmd, field24) == 24);
static_assert(offsetof(VfeDemosaicCmd, abfEnable) == 2 && offsetof(VfeDemosaicCmd, shift) == 4 &&
              offsetof(VfeDemosaicCmd, abfThreshold) == 6 && offsetof(VfeDemosaicCmd, field8) == 8 &&
              offsetof(VfeDemosaicCmd, field10) == 10 && offsetof(VfeDemosaicCmd, field12) == 12 &&
              offsetof(VfeDemosaicCmd, slopeHigh) == 16 && offsetof(VfeDemosaicCmd, slopeLow) == 18 &&
              offsetof(VfeDemosaicCmd, bpcMin) == 20 && offsetof(VfeDemosaicCmd, bpcMax) == 22);

// Command 30 (12 bytes): the ABF half of 0x1C4 and 0x1C8, 0x1CC.
struct VfeDemosaicUpdate1Cmd {
  uint8_t abfEnable;        // bit 0
  uint8_t flag3;            // bit 2
  uint8_t shift;            // bits 4-7
  uint8_t reserved3;
  uint16_t abfThreshold;    // 0x1C8
  uint16_t field8;          // 0x1CC bits 16-25
  uint16_t field10;         // 0x1CC bits 4-13
  uint8_t field12;          // 0x1CC bits 0-3
  uint8_t reserved11;
};
static_assert(sizeof(VfeDemosaicUpdate1Cmd) == 12);
static_assert(offsetof(VfeDemosaicUpdate1Cmd, flag3) == 1 && offsetof(VfeDemosaicUpdate1Cmd, shift) == 2 &&
              offsetof(VfeDemosaicUpdate1Cmd, abfThreshold) == 4 && offsetof(VfeDemosaicUpdate1Cmd, field8) == 6 &&
              offsetof(VfeDemosaicUpdate1Cmd, field10) == 8 && offsetof(VfeDemosaicUpdate1Cmd, field12) == 10);

// Command 29 (12 bytes): the bad-pixel half of 0x1C4 and 0x1D0, 0x1D4.
struct VfeDemosaicUpdate2Cmd {
  uint8_t bpcEnable;        // bit 1
  uint8_t reserved1;
  uint16_t slopeHigh;       // bits 16-22
  uint16_t slopeLow;        // bits 8-14
  uint16_t bpcMin;          // 0x1D0 bits 12-23
  uint16_t bpcMax;          // 0x1D0 bits 0-11
  uint16_t field24;         // 0x1D4
};
static_assert(sizeof(VfeDemosaicUpdate2Cmd) == 12);
static_assert(offsetof(VfeDemosaicUpdate2Cmd, slopeHigh) == 2 && offsetof(VfeDemosaicUpdate2Cmd, slopeLow) == 4 &&
              offsetof(VfeDemosaicUpdate2Cmd, bpcMin) == 6 && offsetof(VfeDemosaicUpdate2Cmd, bpcMax) == 8 &&
              offsetof(VfeDemosaicUpdate2Cmd, field24) == 10);

// Commands 9 and 31 (10 bytes).
struct VfeFovCropCmd {
  uint8_t enable;           // module enable 6
  uint8_t reserved1;
  uint16_t firstPixel;      // 0x1E0 bits 16-27
  uint16_t lastPixel;       // 0x1E0 bits 0-11
  uint16_t firstLine;       // 0x1E4 bits 16-27
  uint16_t lastLine;        // 0x1E4 bits 0-11
};
static_assert(sizeof(VfeFovCropCmd) == 10);
static_assert(offsetof(VfeFovCropCmd, firstPixel) == 2 && offsetof(VfeFovCropCmd, lastPixel) == 4 &&
              offsetof(VfeFovCropCmd, firstLine) == 6 && offsetof(VfeFovCropCmd, lastLine) == 8);

// One direction of a scaler (16 bytes).
struct VfeScaleRecord {
  uint8_t enable;
  uint8_t reserved1;
  uint16_t inputSize;
  uint16_t outputSize;
  uint16_t reserved6;
  uint32_t phaseStep;       // 18 bits: input / output with 12 + N fraction bits
  uint8_t fractionBits;     // N, 2 bits
  uint8_t reserved13[3];
};
static_assert(sizeof(VfeScaleRecord) == 16);
static_assert(offsetof(VfeScaleRecord, inputSize) == 2 && offsetof(VfeScaleRecord, outputSize) == 4 &&
              offsetof(VfeScaleRecord, phaseStep) == 8 && offsetof(VfeScaleRecord, fractionBits) == 12);

// Commands 10 and 38 (44 bytes): seven words from 0x270.
struct VfeMainScalerCmd {
  uint8_t enable;           // module enable 7
  uint8_t reserved1[3];
  VfeScaleRecord horizontal;  // at 4
  VfeScaleRecord vertical;    // at 20
  uint16_t extra[4];          // 0x27C (36, 38) and 0x288 (40, 42)
};
static_assert(sizeof(VfeMainScalerCmd) == 44);
static_assert(offsetof(VfeMainScalerCmd, vertical) == 20);
static_assert(offsetof(VfeMainScalerCmd, horizontal) == 4 && offsetof(VfeMainScalerCmd, extra) == 36);

// Commands 18/40 and 19/39 (36 bytes): five words from 0x28C or 0x2A0.
struct VfeOutputScalerCmd {
  uint8_t enable;           // module enable 18 (Y) or 19 (CbCr)
  uint8_t reserved1[3];
  VfeScaleRecord horizontal;
  VfeScaleRecord vertical;
};
static_assert(sizeof(VfeOutputScalerCmd) == 36);
static_assert(offsetof(VfeOutputScalerCmd, horizontal) == 4 && offsetof(VfeOutputScalerCmd, vertical) == 20);

// Commands 11 and 32 (8 bytes): 0x2B4.
struct VfeWhiteBalanceCmd {
  uint8_t enable;           // module enable 8
  uint8_t reserved1;
  uint16_t gainR;           // bits 18-26
  uint16_t gainB;           // bits 9-17
  uint16_t gainG;           // bits 0-8
};
static_assert(sizeof(VfeWhiteBalanceCmd) == 8);
static_assert(offsetof(VfeWhiteBalanceCmd, gainR) == 2);
static_assert(offsetof(VfeWhiteBalanceCmd, gainB) == 4);
static_assert(offsetof(VfeWhiteBalanceCmd, gainG) == 6);

// Commands 12 and 33 (32 bytes).
struct VfeColorCorrCmd {
  uint8_t enable;           // module enable 9
  uint8_t reserved1[3];
  uint32_t qFactor;         // 0x218 bits 0-1
  int16_t coefficient[9];   // 0x1E8-0x208, 12 bits
  int16_t offset[3];        // 0x20C-0x214, 11 bits
};
static_assert(sizeof(VfeColorCorrCmd) == 32);
static_assert(offsetof(VfeColorCorrCmd, coefficient) == 8);
static_assert(offsetof(VfeColorCorrCmd, qFactor) == 4);
static_assert(offsetof(VfeColorCorrCmd, offset) == 26);

// Commands 13 and 34 (514 bytes).
struct VfeLumaAdaptationCmd {
  uint8_t enable;           // module enable 12
  uint8_t reserved1;
  int16_t table[256];
};
static_assert(sizeof(VfeLumaAdaptationCmd) == 514);
static_assert(offsetof(VfeLumaAdaptationCmd, table) == 2);

// Commands 14 and 35 (520 bytes).
struct VfeGammaCmd {
  uint8_t enable;           // module enable 13
  uint8_t reserved1[3];
  uint32_t channels;        // 0, 1, 2 one; 3 {0,1}; 4 {0,2}; 5 {1,2}; 6 all; other none
  int16_t table[256];
};
static_assert(sizeof(VfeGammaCmd) == 520);
static_assert(offsetof(VfeGammaCmd, channels) == 4);
static_assert(offsetof(VfeGammaCmd, table) == 8);

// Commands 15 and 36 (30 bytes). matrix: the chroma coefficients am, ap, bm,
// bp, cm, cp, dm, dp (Q8), then k_cr and k_cb; offset: the luma coefficients
// RtoY, GtoY, BtoY (Q8), indexed by the names below; field28: the luma offset.
struct VfeColorConvCmd {
  uint8_t enable;           // module enable 14
  uint8_t reserved1;
  int16_t matrix[10];       // Q8 pairs into 0x224-0x234: odd index bits 0-10, even bits 16-26
  int16_t offset[3];        // 0x238-0x240, 12 bits; fields saturate rather than wrap
  uint8_t field28;          // 0x244
  uint8_t reserved29;
};
enum : uint32_t { kColorConvKcr = 8, kColorConvKcb = 9 };           // in matrix
enum : uint32_t { kColorConvRtoY = 0, kColorConvGtoY = 1, kColorConvBtoY = 2 };  // in offset
static_assert(sizeof(VfeColorConvCmd) == 30);
static_assert(offsetof(VfeColorConvCmd, matrix) + 2 * kColorConvKcr == 18, "k_cr");
static_assert(offsetof(VfeColorConvCmd, matrix) + 2 * kColorConvKcb == 20, "k_cb");
static_assert(offsetof(VfeColorConvCmd, offset) == 22);
static_assert(offsetof(VfeColorConvCmd, offset) + 2 * kColorConvRtoY == 22, "RtoY");
static_assert(offsetof(VfeColorConvCmd, offset) + 2 * kColorConvGtoY == 24, "GtoY");
static_assert(offsetof(VfeColorConvCmd, offset) + 2 * kColorConvBtoY == 26, "BtoY");
static_assert(offsetof(VfeColorConvCmd, field28) == 28, "luma offset");

// Commands 16 and 37 (7 bytes).
struct VfeChromaSuppCmd {
  uint8_t enable;           // module enable 16
  uint8_t lumaThreshold[2]; // 0x2B8 bits 0-7, 8-15
  uint8_t lumaShift[2];     // powers of two; 0x2B8 bits 16-18, 20-22 get their exponents
  uint8_t chromaShift;      // power of two; 0x2BC bits 8-10 get its exponent
  uint8_t chromaThreshold;  // 0x2BC bits 0-7
};
static_assert(sizeof(VfeChromaSuppCmd) == 7);
static_assert(offsetof(VfeChromaSuppCmd, lumaThreshold) == 1);
static_assert(offsetof(VfeChromaSuppCmd, lumaShift) == 3);
static_assert(offsetof(VfeChromaSuppCmd, chromaShift) == 5);
static_assert(offsetof(VfeChromaSuppCmd, chromaThreshold) == 6);

// Command 17 (40 bytes); command 41 sends its first 32.
struct VfeAsfCmd {
  uint8_t enable;           // module enable 15
  uint8_t bytes[31];        // +1..+31: 0x248-0x260
  uint16_t size[4];         // 0x268, 0x26C (ASF only)
};
static_assert(sizeof(VfeAsfCmd) == 40);
static_assert(offsetof(VfeAsfCmd, bytes) == 1 && offsetof(VfeAsfCmd, size) == 32);
struct VfeAsfUpdateCmd {
  uint8_t enable;
  uint8_t bytes[31];
};
static_assert(sizeof(VfeAsfUpdateCmd) == 32);

// Command 20 (16 bytes).
struct VfeBlock20Cmd {
  uint8_t enable;           // module enable 17
  uint8_t flags[7];         // 0x2C0 bits 6..0 (flags[0] bit 6)
  uint16_t size[4];         // 0x2C4, 0x2C8
};
static_assert(sizeof(VfeBlock20Cmd) == 16);
static_assert(offsetof(VfeBlock20Cmd, flags) == 1 && offsetof(VfeBlock20Cmd, size) == 8);

// Command 21 (16 bytes): the frame-drop record START uses for snapshots.
struct VfeFrameDropCmd {
  uint8_t output1Period;    // 0x2DC/0x2E0; frames 0..period
  uint8_t reserved1[3];
  uint32_t output1Pattern;  // 0x2E4/0x2E8; bit n keeps frame n
  uint8_t output2Period;    // 0x2CC/0x2D0
  uint8_t reserved9[3];
  uint32_t output2Pattern;  // 0x2D4/0x2D8
};
static_assert(sizeof(VfeFrameDropCmd) == 16);
static_assert(offsetof(VfeFrameDropCmd, output1Pattern) == 4 && offsetof(VfeFrameDropCmd, output2Period) == 8 &&
              offsetof(VfeFrameDropCmd, output2Pattern) == 12);

// Command 42 (8 bytes): patterns only.
struct VfeFrameDropUpdateCmd {
  uint32_t output1Pattern;
  uint32_t output2Pattern;
};
static_assert(sizeof(VfeFrameDropUpdateCmd) == 8);
static_assert(offsetof(VfeFrameDropUpdateCmd, output2Pattern) == 4);

// Command 22 (6 bytes): output clamp.
struct VfeBlock22Cmd {
  uint8_t minimum[3];       // 0x2F0
  uint8_t maximum[3];       // 0x2EC
};
static_assert(sizeof(VfeBlock22Cmd) == 6);
static_assert(offsetof(VfeBlock22Cmd, maximum) == 3);

// Command 23 (56 bytes): twelve words from 0x370.
struct VfeBlock23Cmd {
  uint8_t flag0, flag1;     // 0x370 bits 12, 13
  uint16_t reserved2;
  uint32_t field4;          // 0x370 bit 18
  uint32_t field8;          // 0x370 bit 19
  uint16_t field12;         // 0x370 bits 0-9
  uint16_t reserved14;
  uint32_t field16;         // 0x370 bits 16-17
  uint16_t field20, field22;  // 0x374
  uint32_t field24, field28;  // 0x378, 0x37C
  uint16_t field32, field34;  // 0x380, 0x384
  uint16_t field36;           // 0x388
  uint8_t flag38;             // 0x38C bit 16
  uint8_t reserved39;
  uint16_t field40;           // 0x38C bits 0-13
  uint8_t field42, field43;   // 0x390, 0x394
  uint8_t flag44, flag45, field46;  // 0x398
  uint8_t reserved47;
  uint32_t field48;           // 0x398 bits 6-7
  uint8_t field52;            // 0x398 bits 8-13
  uint8_t reserved53;
  uint16_t field54;           // 0x39C
};
static_assert(sizeof(VfeBlock23Cmd) == 56);
static_assert(offsetof(VfeBlock23Cmd, field48) == 48);
static_assert(offsetof(VfeBlock23Cmd, field4) == 4 && offsetof(VfeBlock23Cmd, field8) == 8 &&
              offsetof(VfeBlock23Cmd, field12) == 12 && offsetof(VfeBlock23Cmd, field16) == 16 &&
              offsetof(VfeBlock23Cmd, field20) == 20 && offsetof(VfeBlock23Cmd, field22) == 22 &&
              offsetof(VfeBlock23Cmd, field24) == 24 && offsetof(VfeBlock23Cmd, field28) == 28 &&
              offsetof(VfeBlock23Cmd, field32) == 32 && offsetof(VfeBlock23Cmd, field34) == 34 &&
              offsetof(VfeBlock23Cmd, field36) == 36 && offsetof(VfeBlock23Cmd, flag38) == 38 &&
              offsetof(VfeBlock23Cmd, field40) == 40 && offsetof(VfeBlock23Cmd, field42) == 42 &&
              offsetof(VfeBlock23Cmd, field43) == 43 && offsetof(VfeBlock23Cmd, flag44) == 44 &&
              offsetof(VfeBlock23Cmd, flag45) == 45 && offsetof(VfeBlock23Cmd, field46) == 46 &&
              offsetof(VfeBlock23Cmd, field52) == 52 && offsetof(VfeBlock23Cmd, field54) == 54);

// Commands 24 and 25 (4 bytes): the signal control fired after each message of
// the ring (ISignalControl; the driver keeps a reference). Null clears it.
struct VfeNotifyCmd {
  IPvlBase* notify;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(VfeNotifyCmd) == 4);
#endif

// Command 44 (10 bytes).
struct VfeAfStatsUpdateCmd {
  uint8_t gridMode;         // 0x2F8 bit 31
  uint8_t reserved1;
  uint16_t firstPixel;      // 0x2F8 bits 16-27
  uint16_t lastPixel;       // 0x2F8 bits 0-11
  uint16_t firstLine;       // 0x2FC bits 16-27
  uint16_t lastLine;        // 0x2FC bits 0-11
};
static_assert(sizeof(VfeAfStatsUpdateCmd) == 10);

// Command 57 (38 bytes).
struct VfeAfStatsCmd {
  uint8_t enable;           // statistics enable 0
  uint8_t gridMode;         // 0x2F8 bit 31
  uint16_t firstPixel;      // 0x2F8 bits 16-27
  uint16_t lastPixel;       // 0x2F8 bits 0-11
  uint16_t firstLine;       // 0x2FC bits 16-27
  uint16_t lastLine;        // 0x2FC bits 0-11
  uint8_t cells[16];        // 0x300-0x30C
  uint8_t metric;           // 0x314 bit 21
  uint8_t reserved27;
  int16_t clip;             // 0x314 bits 10-20
  uint8_t tap0, tap4;       // 0x314 bits 0-4, 5-9
  uint8_t taps[5];          // 0x318, 5 bits each
  uint8_t field37;          // 0x310
};
static_assert(sizeof(VfeAfStatsCmd) == 38);
static_assert(offsetof(VfeAfStatsCmd, clip) == 28);
static_assert(offsetof(VfeAfStatsCmd, firstPixel) == 2 && offsetof(VfeAfStatsCmd, lastLine) == 8 &&
              offsetof(VfeAfStatsCmd, cells) == 10 && offsetof(VfeAfStatsCmd, metric) == 26 &&
              offsetof(VfeAfStatsCmd, tap0) == 30 && offsetof(VfeAfStatsCmd, taps) == 32 &&
              offsetof(VfeAfStatsCmd, field37) == 37);
static_assert(offsetof(VfeAfStatsUpdateCmd, firstPixel) == 2);
static_assert(offsetof(VfeAfStatsUpdateCmd, lastPixel) == 4 && offsetof(VfeAfStatsUpdateCmd, firstLine) == 6 &&
              offsetof(VfeAfStatsUpdateCmd, lastLine) == 8);

// Command 59 (20 bytes) and 45 (16 bytes).
struct VfeAwbExtStatsCmd {
  uint8_t enable;           // statistics enable 1
  uint8_t flags[2];         // 0x31C bits 0, 1
  uint8_t lumaMin, lumaMax; // 0x31C bits 16-23, 24-31
  uint8_t slope[4];         // 0x324 bits 24-31, 16-23, 8-15, 0-7
  uint8_t reserved9;
  int16_t offset[4];        // 0x328 bits 16-27, 0-11; 0x32C bits 16-27, 0-11
  uint8_t field18;          // 0x320
  uint8_t reserved19;
};
static_assert(sizeof(VfeAwbExtStatsCmd) == 20);
static_assert(offsetof(VfeAwbExtStatsCmd, offset) == 10);
static_assert(offsetof(VfeAwbExtStatsCmd, flags) == 1 && offsetof(VfeAwbExtStatsCmd, lumaMin) == 3 && offsetof(VfeAwbExtStatsCmd, slope) == 5 &&
              offsetof(VfeAwbExtStatsCmd, field18) == 18);
struct VfeAwbExtStatsUpdateCmd {
  uint8_t flags[2];
  uint8_t lumaMin, lumaMax;
  uint8_t slope[4];
  int16_t offset[4];
};
static_assert(sizeof(VfeAwbExtStatsUpdateCmd) == 16);
static_assert(offsetof(VfeAwbExtStatsUpdateCmd, lumaMin) == 2 && offsetof(VfeAwbExtStatsUpdateCmd, lumaMax) == 3 &&
              offsetof(VfeAwbExtStatsUpdateCmd, slope) == 4 && offsetof(VfeAwbExtStatsUpdateCmd, offset) == 8);

// Command 56 (48 bytes): statistics area and buffers.
struct VfeWbExpStatsCmd {
  uint16_t areaWidth;       // 0x33C bits 0-11 (width - 1)
  uint16_t areaHeight;      // 0x33C bits 16-27 (height - 1)
  uint8_t config[6];        // +4..+9: 0x088
  uint8_t reserved10[2];
  uint32_t afBuffer[3];     // ping, pong (0x070, 0x074), next
  uint32_t wbExpBuffer[3];  // ping, pong (0x078, 0x07C), next
  uint32_t word9;           // 0x080
  uint32_t word10;          // 0x084
  uint32_t reserved44;
};
static_assert(sizeof(VfeWbExpStatsCmd) == 48);
static_assert(offsetof(VfeWbExpStatsCmd, afBuffer) == 12);
static_assert(offsetof(VfeWbExpStatsCmd, wbExpBuffer) == 24);
static_assert(offsetof(VfeWbExpStatsCmd, word9) == 36);
static_assert(offsetof(VfeWbExpStatsCmd, areaHeight) == 2 && offsetof(VfeWbExpStatsCmd, config) == 4 &&
              offsetof(VfeWbExpStatsCmd, word10) == 40);

// Commands 48 and 49 (4 bytes): a statistics buffer back (physical address).
struct VfeStatsAckCmd {
  uint32_t buffer;
};
static_assert(sizeof(VfeStatsAckCmd) == 4);

#pragma pack(pop)

// ---- Output buffers ------------------------------------------------------------------
// One free buffer of an output path: physical addresses of up to four fragments
// (a single-fragment path uses luma[0] and chroma[0]).
struct VfeBufferEntry {
  uint32_t luma[4];
  uint32_t chroma[4];
};
static_assert(sizeof(VfeBufferEntry) == 32);

// Commands 63 (OUTPUT1) and 64 (OUTPUT2), 8 bytes.
struct VfeAckOutputCmd {
  uint8_t count;            // entries, at most the ring's free places
  uint8_t reserved1[3];
  const VfeBufferEntry* entries;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(VfeAckOutputCmd) == 8);
static_assert(offsetof(VfeAckOutputCmd, entries) == 4);
#endif

// ---- Replies -----------------------------------------------------------------------------
struct VfeHwInfo {  // command 52: register 0x000 split
  uint32_t minor;   // bits 0-7
  uint32_t major;   // bits 8-15
  uint32_t family;  // bits 16-19
};
static_assert(sizeof(VfeHwInfo) == 12);

struct VfeOutputQuery {  // command 55
  uint32_t frameCounter;
  uint32_t output1Dropped;
  uint32_t output2Dropped;
};
static_assert(sizeof(VfeOutputQuery) == 12);

// ---- Messages ------------------------------------------------------------------------------
enum VfeMessageId : uint32_t {
  MSG_VFE_UPDATE_ACK = 0,
  MSG_VFE_OUTPUT1 = 4,
  MSG_VFE_OUTPUT2 = 5,
  MSG_VFE_SNAPSHOT_DONE = 6,
  MSG_VFE_STATS_AF = 7,
  MSG_VFE_STATS_WB_EXP = 8,
  MSG_VFE_CAMIF_IRQ1 = 9,     // status bit 4
  MSG_VFE_CAMIF_IRQ2 = 10,    // bit 5
  MSG_VFE_STATUS_11 = 11,     // bit 23
  MSG_VFE_STATUS_12 = 12,     // bit 24
  MSG_VFE_STATUS_13 = 13,     // bit 25
  MSG_VFE_STATUS_14 = 14,     // bit 26
  MSG_VFE_STATUS_15 = 15,     // bit 27
  MSG_VFE_STATUS_16 = 16,     // bit 28
  MSG_VFE_STATUS_17 = 17,     // bit 29
  MSG_VFE_STATUS_18 = 18,     // bit 21, ring 2
  MSG_VFE_STATUS_19 = 19,     // bit 22, ring 2
  MSG_VFE_STATUS_20 = 20,     // bit 30, ring 2
  MSG_VFE_STATUS_21 = 21,     // bit 6, ring 2
  MSG_VFE_STATUS_22 = 22,     // bit 31, ring 2
  MSG_VFE_CAMIF_STATUS = 23,  // bit 0, ring 2
  MSG_VFE_OUTPUT_STATUS = 24, // bit 20, ring 2
  MSG_VFE_OUTPUT_LOST = 25,   // a streaming path lost frames in the hardware, ring 1
};

// The payload of MSG_VFE_OUTPUT_LOST.
struct VfeLostRecord {
  uint32_t path;            // 0 OUTPUT1, 1 OUTPUT2
  uint32_t lost;            // frames lost since the path's last report
};

// The payload of MSG_VFE_OUTPUT1 and MSG_VFE_OUTPUT2.
struct VfeFrameRecord {
  uint32_t luma;            // physical address of the completed frame (first fragment)
  uint32_t chroma;
  uint32_t status1D8Low;    // 0x1D8 bits 0-7
  uint32_t status1D8High;   // 0x1D8 bits 16-23
  uint32_t status264Low;    // 0x264 bits 0-12
  uint32_t status264High;   // 0x264 bits 16-27
  uint32_t frameCounter;
  uint32_t pathStatus[4];   // 0x0E0-0x0EC (OUTPUT1) or 0x0D0-0x0DC (OUTPUT2)
  uint32_t reserved11;
  uint32_t startOfFrameTime[2];  // CameraGetTime of the last start of frame, low word first
  uint32_t messageTime[2];       // CameraGetTime when the message was built
};
static_assert(sizeof(VfeFrameRecord) == 64);
static_assert(offsetof(VfeFrameRecord, startOfFrameTime) == 48);

// The payload of MSG_VFE_STATS_AF and MSG_VFE_STATS_WB_EXP.
struct VfeStatsRecord {
  uint32_t buffer;          // physical address of the filled buffer
  uint32_t frameCounter;
};

// On the rings and in the reply of commands 53 and 54 (72 bytes).
struct VfeMessage {
  uint32_t id;              // VfeMessageId
  uint32_t reserved;        // 0
  union {
    uint8_t bytes[64];      // unused bytes are 0
    uint32_t words[16];
    VfeFrameRecord frame;
    VfeStatsRecord stats;
    VfeLostRecord lost;
  } payload;
};
static_assert(sizeof(VfeMessage) == 72);
static_assert(offsetof(VfeMessage, payload) == 8);
