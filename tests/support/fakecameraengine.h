// A stand-in for the camera engine (class 0x01061A6F) while the engine itself is
// not built: four ports (two video ports, the main-image port, the thumbnail port)
// with their formats, a small property store with the engine's ranges, flash and
// sensor lists, and a record of every control call. It is put in place of the
// engine's class through the host's test hook, so a driver that creates the engine
// by class gets it.
#pragma once

#include <stdint.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cameraportformat.h"
#include "camerapropertyids.h"
#include "icameraengine.h"
#include "icameraport.h"
#include "ipropertystore.h"
#include "nv21frame.h"

namespace camera::test {

struct FakePortSpec {
  uint32_t type;
  std::vector<CameraPortFormat> formats;
};

// One engine property: value, range and control mode.
struct FakeProperty {
  PvlValueRecord value;
  PvlValueRecord minimum;
  PvlValueRecord maximum;
  uint32_t mode = 2;
  // What SetProperties answers for this property (0: stores it).
  PvlResult setResult = 0;
};

struct FakeEngineConfig {
  uint32_t cameras = 1;
  uint32_t sensorClass = 0x0105d522;
  uint32_t flashDevices = 1;
  uint32_t flashClass = 0x010707a3;
  std::vector<FakePortSpec> ports;  // default: DefaultPorts()
  PvlResult initializeResult = 0;
  PvlResult getPortsResult = 0;
  PvlResult stopResult = 0;
  // Frames: produced every framePeriodMs while the engine runs video (a still per
  // StartStill), or only when a test delivers them.
  bool manualFrames = false;
  uint32_t framePeriodMs = 5;
  // A focus run that ends before StartFocus returns: the driver's signal fires from
  // inside the call (an engine may finish that fast; no test thread fires it late).
  bool focusEndsAtOnce = false;
};

// The ports of the phone's engine: preview (up to 1280x960), capture (640x480),
// main image (JPEG and RAW) and thumbnail.
std::vector<FakePortSpec> DefaultPorts();
// The frame period of the fake's video formats (15 frames a second).
inline constexpr uint32_t kFakeFrameIntervalUs = 66666;

class FakeCameraEngine {
 public:
  // Registers the fake as the engine class; the engine is created afresh (with a
  // fresh property store) at each install.
  static void Install(const FakeEngineConfig& config = FakeEngineConfig());
  static void Uninstall();

  // Control calls in order ("Initialize", "GetPorts", "Stop", "Suspend", ...).
  static std::vector<std::string> Calls();
  static int CallCount(const std::string& name);
  static void ClearCalls();
  // References held on the engine and its faces and ports by others (0 when
  // everyone let go).
  static int32_t OutsideReferences();
  // The engine's current value of a property (its first payload word), and its mode.
  static bool PropertyValue(uint32_t id, PvlValueRecord* value, uint32_t* mode = nullptr);
  // Properties given to SetProperties, in order.
  static std::vector<uint32_t> PropertiesSet();
  static void SetPropertyResult(uint32_t id, PvlResult result);
  // What StartFocus or StopFocus answers from now on.
  static void SetControlResult(const std::string& call, PvlResult result);
  // The focus rectangles the driver set.
  static std::vector<CPvlRect> FocusRects();
  // Changes what GetPorts and Initialize answer from now on.
  static void SetGetPortsResult(PvlResult result);
  static void SetInitializeResult(PvlResult result);
  static bool Initialized();
  // The still port's property face: values set on it.
  static bool StillPortValue(uint32_t id, uint32_t* value);
  static bool StillPortValue(uint32_t id, PvlValueRecord* value);
  // EXIF tags declared on the still port and their values as text ("1,2" for arrays).
  static std::map<uint32_t, std::string> ExifTags();
  // The port behind a pin (0 capture, 1 still, 2 preview, 3 thumbnail): one frame
  // with these times from the pool the driver gave it (false: no free buffer, counted
  // as a drop by the port), the formats the driver set, its Start calls.
  static bool DeliverFrame(uint32_t pin, uint64_t time1, uint64_t time2);
  static std::vector<CameraPortFormat> FormatsSet(uint32_t pin);
  static int PortStarts(uint32_t pin);
  static bool PortHasBufferManager(uint32_t pin);
  // The signal controls the driver handed to StartFocus / StartPreSnapshotFlash.
  static uintptr_t LastFocusSignalControl();
};

}  // namespace camera::test
