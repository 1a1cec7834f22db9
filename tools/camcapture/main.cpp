// camcapture's entry: the device manager loads the drivers of the image (as the
// phone does at boot), the tool runs, the drivers are unloaded.
#include <cstdio>

#include "camcapture.h"
#include "devmgr.h"

int main(int argc, char** argv) {
  DevMgrActivateBuiltIn();
  int result = RunCamCapture(argc, argv, stdout, stderr);
  DevMgrDeactivateAll();
  return result;
}
