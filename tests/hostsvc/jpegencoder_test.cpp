// The JPEG encoder, checked by decoding its output with djpeg.
#include "jpegencoder.h"

#include <gtest/gtest.h>

#include "jpegcheck.h"
#include "jpegencoder_simd.h"
#include "nv21frame.h"

using namespace orbhost::services;
using namespace hostsvc::test;
using namespace camera::test;

namespace {

struct EncodeCase {
  uint32_t width, height;
  int quality;
  CropRect crop;
  double minLumaPsnr, minRgbPsnr;
};

class JpegEncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(JpegEncodeTest, DecodesToTheSourcePicture) {
  const EncodeCase& c = GetParam();
  std::vector<uint8_t> pic = Nv21Picture(c.width, c.height);
  JpegEncoder enc;
  JpegEncoder::Options opt;
  opt.quality = c.quality;
  opt.crop = c.crop;
  std::vector<uint8_t> jpeg;
  std::string why;
  ASSERT_EQ(enc.Encode(Nv21Frame::Packed(pic.data(), c.width, c.height), opt, jpeg, &why), JpegStatus::kOk) << why;
  ASSERT_GE(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);

  uint32_t x0 = c.crop.IsEmpty() ? 0 : c.crop.left, y0 = c.crop.IsEmpty() ? 0 : c.crop.top;
  uint32_t w = c.crop.IsEmpty() ? c.width : c.crop.right - c.crop.left + 1;
  uint32_t h = c.crop.IsEmpty() ? c.height : c.crop.bottom - c.crop.top + 1;
  Decoded gray = DecodeWithDjpeg(jpeg, true);
  ASSERT_TRUE(gray.ok) << gray.error;
  EXPECT_EQ(gray.width, w);
  EXPECT_EQ(gray.height, h);
  EXPECT_GE(LumaPsnr(gray, pic, c.width, x0, y0), c.minLumaPsnr);
  Decoded rgb = DecodeWithDjpeg(jpeg, false);
  ASSERT_TRUE(rgb.ok) << rgb.error;
  // Chroma of an odd crop origin sits half a sample off; the RGB bound allows for it.
  EXPECT_GE(RgbPsnr(rgb, pic, c.width, c.height, x0, y0), c.minRgbPsnr);
}

INSTANTIATE_TEST_SUITE_P(
    SizesQualitiesAndCrops, JpegEncodeTest,
    ::testing::Values(
        EncodeCase{640, 480, 75, {}, 34, 30},              // whole MCUs
        EncodeCase{640, 480, 95, {}, 40, 32},
        EncodeCase{640, 480, 100, {}, 45, 32},
        EncodeCase{646, 482, 90, {}, 38, 31},              // partial MCUs on both edges
        EncodeCase{2, 2, 75, {}, 25, 22},                  // smallest frame
        EncodeCase{18, 2, 75, {}, 30, 25},
        EncodeCase{320, 240, 1, {}, 14, 12},                // lowest quality still decodes
        EncodeCase{640, 480, 85, {0, 0, 319, 239}, 36, 30},
        EncodeCase{640, 480, 85, {1, 3, 638, 476}, 36, 26},  // odd origin and size
        EncodeCase{640, 480, 85, {600, 440, 639, 479}, 36, 28},  // the bottom-right corner
        EncodeCase{640, 480, 85, {17, 9, 17, 9}, 30, 20}));     // one pixel

TEST(JpegEncoder, HigherQualityGivesLargerFiles) {
  std::vector<uint8_t> pic = Nv21Picture(320, 240);
  JpegEncoder enc;
  size_t last = 0;
  for (int q : {10, 50, 75, 95}) {
    JpegEncoder::Options opt;
    opt.quality = q;
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(enc.Encode(Nv21Frame::Packed(pic.data(), 320, 240), opt, jpeg), JpegStatus::kOk);
    EXPECT_GT(jpeg.size(), last) << "quality " << q;
    last = jpeg.size();
  }
}

TEST(JpegEncoder, QuantisationTablesFollowTheQualityScale) {
  uint8_t t[64];
  JpegEncoder::QuantTable(50, 0, t);  // quality 50 is the standard table itself
  EXPECT_EQ(t[0], 16);
  EXPECT_EQ(t[63], 99);
  JpegEncoder::QuantTable(75, 0, t);
  EXPECT_EQ(t[0], 8);
  JpegEncoder::QuantTable(100, 1, t);
  EXPECT_EQ(t[0], 1);
  JpegEncoder::QuantTable(1, 1, t);
  EXPECT_EQ(t[63], 255);  // clamped to the baseline limit
}

TEST(JpegEncoder, HonoursRowStrides) {
  const uint32_t w = 96, h = 64, stride = 128;
  std::vector<uint8_t> pic = Nv21Picture(w, h);
  std::vector<uint8_t> padded(stride * h * 3 / 2, 0xEE);
  for (uint32_t y = 0; y < h * 3 / 2; ++y) std::copy_n(pic.data() + y * w, w, padded.data() + y * stride);
  Nv21Frame f;
  f.y = padded.data();
  f.vu = padded.data() + stride * h;
  f.width = w;
  f.height = h;
  f.yStride = f.vuStride = stride;
  JpegEncoder enc;
  std::vector<uint8_t> a, b;
  ASSERT_EQ(enc.Encode(f, {}, a), JpegStatus::kOk);
  ASSERT_EQ(enc.Encode(Nv21Frame::Packed(pic.data(), w, h), {}, b), JpegStatus::kOk);
  EXPECT_EQ(a, b);
}

TEST(JpegEncoder, RefusesBadFramesAndOptions) {
  std::vector<uint8_t> pic = Nv21Picture(64, 48);
  Nv21Frame good = Nv21Frame::Packed(pic.data(), 64, 48);
  struct Case {
    const char* what;
    Nv21Frame frame;
    JpegEncoder::Options opt;
    const char* words;
  };
  auto with = [&](auto change) {
    Nv21Frame f = good;
    change(f);
    return f;
  };
  auto opts = [](int q, CropRect c) {
    JpegEncoder::Options o;
    o.quality = q;
    o.crop = c;
    return o;
  };
  Case cases[] = {
      {"no pixels", with([](Nv21Frame& f) { f.y = nullptr; }), {}, "without pixel data"},
      {"no chroma", with([](Nv21Frame& f) { f.vu = nullptr; }), {}, "without pixel data"},
      {"zero width", with([](Nv21Frame& f) { f.width = 0; }), {}, "empty"},
      {"zero height", with([](Nv21Frame& f) { f.height = 0; }), {}, "empty"},
      {"odd width", with([](Nv21Frame& f) { f.width = 63; }), {}, "odd"},
      {"odd height", with([](Nv21Frame& f) { f.height = 47; }), {}, "odd"},
      {"huge", with([](Nv21Frame& f) { f.width = 70000; f.yStride = f.vuStride = 70000; }), {}, "65535"},
      {"short stride", with([](Nv21Frame& f) { f.yStride = 32; }), {}, "stride"},
      {"over 2 GB", with([](Nv21Frame& f) { f.width = f.yStride = f.vuStride = 65534; f.height = 43694; }), {}, "2 GB"},
      {"quality 0", good, opts(0, {}), "quality"},
      {"quality 101", good, opts(101, {}), "quality"},
      {"crop right of frame", good, opts(75, {0, 0, 64, 47}), "outside"},
      {"crop below frame", good, opts(75, {0, 0, 63, 48}), "outside"},
      {"crop inverted", good, opts(75, {10, 10, 5, 20}), "outside"},
      {"crop negative", good, opts(75, {-1, 0, 10, 10}), "outside"},
  };
  JpegEncoder enc;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> out{1, 2, 3};
    std::string why;
    EXPECT_EQ(enc.Encode(c.frame, c.opt, out, &why), JpegStatus::kBadArgument);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(why.find(c.words), std::string::npos) << why;
  }
}

TEST(ScaleNv21, AveragesAreasAndKeepsFlatColours) {
  const uint32_t w = 64, h = 48;
  std::vector<uint8_t> flat = Nv21Flat(w, h, 100, 200, 50);  // Y, V, U
  std::vector<uint8_t> out;
  for (auto [dw, dh] : {std::pair{32u, 24u}, std::pair{10u, 6u}, std::pair{128u, 96u}}) {
    ASSERT_TRUE(ScaleNv21(Nv21Frame::Packed(flat.data(), w, h), {}, dw, dh, out));
    ASSERT_EQ(out.size(), Nv21Frame::PackedSize(dw, dh));
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[dw * dh - 1], 100);
    EXPECT_EQ(out[dw * dh], 200);
    EXPECT_EQ(out[out.size() - 1], 50);
  }
  // A 2x2 average of a checkerboard is its mean.
  std::vector<uint8_t> checker(w * h * 3 / 2, 128);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) checker[y * w + x] = ((x + y) & 1) ? 200 : 100;
  ASSERT_TRUE(ScaleNv21(Nv21Frame::Packed(checker.data(), w, h), {}, w / 2, h / 2, out));
  EXPECT_EQ(out[0], 150);
  // The crop selects the source area.
  ASSERT_TRUE(ScaleNv21(Nv21Frame::Packed(checker.data(), w, h), {0, 0, 0, 1}, 2, 2, out));
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[2], 200);

  EXPECT_FALSE(ScaleNv21(Nv21Frame::Packed(flat.data(), w, h), {}, 3, 2, out));
  EXPECT_FALSE(ScaleNv21(Nv21Frame::Packed(flat.data(), w, h), {}, 0, 0, out));
  EXPECT_FALSE(ScaleNv21(Nv21Frame::Packed(flat.data(), w, h), {0, 0, 64, 10}, 2, 2, out));
  EXPECT_FALSE(ScaleNv21(Nv21Frame::Packed(nullptr, w, h), {}, 2, 2, out));
}

// ---- The encoder paths: the vector code must give the portable code's bytes ----

// A 0/255 checkerboard: the largest transform outputs.
std::vector<uint8_t> Checkerboard(uint32_t w, uint32_t h) {
  std::vector<uint8_t> p(static_cast<size_t>(Nv21Frame::PackedSize(w, h)));
  for (size_t i = 0; i < p.size(); ++i) p[i] = ((i % w + i / w) & 1) ? 255 : 0;
  return p;
}

TEST(JpegEncoderPaths, EveryPathGivesTheScalarPathsBytes) {
  struct Case {
    const char* name;
    std::vector<uint8_t> pic;
    uint32_t width, height;
    int quality;
    CropRect crop;
    bool uFirst;
  };
  const Case cases[] = {
      {"picture q75", Nv21Picture(320, 240), 320, 240, 75, {}, false},
      {"picture q95 NV12", Nv21Picture(320, 240), 320, 240, 95, {}, true},
      {"partial MCUs q90", Nv21Picture(646, 482), 646, 482, 90, {}, false},
      {"odd crop q85", Nv21Picture(640, 480), 640, 480, 85, {1, 3, 638, 476}, false},
      // Noise: every coefficient large, many 0xFF bytes to stuff.
      {"noise q100", Nv21Noise(96, 64), 96, 64, 100, {}, false},
      {"noise q1", Nv21Noise(96, 64), 96, 64, 1, {}, false},
      {"checkerboard q100", Checkerboard(64, 48), 64, 48, 100, {}, false},
      {"checkerboard q50", Checkerboard(64, 48), 64, 48, 50, {}, true},
  };
  const std::pair<const char*, JpegKernels> paths[] = {
      {"SSE2", JpegKernels::kSse2}, {"AVX2", JpegKernels::kAvx2}, {"best", JpegKernels::kBest}};
  JpegEncoder enc;
  for (const Case& c : cases) {
    Nv21Frame f = Nv21Frame::Packed(c.pic.data(), c.width, c.height);
    f.uFirst = c.uFirst;
    JpegEncoder::Options opt;
    opt.quality = c.quality;
    opt.crop = c.crop;
    opt.kernels = JpegKernels::kScalar;
    std::vector<uint8_t> scalar;
    ASSERT_EQ(enc.Encode(f, opt, scalar), JpegStatus::kOk) << c.name;
    for (auto [pathName, kernels] : paths) {
      if (!JpegEncoder::KernelsAvailable(kernels)) continue;
      opt.kernels = kernels;
      std::vector<uint8_t> out;
      ASSERT_EQ(enc.Encode(f, opt, out), JpegStatus::kOk) << c.name << ", " << pathName;
      EXPECT_EQ(out, scalar) << c.name << ": the " << pathName << " path differs";
    }
  }
}

TEST(JpegEncoderPaths, APathThisProcessorLacksIsRefused) {
  EXPECT_TRUE(JpegEncoder::KernelsAvailable(JpegKernels::kScalar));
  EXPECT_TRUE(JpegEncoder::KernelsAvailable(JpegKernels::kSse2));
  EXPECT_TRUE(JpegEncoder::KernelsAvailable(JpegKernels::kBest));
  if (JpegEncoder::KernelsAvailable(JpegKernels::kAvx2)) GTEST_SKIP() << "this processor has AVX2";
  std::vector<uint8_t> pic = Nv21Picture(64, 48);
  JpegEncoder::Options opt;
  opt.kernels = JpegKernels::kAvx2;
  std::vector<uint8_t> out;
  std::string why;
  EXPECT_EQ(JpegEncoder().Encode(Nv21Frame::Packed(pic.data(), 64, 48), opt, out, &why), JpegStatus::kBadArgument);
  EXPECT_NE(why.find("processor"), std::string::npos) << why;
}

// Quantisation divides by reciprocal multiplication; it must equal the exact division
// (ties towards zero) for every table value and every magnitude the transform can give.
TEST(JpegEncoderPaths, ReciprocalQuantisationDividesExactly) {
  for (int qv = 1; qv <= 255; ++qv) {
    uint8_t table[64];
    std::fill_n(table, 64, static_cast<uint8_t>(qv));
    jpegsimd::QuantDivisors d;
    jpegsimd::BuildQuantDivisors(table, d);
    const uint32_t div = 8u * qv;
    for (uint32_t a = 0; a <= 16384; ++a) {
      uint32_t t = static_cast<uint16_t>(a + d.corr[0]);
      uint32_t got = ((t * d.recip[0]) >> 16) * d.scale[0] >> 16;
      uint32_t want = (a + div / 2 - 1) / div;
      if (got != want) {
        FAIL() << "table value " << qv << ", magnitude " << a << ": " << got << " instead of " << want;
      }
    }
  }
}

// The integer quantiser replaced a floating-point one; pictures keep the quality and the
// sizes they had (recorded from that encoder, decoded by djpeg).
TEST(JpegEncoderPaths, QualityAndSizeStayAsRecorded) {
  struct Case {
    const char* name;
    uint32_t width, height;
    int quality;
    size_t size;
    double lumaPsnr, rgbPsnr;
  };
  const Case cases[] = {
      {"640x480 q75", 640, 480, 75, 18558, 41.189, 40.569},
      {"640x480 q95", 640, 480, 95, 73563, 44.538, 44.055},
      {"1296x972 q75", 1296, 972, 75, 71225, 41.576, 41.001},
      {"1296x972 q95", 1296, 972, 95, 296157, 44.572, 44.232},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> pic = Nv21Picture(c.width, c.height);
    JpegEncoder::Options opt;
    opt.quality = c.quality;
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(JpegEncoder().Encode(Nv21Frame::Packed(pic.data(), c.width, c.height), opt, jpeg), JpegStatus::kOk);
    EXPECT_NEAR(static_cast<double>(jpeg.size()), static_cast<double>(c.size), c.size * 0.01);
    Decoded gray = DecodeWithDjpeg(jpeg, true);
    ASSERT_TRUE(gray.ok) << gray.error;
    EXPECT_GE(LumaPsnr(gray, pic, c.width, 0, 0), c.lumaPsnr - 0.05);
    Decoded rgb = DecodeWithDjpeg(jpeg, false);
    ASSERT_TRUE(rgb.ok) << rgb.error;
    EXPECT_GE(RgbPsnr(rgb, pic, c.width, c.height, 0, 0), c.rgbPsnr - 0.05);
  }
}

}  // namespace
