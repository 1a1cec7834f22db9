#include "jpegencoder.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace orbhost::services {

namespace {

// ---- Tables of the JPEG standard (ITU-T T.81, Annex K) ----

constexpr uint8_t kLumaQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

constexpr uint8_t kChromaQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Natural index of each zig-zag position.
constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr uint8_t kDcLumaBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcLumaVals[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kDcChromaBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChromaVals[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

constexpr uint8_t kAcLumaBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kAcLumaVals[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

constexpr uint8_t kAcChromaBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChromaVals[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

constexpr int SumBits(const uint8_t (&bits)[16]) {
  int s = 0;
  for (uint8_t b : bits) s += b;
  return s;
}
static_assert(SumBits(kDcLumaBits) == 12 && SumBits(kDcChromaBits) == 12);
static_assert(SumBits(kAcLumaBits) == 162 && SumBits(kAcChromaBits) == 162);

struct HuffTable {
  uint16_t code[256];
  uint8_t size[256];
};

void BuildHuff(const uint8_t bits[16], const uint8_t* vals, HuffTable& t) {
  std::memset(&t, 0, sizeof t);
  uint32_t code = 0;
  int k = 0;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < bits[len - 1]; ++i, ++k) {
      t.code[vals[k]] = static_cast<uint16_t>(code);
      t.size[vals[k]] = static_cast<uint8_t>(len);
      ++code;
    }
    code <<= 1;
  }
}

inline int BitLength(uint32_t v) { return v ? 32 - __builtin_clz(v) : 0; }

// Entropy-coded output with 0xFF byte stuffing. A 32-bit buffer (i386 has no 64-bit
// registers): codes are shifted in until it is full, then it is written out at once.
class BitWriter {
 public:
  friend struct BlockCoder;
  explicit BitWriter(uint8_t* p) : p_(p) {}
  uint8_t* Position() const { return p_; }
  void SetPosition(uint8_t* p) { p_ = p; }

  // `bits` holds no set bit above `len`; len <= 31.
  inline void Put(uint32_t bits, int len) {
    free_ -= len;
    if (free_ >= 0) {
      buf_ = (buf_ << len) | bits;
      return;
    }
    uint32_t w = (buf_ << (len + free_)) | (bits >> -free_);
    Flush32(w);
    free_ += 32;
    buf_ = bits;  // its top bits were written; they leave the buffer as it fills
  }

  // Pads the last byte with one bits and writes out what is left.
  void Finish() {
    int used = 32 - free_;
    int pad = (8 - (used & 7)) & 7;
    if (pad) Put((1u << pad) - 1, pad);
    used = 32 - free_;
    for (int s = used - 8; s >= 0; s -= 8) {
      uint8_t b = static_cast<uint8_t>(buf_ >> s);
      *p_++ = b;
      if (b == 0xFF) *p_++ = 0;
    }
    free_ = 32;
    buf_ = 0;
  }

 private:
  inline void Flush32(uint32_t w) {
    uint32_t inv = ~w;
    if (__builtin_expect(((inv - 0x01010101u) & ~inv & 0x80808080u) == 0, 1)) {  // no 0xFF byte
      uint32_t be = __builtin_bswap32(w);
      std::memcpy(p_, &be, 4);
      p_ += 4;
    } else {
      for (int s = 24; s >= 0; s -= 8) {
        uint8_t b = static_cast<uint8_t>(w >> s);
        *p_++ = b;
        if (b == 0xFF) *p_++ = 0;
      }
    }
  }

  uint32_t buf_ = 0;
  int free_ = 32;
  uint8_t* p_;
};

struct alignas(16) BlockTables {
  float recip[64];  // by output position (transposed natural order)
};

// The transform leaves coefficient (row v, column h) at position h * 8 + v.
constexpr int PositionOfNatural(int nat) { return (nat % 8) * 8 + nat / 8; }

// Output position of each zig-zag coefficient.
struct ZigzagPositions {
  uint8_t pos[64];
};
constexpr ZigzagPositions MakeZigzagPositions() {
  ZigzagPositions z{};
  for (int k = 0; k < 64; ++k) z.pos[k] = static_cast<uint8_t>(PositionOfNatural(kZigzag[k]));
  return z;
}
constexpr ZigzagPositions kZzPos = MakeZigzagPositions();

// Non-zero masks: for each row of eight positions and each byte of position bits, the
// same coefficients as bits of zig-zag order (low and high 32 bits), so that the block
// never has to be reordered.
struct ZigzagMasks {
  uint32_t lo[8][256];
  uint32_t hi[8][256];
};
constexpr ZigzagMasks MakeZigzagMasks() {
  ZigzagMasks m{};
  int zzOfPos[64] = {};
  for (int k = 0; k < 64; ++k) zzOfPos[PositionOfNatural(kZigzag[k])] = k;
  for (int r = 0; r < 8; ++r) {
    for (int b = 0; b < 256; ++b) {
      for (int j = 0; j < 8; ++j) {
        if (!(b & (1 << j))) continue;
        int z = zzOfPos[r * 8 + j];
        if (z < 32) m.lo[r][b] |= 1u << z;
        else m.hi[r][b] |= 1u << (z - 32);
      }
    }
  }
  return m;
}
constexpr ZigzagMasks kZzMasks = MakeZigzagMasks();

// ---- Forward DCT: the accurate integer transform (13-bit constants, two extra bits
// between the passes), eight columns per SSE2 register; outputs are 8 times the DCT ----

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
constexpr int16_t F0298 = 2446, F0390 = 3196, F0541 = 4433, F0765 = 6270, F0899 = 7373, F1175 = 9633,
                  F1501 = 12299, F1847 = 15137, F1961 = 16069, F2053 = 16819, F2562 = 20995, F3072 = 25172;

// (a, b) in every pair of 16-bit lanes: pmaddwd of interleaved (x, y) gives x*a + y*b.
inline __m128i Pair(int a, int b) {
  return _mm_set_epi16(static_cast<int16_t>(b), static_cast<int16_t>(a), static_cast<int16_t>(b), static_cast<int16_t>(a),
                       static_cast<int16_t>(b), static_cast<int16_t>(a), static_cast<int16_t>(b), static_cast<int16_t>(a));
}

template <int Shift>
__attribute__((always_inline)) inline __m128i Descale(__m128i lo, __m128i hi) {
  const __m128i round = _mm_set1_epi32(1 << (Shift - 1));
  lo = _mm_srai_epi32(_mm_add_epi32(lo, round), Shift);
  hi = _mm_srai_epi32(_mm_add_epi32(hi, round), Shift);
  return _mm_packs_epi32(lo, hi);
}

// One 1-D pass across the eight registers (the transform runs along the register index).
template <bool First>
__attribute__((always_inline)) inline void IslowPass(__m128i* d) {
  constexpr int kShift = First ? kConstBits - kPass1Bits : kConstBits + kPass1Bits;
  __m128i tmp0 = _mm_add_epi16(d[0], d[7]);
  __m128i tmp7 = _mm_sub_epi16(d[0], d[7]);
  __m128i tmp1 = _mm_add_epi16(d[1], d[6]);
  __m128i tmp6 = _mm_sub_epi16(d[1], d[6]);
  __m128i tmp2 = _mm_add_epi16(d[2], d[5]);
  __m128i tmp5 = _mm_sub_epi16(d[2], d[5]);
  __m128i tmp3 = _mm_add_epi16(d[3], d[4]);
  __m128i tmp4 = _mm_sub_epi16(d[3], d[4]);

  // Even part.
  __m128i tmp10 = _mm_add_epi16(tmp0, tmp3);
  __m128i tmp13 = _mm_sub_epi16(tmp0, tmp3);
  __m128i tmp11 = _mm_add_epi16(tmp1, tmp2);
  __m128i tmp12 = _mm_sub_epi16(tmp1, tmp2);
  if (First) {
    d[0] = _mm_slli_epi16(_mm_add_epi16(tmp10, tmp11), kPass1Bits);
    d[4] = _mm_slli_epi16(_mm_sub_epi16(tmp10, tmp11), kPass1Bits);
  } else {
    const __m128i round = _mm_set1_epi16(1 << (kPass1Bits - 1));
    d[0] = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(tmp10, tmp11), round), kPass1Bits);
    d[4] = _mm_srai_epi16(_mm_add_epi16(_mm_sub_epi16(tmp10, tmp11), round), kPass1Bits);
  }
  __m128i lo = _mm_unpacklo_epi16(tmp13, tmp12);
  __m128i hi = _mm_unpackhi_epi16(tmp13, tmp12);
  const __m128i k2 = Pair(F0541 + F0765, F0541);
  const __m128i k6 = Pair(F0541, F0541 - F1847);
  d[2] = Descale<kShift>(_mm_madd_epi16(lo, k2), _mm_madd_epi16(hi, k2));
  d[6] = Descale<kShift>(_mm_madd_epi16(lo, k6), _mm_madd_epi16(hi, k6));

  // Odd part.
  __m128i z3 = _mm_add_epi16(tmp4, tmp6);
  __m128i z4 = _mm_add_epi16(tmp5, tmp7);
  __m128i zlo = _mm_unpacklo_epi16(z3, z4);
  __m128i zhi = _mm_unpackhi_epi16(z3, z4);
  const __m128i kz3 = Pair(F1175 - F1961, F1175);
  const __m128i kz4 = Pair(F1175, F1175 - F0390);
  __m128i z3lo = _mm_madd_epi16(zlo, kz3), z3hi = _mm_madd_epi16(zhi, kz3);
  __m128i z4lo = _mm_madd_epi16(zlo, kz4), z4hi = _mm_madd_epi16(zhi, kz4);

  __m128i alo = _mm_unpacklo_epi16(tmp4, tmp7);
  __m128i ahi = _mm_unpackhi_epi16(tmp4, tmp7);
  const __m128i k7 = Pair(F0298 - F0899, -F0899);
  const __m128i k1 = Pair(-F0899, F1501 - F0899);
  d[7] = Descale<kShift>(_mm_add_epi32(_mm_madd_epi16(alo, k7), z3lo), _mm_add_epi32(_mm_madd_epi16(ahi, k7), z3hi));
  d[1] = Descale<kShift>(_mm_add_epi32(_mm_madd_epi16(alo, k1), z4lo), _mm_add_epi32(_mm_madd_epi16(ahi, k1), z4hi));

  __m128i blo = _mm_unpacklo_epi16(tmp5, tmp6);
  __m128i bhi = _mm_unpackhi_epi16(tmp5, tmp6);
  const __m128i k5 = Pair(F2053 - F2562, -F2562);
  const __m128i k3 = Pair(-F2562, F3072 - F2562);
  d[5] = Descale<kShift>(_mm_add_epi32(_mm_madd_epi16(blo, k5), z4lo), _mm_add_epi32(_mm_madd_epi16(bhi, k5), z4hi));
  d[3] = Descale<kShift>(_mm_add_epi32(_mm_madd_epi16(blo, k3), z3lo), _mm_add_epi32(_mm_madd_epi16(bhi, k3), z3hi));
}

__attribute__((always_inline)) inline void Transpose8x8(__m128i* r) {
  __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// r[0..7]: rows of level-shifted samples. Output r[h] holds horizontal frequency h, lane v
// the vertical frequency v (position h * 8 + v), as the quantiser expects.
__attribute__((always_inline)) inline void FdctInt(__m128i* r) {
  IslowPass<true>(r);
  Transpose8x8(r);
  IslowPass<false>(r);
}

__attribute__((always_inline)) inline void LoadLumaInt(const uint8_t* const* rows, uint32_t x, __m128i* r) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i center = _mm_set1_epi16(128);
  for (int i = 0; i < 8; ++i) {
    __m128i v = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[i] + x)), zero);
    r[i] = _mm_sub_epi16(v, center);
  }
}

__attribute__((always_inline)) inline void LoadChromaInt(const uint8_t* const* rows, uint32_t x, __m128i* cb, __m128i* cr) {
  const __m128i lowMask = _mm_set1_epi16(0x00FF);
  const __m128i center = _mm_set1_epi16(128);
  for (int i = 0; i < 8; ++i) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[i] + x));
    cr[i] = _mm_sub_epi16(_mm_and_si128(v, lowMask), center);
    cb[i] = _mm_sub_epi16(_mm_srli_epi16(v, 8), center);
  }
}

// Quantises the transformed block (kept in position order in q); returns the mask of
// non-zero AC coefficients, bit k for zig-zag position k.
__attribute__((always_inline)) inline uint64_t QuantizeInt(const __m128i* r, const BlockTables& t, int16_t* q) {
  // Baseline AC values have at most 10 bits; DC is limited when it is coded.
  const __m128 lim = _mm_set1_ps(1023.0f);
  const __m128 nlim = _mm_set1_ps(-1023.0f);
  const __m128i zero = _mm_setzero_si128();
  uint32_t nonzero[2];
#pragma GCC unroll 4
  for (int h = 0; h < 8; h += 2) {
    __m128i rows[2];
#pragma GCC unroll 2
    for (int i = 0; i < 2; ++i) {
      __m128i x = r[h + i];
      __m128 a = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16));
      __m128 b = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16));
      a = _mm_mul_ps(a, _mm_load_ps(t.recip + (h + i) * 8));
      b = _mm_mul_ps(b, _mm_load_ps(t.recip + (h + i) * 8 + 4));
      a = (h + i) == 0 ? _mm_max_ps(_mm_min_ps(a, _mm_setr_ps(2047.0f, 1023.0f, 1023.0f, 1023.0f)),
                                    _mm_setr_ps(-2047.0f, -1023.0f, -1023.0f, -1023.0f))
                       : _mm_max_ps(_mm_min_ps(a, lim), nlim);
      b = _mm_max_ps(_mm_min_ps(b, lim), nlim);
      rows[i] = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
      _mm_store_si128(reinterpret_cast<__m128i*>(q + (h + i) * 8), rows[i]);
    }
    __m128i z = _mm_packs_epi16(_mm_cmpeq_epi16(rows[0], zero), _mm_cmpeq_epi16(rows[1], zero));
    uint32_t m = ~static_cast<uint32_t>(_mm_movemask_epi8(z)) & 0xFFFF;
    if (h % 4 == 0) nonzero[h / 4] = m;
    else nonzero[h / 4] |= m << 16;
  }
  uint32_t lo = 0, hi = 0;
#pragma GCC unroll 2
  for (int w = 0; w < 2; ++w) {
#pragma GCC unroll 4
    for (int b = 0; b < 4; ++b) {
      uint32_t byte = (nonzero[w] >> (8 * b)) & 0xFF;
      lo |= kZzMasks.lo[w * 4 + b][byte];
      hi |= kZzMasks.hi[w * 4 + b][byte];
    }
  }
  lo &= ~1u;  // DC is coded apart
  return (static_cast<uint64_t>(hi) << 32) | lo;
}

// Codes one block. The bit writer's state is held in locals for the block so that it
// can live in registers.
struct BlockCoder {
  static inline void Encode(BitWriter& bw, const int16_t* q, uint64_t nz, int& lastDc, const HuffTable& dc,
                            const HuffTable& ac) {
    uint32_t buf = bw.buf_;
    int free = bw.free_;
    uint8_t* p = bw.p_;
    auto put = [&](uint32_t bits, int len) __attribute__((always_inline)) {
      free -= len;
      if (__builtin_expect(free >= 0, 1)) {
        buf = (buf << len) | bits;
        return;
      }
      uint32_t w = (buf << (len + free)) | (bits >> -free);
      uint32_t inv = ~w;
      if (__builtin_expect(((inv - 0x01010101u) & ~inv & 0x80808080u) == 0, 1)) {
        uint32_t be = __builtin_bswap32(w);
        std::memcpy(p, &be, 4);
        p += 4;
      } else {
        for (int s = 24; s >= 0; s -= 8) {
          uint8_t b = static_cast<uint8_t>(w >> s);
          *p++ = b;
          if (b == 0xFF) *p++ = 0;
        }
      }
      free += 32;
      buf = bits;
    };

    int dcv = std::clamp<int>(q[0], -1024, 1023);
    int diff = dcv - lastDc;
    lastDc = dcv;
    int sign = diff >> 31;
    int nbits = BitLength(static_cast<uint32_t>((diff ^ sign) - sign));
    uint32_t vbits = static_cast<uint32_t>(diff + sign) & ((1u << nbits) - 1);
    put((static_cast<uint32_t>(dc.code[nbits]) << nbits) | vbits, dc.size[nbits] + nbits);

    int prev = 0;
    // Two 32-bit halves: i386 has no single-instruction 64-bit bit scan.
    for (int half = 0; half < 2; ++half) {
      uint32_t m = half ? static_cast<uint32_t>(nz >> 32) : static_cast<uint32_t>(nz);
      const int base = half * 32;
      while (m) {
        int k = base + __builtin_ctz(m);
        m &= m - 1;
        int run = k - prev - 1;
        prev = k;
        while (__builtin_expect(run > 15, 0)) {
          put(ac.code[0xF0], ac.size[0xF0]);
          run -= 16;
        }
        int v = q[kZzPos.pos[k]];  // AC values were limited to +-1023 when quantised
        int sg = v >> 31;
        int nb = BitLength(static_cast<uint32_t>((v ^ sg) - sg));
        uint32_t bits = static_cast<uint32_t>(v + sg) & ((1u << nb) - 1);
        int sym = (run << 4) | nb;
        put((static_cast<uint32_t>(ac.code[sym]) << nb) | bits, ac.size[sym] + nb);
      }
    }
    if (prev != 63) put(ac.code[0x00], ac.size[0x00]);
    bw.buf_ = buf;
    bw.free_ = free;
    bw.p_ = p;
  }
};

inline void EncodeBlock(BitWriter& bw, const int16_t* coef, uint64_t nz, int& lastDc, const HuffTable& dc,
                        const HuffTable& ac) {
  BlockCoder::Encode(bw, coef, nz, lastDc, dc, ac);
}

// ---- Marker writing ----

void Put16(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v >> 8));
  o.push_back(static_cast<uint8_t>(v));
}

void WriteDht(std::vector<uint8_t>& o, int cls, int id, const uint8_t bits[16], const uint8_t* vals, int n) {
  o.push_back(0xFF);
  o.push_back(0xC4);
  Put16(o, static_cast<uint32_t>(2 + 1 + 16 + n));
  o.push_back(static_cast<uint8_t>((cls << 4) | id));
  o.insert(o.end(), bits, bits + 16);
  o.insert(o.end(), vals, vals + n);
}

void BuildBlockTables(const uint8_t quant[64], BlockTables& t) {
  for (int pos = 0; pos < 64; ++pos) {
    int h = pos / 8, v = pos % 8;  // output position (h, v) holds natural coefficient (v, h)
    int nat = v * 8 + h;
    t.recip[pos] = 1.0f / (static_cast<float>(quant[nat]) * 8.0f);
  }
}

bool Fail(std::string* why, const std::string& what) {
  if (why) *why = what;
  return false;
}

}  // namespace

void JpegEncoder::QuantTable(int quality, int component, uint8_t out[64]) {
  quality = std::clamp(quality, 1, 100);
  int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
  const uint8_t* base = component == 0 ? kLumaQuant : kChromaQuant;
  for (int i = 0; i < 64; ++i) {
    int q = (base[i] * scale + 50) / 100;
    out[i] = static_cast<uint8_t>(std::clamp(q, 1, 255));
  }
}

JpegStatus JpegEncoder::Validate(const Nv21Frame& f, const Options& opt, std::string* why) {
  auto bad = [&](const std::string& w) {
    Fail(why, w);
    return JpegStatus::kBadArgument;
  };
  if (!f.y || !f.vu) return bad("frame without pixel data");
  if (f.width == 0 || f.height == 0) return bad("frame size " + std::to_string(f.width) + "x" + std::to_string(f.height) + " is empty");
  if ((f.width & 1) || (f.height & 1)) return bad("NV21 frame size " + std::to_string(f.width) + "x" + std::to_string(f.height) + " is odd");
  if (f.width > kMaxDimension || f.height > kMaxDimension) return bad("frame larger than 65535 pixels on a side");
  if (f.yStride < f.width || f.vuStride < f.width) return bad("row stride shorter than the frame width");
  if (static_cast<uint64_t>(f.yStride) * f.height + static_cast<uint64_t>(f.vuStride) * (f.height / 2) > kMaxFrameBytes) {
    return bad("frame of " + std::to_string(f.width) + "x" + std::to_string(f.height) + " larger than 2 GB");
  }
  if (opt.quality < 1 || opt.quality > 100) return bad("quality " + std::to_string(opt.quality) + " outside 1..100");
  if (!opt.crop.IsEmpty()) {
    const CropRect& c = opt.crop;
    if (c.left < 0 || c.top < 0 || c.right < c.left || c.bottom < c.top ||
        static_cast<uint32_t>(c.right) >= f.width || static_cast<uint32_t>(c.bottom) >= f.height) {
      return bad("crop (" + std::to_string(c.left) + "," + std::to_string(c.top) + "," + std::to_string(c.right) +
                 "," + std::to_string(c.bottom) + ") outside the " + std::to_string(f.width) + "x" +
                 std::to_string(f.height) + " frame");
    }
  }
  if (opt.app1 && (opt.app1Size < 4 || opt.app1Size > 65537 || opt.app1[0] != 0xFF || opt.app1[1] != 0xE1)) {
    return bad("APP1 segment malformed");
  }
  return JpegStatus::kOk;
}

JpegStatus JpegEncoder::Encode(const Nv21Frame& f, const Options& opt, std::vector<uint8_t>& out, std::string* why) {
  out.clear();
  JpegStatus st = Validate(f, opt, why);
  if (st != JpegStatus::kOk) return st;

  const uint32_t x0 = opt.crop.IsEmpty() ? 0 : static_cast<uint32_t>(opt.crop.left);
  const uint32_t y0 = opt.crop.IsEmpty() ? 0 : static_cast<uint32_t>(opt.crop.top);
  const uint32_t w = opt.crop.IsEmpty() ? f.width : static_cast<uint32_t>(opt.crop.right - opt.crop.left + 1);
  const uint32_t h = opt.crop.IsEmpty() ? f.height : static_cast<uint32_t>(opt.crop.bottom - opt.crop.top + 1);
  const uint32_t cx0 = x0 / 2, cy0 = y0 / 2;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;  // chroma samples that belong to the picture
  const uint32_t mcusX = (w + 15) / 16, mcusY = (h + 15) / 16;

  uint8_t qY[64], qC[64];
  QuantTable(opt.quality, 0, qY);
  QuantTable(opt.quality, 1, qC);
  BlockTables tabY, tabC;
  BuildBlockTables(qY, tabY);
  BuildBlockTables(qC, tabC);
  HuffTable dcY, dcC, acY, acC;
  BuildHuff(kDcLumaBits, kDcLumaVals, dcY);
  BuildHuff(kDcChromaBits, kDcChromaVals, dcC);
  BuildHuff(kAcLumaBits, kAcLumaVals, acY);
  BuildHuff(kAcChromaBits, kAcChromaVals, acC);

  try {
    // Headers.
    out.reserve(static_cast<size_t>(w) * h / 4 + 4096 + opt.app1Size);
    out.push_back(0xFF);
    out.push_back(0xD8);
    if (opt.app1) {
      out.insert(out.end(), opt.app1, opt.app1 + opt.app1Size);
    } else if (opt.jfifHeader) {
      static constexpr uint8_t kJfif[] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01,
                                          0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
      out.insert(out.end(), kJfif, kJfif + sizeof kJfif);
    }
    out.push_back(0xFF);
    out.push_back(0xDB);
    Put16(out, 2 + 2 * 65);
    out.push_back(0x00);
    for (int k = 0; k < 64; ++k) out.push_back(qY[kZigzag[k]]);
    out.push_back(0x01);
    for (int k = 0; k < 64; ++k) out.push_back(qC[kZigzag[k]]);
    static constexpr uint8_t kSofTail[] = {3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    out.push_back(0xFF);
    out.push_back(0xC0);
    Put16(out, 8 + 3 * 3);
    out.push_back(8);
    Put16(out, h);
    Put16(out, w);
    out.insert(out.end(), kSofTail, kSofTail + sizeof kSofTail);
    WriteDht(out, 0, 0, kDcLumaBits, kDcLumaVals, 12);
    WriteDht(out, 1, 0, kAcLumaBits, kAcLumaVals, 162);
    WriteDht(out, 0, 1, kDcChromaBits, kDcChromaVals, 12);
    WriteDht(out, 1, 1, kAcChromaBits, kAcChromaVals, 162);
    static constexpr uint8_t kSos[] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    out.insert(out.end(), kSos, kSos + sizeof kSos);

    // Worst case per MCU: 6 blocks of 64 codes of at most 26 bits, every byte stuffed.
    constexpr size_t kMcuWorst = 6 * (64 * 26 / 8 + 8) * 2;
    size_t headerEnd = out.size();
    size_t cap = headerEnd + std::max<size_t>(static_cast<size_t>(w) * h / 3, 64 * 1024);
    out.resize(cap);
    BitWriter bw(out.data() + headerEnd);

    alignas(16) uint8_t edgeY[16 * 16];
    alignas(16) uint8_t edgeC[8 * 16];
    alignas(16) int16_t coef[64];
    __m128i iblk[8], iblk2[8];
    int dcYlast = 0, dcCbLast = 0, dcCrLast = 0;
    const uint8_t* yRows[16];
    const uint8_t* cRows[8];
    const uint8_t* yEdgeRows[16];
    const uint8_t* cEdgeRows[8];
    for (int i = 0; i < 16; ++i) yEdgeRows[i] = edgeY + i * 16;
    for (int i = 0; i < 8; ++i) cEdgeRows[i] = edgeC + i * 16;
    // Full MCUs read 16 luma and 16 chroma bytes from the frame itself; a partial last one
    // (or one whose 16-byte chroma load would cross the frame's right edge) is copied out.
    const uint32_t directMcus = std::min<uint32_t>(w / 16, (f.width - x0) / 16);

    for (uint32_t my = 0; my < mcusY; ++my) {
      for (int i = 0; i < 16; ++i) {
        uint32_t r = std::min(my * 16 + i, h - 1);
        yRows[i] = f.y + static_cast<size_t>(y0 + r) * f.yStride + x0;
      }
      for (int i = 0; i < 8; ++i) {
        uint32_t r = std::min(my * 8 + i, ch - 1);
        cRows[i] = f.vu + static_cast<size_t>(cy0 + r) * f.vuStride + cx0 * 2;
      }
      for (uint32_t mx = 0; mx < mcusX; ++mx) {
        size_t used = static_cast<size_t>(bw.Position() - out.data());
        if (used + kMcuWorst > out.size()) {
          out.resize(out.size() * 2);
          bw.SetPosition(out.data() + used);
        }
        const uint8_t* const* yr = yRows;
        const uint8_t* const* cr = cRows;
        uint32_t xo = mx * 16;
        if (mx >= directMcus) {
          uint32_t validY = std::min<uint32_t>(16, w - mx * 16);
          uint32_t validC = std::min<uint32_t>(8, cw - mx * 8);
          for (int i = 0; i < 16; ++i) {
            const uint8_t* s = yRows[i] + mx * 16;
            std::memcpy(edgeY + i * 16, s, validY);
            std::memset(edgeY + i * 16 + validY, s[validY - 1], 16 - validY);
          }
          for (int i = 0; i < 8; ++i) {
            const uint8_t* s = cRows[i] + mx * 16;
            std::memcpy(edgeC + i * 16, s, validC * 2);
            for (uint32_t j = validC; j < 8; ++j) {
              edgeC[i * 16 + j * 2] = s[(validC - 1) * 2];
              edgeC[i * 16 + j * 2 + 1] = s[(validC - 1) * 2 + 1];
            }
          }
          yr = yEdgeRows;
          cr = cEdgeRows;
          xo = 0;
        }
        for (int b = 0; b < 4; ++b) {
          LoadLumaInt(yr + (b >> 1) * 8, xo + (b & 1) * 8, iblk);
          FdctInt(iblk);
          uint64_t nz = QuantizeInt(iblk, tabY, coef);
          EncodeBlock(bw, coef, nz, dcYlast, dcY, acY);
        }
        if (f.uFirst) {
          LoadChromaInt(cr, xo, iblk2, iblk);
        } else {
          LoadChromaInt(cr, xo, iblk, iblk2);
        }
        FdctInt(iblk);
        uint64_t nz = QuantizeInt(iblk, tabC, coef);
        EncodeBlock(bw, coef, nz, dcCbLast, dcC, acC);
        FdctInt(iblk2);
        nz = QuantizeInt(iblk2, tabC, coef);
        EncodeBlock(bw, coef, nz, dcCrLast, dcC, acC);
      }
    }
    size_t used = static_cast<size_t>(bw.Position() - out.data());
    if (used + 64 > out.size()) {
      out.resize(used + 64);
      bw.SetPosition(out.data() + used);
    }
    bw.Finish();
    used = static_cast<size_t>(bw.Position() - out.data());
    out.resize(used);
    out.push_back(0xFF);
    out.push_back(0xD9);
  } catch (const std::bad_alloc&) {
    out.clear();
    out.shrink_to_fit();
    Fail(why, "out of memory");
    return JpegStatus::kNoMemory;
  }
  return JpegStatus::kOk;
}

bool ScaleNv21(const Nv21Frame& src, const CropRect& crop, uint32_t dw, uint32_t dh, std::vector<uint8_t>& dst) {
  if (!src.y || !src.vu || src.width < 2 || src.height < 2 || (src.width & 1) || (src.height & 1)) return false;
  if (dw < 2 || dh < 2 || (dw & 1) || (dh & 1) || Nv21Frame::PackedSize(dw, dh) > JpegEncoder::kMaxFrameBytes) return false;
  uint32_t x0 = 0, y0 = 0, w = src.width, h = src.height;
  if (!crop.IsEmpty()) {
    if (crop.left < 0 || crop.top < 0 || crop.right < crop.left || crop.bottom < crop.top ||
        static_cast<uint32_t>(crop.right) >= src.width || static_cast<uint32_t>(crop.bottom) >= src.height) {
      return false;
    }
    x0 = static_cast<uint32_t>(crop.left);
    y0 = static_cast<uint32_t>(crop.top);
    w = static_cast<uint32_t>(crop.right - crop.left + 1);
    h = static_cast<uint32_t>(crop.bottom - crop.top + 1);
  }
  try {
    dst.assign(static_cast<size_t>(Nv21Frame::PackedSize(dw, dh)), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Each destination sample averages the source samples whose centres fall into it
  // (at least one, so upscaling repeats samples).
  auto span = [](uint32_t i, uint32_t n, uint32_t srcN, uint32_t& a, uint32_t& b) {
    a = static_cast<uint32_t>(static_cast<uint64_t>(i) * srcN / n);
    b = static_cast<uint32_t>(static_cast<uint64_t>(i + 1) * srcN / n);
    if (b <= a) b = a + 1;
    if (b > srcN) b = srcN;
    if (a >= b) a = b - 1;
  };
  uint8_t* dy = dst.data();
  for (uint32_t y = 0; y < dh; ++y) {
    uint32_t ya, yb;
    span(y, dh, h, ya, yb);
    for (uint32_t x = 0; x < dw; ++x) {
      uint32_t xa, xb;
      span(x, dw, w, xa, xb);
      uint32_t sum = 0;
      for (uint32_t sy = ya; sy < yb; ++sy) {
        const uint8_t* row = src.y + static_cast<size_t>(y0 + sy) * src.yStride + x0;
        for (uint32_t sx = xa; sx < xb; ++sx) sum += row[sx];
      }
      uint32_t n = (yb - ya) * (xb - xa);
      dy[static_cast<size_t>(y) * dw + x] = static_cast<uint8_t>((sum + n / 2) / n);
    }
  }
  uint8_t* dvu = dst.data() + static_cast<size_t>(dw) * dh;
  uint32_t cw = (w + 1) / 2, chh = (h + 1) / 2;
  uint32_t cx0 = x0 / 2, cy0 = y0 / 2;
  for (uint32_t y = 0; y < dh / 2; ++y) {
    uint32_t ya, yb;
    span(y, dh / 2, chh, ya, yb);
    for (uint32_t x = 0; x < dw / 2; ++x) {
      uint32_t xa, xb;
      span(x, dw / 2, cw, xa, xb);
      uint32_t sv = 0, su = 0;
      for (uint32_t sy = ya; sy < yb; ++sy) {
        const uint8_t* row = src.vu + static_cast<size_t>(cy0 + sy) * src.vuStride + cx0 * 2;
        for (uint32_t sx = xa; sx < xb; ++sx) {
          sv += row[sx * 2];
          su += row[sx * 2 + 1];
        }
      }
      uint32_t n = (yb - ya) * (xb - xa);
      dvu[static_cast<size_t>(y) * dw + x * 2] = static_cast<uint8_t>((sv + n / 2) / n);
      dvu[static_cast<size_t>(y) * dw + x * 2 + 1] = static_cast<uint8_t>((su + n / 2) / n);
    }
  }
  return true;
}

}  // namespace orbhost::services
