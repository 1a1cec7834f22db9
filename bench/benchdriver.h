// What the benches that use the camera through its driver share: the board in a
// known state and the driver loaded from the device image.
#pragma once

#include <stdio.h>

#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "devmgr.h"
#include "wince_sim.h"

// Models reset, the chart under the neutral light, the board at `speedUp`.
inline void BenchResetBoard(double speedUp) {
  BoardSimReset();
  BoardVfeReset();
  BoardSceneSetIlluminant(kIlluminantNeutral);
  BoardSetSpeedUp(speedUp);
}

// The device manager loads the image's drivers; false (said on stderr) without CAM1:.
inline bool BenchLoadDriver(const char* tool) {
  if (DevMgrActivateBuiltIn() != 0 && DevMgrFindDevice(u"CAM1:")) return true;
  fprintf(stderr, "%s: the driver did not load from the image (%s)\n", tool, CeSimImageRoot());
  return false;
}
