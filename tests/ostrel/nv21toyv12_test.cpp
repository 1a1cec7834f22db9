// The pin's NV21-to-YV12 conversion on its own: every row width the vector loop
// and its tails meet, unaligned rows, the line buffer's limit, and a copy into
// the destination that fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "nv21toyv12.h"
#include "wince_sim.h"

namespace {

// A frame whose every byte differs from its neighbours, so a swapped or shifted
// sample shows.
std::vector<uint8_t> Frame(uint32_t w, uint32_t h) {
  std::vector<uint8_t> f(size_t(w) * h * 3 / 2);
  for (size_t i = 0; i < f.size(); ++i) f[i] = uint8_t(i * 7 + (i >> 8));
  return f;
}

// YV12 the plain way: luma, then every V (even chroma byte), then every U.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& nv21, uint32_t w, uint32_t h) {
  const size_t n = size_t(w) * h;
  std::vector<uint8_t> out(nv21.size());
  std::memcpy(out.data(), nv21.data(), n);
  size_t at = 0;
  for (uint32_t row = 0; row < h / 2; ++row)
    for (uint32_t pair = 0; pair < w / 2; ++pair, ++at) {
      out[n + at] = nv21[n + size_t(row) * w + 2 * pair];
      out[n + n / 4 + at] = nv21[n + size_t(row) * w + 2 * pair + 1];
    }
  return out;
}

struct SizeCase {
  const char* name;
  uint32_t width, height;
  uint32_t offset;  // bytes the source and destination sit past an aligned start
};

class Nv21ToYv12Sizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(Nv21ToYv12Sizes, MatchesThePlainConversion) {
  const SizeCase& c = GetParam();
  const std::vector<uint8_t> nv21 = Frame(c.width, c.height);
  std::vector<uint8_t> source(nv21.size() + 64), target(nv21.size() + 64 + 16, 0xEE);
  std::memcpy(source.data() + c.offset, nv21.data(), nv21.size());
  std::vector<uint8_t> line(kNv21LineBufferBytes);
  ASSERT_EQ(ConvertNv21ToYv12(source.data() + c.offset, target.data() + c.offset, c.width, c.height, line.data(),
                              uint32_t(line.size())),
            Nv21ToYv12Status::kOk);
  const std::vector<uint8_t> want = Reference(nv21, c.width, c.height);
  EXPECT_EQ(std::memcmp(target.data() + c.offset, want.data(), want.size()), 0);
  for (size_t i = c.offset + want.size(); i < target.size(); ++i)
    ASSERT_EQ(target[i], 0xEE) << "written past the frame at " << i;
  for (size_t i = 0; i < c.offset; ++i) ASSERT_EQ(target[i], 0xEE) << "written before the frame";
}

INSTANTIATE_TEST_SUITE_P(
    Widths, Nv21ToYv12Sizes,
    ::testing::Values(SizeCase{"OnePairPerRow", 2, 2, 0}, SizeCase{"FifteenPairsAllTail", 30, 4, 0},
                      SizeCase{"OneBlockOfSixteen", 32, 4, 0}, SizeCase{"OneBlockOfThirtyTwo", 64, 4, 0},
                      SizeCase{"EveryLoopAndATail", 98, 6, 0}, SizeCase{"UnalignedRows", 98, 6, 3},
                      SizeCase{"Preview320", 320, 240, 0}, SizeCase{"Preview640Unaligned", 640, 480, 5},
                      SizeCase{"AsWideAsTheLineBuffer", 4000, 4, 1},
                      SizeCase{"OddRowsInBatchesOfFour", 1000, 22, 1}),
    [](const ::testing::TestParamInfo<SizeCase>& i) { return std::string(i.param.name); });

// Within the frame itself (a buffer the port wrote that the client reads as YV12):
// the same planes, and nothing written outside the frame.
TEST_P(Nv21ToYv12Sizes, InPlaceMatchesThePlainConversion) {
  const SizeCase& c = GetParam();
  const std::vector<uint8_t> nv21 = Frame(c.width, c.height);
  std::vector<uint8_t> buffer(nv21.size() + 64 + 16, 0xEE);
  std::memcpy(buffer.data() + c.offset, nv21.data(), nv21.size());
  std::vector<uint8_t> line(kNv21LineBufferBytes),
      chroma(Nv21InPlaceScratchBytes(c.width, c.height, kNv21LineBufferBytes));
  ASSERT_EQ(ConvertNv21ToYv12InPlace(buffer.data() + c.offset, c.width, c.height, chroma.data(), line.data(),
                                     uint32_t(line.size())),
            Nv21ToYv12Status::kOk);
  const std::vector<uint8_t> want = Reference(nv21, c.width, c.height);
  EXPECT_EQ(std::memcmp(buffer.data() + c.offset, want.data(), want.size()), 0);
  for (size_t i = c.offset + want.size(); i < buffer.size(); ++i)
    ASSERT_EQ(buffer[i], 0xEE) << "written past the frame at " << i;
  for (size_t i = 0; i < c.offset; ++i) ASSERT_EQ(buffer[i], 0xEE) << "written before the frame";
}

TEST(Nv21ToYv12, InPlaceARowWiderThanTheLineBufferOrAFailedCopyIsSaid) {
  std::vector<uint8_t> wide = Frame(4002, 2), line(kNv21LineBufferBytes),
      chroma(Nv21InPlaceScratchBytes(64, 4, kNv21LineBufferBytes));
  const std::vector<uint8_t> before = wide;
  EXPECT_EQ(ConvertNv21ToYv12InPlace(wide.data(), 4002, 2, chroma.data(), line.data(), uint32_t(line.size())),
            Nv21ToYv12Status::kRowTooWide);
  EXPECT_EQ(wide, before) << "nothing written";
  for (DWORD copiesBefore : {0u, 1u, 2u}) {
    std::vector<uint8_t> frame = Frame(64, 4);
    CeSimInjectFault(CE_SIM_FAULT_SAFE_COPY, copiesBefore, 1);
    EXPECT_EQ(ConvertNv21ToYv12InPlace(frame.data(), 64, 4, chroma.data(), line.data(), uint32_t(line.size())),
              Nv21ToYv12Status::kLineCopyFailed)
        << copiesBefore;
    CeSimClearFaults();
  }
}

TEST(Nv21ToYv12, ARowWiderThanTheLineBufferWritesNothing) {
  const std::vector<uint8_t> nv21 = Frame(4002, 2);
  std::vector<uint8_t> target(nv21.size(), 0xEE), line(kNv21LineBufferBytes);
  EXPECT_EQ(ConvertNv21ToYv12(nv21.data(), target.data(), 4002, 2, line.data(), uint32_t(line.size())),
            Nv21ToYv12Status::kRowTooWide);
  EXPECT_EQ(target, std::vector<uint8_t>(nv21.size(), 0xEE));
}

// Every byte reaches the client's buffer through the kernel's safe copy: when one
// copy fails, the conversion stops there and says so; what came before is in place
// and nothing after it is written. At 2000 pixels a row the line buffer holds two
// chroma rows, so the four rows go out in two batches (V, then U, each).
struct CopyFailure {
  const char* name;
  DWORD copiesBefore;      // safe copies that succeed first
  bool luma;               // the luma plane is in place
  uint32_t vRows, uRows;   // chroma rows in place in each plane
};

class Nv21ToYv12Failures : public ::testing::TestWithParam<CopyFailure> {};

TEST_P(Nv21ToYv12Failures, AFailedCopyStopsTheConversion) {
  const CopyFailure& c = GetParam();
  const uint32_t w = 2000, h = 8;
  const std::vector<uint8_t> nv21 = Frame(w, h);
  std::vector<uint8_t> target(nv21.size(), 0xEE), line(kNv21LineBufferBytes);
  CeSimInjectFault(CE_SIM_FAULT_SAFE_COPY, c.copiesBefore, 1);
  const Nv21ToYv12Status status = ConvertNv21ToYv12(nv21.data(), target.data(), w, h, line.data(), uint32_t(line.size()));
  CeSimClearFaults();
  EXPECT_EQ(status, Nv21ToYv12Status::kLineCopyFailed);
  const std::vector<uint8_t> want = Reference(nv21, w, h);
  const size_t n = size_t(w) * h, quarter = n / 4, row = w / 2;
  auto planeMatches = [&](size_t at, size_t bytes) {
    return std::memcmp(target.data() + at, want.data() + at, bytes) == 0;
  };
  auto untouched = [&](size_t at, size_t bytes) {
    return std::all_of(target.begin() + at, target.begin() + at + bytes, [](uint8_t b) { return b == 0xEE; });
  };
  EXPECT_TRUE(c.luma ? planeMatches(0, n) : untouched(0, n)) << "luma";
  EXPECT_TRUE(planeMatches(n, c.vRows * row)) << "V rows before the failure";
  EXPECT_TRUE(untouched(n + c.vRows * row, quarter - c.vRows * row)) << "no V after it";
  EXPECT_TRUE(planeMatches(n + quarter, c.uRows * row)) << "U rows before the failure";
  EXPECT_TRUE(untouched(n + quarter + c.uRows * row, quarter - c.uRows * row)) << "no U after it";
}

INSTANTIATE_TEST_SUITE_P(
    Copies, Nv21ToYv12Failures,
    ::testing::Values(CopyFailure{"Luma", 0, false, 0, 0}, CopyFailure{"FirstV", 1, true, 0, 0},
                      CopyFailure{"FirstU", 2, true, 2, 0}, CopyFailure{"SecondV", 3, true, 2, 2},
                      CopyFailure{"SecondU", 4, true, 4, 2}),
    [](const ::testing::TestParamInfo<CopyFailure>& i) { return std::string(i.param.name); });

}  // namespace
