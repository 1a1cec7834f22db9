#include "settingsdoubles.h"

#include <cstring>

namespace tuningtest {

SensorServiceDouble::SensorServiceDouble() {
  // The supported sensor's records.
  uint32_t caps[7] = {2, 2, 2, 2, 4, 2, 2};
  std::memcpy(capabilities.Words, caps, sizeof caps);
  format = SensorOutputFormat{{3, 2, 12}};
  timing = SensorTiming{{33333, 33333, 80000000, 80000000}};
  geometry = SensorGeometry{{2732, 972, 1296, 0, 0, 972, 1296, 1296, 972, 2608, 1960, 2, 2, 2}};
  modeInfo = SensorModeInfo{{1, 1, 2, 2}};
  optics = SensorOptics{1, 0, 3.2f, 3.2f, 3.2f, {0, 0, 0}};
  gainInfo = SensorGainInfo{{0, 256, 0, 0, 77}};
  frameTiming = SensorFrameTimingAnswer{{1, 994, 2732, 1296, 972, 80000000, 33945, 33945}};
  command.owner = this;
}

PvlResult SensorServiceDouble::GetConfigurer(uint32_t configuration, IConfigCommand** out) {
  command.id = configuration;
  command.AddRef();
  *out = &command;
  return PVL_OK;
}

PvlResult SensorServiceDouble::GetIdentity(SensorIdentity* record) {
  ++reads;
  record->Kind = 1;
  static const char kMaker[] = "Samsung";
  static const char kModel[] = "S5K3E2FX 5MP BAYER)";
  struct { SensorIdentityText* slot; const char* text; uint32_t length; } texts[] = {
      {&record->Maker, kMaker, sizeof kMaker}, {&record->Model, kModel, sizeof kModel}};
  for (auto& t : texts) {
    t.slot->Length = t.length;
    if (t.slot->Buffer && t.slot->Capacity >= t.length)
      std::memcpy(reinterpret_cast<char*>(static_cast<uintptr_t>(t.slot->Buffer)), t.text, t.length);
  }
  return readResult;
}

CameraPortFormat Format(uint32_t width, uint32_t height, uint32_t interval, uint8_t autoFrameRate,
                        uint32_t colorSpace) {
  CameraPortFormat f{};
  f.idColorSpace = colorSpace;
  f.Width = width;
  f.Height = height;
  f.FrameInterval = interval;
  f.AutoFrameRate = autoFrameRate;
  return f;
}

}  // namespace tuningtest
