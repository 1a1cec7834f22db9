// camdemo: the main job of the stack on the simulated phone, as far as the stack goes.
//
// It does what the driver does when the device manager loads it and a client opens the
// camera: probes the sensor over the I2C bus (three tries, chip identifier 0x3E2F), loads
// the framework host by name, starts it with "\device.cs", creates the tuning-data service
// (which maps the Corvane module from its .mif) and the host's JPEG encoder service, then
// writes a colour-bar NV21 frame for the still encoder (live frames need the VFE, which
// the stack does not have yet).
//
//   camdemo [--frame out.nv21] [--size WxH]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ienv.h"
#include "plindor.h"
#include "tuningdata.h"
#include "wince.h"
#include "wince_sim.h"

namespace {

constexpr uint8_t kSensorSlave = 0x20;
constexpr uint16_t kSensorChipId = 0x3E2F;

int Fail(const char* what) {
  std::fprintf(stderr, "camdemo: %s\n", what);
  return 1;
}

// Reads the sensor's chip identifier (registers 0 and 1, high byte first).
bool ProbeSensor(uint16_t* chipId) {
  for (int attempt = 1; attempt <= 3; ++attempt) {
    uint8_t id[2] = {};
    CameraSensorI2C_Command read{};
    read.slaveAddress = kSensorSlave;
    read.flags = 0x22;
    read.data = id;
    read.registerAddress = 0;
    read.length = 2;
    if (CameraSensorI2C_Read(&read)) {
      *chipId = static_cast<uint16_t>(id[0] << 8 | id[1]);
      if (*chipId == kSensorChipId) return true;
    }
    std::printf("  probe %d: no sensor answer\n", attempt);
  }
  return false;
}

// Colour bars in NV21 (full Y plane, then interleaved V/U at half resolution).
std::vector<uint8_t> TestPattern(uint32_t w, uint32_t h) {
  static const uint8_t kBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                      {106, 202, 222}, {81, 90, 240}, {41, 240, 110}, {16, 128, 128}};
  std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 3 / 2);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) frame[static_cast<size_t>(y) * w + x] = kBars[x * 8 / w][0];
  uint8_t* vu = frame.data() + static_cast<size_t>(w) * h;
  for (uint32_t y = 0; y < h / 2; ++y)
    for (uint32_t x = 0; x < w / 2; ++x) {
      const uint8_t* bar = kBars[x * 2 * 8 / w];
      vu[static_cast<size_t>(y) * w + 2 * x] = bar[2];      // V
      vu[static_cast<size_t>(y) * w + 2 * x + 1] = bar[1];  // U
    }
  return frame;
}

}  // namespace

int main(int argc, char** argv) {
  std::string framePath;
  uint32_t width = 1296, height = 972;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--frame") && i + 1 < argc) {
      framePath = argv[++i];
    } else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%ux%u", &width, &height) != 2 || !width || !height || (width | height) & 1)
        return Fail("--size needs even WxH");
    } else {
      std::fprintf(stderr, "usage: camdemo [--frame out.nv21] [--size WxH]\n");
      return 2;
    }
  }

  std::printf("Device image: %s\n", CeSimImageRoot());

  std::printf("Sensor probe over \"CI2C1:\"\n");
  if (!CameraSensorI2C_Init()) return Fail("the I2C bus does not open");
  // The sensor answers only clocked and out of reset, as the sensor driver powers it up.
  CameraSensorCLK_ConfigMclk(24000000, 0);
  Plindor_WaitMicroSeconds(10000);
  CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 1);
  Plindor_WaitMicroSeconds(10000);
  uint16_t chipId = 0;
  const bool found = ProbeSensor(&chipId);
  CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 0);
  CameraSensorI2C_DeInit();
  if (!found) return Fail("no S5K3E2FX sensor on the bus");
  std::printf("  S5K3E2FX found, chip identifier 0x%04X\n", chipId);

  std::printf("Framework host\n");
  HMODULE host = LoadLibraryW(u"Orbhost.dll");
  if (!host) return Fail("Orbhost.dll does not load");
  auto start = reinterpret_cast<PvlOrbhostStartFn>(
      reinterpret_cast<void (*)()>(GetProcAddressW(host, u"" PVL_EXPORT_ORBHOST_START)));
  auto stop = reinterpret_cast<PvlOrbhostStopFn>(
      reinterpret_cast<void (*)()>(GetProcAddressW(host, u"" PVL_EXPORT_ORBHOST_STOP)));
  if (!start || !stop) return Fail("Orbhost.dll lacks its exports");
  IEnv* env = nullptr;
  int32_t r = start("\\device.cs", 0, &env);
  if (r != 0 || !env) return Fail("Orbhost_Start failed");
  std::printf("  started with \\device.cs\n");

  int rc = 0;
  struct Step {
    const char* what;
    ZUEUID clsid;
  } const steps[] = {
      {"tuning-data service (module Corvane)", ZUEUID_CLASS_TUNING_DATA},
      {"JPEG encoder service", ZUEUID_CLASS_JPEGSERVICE},
  };
  for (const Step& s : steps) {
    IPvlBase* object = nullptr;
    r = env->CreateInstance(s.clsid, reinterpret_cast<void**>(&object));
    if (r != 0 || !object) {
      std::printf("  %s: failed (%d)\n", s.what, r);
      rc = 1;
      continue;
    }
    std::printf("  %s: created (class 0x%08X)\n", s.what, s.clsid);
    object->Release();
  }
  env->Release();
  stop();

  if (!framePath.empty() && rc == 0) {
    std::vector<uint8_t> frame = TestPattern(width, height);
    FILE* f = std::fopen(framePath.c_str(), "wb");
    if (!f || std::fwrite(frame.data(), 1, frame.size(), f) != frame.size() || std::fclose(f) != 0)
      return Fail("cannot write the frame");
    std::printf("Frame %ux%u NV21 (colour bars) written to %s\n", width, height, framePath.c_str());
  }
  return rc;
}
