// camopen: the time of opening the camera as an application sees it, CreateFile of
// "CAM1:" through the device manager into CAM_Open: the host started by name, its
// module directory scanned, the engine created, initialised and its defaults
// pushed, the pin table built from the ports and the notification threads started.
// The engine is the stand-in with four ports until the real one is built; the
// target is 50 ms per open on the simulated board.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "board_sim.h"
#include "camclient.h"
#include "devmgr.h"
#include "fakecameraengine.h"
#include "wince_sim.h"

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
  CeSimDebugSetQuiet(TRUE);
  BoardSimReset();
  camera::test::FakeCameraEngine::Install();
  if (DevMgrActivateBuiltIn() == 0 || !DevMgrFindDevice(u"CAM1:")) {
    std::fprintf(stderr, "camopen: the driver did not load from the image (%s)\n", CeSimImageRoot());
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  std::vector<double> opens, closes;
  for (int i = 0; i < rounds; ++i) {
    camclient::Camera camera;
    auto t0 = Clock::now();
    DWORD r = camera.Open();
    auto t1 = Clock::now();
    if (r != ERROR_SUCCESS) {
      std::fprintf(stderr, "camopen: open failed with %lu\n", static_cast<unsigned long>(r));
      return 1;
    }
    camera.Close();
    auto t2 = Clock::now();
    opens.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    closes.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
  }
  DevMgrDeactivateAll();
  double first = opens.front();
  std::sort(opens.begin(), opens.end());
  std::sort(closes.begin(), closes.end());
  double median = opens[opens.size() / 2];
  std::printf("CAM_Open (fake engine, %d rounds): first %.2f ms, median %.2f ms, max %.2f ms; close median %.2f ms\n",
              rounds, first, median, opens.back(), closes[closes.size() / 2]);
  std::printf("target 50 ms: %s\n", median <= 50.0 ? "met" : "MISSED");
  return 0;
}
