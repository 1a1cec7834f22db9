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

// How the client's buffer holds the picture: the copy path writes YV12 (V plane then
// U plane), the zero-copy path leaves the VFE's NV21 (V and U interleaved).
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
  // change has reached the picture), the first that ends six frames whose mean luma
  // lies within 1.5 % (the exposure loop holds still for a frame or two between its
  // steps), or the last of 60.
  Nv21 SettledFrame(Pin& pin, Layout layout, int skip = 3) {
    for (int i = 0; i < skip; ++i) NextFrame(pin, layout);
    std::vector<double> lumas;
    Nv21 f;
    for (int i = 0; i < 60; ++i) {
      f = NextFrame(pin, layout);
      lumas.push_back(MeanLuma(f, kW, kH));
      if (lumas.size() < 6) continue;
      const auto [low, high] = std::minmax_element(lumas.end() - 6, lumas.end());
      if (*high - *low <= 0.015 * std::max(*high, 1.0)) break;
    }
    return f;
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
    {"contiguous memory, the VFE's NV21 in place", BufferMemory::Contiguous, Layout::Nv21},
    {"heap memory, copied into YV12", BufferMemory::Heap, Layout::Yv12},
};

TEST_F(AcceptanceTest, PreviewShowsTheChartAndStopReturnsEveryBufferInBothMemoryModes) {
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
    uint32_t id;
    int32_t value;
    Measure measure;
    int direction;     // +1 up, -1 down
    double fullScale;  // what 5 % is of; 0: of the measure before the change
  };
  const ControlCase cases[] = {
      {"brightness up", 0, 5000, MeanLuma, +1, 0},
      {"brightness down", 0, -5000, MeanLuma, -1, 0},
      {"contrast up", 1, 10000, WhiteBlackSpread, +1, 0},
      {"contrast down", 1, 0, WhiteBlackSpread, -1, 0},
      {"saturation up", 3, 10000, MeanChroma, +1, 0},
      {"saturation down", 3, 0, MeanChroma, -1, 0},
      {"hue +90", 2, 9000, MeanHueShift, +1, 360},
      {"hue -90", 2, -9000, MeanHueShift, -1, 360},
      {"sharpness up", 4, 100, DetailEdges, +1, 0},
      {"sharpness down", 4, 0, DetailEdges, -1, 0},
  };
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  Pin preview;
  StartPreview(preview, BufferMemory::Contiguous);
  for (const ControlCase& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t low = 0, high = 0, byDefault = 0;
    ASSERT_EQ(camera_.Range(PROPSETID_VIDCAP_VIDEOPROCAMP, c.id, &low, &high, &byDefault), ERROR_SUCCESS);
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, c.id, byDefault), ERROR_SUCCESS);
    const double before = c.measure(SettledFrame(preview, Layout::Nv21), kW, kH);
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, c.id, c.value), ERROR_SUCCESS);
    const double after = c.measure(SettledFrame(preview, Layout::Nv21), kW, kH);
    const double step = 0.05 * (c.fullScale ? c.fullScale : std::fabs(before));
    EXPECT_GE((after - before) * c.direction, step) << "from " << before << " to " << after;
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, c.id, byDefault), ERROR_SUCCESS);
  }
  StopAndCollect(preview, kW * kH * 3 / 2);
}

}  // namespace
