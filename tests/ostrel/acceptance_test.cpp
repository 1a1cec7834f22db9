// The driver's acceptance suite: a capture application's whole sequence against the
// real stack on the simulated board. The device manager loads the driver, the client
// opens CAM1: and its pins, negotiates formats, streams the sensor's chart in both
// memory modes, drives every property set down to the engine and sees the controls
// change the picture, waits for focus and pre-flash notifications, takes JPEG and raw
// stills, suspends and resumes power while streaming, runs the test-mode branches and
// closes with everything given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "chartcolour.h"
#include "chipset_sim.h"
#include "orbhost.h"
#include "ostrelboardfixture.h"

namespace {

using camclient::AsyncQueueReader;
using camclient::BufferMemory;
using camclient::Camera;
using camclient::Pin;
using camera::test::Lab;
using camera::test::Nv21MeanRgb;
using camera::test::Rgb;
using camera::test::SrgbToLab;
using ostrel_board::kWait;
using ostrel_board::OstrelBoardTest;

constexpr uint32_t kW = 640, kH = 480;  // the preview size of every streaming step
constexpr DWORD kOemCameraOpened = 0x01012EF8;
constexpr DWORD kOemCameraClosed = 0x01012EF4;
constexpr uint32_t kFourccYV12 = CAMERA_FOURCC('Y', 'V', '1', '2');

// A picture in NV21, whatever plane layout the pin delivered it in.
using Nv21 = std::vector<uint8_t>;

// How the client's buffer holds the picture: the pin delivers YV12 (V plane then U
// plane) on the copy and the zero-copy path alike; NV21 (V and U interleaved) is the VFE's.
enum class Layout { Yv12, Nv21 };

Nv21 ToNv21(const uint8_t* data, uint32_t w, uint32_t h, Layout layout) {
  const size_t luma = size_t(w) * h, quarter = luma / 4;
  Nv21 out(data, data + luma + 2 * quarter);
  if (layout == Layout::Yv12) {
    for (size_t i = 0; i < quarter; ++i) {
      out[luma + 2 * i] = data[luma + i];                // V
      out[luma + 2 * i + 1] = data[luma + quarter + i];  // U
    }
  }
  return out;
}

// The mean colour near the middle of a chart patch, in a w x h picture of the whole array.
Rgb PatchRgb(const Nv21& f, uint32_t w, uint32_t h, const BoardChartPatch& p) {
  const uint32_t x = uint32_t(double(p.centreX) * w / kSensorArrayWidth);
  const uint32_t y = uint32_t(double(p.centreY) * h / kSensorArrayHeight);
  const uint32_t half = std::max<uint32_t>(1, uint32_t(double(kChartPatchSize) * w / kSensorArrayWidth / 4));
  return Nv21MeanRgb(f.data(), w, h, x, y, half);
}

double Luma(const Rgb& c) { return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b; }

// The measures the picture controls move.
double MeanLuma(const Nv21& f, uint32_t w, uint32_t h) {
  double sum = 0;
  for (size_t i = 0; i < size_t(w) * h; ++i) sum += f[i];
  return sum / (double(w) * h);
}
// Contrast: the luma between the chart's white and black patches.
double WhiteBlackSpread(const Nv21& f, uint32_t w, uint32_t h) {
  return Luma(PatchRgb(f, w, h, kChartPatches[18])) - Luma(PatchRgb(f, w, h, kChartPatches[23]));
}
// Saturation: the mean CIELAB chroma of the 18 coloured patches.
double MeanChroma(const Nv21& f, uint32_t w, uint32_t h) {
  double sum = 0;
  for (int i = 0; i < 18; ++i) {
    const Lab lab = SrgbToLab(PatchRgb(f, w, h, kChartPatches[i]));
    sum += std::hypot(lab.a, lab.b);
  }
  return sum / 18;
}
// Hue: the mean CIELAB hue angle (degrees) of the six strongly coloured patches
// (blue, green, red, yellow, magenta, cyan), each taken relative to its chart colour.
double MeanHueShift(const Nv21& f, uint32_t w, uint32_t h) {
  double sum = 0;
  for (int i = 12; i < 18; ++i) {
    const BoardChartPatch& p = kChartPatches[i];
    const Lab got = SrgbToLab(PatchRgb(f, w, h, p));
    const Lab want = SrgbToLab({double(p.srgb[0]), double(p.srgb[1]), double(p.srgb[2])});
    double d = (std::atan2(got.b, got.a) - std::atan2(want.b, want.a)) * 180 / M_PI;
    while (d > 180) d -= 360;
    while (d < -180) d += 360;
    sum += d;
  }
  return sum / 6;
}
// Sharpness: the mean horizontal luma step across the fine-detail area's vertical bars.
double DetailEdges(const Nv21& f, uint32_t w, uint32_t h) {
  const uint32_t x0 = kChartFineDetail.x * w / kSensorArrayWidth, x1 = (kChartFineDetail.x + kChartFineDetail.width) * w / kSensorArrayWidth;
  const uint32_t y0 = kChartFineDetail.y * h / kSensorArrayHeight,
                 y1 = (kChartFineDetail.y + kChartFineDetail.height / 2) * h / kSensorArrayHeight;
  double sum = 0;
  uint32_t n = 0;
  for (uint32_t y = y0 + 2; y + 2 < y1; ++y)
    for (uint32_t x = x0 + 2; x + 3 < x1; ++x, ++n) sum += std::abs(int(f[y * w + x + 1]) - int(f[y * w + x]));
  return n ? sum / n : 0;
}

class AcceptanceTest : public OstrelBoardTest {
 protected:
  void SetUp() override {
    OstrelBoardTest::SetUp();
    CeSimClearKernelIoControl();
  }

  // Starts the preview pin at kW x kH in YV12 with the given memory.
  void StartPreview(Pin& pin, BufferMemory memory) { Start(camera_, pin, CS_PIN_PREVIEW, kW, kH, kFourccYV12, memory); }

  // The next frame of a running pin as NV21 (its buffer goes back to the pin).
  Nv21 NextFrame(Pin& pin, Layout layout, uint32_t w = kW, uint32_t h = kH) {
    CS_STREAM_DESCRIPTOR* d = nullptr;
    EXPECT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS) << "no frame came";
    if (!d) return Nv21(size_t(w) * h * 3 / 2, 0);
    EXPECT_EQ(d->CsStreamHeader.DataUsed, w * h * 3 / 2);
    Nv21 f = ToNv21(Pin::Data(*d), w, h, layout);
    EXPECT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
    return f;
  }
  // A frame once the picture has come to rest: after at least `skip` frames (so a
  // change has reached the picture), the first that ends eight frames whose mean luma
  // lies within 1.5 % (the exposure loop holds still for a frame or two between its
  // steps) and whose mean V and U lie within a code (white balance moves the colours,
  // hardly the luma; on a loaded machine its statistics come late and its steps far
  // apart), or the last of 90.
  Nv21 SettledFrame(Pin& pin, Layout layout, int skip = 3) {
    for (int i = 0; i < skip && !HasFailure(); ++i) NextFrame(pin, layout);
    std::vector<double> lumas, vs, us;
    auto still = [](const std::vector<double>& v, double tolerance) {
      const auto [low, high] = std::minmax_element(v.end() - 8, v.end());
      return *high - *low <= tolerance;
    };
    Nv21 f;
    for (int i = 0; i < 90; ++i) {
      f = NextFrame(pin, layout);
      if (HasFailure()) break;  // no frames: do not wait for 90 more
      lumas.push_back(MeanLuma(f, kW, kH));
      double v = 0, u = 0;
      const size_t luma = size_t(kW) * kH, quarter = luma / 4;
      for (size_t k = 0; k < quarter; ++k) {
        v += f[luma + 2 * k];
        u += f[luma + 2 * k + 1];
      }
      vs.push_back(v / double(quarter));
      us.push_back(u / double(quarter));
      if (lumas.size() < 8) continue;
      if (still(lumas, 0.015 * std::max(lumas.back(), 1.0)) && still(vs, 1.0) && still(us, 1.0)) break;
    }
    return f;
  }

  // The next notice on the camera's queue, read while the preview keeps its frames
  // coming (focus and pre-flash need them); ERROR_TIMEOUT after 200 frames.
  DWORD NextNotice(Pin& preview, AsyncQueueReader& notifications, AsyncCameraMessage* m) {
    DWORD r = ERROR_TIMEOUT;
    for (int i = 0; i < 200 && r == ERROR_TIMEOUT && !HasFailure(); ++i) {
      NextFrame(preview, Layout::Yv12);
      r = notifications.Read(m, 0);
    }
    return r;
  }

  // Stops a pin and takes back every buffer: each one comes home (queued ones with
  // nothing in them) before the buffers are given back to the driver.
  void StopAndCollect(Pin& pin, uint32_t frameSize) {
    std::set<CS_STREAM_DESCRIPTOR*> home;
    ASSERT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    uint32_t empty = 0;
    while (home.size() < pin.BufferCount()) {
      CS_STREAM_DESCRIPTOR* d = nullptr;
      ASSERT_EQ(pin.NextBuffer(&d, kWait), ERROR_SUCCESS) << home.size() << " of " << pin.BufferCount() << " came back";
      EXPECT_TRUE(d->CsStreamHeader.DataUsed == 0 || d->CsStreamHeader.DataUsed == frameSize);
      empty += d->CsStreamHeader.DataUsed == 0;
      home.insert(d);
    }
    EXPECT_GT(empty, 0u) << "the queued buffers come back empty";
    EXPECT_EQ(pin.DeallocateBuffers(), ERROR_SUCCESS) << "a buffer was still queued in the driver";
  }

  Camera camera_;
};

// ---- 1. Open, pins, formats ----------------------------------------------------------

TEST_F(AcceptanceTest, OpensTheCameraAndNegotiatesThePinFormats) {
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  uint32_t version = 0, types = 0;
  EXPECT_EQ(camera_.Version(&version), ERROR_SUCCESS);
  EXPECT_EQ(version, 1u);
  EXPECT_EQ(camera_.PinTypeCount(&types), ERROR_SUCCESS);
  EXPECT_EQ(types, 3u);
  struct PinCase {
    uint32_t id;
    const char16_t* name;
    CsGuid category;
    uint32_t largestW, largestH;
  };
  const PinCase pins[] = {{CS_PIN_CAPTURE, u"Capture", PINNAME_VIDEO_CAPTURE, 800, 480},
                          {CS_PIN_STILL, u"Still", PINNAME_VIDEO_STILL, 2592, 1944},
                          {CS_PIN_PREVIEW, u"Preview", PINNAME_VIDEO_PREVIEW, 800, 480}};
  for (const PinCase& c : pins) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)).c_str());
    std::u16string name;
    EXPECT_EQ(camera_.PinName(c.id, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, c.name);
    CsGuid category{};
    EXPECT_EQ(camera_.PinCategory(c.id, &category), ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(&category, &c.category, sizeof category), 0);
    CSPIN_CINSTANCES instances{};
    EXPECT_EQ(camera_.PinInstances(c.id, &instances), ERROR_SUCCESS);
    EXPECT_EQ(instances.PossibleCount, 1u);
    EXPECT_EQ(instances.CurrentCount, 0u);

    std::vector<CS_DATARANGE_VIDEO> ranges;
    ASSERT_EQ(camera_.PinDataRanges(c.id, &ranges), ERROR_SUCCESS);
    ASSERT_FALSE(ranges.empty());
    // The VFE's NV21 is offered as YV12; every range's image size follows its frame.
    for (const CS_DATARANGE_VIDEO& r : ranges) {
      const CS_BITMAPINFOHEADER& b = r.VideoInfoHeader.bmiHeader;
      const uint32_t fourcc = camclient::RangeFourcc(r);
      EXPECT_TRUE(fourcc == kFourccYV12 || (c.id == CS_PIN_STILL && fourcc == CAMERA_FOURCC_IJPG))
          << b.biWidth << "x" << b.biHeight;
      EXPECT_EQ(b.biSizeImage, uint32_t(b.biWidth * std::abs(b.biHeight) * 3 / 2));
    }
    const CS_DATARANGE_VIDEO* largest = camclient::FindRange(ranges, 0, 0, kFourccYV12, true);
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(largest->VideoInfoHeader.bmiHeader.biWidth, int32_t(c.largestW));
    EXPECT_EQ(std::abs(largest->VideoInfoHeader.bmiHeader.biHeight), int32_t(c.largestH));

    // Intersection: the pin picks the first offer it matches, in the client's order.
    CS_DATARANGE_VIDEO foreign = *camclient::FindRange(ranges, kW, kH, kFourccYV12);
    foreign.VideoInfoHeader.bmiHeader.biWidth = 4000;
    const std::vector<CS_DATARANGE_VIDEO> offered = {foreign, *camclient::FindRange(ranges, 320, 240, kFourccYV12)};
    CS_DATAFORMAT_VIDEOINFOHEADER format{};
    ASSERT_EQ(camera_.PinDataIntersection(c.id, offered, &format), ERROR_SUCCESS);
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biWidth, 320);
    EXPECT_EQ(std::abs(format.VideoInfoHeader.bmiHeader.biHeight), 240);
    EXPECT_EQ(camera_.PinDataIntersection(c.id, {foreign}, &format), DWORD(ERROR_INVALID_PARAMETER))
        << "no offer matches";
  }

  // A pin takes a format it offers and refuses one it does not.
  Pin preview;
  ASSERT_EQ(preview.Open(), ERROR_SUCCESS);
  ASSERT_EQ(preview.Instantiate(CS_PIN_PREVIEW), ERROR_SUCCESS);
  std::vector<CS_DATARANGE_VIDEO> ranges;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_PREVIEW, &ranges), ERROR_SUCCESS);
  CS_DATAFORMAT_VIDEOINFOHEADER format = camclient::FormatOfRange(*camclient::FindRange(ranges, kW, kH, kFourccYV12));
  CS_DATAFORMAT_VIDEOINFOHEADER tooLarge = format;
  tooLarge.VideoInfoHeader.bmiHeader.biWidth = 2592;
  EXPECT_EQ(preview.SetFormat(tooLarge), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(preview.SetFormat(format), ERROR_SUCCESS);
  CSALLOCATOR_FRAMING framing{};
  ASSERT_EQ(preview.Framing(&framing), ERROR_SUCCESS);
  EXPECT_EQ(framing.FrameSize, kW * kH * 3 / 2);
  EXPECT_GE(framing.Frames, 2u);
  CSPIN_CINSTANCES instances{};
  EXPECT_EQ(camera_.PinInstances(CS_PIN_PREVIEW, &instances), ERROR_SUCCESS);
  EXPECT_EQ(instances.CurrentCount, 1u);
  Pin second;
  ASSERT_EQ(second.Open(), ERROR_SUCCESS);
  EXPECT_EQ(second.Instantiate(CS_PIN_PREVIEW), DWORD(ERROR_INVALID_PARAMETER)) << "one stream per pin";
}


// ---- 2 and 7. Preview in both memory modes, and stop with every buffer back ----------

struct MemoryCase {
  const char* name;
  BufferMemory memory;
  Layout layout;
};
const MemoryCase kMemoryCases[] = {
    {"contiguous memory, the VFE's frame rearranged in place", BufferMemory::Contiguous, Layout::Yv12},
    {"heap memory, copied into YV12", BufferMemory::Heap, Layout::Yv12},
};

TEST_F(AcceptanceTest, PreviewShowsTheChartAndStopReturnsEveryBufferInBothMemoryModes) {
  // Each frame's statistics are handled before the next frame starts, as on the phone,
  // however slowly a loaded machine runs the board: the colours are judged where the
  // loops rest, not where late statistics left them.
  BoardVfeSetStatsLockStep(true);
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  for (const MemoryCase& c : kMemoryCases) {
    SCOPED_TRACE(c.name);
    Pin preview;
    StartPreview(preview, c.memory);
    const Nv21 f = SettledFrame(preview, c.layout);
    // The chart's colours where its patches are: U and V in their right places and the
    // picture neither shifted nor squeezed.
    double sum = 0, worst = 0;
    for (const BoardChartPatch& p : kChartPatches) {
      const double d = camera::test::Ciede2000(SrgbToLab({double(p.srgb[0]), double(p.srgb[1]), double(p.srgb[2])}),
                                               SrgbToLab(PatchRgb(f, kW, kH, p)));
      sum += d;
      worst = std::max(worst, d);
    }
    std::printf("%s: mean dE00 %.2f, worst %.2f\n", c.name, sum / 24, worst);
    EXPECT_LT(sum / 24, 8.0);
    EXPECT_LT(worst, 12.0);
    StopAndCollect(preview, kW * kH * 3 / 2);
  }
}

// ---- 4. Picture controls change the picture ------------------------------------------

// Each control, set through the driver, moves its measure of the preview by at least
// 5 % in the asked direction once the picture has settled; then back to its default.
TEST_F(AcceptanceTest, PictureControlsMoveThePreviewTheAskedWay) {
  using Measure = double (*)(const Nv21&, uint32_t, uint32_t);
  struct ControlCase {
    const char* name;
    CsGuid set;
    uint32_t id;
    int32_t value;
    Measure measure;
    int direction;     // +1 up, -1 down
    double fullScale;  // what 5 % is of; 0: of the measure before the change
  };
  const ControlCase cases[] = {
      {"brightness up", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 5000, MeanLuma, +1, 0},
      {"brightness down", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, -5000, MeanLuma, -1, 0},
      {"contrast up", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_CONTRAST, 10000, WhiteBlackSpread, +1, 0},
      {"contrast down", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_CONTRAST, 0, WhiteBlackSpread, -1, 0},
      {"saturation up", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_SATURATION, 10000, MeanChroma, +1, 0},
      {"saturation down", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_SATURATION, 0, MeanChroma, -1, 0},
      {"hue +90", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_HUE, 9000, MeanHueShift, +1, 360},
      {"hue -90", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_HUE, -9000, MeanHueShift, -1, 360},
      {"sharpness up", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_SHARPNESS, 100, DetailEdges, +1, 0},
      {"sharpness down", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_SHARPNESS, 0, DetailEdges, -1, 0},
  };
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  Pin preview;
  StartPreview(preview, BufferMemory::Contiguous);
  SettledFrame(preview, Layout::Yv12, 10);  // exposure and white balance find the scene first
  for (const ControlCase& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t low = 0, high = 0, byDefault = 0;
    ASSERT_EQ(camera_.Range(c.set, c.id, &low, &high, &byDefault), ERROR_SUCCESS);
    ASSERT_EQ(camera_.SetValue(c.set, c.id, byDefault), ERROR_SUCCESS);
    const double before = c.measure(SettledFrame(preview, Layout::Yv12), kW, kH);
    ASSERT_EQ(camera_.SetValue(c.set, c.id, c.value), ERROR_SUCCESS);
    const double after = c.measure(SettledFrame(preview, Layout::Yv12), kW, kH);
    const double step = 0.05 * (c.fullScale ? c.fullScale : std::fabs(before));
    EXPECT_GE((after - before) * c.direction, step) << "from " << before << " to " << after;
    ASSERT_EQ(camera_.SetValue(c.set, c.id, byDefault), ERROR_SUCCESS);
  }
  StopAndCollect(preview, kW * kH * 3 / 2);
}

// ---- 3. Every property set reaches the engine ----------------------------------------

// A value set through each set comes back through the driver's get, read from the
// engine (camera control, proc amp), the driver's own store (advanced set) or the still
// port (compression); the maker's coded values land on the standard property they name.
TEST_F(AcceptanceTest, EveryPropertySetIsRoutedToTheEngineAndBack) {
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  struct ValueCase {
    const char* name;
    CsGuid set;
    uint32_t id;
    int32_t value;
  };
  const ValueCase values[] = {
      {"camera control: exposure compensation", PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_EXPOSURE_COMPENSATION, 300},
      {"camera control: metering", PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_METERING, 1},
      {"camera control: focus mode", PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_MODE, 1},
      {"camera control: focus rectangle mode", PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_RECT_MODE, 2},
      {"camera control: lamp intensity", PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_LAMP_INTENSITY, 5000},
      {"video proc amp: gamma", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_GAMMA, 200},
      {"video proc amp: ISO", PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_GAIN, 400},
  };
  for (const ValueCase& c : values) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(camera_.SetValue(c.set, c.id, c.value), ERROR_SUCCESS);
    int32_t got = 0;
    uint32_t flags = 0;
    ASSERT_EQ(camera_.GetValue(c.set, c.id, &got, &flags), ERROR_SUCCESS);
    EXPECT_EQ(got, c.value);
    EXPECT_EQ(flags, CSPROPERTY_FLAGS_MANUAL);
  }

  // The advanced set: stop-before-still (one byte) and the focus rectangles.
  CSPROPERTY header{};
  uint8_t stop = 0;
  ASSERT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 4, CSPROPERTY_TYPE_SET, &header, sizeof header, &stop, 1),
            ERROR_SUCCESS);
  stop = 7;
  ASSERT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 4, CSPROPERTY_TYPE_GET, &header, sizeof header, &stop, 1),
            ERROR_SUCCESS);
  EXPECT_EQ(stop, 0);
  uint32_t rects[2 + 4] = {24, 1, 3, 4, 5, 6};
  ASSERT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 1, CSPROPERTY_TYPE_SET, &header, sizeof header, rects,
                             sizeof rects),
            ERROR_SUCCESS);
  uint32_t back[2 + 4] = {};
  ASSERT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 1, CSPROPERTY_TYPE_GET, &header, sizeof header, back,
                             sizeof back),
            ERROR_SUCCESS);
  EXPECT_EQ(std::vector<uint32_t>(back, back + 6), std::vector<uint32_t>(rects, rects + 6));

  // The maker's coded values, each read back through the standard property it drives.
  struct MakerCase {
    const char* name;
    uint32_t id, value;
    CsGuid set;
    uint32_t standardId;
    int32_t expected;
  };
  const MakerCase maker[] = {
      {"antibanding 50 Hz", VANTOR_PROPERTY_ANTIBANDING, 2, PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_ANTIBANDING, 50},
      {"centre-weighted metering", VANTOR_PROPERTY_METERING, 2, PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_METERING, 0},
      {"spot metering", VANTOR_PROPERTY_METERING, 1, PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_METERING, 1},
      {"snapshot flash intensity", VANTOR_PROPERTY_FLASH_INTENSITY, 1, PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_INTENSITY, 1},
      {"image effect", VANTOR_PROPERTY_IMAGE_EFFECT, 16, PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_IMAGE_EFFECT, 2},
  };
  for (const MakerCase& c : maker) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(camera_.MakerSet(c.id, c.value), ERROR_SUCCESS);
    int32_t got = -1;
    ASSERT_EQ(camera_.GetValue(c.set, c.standardId, &got), ERROR_SUCCESS);
    EXPECT_EQ(got, c.expected);
  }

  // Compression quality lives on the still port: set through the camera, through the
  // maker's set, and read back.
  Pin still;
  ASSERT_EQ(still.Open(), ERROR_SUCCESS);
  ASSERT_EQ(still.Instantiate(CS_PIN_STILL), ERROR_SUCCESS);
  std::vector<CS_DATARANGE_VIDEO> ranges;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_STILL, &ranges), ERROR_SUCCESS);
  ASSERT_EQ(still.SetFormat(camclient::FormatOfRange(*camclient::FindRange(ranges, 2592, 1944, CAMERA_FOURCC_IJPG))),
            ERROR_SUCCESS);
  auto quality = [&] {
    CSPROPERTY_VIDEOCOMPRESSION_S q{};
    q.StreamIndex = CS_PIN_STILL;
    EXPECT_EQ(camera_.Property(PROPSETID_VIDCAP_VIDEOCOMPRESSION, CSPROPERTY_VIDEOCOMPRESSION_QUALITY,
                               CSPROPERTY_TYPE_GET, &q, sizeof q, &q, sizeof q),
              ERROR_SUCCESS);
    return q.Value;
  };
  CSPROPERTY_VIDEOCOMPRESSION_S q{};
  q.StreamIndex = CS_PIN_STILL;
  q.Value = 5000;
  ASSERT_EQ(camera_.Property(PROPSETID_VIDCAP_VIDEOCOMPRESSION, CSPROPERTY_VIDEOCOMPRESSION_QUALITY, CSPROPERTY_TYPE_SET,
                             &q, sizeof q, nullptr, 0),
            ERROR_SUCCESS);
  // The engine keeps quality in 100 steps: it reads back within one step.
  constexpr int32_t kStep = 10000 / 99 + 1;
  EXPECT_NEAR(quality(), 5000, kStep);
  ASSERT_EQ(camera_.MakerSet(VANTOR_PROPERTY_JPEG_QUALITY, 90), ERROR_SUCCESS) << "maker's JPEG quality";
  EXPECT_NEAR(quality(), 9000, kStep);
}

// ---- 5. Focus and pre-flash end in their notifications --------------------------------

TEST_F(AcceptanceTest, FocusAndPreFlashEndInTheirNotifications) {
  AsyncQueueReader notifications;
  ASSERT_EQ(notifications.Open(), ERROR_SUCCESS);
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  Pin preview;
  StartPreview(preview, BufferMemory::Contiguous);
  NextFrame(preview, Layout::Yv12);

  // In rectangle mode (1, the default) a focus run restarts the VFE for its window
  // while the preview's readers still hold statistics and frames; mode 0 focuses
  // over the whole frame as it streams.
  AsyncCameraMessage m{};
  for (int32_t mode : {1, 0}) {
    SCOPED_TRACE("focus rectangle mode " + std::to_string(mode));
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_RECT_MODE, mode), ERROR_SUCCESS);
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, 1), ERROR_SUCCESS) << "single focus";
    ASSERT_EQ(NextNotice(preview, notifications, &m), ERROR_SUCCESS) << "no focus notification";
    EXPECT_EQ(m.event, 0u);
    EXPECT_EQ(m.size, 20u);
    EXPECT_EQ(m.status, 0u);
    int32_t state = -1;
    EXPECT_EQ(camera_.GetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, &state), ERROR_SUCCESS);
    EXPECT_EQ(state, 0) << "focus idle again";
  }

  ASSERT_EQ(camera_.MakerSet(VANTOR_PROPERTY_PRE_FLASH, 1), ERROR_SUCCESS) << "pre-flash";
  ASSERT_EQ(NextNotice(preview, notifications, &m), ERROR_SUCCESS) << "no pre-flash notification";
  EXPECT_EQ(m.event, 5u);
  EXPECT_EQ(m.size, 20u);
  StopAndCollect(preview, kW * kH * 3 / 2);
}

// ---- 6. JPEG and raw stills ----------------------------------------------------------

TEST_F(AcceptanceTest, TheStillPinDeliversAJpegAndARawStill) {
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  {
    // As a camera application does: preview first, so exposure and white balance
    // have found the scene.
    Pin preview;
    StartPreview(preview, BufferMemory::Contiguous);
    SettledFrame(preview, Layout::Yv12, 10);
    StopAndCollect(preview, kW * kH * 3 / 2);
  }
  TakeJpegStill(camera_, "Acceptance");
  {
    constexpr uint32_t w = 1280, h = 960;
    Pin still;
    Start(camera_, still, CS_PIN_STILL, w, h, kFourccYV12, BufferMemory::Contiguous);
    ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
    ASSERT_EQ(d->CsStreamHeader.DataUsed, w * h * 3 / 2);
    const Nv21 f = ToNv21(Pin::Data(*d), w, h, Layout::Yv12);
    EXPECT_TRUE(camera::test::WriteRgbPng(std::string(ACCEPTANCE_OUTPUT_DIR) + "/acceptance-raw-still.png",
                                          camera::test::Nv21ToRgb(f.data(), w, h), w, h));
    double sum = 0;
    for (const BoardChartPatch& p : kChartPatches)
      sum += camera::test::Ciede2000(SrgbToLab({double(p.srgb[0]), double(p.srgb[1]), double(p.srgb[2])}),
                                     SrgbToLab(PatchRgb(f, w, h, p)));
    EXPECT_LT(sum / 24, 12.0) << "the chart's colours in the raw still";
    ASSERT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    EXPECT_EQ(still.DeallocateBuffers(), ERROR_SUCCESS);
  }
}

// ---- 8. Power while streaming --------------------------------------------------------

TEST_F(AcceptanceTest, PowerDownStopsTheFramesAndPowerUpBringsThemBack) {
  auto power = [](DWORD state) {
    DWORD bytes = 0;
    return DevMgrPowerIoControl(u"CPM1:", IOCTL_POWER_SET, nullptr, 0, &state, sizeof state, &bytes);
  };
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  Pin preview;
  StartPreview(preview, BufferMemory::Contiguous);
  NextFrame(preview, Layout::Yv12);
  ASSERT_TRUE(power(4)) << "D4";
  // Frames already on their way may still come; then none.
  CS_STREAM_DESCRIPTOR* d = nullptr;
  int late = 0;
  while (preview.NextBuffer(&d, 1000) == ERROR_SUCCESS) {
    ASSERT_EQ(preview.Enqueue(d), ERROR_SUCCESS);
    ASSERT_LT(++late, 10) << "frames go on in D4";
  }
  EXPECT_EQ(preview.NextBuffer(&d, 1000), DWORD(ERROR_TIMEOUT));
  ASSERT_TRUE(power(0)) << "D0";
  const Nv21 f = NextFrame(preview, Layout::Yv12);
  EXPECT_GT(MeanLuma(f, kW, kH), 10.0) << "a picture, not a black frame";
  NextFrame(preview, Layout::Yv12);
  StopAndCollect(preview, kW * kH * 3 / 2);
}

// ---- 9. Test mode --------------------------------------------------------------------

class AcceptanceTestMode : public AcceptanceTest {
 protected:
  void TearDown() override {
    AcceptanceTest::TearDown();
    BoardSetCameraTestMode(false);
  }
  static DWORD Read(HKEY root, const char16_t* path, const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0xDEADBEEF;
    DWORD v = 0xDEADBEEF, type = 0, size = sizeof v;
    RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&v), &size);
    RegCloseKey(key);
    return v;
  }
};

// Opened in test mode: the pin settings and the backlight are set for the test tool,
// the still pin offers the tool's one size with its JPEG as YV12, a proc-amp get answers what the tool wrote, and
// closing gives the pin settings back.
TEST_F(AcceptanceTestMode, OpeningInTestModeSetsUpForTheTestTool) {
  BoardSetCameraTestMode(true);
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, u"Drivers\\Capture\\Pin", u"ThumbnailPinSupport"), 0u);
  EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, u"Drivers\\Capture\\Pin", u"NumberOfPins"), 3u);
  EXPECT_EQ(Read(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"ACTimeout"), 0u);
  EXPECT_EQ(Read(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"ACBrightness"), 10u);
  EXPECT_EQ(Read(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"LightDetectOn"), 0u);

  std::vector<CS_DATARANGE_VIDEO> ranges;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_STILL, &ranges), ERROR_SUCCESS);
  // The test tool's one size, and the JPEG offered as YV12 beside the VFE's own.
  ASSERT_EQ(ranges.size(), 2u);
  for (const CS_DATARANGE_VIDEO& r : ranges) {
    EXPECT_EQ(camclient::RangeFourcc(r), kFourccYV12);
    EXPECT_EQ(r.VideoInfoHeader.bmiHeader.biWidth, 320);
    EXPECT_EQ(std::abs(r.VideoInfoHeader.bmiHeader.biHeight), 240);
  }

  ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 10000), ERROR_SUCCESS);
  int32_t brightness = 0;
  ASSERT_EQ(camera_.GetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, &brightness), ERROR_SUCCESS);
  EXPECT_EQ(brightness, 10000) << "what the tool wrote, not the re-mapped value";

  ASSERT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, u"Drivers\\Capture\\Pin", u"ThumbnailPinSupport"), 1u);
  EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, u"Drivers\\Capture\\Pin", u"NumberOfPins"), 4u);
}

// A JPEG still pin takes the driver's buffers in test mode even where the registry
// asks for the client's.
TEST_F(AcceptanceTestMode, AJpegStillTakesTheDriversBuffersInTestMode) {
  HKEY key = nullptr;
  DWORD disposition = 0, mode = 2;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Capture\\Pin", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  RegSetValueExW(key, u"StillBufferAllocationMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), sizeof mode);
  RegCloseKey(key);
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  std::vector<CS_DATARANGE_VIDEO> ranges;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_STILL, &ranges), ERROR_SUCCESS);
  const CS_DATARANGE_VIDEO* jpeg = camclient::FindRange(ranges, 2592, 1944, CAMERA_FOURCC_IJPG);
  ASSERT_NE(jpeg, nullptr);
  for (bool testMode : {false, true}) {
    SCOPED_TRACE(testMode ? "test mode" : "normal");
    BoardSetCameraTestMode(testMode);
    Pin still;
    ASSERT_EQ(still.Open(), ERROR_SUCCESS);
    ASSERT_EQ(still.Instantiate(CS_PIN_STILL), ERROR_SUCCESS);
    ASSERT_EQ(still.SetFormat(camclient::FormatOfRange(*jpeg)), ERROR_SUCCESS);
    CSALLOCATOR_FRAMING framing{};
    ASSERT_EQ(still.Framing(&framing), ERROR_SUCCESS);
    EXPECT_EQ(framing.RequirementsFlags, testMode ? 1u : 2u);
  }
}

// ---- 10. Close gives everything back -------------------------------------------------

// Every block the camera takes while open is tagged with its owner; closing gives
// each one back. The host keeps a few untagged blocks of its own from its first start
// for the life of the process: those must not grow from one open to the next.
TEST_F(AcceptanceTest, CloseNotifiesTheKernelStopsTheHostAndGivesEveryBlockBack) {
  const size_t pmem = ChipSimPmemBlocks().size();
  uint32_t afterFirst = 0;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "first open" : "second open");
    CeSimClearKernelIoControl();
    ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
    {
      Pin preview;
      StartPreview(preview, BufferMemory::Contiguous);
      NextFrame(preview, Layout::Yv12);
      StopAndCollect(preview, kW * kH * 3 / 2);
      Pin still;
      Start(camera_, still, CS_PIN_STILL, 640, 480, CAMERA_FOURCC_IJPG, BufferMemory::Driver);
      ASSERT_EQ(camera_.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
      CS_STREAM_DESCRIPTOR* d = nullptr;
      ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
      ASSERT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
      EXPECT_EQ(still.DeallocateBuffers(), ERROR_SUCCESS);
    }
    ASSERT_EQ(camera_.Close(), ERROR_SUCCESS);
    std::vector<DWORD> codes;
    for (const CeSimKernelIoCall& c : CeSimKernelIoControlCalls()) codes.push_back(c.code);
    EXPECT_EQ(codes, (std::vector<DWORD>{kOemCameraOpened, kOemCameraClosed}));
    EXPECT_EQ(Orbhost_Stop(), PVL_E_NOTREADY) << "the driver left the host started";
    for (const auto& [tag, count] : OrbhostTest_LiveBlocksByTag())
      EXPECT_TRUE(tag == "untagged") << count << " blocks of " << tag << " left behind";
    if (round == 0) afterFirst = OrbhostTest_LiveBlocks(nullptr);
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), afterFirst) << "framework heap blocks left behind";
    EXPECT_EQ(ChipSimPmemBlocks().size(), pmem) << "contiguous memory left behind";
  }
}

}  // namespace
