// NV21 to YV12: the luma plane is copied whole; each chroma row goes through the
// line buffer and is split into the V and U planes.
#include "nv21toyv12.h"

#include <emmintrin.h>

#include <cstring>

void SplitVuRow(const uint8_t* vu, uint8_t* v, uint8_t* u, uint32_t pairs) {
  // 16 pairs at a time: the even bytes (V) are the low halves of the 16-bit words,
  // the odd bytes (U) the high halves; each packs back to 16 bytes.
  const __m128i low = _mm_set1_epi16(0x00FF);
  uint32_t i = 0;
  for (; i + 32 <= pairs; i += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vu + 2 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vu + 2 * i + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vu + 2 * i + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vu + 2 * i + 48));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i),
                     _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i + 16),
                     _mm_packus_epi16(_mm_and_si128(c, low), _mm_and_si128(d, low)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u + i), _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u + i + 16),
                     _mm_packus_epi16(_mm_srli_epi16(c, 8), _mm_srli_epi16(d, 8)));
  }
  for (; i + 16 <= pairs; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vu + 2 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vu + 2 * i + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i),
                     _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u + i), _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
  }
  for (; i < pairs; ++i) {
    v[i] = vu[2 * i];
    u[i] = vu[2 * i + 1];
  }
}

namespace {

// The chroma rows at `chroma` split into the V and U planes at `v` and `u`. As many
// rows as the line buffer holds are split into it (their V, then their U: consecutive
// rows of a plane are contiguous), then copied out in two.
bool SplitChroma(const uint8_t* chroma, uint8_t* v, uint8_t* u, uint32_t width, uint32_t height, uint8_t* line,
                 uint32_t lineBytes, Nv21LineCopy copy) {
  const uint32_t pairs = width / 2;
  const uint32_t rows = height / 2;
  const uint32_t batch = width ? lineBytes / width : rows;
  for (uint32_t row = 0; row < rows; row += batch) {
    const uint32_t r = rows - row < batch ? rows - row : batch;
    const uint32_t bytes = r * pairs;
    for (uint32_t k = 0; k < r; ++k)
      SplitVuRow(chroma + uint64_t(row + k) * width, line + k * pairs, line + bytes + k * pairs, pairs);
    if (!copy(v, line, bytes) || !copy(u, line + bytes, bytes)) return false;
    v += bytes;
    u += bytes;
  }
  return true;
}

}  // namespace

Nv21ToYv12Status ConvertNv21ToYv12(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                                   uint8_t* line, uint32_t lineBytes, Nv21LineCopy copy) {
  if (width > lineBytes) return Nv21ToYv12Status::kRowTooWide;
  const uint64_t n = uint64_t(width) * height;
  if (!copy(destination, source, DWORD(n))) return Nv21ToYv12Status::kLineCopyFailed;
  if (!SplitChroma(source + n, destination + n, destination + n + n / 4, width, height, line, lineBytes, copy))
    return Nv21ToYv12Status::kLineCopyFailed;
  return Nv21ToYv12Status::kOk;
}

uint32_t Nv21InPlaceScratchBytes(uint32_t width, uint32_t height, uint32_t lineBytes) {
  const uint32_t rows = height / 2;
  return (rows - rows / 2) * (width / 2) + lineBytes;
}

// The V plane lies below the chroma rows it comes from and the U plane above the
// first half of them: the lower half of the rows goes first, from the last row up
// (its U rows land on rows already read, its V rows are held), then the upper half
// from the first row down (V and U straight to their places), then the held V rows.
// Rows are read into the line buffer with the safe copy and split into the
// scratch's tail; nothing but the lower half's V is set apart.
Nv21ToYv12Status ConvertNv21ToYv12InPlace(uint8_t* frame, uint32_t width, uint32_t height, uint8_t* scratch,
                                          uint8_t* line, uint32_t lineBytes, Nv21LineCopy copy) {
  if (width > lineBytes) return Nv21ToYv12Status::kRowTooWide;
  if (width == 0) return Nv21ToYv12Status::kOk;
  const uint32_t pairs = width / 2;
  const uint32_t rows = height / 2;
  const uint32_t split = rows / 2;
  const uint32_t batch = lineBytes / width;
  uint8_t* chroma = frame + uint64_t(width) * height;
  uint8_t* v = chroma;
  uint8_t* u = chroma + uint64_t(pairs) * rows;
  uint8_t* held = scratch;  // V of rows [split, rows)
  uint8_t* staged = scratch + uint64_t(rows - split) * pairs;
  // Rows [first, first + r) read and split: their V in `staged`, then their U.
  auto take = [&](uint32_t first, uint32_t r) {
    if (!copy(line, chroma + uint64_t(first) * width, r * width)) return false;
    for (uint32_t k = 0; k < r; ++k) SplitVuRow(line + k * width, staged + k * pairs, staged + (r + k) * pairs, pairs);
    return true;
  };
  for (uint32_t end = rows; end > split;) {
    const uint32_t r = end - split < batch ? end - split : batch;
    const uint32_t first = end - r;
    if (!take(first, r)) return Nv21ToYv12Status::kLineCopyFailed;
    std::memcpy(held + uint64_t(first - split) * pairs, staged, r * pairs);
    if (!copy(u + uint64_t(first) * pairs, staged + r * pairs, r * pairs)) return Nv21ToYv12Status::kLineCopyFailed;
    end = first;
  }
  for (uint32_t first = 0; first < split;) {
    const uint32_t r = split - first < batch ? split - first : batch;
    if (!take(first, r) || !copy(v + uint64_t(first) * pairs, staged, r * pairs) ||
        !copy(u + uint64_t(first) * pairs, staged + r * pairs, r * pairs))
      return Nv21ToYv12Status::kLineCopyFailed;
    first += r;
  }
  if (rows > split && !copy(v + uint64_t(split) * pairs, held, (rows - split) * pairs))
    return Nv21ToYv12Status::kLineCopyFailed;
  return Nv21ToYv12Status::kOk;
}
