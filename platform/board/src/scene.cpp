// The scene in front of the lens and the pixel values the sensor makes of it.
//
// The light reaching each photosite is the scene's linear sRGB colour seen
// through the colour filter (M, the sensor's colour response) under an
// illuminant that scales each channel; the sensor integrates it for the
// exposure time and amplifies it by the analogue gain:
//   sample = black + kSceneScale x (illuminant[c] + LED light) x response x t x gain.
// The response to white light does not depend on exposure, gain, LED or
// illuminant, so it is computed once per read-out (whole array, or 2:1 binned,
// where each binned site averages the four nearest same-colour sites) into a
// plane of floats; a frame is then one multiply-add per sample with a factor per
// colour, and the fine-detail area is redrawn with the lens's contrast factor.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "board_internal.h"
#include "wince_sim.h"

namespace {

struct Plane {
  uint32_t width = 0, height = 0;
  std::vector<float> response;  // white-light response of each site's colour
  bool hasDetail = false;
  uint32_t detailX = 0, detailY = 0, detailW = 0, detailH = 0;  // in plane coordinates
};

struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<float> linear;  // 3 per pixel
};

struct Scene {
  std::mutex lock;
  BoardIlluminant illuminant = kDefaultIlluminant;
  std::shared_ptr<const Picture> picture;  // null: the chart
  uint64_t generation = 1;  // of the picture (the planes follow it)
  uint64_t changes = 0;     // of anything a render shows beside the frame's settings
  std::shared_ptr<const Plane> planes[3];  // by binning 1, 2
  uint64_t planeGeneration[3] = {};
  std::mutex buildLock;  // one build at a time, outside `lock`
  std::vector<BoardPixelDefect> defects;
};

Scene& S() {
  static Scene* s = new Scene;
  return *s;
}

float Response(int channel, const float lin[3]) {
  const float* m = kSensorColourMatrix[channel];
  return m[0] * lin[0] + m[1] * lin[1] + m[2] * lin[2];
}

// The chart's response of colour `channel` at full-array pixel (x, y).
class Chart {
 public:
  Chart() {
    for (int i = 0; i < 24; ++i) {
      float lin[3];
      for (int k = 0; k < 3; ++k) lin[k] = BoardSrgbToLinear(kChartPatches[i].srgb[k]);
      for (int c = 0; c < 3; ++c) patch_[i][c] = Response(c, lin);
    }
    background_ = BoardSrgbToLinear(kChartBackgroundSrgb);
    ramp_.resize(kChartGreyRamp.width);
    for (uint32_t i = 0; i < kChartGreyRamp.width; ++i)
      ramp_[i] = BoardSrgbToLinear(uint8_t(i * 255 / (kChartGreyRamp.width - 1)));
  }

  // Grey needs no colour response: the matrix's rows sum to 1.
  float At(uint32_t x, uint32_t y, int channel) const {
    const BoardChartRect& d = kChartFineDetail;
    if (x - d.x < d.width && y - d.y < d.height) {
      bool topHalf = y - d.y < d.height / 2;
      uint32_t along = topHalf ? x - d.x : y - d.y;
      bool bright = (along / (kChartBarPeriod / 2)) % 2 == 0;
      return kChartDetailMean + (bright ? kChartDetailAmplitude : -kChartDetailAmplitude);
    }
    const BoardChartRect& r = kChartGreyRamp;
    if (x - r.x < r.width && y - r.y < r.height) return ramp_[x - r.x];
    const uint32_t half = kChartPatchSize / 2;
    uint32_t ox = x + half - kChartPatchOrigin, oy = y + half - kChartPatchOrigin;  // wraps when left of the grid
    uint32_t col = ox / kChartPatchPitch, row = oy / kChartPatchPitch;
    if (col < 6 && row < 4 && ox % kChartPatchPitch < kChartPatchSize && oy % kChartPatchPitch < kChartPatchSize)
      return patch_[row * 6 + col][channel];
    return background_;
  }

 private:
  float patch_[24][3];
  float background_;
  std::vector<float> ramp_;
};

float PictureAt(const Picture& p, uint32_t x, uint32_t y, int channel) {
  uint32_t px = uint32_t(uint64_t(x) * p.width / kSensorArrayWidth);
  uint32_t py = uint32_t(uint64_t(y) * p.height / kSensorArrayHeight);
  return Response(channel, &p.linear[(size_t(py) * p.width + px) * 3]);
}

std::shared_ptr<const Plane> Build(uint32_t binning, const std::shared_ptr<const Picture>& picture) {
  static const Chart* chart = new Chart;
  auto plane = std::make_shared<Plane>();
  plane->width = kSensorArrayWidth / binning;
  plane->height = kSensorArrayHeight / binning;
  plane->response.resize(size_t(plane->width) * plane->height);
  auto at = [&](uint32_t x, uint32_t y, int c) { return picture ? PictureAt(*picture, x, y, c) : chart->At(x, y, c); };
  auto rows = [&](uint32_t first, uint32_t end) {
    for (uint32_t y = first; y < end; ++y) {
      float* row = &plane->response[size_t(y) * plane->width];
      for (uint32_t x = 0; x < plane->width; ++x) {
        int c = BoardCfaAt(x, y);
        if (binning == 1) {
          row[x] = at(x, y, c);
        } else {
          // The four nearest sites of the same colour: binning keeps the phase.
          uint32_t fx = 4 * (x >> 1) + (x & 1), fy = 4 * (y >> 1) + (y & 1);
          row[x] = 0.25f * (at(fx, fy, c) + at(fx + 2, fy, c) + at(fx, fy + 2, c) + at(fx + 2, fy + 2, c));
        }
      }
    }
  };
  // Rows are independent: a few threads build the plane, so that the first
  // frame of a read-out is not held up by it.
  const uint32_t cores = std::thread::hardware_concurrency();
  const uint32_t parts = std::clamp<uint32_t>(cores > 1 ? cores - 1 : 1, 1, 4);
  std::vector<std::thread> helpers;
  for (uint32_t i = 1; i < parts; ++i)
    helpers.emplace_back(rows, plane->height * i / parts, plane->height * (i + 1) / parts);
  rows(0, plane->height / parts);
  for (std::thread& t : helpers) t.join();
  if (!picture) {
    plane->hasDetail = true;
    plane->detailX = kChartFineDetail.x / binning;
    plane->detailY = kChartFineDetail.y / binning;
    plane->detailW = kChartFineDetail.width / binning;
    plane->detailH = kChartFineDetail.height / binning;
  }
  return plane;
}

std::shared_ptr<const Plane> PlaneFor(uint32_t binning) {
  Scene& s = S();
  std::lock_guard<std::mutex> b(s.buildLock);
  std::shared_ptr<const Picture> picture;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (s.planes[binning] && s.planeGeneration[binning] == s.generation) return s.planes[binning];
    picture = s.picture;
    generation = s.generation;
  }
  auto plane = Build(binning, picture);
  std::lock_guard<std::mutex> g(s.lock);
  if (generation == s.generation) {
    s.planes[binning] = plane;
    s.planeGeneration[binning] = generation;
  }
  return plane;
}

inline uint16_t Sample(float v) { return uint16_t(std::min(v + 0.5f, float(kSensorMaxSample))); }

void SceneLog(const std::string& text);

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Reads one header token of a PPM, skipping comments.
bool PpmToken(std::istream& in, uint32_t* value) {
  for (;;) {
    int c = in.peek();
    if (c == '#') {
      std::string skip;
      std::getline(in, skip);
    } else if (std::isspace(c)) {
      in.get();
    } else {
      break;
    }
  }
  return bool(in >> *value);
}

}  // namespace

float BoardSrgbToLinear(uint8_t value) {
  float v = value / 255.0f;
  return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float BoardFocusContrast(uint32_t lensCode) {
  float distance = std::fabs(float(lensCode) - float(kSceneFocusLensCode));
  return 1.0f / (1.0f + distance / float(kSceneFocusSpread));
}

void BoardSceneSetIlluminant(BoardIlluminant illuminant) {
  if (illuminant < 0 || illuminant >= kIlluminantCount) return;
  std::lock_guard<std::mutex> g(S().lock);
  S().illuminant = illuminant;
}

BoardIlluminant BoardSceneIlluminant() {
  std::lock_guard<std::mutex> g(S().lock);
  return S().illuminant;
}

bool BoardSceneUsePpm(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  char magic[2] = {};
  uint32_t w = 0, h = 0, maxval = 0;
  if (!in.read(magic, 2) || magic[0] != 'P' || magic[1] != '6' || !PpmToken(in, &w) || !PpmToken(in, &h) ||
      !PpmToken(in, &maxval) || w == 0 || h == 0 || w > 16384 || h > 16384 || maxval == 0 || maxval > 65535) {
    SceneLog("scene picture " + hostPath + " is not a binary PPM");
    return false;
  }
  in.get();  // the single white-space character before the data
  const size_t bytesPerValue = maxval > 255 ? 2 : 1;
  std::vector<uint8_t> raw(size_t(w) * h * 3 * bytesPerValue);
  if (!in.read(reinterpret_cast<char*>(raw.data()), std::streamsize(raw.size()))) {
    SceneLog("scene picture " + hostPath + " is cut short");
    return false;
  }
  auto picture = std::make_shared<Picture>();
  picture->width = w;
  picture->height = h;
  picture->linear.resize(size_t(w) * h * 3);
  float table[256];
  for (int i = 0; i < 256; ++i) table[i] = BoardSrgbToLinear(uint8_t(i));
  for (size_t i = 0; i < picture->linear.size(); ++i) {
    uint32_t v = bytesPerValue == 2 ? (uint32_t(raw[2 * i]) << 8 | raw[2 * i + 1]) : raw[i];
    picture->linear[i] = table[std::min<uint32_t>(255, (v * 255 + maxval / 2) / maxval)];
  }
  std::lock_guard<std::mutex> g(S().lock);
  S().picture = picture;
  ++S().generation;
  ++S().changes;
  return true;
}

void BoardSensorSetDefects(const std::vector<BoardPixelDefect>& defects) {
  std::lock_guard<std::mutex> g(S().lock);
  S().defects = defects;
  ++S().changes;
}

void BoardSceneUseChart() {
  std::lock_guard<std::mutex> g(S().lock);
  if (!S().picture) return;
  S().picture = nullptr;
  ++S().generation;
  ++S().changes;
}

bool BoardReloadSettings() {
  BoardSceneUseChart();
  BoardSceneSetIlluminant(kDefaultIlluminant);
  std::string path = CeSimHostPath(u"\\board.cfg");
  std::ifstream in(path);
  if (path.empty() || !in) return true;  // no settings: the defaults
  static const char* const kNames[kIlluminantCount] = {"neutral", "daylight", "incandescent", "fluorescent"};
  bool ok = true;
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    std::string key = Lower(Trim(line.substr(0, eq))), value = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
    if (key == "illuminant") {
      const char* const* it = std::find(kNames, kNames + kIlluminantCount, Lower(value));
      if (it == kNames + kIlluminantCount) {
        SceneLog("board.cfg: unknown illuminant \"" + value + "\"");
        ok = false;
      } else {
        BoardSceneSetIlluminant(BoardIlluminant(it - kNames));
      }
    } else if (key == "scene") {
      std::string host = CeSimHostPath(CeSimWiden(value));
      if (host.empty() || !BoardSceneUsePpm(host)) {
        SceneLog("board.cfg: scene \"" + value + "\" cannot be used, the chart stays");
        ok = false;
      }
    } else {
      SceneLog("board.cfg: unknown key \"" + key + "\"");
      ok = false;
    }
  }
  return ok;
}

namespace {
// Defective sites override whatever the scene put there.
void ApplyDefects(const BoardFrameInfo& frame, uint16_t* dst, size_t stride) {
  std::lock_guard<std::mutex> g(S().lock);
  for (const BoardPixelDefect& d : S().defects)
    if (d.x < frame.width && d.y < frame.height) dst[size_t(d.y) * stride + d.x] = std::min(d.value, kSensorMaxSample);
}
}  // namespace

namespace board {

uint64_t SceneChanges() {
  std::lock_guard<std::mutex> g(S().lock);
  return S().changes;
}

void SceneReset() {
  {
    std::lock_guard<std::mutex> g(S().lock);
    S().defects.clear();
    ++S().changes;
  }
  BoardReloadSettings();
}

// The sensor's read-outs see the scene from the moment it leaves reset: the
// planes are built then, beside the system's start-up, not in the first frame.
void ScenePrepare() {
  Scene& s = S();
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (s.planes[2] && s.planeGeneration[2] == s.generation) return;
  }
  std::thread([] { PlaneFor(2); }).detach();
}

void SceneRender(const BoardFrameInfo& frame, uint16_t* dst, size_t stride, const RowRunner& runner) {
  std::shared_ptr<const Plane> plane = PlaneFor(frame.binning);
  const float* illuminant = kIlluminantRgb[frame.illuminant];
  const float scale = float(kSceneScale * frame.exposureSeconds * frame.gainCode / 32.0);
  float mul[3];
  for (int c = 0; c < 3; ++c) mul[c] = scale * (illuminant[c] + frame.ledLight);
  const float black = kSensorBlackLevel;
  // The fine detail around its grey mean, as sharp as the lens makes it.
  const float contrast = BoardFocusContrast(frame.lensCode);
  const float mean = kChartDetailMean;
  const uint32_t detailEnd = std::min(frame.height, plane->detailY + plane->detailH);
  const uint32_t x1 = std::min(frame.width, plane->detailX + plane->detailW);
  auto rows = [&](uint32_t first, uint32_t end) {
    for (uint32_t y = first; y < end; ++y) {
      const float* in = &plane->response[size_t(y) * plane->width];
      uint16_t* out = dst + size_t(y) * stride;
      const float m0 = mul[BoardCfaAt(0, y)], m1 = mul[BoardCfaAt(1, y)];
      uint32_t x = 0;
      for (; x + 1 < frame.width; x += 2) {
        out[x] = Sample(black + m0 * in[x]);
        out[x + 1] = Sample(black + m1 * in[x + 1]);
      }
      if (x < frame.width) out[x] = Sample(black + m0 * in[x]);
      if (!plane->hasDetail || y < plane->detailY || y >= detailEnd) continue;
      for (x = plane->detailX; x < x1; ++x)
        out[x] = Sample(black + mul[BoardCfaAt(x, y)] * (mean + contrast * (in[x] - mean)));
    }
  };
  if (runner)
    runner(frame.height, rows);
  else
    rows(0, frame.height);
  ApplyDefects(frame, dst, stride);
}

}  // namespace board

namespace {
void SceneLog(const std::string& text) { board::SensorLogLine(text); }
}  // namespace
