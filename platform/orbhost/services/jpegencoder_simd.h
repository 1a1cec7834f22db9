// The JPEG encoder's inner loop (transform, quantisation, Huffman coding of one MCU) in
// several instruction sets, chosen at run time. Every path gives the same bytes.
#pragma once

#include <cstdint>

#include "jpegencoder.h"

namespace orbhost::services::jpegsimd {

// Integer quantisation by reciprocal: for the divisor d (8 times the table value, as the
// transform leaves its outputs 8 times too large), |x| / d rounded is
// ((|x| + corr) * recip >> 16) * scale >> 16. Kept in the transform's output order, each
// row of eight twice (the 256-bit path quantises two blocks at once).
constexpr int kDivRow = 16;
struct alignas(32) QuantDivisors {
  uint16_t recip[8 * kDivRow];
  uint16_t corr[8 * kDivRow];
  uint16_t scale[8 * kDivRow];
};

// One Huffman table as the coder uses it, by symbol: the code shifted left by the number of
// value bits that follow it (the symbol's low four bits), then by 5 more, with the length
// of code and value bits together in those low 5 bits. A coded value is then one OR away:
// entry | bits << 5.
struct HuffCodes {
  uint32_t entry[256];
};

struct alignas(32) McuTables {
  QuantDivisors quant[2];  // 0 luma, 1 chroma
  HuffCodes dc[2], ac[2];
};

// Builds the divisors of one quantisation table given in natural (row-major) order.
void BuildQuantDivisors(const uint8_t quant[64], QuantDivisors& d);

// Entropy-coded output with 0xFF byte stuffing; the caller keeps room for one MCU ahead.
struct BitState {
  uint32_t buf = 0;  // pending bits in the low 32 - free bits (bits above are already out)
  int free = 32;
  uint8_t* p = nullptr;
};

// One MCU of 4:2:0: 16 luma rows and 8 chroma rows, read from column x on (16 luma
// bytes and 16 interleaved chroma bytes per row).
struct McuSource {
  const uint8_t* const* yRows;
  const uint8_t* const* cRows;
  uint32_t x;
  bool uFirst;
};

using McuEncoder = void (*)(const McuSource& src, const McuTables& t, int lastDc[3], BitState& bits);

// The encoder of a path, or null when this processor lacks it. kBest picks the fastest.
McuEncoder EncoderFor(JpegKernels kernels);

// Pads the last byte with one bits and writes out what is left.
void FinishBits(BitState& bits);

}  // namespace orbhost::services::jpegsimd
