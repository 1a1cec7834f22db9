#include "jpegencoder_simd.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#define JPEG_INLINE __attribute__((always_inline)) inline

namespace orbhost::services::jpegsimd {

namespace {

// Natural index of each zig-zag position.
constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The transform leaves coefficient (row v, column h) in output row h, lane v.
constexpr int OutputRow(int nat) { return nat % 8; }
constexpr int OutputLane(int nat) { return nat / 8; }

// Where each zig-zag coefficient is stored, for rows of 8 and of 16 values.
struct ZigzagPositions {
  uint8_t pos[64];
};
constexpr ZigzagPositions MakeZigzagPositions(int stride) {
  ZigzagPositions z{};
  for (int k = 0; k < 64; ++k) z.pos[k] = static_cast<uint8_t>(OutputRow(kZigzag[k]) * stride + OutputLane(kZigzag[k]));
  return z;
}
constexpr ZigzagPositions kZzPos8Table = MakeZigzagPositions(8);
constexpr ZigzagPositions kZzPos16Table = MakeZigzagPositions(16);
const uint8_t* const kZzPos8 = kZzPos8Table.pos;
const uint8_t* const kZzPos16 = kZzPos16Table.pos;

// Non-zero masks: for each output row and each byte of "non-zero" lane bits, the same
// coefficients as bits of zig-zag order, so that the block never has to be reordered.
struct ZigzagMasks {
  uint64_t bits[8][256];
};
constexpr ZigzagMasks MakeZigzagMasks() {
  ZigzagMasks m{};
  int zzOf[8][8] = {};
  for (int k = 0; k < 64; ++k) zzOf[OutputRow(kZigzag[k])][OutputLane(kZigzag[k])] = k;
  for (int r = 0; r < 8; ++r) {
    for (int b = 0; b < 256; ++b) {
      for (int j = 0; j < 8; ++j) {
        if (b & (1 << j)) m.bits[r][b] |= uint64_t{1} << zzOf[r][j];
      }
    }
  }
  return m;
}
constexpr ZigzagMasks kZzMasks = MakeZigzagMasks();

// rowMasks[j] holds the lane bits of rows 2j (low byte) and 2j + 1 (high byte) of one
// block at bit `shift`. Returns the non-zero AC coefficients, bit k for zig-zag position k.
JPEG_INLINE uint64_t ZigzagMask(const uint32_t* rowMasks, uint32_t keep, int shift) {
  uint64_t nz = 0;
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    uint32_t m = (rowMasks[j] & keep) >> shift;
    nz |= kZzMasks.bits[2 * j][m & 0xFF] | kZzMasks.bits[2 * j + 1][m >> 8];
  }
  return nz & ~uint64_t{1};  // DC is coded apart
}

// Largest magnitude by output position: AC values of baseline have at most 10 bits; DC
// (output row 0, lane 0) is limited again when it is coded.
struct Limits {
  alignas(32) uint16_t v[8 * kDivRow];
};
constexpr Limits MakeLimits() {
  Limits l{};
  for (int i = 0; i < 8 * kDivRow; ++i) l.v[i] = (i % 8 == 0 && i / kDivRow == 0) ? 2047 : 1023;
  return l;
}
constexpr Limits kLimitTable = MakeLimits();
const uint16_t* const kLimits = kLimitTable.v;

inline int BitLength(uint32_t v) { return v ? 32 - __builtin_clz(v) : 0; }

// Inserts the zero byte that must follow every 0xFF of entropy-coded data in [begin, end);
// returns the new end. The caller keeps room for one byte more per byte, and 16 readable
// bytes past `end` (the last look is a whole register wide).
inline uint8_t* StuffBytes(uint8_t* begin, uint8_t* end) {
  const __m128i ff = _mm_set1_epi8(-1);
  uint8_t* first = begin;
  for (;; first += 16) {
    if (first >= end) return end;
    uint32_t m = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first)), ff)));
    if (end - first < 16) m &= (1u << (end - first)) - 1;
    if (m) {
      first += __builtin_ctz(m);
      break;
    }
  }
  size_t count = 0;
  for (const uint8_t* q = first; q != end; ++q) count += *q == 0xFF;
  uint8_t* dst = end + count;
  for (uint8_t* src = end; src != first;) {
    --src;
    if (*src == 0xFF) *--dst = 0;
    *--dst = *src;
  }
  return end + count;
}

// Appends the block's codes (code << 5 | length) to the output through a 32-bit bit
// buffer, then stuffs the bytes written. (A 64-bit buffer, measured, costs i386 a third
// more time at high quality: its shifts take register pairs.) Each path calls it through
// an out-of-line copy: alone, its few variables stay in registers. No branch on whether
// the buffer fills: the word that would fill it is stored every time, and the pointer
// moves on only when it did.
JPEG_INLINE void PackCodes(const uint32_t* codes, int n, BitState& bs) {
  uint32_t acc = bs.buf;
  uint32_t used = 32 - bs.free;
  uint8_t* const start = bs.p;
  uint8_t* p = start;
  for (const uint32_t* c = codes; c != codes + n; ++c) {
    uint32_t len = *c & 31, code = *c >> 5;
    uint32_t total = used + len;
    // Meaningful only when the buffer fills: the shifts are then in range.
    uint32_t word = (acc << ((32 - used) & 31)) | (code >> ((total - 32) & 31));
    uint32_t be = __builtin_bswap32(word);
    std::memcpy(p, &be, 4);
    p += (total >> 3) & 4;
    used = total & 31;
    acc = (acc << len) | code;
  }
  bs.buf = acc;
  bs.free = 32 - used;
  bs.p = StuffBytes(start, p);
}

// Lists one block's Huffman codes, value bits appended, as code << 5 | length; returns
// their number. q holds the quantised coefficients, zzPos says where each zig-zag position
// is, nz which AC coefficients are non-zero. Prepared: the quantiser has done the
// per-coefficient work: q holds each value plus its sign (the low bits are then the
// value's code bits) and nbs each value's bit length.
template <bool Prepared = false>
JPEG_INLINE int GatherCodes(const int16_t* q, const uint8_t* zzPos, uint64_t nz, int& lastDc, const HuffCodes& dc,
                            const HuffCodes& ac, uint32_t* codes, const int16_t* nbs = nullptr) {
  int n = 0;
  auto add = [&](uint32_t entry, uint32_t bits) __attribute__((always_inline)) { codes[n++] = entry | (bits << 5); };
  int dcv = std::clamp<int>(Prepared && q[0] < 0 ? q[0] + 1 : q[0], -1024, 1023);
  int diff = dcv - lastDc;
  lastDc = dcv;
  int sign = diff >> 31;
  int nbits = BitLength(static_cast<uint32_t>((diff ^ sign) - sign));
  uint32_t vbits = static_cast<uint32_t>(diff + sign) & ((1u << nbits) - 1);
  add(dc.entry[nbits], vbits);

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
        add(ac.entry[0xF0], 0);
        run -= 16;
      }
      // AC values were limited to +-1023 when quantised.
      int nb;
      uint32_t bits;
      if (Prepared) {
        nb = nbs[zzPos[k]];
        bits = static_cast<uint32_t>(q[zzPos[k]]) & ((1u << nb) - 1);
      } else {
        int v = q[zzPos[k]];
        int sg = v >> 31;
        nb = BitLength(static_cast<uint32_t>((v ^ sg) - sg));
        bits = static_cast<uint32_t>(v + sg) & ((1u << nb) - 1);
      }
      int sym = (run << 4) | nb;
      add(ac.entry[sym], bits);
    }
  }
  if (prev != 63) add(ac.entry[0x00], 0);
  return n;
}

// Codes of one block at most (each at most 27 bits of code, so that the length fits beside).
constexpr int kMaxBlockCodes = 1 + 63 + 3 + 1;  // DC, AC, runs of 16 zeros, end of block

// Codes one block: first its codes (value bits appended), then the packing; each loop
// alone fits i386's few registers.
template <bool Prepared = false, class Pack>
JPEG_INLINE void CodeBlock(const int16_t* q, const uint8_t* zzPos, uint64_t nz, int& lastDc, const HuffCodes& dc,
                           const HuffCodes& ac, BitState& bs, Pack pack, const int16_t* nbs = nullptr) {
  uint32_t codes[kMaxBlockCodes];
  int n = GatherCodes<Prepared>(q, zzPos, nz, lastDc, dc, ac, codes, nbs);
  pack(codes, n, bs);
}

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
constexpr int F0298 = 2446, F0390 = 3196, F0541 = 4433, F0765 = 6270, F0899 = 7373, F1175 = 9633, F1501 = 12299,
              F1847 = 15137, F1961 = 16069, F2053 = 16819, F2562 = 20995, F3072 = 25172;

// ---- The portable path: the same arithmetic as the vector code, lane by lane (16-bit
// sums wrap, 32-bit results saturate to 16 bits as the vector packs do) ----

namespace scalar {

inline int16_t W16(int v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
inline int16_t Sat16(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }

template <bool First>
void DctPass(int16_t d[8][8]) {
  constexpr int kShift = First ? kConstBits - kPass1Bits : kConstBits + kPass1Bits;
  auto descale = [](int v) { return Sat16((v + (1 << (kShift - 1))) >> kShift); };
  for (int l = 0; l < 8; ++l) {
    int tmp0 = W16(d[0][l] + d[7][l]), tmp7 = W16(d[0][l] - d[7][l]);
    int tmp1 = W16(d[1][l] + d[6][l]), tmp6 = W16(d[1][l] - d[6][l]);
    int tmp2 = W16(d[2][l] + d[5][l]), tmp5 = W16(d[2][l] - d[5][l]);
    int tmp3 = W16(d[3][l] + d[4][l]), tmp4 = W16(d[3][l] - d[4][l]);
    int tmp10 = W16(tmp0 + tmp3), tmp13 = W16(tmp0 - tmp3);
    int tmp11 = W16(tmp1 + tmp2), tmp12 = W16(tmp1 - tmp2);
    if (First) {
      d[0][l] = W16(W16(tmp10 + tmp11) * (1 << kPass1Bits));
      d[4][l] = W16(W16(tmp10 - tmp11) * (1 << kPass1Bits));
    } else {
      const int round = 1 << (kPass1Bits - 1);
      d[0][l] = static_cast<int16_t>(W16(W16(tmp10 + tmp11) + round) >> kPass1Bits);
      d[4][l] = static_cast<int16_t>(W16(W16(tmp10 - tmp11) + round) >> kPass1Bits);
    }
    d[2][l] = descale(tmp13 * (F0541 + F0765) + tmp12 * F0541);
    d[6][l] = descale(tmp13 * F0541 + tmp12 * (F0541 - F1847));
    int z3 = W16(tmp4 + tmp6), z4 = W16(tmp5 + tmp7);
    int z3m = z3 * (F1175 - F1961) + z4 * F1175;
    int z4m = z3 * F1175 + z4 * (F1175 - F0390);
    d[7][l] = descale(tmp4 * (F0298 - F0899) + tmp7 * -F0899 + z3m);
    d[1][l] = descale(tmp4 * -F0899 + tmp7 * (F1501 - F0899) + z4m);
    d[5][l] = descale(tmp5 * (F2053 - F2562) + tmp6 * -F2562 + z4m);
    d[3][l] = descale(tmp5 * -F2562 + tmp6 * (F3072 - F2562) + z3m);
  }
}

void Dct(int16_t d[8][8]) {
  DctPass<true>(d);
  for (int i = 0; i < 8; ++i) {
    for (int j = i + 1; j < 8; ++j) std::swap(d[i][j], d[j][i]);
  }
  DctPass<false>(d);
}

__attribute__((noinline)) void PackScalar(const uint32_t* codes, int n, BitState& bs) { PackCodes(codes, n, bs); }

void Quantize(const int16_t d[8][8], const QuantDivisors& div, int16_t* q, uint32_t rowMasks[4]) {
  std::memset(rowMasks, 0, 4 * sizeof(uint32_t));
  for (int h = 0; h < 8; ++h) {
    for (int v = 0; v < 8; ++v) {
      int x = d[h][v];
      int i = h * kDivRow + v;
      uint32_t a = static_cast<uint16_t>((x < 0 ? -x : x) + div.corr[i]);
      a = (a * div.recip[i]) >> 16;
      a = (a * div.scale[i]) >> 16;
      a = std::min<uint32_t>(a, kLimits[i]);
      int r = x < 0 ? -static_cast<int>(a) : static_cast<int>(a);
      q[h * 8 + v] = static_cast<int16_t>(r);
      if (r) rowMasks[h / 2] |= 1u << ((h & 1) * 8 + v);
    }
  }
}

void CodeSamples(int16_t d[8][8], const QuantDivisors& div, int& lastDc, const HuffCodes& dc, const HuffCodes& ac,
                 BitState& bits) {
  int16_t q[64];
  uint32_t rm[4];
  Dct(d);
  Quantize(d, div, q, rm);
  CodeBlock(q, kZzPos8, ZigzagMask(rm, 0xFFFF, 0), lastDc, dc, ac, bits, PackScalar);
}

void EncodeMcu(const McuSource& s, const McuTables& t, int lastDc[3], BitState& bits) {
  int16_t d[8][8];
  for (int b = 0; b < 4; ++b) {
    for (int i = 0; i < 8; ++i) {
      const uint8_t* row = s.yRows[(b >> 1) * 8 + i] + s.x + (b & 1) * 8;
      for (int j = 0; j < 8; ++j) d[i][j] = static_cast<int16_t>(row[j] - 128);
    }
    CodeSamples(d, t.quant[0], lastDc[0], t.dc[0], t.ac[0], bits);
  }
  for (int c = 0; c < 2; ++c) {  // Cb, then Cr
    int offset = (c == 0) == s.uFirst ? 0 : 1;
    for (int i = 0; i < 8; ++i) {
      const uint8_t* row = s.cRows[i] + s.x;
      for (int j = 0; j < 8; ++j) d[i][j] = static_cast<int16_t>(row[2 * j + offset] - 128);
    }
    CodeSamples(d, t.quant[1], lastDc[1 + c], t.dc[1], t.ac[1], bits);
  }
}

}  // namespace scalar

namespace sse2 {
#define JPEG_AVX2 0
#include "jpegencoder_simd.inc"
#undef JPEG_AVX2
}  // namespace sse2

#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,lzcnt,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,lzcnt,popcnt")
#endif
namespace avx2 {
#define JPEG_AVX2 1
#include "jpegencoder_simd.inc"
#undef JPEG_AVX2
}  // namespace avx2
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
         __builtin_cpu_supports("popcnt");
}

}  // namespace

void BuildQuantDivisors(const uint8_t quant[64], QuantDivisors& d) {
  for (int nat = 0; nat < 64; ++nat) {
    uint32_t div = 8u * quant[nat];  // 8 .. 2040
    int s = 31 - __builtin_clz(div);
    uint32_t recip, scale;
    if ((div & (div - 1)) == 0) {
      // A power of two: halve here, shift the rest away below.
      recip = 1u << 15;
      scale = 1u << (16 - (s - 1));
    } else {
      recip = static_cast<uint32_t>(((1ull << (16 + s)) + div - 1) / div);  // 2^15 < recip < 2^16
      scale = 1u << (16 - s);
    }
    int i = OutputRow(nat) * kDivRow + OutputLane(nat);
    for (int copy = 0; copy < kDivRow; copy += 8) {
      d.recip[i + copy] = static_cast<uint16_t>(recip);
      d.corr[i + copy] = static_cast<uint16_t>(div / 2 - 1);
      d.scale[i + copy] = static_cast<uint16_t>(scale);
    }
  }
}

McuEncoder EncoderFor(JpegKernels kernels) {
  static const bool avx2 = HasAvx2();
  switch (kernels) {
    case JpegKernels::kBest:
      return avx2 ? avx2::EncodeMcu : sse2::EncodeMcu;
    case JpegKernels::kScalar:
      return scalar::EncodeMcu;
    case JpegKernels::kSse2:
      return sse2::EncodeMcu;
    case JpegKernels::kAvx2:
      return avx2 ? avx2::EncodeMcu : nullptr;
  }
  return nullptr;
}

void FinishBits(BitState& bs) {
  int used = 32 - bs.free;
  int pad = (8 - (used & 7)) & 7;
  uint64_t buf = (static_cast<uint64_t>(bs.buf) << pad) | ((1u << pad) - 1);
  for (int s = used + pad - 8; s >= 0; s -= 8) {
    uint8_t b = static_cast<uint8_t>(buf >> s);
    *bs.p++ = b;
    if (b == 0xFF) *bs.p++ = 0;
  }
  bs.buf = 0;
  bs.free = 32;
}

}  // namespace orbhost::services::jpegsimd
