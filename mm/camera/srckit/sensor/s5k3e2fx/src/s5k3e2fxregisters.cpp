// Register programming of the S5K3E2FX: the initialisation that leaves the
// sensor streaming in the preview set, the mode change between preview
// (1296x972, 2:1 binned) and the full 2608x1960 array, and exposure: the gain
// code (gain x 32) and the integration lines, where an exposure longer than
// the frame stretches every line instead of the frame so that the frame rate
// holds. The PLL makes 24 MHz / 6 x 160 / 8 = the 80 MHz pixel clock that the
// timing records report.
//
// A failed transfer ends a sequence where it happened and the command answers
// 1, so that a sensor left in standby is reported, not discovered later as a
// missing frame.
#include <array>

#include "ccamerasensordriver_s5k3e2fx_5m_bayer.h"
#include "plindor.h"
#include "pvllog.h"
#include "s5k3e2fxregisters.h"
#include "wince.h"

const S5K3E2FXModeConstants g_S5K3E2FXModes[2] = {
    {1296, 972, 994, 2732, 2, 80000000},
    {2608, 1960, 1974, 2732, 1, 80000000},
};

// clang-format off
const uint16_t g_S5K3E2FXRowRegister[S5K3E2FX_MODE_ROW_SIZE] = {
    0x0305, 0x0306, 0x0307, 0x0301, 0x0303, 0x0309, 0x030B, 0x0112, 0x0113, 0x034C,  //  0
    0x034D, 0x034E, 0x034F, 0x0340, 0x0341, 0x0342, 0x0343, 0x0381, 0x0383, 0x0385,  // 10
    0x0387, 0x3014, 0,      0x30C4, 0x3024, 0x3015, 0x307E, 0x3000, 0x3001, 0x3002,  // 20
    0x3003, 0x3004, 0x3005, 0x3006, 0x3007, 0x3008, 0x3009, 0x300A, 0x300B, 0x300C,  // 30
    0x300D, 0x300E, 0x300F, 0x3010, 0x3011, 0x3012, 0x3152, 0x315A, 0,      0,       // 40
    0,      0,      0x309E, 0x309F, 0x30A0, 0x30A1, 0x30A2, 0x30A3, 0x30A4, 0x30A5,  // 50
    0x30A6, 0x30A7, 0x30A8, 0x30A9, 0x30AA, 0x30AB,                                  // 60
};

const uint8_t g_S5K3E2FXModeTable[2][S5K3E2FX_MODE_ROW_SIZE] = {
    // preview: 1296 x 972, 994 lines of 2732 clocks, vertical increment 3 and
    // horizontal binning (0x3014 = 06)
    {0x06, 0x00, 0xA0, 0x08, 0x01, 0x08, 0x01, 0x0A, 0x0A, 0x05,
     0x10, 0x03, 0xCC, 0x03, 0xE2, 0x0A, 0xAC, 0x01, 0x01, 0x01,
     0x03, 0x06, 0x81, 0x01, 0x04, 0x00, 0x02, 0x03, 0x94, 0x02,
     0x95, 0x0F, 0x05, 0x3C, 0x8C, 0x93, 0x05, 0x3A, 0x10, 0x02,
     0x3E, 0x02, 0x0E, 0x46, 0x64, 0x1E, 0x08, 0xF0, 0x00, 0x80,
     0x02, 0x03, 0x52, 0x3E, 0x03, 0x1F, 0x04, 0x21, 0x04, 0x00,
     0x0C, 0x7C, 0x04, 0x00, 0x10, 0x84},
    // full: 2608 x 1960, 1974 lines of 2732 clocks, no sub-sampling
    {0x06, 0x00, 0xA0, 0x08, 0x01, 0x08, 0x01, 0x0A, 0x0A, 0x0A,
     0x30, 0x07, 0xA8, 0x07, 0xB6, 0x0A, 0xAC, 0x01, 0x01, 0x01,
     0x01, 0x00, 0x81, 0x01, 0x04, 0x00, 0x02, 0x03, 0x94, 0x02,
     0x95, 0x0F, 0x05, 0x3C, 0x8C, 0x93, 0x05, 0x3A, 0x10, 0x02,
     0x3E, 0x02, 0x0E, 0x46, 0x64, 0x1E, 0x08, 0xF0, 0x00, 0x80,
     0x02, 0x03, 0x52, 0x7B, 0x03, 0x1F, 0x02, 0x15, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
};
// clang-format on

namespace {

// The analogue block is 144 groups of three bytes, a flag byte (0x00 or 0x0F)
// and two coefficient bytes; the four groups measured on this module repeat
// across the block.
constexpr std::array<uint8_t, S5K3E2FX_BLOCK_SIZE> MakeBlock() {
  constexpr uint8_t groups[12] = {0x00, 0x8C, 0xE8, 0x0F, 0xDD, 0x3B, 0x00, 0x15, 0x5E, 0x0F, 0xFA, 0xD9};
  std::array<uint8_t, S5K3E2FX_BLOCK_SIZE> block{};
  for (uint32_t i = 0; i < S5K3E2FX_BLOCK_SIZE; ++i) block[i] = groups[i % 12];
  return block;
}

// Substitutes for the tuned revision's values on other revisions.
constexpr uint8_t kOther3001 = 0x99;
constexpr uint8_t kOther3003 = 0x9A;
constexpr uint8_t kOther3008 = 0x26;

constexpr uint32_t kSettleMicroseconds = 5000;
constexpr uint32_t kMaxGainCode = 0x0200;
constexpr uint32_t kMaxLineLength = 0xFFFF;
// Lines of a frame that integration cannot use.
constexpr uint32_t kFrameOverhead = 4;

uint16_t s_revision = S5K3E2FX_TUNED_REVISION;

// Writes in order until the first failure; later writes are skipped.
class Sequence {
 public:
  explicit Sequence(const uint8_t* row) : m_row(row) {}
  void Write(uint16_t reg, uint8_t value) {
    if (m_ok) m_ok = S5K3E2FX_I2CWrite(reg, value);
  }
  void Row(std::initializer_list<uint32_t> offsets) {
    for (uint32_t o : offsets) Write(g_S5K3E2FXRowRegister[o], m_row[o]);
  }
  void RowRange(uint32_t first, uint32_t last) {
    for (uint32_t o = first; o <= last; ++o) Write(g_S5K3E2FXRowRegister[o], m_row[o]);
  }
  void Word(uint16_t reg, uint32_t value) {
    Write(reg, uint8_t(value >> 8));
    Write(uint16_t(reg + 1), uint8_t(value));
  }
  void ReadRevision() {
    if (m_ok) m_ok = S5K3E2FX_I2CRead(S5K3E2FX_REG_REVISION, &s_revision);
  }
  void Wait(uint32_t microseconds) {
    if (m_ok) Plindor_WaitMicroSeconds(microseconds);
  }
  const uint8_t* row() const { return m_row; }
  bool ok() const { return m_ok; }

 private:
  const uint8_t* m_row;
  bool m_ok = true;
};

bool Tuned() { return s_revision == S5K3E2FX_TUNED_REVISION; }

// 0x3001-0x3012; the initialisation writes 0x3008 a second time from the row.
void RevisionGroup(Sequence& s, bool rewrite3008) {
  const uint8_t* row = s.row();
  s.Write(0x3001, Tuned() ? row[28] : kOther3001);
  s.Row({29});
  s.Write(0x3003, Tuned() ? row[30] : kOther3003);
  s.RowRange(31, 34);
  s.Write(0x3008, Tuned() ? row[35] : kOther3008);
  if (rewrite3008) s.Row({35});
  s.RowRange(36, 45);
}

void FixedGroup(Sequence& s, bool with3019) {
  s.Write(0x301D, 0x3F);
  s.Row({24});
  s.Write(0x3028, 0x40);
  s.Write(0x3070, 0xDF);
  s.Write(0x301B, 0x73);
  s.Row({26});
  s.Write(0x30BD, 0x06);
  s.Write(0x30C2, 0x0B);
  s.Write(0x3151, 0xE6);
  s.Write(0x3029, 0x02);
  s.Write(0x30BF, 0x00);
  s.Write(0x3022, 0x87);
  if (with3019) s.Write(0x3019, 0x60);
}

void ToggleAnalogueReset(Sequence& s) {
  s.Write(0x3112, 0x0A);
  s.Write(0x3112, 0x09);
  s.Wait(kSettleMicroseconds);
}

}  // namespace

constinit const std::array<uint8_t, S5K3E2FX_BLOCK_SIZE> g_S5K3E2FXBlock = MakeBlock();

uint16_t S5K3E2FX_Revision() { return s_revision; }

uint32_t S5K3E2FX_FrameInterval(uint32_t lineLength, uint32_t frameLength, uint32_t pixelClock) {
  float clocks = float(lineLength * frameLength);
  return uint32_t(clocks / (float(pixelClock) / 1000000.0f));
}

void S5K3E2FX_SetPreviewTiming(S5K3E2FXDriver* driver) {
  driver->lineLength = g_S5K3E2FXModes[S5K3E2FX_MODE_PREVIEW].lineLength;
  driver->frameLength = g_S5K3E2FXModes[S5K3E2FX_MODE_PREVIEW].frameLength;
}

PvlResult S5K3E2FX_InitRegisters(S5K3E2FXDriver* driver) {
  if (!driver) return PVL_E_NULLPTR;
  Sequence s(g_S5K3E2FXModeTable[S5K3E2FX_MODE_PREVIEW]);
  s.ReadRevision();
  s.Write(S5K3E2FX_REG_SOFTWARE_RESET, 0x01);
  s.Write(S5K3E2FX_REG_MODE_SELECT, 0x00);
  s.Row({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 17, 18, 19, 20, 21, 13, 14, 15, 16, 25, 23, 27});
  RevisionGroup(s, true);
  FixedGroup(s, true);
  if (!Tuned()) {
    s.Write(0x3060, 0x03);
    s.Write(0x3061, 0x6C);
    s.Write(0x3062, 0x00);
    s.Write(0x3063, 0xD6);
    s.Write(0x3023, 0x0C);
  }
  ToggleAnalogueReset(s);
  s.Write(0x30AC, 0x81);
  s.Write(0x3145, 0x04);
  s.Write(0x3146, 0x80);
  s.Row({46});
  s.Write(0x3159, 0x0F);
  s.Row({47});
  s.Write(0x3150, 0x50);
  s.Write(0x3157, 0x02);
  for (uint32_t i = 0; i < S5K3E2FX_BLOCK_SIZE; ++i) s.Write(uint16_t(S5K3E2FX_BLOCK_FIRST + i), g_S5K3E2FXBlock[i]);
  s.Write(0x309D, 0x62);
  s.Write(0x309D, 0x22);
  s.Write(S5K3E2FX_REG_MODE_SELECT, 0x01);
  // The preview row is programmed now (the software reset dropped any other).
  S5K3E2FX_SetPreviewTiming(driver);
  return s.ok() ? PVL_OK : PVL_E_FAIL;
}

PvlResult S5K3E2FX_5M_SetSensorMode(S5K3E2FXDriver* driver, uint32_t mode, const SensorModeRecord* request) {
  NKDbgPrintfW(u"S5K3E2FX_5M_SetSensorMode, resolution=%d\n", int(mode));
  if (!driver || !request) return PVL_E_NULLPTR;
  if (mode != S5K3E2FX_MODE_PREVIEW && mode != S5K3E2FX_MODE_FULL) return PVL_E_BADARG;
  const S5K3E2FXModeConstants& m = g_S5K3E2FXModes[mode];

  Sequence s(g_S5K3E2FXModeTable[mode]);
  s.ReadRevision();
  s.Write(S5K3E2FX_REG_MODE_SELECT, 0x00);
  s.Row({7, 8, 9, 10, 11, 12, 17, 18, 19, 20, 21});
  s.Word(S5K3E2FX_REG_FRAME_LENGTH, m.frameLength);
  s.Row({15, 16, 25, 23, 27});
  RevisionGroup(s, false);
  FixedGroup(s, false);
  if (!Tuned()) {
    s.Write(0x3062, mode == S5K3E2FX_MODE_PREVIEW ? 0x00 : 0x01);
    s.Write(0x3063, mode == S5K3E2FX_MODE_PREVIEW ? 0xD6 : 0x16);
  }
  ToggleAnalogueReset(s);
  s.Write(0x30AC, 0x81);
  s.Write(0x3145, 0x04);
  s.Write(0x3146, 0x80);
  s.Write(0x3130, 0x03);
  s.Row({46});
  s.Write(0x3159, 0x0F);
  s.Row({47});
  s.RowRange(52, 65);
  s.Write(S5K3E2FX_REG_MODE_SELECT, 0x01);
  // The records of the previous mode stay when the sensor was not reprogrammed.
  if (!s.ok()) return PVL_E_FAIL;
  Plindor_WaitMicroSeconds(kSettleMicroseconds);

  uint32_t* g = driver->geometry.Words;
  g[0] = m.lineLength;
  g[1] = m.height;
  g[2] = m.width;
  g[3] = 0;
  g[4] = 0;
  g[5] = m.height;
  g[6] = m.width;
  g[7] = m.width;
  g[8] = m.height;
  g[11] = m.decimation;
  g[12] = m.decimation;
  g[13] = uint32_t(request->decimation.nYDecimation);
  driver->lastMode.resolution.width = int32_t(m.width);
  driver->lastMode.resolution.height = int32_t(m.height);
  driver->lastMode.decimation.decimationMode = int32_t(m.decimation);
  driver->lastMode.decimation.nXDecimation = int32_t(m.decimation);
  driver->lastMode.decimation.nYDecimation = request->decimation.nYDecimation;
  driver->gainInfo.Words[4] = m.frameLength;
  driver->pixelClock[0] = m.pixelClock;
  driver->pixelClock[1] = m.pixelClock;
  driver->lineLength = m.lineLength;
  driver->frameLength = m.frameLength;

  PvlResult r = S5K3E2FX_5M_Exposure_Gain(driver, &request->exposureConfig, sizeof request->exposureConfig, nullptr,
                                          0, nullptr);
  // A mode change whose exposure did not take is reported as failed; its
  // caller asks again, and the timing record is written when one succeeds.
  if (r != PVL_OK) return r;

  uint32_t interval = S5K3E2FX_FrameInterval(driver->lineLength, driver->frameLength, driver->pixelClock[0]);
  driver->timing.Words[0] = interval;
  driver->timing.Words[1] = interval;
  driver->timing.Words[2] = driver->pixelClock[0];
  driver->timing.Words[3] = driver->pixelClock[1];
  return PVL_OK;
}

uint32_t S5K3E2FX_GainToCode(int32_t realGain) {
  float g = float(realGain) / 256.0f;
  if (g < 1.0f) g = 1.0f;
  if (g > 16.0f) g = 16.0f;
  return uint32_t(g * 32.0f);
}

uint32_t S5K3E2FX_CodeToGain(uint32_t code) {
  if (code > kMaxGainCode) code = kMaxGainCode;
  return uint32_t(float(code) / 32.0f * 256.0f);
}

PvlResult S5K3E2FX_SetLineLength(uint32_t code, uint32_t lineCount, S5K3E2FXDriver* driver) {
  if (!driver) return PVL_E_NULLPTR;
  if (code > kMaxGainCode) code = kMaxGainCode;
  uint32_t frame = driver->frameLength;
  uint32_t usable = frame > kFrameOverhead ? frame - kFrameOverhead : 1;
  float stretch = 1.0f;
  if (lineCount > frame) stretch = float(lineCount) / float(usable);
  float lineLength = float(driver->lineLength) * stretch;
  uint32_t integration;
  if (lineLength > float(kMaxLineLength)) {
    // The register holds 16 bits: the longest line it can give, and the whole
    // usable frame of those lines, is the longest exposure this mode has.
    lineLength = float(kMaxLineLength);
    integration = usable;
  } else {
    integration = uint32_t(float(lineCount) / stretch);
  }

  Sequence s(nullptr);
  s.Word(S5K3E2FX_REG_GAIN, code);
  s.Word(S5K3E2FX_REG_LINE_LENGTH, uint32_t(lineLength));
  s.Word(S5K3E2FX_REG_INTEGRATION, integration);
  return s.ok() ? PVL_OK : PVL_E_FAIL;
}

PvlResult S5K3E2FX_5M_Exposure_Gain(S5K3E2FXDriver* driver, const void* input, uint32_t inputSize, void* output,
                                    uint32_t outputSize, uint32_t* outputLength) {
  if (!driver) return PVL_E_NULLPTR;
  if (input) {
    if (inputSize != sizeof(SensorExposureRecord)) return PVL_E_BADARG;
    const SensorExposureRecord* request = static_cast<const SensorExposureRecord*>(input);
    if (request->nIntegrationLineCount < 0) return PVL_E_BADARG;
    uint32_t code = S5K3E2FX_GainToCode(request->nGain);
    NKDbgPrintfW(u"S5K3E2FX_5M_Exposure_Gain, real gain=%d, linecount=%d\n", int(request->nGain),
                 int(request->nIntegrationLineCount));
    PvlResult r = S5K3E2FX_SetLineLength(code, uint32_t(request->nIntegrationLineCount), driver);
    if (r != PVL_OK) return r;
    driver->currentLineCount = uint32_t(request->nIntegrationLineCount);
    driver->currentGain = S5K3E2FX_CodeToGain(code);
    driver->gainInfo.Words[1] = driver->currentGain;
  }
  if (outputLength) *outputLength = sizeof(SensorExposureRecord);
  if (!output) return input ? PVL_OK : PVL_E_BADARG;
  if (outputSize != sizeof(SensorExposureRecord)) return PVL_E_BADARG;
  SensorExposureRecord* reply = static_cast<SensorExposureRecord*>(output);
  reply->nGain = int32_t(driver->currentGain & 0xFFFF);
  reply->nIntegrationLineCount = int32_t(driver->currentLineCount);
  return PVL_OK;
}
