// tunserve: runs the tuning server outside a capture application. Starts the
// framework host on a device image (writing the server's flag file into it, and
// removing it again at the end when it was not there before), brings the camera
// engine up (its Initialize starts the server, and the tool's "apply" then
// reaches the engine), and serves until it gets SIGINT or SIGTERM. Without a
// camera it serves the tuning-data service's "TuningData" alone (changes then
// stay pending); where no tuning-data service is built, a small sample table.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cfixedpoint.h"
#include "icameraengine.h"
#include "ienv.h"
#include "cruntimetuning.h"
#include "tunvex.h"
#include "tunvexclient.h"
#include "orbhost.h"
#include "plindor.h"
#include "tuningdata.h"
#include "tuningdataprovider.h"
#include "wince.h"
#include "wince_sim.h"
#include "wince_winsock.h"


namespace {

constexpr ZUEUID kTuningDataClass = 0x01063090u;
constexpr uint32_t kSensorClass = 0x0108aed0u;  // the board's S5K3E2FX

const char kUsage[] =
    "usage: tunserve [--port PORT] [--image DIR] [--sample]\n"
    "Serves the camera's tunable values to tuning tools (tunclient) on TCP, by\n"
    "default port 55555 (or TUNVEX_PORT; 0 takes any free port), until interrupted,\n"
    "and prints the port it listens on. DIR is the device\n"
    "image (default: CAMERA_IMAGE_ROOT, else the build's image); the server's flag\n"
    "file is written into it. --sample serves a small sample table instead of the\n"
    "tuning-data service.\n";

// Values of every kind, for a host without the tuning-data service.
struct SampleTable final : IPvlBase {
  int32_t refs = 1;
  CRuntimeTuning* registry = nullptr;
  int8_t offset = -3;
  uint8_t enable = 1;
  int16_t bias = -120;
  uint16_t steps[4] = {10, 20, 30, 40};
  int32_t lux = 250;
  uint32_t lines = 1000;
  int64_t stamp = 0;
  float gain = 1.5f;
  double exposure = 0.033;
  CFixedPoint coefficient{12u, 0.75};
  int32_t q10 = 1024;
  float luma = 0.45f;
  uint16_t version = 0x0202;

  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_RUNTIME_TUNING && registry) return registry->QueryInterface(iid, out);
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  ~SampleTable() {
    if (registry) registry->Release();
  }
  PvlResult Build(IEnv* env) {
    PvlResult r = CRuntimeTuning::New(env, &registry);
    if (r != PVL_OK) return r;
    registry->SetOuter(this);
    registry->Register("Sample-Offset", &offset, TUNING_TYPE_S8, 1, 0);
    registry->Register("Sample-Enable", &enable, TUNING_TYPE_U8, 1, 0);
    registry->Register("Sample-Bias", &bias, TUNING_TYPE_S16, 1, 0);
    registry->Register("Sample-Steps", steps, TUNING_TYPE_U16, 4, 0);
    registry->Register("Sample-Lux", &lux, TUNING_TYPE_S32, 1, 0);
    registry->Register("Sample-Lines", &lines, TUNING_TYPE_U32, 1, 0);
    registry->Register("Sample-Stamp", &stamp, TUNING_TYPE_S64, 1, 0x20);
    registry->Register("Sample-Gain", &gain, TUNING_TYPE_FLOAT, 1, 0);
    registry->Register("Sample-Exposure", &exposure, TUNING_TYPE_DOUBLE, 1, 0);
    registry->Register("Sample-Coefficient", &coefficient, TUNING_TYPE_FIXED, 1, 0);
    registry->Register("Sample-Q10", &q10, TUNING_TYPE_Q10, 1, 0);
    registry->Register("Sample-Luma", &luma, TUNING_TYPE_FLOAT, 1, 0x80);
    registry->Register("Sample-Version", &version, TUNING_TYPE_U16, 1, 0x01);
    return PVL_OK;
  }
};

const WCHAR kFlagFile[] = u"fs:/~0x0106fa8a/_TunvexEnabled.flg";

// The flag file for as long as we serve: the image is left as it was found.
struct FlagFile {
  bool created = false;
  bool Write() {
    created = GetFileAttributesW(kFlagFile) == INVALID_FILE_ATTRIBUTES;
    CreateDirectoryW(u"fs:/~0x0106fa8a", nullptr);  // may exist already
    HANDLE h = CreateFileW(kFlagFile, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }
  ~FlagFile() {
    if (created) DeleteFileW(kFlagFile);
  }
};

struct Released {
  IPvlBase* object = nullptr;
  ~Released() {
    if (object) object->Release();
  }
};

// The camera engine, initialised for the board's sensor while the tool serves.
struct Camera {
  ICameraEngine* engine = nullptr;
  ~Camera() {
    if (!engine) return;
    engine->Uninitialize();
    engine->Release();
  }
  // 0, or why there is no camera.
  PvlResult Start(IEnv* env) {
    // The platform's contiguous buffers, as the camera driver lays them out. The
    // platform library is loaded by name, after the command line was read (its
    // attach logs), and stays for the process's life.
    HMODULE platform = LoadLibraryW(u"Plindor.dll");
    auto initBuffers = platform ? reinterpret_cast<decltype(&VantorInitBufferManager)>(reinterpret_cast<void (*)()>(
                                      GetProcAddressW(platform, u"VantorInitBufferManager")))
                                : nullptr;
    if (!initBuffers) return PVL_E_NOTFOUND;
    if (!initBuffers()) return PVL_E_OUTOFMEMORY;
    void* out = nullptr;
    PvlResult r = env->CreateInstance(ZUEUID_CLASS_CAMERAENGINE, &out);
    if (r != PVL_OK) return r;
    engine = static_cast<ICameraEngine*>(out);
    r = engine->Initialize(kSensorClass);
    if (r != PVL_OK) {
      engine->Release();
      engine = nullptr;
    }
    return r;
  }
};

// The server, and the sample group it serves when it serves one.
struct Serving {
  ITunvex* server = nullptr;
  IRuntimeTuning* sample = nullptr;
  ~Serving() {
    if (!server) return;
    if (sample) server->Unregister(sample);
    server->Release();
  }
};

// The port the server of this process listens on, once it does (`asked`, or any
// port when that is 0); 0 when its bind failed, with the reason in `why`.
uint16_t OwnListeningPort(unsigned long asked, std::string* why) {
  for (int wait = 0; wait < 600; ++wait) {  // a minute, on a loaded machine
    CeWsServerSocket entries[8];
    int n = CeWs_ServerSockets(entries, 8);
    for (int i = 0; i < n && i < 8; ++i) {
      if (asked != 0 && entries[i].port != asked) continue;
      if (entries[i].listening) return entries[i].port;
      *why = entries[i].bindError == WSAEADDRINUSE ? "the port is in use"
                                                    : "error " + std::to_string(entries[i].bindError);
      return 0;
    }
    Sleep(100);
  }
  *why = "the server did not start listening";
  return 0;
}

// A port number from 0 (any free port) to 65535.
bool ParsePort(const char* text, unsigned long* port) {
  char* end = nullptr;
  if (!*text || *text == '-' || *text == '+') return false;
  *port = std::strtoul(text, &end, 10);
  return !*end && *port <= 65535;
}

}  // namespace

int main(int argc, char** argv) {
  const char* image = nullptr;
  bool sample = false;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    unsigned long ignored = 0;
    if (opt == "--help" || opt == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (opt == "--sample") {
      sample = true;
    } else if ((opt == "--image" || opt == "--port") && i + 1 >= argc) {
      std::fprintf(stderr, "tunserve: %s needs a value\n%s", opt.c_str(), kUsage);
      return 2;
    } else if (opt == "--image") {
      image = argv[++i];
    } else if (opt == "--port") {
      const char* val = argv[++i];
      if (!ParsePort(val, &ignored)) {
        std::fprintf(stderr, "tunserve: not a port: %s\n", val);
        return 2;
      }
      setenv("TUNVEX_PORT", val, 1);  // where the server reads it
    } else {
      std::fprintf(stderr, "tunserve: unknown option %s\n%s", opt.c_str(), kUsage);
      return 2;
    }
  }
  unsigned long port = 55555;
  if (const char* env = std::getenv("TUNVEX_PORT")) {
    if (!ParsePort(env, &port)) {
      std::fprintf(stderr, "tunserve: TUNVEX_PORT must name a port from 0 to 65535\n");
      return 2;
    }
  }

  // Stop signals are taken by sigwait below: every thread started from here
  // on inherits the mask.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  if (image && !CeSimSetImageRoot(image)) {
    std::fprintf(stderr, "tunserve: cannot use the device image %s\n", image);
    return 1;
  }
  FlagFile flag;
  if (!flag.Write()) {
    std::fprintf(stderr, "tunserve: cannot write the flag file into the image %s\n", CeSimImageRoot());
    return 1;
  }
  OrbhostSession host;
  PvlResult r = host.Start();
  if (r != PVL_OK) {
    std::fprintf(stderr, "tunserve: the host does not start on %s (error %d)\n", CeSimImageRoot(), int(r));
    return 1;
  }
  IEnv* env = host.env();

  // The camera engine starts the server with the camera's tuning data selected.
  Camera camera;
  if (!sample) {
    r = camera.Start(env);
    if (r != PVL_OK)
      std::fprintf(stderr, "tunserve: no camera (error %d); changes to the values stay pending\n", int(r));
  }

  // The tuning-data service creates the server and registers "TuningData".
  Released tuningData;
  if (!sample) {
    void* out = nullptr;
    r = env->CreateInstance(kTuningDataClass, &out);
    if (r == PVL_OK) {
      tuningData.object = static_cast<IPvlBase*>(out);
      // The camera's own tuning table, the one the engine's default configuration names.
      void* face = nullptr;
      if (tuningData.object->QueryInterface(ZUEUID_IFACE_TUNING_DATA, &face) == PVL_OK) {
        ITuningData* service = static_cast<ITuningData*>(face);
        PvlResult selected = service->SelectTuningData(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA);
        if (selected != PVL_OK)
          std::fprintf(stderr, "tunserve: no sensor tuning data (error %d); \"TuningData\" values read 0\n",
                       int(selected));
        service->Release();
      }
    } else {
      std::fprintf(stderr, "tunserve: no tuning-data service (error %d); serving a sample table\n", int(r));
      sample = true;
    }
  }
  SampleTable table;
  Serving serving;
  void* out = nullptr;
  r = env->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, &out);
  if (r != PVL_OK) {
    std::fprintf(stderr, "tunserve: no tuning server (error %d)\n", int(r));
    return 1;
  }
  serving.server = static_cast<ITunvex*>(out);
  if (sample) {
    r = table.Build(env);
    if (r == PVL_OK) r = serving.server->Register(table.registry->Face(), "Sample");
    if (r == PVL_OK) serving.sample = table.registry->Face();
    else std::fprintf(stderr, "tunserve: the sample table is not served (error %d)\n", int(r));
  }
  serving.server->Start();

  // "Listening" only once our own server has bound its port and answers there:
  // something else answering on that port is not us.
  std::string why;
  uint16_t bound = OwnListeningPort(port, &why);
  if (bound == 0) {
    std::fprintf(stderr, "tunserve: cannot listen on port %lu: %s\n", port, why.c_str());
    return 1;
  }
  TunvexClient probe;
  probe.SetTimeout(30000);
  std::string version;
  if (!probe.Connect("127.0.0.1", bound) || !probe.Version(&version)) {
    std::fprintf(stderr, "tunserve: the server does not answer on port %u (%s)\n", bound, probe.Error().c_str());
    return 1;
  }
  probe.Close();
  std::printf("tunserve: tuning server %s listening on port %u (image %s)%s\n", version.c_str(), bound,
              CeSimImageRoot(), camera.engine ? ", camera ready" : "");
  std::printf("tunserve: try: tunclient --port %u list\n", bound);
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stop, &sig);
  std::printf("tunserve: stopping\n");
  std::fflush(stdout);
  return 0;
}
