// camcapture: list the camera, set controls, stream frames to .y4m, take stills.
#include "camcapture.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cameraportformat.h"
#include "camclient.h"
#include "wince.h"

namespace {

using camclient::BufferMemory;
using camclient::Camera;
using camclient::Pin;

constexpr DWORD kFrameWaitMs = 10000;  // a frame that takes longer is an error
// The driver answers every trigger, with the still or with an empty buffer
// flagged as a failed capture; a full-resolution capture and its encoding take
// far longer than a frame, so this only ends a stack that stopped answering.
constexpr DWORD kStillWaitMs = 60000;
constexpr uint32_t kFourccYV12 = CAMERA_FOURCC('Y', 'V', '1', '2');

const char kUsage[] =
    "usage: camcapture [options]\n"
    "  --list                   the camera: its pins, their formats, the controls with ranges\n"
    "  --set NAME=VALUE         set a control (repeatable); VALUE a number, or auto\n"
    "                           exposure ev metering antibanding zoom (x100) focus (auto, continuous,\n"
    "                           off or a lens step) flash (off, on, auto) brightness contrast hue\n"
    "                           saturation sharpness gamma whitebalance iso bestshot effect\n"
    "  --focus                  focus once over the tuned focus window (during the stream, if one\n"
    "                           is asked) and wait for it\n"
    "  --stream N FILE.y4m      stream N frames to a YUV4MPEG2 file\n"
    "  --pin preview|capture    the stream's pin (default preview)\n"
    "  --size WxH               the stream's frame size (default: the pin's first format)\n"
    "  --memory contiguous|heap where the stream's buffers live (default contiguous)\n"
    "  --still FILE.jpg         take a JPEG still (after the stream, if both are asked)\n"
    "  --still-size WxH         the still's size (default: the largest)\n"
    "  --quality Q              the still's JPEG quality, 1..100\n"
    "  --exif TAG=TEXT          an EXIF text tag for the still, e.g. 0x010F=Vantor (repeatable)\n"
    "  --help                   this text\n"
    "exit codes: 0 done, 1 the camera or a file failed, 2 usage\n";

struct Control {
  const char* name;
  const CsGuid* set;
  uint32_t id;
};
const Control kControls[] = {
    {"exposure", &PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_EXPOSURE},
    {"ev", &PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_EXPOSURE_COMPENSATION},
    {"metering", &PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_METERING},
    {"antibanding", &PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_ANTIBANDING},
    {"zoom", &PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION},
    {"brightness", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS},
    {"contrast", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_CONTRAST},
    {"hue", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_HUE},
    {"saturation", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_SATURATION},
    {"sharpness", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_SHARPNESS},
    {"gamma", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_GAMMA},
    {"whitebalance", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_WHITEBALANCE},
    {"iso", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_GAIN},
    {"bestshot", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BEST_SHOT_MODE},
    {"effect", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_IMAGE_EFFECT},
};

struct Options {
  bool list = false, help = false, focus = false;
  std::vector<std::pair<std::string, std::string>> sets;
  long frames = 0;
  std::string y4m, still;
  uint32_t pin = CS_PIN_PREVIEW;
  uint32_t width = 0, height = 0;
  BufferMemory memory = BufferMemory::Contiguous;
  uint32_t stillWidth = 0, stillHeight = 0;
  int quality = 0;
  std::vector<std::pair<uint32_t, std::string>> exif;
};

bool ParseNumber(const std::string& s, long* v) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(s.c_str(), &end, 0);
  if (errno || *end) return false;
  *v = n;
  return true;
}

bool ParseSize(const std::string& s, uint32_t* w, uint32_t* h) {
  size_t x = s.find('x');
  long a = 0, b = 0;
  if (x == std::string::npos || !ParseNumber(s.substr(0, x), &a) || !ParseNumber(s.substr(x + 1), &b)) return false;
  if (a <= 0 || b <= 0 || a > 8192 || b > 8192) return false;
  *w = uint32_t(a);
  *h = uint32_t(b);
  return true;
}

// The options, or an explanation on `err` and false.
bool Parse(int argc, char** argv, Options* o, std::FILE* err) {
  auto usage = [&](const std::string& what) {
    std::fprintf(err, "camcapture: %s\n%s", what.c_str(), kUsage);
    return false;
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](std::string* v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    std::string v, w;
    if (a == "--help" || a == "-h") {
      o->help = true;
    } else if (a == "--list") {
      o->list = true;
    } else if (a == "--focus") {
      o->focus = true;
    } else if (a == "--set") {
      if (!next(&v) || v.find('=') == std::string::npos) return usage("--set needs NAME=VALUE");
      o->sets.emplace_back(v.substr(0, v.find('=')), v.substr(v.find('=') + 1));
    } else if (a == "--stream") {
      if (!next(&v) || !next(&w) || !ParseNumber(v, &o->frames) || o->frames <= 0 || o->frames > 100000)
        return usage("--stream needs a frame count (1..100000) and a file");
      o->y4m = w;
    } else if (a == "--pin") {
      if (!next(&v)) return usage("--pin needs preview or capture");
      if (v == "preview") o->pin = CS_PIN_PREVIEW;
      else if (v == "capture") o->pin = CS_PIN_CAPTURE;
      else return usage("unknown pin: " + v);
    } else if (a == "--size") {
      if (!next(&v) || !ParseSize(v, &o->width, &o->height)) return usage("--size needs WxH");
    } else if (a == "--memory") {
      if (!next(&v)) return usage("--memory needs contiguous or heap");
      if (v == "contiguous") o->memory = BufferMemory::Contiguous;
      else if (v == "heap") o->memory = BufferMemory::Heap;
      else return usage("unknown memory: " + v);
    } else if (a == "--still") {
      if (!next(&v) || v.empty()) return usage("--still needs a file");
      o->still = v;
    } else if (a == "--still-size") {
      if (!next(&v) || !ParseSize(v, &o->stillWidth, &o->stillHeight)) return usage("--still-size needs WxH");
    } else if (a == "--quality") {
      long q = 0;
      if (!next(&v) || !ParseNumber(v, &q) || q < 1 || q > 100) return usage("--quality needs 1..100");
      o->quality = int(q);
    } else if (a == "--exif") {
      long tag = 0;
      if (!next(&v) || v.find('=') == std::string::npos || !ParseNumber(v.substr(0, v.find('=')), &tag) || tag <= 0 ||
          tag > 0xFFFF)
        return usage("--exif needs TAG=TEXT");
      o->exif.emplace_back(uint32_t(tag), v.substr(v.find('=') + 1));
    } else {
      return usage("unknown option " + a);
    }
  }
  if (!o->help && !o->list && !o->focus && o->sets.empty() && o->y4m.empty() && o->still.empty())
    return usage("nothing to do");
  for (const auto& s : o->sets) {
    bool known = s.first == "focus" || s.first == "flash";
    for (const Control& c : kControls) known |= s.first == c.name;
    if (!known) return usage("unknown control: " + s.first);
  }
  return true;
}

const char* FourccText(uint32_t fourcc, char* text) {
  for (int i = 0; i < 4; ++i) {
    char c = char((fourcc >> (8 * i)) & 0xFF);
    text[i] = c >= 32 && c < 127 ? c : '.';
  }
  text[4] = 0;
  return text;
}

int Failed(std::FILE* err, const char* what, DWORD code) {
  std::fprintf(err, "camcapture: %s failed (error %u)\n", what, unsigned(code));
  return kCamCaptureFailed;
}

int List(const Camera& camera, std::FILE* out, std::FILE* err) {
  uint32_t types = 0, version = 0;
  DWORD r = camera.PinTypeCount(&types);
  if (r != ERROR_SUCCESS) return Failed(err, "reading the pins", r);
  camera.Version(&version);
  std::u16string device;
  camera.PinDeviceName(&device);
  std::fprintf(out, "camera CAM1: (protocol version %u), %u pins on %s\n", version, types,
               std::string(device.begin(), device.end()).c_str());
  for (uint32_t pin = 0; pin < types; ++pin) {
    std::u16string name;
    camera.PinName(pin, &name);
    std::vector<CS_DATARANGE_VIDEO> ranges;
    camera.PinDataRanges(pin, &ranges);
    std::fprintf(out, "pin %u %s: %zu formats\n", pin, std::string(name.begin(), name.end()).c_str(), ranges.size());
    for (const CS_DATARANGE_VIDEO& range : ranges) {
      const CS_BITMAPINFOHEADER& b = range.VideoInfoHeader.bmiHeader;
      char text[5];
      int64_t interval = range.VideoInfoHeader.AvgTimePerFrame;
      std::fprintf(out, "  %dx%d %s %u bits, %.2f frames/s\n", b.biWidth, b.biHeight < 0 ? -b.biHeight : b.biHeight,
                   FourccText(camclient::RangeFourcc(range), text), b.biBitCount,
                   interval > 0 ? 1e7 / double(interval) : 0.0);
    }
  }
  std::fprintf(out, "controls:\n");
  for (const Control& c : kControls) {
    int32_t minimum = 0, maximum = 0, def = 0, value = 0;
    uint32_t flags = 0;
    if (camera.Range(*c.set, c.id, &minimum, &maximum, &def) != ERROR_SUCCESS) continue;
    bool readable = camera.GetValue(*c.set, c.id, &value, &flags) == ERROR_SUCCESS;
    if (readable)
      std::fprintf(out, "  %-12s %6d%s  range %d..%d, default %d\n", c.name, value, flags == 1 ? " (auto)" : "",
                   minimum, maximum, def);
    else
      std::fprintf(out, "  %-12s      -  range %d..%d, default %d\n", c.name, minimum, maximum, def);
  }
  std::fprintf(out, "  %-12s auto, continuous, off or a lens step\n  %-12s off, on, auto\n", "focus", "flash");
  return kCamCaptureOk;
}

// One focus run over the camera's tuned focus window: the rectangle mode the
// driver starts in (1) measures the rectangles a camera application picks,
// which until it picks some is the grid's top-left cell.
DWORD StartFocus(const Camera& camera) {
  DWORD r = camera.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_RECT_MODE, 0,
                            CSPROPERTY_FLAGS_MANUAL);
  if (r == ERROR_SUCCESS)
    r = camera.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, CS_FOCUS_CONTROL_SINGLE,
                        CSPROPERTY_FLAGS_MANUAL);
  return r;
}

int SetControl(const Camera& camera, const std::string& name, const std::string& value, std::FILE* err) {
  long v = 0;
  if (name == "flash") {
    uint32_t code = value == "off"  ? VANTOR_FLASH_MODE_OFF
                    : value == "on"   ? VANTOR_FLASH_MODE_ON
                    : value == "auto" ? VANTOR_FLASH_MODE_AUTO
                                      : 0;
    if (!code) {
      std::fprintf(err, "camcapture: flash takes off, on or auto\n");
      return kCamCaptureUsage;
    }
    DWORD r = camera.MakerSet(VANTOR_PROPERTY_FLASH_MODE, code);
    return r == ERROR_SUCCESS ? kCamCaptureOk : Failed(err, "setting the flash", r);
  }
  if (name == "focus") {
    DWORD r;
    const uint32_t control = CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL;
    if (value == "auto") r = camera.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, control, CS_FOCUS_CONTROL_SINGLE);
    else if (value == "continuous") r = camera.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, control, CS_FOCUS_CONTROL_CONTINUOUS);
    else if (value == "off") r = camera.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, control, CS_FOCUS_CONTROL_STOP);
    else if (ParseNumber(value, &v))
      r = camera.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_STEP, int32_t(v));
    else {
      std::fprintf(err, "camcapture: focus takes auto, continuous, off or a lens step\n");
      return kCamCaptureUsage;
    }
    return r == ERROR_SUCCESS ? kCamCaptureOk : Failed(err, ("setting focus=" + value).c_str(), r);
  }
  // Effects and best-shot modes are selectors, not manual values: 0 sets the
  // selector off (flags 4), any other mode on (flags 8).
  const bool selector = name == "effect" || name == "bestshot";
  for (const Control& c : kControls) {
    if (name != c.name) continue;
    int32_t minimum = 0, maximum = 0, def = 0;
    DWORD r = camera.Range(*c.set, c.id, &minimum, &maximum, &def);
    if (r != ERROR_SUCCESS) return Failed(err, ("reading the range of " + name).c_str(), r);
    DWORD result;
    if (value == "auto") {
      result = camera.SetValue(*c.set, c.id, def, CSPROPERTY_FLAGS_AUTO);
    } else if (ParseNumber(value, &v)) {
      if (v < minimum || v > maximum) {
        std::fprintf(err, "camcapture: %s takes %d..%d\n", name.c_str(), minimum, maximum);
        return kCamCaptureUsage;
      }
      const uint32_t flags = !selector ? CSPROPERTY_FLAGS_MANUAL : v ? CSPROPERTY_FLAGS_SELECTOR8 : CSPROPERTY_FLAGS_SELECTOR4;
      result = camera.SetValue(*c.set, c.id, int32_t(v), flags);
    } else {
      std::fprintf(err, "camcapture: %s takes a number or auto\n", name.c_str());
      return kCamCaptureUsage;
    }
    return result == ERROR_SUCCESS ? kCamCaptureOk : Failed(err, ("setting " + name).c_str(), result);
  }
  return kCamCaptureUsage;
}

// A pin with the chosen format, paused, buffers allocated, running, buffers queued.
DWORD StartPin(const Camera& camera, Pin& pin, uint32_t id, uint32_t width, uint32_t height, uint32_t fourcc,
               BufferMemory memory, CS_DATARANGE_VIDEO* chosen, std::FILE* err, bool largest = false) {
  DWORD r = pin.Open();
  if (r == ERROR_SUCCESS) r = pin.Instantiate(id);
  if (r != ERROR_SUCCESS) return r;
  std::vector<CS_DATARANGE_VIDEO> ranges;
  r = camera.PinDataRanges(id, &ranges);
  if (r != ERROR_SUCCESS) return r;
  const CS_DATARANGE_VIDEO* range = camclient::FindRange(ranges, width, height, fourcc, largest);
  if (!range) {
    std::fprintf(err, "camcapture: pin %u offers no %ux%u format (see --list)\n", id, width, height);
    return ERROR_NOT_SUPPORTED;
  }
  *chosen = *range;
  if ((r = pin.SetFormat(camclient::FormatOfRange(*range))) != ERROR_SUCCESS) return r;
  if ((r = pin.SetState(CSSTATE_PAUSE)) != ERROR_SUCCESS) return r;
  if ((r = pin.AllocateBuffers(memory)) != ERROR_SUCCESS) return r;
  if ((r = pin.SetState(CSSTATE_RUN)) != ERROR_SUCCESS) return r;
  return pin.EnqueueAll();
}

// One frame as planar 4:2:0 (Y, U, V), from the stream's NV21 or YV12.
void WriteI420(std::FILE* f, const uint8_t* p, uint32_t w, uint32_t h, bool nv21, std::vector<uint8_t>& plane) {
  const size_t n = size_t(w) * h, q = size_t(w / 2) * (h / 2);
  std::fwrite(p, 1, n, f);
  plane.resize(q);
  for (int which = 0; which < 2; ++which) {  // U, then V
    if (nv21) {
      for (size_t i = 0; i < q; ++i) plane[i] = p[n + 2 * i + (which == 0 ? 1 : 0)];
    } else {
      std::memcpy(plane.data(), p + n + (which == 0 ? q : 0), q);
    }
    std::fwrite(plane.data(), 1, q, f);
  }
}

int Stream(const Camera& camera, const Options& o, std::FILE* out, std::FILE* err) {
  Pin pin;
  CS_DATARANGE_VIDEO range{};
  DWORD r = StartPin(camera, pin, o.pin, o.width, o.height, 0, o.memory, &range, err);
  if (r != ERROR_SUCCESS) return Failed(err, "starting the stream", r);
  const CS_BITMAPINFOHEADER& b = range.VideoInfoHeader.bmiHeader;
  const uint32_t w = uint32_t(b.biWidth), h = uint32_t(b.biHeight < 0 ? -b.biHeight : b.biHeight);
  const uint32_t fourcc = camclient::RangeFourcc(range);
  if (fourcc != kFourccYV12 && fourcc != CAMERA_FOURCC_NV21 && fourcc != CAMERA_FOURCC_NV12) {
    char text[5];
    std::fprintf(err, "camcapture: the stream's format %s is not 4:2:0\n", FourccText(fourcc, text));
    return kCamCaptureFailed;
  }
  // No file: a preview that only feeds the focus.
  std::FILE* f = o.y4m.empty() ? nullptr : std::fopen(o.y4m.c_str(), "wb");
  if (!f && !o.y4m.empty()) {
    std::fprintf(err, "camcapture: cannot write %s: %s\n", o.y4m.c_str(), std::strerror(errno));
    return kCamCaptureFailed;
  }
  const int64_t interval = range.VideoInfoHeader.AvgTimePerFrame > 0 ? range.VideoInfoHeader.AvgTimePerFrame : 333333;
  // The frames hold full-range values (the VFE's JPEG-range YCbCr).
  if (f)
    std::fprintf(f, "YUV4MPEG2 W%u H%u F%lld:%lld Ip A1:1 C420jpeg XCOLORRANGE=FULL\n", w, h, 10000000LL,
                 (long long)interval);
  std::vector<uint8_t> plane;
  long written = 0, dropped = 0;
  int result = kCamCaptureOk;
  // Focus runs while the preview streams: the lens moves between frames.
  camclient::AsyncQueueReader notices;
  bool focusing = false;
  if (o.focus) {
    r = notices.Open();
    if (r == ERROR_SUCCESS) r = StartFocus(camera);
    if (r != ERROR_SUCCESS) {
      if (f) std::fclose(f);
      return Failed(err, "starting the focus", r);
    }
    focusing = true;
  }
  auto focusDone = [&](DWORD wait) {
    AsyncCameraMessage message{};
    while (focusing && notices.Read(&message, wait) == ERROR_SUCCESS) {
      if (message.event != CAM_ASYNC_FOCUS_COMPLETE) continue;
      std::fprintf(out, "focus: done after frame %ld (status %u)\n", written, message.status);
      focusing = false;
    }
    return !focusing;
  };
  // The preview keeps going after the last written frame until the focus ends (or
  // gives no answer in time): the lens needs the frames' statistics.
  const DWORD focusDeadline = GetTickCount() + kFrameWaitMs;
  for (long seen = 0; written < o.frames || focusing; ++seen) {
    focusDone(0);
    const bool writing = written < o.frames;
    if (!writing && (!focusing || int32_t(GetTickCount() - focusDeadline) > 0)) break;
    CS_STREAM_DESCRIPTOR* d = nullptr;
    r = pin.NextBuffer(&d, kFrameWaitMs);
    if (r != ERROR_SUCCESS) {
      result = Failed(err, "waiting for a frame", r);
      break;
    }
    if (writing) {
      if (d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY && seen) ++dropped;
      if (d->CsStreamHeader.DataUsed < w * h * 3 / 2) {
        result = Failed(err, "a short frame", ERROR_INVALID_DATA);
        break;
      }
      std::fputs("FRAME\n", f);
      WriteI420(f, camclient::Pin::Data(*d), w, h, fourcc == CAMERA_FOURCC_NV21, plane);
      ++written;
      std::fprintf(err, "\rcamcapture: frame %ld/%ld", written, o.frames);
      std::fflush(err);
    }
    r = pin.Enqueue(d);
    if (r != ERROR_SUCCESS) {
      result = Failed(err, "giving a buffer back", r);
      break;
    }
  }
  if (focusing && result == kCamCaptureOk)
    std::fprintf(err, "\ncamcapture: the focus gave no answer within %u s; going on", unsigned(kFrameWaitMs / 1000));

  std::fputs("\n", err);
  if (f && std::fclose(f) != 0 && result == kCamCaptureOk) {
    std::fprintf(err, "camcapture: cannot write %s\n", o.y4m.c_str());
    result = kCamCaptureFailed;
  }
  pin.SetState(CSSTATE_STOP);
  pin.DeallocateBuffers();
  if (result == kCamCaptureOk && f)
    std::fprintf(out, "stream: %ld frames of %ux%u to %s (%ld discontinuities)\n", written, w, h, o.y4m.c_str(),
                 dropped);
  return result;
}

int Still(const Camera& camera, const Options& o, std::FILE* out, std::FILE* err) {
  Pin pin;
  CS_DATARANGE_VIDEO range{};
  DWORD r = StartPin(camera, pin, CS_PIN_STILL, o.stillWidth, o.stillHeight, CAMERA_FOURCC_IJPG, BufferMemory::Driver,
                     &range, err, true);
  if (r != ERROR_SUCCESS) return Failed(err, "preparing the still", r);
  if (o.quality) {
    CSPROPERTY_VIDEOPROCAMP_S record{};
    record.Value = o.quality;
    record.Flags = CSPROPERTY_FLAGS_MANUAL;
    for (uint32_t id : {VANTOR_JPEG_QUALITY, VANTOR_JPEG_THUMBNAIL_QUALITY})
      if ((r = pin.Property(VANTOR_PROPSETID_JPEG, id, CSPROPERTY_TYPE_SET, &record, sizeof record)) != ERROR_SUCCESS)
        return Failed(err, "setting the JPEG quality", r);
  }
  for (const auto& tag : o.exif) {
    std::string text = tag.second;
    PropertyItem item{tag.first, uint32_t(text.size() + 1), 2, 0, reinterpret_cast<uintptr_t>(text.c_str())};
    if ((r = pin.Property(VANTOR_PROPSETID_EXIF, VANTOR_EXIF_TAG, CSPROPERTY_TYPE_SET, &item, sizeof item)) != ERROR_SUCCESS)
      return Failed(err, "setting an EXIF tag", r);
  }
  if ((r = camera.Trigger(CS_PIN_STILL)) != ERROR_SUCCESS) return Failed(err, "triggering the still", r);
  std::fprintf(err, "camcapture: waiting for the still\n");
  CS_STREAM_DESCRIPTOR* d = nullptr;
  if ((r = pin.NextBuffer(&d, kStillWaitMs)) != ERROR_SUCCESS) return Failed(err, "waiting for the still", r);
  const uint8_t* p = Pin::Data(*d);
  const uint32_t size = d->CsStreamHeader.DataUsed;
  if (size < 4 || p[0] != 0xFF || p[1] != 0xD8) return Failed(err, "the still is no JPEG", ERROR_INVALID_DATA);
  std::FILE* f = std::fopen(o.still.c_str(), "wb");
  if (!f) {
    std::fprintf(err, "camcapture: cannot write %s: %s\n", o.still.c_str(), std::strerror(errno));
    return kCamCaptureFailed;
  }
  bool ok = std::fwrite(p, 1, size, f) == size;
  ok = std::fclose(f) == 0 && ok;
  pin.SetState(CSSTATE_STOP);
  pin.DeallocateBuffers();
  if (!ok) {
    std::fprintf(err, "camcapture: cannot write %s\n", o.still.c_str());
    return kCamCaptureFailed;
  }
  std::fprintf(out, "still: %u bytes of JPEG to %s\n", size, o.still.c_str());
  return kCamCaptureOk;
}

// The options, or the exit code when the command line alone settles it.
int ReadCommandLine(int argc, char** argv, Options* o, std::FILE* out, std::FILE* err) {
  if (!Parse(argc, argv, o, err)) return kCamCaptureUsage;
  if (o->help) {
    std::fputs(kUsage, out);
    return kCamCaptureOk;
  }
  return kCamCaptureRun;
}

}  // namespace

int CheckCamCaptureArguments(int argc, char** argv, std::FILE* out, std::FILE* err) {
  Options o;
  return ReadCommandLine(argc, argv, &o, out, err);
}

int RunCamCapture(int argc, char** argv, std::FILE* out, std::FILE* err) {
  Options o;
  const int early = ReadCommandLine(argc, argv, &o, out, err);
  if (early != kCamCaptureRun) return early;
  Camera camera;
  DWORD r = camera.Open();
  if (r != ERROR_SUCCESS) return Failed(err, "opening the camera CAM1:", r);
  int result = kCamCaptureOk;
  if (o.list) result = List(camera, out, err);
  for (const auto& s : o.sets) {
    if (result != kCamCaptureOk) break;
    result = SetControl(camera, s.first, s.second, err);
    if (result == kCamCaptureOk) std::fprintf(out, "set %s=%s\n", s.first.c_str(), s.second.c_str());
  }
  if (result == kCamCaptureOk && !o.y4m.empty()) result = Stream(camera, o, out, err);
  // The focus needs frames: without a stream of its own a preview runs for it.
  if (result == kCamCaptureOk && o.focus && o.y4m.empty()) {
    Options focusOnly = o;
    focusOnly.frames = 0;
    result = Stream(camera, focusOnly, out, err);
  }
  if (result == kCamCaptureOk && !o.still.empty()) result = Still(camera, o, out, err);
  camera.Close();
  return result;
}
