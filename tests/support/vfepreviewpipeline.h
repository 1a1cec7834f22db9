// The VFE programmed for the board's preview, as the video configure chain
// programmes it: the camera interface on the whole read-out, black level,
// demosaic and the crop inside its margins (all the statistics need), then the
// main scaler to half, the OUTPUT1 scalers to 320 x 240 and the output paths.
// The driver, service and plug-in tests send it through their own command
// path: `send(id, record, size)` answers as the VFE driver's Command does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "board_sensor.h"
#include "vfedriver.h"

namespace vfepipeline {

// The preview read-out, its demosaic area, the main scaler's output and OUTPUT1.
constexpr uint16_t kWindowW = 1296, kWindowH = 972;
constexpr uint16_t kAreaW = kWindowW - 12, kAreaH = kWindowH - 6;
constexpr uint16_t kMainW = 642, kMainH = 483;
constexpr uint16_t kOut1W = 320, kOut1H = 240;

inline VfeScaleRecord Scale(uint16_t in, uint16_t out) {
  VfeScaleRecord r{};
  r.enable = in != out;
  r.inputSize = in;
  r.outputSize = out;
  r.phaseStep = (uint32_t(in) << 12) / out;
  return r;
}
inline VfeOutputPathRecord Plane(uint16_t w, uint16_t h, uint16_t cw, uint16_t ch) {
  return VfeOutputPathRecord{1, 0, w, h, h, w, cw, ch, ch, cw};
}

template <class Send, class Record>
void SendRecord(Send& send, uint32_t id, Record& record) {
  ASSERT_EQ(PVL_OK, send(id, &record, uint32_t(sizeof record))) << "command " << id;
}

// Camera interface, black level, demosaic and crop.
template <class Send>
void SendFront(Send send) {
  VfeCamifCmd camif{};
  camif.lastPixel = kWindowW - 1;
  camif.lastLine = kWindowH - 1;
  camif.pixelSkipPattern = 0xFFFF;
  camif.lineSkipPattern = 0xFFFF;
  SendRecord(send, VFE_CMD_CAMIF, camif);
  VfeBlackLevelCmd black{1, 0, {kSensorBlackLevel, kSensorBlackLevel, kSensorBlackLevel, kSensorBlackLevel}};
  SendRecord(send, VFE_CMD_BLACK_LEVEL, black);
  VfeDemosaicCmd demosaic{};
  demosaic.enable = 1;
  SendRecord(send, VFE_CMD_DEMOSAIC, demosaic);
  VfeFovCropCmd crop{1, 0, 0, kAreaW - 1, 0, kAreaH - 1};
  SendRecord(send, VFE_CMD_FOV_CROP, crop);
}

// The whole preview pipeline and the output mode (3: OUTPUT2 carries the raw
// Bayer bytes through the chroma master).
template <class Send>
void SendPreview(Send send, uint32_t outputMode) {
  SendFront(send);
  VfeMainScalerCmd main{};
  main.enable = 1;
  main.horizontal = Scale(kAreaW, kMainW);
  main.vertical = Scale(kAreaH, kMainH);
  SendRecord(send, VFE_CMD_MAIN_SCALER, main);
  VfeOutputScalerCmd y{};
  y.enable = 1;
  y.horizontal = Scale(kMainW, kOut1W);
  y.vertical = Scale(kMainH, kOut1H);
  SendRecord(send, VFE_CMD_OUTPUT_Y_SCALER, y);
  VfeOutputScalerCmd c{};
  c.enable = 1;
  c.horizontal = Scale(kMainW, kOut1W / 2);
  c.vertical = Scale(kMainH, kOut1H / 2);
  SendRecord(send, VFE_CMD_OUTPUT_CBCR_SCALER, c);
  VfeOutputCmd out{};
  out.fixedWord = 4;
  out.outputMode = outputMode;
  out.output1 = Plane(kOut1W, kOut1H, kOut1W, kOut1H / 2);
  if (outputMode == 3)
    out.output2 = Plane(0, 0, kWindowW, kWindowH);
  else
    out.output2 = Plane(kMainW, kMainH, kMainW, kMainH / 2);
  SendRecord(send, VFE_CMD_OUTPUT, out);
}

}  // namespace vfepipeline
