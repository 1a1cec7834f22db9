// What the board's device models tell each other inside the library.
#ifndef BOARD_INTERNAL_H
#define BOARD_INTERNAL_H

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "board_led.h"
#include "board_sensor.h"
#include "board_sim.h"

namespace board {

// Names the calling model thread "board <what>" (what: at most 9 characters), so
// that tools can tell the board's own threads from the stack's.
void NameModelThread(const char* what);

// Monotonic time (ns), and board time (board_sensor.h) of a monotonic instant.
int64_t MonoNs();
int64_t BoardTimeOfMono(int64_t monoNs);
// Real nanoseconds until board time `boardNs` is reached (0 when past).
int64_t RealNsUntil(int64_t boardNs);
void ResetTime();
// Stops board time (true) or lets it run on from where it stood (false).
void HoldTime(bool held);

// The LED sees every drive of a "CGIO1:" line (monotonic time of the drive).
// Who changed a line: a thread id, and for a writer in the real-time band the
// time it has waited to run so far (-1 for a normal writer).
struct LineWriter {
  uint64_t id = 0;
  bool realTime = false;
  int64_t runWaitNs = -1;
};
LineWriter CurrentLineWriter();
void LedOnLine(uint32_t line, int level, int64_t monoNs, const LineWriter& writer);
void LedReset();

// The sensor model: created once, attached at slave 0x20 by the bus.
std::shared_ptr<BoardI2cDevice> SensorDevice();
void SensorInit();   // hooks the reset line and the clock, once
void SensorReset();  // power-on state, fault switches off
void SensorStopThread();
// Wakes the frame thread (speed-up changes).
void SensorKick();
// A frame start waits while `gate` (called under the sensor's lock with the
// number of the latest frame started, 0 before any) answers false; null: none.
// While it waits, board time stands unless the gate clears *timeStands (a wait
// on the board's own lateness, which takes board time).
using SensorStartGate = bool (*)(uint32_t latestStarted, bool* timeStands);
void SensorSetStartGate(SensorStartGate gate);
// A remark in the sensor's log (board_sensor.h), from any model of the camera module.
void SensorLogLine(const std::string& text);

// The scene: planes per read-out, rendering, settings.
void SceneReset();  // chart, settings file read again
// Runs rows(first, end) over all of `height` rows, in any order or at once.
using RowRunner = std::function<void(uint32_t height, const std::function<void(uint32_t, uint32_t)>& rows)>;
// Renders with settings already checked by the caller (rows through `runner`
// when given).
void SceneRender(const BoardFrameInfo& frame, uint16_t* dst, size_t stride, const RowRunner& runner = {});
// Counts changes of the scene a render shows (picture, defects) beside the
// frame's own settings.
uint64_t SceneChanges();
void ScenePrepare();  // builds the preview read-out's plane in the background
// The VFE model's working memory for frames of width x height, in the background.
void VfePrepare(uint32_t width, uint32_t height);
// BoardSensorRenderFrame with its rows through `runner`.
bool SensorRenderFrame(const BoardFrameInfo& settings, uint16_t* dst, size_t strideSamples, const RowRunner& runner);

}  // namespace board

#endif  // BOARD_INTERNAL_H
