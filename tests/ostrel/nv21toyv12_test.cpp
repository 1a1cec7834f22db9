// The pin's NV21-to-YV12 conversion on its own: every row width the vector loop
// and its tails meet, unaligned rows, the line buffer's limit, and a chroma row
// that cannot be read.
#include <gtest/gtest.h>

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
                      SizeCase{"AsWideAsTheLineBuffer", 4000, 4, 1}),
    [](const ::testing::TestParamInfo<SizeCase>& i) { return std::string(i.param.name); });

TEST(Nv21ToYv12, ARowWiderThanTheLineBufferWritesNothing) {
  const std::vector<uint8_t> nv21 = Frame(4002, 2);
  std::vector<uint8_t> target(nv21.size(), 0xEE), line(kNv21LineBufferBytes);
  EXPECT_EQ(ConvertNv21ToYv12(nv21.data(), target.data(), 4002, 2, line.data(), uint32_t(line.size())),
            Nv21ToYv12Status::kRowTooWide);
  EXPECT_EQ(target, std::vector<uint8_t>(nv21.size(), 0xEE));
}

// The pin reads chroma rows with the kernel's safe copy: when one fails, the
// conversion stops there and says so; the rows before it are in place.
TEST(Nv21ToYv12, AChromaRowThatCannotBeReadStopsTheConversion) {
  const uint32_t w = 64, h = 8;
  const std::vector<uint8_t> nv21 = Frame(w, h);
  std::vector<uint8_t> target(nv21.size(), 0xEE), line(kNv21LineBufferBytes);
  CeSimInjectFault(CE_SIM_FAULT_SAFE_COPY, 2, 1);  // the third row's read fails
  const Nv21ToYv12Status status = ConvertNv21ToYv12(nv21.data(), target.data(), w, h, line.data(), uint32_t(line.size()));
  CeSimClearFaults();
  EXPECT_EQ(status, Nv21ToYv12Status::kLineCopyFailed);
  const std::vector<uint8_t> want = Reference(nv21, w, h);
  const size_t n = size_t(w) * h, quarter = n / 4, done = 2 * (w / 2);
  EXPECT_EQ(std::memcmp(target.data(), want.data(), n + done), 0) << "luma and the first two V rows";
  EXPECT_EQ(std::memcmp(target.data() + n + quarter, want.data() + n + quarter, done), 0) << "the first two U rows";
  EXPECT_EQ(target[n + done], 0xEE) << "no V from the row that failed";
  EXPECT_EQ(target[n + quarter + done], 0xEE) << "no U from the row that failed";
}

}  // namespace
