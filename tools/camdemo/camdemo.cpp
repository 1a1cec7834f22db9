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
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "ienv.h"
#include "plindor.h"
#include "tuningdata.h"
#include "wince.h"
#include "wince_sim.h"

namespace {

constexpr uint8_t kSensorSlave = 0x20;
constexpr uint16_t kSensorChipId = 0x3E2F;

const char kUsage[] =
    "usage: camdemo [--frame out.nv21] [--size WxH]\n"
    "  --frame FILE   write a colour-bar NV21 frame for the still encoder\n"
    "  --size WxH     the frame's size, even numbers (default 1296x972)\n"
    "  -h, --help     this text\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "camdemo: %s\n%s", why.c_str(), kUsage);
  return 2;
}

int Fail(const char* what) {
  std::fprintf(stderr, "camdemo: %s\n", what);
  return 1;
}

// An exported function of a library loaded by name, null when it lacks it.
template <typename Fn>
Fn Export(HMODULE library, const char16_t* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddressW(library, name)));
}

// The platform library's calls this tool makes. Loaded by name, as the driver's
// loader brings it in, once the command line has been read: its process attach
// logs, and a usage error comes first.
struct PlatformCalls {
  decltype(&CameraSensorI2C_Init) i2cInit = nullptr;
  decltype(&CameraSensorI2C_DeInit) i2cDeInit = nullptr;
  decltype(&CameraSensorI2C_Read) i2cRead = nullptr;
  decltype(&CameraSensorGPIO_Out) gpioOut = nullptr;
  decltype(&CameraSensorCLK_ConfigMclk) configMclk = nullptr;
  decltype(&Plindor_WaitMicroSeconds) wait = nullptr;

  // Null when every call was found, else what went wrong.
  const char* Load() {
    HMODULE library = LoadLibraryW(u"Plindor.dll");  // kept for the process's life
    if (!library) return "Plindor.dll does not load";
    bool all = true;
    auto find = [&](auto& call, const char16_t* name) {
      call = Export<std::remove_reference_t<decltype(call)>>(library, name);
      all = all && call;
    };
    find(i2cInit, u"CameraSensorI2C_Init");
    find(i2cDeInit, u"CameraSensorI2C_DeInit");
    find(i2cRead, u"CameraSensorI2C_Read");
    find(gpioOut, u"CameraSensorGPIO_Out");
    find(configMclk, u"CameraSensorCLK_ConfigMclk");
    find(wait, u"Plindor_WaitMicroSeconds");
    return all ? nullptr : "Plindor.dll lacks its exports";
  }
};
PlatformCalls gPlatform;

// The sensor bus open for the length of a scope.
class SensorBus {
 public:
  SensorBus() : open_(gPlatform.i2cInit() != 0) {}
  ~SensorBus() {
    if (open_) gPlatform.i2cDeInit();
  }
  SensorBus(const SensorBus&) = delete;
  SensorBus& operator=(const SensorBus&) = delete;
  bool Open() const { return open_; }

 private:
  bool open_;
};

// The sensor clocked and out of reset for the length of a scope, as the sensor driver
// powers it up: it answers on the bus only then. Back into reset on the way out.
class SensorAwake {
 public:
  SensorAwake() {
    gPlatform.configMclk(CAMERA_MCLK_FREQUENCY_HZ, CAMERA_MCLK_ARG);
    gPlatform.wait(10000);
    gPlatform.gpioOut(CAMERA_GPIO_KIND_RESET, 1);
    gPlatform.wait(10000);
  }
  ~SensorAwake() { gPlatform.gpioOut(CAMERA_GPIO_KIND_RESET, 0); }
  SensorAwake(const SensorAwake&) = delete;
  SensorAwake& operator=(const SensorAwake&) = delete;
};

// The host, loaded by name as the driver loads it, started for the length of a scope:
// the environment released and the host stopped however the scope is left.
class LoadedHost {
 public:
  LoadedHost() = default;
  ~LoadedHost() {
    if (!env_) return;
    env_->Release();
    stop_();
  }
  LoadedHost(const LoadedHost&) = delete;
  LoadedHost& operator=(const LoadedHost&) = delete;

  // Null when it started, else what went wrong.
  const char* Start(const char* script) {
    HMODULE host = LoadLibraryW(u"Orbhost.dll");  // never unloaded: modules keep its symbols
    if (!host) return "Orbhost.dll does not load";
    auto start = Export<PvlOrbhostStartFn>(host, u"" PVL_EXPORT_ORBHOST_START);
    stop_ = Export<PvlOrbhostStopFn>(host, u"" PVL_EXPORT_ORBHOST_STOP);
    if (!start || !stop_) return "Orbhost.dll lacks its exports";
    IEnv* env = nullptr;
    if (start(script, 0, &env) != 0 || !env) return "Orbhost_Start failed";
    env_ = env;
    return nullptr;
  }
  IEnv* Env() const { return env_; }

 private:
  PvlOrbhostStopFn stop_ = nullptr;
  IEnv* env_ = nullptr;
};

// One reference on an object made through the host.
struct ReleaseObject {
  void operator()(IPvlBase* object) const { object->Release(); }
};
using HeldObject = std::unique_ptr<IPvlBase, ReleaseObject>;

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
    if (gPlatform.i2cRead(&read)) {
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
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--frame") {
      if (!more) return Usage("--frame needs a file");
      framePath = argv[++i];
    } else if (a == "--size") {
      char extra;
      if (!more || std::sscanf(argv[++i], "%ux%u%c", &width, &height, &extra) != 2 || !width || !height ||
          (width | height) & 1)
        return Usage("--size needs even WxH");
    } else {
      return Usage("unknown option " + a);
    }
  }

  std::printf("Device image: %s\n", CeSimImageRoot());
  if (const char* why = gPlatform.Load()) return Fail(why);

  std::printf("Sensor probe over \"CI2C1:\"\n");
  uint16_t chipId = 0;
  {
    SensorBus bus;
    if (!bus.Open()) return Fail("the I2C bus does not open");
    SensorAwake awake;
    if (!ProbeSensor(&chipId)) return Fail("no S5K3E2FX sensor on the bus");
  }
  std::printf("  S5K3E2FX found, chip identifier 0x%04X\n", chipId);

  std::printf("Framework host\n");
  int rc = 0;
  {
    LoadedHost host;
    if (const char* why = host.Start("\\device.cs")) return Fail(why);
    std::printf("  started with \\device.cs\n");
    struct Step {
      const char* what;
      ZUEUID clsid;
    } const steps[] = {
        {"tuning-data service (module Corvane)", ZUEUID_CLASS_TUNING_DATA},
        {"JPEG encoder service", ZUEUID_CLASS_JPEGSERVICE},
    };
    for (const Step& s : steps) {
      IPvlBase* made = nullptr;
      const int32_t r = host.Env()->CreateInstance(s.clsid, reinterpret_cast<void**>(&made));
      HeldObject object(made);
      if (r != 0 || !object) {
        std::printf("  %s: failed (%d)\n", s.what, r);
        rc = 1;
        continue;
      }
      std::printf("  %s: created (class 0x%08X)\n", s.what, s.clsid);
    }
  }

  if (!framePath.empty() && rc == 0) {
    std::vector<uint8_t> frame = TestPattern(width, height);
    std::ofstream f(framePath, std::ios::binary);
    f.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    f.close();  // a failed flush shows here, not in a destructor
    if (!f) return Fail("cannot write the frame");
    std::printf("Frame %ux%u NV21 (colour bars) written to %s\n", width, height, framePath.c_str());
  }
  return rc;
}
