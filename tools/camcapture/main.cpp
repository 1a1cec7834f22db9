// camcapture's entry: the command line is read first, so that --help and a usage
// error stand alone; then the device manager loads the drivers of the image (as
// the phone does at boot), the tool runs, the drivers are unloaded.
#include <cstdio>

#include "camcapture.h"
#include "devmgr.h"

int main(int argc, char** argv) {
  const int early = CheckCamCaptureArguments(argc, argv, stdout, stderr);
  if (early != kCamCaptureRun) return early;
  DevMgrActivateBuiltIn();
  int result = RunCamCapture(argc, argv, stdout, stderr);
  DevMgrDeactivateAll();
  return result;
}
